/* tiles: the sparse tile store. Each slot holds a counted tile or nothing;
 * writers first decide what they do to every slot of their range and make
 * the tiles they need (a zeroed tile where none was, a copy of a shared one:
 * neither changes a pixel), and only when all of that succeeded raise the
 * revision and change pixels. A writer that runs out of memory therefore
 * drops the tiles it made and leaves the store as it was. */
#include "canvas/tiles.h"
#include "canvas/tiles_internal.h"

#include <stdlib.h>
#include <string.h>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <atomic>
#include <mutex>
#include <new>

#include "t_log.h"

/* The pixels start this far into a tile's one allocation, aligned for
 * vector loads and away from the count's cache line. */
#define _TILES_HEADER 64

struct TILES_TILE {
    std::atomic<int32_t> refs;
    int32_t channels;
    int32_t shift;
};

// A tile's pixel bytes.
static inline uint8_t* _tiles_px(TILES_TILE* tile) { return (uint8_t*)tile + _TILES_HEADER; }

// Bytes of a tile's pixels for a kind and side.
static inline size_t _tiles_px_bytes(int channels, int shift) {
    return ((size_t)1 << (2 * shift)) * (size_t)channels;
}

/* Tiles let go of are kept for the next ones made, up to a bound, per kind
 * and side: a stroke over an empty layer would otherwise fault in fresh
 * pages for every tile it makes. Guarded by a lock, since a worker may free
 * the last hold on a tile (a snapshot it saved). */
#define _TILES_POOL_MAX ((size_t)32 << 20)
static std::mutex _tiles_pool_lock;
static void* _tiles_pool[2][TILES_SHIFT_MAX - TILES_SHIFT_MIN + 1];
static size_t _tiles_pool_held = 0;

// The pool list of a kind and side.
static void** _tiles_pool_list(int channels, int shift) {
    return &_tiles_pool[channels == TILES_RGBA ? 1 : 0][shift - TILES_SHIFT_MIN];
}

// A tile with one hold, its pixels zeroed on request; null (logged) when memory is short.
static TILES_TILE* _tiles_tile_new(int channels, int shift, int zeroed) {
    size_t bytes = _tiles_px_bytes(channels, shift);
    void* memory = NULL;
    {
        std::lock_guard<std::mutex> hold(_tiles_pool_lock);
        void** list = _tiles_pool_list(channels, shift);
        if (*list) {
            memory = *list;
            *list = *(void**)memory;
            _tiles_pool_held -= _TILES_HEADER + bytes;
        }
    }
    if (!memory) {
        errno = 0;
        memory = aligned_alloc(_TILES_HEADER, _TILES_HEADER + bytes);
    }
    if (!memory) {
        t_log_alloc_failure(tile, _TILES_HEADER + bytes, uint8_t);
        return NULL;
    }
    TILES_TILE* tile = new (memory) TILES_TILE;
    tile->refs.store(1, std::memory_order_relaxed);
    tile->channels = channels;
    tile->shift = shift;
    if (zeroed) memset(_tiles_px(tile), 0, bytes);
    return tile;
}

// Lets go of one hold; the last one gives the tile to the pool or frees it.
static void _tiles_unref(TILES_TILE* tile) {
    if (!tile) return;
    if (tile->refs.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
    int channels = tile->channels, shift = tile->shift;
    size_t bytes = _TILES_HEADER + _tiles_px_bytes(channels, shift);
    tile->~TILES_TILE();
    void* memory = tile;
    {
        std::lock_guard<std::mutex> hold(_tiles_pool_lock);
        if (_tiles_pool_held + bytes <= _TILES_POOL_MAX) {
            void** list = _tiles_pool_list(channels, shift);
            *(void**)memory = *list;
            *list = memory;
            _tiles_pool_held += bytes;
            return;
        }
    }
    free(memory);
}

size_t tiles_pool_bytes(void) {
    std::lock_guard<std::mutex> hold(_tiles_pool_lock);
    return _tiles_pool_held;
}

void tiles_pool_trim(void) {
    std::lock_guard<std::mutex> hold(_tiles_pool_lock);
    for (auto& kind : _tiles_pool)
        for (void*& list : kind)
            while (list) {
                void* next = *(void**)list;
                free(list);
                list = next;
            }
    _tiles_pool_held = 0;
}

// 1 when n bytes are all zero.
static int _tiles_zero(const uint8_t* p, size_t n) {
    size_t i = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    for (; i + 64 <= n; i += 64) {
        __m128i a = _mm_or_si128(_mm_loadu_si128((const __m128i*)(p + i)), _mm_loadu_si128((const __m128i*)(p + i + 16)));
        __m128i b =
            _mm_or_si128(_mm_loadu_si128((const __m128i*)(p + i + 32)), _mm_loadu_si128((const __m128i*)(p + i + 48)));
        if (_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_or_si128(a, b), zero)) != 0xFFFF) return 0;
    }
    for (; i + 16 <= n; i += 16)
        if (_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_loadu_si128((const __m128i*)(p + i)), zero)) != 0xFFFF) return 0;
