/* undo: per-document history of pixel changes, kept as 256 x 256 tiles of
 * the pixels before (and, once undone, after) each change, and of changes to
 * the layer stack. The history is bounded by depth and by a memory budget. */
#include "canvas/undo.h"
#include "canvas/undo_internal.h"

#include <errno.h>
#include <math.h>
#include <stdlib.h>
#include <string.h>

#include "canvas/document.h"
#include "canvas/layer.h"
#include "t_log.h"

#define UNDO_TILE_BYTES ((size_t)UNDO_TILE_SIZE * UNDO_TILE_SIZE * 4)

// Budget in bytes from PLUMARO_UNDO_MB, or the default when unset or unusable.
static size_t _undo_budget_from_env(void) {
    size_t fallback = (size_t)UNDO_DEFAULT_BUDGET_MB << 20;
    const char* text = getenv("PLUMARO_UNDO_MB");
    if (!text || !*text) return fallback;
    const char* p = text;
    while (*p == ' ') p++;
    int digits = 0;
    unsigned long long mb = 0;
    int overflow = 0;
    for (; *p >= '0' && *p <= '9'; p++, digits++) {
        if (mb > (unsigned long long)(SIZE_MAX >> 20) / 10) overflow = 1;
        mb = mb * 10 + (unsigned long long)(*p - '0');
    }
    while (*p == ' ') p++;
    if (!digits || *p || overflow || mb == 0 || mb > (unsigned long long)(SIZE_MAX >> 20)) {
        t_log(LOG_WARNING, "ignoring PLUMARO_UNDO_MB=\"%s\": not a positive number of MiB; keeping %d MiB", text,
              UNDO_DEFAULT_BUDGET_MB);
        return fallback;
    }
    t_log(LOG_INFO, "undo history budget %llu MiB (PLUMARO_UNDO_MB)", mb);
    return (size_t)mb << 20;
}

UNDO_SYSTEM* undo_new(int width, int height) {
    if (width <= 0 || height <= 0) {
        t_log(LOG_ERR, "bad undo size %dx%d", width, height);
        return NULL;
    }
    UNDO_SYSTEM* undo = NULL;
    Malloc(undo, UNDO_SYSTEM, 1, return NULL);
    undo->width = width;
    undo->height = height;
    undo->max_depth = UNDO_MAX_DEPTH;
    undo->max_bytes = _undo_budget_from_env();
    undo->tiles_x = (width + UNDO_TILE_SIZE - 1) / UNDO_TILE_SIZE;
    undo->tiles_y = (height + UNDO_TILE_SIZE - 1) / UNDO_TILE_SIZE;
    undo->undo_stack = new_generic_list(0);
    undo->redo_stack = new_generic_list(0);
    if (undo->undo_stack && undo->redo_stack)
        Malloc(undo->dirty, uint8_t, (size_t)undo->tiles_x * (size_t)undo->tiles_y, );
    if (!undo->undo_stack || !undo->redo_stack || !undo->dirty) {
        t_log(LOG_ERR, "could not allocate undo system");
        if (undo->undo_stack) list_destroy(&undo->undo_stack);
        if (undo->redo_stack) list_destroy(&undo->redo_stack);
        free(undo->dirty);
        free(undo);
        return NULL;
    }
    return undo;
}

void undo_free(UNDO_SYSTEM** undo) {
    __t_assert_void(undo);
    if (!*undo) {
        t_log(LOG_DEBUG, "Free( %s ) already done or NULL at line %d of %s", "*undo", __LINE__, __FILE__);
        return;
    }
    UNDO_SYSTEM* u = *undo;
    if (u->undo_stack) list_destroy(&u->undo_stack);
    if (u->redo_stack) list_destroy(&u->redo_stack);
    free(u->dirty);
    free(u);
    *undo = NULL;
}

/* ---- records ---- */

// List destructor for tiles: frees both pixel buffers and the tile.
static void _undo_tile_destroy(void* ptr) {
    UNDO_TILE* tile = (UNDO_TILE*)ptr;
    if (!tile) return;
    free(tile->before);
    free(tile->after);
    free(tile);
}

// List destructor for records: their tiles, and their layer while they own it.
static void _undo_record_destroy(void* ptr) {
    UNDO_RECORD* record = (UNDO_RECORD*)ptr;
    if (!record) return;
    if (record->tiles) list_destroy(&record->tiles);
    if (record->owns_layer && record->layer) layer_free(&record->layer);
    free(record);
}

