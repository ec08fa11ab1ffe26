/* layer: creation, renaming and rebuilding of raster layers. */
#include "canvas/layer.h"

#include <stdlib.h>
#include <string.h>

#include <atomic>

#include "t_log.h"

/* ------------------------------------------------------------------------ */
/* Checked bitmaps                                                           */
/* ------------------------------------------------------------------------ */

/* Allocations that failed inside the graphics library. Its memory bitmaps
 * can come back without their pixels when memory runs out, so every
 * creation compares this count before and after. */
static std::atomic<unsigned long> _layer_alloc_failures{0};
/* Set while a backup is made: its pixels come zeroed from the system, so a
 * 4096 x 4096 backup is not written (and faulted in) before the first frame.
 * Per thread, since a document's layers are decoded beside the main thread. */
static thread_local int _layer_zeroed_alloc = 0;

static void* _layer_malloc(size_t n, int, const char*, const char*) {
    void* p = _layer_zeroed_alloc ? calloc(1, n) : malloc(n);
    if (!p && n) _layer_alloc_failures++;
    return p;
}

static void _layer_free_memory(void* p, int, const char*, const char*) { free(p); }

static void* _layer_realloc(void* p, size_t n, int, const char*, const char*) {
    void* q = realloc(p, n);
    if (!q && n) _layer_alloc_failures++;
    return q;
}

static void* _layer_calloc(size_t count, size_t n, int, const char*, const char*) {
    void* p = calloc(count, n);
    if (!p && count && n) _layer_alloc_failures++;
    return p;
}

// Routes the library's allocations through the counting wrappers (once).
static void _layer_guard_memory(void) {
    static int installed = 0;
    static ALLEGRO_MEMORY_INTERFACE guard = {_layer_malloc, _layer_free_memory, _layer_realloc, _layer_calloc};
    if (installed) return;
    installed = 1;
    al_set_memory_interface(&guard);
}

// A bitmap in the raw byte order, checked for pixels that never came; zeroed on request.
static ALLEGRO_BITMAP* _layer_create_checked(int width, int height, int flags, int zeroed) {
    if (width <= 0 || height <= 0) return NULL;
    _layer_guard_memory();
    int old_flags = al_get_new_bitmap_flags();
    int old_format = al_get_new_bitmap_format();
    al_set_new_bitmap_format(ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE);
    al_set_new_bitmap_flags(flags);
    unsigned long failures = _layer_alloc_failures;
    _layer_zeroed_alloc = zeroed;
    ALLEGRO_BITMAP* bitmap = al_create_bitmap(width, height);
    _layer_zeroed_alloc = 0;
    al_set_new_bitmap_flags(old_flags);
    al_set_new_bitmap_format(old_format);
    if (bitmap && _layer_alloc_failures != failures) {
        t_log(LOG_ERR, "out of memory making a %dx%d bitmap", width, height);
        al_destroy_bitmap(bitmap);
        bitmap = NULL;
    }
    return bitmap;
}

ALLEGRO_BITMAP* layer_create_bitmap(int width, int height, int flags) {
    return _layer_create_checked(width, height, flags, 0);
}

ALLEGRO_BITMAP* layer_create_zeroed_bitmap(int width, int height) {
    return _layer_create_checked(width, height, ALLEGRO_MEMORY_BITMAP, 1);
}

const char* layer_name_text(const LAYER* layer) {
    return (layer && layer->name && layer->name->data) ? layer->name->data : "NULL";
}

// Zeroes every row of a bitmap through a write-only lock in RGBA byte order;
// memory that came zeroed from the system is only locked, not written, so
// its pages cost nothing until something is drawn there.
static int _layer_zero_bitmap(ALLEGRO_BITMAP* bitmap, int zeroed) {
    ALLEGRO_LOCKED_REGION* lock =
        al_lock_bitmap(bitmap, ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE, ALLEGRO_LOCK_WRITEONLY);
    if (!lock) return 0;
    int w = al_get_bitmap_width(bitmap), h = al_get_bitmap_height(bitmap);
    if (!zeroed)
        for (int y = 0; y < h; y++) memset((uint8_t*)lock->data + (intptr_t)y * lock->pitch, 0, (size_t)w * 4);
    al_unlock_bitmap(bitmap);
    return 1;
}

/* Set while the next layers' video bitmaps are to be made later. */
static int _defer_video = 0;

void layer_defer_video(int defer) { _defer_video = defer != 0; }

