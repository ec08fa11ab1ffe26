/* gui: the interface's life cycle (build, rebuild, shutdown), the icon
 * registry, the cached drawing, event routing, hiding, and the stored
 * window layout. The toolbar and the layer panel have files of their own. */
#include <allegro5/allegro_primitives.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "app_tools.h"
#include "gui/gui_private.h"
#include "platform/platform.h"
#include "t_log.h"

/* ------------------------------------------------------------------------ */
/* Shared helpers                                                            */
/* ------------------------------------------------------------------------ */

GUI_METRICS _gui_metrics(float scale) {
    float s = scale < 0.5f ? 0.5f : scale;
    GUI_METRICS m;
    m.margin = 8.0f * s;
    m.toolbar_width = 180.0f * s;
    m.row_h = 28.0f * s;
    m.gap = 6.0f * s;
    m.panel_width = 200.0f * s;
    m.panel_min_width = 180.0f * s;
    m.tab_width = 26.0f * s;
    m.popup_width = 540.0f * s;
    m.popup_button_width = 110.0f * s;
    m.big_button_h = 40.0f * s;
    m.scrollbar = 16.0f * s;
    m.value_reserve = 60.0f * s;
    m.tip_preview = (int)(28.0f * s + 0.5f);
    m.scale = s;
    return m;
}

float _gui_text_room(PLUMARO_APP* app, const char* text) {
    if (!app || !app->font || !app->gui || !text) return 0.0f;
    return (float)al_get_text_width(app->font, text) + 2.0f * app->gui->metrics.label_padding + 4.0f;
}

void _gui_changed(PLUMARO_APP* app) {
    if (!app) return;
    app->gui_cache_valid = 0;
    app->dirty = 1;
}

void _gui_request_rebuild(PLUMARO_APP* app) {
    __t_assert_void(app);
    app->gui_rebuild_pending = 1;
    _gui_changed(app);
}

void _gui_register_icon(PLUMARO_APP* app, int32_t widget, int icon, const char* tooltip) {
    __t_assert_void(app);
    GUI_STATE* ui = &app->ui;
    if (widget < 0) return;
    T_GUI_WIDGET* w = t_gui_get_widget(app->gui, widget);
    if (!w) return;
    if (tooltip) t_gui_widget_set_tooltip(app->gui, widget, i18n_tr(tooltip));
    if (ui->icon_count >= ui->icon_capacity) {
        int capacity = ui->icon_capacity ? 2 * ui->icon_capacity : 48;
        GUI_ICON_BUTTON* grown = (GUI_ICON_BUTTON*)realloc(ui->icons, (size_t)capacity * sizeof(*grown));
        if (!grown) {
            /* The button still works and tells what it does; it shows no picture. */
            t_log(LOG_ERR, "no memory for the icon of button %d (%d registered)", widget, ui->icon_count);
            return;
        }
        ui->icons = grown;
        ui->icon_capacity = capacity;
    }
    GUI_ICON_BUTTON* entry = &ui->icons[ui->icon_count++];
    memset(entry, 0, sizeof(*entry));
    entry->widget = widget;
    entry->icon = icon;
    entry->w = (int)(w->w + 0.5f);
    entry->h = (int)(w->h + 0.5f);
    ui->icons_ready = 0;
}

T_GUI_STYLE _gui_swatch_style(ALLEGRO_COLOR c) {
    ALLEGRO_COLOR border = al_map_rgb(120, 120, 120);
    float luma = 0.299f * c.r + 0.587f * c.g + 0.114f * c.b;
    ALLEGRO_COLOR text = luma < 0.5f ? al_map_rgb(255, 255, 255) : al_map_rgb(0, 0, 0);
    T_GUI_STYLE style = t_gui_make_style(c, c, c, border, border, border, text, text, text, 1.0f, 4.0f, 4.0f);
    style.selection_color = al_map_rgba(50, 100, 200, 120);
    return style;
}

void _gui_section_add(T_GUI_SECTIONLIST* list, int section, int32_t widget) {
    if (list && section >= 0 && widget >= 0) t_gui_sectionlist_add_widget(list, section, widget);
}

