/* Forms: creation, hit testing with its tie rule and box slack, dragging of
 * points and of the whole form, evaluation, segment counts and flattening
 * against the buffer capacity. Expected values come from the formulas. */
#include <gtest/gtest.h>
#include <math.h>
#include <string.h>

#include <string>

#include "canvas/form.h"
#include "t_log.h"
#include "test_support.h"

namespace {

FORM _line(float x0, float y0, float x1, float y1) {
    FORM f;
    form_init(&f);
    form_begin(&f, FORM_LINE, x0, y0, x1, y1);
    return f;
}

FORM _curve(float x0, float y0, float x1, float y1) {
    FORM f;
    form_init(&f);
    form_begin(&f, FORM_CURVE, x0, y0, x1, y1);
    return f;
}

// Cubic Bezier written out for the expected values.
void _bezier(const FORM& f, double t, double* x, double* y) {
    double u = 1 - t;
    *x = u * u * u * f.x[0] + 3 * u * u * t * f.x[1] + 3 * u * t * t * f.x[2] + t * t * t * f.x[3];
    *y = u * u * u * f.y[0] + 3 * u * u * t * f.y[1] + 3 * u * t * t * f.y[2] + t * t * t * f.y[3];
}

}  // namespace

TEST(Form, InitAndClearLeaveNoFormAndNoDrag) {
    FORM f;
    memset(&f, 0x5a, sizeof(f));
    form_init(&f);
    EXPECT_FALSE(form_is_active(&f));
    EXPECT_EQ(f.kind, FORM_NONE);
    EXPECT_EQ(f.count, 0);
    EXPECT_EQ(f.drag_index, -2);
    EXPECT_FALSE(f.dragging);
    f = _curve(1, 2, 3, 4);
    ASSERT_TRUE(form_is_active(&f));
    form_drag_begin(&f, 1, 0, 0);
    form_clear(&f);
    EXPECT_FALSE(form_is_active(&f));
    EXPECT_FALSE(f.dragging);
    EXPECT_EQ(f.drag_index, -2);
    EXPECT_EQ(f.x[3], 0.0f);
    /* A kind with fewer than two points is not a form. */
    f.kind = FORM_LINE;
    f.count = 1;
    EXPECT_FALSE(form_is_active(&f));
}

TEST(Form, BeginMakesLinesAndStraightCurvesAndRefusesOtherKinds) {
    FORM f = _line(5, 6, 7, 8);
    EXPECT_EQ(f.kind, FORM_LINE);
    EXPECT_EQ(f.count, 2);
    EXPECT_EQ(f.x[0], 5.0f);
    EXPECT_EQ(f.y[0], 6.0f);
    EXPECT_EQ(f.x[1], 7.0f);
    EXPECT_EQ(f.y[1], 8.0f);

    FORM c = _curve(0, 0, 30, 0);
    EXPECT_EQ(c.kind, FORM_CURVE);
    EXPECT_EQ(c.count, 4);
    EXPECT_FLOAT_EQ(c.x[1], 10.0f);
    EXPECT_FLOAT_EQ(c.y[1], 0.0f);
    EXPECT_FLOAT_EQ(c.x[2], 20.0f);
    EXPECT_FLOAT_EQ(c.y[2], 0.0f);
    EXPECT_EQ(c.x[3], 30.0f);
    /* An oblique chord: inner points at a third and two thirds. */
    c = _curve(3, -6, 12, 3);
    EXPECT_FLOAT_EQ(c.x[1], 6.0f);
    EXPECT_FLOAT_EQ(c.y[1], -3.0f);
    EXPECT_FLOAT_EQ(c.x[2], 9.0f);
    EXPECT_FLOAT_EQ(c.y[2], 0.0f);

    FORM before = c;
    EXPECT_EQ(form_begin(&c, 3, 1, 1, 2, 2), 0);
    EXPECT_EQ(form_begin(&c, 0, 1, 1, 2, 2), 0);
    EXPECT_EQ(form_begin(&c, -1, 1, 1, 2, 2), 0);
    EXPECT_EQ(memcmp(&before, &c, sizeof(FORM)), 0);
    /* A new begin replaces a form being dragged. */
    form_drag_begin(&c, -1, 0, 0);
    EXPECT_EQ(form_begin(&c, FORM_LINE, 1, 1, 2, 2), 1);
    EXPECT_FALSE(c.dragging);
    EXPECT_EQ(c.drag_index, -2);
}

