/* app_persist: settings, palette and session files in the save folder. */
#include "app_persist.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "app_commands.h"
#include "app_internal.h"
#include "canvas/document_io.h"
#include "gui/i18n.h"
#include "platform/platform.h"
#include "t_log.h"
#include "t_str.h"

/* ------------------------------------------------------------------------ */
/* Settings record                                                           */
/* ------------------------------------------------------------------------ */

// Stores a 32-bit value little-endian.
static void _put32(uint8_t* at, uint32_t v) {
    at[0] = (uint8_t)v;
    at[1] = (uint8_t)(v >> 8);
    at[2] = (uint8_t)(v >> 16);
    at[3] = (uint8_t)(v >> 24);
}

// Reads a 32-bit little-endian value.
static uint32_t _get32(const uint8_t* at) {
    return (uint32_t)at[0] | ((uint32_t)at[1] << 8) | ((uint32_t)at[2] << 16) | ((uint32_t)at[3] << 24);
}

// Reads a signed field clamped to lo..hi.
static int32_t _get_clamped(const uint8_t* at, int32_t lo, int32_t hi) {
    int32_t v = (int32_t)_get32(at);
    return v < lo ? lo : (v > hi ? hi : v);
}

// Reads a signed field held in a range.
static int32_t _get_in(const uint8_t* at, APP_RANGE range) { return app_range_clamp(range, (int32_t)_get32(at)); }

// A stored boolean: true when its first byte is not zero.
static uint8_t _get_bool(const uint8_t* at) { return at[0] != 0; }

// A float truncated to a stored integer; out-of-range values (and NaN) are
// brought into range first, since converting them is undefined.
static uint32_t _trunc(float v) {
    if (!(v >= -2147483520.0f)) return (uint32_t)(v > 0.0f ? INT32_MAX : (v < 0.0f ? INT32_MIN : 0));
    if (v > 2147483520.0f) return (uint32_t)INT32_MAX;
    return (uint32_t)(int32_t)v;
}

// A fraction stored as hundredths, rounded.
static uint32_t _hundredths(float v) { return _trunc(v * 100.0f + 0.5f); }

#define _SECTION_BITS 0x0007007Fu /* toolbar sections 0-6, layer panel sections 16-18 */

void plumaro_app_settings_encode(const PLUMARO_APP* app, uint8_t out[APP_SETTINGS_SIZE]) {
    __t_assert_void(app);
    __t_assert_void(out);
    memset(out, 0, APP_SETTINGS_SIZE);
    memcpy(out, "PSET", 4);
    out[4] = APP_SETTINGS_VERSION;
    _put32(out + 8, app->pressure_speed ? 1 : 0);
    _put32(out + 12, app->palm_rejection ? 1 : 0);
    _put32(out + 16, (uint32_t)app->language);
    _put32(out + 20, (uint32_t)app->tool);
    _put32(out + 24, app->brush.eraser ? 1 : 0);
    _put32(out + 28, app->brush_preset >= 0 ? (uint32_t)(app->brush_preset + 1) : 0);
    _put32(out + 32, _trunc(app->brush.size));
    _put32(out + 36, _hundredths(app->brush.opacity));
    _put32(out + 40, _hundredths(app->brush.flow));
    _put32(out + 44, _hundredths(app->brush.hardness));
    unsigned char r, g, b, a;
    al_unmap_rgba(app->brush.color, &r, &g, &b, &a);
    _put32(out + 48, ((uint32_t)r << 24) | ((uint32_t)g << 16) | ((uint32_t)b << 8) | (uint32_t)a);
    _put32(out + 52, (uint32_t)app->brush.tip);
    _put32(out + 56, app->grid.visible ? 1 : 0);
    _put32(out + 60, app->grid.snap ? 1 : 0);
    _put32(out + 64, app->grid.diagonals ? 1 : 0);
    _put32(out + 68, _trunc(app->grid.spacing));
    _put32(out + 72, (uint32_t)app->symmetry.mode);
    _put32(out + 76, (uint32_t)app->symmetry.segments);
    _put32(out + 80, app->shapes_solid ? 1 : 0);
    _put32(out + 84, app->section_flags & _SECTION_BITS);
    _put32(out + 88, app->toolbar_collapsed ? 1 : 0);
    _put32(out + 92, app->layer_panel_collapsed ? 1 : 0);
    _put32(out + 96, _trunc(app->layer_panel_width));
    _put32(out + 100, app->export_area ? 1 : 0);
    _put32(out + 104, (uint32_t)app->export_border);
    _put32(out + 108, app->export_template ? 1 : 0);
    _put32(out + 112, (uint32_t)app->text_size);
    _put32(out + 116, (uint32_t)app->text_font);
    _put32(out + 120, (uint32_t)app->ui_size);
    _put32(out + 124, (uint32_t)app->stabilizer);
}

