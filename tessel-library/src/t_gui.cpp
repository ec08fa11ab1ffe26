/* t_gui: the toolkit context, windows, stacking and focus, hit testing,
 * event routing with pointer capture, window frames and drawing order. */
#include "t_gui_internal.h"

#include <allegro5/allegro_primitives.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <vector>

#include "t_clipboard.h"
#include "t_log.h"
#include "t_utf8.h"

/* ------------------------------------------------------------------ */
/* defaults                                                            */

T_GUI_STYLE t_gui_default_style(void) {
    T_GUI_STYLE s;
    s.bg_normal = al_map_rgba(50, 50, 60, 230);
    s.bg_hover = al_map_rgba(70, 70, 85, 240);
    s.bg_active = al_map_rgba(90, 90, 110, 250);
    s.border_normal = al_map_rgba(120, 120, 140, 255);
    s.border_hover = al_map_rgba(160, 160, 180, 255);
    s.border_active = al_map_rgba(200, 200, 220, 255);
    s.text_normal = al_map_rgba(220, 220, 220, 255);
    s.text_hover = al_map_rgba(255, 255, 255, 255);
    s.text_active = al_map_rgba(255, 255, 255, 255);
    s.selection_color = al_map_rgba(50, 100, 200, 120);
    s.border_thickness = 1;
    s.corner_rx = 4;
    s.corner_ry = 4;
    return s;
}

T_GUI_METRICS t_gui_default_metrics(void) {
    T_GUI_METRICS m;
    memset(&m, 0, sizeof(m));
    m.titlebar_h = 28;
    m.min_win_w = 120;
    m.min_win_h = 60;
    m.title_padding = 8;
    m.title_max_w_reserve = 16;
    m.tb_btn_size = 0;
    m.tb_btn_spacing = 2;
    m.tb_btn_right_margin = 4;
    m.tb_btn_glyph_thickness = 1.5f;
    m.scrollbar_size = 12;
    m.scrollbar_thumb_min = 16;
    m.scrollbar_thumb_padding = 2;
    m.scrollbar_thumb_corner_r = 3;
    m.scrollbar_track_color = al_map_rgba(40, 40, 50, 200);
    m.scrollbar_thumb_color = al_map_rgba(120, 120, 140, 220);
    m.global_scrollbar_size = 14;
    m.global_scrollbar_thumb_min = 20;
    m.global_scrollbar_thumb_padding = 2;
    m.global_scrollbar_thumb_corner_r = 4;
    m.global_scrollbar_border_thickness = 1;
    m.global_scrollbar_track_color = al_map_rgba(30, 30, 40, 200);
    m.global_scrollbar_thumb_color = al_map_rgba(100, 100, 120, 220);
    m.global_scrollbar_thumb_border_color = al_map_rgba(140, 140, 160, 255);
    m.grip_size = 12;
    m.grip_line_thickness = 1;
    m.grip_color = al_map_rgba(160, 160, 180, 200);
    m.slider_track_size = 6;
    m.slider_track_corner_r = 3;
    m.slider_track_border_thickness = 1;
    m.slider_handle_min_r = 4;
    m.slider_handle_edge_offset = 2;
    m.slider_handle_border_thickness = 1.5f;
    m.slider_value_label_offset = 8;
    m.textarea_padding = 4;
    m.textarea_cursor_width = 2;
    m.textarea_cursor_blink_period = 1;
    m.checkbox_max_size = 20;
    m.checkbox_mark_margin = 4;
    m.checkbox_mark_thickness = 2;
    m.checkbox_label_gap = 10;
    m.checkbox_label_offset = 6;
    m.radio_circle_min_r = 4;
    m.radio_circle_border_thickness = 1.5f;
    m.radio_inner_offset = 3;
    m.radio_label_gap = 6;
    m.listbox_default_item_height = 20;
    m.radiolist_default_item_height = 22;
    m.combobox_max_visible = 6;
    m.dropmenu_max_visible = 12;
    m.item_text_padding = 6;
    m.item_selection_inset = 1;
    m.item_height_pad = 4;
    m.dropdown_arrow_reserve = 16;
    m.dropdown_arrow_thickness = 1.5f;
    m.dropdown_arrow_half_h = 3;
    m.dropdown_arrow_half_w = 5;
    m.dropdown_border_thickness = 1;
    m.label_padding = 4;
    m.link_underline_thickness = 1;
    m.link_color_normal = al_map_rgba(80, 140, 220, 255);
    m.link_color_hover = al_map_rgba(120, 180, 255, 255);
    m.scroll_step = 20;
    m.global_scroll_step = 30;
    m.combobox_max_dropdown_width = 0;
    m.tooltip_delay = 0.6f;
    return m;
}

T_GUI_STYLE t_gui_make_style(ALLEGRO_COLOR bg_normal, ALLEGRO_COLOR bg_hover, ALLEGRO_COLOR bg_active,
                             ALLEGRO_COLOR border_normal, ALLEGRO_COLOR border_hover, ALLEGRO_COLOR border_active,
                             ALLEGRO_COLOR text_normal, ALLEGRO_COLOR text_hover, ALLEGRO_COLOR text_active,
                             float border_thickness, float corner_rx, float corner_ry) {
    T_GUI_STYLE s;
    s.bg_normal = bg_normal;
    s.bg_hover = bg_hover;
    s.bg_active = bg_active;
    s.border_normal = border_normal;
    s.border_hover = border_hover;
    s.border_active = border_active;
    s.text_normal = text_normal;
    s.text_hover = text_hover;
    s.text_active = text_active;
    s.selection_color = al_map_rgba(50, 100, 200, 120);
    s.border_thickness = border_thickness;
    s.corner_rx = corner_rx;
    s.corner_ry = corner_ry;
    return s;
}

ALLEGRO_COLOR _t_gui_premul(ALLEGRO_COLOR c) {
    return al_map_rgba_f(c.r * c.a, c.g * c.a, c.b * c.a, c.a);
}

/* ------------------------------------------------------------------ */
/* context                                                             */

/* Frees a widget and everything it owns. */
static void _widget_free(void* ptr) {
    T_GUI_WIDGET* widget = (T_GUI_WIDGET*)ptr;
    if (!widget) return;
    if (widget->data) {
        if (widget->destroy_data)
            widget->destroy_data(widget->data);
        else
            free(widget->data);
    }
    free(widget->tooltip);
    free(widget->shortcut_focus);
    free(widget);
}

/* Frees a window with its widgets. */
static void _window_free(void* ptr) {
    T_GUI_WINDOW* win = (T_GUI_WINDOW*)ptr;
    if (!win) return;
    if (win->widgets) list_destroy(&win->widgets);
    free(win);
}

T_GUI_CTX* t_gui_new_ctx(ALLEGRO_FONT* default_font) {
    __t_assert_null(default_font);
    T_GUI_CTX* ctx = NULL;
    Malloc(ctx, T_GUI_CTX, 1, return NULL);
    ctx->windows = new_generic_list(0);
    if (!ctx->windows) {
        t_log(LOG_ERR, "t_gui_new_ctx: failed to allocate window list");
        free(ctx);
        return NULL;
    }
    ctx->widget_table = new_ht(256);
    if (!ctx->widget_table) {
        t_log(LOG_ERR, "t_gui_new_ctx: failed to allocate widget hash table");
        list_destroy(&ctx->windows);
        free(ctx);
        return NULL;
    }
    ctx->next_window_id = 1;
    ctx->next_widget_id = 1;
    ctx->default_font = default_font;
    ctx->style = t_gui_default_style();
    ctx->tb_button_style = ctx->style;
    ctx->tb_close_style = ctx->style;
    ctx->tb_close_style.bg_hover = al_map_rgba(232, 17, 35, 220);
    ctx->tb_close_style.bg_active = al_map_rgba(200, 10, 25, 255);
    ctx->metrics = t_gui_default_metrics();
    ctx->shape_mode = 2;
    ctx->focused_widget = -1;
    ctx->double_clicked_widget = -1;
    ctx->double_click_time = 0.4;
    ctx->double_click_radius = 4;
    ctx->virtual_scale = 1;
    ctx->hovered_widget = -1;
    ctx->pressed_widget = -1;
    ctx->capture_window = -1;
    ctx->last_press_widget = -1;
    ctx->open_combo = -1;
    ctx->label_selection = -1;
    ctx->touch_id = -1;
    ctx->wanted_cursor = ALLEGRO_SYSTEM_MOUSE_CURSOR_DEFAULT;
    ctx->shown_cursor = ALLEGRO_SYSTEM_MOUSE_CURSOR_DEFAULT;
    ctx->needs_redraw = 1;
    return ctx;
}

void t_gui_destroy_ctx(T_GUI_CTX** ctx) {
    __t_assert_void(ctx);
    if (!*ctx) {
        t_log(LOG_DEBUG, "Free( %s ) already done or NULL at line %d of %s", "*ctx", __LINE__, __FILE__);
        return;
    }
    T_GUI_CTX* c = *ctx;
    destroy_ht(&c->widget_table); /* the table does not own the widgets */
    list_destroy(&c->windows);
    free(c->pending_layout);
    if (c->display) t_clipboard_set_display(NULL);
    t_clipboard_shutdown();
    free(c);
    *ctx = NULL;
}

void t_gui_set_display(T_GUI_CTX* ctx, ALLEGRO_DISPLAY* display) {
    __t_assert_void(ctx);
    ctx->display = display;
    t_clipboard_set_display(display);
}

/* Recomputes the letter-box mapping of the virtual canvas. */
static void _update_virtual(T_GUI_CTX* ctx) {
    if (ctx->virtual_w > 0 && ctx->virtual_h > 0 && ctx->display_w > 0 && ctx->display_h > 0) {
        float s = std::min(ctx->display_w / ctx->virtual_w, ctx->display_h / ctx->virtual_h);
        if (s < 0.01f) s = 0.01f;
        ctx->virtual_scale = s;
        ctx->virtual_offset_x = (ctx->display_w - ctx->virtual_w * s) / 2;
        ctx->virtual_offset_y = (ctx->display_h - ctx->virtual_h * s) / 2;
    } else {
        ctx->virtual_scale = 1;
        ctx->virtual_offset_x = 0;
        ctx->virtual_offset_y = 0;
    }
}

void t_gui_set_display_size(T_GUI_CTX* ctx, float w, float h) {
    __t_assert_void(ctx);
    ctx->display_w = w;
    ctx->display_h = h;
    _update_virtual(ctx);
    ctx->needs_redraw = 1;
}

