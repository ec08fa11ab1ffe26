/* selection: rectangle and lasso selections, the floating pixels lifted from
 * a layer or pasted (moved, scaled from eight handles, rotated from a ninth),
 * their commit as one undo step, cancel and delete, and the overlay. */
#pragma once
#include <allegro5/allegro.h>
#include <stdint.h>

#include "canvas/document.h"
#include "canvas/layer.h"
#include "canvas/symmetry.h"
#include "canvas/view.h"

#define SEL_NONE 0
#define SEL_SELECTING 1
#define SEL_FLOATING 2

#define SELECTION_LASSO_START 256
#define SELECTION_LASSO_MAX 4096
/* Copies a symmetric float is stamped as, the float itself included. */
#define SELECTION_MAX_COPIES 16
#define SELECTION_MIN_SCALE 0.02f
#define SELECTION_HANDLE_RADIUS 15.0f
#define SELECTION_ROTATE_DISTANCE 30.0f
#define SELECTION_ROTATE_STEP 0.2617994f

/* Handle codes of the hit test and of a drag. */
#define SELECTION_HANDLE_NONE 0
#define SELECTION_HANDLE_MOVE 1
#define SELECTION_HANDLE_TOP_LEFT 2
#define SELECTION_HANDLE_TOP_RIGHT 3
#define SELECTION_HANDLE_BOTTOM_RIGHT 4
#define SELECTION_HANDLE_BOTTOM_LEFT 5
#define SELECTION_HANDLE_TOP 6
#define SELECTION_HANDLE_RIGHT 7
#define SELECTION_HANDLE_BOTTOM 8
#define SELECTION_HANDLE_LEFT 9
#define SELECTION_HANDLE_ROTATE 10

typedef struct SELECTION {
    int32_t state; /* SEL_NONE, SEL_SELECTING, SEL_FLOATING */
    bool lasso;
    float* points; /* lasso polygon as x, y pairs; owned */
    int32_t count, capacity;
    float start_x, start_y; /* marquee corners while selecting */
    float end_x, end_y;
    int32_t x, y; /* canvas position of the untransformed float */
    int32_t w, h;
    ALLEGRO_BITMAP* bitmap; /* the float, premultiplied; owned */
    float offset_x, offset_y;
    float scale_x, scale_y; /* about the float's centre */
    float rotation;         /* radians, about the float's centre */
    bool lifted;            /* the layer shows a hole until commit */
    bool symmetric;         /* stamped once per symmetry image on commit */
    int32_t source_kind;    /* -1 pixels, 0..6 a shape, 7 text */
    bool dragging;          /* owned by the tool input; never touched here */
    int32_t drag_type;
    float drag_start_x, drag_start_y;
    float saved_offset_x, saved_offset_y, saved_rotation;
    float anchor_canvas_x, anchor_canvas_y;
    float anchor_local_x, anchor_local_y;
    LAYER* layer; /* borrowed: the layer the float belongs to */
} SELECTION;

/* Zero state, unit scale, pixel source. */
void selection_init(SELECTION* sel);
/* Drops the float and the lasso without touching any layer. */
void selection_discard(SELECTION* sel);
void selection_begin_marquee(SELECTION* sel, float x, float y);
void selection_update_marquee(SELECTION* sel, float x, float y);
void selection_begin_lasso(SELECTION* sel, float x, float y);
void selection_add_lasso_point(SELECTION* sel, float x, float y);
/* Lifts the rectangle or lasso out of the active layer; 1 when a float exists. */
int selection_end_marquee(SELECTION* sel, DOCUMENT* doc);
/* A new mask (1 inside, rows packed) of the float's outline where it lies
 * now, the rectangle or lasso it was lifted or pasted with, clipped to a
 * width x height canvas, with its rectangle in (x, y, w, h); null when
 * nothing floats or the outline misses the canvas. The caller frees it. */
uint8_t* selection_outline_mask(const SELECTION* sel, int width, int height, int* x, int* y, int* w, int* h);
/* Centre of the moved float in canvas pixels; 1 while floating. */
int selection_get_center(const SELECTION* sel, float* cx, float* cy);
/* Integer canvas position of the moved float (offset rounded half away from
 * zero), where a copy of it is remembered; 1 while floating. */
int selection_get_position(const SELECTION* sel, int* x, int* y);
void selection_nudge(SELECTION* sel, float dx, float dy);
/* Float pixel coordinates to canvas coordinates. */
void selection_build_transform(const SELECTION* sel, ALLEGRO_TRANSFORM* out);
bool selection_is_identity(const SELECTION* sel);
/* Handle under a screen point (SELECTION_HANDLE_*). */
int selection_hit_test(const SELECTION* sel, const VIEW* view, float sx, float sy);
void selection_drag_begin(SELECTION* sel, int code, float x, float y);
void selection_drag_update(SELECTION* sel, float x, float y, bool shift_held);
void selection_drag_end(SELECTION* sel);
/* Lays the float down on its layer as one undo step; the commit's result. */
int selection_commit(SELECTION* sel, DOCUMENT* doc, const SYMMETRY* sym);
/* Puts lifted pixels back where they came from; no undo step. */
void selection_cancel(SELECTION* sel);
/* Drops the float, recording a lifted float's hole; the commit's result. */
int selection_delete(SELECTION* sel, DOCUMENT* doc);
/* Memory bitmap of the untransformed float; the caller owns it. */
ALLEGRO_BITMAP* selection_clone_float(const SELECTION* sel);
/* A new float holding a copy of src at (x, y) on the active layer. */
int selection_paste(SELECTION* sel, DOCUMENT* doc, ALLEGRO_BITMAP* src, int x, int y);
/* Takes src as the float, keeping centre and displayed size; 1 takes ownership. */
int selection_resample_float(SELECTION* sel, ALLEGRO_BITMAP* src);
/* Takes src as the float, keeping centre and scale; 1 takes ownership. */
int selection_restyle_float(SELECTION* sel, ALLEGRO_BITMAP* src);
/* Marquee, lasso or float with its frame and handles, over the canvas. */
void selection_draw(const SELECTION* sel, DOCUMENT* doc, const VIEW* view);
