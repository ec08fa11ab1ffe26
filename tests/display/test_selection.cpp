/* Floating selections on real layers: lifting rectangles and lassos, cancel,
 * commit (with symmetry copies) and its undo, delete, paste, clone, the
 * replacement of a float's bitmap and the overlay. */
#include <allegro5/allegro.h>
#include <allegro5/allegro_primitives.h>
#include <gtest/gtest.h>
#include <math.h>
#include <string.h>

#include <algorithm>
#include <vector>

#include "canvas/document.h"
#include "canvas/layer.h"
#include "canvas/selection.h"
#include "canvas/symmetry.h"
#include "canvas/undo.h"
#include "canvas/view.h"
#include "t_log.h"
#include "test_support.h"

namespace {

typedef std::vector<uint8_t> PIXELS;

// Whole bitmap as packed RGBA rows.
PIXELS snapshot(ALLEGRO_BITMAP* bitmap) {
    int w = al_get_bitmap_width(bitmap), h = al_get_bitmap_height(bitmap);
    PIXELS out((size_t)w * h * 4);
    ALLEGRO_LOCKED_REGION* lock = al_lock_bitmap(bitmap, ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE, ALLEGRO_LOCK_READONLY);
    if (!lock) return PIXELS();
    for (int y = 0; y < h; y++)
        memcpy(&out[(size_t)y * w * 4], (uint8_t*)lock->data + (intptr_t)y * lock->pitch, (size_t)w * 4);
    al_unlock_bitmap(bitmap);
    return out;
}

// A premultiplied, mostly translucent pixel unique enough to catch shifts.
void pattern_pixel(int x, int y, uint8_t* p) {
    int a = 100 + (x * 7 + y * 13) % 156;
    p[0] = (uint8_t)(x % (a + 1));
    p[1] = (uint8_t)(y % (a + 1));
    p[2] = (uint8_t)((x * 3 + y) % (a + 1));
    p[3] = (uint8_t)a;
}

const uint8_t* at(const PIXELS& px, int w, int x, int y) { return &px[((size_t)y * w + x) * 4]; }

bool is_clear(const uint8_t* p) { return p[0] == 0 && p[1] == 0 && p[2] == 0 && p[3] == 0; }

// Writes the pattern into a layer's backup and rebuilds its video bitmap, as
// if it had been painted and committed.
void paint_pattern(LAYER* layer) {
    ALLEGRO_BITMAP* b = layer->backup;
    int w = al_get_bitmap_width(b), h = al_get_bitmap_height(b);
    ALLEGRO_LOCKED_REGION* lock = al_lock_bitmap(b, ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE, ALLEGRO_LOCK_WRITEONLY);
    ASSERT_NE(lock, nullptr);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) pattern_pixel(x, y, (uint8_t*)lock->data + (intptr_t)y * lock->pitch + x * 4);
    al_unlock_bitmap(b);
    ASSERT_EQ(layer_restore(layer), 1);
}

// A solid memory bitmap in the raw format.
ALLEGRO_BITMAP* solid(int w, int h, ALLEGRO_COLOR colour) {
    int flags = al_get_new_bitmap_flags(), format = al_get_new_bitmap_format();
    al_set_new_bitmap_format(ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE);
    al_set_new_bitmap_flags(ALLEGRO_MEMORY_BITMAP);
    ALLEGRO_BITMAP* b = al_create_bitmap(w, h);
    al_set_new_bitmap_flags(flags);
    al_set_new_bitmap_format(format);
    if (!b) return NULL;
    ALLEGRO_BITMAP* old = al_get_target_bitmap();
    al_set_target_bitmap(b);
    al_clear_to_color(colour);
    al_set_target_bitmap(old);
    return b;
}

size_t undo_count(const DOCUMENT* doc) { return doc->undo->undo_stack->nb_items; }

class SelectionTest : public ::testing::Test {
protected:
    DOCUMENT* doc = NULL;
    LAYER* layer = NULL;
    SELECTION sel;
    PIXELS original;
    int W = 0, H = 0;

    void SetUp() override {
        selection_init(&sel);
        if (!test_display()) GTEST_SKIP() << "no display";
    }
    void TearDown() override {
        selection_discard(&sel);
        if (doc) document_free(&doc);
    }
    void make(int w, int h) {
        W = w;
        H = h;
        doc = document_new(w, h);
        ASSERT_NE(doc, nullptr);
        layer = document_add_layer(doc, NULL);
        ASSERT_NE(layer, nullptr);
        paint_pattern(layer);
        original = snapshot(layer->bitmap);
        ASSERT_FALSE(original.empty());
    }
    // Lifts the rectangle between two points; the lift's result.
    int lift(float x0, float y0, float x1, float y1) {
        selection_begin_marquee(&sel, x0, y0);
        selection_update_marquee(&sel, x1, y1);
        return selection_end_marquee(&sel, doc);
    }
    // Lifts a lasso through the given points.
    int lift_lasso(const std::vector<std::pair<float, float>>& pts) {
        selection_begin_lasso(&sel, pts[0].first, pts[0].second);
        for (size_t i = 1; i < pts.size(); i++) selection_add_lasso_point(&sel, pts[i].first, pts[i].second);
        return selection_end_marquee(&sel, doc);
    }
    // Pixels that differ between the layer now and the original.
    int changed_pixels(const PIXELS& now) {
        int n = 0;
        for (size_t i = 0; i < now.size(); i += 4)
            if (memcmp(&now[i], &original[i], 4) != 0) n++;
        return n;
    }
};

