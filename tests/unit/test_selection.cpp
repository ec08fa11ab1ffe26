/* Selection geometry without pixels: marquee and lasso bookkeeping, the float
 * transform, the handle hit test and every kind of handle drag. */
#include <gtest/gtest.h>
#include <math.h>
#include <string.h>

#include "canvas/selection.h"
#include "canvas/view.h"
#include "t_log.h"
#include "test_support.h"

namespace {

// A float of w x h at (x, y) with no pixels: enough for the geometry.
SELECTION floating(int x, int y, int w, int h) {
    SELECTION sel;
    selection_init(&sel);
    sel.state = SEL_FLOATING;
    sel.x = x;
    sel.y = y;
    sel.w = w;
    sel.h = h;
    return sel;
}

// Canvas position of a float pixel coordinate.
void to_canvas(const SELECTION& sel, float lx, float ly, float* cx, float* cy) {
    ALLEGRO_TRANSFORM m;
    selection_build_transform(&sel, &m);
    *cx = lx;
    *cy = ly;
    al_transform_coordinates(&m, cx, cy);
}

// Screen position of a float pixel coordinate.
void to_screen(const SELECTION& sel, const VIEW& view, float lx, float ly, float* sx, float* sy) {
    float cx, cy;
    to_canvas(sel, lx, ly, &cx, &cy);
    view_canvas_to_screen(&view, cx, cy, sx, sy);
}

}  // namespace

TEST(Selection, InitAndDiscardLeaveAnEmptyRecord) {
    SELECTION sel;
    memset(&sel, 0x5a, sizeof(sel));
    selection_init(&sel);
    EXPECT_EQ(sel.state, SEL_NONE);
    EXPECT_EQ(sel.points, nullptr);
    EXPECT_EQ(sel.bitmap, nullptr);
    EXPECT_EQ(sel.scale_x, 1.0f);
    EXPECT_EQ(sel.scale_y, 1.0f);
    EXPECT_EQ(sel.source_kind, -1);
    EXPECT_TRUE(selection_is_identity(&sel));
    EXPECT_TRUE(selection_is_identity(NULL));

    selection_begin_lasso(&sel, 1, 1);
    selection_add_lasso_point(&sel, 10, 1);
    sel.dragging = true; /* the tool input's flag */
    sel.symmetric = true;
    sel.source_kind = 3;
    selection_discard(&sel);
    EXPECT_EQ(sel.state, SEL_NONE);
    EXPECT_EQ(sel.points, nullptr);
    EXPECT_EQ(sel.count, 0);
    EXPECT_FALSE(sel.lasso);
    EXPECT_FALSE(sel.symmetric);
    EXPECT_EQ(sel.source_kind, -1);
    EXPECT_TRUE(sel.dragging) << "the capture flag belongs to the tool input";
}

TEST(Selection, MarqueeFollowsThePointerOnlyWhileSelecting) {
    SELECTION sel;
    selection_init(&sel);
    selection_update_marquee(&sel, 5, 5);
    EXPECT_EQ(sel.state, SEL_NONE);
    selection_begin_marquee(&sel, 10.5f, 20.25f);
    EXPECT_EQ(sel.state, SEL_SELECTING);
    EXPECT_FALSE(sel.lasso);
    EXPECT_EQ(sel.start_x, 10.5f);
    EXPECT_EQ(sel.end_y, 20.25f);
    selection_update_marquee(&sel, -3, 40);
    EXPECT_EQ(sel.start_x, 10.5f);
    EXPECT_EQ(sel.end_x, -3.0f);
    EXPECT_EQ(sel.end_y, 40.0f);
    /* A new lasso throws the marquee away. */
    selection_begin_lasso(&sel, 7, 8);
    EXPECT_TRUE(sel.lasso);
    ASSERT_NE(sel.points, nullptr);
    EXPECT_EQ(sel.count, 1);
    EXPECT_EQ(sel.capacity, SELECTION_LASSO_START);
    selection_begin_marquee(&sel, 1, 1);
    EXPECT_FALSE(sel.lasso);
    EXPECT_EQ(sel.points, nullptr);
    selection_discard(&sel);
}

