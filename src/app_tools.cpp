/* app_tools: tool input routing, guides, and the clipboard and form commands. */
#include "app_tools.h"

#include "app_internal.h"

#include <allegro5/allegro_primitives.h>
#include <math.h>
#include <stdlib.h>
#include <string.h>

#include "canvas/fill.h"
#include "canvas/grid.h"
#include "platform/platform.h"
#include "t_log.h"

#define TOOLS_FORM_POINTS (FORM_MAX_SEGMENTS + 1)

// Canvas point of the pointer.
static void _tools_pointer(const PLUMARO_APP* app, float* x, float* y) {
    view_screen_to_canvas(&app->view, app->pointer_x, app->pointer_y, x, y);
}

// The view's zoom, 1 when it is not positive.
static float _tools_zoom(const PLUMARO_APP* app) { return app->view.zoom > 0.0f ? app->view.zoom : 1.0f; }

// Rounds half away from zero.
static float _tools_round(float v) { return v < 0.0f ? -floorf(-v + 0.5f) : floorf(v + 0.5f); }

/* ------------------------------------------------------------------------ */
/* Press, motion and release                                                */
/* ------------------------------------------------------------------------ */

// Press with the line or curve tool: edit, drag or commit the active form, or start a new one.
static void _tools_press_form(PLUMARO_APP* app, float px, float py) {
    if (form_is_active(&app->form)) {
        float z = _tools_zoom(app);
        int hit = form_hit_test(&app->form, px, py, 9.0f / z, 8.0f / z);
        if (hit == -2) {
            plumaro_app_commit_form(app);
        } else if (hit == -1) {
            form_drag_begin(&app->form, -1, px, py);
        } else {
            grid_snap_view(&app->grid, px, py, &px, &py);
            form_drag_begin(&app->form, hit, px, py);
        }
        return;
    }
    grid_snap_view(&app->grid, px, py, &px, &py);
    app->drag.form_start_x = px;
    app->drag.form_start_y = py;
    app->drag.form_creating = 1;
}

// Press with the selection tools: grab the float, lay it down, or start a new selection.
static void _tools_press_selection(PLUMARO_APP* app, float px, float py) {
    if (app->selection.state == SEL_FLOATING) {
        int k = selection_hit_test(&app->selection, &app->view, app->pointer_x, app->pointer_y);
        if (k != SELECTION_HANDLE_NONE) {
            app->selection.dragging = true;
            selection_drag_begin(&app->selection, k, px, py);
        } else {
            plumaro_app_commit_float(app);
        }
        return;
    }
    if (app->tool == TOOL_LASSO) {
        selection_begin_lasso(&app->selection, px, py);
    } else {
        grid_snap_view(&app->grid, px, py, &px, &py);
        selection_begin_marquee(&app->selection, px, py);
    }
    app->selection.dragging = true;
}

// Fills at canvas point (px, py) with the brush colour. A selection lifted
// from a layer limits the fill to its outline: an unmoved one puts its pixels
// back, lets the fill in and is lifted again, so it stays selected; a moved
// one is laid down first, as a press off it would. Pasted pixels, shapes and
// text are not a selection and stay as they are.
static int _tools_fill(PLUMARO_APP* app, float px, float py) {
    FILL_OPTIONS options;
    fill_options_defaults(&options);
    SELECTION* sel = &app->selection;
    uint8_t* mask = NULL;
    int relift = 0, lasso = 0, count = 0;
    float* points = NULL;
    int x = 0, y = 0, w = 0, h = 0;
    if (sel->state == SEL_FLOATING && sel->lifted) {
        mask = selection_outline_mask(sel, app->doc->width, app->doc->height, &options.mask_x, &options.mask_y,
                                      &options.mask_w, &options.mask_h);
        if (!mask) return 0; /* the outline lies off the canvas: nothing in it can change */
        options.mask = mask;
        if (selection_is_identity(sel) && sel->layer == app->doc->active_layer) {
            lasso = sel->lasso && sel->points;
            count = lasso ? sel->count : 0;
            if (lasso) Malloc(points, float, 2 * (size_t)count, free(mask); return 0);
            if (lasso) memcpy(points, sel->points, sizeof(float) * 2 * (size_t)count);
            x = sel->x, y = sel->y, w = sel->w, h = sel->h;
            selection_cancel(sel);
            relift = 1;
        } else if (!plumaro_app_commit_float(app)) {
            free(mask);
            return 0;
        }
    }
    int filled = fill_flood_with(app->doc, px, py, &app->brush.color, &options);
    if (relift) {
        if (lasso) {
            selection_begin_lasso(sel, points[0], points[1]);
            for (int i = 1; i < count; i++) selection_add_lasso_point(sel, points[2 * i], points[2 * i + 1]);
        } else {
            selection_begin_marquee(sel, (float)x, (float)y);
            selection_update_marquee(sel, (float)(x + w), (float)(y + h));
        }
        selection_end_marquee(sel, app->doc);
    }
    free(points);
    free(mask);
    if (filled == 1) plumaro_app_changed(app, APP_CHANGED_LAYERS);
    app->dirty = 1;
    return filled;
}

