/* Document commands and the session file on a real display: new documents
 * with their size limits and fallbacks, loading, the clean state after a
 * replacement, the session round trip, an interrupted session write and a
 * save past the file size limit. */
#include <dirent.h>
#include <signal.h>
#include <sys/resource.h>
#include <gtest/gtest.h>
#include <string.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "app_commands.h"
#include "app_persist.h"
#include "app_internal.h"
#include "app_state.h"
#include "canvas/document_io.h"
#include "gui/gui.h"
#include "gui/i18n.h"
#include "platform/platform.h"
#include "t_log.h"
#include "t_str.h"
#include "test_support.h"

namespace {

typedef std::vector<uint8_t> Bytes;

struct Allocations {
    std::vector<int> tried;
    int succeed_at_most; /* sizes above this fail; 0 fails every one */
};

int _allocate(int width, int height, void* user) {
    Allocations* a = (Allocations*)user;
    EXPECT_EQ(width, height);
    a->tried.push_back(width);
    return width <= a->succeed_at_most;
}

int _refuse_commit(const char*, const char*, void* user) {
    (*(int*)user)++;
    return 0;
}



std::vector<std::string> _files_starting(const std::string& dir, const std::string& prefix) {
    std::vector<std::string> out;
    DIR* d = opendir(dir.c_str());
    if (!d) return out;
    while (struct dirent* e = readdir(d))
        if (strncmp(e->d_name, prefix.c_str(), prefix.size()) == 0) out.push_back(e->d_name);
    closedir(d);
    return out;
}

class Commands : public ::testing::Test {
  protected:
    void SetUp() override {
        display_ = test_display();
        if (!display_) GTEST_SKIP() << "no X display";
        dir_ = test_make_temp_dir("commands");
        setenv("APPDATA", dir_.c_str(), 1);
        unsetenv("PLUMARO_TEST_DENSITY");
        save_ = dir_ + "/Plumaro";
        ASSERT_EQ(platform_make_dirs(save_.c_str()), 1);
        memset(&app_, 0, sizeof(app_));
        app_.display = display_;
        app_.display_w = al_get_display_width(display_);
        app_.display_h = al_get_display_height(display_);
        brush_defaults(&app_.brush);
        app_.brush_preset = -1;
        view_init(&app_.view);
        app_.doc = document_new(200, 200);
        ASSERT_NE(app_.doc, nullptr);
        ASSERT_NE(document_add_layer(app_.doc, "Layer 1"), nullptr);
        symmetry_init(&app_.symmetry, app_.doc);
        original_ = app_.doc;
    }
    void TearDown() override {
        document_set_new_hook(NULL, NULL);
        t_file_set_commit_hook(NULL, NULL);
        if (app_.doc) document_free(&app_.doc);
        brush_release_resources();
        if (!dir_.empty()) test_remove_tree(dir_);
    }
    // Runs the command with every allocation failing; returns the sizes tried.
    std::vector<int> failing_new(int size, int limit, int* result) {
        Allocations a = {{}, 0};
        document_set_new_hook(_allocate, &a);
        test_log_capture_begin(LOG_INFO);
        *result = _app_new_document_within(&app_, size, limit);
        log_ = test_log_capture_end();
        document_set_new_hook(NULL, NULL);
        return a.tried;
    }
    void expect_original_kept() {
        EXPECT_EQ(app_.doc, original_);
        EXPECT_EQ(app_.doc->width, 200);
        EXPECT_EQ(document_layer_count(app_.doc), 1);
    }
    // A small document with three distinct layers and a page template.
    DOCUMENT* layered(Bytes px[3]) {
        DOCUMENT* doc = document_new(96, 64);
        const char* names[3] = {"Sky", "Ink", "Notes"};
        for (int i = 0; i < 3; i++) {
            LAYER* l = document_add_layer(doc, names[i]);
            px[i] = test_paint_noise(l, 11u + (unsigned)i);
        }
        document_layer_at(doc, 0)->opacity = 0.25f;
        document_layer_at(doc, 1)->blend = 1;
        document_layer_at(doc, 2)->visible = 0;
        document_layer_at(doc, 2)->locked = 1;
        doc->template_index = 12;
        return doc;
    }
    void expect_layered(DOCUMENT* doc, Bytes px[3]) {
        ASSERT_NE(doc, nullptr);
        EXPECT_EQ(doc->width, 96);
        EXPECT_EQ(doc->height, 64);
        EXPECT_EQ(doc->template_index, 12);
        ASSERT_EQ(document_layer_count(doc), 3);
        const char* names[3] = {"Sky", "Ink", "Notes"};
        for (int i = 0; i < 3; i++) {
            LAYER* l = document_layer_at(doc, i);
            EXPECT_STREQ(l->name->data, names[i]);
            EXPECT_TRUE(test_bitmap_bytes(l->backup) == px[i]) << "layer " << i;
        }
        EXPECT_NEAR(document_layer_at(doc, 0)->opacity, 0.25f, 0.001f);
        EXPECT_EQ(document_layer_at(doc, 1)->blend, 1);
        EXPECT_EQ(document_layer_at(doc, 2)->visible, 0);
        EXPECT_EQ(document_layer_at(doc, 2)->locked, 1);
        EXPECT_EQ(doc->active_layer, document_layer_at(doc, 2));
        EXPECT_EQ(doc->undo->undo_stack->nb_items, 0u);
    }
    ALLEGRO_DISPLAY* display_ = nullptr;
    PLUMARO_APP app_;
    DOCUMENT* original_ = nullptr;
    std::string dir_, save_, log_;
};

}  // namespace