// Takes every field from the tool up to the text font.
static void _settings_apply_body(PLUMARO_APP* app, const uint8_t* in) {
    app->tool = _get_clamped(in + 20, 0, 5);
    app->brush.eraser = _get_bool(in + 24);
    int64_t preset = (int64_t)(int32_t)_get32(in + 28) - 1; /* a stored INT32_MIN must not overflow */
    app->brush_preset = (preset >= 0 && preset < brush_preset_count()) ? (int32_t)preset : -1;
    app->brush.size = (float)_get_in(in + 32, APP_RANGE_BRUSH_SIZE);
    app->brush.opacity = (float)_get_in(in + 36, APP_RANGE_OPACITY) / 100.0f;
    app->brush.flow = (float)_get_in(in + 40, APP_RANGE_FLOW) / 100.0f;
    app->brush.hardness = (float)_get_in(in + 44, APP_RANGE_HARDNESS) / 100.0f;
    uint32_t c = _get32(in + 48);
    app->brush.color = al_map_rgba((unsigned char)(c >> 24), (unsigned char)(c >> 16), (unsigned char)(c >> 8),
                                   (unsigned char)c);
    app->ui.selected_swatch = -1; /* the chip shows the stored colour; no swatch is marked */
    app->brush.tip = _get_clamped(in + 52, 0, BRUSH_TIP_COUNT - 1);
    app->grid.visible = _get_bool(in + 56);
    app->grid.snap = _get_bool(in + 60);
    app->grid.diagonals = _get_bool(in + 64);
    app->grid.spacing = (float)_get_in(in + 68, APP_RANGE_GRID_SIZE);
    app->symmetry.mode = _get_clamped(in + 72, 0, 4);
    app->symmetry.segments = _get_clamped(in + 76, APP_RANGE_RADIAL_SPLITS.min, SYMMETRY_MAX_POINTS);
    app->shapes_solid = _get_bool(in + 80);
    app->section_flags = _get32(in + 84) & _SECTION_BITS;
    app->toolbar_collapsed = _get_bool(in + 88);
    app->layer_panel_collapsed = _get_bool(in + 92);
    app->layer_panel_width = (float)_get_clamped(in + 96, 0, 4096);
    app->export_area = _get_bool(in + 100);
    app->export_border = _get_in(in + 104, APP_RANGE_EXPORT_BORDER);
    app->export_template = _get_bool(in + 108);
    app->text_size = _get_in(in + 112, APP_RANGE_TEXT_SIZE);
    app->text_font = _get_in(in + 116, APP_RANGE_TEXT_FONT);
    app->settings_applied = 1;
}

int plumaro_app_settings_apply(PLUMARO_APP* app, const uint8_t* bytes, size_t count) {
    __t_assert(app);
    __t_assert(bytes || count == 0);
    if (count < 16 || memcmp(bytes, "PSET", 4) != 0) return 0;
    app->language = 0;
    app->pressure_speed = _get_bool(bytes + 8);
    app->palm_rejection = _get_bool(bytes + 12);
    if (count >= 20) {
        app->language = bytes[16] > 4 ? 0 : bytes[16];
        i18n_set_language(app->language);
    } else {
        i18n_set_language(0);
    }
    if (count >= 120) _settings_apply_body(app, bytes);
    if (count >= 124) app->ui_size = _get_in(bytes + 120, APP_RANGE_UI_SIZE);
    /* Older files end before the stabilizer: it is off for them. */
    app->stabilizer = count >= 128 ? _get_in(bytes + 124, APP_RANGE_STABILIZER) : 0;
    return 1;
}