TEST_F(SelectionTest, MarqueeDraggedAnyWayLiftsTheSameRectangle) {
    make(200, 150);
    const float corners[4][4] = {
        {10.3f, 20.7f, 50.2f, 60.1f}, {50.2f, 60.1f, 10.3f, 20.7f}, {50.2f, 20.7f, 10.3f, 60.1f}, {10.3f, 60.1f, 50.2f, 20.7f}};
    for (const auto& c : corners) {
        ASSERT_EQ(lift(c[0], c[1], c[2], c[3]), 1);
        EXPECT_EQ(sel.state, SEL_FLOATING);
        EXPECT_TRUE(sel.lifted);
        EXPECT_EQ(sel.layer, layer);
        EXPECT_EQ(sel.x, 10);
        EXPECT_EQ(sel.y, 20);
        EXPECT_EQ(sel.w, 41);
        EXPECT_EQ(sel.h, 41);
        ASSERT_NE(sel.bitmap, nullptr);
        PIXELS piece = snapshot(sel.bitmap);
        PIXELS now = snapshot(layer->bitmap);
        for (int y = 0; y < 41; y++)
            for (int x = 0; x < 41; x++) {
                ASSERT_EQ(memcmp(at(piece, 41, x, y), at(original, W, x + 10, y + 20), 4), 0) << x << "," << y;
                ASSERT_TRUE(is_clear(at(now, W, x + 10, y + 20)));
            }
        EXPECT_EQ(changed_pixels(now), 41 * 41) << "only the rectangle is cut";
        selection_cancel(&sel);
        EXPECT_EQ(sel.state, SEL_NONE);
        EXPECT_EQ(sel.bitmap, nullptr);
    }
    EXPECT_EQ(undo_count(doc), 0u);
}

TEST_F(SelectionTest, MarqueeIsClippedToTheCanvas) {
    make(120, 80);
    ASSERT_EQ(lift(-20.5f, -10, 30, 40), 1);
    EXPECT_EQ(sel.x, 0);
    EXPECT_EQ(sel.y, 0);
    EXPECT_EQ(sel.w, 30);
    EXPECT_EQ(sel.h, 40);
    selection_cancel(&sel);
    ASSERT_EQ(lift(100, 70, 400, 400), 1);
    EXPECT_EQ(sel.x, 100);
    EXPECT_EQ(sel.y, 70);
    EXPECT_EQ(sel.w, 20);
    EXPECT_EQ(sel.h, 10);
    selection_cancel(&sel);
    EXPECT_EQ(changed_pixels(snapshot(layer->bitmap)), 0);

    /* Entirely outside, degenerate or absurd: nothing is lifted. */
    const float misses[5][4] = {
        {-50, -50, -10, -5}, {130, 10, 400, 50}, {10, 90, 50, 200}, {30, 30, 30, 60}, {-1e30f, -1e30f, 1e30f, NAN}};
    for (const auto& m : misses) {
        EXPECT_EQ(lift(m[0], m[1], m[2], m[3]), 0);
        EXPECT_EQ(sel.state, SEL_NONE);
        EXPECT_EQ(sel.bitmap, nullptr);
    }
    /* Huge but finite: the whole canvas. */
    ASSERT_EQ(lift(-1e30f, -1e30f, 1e30f, 1e30f), 1);
    EXPECT_EQ(sel.w, 120);
    EXPECT_EQ(sel.h, 80);
    selection_cancel(&sel);
    EXPECT_EQ(changed_pixels(snapshot(layer->bitmap)), 0);
    /* Ending without a selection being drawn lifts nothing. */
    EXPECT_EQ(selection_end_marquee(&sel, doc), 0);
}

TEST_F(SelectionTest, LassoCutsAnEvenOddMaskAndKeepsBothHalvesComplementary) {
    make(200, 200);
    /* A five-pointed star drawn in one line: its centre is outside by the
     * even-odd rule, its points inside. */
    std::vector<std::pair<float, float>> star;
    for (int i = 0; i < 5; i++) {
        double a = -M_PI / 2 + i * 4 * M_PI / 5;
        star.push_back({(float)(100 + 80 * cos(a)), (float)(100 + 80 * sin(a))});
    }
    ASSERT_EQ(lift_lasso(star), 1);
    EXPECT_EQ(sel.count, 5) << "the lasso is kept until the float ends";
    int x0 = sel.x, y0 = sel.y, w = sel.w, h = sel.h;
    EXPECT_EQ(x0, 23); /* the left point at 100 - 80 cos 18 degrees */
    EXPECT_EQ(y0, 20);
    PIXELS piece = snapshot(sel.bitmap);
    PIXELS now = snapshot(layer->bitmap);
    auto inside = [&](int x, int y) { return !is_clear(at(piece, w, x - x0, y - y0)); };
    EXPECT_FALSE(inside(100, 100)) << "the pentagon in the middle is outside";
    EXPECT_TRUE(inside(100, 30)) << "the top point";
    EXPECT_TRUE(inside(100, 70)) << "an arm between the centre and the top";
    EXPECT_FALSE(inside(x0 + 1, y0 + 1));
    EXPECT_EQ(memcmp(at(now, W, 100, 100), at(original, W, 100, 100), 4), 0);
    EXPECT_TRUE(is_clear(at(now, W, 100, 30)));
    int in = 0;
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            const uint8_t* p = at(piece, w, x, y);
            const uint8_t* q = at(now, W, x + x0, y + y0);
            const uint8_t* o = at(original, W, x + x0, y + y0);
            /* Exactly one of float and layer holds each original pixel. */
            ASSERT_TRUE((is_clear(p) && memcmp(q, o, 4) == 0) || (is_clear(q) && memcmp(p, o, 4) == 0)) << x << "," << y;
            in += !is_clear(p);
        }
    EXPECT_GT(in, 2000);
    selection_cancel(&sel);
    EXPECT_EQ(changed_pixels(snapshot(layer->bitmap)), 0);
    EXPECT_EQ(sel.points, nullptr);
}

