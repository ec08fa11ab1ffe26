/* app_state: the splash and canvas states and the switch between them. */
#include "app_state.h"

#include <allegro5/allegro_font.h>
#include <allegro5/allegro_primitives.h>
#include <math.h>
#include <stdio.h>

#include "app_commands.h"
#include "app_internal.h"
#include "app_tools.h"
#include "canvas/brush.h"
#include "canvas/compositor.h"
#include "canvas/view.h"
#include "canvas/grid.h"
#include "gui/gui.h"
#include "gui/i18n.h"
#include "t_log.h"

/* ------------------------------------------------------------------------ */
/* Splash                                                                    */
/* ------------------------------------------------------------------------ */

void _splash_enter(PLUMARO_APP* app) {
    __t_assert_void(app);
    app->splash_elapsed = 0.0;
}

void _splash_update(PLUMARO_APP* app, double dt) {
    __t_assert_void(app);
    app->splash_elapsed += dt;
    if (app->splash_elapsed >= APP_SPLASH_SECONDS) app_state_switch(app, APP_STATE_CANVAS);
}

void _splash_handle_event(PLUMARO_APP* app, ALLEGRO_EVENT* event) {
    __t_assert_void(app);
    __t_assert_void(event);
    if (event->type == ALLEGRO_EVENT_KEY_DOWN || event->type == ALLEGRO_EVENT_MOUSE_BUTTON_DOWN)
        app_state_switch(app, APP_STATE_CANVAS);
}

void _splash_draw(PLUMARO_APP* app) {
    __t_assert_void(app);
    __t_assert_void(app->font);
    float h = (float)al_get_font_line_height(app->font);
    float d = h + 0.35f * h;
    float y0 = (float)app->display_h / 2.0f - 1.5f * d;
    float cx = (float)app->display_w / 2.0f;
    al_draw_text(app->font, al_map_rgb(230, 230, 230), cx, y0, ALLEGRO_ALIGN_CENTRE, "Plumaro");
    al_draw_text(app->font, al_map_rgb(150, 150, 150), cx, y0 + d, ALLEGRO_ALIGN_CENTRE,
                 "version " PLUMARO_VERSION_TEXT);
    al_draw_text(app->font, al_map_rgb(120, 120, 120), cx, y0 + 2 * d, ALLEGRO_ALIGN_CENTRE,
                 i18n_tr("two fingers: pan / zoom / rotate"));
    al_draw_text(app->font, al_map_rgb(120, 120, 120), cx, y0 + 3 * d, ALLEGRO_ALIGN_CENTRE,
                 i18n_tr("desktop: wheel = zoom, Ctrl+wheel = rotate, F = reset view"));
}

/* ------------------------------------------------------------------------ */
/* Canvas                                                                    */
/* ------------------------------------------------------------------------ */

void _canvas_enter(PLUMARO_APP* app) {
    __t_assert_void(app);
    __t_assert_void(app->doc);
    document_make_bitmaps(app->doc);
    view_center(&app->view, app->doc->width, app->doc->height, app->display_w, app->display_h);
    t_log(LOG_INFO, "canvas ready, %dx%d document on %dx%d display", app->doc->width, app->doc->height,
          app->display_w, app->display_h);
}

void _canvas_leave(PLUMARO_APP* app) {
    __t_assert_void(app);
    plumaro_app_finish_edits(app);
}