LAYER* layer_new(const char* name, int width, int height) {
    __t_assert_null(name);
    if (width <= 0 || height <= 0) {
        t_log(LOG_ERR, "bad layer size %dx%d", width, height);
        return NULL;
    }
    LAYER* layer = NULL;
    Malloc(layer, LAYER, 1, return NULL);
    layer->name = t_str_from(name);
    if (!layer->name) {
        free(layer);
        return NULL;
    }
    layer->opacity = 1.0f;
    layer->visible = 1;
    layer->locked = 0;
    layer->blend = LAYER_BLEND_NORMAL;
    static uint32_t serials = 0;
    layer->serial = ++serials;

    /* Created in the byte order raw access uses, so locks copy instead of converting. */
    if (!_defer_video) layer->bitmap = layer_create_bitmap(width, height, ALLEGRO_VIDEO_BITMAP | ALLEGRO_MIN_LINEAR);
    if (layer->bitmap || _defer_video) layer->backup = _layer_create_checked(width, height, ALLEGRO_MEMORY_BITMAP, 1);
    if ((!layer->bitmap && !_defer_video) || !layer->backup) {
        t_log(LOG_ERR, "could not create %dx%d layer bitmaps", width, height);
        layer_free(&layer);
        return NULL;
    }
    if (!_layer_zero_bitmap(layer->backup, 1)) {
        t_log(LOG_ERR, "could not clear new layer backup");
        layer_free(&layer);
        return NULL;
    }
    layer->needs_clear = 1;
    return layer;
}

void layer_free(LAYER** layer) {
    __t_assert_void(layer);
    if (!*layer) {
        t_log(LOG_DEBUG, "Free( %s ) already done or NULL at line %d of %s", "*layer", __LINE__, __FILE__);
        return;
    }
    LAYER* l = *layer;
    if (l->bitmap) al_destroy_bitmap(l->bitmap);
    if (l->backup) al_destroy_bitmap(l->backup);
    if (l->name) t_str_free(&l->name);
    free(l);
    *layer = NULL;
}

void layer_destroy(void* layer) {
    LAYER* l = (LAYER*)layer;
    layer_free(&l);
}

int layer_set_name(LAYER* layer, const char* name) {
    __t_assert(layer);
    if (!name) return 0;
    const char* start = name;
    while (*start == ' ') start++;
    size_t len = strlen(start);
    while (len > 0 && start[len - 1] == ' ') len--;
    if (len == 0) return 0;
    T_STR* fresh = NULL;
    if (!t_str_append(&fresh, start, len, 1)) return 0;
    if (layer->name) t_str_free(&layer->name);
    layer->name = fresh;
    return 1;
}

void layer_touch(LAYER* layer) {
    __t_assert_void(layer);
    layer->revision++;
}

void layer_settle(LAYER* layer) {
    __t_assert_void(layer);
    if (!layer->needs_clear || !layer->bitmap) return;
    layer->revision++;
    ALLEGRO_STATE state;
    al_store_state(&state, ALLEGRO_STATE_TARGET_BITMAP | ALLEGRO_STATE_BLENDER | ALLEGRO_STATE_TRANSFORM);
    al_set_target_bitmap(layer->bitmap);
    ALLEGRO_TRANSFORM identity;
    al_identity_transform(&identity);
    al_use_transform(&identity);
    al_clear_to_color(al_map_rgba(0, 0, 0, 0));
    if (layer->backup) {
        al_set_blender(ALLEGRO_ADD, ALLEGRO_ONE, ALLEGRO_ZERO);
        al_draw_bitmap(layer->backup, 0, 0, 0);
    }
    al_restore_state(&state);
    layer->needs_clear = 0;
}

int layer_make_bitmap(LAYER* layer) {
    __t_assert(layer);
    if (layer->bitmap) return 1;
    int w = layer->backup ? al_get_bitmap_width(layer->backup) : 0;
    int h = layer->backup ? al_get_bitmap_height(layer->backup) : 0;
    if (w < 1 || h < 1) return 0;
    int flags = al_get_new_bitmap_flags();
    int format = al_get_new_bitmap_format();
    al_set_new_bitmap_format(ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE);
    al_set_new_bitmap_flags(ALLEGRO_VIDEO_BITMAP | ALLEGRO_MIN_LINEAR);
    layer->bitmap = al_create_bitmap(w, h);
    al_set_new_bitmap_flags(flags);
    al_set_new_bitmap_format(format);
    if (!layer->bitmap) {
        t_log(LOG_ERR, "could not create %dx%d video bitmap of layer %s", w, h, layer_name_text(layer));
        return 0;
    }
    layer->needs_clear = 1;
    layer->revision++;
    return 1;
}

