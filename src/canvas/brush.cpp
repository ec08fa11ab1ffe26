/* brush: turns pointer input into paint. Dabs of a cached tip stamp are
 * placed at even spacing along the stroke into a stroke buffer (white
 * coverage), which is tinted onto the layer once at the end, so the stroke's
 * opacity caps the whole stroke. The eraser works on the layer directly.
 * The stroke buffer is only ever cleared and composited inside the rectangle
 * the dabs touched: outside it the buffer is transparent, so clearing it
 * again or compositing it would not change a pixel.
 *
 * The buffer's paint is white, so its four channels are always equal: dabs
 * are stamped on the CPU into one coverage byte per pixel, with the graphics
 * device's own rounding, and the rectangle they changed is uploaded once,
 * when the buffer is next shown or laid down. Drawing one textured quad per
 * dab costs far more in the driver than the pixels themselves. The eraser
 * draws on the layer's video bitmap, one batch per segment. */
#include "canvas/brush.h"
#include "canvas/brush_internal.h"

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "canvas/undo.h"
#include "t_hash.h"
#include "t_log.h"

static const char* const _tip_names[BRUSH_TIP_COUNT] = {"Round",      "Square", "Chisel (L)", "Spray",
                                                         "Chisel (R)", "Flat",   "Diamond"};

static const BRUSH_PRESET _preset_table[BRUSH_PRESET_COUNT] = {
    {"Pencil", "Pen", 4.0f, 0.80f, 0.70f, 0.90f, 0.15f, BRUSH_TIP_ROUND},
    {"Ink", "Ink", 8.0f, 0.95f, 1.00f, 1.00f, 0.10f, BRUSH_TIP_ROUND},
    {"Airbrush", "Air", 64.0f, 0.00f, 0.03f, 1.00f, 0.10f, BRUSH_TIP_SPRAY},
    {"Marker", "Mk", 24.0f, 0.70f, 1.00f, 0.50f, 0.12f, BRUSH_TIP_CHISEL_L},
};

/* Process-wide state: one live stroke or preview at a time. */
static ALLEGRO_BITMAP* _stroke_buffer = NULL;
static int _buffer_shown = 0;
static int _buffer_preview = 0;
/* A live stroke owns the buffer from its begin to its end or abort; a
 * preview drawn meanwhile would replace its paint. */
static int _live_stroke = 0;
static HASH_TABLE* _stamp_cache = NULL;
static HASH_TABLE* _preset_index = NULL;
/* A rectangle of the stroke buffer, x1/y1 exclusive; empty when x0 >= x1. */
typedef struct _BOX {
    int x0, y0, x1, y1;
} _BOX;

// Grows a box by a rectangle that is not empty.
static inline void _box_grow(_BOX* b, int x0, int y0, int x1, int y1) {
    if (b->x0 >= b->x1) {
        *b = _BOX{x0, y0, x1, y1};
        return;
    }
    if (x0 < b->x0) b->x0 = x0;
    if (y0 < b->y0) b->y0 = y0;
    if (x1 > b->x1) b->x1 = x1;
    if (y1 > b->y1) b->y1 = y1;
}

/* Touched rectangle of the stroke buffer. */
static _BOX _touched = {0, 0, 0, 0};

/* A cached tip: its coverage, and the video bitmap made from it on demand. */
typedef struct _STAMP {
    int n;             /* side in pixels */
    uint8_t* coverage; /* n * n bytes */
    ALLEGRO_BITMAP* bitmap;
} _STAMP;

/* The stamp the last lookup found, so a stroke's dabs skip the key text. */
static _STAMP* _stamp_last = NULL;
static int _stamp_last_d = 0, _stamp_last_h = 0, _stamp_last_tip = 0;

/* The stroke buffer's coverage on the CPU (one byte per pixel, rows of
 * _coverage_w), and the rectangle not yet uploaded (x1/y1 exclusive). */
static uint8_t* _coverage = NULL;
static int _coverage_w = 0, _coverage_h = 0;
static _BOX _pending = {0, 0, 0, 0};

/* A stamp scaled by one dab alpha, as the device would round it, and the
 * first and past-last non-zero column of each row. */
typedef struct _SCALED {
    const _STAMP* stamp;
    uint32_t alpha_bits;
    int n;
    uint8_t* s;
    int16_t* span; /* 2 per row */
} _SCALED;
static _SCALED _scaled = {};

/* ------------------------------------------------------------------------ */
/* Parameters, presets and tips                                              */
/* ------------------------------------------------------------------------ */

// Fills the default brush.
void brush_defaults(BRUSH* brush) {
    __t_assert_void(brush);
    brush->size = 24.0f;
    brush->hardness = 0.7f;
    brush->flow = 1.0f;
    brush->opacity = 1.0f;
    brush->color = al_map_rgb(40, 40, 40);
    brush->spacing = 0.25f;
    brush->eraser = 0;
    brush->tip = BRUSH_TIP_ROUND;
}

// Preset row by name; the name index is built on first use.
const BRUSH_PRESET* brush_preset_get(const char* name) {
    __t_assert_null(name);
    if (!_preset_index) {
        _preset_index = new_ht(16);
        __t_assert_null(_preset_index);
        for (int i = 0; i < BRUSH_PRESET_COUNT; i++)
            if (!ht_put_ptr(_preset_index, _preset_table[i].name, (void*)&_preset_table[i], NULL))
                t_log(LOG_ERR, "could not register brush preset %s", _preset_table[i].name);
    }
    void* row = NULL;
    if (!ht_get_ptr(_preset_index, name, &row)) return NULL;
    return (const BRUSH_PRESET*)row;
}

