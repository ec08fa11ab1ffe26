/* gui_private: what the interface's source files share: the metrics, the
 * icon registry, the builders of the two windows and their sync steps. */
#pragma once
#include "gui/gui.h"
#include "gui/i18n.h"
#include "plumaro_app.h"
#include "t_gui.h"

/* Window flags used by the interface: no title bar and not movable, and
 * with scrolling content. */
#define GUI_WIN_FIXED (T_GUI_WIN_NO_TITLEBAR | T_GUI_WIN_NO_MOVE)
#define GUI_WIN_FIXED_SCROLL (GUI_WIN_FIXED | T_GUI_WIN_SCROLLABLE)

/* Icons of the interface's buttons. */
enum {
    ICON_COLLAPSE = 0, ICON_UNDO = 1, ICON_REDO = 2, ICON_BRUSH = 3, ICON_ERASER = 4, ICON_SELECT = 5,
    ICON_CUT = 6, ICON_COPY = 7, ICON_PASTE = 8, ICON_FILL = 9, ICON_GRADIENT = 10, ICON_LASSO = 11,
    ICON_TEXT = 12, ICON_LINE = 13, ICON_CURVE = 14, ICON_RECTANGLE = 15, ICON_ELLIPSE = 16,
    ICON_TRIANGLE = 17, ICON_LAYER_UP = 19, ICON_LAYER_DOWN = 20, ICON_PRESET = 21, ICON_GRID = 25,
    ICON_SNAP = 26, ICON_DIAGONALS = 27, ICON_HIDE = 28, ICON_STAR = 29, ICON_PENTAGON = 30,
    ICON_HEXAGON = 31, ICON_ARROW = 32, ICON_NAVIGATE = 33,
};

/* Section fold bits in the settings' section flags. */
#define GUI_TOOLBAR_SECTION_BIT(i) (1u << (i))
#define GUI_PANEL_SECTION_BIT(i) (1u << (16 + (i)))

/* ---- gui.cpp ---- */
/* The metrics for a scale (raised to at least 0.5). */
GUI_METRICS _gui_metrics(float scale);
/* Gives a button its icon and tooltip; a registration past the 40th is skipped. */
void _gui_register_icon(PLUMARO_APP* app, int32_t widget, int icon, const char* tooltip);
/* Asks the next draw to rebuild the whole interface. */
void _gui_request_rebuild(PLUMARO_APP* app);
/* Marks the interface for drawing again and the frame for redrawing. */
void _gui_changed(PLUMARO_APP* app);
/* The style that paints a button in a colour, with white or black text by its lightness. */
T_GUI_STYLE _gui_swatch_style(ALLEGRO_COLOR colour);
/* Adds a label and a slider below it (step 1); returns the slider and moves *y to the next row. */
int32_t _gui_labelled_slider(PLUMARO_APP* app, int32_t win, T_GUI_SECTIONLIST* list, int section, const char* label,
                             float width, float* y, double min, double max, double value, const char* format,
                             T_GUI_SLIDER_CB callback);
/* Adds a widget to a section when the widget exists. */
void _gui_section_add(T_GUI_SECTIONLIST* list, int section, int32_t widget);
/* Commits the floating selection and the form being edited, in that order. */
void _gui_commit_pending(PLUMARO_APP* app);

/* ---- gui_toolbar.cpp ---- */
/* Inner width of the toolbar on a display of that width. */
float _gui_toolbar_inner_width(const GUI_METRICS* m, float display_w);
/* Builds the toolbar, as a side tab when collapsed; 1 or 0. */
int _build_toolbar(PLUMARO_APP* app);
/* Places Help and Exit below the sections and fits the window's height to them. */
void _gui_fit_toolbar(PLUMARO_APP* app);
/* The selected-swatch rule of the first build: the swatch equal to the brush colour, or -1. */
int _gui_swatch_of_brush(PLUMARO_APP* app);
/* Refills the palette combo box with the palette names. */
void _gui_fill_palette_combo(PLUMARO_APP* app);

/* ---- gui_layers.cpp ---- */
/* Width of the layer panel for a stored width on a display of that width. */
float _gui_panel_width(const GUI_METRICS* m, float stored, float display_w);
/* Builds the layer panel, as a side tab when collapsed; 1 or 0. */
int _build_layer_panel(PLUMARO_APP* app);
/* Sets the grid toggles and the grid size slider from the grid. */
void _gui_sync_grid(PLUMARO_APP* app);
