/* selection: the marquee and the lasso, lifting pixels out of a layer into a
 * floating bitmap, moving, scaling and rotating that float from its handles,
 * and laying it down again (with symmetry copies) as one undo step. */
#include "canvas/selection.h"

#include <allegro5/allegro_primitives.h>
#include <errno.h>
#include <math.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>

#include "canvas/undo.h"
#include "t_log.h"

/* ---- record lifetime ---- */

void selection_init(SELECTION* sel) {
    __t_assert_void(sel);
    memset(sel, 0, sizeof(*sel));
    sel->scale_x = 1.0f;
    sel->scale_y = 1.0f;
    sel->source_kind = -1;
}

// Frees the float and the lasso and starts over; the capture flag belongs to
// the tool input, so it survives.
static void _selection_reset(SELECTION* sel) {
    bool dragging = sel->dragging;
    if (sel->bitmap) al_destroy_bitmap(sel->bitmap);
    free(sel->points);
    selection_init(sel);
    sel->dragging = dragging;
}

void selection_discard(SELECTION* sel) {
    __t_assert_void(sel);
    _selection_reset(sel);
}

/* ---- small helpers ---- */

// Premultiplied colour from 8-bit straight channels.
static ALLEGRO_COLOR _selection_premul(int r, int g, int b, int a) {
    float k = (float)a / 255.0f;
    return al_map_rgba_f((float)r / 255.0f * k, (float)g / 255.0f * k, (float)b / 255.0f * k, k);
}

// Position of a handle in float pixels (codes 2..9 and the rotate handle's
// base, the top edge's midpoint).
static void _selection_handle_local(int code, float w, float h, float* lx, float* ly) {
    switch (code) {
        case SELECTION_HANDLE_TOP_LEFT: *lx = 0; *ly = 0; break;
        case SELECTION_HANDLE_TOP_RIGHT: *lx = w; *ly = 0; break;
        case SELECTION_HANDLE_BOTTOM_RIGHT: *lx = w; *ly = h; break;
        case SELECTION_HANDLE_BOTTOM_LEFT: *lx = 0; *ly = h; break;
        case SELECTION_HANDLE_TOP: *lx = w / 2; *ly = 0; break;
        case SELECTION_HANDLE_RIGHT: *lx = w; *ly = h / 2; break;
        case SELECTION_HANDLE_BOTTOM: *lx = w / 2; *ly = h; break;
        case SELECTION_HANDLE_LEFT: *lx = 0; *ly = h / 2; break;
        default: *lx = w / 2; *ly = 0; break;
    }
}

// The point that stays put while a handle scales the float: the opposite one.
static void _selection_anchor_local(int code, float w, float h, float* lx, float* ly) {
    static const int opposite[10] = {0, 0, SELECTION_HANDLE_BOTTOM_RIGHT, SELECTION_HANDLE_BOTTOM_LEFT,
                                     SELECTION_HANDLE_TOP_LEFT, SELECTION_HANDLE_TOP_RIGHT,
                                     SELECTION_HANDLE_BOTTOM, SELECTION_HANDLE_LEFT,
                                     SELECTION_HANDLE_TOP, SELECTION_HANDLE_RIGHT};
    _selection_handle_local(opposite[code], w, h, lx, ly);
}

static bool _selection_is_scale_handle(int code) {
    return code >= SELECTION_HANDLE_TOP_LEFT && code <= SELECTION_HANDLE_LEFT;
}

// Creates a w x h video bitmap in the raw pixel format, filtered linearly so
// scaled and rotated floats look smooth.
static ALLEGRO_BITMAP* _selection_new_float(int w, int h) {
    int flags = al_get_new_bitmap_flags(), format = al_get_new_bitmap_format();
    al_set_new_bitmap_format(ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE);
    al_set_new_bitmap_flags(ALLEGRO_VIDEO_BITMAP | ALLEGRO_MIN_LINEAR | ALLEGRO_MAG_LINEAR);
    ALLEGRO_BITMAP* bitmap = al_create_bitmap(w, h);
    al_set_new_bitmap_flags(flags);
    al_set_new_bitmap_format(format);
    return bitmap;
}

// Targets a bitmap with an identity transform (another user of the bitmap may
// have left its own).
static void _selection_target(ALLEGRO_BITMAP* bitmap) {
    ALLEGRO_TRANSFORM identity;
    al_set_target_bitmap(bitmap);
    al_identity_transform(&identity);
    al_use_transform(&identity);
}

/* ---- marquee and lasso ---- */

// Ends the current float before a new one starts. Pixels lifted out of a
// layer go back where they were: dropping them would lose them and leave the
// layer out of step with its backup, with no undo step to show for it.
static void _selection_drop(SELECTION* sel) {
    if (sel->state == SEL_FLOATING && sel->lifted)
        selection_cancel(sel);
    else
        _selection_reset(sel);
}

void selection_begin_marquee(SELECTION* sel, float x, float y) {
    __t_assert_void(sel);
    _selection_drop(sel);
    sel->start_x = sel->end_x = x;
    sel->start_y = sel->end_y = y;
    sel->state = SEL_SELECTING;
}

void selection_update_marquee(SELECTION* sel, float x, float y) {
    __t_assert_void(sel);
    if (sel->state != SEL_SELECTING) return;
    sel->end_x = x;
    sel->end_y = y;
}

