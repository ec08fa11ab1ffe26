/* Brush engine on the graphics device: stamp coverage and tip shapes,
 * the stamp cache, dab spacing with the carried distance, the opacity
 * ceiling of a stroke, the eraser, the spray pattern and previews. Expected
 * pixels are computed here from the formulas. */
#include <gtest/gtest.h>
#include <math.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "canvas/brush.h"
#include "canvas/brush_internal.h"
#include "canvas/document.h"
#include "canvas/undo.h"
#include "t_log.h"
#include "test_support.h"

namespace {

// Whole bitmap as packed R, G, B, A bytes.
struct Pixels {
    int w = 0, h = 0;
    std::vector<unsigned char> data;
    const unsigned char* at(int x, int y) const { return &data[((size_t)y * w + x) * 4]; }
};

Pixels _read(ALLEGRO_BITMAP* bmp) {
    Pixels p;
    p.w = al_get_bitmap_width(bmp);
    p.h = al_get_bitmap_height(bmp);
    p.data.resize((size_t)p.w * p.h * 4);
    ALLEGRO_LOCKED_REGION* lock = al_lock_bitmap(bmp, ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE, ALLEGRO_LOCK_READONLY);
    if (!lock) return p;
    for (int y = 0; y < p.h; y++) memcpy(&p.data[(size_t)y * p.w * 4], (char*)lock->data + y * lock->pitch, p.w * 4);
    al_unlock_bitmap(bmp);
    return p;
}

// Coverage rule of the tips, written out from the definition.
int _expected_coverage(int tip, float hardness, int n, int j, int i) {
    float c = (n - 1) / 2.0f, h = n / 2.0f;
    float u = (j - c) / h, v = (i - c) / h, k = 0.70710677f, d;
    switch (tip) {
        case 1: d = fmaxf(fabsf(u), fabsf(v)); break;
        case 2: d = hypotf((u + v) * k, (u - v) * k * 2.6f); break;
        case 4: d = hypotf((u - v) * k, (u + v) * k * 2.6f); break;
        case 5: d = hypotf(u, 2.6f * v); break;
        case 6: d = fmaxf(fabsf((u + v) * k), fabsf((u - v) * k)); break;
        default: d = hypotf(u, v); break;
    }
    if (d >= 1) return 0;
    if (d <= hardness) return 255;
    float t = (d - hardness) / (1 - hardness);
    return (int)((1 - (3 - 2 * t) * t * t) * 255 + 0.5f);
}

// Fills a layer's video bitmap and its backup with one premultiplied colour.
void _fill_layer(LAYER* layer, ALLEGRO_COLOR c) {
    ALLEGRO_BITMAP* target = al_get_target_bitmap();
    al_set_target_bitmap(layer->bitmap);
    al_clear_to_color(c);
    al_set_target_bitmap(layer->backup);
    al_clear_to_color(c);
    al_set_target_bitmap(target);
    layer->needs_clear = 0;
}

BRUSH _hard_brush(float size) {
    BRUSH b;
    brush_defaults(&b);
    b.size = size;
    b.hardness = 1.0f;
    b.flow = 1.0f;
    b.opacity = 1.0f;
    b.color = al_map_rgb_f(1, 0, 0);
    return b;
}

class Brush : public ::testing::Test {
  protected:
    DOCUMENT* doc = nullptr;
    LAYER* layer = nullptr;
    void SetUp() override {
        ASSERT_NE(test_display(), nullptr);
        brush_release_resources();
        doc = document_new(128, 96);
        ASSERT_NE(doc, nullptr);
        layer = document_add_layer(doc, "paint");
        ASSERT_NE(layer, nullptr);
        _fill_layer(layer, al_map_rgba(0, 0, 0, 0));
    }
    void TearDown() override {
        brush_release_resources();
        if (doc) document_free(&doc);
    }
};

}  // namespace

TEST_F(Brush, StampCoverageForHardness) {
    const float hardness[] = {0.0f, 0.7f, 1.0f};
    for (float hd : hardness) {
        BRUSH b;
        brush_defaults(&b);
        b.size = 24.0f;
        b.hardness = hd;
        ALLEGRO_BITMAP* stamp = _stamp_get(&b);
        ASSERT_NE(stamp, nullptr);
        ASSERT_EQ(al_get_bitmap_width(stamp), 24);
        Pixels p = _read(stamp);
        int worst = 0;
        for (int i = 0; i < 24; i++)
            for (int j = 0; j < 24; j++) {
                int want = _expected_coverage(0, hd, 24, j, i);
                const unsigned char* px = p.at(j, i);
                for (int ch = 0; ch < 4; ch++) worst = std::max(worst, abs(px[ch] - want));
            }
        EXPECT_LE(worst, 1) << "hardness " << hd;
    }
    /* Hard disc: full inside, nothing outside; soft: falls from the centre. */
    BRUSH b = _hard_brush(24.0f);
    Pixels hard = _read(_stamp_get(&b));
    EXPECT_EQ(hard.at(12, 12)[3], 255);
    EXPECT_EQ(hard.at(2, 12)[3], 255);
    EXPECT_EQ(hard.at(0, 0)[3], 0);
    b.hardness = 0.0f;
    Pixels soft = _read(_stamp_get(&b));
    EXPECT_LT(soft.at(11, 11)[3], 255);
    EXPECT_GT(soft.at(11, 11)[3], soft.at(6, 11)[3]);
    EXPECT_GT(soft.at(6, 11)[3], soft.at(1, 11)[3]);
}