#endif
    for (; i < n; i++)
        if (p[i]) return 0;
    return 1;
}

// Index of slot (tx, ty); the caller has checked it is inside.
static inline size_t _tiles_slot(const TILES* store, int tx, int ty) {
    return (size_t)ty * (size_t)store->tiles_x + (size_t)tx;
}

// 1 when (tx, ty) is a slot of the store.
static inline int _tiles_inside(const TILES* store, int tx, int ty) {
    return tx >= 0 && ty >= 0 && tx < store->tiles_x && ty < store->tiles_y;
}

// Stamps a slot with a revision.
static inline void _tiles_touch(TILES* store, size_t slot, uint64_t revision) {
    store->changed[slot] = revision;
    store->row_changed[slot / (size_t)store->tiles_x] = revision;
}

// Puts a tile into a slot, letting go of the one there.
static void _tiles_set(TILES* store, size_t slot, TILES_TILE* tile) {
    TILES_TILE* old = store->tile[slot];
    if (old == tile) return;
    if (old) store->present--;
    if (tile) store->present++;
    store->tile[slot] = tile;
    _tiles_unref(old);
}

// Clips (x, y, w, h) to the canvas; 0 when nothing is left.
int _tiles_clip(const TILES* store, int* x, int* y, int* w, int* h) {
    if (*w <= 0 || *h <= 0) return 0;
    int64_t x0 = *x, y0 = *y, x1 = (int64_t)*x + *w, y1 = (int64_t)*y + *h;
    if (x0 < 0) x0 = 0;
    if (y0 < 0) y0 = 0;
    if (x1 > store->width) x1 = store->width;
    if (y1 > store->height) y1 = store->height;
    if (x0 >= x1 || y0 >= y1) return 0;
    *x = (int)x0, *y = (int)y0, *w = (int)(x1 - x0), *h = (int)(y1 - y0);
    return 1;
}

/* ------------------------------------------------------------------------ */
/* Plans: what a writer does to each slot of its range                      */
/* ------------------------------------------------------------------------ */

// A plan over the slots the clipped rectangle touches, every action SKIP; 0 when memory is short.
int _tiles_plan_begin(_TILES_PLAN* plan, const TILES* store, int x, int y, int w, int h) {
    plan->tx0 = x >> store->shift;
    plan->ty0 = y >> store->shift;
    plan->tx1 = (x + w - 1) >> store->shift;
    plan->ty1 = (y + h - 1) >> store->shift;
    plan->columns = plan->tx1 - plan->tx0 + 1;
    size_t count = (size_t)plan->columns * (size_t)(plan->ty1 - plan->ty0 + 1);
    uint8_t* memory = plan->local;
    if (2 * count > sizeof(plan->local)) {
        Malloc(memory, uint8_t, 2 * count, return 0);
    } else {
        memset(memory, 0, 2 * count);
    }
    plan->action = memory;
    plan->created = memory + count;
    return 1;
}

// Frees what the plan allocated for itself.
void _tiles_plan_end(_TILES_PLAN* plan) {
    if (plan->action && plan->action != plan->local) free(plan->action);
    plan->action = plan->created = NULL;
}

// The action cell of slot (tx, ty) in the plan.
uint8_t* _tiles_plan_cell(_TILES_PLAN* plan, int tx, int ty) {
    return plan->action + (size_t)(ty - plan->ty0) * (size_t)plan->columns + (size_t)(tx - plan->tx0);
}

// Makes slot `slot` hold a tile the store alone holds, without changing a pixel.
static int _tiles_own(TILES* store, size_t slot, int* created) {
    TILES_TILE* tile = store->tile[slot];
    *created = 0;
    if (!tile) {
        tile = _tiles_tile_new(store->channels, store->shift, 1);
        if (!tile) return 0;
        store->tile[slot] = tile;
        store->present++;
        *created = 1;
        return 1;
    }
    if (tile->refs.load(std::memory_order_acquire) == 1) return 1;
    TILES_TILE* copy = _tiles_tile_new(store->channels, store->shift, 0);
    if (!copy) return 0;
    memcpy(_tiles_px(copy), _tiles_px(tile), _tiles_px_bytes(store->channels, store->shift));
    store->tile[slot] = copy;
    _tiles_unref(tile);
    return 1;
}