TEST(Selection, LassoDropsClosePointsAndStopsAt4096) {
    SELECTION sel;
    selection_init(&sel);
    selection_add_lasso_point(&sel, 1, 1); /* not selecting */
    EXPECT_EQ(sel.count, 0);
    selection_begin_lasso(&sel, 0, 0);
    selection_add_lasso_point(&sel, 1.9f, 0); /* closer than 2 px */
    selection_add_lasso_point(&sel, 1, 1.7f);
    EXPECT_EQ(sel.count, 1);
    selection_add_lasso_point(&sel, 2, 0); /* exactly 2 px: kept */
    EXPECT_EQ(sel.count, 2);
    selection_add_lasso_point(&sel, NAN, 10);
    selection_add_lasso_point(&sel, 10, INFINITY);
    EXPECT_EQ(sel.count, 2);

    for (int i = 2; i < SELECTION_LASSO_MAX; i++) selection_add_lasso_point(&sel, (float)i * 2.0f, (float)(i % 7));
    EXPECT_EQ(sel.count, SELECTION_LASSO_MAX);
    EXPECT_EQ(sel.capacity, SELECTION_LASSO_MAX);
    float last_x = sel.points[(SELECTION_LASSO_MAX - 1) * 2];
    EXPECT_EQ(last_x, (float)(SELECTION_LASSO_MAX - 1) * 2.0f) << "points survive the growth";
    EXPECT_EQ(sel.points[2 * 300], 600.0f);
    selection_add_lasso_point(&sel, 1e5f, 1e5f); /* the 4097th */
    EXPECT_EQ(sel.count, SELECTION_LASSO_MAX);
    EXPECT_EQ(sel.points[(SELECTION_LASSO_MAX - 1) * 2], last_x);
    selection_discard(&sel);
}

TEST(Selection, NullArgumentsAreRefused) {
    test_log_capture_begin(LOG_DEBUG);
    selection_init(NULL);
    selection_begin_marquee(NULL, 1, 1);
    selection_add_lasso_point(NULL, 1, 1);
    EXPECT_EQ(selection_end_marquee(NULL, NULL), 0);
    EXPECT_EQ(selection_commit(NULL, NULL, NULL), 0);
    EXPECT_EQ(selection_delete(NULL, NULL), 0);
    EXPECT_EQ(selection_clone_float(NULL), nullptr);
    SELECTION sel = floating(0, 0, 4, 4);
    float cx;
    EXPECT_EQ(selection_get_center(&sel, &cx, NULL), 0);
    EXPECT_EQ(selection_hit_test(&sel, NULL, 0, 0), 0);
    EXPECT_EQ(selection_paste(&sel, NULL, NULL, 0, 0), 0);
    EXPECT_EQ(selection_resample_float(&sel, NULL), 0);
    std::string log = test_log_capture_end();
    EXPECT_NE(log.find("if( !(sel) ) assert"), std::string::npos);
    EXPECT_NE(log.find("if( !(cy) ) assert"), std::string::npos);
    EXPECT_NE(log.find("if( !(view) ) assert"), std::string::npos);
    EXPECT_NE(log.find("if( !(doc) ) assert"), std::string::npos);
    EXPECT_EQ(sel.state, SEL_FLOATING) << "a refused paste leaves the float";
}

