/* Compositor: the four blend equations and the opacity tint read back from
 * flattened regions, pending clears in frame drawing, and region edges. */
#include <allegro5/allegro_primitives.h>
#include <gtest/gtest.h>
#include <math.h>
#include <stdlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "canvas/brush.h"
#include "canvas/compositor.h"
#include "canvas/compositor_internal.h"
#include "canvas/document.h"
#include "canvas/undo.h"
#include "canvas/view.h"
#include "t_log.h"
#include "test_support.h"

namespace {

struct Px {
    float r, g, b, a; /* premultiplied, 0..255 */
};

// Fills a layer's video bitmap with one premultiplied colour given in bytes.
void _fill_layer(LAYER* layer, Px c) {
    ALLEGRO_BITMAP* target = al_get_target_bitmap();
    al_set_target_bitmap(layer->bitmap);
    al_clear_to_color(al_map_rgba((unsigned char)c.r, (unsigned char)c.g, (unsigned char)c.b, (unsigned char)c.a));
    al_set_target_bitmap(target);
    layer->needs_clear = 0;
}

// Expected premultiplied result of one blend mode, channels in 0..255.
Px _blend(int mode, Px s, Px d) {
    auto f = [&](float sc, float sa, float dc) -> float {
        float S = sc / 255.0f, A = sa / 255.0f, D = dc / 255.0f, r;
        switch (mode) {
            case 1: r = S * D + D * (1 - A); break;
            case 2: r = S + D * (1 - S); break;
            case 3: r = S + D; break;
            default: r = S + D * (1 - A); break;
        }
        return fminf(1.0f, r) * 255.0f;
    };
    return Px{f(s.r, s.a, d.r), f(s.g, s.a, d.g), f(s.b, s.a, d.b), f(s.a, s.a, d.a)};
}

Px _scaled(Px c, float o) { return Px{c.r * o, c.g * o, c.b * o, c.a * o}; }

void _expect_pixel(ALLEGRO_BITMAP* bmp, int x, int y, Px want, const std::string& what) {
    unsigned char got[4];
    test_pixel_rgba(bmp, x, y, got);
    EXPECT_NEAR(got[0], want.r, 1.01) << what << " red";
    EXPECT_NEAR(got[1], want.g, 1.01) << what << " green";
    EXPECT_NEAR(got[2], want.b, 1.01) << what << " blue";
    EXPECT_NEAR(got[3], want.a, 1.01) << what << " alpha";
}

class Compositor : public ::testing::Test {
  protected:
    DOCUMENT* doc = nullptr;
    void SetUp() override {
        ASSERT_NE(test_display(), nullptr);
        doc = document_new(32, 24);
        ASSERT_NE(doc, nullptr);
        doc->background = al_map_rgb(200, 100, 50);
    }
    void TearDown() override {
        if (doc) document_free(&doc);
    }
};

const Px kBackground{200, 100, 50, 255};
const Px kBase{60, 120, 30, 150};
const Px kTop{100, 40, 80, 160};

}  // namespace

TEST_F(Compositor, FourBlendModesWithOpacityTint) {
    LAYER* base = document_add_layer(doc, "base");
    LAYER* top = document_add_layer(doc, "top");
    ASSERT_TRUE(base && top);
    _fill_layer(base, kBase);
    _fill_layer(top, kTop);
    base->opacity = 0.8f;
    Px under = _blend(0, _scaled(kBase, 0.8f), kBackground);
    const int modes[] = {0, 1, 2, 3, 7};
    const float opacities[] = {1.0f, 0.6f, 0.25f};
    for (int mode : modes)
        for (float o : opacities) {
            top->blend = mode;
            top->opacity = o;
            ALLEGRO_BITMAP* out = compositor_flatten_region(doc, 0, 0, 32, 24, 1);
            ASSERT_NE(out, nullptr);
            EXPECT_EQ(al_get_bitmap_width(out), 32);
            EXPECT_EQ(al_get_bitmap_height(out), 24);
            EXPECT_TRUE(al_get_bitmap_flags(out) & ALLEGRO_VIDEO_BITMAP);
            _expect_pixel(out, 5, 7, _blend(mode, _scaled(kTop, o), under),
                          "mode " + std::to_string(mode) + " opacity " + std::to_string(o));
            al_destroy_bitmap(out);
        }
}

