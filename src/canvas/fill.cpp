/* fill: flood fill, linear gradient and clear of the active layer. They work
 * on a copy of the layer's memory backup (never a read-back of the video
 * bitmap), write the changed rectangle back in one lock, and hand the new
 * full-layer pixels to the undo history, which updates the backup from them. */
#include "canvas/fill.h"
#include "canvas/fill_internal.h"

#include <errno.h>
#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

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

// New width x height copy of the layer's committed pixels; the caller frees it.
static uint32_t* _layer_pixels(LAYER* layer, int width, int height) {
    uint32_t* pixels = NULL;
    Malloc(pixels, uint32_t, (size_t)width * (size_t)height, return NULL);
    ALLEGRO_LOCKED_REGION* lock =
        al_lock_bitmap_region(layer->backup, 0, 0, width, height, ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE, ALLEGRO_LOCK_READONLY);
    if (!lock) {
        t_log(LOG_ERR, "could not lock layer backup for fill");
        free(pixels);
        return NULL;
    }
    size_t row = (size_t)width * 4;
    for (int y = 0; y < height; y++)
        memcpy(pixels + (size_t)y * (size_t)width, (const uint8_t*)lock->data + (intptr_t)y * lock->pitch, row);
    al_unlock_bitmap(layer->backup);
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

// Records the change of x0..x1 x y0..y1 as one undo step and shows it.
static int _fill_apply(DOCUMENT* doc, LAYER* layer, const uint32_t* pixels, int x0, int y0, int x1, int y1) {
    int w = doc->width, h = doc->height;
    if (!undo_begin(doc)) {
        /* Pixels no undo step records would never reach the backup. */
        t_log(LOG_ERR, "could not open an undo step; layer %s not filled", layer_name_text(layer));
        return 0;
    }
    undo_mark_dirty_rect(doc, (float)x0, (float)y0, (float)x1, (float)y1);
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

int fill_flood(DOCUMENT* doc, float x, float y, const ALLEGRO_COLOR* color, float tolerance) {
    __t_assert(doc);
    __t_assert(color);
    LAYER* layer = _fill_target(doc);
    if (!layer) return 0;
    int w = doc->width, h = doc->height;
    /* Compared as floats first: a huge or NaN coordinate must not reach (int). */
    float fx = floorf(x), fy = floorf(y);
    if (!(fx >= 0.0f && fy >= 0.0f && fx < (float)w && fy < (float)h)) return 0;
    int sx = (int)fx, sy = (int)fy;

    uint32_t* pixels = _layer_pixels(layer, w, h);
    if (!pixels) return 0;
    uint32_t seed = pixels[(size_t)sy * (size_t)w + (size_t)sx];
    /* Always opaque: the colour's own alpha is not used. */
    uint32_t fill = _fill_pack(_fill_byte(color->r), _fill_byte(color->g), _fill_byte(color->b), 255);
    int t = 0;
    if (tolerance > 0.0f) t = (int)(fminf(tolerance, 1.0f) * 255.0f + 0.5f);
    if (t == 0 && seed == fill) {
        free(pixels);
        return 0;
    }

    /* Per-byte window around the seed; one unsigned compare per byte. */
    uint8_t s[4], lo[4], span[4];
    memcpy(s, &seed, 4);
    for (int c = 0; c < 4; c++) {
        int l = s[c] - t < 0 ? 0 : s[c] - t;
        int hi = s[c] + t > 255 ? 255 : s[c] + t;
        lo[c] = (uint8_t)l;
        span[c] = (uint8_t)(hi - l);
    }
    uint8_t* visited = NULL;
    Malloc(visited, uint8_t, (size_t)w * (size_t)h, free(pixels); return 0);
    FILL_SEEDS seeds = {NULL, 0, FILL_SEED_STACK_INITIAL};
    Malloc(seeds.xy, int, 2 * FILL_SEED_STACK_INITIAL, free(visited); free(pixels); return 0);
    _seed_capacity = FILL_SEED_STACK_INITIAL;

    auto matches = [&](size_t i) -> bool {
        if (visited[i]) return false;
        if (t == 0) return pixels[i] == seed;
        const uint8_t* p = (const uint8_t*)&pixels[i];
        return (uint8_t)(p[0] - lo[0]) <= span[0] && (uint8_t)(p[1] - lo[1]) <= span[1] &&
               (uint8_t)(p[2] - lo[2]) <= span[2] && (uint8_t)(p[3] - lo[3]) <= span[3];
    };

    int bx0 = w, by0 = h, bx1 = -1, by1 = -1;
    _fill_push(&seeds, sx, sy);
    while (seeds.count > 0) {
        seeds.count--;
        int px = seeds.xy[2 * seeds.count], py = seeds.xy[2 * seeds.count + 1];
        size_t row = (size_t)py * (size_t)w;
        if (!matches(row + (size_t)px)) continue;
        int left = px, right = px;
        while (left > 0 && matches(row + (size_t)left - 1)) left--;
        while (right < w - 1 && matches(row + (size_t)right + 1)) right++;
        memset(visited + row + left, 1, (size_t)(right - left + 1));
        for (int i = left; i <= right; i++) pixels[row + (size_t)i] = fill;
        if (left < bx0) bx0 = left;
        if (right > bx1) bx1 = right;
        if (py < by0) by0 = py;
        if (py > by1) by1 = py;
        for (int ny = py - 1; ny <= py + 1; ny += 2) {
            if (ny < 0 || ny >= h) continue;
            size_t nrow = (size_t)ny * (size_t)w;
            bool in_run = false;
            for (int i = left; i <= right; i++) {
                if (matches(nrow + (size_t)i)) {
                    if (!in_run) _fill_push(&seeds, i, ny);
                    in_run = true;
                } else {
                    in_run = false;
                }
            }
        }
    }
    free(seeds.xy);
    free(visited);

    int result = 0;
    if (bx1 >= 0) result = _fill_apply(doc, layer, pixels, bx0, by0, bx1, by1);
    free(pixels);
    return result;
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
    int result = _fill_apply(doc, layer, pixels, 0, 0, w - 1, h - 1);
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
    int result = _fill_apply(doc, layer, pixels, 0, 0, doc->width - 1, doc->height - 1);
    free(pixels);
    return result;
}