void selection_begin_lasso(SELECTION* sel, float x, float y) {
    __t_assert_void(sel);
    _selection_drop(sel);
    Malloc(sel->points, float, SELECTION_LASSO_START * 2, return);
    sel->capacity = SELECTION_LASSO_START;
    sel->points[0] = x;
    sel->points[1] = y;
    sel->count = 1;
    sel->lasso = true;
    sel->state = SEL_SELECTING;
}

void selection_add_lasso_point(SELECTION* sel, float x, float y) {
    __t_assert_void(sel);
    if (sel->state != SEL_SELECTING || !sel->lasso || !sel->points || sel->count < 1) return;
    if (sel->count >= SELECTION_LASSO_MAX) return;
    if (!isfinite(x) || !isfinite(y)) return;
    float dx = x - sel->points[(sel->count - 1) * 2], dy = y - sel->points[(sel->count - 1) * 2 + 1];
    if (dx * dx + dy * dy < 4.0f) return;
    if (sel->count >= sel->capacity) {
        int capacity = std::min(sel->capacity * 2, SELECTION_LASSO_MAX);
        float* grown = (float*)realloc(sel->points, (size_t)capacity * 2 * sizeof(float));
        if (!grown) {
            t_log(LOG_ERR, "could not grow the lasso to %d points", capacity);
            return;
        }
        sel->points = grown;
        sel->capacity = capacity;
    }
    sel->points[sel->count * 2] = x;
    sel->points[sel->count * 2 + 1] = y;
    sel->count++;
}

/* ---- lift ---- */

// Even-odd inside test of a point against the closed lasso polygon.
static bool _selection_inside(const float* p, int n, float px, float py) {
    bool inside = false;
    for (int i = 0, j = n - 1; i < n; j = i++) {
        float xi = p[i * 2], yi = p[i * 2 + 1], xj = p[j * 2], yj = p[j * 2 + 1];
        if ((yi > py) != (yj > py)) {
            float cross = xi + (py - yi) * (xj - xi) / (yj - yi);
            if (px < cross) inside = !inside;
        }
    }
    return inside;
}

// Fills a w x h mask (1 inside) of the closed polygon of n points over the
// region at (x, y): a pixel is inside when its centre lies between a pair of
// row crossings.
static void _selection_polygon_mask(const float* p, int n, int x, int y, int w, int h, uint8_t* mask) {
    float* crossings = NULL;
    Malloc(crossings, float, n, );
    if (!crossings) {
        for (int i = 0; i < h; i++)
            for (int j = 0; j < w; j++)
                mask[(size_t)i * w + j] = _selection_inside(p, n, x + j + 0.5f, y + i + 0.5f) ? 1 : 0;
        return;
    }
    for (int i = 0; i < h; i++) {
        float row = (float)y + (float)i + 0.5f;
        int found = 0;
        for (int a = 0; a < n; a++) {
            int b = (a + 1) % n;
            float ya = p[a * 2 + 1], yb = p[b * 2 + 1];
            if ((ya > row) == (yb > row)) continue;
            float xa = p[a * 2], xb = p[b * 2];
            crossings[found++] = xa + (row - ya) * (xb - xa) / (yb - ya);
        }
        std::sort(crossings, crossings + found);
        uint8_t* line = mask + (size_t)i * w;
        for (int k = 0; k + 1 < found; k += 2) {
            float from = ceilf(crossings[k] - 0.5f - (float)x), to = ceilf(crossings[k + 1] - 0.5f - (float)x);
            int c0 = from < 0.0f ? 0 : (from > (float)w ? w : (int)from);
            int c1 = to < 0.0f ? 0 : (to > (float)w ? w : (int)to);
            for (int c = c0; c < c1; c++) line[c] = 1;
        }
    }
    free(crossings);
}

// Clears a region of the layer's video bitmap to transparent.
static void _selection_clear_region(LAYER* layer, int x, int y, int w, int h) {
    _selection_target(layer->bitmap);
    al_set_clipping_rectangle(x, y, w, h);
    al_clear_to_color(al_map_rgba(0, 0, 0, 0));
    al_reset_clipping_rectangle();
    layer_touch(layer);
}

// Cuts the lasso: the float keeps what is inside, the layer what is outside,
// so the two always add up to the original. Without both locks the whole
// rectangle is cut instead, which keeps that promise.
static void _selection_cut_lasso(SELECTION* sel, LAYER* layer) {
    int w = sel->w, h = sel->h;
    uint8_t* mask = NULL;
    Malloc(mask, uint8_t, (size_t)w * (size_t)h, );
    ALLEGRO_LOCKED_REGION* cut = NULL;
    ALLEGRO_LOCKED_REGION* keep = NULL;
    if (mask) {
        cut = al_lock_bitmap_region(layer->bitmap, sel->x, sel->y, w, h, ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE,
                                    ALLEGRO_LOCK_READWRITE);
        if (cut)
            keep = al_lock_bitmap(sel->bitmap, ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE, ALLEGRO_LOCK_READWRITE);
    }
    if (!mask || !cut || !keep) {
        if (cut) al_unlock_bitmap(layer->bitmap);
        free(mask);
        t_log(LOG_ERR, "could not cut the %dx%d lasso; lifting its whole rectangle", w, h);
        _selection_clear_region(layer, sel->x, sel->y, w, h);
        return;
    }
    _selection_polygon_mask(sel->points, sel->count, sel->x, sel->y, w, h, mask);
    for (int i = 0; i < h; i++) {
        uint8_t* hole = (uint8_t*)cut->data + (intptr_t)i * cut->pitch;
        uint8_t* piece = (uint8_t*)keep->data + (intptr_t)i * keep->pitch;
        const uint8_t* m = mask + (size_t)i * w;
        for (int j = 0; j < w; j++) {
            if (m[j])
                memset(hole + j * 4, 0, 4);
            else
                memset(piece + j * 4, 0, 4);
        }
    }
    al_unlock_bitmap(sel->bitmap);
    al_unlock_bitmap(layer->bitmap);
    layer_touch(layer);
    free(mask);
}

