/* gui_popups: the dialogs over the canvas and the flows behind them:
 * confirmation, notification, PNG export, saving, loading (with the list of
 * saved documents), new canvas, palette and layer names, the language
 * choice, palette management, the colour picker and the brush tip. The help
 * reference and the text popup have files of their own. */
#include <allegro5/allegro_primitives.h>
#include <math.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include "app_commands.h"
#include "app_internal.h"
#include "app_persist.h"
#include "app_tools.h"
#include "canvas/document_exchange.h"
#include "canvas/document_io.h"
#include "canvas/fill.h"
#include "gui/gui_private.h"
#include "platform/platform.h"
#include "t_log.h"

// The application record a callback was given.
#define _APP(user)                           \
    PLUMARO_APP* app = (PLUMARO_APP*)(user); \
    __t_assert_void(app)

static const int _newdoc_sizes[6] = {16384, 8192, 4096, 2048, 1024, 512};
static const char* const _yes_labels[4] = {"Clear", "Reset", "Quit", "Remove"};

/* ------------------------------------------------------------------------ */
/* Shared steps                                                              */
/* ------------------------------------------------------------------------ */

// Popup width, content width and button width for the current scale.
static float _pw(const PLUMARO_APP* app) { return app->ui.metrics.popup_width + 20.0f; }
static float _bw(const PLUMARO_APP* app) { return app->ui.metrics.popup_button_width; }

int32_t _gui_popup_window(PLUMARO_APP* app, const char* title, float x, float y, float w, float h, int flags,
                             const char* failure) {
    int32_t win = t_gui_add_window(app->gui, title, x, y, w, h);
    if (win < 0) {
        t_log(LOG_ERR, "%s", failure);
        return -1;
    }
    t_gui_window_set_flags(app->gui, win, flags);
    t_gui_window_set_zorder(app->gui, win, T_GUI_ZORDER_POPUP, 0);
    return win;
}

// Shows a popup in front of the others and records it open.
static void _show(PLUMARO_APP* app, int32_t window, int* open) {
    if (open) *open = 1;
    t_gui_open_window(app->gui, window);
    t_gui_raise_window(app->gui, window);
    _gui_changed(app);
}

// Hides a popup and records it closed.
static void _hide(PLUMARO_APP* app, int32_t window, int* open) {
    if (open) *open = 0;
    if (app->gui) t_gui_close_window(app->gui, window);
    _gui_changed(app);
}

// Closes one of the text-entry popups: the focus and the soft keyboard go too.
static void _hide_entry(PLUMARO_APP* app, GUI_NAME_POPUP* popup) {
    if (app->gui) t_gui_set_focus(app->gui, -1);
    _hide(app, popup->window, &popup->open);
    platform_hide_keyboard();
}

// Opens one of the text-entry popups with its field holding `text`.
static void _show_entry(PLUMARO_APP* app, GUI_NAME_POPUP* popup, const char* text) {
    t_gui_textarea_set_text(app->gui, popup->field, text);
    t_gui_set_focus(app->gui, popup->field);
    _show(app, popup->window, &popup->open);
    platform_show_keyboard();
}

// The part of a path after its last '/' or '\'.
static const char* _file_part(const char* path) {
    const char* slash = strrchr(path, '/');
    const char* back = strrchr(path, '\\');
    if (back && (!slash || back > slash)) slash = back;
    return slash ? slash + 1 : path;
}

// Appends an extension when the file name has no dot and the result still fits.
static void _add_extension(char* path, size_t size, const char* ext) {
    if (strchr(_file_part(path), '.')) return;
    size_t len = strlen(path), n = strlen(ext);
    if (len + n < size) memcpy(path + len, ext, n + 1);
}

void _gui_name_filter(const char* in, char* out, size_t size) {
    if (!out || size == 0) return;
    size_t n = 0;
    for (const char* p = in ? in : ""; *p && n + 1 < size && n < 63; p++) {
        unsigned char c = (unsigned char)*p;
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ' ' || c == '-' ||
            c == '_')
            out[n++] = (char)c;
    }
    while (n > 0 && out[n - 1] == ' ') n--;
    out[n] = 0;
    size_t lead = 0;
    while (out[lead] == ' ') lead++;
    memmove(out, out + lead, n - lead + 1);
    if (!out[0]) snprintf(out, size, "sketch");
}

// The document name proposed from a path: the file name without its extension, filtered.
static void _derive_doc_name(PLUMARO_APP* app, const char* path) {
    if (!path || !path[0]) return;
    char name[72];
    snprintf(name, sizeof(name), "%s", _file_part(path));
    name[strlen(name) - platform_openable_extension(name)] = 0;
    _gui_name_filter(name, app->ui.doc_name, sizeof(app->ui.doc_name));
}

void plumaro_gui_document_opened(PLUMARO_APP* app, const char* path) {
    __t_assert_void(app);
    __t_assert_void(path);
    _derive_doc_name(app, path);
    /* Saves go back to a drawing's own file; an opened picture is never
     * overwritten by a drawing, so it gets only the name. */
    if (!document_kind(document_last_load_kind())->save)
        app->doc_path[0] = 0;
    else
        snprintf(app->doc_path, sizeof(app->doc_path), "%s", path);
}

// The proposed document name, "sketch" until there is one.
static const char* _doc_name(const PLUMARO_APP* app) {
    return app->ui.doc_name[0] ? app->ui.doc_name : "sketch";
}

/* ------------------------------------------------------------------------ */
/* Notification and confirmation                                             */
/* ------------------------------------------------------------------------ */

void _gui_notify_shorten(const ALLEGRO_FONT* font, float width, const char* text, char* out, size_t size) {
    if (!out || size == 0) return;
    snprintf(out, size, "%s", text ? text : "");
    if (!font) return;
    /* The end of a message (a file name, a reason) matters most: it is kept
     * and the front gives way. */
    const char* p = out;
    while (*p && al_get_text_width(font, p) >= (int)width) {
        p++;
        while (((unsigned char)*p & 0xC0) == 0x80) p++;
    }
    if (p == out) return;
    char shortened[256];
    snprintf(shortened, sizeof(shortened), "...%s", p);
    snprintf(out, size, "%s", shortened);
}

void plumaro_gui_notify(PLUMARO_APP* app, const char* text) {
    __t_assert_void(app);
    __t_assert_void(text);
    t_log(LOG_NOTICE, "%s", text);
    if (!app->gui) return;
    GUI_NOTIFY* n = &app->ui.notify;
    float width = (float)(int)(540.0f * app->ui.metrics.scale) - 23.0f;
    _gui_notify_shorten(app->font, width, text, n->text, sizeof(n->text));
    t_gui_label_set_text(app->gui, n->message, n->text);
    _show(app, n->window, &n->open);
}

static void _on_notify_ok(int32_t, void* user) {
    _APP(user);
    _hide(app, app->ui.notify.window, &app->ui.notify.open);
}

// Opens the confirmation with a message and the action its yes carries out.
static void _confirm_open(PLUMARO_APP* app, const char* message, int action) {
    GUI_CONFIRM* c = &app->ui.confirm;
    snprintf(c->text, sizeof(c->text), "%s", message);
    c->action = action;
    t_gui_button_set_label(app->gui, c->yes, i18n_tr(_yes_labels[action >= 0 && action < 4 ? action : 0]));
    t_gui_label_set_text(app->gui, c->message, c->text);
    _show(app, c->window, &c->open);
}

