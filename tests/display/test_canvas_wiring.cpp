/* The canvas state's drawing and the shell's handling of the view, the
 * brush and the stroke: capture, halt, resume, resize and frame drawing. */
#include <gtest/gtest.h>
#include <string.h>

#include "app_internal.h"
#include "app_state.h"
#include "canvas/brush.h"
#include "canvas/brush_internal.h"
#include "canvas/undo.h"
#include "plumaro_app.h"
#include "test_support.h"

namespace {

class CanvasWiring : public ::testing::Test {
  protected:
    PLUMARO_APP app;
    void SetUp() override {
        ASSERT_NE(test_display(), nullptr);
        plumaro_app_start_values(&app);
        DOCUMENT* doc = document_new(64, 48);
        ASSERT_NE(doc, nullptr);
        plumaro_app_start_document(&app, doc);
        LAYER* layer = document_add_layer(app.doc, "Layer 1");
        ASSERT_NE(layer, nullptr);
        ALLEGRO_BITMAP* target = al_get_target_bitmap();
        al_set_target_bitmap(layer->bitmap);
        al_clear_to_color(al_map_rgba(0, 0, 0, 0));
        al_set_target_bitmap(target);
        layer->needs_clear = 0;
        app.display_w = 320;
        app.display_h = 240;
        app.brush.hardness = 1.0f;
        app.brush.color = al_map_rgb(255, 0, 0);
        app.state = app_state_get(APP_STATE_CANVAS);
        app.state_id = APP_STATE_CANVAS;
        app.state->enter(&app);
    }
    void TearDown() override {
        brush_release_resources();
        if (app.doc) document_free(&app.doc);
    }
    void send(int type) {
        ALLEGRO_EVENT ev;
        memset(&ev, 0, sizeof(ev));
        ev.type = type;
        plumaro_app_handle_event(&app, &ev);
    }
};

}  // namespace

TEST_F(CanvasWiring, EnterCentresTheView) {
    EXPECT_FLOAT_EQ(app.view.zoom, 1.0f);
    EXPECT_FLOAT_EQ(app.view.x, (320 - 64) / 2.0f);
    EXPECT_FLOAT_EQ(app.view.y, (240 - 48) / 2.0f);
}

TEST_F(CanvasWiring, StrokeCapturesAndHaltCommitsIt) {
    EXPECT_EQ(plumaro_app_capturing(&app), 0);
    ASSERT_EQ(brush_stroke_begin(&app.stroke, app.doc, &app.brush, 20, 20, 1.0f, NULL), 1);
    EXPECT_EQ(plumaro_app_capturing(&app), 1);
    send(ALLEGRO_EVENT_DISPLAY_HALT_DRAWING);
    EXPECT_EQ(app.halted, 1);
    EXPECT_EQ(app.stroke.active, 0);
    EXPECT_EQ(app.doc->undo->undo_stack->nb_items, 1u);
    unsigned char px[4];
    test_pixel_rgba(app.doc->active_layer->backup, 20, 20, px);
    EXPECT_EQ(px[0], 255); /* committed into the backup before anything is stored */
    EXPECT_EQ(px[3], 255);
}

TEST_F(CanvasWiring, ResumeDropsBrushResourcesAndStroke) {
    ASSERT_EQ(brush_stroke_begin(&app.stroke, app.doc, &app.brush, 20, 20, 1.0f, NULL), 1);
    ASSERT_NE(brush_stroke_buffer_shown(), nullptr);
    send(ALLEGRO_EVENT_DISPLAY_RESUME_DRAWING);
    EXPECT_EQ(app.stroke.active, 0);
    EXPECT_EQ(brush_stroke_buffer_shown(), nullptr);
    EXPECT_EQ(_stamp_cache_count(), 0);
    EXPECT_EQ(app.halted, 0);
}

// A stroke still open at a resume (begun while drawing was halted) must not
// leave its undo step open: that would refuse every later stroke and undo.
TEST_F(CanvasWiring, ResumeClosesTheOpenStrokeSoTheNextStrokeAndUndoWork) {
    ASSERT_EQ(brush_stroke_begin(&app.stroke, app.doc, &app.brush, 20, 20, 1.0f, NULL), 1);
    send(ALLEGRO_EVENT_DISPLAY_RESUME_DRAWING);
    EXPECT_EQ(app.doc->undo->open, 0);
    unsigned char px[4];
    test_pixel_rgba(app.doc->active_layer->bitmap, 20, 20, px);
    EXPECT_EQ(px[3], 0); /* the dropped stroke left nothing behind */
    ASSERT_EQ(brush_stroke_begin(&app.stroke, app.doc, &app.brush, 30, 30, 1.0f, NULL), 1);
    EXPECT_EQ(brush_stroke_end(&app.stroke, app.doc), 1);
    EXPECT_EQ(app.doc->undo->undo_stack->nb_items, 1u);
    EXPECT_EQ(undo_perform(app.doc), 1);
}

