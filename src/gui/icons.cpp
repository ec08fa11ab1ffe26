/* icons: every toolbar and panel icon is drawn here with primitives, at the
 * pixel size of its button, on a rounded frame in the theme's colours. */
#include "gui/icons.h"

#include <allegro5/allegro_primitives.h>
#include <math.h>

#include "t_log.h"

/* The square box every glyph is drawn in, and the colour of the state. */
typedef struct ICON_BOX {
    float u, v, s;    /* shorter side, glyph size, stroke width */
    float cx, cy;     /* centre of the button */
    float L, R, T, B; /* glyph box edges */
    ALLEGRO_COLOR c;  /* glyph colour, straight alpha */
} ICON_BOX;

/* A straight axis through the glyph: points are given along it (a) and across it (b). */
typedef struct ICON_AXIS {
    float ox, oy; /* origin */
    float dx, dy; /* unit direction of a; b runs along (-dy, dx) */
} ICON_AXIS;

// Sizes the glyph from the shorter side so it stays square and centred on any button.
static ICON_BOX _icon_box(int w, int h, ALLEGRO_COLOR c) {
    ICON_BOX b;
    b.u = (float)(w < h ? w : h);
    b.v = 0.52f * b.u;
    b.s = fmaxf(1.6f, 0.11f * b.v);
    b.cx = w / 2.0f;
    b.cy = h / 2.0f;
    b.L = b.cx - b.v / 2.0f;
    b.R = b.cx + b.v / 2.0f;
    b.T = b.cy - b.v / 2.0f;
    b.B = b.cy + b.v / 2.0f;
    b.c = c;
    return b;
}

// Maps a point given along and across an axis to button coordinates.
static void _icon_at(const ICON_AXIS* ax, float a, float b, float* x, float* y) {
    *x = ax->ox + ax->dx * a - ax->dy * b;
    *y = ax->oy + ax->dy * a + ax->dx * b;
}

// Fills a convex quadrilateral given along an axis, as two triangles.
static void _icon_fill_quad(const ICON_AXIS* ax, const float q[8], ALLEGRO_COLOR c) {
    float p[8];
    for (int i = 0; i < 4; i++) _icon_at(ax, q[2 * i], q[2 * i + 1], &p[2 * i], &p[2 * i + 1]);
    al_draw_filled_triangle(p[0], p[1], p[2], p[3], p[4], p[5], c);
    al_draw_filled_triangle(p[0], p[1], p[4], p[5], p[6], p[7], c);
}

// Outlines a closed polygon given along an axis.
static void _icon_outline(const ICON_AXIS* ax, const float* q, int n, ALLEGRO_COLOR c, float thickness) {
    float p[16];
    for (int i = 0; i < n && i < 8; i++) _icon_at(ax, q[2 * i], q[2 * i + 1], &p[2 * i], &p[2 * i + 1]);
    al_draw_polygon(p, n < 8 ? n : 8, ALLEGRO_LINE_JOIN_ROUND, c, thickness, 0.0f);
}

// Draws a cubic curve as a chain of straight pieces.
static void _icon_cubic(const float p[8], int pieces, ALLEGRO_COLOR c, float thickness) {
    float pts[2 * 25];
    if (pieces > 24) pieces = 24;
    for (int i = 0; i <= pieces; i++) {
        float t = (float)i / pieces, m = 1.0f - t;
        float k0 = m * m * m, k1 = 3 * m * m * t, k2 = 3 * m * t * t, k3 = t * t * t;
        pts[2 * i] = k0 * p[0] + k1 * p[2] + k2 * p[4] + k3 * p[6];
        pts[2 * i + 1] = k0 * p[1] + k1 * p[3] + k2 * p[5] + k3 * p[7];
    }
    al_draw_polyline(pts, 2 * sizeof(float), pieces + 1, ALLEGRO_LINE_JOIN_ROUND, ALLEGRO_LINE_CAP_NONE, c, thickness,
                     0.0f);
}

// Outlines a polygon of n corners on a circle about the centre, the first straight above, radii alternating.
static void _icon_ring(const ICON_BOX* b, int n, float r_even, float r_odd) {
    float p[2 * 10];
    for (int i = 0; i < n && i < 10; i++) {
        float a = -ALLEGRO_PI / 2 + i * 2.0f * ALLEGRO_PI / n, r = (i % 2) ? r_odd : r_even;
        p[2 * i] = b->cx + r * cosf(a);
        p[2 * i + 1] = b->cy + r * sinf(a);
    }
    al_draw_polygon(p, n, ALLEGRO_LINE_JOIN_ROUND, b->c, b->s, 0.0f);
}