TEST_F(SelectionTest, LassoPixelIsInsideWhenItsCentreIs) {
    make(64, 64);
    /* A square lasso on half-pixel edges: the pixels whose centres lie in
     * [9.5, 19.5) x [4.5, 14.5), columns 9..18 and rows 4..13. */
    ASSERT_EQ(lift_lasso({{9.5f, 4.5f}, {19.5f, 4.5f}, {19.5f, 14.5f}, {9.5f, 14.5f}}), 1);
    EXPECT_EQ(sel.x, 9);
    EXPECT_EQ(sel.y, 4);
    EXPECT_EQ(sel.w, 11);
    EXPECT_EQ(sel.h, 11);
    PIXELS now = snapshot(layer->bitmap);
    for (int y = 0; y < 64; y++)
        for (int x = 0; x < 64; x++) {
            bool cut = x >= 9 && x <= 18 && y >= 4 && y <= 13;
            ASSERT_EQ(is_clear(at(now, W, x, y)), cut) << x << "," << y;
        }
}

TEST_F(SelectionTest, LassoWithTooFewPointsLiftsNothing) {
    make(64, 64);
    EXPECT_EQ(lift_lasso({{5, 5}, {40, 40}}), 0);
    EXPECT_EQ(sel.state, SEL_NONE);
    EXPECT_EQ(sel.points, nullptr);
    /* The third point is too close to count. */
    EXPECT_EQ(lift_lasso({{5, 5}, {40, 40}, {41, 40.5f}}), 0);
    EXPECT_EQ(sel.state, SEL_NONE);
    EXPECT_EQ(changed_pixels(snapshot(layer->bitmap)), 0);
}

TEST_F(SelectionTest, LockedOrMissingLayersAreRefused) {
    make(64, 64);
    layer->locked = 1;
    EXPECT_EQ(lift(5, 5, 30, 30), 0);
    EXPECT_EQ(sel.state, SEL_NONE);
    EXPECT_EQ(lift_lasso({{5, 5}, {40, 5}, {20, 40}}), 0);
    EXPECT_EQ(sel.state, SEL_NONE);
    ALLEGRO_BITMAP* src = solid(8, 8, al_map_rgba(255, 0, 0, 255));
    ASSERT_NE(src, nullptr);
    EXPECT_EQ(selection_paste(&sel, doc, src, 4, 4), 0);
    EXPECT_EQ(sel.state, SEL_NONE);
    EXPECT_EQ(changed_pixels(snapshot(layer->bitmap)), 0);

    /* A refused paste leaves the current float alone. */
    layer->locked = 0;
    ASSERT_EQ(lift(5, 5, 30, 30), 1);
    layer->locked = 1;
    EXPECT_EQ(selection_paste(&sel, doc, src, 4, 4), 0);
    EXPECT_EQ(sel.state, SEL_FLOATING);
    EXPECT_TRUE(sel.lifted);
    selection_cancel(&sel);

    doc->active_layer = NULL;
    EXPECT_EQ(lift(5, 5, 30, 30), 0);
    EXPECT_EQ(selection_paste(&sel, doc, src, 4, 4), 0);
    selection_begin_marquee(&sel, 1, 1);
    selection_update_marquee(&sel, 9, 9);
    EXPECT_EQ(selection_end_marquee(&sel, NULL), 0);
    EXPECT_EQ(sel.state, SEL_NONE);
    doc->active_layer = layer;
    al_destroy_bitmap(src);
    EXPECT_EQ(undo_count(doc), 0u);
}

TEST_F(SelectionTest, CancelRestoresTheLayerExactlyWithoutAnUndoStep) {
    make(300, 300);
    ASSERT_EQ(lift(17, 33, 201, 150), 1);
    selection_drag_begin(&sel, SELECTION_HANDLE_MOVE, 50, 50);
    selection_drag_update(&sel, 90, 71, false);
    sel.rotation = 0.4f;
    sel.scale_x = 1.7f;
    selection_cancel(&sel);
    EXPECT_EQ(sel.state, SEL_NONE);
    EXPECT_EQ(snapshot(layer->bitmap), original);
    EXPECT_EQ(snapshot(layer->backup), original);
    EXPECT_EQ(undo_count(doc), 0u);
    EXPECT_EQ(doc->undo->open, 0);

    /* A pasted float leaves nothing behind when cancelled. */
    ALLEGRO_BITMAP* src = solid(20, 20, al_map_rgba(0, 0, 255, 255));
    ASSERT_EQ(selection_paste(&sel, doc, src, 10, 10), 1);
    selection_cancel(&sel);
    EXPECT_EQ(snapshot(layer->bitmap), original);
    al_destroy_bitmap(src);
}

