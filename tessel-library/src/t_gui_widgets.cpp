/* t_gui_widgets: the widget kinds the program uses (buttons, sliders, text
 * areas, check boxes, list boxes, combo boxes, labels): creation, accessors,
 * input handling and drawing. */
#include <allegro5/allegro_primitives.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>

#include "t_clipboard.h"
#include "t_gui_internal.h"
#include "t_log.h"
#include "t_utf8.h"

#define BUTTON_FLASH_SECONDS 0.12

/* ------------------------------------------------------------------ */
/* helpers                                                             */

/* The font a widget draws with. */
static const ALLEGRO_FONT* _font(const T_GUI_CTX* ctx, const T_GUI_WIDGET* w) {
    return w->font ? w->font : ctx->default_font;
}

/* Copies text into a fixed buffer, repaired to well-formed UTF-8 (the font
 * code never steps past a bad sequence) and cut at a character boundary. */
static void _copy_text(char* dst, size_t size, const char* src) { t_utf8_copy(dst, size, src); }

/* Copies text without carriage returns into a fixed buffer, repaired and cut
 * like _copy_text. */
static void _copy_text_no_cr(char* dst, size_t size, const char* src) {
    if (!size) return;
    std::string kept;
    for (const char* p = src ? src : ""; *p; p++)
        if (*p != '\r') kept += *p;
    t_utf8_copy(dst, size, kept.c_str());
}

static void _fill(float x1, float y1, float x2, float y2, float r, ALLEGRO_COLOR c) {
    ALLEGRO_COLOR p = _t_gui_premul(c);
    if (r > 0)
        al_draw_filled_rounded_rectangle(x1, y1, x2, y2, r, r, p);
    else
        al_draw_filled_rectangle(x1, y1, x2, y2, p);
}

static void _frame(float x1, float y1, float x2, float y2, float r, ALLEGRO_COLOR c, float t) {
    if (t <= 0) return;
    ALLEGRO_COLOR p = _t_gui_premul(c);
    float h = t / 2;
    if (r > 0)
        al_draw_rounded_rectangle(x1 + h, y1 + h, x2 - h, y2 - h, r, r, p, t);
    else
        al_draw_rectangle(x1 + h, y1 + h, x2 - h, y2 - h, p, t);
}

/* Narrows the clipping rectangle to a rectangle; the previous one goes to `saved`. */
static void _clip_push(const T_GUI_CTX* ctx, float x, float y, float w, float h, int saved[4]) {
    al_get_clipping_rectangle(&saved[0], &saved[1], &saved[2], &saved[3]);
    float s = 1, ox = 0, oy = 0;
    if (ctx->virtual_w > 0 && ctx->virtual_h > 0) {
        s = ctx->virtual_scale;
        ox = ctx->virtual_offset_x;
        oy = ctx->virtual_offset_y;
    }
    int x1 = std::max((int)floorf(ox + x * s), saved[0]), y1 = std::max((int)floorf(oy + y * s), saved[1]);
    int x2 = std::min((int)ceilf(ox + (x + w) * s), saved[0] + saved[2]);
    int y2 = std::min((int)ceilf(oy + (y + h) * s), saved[1] + saved[3]);
    al_set_clipping_rectangle(x1, y1, std::max(0, x2 - x1), std::max(0, y2 - y1));
}

static void _clip_pop(const int saved[4]) { al_set_clipping_rectangle(saved[0], saved[1], saved[2], saved[3]); }

/* Grows an item array by doubling from 8; 1 or 0. */
static int _items_grow(T_GUI_LISTITEM** items, int* capacity, int count) {
    if (count < *capacity) return 1;
    int cap = *capacity ? *capacity * 2 : 8;
    T_GUI_LISTITEM* grown = (T_GUI_LISTITEM*)realloc(*items, sizeof(T_GUI_LISTITEM) * (size_t)cap);
    if (!grown) {
        t_log_alloc_failure(grown, cap, T_GUI_LISTITEM);
        return 0;
    }
    memset(grown + *capacity, 0, sizeof(T_GUI_LISTITEM) * (size_t)(cap - *capacity));
    *items = grown;
    *capacity = cap;
    return 1;
}

// Appends an item to a list or combo box; its index, or -1 when memory runs out.
static int _items_append(T_GUI_CTX* ctx, T_GUI_LISTITEM** items, int* capacity, int* count, const char* text) {
    if (!_items_grow(items, capacity, *count)) return -1;
    _copy_text((*items)[*count].text, T_GUI_LABEL_SIZE, text ? text : "");
    (*items)[*count].selected = 0;
    ctx->needs_redraw = 1;
    return (*count)++;
}

static void _listbox_free(void* ptr) {
    T_GUI_LISTBOX_DATA* d = (T_GUI_LISTBOX_DATA*)ptr;
    free(d->items);
    free(d);
}

static void _combobox_free(void* ptr) {
    T_GUI_COMBOBOX_DATA* d = (T_GUI_COMBOBOX_DATA*)ptr;
    free(d->items);
    free(d);
}

static void _textarea_free(void* ptr) {
    T_GUI_TEXTAREA_DATA* d = (T_GUI_TEXTAREA_DATA*)ptr;
    free(d->text);
    free(d);
}

/* ------------------------------------------------------------------ */
/* creation                                                            */

int32_t t_gui_add_button(T_GUI_CTX* ctx, int32_t win, const char* label, float x, float y, float w, float h,
                         int shape, T_GUI_BUTTON_CB callback, void* user) {
    __t_assert_return(ctx, -1);
    T_GUI_BUTTON_DATA* d = NULL;
    Malloc(d, T_GUI_BUTTON_DATA, 1, return -1);
    _copy_text(d->label, sizeof(d->label), label);
    d->shape = shape;
    d->callback = callback;
    d->user = user;
    T_GUI_WIDGET* widget = _t_gui_new_widget(ctx, win, T_GUI_KIND_BUTTON, x, y, w, h, d);
    return widget ? widget->id : -1;
}

int32_t t_gui_add_toggle_button(T_GUI_CTX* ctx, int32_t win, const char* label, float x, float y, float w,
                                float h, int shape, int toggled, T_GUI_BUTTON_CB callback, void* user) {
    int32_t id = t_gui_add_button(ctx, win, label, x, y, w, h, shape, callback, user);
    T_GUI_WIDGET* widget = _t_gui_widget_of(ctx, id, T_GUI_KIND_BUTTON);
    if (!widget) return -1;
    T_GUI_BUTTON_DATA* d = (T_GUI_BUTTON_DATA*)widget->data;
    d->toggle_mode = 1;
    d->toggled = toggled ? 1 : 0;
    return id;
}

/* Snaps a value to the slider's step, or clamps it into the range. */
static double _slider_snap(const T_GUI_SLIDER_DATA* d, double v) {
    double lo = std::min(d->min, d->max), hi = std::max(d->min, d->max);
    if (d->step > 0) v = d->min + d->step * floor((v - d->min) / d->step + 0.5);
    if (v < lo) v = lo;
    if (v > hi) v = hi;
    return v;
}

int32_t t_gui_add_slider(T_GUI_CTX* ctx, int32_t win, float x, float y, float w, float h, double min,
                         double max, double value, int mode, T_GUI_SLIDER_CB callback, void* user) {
    __t_assert_return(ctx, -1);
    T_GUI_SLIDER_DATA* d = NULL;
    Malloc(d, T_GUI_SLIDER_DATA, 1, return -1);
    if (mode == 1) {
        min = 0;
        max = 100;
    }
    d->min = min;
    d->max = max;
    d->mode = mode;
    d->value = _slider_snap(d, value);
    d->callback = callback;
    d->user = user;
    d->show_value = 1;
    d->reset_value = d->value;
    T_GUI_WIDGET* widget = _t_gui_new_widget(ctx, win, T_GUI_KIND_SLIDER, x, y, w, h, d);
    return widget ? widget->id : -1;
}

int32_t t_gui_add_textarea(T_GUI_CTX* ctx, int32_t win, float x, float y, float w, float h, int multiline,
                           int max_length, T_GUI_TEXT_CB callback, void* user) {
    __t_assert_return(ctx, -1);
    T_GUI_TEXTAREA_DATA* d = NULL;
    Malloc(d, T_GUI_TEXTAREA_DATA, 1, return -1);
    d->max_length = max_length > 0 ? max_length : T_GUI_TEXTAREA_DEFAULT_MAX;
    Malloc(d->text, char, d->max_length + 1, free(d); return -1);
    d->multiline = multiline ? 1 : 0;
    d->callback = callback;
    d->user = user;
    T_GUI_WIDGET* widget = _t_gui_new_widget(ctx, win, T_GUI_KIND_TEXTAREA, x, y, w, h, NULL);
    if (!widget) {
        _textarea_free(d);
        return -1;
    }
    widget->data = d;
    widget->destroy_data = _textarea_free;
    return widget->id;
}

int32_t t_gui_add_checkbox(T_GUI_CTX* ctx, int32_t win, const char* label, float x, float y, float w, float h,
                           int checked, T_GUI_CHECK_CB callback, void* user) {
    __t_assert_return(ctx, -1);
    T_GUI_CHECKBOX_DATA* d = NULL;
    Malloc(d, T_GUI_CHECKBOX_DATA, 1, return -1);
    _copy_text(d->label, sizeof(d->label), label);
    d->checked = checked ? 1 : 0;
    d->callback = callback;
    d->user = user;
    T_GUI_WIDGET* widget = _t_gui_new_widget(ctx, win, T_GUI_KIND_CHECKBOX, x, y, w, h, d);
    return widget ? widget->id : -1;
}

