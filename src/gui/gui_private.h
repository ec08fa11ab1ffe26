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
/* Width a button needs to show `text` whole in the interface font: the text,
 * the toolkit's label padding on both sides and a little air. */
float _gui_text_room(PLUMARO_APP* app, const char* text);
/* Marks the interface for drawing again and the frame for redrawing. */
void _gui_changed(PLUMARO_APP* app);
/* The style that paints a button in a colour, with white or black text by its lightness. */
T_GUI_STYLE _gui_swatch_style(ALLEGRO_COLOR colour);
/* Adds a label and a slider over a range below it (step 1); returns the slider and moves *y to the next row. */
int32_t _gui_labelled_slider(PLUMARO_APP* app, int32_t win, T_GUI_SECTIONLIST* list, int section, const char* label,
                             float width, float* y, APP_RANGE range, double value, const char* format,
                             T_GUI_SLIDER_CB callback);
/* Adds a widget to a section when the widget exists. */
void _gui_section_add(T_GUI_SECTIONLIST* list, int section, int32_t widget);
/* The side tab a collapsed window folds to, at x, with the glyph that expands
 * it; the tab's window id, or -1. */
int32_t _gui_build_side_tab(PLUMARO_APP* app, const char* name, float x, const char* glyph, T_GUI_BUTTON_CB expand);
/* Commits the floating selection and the form being edited, in that order. */
void _gui_commit_pending(PLUMARO_APP* app);

/* ---- gui_commands.cpp ---- */
/* The commands a key, a button and the help share, in the help's order. */
typedef enum GUI_COMMAND_ID {
    GUI_CMD_SAVE, GUI_CMD_OPEN, GUI_CMD_EXPORT, GUI_CMD_UNDO, GUI_CMD_REDO, GUI_CMD_CUT, GUI_CMD_COPY,
    GUI_CMD_PASTE, GUI_CMD_COMMIT, GUI_CMD_BRUSH, GUI_CMD_ERASER, GUI_CMD_SELECT, GUI_CMD_LASSO,
    GUI_CMD_SMALLER, GUI_CMD_LARGER, GUI_CMD_FIT, GUI_CMD_GRID, GUI_CMD_SNAP, GUI_CMD_DIAGONALS,
    GUI_CMD_INTERFACE, GUI_CMD_PAN, GUI_CMD_PICK, GUI_CMD_LINE, GUI_CMD_CURVE, GUI_CMD_FILL, GUI_CMD_GRADIENT,
    GUI_CMD_COUNT
} GUI_COMMAND_ID;

#define GUI_MOD_CTRL 1
#define GUI_MOD_SHIFT 2
#define GUI_CMD_IDLE 1 /* during a stroke its Ctrl key acts as the key alone */

/* A key that runs a command, with the modifiers it needs (GUI_MOD_*); key 0 for none. */
typedef struct GUI_BINDING {
    int key;
    int mods;
} GUI_BINDING;

typedef struct GUI_COMMAND {
    int id; /* its place in the table */
    const char* name;
    int (*run)(PLUMARO_APP* app); /* 1 when it did something to show */
    GUI_BINDING keys[2];
    int flags;
    const char* help_key;  /* its line in the help's shortcut list; */
    const char* help_text; /* commands sharing a line give the same texts */
} GUI_COMMAND;

/* The command of that id, or null. */
const GUI_COMMAND* _gui_command(int id);
/* Runs a command and lets the toolbar follow it; 1 when it did something. */
int _gui_run_command(PLUMARO_APP* app, int id);
/* The command a key stands for with Ctrl and Shift as held and a stroke in progress or not; -1 for none. */
int _gui_command_for_key(int key, int ctrl, int shift, int stroke);

/* ---- gui_toolbar.cpp ---- */
/* What a tool button stands for. */
enum { GUI_TOOL_KIND_TOOL, GUI_TOOL_KIND_TEXT, GUI_TOOL_KIND_SHAPE };