TEST_F(Compositor, OpacityAboveOneIsFullAndHiddenOrZeroIsSkipped) {
    LAYER* top = document_add_layer(doc, "top");
    _fill_layer(top, kTop);
    top->opacity = 3.0f;
    ALLEGRO_BITMAP* out = compositor_flatten_region(doc, 0, 0, 4, 4, 0);
    _expect_pixel(out, 1, 1, _blend(0, kTop, kBackground), "opacity 3");
    al_destroy_bitmap(out);
    top->opacity = 0.0f;
    out = compositor_flatten_region(doc, 0, 0, 4, 4, 0);
    _expect_pixel(out, 1, 1, kBackground, "opacity 0");
    al_destroy_bitmap(out);
    top->opacity = 1.0f;
    top->visible = 0;
    out = compositor_flatten_region(doc, 0, 0, 4, 4, 0);
    _expect_pixel(out, 1, 1, kBackground, "hidden");
    al_destroy_bitmap(out);
}

TEST_F(Compositor, RegionOffsetAndOutsideShowsBackground) {
    LAYER* layer = document_add_layer(doc, "l");
    _fill_layer(layer, Px{0, 0, 0, 0});
    /* One marked pixel at canvas (10, 5). */
    ALLEGRO_BITMAP* target = al_get_target_bitmap();
    al_set_target_bitmap(layer->bitmap);
    al_put_pixel(10, 5, al_map_rgba(0, 0, 255, 255));
    al_set_target_bitmap(target);
    ALLEGRO_BITMAP* out = compositor_flatten_region(doc, 8, 4, 40, 30, 0);
    ASSERT_NE(out, nullptr);
    _expect_pixel(out, 2, 1, Px{0, 0, 255, 255}, "moved pixel");
    _expect_pixel(out, 3, 1, kBackground, "layer elsewhere");
    _expect_pixel(out, 35, 25, kBackground, "outside the document");
    al_destroy_bitmap(out);
    /* The caller's target survives. */
    EXPECT_EQ(al_get_target_bitmap(), target);
}

TEST_F(Compositor, BadRegionFails) {
    test_log_capture_begin(LOG_DEBUG);
    EXPECT_EQ(compositor_flatten_region(doc, 0, 0, 0, 10, 1), nullptr);
    EXPECT_EQ(compositor_flatten_region(doc, 0, 0, 10, -2, 1), nullptr);
    EXPECT_EQ(compositor_flatten_region(NULL, 0, 0, 10, 10, 1), nullptr);
    std::string log = test_log_capture_end();
    EXPECT_NE(log.find("bad flatten region 0x10"), std::string::npos) << log;
    EXPECT_NE(log.find("bad flatten region 10x-2"), std::string::npos) << log;
    EXPECT_NE(log.find("if( !(doc) ) assert"), std::string::npos) << log;
}

TEST_F(Compositor, FrameClearsPendingLayersEvenWhenHidden) {
    LAYER* hidden = document_add_layer(doc, "hidden");
    LAYER* faint = document_add_layer(doc, "faint");
    _fill_layer(hidden, Px{255, 0, 0, 255});
    _fill_layer(faint, Px{0, 255, 0, 255});
    hidden->needs_clear = 1;
    hidden->visible = 0;
    faint->needs_clear = 1;
    faint->opacity = 0.0f;
    al_set_new_bitmap_flags(ALLEGRO_VIDEO_BITMAP);
    ALLEGRO_BITMAP* screen = al_create_bitmap(64, 48);
    ASSERT_NE(screen, nullptr);
    ALLEGRO_BITMAP* previous = al_get_target_bitmap();
    al_set_target_bitmap(screen);
    al_clear_to_color(al_map_rgb(0, 0, 0));
    VIEW view;
    view_init(&view);
    view_pan(&view, 10, 10);
    compositor_draw(doc, &view);
    /* The frame leaves the identity transform and the Normal blender. */
    const ALLEGRO_TRANSFORM* t = al_get_current_transform();
    EXPECT_FLOAT_EQ(t->m[3][0], 0.0f);
    EXPECT_FLOAT_EQ(t->m[3][1], 0.0f);
    int op, src, dst;
    al_get_blender(&op, &src, &dst);
    EXPECT_EQ(op, ALLEGRO_ADD);
    EXPECT_EQ(src, ALLEGRO_ONE);
    EXPECT_EQ(dst, ALLEGRO_INVERSE_ALPHA);
    al_set_target_bitmap(previous);
    EXPECT_EQ(hidden->needs_clear, 0);
    EXPECT_EQ(faint->needs_clear, 0);
    _expect_pixel(hidden->bitmap, 3, 3, Px{0, 0, 0, 0}, "hidden layer cleared");
    _expect_pixel(faint->bitmap, 3, 3, Px{0, 0, 0, 0}, "faint layer cleared");
    /* The paper is drawn through the view; outside it the screen is untouched. */
    _expect_pixel(screen, 20, 20, kBackground, "paper");
    _expect_pixel(screen, 5, 5, Px{0, 0, 0, 255}, "off the canvas");
    _expect_pixel(screen, 60, 40, Px{0, 0, 0, 255}, "past the canvas");
    al_destroy_bitmap(screen);
}

