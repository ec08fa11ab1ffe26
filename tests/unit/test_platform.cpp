/* Save folder, document listing, asset search, file chooser overrides and the viewer. */
#include <gtest/gtest.h>
#include <allegro5/allegro.h>
#include <sys/stat.h>
#include <utime.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/platform_pen_internal.h"
#include "t_log.h"
#include "test_support.h"

/* Sets or unsets environment variables for one test and puts them back. */
class EnvGuard {
  public:
    explicit EnvGuard(std::initializer_list<const char*> names) {
        for (const char* name : names) {
            const char* value = getenv(name);
            saved_.push_back({name, value ? std::string(value) : std::string(), value != NULL});
        }
    }
    ~EnvGuard() {
        for (auto& entry : saved_) {
            if (entry.had)
                setenv(entry.name.c_str(), entry.value.c_str(), 1);
            else
                unsetenv(entry.name.c_str());
        }
    }

  private:
    struct Saved {
        std::string name, value;
        bool had;
    };
    std::vector<Saved> saved_;
};

static std::string _save_dir() {
    char out[1024];
    if (!platform_save_dir(out, sizeof(out))) return "<failed>";
    return out;
}

TEST(SaveFolder, ChoiceOfParent) {
    EnvGuard guard({"APPDATA", "XDG_DATA_HOME", "HOME"});
    setenv("APPDATA", "/tmp/appdata-x", 1);
    setenv("XDG_DATA_HOME", "/tmp/xdg", 1);
    EXPECT_EQ(_save_dir(), "/tmp/appdata-x/Plumaro");
    setenv("APPDATA", "", 1); /* empty counts as unset */
    EXPECT_EQ(_save_dir(), "/tmp/xdg/Plumaro");
    setenv("XDG_DATA_HOME", "relative/dir", 1); /* not absolute: ignored */
    setenv("HOME", "/home/someone", 1);
    EXPECT_EQ(_save_dir(), "/home/someone/.local/share/Plumaro");
    unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(_save_dir(), "/home/someone/.local/share/Plumaro");
    unsetenv("HOME");
    unsetenv("APPDATA");
    EXPECT_EQ(_save_dir(), "./save");
}

TEST(SaveFolder, TooLongIsAFailureNotATruncation) {
    EnvGuard guard({"APPDATA"});
    std::string longer(1100, 'a');
    setenv("APPDATA", ("/" + longer).c_str(), 1);
    char out[1024];
    test_log_capture_begin(LOG_ERR);
    EXPECT_FALSE(platform_save_dir(out, sizeof(out)));
    char path[1024];
    EXPECT_FALSE(platform_save_path("sketch.plm", path, sizeof(path)));
    EXPECT_EQ(platform_list_documents(path, sizeof(path)), -1);
    std::string log = test_log_capture_end();
    EXPECT_NE(log.find("save dir path truncated (need 1110 bytes)"), std::string::npos) << log;
}