// Draws the stroke in progress (or a preview) over the layers, as it will look once committed.
static void _canvas_draw_stroke_buffer(PLUMARO_APP* app) {
    ALLEGRO_BITMAP* buffer = brush_stroke_buffer_shown();
    int x, y, w, h;
    /* Outside its touched bounds the buffer is transparent and would not
     * change a pixel, so only that part is drawn. */
    if (!buffer || !brush_stroke_buffer_bounds(&x, &y, &w, &h)) return;
    /* A live stroke is shown in the colour and opacity it will be laid down
     * with, taken at its start; a preview shows the brush as it is now. */
    ALLEGRO_COLOR c = app->stroke.active ? app->stroke.color : app->brush.color;
    float a = (app->stroke.active ? app->stroke.opacity : app->brush.opacity) * c.a;
    if (!(a > 0.0f)) a = 0.0f;
    if (a > 1.0f) a = 1.0f;
    ALLEGRO_COLOR tint = al_map_rgba_f(c.r * a, c.g * a, c.b * a, a);
    view_apply(&app->view);
    al_draw_tinted_bitmap_region(buffer, tint, (float)x, (float)y, (float)w, (float)h, (float)x, (float)y, 0);
    ALLEGRO_TRANSFORM identity;
    al_identity_transform(&identity);
    al_use_transform(&identity);
}

// While a stroke runs along grid segments: a line from the anchor to the pointer.
static void _canvas_draw_snap_guide(PLUMARO_APP* app) {
    if (!app->drag.snap_line || !app->stroke.active) return;
    float ax, ay;
    view_canvas_to_screen(&app->view, app->drag.snap_anchor_x, app->drag.snap_anchor_y, &ax, &ay);
    ALLEGRO_COLOR c = app->brush.color;
    ALLEGRO_COLOR guide = al_map_rgba_f(c.r * 0.35f, c.g * 0.35f, c.b * 0.35f, 0.35f);
    al_draw_line(ax, ay, app->pointer_x, app->pointer_y, guide, 2.0f);
    al_draw_circle(ax, ay, 4.0f, guide, 1.5f);
}

// The brush outline follows the pointer while the brush tool is in hand; while
// a colour would be sampled, a small ring shows the colour under the pointer.
static void _canvas_draw_brush_outline(PLUMARO_APP* app) {
    if (app->navigate_mode || plumaro_gui_wants_pointer(app)) return;
    if (app->sampler_armed || app->drag.sampling || plumaro_app_ctrl_down(app)) {
        float cx, cy;
        view_screen_to_canvas(&app->view, app->pointer_x, app->pointer_y, &cx, &cy);
        ALLEGRO_COLOR seen;
        if (compositor_sample(app->doc, (int)floorf(cx), (int)floorf(cy), &seen)) {
            al_draw_filled_circle(app->pointer_x, app->pointer_y, 9.0f, seen);
            al_draw_circle(app->pointer_x, app->pointer_y, 9.5f, al_premul_rgba(0, 0, 0, 200), 1.5f);
            al_draw_circle(app->pointer_x, app->pointer_y, 11.0f, al_premul_rgba(255, 255, 255, 200), 1.0f);
            return;
        }
    }
    if (app->tool != TOOL_BRUSH) return;
    float r = 0.5f * app->brush.size * app->view.zoom;
    if (r < 2.0f) r = 2.0f;
    al_draw_circle(app->pointer_x, app->pointer_y, r, al_premul_rgba(0, 0, 0, 160), 1.0f);
    al_draw_circle(app->pointer_x, app->pointer_y, r + 1.0f, al_premul_rgba(255, 255, 255, 160), 1.0f);
}

void _canvas_draw(PLUMARO_APP* app) {
    __t_assert_void(app);
    __t_assert_void(app->doc);
    _tools_form_preview(app);
    compositor_draw(app->doc, &app->view);
    _canvas_draw_stroke_buffer(app);
    grid_draw(&app->grid, app->doc, &app->view, app->display_w, app->display_h);
    symmetry_draw(&app->symmetry, app->doc, &app->view);
    selection_draw(&app->selection, app->doc, &app->view);
    _canvas_draw_snap_guide(app);
    _tools_draw_guides(app);
    _canvas_draw_brush_outline(app);
}

// Moves the symmetry axis to a canvas point, kept on the document.
static void _canvas_move_symmetry(PLUMARO_APP* app, float x, float y) {
    if (x < 0.0f) x = 0.0f;
    if (y < 0.0f) y = 0.0f;
    if (x > (float)app->doc->width) x = (float)app->doc->width;
    if (y > (float)app->doc->height) y = (float)app->doc->height;
    app->symmetry.cx = x;
    app->symmetry.cy = y;
}