void t_gui_set_virtual_size(T_GUI_CTX* ctx, float w, float h) {
    __t_assert_void(ctx);
    ctx->virtual_w = w > 0 ? w : 0;
    ctx->virtual_h = h > 0 ? h : 0;
    _update_virtual(ctx);
    ctx->needs_redraw = 1;
}

void t_gui_set_double_click_time(T_GUI_CTX* ctx, double seconds) {
    __t_assert_void(ctx);
    ctx->double_click_time = seconds < 0 ? 0 : seconds;
}

void t_gui_set_double_click_radius(T_GUI_CTX* ctx, int32_t pixels) {
    __t_assert_void(ctx);
    ctx->double_click_radius = pixels < 0 ? 0 : pixels;
}

/* Width and height of the space the windows live in (virtual canvas or display). */
static void _space_size(const T_GUI_CTX* ctx, float* w, float* h) {
    if (ctx->virtual_w > 0 && ctx->virtual_h > 0) {
        *w = ctx->virtual_w;
        *h = ctx->virtual_h;
    } else {
        *w = ctx->display_w;
        *h = ctx->display_h;
    }
}

/* ------------------------------------------------------------------ */
/* windows and stacking                                                */

/* Stacking rank of a mode. */
static int _rank(int32_t z_order) {
    switch (z_order) {
        case T_GUI_ZORDER_ALWAYS_BEHIND: return 0;
        case T_GUI_ZORDER_FIXED: return 1;
        case T_GUI_ZORDER_ALWAYS_ON_TOP: return 3;
        case T_GUI_ZORDER_POPUP: return 4;
        default: return 2;
    }
}

/* The windows in list order. */
static std::vector<T_GUI_WINDOW*> _window_vector(T_GUI_CTX* ctx) {
    std::vector<T_GUI_WINDOW*> out;
    for (LIST_NODE* n = ctx->windows->start; n; n = n->next) out.push_back((T_GUI_WINDOW*)n->ptr);
    return out;
}

/* Writes the windows back into the list nodes in the given order. */
static void _window_store(T_GUI_CTX* ctx, const std::vector<T_GUI_WINDOW*>& order) {
    size_t i = 0;
    for (LIST_NODE* n = ctx->windows->start; n && i < order.size(); n = n->next) n->ptr = order[i++];
}

/* Stable sort of the window list by rank (fixed windows by z_value). */
static void _sort_windows(T_GUI_CTX* ctx, T_GUI_WINDOW* to_front) {
    std::vector<T_GUI_WINDOW*> v = _window_vector(ctx);
    if (to_front) {
        auto it = std::find(v.begin(), v.end(), to_front);
        if (it != v.end()) {
            v.erase(it);
            v.push_back(to_front);
        }
    }
    std::stable_sort(v.begin(), v.end(), [](const T_GUI_WINDOW* a, const T_GUI_WINDOW* b) {
        int ra = _rank(a->z_order), rb = _rank(b->z_order);
        if (ra != rb) return ra < rb;
        if (ra == 1) return a->z_value < b->z_value;
        return false;
    });
    _window_store(ctx, v);
    ctx->needs_redraw = 1;
}

void _t_gui_sort(T_GUI_CTX* ctx) {
    if (ctx) _sort_windows(ctx, NULL);
}

T_GUI_WINDOW* t_gui_get_window(T_GUI_CTX* ctx, int32_t id) {
    __t_assert_null(ctx);
    for (LIST_NODE* n = ctx->windows->start; n; n = n->next) {
        T_GUI_WINDOW* w = (T_GUI_WINDOW*)n->ptr;
        if (w->id == id) return w;
    }
    return NULL;
}

/* Updates a window's rectangle relative to the display. */
static void _window_update_norm(T_GUI_CTX* ctx, T_GUI_WINDOW* win) {
    float sw, sh;
    _space_size(ctx, &sw, &sh);
    if (sw > 0 && sh > 0) {
        win->norm_x = win->x / sw;
        win->norm_y = win->y / sh;
        win->norm_w = win->w / sw;
        win->norm_h = win->h / sh;
    }
}

/* Applies and removes the pending layout entry of a new window, if any. */
static void _apply_pending(T_GUI_CTX* ctx, T_GUI_WINDOW* win) {
    for (int i = 0; i < ctx->pending_count; i++) {
        T_GUI_PENDING_LAYOUT* p = &ctx->pending_layout[i];
        if (strcmp(p->title, win->title) != 0) continue;
        float sw, sh;
        _space_size(ctx, &sw, &sh);
        float x = p->x, y = p->y, w = p->w, h = p->h;
        if (sw > 0 && (x < 0 || x > sw)) x = 0;
        if (sh > 0 && (y < 0 || y > sh)) y = 0;
        if (sw > 0 && w > sw) w = sw;
        if (sh > 0 && h > sh) h = sh;
        win->x = x;
        win->y = y;
        if (w > 0) win->w = w;
        if (h > 0) win->h = h;
        win->state = (win->state & ~(T_GUI_STATE_COLLAPSED | T_GUI_STATE_MAXIMIZED)) |
                     (p->state & (T_GUI_STATE_COLLAPSED | T_GUI_STATE_MAXIMIZED));
        memmove(p, p + 1, sizeof(*p) * (size_t)(ctx->pending_count - i - 1));
        ctx->pending_count--;
        return;
    }
}

int32_t t_gui_add_window(T_GUI_CTX* ctx, const char* title, float x, float y, float w, float h) {
    __t_assert_return(ctx, -1);
    T_GUI_WINDOW* win = NULL;
    Malloc(win, T_GUI_WINDOW, 1, return -1);
    win->widgets = new_generic_list(0);
    if (!win->widgets) {
        t_log(LOG_ERR, "t_gui_add_window: failed to allocate widget list");
        free(win);
        return -1;
    }
    /* The title is drawn: it is repaired like every text a widget shows. */
    t_utf8_copy(win->title, sizeof(win->title), title);
    win->x = x;
    win->y = y;
    win->w = w;
    win->h = h;
    win->titlebar_h = ctx->metrics.titlebar_h;
    win->state = T_GUI_STATE_OPEN;
    win->style = ctx->style;
    _apply_pending(ctx, win);
    _window_update_norm(ctx, win);
    if (!list_push(ctx->windows, win, _window_free)) {
        _window_free(win);
        return -1;
    }
    win->id = ctx->next_window_id++;
    _sort_windows(ctx, NULL);
    return win->id;
}

int t_gui_open_window(T_GUI_CTX* ctx, int32_t id) {
    __t_assert(ctx);
    T_GUI_WINDOW* win = t_gui_get_window(ctx, id);
    if (!win) return 0;
    win->state |= T_GUI_STATE_OPEN;
    ctx->needs_redraw = 1;
    return 1;
}

/* 1 when the widget lives in the window. */
static int _widget_in_window(T_GUI_CTX* ctx, int32_t widget_id, int32_t window_id) {
    T_GUI_WIDGET* w = t_gui_get_widget(ctx, widget_id);
    return w && w->window_id == window_id;
}

int t_gui_close_window(T_GUI_CTX* ctx, int32_t id) {
    __t_assert(ctx);
    T_GUI_WINDOW* win = t_gui_get_window(ctx, id);
    if (!win) return 0;
    win->state &= ~(T_GUI_STATE_OPEN | T_GUI_STATE_MOVING | T_GUI_STATE_RESIZING | T_GUI_STATE_VSCROLL_DRAG |
                    T_GUI_STATE_HSCROLL_DRAG);
    if (ctx->focused_widget >= 0 && _widget_in_window(ctx, ctx->focused_widget, id)) t_gui_set_focus(ctx, -1);
    if (ctx->open_combo >= 0 && _widget_in_window(ctx, ctx->open_combo, id)) _t_gui_close_dropdown(ctx);
    if (ctx->pressed_widget >= 0 && _widget_in_window(ctx, ctx->pressed_widget, id)) {
        T_GUI_WIDGET* p = t_gui_get_widget(ctx, ctx->pressed_widget);
        if (p) p->state &= ~(T_GUI_WSTATE_PRESSED | T_GUI_WSTATE_DRAG);
        ctx->pressed_widget = -1;
    }
    if (ctx->hovered_widget >= 0 && _widget_in_window(ctx, ctx->hovered_widget, id)) {
        T_GUI_WIDGET* hw = t_gui_get_widget(ctx, ctx->hovered_widget);
        if (hw) hw->state &= ~T_GUI_WSTATE_HOVER;
        ctx->hovered_widget = -1;
    }
    if (ctx->capture_window == id) ctx->capture_window = -1;
    ctx->needs_redraw = 1;
    return 1;
}

int t_gui_window_is_open(T_GUI_CTX* ctx, int32_t id) {
    __t_assert(ctx);
    T_GUI_WINDOW* win = t_gui_get_window(ctx, id);
    return win && (win->state & T_GUI_STATE_OPEN) ? 1 : 0;
}

int t_gui_window_set_flags(T_GUI_CTX* ctx, int32_t id, int32_t flags) {
    __t_assert(ctx);
    T_GUI_WINDOW* win = t_gui_get_window(ctx, id);
    if (!win) return 0;
    win->flags = flags;
    ctx->needs_redraw = 1;
    return 1;
}

int32_t t_gui_window_get_flags(T_GUI_CTX* ctx, int32_t id) {
    __t_assert_return(ctx, -1);
    T_GUI_WINDOW* win = t_gui_get_window(ctx, id);
    return win ? win->flags : -1;
}

int t_gui_window_set_zorder(T_GUI_CTX* ctx, int32_t id, int32_t z_mode, int32_t z_value) {
    __t_assert(ctx);
    T_GUI_WINDOW* win = t_gui_get_window(ctx, id);
    if (!win) return 0;
    if (z_mode < 0 || z_mode > 4) {
        t_log(LOG_WARNING,
              "t_gui_window_set_zorder: unknown z_mode %d for window %d (expected T_GUI_ZORDER_NORMAL, "
              "T_GUI_ZORDER_ALWAYS_ON_TOP, T_GUI_ZORDER_ALWAYS_BEHIND, T_GUI_ZORDER_FIXED, or "
              "T_GUI_ZORDER_POPUP), falling back to T_GUI_ZORDER_NORMAL",
              z_mode, id);
        z_mode = T_GUI_ZORDER_NORMAL;
    }
    win->z_order = z_mode;
    win->z_value = z_value;
    _sort_windows(ctx, NULL);
    return 1;
}