int32_t t_gui_add_listbox(T_GUI_CTX* ctx, int32_t win, float x, float y, float w, float h, int selection_mode,
                          T_GUI_LIST_CB callback, void* user) {
    __t_assert_return(ctx, -1);
    T_GUI_LISTBOX_DATA* d = NULL;
    Malloc(d, T_GUI_LISTBOX_DATA, 1, return -1);
    d->selection_mode = selection_mode;
    d->item_height = ctx->metrics.listbox_default_item_height;
    d->callback = callback;
    d->user = user;
    d->anchor = -1;
    T_GUI_WIDGET* widget = _t_gui_new_widget(ctx, win, T_GUI_KIND_LISTBOX, x, y, w, h, d);
    if (!widget) return -1;
    widget->destroy_data = _listbox_free;
    return widget->id;
}

int32_t t_gui_add_combobox(T_GUI_CTX* ctx, int32_t win, float x, float y, float w, float h,
                           T_GUI_COMBO_CB callback, void* user) {
    __t_assert_return(ctx, -1);
    T_GUI_COMBOBOX_DATA* d = NULL;
    Malloc(d, T_GUI_COMBOBOX_DATA, 1, return -1);
    d->selected = -1;
    d->highlighted = -1;
    d->item_height = h;
    d->max_visible = ctx->metrics.combobox_max_visible > 0 ? ctx->metrics.combobox_max_visible : 6;
    d->callback = callback;
    d->user = user;
    T_GUI_WIDGET* widget = _t_gui_new_widget(ctx, win, T_GUI_KIND_COMBOBOX, x, y, w, h, d);
    if (!widget) return -1;
    widget->destroy_data = _combobox_free;
    return widget->id;
}

int32_t t_gui_add_label(T_GUI_CTX* ctx, int32_t win, const char* text, float x, float y, float w, float h,
                        int alignment) {
    __t_assert_return(ctx, -1);
    T_GUI_LABEL_DATA* d = NULL;
    Malloc(d, T_GUI_LABEL_DATA, 1, return -1);
    _copy_text_no_cr(d->text, sizeof(d->text), text);
    d->alignment = alignment;
    d->sel_start = -1;
    d->sel_end = -1;
    T_GUI_WIDGET* widget = _t_gui_new_widget(ctx, win, T_GUI_KIND_LABEL, x, y, w, h, d);
    return widget ? widget->id : -1;
}

/* ------------------------------------------------------------------ */
/* accessors                                                           */

#define KIND_DATA(TYPE, KIND)                                   \
    __t_assert_void(ctx);                                       \
    T_GUI_WIDGET* widget = _t_gui_widget_of(ctx, id, KIND);     \
    if (!widget) return;                                        \
    TYPE* d = (TYPE*)widget->data;                              \
    ctx->needs_redraw = 1

void t_gui_button_set_label(T_GUI_CTX* ctx, int32_t id, const char* text) {
    KIND_DATA(T_GUI_BUTTON_DATA, T_GUI_KIND_BUTTON);
    if (text) _copy_text(d->label, sizeof(d->label), text);
}

void t_gui_button_set_toggled(T_GUI_CTX* ctx, int32_t id, int on) {
    KIND_DATA(T_GUI_BUTTON_DATA, T_GUI_KIND_BUTTON);
    d->toggled = on ? 1 : 0;
}

int t_gui_button_get_toggled(T_GUI_CTX* ctx, int32_t id) {
    __t_assert_return(ctx, -1);
    T_GUI_WIDGET* widget = _t_gui_widget_of(ctx, id, T_GUI_KIND_BUTTON);
    return widget ? ((T_GUI_BUTTON_DATA*)widget->data)->toggled : -1;
}

void t_gui_button_set_bitmaps(T_GUI_CTX* ctx, int32_t id, ALLEGRO_BITMAP* normal, ALLEGRO_BITMAP* hover,
                              ALLEGRO_BITMAP* pressed) {
    KIND_DATA(T_GUI_BUTTON_DATA, T_GUI_KIND_BUTTON);
    d->shape = 2;
    d->normal = normal;
    d->hover = hover;
    d->pressed = pressed;
}

void t_gui_button_set_shortcut(T_GUI_CTX* ctx, int32_t id, int keycode, int modifiers) {
    KIND_DATA(T_GUI_BUTTON_DATA, T_GUI_KIND_BUTTON);
    d->key = keycode;
    d->key_mods = modifiers;
    widget->shortcut_key = keycode;
    widget->shortcut_mods = modifiers;
}

void t_gui_slider_set_value(T_GUI_CTX* ctx, int32_t id, double value) {
    KIND_DATA(T_GUI_SLIDER_DATA, T_GUI_KIND_SLIDER);
    d->value = _slider_snap(d, value);
}

double t_gui_slider_get_value(T_GUI_CTX* ctx, int32_t id) {
    __t_assert(ctx);
    T_GUI_WIDGET* widget = _t_gui_widget_of(ctx, id, T_GUI_KIND_SLIDER);
    return widget ? ((T_GUI_SLIDER_DATA*)widget->data)->value : 0;
}

void t_gui_slider_set_step(T_GUI_CTX* ctx, int32_t id, double step) {
    KIND_DATA(T_GUI_SLIDER_DATA, T_GUI_KIND_SLIDER);
    d->step = step > 0 ? step : 0;
    if (step > 0) d->value = _slider_snap(d, d->value);
}

void t_gui_slider_set_format(T_GUI_CTX* ctx, int32_t id, const char* format) {
    KIND_DATA(T_GUI_SLIDER_DATA, T_GUI_KIND_SLIDER);
    _copy_text(d->format, sizeof(d->format), format ? format : "");
}

void t_gui_slider_set_orientation(T_GUI_CTX* ctx, int32_t id, int vertical) {
    KIND_DATA(T_GUI_SLIDER_DATA, T_GUI_KIND_SLIDER);
    d->orientation = vertical ? 1 : 0;
}

const char* t_gui_textarea_get_text(T_GUI_CTX* ctx, int32_t id) {
    __t_assert_return(ctx, "");
    T_GUI_WIDGET* widget = _t_gui_widget_of(ctx, id, T_GUI_KIND_TEXTAREA);
    return widget ? ((T_GUI_TEXTAREA_DATA*)widget->data)->text : "";
}

void t_gui_textarea_set_text(T_GUI_CTX* ctx, int32_t id, const char* text) {
    KIND_DATA(T_GUI_TEXTAREA_DATA, T_GUI_KIND_TEXTAREA);
    _copy_text_no_cr(d->text, (size_t)d->max_length + 1, text ? text : "");
    d->length = (int)strlen(d->text);
    d->cursor = 0;
    d->sel_start = d->sel_end = 0;
    d->scroll_y = 0;
}

void t_gui_checkbox_set_checked(T_GUI_CTX* ctx, int32_t id, int on) {
    KIND_DATA(T_GUI_CHECKBOX_DATA, T_GUI_KIND_CHECKBOX);
    d->checked = on ? 1 : 0;
}

int t_gui_checkbox_get_checked(T_GUI_CTX* ctx, int32_t id) {
    __t_assert_return(ctx, -1);
    T_GUI_WIDGET* widget = _t_gui_widget_of(ctx, id, T_GUI_KIND_CHECKBOX);
    return widget ? ((T_GUI_CHECKBOX_DATA*)widget->data)->checked : -1;
}

void t_gui_listbox_clear(T_GUI_CTX* ctx, int32_t id) {
    KIND_DATA(T_GUI_LISTBOX_DATA, T_GUI_KIND_LISTBOX);
    d->count = 0;
    d->first_visible = 0;
    d->anchor = -1;
}

int t_gui_listbox_add_item(T_GUI_CTX* ctx, int32_t id, const char* text) {
    __t_assert_return(ctx, -1);
    T_GUI_WIDGET* widget = _t_gui_widget_of(ctx, id, T_GUI_KIND_LISTBOX);
    if (!widget) return -1;
    T_GUI_LISTBOX_DATA* d = (T_GUI_LISTBOX_DATA*)widget->data;
    return _items_append(ctx, &d->items, &d->capacity, &d->count, text);
}

void t_gui_listbox_set_selected(T_GUI_CTX* ctx, int32_t id, int index, int on) {
    KIND_DATA(T_GUI_LISTBOX_DATA, T_GUI_KIND_LISTBOX);
    if (index < 0 || index >= d->count) return;
    if (d->selection_mode == 1 && on)
        for (int i = 0; i < d->count; i++) d->items[i].selected = 0;
    d->items[index].selected = on ? 1 : 0;
}

int t_gui_listbox_get_selected(T_GUI_CTX* ctx, int32_t id) {
    __t_assert_return(ctx, -1);
    T_GUI_WIDGET* widget = _t_gui_widget_of(ctx, id, T_GUI_KIND_LISTBOX);
    if (!widget) return -1;
    T_GUI_LISTBOX_DATA* d = (T_GUI_LISTBOX_DATA*)widget->data;
    for (int i = 0; i < d->count; i++)
        if (d->items[i].selected) return i;
    return -1;
}

void t_gui_combobox_clear(T_GUI_CTX* ctx, int32_t id) {
    KIND_DATA(T_GUI_COMBOBOX_DATA, T_GUI_KIND_COMBOBOX);
    d->count = 0;
    d->selected = -1;
    d->highlighted = -1;
    d->first_visible = 0;
    d->open = 0;
    if (ctx->open_combo == id) ctx->open_combo = -1;
}

int t_gui_combobox_add_item(T_GUI_CTX* ctx, int32_t id, const char* text) {
    __t_assert_return(ctx, -1);
    T_GUI_WIDGET* widget = _t_gui_widget_of(ctx, id, T_GUI_KIND_COMBOBOX);
    if (!widget) return -1;
    T_GUI_COMBOBOX_DATA* d = (T_GUI_COMBOBOX_DATA*)widget->data;
    return _items_append(ctx, &d->items, &d->capacity, &d->count, text);
}

