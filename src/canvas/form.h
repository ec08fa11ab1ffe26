/* form: the editable straight line or cubic curve laid on the canvas before
 * it is painted: creation from a drag, bounds, hit testing of its control
 * points, dragging, evaluation, flattening and the commit as a brush stroke. */
#pragma once
#include <stdint.h>

#include "canvas/brush.h"
#include "canvas/document.h"
#include "canvas/symmetry.h"

#define FORM_NONE 0
#define FORM_LINE 1
#define FORM_CURVE 2
#define FORM_MAX_POINTS 4
/* Most segments a form is flattened into; callers size their buffers to
 * FORM_MAX_SEGMENTS + 1 points. */
#define FORM_MAX_SEGMENTS 256

typedef struct FORM {
    int32_t kind;  /* FORM_NONE, FORM_LINE, FORM_CURVE */
    int32_t count; /* control points: 2 for a line, 4 for a curve */
    float x[FORM_MAX_POINTS];
    float y[FORM_MAX_POINTS];
    bool dragging;
    int32_t drag_index; /* -2 none, -1 the whole form, else a control point */
    float drag_start_x, drag_start_y;
    float saved_x[FORM_MAX_POINTS];
    float saved_y[FORM_MAX_POINTS];
} FORM;

/* Zeroes the form; it becomes inactive with no drag. */
void form_init(FORM* form);
/* Same as form_init: drops the form (after a commit or a cancel). */
void form_clear(FORM* form);
/* True when the form has a kind and at least two control points. */
bool form_is_active(const FORM* form);
/* Starts a line or a curve from (x0, y0) to (x1, y1); 0 for another kind. */
int form_begin(FORM* form, int kind, float x0, float y0, float x1, float y1);
/* Box of the control points grown by pad; 0 when the form is inactive. */
int form_bounds(const FORM* form, float pad, float* x0, float* y0, float* x1, float* y1);
/* Control point index under (x, y) within radius (the later one on a tie),
 * -1 inside the box grown by slack, -2 for a miss. */
int form_hit_test(const FORM* form, float x, float y, float radius, float slack);
/* Starts dragging a control point (index >= 0) or the whole form (-1). */
int form_drag_begin(FORM* form, int index, float x, float y);
/* Moves the dragged point to (x, y), or the whole form by the pointer's
 * travel since the drag began. */
int form_drag_update(FORM* form, float x, float y);
/* Ends a drag. */
int form_drag_end(FORM* form);
/* Point at parameter t (clamped to 0..1). */
int form_point(const FORM* form, float t, float* x, float* y);
/* Segments the form is flattened into at this zoom (about six screen pixels
 * of control polygon each); 0 for an inactive form. */
int form_flatten_segments(const FORM* form, float zoom);
/* Writes segments + 1 points as x, y pairs; 0 (nothing written) when the
 * form is inactive or the segments are not below capacity (in points). */
int form_flatten(const FORM* form, int segments, float* out_xy, int capacity);
/* Paints the active form with the brush as one stroke at pressure 1 (one
 * undo step, with the given symmetry), then clears the form whether or not
 * anything was painted. Returns 1 when a stroke was laid. */
int form_commit(FORM* form, DOCUMENT* doc, BRUSH_STROKE* stroke, const BRUSH* brush, const SYMMETRY* symmetry,
                float zoom);