// Lays grid-aligned segments from the snap anchor towards the pointer.
static void _canvas_continue_snapped(PLUMARO_APP* app, float px, float py) {
    float step;
    if (!grid_snap_step(&app->grid, &step)) return;
    for (int i = 0; i < 64; i++) {
        float dx = px - app->drag.snap_anchor_x, dy = py - app->drag.snap_anchor_y;
        float dist2 = dx * dx + dy * dy;
        if (dist2 < (0.75f * step) * (0.75f * step)) break;
        int32_t sx, sy;
        grid_segment_dir(dx, dy, 1, &sx, &sy);
        float nx = app->drag.snap_anchor_x + (float)sx * step, ny = app->drag.snap_anchor_y + (float)sy * step;
        int reverse = (app->drag.snap_dir_x != 0 || app->drag.snap_dir_y != 0) && sx == -app->drag.snap_dir_x && sy == -app->drag.snap_dir_y;
        float rx = px - nx, ry = py - ny;
        if (reverse && rx * rx + ry * ry >= dist2) break; /* no back-tracking */
        brush_stroke_segment(&app->stroke, app->doc, &app->brush, nx, ny, 1.0f);
        app->drag.snap_anchor_x = nx;
        app->drag.snap_anchor_y = ny;
        app->drag.snap_dir_x = sx;
        app->drag.snap_dir_y = sy;
    }
}

// Paints the segment to canvas point (px, py) reached at `time`, with pressure from speed when asked.
static void _canvas_stroke_to(PLUMARO_APP* app, float px, float py, double time) {
    float pressure = 1.0f;
    if (app->pressure_speed) {
        double dt = time - app->drag.last_time;
        if (dt < 0.0001) dt = 0.0001;
        float dx = px - app->drag.last_x, dy = py - app->drag.last_y;
        float speed = (float)(sqrt((double)dx * dx + (double)dy * dy) / dt);
        pressure = brush_pressure_from_speed(speed, app->drag.last_pressure);
        app->drag.last_pressure = pressure;
    }
    brush_stroke_segment(&app->stroke, app->doc, &app->brush, px, py, pressure);
    app->drag.last_x = px;
    app->drag.last_y = py;
    app->drag.last_time = time;
}

double _canvas_stabilizer_window(int strength) {
    strength = app_range_clamp(APP_RANGE_STABILIZER, strength);
    return (double)strength / (double)APP_RANGE_STABILIZER.max * 0.25;
}

/* Longest time step of the painted point, so that a curve is painted as a
 * curve whatever the event rate; and how long the pointer must have been
 * still before the timer moves the point on (events come faster than that
 * while it moves). */
#define _STAB_STEP (1.0 / 240.0)
#define _STAB_REST 0.025

// Sample i (0 = oldest) of the stabilizer's path.
static APP_STAB_SAMPLE* _stab_sample(APP_DRAG* d, int i) {
    return &d->stab_path[(d->stab_first + i) % APP_STAB_SAMPLES];
}

// Adds a pointer position to the path; one at the same moment as the last
// replaces it (the newer position is where the pointer is).
static void _stab_record(APP_DRAG* d, float x, float y, double t) {
    if (d->stab_count > 0) {
        APP_STAB_SAMPLE* last = _stab_sample(d, d->stab_count - 1);
        if (!(t > last->t)) {
            last->x = x, last->y = y;
            return;
        }
    }
    if (d->stab_count == APP_STAB_SAMPLES) {
        d->stab_first = (d->stab_first + 1) % APP_STAB_SAMPLES;
        d->stab_count--;
    }
    *_stab_sample(d, d->stab_count) = APP_STAB_SAMPLE{x, y, t};
    d->stab_count++;
}