int layer_content_box(LAYER* layer, int* x0, int* y0, int* x1, int* y1) {
    __t_assert(layer);
    __t_assert(x0 && y0 && x1 && y1);
    if (!layer->backup) return 0;
    ALLEGRO_LOCKED_REGION* lock = al_lock_bitmap(layer->backup, ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE, ALLEGRO_LOCK_READONLY);
    if (!lock) {
        t_log(LOG_ERR, "could not lock layer %s for the content scan", layer_name_text(layer));
        return 0;
    }
    int w = al_get_bitmap_width(layer->backup), h = al_get_bitmap_height(layer->backup);
    int bx0 = w, by0 = h, bx1 = -1, by1 = -1;
    for (int y = 0; y < h; y++) {
        const uint8_t* row = (const uint8_t*)lock->data + (intptr_t)y * lock->pitch;
        int first = -1, last = -1;
        for (int x = 0; x < w; x++)
            if (row[x * 4 + 3]) {
                first = x;
                break;
            }
        if (first < 0) continue;
        for (int x = w - 1; x >= first; x--)
            if (row[x * 4 + 3]) {
                last = x;
                break;
            }
        if (first < bx0) bx0 = first;
        if (last > bx1) bx1 = last;
        if (y < by0) by0 = y;
        by1 = y;
    }
    al_unlock_bitmap(layer->backup);
    if (bx1 < 0) return 0;
    *x0 = bx0, *y0 = by0, *x1 = bx1, *y1 = by1;
    return 1;
}

/* Copies the memory copy into the picture in bands of about 1 MiB. One lock
 * of the whole picture would have the library allocate and fault in a
 * buffer of its full size first, which costs more than the copy itself. */
static int _layer_upload(ALLEGRO_BITMAP* bitmap, ALLEGRO_BITMAP* backup) {
    int w = al_get_bitmap_width(backup), h = al_get_bitmap_height(backup);
    if (al_get_bitmap_width(bitmap) != w || al_get_bitmap_height(bitmap) != h) return 0;
    ALLEGRO_LOCKED_REGION* from = al_lock_bitmap(backup, ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE, ALLEGRO_LOCK_READONLY);
    if (!from) return 0;
    int band = (int)((1u << 20) / ((size_t)w * 4));
    if (band < 1) band = 1;
    int ok = 1;
    for (int y0 = 0; y0 < h && ok; y0 += band) {
        int rows = h - y0 < band ? h - y0 : band;
        ALLEGRO_LOCKED_REGION* to =
            al_lock_bitmap_region(bitmap, 0, y0, w, rows, ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE, ALLEGRO_LOCK_WRITEONLY);
        if (!to) {
            ok = 0;
            break;
        }
        for (int j = 0; j < rows; j++)
            memcpy((uint8_t*)to->data + (intptr_t)j * to->pitch, (const uint8_t*)from->data + (intptr_t)(y0 + j) * from->pitch,
                   (size_t)w * 4);
        al_unlock_bitmap(bitmap);
    }
    al_unlock_bitmap(backup);
    if (!ok) t_log(LOG_ERR, "could not lock a %dx%d picture to fill it", w, h);
    return ok;
}

int layer_adopt_picture(LAYER* layer, ALLEGRO_BITMAP* picture, int blank) {
    __t_assert(layer);
    __t_assert(picture);
    if (layer->bitmap || !layer->backup) return 0;
    if (al_get_bitmap_width(picture) != al_get_bitmap_width(layer->backup) ||
        al_get_bitmap_height(picture) != al_get_bitmap_height(layer->backup))
        return 0;
    if (!blank && !_layer_upload(picture, layer->backup)) return 0;
    layer->bitmap = picture;
    layer->needs_clear = blank ? 1 : 0;
    layer->revision++;
    return 1;
}

int layer_restore(LAYER* layer) {
    __t_assert(layer);
    int w, h;
    if (layer->bitmap) {
        w = al_get_bitmap_width(layer->bitmap);
        h = al_get_bitmap_height(layer->bitmap);
        al_destroy_bitmap(layer->bitmap);
        layer->bitmap = NULL;
    } else if (layer->backup) {
        w = al_get_bitmap_width(layer->backup);
        h = al_get_bitmap_height(layer->backup);
    } else {
        t_log(LOG_ERR, "layer %s has neither bitmap nor backup", layer_name_text(layer));
        return 0;
    }
    if (layer->backup) {
        layer->bitmap = layer_create_bitmap(w, h, ALLEGRO_VIDEO_BITMAP | ALLEGRO_MIN_LINEAR);
        if (layer->bitmap && !_layer_upload(layer->bitmap, layer->backup)) {
            al_destroy_bitmap(layer->bitmap);
            layer->bitmap = NULL;
        }
        layer->needs_clear = 0;
    } else {
        layer->bitmap = layer_create_bitmap(w, h, ALLEGRO_VIDEO_BITMAP | ALLEGRO_MIN_LINEAR);
        layer->needs_clear = 1;
    }
    layer->revision++;
    if (!layer->bitmap) {
        t_log(LOG_ERR, "could not restore layer %s", layer_name_text(layer));
        return 0;
    }
    return 1;
}
