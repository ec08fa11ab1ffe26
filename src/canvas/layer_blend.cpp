/* layer_blend: the table of blend modes and the arithmetic of each on the
 * CPU. The formulas are those of the device's blenders on premultiplied
 * colours, so a flattened or sampled picture matches the frame. */
#include "canvas/layer_blend.h"

#include <allegro5/allegro.h>
#include <string.h>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// Normal over a row: d = s + d * (255 - s alpha) / 255 per channel, rounded
// like a normalised product, (p + (p >> 8) + 128) >> 8, and saturated.
static void _blend_normal_row(uint8_t* d, const uint8_t* s, int pixels) {
    int i = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128(), k255 = _mm_set1_epi16(255), k128 = _mm_set1_epi16(128);
    for (; i + 4 <= pixels; i += 4) {
        __m128i sv = _mm_loadu_si128((const __m128i*)(s + 4 * i));
        if (_mm_movemask_epi8(_mm_cmpeq_epi8(sv, zero)) == 0xFFFF) continue; /* nothing to lay over */
        __m128i dv = _mm_loadu_si128((const __m128i*)(d + 4 * i));
        __m128i slo = _mm_unpacklo_epi8(sv, zero), shi = _mm_unpackhi_epi8(sv, zero);
        __m128i flo = _mm_sub_epi16(k255, _mm_shufflehi_epi16(_mm_shufflelo_epi16(slo, 0xFF), 0xFF));
        __m128i fhi = _mm_sub_epi16(k255, _mm_shufflehi_epi16(_mm_shufflelo_epi16(shi, 0xFF), 0xFF));
        __m128i lo = _mm_mullo_epi16(_mm_unpacklo_epi8(dv, zero), flo);
        __m128i hi = _mm_mullo_epi16(_mm_unpackhi_epi8(dv, zero), fhi);
        lo = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(lo, _mm_srli_epi16(lo, 8)), k128), 8);
        hi = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(hi, _mm_srli_epi16(hi, 8)), k128), 8);
        _mm_storeu_si128((__m128i*)(d + 4 * i), _mm_adds_epu8(sv, _mm_packus_epi16(lo, hi)));
    }
#endif
    for (; i < pixels; i++) {
        unsigned f = 255u - s[4 * i + 3];
        for (int c = 0; c < 4; c++) {
            unsigned p = (unsigned)d[4 * i + c] * f;
            unsigned v = s[4 * i + c] + ((p + (p >> 8) + 128u) >> 8);
            d[4 * i + c] = (uint8_t)(v > 255u ? 255u : v);
        }
    }
}

#if defined(__SSE2__)
// a * b / 255 in 16-bit lanes, rounded as the device rounds a normalised product.
static inline __m128i _blend_mul(__m128i a, __m128i b) {
    const __m128i k128 = _mm_set1_epi16(128);
    __m128i p = _mm_mullo_epi16(a, b);
    return _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(p, _mm_srli_epi16(p, 8)), k128), 8);
}

// 255 minus each pixel's alpha, in all four lanes of the pixel.
static inline __m128i _blend_inverse_alpha(__m128i s) {
    return _mm_sub_epi16(_mm_set1_epi16(255), _mm_shufflehi_epi16(_mm_shufflelo_epi16(s, 0xFF), 0xFF));
}
#endif

// a * b / 255 for bytes, with the same rounding.
static inline unsigned _blend_mul1(unsigned a, unsigned b) {
    unsigned p = a * b;
    return (p + (p >> 8) + 128u) >> 8;
}

