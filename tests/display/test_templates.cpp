/* Page templates: the catalogue, and every template drawn where its
 * geometry says, inside its page only. Pages are drawn into a larger bitmap
 * under a translation; a reference list of strokes built from the template
 * formulas tells which pixels must be covered and which must stay clear. */
#include <gtest/gtest.h>

#include <allegro5/allegro_primitives.h>
#include <math.h>
#include <string.h>

#include <vector>

#include "canvas/templates.h"
#include "test_support.h"

namespace {

const int MARGIN = 16;

struct Pixels {
    int w = 0, h = 0;
    std::vector<unsigned char> rgba;
    int alpha(int x, int y) const { return rgba[((size_t)y * w + x) * 4 + 3]; }
};

/* One expected stroke: a segment (a dot when both ends meet) and its half width. */
struct Stroke {
    float x0, y0, x1, y1, half;
};

struct Page {
    float u, v, t;
    std::vector<Stroke> strokes;
    void seg(float x0, float y0, float x1, float y1) { strokes.push_back({x0, y0, x1, y1, t / 2}); }
    void hline(float y, float xa, float xb) { seg(xa, y, xb, y); }
    void vline(float x, float ya, float yb) { seg(x, ya, x, yb); }
    void rect(float x0, float y0, float x1, float y1) {
        hline(y0, x0, x1);
        hline(y1, x0, x1);
        vline(x0, y0, y1);
        vline(x1, y0, y1);
    }
    void dot(float x, float y, float r) { strokes.push_back({x, y, x, y, r}); }
};

ALLEGRO_BITMAP* make_target(int w, int h) {
    int old = al_get_new_bitmap_format();
    al_set_new_bitmap_format(ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE);
    ALLEGRO_BITMAP* bmp = al_create_bitmap(w, h);
    al_set_new_bitmap_format(old);
    return bmp;
}

Pixels read_all(ALLEGRO_BITMAP* bmp) {
    Pixels p;
    p.w = al_get_bitmap_width(bmp);
    p.h = al_get_bitmap_height(bmp);
    p.rgba.resize((size_t)p.w * p.h * 4);
    ALLEGRO_LOCKED_REGION* lock = al_lock_bitmap(bmp, ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE, ALLEGRO_LOCK_READONLY);
    if (!lock) return p;
    for (int y = 0; y < p.h; y++)
        memcpy(&p.rgba[(size_t)y * p.w * 4], (const unsigned char*)lock->data + (intptr_t)y * lock->pitch,
               (size_t)p.w * 4);
    al_unlock_bitmap(bmp);
    return p;
}

/* Draws a template for a u x v page placed at (MARGIN, MARGIN), scaled by `scale`. */
Pixels render(int index, int u, int v, float thickness, float scale = 1.0f) {
    int w = (int)ceilf(u * scale) + 2 * MARGIN, h = (int)ceilf(v * scale) + 2 * MARGIN;
    ALLEGRO_BITMAP* bmp = make_target(w, h);
    if (!bmp) return Pixels();
    al_set_target_bitmap(bmp);
    al_clear_to_color(al_map_rgba(0, 0, 0, 0));
    al_set_blender(ALLEGRO_ADD, ALLEGRO_ONE, ALLEGRO_INVERSE_ALPHA);
    ALLEGRO_TRANSFORM tr;
    al_identity_transform(&tr);
    al_scale_transform(&tr, scale, scale);
    al_translate_transform(&tr, MARGIN, MARGIN);
    al_use_transform(&tr);
    template_draw(index, (float)u, (float)v, al_map_rgb(20, 40, 200), thickness);
    ALLEGRO_TRANSFORM after = *al_get_current_transform();
    al_identity_transform(&tr);
    al_use_transform(&tr);
    Pixels p = read_all(bmp);
    al_set_target_backbuffer(test_display());
    al_destroy_bitmap(bmp);
    /* The renderer leaves the caller's transform alone. */
    EXPECT_FLOAT_EQ(after.m[3][0], MARGIN);
    EXPECT_FLOAT_EQ(after.m[0][0], scale);
    return p;
}

int count_outside(const Pixels& p, int u, int v, float scale = 1.0f) {
    int n = 0, pw = (int)ceilf(u * scale), ph = (int)ceilf(v * scale);
    for (int y = 0; y < p.h; y++)
        for (int x = 0; x < p.w; x++) {
            bool inside = x >= MARGIN && x < MARGIN + pw && y >= MARGIN && y < MARGIN + ph;
            if (!inside && p.alpha(x, y)) n++;
        }
    return n;
}

int count_inside(const Pixels& p, int u, int v) {
    int n = 0;
    for (int y = 0; y < v; y++)
        for (int x = 0; x < u; x++)
            if (p.alpha(MARGIN + x, MARGIN + y)) n++;
    return n;
}

/* The expected strokes of each template, from its formulas. */
Page reference(int index, float u, float v, float t) {
    Page pg{u, v, t, {}};
    float m = fminf(u, v);
    auto rows = [&](float s) {
        for (int k = 1; k * s < v; k++) pg.hline(k * s, 0, u);
    };
    auto cols = [&](float s) {
        for (int k = 1; k * s < u; k++) pg.vline(k * s, 0, v);
    };
    auto dots = [&](float s) {
        if (!(s < u && s < v)) return;
        for (int j = 1; j * s < v; j++)
            for (int i = 1; i * s < u; i++) pg.dot(i * s, j * s, fmaxf(t, 0.045f * s));
    };
    auto planner = [&](float hh) {
        pg.hline(hh, 0, u);
        for (int k = 1; k <= 6; k++) pg.vline(k * u / 7, 0, v);
        for (int k = 1; k <= 5; k++) pg.hline(hh + k * (v - hh) / 6, 0, u);
    };
    switch (index) {
        case 1: rows(v / 45); break;
        case 2: rows(v / 32); break;
        case 3: rows(v / 22); break;
        case 4: rows(v / 32); pg.vline(0.12f * u, 0, v); break;
        case 5:
            pg.rect(0.04f * u, 0.03f * v, 0.96f * u, 0.13f * v);
            for (int k = 1; 0.13f * v + k * v / 32 < v; k++) pg.hline(0.13f * v + k * v / 32, 0.04f * u, 0.96f * u);
            break;
        case 6: pg.vline(0.5f * u, 0, v); rows(v / 30); break;
        case 7:
            pg.hline(0.08f * v, 0, u);
            pg.vline(0.14f * u, 0, v);
            for (int k = 1; k <= 14; k++) pg.hline(0.08f * v + k * (v - 0.08f * v) / 14, 0, u);
            break;
        case 8: cols(m / 64); rows(m / 64); break;
        case 9: cols(m / 40); rows(m / 40); break;
        case 10: cols(m / 24); rows(m / 24); break;
        case 11: dots(m / 64); break;
        case 12: dots(m / 40); break;
        case 13: dots(m / 24); break;
        case 14: {
            float s = m / 28;
            for (int k = 0; k * s <= u; k++) pg.vline(k * s, 0, v);
            /* Lines through the lattice at 30 and 150 degrees, long enough to cross the page. */
            float len = u + v;
            for (int sign = -1; sign <= 1; sign += 2) {
                float dx = cosf((float)M_PI / 6) * sign, dy = 0.5f;
                float nx = -dy, ny = dx;
                for (int k = -(int)(len / s) - 1; k <= (int)(len / s) + 1; k++)
                    pg.seg(nx * k * s - dx * len, ny * k * s - dy * len, nx * k * s + dx * len, ny * k * s + dy * len);
            }
            break;
        }
        case 15: {
            float r = m / 26, h = sqrtf(3.0f) * r;
            for (int c = 0; c * 1.5f * r - r < u; c++)
                for (int k = 0; (c % 2 ? h / 2 : 0) + k * h - h < v; k++) {
                    float cx = c * 1.5f * r, cy = (c % 2 ? h / 2 : 0) + k * h;
                    for (int i = 0; i < 6; i++) {
                        float a0 = i * (float)M_PI / 3, a1 = (i + 1) * (float)M_PI / 3;
                        pg.seg(cx + r * cosf(a0), cy + r * sinf(a0), cx + r * cosf(a1), cy + r * sinf(a1));
                    }
                }
            break;
        }
        case 16: {
            float px = 0.5f * u, py = 0.42f * v;
            pg.hline(py, 0, u);
            for (int k = 0; k <= 18; k++) {
                pg.seg(px, py, k * u / 18, v);
                pg.seg(px, py, k * u / 18, 0);
            }
            for (int k = 0; k <= 10; k++) {
                pg.seg(px, py, 0, k * v / 10);
                pg.seg(px, py, u, k * v / 10);
            }
            pg.dot(px, py, 2.5f * t);
            break;
        }
        case 17: {
            float hh = 0.1f * v, x = 0.62f * u;
            pg.hline(hh, 0, u);
            pg.vline(x, hh, v);
            for (int k = 1; k <= 12; k++) pg.hline(hh + k * (v - hh) / 12, 0, x);
            for (int k = 1; hh + k * v / 30 < v; k++) pg.hline(hh + k * v / 30, x, u);
            break;
        }
        case 18: planner(0.08f * v); break;
        case 19: planner(0.07f * v); break;
        case 20: {
            float e = v / 22, b = e / 2;
            for (int k = 1; k * e < v; k++) {
                pg.rect(0.03f * u, k * e - b, 0.03f * u + b, k * e);
                pg.hline(k * e, 0.03f * u + b + 0.01f * u, 0.97f * u);
            }
            break;
        }
        case 21: {
            float a = v / 3, w = u / 4, n = 0.06f * w;
            for (int r = 0; r < 3; r++)
                for (int c = 0; c < 4; c++) {
                    float l = c * w + n, rt = c * w + w - n, tp = r * a + n, bt = r * a + a - n;
                    pg.rect(l, tp, rt, bt);
                    float yh = tp + 0.16f * (bt - tp);
                    pg.hline(yh, l, rt);
                    for (int k = 1; k <= 6; k++) pg.vline(l + k * (rt - l) / 7, yh, bt);
                    for (int k = 1; k <= 5; k++) pg.hline(yh + k * (bt - yh) / 6, l, rt);
                }
            break;
        }
        case 22: {
            float d = 0.04f * u, g = 0.03f * u, pw = (u - 2 * d - g) / 2, ph = (v - 2 * d - 2 * g) / 3;
            float pic = 0.74f * ph, cap = ph - pic;
            for (int r = 0; r < 3; r++)
                for (int c = 0; c < 2; c++) {
                    float l = c * (g + pw) + d, tp = r * (g + ph) + d;
                    pg.rect(l, tp, l + pw, tp + pic);
                    for (int k = 1; k <= 3; k++) pg.hline(tp + pic + k * cap / 4, l, l + pw);
                }
            break;
        }
        case 23:
            for (int i = 1; i <= 8; i++)
                for (int j = -2; j <= 2; j++) pg.hline(i * v / 9 + j * 0.13f * v / 9, 0.05f * u, 0.95f * u);
            break;
        case 24: {
            pg.vline(u / 3, 0, v);
            pg.vline(2 * u / 3, 0, v);
            pg.vline(0.5f * u, 0, v);
            pg.hline(v / 3, 0, u);
            pg.hline(2 * v / 3, 0, u);
            pg.hline(0.5f * v, 0, u);
            const int n = 240;
            for (int i = 0; i < n; i++) {
                float a0 = i * 2 * (float)M_PI / n, a1 = (i + 1) * 2 * (float)M_PI / n;
                pg.seg(0.5f * u + 0.45f * u * cosf(a0), 0.5f * v + 0.45f * v * sinf(a0),
                       0.5f * u + 0.45f * u * cosf(a1), 0.5f * v + 0.45f * v * sinf(a1));
            }
            pg.seg(0, 0, u, v);
            pg.seg(u, 0, 0, v);
            break;
        }
        default: break;
    }
    return pg;
}

/* Distance from a point to a stroke's centre line; `inner` tells whether the
 * nearest point lies strictly along the segment and inside the page. */
float distance(const Stroke& s, float px, float py, float u, float v, bool* inner) {
    float dx = s.x1 - s.x0, dy = s.y1 - s.y0, len2 = dx * dx + dy * dy;
    float f = len2 > 0 ? ((px - s.x0) * dx + (py - s.y0) * dy) / len2 : 0;
    bool along = len2 == 0 || (f > 0.001f && f < 0.999f);
    if (f < 0) f = 0;
    if (f > 1) f = 1;
    float cx = s.x0 + f * dx, cy = s.y0 + f * dy;
    *inner = along && cx > 0.3f && cx < u - 0.3f && cy > 0.3f && cy < v - 0.3f;
    /* Lines lying on the page edge still cover the half inside it. */
    if (along && len2 > 0 && (dx == 0 || dy == 0)) *inner = along;
    return hypotf(px - cx, py - cy);
}

/* Compares every page pixel with the reference: covered near a stroke, clear away from all. */
void check_against_reference(int index, int u, int v, float t, int* missing, int* extra) {
    Pixels p = render(index, u, v, t);
    ASSERT_EQ(p.w, u + 2 * MARGIN);
    Page pg = reference(index, (float)u, (float)v, t);
    *missing = *extra = 0;
    /* Each stroke marks only the pixels around it: covered for sure, or possibly touched. */
    std::vector<unsigned char> must((size_t)u * v, 0), near((size_t)u * v, 0);
    for (const Stroke& st : pg.strokes) {
        float reach = st.half + 1.0f;
        int xa = (int)floorf(fminf(st.x0, st.x1) - reach), xb = (int)ceilf(fmaxf(st.x0, st.x1) + reach);
        int ya = (int)floorf(fminf(st.y0, st.y1) - reach), yb = (int)ceilf(fmaxf(st.y0, st.y1) + reach);
        if (xa < 0) xa = 0;
        if (ya < 0) ya = 0;
        if (xb > u) xb = u;
        if (yb > v) yb = v;
        for (int y = ya; y < yb; y++)
            for (int x = xa; x < xb; x++) {
                bool inner = false;
                float d = distance(st, x + 0.5f, y + 0.5f, (float)u, (float)v, &inner);
                size_t i = (size_t)y * u + x;
                if (d < st.half - 0.3f && inner) must[i] = 1;
                if (d <= st.half + 0.8f) near[i] = 1;
            }
    }
    for (int y = 0; y < v; y++)
        for (int x = 0; x < u; x++) {
            size_t i = (size_t)y * u + x;
            int a = p.alpha(MARGIN + x, MARGIN + y);
            if (must[i] && !a) {
                if (*missing < 3) ADD_FAILURE() << "template " << index << " missing pixel " << x << "," << y;
                (*missing)++;
            }
            if (!near[i] && a) {
                if (*extra < 3) ADD_FAILURE() << "template " << index << " stray pixel " << x << "," << y;
                (*extra)++;
            }
        }
}

class Templates : public ::testing::Test {
   protected:
    void SetUp() override {
        if (!test_display()) GTEST_SKIP() << "no display";
        al_init_primitives_addon();
    }
};

}  // namespace

