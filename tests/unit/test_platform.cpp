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

/* Stand-ins for the atoms a server would give the axis labels. */
static const Atom kPressure = 301, kTiltX = 302, kTiltY = 303, kAbsX = 304, kWheel = 305;
static const PLATFORM_PEN_ATOMS kAtoms = {kPressure, kTiltX, kTiltY};

/* A device as XIQueryDevice lists it, with its valuator classes. */
struct FakeDevice {
    std::vector<XIValuatorClassInfo> axes;
    std::vector<XIAnyClassInfo*> classes;
    XIDeviceInfo info = {};
    FakeDevice(int id, const char* name, int use = XISlavePointer) {
        info.deviceid = id;
        info.name = (char*)name;
        info.use = use;
        info.enabled = True;
    }
    FakeDevice& axis(Atom label, double min, double max, int mode = XIModeAbsolute) {
        XIValuatorClassInfo v = {};
        v.type = XIValuatorClass;
        v.number = (int)axes.size();
        v.label = label;
        v.min = min;
        v.max = max;
        v.mode = mode;
        axes.push_back(v);
        return *this;
    }
    const XIDeviceInfo* get() {
        classes.clear();
        for (auto& v : axes) classes.push_back((XIAnyClassInfo*)&v);
        info.classes = classes.data();
        info.num_classes = (int)classes.size();
        return &info;
    }
};

/* A device event with the valuators given as (number, value), packed the way
 * the server packs them: only the numbers present, in rising order. */
struct FakeEvent {
    unsigned char mask[4] = {0}, buttons[1] = {0};
    std::vector<double> values;
    XIDeviceEvent event = {};
    FakeEvent(int evtype, int source, double x, double y, std::initializer_list<std::pair<int, double>> axes) {
        event.evtype = evtype;
        event.deviceid = event.sourceid = source;
        event.event_x = x;
        event.event_y = y;
        event.time = 123456;
        for (const auto& a : axes) {
            XISetMask(mask, a.first);
            values.push_back(a.second);
        }
        event.valuators.mask_len = sizeof(mask);
        event.valuators.mask = mask;
        event.valuators.values = values.data();
        event.buttons.mask_len = sizeof(buttons);
        event.buttons.mask = buttons;
    }
};

