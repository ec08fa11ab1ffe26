/* Icon faces: the smallest and empty sizes, refused arguments, the frame
 * alone for ids without a glyph, the glyph kept square and centred on a wide
 * button, per-state colours and exact glyph pixels, the caller's drawing
 * state, and rendering again after a destroy. */
#include <gtest/gtest.h>

#include <allegro5/allegro_primitives.h>
#include <string.h>

#include <string>
#include <vector>

#include "gui/icons.h"
#include "t_log.h"
#include "test_support.h"

namespace {

/* Opaque theme colours per state: bg, border, text. */
const int BG[3][3] = {{40, 40, 40}, {60, 20, 90}, {10, 90, 30}};
const int BORDER[3][3] = {{200, 30, 30}, {30, 30, 200}, {120, 120, 0}};
const int TEXT[3][3] = {{250, 240, 10}, {10, 240, 250}, {250, 10, 240}};

T_GUI_STYLE make_theme() {
    T_GUI_STYLE t = t_gui_default_style();
    ALLEGRO_COLOR* slots[3][3] = {{&t.bg_normal, &t.border_normal, &t.text_normal},
                                  {&t.bg_hover, &t.border_hover, &t.text_hover},
                                  {&t.bg_active, &t.border_active, &t.text_active}};
    for (int i = 0; i < 3; i++) {
        const int* rgb[3] = {BG[i], BORDER[i], TEXT[i]};
        for (int k = 0; k < 3; k++) *slots[i][k] = al_map_rgb(rgb[k][0], rgb[k][1], rgb[k][2]);
    }
    t.border_thickness = 2;
    t.corner_rx = t.corner_ry = 4;
    return t;
}

::testing::AssertionResult pixel_is(ALLEGRO_BITMAP* bmp, int x, int y, const int rgb[3], int tol = 6) {
    unsigned char p[4];
    test_pixel_rgba(bmp, x, y, p);
    for (int k = 0; k < 3; k++)
        if (abs(p[k] - rgb[k]) > tol)
            return ::testing::AssertionFailure()
                   << "(" << x << "," << y << ") channel " << k << " is " << (int)p[k] << ", not " << rgb[k];
    return ::testing::AssertionSuccess();
}

class Icons : public ::testing::Test {
   protected:
    T_GUI_STYLE theme = make_theme();
    PLUMARO_ICON_SET set = {NULL, NULL, NULL};
    void SetUp() override {
        if (!test_display()) GTEST_SKIP() << "no display";
    }
    void TearDown() override { plumaro_icon_set_destroy(&set); }
    ALLEGRO_BITMAP* face(int i) { return i == 0 ? set.normal : i == 1 ? set.hover : set.active; }
};

TEST_F(Icons, SmallestAndEmptySizes) {
    ASSERT_EQ(plumaro_icon_render(3, &theme, 1, 1, &set), 1);
    for (int i = 0; i < 3; i++) {
        ASSERT_NE(face(i), nullptr);
        EXPECT_EQ(al_get_bitmap_width(face(i)), 1);
        EXPECT_EQ(al_get_bitmap_height(face(i)), 1);
    }
    const int sizes[3][2] = {{0, 16}, {16, 0}, {-3, 16}};
    for (const auto& wh : sizes) {
        PLUMARO_ICON_SET stale = {(ALLEGRO_BITMAP*)&theme, (ALLEGRO_BITMAP*)&theme, (ALLEGRO_BITMAP*)&theme};
        EXPECT_EQ(plumaro_icon_render(3, &theme, wh[0], wh[1], &stale), 0);
        EXPECT_TRUE(!stale.normal && !stale.hover && !stale.active) << wh[0] << "x" << wh[1];
    }
}

TEST_F(Icons, NullThemeOrOutputIsLoggedAndRefused) {
    test_log_capture_begin(LOG_DEBUG);
    PLUMARO_ICON_SET stale = {(ALLEGRO_BITMAP*)&theme, NULL, NULL};
    EXPECT_EQ(plumaro_icon_render(0, NULL, 16, 16, &stale), 0);
    EXPECT_EQ(stale.normal, nullptr);
    EXPECT_EQ(plumaro_icon_render(0, &theme, 16, 16, NULL), 0);
    std::string log = test_log_capture_end();
    EXPECT_NE(log.find("if( !(theme) ) assert"), std::string::npos) << log;
    EXPECT_NE(log.find("if( !(out) ) assert"), std::string::npos) << log;
}

TEST_F(Icons, IdsWithoutGlyphDrawTheFrameAlone) {
    for (int id : {34, 1000, -1}) {
        ASSERT_EQ(plumaro_icon_render(id, &theme, 40, 40, &set), 1) << id;
        for (int i = 0; i < 3; i++) {
            ASSERT_NE(face(i), nullptr);
            std::vector<uint8_t> px = test_bitmap_bytes(face(i));
            ASSERT_EQ(px.size(), 40u * 40u * 4u);
            int stray = 0;
            for (int y = 4; y < 36; y++)
                for (int x = 4; x < 36; x++)
                    for (int k = 0; k < 3; k++) stray += abs(px[(y * 40 + x) * 4 + k] - BG[i][k]) > 2;
            EXPECT_EQ(stray, 0) << "id " << id << " state " << i;
            EXPECT_TRUE(pixel_is(face(i), 20, 0, BORDER[i]));
            EXPECT_TRUE(pixel_is(face(i), 20, 1, BORDER[i])) << "the frame is inset by half its thickness";
            EXPECT_EQ(px[3], 0) << "the corner outside the rounding stays clear";
        }
        plumaro_icon_set_destroy(&set);
    }
}

TEST_F(Icons, GlyphStaysSquareAndCentredOnAWideButton) {
    // 60x30: the glyph box has side 0.52*30 = 15.6 about (30, 15), L = 22.2, R = 37.8.
    ASSERT_EQ(plumaro_icon_render(15, &theme, 60, 30, &set), 1);
    int first = -1, last = -1;
    for (int x = 4; x < 56; x++) {
        unsigned char p[4];
        test_pixel_rgba(set.normal, x, 15, p);
        if (p[1] > 140) {
            if (first < 0) first = x;
            last = x;
        }
    }
    ASSERT_GE(first, 0) << "no outline found on the middle row";
    EXPECT_TRUE(first >= 20 && last <= 39) << first << ".." << last;
    EXPECT_NEAR((first + last + 1) / 2.0, 30.0, 1.0);
    EXPECT_TRUE(pixel_is(set.normal, 30, 15, BG[0])) << "an outline, not a fill";
    EXPECT_TRUE(pixel_is(set.normal, 30, 9, TEXT[0])) << "top edge at T + 0.1v = 8.76";
    EXPECT_TRUE(pixel_is(set.normal, 30, 21, TEXT[0])) << "bottom edge at B - 0.1v = 21.24";
}

TEST_F(Icons, EachStateTakesItsOwnColours) {
    // Filled square from L + 0.08v = 11.26 to R - 0.08v = 28.74 at 40x40.
    ASSERT_EQ(plumaro_icon_render(18, &theme, 40, 40, &set), 1);
    for (int i = 0; i < 3; i++) {
        EXPECT_TRUE(pixel_is(face(i), 20, 20, TEXT[i])) << "state " << i;
        EXPECT_TRUE(pixel_is(face(i), 12, 20, TEXT[i]));
        EXPECT_TRUE(pixel_is(face(i), 10, 20, BG[i]));
        EXPECT_TRUE(pixel_is(face(i), 29, 20, BG[i]));
        EXPECT_TRUE(pixel_is(face(i), 20, 39, BORDER[i]));
    }
}

TEST_F(Icons, ChevronAndGradientPixels) {
    // v = 20.8: the tip is at (cx - 0.28v, cy) = (14.18, 20), the arms run at 45 degrees to (24.58, 9.6)
    // and (24.58, 30.4), and it opens to the right.
    ASSERT_EQ(plumaro_icon_render(0, &theme, 40, 40, &set), 1);
    EXPECT_TRUE(pixel_is(set.hover, 14, 20, TEXT[1]));
    EXPECT_TRUE(pixel_is(set.hover, 11, 20, BG[1]));
    EXPECT_TRUE(pixel_is(set.hover, 22, 20, BG[1]));
    EXPECT_TRUE(pixel_is(set.hover, 22, 11, TEXT[1]));
    EXPECT_TRUE(pixel_is(set.hover, 22, 28, TEXT[1]));
    plumaro_icon_set_destroy(&set);
    // Strip 3 of the gradient carries the glyph colour halved in every component, alpha included,
    // so over the opaque fill it stores text/4 + bg/2.
    ASSERT_EQ(plumaro_icon_render(10, &theme, 40, 40, &set), 1);
    int mix[3];
    for (int k = 0; k < 3; k++) mix[k] = TEXT[0][k] / 4 + BG[0][k] / 2;
    EXPECT_TRUE(pixel_is(set.normal, 21, 20, mix, 3));
    EXPECT_TRUE(pixel_is(set.normal, 11, 20, TEXT[0]));
}

TEST_F(Icons, CallersTargetAndBlenderSurvive) {
    ALLEGRO_STATE outer;
    al_store_state(&outer, ALLEGRO_STATE_TARGET_BITMAP | ALLEGRO_STATE_BLENDER);
    ALLEGRO_BITMAP* mine = al_create_bitmap(8, 8);
    ASSERT_NE(mine, nullptr);
    al_set_target_bitmap(mine);
    al_set_blender(ALLEGRO_DEST_MINUS_SRC, ALLEGRO_ONE, ALLEGRO_ZERO);
    EXPECT_EQ(plumaro_icon_render(29, &theme, 24, 24, &set), 1);
    int blender[3];
    al_get_blender(&blender[0], &blender[1], &blender[2]);
    EXPECT_EQ(al_get_target_bitmap(), mine);
    EXPECT_TRUE(blender[0] == ALLEGRO_DEST_MINUS_SRC && blender[1] == ALLEGRO_ONE && blender[2] == ALLEGRO_ZERO);
    al_restore_state(&outer);
    al_destroy_bitmap(mine);
}

TEST_F(Icons, DestroyClearsTheSetForTheNextRender) {
    ASSERT_EQ(plumaro_icon_render(5, &theme, 32, 32, &set), 1);
    std::vector<uint8_t> before = test_bitmap_bytes(set.active);
    plumaro_icon_set_destroy(&set);
    EXPECT_TRUE(!set.normal && !set.hover && !set.active);
    plumaro_icon_set_destroy(&set);
    ASSERT_EQ(plumaro_icon_render(5, &theme, 32, 32, &set), 1);
    EXPECT_EQ(test_bitmap_bytes(set.active), before);
}

}  // namespace
