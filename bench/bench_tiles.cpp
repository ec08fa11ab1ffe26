/* bench_tiles: dabs into tiles next to their anchor, and what tile stores
 * hold. The anchor is a plain SSE2 stamp loop on one thread: the same round
 * dabs as BM_BrushDabs and BM_MyPaintDabs (hardness 0.7, one every half
 * radius along a 2000 px line), laid over a flat 4096 x 4096 RGBA buffer with
 * the device's rounding. BM_TileDabs lays them into a tile store of 32, 64
 * or 128 px tiles: painting over a layer that already has the tiles, over an
 * empty one (its tiles made during the stroke), into a stroke's coverage
 * tiles laid onto the layer at the end, and on the scalar rows. The memory
 * benchmarks report, as counters, the bytes a 4096 x 4096 store holds when a
 * tenth of it is painted in blobs and strokes, and when it is empty. */
#include <benchmark/benchmark.h>
#include <emmintrin.h>
#include <math.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "canvas/tiles.h"
#include "canvas/tiles_dab.h"

namespace {

const int kSide = 4096;
const uint8_t kGrey[4] = {40, 40, 40, 255};

// A round tip of diameter n and hardness 0.7, as the brush makes it.
std::vector<uint8_t> _bench_round_tip(int n) {
    std::vector<uint8_t> tip((size_t)n * n);
    float c = (n - 1) / 2.0f, h = n / 2.0f, hardness = 0.7f;
    for (int i = 0; i < n; i++)
        for (int j = 0; j < n; j++) {
            float u = (j - c) / h, v = (i - c) / h, d = sqrtf(u * u + v * v);
            int value = 255;
            if (d >= 1.0f) {
                value = 0;
            } else if (d > hardness) {
                float t = (d - hardness) / (1.0f - hardness);
                value = (int)((1.0f - (3.0f - 2.0f * t) * t * t) * 255.0f + 0.5f);
            }
            tip[(size_t)i * n + j] = (uint8_t)value;
        }
    return tip;
}

// The dabs' top-left corners along the line, one every half radius.
std::vector<int> _bench_dab_lefts(int radius, int* top) {
    int n = 2 * radius;
    float step = fmaxf(0.5f, 0.5f * (float)radius);
    int dabs = 1 + (int)floorf(2000.0f / step);
    std::vector<int> lefts((size_t)dabs);
    for (int i = 0; i < dabs; i++) lefts[(size_t)i] = (int)floorf(1000.0f + step * (float)i - n / 2.0f + 0.5f);
    *top = (int)floorf(1000.5f - n / 2.0f + 0.5f);
    return lefts;
}

/* ------------------------------------------------------------------------ */
/* The anchor                                                                */
/* ------------------------------------------------------------------------ */

// a * b / 255 in 16-bit lanes with the device's rounding.
inline __m128i _anchor_mul(__m128i a, __m128i b) {
    __m128i p = _mm_mullo_epi16(a, b);
    return _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(p, _mm_srli_epi16(p, 8)), _mm_set1_epi16(128)), 8);
}

