/* The pen reader on a real X server. The test server has no tablet, so its
 * XTEST pointer (the source of every synthetic pointer event) is claimed as
 * a pen: its events then reach this program's second connection the way a
 * pen's do, beside Allegro's. These cases move the server's pointer and add
 * devices to it, so they run alone. */
#include <gtest/gtest.h>
#include <X11/extensions/XTest.h>
#include <allegro5/allegro_x.h>

#include <string>

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
        Window child;
        XTranslateCoordinates(x_, (Window)al_get_x_window_id(test_display()), DefaultRootWindow(x_), 0, 0, &ox_,
                              &oy_, &child);
        test_log_capture_begin(LOG_INFO);
    }
    void TearDown() override {
        test_log_capture_end();
        platform_pen_stop();
        _platform_pen_claim_devices(NULL, 0);
        al_destroy_event_queue(queue_);
        XCloseDisplay(x_);
    }
    std::string log() {
        log_ += test_log_capture_end();
        test_log_capture_begin(LOG_INFO);
        return log_;
    }
    // Moves the pointer to (x, y) of the window or presses or releases button 1; waits for Allegro's event.
    int act(ALLEGRO_EVENT_TYPE type, int x, int y) {
        if (type == ALLEGRO_EVENT_MOUSE_AXES)
            XTestFakeMotionEvent(x_, -1, ox_ + x, oy_ + y, 0);
        else
            XTestFakeButtonEvent(x_, 1, type == ALLEGRO_EVENT_MOUSE_BUTTON_DOWN, 0);
        XSync(x_, False);
        for (double until = al_get_time() + 3.0; al_get_time() < until;)
            if (al_wait_for_event_timed(queue_, &ev_, 0.1) && ev_.type == type && ev_.mouse.x == x && ev_.mouse.y == y)
                return 1;
        return 0;
    }
    // Pumps until the log holds `text`, for at most two seconds.
    int pump_until_logged(const char* text) {
        for (double until = al_get_time() + 2.0; al_get_time() < until; al_rest(0.01)) {
            platform_pen_pump();
            if (log().find(text) != std::string::npos) return 1;
        }
        return 0;
    }
    Display* x_ = nullptr;
    ALLEGRO_EVENT_QUEUE* queue_ = nullptr;
    ALLEGRO_EVENT ev_;
    int ox_ = 0, oy_ = 0;
    std::string log_;
};

/* One journey: without a second connection reading stays off and says why;
 * with one but no pen a mouse finds no sample; a stroke of the claimed pen
 * still reaches Allegro and each of its events (motion, press, drag,
 * release) finds its own sample by the server's clock mapped onto
 * Allegro's; a pen plugged in later is found and one unplugged let go (a
 * new master pointer brings an XTEST pointer of its own). */
TEST_F(PenDisplay, OffWithoutAConnectionThenMouseThenPenThenHotPlug) {
    std::string display = getenv("DISPLAY");
    setenv("DISPLAY", ":4093", 1);
    EXPECT_EQ(platform_pen_start(test_display()), 0);
    setenv("DISPLAY", display.c_str(), 1);
    EXPECT_NE(log().find("pen input off: a second connection to the X display :4093 could not be opened"),
              std::string::npos);
    platform_pen_pump();

    ASSERT_EQ(platform_pen_start(test_display()), 1);
    EXPECT_NE(log().find("pen input: no pen found, watching for one to be plugged in"), std::string::npos);
    ASSERT_TRUE(act(ALLEGRO_EVENT_MOUSE_AXES, 30, 40));
    float pressure = 0;
    int eraser = 5;
    EXPECT_EQ(platform_pen_pressure_for(ev_.mouse.timestamp, 30, 40, &pressure, &eraser), 0);
    platform_pen_stop();

    _platform_pen_claim_devices("XTEST pointer", 1);
    ASSERT_EQ(platform_pen_start(test_display()), 1);
    EXPECT_NE(log().find("pen found: Virtual core XTEST pointer (no pressure, eraser end)"), std::string::npos);
    PLATFORM_PEN_SAMPLE s;
    const struct {
        ALLEGRO_EVENT_TYPE type;
        int x, y, kind, touching;
        float reported_x; /* X reports where the pointer was before the event */
    } stroke[] = {{ALLEGRO_EVENT_MOUSE_AXES, 50, 60, PLATFORM_PEN_MOTION, 0, 30},
                  {ALLEGRO_EVENT_MOUSE_BUTTON_DOWN, 50, 60, PLATFORM_PEN_PRESS, 1, 50},
                  {ALLEGRO_EVENT_MOUSE_AXES, 90, 70, PLATFORM_PEN_MOTION, 1, 50},
                  {ALLEGRO_EVENT_MOUSE_BUTTON_UP, 90, 70, PLATFORM_PEN_RELEASE, 0, 90}};
    for (const auto& step : stroke) {
        al_rest(0.03); /* the press comes at the motion's place: only time tells them apart */
        ASSERT_TRUE(act(step.type, step.x, step.y));
        /* Not pumped: the lookup reads what arrived. */
        ASSERT_EQ(platform_pen_sample_for(ev_.mouse.timestamp, step.x, step.y, &s), 1) << step.kind;
        EXPECT_EQ(s.kind, step.kind);
        EXPECT_EQ(s.touching, step.touching);
        EXPECT_FLOAT_EQ(s.x, step.reported_x);
        EXPECT_EQ(s.eraser, 1);
        EXPECT_NEAR(s.time, ev_.mouse.timestamp, 0.02);
    }

    XIAddMasterInfo add = {XIAddMaster, (char*)"plumaro pen test", True, True};
    ASSERT_EQ(XIChangeHierarchy(x_, (XIAnyHierarchyChangeInfo*)&add, 1), Success);
    XSync(x_, False);
    EXPECT_TRUE(pump_until_logged("pen found: plumaro pen test XTEST pointer (no pressure, eraser end)")) << log();
    EXPECT_EQ(platform_pen_count(), 2);
    int count = 0;
    XIDeviceInfo* infos = XIQueryDevice(x_, XIAllMasterDevices, &count);
    XIRemoveMasterInfo remove = {XIRemoveMaster, -1, XIFloating, 0, 0};
    for (int i = 0; i < count; i++)
        if (std::string(infos[i].name) == "plumaro pen test pointer") remove.deviceid = infos[i].deviceid;
    XIFreeDeviceInfo(infos);
    ASSERT_GE(remove.deviceid, 0);
    ASSERT_EQ(XIChangeHierarchy(x_, (XIAnyHierarchyChangeInfo*)&remove, 1), Success);
    XSync(x_, False);
    EXPECT_TRUE(pump_until_logged("pen removed: plumaro pen test XTEST pointer")) << log();
    EXPECT_EQ(platform_pen_count(), 1);
}
