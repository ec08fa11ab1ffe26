/* Dabs into tiles: every mode against a per-pixel reference of the device's
 * arithmetic on varied paint, across tile seams and canvas edges, on the
 * vector and the scalar rows; which tiles a dab makes; a stroke's coverage
 * buffer and its laying onto a layer. */
#include <gtest/gtest.h>
#include <math.h>
#include <string.h>

#include <algorithm>
#include <set>
#include <utility>
#include <vector>

#include "canvas/tiles.h"
#include "canvas/tiles_dab.h"
#include "test_support.h"

namespace {

typedef std::set<std::pair<int, int>> Slots;

unsigned mul(unsigned a, unsigned b) {
    unsigned p = a * b;
    return (p + (p >> 8) + 128u) >> 8;
}

// One pixel meeting colour x coverage c, written out from the formulas.
void ref_pixel(uint8_t* p, unsigned c, const uint8_t col[4], int mode) {
    unsigned s[4];
    for (int k = 0; k < 4; k++) s[k] = mul(c, col[k]);
    unsigned keep = 255 - s[3];
    if ((mode & 0xF) == TILES_DAB_ERASE) {
        if (mode & TILES_DAB_LOCK_ALPHA) return;
        for (int k = 0; k < 4; k++) p[k] = (uint8_t)mul(p[k], keep);
    } else if (mode & TILES_DAB_LOCK_ALPHA) {
        for (int k = 0; k < 3; k++) p[k] = (uint8_t)(mul(s[k], p[3]) + mul(p[k], keep));
    } else {
        for (int k = 0; k < 4; k++) p[k] = (uint8_t)std::min<unsigned>(s[k] + mul(p[k], keep), 255);
    }
}

// A tip: a soft round one (smoothstep edge from `hardness`), or with holes.
std::vector<uint8_t> tip(int n, float hardness, int holes) {
    std::vector<uint8_t> t((size_t)n * n);
    float c = (n - 1) / 2.0f, h = n / 2.0f;
    for (int i = 0; i < n; i++)
        for (int j = 0; j < n; j++) {
            float u = (j - c) / h, v = (i - c) / h, d = sqrtf(u * u + v * v);
            float e = (d - hardness) / (1 - hardness);
            float k = d >= 1 ? 0 : d <= hardness ? 1 : 1 - (3 - 2 * e) * e * e;
            t[(size_t)i * n + j] = (uint8_t)(k * 255 + 0.5f);
            if (holes && (i * 7 + j * 3) % 5 == 0) t[(size_t)i * n + j] = 0;
        }
    return t;
}

// The tip scaled by a strength as the device tints a texel.
std::vector<uint8_t> scaled(const std::vector<uint8_t>& t, float a) {
    std::vector<uint8_t> s(t.size());
    for (size_t i = 0; i < t.size(); i++) s[i] = (uint8_t)lrintf(t[i] / 255.0f * a * 255.0f);
    return s;
}

// Varied premultiplied paint over the rectangle (rx, ry, rw, rh) of a w x h canvas.
std::vector<uint8_t> paint(int w, int h, int rx, int ry, int rw, int rh) {
    std::vector<uint8_t> px((size_t)w * h * 4, 0);
    static const uint8_t alphas[] = {255, 90, 255, 180, 3, 255, 128};
    for (int y = ry; y < ry + rh; y++)
        for (int x = rx; x < rx + rw; x++) {
            unsigned a = alphas[(x / 3 + y * 5) % 7];
            uint8_t* p = &px[((size_t)y * w + x) * 4];
            p[0] = (uint8_t)(((x * 37) & 255) * a / 255);
            p[1] = (uint8_t)(((y * 91) & 255) * a / 255);
            p[2] = (uint8_t)((((x + y) * 13) & 255) * a / 255);
            p[3] = (uint8_t)a;
        }
    return px;
}

// Lays a coverage mask (n x n, rows n apart) at (x, y) onto a reference canvas.
void ref_dab(std::vector<uint8_t>& ref, int W, int H, const std::vector<uint8_t>& cov, int n, int x, int y,
             const uint8_t col[4], int mode) {
    for (int i = 0; i < n; i++)
        for (int j = 0; j < n; j++) {
            int px = x + j, py = y + i;
            unsigned c = cov[(size_t)i * n + j];
            if (px < 0 || py < 0 || px >= W || py >= H || !c) continue;
            ref_pixel(&ref[((size_t)py * W + px) * 4], c, col, mode);
        }
}

std::vector<uint8_t> whole(const TILES* store) {
    std::vector<uint8_t> px((size_t)store->width * store->height * store->channels);
    tiles_export(store, px.data(), (ptrdiff_t)store->width * store->channels);
    return px;
}

int collect(void* user, int tx, int ty, const uint8_t*) {
    ((Slots*)user)->insert({tx, ty});
    return 1;
}

Slots present(const TILES* store) {
    Slots s;
    tiles_each(store, 0, 0, store->width, store->height, collect, &s);
    return s;
}

}  // namespace