int32_t _gui_labelled_slider(PLUMARO_APP* app, int32_t win, T_GUI_SECTIONLIST* list, int section, const char* label,
                             float width, float* y, APP_RANGE range, double value, const char* format,
                             T_GUI_SLIDER_CB callback) {
    __t_assert(app);
    __t_assert(y);
    const GUI_METRICS* m = &app->ui.metrics;
    float lh = 0.6f * m->row_h;
    int32_t caption = t_gui_add_label(app->gui, win, i18n_tr(label), 10.0f, *y, width, lh, 0);
    int32_t slider =
        t_gui_add_slider(app->gui, win, 10.0f, *y + lh, width - m->value_reserve, m->row_h, range.min, range.max, value,
                         0, callback, app);
    t_gui_slider_set_step(app->gui, slider, 1.0);
    t_gui_slider_set_format(app->gui, slider, format);
    _gui_section_add(list, section, caption);
    _gui_section_add(list, section, slider);
    *y += lh + m->row_h + m->gap;
    return slider;
}

int32_t _gui_build_side_tab(PLUMARO_APP* app, const char* name, float x, const char* glyph, T_GUI_BUTTON_CB expand) {
    __t_assert_return(app, -1);
    const GUI_METRICS* m = &app->ui.metrics;
    float s = m->scale, h = (float)app->display_h - 2.0f * m->margin;
    int32_t win = t_gui_add_window(app->gui, name, x, m->margin, m->tab_width, h);
    if (win < 0) {
        t_log(LOG_ERR, "could not create the %s tab window", name);
        return -1;
    }
    t_gui_window_set_flags(app->gui, win, GUI_WIN_FIXED);
    t_gui_window_set_zorder(app->gui, win, T_GUI_ZORDER_ALWAYS_ON_TOP, 0);
    t_gui_add_button(app->gui, win, glyph, 3.0f * s, h / 2.0f - 30.0f * s, m->tab_width - 6.0f * s, 60.0f * s, 1,
                     expand, app);
    t_gui_open_window(app->gui, win);
    return win;
}

void _gui_commit_pending(PLUMARO_APP* app) {
    __t_assert_void(app);
    plumaro_app_settle(app);
}

/* ------------------------------------------------------------------------ */
/* Life cycle                                                                */
/* ------------------------------------------------------------------------ */

// Every widget and window id of the interface set to -1 (none yet).
static void _gui_forget_ids(GUI_STATE* ui) {
    memset(&ui->toolbar, 0xff, sizeof(ui->toolbar));
    ui->toolbar.sections = NULL;
    int syncing = ui->panel.syncing;
    memset(&ui->panel, 0xff, sizeof(ui->panel));
    ui->panel.sections = NULL;
    ui->panel.syncing = syncing;
    _gui_forget_popup_ids(ui);
}

// The defaults of the first build of a run: what a fresh start shows.
static void _gui_first_build_defaults(PLUMARO_APP* app) {
    if (!app->settings_applied) {
        app->export_area = 1;
        app->export_border = 32;
        app->export_template = 1;
        app->text_font = 0;
        app->text_size = 48;
    }
    app->ui.selected_swatch = _gui_swatch_of_brush(app);
    app->ui.edited_swatch = -1;
    snprintf(app->ui.doc_name, sizeof(app->ui.doc_name), "sketch");
    app->ui.picker.rgba[3] = 255;
}

