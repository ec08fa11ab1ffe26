/* The colour sampler (Ctrl+click and the one-shot I) takes the colour the
 * user sees; the stroke stabilizer smooths the painted line by time, not by
 * events, follows the path drawn to where the pointer ended, and catches up
 * with a pointer that rests. */
#include <gtest/gtest.h>
#include <math.h>

#include <set>
#include <utility>
#include <vector>

#include "app_internal.h"
#include "app_state.h"
#include "canvas/brush.h"
#include "canvas/undo.h"
#include "plumaro_app.h"
#include "app_fixture.h"
#include "test_support.h"

namespace {

typedef std::set<std::pair<int, int>> Pixels;

class SamplerStabilizer : public ::testing::Test {
  protected:
    PLUMARO_APP app;
    void SetUp() override {
        ASSERT_TRUE(test_app_on_canvas(&app, 512));
        app.brush_preset = -1;
    }
    void TearDown() override {
        if (app.stroke.active) brush_stroke_end(&app.stroke, app.doc);
        brush_release_resources();
        document_free(&app.doc);
    }
    void send(int type, float x, float y, double t, int button = 1) {
        ALLEGRO_EVENT e = {};
        e.type = type;
        e.mouse.x = (int)lroundf(x), e.mouse.y = (int)lroundf(y);
        e.mouse.button = button;
        e.mouse.timestamp = t;
        plumaro_app_handle_event(&app, &e);
    }
    void key(int type, int code) {
        ALLEGRO_EVENT e = {};
        e.type = type;
        e.keyboard.keycode = code;
        plumaro_app_handle_event(&app, &e);
    }
    /* Fills a layer's memory copy (and picture) with one premultiplied colour. */
    void fill(LAYER* layer, unsigned char r, unsigned char g, unsigned char b, unsigned char a) {
        ALLEGRO_BITMAP* target = al_get_target_bitmap();
        al_set_target_bitmap(layer->backup);
        al_clear_to_color(al_map_rgba(r, g, b, a));
        al_set_target_bitmap(target);
        layer_restore(layer);
    }
    /* A recorded movement: points at times, pressed at the first, released at the last. */
    void replay(const std::vector<std::vector<double>>& path) {
        send(ALLEGRO_EVENT_MOUSE_BUTTON_DOWN, (float)path[0][0], (float)path[0][1], path[0][2]);
        for (size_t i = 1; i < path.size(); i++)
            send(ALLEGRO_EVENT_MOUSE_AXES, (float)path[i][0], (float)path[i][1], path[i][2]);
        const std::vector<double>& end = path.back();
        send(ALLEGRO_EVENT_MOUSE_BUTTON_UP, (float)end[0], (float)end[1], end[2]);
    }
    Pixels painted() {
        Pixels out;
        std::vector<uint8_t> px = test_bitmap_bytes(app.doc->active_layer->backup);
        for (int y = 0; y < 512; y++)
            for (int x = 0; x < 512; x++)
                if (px[((size_t)y * 512 + x) * 4 + 3] > 127) out.insert({x, y});
        return out;
    }
    void clear_layer() {
        fill(app.doc->active_layer, 0, 0, 0, 0);
    }
    void thin_brush() {
        app.brush.size = 1.0f;
        app.brush.hardness = 1.0f;
        app.brush.spacing = 0.5f;
        app.brush.color = al_map_rgb(0, 0, 0);
    }
};

// Points along y = 200 from x 50 to 450, zigzagging 6 px up and down at every event.
std::vector<std::vector<double>> _zigzag(double rate) {
    std::vector<std::vector<double>> path;
    int n = (int)(2.0 * rate);
    for (int i = 0; i <= n; i++) {
        double off = (i == 0 || i == n) ? 0.0 : (i % 2 ? 6.0 : -6.0);
        path.push_back({50.0 + 400.0 * i / n, 200.0 + off, 10.0 + (double)i / rate});
    }
    return path;
}

// A quarter circle of radius 150 drawn in one second, sampled `rate` times a second.
std::vector<std::vector<double>> _arc(double rate) {
    std::vector<std::vector<double>> path;
    int n = (int)rate;
    for (int i = 0; i <= n; i++) {
        double a = 1.5707963 * i / n;
        path.push_back({100.0 + 150.0 * cos(a), 100.0 + 150.0 * sin(a), 20.0 + (double)i / rate});
    }
    return path;
}

// A quarter circle of radius 150 drawn in 0.4 s (590 px/s), events at 120 Hz.
std::vector<std::vector<double>> _fast_arc(void) {
    std::vector<std::vector<double>> path;
    for (int i = 0; i <= 48; i++) {
        double a = 1.5707963 * i / 48;
        path.push_back({300.0 - 150.0 * cos(a), 350.0 - 150.0 * sin(a), 30.0 + 0.4 * i / 48});
    }
    return path;
}

// The farthest any painted pixel lies from the line y = 200.
int _stray(const Pixels& p) {
    int far = 0;
    for (const auto& q : p) far = std::max(far, abs(q.second - 200));
    return far;
}

// The farthest a pixel of one set lies from the nearest pixel of the other (Chebyshev).
int _apart(const Pixels& a, const Pixels& b) {
    int far = 0;
    for (const auto& q : a) {
        int best = 99;
        for (int dy = -3; dy <= 3 && best > 0; dy++)
            for (int dx = -3; dx <= 3; dx++)
                if (b.count({q.first + dx, q.second + dy})) best = std::min(best, std::max(abs(dx), abs(dy)));
        far = std::max(far, best);
    }
    return far;
}

}  // namespace

