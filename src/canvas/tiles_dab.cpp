/* tiles_dab: stamping dabs into tiles. A dab decides which slots its
 * coverage reaches (a round tip's corners reach none), makes those tiles
 * its own through the store's two-step write, and then runs one row
 * function per tile row over the columns the tip covers there. The rows
 * work on four pixels at a time with SSE2, skip groups the tip does not
 * cover, and store an opaque colour directly where the tip is full. */
#include "canvas/tiles_dab.h"

#include <math.h>
#include <stdlib.h>
#include <string.h>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "canvas/tiles_internal.h"
#include "t_log.h"

/* 0 while the tests or benchmarks ask for the scalar rows. */
static int _dab_vectors = 1;

void tiles_dab_use_vectors(int on) { _dab_vectors = on != 0; }

// a * b / 255 for bytes, rounded as the device rounds a normalised product.
static inline unsigned _dab_mul(unsigned a, unsigned b) {
    unsigned p = a * b;
    return (p + (p >> 8) + 128u) >> 8;
}

/* ------------------------------------------------------------------------ */
/* Stamps and colours                                                        */
/* ------------------------------------------------------------------------ */

int tiles_stamp_prepare(TILES_STAMP* stamp, const uint8_t* tip, int n, float alpha) {
    __t_assert(stamp);
    __t_assert(tip);
    __t_assert(n > 0 && n <= 65536);
    if (!(alpha > 0.0f)) alpha = 0.0f; /* NaN too */
    if (alpha > 1.0f) alpha = 1.0f;
    uint8_t* coverage = stamp->coverage;
    int32_t* span = stamp->span;
    if (n != stamp->n || !coverage || !span) {
        coverage = NULL;
        span = NULL;
        Malloc(coverage, uint8_t, (size_t)n * (size_t)n, return 0);
        Malloc(span, int32_t, (size_t)n * 2, free(coverage); return 0);
        free(stamp->coverage);
        free(stamp->span);
    }
    /* The device's tinted texel: texel / 255 * alpha, back to bytes rounded. */
    uint8_t lut[256];
    for (int c = 0; c < 256; c++) lut[c] = (uint8_t)lrintf(((float)c * (1.0f / 255.0f)) * alpha * 255.0f);
    int rows0 = n, rows1 = 0;
    for (int i = 0; i < n; i++) {
        const uint8_t* in = tip + (size_t)i * (size_t)n;
        uint8_t* out = coverage + (size_t)i * (size_t)n;
        int first = n, last = 0;
        for (int j = 0; j < n; j++) {
            out[j] = lut[in[j]];
            if (out[j]) {
                if (j < first) first = j;
                last = j + 1;
            }
        }
        span[2 * i] = first < last ? first : 0;
        span[2 * i + 1] = first < last ? last : 0;
        if (first < last) {
            if (i < rows0) rows0 = i;
            rows1 = i + 1;
        }
    }
    stamp->n = n;
    stamp->alpha = alpha;
    stamp->coverage = coverage;
    stamp->span = span;
    stamp->rows0 = rows0 < rows1 ? rows0 : 0;
    stamp->rows1 = rows1;
    return 1;
}

void tiles_stamp_release(TILES_STAMP* stamp) {
    __t_assert_void(stamp);
    free(stamp->coverage);
    free(stamp->span);
    memset(stamp, 0, sizeof(*stamp));
}

void tiles_dab_colour(ALLEGRO_COLOR colour, float strength, uint8_t out[4]) {
    __t_assert_void(out);
    float k = strength * colour.a;
    if (!(k > 0.0f)) k = 0.0f;
    if (k > 1.0f) k = 1.0f;
    float straight[3] = {colour.r, colour.g, colour.b};
    for (int c = 0; c < 3; c++) {
        float v = straight[c];
        if (!(v > 0.0f)) v = 0.0f;
        if (v > 1.0f) v = 1.0f;
        out[c] = (uint8_t)lrintf(k * v * 255.0f);
    }
    out[3] = (uint8_t)lrintf(k * 255.0f);
}

/* ------------------------------------------------------------------------ */
/* Rows                                                                      */
/* ------------------------------------------------------------------------ */