TEST(TemplateCatalogue, CountAndNames) {
    EXPECT_EQ(template_count(), 25);
    EXPECT_STREQ(template_name(0), "Blank");
    EXPECT_STREQ(template_name(1), "Narrow ruled");
    EXPECT_STREQ(template_name(4), "Lined with margin");
    EXPECT_STREQ(template_name(6), "Two-column");
    EXPECT_STREQ(template_name(7), "Dayplanner");
    EXPECT_STREQ(template_name(13), "Large dots");
    EXPECT_STREQ(template_name(16), "Perspective grid");
    EXPECT_STREQ(template_name(20), "To-do list");
    EXPECT_STREQ(template_name(21), "Year/calendar");
    EXPECT_STREQ(template_name(24), "Sketching guide");
    EXPECT_STREQ(template_name(25), "Blank");
    EXPECT_STREQ(template_name(-1), "Blank");
    EXPECT_STREQ(template_name(-2147483647 - 1), "Blank");
    for (int i = 1; i < 25; i++) EXPECT_STRNE(template_name(i), "Blank") << i;
}

TEST_F(Templates, EveryTemplateStaysInsideItsPage) {
    const int sizes[][2] = {{300, 200}, {200, 300}, {97, 61}};
    const float thicknesses[] = {1.0f, 6.0f};
    for (int i = 1; i <= 24; i++)
        for (auto& sz : sizes)
            for (float t : thicknesses) {
                Pixels p = render(i, sz[0], sz[1], t);
                ASSERT_GT(p.w, 0);
                EXPECT_EQ(count_outside(p, sz[0], sz[1]), 0) << "template " << i << " " << sz[0] << "x" << sz[1] << " t" << t;
                EXPECT_GT(count_inside(p, sz[0], sz[1]), 0) << "template " << i;
            }
}