TEST_F(Brush, EveryTipFollowsItsDistanceRule) {
    /* Pixels chosen where the tip shapes disagree. */
    const int probes[][2] = {{10, 10}, {2, 10}, {10, 2}, {3, 3}, {17, 3}, {3, 17}, {17, 17}, {6, 14}, {14, 6}, {10, 16}};
    for (int tip = 0; tip < 7; tip++) {
        BRUSH b;
        brush_defaults(&b);
        b.size = 20.4f; /* diameter 21 */
        b.hardness = 0.3f;
        b.tip = tip;
        ALLEGRO_BITMAP* stamp = _stamp_get(&b);
        ASSERT_NE(stamp, nullptr);
        ASSERT_EQ(al_get_bitmap_width(stamp), 21);
        Pixels p = _read(stamp);
        std::set<int> seen;
        for (auto& pr : probes) {
            int want = _expected_coverage(tip, 0.3f, 21, pr[0], pr[1]);
            EXPECT_NEAR(p.at(pr[0], pr[1])[3], want, 1) << "tip " << tip << " at " << pr[0] << "," << pr[1];
            EXPECT_EQ(p.at(pr[0], pr[1])[0], p.at(pr[0], pr[1])[3]) << "premultiplied white";
        }
    }
    /* The two chisels are mirror images of each other. */
    BRUSH b;
    brush_defaults(&b);
    b.size = 21;
    b.tip = BRUSH_TIP_CHISEL_L;
    Pixels l = _read(_stamp_get(&b));
    b.tip = BRUSH_TIP_CHISEL_R;
    Pixels r = _read(_stamp_get(&b));
    EXPECT_NE(l.at(4, 4)[3], r.at(4, 4)[3]);
    EXPECT_EQ(l.at(4, 4)[3], r.at(16, 4)[3]);
}

TEST_F(Brush, StampCacheSharesKeysAndFlushesWholesale) {
    EXPECT_EQ(_stamp_cache_count(), 0);
    BRUSH b;
    brush_defaults(&b);
    b.size = 23.2f;
    ALLEGRO_BITMAP* s1 = _stamp_get(&b);
    b.size = 24.0f;
    EXPECT_EQ(_stamp_get(&b), s1);
    b.hardness = 0.704f; /* rounds to 70 percent too */
    EXPECT_EQ(_stamp_get(&b), s1);
    EXPECT_EQ(_stamp_cache_count(), 1);
    b.hardness = 0.71f;
    EXPECT_NE(_stamp_get(&b), s1);
    b.tip = BRUSH_TIP_SQUARE;
    _stamp_get(&b);
    EXPECT_EQ(_stamp_cache_count(), 3);
    /* Below 1 px the stamp is one pixel wide. */
    b.size = 0.2f;
    EXPECT_EQ(al_get_bitmap_width(_stamp_get(&b)), 1);
    b.size = -5.0f;
    EXPECT_EQ(al_get_bitmap_width(_stamp_get(&b)), 1);
    EXPECT_EQ(_stamp_cache_count(), 4);

    brush_release_resources();
    EXPECT_EQ(_stamp_cache_count(), 0);
    brush_defaults(&b);
    for (int i = 1; i <= 64; i++) {
        b.size = (float)i;
        ASSERT_NE(_stamp_get(&b), nullptr);
    }
    EXPECT_EQ(_stamp_cache_count(), 64);
    b.size = 10.0f; /* a hit does not flush */
    _stamp_get(&b);
    EXPECT_EQ(_stamp_cache_count(), 64);
    b.size = 65.0f;
    ALLEGRO_BITMAP* s65 = _stamp_get(&b);
    ASSERT_NE(s65, nullptr);
    EXPECT_EQ(_stamp_cache_count(), 1);
    EXPECT_EQ(_stamp_get(&b), s65);
    b.size = 10.0f;
    _stamp_get(&b);
    EXPECT_EQ(_stamp_cache_count(), 2);

    /* Tips of a thousand pixels, uploaded as the eraser does (5 MB each):
     * the cache starts over long before it holds 64 of them. */
    brush_release_resources();
    int most = 0;
    for (int i = 0; i < 30; i++) {
        b.size = 1000.0f - (float)i;
        ALLEGRO_BITMAP* big = _stamp_get(&b);
        ASSERT_NE(big, nullptr);
        EXPECT_EQ(al_get_bitmap_width(big), 1000 - i);
        most = std::max(most, _stamp_cache_count());
    }
    EXPECT_GE(most, 10);
    EXPECT_LE(most, 14);
}

TEST_F(Brush, SpacingAndCarriedDistance) {
    /* A one-pixel hard stamp marks every dab's pixel: step = 4 * 1. */
    BRUSH b = _hard_brush(1.0f);
    b.spacing = 4.0f;
    BRUSH_STROKE s = {};
    ASSERT_EQ(brush_stroke_begin(&s, doc, &b, 10.5f, 10.5f, 1.0f, NULL), 1);
    EXPECT_EQ(brush_stroke_segment(&s, doc, &b, 30.5f, 10.5f, 1.0f), 1);
    EXPECT_FLOAT_EQ(s.carried, 0.0f);
    EXPECT_EQ(brush_stroke_segment(&s, doc, &b, 33.5f, 10.5f, 1.0f), 1); /* too short for a dab */
    EXPECT_FLOAT_EQ(s.carried, 3.0f);
    EXPECT_EQ(brush_stroke_segment(&s, doc, &b, 35.5f, 10.5f, 1.0f), 1); /* dab 1 px in */
    EXPECT_FLOAT_EQ(s.carried, 1.0f);
    EXPECT_EQ(brush_stroke_segment(&s, doc, &b, 35.5f, 10.5f, 1.0f), 1); /* zero length */
    EXPECT_FLOAT_EQ(s.carried, 1.0f);
    ALLEGRO_BITMAP* buffer = brush_stroke_buffer_shown();
    ASSERT_NE(buffer, nullptr);
    Pixels p = _read(buffer);
    for (int x = 0; x < 64; x++) {
        bool dab = (x >= 10 && x <= 30 && (x - 10) % 4 == 0) || x == 34;
        EXPECT_EQ(p.at(x, 10)[3], dab ? 255 : 0) << "x " << x;
        EXPECT_EQ(p.at(x, 11)[3], 0);
    }
    EXPECT_EQ(brush_stroke_end(&s, doc), 1);
    EXPECT_EQ(brush_stroke_buffer_shown(), nullptr);
    EXPECT_EQ(doc->undo->undo_stack->nb_items, 1u);
}