// Gives every WRITE slot of the plan a tile of its own; on failure drops the
// tiles it made (they were zero) and returns 0.
int _tiles_plan_own(TILES* store, _TILES_PLAN* plan) {
    for (int ty = plan->ty0; ty <= plan->ty1; ty++)
        for (int tx = plan->tx0; tx <= plan->tx1; tx++) {
            uint8_t* cell = _tiles_plan_cell(plan, tx, ty);
            if (*cell != _TILES_WRITE) continue;
            int created = 0;
            if (!_tiles_own(store, _tiles_slot(store, tx, ty), &created)) {
                for (int uy = plan->ty0; uy <= plan->ty1; uy++)
                    for (int ux = plan->tx0; ux <= plan->tx1; ux++)
                        if (plan->created[_tiles_plan_cell(plan, ux, uy) - plan->action])
                            _tiles_set(store, _tiles_slot(store, ux, uy), NULL);
                return 0;
            }
            plan->created[cell - plan->action] = (uint8_t)created;
        }
    return 1;
}

// Raises the revision once and stamps the slots the plan changes.
uint64_t _tiles_plan_commit(TILES* store, _TILES_PLAN* plan) {
    uint64_t revision = ++store->revision;
    for (int ty = plan->ty0; ty <= plan->ty1; ty++)
        for (int tx = plan->tx0; tx <= plan->tx1; tx++)
            if (*_tiles_plan_cell(plan, tx, ty) != _TILES_SKIP) _tiles_touch(store, _tiles_slot(store, tx, ty), revision);
    return revision;
}

// Pixels of a slot the plan owns.
uint8_t* _tiles_plan_pixels(TILES* store, int tx, int ty) {
    TILES_TILE* tile = store->tile[_tiles_slot(store, tx, ty)];
    return tile ? _tiles_px(tile) : NULL;
}

/* ------------------------------------------------------------------------ */
/* Stores                                                                    */
/* ------------------------------------------------------------------------ */

// Allocates a store's record and slot tables for a geometry; null on failure.
static TILES* _tiles_alloc(int width, int height, int channels, int shift) {
    TILES* store = NULL;
    Malloc(store, TILES, 1, return NULL);
    store->width = width;
    store->height = height;
    store->channels = channels;
    store->shift = shift;
    store->side = 1 << shift;
    store->tiles_x = (width + store->side - 1) >> shift;
    store->tiles_y = (height + store->side - 1) >> shift;
    size_t slots = (size_t)store->tiles_x * (size_t)store->tiles_y;
    Malloc(store->tile, TILES_TILE*, slots, );
    if (store->tile) Malloc(store->changed, uint64_t, slots, );
    if (store->changed) Malloc(store->row_changed, uint64_t, store->tiles_y, );
    if (!store->row_changed) {
        free(store->tile);
        free(store->changed);
        free(store);
        return NULL;
    }
    return store;
}

TILES* tiles_new_with(int width, int height, int channels, int shift) {
    if (width <= 0 || height <= 0 || width > TILES_MAX_SIDE || height > TILES_MAX_SIDE) {
        t_log(LOG_ERR, "bad tile store size %dx%d", width, height);
        return NULL;
    }
    if ((channels != TILES_RGBA && channels != TILES_COVERAGE) || shift < TILES_SHIFT_MIN || shift > TILES_SHIFT_MAX) {
        t_log(LOG_ERR, "bad tile store kind: %d bytes per pixel, tiles of 2^%d", channels, shift);
        return NULL;
    }
    return _tiles_alloc(width, height, channels, shift);
}

TILES* tiles_new(int width, int height) { return tiles_new_with(width, height, TILES_RGBA, TILES_SHIFT); }

void tiles_free(TILES** store) {
    __t_assert_void(store);
    if (!*store) {
        t_log(LOG_DEBUG, "Free( %s ) already done or NULL at line %d of %s", "*store", __LINE__, __FILE__);
        return;
    }
    TILES* s = *store;
    size_t slots = (size_t)s->tiles_x * (size_t)s->tiles_y;
    for (size_t i = 0; i < slots; i++) _tiles_unref(s->tile[i]);
    free(s->tile);
    free(s->changed);
    free(s->row_changed);
    free(s);
    *store = NULL;
}