// Scalar tail (and scalar path) of a painted row, from pixel i on.
static void _dab_row_scalar(uint8_t* d, const uint8_t* cov, int i, int pixels, const uint8_t colour[4], int mode) {
    int erase = (mode & 0xF) == TILES_DAB_ERASE, lock = (mode & TILES_DAB_LOCK_ALPHA) != 0;
    for (; i < pixels; i++) {
        unsigned c = cov[i];
        if (!c) continue;
        uint8_t* p = d + 4 * i;
        unsigned sa = _dab_mul(c, colour[3]), inverse = 255u - sa;
        if (erase) {
            for (int k = 0; k < 4; k++) p[k] = (uint8_t)_dab_mul(p[k], inverse);
        } else if (lock) {
            unsigned da = p[3];
            for (int k = 0; k < 3; k++) {
                /* Never above da for premultiplied paint; saturated like the vector rows. */
                unsigned v = _dab_mul(_dab_mul(c, colour[k]), da) + _dab_mul(p[k], inverse);
                p[k] = (uint8_t)(v > 255u ? 255u : v);
            }
        } else {
            for (int k = 0; k < 4; k++) {
                unsigned v = _dab_mul(c, colour[k]) + _dab_mul(p[k], inverse);
                p[k] = (uint8_t)(v > 255u ? 255u : v);
            }
        }
    }
}

#if defined(__SSE2__)
// a * b / 255 in 16-bit lanes, rounded as the device does.
static inline __m128i _dab_mul16(__m128i a, __m128i b) {
    __m128i p = _mm_mullo_epi16(a, b);
    return _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(p, _mm_srli_epi16(p, 8)), _mm_set1_epi16(128)), 8);
}

// Each pixel's alpha lane in all four of its lanes.
static inline __m128i _dab_alpha16(__m128i v) { return _mm_shufflehi_epi16(_mm_shufflelo_epi16(v, 0xFF), 0xFF); }
#endif

void tiles_dab_row(uint8_t* d, const uint8_t* cov, int pixels, const uint8_t colour[4], int mode) {
    if (!d || !cov || !colour || pixels <= 0) return;
    int erase = (mode & 0xF) == TILES_DAB_ERASE, lock = (mode & TILES_DAB_LOCK_ALPHA) != 0;
    if (erase && lock) return;
    int i = 0;
#if defined(__SSE2__)
    if (_dab_vectors) {
        const __m128i zero = _mm_setzero_si128(), k255 = _mm_set1_epi16(255);
        uint32_t packed;
        memcpy(&packed, colour, 4);
        const __m128i col = _mm_unpacklo_epi8(_mm_set1_epi32((int)packed), zero);
        const __m128i col_a = _mm_set1_epi16(colour[3]);
        const __m128i alpha_lanes = _mm_set_epi16(-1, 0, 0, 0, -1, 0, 0, 0);
        const __m128i solid = _mm_set1_epi32((int)packed);
        /* A full tip of an opaque colour leaves just the colour. */
        const int opaque = colour[3] == 255 && !lock;
        for (; i + 4 <= pixels; i += 4) {
            uint32_t c4;
            memcpy(&c4, cov + i, 4);
            if (!c4) continue;
            __m128i* at = (__m128i*)(d + 4 * i);
            if (c4 == 0xFFFFFFFFu && opaque) {
                _mm_storeu_si128(at, erase ? zero : solid);
                continue;
            }
            __m128i c = _mm_unpacklo_epi8(_mm_cvtsi32_si128((int)c4), zero);
            c = _mm_unpacklo_epi16(c, c);
            __m128i clo = _mm_unpacklo_epi32(c, c), chi = _mm_unpackhi_epi32(c, c);
            __m128i dv = _mm_loadu_si128(at);
            __m128i dlo = _mm_unpacklo_epi8(dv, zero), dhi = _mm_unpackhi_epi8(dv, zero);
            if (erase) {
                __m128i ilo = _mm_sub_epi16(k255, _dab_mul16(clo, col_a)), ihi = _mm_sub_epi16(k255, _dab_mul16(chi, col_a));
                _mm_storeu_si128(at, _mm_packus_epi16(_dab_mul16(dlo, ilo), _dab_mul16(dhi, ihi)));
                continue;
            }
            __m128i slo = _dab_mul16(clo, col), shi = _dab_mul16(chi, col);
            __m128i ilo = _mm_sub_epi16(k255, _dab_alpha16(slo)), ihi = _mm_sub_epi16(k255, _dab_alpha16(shi));
            __m128i lo, hi;
            if (lock) {
                /* Nothing to recolour where there is no paint. */
                if (_mm_movemask_epi8(_mm_cmpeq_epi8(dv, zero)) == 0xFFFF) continue;
                __m128i alo = _dab_alpha16(dlo), ahi = _dab_alpha16(dhi);
                lo = _mm_add_epi16(_dab_mul16(slo, alo), _dab_mul16(dlo, ilo));
                hi = _mm_add_epi16(_dab_mul16(shi, ahi), _dab_mul16(dhi, ihi));
                lo = _mm_or_si128(_mm_andnot_si128(alpha_lanes, lo), _mm_and_si128(alpha_lanes, dlo));
                hi = _mm_or_si128(_mm_andnot_si128(alpha_lanes, hi), _mm_and_si128(alpha_lanes, dhi));
            } else {
                lo = _mm_add_epi16(slo, _dab_mul16(dlo, ilo));
                hi = _mm_add_epi16(shi, _dab_mul16(dhi, ihi));
            }
            _mm_storeu_si128(at, _mm_packus_epi16(lo, hi));
        }
    }
#endif
    _dab_row_scalar(d, cov, i, pixels, colour, mode);
}

