/* The pen reader on a real X server. The test server has no tablet, so its
 * XTEST pointer (the one every synthetic pointer event comes from) is
 * claimed as a pen: its events then travel the way a pen's do, to this
 * program's second connection and to Allegro's side by side. These cases
 * move the server's pointer and add devices, so they run alone. */
#include <gtest/gtest.h>
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/XTest.h>
#include <allegro5/allegro_x.h>

#include <string>

#include "platform/platform_pen.h"
#include "platform/platform_pen_internal.h"
#include "t_log.h"
#include "test_support.h"

class PenDisplay : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(test_display(), nullptr);
        ASSERT_TRUE(al_install_mouse());
        x_ = XOpenDisplay(NULL);
        ASSERT_NE(x_, nullptr);
        queue_ = al_create_event_queue();
        al_register_event_source(queue_, al_get_mouse_event_source());
        /* Where the window is on the screen: the XTEST pointer moves in screen coordinates. */
        Window child;
        XTranslateCoordinates(x_, (Window)al_get_x_window_id(test_display()), DefaultRootWindow(x_), 0, 0,
                              &origin_x_, &origin_y_, &child);
        test_log_capture_begin(LOG_DEBUG);
    }
    void TearDown() override {
        log_ += test_log_capture_end();
        platform_pen_stop();
        _platform_pen_claim_devices(NULL, 0);
        al_destroy_event_queue(queue_);
        XCloseDisplay(x_);
    }
    std::string log() {
        log_ += test_log_capture_end();
        test_log_capture_begin(LOG_DEBUG);
        return log_;
    }
    // Sends a synthetic pointer event and waits for Allegro's mouse event of that kind at (x, y).
    int act(ALLEGRO_EVENT_TYPE type, int x, int y, ALLEGRO_EVENT* out) {
        if (type == ALLEGRO_EVENT_MOUSE_AXES)
            XTestFakeMotionEvent(x_, -1, origin_x_ + x, origin_y_ + y, 0);
        else
            XTestFakeButtonEvent(x_, 1, type == ALLEGRO_EVENT_MOUSE_BUTTON_DOWN, 0);
        XSync(x_, False);
        double until = al_get_time() + 3.0;
        while (al_get_time() < until) {
            if (!al_wait_for_event_timed(queue_, out, 0.1)) continue;
            if (out->type == type && out->mouse.x == x && out->mouse.y == y) return 1;
        }
        return 0;
    }
    // Pumps until the log holds `text`, for at most two seconds.
    int pump_until_logged(const char* text) {
        double until = al_get_time() + 2.0;
        while (al_get_time() < until) {
            platform_pen_pump();
            if (log().find(text) != std::string::npos) return 1;
            al_rest(0.01);
        }
        return 0;
    }
    Display* x_ = nullptr;
    ALLEGRO_EVENT_QUEUE* queue_ = nullptr;
    int origin_x_ = 0, origin_y_ = 0;
    std::string log_;
};

/* A stroke of the claimed "pen" reaches Allegro as before and each of its
 * mouse events finds its own sample: the motion, the press, the drag and
 * the release, by the server's clock mapped onto Allegro's. */