// Copies a preset's shape parameters into the brush; the colour stays.
int brush_apply_preset(BRUSH* brush, const char* name) {
    __t_assert(brush);
    const BRUSH_PRESET* row = name ? brush_preset_get(name) : NULL;
    if (!row) {
        t_log(LOG_ERR, "unknown brush preset %s", name ? name : "NULL");
        return 0;
    }
    brush->size = row->size;
    brush->hardness = row->hardness;
    brush->flow = row->flow;
    brush->opacity = row->opacity;
    brush->spacing = row->spacing;
    brush->tip = row->tip;
    brush->eraser = 0;
    return 1;
}

int brush_tip_count(void) { return BRUSH_TIP_COUNT; }

// Display name of a tip, null outside the table.
const char* brush_tip_name(int tip) { return (tip >= 0 && tip < BRUSH_TIP_COUNT) ? _tip_names[tip] : NULL; }

int brush_preset_count(void) { return BRUSH_PRESET_COUNT; }

// Name of preset `index`, null outside the table.
const char* brush_preset_name(int index) {
    return (index >= 0 && index < BRUSH_PRESET_COUNT) ? _preset_table[index].name : NULL;
}

// Short label of preset `index`, null outside the table.
const char* brush_preset_label(int index) {
    return (index >= 0 && index < BRUSH_PRESET_COUNT) ? _preset_table[index].label : NULL;
}

/* ------------------------------------------------------------------------ */
/* Stamps                                                                    */
/* ------------------------------------------------------------------------ */

// Stamp diameter in pixels: the size rounded up, at least 1.
static int _stamp_diameter(float size) {
    /* Also keeps NaN and absurd sizes away from an undefined float-to-int cast. */
    if (!(size > 1.0f)) return 1;
    if (size > 65536.0f) size = 65536.0f;
    return (int)ceilf(size);
}

// Hardness in whole percent, as used in the cache key.
static int _stamp_hardness_percent(float hardness) {
    if (!(hardness > -1e6f)) hardness = -1e6f; /* NaN and huge values stay castable */
    if (hardness > 1e6f) hardness = 1e6f;
    return (int)(100.0f * hardness + 0.5f);
}

// Distance of a normalised tip position from the tip's edge rule (1 = edge).
static float _tip_distance(int tip, float u, float v) {
    const float k = 0.70710677f;
    switch (tip) {
        case BRUSH_TIP_SQUARE: return fmaxf(fabsf(u), fabsf(v));
        case BRUSH_TIP_CHISEL_L: {
            float a = (u + v) * k, b = (u - v) * k * 2.6f;
            return sqrtf(a * a + b * b);
        }
        case BRUSH_TIP_CHISEL_R: {
            float a = (u - v) * k, b = (u + v) * k * 2.6f;
            return sqrtf(a * a + b * b);
        }
        case BRUSH_TIP_FLAT: return sqrtf(u * u + (2.6f * v) * (2.6f * v));
        case BRUSH_TIP_DIAMOND: return fmaxf(fabsf((u + v) * k), fabsf((u - v) * k));
        default: return sqrtf(u * u + v * v);
    }
}

// Computes a tip's coverage on the CPU: n * n bytes, null on failure.
static uint8_t* _stamp_coverage(const BRUSH* brush, int n) {
    uint8_t* coverage = NULL;
    Malloc(coverage, uint8_t, (size_t)n * (size_t)n, return NULL);
    float c = (float)(n - 1) / 2.0f, h = (float)n / 2.0f, hardness = brush->hardness;
    for (int i = 0; i < n; i++) {
        uint8_t* row = coverage + (size_t)i * (size_t)n;
        for (int j = 0; j < n; j++) {
            float d = _tip_distance(brush->tip, ((float)j - c) / h, ((float)i - c) / h);
            int value;
            if (d >= 1.0f)
                value = 0;
            else if (d <= hardness)
                value = 255;
            else {
                float t = (d - hardness) / (1.0f - hardness);
                value = (int)((1.0f - (3.0f - 2.0f * t) * t * t) * 255.0f + 0.5f);
            }
            row[j] = (uint8_t)value;
        }
    }
    return coverage;
}

// Uploads n * n coverage bytes as a premultiplied-white video bitmap.
static ALLEGRO_BITMAP* _stamp_upload(const uint8_t* coverage, int n) {
    int flags = al_get_new_bitmap_flags();
    int format = al_get_new_bitmap_format();
    al_set_new_bitmap_format(ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE);
    al_set_new_bitmap_flags(ALLEGRO_MEMORY_BITMAP);
    ALLEGRO_BITMAP* memory = al_create_bitmap(n, n);
    ALLEGRO_LOCKED_REGION* lock =
        memory ? al_lock_bitmap(memory, ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE, ALLEGRO_LOCK_WRITEONLY) : NULL;
    if (!lock) {
        t_log(LOG_ERR, "could not lock %dpx stamp", n);
        if (memory) al_destroy_bitmap(memory);
        al_set_new_bitmap_flags(flags);
        al_set_new_bitmap_format(format);
        return NULL;
    }
    for (int i = 0; i < n; i++) {
        uint32_t* row = (uint32_t*)((uint8_t*)lock->data + (intptr_t)i * lock->pitch);
        for (int j = 0; j < n; j++) row[j] = (uint32_t)coverage[(size_t)i * (size_t)n + j] * 0x01010101u;
    }
    al_unlock_bitmap(memory);
    al_set_new_bitmap_flags(ALLEGRO_VIDEO_BITMAP | ALLEGRO_MIN_LINEAR);
    ALLEGRO_BITMAP* stamp = al_clone_bitmap(memory);
    al_set_new_bitmap_flags(flags);
    al_set_new_bitmap_format(format);
    al_destroy_bitmap(memory);
    if (!stamp) t_log(LOG_ERR, "could not upload %dpx stamp", n);
    return stamp;
}

