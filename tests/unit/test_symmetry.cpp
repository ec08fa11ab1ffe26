/* Symmetry: mode names, initial setting and the mirrored and radial copies. */
#include <gtest/gtest.h>

#include <math.h>

#include "canvas/symmetry.h"
#include "t_log.h"
#include "test_support.h"

static SYMMETRY _sym(int mode, float cx, float cy, int segments) {
    SYMMETRY s;
    s.mode = mode;
    s.cx = cx;
    s.cy = cy;
    s.segments = segments;
    return s;
}

TEST(Symmetry, ModeNamesWithUnknownValuesAsOff) {
    EXPECT_STREQ(symmetry_mode_name(0), "Off");
    EXPECT_STREQ(symmetry_mode_name(1), "X");
    EXPECT_STREQ(symmetry_mode_name(2), "Y");
    EXPECT_STREQ(symmetry_mode_name(3), "XY");
    EXPECT_STREQ(symmetry_mode_name(4), "Rad");
    EXPECT_STREQ(symmetry_mode_name(5), "Off");
    EXPECT_STREQ(symmetry_mode_name(-1), "Off");
    EXPECT_STREQ(symmetry_mode_name(9), "Off");
}

TEST(Symmetry, InitCentresOnTheDocumentOrOrigin) {
    DOCUMENT doc = {};
    doc.width = 301;
    doc.height = 200;
    SYMMETRY s = _sym(3, 7, 7, 40);
    symmetry_init(&s, &doc);
    EXPECT_EQ(s.mode, 0);
    EXPECT_FLOAT_EQ(s.cx, 150.5f);
    EXPECT_FLOAT_EQ(s.cy, 100.0f);
    EXPECT_EQ(s.segments, 6);

    s = _sym(3, 7, 7, 40);
    symmetry_init(&s, NULL);
    EXPECT_EQ(s.mode, 0);
    EXPECT_FLOAT_EQ(s.cx, 0.0f);
    EXPECT_FLOAT_EQ(s.cy, 0.0f);
    EXPECT_EQ(s.segments, 6);

    test_log_capture_begin(LOG_DEBUG);
    symmetry_init(NULL, &doc);
    std::string text = test_log_capture_end();
    EXPECT_NE(text.find("if( !(sym) ) assert"), std::string::npos) << text;
}

TEST(Symmetry, MirrorXAndY) {
    float out[32];
    SYMMETRY s = _sym(SYMMETRY_X, 100, 50, 6);
    ASSERT_EQ(symmetry_mirror(&s, 30, 20, out, 16), 2);
    EXPECT_FLOAT_EQ(out[0], 30);
    EXPECT_FLOAT_EQ(out[1], 20);
    EXPECT_FLOAT_EQ(out[2], 170);
    EXPECT_FLOAT_EQ(out[3], 20);
    out[2] = -1;
    EXPECT_EQ(symmetry_mirror(&s, 30, 20, out, 1), 1);
    EXPECT_FLOAT_EQ(out[2], -1); /* nothing written past the room */

    s.mode = SYMMETRY_Y;
    ASSERT_EQ(symmetry_mirror(&s, 30, 20, out, 2), 2);
    EXPECT_FLOAT_EQ(out[2], 30);
    EXPECT_FLOAT_EQ(out[3], 80);
    EXPECT_EQ(symmetry_mirror(&s, 30, 20, out, 1), 1);
}

TEST(Symmetry, MirrorXYFillsWhatFits) {
    float out[32];
    for (int i = 0; i < 32; i++) out[i] = -99;
    SYMMETRY s = _sym(SYMMETRY_XY, 100, 50, 6);
    ASSERT_EQ(symmetry_mirror(&s, 30, 20, out, 3), 3);
    EXPECT_FLOAT_EQ(out[2], 170);
    EXPECT_FLOAT_EQ(out[3], 20);
    EXPECT_FLOAT_EQ(out[4], 30);
    EXPECT_FLOAT_EQ(out[5], 80);
    EXPECT_FLOAT_EQ(out[6], -99);
    ASSERT_EQ(symmetry_mirror(&s, 30, 20, out, 16), 4);
    EXPECT_FLOAT_EQ(out[6], 170);
    EXPECT_FLOAT_EQ(out[7], 80);
    EXPECT_FLOAT_EQ(out[8], -99);
    EXPECT_EQ(symmetry_mirror(&s, 30, 20, out, 1), 1);
}