/* A tool, the text or a shape: its button, its line in the help and what choosing it does. */
typedef struct GUI_TOOL_ROW {
    int id;            /* GUI_TOOL_BUTTON, its place in the table */
    const char* label; /* its name in the help */
    const char* tip;   /* its tooltip, and its text in the help */
    int icon;
    int kind;    /* GUI_TOOL_KIND_* */
    int value;   /* the tool (PLUMARO_TOOL) or the shape's kind */
    int eraser;  /* the brush with its eraser flag */
    int settles; /* choosing it first lays down the float and the line or curve being edited; 2: but
                  * a selection lifted from a layer stays */
    int command; /* the command that chooses it (GUI_CMD_*), -1 for the text and the shapes */
} GUI_TOOL_ROW;

/* The row of a tool button, or null. */
const GUI_TOOL_ROW* _gui_tool(int id);
/* Chooses the tool of a row as its row says; 1 when it was a tool. */
int _gui_choose_tool(PLUMARO_APP* app, int row);
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

/* Inner width at which the toolbar's texts in the current language show whole. */
float _gui_toolbar_label_width(PLUMARO_APP* app);

/* ---- gui_layers.cpp ---- */
/* Width of the layer panel for a stored width on a display of that width. */
float _gui_panel_width(const GUI_METRICS* m, float stored, float display_w);
/* Inner width at which the panel's labels in the current language show whole. */
float _gui_panel_label_width(PLUMARO_APP* app);
/* Builds the layer panel, as a side tab when collapsed; 1 or 0. */
int _build_layer_panel(PLUMARO_APP* app);
/* Sets the grid toggles and the grid size slider from the grid. */
void _gui_sync_grid(PLUMARO_APP* app);

/* ---- gui_popups.cpp ---- */
#define GUI_POPUP_NONE ((size_t)-1) /* no such window or field */

/* What hiding the interface does to a popup. */
enum { GUI_HIDE_STAYS, GUI_HIDE_CLOSES, GUI_HIDE_FORGETS };

/* A popup: how it is built, where its state lives in GUI_STATE (offsets),
 * and what closing, hiding, collapsing and rebuilding do to it. */
typedef struct GUI_POPUP_ROW {
    int id; /* GUI_POPUP_ID, its place in the table */
    const char* title;
    int (*build)(PLUMARO_APP* app); /* its window, closed; 1 or 0 */
    size_t open_at;                 /* its open flag (int), which survives rebuilds */
    size_t window_at, second_window_at;
    size_t field_at;    /* the text field that takes the focus and the soft keyboard, or none */
    size_t ids_at;      /* its widget ids (int32, -1 while absent) ... */
    int ids;            /* ... and how many there are */
    int close_place;    /* Escape and Back close the open popup of the lowest place first */
    int reopen_place;   /* after a rebuild the open ones are shown again in this order */
    int on_hide;        /* GUI_HIDE_* */
    int collapse_forgets; /* collapsing the toolbar forgets it */
    void (*reopen)(PLUMARO_APP* app); /* shows it again with what it held; null: shown as built */
    void (*cancel)(PLUMARO_APP* app); /* what Escape does; null: it is hidden */
    void (*forget)(PLUMARO_APP* app); /* what else goes when it is forgotten; null: nothing */
    T_GUI_BUTTON_CB accept;           /* its default button, for Enter once dialogs take it; null: none */
} GUI_POPUP_ROW;

/* The row of a popup, or null. */
const GUI_POPUP_ROW* _gui_popup(int id);
/* The popup at a place of the closing order, or null. */
const GUI_POPUP_ROW* _gui_popup_closing(int place);
/* Shows a popup in front of the others and records it open (and when); its
 * text field, if any, takes the focus and the soft keyboard. */
void _gui_popup_show(PLUMARO_APP* app, int popup);
/* Hides a popup and records it closed; its text field gives up the focus and the soft keyboard. */
void _gui_popup_hide(PLUMARO_APP* app, int popup);
/* Showing the interface again opens the popups hiding only closed. */
void _gui_reopen_popups_on_show(PLUMARO_APP* app);
/* A popup window: flags, stacking, closed until asked for; -1 (logged with
 * `failure`) when it cannot be made. */
int32_t _gui_popup_window(PLUMARO_APP* app, const char* title, float x, float y, float w, float h, int flags,
                          const char* failure);