TEST_F(SelectionTest, StartingOverPutsLiftedPixelsBack) {
    make(128, 128);
    ASSERT_EQ(lift(10, 10, 60, 50), 1);
    selection_nudge(&sel, 30, 30);
    selection_begin_marquee(&sel, 0, 0);
    EXPECT_EQ(sel.state, SEL_SELECTING);
    EXPECT_EQ(snapshot(layer->bitmap), original);
    selection_discard(&sel);

    ASSERT_EQ(lift_lasso({{5, 5}, {70, 8}, {30, 60}}), 1);
    selection_begin_lasso(&sel, 1, 1);
    EXPECT_EQ(snapshot(layer->bitmap), original);
    selection_discard(&sel);

    ASSERT_EQ(lift(10, 10, 60, 50), 1);
    ALLEGRO_BITMAP* src = solid(8, 8, al_map_rgba(0, 0, 255, 255));
    ASSERT_EQ(selection_paste(&sel, doc, src, 100, 100), 1);
    al_destroy_bitmap(src);
    EXPECT_EQ(snapshot(layer->bitmap), original);
    EXPECT_EQ(undo_count(doc), 0u);
}

TEST_F(SelectionTest, CommitOfAnUnmovedFloatIsStillOneUndoStep) {
    make(600, 300);
    ASSERT_EQ(lift(250, 10, 270, 40), 1); /* spans tile columns 0 and 1 */
    EXPECT_TRUE(selection_is_identity(&sel));
    EXPECT_EQ(undo_count(doc), 0u);
    EXPECT_EQ(selection_commit(&sel, doc, NULL), 1);
    EXPECT_EQ(sel.state, SEL_NONE);
    EXPECT_EQ(sel.bitmap, nullptr);
    EXPECT_EQ(snapshot(layer->bitmap), original);
    EXPECT_EQ(snapshot(layer->backup), original);
    ASSERT_EQ(undo_count(doc), 1u);
    UNDO_RECORD* record = (UNDO_RECORD*)doc->undo->undo_stack->end->ptr;
    EXPECT_EQ(record->layer, layer);
    EXPECT_EQ(record->tiles->nb_items, 2u);
    EXPECT_EQ(doc->active_layer, layer);

    /* A float ending on a tile boundary records no tile beyond it. */
    ASSERT_EQ(lift(256, 0, 512, 256), 1);
    EXPECT_EQ(selection_commit(&sel, doc, NULL), 1);
    ASSERT_EQ(undo_count(doc), 2u);
    record = (UNDO_RECORD*)doc->undo->undo_stack->end->ptr;
    ASSERT_EQ(record->tiles->nb_items, 1u);
    UNDO_TILE* tile = (UNDO_TILE*)record->tiles->start->ptr;
    EXPECT_EQ(tile->x, 256);
    EXPECT_EQ(tile->y, 0);
    EXPECT_EQ(snapshot(layer->bitmap), original);
}

TEST_F(SelectionTest, CommitMovesThePixelsAndUndoPutsThemBack) {
    make(300, 200);
    LAYER* top = document_add_layer(doc, NULL);
    ASSERT_NE(top, nullptr);
    doc->active_layer = layer;
    ASSERT_EQ(lift(20, 30, 60, 50), 1);
    doc->active_layer = top; /* the float stays with the layer it came from */
    selection_drag_begin(&sel, SELECTION_HANDLE_MOVE, 30, 35);
    selection_drag_update(&sel, 130, 135, false);
    selection_drag_end(&sel);
    EXPECT_EQ(selection_commit(&sel, doc, NULL), 1);
    EXPECT_EQ(doc->active_layer, top);
    PIXELS now = snapshot(layer->bitmap);
    for (int y = 0; y < 20; y++)
        for (int x = 0; x < 40; x++) {
            /* Laid over what was there. */
            const uint8_t* s = at(original, W, 20 + x, 30 + y);
            const uint8_t* d = at(original, W, 120 + x, 130 + y);
            const uint8_t* o = at(now, W, 120 + x, 130 + y);
            for (int c = 0; c < 4; c++)
                ASSERT_NEAR(o[c], s[c] + d[c] * (255 - s[3]) / 255.0, 1.0) << x << "," << y << " channel " << c;
            ASSERT_TRUE(is_clear(at(now, W, 20 + x, 30 + y)));
        }
    EXPECT_EQ(snapshot(layer->backup), now) << "the backup follows the commit";
    EXPECT_EQ(undo_count(doc), 1u);
    ASSERT_EQ(undo_perform(doc), 1);
    EXPECT_EQ(snapshot(layer->bitmap), original);
    EXPECT_EQ(snapshot(layer->backup), original);
    ASSERT_EQ(redo_perform(doc), 1);
    EXPECT_EQ(snapshot(layer->bitmap), now);
}