// Computes a stamp on the CPU and uploads it as a video bitmap.
ALLEGRO_BITMAP* _stamp_generate(const BRUSH* brush) {
    __t_assert_null(brush);
    int n = _stamp_diameter(brush->size);
    uint8_t* coverage = _stamp_coverage(brush, n);
    if (!coverage) return NULL;
    ALLEGRO_BITMAP* stamp = _stamp_upload(coverage, n);
    free(coverage);
    return stamp;
}

// Cache destructor for stamps.
static void _stamp_destroy(void* ptr) {
    _STAMP* stamp = (_STAMP*)ptr;
    if (!stamp) return;
    if (stamp->bitmap) al_destroy_bitmap(stamp->bitmap);
    free(stamp->coverage);
    free(stamp);
}

/* Bytes the cached stamps hold, coverage and bitmaps. */
static size_t _stamp_bytes = 0;

// Empties the stamp cache and forgets everything that pointed into it.
static void _stamp_cache_empty(void) {
    if (_stamp_cache) empty_ht(_stamp_cache);
    _stamp_bytes = 0;
    _stamp_last = NULL;
    _scaled.stamp = NULL;
}

// The brush's cached stamp (coverage only until a bitmap is asked for), computed on a miss.
static _STAMP* _stamp_entry(const BRUSH* brush) {
    int d = _stamp_diameter(brush->size), hp = _stamp_hardness_percent(brush->hardness), tip = (int)brush->tip;
    if (_stamp_last && d == _stamp_last_d && hp == _stamp_last_h && tip == _stamp_last_tip) return _stamp_last;
    if (!_stamp_cache) {
        _stamp_cache = new_ht(BRUSH_STAMP_CACHE_MAX);
        __t_assert_null(_stamp_cache);
    }
    char key[64];
    snprintf(key, sizeof(key), "d%d_h%d_s%d", d, hp, tip);
    void* hit = NULL;
    _STAMP* stamp = NULL;
    if (ht_get_ptr(_stamp_cache, key, &hit)) {
        stamp = (_STAMP*)hit;
    } else {
        /* Bounded without per-entry bookkeeping: a full cache starts over. */
        size_t bytes = (size_t)d * (size_t)d;
        if (_stamp_cache->nb_keys > BRUSH_STAMP_CACHE_MAX - 1 || _stamp_bytes + bytes > BRUSH_STAMP_CACHE_BYTES)
            _stamp_cache_empty();
        Malloc(stamp, _STAMP, 1, return NULL);
        stamp->n = d;
        stamp->coverage = _stamp_coverage(brush, d);
        if (!stamp->coverage) {
            free(stamp);
            return NULL;
        }
        if (!ht_put_ptr(_stamp_cache, key, stamp, _stamp_destroy)) {
            t_log(LOG_ERR, "could not cache stamp %s", key);
            _stamp_destroy(stamp);
            return NULL;
        }
        _stamp_bytes += bytes;
    }
    _stamp_last = stamp;
    _stamp_last_d = d;
    _stamp_last_h = hp;
    _stamp_last_tip = tip;
    return stamp;
}

// The brush's stamp from the cache as a video bitmap, generated on a miss.
ALLEGRO_BITMAP* _stamp_get(const BRUSH* brush) {
    __t_assert_null(brush);
    _STAMP* stamp = _stamp_entry(brush);
    if (!stamp) return NULL;
    if (!stamp->bitmap) {
        stamp->bitmap = _stamp_upload(stamp->coverage, stamp->n);
        if (stamp->bitmap) _stamp_bytes += (size_t)stamp->n * (size_t)stamp->n * 4;
    }
    return stamp->bitmap;
}

int _stamp_cache_count(void) { return _stamp_cache ? (int)_stamp_cache->nb_keys : 0; }

/* ------------------------------------------------------------------------ */
/* Stroke buffer                                                             */
/* ------------------------------------------------------------------------ */

// Forgets the touched rectangle (the buffer is wholly transparent).
static void _touched_reset(void) { _touched = _BOX{0, 0, 0, 0}; }

// Grows the touched rectangle by a canvas rectangle (x1, y1 exclusive).
static void _touched_add(int x0, int y0, int x1, int y1) {
    if (x0 >= x1 || y0 >= y1) return;
    _box_grow(&_touched, x0, y0, x1, y1);
}

// Float position to a clamped int, so far-off dabs cannot overflow the rectangle.
static int _clamp_to_int(float v) {
    if (!(v > -1e8f)) return -100000000;
    if (v > 1e8f) return 100000000;
    return (int)v;
}

// The touched rectangle with a margin, clipped to the buffer; 0 when empty.
int brush_stroke_buffer_bounds(int* x, int* y, int* w, int* h) {
    __t_assert(x);
    __t_assert(y);
    __t_assert(w);
    __t_assert(h);
    *x = *y = *w = *h = 0;
    if (!_stroke_buffer || _touched.x0 >= _touched.x1) return 0;
    /* Two texels of margin: a filtered (zoomed-out) draw samples neighbours
     * of the touched texels, and those must lie inside the drawn region. */
    int bw = al_get_bitmap_width(_stroke_buffer), bh = al_get_bitmap_height(_stroke_buffer);
    int x0 = _touched.x0 - 2, y0 = _touched.y0 - 2, x1 = _touched.x1 + 2, y1 = _touched.y1 + 2;
    if (x0 < 0) x0 = 0;
    if (y0 < 0) y0 = 0;
    if (x1 > bw) x1 = bw;
    if (y1 > bh) y1 = bh;
    if (x0 >= x1 || y0 >= y1) return 0;
    *x = x0, *y = y0, *w = x1 - x0, *h = y1 - y0;
    return 1;
}

