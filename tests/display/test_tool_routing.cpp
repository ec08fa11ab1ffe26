/* Pointer input of the fill, gradient, selection, line and curve tools and of
 * floating selections, the clipboard and form commands, and Escape. */
#include <gtest/gtest.h>
#include <allegro5/allegro_primitives.h>
#include <math.h>

#include "app_internal.h"
#include "app_state.h"
#include "app_tools.h"
#include "canvas/brush.h"
#include "canvas/undo.h"
#include "plumaro_app.h"
#include "t_log.h"
#include "app_fixture.h"
#include "test_support.h"

class Tools : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(test_app_on_canvas(&app, 512)) << "no X display";
        app.running = 1;
    }
    void TearDown() override {
        selection_discard(&app.selection);
        if (app.clip_bitmap) al_destroy_bitmap(app.clip_bitmap);
        if (app.stroke.active) brush_stroke_end(&app.stroke, app.doc);
        brush_release_resources();
        document_free(&app.doc);
    }
    void send(ALLEGRO_EVENT event) { plumaro_app_handle_event(&app, &event); }
    void motion(float x, float y) {
        ALLEGRO_EVENT e = {};
        e.type = ALLEGRO_EVENT_MOUSE_AXES;
        e.mouse.x = (int)lroundf(x), e.mouse.y = (int)lroundf(y);
        send(e);
    }
    void mouse(int type, float x, float y) {
        ALLEGRO_EVENT e = {};
        e.type = type;
        e.mouse.x = (int)lroundf(x), e.mouse.y = (int)lroundf(y);
        e.mouse.button = 1;
        send(e);
    }
    void drag(float x0, float y0, float x1, float y1) {
        mouse(ALLEGRO_EVENT_MOUSE_BUTTON_DOWN, x0, y0);
        motion((x0 + x1) / 2, (y0 + y1) / 2);
        motion(x1, y1);
        mouse(ALLEGRO_EVENT_MOUSE_BUTTON_UP, x1, y1);
    }
    void key(int code) {
        ALLEGRO_EVENT e = {};
        e.type = ALLEGRO_EVENT_KEY_DOWN;
        e.keyboard.keycode = code;
        send(e);
    }
    void key_up(int code) {
        ALLEGRO_EVENT e = {};
        e.type = ALLEGRO_EVENT_KEY_UP;
        e.keyboard.keycode = code;
        send(e);
    }
    void ctrl(int code) {
        key(ALLEGRO_KEY_LCTRL);
        key(code);
        key_up(ALLEGRO_KEY_LCTRL);
    }
    void rgba(int x, int y, unsigned char out[4]) { test_pixel_rgba(app.doc->active_layer->bitmap, x, y, out); }
    int alpha(int x, int y) {
        unsigned char px[4];
        rgba(x, y, px);
        return px[3];
    }
    /* A filled red square painted straight into the layer and committed. */
    void red_square(int x, int y, int size) {
        ASSERT_TRUE(undo_begin(app.doc));
        al_set_target_bitmap(app.doc->active_layer->bitmap);
        if (app.doc->active_layer->needs_clear) {
            al_clear_to_color(al_map_rgba(0, 0, 0, 0));
            app.doc->active_layer->needs_clear = 0;
        }
        al_draw_filled_rectangle(x, y, x + size, y + size, al_map_rgb(255, 0, 0));
        undo_mark_dirty_rect(app.doc, x, y, x + size, y + size);
        ASSERT_TRUE(_undo_commit(app.doc, NULL, 0, 0));
        al_set_target_backbuffer(test_display());
    }
    size_t undo_count() const { return app.doc->undo->undo_stack->nb_items; }
    PLUMARO_APP app;
};