TEST_F(Brush, SpacingScalesWithTheBrushSize) {
    /* Size 8 at spacing 0.5 steps 4 px: from 10.5 to 32.5 the last dab lies
     * at 30.5 with 2 px carried over. */
    BRUSH b = _hard_brush(8.0f);
    b.spacing = 0.5f;
    BRUSH_STROKE s = {};
    ASSERT_EQ(brush_stroke_begin(&s, doc, &b, 10.5f, 10.5f, 1.0f, NULL), 1);
    EXPECT_EQ(brush_stroke_segment(&s, doc, &b, 32.5f, 10.5f, 1.0f), 1);
    EXPECT_FLOAT_EQ(s.last_dab_x, 30.5f);
    EXPECT_FLOAT_EQ(s.carried, 2.0f);
    EXPECT_EQ(brush_stroke_end(&s, doc), 1);
}

TEST_F(Brush, PreviewIsRefusedWhileAStrokeIsOpen) {
    /* A form preview drawn into the buffer during a stroke would replace the
     * stroke's paint with the preview's when the stroke ends. */
    BRUSH b = _hard_brush(4.0f);
    BRUSH_STROKE s = {};
    ASSERT_EQ(brush_stroke_begin(&s, doc, &b, 10.5f, 10.5f, 1.0f, NULL), 1);
    const float line[4] = {5.5f, 40.5f, 60.5f, 40.5f};
    test_log_capture_begin(LOG_DEBUG);
    EXPECT_EQ(brush_preview_polyline(doc, &b, line, 2, NULL), 0);
    EXPECT_NE(test_log_capture_end().find("preview refused"), std::string::npos);
    EXPECT_NE(brush_stroke_buffer_shown(), nullptr);
    ASSERT_EQ(brush_stroke_end(&s, doc), 1);
    unsigned char px[4];
    test_pixel_rgba(doc->active_layer->backup, 10, 10, px);
    EXPECT_EQ(px[3], 255) << "the stroke was laid down";
    test_pixel_rgba(doc->active_layer->backup, 30, 40, px);
    EXPECT_EQ(px[3], 0) << "the preview was not";
    /* Once the stroke is over previews work again. */
    EXPECT_EQ(brush_preview_polyline(doc, &b, line, 2, NULL), 1);
    brush_preview_clear();
}

TEST_F(Brush, CloseCandidatesAreSkippedButDistanceAdvances) {
    BRUSH b = _hard_brush(1.0f);
    b.spacing = 4.0f;
    BRUSH_STROKE s = {};
    ASSERT_EQ(brush_stroke_begin(&s, doc, &b, 10.5f, 20.5f, 1.0f, NULL), 1);
    brush_stroke_segment(&s, doc, &b, 12.5f, 20.5f, 1.0f);
    EXPECT_FLOAT_EQ(s.carried, 2.0f);
    /* Back to the start: the candidate lands on the first dab and is skipped. */
    brush_stroke_segment(&s, doc, &b, 10.5f, 20.5f, 1.0f);
    EXPECT_FLOAT_EQ(s.carried, 0.0f);
    EXPECT_FLOAT_EQ(s.last_dab_x, 10.5f);
    brush_stroke_segment(&s, doc, &b, 16.5f, 20.5f, 1.0f);
    EXPECT_FLOAT_EQ(s.last_dab_x, 14.5f);
    Pixels p = _read(brush_stroke_buffer_shown());
    EXPECT_EQ(p.at(10, 20)[3], 255);
    EXPECT_EQ(p.at(12, 20)[3], 0);
    EXPECT_EQ(p.at(14, 20)[3], 255);
    EXPECT_EQ(p.at(16, 20)[3], 0);
    brush_stroke_abort(&s, doc);
}

TEST_F(Brush, StepNeverBelowHalfPixel) {
    /* Spacing 0 still steps 0.5 px; each dab adds flow 0.1 over the same pixels. */
    BRUSH b = _hard_brush(1.0f);
    b.spacing = 0.0f;
    b.flow = 0.1f;
    BRUSH_STROKE s = {};
    ASSERT_EQ(brush_stroke_begin(&s, doc, &b, 10.5f, 30.5f, 1.0f, NULL), 1);
    brush_stroke_segment(&s, doc, &b, 12.5f, 30.5f, 1.0f);
    EXPECT_FLOAT_EQ(s.last_dab_x, 12.5f);
    Pixels p = _read(brush_stroke_buffer_shown());
    double one = 255 * 0.1, two = 255 * (1 - 0.9 * 0.9);
    EXPECT_NEAR(p.at(10, 30)[3], one, 1.5);
    EXPECT_NEAR(p.at(11, 30)[3], two, 1.5); /* dabs at 11.0 and 11.5 */
    EXPECT_NEAR(p.at(12, 30)[3], two, 1.5); /* dabs at 12.0 and 12.5 */
    EXPECT_EQ(p.at(13, 30)[3], 0);
    brush_stroke_abort(&s, doc);
}