int t_gui_raise_window(T_GUI_CTX* ctx, int32_t id) {
    __t_assert(ctx);
    T_GUI_WINDOW* win = t_gui_get_window(ctx, id);
    if (!win) return 0;
    if (win->z_order != T_GUI_ZORDER_NORMAL && win->z_order != T_GUI_ZORDER_POPUP) return 1;
    _sort_windows(ctx, win);
    return 1;
}

int t_gui_window_set_position(T_GUI_CTX* ctx, int32_t id, float x, float y) {
    __t_assert(ctx);
    T_GUI_WINDOW* win = t_gui_get_window(ctx, id);
    if (!win) return 0;
    win->x = x;
    win->y = y;
    _window_update_norm(ctx, win);
    ctx->needs_redraw = 1;
    return 1;
}

int t_gui_window_set_size(T_GUI_CTX* ctx, int32_t id, float w, float h) {
    __t_assert(ctx);
    T_GUI_WINDOW* win = t_gui_get_window(ctx, id);
    if (!win) return 0;
    win->w = w;
    win->h = h;
    _window_update_norm(ctx, win);
    ctx->needs_redraw = 1;
    return 1;
}

int t_gui_window_set_draw_callback(T_GUI_CTX* ctx, int32_t id, T_GUI_WINDOW_DRAW_CB cb, void* user) {
    __t_assert(ctx);
    T_GUI_WINDOW* win = t_gui_get_window(ctx, id);
    if (!win) return 0;
    win->draw_cb = cb;
    win->draw_user = user;
    return 1;
}

int t_gui_window_set_button_callback(T_GUI_CTX* ctx, int32_t id, int button, T_GUI_WINDOW_BUTTON_CB cb,
                                     void* user) {
    __t_assert(ctx);
    T_GUI_WINDOW* win = t_gui_get_window(ctx, id);
    if (!win) return 0;
    switch (button) {
        case T_GUI_TB_MINIMIZE: win->minimize_cb = cb; win->minimize_user = user; return 1;
        case T_GUI_TB_MAXIMIZE: win->maximize_cb = cb; win->maximize_user = user; return 1;
        case T_GUI_TB_CLOSE: win->close_cb = cb; win->close_user = user; return 1;
        default: return 0;
    }
}

float _t_gui_titlebar(const T_GUI_WINDOW* win) {
    return (win->flags & T_GUI_WIN_NO_TITLEBAR) ? 0.0f : win->titlebar_h;
}

/* Window origin on screen (in window space), global scroll applied. */
static void _window_origin(const T_GUI_CTX* ctx, const T_GUI_WINDOW* win, float* x, float* y) {
    *x = win->x - ctx->global_scroll_x;
    *y = win->y - ctx->global_scroll_y;
}

/* Right and bottom extents of a window's visible widgets. */
/* The content reaches the lowest widget plus the space left above the
 * highest, so a window scrolled to its end keeps the same margin below as
 * above instead of cutting its last widget at the edge. */
static void _content_extent(const T_GUI_WINDOW* win, float* cw, float* ch) {
    *cw = 0;
    *ch = 0;
    float top = -1.0f;
    for (LIST_NODE* n = win->widgets->start; n; n = n->next) {
        T_GUI_WIDGET* w = (T_GUI_WIDGET*)n->ptr;
        if (!w->visible) continue;
        *cw = std::max(*cw, w->x + w->w);
        *ch = std::max(*ch, w->y + w->h);
        if (top < 0.0f || w->y < top) top = w->y;
    }
    if (top > 0.0f) *ch += top;
}

/* Scroll bar geometry of a window: which bars show and the view size. */
typedef struct SCROLL_GEOM {
    int vbar, hbar;
    float view_w, view_h;   /* content viewport */
    float content_w, content_h;
} SCROLL_GEOM;

/* Works out the scroll bars of a window and clamps its scroll offsets. */
static SCROLL_GEOM _scroll_geom(const T_GUI_CTX* ctx, T_GUI_WINDOW* win) {
    SCROLL_GEOM g;
    memset(&g, 0, sizeof(g));
    float tb = _t_gui_titlebar(win);
    g.view_w = win->w;
    g.view_h = win->h - tb;
    _content_extent(win, &g.content_w, &g.content_h);
    if (win->flags & T_GUI_WIN_SCROLLABLE) {
        float sb = ctx->metrics.scrollbar_size;
        g.vbar = g.content_h > g.view_h;
        g.hbar = g.content_w > g.view_w - (g.vbar ? sb : 0);
        if (g.hbar && !g.vbar) g.vbar = g.content_h > g.view_h - sb;
        if (g.vbar) g.view_w -= sb;
        if (g.hbar) g.view_h -= sb;
        float max_x = std::max(0.0f, g.content_w - g.view_w), max_y = std::max(0.0f, g.content_h - g.view_h);
        win->scroll_x = std::min(std::max(win->scroll_x, 0.0f), max_x);
        win->scroll_y = std::min(std::max(win->scroll_y, 0.0f), max_y);
    } else {
        win->scroll_x = 0;
        win->scroll_y = 0;
    }
    if (g.view_w < 0) g.view_w = 0;
    if (g.view_h < 0) g.view_h = 0;
    return g;
}

int t_gui_window_content_origin(T_GUI_CTX* ctx, int32_t id, float* ox, float* oy) {
    __t_assert(ctx);
    __t_assert(ox && oy);
    T_GUI_WINDOW* win = t_gui_get_window(ctx, id);
    if (!win) return 0;
    float wx, wy;
    _window_origin(ctx, win, &wx, &wy);
    *ox = wx - win->scroll_x;
    *oy = wy + _t_gui_titlebar(win) - win->scroll_y;
    return 1;
}

/* Vertical scroll thumb rectangle of a window; 0 when no bar shows. */
static int _vthumb(const T_GUI_CTX* ctx, const T_GUI_WINDOW* win, const SCROLL_GEOM* g, float* tx, float* ty,
                   float* tw, float* th) {
    if (!g->vbar || g->content_h <= 0) return 0;
    const T_GUI_METRICS* m = &ctx->metrics;
    float wx, wy;
    _window_origin(ctx, win, &wx, &wy);
    float track_y = wy + _t_gui_titlebar(win), track_h = g->view_h;
    float len = std::max(m->scrollbar_thumb_min, track_h * g->view_h / g->content_h);
    if (len > track_h) len = track_h;
    float range = g->content_h - g->view_h;
    float pos = range > 0 ? (track_h - len) * win->scroll_y / range : 0;
    *tx = wx + g->view_w + m->scrollbar_thumb_padding;
    *tw = m->scrollbar_size - 2 * m->scrollbar_thumb_padding;
    *ty = track_y + pos;
    *th = len;
    return 1;
}

/* Horizontal scroll thumb rectangle of a window; 0 when no bar shows. */
static int _hthumb(const T_GUI_CTX* ctx, const T_GUI_WINDOW* win, const SCROLL_GEOM* g, float* tx, float* ty,
                   float* tw, float* th) {
    if (!g->hbar || g->content_w <= 0) return 0;
    const T_GUI_METRICS* m = &ctx->metrics;
    float wx, wy;
    _window_origin(ctx, win, &wx, &wy);
    float track_w = g->view_w;
    float len = std::max(m->scrollbar_thumb_min, track_w * g->view_w / g->content_w);
    if (len > track_w) len = track_w;
    float range = g->content_w - g->view_w;
    float pos = range > 0 ? (track_w - len) * win->scroll_x / range : 0;
    *tx = wx + pos;
    *tw = len;
    *ty = wy + _t_gui_titlebar(win) + g->view_h + m->scrollbar_thumb_padding;
    *th = m->scrollbar_size - 2 * m->scrollbar_thumb_padding;
    return 1;
}

/* Union of the open windows and the global scroll range it asks for. */
static void _update_global_scroll(T_GUI_CTX* ctx, float* over_x, float* over_y) {
    float sw, sh;
    _space_size(ctx, &sw, &sh);
    float right = 0, bottom = 0;
    for (LIST_NODE* n = ctx->windows->start; n; n = n->next) {
        T_GUI_WINDOW* w = (T_GUI_WINDOW*)n->ptr;
        if (!(w->state & T_GUI_STATE_OPEN)) continue;
        right = std::max(right, w->x + w->w);
        bottom = std::max(bottom, w->y + w->h);
    }
    float ox = (sw > 0 && right > sw) ? right - sw : 0;
    float oy = (sh > 0 && bottom > sh) ? bottom - sh : 0;
    ctx->global_scroll_x = std::min(std::max(ctx->global_scroll_x, 0.0f), ox);
    ctx->global_scroll_y = std::min(std::max(ctx->global_scroll_y, 0.0f), oy);
    if (over_x) *over_x = ox;
    if (over_y) *over_y = oy;
}

/* Title bar button rectangles from the right: close, maximise, minimise.
 * Fills up to three entries and returns how many exist. */
static int _tb_buttons(const T_GUI_CTX* ctx, const T_GUI_WINDOW* win, int kinds[3], float xs[3], float* y,
                       float* size) {
    if (win->flags & T_GUI_WIN_NO_TITLEBAR) return 0;
    const T_GUI_METRICS* m = &ctx->metrics;
    float s = m->tb_btn_size > 0 ? m->tb_btn_size : win->titlebar_h - 4;
    float wx, wy;
    _window_origin(ctx, win, &wx, &wy);
    *size = s;
    *y = wy + (win->titlebar_h - s) / 2;
    int count = 0;
    float right = wx + win->w - m->tb_btn_right_margin;
    const int order[3] = {T_GUI_TB_CLOSE, T_GUI_TB_MAXIMIZE, T_GUI_TB_MINIMIZE};
    const int bits[3] = {T_GUI_WIN_CLOSE_BTN, T_GUI_WIN_MAXIMIZE_BTN, T_GUI_WIN_MINIMIZE_BTN};
    for (int i = 0; i < 3; i++) {
        if (!(win->flags & bits[i])) continue;
        kinds[count] = order[i];
        xs[count] = right - s;
        right -= s + m->tb_btn_spacing;
        count++;
    }
    return count;
}

/* The title bar button under a point, 0 none. */
static int _tb_button_at(const T_GUI_CTX* ctx, const T_GUI_WINDOW* win, float px, float py) {
    int kinds[3];
    float xs[3], y, s;
    int n = _tb_buttons(ctx, win, kinds, xs, &y, &s);
    for (int i = 0; i < n; i++)
        if (px >= xs[i] && px <= xs[i] + s && py >= y && py <= y + s) return kinds[i];
    return 0;
}

