/* Fill tools on real layers: the flood fill's tolerance window, connectivity,
 * seed stack growth and exhaustion, labyrinths checked against a plain
 * breadth-first fill, the gradient checked pixel by pixel against its
 * formula, the clear, locked layers, and undo of each as one step. */
#include <gtest/gtest.h>
#include <math.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <queue>
#include <random>
#include <string>
#include <vector>

#include "canvas/compositor.h"
#include "canvas/document.h"
#include "canvas/fill.h"
#include "canvas/fill_internal.h"
#include "canvas/layer.h"
#include "canvas/undo.h"
#include "t_log.h"
#include "test_support.h"

namespace {

struct Img {
    int w = 0, h = 0;
    std::vector<uint32_t> px;
    Img() {}
    Img(int w_, int h_, uint32_t v = 0) : w(w_), h(h_), px((size_t)w_ * h_, v) {}
    uint32_t& at(int x, int y) { return px[(size_t)y * w + x]; }
    uint32_t at(int x, int y) const { return px[(size_t)y * w + x]; }
    bool operator==(const Img& o) const { return w == o.w && h == o.h && px == o.px; }
};

uint32_t _rgba(int r, int g, int b, int a) {
    uint8_t bytes[4] = {(uint8_t)r, (uint8_t)g, (uint8_t)b, (uint8_t)a};
    uint32_t v;
    memcpy(&v, bytes, 4);
    return v;
}

int _byte(uint32_t v, int c) {
    return ((const uint8_t*)&v)[c];
}

Img _read(ALLEGRO_BITMAP* bmp) {
    Img img(al_get_bitmap_width(bmp), al_get_bitmap_height(bmp));
    ALLEGRO_LOCKED_REGION* lock = al_lock_bitmap(bmp, ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE, ALLEGRO_LOCK_READONLY);
    if (!lock) return Img();
    for (int y = 0; y < img.h; y++)
        memcpy(&img.px[(size_t)y * img.w], (const uint8_t*)lock->data + (intptr_t)y * lock->pitch, (size_t)img.w * 4);
    al_unlock_bitmap(bmp);
    return img;
}

void _write(ALLEGRO_BITMAP* bmp, const Img& img) {
    ALLEGRO_LOCKED_REGION* lock = al_lock_bitmap(bmp, ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE, ALLEGRO_LOCK_WRITEONLY);
    ASSERT_NE(lock, nullptr);
    for (int y = 0; y < img.h; y++)
        memcpy((uint8_t*)lock->data + (intptr_t)y * lock->pitch, &img.px[(size_t)y * img.w], (size_t)img.w * 4);
    al_unlock_bitmap(bmp);
}

// Puts the same committed pixels into a layer's video bitmap and backup.
void _put(LAYER* layer, const Img& img) {
    _write(layer->bitmap, img);
    _write(layer->backup, img);
    layer->needs_clear = 0;
}

// Breadth-first 4-connected fill matching every byte against the seed.
Img _reference_fill(const Img& in, int sx, int sy, uint32_t fill, int t) {
    Img out = in;
    std::vector<uint8_t> seen(in.px.size(), 0);
    uint32_t seed = in.at(sx, sy);
    auto near = [&](uint32_t v) {
        for (int c = 0; c < 4; c++)
            if (abs(_byte(v, c) - _byte(seed, c)) > t) return false;
        return true;
    };
    std::queue<std::pair<int, int>> q;
    q.push({sx, sy});
    seen[(size_t)sy * in.w + sx] = 1;
    while (!q.empty()) {
        auto [x, y] = q.front();
        q.pop();
        out.at(x, y) = fill;
        const int d[4][2] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}};
        for (auto& k : d) {
            int nx = x + k[0], ny = y + k[1];
            if (nx < 0 || ny < 0 || nx >= in.w || ny >= in.h) continue;
            size_t i = (size_t)ny * in.w + nx;
            if (seen[i] || !near(in.px[i])) continue;
            seen[i] = 1;
            q.push({nx, ny});
        }
    }
    return out;
}

// A perfect labyrinth of 1-pixel walls: passages on odd coordinates.
Img _labyrinth(int w, int h, uint32_t wall, uint32_t open, unsigned seed) {
    Img img(w, h, wall);
    int cw = (w - 1) / 2, ch = (h - 1) / 2;
    std::vector<uint8_t> done((size_t)cw * ch, 0);
    std::mt19937 rng(seed);
    std::vector<std::pair<int, int>> stack = {{0, 0}};
    done[0] = 1;
    img.at(1, 1) = open;
    while (!stack.empty()) {
        auto [cx, cy] = stack.back();
        int options[4], n = 0;
        const int d[4][2] = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}};
        for (int k = 0; k < 4; k++) {
            int nx = cx + d[k][0], ny = cy + d[k][1];
            if (nx >= 0 && ny >= 0 && nx < cw && ny < ch && !done[(size_t)ny * cw + nx]) options[n++] = k;
        }
        if (!n) {
            stack.pop_back();
            continue;
        }
        int k = options[rng() % n];
        int nx = cx + d[k][0], ny = cy + d[k][1];
        done[(size_t)ny * cw + nx] = 1;
        img.at(2 * cx + 1 + d[k][0], 2 * cy + 1 + d[k][1]) = open;
        img.at(2 * nx + 1, 2 * ny + 1) = open;
        stack.push_back({nx, ny});
    }
    return img;
}

