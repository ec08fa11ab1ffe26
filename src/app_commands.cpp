/* app_commands: new document, loading, files handed in by the platform and
 * the tool change. */
#include "app_commands.h"

#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "app_internal.h"
#include "app_tools.h"

#include "canvas/brush.h"
#include "canvas/document_exchange.h"
#include "canvas/document_io.h"
#include "canvas/document_kinds.h"
#include "canvas/view.h"
#include "gui/i18n.h"
#include "platform/platform.h"
#include "t_log.h"
#include "t_str.h"

void _app_adopt_document(PLUMARO_APP* app, DOCUMENT* doc) {
    __t_assert_void(app);
    __t_assert_void(doc);
    /* A stroke still open on the old document holds its layer and undo
     * step: drop it, and every other drag, before the layer goes away. */
    plumaro_app_cancel_interaction(app);
    selection_discard(&app->selection);
    form_clear(&app->form);
    if (app->doc) document_free(&app->doc);
    app->doc = doc;
    /* The path of the previous drawing must not receive this one's next save. */
    app->doc_path[0] = 0;
    brush_release_resources();
    view_center(&app->view, doc->width, doc->height, app->display_w, app->display_h);
    app->symmetry.cx = (float)doc->width * 0.5f;
    app->symmetry.cy = (float)doc->height * 0.5f;
    /* The new document's history counts from zero again: a revision equal to
     * the one last stored would otherwise keep its changes out of the session. */
    app->autosave_revision = UINT64_MAX;
    plumaro_app_changed(app, APP_CHANGED_LAYERS | APP_CHANGED_SYMMETRY);
}

void plumaro_app_format_bytes(uint64_t bytes, char* out, size_t size) {
    if (!out || !size) return;
    if (bytes >= ((uint64_t)1 << 30))
        snprintf(out, size, "%.1f GiB", (double)bytes / (double)((uint64_t)1 << 30));
    else
        snprintf(out, size, "%llu MiB", (unsigned long long)((bytes + (1u << 19)) >> 20));
}

void plumaro_app_memory_notice(PLUMARO_APP* app, int width, int height, int layers, uint64_t needed, uint64_t budget) {
    __t_assert_void(app);
    char need[32], have[32], notice[256];
    plumaro_app_format_bytes(needed, need, sizeof(need));
    plumaro_app_format_bytes(budget, have, sizeof(have));
    snprintf(notice, sizeof(notice), i18n_tr("Not enough memory for a %dx%d drawing with %d layers (%s needed, %s available)"),
             width, height, layers, need, have);
    plumaro_app_notice(app, APP_NOTICE_FAILURE, notice);
}

int plumaro_app_load_notice_given(void) {
    const DOCUMENT_LOAD_STATUS* status = document_last_load_status();
    return status->error == DOCUMENT_LOAD_MEMORY || status->reason[0] || status->unknown_blend[0];
}

// The last part of a path, for notices.
static const char* _app_file_name(const char* path) {
    const char* slash = strrchr(path, '/');
    return slash ? slash + 1 : path;
}

// Creates a square document with its first layer; null when either fails or it would not fit in memory.
static DOCUMENT* _app_blank_document(int size) {
    if (!document_memory_fits(size, size, 1, NULL, NULL)) return NULL;
    DOCUMENT* doc = document_new(size, size);
    if (!doc) return NULL;
    if (!document_add_layer(doc, "Layer 1")) {
        document_free(&doc);
        return NULL;
    }
    return doc;
}

int _app_new_document_within(PLUMARO_APP* app, int size, int max_bitmap_size) {
    __t_assert(app);
    size = app_range_clamp(APP_RANGE_CANVAS_SIZE, size);
    if (max_bitmap_size > 0 && max_bitmap_size < size) {
        t_log(LOG_INFO, "canvas %d clamped to the GPU bitmap limit %d", size, max_bitmap_size);
        size = max_bitmap_size;
        if (size < APP_RANGE_CANVAS_SIZE.min) {
            t_log(LOG_ERR, "could not allocate any canvas, keeping the current document");
            return 0;
        }
    }
    DOCUMENT* doc = NULL;
    for (;;) {
        doc = _app_blank_document(size);
        if (doc || size < 128) break;
        size /= 2;
    }
    if (!doc) {
        t_log(LOG_ERR, "could not allocate any canvas, keeping the current document");
        return 0;
    }
    _app_adopt_document(app, doc);
    t_log(LOG_INFO, "new %dx%d document", doc->width, doc->height);
    return 1;
}