/* ---- coverage on the CPU ---- */

// Forgets the rectangle waiting for upload.
static void _pending_reset(void) { _pending = _BOX{0, 0, 0, 0}; }

// Drops the CPU coverage (it is made again with the stroke buffer).
static void _coverage_free(void) {
    free(_coverage);
    _coverage = NULL;
    _coverage_w = _coverage_h = 0;
    _pending_reset();
}

// Uploads the coverage changed since the last upload into the stroke buffer,
// each byte as four equal channels of premultiplied white.
static void _coverage_flush(void) {
    if (_pending.x0 >= _pending.x1 || _pending.y0 >= _pending.y1) return;
    int x = _pending.x0, y = _pending.y0, w = _pending.x1 - _pending.x0, h = _pending.y1 - _pending.y0;
    _pending_reset();
    if (!_stroke_buffer || !_coverage) return;
    ALLEGRO_LOCKED_REGION* lock =
        al_lock_bitmap_region(_stroke_buffer, x, y, w, h, ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE, ALLEGRO_LOCK_WRITEONLY);
    if (!lock) {
        t_log(LOG_ERR, "could not lock %dx%d of the stroke buffer at (%d, %d)", w, h, x, y);
        return;
    }
    for (int j = 0; j < h; j++) {
        uint32_t* out = (uint32_t*)((uint8_t*)lock->data + (intptr_t)j * lock->pitch);
        const uint8_t* in = _coverage + (size_t)(y + j) * (size_t)_coverage_w + (size_t)x;
        int i = 0;
#if defined(__SSE2__)
        /* Big tips upload large rectangles: each byte spread to four, 16 at a time. */
        for (; i + 16 <= w; i += 16) {
            __m128i v = _mm_loadu_si128((const __m128i*)(in + i));
            __m128i lo = _mm_unpacklo_epi8(v, v), hi = _mm_unpackhi_epi8(v, v);
            _mm_storeu_si128((__m128i*)(out + i), _mm_unpacklo_epi16(lo, lo));
            _mm_storeu_si128((__m128i*)(out + i + 4), _mm_unpackhi_epi16(lo, lo));
            _mm_storeu_si128((__m128i*)(out + i + 8), _mm_unpacklo_epi16(hi, hi));
            _mm_storeu_si128((__m128i*)(out + i + 12), _mm_unpackhi_epi16(hi, hi));
        }
#endif
        for (; i < w; i++) out[i] = (uint32_t)in[i] * 0x01010101u;
    }
    al_unlock_bitmap(_stroke_buffer);
}

// The stamp scaled by a dab alpha exactly as the device scales a tinted texel
// (texel / 255 * alpha * 255, rounded to nearest even), cached for the next dab.
static const _SCALED* _scaled_get(const _STAMP* stamp, float a) {
    uint32_t bits;
    memcpy(&bits, &a, sizeof(bits));
    if (_scaled.stamp == stamp && _scaled.alpha_bits == bits && _scaled.n == stamp->n) return &_scaled;
    int n = stamp->n;
    if (n != _scaled.n || !_scaled.s) {
        free(_scaled.s);
        free(_scaled.span);
        _scaled.s = NULL;
        _scaled.span = NULL;
        _scaled.stamp = NULL;
        _scaled.n = 0;
        Malloc(_scaled.s, uint8_t, (size_t)n * (size_t)n, return NULL);
        Malloc(_scaled.span, int16_t, (size_t)n * 2, return NULL);
        _scaled.n = n;
    }
    uint8_t lut[256];
    for (int c = 0; c < 256; c++) lut[c] = (uint8_t)lrintf(((float)c * (1.0f / 255.0f)) * a * 255.0f);
    for (int i = 0; i < n; i++) {
        const uint8_t* in = stamp->coverage + (size_t)i * (size_t)n;
        uint8_t* out = _scaled.s + (size_t)i * (size_t)n;
        int first = n, last = 0;
        for (int j = 0; j < n; j++) {
            out[j] = lut[in[j]];
            if (out[j]) {
                if (j < first) first = j;
                last = j + 1;
            }
        }
        _scaled.span[2 * i] = (int16_t)(first < last ? first : 0);
        _scaled.span[2 * i + 1] = (int16_t)(first < last ? last : 0);
    }
    _scaled.stamp = stamp;
    _scaled.alpha_bits = bits;
    return &_scaled;
}

// Blends n scaled coverage bytes over a coverage row: d = s + d * (255 - s) / 255,
// with the device's rounding of a normalised product, (p + (p >> 8) + 128) >> 8.
static void _coverage_row(uint8_t* d, const uint8_t* s, int n) {
    int i = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128(), k255 = _mm_set1_epi16(255), k128 = _mm_set1_epi16(128);
    for (; i + 16 <= n; i += 16) {
        __m128i sv = _mm_loadu_si128((const __m128i*)(s + i));
        __m128i dv = _mm_loadu_si128((const __m128i*)(d + i));
        __m128i lo = _mm_mullo_epi16(_mm_unpacklo_epi8(dv, zero), _mm_sub_epi16(k255, _mm_unpacklo_epi8(sv, zero)));
        __m128i hi = _mm_mullo_epi16(_mm_unpackhi_epi8(dv, zero), _mm_sub_epi16(k255, _mm_unpackhi_epi8(sv, zero)));
        lo = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(lo, _mm_srli_epi16(lo, 8)), k128), 8);
        hi = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(hi, _mm_srli_epi16(hi, 8)), k128), 8);
        _mm_storeu_si128((__m128i*)(d + i), _mm_adds_epu8(sv, _mm_packus_epi16(lo, hi)));
    }
