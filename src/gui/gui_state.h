/* gui_state: what the interface keeps between frames and rebuilds, one
 * record per window, embedded in the application record. Widget and window
 * ids are -1 while absent. */
#pragma once
#include <allegro5/allegro.h>
#include <stdint.h>

#include "gui/icons.h"
#include "t_gui.h"

#define GUI_ICON_BUTTONS_MAX 40
#define GUI_TOOLBAR_SECTIONS 7 /* Actions, Tools, Color, Brush, Symmetry, File, Settings */
#define GUI_PANEL_SECTIONS 3   /* Layers, Template, Canvas */
#define GUI_SWATCHES 8
#define GUI_SWATCH_CHIP 8 /* the selected "swatch" is the colour chip */
#define GUI_SHAPES 7

/* Sizes of the interface, each a base value times the scale. */
typedef struct GUI_METRICS {
    float margin;
    float toolbar_width;
    float row_h;
    float gap;
    float panel_width;
    float panel_min_width;
    float tab_width;
    float popup_width;
    float popup_button_width;
    float big_button_h;
    float scrollbar;
    float value_reserve;
    int tip_preview; /* side of the brush tip preview, whole pixels */
    float scale;
} GUI_METRICS;

/* A button drawn with an icon at its own size; the set is rendered once per build. */
typedef struct GUI_ICON_BUTTON {
    int32_t widget;
    int32_t icon;
    int w, h;
    PLUMARO_ICON_SET set;
} GUI_ICON_BUTTON;

/* The toolbar at the left edge. */
typedef struct GUI_TOOLBAR {
    int32_t window;
    T_GUI_SECTIONLIST* sections; /* owned; null while collapsed */
    int32_t collapse, hide;
    int32_t undo, redo, brush, eraser, select, lasso, cut, copy, paste, navigate;
    int32_t presets[4];
    int32_t tip, tip_preview;
    int32_t line, curve, fill, gradient, text;
    int32_t shapes[GUI_SHAPES];
    int32_t shape_fill;
    int32_t palette_combo, chip, swatches[GUI_SWATCHES], palette_edit, palette_new, palette_manage;
    int32_t size, opacity, flow, hardness;
    int32_t symmetry, symmetry_move, radial, symmetry_reset, symmetry_offset;
    int32_t file_new, file_save, file_load, file_export;
    int32_t pressure, palm, language, ui_size;
    int32_t help, quit;
} GUI_TOOLBAR;

/* The layer panel at the right edge. */
typedef struct GUI_LAYER_PANEL {
    int32_t window;
    T_GUI_SECTIONLIST* sections; /* owned; null while collapsed */
    int32_t collapse;
    int32_t list, add, remove, up, down, clear, rename, show, lock, blend, opacity;
    int32_t template_combo;
    int32_t grid, snap, diagonals, grid_size;
    int syncing; /* the widgets are being set from the document: callbacks ignore them */
} GUI_LAYER_PANEL;

/* Everything the interface keeps. The section fold states, the collapsed
 * windows and the panel width live with the settings in the application
 * record, since they are stored between runs. */
typedef struct GUI_STATE {
    GUI_METRICS metrics;
    GUI_TOOLBAR toolbar;
    GUI_LAYER_PANEL panel;
    GUI_ICON_BUTTON icons[GUI_ICON_BUTTONS_MAX];
    int icon_count;
    int icons_ready;
    ALLEGRO_BITMAP* tip_bitmap; /* the brush tip preview; owned */
    ALLEGRO_BITMAP* cache;      /* the whole interface, drawn only after a change; owned */
    int cache_w, cache_h;
    int built_once;      /* first-build defaults applied (once per run) */
    int layout_restored; /* the stored layout was read (once per run) */
    int panel_was_open;  /* the layer panel was open when the interface was hidden */
    int selected_swatch; /* -1 none, 0..7 a swatch, 8 the colour chip */
    int palette_edit;    /* a swatch click stores the brush colour */
    int edited_swatch;   /* the swatch last stored in edit mode, -1 none */
} GUI_STATE;
