/* fill: flood fill, linear gradient and clear of the active layer. They work
 * on a copy of the layer's memory backup (never a read-back of the video
 * bitmap), write the changed rectangle back in one lock, and hand the new
 * full-layer pixels to the undo history, which updates the backup from them.
 *
 * The flood fill looks at the layer or at the picture as seen (made band of
 * rows by band of rows from the layers' memory copies as the region reaches
 * them) only to mark in a byte map which pixels are near the seed colour and
 * inside an optional mask; it then finds and grows its region on that map
 * alone, and only then paints the layer, recording just the tiles it
 * painted. */
#include "canvas/fill.h"
#include "canvas/fill_internal.h"

#include <errno.h>
#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "canvas/compositor.h"
#include "canvas/layer.h"
#include "canvas/undo.h"
#include "t_log.h"

static size_t _seed_limit = 0;    /* pairs; 0 = none */
static size_t _seed_capacity = 0; /* reached by the last flood fill */

void _fill_set_seed_limit(int pairs) {
    _seed_limit = pairs > 0 ? (size_t)pairs : 0;
}

int _fill_seed_capacity(void) {
    return (int)_seed_capacity;
}

// The active layer when it may be changed, else null (locked: silently).
static LAYER* _fill_target(DOCUMENT* doc) {
    __t_assert_null(doc);
    __t_assert_null(doc->undo);
    __t_assert_null(doc->active_layer);
    LAYER* layer = doc->active_layer;
    __t_assert_null(layer->bitmap);
    __t_assert_null(layer->backup);
    if (layer->locked) return NULL;
    if (doc->width <= 0 || doc->height <= 0 || al_get_bitmap_width(layer->backup) < doc->width ||
        al_get_bitmap_height(layer->backup) < doc->height || al_get_bitmap_width(layer->bitmap) < doc->width ||
        al_get_bitmap_height(layer->bitmap) < doc->height) {
        t_log(LOG_ERR, "layer %s is smaller than the %dx%d document; not filled", layer_name_text(layer), doc->width,
              doc->height);
        return NULL;
    }
    return layer;
}

// Copies rows y0..y1 (inclusive) of the layer's committed pixels into a
// width x height array; 0 when the backup cannot be read.
static int _layer_copy_rows(LAYER* layer, uint32_t* pixels, int width, int y0, int y1) {
    ALLEGRO_LOCKED_REGION* lock = al_lock_bitmap_region(layer->backup, 0, y0, width, y1 - y0 + 1,
                                                        ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE, ALLEGRO_LOCK_READONLY);
    if (!lock) {
        t_log(LOG_ERR, "could not lock layer backup for fill");
        return 0;
    }
    size_t row = (size_t)width * 4;
    for (int y = y0; y <= y1; y++)
        memcpy(pixels + (size_t)y * (size_t)width, (const uint8_t*)lock->data + (intptr_t)(y - y0) * lock->pitch, row);
    al_unlock_bitmap(layer->backup);
    return 1;
}

// New width x height copy of the layer's committed pixels; the caller frees it.
static uint32_t* _layer_pixels(LAYER* layer, int width, int height) {
    uint32_t* pixels = NULL;
    Malloc(pixels, uint32_t, (size_t)width * (size_t)height, return NULL);
    if (!_layer_copy_rows(layer, pixels, width, 0, height - 1)) {
        free(pixels);
        return NULL;
    }
    return pixels;
}