TEST(Form, BoundsCoverEveryControlPointWithPad) {
    FORM c = _curve(10, 50, 40, 20);
    c.x[1] = -5;
    c.y[2] = 90;
    float x0, y0, x1, y1;
    ASSERT_EQ(form_bounds(&c, 2, &x0, &y0, &x1, &y1), 1);
    EXPECT_FLOAT_EQ(x0, -7);
    EXPECT_FLOAT_EQ(y0, 18);
    EXPECT_FLOAT_EQ(x1, 42);
    EXPECT_FLOAT_EQ(y1, 92);
    /* Three points are measured too, though never created. */
    c.count = 3;
    ASSERT_EQ(form_bounds(&c, 0, &x0, &y0, &x1, &y1), 1);
    EXPECT_FLOAT_EQ(x1, c.x[2]);
    FORM none;
    form_init(&none);
    EXPECT_EQ(form_bounds(&none, 2, &x0, &y0, &x1, &y1), 0);
}

TEST(Form, HitTestPrefersTheLaterPointOnEqualDistances) {
    /* (5, 0) is 5 from both ends of the line. */
    FORM f = _line(0, 0, 10, 0);
    EXPECT_EQ(form_hit_test(&f, 5, 0, 6, 0), 1);
    /* Closer to the start: the start wins. */
    EXPECT_EQ(form_hit_test(&f, 4, 0, 6, 0), 0);
    /* Exactly at the radius still hits. */
    EXPECT_EQ(form_hit_test(&f, 0, 3, 3, 0), 0);
    /* Curve: p1 and p2 both at distance 5 from (15, 0); p2 is later. */
    FORM c = _curve(0, 0, 30, 0);
    EXPECT_EQ(form_hit_test(&c, 15, 0, 9, 0), 2);
    /* All four stacked on one spot: the last one. */
    c = _curve(7, 7, 7, 7);
    EXPECT_EQ(form_hit_test(&c, 7, 7, 1, 0), 3);
    /* Later point nearer but p0 first: the nearest still wins. */
    c = _curve(0, 0, 30, 0);
    EXPECT_EQ(form_hit_test(&c, 9, 0, 9, 0), 1);
}

TEST(Form, HitTestSlackBoxAndMisses) {
    /* Zoom 1 as the tool input does it: radius 9, slack 8 screen pixels. */
    FORM f = _line(0, 0, 100, 0);
    EXPECT_EQ(form_hit_test(&f, 50, 7, 9, 8), -1);
    EXPECT_EQ(form_hit_test(&f, 50, 8, 9, 8), -1);   /* box bounds inclusive */
    EXPECT_EQ(form_hit_test(&f, 50, 8.5f, 9, 8), -2);
    EXPECT_EQ(form_hit_test(&f, -8, 0, 7, 8), -1);    /* beyond the end, within slack */
    EXPECT_EQ(form_hit_test(&f, -9, 0, 8, 8), -2);    /* nine from p0, radius 8: the box reaches only -8 */
    EXPECT_EQ(form_hit_test(&f, 50, -20, 9, 8), -2);
    /* Zoom 2: radius 4.5 and slack 4 canvas pixels. */
    EXPECT_EQ(form_hit_test(&f, 104.5f, 0, 9 / 2.0f, 8 / 2.0f), 1);
    EXPECT_EQ(form_hit_test(&f, 50, 4, 9 / 2.0f, 8 / 2.0f), -1);
    EXPECT_EQ(form_hit_test(&f, 50, 4.25f, 9 / 2.0f, 8 / 2.0f), -2);
    /* A negative radius hits no point (its square would). */
    EXPECT_EQ(form_hit_test(&f, 3, 0, -5, 0), -1);
    FORM none;
    form_init(&none);
    EXPECT_EQ(form_hit_test(&none, 0, 0, 100, 100), -2);
}

TEST(Form, DraggingTheWholeFormUsesTheDeltaFromTheDragStart) {
    FORM c = _curve(0, 0, 30, 0);
    c.y[1] = 12;
    FORM start = c;
    ASSERT_EQ(form_drag_begin(&c, -1, 10, 10), 1);
    EXPECT_TRUE(c.dragging);
    EXPECT_EQ(c.drag_index, -1);
    ASSERT_EQ(form_drag_update(&c, 15, 10), 1);
    ASSERT_EQ(form_drag_update(&c, 20, 13), 1);
    for (int i = 0; i < 4; i++) {
        EXPECT_FLOAT_EQ(c.x[i], start.x[i] + 10) << i;
        EXPECT_FLOAT_EQ(c.y[i], start.y[i] + 3) << i;
    }
    /* Back to the start point puts the form back exactly. */
    form_drag_update(&c, 10, 10);
    EXPECT_EQ(memcmp(c.x, start.x, sizeof(c.x)), 0);
    EXPECT_EQ(memcmp(c.y, start.y, sizeof(c.y)), 0);
    ASSERT_EQ(form_drag_end(&c), 1);
    EXPECT_FALSE(c.dragging);
    EXPECT_EQ(c.drag_index, -2);
    /* After the end, updates change nothing. */
    EXPECT_EQ(form_drag_update(&c, 99, 99), 0);
    EXPECT_EQ(memcmp(c.x, start.x, sizeof(c.x)), 0);
}