size_t tiles_bytes(const TILES* store) {
    __t_assert(store);
    size_t slots = (size_t)store->tiles_x * (size_t)store->tiles_y;
    return sizeof(TILES) + slots * (sizeof(TILES_TILE*) + sizeof(uint64_t)) + (size_t)store->tiles_y * sizeof(uint64_t) +
           store->present * (_TILES_HEADER + _tiles_px_bytes(store->channels, store->shift));
}

size_t tiles_tile_bytes(const TILES* store) {
    __t_assert(store);
    return _tiles_px_bytes(store->channels, store->shift);
}

int tiles_tile_rect(const TILES* store, int tx, int ty, int* x, int* y, int* w, int* h) {
    __t_assert(store);
    __t_assert(x && y && w && h);
    if (!_tiles_inside(store, tx, ty)) return 0;
    *x = tx << store->shift;
    *y = ty << store->shift;
    *w = store->width - *x < store->side ? store->width - *x : store->side;
    *h = store->height - *y < store->side ? store->height - *y : store->side;
    return 1;
}

const uint8_t* tiles_read_tile(const TILES* store, int tx, int ty) {
    __t_assert_null(store);
    if (!_tiles_inside(store, tx, ty)) return NULL;
    TILES_TILE* tile = store->tile[_tiles_slot(store, tx, ty)];
    return tile ? _tiles_px(tile) : NULL;
}

uint8_t* tiles_write_tile(TILES* store, int tx, int ty) {
    __t_assert_null(store);
    if (!_tiles_inside(store, tx, ty)) return NULL;
    size_t slot = _tiles_slot(store, tx, ty);
    int created = 0;
    if (!_tiles_own(store, slot, &created)) return NULL;
    _tiles_touch(store, slot, ++store->revision);
    return _tiles_px(store->tile[slot]);
}

/* ------------------------------------------------------------------------ */
/* Rectangles                                                                */
/* ------------------------------------------------------------------------ */

int tiles_read_rect(const TILES* store, int x, int y, int w, int h, uint8_t* out, ptrdiff_t stride) {
    __t_assert(store);
    __t_assert(out || w <= 0 || h <= 0);
    if (w <= 0 || h <= 0) return 1;
    const int c = store->channels;
    size_t row_bytes = (size_t)w * (size_t)c;
    int cx = x, cy = y, cw = w, ch = h;
    int any = _tiles_clip(store, &cx, &cy, &cw, &ch);
    for (int j = 0; j < h; j++) {
        uint8_t* row = out + (ptrdiff_t)j * stride;
        int64_t py = (int64_t)y + j;
        if (!any || py < cy || py >= cy + ch) {
            memset(row, 0, row_bytes);
            continue;
        }
        /* Off the canvas at the left and right, then tile by tile. */
        if (cx > x) memset(row, 0, (size_t)(cx - x) * (size_t)c);
        int64_t right = (int64_t)x + w;
        if (right > cx + cw) memset(row + (size_t)(cx + cw - x) * (size_t)c, 0, (size_t)(right - (cx + cw)) * (size_t)c);
        int ty = (int)(py >> store->shift), ry = (int)(py & (store->side - 1));
        for (int px = cx; px < cx + cw;) {
            int tx = px >> store->shift, rx = px & (store->side - 1);
            int run = store->side - rx;
            if (run > cx + cw - px) run = cx + cw - px;
            TILES_TILE* tile = store->tile[_tiles_slot(store, tx, ty)];
            uint8_t* to = row + (size_t)(px - x) * (size_t)c;
            if (tile)
                memcpy(to, _tiles_px(tile) + ((size_t)ry * (size_t)store->side + (size_t)rx) * (size_t)c, (size_t)run * (size_t)c);
            else
                memset(to, 0, (size_t)run * (size_t)c);
            px += run;
        }
    }
    return 1;
}

// 1 when the part of slot (tx, ty) inside the clipped rectangle holds only zeros in `in`.
static int _tiles_source_zero(const TILES* store, int tx, int ty, int x, int y, int w, int h, const uint8_t* in,
                              ptrdiff_t stride) {
    int sx, sy, sw, sh;
    tiles_tile_rect(store, tx, ty, &sx, &sy, &sw, &sh);
    int x0 = sx > x ? sx : x, y0 = sy > y ? sy : y;
    int x1 = sx + sw < x + w ? sx + sw : x + w, y1 = sy + sh < y + h ? sy + sh : y + h;
    for (int py = y0; py < y1; py++)
        if (!_tiles_zero(in + (ptrdiff_t)(py - y) * stride + (size_t)(x0 - x) * (size_t)store->channels,
                         (size_t)(x1 - x0) * (size_t)store->channels))
            return 0;
    return 1;
}