int plumaro_app_new_document(PLUMARO_APP* app, int size) {
    __t_assert(app);
    int limit = app->display ? al_get_display_option(app->display, ALLEGRO_MAX_BITMAP_SIZE) : 0;
    return _app_new_document_within(app, size, limit);
}

int plumaro_app_load_document(PLUMARO_APP* app, const char* path) {
    __t_assert(app);
    __t_assert(path);
    DOCUMENT* doc = document_load_any(path);
    const DOCUMENT_LOAD_STATUS* status = document_last_load_status();
    char notice[1400];
    if (!doc) {
        /* The current drawing stays; a good file too large for the memory
         * there is is not called broken, and a file from another program
         * says what was wrong with it. */
        if (status->reason[0]) {
            snprintf(notice, sizeof(notice), i18n_tr("Could not open %s: %s."), _app_file_name(path),
                     i18n_tr(status->reason));
            plumaro_app_notice(app, APP_NOTICE_FAILURE, notice);
        } else if (status->error == DOCUMENT_LOAD_MEMORY) {
            plumaro_app_memory_notice(app, status->width, status->height, status->layers, status->needed,
                                      status->budget);
        }
        return 0;
    }
    _app_adopt_document(app, doc);
    if (status->unknown_blend[0]) {
        snprintf(notice, sizeof(notice), i18n_tr("The blend mode %s is not known here; its layers were opened as Normal."),
                 status->unknown_blend);
        plumaro_app_notice(app, APP_NOTICE_INFO, notice);
    }
    app->dirty = 1;
    t_log(LOG_INFO, "loaded document %s", path);
    return 1;
}

// 1 when some layer of the drawing holds paint.
static int _app_has_paint(DOCUMENT* doc) {
    int count = doc ? document_layer_count(doc) : 0;
    for (int i = 0; i < count; i++) {
        int x0, y0, x1, y1;
        LAYER* layer = document_layer_at(doc, i);
        if (layer && layer_content_box(layer, &x0, &y0, &x1, &y1)) return 1;
    }
    return 0;
}

/* A file handed in at start replaces the last session's drawing, which the
 * user has not seen in this run and may never have saved under a name: a
 * drawing with paint and no file of its own is written aside first. 1 with
 * its name in `name` and its path in `path`. */
static int _app_keep_replaced(PLUMARO_APP* app, char* name, size_t name_size, char* path, size_t path_size) {
    if (app->doc_path[0] || !_app_has_paint(app->doc) || platform_storage_ready() != 1) return 0;
    plumaro_app_finish_edits(app);
    if (!_app_dated_save_name("kept", name, name_size, path, path_size)) return 0;
    return document_save(app->doc, path);
}

void _app_drain_import(PLUMARO_APP* app) {
    __t_assert_void(app);
    char path[1024];
    if (platform_take_import(path, sizeof(path)) != 1) return;
    char kept[96] = "", kept_path[1024] = "";
    int keeping = _app_keep_replaced(app, kept, sizeof(kept), kept_path, sizeof(kept_path));
    int loaded = plumaro_app_open_file(app, path, keeping ? NULL : i18n_tr("Loaded from disk."),
                                       i18n_tr("Could not load that file."));
    if (keeping && !loaded) {
        unlink(kept_path); /* the drawing stays open, so the copy is not needed */
        keeping = 0;
    }
    if (keeping) {
        /* Said last so that no other notice covers where the drawing went. */
        char notice[256];
        snprintf(notice, sizeof(notice), i18n_tr("Last drawing kept as %s"), kept);
        t_log(LOG_INFO, "the replaced drawing was kept as %s", kept_path);
        plumaro_app_notice(app, APP_NOTICE_INFO, notice);
    }
    app->dirty = 1;
}

