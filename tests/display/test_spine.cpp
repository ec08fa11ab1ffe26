/* The application spine: start-up, state switches, key handling, halt and
 * resume, the event loop and shutdown, on a real display. */
#include <gtest/gtest.h>

#include "app_internal.h"
#include "app_state.h"
#include "gui/gui.h"
#include "canvas/document_io.h"
#include <sys/stat.h>
#include <unistd.h>
#include "plumaro_app.h"
#include "t_log.h"
#include "test_support.h"

class Spine : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(test_display(), nullptr) << "no X display";
        dir_ = test_make_temp_dir("spine");
        setenv("APPDATA", dir_.c_str(), 1);
        unsetenv("PLUMARO_TEST_DENSITY");
        char arg0[] = "plumaro";
        char* argv[] = {arg0, NULL};
        test_log_capture_begin(LOG_INFO);
        ok_ = plumaro_app_init(&app_, 1, argv);
        /* plumaro_app_init sets its own level; keep capturing what it logs. */
        al_init_user_event_source(&source_);
        if (app_.queue) al_register_event_source(app_.queue, &source_);
    }
    void TearDown() override {
        if (app_.queue) al_unregister_event_source(app_.queue, &source_);
        plumaro_app_shutdown(&app_);
        al_destroy_user_event_source(&source_);
        log_ = test_log_capture_end();
        test_remove_tree(dir_);
    }
    void emit(ALLEGRO_EVENT event) { al_emit_user_event(&source_, &event, NULL); }
    void key(int keycode) {
        ALLEGRO_EVENT event = {};
        event.type = ALLEGRO_EVENT_KEY_DOWN;
        event.keyboard.keycode = keycode;
        event.keyboard.display = app_.display;
        plumaro_app_handle_event(&app_, &event);
    }
    void tick() {
        ALLEGRO_EVENT event = {};
        event.type = ALLEGRO_EVENT_TIMER;
        event.timer.source = app_.timer;
        plumaro_app_handle_event(&app_, &event);
    }
    PLUMARO_APP app_;
    ALLEGRO_EVENT_SOURCE source_;
    std::string dir_, log_;
    int ok_ = 0;
};

TEST_F(Spine, StartsInTheSplashWithASquareFirstDocument) {
    ASSERT_EQ(ok_, 1);
    EXPECT_EQ(app_.state_id, APP_STATE_SPLASH);
    EXPECT_EQ(app_.running, 1);
    EXPECT_EQ(app_.dirty, 1);
    EXPECT_EQ(app_.gui_visible, 1);
    EXPECT_EQ(app_.display_w, 1280);
    EXPECT_EQ(app_.display_h, 800);
    int max = al_get_display_option(app_.display, ALLEGRO_MAX_BITMAP_SIZE);
    int side = (max >= 1 && max < 4096) ? max : 4096;
    ASSERT_NE(app_.doc, nullptr);
    EXPECT_EQ(app_.doc->width, side);
    EXPECT_EQ(app_.doc->height, side);
    ASSERT_EQ(document_layer_count(app_.doc), 1);
    EXPECT_STREQ(app_.doc->active_layer->name->data, "Layer 1");
    EXPECT_FLOAT_EQ(app_.ui_scale, 1.0f);
    ASSERT_NE(app_.font, nullptr);
    EXPECT_EQ(al_get_font_line_height(app_.font) > 10, true);
    std::string log = test_log_capture_end();
    test_log_capture_begin(LOG_INFO);
    EXPECT_NE(log.find("Plumaro 1.3.9 starting"), std::string::npos);
    EXPECT_NE(log.find("display 1280x800"), std::string::npos);
    EXPECT_NE(log.find("state switch: (none) -> splash"), std::string::npos);
}

TEST_F(Spine, SplashEndsAfterTwoSecondsOfTicks) {
    ASSERT_EQ(ok_, 1);
    for (int i = 0; i < 118; i++) tick();
    EXPECT_EQ(app_.state_id, APP_STATE_SPLASH);
    for (int i = 0; i < 3; i++) tick(); /* 120 sixtieths, give or take float rounding */
    EXPECT_EQ(app_.state_id, APP_STATE_CANVAS);
    /* Escape with nothing to cancel ends the loop. */
    key(ALLEGRO_KEY_ESCAPE);
    EXPECT_EQ(app_.running, 0);
}

/* The first layer's texture is made once the first frame is up, or when the
 * canvas begins before any frame: either way a stroke lands on a clean layer. */