void t_gui_combobox_set_selected(T_GUI_CTX* ctx, int32_t id, int index) {
    KIND_DATA(T_GUI_COMBOBOX_DATA, T_GUI_KIND_COMBOBOX);
    if (index < -1 || index >= d->count) return;
    d->selected = index;
}

int t_gui_combobox_get_selected(T_GUI_CTX* ctx, int32_t id) {
    __t_assert_return(ctx, -1);
    T_GUI_WIDGET* widget = _t_gui_widget_of(ctx, id, T_GUI_KIND_COMBOBOX);
    return widget ? ((T_GUI_COMBOBOX_DATA*)widget->data)->selected : -1;
}

void t_gui_label_set_text(T_GUI_CTX* ctx, int32_t id, const char* text) {
    KIND_DATA(T_GUI_LABEL_DATA, T_GUI_KIND_LABEL);
    _copy_text_no_cr(d->text, sizeof(d->text), text ? text : "");
    d->sel_start = d->sel_end = -1;
    if (ctx->label_selection == id) ctx->label_selection = -1;
}

void t_gui_label_set_bitmap(T_GUI_CTX* ctx, int32_t id, ALLEGRO_BITMAP* bitmap) {
    KIND_DATA(T_GUI_LABEL_DATA, T_GUI_KIND_LABEL);
    d->bitmap = bitmap;
}

/* ------------------------------------------------------------------ */
/* sliders                                                             */

/* Sets a slider's value from a pointer position; calls back on a change. */
static void _slider_drag(T_GUI_CTX* ctx, T_GUI_WIDGET* w, float px, float py) {
    T_GUI_SLIDER_DATA* d = (T_GUI_SLIDER_DATA*)w->data;
    float sx, sy;
    _t_gui_widget_screen_rect(ctx, w, &sx, &sy);
    float cross = d->orientation ? w->w : w->h, length = d->orientation ? w->h : w->w;
    float r = std::max(ctx->metrics.slider_handle_min_r, cross / 2 - ctx->metrics.slider_handle_edge_offset);
    float travel = length - 2 * r;
    if (travel <= 0) return;
    double t = d->orientation ? (py - sy - r) / travel : (px - sx - r) / travel;
    t = std::min(1.0, std::max(0.0, t));
    if (d->orientation) t = 1 - t;
    double v = _slider_snap(d, d->min + t * (d->max - d->min));
    if (v != d->value) {
        d->value = v;
        ctx->needs_redraw = 1;
        if (d->callback) d->callback(w->id, v, d->user);
    }
}

/* Arrow and Home/End keys of a focused slider; 1 when used. */
static int _slider_key(T_GUI_CTX* ctx, T_GUI_WIDGET* w, int key) {
    T_GUI_SLIDER_DATA* d = (T_GUI_SLIDER_DATA*)w->data;
    double step = d->step > 0 ? d->step : (d->max - d->min) / 100.0;
    double v = d->value;
    switch (key) {
        case ALLEGRO_KEY_LEFT:
        case ALLEGRO_KEY_DOWN: v -= step; break;
        case ALLEGRO_KEY_RIGHT:
        case ALLEGRO_KEY_UP: v += step; break;
        case ALLEGRO_KEY_HOME: v = d->min; break;
        case ALLEGRO_KEY_END: v = d->max; break;
        default: return 0;
    }
    v = _slider_snap(d, v);
    if (v != d->value) {
        d->value = v;
        ctx->needs_redraw = 1;
        if (d->callback) d->callback(w->id, v, d->user);
    }
    return 1;
}

/* ------------------------------------------------------------------ */
/* text areas                                                          */

/* Start of the UTF-8 character before byte `pos`. A character is at most
 * four bytes: longer runs of continuation bytes (malformed text) are
 * stepped over four bytes at a time. */
static int _utf8_prev(const char* s, int pos) {
    if (pos <= 0) return 0;
    int stop = pos > 4 ? pos - 4 : 0;
    pos--;
    while (pos > stop && ((unsigned char)s[pos] & 0xC0) == 0x80) pos--;
    return pos;
}

/* Byte after the UTF-8 character at `pos` (at most four bytes on). */
static int _utf8_next(const char* s, int len, int pos) {
    if (pos >= len) return len;
    int stop = len - pos > 4 ? pos + 4 : len;
    pos++;
    while (pos < stop && ((unsigned char)s[pos] & 0xC0) == 0x80) pos++;
    return pos;
}

static int _ta_has_sel(const T_GUI_TEXTAREA_DATA* d) { return d->sel_start != d->sel_end; }

/* Removes the selected bytes; 1 when something was removed. */
static int _ta_delete_sel(T_GUI_TEXTAREA_DATA* d) {
    if (!_ta_has_sel(d)) return 0;
    int a = std::min(d->sel_start, d->sel_end), b = std::max(d->sel_start, d->sel_end);
    a = std::max(0, std::min(a, d->length));
    b = std::max(0, std::min(b, d->length));
    memmove(d->text + a, d->text + b, (size_t)(d->length - b + 1));
    d->length -= b - a;
    d->cursor = a;
    d->sel_start = d->sel_end = a;
    return 1;
}

/* Inserts bytes at the cursor when they fit in the maximum; 1 when inserted. */
static int _ta_insert(T_GUI_TEXTAREA_DATA* d, const char* bytes, int n) {
    if (n <= 0 || d->length + n > d->max_length) return 0;
    memmove(d->text + d->cursor + n, d->text + d->cursor, (size_t)(d->length - d->cursor + 1));
    memcpy(d->text + d->cursor, bytes, (size_t)n);
    d->length += n;
    d->cursor += n;
    d->sel_start = d->sel_end = d->cursor;
    return 1;
}

/* Inserts clipboard text: repaired to well-formed UTF-8, carriage returns
 * dropped, line ends dropped from a single-line field, cut at a character
 * boundary to what fits. */
static int _ta_paste(T_GUI_TEXTAREA_DATA* d, const char* text) {
    if (!text) return 0;
    T_STR* fixed = NULL;
    if (t_utf8_repair(&fixed, text, strlen(text)) < 0) return 0;
    size_t n = fixed->length;
    char* clean = (char*)malloc(n + 1);
    if (!clean) {
        t_log_alloc_failure(clean, n + 1, char);
        t_str_free(&fixed);
        return 0;
    }
    int j = 0;
    for (size_t i = 0; i < n; i++) {
        char c = fixed->data[i];
        if (c == '\r') continue;
        if (c == '\n' && !d->multiline) continue;
        if ((unsigned char)c < 32 && c != '\n' && c != '\t') continue;
        clean[j++] = c;
    }
    t_str_free(&fixed);
    int room = d->max_length - d->length;
    if (j > room) j = (int)t_utf8_cut(clean, (size_t)j, (size_t)std::max(room, 0));
    int ok = _ta_insert(d, clean, j);
    free(clean);
    return ok;
}

/* Byte of the start of the line holding `pos`. */
static int _line_start(const char* s, int pos) {
    while (pos > 0 && s[pos - 1] != '\n') pos--;
    return pos;
}

/* Byte of the end (the line end or text end) of the line holding `pos`. */
static int _line_end(const char* s, int len, int pos) {
    while (pos < len && s[pos] != '\n') pos++;
    return pos;
}

/* Moves `count` characters from `start`, stopping at `limit`. */
static int _advance_chars(const char* s, int len, int start, int count, int limit) {
    int p = start;
    while (count-- > 0 && p < limit) p = _utf8_next(s, len, p);
    return std::min(p, limit);
}

/* Number of characters between two byte positions. */
static int _count_chars(const char* s, int a, int b) {
    int n = 0;
    for (int i = a; i < b; i++)
        if (((unsigned char)s[i] & 0xC0) != 0x80) n++;
    return n;
}

/* Sets the cursor, extending or collapsing the selection. */
static void _ta_move(T_GUI_TEXTAREA_DATA* d, int pos, int extend) {
    if (extend) {
        if (!_ta_has_sel(d)) d->sel_start = d->cursor;
        d->cursor = pos;
        d->sel_end = pos;
    } else {
        d->cursor = pos;
        d->sel_start = d->sel_end = pos;
    }
}

/* Copies a text area's selection to the clipboard; 1 when copied. */
static int _ta_copy(T_GUI_TEXTAREA_DATA* d) {
    if (!_ta_has_sel(d)) return 0;
    int a = std::min(d->sel_start, d->sel_end), b = std::max(d->sel_start, d->sel_end);
    std::string part(d->text + a, (size_t)(b - a));
    return t_clipboard_set(0, part.c_str()) == 0;
}

int _t_gui_copy_selection(T_GUI_CTX* ctx, T_GUI_WIDGET* widget) {
    if (!ctx || !widget) return 0;
    if (widget->kind == T_GUI_KIND_TEXTAREA) return _ta_copy((T_GUI_TEXTAREA_DATA*)widget->data);
    if (widget->kind == T_GUI_KIND_LABEL) {
        T_GUI_LABEL_DATA* d = (T_GUI_LABEL_DATA*)widget->data;
        if (d->sel_start < 0 || d->sel_end < 0 || d->sel_start == d->sel_end) return 0;
        int len = (int)strlen(d->text);
        int a = std::min(std::min(d->sel_start, d->sel_end), len), b = std::min(std::max(d->sel_start, d->sel_end), len);
        std::string part(d->text + a, (size_t)(b - a));
        return t_clipboard_set(0, part.c_str()) == 0;
    }
    return 0;
}

