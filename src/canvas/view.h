/* view: the canvas-to-screen mapping (offset, zoom, rotation) with a ready
 * transform and its inverse. */
#pragma once
#include <allegro5/allegro.h>
#include <stdint.h>

#define VIEW_ZOOM_MIN 0.05f
#define VIEW_ZOOM_MAX 32.0f

typedef struct VIEW {
    float x, y;  /* screen position of the canvas origin */
    float zoom;  /* screen pixels per canvas pixel */
    float angle; /* radians, clockwise on a y-down display; not wrapped */
    ALLEGRO_TRANSFORM transform; /* canvas to screen */
    ALLEGRO_TRANSFORM inverse;   /* screen to canvas */
} VIEW;

void view_init(VIEW* view);
void view_fit(VIEW* view, int32_t canvas_w, int32_t canvas_h, int32_t screen_w, int32_t screen_h);
void view_center(VIEW* view, int32_t canvas_w, int32_t canvas_h, int32_t screen_w, int32_t screen_h);
void view_recenter(VIEW* view, int32_t old_w, int32_t old_h, int32_t new_w, int32_t new_h);
void view_apply(const VIEW* view);
void view_screen_to_canvas(const VIEW* view, float screen_x, float screen_y, float* canvas_x, float* canvas_y);
void view_canvas_to_screen(const VIEW* view, float canvas_x, float canvas_y, float* screen_x, float* screen_y);
void view_pan(VIEW* view, float dx, float dy);
void view_zoom_at(VIEW* view, float factor, float screen_x, float screen_y);
void view_rotate_at(VIEW* view, float delta_angle, float screen_x, float screen_y);