// Over, erase and lock alpha, with opaque, partial and white colours at two
// strengths, at positions off the canvas and across seams of 32 and 64 px
// tiles, dab after dab on the same varied paint: equal to the reference byte
// for byte, on the vector rows and on the scalar rows.
TEST(TilesDab, EveryModeMatchesTheReferenceAcrossSeams) {
    const int W = 200, H = 150;
    const uint8_t colours[3][4] = {{200, 30, 60, 255}, {20, 60, 90, 128}, {255, 255, 255, 255}};
    const int modes[3] = {TILES_DAB_OVER, TILES_DAB_ERASE, TILES_DAB_OVER | TILES_DAB_LOCK_ALPHA};
    const int spots[5][2] = {{-10, -7}, {60, 45}, {170, 120}, {90, 3}, {13, 100}};
    const float strengths[2] = {1.0f, 0.63f};
    std::vector<uint8_t> tips[2] = {tip(37, 0.5f, 0), tip(50, 0.2f, 1)};
    for (int shift : {5, 6})
        for (int vectors : {1, 0}) {
            tiles_dab_use_vectors(vectors);
            TILES* store = tiles_new_with(W, H, TILES_RGBA, shift);
            std::vector<uint8_t> ref = paint(W, H, 30, 20, 120, 90);
            ASSERT_TRUE(tiles_import(store, ref.data(), W * 4));
            TILES_STAMP stamp = {};
            int dabs = 0;
            for (int m = 0; m < 3; m++)
                for (int k = 0; k < 3; k++)
                    for (int s = 0; s < 2; s++)
                        for (int p = 0; p < 5; p++) {
                            const std::vector<uint8_t>& t = tips[(m + k + p) % 2];
                            int n = (int)sqrt((double)t.size());
                            ASSERT_TRUE(tiles_stamp_prepare(&stamp, t.data(), n, strengths[s]));
                            int x = spots[p][0] + 7 * k, y = spots[p][1] + 5 * s;
                            ASSERT_TRUE(tiles_dab(store, &stamp, x, y, colours[k], modes[m]));
                            ref_dab(ref, W, H, scaled(t, strengths[s]), n, x, y, colours[k], modes[m]);
                            ASSERT_EQ(whole(store), ref) << "shift " << shift << " vectors " << vectors << " mode "
                                                         << modes[m] << " colour " << k << " at " << x << "," << y;
                            dabs++;
                        }
            EXPECT_EQ(dabs, 90);
            tiles_stamp_release(&stamp);
            tiles_free(&store);
        }
    tiles_dab_use_vectors(1);
}

// A dab makes the tiles its coverage reaches and no others: a disc's bounding
// box reaches four slots but the disc only three; erasing and lock alpha make
// none where there is no paint; a dab off the canvas changes nothing.
TEST(TilesDab, DabsMakeOnlyTheTilesTheirCoverageReaches) {
    const int W = 300, H = 200;
    TILES* store = tiles_new(W, H);
    std::vector<uint8_t> disc = tip(60, 1.0f, 0);
    TILES_STAMP stamp = {};
    ASSERT_TRUE(tiles_stamp_prepare(&stamp, disc.data(), 60, 1.0f));
    const uint8_t red[4] = {180, 20, 20, 255}, none[4] = {0, 0, 0, 0};
    ASSERT_TRUE(tiles_dab(store, &stamp, 59, 59, red, TILES_DAB_OVER));
    EXPECT_EQ(present(store), (Slots{{1, 0}, {0, 1}, {1, 1}}));
    Slots changed;
    tiles_changed_since(store, 0, collect, &changed);
    EXPECT_EQ(changed, present(store));
    int x0, y0, x1, y1;
    ASSERT_TRUE(tiles_content_box(store, &x0, &y0, &x1, &y1));
    EXPECT_EQ((std::vector<int>{x0, y0, x1, y1}), (std::vector<int>{59, 59, 118, 118}));

    uint64_t revision = tiles_revision(store);
    EXPECT_TRUE(tiles_dab(store, &stamp, 200, 120, red, TILES_DAB_ERASE));
    EXPECT_TRUE(tiles_dab(store, &stamp, 200, 120, red, TILES_DAB_OVER | TILES_DAB_LOCK_ALPHA));
    EXPECT_TRUE(tiles_dab(store, &stamp, -100, -100, red, TILES_DAB_OVER));
    EXPECT_TRUE(tiles_dab(store, &stamp, 300, 10, red, TILES_DAB_OVER));
    EXPECT_TRUE(tiles_dab(store, &stamp, 150, 100, none, TILES_DAB_OVER));
    EXPECT_TRUE(tiles_dab(store, &stamp, 59, 59, red, TILES_DAB_ERASE | TILES_DAB_LOCK_ALPHA));
    EXPECT_EQ(tiles_revision(store), revision);
    EXPECT_EQ(present(store), (Slots{{1, 0}, {0, 1}, {1, 1}}));

    /* Half off the left edge and past the bottom: rows 2 and 3 of column 0. */
    ASSERT_TRUE(tiles_dab(store, &stamp, -30, 150, red, TILES_DAB_OVER));
    EXPECT_EQ(present(store), (Slots{{1, 0}, {0, 1}, {1, 1}, {0, 2}, {0, 3}}));
    changed.clear();
    tiles_changed_since(store, revision, collect, &changed);
    EXPECT_EQ(changed, (Slots{{0, 2}, {0, 3}}));
    /* An eraser over the first dab only changes the slots it had made. */
    revision = tiles_revision(store);
    ASSERT_TRUE(tiles_dab(store, &stamp, 40, 40, red, TILES_DAB_ERASE));
    changed.clear();
    tiles_changed_since(store, revision, collect, &changed);
    EXPECT_EQ(changed, (Slots{{0, 1}, {1, 1}, {1, 0}}));
    EXPECT_EQ(present(store).count({0, 0}), 0u);
    tiles_stamp_release(&stamp);
    tiles_free(&store);

    TILES* coverage = tiles_new_with(W, H, TILES_COVERAGE, TILES_SHIFT);
    TILES_STAMP bad = {};
    EXPECT_FALSE(tiles_dab_coverage(coverage, &bad, 0, 0));
    EXPECT_FALSE(tiles_stamp_prepare(&bad, disc.data(), 0, 1.0f));
    tiles_free(&coverage);
}

