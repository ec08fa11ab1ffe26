/* Grid snapping: when it is active, lengths, stroke points with and without
 * diagonals, anchors and quantised directions. */
#include <gtest/gtest.h>

#include "canvas/grid.h"
#include "t_log.h"
#include "test_support.h"

static GRID _grid(float spacing, int visible, int snap, int diagonals) {
    GRID g;
    grid_init(&g);
    g.spacing = spacing;
    g.visible = (uint8_t)visible;
    g.snap = (uint8_t)snap;
    g.diagonals = (uint8_t)diagonals;
    return g;
}

static void _expect_view(const GRID& g, float x, float y, float ex, float ey) {
    float sx = -1e9f, sy = -1e9f;
    grid_snap_view(&g, x, y, &sx, &sy);
    EXPECT_NEAR(sx, ex, 1e-3) << "(" << x << ", " << y << ")";
    EXPECT_NEAR(sy, ey, 1e-3) << "(" << x << ", " << y << ")";
}

TEST(Grid, InitialValues) {
    GRID g;
    memset(&g, 0xff, sizeof(g));
    grid_init(&g);
    EXPECT_EQ(g.visible, 0);
    EXPECT_FLOAT_EQ(g.spacing, 128.0f);
    EXPECT_EQ(g.snap, 0);
    EXPECT_EQ(g.diagonals, 0);
    EXPECT_NEAR(g.line_color.r, 70.0 / 255 * 170 / 255, 1.5 / 255);
    EXPECT_NEAR(g.line_color.b, 180.0 / 255 * 170 / 255, 1.5 / 255);
    EXPECT_NEAR(g.line_color.a, 170.0 / 255, 1.5 / 255);
    EXPECT_NEAR(g.diagonal_color.r, 150.0 / 255 * 120 / 255, 1.5 / 255);
    EXPECT_NEAR(g.diagonal_color.g, 110.0 / 255 * 120 / 255, 1.5 / 255);
    EXPECT_NEAR(g.diagonal_color.a, 120.0 / 255, 1.5 / 255);
}

TEST(Grid, SnappingNeedsSnapSomethingShownAndASpacing) {
    const GRID inactive[] = {_grid(128, 1, 0, 1), _grid(128, 0, 1, 0), _grid(0, 1, 1, 1), _grid(-8, 1, 1, 0)};
    for (const GRID& g : inactive) {
        float step = -5, len = -5, ax = -5, ay = -5;
        EXPECT_EQ(grid_snap_step(&g, &step), 0);
        EXPECT_FLOAT_EQ(step, -5);
        EXPECT_EQ(grid_snap_length(&g, 10, &len), 0);
        EXPECT_FLOAT_EQ(len, 10);
        EXPECT_EQ(grid_snap_anchor(&g, 30, 40, &ax, &ay), 0);
        EXPECT_FLOAT_EQ(ax, -5);
        EXPECT_FLOAT_EQ(ay, -5);
        _expect_view(g, 30.5f, 40.25f, 30.5f, 40.25f);
    }
    /* Diagonals alone are enough to snap to. */
    GRID diag = _grid(128, 0, 1, 1);
    float step = 0;
    EXPECT_EQ(grid_snap_step(&diag, &step), 1);
    EXPECT_FLOAT_EQ(step, 128);
    GRID lines = _grid(32, 1, 1, 0);
    EXPECT_EQ(grid_snap_step(&lines, &step), 1);
    EXPECT_FLOAT_EQ(step, 32);
}

TEST(Grid, LengthsRoundToWholeCellsNeverBelowOne) {
    GRID g = _grid(128, 1, 1, 0);
    float out = 0;
    EXPECT_EQ(grid_snap_length(&g, 10, &out), 1);
    EXPECT_FLOAT_EQ(out, 128);
    grid_snap_length(&g, 200, &out);
    EXPECT_FLOAT_EQ(out, 256);
    grid_snap_length(&g, 192, &out); /* 1.5 cells round up */
    EXPECT_FLOAT_EQ(out, 256);
    grid_snap_length(&g, 191, &out);
    EXPECT_FLOAT_EQ(out, 128);
    grid_snap_length(&g, 0, &out);
    EXPECT_FLOAT_EQ(out, 128);
    grid_snap_length(&g, -500, &out);
    EXPECT_FLOAT_EQ(out, 128);
}

TEST(Grid, StrokePointsWithoutDiagonalsGoToTheNearestNode) {
    GRID g = _grid(128, 1, 1, 0);
    _expect_view(g, 63.9f, 64.0f, 0, 128);
    _expect_view(g, 300, 5, 256, 0);
    /* Halves round away from zero, also below zero. */
    _expect_view(g, -64, -192, -128, -256);
    _expect_view(g, -63.9f, -64.1f, 0, -128);
    _expect_view(g, 64, 192, 128, 256);
}