TEST_F(Templates, StaysInsideUnderAScaledTransform) {
    for (int i = 1; i <= 24; i++) {
        Pixels p = render(i, 150, 100, 4.0f, 2.0f);
        EXPECT_EQ(count_outside(p, 150, 100, 2.0f), 0) << "template " << i;
    }
}

TEST_F(Templates, EveryTemplateMatchesItsGeometryOnAWidePage) {
    for (int i = 1; i <= 24; i++) {
        int missing = 0, extra = 0;
        check_against_reference(i, 300, 200, 3.0f, &missing, &extra);
        EXPECT_EQ(missing, 0) << "template " << i;
        EXPECT_EQ(extra, 0) << "template " << i;
    }
}

TEST_F(Templates, EveryTemplateMatchesItsGeometryOnATallPage) {
    for (int i = 1; i <= 24; i++) {
        int missing = 0, extra = 0;
        check_against_reference(i, 180, 320, 2.0f, &missing, &extra);
        EXPECT_EQ(missing, 0) << "template " << i;
        EXPECT_EQ(extra, 0) << "template " << i;
    }
}

TEST_F(Templates, ChosenPixelsOnANonSquarePage) {
    /* 300 x 200, thickness 3: a pixel row or column holding a line centre is always covered. */
    auto on = [](const Pixels& p, float x, float y) { return p.alpha(MARGIN + (int)x, MARGIN + (int)y) != 0; };
    Pixels ruled = render(2, 300, 200, 3.0f); /* every 200 / 32 = 6.25 */
    EXPECT_TRUE(on(ruled, 150, 6.25f));
    EXPECT_TRUE(on(ruled, 10, 31 * 6.25f));
    EXPECT_FALSE(on(ruled, 150, 9.4f));
    Pixels grid = render(9, 300, 200, 3.0f); /* square cells of 200 / 40 = 5 from the shorter side */
    EXPECT_TRUE(on(grid, 5.0f, 2.5f));
    EXPECT_TRUE(on(grid, 295.0f, 2.5f)); /* columns run past 200 up to the width */
    EXPECT_FALSE(on(grid, 2.5f, 2.5f));  /* no line at 0 */
    EXPECT_FALSE(on(grid, 297.5f, 2.5f));
    Pixels margin = render(4, 300, 200, 3.0f);
    EXPECT_TRUE(on(margin, 36.0f, 3.0f)); /* 0.12 x 300 */
    Pixels week = render(18, 300, 200, 3.0f);
    EXPECT_TRUE(on(week, 300.0f / 7, 100)); /* columns from the width */
    EXPECT_TRUE(on(week, 10, 16.0f));       /* header at 0.08 x 200 */
    EXPECT_TRUE(on(week, 10, 16.0f + 5 * 184.0f / 6));
    Pixels music = render(23, 300, 200, 1.0f);
    float y = 200.0f / 9 - 2 * 0.13f * 200 / 9;
    EXPECT_TRUE(on(music, 150, y) || on(music, 150, y - 1));
    EXPECT_FALSE(on(music, 10, y)); /* staves start at 0.05 x 300 = 15 */
    Pixels dots = render(13, 300, 200, 1.0f); /* step 200 / 24; dots of radius 1 */
    float s = 200.0f / 24;
    EXPECT_TRUE(on(dots, 35 * s, 23 * s)); /* 35 s < 300 */
    EXPECT_FALSE(on(dots, 35.5f * s, 23 * s));
    Pixels iso = render(14, 300, 200, 3.0f);
    EXPECT_TRUE(on(iso, 0.5f, 100.5f)); /* the vertical line at x = 0 is drawn */
}