TEST_F(Tools, LineNeedsFourScreenPixelsAtAnyZoom) {
    app.tool = 5;
    app.view.zoom = 2.0f;
    view_zoom_at(&app.view, 1.0f, 0, 0); /* rebuild the transform */
    app.view.zoom = 1.0f;
    view_zoom_at(&app.view, 2.0f, 0, 0);
    ASSERT_FLOAT_EQ(app.view.zoom, 2.0f);
    /* 1.5 canvas pixels = 3 screen pixels: nothing. */
    drag(100, 100, 103, 100);
    EXPECT_FALSE(form_is_active(&app.form));
    EXPECT_EQ(app.drag.form_creating, 0);
    /* 2 canvas pixels = 4 screen pixels: a line. */
    drag(100, 100, 104, 100);
    ASSERT_TRUE(form_is_active(&app.form));
    EXPECT_EQ(app.form.kind, FORM_LINE);
    EXPECT_FLOAT_EQ(app.form.x[0], 50.0f);
    EXPECT_FLOAT_EQ(app.form.x[1], 52.0f);
}

TEST_F(Tools, CurvePointsMoveSnappedAndAPressOffPaintsIt) {
    app.tool = 6;
    drag(100, 100, 300, 100);
    ASSERT_TRUE(form_is_active(&app.form));
    ASSERT_EQ(app.form.kind, FORM_CURVE);
    ASSERT_EQ(app.form.count, 4);
    app.grid.visible = 1;
    app.grid.snap = 1;
    app.grid.spacing = 16.0f;
    /* Grab the end point and move it: it lands on the grid. */
    drag(app.form.x[3], app.form.y[3], 330, 141);
    EXPECT_FLOAT_EQ(app.form.x[3], 336.0f);
    EXPECT_FLOAT_EQ(app.form.y[3], 144.0f);
    EXPECT_EQ(undo_count(), 0u);
    app.grid.snap = 0;
    /* A press far off the curve paints it as one stroke and clears it. */
    mouse(ALLEGRO_EVENT_MOUSE_BUTTON_DOWN, 20, 450);
    EXPECT_FALSE(form_is_active(&app.form));
    EXPECT_EQ(undo_count(), 1u);
    EXPECT_GT(alpha(100, 100), 200);
    mouse(ALLEGRO_EVENT_MOUSE_BUTTON_UP, 20, 450);
    EXPECT_EQ(undo_count(), 1u);
}

TEST_F(Tools, EscapeClearsAFormBeforeItQuitsAndEnterCommits) {
    app.tool = 5;
    drag(50, 50, 150, 50);
    ASSERT_TRUE(form_is_active(&app.form));
    key(ALLEGRO_KEY_ESCAPE);
    EXPECT_FALSE(form_is_active(&app.form));
    EXPECT_EQ(app.running, 1);
    EXPECT_EQ(undo_count(), 0u);
    drag(50, 50, 150, 50);
    key(ALLEGRO_KEY_ENTER);
    EXPECT_FALSE(form_is_active(&app.form));
    EXPECT_EQ(undo_count(), 1u);
    EXPECT_GT(alpha(100, 50), 200);
    /* Changing the tool while a line is edited paints it first. */
    drag(50, 150, 150, 150);
    key(ALLEGRO_KEY_B);
    EXPECT_EQ(undo_count(), 2u);
    EXPECT_GT(alpha(100, 150), 200);
    key(ALLEGRO_KEY_ESCAPE);
    EXPECT_EQ(app.running, 0);
}

TEST_F(Tools, FillAtThePressOnTheDesktopAsOneUndoStep) {
    app.tool = 1;
    app.brush.color = al_map_rgb(0, 0, 255);
    mouse(ALLEGRO_EVENT_MOUSE_BUTTON_DOWN, 10, 10);
    EXPECT_EQ(app.drag.fill_pending, 0);
    EXPECT_EQ(undo_count(), 1u);
    unsigned char px[4];
    rgba(400, 400, px);
    EXPECT_EQ(px[2], 255);
    EXPECT_EQ(px[3], 255);
    mouse(ALLEGRO_EVENT_MOUSE_BUTTON_UP, 10, 10);
    EXPECT_EQ(undo_count(), 1u);
    ctrl(ALLEGRO_KEY_Z);
    EXPECT_EQ(alpha(400, 400), 0);
}