/* Builds every popup, closed, and reopens those whose open flag is set; 1 or 0. */
int _build_popups(PLUMARO_APP* app);
/* Sets every popup widget and window id to -1; open flags and texts stay. */
void _gui_forget_popup_ids(GUI_STATE* ui);
/* Hiding the interface closes and forgets the passing popups. */
void _gui_close_popups_on_hide(PLUMARO_APP* app);
/* Collapsing the toolbar forgets the popups opened from it. */
void _gui_forget_popups_on_collapse(PLUMARO_APP* app);
/* Shows a notice in the notification popup (cut from the front when too long), without logging it. */
void _gui_show_notice(PLUMARO_APP* app, const char* text);
/* Proposes the name of the file last opened for the next save. */
void _gui_take_opened_name(PLUMARO_APP* app);
/* Keeps ASCII letters, digits, space, '-' and '_' (63 at most), trims spaces; "sketch" when nothing is left. */
void _gui_name_filter(const char* in, char* out, size_t size);
/* A notice cut from the front, behind "...", until it is narrower than `width`. */
void _gui_notify_shorten(const ALLEGRO_FONT* font, float width, const char* text, char* out, size_t size);
/* The canvas rectangle an export covers (mode, border, document bounds); 0 when there is none. */
int _gui_export_region(PLUMARO_APP* app, int* x, int* y, int* w, int* h);
/* The custom canvas size typed in the new-canvas popup, or 0 when it is not a size from 64 to 16384. */
int _gui_custom_canvas_size(const char* text);
/* A checkerboard under a translucent colour, in a widget (its right end only unless `full`). */
void _draw_alpha_overlay(PLUMARO_APP* app, int32_t window, int32_t widget, ALLEGRO_COLOR colour, int full);
/* Toolbar and panel buttons whose dialogs live here. */
void _on_chip_click(int32_t id, void* user);
void _on_tip_click(int32_t id, void* user);
void _on_new_click(int32_t id, void* user);
void _on_save_click(int32_t id, void* user);
void _on_load_click(int32_t id, void* user);
void _on_export_click(int32_t id, void* user);
void _on_quit_button(int32_t id, void* user);
void _on_palette_manage(int32_t id, void* user);
void _on_clear_click(int32_t id, void* user);
void _on_layer_rename(int32_t id, void* user);

/* ---- gui_help.cpp ---- */
/* A row of the help: a key and its text, or a note (no key) shown centred. */
typedef struct HELP_ROW {
    const char* key;
    const char* text;
} HELP_ROW;
#define GUI_HELP_ROWS_MAX 64
/* The rows of a help tab (the shortcut list from the command table); their count. */
int _gui_help_rows(int tab, HELP_ROW* out, int max);
/* Builds the help reference's two windows for the current tab; 1 or 0. */
int _build_help_popup(PLUMARO_APP* app);
/* The Help button, and the reference's Close. */
void _on_help_button(int32_t id, void* user);
void _on_help_close(int32_t id, void* user);

/* ---- gui_placed.cpp ---- */
/* Builds the text popup, closed; 1 or 0. */
int _build_text_popup(PLUMARO_APP* app);
/* Opens the text popup again after a rebuild. */
void _text_popup_reopen(PLUMARO_APP* app);
/* Closes the text popup as its Cancel does (an edited text float gets its text back). */
void _text_popup_cancel(PLUMARO_APP* app);
/* The text popup's Place: the text becomes a float, or the edited float takes it. */
void _on_text_ok(int32_t id, void* user);
/* The text button: a new text, or the text float being edited. */
void _on_text_button(int32_t id, void* user);
/* Drops shape `kind` (0..6) at the view's centre as a floating selection. */
void _place_shape(PLUMARO_APP* app, int kind);
/* A new bitmap of a shape in the brush colour, outlined with the brush's width or filled; null on failure. */
ALLEGRO_BITMAP* _render_shape_bitmap_wh(PLUMARO_APP* app, int kind, int filled, int w, int h);
/* A new bitmap of a text in the brush colour; null for empty text or a font that cannot load. */
ALLEGRO_BITMAP* _render_text_bitmap(PLUMARO_APP* app, const char* text, int font, int size);