TEST_F(Spine, TheFirstLayerIsReadyAfterTheFirstFrameOrTheCanvas) {
    ASSERT_EQ(ok_, 1);
    plumaro_app_draw_frame(&app_);
    LAYER* layer = app_.doc->active_layer;
    ASSERT_NE(layer->bitmap, nullptr);
    EXPECT_EQ(al_get_bitmap_width(layer->bitmap), app_.doc->width);
    key(ALLEGRO_KEY_A);
    ASSERT_EQ(app_.state_id, APP_STATE_CANVAS);
    plumaro_app_draw_frame(&app_);
    unsigned char px[4];
    test_pixel_rgba(layer->bitmap, 7, 9, px);
    EXPECT_EQ(px[0] | px[1] | px[2] | px[3], 0);
}

TEST_F(Spine, TheKeyboardIsInstalledWithTheFirstFrameAndItsKeysArrive) {
    ASSERT_EQ(ok_, 1);
    /* Each case runs in a process of its own: nothing installed it before. */
    EXPECT_FALSE(al_is_keyboard_installed());
    plumaro_app_draw_frame(&app_);
    ASSERT_TRUE(al_is_keyboard_installed());
    EXPECT_TRUE(al_is_event_source_registered(app_.queue, al_get_keyboard_event_source()));
    EXPECT_EQ(app_.running, 1);
}

TEST_F(Spine, TheCanvasBeforeAnyFrameGetsTheFirstLayerReady) {
    ASSERT_EQ(ok_, 1);
    key(ALLEGRO_KEY_A);
    ASSERT_EQ(app_.state_id, APP_STATE_CANVAS);
    LAYER* layer = app_.doc->active_layer;
    ASSERT_NE(layer->bitmap, nullptr);
    BRUSH_STROKE stroke = {};
    EXPECT_TRUE(brush_stroke_begin(&stroke, app_.doc, &app_.brush, 20, 20, 1.0f, NULL));
    EXPECT_TRUE(brush_stroke_end(&stroke, app_.doc));
    unsigned char px[4];
    test_pixel_rgba(layer->backup, 20, 20, px);
    EXPECT_GT(px[3], 200);
    test_pixel_rgba(layer->bitmap, 200, 200, px);
    EXPECT_EQ(px[0] | px[1] | px[2] | px[3], 0);
}

TEST_F(Spine, AKeyOrButtonLeavesTheSplashAtOnce) {
    ASSERT_EQ(ok_, 1);
    key(ALLEGRO_KEY_A);
    EXPECT_EQ(app_.state_id, APP_STATE_CANVAS);
    EXPECT_EQ(app_.running, 1);
    app_state_switch(&app_, APP_STATE_SPLASH);
    ALLEGRO_EVENT press = {};
    press.type = ALLEGRO_EVENT_MOUSE_BUTTON_DOWN;
    press.mouse.button = 1;
    plumaro_app_handle_event(&app_, &press);
    EXPECT_EQ(app_.state_id, APP_STATE_CANVAS);
    std::string log = test_log_capture_end();
    test_log_capture_begin(LOG_INFO);
    EXPECT_NE(log.find("state switch: splash -> canvas"), std::string::npos);
    EXPECT_NE(log.find("canvas ready,"), std::string::npos);
}

TEST_F(Spine, EscapeInTheSplashQuitsAndCloseQuits) {
    ASSERT_EQ(ok_, 1);
    key(ALLEGRO_KEY_ESCAPE);
    EXPECT_EQ(app_.running, 0);
    EXPECT_EQ(app_.state_id, APP_STATE_SPLASH);
    app_.running = 1;
    ALLEGRO_EVENT close = {};
    close.type = ALLEGRO_EVENT_DISPLAY_CLOSE;
    close.display.source = app_.display;
    plumaro_app_handle_event(&app_, &close);
    EXPECT_EQ(app_.running, 0);
}

TEST_F(Spine, ResizeToTheSameSizeOnlyMarksARedraw) {
    ASSERT_EQ(ok_, 1);
    app_.dirty = 0;
    ALLEGRO_EVENT resize = {};
    resize.type = ALLEGRO_EVENT_DISPLAY_RESIZE;
    resize.display.source = app_.display;
    resize.display.width = 1280;
    resize.display.height = 800;
    plumaro_app_handle_event(&app_, &resize);
    EXPECT_EQ(app_.dirty, 1);
    EXPECT_EQ(app_.display_w, 1280);
    EXPECT_EQ(app_.display_h, 800);
}