TEST(Form, DraggingOnePointPutsItUnderThePointer) {
    FORM c = _curve(0, 0, 30, 0);
    ASSERT_EQ(form_drag_begin(&c, 2, 21, 1), 1);
    form_drag_update(&c, 25.5f, -8);
    EXPECT_EQ(c.x[2], 25.5f);
    EXPECT_EQ(c.y[2], -8.0f);
    EXPECT_FLOAT_EQ(c.x[1], 10.0f);
    EXPECT_EQ(c.x[3], 30.0f);
    EXPECT_FLOAT_EQ(c.saved_x[2], 20.0f);
    form_drag_end(&c);

    /* Indices past the form, below -1, and an inactive form are refused. */
    FORM l = _line(0, 0, 10, 0);
    EXPECT_EQ(form_drag_begin(&l, 2, 0, 0), 0);
    EXPECT_EQ(form_drag_begin(&l, -2, 0, 0), 0);
    EXPECT_FALSE(l.dragging);
    EXPECT_EQ(form_drag_update(&l, 50, 50), 0);
    EXPECT_EQ(l.x[1], 10.0f);
    FORM none;
    form_init(&none);
    EXPECT_EQ(form_drag_begin(&none, -1, 0, 0), 0);
    EXPECT_FALSE(none.dragging);
}

TEST(Form, PointOnLinesAndCurvesWithTClamped) {
    FORM l = _line(2, 4, 12, -6);
    float x, y;
    ASSERT_EQ(form_point(&l, 0.3f, &x, &y), 1);
    EXPECT_FLOAT_EQ(x, 5.0f);
    EXPECT_FLOAT_EQ(y, 1.0f);
    FORM c = _curve(0, 0, 90, 0);
    c.x[1] = 0;
    c.y[1] = 60;
    c.x[2] = 90;
    c.y[2] = 60;
    for (double t : {0.0, 0.25, 0.5, 0.8, 1.0}) {
        double ex, ey;
        _bezier(c, t, &ex, &ey);
        ASSERT_EQ(form_point(&c, (float)t, &x, &y), 1);
        EXPECT_NEAR(x, ex, 1e-4) << t;
        EXPECT_NEAR(y, ey, 1e-4) << t;
    }
    form_point(&c, -3.0f, &x, &y);
    EXPECT_EQ(x, 0.0f);
    EXPECT_EQ(y, 0.0f);
    form_point(&c, 7.0f, &x, &y);
    EXPECT_FLOAT_EQ(x, 90.0f);
    EXPECT_NEAR(y, 0.0f, 1e-5);
    form_point(&c, NAN, &x, &y);
    EXPECT_EQ(x, 0.0f);
    FORM none;
    form_init(&none);
    EXPECT_EQ(form_point(&none, 0.5f, &x, &y), 0);
}

TEST(Form, SegmentCountFollowsControlPolygonAndZoom) {
    FORM none;
    form_init(&none);
    EXPECT_EQ(form_flatten_segments(&none, 1), 0);
    FORM l = _line(0, 0, 5000, 0);
    EXPECT_EQ(form_flatten_segments(&l, 4), 1);
    /* Polygon 60 long: 60/6 + 0.5 = 10.5 -> 10; at zoom 2: 20.5 -> 20. */
    FORM c = _curve(0, 0, 60, 0);
    EXPECT_EQ(form_flatten_segments(&c, 1), 10);
    EXPECT_EQ(form_flatten_segments(&c, 2), 20);
    EXPECT_EQ(form_flatten_segments(&c, 0), 10);  /* zoom not positive -> 1 */
    EXPECT_EQ(form_flatten_segments(&c, -3), 10);
    /* 63 long: 11.0 -> 11; bent polygon 3-4-5 legs: 30/6 + 0.5 = 5.5 -> 5. */
    c = _curve(0, 0, 63, 0);
    EXPECT_EQ(form_flatten_segments(&c, 1), 11);
    c = _curve(0, 0, 1, 1);
    c.x[1] = 3;
    c.y[1] = 4;  /* |p1-p0| = 5 */
    c.x[2] = 3;
    c.y[2] = 14; /* |p2-p1| = 10 */
    c.x[3] = 15;
    c.y[3] = 19; /* |p3-p2| = 13 */
    EXPECT_EQ(form_flatten_segments(&c, 1), (int)(28 / 6.0 + 0.5));
    /* Zero length still one segment; very long capped at 256. */
    c = _curve(4, 4, 4, 4);
    EXPECT_EQ(form_flatten_segments(&c, 1), 1);
    c = _curve(0, 0, 100000, 0);
    EXPECT_EQ(form_flatten_segments(&c, 1), 256);
    c.x[3] = INFINITY;
    EXPECT_EQ(form_flatten_segments(&c, 1), 256);
    c.x[3] = NAN;
    EXPECT_EQ(form_flatten_segments(&c, 1), 1);
}