// Writes a clipped rectangle whose top-left source pixel is `in`; with
// `replace`, a slot that would be all zero is dropped rather than written
// (only used when the rectangle covers the slots whole).
static int _tiles_put_rect(TILES* store, int x, int y, int w, int h, const uint8_t* in, ptrdiff_t stride, int replace) {
    _TILES_PLAN plan = {};
    if (!_tiles_plan_begin(&plan, store, x, y, w, h)) return 0;
    int any = 0;
    for (int ty = plan.ty0; ty <= plan.ty1; ty++)
        for (int tx = plan.tx0; tx <= plan.tx1; tx++) {
            int present = store->tile[_tiles_slot(store, tx, ty)] != NULL;
            /* A tile that is absent stays absent under zeros; a replaced one goes. */
            int zero = (!present || replace) && _tiles_source_zero(store, tx, ty, x, y, w, h, in, stride);
            uint8_t action = zero ? (present ? _TILES_DROP : _TILES_SKIP) : _TILES_WRITE;
            *_tiles_plan_cell(&plan, tx, ty) = action;
            any |= action != _TILES_SKIP;
        }
    if (!any) {
        _tiles_plan_end(&plan);
        return 1;
    }
    if (!_tiles_plan_own(store, &plan)) {
        _tiles_plan_end(&plan);
        return 0;
    }
    _tiles_plan_commit(store, &plan);
    const int c = store->channels;
    for (int ty = plan.ty0; ty <= plan.ty1; ty++)
        for (int tx = plan.tx0; tx <= plan.tx1; tx++) {
            uint8_t action = *_tiles_plan_cell(&plan, tx, ty);
            if (action == _TILES_SKIP) continue;
            size_t slot = _tiles_slot(store, tx, ty);
            if (action == _TILES_DROP) {
                _tiles_set(store, slot, NULL);
                continue;
            }
            int sx, sy, sw, sh;
            tiles_tile_rect(store, tx, ty, &sx, &sy, &sw, &sh);
            int x0 = sx > x ? sx : x, y0 = sy > y ? sy : y;
            int x1 = sx + sw < x + w ? sx + sw : x + w, y1 = sy + sh < y + h ? sy + sh : y + h;
            uint8_t* px = _tiles_px(store->tile[slot]);
            for (int py = y0; py < y1; py++)
                memcpy(px + ((size_t)(py - sy) * (size_t)store->side + (size_t)(x0 - sx)) * (size_t)c,
                       in + (ptrdiff_t)(py - y) * stride + (size_t)(x0 - x) * (size_t)c, (size_t)(x1 - x0) * (size_t)c);
        }
    _tiles_plan_end(&plan);
    return 1;
}

int tiles_write_rect(TILES* store, int x, int y, int w, int h, const uint8_t* in, ptrdiff_t stride) {
    __t_assert(store);
    __t_assert(in || w <= 0 || h <= 0);
    int cx = x, cy = y, cw = w, ch = h;
    if (!_tiles_clip(store, &cx, &cy, &cw, &ch)) return 1;
    const uint8_t* from = in + (ptrdiff_t)(cy - y) * stride + (size_t)(cx - x) * (size_t)store->channels;
    return _tiles_put_rect(store, cx, cy, cw, ch, from, stride, 0);
}