TEST(Grid, StrokePointsWithDiagonals) {
    GRID g = _grid(100, 0, 1, 1);
    _expect_view(g, 52, 47, 50, 50); /* near the cell centre */
    _expect_view(g, 10, 3, 0, 0);    /* close to a grid line */
    _expect_view(g, 30, 32, 31, 31); /* far from lines, close to a diagonal */
    /* The centre radius includes its boundary; just past it the point goes to a diagonal. */
    _expect_view(g, 75, 50, 50, 50);
    _expect_view(g, 75.01f, 50, 62.505f, 62.505f);
    /* The line distance includes 0.15 cells. */
    _expect_view(g, 15, 40, 0, 0);
    /* Nearer a line than three quarters of the diagonal distance: the node. */
    _expect_view(g, 16.5f, 50, 0, 100);
    /* The other family: x + y = 100. */
    _expect_view(g, 20, 60, 30, 70);
    /* Below zero the containing cell is found with the floor. */
    _expect_view(g, -52, -47, -50, -50);
    _expect_view(g, -30, -32, -31, -31);
    _expect_view(g, 230, 232, 231, 231);
}

TEST(Grid, Anchors) {
    float ax = 0, ay = 0;
    GRID lines = _grid(128, 1, 1, 0);
    EXPECT_EQ(grid_snap_anchor(&lines, -64, -64, &ax, &ay), 1);
    EXPECT_FLOAT_EQ(ax, -128);
    EXPECT_FLOAT_EQ(ay, -128);
    GRID diag = _grid(128, 1, 1, 1);
    EXPECT_EQ(grid_snap_anchor(&diag, -64, -64, &ax, &ay), 1);
    EXPECT_FLOAT_EQ(ax, -64);
    EXPECT_FLOAT_EQ(ay, -64);
    GRID g = _grid(100, 1, 1, 1);
    grid_snap_anchor(&g, 30, 30, &ax, &ay);
    EXPECT_FLOAT_EQ(ax, 50);
    EXPECT_FLOAT_EQ(ay, 50);
    /* Equally far from node and centre: the node stays. */
    grid_snap_anchor(&g, 25, 25, &ax, &ay);
    EXPECT_FLOAT_EQ(ax, 0);
    EXPECT_FLOAT_EQ(ay, 0);
    grid_snap_anchor(&g, 24, 26, &ax, &ay); /* 24²+26² against 26²+24² */
    EXPECT_FLOAT_EQ(ax, 0);
    EXPECT_FLOAT_EQ(ay, 0);
    grid_snap_anchor(&g, 90, 80, &ax, &ay);
    EXPECT_FLOAT_EQ(ax, 100);
    EXPECT_FLOAT_EQ(ay, 100);
}

TEST(Grid, SegmentDirections) {
    struct Case {
        float dx, dy;
        int diagonal, sx, sy;
    } cases[] = {
        {10, 9, 1, 1, 1},   {10, 9, 0, 1, 0},     {0, 0, 1, 1, 0},    {0, 0, 0, 1, 0},
        {-10, 0, 0, -1, 0}, {0, -5, 0, 0, -1},    {0, -5, 1, 0, -1},  {-10, 9, 1, -1, 1},
        {-10, -1, 0, -1, 0}, {3, -10, 0, 0, -1},  {3, -10, 1, 0, -1}, {7, -6, 1, 1, -1},
        {1, 1, 0, 0, 1}, /* exactly between right and down: the half rounds away from zero */
        {-1, -1, 0, -1, 0},
    };
    for (const Case& c : cases) {
        int32_t sx = 9, sy = 9;
        grid_segment_dir(c.dx, c.dy, c.diagonal, &sx, &sy);
        EXPECT_EQ(sx, c.sx) << c.dx << "," << c.dy << " diag " << c.diagonal;
        EXPECT_EQ(sy, c.sy) << c.dx << "," << c.dy << " diag " << c.diagonal;
    }
}

TEST(Grid, MissingArgumentsAreReported) {
    GRID g = _grid(100, 1, 1, 0);
    float a = 0, b = 0;
    int32_t i = 0;
    test_log_capture_begin(LOG_DEBUG);
    grid_init(NULL);
    EXPECT_EQ(grid_snap_step(NULL, &a), 0);
    EXPECT_EQ(grid_snap_step(&g, NULL), 0);
    EXPECT_EQ(grid_snap_length(&g, 5, NULL), 0);
    EXPECT_EQ(grid_snap_anchor(&g, 1, 1, NULL, &b), 0);
    EXPECT_EQ(grid_snap_anchor(&g, 1, 1, &a, NULL), 0);
    grid_snap_view(&g, 1, 1, NULL, &b);
    grid_segment_dir(1, 0, 0, &i, NULL);
    std::string text = test_log_capture_end();
    for (const char* name : {"grid", "step", "snapped", "anchor_x", "anchor_y", "snapped_x", "step_y"})
        EXPECT_NE(text.find(std::string("if( !(") + name + ") ) assert"), std::string::npos) << name;
    /* Without a grid the point and the length come back unchanged. */
    a = b = 0;
    grid_snap_view(NULL, 7, 8, &a, &b);
    EXPECT_FLOAT_EQ(a, 7);
    EXPECT_FLOAT_EQ(b, 8);
    EXPECT_EQ(grid_snap_length(NULL, 12, &a), 0);
    EXPECT_FLOAT_EQ(a, 12);
}
