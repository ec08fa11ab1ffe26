/* gui_placed: shapes and text dropped on the canvas as floating selections:
 * the text popup (a new text, or the text float edited live), placing at the
 * view's centre, the two renderers, and rendering a placed float again when
 * the brush, the fill or its size changed. */
#include <allegro5/allegro_font.h>
#include <allegro5/allegro_primitives.h>
#include <allegro5/allegro_ttf.h>
#include <math.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "app_internal.h"
#include "app_tools.h"
#include "canvas/grid.h"
#include "gui/gui_private.h"
#include "platform/platform.h"
#include "t_log.h"
#include "t_str.h"
#include "t_utf8.h"

#define SHAPE_TEXT 7

// The application record a callback was given.
#define _APP(user)                           \
    PLUMARO_APP* app = (PLUMARO_APP*)(user); \
    __t_assert_void(app)

#define _FONTS (APP_RANGE_TEXT_FONT.max + 1)
static const char* const _font_files[_FONTS] = {"fonts/DejaVuSans.ttf", "fonts/DejaVuSerif.ttf",
                                           "fonts/DejaVuSansMono.ttf", "fonts/DejaVuSans-Bold.ttf"};
static const char* const _font_names[_FONTS] = {"Sans", "Serif", "Mono", "Bold"};

/* Unit polygons of the star, pentagon, hexagon and arrow, y downwards. */
static const float _star[10][2] = {{0, -1},          {0.2469f, -0.3398f}, {0.9511f, -0.309f}, {0.3994f, 0.1298f},
                                   {0.5878f, 0.809f}, {0, 0.42f},          {-0.5878f, 0.809f}, {-0.3994f, 0.1298f},
                                   {-0.9511f, -0.309f}, {-0.2469f, -0.3398f}};
static const float _pentagon[5][2] = {{0, -1}, {0.9511f, -0.309f}, {0.5878f, 0.809f}, {-0.5878f, 0.809f},
                                      {-0.9511f, -0.309f}};
static const float _hexagon[6][2] = {{0, -1}, {0.866f, -0.5f}, {0.866f, 0.5f}, {0, 1}, {-0.866f, 0.5f}, {-0.866f, -0.5f}};
static const float _arrow[7][2] = {{0, 0.3f}, {0.6f, 0.3f}, {0.6f, 0}, {1, 0.5f}, {0.6f, 1}, {0.6f, 0.7f}, {0, 0.7f}};

// Rounds half away from zero.
static float _round_away(float v) { return v < 0.0f ? -floorf(-v + 0.5f) : floorf(v + 0.5f); }

// The brush colour premultiplied by its alpha.
static ALLEGRO_COLOR _paint(const PLUMARO_APP* app) {
    ALLEGRO_COLOR c = app->brush.color;
    return al_map_rgba_f(c.r * c.a, c.g * c.a, c.b * c.a, c.a);
}

// A transparent bitmap to render into (flags 0x4C0), the caller's flags kept; null on failure.
static ALLEGRO_BITMAP* _new_canvas_bitmap(int w, int h) {
    int flags = al_get_new_bitmap_flags();
    al_set_new_bitmap_flags(ALLEGRO_VIDEO_BITMAP | ALLEGRO_MIN_LINEAR | ALLEGRO_MAG_LINEAR);
    ALLEGRO_BITMAP* bitmap = al_create_bitmap(w, h);
    al_set_new_bitmap_flags(flags);
    return bitmap;
}

/* ------------------------------------------------------------------------ */
/* Renderers                                                                 */
/* ------------------------------------------------------------------------ */

// A unit polygon stretched onto [half, w - half] x [half, h - half].
static std::vector<float> _fit_polygon(const float (*points)[2], int n, float w, float h, float half) {
    float minx = points[0][0], maxx = minx, miny = points[0][1], maxy = miny;
    for (int i = 1; i < n; i++) {
        minx = fminf(minx, points[i][0]), maxx = fmaxf(maxx, points[i][0]);
        miny = fminf(miny, points[i][1]), maxy = fmaxf(maxy, points[i][1]);
    }
    float fx = maxx > minx ? (w - 2.0f * half) / (maxx - minx) : 1.0f;
    float fy = maxy > miny ? (h - 2.0f * half) / (maxy - miny) : 1.0f;
    std::vector<float> out((size_t)n * 2);
    for (int i = 0; i < n; i++) {
        out[2 * i] = half + (points[i][0] - minx) * fx;
        out[2 * i + 1] = half + (points[i][1] - miny) * fy;
    }
    return out;
}