void plumaro_gui_request_quit(PLUMARO_APP* app) {
    __t_assert_void(app);
    if (!app->gui) return;
    _confirm_open(app, i18n_tr("Quit Plumaro?"), CONFIRM_QUIT);
}

void _on_quit_button(int32_t, void* user) {
    _APP(user);
    plumaro_gui_request_quit(app);
}

void _on_clear_click(int32_t, void* user) {
    _APP(user);
    if (app->stroke.active || !app->doc || !app->doc->active_layer) return;
    char message[160];
    snprintf(message, sizeof(message), i18n_tr("Clear layer %s?"), layer_name_text(app->doc->active_layer));
    _confirm_open(app, message, CONFIRM_CLEAR_LAYER);
}

static void _on_confirm_yes(int32_t, void* user) {
    _APP(user);
    GUI_CONFIRM* c = &app->ui.confirm;
    _hide(app, c->window, &c->open);
    switch (c->action) {
        case CONFIRM_RESET_PALETTES:
            palette_reset_all(&app->palette);
            plumaro_gui_palette_changed(app);
            plumaro_app_palette_persist(app);
            break;
        case CONFIRM_QUIT:
            app->running = 0;
            return;
        case CONFIRM_REMOVE_PALETTE:
            if (palette_remove_active(&app->palette) == 1) {
                plumaro_gui_palette_changed(app);
                plumaro_app_palette_persist(app);
            }
            break;
        default:
            _gui_commit_pending(app);
            if (app->doc && fill_clear(app->doc) == 1)
                plumaro_gui_sync_layers(app);
            else if (app->doc && app->doc->active_layer && app->doc->active_layer->locked)
                plumaro_gui_notify(app, i18n_tr("The layer is locked."));
            break;
    }
    app->dirty = 1;
}

static void _on_confirm_no(int32_t, void* user) {
    _APP(user);
    _hide(app, app->ui.confirm.window, &app->ui.confirm.open);
}

/* ------------------------------------------------------------------------ */
/* PNG export                                                                */
/* ------------------------------------------------------------------------ */

int _gui_export_region(PLUMARO_APP* app, int* x, int* y, int* w, int* h) {
    __t_assert(app);
    __t_assert(app->doc);
    GUI_EXPORT* e = &app->ui.export_png;
    int x0, y0, x1, y1;
    if (app->export_area) {
        if (!e->box_valid) {
            e->box_found = document_content_bbox(app->doc, &e->x0, &e->y0, &e->x1, &e->y1);
            e->box_valid = 1;
        }
        if (!e->box_found) return 0;
        x0 = e->x0, y0 = e->y0, x1 = e->x1, y1 = e->y1;
    } else {
        float cx[4], cy[4];
        float sx[4] = {0, (float)app->display_w, 0, (float)app->display_w};
        float sy[4] = {0, 0, (float)app->display_h, (float)app->display_h};
        for (int i = 0; i < 4; i++) view_screen_to_canvas(&app->view, sx[i], sy[i], &cx[i], &cy[i]);
        float minx = fminf(fminf(cx[0], cx[1]), fminf(cx[2], cx[3]));
        float maxx = fmaxf(fmaxf(cx[0], cx[1]), fmaxf(cx[2], cx[3]));
        float miny = fminf(fminf(cy[0], cy[1]), fminf(cy[2], cy[3]));
        float maxy = fmaxf(fmaxf(cy[0], cy[1]), fmaxf(cy[2], cy[3]));
        /* Far outside the document the corners may not fit an int. */
        float limit = 1e8f;
        x0 = (int)floorf(fmaxf(-limit, minx)), y0 = (int)floorf(fmaxf(-limit, miny));
        x1 = (int)ceilf(fminf(limit, maxx)), y1 = (int)ceilf(fminf(limit, maxy));
    }
    int b = app->export_border;
    int w0 = app->doc->width, h0 = app->doc->height;
    int bx0 = x0 - b < 0 ? 0 : x0 - b, by0 = y0 - b < 0 ? 0 : y0 - b;
    int bx1 = x1 + b < w0 ? x1 + b : w0 - 1, by1 = y1 + b < h0 ? y1 + b : h0 - 1;
    if (bx1 < bx0 || by1 < by0) return 0;
    *x = bx0, *y = by0, *w = bx1 - bx0 + 1, *h = by1 - by0 + 1;
    return 1;
}

// Sets the mode toggles and the title's size text.
static void _export_refresh(PLUMARO_APP* app) {
    GUI_EXPORT* e = &app->ui.export_png;
    t_gui_button_set_toggled(app->gui, e->displayed, app->export_area == 0);
    t_gui_button_set_toggled(app->gui, e->full, app->export_area == 1);
    t_gui_button_set_toggled(app->gui, e->include_template, app->export_template);
    t_gui_slider_set_value(app->gui, e->border, app->export_border);
    char title[96];
    int x, y, w, h;
    if (app->doc && _gui_export_region(app, &x, &y, &w, &h))
        snprintf(title, sizeof(title), i18n_tr("Export PNG: %d x %d px"), w, h);
    else
        snprintf(title, sizeof(title), "%s", i18n_tr("Export PNG: nothing to export"));
    t_gui_label_set_text(app->gui, e->title, title);
    _gui_changed(app);
}

void _on_export_click(int32_t, void* user) {
    _APP(user);
    if (app->stroke.active || platform_storage_ready() != 1) return;
    GUI_EXPORT* e = &app->ui.export_png;
    t_gui_textarea_set_text(app->gui, e->name, _doc_name(app));
    e->box_valid = 0;
    _export_refresh(app);
    _show(app, e->window, &e->open);
}

static void _on_export_mode_displayed(int32_t, void* user) {
    _APP(user);
    app->export_area = 0;
    _export_refresh(app);
}

static void _on_export_mode_full(int32_t, void* user) {
    _APP(user);
    app->export_area = 1;
    _export_refresh(app);
}

static void _on_export_border(int32_t, double value, void* user) {
    _APP(user);
    app->export_border = (int)value;
    _export_refresh(app);
}

static void _on_export_template_toggle(int32_t, void* user) {
    _APP(user);
    app->export_template = !app->export_template;
    t_gui_button_set_toggled(app->gui, app->ui.export_png.include_template, app->export_template);
    _gui_changed(app);
}

static void _on_export_cancel(int32_t, void* user) {
    _APP(user);
    _hide(app, app->ui.export_png.window, &app->ui.export_png.open);
}

// Tells where an export went, as the platform published it.
static void _export_notice(PLUMARO_APP* app, const char* path, int w, int h) {
    const char* name = _file_part(path);
    size_t len = strlen(path);
    const char* type = len >= 4 && strcmp(path + len - 4, ".tga") == 0 ? "image/x-tga" : "image/png";
    int published = platform_publish_file(path, name, type);
    char notice[1100];
    if (published == 1) {
        snprintf(notice, sizeof(notice), i18n_tr("Exported %dx%d to the Plumaro folder: %s"), w, h, name);
    } else if (published != 0) {
        snprintf(notice, sizeof(notice), i18n_tr("Exported %dx%d: %s"), w, h, path);
    } else {
        char reason[256];
        platform_last_error(reason, sizeof(reason));
        snprintf(notice, sizeof(notice), i18n_tr("Export not published: %s"), reason[0] ? reason : name);
    }
    plumaro_gui_notify(app, notice);
    platform_reveal_export(path);
}

