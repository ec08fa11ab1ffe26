/* View transform: fitting, centring, zoom bounds with the anchor held,
 * rotation about a point and round trips between the two spaces. */
#include <gtest/gtest.h>
#include <math.h>
#include <string.h>

#include "canvas/view.h"
#include "t_log.h"
#include "test_support.h"

// Checks that the ready transforms agree with the four numbers.
static void _expect_consistent(const VIEW& v) {
    ALLEGRO_TRANSFORM t;
    al_build_transform(&t, v.x, v.y, v.zoom, v.zoom, v.angle);
    for (int i = 0; i < 4; i++)
        for (int j = 0; j < 4; j++) EXPECT_FLOAT_EQ(t.m[i][j], v.transform.m[i][j]);
    float x = 13.0f, y = -7.0f;
    al_transform_coordinates(&v.transform, &x, &y);
    al_transform_coordinates(&v.inverse, &x, &y);
    EXPECT_NEAR(x, 13.0f, 1e-3f);
    EXPECT_NEAR(y, -7.0f, 1e-3f);
}

TEST(View, InitIsIdentity) {
    VIEW v;
    memset(&v, 0x55, sizeof(v));
    view_init(&v);
    EXPECT_EQ(v.x, 0.0f);
    EXPECT_EQ(v.y, 0.0f);
    EXPECT_EQ(v.zoom, 1.0f);
    EXPECT_EQ(v.angle, 0.0f);
    _expect_consistent(v);
}

TEST(View, FitCentresWithMargin) {
    VIEW v;
    view_init(&v);
    view_rotate_at(&v, 0.7f, 10, 10);
    view_fit(&v, 1000, 500, 1000, 1000);
    EXPECT_FLOAT_EQ(v.zoom, 0.92f);
    EXPECT_NEAR(v.x, 40.0f, 1e-3f);
    EXPECT_NEAR(v.y, 270.0f, 1e-3f);
    EXPECT_EQ(v.angle, 0.0f);
    _expect_consistent(v);
    /* The tighter axis decides: a tall canvas in a wide display. */
    view_fit(&v, 400, 800, 1280, 800);
    EXPECT_FLOAT_EQ(v.zoom, 0.92f);
    EXPECT_NEAR(v.y, (800 - 800 * 0.92f) / 2, 1e-3f);
}

TEST(View, FitAndCenterRejectBadSizes) {
    VIEW v;
    view_init(&v);
    view_pan(&v, 5, 6);
    VIEW before = v;
    test_log_capture_begin(LOG_DEBUG);
    view_fit(&v, 0, 100, 100, 100);
    view_fit(&v, 100, 100, 100, -1);
    view_center(&v, 100, -5, 100, 100);
    std::string log = test_log_capture_end();
    EXPECT_EQ(memcmp(&before, &v, sizeof(v)), 0);
    EXPECT_NE(log.find("bad fit sizes canvas 0x100 screen 100x100"), std::string::npos);
    EXPECT_NE(log.find("bad fit sizes canvas 100x100 screen 100x-1"), std::string::npos);
    EXPECT_NE(log.find("bad center sizes canvas 100x-5 screen 100x100"), std::string::npos);
}

TEST(View, CenterKeepsHalfPixels) {
    VIEW v;
    view_init(&v);
    view_zoom_at(&v, 3.0f, 0, 0);
    view_center(&v, 101, 50, 200, 201);
    EXPECT_EQ(v.zoom, 1.0f);
    EXPECT_FLOAT_EQ(v.x, 49.5f);
    EXPECT_FLOAT_EQ(v.y, 75.5f);
    _expect_consistent(v);
}

TEST(View, RecenterMovesByHalfTheGrowth) {
    VIEW v;
    view_init(&v);
    view_zoom_at(&v, 2.0f, 0, 0);
    view_rotate_at(&v, 0.3f, 0, 0);
    float x = v.x, y = v.y;
    view_recenter(&v, 800, 600, 1000, 700);
    EXPECT_FLOAT_EQ(v.x, x + 100.0f);
    EXPECT_FLOAT_EQ(v.y, y + 50.0f);
    EXPECT_FLOAT_EQ(v.zoom, 2.0f);
    EXPECT_FLOAT_EQ(v.angle, 0.3f);
    view_recenter(&v, 1000, 700, 999, 700);
    EXPECT_FLOAT_EQ(v.x, x + 99.5f);
    _expect_consistent(v);
}

TEST(View, ZoomOutStopsAtTheMinimumFromAnyZoom) {
    /* From zoom 0.5 a factor of 0.01 would give 0.005: the minimum holds, not
     * the minimum divided by the zoom, and the anchor stays put. */
    VIEW v;
    view_init(&v);
    view_zoom_at(&v, 0.5f, 0, 0);
    ASSERT_FLOAT_EQ(v.zoom, 0.5f);
    float cx, cy, sx, sy;
    view_screen_to_canvas(&v, 200, 100, &cx, &cy);
    view_zoom_at(&v, 0.01f, 200, 100);
    EXPECT_FLOAT_EQ(v.zoom, VIEW_ZOOM_MIN);
    view_canvas_to_screen(&v, cx, cy, &sx, &sy);
    EXPECT_NEAR(sx, 200.0f, 1e-3f);
    EXPECT_NEAR(sy, 100.0f, 1e-3f);
    view_zoom_at(&v, 0.5f, 200, 100);
    EXPECT_FLOAT_EQ(v.zoom, VIEW_ZOOM_MIN);
}

