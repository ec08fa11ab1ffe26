/* app_state: the splash and canvas states and the switch between them. */
#include "app_state.h"

#include <allegro5/allegro_font.h>
#include <allegro5/allegro_primitives.h>

#include "canvas/brush.h"
#include "canvas/compositor.h"
#include "canvas/view.h"
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
    view_center(&app->view, app->doc->width, app->doc->height, app->display_w, app->display_h);
    t_log(LOG_INFO, "canvas ready, %dx%d document on %dx%d display", app->doc->width, app->doc->height,
          app->display_w, app->display_h);
}

void _canvas_leave(PLUMARO_APP* app) {
    __t_assert_void(app);
    if (app->stroke.active && app->doc) brush_stroke_end(&app->stroke, app->doc);
    app->form_creating = 0;
    app->gradient_dragging = 0;
    app->symmetry_dragging = 0;
}

// Draws the stroke in progress (or a preview) over the layers, as it will look once committed.
static void _canvas_draw_stroke_buffer(PLUMARO_APP* app) {
    ALLEGRO_BITMAP* buffer = brush_stroke_buffer_shown();
    int x, y, w, h;
    /* Outside its touched bounds the buffer is transparent and would not
     * change a pixel, so only that part is drawn. */
    if (!buffer || !brush_stroke_buffer_bounds(&x, &y, &w, &h)) return;
    float a = app->brush.opacity * app->brush.color.a;
    if (!(a > 0.0f)) a = 0.0f;
    if (a > 1.0f) a = 1.0f;
    ALLEGRO_COLOR tint = al_map_rgba_f(app->brush.color.r * a, app->brush.color.g * a, app->brush.color.b * a, a);
    view_apply(&app->view);
    al_draw_tinted_bitmap_region(buffer, tint, (float)x, (float)y, (float)w, (float)h, (float)x, (float)y, 0);
    ALLEGRO_TRANSFORM identity;
    al_identity_transform(&identity);
    al_use_transform(&identity);
}

// The brush outline follows the pointer while the brush tool is in hand.
static void _canvas_draw_brush_outline(PLUMARO_APP* app) {
    if (app->tool != 0 || app->navigate_mode) return;
    float r = 0.5f * app->brush.size * app->view.zoom;
    if (r < 2.0f) r = 2.0f;
    al_draw_circle(app->pointer_x, app->pointer_y, r, al_premul_rgba(0, 0, 0, 160), 1.0f);
    al_draw_circle(app->pointer_x, app->pointer_y, r + 1.0f, al_premul_rgba(255, 255, 255, 160), 1.0f);
}

void _canvas_draw(PLUMARO_APP* app) {
    __t_assert_void(app);
    __t_assert_void(app->doc);
    compositor_draw(app->doc, &app->view);
    _canvas_draw_stroke_buffer(app);
    grid_draw(&app->grid, app->doc, &app->view, app->display_w, app->display_h);
    symmetry_draw(&app->symmetry, app->doc, &app->view);
    _canvas_draw_brush_outline(app);
}

void _canvas_handle_event(PLUMARO_APP* app, ALLEGRO_EVENT* event) {
    __t_assert_void(app);
    __t_assert_void(event);
    __t_assert_void(app->doc);
    if (event->type == ALLEGRO_EVENT_MOUSE_AXES || event->type == ALLEGRO_EVENT_MOUSE_BUTTON_DOWN) {
        app->pointer_x = (float)event->mouse.x;
        app->pointer_y = (float)event->mouse.y;
    }
}

/* ------------------------------------------------------------------------ */
/* State table and switch                                                    */
/* ------------------------------------------------------------------------ */

static void _state_noop_leave(PLUMARO_APP* app) { (void)app; }

static const APP_STATE app_states[2] = {
    {"splash", _splash_enter, _splash_handle_event, _splash_update, _splash_draw, _state_noop_leave},
    {"canvas", _canvas_enter, _canvas_handle_event, NULL, _canvas_draw, _canvas_leave},
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