TEST_F(Brush, SelfCrossingStrokeNeverExceedsItsOpacity) {
    BRUSH b = _hard_brush(12.0f);
    b.opacity = 0.5f;
    b.spacing = 0.05f;
    BRUSH_STROKE s = {};
    ASSERT_EQ(brush_stroke_begin(&s, doc, &b, 20, 20, 1.0f, NULL), 1);
    for (int i = 0; i < 12; i++) {
        brush_stroke_segment(&s, doc, &b, 80, 60, 1.0f);
        brush_stroke_segment(&s, doc, &b, 20, 60, 1.0f);
        brush_stroke_segment(&s, doc, &b, 80, 20, 1.0f);
        brush_stroke_segment(&s, doc, &b, 20, 20, 1.0f);
    }
    ASSERT_EQ(brush_stroke_end(&s, doc), 1);
    Pixels p = _read(layer->bitmap);
    int max_alpha = 0;
    for (int y = 0; y < p.h; y++)
        for (int x = 0; x < p.w; x++) {
            const unsigned char* px = p.at(x, y);
            max_alpha = std::max(max_alpha, (int)px[3]);
            EXPECT_LE(px[3], 128) << x << "," << y;
            EXPECT_NEAR(px[0], px[3], 1); /* premultiplied pure red */
            EXPECT_EQ(px[1], 0);
        }
    EXPECT_GE(max_alpha, 127);
    EXPECT_EQ(p.at(50, 40)[3] >= 127, true); /* the crossing point is painted */
    EXPECT_EQ(p.at(100, 90)[3], 0);
}

TEST_F(Brush, EndCompositesWithColourAlphaAndOnlyOnce) {
    _fill_layer(layer, al_map_rgba(0, 0, 255, 255));
    BRUSH b = _hard_brush(9.0f);
    b.color = al_map_rgba_f(1.0f, 0.0f, 0.0f, 0.8f);
    b.opacity = 0.5f; /* k = 0.4 */
    BRUSH_STROKE s = {};
    ASSERT_EQ(brush_stroke_begin(&s, doc, &b, 20.5f, 20.5f, 1.0f, NULL), 1);
    /* Nothing reaches the layer before the end. */
    EXPECT_EQ(_read(layer->bitmap).at(20, 20)[0], 0);
    ASSERT_EQ(brush_stroke_end(&s, doc), 1);
    Pixels p = _read(layer->bitmap);
    EXPECT_NEAR(p.at(20, 20)[0], 0.4 * 255, 1);
    EXPECT_NEAR(p.at(20, 20)[2], 0.6 * 255, 1);
    EXPECT_EQ(p.at(20, 20)[3], 255);
    EXPECT_EQ(p.at(60, 60)[2], 255);
    EXPECT_EQ(p.at(60, 60)[0], 0);
    /* A second stroke elsewhere must not bring the first one back. */
    ASSERT_EQ(brush_stroke_begin(&s, doc, &b, 90.5f, 70.5f, 1.0f, NULL), 1);
    Pixels buf = _read(brush_stroke_buffer_shown());
    EXPECT_EQ(buf.at(20, 20)[3], 0);
    EXPECT_EQ(buf.at(90, 70)[3], 255);
    ASSERT_EQ(brush_stroke_end(&s, doc), 1);
    p = _read(layer->bitmap);
    EXPECT_NEAR(p.at(20, 20)[0], 0.4 * 255, 1);
    EXPECT_NEAR(p.at(90, 70)[0], 0.4 * 255, 1);
    /* The backup follows the commit. */
    Pixels backup = _read(layer->backup);
    EXPECT_NEAR(backup.at(90, 70)[0], 0.4 * 255, 1);
}

TEST_F(Brush, EraserMultipliesCoverageOut) {
    _fill_layer(layer, al_map_rgba(200, 100, 50, 255));
    BRUSH b = _hard_brush(9.0f);
    b.eraser = 1;
    b.flow = 0.5f;
    b.opacity = 0.1f; /* plays no part in erasing */
    SYMMETRY sym;
    symmetry_init(&sym, doc);
    sym.mode = SYMMETRY_X;
    sym.cx = 20.5f; /* the mirror image falls on the dab itself: two dabs */
    BRUSH_STROKE s = {};
    ASSERT_EQ(brush_stroke_begin(&s, doc, &b, 20.5f, 20.5f, 1.0f, &sym), 1);
    EXPECT_EQ(brush_stroke_buffer_shown(), nullptr);
    EXPECT_EQ(s.uses_buffer, 0);
    Pixels p = _read(layer->bitmap); /* changed during the stroke */
    EXPECT_NEAR(p.at(20, 20)[0], 200 * 0.25, 1);
    EXPECT_NEAR(p.at(20, 20)[1], 100 * 0.25, 1);
    EXPECT_NEAR(p.at(20, 20)[2], 50 * 0.25, 1);
    EXPECT_NEAR(p.at(20, 20)[3], 255 * 0.25, 1);
    EXPECT_EQ(p.at(30, 20)[3], 255);
    ASSERT_EQ(brush_stroke_end(&s, doc), 1);
    EXPECT_NEAR(_read(layer->backup).at(20, 20)[3], 255 * 0.25, 1);
}

