/* Interface scale, font size and first-canvas size rules of the application shell. */
#include <gtest/gtest.h>

#include "app_cli.h"
#include "app_internal.h"
#include "app_state.h"
#include "plumaro_app.h"
#include "t_log.h"
#include "test_support.h"

TEST(UiScale, DensityAndSizeChoice) {
    /* No override: exactly the size factor. */
    EXPECT_FLOAT_EQ(plumaro_app_ui_scale_for(1.0f, 0, 1), 1.0f);
    EXPECT_EQ(plumaro_app_font_size(plumaro_app_ui_scale_for(1.0f, 0, 1)), 18);
    EXPECT_FLOAT_EQ(plumaro_app_ui_scale_for(3.0f, 0, 1), 1.0f); /* density ignored without the variable */
    /* "3": base 2.0, font 36. "6": base 2.5. Empty: density 1.0 so base 1.0. */
    EXPECT_FLOAT_EQ(plumaro_app_ui_scale_for(3.0f, 1, 1), 2.0f);
    EXPECT_EQ(plumaro_app_font_size(2.0f), 36);
    EXPECT_FLOAT_EQ(plumaro_app_ui_scale_for(6.0f, 1, 1), 2.5f);
    EXPECT_FLOAT_EQ(plumaro_app_ui_scale_for(1.0f, 1, 1), 1.0f);
    /* Small with base 1: 0.85 and 18 * 0.85 + 0.5 = 15.8, truncated. */
    EXPECT_FLOAT_EQ(plumaro_app_ui_scale_for(1.0f, 0, 0), 0.85f);
    EXPECT_EQ(plumaro_app_font_size(0.85f), 15);
    EXPECT_FLOAT_EQ(plumaro_app_ui_scale_for(1.0f, 0, 2), 1.15f);
    EXPECT_FLOAT_EQ(plumaro_app_ui_scale_for(1.0f, 0, 3), 1.3f);
    /* Sizes outside 0..3 are clamped. */
    EXPECT_FLOAT_EQ(plumaro_app_ui_scale_for(1.0f, 0, -4), 0.85f);
    EXPECT_FLOAT_EQ(plumaro_app_ui_scale_for(1.0f, 0, 9), 1.3f);
    EXPECT_EQ(plumaro_app_font_size(0.1f), 8);
}

TEST(UiScale, FromTheEnvironment) {
    PLUMARO_APP app;
    memset(&app, 0, sizeof(app));
    app.ui_size = 1;
    const char* before = getenv("PLUMARO_TEST_DENSITY");
    std::string saved = before ? before : "";
    unsetenv("PLUMARO_TEST_DENSITY");
    plumaro_app_update_ui_scale(&app);
    EXPECT_FLOAT_EQ(app.ui_scale, 1.0f);
    setenv("PLUMARO_TEST_DENSITY", "3", 1);
    plumaro_app_update_ui_scale(&app);
    EXPECT_FLOAT_EQ(app.ui_scale, 2.0f);
    setenv("PLUMARO_TEST_DENSITY", "", 1);
    plumaro_app_update_ui_scale(&app);
    EXPECT_FLOAT_EQ(app.ui_scale, 1.0f);
    if (before)
        setenv("PLUMARO_TEST_DENSITY", saved.c_str(), 1);
    else
        unsetenv("PLUMARO_TEST_DENSITY");
}

TEST(FirstCanvas, SideFromMaximumBitmapSize) {
    EXPECT_EQ(plumaro_app_first_canvas_side(2048), 2048);
    EXPECT_EQ(plumaro_app_first_canvas_side(1), 1);
    EXPECT_EQ(plumaro_app_first_canvas_side(4095), 4095);
    EXPECT_EQ(plumaro_app_first_canvas_side(4096), 4096);
    EXPECT_EQ(plumaro_app_first_canvas_side(0), 4096);
    EXPECT_EQ(plumaro_app_first_canvas_side(8192), 4096);
    EXPECT_EQ(plumaro_app_first_canvas_side(-1), 4096);
}

TEST(States, TableAndBadIds) {
    const APP_STATE* splash = app_state_get(0);
    const APP_STATE* canvas = app_state_get(1);
    ASSERT_NE(splash, nullptr);
    ASSERT_NE(canvas, nullptr);
    EXPECT_STREQ(splash->name, "splash");
    EXPECT_STREQ(canvas->name, "canvas");
    EXPECT_NE(canvas->update, nullptr); /* a resting pointer's line catches up on the timer */
    test_log_capture_begin(LOG_ERR);
    EXPECT_EQ(app_state_get(2), nullptr);
    EXPECT_EQ(app_state_get(-1), nullptr);
    std::string log = test_log_capture_end();
    EXPECT_NE(log.find("bad state id 2"), std::string::npos);
    EXPECT_NE(log.find("bad state id -1"), std::string::npos);
    PLUMARO_APP app;
    memset(&app, 0, sizeof(app));
    test_log_capture_begin(LOG_ERR);
    EXPECT_EQ(app_state_switch(&app, 5), 0);
    test_log_capture_end();
    EXPECT_EQ(app_state_switch(NULL, 0), 0);
    EXPECT_EQ(app.state, nullptr);
}

