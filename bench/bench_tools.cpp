/* bench_tools: the flood fill over a whole empty 4096 x 4096 layer and over
 * a 4096 x 4096 labyrinth of 1-pixel walls, the same fills found on the
 * picture of 16 layers as seen (with and without growing), next to ImageMagick's flood fill
 * of the same images (written as PNG, timed as whole convert runs, and once
 * more without the fill to show what decoding and encoding cost), and the
 * linear gradient over 4096 x 4096. Needs an X display. */
#include <allegro5/allegro.h>
#include <allegro5/allegro_image.h>
#include <benchmark/benchmark.h>
#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "canvas/document.h"
#include "canvas/fill.h"
#include "canvas/layer.h"
#include "canvas/undo.h"
#include "t_log.h"

namespace {

const int kSide = 4096;
const uint32_t kOpen = 0xffffffffu; /* opaque white passages */
const uint32_t kWall = 0xff000000u; /* opaque black walls (bytes 0, 0, 0, 255) */

// Allegro, the image add-on and a display (shared with the other benchmarks).
bool _tools_display(void) {
    static int state = 0;
    if (state == 0) {
        state = -1;
        log_set_level(LOG_WARNING);
        if (al_init() && al_init_image_addon()) {
            if (!al_get_current_display()) {
                al_set_new_display_flags(ALLEGRO_WINDOWED | ALLEGRO_OPENGL);
                al_create_display(320, 240);
            }
            if (al_get_current_display()) state = 1;
        }
    }
    return state == 1;
}

// Whole empty layer: every pixel transparent black.
std::vector<uint32_t> _empty_image(void) {
    return std::vector<uint32_t>((size_t)kSide * kSide, 0u);
}

// A perfect labyrinth carved by depth-first search: passages on odd
// coordinates, 1-pixel walls between them (the last row and column stay wall).
std::vector<uint32_t> _maze_image(void) {
    std::vector<uint32_t> img((size_t)kSide * kSide, kWall);
    const int cells = (kSide - 1) / 2;
    std::vector<uint8_t> done((size_t)cells * cells, 0);
    std::vector<std::pair<int, int>> stack;
    std::mt19937 rng(4096);
    stack.push_back({0, 0});
    done[0] = 1;
    img[(size_t)1 * kSide + 1] = kOpen;
    const int d[4][2] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}};
    while (!stack.empty()) {
        auto [cx, cy] = stack.back();
        int options[4], n = 0;
        for (int k = 0; k < 4; k++) {
            int nx = cx + d[k][0], ny = cy + d[k][1];
            if (nx >= 0 && ny >= 0 && nx < cells && ny < cells && !done[(size_t)ny * cells + nx]) options[n++] = k;
        }
        if (!n) {
            stack.pop_back();
            continue;
        }
        int k = options[rng() % n];
        int nx = cx + d[k][0], ny = cy + d[k][1];
        done[(size_t)ny * cells + nx] = 1;
        img[(size_t)(2 * cy + 1 + d[k][1]) * kSide + (2 * cx + 1 + d[k][0])] = kOpen;
        img[(size_t)(2 * ny + 1) * kSide + (2 * nx + 1)] = kOpen;
        stack.push_back({nx, ny});
    }
    return img;
}

// Line art: 400 anti-aliased black rings, 3 px wide, of radius 20 to 160,
// scattered over a transparent canvas.
std::vector<uint32_t> _rings_image(void) {
    std::vector<uint32_t> img((size_t)kSide * kSide, 0u);
    std::mt19937 rng(22);
    for (int k = 0; k < 400; k++) {
        float cx = (float)(rng() % kSide), cy = (float)(rng() % kSide), r = 20.0f + (float)(rng() % 141);
        int x0 = std::max(0, (int)(cx - r - 3)), x1 = std::min(kSide - 1, (int)(cx + r + 3));
        int y0 = std::max(0, (int)(cy - r - 3)), y1 = std::min(kSide - 1, (int)(cy + r + 3));
        for (int y = y0; y <= y1; y++)
            for (int x = x0; x <= x1; x++) {
                float d = fabsf(hypotf((float)x + 0.5f - cx, (float)y + 0.5f - cy) - r);
                float a = std::min(1.0f, std::max(0.0f, 2.0f - d));
                uint32_t& p = img[(size_t)y * kSide + x];
                uint32_t old = p >> 24, v = (uint32_t)(a * 255.0f + 0.5f);
                if (v > old) p = v << 24; /* premultiplied black: only the alpha byte */
            }
    }
    return img;
}