/* Height of a window that catches the pointer. */
static float _hit_height(const T_GUI_WINDOW* win) {
    if (win->state & T_GUI_STATE_COLLAPSED) return _t_gui_titlebar(win);
    return win->h;
}

/* Frontmost open window containing a point in window space. */
static T_GUI_WINDOW* _window_hit(T_GUI_CTX* ctx, float px, float py) {
    for (LIST_NODE* n = ctx->windows->end; n; n = n->prev) {
        T_GUI_WINDOW* w = (T_GUI_WINDOW*)n->ptr;
        if (!(w->state & T_GUI_STATE_OPEN)) continue;
        float wx, wy;
        _window_origin(ctx, w, &wx, &wy);
        if (px >= wx && px <= wx + w->w && py >= wy && py <= wy + _hit_height(w)) return w;
    }
    return NULL;
}

/* Maps a display point into window space. */
static void _map_point(const T_GUI_CTX* ctx, float x, float y, float* ox, float* oy) {
    if (ctx->virtual_w > 0 && ctx->virtual_h > 0) {
        *ox = (x - ctx->virtual_offset_x) / ctx->virtual_scale;
        *oy = (y - ctx->virtual_offset_y) / ctx->virtual_scale;
    } else {
        *ox = x;
        *oy = y;
    }
}

int32_t t_gui_window_at(T_GUI_CTX* ctx, float x, float y) {
    __t_assert_return(ctx, -1);
    float px, py;
    _map_point(ctx, x, y, &px, &py);
    T_GUI_WINDOW* w = _window_hit(ctx, px, py);
    return w ? w->id : -1;
}

int t_gui_wants_mouse(T_GUI_CTX* ctx) {
    __t_assert(ctx);
    return _window_hit(ctx, ctx->mouse_x, ctx->mouse_y) ? 1 : 0;
}

/* ------------------------------------------------------------------ */
/* widgets (generic)                                                   */

T_GUI_WIDGET* t_gui_get_widget(T_GUI_CTX* ctx, int32_t id) {
    __t_assert_null(ctx);
    if (id < 0) return NULL;
    char key[16];
    snprintf(key, sizeof(key), "%d", id);
    void* ptr = NULL;
    if (!ht_get_ptr(ctx->widget_table, key, &ptr)) return NULL;
    return (T_GUI_WIDGET*)ptr;
}

T_GUI_WIDGET* _t_gui_widget_of(T_GUI_CTX* ctx, int32_t id, int32_t kind) {
    if (!ctx) return NULL;
    T_GUI_WIDGET* w = t_gui_get_widget(ctx, id);
    return (w && w->kind == kind) ? w : NULL;
}

void t_gui_widget_update_norm(T_GUI_CTX* ctx, T_GUI_WIDGET* widget) {
    __t_assert_void(ctx);
    __t_assert_void(widget);
    T_GUI_WINDOW* win = t_gui_get_window(ctx, widget->window_id);
    if (!win || win->w <= 0 || win->h <= 0) return;
    widget->norm_x = widget->x / win->w;
    widget->norm_y = widget->y / win->h;
    widget->norm_w = widget->w / win->w;
    widget->norm_h = widget->h / win->h;
}

T_GUI_WIDGET* _t_gui_new_widget(T_GUI_CTX* ctx, int32_t win_id, int32_t kind, float x, float y, float w, float h,
                                void* data) {
    T_GUI_WINDOW* win = ctx ? t_gui_get_window(ctx, win_id) : NULL;
    if (!win) {
        t_log(LOG_DEBUG, "if( !(%s) ) assert at line %d of %s", "win", __LINE__, __FILE__);
        free(data);
        return NULL;
    }
    T_GUI_WIDGET* widget = NULL;
    Malloc(widget, T_GUI_WIDGET, 1, free(data); return NULL);
    widget->kind = kind;
    widget->x = x;
    widget->y = y;
    widget->w = w;
    widget->h = h;
    widget->visible = 1;
    widget->enabled = 1;
    widget->style = ctx->style;
    widget->data = data;
    widget->window_id = win_id;
    widget->id = ctx->next_widget_id;
    if (!list_push(win->widgets, widget, _widget_free)) {
        _widget_free(widget);
        return NULL;
    }
    char key[16];
    snprintf(key, sizeof(key), "%d", widget->id);
    if (!ht_put_ptr(ctx->widget_table, key, widget, NULL)) {
        /* the list owns it now: take it back out before freeing */
        list_pop_f(win->widgets);
        _widget_free(widget);
        return NULL;
    }
    ctx->next_widget_id++;
    t_gui_widget_update_norm(ctx, widget);
    ctx->needs_redraw = 1;
    return widget;
}

void t_gui_widget_set_tooltip(T_GUI_CTX* ctx, int32_t id, const char* text) {
    __t_assert_void(ctx);
    T_GUI_WIDGET* w = t_gui_get_widget(ctx, id);
    if (!w) return;
    /* Copied before the old one goes: the text may be the tooltip itself. */
    T_STR* fixed = NULL;
    if (text && text[0] && t_utf8_repair(&fixed, text, strlen(text)) < 0) return;
    char* copy = fixed ? strdup(fixed->data) : NULL;
    if (fixed) t_str_free(&fixed);
    free(w->tooltip);
    w->tooltip = copy;
}

void t_gui_widget_set_style(T_GUI_CTX* ctx, int32_t id, const T_GUI_STYLE* style) {
    __t_assert_void(ctx);
    __t_assert_void(style);
    T_GUI_WIDGET* w = t_gui_get_widget(ctx, id);
    if (!w) return;
    w->style = *style;
    w->has_style = 1;
    ctx->needs_redraw = 1;
}

void t_gui_widget_set_visible(T_GUI_CTX* ctx, int32_t id, int visible) {
    __t_assert_void(ctx);
    T_GUI_WIDGET* w = t_gui_get_widget(ctx, id);
    if (!w) return;
    w->visible = visible ? 1 : 0;
    if (!w->visible && ctx->open_combo == id) _t_gui_close_dropdown(ctx);
    ctx->needs_redraw = 1;
}

void t_gui_widget_set_enabled(T_GUI_CTX* ctx, int32_t id, int enabled) {
    __t_assert_void(ctx);
    T_GUI_WIDGET* w = t_gui_get_widget(ctx, id);
    if (!w) return;
    w->enabled = enabled ? 1 : 0;
    ctx->needs_redraw = 1;
}

void t_gui_widget_set_font(T_GUI_CTX* ctx, int32_t id, ALLEGRO_FONT* font) {
    __t_assert_void(ctx);
    T_GUI_WIDGET* w = t_gui_get_widget(ctx, id);
    if (!w) return;
    w->font = font;
    ctx->needs_redraw = 1;
}

void t_gui_widget_set_rect(T_GUI_CTX* ctx, int32_t id, float x, float y, float w, float h) {
    __t_assert_void(ctx);
    T_GUI_WIDGET* widget = t_gui_get_widget(ctx, id);
    if (!widget) return;
    widget->x = x;
    widget->y = y;
    widget->w = w;
    widget->h = h;
    t_gui_widget_update_norm(ctx, widget);
    ctx->needs_redraw = 1;
}

void _t_gui_widget_screen_rect(T_GUI_CTX* ctx, const T_GUI_WIDGET* widget, float* x, float* y) {
    float ox = 0, oy = 0;
    t_gui_window_content_origin(ctx, widget->window_id, &ox, &oy);
    *x = ox + widget->x;
    *y = oy + widget->y;
}

const T_GUI_STYLE* _t_gui_widget_style(T_GUI_CTX* ctx, const T_GUI_WIDGET* widget) {
    return widget->has_style ? &widget->style : &ctx->style;
}

/* ------------------------------------------------------------------ */
/* focus                                                               */

int t_gui_set_focus(T_GUI_CTX* ctx, int32_t widget_id) {
    __t_assert(ctx);
    T_GUI_WIDGET* previous = t_gui_get_widget(ctx, ctx->focused_widget);
    T_GUI_WIDGET* next = NULL;
    if (widget_id >= 0) {
        next = t_gui_get_widget(ctx, widget_id);
        if (!next) {
            t_log(LOG_WARNING, "t_gui_set_focus: widget %d not found", widget_id);
            return 0;
        }
    }
    if (previous) previous->state &= ~T_GUI_WSTATE_FOCUS;
    ctx->focused_widget = -1;
    ctx->needs_redraw = 1;
    if (!next) return 1;
    ctx->focused_widget = next->id;
    next->state |= T_GUI_WSTATE_FOCUS;
    if (next->kind == T_GUI_KIND_TEXTAREA) _t_gui_textarea_focus(ctx, next);
    T_GUI_WINDOW* win = t_gui_get_window(ctx, next->window_id);
    if (win && (win->state & T_GUI_STATE_OPEN) &&
        (win->z_order == T_GUI_ZORDER_NORMAL || win->z_order == T_GUI_ZORDER_POPUP))
        _sort_windows(ctx, win);
    return 1;
}

/* ------------------------------------------------------------------ */
/* events                                                              */

/* Time of an event (synthetic events without a stamp take the clock). */
static double _event_time(const ALLEGRO_EVENT* ev) {
    return ev->any.timestamp > 0 ? ev->any.timestamp : al_get_time();
}

/* Topmost visible widget of a window under a point inside its content area. */
static T_GUI_WIDGET* _widget_hit(T_GUI_CTX* ctx, T_GUI_WINDOW* win, float px, float py) {
    if (win->state & T_GUI_STATE_COLLAPSED) return NULL;
    SCROLL_GEOM g = _scroll_geom(ctx, win);
    float wx, wy;
    _window_origin(ctx, win, &wx, &wy);
    float cy = wy + _t_gui_titlebar(win);
    if (px < wx || px > wx + g.view_w || py < cy || py > cy + g.view_h) return NULL;
    float ox = wx - win->scroll_x, oy = cy - win->scroll_y;
    for (LIST_NODE* n = win->widgets->end; n; n = n->prev) {
        T_GUI_WIDGET* w = (T_GUI_WIDGET*)n->ptr;
        if (!w->visible) continue;
        float x = ox + w->x, y = oy + w->y;
        if (px >= x && px < x + w->w && py >= y && py < y + w->h) return w;
    }
    return NULL;
}

