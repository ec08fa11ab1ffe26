/* t_gui_sectionlist: collapsible groups of widgets stacked in one window,
 * each under a header button that folds and unfolds it. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>

#include "t_gui_internal.h"
#include "t_log.h"

/* Writes a header label: "+" folded or "-" unfolded, then the title. */
static void _header_label(T_GUI_SECTIONLIST* list, int index) {
    T_GUI_SECTION* s = &list->sections[index];
    char label[T_GUI_LABEL_SIZE];
    snprintf(label, sizeof(label), "%s %s", s->collapsed ? "+" : "-", s->title);
    t_gui_button_set_label(list->ctx, s->header_id, label);
}

/* Header button callback: the user pointer is the list; the section is found by its header. */
static void _on_header(int32_t id, void* user) {
    T_GUI_SECTIONLIST* list = (T_GUI_SECTIONLIST*)user;
    __t_assert_void(list);
    for (int i = 0; i < list->count; i++) {
        if (list->sections[i].header_id != id) continue;
        list->sections[i].collapsed = !list->sections[i].collapsed;
        t_gui_sectionlist_relayout(list);
        if (list->callback) list->callback(i, list->sections[i].collapsed, list->user);
        return;
    }
}

T_GUI_SECTIONLIST* t_gui_sectionlist_create(T_GUI_CTX* ctx, int32_t win, float x, float y, float width,
                                            float row_h, float gap, T_GUI_SECTION_CB callback, void* user) {
    __t_assert_null(ctx);
    __t_assert_null(t_gui_get_window(ctx, win));
    T_GUI_SECTIONLIST* list = NULL;
    Malloc(list, T_GUI_SECTIONLIST, 1, return NULL);
    list->ctx = ctx;
    list->window_id = win;
    list->x = x;
    list->y = y;
    list->width = width;
    list->row_h = row_h;
    list->gap = gap;
    list->callback = callback;
    list->user = user;
    return list;
}

int t_gui_sectionlist_add_section(T_GUI_SECTIONLIST* list, const char* title, float y, int collapsed) {
    __t_assert_return(list, -1);
    __t_assert_return(title, -1);
    if (list->count >= T_GUI_SECTION_MAX) {
        t_log(LOG_ERR, "t_gui_sectionlist_add_section: %d sections already", T_GUI_SECTION_MAX);
        return -1;
    }
    int index = list->count;
    T_GUI_SECTION* s = &list->sections[index];
    memset(s, 0, sizeof(*s));
    /* cut where a character starts, never inside one */
    size_t n = strlen(title);
    if (n >= sizeof(s->title)) {
        n = sizeof(s->title) - 1;
        while (n > 0 && ((unsigned char)title[n] & 0xC0) == 0x80) n--;
    }
    memcpy(s->title, title, n);
    s->title[n] = 0;
    s->collapsed = collapsed ? 1 : 0;
    char label[T_GUI_LABEL_SIZE];
    snprintf(label, sizeof(label), "%s %s", s->collapsed ? "+" : "-", s->title);
    s->header_id =
        t_gui_add_button(list->ctx, list->window_id, label, list->x, y, list->width, list->row_h, 1, _on_header, list);
    if (s->header_id < 0) return -1;
    list->order[index] = index;
    list->hidden[index] = 0;
    list->count++;
    return index;
}

int t_gui_sectionlist_add_widget(T_GUI_SECTIONLIST* list, int section, int32_t widget_id) {
    __t_assert_return(list, -1);
    if (section < 0 || section >= list->count) return -1;
    T_GUI_WIDGET* w = t_gui_get_widget(list->ctx, widget_id);
    if (!w) return -1;
    T_GUI_SECTION* s = &list->sections[section];
    if (s->widget_count >= T_GUI_SECTION_WIDGETS_MAX) {
        t_log(LOG_ERR, "t_gui_sectionlist_add_widget: section \"%s\" already holds %d widgets", s->title,
              T_GUI_SECTION_WIDGETS_MAX);
        return -1;
    }
    T_GUI_WIDGET* header = t_gui_get_widget(list->ctx, s->header_id);
    float header_y = header ? header->y : list->y;
    float offset = w->y - (header_y + list->row_h + list->gap);
    s->widget_ids[s->widget_count] = widget_id;
    s->offsets[s->widget_count] = offset;
    s->hidden_widgets[s->widget_count] = 0;
    s->widget_count++;
    s->content_h = std::max(s->content_h, offset + w->h);
    return 0;
}