TEST_F(Brush, AbortedEraserStrokeIsRestored) {
    _fill_layer(layer, al_map_rgba(10, 20, 30, 255));
    BRUSH b = _hard_brush(16.0f);
    b.eraser = 1;
    BRUSH_STROKE s = {};
    ASSERT_EQ(brush_stroke_begin(&s, doc, &b, 40, 40, 1.0f, NULL), 1);
    brush_stroke_segment(&s, doc, &b, 90, 50, 1.0f);
    EXPECT_EQ(_read(layer->bitmap).at(60, 44)[3], 0);
    EXPECT_EQ(brush_stroke_abort(&s, doc), 1);
    EXPECT_EQ(s.active, 0);
    Pixels p = _read(layer->bitmap);
    EXPECT_EQ(p.at(60, 44)[3], 255);
    EXPECT_EQ(p.at(40, 40)[2], 30);
    EXPECT_EQ(doc->undo->undo_stack->nb_items, 0u);
    EXPECT_EQ(brush_stroke_abort(&s, doc), 0);
    EXPECT_EQ(brush_stroke_end(&s, doc), 0);
}

TEST_F(Brush, LockedLayerDoesNotBegin) {
    layer->locked = 1;
    BRUSH b = _hard_brush(8.0f);
    BRUSH_STROKE s = {};
    EXPECT_EQ(brush_stroke_begin(&s, doc, &b, 10, 10, 1.0f, NULL), 0);
    EXPECT_EQ(s.active, 0);
    EXPECT_EQ(brush_stroke_segment(&s, doc, &b, 20, 20, 1.0f), 0);
    EXPECT_EQ(doc->undo->open, 0);
}

TEST_F(Brush, SprayIsTheSameAtTheSamePlaceAndCell) {
    BRUSH b;
    brush_defaults(&b);
    b.tip = BRUSH_TIP_SPRAY;
    b.size = 32.0f;
    b.flow = 1.0f;
    auto spray_at = [&](float x, float y) {
        BRUSH_STROKE s = {};
        EXPECT_EQ(brush_stroke_begin(&s, doc, &b, x, y, 1.0f, NULL), 1);
        Pixels p = _read(brush_stroke_buffer_shown());
        brush_stroke_abort(&s, doc);
        return p;
    };
    Pixels a = spray_at(40, 40);
    Pixels again = spray_at(40, 40);
    EXPECT_EQ(a.data, again.data);

    /* Predict the dots: seed from the 2x2 cell, xorshift radius then angle. */
    const float R = 16.0f, v = 3.0f; /* dot diameter max(2, 0.18 * 32) -> 6 */
    const int n = 12;                /* (int)(0.75 * 16) */
    uint32_t h = (uint32_t)20 * 0x9E3779B1u ^ (uint32_t)20 * 0x85EBCA77u;
    h ^= h >> 16;
    h *= 0x7FEB352Du;
    uint32_t st = h ^ (h >> 15);
    std::vector<unsigned char> mask((size_t)a.w * a.h, 0);
    for (int i = 0; i < n; i++) {
        st ^= st << 13, st ^= st >> 17, st ^= st << 5;
        float r = sqrtf((float)(st >> 8) / 16777216.0f);
        st ^= st << 13, st ^= st >> 17, st ^= st << 5;
        float th = (float)(st >> 8) / 16777216.0f * 6.2831855f;
        int tx = (int)floorf(40 + r * R * cosf(th) - v + 0.5f), ty = (int)floorf(40 + r * R * sinf(th) - v + 0.5f);
        /* Dots are full strength here (a = min(1, 1 / (n v^2 / R^2))), soft round. */
        EXPECT_GE(a.at(tx + 2, ty + 3)[3], 150) << "dot " << i;
        for (int y = ty; y < ty + 6; y++)
            for (int x = tx; x < tx + 6; x++) mask[(size_t)y * a.w + x] = 1;
    }
    int stray = 0;
    for (int y = 0; y < a.h; y++)
        for (int x = 0; x < a.w; x++)
            if (!mask[(size_t)y * a.w + x] && a.at(x, y)[3] != 0) stray++;
    EXPECT_EQ(stray, 0);

    /* (41, 41) lies in the same cell: the same pattern one pixel further. */
    Pixels b1 = spray_at(41, 41);
    int diff = 0;
    for (int y = 0; y + 1 < a.h; y++)
        for (int x = 0; x + 1 < a.w; x++) diff += a.at(x, y)[3] != b1.at(x + 1, y + 1)[3];
    EXPECT_EQ(diff, 0);
    /* (42, 42) is the next cell: another pattern. */
    Pixels c = spray_at(42, 42);
    diff = 0;
    for (int y = 0; y + 2 < a.h; y++)
        for (int x = 0; x + 2 < a.w; x++) diff += a.at(x, y)[3] != c.at(x + 2, y + 2)[3];
    EXPECT_GT(diff, 0);
}