TEST_F(Tools, AFillInsideASelectionStopsAtItsOutline) {
    red_square(100, 100, 60);
    /* A lasso triangle over part of the square and empty canvas. */
    app.tool = 4;
    mouse(ALLEGRO_EVENT_MOUSE_BUTTON_DOWN, 90, 90);
    motion(250, 90);
    motion(90, 250);
    mouse(ALLEGRO_EVENT_MOUSE_BUTTON_UP, 90, 250);
    ASSERT_EQ(app.selection.state, SEL_FLOATING);
    app.tool = 1;
    app.brush.color = al_map_rgb(0, 0, 255);
    mouse(ALLEGRO_EVENT_MOUSE_BUTTON_DOWN, 200, 110);
    mouse(ALLEGRO_EVENT_MOUSE_BUTTON_UP, 200, 110);
    EXPECT_EQ(undo_count(), 2u);
    EXPECT_EQ(app.selection.state, SEL_FLOATING) << "the selection stays for the next fill";
    key(ALLEGRO_KEY_ENTER);
    unsigned char px[4];
    rgba(200, 110, px);
    EXPECT_EQ(px[2], 255);
    EXPECT_EQ(px[3], 255);
    rgba(130, 130, px);
    EXPECT_EQ(px[0], 255) << "the square inside the lasso is kept";
    EXPECT_EQ(px[2], 0);
    /* Along the lasso's slanted side x + y = 340, and outside it. */
    EXPECT_EQ(alpha(170, 165), 255);
    EXPECT_EQ(alpha(175, 170), 0);
    EXPECT_EQ(alpha(300, 110), 0);
    EXPECT_EQ(alpha(95, 300), 0);
    EXPECT_EQ(alpha(89, 120), 0);

    /* A box moved away from where it was drawn: laid down, then the fill
     * keeps to where it lies now. */
    app.tool = 3;
    drag(300, 300, 360, 350);
    ASSERT_EQ(app.selection.state, SEL_FLOATING);
    drag(330, 325, 430, 425);
    app.tool = 1;
    app.brush.color = al_map_rgb(0, 200, 0);
    mouse(ALLEGRO_EVENT_MOUSE_BUTTON_DOWN, 410, 420);
    mouse(ALLEGRO_EVENT_MOUSE_BUTTON_UP, 410, 420);
    EXPECT_EQ(app.selection.state, SEL_NONE);
    rgba(400, 400, px);
    EXPECT_EQ(px[1], 200);
    EXPECT_EQ(alpha(459, 449), 255);
    EXPECT_EQ(alpha(460, 420), 0);
    EXPECT_EQ(alpha(410, 450), 0);
    EXPECT_EQ(alpha(330, 325), 0) << "not where the box was drawn";
    ctrl(ALLEGRO_KEY_Z);
    EXPECT_EQ(alpha(400, 400), 0);
    /* The lasso's fill: its commit, then the fill itself. */
    ctrl(ALLEGRO_KEY_Z);
    ctrl(ALLEGRO_KEY_Z);
    ctrl(ALLEGRO_KEY_Z);
    EXPECT_EQ(alpha(200, 110), 0);
    EXPECT_EQ(alpha(130, 130), 255);
}

TEST_F(Tools, ToolChangeBetweenGradientPressAndReleaseLaysNothing) {
    app.tool = 2;
    mouse(ALLEGRO_EVENT_MOUSE_BUTTON_DOWN, 10, 10);
    EXPECT_EQ(app.drag.gradient_dragging, 1);
    motion(200, 10);
    key(ALLEGRO_KEY_B); /* tool 0 now */
    mouse(ALLEGRO_EVENT_MOUSE_BUTTON_UP, 200, 10);
    EXPECT_EQ(app.drag.gradient_dragging, 0);
    EXPECT_EQ(undo_count(), 0u);
    EXPECT_EQ(alpha(100, 10), 0);
    app.tool = 2;
    drag(10, 10, 200, 10);
    EXPECT_EQ(undo_count(), 1u);
    EXPECT_GT(alpha(100, 10), 0);
}

