/* Gesture recognizer: slots and counting, the navigation flag's lifetime,
 * and the pan, zoom and rotation a two-finger move gives the view. */
#include <gtest/gtest.h>
#include <math.h>
#include <string.h>

#include "canvas/view.h"
#include "input/gesture.h"
#include "t_log.h"
#include "test_support.h"

namespace {

ALLEGRO_EVENT touch(ALLEGRO_EVENT_TYPE type, int id, float x, float y) {
    ALLEGRO_EVENT ev;
    memset(&ev, 0, sizeof(ev));
    ev.type = type;
    ev.touch.id = id;
    ev.touch.x = x;
    ev.touch.y = y;
    return ev;
}

class GestureTest : public ::testing::Test {
protected:
    GESTURE g;
    VIEW view;
    void SetUp() override {
        memset(&g, 0x5a, sizeof(g));
        ASSERT_EQ(gesture_init(&g), 1);
        view_init(&view);
    }
    int send(ALLEGRO_EVENT_TYPE type, int id, float x, float y) {
        ALLEGRO_EVENT ev = touch(type, id, x, y);
        return gesture_handle_event(&g, &ev, &view);
    }
    int down(int id, float x, float y) { return send(ALLEGRO_EVENT_TOUCH_BEGIN, id, x, y); }
    int move(int id, float x, float y) { return send(ALLEGRO_EVENT_TOUCH_MOVE, id, x, y); }
    int up(int id) { return send(ALLEGRO_EVENT_TOUCH_END, id, 0, 0); }
    void expect_view(float x, float y, float zoom, float angle) {
        EXPECT_NEAR(view.x, x, 1e-3f);
        EXPECT_NEAR(view.y, y, 1e-3f);
        EXPECT_NEAR(view.zoom, zoom, 1e-5f);
        EXPECT_NEAR(view.angle, angle, 1e-5f);
    }
    // Screen position of a canvas point under the current view.
    void screen_of(float cx, float cy, float* sx, float* sy) { view_canvas_to_screen(&view, cx, cy, sx, sy); }
};

TEST_F(GestureTest, InitFreesEverySlot) {
    for (int i = 0; i < GESTURE_MAX_TOUCHES; i++) {
        EXPECT_EQ(g.touches[i].id, -1);
        EXPECT_EQ(g.touches[i].x, 0.0f);
        EXPECT_EQ(g.touches[i].y, 0.0f);
    }
    EXPECT_EQ(g.count, 0);
    EXPECT_EQ(g.navigating, 0);
    EXPECT_EQ(gesture_blocks_strokes(&g), 0);
}

TEST_F(GestureTest, OnlyTouchEventsAreTaken) {
    EXPECT_EQ(down(3, 10, 10), 1);
    EXPECT_EQ(move(99, 10, 10), 1) << "unknown touch: ignored but taken";
    EXPECT_EQ(send(ALLEGRO_EVENT_TOUCH_CANCEL, 99, 0, 0), 1);
    EXPECT_EQ(send(ALLEGRO_EVENT_MOUSE_AXES, 3, 50, 50), 0);
    EXPECT_EQ(send(ALLEGRO_EVENT_KEY_DOWN, 3, 50, 50), 0);
    EXPECT_EQ(g.touches[0].x, 10.0f) << "a mouse event is not a touch move";
    EXPECT_EQ(g.count, 1);
}

TEST_F(GestureTest, NullArgumentsAreRefused) {
    ALLEGRO_EVENT ev = touch(ALLEGRO_EVENT_TOUCH_BEGIN, 1, 0, 0);
    test_log_capture_begin(LOG_DEBUG);
    EXPECT_EQ(gesture_init(NULL), 0);
    EXPECT_EQ(gesture_handle_event(NULL, &ev, &view), 0);
    EXPECT_EQ(gesture_handle_event(&g, NULL, &view), 0);
    EXPECT_EQ(gesture_handle_event(&g, &ev, NULL), 0);
    EXPECT_EQ(gesture_blocks_strokes(NULL), 0);
    gesture_cancel_navigation(NULL);
    std::string log = test_log_capture_end();
    EXPECT_NE(log.find("if( !(gesture) ) assert"), std::string::npos) << log;
    EXPECT_NE(log.find("if( !(event) ) assert"), std::string::npos) << log;
    EXPECT_NE(log.find("if( !(view) ) assert"), std::string::npos) << log;
    EXPECT_EQ(g.count, 0);
}

TEST_F(GestureTest, OneFingerNeverNavigates) {
    down(1, 100, 100);
    EXPECT_EQ(gesture_blocks_strokes(&g), 0);
    move(1, 300, 250);
    expect_view(0, 0, 1, 0);
    EXPECT_EQ(g.touches[0].x, 300.0f);
    EXPECT_EQ(g.touches[0].y, 250.0f);
    up(1);
    EXPECT_EQ(g.count, 0);
}

TEST_F(GestureTest, ANinthTouchIsIgnoredAndItsLiftChangesNothing) {
    for (int i = 0; i < 8; i++) down(10 + i, (float)i, 0);
    EXPECT_EQ(g.count, 8);
    EXPECT_EQ(down(42, 500, 500), 1);
    EXPECT_EQ(g.count, 8);
    for (int i = 0; i < 8; i++) EXPECT_NE(g.touches[i].id, 42);
    EXPECT_EQ(up(42), 1);
    EXPECT_EQ(g.count, 8);
    EXPECT_EQ(g.navigating, 1);
    up(10); /* slot 0 frees and is taken by the next touch */
    down(42, 7, 7);
    EXPECT_EQ(g.touches[0].id, 42);
    EXPECT_EQ(g.count, 8);
}

TEST_F(GestureTest, SpreadingAwayPansHalfAndZoomsTwiceWithoutRotation) {
    down(1, 100, 100);
    down(2, 200, 100);
    ASSERT_EQ(gesture_blocks_strokes(&g), 1);
    /* The canvas point under the still finger stays under it. */
    float still_x, still_y;
    view_screen_to_canvas(&view, 200, 100, &still_x, &still_y);
    move(1, 0, 100);
    /* pan (-50, 0), then zoom 2 about (100, 100) */
    expect_view((-50.0f - 100.0f) * 2 + 100.0f, (0.0f - 100.0f) * 2 + 100.0f, 2, 0);
    float sx, sy;
    screen_of(still_x, still_y, &sx, &sy);
    EXPECT_NEAR(sx, 200.0f, 1e-3f);
    EXPECT_NEAR(sy, 100.0f, 1e-3f);
    screen_of(100, 100, &sx, &sy); /* the moving finger's canvas point followed it */
    EXPECT_NEAR(sx, 0.0f, 1e-3f);
    EXPECT_NEAR(sy, 100.0f, 1e-3f);
    EXPECT_EQ(g.touches[0].x, 0.0f);
}

TEST_F(GestureTest, BothFingersMovingAlikeAddUpToAPlainPan) {
    down(1, 100, 100);
    down(2, 200, 100);
    move(1, 100, 140); /* alone, this one also tilts and stretches the pair */
    EXPECT_GT(view.zoom, 1.05f);
    EXPECT_LT(view.angle, -0.3f);
    move(2, 200, 140);
    /* Back to 100 apart and level: zoom and angle return to 1 and 0. */
    EXPECT_NEAR(view.zoom, 1.0f, 1e-4f);
    EXPECT_NEAR(view.angle, 0.0f, 1e-5f);
    float sx, sy;
    screen_of(100, 100, &sx, &sy);
    EXPECT_NEAR(sx, 100.0f, 1e-2f);
    EXPECT_NEAR(sy, 140.0f, 1e-2f);
}

TEST_F(GestureTest, TwistingRotatesAboutTheMidpoint) {
    down(1, 100, 100);
    down(2, 200, 100);
    move(1, 200, 0); /* a quarter turn about the still finger, same distance */
    EXPECT_NEAR(view.zoom, 1.0f, 1e-5f);
    EXPECT_NEAR(view.angle, (float)(M_PI / 2), 1e-5f);
    float sx, sy;
    screen_of(200, 100, &sx, &sy);
    EXPECT_NEAR(sx, 200.0f, 1e-3f) << "the still finger's canvas point stays";
    EXPECT_NEAR(sy, 100.0f, 1e-3f);
    screen_of(100, 100, &sx, &sy);
    EXPECT_NEAR(sx, 200.0f, 1e-3f);
    EXPECT_NEAR(sy, 0.0f, 1e-3f);
}

TEST_F(GestureTest, CrossingBehindThePartnerTurnsALittleNotAFullTurn) {
    down(1, 100, 101); /* just below the axis through the partner at (200, 100) */
    down(2, 200, 100);
    move(1, 100, 99);
    EXPECT_LT(fabsf(view.angle), 0.05f);
}

TEST_F(GestureTest, FingersOnTheSamePointOnlyPan) {
    down(1, 100, 100);
    down(2, 100.5f, 100);
    move(1, 300, 100);
    expect_view((300.0f + 100.5f) / 2 - (100.0f + 100.5f) / 2, 0, 1, 0);

    /* A move onto the partner: the new distance is too small to zoom by. */
    SetUp();
    down(1, 100, 100);
    down(2, 200, 100);
    move(1, 200.5f, 100);
    expect_view(50.25f, 0, 1, 0);
}

TEST_F(GestureTest, LiftingOneOfTwoKeepsStrokesBlockedUntilTheLastLifts) {
    down(1, 100, 100);
    down(2, 200, 100);
    up(1);
    EXPECT_EQ(g.count, 1);
    EXPECT_EQ(gesture_blocks_strokes(&g), 1);
    move(2, 400, 400);
    expect_view(0, 0, 1, 0);
    EXPECT_EQ(g.touches[1].x, 400.0f);
    send(ALLEGRO_EVENT_TOUCH_CANCEL, 2, 0, 0);
    EXPECT_EQ(g.count, 0);
    EXPECT_EQ(gesture_blocks_strokes(&g), 0);
}

TEST_F(GestureTest, AThirdFingerOnlyUpdatesItself) {
    down(1, 100, 100);
    down(2, 200, 100);
    down(3, 500, 500);
    EXPECT_EQ(g.count, 3);
    move(3, 600, 650);
    expect_view(0, 0, 1, 0);
    EXPECT_EQ(g.touches[2].x, 600.0f);
    EXPECT_EQ(g.touches[2].y, 650.0f);
    /* After the first finger lifts, the third pairs with the second. */
    up(1);
    move(3, 700, 650);
    EXPECT_NE(view.x, 0.0f);
}

TEST_F(GestureTest, CancelKeepsTouchesAndANewSecondFingerNavigatesAgain) {
    down(1, 100, 100);
    down(2, 200, 100);
    gesture_cancel_navigation(&g);
    EXPECT_EQ(gesture_blocks_strokes(&g), 0);
    EXPECT_EQ(g.count, 2);
    move(1, 0, 100);
    expect_view(0, 0, 1, 0);
    EXPECT_EQ(g.touches[0].x, 0.0f);
    up(2);
    EXPECT_EQ(gesture_blocks_strokes(&g), 0);
    down(3, 300, 100);
    EXPECT_EQ(g.count, 2);
    EXPECT_EQ(gesture_blocks_strokes(&g), 1);
    EXPECT_EQ(g.touches[1].id, 3) << "the lowest free slot";
}

TEST_F(GestureTest, EndWithACountOutOfStepClearsEverything) {
    down(1, 100, 100);
    down(2, 200, 100);
    g.count = 1; /* out of step with the slots */
    up(2);
    EXPECT_EQ(g.count, 0);
    EXPECT_EQ(g.navigating, 0);
}

}  // namespace
