/* view: canvas-to-screen mapping; every change rebuilds the transform and
 * its inverse so drawing and input mapping stay cheap. */
#include "canvas/view.h"

#include <math.h>

#include "t_log.h"

// Rebuilds the transform from offset, zoom and angle, and its inverse.
static void _view_rebuild(VIEW* view) {
    al_build_transform(&view->transform, view->x, view->y, view->zoom, view->zoom, view->angle);
    al_copy_transform(&view->inverse, &view->transform);
    al_invert_transform(&view->inverse);
}

// Resets the view to the identity mapping.
void view_init(VIEW* view) {
    __t_assert_void(view);
    view->x = 0.0f;
    view->y = 0.0f;
    view->zoom = 1.0f;
    view->angle = 0.0f;
    _view_rebuild(view);
}

// Shows the whole canvas centred with a margin on the tighter axis.
void view_fit(VIEW* view, int32_t canvas_w, int32_t canvas_h, int32_t screen_w, int32_t screen_h) {
    __t_assert_void(view);
    if (canvas_w <= 0 || canvas_h <= 0 || screen_w <= 0 || screen_h <= 0) {
        t_log(LOG_ERR, "bad fit sizes canvas %dx%d screen %dx%d", canvas_w, canvas_h, screen_w, screen_h);
        return;
    }
    float sx = (float)screen_w / (float)canvas_w;
    float sy = (float)screen_h / (float)canvas_h;
    view->angle = 0.0f;
    view->zoom = 0.92f * (sx < sy ? sx : sy);
    view->x = ((float)screen_w - (float)canvas_w * view->zoom) / 2.0f;
    view->y = ((float)screen_h - (float)canvas_h * view->zoom) / 2.0f;
    _view_rebuild(view);
}

// Shows the canvas at 1:1, centred (half pixels kept).
void view_center(VIEW* view, int32_t canvas_w, int32_t canvas_h, int32_t screen_w, int32_t screen_h) {
    __t_assert_void(view);
    if (canvas_w <= 0 || canvas_h <= 0 || screen_w <= 0 || screen_h <= 0) {
        t_log(LOG_ERR, "bad center sizes canvas %dx%d screen %dx%d", canvas_w, canvas_h, screen_w, screen_h);
        return;
    }
    view->zoom = 1.0f;
    view->angle = 0.0f;
    view->x = (float)(screen_w - canvas_w) / 2.0f;
    view->y = (float)(screen_h - canvas_h) / 2.0f;
    _view_rebuild(view);
}

// Keeps the canvas where it was relative to the display's centre after a resize.
void view_recenter(VIEW* view, int32_t old_w, int32_t old_h, int32_t new_w, int32_t new_h) {
    __t_assert_void(view);
    view->x += (float)(new_w - old_w) / 2.0f;
    view->y += (float)(new_h - old_h) / 2.0f;
    _view_rebuild(view);
}

// Installs the canvas-to-screen transform on the current target.
void view_apply(const VIEW* view) {
    __t_assert_void(view);
    al_use_transform(&view->transform);
}

// Maps a screen point to canvas coordinates.
void view_screen_to_canvas(const VIEW* view, float screen_x, float screen_y, float* canvas_x, float* canvas_y) {
    __t_assert_void(view);
    __t_assert_void(canvas_x);
    __t_assert_void(canvas_y);
    float x = screen_x, y = screen_y;
    al_transform_coordinates(&view->inverse, &x, &y);
    *canvas_x = x;
    *canvas_y = y;
}

// Maps a canvas point to screen coordinates.
void view_canvas_to_screen(const VIEW* view, float canvas_x, float canvas_y, float* screen_x, float* screen_y) {
    __t_assert_void(view);
    __t_assert_void(screen_x);
    __t_assert_void(screen_y);
    float x = canvas_x, y = canvas_y;
    al_transform_coordinates(&view->transform, &x, &y);
    *screen_x = x;
    *screen_y = y;
}

// Moves the canvas by a screen-space delta.
void view_pan(VIEW* view, float dx, float dy) {
    __t_assert_void(view);
    view->x += dx;
    view->y += dy;
    _view_rebuild(view);
}

// Zooms by `factor` about a screen point, stopping exactly at the zoom bounds.
void view_zoom_at(VIEW* view, float factor, float screen_x, float screen_y) {
    __t_assert_void(view);
    if (!(factor > 0.0f)) return;
    float zoom = view->zoom * factor;
    if (zoom < VIEW_ZOOM_MIN) {
        factor = VIEW_ZOOM_MIN / view->zoom;
        zoom = view->zoom * factor;
    } else if (zoom > VIEW_ZOOM_MAX) {
        factor = VIEW_ZOOM_MAX / view->zoom;
        zoom = view->zoom * factor;
    }
    view->x = (view->x - screen_x) * factor + screen_x;
    view->y = (view->y - screen_y) * factor + screen_y;
    view->zoom = zoom;
    _view_rebuild(view);
}

// Rotates by `delta_angle` radians about a screen point.
void view_rotate_at(VIEW* view, float delta_angle, float screen_x, float screen_y) {
    __t_assert_void(view);
    float s = sinf(delta_angle), c = cosf(delta_angle);
    float dx = view->x - screen_x, dy = view->y - screen_y;
    view->x = screen_x + dx * c - dy * s;
    view->y = screen_y + dx * s + dy * c;
    view->angle += delta_angle;
    _view_rebuild(view);
}