// One row in one of the other modes, fixed so that the loop carries no
// choice: Multiply s * d + d * (1 - s alpha), Screen s + d * (1 - s), Add
// s + d, each saturated.
template <int BLEND>
static void _blend_row(uint8_t* d, const uint8_t* s, int pixels) {
    int i = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128(), k255 = _mm_set1_epi16(255);
    for (; i + 4 <= pixels; i += 4) {
        __m128i sv = _mm_loadu_si128((const __m128i*)(s + 4 * i));
        /* Transparent paint leaves the picture as it is in every mode. */
        if (_mm_movemask_epi8(_mm_cmpeq_epi8(sv, zero)) == 0xFFFF) continue;
        __m128i dv = _mm_loadu_si128((const __m128i*)(d + 4 * i));
        __m128i out;
        if (BLEND == LAYER_BLEND_ADD) {
            out = _mm_adds_epu8(sv, dv);
        } else {
            __m128i slo = _mm_unpacklo_epi8(sv, zero), shi = _mm_unpackhi_epi8(sv, zero);
            __m128i dlo = _mm_unpacklo_epi8(dv, zero), dhi = _mm_unpackhi_epi8(dv, zero);
            if (BLEND == LAYER_BLEND_SCREEN) {
                __m128i lo = _blend_mul(dlo, _mm_sub_epi16(k255, slo)), hi = _blend_mul(dhi, _mm_sub_epi16(k255, shi));
                out = _mm_adds_epu8(sv, _mm_packus_epi16(lo, hi));
            } else {
                __m128i lo = _blend_mul(dlo, _blend_inverse_alpha(slo)), hi = _blend_mul(dhi, _blend_inverse_alpha(shi));
                if (BLEND == LAYER_BLEND_MULTIPLY)
                    out = _mm_packus_epi16(_mm_add_epi16(lo, _blend_mul(slo, dlo)), _mm_add_epi16(hi, _blend_mul(shi, dhi)));
                else
                    out = _mm_adds_epu8(sv, _mm_packus_epi16(lo, hi));
            }
        }
        _mm_storeu_si128((__m128i*)(d + 4 * i), out);
    }
#endif
    for (; i < pixels; i++) {
        const uint8_t* sp = s + 4 * i;
        uint8_t* dp = d + 4 * i;
        unsigned inverse = 255u - sp[3];
        for (int c = 0; c < 4; c++) {
            unsigned v;
            switch (BLEND) {
                case LAYER_BLEND_MULTIPLY: v = _blend_mul1(sp[c], dp[c]) + _blend_mul1(dp[c], inverse); break;
                case LAYER_BLEND_SCREEN: v = sp[c] + _blend_mul1(dp[c], 255u - sp[c]); break;
                case LAYER_BLEND_ADD: v = (unsigned)sp[c] + dp[c]; break;
                default: v = sp[c] + _blend_mul1(dp[c], inverse); break;
            }
            dp[c] = (uint8_t)(v > 255u ? 255u : v);
        }
    }
}

static void _blend_multiply_row(uint8_t* d, const uint8_t* s, int pixels) {
    _blend_row<LAYER_BLEND_MULTIPLY>(d, s, pixels);
}
static void _blend_screen_row(uint8_t* d, const uint8_t* s, int pixels) {
    _blend_row<LAYER_BLEND_SCREEN>(d, s, pixels);
}
static void _blend_add_row(uint8_t* d, const uint8_t* s, int pixels) { _blend_row<LAYER_BLEND_ADD>(d, s, pixels); }

/* The modes, in the order the layer panel cycles them. Each is flattened
 * on the CPU, within a unit of the device, so that exports, OpenRaster's
 * merged picture and thumbnails need no display, and the colour sampler and
 * the fill see the picture as the frame shows it. */
static const LAYER_BLEND_MODE _modes[] = {
    {LAYER_BLEND_NORMAL, "Normal", "svg:src-over", 1, ALLEGRO_ADD, ALLEGRO_ONE, ALLEGRO_INVERSE_ALPHA,
     _blend_normal_row},
    {LAYER_BLEND_MULTIPLY, "Multiply", "svg:multiply", 1, ALLEGRO_ADD, ALLEGRO_DEST_COLOR, ALLEGRO_INVERSE_ALPHA,
     _blend_multiply_row},
    {LAYER_BLEND_SCREEN, "Screen", "svg:screen", 1, ALLEGRO_ADD, ALLEGRO_ONE, ALLEGRO_INVERSE_SRC_COLOR,
     _blend_screen_row},
    {LAYER_BLEND_ADD, "Add", "svg:plus", 1, ALLEGRO_ADD, ALLEGRO_ONE, ALLEGRO_ONE, _blend_add_row},
};

#define _MODE_COUNT ((int)(sizeof(_modes) / sizeof(_modes[0])))

int layer_blend_count(void) { return _MODE_COUNT; }

const LAYER_BLEND_MODE* layer_blend_at(int index) {
    return index >= 0 && index < _MODE_COUNT ? &_modes[index] : NULL;
}

const LAYER_BLEND_MODE* layer_blend_find(int32_t code) {
    for (int i = 0; i < _MODE_COUNT; i++)
        if (_modes[i].code == code) return &_modes[i];
    return NULL;
}

const LAYER_BLEND_MODE* layer_blend_mode(int32_t code) {
    const LAYER_BLEND_MODE* mode = layer_blend_find(code);
    return mode ? mode : &_modes[0];
}

const LAYER_BLEND_MODE* layer_blend_from_ora(const char* op) {
    if (!op) return NULL;
    for (int i = 0; i < _MODE_COUNT; i++)
        if (strcmp(_modes[i].ora_op, op) == 0) return &_modes[i];
    return NULL;
}

int32_t layer_blend_next(int32_t code) {
    for (int i = 0; i < _MODE_COUNT; i++)
        if (_modes[i].code == code) return _modes[(i + 1) % _MODE_COUNT].code;
    return _modes[0].code;
}

const char* layer_blend_name(int mode) { return layer_blend_mode(mode)->name; }