TEST_F(Spine, HaltStopsDrawingAndResumeDropsStaleEvents) {
    ASSERT_EQ(ok_, 1);
    ALLEGRO_EVENT halt = {};
    halt.type = ALLEGRO_EVENT_DISPLAY_HALT_DRAWING;
    halt.display.source = app_.display;
    al_start_timer(app_.timer);
    plumaro_app_handle_event(&app_, &halt);
    EXPECT_EQ(app_.halted, 1);
    EXPECT_FALSE(al_get_timer_started(app_.timer));
    /* Queued while halted: a key that would have left the splash. */
    ALLEGRO_EVENT stale = {};
    stale.type = ALLEGRO_EVENT_KEY_DOWN;
    stale.keyboard.keycode = ALLEGRO_KEY_A;
    emit(stale);
    ALLEGRO_EVENT resume = {};
    resume.type = ALLEGRO_EVENT_DISPLAY_RESUME_DRAWING;
    resume.display.source = app_.display;
    app_.dirty = 0;
    plumaro_app_handle_event(&app_, &resume);
    EXPECT_EQ(app_.halted, 0);
    EXPECT_EQ(app_.dirty, 1);
    EXPECT_TRUE(al_get_timer_started(app_.timer));
    al_stop_timer(app_.timer);
    ALLEGRO_EVENT left;
    int keys = 0;
    while (al_get_next_event(app_.queue, &left)) keys += left.type == ALLEGRO_EVENT_KEY_DOWN;
    EXPECT_EQ(keys, 0);
    EXPECT_EQ(app_.state_id, APP_STATE_SPLASH);
    /* The layers were rebuilt from their backups. */
    EXPECT_EQ(app_.doc->active_layer->needs_clear, 0);
    std::string log = test_log_capture_end();
    test_log_capture_begin(LOG_INFO);
    EXPECT_NE(log.find("drawing halted"), std::string::npos);
    EXPECT_NE(log.find("drawing resumed"), std::string::npos);
}

TEST_F(Spine, TheLoopRunsUntilEscapeAndDrawsOnlyWhenIdle) {
    ASSERT_EQ(ok_, 1);
    ALLEGRO_EVENT escape = {};
    escape.type = ALLEGRO_EVENT_KEY_DOWN;
    escape.keyboard.keycode = ALLEGRO_KEY_ESCAPE;
    emit(escape);
    EXPECT_EQ(plumaro_app_run(&app_), 1);
    EXPECT_EQ(app_.running, 0);
    std::string log = test_log_capture_end();
    test_log_capture_begin(LOG_INFO);
    EXPECT_NE(log.find("main loop done"), std::string::npos);
}

TEST_F(Spine, ShutdownReleasesEverythingAndIsSafeTwice) {
    ASSERT_EQ(ok_, 1);
    plumaro_app_shutdown(&app_);
    EXPECT_EQ(app_.display, nullptr);
    EXPECT_EQ(app_.queue, nullptr);
    EXPECT_EQ(app_.timer, nullptr);
    EXPECT_EQ(app_.font, nullptr);
    EXPECT_EQ(app_.doc, nullptr);
    EXPECT_EQ(app_.state, nullptr);
    plumaro_app_shutdown(&app_);
    std::string log = test_log_capture_end();
    test_log_capture_begin(LOG_INFO);
    EXPECT_NE(log.find("Plumaro shut down"), std::string::npos);
}

/* Alpha of one pixel of a stored document's active layer (-1 when unreadable). */
static int _stored_alpha(const std::string& path, int x, int y) {
    DOCUMENT* doc = document_load(path.c_str());
    if (!doc) return -1;
    unsigned char px[4];
    test_pixel_rgba(doc->active_layer->backup, x, y, px);
    document_free(&doc);
    return px[3];
}

TEST_F(Spine, QuittingMidStrokeOrWithAFloatStoresThemInTheSession) {
    ASSERT_EQ(ok_, 1);
    key(ALLEGRO_KEY_A); /* to the canvas */
    ASSERT_EQ(app_.state_id, APP_STATE_CANVAS);
    view_init(&app_.view); /* screen and canvas coincide */
    plumaro_gui_set_visible(&app_, 0); /* the toolbar would take presses at x 100 */
    ALLEGRO_EVENT e = {};
    e.type = ALLEGRO_EVENT_MOUSE_BUTTON_DOWN;
    e.mouse.button = 1;
    e.mouse.x = 100, e.mouse.y = 100;
    plumaro_app_handle_event(&app_, &e);
    e.type = ALLEGRO_EVENT_MOUSE_AXES;
    e.mouse.x = 300;
    plumaro_app_handle_event(&app_, &e);
    ASSERT_EQ(app_.stroke.active, 1);
    ALLEGRO_EVENT close = {};
    close.type = ALLEGRO_EVENT_DISPLAY_CLOSE;
    emit(close); /* the window closes while the button is still down */
    ASSERT_EQ(plumaro_app_run(&app_), 1);
    std::string session = dir_ + "/Plumaro/session.plm";
    EXPECT_GT(_stored_alpha(session, 200, 100), 200) << "the stroke in progress was lost";

    /* A box selection lifted and moved, then the window closes. */
    app_.running = 1;
    app_.tool = 3;
    e.type = ALLEGRO_EVENT_MOUSE_BUTTON_DOWN;
    e.mouse.x = 80, e.mouse.y = 80;
    plumaro_app_handle_event(&app_, &e);
    e.type = ALLEGRO_EVENT_MOUSE_AXES;
    e.mouse.x = 320, e.mouse.y = 120;
    plumaro_app_handle_event(&app_, &e);
    e.type = ALLEGRO_EVENT_MOUSE_BUTTON_UP;
    plumaro_app_handle_event(&app_, &e);
    ASSERT_EQ(app_.selection.state, SEL_FLOATING);
    e.type = ALLEGRO_EVENT_MOUSE_BUTTON_DOWN;
    e.mouse.x = 200, e.mouse.y = 100;
    plumaro_app_handle_event(&app_, &e);
    e.type = ALLEGRO_EVENT_MOUSE_AXES;
    e.mouse.x = 200, e.mouse.y = 400;
    plumaro_app_handle_event(&app_, &e);
    e.type = ALLEGRO_EVENT_MOUSE_BUTTON_UP;
    plumaro_app_handle_event(&app_, &e);
    ASSERT_EQ(app_.selection.state, SEL_FLOATING);
    EXPECT_FLOAT_EQ(app_.selection.offset_y, 300.0f);
    emit(close);
    ASSERT_EQ(plumaro_app_run(&app_), 1);
    EXPECT_EQ(app_.selection.state, SEL_NONE);
    EXPECT_GT(_stored_alpha(session, 200, 400), 200) << "the lifted pixels were lost";
    EXPECT_EQ(_stored_alpha(session, 200, 100), 0);
}