void t_gui_sectionlist_set_header_indent(T_GUI_SECTIONLIST* list, float indent) {
    __t_assert_void(list);
    list->header_indent = indent < 0 ? 0 : indent;
}

void t_gui_sectionlist_set_section_hidden(T_GUI_SECTIONLIST* list, int section, int hidden) {
    __t_assert_void(list);
    if (section < 0 || section >= list->count) return;
    list->hidden[section] = hidden ? 1 : 0;
}

void t_gui_sectionlist_set_widget_hidden(T_GUI_SECTIONLIST* list, int section, int32_t widget_id, int hidden) {
    __t_assert_void(list);
    if (section < 0 || section >= list->count) return;
    T_GUI_SECTION* s = &list->sections[section];
    for (int i = 0; i < s->widget_count; i++)
        if (s->widget_ids[i] == widget_id) s->hidden_widgets[i] = hidden ? 1 : 0;
}

void t_gui_sectionlist_relayout(T_GUI_SECTIONLIST* list) {
    __t_assert_void(list);
    T_GUI_CTX* ctx = list->ctx;
    float y = list->y;
    int first = 1;
    for (int k = 0; k < list->count; k++) {
        int index = list->order[k];
        T_GUI_SECTION* s = &list->sections[index];
        if (list->hidden[index]) {
            t_gui_widget_set_visible(ctx, s->header_id, 0);
            for (int i = 0; i < s->widget_count; i++) t_gui_widget_set_visible(ctx, s->widget_ids[i], 0);
            continue;
        }
        float indent = first ? list->header_indent : 0;
        first = 0;
        T_GUI_WIDGET* header = t_gui_get_widget(ctx, s->header_id);
        if (header) {
            header->visible = 1;
            t_gui_widget_set_rect(ctx, s->header_id, list->x + indent, y, list->width - indent, header->h);
        }
        _header_label(list, index);
        y += list->row_h + list->gap;
        s->content_h = 0;
        for (int i = 0; i < s->widget_count; i++) {
            if (s->hidden_widgets[i]) continue;
            T_GUI_WIDGET* w = t_gui_get_widget(ctx, s->widget_ids[i]);
            if (w) s->content_h = std::max(s->content_h, s->offsets[i] + w->h);
        }
        for (int i = 0; i < s->widget_count; i++) {
            T_GUI_WIDGET* w = t_gui_get_widget(ctx, s->widget_ids[i]);
            if (!w) continue;
            if (s->collapsed || s->hidden_widgets[i]) {
                t_gui_widget_set_visible(ctx, w->id, 0);
                continue;
            }
            w->visible = 1;
            t_gui_widget_set_rect(ctx, w->id, w->x, y + s->offsets[i], w->w, w->h);
        }
        if (!s->collapsed) y += s->content_h + list->gap;
    }
    ctx->needs_redraw = 1;
}

float t_gui_sectionlist_content_bottom(T_GUI_SECTIONLIST* list) {
    __t_assert(list);
    float y = list->y;
    for (int k = 0; k < list->count; k++) {
        int index = list->order[k];
        if (list->hidden[index]) continue;
        y += list->row_h + list->gap;
        if (!list->sections[index].collapsed) y += list->sections[index].content_h + list->gap;
    }
    return y;
}

void t_gui_sectionlist_destroy(T_GUI_SECTIONLIST** list) {
    __t_assert_void(list);
    if (!*list) {
        t_log(LOG_DEBUG, "Free( %s ) already done or NULL at line %d of %s", "*list", __LINE__, __FILE__);
        return;
    }
    /* The header buttons stay in the window: they must not call back into
     * the freed record. */
    T_GUI_SECTIONLIST* l = *list;
    for (int i = 0; i < l->count; i++) {
        T_GUI_WIDGET* header = _t_gui_widget_of(l->ctx, l->sections[i].header_id, T_GUI_KIND_BUTTON);
        if (!header) continue;
        T_GUI_BUTTON_DATA* d = (T_GUI_BUTTON_DATA*)header->data;
        if (d->callback == _on_header && d->user == l) {
            d->callback = NULL;
            d->user = NULL;
        }
    }
    free(l);
    *list = NULL;
}