int selection_end_marquee(SELECTION* sel, DOCUMENT* doc) {
    __t_assert(sel);
    if (!doc) {
        t_log(LOG_DEBUG, "if( !(%s) ) assert at line %d of %s", "doc", __LINE__, __FILE__);
        _selection_reset(sel);
        return 0;
    }
    LAYER* layer = doc->active_layer;
    if (sel->state != SEL_SELECTING || !layer || layer->locked || !layer->bitmap ||
        (sel->lasso && (!sel->points || sel->count < 3))) {
        _selection_reset(sel);
        return 0;
    }
    float min_x, min_y, max_x, max_y;
    if (sel->lasso) {
        min_x = max_x = sel->points[0];
        min_y = max_y = sel->points[1];
        for (int i = 1; i < sel->count; i++) {
            min_x = fminf(min_x, sel->points[i * 2]);
            max_x = fmaxf(max_x, sel->points[i * 2]);
            min_y = fminf(min_y, sel->points[i * 2 + 1]);
            max_y = fmaxf(max_y, sel->points[i * 2 + 1]);
        }
    } else {
        min_x = fminf(sel->start_x, sel->end_x);
        max_x = fmaxf(sel->start_x, sel->end_x);
        min_y = fminf(sel->start_y, sel->end_y);
        max_y = fmaxf(sel->start_y, sel->end_y);
    }
    if (!isfinite(min_x) || !isfinite(min_y) || !isfinite(max_x) || !isfinite(max_y)) {
        _selection_reset(sel);
        return 0;
    }
    /* Clamped as floats first so far-off points cannot overflow an int. */
    float fx0 = fminf(fmaxf(floorf(min_x), 0.0f), (float)doc->width);
    float fy0 = fminf(fmaxf(floorf(min_y), 0.0f), (float)doc->height);
    float fx1 = fminf(fmaxf(ceilf(max_x), -1.0f), (float)doc->width);
    float fy1 = fminf(fmaxf(ceilf(max_y), -1.0f), (float)doc->height);
    int x = (int)fx0, y = (int)fy0, w = (int)fx1 - x, h = (int)fy1 - y;
    if (w <= 0 || h <= 0) {
        _selection_reset(sel);
        return 0;
    }
    layer_settle(layer);
    ALLEGRO_BITMAP* bitmap = _selection_new_float(w, h);
    if (!bitmap) {
        t_log(LOG_ERR, "could not create %dx%d selection buffer", w, h);
        _selection_reset(sel);
        return 0;
    }
    ALLEGRO_BITMAP* previous = al_get_target_bitmap();
    _selection_target(bitmap);
    al_clear_to_color(al_map_rgba(0, 0, 0, 0));
    al_set_blender(ALLEGRO_ADD, ALLEGRO_ONE, ALLEGRO_ZERO);
    al_draw_bitmap_region(layer->bitmap, (float)x, (float)y, (float)w, (float)h, 0, 0, 0);
    al_set_blender(ALLEGRO_ADD, ALLEGRO_ONE, ALLEGRO_INVERSE_ALPHA);
    sel->bitmap = bitmap;
    sel->x = x;
    sel->y = y;
    sel->w = w;
    sel->h = h;
    if (sel->lasso)
        _selection_cut_lasso(sel, layer);
    else
        _selection_clear_region(layer, x, y, w, h);
    al_set_blender(ALLEGRO_ADD, ALLEGRO_ONE, ALLEGRO_INVERSE_ALPHA);
    al_set_target_bitmap(previous);
    sel->rotation = 0.0f;
    sel->offset_x = sel->offset_y = 0.0f;
    sel->scale_x = sel->scale_y = 1.0f;
    sel->layer = layer;
    sel->lifted = true;
    sel->state = SEL_FLOATING;
    return 1;
}

/* ---- outline ---- */

