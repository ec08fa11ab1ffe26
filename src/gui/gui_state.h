/* gui_state: what the interface keeps between frames and rebuilds, one
 * record per window, embedded in the application record. Widget and window
 * ids are -1 while absent. */
#pragma once
#include <allegro5/allegro.h>
#include <stdint.h>

#include "gui/icons.h"
#include "t_gui.h"

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

/* The toolbar's buttons of the tools, the text and the shapes, in the order
 * the help lists them; the interface's table of tools has a row for each. */
typedef enum GUI_TOOL_BUTTON {
    GUI_TOOL_BRUSH,
    GUI_TOOL_ERASER,
    GUI_TOOL_SELECT,
    GUI_TOOL_FILL,
    GUI_TOOL_GRADIENT,
    GUI_TOOL_LASSO,
    GUI_TOOL_TEXT,
    GUI_TOOL_LINE,
    GUI_TOOL_CURVE,
    GUI_TOOL_RECTANGLE, /* the shapes, in the order of their kinds */
    GUI_TOOL_ELLIPSE,
    GUI_TOOL_TRIANGLE,
    GUI_TOOL_STAR,
    GUI_TOOL_PENTAGON,
    GUI_TOOL_HEXAGON,
    GUI_TOOL_ARROW,
    GUI_TOOL_BUTTONS
} GUI_TOOL_BUTTON;