// A stroke's coverage: overlapping dabs saturate as c + d (1 - c), across
// seams and edges; laid with the stroke's colour and opacity it matches the
// reference in each mode, and erasing or lock alpha make no tile where the
// layer had none.
TEST(TilesDab, StrokeBufferLaysWithTheStrokeColour) {
    const int W = 150, H = 130;
    TILES* buffer = tiles_new_with(W, H, TILES_COVERAGE, 5);
    std::vector<uint8_t> cov((size_t)W * H, 0);
    std::vector<uint8_t> t = tip(41, 0.3f, 0);
    TILES_STAMP stamp = {};
    ASSERT_TRUE(tiles_stamp_prepare(&stamp, t.data(), 41, 0.8f));
    std::vector<uint8_t> s = scaled(t, 0.8f);
    const int spots[6][2] = {{-12, 10}, {5, 14}, {22, 18}, {39, 22}, {120, 100}, {56, 26}};
    for (auto& spot : spots) {
        ASSERT_TRUE(tiles_dab_coverage(buffer, &stamp, spot[0], spot[1]));
        for (int i = 0; i < 41; i++)
            for (int j = 0; j < 41; j++) {
                int x = spot[0] + j, y = spot[1] + i;
                if (x < 0 || y < 0 || x >= W || y >= H) continue;
                uint8_t& d = cov[(size_t)y * W + x];
                d = (uint8_t)std::min<unsigned>(s[(size_t)i * 41 + j] + mul(d, 255 - s[(size_t)i * 41 + j]), 255);
            }
    }
    EXPECT_EQ(whole(buffer), cov);

    uint8_t col[4];
    tiles_dab_colour(al_map_rgba_f(0.8f, 0.3f, 0.1f, 0.9f), 0.5f, col);
    EXPECT_EQ((std::vector<int>{col[0], col[1], col[2], col[3]}), (std::vector<int>{92, 34, 11, 115}));
    const std::vector<uint8_t> start = paint(W, H, 40, 30, 70, 60);
    for (int mode : {TILES_DAB_OVER, TILES_DAB_ERASE, TILES_DAB_OVER | TILES_DAB_LOCK_ALPHA}) {
        TILES* layer = tiles_new_with(W, H, TILES_RGBA, 5);
        ASSERT_TRUE(tiles_import(layer, start.data(), W * 4));
        Slots before = present(layer);
        ASSERT_TRUE(tiles_dab_lay(layer, buffer, col, mode));
        std::vector<uint8_t> ref = start;
        for (size_t i = 0; i < cov.size(); i++)
            if (cov[i]) ref_pixel(&ref[i * 4], cov[i], col, mode);
        EXPECT_EQ(whole(layer), ref) << "mode " << mode;
        Slots after = present(layer), expected = before;
        Slots stroke = present(buffer);
        if (mode == TILES_DAB_OVER) expected.insert(stroke.begin(), stroke.end());
        EXPECT_EQ(after, expected) << "mode " << mode;
        tiles_free(&layer);
    }
    TILES* other = tiles_new_with(W, H, TILES_RGBA, TILES_SHIFT);
    EXPECT_FALSE(tiles_dab_lay(other, buffer, col, TILES_DAB_OVER));
    tiles_free(&other);
    tiles_stamp_release(&stamp);
    tiles_free(&buffer);
}