TEST_F(SelectionTest, CommitDrawsTheTransformedFloat) {
    make(200, 200);
    ALLEGRO_BITMAP* src = solid(20, 10, al_map_rgba(255, 0, 0, 255));
    ASSERT_EQ(selection_paste(&sel, doc, src, 50, 50), 1);
    al_destroy_bitmap(src);
    /* Stretched to 40 x 10 about its centre (60, 55), then turned upright:
     * columns 55..64, rows 35..74. */
    sel.scale_x = 2.0f;
    sel.rotation = (float)M_PI / 2;
    EXPECT_EQ(selection_commit(&sel, doc, NULL), 1);
    PIXELS now = snapshot(layer->bitmap);
    const uint8_t red[4] = {255, 0, 0, 255};
    EXPECT_EQ(memcmp(at(now, W, 57, 37), red, 4), 0);
    EXPECT_EQ(memcmp(at(now, W, 63, 73), red, 4), 0);
    const int outside[4][2] = {{52, 55}, {67, 55}, {60, 32}, {60, 78}};
    for (const auto& o : outside)
        EXPECT_EQ(memcmp(at(now, W, o[0], o[1]), at(original, W, o[0], o[1]), 4), 0) << o[0] << "," << o[1];
}

TEST_F(SelectionTest, SymmetricFloatIsStampedPerImageAndRadialStopsAtSixteen) {
    make(512, 512);
    SYMMETRY sym;
    symmetry_init(&sym, doc); /* centre (256, 256) */
    ALLEGRO_BITMAP* src = solid(6, 6, al_map_rgba(0, 255, 0, 255));
    ASSERT_NE(src, nullptr);
    const uint8_t green[4] = {0, 255, 0, 255};

    /* Without the flag the symmetry is ignored. */
    sym.mode = SYMMETRY_XY;
    ASSERT_EQ(selection_paste(&sel, doc, src, 97, 47), 1); /* centre (100, 50) */
    EXPECT_EQ(selection_commit(&sel, doc, &sym), 1);
    PIXELS now = snapshot(layer->bitmap);
    EXPECT_EQ(memcmp(at(now, W, 100, 50), green, 4), 0);
    EXPECT_NE(memcmp(at(now, W, 412, 50), green, 4), 0);
    EXPECT_EQ(changed_pixels(now), 36);

    ASSERT_EQ(selection_paste(&sel, doc, src, 97, 47), 1);
    sel.symmetric = true;
    EXPECT_EQ(selection_commit(&sel, doc, &sym), 1);
    now = snapshot(layer->bitmap);
    EXPECT_EQ(memcmp(at(now, W, 412, 50), green, 4), 0);
    EXPECT_EQ(memcmp(at(now, W, 100, 462), green, 4), 0);
    EXPECT_EQ(memcmp(at(now, W, 412, 462), green, 4), 0);
    EXPECT_EQ(changed_pixels(now), 4 * 36);

    ASSERT_EQ(undo_perform(doc), 1);
    ASSERT_EQ(undo_perform(doc), 1);
    EXPECT_EQ(snapshot(layer->bitmap), original);

    /* Twenty slices ask for nineteen images; sixteen copies are made. */
    sym.mode = SYMMETRY_RADIAL;
    sym.segments = 20;
    ASSERT_EQ(selection_paste(&sel, doc, src, 253, 53), 1); /* centre (256, 56), 200 px up */
    sel.symmetric = true;
    EXPECT_EQ(selection_commit(&sel, doc, &sym), 1);
    now = snapshot(layer->bitmap);
    for (int k = 0; k < 16; k++) {
        double a = k * 2 * M_PI / 16;
        int x = (int)floor(256 + 200 * sin(a)), y = (int)floor(256 - 200 * cos(a));
        EXPECT_EQ(memcmp(at(now, W, x, y), green, 4), 0) << "copy " << k << " at " << x << "," << y;
    }
    for (int k = 1; k < 20; k++) {
        if (k * 16 % 20 == 0) continue; /* shared with a sixteenth */
        double a = k * 2 * M_PI / 20;
        int x = (int)floor(256 + 200 * sin(a)), y = (int)floor(256 - 200 * cos(a));
        EXPECT_EQ(memcmp(at(now, W, x, y), at(original, W, x, y), 4), 0) << "no twentieth " << k;
    }
    ASSERT_EQ(undo_perform(doc), 1);
    EXPECT_EQ(snapshot(layer->bitmap), original) << "one step covers every copy";
    al_destroy_bitmap(src);
}

TEST_F(SelectionTest, CommitWithoutAFloatOrDocumentResets) {
    make(64, 64);
    EXPECT_EQ(selection_commit(&sel, doc, NULL), 0);
    selection_begin_marquee(&sel, 1, 1);
    EXPECT_EQ(selection_commit(&sel, doc, NULL), 0);
    EXPECT_EQ(sel.state, SEL_NONE);
    ASSERT_EQ(lift(4, 4, 20, 20), 1);
    test_log_capture_begin(LOG_DEBUG);
    EXPECT_EQ(selection_commit(&sel, NULL, NULL), 0);
    std::string log = test_log_capture_end();
    EXPECT_NE(log.find("if( !(doc) ) assert"), std::string::npos);
    EXPECT_EQ(sel.state, SEL_NONE);
    EXPECT_EQ(sel.bitmap, nullptr);
    EXPECT_EQ(undo_count(doc), 0u);
}

