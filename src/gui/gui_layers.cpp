/* gui_layers: the layer panel at the right edge: the layer list and the
 * active layer's controls, the page template and the grid, their callbacks,
 * and the sync that refills them from the document. */
#include <stdio.h>
#include <string.h>

#include <algorithm>

#include "app_commands.h"
#include "app_tools.h"
#include "canvas/templates.h"
#include "canvas/undo.h"
#include "gui/gui_private.h"
#include "t_log.h"

enum { SEC_LAYERS, SEC_TEMPLATE, SEC_CANVAS };

static const char* const _section_titles[GUI_PANEL_SECTIONS] = {"Layers", "Template", "Canvas"};

// The application record a callback was given.
#define _APP(user)                           \
    PLUMARO_APP* app = (PLUMARO_APP*)(user); \
    __t_assert_void(app)

// Cuts a text at its last whole UTF-8 character within `size` bytes.
static void _cut_at_character(char* text, size_t size) {
    size_t len = strlen(text);
    if (len + 1 < size) return;
    size_t end = len;
    size_t lead = end;
    while (lead > 0 && ((unsigned char)text[lead - 1] & 0xC0) == 0x80) lead--;
    if (lead == 0) return;
    unsigned char c = (unsigned char)text[lead - 1];
    size_t need = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    if (end - (lead - 1) < need) text[lead - 1] = 0;
}

// Index of the active layer, or -1.
static int _active_index(const PLUMARO_APP* app) {
    int index = -1;
    if (!app->doc || !app->doc->active_layer || !document_layer_index(app->doc, app->doc->active_layer, &index))
        return -1;
    return index;
}

/* ------------------------------------------------------------------------ */
/* Callbacks                                                                 */
/* ------------------------------------------------------------------------ */

static void _on_panel_collapse(int32_t, void* user) {
    _APP(user);
    app->layer_panel_collapsed = 1;
    _gui_request_rebuild(app);
}

static void _on_panel_expand(int32_t, void* user) {
    _APP(user);
    app->layer_panel_collapsed = 0;
    _gui_request_rebuild(app);
}

static void _on_panel_section_toggle(int section, int collapsed, void* user) {
    _APP(user);
    if (section >= 0 && section < GUI_PANEL_SECTIONS) {
        if (collapsed)
            app->section_flags |= GUI_PANEL_SECTION_BIT(section);
        else
            app->section_flags &= ~GUI_PANEL_SECTION_BIT(section);
    }
    _gui_changed(app);
}

static void _on_layer_select(int32_t, int row, int selected, void* user) {
    _APP(user);
    if (app->ui.panel.syncing || !selected || !app->doc) return;
    int count = document_layer_count(app->doc);
    if (count < 1) return;
    _gui_commit_pending(app);
    if (row < 0) row = 0;
    if (row > count - 1) row = count - 1;
    app->doc->active_layer = document_layer_at(app->doc, count - 1 - row);
    plumaro_gui_sync_layers(app);
    app->dirty = 1;
}

static void _on_layer_add(int32_t, void* user) {
    _APP(user);
    if (!app->doc) return;
    _gui_commit_pending(app);
    uint64_t needed, budget;
    int layers = document_layer_count(app->doc) + 1;
    if (!document_memory_fits(app->doc->width, app->doc->height, layers, &needed, &budget)) {
        plumaro_app_memory_notice(app, app->doc->width, app->doc->height, layers, needed, budget);
        return;
    }
    LAYER* layer = document_add_layer(app->doc, NULL);
    if (layer) {
        undo_record_layer_add(app->doc, layer, (size_t)(document_layer_count(app->doc) - 1));
        plumaro_gui_sync_layers(app);
    }
    app->dirty = 1;
}

static void _on_layer_delete(int32_t, void* user) {
    _APP(user);
    if (!app->doc) return;
    _gui_commit_pending(app);
    int index = _active_index(app);
    if (document_layer_count(app->doc) < 2 || index < 0) return;
    LAYER* layer = document_detach_layer(app->doc, index);
    if (!layer) return;
    if (!undo_record_layer_remove(app->doc, layer, (size_t)index)) {
        /* Without its record the deletion could not be undone: put the layer back. */
        if (!document_insert_layer(app->doc, layer, index)) layer_free(&layer);
        else app->doc->active_layer = layer;
    }
    plumaro_gui_sync_layers(app);
    app->dirty = 1;
}

// Moves the active layer one step toward the top (+1) or the bottom (-1).
static void _layer_move(PLUMARO_APP* app, int step) {
    if (!app->doc) return;
    int from = _active_index(app), to = from + step;
    if (from < 0 || to < 0 || to >= document_layer_count(app->doc)) return;
    if (document_move_layer(app->doc, from, to) != 1) return;
    undo_record_layer_move(app->doc, (size_t)from, (size_t)to);
    plumaro_gui_sync_layers(app);
    app->dirty = 1;
}