TEST_F(Compositor, FrameBlendsLikeExport) {
    LAYER* base = document_add_layer(doc, "base");
    LAYER* top = document_add_layer(doc, "top");
    _fill_layer(base, kBase);
    _fill_layer(top, kTop);
    top->blend = LAYER_BLEND_MULTIPLY;
    top->opacity = 0.5f;
    al_set_new_bitmap_flags(ALLEGRO_VIDEO_BITMAP);
    ALLEGRO_BITMAP* screen = al_create_bitmap(32, 24);
    ALLEGRO_BITMAP* previous = al_get_target_bitmap();
    al_set_target_bitmap(screen);
    VIEW view;
    view_init(&view);
    compositor_draw(doc, &view);
    al_set_target_bitmap(previous);
    Px want = _blend(1, _scaled(kTop, 0.5f), _blend(0, kBase, kBackground));
    _expect_pixel(screen, 12, 12, want, "frame multiply");
    al_destroy_bitmap(screen);
}

TEST_F(Compositor, DrawNeedsBothArguments) {
    VIEW view;
    view_init(&view);
    test_log_capture_begin(LOG_DEBUG);
    compositor_draw(NULL, &view);
    compositor_draw(doc, NULL);
    std::string log = test_log_capture_end();
    EXPECT_NE(log.find("if( !(doc) ) assert"), std::string::npos);
    EXPECT_NE(log.find("if( !(view) ) assert"), std::string::npos);
}

TEST_F(Compositor, TemplateOnlyWhenRequested) {
    document_free(&doc);
    doc = document_new(256, 256);
    ASSERT_NE(doc, nullptr);
    doc->background = al_map_rgb(255, 255, 255);
    doc->template_index = 1;
    ALLEGRO_BITMAP* with = compositor_flatten_region(doc, 0, 0, 256, 256, 1);
    ALLEGRO_BITMAP* without = compositor_flatten_region(doc, 0, 0, 256, 256, 0);
    ASSERT_TRUE(with && without);
    int tinted = 0, white = 1;
    ALLEGRO_LOCKED_REGION* a = al_lock_bitmap(with, ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE, ALLEGRO_LOCK_READONLY);
    ALLEGRO_LOCKED_REGION* b = al_lock_bitmap(without, ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE, ALLEGRO_LOCK_READONLY);
    ASSERT_TRUE(a && b);
    for (int y = 0; y < 256; y++)
        for (int x = 0; x < 256; x++) {
            const unsigned char* pa = (const unsigned char*)a->data + y * a->pitch + x * 4;
            const unsigned char* pb = (const unsigned char*)b->data + y * b->pitch + x * 4;
            if (pa[0] != 255 || pa[1] != 255 || pa[2] != 255) {
                tinted++;
                /* Template ink (70, 110, 160) at alpha 110 over white: blue dominates red. */
                EXPECT_LT(pa[0], pa[2]);
            }
            if (pb[0] != 255 || pb[1] != 255 || pb[2] != 255) white = 0;
        }
    al_unlock_bitmap(with);
    al_unlock_bitmap(without);
    EXPECT_GT(tinted, 0);
    EXPECT_EQ(white, 1);
    al_destroy_bitmap(with);
    al_destroy_bitmap(without);
}