TEST(Selection, TransformScalesAndRotatesAboutTheCentreThenMoves) {
    SELECTION sel = floating(100, 50, 40, 20);
    float cx, cy;
    to_canvas(sel, 0, 0, &cx, &cy);
    EXPECT_FLOAT_EQ(cx, 100.0f);
    EXPECT_FLOAT_EQ(cy, 50.0f);

    sel.scale_x = 2.0f;
    sel.scale_y = 0.5f;
    sel.offset_x = 3.0f;
    sel.offset_y = -4.0f;
    EXPECT_FALSE(selection_is_identity(&sel));
    to_canvas(sel, 0, 0, &cx, &cy); /* centre (120, 60) + offset */
    EXPECT_NEAR(cx, 123.0f - 40.0f, 1e-4f);
    EXPECT_NEAR(cy, 56.0f - 5.0f, 1e-4f);
    to_canvas(sel, 20, 10, &cx, &cy);
    EXPECT_NEAR(cx, 123.0f, 1e-4f);
    EXPECT_NEAR(cy, 56.0f, 1e-4f);

    sel.scale_x = sel.scale_y = 1.0f;
    sel.rotation = (float)M_PI / 2; /* clockwise on a y-down canvas */
    to_canvas(sel, 40, 10, &cx, &cy);
    EXPECT_NEAR(cx, 123.0f, 1e-3f);
    EXPECT_NEAR(cy, 56.0f + 20.0f, 1e-3f);

    float mx, my;
    ASSERT_EQ(selection_get_center(&sel, &mx, &my), 1);
    EXPECT_FLOAT_EQ(mx, 123.0f);
    EXPECT_FLOAT_EQ(my, 56.0f);
    selection_nudge(&sel, 0.25f, 1.0f);
    EXPECT_FLOAT_EQ(sel.offset_x, 3.25f);
    EXPECT_FLOAT_EQ(sel.offset_y, -3.0f);

    SELECTION none;
    selection_init(&none);
    selection_nudge(&none, 5, 5);
    EXPECT_EQ(none.offset_x, 0.0f);
    EXPECT_EQ(selection_get_center(&none, &mx, &my), 0);
    int ix, iy;
    EXPECT_EQ(selection_get_position(&none, &ix, &iy), 0);
}

TEST(Selection, PositionRoundsTheOffsetHalfAwayFromZero) {
    SELECTION sel = floating(40, 30, 8, 8);
    int x = 0, y = 0;
    sel.offset_x = 0.5f;
    sel.offset_y = -0.5f;
    ASSERT_EQ(selection_get_position(&sel, &x, &y), 1);
    EXPECT_EQ(x, 41);
    EXPECT_EQ(y, 29);
    sel.offset_x = 2.49f;
    sel.offset_y = -2.51f;
    selection_get_position(&sel, &x, &y);
    EXPECT_EQ(x, 42);
    EXPECT_EQ(y, 27);
    sel.offset_x = 1e30f; /* held in range rather than overflowing */
    selection_get_position(&sel, &x, &y);
    EXPECT_GT(x, 0);
}

TEST(Selection, HitTestFindsHandlesInOrderThenTheInside) {
    VIEW view;
    view_init(&view);
    view_pan(&view, 10, 20);
    SELECTION sel = floating(100, 100, 100, 60);
    float sx, sy;
    const float local[8][2] = {{0, 0}, {100, 0}, {100, 60}, {0, 60}, {50, 0}, {100, 30}, {50, 60}, {0, 30}};
    for (int i = 0; i < 8; i++) {
        to_screen(sel, view, local[i][0], local[i][1], &sx, &sy);
        EXPECT_EQ(selection_hit_test(&sel, &view, sx + 10, sy - 10), i + 2) << "handle " << i + 2;
        EXPECT_NE(selection_hit_test(&sel, &view, sx + 11, sy - 11), i + 2) << "just outside 15 px";
    }
    to_screen(sel, view, 50, 0, &sx, &sy);
    EXPECT_EQ(selection_hit_test(&sel, &view, sx, sy - 30), SELECTION_HANDLE_ROTATE);
    EXPECT_EQ(selection_hit_test(&sel, &view, sx + 9, sy - 42), SELECTION_HANDLE_ROTATE);
    EXPECT_EQ(selection_hit_test(&sel, &view, sx + 25, sy - 25), SELECTION_HANDLE_NONE);
    to_screen(sel, view, 25, 45, &sx, &sy);
    EXPECT_EQ(selection_hit_test(&sel, &view, sx, sy), SELECTION_HANDLE_MOVE);
    to_screen(sel, view, -30, 45, &sx, &sy);
    EXPECT_EQ(selection_hit_test(&sel, &view, sx, sy), SELECTION_HANDLE_NONE);

    /* A corner wins over an edge midpoint that is nearer. */
    SELECTION small = floating(100, 100, 10, 10);
    to_screen(small, view, 4, 0, &sx, &sy);
    EXPECT_EQ(selection_hit_test(&small, &view, sx, sy), SELECTION_HANDLE_TOP_LEFT);

    SELECTION none;
    selection_init(&none);
    EXPECT_EQ(selection_hit_test(&none, &view, 0, 0), SELECTION_HANDLE_NONE);
}