int _tools_press(PLUMARO_APP* app, float px, float py) {
    __t_assert(app);
    __t_assert(app->doc);
    switch (app->tool) {
        case TOOL_FILL:
            if (platform_is_touch_primary()) {
                app->drag.fill_x = px;
                app->drag.fill_y = py;
                app->drag.fill_pending = 1;
            } else {
                _tools_fill(app, px, py);
            }
            return 1;
        case TOOL_GRADIENT:
            grid_snap_view(&app->grid, px, py, &px, &py);
            app->drag.gradient_x = px;
            app->drag.gradient_y = py;
            app->drag.gradient_dragging = 1;
            return 1;
        case TOOL_SELECT:
        case TOOL_LASSO:
            _tools_press_selection(app, px, py);
            return 1;
        case TOOL_LINE:
        case TOOL_CURVE:
            _tools_press_form(app, px, py);
            return 1;
        default:
            return 0;
    }
}

// Moves a dragged float; a moved float's centre lands on the half-step lattice.
static void _tools_drag_float(PLUMARO_APP* app, float px, float py) {
    bool shift = plumaro_app_shift_down(app) != 0;
    int kind = app->selection.drag_type;
    if (kind >= SELECTION_HANDLE_TOP_LEFT && kind <= SELECTION_HANDLE_LEFT) {
        if (fabsf(app->selection.rotation) <= 0.0001f) grid_snap_view(&app->grid, px, py, &px, &py);
        selection_drag_update(&app->selection, px, py, shift);
        plumaro_app_changed(app, APP_CHANGED_FLOAT);
        return;
    }
    selection_drag_update(&app->selection, px, py, shift);
    plumaro_app_changed(app, APP_CHANGED_FLOAT);
    float step, cx, cy;
    if (kind == SELECTION_HANDLE_MOVE && grid_snap_step(&app->grid, &step) && step > 0.0f &&
        selection_get_center(&app->selection, &cx, &cy)) {
        float h = step / 2.0f;
        selection_nudge(&app->selection, _tools_round(cx / h) * h - cx, _tools_round(cy / h) * h - cy);
    }
}

int _tools_motion(PLUMARO_APP* app) {
    __t_assert(app);
    if (gesture_blocks_strokes(&app->gesture)) return 0;
    float px, py;
    _tools_pointer(app, &px, &py);
    if (app->form.dragging) {
        if (app->form.drag_index != -1) grid_snap_view(&app->grid, px, py, &px, &py);
        form_drag_update(&app->form, px, py);
        return 1;
    }
    if (app->selection.dragging) {
        if (app->selection.state == SEL_SELECTING) {
            if (app->selection.lasso) {
                selection_add_lasso_point(&app->selection, px, py);
            } else {
                grid_snap_view(&app->grid, px, py, &px, &py);
                selection_update_marquee(&app->selection, px, py);
            }
        } else if (app->selection.state == SEL_FLOATING) {
            _tools_drag_float(app, px, py);
        }
        return 1;
    }
    return 0;
}