TEST(SaveFolder, InitCreatesMissingParentsAndSavePathFits) {
    EnvGuard guard({"APPDATA"});
    std::string dir = test_make_temp_dir("savedir");
    setenv("APPDATA", (dir + "/deep/er").c_str(), 1);
    test_log_capture_begin(LOG_INFO);
    ASSERT_TRUE(platform_init());
    std::string log = test_log_capture_end();
    EXPECT_NE(log.find("desktop platform ready, save dir: " + dir + "/deep/er/Plumaro"), std::string::npos);
    struct stat info;
    ASSERT_EQ(stat((dir + "/deep/er/Plumaro").c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_TRUE(platform_init()); /* an existing folder is fine */
    char out[1024];
    ASSERT_TRUE(platform_save_path("sketch.plm", out, sizeof(out)));
    EXPECT_EQ(std::string(out), dir + "/deep/er/Plumaro/sketch.plm");
    size_t needed = strlen(out) + 1;
    EXPECT_FALSE(platform_save_path("sketch.plm", out, needed - 1));
    EXPECT_TRUE(platform_save_path("sketch.plm", out, needed));
    /* A file where the folder should be cannot be turned into a folder. */
    test_write_file(dir + "/blocker", "x");
    setenv("APPDATA", (dir + "/blocker").c_str(), 1);
    test_log_capture_begin(LOG_ERR);
    EXPECT_FALSE(platform_init());
    EXPECT_NE(test_log_capture_end().find("could not create save dir"), std::string::npos);
    test_remove_tree(dir);
}

TEST(DocumentList, NewestComesFirst) {
    EnvGuard guard({"APPDATA"});
    std::string dir = test_make_temp_dir("docs-newest");
    setenv("APPDATA", dir.c_str(), 1);
    std::string save = dir + "/Plumaro";
    mkdir(save.c_str(), 0700);
    const char* names[] = {"old.plm", "newest.plm", "middle.plm"};
    const time_t when[] = {1000000, 3000000, 2000000};
    for (int i = 0; i < 3; i++) {
        test_write_file(save + "/" + names[i], "x");
        struct utimbuf times = {when[i], when[i]};
        ASSERT_EQ(utime((save + "/" + names[i]).c_str(), &times), 0);
    }
    char out[256];
    EXPECT_EQ(platform_list_documents(out, sizeof(out)), 3);
    EXPECT_STREQ(out, "newest.plm\nmiddle.plm\nold.plm");
    test_remove_tree(dir);
}

TEST(DocumentList, NamesCountsAndBufferLimits) {
    EnvGuard guard({"APPDATA"});
    std::string dir = test_make_temp_dir("docs");
    setenv("APPDATA", dir.c_str(), 1);
    std::string save = dir + "/Plumaro";
    char out[256];
    /* No folder yet: nothing to list. */
    EXPECT_EQ(platform_list_documents(out, sizeof(out)), 0);
    mkdir(save.c_str(), 0700);
    test_write_file(save + "/a.plm", "x");
    test_write_file(save + "/notes.txt", "x");
    test_write_file(save + "/.plm", "x");
    test_write_file(save + "/x.plmz", "x");
    EXPECT_EQ(platform_list_documents(out, sizeof(out)), 1);
    EXPECT_STREQ(out, "a.plm");
    /* 5 + 1 < 6 fails: nothing fits. */
    strcpy(out, "junk");
    EXPECT_EQ(platform_list_documents(out, 6), 0);
    EXPECT_STREQ(out, "");
    EXPECT_EQ(platform_list_documents(out, 7), 1);
    EXPECT_STREQ(out, "a.plm");
    test_write_file(save + "/bb.plm", "x");
    EXPECT_EQ(platform_list_documents(out, sizeof(out)), 2);
    std::string text(out);
    EXPECT_TRUE(text == "a.plm\nbb.plm" || text == "bb.plm\na.plm") << text;
    /* Room for the first name only: the count so far. */
    size_t first = text.find('\n');
    EXPECT_EQ(platform_list_documents(out, text.size() + 1), 1); /* needs written + name + 2 < size */
    EXPECT_EQ(std::string(out), text.substr(0, first));
    EXPECT_EQ(platform_list_documents(out, text.size() + 2), 2);
    test_log_capture_begin(LOG_DEBUG);
    EXPECT_EQ(platform_list_documents(NULL, 10), -1);
    EXPECT_NE(test_log_capture_end().find("if( !(out) ) assert"), std::string::npos);
    test_remove_tree(dir);
}

TEST(Assets, SearchOrder) {
    test_allegro_init();
    ALLEGRO_PATH* res = al_get_standard_path(ALLEGRO_RESOURCES_PATH);
    ASSERT_NE(res, nullptr);
    std::string base = al_path_cstr(res, '/');
    al_destroy_path(res);
    if (base.back() != '/') base += '/';
    std::string name = "probe-" + std::to_string(getpid()) + ".txt";
    std::string share = base + "../share/plumaro/assets/";
    ASSERT_EQ(system(("mkdir -p '" + share + "' '" + base + "assets'").c_str()), 0);
    char out[1024];

    /* Missing everywhere: the working-directory path, unchecked. */
    ASSERT_TRUE(platform_asset_path(name.c_str(), out, sizeof(out)));
    EXPECT_EQ(std::string(out), "./assets/" + name);
    /* Only under ../share/plumaro/assets/: found there. */
    test_write_file(share + name, "s");
    ASSERT_TRUE(platform_asset_path(name.c_str(), out, sizeof(out)));
    EXPECT_EQ(std::string(out), share + name);
    /* Beside the executable wins. */
    test_write_file(base + "assets/" + name, "b");
    ASSERT_TRUE(platform_asset_path(name.c_str(), out, sizeof(out)));
    EXPECT_EQ(std::string(out), base + "assets/" + name);
    /* A buffer too small for the candidates falls through to the last one. */
    char tiny[16];
    EXPECT_FALSE(platform_asset_path(name.c_str(), tiny, sizeof(tiny)));
    unlink((share + name).c_str());
    unlink((base + "assets/" + name).c_str());
    EXPECT_FALSE(platform_asset_path(NULL, out, sizeof(out)));
    EXPECT_FALSE(platform_asset_path(name.c_str(), NULL, 10));
}

TEST(FileChooser, OverridePrecedence) {
    EnvGuard guard({"PLUMARO_NO_NATIVE_CHOOSER", "PLUMARO_FILE_CHOICE"});
    char out[64];
    EXPECT_EQ(platform_choose_file(0, NULL, "*.plm", NULL, 10), -1);
    setenv("PLUMARO_NO_NATIVE_CHOOSER", "", 1); /* set at all disables */
    setenv("PLUMARO_FILE_CHOICE", "/tmp/chosen.plm", 1);
    EXPECT_EQ(platform_choose_file(1, NULL, "*.plm", out, sizeof(out)), -1);
    unsetenv("PLUMARO_NO_NATIVE_CHOOSER");
    EXPECT_EQ(platform_choose_file(1, NULL, "*.plm", out, sizeof(out)), 1);
    EXPECT_STREQ(out, "/tmp/chosen.plm");
    EXPECT_EQ(platform_choose_file(0, NULL, "*.plm", out, 15), -1); /* 15 chars + NUL do not fit */
    EXPECT_EQ(platform_choose_file(0, NULL, "*.plm", out, 16), 1);
}

class Reveal : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = test_make_temp_dir("reveal");
        saved_path_ = getenv("PATH") ? getenv("PATH") : "";
        had_no_reveal_ = getenv("PLUMARO_NO_REVEAL") != NULL;
        unsetenv("PLUMARO_NO_REVEAL");
    }
    void TearDown() override {
        setenv("PATH", saved_path_.c_str(), 1);
        if (had_no_reveal_) setenv("PLUMARO_NO_REVEAL", "1", 1);
        test_remove_tree(dir_);
    }
    void fake_opener(int status) {
        std::string script = "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + dir_ + "/args'\nexit " +
                             std::to_string(status) + "\n";
        test_write_file(dir_ + "/xdg-open", script);
        chmod((dir_ + "/xdg-open").c_str(), 0755);
        setenv("PATH", (dir_ + ":/usr/bin:/bin").c_str(), 1);
    }
    std::string dir_, saved_path_;
    bool had_no_reveal_ = false;
};