/* Moves the hover mark to the widget under the pointer. */
static void _update_hover(T_GUI_CTX* ctx, double now) {
    T_GUI_WIDGET* hit = NULL;
    T_GUI_WINDOW* win = _window_hit(ctx, ctx->mouse_x, ctx->mouse_y);
    if (win) hit = _widget_hit(ctx, win, ctx->mouse_x, ctx->mouse_y);
    int32_t id = hit ? hit->id : -1;
    if (id == ctx->hovered_widget) return;
    T_GUI_WIDGET* old = t_gui_get_widget(ctx, ctx->hovered_widget);
    if (old) old->state &= ~T_GUI_WSTATE_HOVER;
    if (hit) hit->state |= T_GUI_WSTATE_HOVER;
    ctx->hovered_widget = id;
    ctx->hover_since = now;
    ctx->needs_redraw = 1;
}

/* Applies a title bar button: its callback, or its own action. */
static void _tb_button_act(T_GUI_CTX* ctx, T_GUI_WINDOW* win, int button) {
    float sw, sh;
    _space_size(ctx, &sw, &sh);
    switch (button) {
        case T_GUI_TB_MINIMIZE:
            if (win->minimize_cb)
                win->minimize_cb(win->id, win->minimize_user, button);
            else
                win->state ^= T_GUI_STATE_COLLAPSED;
            break;
        case T_GUI_TB_MAXIMIZE:
            if (win->maximize_cb) {
                win->maximize_cb(win->id, win->maximize_user, button);
            } else if (win->state & T_GUI_STATE_MAXIMIZED) {
                win->state &= ~T_GUI_STATE_MAXIMIZED;
                win->x = win->restore_x;
                win->y = win->restore_y;
                win->w = win->restore_w;
                win->h = win->restore_h;
            } else {
                win->restore_x = win->x;
                win->restore_y = win->y;
                win->restore_w = win->w;
                win->restore_h = win->h;
                win->state |= T_GUI_STATE_MAXIMIZED;
                win->state &= ~T_GUI_STATE_COLLAPSED;
                win->x = 0;
                win->y = 0;
                if (sw > 0) win->w = sw;
                if (sh > 0) win->h = sh;
            }
            break;
        case T_GUI_TB_CLOSE:
            if (win->close_cb)
                win->close_cb(win->id, win->close_user, button);
            else
                t_gui_close_window(ctx, win->id);
            break;
        default: break;
    }
    ctx->needs_redraw = 1;
}

/* Window whose frame is being dragged, or null. */
static T_GUI_WINDOW* _dragging_window(T_GUI_CTX* ctx) {
    T_GUI_WINDOW* win = t_gui_get_window(ctx, ctx->capture_window);
    if (win && (win->state & (T_GUI_STATE_MOVING | T_GUI_STATE_RESIZING | T_GUI_STATE_VSCROLL_DRAG |
                              T_GUI_STATE_HSCROLL_DRAG)))
        return win;
    return NULL;
}

/* Follows the pointer while a window is moved, resized or scrolled. */
static void _drag_motion(T_GUI_CTX* ctx, T_GUI_WINDOW* win, float px, float py) {
    const T_GUI_METRICS* m = &ctx->metrics;
    if (win->state & T_GUI_STATE_MOVING) {
        win->x = px + ctx->global_scroll_x - win->drag_dx;
        win->y = py + ctx->global_scroll_y - win->drag_dy;
    } else if (win->state & T_GUI_STATE_RESIZING) {
        float sw, sh;
        _space_size(ctx, &sw, &sh);
        float wx, wy;
        _window_origin(ctx, win, &wx, &wy);
        float nw = px - wx + win->drag_dx, nh = py - wy + win->drag_dy;
        win->w = std::max(nw, m->min_win_w);
        win->h = std::max(nh, m->min_win_h);
    } else if (win->state & (T_GUI_STATE_VSCROLL_DRAG | T_GUI_STATE_HSCROLL_DRAG)) {
        SCROLL_GEOM g = _scroll_geom(ctx, win);
        float tx, ty, tw, th;
        float wx, wy;
        _window_origin(ctx, win, &wx, &wy);
        if ((win->state & T_GUI_STATE_VSCROLL_DRAG) && _vthumb(ctx, win, &g, &tx, &ty, &tw, &th)) {
            float track_h = g.view_h - th;
            float top = py - win->drag_dy - (wy + _t_gui_titlebar(win));
            if (track_h > 0) win->scroll_y = top / track_h * (g.content_h - g.view_h);
        } else if ((win->state & T_GUI_STATE_HSCROLL_DRAG) && _hthumb(ctx, win, &g, &tx, &ty, &tw, &th)) {
            float track_w = g.view_w - tw;
            float left = px - win->drag_dx - wx;
            if (track_w > 0) win->scroll_x = left / track_w * (g.content_w - g.view_w);
        }
        _scroll_geom(ctx, win);
    }
    _window_update_norm(ctx, win);
    ctx->needs_redraw = 1;
}

/* Global scroll bar press: 1 when it hit a bar. */
static int _global_bar_press(T_GUI_CTX* ctx, float px, float py) {
    float ox, oy, sw, sh;
    _update_global_scroll(ctx, &ox, &oy);
    _space_size(ctx, &sw, &sh);
    float s = ctx->metrics.global_scrollbar_size;
    if (oy > 0 && px >= sw - s && px <= sw) {
        float track = sh - (ox > 0 ? s : 0);
        float len = std::max(ctx->metrics.global_scrollbar_thumb_min, track * sh / (sh + oy));
        float pos = (track - len) * ctx->global_scroll_y / oy;
        if (py >= pos && py <= pos + len) {
            ctx->global_drag = 1;
            ctx->global_drag_offset = py - pos;
        } else {
            ctx->global_scroll_y += (py < pos ? -1 : 1) * ctx->metrics.global_scroll_step;
        }
        _update_global_scroll(ctx, NULL, NULL);
        return 1;
    }
    if (ox > 0 && py >= sh - s && py <= sh) {
        float track = sw - (oy > 0 ? s : 0);
        float len = std::max(ctx->metrics.global_scrollbar_thumb_min, track * sw / (sw + ox));
        float pos = (track - len) * ctx->global_scroll_x / ox;
        if (px >= pos && px <= pos + len) {
            ctx->global_drag = 2;
            ctx->global_drag_offset = px - pos;
        } else {
            ctx->global_scroll_x += (px < pos ? -1 : 1) * ctx->metrics.global_scroll_step;
        }
        _update_global_scroll(ctx, NULL, NULL);
        return 1;
    }
    return 0;
}

/* Follows a dragged global scroll thumb. */
static void _global_bar_motion(T_GUI_CTX* ctx, float px, float py) {
    float ox, oy, sw, sh;
    _update_global_scroll(ctx, &ox, &oy);
    _space_size(ctx, &sw, &sh);
    float s = ctx->metrics.global_scrollbar_size;
    if (ctx->global_drag == 1 && oy > 0) {
        float track = sh - (ox > 0 ? s : 0);
        float len = std::max(ctx->metrics.global_scrollbar_thumb_min, track * sh / (sh + oy));
        if (track - len > 0) ctx->global_scroll_y = (py - ctx->global_drag_offset) / (track - len) * oy;
    } else if (ctx->global_drag == 2 && ox > 0) {
        float track = sw - (oy > 0 ? s : 0);
        float len = std::max(ctx->metrics.global_scrollbar_thumb_min, track * sw / (sw + ox));
        if (track - len > 0) ctx->global_scroll_x = (px - ctx->global_drag_offset) / (track - len) * ox;
    }
    _update_global_scroll(ctx, NULL, NULL);
    ctx->needs_redraw = 1;
}

/* A left press in window space; 1 when used. */
static int _pointer_press(T_GUI_CTX* ctx, float px, float py, double now) {
    const T_GUI_METRICS* m = &ctx->metrics;
    if (ctx->open_combo >= 0) {
        if (_t_gui_dropdown_press(ctx, px, py)) return 1;
    }
    if (_global_bar_press(ctx, px, py)) return 1;
    T_GUI_WINDOW* win = _window_hit(ctx, px, py);
    if (!win) {
        /* a press on the canvas ends text entry */
        if (ctx->focused_widget >= 0) t_gui_set_focus(ctx, -1);
        ctx->last_press_widget = -1;
        return 0;
    }
    int busy = 0;
    for (LIST_NODE* n = ctx->windows->start; n; n = n->next)
        if (((T_GUI_WINDOW*)n->ptr)->state &
            (T_GUI_STATE_MOVING | T_GUI_STATE_RESIZING | T_GUI_STATE_VSCROLL_DRAG | T_GUI_STATE_HSCROLL_DRAG))
            busy = 1;
    if (!busy) t_gui_raise_window(ctx, win->id);
    float wx, wy;
    _window_origin(ctx, win, &wx, &wy);
    float tb = _t_gui_titlebar(win);
    ctx->capture_window = win->id;
    if (tb > 0 && py <= wy + tb) {
        int button = _tb_button_at(ctx, win, px, py);
        if (button) {
            win->pressed_tb_button = button;
        } else if (!(win->state & T_GUI_STATE_MAXIMIZED) && !(win->flags & T_GUI_WIN_NO_MOVE)) {
            win->state |= T_GUI_STATE_MOVING;
            win->drag_dx = px + ctx->global_scroll_x - win->x;
            win->drag_dy = py + ctx->global_scroll_y - win->y;
        }
        return 1;
    }
    if ((win->flags & T_GUI_WIN_RESIZABLE) && !(win->state & (T_GUI_STATE_COLLAPSED | T_GUI_STATE_MAXIMIZED))) {
        float g = m->grip_size + 2;
        if (px >= wx + win->w - g && py >= wy + win->h - g) {
            win->state |= T_GUI_STATE_RESIZING;
            win->drag_dx = wx + win->w - px;
            win->drag_dy = wy + win->h - py;
            return 1;
        }
    }
    if (win->flags & T_GUI_WIN_SCROLLABLE) {
        SCROLL_GEOM g = _scroll_geom(ctx, win);
        float tx, ty, tw, th;
        if (_vthumb(ctx, win, &g, &tx, &ty, &tw, &th) && px >= wx + g.view_w && py <= wy + tb + g.view_h) {
            if (py >= ty && py <= ty + th) {
                win->state |= T_GUI_STATE_VSCROLL_DRAG;
                win->drag_dy = py - ty;
            } else {
                win->scroll_y += (py < ty ? -g.view_h : g.view_h);
                _scroll_geom(ctx, win);
            }
            ctx->needs_redraw = 1;
            return 1;
        }
        if (_hthumb(ctx, win, &g, &tx, &ty, &tw, &th) && py >= wy + tb + g.view_h && px <= wx + g.view_w) {
            if (px >= tx && px <= tx + tw) {
                win->state |= T_GUI_STATE_HSCROLL_DRAG;
                win->drag_dx = px - tx;
            } else {
                win->scroll_x += (px < tx ? -g.view_w : g.view_w);
                _scroll_geom(ctx, win);
            }
            ctx->needs_redraw = 1;
            return 1;
        }
    }
    T_GUI_WIDGET* widget = _widget_hit(ctx, win, px, py);
    if (!widget || !widget->enabled) {
        if (ctx->focused_widget >= 0 && !widget) t_gui_set_focus(ctx, -1);
        ctx->last_press_widget = -1;
        return 1;
    }
    /* double click: same widget, close in time and place */
    float dx = px - ctx->last_press_x, dy = py - ctx->last_press_y;
    float r = (float)ctx->double_click_radius;
    if (ctx->last_press_widget == widget->id && now - ctx->last_press_time <= ctx->double_click_time &&
        dx * dx + dy * dy <= r * r) {
        ctx->double_clicked_widget = widget->id;
        ctx->last_press_widget = -1;
    } else {
        ctx->last_press_widget = widget->id;
        ctx->last_press_time = now;
        ctx->last_press_x = px;
        ctx->last_press_y = py;
    }
    ctx->capture_window = -1;
    ctx->pressed_widget = widget->id;
    widget->state |= T_GUI_WSTATE_PRESSED;
    if (_t_gui_widget_takes_focus(widget))
        t_gui_set_focus(ctx, widget->id);
    else if (ctx->focused_widget >= 0 && ctx->focused_widget != widget->id)
        t_gui_set_focus(ctx, -1);
    _t_gui_widget_press(ctx, widget, px, py, 1);
    ctx->needs_redraw = 1;
    return 1;
}