namespace {

/* A 48 x 32 document of six noise layers, the third active, shown at 1:1
 * on a bitmap of its size, as the canvas shows it frame after frame. */
class CompositorFrames : public ::testing::Test {
  protected:
    DOCUMENT* doc = nullptr;
    ALLEGRO_BITMAP* screen = nullptr;
    VIEW view;
    LAYER* l[6] = {};
    void SetUp() override {
        ASSERT_NE(test_display(), nullptr);
        compositor_release();
        doc = document_new(48, 32);
        ASSERT_NE(doc, nullptr);
        for (int i = 0; i < 6; i++) {
            l[i] = document_add_layer(doc, NULL);
            ASSERT_NE(l[i], nullptr);
            test_paint_noise(l[i], 11 + i);
        }
        doc->active_layer = l[2];
        al_set_new_bitmap_flags(ALLEGRO_VIDEO_BITMAP);
        screen = al_create_bitmap(48, 32);
        ASSERT_NE(screen, nullptr);
        view_init(&view);
    }
    void TearDown() override {
        compositor_release();
        if (screen) al_destroy_bitmap(screen);
        if (doc) document_free(&doc);
    }
    // One frame on the screen bitmap, cleared first as the display is.
    void frame() {
        ALLEGRO_BITMAP* previous = al_get_target_bitmap();
        al_set_target_bitmap(screen);
        al_clear_to_color(al_map_rgb(40, 42, 46));
        compositor_draw(doc, &view);
        al_set_target_bitmap(previous);
    }
    // Largest channel difference between the last frame and the document
    // flattened afresh, inside the outermost rows and columns the border covers.
    int stale() {
        ALLEGRO_BITMAP* flat = compositor_flatten_region(doc, 0, 0, 48, 32, 1);
        std::vector<uint8_t> want = test_bitmap_bytes(flat), got = test_bitmap_bytes(screen);
        al_destroy_bitmap(flat);
        int worst = 0;
        for (int y = 1; y < 31; y++)
            for (int x = 1; x < 47; x++)
                for (int c = 0; c < 3; c++) {
                    size_t i = ((size_t)y * 48 + x) * 4 + c;
                    worst = std::max(worst, abs((int)want[i] - (int)got[i]));
                }
        return worst;
    }
};

}  // namespace

/* The frame keeps pictures of the layers below the active one and of the
 * whole canvas: a second frame of the same view builds them and a third
 * reuses them, and every change that alters what they show gets them drawn
 * again. They are drawn as a frame draws, so the pixels are the same. */
TEST_F(CompositorFrames, KeptPicturesFollowEveryChange) {
    frame();
    int builds = _compositor_picture_builds();
    frame();
    EXPECT_EQ(_compositor_picture_builds(), builds + 2);
    frame();
    EXPECT_EQ(_compositor_picture_builds(), builds + 2);
    EXPECT_EQ(stale(), 0);

    /* Each change comes after two frames have kept the pictures, and is
     * checked at the first frame after it and once the pictures are new. */
    auto check = [this](const char* what) {
        frame();
        EXPECT_EQ(stale(), 0) << what;
        frame();
        EXPECT_EQ(stale(), 0) << what << ", settled";
    };

    /* A stroke on the layer below, then its undo and redo while another is active. */
    BRUSH b;
    brush_defaults(&b);
    b.size = 10.0f;
    b.color = al_map_rgb(255, 255, 0);
    BRUSH_STROKE st = {};
    doc->active_layer = l[0];
    ASSERT_TRUE(brush_stroke_begin(&st, doc, &b, 10, 10, 1.0f, NULL));
    brush_stroke_segment(&st, doc, &b, 30, 20, 1.0f);
    ASSERT_TRUE(brush_stroke_end(&st, doc));
    doc->active_layer = l[2];
    check("stroke below");
    ASSERT_TRUE(undo_perform(doc));
    EXPECT_EQ(doc->active_layer, l[2]);
    check("undo below");
    ASSERT_TRUE(redo_perform(doc));
    check("redo below");

    l[0]->visible = 0;
    check("hidden below");
    l[0]->visible = 1;
    check("shown below");
    l[5]->visible = 0;
    check("hidden above");
    l[5]->visible = 1;
    check("shown above");
    l[2]->visible = 0;
    check("hidden active");
    l[2]->visible = 1;
    check("shown active");
    l[1]->blend = LAYER_BLEND_MULTIPLY;
    check("blend below");
    l[5]->blend = LAYER_BLEND_SCREEN;
    check("blend above");
    l[4]->opacity = 0.3f;
    check("opacity above");
    l[0]->opacity = 0.6f;
    check("opacity below");

    ASSERT_TRUE(document_move_layer(doc, 5, 0));
    check("move");
    LAYER* added = document_add_layer(doc, NULL);
    ASSERT_NE(added, nullptr);
    test_paint_noise(added, 99);
    doc->active_layer = l[2];
    check("add");
    int index = 0;
    ASSERT_TRUE(document_layer_index(doc, l[4], &index));
    LAYER* removed = document_detach_layer(doc, index);
    layer_free(&removed);
    check("delete");
    doc->template_index = 3;
    check("template");
}

/* A view that moves is drawn layer by layer, as before, and builds nothing:
 * a pan must never pay for pictures it throws away at the next frame. Back
 * at the view they show, the pictures are good again; a new view that stays
 * gets its own at its second frame. */