// Colour x coverage over a row of RGBA, four pixels at a time, no shortcuts.
void _anchor_row(uint8_t* d, const uint8_t* cov, int pixels, const uint8_t colour[4]) {
    const __m128i zero = _mm_setzero_si128(), k255 = _mm_set1_epi16(255);
    uint32_t packed;
    memcpy(&packed, colour, 4);
    const __m128i col = _mm_unpacklo_epi8(_mm_set1_epi32((int)packed), zero);
    int i = 0;
    for (; i + 4 <= pixels; i += 4) {
        uint32_t c4;
        memcpy(&c4, cov + i, 4);
        __m128i c = _mm_unpacklo_epi8(_mm_cvtsi32_si128((int)c4), zero);
        c = _mm_unpacklo_epi16(c, c);
        __m128i slo = _anchor_mul(_mm_unpacklo_epi32(c, c), col), shi = _anchor_mul(_mm_unpackhi_epi32(c, c), col);
        __m128i dv = _mm_loadu_si128((const __m128i*)(d + 4 * i));
        __m128i ilo = _mm_sub_epi16(k255, _mm_shufflehi_epi16(_mm_shufflelo_epi16(slo, 0xFF), 0xFF));
        __m128i ihi = _mm_sub_epi16(k255, _mm_shufflehi_epi16(_mm_shufflelo_epi16(shi, 0xFF), 0xFF));
        __m128i lo = _mm_add_epi16(slo, _anchor_mul(_mm_unpacklo_epi8(dv, zero), ilo));
        __m128i hi = _mm_add_epi16(shi, _anchor_mul(_mm_unpackhi_epi8(dv, zero), ihi));
        _mm_storeu_si128((__m128i*)(d + 4 * i), _mm_packus_epi16(lo, hi));
    }
    for (; i < pixels; i++)
        for (int k = 0; k < 4; k++) {
            unsigned s = (cov[i] * colour[k] + ((cov[i] * colour[k]) >> 8) + 128u) >> 8;
            unsigned p = d[4 * i + k] * (255u - ((cov[i] * colour[3] + ((cov[i] * colour[3]) >> 8) + 128u) >> 8));
            unsigned v = s + ((p + (p >> 8) + 128u) >> 8);
            d[4 * i + k] = (uint8_t)(v > 255u ? 255u : v);
        }
}

// The flat buffer, made and faulted in once.
uint8_t* _anchor_buffer(void) {
    static uint8_t* buffer = NULL;
    if (!buffer) {
        buffer = (uint8_t*)malloc((size_t)kSide * kSide * 4);
        if (buffer) memset(buffer, 0, (size_t)kSide * kSide * 4);
    }
    return buffer;
}

// The anchor: the same dabs stamped into one flat buffer, each row over the
// columns the tip covers.
void BM_StampLoopAnchor(benchmark::State& state) {
    uint8_t* buffer = _anchor_buffer();
    if (!buffer) {
        state.SkipWithError("no buffer");
        return;
    }
    int radius = (int)state.range(0), n = 2 * radius, top = 0;
    std::vector<uint8_t> tip = _bench_round_tip(n);
    std::vector<int> lefts = _bench_dab_lefts(radius, &top);
    std::vector<int> first((size_t)n), last((size_t)n);
    for (int i = 0; i < n; i++) {
        first[(size_t)i] = n, last[(size_t)i] = 0;
        for (int j = 0; j < n; j++)
            if (tip[(size_t)i * n + j]) {
                if (j < first[(size_t)i]) first[(size_t)i] = j;
                last[(size_t)i] = j + 1;
            }
    }
    for (auto _ : state) {
        for (int left : lefts)
            for (int i = 0; i < n; i++) {
                if (first[(size_t)i] >= last[(size_t)i]) continue;
                uint8_t* row = buffer + ((size_t)(top + i) * kSide + (size_t)(left + first[(size_t)i])) * 4;
                _anchor_row(row, &tip[(size_t)i * n + first[(size_t)i]], last[(size_t)i] - first[(size_t)i], kGrey);
            }
        benchmark::ClobberMemory();
    }
    state.counters["dabs_per_s"] = benchmark::Counter((double)lefts.size(), benchmark::Counter::kIsIterationInvariantRate);
    state.SetLabel("flat buffer, radius " + std::to_string(radius));
}
BENCHMARK(BM_StampLoopAnchor)->Arg(32)->Arg(64)->Arg(128)->Arg(256)->Arg(500)->Unit(benchmark::kMillisecond)->UseRealTime();

/* ------------------------------------------------------------------------ */
/* Dabs into tiles                                                           */
/* ------------------------------------------------------------------------ */

enum { _LAYER = 0, _EMPTY_LAYER = 1, _STROKE_BUFFER = 2, _SCALAR = 3 };