/* ------------------------------------------------------------------------ */
/* Files                                                                     */
/* ------------------------------------------------------------------------ */

// Reads at most `max` bytes of a regular file; -1 when there is none (a pipe or a folder is none).
static long _read_head(const char* path, uint8_t* out, size_t max) {
    FILE* file = t_file_open_read(path);
    if (!file) {
        if (errno == EINVAL) t_log(LOG_ERR, "%s is not a regular file; ignored", path);
        return -1;
    }
    size_t count = fread(out, 1, max, file);
    fclose(file);
    return (long)count;
}

int plumaro_app_settings_load(PLUMARO_APP* app) {
    __t_assert(app);
    char path[1024];
    if (!platform_save_path(APP_SETTINGS_FILE, path, sizeof(path))) return 0;
    uint8_t bytes[APP_SETTINGS_READ_MAX];
    memset(bytes, 0, sizeof(bytes));
    long got = _read_head(path, bytes, sizeof(bytes));
    if (got < 0) {
        t_log(LOG_INFO, "settings load: no file at %s (defaults)", path);
        return 0;
    }
    size_t count = (size_t)got;
    int result = plumaro_app_settings_apply(app, bytes, count);
    t_log(LOG_INFO, "settings load: %zu bytes, pressure %d, palm %d, language %d", count, app->pressure_speed,
          app->palm_rejection, app->language);
    return result;
}

int plumaro_app_settings_persist(PLUMARO_APP* app) {
    __t_assert(app);
    char path[1024];
    if (!platform_save_path(APP_SETTINGS_FILE, path, sizeof(path))) return 1;
    if (platform_storage_ready() != 1) return 1;
    uint8_t record[APP_SETTINGS_SIZE];
    plumaro_app_settings_encode(app, record);
    int ok = t_file_write_atomic(path, record, sizeof(record));
    if (ok) {
        t_log(LOG_INFO, "settings save: v3 session state (%zu bytes) -> %s", sizeof(record), path);
    } else {
        snprintf(app->store_error, sizeof(app->store_error), "%s", strerror(errno ? errno : EIO));
        t_log(LOG_ERR, "settings save: could not open %s for write", path);
    }
    platform_file_written();
    app->settings_pending = 0;
    return ok;
}

int plumaro_app_palette_load(PLUMARO_APP* app) {
    __t_assert(app);
    char path[1024];
    if (!platform_save_path(APP_PALETTE_FILE, path, sizeof(path))) return 0;
    palette_set_defaults(&app->palette);
    uint8_t bytes[APP_PALETTE_READ_MAX];
    long got = _read_head(path, bytes, sizeof(bytes));
    if (got < 0) {
        t_log(LOG_INFO, "palette load: no file at %s (factory defaults)", path);
        return 0;
    }
    int result = palette_deserialize(&app->palette, bytes, (size_t)got);
    t_log(LOG_INFO, "palette load: %zu bytes, %d user palette(s), active %d", (size_t)got, app->palette.count,
          app->palette.active);
    return result;
}

void plumaro_app_palette_persist(PLUMARO_APP* app) {
    __t_assert_void(app);
    char path[1024];
    if (!platform_save_path(APP_PALETTE_FILE, path, sizeof(path))) return;
    if (platform_storage_ready() != 1) return;
    T_STR* image = palette_serialize(&app->palette);
    if (!image) return;
    if (t_file_write_atomic(path, image->data, image->length))
        t_log(LOG_INFO, "palette save: %zu bytes, %d user palette(s) -> %s", image->length, app->palette.count, path);
    else
        t_log(LOG_ERR, "palette save: could not open %s for write", path);
    t_str_free(&image);
    platform_file_written();
    app->palette_pending = 0;
}