// Undo and redo: an arc over the top ending in a downward head; mirror -1 turns it right.
static void _icon_turn_arrow(const ICON_BOX* b, float mirror) {
    float v = b->v, r = 0.34f * v, ax = b->cx + mirror * 0.06f * v, ay = b->cy + 0.02f * v;
    float start = mirror > 0 ? 0.9f : ALLEGRO_PI - 0.9f;
    al_draw_arc(ax, ay, r, start, -mirror * (ALLEGRO_PI + 0.9f), b->c, b->s);
    float ex = ax - mirror * r;
    al_draw_filled_triangle(ex - 0.2f * v, ay - 0.02f * v, ex + 0.2f * v, ay - 0.02f * v, ex, ay + 0.34f * v, b->c);
}

// Eraser: a block tilted up to the right, resting above the line it rubs.
static void _icon_eraser(const ICON_BOX* b) {
    float v = b->v;
    ICON_AXIS ax = {b->cx, b->cy - 0.02f * v, cosf(-0.5f), sinf(-0.5f)};
    const float q[8] = {-0.38f * v, -0.17f * v, 0.38f * v, -0.17f * v, 0.38f * v, 0.17f * v, -0.38f * v, 0.17f * v};
    _icon_fill_quad(&ax, q, b->c);
    al_draw_line(b->L, b->cy + 0.44f * v, b->R, b->cy + 0.44f * v, b->c, b->s);
}

// Box selection: a square of three dashes a side, the corner dashes meeting.
static void _icon_dashed_square(const ICON_BOX* b) {
    float l = b->L + 0.04f * b->v, r = b->R - 0.04f * b->v, t = b->T + 0.04f * b->v, bo = b->B - 0.04f * b->v;
    float dx = (r - l) / 5.0f, dy = (bo - t) / 5.0f, h = b->s / 2.0f;
    for (int k = 0; k < 5; k += 2) {
        float x0 = l + k * dx - (k == 0 ? h : 0), x1 = l + (k + 1) * dx + (k == 4 ? h : 0);
        al_draw_line(x0, t, x1, t, b->c, b->s);
        al_draw_line(x0, bo, x1, bo, b->c, b->s);
        al_draw_line(l, t + k * dy, l, t + (k + 1) * dy, b->c, b->s);
        al_draw_line(r, t + k * dy, r, t + (k + 1) * dy, b->c, b->s);
    }
}

// Flood fill: a bucket tipped to the right, paint pouring from its rim into a drop.
static void _icon_bucket(const ICON_BOX* b) {
    float v = b->v;
    ICON_AXIS ax = {b->cx - 0.1f * v, b->cy + 0.02f * v, cosf(0.6f), sinf(0.6f)};
    const float body[8] = {-0.24f * v, -0.2f * v, 0.24f * v, -0.2f * v, 0.18f * v, 0.26f * v, -0.18f * v, 0.26f * v};
    _icon_outline(&ax, body, 4, b->c, b->s);
    float rx, ry;
    _icon_at(&ax, 0.24f * v, -0.2f * v, &rx, &ry);
    float px = rx + 0.12f * v, drop_y = b->B - 0.08f * v;
    const float pour[6] = {rx, ry, px, ry + 0.08f * v, px, drop_y - 0.06f * v};
    al_draw_polyline(pour, 2 * sizeof(float), 3, ALLEGRO_LINE_JOIN_ROUND, ALLEGRO_LINE_CAP_ROUND, b->c, b->s, 0.0f);
    al_draw_filled_circle(px, drop_y, 0.08f * v, b->c);
}

// Gradient: six strips fading from the glyph colour to nothing, framed.
static void _icon_gradient(const ICON_BOX* b) {
    float t = b->T + 0.14f * b->v, bo = b->B - 0.14f * b->v;
    for (int i = 0; i < 6; i++) {
        float k = 1.0f - i / 6.0f;
        ALLEGRO_COLOR c = {b->c.r * k, b->c.g * k, b->c.b * k, b->c.a * k};
        al_draw_filled_rectangle(b->L + i * b->v / 6.0f, t, b->L + (i + 1) * b->v / 6.0f, bo, c);
    }
    al_draw_rectangle(b->L, t, b->R, bo, b->c, 0.7f * b->s);
}