// The same dabs into tiles: args radius, tile shift, and what they go into.
void BM_TileDabs(benchmark::State& state) {
    int radius = (int)state.range(0), shift = (int)state.range(1), target = (int)state.range(2);
    int n = 2 * radius, top = 0;
    std::vector<uint8_t> tip = _bench_round_tip(n);
    std::vector<int> lefts = _bench_dab_lefts(radius, &top);
    TILES_STAMP stamp = {};
    TILES* layer = tiles_new_with(kSide, kSide, TILES_RGBA, shift);
    TILES* buffer = tiles_new_with(kSide, kSide, TILES_COVERAGE, shift);
    if (!layer || !buffer || !tiles_stamp_prepare(&stamp, tip.data(), n, 1.0f)) {
        state.SkipWithError("no store");
        return;
    }
    tiles_dab_use_vectors(target != _SCALAR);
    size_t held = 0;
    for (auto _ : state) {
        if (target == _STROKE_BUFFER) {
            for (int left : lefts) tiles_dab_coverage(buffer, &stamp, left, top);
            tiles_dab_lay(layer, buffer, kGrey, TILES_DAB_OVER);
        } else {
            for (int left : lefts) tiles_dab(layer, &stamp, left, top, kGrey, TILES_DAB_OVER);
        }
        state.PauseTiming();
        held = tiles_bytes(layer);
        if (target == _STROKE_BUFFER) tiles_clear_rect(buffer, 0, 0, kSide, kSide);
        if (target == _EMPTY_LAYER) tiles_clear_rect(layer, 0, 0, kSide, kSide);
        state.ResumeTiming();
    }
    tiles_dab_use_vectors(1);
    static const char* const names[] = {"layer", "empty layer", "stroke buffer", "layer, scalar rows"};
    state.counters["dabs_per_s"] = benchmark::Counter((double)lefts.size(), benchmark::Counter::kIsIterationInvariantRate);
    state.counters["layer_MiB"] = (double)held / (1 << 20);
    state.SetLabel(std::string(names[target]) + ", " + std::to_string(1 << shift) + " px tiles, radius " +
                   std::to_string(radius));
    tiles_stamp_release(&stamp);
    tiles_free(&layer);
    tiles_free(&buffer);
}
BENCHMARK(BM_TileDabs)
    ->ArgsProduct({{32, 64, 128, 256, 500}, {5, 6, 7}, {_LAYER, _EMPTY_LAYER}})
    ->ArgsProduct({{32, 64, 128, 256, 500}, {6}, {_STROKE_BUFFER, _SCALAR}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

/* ------------------------------------------------------------------------ */
/* Memory                                                                    */
/* ------------------------------------------------------------------------ */

// Paints a soft-edged disc of varied colour into a flat RGBA picture.
void _bench_blob(std::vector<uint8_t>& px, float cx, float cy, float r, unsigned hue) {
    int x0 = (int)fmaxf(0, cx - r - 1), x1 = (int)fminf(kSide - 1, cx + r + 1);
    int y0 = (int)fmaxf(0, cy - r - 1), y1 = (int)fminf(kSide - 1, cy + r + 1);
    for (int y = y0; y <= y1; y++)
        for (int x = x0; x <= x1; x++) {
            float d = sqrtf((x - cx) * (x - cx) + (y - cy) * (y - cy));
            float a = fminf(1.0f, fmaxf(0.0f, r - d));
            if (a <= 0.0f) continue;
            uint8_t* p = &px[((size_t)y * kSide + x) * 4];
            unsigned alpha = (unsigned)(a * 255.0f + 0.5f);
            if (alpha <= p[3]) continue;
            p[0] = (uint8_t)((hue & 255) * alpha / 255);
            p[1] = (uint8_t)(((hue >> 8) & 255) * alpha / 255);
            p[2] = (uint8_t)(((hue >> 16) & 255) * alpha / 255);
            p[3] = (uint8_t)alpha;
        }
}

// A 4096 x 4096 picture a tenth painted: blobs of several sizes and strokes
// (discs along curves) across it; `painted` gets the painted pixel count.
const std::vector<uint8_t>& _bench_painted_picture(size_t* painted) {
    static std::vector<uint8_t> px;
    static size_t count = 0;
    if (px.empty()) {
        px.assign((size_t)kSide * kSide * 4, 0);
        unsigned s = 12345u;
        auto next = [&s]() {
            s ^= s << 13;
            s ^= s >> 17;
            s ^= s << 5;
            return s;
        };
        const size_t goal = (size_t)kSide * kSide / 10;
        for (int round = 0; count < goal && round < 200; round++) {
            float cx = (float)(next() % kSide), cy = (float)(next() % kSide);
            unsigned hue = next() | 0x404040u;
            if (round % 3 == 2) {
                /* A stroke: a wavy line of discs, 8 to 40 px wide. */
                float r = 4.0f + (float)(next() % 16), angle = (float)(next() % 628) / 100.0f;
                float len = 600.0f + (float)(next() % 1400);
                for (float t = 0; t < len; t += r * 0.5f)
                    _bench_blob(px, cx + t * cosf(angle) + 60.0f * sinf(t / 150.0f),
                                cy + t * sinf(angle) + 60.0f * cosf(t / 170.0f), r, hue);
            } else {
                _bench_blob(px, cx, cy, 40.0f + (float)(next() % 220), hue);
            }
            count = 0;
            for (size_t i = 3; i < px.size(); i += 4) count += px[i] != 0;
        }
    }
    *painted = count;
    return px;
}

// Opening a tenth-painted 4096 x 4096 layer into tiles of 32, 64 or 128 px;
// counters: painted bytes, bytes held and their ratio (goal: 2 at 64 px).
void BM_TilesPaintedMemory(benchmark::State& state) {
    int shift = (int)state.range(0);
    size_t painted = 0;
    const std::vector<uint8_t>& px = _bench_painted_picture(&painted);
    size_t held = 0, tiles = 0;
    for (auto _ : state) {
        TILES* store = tiles_new_with(kSide, kSide, TILES_RGBA, shift);
        if (!store || !tiles_import(store, px.data(), kSide * 4)) {
            state.SkipWithError("import failed");
            break;
        }
        held = tiles_bytes(store);
        tiles = store->present;
        state.PauseTiming();
        tiles_free(&store);
        state.ResumeTiming();
    }
    state.counters["painted_MiB"] = (double)painted * 4 / (1 << 20);
    state.counters["painted_share"] = (double)painted / ((double)kSide * kSide);
    state.counters["held_MiB"] = (double)held / (1 << 20);
    state.counters["held_per_painted"] = (double)held / ((double)painted * 4);
    state.counters["tiles"] = (double)tiles;
    state.SetLabel(std::to_string(1 << shift) + " px tiles, import of a tenth-painted 4096 x 4096 layer");
}
BENCHMARK(BM_TilesPaintedMemory)->Arg(5)->Arg(6)->Arg(7)->Unit(benchmark::kMillisecond)->UseRealTime();

// An empty store of a side (4096 and 16384): its bytes (goal under 1 MiB at 4096).
void BM_TilesEmptyMemory(benchmark::State& state) {
    int side = (int)state.range(0);
    size_t held = 0;
    for (auto _ : state) {
        TILES* store = tiles_new(side, side);
        if (!store) {
            state.SkipWithError("no store");
            break;
        }
        held = tiles_bytes(store);
        tiles_free(&store);
    }
    state.counters["held_KiB"] = (double)held / 1024;
    state.SetLabel("empty " + std::to_string(side) + " x " + std::to_string(side) + " layer");
}
BENCHMARK(BM_TilesEmptyMemory)->Arg(4096)->Arg(16384)->Unit(benchmark::kMicrosecond);

}  // namespace