TEST(Symmetry, RadialClampsSegments) {
    float out[64];
    SYMMETRY s = _sym(SYMMETRY_RADIAL, 10, 10, 1);
    ASSERT_EQ(symmetry_mirror(&s, 20, 10, out, 16), 2); /* a half-turn */
    EXPECT_NEAR(out[2], 0, 1e-4);
    EXPECT_NEAR(out[3], 10, 1e-4);

    s.segments = -5;
    EXPECT_EQ(symmetry_mirror(&s, 20, 10, out, 16), 2);
    s.segments = 40;
    ASSERT_EQ(symmetry_mirror(&s, 20, 10, out, 32), 16);
    /* Sixteen copies a sixteenth of a turn apart. */
    for (int i = 0; i < 16; i++) {
        double a = i * 2 * M_PI / 16;
        EXPECT_NEAR(out[i * 2], 10 + 10 * cos(a), 1e-4) << i;
        EXPECT_NEAR(out[i * 2 + 1], 10 + 10 * sin(a), 1e-4) << i;
    }
}

TEST(Symmetry, RadialStepIsAlwaysAFullTurnOverSegments) {
    float out[32];
    for (int i = 0; i < 32; i++) out[i] = -99;
    SYMMETRY s = _sym(SYMMETRY_RADIAL, 100, 50, 6);
    /* dx 10, dy 0 from the centre: rotations by 60, 120 and 180 degrees. */
    ASSERT_EQ(symmetry_mirror(&s, 110, 50, out, 4), 4);
    EXPECT_FLOAT_EQ(out[0], 110);
    EXPECT_FLOAT_EQ(out[1], 50);
    EXPECT_NEAR(out[2], 105, 1e-4);
    EXPECT_NEAR(out[3], 50 + 10 * sqrt(3.0) / 2, 1e-4);
    EXPECT_NEAR(out[4], 95, 1e-4);
    EXPECT_NEAR(out[5], 50 + 10 * sqrt(3.0) / 2, 1e-4);
    EXPECT_NEAR(out[6], 90, 1e-4);
    EXPECT_NEAR(out[7], 50, 1e-4);
    EXPECT_FLOAT_EQ(out[8], -99);
    /* A point off the axis turns with both components: (0, 10) by 60 degrees. */
    ASSERT_EQ(symmetry_mirror(&s, 100, 60, out, 2), 2);
    EXPECT_NEAR(out[2], 100 - 10 * sqrt(3.0) / 2, 1e-4);
    EXPECT_NEAR(out[3], 55, 1e-4);
}

TEST(Symmetry, OffUnknownOrMissingGiveOnlyThePoint) {
    float out[8] = {-1, -1, -1, -1, -1, -1, -1, -1};
    SYMMETRY s = _sym(SYMMETRY_OFF, 100, 50, 6);
    EXPECT_EQ(symmetry_mirror(&s, 3, 4, out, 16), 1);
    EXPECT_FLOAT_EQ(out[0], 3);
    EXPECT_FLOAT_EQ(out[1], 4);
    EXPECT_FLOAT_EQ(out[2], -1);
    s.mode = 9;
    EXPECT_EQ(symmetry_mirror(&s, 5, 6, out, 16), 1);
    EXPECT_FLOAT_EQ(out[0], 5);
    s.mode = -3;
    EXPECT_EQ(symmetry_mirror(&s, 5, 6, out, 16), 1);
    EXPECT_EQ(symmetry_mirror(NULL, 7, 8, out, 16), 1);
    EXPECT_FLOAT_EQ(out[0], 7);
    EXPECT_FLOAT_EQ(out[1], 8);
    EXPECT_FLOAT_EQ(out[2], -1);
}

TEST(Symmetry, NoRoomOrNoOutputWritesNothing) {
    float out[4] = {-1, -1, -1, -1};
    SYMMETRY s = _sym(SYMMETRY_XY, 100, 50, 6);
    EXPECT_EQ(symmetry_mirror(&s, 3, 4, out, 0), 0);
    EXPECT_EQ(symmetry_mirror(&s, 3, 4, out, -2), 0);
    EXPECT_FLOAT_EQ(out[0], -1);
    test_log_capture_begin(LOG_DEBUG);
    EXPECT_EQ(symmetry_mirror(&s, 3, 4, NULL, 16), 0);
    std::string text = test_log_capture_end();
    EXPECT_NE(text.find("if( !(out) ) assert"), std::string::npos) << text;
}
