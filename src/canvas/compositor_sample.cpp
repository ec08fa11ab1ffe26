/* compositor_sample: the picture the user sees, worked out on the CPU from
 * the layers' memory copies by the same blend rules the frame uses, without
 * drawing anything: one pixel for the colour sampler at every pointer
 * event, whole rows for a fill that looks at every layer. The page template
 * is a guide and the live stroke is not laid down yet, so neither is part
 * of it. */
#include <math.h>
#include <stdlib.h>
#include <string.h>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "canvas/compositor.h"
#include "t_log.h"

// Scales n bytes by the opacity o (below 1) as the table does: to nearest,
// with the opacity held to 16 bits in the wide part.
static void _sample_tint_row(uint8_t* d, const uint8_t* s, size_t n, const uint8_t* lut, float o) {
    size_t i = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128(), k = _mm_set1_epi16((short)(uint16_t)lrintf(o * 65536.0f));
    for (; i + 16 <= n; i += 16) {
        __m128i v = _mm_loadu_si128((const __m128i*)(s + i));
        __m128i lo = _mm_unpacklo_epi8(v, zero), hi = _mm_unpackhi_epi8(v, zero);
        /* The high half of the product, plus one when its low half is 0.5 or more. */
        lo = _mm_add_epi16(_mm_mulhi_epu16(lo, k), _mm_srli_epi16(_mm_mullo_epi16(lo, k), 15));
        hi = _mm_add_epi16(_mm_mulhi_epu16(hi, k), _mm_srli_epi16(_mm_mullo_epi16(hi, k), 15));
        _mm_storeu_si128((__m128i*)(d + i), _mm_packus_epi16(lo, hi));
    }
#else
    (void)o;
#endif
    for (; i < n; i++) d[i] = lut[s[i]];
}

// A colour channel as the byte a clear to it stores.
static uint8_t _sample_byte(float v) {
    if (!(v > 0.0f)) return 0;
    if (v >= 1.0f) return 255;
    return (uint8_t)lrintf(v * 255.0f);
}

int compositor_sample_region(const DOCUMENT* doc, int x, int y, int w, int h, uint8_t* out) {
    __t_assert(doc);
    __t_assert(out);
    if (w <= 0 || h <= 0 || x < 0 || y < 0 || x > doc->width - w || y > doc->height - h) return 0;
    /* The paper is opaque whatever its alpha: the picture seen has no holes. */
    uint8_t paper[4] = {_sample_byte(doc->background.r), _sample_byte(doc->background.g),
                        _sample_byte(doc->background.b), 255};
    uint32_t paper_word;
    memcpy(&paper_word, paper, 4);
    size_t row = (size_t)w * 4;
    for (int j = 0; j < h; j++) {
        uint32_t* words = (uint32_t*)(out + (size_t)j * row);
        for (int i = 0; i < w; i++) words[i] = paper_word;
    }
    uint8_t* tinted = NULL;
    for (LIST_NODE* node = doc->layers ? doc->layers->start : NULL; node; node = node->next) {
        LAYER* layer = (LAYER*)node->ptr;
        if (!layer || !layer->backup || !layer->visible || !(layer->opacity > 0.0f)) continue;
        /* The opacity tint as the device scales a texel: texel / 255 * o * 255, to nearest even. */
        float o = layer->opacity > 1.0f ? 1.0f : layer->opacity;
        uint8_t lut[256];
        int identity = 1;
        for (int c = 0; c < 256; c++) {
            lut[c] = (uint8_t)lrintf(((float)c * (1.0f / 255.0f)) * o * 255.0f);
            if (lut[c] != c) identity = 0;
        }
        if (!identity && !tinted) Malloc(tinted, uint8_t, row, return 0);
        ALLEGRO_LOCKED_REGION* lock =
            al_lock_bitmap_region(layer->backup, x, y, w, h, ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE, ALLEGRO_LOCK_READONLY);
        if (!lock) {
            t_log(LOG_ERR, "could not lock layer %s to see the picture", layer_name_text(layer));
            free(tinted);
            return 0;
        }
        for (int j = 0; j < h; j++) {
            const uint8_t* src = (const uint8_t*)lock->data + (intptr_t)j * lock->pitch;
            if (!identity) {
                _sample_tint_row(tinted, src, row, lut, o);
                src = tinted;
            }
            layer_blend_mode(layer->blend)->row(out + (size_t)j * row, src, w);
        }
        al_unlock_bitmap(layer->backup);
    }
    free(tinted);
    return 1;
}

int compositor_sample(const DOCUMENT* doc, int x, int y, ALLEGRO_COLOR* out) {
    __t_assert(doc);
    __t_assert(out);
    if (x < 0 || y < 0 || x >= doc->width || y >= doc->height) return 0;
    uint8_t px[4];
    if (!compositor_sample_region(doc, x, y, 1, 1, px)) return 0;
    float a = px[3] > 0 ? (float)px[3] : 255.0f;
    *out = al_map_rgba_f(fminf(1.0f, px[0] / a), fminf(1.0f, px[1] / a), fminf(1.0f, px[2] / a), 1.0f);
    return 1;
}