/* The toolbar at the left edge. */
typedef struct GUI_TOOLBAR {
    int32_t window;
    T_GUI_SECTIONLIST* sections; /* owned; null while collapsed */
    int32_t collapse, hide;
    int32_t undo, redo, cut, copy, paste, navigate;
    int32_t tools[GUI_TOOL_BUTTONS]; /* by GUI_TOOL_BUTTON */
    int32_t presets[4];
    int32_t tip, tip_preview;
    int32_t shape_fill, pick;
    int32_t palette_combo, chip, swatches[GUI_SWATCHES], palette_edit, palette_new, palette_manage;
    int32_t size, opacity, flow, hardness;
    int32_t symmetry, symmetry_move, radial, symmetry_reset, symmetry_offset;
    int32_t file_new, file_save, file_load, file_export;
    int32_t pressure, palm, language, ui_size, stabilizer;
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

/* The popups, in the order they are built; the interface's table of
 * popups has one row for each. */
typedef enum GUI_POPUP_ID {
    GUI_POPUP_CONFIRM,
    GUI_POPUP_NOTIFY,
    GUI_POPUP_EXPORT,
    GUI_POPUP_NEWDOC,
    GUI_POPUP_PALETTE_NAME,
    GUI_POPUP_SAVE_NAME,
    GUI_POPUP_LAYER_NAME,
    GUI_POPUP_OPEN_LIST,
    GUI_POPUP_TEXT,
    GUI_POPUP_LANGUAGE,
    GUI_POPUP_PALETTE_MANAGE,
    GUI_POPUP_PICKER,
    GUI_POPUP_TIP,
    GUI_POPUP_HELP,
    GUI_POPUP_COUNT
} GUI_POPUP_ID;

#define GUI_OPEN_ROWS 12
#define GUI_HELP_TABS 11

/* Actions a confirmation carries out when answered with yes. */
typedef enum GUI_CONFIRM_ACTION {
    CONFIRM_CLEAR_LAYER = 0,
    CONFIRM_RESET_PALETTES = 1,
    CONFIRM_QUIT = 2,
    CONFIRM_REMOVE_PALETTE = 3,
} GUI_CONFIRM_ACTION;

/* A popup's window, its open flag (which survives rebuilds) and the
 * widgets that are addressed after it was built. */
typedef struct GUI_CONFIRM {
    int32_t window, message, yes;
    int open;
    int action;
    char text[256];
} GUI_CONFIRM;

typedef struct GUI_NOTIFY {
    int32_t window, message;
    int open;
    char text[256];
} GUI_NOTIFY;

typedef struct GUI_EXPORT {
    int32_t window, title, name, displayed, full, border, include_template;
    int open;
    int box_valid; /* the drawing's painted box, cached until the next export */
    int box_found;
    int x0, y0, x1, y1;
} GUI_EXPORT;

typedef struct GUI_NEWDOC {
    int32_t window, presets[6], size;
    int open;
} GUI_NEWDOC;

/* The palette name, save name and layer name popups. */
typedef struct GUI_NAME_POPUP {
    int32_t window, field;
    int open;
} GUI_NAME_POPUP;

typedef struct GUI_OPEN_LIST {
    int32_t window, title, rows[GUI_OPEN_ROWS];
    int open;
    int used;
    char names[GUI_OPEN_ROWS][72];
} GUI_OPEN_LIST;

/* The text popup; the text and its font and size are those of the text
 * float being edited, or of the next text placed. */
typedef struct GUI_TEXT_POPUP {
    int32_t window, field, font, size;
    int open;
    int editing;        /* the popup edits the text float in place */
    char text[512];     /* the text of the current text float */
    char saved_text[512];
    int saved_font, saved_size; /* what Cancel gives back while editing */
    int float_font, float_size; /* what the current text float was rendered with */
} GUI_TEXT_POPUP;

typedef struct GUI_LANGUAGE {
    int32_t window, buttons[4];
    int requested; /* shown until a language is chosen */
} GUI_LANGUAGE;

typedef struct GUI_PALETTE_MANAGE {
    int32_t window;
    int open;
} GUI_PALETTE_MANAGE;

typedef struct GUI_PICKER {
    int32_t window, preview, channels[4];
    int open;
    uint8_t rgba[4];
} GUI_PICKER;

typedef struct GUI_TIP_POPUP {
    int32_t window, shapes[7];
    int open;
} GUI_TIP_POPUP;

typedef struct GUI_HELP {
    int32_t header, body, tabs[GUI_HELP_TABS];
    int open;
    int tab;
} GUI_HELP;

/* Everything the interface keeps. The section fold states, the collapsed
 * windows and the panel width live with the settings in the application
 * record, since they are stored between runs. */
typedef struct GUI_STATE {
    GUI_METRICS metrics;
    GUI_TOOLBAR toolbar;
    GUI_LAYER_PANEL panel;
    GUI_CONFIRM confirm;
    GUI_NOTIFY notify;
    GUI_EXPORT export_png;
    GUI_NEWDOC newdoc;
    GUI_NAME_POPUP palette_name, save_name, layer_name;
    GUI_OPEN_LIST open_list;
    GUI_TEXT_POPUP text;
    GUI_LANGUAGE language;
    GUI_PALETTE_MANAGE palette_manage;
    GUI_PICKER picker;
    GUI_TIP_POPUP tip;
    GUI_HELP help;
    uint32_t popup_opened[GUI_POPUP_COUNT]; /* when each popup was last opened, 0 never */
    uint32_t popup_openings;                /* popups opened so far */
    char doc_name[64];          /* proposed name of the next save */
    char export_path[1024];     /* where the last export went */
    GUI_ICON_BUTTON* icons; /* owned; grows with the buttons registered */
    int icon_count, icon_capacity;
    int icons_ready;
    ALLEGRO_BITMAP* tip_bitmap; /* the brush tip preview; owned */
    ALLEGRO_BITMAP* cache;      /* the whole interface, drawn only after a change; owned */
    int cache_w, cache_h;
    int built_once;      /* first-build defaults applied (once per run) */
    int layout_restored; /* the stored layout was read (once per run) */
    int panel_was_open;  /* the layer panel was open when the interface was hidden */
    float toolbar_scroll, panel_scroll; /* where the windows were scrolled before a rebuild */
    int selected_swatch; /* -1 none, 0..7 a swatch, 8 the colour chip */
    int palette_edit;    /* a swatch click stores the brush colour */
    int edited_swatch;   /* the swatch last stored in edit mode, -1 none */
} GUI_STATE;