TEST_F(CanvasWiring, FrameShowsPaperLayersAndLiveStroke) {
    al_set_new_bitmap_flags(ALLEGRO_VIDEO_BITMAP);
    ALLEGRO_BITMAP* screen = al_create_bitmap(320, 240);
    ASSERT_NE(screen, nullptr);
    app.brush.opacity = 0.5f;
    ASSERT_EQ(brush_stroke_begin(&app.stroke, app.doc, &app.brush, 20.5f, 20.5f, 1.0f, NULL), 1);
    ALLEGRO_BITMAP* previous = al_get_target_bitmap();
    al_set_target_bitmap(screen);
    al_clear_to_color(al_map_rgb(40, 42, 46));
    _canvas_draw(&app);
    al_set_target_bitmap(previous);
    int ox = (320 - 64) / 2, oy = (240 - 48) / 2;
    unsigned char px[4];
    test_pixel_rgba(screen, ox + 50, oy + 40, px); /* paper */
    EXPECT_EQ(px[0], 255);
    EXPECT_EQ(px[1], 255);
    test_pixel_rgba(screen, ox + 20, oy + 20, px); /* half-strength red over white */
    EXPECT_NEAR(px[0], 255, 1);
    EXPECT_NEAR(px[1], 127.5, 1.5);
    test_pixel_rgba(screen, 5, 5, px); /* off the canvas */
    EXPECT_EQ(px[0], 40);
    brush_stroke_end(&app.stroke, app.doc);
    al_destroy_bitmap(screen);
}

TEST_F(CanvasWiring, LeaveEndsTheStroke) {
    ASSERT_EQ(brush_stroke_begin(&app.stroke, app.doc, &app.brush, 20, 20, 1.0f, NULL), 1);
    app.state->leave(&app);
    EXPECT_EQ(app.stroke.active, 0);
    EXPECT_EQ(app.doc->undo->undo_stack->nb_items, 1u);
}

TEST_F(CanvasWiring, LiveStrokeShowsTheColourItWillBeLaidDownWith) {
    /* A colour picked during a stroke must not tint what is on screen
     * differently from what the release stores. */
    al_set_new_bitmap_flags(ALLEGRO_VIDEO_BITMAP);
    ALLEGRO_BITMAP* screen = al_create_bitmap(320, 240);
    ASSERT_NE(screen, nullptr);
    ASSERT_EQ(brush_stroke_begin(&app.stroke, app.doc, &app.brush, 20.5f, 20.5f, 1.0f, NULL), 1);
    app.brush.color = al_map_rgb(0, 0, 255);
    app.brush.opacity = 0.25f;
    ALLEGRO_BITMAP* previous = al_get_target_bitmap();
    al_set_target_bitmap(screen);
    _canvas_draw(&app);
    al_set_target_bitmap(previous);
    int ox = (320 - 64) / 2, oy = (240 - 48) / 2;
    unsigned char shown[4], stored[4];
    test_pixel_rgba(screen, ox + 20, oy + 20, shown);
    EXPECT_NEAR(shown[0], 255, 1);
    EXPECT_NEAR(shown[2], 0, 1);
    ASSERT_EQ(brush_stroke_end(&app.stroke, app.doc), 1);
    test_pixel_rgba(app.doc->active_layer->backup, 20, 20, stored);
    EXPECT_EQ(stored[0], 255);
    EXPECT_EQ(stored[2], 0);
    al_destroy_bitmap(screen);
}

TEST_F(CanvasWiring, CancelClearsEveryDragFieldAndUndoesTheStroke) {
    /* Every byte of the drag record is set, so a field added later that the
     * cancel forgot would show here. */
    memset(&app.drag, 0xA5, sizeof(app.drag));
    ASSERT_EQ(brush_stroke_begin(&app.stroke, app.doc, &app.brush, 20, 20, 1.0f, NULL), 1);
    app.selection.dragging = true;
    app.form.dragging = 1;
    EXPECT_EQ(plumaro_app_capturing(&app), 1);
    plumaro_app_cancel_interaction(&app);
    APP_DRAG fresh = {};
    EXPECT_EQ(memcmp(&app.drag, &fresh, sizeof(fresh)), 0);
    EXPECT_EQ(app.stroke.active, 0);
    EXPECT_FALSE(app.selection.dragging);
    EXPECT_EQ(app.form.dragging, 0);
    EXPECT_EQ(plumaro_app_capturing(&app), 0);
    EXPECT_EQ(app.doc->undo->open, 0);
    EXPECT_EQ(app.doc->undo->undo_stack->nb_items, 0u) << "a cancelled stroke is not recorded";
    unsigned char px[4];
    test_pixel_rgba(app.doc->active_layer->bitmap, 20, 20, px);
    EXPECT_EQ(px[3], 0);
    /* Each capture on its own makes the loop keep every event for the canvas. */
    app.form.dragging = 1;
    EXPECT_EQ(plumaro_app_capturing(&app), 1);
    plumaro_app_cancel_interaction(&app);
    app.drag.panning = 1;
    EXPECT_EQ(plumaro_app_capturing(&app), 1);
    plumaro_app_cancel_interaction(&app);
    EXPECT_EQ(plumaro_app_capturing(&app), 0);
}

TEST_F(CanvasWiring, LosingTheFocusKeepsTheStrokeAndForgetsHeldKeys) {
    ASSERT_EQ(brush_stroke_begin(&app.stroke, app.doc, &app.brush, 20, 20, 1.0f, NULL), 1);
    app.space_held = 1;
    app.drag.panning = 1;
    send(ALLEGRO_EVENT_DISPLAY_SWITCH_IN);
    EXPECT_EQ(app.stroke.active, 1) << "gaining the focus ends nothing";
    send(ALLEGRO_EVENT_DISPLAY_SWITCH_OUT);
    EXPECT_EQ(app.stroke.active, 0);
    EXPECT_EQ(app.space_held, 0);
    EXPECT_EQ(app.drag.panning, 0);
    EXPECT_EQ(app.doc->undo->undo_stack->nb_items, 1u) << "the stroke's paint was kept";
}