static void _on_export_go(int32_t, void* user) {
    _APP(user);
    GUI_EXPORT* e = &app->ui.export_png;
    _hide(app, e->window, &e->open);
    int x, y, w, h;
    int found = app->doc && _gui_export_region(app, &x, &y, &w, &h);
    e->box_valid = 0;
    if (!found) {
        plumaro_gui_notify(app, i18n_tr("Nothing to export: the drawing is empty."));
        return;
    }
    char name[64], file[72], start[1024], path[1024];
    _gui_name_filter(t_gui_textarea_get_text(app->gui, e->name), name, sizeof(name));
    snprintf(file, sizeof(file), "%s.png", name);
    if (app->ui.export_path[0])
        snprintf(start, sizeof(start), "%s", app->ui.export_path);
    else if (!platform_save_path(file, start, sizeof(start)))
        start[0] = 0;
    int chosen = platform_choose_file(1, start, "*.png", path, sizeof(path));
    if (chosen == 0) return;
    if (chosen == 1) {
        _add_extension(path, sizeof(path), ".png");
        snprintf(app->ui.export_path, sizeof(app->ui.export_path), "%s", path);
    } else if (!platform_save_path(file, path, sizeof(path))) {
        return;
    }
    char written[1024] = "";
    if (document_export_png_region(app->doc, path, x, y, w, h, app->export_template, written, sizeof(written)) != 1) {
        plumaro_gui_notify(app, i18n_tr("Export failed."));
        return;
    }
    platform_file_written();
    if (written[0]) snprintf(path, sizeof(path), "%s", written);
    _export_notice(app, path, w, h);
    app->dirty = 1;
}

/* ------------------------------------------------------------------------ */
/* Saving                                                                    */
/* ------------------------------------------------------------------------ */

// Where the save and load choosers start: the drawing's own file, else "sketch.plm" in the save folder.
static void _chooser_start(const PLUMARO_APP* app, char* start, size_t size) {
    if (app->doc_path[0])
        snprintf(start, size, "%s", app->doc_path);
    else if (!platform_save_path("sketch.plm", start, size))
        start[0] = 0;
}

// Writes the document and tells the user how it went.
static void _do_save(PLUMARO_APP* app, const char* path, const char* display_name) {
    const DOCUMENT_FILE_KIND* kind = document_kind_for_save(path, NULL);
    if (!app->doc || kind->save(app->doc, path) != 1) {
        plumaro_gui_notify(app, i18n_tr("Save failed."));
        return;
    }
    platform_file_written();
    platform_document_saved(path);
    char notice[1100];
    if (platform_publish_file(path, display_name, kind->mime_type) != 0) {
        snprintf(notice, sizeof(notice), i18n_tr("Saved: %s"), display_name);
    } else {
        char reason[256];
        platform_last_error(reason, sizeof(reason));
        snprintf(notice, sizeof(notice), i18n_tr("Save not published: %s"), reason[0] ? reason : display_name);
    }
    plumaro_gui_notify(app, notice);
}

void plumaro_gui_request_save(PLUMARO_APP* app) {
    __t_assert_void(app);
    if (app->stroke.active || platform_storage_ready() != 1) return;
    char start[1024], path[1024], patterns[128];
    _chooser_start(app, start, sizeof(start));
    document_kind_patterns(1, patterns, sizeof(patterns));
    int chosen = platform_choose_file(1, start, patterns, path, sizeof(path));
    if (chosen == 0) return;
    if (chosen == 1) {
        /* A name ending in ".ora" writes OpenRaster. */
        _add_extension(path, sizeof(path), document_kind(DOCUMENT_KIND_PLM)->extensions[0]);
        snprintf(app->doc_path, sizeof(app->doc_path), "%s", path);
        _derive_doc_name(app, path);
        _do_save(app, path, _file_part(path));
        return;
    }
    if (!app->gui) {
        /* Without an interface to ask for a name, the proposal is used. */
        if (!start[0]) return;
        snprintf(path, sizeof(path), "%s", start);
        snprintf(app->doc_path, sizeof(app->doc_path), "%s", path);
        _do_save(app, path, _file_part(path));
        return;
    }
    _show_entry(app, &app->ui.save_name, _doc_name(app));
}

void _on_save_click(int32_t, void* user) {
    _APP(user);
    _gui_commit_pending(app);
    plumaro_gui_request_save(app);
}

static void _on_save_name_ok(int32_t, void* user) {
    _APP(user);
    /* A name typed with ".ora" is saved as OpenRaster; the filter would
     * otherwise keep the letters of the extension in the name. */
    char typed[256];
    snprintf(typed, sizeof(typed), "%s", t_gui_textarea_get_text(app->gui, app->ui.save_name.field));
    size_t len = strlen(typed);
    while (len > 0 && typed[len - 1] == ' ') typed[--len] = 0;
    size_t extension = 0;
    const DOCUMENT_FILE_KIND* kind = document_kind_for_save(typed, &extension);
    typed[len - extension] = 0;
    _gui_name_filter(typed, app->ui.doc_name, sizeof(app->ui.doc_name));
    char file[72], path[1024];
    snprintf(file, sizeof(file), "%s%s", app->ui.doc_name, kind->extensions[0]);
    if (platform_save_path(file, path, sizeof(path))) {
        snprintf(app->doc_path, sizeof(app->doc_path), "%s", path);
        _do_save(app, path, file);
    } else {
        plumaro_gui_notify(app, i18n_tr("Save failed."));
    }
    _hide_entry(app, &app->ui.save_name);
}

static void _on_save_name_cancel(int32_t, void* user) {
    _APP(user);
    _hide_entry(app, &app->ui.save_name);
}

/* ------------------------------------------------------------------------ */
/* Loading                                                                   */
/* ------------------------------------------------------------------------ */

// Fills the open list's rows from the saved documents.
static void _open_list_refresh(PLUMARO_APP* app) {
    GUI_OPEN_LIST* o = &app->ui.open_list;
    char listing[4096];
    int total = platform_list_documents(listing, sizeof(listing));
    o->used = 0;
    char* line = listing;
    while (total > 0 && line && *line && o->used < GUI_OPEN_ROWS) {
        char* end = strchr(line, '\n');
        if (end) *end = 0;
        char* name = o->names[o->used];
        size_t n = strnlen(line, sizeof(o->names[0]) - 1);
        memcpy(name, line, n);
        name[n] = 0;
        char shown[72];
        snprintf(shown, sizeof(shown), "%s", name);
        const char* own = document_kind(DOCUMENT_KIND_PLM)->extensions[0];
        size_t len = strlen(shown), own_len = strlen(own);
        /* Drawings are listed by their names; other kinds keep their extension. */
        if (len >= own_len && strcmp(shown + len - own_len, own) == 0) shown[len - own_len] = 0;
        t_gui_button_set_label(app->gui, o->rows[o->used], shown[0] ? shown : i18n_tr("(unnamed)"));
        t_gui_widget_set_visible(app->gui, o->rows[o->used], 1);
        o->used++;
        line = end ? end + 1 : NULL;
    }
    for (int k = o->used; k < GUI_OPEN_ROWS; k++) t_gui_widget_set_visible(app->gui, o->rows[k], 0);
    char title[96];
    if (total > GUI_OPEN_ROWS) {
        snprintf(title, sizeof(title), i18n_tr("Open sketch (newest %d)"), GUI_OPEN_ROWS);
        t_log(LOG_INFO, "open-list: %d+ sketches, showing newest %d", total, GUI_OPEN_ROWS);
    } else {
        snprintf(title, sizeof(title), "%s", i18n_tr("Open sketch"));
    }
    t_gui_label_set_text(app->gui, o->title, title);
    _gui_changed(app);
}