TEST(PenDevices, APressureAxisWithAbsolutePositionOrAPenNameMakesAPen) {
    PLATFORM_PEN_DEVICE d;
    /* Wacom's order: x, y, pressure, tilt x, tilt y, wheel. */
    FakeDevice stylus(11, "Wacom Intuos S Pen stylus");
    stylus.axis(kAbsX, 0, 15200).axis(kAbsX, 0, 9500).axis(kPressure, 0, 2047).axis(kTiltX, -64, 63)
        .axis(kTiltY, -64, 63).axis(kWheel, 0, 1023);
    ASSERT_EQ(_platform_pen_device_from_info(stylus.get(), &kAtoms, &d), 1);
    EXPECT_EQ(d.id, 11);
    EXPECT_EQ(d.pressure_axis, 2);
    EXPECT_DOUBLE_EQ(d.pressure_max, 2047);
    EXPECT_EQ(d.tilt_x_axis, 3);
    EXPECT_EQ(d.tilt_y_axis, 4);
    EXPECT_EQ(d.eraser, 0);

    FakeDevice eraser(12, "Wacom Intuos S Pen eraser");
    eraser.axis(kAbsX, 0, 15200).axis(kAbsX, 0, 9500).axis(kPressure, 0, 2047);
    ASSERT_EQ(_platform_pen_device_from_info(eraser.get(), &kAtoms, &d), 1);
    EXPECT_EQ(d.eraser, 1);

    /* No word of a pen in the name, but a pressure axis and absolute position. */
    FakeDevice huion(13, "HUION Huion Tablet_H640P");
    huion.axis(kAbsX, 0, 32767).axis(kAbsX, 0, 32767).axis(kPressure, 0, 8191);
    EXPECT_EQ(_platform_pen_device_from_info(huion.get(), &kAtoms, &d), 1);
    /* A touchpad's pressure moves a relative pointer: no pen. */
    FakeDevice touchpad(14, "SynPS/2 Synaptics TouchPad");
    touchpad.axis(kAbsX, 0, 1, XIModeRelative).axis(kAbsX, 0, 1, XIModeRelative).axis(kPressure, 0, 255);
    EXPECT_EQ(_platform_pen_device_from_info(touchpad.get(), &kAtoms, &d), 0);
    /* A finger on a pen display has pressure too; the name rules it out. */
    FakeDevice finger(15, "Wacom ISDv4 E6 Pen Finger");
    finger.axis(kAbsX, 0, 4096).axis(kAbsX, 0, 4096).axis(kPressure, 0, 255);
    EXPECT_EQ(_platform_pen_device_from_info(finger.get(), &kAtoms, &d), 0);
    FakeDevice pad(16, "Wacom Intuos S Pen Pad pad");
    EXPECT_EQ(_platform_pen_device_from_info(pad.get(), &kAtoms, &d), 0);

    /* A stylus without a pressure sensor still counts (its eraser end matters). */
    FakeDevice plain(17, "Generic USB stylus");
    plain.axis(kAbsX, 0, 100).axis(kAbsX, 0, 100);
    ASSERT_EQ(_platform_pen_device_from_info(plain.get(), &kAtoms, &d), 1);
    EXPECT_EQ(d.pressure_axis, -1);
    /* Words count whole: "PenTablet Mouse" is the tablet's mouse interface. */
    FakeDevice mouse(18, "UGTABLET 10 inch PenTablet Mouse");
    mouse.axis(kAbsX, 0, 100).axis(kAbsX, 0, 100);
    EXPECT_EQ(_platform_pen_device_from_info(mouse.get(), &kAtoms, &d), 0);
    /* Unlabelled axes are not taken for pressure, however many there are. */
    FakeDevice unlabelled(19, "Tablet");
    unlabelled.axis(None, 0, 100).axis(None, 0, 100).axis(None, 0, 1023);
    EXPECT_EQ(_platform_pen_device_from_info(unlabelled.get(), &kAtoms, &d), 0);
    /* A floating pen moves no pointer, a disabled one nothing at all. */
    FakeDevice floating(20, "Wacom Intuos S Pen stylus", XIFloatingSlave);
    floating.axis(kAbsX, 0, 1).axis(kAbsX, 0, 1).axis(kPressure, 0, 2047);
    EXPECT_EQ(_platform_pen_device_from_info(floating.get(), &kAtoms, &d), 0);
    stylus.info.enabled = False;
    EXPECT_EQ(_platform_pen_device_from_info(stylus.get(), &kAtoms, &d), 0);
}