// Writes packed RGBA rows into a bitmap through a write-only lock.
bool _put(ALLEGRO_BITMAP* bmp, const std::vector<uint32_t>& img) {
    ALLEGRO_LOCKED_REGION* lock = al_lock_bitmap(bmp, ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE, ALLEGRO_LOCK_WRITEONLY);
    if (!lock) return false;
    for (int y = 0; y < kSide; y++)
        memcpy((uint8_t*)lock->data + (intptr_t)y * lock->pitch, &img[(size_t)y * kSide], (size_t)kSide * 4);
    al_unlock_bitmap(bmp);
    return true;
}

// A 4096 x 4096 document whose one layer holds the image.
DOCUMENT* _document(const std::vector<uint32_t>& img) {
    DOCUMENT* doc = document_new(kSide, kSide);
    if (!doc) return NULL;
    LAYER* layer = document_add_layer(doc, "Bench");
    if (!layer || !_put(layer->bitmap, img) || !_put(layer->backup, img)) {
        document_free(&doc);
        return NULL;
    }
    layer->needs_clear = 0;
    /* Only the step being timed and the one before: memory stays bounded. */
    doc->undo->max_depth = 2;
    return doc;
}

// Pixels a flood fill from (sx, sy) will change: those equal to the seed
// and 4-connected to it (breadth-first, for the counter only).
int64_t _region_size(const std::vector<uint32_t>& img, int sx, int sy) {
    std::vector<uint8_t> seen(img.size(), 0);
    std::vector<int> queue;
    uint32_t seed = img[(size_t)sy * kSide + sx];
    queue.push_back(sy * kSide + sx);
    seen[queue[0]] = 1;
    for (size_t head = 0; head < queue.size(); head++) {
        int i = queue[head], x = i % kSide, y = i / kSide;
        const int n[4] = {x > 0 ? i - 1 : -1, x < kSide - 1 ? i + 1 : -1, y > 0 ? i - kSide : -1,
                          y < kSide - 1 ? i + kSide : -1};
        for (int j : n)
            if (j >= 0 && !seen[j] && img[j] == seed) {
                seen[j] = 1;
                queue.push_back(j);
            }
    }
    return (int64_t)queue.size();
}

// Our flood fill, the whole operation: copy, fill, write back, undo record.
void _bench_flood(benchmark::State& state, const std::vector<uint32_t>& img, int sx, int sy) {
    if (!_tools_display()) {
        state.SkipWithError("no display");
        return;
    }
    DOCUMENT* doc = _document(img);
    if (!doc) {
        state.SkipWithError("no document");
        return;
    }
    ALLEGRO_COLOR red = al_map_rgb(255, 0, 0);
    for (auto _ : state) {
        if (!fill_flood(doc, (float)sx, (float)sy, &red, 0.1f)) {
            state.SkipWithError("fill failed");
            break;
        }
        state.PauseTiming();
        int ok = undo_perform(doc);
        state.ResumeTiming();
        if (!ok) {
            state.SkipWithError("undo failed");
            break;
        }
    }
    int64_t region = _region_size(img, sx, sy);
    state.counters["filled_px"] = (double)region;
    state.counters["Mpx_per_s"] = benchmark::Counter((double)region / 1e6, benchmark::Counter::kIsIterationInvariantRate);
    document_free(&doc);
}

void BM_FillFloodEmpty4096(benchmark::State& state) {
    _bench_flood(state, _empty_image(), 0, 0);
}
BENCHMARK(BM_FillFloodEmpty4096)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

void BM_FillFloodMaze4096(benchmark::State& state) {
    _bench_flood(state, _maze_image(), 1, 1);
}
BENCHMARK(BM_FillFloodMaze4096)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