static void _on_layer_up(int32_t, void* user) {
    _APP(user);
    _layer_move(app, 1);
}

static void _on_layer_down(int32_t, void* user) {
    _APP(user);
    _layer_move(app, -1);
}

static void _on_layer_visible(int32_t, int checked, void* user) {
    _APP(user);
    if (app->ui.panel.syncing || !app->doc || !app->doc->active_layer) return;
    app->doc->active_layer->visible = checked ? 1 : 0;
    plumaro_gui_sync_layers(app);
    app->dirty = 1;
}

static void _on_layer_lock(int32_t, int checked, void* user) {
    _APP(user);
    if (app->ui.panel.syncing || !app->doc || !app->doc->active_layer) return;
    app->doc->active_layer->locked = checked ? 1 : 0;
    plumaro_gui_sync_layers(app);
    app->dirty = 1;
}

// "Blend: Multiply" and the like, translated.
static void _blend_text(int blend, char* out, size_t size) {
    snprintf(out, size, i18n_tr("Blend: %s"), i18n_tr(layer_blend_name(blend)));
}

static void _gui_blend_label(PLUMARO_APP* app, int blend) {
    char text[96];
    _blend_text(blend, text, sizeof(text));
    t_gui_button_set_label(app->gui, app->ui.panel.blend, text);
}

static void _on_layer_blend(int32_t, void* user) {
    _APP(user);
    if (app->ui.panel.syncing || !app->doc || !app->doc->active_layer) return;
    LAYER* layer = app->doc->active_layer;
    layer->blend = layer_blend_next(layer->blend);
    _gui_blend_label(app, layer->blend);
    _gui_changed(app);
}

static void _on_layer_opacity(int32_t, double value, void* user) {
    _APP(user);
    if (app->ui.panel.syncing || !app->doc || !app->doc->active_layer) return;
    app->doc->active_layer->opacity = (float)(value / 100.0);
    _gui_changed(app);
}

static void _on_template_select(int32_t, int index, void* user) {
    _APP(user);
    if (!app->doc) return;
    app->doc->template_index = (index >= 0 && index < TEMPLATE_COUNT) ? index : 0;
    _gui_changed(app);
}

static void _on_grid_toggle(int32_t, void* user) {
    _APP(user);
    app->grid.visible = !app->grid.visible;
    plumaro_gui_sync(app);
    app->dirty = 1;
}

static void _on_snap_toggle(int32_t, void* user) {
    _APP(user);
    app->grid.snap = !app->grid.snap;
    plumaro_gui_sync(app);
    app->dirty = 1;
}

static void _on_diag_toggle(int32_t, void* user) {
    _APP(user);
    app->grid.diagonals = !app->grid.diagonals;
    plumaro_gui_sync(app);
    app->dirty = 1;
}

static void _on_grid_size_change(int32_t, double value, void* user) {
    _APP(user);
    app->grid.spacing = (float)value;
    _gui_changed(app);
}

/* ------------------------------------------------------------------------ */
/* Building                                                                  */
/* ------------------------------------------------------------------------ */

float _gui_panel_width(const GUI_METRICS* m, float stored, float display_w) {
    float u = stored > m->panel_min_width ? stored : m->panel_min_width;
    float limit = 0.4f * display_w;
    return u < limit ? u : limit;
}

// The side tab of a collapsed panel.
static int _build_panel_tab(PLUMARO_APP* app) {
    const GUI_METRICS* m = &app->ui.metrics;
    float x = (float)app->display_w - m->tab_width - m->margin;
    app->ui.panel.window = _gui_build_side_tab(app, "layers", x, "<", _on_panel_expand);
    return app->ui.panel.window >= 0;
}

// Opens a section at y; its first row starts one row below the header.
static int _section(PLUMARO_APP* app, int index, float* y) {
    GUI_LAYER_PANEL* p = &app->ui.panel;
    int collapsed = (app->section_flags & GUI_PANEL_SECTION_BIT(index)) != 0;
    int section = t_gui_sectionlist_add_section(p->sections, i18n_tr(_section_titles[index]), *y, collapsed);
    *y += app->ui.metrics.row_h + app->ui.metrics.gap;
    return section;
}

// A button in a section of the panel.
static int32_t _button(PLUMARO_APP* app, int section, int toggle, const char* label, float x, float y, float w,
                       T_GUI_BUTTON_CB callback) {
    GUI_LAYER_PANEL* p = &app->ui.panel;
    float r = app->ui.metrics.row_h;
    const char* text = label ? i18n_tr(label) : "";
    int32_t id = toggle ? t_gui_add_toggle_button(app->gui, p->window, text, x, y, w, r, 1, 0, callback, app)
                        : t_gui_add_button(app->gui, p->window, text, x, y, w, r, 1, callback, app);
    _gui_section_add(p->sections, section, id);
    return id;
}