// Host and texture memory of a layer held out of the stack by a record.
static size_t _undo_layer_bytes(const LAYER* layer) {
    size_t bytes = 0;
    if (layer->backup)
        bytes += (size_t)al_get_bitmap_width(layer->backup) * (size_t)al_get_bitmap_height(layer->backup) * 4;
    if (layer->bitmap)
        bytes += (size_t)al_get_bitmap_width(layer->bitmap) * (size_t)al_get_bitmap_height(layer->bitmap) * 4;
    return bytes;
}

// Pixel memory a record holds: its tile buffers and an owned layer.
static size_t _undo_record_bytes(const UNDO_RECORD* record) {
    size_t bytes = 0;
    if (record->tiles) {
        for (LIST_NODE* node = record->tiles->start; node; node = node->next) {
            const UNDO_TILE* tile = (const UNDO_TILE*)node->ptr;
            size_t one = (size_t)tile->w * (size_t)tile->h * 4;
            if (tile->before) bytes += one;
            if (tile->after) bytes += one;
        }
    }
    if (record->owns_layer && record->layer) bytes += _undo_layer_bytes(record->layer);
    return bytes;
}

// Destroys a record taken off a stack and takes its bytes off the total.
static void _undo_discard(UNDO_SYSTEM* undo, UNDO_RECORD* record) {
    size_t bytes = _undo_record_bytes(record);
    undo->bytes = bytes <= undo->bytes ? undo->bytes - bytes : 0;
    _undo_record_destroy(record);
}

// Drops records while over budget: oldest undo records first, then the redo
// records farthest from the present; `keep` is never dropped.
static void _undo_enforce_budget(UNDO_SYSTEM* undo, const UNDO_RECORD* keep) {
    size_t dropped = 0, freed = 0;
    while (undo->bytes > undo->max_bytes) {
        LIST* from = NULL;
        if (undo->undo_stack->start && undo->undo_stack->start->ptr != keep)
            from = undo->undo_stack;
        else if (undo->redo_stack->start && undo->redo_stack->start->ptr != keep)
            from = undo->redo_stack;
        if (!from) break;
        UNDO_RECORD* oldest = (UNDO_RECORD*)list_shift_f(from);
        size_t before = undo->bytes;
        _undo_discard(undo, oldest);
        freed += before - undo->bytes;
        dropped++;
    }
    if (dropped)
        t_log(LOG_NOTICE, "undo history over its %zu MiB budget: dropped %zu oldest record(s), %zu bytes freed, %zu bytes held",
              undo->max_bytes >> 20, dropped, freed, undo->bytes);
}

// Appends a record as the newest action: clears redo, trims depth and budget.
static int _undo_push(UNDO_SYSTEM* undo, UNDO_RECORD* record) {
    if (!list_push(undo->undo_stack, record, _undo_record_destroy)) {
        t_log(LOG_ERR, "could not push undo record");
        /* A removed layer stays with the caller, who puts it back. */
        record->owns_layer = 0;
        _undo_record_destroy(record);
        return 0;
    }
    undo->bytes += _undo_record_bytes(record);
    undo->revision++;
    while (undo->redo_stack->nb_items > 0) _undo_discard(undo, (UNDO_RECORD*)list_pop_f(undo->redo_stack));
    while (undo->undo_stack->nb_items > undo->max_depth)
        _undo_discard(undo, (UNDO_RECORD*)list_shift_f(undo->undo_stack));
    _undo_enforce_budget(undo, record);
    return 1;
}

/* ---- pixel access ---- */

// Copies a rectangle of a bitmap into packed RGBA rows.
static int _undo_read_rect(ALLEGRO_BITMAP* bitmap, int x, int y, int w, int h, uint8_t* out) {
    ALLEGRO_LOCKED_REGION* lock =
        al_lock_bitmap_region(bitmap, x, y, w, h, ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE, ALLEGRO_LOCK_READONLY);
    if (!lock) {
        t_log(LOG_ERR, "could not lock %dx%d at (%d, %d) for reading", w, h, x, y);
        return 0;
    }
    size_t row = (size_t)w * 4;
    for (int j = 0; j < h; j++) memcpy(out + (size_t)j * row, (const uint8_t*)lock->data + (intptr_t)j * lock->pitch, row);
    al_unlock_bitmap(bitmap);
    return 1;
}