TEST_F(Reveal, PathIsOneArgumentNeverAShellCommand) {
    fake_opener(0);
    std::string hostile = dir_ + "/a picture; touch " + dir_ + "/pwned $(touch " + dir_ + "/pwned2).png";
    EXPECT_EQ(platform_reveal_export(hostile.c_str()), 1);
    EXPECT_EQ(test_read_file(dir_ + "/args"), hostile + "\n");
    EXPECT_NE(access((dir_ + "/pwned").c_str(), F_OK), 0);
    EXPECT_NE(access((dir_ + "/pwned2").c_str(), F_OK), 0);
}

TEST_F(Reveal, FailuresAndOptOut) {
    fake_opener(3);
    test_log_capture_begin(LOG_ERR);
    EXPECT_EQ(platform_reveal_export("/tmp/x.png"), 0);
    EXPECT_NE(test_log_capture_end().find("could not open /tmp/x.png with the system viewer"), std::string::npos);
    setenv("PATH", dir_.c_str(), 1);
    unlink((dir_ + "/xdg-open").c_str());
    test_log_capture_begin(LOG_ERR);
    EXPECT_EQ(platform_reveal_export("/tmp/x.png"), 0);
    EXPECT_NE(test_log_capture_end().find("could not open /tmp/x.png"), std::string::npos);
    setenv("PLUMARO_NO_REVEAL", "1", 1);
    EXPECT_EQ(platform_reveal_export("/tmp/x.png"), 1);
}

TEST(PlatformFixed, DesktopAnswers) {
    EnvGuard guard({"PLUMARO_TEST_DENSITY"});
    EXPECT_EQ(platform_display_flags(), 21);
    EXPECT_EQ(platform_can_quit(), 1);
    EXPECT_EQ(platform_storage_ready(), 1);
    EXPECT_EQ(platform_is_touch_primary(), 0);
    EXPECT_EQ(platform_publish_file("a", "b", "image/png"), -1);
    char out[8] = "x";
    EXPECT_EQ(platform_last_error(out, sizeof(out)), 0);
    EXPECT_STREQ(out, "");
    EXPECT_EQ(platform_resolve_document("a.plm", out), -1);
    EXPECT_EQ(platform_take_import(out, sizeof(out)), 0);
    unsetenv("PLUMARO_TEST_DENSITY");
    EXPECT_FLOAT_EQ(platform_display_density(), 1.0f);
    setenv("PLUMARO_TEST_DENSITY", "2.25", 1);
    EXPECT_FLOAT_EQ(platform_display_density(), 2.25f);
    setenv("PLUMARO_TEST_DENSITY", "dense", 1);
    test_log_capture_begin(LOG_WARNING);
    EXPECT_FLOAT_EQ(platform_display_density(), 1.0f);
    EXPECT_NE(test_log_capture_end().find("PLUMARO_TEST_DENSITY"), std::string::npos);
}