// Loads a listed document by its name in the save folder.
static void _load_named(PLUMARO_APP* app, const char* name) {
    if (strchr(name, '/') || strchr(name, '\\') || strstr(name, "..")) {
        t_log(LOG_ERR, "refusing to load unsafe document name: %s", name);
        plumaro_gui_notify(app, i18n_tr("Load failed."));
        return;
    }
    char path[1024];
    if (platform_resolve_document(name, path) != 1 && !platform_save_path(name, path, sizeof(path))) {
        plumaro_gui_notify(app, i18n_tr("Load failed."));
        return;
    }
    int loaded = plumaro_app_load_document(app, path);
    if (loaded) plumaro_gui_document_opened(app, path);
    if (plumaro_app_load_notice_given()) return;
    char notice[1100];
    snprintf(notice, sizeof(notice), i18n_tr("Loaded: %s"), name);
    plumaro_gui_notify(app, loaded ? notice : i18n_tr("No saved document found."));
}

void _on_load_click(int32_t, void* user) {
    _APP(user);
    if (app->stroke.active || platform_storage_ready() != 1) return;
    char start[1024], path[1024], patterns[128];
    _chooser_start(app, start, sizeof(start));
    document_kind_patterns(0, patterns, sizeof(patterns));
    int chosen = platform_choose_file(0, start, patterns, path, sizeof(path));
    if (chosen == 0) return;
    if (chosen == 1) {
        int loaded = plumaro_app_load_document(app, path);
        if (loaded) plumaro_gui_document_opened(app, path);
        if (!plumaro_app_load_notice_given())
            plumaro_gui_notify(app, i18n_tr(loaded ? "Loaded." : "No saved document found."));
        return;
    }
    if (platform_open_document_picker() == 1) return;
    _open_list_refresh(app);
    _show(app, app->ui.open_list.window, &app->ui.open_list.open);
}

static void _on_open_list_row(int32_t id, void* user) {
    _APP(user);
    GUI_OPEN_LIST* o = &app->ui.open_list;
    int row = -1;
    for (int k = 0; k < o->used; k++)
        if (o->rows[k] == id) row = k;
    _hide(app, o->window, &o->open);
    if (row >= 0) {
        char name[72];
        snprintf(name, sizeof(name), "%s", o->names[row]);
        _load_named(app, name);
    }
}

static void _on_open_list_browse(int32_t, void* user) {
    _APP(user);
    _hide(app, app->ui.open_list.window, &app->ui.open_list.open);
    if (platform_browse_documents() != 1) plumaro_gui_notify(app, i18n_tr("No file picker available."));
}

static void _on_open_list_cancel(int32_t, void* user) {
    _APP(user);
    _hide(app, app->ui.open_list.window, &app->ui.open_list.open);
}

/* ------------------------------------------------------------------------ */
/* New canvas                                                                */
/* ------------------------------------------------------------------------ */

void _on_new_click(int32_t, void* user) {
    _APP(user);
    if (app->stroke.active) return;
    _show(app, app->ui.newdoc.window, &app->ui.newdoc.open);
}

// Closes the popup and replaces the drawing with a blank square canvas.
static void _newdoc_create(PLUMARO_APP* app, int size) {
    _hide(app, app->ui.newdoc.window, &app->ui.newdoc.open);
    if (plumaro_app_new_document(app, size) == 1) {
        char notice[128];
        snprintf(notice, sizeof(notice), i18n_tr("New %dx%d canvas."), app->doc->width, app->doc->height);
        plumaro_gui_notify(app, notice);
    } else {
        plumaro_gui_notify(app, i18n_tr("Canvas creation failed, keeping the drawing."));
    }
    app->dirty = 1;
}

static void _on_newdoc_preset(int32_t id, void* user) {
    _APP(user);
    for (int i = 0; i < 6; i++)
        if (app->ui.newdoc.presets[i] == id) _newdoc_create(app, _newdoc_sizes[i]);
}

int _gui_custom_canvas_size(const char* text) {
    if (!text) return 0;
    /* Only digits count: "abc" or "1e4" are not sizes. */
    const char* p = text;
    while (*p == ' ') p++;
    if (!*p) return 0;
    long value = 0;
    for (; *p >= '0' && *p <= '9'; p++) {
        value = value * 10 + (*p - '0');
        if (value > 1000000) return 0;
    }
    while (*p == ' ') p++;
    if (*p) return 0;
    return value >= 64 && value <= 16384 ? (int)value : 0;
}

static void _on_newdoc_create(int32_t, void* user) {
    _APP(user);
    int size = _gui_custom_canvas_size(t_gui_textarea_get_text(app->gui, app->ui.newdoc.size));
    if (!size) {
        _hide(app, app->ui.newdoc.window, &app->ui.newdoc.open);
        plumaro_gui_notify(app, i18n_tr("Custom size must be between 64 and 16384."));
        return;
    }
    _newdoc_create(app, size);
}

static void _on_newdoc_cancel(int32_t, void* user) {
    _APP(user);
    _hide(app, app->ui.newdoc.window, &app->ui.newdoc.open);
}

/* ------------------------------------------------------------------------ */
/* Palettes, layer name, language, tip                                       */
/* ------------------------------------------------------------------------ */

void _on_palette_manage(int32_t, void* user) {
    _APP(user);
    _show(app, app->ui.palette_manage.window, &app->ui.palette_manage.open);
}

// Closes palette management when it is open (its buttons lead elsewhere).
static void _close_palette_manage(PLUMARO_APP* app) {
    if (app->ui.palette_manage.open) _hide(app, app->ui.palette_manage.window, &app->ui.palette_manage.open);
}

static void _on_palette_rename(int32_t, void* user) {
    _APP(user);
    _close_palette_manage(app);
    if (!palette_is_user(&app->palette, app->palette.active)) {
        plumaro_gui_notify(app, i18n_tr("Rename a custom palette (presets are read-only)."));
        return;
    }
    _show_entry(app, &app->ui.palette_name, palette_name(&app->palette, app->palette.active));
}

static void _on_palette_name_ok(int32_t, void* user) {
    _APP(user);
    if (palette_rename_active(&app->palette, t_gui_textarea_get_text(app->gui, app->ui.palette_name.field)) == 1) {
        plumaro_gui_palette_changed(app);
        plumaro_app_palette_persist(app);
    }
    _hide_entry(app, &app->ui.palette_name);
}

static void _on_palette_name_cancel(int32_t, void* user) {
    _APP(user);
    _hide_entry(app, &app->ui.palette_name);
}

static void _on_palette_reset(int32_t, void* user) {
    _APP(user);
    _close_palette_manage(app);
    palette_reset_active(&app->palette);
    app->ui.edited_swatch = -1;
    plumaro_gui_sync(app);
    plumaro_app_palette_persist(app);
    app->dirty = 1;
}

static void _on_palette_reset_all(int32_t, void* user) {
    _APP(user);
    _close_palette_manage(app);
    _confirm_open(app, i18n_tr("Reset all palettes to factory default?"), CONFIRM_RESET_PALETTES);
}

static void _on_palette_remove(int32_t, void* user) {
    _APP(user);
    _close_palette_manage(app);
    if (!palette_is_user(&app->palette, app->palette.active)) {
        plumaro_gui_notify(app, i18n_tr("Remove a custom palette (presets are read-only)."));
        return;
    }
    char message[160];
    snprintf(message, sizeof(message), i18n_tr("Remove palette %s?"), palette_name(&app->palette, app->palette.active));
    _confirm_open(app, message, CONFIRM_REMOVE_PALETTE);
}