int _tools_release_selection(PLUMARO_APP* app) {
    __t_assert(app);
    if (!app->selection.dragging) return 0;
    app->selection.dragging = false;
    if (app->selection.state == SEL_SELECTING) {
        selection_end_marquee(&app->selection, app->doc);
    } else if (app->selection.state == SEL_FLOATING) {
        selection_drag_end(&app->selection);
        plumaro_app_changed(app, APP_CHANGED_FLOAT);
    }
    return 1;
}

void _tools_release(PLUMARO_APP* app, float sx, float sy) {
    __t_assert_void(app);
    __t_assert_void(app->doc);
    float qx, qy;
    view_screen_to_canvas(&app->view, sx, sy, &qx, &qy);
    if (app->drag.gradient_dragging) {
        app->drag.gradient_dragging = 0;
        if (app->tool == TOOL_GRADIENT) {
            grid_snap_view(&app->grid, qx, qy, &qx, &qy);
            fill_gradient(app->doc, app->drag.gradient_x, app->drag.gradient_y, qx, qy, &app->brush.color);
        }
    }
    if (app->form.dragging) {
        form_drag_end(&app->form);
        return;
    }
    if (app->drag.form_creating) {
        app->drag.form_creating = 0;
        if (app->tool == TOOL_LINE || app->tool == TOOL_CURVE) {
            grid_snap_view(&app->grid, qx, qy, &qx, &qy);
            float z = _tools_zoom(app);
            float dx = (qx - app->drag.form_start_x) * z, dy = (qy - app->drag.form_start_y) * z;
            if (dx * dx + dy * dy >= 16.0f)
                form_begin(&app->form, app->tool == TOOL_CURVE ? FORM_CURVE : FORM_LINE, app->drag.form_start_x, app->drag.form_start_y,
                           qx, qy);
        }
    }
    if (app->drag.fill_pending) {
        app->drag.fill_pending = 0;
        if (app->tool == TOOL_FILL) _tools_fill(app, app->drag.fill_x, app->drag.fill_y);
    }
}

void _tools_end_drags(PLUMARO_APP* app) {
    __t_assert_void(app);
    form_drag_end(&app->form);
    if (app->selection.dragging) {
        if (app->selection.state == SEL_SELECTING) {
            selection_discard(&app->selection);
        } else if (app->selection.state == SEL_FLOATING) {
            selection_drag_end(&app->selection);
            plumaro_app_changed(app, APP_CHANGED_FLOAT);
        }
    }
    app->selection.dragging = false;
}

/* ------------------------------------------------------------------------ */
/* Preview and guides                                                        */
/* ------------------------------------------------------------------------ */

// Everything the preview depends on, packed so that any change changes the bytes.
static void _tools_preview_key(const PLUMARO_APP* app, int segments, uint8_t key[96]) {
    memset(key, 0, 96);
    uint8_t* p = key;
    auto put = [&p](const void* v, size_t n) {
        memcpy(p, v, n);
        p += n;
    };
    put(&app->form.kind, 4);
    put(app->form.x, sizeof(app->form.x));
    put(app->form.y, sizeof(app->form.y));
    put(&app->symmetry.mode, 4);
    put(&app->symmetry.cx, 4);
    put(&app->symmetry.cy, 4);
    put(&app->symmetry.segments, 4);
    const DOCUMENT* doc = app->doc;
    put(&doc, sizeof(doc));
    put(&app->doc->width, 4);
    put(&app->doc->height, 4);
    put(&segments, 4);
    put(&app->brush.size, 4);
    unsigned char rgba[4];
    al_unmap_rgba(app->brush.color, &rgba[0], &rgba[1], &rgba[2], &rgba[3]);
    put(rgba, 4);
    put(&app->brush.tip, 4);
    put(&app->brush.eraser, 4);
}