// Writes packed RGBA rows `stride` bytes apart into a rectangle of a bitmap.
static int _undo_write_rect(ALLEGRO_BITMAP* bitmap, int x, int y, int w, int h, const uint8_t* in, size_t stride) {
    ALLEGRO_LOCKED_REGION* lock =
        al_lock_bitmap_region(bitmap, x, y, w, h, ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE, ALLEGRO_LOCK_WRITEONLY);
    if (!lock) {
        t_log(LOG_ERR, "could not lock %dx%d at (%d, %d) for writing", w, h, x, y);
        return 0;
    }
    size_t row = (size_t)w * 4;
    for (int j = 0; j < h; j++) memcpy((uint8_t*)lock->data + (intptr_t)j * lock->pitch, in + (size_t)j * stride, row);
    al_unlock_bitmap(bitmap);
    return 1;
}

// Clipped pixel rectangle of tile (tx, ty).
static void _undo_tile_rect(const UNDO_SYSTEM* undo, int tx, int ty, int* x, int* y, int* w, int* h) {
    *x = tx * UNDO_TILE_SIZE;
    *y = ty * UNDO_TILE_SIZE;
    *w = undo->width - *x < UNDO_TILE_SIZE ? undo->width - *x : UNDO_TILE_SIZE;
    *h = undo->height - *y < UNDO_TILE_SIZE ? undo->height - *y : UNDO_TILE_SIZE;
}

/* ---- the open change ---- */

int undo_begin(DOCUMENT* doc) {
    __t_assert(doc);
    __t_assert(doc->undo);
    UNDO_SYSTEM* undo = doc->undo;
    if (!doc->active_layer) {
        t_log(LOG_DEBUG, "undo_begin without an active layer");
        return 0;
    }
    if (undo->open) {
        t_log(LOG_DEBUG, "undo_begin while a change is already open");
        return 0;
    }
    /* Whatever changes the layer now draws on pixels that must match the
     * backup the change will be recorded against. */
    layer_settle(doc->active_layer);
    undo->open = 1;
    undo->layer = doc->active_layer;
    memset(undo->dirty, 0, (size_t)undo->tiles_x * (size_t)undo->tiles_y);
    return 1;
}

// Floor of a canvas coordinate in tiles, held inside int range.
static int _undo_tile_floor(float v) {
    double t = floor((double)v / UNDO_TILE_SIZE);
    if (t < -1.0) t = -1.0;
    if (t > 1e9) t = 1e9;
    return (int)t;
}

// Marks the tiles of a canvas rectangle, clamped to the document.
static void _undo_mark(UNDO_SYSTEM* undo, float x0, float y0, float x1, float y1) {
    if (!undo->open) return;
    if (!isfinite(x0) || !isfinite(y0) || !isfinite(x1) || !isfinite(y1)) return;
    int c0 = _undo_tile_floor(x0), c1 = _undo_tile_floor(x1);
    int r0 = _undo_tile_floor(y0), r1 = _undo_tile_floor(y1);
    if (c0 < 0) c0 = 0;
    if (r0 < 0) r0 = 0;
    if (c1 > undo->tiles_x - 1) c1 = undo->tiles_x - 1;
    if (r1 > undo->tiles_y - 1) r1 = undo->tiles_y - 1;
    for (int r = r0; r <= r1; r++)
        for (int c = c0; c <= c1; c++) undo->dirty[(size_t)r * (size_t)undo->tiles_x + (size_t)c] = 1;
}

void undo_mark_dirty(DOCUMENT* doc, float x, float y, float radius) {
    __t_assert_void(doc);
    __t_assert_void(doc->undo);
    _undo_mark(doc->undo, x - radius, y - radius, x + radius, y + radius);
}

void undo_mark_dirty_rect(DOCUMENT* doc, float x0, float y0, float x1, float y1) {
    __t_assert_void(doc);
    __t_assert_void(doc->undo);
    _undo_mark(doc->undo, x0, y0, x1, y1);
}

// Closes the open change and forgets its tiles.
static void _undo_close(UNDO_SYSTEM* undo) {
    undo->open = 0;
    undo->layer = NULL;
    memset(undo->dirty, 0, (size_t)undo->tiles_x * (size_t)undo->tiles_y);
}