TEST(Shell, NullArgumentsAreRefused) {
    test_log_capture_begin(LOG_DEBUG);
    EXPECT_EQ(plumaro_app_init(NULL, 0, NULL), 0);
    EXPECT_EQ(plumaro_app_run(NULL), 0);
    PLUMARO_APP app;
    memset(&app, 0, sizeof(app));
    EXPECT_EQ(plumaro_app_run(&app), 0);
    plumaro_app_shutdown(NULL);
    std::string log = test_log_capture_end();
    EXPECT_NE(log.find("if( !(app) ) assert"), std::string::npos);
    EXPECT_NE(log.find("if( !(app->queue) ) assert"), std::string::npos);
}

TEST(Shell, NoticesQueueInOrderAndTheOldestGivesWay) {
    static PLUMARO_APP app;
    plumaro_app_start_values(&app);
    std::string long_text = "Could not open " + std::string(1200, 'd') + "/end.ora";
    for (int i = 0; i < APP_NOTICES_MAX + 2; i++)
        plumaro_app_notice(&app, i % 2 ? APP_NOTICE_FAILURE : APP_NOTICE_INFO,
                           i == APP_NOTICES_MAX + 1 ? long_text.c_str() : std::to_string(i).c_str());
    EXPECT_EQ(app.notice_count, APP_NOTICES_MAX);
    EXPECT_EQ(app.dirty, 1);
    APP_NOTICE notice;
    for (int i = 2; i < APP_NOTICES_MAX + 1; i++) {
        ASSERT_EQ(plumaro_app_take_notice(&app, &notice), 1);
        EXPECT_EQ(std::string(notice.text), std::to_string(i));
        EXPECT_EQ(notice.kind, i % 2 ? APP_NOTICE_FAILURE : APP_NOTICE_INFO);
    }
    /* A path at the end of a long message is kept whole for the popup to shorten from the front. */
    ASSERT_EQ(plumaro_app_take_notice(&app, &notice), 1);
    EXPECT_EQ(std::string(notice.text), long_text);
    EXPECT_EQ(plumaro_app_take_notice(&app, &notice), 0);
    plumaro_app_changed(&app, APP_CHANGED_LAYERS);
    plumaro_app_changed(&app, APP_CHANGED_TOOL);
    EXPECT_EQ(app.changed, (uint32_t)(APP_CHANGED_LAYERS | APP_CHANGED_TOOL));
}

/* What a file manager hands the thumbnailer and a script hands --export: a
 * path stays as it is (even with a colon or a percent sign in it), a local
 * file: URI is decoded, anything that is not on this machine is refused. */
TEST(CommandLine, LocalPathsFromArguments) {
    char out[64];
    struct Case {
        const char* arg;
        const char* path; /* null: refused */
    } cases[] = {
        {"drawing.plm", "drawing.plm"},
        {"/home/ann/100%25 done.plm", "/home/ann/100%25 done.plm"},
        {"notes:v2.plm", "notes:v2.plm"},
        {"file:///home/ann/My%20Drawing%C3%A9.plm", "/home/ann/My Drawing\xC3\xA9.plm"},
        {"FILE://localhost/tmp/a%2fb.ora", "/tmp/a/b.ora"},
        {"file:/tmp/x.plm", "/tmp/x.plm"},
        {"file:///tmp/x.plm?query#part", "/tmp/x.plm"},
        {"file://otherhost/tmp/x.plm", NULL},
        {"smb://server/share/x.plm", NULL},
        {"file:///tmp/bad%2", NULL},
        {"file:///tmp/nul%00.plm", NULL},
        {"file://", NULL},
        {"", NULL},
        {"/a/path/that/is/longer/than/the/sixty-four/bytes/of/the/buffer.plm", NULL},
    };
    for (const Case& c : cases) {
        memset(out, 'x', sizeof(out));
        int ok = plumaro_app_cli_local_path(c.arg, out, sizeof(out));
        EXPECT_EQ(ok, c.path ? 1 : 0) << c.arg;
        EXPECT_STREQ(out, c.path ? c.path : "") << c.arg;
    }
    EXPECT_EQ(plumaro_app_cli_local_path(NULL, out, sizeof(out)), 0);
}