int tiles_clear_rect(TILES* store, int x, int y, int w, int h) {
    __t_assert(store);
    if (!_tiles_clip(store, &x, &y, &w, &h)) return 1;
    _TILES_PLAN plan = {};
    if (!_tiles_plan_begin(&plan, store, x, y, w, h)) return 0;
    int any = 0;
    for (int ty = plan.ty0; ty <= plan.ty1; ty++)
        for (int tx = plan.tx0; tx <= plan.tx1; tx++) {
            if (!store->tile[_tiles_slot(store, tx, ty)]) continue;
            int sx, sy, sw, sh;
            tiles_tile_rect(store, tx, ty, &sx, &sy, &sw, &sh);
            int whole = x <= sx && y <= sy && x + w >= sx + sw && y + h >= sy + sh;
            *_tiles_plan_cell(&plan, tx, ty) = whole ? _TILES_DROP : _TILES_WRITE;
            any = 1;
        }
    if (!any || !_tiles_plan_own(store, &plan)) {
        _tiles_plan_end(&plan);
        return !any;
    }
    _tiles_plan_commit(store, &plan);
    const int c = store->channels;
    for (int ty = plan.ty0; ty <= plan.ty1; ty++)
        for (int tx = plan.tx0; tx <= plan.tx1; tx++) {
            uint8_t action = *_tiles_plan_cell(&plan, tx, ty);
            if (action == _TILES_SKIP) continue;
            size_t slot = _tiles_slot(store, tx, ty);
            if (action == _TILES_DROP) {
                _tiles_set(store, slot, NULL);
                continue;
            }
            int sx, sy, sw, sh;
            tiles_tile_rect(store, tx, ty, &sx, &sy, &sw, &sh);
            int x0 = sx > x ? sx : x, y0 = sy > y ? sy : y;
            int x1 = sx + sw < x + w ? sx + sw : x + w, y1 = sy + sh < y + h ? sy + sh : y + h;
            uint8_t* px = _tiles_px(store->tile[slot]);
            for (int py = y0; py < y1; py++)
                memset(px + ((size_t)(py - sy) * (size_t)store->side + (size_t)(x0 - sx)) * (size_t)c, 0,
                       (size_t)(x1 - x0) * (size_t)c);
        }
    _tiles_plan_end(&plan);
    return 1;
}

int tiles_compact(TILES* store) {
    __t_assert(store);
    size_t slots = (size_t)store->tiles_x * (size_t)store->tiles_y, bytes = tiles_tile_bytes(store);
    int dropped = 0;
    for (size_t i = 0; i < slots; i++)
        if (store->tile[i] && _tiles_zero(_tiles_px(store->tile[i]), bytes)) {
            _tiles_set(store, i, NULL);
            dropped++;
        }
    return dropped;
}

/* ------------------------------------------------------------------------ */
/* Whole pictures                                                            */
/* ------------------------------------------------------------------------ */

int tiles_import(TILES* store, const uint8_t* pixels, ptrdiff_t stride) {
    __t_assert(store);
    __t_assert(pixels);
    return _tiles_put_rect(store, 0, 0, store->width, store->height, pixels, stride, 1);
}

int tiles_export(const TILES* store, uint8_t* pixels, ptrdiff_t stride) {
    __t_assert(store);
    __t_assert(pixels);
    return tiles_read_rect(store, 0, 0, store->width, store->height, pixels, stride);
}

int tiles_from_bitmap(TILES* store, ALLEGRO_BITMAP* bitmap) {
    __t_assert(store);
    __t_assert(bitmap);
    __t_assert(store->channels == TILES_RGBA);
    if (al_get_bitmap_width(bitmap) != store->width || al_get_bitmap_height(bitmap) != store->height) {
        t_log(LOG_ERR, "a %dx%d bitmap does not fit a %dx%d tile store", al_get_bitmap_width(bitmap),
              al_get_bitmap_height(bitmap), store->width, store->height);
        return 0;
    }
    ALLEGRO_LOCKED_REGION* lock = al_lock_bitmap(bitmap, ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE, ALLEGRO_LOCK_READONLY);
    if (!lock) {
        t_log(LOG_ERR, "could not lock a %dx%d bitmap to read its tiles", store->width, store->height);
        return 0;
    }
    int ok = tiles_import(store, (const uint8_t*)lock->data, lock->pitch);
    al_unlock_bitmap(bitmap);
    return ok;
}

int tiles_to_bitmap(const TILES* store, ALLEGRO_BITMAP* bitmap, int x, int y, int w, int h) {
    __t_assert(store);
    __t_assert(bitmap);
    __t_assert(store->channels == TILES_RGBA);
    if (al_get_bitmap_width(bitmap) != store->width || al_get_bitmap_height(bitmap) != store->height) {
        t_log(LOG_ERR, "a %dx%d tile store does not fit a %dx%d bitmap", store->width, store->height,
              al_get_bitmap_width(bitmap), al_get_bitmap_height(bitmap));
        return 0;
    }
    if (!_tiles_clip(store, &x, &y, &w, &h)) return 1;
    ALLEGRO_LOCKED_REGION* lock =
        al_lock_bitmap_region(bitmap, x, y, w, h, ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE, ALLEGRO_LOCK_WRITEONLY);
    if (!lock) {
        t_log(LOG_ERR, "could not lock %dx%d at (%d, %d) to write tiles", w, h, x, y);
        return 0;
    }
    int ok = tiles_read_rect(store, x, y, w, h, (uint8_t*)lock->data, lock->pitch);
    al_unlock_bitmap(bitmap);
    return ok;
}