// Vertical teeth on both sides of one open row: one span seeds thousands of runs.
Img _comb(int w, int h, uint32_t wall) {
    Img img(w, h, wall);
    for (int x = 0; x < w; x++) {
        img.at(x, h / 2) = 0;
        if (x % 2 == 0)
            for (int y = 0; y < h; y++) img.at(x, y) = 0;
    }
    return img;
}

const uint32_t kWall = _rgba(0, 0, 0, 255);

class Fill : public ::testing::Test {
  protected:
    DOCUMENT* doc = nullptr;
    LAYER* layer = nullptr;
    void SetUp() override {
        ASSERT_NE(test_display(), nullptr);
    }
    void TearDown() override {
        _fill_set_seed_limit(0);
        if (doc) document_free(&doc);
    }
    void make(int w, int h, const Img* content = nullptr) {
        doc = document_new(w, h);
        ASSERT_NE(doc, nullptr);
        layer = document_add_layer(doc, "paint");
        ASSERT_NE(layer, nullptr);
        _put(layer, content ? *content : Img(w, h));
    }
    size_t steps() const { return doc->undo->undo_stack->nb_items; }
    // Both copies of the layer hold `want`.
    void expect_layer(const Img& want, const char* what) {
        EXPECT_TRUE(_read(layer->bitmap) == want) << what << " (video bitmap)";
        EXPECT_TRUE(_read(layer->backup) == want) << what << " (backup)";
    }
};

}  // namespace

TEST_F(Fill, TransparentLayerTakesTheOpaqueColourInItsConnectedRegion) {
    Img start(40, 30);
    for (int x = 5; x < 25; x++) start.at(x, 5) = start.at(x, 20) = kWall;
    for (int y = 5; y <= 20; y++) start.at(5, y) = start.at(24, y) = kWall;
    make(40, 30, &start);
    /* The colour's own alpha is ignored: the fill is opaque. */
    ALLEGRO_COLOR c = al_map_rgba_f(0.2f, 0.4f, 0.8f, 0.3f);
    uint32_t f = _rgba(51, 102, 204, 255);
    ASSERT_EQ(fill_flood(doc, 2.7f, 28.9f, &c, 0.1f), 1);
    Img want = _reference_fill(start, 2, 28, f, 26);
    expect_layer(want, "outside the box");
    EXPECT_EQ(_read(layer->bitmap).at(10, 10), 0u);
    EXPECT_EQ(_read(layer->bitmap).at(39, 0), f);
    EXPECT_EQ(steps(), 1u);
    /* Inside the box: its own region only, and the walls stay. */
    ASSERT_EQ(fill_flood(doc, 10, 10, &c, 0.1f), 1);
    want = _reference_fill(want, 10, 10, f, 26);
    expect_layer(want, "inside the box");
    EXPECT_EQ(_read(layer->bitmap).at(5, 5), kWall);
    EXPECT_EQ(steps(), 2u);
}

TEST_F(Fill, ToleranceTakesEveryByteWithin26OfTheSeedAndNoFurther) {
    /* Row 1 is the seed colour; above and below sit pixels off it by
     * chosen amounts, each touching the seed row only. */
    const uint32_t s = _rgba(100, 100, 100, 200);
    const int offs[][4] = {{26, 26, 26, 26}, {-26, -26, -26, -26}, {0, 0, 0, 27}, {27, 0, 0, 0}, {0, -27, 0, 0},
                           {0, 0, 26, -26}, {13, -20, 5, 26}, {0, 0, -27, 0}};
    const int n = sizeof(offs) / sizeof(offs[0]);
    Img start(2 * n + 1, 3, kWall);
    for (int x = 0; x < start.w; x++) start.at(x, 1) = s;
    for (int i = 0; i < n; i++) {
        uint32_t v = _rgba(100 + offs[i][0], 100 + offs[i][1], 100 + offs[i][2], 200 + offs[i][3]);
        start.at(2 * i + 1, 0) = v;
        start.at(2 * i + 1, 2) = v;
    }
    make(start.w, start.h, &start);
    ALLEGRO_COLOR c = al_map_rgb(250, 0, 0);
    ASSERT_EQ(fill_flood(doc, 0, 1, &c, 0.1f), 1);
    Img got = _read(layer->bitmap);
    uint32_t f = _rgba(250, 0, 0, 255);
    const bool joins[] = {true, true, false, false, false, true, true, false};
    for (int i = 0; i < n; i++) {
        EXPECT_EQ(got.at(2 * i + 1, 0) == f, joins[i]) << "offset case " << i;
        EXPECT_EQ(got.at(2 * i + 1, 2) == f, joins[i]) << "offset case " << i;
    }
    EXPECT_TRUE(got == _reference_fill(start, 0, 1, f, 26));

    /* Tolerance 1 takes everything; a negative one only the exact colour. */
    ASSERT_EQ(undo_perform(doc), 1);
    ASSERT_EQ(fill_flood(doc, 0, 1, &c, 1.0f), 1);
    EXPECT_TRUE(_read(layer->bitmap) == Img(start.w, start.h, f));
    ASSERT_EQ(undo_perform(doc), 1);
    ASSERT_EQ(fill_flood(doc, 0, 1, &c, -0.5f), 1);
    EXPECT_TRUE(_read(layer->bitmap) == _reference_fill(start, 0, 1, f, 0));
}