int plumaro_app_session_persist(PLUMARO_APP* app) {
    __t_assert(app);
    char path[1024];
    if (!platform_save_path(APP_SESSION_FILE, path, sizeof(path))) return 1;
    if (platform_storage_ready() != 1 || !app->doc) return 1;
    T_ATOMIC_FILE af;
    if (!t_file_begin(&af, path)) {
        snprintf(app->store_error, sizeof(app->store_error), "%s", strerror(af.error ? af.error : EIO));
        t_log(LOG_ERR, "could not save document to %s", path);
        return 0;
    }
    if (!document_write(app->doc, &af)) {
        int error = errno ? errno : EIO;
        t_file_abort(&af);
        snprintf(app->store_error, sizeof(app->store_error), "%s", strerror(error));
        t_log(LOG_ERR, "could not save document to %s", path);
        return 0;
    }
    /* The commit flushes the temporary file to disk before it replaces the
     * session, and removes it when it cannot. */
    char tmp_path[sizeof(af.tmp_path)];
    memcpy(tmp_path, af.tmp_path, sizeof(tmp_path));
    if (!t_file_commit(&af)) {
        snprintf(app->store_error, sizeof(app->store_error), "%s", strerror(af.error ? af.error : EIO));
        t_log(LOG_ERR, "session persist: rename %s -> %s failed", tmp_path, path);
        return 0;
    }
    platform_file_written();
    t_log(LOG_INFO, "session persisted to %s", path);
    return 1;
}

int _app_dated_save_name(const char* kind, char* name, size_t name_size, char* path, size_t path_size) {
    __t_assert(kind);
    __t_assert(name);
    __t_assert(path);
    char stamp[32], candidate[96];
    time_t now = time(NULL);
    struct tm local;
    localtime_r(&now, &local);
    strftime(stamp, sizeof(stamp), "%Y%m%d-%H%M%S", &local);
    for (int n = 0; n < 100; n++) {
        if (n == 0)
            snprintf(candidate, sizeof(candidate), "session-%s-%s.plm", kind, stamp);
        else
            snprintf(candidate, sizeof(candidate), "session-%s-%s-%d.plm", kind, stamp, n);
        if (!platform_save_path(candidate, path, path_size)) return 0;
        if (access(path, F_OK) == 0) continue; /* an earlier one of the same second stays */
        snprintf(name, name_size, "%s", candidate);
        return 1;
    }
    t_log(LOG_ERR, "no free name for a kept session in the save folder");
    return 0;
}

// Moves an unreadable session aside under a dated name; 1 with that name in `out`.
static int _session_set_aside(const char* path, char* out, size_t size) {
    char target[1024];
    if (!_app_dated_save_name("unreadable", out, size, target, sizeof(target))) return 0;
    if (rename(path, target) != 0) {
        t_log(LOG_ERR, "could not keep the unreadable session %s as %s: %s", path, target, strerror(errno));
        return 0;
    }
    return 1;
}

int plumaro_app_session_restore(PLUMARO_APP* app) {
    __t_assert(app);
    char path[1024];
    if (!platform_save_path(APP_SESSION_FILE, path, sizeof(path))) return 0;
    if (platform_storage_ready() != 1) return 0;
    if (!t_file_is_regular(path)) return 0;
    if (plumaro_app_load_document(app, path)) {
        app->autosave_revision = app->doc->undo->revision; /* the session file holds it as it is */
        return 1;
    }
    /* Starting blank would store the blank drawing over the last one at the
     * next quit: the file is kept under another name first. */
    char kept[64];
    if (_session_set_aside(path, kept, sizeof(kept))) {
        t_log(LOG_ERR, "the last session could not be opened; kept as %s", kept);
        char notice[256];
        snprintf(notice, sizeof(notice), i18n_tr("Your last drawing could not be opened; it was kept as %s"), kept);
        plumaro_app_notice(app, APP_NOTICE_FAILURE, notice);
    }
    return 0;
}