static void _on_palette_manage_close(int32_t, void* user) {
    _APP(user);
    _close_palette_manage(app);
}

void _on_layer_rename(int32_t, void* user) {
    _APP(user);
    if (!app->doc || !app->doc->active_layer) return;
    _show_entry(app, &app->ui.layer_name, layer_name_text(app->doc->active_layer));
}

static void _on_layer_rename_ok(int32_t, void* user) {
    _APP(user);
    if (app->doc && app->doc->active_layer) {
        layer_set_name(app->doc->active_layer, t_gui_textarea_get_text(app->gui, app->ui.layer_name.field));
        plumaro_gui_sync_layers(app);
    }
    _hide_entry(app, &app->ui.layer_name);
}

static void _on_layer_rename_cancel(int32_t, void* user) {
    _APP(user);
    _hide_entry(app, &app->ui.layer_name);
}

// Takes a language: the texts change at the next build.
static void _choose_language(PLUMARO_APP* app, int language) {
    app->language = language;
    i18n_set_language(language);
    plumaro_app_settings_persist(app);
    _gui_request_rebuild(app);
}

void plumaro_gui_request_language_choice(PLUMARO_APP* app) {
    __t_assert_void(app);
    app->ui.language.requested = 1;
    if (app->gui && app->gui_visible) _show(app, app->ui.language.window, NULL);
}

static void _on_lang_choice(int32_t id, void* user) {
    _APP(user);
    GUI_LANGUAGE* l = &app->ui.language;
    l->requested = 0;
    _hide(app, l->window, NULL);
    int language = LANG_EN;
    for (int k = 1; k < 4; k++)
        if (app->ui.language.buttons[k] == id) language = k + 1;
    _choose_language(app, language);
}

void _on_tip_click(int32_t, void* user) {
    _APP(user);
    if (app->stroke.active) return;
    _show(app, app->ui.tip.window, &app->ui.tip.open);
}

static void _on_tip_shape(int32_t id, void* user) {
    _APP(user);
    for (int k = 0; k < BRUSH_TIP_COUNT; k++)
        if (app->ui.tip.shapes[k] == id) app->brush.tip = k;
    _hide(app, app->ui.tip.window, &app->ui.tip.open);
    plumaro_gui_sync(app);
}

static void _on_tip_cancel(int32_t, void* user) {
    _APP(user);
    _hide(app, app->ui.tip.window, &app->ui.tip.open);
}

/* ------------------------------------------------------------------------ */
/* Colour picker                                                             */
/* ------------------------------------------------------------------------ */

// The picked colour as a colour (straight alpha).
static ALLEGRO_COLOR _picked(const PLUMARO_APP* app) {
    const uint8_t* c = app->ui.picker.rgba;
    return al_map_rgba(c[0], c[1], c[2], c[3]);
}

// The sliders and the preview from the picked bytes.
static void _picker_refresh(PLUMARO_APP* app) {
    GUI_PICKER* p = &app->ui.picker;
    for (int k = 0; k < 4; k++) t_gui_slider_set_value(app->gui, p->channels[k], p->rgba[k]);
    T_GUI_STYLE style = _gui_swatch_style(_picked(app));
    t_gui_widget_set_style(app->gui, p->preview, &style);
    _gui_changed(app);
}

void _on_chip_click(int32_t, void* user) {
    _APP(user);
    GUI_PICKER* p = &app->ui.picker;
    const ALLEGRO_COLOR* c = &app->brush.color;
    float channels[4] = {c->r, c->g, c->b, c->a};
    for (int k = 0; k < 4; k++) p->rgba[k] = (uint8_t)(int)(fminf(fmaxf(channels[k], 0.0f), 1.0f) * 255.0f + 0.5f);
    _picker_refresh(app);
    _show(app, p->window, &p->open);
}

static void _on_picker_channel(int32_t id, double value, void* user) {
    _APP(user);
    GUI_PICKER* p = &app->ui.picker;
    for (int k = 0; k < 4; k++)
        if (p->channels[k] == id) p->rgba[k] = (uint8_t)(int)(value + 0.5);
    T_GUI_STYLE style = _gui_swatch_style(_picked(app));
    t_gui_widget_set_style(app->gui, p->preview, &style);
    _gui_changed(app);
}

static void _on_picker_ok(int32_t, void* user) {
    _APP(user);
    GUI_PICKER* p = &app->ui.picker;
    _hide(app, p->window, &p->open);
    app->brush.color = _picked(app);
    app->brush.eraser = 0;
    app->ui.selected_swatch = GUI_SWATCH_CHIP;
    _refresh_placed_float(app, 1);
    plumaro_gui_sync(app);
    app->dirty = 1;
}

static void _on_picker_cancel(int32_t, void* user) {
    _APP(user);
    _hide(app, app->ui.picker.window, &app->ui.picker.open);
}

void _draw_alpha_overlay(PLUMARO_APP* app, int32_t window, int32_t widget, ALLEGRO_COLOR colour, int full) {
    __t_assert_void(app);
    if (!app->gui || colour.a >= 0.996f) return;
    T_GUI_WIDGET* w = t_gui_get_widget(app->gui, widget);
    T_GUI_WINDOW* win = t_gui_get_window(app->gui, window);
    float ox, oy;
    if (!w || !win || !t_gui_window_content_origin(app->gui, window, &ox, &oy)) return;
    float x0 = ox + w->x + 3.0f, y0 = oy + w->y + 3.0f, x1 = ox + w->x + w->w - 3.0f, y1 = oy + w->y + w->h - 3.0f;
    if (!full) x0 = fmaxf(x0, x1 - (y1 - y0));
    if (x1 <= x0 || y1 <= y0) return;
    int cx, cy, cw, ch;
    al_get_clipping_rectangle(&cx, &cy, &cw, &ch);
    al_set_clipping_rectangle((int)win->x, (int)win->y, (int)win->w, (int)win->h);
    al_set_blender(ALLEGRO_ADD, ALLEGRO_ONE, ALLEGRO_ZERO);
    /* A checkerboard shows how much of what lies under the colour comes through. */
    float a = colour.a;
    for (int row = 0; y0 + 6.0f * row < y1; row++) {
        for (int col = 0; x0 + 6.0f * col < x1; col++) {
            float base = ((row + col) % 2) ? 235.0f : 170.0f;
            float r = roundf(colour.r * 255.0f * a + base * (1.0f - a));
            float g = roundf(colour.g * 255.0f * a + base * (1.0f - a));
            float b = roundf(colour.b * 255.0f * a + base * (1.0f - a));
            float cx0 = x0 + 6.0f * col, cy0 = y0 + 6.0f * row;
            al_draw_filled_rectangle(cx0, cy0, fminf(cx0 + 6.0f, x1), fminf(cy0 + 6.0f, y1),
                                     al_map_rgb((unsigned char)r, (unsigned char)g, (unsigned char)b));
        }
    }
    al_set_clipping_rectangle(cx, cy, cw, ch);
    al_set_blender(ALLEGRO_ADD, ALLEGRO_ONE, ALLEGRO_INVERSE_ALPHA);
}

/* ------------------------------------------------------------------------ */
/* Closing, hiding and building                                              */
/* ------------------------------------------------------------------------ */