// A flood fill that finds its region on the picture of 16 layers as seen:
// fifteen covered wholly in partly transparent colours under the four blend
// modes and half opacity, and on top either one more such layer (the region
// is the whole canvas) or line art of anti-aliased rings (the region is
// everything outside them). The paint
// goes on the second layer from the bottom; the second argument is the grow.
void BM_FillFloodAll16Layers4096(benchmark::State& state) {
    if (!_tools_display()) {
        state.SkipWithError("no display");
        return;
    }
    bool line_art = state.range(0) == 1;
    DOCUMENT* doc = document_new(kSide, kSide);
    if (!doc) {
        state.SkipWithError("no document");
        return;
    }
    doc->undo->max_depth = 2;
    std::vector<uint32_t> img;
    for (int i = 0; i < 16; i++) {
        LAYER* layer = document_add_layer(doc, NULL);
        if (i == 15 && line_art) {
            img = _rings_image();
        } else {
            int a = 24 + 12 * i;
            uint8_t bytes[4] = {(uint8_t)(a * (i % 3) / 2), (uint8_t)(a / 2), (uint8_t)(a * ((i + 1) % 3) / 2), (uint8_t)a};
            uint32_t v;
            memcpy(&v, bytes, 4);
            img.assign((size_t)kSide * kSide, v);
        }
        if (!layer || !_put(layer->bitmap, img) || !_put(layer->backup, img)) {
            state.SkipWithError("no layer");
            document_free(&doc);
            return;
        }
        layer->needs_clear = 0;
        layer->blend = i == 15 ? LAYER_BLEND_NORMAL : i % 4;
        layer->opacity = i % 5 == 2 ? 0.5f : 1.0f;
    }
    img.clear();
    img.shrink_to_fit();
    doc->active_layer = document_layer_at(doc, 1);
    FILL_OPTIONS options;
    fill_options_defaults(&options);
    options.sample = FILL_SAMPLE_ALL;
    options.grow = (int)state.range(1);
    ALLEGRO_COLOR red = al_map_rgb(255, 0, 0);
    for (auto _ : state) {
        if (!fill_flood_with(doc, 1.0f, 1.0f, &red, &options)) {
            state.SkipWithError("fill failed");
            break;
        }
        state.PauseTiming();
        int ok = undo_perform(doc);
        state.ResumeTiming();
        if (!ok) {
            state.SkipWithError("undo failed");
            break;
        }
    }
    state.SetLabel(std::string(line_art ? "under line art" : "whole canvas") + ", grow " +
                   std::to_string(options.grow));
    document_free(&doc);
}
BENCHMARK(BM_FillFloodAll16Layers4096)
    ->Args({0, 0})
    ->Args({0, 2})
    ->Args({1, 0})
    ->Args({1, 2})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2.0);

// Saves the image as a PNG in a fresh temporary folder; "" on failure.
std::string _save_png(const std::vector<uint32_t>& img, const char* name, std::string* dir) {
    char tmpl[] = "/tmp/plumaro_bench_XXXXXX";
    if (!mkdtemp(tmpl)) return "";
    *dir = tmpl;
    int format = al_get_new_bitmap_format(), flags = al_get_new_bitmap_flags();
    al_set_new_bitmap_format(ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE);
    al_set_new_bitmap_flags(ALLEGRO_MEMORY_BITMAP);
    ALLEGRO_BITMAP* bmp = al_create_bitmap(kSide, kSide);
    al_set_new_bitmap_format(format);
    al_set_new_bitmap_flags(flags);
    if (!bmp) return "";
    std::string path = *dir + "/" + name;
    bool ok = _put(bmp, img) && al_save_bitmap(path.c_str(), bmp);
    al_destroy_bitmap(bmp);
    return ok ? path : "";
}

// Pixels of red colour in a PNG, whatever their alpha (-1 when it cannot be
// read): convert's colour fill keeps the alpha of a transparent image.
int64_t _count_red(const std::string& path) {
    int flags = al_get_new_bitmap_flags();
    al_set_new_bitmap_flags(ALLEGRO_MEMORY_BITMAP);
    ALLEGRO_BITMAP* bmp = al_load_bitmap_flags(path.c_str(), ALLEGRO_NO_PREMULTIPLIED_ALPHA);
    al_set_new_bitmap_flags(flags);
    if (!bmp) return -1;
    int w = al_get_bitmap_width(bmp), h = al_get_bitmap_height(bmp);
    ALLEGRO_LOCKED_REGION* lock = al_lock_bitmap(bmp, ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE, ALLEGRO_LOCK_READONLY);
    int64_t red = -1;
    if (lock) {
        red = 0;
        for (int y = 0; y < h; y++) {
            const uint8_t* row = (const uint8_t*)lock->data + (intptr_t)y * lock->pitch;
            for (int x = 0; x < w; x++) red += row[4 * x] == 255 && row[4 * x + 1] == 0 && row[4 * x + 2] == 0;
        }
        al_unlock_bitmap(bmp);
    }
    al_destroy_bitmap(bmp);
    return red;
}