// Copies rows x0..x1 x y0..y1 (inclusive) of the array into the video bitmap.
static int _layer_write_rect(LAYER* layer, const uint32_t* pixels, int stride, int x0, int y0, int x1, int y1) {
    if (!layer->bitmap) return 0;
    int w = x1 - x0 + 1, h = y1 - y0 + 1;
    if (w < 1 || h < 1) return 0;
    ALLEGRO_LOCKED_REGION* lock =
        al_lock_bitmap_region(layer->bitmap, x0, y0, w, h, ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE, ALLEGRO_LOCK_WRITEONLY);
    if (!lock) return 0;
    size_t row = (size_t)w * 4;
    for (int y = 0; y < h; y++)
        memcpy((uint8_t*)lock->data + (intptr_t)y * lock->pitch, pixels + (size_t)(y0 + y) * (size_t)stride + x0, row);
    al_unlock_bitmap(layer->bitmap);
    layer->needs_clear = 0;
    layer_touch(layer);
    return 1;
}

// Records the change of x0..x1 x y0..y1 as one undo step and shows it; with
// `tiles` (one byte per undo tile, rows of tiles) only the tiles set there
// are recorded.
static int _fill_apply(DOCUMENT* doc, LAYER* layer, const uint32_t* pixels, int x0, int y0, int x1, int y1,
                       const uint8_t* tiles) {
    int w = doc->width, h = doc->height;
    if (!undo_begin(doc)) {
        /* Pixels no undo step records would never reach the backup. */
        t_log(LOG_ERR, "could not open an undo step; layer %s not filled", layer_name_text(layer));
        return 0;
    }
    if (tiles) {
        int tx = (w + UNDO_TILE_SIZE - 1) / UNDO_TILE_SIZE, ty = (h + UNDO_TILE_SIZE - 1) / UNDO_TILE_SIZE;
        for (int r = 0; r < ty; r++)
            for (int c = 0; c < tx; c++)
                if (tiles[(size_t)r * (size_t)tx + (size_t)c])
                    undo_mark_dirty_rect(doc, (float)(c * UNDO_TILE_SIZE), (float)(r * UNDO_TILE_SIZE),
                                         (float)(c * UNDO_TILE_SIZE + UNDO_TILE_SIZE - 1),
                                         (float)(r * UNDO_TILE_SIZE + UNDO_TILE_SIZE - 1));
    } else {
        undo_mark_dirty_rect(doc, (float)x0, (float)y0, (float)x1, (float)y1);
    }
    /* A bitmap whose content is still undefined gets the whole array, which
     * holds the committed pixels outside the change; a rectangle alone would
     * leave garbage around it that the cleared flag then hides. */
    int whole = layer->needs_clear;
    if (!_layer_write_rect(layer, pixels, w, whole ? 0 : x0, whole ? 0 : y0, whole ? w - 1 : x1, whole ? h - 1 : y1)) {
        t_log(LOG_ERR, "could not lock layer video bitmap for fill");
        undo_abort(doc);
        return 0;
    }
    if (!_undo_commit(doc, (const uint8_t*)pixels, w, h))
        t_log(LOG_WARNING, "fill on layer %s shown but not recorded for undo", layer_name_text(layer));
    return 1;
}

// Colour component as a byte, out-of-range and NaN values held to 0..255.
static int _fill_byte(float c) {
    if (!(c > 0.0f)) return 0;
    if (c >= 1.0f) return 255;
    return (int)(c * 255.0f + 0.5f);
}

// Packs bytes in memory order R, G, B, A.
static uint32_t _fill_pack(int r, int g, int b, int a) {
    uint8_t bytes[4] = {(uint8_t)r, (uint8_t)g, (uint8_t)b, (uint8_t)a};
    uint32_t v;
    memcpy(&v, bytes, 4);
    return v;
}

/* ---- flood fill ---- */

typedef struct FILL_SEEDS {
    int* xy;
    size_t count, capacity; /* in pairs */
} FILL_SEEDS;