/* ---- memory ---- */

static size_t _undo_alloc_limit = SIZE_MAX;
static UNDO_NOTICE_HOOK _undo_notice_hook = NULL;
static void* _undo_notice_user = NULL;

void _undo_set_alloc_limit(size_t bytes) { _undo_alloc_limit = bytes ? bytes : SIZE_MAX; }

void undo_set_notice_hook(UNDO_NOTICE_HOOK hook, void* user) {
    _undo_notice_hook = hook;
    _undo_notice_user = user;
}

// Tells the user, through the program's hook, what low memory cost.
static void _undo_notice(const char* text) {
    t_log(LOG_WARNING, "%s", text);
    if (_undo_notice_hook) _undo_notice_hook(text, _undo_notice_user);
}

// Drops the oldest record of the history (undo first, then the redo farthest away); 0 when there is none.
static int _undo_drop_oldest(UNDO_SYSTEM* undo) {
    LIST* from = undo->undo_stack->start ? undo->undo_stack : undo->redo_stack->start ? undo->redo_stack : NULL;
    if (!from) return 0;
    _undo_discard(undo, (UNDO_RECORD*)list_shift_f(from));
    return 1;
}

// Zeroed memory for the history; when there is none, older history makes room. Null when even that fails.
static void* _undo_alloc(UNDO_SYSTEM* undo, size_t bytes, size_t pending, int* dropped) {
    for (;;) {
        void* p = undo->bytes + pending + bytes <= _undo_alloc_limit ? calloc(1, bytes) : NULL;
        if (p) return p;
        if (!_undo_drop_oldest(undo)) {
            t_log(LOG_ERR, "out of memory for %zu bytes of undo history", bytes);
            return NULL;
        }
        if (dropped) (*dropped)++;
    }
}

// Copies a tile of the layer's picture into its memory copy, without a buffer of its own.
static int _undo_copy_picture_to_backup(LAYER* layer, int x, int y, int w, int h) {
    ALLEGRO_LOCKED_REGION* from =
        al_lock_bitmap_region(layer->bitmap, x, y, w, h, ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE, ALLEGRO_LOCK_READONLY);
    if (!from) return 0;
    ALLEGRO_LOCKED_REGION* to =
        al_lock_bitmap_region(layer->backup, x, y, w, h, ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE, ALLEGRO_LOCK_WRITEONLY);
    if (!to) {
        al_unlock_bitmap(layer->bitmap);
        return 0;
    }
    for (int j = 0; j < h; j++)
        memcpy((uint8_t*)to->data + (intptr_t)j * to->pitch, (const uint8_t*)from->data + (intptr_t)j * from->pitch,
               (size_t)w * 4);
    al_unlock_bitmap(layer->backup);
    al_unlock_bitmap(layer->bitmap);
    return 1;
}

