/* plumaro_app: the one application record, start-up, the event loop with its
 * redraw policy, halt and resume, and shutdown. */
#pragma once
#include <stdio.h>
#include <allegro5/allegro.h>
#include <allegro5/allegro_font.h>
#include <stdint.h>

#include "app_ranges.h"
#include "canvas/brush.h"
#include "canvas/document.h"
#include "canvas/form.h"
#include "canvas/grid.h"
#include "canvas/selection.h"
#include "canvas/symmetry.h"
#include "canvas/view.h"
#include "gui/gui_state.h"
#include "input/gesture.h"
#include "palette.h"

#define PLUMARO_VERSION_TEXT "1.3.9"
#define PLUMARO_FIRST_CANVAS_MAX 4096
#define PLUMARO_AUTOSAVE_SECONDS 30.0 /* at most this often while changes keep coming */
#define PLUMARO_AUTOSAVE_IDLE 3.0     /* after this long without input */

struct APP_STATE;

/* The tools; the eraser is the brush with its eraser flag set. */
typedef enum PLUMARO_TOOL {
    TOOL_BRUSH = 0,
    TOOL_FILL = 1,
    TOOL_GRADIENT = 2,
    TOOL_SELECT = 3, /* box selection */
    TOOL_LASSO = 4,
    TOOL_LINE = 5,
    TOOL_CURVE = 6,
} PLUMARO_TOOL;
#define TOOL_COUNT 7

/* The pointer interaction on the canvas in progress and what it remembers
 * between its events. All zero when nothing is in progress, so cancelling
 * is one assignment and a field added later cannot be forgotten. The live
 * stroke, a selection drag and a form handle drag keep their flags in their
 * own records (stroke.active, selection.dragging, form.dragging). */
/* Pointer positions the stabilizer keeps: a second of events at 500 Hz, far
 * more than its window holds. */
#define APP_STAB_SAMPLES 512
/* One pointer position on the canvas and its event time. */
typedef struct APP_STAB_SAMPLE {
    float x, y;
    double t;
} APP_STAB_SAMPLE;

typedef struct APP_DRAG {
    uint8_t gradient_dragging; /* capture: the gradient tool's drag */
    uint8_t form_creating;     /* capture: the drag that creates a line or curve */
    uint8_t symmetry_dragging; /* capture: the symmetry axis follows the pointer */
    uint8_t fill_pending;      /* capture: a fill deferred to the release */
    uint8_t panning;           /* capture: pointer motion pans the view */
    uint8_t sampling;          /* capture: the colour under the pointer becomes the brush colour */
    uint8_t snap_line;         /* the stroke runs along grid segments */
    float snap_anchor_x, snap_anchor_y;
    int32_t snap_dir_x, snap_dir_y;
    float last_x, last_y; /* canvas position of the last stroke point */
    double last_time;
    float last_pressure;
    float fill_x, fill_y;             /* the deferred fill's point */
    float gradient_x, gradient_y;     /* the gradient's start */
    float form_start_x, form_start_y; /* where a new form's drag began */
    /* The stabilizer: the painted point is the pointer's mean position over
     * the last moments, so it follows the path drawn. */
    uint8_t stabilizing;
    float stab_x, stab_y;   /* the painted point */
    double stab_time;       /* the moment it stands for */
    int32_t stab_first, stab_count;
    APP_STAB_SAMPLE stab_path[APP_STAB_SAMPLES]; /* the pointer's recent path, a ring, oldest first */
} APP_DRAG;

/* What a notice tells the user: how something went, or that it failed. */
typedef enum APP_NOTICE_KIND {
    APP_NOTICE_INFO = 0,
    APP_NOTICE_FAILURE = 1,
} APP_NOTICE_KIND;

#define APP_NOTICES_MAX 8
#define APP_NOTICE_TEXT 1400 /* a message with a whole path in it */

/* A notice the shell posted for the interface to show. */
typedef struct APP_NOTICE {
    int32_t kind; /* APP_NOTICE_KIND */
    char text[APP_NOTICE_TEXT];
} APP_NOTICE;

/* What the shell changed that the interface shows; it follows them the
 * next time it looks (after each event and before each frame). */
