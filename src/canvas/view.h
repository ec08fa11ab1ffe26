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

/* Resets to the identity mapping (zoom 1, no offset or rotation). */
void view_init(VIEW* view);
/* Shows the whole canvas centred, with a margin on the tighter axis. */
void view_fit(VIEW* view, int32_t canvas_w, int32_t canvas_h, int32_t screen_w, int32_t screen_h);
/* Shows the canvas at 1:1 (no rotation), centred on the screen. */
void view_center(VIEW* view, int32_t canvas_w, int32_t canvas_h, int32_t screen_w, int32_t screen_h);
/* Keeps the canvas where it was relative to the screen centre after a resize. */
void view_recenter(VIEW* view, int32_t old_w, int32_t old_h, int32_t new_w, int32_t new_h);
/* Installs the canvas-to-screen transform on the current target. */
void view_apply(const VIEW* view);
/* Maps a screen point to canvas coordinates. */
void view_screen_to_canvas(const VIEW* view, float screen_x, float screen_y, float* canvas_x, float* canvas_y);
/* Maps a canvas point to screen coordinates. */
void view_canvas_to_screen(const VIEW* view, float canvas_x, float canvas_y, float* screen_x, float* screen_y);
/* Moves the canvas by a screen-space delta. */
void view_pan(VIEW* view, float dx, float dy);
/* Zooms by `factor` about a screen point, held within the zoom bounds. */
void view_zoom_at(VIEW* view, float factor, float screen_x, float screen_y);
/* Rotates by `delta_angle` radians about a screen point. */
void view_rotate_at(VIEW* view, float delta_angle, float screen_x, float screen_y);