TEST(PenDecode, PressureAndTiltFollowTheValuatorMaskAndTheDevicesRange) {
    PLATFORM_PEN_DEVICE wacom;
    FakeDevice info(11, "Wacom Intuos S Pen stylus");
    info.axis(kAbsX, 0, 15200).axis(kAbsX, 0, 9500).axis(kPressure, 0, 2047).axis(kTiltX, -64, 63)
        .axis(kTiltY, -64, 63);
    ASSERT_EQ(_platform_pen_device_from_info(info.get(), &kAtoms, &wacom), 1);
    PLATFORM_PEN_SAMPLE s;

    /* Hovering: the tip is up. */
    FakeEvent hover(XI_Motion, 11, 40.25, 70.5, {{0, 5000}, {1, 3000}, {2, 0}, {3, -64}, {4, 63}});
    ASSERT_EQ(_platform_pen_decode(&wacom, &hover.event, 7.5, &s), 1);
    EXPECT_DOUBLE_EQ(s.time, 7.5);
    EXPECT_EQ(s.server_time, 123456u);
    EXPECT_FLOAT_EQ(s.x, 40.25f);
    EXPECT_FLOAT_EQ(s.y, 70.5f);
    EXPECT_FLOAT_EQ(s.pressure, 0.0f);
    EXPECT_EQ(s.has_tilt, 1);
    EXPECT_FLOAT_EQ(s.tilt_x, -1.0f);
    EXPECT_FLOAT_EQ(s.tilt_y, 1.0f);
    EXPECT_EQ(s.kind, PLATFORM_PEN_MOTION);
    EXPECT_EQ(s.touching, 0);

    /* The tip goes down: only pressure changed, so it is the first value. */
    FakeEvent press(XI_ButtonPress, 11, 40.25, 70.5, {{2, 2047.0 * 0.3}});
    press.event.detail = 1;
    ASSERT_EQ(_platform_pen_decode(&wacom, &press.event, 7.51, &s), 1);
    EXPECT_NEAR(s.pressure, 0.3f, 1e-6);
    EXPECT_FLOAT_EQ(s.tilt_x, -1.0f); /* kept from before */
    EXPECT_EQ(s.kind, PLATFORM_PEN_PRESS);
    EXPECT_EQ(s.button, 1);
    EXPECT_EQ(s.touching, 1);

    /* A move that leaves pressure out keeps it; one past the range is held to 1. */
    FakeEvent move(XI_Motion, 11, 41, 71, {{0, 5010}, {1, 3004}, {3, 0}});
    XISetMask(move.buttons, 1);
    ASSERT_EQ(_platform_pen_decode(&wacom, &move.event, 7.52, &s), 1);
    EXPECT_NEAR(s.pressure, 0.3f, 1e-6);
    EXPECT_NEAR(s.tilt_x, 2.0f * 64 / 127 - 1.0f, 1e-6);
    EXPECT_EQ(s.touching, 1);
    FakeEvent hard(XI_Motion, 11, 42, 71, {{1, 3004}, {2, 4000}});
    ASSERT_EQ(_platform_pen_decode(&wacom, &hard.event, 7.53, &s), 1);
    EXPECT_FLOAT_EQ(s.pressure, 1.0f);

    FakeEvent lift(XI_ButtonRelease, 11, 42, 71, {{2, 0}});
    lift.event.detail = 1;
    XISetMask(lift.buttons, 1);
    ASSERT_EQ(_platform_pen_decode(&wacom, &lift.event, 7.54, &s), 1);
    EXPECT_EQ(s.kind, PLATFORM_PEN_RELEASE);
    EXPECT_EQ(s.touching, 0);
    EXPECT_FLOAT_EQ(s.pressure, 0.0f);

    /* Another device's event, a crossing and an emulated wheel are not samples. */
    FakeEvent other(XI_Motion, 12, 1, 1, {{2, 100}});
    EXPECT_EQ(_platform_pen_decode(&wacom, &other.event, 8, &s), 0);
    FakeEvent enter(XI_Enter, 11, 1, 1, {});
    EXPECT_EQ(_platform_pen_decode(&wacom, &enter.event, 8, &s), 0);
    FakeEvent wheel(XI_ButtonPress, 11, 1, 1, {{2, 100}});
    wheel.event.detail = 4;
    wheel.event.flags = XIPointerEmulated;
    EXPECT_EQ(_platform_pen_decode(&wacom, &wheel.event, 8, &s), 0);
    EXPECT_FLOAT_EQ(wacom.pressure, 0.0f); /* not read from a refused event */

    /* Pressure as the first axis over 0..65535, no tilt, an eraser end. */
    PLATFORM_PEN_DEVICE first;
    FakeDevice info2(21, "Tablet Monitor Pen eraser");
    info2.axis(kPressure, 0, 65535).axis(kAbsX, 0, 1).axis(kAbsX, 0, 1);
    ASSERT_EQ(_platform_pen_device_from_info(info2.get(), &kAtoms, &first), 1);
    FakeEvent e2(XI_Motion, 21, 5, 6, {{0, 16383.75}, {1, 0.5}, {2, 0.5}});
    ASSERT_EQ(_platform_pen_decode(&first, &e2.event, 1, &s), 1);
    EXPECT_NEAR(s.pressure, 0.25f, 1e-6);
    EXPECT_EQ(s.has_tilt, 0);
    EXPECT_EQ(s.eraser, 1);

    /* A pen without pressure reports none, whatever its axes say. */
    PLATFORM_PEN_DEVICE none;
    FakeDevice info3(22, "Generic USB stylus");
    info3.axis(kAbsX, 0, 1).axis(kAbsX, 0, 1).axis(kWheel, 0, 100);
    ASSERT_EQ(_platform_pen_device_from_info(info3.get(), &kAtoms, &none), 1);
    FakeEvent e3(XI_ButtonPress, 22, 5, 6, {{0, 0.5}, {1, 0.5}, {2, 50}});
    e3.event.detail = 1;
    ASSERT_EQ(_platform_pen_decode(&none, &e3.event, 1, &s), 1);
    EXPECT_FLOAT_EQ(s.pressure, -1.0f);
    EXPECT_EQ(s.touching, 1);
}