// Pushes a seed, doubling the stack when full; when it cannot grow the
// pending seeds are dropped and the fill goes on from this one.
static void _fill_push(FILL_SEEDS* seeds, int x, int y) {
    if (seeds->count == seeds->capacity) {
        size_t want = seeds->capacity * 2;
        int* grown = NULL;
        errno = 0;
        if (!_seed_limit || want <= _seed_limit) grown = (int*)realloc(seeds->xy, want * 2 * sizeof(int));
        if (grown) {
            seeds->xy = grown;
            seeds->capacity = want;
            if (want > _seed_capacity) _seed_capacity = want;
        } else {
            char count[32];
            snprintf(count, sizeof(count), "%zu", want * 2);
            t_log(LOG_ERR, "( %s *)realloc( %s * sizeof( %zu ) ) %s at line %d of %s", "seeds->xy", count, sizeof(int),
                  errno ? strerror(errno) : "malloc error", __LINE__, __FILE__);
            t_log(LOG_ERR, "fill seed stack exhausted");
            seeds->count = 0;
        }
    }
    seeds->xy[2 * seeds->count] = x;
    seeds->xy[2 * seeds->count + 1] = y;
    seeds->count++;
}

/* Bits of the flood fill's byte map, one byte per pixel of its window. A
 * pixel of a band already looked at joins the region when its byte is 0. */
#define _FILL_REGION 1  /* matched and connected to the seed */
#define _FILL_GROWN 2   /* within the grow distance of the region */
#define _FILL_BLOCKED 4 /* outside the mask: never filled */
#define _FILL_OTHER 8   /* too far from the seed colour */
/* Rows of the window that are looked at (and seen, for the picture) at a time. */
#define _FILL_BAND 32

void fill_options_defaults(FILL_OPTIONS* options) {
    __t_assert_void(options);
    memset(options, 0, sizeof(*options));
    options->tolerance = FILL_DEFAULT_TOLERANCE;
    options->sample = FILL_SAMPLE_LAYER;
}

/* What one flood fill works on. Coordinates are the document's; the map
 * covers only the window (the document, or the part of it the mask covers),
 * in rows of ww. */
typedef struct FILL_FLOOD {
    DOCUMENT* doc;
    int w, h;
    int wx0, wy0, ww, wh; /* the window */
    uint8_t* map;
    uint8_t* bands_made;  /* one flag per band of the window */
    const uint32_t* layer; /* the layer's pixels to match, or null for the picture as seen */
    uint32_t* seen;       /* one band of the picture as seen */
    int failed;           /* a band could not be seen */
    uint8_t lo[4], span[4];
    int exact;            /* tolerance 0: whole words compare */
    uint32_t seed;
} FILL_FLOOD;

// Marks the pixels of one window row that cannot join the region: too far
// from the seed colour in any byte.
static void _flood_look_row(const FILL_FLOOD* f, uint8_t* m, const uint32_t* v, int n) {
    int i = 0;
#if defined(__SSE2__)
    const __m128i other = _mm_set1_epi8(_FILL_OTHER), seed = _mm_set1_epi32((int)f->seed);
    uint32_t lo_word, span_word;
    memcpy(&lo_word, f->lo, 4);
    memcpy(&span_word, f->span, 4);
    const __m128i lo = _mm_set1_epi32((int)lo_word), span = _mm_set1_epi32((int)span_word);
    for (; i + 16 <= n; i += 16) {
        __m128i near[4];
        for (int k = 0; k < 4; k++) {
            __m128i p = _mm_loadu_si128((const __m128i*)(v + i + 4 * k));
            if (f->exact) {
                near[k] = _mm_cmpeq_epi32(p, seed);
            } else {
                /* Every byte within its window: (p - lo) <= span, as unsigned bytes. */
                __m128i d = _mm_sub_epi8(p, lo);
                __m128i ok = _mm_cmpeq_epi8(_mm_min_epu8(d, span), d);
                near[k] = _mm_cmpeq_epi32(ok, _mm_set1_epi32(-1));
            }
        }
        __m128i packed = _mm_packs_epi16(_mm_packs_epi32(near[0], near[1]), _mm_packs_epi32(near[2], near[3]));
        __m128i mv = _mm_loadu_si128((const __m128i*)(m + i));
        _mm_storeu_si128((__m128i*)(m + i), _mm_or_si128(mv, _mm_andnot_si128(packed, other)));
    }
#endif
    for (; i < n; i++) {
        bool near;
        if (f->exact) {
            near = v[i] == f->seed;
        } else {
            const uint8_t* p = (const uint8_t*)&v[i];
            near = (uint8_t)(p[0] - f->lo[0]) <= f->span[0] && (uint8_t)(p[1] - f->lo[1]) <= f->span[1] &&
                   (uint8_t)(p[2] - f->lo[2]) <= f->span[2] && (uint8_t)(p[3] - f->lo[3]) <= f->span[3];
        }
        if (!near) m[i] |= _FILL_OTHER;
    }
}