uint8_t* selection_outline_mask(const SELECTION* sel, int width, int height, int* x, int* y, int* w, int* h) {
    __t_assert_null(sel);
    __t_assert_null(x);
    __t_assert_null(y);
    __t_assert_null(w);
    __t_assert_null(h);
    if (sel->state != SEL_FLOATING || sel->w <= 0 || sel->h <= 0 || width <= 0 || height <= 0) return NULL;
    bool lasso = sel->lasso && sel->points && sel->count >= 3;
    int n = lasso ? sel->count : 4;
    float* p = NULL;
    Malloc(p, float, 2 * (size_t)n, return NULL);
    if (lasso) {
        memcpy(p, sel->points, sizeof(float) * 2 * (size_t)n);
    } else {
        const float corners[8] = {0, 0, (float)sel->w, 0, (float)sel->w, (float)sel->h, 0, (float)sel->h};
        for (int i = 0; i < 8; i += 2) {
            p[i] = corners[i] + (float)sel->x;
            p[i + 1] = corners[i + 1] + (float)sel->y;
        }
    }
    /* An unmoved float keeps its points exactly, so the outline is the very
     * mask it was lifted with. */
    if (!selection_is_identity(sel)) {
        ALLEGRO_TRANSFORM t;
        selection_build_transform(sel, &t);
        for (int i = 0; i < n; i++) {
            float px = p[2 * i] - (float)sel->x, py = p[2 * i + 1] - (float)sel->y;
            al_transform_coordinates(&t, &px, &py);
            p[2 * i] = px;
            p[2 * i + 1] = py;
        }
    }
    float min_x = p[0], max_x = p[0], min_y = p[1], max_y = p[1];
    for (int i = 1; i < n; i++) {
        min_x = fminf(min_x, p[2 * i]);
        max_x = fmaxf(max_x, p[2 * i]);
        min_y = fminf(min_y, p[2 * i + 1]);
        max_y = fmaxf(max_y, p[2 * i + 1]);
    }
    uint8_t* mask = NULL;
    if (isfinite(min_x) && isfinite(min_y) && isfinite(max_x) && isfinite(max_y)) {
        /* Clamped as floats first so far-off points cannot overflow an int. */
        int x0 = (int)fminf(fmaxf(floorf(min_x), 0.0f), (float)width);
        int y0 = (int)fminf(fmaxf(floorf(min_y), 0.0f), (float)height);
        int x1 = (int)fminf(fmaxf(ceilf(max_x), 0.0f), (float)width);
        int y1 = (int)fminf(fmaxf(ceilf(max_y), 0.0f), (float)height);
        if (x1 > x0 && y1 > y0) {
            Malloc(mask, uint8_t, (size_t)(x1 - x0) * (size_t)(y1 - y0), );
            if (mask) {
                _selection_polygon_mask(p, n, x0, y0, x1 - x0, y1 - y0, mask);
                *x = x0, *y = y0, *w = x1 - x0, *h = y1 - y0;
            }
        }
    }
    free(p);
    return mask;
}

/* ---- transform ---- */

int selection_get_center(const SELECTION* sel, float* cx, float* cy) {
    __t_assert(sel);
    __t_assert(cx);
    __t_assert(cy);
    if (sel->state != SEL_FLOATING) return 0;
    *cx = (float)sel->x + (float)sel->w / 2.0f + sel->offset_x;
    *cy = (float)sel->y + (float)sel->h / 2.0f + sel->offset_y;
    return 1;
}

int selection_get_position(const SELECTION* sel, int* x, int* y) {
    __t_assert(sel);
    __t_assert(x);
    __t_assert(y);
    if (sel->state != SEL_FLOATING) return 0;
    /* Far-off offsets are held inside int range. */
    double ox = fmin(fmax((double)roundf(sel->offset_x), -1e9), 1e9);
    double oy = fmin(fmax((double)roundf(sel->offset_y), -1e9), 1e9);
    *x = sel->x + (int)ox;
    *y = sel->y + (int)oy;
    return 1;
}

void selection_nudge(SELECTION* sel, float dx, float dy) {
    __t_assert_void(sel);
    if (sel->state != SEL_FLOATING) return;
    sel->offset_x += dx;
    sel->offset_y += dy;
}

void selection_build_transform(const SELECTION* sel, ALLEGRO_TRANSFORM* out) {
    __t_assert_void(out);
    al_identity_transform(out);
    __t_assert_void(sel);
    float hw = (float)sel->w / 2.0f, hh = (float)sel->h / 2.0f;
    al_translate_transform(out, -hw, -hh);
    al_scale_transform(out, sel->scale_x, sel->scale_y);
    al_rotate_transform(out, sel->rotation);
    al_translate_transform(out, hw, hh);
    al_translate_transform(out, (float)sel->x + sel->offset_x, (float)sel->y + sel->offset_y);
}

bool selection_is_identity(const SELECTION* sel) {
    if (!sel) return true;
    return sel->offset_x == 0.0f && sel->offset_y == 0.0f && sel->scale_x == 1.0f && sel->scale_y == 1.0f &&
           sel->rotation == 0.0f;
}

/* ---- handles ---- */

// Screen positions of the four corners (0..3, clockwise from the top-left),
// the four edge midpoints (4..7: top, right, bottom, left), the centre (8)
// and the rotate handle (9).
static void _selection_screen_points(const SELECTION* sel, const VIEW* view, float out[10][2]) {
    ALLEGRO_TRANSFORM m;
    selection_build_transform(sel, &m);
    float w = (float)sel->w, h = (float)sel->h;
    const float local[9][2] = {{0, 0}, {w, 0}, {w, h}, {0, h}, {w / 2, 0}, {w, h / 2}, {w / 2, h}, {0, h / 2}, {w / 2, h / 2}};
    for (int i = 0; i < 9; i++) {
        float cx = local[i][0], cy = local[i][1];
        al_transform_coordinates(&m, &cx, &cy);
        view_canvas_to_screen(view, cx, cy, &out[i][0], &out[i][1]);
    }
    float dx = out[4][0] - out[8][0], dy = out[4][1] - out[8][1];
    float len = fmaxf(sqrtf(dx * dx + dy * dy), 0.001f);
    out[9][0] = out[4][0] + dx / len * SELECTION_ROTATE_DISTANCE;
    out[9][1] = out[4][1] + dy / len * SELECTION_ROTATE_DISTANCE;
}