// Mean position of the pointer over [a, b] (a < b): held at the first
// sample before it, straight between samples, held at the last after it.
static void _stab_mean(APP_DRAG* d, double a, double b, double* mx, double* my) {
    const APP_STAB_SAMPLE* first = _stab_sample(d, 0);
    const APP_STAB_SAMPLE* last = _stab_sample(d, d->stab_count - 1);
    double sx = 0.0, sy = 0.0;
    if (a < first->t) {
        double len = (b < first->t ? b : first->t) - a;
        sx += first->x * len, sy += first->y * len;
    }
    for (int i = 0; i + 1 < d->stab_count; i++) {
        const APP_STAB_SAMPLE* p = _stab_sample(d, i);
        const APP_STAB_SAMPLE* q = _stab_sample(d, i + 1);
        if (q->t <= a) continue;
        if (p->t >= b) break;
        double u0 = a > p->t ? a : p->t, u1 = b < q->t ? b : q->t;
        double k = ((u0 + u1) / 2.0 - p->t) / (q->t - p->t); /* the overlap's middle */
        sx += (p->x + (q->x - p->x) * k) * (u1 - u0);
        sy += (p->y + (q->y - p->y) * k) * (u1 - u0);
    }
    if (b > last->t) {
        double len = b - (a > last->t ? a : last->t);
        sx += last->x * len, sy += last->y * len;
    }
    *mx = sx / (b - a), *my = sy / (b - a);
}

// Moves the painted point on to moment `to` and paints the way there, in
// short steps: at each the point is the pointer's mean position over the
// window before it.
static void _stab_advance(PLUMARO_APP* app, double to) {
    APP_DRAG* d = &app->drag;
    double window = _canvas_stabilizer_window(app->stabilizer);
    if (d->stab_count < 1 || !(to > d->stab_time)) return;
    /* A window after the last sample the mean is that sample: no need to
     * step through a long rest. */
    double end = _stab_sample(d, d->stab_count - 1)->t + window;
    double until = to < end ? to : end;
    if (until > d->stab_time) {
        int steps = (int)ceil((until - d->stab_time) / _STAB_STEP);
        double h = (until - d->stab_time) / steps;
        for (int k = 1; k <= steps; k++) {
            double t = k == steps ? until : d->stab_time + h * k, x, y;
            _stab_mean(d, t - window, t, &x, &y);
            _canvas_stroke_to(app, (float)x, (float)y, t);
            d->stab_x = (float)x, d->stab_y = (float)y;
        }
    }
    d->stab_time = to;
    /* What lies wholly before the next window is never needed again. */
    while (d->stab_count >= 2 && _stab_sample(d, 1)->t <= to - window) {
        d->stab_first = (d->stab_first + 1) % APP_STAB_SAMPLES;
        d->stab_count--;
    }
}

// Starts the stabilizer at the stroke's first point.
static void _stab_begin(PLUMARO_APP* app, float x, float y, double time) {
    APP_DRAG* d = &app->drag;
    d->stab_x = x, d->stab_y = y;
    d->stab_time = time;
    d->stab_first = d->stab_count = 0;
    _stab_record(d, x, y, time);
}

// Takes the pointer at canvas point (px, py) at `time` and moves the painted
// point on to that moment.
static void _canvas_stabilize_to(PLUMARO_APP* app, float px, float py, double time) {
    _stab_record(&app->drag, px, py, time);
    _stab_advance(app, time);
}

// The release: the pointer stays where it went up, and the painted point
// runs the rest of the path drawn until it arrives there.
static void _stab_finish(PLUMARO_APP* app, float qx, float qy, double time) {
    APP_DRAG* d = &app->drag;
    _canvas_stabilize_to(app, qx, qy, time);
    double last = _stab_sample(d, d->stab_count - 1)->t;
    _stab_advance(app, last + _canvas_stabilizer_window(app->stabilizer));
    _canvas_stroke_to(app, qx, qy, d->stab_time); /* exactly there, whatever the sums' rounding */
}