/* ------------------------------------------------------------------------ */
/* Visits, revisions, bounds                                                 */
/* ------------------------------------------------------------------------ */

int tiles_each(const TILES* store, int x, int y, int w, int h, TILES_VISIT visit, void* user) {
    __t_assert(store);
    __t_assert(visit);
    if (!_tiles_clip(store, &x, &y, &w, &h)) return 1;
    int tx0 = x >> store->shift, ty0 = y >> store->shift;
    int tx1 = (x + w - 1) >> store->shift, ty1 = (y + h - 1) >> store->shift;
    for (int ty = ty0; ty <= ty1; ty++)
        for (int tx = tx0; tx <= tx1; tx++) {
            TILES_TILE* tile = store->tile[_tiles_slot(store, tx, ty)];
            if (tile && !visit(user, tx, ty, _tiles_px(tile))) return 0;
        }
    return 1;
}

uint64_t tiles_revision(const TILES* store) {
    __t_assert(store);
    return store->revision;
}

int tiles_changed_since(const TILES* store, uint64_t revision, TILES_VISIT visit, void* user) {
    __t_assert(store);
    __t_assert(visit);
    for (int ty = 0; ty < store->tiles_y; ty++) {
        if (store->row_changed[ty] <= revision) continue;
        for (int tx = 0; tx < store->tiles_x; tx++) {
            size_t slot = _tiles_slot(store, tx, ty);
            if (store->changed[slot] <= revision) continue;
            TILES_TILE* tile = store->tile[slot];
            if (!visit(user, tx, ty, tile ? _tiles_px(tile) : NULL)) return 0;
        }
    }
    return 1;
}

// Grows an inclusive box by a tile's painted pixels; the box is empty while x1 < x0.
static void _tiles_grow_box(const TILES* store, int tx, int ty, const uint8_t* px, int box[4]) {
    int sx, sy, sw, sh;
    tiles_tile_rect(store, tx, ty, &sx, &sy, &sw, &sh);
    /* A tile inside the box found so far cannot move its edges. */
    if (box[2] >= box[0] && sx >= box[0] && sy >= box[1] && sx + sw - 1 <= box[2] && sy + sh - 1 <= box[3]) return;
    const int c = store->channels, a = c - 1;
    for (int j = 0; j < sh; j++) {
        const uint8_t* row = px + (size_t)j * (size_t)store->side * (size_t)c;
        int first = -1, last = -1;
        for (int i = 0; i < sw; i++)
            if (row[i * c + a]) {
                first = i;
                break;
            }
        if (first < 0) continue;
        for (int i = sw - 1; i >= first; i--)
            if (row[i * c + a]) {
                last = i;
                break;
            }
        if (box[2] < box[0]) {
            box[0] = sx + first, box[1] = sy + j, box[2] = sx + last, box[3] = sy + j;
            continue;
        }
        if (sx + first < box[0]) box[0] = sx + first;
        if (sx + last > box[2]) box[2] = sx + last;
        if (sy + j < box[1]) box[1] = sy + j;
        if (sy + j > box[3]) box[3] = sy + j;
    }
}

int tiles_content_box(const TILES* store, int* x0, int* y0, int* x1, int* y1) {
    __t_assert(store);
    __t_assert(x0 && y0 && x1 && y1);
    int box[4] = {0, 0, -1, -1};
    for (int ty = 0; ty < store->tiles_y; ty++)
        for (int tx = 0; tx < store->tiles_x; tx++) {
            TILES_TILE* tile = store->tile[_tiles_slot(store, tx, ty)];
            if (tile) _tiles_grow_box(store, tx, ty, _tiles_px(tile), box);
        }
    if (box[2] < box[0]) return 0;
    *x0 = box[0], *y0 = box[1], *x1 = box[2], *y1 = box[3];
    return 1;
}

/* ------------------------------------------------------------------------ */
/* Snapshots and shared tiles                                                */
/* ------------------------------------------------------------------------ */

// 1 when two stores have the same kind, side and canvas.
static int _tiles_same_geometry(const TILES* a, const TILES* b) {
    return a->width == b->width && a->height == b->height && a->channels == b->channels && a->shift == b->shift;
}