TEST_F(SelectionTest, CommitRefusesALayerThatLeftTheDocument) {
    make(64, 64);
    ASSERT_EQ(lift(4, 4, 20, 20), 1);
    int index = -1;
    ASSERT_EQ(document_layer_index(doc, layer, &index), 1);
    LAYER* gone = document_detach_layer(doc, index);
    ASSERT_EQ(gone, layer);
    EXPECT_EQ(selection_commit(&sel, doc, NULL), 0);
    EXPECT_EQ(sel.state, SEL_NONE);
    EXPECT_EQ(undo_count(doc), 0u);
    layer_free(&gone);
    layer = NULL;
}

TEST_F(SelectionTest, CommitOrDeleteWhileAnotherChangeIsOpenKeepsTheFloat) {
    make(64, 64);
    ASSERT_EQ(lift(4, 4, 20, 20), 1);
    selection_nudge(&sel, 30, 30);
    PIXELS lifted = snapshot(layer->bitmap);
    ASSERT_EQ(undo_begin(doc), 1); /* someone else's change */
    undo_mark_dirty_rect(doc, 0, 0, 1, 1);
    EXPECT_EQ(selection_commit(&sel, doc, NULL), 0);
    EXPECT_EQ(doc->undo->open, 1) << "the other change stays open";
    EXPECT_EQ(sel.state, SEL_FLOATING) << "the float waits";
    EXPECT_EQ(snapshot(layer->bitmap), lifted) << "nothing is laid down unrecorded";
    EXPECT_EQ(selection_delete(&sel, doc), 0);
    EXPECT_EQ(sel.state, SEL_FLOATING);
    undo_abort(doc);
    EXPECT_EQ(undo_count(doc), 0u);
    EXPECT_EQ(selection_commit(&sel, doc, NULL), 1);
    EXPECT_EQ(undo_count(doc), 1u);
    EXPECT_EQ(snapshot(layer->backup), snapshot(layer->bitmap)) << "what is shown is what is stored";
    EXPECT_NE(snapshot(layer->bitmap), original);
}

TEST_F(SelectionTest, DeleteMakesALiftedHolePermanentAndDropsAPaste) {
    make(300, 300);
    ASSERT_EQ(lift(10, 10, 40, 40), 1);
    selection_nudge(&sel, 100, 100);
    EXPECT_EQ(selection_delete(&sel, doc), 1);
    EXPECT_EQ(sel.state, SEL_NONE);
    PIXELS now = snapshot(layer->bitmap);
    EXPECT_EQ(changed_pixels(now), 30 * 30);
    EXPECT_EQ(snapshot(layer->backup), now);
    EXPECT_EQ(undo_count(doc), 1u);
    ASSERT_EQ(undo_perform(doc), 1);
    EXPECT_EQ(snapshot(layer->bitmap), original);

    ALLEGRO_BITMAP* src = solid(20, 20, al_map_rgba(0, 0, 255, 255));
    ASSERT_EQ(selection_paste(&sel, doc, src, 10, 10), 1);
    EXPECT_EQ(selection_delete(&sel, doc), 0);
    EXPECT_EQ(sel.state, SEL_NONE);
    EXPECT_EQ(snapshot(layer->bitmap), original);
    EXPECT_EQ(undo_count(doc), 0u);
    EXPECT_EQ(selection_delete(&sel, doc), 0);
    al_destroy_bitmap(src);
}

TEST_F(SelectionTest, PasteClampsThePositionAndKeepsTheSize) {
    make(120, 80);
    ALLEGRO_BITMAP* src = solid(200, 100, al_map_rgba(10, 20, 30, 255));
    ASSERT_EQ(selection_paste(&sel, doc, src, -50, 500), 1);
    EXPECT_EQ(sel.state, SEL_FLOATING);
    EXPECT_EQ(sel.x, 0);
    EXPECT_EQ(sel.y, 79);
    EXPECT_EQ(sel.w, 200);
    EXPECT_EQ(sel.h, 100);
    EXPECT_FALSE(sel.lifted);
    EXPECT_FALSE(sel.lasso);
    EXPECT_EQ(sel.source_kind, -1);
    EXPECT_EQ(sel.layer, layer);
    EXPECT_NE(sel.bitmap, src);
    al_destroy_bitmap(src); /* the float holds its own copy */
    unsigned char px[4];
    test_pixel_rgba(sel.bitmap, 199, 99, px);
    EXPECT_EQ(px[0], 10);
    EXPECT_EQ(px[3], 255);
    EXPECT_EQ(selection_commit(&sel, doc, NULL), 1);
    PIXELS now = snapshot(layer->bitmap);
    EXPECT_EQ(at(now, W, 119, 79)[2], 30);
    EXPECT_EQ(memcmp(at(now, W, 119, 78), at(original, W, 119, 78), 4), 0);

    /* Pasting the float onto itself works from a copy. */
    ALLEGRO_BITMAP* one = solid(4, 4, al_map_rgba(255, 255, 255, 255));
    ASSERT_EQ(selection_paste(&sel, doc, one, 5, 5), 1);
    al_destroy_bitmap(one);
    EXPECT_EQ(selection_paste(&sel, doc, sel.bitmap, 9, 9), 1);
    EXPECT_EQ(sel.x, 9);
    test_pixel_rgba(sel.bitmap, 3, 3, px);
    EXPECT_EQ(px[0], 255);
}