/* A left release in window space; 1 when used. */
static int _pointer_release(T_GUI_CTX* ctx, float px, float py) {
    int used = 0;
    if (ctx->global_drag) {
        ctx->global_drag = 0;
        used = 1;
    }
    T_GUI_WIDGET* pressed = t_gui_get_widget(ctx, ctx->pressed_widget);
    if (pressed) {
        ctx->pressed_widget = -1;
        pressed->state &= ~T_GUI_WSTATE_PRESSED;
        _t_gui_widget_release(ctx, pressed, px, py);
        pressed->state &= ~T_GUI_WSTATE_DRAG;
        used = 1;
    }
    T_GUI_WINDOW* win = t_gui_get_window(ctx, ctx->capture_window);
    if (win) {
        ctx->capture_window = -1;
        int button = win->pressed_tb_button;
        win->pressed_tb_button = 0;
        win->state &= ~(T_GUI_STATE_MOVING | T_GUI_STATE_RESIZING | T_GUI_STATE_VSCROLL_DRAG |
                        T_GUI_STATE_HSCROLL_DRAG);
        if (button && (win->state & T_GUI_STATE_OPEN) && _tb_button_at(ctx, win, px, py) == button)
            _tb_button_act(ctx, win, button);
        used = 1;
    }
    if (_window_hit(ctx, px, py)) used = 1;
    ctx->needs_redraw = 1;
    return used;
}

/* Wheel over the pointer: list widget, scrollable window or the global offset. */
static int _pointer_wheel(T_GUI_CTX* ctx, float px, float py, int dz, int dw) {
    T_GUI_WINDOW* win = _window_hit(ctx, px, py);
    if (!win) {
        float ox, oy;
        _update_global_scroll(ctx, &ox, &oy);
        if (oy > 0 || ox > 0) {
            ctx->global_scroll_y -= dz * ctx->metrics.global_scroll_step;
            ctx->global_scroll_x -= dw * ctx->metrics.global_scroll_step;
            _update_global_scroll(ctx, NULL, NULL);
            ctx->needs_redraw = 1;
        }
        return 0;
    }
    T_GUI_WIDGET* widget = _widget_hit(ctx, win, px, py);
    if (widget && dz && _t_gui_widget_wheel(ctx, widget, dz)) return 1;
    if (win->flags & T_GUI_WIN_SCROLLABLE) {
        win->scroll_y -= dz * ctx->metrics.scroll_step;
        win->scroll_x -= dw * ctx->metrics.scroll_step;
        _scroll_geom(ctx, win);
        ctx->needs_redraw = 1;
    }
    return 1;
}

/* Pointer events in display coordinates; 1 when used. */
static int _pointer_event(T_GUI_CTX* ctx, int type, float x, float y, int button, int dz, int dw, double now) {
    float px, py;
    _map_point(ctx, x, y, &px, &py);
    ctx->mouse_x = px;
    ctx->mouse_y = py;
    ctx->now = now;
    int used = 0;
    switch (type) {
        case ALLEGRO_EVENT_MOUSE_AXES:
        case ALLEGRO_EVENT_MOUSE_WARPED:
        case ALLEGRO_EVENT_MOUSE_ENTER_DISPLAY: {
            if (dz || dw) {
                int scrolled = _pointer_wheel(ctx, px, py, dz, dw);
                /* The content moved under a still pointer: what it hovers changed. */
                if (scrolled && ctx->pressed_widget < 0) _update_hover(ctx, now);
                return scrolled;
            }
            if (ctx->global_drag) {
                _global_bar_motion(ctx, px, py);
                return 1;
            }
            T_GUI_WINDOW* drag = _dragging_window(ctx);
            if (drag) {
                _drag_motion(ctx, drag, px, py);
                return 1;
            }
            T_GUI_WIDGET* pressed = t_gui_get_widget(ctx, ctx->pressed_widget);
            if (pressed) {
                _t_gui_widget_motion(ctx, pressed, px, py);
                _update_hover(ctx, now);
                return 1;
            }
            if (ctx->open_combo >= 0) _t_gui_dropdown_motion(ctx, px, py);
            _update_hover(ctx, now);
            if (ctx->capture_window >= 0) return 1;
            used = _window_hit(ctx, px, py) ? 1 : 0;
            if (!used && ctx->open_combo >= 0) {
                float dx, dy, dwid, dh;
                if (_t_gui_dropdown_rect(ctx, &dx, &dy, &dwid, &dh) && px >= dx && px <= dx + dwid && py >= dy &&
                    py <= dy + dh)
                    used = 1;
            }
            return used;
        }
        case ALLEGRO_EVENT_MOUSE_LEAVE_DISPLAY: {
            T_GUI_WIDGET* old = t_gui_get_widget(ctx, ctx->hovered_widget);
            if (old) old->state &= ~T_GUI_WSTATE_HOVER;
            ctx->hovered_widget = -1;
            ctx->needs_redraw = 1;
            return 0;
        }
        case ALLEGRO_EVENT_MOUSE_BUTTON_DOWN:
            _update_hover(ctx, now);
            ctx->hover_since = now; /* a press hides the tooltip until the pointer rests again */
            if (button == 1) return _pointer_press(ctx, px, py, now);
            if (ctx->open_combo >= 0) {
                float dx, dy, dwid, dh;
                if (_t_gui_dropdown_rect(ctx, &dx, &dy, &dwid, &dh) && px >= dx && px <= dx + dwid && py >= dy &&
                    py <= dy + dh)
                    return 1;
            }
            return _window_hit(ctx, px, py) ? 1 : 0;
        case ALLEGRO_EVENT_MOUSE_BUTTON_UP:
            if (button == 1) return _pointer_release(ctx, px, py);
            return _window_hit(ctx, px, py) ? 1 : 0;
        default: return 0;
    }
}

/* 1 when a button's shortcut may fire with the current focus. */
static int _shortcut_focus_ok(const T_GUI_CTX* ctx, const T_GUI_WIDGET* w) {
    if (!w->shortcut_focus_count) return 1;
    for (int i = 0; i < w->shortcut_focus_count; i++)
        if (w->shortcut_focus[i] == ctx->focused_widget) return 1;
    return 0;
}

/* Fires the first button bound to the key; focus-limited bindings first. */
static int _try_shortcuts(T_GUI_CTX* ctx, int keycode) {
    int mods = ctx->modifiers & (ALLEGRO_KEYMOD_SHIFT | ALLEGRO_KEYMOD_CTRL | ALLEGRO_KEYMOD_ALT | ALLEGRO_KEYMOD_ALTGR);
    for (int pass = 0; pass < 2; pass++) {
        for (LIST_NODE* n = ctx->windows->end; n; n = n->prev) {
            T_GUI_WINDOW* win = (T_GUI_WINDOW*)n->ptr;
            for (LIST_NODE* wn = win->widgets->start; wn; wn = wn->next) {
                T_GUI_WIDGET* w = (T_GUI_WIDGET*)wn->ptr;
                if (w->kind != T_GUI_KIND_BUTTON || !w->visible || !w->enabled || !w->shortcut_key) continue;
                if ((pass == 0) != (w->shortcut_focus_count > 0)) continue;
                if (w->shortcut_key != keycode || w->shortcut_mods != mods) continue;
                if (!_shortcut_focus_ok(ctx, w)) continue;
                _t_gui_widget_fire_shortcut(ctx, w);
                return 1;
            }
        }
    }
    return 0;
}