TEST_F(Commands, FailingAllocationsHalveTheSizeUntilBelow128) {
    int result = -1;
    std::vector<int> tried = failing_new(1000, 0, &result);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(tried, (std::vector<int>{1000, 500, 250, 125}));
    EXPECT_NE(log_.find("could not allocate any canvas, keeping the current document"), std::string::npos) << log_;
    expect_original_kept();

    /* 128 is still halved once; 64 is the last try. */
    tried = failing_new(128, 0, &result);
    EXPECT_EQ(tried, (std::vector<int>{128, 64}));
    expect_original_kept();
}

TEST_F(Commands, RequestedSizesAreClampedTo64Through16384) {
    int result = -1;
    std::vector<int> tried = failing_new(20000, 0, &result);
    ASSERT_FALSE(tried.empty());
    EXPECT_EQ(tried.front(), 16384);
    EXPECT_EQ(tried.back(), 64);
    EXPECT_EQ(tried.size(), 9u); /* 16384 .. 128, then 64 */
    tried = failing_new(10, 0, &result);
    EXPECT_EQ(tried, (std::vector<int>{64}));
    tried = failing_new(-5, 0, &result);
    EXPECT_EQ(tried, (std::vector<int>{64}));
    EXPECT_EQ(result, 0);
    expect_original_kept();

    /* Through the public command the display's own limit applies. */
    int limit = al_get_display_option(display_, ALLEGRO_MAX_BITMAP_SIZE);
    Allocations a = {{}, 0};
    document_set_new_hook(_allocate, &a);
    EXPECT_EQ(plumaro_app_new_document(&app_, 20000), 0);
    document_set_new_hook(NULL, NULL);
    ASSERT_FALSE(a.tried.empty());
    EXPECT_EQ(a.tried.front(), (limit > 0 && limit < 16384) ? limit : 16384);
    expect_original_kept();
}

TEST_F(Commands, TheGpuLimitClampsTheRequest) {
    int result = -1;
    std::vector<int> tried = failing_new(16384, 8192, &result);
    EXPECT_NE(log_.find("canvas 16384 clamped to the GPU bitmap limit 8192"), std::string::npos) << log_;
    ASSERT_FALSE(tried.empty());
    EXPECT_EQ(tried.front(), 8192);

    tried = failing_new(4096, 8192, &result);
    EXPECT_EQ(log_.find("clamped to the GPU bitmap limit"), std::string::npos) << log_;
    EXPECT_EQ(tried.front(), 4096);

    /* A limit below the smallest canvas: nothing is tried at all. */
    tried = failing_new(1000, 32, &result);
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(tried.empty());
    EXPECT_NE(log_.find("canvas 1000 clamped to the GPU bitmap limit 32"), std::string::npos) << log_;
    EXPECT_NE(log_.find("could not allocate any canvas, keeping the current document"), std::string::npos);
    expect_original_kept();
}

