/* The canvas state driven with synthetic events: strokes, pressure, grid
 * segments, panning, wheel zoom and rotation, the keyboard table, undo keys,
 * capture of releases and two-finger gestures. */
#include <gtest/gtest.h>
#include <math.h>
#include <sys/stat.h>

#include "app_internal.h"
#include "app_state.h"
#include "canvas/brush.h"
#include "canvas/undo.h"
#include "platform/platform.h"
#include "plumaro_app.h"
#include "t_log.h"
#include "app_fixture.h"
#include "test_support.h"

class CanvasInput : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(test_display(), nullptr) << "no X display";
        dir_ = test_make_temp_dir("canvas-input");
        setenv("APPDATA", dir_.c_str(), 1);
        ASSERT_TRUE(test_app_on_canvas(&app, 512));
        app.brush_preset = -1;
        app.running = 1;
    }
    void TearDown() override {
        if (app.stroke.active) brush_stroke_end(&app.stroke, app.doc);
        brush_release_resources();
        document_free(&app.doc);
        test_remove_tree(dir_);
    }
    void send(ALLEGRO_EVENT event) { plumaro_app_handle_event(&app, &event); }
    void motion(float x, float y, double t = 0.0, int dz = 0) {
        ALLEGRO_EVENT e = {};
        e.type = ALLEGRO_EVENT_MOUSE_AXES;
        e.mouse.x = (int)x, e.mouse.y = (int)y;
        e.mouse.dx = (int)(x - app.pointer_x), e.mouse.dy = (int)(y - app.pointer_y);
        e.mouse.dz = dz;
        e.mouse.timestamp = t;
        send(e);
    }
    void button(int type, int which, float x, float y, double t = 0.0) {
        ALLEGRO_EVENT e = {};
        e.type = type;
        e.mouse.x = (int)x, e.mouse.y = (int)y;
        e.mouse.button = which;
        e.mouse.timestamp = t;
        send(e);
    }
    void press(float x, float y, double t = 0.0) { button(ALLEGRO_EVENT_MOUSE_BUTTON_DOWN, 1, x, y, t); }
    void release(float x, float y) { button(ALLEGRO_EVENT_MOUSE_BUTTON_UP, 1, x, y); }
    void key(int type, int code) {
        ALLEGRO_EVENT e = {};
        e.type = type;
        e.keyboard.keycode = code;
        send(e);
    }
    void down(int code) { key(ALLEGRO_EVENT_KEY_DOWN, code); }
    void up(int code) { key(ALLEGRO_EVENT_KEY_UP, code); }
    void touch(int type, int id, float x, float y) {
        ALLEGRO_EVENT e = {};
        e.type = type;
        e.touch.id = id;
        e.touch.x = x, e.touch.y = y;
        send(e);
    }
    /* Alpha of a committed layer pixel (the backup holds what was committed). */
    int alpha(int x, int y) {
        unsigned char px[4];
        test_pixel_rgba(app.doc->active_layer->backup, x, y, px);
        return px[3];
    }
    int shown_alpha(int x, int y) {
        unsigned char px[4];
        test_pixel_rgba(app.doc->active_layer->bitmap, x, y, px);
        return px[3];
    }
    PLUMARO_APP app;
    std::string dir_;
};

TEST_F(CanvasInput, WheelZoomsAboutThePointerAndCtrlWheelRotates) {
    motion(100, 80);
    float cx, cy;
    view_screen_to_canvas(&app.view, 100, 80, &cx, &cy);
    motion(100, 80, 0.0, 2);
    EXPECT_NEAR(app.view.zoom, 1.21f, 1e-5f); /* 1.1 squared */
    float sx, sy;
    view_canvas_to_screen(&app.view, cx, cy, &sx, &sy);
    EXPECT_NEAR(sx, 100.0f, 1e-3f);
    EXPECT_NEAR(sy, 80.0f, 1e-3f);
    EXPECT_NEAR(app.view.angle, 0.0f, 1e-6f);
    down(ALLEGRO_KEY_LCTRL);
    motion(100, 80, 0.0, -1);
    EXPECT_NEAR(app.view.angle, -5.0f * (float)M_PI / 180.0f, 1e-5f);
    EXPECT_NEAR(app.view.zoom, 1.21f, 1e-5f);
    view_canvas_to_screen(&app.view, cx, cy, &sx, &sy);
    EXPECT_NEAR(sx, 100.0f, 1e-3f);
    EXPECT_NEAR(sy, 80.0f, 1e-3f);
    up(ALLEGRO_KEY_LCTRL);
    motion(100, 80, 0.0, -2);
    EXPECT_NEAR(app.view.zoom, 1.0f, 1e-5f);
}