TEST_F(Fill, MatchingIsAgainstTheSeedNotTheNeighbour) {
    /* A ramp of 20 per pixel: each step is within 26 of the last, but only
     * the first two pixels are within 26 of the seed. */
    Img start(6, 1);
    for (int x = 0; x < 6; x++) start.at(x, 0) = _rgba(20 * x, 20 * x, 20 * x, 255);
    make(6, 1, &start);
    ALLEGRO_COLOR c = al_map_rgb(0, 0, 255);
    ASSERT_EQ(fill_flood(doc, 0.5f, 0.5f, &c, 0.1f), 1);
    Img got = _read(layer->bitmap);
    EXPECT_EQ(got.at(0, 0), _rgba(0, 0, 255, 255));
    EXPECT_EQ(got.at(1, 0), _rgba(0, 0, 255, 255));
    EXPECT_EQ(got.at(2, 0), start.at(2, 0));
    EXPECT_EQ(got.at(5, 0), start.at(5, 0));
}

TEST_F(Fill, DiagonalNeighboursAreNotConnected) {
    Img start(5, 5);
    start.at(1, 2) = start.at(3, 2) = start.at(2, 1) = start.at(2, 3) = kWall;
    make(5, 5, &start);
    ALLEGRO_COLOR c = al_map_rgb(0, 200, 0);
    uint32_t f = _rgba(0, 200, 0, 255);
    ASSERT_EQ(fill_flood(doc, 0, 0, &c, 0.0f), 1);
    Img got = _read(layer->bitmap);
    EXPECT_EQ(got.at(2, 2), 0u) << "reached through a corner";
    EXPECT_EQ(got.at(1, 1), f);
    EXPECT_EQ(got.at(3, 3), f);
    /* The walled pixel alone: a one-pixel change. */
    ASSERT_EQ(fill_flood(doc, 2, 2, &c, 0.0f), 1);
    got = _read(layer->bitmap);
    EXPECT_EQ(got.at(2, 2), f);
    EXPECT_EQ(got.at(2, 1), kWall);
}

TEST_F(Fill, RefillWithTheSameColourNeedsATolerance) {
    uint32_t f = _rgba(10, 20, 30, 255);
    Img start(32, 16, f);
    make(32, 16, &start);
    /* Same RGB: the colour's alpha does not make it differ. */
    ALLEGRO_COLOR c = al_map_rgba_f(10 / 255.0f, 20 / 255.0f, 30 / 255.0f, 0.35f);
    ASSERT_EQ(fill_flood(doc, 3, 3, &c, 0.0f), 0);
    EXPECT_EQ(steps(), 0u);
    expect_layer(start, "unchanged");
    /* With a tolerance the region is repainted as a step of its own. */
    ASSERT_EQ(fill_flood(doc, 3, 3, &c, 0.1f), 1);
    EXPECT_EQ(steps(), 1u);
    expect_layer(start, "repainted");
}

TEST_F(Fill, SeedsOutsideTheDocumentAreRefused) {
    make(20, 10);
    ALLEGRO_COLOR c = al_map_rgb(255, 255, 255);
    EXPECT_EQ(fill_flood(doc, -0.5f, 3, &c, 0.1f), 0);
    EXPECT_EQ(fill_flood(doc, 3, -0.01f, &c, 0.1f), 0);
    EXPECT_EQ(fill_flood(doc, 20, 3, &c, 0.1f), 0);
    EXPECT_EQ(fill_flood(doc, 3, 10, &c, 0.1f), 0);
    EXPECT_EQ(fill_flood(doc, NAN, 3, &c, 0.1f), 0);
    EXPECT_EQ(fill_flood(doc, 1e30f, 3, &c, 0.1f), 0);
    EXPECT_EQ(fill_flood(doc, 3, -INFINITY, &c, 0.1f), 0);
    EXPECT_EQ(steps(), 0u);
    expect_layer(Img(20, 10), "untouched");
    EXPECT_EQ(fill_flood(doc, 19.99f, 9.99f, &c, 0.1f), 1);
}