// Draws the star, pentagon, hexagon or arrow, outlined or filled.
static void _draw_polygon_shape(int kind, int filled, float w, float h, float t, ALLEGRO_COLOR c) {
    const float(*points)[2] = kind == 3 ? _star : kind == 4 ? _pentagon : kind == 5 ? _hexagon : _arrow;
    int n = kind == 3 ? 10 : kind == 4 ? 5 : kind == 5 ? 6 : 7;
    std::vector<float> p = _fit_polygon(points, n, w, h, t / 2.0f);
    if (!filled) {
        al_draw_polygon(p.data(), n, ALLEGRO_LINE_JOIN_ROUND, c, t, 1.0f);
        return;
    }
    if (kind == 6) { /* the shaft as two triangles, the head as one */
        al_draw_filled_triangle(p[0], p[1], p[2], p[3], p[10], p[11], c);
        al_draw_filled_triangle(p[0], p[1], p[10], p[11], p[12], p[13], c);
        al_draw_filled_triangle(p[4], p[5], p[6], p[7], p[8], p[9], c);
        return;
    }
    float cx = 0.0f, cy = 0.0f;
    for (int i = 0; i < n; i++) cx += p[2 * i], cy += p[2 * i + 1];
    cx /= (float)n, cy /= (float)n;
    for (int i = 0; i < n; i++) {
        int j = (i + 1) % n;
        al_draw_filled_triangle(cx, cy, p[2 * i], p[2 * i + 1], p[2 * j], p[2 * j + 1], c);
    }
}

ALLEGRO_BITMAP* _render_shape_bitmap_wh(PLUMARO_APP* app, int kind, int filled, int w, int h) {
    __t_assert_null(app);
    if (w < 2) w = 2;
    if (h < 2) h = 2;
    ALLEGRO_BITMAP* bitmap = _new_canvas_bitmap(w, h);
    if (!bitmap) return NULL;
    float fw = (float)w, fh = (float)h;
    float t = fminf(fminf(fw, fh) / 6.0f, fmaxf(2.0f, app->brush.size)), half = t / 2.0f;
    ALLEGRO_STATE state;
    al_store_state(&state, ALLEGRO_STATE_TARGET_BITMAP | ALLEGRO_STATE_BLENDER);
    al_set_target_bitmap(bitmap);
    al_clear_to_color(al_map_rgba(0, 0, 0, 0));
    /* A first textured draw on a fresh target settles the driver's state
     * before the primitives; it shows nothing. */
    int flags = al_get_new_bitmap_flags();
    al_set_new_bitmap_flags(ALLEGRO_VIDEO_BITMAP);
    ALLEGRO_BITMAP* blank = al_create_bitmap(2, 2);
    al_set_new_bitmap_flags(flags);
    if (blank) {
        al_draw_tinted_bitmap(blank, al_map_rgba(0, 0, 0, 0), -4, -4, 0);
        al_destroy_bitmap(blank);
    }
    al_set_blender(ALLEGRO_ADD, ALLEGRO_ONE, ALLEGRO_INVERSE_ALPHA);
    ALLEGRO_COLOR c = _paint(app);
    switch (kind) {
        case 0:
            if (filled) {
                al_draw_filled_rectangle(0, 0, fw, fh, c);
            } else {
                float p[8] = {half, half, fw - half, half, fw - half, fh - half, half, fh - half};
                al_draw_polygon(p, 4, ALLEGRO_LINE_JOIN_MITER, c, t, 1.0f);
            }
            break;
        case 1:
            if (filled)
                al_draw_filled_ellipse(fw / 2.0f, fh / 2.0f, fw / 2.0f, fh / 2.0f, c);
            else
                al_draw_ellipse(fw / 2.0f, fh / 2.0f, fw / 2.0f - half, fh / 2.0f - half, c, t);
            break;
        case 2:
            if (filled) {
                al_draw_filled_triangle(fw / 2.0f, 0, 0, fh, fw, fh, c);
            } else {
                float p[6] = {fw / 2.0f, half, fw - half, fh - half, half, fh - half};
                al_draw_polygon(p, 3, ALLEGRO_LINE_JOIN_MITER, c, t, 1.0f);
            }
            break;
        default: _draw_polygon_shape(kind, filled, fw, fh, t, c); break;
    }
    al_restore_state(&state);
    return bitmap;
}