void _t_gui_textarea_focus(T_GUI_CTX* ctx, T_GUI_WIDGET* widget) {
    if (!ctx || !widget || widget->kind != T_GUI_KIND_TEXTAREA) return;
    ((T_GUI_TEXTAREA_DATA*)widget->data)->blink_start = ctx->now > 0 ? ctx->now : al_get_time();
}

/* A key-character event for a text area; 1 when used. */
static int _textarea_key(T_GUI_CTX* ctx, T_GUI_WIDGET* w, const ALLEGRO_EVENT* ev) {
    T_GUI_TEXTAREA_DATA* d = (T_GUI_TEXTAREA_DATA*)w->data;
    int key = ev->keyboard.keycode, mods = ev->keyboard.modifiers;
    int shift = (mods & ALLEGRO_KEYMOD_SHIFT) != 0, ctrl = (mods & ALLEGRO_KEYMOD_CTRL) != 0;
    int changed = 0, used = 1;
    d->cursor = std::max(0, std::min(d->cursor, d->length));
    switch (key) {
        case ALLEGRO_KEY_BACKSPACE:
            if (_ta_delete_sel(d)) {
                changed = 1;
            } else if (d->cursor > 0) {
                d->sel_start = _utf8_prev(d->text, d->cursor);
                d->sel_end = d->cursor;
                changed = _ta_delete_sel(d);
            }
            break;
        case ALLEGRO_KEY_DELETE:
            if (_ta_delete_sel(d)) {
                changed = 1;
            } else if (d->cursor < d->length) {
                d->sel_start = d->cursor;
                d->sel_end = _utf8_next(d->text, d->length, d->cursor);
                changed = _ta_delete_sel(d);
            }
            break;
        case ALLEGRO_KEY_ENTER:
        case ALLEGRO_KEY_PAD_ENTER:
            if (!d->multiline) return 0; /* the caller acts on Enter */
            if (d->length - (_ta_has_sel(d) ? std::abs(d->sel_end - d->sel_start) : 0) + 1 <= d->max_length) {
                _ta_delete_sel(d);
                changed = _ta_insert(d, "\n", 1);
            }
            break;
        case ALLEGRO_KEY_LEFT: {
            int pos = (_ta_has_sel(d) && !shift) ? std::min(d->sel_start, d->sel_end) : _utf8_prev(d->text, d->cursor);
            _ta_move(d, pos, shift);
            break;
        }
        case ALLEGRO_KEY_RIGHT: {
            int pos = (_ta_has_sel(d) && !shift) ? std::max(d->sel_start, d->sel_end)
                                                 : _utf8_next(d->text, d->length, d->cursor);
            _ta_move(d, pos, shift);
            break;
        }
        case ALLEGRO_KEY_HOME: _ta_move(d, d->multiline ? _line_start(d->text, d->cursor) : 0, shift); break;
        case ALLEGRO_KEY_END:
            _ta_move(d, d->multiline ? _line_end(d->text, d->length, d->cursor) : d->length, shift);
            break;
        case ALLEGRO_KEY_UP:
        case ALLEGRO_KEY_DOWN: {
            if (!d->multiline) return 1;
            int ls = _line_start(d->text, d->cursor);
            int col = _count_chars(d->text, ls, d->cursor);
            int pos;
            if (key == ALLEGRO_KEY_UP) {
                if (ls == 0) {
                    pos = 0;
                } else {
                    int prev = _line_start(d->text, ls - 1);
                    pos = _advance_chars(d->text, d->length, prev, col, ls - 1);
                }
            } else {
                int le = _line_end(d->text, d->length, d->cursor);
                if (le >= d->length) {
                    pos = d->length;
                } else {
                    int next = le + 1;
                    pos = _advance_chars(d->text, d->length, next, col, _line_end(d->text, d->length, next));
                }
            }
            _ta_move(d, pos, shift);
            break;
        }
        default:
            if (ctrl) {
                if (key == ALLEGRO_KEY_A) {
                    d->sel_start = 0;
                    d->sel_end = d->length;
                    d->cursor = d->length;
                } else if (key == ALLEGRO_KEY_C) {
                    _ta_copy(d);
                } else if (key == ALLEGRO_KEY_X) {
                    if (_ta_copy(d) && _ta_delete_sel(d)) changed = 1;
                } else if (key == ALLEGRO_KEY_V) {
                    char* text = t_clipboard_get_text(0);
                    if (!text && ctx->display && al_clipboard_has_text(ctx->display)) {
                        char* raw = al_get_clipboard_text(ctx->display);
                        if (raw) {
                            text = strdup(raw);
                            al_free(raw);
                        }
                    }
                    if (text) {
                        _ta_delete_sel(d);
                        _ta_paste(d, text);
                        changed = 1;
                        free(text);
                    }
                } else {
                    used = 0;
                }
                break;
            }
            {
                int cp = ev->keyboard.unichar;
                char bytes[4];
                if (cp < 32 || cp == 127) return 0;
                int n = t_utf8_encode(cp, bytes);
                if (!n) return 1;
                int sel = _ta_has_sel(d) ? std::abs(d->sel_end - d->sel_start) : 0;
                if (d->length - sel + n > d->max_length) return 1;
                _ta_delete_sel(d);
                changed = _ta_insert(d, bytes, n);
            }
            break;
    }
    d->blink_start = ctx->now;
    if (changed && d->callback) d->callback(w->id, d->text, d->user);
    ctx->needs_redraw = 1;
    return used;
}

/* Byte position under a pointer in a text area. */
static int _textarea_pos_at(T_GUI_CTX* ctx, T_GUI_WIDGET* w, float px, float py) {
    T_GUI_TEXTAREA_DATA* d = (T_GUI_TEXTAREA_DATA*)w->data;
    const ALLEGRO_FONT* f = _font(ctx, w);
    float sx, sy;
    _t_gui_widget_screen_rect(ctx, w, &sx, &sy);
    float pad = ctx->metrics.textarea_padding, lh = (float)al_get_font_line_height(f);
    int line = d->multiline ? (int)floorf((py - sy - pad + d->scroll_y) / lh) : 0;
    int start = 0;
    for (int i = 0; i < line; i++) {
        int e = _line_end(d->text, d->length, start);
        if (e >= d->length) {
            start = -1;
            break;
        }
        start = e + 1;
    }
    if (start < 0) return d->length;
    int end = _line_end(d->text, d->length, start);
    float x = sx + pad;
    int pos = start;
    char ch[5];
    while (pos < end) {
        int next = _utf8_next(d->text, d->length, pos);
        memcpy(ch, d->text + pos, (size_t)(next - pos));
        ch[next - pos] = 0;
        float cw = (float)al_get_text_width(f, ch);
        if (px < x + cw / 2) break;
        x += cw;
        pos = next;
    }
    return pos;
}

/* ------------------------------------------------------------------ */
/* list boxes and combo boxes                                          */

/* Row height of a list box (stored back as the item height). */
static float _list_row_h(T_GUI_CTX* ctx, T_GUI_WIDGET* w) {
    T_GUI_LISTBOX_DATA* d = (T_GUI_LISTBOX_DATA*)w->data;
    float lh = (float)al_get_font_line_height(_font(ctx, w));
    if (!(d->item_height > lh)) d->item_height = lh + ctx->metrics.item_height_pad;
    return d->item_height;
}

/* Number of whole rows a list box shows. */
static int _list_rows(T_GUI_CTX* ctx, T_GUI_WIDGET* w) {
    int rows = (int)floorf(w->h / _list_row_h(ctx, w));
    return rows < 1 ? 1 : rows;
}

/* Keeps the first visible item inside [0, count - rows]. */
static void _list_clamp(T_GUI_CTX* ctx, T_GUI_WIDGET* w) {
    T_GUI_LISTBOX_DATA* d = (T_GUI_LISTBOX_DATA*)w->data;
    int max_first = std::max(0, d->count - _list_rows(ctx, w));
    d->first_visible = std::max(0, std::min(d->first_visible, max_first));
}

/* Selects one row in single mode and reports it. */
static void _list_select_one(T_GUI_CTX* ctx, T_GUI_WIDGET* w, int row) {
    T_GUI_LISTBOX_DATA* d = (T_GUI_LISTBOX_DATA*)w->data;
    for (int i = 0; i < d->count; i++) d->items[i].selected = 0;
    d->items[row].selected = 1;
    d->anchor = row;
    ctx->needs_redraw = 1;
    if (d->callback) d->callback(w->id, row, 1, d->user);
}

/* Press on a list box: a row or its scroll bar. */
static void _listbox_press(T_GUI_CTX* ctx, T_GUI_WIDGET* w, float px, float py) {
    T_GUI_LISTBOX_DATA* d = (T_GUI_LISTBOX_DATA*)w->data;
    float sx, sy;
    _t_gui_widget_screen_rect(ctx, w, &sx, &sy);
    float rh = _list_row_h(ctx, w);
    int rows = _list_rows(ctx, w);
    if (d->count > rows && px >= sx + w->w - ctx->metrics.scrollbar_size) {
        d->scroll_drag = 1;
        w->state |= T_GUI_WSTATE_DRAG;
        float t = w->h > 0 ? (py - sy) / w->h : 0.0f;
        d->first_visible = (int)floorf(t * (float)(d->count - rows) + 0.5f);
        _list_clamp(ctx, w);
        ctx->needs_redraw = 1;
        return;
    }
    _list_clamp(ctx, w);
    int row = (int)floorf((py - sy) / rh) + d->first_visible;
    if (row < 0 || row >= d->count) return;
    if (d->selection_mode == 1) {
        _list_select_one(ctx, w, row);
    } else if (d->selection_mode == 2) {
        d->items[row].selected = !d->items[row].selected;
        d->anchor = row;
        ctx->needs_redraw = 1;
        if (d->callback) d->callback(w->id, row, d->items[row].selected, d->user);
    }
}