TEST_F(Fill, LabyrinthMatchesABreadthFirstFill) {
    /* Passages carry noise, some inside the tolerance and some outside. */
    Img maze = _labyrinth(301, 201, kWall, 0, 7);
    std::mt19937 rng(11);
    for (uint32_t& v : maze.px)
        if (v == 0 && rng() % 5 == 0) {
            int d = rng() % 300 ? rng() % 27 : 27 + rng() % 20;
            v = _rgba(d, d / 2, 0, d);
        }
    make(maze.w, maze.h, &maze);
    ALLEGRO_COLOR c = al_map_rgb(200, 60, 10);
    uint32_t f = _rgba(200, 60, 10, 255);
    maze.at(1, 1) = 0;
    _put(layer, maze);
    ASSERT_EQ(fill_flood(doc, 1, 1, &c, 0.1f), 1);
    Img want = _reference_fill(maze, 1, 1, f, 26);
    expect_layer(want, "labyrinth");
    /* The far corner of the labyrinth was reached if its noise allowed. */
    size_t filled = 0;
    for (uint32_t v : want.px) filled += v == f;
    EXPECT_GT(filled, 1000u);
}

TEST_F(Fill, SeedStackGrowsPastItsFirstCapacity) {
    /* 2100 teeth above and 2100 below the open row: 4200 seeds from one span. */
    Img comb = _comb(4200, 9, kWall);
    make(comb.w, comb.h, &comb);
    ALLEGRO_COLOR c = al_map_rgb(9, 99, 199);
    test_log_capture_begin(LOG_DEBUG);
    ASSERT_EQ(fill_flood(doc, 0, 4, &c, 0.0f), 1);
    std::string log = test_log_capture_end();
    EXPECT_GE(_fill_seed_capacity(), 2 * FILL_SEED_STACK_INITIAL);
    EXPECT_EQ(log.find("exhausted"), std::string::npos) << log;
    expect_layer(_reference_fill(comb, 0, 4, _rgba(9, 99, 199, 255), 0), "comb");
}

TEST_F(Fill, ExhaustedSeedStackKeepsWhatWasFilled) {
    Img comb = _comb(4200, 9, kWall);
    make(comb.w, comb.h, &comb);
    _fill_set_seed_limit(FILL_SEED_STACK_INITIAL);
    ALLEGRO_COLOR c = al_map_rgb(9, 99, 199);
    uint32_t f = _rgba(9, 99, 199, 255);
    test_log_capture_begin(LOG_DEBUG);
    ASSERT_EQ(fill_flood(doc, 0, 4, &c, 0.0f), 1);
    std::string log = test_log_capture_end();
    EXPECT_NE(log.find("fill seed stack exhausted"), std::string::npos) << log;
    EXPECT_NE(log.find("( seeds->xy *)realloc( 16384 * sizeof( 4 ) ) malloc error"), std::string::npos) << log;
    EXPECT_EQ(_fill_seed_capacity(), FILL_SEED_STACK_INITIAL);
    Img got = _read(layer->bitmap);
    EXPECT_TRUE(_read(layer->backup) == got);
    Img full = _reference_fill(comb, 0, 4, f, 0);
    size_t filled = 0, missed = 0, stray = 0;
    for (size_t i = 0; i < got.px.size(); i++) {
        if (got.px[i] == f) filled++;
        if (full.px[i] == f && got.px[i] != f) missed++;
        if (got.px[i] != comb.px[i] && full.px[i] != f) stray++;
    }
    EXPECT_EQ(stray, 0u);
    EXPECT_GT(missed, 0u) << "the dropped seeds should leave teeth unfilled";
    for (int x = 0; x < comb.w; x++) ASSERT_EQ(got.at(x, 4), f) << x;
    EXPECT_GT(filled, (size_t)comb.w);
    EXPECT_EQ(steps(), 1u);
}