ALLEGRO_BITMAP* _render_text_bitmap(PLUMARO_APP* app, const char* text, int font_index, int size) {
    __t_assert_null(app);
    if (!text || !text[0]) return NULL;
    if (font_index < 0 || font_index >= _FONTS) font_index = 0;
    if (size < 6) size = 6;
    if (size > 512) size = 512;
    char path[1024];
    ALLEGRO_FONT* font = NULL;
    if (platform_asset_path(_font_files[font_index], path, sizeof(path)) && t_file_is_regular(path))
        font = al_load_ttf_font(path, size, 0);
    if (!font) {
        t_log(LOG_ERR, "could not load annotation font %s", _font_files[font_index]);
        return NULL;
    }
    /* The text is drawn straight with the font: it is made well formed and
     * its lines are cut between characters. */
    T_STR* fixed = NULL;
    if (t_utf8_repair(&fixed, text, strlen(text)) < 0) {
        al_destroy_font(font);
        return NULL;
    }
    std::vector<std::string> lines;
    for (const char* p = fixed->data;;) {
        const char* end = strchr(p, '\n');
        size_t n = end ? (size_t)(end - p) : strlen(p);
        lines.push_back(std::string(p, t_utf8_cut(p, n, 1023)));
        if (!end) break;
        p = end + 1;
    }
    t_str_free(&fixed);
    int width = 1;
    for (const std::string& line : lines) {
        int lw = al_get_text_width(font, line.c_str());
        if (lw > width) width = lw;
    }
    int lh = al_get_font_line_height(font), pad = size / 4 + 2;
    ALLEGRO_BITMAP* bitmap = _new_canvas_bitmap(width + 2 * pad, (int)lines.size() * lh + 2 * pad);
    if (!bitmap) {
        al_destroy_font(font);
        return NULL;
    }
    ALLEGRO_STATE state;
    al_store_state(&state, ALLEGRO_STATE_TARGET_BITMAP | ALLEGRO_STATE_BLENDER);
    al_set_target_bitmap(bitmap);
    al_clear_to_color(al_map_rgba(0, 0, 0, 0));
    al_set_blender(ALLEGRO_ADD, ALLEGRO_ONE, ALLEGRO_INVERSE_ALPHA);
    ALLEGRO_COLOR c = _paint(app);
    for (size_t i = 0; i < lines.size(); i++)
        al_draw_text(font, c, (float)pad, (float)(pad + (int)i * lh), 0, lines[i].c_str());
    al_restore_state(&state);
    al_destroy_font(font);
    return bitmap;
}

/* ------------------------------------------------------------------------ */
/* Placing and refreshing                                                    */
/* ------------------------------------------------------------------------ */

// Lays down pending work, then pastes `bitmap` as a float centred in the view; 1 on success.
static int _place_bitmap(PLUMARO_APP* app, ALLEGRO_BITMAP* bitmap, int kind) {
    _gui_commit_pending(app);
    float cx, cy, step;
    view_screen_to_canvas(&app->view, (float)app->display_w / 2.0f, (float)app->display_h / 2.0f, &cx, &cy);
    if (grid_snap_step(&app->grid, &step) && step > 0.0f) {
        float half = step / 2.0f;
        cx = _round_away(cx / half) * half;
        cy = _round_away(cy / half) * half;
    }
    int w = al_get_bitmap_width(bitmap), h = al_get_bitmap_height(bitmap);
    if (selection_paste(&app->selection, app->doc, bitmap, (int)(cx - (float)w / 2.0f), (int)(cy - (float)h / 2.0f)) !=
        1)
        return 0;
    app->selection.symmetric = true;
    plumaro_app_set_tool(app, TOOL_SELECT);
    app->selection.source_kind = kind;
    return 1;
}

void _place_shape(PLUMARO_APP* app, int kind) {
    __t_assert_void(app);
    if (kind < 0 || kind > 6) return;
    float zoom = app->view.zoom > 0.0f ? app->view.zoom : 1.0f;
    float f = 0.4f * (float)(app->display_w < app->display_h ? app->display_w : app->display_h);
    float side = (f > 320.0f ? 320.0f : fmaxf(64.0f, f)) / zoom;
    float limit = 2048.0f;
    if (app->doc) limit = fminf(limit, (float)(app->doc->width < app->doc->height ? app->doc->width : app->doc->height));
    side = fmaxf(32.0f, fminf(limit, side));
    float snapped;
    if (grid_snap_length(&app->grid, side, &snapped)) side = fminf(limit, snapped);
    int pixels = (int)(side + 0.5f);
    ALLEGRO_BITMAP* bitmap = _render_shape_bitmap_wh(app, kind, app->shapes_solid, pixels, pixels);
    if (!bitmap) return;
    if (!app->doc || !_place_bitmap(app, bitmap, kind))
        plumaro_gui_notify(app, i18n_tr("Cannot add a shape to a locked layer."));
    al_destroy_bitmap(bitmap);
    plumaro_gui_sync(app);
    _gui_changed(app);
}