TEST_F(SamplerStabilizer, SamplingTakesTheColourSeenNotALayers) {
    LAYER* bottom = app.doc->active_layer;
    fill(bottom, 200, 50, 50, 255);
    LAYER* top = document_add_layer(app.doc, "Top");
    fill(top, 128, 128, 255, 255);
    top->blend = LAYER_BLEND_MULTIPLY;
    app.brush.color = al_map_rgba_f(0, 0, 0, 0.5f);
    app.brush.eraser = 1;
    key(ALLEGRO_EVENT_KEY_DOWN, ALLEGRO_KEY_LCTRL);
    send(ALLEGRO_EVENT_MOUSE_BUTTON_DOWN, 100, 100, 1.0);
    EXPECT_EQ(app.drag.sampling, 1);
    /* Multiply: 200 x 128 / 255, 50 x 128 / 255, 50. */
    EXPECT_NEAR(app.brush.color.r * 255, 100.4, 1.0);
    EXPECT_NEAR(app.brush.color.g * 255, 25.1, 1.0);
    EXPECT_NEAR(app.brush.color.b * 255, 50.0, 1.0);
    EXPECT_FLOAT_EQ(app.brush.color.a, 0.5f) << "the brush keeps its own alpha";
    EXPECT_EQ(app.brush.eraser, 0);
    EXPECT_EQ(app.ui.selected_swatch, GUI_SWATCH_CHIP);
    /* A hidden layer is not seen, so not sampled; dragging keeps sampling. */
    top->visible = 0;
    send(ALLEGRO_EVENT_MOUSE_AXES, 120, 100, 1.1);
    EXPECT_NEAR(app.brush.color.r * 255, 200.0, 1.0);
    EXPECT_NEAR(app.brush.color.g * 255, 50.0, 1.0);
    send(ALLEGRO_EVENT_MOUSE_BUTTON_UP, 120, 100, 1.2);
    key(ALLEGRO_EVENT_KEY_UP, ALLEGRO_KEY_LCTRL);
    EXPECT_EQ(app.drag.sampling, 0);
    EXPECT_EQ(app.stroke.active, 0);
    EXPECT_EQ(app.doc->undo->undo_stack->nb_items, 0u) << "sampling paints nothing";
    /* Off the document nothing is taken. */
    ALLEGRO_COLOR before = app.brush.color;
    view_pan(&app.view, 200, 200);
    key(ALLEGRO_EVENT_KEY_DOWN, ALLEGRO_KEY_LCTRL);
    send(ALLEGRO_EVENT_MOUSE_BUTTON_DOWN, 20, 20, 2.0);
    send(ALLEGRO_EVENT_MOUSE_BUTTON_UP, 20, 20, 2.1);
    key(ALLEGRO_EVENT_KEY_UP, ALLEGRO_KEY_LCTRL);
    EXPECT_EQ(memcmp(&before, &app.brush.color, sizeof(before)), 0);
}

TEST_F(SamplerStabilizer, TheOneShotSamplerLeavesTheToolInHand) {
    fill(app.doc->active_layer, 10, 200, 10, 255);
    app.tool = TOOL_FILL;
    key(ALLEGRO_EVENT_KEY_DOWN, ALLEGRO_KEY_I);
    EXPECT_EQ(app.sampler_armed, 1);
    send(ALLEGRO_EVENT_MOUSE_BUTTON_DOWN, 50, 50, 1.0);
    send(ALLEGRO_EVENT_MOUSE_BUTTON_UP, 50, 50, 1.1);
    EXPECT_EQ(app.sampler_armed, 0);
    EXPECT_EQ(app.tool, TOOL_FILL);
    EXPECT_NEAR(app.brush.color.g * 255, 200.0, 1.0);
    EXPECT_EQ(app.doc->undo->undo_stack->nb_items, 0u);
    /* Escape disarms an armed sampler before anything else. */
    key(ALLEGRO_EVENT_KEY_DOWN, ALLEGRO_KEY_I);
    app.running = 1;
    key(ALLEGRO_EVENT_KEY_DOWN, ALLEGRO_KEY_ESCAPE);
    EXPECT_EQ(app.sampler_armed, 0);
    EXPECT_EQ(app.running, 1);
}