// Looks at the bands that hold window rows y - 1 .. y + 1, once each: the
// layer's pixels, or the picture as seen made for that band.
static void _flood_look(FILL_FLOOD* f, int y) {
    for (int r = y - 1; r <= y + 1; r++) {
        int wr = r - f->wy0;
        if (wr < 0 || wr >= f->wh) continue;
        int band = wr / _FILL_BAND;
        if (f->bands_made[band]) continue;
        f->bands_made[band] = 1;
        int first = band * _FILL_BAND, rows = f->wh - first < _FILL_BAND ? f->wh - first : _FILL_BAND;
        if (!f->layer && !compositor_sample_region(f->doc, f->wx0, f->wy0 + first, f->ww, rows, (uint8_t*)f->seen)) {
            f->failed = 1;
            return;
        }
        for (int j = 0; j < rows; j++) {
            const uint32_t* v = f->layer ? f->layer + (size_t)(f->wy0 + first + j) * (size_t)f->w + (size_t)f->wx0
                                         : f->seen + (size_t)j * (size_t)f->ww;
            _flood_look_row(f, f->map + (size_t)(first + j) * (size_t)f->ww, v, f->ww);
        }
    }
}

// Whether pixel (x, y), in a band looked at, joins the region.
static inline bool _flood_matches(const FILL_FLOOD* f, int x, int y) {
    return f->map[(size_t)(y - f->wy0) * (size_t)f->ww + (size_t)(x - f->wx0)] == 0;
}