TEST_F(Commands, ANewDocumentAfterFailuresIsAdoptedClean) {
    /* A stroke open on the old document must not outlive it. */
    ASSERT_EQ(brush_stroke_begin(&app_.stroke, app_.doc, &app_.brush, 50, 50, 1.0f, &app_.symmetry), 1);
    brush_stroke_segment(&app_.stroke, app_.doc, &app_.brush, 90, 60, 1.0f);
    app_.symmetry.cx = 3.0f;
    app_.view.zoom = 7.0f;
    app_.dirty = 0;
    Allocations a = {{}, 300};
    document_set_new_hook(_allocate, &a);
    test_log_capture_begin(LOG_INFO);
    int result = _app_new_document_within(&app_, 1200, 0);
    std::string log = test_log_capture_end();
    document_set_new_hook(NULL, NULL);
    ASSERT_EQ(result, 1);
    EXPECT_EQ(a.tried, (std::vector<int>{1200, 600, 300}));
    ASSERT_NE(app_.doc, nullptr);
    EXPECT_EQ(app_.doc->width, 300);
    EXPECT_EQ(app_.doc->height, 300);
    ASSERT_EQ(document_layer_count(app_.doc), 1);
    EXPECT_STREQ(app_.doc->active_layer->name->data, "Layer 1");
    EXPECT_NE(log.find("new 300x300 document"), std::string::npos) << log;
    EXPECT_EQ(app_.stroke.active, 0);
    EXPECT_FLOAT_EQ(app_.symmetry.cx, 150.0f);
    EXPECT_FLOAT_EQ(app_.symmetry.cy, 150.0f);
    VIEW centred;
    view_init(&centred);
    view_center(&centred, 300, 300, app_.display_w, app_.display_h);
    EXPECT_FLOAT_EQ(app_.view.zoom, centred.zoom);
    EXPECT_FLOAT_EQ(app_.view.x, centred.x);
    EXPECT_FLOAT_EQ(app_.view.y, centred.y);
    EXPECT_EQ(app_.dirty, 1);
    original_ = app_.doc;

    /* Without a failing allocator a small request is taken as it is. */
    ASSERT_EQ(plumaro_app_new_document(&app_, 100), 1);
    EXPECT_EQ(app_.doc->width, 100);
    EXPECT_NE(app_.doc, original_);
}

TEST_F(Commands, AFailedLoadKeepsTheCurrentDocument) {
    test_log_capture_begin(LOG_DEBUG);
    EXPECT_EQ(plumaro_app_load_document(&app_, (save_ + "/missing.plm").c_str()), 0);
    std::string garbage = save_ + "/garbage.plm";
    test_write_file(garbage, "PLM3 but nothing else of a document");
    EXPECT_EQ(plumaro_app_load_document(&app_, garbage.c_str()), 0);
    EXPECT_EQ(plumaro_app_load_document(&app_, NULL), 0);
    EXPECT_EQ(plumaro_app_load_document(NULL, garbage.c_str()), 0);
    std::string log = test_log_capture_end();
    EXPECT_NE(log.find("if( !(path) ) assert"), std::string::npos);
    EXPECT_NE(log.find("if( !(app) ) assert"), std::string::npos);
    EXPECT_EQ(log.find("loaded document " + garbage), std::string::npos);
    expect_original_kept();
}

TEST_F(Commands, LoadingReplacesTheDocument) {
    Bytes px[3];
    DOCUMENT* doc = layered(px);
    std::string path = save_ + "/three.plm";
    ASSERT_EQ(document_save(doc, path.c_str()), 1);
    document_free(&doc);
    app_.dirty = 0;
    test_log_capture_begin(LOG_INFO);
    ASSERT_EQ(plumaro_app_load_document(&app_, path.c_str()), 1);
    std::string log = test_log_capture_end();
    EXPECT_NE(log.find("loaded document " + path), std::string::npos);
    EXPECT_EQ(app_.dirty, 1);
    expect_layered(app_.doc, px);
    EXPECT_FLOAT_EQ(app_.symmetry.cx, 48.0f);
    EXPECT_FLOAT_EQ(app_.symmetry.cy, 32.0f);
}

