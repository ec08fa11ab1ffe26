/* t_clipboard: the system clipboard through Allegro's display clipboard,
 * serialised by one process-wide mutex. */
#include "t_clipboard.h"

#include <stdlib.h>
#include <string.h>

#include <mutex>

#include "t_log.h"
#include "t_utf8.h"

static std::mutex _clip_mutex;
static int _clip_ready = 0;
static ALLEGRO_DISPLAY* _clip_display = NULL;

static const char* _text_mimes[] = {"UTF8_STRING", "STRING", "TEXT", "text/plain", "text/plain;charset=utf-8"};

/* Marks the backend ready and logs it once per initialisation (mutex held). */
static void _ready_locked(void) {
    if (!_clip_ready) {
        _clip_ready = 1;
        t_log(LOG_INFO, "t_clipboard: Allegro clipboard backend ready");
    }
}

/* The display whose clipboard is used, or null (mutex held). */
static ALLEGRO_DISPLAY* _display_locked(void) {
    if (_clip_display) return _clip_display;
    return al_is_system_installed() ? al_get_current_display() : NULL;
}

int t_clipboard_init(void) {
    std::lock_guard<std::mutex> lock(_clip_mutex);
    _ready_locked();
    return 1;
}

void t_clipboard_shutdown(void) {
    std::lock_guard<std::mutex> lock(_clip_mutex);
    _clip_ready = 0;
}

void t_clipboard_set_display(ALLEGRO_DISPLAY* display) {
    std::lock_guard<std::mutex> lock(_clip_mutex);
    _clip_display = display;
}

int t_clipboard_is_text_mime(const char* mime_type) {
    if (!mime_type) return 0;
    for (size_t i = 0; i < sizeof(_text_mimes) / sizeof(_text_mimes[0]); i++)
        if (strcmp(mime_type, _text_mimes[i]) == 0) return 1;
    return 0;
}

/* Stores text of `len` bytes (not necessarily terminated) on the clipboard (mutex held). */
static int _set_text_locked(const char* text, size_t len) {
    ALLEGRO_DISPLAY* display = _display_locked();
    if (!display) {
        t_log(LOG_ERR, "t_clipboard: no display to reach the clipboard");
        return -1;
    }
    char* copy = NULL;
    Malloc(copy, char, len + 1, return -1);
    if (len) memcpy(copy, text, len);
    int ok = al_set_clipboard_text(display, copy);
    free(copy);
    if (!ok) {
        t_log(LOG_ERR, "t_clipboard: failed to set the Allegro clipboard");
        return -1;
    }
    return 0;
}

/* A malloc'd copy of the clipboard text, or null (mutex held). Another
 * program put it there: it is repaired to well-formed UTF-8 here, before
 * any caller measures or draws it. */
static char* _get_text_locked(void) {
    ALLEGRO_DISPLAY* display = _display_locked();
    if (!display || !al_clipboard_has_text(display)) return NULL;
    char* text = al_get_clipboard_text(display);
    if (!text) return NULL;
    T_STR* fixed = NULL;
    long replaced = t_utf8_repair(&fixed, text, strlen(text));
    al_free(text);
    if (replaced < 0) return NULL;
    if (replaced > 0) t_log(LOG_NOTICE, "t_clipboard: %ld ill-formed UTF-8 sequences replaced", replaced);
    char* copy = NULL;
    Malloc(copy, char, fixed->length + 1, t_str_free(&fixed); return NULL);
    memcpy(copy, fixed->data, fixed->length);
    t_str_free(&fixed);
    return copy;
}

int t_clipboard_set(int selection, const char* text) {
    if (selection != 0 && selection != 1) return -1;
    std::lock_guard<std::mutex> lock(_clip_mutex);
    _ready_locked();
    if (selection == 1) return 0;
    return _set_text_locked(text ? text : "", text ? strlen(text) : 0);
}

char* t_clipboard_get_text(int selection) {
    if (selection != 0 && selection != 1) return NULL;
    std::lock_guard<std::mutex> lock(_clip_mutex);
    _ready_locked();
    if (selection == 1) return NULL;
    return _get_text_locked();
}

int t_clipboard_set_data(int selection, const char* mime_type, const void* data, size_t length) {
    if (selection != 0 && selection != 1) return -1;
    if (length > T_CLIPBOARD_MAX_DATA) return -1;
    if (data && length && !mime_type) return -1;
    /* Only text can be carried by this backend: other types fail before
     * the clipboard is touched, so what is on it stays there. */
    if (data && length && !t_clipboard_is_text_mime(mime_type)) return -1;
    std::lock_guard<std::mutex> lock(_clip_mutex);
    _ready_locked();
    if (selection == 1) return 0;
    if (!data || !length) return _set_text_locked("", 0);
    return _set_text_locked((const char*)data, strnlen((const char*)data, length));
}

void* t_clipboard_get_data(int selection, const char* const* mime_types, size_t count, size_t* out_size,
                           int* out_index) {
    if (out_index) *out_index = -1;
    __t_assert_null(out_size);
    *out_size = 0;
    if (selection != 0 && selection != 1) return NULL;
    if (!mime_types) return NULL;
    std::lock_guard<std::mutex> lock(_clip_mutex);
    _ready_locked();
    if (selection == 1) return NULL;
    for (size_t i = 0; i < count; i++) {
        const char* mime = mime_types[i];
        if (!mime || !mime[0]) continue;
        if (!t_clipboard_is_text_mime(mime)) continue; /* no images or other types here */
        char* text = _get_text_locked();
        if (!text) continue;
        *out_size = strlen(text);
        if (out_index) *out_index = (int)i;
        return text;
    }
    return NULL;
}