TEST(Form, FlattenWritesSegmentsPlusOnePointsWithinCapacity) {
    float out[2 * 300];
    for (float& v : out) v = -1234.0f;
    FORM c = _curve(0, 0, 60, 0);
    c.y[1] = 30;
    int n = form_flatten_segments(&c, 1);
    /* Capacity equal to the segment count: nothing written. */
    EXPECT_EQ(form_flatten(&c, n, out, n), 0);
    EXPECT_EQ(out[0], -1234.0f);
    ASSERT_EQ(form_flatten(&c, n, out, n + 1), n + 1);
    EXPECT_EQ(out[2 * (n + 1)], -1234.0f);
    for (int i = 0; i <= n; i++) {
        double ex, ey;
        _bezier(c, (double)i / n, &ex, &ey);
        EXPECT_NEAR(out[2 * i], ex, 1e-3) << i;
        EXPECT_NEAR(out[2 * i + 1], ey, 1e-3) << i;
    }
    EXPECT_FLOAT_EQ(out[2 * n], 60.0f);

    /* Zero-length curve: one segment, two points. */
    FORM z = _curve(9, 9, 9, 9);
    ASSERT_EQ(form_flatten(&z, form_flatten_segments(&z, 1), out, 257), 2);
    EXPECT_EQ(out[0], 9.0f);
    EXPECT_EQ(out[2], 9.0f);
    /* Very long: 257 points fit the usual 257 capacity, not 256. */
    FORM big = _curve(0, 0, 90000, 0);
    int segments = form_flatten_segments(&big, 1);
    EXPECT_EQ(form_flatten(&big, segments, out, 257), 257);
    EXPECT_FLOAT_EQ(out[2 * 256], 90000.0f);
    EXPECT_EQ(form_flatten(&big, segments, out, 256), 0);
    /* The requested count is held to 1..256. */
    EXPECT_EQ(form_flatten(&big, 1000, out, 300), 257);
    EXPECT_EQ(form_flatten(&big, 0, out, 300), 2);
    EXPECT_EQ(form_flatten(&big, -5, out, 300), 2);
    EXPECT_EQ(form_flatten(&big, 0, out, 1), 0);
    /* A line flattens along its two points. */
    FORM l = _line(0, 0, 10, 20);
    ASSERT_EQ(form_flatten(&l, 2, out, 257), 3);
    EXPECT_FLOAT_EQ(out[2], 5.0f);
    EXPECT_FLOAT_EQ(out[3], 10.0f);
    FORM none;
    form_init(&none);
    EXPECT_EQ(form_flatten(&none, 4, out, 257), 0);
}

TEST(Form, NullArgumentsAreLoggedAndRefused) {
    test_log_capture_begin(LOG_DEBUG);
    float x, y;
    FORM f = _line(0, 0, 1, 1);
    EXPECT_EQ(form_begin(NULL, FORM_LINE, 0, 0, 1, 1), 0);
    EXPECT_FALSE(form_is_active(NULL));
    EXPECT_EQ(form_hit_test(NULL, 0, 0, 1, 1), -2);
    EXPECT_EQ(form_point(&f, 0.5f, NULL, &y), 0);
    EXPECT_EQ(form_bounds(&f, 0, &x, &y, NULL, &y), 0);
    EXPECT_EQ(form_flatten(&f, 1, NULL, 257), 0);
    EXPECT_EQ(form_commit(NULL, NULL, NULL, NULL, NULL, 1), 0);
    form_clear(NULL);
    std::string log = test_log_capture_end();
    EXPECT_NE(log.find("if( !(form) ) assert at line"), std::string::npos) << log;
    EXPECT_NE(log.find("if( !(out_xy) ) assert at line"), std::string::npos) << log;
    EXPECT_NE(log.find("if( !(x1) ) assert at line"), std::string::npos) << log;
}

TEST(Form, CommitWithoutDocumentOnlyClears) {
    FORM f = _curve(0, 0, 40, 0);
    EXPECT_EQ(form_commit(&f, NULL, NULL, NULL, NULL, 1), 0);
    EXPECT_FALSE(form_is_active(&f));
    /* An inactive form is left as it is. */
    FORM none;
    form_init(&none);
    none.drag_index = 5;
    EXPECT_EQ(form_commit(&none, NULL, NULL, NULL, NULL, 1), 0);
    EXPECT_EQ(none.drag_index, 5);
}