// Lasso: a dashed loop with a tail hanging from its lower left, tied off in a knot.
static void _icon_lasso(const ICON_BOX* b) {
    float v = b->v, ex = b->cx, ey = b->cy - 0.14f * v, rx = 0.46f * v, ry = 0.28f * v;
    const int dashes = 10;
    for (int i = 0; i < dashes; i += 2)
        al_draw_elliptical_arc(ex, ey, rx, ry, i * 2 * ALLEGRO_PI / dashes, 2 * ALLEGRO_PI / dashes, b->c, b->s);
    float a = 0.6f * ALLEGRO_PI, tx = ex + rx * cosf(a), ty = ey + ry * sinf(a);
    float kx = b->cx - 0.3f * v, ky = b->B - 0.08f * v;
    const float tail[8] = {tx, ty, tx + 0.06f * v, ty + 0.2f * v, kx - 0.06f * v, ty + 0.14f * v, kx, ky};
    _icon_cubic(tail, 8, b->c, b->s);
    al_draw_filled_circle(kx, ky, 0.09f * v, b->c);
}

// Bezier: an S curve through the box corners with a square handle at each end.
static void _icon_bezier(const ICON_BOX* b) {
    const float p[8] = {b->L, b->B, b->L, b->T, b->R, b->B, b->R, b->T};
    _icon_cubic(p, 12, b->c, b->s);
    float h = 0.1f * b->v;
    al_draw_rectangle(b->L - h, b->B - h, b->L + h, b->B + h, b->c, b->s);
    al_draw_rectangle(b->R - h, b->T - h, b->R + h, b->T + h, b->c, b->s);
}

// Scissors: two crossing blades over two rings.
static void _icon_scissors(const ICON_BOX* b) {
    float v = b->v;
    al_draw_line(b->L + 0.235f * v, b->B - 0.25f * v, b->R - 0.06f * v, b->T, b->c, b->s);
    al_draw_line(b->R - 0.235f * v, b->B - 0.25f * v, b->L + 0.06f * v, b->T, b->c, b->s);
    al_draw_circle(b->L + 0.16f * v, b->B - 0.1f * v, 0.15f * v, b->c, 0.85f * b->s);
    al_draw_circle(b->R - 0.16f * v, b->B - 0.1f * v, 0.15f * v, b->c, 0.85f * b->s);
}

// Layer up and down: a shaft with a filled head at the top (dir -1) or bottom (dir 1).
static void _icon_updown(const ICON_BOX* b, float dir) {
    float v = b->v, tip = dir < 0 ? b->T : b->B, base = tip - dir * 0.42f * v;
    al_draw_line(b->cx, tip - dir * v, b->cx, tip - dir * 0.06f * v, b->c, b->s);
    al_draw_filled_triangle(b->cx, tip, b->cx - 0.3f * v, base, b->cx + 0.3f * v, base, b->c);
}

// Pencil: an outlined shaft with a band near its end and a filled point at the lower left.
static void _icon_pencil(const ICON_BOX* b) {
    float v = b->v;
    ICON_AXIS ax = {b->cx + 0.424f * v, b->cy - 0.424f * v, -0.70710678f, 0.70710678f};
    const float shaft[8] = {0, -0.13f * v, 0.8f * v, -0.13f * v, 0.8f * v, 0.13f * v, 0, 0.13f * v};
    _icon_outline(&ax, shaft, 4, b->c, 0.85f * b->s);
    float x0, y0, x1, y1, x2, y2;
    _icon_at(&ax, 0.2f * v, -0.13f * v, &x0, &y0);
    _icon_at(&ax, 0.2f * v, 0.13f * v, &x1, &y1);
    al_draw_line(x0, y0, x1, y1, b->c, 0.85f * b->s);
    _icon_at(&ax, 0.8f * v, -0.13f * v, &x0, &y0);
    _icon_at(&ax, 0.8f * v, 0.13f * v, &x1, &y1);
    _icon_at(&ax, 1.2f * v, 0, &x2, &y2);
    al_draw_filled_triangle(x0, y0, x1, y1, x2, y2, b->c);
}