TEST_F(Tools, BoxSelectionMovedAndCommittedWithEnterThenUndone) {
    red_square(20, 20, 40);
    app.tool = 3;
    drag(10, 10, 70, 70); /* select around the square */
    ASSERT_EQ(app.selection.state, SEL_FLOATING);
    EXPECT_EQ(app.selection.dragging, false);
    drag(40, 40, 240, 140); /* move the float by (200, 100) */
    EXPECT_EQ(app.selection.state, SEL_FLOATING);
    key(ALLEGRO_KEY_ENTER);
    EXPECT_EQ(app.selection.state, SEL_NONE);
    EXPECT_EQ(alpha(40, 40), 0);
    EXPECT_EQ(alpha(240, 140), 255);
    EXPECT_EQ(undo_count(), 2u);
    ctrl(ALLEGRO_KEY_Z);
    EXPECT_EQ(alpha(40, 40), 255);
    EXPECT_EQ(alpha(240, 140), 0);
}

TEST_F(Tools, MovedFloatCentreLandsOnTheHalfStepLattice) {
    red_square(0, 0, 100);
    app.tool = 3;
    drag(0, 0, 100, 100); /* a 100 x 100 float centred at (50, 50) */
    ASSERT_EQ(app.selection.state, SEL_FLOATING);
    app.grid.visible = 1;
    app.grid.snap = 1;
    app.grid.spacing = 16.0f;
    mouse(ALLEGRO_EVENT_MOUSE_BUTTON_DOWN, 50, 50);
    ASSERT_EQ(app.selection.dragging, true);
    ASSERT_EQ(app.selection.drag_type, SELECTION_HANDLE_MOVE);
    /* The drag alone would put the centre at (13.7, 30.2). */
    app.pointer_x = 13.7f, app.pointer_y = 30.2f;
    ASSERT_TRUE(_tools_motion(&app));
    float cx, cy;
    ASSERT_TRUE(selection_get_center(&app.selection, &cx, &cy));
    EXPECT_NEAR(cx, 16.0f, 1e-4f);
    EXPECT_NEAR(cy, 32.0f, 1e-4f);
    mouse(ALLEGRO_EVENT_MOUSE_BUTTON_UP, 14, 30);
    EXPECT_EQ(app.selection.dragging, false);
    EXPECT_EQ(app.selection.state, SEL_FLOATING);
}

TEST_F(Tools, ResizeHandleOfARotatedFloatIsNotSnapped) {
    red_square(100, 100, 64);
    app.tool = 3;
    drag(100, 100, 164, 164);
    ASSERT_EQ(app.selection.state, SEL_FLOATING);
    app.grid.visible = 1;
    app.grid.snap = 1;
    app.grid.spacing = 32.0f;
    /* What the right-hand handle gives for the raw point 181 and for its
     * snapped value 192, computed on copies of the record. */
    auto scale_after = [&](float rotation, float x) {
        SELECTION copy = app.selection;
        copy.rotation = rotation;
        selection_drag_begin(&copy, SELECTION_HANDLE_RIGHT, 164, 132);
        selection_drag_update(&copy, x, 132.0f, false);
        return copy.scale_x;
    };
    ASSERT_NE(scale_after(0.0f, 181.0f), scale_after(0.0f, 192.0f));
    for (float rotation : {0.3f, 0.0f}) {
        app.selection.rotation = rotation;
        app.selection.scale_x = app.selection.scale_y = 1.0f;
        app.selection.dragging = true;
        selection_drag_begin(&app.selection, SELECTION_HANDLE_RIGHT, 164, 132);
        app.pointer_x = 181.0f, app.pointer_y = 132.0f;
        ASSERT_TRUE(_tools_motion(&app));
        float expected = scale_after(rotation, rotation == 0.0f ? 192.0f : 181.0f);
        EXPECT_FLOAT_EQ(app.selection.scale_x, expected) << "rotation " << rotation;
        selection_drag_end(&app.selection);
        app.selection.dragging = false;
    }
}