/* ---- the pen: recognising devices, decoding their events, matching ---- */

/* Stand-ins for the atoms a server gives the axis labels. */
static const Atom kPressure = 301, kTiltX = 302, kTiltY = 303, kAbs = 304;
static const PLATFORM_PEN_ATOMS kAtoms = {kPressure, kTiltX, kTiltY};

/* A device as XIQueryDevice lists it: one valuator per label, numbered in order. */
struct FakeDevice {
    XIValuatorClassInfo axes[6] = {};
    XIAnyClassInfo* classes[6] = {};
    XIDeviceInfo info = {};
    FakeDevice(const char* name, std::initializer_list<std::pair<Atom, double>> labels_max,
               int mode = XIModeAbsolute, int use = XISlavePointer) {
        info = {11, (char*)name, use, 2, True, 0, classes};
        for (const auto& a : labels_max) {
            XIValuatorClassInfo& v = axes[info.num_classes];
            v.type = XIValuatorClass;
            v.number = info.num_classes;
            v.label = a.first;
            v.min = a.first == kTiltX || a.first == kTiltY ? -64 : 0;
            v.max = a.second;
            v.mode = mode;
            classes[info.num_classes++] = (XIAnyClassInfo*)&v;
        }
    }
};

/* An event of device 11 with valuators (number, value), packed as the server
 * packs them: only those present, in rising order. */
struct FakeEvent {
    unsigned char mask[2] = {0}, buttons[1] = {0};
    double values[8] = {0};
    XIDeviceEvent event = {};
    FakeEvent(int evtype, int detail, std::initializer_list<std::pair<int, double>> axes) {
        event.evtype = evtype;
        event.detail = detail;
        event.deviceid = event.sourceid = 11;
        event.event_x = 40.25;
        event.event_y = 70.5;
        event.time = 123456;
        int n = 0;
        for (const auto& a : axes) {
            XISetMask(mask, a.first);
            values[n++] = a.second;
        }
        event.valuators = {(int)sizeof(mask), mask, values};
        event.buttons = {(int)sizeof(buttons), buttons};
    }
};

TEST(PenDevices, APressureAxisWithAbsolutePositionOrAPenNameMakesAPen) {
    PLATFORM_PEN_DEVICE d;
    /* No word of a pen in the name, but pressure and absolute position. */
    FakeDevice huion("HUION Tablet_H640P", {{kAbs, 32767}, {kAbs, 32767}, {kPressure, 8191}, {kTiltX, 63}});
    ASSERT_EQ(_platform_pen_device_from_info(&huion.info, &kAtoms, &d), 1);
    EXPECT_EQ(d.pressure_axis, 2);
    EXPECT_EQ(d.tilt_x_axis, 3);
    EXPECT_EQ(d.tilt_y_axis, -1);
    /* A stylus without a pressure sensor counts: its eraser end matters. */
    FakeDevice bare("Generic USB stylus", {{kAbs, 100}, {kAbs, 100}});
    ASSERT_EQ(_platform_pen_device_from_info(&bare.info, &kAtoms, &d), 1);
    EXPECT_EQ(d.pressure_axis, -1);
    /* Not pens: a touchpad's pressure on a relative pointer, a finger on a pen
     * display, a tablet's mouse interface (names count whole words), and a
     * floating pen that moves no pointer. */
    FakeDevice touchpad("SynPS/2 Synaptics TouchPad", {{kAbs, 1}, {kAbs, 1}, {kPressure, 255}}, XIModeRelative);
    FakeDevice finger("Wacom ISDv4 E6 Pen Finger", {{kAbs, 4096}, {kAbs, 4096}, {kPressure, 255}});
    FakeDevice mouse("UGTABLET 10 inch PenTablet Mouse", {{kAbs, 100}, {kAbs, 100}});
    FakeDevice floating("Wacom Intuos S Pen stylus", {{kAbs, 1}, {kPressure, 2047}}, XIModeAbsolute, XIFloatingSlave);
    for (FakeDevice* no : {&touchpad, &finger, &mouse, &floating})
        EXPECT_EQ(_platform_pen_device_from_info(&no->info, &kAtoms, &d), 0) << no->info.name;
}