TEST_F(Commands, ChangingTheToolPutsTheEraserDown) {
    app_.brush.eraser = 1;
    plumaro_app_set_tool(&app_, 5);
    EXPECT_EQ(app_.tool, 5);
    EXPECT_EQ(app_.brush.eraser, 0);
    plumaro_app_set_tool(&app_, 0);
    EXPECT_EQ(app_.tool, 0);
    plumaro_app_set_tool(&app_, 9);
    plumaro_app_set_tool(&app_, -1);
    EXPECT_EQ(app_.tool, 0);
}

TEST_F(Commands, SessionRoundTripKeepsLayersNamesAndTemplate) {
    Bytes px[3];
    DOCUMENT* doc = layered(px);
    document_free(&app_.doc);
    app_.doc = doc;
    test_log_capture_begin(LOG_INFO);
    plumaro_app_session_persist(&app_);
    std::string log = test_log_capture_end();
    std::string path = save_ + "/session.plm";
    EXPECT_NE(log.find("session persisted to " + path), std::string::npos) << log;
    EXPECT_EQ(test_read_file(path).substr(0, 4), "PLM3");
    EXPECT_EQ(_files_starting(save_, "session.plm").size(), 1u);

    /* A fresh start with a blank document takes the session back. */
    document_free(&app_.doc);
    app_.doc = document_new(200, 200);
    document_add_layer(app_.doc, "Layer 1");
    ASSERT_EQ(plumaro_app_session_restore(&app_), 1);
    expect_layered(app_.doc, px);
}

TEST_F(Commands, SessionRestoreWithoutAFileKeepsTheDocument) {
    EXPECT_EQ(plumaro_app_session_restore(&app_), 0);
    expect_original_kept();
    /* A session that is not a document is refused the same way, and kept
     * aside: three in a row (so two fall within one second) keep three files. */
    for (int i = 0; i < 3; i++) {
        test_write_file(save_ + "/session.plm", "not a document " + std::to_string(i));
        EXPECT_EQ(plumaro_app_session_restore(&app_), 0);
        expect_original_kept();
    }
    std::vector<std::string> kept;
    for (const std::string& name : _files_starting(save_, "session-unreadable-"))
        kept.push_back(test_read_file(save_ + "/" + name));
    std::sort(kept.begin(), kept.end());
    EXPECT_EQ(kept, (std::vector<std::string>{"not a document 0", "not a document 1", "not a document 2"}));
}

TEST_F(Commands, AWriteStoppedBeforeTheRenameLeavesThePreviousSession) {
    Bytes px[3];
    DOCUMENT* doc = layered(px);
    document_free(&app_.doc);
    app_.doc = doc;
    plumaro_app_session_persist(&app_);
    std::string path = save_ + "/session.plm";
    std::string before = test_read_file(path);
    ASSERT_FALSE(before.empty());

    /* The drawing changes, and the process dies between the temporary file
     * reaching the disk and the rename. */
    layer_set_name(document_layer_at(app_.doc, 0), "Changed");
    test_paint_noise(document_layer_at(app_.doc, 1), 99);
    int calls = 0;
    t_file_set_commit_hook(_refuse_commit, &calls);
    test_log_capture_begin(LOG_INFO);
    plumaro_app_session_persist(&app_);
    std::string log = test_log_capture_end();
    t_file_set_commit_hook(NULL, NULL);
    EXPECT_EQ(calls, 1);
    EXPECT_NE(log.find("session persist: rename " + path + ".tmp"), std::string::npos) << log;
    EXPECT_NE(log.find(" -> " + path + " failed"), std::string::npos) << log;
    EXPECT_EQ(log.find("session persisted to"), std::string::npos) << log;
    EXPECT_EQ(test_read_file(path), before);
    EXPECT_EQ(_files_starting(save_, "session.plm").size(), 1u) << "temporary file left behind";

    /* The next start finds the drawing as it was last stored. */
    document_free(&app_.doc);
    app_.doc = document_new(200, 200);
    ASSERT_EQ(plumaro_app_session_restore(&app_), 1);
    expect_layered(app_.doc, px);
}