TEST(View, ZoomStopsAtBoundsWithAnchorHeld) {
    VIEW v;
    view_init(&v);
    view_pan(&v, 30, 40);
    view_zoom_at(&v, 20.0f, 0, 0);
    ASSERT_FLOAT_EQ(v.zoom, 20.0f);
    float cx, cy;
    view_screen_to_canvas(&v, 500, 300, &cx, &cy);
    view_zoom_at(&v, 2.0f, 500, 300);
    EXPECT_FLOAT_EQ(v.zoom, 32.0f);
    float sx, sy;
    view_canvas_to_screen(&v, cx, cy, &sx, &sy);
    EXPECT_NEAR(sx, 500.0f, 1e-2f);
    EXPECT_NEAR(sy, 300.0f, 1e-2f);
    view_zoom_at(&v, 10.0f, 500, 300);
    EXPECT_FLOAT_EQ(v.zoom, 32.0f);

    view_init(&v);
    view_pan(&v, 30, 40);
    view_screen_to_canvas(&v, 120, 80, &cx, &cy);
    view_zoom_at(&v, 0.001f, 120, 80);
    EXPECT_FLOAT_EQ(v.zoom, 0.05f);
    view_canvas_to_screen(&v, cx, cy, &sx, &sy);
    EXPECT_NEAR(sx, 120.0f, 1e-3f);
    EXPECT_NEAR(sy, 80.0f, 1e-3f);
    _expect_consistent(v);
}

TEST(View, ZoomFactorZeroOrNegativeIgnored) {
    VIEW v;
    view_init(&v);
    view_pan(&v, 3, 4);
    view_zoom_at(&v, 1.5f, 10, 10);
    VIEW before = v;
    view_zoom_at(&v, 0.0f, 100, 100);
    view_zoom_at(&v, -2.0f, 100, 100);
    view_zoom_at(&v, NAN, 100, 100);
    EXPECT_EQ(memcmp(&before, &v, sizeof(v)), 0);
}

TEST(View, RotateAboutAnchorAndBack) {
    VIEW v;
    view_init(&v);
    view_pan(&v, 120, -35);
    view_zoom_at(&v, 1.7f, 0, 0);
    float x = v.x, y = v.y;
    float cx, cy;
    view_screen_to_canvas(&v, 400, 250, &cx, &cy);
    view_rotate_at(&v, (float)M_PI / 2, 400, 250);
    /* The anchor stays on the same canvas point. */
    float sx, sy;
    view_canvas_to_screen(&v, cx, cy, &sx, &sy);
    EXPECT_NEAR(sx, 400.0f, 1e-2f);
    EXPECT_NEAR(sy, 250.0f, 1e-2f);
    /* Quarter turn clockwise on screen: the canvas +x axis points down. */
    float ax, ay, bx, by;
    view_canvas_to_screen(&v, 0, 0, &ax, &ay);
    view_canvas_to_screen(&v, 10, 0, &bx, &by);
    EXPECT_NEAR(bx - ax, 0.0f, 1e-3f);
    EXPECT_NEAR(by - ay, 17.0f, 1e-3f);
    view_rotate_at(&v, -(float)M_PI / 2, 400, 250);
    EXPECT_NEAR(v.x, x, 1e-3f);
    EXPECT_NEAR(v.y, y, 1e-3f);
    EXPECT_NEAR(v.angle, 0.0f, 1e-6f);
    _expect_consistent(v);
}

TEST(View, AngleIsNotWrapped) {
    VIEW v;
    view_init(&v);
    for (int i = 0; i < 10; i++) view_rotate_at(&v, 1.0f, 0, 0);
    EXPECT_NEAR(v.angle, 10.0f, 1e-5f);
}

TEST(View, RoundTripsAtAnyZoomAndAngle) {
    const float zooms[] = {0.05f, 0.3f, 1.0f, 2.5f, 32.0f};
    const float angles[] = {0.0f, 0.4f, -1.3f, 3.14159f, 7.0f};
    const float pts[][2] = {{0, 0}, {640, 400}, {1279, 799}, {-50, 2000}};
    for (float z : zooms)
        for (float a : angles) {
            VIEW v;
            view_init(&v);
            view_pan(&v, 123.5f, -77.25f);
            view_zoom_at(&v, z, 300, 200);
            view_rotate_at(&v, a, 640, 400);
            for (auto& p : pts) {
                float cx, cy, sx, sy;
                view_screen_to_canvas(&v, p[0], p[1], &cx, &cy);
                view_canvas_to_screen(&v, cx, cy, &sx, &sy);
                float tol = 1e-4f * (1.0f + fabsf(p[0]) + fabsf(p[1]) + fabsf(v.x) + fabsf(v.y));
                EXPECT_NEAR(sx, p[0], tol) << "zoom " << z << " angle " << a;
                EXPECT_NEAR(sy, p[1], tol) << "zoom " << z << " angle " << a;
            }
        }
}

TEST(View, NullArgumentsChangeNothing) {
    test_log_capture_begin(LOG_DEBUG);
    view_init(NULL);
    view_pan(NULL, 1, 1);
    view_zoom_at(NULL, 2, 0, 0);
    VIEW v;
    view_init(&v);
    float x = 9.0f;
    view_screen_to_canvas(&v, 1, 1, &x, NULL);
    std::string log = test_log_capture_end();
    EXPECT_EQ(x, 9.0f);
    EXPECT_NE(log.find("if( !(view) ) assert"), std::string::npos);
    EXPECT_NE(log.find("if( !(canvas_y) ) assert"), std::string::npos);
}