int _undo_commit(DOCUMENT* doc, const uint8_t* pixels, int width, int height) {
    __t_assert(doc);
    __t_assert(doc->undo);
    UNDO_SYSTEM* undo = doc->undo;
    if (!undo->open) return 0;
    LAYER* layer = undo->layer;
    undo->open = 0;
    undo->layer = NULL;
    if (!layer || !layer->bitmap || !layer->backup) {
        _undo_close(undo);
        __t_assert(layer);
        __t_assert(layer->bitmap);
        __t_assert(layer->backup);
    }
    if (pixels && (width != al_get_bitmap_width(layer->bitmap) || height != al_get_bitmap_height(layer->bitmap))) {
        t_log(LOG_WARNING, "pixel array %dx%d does not match layer %dx%d; reading the layer instead", width, height,
              al_get_bitmap_width(layer->bitmap), al_get_bitmap_height(layer->bitmap));
        pixels = NULL;
    }
    /* First every tile's old pixels get their memory; the history makes room
     * when memory is short. Only then is the memory copy brought up to the
     * picture, tile by tile, whatever could be recorded: the copy must never
     * fall behind what is on screen. */
    int dropped = 0, lost = 0;
    size_t pending = 0;
    UNDO_RECORD* record = (UNDO_RECORD*)_undo_alloc(undo, sizeof(UNDO_RECORD), 0, &dropped);
    if (record) {
        record->kind = UNDO_KIND_PIXELS;
        record->layer = layer;
        record->tiles = new_generic_list(0);
    }
    if (!record || !record->tiles) lost = 1;
    for (int ty = 0; !lost && ty < undo->tiles_y; ty++) {
        for (int tx = 0; !lost && tx < undo->tiles_x; tx++) {
            if (!undo->dirty[(size_t)ty * (size_t)undo->tiles_x + (size_t)tx]) continue;
            int x, y, w, h;
            _undo_tile_rect(undo, tx, ty, &x, &y, &w, &h);
            if (w < 1 || h < 1) continue;
            size_t bytes = (size_t)w * (size_t)h * 4;
            UNDO_TILE* tile = (UNDO_TILE*)_undo_alloc(undo, sizeof(UNDO_TILE), pending, &dropped);
            if (tile) tile->before = (uint8_t*)_undo_alloc(undo, bytes, pending, &dropped);
            if (!tile || !tile->before || !list_push(record->tiles, tile, _undo_tile_destroy)) {
                if (tile) _undo_tile_destroy(tile);
                lost = 1;
                break;
            }
            tile->x = x, tile->y = y, tile->w = w, tile->h = h;
            pending += bytes;
        }
    }
    if (lost && record) {
        _undo_record_destroy(record);
        record = NULL;
    }
    uint8_t* current = NULL;
    if (pixels == NULL) current = (uint8_t*)_undo_alloc(undo, UNDO_TILE_BYTES, pending, &dropped);
    LIST_NODE* node = record ? record->tiles->start : NULL;
    for (int ty = 0; ty < undo->tiles_y; ty++) {
        for (int tx = 0; tx < undo->tiles_x; tx++) {
            if (!undo->dirty[(size_t)ty * (size_t)undo->tiles_x + (size_t)tx]) continue;
            int x, y, w, h;
            _undo_tile_rect(undo, tx, ty, &x, &y, &w, &h);
            if (w < 1 || h < 1) continue;
            UNDO_TILE* tile = node ? (UNDO_TILE*)node->ptr : NULL;
            if (node) node = node->next;
            if (tile && !_undo_read_rect(layer->backup, x, y, w, h, tile->before)) lost = 1;
            int copied;
            if (pixels)
                copied = _undo_write_rect(layer->backup, x, y, w, h,
                                          pixels + ((size_t)y * (size_t)width + (size_t)x) * 4, (size_t)width * 4);
            else if (current)
                copied = _undo_read_rect(layer->bitmap, x, y, w, h, current) &&
                         _undo_write_rect(layer->backup, x, y, w, h, current, (size_t)w * 4);
            else
                copied = _undo_copy_picture_to_backup(layer, x, y, w, h);
            if (!copied) t_log(LOG_ERR, "the memory copy of layer %s missed a tile at (%d, %d)", layer_name_text(layer), x, y);
        }
    }
    free(current);
    _undo_close(undo);
    /* The tool changed the video bitmap before this commit. */
    layer_touch(layer);
    if (lost || !record) {
        if (record) _undo_record_destroy(record);
        /* Without its old pixels the change cannot be undone, and the steps
         * before it no longer lead back to what the user saw: the history
         * starts again from here. */
        while (_undo_drop_oldest(undo)) {
        }
        undo->revision++;
        _undo_notice("Memory is low: this change cannot be undone and the undo history was cleared.");
        return 0;
    }
    if (dropped) _undo_notice("Memory is low: the oldest undo steps were dropped.");
    if (record->tiles->nb_items == 0) { /* nothing was touched: nothing to record */
        _undo_record_destroy(record);
        return 1;
    }
    return _undo_push(undo, record);
}

void undo_abort(DOCUMENT* doc) {
    __t_assert_void(doc);
    __t_assert_void(doc->undo);
    _undo_close(doc->undo);
}