void _refresh_placed_float(PLUMARO_APP* app, int force) {
    __t_assert_void(app);
    SELECTION* sel = &app->selection;
    if (sel->state != SEL_FLOATING || !sel->bitmap || sel->source_kind < 0) return;
    GUI_TEXT_POPUP* t = &app->ui.text;
    ALLEGRO_BITMAP* bitmap = NULL;
    int taken = 0;
    if (sel->source_kind == SHAPE_TEXT) {
        if (!force || !t->text[0]) return;
        bitmap = _render_text_bitmap(app, t->text, t->float_font, t->float_size);
        if (bitmap) taken = selection_restyle_float(sel, bitmap);
    } else {
        int w = (int)((float)sel->w * fabsf(sel->scale_x) + 0.5f), h = (int)((float)sel->h * fabsf(sel->scale_y) + 0.5f);
        w = w < 2 ? 2 : (w > 4096 ? 4096 : w);
        h = h < 2 ? 2 : (h > 4096 ? 4096 : h);
        if (!force && w == sel->w && h == sel->h) return;
        bitmap = _render_shape_bitmap_wh(app, sel->source_kind, app->shapes_solid, w, h);
        if (bitmap) taken = selection_resample_float(sel, bitmap);
    }
    if (bitmap && taken != 1) al_destroy_bitmap(bitmap);
    if (bitmap) app->dirty = 1;
}

/* ------------------------------------------------------------------------ */
/* The text popup                                                            */
/* ------------------------------------------------------------------------ */

// 1 while a text float floats.
static int _text_float(const PLUMARO_APP* app) {
    return app->selection.state == SEL_FLOATING && app->selection.source_kind == SHAPE_TEXT;
}

// The combo box and slider from the popup's font and size.
static void _text_popup_set_controls(PLUMARO_APP* app) {
    t_gui_combobox_set_selected(app->gui, app->ui.text.font, app->text_font);
    t_gui_slider_set_value(app->gui, app->ui.text.size, app->text_size);
}

// Closes the popup and ends editing.
static void _text_popup_close(PLUMARO_APP* app) {
    app->ui.text.editing = 0;
    _gui_popup_hide(app, GUI_POPUP_TEXT);
}

// Opens the popup; on a text float it edits that float.
static void _text_popup_open(PLUMARO_APP* app) {
    GUI_TEXT_POPUP* t = &app->ui.text;
    if (_text_float(app)) {
        t->editing = 1;
        app->text_font = t->float_font;
        app->text_size = t->float_size;
        t_gui_textarea_set_text(app->gui, t->field, t->text);
        snprintf(t->saved_text, sizeof(t->saved_text), "%s", t->text);
        t->saved_font = t->float_font;
        t->saved_size = t->float_size;
    } else {
        t->editing = 0;
    }
    _text_popup_set_controls(app);
    _gui_popup_show(app, GUI_POPUP_TEXT);
}

void _on_text_button(int32_t, void* user) {
    _APP(user);
    _text_popup_open(app);
}

void _text_popup_reopen(PLUMARO_APP* app) {
    __t_assert_void(app);
    GUI_TEXT_POPUP* t = &app->ui.text;
    int editing = t->editing;
    if (editing && _text_float(app)) t_gui_textarea_set_text(app->gui, t->field, t->text);
    _text_popup_set_controls(app);
    _gui_popup_show(app, GUI_POPUP_TEXT);
}

// While editing, the float takes the popup's font and size and is rendered again.
static void _text_follow(PLUMARO_APP* app) {
    GUI_TEXT_POPUP* t = &app->ui.text;
    if (!t->editing || !_text_float(app)) return;
    t->float_font = app->text_font;
    t->float_size = app->text_size;
    _refresh_placed_float(app, 1);
    app->dirty = 1;
}

static void _on_text_field_change(int32_t, const char* text, void* user) {
    _APP(user);
    GUI_TEXT_POPUP* t = &app->ui.text;
    if (!t->editing || !_text_float(app)) return;
    snprintf(t->text, sizeof(t->text), "%s", text ? text : "");
    _text_follow(app);
}

static void _on_text_font_select(int32_t, int index, void* user) {
    _APP(user);
    app->text_font = index >= 0 && index < _FONTS ? index : 0;
    _text_follow(app);
}