/* Keys of a focused list box; 1 when used. */
static int _listbox_key(T_GUI_CTX* ctx, T_GUI_WIDGET* w, int key) {
    T_GUI_LISTBOX_DATA* d = (T_GUI_LISTBOX_DATA*)w->data;
    if (key != ALLEGRO_KEY_UP && key != ALLEGRO_KEY_DOWN && key != ALLEGRO_KEY_HOME && key != ALLEGRO_KEY_END)
        return 0;
    if (d->selection_mode != 1 || d->count == 0) return 1;
    int cur = -1;
    for (int i = 0; i < d->count; i++)
        if (d->items[i].selected) {
            cur = i;
            break;
        }
    int next = cur;
    switch (key) {
        case ALLEGRO_KEY_UP: next = cur < 0 ? 0 : std::max(0, cur - 1); break;
        case ALLEGRO_KEY_DOWN: next = cur < 0 ? 0 : std::min(d->count - 1, cur + 1); break;
        case ALLEGRO_KEY_HOME: next = 0; break;
        default: next = d->count - 1; break;
    }
    if (next != cur) {
        _list_select_one(ctx, w, next);
        int rows = _list_rows(ctx, w);
        if (next < d->first_visible) d->first_visible = next;
        if (next >= d->first_visible + rows) d->first_visible = next - rows + 1;
        _list_clamp(ctx, w);
    }
    return 1;
}

/* Height of a drop-down row: the item height, the box's height, or a text line. */
static float _combo_row_h(T_GUI_CTX* ctx, const T_GUI_WIDGET* w) {
    const T_GUI_COMBOBOX_DATA* d = (const T_GUI_COMBOBOX_DATA*)w->data;
    if (d->item_height > 0) return d->item_height;
    if (w->h > 0) return w->h;
    /* A box of height 0 would make every row 0 high and divide by zero. */
    return (float)al_get_font_line_height(_font(ctx, w)) + ctx->metrics.item_height_pad;
}

/* Geometry of the open drop-down in window space. */
int _t_gui_dropdown_rect(T_GUI_CTX* ctx, float* x, float* y, float* w, float* h) {
    T_GUI_WIDGET* widget = ctx ? _t_gui_widget_of(ctx, ctx->open_combo, T_GUI_KIND_COMBOBOX) : NULL;
    if (!widget) return 0;
    T_GUI_COMBOBOX_DATA* d = (T_GUI_COMBOBOX_DATA*)widget->data;
    float sx, sy;
    _t_gui_widget_screen_rect(ctx, widget, &sx, &sy);
    int rows = std::min(d->count, d->max_visible);
    float rh = _combo_row_h(ctx, widget);
    *x = sx;
    *w = widget->w;
    if (ctx->metrics.combobox_max_dropdown_width > 0) *w = std::min(*w, ctx->metrics.combobox_max_dropdown_width);
    *h = rows * rh;
    *y = sy + widget->h;
    float sh = ctx->virtual_w > 0 && ctx->virtual_h > 0 ? ctx->virtual_h : ctx->display_h;
    if (sh > 0 && *y + *h > sh && sy - *h >= 0) *y = sy - *h;
    return 1;
}

void _t_gui_close_dropdown(T_GUI_CTX* ctx) {
    if (!ctx) return;
    T_GUI_WIDGET* widget = _t_gui_widget_of(ctx, ctx->open_combo, T_GUI_KIND_COMBOBOX);
    if (widget) ((T_GUI_COMBOBOX_DATA*)widget->data)->open = 0;
    ctx->open_combo = -1;
    ctx->needs_redraw = 1;
}

/* Opens a combo box's drop-down around its selection. */
static void _combo_open(T_GUI_CTX* ctx, T_GUI_WIDGET* w) {
    T_GUI_COMBOBOX_DATA* d = (T_GUI_COMBOBOX_DATA*)w->data;
    if (ctx->open_combo >= 0 && ctx->open_combo != w->id) _t_gui_close_dropdown(ctx);
    d->open = 1;
    d->highlighted = d->selected;
    int first = std::max(0, d->selected - d->max_visible / 2);
    first = std::min(first, std::max(0, d->count - d->max_visible));
    d->first_visible = first;
    ctx->open_combo = w->id;
    ctx->needs_redraw = 1;
}

/* Selects an item of a combo box and reports it. */
static void _combo_choose(T_GUI_CTX* ctx, T_GUI_WIDGET* w, int index) {
    T_GUI_COMBOBOX_DATA* d = (T_GUI_COMBOBOX_DATA*)w->data;
    if (index < 0 || index >= d->count) return;
    d->selected = index;
    ctx->needs_redraw = 1;
    if (d->callback) d->callback(w->id, index, d->user);
}

int _t_gui_dropdown_press(T_GUI_CTX* ctx, float px, float py) {
    T_GUI_WIDGET* w = _t_gui_widget_of(ctx, ctx->open_combo, T_GUI_KIND_COMBOBOX);
    if (!w) {
        ctx->open_combo = -1;
        return 0;
    }
    T_GUI_COMBOBOX_DATA* d = (T_GUI_COMBOBOX_DATA*)w->data;
    float x = 0, y = 0, dw = 0, dh = 0;
    _t_gui_dropdown_rect(ctx, &x, &y, &dw, &dh);
    if (px >= x && px < x + dw && py >= y && py < y + dh) {
        float rh = _combo_row_h(ctx, w);
        int index = d->first_visible + (int)floorf((py - y) / rh);
        _t_gui_close_dropdown(ctx);
        _combo_choose(ctx, w, index);
        return 1;
    }
    float sx, sy;
    _t_gui_widget_screen_rect(ctx, w, &sx, &sy);
    _t_gui_close_dropdown(ctx);
    /* a press on the combo box itself only closes it */
    return px >= sx && px < sx + w->w && py >= sy && py < sy + w->h;
}

void _t_gui_dropdown_motion(T_GUI_CTX* ctx, float px, float py) {
    T_GUI_WIDGET* w = _t_gui_widget_of(ctx, ctx->open_combo, T_GUI_KIND_COMBOBOX);
    if (!w) return;
    T_GUI_COMBOBOX_DATA* d = (T_GUI_COMBOBOX_DATA*)w->data;
    float x = 0, y = 0, dw = 0, dh = 0;
    _t_gui_dropdown_rect(ctx, &x, &y, &dw, &dh);
    if (px >= x && px < x + dw && py >= y && py < y + dh) {
        float rh = _combo_row_h(ctx, w);
        int index = d->first_visible + (int)floorf((py - y) / rh);
        if (index != d->highlighted && index < d->count) {
            d->highlighted = index;
            ctx->needs_redraw = 1;
        }
    }
}

/* Keys of a combo box, open or closed; 1 when used. */
static int _combo_key(T_GUI_CTX* ctx, T_GUI_WIDGET* w, int key) {
    T_GUI_COMBOBOX_DATA* d = (T_GUI_COMBOBOX_DATA*)w->data;
    if (d->open) {
        switch (key) {
            case ALLEGRO_KEY_ESCAPE: _t_gui_close_dropdown(ctx); return 1;
            case ALLEGRO_KEY_ENTER:
            case ALLEGRO_KEY_PAD_ENTER: {
                int index = d->highlighted;
                _t_gui_close_dropdown(ctx);
                _combo_choose(ctx, w, index);
                return 1;
            }
            case ALLEGRO_KEY_UP:
            case ALLEGRO_KEY_DOWN:
                if (d->count == 0) return 1;
                if (d->highlighted < 0)
                    d->highlighted = 0;
                else
                    d->highlighted = std::max(0, std::min(d->count - 1, d->highlighted + (key == ALLEGRO_KEY_UP ? -1 : 1)));
                if (d->highlighted < d->first_visible) d->first_visible = d->highlighted;
                if (d->highlighted >= d->first_visible + d->max_visible)
                    d->first_visible = d->highlighted - d->max_visible + 1;
                ctx->needs_redraw = 1;
                return 1;
            default: return 1;
        }
    }
    if (d->count == 0) return 0;
    int next;
    switch (key) {
        case ALLEGRO_KEY_UP: next = d->selected < 0 ? 0 : std::max(0, d->selected - 1); break;
        case ALLEGRO_KEY_DOWN: next = d->selected < 0 ? 0 : std::min(d->count - 1, d->selected + 1); break;
        case ALLEGRO_KEY_HOME: next = 0; break;
        case ALLEGRO_KEY_END: next = d->count - 1; break;
        default: return 0;
    }
    if (next != d->selected) _combo_choose(ctx, w, next);
    return 1;
}

/* ------------------------------------------------------------------ */
/* event dispatch by kind                                              */

int _t_gui_widget_takes_focus(const T_GUI_WIDGET* w) {
    switch (w->kind) {
        case T_GUI_KIND_SLIDER:
        case T_GUI_KIND_TEXTAREA:
        case T_GUI_KIND_CHECKBOX:
        case T_GUI_KIND_LISTBOX:
        case T_GUI_KIND_COMBOBOX: return 1;
        default: return 0;
    }
}

int _t_gui_widget_takes_key(const T_GUI_WIDGET* w, int key) {
    int enter = key == ALLEGRO_KEY_ENTER || key == ALLEGRO_KEY_PAD_ENTER;
    switch (w->kind) {
        case T_GUI_KIND_TEXTAREA: return ((T_GUI_TEXTAREA_DATA*)w->data)->multiline ? 1 : !enter;
        case T_GUI_KIND_BUTTON:
            return enter || key == ALLEGRO_KEY_SPACE || key == ALLEGRO_KEY_LEFT || key == ALLEGRO_KEY_RIGHT ||
                   key == ALLEGRO_KEY_UP || key == ALLEGRO_KEY_DOWN;
        case T_GUI_KIND_SLIDER:
        case T_GUI_KIND_CHECKBOX:
        case T_GUI_KIND_SCROLLBAR:
        case T_GUI_KIND_LISTBOX:
        case T_GUI_KIND_RADIOLIST:
        case T_GUI_KIND_COMBOBOX: return 1;
        default: return 0;
    }
}