TEST_F(Brush, PreviewPaintsBufferOnlyAndClears) {
    _fill_layer(layer, al_map_rgba(0, 0, 0, 0));
    BRUSH b = _hard_brush(6.0f);
    b.eraser = 1; /* forced off for previews */
    const float one[] = {10, 10};
    EXPECT_EQ(brush_preview_polyline(doc, &b, one, 1, NULL), 0);
    const float pts[] = {10.5f, 10.5f, 60.5f, 10.5f, 60.5f, 10.5f, 60.5f, 50.5f};
    ASSERT_EQ(brush_preview_polyline(doc, &b, pts, 4, NULL), 1);
    ALLEGRO_BITMAP* buffer = brush_stroke_buffer_shown();
    ASSERT_NE(buffer, nullptr);
    Pixels p = _read(buffer);
    EXPECT_EQ(p.at(35, 10)[3], 255);
    EXPECT_EQ(p.at(60, 30)[3], 255);
    EXPECT_EQ(p.at(30, 30)[3], 0);
    EXPECT_EQ(_read(layer->bitmap).at(35, 10)[3], 0);
    EXPECT_EQ(doc->undo->open, 0);
    EXPECT_EQ(doc->undo->undo_stack->nb_items, 0u);
    brush_preview_clear();
    EXPECT_EQ(brush_stroke_buffer_shown(), nullptr);
    /* A new preview clears the old one's dabs. */
    const float other[] = {10.5f, 80.5f, 30.5f, 80.5f};
    ASSERT_EQ(brush_preview_polyline(doc, &b, other, 2, NULL), 1);
    p = _read(brush_stroke_buffer_shown());
    EXPECT_EQ(p.at(35, 10)[3], 0);
    EXPECT_EQ(p.at(20, 80)[3], 255);
    /* A live stroke is not hidden by a preview clear. */
    b.eraser = 0;
    BRUSH_STROKE s = {};
    ASSERT_EQ(brush_stroke_begin(&s, doc, &b, 100, 50, 1.0f, NULL), 1);
    brush_preview_clear();
    EXPECT_NE(brush_stroke_buffer_shown(), nullptr);
    brush_stroke_end(&s, doc);
}

TEST_F(Brush, BufferFollowsDocumentSizeAndBounds) {
    ALLEGRO_BITMAP* buf = _stroke_buffer_get(doc);
    ASSERT_NE(buf, nullptr);
    EXPECT_EQ(al_get_bitmap_format(buf), ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE);
    int x, y, w, h;
    EXPECT_EQ(brush_stroke_buffer_bounds(&x, &y, &w, &h), 0);
    BRUSH b = _hard_brush(10.0f);
    BRUSH_STROKE s = {};
    brush_stroke_begin(&s, doc, &b, 2.0f, 50.0f, 1.0f, NULL);
    ASSERT_EQ(brush_stroke_buffer_bounds(&x, &y, &w, &h), 1);
    EXPECT_EQ(x, 0); /* clipped at the left edge */
    EXPECT_EQ(y, 50 - 5 - 2);
    EXPECT_EQ(w, 7 + 2); /* dab spans [-3, 7), margin 2, clipped at 0 */
    EXPECT_EQ(h, 10 + 4);
    brush_stroke_end(&s, doc);
    DOCUMENT* big = document_new(200, 100);
    ALLEGRO_BITMAP* other = _stroke_buffer_get(big);
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(al_get_bitmap_width(other), 200);
    EXPECT_EQ(brush_stroke_buffer_bounds(&x, &y, &w, &h), 0);
    document_free(&big);
}

TEST_F(Brush, TipPreviewBackgroundAndTip) {
    al_set_new_bitmap_flags(ALLEGRO_VIDEO_BITMAP);
    ALLEGRO_BITMAP* dest = al_create_bitmap(40, 40);
    ASSERT_NE(dest, nullptr);
    BRUSH b;
    brush_defaults(&b);
    b.hardness = 1.0f;
    b.color = al_map_rgb(250, 240, 10); /* light: luma >= 0.3 */
    ASSERT_EQ(brush_render_tip_preview(&b, dest), 1);
    Pixels p = _read(dest);
    EXPECT_EQ(p.at(0, 0)[0], 40);
    EXPECT_EQ(p.at(0, 0)[1], 42);
    EXPECT_EQ(p.at(0, 0)[2], 48);
    EXPECT_NEAR(p.at(20, 20)[0], 250, 1);
    EXPECT_NEAR(p.at(20, 20)[2], 10, 1);
    b.color = al_map_rgba(20, 20, 120, 10); /* dark; colour alpha is not shown */
    ASSERT_EQ(brush_render_tip_preview(&b, dest), 1);
    p = _read(dest);
    EXPECT_EQ(p.at(0, 0)[0], 225);
    EXPECT_EQ(p.at(0, 0)[2], 232);
    EXPECT_NEAR(p.at(20, 20)[2], 120, 1);
    b.tip = BRUSH_TIP_SPRAY;
    ASSERT_EQ(brush_render_tip_preview(&b, dest), 1);
    p = _read(dest);
    int painted = 0;
    for (int y = 0; y < 40; y++)
        for (int x = 0; x < 40; x++) painted += p.at(x, y)[0] != 225;
    EXPECT_GT(painted, 20);
    al_destroy_bitmap(dest);
}

namespace {

// A cleared video bitmap of the document's size with `dabs` drawn the way a
// device draws them: the cached stamp tinted by (a, a, a, a) over
// premultiplied "over", one draw per dab at its rounded corner.
ALLEGRO_BITMAP* _device_dabs(const BRUSH* b, const std::vector<std::pair<float, float>>& dabs, float a) {
    al_set_new_bitmap_flags(ALLEGRO_VIDEO_BITMAP);
    ALLEGRO_BITMAP* ref = al_create_bitmap(128, 96);
    ALLEGRO_BITMAP* previous = al_get_target_bitmap();
    al_set_target_bitmap(ref);
    al_clear_to_color(al_map_rgba(0, 0, 0, 0));
    al_set_blender(ALLEGRO_ADD, ALLEGRO_ONE, ALLEGRO_INVERSE_ALPHA);
    ALLEGRO_BITMAP* stamp = _stamp_get(b);
    float half = al_get_bitmap_width(stamp) / 2.0f;
    for (auto& d : dabs)
        al_draw_tinted_bitmap(stamp, al_map_rgba_f(a, a, a, a), floorf(d.first - half + 0.5f),
                              floorf(d.second - half + 0.5f), 0);
    al_set_target_bitmap(previous);
    return ref;
}

// Largest difference of any byte of two equally sized pictures, and how many pixels are painted in `a`.
int _max_difference(const Pixels& a, const Pixels& b, int* painted) {
    int worst = 0;
    *painted = 0;
    for (size_t i = 0; i < a.data.size() && i < b.data.size(); i++) {
        worst = std::max(worst, abs((int)a.data[i] - (int)b.data[i]));
        if (i % 4 == 3 && a.data[i]) ++*painted;
    }
    return a.data.size() == b.data.size() ? worst : 256;
}

}  // namespace