int plumaro_gui_init(PLUMARO_APP* app) {
    __t_assert(app);
    __t_assert(app->font);
    __t_assert(app->display);
    GUI_STATE* ui = &app->ui;
    ui->icon_count = 0;
    ui->icons_ready = 0;
    ui->metrics = _gui_metrics(app->ui_scale);
    _gui_forget_ids(ui);
    T_GUI_CTX* ctx = t_gui_new_ctx(app->font);
    app->gui = ctx;
    __t_assert(app->gui);
    t_gui_set_display(ctx, app->display);
    t_gui_set_display_size(ctx, (float)app->display_w, (float)app->display_h);
    ctx->metrics.scrollbar_size = ui->metrics.scrollbar;
    ctx->metrics.global_scrollbar_size = ui->metrics.scrollbar;
    if (!_build_toolbar(app)) return 0;
    if (!(app->layer_panel_width > 0.0f)) app->layer_panel_width = ui->metrics.panel_width;
    if (!ui->built_once) {
        _gui_first_build_defaults(app);
        ui->built_once = 1;
    }
    if (!_build_layer_panel(app)) return 0;
    if (!_build_popups(app)) return 0;
    T_GUI_WINDOW* toolbar = t_gui_get_window(ctx, ui->toolbar.window);
    T_GUI_WINDOW* panel = t_gui_get_window(ctx, ui->panel.window);
    if (toolbar) toolbar->scroll_y = ui->toolbar_scroll; /* held in range when drawn */
    if (panel) panel->scroll_y = ui->panel_scroll;
    plumaro_gui_sync(app);
    plumaro_gui_sync_layers(app);
    app->gui_cache_valid = 0;
    t_log(LOG_INFO, "gui ready, toolbar window %d, layer panel %d", ui->toolbar.window, ui->panel.window);
    return 1;
}

void plumaro_gui_shutdown(PLUMARO_APP* app) {
    __t_assert_void(app);
    GUI_STATE* ui = &app->ui;
    if (ui->tip_bitmap) {
        al_destroy_bitmap(ui->tip_bitmap);
        ui->tip_bitmap = NULL;
    }
    for (int i = 0; i < ui->icon_count; i++) plumaro_icon_set_destroy(&ui->icons[i].set);
    free(ui->icons);
    ui->icons = NULL;
    ui->icon_count = ui->icon_capacity = 0;
    ui->icons_ready = 0;
    if (ui->cache) {
        al_destroy_bitmap(ui->cache);
        ui->cache = NULL;
    }
    ui->cache_w = ui->cache_h = 0;
    /* A rebuild (another language, a tab of the help) keeps the windows
     * scrolled where the user left them. */
    T_GUI_WINDOW* toolbar = app->gui ? t_gui_get_window(app->gui, ui->toolbar.window) : NULL;
    T_GUI_WINDOW* panel = app->gui ? t_gui_get_window(app->gui, ui->panel.window) : NULL;
    if (toolbar) ui->toolbar_scroll = toolbar->scroll_y;
    if (panel) ui->panel_scroll = panel->scroll_y;
    if (ui->toolbar.sections) t_gui_sectionlist_destroy(&ui->toolbar.sections);
    if (ui->panel.sections) t_gui_sectionlist_destroy(&ui->panel.sections);
    if (app->gui) t_gui_destroy_ctx(&app->gui);
    app->gui = NULL;
    _gui_forget_ids(ui);
    app->gui_cache_valid = 0;
}

int plumaro_gui_rebuild(PLUMARO_APP* app) {
    __t_assert(app);
    plumaro_gui_shutdown(app);
    int ok = plumaro_gui_init(app);
    app->dirty = 1;
    return ok;
}

void plumaro_gui_on_resize(PLUMARO_APP* app) {
    __t_assert_void(app);
    if (!app->gui) return;
    t_gui_set_display_size(app->gui, (float)app->display_w, (float)app->display_h);
    _gui_changed(app);
}

/* ------------------------------------------------------------------------ */
/* Following the shell                                                       */
/* ------------------------------------------------------------------------ */

void plumaro_gui_update(PLUMARO_APP* app) {
    __t_assert_void(app);
    uint32_t changed = app->changed;
    app->changed = 0;
    /* The float first: rendering it again may change what the layers show. */
    if (changed & APP_CHANGED_FLOAT_STYLE)
        _refresh_placed_float(app, 1);
    else if (changed & APP_CHANGED_FLOAT)
        _refresh_placed_float(app, 0);
    if (changed & APP_CHANGED_OPENED) _gui_take_opened_name(app);
    if (changed & APP_CHANGED_PALETTE) plumaro_gui_palette_changed(app);
    if (changed & APP_CHANGED_LAYERS) plumaro_gui_sync_layers(app);
    if (changed & APP_CHANGED_SYMMETRY) plumaro_gui_sync_symmetry(app);
    if ((changed & APP_CHANGED_TOOL) && !(changed & APP_CHANGED_PALETTE)) plumaro_gui_sync(app);
    /* Shown in turn, the newest stays up, as when each was shown at once. */
    APP_NOTICE notice;
    while (plumaro_app_take_notice(app, &notice)) _gui_show_notice(app, notice.text);
}