int _t_gui_widget_acts_on_key(const T_GUI_WIDGET* w, int key) {
    int enter = key == ALLEGRO_KEY_ENTER || key == ALLEGRO_KEY_PAD_ENTER;
    int arrow = key == ALLEGRO_KEY_LEFT || key == ALLEGRO_KEY_RIGHT || key == ALLEGRO_KEY_UP || key == ALLEGRO_KEY_DOWN;
    int ends = key == ALLEGRO_KEY_HOME || key == ALLEGRO_KEY_END;
    switch (w->kind) {
        case T_GUI_KIND_TEXTAREA:
        case T_GUI_KIND_BUTTON: return _t_gui_widget_takes_key(w, key);
        case T_GUI_KIND_SLIDER:
        case T_GUI_KIND_SCROLLBAR:
        case T_GUI_KIND_RADIOLIST: return arrow || ends;
        case T_GUI_KIND_CHECKBOX: return enter || key == ALLEGRO_KEY_SPACE;
        case T_GUI_KIND_LISTBOX: return key == ALLEGRO_KEY_UP || key == ALLEGRO_KEY_DOWN || ends;
        case T_GUI_KIND_COMBOBOX: return key == ALLEGRO_KEY_UP || key == ALLEGRO_KEY_DOWN || ends || enter;
        default: return 0;
    }
}

int _t_gui_widget_press(T_GUI_CTX* ctx, T_GUI_WIDGET* w, float px, float py, int button) {
    if (button != 1) return 0;
    switch (w->kind) {
        case T_GUI_KIND_SLIDER:
            w->state |= T_GUI_WSTATE_DRAG;
            _slider_drag(ctx, w, px, py);
            return 1;
        case T_GUI_KIND_TEXTAREA: {
            T_GUI_TEXTAREA_DATA* d = (T_GUI_TEXTAREA_DATA*)w->data;
            int pos = _textarea_pos_at(ctx, w, px, py);
            _ta_move(d, pos, (ctx->modifiers & ALLEGRO_KEYMOD_SHIFT) != 0);
            if (ctx->double_clicked_widget == w->id) {
                d->sel_start = 0;
                d->sel_end = d->length;
                d->cursor = d->length;
            }
            w->state |= T_GUI_WSTATE_DRAG;
            return 1;
        }
        case T_GUI_KIND_LISTBOX: _listbox_press(ctx, w, px, py); return 1;
        case T_GUI_KIND_COMBOBOX: {
            T_GUI_COMBOBOX_DATA* d = (T_GUI_COMBOBOX_DATA*)w->data;
            if (d->open)
                _t_gui_close_dropdown(ctx);
            else
                _combo_open(ctx, w);
            return 1;
        }
        default: return 1;
    }
}

void _t_gui_widget_motion(T_GUI_CTX* ctx, T_GUI_WIDGET* w, float px, float py) {
    switch (w->kind) {
        case T_GUI_KIND_SLIDER: _slider_drag(ctx, w, px, py); break;
        case T_GUI_KIND_TEXTAREA: {
            T_GUI_TEXTAREA_DATA* d = (T_GUI_TEXTAREA_DATA*)w->data;
            int pos = _textarea_pos_at(ctx, w, px, py);
            if (pos != d->cursor) {
                if (!_ta_has_sel(d)) d->sel_start = d->cursor;
                d->cursor = d->sel_end = pos;
                ctx->needs_redraw = 1;
            }
            break;
        }
        case T_GUI_KIND_LISTBOX: {
            T_GUI_LISTBOX_DATA* d = (T_GUI_LISTBOX_DATA*)w->data;
            if (d->scroll_drag && w->h > 0) {
                float sx, sy;
                _t_gui_widget_screen_rect(ctx, w, &sx, &sy);
                int rows = _list_rows(ctx, w);
                d->first_visible = (int)floorf((py - sy) / w->h * (float)(d->count - rows) + 0.5f);
                _list_clamp(ctx, w);
                ctx->needs_redraw = 1;
            }
            break;
        }
        default: break;
    }
}

/* 1 when a point lies in the widget's on-screen rectangle. */
static int _inside(T_GUI_CTX* ctx, const T_GUI_WIDGET* w, float px, float py) {
    float sx, sy;
    _t_gui_widget_screen_rect(ctx, w, &sx, &sy);
    return px >= sx && px < sx + w->w && py >= sy && py < sy + w->h;
}

void _t_gui_widget_release(T_GUI_CTX* ctx, T_GUI_WIDGET* w, float px, float py) {
    ctx->needs_redraw = 1;
    switch (w->kind) {
        case T_GUI_KIND_BUTTON: {
            if (!w->visible || !_inside(ctx, w, px, py)) return;
            T_GUI_BUTTON_DATA* d = (T_GUI_BUTTON_DATA*)w->data;
            if (d->toggle_mode) d->toggled = !d->toggled;
            if (d->callback) d->callback(w->id, d->user);
            return;
        }
        case T_GUI_KIND_CHECKBOX: {
            if (!w->visible || !_inside(ctx, w, px, py)) return;
            T_GUI_CHECKBOX_DATA* d = (T_GUI_CHECKBOX_DATA*)w->data;
            d->checked = !d->checked;
            if (d->callback) d->callback(w->id, d->checked, d->user);
            return;
        }
        case T_GUI_KIND_LISTBOX: ((T_GUI_LISTBOX_DATA*)w->data)->scroll_drag = 0; return;
        default: return;
    }
}

int _t_gui_widget_wheel(T_GUI_CTX* ctx, T_GUI_WIDGET* w, int dz) {
    if (w->kind == T_GUI_KIND_LISTBOX) {
        T_GUI_LISTBOX_DATA* d = (T_GUI_LISTBOX_DATA*)w->data;
        if (d->count <= _list_rows(ctx, w)) return 0;
        d->first_visible -= dz;
        _list_clamp(ctx, w);
        ctx->needs_redraw = 1;
        return 1;
    }
    return 0;
}

int _t_gui_widget_key(T_GUI_CTX* ctx, T_GUI_WIDGET* w, const ALLEGRO_EVENT* ev) {
    if (ev->type != ALLEGRO_EVENT_KEY_CHAR) return 0;
    int key = ev->keyboard.keycode;
    switch (w->kind) {
        case T_GUI_KIND_TEXTAREA: return _textarea_key(ctx, w, ev);
        case T_GUI_KIND_SLIDER: return _slider_key(ctx, w, key);
        case T_GUI_KIND_CHECKBOX:
            if (key == ALLEGRO_KEY_ENTER || key == ALLEGRO_KEY_PAD_ENTER || key == ALLEGRO_KEY_SPACE) {
                T_GUI_CHECKBOX_DATA* d = (T_GUI_CHECKBOX_DATA*)w->data;
                d->checked = !d->checked;
                ctx->needs_redraw = 1;
                if (d->callback) d->callback(w->id, d->checked, d->user);
                return 1;
            }
            return 0;
        case T_GUI_KIND_LISTBOX: return _listbox_key(ctx, w, key);
        case T_GUI_KIND_COMBOBOX: return _combo_key(ctx, w, key);
        default: return 0;
    }
}

void _t_gui_widget_fire_shortcut(T_GUI_CTX* ctx, T_GUI_WIDGET* w) {
    if (w->kind != T_GUI_KIND_BUTTON) return;
    T_GUI_BUTTON_DATA* d = (T_GUI_BUTTON_DATA*)w->data;
    if (d->toggle_mode) d->toggled = !d->toggled;
    d->flash_until = ctx->now + BUTTON_FLASH_SECONDS;
    ctx->needs_redraw = 1;
    if (d->callback) d->callback(w->id, d->user);
}

/* ------------------------------------------------------------------ */
/* drawing                                                             */

/* Background, border and text colours of a widget state. */
static void _state_colours(const T_GUI_STYLE* s, int state, ALLEGRO_COLOR* bg, ALLEGRO_COLOR* border,
                           ALLEGRO_COLOR* text) {
    if (state & T_GUI_WSTATE_PRESSED) {
        *bg = s->bg_active;
        *border = s->border_active;
        *text = s->text_active;
    } else if (state & T_GUI_WSTATE_HOVER) {
        *bg = s->bg_hover;
        *border = s->border_hover;
        *text = s->text_hover;
    } else {
        *bg = s->bg_normal;
        *border = s->border_normal;
        *text = s->text_normal;
    }
}