void _tools_form_preview(PLUMARO_APP* app) {
    __t_assert_void(app);
    if (app->stroke.active || !form_is_active(&app->form) || !app->doc) {
        brush_preview_clear();
        return;
    }
    int segments = form_flatten_segments(&app->form, app->view.zoom);
    uint8_t key[96];
    _tools_preview_key(app, segments, key);
    if (brush_stroke_buffer_shown() && memcmp(key, app->form_preview_key, sizeof(key)) == 0) return;
    float xy[TOOLS_FORM_POINTS * 2];
    int count = form_flatten(&app->form, segments, xy, TOOLS_FORM_POINTS);
    if (count < 2) {
        brush_preview_clear();
        return;
    }
    brush_preview_polyline(app->doc, &app->brush, xy, count, &app->symmetry);
    memcpy(app->form_preview_key, key, sizeof(key));
}

// The form's path, handle lines and control points in screen space.
static void _tools_draw_form_overlay(PLUMARO_APP* app) {
    float xy[TOOLS_FORM_POINTS * 2];
    int count = form_flatten(&app->form, form_flatten_segments(&app->form, app->view.zoom), xy, TOOLS_FORM_POINTS);
    for (int i = 0; i < count; i++) view_canvas_to_screen(&app->view, xy[2 * i], xy[2 * i + 1], &xy[2 * i], &xy[2 * i + 1]);
    if (count >= 2) al_draw_polyline(xy, 2 * sizeof(float), count, ALLEGRO_LINE_JOIN_NONE, ALLEGRO_LINE_CAP_NONE,
                                     al_premul_rgba(0, 0, 0, 130), 1.0f, 1.0f);
    float sx[FORM_MAX_POINTS], sy[FORM_MAX_POINTS];
    int n = app->form.count < FORM_MAX_POINTS ? app->form.count : FORM_MAX_POINTS;
    for (int i = 0; i < n; i++) view_canvas_to_screen(&app->view, app->form.x[i], app->form.y[i], &sx[i], &sy[i]);
    if (app->form.kind == FORM_CURVE && n == 4) {
        ALLEGRO_COLOR handle = al_premul_rgba(90, 140, 220, 160);
        al_draw_line(sx[0], sy[0], sx[1], sy[1], handle, 1.0f);
        al_draw_line(sx[3], sy[3], sx[2], sy[2], handle, 1.0f);
    }
    for (int i = 0; i < n; i++) {
        al_draw_filled_rectangle(sx[i] - 9.0f, sy[i] - 9.0f, sx[i] + 9.0f, sy[i] + 9.0f, al_premul_rgba(70, 130, 235, 200));
        al_draw_rectangle(sx[i] - 9.0f, sy[i] - 9.0f, sx[i] + 9.0f, sy[i] + 9.0f, al_premul_rgba(255, 255, 255, 220), 1.0f);
    }
}

void _tools_draw_guides(PLUMARO_APP* app) {
    __t_assert_void(app);
    if (app->drag.gradient_dragging) {
        float gx, gy;
        view_canvas_to_screen(&app->view, app->drag.gradient_x, app->drag.gradient_y, &gx, &gy);
        al_draw_line(gx, gy, app->pointer_x, app->pointer_y, al_premul_rgba(0, 0, 0, 160), 3.0f);
        al_draw_line(gx, gy, app->pointer_x, app->pointer_y, al_premul_rgba(255, 255, 255, 200), 1.0f);
    }
    if (form_is_active(&app->form)) _tools_draw_form_overlay(app);
    if (app->drag.form_creating) {
        float fx, fy;
        view_canvas_to_screen(&app->view, app->drag.form_start_x, app->drag.form_start_y, &fx, &fy);
        ALLEGRO_COLOR c = app->brush.color;
        float a = 0.5f * c.a;
        float width = fmaxf(1.0f, app->brush.size * app->view.zoom);
        al_draw_line(fx, fy, app->pointer_x, app->pointer_y, al_map_rgba_f(c.r * a, c.g * a, c.b * a, a), width);
        al_draw_line(fx, fy, app->pointer_x, app->pointer_y, al_premul_rgba(0, 0, 0, 130), 1.0f);
    }
}