#endif
    for (; i < n; i++) {
        unsigned p = (unsigned)d[i] * (255u - s[i]);
        unsigned v = s[i] + ((p + (p >> 8) + 128u) >> 8);
        d[i] = (uint8_t)(v > 255u ? 255u : v);
    }
}

// Stamps a scaled tip into the coverage with its top-left corner at (left, top).
static void _coverage_dab(const _SCALED* sc, int left, int top) {
    int n = sc->n;
    int x0 = left > 0 ? left : 0, y0 = top > 0 ? top : 0;
    int x1 = left > _coverage_w - n ? _coverage_w : left + n, y1 = top > _coverage_h - n ? _coverage_h : top + n;
    if (x0 >= x1 || y0 >= y1) return;
    for (int y = y0; y < y1; y++) {
        int r = y - top;
        int c0 = x0 - left, c1 = x1 - left;
        if (c0 < sc->span[2 * r]) c0 = sc->span[2 * r];
        if (c1 > sc->span[2 * r + 1]) c1 = sc->span[2 * r + 1];
        if (c0 >= c1) continue;
        _coverage_row(_coverage + (size_t)y * (size_t)_coverage_w + (size_t)(left + c0),
                      sc->s + (size_t)r * (size_t)n + (size_t)c0, c1 - c0);
    }
    _box_grow(&_pending, x0, y0, x1, y1);
}

// Clears the stroke buffer to transparent; only the touched part can hold paint.
static void _stroke_buffer_clear(void) {
    if (!_stroke_buffer) return;
    int x, y, w, h;
    if (brush_stroke_buffer_bounds(&x, &y, &w, &h)) {
        ALLEGRO_BITMAP* target = al_get_target_bitmap();
        al_set_target_bitmap(_stroke_buffer);
        al_set_clipping_rectangle(x, y, w, h);
        al_clear_to_color(al_map_rgba(0, 0, 0, 0));
        al_reset_clipping_rectangle();
        al_set_target_bitmap(target);
        if (_coverage)
            for (int j = y; j < y + h; j++) memset(_coverage + (size_t)j * (size_t)_coverage_w + (size_t)x, 0, (size_t)w);
    }
    _pending_reset();
    _touched_reset();
}

// The stroke buffer for the document's size, (re-)created on demand.
ALLEGRO_BITMAP* _stroke_buffer_get(DOCUMENT* doc) {
    __t_assert_null(doc);
    if (_stroke_buffer && (al_get_bitmap_width(_stroke_buffer) != doc->width ||
                           al_get_bitmap_height(_stroke_buffer) != doc->height)) {
        al_destroy_bitmap(_stroke_buffer);
        _stroke_buffer = NULL;
        _buffer_shown = 0;
        _buffer_preview = 0;
    }
    if (_stroke_buffer) {
        _coverage_flush();
        return _stroke_buffer;
    }
    _coverage_free();
    if (doc->width <= 0 || doc->height <= 0) return NULL;
    /* Zeroed pages cost nothing until a dab writes them. */
    _coverage = (uint8_t*)calloc((size_t)doc->width * (size_t)doc->height, 1);
    if (!_coverage) {
        t_log(LOG_ERR, "could not create %dx%d stroke coverage", doc->width, doc->height);
        return NULL;
    }
    _coverage_w = doc->width;
    _coverage_h = doc->height;
    int flags = al_get_new_bitmap_flags();
    int format = al_get_new_bitmap_format();
    al_set_new_bitmap_format(ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE);
    al_set_new_bitmap_flags(ALLEGRO_VIDEO_BITMAP | ALLEGRO_MIN_LINEAR);
    _stroke_buffer = al_create_bitmap(doc->width, doc->height);
    al_set_new_bitmap_flags(flags);
    al_set_new_bitmap_format(format);
    if (!_stroke_buffer) {
        t_log(LOG_ERR, "could not create %dx%d stroke buffer", doc->width, doc->height);
        _coverage_free();
        return NULL;
    }
    /* A new video bitmap's contents are undefined: clear it whole once, after
     * which only touched rectangles ever need clearing. */
    ALLEGRO_BITMAP* target = al_get_target_bitmap();
    al_set_target_bitmap(_stroke_buffer);
    al_clear_to_color(al_map_rgba(0, 0, 0, 0));
    al_set_target_bitmap(target);
    _touched_reset();
    return _stroke_buffer;
}

// The stroke buffer, brought up to date, while it is to be shown.
ALLEGRO_BITMAP* brush_stroke_buffer_shown(void) {
    if (!_buffer_shown) return NULL;
    _coverage_flush();
    return _stroke_buffer;
}

// Hides a preview; a live stroke's buffer stays shown.
void brush_preview_clear(void) {
    if (_buffer_preview) {
        _buffer_preview = 0;
        _buffer_shown = 0;
    }
}

/* ------------------------------------------------------------------------ */
/* Dabs                                                                      */
/* ------------------------------------------------------------------------ */

// Next value of the 32-bit xorshift stream.
static uint32_t _xorshift(uint32_t s) {
    s ^= s << 13;
    s ^= s >> 17;
    s ^= s << 5;
    return s;
}

// Uniform float in [0, 1) from the top 24 bits.
static float _unit(uint32_t s) { return (float)(s >> 8) * (1.0f / 16777216.0f); }

// Seed of the spray pattern for the 2x2-pixel cell holding a point.
static uint32_t _spray_seed(float px, float py) {
    uint32_t cx = (uint32_t)_clamp_to_int(floorf(px / 2.0f)), cy = (uint32_t)_clamp_to_int(floorf(py / 2.0f));
    uint32_t h = (cx * 0x9E3779B1u) ^ (cy * 0x85EBCA77u);
    h ^= h >> 16;
    h *= 0x7FEB352Du;
    uint32_t s = h ^ (h >> 15);
    return s ? s : 1u;
}