TEST_F(Fill, FloodWritesBackOnlyItsBoundingBox) {
    /* 600 x 300: a walled pocket inside the first tile. */
    Img start(600, 300);
    for (int x = 10; x <= 30; x++) start.at(x, 10) = start.at(x, 30) = kWall;
    for (int y = 10; y <= 30; y++) start.at(10, y) = start.at(30, y) = kWall;
    make(600, 300, &start);
    /* Mark the video bitmap elsewhere so that a whole-layer write would show. */
    Img marked = start;
    marked.at(500, 200) = _rgba(1, 2, 3, 4);
    _write(layer->bitmap, marked);
    ALLEGRO_COLOR c = al_map_rgb(255, 0, 255);
    ASSERT_EQ(fill_flood(doc, 20, 20, &c, 0.1f), 1);
    Img got = _read(layer->bitmap);
    EXPECT_EQ(got.at(500, 200), _rgba(1, 2, 3, 4));
    EXPECT_EQ(got.at(11, 11), _rgba(255, 0, 255, 255));
    EXPECT_EQ(got.at(29, 29), _rgba(255, 0, 255, 255));
    UNDO_RECORD* r = (UNDO_RECORD*)doc->undo->undo_stack->end->ptr;
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->tiles->nb_items, 1u);
    EXPECT_TRUE(_read(layer->backup) == _reference_fill(start, 20, 20, _rgba(255, 0, 255, 255), 26));

    /* An L-shaped pocket whose box covers all six tiles touches four: only
     * those are recorded. */
    ASSERT_EQ(undo_perform(doc), 1);
    Img l(600, 300, kWall);
    for (int y = 10; y <= 20; y++)
        for (int x = 10; x <= 590; x++) l.at(x, y) = 0;
    for (int y = 10; y <= 290; y++)
        for (int x = 10; x <= 20; x++) l.at(x, y) = 0;
    _put(layer, l);
    ASSERT_EQ(fill_flood(doc, 15, 280, &c, 0.1f), 1);
    r = (UNDO_RECORD*)doc->undo->undo_stack->end->ptr;
    EXPECT_EQ(r->tiles->nb_items, 4u);
    ASSERT_EQ(undo_perform(doc), 1);
    expect_layer(l, "the L undone");
}

TEST_F(Fill, LayerWithUndefinedVideoContentGetsEveryPixel) {
    Img start(300, 100);
    for (int y = 0; y < 100; y++) start.at(50, y) = kWall;
    make(300, 100, &start);
    /* As after creation: the video bitmap is garbage until first cleared. */
    _write(layer->bitmap, Img(300, 100, _rgba(255, 0, 0, 255)));
    layer->needs_clear = 1;
    ALLEGRO_COLOR c = al_map_rgb(0, 0, 90);
    ASSERT_EQ(fill_flood(doc, 5, 5, &c, 0.0f), 1);
    EXPECT_EQ(layer->needs_clear, 0);
    expect_layer(_reference_fill(start, 5, 5, _rgba(0, 0, 90, 255), 0), "defined everywhere");
}

// An anti-aliased black ring (premultiplied: only alpha), 3 px wide.
Img _ring(int w, int h, float cx, float cy, float r) {
    Img img(w, h);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            float d = fabsf(hypotf(x + 0.5f - cx, y + 0.5f - cy) - r);
            float a = fminf(1.0f, fmaxf(0.0f, 2.0f - d));
            img.at(x, y) = _rgba(0, 0, 0, (int)(a * 255.0f + 0.5f));
        }
    return img;
}