// Runs convert on the PNG, with the flood fill at (sx, sy) or without it.
void _bench_convert(benchmark::State& state, const std::vector<uint32_t>& img, int sx, int sy, bool fill) {
    if (!_tools_display()) {
        state.SkipWithError("no display");
        return;
    }
    if (access("/usr/bin/convert", X_OK) != 0) {
        state.SkipWithError("no /usr/bin/convert");
        return;
    }
    std::string dir;
    std::string in = _save_png(img, "in.png", &dir);
    if (in.empty()) {
        state.SkipWithError("could not write the PNG");
        if (!dir.empty()) rmdir(dir.c_str());
        return;
    }
    std::string out = dir + "/out.png";
    char draw[96] = "";
    if (fill) snprintf(draw, sizeof(draw), " -fill red -draw \"color %d,%d floodfill\"", sx, sy);
    std::string command = "/usr/bin/convert " + in + draw + " " + out;
    for (auto _ : state) {
        if (system(command.c_str()) != 0) {
            state.SkipWithError("convert failed");
            break;
        }
    }
    int64_t region = _region_size(img, sx, sy);
    state.counters["filled_px"] = (double)region;
    state.counters["Mpx_per_s"] = benchmark::Counter((double)region / 1e6, benchmark::Counter::kIsIterationInvariantRate);
    /* What convert actually painted, to show both fills did the same work. */
    if (fill) state.counters["convert_red_px"] = (double)_count_red(out);
    unlink(in.c_str());
    unlink(out.c_str());
    rmdir(dir.c_str());
}

void BM_ConvertFloodEmpty4096(benchmark::State& state) {
    _bench_convert(state, _empty_image(), 0, 0, true);
}
BENCHMARK(BM_ConvertFloodEmpty4096)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_ConvertFloodMaze4096(benchmark::State& state) {
    _bench_convert(state, _maze_image(), 1, 1, true);
}
BENCHMARK(BM_ConvertFloodMaze4096)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// The same convert runs without the fill: PNG decoding and encoding alone.
void BM_ConvertNoFillEmpty4096(benchmark::State& state) {
    _bench_convert(state, _empty_image(), 0, 0, false);
}
BENCHMARK(BM_ConvertNoFillEmpty4096)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_ConvertNoFillMaze4096(benchmark::State& state) {
    _bench_convert(state, _maze_image(), 1, 1, false);
}
BENCHMARK(BM_ConvertNoFillMaze4096)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// The oblique gradient over a whole 4096 x 4096 layer.
void BM_FillGradient4096(benchmark::State& state) {
    if (!_tools_display()) {
        state.SkipWithError("no display");
        return;
    }
    std::vector<uint32_t> img((size_t)kSide * kSide, 0x80402010u);
    DOCUMENT* doc = _document(img);
    if (!doc) {
        state.SkipWithError("no document");
        return;
    }
    img.clear();
    img.shrink_to_fit();
    ALLEGRO_COLOR blue = al_map_rgb(30, 90, 220);
    for (auto _ : state) {
        if (!fill_gradient(doc, 500, 700, 3600, 3100, &blue)) {
            state.SkipWithError("gradient failed");
            break;
        }
        state.PauseTiming();
        int ok = undo_perform(doc);
        state.ResumeTiming();
        if (!ok) {
            state.SkipWithError("undo failed");
            break;
        }
    }
    state.counters["Mpx_per_s"] =
        benchmark::Counter((double)kSide * kSide / 1e6, benchmark::Counter::kIsIterationInvariantRate);
    document_free(&doc);
}
BENCHMARK(BM_FillGradient4096)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

}  // namespace