int undo_revert(DOCUMENT* doc) {
    __t_assert(doc);
    __t_assert(doc->undo);
    UNDO_SYSTEM* undo = doc->undo;
    LAYER* layer = undo->layer;
    int ok = 1;
    if (undo->open && layer && layer->bitmap && layer->backup) {
        uint8_t* buf = (uint8_t*)_undo_alloc(undo, UNDO_TILE_BYTES, 0, NULL);
        for (int ty = 0; ty < undo->tiles_y; ty++) {
            for (int tx = 0; tx < undo->tiles_x; tx++) {
                if (!undo->dirty[(size_t)ty * (size_t)undo->tiles_x + (size_t)tx]) continue;
                int x, y, w, h;
                _undo_tile_rect(undo, tx, ty, &x, &y, &w, &h);
                if (w < 1 || h < 1) continue;
                if (!buf || !_undo_read_rect(layer->backup, x, y, w, h, buf) ||
                    !_undo_write_rect(layer->bitmap, x, y, w, h, buf, (size_t)w * 4))
                    ok = 0;
            }
        }
        free(buf);
        if (!ok) {
            /* The picture is rebuilt from the memory copy before it is next
             * drawn, so the two agree again. */
            layer->needs_clear = 1;
            t_log(LOG_ERR, "could not put layer %s back as it was; it is rebuilt from its copy", layer_name_text(layer));
        }
        layer_touch(layer);
    }
    _undo_close(undo);
    return ok;
}

/* ---- layer-stack records ---- */

// New record of a layer-stack change; null (logged) when it cannot be made.
static UNDO_RECORD* _undo_layer_record(int kind, LAYER* layer, size_t index, size_t index_to) {
    UNDO_RECORD* record = NULL;
    Malloc(record, UNDO_RECORD, 1, return NULL);
    record->kind = kind;
    record->layer = layer;
    record->index = index;
    record->index_to = index_to;
    return record;
}

int undo_record_layer_add(DOCUMENT* doc, LAYER* layer, size_t index) {
    __t_assert(doc);
    __t_assert(doc->undo);
    __t_assert(layer);
    UNDO_RECORD* record = _undo_layer_record(UNDO_KIND_LAYER_ADD, layer, index, 0);
    __t_assert(record);
    return _undo_push(doc->undo, record);
}

int undo_record_layer_remove(DOCUMENT* doc, LAYER* layer, size_t index) {
    __t_assert(doc);
    __t_assert(doc->undo);
    __t_assert(layer);
    UNDO_RECORD* record = _undo_layer_record(UNDO_KIND_LAYER_REMOVE, layer, index, 0);
    __t_assert(record);
    record->owns_layer = 1;
    return _undo_push(doc->undo, record);
}

int undo_record_layer_move(DOCUMENT* doc, size_t from, size_t to) {
    __t_assert(doc);
    __t_assert(doc->undo);
    UNDO_RECORD* record = _undo_layer_record(UNDO_KIND_LAYER_MOVE, NULL, from, to);
    __t_assert(record);
    return _undo_push(doc->undo, record);
}

/* ---- undo and redo ---- */

// Writes every tile's before (undo) or after (redo) pixels into both bitmaps;
// the first undo captures the after pixels from the video bitmap.
static int _undo_apply_tiles(UNDO_SYSTEM* undo, UNDO_RECORD* record, int backwards) {
    __t_assert(record->layer);
    __t_assert(record->layer->bitmap);
    __t_assert(record->layer->backup);
    __t_assert(record->tiles);
    LAYER* layer = record->layer;
    int ok = 1;
    for (LIST_NODE* node = record->tiles->start; node; node = node->next) {
        UNDO_TILE* tile = (UNDO_TILE*)node->ptr;
        size_t size = (size_t)tile->w * (size_t)tile->h * 4;
        const uint8_t* source = tile->before;
        if (backwards) {
            if (!tile->after) {
                Malloc(tile->after, uint8_t, size, );
                if (tile->after) {
                    if (_undo_read_rect(layer->bitmap, tile->x, tile->y, tile->w, tile->h, tile->after))
                        undo->bytes += size;
                    else
                        Free(tile->after);
                }
            }
        } else {
            source = tile->after;
            if (!source) continue;
        }
        if (!source) continue;
        if (!_undo_write_rect(layer->bitmap, tile->x, tile->y, tile->w, tile->h, source, (size_t)tile->w * 4)) ok = 0;
        if (!_undo_write_rect(layer->backup, tile->x, tile->y, tile->w, tile->h, source, (size_t)tile->w * 4)) ok = 0;
    }
    layer_touch(layer);
    return ok;
}