void tiles_dab_coverage_row(uint8_t* d, const uint8_t* s, int n) {
    if (!d || !s || n <= 0) return;
    int i = 0;
#if defined(__SSE2__)
    if (_dab_vectors) {
        const __m128i zero = _mm_setzero_si128(), k255 = _mm_set1_epi16(255), k128 = _mm_set1_epi16(128);
        for (; i + 16 <= n; i += 16) {
            __m128i sv = _mm_loadu_si128((const __m128i*)(s + i));
            if (_mm_movemask_epi8(_mm_cmpeq_epi8(sv, zero)) == 0xFFFF) continue;
            __m128i dv = _mm_loadu_si128((const __m128i*)(d + i));
            __m128i lo = _mm_mullo_epi16(_mm_unpacklo_epi8(dv, zero), _mm_sub_epi16(k255, _mm_unpacklo_epi8(sv, zero)));
            __m128i hi = _mm_mullo_epi16(_mm_unpackhi_epi8(dv, zero), _mm_sub_epi16(k255, _mm_unpackhi_epi8(sv, zero)));
            lo = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(lo, _mm_srli_epi16(lo, 8)), k128), 8);
            hi = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(hi, _mm_srli_epi16(hi, 8)), k128), 8);
            _mm_storeu_si128((__m128i*)(d + i), _mm_adds_epu8(sv, _mm_packus_epi16(lo, hi)));
        }
    }
#endif
    for (; i < n; i++) {
        unsigned v = s[i] + _dab_mul(d[i], 255u - s[i]);
        d[i] = (uint8_t)(v > 255u ? 255u : v);
    }
}

/* ------------------------------------------------------------------------ */
/* Dabs into stores                                                          */
/* ------------------------------------------------------------------------ */

// 1 when the stamp at (x, y) has coverage inside the canvas rectangle [x0, x1) x [y0, y1).
static int _dab_reaches(const TILES_STAMP* stamp, int x, int y, int x0, int y0, int x1, int y1) {
    int r0 = y0 - y, r1 = y1 - y;
    if (r0 < stamp->rows0) r0 = stamp->rows0;
    if (r1 > stamp->rows1) r1 = stamp->rows1;
    for (int r = r0; r < r1; r++) {
        int a = x + stamp->span[2 * r], b = x + stamp->span[2 * r + 1];
        if (a < b && a < x1 && b > x0) return 1;
    }
    return 0;
}