// A pause after a change stores the session; a replaced document starts its
// own history, so its first changes must not look already stored.
TEST_F(Commands, APauseStoresTheSessionAlsoAfterTheDocumentWasReplaced) {
    std::string path = save_ + "/session.plm";
    auto pause = [this]() {
        app_.since_autosave = PLUMARO_AUTOSAVE_SECONDS;
        app_.idle_seconds = PLUMARO_AUTOSAVE_IDLE;
        ALLEGRO_EVENT tick;
        memset(&tick, 0, sizeof(tick));
        tick.type = ALLEGRO_EVENT_TIMER;
        plumaro_app_handle_event(&app_, &tick);
    };
    auto stroke = [this]() {
        ASSERT_EQ(brush_stroke_begin(&app_.stroke, app_.doc, &app_.brush, 30, 30, 1.0f, NULL), 1);
        ASSERT_EQ(brush_stroke_end(&app_.stroke, app_.doc), 1);
    };
    stroke();
    pause();
    DOCUMENT* stored = document_load(path.c_str());
    ASSERT_NE(stored, nullptr) << "the first pause stores the drawing";
    EXPECT_EQ(stored->width, 200);
    document_free(&stored);

    ASSERT_EQ(_app_new_document_within(&app_, 128, 0), 1);
    stroke(); /* the new document's first change */
    pause();
    stored = document_load(path.c_str());
    ASSERT_NE(stored, nullptr);
    EXPECT_EQ(stored->width, 128) << "the session still holds the replaced document";
    document_free(&stored);
}

// The whole start-up, halt and loop end with the session and settings files.
class SessionSpine : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!test_display()) GTEST_SKIP() << "no X display";
        dir_ = test_make_temp_dir("session");
        setenv("APPDATA", dir_.c_str(), 1);
        unsetenv("PLUMARO_TEST_DENSITY");
        save_ = dir_ + "/Plumaro";
        ASSERT_EQ(platform_make_dirs(save_.c_str()), 1);
    }
    void TearDown() override {
        plumaro_app_shutdown(&app_);
        i18n_set_language(0);
        test_display();
        test_log_capture_end();
        test_remove_tree(dir_);
    }
    PLUMARO_APP app_;
    std::string dir_, save_;
};