// Scatters soft dots over the brush disc at every mirrored point.
static int _brush_spray(DOCUMENT* doc, BRUSH_STROKE* stroke, const BRUSH* brush, const float* points, int count,
                        float a) {
    BRUSH dot = *brush;
    dot.size = fmaxf(2.0f, 0.18f * brush->size);
    dot.hardness = 0.0f;
    dot.tip = BRUSH_TIP_ROUND;
    _STAMP* stamp = _stamp_entry(&dot);
    if (!stamp) return 0;
    float v = (float)stamp->n / 2.0f;
    float R = brush->size / 2.0f;
    int n = (int)fminf(fmaxf(0.75f * R, 4.0f), 96.0f);
    if (R > 0.0f) a = a / fmaxf(0.001f, (float)n * v * v / (R * R));
    a = fminf(a, 1.0f);
    const _SCALED* scaled = _scaled_get(stamp, a);
    if (!scaled) return 0;
    int dw = stamp->n;
    for (int p = 0; p < count; p++) {
        float px = points[2 * p], py = points[2 * p + 1];
        uint32_t s = _spray_seed(px, py);
        for (int i = 0; i < n; i++) {
            s = _xorshift(s);
            float r = sqrtf(_unit(s));
            s = _xorshift(s);
            float theta = _unit(s) * 6.2831855f;
            float dx = floorf(px + r * R * cosf(theta) - v + 0.5f);
            float dy = floorf(py + r * R * sinf(theta) - v + 0.5f);
            _coverage_dab(scaled, _clamp_to_int(dx), _clamp_to_int(dy));
        }
        float reach = fabsf(R) + v + 1.0f;
        _touched_add(_clamp_to_int(floorf(px - reach)), _clamp_to_int(floorf(py - reach)),
                     _clamp_to_int(ceilf(px + reach)) + dw, _clamp_to_int(ceilf(py + reach)) + dw);
        if (!stroke->preview) undo_mark_dirty(doc, px, py, v + R);
    }
    return 1;
}

/* An eraser segment draws all its dabs with one target, blender and held batch. */
static int _erase_batch = 0;
static ALLEGRO_BITMAP* _erase_previous = NULL;

// Makes the layer the target with the eraser's blender and holds drawing.
static void _erase_begin(LAYER* layer) {
    _erase_previous = al_get_target_bitmap();
    al_set_target_bitmap(layer->bitmap);
    al_set_separate_blender(ALLEGRO_ADD, ALLEGRO_ZERO, ALLEGRO_INVERSE_ALPHA, ALLEGRO_ADD, ALLEGRO_ZERO,
                            ALLEGRO_INVERSE_ALPHA);
    al_hold_bitmap_drawing(true);
    _erase_batch = 1;
}

// Draws the held dabs and puts the blender and the target back.
static void _erase_end(LAYER* layer) {
    al_hold_bitmap_drawing(false);
    al_set_blender(ALLEGRO_ADD, ALLEGRO_ONE, ALLEGRO_INVERSE_ALPHA);
    al_set_target_bitmap(_erase_previous);
    _erase_previous = NULL;
    _erase_batch = 0;
    layer_touch(layer);
}

// Places one dab (and its mirror images) on the buffer or, erasing, on the layer.
int _brush_dab(DOCUMENT* doc, BRUSH_STROKE* stroke, const BRUSH* brush, float x, float y, float pressure) {
    __t_assert(doc);
    __t_assert(stroke);
    __t_assert(brush);
    if (!stroke->preview) {
        __t_assert(stroke->layer);
        __t_assert(stroke->layer->bitmap);
    }
    _STAMP* entry = _stamp_entry(brush);
    if (!entry) return 0;
    int w = entry->n;
    float a = fminf(fmaxf(pressure * brush->flow, 0.0f), 1.0f);
    if (!(a == a)) a = 0.0f;
    float points[2 * SYMMETRY_MAX_POINTS];
    int count = symmetry_mirror(&stroke->symmetry, x, y, points, SYMMETRY_MAX_POINTS);
    float half = (float)w / 2.0f;

    if (brush->eraser == 1 && !stroke->preview) {
        ALLEGRO_BITMAP* stamp = _stamp_get(brush);
        if (!stamp) return 0;
        int own = !_erase_batch;
        if (own) _erase_begin(stroke->layer);
        ALLEGRO_COLOR tint = al_map_rgba_f(0.0f, 0.0f, 0.0f, a);
        for (int p = 0; p < count; p++) {
            float px = points[2 * p], py = points[2 * p + 1];
            al_draw_tinted_bitmap(stamp, tint, floorf(px - half + 0.5f), floorf(py - half + 0.5f), 0);
            undo_mark_dirty(doc, px, py, half);
        }
        if (own) _erase_end(stroke->layer);
        return 1;
    }

    __t_assert(_stroke_buffer);
    __t_assert(_coverage);
    if (brush->tip == BRUSH_TIP_SPRAY) return _brush_spray(doc, stroke, brush, points, count, a);
    const _SCALED* scaled = _scaled_get(entry, a);
    if (!scaled) return 0;
    for (int p = 0; p < count; p++) {
        float px = points[2 * p], py = points[2 * p + 1];
        int ix = _clamp_to_int(floorf(px - half + 0.5f)), iy = _clamp_to_int(floorf(py - half + 0.5f));
        _coverage_dab(scaled, ix, iy);
        _touched_add(ix, iy, ix + w, iy + w);
        if (!stroke->preview) undo_mark_dirty(doc, px, py, half);
    }
    return 1;
}

/* ------------------------------------------------------------------------ */
/* Strokes                                                                   */
/* ------------------------------------------------------------------------ */