static void _draw_button(T_GUI_CTX* ctx, T_GUI_WIDGET* w, float x, float y) {
    T_GUI_BUTTON_DATA* d = (T_GUI_BUTTON_DATA*)w->data;
    int state = w->state;
    if ((d->toggle_mode && d->toggled) || d->flash_until > al_get_time()) state |= T_GUI_WSTATE_PRESSED;
    if (d->shape == 2 && d->normal) {
        ALLEGRO_BITMAP* b = d->normal;
        if ((state & T_GUI_WSTATE_PRESSED) && d->pressed)
            b = d->pressed;
        else if (!(state & T_GUI_WSTATE_PRESSED) && (state & T_GUI_WSTATE_HOVER) && d->hover)
            b = d->hover;
        al_draw_scaled_bitmap(b, 0, 0, (float)al_get_bitmap_width(b), (float)al_get_bitmap_height(b), x, y, w->w,
                              w->h, 0);
        return;
    }
    const T_GUI_STYLE* s = _t_gui_widget_style(ctx, w);
    ALLEGRO_COLOR bg, border, text;
    _state_colours(s, state, &bg, &border, &text);
    int rounded = ctx->shape_mode == 1 || (ctx->shape_mode != 0 && d->shape == 1);
    float r = rounded ? std::min(s->corner_rx, std::min(w->w, w->h) / 2) : 0;
    _fill(x, y, x + w->w, y + w->h, r, bg);
    _frame(x, y, x + w->w, y + w->h, r, border, s->border_thickness);
    if (!d->label[0]) return;
    const ALLEGRO_FONT* f = _font(ctx, w);
    float pad = ctx->metrics.label_padding;
    float tw = (float)al_get_text_width(f, d->label), ty = y + (w->h - al_get_font_line_height(f)) / 2;
    if (tw > w->w - 2 * pad) {
        int saved[4];
        _clip_push(ctx, x + pad, y, std::max(0.0f, w->w - 2 * pad), w->h, saved);
        al_draw_text(f, _t_gui_premul(text), x + pad, ty, 0, d->label);
        _clip_pop(saved);
    } else {
        al_draw_text(f, _t_gui_premul(text), x + w->w / 2, ty, ALLEGRO_ALIGN_CENTRE, d->label);
    }
}

static void _draw_slider(T_GUI_CTX* ctx, T_GUI_WIDGET* w, float x, float y) {
    T_GUI_SLIDER_DATA* d = (T_GUI_SLIDER_DATA*)w->data;
    const T_GUI_METRICS* m = &ctx->metrics;
    const T_GUI_STYLE* s = _t_gui_widget_style(ctx, w);
    ALLEGRO_COLOR bg, border, text;
    _state_colours(s, w->state, &bg, &border, &text);
    float cross = d->orientation ? w->w : w->h, length = d->orientation ? w->h : w->w;
    float r = std::max(m->slider_handle_min_r, cross / 2 - m->slider_handle_edge_offset);
    double range = d->max - d->min;
    float t = range != 0 ? (float)((d->value - d->min) / range) : 0;
    float ts = m->slider_track_size;
    float hx, hy;
    if (d->orientation) {
        float cx = x + w->w / 2;
        _fill(cx - ts / 2, y + r, cx + ts / 2, y + w->h - r, m->slider_track_corner_r, s->bg_normal);
        _frame(cx - ts / 2, y + r, cx + ts / 2, y + w->h - r, m->slider_track_corner_r, s->border_normal,
               m->slider_track_border_thickness);
        hx = cx;
        hy = y + r + (1 - t) * (length - 2 * r);
    } else {
        float cy = y + w->h / 2;
        _fill(x + r, cy - ts / 2, x + w->w - r, cy + ts / 2, m->slider_track_corner_r, s->bg_normal);
        _fill(x + r, cy - ts / 2, x + r + t * (length - 2 * r), cy + ts / 2, m->slider_track_corner_r, s->selection_color);
        _frame(x + r, cy - ts / 2, x + w->w - r, cy + ts / 2, m->slider_track_corner_r, s->border_normal,
               m->slider_track_border_thickness);
        hx = x + r + t * (length - 2 * r);
        hy = cy;
    }
    ALLEGRO_COLOR handle = (w->state & (T_GUI_WSTATE_PRESSED | T_GUI_WSTATE_HOVER)) ? s->border_hover : s->bg_active;
    al_draw_filled_circle(hx, hy, r, _t_gui_premul(handle));
    al_draw_circle(hx, hy, r, _t_gui_premul((w->state & T_GUI_WSTATE_FOCUS) ? s->border_active : border),
                   m->slider_handle_border_thickness);
    if (d->show_value && d->format[0]) {
        char label[64];
        snprintf(label, sizeof(label), d->format, d->value);
        const ALLEGRO_FONT* f = _font(ctx, w);
        float lh = (float)al_get_font_line_height(f);
        /* Beside the end of a horizontal track, where callers leave room for
         * it, so the label never covers the track or the handle; beside the
         * handle of a vertical one. */
        float lx = d->orientation ? hx + r + m->slider_value_label_offset : x + w->w + m->slider_value_label_offset;
        al_draw_text(f, _t_gui_premul(text), lx, hy - lh / 2, 0, label);
    }
}

static void _draw_textarea(T_GUI_CTX* ctx, T_GUI_WIDGET* w, float x, float y) {
    T_GUI_TEXTAREA_DATA* d = (T_GUI_TEXTAREA_DATA*)w->data;
    const T_GUI_METRICS* m = &ctx->metrics;
    const T_GUI_STYLE* s = _t_gui_widget_style(ctx, w);
    int focused = (w->state & T_GUI_WSTATE_FOCUS) != 0;
    _fill(x, y, x + w->w, y + w->h, 0, (w->state & T_GUI_WSTATE_HOVER) ? s->bg_hover : s->bg_normal);
    _frame(x, y, x + w->w, y + w->h, 0, focused ? s->border_active : s->border_normal, s->border_thickness);
    const ALLEGRO_FONT* f = _font(ctx, w);
    float pad = m->textarea_padding, lh = (float)al_get_font_line_height(f);
    int saved[4];
    _clip_push(ctx, x + 1, y + 1, w->w - 2, w->h - 2, saved);
    /* keep the cursor's line in view */
    int cursor_line = 0;
    for (int i = 0; i < d->cursor && i < d->length; i++)
        if (d->text[i] == '\n') cursor_line++;
    float view_h = w->h - 2 * pad;
    if (d->multiline) {
        if (cursor_line * lh < d->scroll_y) d->scroll_y = cursor_line * lh;
        if ((cursor_line + 1) * lh > d->scroll_y + view_h) d->scroll_y = (cursor_line + 1) * lh - view_h;
        if (d->scroll_y < 0) d->scroll_y = 0;
    }
    float base_y = d->multiline ? y + pad - d->scroll_y : y + (w->h - lh) / 2;
    float scroll_x = 0;
    if (!d->multiline) {
        std::string before(d->text, (size_t)d->cursor);
        float cx = (float)al_get_text_width(f, before.c_str());
        if (cx > w->w - 2 * pad) scroll_x = cx - (w->w - 2 * pad);
    }
    int a = std::min(d->sel_start, d->sel_end), b = std::max(d->sel_start, d->sel_end);
    int line = 0, start = 0;
    ALLEGRO_COLOR tc = _t_gui_premul(s->text_normal);
    while (start <= d->length) {
        int end = _line_end(d->text, d->length, start);
        float ly = base_y + line * lh;
        std::string text(d->text + start, (size_t)(end - start));
        float lx = x + pad - scroll_x;
        if (a != b && b > start && a <= end) {
            int sa = std::max(a, start), sb = std::min(b, end);
            float x1 = lx + al_get_text_width(f, std::string(d->text + start, (size_t)(sa - start)).c_str());
            float x2 = lx + al_get_text_width(f, std::string(d->text + start, (size_t)(sb - start)).c_str());
            if (sb == end && b > end) x2 += 4; /* the selected line end */
            _fill(x1, ly, x2, ly + lh, 0, s->selection_color);
        }
        al_draw_text(f, tc, lx, ly, 0, text.c_str());
        if (focused && d->cursor >= start && d->cursor <= end) {
            double period = m->textarea_cursor_blink_period > 0 ? m->textarea_cursor_blink_period : 1;
            double phase = fmod(al_get_time() - d->blink_start, period);
            if (phase < 0 || phase < period / 2) {
                float cx = lx + al_get_text_width(f, std::string(d->text + start, (size_t)(d->cursor - start)).c_str());
                _fill(cx, ly, cx + m->textarea_cursor_width, ly + lh, 0, s->text_active);
            }
        }
        if (end >= d->length) break;
        start = end + 1;
        line++;
    }
    _clip_pop(saved);
}

static void _draw_checkbox(T_GUI_CTX* ctx, T_GUI_WIDGET* w, float x, float y) {
    T_GUI_CHECKBOX_DATA* d = (T_GUI_CHECKBOX_DATA*)w->data;
    const T_GUI_METRICS* m = &ctx->metrics;
    const T_GUI_STYLE* s = _t_gui_widget_style(ctx, w);
    ALLEGRO_COLOR bg, border, text;
    _state_colours(s, w->state, &bg, &border, &text);
    float side = std::min(w->h, m->checkbox_max_size);
    float bx = x, by = y + (w->h - side) / 2;
    ALLEGRO_BITMAP* bmp = d->checked ? d->bitmap_on : d->bitmap_off;
    if (bmp) {
        al_draw_scaled_bitmap(bmp, 0, 0, (float)al_get_bitmap_width(bmp), (float)al_get_bitmap_height(bmp), bx, by,
                              side, side, 0);
    } else {
        float r = ctx->shape_mode == 1 ? std::min(s->corner_rx, side / 4) : 0;
        _fill(bx, by, bx + side, by + side, r, bg);
        _frame(bx, by, bx + side, by + side, r, (w->state & T_GUI_WSTATE_FOCUS) ? s->border_active : border,
               s->border_thickness);
        if (d->checked) {
            float mm = m->checkbox_mark_margin, t = std::max(m->checkbox_mark_thickness, side / 10);
            ALLEGRO_COLOR mc = _t_gui_premul(s->text_active);
            float x1 = bx + mm, x3 = bx + side - mm, y1 = by + side / 2, y2 = by + side - mm, y3 = by + mm;
            float x2 = bx + side * 0.42f;
            al_draw_line(x1, y1, x2, y2, mc, t);
            al_draw_line(x2, y2, x3, y3, mc, t);
        }
    }
    if (d->label[0]) {
        const ALLEGRO_FONT* f = _font(ctx, w);
        al_draw_text(f, _t_gui_premul(text), bx + side + m->checkbox_label_gap,
                     y + (w->h - al_get_font_line_height(f)) / 2, 0, d->label);
    }
}