float _gui_panel_label_width(PLUMARO_APP* app) {
    __t_assert_return(app, 0.0f);
    if (!app->font || !app->gui) return 0.0f;
    const T_GUI_METRICS* t = &app->gui->metrics;
    float g = app->ui.metrics.gap, r = app->ui.metrics.row_h;
    auto text = [&](const char* s) { return (float)al_get_text_width(app->font, s); };
    /* Clear takes 0.42 of the row, Rename the rest; Show and Lock a half each. */
    float need = _gui_text_room(app, i18n_tr("Clear")) / 0.42f + g;
    need = std::max(need, _gui_text_room(app, i18n_tr("Rename")) / 0.58f + g);
    float box = std::min(r, t->checkbox_max_size) + t->checkbox_label_gap + 4.0f;
    need = std::max(need, 2.0f * (box + std::max(text(i18n_tr("Show")), text(i18n_tr("Lock")))) + g);
    for (int i = 0; i < layer_blend_count(); i++) {
        char label[96];
        _blend_text(layer_blend_at(i)->code, label, sizeof(label));
        need = std::max(need, _gui_text_room(app, label));
    }
    return need;
}

int _build_layer_panel(PLUMARO_APP* app) {
    __t_assert(app);
    __t_assert(app->gui);
    if (app->layer_panel_collapsed) return _build_panel_tab(app);
    const GUI_METRICS* m = &app->ui.metrics;
    GUI_LAYER_PANEL* p = &app->ui.panel;
    float r = m->row_h, g = m->gap, l = 0.6f * r;
    float u = _gui_panel_width(m, app->layer_panel_width, (float)app->display_w);
    app->layer_panel_width = u;
    /* Longer translated labels widen the panel for as long as they are
     * shown; the width the user chose stays what is kept. */
    float labels = _gui_panel_label_width(app) + 20.0f + m->scrollbar;
    if (u < labels) u = std::min(labels, std::max(u, 0.4f * (float)app->display_w));
    float h = (float)app->display_h - 2.0f * m->margin;
    int32_t win = t_gui_add_window(app->gui, "layers", (float)app->display_w - u - m->margin, m->margin, u, h);
    if (win < 0) {
        t_log(LOG_ERR, "could not create layer panel window");
        return 0;
    }
    p->window = win;
    t_gui_window_set_flags(app->gui, win, GUI_WIN_FIXED_SCROLL);
    t_gui_window_set_zorder(app->gui, win, T_GUI_ZORDER_ALWAYS_ON_TOP, 0);
    p->collapse = t_gui_add_button(app->gui, win, ">", 10.0f, 10.0f, r, r, 1, _on_panel_collapse, app);
    float w = u - 20.0f - m->scrollbar; /* inner width */
    p->sections = t_gui_sectionlist_create(app->gui, win, 10.0f, 10.0f, w, r, g, _on_panel_section_toggle, app);
    if (!p->sections) {
        t_log(LOG_ERR, "could not create layer panel window");
        return 0;
    }
    float c4 = (w - 3.0f * g) / 4.0f, half = (w - g) / 2.0f, y = 10.0f;
    float x4[4];
    for (int k = 0; k < 4; k++) x4[k] = 10.0f + (float)k * (c4 + g);

    int sec = _section(app, SEC_LAYERS, &y);
    float list_h = h - 20.0f - 9.0f * (r + g) - 2.0f * l - 2.0f * r - 2.0f * g;
    if (list_h < 2.0f * r) list_h = 2.0f * r;
    p->list = t_gui_add_listbox(app->gui, win, 10.0f, y, w, list_h, 1, _on_layer_select, app);
    _gui_section_add(p->sections, sec, p->list);
    y += list_h + g;
    p->add = _button(app, sec, 0, "+", x4[0], y, c4, _on_layer_add);
    p->remove = _button(app, sec, 0, "-", x4[1], y, c4, _on_layer_delete);
    p->up = _button(app, sec, 0, NULL, x4[2], y, c4, _on_layer_up);
    _gui_register_icon(app, p->up, ICON_LAYER_UP, "Move the active layer toward the top / bottom");
    p->down = _button(app, sec, 0, NULL, x4[3], y, c4, _on_layer_down);
    _gui_register_icon(app, p->down, ICON_LAYER_DOWN, "Move the active layer toward the top / bottom");
    y += r + g;
    float c = 0.42f * (w - g);
    p->clear = _button(app, sec, 0, "Clear", 10.0f, y, c, _on_clear_click);
    p->rename = _button(app, sec, 0, "Rename", 10.0f + c + g, y, w - c - g, _on_layer_rename);
    y += r + g;
    p->show = t_gui_add_checkbox(app->gui, win, i18n_tr("Show"), 10.0f, y, half, r, 1, _on_layer_visible, app);
    _gui_section_add(p->sections, sec, p->show);
    p->lock = t_gui_add_checkbox(app->gui, win, i18n_tr("Lock"), 10.0f + half + g, y, half, r, 0, _on_layer_lock, app);
    _gui_section_add(p->sections, sec, p->lock);
    y += r + g;
    p->blend = _button(app, sec, 0, "Blend: Normal", 10.0f, y, w, _on_layer_blend);
    y += r + g;
    p->opacity =
        _gui_labelled_slider(app, win, p->sections, sec, "Opacity", w, &y, 0, 100, 100, "%.0f %%", _on_layer_opacity);

    sec = _section(app, SEC_TEMPLATE, &y);
    p->template_combo = t_gui_add_combobox(app->gui, win, 10.0f, y, w, r, _on_template_select, app);
    for (int i = 0; i < TEMPLATE_COUNT; i++) t_gui_combobox_add_item(app->gui, p->template_combo, i18n_tr(template_name(i)));
    t_gui_combobox_set_selected(app->gui, p->template_combo, app->doc ? app->doc->template_index : 0);
    _gui_section_add(p->sections, sec, p->template_combo);
    y += r + g;

    sec = _section(app, SEC_CANVAS, &y);
    p->grid = _button(app, sec, 1, NULL, x4[0], y, c4, _on_grid_toggle);
    _gui_register_icon(app, p->grid, ICON_GRID, "Toggle the grid overlay");
    p->snap = _button(app, sec, 1, NULL, x4[1], y, c4, _on_snap_toggle);
    _gui_register_icon(app, p->snap, ICON_SNAP, "Snap strokes and segments to the grid");
    p->diagonals = _button(app, sec, 1, NULL, x4[2], y, c4, _on_diag_toggle);
    _gui_register_icon(app, p->diagonals, ICON_DIAGONALS, "Add diagonal grid lines and snap points");
    y += r + g;
    p->grid_size = _gui_labelled_slider(app, win, p->sections, sec, "Grid size", w, &y, 2, 256, app->grid.spacing,
                                        "%.0f px", _on_grid_size_change);

    t_gui_sectionlist_set_header_indent(p->sections, r + g);
    t_gui_sectionlist_relayout(p->sections);
    t_gui_open_window(app->gui, win);
    return 1;
}