// Walks from the last point to (x, y), placing dabs every `step` along the path.
static int _stroke_walk(BRUSH_STROKE* stroke, DOCUMENT* doc, const BRUSH* brush, float x, float y, float pressure) {
    float gx = x - stroke->last_x, gy = y - stroke->last_y;
    float g = sqrtf(gx * gx + gy * gy);
    if (!(g > 0.0f)) return 1;
    float step = fmaxf(0.5f, brush->spacing * brush->size);
    float skip = (0.9f * step) * (0.9f * step);
    float l = step - stroke->carried;
    int result = 1;
    /* The eraser's dabs of one segment go to the device as one batch; the
     * stamp is made before, since nothing may be uploaded while it is held. */
    LAYER* erased = brush->eraser == 1 && !stroke->preview && stroke->layer && stroke->layer->bitmap && l <= g &&
                            _stamp_get(brush)
                        ? stroke->layer
                        : NULL;
    if (erased) _erase_begin(erased);
    while (l <= g) {
        float px = stroke->last_x + (l / g) * gx, py = stroke->last_y + (l / g) * gy;
        float dx = px - stroke->last_dab_x, dy = py - stroke->last_dab_y;
        if (dx * dx + dy * dy >= skip) {
            if (!_brush_dab(doc, stroke, brush, px, py, pressure)) result = 0;
            stroke->last_dab_x = px;
            stroke->last_dab_y = py;
        }
        l += step;
    }
    if (erased) _erase_end(erased);
    stroke->last_x = x;
    stroke->last_y = y;
    stroke->carried = g - (l - step);
    return result;
}

// Starts a stroke on the active layer and places its first dab.
int brush_stroke_begin(BRUSH_STROKE* stroke, DOCUMENT* doc, const BRUSH* brush, float x, float y, float pressure,
                       const SYMMETRY* symmetry) {
    __t_assert(stroke);
    __t_assert(doc);
    __t_assert(brush);
    __t_assert(doc->active_layer);
    /* A stroke whose end never came (its release went to another window)
     * still holds its paint and the open undo step: lay it down first, or
     * clearing the buffer loses it and the history stays open for good. */
    if (stroke->active) brush_stroke_end(stroke, doc);
    if (doc->active_layer->locked) return 0;
    stroke->active = 1;
    stroke->carried = 0.0f;
    stroke->last_x = stroke->last_dab_x = x;
    stroke->last_y = stroke->last_dab_y = y;
    stroke->layer = doc->active_layer;
    stroke->color = brush->color;
    stroke->opacity = brush->opacity;
    stroke->preview = 0;
    stroke->uses_buffer = brush->eraser == 0;
    if (symmetry)
        stroke->symmetry = *symmetry;
    else
        symmetry_init(&stroke->symmetry, doc);
    if (stroke->uses_buffer) {
        if (!_stroke_buffer_get(doc)) {
            /* Nothing was opened yet: the stroke simply does not start. */
            stroke->active = 0;
            stroke->uses_buffer = 0;
            return 0;
        }
        _stroke_buffer_clear();
        _buffer_shown = 1;
    }
    _buffer_preview = 0;
    if (!undo_begin(doc)) {
        /* Paint that no undo step records would never reach the layer's
         * backup and be lost at the next restore: refuse the stroke. */
        t_log(LOG_ERR, "could not open an undo step; stroke not started");
        stroke->active = 0;
        stroke->uses_buffer = 0;
        _buffer_shown = 0;
        return 0;
    }
    _live_stroke = 1;
    return _brush_dab(doc, stroke, brush, x, y, pressure);
}

// Adds the segment from the last point to (x, y).
int brush_stroke_segment(BRUSH_STROKE* stroke, DOCUMENT* doc, const BRUSH* brush, float x, float y, float pressure) {
    __t_assert(stroke);
    __t_assert(doc);
    __t_assert(brush);
    if (!stroke->active) return 0;
    return _stroke_walk(stroke, doc, brush, x, y, pressure);
}

// Composites the stroke onto its layer and records it as one undo step.
int brush_stroke_end(BRUSH_STROKE* stroke, DOCUMENT* doc) {
    __t_assert(stroke);
    __t_assert(doc);
    if (!stroke->active) return 0;
    stroke->active = 0;
    stroke->carried = 0.0f;
    _live_stroke = 0;
    if (stroke->uses_buffer && _stroke_buffer && stroke->layer && stroke->layer->bitmap) {
        float k = fminf(stroke->opacity, 1.0f) * stroke->color.a;
        k = fminf(fmaxf(k, 0.0f), 1.0f);
        if (stroke->opacity < 0.0f || !(k == k)) k = 0.0f;
        ALLEGRO_COLOR tint =
            al_map_rgba_f(k * stroke->color.r, k * stroke->color.g, k * stroke->color.b, k);
        int x, y, w, h;
        _coverage_flush();
        if (brush_stroke_buffer_bounds(&x, &y, &w, &h)) {
            ALLEGRO_BITMAP* previous = al_get_target_bitmap();
            al_set_target_bitmap(stroke->layer->bitmap);
            al_set_blender(ALLEGRO_ADD, ALLEGRO_ONE, ALLEGRO_INVERSE_ALPHA);
            al_draw_tinted_bitmap_region(_stroke_buffer, tint, (float)x, (float)y, (float)w, (float)h, (float)x,
                                         (float)y, 0);
            al_set_target_bitmap(previous);
            layer_touch(stroke->layer);
        }
        _buffer_shown = 0;
    }
    stroke->uses_buffer = 0;
    return _undo_commit(doc, NULL, 0, 0);
}