// Ink: an upright pen nib with its slit and breather hole.
static void _icon_nib(const ICON_BOX* b) {
    float v = b->v, cx = b->cx;
    const float nib[10] = {cx, b->B, cx - 0.3f * v, b->cy, cx - 0.16f * v, b->T + 0.2f * v,
                           cx + 0.16f * v, b->T + 0.2f * v, cx + 0.3f * v, b->cy};
    al_draw_polygon(nib, 5, ALLEGRO_LINE_JOIN_ROUND, b->c, 0.85f * b->s, 0.0f);
    al_draw_filled_rectangle(cx - 0.16f * v, b->T, cx + 0.16f * v, b->T + 0.12f * v, b->c);
    al_draw_line(cx, b->B, cx, b->cy + 0.06f * v, b->c, 0.7f * b->s);
    al_draw_filled_circle(cx, b->cy - 0.02f * v, 0.08f * v, b->c);
}

// Airbrush: a rounded barrel with its paint cup on top, a tapering nozzle to the left and the dot it sprays.
static void _icon_airbrush(const ICON_BOX* b) {
    float v = b->v, cx = b->cx, cy = b->cy + 0.1f * v;
    al_draw_rounded_rectangle(cx - 0.14f * v, cy - 0.13f * v, b->R, cy + 0.13f * v, 0.1f * v, 0.1f * v, b->c,
                              0.85f * b->s);
    al_draw_filled_triangle(cx + 0.02f * v, cy - 0.13f * v, cx + 0.24f * v, cy - 0.13f * v, cx - 0.04f * v,
                            b->T + 0.06f * v, b->c);
    al_draw_filled_triangle(cx + 0.24f * v, cy - 0.13f * v, cx + 0.3f * v, b->T + 0.06f * v, cx - 0.04f * v,
                            b->T + 0.06f * v, b->c);
    al_draw_filled_triangle(cx - 0.14f * v, cy - 0.09f * v, cx - 0.14f * v, cy + 0.09f * v, cx - 0.34f * v, cy, b->c);
    al_draw_filled_circle(b->L + 0.07f * v, cy, 0.07f * v, b->c);
}

// Marker: a wide outlined barrel, a filled collar and a chisel tip cut at a slant.
static void _icon_marker(const ICON_BOX* b) {
    float v = b->v;
    ICON_AXIS ax = {b->cx + 0.396f * v, b->cy - 0.396f * v, -0.70710678f, 0.70710678f};
    const float body[8] = {0, -0.18f * v, 0.62f * v, -0.18f * v, 0.62f * v, 0.18f * v, 0, 0.18f * v};
    _icon_outline(&ax, body, 4, b->c, 0.85f * b->s);
    const float collar[8] = {0.62f * v, -0.13f * v, 0.76f * v, -0.13f * v, 0.76f * v, 0.13f * v, 0.62f * v, 0.13f * v};
    _icon_fill_quad(&ax, collar, b->c);
    const float tip[8] = {0.76f * v, -0.13f * v, 1.12f * v, -0.1f * v, 0.96f * v, 0.1f * v, 0.76f * v, 0.13f * v};
    _icon_fill_quad(&ax, tip, b->c);
}

// Snap: a magnet, an upper half circle with two legs capped at their ends.
static void _icon_magnet(const ICON_BOX* b) {
    float v = b->v, s = b->s, top = b->cy - 0.1f * v, end = b->cy + 0.24f * v;
    al_draw_arc(b->cx, top, 0.34f * v, ALLEGRO_PI, ALLEGRO_PI, b->c, 1.6f * s);
    for (int side = -1; side <= 1; side += 2) {
        float x = b->cx + side * 0.34f * v;
        al_draw_line(x, top, x, end, b->c, 1.6f * s);
        al_draw_line(x - 0.8f * s, end, x + 0.8f * s, end, b->c, 1.1f * s);
    }
}

// Hide the interface: an eye with its pupil, struck through.
static void _icon_eye(const ICON_BOX* b) {
    float e = 0.66f * b->u;
    al_draw_ellipse(b->cx, b->cy, 0.48f * e, 0.3f * e, b->c, 0.9f * b->s);
    al_draw_filled_circle(b->cx, b->cy, 0.12f * e, b->c);
    al_draw_line(b->cx - 0.46f * e, b->cy + 0.4f * e, b->cx + 0.46f * e, b->cy - 0.4f * e, b->c, b->s);
}