// Marks every pixel within `g` (a disc) of the region in the window box
// (x0, y0)-(x1, y1) as grown, unless it is marked already, and widens the box
// by what was grown. Per row it keeps each pixel's distance to the nearest
// region pixel in that row; a pixel is within the disc when some row dy away
// holds one at most sqrt(g * g - dy * dy) to the side.
static int _flood_grow(FILL_FLOOD* f, int g, int* x0, int* y0, int* x1, int* y1) {
    int ww = f->ww, wh = f->wh;
    int bx0 = *x0, by0 = *y0, bx1 = *x1, by1 = *y1;
    int gx0 = bx0 - g > 0 ? bx0 - g : 0, gx1 = bx1 + g < ww - 1 ? bx1 + g : ww - 1;
    int gy0 = by0 - g > 0 ? by0 - g : 0, gy1 = by1 + g < wh - 1 ? by1 + g : wh - 1;
    int gw = gx1 - gx0 + 1, slots = 2 * g + 1;
    uint8_t* near = NULL;
    uint8_t* reach = NULL;
    uint8_t* has = NULL;
    Malloc(near, uint8_t, (size_t)slots * (size_t)gw, return 0);
    Malloc(reach, uint8_t, (size_t)gw, free(near); return 0);
    Malloc(has, uint8_t, (size_t)slots, free(reach); free(near); return 0);
    uint8_t far = (uint8_t)(g + 1);
    int next = by0;
    for (int y = gy0; y <= gy1; y++) {
        for (; next <= by1 && next <= y + g; next++) {
            uint8_t* d = near + (size_t)(next % slots) * (size_t)gw;
            const uint8_t* m = f->map + (size_t)next * (size_t)ww + (size_t)gx0;
            uint8_t run = far, any = 0;
            for (int i = 0; i < gw; i++) {
                run = (m[i] & _FILL_REGION) ? 0 : (run < far ? (uint8_t)(run + 1) : far);
                d[i] = run;
                any |= (uint8_t)(run == 0);
            }
            run = far;
            for (int i = gw - 1; i >= 0; i--) {
                run = d[i] == 0 ? 0 : (run < far ? (uint8_t)(run + 1) : far);
                if (run < d[i]) d[i] = run;
            }
            has[next % slots] = any;
        }
        memset(reach, 0, (size_t)gw);
        int some = 0;
        for (int dy = -g; dy <= g; dy++) {
            int r = y + dy;
            if (r < by0 || r > by1 || !has[r % slots]) continue;
            some = 1;
            uint8_t side = (uint8_t)floor(sqrt((double)(g * g - dy * dy)));
            const uint8_t* d = near + (size_t)(r % slots) * (size_t)gw;
            int i = 0;
#if defined(__SSE2__)
            const __m128i limit = _mm_set1_epi8((char)side);
            for (; i + 16 <= gw; i += 16) {
                __m128i v = _mm_loadu_si128((const __m128i*)(d + i));
                __m128i in = _mm_cmpeq_epi8(_mm_min_epu8(v, limit), v);
                _mm_storeu_si128((__m128i*)(reach + i), _mm_or_si128(_mm_loadu_si128((const __m128i*)(reach + i)), in));
            }
#endif
            for (; i < gw; i++) reach[i] |= (uint8_t)(d[i] <= side ? 0xFF : 0);
        }
        if (!some) continue;
        uint8_t* m = f->map + (size_t)y * (size_t)ww + (size_t)gx0;
        for (int i = 0; i < gw; i++) {
            if (!reach[i] || (m[i] & (_FILL_REGION | _FILL_BLOCKED))) continue;
            m[i] |= _FILL_GROWN;
            int x = gx0 + i;
            if (x < *x0) *x0 = x;
            if (x > *x1) *x1 = x;
            if (y < *y0) *y0 = y;
            if (y > *y1) *y1 = y;
        }
    }
    free(has);
    free(reach);
    free(near);
    return 1;
}

// Finds the region from the seed (document coordinates) and marks it in the
// map; its window box in (x0, y0)-(x1, y1), x1 < 0 when nothing matched.
static int _flood_find(FILL_FLOOD* f, int sx, int sy, int* x0, int* y0, int* x1, int* y1) {
    FILL_SEEDS seeds = {NULL, 0, FILL_SEED_STACK_INITIAL};
    Malloc(seeds.xy, int, 2 * FILL_SEED_STACK_INITIAL, return 0);
    _seed_capacity = FILL_SEED_STACK_INITIAL;
    int left_edge = f->wx0, right_edge = f->wx0 + f->ww - 1, top = f->wy0, bottom = f->wy0 + f->wh - 1;
    int bx0 = f->w, by0 = f->h, bx1 = -1, by1 = -1;
    _fill_push(&seeds, sx, sy);
    while (seeds.count > 0 && !f->failed) {
        seeds.count--;
        int px = seeds.xy[2 * seeds.count], py = seeds.xy[2 * seeds.count + 1];
        _flood_look(f, py);
        if (f->failed || !_flood_matches(f, px, py)) continue;
        int left = px, right = px;
        while (left > left_edge && _flood_matches(f, left - 1, py)) left--;
        while (right < right_edge && _flood_matches(f, right + 1, py)) right++;
        memset(f->map + (size_t)(py - f->wy0) * (size_t)f->ww + (size_t)(left - f->wx0), _FILL_REGION,
               (size_t)(right - left + 1));
        if (left < bx0) bx0 = left;
        if (right > bx1) bx1 = right;
        if (py < by0) by0 = py;
        if (py > by1) by1 = py;
        for (int ny = py - 1; ny <= py + 1; ny += 2) {
            if (ny < top || ny > bottom) continue;
            bool in_run = false;
            for (int i = left; i <= right; i++) {
                if (_flood_matches(f, i, ny)) {
                    if (!in_run) _fill_push(&seeds, i, ny);
                    in_run = true;
                } else {
                    in_run = false;
                }
            }
        }
    }
    free(seeds.xy);
    if (f->failed) return 0;
    *x0 = bx0 - f->wx0, *y0 = by0 - f->wy0, *x1 = bx1 < 0 ? -1 : bx1 - f->wx0, *y1 = by1 - f->wy0;
    return 1;
}