void _canvas_stabilizer_rest(PLUMARO_APP* app, double now) {
    __t_assert_void(app);
    APP_DRAG* d = &app->drag;
    if (!app->stroke.active || !d->stabilizing || d->stab_count < 1) return;
    APP_STAB_SAMPLE last = *_stab_sample(d, d->stab_count - 1);
    if (now - last.t < _STAB_REST || !(now > d->stab_time)) return;
    /* The pointer was still all along: say so, so that the next event's
     * movement starts from here and not from the last event. */
    _stab_record(d, last.x, last.y, now);
    _stab_advance(app, now);
    app->dirty = 1;
}

// The 60 Hz tick in the canvas: a resting pointer's line catches up.
void _canvas_update(PLUMARO_APP* app, double dt) {
    __t_assert_void(app);
    (void)dt;
    _canvas_stabilizer_rest(app, al_get_time());
}

// Adds the segment to the pointer's canvas position to the stroke in progress.
static void _canvas_continue_stroke(PLUMARO_APP* app, double time) {
    float px, py;
    view_screen_to_canvas(&app->view, app->pointer_x, app->pointer_y, &px, &py);
    if (app->drag.snap_line) {
        _canvas_continue_snapped(app, px, py);
        return;
    }
    if (app->drag.stabilizing)
        _canvas_stabilize_to(app, px, py, time);
    else
        _canvas_stroke_to(app, px, py, time);
}

// Takes the colour seen under a screen point as the brush colour, keeping the brush's alpha.
static void _canvas_sample(PLUMARO_APP* app, float sx, float sy) {
    float cx, cy;
    view_screen_to_canvas(&app->view, sx, sy, &cx, &cy);
    ALLEGRO_COLOR seen;
    if (!compositor_sample(app->doc, (int)floorf(cx), (int)floorf(cy), &seen)) return;
    app->brush.color = al_map_rgba_f(seen.r, seen.g, seen.b, app->brush.color.a);
    app->brush.eraser = 0;
    app->ui.selected_swatch = GUI_SWATCH_CHIP;
    _refresh_placed_float(app, 1);
    plumaro_gui_sync(app);
}

// Ends every pointer interaction when a two-finger gesture takes over.
static void _canvas_touch(PLUMARO_APP* app, ALLEGRO_EVENT* event) {
    int blocked_before = gesture_blocks_strokes(&app->gesture);
    gesture_handle_event(&app->gesture, event, &app->view);
    if (blocked_before || !gesture_blocks_strokes(&app->gesture)) return;
    if (app->stroke.active && app->palm_rejection) {
        gesture_cancel_navigation(&app->gesture);
        return;
    }
    plumaro_app_cancel_interaction(app);
}

// Pointer motion: wheel zoom or rotation, then the drag in progress.
static void _canvas_motion(PLUMARO_APP* app, ALLEGRO_EVENT* event) {
    app->pointer_x = (float)event->mouse.x;
    app->pointer_y = (float)event->mouse.y;
    if (event->mouse.dz != 0) {
        if (plumaro_app_ctrl_down(app))
            view_rotate_at(&app->view, (float)event->mouse.dz * 0.0872665f, app->pointer_x, app->pointer_y);
        else
            view_zoom_at(&app->view, powf(1.1f, (float)event->mouse.dz), app->pointer_x, app->pointer_y);
    }
    int blocked = gesture_blocks_strokes(&app->gesture);
    if (!blocked && app->drag.symmetry_dragging) {
        float cx, cy;
        view_screen_to_canvas(&app->view, app->pointer_x, app->pointer_y, &cx, &cy);
        _canvas_move_symmetry(app, cx, cy);
        plumaro_gui_sync_symmetry(app);
    } else if (!blocked && (app->form.dragging || app->selection.dragging)) {
        _tools_motion(app);
    } else if (app->drag.panning) {
        view_pan(&app->view, (float)event->mouse.dx, (float)event->mouse.dy);
    } else if (app->drag.sampling) {
        _canvas_sample(app, app->pointer_x, app->pointer_y);
    } else if (app->stroke.active) {
        _canvas_continue_stroke(app, event->mouse.timestamp);
    }
}