/* ------------------------------------------------------------------------ */
/* Drawing                                                                   */
/* ------------------------------------------------------------------------ */

// Renders every registered icon at its button's size and hands it the faces.
static void _gui_render_icons(PLUMARO_APP* app) {
    GUI_STATE* ui = &app->ui;
    ui->icons_ready = 1;
    for (int i = 0; i < ui->icon_count; i++) {
        GUI_ICON_BUTTON* entry = &ui->icons[i];
        plumaro_icon_set_destroy(&entry->set);
        if (plumaro_icon_render(entry->icon, &app->gui->style, entry->w, entry->h, &entry->set) == 1)
            t_gui_button_set_bitmaps(app->gui, entry->widget, entry->set.normal, entry->set.hover, entry->set.active);
    }
    app->gui_cache_valid = 0;
}

// Draws the brush tip into its preview label; skipped when the bitmap cannot be made.
static void _gui_refresh_tip_preview(PLUMARO_APP* app) {
    GUI_STATE* ui = &app->ui;
    if (ui->toolbar.tip_preview < 0) return;
    int p = ui->metrics.tip_preview;
    if (ui->tip_bitmap && al_get_bitmap_width(ui->tip_bitmap) != p) {
        al_destroy_bitmap(ui->tip_bitmap);
        ui->tip_bitmap = NULL;
    }
    if (!ui->tip_bitmap) {
        int flags = al_get_new_bitmap_flags();
        al_set_new_bitmap_flags(ALLEGRO_VIDEO_BITMAP | ALLEGRO_MIN_LINEAR);
        ui->tip_bitmap = al_create_bitmap(p, p);
        al_set_new_bitmap_flags(flags);
        if (!ui->tip_bitmap) return;
    }
    if (brush_render_tip_preview(&app->brush, ui->tip_bitmap) == 1)
        t_gui_label_set_bitmap(app->gui, ui->toolbar.tip_preview, ui->tip_bitmap);
}

/* The button that brings the hidden interface back, in the top-left corner,
 * in unscaled pixels: its face, and the larger square a press may land in. */
#define _SHOW_FACE_FROM 6.0f
#define _SHOW_FACE_TO 30.0f
#define _SHOW_REACH 36.0f

// The scale the show button is drawn and hit at: the interface's own.
static float _gui_show_scale(const PLUMARO_APP* app) { return _gui_metrics(app->ui_scale).scale; }

int plumaro_gui_on_show_corner(PLUMARO_APP* app, float x, float y) {
    __t_assert(app);
    float reach = _SHOW_REACH * _gui_show_scale(app);
    return x <= reach && y <= reach;
}

// The button that brings the hidden interface back.
static void _gui_draw_show_glyph(PLUMARO_APP* app) {
    float s = _gui_show_scale(app), a = _SHOW_FACE_FROM * s, b = _SHOW_FACE_TO * s;
    al_draw_filled_rounded_rectangle(a, a, b, b, 4.0f * s, 4.0f * s, al_premul_rgba(70, 75, 90, 200));
    ALLEGRO_COLOR line = al_map_rgb(220, 220, 220);
    for (int i = 0; i < 3; i++) {
        float y = (13.0f + 5.0f * (float)i) * s;
        al_draw_line(11.0f * s, y, 25.0f * s, y, line, 2.0f * s);
    }
}

// Draws the toolkit (and what goes over it) onto the current target.
static void _gui_draw_toolkit(PLUMARO_APP* app) {
    _gui_refresh_tip_preview(app);
    t_gui_draw(app->gui);
    GUI_PICKER* p = &app->ui.picker;
    if (p->open)
        _draw_alpha_overlay(app, p->window, p->preview, al_map_rgba(p->rgba[0], p->rgba[1], p->rgba[2], p->rgba[3]), 1);
}