// Paints the marked pixels of the window box onto the layer copy: the region
// takes the fill colour, the grown border the fill colour under what the
// layer holds. Sets the tiles painted; `changed` when a pixel differs.
static void _flood_paint(const FILL_FLOOD* f, uint32_t* pixels, uint32_t fill, int x0, int y0, int x1, int y1,
                         uint8_t* tiles, int* changed) {
    int tiles_x = (f->w + UNDO_TILE_SIZE - 1) / UNDO_TILE_SIZE;
    for (int y = y0; y <= y1; y++) {
        int dy = f->wy0 + y;
        const uint8_t* m = f->map + (size_t)y * (size_t)f->ww;
        uint32_t* row = pixels + (size_t)dy * (size_t)f->w + (size_t)f->wx0;
        uint8_t* tile_row = tiles + (size_t)(dy / UNDO_TILE_SIZE) * (size_t)tiles_x;
        for (int x = x0; x <= x1; x++) {
            uint32_t v;
            if (m[x] & _FILL_REGION) {
                v = fill;
            } else if (m[x] & _FILL_GROWN) {
                v = fill;
                layer_blend_mode(LAYER_BLEND_NORMAL)->row((uint8_t*)&v, (const uint8_t*)&row[x], 1);
            } else {
                continue;
            }
            if (v != row[x]) *changed = 1;
            row[x] = v;
            tile_row[(f->wx0 + x) / UNDO_TILE_SIZE] = 1;
        }
    }
}