enum {
    APP_CHANGED_LAYERS = 1u << 0,      /* the layer stack or the active layer */
    APP_CHANGED_SYMMETRY = 1u << 1,    /* the symmetry centre or mode */
    APP_CHANGED_PALETTE = 1u << 2,     /* the palettes, their names or the active one */
    APP_CHANGED_TOOL = 1u << 3,        /* the tool, the brush, the grid or the sampler */
    APP_CHANGED_FLOAT = 1u << 4,       /* a placed float may need rendering at its new size */
    APP_CHANGED_FLOAT_STYLE = 1u << 5, /* a placed float must be rendered again (colour, width) */
    APP_CHANGED_OPENED = 1u << 6,      /* a file was opened from `opened_path` */
};

typedef struct PLUMARO_APP {
    ALLEGRO_DISPLAY* display;
    ALLEGRO_EVENT_QUEUE* queue;
    ALLEGRO_TIMER* timer;
    ALLEGRO_FONT* font;
    int32_t display_w, display_h;
    int32_t state_id;
    const struct APP_STATE* state;
    uint8_t running;
    uint8_t dirty;
    uint8_t halted;
    uint8_t gui_visible;
    uint8_t frame_shown; /* the first frame is up and start-up's late steps are done */
    double splash_elapsed;
    DOCUMENT* doc;
    VIEW view;
    int32_t tool; /* PLUMARO_TOOL */
    BRUSH brush;
    BRUSH_STROKE stroke; /* stroke.active is a capture flag */
    int32_t brush_preset; /* selected preset, -1 for none */
    SELECTION selection; /* state 2: a floating selection exists; dragging is a capture flag */
    ALLEGRO_BITMAP* clip_bitmap; /* the internal clipboard image; owned */
    int32_t clip_x, clip_y;      /* where the next paste steps from */
    PALETTE_SET palette;
    int32_t palette_pending, settings_pending;
    FORM form;
    T_GUI_CTX* gui; /* the interface's toolkit context; owned, null without an interface */
    GUI_STATE ui;   /* the interface's windows, icons and cache */
    int32_t gui_cache_valid;
    int32_t tooltip_state;
    int32_t gui_rebuild_pending;
    GRID grid;
    SYMMETRY symmetry;
    int32_t language;
    float ui_scale;
    int32_t ui_size;
    GESTURE gesture;

    /* canvas interaction */
    APP_DRAG drag;
    uint8_t navigate_mode;
    uint8_t space_held;
    uint8_t symmetry_edit;
    uint8_t pressure_speed;
    uint8_t palm_rejection;
    uint8_t sampler_armed; /* the next left press takes the colour under it */
    int32_t stabilizer;    /* 0 off .. 100: how far the painted point trails the pointer */
    float pointer_x, pointer_y;
    uint8_t ctrl_held, shift_held; /* modifiers seen through key events */
    uint8_t form_preview_key[96];  /* inputs of the last form preview */

    /* Interface preferences carried by the settings file; the interface
     * gives them their meaning and reads them when it builds its windows. */
    uint8_t settings_applied; /* a full settings record was read at start */
    uint8_t shapes_solid;     /* placed shapes are filled */
    uint32_t section_flags;   /* bits 0-6 toolbar sections, 16-18 layer panel sections folded */
    int32_t toolbar_collapsed, layer_panel_collapsed;
    float layer_panel_width; /* 0: the default width */
    int32_t export_area;     /* 0 displayed area, 1 full drawing */
    int32_t export_border;   /* pixels, 0..256 */
    int32_t export_template; /* include the page template in exports */
    int32_t text_size, text_font;
    char doc_path[1024]; /* where the document was last saved */
    /* the session is also written while the user pauses, so a crash loses
     * at most a few minutes of work */
    double idle_seconds, since_autosave;
    uint64_t autosave_revision; /* the document's undo revision last stored */
    char store_error[256];      /* why the last store failed, for the notice */
    int store_warned;           /* the user was told the drawing could not be stored */
    int exit_status;            /* what main returns: non-zero when the drawing was not stored */

    /* What the shell tells the interface without calling it. */
    APP_NOTICE notices[APP_NOTICES_MAX]; /* oldest first */
    int32_t notice_count;
    uint32_t changed;         /* APP_CHANGED_* not yet followed */
    char opened_path[1024];   /* the file last opened by the user */
} PLUMARO_APP;