TEST(PenDecode, PressureAndTiltFollowTheValuatorMaskAndTheDevicesRange) {
    PLATFORM_PEN_DEVICE wacom;
    FakeDevice info("Wacom Intuos S Pen stylus", {{kAbs, 15200}, {kAbs, 9500}, {kPressure, 2047}, {kTiltX, 63}});
    ASSERT_EQ(_platform_pen_device_from_info(&info.info, &kAtoms, &wacom), 1);
    PLATFORM_PEN_SAMPLE s;
    FakeEvent hover(XI_Motion, 0, {{0, 5000}, {1, 3000}, {2, 0}, {3, -64}});
    ASSERT_EQ(_platform_pen_decode(&wacom, &hover.event, 7.5, &s), 1);
    EXPECT_EQ(s.server_time, 123456u);
    EXPECT_FLOAT_EQ(s.pressure, 0.0f);
    EXPECT_FLOAT_EQ(s.tilt_x, -1.0f);
    /* The tip goes down and only pressure changed: it is the first value. */
    FakeEvent press(XI_ButtonPress, 1, {{2, 2047.0 * 0.3}});
    ASSERT_EQ(_platform_pen_decode(&wacom, &press.event, 7.51, &s), 1);
    EXPECT_NEAR(s.pressure, 0.3f, 1e-6);
    EXPECT_FLOAT_EQ(s.tilt_x, -1.0f); /* kept */
    EXPECT_EQ(s.kind, PLATFORM_PEN_PRESS);
    EXPECT_EQ(s.touching, 1);
    /* A move without pressure keeps it; past the range it is held to 1. */
    FakeEvent move(XI_Motion, 0, {{0, 5010}, {3, 63}});
    ASSERT_EQ(_platform_pen_decode(&wacom, &move.event, 7.52, &s), 1);
    EXPECT_NEAR(s.pressure, 0.3f, 1e-6);
    EXPECT_FLOAT_EQ(s.tilt_x, 1.0f);
    FakeEvent hard(XI_Motion, 0, {{2, 4000}});
    ASSERT_EQ(_platform_pen_decode(&wacom, &hard.event, 7.53, &s), 1);
    EXPECT_FLOAT_EQ(s.pressure, 1.0f);
    /* Another device's event is no sample of this one, and leaves its pressure. */
    FakeEvent other(XI_Motion, 0, {{2, 100}});
    other.event.sourceid = 12;
    EXPECT_EQ(_platform_pen_decode(&wacom, &other.event, 8, &s), 0);
    EXPECT_FLOAT_EQ(wacom.pressure, 1.0f);

    /* Pressure as the first axis over 0..65535, an eraser end; then a pen without pressure. */
    PLATFORM_PEN_DEVICE first, bare;
    FakeDevice info2("Tablet Monitor Pen eraser", {{kPressure, 65535}, {kAbs, 1}, {kAbs, 1}});
    FakeDevice info3("Generic USB stylus", {{kAbs, 1}, {kAbs, 1}, {kAbs, 100}});
    ASSERT_EQ(_platform_pen_device_from_info(&info2.info, &kAtoms, &first), 1);
    ASSERT_EQ(_platform_pen_device_from_info(&info3.info, &kAtoms, &bare), 1);
    FakeEvent e2(XI_Motion, 0, {{0, 16383.75}, {1, 0.5}, {2, 0.5}});
    ASSERT_EQ(_platform_pen_decode(&first, &e2.event, 1, &s), 1);
    EXPECT_NEAR(s.pressure, 0.25f, 1e-6);
    EXPECT_EQ(s.has_tilt, 0);
    EXPECT_EQ(s.eraser, 1);
    ASSERT_EQ(_platform_pen_decode(&bare, &e2.event, 1, &s), 1);
    EXPECT_FLOAT_EQ(s.pressure, -1.0f);
}