// Navigate: a four-way cross with a filled head on each end.
static void _icon_navigate(const ICON_BOX* b) {
    float v = b->v, r = 0.46f * v, back = r - 0.17f * v, half = 0.17f * v;
    al_draw_line(b->cx - r, b->cy, b->cx + r, b->cy, b->c, b->s);
    al_draw_line(b->cx, b->cy - r, b->cx, b->cy + r, b->c, b->s);
    for (int side = -1; side <= 1; side += 2) {
        float x = b->cx + side * r, y = b->cy + side * r, bx = b->cx + side * back, by = b->cy + side * back;
        al_draw_filled_triangle(x, b->cy, bx, b->cy - half, bx, b->cy + half, b->c);
        al_draw_filled_triangle(b->cx, y, b->cx - half, by, b->cx + half, by, b->c);
    }
}

// Draws one glyph in the box; ids without a glyph draw nothing.
static void _icon_glyph(int id, const ICON_BOX* b) {
    float v = b->v, s = b->s, cx = b->cx, cy = b->cy, L = b->L, R = b->R, T = b->T, B = b->B;
    ALLEGRO_COLOR c = b->c;
    switch (id) {
        case 0:
            al_draw_line(cx + 0.22f * v, T, cx - 0.28f * v, cy, c, s);
            al_draw_line(cx - 0.28f * v, cy, cx + 0.22f * v, B, c, s);
            break;
        case 1: _icon_turn_arrow(b, 1.0f); break;
        case 2: _icon_turn_arrow(b, -1.0f); break;
        case 3:
            al_draw_line(R, T, cx + 0.08f * v, cy - 0.08f * v, c, 1.2f * s);
            al_draw_filled_triangle(L, B, cx + 0.2f * v, cy - 0.06f * v, cx + 0.06f * v, cy + 0.08f * v, c);
            break;
        case 4: _icon_eraser(b); break;
        case 5: _icon_dashed_square(b); break;
        case 6: _icon_scissors(b); break;
        case 7:
            al_draw_rectangle(L + 0.22f * v, T, R, B - 0.22f * v, c, 0.85f * s);
            al_draw_rectangle(L, T + 0.22f * v, R - 0.22f * v, B, c, 0.85f * s);
            break;
        case 8:
            al_draw_rectangle(L + 0.1f * v, T + 0.1f * v, R - 0.1f * v, B, c, 0.85f * s);
            al_draw_filled_rectangle(cx - 0.18f * v, T, cx + 0.18f * v, T + 0.2f * v, c);
            al_draw_line(L + 0.24f * v, cy, R - 0.24f * v, cy, c, 0.7f * s);
            al_draw_line(L + 0.24f * v, cy + 0.22f * v, R - 0.24f * v, cy + 0.22f * v, c, 0.7f * s);
            break;
        case 9: _icon_bucket(b); break;
        case 10: _icon_gradient(b); break;
        case 11: _icon_lasso(b); break;
        case 12:
            al_draw_line(L + 0.08f * v, T + s / 2, R - 0.08f * v, T + s / 2, c, s);
            al_draw_line(cx, T, cx, B, c, s);
            al_draw_line(cx - 0.16f * v, B, cx + 0.16f * v, B, c, 0.8f * s);
            break;
        case 13: al_draw_line(L, B, R, T, c, s); break;
        case 14: _icon_bezier(b); break;
        case 15: al_draw_rectangle(L, T + 0.1f * v, R, B - 0.1f * v, c, s); break;
        case 16: al_draw_circle(cx, cy, 0.46f * v, c, s); break;
        case 17: al_draw_triangle(cx, T, L, B, R, B, c, s); break;
        case 18: al_draw_filled_rectangle(L + 0.08f * v, T + 0.08f * v, R - 0.08f * v, B - 0.08f * v, c); break;
        case 19: _icon_updown(b, -1.0f); break;
        case 20: _icon_updown(b, 1.0f); break;
        case 21: _icon_pencil(b); break;
        case 22: _icon_nib(b); break;
        case 23: _icon_airbrush(b); break;
        case 24: _icon_marker(b); break;
        case 25:
            for (int i = 0; i <= 3; i++) {
                al_draw_line(L + i * v / 3, T, L + i * v / 3, B, c, 0.7f * s);
                al_draw_line(L, T + i * v / 3, R, T + i * v / 3, c, 0.7f * s);
            }
            break;
        case 26: _icon_magnet(b); break;
        case 27:
            al_draw_rectangle(L, T + 0.08f * v, R, B - 0.08f * v, c, 0.7f * s);
            al_draw_line(L, T + 0.08f * v, R, B - 0.08f * v, c, 0.9f * s);
            al_draw_line(L, B - 0.08f * v, R, T + 0.08f * v, c, 0.9f * s);
            break;
        case 28: _icon_eye(b); break;
        case 29: _icon_ring(b, 10, 0.48f * v, 0.2f * v); break;
        case 30: _icon_ring(b, 5, 0.48f * v, 0.48f * v); break;
        case 31: _icon_ring(b, 6, 0.48f * v, 0.48f * v); break;
        case 32:
            al_draw_line(L, cy, R - 0.28f * v, cy, c, s);
            al_draw_line(R, cy, R - 0.34f * v, cy - 0.28f * v, c, s);
            al_draw_line(R, cy, R - 0.34f * v, cy + 0.28f * v, c, s);
            break;
        case 33: _icon_navigate(b); break;
        default: break;
    }
}