void plumaro_gui_draw(PLUMARO_APP* app) {
    __t_assert_void(app);
    plumaro_gui_update(app);
    if (!app->gui) return;
    GUI_STATE* ui = &app->ui;
    if (app->gui_rebuild_pending) {
        app->gui_rebuild_pending = 0;
        plumaro_gui_shutdown(app);
        if (!plumaro_gui_init(app)) return;
    }
    if (!ui->icons_ready) _gui_render_icons(app);
    if (!app->gui_visible) {
        _gui_draw_show_glyph(app);
        return;
    }
    int dw = app->display_w, dh = app->display_h;
    if (ui->cache && (ui->cache_w != dw || ui->cache_h != dh)) {
        al_destroy_bitmap(ui->cache);
        ui->cache = NULL;
    }
    if (!ui->cache && dw > 0 && dh > 0) {
        int flags = al_get_new_bitmap_flags();
        al_set_new_bitmap_flags(ALLEGRO_VIDEO_BITMAP | ALLEGRO_MIN_LINEAR | ALLEGRO_MAG_LINEAR);
        ui->cache = al_create_bitmap(dw, dh);
        al_set_new_bitmap_flags(flags);
        ui->cache_w = dw;
        ui->cache_h = dh;
        app->gui_cache_valid = 0;
    }
    al_set_blender(ALLEGRO_ADD, ALLEGRO_ONE, ALLEGRO_INVERSE_ALPHA);
    if (!ui->cache) {
        _gui_draw_toolkit(app);
        return;
    }
    if (!app->gui_cache_valid) {
        ALLEGRO_BITMAP* target = al_get_target_bitmap();
        al_set_target_bitmap(ui->cache);
        al_clear_to_color(al_map_rgba(0, 0, 0, 0));
        _gui_draw_toolkit(app);
        al_set_target_bitmap(target);
        app->gui_cache_valid = 1;
    }
    al_set_blender(ALLEGRO_ADD, ALLEGRO_ONE, ALLEGRO_INVERSE_ALPHA);
    al_draw_bitmap(ui->cache, 0, 0, 0);
}

/* ------------------------------------------------------------------------ */
/* Events and visibility                                                     */
/* ------------------------------------------------------------------------ */

int plumaro_gui_handle_event(PLUMARO_APP* app, ALLEGRO_EVENT* event) {
    __t_assert(app);
    __t_assert(event);
    if (!app->gui) return 0;
    ALLEGRO_EVENT copy = *event;
    int used = t_gui_process_event(app->gui, &copy);
    if (!app->gui_visible) return 0;
    /* A press in a text field asks for the soft keyboard where there is one. */
    if (event->type == ALLEGRO_EVENT_MOUSE_BUTTON_DOWN) {
        const char* ui = (const char*)&app->ui;
        for (int id = 0; id < GUI_POPUP_COUNT; id++) {
            const GUI_POPUP_ROW* row = _gui_popup(id);
            if (row->field_at == GUI_POPUP_NONE || !*(const int*)(ui + row->open_at)) continue;
            int32_t window = *(const int32_t*)(ui + row->window_at);
            T_GUI_WIDGET* w = t_gui_get_widget(app->gui, *(const int32_t*)(ui + row->field_at));
            float ox, oy;
            if (!w || !w->visible || !t_gui_window_is_open(app->gui, window) ||
                !t_gui_window_content_origin(app->gui, window, &ox, &oy))
                continue;
            float px = (float)event->mouse.x, py = (float)event->mouse.y;
            if (px >= ox + w->x && px < ox + w->x + w->w && py >= oy + w->y && py < oy + w->y + w->h) {
                platform_show_keyboard();
                break;
            }
        }
    }
    return used ? 1 : 0;
}