TEST_F(Spine, TheSessionIsStoredWhileTheUserPausesAfterAChange) {
    ASSERT_EQ(ok_, 1);
    key(ALLEGRO_KEY_A);
    view_init(&app_.view);
    plumaro_gui_set_visible(&app_, 0); /* the toolbar would take presses at x 100 */
    std::string session = dir_ + "/Plumaro/session.plm";
    auto ticks = [&](double seconds) {
        for (int i = 0; i < (int)(seconds * 60.0 + 0.5); i++) tick();
    };
    ticks(PLUMARO_AUTOSAVE_SECONDS + 10);
    EXPECT_NE(access(session.c_str(), F_OK), 0) << "nothing changed, nothing to store";

    ALLEGRO_EVENT e = {};
    e.type = ALLEGRO_EVENT_MOUSE_BUTTON_DOWN;
    e.mouse.button = 1;
    e.mouse.x = 100, e.mouse.y = 100;
    plumaro_app_handle_event(&app_, &e);
    e.type = ALLEGRO_EVENT_MOUSE_AXES;
    e.mouse.x = 300;
    plumaro_app_handle_event(&app_, &e);
    /* Mid-stroke nothing is stored, however long the pause. */
    ticks(PLUMARO_AUTOSAVE_IDLE + 1);
    EXPECT_NE(access(session.c_str(), F_OK), 0);
    e.type = ALLEGRO_EVENT_MOUSE_BUTTON_UP;
    plumaro_app_handle_event(&app_, &e);
    ticks(PLUMARO_AUTOSAVE_IDLE - 0.5);
    EXPECT_NE(access(session.c_str(), F_OK), 0) << "stored while the user was still working";
    ticks(1.0);
    ASSERT_EQ(access(session.c_str(), F_OK), 0) << "the changed drawing was not stored";
    EXPECT_GT(_stored_alpha(session, 200, 100), 200);

    /* No change since: not written again. */
    struct stat before;
    ASSERT_EQ(stat(session.c_str(), &before), 0);
    unlink(session.c_str());
    ticks(PLUMARO_AUTOSAVE_SECONDS + 5);
    EXPECT_NE(access(session.c_str(), F_OK), 0);
    /* An undo is a change, but a lifted float waits until it is laid down. */
    ALLEGRO_EVENT ctrl = {};
    ctrl.type = ALLEGRO_EVENT_KEY_DOWN;
    ctrl.keyboard.keycode = ALLEGRO_KEY_LCTRL;
    plumaro_app_handle_event(&app_, &ctrl);
    key(ALLEGRO_KEY_Z);
    ctrl.type = ALLEGRO_EVENT_KEY_UP;
    plumaro_app_handle_event(&app_, &ctrl);
    ASSERT_EQ(document_layer_count(app_.doc), 1);
    app_.selection.state = SEL_SELECTING; /* as while a marquee is drawn */
    ticks(PLUMARO_AUTOSAVE_SECONDS + 5);
    EXPECT_NE(access(session.c_str(), F_OK), 0);
    app_.selection.state = SEL_NONE;
    ticks(1.0);
    ASSERT_EQ(access(session.c_str(), F_OK), 0);
    EXPECT_EQ(_stored_alpha(session, 200, 100), 0) << "the undo was not stored";
}