// Readies a fresh face for primitives with a draw that leaves no mark.
static void _icon_prime_target(void) {
    int flags = al_get_new_bitmap_flags();
    al_set_new_bitmap_flags((flags & ~ALLEGRO_MEMORY_BITMAP) | ALLEGRO_VIDEO_BITMAP);
    ALLEGRO_BITMAP* scratch = al_create_bitmap(2, 2);
    al_set_new_bitmap_flags(flags);
    if (!scratch) return;
    al_draw_tinted_bitmap(scratch, al_map_rgba(0, 0, 0, 0), -4, -4, 0);
    al_destroy_bitmap(scratch);
}

// Draws one face on the current target: the filled and outlined rounded frame, then the glyph.
static void _icon_face(int id, const T_GUI_STYLE* theme, int w, int h, ALLEGRO_COLOR bg, ALLEGRO_COLOR border,
                       ALLEGRO_COLOR text) {
    al_clear_to_color(al_map_rgba(0, 0, 0, 0));
    _icon_prime_target();
    al_set_blender(ALLEGRO_ADD, ALLEGRO_ALPHA, ALLEGRO_INVERSE_ALPHA);
    float t = fmaxf(1.0f, theme->border_thickness), d = t / 2.0f;
    al_draw_filled_rounded_rectangle(d, d, w - d, h - d, theme->corner_rx, theme->corner_ry, bg);
    al_draw_rounded_rectangle(d, d, w - d, h - d, theme->corner_rx, theme->corner_ry, border, t);
    ICON_BOX box = _icon_box(w, h, text);
    _icon_glyph(id, &box);
}

// Renders the three faces of an icon; the caller's target and blender are left as they were.
int plumaro_icon_render(int id, const T_GUI_STYLE* theme, int w, int h, PLUMARO_ICON_SET* out) {
    if (out) out->normal = out->hover = out->active = NULL;
    __t_assert(theme);
    __t_assert(out);
    if (w < 1 || h < 1) return 0;
    const ALLEGRO_COLOR bg[3] = {theme->bg_normal, theme->bg_hover, theme->bg_active};
    const ALLEGRO_COLOR border[3] = {theme->border_normal, theme->border_hover, theme->border_active};
    const ALLEGRO_COLOR text[3] = {theme->text_normal, theme->text_hover, theme->text_active};
    ALLEGRO_BITMAP* faces[3] = {NULL, NULL, NULL};
    ALLEGRO_STATE saved;
    al_store_state(&saved, ALLEGRO_STATE_TARGET_BITMAP | ALLEGRO_STATE_BLENDER);
    for (int i = 0; i < 3; i++) {
        faces[i] = al_create_bitmap(w, h);
        if (!faces[i]) {
            al_restore_state(&saved);
            t_log(LOG_ERR, "could not create a %dx%d face for icon %d", w, h, id);
            for (int k = 0; k < i; k++) al_destroy_bitmap(faces[k]);
            return 0;
        }
        al_set_target_bitmap(faces[i]);
        _icon_face(id, theme, w, h, bg[i], border[i], text[i]);
    }
    al_restore_state(&saved);
    out->normal = faces[0];
    out->hover = faces[1];
    out->active = faces[2];
    return 1;
}

// Frees whichever faces exist, so the set can be rendered into again.
void plumaro_icon_set_destroy(PLUMARO_ICON_SET* set) {
    __t_assert_void(set);
    ALLEGRO_BITMAP** faces[3] = {&set->normal, &set->hover, &set->active};
    for (int i = 0; i < 3; i++) {
        if (*faces[i]) al_destroy_bitmap(*faces[i]);
        *faces[i] = NULL;
    }
}