// Stamps a dab into an RGBA store (`rgba`) or a coverage store: plans the
// slots it reaches, owns them, then runs the rows over each.
static int _dab_stamp(TILES* store, const TILES_STAMP* stamp, int x, int y, const uint8_t* colour, int mode, int rgba) {
    int n = stamp->n;
    int bx = x, by = y, bw = n, bh = n;
    if (!_tiles_clip(store, &bx, &by, &bw, &bh) || stamp->rows0 >= stamp->rows1) return 1;
    int erase = (mode & 0xF) == TILES_DAB_ERASE, lock = (mode & TILES_DAB_LOCK_ALPHA) != 0;
    if (rgba) {
        if (erase && lock) return 1;
        if (erase ? colour[3] == 0 : (colour[0] | colour[1] | colour[2] | colour[3]) == 0) return 1;
    }
    /* Only painting over (or into a stroke's coverage) makes tiles. */
    int makes = !rgba || (!erase && !lock);
    _TILES_PLAN plan = {};
    if (!_tiles_plan_begin(&plan, store, bx, by, bw, bh)) return 0;
    int any = 0;
    for (int ty = plan.ty0; ty <= plan.ty1; ty++)
        for (int tx = plan.tx0; tx <= plan.tx1; tx++) {
            int sx, sy, sw, sh;
            tiles_tile_rect(store, tx, ty, &sx, &sy, &sw, &sh);
            if (!makes && !tiles_read_tile(store, tx, ty)) continue;
            int x0 = sx > bx ? sx : bx, y0 = sy > by ? sy : by;
            int x1 = sx + sw < bx + bw ? sx + sw : bx + bw, y1 = sy + sh < by + bh ? sy + sh : by + bh;
            if (!_dab_reaches(stamp, x, y, x0, y0, x1, y1)) continue;
            *_tiles_plan_cell(&plan, tx, ty) = _TILES_WRITE;
            any = 1;
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
    const size_t pitch = (size_t)store->side * (size_t)c;
    for (int ty = plan.ty0; ty <= plan.ty1; ty++)
        for (int tx = plan.tx0; tx <= plan.tx1; tx++) {
            if (*_tiles_plan_cell(&plan, tx, ty) != _TILES_WRITE) continue;
            int sx, sy, sw, sh;
            tiles_tile_rect(store, tx, ty, &sx, &sy, &sw, &sh);
            int x0 = sx > bx ? sx : bx, y0 = sy > by ? sy : by;
            int x1 = sx + sw < bx + bw ? sx + sw : bx + bw, y1 = sy + sh < by + bh ? sy + sh : by + bh;
            uint8_t* px = _tiles_plan_pixels(store, tx, ty);
            int r0 = y0 - y > stamp->rows0 ? y0 - y : stamp->rows0, r1 = y1 - y < stamp->rows1 ? y1 - y : stamp->rows1;
            for (int r = r0; r < r1; r++) {
                int a = x + stamp->span[2 * r], b = x + stamp->span[2 * r + 1];
                if (a < x0) a = x0;
                if (b > x1) b = x1;
                if (a >= b) continue;
                uint8_t* to = px + (size_t)(y + r - sy) * pitch + (size_t)(a - sx) * (size_t)c;
                const uint8_t* from = stamp->coverage + (size_t)r * (size_t)n + (size_t)(a - x);
                if (rgba)
                    tiles_dab_row(to, from, b - a, colour, mode);
                else
                    tiles_dab_coverage_row(to, from, b - a);
            }
        }
    _tiles_plan_end(&plan);
    return 1;
}

int tiles_dab(TILES* store, const TILES_STAMP* stamp, int x, int y, const uint8_t colour[4], int mode) {
    __t_assert(store);
    __t_assert(stamp);
    __t_assert(stamp->coverage && stamp->span);
    __t_assert(colour);
    __t_assert(store->channels == TILES_RGBA);
    return _dab_stamp(store, stamp, x, y, colour, mode, 1);
}

int tiles_dab_coverage(TILES* buffer, const TILES_STAMP* stamp, int x, int y) {
    __t_assert(buffer);
    __t_assert(stamp);
    __t_assert(stamp->coverage && stamp->span);
    __t_assert(buffer->channels == TILES_COVERAGE);
    return _dab_stamp(buffer, stamp, x, y, NULL, TILES_DAB_OVER, 0);
}

int tiles_dab_lay(TILES* store, const TILES* buffer, const uint8_t colour[4], int mode) {
    __t_assert(store);
    __t_assert(buffer);
    __t_assert(colour);
    __t_assert(store->channels == TILES_RGBA && buffer->channels == TILES_COVERAGE);
    if (store->width != buffer->width || store->height != buffer->height || store->shift != buffer->shift) {
        t_log(LOG_ERR, "a %dx%d stroke buffer does not fit a %dx%d layer", buffer->width, buffer->height,
              store->width, store->height);
        return 0;
    }
    int erase = (mode & 0xF) == TILES_DAB_ERASE, lock = (mode & TILES_DAB_LOCK_ALPHA) != 0;
    if (!buffer->present || (erase && lock)) return 1;
    _TILES_PLAN plan = {};
    if (!_tiles_plan_begin(&plan, store, 0, 0, store->width, store->height)) return 0;
    int any = 0;
    for (int ty = 0; ty < store->tiles_y; ty++)
        for (int tx = 0; tx < store->tiles_x; tx++) {
            if (!tiles_read_tile(buffer, tx, ty)) continue;
            if ((erase || lock) && !tiles_read_tile(store, tx, ty)) continue;
            *_tiles_plan_cell(&plan, tx, ty) = _TILES_WRITE;
            any = 1;
        }
    if (!any || !_tiles_plan_own(store, &plan)) {
        _tiles_plan_end(&plan);
        return !any;
    }
    _tiles_plan_commit(store, &plan);
    const size_t side = (size_t)store->side;
    for (int ty = 0; ty < store->tiles_y; ty++)
        for (int tx = 0; tx < store->tiles_x; tx++) {
            if (*_tiles_plan_cell(&plan, tx, ty) != _TILES_WRITE) continue;
            int sx, sy, sw, sh;
            tiles_tile_rect(store, tx, ty, &sx, &sy, &sw, &sh);
            uint8_t* px = _tiles_plan_pixels(store, tx, ty);
            const uint8_t* cov = tiles_read_tile(buffer, tx, ty);
            for (int j = 0; j < sh; j++) tiles_dab_row(px + (size_t)j * side * 4, cov + (size_t)j * side, sw, colour, mode);
        }
    _tiles_plan_end(&plan);
    return 1;
}