int selection_hit_test(const SELECTION* sel, const VIEW* view, float sx, float sy) {
    __t_assert(sel);
    __t_assert(view);
    if (sel->state != SEL_FLOATING) return SELECTION_HANDLE_NONE;
    float pts[10][2];
    _selection_screen_points(sel, view, pts);
    const float r2 = SELECTION_HANDLE_RADIUS * SELECTION_HANDLE_RADIUS;
    /* The rotate handle first, then corners, then edges: the order decides
     * which one a press near several gets. */
    const int order[9] = {9, 0, 1, 2, 3, 4, 5, 6, 7};
    const int codes[9] = {SELECTION_HANDLE_ROTATE,     SELECTION_HANDLE_TOP_LEFT, SELECTION_HANDLE_TOP_RIGHT,
                          SELECTION_HANDLE_BOTTOM_RIGHT, SELECTION_HANDLE_BOTTOM_LEFT, SELECTION_HANDLE_TOP,
                          SELECTION_HANDLE_RIGHT,      SELECTION_HANDLE_BOTTOM,   SELECTION_HANDLE_LEFT};
    for (int i = 0; i < 9; i++) {
        float dx = sx - pts[order[i]][0], dy = sy - pts[order[i]][1];
        if (dx * dx + dy * dy <= r2) return codes[i];
    }
    bool negative = false, positive = false;
    for (int i = 0; i < 4; i++) {
        const float* a = pts[i];
        const float* b = pts[(i + 1) % 4];
        float cross = (b[0] - a[0]) * (sy - a[1]) - (b[1] - a[1]) * (sx - a[0]);
        if (cross < 0.0f) negative = true;
        if (cross > 0.0f) positive = true;
    }
    return negative && positive ? SELECTION_HANDLE_NONE : SELECTION_HANDLE_MOVE;
}

void selection_drag_begin(SELECTION* sel, int code, float x, float y) {
    __t_assert_void(sel);
    if (code < SELECTION_HANDLE_NONE || code > SELECTION_HANDLE_ROTATE) code = SELECTION_HANDLE_NONE;
    sel->drag_type = code;
    sel->drag_start_x = x;
    sel->drag_start_y = y;
    sel->saved_offset_x = sel->offset_x;
    sel->saved_offset_y = sel->offset_y;
    sel->saved_rotation = sel->rotation;
    if (_selection_is_scale_handle(code)) {
        _selection_anchor_local(code, (float)sel->w, (float)sel->h, &sel->anchor_local_x, &sel->anchor_local_y);
        ALLEGRO_TRANSFORM m;
        selection_build_transform(sel, &m);
        sel->anchor_canvas_x = sel->anchor_local_x;
        sel->anchor_canvas_y = sel->anchor_local_y;
        al_transform_coordinates(&m, &sel->anchor_canvas_x, &sel->anchor_canvas_y);
    }
}

// Sets the scale, floored so a handle dragged past its anchor collapses the
// float rather than mirroring it, and moves the float so the anchor stays.
static void _selection_apply_scale(SELECTION* sel, float sx, float sy) {
    sel->scale_x = fmaxf(sx, SELECTION_MIN_SCALE);
    sel->scale_y = fmaxf(sy, SELECTION_MIN_SCALE);
    float hw = (float)sel->w / 2.0f, hh = (float)sel->h / 2.0f;
    float lx = (sel->anchor_local_x - hw) * sel->scale_x, ly = (sel->anchor_local_y - hh) * sel->scale_y;
    float c = cosf(sel->saved_rotation), s = sinf(sel->saved_rotation);
    sel->offset_x = sel->anchor_canvas_x - hw - (c * lx - s * ly) - (float)sel->x;
    sel->offset_y = sel->anchor_canvas_y - hh - (s * lx + c * ly) - (float)sel->y;
}

void selection_drag_update(SELECTION* sel, float x, float y, bool shift_held) {
    __t_assert_void(sel);
    if (sel->state != SEL_FLOATING || !isfinite(x) || !isfinite(y)) return;
    int code = sel->drag_type;
    float r = sel->saved_rotation;
    if (code == SELECTION_HANDLE_MOVE) {
        sel->offset_x = sel->saved_offset_x + (x - sel->drag_start_x);
        sel->offset_y = sel->saved_offset_y + (y - sel->drag_start_y);
        return;
    }
    if (code == SELECTION_HANDLE_ROTATE) {
        float cx = (float)sel->x + sel->saved_offset_x + (float)sel->w / 2.0f;
        float cy = (float)sel->y + sel->saved_offset_y + (float)sel->h / 2.0f;
        float rotation = r + atan2f(y - cy, x - cx) - atan2f(sel->drag_start_y - cy, sel->drag_start_x - cx);
        if (shift_held) rotation = roundf(rotation / SELECTION_ROTATE_STEP) * SELECTION_ROTATE_STEP;
        sel->rotation = rotation;
        return;
    }
    if (!_selection_is_scale_handle(code)) return;
    float dx = x - sel->anchor_canvas_x, dy = y - sel->anchor_canvas_y;
    float c = cosf(r), s = sinf(r);
    float u = c * dx + s * dy, v = c * dy - s * dx;
    float hx, hy;
    _selection_handle_local(code, (float)sel->w, (float)sel->h, &hx, &hy);
    hx -= sel->anchor_local_x;
    hy -= sel->anchor_local_y;
    float sx = sel->scale_x, sy = sel->scale_y;
    bool corner = code <= SELECTION_HANDLE_BOTTOM_LEFT;
    bool changes_x = corner || code == SELECTION_HANDLE_RIGHT || code == SELECTION_HANDLE_LEFT;
    bool changes_y = corner || code == SELECTION_HANDLE_TOP || code == SELECTION_HANDLE_BOTTOM;
    if (changes_x && fabsf(hx) > 0.001f) sx = u / hx;
    if (changes_y && fabsf(hy) > 0.001f) sy = v / hy;
    if (corner && shift_held) {
        float m = fmaxf(fabsf(sx), fabsf(sy));
        sx = copysignf(m, sx);
        sy = copysignf(m, sy);
    }
    _selection_apply_scale(sel, sx, sy);
}