/* Keyboard events; 1 when used. */
static int _key_event(T_GUI_CTX* ctx, const ALLEGRO_EVENT* ev) {
    int key = ev->keyboard.keycode;
    int bit = 0;
    switch (key) {
        case ALLEGRO_KEY_LSHIFT:
        case ALLEGRO_KEY_RSHIFT: bit = ALLEGRO_KEYMOD_SHIFT; break;
        case ALLEGRO_KEY_LCTRL:
        case ALLEGRO_KEY_RCTRL: bit = ALLEGRO_KEYMOD_CTRL; break;
        case ALLEGRO_KEY_ALT: bit = ALLEGRO_KEYMOD_ALT; break;
        case ALLEGRO_KEY_ALTGR: bit = ALLEGRO_KEYMOD_ALTGR; break;
        default: break;
    }
    if (ev->type == ALLEGRO_EVENT_KEY_UP) {
        if (bit) ctx->modifiers &= ~bit;
        return 0;
    }
    T_GUI_WIDGET* focused = t_gui_get_widget(ctx, ctx->focused_widget);
    if (ev->type == ALLEGRO_EVENT_KEY_DOWN) {
        if (bit) {
            ctx->modifiers |= bit;
            return 0;
        }
        if (ctx->open_combo >= 0 && (key == ALLEGRO_KEY_ESCAPE || key == ALLEGRO_KEY_ENTER ||
                                     key == ALLEGRO_KEY_UP || key == ALLEGRO_KEY_DOWN ||
                                     key == ALLEGRO_KEY_PAD_ENTER))
            return 1; /* acted on by the key-character event */
        if ((ctx->modifiers & ALLEGRO_KEYMOD_CTRL) && key == ALLEGRO_KEY_C) {
            T_GUI_WIDGET* label = t_gui_get_widget(ctx, ctx->label_selection);
            if (label && _t_gui_copy_selection(ctx, label)) return 1;
            if (focused && _t_gui_copy_selection(ctx, focused)) return 1;
        }
        /* A focused widget keeps its keys from the buttons' shortcuts, but
         * only the keys it acts on count as used: a list or a slider that
         * keeps the focus after a click must not swallow the program's keys. */
        if (focused && _t_gui_widget_takes_key(focused, key)) return _t_gui_widget_acts_on_key(focused, key);
        return _try_shortcuts(ctx, key);
    }
    /* key character: the modifiers come with the event */
    ctx->modifiers = ev->keyboard.modifiers &
                     (ALLEGRO_KEYMOD_SHIFT | ALLEGRO_KEYMOD_CTRL | ALLEGRO_KEYMOD_ALT | ALLEGRO_KEYMOD_ALTGR);
    T_GUI_WIDGET* combo = t_gui_get_widget(ctx, ctx->open_combo);
    if (combo) return _t_gui_widget_key(ctx, combo, ev);
    if (focused && focused->visible && focused->enabled) return _t_gui_widget_key(ctx, focused, ev);
    return 0;
}

/* Picks the cursor shape the pointer position asks for. */
static void _update_cursor(T_GUI_CTX* ctx) {
    int want = ALLEGRO_SYSTEM_MOUSE_CURSOR_DEFAULT;
    T_GUI_WINDOW* win = _window_hit(ctx, ctx->mouse_x, ctx->mouse_y);
    if (win) {
        float wx, wy;
        _window_origin(ctx, win, &wx, &wy);
        float g = ctx->metrics.grip_size + 2;
        if (((win->flags & T_GUI_WIN_RESIZABLE) && !(win->state & (T_GUI_STATE_COLLAPSED | T_GUI_STATE_MAXIMIZED)) &&
             ctx->mouse_x >= wx + win->w - g && ctx->mouse_y >= wy + win->h - g) ||
            (win->state & T_GUI_STATE_RESIZING))
            want = ALLEGRO_SYSTEM_MOUSE_CURSOR_RESIZE_SE;
        else {
            T_GUI_WIDGET* hw = t_gui_get_widget(ctx, ctx->hovered_widget);
            if (hw && hw->kind == T_GUI_KIND_TEXTAREA) want = ALLEGRO_SYSTEM_MOUSE_CURSOR_EDIT;
        }
    }
    ctx->wanted_cursor = want;
    if (ctx->display && want != ctx->shown_cursor) {
        al_set_system_mouse_cursor(ctx->display, (ALLEGRO_SYSTEM_MOUSE_CURSOR)want);
        ctx->shown_cursor = want;
    }
}

int t_gui_process_event(T_GUI_CTX* ctx, const ALLEGRO_EVENT* event) {
    __t_assert(ctx);
    __t_assert(event);
    ctx->double_clicked_widget = -1;
    int used = 0;
    double now = _event_time(event);
    switch (event->type) {
        case ALLEGRO_EVENT_KEY_DOWN:
        case ALLEGRO_EVENT_KEY_UP:
        case ALLEGRO_EVENT_KEY_CHAR:
            ctx->now = now;
            used = _key_event(ctx, event);
            if (used) ctx->needs_redraw = 1;
            return used;
        case ALLEGRO_EVENT_MOUSE_AXES:
        case ALLEGRO_EVENT_MOUSE_WARPED:
        case ALLEGRO_EVENT_MOUSE_ENTER_DISPLAY:
        case ALLEGRO_EVENT_MOUSE_LEAVE_DISPLAY:
        case ALLEGRO_EVENT_MOUSE_BUTTON_DOWN:
        case ALLEGRO_EVENT_MOUSE_BUTTON_UP:
            used = _pointer_event(ctx, event->type, (float)event->mouse.x, (float)event->mouse.y,
                                  (int)event->mouse.button, event->mouse.dz, event->mouse.dw, now);
            break;
        case ALLEGRO_EVENT_TOUCH_BEGIN:
            if (ctx->touch_id >= 0) return _window_hit(ctx, event->touch.x, event->touch.y) ? 1 : 0;
            ctx->touch_id = event->touch.id;
            used = _pointer_event(ctx, ALLEGRO_EVENT_MOUSE_BUTTON_DOWN, event->touch.x, event->touch.y, 1, 0, 0, now);
            if (!used) ctx->touch_id = -1; /* the canvas owns this touch */
            break;
        case ALLEGRO_EVENT_TOUCH_MOVE:
            if (event->touch.id != ctx->touch_id) return 0;
            used = _pointer_event(ctx, ALLEGRO_EVENT_MOUSE_AXES, event->touch.x, event->touch.y, 0, 0, 0, now);
            break;
        case ALLEGRO_EVENT_TOUCH_END:
        case ALLEGRO_EVENT_TOUCH_CANCEL:
            if (event->touch.id != ctx->touch_id) return 0;
            ctx->touch_id = -1;
            used = _pointer_event(ctx, ALLEGRO_EVENT_MOUSE_BUTTON_UP, event->touch.x, event->touch.y, 1, 0, 0, now);
            break;
        default: return 0;
    }
    _update_cursor(ctx);
    return used;
}

/* ------------------------------------------------------------------ */
/* tooltips                                                            */

int t_gui_tooltip_state_at(T_GUI_CTX* ctx, double now) {
    __t_assert(ctx);
    T_GUI_WIDGET* w = t_gui_get_widget(ctx, ctx->hovered_widget);
    if (!w || !w->tooltip || !w->visible || ctx->pressed_widget >= 0 || ctx->open_combo >= 0) return 0;
    if (!t_gui_window_is_open(ctx, w->window_id)) return 0;
    return now - ctx->hover_since >= ctx->metrics.tooltip_delay ? 2 : 1;
}

int t_gui_tooltip_state(T_GUI_CTX* ctx) {
    __t_assert(ctx);
    return t_gui_tooltip_state_at(ctx, al_get_time());
}

/* ------------------------------------------------------------------ */
/* drawing                                                             */

/* Fills a rectangle, rounded when radii are given. */
static void _fill_rect(float x1, float y1, float x2, float y2, float rx, float ry, ALLEGRO_COLOR c) {
    ALLEGRO_COLOR p = _t_gui_premul(c);
    if (rx > 0 || ry > 0)
        al_draw_filled_rounded_rectangle(x1, y1, x2, y2, rx, ry, p);
    else
        al_draw_filled_rectangle(x1, y1, x2, y2, p);
}

/* Outlines a rectangle inside its bounds. */
static void _frame_rect(float x1, float y1, float x2, float y2, float rx, float ry, ALLEGRO_COLOR c, float t) {
    if (t <= 0) return;
    ALLEGRO_COLOR p = _t_gui_premul(c);
    float h = t / 2;
    if (rx > 0 || ry > 0)
        al_draw_rounded_rectangle(x1 + h, y1 + h, x2 - h, y2 - h, rx, ry, p, t);
    else
        al_draw_rectangle(x1 + h, y1 + h, x2 - h, y2 - h, p, t);
}

/* Current clip intersected with a rectangle given in window space. */
static void _push_clip(const T_GUI_CTX* ctx, float x, float y, float w, float h, int base[4]) {
    float s = (ctx->virtual_w > 0 && ctx->virtual_h > 0) ? ctx->virtual_scale : 1;
    float ox = (ctx->virtual_w > 0 && ctx->virtual_h > 0) ? ctx->virtual_offset_x : 0;
    float oy = (ctx->virtual_w > 0 && ctx->virtual_h > 0) ? ctx->virtual_offset_y : 0;
    int x1 = (int)floorf(ox + x * s), y1 = (int)floorf(oy + y * s);
    int x2 = (int)ceilf(ox + (x + w) * s), y2 = (int)ceilf(oy + (y + h) * s);
    x1 = std::max(x1, base[0]);
    y1 = std::max(y1, base[1]);
    x2 = std::min(x2, base[0] + base[2]);
    y2 = std::min(y2, base[1] + base[3]);
    al_set_clipping_rectangle(x1, y1, std::max(0, x2 - x1), std::max(0, y2 - y1));
}

/* Draws the glyph of one title bar button. */
static void _draw_tb_button(const T_GUI_CTX* ctx, const T_GUI_WINDOW* win, int kind, float x, float y, float s) {
    const T_GUI_STYLE* st = kind == T_GUI_TB_CLOSE ? &ctx->tb_close_style : &ctx->tb_button_style;
    int hover = ctx->mouse_x >= x && ctx->mouse_x <= x + s && ctx->mouse_y >= y && ctx->mouse_y <= y + s;
    int pressed = win->pressed_tb_button == kind && hover;
    if (pressed)
        _fill_rect(x, y, x + s, y + s, 2, 2, st->bg_active);
    else if (hover)
        _fill_rect(x, y, x + s, y + s, 2, 2, st->bg_hover);
    ALLEGRO_COLOR c = _t_gui_premul(hover ? st->text_hover : st->text_normal);
    float t = ctx->metrics.tb_btn_glyph_thickness, m = s * 0.3f;
    switch (kind) {
        case T_GUI_TB_CLOSE:
            al_draw_line(x + m, y + m, x + s - m, y + s - m, c, t);
            al_draw_line(x + s - m, y + m, x + m, y + s - m, c, t);
            break;
        case T_GUI_TB_MAXIMIZE: al_draw_rectangle(x + m, y + m, x + s - m, y + s - m, c, t); break;
        default: al_draw_line(x + m, y + s - m, x + s - m, y + s - m, c, t); break;
    }
}

/* Fits an auto-fitting window to its widgets (1 width, 2 height). */
static void _autofit(T_GUI_WINDOW* win) {
    if (!win->autofit_flags) return;
    float cw, ch;
    _content_extent(win, &cw, &ch);
    if (win->autofit_flags & 1) win->w = cw + win->autofit_border;
    if (win->autofit_flags & 2) win->h = _t_gui_titlebar(win) + ch + win->autofit_border;
}

