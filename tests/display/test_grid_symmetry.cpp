/* Grid overlay and symmetry guides drawn through the view: density cut-off,
 * line positions on pixel centres, diagonals kept inside the document, and
 * the guides of every symmetry mode. */
#include <gtest/gtest.h>

#include <allegro5/allegro_primitives.h>
#include <math.h>
#include <string.h>

#include <vector>

#include "canvas/grid.h"
#include "canvas/symmetry.h"
#include "test_support.h"

namespace {

const int SW = 320, SH = 240;

struct Screen {
    std::vector<unsigned char> rgba;
    const unsigned char* at(int x, int y) const { return &rgba[((size_t)y * SW + x) * 4]; }
    bool on(int x, int y) const { return at(x, y)[3] != 0; }
    int count() const {
        int n = 0;
        for (size_t i = 3; i < rgba.size(); i += 4) n += rgba[i] != 0;
        return n;
    }
};

VIEW make_view(float x, float y, float zoom, float angle = 0.0f) {
    VIEW v;
    memset(&v, 0, sizeof(v));
    v.x = x;
    v.y = y;
    v.zoom = zoom;
    v.angle = angle;
    al_build_transform(&v.transform, x, y, zoom, zoom, angle);
    v.inverse = v.transform;
    al_invert_transform(&v.inverse);
    return v;
}

DOCUMENT make_doc(int w, int h) {
    DOCUMENT d;
    memset(&d, 0, sizeof(d));
    d.width = w;
    d.height = h;
    return d;
}

bool is_identity(const ALLEGRO_TRANSFORM* t) {
    ALLEGRO_TRANSFORM id;
    al_identity_transform(&id);
    return memcmp(t->m, id.m, sizeof(id.m)) == 0;
}

class Overlay : public ::testing::Test {
   protected:
    ALLEGRO_BITMAP* bmp = NULL;
    void SetUp() override {
        if (!test_display()) GTEST_SKIP() << "no display";
        al_init_primitives_addon();
        int old = al_get_new_bitmap_format();
        al_set_new_bitmap_format(ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE);
        bmp = al_create_bitmap(SW, SH);
        al_set_new_bitmap_format(old);
        ASSERT_NE(bmp, nullptr);
    }
    void TearDown() override {
        if (bmp) {
            al_set_target_backbuffer(test_display());
            al_destroy_bitmap(bmp);
        }
    }
    void begin() {
        al_set_target_bitmap(bmp);
        ALLEGRO_TRANSFORM id;
        al_identity_transform(&id);
        al_use_transform(&id);
        al_clear_to_color(al_map_rgba(0, 0, 0, 0));
        al_set_blender(ALLEGRO_ADD, ALLEGRO_ONE, ALLEGRO_INVERSE_ALPHA);
    }
    Screen end() {
        EXPECT_TRUE(is_identity(al_get_current_transform()));
        Screen s;
        s.rgba.resize((size_t)SW * SH * 4);
        ALLEGRO_LOCKED_REGION* lock = al_lock_bitmap(bmp, ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE, ALLEGRO_LOCK_READONLY);
        if (!lock) return s;
        for (int y = 0; y < SH; y++)
            memcpy(&s.rgba[(size_t)y * SW * 4], (const unsigned char*)lock->data + (intptr_t)y * lock->pitch, SW * 4);
        al_unlock_bitmap(bmp);
        return s;
    }
    Screen grid(const GRID& g, const DOCUMENT& doc, const VIEW& view) {
        begin();
        grid_draw(&g, &doc, &view, SW, SH);
        return end();
    }
    Screen guides(const SYMMETRY& s, const DOCUMENT& doc, const VIEW& view) {
        begin();
        symmetry_draw(&s, &doc, &view);
        return end();
    }
};

GRID shown_grid(float spacing, int visible, int diagonals) {
    GRID g;
    grid_init(&g);
    g.spacing = spacing;
    g.visible = (uint8_t)visible;
    g.diagonals = (uint8_t)diagonals;
    return g;
}

}  // namespace