void selection_drag_end(SELECTION* sel) {
    __t_assert_void(sel);
    sel->drag_type = SELECTION_HANDLE_NONE;
}

/* ---- laying the float down ---- */

// Records the tiles of the given boxes on `layer` as one undo step.
static int _selection_record(DOCUMENT* doc, LAYER* layer, const float (*boxes)[4], int count) {
    LAYER* active = doc->active_layer;
    doc->active_layer = layer;
    int result = 0;
    if (undo_begin(doc)) {
        for (int i = 0; i < count; i++) undo_mark_dirty_rect(doc, boxes[i][0], boxes[i][1], boxes[i][2], boxes[i][3]);
        result = _undo_commit(doc, NULL, 0, 0);
    } else {
        t_log(LOG_ERR, "could not record the selection on layer %s: the history is busy", layer_name_text(layer));
    }
    doc->active_layer = active;
    return result;
}

// The float's layer when it is still in the document and can be drawn on.
static LAYER* _selection_layer(const SELECTION* sel, const DOCUMENT* doc) {
    int index = 0;
    if (!sel->layer || !document_layer_index(doc, sel->layer, &index)) return NULL;
    return sel->layer->bitmap ? sel->layer : NULL;
}

// The float transform followed by the symmetry images about the centre.
static int _selection_copies(const SELECTION* sel, const SYMMETRY* sym, ALLEGRO_TRANSFORM* out) {
    selection_build_transform(sel, &out[0]);
    int count = 1;
    if (!sym || !sel->symmetric) return count;
    float scales[3][2] = {{-1, 1}, {1, -1}, {-1, -1}};
    int mirrors = sym->mode == SYMMETRY_X ? 1 : sym->mode == SYMMETRY_Y ? 1 : sym->mode == SYMMETRY_XY ? 3 : 0;
    int first = sym->mode == SYMMETRY_Y ? 1 : 0;
    for (int i = 0; i < mirrors; i++) {
        ALLEGRO_TRANSFORM image;
        al_identity_transform(&image);
        al_translate_transform(&image, -sym->cx, -sym->cy);
        al_scale_transform(&image, scales[first + i][0], scales[first + i][1]);
        al_translate_transform(&image, sym->cx, sym->cy);
        out[count] = out[0];
        al_compose_transform(&out[count], &image);
        count++;
    }
    if (sym->mode == SYMMETRY_RADIAL) {
        int n = std::min(std::max((int)sym->segments, 2), SELECTION_MAX_COPIES);
        for (int i = 1; i < n && count < SELECTION_MAX_COPIES; i++) {
            ALLEGRO_TRANSFORM image;
            al_identity_transform(&image);
            al_translate_transform(&image, -sym->cx, -sym->cy);
            al_rotate_transform(&image, (float)i * 6.2831855f / (float)n);
            al_translate_transform(&image, sym->cx, sym->cy);
            out[count] = out[0];
            al_compose_transform(&out[count], &image);
            count++;
        }
    }
    return count;
}

int selection_commit(SELECTION* sel, DOCUMENT* doc, const SYMMETRY* sym) {
    __t_assert(sel);
    if (sel->state != SEL_FLOATING || !sel->bitmap) {
        _selection_reset(sel);
        return 0;
    }
    if (!doc) {
        t_log(LOG_DEBUG, "if( !(%s) ) assert at line %d of %s", "doc", __LINE__, __FILE__);
        _selection_reset(sel);
        return 0;
    }
    LAYER* layer = _selection_layer(sel, doc);
    if (!layer) {
        t_log(LOG_ERR, "the floating selection's layer is gone; dropping the float");
        _selection_reset(sel);
        return 0;
    }
    /* Pixels laid down while another change holds the history would be shown
     * but never recorded nor stored: the float waits instead. */
    if (doc->undo && doc->undo->open) {
        t_log(LOG_ERR, "could not lay the float down on layer %s: the history is busy; it stays floating",
              layer_name_text(layer));
        return 0;
    }
    layer_settle(layer);
    ALLEGRO_TRANSFORM copies[SELECTION_MAX_COPIES];
    int count = _selection_copies(sel, sym, copies);
    /* One box for the lifted region and one per copy. */
    float boxes[SELECTION_MAX_COPIES + 1][4];
    boxes[0][0] = (float)sel->x;
    boxes[0][1] = (float)sel->y;
    boxes[0][2] = (float)(sel->x + sel->w - 1);
    boxes[0][3] = (float)(sel->y + sel->h - 1);
    ALLEGRO_BITMAP* previous = al_get_target_bitmap();
    al_set_target_bitmap(layer->bitmap);
    al_set_blender(ALLEGRO_ADD, ALLEGRO_ONE, ALLEGRO_INVERSE_ALPHA);
    float w = (float)sel->w, h = (float)sel->h;
    for (int i = 0; i < count; i++) {
        al_use_transform(&copies[i]);
        al_draw_bitmap(sel->bitmap, 0, 0, 0);
        const float corners[4][2] = {{0, 0}, {w, 0}, {w, h}, {0, h}};
        float* box = boxes[i + 1];
        for (int k = 0; k < 4; k++) {
            float cx = corners[k][0], cy = corners[k][1];
            al_transform_coordinates(&copies[i], &cx, &cy);
            if (k == 0 || cx < box[0]) box[0] = cx;
            if (k == 0 || cy < box[1]) box[1] = cy;
            if (k == 0 || cx > box[2]) box[2] = cx;
            if (k == 0 || cy > box[3]) box[3] = cy;
        }
    }
    ALLEGRO_TRANSFORM identity;
    al_identity_transform(&identity);
    al_use_transform(&identity);
    al_set_target_bitmap(previous);
    layer_touch(layer);
    /* A copy covers the pixels from floor(min) to ceil(max) - 1; marking its
     * far edge itself would take in a row and column of tiles it never
     * touches whenever it ends on a tile boundary. */
    for (int i = 1; i <= count; i++) {
        boxes[i][0] = floorf(boxes[i][0]);
        boxes[i][1] = floorf(boxes[i][1]);
        boxes[i][2] = ceilf(boxes[i][2]) - 1.0f;
        boxes[i][3] = ceilf(boxes[i][3]) - 1.0f;
    }
    int result = _selection_record(doc, layer, boxes, count + 1);
    _selection_reset(sel);
    return result;
}