void plumaro_app_set_tool(PLUMARO_APP* app, int tool) {
    __t_assert_void(app);
    __t_assert_void(tool >= 0 && tool < TOOL_COUNT);
    plumaro_app_commit_form(app); /* a line or curve being edited is painted first */
    app->tool = tool;
    app->brush.eraser = 0;
    app->dirty = 1;
    app->gui_cache_valid = 0;
}

void plumaro_app_set_eraser(PLUMARO_APP* app) {
    __t_assert_void(app);
    plumaro_app_set_tool(app, TOOL_BRUSH);
    app->brush.eraser = 1;
}

// Tells how an open went: `loaded` or `failed` (null: nothing), unless the load told its own story.
static int _app_tell_open(PLUMARO_APP* app, int ok, const char* loaded, const char* failed) {
    /* A load that went wrong in its own way, or only in part, has said so. */
    if (plumaro_app_load_notice_given()) return ok;
    const char* text = ok ? loaded : failed;
    if (text) plumaro_app_notice(app, ok ? APP_NOTICE_INFO : APP_NOTICE_FAILURE, text);
    return ok;
}

void plumaro_app_export_sketch(PLUMARO_APP* app) {
    __t_assert_void(app);
    __t_assert_void(app->doc);
    char path[1024];
    if (!platform_storage_ready() || !platform_save_path("sketch.png", path, sizeof(path))) return;
    /* A key gives no other sign that anything was written. */
    char notice[1200];
    if (document_export_png(app->doc, path)) {
        platform_file_written();
        snprintf(notice, sizeof(notice), i18n_tr("Exported %dx%d: %s"), app->doc->width, app->doc->height, path);
        plumaro_app_notice(app, APP_NOTICE_INFO, notice);
    } else {
        plumaro_app_notice(app, APP_NOTICE_FAILURE, i18n_tr("Export failed."));
    }
}

int plumaro_app_open_sketch(PLUMARO_APP* app) {
    __t_assert(app);
    char path[1024];
    if (app->stroke.active || !platform_storage_ready() || !platform_save_path("sketch.plm", path, sizeof(path)))
        return 0;
    /* A sketch shared as OpenRaster is opened when there is no drawing of that name. */
    const char* name = "sketch.plm";
    char ora[1024];
    if (!t_file_is_regular(path) && platform_save_path("sketch.ora", ora, sizeof(ora)) && t_file_is_regular(ora)) {
        snprintf(path, sizeof(path), "%s", ora);
        name = "sketch.ora";
    }
    char notice[1100];
    snprintf(notice, sizeof(notice), i18n_tr("Loaded: %s"), name);
    /* The sketch is the save folder's scratch file: saves still ask where to go. */
    return _app_tell_open(app, plumaro_app_load_document(app, path), notice, i18n_tr("No saved document found."));
}

int plumaro_app_open_file(PLUMARO_APP* app, const char* path, const char* loaded, const char* failed) {
    __t_assert(app);
    __t_assert(path);
    int ok = plumaro_app_load_document(app, path);
    if (ok) plumaro_app_document_opened(app, path);
    return _app_tell_open(app, ok, loaded, failed);
}

void plumaro_app_document_opened(PLUMARO_APP* app, const char* path) {
    __t_assert_void(app);
    __t_assert_void(path);
    /* Saves go back to a drawing's own file; an opened picture is never
     * overwritten by a drawing, so it gives only its name. */
    if (!document_kind(document_last_load_kind())->save)
        app->doc_path[0] = 0;
    else
        snprintf(app->doc_path, sizeof(app->doc_path), "%s", path);
    snprintf(app->opened_path, sizeof(app->opened_path), "%s", path);
    plumaro_app_changed(app, APP_CHANGED_OPENED);
}