int plumaro_gui_wants_keyboard(PLUMARO_APP* app) {
    __t_assert(app);
    if (!app->gui || !app->gui_visible) return 0;
    /* The interface's only text areas are the fields of its dialogs. */
    T_GUI_WIDGET* focused = t_gui_get_widget(app->gui, app->gui->focused_widget);
    if (!focused || focused->kind != T_GUI_KIND_TEXTAREA || !focused->visible) return 0;
    return t_gui_window_is_open(app->gui, focused->window_id) ? 1 : 0;
}

int plumaro_gui_wants_pointer(PLUMARO_APP* app) {
    __t_assert(app);
    if (!app->gui || !app->gui_visible) return 0;
    return t_gui_wants_mouse(app->gui) ? 1 : 0;
}

void plumaro_gui_set_visible(PLUMARO_APP* app, int visible) {
    __t_assert_void(app);
    GUI_STATE* ui = &app->ui;
    app->gui_cache_valid = 0;
    app->dirty = 1;
    if (visible && !app->gui_visible) {
        app->gui_visible = 1;
        if (app->gui) {
            t_gui_open_window(app->gui, ui->toolbar.window);
            if (ui->panel_was_open) t_gui_open_window(app->gui, ui->panel.window);
            _gui_reopen_popups_on_show(app);
        }
    } else if (!visible && app->gui_visible) {
        ui->panel_was_open = app->gui && t_gui_window_is_open(app->gui, ui->panel.window);
        if (app->gui) {
            t_gui_close_window(app->gui, ui->toolbar.window);
            t_gui_close_window(app->gui, ui->panel.window);
            _gui_close_popups_on_hide(app);
        }
        app->gui_visible = 0;
    }
}

/* ------------------------------------------------------------------------ */
/* Layout                                                                    */
/* ------------------------------------------------------------------------ */

void plumaro_gui_layout_persist(PLUMARO_APP* app) {
    __t_assert_void(app);
    if (!app->gui || platform_storage_ready() != 1) return;
    char path[1024];
    if (!platform_save_path("layout.json", path, sizeof(path))) return;
    if (t_gui_save_layout_json(app->gui, path) == 0) t_log(LOG_INFO, "gui layout: saved %s", path);
    platform_file_written();
}

void plumaro_gui_layout_restore(PLUMARO_APP* app) {
    __t_assert_void(app);
    GUI_STATE* ui = &app->ui;
    if (!app->gui || ui->layout_restored || platform_storage_ready() != 1) return;
    ui->layout_restored = 1;
    char path[1024];
    if (!platform_save_path("layout.json", path, sizeof(path))) return;
    /* The file moves the windows; the computed layout puts them back, and
     * only the layer panel's width is kept. */
    enum { KEEP = 32 };
    struct {
        int32_t id;
        float x, y, w, h;
        int32_t state;
    } kept[KEEP];
    int count = 0;
    for (LIST_NODE* node = app->gui->windows->start; node && count < KEEP; node = node->next) {
        T_GUI_WINDOW* win = (T_GUI_WINDOW*)node->ptr;
        kept[count].id = win->id;
        kept[count].x = win->x, kept[count].y = win->y, kept[count].w = win->w, kept[count].h = win->h;
        kept[count].state = win->state;
        count++;
    }
    if (t_gui_load_layout_json(app->gui, path) != 0) return;
    const GUI_METRICS* m = &ui->metrics;
    for (int i = 0; i < count; i++) {
        T_GUI_WINDOW* win = t_gui_get_window(app->gui, kept[i].id);
        if (!win) continue;
        float w = kept[i].w;
        if (kept[i].id == ui->panel.window && !app->layer_panel_collapsed) {
            w = win->w;
            if (!(w >= m->panel_min_width)) w = m->panel_min_width;
            if (w > 0.4f * (float)app->display_w) w = 0.4f * (float)app->display_w;
            app->layer_panel_width = w;
            win->x = (float)app->display_w - m->margin - w;
        } else {
            win->x = kept[i].x;
        }
        win->y = kept[i].y;
        win->w = w;
        win->h = kept[i].h;
        win->state = kept[i].state;
    }
    _gui_request_rebuild(app);
    t_log(LOG_INFO, "gui layout: restored %s", path);
}