void selection_cancel(SELECTION* sel) {
    __t_assert_void(sel);
    if (sel->lifted && sel->state == SEL_FLOATING && sel->bitmap && sel->layer && sel->layer->bitmap) {
        /* The hole is transparent exactly where the float is not, so drawing
         * the float over it gives back the cut pixels unchanged. */
        ALLEGRO_BITMAP* previous = al_get_target_bitmap();
        _selection_target(sel->layer->bitmap);
        al_set_blender(ALLEGRO_ADD, ALLEGRO_ONE, ALLEGRO_INVERSE_ALPHA);
        al_draw_bitmap(sel->bitmap, (float)sel->x, (float)sel->y, 0);
        al_set_target_bitmap(previous);
        layer_touch(sel->layer);
    }
    _selection_reset(sel);
}

int selection_delete(SELECTION* sel, DOCUMENT* doc) {
    __t_assert(sel);
    __t_assert(doc);
    int result = 0;
    if (sel->state == SEL_FLOATING && sel->lifted && doc->undo && doc->undo->open) {
        /* The hole could not be recorded; dropping the float now would show
         * a deletion the stored drawing never gets. */
        t_log(LOG_ERR, "could not delete the float: the history is busy; it stays floating");
        return 0;
    }
    if (sel->state == SEL_FLOATING && sel->layer && sel->lifted) {
        LAYER* layer = _selection_layer(sel, doc);
        if (layer) {
            const float box[1][4] = {
                {(float)sel->x, (float)sel->y, (float)(sel->x + sel->w - 1), (float)(sel->y + sel->h - 1)}};
            result = _selection_record(doc, layer, box, 1);
        }
    }
    _selection_reset(sel);
    return result;
}

/* ---- floats from elsewhere ---- */

ALLEGRO_BITMAP* selection_clone_float(const SELECTION* sel) {
    __t_assert_null(sel);
    if (sel->state != SEL_FLOATING || !sel->bitmap) return NULL;
    int flags = al_get_new_bitmap_flags(), format = al_get_new_bitmap_format();
    al_set_new_bitmap_format(ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE);
    al_set_new_bitmap_flags(ALLEGRO_MEMORY_BITMAP);
    ALLEGRO_BITMAP* copy = al_create_bitmap(al_get_bitmap_width(sel->bitmap), al_get_bitmap_height(sel->bitmap));
    al_set_new_bitmap_flags(flags);
    al_set_new_bitmap_format(format);
    if (!copy) {
        t_log(LOG_ERR, "could not create %dx%d copy of the selection", sel->w, sel->h);
        return NULL;
    }
    ALLEGRO_BITMAP* previous = al_get_target_bitmap();
    _selection_target(copy);
    al_set_blender(ALLEGRO_ADD, ALLEGRO_ONE, ALLEGRO_ZERO);
    al_draw_bitmap(sel->bitmap, 0, 0, 0);
    al_set_blender(ALLEGRO_ADD, ALLEGRO_ONE, ALLEGRO_INVERSE_ALPHA);
    al_set_target_bitmap(previous);
    return copy;
}

int selection_paste(SELECTION* sel, DOCUMENT* doc, ALLEGRO_BITMAP* src, int x, int y) {
    __t_assert(sel);
    __t_assert(doc);
    __t_assert(src);
    LAYER* layer = doc->active_layer;
    if (!layer || layer->locked || !layer->bitmap) return 0;
    int w = al_get_bitmap_width(src), h = al_get_bitmap_height(src);
    if (w <= 0 || h <= 0) return 0;
    /* The copy is made before the old float goes, so src may be that float. */
    ALLEGRO_BITMAP* bitmap = _selection_new_float(w, h);
    if (!bitmap) {
        t_log(LOG_ERR, "could not create %dx%d paste buffer", w, h);
        _selection_drop(sel);
        return 0;
    }
    ALLEGRO_BITMAP* previous = al_get_target_bitmap();
    _selection_target(bitmap);
    al_set_blender(ALLEGRO_ADD, ALLEGRO_ONE, ALLEGRO_ZERO);
    al_draw_bitmap(src, 0, 0, 0);
    al_set_blender(ALLEGRO_ADD, ALLEGRO_ONE, ALLEGRO_INVERSE_ALPHA);
    al_set_target_bitmap(previous);
    _selection_drop(sel);
    sel->bitmap = bitmap;
    sel->w = w;
    sel->h = h;
    sel->x = std::min(std::max(x, 0), std::max(doc->width - 1, 0));
    sel->y = std::min(std::max(y, 0), std::max(doc->height - 1, 0));
    sel->layer = layer;
    sel->state = SEL_FLOATING;
    return 1;
}