/* Overlapping soft dabs at fractional positions, below full strength and
 * running off two edges: the buffer holds what drawing each dab on the
 * device gave, for every tip that stamps its own shape. */
TEST_F(Brush, DabsMatchTheDeviceOnEveryStampedTip) {
    const std::vector<std::pair<float, float>> dabs = {
        {20.3f, 30.7f}, {24.9f, 31.2f}, {27.5f, 29.5f}, {26.0f, 33.1f}, {1.2f, 2.0f}, {126.6f, 94.8f}};
    for (int tip : {0, 1, 2, 4, 5, 6}) {
        BRUSH b;
        brush_defaults(&b);
        b.tip = tip;
        b.size = 13.5f;
        b.hardness = 0.35f;
        b.flow = 0.55f;
        BRUSH_STROKE st = {};
        ASSERT_TRUE(brush_stroke_begin(&st, doc, &b, dabs[0].first, dabs[0].second, 0.8f, NULL));
        for (size_t i = 1; i < dabs.size(); i++)
            ASSERT_TRUE(_brush_dab(doc, &st, &b, dabs[i].first, dabs[i].second, 0.8f));
        Pixels got = _read(brush_stroke_buffer_shown());
        ALLEGRO_BITMAP* ref = _device_dabs(&b, dabs, 0.8f * 0.55f);
        int painted = 0;
        EXPECT_LE(_max_difference(got, _read(ref), &painted), 1) << "tip " << tip;
        EXPECT_GT(painted, 100) << "tip " << tip;
        al_destroy_bitmap(ref);
        brush_stroke_abort(&st, doc);
    }
}

/* Dabs of one tip whose strength changes in between, by the pointer's
 * speed or by the flow, each take their own strength. */
TEST_F(Brush, EachDabOfOneTipTakesItsOwnStrength) {
    BRUSH b = _hard_brush(9.0f);
    BRUSH_STROKE st = {};
    ASSERT_TRUE(brush_stroke_begin(&st, doc, &b, 20.0f, 20.0f, 1.0f, NULL));
    ASSERT_TRUE(_brush_dab(doc, &st, &b, 60.0f, 20.0f, 0.4f));
    b.flow = 0.25f;
    ASSERT_TRUE(_brush_dab(doc, &st, &b, 100.0f, 20.0f, 1.0f));
    Pixels got = _read(brush_stroke_buffer_shown());
    EXPECT_EQ(got.at(20, 20)[3], 255);
    EXPECT_EQ(got.at(60, 20)[3], 102) << "0.4 of 255";
    EXPECT_EQ(got.at(100, 20)[3], 64) << "0.25 of 255";
    brush_stroke_abort(&st, doc);
}

/* The spray's dots, placed as the pattern rule says and scaled so the paint
 * per dab does not grow with their number, land as the device drew them. */
TEST_F(Brush, SprayDotsMatchTheDevice) {
    BRUSH b;
    brush_defaults(&b);
    b.tip = BRUSH_TIP_SPRAY;
    b.size = 40.0f;
    b.flow = 0.9f;
    BRUSH_STROKE st = {};
    ASSERT_TRUE(brush_stroke_begin(&st, doc, &b, 50.5f, 40.25f, 1.0f, NULL));
    Pixels got = _read(brush_stroke_buffer_shown());
    BRUSH dot = b;
    dot.size = fmaxf(2.0f, 0.18f * b.size);
    dot.hardness = 0.0f;
    dot.tip = BRUSH_TIP_ROUND;
    float v = al_get_bitmap_width(_stamp_get(&dot)) / 2.0f, R = b.size / 2.0f;
    int n = (int)fminf(fmaxf(0.75f * R, 4.0f), 96.0f);
    float a = fminf(0.9f / fmaxf(0.001f, n * v * v / (R * R)), 1.0f);
    uint32_t h = (uint32_t)(int)floorf(50.5f / 2) * 0x9E3779B1u ^ (uint32_t)(int)floorf(40.25f / 2) * 0x85EBCA77u;
    h ^= h >> 16;
    h *= 0x7FEB352Du;
    uint32_t s = h ^ (h >> 15);
    auto next = [&s]() {
        s ^= s << 13;
        s ^= s >> 17;
        s ^= s << 5;
        return (float)(s >> 8) / 16777216.0f;
    };
    std::vector<std::pair<float, float>> dots;
    for (int i = 0; i < n; i++) {
        float r = sqrtf(next()), theta = next() * 6.2831855f;
        /* Centres whose rounded corner is the dot's top-left corner. */
        dots.push_back({floorf(50.5f + r * R * cosf(theta) - v + 0.5f) + v, floorf(40.25f + r * R * sinf(theta) - v + 0.5f) + v});
    }
    ALLEGRO_BITMAP* ref = _device_dabs(&dot, dots, a);
    int painted = 0;
    EXPECT_LE(_max_difference(got, _read(ref), &painted), 1);
    EXPECT_GT(painted, 50);
    al_destroy_bitmap(ref);
    brush_stroke_abort(&st, doc);
}