TEST_F(Tools, CopyPasteStepsDiagonallyAndCutRemoves) {
    EXPECT_EQ(plumaro_app_clipboard_copy(&app), 0); /* nothing floating */
    EXPECT_EQ(app.clip_bitmap, nullptr);
    EXPECT_EQ(plumaro_app_clipboard_paste(&app), 0);
    red_square(50, 50, 30);
    app.tool = 3;
    drag(50, 50, 80, 80);
    ASSERT_EQ(app.selection.state, SEL_FLOATING);
    int fx = app.selection.x, fy = app.selection.y;
    ctrl(ALLEGRO_KEY_C);
    ASSERT_NE(app.clip_bitmap, nullptr);
    ALLEGRO_BITMAP* first = app.clip_bitmap;
    for (int i = 1; i <= 3; i++) {
        ctrl(ALLEGRO_KEY_V); /* each paste lays the previous float down first */
        ASSERT_EQ(app.selection.state, SEL_FLOATING);
        EXPECT_EQ(app.selection.x, fx + 16 * i);
        EXPECT_EQ(app.selection.y, fy + 16 * i);
        EXPECT_EQ(app.tool, 3);
    }
    key(ALLEGRO_KEY_ENTER);
    EXPECT_EQ(alpha(fx + 48 + 2, fy + 48 + 2), 255);
    EXPECT_EQ(alpha(fx + 16 + 2, fy + 16 + 2), 255);
    EXPECT_EQ(alpha(fx + 2, fy + 2), 255); /* the original float went back down */
    /* Copy without a float keeps the clipboard image. */
    EXPECT_EQ(plumaro_app_clipboard_copy(&app), 0);
    EXPECT_EQ(app.clip_bitmap, first);
    /* Cut takes the float away as one undo step. */
    drag(fx + 48, fy + 48, fx + 78, fy + 78);
    ASSERT_EQ(app.selection.state, SEL_FLOATING);
    size_t before = undo_count();
    ctrl(ALLEGRO_KEY_X);
    EXPECT_EQ(app.selection.state, SEL_NONE);
    EXPECT_EQ(undo_count(), before + 1);
    EXPECT_EQ(alpha(fx + 48 + 20, fy + 48 + 20), 0);
    EXPECT_NE(app.clip_bitmap, first);
}

// Pastes while the mouse still paints: nothing may be shown that the stored
// drawing (the layer's backup) and the history do not get.
TEST_F(Tools, PastesDuringAStrokeLeaveNothingShownButUnstored) {
    red_square(50, 50, 30);
    app.tool = 3;
    drag(50, 50, 80, 80);
    ASSERT_EQ(app.selection.state, SEL_FLOATING);
    ctrl(ALLEGRO_KEY_C);
    key(ALLEGRO_KEY_ENTER);
    key(ALLEGRO_KEY_B);
    mouse(ALLEGRO_EVENT_MOUSE_BUTTON_DOWN, 300, 300);
    ASSERT_EQ(app.stroke.active, 1);
    ctrl(ALLEGRO_KEY_V);
    ASSERT_EQ(app.selection.state, SEL_FLOATING);
    int px = app.selection.x, py = app.selection.y;
    ctrl(ALLEGRO_KEY_V); /* would lay the first paste down inside the stroke's change */
    EXPECT_EQ(app.selection.state, SEL_FLOATING);
    EXPECT_EQ(app.selection.x, px) << "the first paste is kept, not dropped";
    mouse(ALLEGRO_EVENT_MOUSE_BUTTON_UP, 300, 300);
    EXPECT_EQ(app.stroke.active, 0);
    LAYER* layer = app.doc->active_layer;
    EXPECT_TRUE(test_bitmap_bytes(layer->bitmap) == test_bitmap_bytes(layer->backup))
        << "pixels shown on the layer that the stored drawing lacks";
    key(ALLEGRO_KEY_ENTER);
    EXPECT_EQ(app.selection.state, SEL_NONE);
    EXPECT_TRUE(test_bitmap_bytes(layer->bitmap) == test_bitmap_bytes(layer->backup));
    EXPECT_EQ(alpha(px + 25, py + 2), 255);
    EXPECT_EQ(app.doc->undo->open, 0);
}