TEST_F(Fill, FlatsFoundOnThePictureStayInsideTheLineArtAndGrowUnderIt) {
    /* Cream paper; under the flats a pale wash over everything with a dark
     * green blot inside the ring; over them the ring as Multiply line art.
     * 600 x 300: the ring lies in the first undo tile of three. */
    const int W = 600, H = 300;
    const float cx = 100, cy = 100, r = 60;
    make(W, H);
    doc->background = al_map_rgb(250, 240, 220);
    LAYER* flats = layer;
    Img wash(W, H, _rgba(20, 30, 60, 90));
    for (int y = 110; y < 140; y++)
        for (int x = 110; x < 140; x++) wash.at(x, y) = _rgba(0, 90, 0, 255);
    LAYER* under = document_add_layer(doc, "under");
    LAYER* ink = document_add_layer(doc, "ink");
    ASSERT_TRUE(under && ink);
    _put(under, wash);
    _put(ink, _ring(W, H, cx, cy, r));
    ink->blend = LAYER_BLEND_MULTIPLY;
    ASSERT_EQ(document_move_layer(doc, 1, 0), 1); /* under, flats, ink */
    doc->active_layer = flats;

    FILL_OPTIONS options;
    fill_options_defaults(&options);
    EXPECT_EQ(options.sample, FILL_SAMPLE_LAYER);
    EXPECT_FLOAT_EQ(options.tolerance, 0.1f);
    options.sample = FILL_SAMPLE_ALL;
    ALLEGRO_COLOR red = al_map_rgb(200, 40, 40);
    const uint32_t f = _rgba(200, 40, 40, 255);
    auto inside = [&](int x, int y) { return hypotf(x + 0.5f - cx, y + 0.5f - cy); };
    auto near_blot = [&](int x, int y, int m) { return x >= 110 - m && x < 140 + m && y >= 110 - m && y < 140 + m; };
    /* The largest channel the picture shows inside the ring, off the blot. */
    auto lightest = [&]() {
        std::vector<uint8_t> seen((size_t)W * H * 4);
        EXPECT_EQ(compositor_sample_region(doc, 0, 0, W, H, seen.data()), 1);
        int most = 0;
        for (int y = 0; y < H; y++)
            for (int x = 0; x < W; x++)
                if (inside(x, y) < r && !near_blot(x, y, 3)) most = std::max(most, (int)seen[((size_t)y * W + x) * 4 + 1]);
        return most;
    };

    for (int grow : {0, 2}) {
        options.grow = grow;
        ASSERT_EQ(fill_flood_with(doc, 80, 70, &red, &options), 1) << "grow " << grow;
        Img got = _read(flats->backup);
        EXPECT_TRUE(got == _read(flats->bitmap));
        int outside = 0, blot = 0, unfilled = 0;
        for (int y = 0; y < H; y++)
            for (int x = 0; x < W; x++) {
                float d = inside(x, y);
                if (d > r + 2.0f && got.at(x, y) != 0) outside++;
                if (near_blot(x, y, -3) && got.at(x, y) != 0) blot++;
                if (d < r - 3.0f && !near_blot(x, y, 1) && got.at(x, y) != f) unfilled++;
            }
        EXPECT_EQ(outside, 0) << "grow " << grow << ": paint left the ring";
        EXPECT_EQ(blot, 0) << "grow " << grow << ": the under layer's blot was not seen";
        EXPECT_EQ(unfilled, 0) << "grow " << grow;
        /* Green: paper shows through the ring's soft inner edge only without growing. */
        if (grow == 0)
            EXPECT_GT(lightest(), 60) << "no halo to grow under";
        else
            EXPECT_LE(lightest(), 41) << "a pale halo stays under the line art";
        /* One step, one tile, undone exactly. */
        EXPECT_EQ(steps(), 1u);
        UNDO_RECORD* rec = (UNDO_RECORD*)doc->undo->undo_stack->end->ptr;
        EXPECT_EQ(rec->tiles->nb_items, 1u);
        ASSERT_EQ(undo_perform(doc), 1);
        expect_layer(Img(W, H), "undone");
        ASSERT_EQ(redo_perform(doc), 1);
        expect_layer(got, "redone");
        ASSERT_EQ(undo_perform(doc), 1);
    }
    /* On the flats layer alone the same click floods the whole canvas. */
    options.sample = FILL_SAMPLE_LAYER;
    options.grow = 0;
    ASSERT_EQ(fill_flood_with(doc, 80, 70, &red, &options), 1);
    EXPECT_EQ(_read(flats->backup).at(W - 1, H - 1), f);
}

TEST_F(Fill, AMaskLimitsTheFillAndAGrownBorderLiesUnderThePaint) {
    /* Two flats side by side on the active layer with a soft grey seam;
     * a mask (an L shape hanging off the canvas's top-left) limits a fill
     * of the left flat that grows by 3. */
    Img start(64, 40, _rgba(0, 0, 0, 0));
    for (int y = 0; y < 40; y++) {
        start.at(30, y) = _rgba(60, 60, 60, 128);
        for (int x = 31; x < 64; x++) start.at(x, y) = _rgba(0, 0, 200, 255);
    }
    make(64, 40, &start);
    const int mx = -5, my = -4, mw = 50, mh = 30;
    std::vector<uint8_t> mask((size_t)mw * mh, 0);
    for (int y = 0; y < mh; y++)
        for (int x = 0; x < mw; x++) mask[(size_t)y * mw + x] = (y < 14 || x < 15) ? 1 : 0;
    FILL_OPTIONS options;
    fill_options_defaults(&options);
    options.mask = mask.data();
    options.mask_x = mx, options.mask_y = my, options.mask_w = mw, options.mask_h = mh;
    options.grow = 3;
    ALLEGRO_COLOR yellow = al_map_rgb(240, 220, 0);
    /* A seed outside the mask, or on the canvas outside the mask's rectangle, changes nothing. */
    EXPECT_EQ(fill_flood_with(doc, 20, 20, &yellow, &options), 0);
    EXPECT_EQ(fill_flood_with(doc, 50, 35, &yellow, &options), 0);
    EXPECT_EQ(steps(), 0u);
    ASSERT_EQ(fill_flood_with(doc, 2, 2, &yellow, &options), 1);
    Img got = _read(layer->backup);
    const uint32_t f = _rgba(240, 220, 0, 255);
    for (int y = 0; y < 40; y++)
        for (int x = 0; x < 64; x++) {
            int lx = x - mx, ly = y - my;
            bool in = lx < mw && ly < mh && mask[(size_t)ly * mw + lx];
            uint32_t want = start.at(x, y);
            if (in && x < 30) want = f;
            /* The seam is within 3 of the region: the yellow goes under it. */
            if (in && x == 30) want = _rgba(60 + (240 * 127 + 127) / 255, 60 + (220 * 127 + 127) / 255, 60, 255);
            ASSERT_EQ(got.at(x, y), want) << "at (" << x << ", " << y << ")";
        }
}