TEST_F(CompositorFrames, AMovingViewBuildsNothing) {
    frame();
    frame();
    int builds = _compositor_picture_builds();
    for (int i = 0; i < 3; i++) {
        view_pan(&view, 1.0f, 0.0f);
        frame();
    }
    EXPECT_EQ(_compositor_picture_builds(), builds);
    view_pan(&view, -3.0f, 0.0f);
    frame();
    EXPECT_EQ(_compositor_picture_builds(), builds);
    EXPECT_EQ(stale(), 0);
    view_pan(&view, 0.0f, 1.0f);
    frame();
    EXPECT_EQ(_compositor_picture_builds(), builds);
    frame();
    EXPECT_EQ(_compositor_picture_builds(), builds + 2);
}

/* The export's CPU flattening gives what the device's gives: noise layers at
 * several opacities (one above 1, one hidden) over the paper, on a region
 * that runs off the document, in every blend mode; it declines the template
 * lines the device draws. */
TEST_F(Compositor, BytesFlattenLikeTheDevice) {
    doc->background = al_map_rgb(255, 255, 255);
    const float opacity[4] = {1.0f, 0.37f, 3.0f, 0.8f};
    for (int i = 0; i < 4; i++) {
        LAYER* layer = document_add_layer(doc, NULL);
        test_paint_noise(layer, 40 + i);
        layer->opacity = opacity[i];
    }
    document_layer_at(doc, 2)->visible = 0;
    ALLEGRO_BITMAP* flat = compositor_flatten_region(doc, -3, 5, 30, 22, 1);
    uint8_t* bytes = compositor_flatten_region_bytes(doc, -3, 5, 30, 22, 1);
    ASSERT_NE(bytes, nullptr);
    std::vector<uint8_t> want = test_bitmap_bytes(flat);
    al_destroy_bitmap(flat);
    ASSERT_EQ(want.size(), (size_t)30 * 22 * 4);
    int worst = 0;
    for (size_t i = 0; i < want.size(); i++) worst = std::max(worst, abs((int)want[i] - (int)bytes[i]));
    EXPECT_LE(worst, 1);
    EXPECT_EQ(bytes[0], 255) << "paper left of the document";
    free(bytes);

    /* Paint on a texture that its backup does not have yet is flattened too. */
    LAYER* top = document_layer_at(doc, 3);
    ALLEGRO_BITMAP* previous = al_get_target_bitmap();
    al_set_target_bitmap(top->bitmap);
    al_draw_filled_rectangle(4, 6, 20, 15, al_map_rgba(0, 200, 0, 255));
    al_set_target_bitmap(previous);
    layer_touch(top);
    flat = compositor_flatten_region(doc, 0, 0, 32, 24, 1);
    bytes = compositor_flatten_region_bytes(doc, 0, 0, 32, 24, 1);
    ASSERT_NE(bytes, nullptr);
    want = test_bitmap_bytes(flat);
    al_destroy_bitmap(flat);
    worst = 0;
    for (size_t i = 0; i < want.size(); i++) worst = std::max(worst, abs((int)want[i] - (int)bytes[i]));
    EXPECT_LE(worst, 1) << "unsaved paint";
    free(bytes);

    doc->template_index = 2;
    EXPECT_EQ(compositor_flatten_region_bytes(doc, 0, 0, 8, 8, 1), nullptr);
    uint8_t* without = compositor_flatten_region_bytes(doc, 0, 0, 8, 8, 0);
    EXPECT_NE(without, nullptr);
    free(without);

    /* Every blend mode, on noise of every alpha over noise, at an opacity. */
    const int blends[3] = {LAYER_BLEND_MULTIPLY, LAYER_BLEND_SCREEN, LAYER_BLEND_ADD};
    for (int blend : blends) {
        document_layer_at(doc, 1)->blend = blend;
        document_layer_at(doc, 3)->blend = blend == LAYER_BLEND_ADD ? LAYER_BLEND_MULTIPLY : LAYER_BLEND_ADD;
        flat = compositor_flatten_region(doc, 2, -4, 28, 30, 0);
        bytes = compositor_flatten_region_bytes(doc, 2, -4, 28, 30, 0);
        ASSERT_NE(bytes, nullptr) << layer_blend_name(blend);
        want = test_bitmap_bytes(flat);
        al_destroy_bitmap(flat);
        worst = 0;
        for (size_t i = 0; i < want.size(); i++) worst = std::max(worst, abs((int)want[i] - (int)bytes[i]));
        EXPECT_LE(worst, 1) << layer_blend_name(blend);
        free(bytes);
    }
}