int fill_flood_with(DOCUMENT* doc, float x, float y, const ALLEGRO_COLOR* color, const FILL_OPTIONS* options) {
    __t_assert(doc);
    __t_assert(color);
    __t_assert(options);
    LAYER* layer = _fill_target(doc);
    if (!layer) return 0;
    int w = doc->width, h = doc->height;
    /* Compared as floats first: a huge or NaN coordinate must not reach (int). */
    float fx = floorf(x), fy = floorf(y);
    if (!(fx >= 0.0f && fy >= 0.0f && fx < (float)w && fy < (float)h)) return 0;
    int sx = (int)fx, sy = (int)fy;

    FILL_FLOOD f = {};
    f.doc = doc;
    f.w = w, f.h = h;
    int wx1 = w - 1, wy1 = h - 1;
    const uint8_t* mask = options->mask;
    if (mask) {
        if (options->mask_w <= 0 || options->mask_h <= 0) return 0;
        long mx1 = (long)options->mask_x + options->mask_w - 1, my1 = (long)options->mask_y + options->mask_h - 1;
        f.wx0 = options->mask_x > 0 ? options->mask_x : 0;
        f.wy0 = options->mask_y > 0 ? options->mask_y : 0;
        if (mx1 < wx1) wx1 = (int)mx1;
        if (my1 < wy1) wy1 = (int)my1;
        if (f.wx0 > wx1 || f.wy0 > wy1) return 0;
        if (sx < f.wx0 || sx > wx1 || sy < f.wy0 || sy > wy1) return 0;
        if (!mask[(size_t)(sy - options->mask_y) * (size_t)options->mask_w + (size_t)(sx - options->mask_x)]) return 0;
    }
    f.ww = wx1 - f.wx0 + 1, f.wh = wy1 - f.wy0 + 1;
    int grow = options->grow < 0 ? 0 : (options->grow > FILL_GROW_MAX ? FILL_GROW_MAX : options->grow);
    int sample_all = options->sample == FILL_SAMPLE_ALL;
    /* Always opaque: the colour's own alpha is not used. */
    uint32_t fill = _fill_pack(_fill_byte(color->r), _fill_byte(color->g), _fill_byte(color->b), 255);
    int t = 0;
    if (options->tolerance > 0.0f) t = (int)(fminf(options->tolerance, 1.0f) * 255.0f + 0.5f);

    uint32_t* pixels = NULL;
    if (sample_all) {
        uint8_t seen[4];
        if (!compositor_sample_region(doc, sx, sy, 1, 1, seen)) return 0;
        memcpy(&f.seed, seen, 4);
        Malloc(f.seen, uint32_t, (size_t)f.ww * _FILL_BAND, return 0);
    } else {
        pixels = _layer_pixels(layer, w, h);
        if (!pixels) return 0;
        f.layer = pixels;
        f.seed = pixels[(size_t)sy * (size_t)w + (size_t)sx];
    }
    int result = 0;
    uint8_t* tiles = NULL;
    if (!sample_all && t == 0 && grow == 0 && f.seed == fill) goto done; /* nothing would change */
    f.exact = t == 0;
    {
        uint8_t s[4];
        memcpy(s, &f.seed, 4);
        /* Per-byte window around the seed; one unsigned compare per byte. */
        for (int c = 0; c < 4; c++) {
            int l = s[c] - t < 0 ? 0 : s[c] - t;
            int hi = s[c] + t > 255 ? 255 : s[c] + t;
            f.lo[c] = (uint8_t)l;
            f.span[c] = (uint8_t)(hi - l);
        }
    }
    Malloc(f.bands_made, uint8_t, f.wh / _FILL_BAND + 1, goto done);
    /* Fresh pages cost nothing until a band is looked at. */
    Malloc(f.map, uint8_t, (size_t)f.ww * (size_t)f.wh, goto done);
    if (mask)
        for (int j = 0; j < f.wh; j++) {
            const uint8_t* in = mask + (size_t)(f.wy0 + j - options->mask_y) * (size_t)options->mask_w +
                                (size_t)(f.wx0 - options->mask_x);
            uint8_t* out = f.map + (size_t)j * (size_t)f.ww;
            for (int i = 0; i < f.ww; i++) out[i] = in[i] ? 0 : _FILL_BLOCKED;
        }
    {
        int x0, y0, x1, y1;
        if (!_flood_find(&f, sx, sy, &x0, &y0, &x1, &y1) || x1 < 0) goto done;
        if (grow > 0 && !_flood_grow(&f, grow, &x0, &y0, &x1, &y1)) goto done;
        if (!pixels) {
            /* Only the tiles painted reach the history and the layer: copy
             * the rows of those tiles, or every row when the layer's picture
             * is still undefined and gets the whole array. */
            Malloc(pixels, uint32_t, (size_t)w * (size_t)h, goto done);
            int r0 = layer->needs_clear ? 0 : (f.wy0 + y0) / UNDO_TILE_SIZE * UNDO_TILE_SIZE;
            int r1 = layer->needs_clear ? h - 1 : (f.wy0 + y1) / UNDO_TILE_SIZE * UNDO_TILE_SIZE + UNDO_TILE_SIZE - 1;
            if (r1 > h - 1) r1 = h - 1;
            if (!_layer_copy_rows(layer, pixels, w, r0, r1)) goto done;
        }
        int tiles_x = (w + UNDO_TILE_SIZE - 1) / UNDO_TILE_SIZE, tiles_y = (h + UNDO_TILE_SIZE - 1) / UNDO_TILE_SIZE;
        Malloc(tiles, uint8_t, (size_t)tiles_x * (size_t)tiles_y, goto done);
        int changed = 0;
        _flood_paint(&f, pixels, fill, x0, y0, x1, y1, tiles, &changed);
        /* Without a tolerance a region that already has the colour is left alone. */
        if (!changed && t == 0) goto done;
        result = _fill_apply(doc, layer, pixels, f.wx0 + x0, f.wy0 + y0, f.wx0 + x1, f.wy0 + y1, tiles);
    }
done:
    free(tiles);
    free(f.map);
    free(f.bands_made);
    free(f.seen);
    free(pixels);
    return result;
}