TEST_F(Templates, OutOfRangeIndicesDrawNothing) {
    const int indices[] = {0, -1, -24, 25, 26, 1000};
    for (int i : indices) {
        Pixels p = render(i, 120, 90, 3.0f);
        EXPECT_EQ(count_inside(p, 120, 90), 0) << i;
        EXPECT_EQ(count_outside(p, 120, 90), 0) << i;
    }
}

TEST_F(Templates, ThicknessNotAboveZeroDrawsAsOne) {
    for (int i : {2, 10, 15, 16, 24}) {
        Pixels one = render(i, 200, 150, 1.0f);
        Pixels zero = render(i, 200, 150, 0.0f);
        Pixels negative = render(i, 200, 150, -4.0f);
        Pixels two = render(i, 200, 150, 2.0f);
        EXPECT_GT(count_inside(one, 200, 150), 0);
        EXPECT_EQ(one.rgba, zero.rgba) << i;
        EXPECT_EQ(one.rgba, negative.rgba) << i;
        EXPECT_NE(one.rgba, two.rgba) << i;
    }
}

TEST_F(Templates, SquareCellsFromTheShorterSideOnAThinPage) {
    /* 64 x 2: the step of Large dots is 2 / 24, so dots fill the strip and none spill out. */
    Pixels thin = render(13, 64, 2, 1.0f);
    EXPECT_EQ(count_outside(thin, 64, 2), 0);
    EXPECT_EQ(count_inside(thin, 64, 2), 128);
    /* Large grid on 240 x 24: columns every 1 unit, so every pixel column is touched. */
    Pixels grid = render(10, 240, 24, 1.0f);
    EXPECT_EQ(count_outside(grid, 240, 24), 0);
    int touched = 0;
    for (int x = 0; x < 240; x++) touched += grid.alpha(MARGIN + x, MARGIN + 12) != 0;
    EXPECT_GE(touched, 238);
}

TEST_F(Templates, EmptyOrInvalidPagesDrawNothing) {
    const float sizes[][2] = {{0, 50}, {50, 0}, {-10, 50}, {50, -1}, {NAN, 50}, {50, INFINITY}};
    ALLEGRO_BITMAP* bmp = make_target(80, 80);
    ASSERT_NE(bmp, nullptr);
    for (int i = 1; i <= 24; i++)
        for (auto& sz : sizes) {
            al_set_target_bitmap(bmp);
            al_clear_to_color(al_map_rgba(0, 0, 0, 0));
            template_draw(i, sz[0], sz[1], al_map_rgb(0, 0, 0), 2.0f);
            Pixels p = read_all(bmp);
            EXPECT_EQ(count_inside(p, 80 - 2 * MARGIN, 80 - 2 * MARGIN), 0) << i;
            EXPECT_EQ(count_outside(p, 80 - 2 * MARGIN, 80 - 2 * MARGIN), 0) << i;
        }
    al_set_target_backbuffer(test_display());
    al_destroy_bitmap(bmp);
}