// 1 when two tiles of one store's kind hold the same pixels (null: all zero).
static int _tiles_same_pixels(const TILES* store, TILES_TILE* a, TILES_TILE* b) {
    if (a == b) return 1;
    size_t bytes = tiles_tile_bytes(store);
    if (!a) return _tiles_zero(_tiles_px(b), bytes);
    if (!b) return _tiles_zero(_tiles_px(a), bytes);
    return memcmp(_tiles_px(a), _tiles_px(b), bytes) == 0;
}

TILES* tiles_snapshot(TILES* store) {
    __t_assert_null(store);
    TILES* copy = _tiles_alloc(store->width, store->height, store->channels, store->shift);
    if (!copy) return NULL;
    size_t slots = (size_t)store->tiles_x * (size_t)store->tiles_y;
    for (size_t i = 0; i < slots; i++) copy->tile[i] = tiles_tile_ref(store->tile[i]);
    memcpy(copy->changed, store->changed, slots * sizeof(uint64_t));
    memcpy(copy->row_changed, store->row_changed, (size_t)store->tiles_y * sizeof(uint64_t));
    copy->revision = store->revision;
    copy->present = store->present;
    return copy;
}

int tiles_restore(TILES* store, const TILES* snapshot) {
    __t_assert(store);
    __t_assert(snapshot);
    if (!_tiles_same_geometry(store, snapshot)) {
        t_log(LOG_ERR, "a %dx%d snapshot does not fit a %dx%d tile store", snapshot->width, snapshot->height,
              store->width, store->height);
        return 0;
    }
    size_t slots = (size_t)store->tiles_x * (size_t)store->tiles_y;
    uint64_t revision = 0;
    for (size_t i = 0; i < slots; i++) {
        TILES_TILE* want = snapshot->tile[i];
        if (store->tile[i] == want) continue;
        if (!_tiles_same_pixels(store, store->tile[i], want)) {
            if (!revision) revision = ++store->revision;
            _tiles_touch(store, i, revision);
        }
        /* Shared again even where the pixels were equal: one copy, not two. */
        _tiles_set(store, i, tiles_tile_ref(want));
    }
    return 1;
}

int tiles_diff(const TILES* before, const TILES* after, TILES_DIFF_VISIT visit, void* user) {
    __t_assert(before);
    __t_assert(after);
    __t_assert(visit);
    if (!_tiles_same_geometry(before, after)) {
        t_log(LOG_ERR, "cannot compare a %dx%d tile store with a %dx%d one", before->width, before->height,
              after->width, after->height);
        return 0;
    }
    for (int ty = 0; ty < before->tiles_y; ty++)
        for (int tx = 0; tx < before->tiles_x; tx++) {
            size_t slot = _tiles_slot(before, tx, ty);
            TILES_TILE *a = before->tile[slot], *b = after->tile[slot];
            if (_tiles_same_pixels(before, a, b)) continue;
            if (!visit(user, tx, ty, a, b)) return 0;
        }
    return 1;
}

TILES_TILE* tiles_tile_at(const TILES* store, int tx, int ty) {
    __t_assert_null(store);
    return _tiles_inside(store, tx, ty) ? store->tile[_tiles_slot(store, tx, ty)] : NULL;
}

TILES_TILE* tiles_tile_ref(TILES_TILE* tile) {
    if (tile) tile->refs.fetch_add(1, std::memory_order_relaxed);
    return tile;
}

void tiles_tile_release(TILES_TILE** tile) {
    __t_assert_void(tile);
    _tiles_unref(*tile);
    *tile = NULL;
}

const uint8_t* tiles_tile_pixels(const TILES_TILE* tile) {
    __t_assert_null(tile);
    return (const uint8_t*)tile + _TILES_HEADER;
}

int tiles_put_tile(TILES* store, int tx, int ty, TILES_TILE* tile) {
    __t_assert(store);
    __t_assert(_tiles_inside(store, tx, ty));
    if (tile && (tile->channels != store->channels || tile->shift != store->shift)) {
        t_log(LOG_ERR, "a tile of %d bytes per pixel and side 2^%d does not fit this store", tile->channels,
              tile->shift);
        return 0;
    }
    size_t slot = _tiles_slot(store, tx, ty);
    if (store->tile[slot] == tile) return 1;
    _tiles_touch(store, slot, ++store->revision);
    _tiles_set(store, slot, tiles_tile_ref(tile));
    return 1;
}