/* Fills a record as start-up holds it before any window or file exists:
 * zeroed, the interface shown at the Normal size (scale 1), the brush in
 * hand at its defaults with no preset, and the view, gesture, grid,
 * symmetry, selection, form and palette records at theirs. */
void plumaro_app_start_values(PLUMARO_APP* app);
/* Makes `doc` the record's document (owned from now on), the symmetry
 * centre in its middle. */
void plumaro_app_start_document(PLUMARO_APP* app, DOCUMENT* doc);
/* Posts a notice for the interface to show (and logs it now); when the
 * queue is full the oldest notice gives way. */
void plumaro_app_notice(PLUMARO_APP* app, int kind, const char* text);
/* Takes the oldest notice posted into `out`; 0 when there is none. */
int plumaro_app_take_notice(PLUMARO_APP* app, APP_NOTICE* out);
/* Marks what changed (APP_CHANGED_*) for the interface to follow, and asks for a frame. */
void plumaro_app_changed(PLUMARO_APP* app, uint32_t what);
/* Starts everything in the documented order; 1 on success. */
int plumaro_app_init(PLUMARO_APP* app, int argc, char** argv);
/* Answers "--help" and "--version", runs "--export" and "--thumbnail" (and
 * refuses unknown options) before any window opens: the exit status to end
 * with, or -1 to start the program. */
int plumaro_app_command_line(int argc, char** argv, FILE* out, FILE* err);
/* Runs the event loop until `running` is cleared; 1 when it ended normally. */
int plumaro_app_run(PLUMARO_APP* app);
/* Handles one event as the loop does (interface, capture, dispatch). */
void plumaro_app_handle_event(PLUMARO_APP* app, ALLEGRO_EVENT* event);
/* Draws one frame: clear, state, interface, flip. */
void plumaro_app_draw_frame(PLUMARO_APP* app);
/* Releases everything in a fixed order; safe on a half-initialised record. */
void plumaro_app_shutdown(PLUMARO_APP* app);
/* Recomputes ui_scale from the display density and ui_size. */
void plumaro_app_update_ui_scale(PLUMARO_APP* app);
/* 1 while Ctrl (left or right) is down, from key events or the keyboard's state. */
int plumaro_app_ctrl_down(const PLUMARO_APP* app);
/* 1 while Shift (left or right) is down, likewise. */
int plumaro_app_shift_down(const PLUMARO_APP* app);
/* 1 while a pointer interaction on the canvas captures every event: a
 * stroke, a gradient, form creation or a form handle drag, a symmetry axis
 * drag, a selection drag, a deferred fill, or a pan. */
int plumaro_app_capturing(const PLUMARO_APP* app);
/* Ends whatever pointer interaction is in progress without laying anything
 * down: a live stroke is undone, a marquee or lasso being drawn is dropped,
 * a float or form handle drag stops where it is, and every drag flag and
 * its remembered points are cleared. */
void plumaro_app_cancel_interaction(PLUMARO_APP* app);
/* Lays down the edits in progress, in the order their undo steps must come:
 * the floating selection first, then the line or curve being edited. */
void plumaro_app_settle(PLUMARO_APP* app);
/* Ends everything before the drawing is stored or the canvas goes away: the
 * live stroke keeps its paint, the float and the form are settled, and any
 * drag left is cancelled. */
void plumaro_app_finish_edits(PLUMARO_APP* app);
/* Lays down a floating selection on its layer; 1 when none is left floating. */
int plumaro_app_commit_float(PLUMARO_APP* app);

/* Side of the first square canvas for a display's largest bitmap size. */
int plumaro_app_first_canvas_side(int max_bitmap_size);
/* Interface font pixel size for a scale. */
int plumaro_app_font_size(float ui_scale);
/* Interface scale for a density, whether it was overridden, and a size choice. */
float plumaro_app_ui_scale_for(float density, int overridden, int ui_size);

/* Changes the tool (PLUMARO_TOOL); a line or curve being edited is painted
 * first and the eraser flag is cleared. */
void plumaro_app_set_tool(PLUMARO_APP* app, int tool);
/* Chooses the eraser: the brush tool with its eraser flag set. */
void plumaro_app_set_eraser(PLUMARO_APP* app);