TEST_F(Tools, FractionalOffsetIsRememberedRounded) {
    red_square(100, 100, 20);
    app.tool = 3;
    drag(100, 100, 120, 120);
    ASSERT_EQ(app.selection.state, SEL_FLOATING);
    app.selection.offset_x = 0.5f;
    app.selection.offset_y = -0.5f;
    ASSERT_EQ(plumaro_app_clipboard_copy(&app), 1);
    EXPECT_EQ(app.clip_x, app.selection.x + 1);
    EXPECT_EQ(app.clip_y, app.selection.y - 1);
}

TEST_F(Tools, LassoCancelledWithEscapeLeavesThePicture) {
    red_square(100, 100, 60);
    app.tool = 4;
    mouse(ALLEGRO_EVENT_MOUSE_BUTTON_DOWN, 90, 90);
    motion(180, 95);
    motion(170, 170);
    motion(95, 175);
    mouse(ALLEGRO_EVENT_MOUSE_BUTTON_UP, 95, 175);
    ASSERT_EQ(app.selection.state, SEL_FLOATING);
    EXPECT_EQ(alpha(130, 130), 0); /* lifted: a hole until commit */
    key(ALLEGRO_KEY_ESCAPE);
    EXPECT_EQ(app.selection.state, SEL_NONE);
    EXPECT_EQ(app.running, 1);
    EXPECT_EQ(alpha(130, 130), 255);
    EXPECT_EQ(undo_count(), 1u); /* only the square */
}

TEST_F(Tools, ABrushStrokeCanBeLiftedAndMoved) {
    mouse(ALLEGRO_EVENT_MOUSE_BUTTON_DOWN, 100, 100);
    motion(300, 100);
    mouse(ALLEGRO_EVENT_MOUSE_BUTTON_UP, 300, 100);
    ASSERT_GT(alpha(200, 100), 200);
    app.tool = 3;
    drag(80, 80, 320, 120);
    ASSERT_EQ(app.selection.state, SEL_FLOATING);
    drag(200, 100, 200, 400);
    key(ALLEGRO_KEY_ENTER);
    EXPECT_EQ(alpha(200, 100), 0);
    EXPECT_GT(alpha(200, 400), 200);
}

TEST_F(Tools, SettleLaysTheFloatDownBeforeTheForm) {
    /* The undo history must give back the form's paint first, then the
     * float's, whatever asked for the settle. */
    al_set_new_bitmap_flags(ALLEGRO_VIDEO_BITMAP);
    app.clip_bitmap = al_create_bitmap(10, 10);
    ASSERT_NE(app.clip_bitmap, nullptr);
    al_set_target_bitmap(app.clip_bitmap);
    al_clear_to_color(al_map_rgb(255, 0, 0));
    al_set_target_backbuffer(test_display());
    app.clip_x = app.clip_y = 184;
    ASSERT_EQ(plumaro_app_clipboard_paste(&app), 1); /* a float at (200, 200) */
    ASSERT_EQ(app.selection.state, SEL_FLOATING);
    app.brush.hardness = 1.0f;
    form_begin(&app.form, FORM_LINE, 20, 300, 120, 300);
    size_t before = app.doc->undo->undo_stack->nb_items;
    plumaro_app_settle(&app);
    EXPECT_NE(app.selection.state, SEL_FLOATING);
    EXPECT_FALSE(form_is_active(&app.form));
    ASSERT_EQ(app.doc->undo->undo_stack->nb_items, before + 2);
    EXPECT_GT(alpha(205, 205), 200);
    EXPECT_GT(alpha(70, 300), 200);
    ASSERT_EQ(undo_perform(app.doc), 1);
    EXPECT_EQ(alpha(70, 300), 0) << "the form was laid down last";
    EXPECT_GT(alpha(205, 205), 200);
    ASSERT_EQ(undo_perform(app.doc), 1);
    EXPECT_EQ(alpha(205, 205), 0);
}