TEST_F(Overlay, GridHiddenBelowSixScreenPixelsPerCell) {
    DOCUMENT doc = make_doc(4096, 4096);
    GRID g = shown_grid(128, 1, 0);
    EXPECT_EQ(grid(g, doc, make_view(0, 0, 0.04f)).count(), 0);
    EXPECT_GT(grid(g, doc, make_view(0, 0, 0.05f)).count(), 0);
    GRID d = shown_grid(128, 0, 1);
    EXPECT_EQ(grid(d, doc, make_view(0, 0, 0.04f)).count(), 0);
    EXPECT_GT(grid(d, doc, make_view(0, 0, 0.05f)).count(), 0);
    /* Neither lines nor diagonals asked for. */
    GRID none = shown_grid(16, 0, 0);
    EXPECT_EQ(grid(none, doc, make_view(0, 0, 1)).count(), 0);
}

TEST_F(Overlay, GridLinesOnPixelCentresInsideTheDocument) {
    DOCUMENT doc = make_doc(200, 100);
    GRID g = shown_grid(16, 1, 0);
    Screen s = grid(g, doc, make_view(10, 20, 1));
    for (int k = 0; k <= 12; k++) {
        EXPECT_TRUE(s.on(10 + 16 * k, 28)) << k;
        EXPECT_FALSE(s.on(10 + 16 * k + 8, 28)) << k;
    }
    for (int j = 0; j <= 6; j++) EXPECT_TRUE(s.on(18, 20 + 16 * j)) << j;
    /* One line pixel over transparent holds the premultiplied line colour. */
    const unsigned char* px = s.at(10 + 16 * 3, 28);
    EXPECT_NEAR(px[0], 70 * 170 / 255, 2);
    EXPECT_NEAR(px[1], 110 * 170 / 255, 2);
    EXPECT_NEAR(px[2], 180 * 170 / 255, 2);
    EXPECT_NEAR(px[3], 170, 2);
    int outside = 0;
    for (int y = 0; y < SH; y++)
        for (int x = 0; x < SW; x++)
            if (x >= 211 || y >= 121 || x < 10 || y < 20) outside += s.on(x, y);
    EXPECT_EQ(outside, 0);
    /* The last line is drawn when it falls on the document's edge. */
    DOCUMENT exact = make_doc(192, 96);
    Screen e = grid(g, exact, make_view(10, 20, 1));
    EXPECT_TRUE(e.on(10 + 192, 28));
    EXPECT_TRUE(e.on(18, 20 + 96));
}

TEST_F(Overlay, GridDiagonalsStayInsideTheDocument) {
    DOCUMENT doc = make_doc(200, 100); /* the last column and row of cells are cut */
    GRID g = shown_grid(16, 0, 1);
    Screen s = grid(g, doc, make_view(10, 20, 1));
    EXPECT_TRUE(s.on(42 + 5, 36 + 5));  /* main diagonal of cell (2, 1) */
    EXPECT_TRUE(s.on(58 - 3, 36 + 3));  /* its anti-diagonal */
    EXPECT_FALSE(s.on(42 + 8, 36 + 3)); /* between them */
    /* The cut cell on the right: its anti-diagonal enters at x = 200. */
    EXPECT_TRUE(s.on(10 + 199, 20 + 16 * 2 + 9));
    EXPECT_TRUE(s.on(10 + 199, 20 + 16 * 2 + 7)); /* and the main diagonal leaves there */
    int outside = 0;
    for (int y = 0; y < SH; y++)
        for (int x = 0; x < SW; x++)
            if (x >= 212 || y >= 122 || x < 10 || y < 20) outside += s.on(x, y);
    EXPECT_EQ(outside, 0);
}

TEST_F(Overlay, GridOffScreenDocumentDrawsNothing) {
    DOCUMENT doc = make_doc(200, 100);
    GRID g = shown_grid(16, 1, 1);
    EXPECT_EQ(grid(g, doc, make_view(-5000, 20, 1)).count(), 0);
    EXPECT_EQ(grid(g, doc, make_view(10, 900, 1)).count(), 0);
    /* Rotated a quarter turn, the document still shows and the grid with it. */
    EXPECT_GT(grid(g, doc, make_view(150, 10, 1, (float)M_PI / 2)).count(), 0);
}

