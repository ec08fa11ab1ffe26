/* form: geometry of the editable line and curve. Nothing here draws or
 * touches pixels except the commit, which hands the flattened path to the
 * brush as an ordinary stroke. */
#include "canvas/form.h"

#include <math.h>
#include <string.h>

#include "t_log.h"

// Zero every field; no drag in progress.
static void _form_reset(FORM* form) {
    memset(form, 0, sizeof(*form));
    form->drag_index = -2;
}

void form_init(FORM* form) {
    __t_assert_void(form);
    _form_reset(form);
}

void form_clear(FORM* form) {
    __t_assert_void(form);
    _form_reset(form);
}

bool form_is_active(const FORM* form) {
    __t_assert_return(form, false);
    return form->kind != FORM_NONE && form->count > 1;
}

// Number of control points the geometry may read (count held to 0..4).
static int _form_points(const FORM* form) {
    if (form->count < 0) return 0;
    return form->count > FORM_MAX_POINTS ? FORM_MAX_POINTS : form->count;
}

int form_begin(FORM* form, int kind, float x0, float y0, float x1, float y1) {
    __t_assert(form);
    if (kind != FORM_LINE && kind != FORM_CURVE) return 0;
    _form_reset(form);
    form->kind = kind;
    form->x[0] = x0;
    form->y[0] = y0;
    if (kind == FORM_LINE) {
        form->count = 2;
        form->x[1] = x1;
        form->y[1] = y1;
    } else {
        /* Inner points on the chord: a fresh curve is straight until bent. */
        form->count = 4;
        float dx = x1 - x0, dy = y1 - y0;
        form->x[1] = x0 + dx / 3.0f;
        form->y[1] = y0 + dy / 3.0f;
        form->x[2] = x0 + 2.0f * dx / 3.0f;
        form->y[2] = y0 + 2.0f * dy / 3.0f;
        form->x[3] = x1;
        form->y[3] = y1;
    }
    return 1;
}

int form_bounds(const FORM* form, float pad, float* x0, float* y0, float* x1, float* y1) {
    __t_assert(form);
    __t_assert(x0);
    __t_assert(y0);
    __t_assert(x1);
    __t_assert(y1);
    if (!form_is_active(form)) return 0;
    int n = _form_points(form);
    float lx = form->x[0], hx = form->x[0], ly = form->y[0], hy = form->y[0];
    for (int i = 1; i < n; i++) {
        lx = fminf(lx, form->x[i]);
        hx = fmaxf(hx, form->x[i]);
        ly = fminf(ly, form->y[i]);
        hy = fmaxf(hy, form->y[i]);
    }
    *x0 = lx - pad;
    *y0 = ly - pad;
    *x1 = hx + pad;
    *y1 = hy + pad;
    return 1;
}

int form_hit_test(const FORM* form, float x, float y, float radius, float slack) {
    __t_assert_return(form, -2);
    if (!form_is_active(form)) return -2;
    /* A negative radius reaches nothing rather than its square. */
    float r = radius > 0.0f ? radius : 0.0f;
    float best = r * r;
    int hit = -1;
    int n = _form_points(form);
    for (int i = 0; i < n; i++) {
        float dx = form->x[i] - x, dy = form->y[i] - y;
        float d = dx * dx + dy * dy;
        /* "<=" so that on equal distances the later point wins: the end of a
         * short line stays reachable over its start. */
        if (d <= best) {
            best = d;
            hit = i;
        }
    }
    if (hit >= 0) return hit;
    float bx0, by0, bx1, by1;
    if (form_bounds(form, slack, &bx0, &by0, &bx1, &by1) && x >= bx0 && x <= bx1 && y >= by0 && y <= by1) return -1;
    return -2;
}

int form_drag_begin(FORM* form, int index, float x, float y) {
    __t_assert(form);
    if (!form_is_active(form)) return 0;
    if (index < -1 || index >= _form_points(form)) return 0;
    form->drag_index = index;
    form->drag_start_x = x;
    form->drag_start_y = y;
    memcpy(form->saved_x, form->x, sizeof(form->x));
    memcpy(form->saved_y, form->y, sizeof(form->y));
    form->dragging = true;
    return 1;
}