/* Two eraser segments over noise, soft and below full flow: each segment's
 * dabs go to the device together, and the layer ends as one erasing draw
 * per dab left it. */
TEST_F(Brush, BatchedEraserMatchesOneDrawPerDab) {
    test_paint_noise(layer, 5);
    Pixels before = _read(layer->bitmap);
    al_set_new_bitmap_flags(ALLEGRO_VIDEO_BITMAP);
    ALLEGRO_BITMAP* ref = al_clone_bitmap(layer->bitmap);
    BRUSH b;
    brush_defaults(&b);
    b.eraser = 1;
    b.size = 16.0f; /* step 4: dabs at every 4 px from the start */
    b.hardness = 0.5f;
    b.flow = 0.7f;
    BRUSH_STROKE st = {};
    ASSERT_TRUE(brush_stroke_begin(&st, doc, &b, 10.0f, 40.0f, 1.0f, NULL));
    ASSERT_TRUE(brush_stroke_segment(&st, doc, &b, 50.0f, 40.0f, 1.0f));
    ASSERT_TRUE(brush_stroke_segment(&st, doc, &b, 50.0f, 60.0f, 1.0f));
    ASSERT_TRUE(brush_stroke_end(&st, doc));
    ALLEGRO_BITMAP* previous = al_get_target_bitmap();
    al_set_target_bitmap(ref);
    al_set_separate_blender(ALLEGRO_ADD, ALLEGRO_ZERO, ALLEGRO_INVERSE_ALPHA, ALLEGRO_ADD, ALLEGRO_ZERO,
                            ALLEGRO_INVERSE_ALPHA);
    ALLEGRO_BITMAP* stamp = _stamp_get(&b);
    for (int i = 0; i <= 10; i++) al_draw_tinted_bitmap(stamp, al_map_rgba_f(0, 0, 0, 0.7f), 10 + 4 * i - 8, 32, 0);
    for (int i = 1; i <= 5; i++) al_draw_tinted_bitmap(stamp, al_map_rgba_f(0, 0, 0, 0.7f), 42, 40 + 4 * i - 8, 0);
    al_set_blender(ALLEGRO_ADD, ALLEGRO_ONE, ALLEGRO_INVERSE_ALPHA);
    al_set_target_bitmap(previous);
    Pixels got = _read(layer->bitmap), want = _read(ref);
    int painted = 0;
    EXPECT_LE(_max_difference(got, want, &painted), 1);
    int changed = 0;
    for (size_t i = 0; i < got.data.size(); i++) changed += got.data[i] != before.data[i];
    EXPECT_GT(changed, 1000);
    al_destroy_bitmap(ref);
}

TEST_F(Brush, AThousandPixelBrushPaintsAndErasesAThousandPixelBand) {
    document_free(&doc);
    doc = document_new(1800, 1300);
    ASSERT_NE(doc, nullptr);
    layer = document_add_layer(doc, "paint");
    ASSERT_NE(layer, nullptr);
    _fill_layer(layer, al_map_rgba(0, 0, 0, 0));
    BRUSH b = _hard_brush(1000.0f);
    BRUSH_STROKE s = {};
    /* Dabs every 250 px, at 500, 750, 1000 and 1250. */
    ASSERT_EQ(brush_stroke_begin(&s, doc, &b, 500, 650, 1.0f, NULL), 1);
    for (int x = 650; x <= 1250; x += 150) ASSERT_EQ(brush_stroke_segment(&s, doc, &b, (float)x, 650, 1.0f), 1);
    ASSERT_EQ(brush_stroke_end(&s, doc), 1);
    Pixels p = _read(layer->backup);
    auto painted = [&](int x, int y) { return p.at(x, y)[3] > 127; };
    int column = 0;
    for (int y = 0; y < p.h; y++) column += painted(1000, y);
    EXPECT_EQ(column, 1000);
    EXPECT_TRUE(painted(1000, 150) && painted(1000, 1149));
    EXPECT_FALSE(painted(1000, 149) || painted(1000, 1150));
    EXPECT_TRUE(painted(0, 650) && painted(1749, 650));
    EXPECT_FALSE(painted(1750, 650));
    EXPECT_EQ(p.at(1000, 650)[0], 255);
    /* Only the 7 x 5 tiles the dabs touch, of 8 x 6, are recorded. */
    UNDO_RECORD* r = (UNDO_RECORD*)doc->undo->undo_stack->end->ptr;
    EXPECT_EQ(r->tiles->nb_items, 35u);

    /* One eraser dab of the same size takes a 1000 px square out of it. */
    b.eraser = 1;
    ASSERT_EQ(brush_stroke_begin(&s, doc, &b, 900, 650, 1.0f, NULL), 1);
    ASSERT_EQ(brush_stroke_end(&s, doc), 1);
    p = _read(layer->backup);
    EXPECT_TRUE(painted(399, 650) && painted(1400, 650));
    EXPECT_FALSE(painted(400, 650) || painted(1399, 650) || painted(900, 150) || painted(900, 1149));
    EXPECT_EQ(undo_perform(doc), 1);
    EXPECT_EQ(undo_perform(doc), 1);
    p = _read(layer->backup);
    EXPECT_FALSE(painted(900, 650) || painted(100, 650));
}