TEST_F(Overlay, SymmetryGuidesPerMode) {
    DOCUMENT doc = make_doc(200, 100);
    VIEW view = make_view(10, 20, 1);
    SYMMETRY s = {SYMMETRY_OFF, 100, 50, 6};
    EXPECT_EQ(guides(s, doc, view).count(), 0);

    auto vertical_at = [](const Screen& sc, int y) { return sc.on(109, y) || sc.on(110, y); };
    auto horizontal_at = [](const Screen& sc, int x) { return sc.on(x, 69) || sc.on(x, 70); };
    s.mode = SYMMETRY_X;
    Screen x = guides(s, doc, view);
    EXPECT_TRUE(vertical_at(x, 25));
    EXPECT_TRUE(vertical_at(x, 115));
    EXPECT_FALSE(horizontal_at(x, 30));
    EXPECT_FALSE(vertical_at(x, 130)); /* the axis ends at the document's height */
    const unsigned char* px = x.on(110, 25) ? x.at(110, 25) : x.at(109, 25);
    EXPECT_NEAR(px[0], 200 * 180 / 255, 2);
    EXPECT_NEAR(px[1], 60 * 180 / 255, 2);
    EXPECT_NEAR(px[3], 180, 2);

    s.mode = SYMMETRY_Y;
    Screen y = guides(s, doc, view);
    EXPECT_TRUE(horizontal_at(y, 15));
    EXPECT_TRUE(horizontal_at(y, 205));
    EXPECT_FALSE(vertical_at(y, 25));

    s.mode = SYMMETRY_XY;
    Screen xy = guides(s, doc, view);
    EXPECT_TRUE(horizontal_at(xy, 30));
    EXPECT_TRUE(vertical_at(xy, 25));

    /* Four rays along the axes, as long as the diagonal (224), past the document. */
    s.mode = SYMMETRY_RADIAL;
    s.segments = 4;
    Screen rad = guides(s, doc, view);
    EXPECT_TRUE(horizontal_at(rad, 300));
    EXPECT_TRUE(horizontal_at(rad, 15));
    EXPECT_TRUE(vertical_at(rad, 125));
    EXPECT_FALSE(rad.on(130, 90)); /* no ray at 45 degrees */
    s.segments = 1;                /* used as 2: only the horizontal rays and the cross */
    Screen two = guides(s, doc, view);
    EXPECT_TRUE(horizontal_at(two, 300));
    EXPECT_FALSE(vertical_at(two, 25));

    /* An unknown mode shows the centre cross only. */
    s.mode = 9;
    Screen cross = guides(s, doc, view);
    EXPECT_TRUE(horizontal_at(cross, 114));
    EXPECT_TRUE(vertical_at(cross, 66));
    EXPECT_FALSE(horizontal_at(cross, 30));
    EXPECT_FALSE(vertical_at(cross, 30));
    EXPECT_FALSE(horizontal_at(cross, 118));
}

TEST_F(Overlay, SymmetryCrossKeepsItsScreenSize) {
    DOCUMENT doc = make_doc(200, 100);
    SYMMETRY s = {9, 50, 25, 6};
    /* At zoom 2 the centre is at screen (110, 70); the arms reach 6 screen pixels. */
    Screen sc = guides(s, doc, make_view(10, 20, 2));
    EXPECT_TRUE(sc.on(114, 69) || sc.on(114, 70));
    EXPECT_FALSE(sc.on(119, 69) || sc.on(119, 70));
    int wide = 0; /* one screen pixel thick */
    for (int y = 60; y < 80; y++) wide += sc.on(104, y);
    EXPECT_GE(wide, 1);
    EXPECT_LE(wide, 2);
}

TEST_F(Overlay, MissingDocumentOrViewDrawsNothing) {
    DOCUMENT doc = make_doc(200, 100);
    VIEW view = make_view(10, 20, 1);
    SYMMETRY s = {SYMMETRY_XY, 100, 50, 6};
    GRID g = shown_grid(16, 1, 1);
    begin();
    symmetry_draw(&s, NULL, &view);
    symmetry_draw(&s, &doc, NULL);
    symmetry_draw(NULL, &doc, &view);
    grid_draw(NULL, &doc, &view, SW, SH);
    grid_draw(&g, NULL, &view, SW, SH);
    grid_draw(&g, &doc, NULL, SW, SH);
    EXPECT_EQ(end().count(), 0);
}