int form_drag_update(FORM* form, float x, float y) {
    __t_assert(form);
    if (!form->dragging || !form_is_active(form)) return 0;
    int n = _form_points(form);
    if (form->drag_index == -1) {
        /* From the saved shape, so that rounding never accumulates over updates. */
        float dx = x - form->drag_start_x, dy = y - form->drag_start_y;
        for (int i = 0; i < n; i++) {
            form->x[i] = form->saved_x[i] + dx;
            form->y[i] = form->saved_y[i] + dy;
        }
        return 1;
    }
    if (form->drag_index < 0 || form->drag_index >= n) return 0;
    form->x[form->drag_index] = x;
    form->y[form->drag_index] = y;
    return 1;
}

int form_drag_end(FORM* form) {
    __t_assert(form);
    form->dragging = false;
    form->drag_index = -2;
    return 1;
}

// Point at t in [0, 1] of an active form (t already clamped).
static void _form_eval(const FORM* form, float t, float* x, float* y) {
    if (form->kind == FORM_CURVE && _form_points(form) >= 4) {
        float u = 1.0f - t;
        float a = u * u * u, b = 3.0f * u * u * t, c = 3.0f * u * t * t, d = t * t * t;
        *x = a * form->x[0] + b * form->x[1] + c * form->x[2] + d * form->x[3];
        *y = a * form->y[0] + b * form->y[1] + c * form->y[2] + d * form->y[3];
        return;
    }
    *x = form->x[0] + t * (form->x[1] - form->x[0]);
    *y = form->y[0] + t * (form->y[1] - form->y[0]);
}

int form_point(const FORM* form, float t, float* x, float* y) {
    __t_assert(form);
    __t_assert(x);
    __t_assert(y);
    if (!form_is_active(form)) return 0;
    if (!(t > 0.0f)) t = 0.0f; /* NaN goes to the start too */
    if (t > 1.0f) t = 1.0f;
    _form_eval(form, t, x, y);
    return 1;
}

int form_flatten_segments(const FORM* form, float zoom) {
    __t_assert(form);
    if (!form_is_active(form)) return 0;
    if (form->kind != FORM_CURVE || _form_points(form) < 4) return 1;
    double length = 0.0;
    for (int i = 1; i < 4; i++) length += hypot((double)form->x[i] - form->x[i - 1], (double)form->y[i] - form->y[i - 1]);
    double z = zoom > 0.0f ? (double)zoom : 1.0;
    double v = z * length / 6.0 + 0.5;
    /* Compared before the cast: an infinite or NaN length must not reach (int). */
    if (!(v >= 1.0)) return 1;
    if (v >= (double)FORM_MAX_SEGMENTS) return FORM_MAX_SEGMENTS;
    return (int)v;
}

int form_flatten(const FORM* form, int segments, float* out_xy, int capacity) {
    __t_assert(form);
    __t_assert(out_xy);
    int n = segments < 1 ? 1 : (segments > FORM_MAX_SEGMENTS ? FORM_MAX_SEGMENTS : segments);
    if (n >= capacity || !form_is_active(form)) return 0;
    for (int i = 0; i <= n; i++) {
        float t = fminf(1.0f, (float)i / (float)n);
        _form_eval(form, t, &out_xy[2 * i], &out_xy[2 * i + 1]);
    }
    return n + 1;
}

int form_commit(FORM* form, DOCUMENT* doc, BRUSH_STROKE* stroke, const BRUSH* brush, const SYMMETRY* symmetry,
                float zoom) {
    __t_assert(form);
    if (!form_is_active(form)) return 0;
    int painted = 0;
    if (doc && stroke && brush) {
        float xy[2 * (FORM_MAX_SEGMENTS + 1)];
        int n = form_flatten(form, form_flatten_segments(form, zoom), xy, FORM_MAX_SEGMENTS + 1);
        if (n > 1 && brush_stroke_begin(stroke, doc, brush, xy[0], xy[1], 1.0f, symmetry)) {
            for (int i = 1; i < n; i++) brush_stroke_segment(stroke, doc, brush, xy[2 * i], xy[2 * i + 1], 1.0f);
            painted = brush_stroke_end(stroke, doc);
        }
    } else if (doc) {
        t_log(LOG_DEBUG, "if( !(%s) ) assert at line %d of %s", "stroke && brush", __LINE__, __FILE__);
    }
    /* Dropped also when nothing could be painted: a form that cannot be laid
     * must not stay in the way of the next press. */
    _form_reset(form);
    return painted;
}