int fill_flood(DOCUMENT* doc, float x, float y, const ALLEGRO_COLOR* color, float tolerance) {
    FILL_OPTIONS options;
    fill_options_defaults(&options);
    options.tolerance = tolerance;
    return fill_flood_with(doc, x, y, color, &options);
}

/* ---- gradient ---- */

int fill_gradient(DOCUMENT* doc, float x0, float y0, float x1, float y1, const ALLEGRO_COLOR* color) {
    __t_assert(doc);
    __t_assert(color);
    LAYER* layer = _fill_target(doc);
    if (!layer) return 0;
    if (!isfinite(x0) || !isfinite(y0) || !isfinite(x1) || !isfinite(y1)) {
        t_log(LOG_DEBUG, "gradient with a non-finite end point ignored");
        return 0;
    }
    int w = doc->width, h = doc->height;
    size_t n = (size_t)w * (size_t)h;
    /* Only r, g and b; components outside 0..1 are held there so that no
     * byte can exceed 255. */
    double cr = color->r > 0.0f ? fmin(color->r, 1.0) : 0.0;
    double cg = color->g > 0.0f ? fmin(color->g, 1.0) : 0.0;
    double cb = color->b > 0.0f ? fmin(color->b, 1.0) : 0.0;
    uint32_t full = _fill_pack(_fill_byte((float)cr), _fill_byte((float)cg), _fill_byte((float)cb), 255);
    double dx = (double)x1 - x0, dy = (double)y1 - y0, l2 = dx * dx + dy * dy;

    uint32_t* pixels = NULL;
    if (l2 < 1.0) {
        Malloc(pixels, uint32_t, n, return 0);
        for (size_t i = 0; i < n; i++) pixels[i] = full;
    } else {
        pixels = _layer_pixels(layer, w, h);
        if (!pixels) return 0;
        for (int i = 0; i < h; i++) {
            double along_y = (i - (double)y0) * dy;
            uint32_t* row = pixels + (size_t)i * (size_t)w;
            for (int j = 0; j < w; j++) {
                double t = ((j - (double)x0) * dx + along_y) / l2;
                if (t < 0.0) {
                    row[j] = full;
                    continue;
                }
                if (t >= 1.0) continue;
                double f = 1.0 - t, keep = 1.0 - f;
                uint8_t* p = (uint8_t*)&row[j];
                double src[4] = {cr * f, cg * f, cb * f, f};
                for (int c = 0; c < 4; c++) {
                    int v = (int)(src[c] * 255.0 + p[c] * keep + 0.5);
                    p[c] = (uint8_t)(v > 255 ? 255 : v);
                }
            }
        }
    }
    int result = _fill_apply(doc, layer, pixels, 0, 0, w - 1, h - 1, NULL);
    free(pixels);
    return result;
}

/* ---- clear ---- */

int fill_clear(DOCUMENT* doc) {
    __t_assert(doc);
    LAYER* layer = _fill_target(doc);
    if (!layer) return 0;
    uint32_t* pixels = NULL;
    Malloc(pixels, uint32_t, (size_t)doc->width * (size_t)doc->height, return 0);
    int result = _fill_apply(doc, layer, pixels, 0, 0, doc->width - 1, doc->height - 1, NULL);
    free(pixels);
    return result;
}