// Button press: pan, move the symmetry axis, or start a stroke.
static int _canvas_press(PLUMARO_APP* app, ALLEGRO_EVENT* event) {
    app->pointer_x = (float)event->mouse.x;
    app->pointer_y = (float)event->mouse.y;
    if (event->mouse.button == 3) {
        app->drag.panning = 1;
        return 0;
    }
    if (event->mouse.button != 1) return 0;
    if (app->space_held) {
        app->drag.panning = 1;
        return 0;
    }
    if (!app->gui_visible && plumaro_gui_on_show_corner(app, (float)event->mouse.x, (float)event->mouse.y)) {
        plumaro_gui_set_visible(app, 1);
        return 1;
    }
    if (plumaro_gui_wants_pointer(app) || gesture_blocks_strokes(&app->gesture)) return 0;
    if (app->navigate_mode) {
        app->drag.panning = 1;
        return 0;
    }
    float px, py;
    view_screen_to_canvas(&app->view, app->pointer_x, app->pointer_y, &px, &py);
    /* Ctrl+press, or a press while the sampler is armed, takes a colour
     * instead of painting; a floating selection's handles stay its own. */
    int on_float = app->selection.state == SEL_FLOATING &&
                   selection_hit_test(&app->selection, &app->view, app->pointer_x, app->pointer_y) != SELECTION_HANDLE_NONE;
    if ((app->sampler_armed || plumaro_app_ctrl_down(app)) && !on_float) {
        app->drag.sampling = 1;
        _canvas_sample(app, app->pointer_x, app->pointer_y);
        return 1;
    }
    if (app->symmetry_edit) {
        app->drag.symmetry_dragging = 1;
        _canvas_move_symmetry(app, px, py);
        return 1;
    }
    if (app->tool == TOOL_SELECT || app->tool == TOOL_LASSO) return _tools_press(app, px, py);
    app->drag.last_x = px;
    app->drag.last_y = py;
    app->drag.last_time = event->mouse.timestamp;
    app->drag.last_pressure = 1.0f;
    if (app->tool != TOOL_BRUSH) return _tools_press(app, px, py);
    app->drag.snap_line = (uint8_t)grid_snap_anchor(&app->grid, px, py, &px, &py);
    if (app->drag.snap_line) {
        app->drag.snap_anchor_x = px;
        app->drag.snap_anchor_y = py;
        app->drag.snap_dir_x = 0;
        app->drag.snap_dir_y = 0;
        app->drag.last_x = px;
        app->drag.last_y = py;
    }
    brush_stroke_begin(&app->stroke, app->doc, &app->brush, px, py, 1.0f, &app->symmetry);
    /* Grid-segment strokes follow the grid, not a trailing point. */
    app->drag.stabilizing = app->stroke.active && app->stabilizer > 0 && !app->drag.snap_line;
    if (app->drag.stabilizing) _stab_begin(app, px, py, event->mouse.timestamp);
    return 1;
}

// Left or middle release: ends the pan, the axis drag or the stroke.
static void _canvas_release(PLUMARO_APP* app, ALLEGRO_EVENT* event) {
    if (event->mouse.button != 1 && event->mouse.button != 3) return;
    app->drag.panning = 0;
    if (event->mouse.button == 3) return;
    if (app->drag.symmetry_dragging) {
        app->drag.symmetry_dragging = 0;
        return;
    }
    if (app->drag.sampling) {
        /* The armed sampler is spent: the tool in hand works again. */
        app->drag.sampling = 0;
        if (app->sampler_armed) {
            app->sampler_armed = 0;
            plumaro_gui_sync(app);
        }
        return;
    }
    if (_tools_release_selection(app)) return;
    if (app->stroke.active && app->drag.stabilizing) {
        /* The line ends where the pointer ended, along the path drawn. */
        float qx, qy;
        view_screen_to_canvas(&app->view, (float)event->mouse.x, (float)event->mouse.y, &qx, &qy);
        _stab_finish(app, qx, qy, event->mouse.timestamp);
    }
    app->drag.stabilizing = 0;
    if (app->stroke.active) brush_stroke_end(&app->stroke, app->doc);
    _tools_release(app, (float)event->mouse.x, (float)event->mouse.y);
    app->drag.snap_line = 0;
}