TEST(PenClock, ServerMillisecondsMapOntoTheLocalClockByTheShortestDelay) {
    PLATFORM_PEN_CLOCK c = {};
    /* The 32-bit server clock wraps after 49.7 days; the count goes on. */
    int64_t a = _platform_pen_clock_unwrap(&c, 0xFFFFFF00u);
    EXPECT_EQ(_platform_pen_clock_unwrap(&c, 0x00000100u) - a, 512);
    EXPECT_EQ(_platform_pen_clock_unwrap(&c, 0x000000FDu) - a, 509); /* a little out of order */

    PLATFORM_PEN_CLOCK k = {};
    _platform_pen_clock_observe(&k, 1000, 5.010);
    _platform_pen_clock_observe(&k, 2000, 6.002); /* the quickest delivery decides */
    _platform_pen_clock_observe(&k, 3000, 7.500); /* read late: a busy loop */
    EXPECT_NEAR(_platform_pen_clock_map(&k, 1500), 5.502, 1e-9);
    /* A long busy spell begins a window of late readings; the last window's
     * minimum still holds. */
    _platform_pen_clock_observe(&k, 12000, 16.5);
    EXPECT_NEAR(_platform_pen_clock_map(&k, 12000), 16.002, 1e-9);
    /* A server clock that moved on for good is adopted after two windows. */
    _platform_pen_clock_observe(&k, 20000, 30.0);
    _platform_pen_clock_observe(&k, 21000, 31.0);
    EXPECT_NEAR(_platform_pen_clock_map(&k, 21000), 21.0 + 4.5, 1e-9); /* the last window's minimum */
    _platform_pen_clock_observe(&k, 30000, 40.0);
    EXPECT_NEAR(_platform_pen_clock_map(&k, 30000), 40.0, 1e-9);
    /* A quicker delivery lowers it at once. */
    _platform_pen_clock_observe(&k, 31000, 40.5);
    EXPECT_NEAR(_platform_pen_clock_map(&k, 31000), 40.5, 1e-9);
}

// A fed sample at a time, place and pressure.
static PLATFORM_PEN_SAMPLE _pen_at(double t, float x, float y, float pressure, int eraser = 0) {
    PLATFORM_PEN_SAMPLE s = {};
    s.time = t;
    s.x = x;
    s.y = y;
    s.pressure = pressure;
    s.eraser = eraser;
    s.touching = 1;
    return s;
}