TEST_F(SamplerStabilizer, StabilizerOffPaintsExactlyAsBefore) {
    thin_brush();
    app.brush.size = 6.0f;
    app.brush.hardness = 0.5f;
    std::vector<std::vector<double>> path = _arc(60);
    replay(path);
    std::vector<uint8_t> through_input = test_bitmap_bytes(app.doc->active_layer->backup);
    clear_layer();
    BRUSH_STROKE stroke = {};
    ASSERT_EQ(brush_stroke_begin(&stroke, app.doc, &app.brush, (float)lround(path[0][0]), (float)lround(path[0][1]),
                                 1.0f, &app.symmetry),
              1);
    for (size_t i = 1; i < path.size(); i++)
        brush_stroke_segment(&stroke, app.doc, &app.brush, (float)lround(path[i][0]), (float)lround(path[i][1]), 1.0f);
    brush_stroke_end(&stroke, app.doc);
    EXPECT_EQ(test_bitmap_bytes(app.doc->active_layer->backup), through_input);
}

TEST_F(SamplerStabilizer, AZigzagIsSmoothedTowardItsLine) {
    thin_brush();
    replay(_zigzag(60));
    int raw = _stray(painted());
    EXPECT_GE(raw, 5);
    clear_layer();
    app.stabilizer = 50;
    replay(_zigzag(60));
    int smoothed = _stray(painted());
    EXPECT_LT(3 * smoothed, raw) << "raw " << raw << ", smoothed " << smoothed;
}

TEST_F(SamplerStabilizer, TheSameMovementAtAnyEventRateGivesTheSameStroke) {
    thin_brush();
    app.stabilizer = 50;
    replay(_arc(30));
    Pixels slow = painted();
    clear_layer();
    replay(_arc(240));
    Pixels fast = painted();
    ASSERT_GT(slow.size(), 100u);
    EXPECT_LE(_apart(slow, fast), 1);
    EXPECT_LE(_apart(fast, slow), 1);
}

TEST_F(SamplerStabilizer, TheStrokeEndsWhereThePointerEnded) {
    thin_brush();
    app.stabilizer = 100;
    /* A quick flick: the trailing point is far behind when the button goes up. */
    replay({{50, 300, 5.0}, {250, 300, 5.02}, {450, 300, 5.04}});
    Pixels p = painted();
    EXPECT_TRUE(p.count({450, 300})) << "the line reaches the release point";
    EXPECT_TRUE(p.count({300, 300}));
    EXPECT_EQ(app.stroke.active, 0);
    EXPECT_EQ(app.drag.stabilizing, 0);
}

TEST_F(SamplerStabilizer, AFastArcIsFollowedToItsEndNotClosedWithAChord) {
    thin_brush();
    app.brush.size = 2.0f;
    replay(_fast_arc());
    Pixels drawn = painted();
    clear_layer();
    app.stabilizer = 60;
    replay(_fast_arc());
    Pixels smoothed = painted();
    ASSERT_GT(drawn.size(), 200u);
    EXPECT_LE(_apart(smoothed, drawn), 3) << "the smoothed line left the arc";
    EXPECT_LE(_apart(drawn, smoothed), 3) << "part of the arc was cut short";
    EXPECT_TRUE(smoothed.count({300, 200}) || smoothed.count({299, 200})) << "the line reaches the release point";
    EXPECT_EQ(app.doc->undo->undo_stack->nb_items, 2u);
}

TEST_F(SamplerStabilizer, ARestingPointerLetsTheLineCatchUpOnTheTimer) {
    thin_brush();
    app.stabilizer = 100;
    /* Event times on the clock the timer reads, a while ago: a flick right,
     * then nothing until the timer ticks now. */
    double t0 = al_get_time() - 5.0;
    send(ALLEGRO_EVENT_MOUSE_BUTTON_DOWN, 100, 300, t0);
    send(ALLEGRO_EVENT_MOUSE_AXES, 250, 300, t0 + 0.02);
    send(ALLEGRO_EVENT_MOUSE_AXES, 400, 300, t0 + 0.04);
    ASSERT_EQ(app.stroke.active, 1);
    EXPECT_LT(app.drag.stab_x, 200.0f) << "the painted point trails the pointer";
    ALLEGRO_EVENT tick = {};
    tick.type = ALLEGRO_EVENT_TIMER;
    plumaro_app_handle_event(&app, &tick);
    EXPECT_NEAR(app.drag.stab_x, 400.0f, 0.01f);
    EXPECT_NEAR(app.drag.stab_y, 300.0f, 0.01f);
    std::vector<uint8_t> live = test_bitmap_bytes(brush_stroke_buffer_shown());
    ASSERT_FALSE(live.empty());
    EXPECT_GT(live[((size_t)300 * 512 + 398) * 4 + 3], 127) << "the line is painted up to the pointer while it rests";
    /* Then down from the corner: the rest keeps the corner sharp. */
    double t1 = al_get_time();
    send(ALLEGRO_EVENT_MOUSE_AXES, 400, 450, t1 + 0.03);
    send(ALLEGRO_EVENT_MOUSE_BUTTON_UP, 400, 450, t1 + 0.06);
    Pixels p = painted();
    EXPECT_TRUE(p.count({400, 300}));
    EXPECT_TRUE(p.count({400, 380}));
    EXPECT_TRUE(p.count({400, 450}));
    EXPECT_FALSE(p.count({380, 330})) << "the corner was cut";
}