// Takes a record's layer out of the stack; the record owns it afterwards.
static int _undo_take_layer(DOCUMENT* doc, UNDO_RECORD* record) {
    __t_assert(record->layer);
    int index = 0;
    if (!document_layer_index(doc, record->layer, &index)) {
        t_log(LOG_ERR, "layer %s of an undo record is not in the stack", layer_name_text(record->layer));
        return 0;
    }
    if (!document_detach_layer(doc, index)) return 0;
    record->index = (size_t)index;
    record->owns_layer = 1;
    doc->undo->bytes += _undo_layer_bytes(record->layer);
    return 1;
}

// Puts a record's layer back into the stack at its index and makes it active.
static int _undo_give_layer(DOCUMENT* doc, UNDO_RECORD* record) {
    __t_assert(record->layer);
    if (!record->owns_layer) {
        t_log(LOG_ERR, "layer %s of an undo record is not held by it", layer_name_text(record->layer));
        return 0;
    }
    size_t held = _undo_layer_bytes(record->layer);
    if (!layer_restore(record->layer)) return 0;
    int index = record->index > (size_t)INT32_MAX ? INT32_MAX : (int)record->index;
    if (!document_insert_layer(doc, record->layer, index)) return 0;
    record->owns_layer = 0;
    doc->undo->bytes = held <= doc->undo->bytes ? doc->undo->bytes - held : 0;
    doc->active_layer = record->layer;
    return 1;
}

// Moves a layer between two stack indices.
static int _undo_move(DOCUMENT* doc, size_t from, size_t to) {
    if (from > (size_t)INT32_MAX || to > (size_t)INT32_MAX) return 0;
    return document_move_layer(doc, (int)from, (int)to);
}

// Applies a record backwards (undo) or forwards (redo).
static int _undo_apply(DOCUMENT* doc, UNDO_RECORD* record, int backwards) {
    switch (record->kind) {
        case UNDO_KIND_PIXELS: return _undo_apply_tiles(doc->undo, record, backwards);
        case UNDO_KIND_LAYER_ADD:
            return backwards ? _undo_take_layer(doc, record) : _undo_give_layer(doc, record);
        case UNDO_KIND_LAYER_REMOVE:
            return backwards ? _undo_give_layer(doc, record) : _undo_take_layer(doc, record);
        case UNDO_KIND_LAYER_MOVE:
            return backwards ? _undo_move(doc, record->index_to, record->index)
                             : _undo_move(doc, record->index, record->index_to);
        default: t_log(LOG_ERR, "unknown undo record type %d", record->kind); return 0;
    }
}

// Makes the top layer active when the active one has left the stack.
static void _undo_repair_active(DOCUMENT* doc) {
    if (doc->active_layer && document_layer_index(doc, doc->active_layer, NULL)) return;
    int count = document_layer_count(doc);
    doc->active_layer = count > 0 ? document_layer_at(doc, count - 1) : NULL;
}

// Moves the newest record of one stack onto the other if applying it works.
static int _undo_step(DOCUMENT* doc, int backwards) {
    __t_assert(doc);
    __t_assert(doc->undo);
    UNDO_SYSTEM* undo = doc->undo;
    if (undo->open) {
        t_log(LOG_DEBUG, "%s refused while a change is open", backwards ? "undo" : "redo");
        return 0;
    }
    LIST* from = backwards ? undo->undo_stack : undo->redo_stack;
    LIST* to = backwards ? undo->redo_stack : undo->undo_stack;
    if (from->nb_items == 0) return 0;
    UNDO_RECORD* record = (UNDO_RECORD*)list_pop_f(from);
    int ok = _undo_apply(doc, record, backwards);
    LIST* dest = ok ? to : from;
    if (!list_push(dest, record, _undo_record_destroy)) {
        t_log(LOG_ERR, "could not keep undo record; it is lost");
        _undo_discard(undo, record);
        ok = 0;
    } else if (backwards) {
        /* The first undo captures after pixels, which may go over budget. */
        _undo_enforce_budget(undo, record);
    }
    _undo_repair_active(doc);
    return ok;
}

int undo_perform(DOCUMENT* doc) {
    int ok = _undo_step(doc, 1);
    if (ok) doc->undo->revision++;
    return ok;
}

int redo_perform(DOCUMENT* doc) {
    int ok = _undo_step(doc, 0);
    if (ok) doc->undo->revision++;
    return ok;
}

size_t undo_bytes(const DOCUMENT* doc) {
    __t_assert(doc);
    __t_assert(doc->undo);
    return doc->undo->bytes;
}