TEST(PenMatching, AMouseEventGetsThePressureOfThePenSampleAtItsTimeAndPlace) {
    platform_pen_forget();
    float p = 0;
    int eraser = 7;
    /* No pen samples at all: a mouse. */
    EXPECT_EQ(platform_pen_pressure_for(10.0, 100, 100, &p, &eraser), 0);
    EXPECT_FLOAT_EQ(p, -1.0f);
    EXPECT_EQ(eraser, 0);

    PLATFORM_PEN_SAMPLE ring[] = {
        _pen_at(10.000, 100.4, 100.6, 0.2f), _pen_at(10.008, 104.2, 100.1, 0.4f),
        /* Two in the same millisecond at different places... */
        _pen_at(10.016, 108.0, 100.0, 0.5f), _pen_at(10.016, 112.3, 100.0, 0.6f),
        /* ...and a third there at the same place: the pen pressed harder. */
        _pen_at(10.016, 112.3, 100.0, 0.65f), _pen_at(10.024, 116.0, 100.0, 0.7f, 1),
    };
    for (const auto& s : ring) ASSERT_EQ(platform_pen_feed(&s), 1);
    /* Whole-pixel core positions against the pen's fractions. */
    EXPECT_EQ(platform_pen_pressure_for(10.0003, 100, 101, &p, &eraser), 1);
    EXPECT_FLOAT_EQ(p, 0.2f);
    EXPECT_EQ(platform_pen_pressure_for(10.009, 104, 100, &p, &eraser), 1);
    EXPECT_FLOAT_EQ(p, 0.4f);
    EXPECT_EQ(platform_pen_pressure_for(10.016, 108, 100, &p, &eraser), 1);
    EXPECT_FLOAT_EQ(p, 0.5f);
    EXPECT_EQ(platform_pen_pressure_for(10.0165, 112, 100, &p, &eraser), 1);
    EXPECT_FLOAT_EQ(p, 0.65f);
    EXPECT_EQ(eraser, 0);
    EXPECT_EQ(platform_pen_pressure_for(10.025, 116, 100, &p, &eraser), 1);
    EXPECT_FLOAT_EQ(p, 0.7f);
    EXPECT_EQ(eraser, 1);
    /* The pen passed by here long before: too old. */
    EXPECT_EQ(platform_pen_pressure_for(10.6, 104, 100, &p, &eraser), 0);
    EXPECT_FLOAT_EQ(p, -1.0f);
    /* A mouse elsewhere while the pen moves. */
    EXPECT_EQ(platform_pen_pressure_for(10.016, 300, 200, &p, &eraser), 0);
    /* Of two samples at one place the nearer in time. */
    PLATFORM_PEN_SAMPLE again = _pen_at(10.090, 104.0, 100.0, 0.9f);
    platform_pen_feed(&again);
    EXPECT_EQ(platform_pen_pressure_for(10.010, 104, 100, &p, &eraser), 1);
    EXPECT_FLOAT_EQ(p, 0.4f);
    EXPECT_EQ(platform_pen_pressure_for(10.080, 104, 100, &p, &eraser), 1);
    EXPECT_FLOAT_EQ(p, 0.9f);

    /* As X reports a pen: each event where the pointer was before it; where
     * it went comes with the next one, and the newest is known only nearby. */
    platform_pen_forget();
    PLATFORM_PEN_SAMPLE reported[] = {_pen_at(30.000, 10, 10, 0.3f), _pen_at(30.008, 30, 10, 0.5f),
                                      _pen_at(30.016, 50, 10, 0.7f)};
    for (auto& s : reported) {
        s.device = 5;
        platform_pen_feed(&s);
    }
    PLATFORM_PEN_SAMPLE other_pen = _pen_at(30.010, 400, 300, 0.1f);
    other_pen.device = 6;
    platform_pen_feed(&other_pen); /* another device tells nothing of pen 5's places */
    EXPECT_EQ(platform_pen_pressure_for(30.0005, 30, 10, &p, &eraser), 1);
    EXPECT_FLOAT_EQ(p, 0.3f);
    EXPECT_EQ(platform_pen_pressure_for(30.0085, 50, 10, &p, &eraser), 1);
    EXPECT_FLOAT_EQ(p, 0.5f);
    EXPECT_EQ(platform_pen_pressure_for(30.0165, 70, 10, &p, &eraser), 1);
    EXPECT_FLOAT_EQ(p, 0.7f);
    EXPECT_EQ(platform_pen_pressure_for(30.0165, 120, 10, &p, &eraser), 0);
    EXPECT_EQ(platform_pen_pressure_for(30.0105, 420, 300, &p, &eraser), 1);
    EXPECT_FLOAT_EQ(p, 0.1f);

    /* The ring keeps the newest: the first of 70 is gone, the last is there. */
    platform_pen_forget();
    EXPECT_EQ(platform_pen_pressure_for(10.009, 104, 100, &p, &eraser), 0);
    for (int i = 0; i < 70; i++) {
        PLATFORM_PEN_SAMPLE s = _pen_at(20.0 + 0.001 * i, 10.0f * i, 50, 0.01f * i);
        platform_pen_feed(&s);
    }
    EXPECT_EQ(platform_pen_pressure_for(20.0, 0, 50, &p, &eraser), 0);
    EXPECT_EQ(platform_pen_pressure_for(20.069, 690, 50, &p, &eraser), 1);
    EXPECT_FLOAT_EQ(p, 0.69f);
    /* A pen without a pressure sensor made the event, and says so. */
    PLATFORM_PEN_SAMPLE bare = _pen_at(21.0, 5, 5, -1.0f);
    platform_pen_feed(&bare);
    EXPECT_EQ(platform_pen_pressure_for(21.0, 5, 5, &p, &eraser), 1);
    EXPECT_FLOAT_EQ(p, -1.0f);
    platform_pen_forget();
}