int plumaro_gui_close_top_popup(PLUMARO_APP* app) {
    __t_assert(app);
    GUI_STATE* ui = &app->ui;
    if (!app->gui) return 0;
    if (ui->text.open) {
        _text_popup_cancel(app);
    } else if (ui->save_name.open) {
        _hide_entry(app, &ui->save_name);
    } else if (ui->layer_name.open) {
        _hide_entry(app, &ui->layer_name);
    } else if (ui->open_list.open) {
        _hide(app, ui->open_list.window, &ui->open_list.open);
    } else if (ui->palette_name.open) {
        _hide_entry(app, &ui->palette_name);
    } else if (ui->picker.open) {
        _hide(app, ui->picker.window, &ui->picker.open);
    } else if (ui->tip.open) {
        _hide(app, ui->tip.window, &ui->tip.open);
    } else if (ui->help.open) {
        _gui_help_close(app);
    } else if (ui->palette_manage.open) {
        _hide(app, ui->palette_manage.window, &ui->palette_manage.open);
    } else if (ui->newdoc.open) {
        _hide(app, ui->newdoc.window, &ui->newdoc.open);
    } else if (ui->export_png.open) {
        _hide(app, ui->export_png.window, &ui->export_png.open);
    } else if (ui->confirm.open) {
        _hide(app, ui->confirm.window, &ui->confirm.open);
    } else if (ui->notify.open) {
        _hide(app, ui->notify.window, &ui->notify.open);
    } else if (ui->language.requested) {
        ui->language.requested = 0;
        _hide(app, ui->language.window, NULL);
        /* Without an answer the interface speaks English from now on. */
        if (app->language == LANG_UNSET) _choose_language(app, LANG_EN);
    } else {
        return 0;
    }
    _gui_changed(app);
    return 1;
}

void _gui_close_popups_on_hide(PLUMARO_APP* app) {
    GUI_STATE* ui = &app->ui;
    int32_t windows[] = {ui->confirm.window, ui->notify.window, ui->export_png.window, ui->newdoc.window,
                         ui->picker.window,  ui->help.header,   ui->help.body,        ui->palette_manage.window,
                         ui->language.window};
    for (int32_t w : windows) t_gui_close_window(app->gui, w);
    ui->confirm.open = ui->notify.open = ui->export_png.open = ui->newdoc.open = 0;
    ui->picker.open = ui->help.open = ui->palette_manage.open = 0;
}

void _gui_forget_popups_on_collapse(PLUMARO_APP* app) {
    GUI_STATE* ui = &app->ui;
    ui->picker.open = ui->palette_name.open = ui->save_name.open = ui->open_list.open = 0;
    ui->text.open = ui->text.editing = ui->tip.open = ui->palette_manage.open = 0;
}

void _gui_forget_popup_ids(GUI_STATE* ui) {
    memset(&ui->confirm, 0xff, offsetof(GUI_CONFIRM, open));
    memset(&ui->notify, 0xff, offsetof(GUI_NOTIFY, open));
    memset(&ui->export_png, 0xff, offsetof(GUI_EXPORT, open));
    memset(&ui->newdoc, 0xff, offsetof(GUI_NEWDOC, open));
    memset(&ui->palette_name, 0xff, offsetof(GUI_NAME_POPUP, open));
    memset(&ui->save_name, 0xff, offsetof(GUI_NAME_POPUP, open));
    memset(&ui->layer_name, 0xff, offsetof(GUI_NAME_POPUP, open));
    memset(&ui->open_list, 0xff, offsetof(GUI_OPEN_LIST, open));
    memset(&ui->text, 0xff, offsetof(GUI_TEXT_POPUP, open));
    memset(&ui->language, 0xff, offsetof(GUI_LANGUAGE, requested));
    memset(&ui->palette_manage, 0xff, offsetof(GUI_PALETTE_MANAGE, open));
    memset(&ui->picker, 0xff, offsetof(GUI_PICKER, open));
    memset(&ui->tip, 0xff, offsetof(GUI_TIP_POPUP, open));
    memset(&ui->help, 0xff, offsetof(GUI_HELP, open));
}

// A button in a popup, its label translated.
static int32_t _button(PLUMARO_APP* app, int32_t win, const char* label, float x, float y, float w,
                       T_GUI_BUTTON_CB callback) {
    return t_gui_add_button(app->gui, win, i18n_tr(label), x, y, w, app->ui.metrics.row_h, 1, callback, app);
}

// The OK and Cancel pair centred on a row.
static void _ok_cancel(PLUMARO_APP* app, int32_t win, float y, const char* ok, T_GUI_BUTTON_CB on_ok,
                       const char* cancel, T_GUI_BUTTON_CB on_cancel) {
    float pw = _pw(app), bw = _bw(app), g = app->ui.metrics.gap;
    _button(app, win, ok, pw / 2.0f - bw - g, y, bw, on_ok);
    _button(app, win, cancel, pw / 2.0f + g, y, bw, on_cancel);
}

// The confirmation and the notification.
static int _build_confirm_notify(PLUMARO_APP* app) {
    GUI_STATE* ui = &app->ui;
    const GUI_METRICS* m = &ui->metrics;
    float s = m->scale, r = m->row_h, g = m->gap, pw = _pw(app), h = 2.0f * r + g + 20.0f;
    float x = ((float)app->display_w - pw) / 2.0f, y = ((float)app->display_h - h) / 2.0f;
    int32_t win = _gui_popup_window(app, "confirm", x, y, pw, h, GUI_WIN_FIXED, "could not create the confirmation popup");
    if (win < 0) return 0;
    ui->confirm.window = win;
    ui->confirm.message = t_gui_add_label(app->gui, win, "", 10.0f, 10.0f, 540.0f * s, r, 0);
    float bw = _bw(app);
    ui->confirm.yes = _button(app, win, "Clear", pw / 2.0f - bw - g, r + g + 10.0f, bw, _on_confirm_yes);
    _button(app, win, "Cancel", pw / 2.0f + g, r + g + 10.0f, bw, _on_confirm_no);
    t_gui_close_window(app->gui, win);

    win = _gui_popup_window(app, "notify", x, y, pw, h, GUI_WIN_FIXED, "could not create the notification popup");
    if (win < 0) return 0;
    ui->notify.window = win;
    ui->notify.message = t_gui_add_label(app->gui, win, "", 10.0f, 10.0f, 540.0f * s, r, 0);
    _button(app, win, "OK", (pw - bw) / 2.0f, r + g + 10.0f, bw, _on_notify_ok);
    t_gui_close_window(app->gui, win);
    return 1;
}