/* ------------------------------------------------------------------------ */
/* Clipboard and form commands                                               */
/* ------------------------------------------------------------------------ */

int plumaro_app_clipboard_copy(PLUMARO_APP* app) {
    __t_assert(app);
    if (app->selection.state != SEL_FLOATING) return 0;
    ALLEGRO_BITMAP* copy = selection_clone_float(&app->selection);
    if (!copy) return 0;
    if (app->clip_bitmap) al_destroy_bitmap(app->clip_bitmap);
    app->clip_bitmap = copy;
    int x = 0, y = 0;
    selection_get_position(&app->selection, &x, &y);
    app->clip_x = x;
    app->clip_y = y;
    app->dirty = 1;
    return 1;
}

int plumaro_app_clipboard_cut(PLUMARO_APP* app) {
    __t_assert(app);
    if (!plumaro_app_clipboard_copy(app)) return 0;
    selection_delete(&app->selection, app->doc);
    plumaro_app_changed(app, APP_CHANGED_LAYERS);
    app->dirty = 1;
    return app->selection.state == SEL_FLOATING ? 0 : 1; /* a float that could not go stays */
}

int plumaro_app_clipboard_paste(PLUMARO_APP* app) {
    __t_assert(app);
    if (!app->clip_bitmap) return 0;
    if (!plumaro_app_commit_float(app)) {
        /* The float could not be laid down (a stroke holds the history);
         * pasting over it would drop it. */
        app->dirty = 1;
        return 0;
    }
    int result = selection_paste(&app->selection, app->doc, app->clip_bitmap, app->clip_x + 16, app->clip_y + 16);
    if (result == 1) {
        app->tool = TOOL_SELECT;
        app->clip_x = app->selection.x;
        app->clip_y = app->selection.y;
    }
    plumaro_app_changed(app, APP_CHANGED_LAYERS);
    plumaro_app_changed(app, APP_CHANGED_TOOL);
    app->dirty = 1;
    return result;
}

void plumaro_app_commit_form(PLUMARO_APP* app) {
    __t_assert_void(app);
    if (!form_is_active(&app->form)) return;
    if (app->doc) {
        form_commit(&app->form, app->doc, &app->stroke, &app->brush, &app->symmetry, app->view.zoom);
        plumaro_app_changed(app, APP_CHANGED_LAYERS);
    } else {
        form_clear(&app->form);
    }
    app->dirty = 1;
}

void plumaro_app_cancel_form(PLUMARO_APP* app) {
    __t_assert_void(app);
    if (!form_is_active(&app->form)) return;
    form_clear(&app->form);
    app->dirty = 1;
}

/* ------------------------------------------------------------------------ */
/* Edits and interactions in progress                                        */
/* ------------------------------------------------------------------------ */

int plumaro_app_commit_float(PLUMARO_APP* app) {
    __t_assert(app);
    if (app->selection.state != SEL_FLOATING) return 1;
    if (app->doc) selection_commit(&app->selection, app->doc, &app->symmetry);
    plumaro_app_changed(app, APP_CHANGED_LAYERS);
    app->dirty = 1;
    /* The float stays when another change holds the history. */
    return app->selection.state != SEL_FLOATING;
}

void plumaro_app_settle(PLUMARO_APP* app) {
    __t_assert_void(app);
    plumaro_app_commit_float(app);
    plumaro_app_commit_form(app);
}

void plumaro_app_cancel_interaction(PLUMARO_APP* app) {
    __t_assert_void(app);
    /* A stroke holds its layer and an open undo step: undo it before its
     * flag goes. */
    if (app->stroke.active && app->doc) brush_stroke_abort(&app->stroke, app->doc);
    app->stroke.active = 0;
    _tools_end_drags(app);
    app->drag = APP_DRAG{};
    app->dirty = 1;
}

void plumaro_app_finish_edits(PLUMARO_APP* app) {
    __t_assert_void(app);
    if (app->stroke.active && app->doc) brush_stroke_end(&app->stroke, app->doc);
    plumaro_app_settle(app);
    plumaro_app_cancel_interaction(app);
}