TEST_F(CanvasInput, BracketKeysStopAtTheirLimits) {
    app.brush.size = 120.0f;
    down(ALLEGRO_KEY_CLOSEBRACE);
    EXPECT_FLOAT_EQ(app.brush.size, 128.0f);
    down(ALLEGRO_KEY_CLOSEBRACE);
    EXPECT_FLOAT_EQ(app.brush.size, 128.0f);
    down(ALLEGRO_KEY_OPENBRACE);
    EXPECT_FLOAT_EQ(app.brush.size, 128.0f / 1.25f);
    app.brush.size = 1.1f;
    down(ALLEGRO_KEY_OPENBRACE);
    EXPECT_FLOAT_EQ(app.brush.size, 1.0f);
}

TEST_F(CanvasInput, AStrokeIsOneUndoStepAndTheKeysUndoAndRedoIt) {
    press(50, 50, 1.0);
    ASSERT_EQ(app.stroke.active, 1);
    motion(150, 60, 1.1);
    EXPECT_EQ(app.dirty, 1);
    release(150, 60);
    EXPECT_EQ(app.stroke.active, 0);
    EXPECT_GT(alpha(100, 55), 200);
    EXPECT_EQ(alpha(100, 150), 0);
    EXPECT_EQ(app.doc->undo->undo_stack->nb_items, 1u);
    down(ALLEGRO_KEY_LCTRL);
    down(ALLEGRO_KEY_Z);
    EXPECT_EQ(alpha(100, 55), 0);
    EXPECT_EQ(shown_alpha(100, 55), 0);
    down(ALLEGRO_KEY_Y);
    EXPECT_GT(shown_alpha(100, 55), 200);
    down(ALLEGRO_KEY_Z);
    EXPECT_EQ(shown_alpha(100, 55), 0);
    down(ALLEGRO_KEY_LSHIFT); /* Ctrl+Shift+Z redoes */
    down(ALLEGRO_KEY_Z);
    EXPECT_GT(shown_alpha(100, 55), 200);
    up(ALLEGRO_KEY_LSHIFT);
    up(ALLEGRO_KEY_LCTRL);
    /* While a stroke is open, undo does nothing. */
    press(300, 300);
    down(ALLEGRO_KEY_LCTRL);
    down(ALLEGRO_KEY_Z);
    EXPECT_GT(shown_alpha(100, 55), 200);
    EXPECT_EQ(app.stroke.active, 1);
    up(ALLEGRO_KEY_LCTRL);
    release(300, 300);
    EXPECT_EQ(app.doc->undo->undo_stack->nb_items, 2u);
}

TEST_F(CanvasInput, AReleaseAnywhereEndsTheStroke) {
    press(40, 40);
    motion(80, 40);
    /* Far outside the canvas and the display: the capture still routes it here. */
    release(-500, 5000);
    EXPECT_EQ(app.stroke.active, 0);
    EXPECT_EQ(app.doc->undo->undo_stack->nb_items, 1u);
    EXPECT_GT(alpha(60, 40), 200);
}

// A release lost to another window leaves the stroke open; the next press
// must keep what was painted and leave a usable history, not wedge it.
TEST_F(CanvasInput, APressWhileAStrokeIsOpenKeepsItsPaintAndTheHistory) {
    press(40, 40);
    motion(120, 40);
    press(40, 200); /* no release came for the first stroke */
    EXPECT_EQ(app.stroke.active, 1);
    motion(120, 200);
    release(120, 200);
    EXPECT_EQ(app.stroke.active, 0);
    EXPECT_EQ(app.doc->undo->open, 0);
    EXPECT_GT(alpha(80, 40), 200);
    EXPECT_GT(alpha(80, 200), 200);
    EXPECT_EQ(app.doc->undo->undo_stack->nb_items, 2u);
    EXPECT_EQ(undo_perform(app.doc), 1);
    EXPECT_EQ(shown_alpha(80, 200), 0);
    EXPECT_GT(shown_alpha(80, 40), 200);
}