TEST_F(SessionSpine, StartRestoresTheSessionAndHaltAndLoopEndStoreIt) {
    Bytes px;
    {
        DOCUMENT* doc = document_new(300, 200);
        LAYER* l = document_add_layer(doc, "Restored");
        px = test_paint_noise(l, 5);
        doc->template_index = 3;
        ASSERT_EQ(document_save(doc, (save_ + "/session.plm").c_str()), 1);
        document_free(&doc);
    }
    Bytes settings(124, 0);
    memcpy(&settings[0], "PSET", 4);
    settings[16] = 2;   /* French */
    settings[120] = 0;  /* Small */
    settings[32] = 50;  /* brush size */
    settings[36] = 100; /* opacity */
    settings[40] = 100; /* flow */
    settings[68] = 64;  /* grid size */
    settings[76] = 4;   /* radial splits */
    settings[112] = 48; /* text size */
    test_write_file(save_ + "/settings.dat", std::string(settings.begin(), settings.end()));

    char arg0[] = "plumaro";
    char* argv[] = {arg0, NULL};
    test_log_capture_begin(LOG_INFO);
    int ok = plumaro_app_init(&app_, 1, argv);
    if (!ok) {
        std::string l = test_log_capture_end();
        test_log_capture_begin(LOG_INFO);
        FAIL() << "start-up failed:\n" << l;
    }
    ASSERT_NE(app_.doc, nullptr);
    EXPECT_EQ(app_.doc->width, 300);
    EXPECT_EQ(app_.doc->height, 200);
    EXPECT_EQ(app_.doc->template_index, 3);
    ASSERT_EQ(document_layer_count(app_.doc), 1);
    EXPECT_STREQ(app_.doc->active_layer->name->data, "Restored");
    EXPECT_TRUE(test_bitmap_bytes(app_.doc->active_layer->backup) == px);
    EXPECT_FLOAT_EQ(app_.symmetry.cx, 150.0f);
    /* The settings were read before the font: Small gives 0.85. */
    EXPECT_EQ(app_.ui_size, 0);
    EXPECT_FLOAT_EQ(app_.ui_scale, 0.85f);
    EXPECT_EQ(app_.language, 2);
    EXPECT_FLOAT_EQ(app_.brush.size, 50.0f);
    EXPECT_EQ(app_.settings_pending, 0);
    EXPECT_EQ(app_.palette_pending, 0);

    /* A halt stores the settings and the session. */
    unlink((save_ + "/session.plm").c_str());
    unlink((save_ + "/settings.dat").c_str());
    layer_set_name(app_.doc->active_layer, "Halted");
    ALLEGRO_EVENT halt = {};
    halt.type = ALLEGRO_EVENT_DISPLAY_HALT_DRAWING;
    halt.display.source = app_.display;
    plumaro_app_handle_event(&app_, &halt);
    EXPECT_EQ(app_.halted, 1);
    EXPECT_EQ(test_read_file(save_ + "/settings.dat").size(), 128u);
    DOCUMENT* stored = document_load((save_ + "/session.plm").c_str());
    ASSERT_NE(stored, nullptr);
    EXPECT_STREQ(document_layer_at(stored, 0)->name->data, "Halted");
    document_free(&stored);
    ALLEGRO_EVENT resume = {};
    resume.type = ALLEGRO_EVENT_DISPLAY_RESUME_DRAWING;
    resume.display.source = app_.display;
    plumaro_app_handle_event(&app_, &resume);
    EXPECT_EQ(app_.halted, 0);

    /* The loop end stores them again, before "main loop done". */
    unlink((save_ + "/session.plm").c_str());
    layer_set_name(app_.doc->active_layer, "Ended");
    app_.running = 0;
    ASSERT_EQ(plumaro_app_run(&app_), 1);
    std::string log = test_log_capture_end();
    test_log_capture_begin(LOG_INFO);
    size_t persisted = log.rfind("session persisted to " + save_ + "/session.plm");
    size_t done = log.find("main loop done");
    ASSERT_NE(persisted, std::string::npos) << log;
    ASSERT_NE(done, std::string::npos);
    EXPECT_LT(persisted, done);
    EXPECT_LT(log.find("settings load: 124 bytes, pressure 0, palm 0, language 2"),
              log.find("previous session document restored"));
    stored = document_load((save_ + "/session.plm").c_str());
    ASSERT_NE(stored, nullptr);
    EXPECT_STREQ(document_layer_at(stored, 0)->name->data, "Ended");
    document_free(&stored);
}

/* Past the file size limit a save fails and says so, and the program goes
 * on: the limit's signal, which would end it, is ignored from the start. */
TEST_F(SessionSpine, AFileSizeLimitFailsTheSaveInsteadOfEndingTheProgram) {
    signal(SIGXFSZ, SIG_DFL); /* as a new process has it */
    char arg0[] = "plumaro";
    char* argv[] = {arg0, NULL};
    test_log_capture_begin(LOG_INFO);
    ASSERT_EQ(plumaro_app_init(&app_, 1, argv), 1);
    std::string target = save_ + "/big.plm";
    unsetenv("PLUMARO_NO_NATIVE_CHOOSER");
    setenv("PLUMARO_FILE_CHOICE", target.c_str(), 1);
    struct rlimit before, small;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
    small = before;
    small.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    plumaro_gui_request_save(&app_);
    setrlimit(RLIMIT_FSIZE, &before);
    unsetenv("PLUMARO_FILE_CHOICE");
    std::string log = test_log_capture_end();
    test_log_capture_begin(LOG_INFO);
    EXPECT_NE(log.find("Save failed."), std::string::npos) << log;
    EXPECT_TRUE(_files_starting(save_, "big.plm").empty()) << "no file, and no temporary one left";
}