static void _on_text_size_change(int32_t, double value, void* user) {
    _APP(user);
    app->text_size = (int)(value + 0.5);
    _text_follow(app);
}

void _on_text_ok(int32_t, void* user) {
    _APP(user);
    GUI_TEXT_POPUP* t = &app->ui.text;
    const char* field = t_gui_textarea_get_text(app->gui, t->field);
    if (t->editing && _text_float(app)) {
        snprintf(t->text, sizeof(t->text), "%s", field);
        t->float_font = app->text_font;
        t->float_size = app->text_size;
        _refresh_placed_float(app, 1);
        _text_popup_close(app);
    } else {
        char text[512];
        snprintf(text, sizeof(text), "%s", field);
        ALLEGRO_BITMAP* bitmap = _render_text_bitmap(app, text, app->text_font, app->text_size);
        _text_popup_close(app);
        if (bitmap) {
            if (app->doc && _place_bitmap(app, bitmap, SHAPE_TEXT)) {
                snprintf(t->text, sizeof(t->text), "%s", text);
                t->float_font = app->text_font;
                t->float_size = app->text_size;
            } else {
                plumaro_gui_notify(app, i18n_tr("Cannot add text to a locked layer."));
            }
            al_destroy_bitmap(bitmap);
        }
    }
    plumaro_gui_sync(app);
}

void _text_popup_cancel(PLUMARO_APP* app) {
    __t_assert_void(app);
    GUI_TEXT_POPUP* t = &app->ui.text;
    if (t->editing) {
        snprintf(t->text, sizeof(t->text), "%s", t->saved_text);
        t->float_font = t->saved_font;
        t->float_size = t->saved_size;
        app->text_font = t->saved_font;
        app->text_size = t->saved_size;
        if (_text_float(app)) _refresh_placed_float(app, 1);
    }
    _text_popup_close(app);
}

static void _on_text_cancel(int32_t, void* user) {
    _APP(user);
    _text_popup_cancel(app);
}

int _build_text_popup(PLUMARO_APP* app) {
    __t_assert(app);
    GUI_TEXT_POPUP* t = &app->ui.text;
    const GUI_METRICS* m = &app->ui.metrics;
    float s = m->scale, r = m->row_h, g = m->gap, l = 0.6f * r, pw = m->popup_width + 20.0f, wc = pw - 20.0f;
    float bw = m->popup_button_width;
    int32_t win = _gui_popup_window(app, "textann", ((float)app->display_w - pw) / 2.0f, 10.0f, pw,
                                    8.0f * r + 4.0f * g + 20.0f, GUI_WIN_FIXED, "could not create the text popup");
    if (win < 0) return 0;
    t->window = win;
    t_gui_add_label(app->gui, win, i18n_tr("Add text"), 10.0f, 10.0f, 540.0f * s, r, 0);
    t->field = t_gui_add_textarea(app->gui, win, 10.0f, r + g + 10.0f, wc, 4.0f * r, 1, 511, _on_text_field_change, app);
    float y = r + g + 10.0f + 4.0f * r + g;
    t_gui_add_label(app->gui, win, i18n_tr("Font"), 10.0f, y + 4.0f, 50.0f, l, 0);
    t->font = t_gui_add_combobox(app->gui, win, 62.0f, y, pw - 72.0f, r, _on_text_font_select, app);
    for (const char* name : _font_names) t_gui_combobox_add_item(app->gui, t->font, i18n_tr(name));
    y += r + g;
    t_gui_add_label(app->gui, win, i18n_tr("Size"), 10.0f, y + 4.0f, 50.0f, l, 0);
    t->size = t_gui_add_slider(app->gui, win, 62.0f, y, pw - 72.0f - m->value_reserve, r, APP_RANGE_TEXT_SIZE.min,
                               APP_RANGE_TEXT_SIZE.max, app->text_size, 0, _on_text_size_change, app);
    t_gui_slider_set_step(app->gui, t->size, 1.0);
    t_gui_slider_set_format(app->gui, t->size, "%.0f px");
    y += r + g;
    t_gui_add_button(app->gui, win, i18n_tr("Place"), pw / 2.0f - bw - g, y, bw, r, 1, _on_text_ok, app);
    t_gui_add_button(app->gui, win, i18n_tr("Cancel"), pw / 2.0f + g, y, bw, r, 1, _on_text_cancel, app);
    _text_popup_set_controls(app);
    t_gui_close_window(app->gui, win);
    return 1;
}