// Takes src in place of a pasted float, keeping its centre; with keep_size
// the scale changes so the float shows at the same size as before.
static int _selection_replace(SELECTION* sel, ALLEGRO_BITMAP* src, bool keep_size) {
    if (sel->state != SEL_FLOATING || sel->lifted || src == sel->bitmap) return 0;
    int w = al_get_bitmap_width(src), h = al_get_bitmap_height(src);
    if (w <= 0 || h <= 0) return 0;
    float ow = (float)sel->w, oh = (float)sel->h;
    sel->offset_x = sel->offset_x + ow / 2.0f - (float)w / 2.0f;
    sel->offset_y = sel->offset_y + oh / 2.0f - (float)h / 2.0f;
    if (keep_size && ow > 0.0f && oh > 0.0f) {
        sel->scale_x = sel->scale_x * ow / (float)w;
        sel->scale_y = sel->scale_y * oh / (float)h;
    }
    if (sel->bitmap) al_destroy_bitmap(sel->bitmap);
    sel->bitmap = src;
    sel->w = w;
    sel->h = h;
    /* A handle drag in progress goes on against the same handle of the new size. */
    if (sel->dragging && _selection_is_scale_handle(sel->drag_type))
        _selection_anchor_local(sel->drag_type, (float)w, (float)h, &sel->anchor_local_x, &sel->anchor_local_y);
    return 1;
}

int selection_resample_float(SELECTION* sel, ALLEGRO_BITMAP* src) {
    __t_assert(sel);
    __t_assert(src);
    return _selection_replace(sel, src, true);
}

int selection_restyle_float(SELECTION* sel, ALLEGRO_BITMAP* src) {
    __t_assert(sel);
    __t_assert(src);
    return _selection_replace(sel, src, false);
}

/* ---- overlay ---- */

// A closed outline in screen pixels: 3 px dark under 1 px light.
static void _selection_outline(const float* pts, int n) {
    if (n < 2) return;
    ALLEGRO_COLOR dark = _selection_premul(20, 20, 20, 160), light = _selection_premul(255, 255, 255, 220);
    al_draw_polygon(pts, n, ALLEGRO_LINE_JOIN_ROUND, dark, 3.0f, 1.0f);
    al_draw_polygon(pts, n, ALLEGRO_LINE_JOIN_ROUND, light, 1.0f, 1.0f);
}

void selection_draw(const SELECTION* sel, DOCUMENT* doc, const VIEW* view) {
    __t_assert_void(sel);
    __t_assert_void(doc);
    __t_assert_void(view);
    if (sel->state == SEL_NONE) return;
    ALLEGRO_TRANSFORM saved, identity;
    al_copy_transform(&saved, al_get_current_transform());
    al_identity_transform(&identity);
    al_set_blender(ALLEGRO_ADD, ALLEGRO_ONE, ALLEGRO_INVERSE_ALPHA);
    if (sel->state == SEL_SELECTING) {
        al_use_transform(&identity);
        if (sel->lasso && sel->points) {
            float* pts = NULL;
            Malloc(pts, float, (size_t)sel->count * 2, );
            if (pts) {
                for (int i = 0; i < sel->count; i++)
                    view_canvas_to_screen(view, sel->points[i * 2], sel->points[i * 2 + 1], &pts[i * 2], &pts[i * 2 + 1]);
                _selection_outline(pts, sel->count);
                free(pts);
            }
        } else if (!sel->lasso) {
            const float corners[4][2] = {
                {sel->start_x, sel->start_y}, {sel->end_x, sel->start_y}, {sel->end_x, sel->end_y}, {sel->start_x, sel->end_y}};
            float pts[8];
            for (int i = 0; i < 4; i++) view_canvas_to_screen(view, corners[i][0], corners[i][1], &pts[i * 2], &pts[i * 2 + 1]);
            _selection_outline(pts, 4);
        }
        al_use_transform(&saved);
        return;
    }
    if (sel->bitmap) {
        ALLEGRO_TRANSFORM m;
        selection_build_transform(sel, &m);
        al_compose_transform(&m, &view->transform);
        al_use_transform(&m);
        al_draw_bitmap(sel->bitmap, 0, 0, 0);
    }
    al_use_transform(&identity);
    float p[10][2];
    _selection_screen_points(sel, view, p);
    float frame[8] = {p[0][0], p[0][1], p[1][0], p[1][1], p[2][0], p[2][1], p[3][0], p[3][1]};
    _selection_outline(frame, 4);
    ALLEGRO_COLOR light = _selection_premul(255, 255, 255, 220), accent = _selection_premul(90, 150, 230, 230);
    al_draw_line(p[4][0], p[4][1], p[9][0], p[9][1], light, 1.0f);
    al_draw_filled_circle(p[9][0], p[9][1], 6.0f, accent);
    al_draw_circle(p[9][0], p[9][1], 6.0f, light, 1.0f);
    for (int i = 0; i < 8; i++) {
        al_draw_filled_rectangle(p[i][0] - 6.0f, p[i][1] - 6.0f, p[i][0] + 6.0f, p[i][1] + 6.0f, accent);
        al_draw_rectangle(p[i][0] - 6.0f, p[i][1] - 6.0f, p[i][0] + 6.0f, p[i][1] + 6.0f, light, 1.0f);
    }
    al_use_transform(&saved);
}
