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

// A product of two bytes over 255, rounded like a normalised product.
static inline unsigned _blend_scale(unsigned p) { return (p + (p >> 8) + 128u) >> 8; }

// Multiply over a row: d * (s + 255 - s alpha) / 255, one rounding of the whole sum.
static void _blend_multiply_row(uint8_t* d, const uint8_t* s, int pixels) {
    for (int i = 0; i < pixels * 4; i += 4) {
        unsigned f = s[i + 3];
        if (!(s[i] | s[i + 1] | s[i + 2] | f)) continue; /* an empty pixel changes nothing */
        for (int c = 0; c < 4; c++) {
            unsigned v = _blend_scale(d[i + c] * (s[i + c] + 255u - f));
            d[i + c] = (uint8_t)(v > 255u ? 255u : v);
        }
    }
}

// Screen over a row: s + d * (255 - s) / 255 per channel, saturated.
static void _blend_screen_row(uint8_t* d, const uint8_t* s, int pixels) {
    for (int i = 0; i < pixels * 4; i++) {
        unsigned v = s[i] + _blend_scale(d[i] * (255u - s[i]));
        d[i] = (uint8_t)(v > 255u ? 255u : v);
    }
}

// Add over a row: s + d, saturated.
static void _blend_add_row(uint8_t* d, const uint8_t* s, int pixels) {
    for (int i = 0; i < pixels * 4; i++) {
        unsigned v = (unsigned)s[i] + d[i];
        d[i] = (uint8_t)(v > 255u ? 255u : v);
    }
}

// Normal: s + d * (1 - s alpha).
static void _blend_normal(float* d, const float* s) {
    for (int c = 0; c < 4; c++) d[c] = s[c] + d[c] * (1.0f - s[3]);
}

// Multiply: s * d + d * (1 - s alpha).
static void _blend_multiply(float* d, const float* s) {
    for (int c = 0; c < 4; c++) d[c] = s[c] * d[c] + d[c] * (1.0f - s[3]);
}

// Screen: s + d * (1 - s).
static void _blend_screen(float* d, const float* s) {
    for (int c = 0; c < 4; c++) d[c] = s[c] + d[c] * (1.0f - s[c]);
}

// Add: s + d (the store saturates it).
static void _blend_add(float* d, const float* s) {
    for (int c = 0; c < 4; c++) d[c] = s[c] + d[c];
}

/* The modes, in the order the layer panel cycles them. Each is flattened
 * on the CPU, within a unit of the device, so that exports, OpenRaster's
 * merged picture and thumbnails need no display. */
static const LAYER_BLEND_MODE _modes[] = {
    {LAYER_BLEND_NORMAL, "Normal", "svg:src-over", 1, ALLEGRO_ADD, ALLEGRO_ONE, ALLEGRO_INVERSE_ALPHA,
     _blend_normal_row, _blend_normal},
    {LAYER_BLEND_MULTIPLY, "Multiply", "svg:multiply", 1, ALLEGRO_ADD, ALLEGRO_DEST_COLOR, ALLEGRO_INVERSE_ALPHA,
     _blend_multiply_row, _blend_multiply},
    {LAYER_BLEND_SCREEN, "Screen", "svg:screen", 1, ALLEGRO_ADD, ALLEGRO_ONE, ALLEGRO_INVERSE_SRC_COLOR,
     _blend_screen_row, _blend_screen},
    {LAYER_BLEND_ADD, "Add", "svg:plus", 1, ALLEGRO_ADD, ALLEGRO_ONE, ALLEGRO_ONE, _blend_add_row, _blend_add},
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