TEST(Selection, RotateHandleIsFoundBeforeACorner) {
    /* A float collapsed to a sliver at the smallest zoom: its centre and top
     * edge nearly meet, so the rotate handle sits within 15 px of the corners. */
    VIEW view;
    view_init(&view);
    view_zoom_at(&view, 0.01f, 0, 0);
    ASSERT_FLOAT_EQ(view.zoom, VIEW_ZOOM_MIN);
    SELECTION sel = floating(400, 400, 1, 1);
    sel.scale_x = sel.scale_y = SELECTION_MIN_SCALE;
    float tx, ty, lx, ly;
    to_screen(sel, view, 0.5f, 0, &tx, &ty);
    to_screen(sel, view, 0, 0, &lx, &ly);
    float px = tx, py = ty - 8.0f;
    ASSERT_LE((px - lx) * (px - lx) + (py - ly) * (py - ly), 225.0f) << "the corner is in reach too";
    EXPECT_EQ(selection_hit_test(&sel, &view, px, py), SELECTION_HANDLE_ROTATE);
}

TEST(Selection, HitTestFollowsARotatedFloatAndTheView) {
    VIEW view;
    view_init(&view);
    view_zoom_at(&view, 2.0f, 0, 0);
    view_rotate_at(&view, 0.3f, 0, 0);
    SELECTION sel = floating(50, 50, 80, 40);
    sel.rotation = (float)M_PI / 4;
    sel.offset_x = 12.0f;
    float sx, sy;
    to_screen(sel, view, 80, 40, &sx, &sy);
    EXPECT_EQ(selection_hit_test(&sel, &view, sx, sy), SELECTION_HANDLE_BOTTOM_RIGHT);
    to_screen(sel, view, 40, 20, &sx, &sy);
    EXPECT_EQ(selection_hit_test(&sel, &view, sx, sy), SELECTION_HANDLE_MOVE);
    /* The unrotated corner region lies outside the rotated float. */
    float cx = 50 + 12 + 75, cy = 50 + 2;
    view_canvas_to_screen(&view, cx, cy, &sx, &sy);
    EXPECT_EQ(selection_hit_test(&sel, &view, sx, sy), SELECTION_HANDLE_NONE);
}

TEST(Selection, MoveDragAddsThePointerTravelToTheSavedOffset) {
    SELECTION sel = floating(10, 10, 20, 20);
    sel.offset_x = 1.0f;
    selection_drag_begin(&sel, SELECTION_HANDLE_MOVE, 15, 15);
    selection_drag_update(&sel, 20, 12, false);
    selection_drag_update(&sel, 25.5f, 13, false);
    EXPECT_FLOAT_EQ(sel.offset_x, 11.5f);
    EXPECT_FLOAT_EQ(sel.offset_y, -2.0f);
    selection_drag_update(&sel, NAN, 13, false);
    EXPECT_FLOAT_EQ(sel.offset_x, 11.5f);
    selection_drag_end(&sel);
    EXPECT_EQ(sel.drag_type, 0);
    selection_drag_update(&sel, 100, 100, false); /* no drag: nothing moves */
    EXPECT_FLOAT_EQ(sel.offset_x, 11.5f);

    SELECTION drawing;
    selection_init(&drawing);
    selection_begin_marquee(&drawing, 0, 0);
    selection_drag_begin(&drawing, SELECTION_HANDLE_MOVE, 0, 0);
    selection_drag_update(&drawing, 50, 50, false);
    EXPECT_EQ(drawing.offset_x, 0.0f) << "only a float is dragged";
}