// The PNG export popup.
static int _build_export(PLUMARO_APP* app) {
    GUI_EXPORT* e = &app->ui.export_png;
    const GUI_METRICS* m = &app->ui.metrics;
    float s = m->scale, r = m->row_h, g = m->gap, l = 0.6f * r, pw = _pw(app), wc = pw - 20.0f;
    float h = 5.0f * (r + g) + r + 20.0f;
    int32_t win = _gui_popup_window(app, "export", ((float)app->display_w - pw) / 2.0f,
                                ((float)app->display_h - h) / 2.0f, pw, h, GUI_WIN_FIXED,
                                "could not create the export popup");
    if (win < 0) return 0;
    e->window = win;
    e->title = t_gui_add_label(app->gui, win, i18n_tr("Export PNG"), 10.0f, 10.0f, 540.0f * s, r, 0);
    float y = r + g + 10.0f;
    t_gui_add_label(app->gui, win, i18n_tr("Name"), 10.0f, y + 4.0f, 70.0f * s, l, 0);
    e->name = t_gui_add_textarea(app->gui, win, 86.0f * s, y, pw - 86.0f * s - 10.0f, r, 0, 63, NULL, NULL);
    y += r + g;
    float half = (wc - g) / 2.0f;
    e->displayed = t_gui_add_toggle_button(app->gui, win, i18n_tr("Displayed area"), 10.0f, y, half, r, 1, 0,
                                           _on_export_mode_displayed, app);
    e->full = t_gui_add_toggle_button(app->gui, win, i18n_tr("Full drawing"), 10.0f + half + g, y, half, r, 1, 0,
                                      _on_export_mode_full, app);
    y += r + g;
    t_gui_add_label(app->gui, win, i18n_tr("Border"), 10.0f, y + 4.0f, 70.0f * s, l, 0);
    e->border = t_gui_add_slider(app->gui, win, 86.0f * s, y, pw - 86.0f * s - 10.0f - m->value_reserve, r, 0, 256,
                                 app->export_border, 0, _on_export_border, app);
    t_gui_slider_set_step(app->gui, e->border, 1.0);
    t_gui_slider_set_format(app->gui, e->border, "%.0f px");
    y += r + g;
    e->include_template = t_gui_add_toggle_button(app->gui, win, i18n_tr("Include template"), 10.0f, y, wc, r, 1,
                                                  app->export_template, _on_export_template_toggle, app);
    y += r + g;
    _ok_cancel(app, win, y, "Export", _on_export_go, "Cancel", _on_export_cancel);
    t_gui_close_window(app->gui, win);
    return 1;
}

// The new-canvas popup.
static int _build_newdoc(PLUMARO_APP* app) {
    GUI_NEWDOC* n = &app->ui.newdoc;
    const GUI_METRICS* m = &app->ui.metrics;
    float s = m->scale, r = m->row_h, g = m->gap, pw = _pw(app), wc = pw - 20.0f, bw = _bw(app);
    float h = 4.0f * (r + g) + r + 20.0f;
    int32_t win = _gui_popup_window(app, "newdoc", ((float)app->display_w - pw) / 2.0f,
                                ((float)app->display_h - h) / 2.0f, pw, h, GUI_WIN_FIXED,
                                "could not create the new-canvas popup");
    if (win < 0) return 0;
    n->window = win;
    t_gui_add_label(app->gui, win, i18n_tr("New canvas (replaces the drawing)"), 10.0f, 10.0f, 540.0f * s, r, 0);
    float e = (wc - 2.0f * g) / 3.0f;
    for (int i = 0; i < 6; i++) {
        char label[8];
        snprintf(label, sizeof(label), "%d", _newdoc_sizes[i]);
        n->presets[i] = t_gui_add_button(app->gui, win, label, 10.0f + (float)(i % 3) * (e + g),
                                         r + g + 10.0f + (float)(i / 3) * (r + g), e, r, 1, _on_newdoc_preset, app);
    }
    float y = 3.0f * (r + g) + 10.0f;
    n->size = t_gui_add_textarea(app->gui, win, 10.0f, y, wc - bw - g, r, 0, 5, NULL, NULL);
    t_gui_textarea_set_text(app->gui, n->size, "4096");
    _button(app, win, "Create", pw - 10.0f - bw, y, bw, _on_newdoc_create);
    _button(app, win, "Cancel", (pw - bw) / 2.0f, y + r + g, bw, _on_newdoc_cancel);
    t_gui_close_window(app->gui, win);
    return 1;
}

// One of the popups with a title, a single-line field and OK and Cancel.
static int _build_entry(PLUMARO_APP* app, GUI_NAME_POPUP* popup, const char* title, const char* heading,
                        int max_length, const char* ok, T_GUI_BUTTON_CB on_ok, T_GUI_BUTTON_CB on_cancel,
                        const char* failure) {
    const GUI_METRICS* m = &app->ui.metrics;
    float s = m->scale, r = m->row_h, g = m->gap, pw = _pw(app);
    int32_t win = _gui_popup_window(app, title, ((float)app->display_w - pw) / 2.0f, 10.0f, pw,
                                3.0f * r + 2.0f * g + 20.0f, GUI_WIN_FIXED, failure);
    if (win < 0) return 0;
    popup->window = win;
    t_gui_add_label(app->gui, win, i18n_tr(heading), 10.0f, 10.0f, 540.0f * s, r, 0);
    popup->field = t_gui_add_textarea(app->gui, win, 10.0f, r + g + 10.0f, pw - 20.0f, r, 0, max_length, NULL, NULL);
    _ok_cancel(app, win, 2.0f * (r + g) + 10.0f, ok, on_ok, "Cancel", on_cancel);
    t_gui_close_window(app->gui, win);
    return 1;
}

// The list of saved documents.
static int _build_open_list(PLUMARO_APP* app) {
    GUI_OPEN_LIST* o = &app->ui.open_list;
    const GUI_METRICS* m = &app->ui.metrics;
    float r = m->row_h, g = m->gap, pw = _pw(app), wc = pw - 20.0f, bw = _bw(app);
    float h = fminf((float)app->display_h - 20.0f, 13.0f * r + 13.0f * g + 20.0f);
    float y = fmaxf(0.0f, ((float)app->display_h - h) / 2.0f);
    int32_t win = _gui_popup_window(app, "openlist", ((float)app->display_w - pw) / 2.0f, y, pw, h, GUI_WIN_FIXED_SCROLL,
                                "could not create the open-list popup");
    if (win < 0) return 0;
    o->window = win;
    o->title = t_gui_add_label(app->gui, win, i18n_tr("Open sketch"), 10.0f, 10.0f, pw - 40.0f - 2.0f * bw, r, 0);
    _button(app, win, "Browse...", wc - 2.0f * bw, 10.0f, bw, _on_open_list_browse);
    _button(app, win, "Cancel", pw - 10.0f - bw, 10.0f, bw, _on_open_list_cancel);
    for (int k = 0; k < GUI_OPEN_ROWS; k++) {
        o->rows[k] = t_gui_add_button(app->gui, win, "", 10.0f, r + g + 10.0f + (float)k * (r + g), wc, r, 1,
                                      _on_open_list_row, app);
        t_gui_widget_set_visible(app->gui, o->rows[k], 0);
    }
    o->used = 0;
    t_gui_close_window(app->gui, win);
    return 1;
}

// The language choice and palette management, 320 pixels wide.
static int _build_language_and_palettes(PLUMARO_APP* app) {
    GUI_STATE* ui = &app->ui;
    const GUI_METRICS* m = &ui->metrics;
    float r = m->row_h, g = m->gap, x = ((float)app->display_w - 320.0f) / 2.0f;
    float h = 5.0f * r + 4.0f * g + 20.0f;
    int32_t win = _gui_popup_window(app, "language", x, ((float)app->display_h - h) / 2.0f, 320.0f, h, GUI_WIN_FIXED,
                                "could not create the language popup");
    if (win < 0) return 0;
    ui->language.window = win;
    t_gui_add_label(app->gui, win, i18n_tr("Choose your language"), 10.0f, 10.0f, 300.0f, r, 1);
    for (int k = 0; k < 4; k++)
        ui->language.buttons[k] = t_gui_add_button(app->gui, win, i18n_language_name(k + 1), 10.0f,
                                                   r + g + 10.0f + (float)k * (r + g), 300.0f, r, 1, _on_lang_choice, app);
    t_gui_close_window(app->gui, win);

    h = 6.0f * r + 5.0f * g + 20.0f;
    win = _gui_popup_window(app, "palmanage", x, ((float)app->display_h - h) / 2.0f, 320.0f, h, GUI_WIN_FIXED,
                        "could not create the palette-management popup");
    if (win < 0) return 0;
    ui->palette_manage.window = win;
    t_gui_add_label(app->gui, win, i18n_tr("Manage palettes"), 10.0f, 10.0f, 300.0f, r, 1);
    const char* labels[4] = {"Rename palette", "Reset palette", "Reset all palettes", "Remove palette"};
    T_GUI_BUTTON_CB callbacks[4] = {_on_palette_rename, _on_palette_reset, _on_palette_reset_all, _on_palette_remove};
    for (int k = 0; k < 4; k++) _button(app, win, labels[k], 10.0f, r + g + 10.0f + (float)k * (r + g), 300.0f, callbacks[k]);
    _button(app, win, "Close", (320.0f - _bw(app)) / 2.0f, r + g + 10.0f + 4.0f * (r + g), _bw(app),
            _on_palette_manage_close);
    t_gui_close_window(app->gui, win);
    return 1;
}