TEST(PenClock, ServerMillisecondsMapOntoTheLocalClockByTheShortestDelay) {
    PLATFORM_PEN_CLOCK c = {};
    int64_t a = _platform_pen_clock_unwrap(&c, 0xFFFFFF00u); /* the 32-bit count wraps after 49.7 days */
    EXPECT_EQ(_platform_pen_clock_unwrap(&c, 0x00000100u) - a, 512);
    EXPECT_EQ(_platform_pen_clock_unwrap(&c, 0x000000FDu) - a, 509); /* a little out of order */
    PLATFORM_PEN_CLOCK k = {};
    _platform_pen_clock_observe(&k, 1000, 5.010);
    _platform_pen_clock_observe(&k, 2000, 6.002); /* the quickest delivery decides */
    _platform_pen_clock_observe(&k, 3000, 7.500); /* read late by a busy loop */
    EXPECT_NEAR(_platform_pen_clock_map(&k, 1500), 5.502, 1e-9);
    _platform_pen_clock_observe(&k, 12000, 16.5); /* a new window: the last one still holds */
    EXPECT_NEAR(_platform_pen_clock_map(&k, 12000), 16.002, 1e-9);
    _platform_pen_clock_observe(&k, 20000, 30.0); /* a clock that moved on for good... */
    _platform_pen_clock_observe(&k, 30000, 40.0);
    EXPECT_NEAR(_platform_pen_clock_map(&k, 30000), 40.0, 1e-9); /* ...is adopted after two windows */
}

// Feeds a sample of device `device` at a time, place and pressure.
static void _pen_feed(double t, float x, float y, float pressure, int device = 0, int eraser = 0) {
    PLATFORM_PEN_SAMPLE s = {};
    s.time = t;
    s.x = x;
    s.y = y;
    s.pressure = pressure;
    s.device = device;
    s.eraser = eraser;
    platform_pen_feed(&s);
}

TEST(PenMatching, AMouseEventGetsThePressureOfThePenSampleAtItsTimeAndPlace) {
    platform_pen_forget();
    float p = 0;
    int eraser = 7;
    EXPECT_EQ(platform_pen_pressure_for(10.0, 100, 100, &p, &eraser), 0); /* no samples: a mouse */
    EXPECT_FLOAT_EQ(p, -1.0f);
    EXPECT_EQ(eraser, 0);
    /* As X reports a pen, each event where the pointer was before it: pen 5
     * moved to 30, 50, then 70 (not known yet). Pen 6 makes the second and
     * the third sample in one millisecond, then presses harder in place. */
    _pen_feed(10.000, 10, 10, 0.3f, 5);
    _pen_feed(10.004, 400.4, 300.6, 0.1f, 6, 1);
    _pen_feed(10.008, 30, 10, 0.5f, 5);
    _pen_feed(10.012, 410, 300, 0.2f, 6, 1);
    _pen_feed(10.012, 420, 300, 0.25f, 6, 1);
    _pen_feed(10.016, 50, 10, 0.7f, 5);
    _pen_feed(10.016, 420, 300, 0.35f, 6, 1);
    const struct {
        double t;
        float x, y, pressure;
        int eraser;
    } events[] = {{10.0005, 30, 10, 0.3f, 0},   {10.0085, 50, 10, 0.5f, 0},  {10.0165, 70, 10, 0.7f, 0},
                  {10.0165, 120, 10, -1, 0},    /* beyond a pen's reach of its newest sample */
                  {10.0045, 400, 301, 0.1f, 1}, /* whole pixels against fractions */
                  {10.012, 410, 300, 0.2f, 1},  {10.0125, 420, 300, 0.25f, 1}, {10.016, 420, 300, 0.35f, 1},
                  {10.6, 50, 10, -1, 0},        /* the pen was here, too long ago */
                  {10.008, 200, 200, -1, 0}};   /* a mouse elsewhere while the pens move */
    for (const auto& e : events) {
        EXPECT_EQ(platform_pen_pressure_for(e.t, e.x, e.y, &p, &eraser), e.pressure >= 0) << e.t << " " << e.x;
        EXPECT_FLOAT_EQ(p, e.pressure) << e.t << " " << e.x;
        EXPECT_EQ(eraser, e.eraser);
    }
    /* The ring keeps the newest: of 70 samples the first is gone, the last is there. */
    for (int i = 0; i < 70; i++) _pen_feed(20.0 + 0.001 * i, 10.0f * i, 50, 0.01f * i, i);
    EXPECT_EQ(platform_pen_pressure_for(20.0, 0, 50, &p, &eraser), 0);
    EXPECT_EQ(platform_pen_pressure_for(20.069, 690, 50, &p, &eraser), 1);
    EXPECT_FLOAT_EQ(p, 0.69f);
    platform_pen_forget();
}