TEST(Selection, RotateDragTurnsAboutTheCentreAndSnapsWithShift) {
    SELECTION sel = floating(0, 0, 100, 100); /* centre (50, 50) */
    sel.rotation = 0.1f;
    selection_drag_begin(&sel, SELECTION_HANDLE_ROTATE, 50, -30);
    selection_drag_update(&sel, 130, 50, false); /* a quarter turn clockwise */
    EXPECT_NEAR(sel.rotation, 0.1f + (float)M_PI / 2, 1e-5f);
    selection_drag_update(&sel, 50 + 80 * cosf(-1.2f), 50 + 80 * sinf(-1.2f), true);
    float step = SELECTION_ROTATE_STEP;
    float k = sel.rotation / step;
    EXPECT_NEAR(k, roundf(k), 1e-4f) << sel.rotation;
    EXPECT_NEAR(sel.rotation, roundf((0.1f - 1.2f + (float)M_PI / 2) / step) * step, 1e-5f);
    EXPECT_NEAR(sel.rotation, 2 * step, 1e-5f); /* 0.4708 rad is nearest 30 degrees */
    EXPECT_EQ(sel.scale_x, 1.0f);
}

TEST(Selection, CornerDragScalesAboutTheOppositeCorner) {
    SELECTION sel = floating(100, 100, 40, 20);
    selection_drag_begin(&sel, SELECTION_HANDLE_BOTTOM_RIGHT, 140, 120);
    EXPECT_FLOAT_EQ(sel.anchor_canvas_x, 100.0f);
    EXPECT_FLOAT_EQ(sel.anchor_canvas_y, 100.0f);
    selection_drag_update(&sel, 180, 110, false);
    EXPECT_FLOAT_EQ(sel.scale_x, 2.0f);
    EXPECT_FLOAT_EQ(sel.scale_y, 0.5f);
    float cx, cy;
    to_canvas(sel, 0, 0, &cx, &cy);
    EXPECT_NEAR(cx, 100.0f, 1e-4f);
    EXPECT_NEAR(cy, 100.0f, 1e-4f);
    to_canvas(sel, 40, 20, &cx, &cy);
    EXPECT_NEAR(cx, 180.0f, 1e-4f);
    EXPECT_NEAR(cy, 110.0f, 1e-4f);
    /* Shift keeps the proportions: both axes take the larger factor. */
    selection_drag_update(&sel, 180, 110, true);
    EXPECT_FLOAT_EQ(sel.scale_x, 2.0f);
    EXPECT_FLOAT_EQ(sel.scale_y, 2.0f);
    to_canvas(sel, 0, 0, &cx, &cy);
    EXPECT_NEAR(cx, 100.0f, 1e-4f);
    EXPECT_NEAR(cy, 100.0f, 1e-4f);
}