TEST_F(Fill, GradientFollowsItsFormulaAtEveryPixel) {
    Img start(80, 24);
    for (int y = 0; y < 24; y++)
        for (int x = 0; x < 80; x++) start.at(x, y) = (x + y) % 3 ? _rgba(60, 30, 0, 120) : _rgba(0, 0, 0, 0);
    make(80, 24, &start);
    const float x0 = 10.5f, y0 = 3, x1 = 50, y1 = 9.25f;
    /* The colour's alpha is not used. */
    ALLEGRO_COLOR c = al_map_rgba_f(0.2f, 0.6f, 1.0f, 0.25f);
    ASSERT_EQ(fill_gradient(doc, x0, y0, x1, y1, &c), 1);
    double dx = (double)x1 - x0, dy = (double)y1 - y0, l2 = dx * dx + dy * dy;
    const double col[3] = {c.r, c.g, c.b};
    Img want = start;
    int behind = 0, past = 0, between = 0;
    for (int i = 0; i < 24; i++)
        for (int j = 0; j < 80; j++) {
            double t = ((j - (double)x0) * dx + (i - (double)y0) * dy) / l2;
            uint32_t& p = want.at(j, i);
            if (t < 0) {
                p = _rgba((int)(col[0] * 255 + 0.5), (int)(col[1] * 255 + 0.5), (int)(col[2] * 255 + 0.5), 255);
                behind++;
            } else if (t >= 1) {
                past++;
            } else {
                double f = 1 - t;
                int v[4];
                for (int k = 0; k < 4; k++) {
                    double src = k < 3 ? col[k] * f : f;
                    v[k] = (int)(src * 255 + _byte(p, k) * (1 - f) + 0.5);
                }
                p = _rgba(v[0], v[1], v[2], v[3]);
                between++;
            }
        }
    ASSERT_GT(behind, 0);
    ASSERT_GT(past, 0);
    ASSERT_GT(between, 0);
    expect_layer(want, "oblique gradient");
    EXPECT_EQ(steps(), 1u);
}

TEST_F(Fill, GradientBehindPastAndHalfway) {
    Img start(64, 4, _rgba(40, 80, 120, 200));
    make(64, 4, &start);
    ALLEGRO_COLOR c = al_map_rgb_f(1.0f, 0.5f, 0.0f);
    ASSERT_EQ(fill_gradient(doc, 10, 0, 50, 0, &c), 1);
    Img got = _read(layer->bitmap);
    for (int y = 0; y < 4; y++) {
        EXPECT_EQ(got.at(9, y), _rgba(255, 128, 0, 255)) << "behind the start";
        EXPECT_EQ(got.at(0, y), _rgba(255, 128, 0, 255));
        EXPECT_EQ(got.at(50, y), start.at(50, y)) << "at the end";
        EXPECT_EQ(got.at(63, y), start.at(63, y)) << "past the end";
    }
    /* At the start t = 0: full coverage over the old pixel. */
    EXPECT_EQ(got.at(10, 0), _rgba(255, (int)(0.5 * 255 + 0.5), 0, 255));
    /* Halfway: the colour at half coverage over the old premultiplied pixel. */
    int half[4] = {(int)(1.0 * 0.5 * 255 + 40 * 0.5 + 0.5), (int)(0.5 * 0.5 * 255 + 80 * 0.5 + 0.5),
                   (int)(0.0 * 0.5 * 255 + 120 * 0.5 + 0.5), (int)(0.5 * 255 + 200 * 0.5 + 0.5)};
    EXPECT_EQ(got.at(30, 2), _rgba(half[0], half[1], half[2], half[3]));
}

TEST_F(Fill, GradientClickWithoutDragPaintsTheWholeLayer) {
    Img start(30, 20, _rgba(1, 2, 3, 4));
    make(30, 20, &start);
    ALLEGRO_COLOR c = al_map_rgba_f(0, 1, 0, 0.1f);
    ASSERT_EQ(fill_gradient(doc, 5, 5, 5.6f, 5.7f, &c), 1);
    expect_layer(Img(30, 20, _rgba(0, 255, 0, 255)), "click");
    EXPECT_EQ(fill_gradient(doc, NAN, 5, 6, 6, &c), 0);
    EXPECT_EQ(steps(), 1u);
}