/* Draws one open window with its widgets. */
static void _draw_window(T_GUI_CTX* ctx, T_GUI_WINDOW* win, int base[4]) {
    const T_GUI_METRICS* m = &ctx->metrics;
    const T_GUI_STYLE* st = &win->style;
    float wx, wy;
    _window_origin(ctx, win, &wx, &wy);
    float tb = _t_gui_titlebar(win);
    int collapsed = (win->state & T_GUI_STATE_COLLAPSED) != 0;
    float h = collapsed ? tb : win->h;
    if (h <= 0) return;
    _push_clip(ctx, wx, wy, win->w, h, base);
    _fill_rect(wx, wy, wx + win->w, wy + h, st->corner_rx, st->corner_ry, st->bg_normal);
    if (tb > 0) {
        _fill_rect(wx, wy, wx + win->w, wy + tb, st->corner_rx, st->corner_ry, st->bg_active);
        int kinds[3];
        float xs[3], by, bs;
        int nb = _tb_buttons(ctx, win, kinds, xs, &by, &bs);
        float reserve = nb > 0 ? (wx + win->w - xs[nb - 1]) : m->title_max_w_reserve;
        float tw = win->w - m->title_padding - reserve;
        int clip[4];
        al_get_clipping_rectangle(&clip[0], &clip[1], &clip[2], &clip[3]);
        _push_clip(ctx, wx, wy, std::max(0.0f, m->title_padding + tw), tb, clip);
        const ALLEGRO_FONT* f = ctx->default_font;
        al_draw_text(f, _t_gui_premul(st->text_normal), wx + m->title_padding,
                     wy + (tb - al_get_font_line_height(f)) / 2, 0, win->title);
        al_set_clipping_rectangle(clip[0], clip[1], clip[2], clip[3]);
        for (int i = 0; i < nb; i++) _draw_tb_button(ctx, win, kinds[i], xs[i], by, bs);
    }
    _frame_rect(wx, wy, wx + win->w, wy + h, st->corner_rx, st->corner_ry,
                (win->state & T_GUI_STATE_MOVING) ? st->border_active : st->border_normal, st->border_thickness);
    if (collapsed) return;
    SCROLL_GEOM g = _scroll_geom(ctx, win);
    int clip[4];
    al_get_clipping_rectangle(&clip[0], &clip[1], &clip[2], &clip[3]);
    _push_clip(ctx, wx, wy + tb, g.view_w, g.view_h, clip);
    float ox = wx - win->scroll_x, oy = wy + tb - win->scroll_y;
    for (LIST_NODE* n = win->widgets->start; n; n = n->next) {
        T_GUI_WIDGET* w = (T_GUI_WIDGET*)n->ptr;
        if (w->visible) _t_gui_widget_draw(ctx, w, ox + w->x, oy + w->y);
    }
    al_set_clipping_rectangle(clip[0], clip[1], clip[2], clip[3]);
    float tx, ty, tw, th;
    if (_vthumb(ctx, win, &g, &tx, &ty, &tw, &th)) {
        _fill_rect(wx + g.view_w, wy + tb, wx + g.view_w + m->scrollbar_size, wy + tb + g.view_h, 0, 0,
                   m->scrollbar_track_color);
        _fill_rect(tx, ty, tx + tw, ty + th, m->scrollbar_thumb_corner_r, m->scrollbar_thumb_corner_r,
                   m->scrollbar_thumb_color);
    }
    if (_hthumb(ctx, win, &g, &tx, &ty, &tw, &th)) {
        _fill_rect(wx, wy + tb + g.view_h, wx + g.view_w, wy + tb + g.view_h + m->scrollbar_size, 0, 0,
                   m->scrollbar_track_color);
        _fill_rect(tx, ty, tx + tw, ty + th, m->scrollbar_thumb_corner_r, m->scrollbar_thumb_corner_r,
                   m->scrollbar_thumb_color);
    }
    if ((win->flags & T_GUI_WIN_RESIZABLE) && !(win->state & T_GUI_STATE_MAXIMIZED)) {
        ALLEGRO_COLOR gc = _t_gui_premul(m->grip_color);
        float gx = wx + win->w - 2, gy = wy + win->h - 2;
        for (int i = 1; i <= 3; i++) {
            float d = m->grip_size * i / 3.0f;
            al_draw_line(gx - d, gy, gx, gy - d, gc, m->grip_line_thickness);
        }
    }
}

/* Draws the tooltip of the hovered widget near the pointer. */
static void _draw_tooltip(T_GUI_CTX* ctx, float sw, float sh) {
    if (t_gui_tooltip_state_at(ctx, al_get_time()) != 2) return;
    T_GUI_WIDGET* w = t_gui_get_widget(ctx, ctx->hovered_widget);
    const ALLEGRO_FONT* f = ctx->default_font;
    float pad = ctx->metrics.label_padding;
    float tw = al_get_text_width(f, w->tooltip) + 2 * pad, th = al_get_font_line_height(f) + 2 * pad;
    float x = ctx->mouse_x + 12, y = ctx->mouse_y + 18;
    if (x + tw > sw) x = sw - tw;
    if (y + th > sh) y = ctx->mouse_y - th - 4;
    if (x < 0) x = 0;
    if (y < 0) y = 0;
    _fill_rect(x, y, x + tw, y + th, 3, 3, ctx->style.bg_active);
    _frame_rect(x, y, x + tw, y + th, 3, 3, ctx->style.border_hover, 1);
    al_draw_text(f, _t_gui_premul(ctx->style.text_normal), x + pad, y + pad, 0, w->tooltip);
}

/* Draws the global scroll bars when the windows overflow the display. */
static void _draw_global_bars(T_GUI_CTX* ctx, float ox, float oy, float sw, float sh) {
    const T_GUI_METRICS* m = &ctx->metrics;
    float s = m->global_scrollbar_size, pad = m->global_scrollbar_thumb_padding;
    if (oy > 0) {
        float track = sh - (ox > 0 ? s : 0);
        float len = std::max(m->global_scrollbar_thumb_min, track * sh / (sh + oy));
        float pos = (track - len) * ctx->global_scroll_y / oy;
        _fill_rect(sw - s, 0, sw, track, 0, 0, m->global_scrollbar_track_color);
        _fill_rect(sw - s + pad, pos + pad, sw - pad, pos + len - pad, m->global_scrollbar_thumb_corner_r,
                   m->global_scrollbar_thumb_corner_r, m->global_scrollbar_thumb_color);
        _frame_rect(sw - s + pad, pos + pad, sw - pad, pos + len - pad, m->global_scrollbar_thumb_corner_r,
                    m->global_scrollbar_thumb_corner_r, m->global_scrollbar_thumb_border_color,
                    m->global_scrollbar_border_thickness);
    }
    if (ox > 0) {
        float track = sw - (oy > 0 ? s : 0);
        float len = std::max(m->global_scrollbar_thumb_min, track * sw / (sw + ox));
        float pos = (track - len) * ctx->global_scroll_x / ox;
        _fill_rect(0, sh - s, track, sh, 0, 0, m->global_scrollbar_track_color);
        _fill_rect(pos + pad, sh - s + pad, pos + len - pad, sh - pad, m->global_scrollbar_thumb_corner_r,
                   m->global_scrollbar_thumb_corner_r, m->global_scrollbar_thumb_color);
        _frame_rect(pos + pad, sh - s + pad, pos + len - pad, sh - pad, m->global_scrollbar_thumb_corner_r,
                    m->global_scrollbar_thumb_corner_r, m->global_scrollbar_thumb_border_color,
                    m->global_scrollbar_border_thickness);
    }
}

void t_gui_draw(T_GUI_CTX* ctx) {
    __t_assert_void(ctx);
    ALLEGRO_BITMAP* target = al_get_target_bitmap();
    __t_assert_void(target);
    if (ctx->display_w <= 0 || ctx->display_h <= 0) {
        float tw = (float)al_get_bitmap_width(target), th = (float)al_get_bitmap_height(target);
        if (!ctx->size_warned) {
            ctx->size_warned = 1;
            t_log(LOG_NOTICE,
                  "t_gui: no display size was set, using the draw target's %.0fx%.0f; call "
                  "t_gui_set_display_size() at start up and on resize",
                  tw, th);
        }
        t_gui_set_display_size(ctx, tw, th);
    }
    float sw, sh;
    _space_size(ctx, &sw, &sh);
    float ox, oy;
    _update_global_scroll(ctx, &ox, &oy);

    int saved_clip[4];
    al_get_clipping_rectangle(&saved_clip[0], &saved_clip[1], &saved_clip[2], &saved_clip[3]);
    ALLEGRO_TRANSFORM saved_tf, tf;
    al_copy_transform(&saved_tf, al_get_current_transform());
    al_identity_transform(&tf);
    int base[4] = {0, 0, (int)ceilf(ctx->display_w), (int)ceilf(ctx->display_h)};
    if (ctx->virtual_w > 0 && ctx->virtual_h > 0) {
        al_scale_transform(&tf, ctx->virtual_scale, ctx->virtual_scale);
        al_translate_transform(&tf, ctx->virtual_offset_x, ctx->virtual_offset_y);
        base[0] = (int)floorf(ctx->virtual_offset_x);
        base[1] = (int)floorf(ctx->virtual_offset_y);
        base[2] = (int)ceilf(ctx->virtual_w * ctx->virtual_scale);
        base[3] = (int)ceilf(ctx->virtual_h * ctx->virtual_scale);
    }
    al_use_transform(&tf);
    al_set_clipping_rectangle(base[0], base[1], base[2], base[3]);

    for (LIST_NODE* n = ctx->windows->start; n; n = n->next) _autofit((T_GUI_WINDOW*)n->ptr);
    for (LIST_NODE* n = ctx->windows->start; n; n = n->next) {
        T_GUI_WINDOW* win = (T_GUI_WINDOW*)n->ptr;
        if (!(win->state & T_GUI_STATE_OPEN)) continue;
        _draw_window(ctx, win, base);
        al_set_clipping_rectangle(base[0], base[1], base[2], base[3]);
        if (win->draw_cb && !(win->state & T_GUI_STATE_COLLAPSED)) win->draw_cb(win->id, win->draw_user);
        al_set_clipping_rectangle(base[0], base[1], base[2], base[3]);
        al_use_transform(&tf);
    }
    _t_gui_dropdown_draw(ctx);
    _draw_tooltip(ctx, sw, sh);
    _draw_global_bars(ctx, ox, oy, sw, sh);
    al_set_clipping_rectangle(saved_clip[0], saved_clip[1], saved_clip[2], saved_clip[3]);
    al_use_transform(&saved_tf);
    ctx->needs_redraw = 0;
}