TEST(Selection, HandleDraggedPastItsAnchorCollapsesInsteadOfMirroring) {
    SELECTION sel = floating(100, 100, 40, 20);
    selection_drag_begin(&sel, SELECTION_HANDLE_TOP_LEFT, 100, 100);
    EXPECT_FLOAT_EQ(sel.anchor_local_x, 40.0f);
    EXPECT_FLOAT_EQ(sel.anchor_local_y, 20.0f);
    selection_drag_update(&sel, 200, 180, false); /* far beyond (140, 120) */
    EXPECT_FLOAT_EQ(sel.scale_x, SELECTION_MIN_SCALE);
    EXPECT_FLOAT_EQ(sel.scale_y, SELECTION_MIN_SCALE);
    float x0, y0, x1, y1;
    to_canvas(sel, 0, 0, &x0, &y0);
    to_canvas(sel, 40, 20, &x1, &y1);
    EXPECT_NEAR(x1, 140.0f, 1e-3f) << "the anchor stays";
    EXPECT_NEAR(y1, 120.0f, 1e-3f);
    EXPECT_LT(x0, x1) << "the float is not flipped";
    EXPECT_LT(y0, y1);
    EXPECT_NEAR(x1 - x0, 40 * SELECTION_MIN_SCALE, 1e-3f);
    /* With Shift a negative factor keeps its sign and is then floored too. */
    selection_drag_update(&sel, 150, 90, true);
    EXPECT_FLOAT_EQ(sel.scale_x, SELECTION_MIN_SCALE);
    EXPECT_FLOAT_EQ(sel.scale_y, 1.5f);

    SELECTION edge = floating(0, 0, 50, 50);
    selection_drag_begin(&edge, SELECTION_HANDLE_LEFT, 0, 25);
    selection_drag_update(&edge, 80, 25, false);
    EXPECT_FLOAT_EQ(edge.scale_x, SELECTION_MIN_SCALE);
    EXPECT_FLOAT_EQ(edge.scale_y, 1.0f);
}

TEST(Selection, EdgeDragsChangeOneAxis) {
    SELECTION sel = floating(0, 0, 40, 20);
    selection_drag_begin(&sel, SELECTION_HANDLE_TOP, 20, 0);
    EXPECT_FLOAT_EQ(sel.anchor_local_x, 20.0f);
    EXPECT_FLOAT_EQ(sel.anchor_local_y, 20.0f);
    selection_drag_update(&sel, 90, -20, true); /* sideways travel and Shift are ignored */
    EXPECT_FLOAT_EQ(sel.scale_x, 1.0f);
    EXPECT_FLOAT_EQ(sel.scale_y, 2.0f);
    float cx, cy;
    to_canvas(sel, 20, 20, &cx, &cy);
    EXPECT_NEAR(cx, 20.0f, 1e-4f);
    EXPECT_NEAR(cy, 20.0f, 1e-4f);
    selection_drag_end(&sel);

    selection_drag_begin(&sel, SELECTION_HANDLE_RIGHT, 40, 10);
    selection_drag_update(&sel, 10, 300, false);
    EXPECT_FLOAT_EQ(sel.scale_x, 0.25f);
    EXPECT_FLOAT_EQ(sel.scale_y, 2.0f);
    to_canvas(sel, 0, 10, &cx, &cy);
    EXPECT_NEAR(cx, 0.0f, 1e-4f);
    EXPECT_NEAR(cy, 0.0f, 1e-4f) << "the left edge's midpoint stays";
}

TEST(Selection, ScalingARotatedFloatMeasuresAlongItsAxes) {
    SELECTION sel = floating(200, 200, 60, 30);
    sel.rotation = (float)M_PI / 2;
    float ax, ay, hx, hy;
    to_canvas(sel, 0, 0, &ax, &ay);
    to_canvas(sel, 60, 30, &hx, &hy);
    selection_drag_begin(&sel, SELECTION_HANDLE_BOTTOM_RIGHT, hx, hy);
    /* Along the float's x axis, which points down the canvas now. */
    selection_drag_update(&sel, hx, hy + 60, false);
    EXPECT_NEAR(sel.scale_x, 2.0f, 1e-4f);
    EXPECT_NEAR(sel.scale_y, 1.0f, 1e-4f);
    float cx, cy;
    to_canvas(sel, 0, 0, &cx, &cy);
    EXPECT_NEAR(cx, ax, 1e-3f);
    EXPECT_NEAR(cy, ay, 1e-3f);
    EXPECT_NEAR(sel.rotation, (float)M_PI / 2, 1e-6f);
}