// The release of a float drag cut short by a halt is among the events a
// resume drops: the drag must not outlive it and swallow a later release.
TEST_F(CanvasInput, AFloatDragCutShortByAHaltDoesNotCaptureAfterTheResume) {
    selection_init(&app.selection);
    app.tool = 3;
    press(20, 20);
    motion(60, 60);
    release(60, 60);
    ASSERT_EQ(app.selection.state, SEL_FLOATING);
    press(40, 40); /* grabs the float */
    ASSERT_TRUE(app.selection.dragging);
    ALLEGRO_EVENT e = {};
    e.type = ALLEGRO_EVENT_DISPLAY_HALT_DRAWING;
    send(e);
    e.type = ALLEGRO_EVENT_DISPLAY_RESUME_DRAWING;
    send(e);
    EXPECT_EQ(plumaro_app_capturing(&app), 0);
    down(ALLEGRO_KEY_B);
    press(200, 200);
    motion(260, 200);
    release(260, 200);
    EXPECT_EQ(app.stroke.active, 0) << "the release ends the stroke";
    EXPECT_GT(alpha(230, 200), 200);
}

// The lifts of fingers that were down at a halt are dropped at the resume;
// the gesture they began must not keep blocking every stroke afterwards.
TEST_F(CanvasInput, FingersDownAtAHaltDoNotBlockStrokesAfterTheResume) {
    touch(ALLEGRO_EVENT_TOUCH_BEGIN, 1, 100, 100);
    touch(ALLEGRO_EVENT_TOUCH_BEGIN, 2, 200, 100);
    ASSERT_EQ(gesture_blocks_strokes(&app.gesture), 1);
    ALLEGRO_EVENT e = {};
    e.type = ALLEGRO_EVENT_DISPLAY_HALT_DRAWING;
    send(e);
    e.type = ALLEGRO_EVENT_DISPLAY_RESUME_DRAWING;
    send(e);
    EXPECT_EQ(gesture_blocks_strokes(&app.gesture), 0);
    press(40, 300);
    EXPECT_EQ(app.stroke.active, 1);
    motion(120, 300);
    release(120, 300);
    EXPECT_GT(alpha(80, 300), 200);
}

// Key releases dropped at a resume must not leave a modifier or the space
// bar held: the next press would pan and plain keys would act as shortcuts.
TEST_F(CanvasInput, KeysHeldAtAHaltAreReleasedByTheResume) {
    down(ALLEGRO_KEY_SPACE);
    down(ALLEGRO_KEY_LCTRL);
    ALLEGRO_EVENT e = {};
    e.type = ALLEGRO_EVENT_DISPLAY_HALT_DRAWING;
    send(e);
    e.type = ALLEGRO_EVENT_DISPLAY_RESUME_DRAWING;
    send(e);
    press(40, 300);
    EXPECT_EQ(app.drag.panning, 0);
    EXPECT_EQ(app.stroke.active, 1);
    release(40, 300);
    down(ALLEGRO_KEY_Z); /* plain Z: not an undo */
    EXPECT_GT(alpha(40, 300), 200);
}

TEST_F(CanvasInput, GridAnchoredStrokePaintsWholeSegmentsWithoutBackTracking) {
    app.grid.visible = 1;
    app.grid.snap = 1;
    app.grid.spacing = 32.0f;
    press(66, 63); /* snaps to the node (64, 64) */
    ASSERT_EQ(app.drag.snap_line, 1);
    EXPECT_FLOAT_EQ(app.drag.snap_anchor_x, 64.0f);
    EXPECT_FLOAT_EQ(app.drag.snap_anchor_y, 64.0f);
    motion(64 + 80, 64); /* two and a half steps: two segments */
    EXPECT_FLOAT_EQ(app.drag.snap_anchor_x, 128.0f);
    EXPECT_FLOAT_EQ(app.drag.snap_anchor_y, 64.0f);
    EXPECT_EQ(app.drag.snap_dir_x, 1);
    EXPECT_EQ(app.drag.snap_dir_y, 0);
    motion(128 - 12, 64); /* a little way back: less than three quarters of a step */
    EXPECT_FLOAT_EQ(app.drag.snap_anchor_x, 128.0f);
    release(128 - 12, 64);
    /* Paint runs up to the last anchor plus the brush radius (12), no further. */
    EXPECT_GT(alpha(120, 64), 200);
    EXPECT_EQ(alpha(128 + 12 + 3, 64), 0);
    EXPECT_EQ(alpha(96, 64 + 12 + 3), 0);
    EXPECT_EQ(app.drag.snap_line, 0);
}