// Cancels a stroke, restoring any pixels it already changed.
int brush_stroke_abort(BRUSH_STROKE* stroke, DOCUMENT* doc) {
    __t_assert(stroke);
    __t_assert(doc);
    if (!stroke->active) return 0;
    stroke->active = 0;
    stroke->carried = 0.0f;
    stroke->uses_buffer = 0;
    _live_stroke = 0;
    _buffer_shown = 0;
    _buffer_preview = 0;
    /* A revert that could not put the pixels back is a failure, not an abort. */
    return undo_revert(doc);
}

// Paints a polyline into the stroke buffer as a preview; no layer or undo change.
int brush_preview_polyline(DOCUMENT* doc, const BRUSH* brush, const float* xy, int count, const SYMMETRY* symmetry) {
    __t_assert(doc);
    __t_assert(brush);
    __t_assert(xy);
    if (count < 2) return 0;
    if (_live_stroke) {
        t_log(LOG_DEBUG, "form preview refused while a stroke is open");
        return 0;
    }
    BRUSH local = *brush;
    local.eraser = 0;
    BRUSH_STROKE stroke = {};
    stroke.preview = 1;
    stroke.uses_buffer = 1;
    stroke.active = 1;
    stroke.color = local.color;
    stroke.opacity = local.opacity;
    stroke.layer = doc->active_layer;
    if (symmetry)
        stroke.symmetry = *symmetry;
    else
        symmetry_init(&stroke.symmetry, doc);
    if (!_stroke_buffer_get(doc)) return 0;
    _stroke_buffer_clear();
    stroke.last_x = stroke.last_dab_x = xy[0];
    stroke.last_y = stroke.last_dab_y = xy[1];
    int result = _brush_dab(doc, &stroke, &local, xy[0], xy[1], 1.0f);
    for (int i = 1; i < count; i++)
        if (!_stroke_walk(&stroke, doc, &local, xy[2 * i], xy[2 * i + 1], 1.0f)) result = 0;
    _buffer_shown = 1;
    _buffer_preview = 1;
    return result;
}

/* ------------------------------------------------------------------------ */
/* Tip preview, pressure, resources                                          */
/* ------------------------------------------------------------------------ */

// Draws the brush tip in the brush colour on a contrasting background.
int brush_render_tip_preview(const BRUSH* brush, ALLEGRO_BITMAP* dest) {
    __t_assert(brush);
    __t_assert(dest);
    int W = al_get_bitmap_width(dest), H = al_get_bitmap_height(dest);
    ALLEGRO_BITMAP* previous = al_get_target_bitmap();
    al_set_target_bitmap(dest);
    float luma = 0.299f * brush->color.r + 0.587f * brush->color.g + 0.114f * brush->color.b;
    al_clear_to_color(luma >= 0.3f ? al_map_rgb(40, 42, 48) : al_map_rgb(225, 227, 232));
    al_set_blender(ALLEGRO_ADD, ALLEGRO_ONE, ALLEGRO_INVERSE_ALPHA);
    ALLEGRO_COLOR tint = al_map_rgba_f(brush->color.r, brush->color.g, brush->color.b, 1.0f);
    int result = 1;
    if (brush->tip == BRUSH_TIP_SPRAY) {
        BRUSH dot = *brush;
        dot.size = fmaxf(2.0f, 0.16f * (float)W);
        dot.hardness = 0.0f;
        dot.tip = BRUSH_TIP_ROUND;
        ALLEGRO_BITMAP* stamp = _stamp_get(&dot);
        if (stamp) {
            float e = (float)al_get_bitmap_width(stamp) / 2.0f;
            float f = fmaxf(1.0f, (float)W / 2.0f - e);
            uint32_t s = 24301u;
            al_hold_bitmap_drawing(true);
            for (int i = 0; i < 18; i++) {
                s = _xorshift(s);
                float r = sqrtf(_unit(s));
                s = _xorshift(s);
                float theta = _unit(s) * 6.2831855f;
                al_draw_tinted_bitmap(stamp, tint, r * f * cosf(theta) + (float)W / 2.0f - e,
                                      r * f * sinf(theta) + (float)H / 2.0f - e, 0);
            }
            al_hold_bitmap_drawing(false);
        } else
            result = 0;
    } else {
        BRUSH tip = *brush;
        tip.size = fmaxf(4.0f, 0.78f * (float)W);
        ALLEGRO_BITMAP* stamp = _stamp_get(&tip);
        if (stamp) {
            int w = al_get_bitmap_width(stamp), h = al_get_bitmap_height(stamp);
            al_draw_tinted_bitmap(stamp, tint, (float)((W - w) / 2), (float)((H - h) / 2), 0);
        } else
            result = 0;
    }
    al_set_target_bitmap(previous);
    return result;
}

// Pressure that falls with pointer speed, smoothed against the previous value.
float brush_pressure_from_speed(float speed, float previous) {
    float target = fmaxf(0.25f, 1.0f - fmaxf(speed, 0.0f) / 1500.0f);
    float p = previous + (target - previous) * 0.5f;
    return fminf(fmaxf(p, 0.0f), 1.0f);
}

// Drops the stamps and the stroke buffer (video bitmaps) and both flags.
void brush_release_resources(void) {
    _stamp_cache_empty();
    if (_stroke_buffer) al_destroy_bitmap(_stroke_buffer);
    _stroke_buffer = NULL;
    _coverage_free();
    _touched_reset();
    _buffer_shown = 0;
    _buffer_preview = 0;
    _live_stroke = 0;
}

// Releases everything the engine holds: the resources, then the tables and buffers that outlive them.
void brush_shutdown(void) {
    brush_release_resources();
    if (_stamp_cache) destroy_ht(&_stamp_cache);
    if (_preset_index) destroy_ht(&_preset_index);
    _stamp_cache = NULL;
    _preset_index = NULL;
    free(_scaled.s);
    free(_scaled.span);
    _scaled = _SCALED{};
}