TEST_F(SelectionTest, CopyAndThreePastesStepDiagonally) {
    make(300, 300);
    ASSERT_EQ(lift(40, 30, 56, 46), 1);
    PIXELS piece = snapshot(sel.bitmap);
    ALLEGRO_BITMAP* clip = selection_clone_float(&sel);
    ASSERT_NE(clip, nullptr);
    EXPECT_TRUE(al_get_bitmap_flags(clip) & ALLEGRO_MEMORY_BITMAP);
    EXPECT_EQ(snapshot(clip), piece);
    int clip_x = 0, clip_y = 0;
    ASSERT_EQ(selection_get_position(&sel, &clip_x, &clip_y), 1);
    EXPECT_EQ(clip_x, 40);
    EXPECT_EQ(clip_y, 30);
    selection_cancel(&sel);
    /* Pasted onto a fresh layer, so the pieces are not mixed with the pattern. */
    LAYER* pasted = document_add_layer(doc, NULL);
    ASSERT_NE(pasted, nullptr);
    for (int i = 1; i <= 3; i++) {
        if (sel.state == SEL_FLOATING) {
            ASSERT_EQ(selection_commit(&sel, doc, NULL), 1);
        }
        ASSERT_EQ(selection_paste(&sel, doc, clip, clip_x + 16, clip_y + 16), 1);
        ASSERT_EQ(selection_get_position(&sel, &clip_x, &clip_y), 1);
        EXPECT_EQ(clip_x, 40 + 16 * i);
        EXPECT_EQ(clip_y, 30 + 16 * i);
    }
    ASSERT_EQ(selection_commit(&sel, doc, NULL), 1);
    EXPECT_EQ(undo_count(doc), 3u);
    PIXELS now = snapshot(pasted->bitmap);
    for (int i = 1; i <= 3; i++)
        for (int y = 0; y < 16; y++)
            for (int x = 0; x < 16; x++)
                ASSERT_EQ(memcmp(at(now, W, 40 + 16 * i + x, 30 + 16 * i + y), at(piece, 16, x, y), 4), 0) << i;
    EXPECT_TRUE(is_clear(at(now, W, 40 + 15, 30 + 15)));
    EXPECT_TRUE(is_clear(at(now, W, 40 + 64, 30 + 64)));

    /* A half-pixel move is remembered one pixel further each way. */
    ASSERT_EQ(lift(40, 30, 56, 46), 1);
    selection_nudge(&sel, 0.5f, -0.5f);
    ASSERT_EQ(selection_get_position(&sel, &clip_x, &clip_y), 1);
    EXPECT_EQ(clip_x, 41);
    EXPECT_EQ(clip_y, 29);
    selection_discard(&sel);
    EXPECT_EQ(selection_clone_float(&sel), nullptr);
    EXPECT_EQ(snapshot(clip), piece) << "the clipboard image is independent of the float";
    al_destroy_bitmap(clip);
}

TEST_F(SelectionTest, ResampleKeepsCentreAndShownSizeAndRestyleKeepsTheScale) {
    make(300, 300);
    ALLEGRO_BITMAP* src = solid(40, 20, al_map_rgba(255, 0, 0, 255));
    ASSERT_EQ(selection_paste(&sel, doc, src, 100, 100), 1);
    al_destroy_bitmap(src);
    sel.scale_x = 2.0f;
    sel.offset_x = 5.0f;
    float cx, cy;
    selection_get_center(&sel, &cx, &cy);

    ALLEGRO_BITMAP* big = solid(80, 40, al_map_rgba(0, 255, 0, 255));
    ASSERT_EQ(selection_resample_float(&sel, big), 1);
    EXPECT_EQ(sel.bitmap, big);
    EXPECT_EQ(sel.w, 80);
    EXPECT_EQ(sel.h, 40);
    EXPECT_FLOAT_EQ(sel.scale_x, 1.0f);
    EXPECT_FLOAT_EQ(sel.scale_y, 0.5f);
    float nx, ny;
    selection_get_center(&sel, &nx, &ny);
    EXPECT_FLOAT_EQ(nx, cx);
    EXPECT_FLOAT_EQ(ny, cy);

    ALLEGRO_BITMAP* wide = solid(60, 10, al_map_rgba(0, 0, 255, 255));
    ASSERT_EQ(selection_restyle_float(&sel, wide), 1);
    EXPECT_EQ(sel.w, 60);
    EXPECT_FLOAT_EQ(sel.scale_x, 1.0f);
    EXPECT_FLOAT_EQ(sel.scale_y, 0.5f);
    selection_get_center(&sel, &nx, &ny);
    EXPECT_FLOAT_EQ(nx, cx);
    EXPECT_FLOAT_EQ(ny, cy);

    /* A handle drag in progress goes on against the new size. */
    sel.dragging = true;
    selection_drag_begin(&sel, SELECTION_HANDLE_LEFT, 0, 0);
    ALLEGRO_BITMAP* wider = solid(90, 10, al_map_rgba(0, 0, 255, 255));
    ASSERT_EQ(selection_restyle_float(&sel, wider), 1);
    EXPECT_FLOAT_EQ(sel.anchor_local_x, 90.0f);
    EXPECT_FLOAT_EQ(sel.anchor_local_y, 5.0f);
    sel.dragging = false;

    /* A lifted float cannot be replaced; the caller keeps src. */
    EXPECT_EQ(selection_commit(&sel, doc, NULL), 1);
    ASSERT_EQ(lift(10, 10, 30, 30), 1);
    ALLEGRO_BITMAP* other = solid(8, 8, al_map_rgba(0, 0, 255, 255));
    EXPECT_EQ(selection_resample_float(&sel, other), 0);
    EXPECT_EQ(selection_restyle_float(&sel, other), 0);
    EXPECT_NE(sel.bitmap, other);
    EXPECT_EQ(selection_resample_float(&sel, sel.bitmap), 0);
    al_destroy_bitmap(other);
}