TEST_F(CanvasInput, GridStrokeRefusesAReversalNearerToTheAnchor) {
    app.grid.visible = 1;
    app.grid.snap = 1;
    app.grid.spacing = 100.0f;
    press(100, 100);
    motion(300, 300); /* two diagonal segments */
    ASSERT_FLOAT_EQ(app.drag.snap_anchor_x, 300.0f);
    ASSERT_EQ(app.drag.snap_dir_x, 1);
    ASSERT_EQ(app.drag.snap_dir_y, 1);
    /* 0.76 steps back at 203 degrees: quantised to the reverse diagonal, but
     * the pointer lies nearer to the anchor than to the reversed target. */
    double a = 203.0 * M_PI / 180.0;
    float px = 300.0f + (float)(76.0 * cos(a)), py = 300.0f + (float)(76.0 * sin(a));
    float dx = px - 300.0f, dy = py - 300.0f;
    float rx = px - 200.0f, ry = py - 200.0f;
    ASSERT_GE(rx * rx + ry * ry, dx * dx + dy * dy); /* the premise of the rule */
    app.pointer_x = px, app.pointer_y = py;
    ALLEGRO_EVENT e = {};
    e.type = ALLEGRO_EVENT_MOUSE_AXES;
    e.mouse.x = (int)lroundf(px), e.mouse.y = (int)lroundf(py);
    send(e);
    EXPECT_FLOAT_EQ(app.drag.snap_anchor_x, 300.0f);
    EXPECT_FLOAT_EQ(app.drag.snap_anchor_y, 300.0f);
    /* Straight back two steps is nearer the reversed target: it paints back. */
    motion(100, 100);
    EXPECT_FLOAT_EQ(app.drag.snap_anchor_x, 100.0f);
    EXPECT_EQ(app.drag.snap_dir_x, -1);
    release(100, 100);
}

TEST_F(CanvasInput, PressureFromSpeedWithEqualTimeStamps) {
    app.pressure_speed = 1;
    press(100, 100, 5.0);
    EXPECT_FLOAT_EQ(app.drag.last_pressure, 1.0f);
    motion(110, 100, 5.0); /* dt becomes 0.0001 s: speed 100000 px/s */
    float target = fmaxf(0.25f, 1.0f - 100000.0f / 1500.0f);
    EXPECT_NEAR(app.drag.last_pressure, 1.0f + (target - 1.0f) * 0.5f, 1e-5f);
    motion(110, 100, 6.0); /* standing still eases back towards full pressure */
    float previous = 0.625f;
    EXPECT_NEAR(app.drag.last_pressure, previous + (1.0f - previous) * 0.5f, 1e-5f);
    EXPECT_DOUBLE_EQ(app.drag.last_time, 6.0);
    release(110, 100);
    app.pressure_speed = 0;
    press(10, 10, 1.0);
    motion(200, 10, 1.0);
    EXPECT_FLOAT_EQ(app.drag.last_pressure, 1.0f); /* off: always full pressure */
    release(200, 10);
}