static void _draw_listbox(T_GUI_CTX* ctx, T_GUI_WIDGET* w, float x, float y) {
    T_GUI_LISTBOX_DATA* d = (T_GUI_LISTBOX_DATA*)w->data;
    const T_GUI_METRICS* m = &ctx->metrics;
    const T_GUI_STYLE* s = _t_gui_widget_style(ctx, w);
    if (d->background)
        al_draw_scaled_bitmap(d->background, 0, 0, (float)al_get_bitmap_width(d->background),
                              (float)al_get_bitmap_height(d->background), x, y, w->w, w->h, 0);
    else
        _fill(x, y, x + w->w, y + w->h, 0, s->bg_normal);
    float rh = _list_row_h(ctx, w);
    _list_clamp(ctx, w);
    int rows = _list_rows(ctx, w);
    int bar = d->count > rows;
    float row_w = w->w - (bar ? m->scrollbar_size : 0);
    const ALLEGRO_FONT* f = _font(ctx, w);
    float lh = (float)al_get_font_line_height(f), in = m->item_selection_inset;
    int saved[4];
    _clip_push(ctx, x, y, w->w, w->h, saved);
    for (int i = d->first_visible; i < d->count; i++) {
        float ry = y + (i - d->first_visible) * rh;
        if (ry >= y + w->h) break;
        int hovered = (w->state & T_GUI_WSTATE_HOVER) && ctx->mouse_x >= x && ctx->mouse_x < x + row_w &&
                      ctx->mouse_y >= ry && ctx->mouse_y < ry + rh;
        if (d->items[i].selected)
            _fill(x + in, ry + in, x + row_w - in, ry + rh - in, 0, s->bg_active);
        else if (hovered)
            _fill(x + in, ry + in, x + row_w - in, ry + rh - in, 0, s->bg_hover);
        int inner[4];
        _clip_push(ctx, x, ry, row_w, rh, inner);
        al_draw_text(f, _t_gui_premul(d->items[i].selected ? s->text_active : s->text_normal),
                     x + m->item_text_padding, ry + (rh - lh) / 2, 0, d->items[i].text);
        _clip_pop(inner);
    }
    if (bar) {
        float bx = x + w->w - m->scrollbar_size;
        _fill(bx, y, x + w->w, y + w->h, 0, m->scrollbar_track_color);
        float len = std::max(m->scrollbar_thumb_min, w->h * rows / (float)d->count);
        float pos = (w->h - len) * d->first_visible / (float)std::max(1, d->count - rows);
        _fill(bx + m->scrollbar_thumb_padding, y + pos, x + w->w - m->scrollbar_thumb_padding, y + pos + len,
              m->scrollbar_thumb_corner_r, m->scrollbar_thumb_color);
    }
    _clip_pop(saved);
    _frame(x, y, x + w->w, y + w->h, 0, (w->state & T_GUI_WSTATE_FOCUS) ? s->border_active : s->border_normal,
           s->border_thickness);
}

static void _draw_combobox(T_GUI_CTX* ctx, T_GUI_WIDGET* w, float x, float y) {
    T_GUI_COMBOBOX_DATA* d = (T_GUI_COMBOBOX_DATA*)w->data;
    const T_GUI_METRICS* m = &ctx->metrics;
    const T_GUI_STYLE* s = _t_gui_widget_style(ctx, w);
    ALLEGRO_COLOR bg, border, text;
    _state_colours(s, w->state | (d->open ? T_GUI_WSTATE_PRESSED : 0), &bg, &border, &text);
    _fill(x, y, x + w->w, y + w->h, 0, bg);
    _frame(x, y, x + w->w, y + w->h, 0, (w->state & T_GUI_WSTATE_FOCUS) ? s->border_active : border,
           s->border_thickness);
    const ALLEGRO_FONT* f = _font(ctx, w);
    if (d->selected >= 0 && d->selected < d->count) {
        int saved[4];
        _clip_push(ctx, x, y, std::max(0.0f, w->w - m->dropdown_arrow_reserve), w->h, saved);
        al_draw_text(f, _t_gui_premul(text), x + m->item_text_padding, y + (w->h - al_get_font_line_height(f)) / 2,
                     0, d->items[d->selected].text);
        _clip_pop(saved);
    }
    float ax = x + w->w - m->dropdown_arrow_reserve / 2 - 2, ay = y + w->h / 2;
    ALLEGRO_COLOR ac = _t_gui_premul(text);
    al_draw_line(ax - m->dropdown_arrow_half_w, ay - m->dropdown_arrow_half_h, ax, ay + m->dropdown_arrow_half_h, ac,
                 m->dropdown_arrow_thickness);
    al_draw_line(ax, ay + m->dropdown_arrow_half_h, ax + m->dropdown_arrow_half_w, ay - m->dropdown_arrow_half_h, ac,
                 m->dropdown_arrow_thickness);
}

void _t_gui_dropdown_draw(T_GUI_CTX* ctx) {
    float x, y, w, h;
    if (!_t_gui_dropdown_rect(ctx, &x, &y, &w, &h)) return;
    T_GUI_WIDGET* widget = t_gui_get_widget(ctx, ctx->open_combo);
    T_GUI_COMBOBOX_DATA* d = (T_GUI_COMBOBOX_DATA*)widget->data;
    const T_GUI_METRICS* m = &ctx->metrics;
    const T_GUI_STYLE* s = _t_gui_widget_style(ctx, widget);
    const ALLEGRO_FONT* f = _font(ctx, widget);
    float rh = _combo_row_h(ctx, widget);
    float lh = (float)al_get_font_line_height(f), in = m->item_selection_inset;
    _fill(x, y, x + w, y + h, 0, s->bg_normal);
    int rows = std::min(d->count, d->max_visible);
    for (int r = 0; r < rows; r++) {
        int i = d->first_visible + r;
        if (i >= d->count) break;
        float ry = y + r * rh;
        if (i == d->highlighted)
            _fill(x + in, ry + in, x + w - in, ry + rh - in, 0, s->bg_hover);
        else if (i == d->selected)
            _fill(x + in, ry + in, x + w - in, ry + rh - in, 0, s->bg_active);
        int saved[4];
        _clip_push(ctx, x, ry, w, rh, saved);
        al_draw_text(f, _t_gui_premul(i == d->selected ? s->text_active : s->text_normal), x + m->item_text_padding,
                     ry + (rh - lh) / 2, 0, d->items[i].text);
        _clip_pop(saved);
    }
    _frame(x, y, x + w, y + h, 0, s->border_active, m->dropdown_border_thickness);
}

static void _draw_label(T_GUI_CTX* ctx, T_GUI_WIDGET* w, float x, float y) {
    T_GUI_LABEL_DATA* d = (T_GUI_LABEL_DATA*)w->data;
    const T_GUI_STYLE* s = _t_gui_widget_style(ctx, w);
    if (d->bitmap)
        al_draw_scaled_bitmap(d->bitmap, 0, 0, (float)al_get_bitmap_width(d->bitmap),
                              (float)al_get_bitmap_height(d->bitmap), x, y, w->w, w->h, 0);
    if (!d->text[0]) return;
    const ALLEGRO_FONT* f = _font(ctx, w);
    float pad = ctx->metrics.label_padding, lh = (float)al_get_font_line_height(f);
    ALLEGRO_COLOR c = _t_gui_premul(d->link ? ctx->metrics.link_color_normal : s->text_normal);
    int saved[4];
    _clip_push(ctx, x, y, w->w, w->h, saved);
    if (d->alignment == 3) {
        al_draw_multiline_text(f, c, x + pad, y + pad - d->scroll, w->w - 2 * pad, lh, 0, d->text);
    } else {
        /* several lines are stacked, each aligned on its own */
        int lines = 1;
        for (const char* p = d->text; *p; p++) lines += *p == '\n';
        float ty = y + (w->h - lines * lh) / 2;
        const char* start = d->text;
        while (1) {
            const char* end = strchr(start, '\n');
            std::string line(start, end ? (size_t)(end - start) : strlen(start));
            if (d->alignment == 1)
                al_draw_text(f, c, x + w->w / 2, ty, ALLEGRO_ALIGN_CENTRE, line.c_str());
            else if (d->alignment == 2)
                al_draw_text(f, c, x + w->w - pad, ty, ALLEGRO_ALIGN_RIGHT, line.c_str());
            else
                al_draw_text(f, c, x + pad, ty, 0, line.c_str());
            if (!end) break;
            start = end + 1;
            ty += lh;
        }
    }
    _clip_pop(saved);
}

void _t_gui_widget_draw(T_GUI_CTX* ctx, T_GUI_WIDGET* w, float x, float y) {
    switch (w->kind) {
        case T_GUI_KIND_BUTTON: _draw_button(ctx, w, x, y); break;
        case T_GUI_KIND_SLIDER: _draw_slider(ctx, w, x, y); break;
        case T_GUI_KIND_TEXTAREA: _draw_textarea(ctx, w, x, y); break;
        case T_GUI_KIND_CHECKBOX: _draw_checkbox(ctx, w, x, y); break;
        case T_GUI_KIND_LISTBOX: _draw_listbox(ctx, w, x, y); break;
        case T_GUI_KIND_COMBOBOX: _draw_combobox(ctx, w, x, y); break;
        case T_GUI_KIND_LABEL: _draw_label(ctx, w, x, y); break;
        default: break;
    }
}