TEST_F(PenDisplay, EachMouseEventOfAPenFindsItsSampleAndAMouseFindsNone) {
    platform_pen_forget();
    ALLEGRO_EVENT ev;
    /* Unclaimed, the server has no pen: reading runs and waits for one. */
    ASSERT_EQ(platform_pen_start(test_display()), 1);
    EXPECT_NE(log().find("pen input: no pen found, watching for one to be plugged in"), std::string::npos);
    EXPECT_EQ(platform_pen_count(), 0);
    ASSERT_TRUE(act(ALLEGRO_EVENT_MOUSE_AXES, 30, 40, &ev));
    platform_pen_pump();
    float pressure = 0;
    int eraser = 5;
    EXPECT_EQ(platform_pen_pressure_for(ev.mouse.timestamp, 30, 40, &pressure, &eraser), 0);
    EXPECT_FLOAT_EQ(pressure, -1.0f);
    platform_pen_stop();

    _platform_pen_claim_devices("XTEST pointer", 1);
    ASSERT_EQ(platform_pen_start(test_display()), 1);
    EXPECT_NE(log().find("pen found: Virtual core XTEST pointer (no pressure, eraser end)"), std::string::npos);
    EXPECT_EQ(platform_pen_count(), 1);

    PLATFORM_PEN_SAMPLE s;
    ASSERT_TRUE(act(ALLEGRO_EVENT_MOUSE_AXES, 50, 60, &ev));
    platform_pen_pump();
    ASSERT_EQ(platform_pen_sample_for(ev.mouse.timestamp, 50, 60, &s), 1);
    EXPECT_EQ(s.kind, PLATFORM_PEN_MOTION);
    /* The server reports where the pointer was before this event moved it. */
    EXPECT_FLOAT_EQ(s.x, 30.0f);
    EXPECT_FLOAT_EQ(s.y, 40.0f);
    EXPECT_EQ(s.touching, 0);
    /* The mapped time lies within a few milliseconds of Allegro's stamp. */
    EXPECT_NEAR(s.time, ev.mouse.timestamp, 0.02);
    EXPECT_EQ(platform_pen_pressure_for(ev.mouse.timestamp, 50, 60, &pressure, &eraser), 1);
    EXPECT_FLOAT_EQ(pressure, -1.0f);
    EXPECT_EQ(eraser, 1);

    /* The press at the same place is told from the motion by its time alone. */
    al_rest(0.05);
    ASSERT_TRUE(act(ALLEGRO_EVENT_MOUSE_BUTTON_DOWN, 50, 60, &ev));
    ASSERT_EQ(platform_pen_sample_for(ev.mouse.timestamp, 50, 60, &s), 1); /* reads what was not pumped yet */
    EXPECT_EQ(s.kind, PLATFORM_PEN_PRESS);
    EXPECT_EQ(s.button, 1);
    EXPECT_EQ(s.touching, 1);
    ASSERT_TRUE(act(ALLEGRO_EVENT_MOUSE_AXES, 90, 70, &ev));
    platform_pen_pump();
    ASSERT_EQ(platform_pen_sample_for(ev.mouse.timestamp, 90, 70, &s), 1);
    EXPECT_EQ(s.kind, PLATFORM_PEN_MOTION);
    EXPECT_EQ(s.touching, 1);
    al_rest(0.05);
    ASSERT_TRUE(act(ALLEGRO_EVENT_MOUSE_BUTTON_UP, 90, 70, &ev));
    platform_pen_pump();
    ASSERT_EQ(platform_pen_sample_for(ev.mouse.timestamp, 90, 70, &s), 1);
    EXPECT_EQ(s.kind, PLATFORM_PEN_RELEASE);
    EXPECT_EQ(s.touching, 0);
}

/* A pen plugged in while the program runs is found, and one unplugged is
 * let go: a new master pointer brings an XTEST pointer of its own. */
TEST_F(PenDisplay, PensThatComeAndGoAreFollowed) {
    _platform_pen_claim_devices("XTEST pointer", 0);
    ASSERT_EQ(platform_pen_start(test_display()), 1);
    ASSERT_EQ(platform_pen_count(), 1);

    XIAddMasterInfo add = {};
    add.type = XIAddMaster;
    add.name = (char*)"plumaro pen test";
    add.send_core = True;
    add.enable = True;
    ASSERT_EQ(XIChangeHierarchy(x_, (XIAnyHierarchyChangeInfo*)&add, 1), Success);
    XSync(x_, False);
    EXPECT_TRUE(pump_until_logged("pen found: plumaro pen test XTEST pointer (no pressure)")) << log();
    EXPECT_EQ(platform_pen_count(), 2);

    int master = -1, count = 0;
    XIDeviceInfo* infos = XIQueryDevice(x_, XIAllMasterDevices, &count);
    for (int i = 0; i < count; i++)
        if (infos[i].use == XIMasterPointer && std::string(infos[i].name) == "plumaro pen test pointer")
            master = infos[i].deviceid;
    XIFreeDeviceInfo(infos);
    ASSERT_GE(master, 0);
    XIRemoveMasterInfo remove = {};
    remove.type = XIRemoveMaster;
    remove.deviceid = master;
    remove.return_mode = XIFloating;
    ASSERT_EQ(XIChangeHierarchy(x_, (XIAnyHierarchyChangeInfo*)&remove, 1), Success);
    XSync(x_, False);
    EXPECT_TRUE(pump_until_logged("pen removed: plumaro pen test XTEST pointer")) << log();
    EXPECT_EQ(platform_pen_count(), 1);
}

/* Without a second connection the program goes on as with a mouse alone, and says why. */
TEST_F(PenDisplay, NoSecondConnectionMeansNoPenAndOneLine) {
    std::string display = getenv("DISPLAY");
    setenv("DISPLAY", ":4093", 1);
    EXPECT_EQ(platform_pen_start(test_display()), 0);
    setenv("DISPLAY", display.c_str(), 1);
    EXPECT_NE(log().find("pen input off: a second connection to the X display :4093 could not be opened"),
              std::string::npos);
    EXPECT_EQ(platform_pen_count(), 0);
    platform_pen_pump();
    PLATFORM_PEN_SAMPLE fed = {};
    fed.time = 3.0;
    fed.x = fed.y = 10;
    fed.pressure = 0.4f;
    platform_pen_feed(&fed); /* the seam works without a device */
    float pressure = 0;
    int eraser = 0;
    EXPECT_EQ(platform_pen_pressure_for(3.001, 10, 10, &pressure, &eraser), 1);
    EXPECT_FLOAT_EQ(pressure, 0.4f);
    platform_pen_forget();
}