// Tracks the modifiers and runs the command the key stands for.
static int _canvas_key_down(PLUMARO_APP* app, int key) {
    switch (key) {
        case ALLEGRO_KEY_LCTRL:
        case ALLEGRO_KEY_RCTRL:
            app->ctrl_held = 1;
            return 0;
        case ALLEGRO_KEY_LSHIFT:
        case ALLEGRO_KEY_RSHIFT:
            app->shift_held = 1;
            return 0;
        default:
            break;
    }
    return plumaro_gui_key_command(app, key, plumaro_app_ctrl_down(app), plumaro_app_shift_down(app));
}

// Key releases: modifiers, and the space bar ending its pan.
static int _canvas_key_up(PLUMARO_APP* app, int key) {
    switch (key) {
        case ALLEGRO_KEY_LCTRL:
        case ALLEGRO_KEY_RCTRL:
            app->ctrl_held = 0;
            return 0;
        case ALLEGRO_KEY_LSHIFT:
        case ALLEGRO_KEY_RSHIFT:
            app->shift_held = 0;
            return 0;
        case ALLEGRO_KEY_SPACE:
            app->space_held = 0;
            app->drag.panning = 0;
            return 1;
        default:
            return 0;
    }
}

void _canvas_handle_event(PLUMARO_APP* app, ALLEGRO_EVENT* event) {
    __t_assert_void(app);
    __t_assert_void(event);
    __t_assert_void(app->doc);
    int redraw = 1;
    switch (event->type) {
        case ALLEGRO_EVENT_TOUCH_BEGIN:
        case ALLEGRO_EVENT_TOUCH_END:
        case ALLEGRO_EVENT_TOUCH_MOVE:
        case ALLEGRO_EVENT_TOUCH_CANCEL:
            _canvas_touch(app, event);
            break;
        case ALLEGRO_EVENT_MOUSE_AXES:
        case ALLEGRO_EVENT_MOUSE_WARPED:
            _canvas_motion(app, event);
            break;
        case ALLEGRO_EVENT_MOUSE_BUTTON_DOWN:
            redraw = _canvas_press(app, event);
            break;
        case ALLEGRO_EVENT_MOUSE_BUTTON_UP:
            _canvas_release(app, event);
            break;
        case ALLEGRO_EVENT_KEY_DOWN:
            redraw = _canvas_key_down(app, event->keyboard.keycode);
            break;
        case ALLEGRO_EVENT_KEY_UP:
            redraw = _canvas_key_up(app, event->keyboard.keycode);
            break;
        default:
            redraw = 0;
            break;
    }
    if (redraw) app->dirty = 1;
}

/* ------------------------------------------------------------------------ */
/* State table and switch                                                    */
/* ------------------------------------------------------------------------ */

static void _state_noop_leave(PLUMARO_APP* app) { (void)app; }

static const APP_STATE app_states[2] = {
    {"splash", _splash_enter, _splash_handle_event, _splash_update, _splash_draw, _state_noop_leave},
    {"canvas", _canvas_enter, _canvas_handle_event, _canvas_update, _canvas_draw, _canvas_leave},
};

const APP_STATE* app_state_get(int id) {
    if (id < 0 || id > 1) {
        t_log(LOG_ERR, "bad state id %d", id);
        return NULL;
    }
    return &app_states[id];
}

int app_state_switch(PLUMARO_APP* app, int id) {
    __t_assert(app);
    const APP_STATE* next = app_state_get(id);
    if (!next) return 0;
    if (app->state && app->state->leave) app->state->leave(app);
    t_log(LOG_INFO, "state switch: %s -> %s", app->state ? app->state->name : "(none)", next->name);
    app->state_id = id;
    app->state = next;
    if (next->enter) next->enter(app);
    app->dirty = 1;
    return 1;
}