TEST_F(SelectionTest, OverlayShowsTheFloatFrameAndHandles) {
    make(200, 200);
    int flags = al_get_new_bitmap_flags(), format = al_get_new_bitmap_format();
    al_set_new_bitmap_format(ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE);
    al_set_new_bitmap_flags(ALLEGRO_VIDEO_BITMAP);
    ALLEGRO_BITMAP* screen = al_create_bitmap(300, 300);
    al_set_new_bitmap_flags(flags);
    al_set_new_bitmap_format(format);
    ASSERT_NE(screen, nullptr);
    VIEW view;
    view_init(&view);
    view_pan(&view, 20, 10);
    ALLEGRO_BITMAP* old = al_get_target_bitmap();

    ALLEGRO_BITMAP* src = solid(40, 40, al_map_rgba(255, 0, 0, 255));
    ASSERT_EQ(selection_paste(&sel, doc, src, 60, 80), 1);
    al_destroy_bitmap(src);
    sel.offset_x = 10; /* screen rectangle (90, 90) to (130, 130) */
    al_set_target_bitmap(screen);
    al_clear_to_color(al_map_rgba(0, 0, 0, 255));
    selection_draw(&sel, doc, &view);
    al_set_target_bitmap(old);
    unsigned char px[4];
    test_pixel_rgba(screen, 110, 110, px);
    EXPECT_EQ(px[0], 255) << "the float";
    EXPECT_EQ(px[1], 0);
    test_pixel_rgba(screen, 87, 87, px); /* top-left handle, off the frame: accent */
    EXPECT_NEAR(px[0], 81, 3);
    EXPECT_NEAR(px[1], 135, 3);
    EXPECT_NEAR(px[2], 207, 3);
    test_pixel_rgba(screen, 110, 60, px); /* rotate handle, 30 px above the top */
    EXPECT_NEAR(px[2], 207, 3);
    unsigned char px2[4];
    test_pixel_rgba(screen, 109, 75, px); /* the line to it: light */
    test_pixel_rgba(screen, 110, 75, px2);
    EXPECT_GT(std::max(px[0], px2[0]), 150);
    test_pixel_rgba(screen, 150, 150, px);
    EXPECT_EQ(px[0], 0);
    EXPECT_EQ(px[2], 0);

    /* A marquee being drawn: its outline only. */
    selection_begin_marquee(&sel, 100.5f, 100.5f);
    selection_update_marquee(&sel, 150.5f, 140.5f);
    al_set_target_bitmap(screen);
    al_clear_to_color(al_map_rgba(0, 0, 0, 255));
    ALLEGRO_TRANSFORM before;
    al_copy_transform(&before, al_get_current_transform());
    selection_draw(&sel, doc, &view);
    ALLEGRO_TRANSFORM after;
    al_copy_transform(&after, al_get_current_transform());
    al_set_target_bitmap(old);
    EXPECT_EQ(memcmp(&before, &after, sizeof(before)), 0) << "the target's transform is left alone";
    test_pixel_rgba(screen, 140, 110, px); /* on the top edge at y = 110.5 */
    EXPECT_GT(px[0], 150);
    test_pixel_rgba(screen, 140, 130, px);
    EXPECT_EQ(px[0], 0);

    /* A lasso being drawn. */
    selection_begin_lasso(&sel, 50, 50);
    selection_add_lasso_point(&sel, 150, 50);
    selection_add_lasso_point(&sel, 100, 150);
    al_set_target_bitmap(screen);
    al_clear_to_color(al_map_rgba(0, 0, 0, 255));
    selection_draw(&sel, doc, &view);
    al_set_target_bitmap(old);
    test_pixel_rgba(screen, 120, 59, px); /* on the first edge at y = 60 */
    test_pixel_rgba(screen, 120, 60, px2);
    EXPECT_GT(std::max(px[0], px2[0]), 150);
    test_pixel_rgba(screen, 120, 100, px);
    EXPECT_EQ(px[0], 0);
    al_destroy_bitmap(screen);
}

}  // namespace