TEST_F(CanvasInput, CtrlEDuringAStrokeActsAsE) {
    char png[1024];
    ASSERT_TRUE(platform_init());
    ASSERT_TRUE(platform_save_path("sketch.png", png, sizeof(png)));
    press(20, 20);
    down(ALLEGRO_KEY_LCTRL);
    down(ALLEGRO_KEY_E);
    EXPECT_EQ(app.brush.eraser, 1);
    EXPECT_EQ(app.tool, 0);
    struct stat info;
    EXPECT_NE(stat(png, &info), 0);
    up(ALLEGRO_KEY_LCTRL);
    release(20, 20);
    /* Not during a stroke Ctrl+E exports the canvas. */
    down(ALLEGRO_KEY_LCTRL);
    down(ALLEGRO_KEY_E);
    up(ALLEGRO_KEY_LCTRL);
    ASSERT_EQ(stat(png, &info), 0);
    std::string bytes = test_read_file(png);
    EXPECT_EQ(bytes.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
}

TEST_F(CanvasInput, CtrlSSavesAndCtrlOOpensTheSketch) {
    ASSERT_TRUE(platform_init());
    setenv("PLUMARO_NO_NATIVE_CHOOSER", "1", 1); /* no dialog: the proposed path is used */
    press(20, 20);
    motion(60, 20);
    release(60, 20);
    app.tool = 0;
    down(ALLEGRO_KEY_LCTRL);
    down(ALLEGRO_KEY_S);
    up(ALLEGRO_KEY_LCTRL);
    EXPECT_EQ(app.tool, 0); /* Ctrl+S is not the S key */
    char plm[1024];
    ASSERT_TRUE(platform_save_path("sketch.plm", plm, sizeof(plm)));
    struct stat info;
    ASSERT_EQ(stat(plm, &info), 0);
    EXPECT_EQ(test_read_file(plm).substr(0, 4), "PLM3");
    EXPECT_STREQ(app.doc_path, plm);
    /* Paint more, then Ctrl+O brings back the saved picture. */
    press(20, 100);
    motion(60, 100);
    release(60, 100);
    ASSERT_GT(alpha(40, 100), 200);
    DOCUMENT* before = app.doc;
    down(ALLEGRO_KEY_LCTRL);
    down(ALLEGRO_KEY_O);
    up(ALLEGRO_KEY_LCTRL);
    EXPECT_NE(app.doc, before);
    EXPECT_GT(alpha(40, 20), 200);
    EXPECT_EQ(alpha(40, 100), 0);
    /* A replaced document forgets where the previous one was saved. */
    EXPECT_STREQ(app.doc_path, "");
    unsetenv("PLUMARO_NO_NATIVE_CHOOSER");
}

TEST_F(CanvasInput, SpacePansAndItsReleaseStopsThePan) {
    down(ALLEGRO_KEY_SPACE);
    EXPECT_EQ(app.space_held, 1);
    press(100, 100);
    EXPECT_EQ(app.drag.panning, 1);
    EXPECT_EQ(app.stroke.active, 0);
    motion(130, 90);
    EXPECT_FLOAT_EQ(app.view.x, 30.0f);
    EXPECT_FLOAT_EQ(app.view.y, -10.0f);
    up(ALLEGRO_KEY_SPACE);
    EXPECT_EQ(app.drag.panning, 0);
    EXPECT_EQ(app.space_held, 0);
    motion(160, 90);
    EXPECT_FLOAT_EQ(app.view.x, 30.0f);
    release(160, 90);
    EXPECT_EQ(app.doc->undo->undo_stack->nb_items, 0u);
}

TEST_F(CanvasInput, MiddleButtonPansUntilReleased) {
    button(ALLEGRO_EVENT_MOUSE_BUTTON_DOWN, 3, 50, 50);
    EXPECT_EQ(app.drag.panning, 1);
    motion(70, 45);
    EXPECT_FLOAT_EQ(app.view.x, 20.0f);
    EXPECT_FLOAT_EQ(app.view.y, -5.0f);
    button(ALLEGRO_EVENT_MOUSE_BUTTON_UP, 3, 70, 45);
    EXPECT_EQ(app.drag.panning, 0);
    motion(90, 45);
    EXPECT_FLOAT_EQ(app.view.x, 20.0f);
    /* The right button does nothing. */
    button(ALLEGRO_EVENT_MOUSE_BUTTON_DOWN, 2, 50, 50);
    EXPECT_EQ(app.drag.panning, 0);
    EXPECT_EQ(app.stroke.active, 0);
}

TEST_F(CanvasInput, HiddenInterfaceCornerAndSymmetryDrag) {
    app.gui_visible = 0;
    press(30, 30);
    EXPECT_EQ(app.gui_visible, 1);
    EXPECT_EQ(app.stroke.active, 0);
    app.gui_visible = 0;
    press(40, 10);
    EXPECT_EQ(app.stroke.active, 1);
    release(40, 10);
    /* The corner grows with the interface. */
    app.ui_scale = 2.0f;
    app.gui_visible = 0;
    press(70, 70);
    EXPECT_EQ(app.gui_visible, 1);
    EXPECT_EQ(app.stroke.active, 0);
    app.ui_scale = 1.0f;
    app.symmetry_edit = 1;
    press(100, 120);
    EXPECT_EQ(app.drag.symmetry_dragging, 1);
    EXPECT_FLOAT_EQ(app.symmetry.cx, 100.0f);
    EXPECT_FLOAT_EQ(app.symmetry.cy, 120.0f);
    motion(-40, 900); /* clamped to the document */
    EXPECT_FLOAT_EQ(app.symmetry.cx, 0.0f);
    EXPECT_FLOAT_EQ(app.symmetry.cy, 512.0f);
    release(-40, 900);
    EXPECT_EQ(app.drag.symmetry_dragging, 0);
    EXPECT_EQ(app.doc->undo->undo_stack->nb_items, 1u);
}

TEST_F(CanvasInput, KeyboardTable) {
    down(ALLEGRO_KEY_E);
    EXPECT_EQ(app.brush.eraser, 1);
    down(ALLEGRO_KEY_B);
    EXPECT_EQ(app.brush.eraser, 0);
    down(ALLEGRO_KEY_S);
    EXPECT_EQ(app.tool, 3);
    down(ALLEGRO_KEY_L);
    EXPECT_EQ(app.tool, 4);
    down(ALLEGRO_KEY_B);
    EXPECT_EQ(app.tool, 0);
    down(ALLEGRO_KEY_G);
    EXPECT_EQ(app.grid.visible, 1);
    down(ALLEGRO_KEY_LSHIFT);
    down(ALLEGRO_KEY_G);
    up(ALLEGRO_KEY_LSHIFT);
    EXPECT_EQ(app.grid.snap, 1);
    EXPECT_EQ(app.grid.visible, 1);
    down(ALLEGRO_KEY_D);
    EXPECT_EQ(app.grid.diagonals, 1);
    down(ALLEGRO_KEY_TAB);
    EXPECT_EQ(app.gui_visible, 0);
    down(ALLEGRO_KEY_TAB);
    EXPECT_EQ(app.gui_visible, 1);
    down(ALLEGRO_KEY_F);
    EXPECT_NEAR(app.view.zoom, 0.92f * 240.0f / 512.0f, 1e-5f);
    app.dirty = 0;
    down(ALLEGRO_KEY_Q); /* not in the table: no redraw */
    EXPECT_EQ(app.dirty, 0);
}

TEST_F(CanvasInput, TwoFingersDuringAStrokeWithAndWithoutPalmRejection) {
    press(60, 60);
    motion(120, 60);
    ASSERT_EQ(app.stroke.active, 1);
    EXPECT_NE(brush_stroke_buffer_shown(), nullptr); /* paint waits in the stroke buffer */
    touch(ALLEGRO_EVENT_TOUCH_BEGIN, 1, 10, 10);
    touch(ALLEGRO_EVENT_TOUCH_BEGIN, 2, 60, 10);
    /* Palm rejection off: the stroke is undone. */
    EXPECT_EQ(app.stroke.active, 0);
    EXPECT_EQ(brush_stroke_buffer_shown(), nullptr);
    EXPECT_EQ(shown_alpha(90, 60), 0);
    EXPECT_EQ(app.doc->undo->undo_stack->nb_items, 0u);
    touch(ALLEGRO_EVENT_TOUCH_END, 1, 10, 10);
    touch(ALLEGRO_EVENT_TOUCH_END, 2, 60, 10);
    release(120, 60);

    /* An eraser stroke changes the layer at once; the gesture puts it back. */
    press(60, 260);
    motion(120, 260);
    release(120, 260);
    ASSERT_GT(alpha(90, 260), 200);
    app.brush.eraser = 1;
    press(60, 260);
    motion(120, 260);
    EXPECT_LT(shown_alpha(90, 260), 50);
    touch(ALLEGRO_EVENT_TOUCH_BEGIN, 5, 10, 10);
    touch(ALLEGRO_EVENT_TOUCH_BEGIN, 6, 60, 10);
    EXPECT_EQ(app.stroke.active, 0);
    EXPECT_GT(shown_alpha(90, 260), 200);
    touch(ALLEGRO_EVENT_TOUCH_END, 5, 10, 10);
    touch(ALLEGRO_EVENT_TOUCH_END, 6, 60, 10);
    release(120, 260);
    app.brush.eraser = 0;

    app.palm_rejection = 1;
    press(60, 160);
    motion(120, 160);
    touch(ALLEGRO_EVENT_TOUCH_BEGIN, 3, 10, 10);
    touch(ALLEGRO_EVENT_TOUCH_BEGIN, 4, 60, 10);
    EXPECT_EQ(app.stroke.active, 1); /* the palm is ignored, the stroke goes on */
    EXPECT_EQ(gesture_blocks_strokes(&app.gesture), 0);
    motion(180, 160);
    release(180, 160);
    EXPECT_GT(alpha(170, 160), 200);
    touch(ALLEGRO_EVENT_TOUCH_END, 3, 10, 10);
    touch(ALLEGRO_EVENT_TOUCH_END, 4, 60, 10);
}