// Reopens what was open before a rebuild (the popups built so far).
static void _reopen_early(PLUMARO_APP* app) {
    GUI_STATE* ui = &app->ui;
    if (ui->language.requested && app->gui_visible) _show(app, ui->language.window, NULL);
    if (ui->palette_manage.open) _show(app, ui->palette_manage.window, &ui->palette_manage.open);
    if (ui->confirm.open) {
        int action = ui->confirm.action;
        t_gui_button_set_label(app->gui, ui->confirm.yes, i18n_tr(_yes_labels[action >= 0 && action < 4 ? action : 0]));
        t_gui_label_set_text(app->gui, ui->confirm.message, ui->confirm.text);
        _show(app, ui->confirm.window, &ui->confirm.open);
    }
    if (ui->palette_name.open) _show_entry(app, &ui->palette_name, palette_name(&app->palette, app->palette.active));
    if (ui->save_name.open) _show_entry(app, &ui->save_name, _doc_name(app));
    if (ui->layer_name.open)
        _show_entry(app, &ui->layer_name, app->doc && app->doc->active_layer ? layer_name_text(app->doc->active_layer) : "NULL");
    if (ui->open_list.open) {
        _open_list_refresh(app);
        _show(app, ui->open_list.window, &ui->open_list.open);
    }
    if (ui->text.open) _text_popup_reopen(app);
    if (ui->notify.open) {
        t_gui_label_set_text(app->gui, ui->notify.message, ui->notify.text);
        _show(app, ui->notify.window, &ui->notify.open);
    }
    if (ui->export_png.open) {
        t_gui_textarea_set_text(app->gui, ui->export_png.name, _doc_name(app));
        _export_refresh(app);
        _show(app, ui->export_png.window, &ui->export_png.open);
    }
    if (ui->newdoc.open) _show(app, ui->newdoc.window, &ui->newdoc.open);
}

// The colour picker.
static int _build_picker(PLUMARO_APP* app) {
    GUI_PICKER* p = &app->ui.picker;
    const GUI_METRICS* m = &app->ui.metrics;
    float s = m->scale, r = m->row_h, g = m->gap, l = 0.6f * r, pw = _pw(app), wc = pw - 20.0f;
    float h = 7.0f * r + 6.0f * g + 20.0f;
    int32_t win = _gui_popup_window(app, "picker", ((float)app->display_w - pw) / 2.0f,
                                ((float)app->display_h - h) / 2.0f, pw, h, GUI_WIN_FIXED,
                                "could not create the color picker popup");
    if (win < 0) return 0;
    p->window = win;
    t_gui_add_label(app->gui, win, i18n_tr("Pick a color"), 10.0f, 10.0f, 540.0f * s, r, 0);
    p->preview = t_gui_add_button(app->gui, win, " ", 10.0f, r + g + 10.0f, wc, r, 1, NULL, NULL);
    const char* names[4] = {"R", "G", "B", "A"};
    float y = 2.0f * (r + g) + 10.0f;
    for (int k = 0; k < 4; k++, y += r + g) {
        t_gui_add_label(app->gui, win, names[k], 10.0f, y + 4.0f, 24.0f, l, 0);
        p->channels[k] = t_gui_add_slider(app->gui, win, 36.0f, y, wc - 26.0f - m->value_reserve, r, 0, 255,
                                          k == 3 ? 255 : 0, 0, _on_picker_channel, app);
        t_gui_slider_set_step(app->gui, p->channels[k], 1.0);
        t_gui_slider_set_format(app->gui, p->channels[k], "%.0f");
    }
    _ok_cancel(app, win, y, "OK", _on_picker_ok, "Cancel", _on_picker_cancel);
    t_gui_close_window(app->gui, win);
    if (p->open) {
        _picker_refresh(app);
        _show(app, win, &p->open);
    }
    return 1;
}

// The brush tip popup.
static int _build_tip(PLUMARO_APP* app) {
    GUI_TIP_POPUP* t = &app->ui.tip;
    const GUI_METRICS* m = &app->ui.metrics;
    float s = m->scale, r = m->row_h, g = m->gap, pw = _pw(app), wc = pw - 20.0f, bw = _bw(app);
    float h = 6.0f * r + 5.0f * g + 20.0f;
    int32_t win = _gui_popup_window(app, "tip", ((float)app->display_w - pw) / 2.0f, ((float)app->display_h - h) / 2.0f,
                                pw, h, GUI_WIN_FIXED, "could not create the tip popup");
    if (win < 0) return 0;
    t->window = win;
    t_gui_add_label(app->gui, win, i18n_tr("Brush tip shape"), 10.0f, 10.0f, 540.0f * s, r, 0);
    float half = (wc - g) / 2.0f;
    for (int k = 0; k < BRUSH_TIP_COUNT; k++)
        t->shapes[k] = t_gui_add_button(app->gui, win, i18n_tr(brush_tip_name(k)), 10.0f + (float)(k % 2) * (half + g),
                                        r + g + 10.0f + (float)(k / 2) * (r + g), half, r, 1, _on_tip_shape, app);
    _button(app, win, "Cancel", (pw - bw) / 2.0f, r + g + 10.0f + 4.0f * (r + g), bw, _on_tip_cancel);
    t_gui_close_window(app->gui, win);
    if (t->open) _show(app, win, &t->open);
    return 1;
}

int _build_popups(PLUMARO_APP* app) {
    __t_assert(app);
    __t_assert(app->gui);
    GUI_STATE* ui = &app->ui;
    if (!_build_confirm_notify(app) || !_build_export(app) || !_build_newdoc(app)) return 0;
    if (!_build_entry(app, &ui->palette_name, "palname", "Palette name", 31, "OK", _on_palette_name_ok,
                      _on_palette_name_cancel, "could not create the palette-name popup"))
        return 0;
    if (!_build_entry(app, &ui->save_name, "savename", "Save sketch as", 63, "Save", _on_save_name_ok,
                      _on_save_name_cancel, "could not create the save-name popup"))
        return 0;
    if (!_build_entry(app, &ui->layer_name, "layername", "Rename layer", 63, "OK", _on_layer_rename_ok,
                      _on_layer_rename_cancel, "could not create the layer-rename popup"))
        return 0;
    if (!_build_open_list(app) || !_build_text_popup(app) || !_build_language_and_palettes(app)) return 0;
    _reopen_early(app);
    if (!_build_picker(app) || !_build_tip(app) || !_build_help_popup(app)) return 0;
    return 1;
}