TEST_F(Fill, ClearMakesTheLayerTransparent) {
    Img start(260, 40, _rgba(9, 9, 9, 9));
    make(260, 40, &start);
    ASSERT_EQ(fill_clear(doc), 1);
    expect_layer(Img(260, 40), "cleared");
    EXPECT_EQ(steps(), 1u);
    UNDO_RECORD* r = (UNDO_RECORD*)doc->undo->undo_stack->end->ptr;
    EXPECT_EQ(r->tiles->nb_items, 2u);
}

TEST_F(Fill, LockedLayersAreLeftAlone) {
    Img start(40, 40, _rgba(5, 6, 7, 255));
    start.at(3, 3) = kWall;
    make(40, 40, &start);
    layer->locked = 1;
    ALLEGRO_COLOR c = al_map_rgb(255, 255, 255);
    test_log_capture_begin(LOG_INFO);
    EXPECT_EQ(fill_flood(doc, 10, 10, &c, 0.1f), 0);
    EXPECT_EQ(fill_gradient(doc, 0, 0, 30, 30, &c), 0);
    EXPECT_EQ(fill_gradient(doc, 0, 0, 0, 0, &c), 0);
    EXPECT_EQ(fill_clear(doc), 0);
    std::string log = test_log_capture_end();
    EXPECT_EQ(log, "");
    EXPECT_EQ(steps(), 0u);
    expect_layer(start, "locked");
    layer->locked = 0;
    EXPECT_EQ(fill_clear(doc), 1);
}

TEST_F(Fill, EachFillIsOneUndoStepReversedPixelExactly) {
    Img start = _labyrinth(301, 281, _rgba(30, 60, 90, 255), _rgba(0, 0, 0, 0), 3);
    make(start.w, start.h, &start);
    ALLEGRO_COLOR red = al_map_rgb(255, 0, 0);
    ALLEGRO_COLOR blue = al_map_rgba_f(0, 0, 1, 0.5f);
    std::vector<Img> states = {start};
    ASSERT_EQ(fill_flood(doc, 1, 1, &red, 0.1f), 1);
    states.push_back(_read(layer->backup));
    ASSERT_EQ(fill_gradient(doc, 20, 20, 280, 200, &blue), 1);
    states.push_back(_read(layer->backup));
    /* Behind the gradient's start the layer is now exactly the blue. */
    EXPECT_EQ(fill_flood(doc, 0, 0, &blue, 0.0f), 0);
    ALLEGRO_COLOR green = al_map_rgb(0, 255, 0);
    ASSERT_EQ(fill_flood(doc, 0, 0, &green, 0.0f), 1);
    states.push_back(_read(layer->backup));
    ASSERT_EQ(fill_clear(doc), 1);
    states.push_back(Img(start.w, start.h));
    ASSERT_EQ(steps(), 4u);
    expect_layer(states[4], "after the clear");
    for (int k = 3; k >= 0; k--) {
        ASSERT_EQ(undo_perform(doc), 1);
        expect_layer(states[k], ("undone to state " + std::to_string(k)).c_str());
    }
    EXPECT_EQ(undo_perform(doc), 0);
    for (int k = 1; k <= 4; k++) {
        ASSERT_EQ(redo_perform(doc), 1);
        expect_layer(states[k], ("redone to state " + std::to_string(k)).c_str());
    }
}

TEST_F(Fill, RefusedWhileAnotherChangeIsOpen) {
    Img start(16, 16);
    make(16, 16, &start);
    ASSERT_EQ(undo_begin(doc), 1);
    ALLEGRO_COLOR c = al_map_rgb(255, 255, 255);
    EXPECT_EQ(fill_flood(doc, 1, 1, &c, 0.1f), 0);
    EXPECT_EQ(fill_clear(doc), 0);
    undo_abort(doc);
    expect_layer(start, "while open");
    EXPECT_EQ(steps(), 0u);
}

TEST_F(Fill, NullArgumentsAreLoggedAndRefused) {
    make(8, 8);
    ALLEGRO_COLOR c = al_map_rgb(255, 255, 255);
    test_log_capture_begin(LOG_DEBUG);
    EXPECT_EQ(fill_flood(NULL, 1, 1, &c, 0.1f), 0);
    EXPECT_EQ(fill_flood(doc, 1, 1, NULL, 0.1f), 0);
    EXPECT_EQ(fill_gradient(doc, 0, 0, 5, 5, NULL), 0);
    EXPECT_EQ(fill_clear(NULL), 0);
    LAYER* active = doc->active_layer;
    doc->active_layer = NULL;
    EXPECT_EQ(fill_clear(doc), 0);
    doc->active_layer = active;
    std::string log = test_log_capture_end();
    EXPECT_NE(log.find("if( !(doc) ) assert at line"), std::string::npos) << log;
    EXPECT_NE(log.find("if( !(color) ) assert at line"), std::string::npos) << log;
    EXPECT_NE(log.find("if( !(doc->active_layer) ) assert at line"), std::string::npos) << log;
    EXPECT_EQ(steps(), 0u);
}