/* ------------------------------------------------------------------------ */
/* Sync                                                                      */
/* ------------------------------------------------------------------------ */

void _gui_sync_grid(PLUMARO_APP* app) {
    __t_assert_void(app);
    GUI_LAYER_PANEL* p = &app->ui.panel;
    if (!app->gui || p->grid < 0) return;
    t_gui_button_set_toggled(app->gui, p->grid, app->grid.visible);
    t_gui_button_set_toggled(app->gui, p->snap, app->grid.snap);
    t_gui_button_set_toggled(app->gui, p->diagonals, app->grid.diagonals);
    t_gui_slider_set_value(app->gui, p->grid_size, app->grid.spacing);
}

void plumaro_gui_sync_layers(PLUMARO_APP* app) {
    __t_assert_void(app);
    app->gui_cache_valid = 0;
    GUI_LAYER_PANEL* p = &app->ui.panel;
    if (!app->gui || !app->doc || app->layer_panel_collapsed || p->list < 0) return;
    p->syncing = 1;
    t_gui_listbox_clear(app->gui, p->list);
    int count = document_layer_count(app->doc);
    for (int i = count - 1; i >= 0; i--) {
        const LAYER* layer = document_layer_at(app->doc, i);
        char item[128];
        snprintf(item, sizeof(item), "%s%s%s", layer->visible ? "\xe2\x97\x8f " : "\xe2\x97\x8b ",
                 layer_name_text(layer), layer->locked ? i18n_tr(" [L]") : "");
        _cut_at_character(item, sizeof(item));
        t_gui_listbox_add_item(app->gui, p->list, item);
    }
    LAYER* active = app->doc->active_layer;
    int index = _active_index(app);
    if (index >= 0) t_gui_listbox_set_selected(app->gui, p->list, count - 1 - index, 1);
    if (active) {
        t_gui_checkbox_set_checked(app->gui, p->show, active->visible);
        t_gui_checkbox_set_checked(app->gui, p->lock, active->locked);
        _gui_blend_label(app, active->blend);
        t_gui_slider_set_value(app->gui, p->opacity, 100.0 * active->opacity);
    }
    t_gui_combobox_set_selected(app->gui, p->template_combo, app->doc->template_index);
    p->syncing = 0;
}
