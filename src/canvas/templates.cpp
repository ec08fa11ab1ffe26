/* templates: the catalogue of page templates and the renderer that draws one
 * of them for a page. Every stroke is built as triangles and cut to the page
 * rectangle, so no part of a line, dot or outline ever lands outside the page,
 * whatever the thickness or the caller's transform. */
#include "canvas/templates.h"

#include <allegro5/allegro_primitives.h>
#include <math.h>

#include <vector>

#include "t_log.h"

static const char* const _template_names[TEMPLATE_COUNT] = {
    "Blank",        "Narrow ruled",     "Medium ruled",    "Wide ruled",     "Lined with margin",
    "Lined heading", "Two-column",      "Dayplanner",      "Small grid",     "Medium grid",
    "Large grid",   "Small dots",       "Medium dots",     "Large dots",     "Isometric",
    "Hexagon",      "Perspective grid", "Daily planner",   "Weekly planner", "Monthly planner",
    "To-do list",   "Year/calendar",    "Storyboard",      "Music sheet",    "Sketching guide"};

/* Vertices are sent to the GPU in batches of this many (a multiple of 3). */
#define TEMPLATE_BATCH 60000
/* Room for a convex polygon after cutting it by the four page edges. */
#define TEMPLATE_POLY_MAX 600
#define TEMPLATE_CIRCLE_MAX 512

typedef struct TEMPLATE_PEN {
    float u, v;  /* page size */
    float t;     /* stroke thickness */
    float scale; /* screen pixels per page unit under the caller's transform */
    ALLEGRO_COLOR colour;
    std::vector<ALLEGRO_VERTEX> verts;
} TEMPLATE_PEN;

// Returns the number of templates in the catalogue.
int template_count(void) { return TEMPLATE_COUNT; }

// Returns a template's name, "Blank" for any index outside the catalogue.
const char* template_name(int index) {
    if ((unsigned)index >= (unsigned)TEMPLATE_COUNT) return _template_names[0];
    return _template_names[index];
}

// Draws the triangles gathered so far and empties the batch.
static void _tpl_flush(TEMPLATE_PEN* pen) {
    if (!pen->verts.empty())
        al_draw_prim(pen->verts.data(), NULL, NULL, 0, (int)pen->verts.size(), ALLEGRO_PRIM_TRIANGLE_LIST);
    pen->verts.clear();
}

// Keeps the part of a polygon on the inner side of one edge (Sutherland-Hodgman step).
static int _tpl_cut(const float* in, int n, float* out, int axis, float limit, int keep_below) {
    int m = 0;
    for (int i = 0; i < n; i++) {
        const float* a = in + i * 2;
        const float* b = in + ((i + 1) % n) * 2;
        float da = keep_below ? limit - a[axis] : a[axis] - limit;
        float db = keep_below ? limit - b[axis] : b[axis] - limit;
        if (da >= 0.0f && m < TEMPLATE_POLY_MAX) {
            out[m * 2] = a[0];
            out[m * 2 + 1] = a[1];
            m++;
        }
        if (((da >= 0.0f) != (db >= 0.0f)) && m < TEMPLATE_POLY_MAX) {
            float f = da / (da - db);
            out[m * 2] = a[0] + (b[0] - a[0]) * f;
            out[m * 2 + 1] = a[1] + (b[1] - a[1]) * f;
            if (axis == 0) out[m * 2] = limit;
            else out[m * 2 + 1] = limit;
            m++;
        }
    }
    return m;
}

// Cuts a convex polygon to the page and adds it to the batch as a triangle fan.
static void _tpl_polygon(TEMPLATE_PEN* pen, const float* pts, int n) {
    float a[TEMPLATE_POLY_MAX * 2], b[TEMPLATE_POLY_MAX * 2];
    if (n < 3 || n > TEMPLATE_POLY_MAX - 8) return;
    for (int i = 0; i < n * 2; i++) a[i] = pts[i];
    n = _tpl_cut(a, n, b, 0, 0.0f, 0);
    n = _tpl_cut(b, n, a, 0, pen->u, 1);
    n = _tpl_cut(a, n, b, 1, 0.0f, 0);
    n = _tpl_cut(b, n, a, 1, pen->v, 1);
    if (n < 3) return;
    if (pen->verts.size() + (size_t)(n - 2) * 3 > TEMPLATE_BATCH) _tpl_flush(pen);
    ALLEGRO_VERTEX vx = {};
    vx.color = pen->colour;
    for (int i = 1; i + 1 < n; i++) {
        const int idx[3] = {0, i, i + 1};
        for (int k = 0; k < 3; k++) {
            vx.x = a[idx[k] * 2];
            vx.y = a[idx[k] * 2 + 1];
            pen->verts.push_back(vx);
        }
    }
}

// Adds a stroke of the pen's thickness along a segment, with square-cut ends.
static void _tpl_band(TEMPLATE_PEN* pen, float x0, float y0, float x1, float y1) {
    float dx = x1 - x0, dy = y1 - y0;
    float len = sqrtf(dx * dx + dy * dy);
    if (!(len > 0.0f)) return;
    float nx = -dy / len * pen->t * 0.5f, ny = dx / len * pen->t * 0.5f;
    const float quad[8] = {x0 + nx, y0 + ny, x1 + nx, y1 + ny, x1 - nx, y1 - ny, x0 - nx, y0 - ny};
    _tpl_polygon(pen, quad, 4);
}

// Adds an axis-aligned filled rectangle.
static void _tpl_box(TEMPLATE_PEN* pen, float x0, float y0, float x1, float y1) {
    if (!(x1 > x0) || !(y1 > y0)) return;
    const float quad[8] = {x0, y0, x1, y0, x1, y1, x0, y1};
    _tpl_polygon(pen, quad, 4);
}

// Cuts a segment parametrically to the page and strokes what is left.
static void _tpl_segment(TEMPLATE_PEN* pen, float x0, float y0, float x1, float y1) {
    float dx = x1 - x0, dy = y1 - y0;
    float t0 = 0.0f, t1 = 1.0f;
    const float p[4] = {-dx, dx, -dy, dy};
    const float q[4] = {x0, pen->u - x0, y0, pen->v - y0};
    for (int i = 0; i < 4; i++) {
        if (p[i] == 0.0f) {
            if (q[i] < 0.0f) return;
            continue;
        }
        float r = q[i] / p[i];
        if (p[i] < 0.0f) {
            if (r > t0) t0 = r;
        } else if (r < t1) {
            t1 = r;
        }
        if (t0 > t1) return;
    }
    _tpl_band(pen, x0 + dx * t0, y0 + dy * t0, x0 + dx * t1, y0 + dy * t1);
}

static void _tpl_hline(TEMPLATE_PEN* pen, float y, float xa, float xb) { _tpl_band(pen, xa, y, xb, y); }
static void _tpl_vline(TEMPLATE_PEN* pen, float x, float ya, float yb) { _tpl_band(pen, x, ya, x, yb); }

// Outlines a rectangle as four strokes that do not overlap, so translucent colours stay even.
static void _tpl_rect(TEMPLATE_PEN* pen, float x0, float y0, float x1, float y1) {
    float h = pen->t * 0.5f;
    _tpl_box(pen, x0 - h, y0 - h, x1 + h, y0 + h);
    _tpl_box(pen, x0 - h, y1 - h, x1 + h, y1 + h);
    _tpl_box(pen, x0 - h, y0 + h, x0 + h, y1 - h);
    _tpl_box(pen, x1 - h, y0 + h, x1 + h, y1 - h);
}

// Number of straight pieces that make a round outline of this radius look smooth.
static int _tpl_circle_steps(const TEMPLATE_PEN* pen, float r) {
    int n = (int)(10.0f * sqrtf(pen->scale * r));
    if (n < 8) n = 8;
    if (n > TEMPLATE_CIRCLE_MAX) n = TEMPLATE_CIRCLE_MAX;
    return n;
}

// Adds a filled circle.
static void _tpl_dot(TEMPLATE_PEN* pen, float cx, float cy, float r) {
    if (!(r > 0.0f)) return;
    float pts[TEMPLATE_CIRCLE_MAX * 2];
    int n = _tpl_circle_steps(pen, r);
    for (int i = 0; i < n; i++) {
        float a = (float)i * 2.0f * (float)M_PI / (float)n;
        pts[i * 2] = cx + r * cosf(a);
        pts[i * 2 + 1] = cy + r * sinf(a);
    }
    _tpl_polygon(pen, pts, n);
}

// Outlines an ellipse as a ring of small trapezoids between an inner and outer edge.
static void _tpl_ellipse(TEMPLATE_PEN* pen, float cx, float cy, float rx, float ry) {
    float h = pen->t * 0.5f;
    float irx = rx - h > 0.0f ? rx - h : 0.0f, iry = ry - h > 0.0f ? ry - h : 0.0f;
    float orx = rx + h, ory = ry + h;
    int n = _tpl_circle_steps(pen, rx > ry ? rx : ry);
    for (int i = 0; i < n; i++) {
        float a0 = (float)i * 2.0f * (float)M_PI / (float)n;
        float a1 = (float)(i + 1) * 2.0f * (float)M_PI / (float)n;
        float c0 = cosf(a0), s0 = sinf(a0), c1 = cosf(a1), s1 = sinf(a1);
        const float quad[8] = {cx + irx * c0, cy + iry * s0, cx + orx * c0, cy + ory * s0,
                               cx + orx * c1, cy + ory * s1, cx + irx * c1, cy + iry * s1};
        _tpl_polygon(pen, quad, 4);
    }
}

// Horizontal lines across the page at every multiple of s strictly above 0 and below v.
static void _tpl_rows(TEMPLATE_PEN* pen, float s) {
    if (!(s > 0.0f)) return;
    for (int k = 1;; k++) {
        float y = (float)k * s;
        if (!(y < pen->v)) break;
        _tpl_hline(pen, y, 0.0f, pen->u);
    }
}

// Vertical lines down the page at every multiple of s strictly above 0 and below u.
static void _tpl_columns(TEMPLATE_PEN* pen, float s) {
    if (!(s > 0.0f)) return;
    for (int k = 1;; k++) {
        float x = (float)k * s;
        if (!(x < pen->u)) break;
        _tpl_vline(pen, x, 0.0f, pen->v);
    }
}

// Dots on a square lattice of step s, when the step fits inside both sides.
static void _tpl_dots(TEMPLATE_PEN* pen, float s) {
    if (!(s > 0.0f) || !(s < pen->u) || !(s < pen->v)) return;
    float r = 0.045f * s;
    if (pen->t > r) r = pen->t;
    for (int j = 1;; j++) {
        float y = (float)j * s;
        if (!(y < pen->v)) break;
        for (int i = 1;; i++) {
            float x = (float)i * s;
            if (!(x < pen->u)) break;
            _tpl_dot(pen, x, y, r);
        }
    }
}

// Parallel lines at angle theta, spaced s apart along their normal, across the page.
static void _tpl_family(TEMPLATE_PEN* pen, float theta, float s) {
    if (!(s > 0.0f)) return;
    float dx = cosf(theta), dy = sinf(theta);
    float nx = -dy, ny = dx;
    const float corners[8] = {0.0f, 0.0f, pen->u, 0.0f, 0.0f, pen->v, pen->u, pen->v};
    float pmin = INFINITY, pmax = -INFINITY, dmin = INFINITY, dmax = -INFINITY;
    for (int i = 0; i < 4; i++) {
        float p = corners[i * 2] * nx + corners[i * 2 + 1] * ny;
        float d = corners[i * 2] * dx + corners[i * 2 + 1] * dy;
        if (p < pmin) pmin = p;
        if (p > pmax) pmax = p;
        if (d < dmin) dmin = d;
        if (d > dmax) dmax = d;
    }
    for (int k = (int)ceilf(pmin / s);; k++) {
        float p = (float)k * s;
        if (!(p <= pmax)) break;
        float bx = nx * p, by = ny * p;
        _tpl_segment(pen, bx + dx * dmin, by + dy * dmin, bx + dx * dmax, by + dy * dmax);
    }
}

// Square grid lines from the shorter side.
static void _tpl_grid(TEMPLATE_PEN* pen, float s) {
    _tpl_columns(pen, s);
    _tpl_rows(pen, s);
}

// Week and month planners: a header line, six column lines and five row lines.
static void _tpl_planner(TEMPLATE_PEN* pen, float header) {
    float u = pen->u, v = pen->v;
    _tpl_hline(pen, header, 0.0f, u);
    for (int k = 1; k <= 6; k++) _tpl_vline(pen, (float)k * u / 7.0f, 0.0f, v);
    for (int k = 1; k <= 5; k++) _tpl_hline(pen, header + (float)k * (v - header) / 6.0f, 0.0f, u);
}

static void _tpl_isometric(TEMPLATE_PEN* pen) {
    float s = fminf(pen->u, pen->v) / 28.0f;
    if (!(s > 0.0f)) return;
    for (int k = 0;; k++) {
        float x = (float)k * s;
        if (!(x <= pen->u)) break;
        _tpl_vline(pen, x, 0.0f, pen->v);
    }
    _tpl_family(pen, (float)(M_PI / 6.0), s);
    _tpl_family(pen, (float)(5.0 * M_PI / 6.0), s);
}

static void _tpl_hexagon(TEMPLATE_PEN* pen) {
    float r = fminf(pen->u, pen->v) / 26.0f;
    if (!(r > 0.0f)) return;
    float h = sqrtf(3.0f) * r;
    float vx[6], vy[6];
    for (int i = 0; i < 6; i++) {
        float a = (float)i * (float)M_PI / 3.0f;
        vx[i] = r * cosf(a);
        vy[i] = r * sinf(a);
    }
    for (int c = 0;; c++) {
        float x = (float)c * 1.5f * r;
        if (!(x - r < pen->u)) break;
        float y0 = (c % 2) ? h * 0.5f : 0.0f;
        for (int k = 0;; k++) {
            float y = y0 + (float)k * h;
            if (!(y - h < pen->v)) break;
            for (int i = 0; i < 6; i++) {
                int j = (i + 1) % 6;
                _tpl_segment(pen, x + vx[i], y + vy[i], x + vx[j], y + vy[j]);
            }
        }
    }
}

static void _tpl_perspective(TEMPLATE_PEN* pen) {
    float u = pen->u, v = pen->v;
    float px = 0.5f * u, py = 0.42f * v;
    _tpl_hline(pen, py, 0.0f, u);
    for (int k = 0; k <= 18; k++) {
        float x = (float)k * u / 18.0f;
        _tpl_segment(pen, px, py, x, v);
        _tpl_segment(pen, px, py, x, 0.0f);
    }
    for (int k = 0; k <= 10; k++) {
        float y = (float)k * v / 10.0f;
        _tpl_segment(pen, px, py, 0.0f, y);
        _tpl_segment(pen, px, py, u, y);
    }
    _tpl_dot(pen, px, py, 2.5f * pen->t);
}

static void _tpl_year(TEMPLATE_PEN* pen) {
    float a = pen->v / 3.0f, w = pen->u / 4.0f, n = 0.06f * w;
    for (int r = 0; r < 3; r++) {
        for (int c = 0; c < 4; c++) {
            float left = (float)c * w + n, right = (float)c * w + w - n;
            float top = (float)r * a + n, bottom = (float)r * a + a - n;
            _tpl_rect(pen, left, top, right, bottom);
            float yh = top + 0.16f * (bottom - top);
            _tpl_hline(pen, yh, left, right);
            for (int k = 1; k <= 6; k++) _tpl_vline(pen, left + (float)k * (right - left) / 7.0f, yh, bottom);
            for (int k = 1; k <= 5; k++) _tpl_hline(pen, yh + (float)k * (bottom - yh) / 6.0f, left, right);
        }
    }
}

static void _tpl_storyboard(TEMPLATE_PEN* pen) {
    float u = pen->u, v = pen->v;
    float d = 0.04f * u, g = 0.03f * u;
    float pw = (u - 2.0f * d - g) / 2.0f, ph = (v - 2.0f * d - 2.0f * g) / 3.0f;
    float pic = 0.74f * ph, cap = ph - pic;
    for (int r = 0; r < 3; r++) {
        for (int c = 0; c < 2; c++) {
            float left = (float)c * (g + pw) + d, top = (float)r * (g + ph) + d;
            _tpl_rect(pen, left, top, left + pw, top + pic);
            for (int k = 1; k <= 3; k++) _tpl_hline(pen, top + pic + (float)k * cap / 4.0f, left, left + pw);
        }
    }
}

// Builds one template's strokes; the caller flushes them.
static void _tpl_build(TEMPLATE_PEN* pen, int index) {
    float u = pen->u, v = pen->v, m = fminf(u, v);
    switch (index) {
        case 1: _tpl_rows(pen, v / 45.0f); break;
        case 2: _tpl_rows(pen, v / 32.0f); break;
        case 3: _tpl_rows(pen, v / 22.0f); break;
        case 4:
            _tpl_rows(pen, v / 32.0f);
            _tpl_vline(pen, 0.12f * u, 0.0f, v);
            break;
        case 5:
            _tpl_rect(pen, 0.04f * u, 0.03f * v, 0.96f * u, 0.13f * v);
            for (int k = 1;; k++) {
                float y = 0.13f * v + (float)k * v / 32.0f;
                if (!(y < v)) break;
                _tpl_hline(pen, y, 0.04f * u, 0.96f * u);
            }
            break;
        case 6:
            _tpl_vline(pen, 0.5f * u, 0.0f, v);
            _tpl_rows(pen, v / 30.0f);
            break;
        case 7:
            _tpl_hline(pen, 0.08f * v, 0.0f, u);
            _tpl_vline(pen, 0.14f * u, 0.0f, v);
            for (int k = 1; k <= 14; k++) _tpl_hline(pen, 0.08f * v + (float)k * (v - 0.08f * v) / 14.0f, 0.0f, u);
            break;
        case 8: _tpl_grid(pen, m / 64.0f); break;
        case 9: _tpl_grid(pen, m / 40.0f); break;
        case 10: _tpl_grid(pen, m / 24.0f); break;
        case 11: _tpl_dots(pen, m / 64.0f); break;
        case 12: _tpl_dots(pen, m / 40.0f); break;
        case 13: _tpl_dots(pen, m / 24.0f); break;
        case 14: _tpl_isometric(pen); break;
        case 15: _tpl_hexagon(pen); break;
        case 16: _tpl_perspective(pen); break;
        case 17: {
            float hh = 0.1f * v, x = 0.62f * u;
            _tpl_hline(pen, hh, 0.0f, u);
            _tpl_vline(pen, x, hh, v);
            for (int k = 1; k <= 12; k++) _tpl_hline(pen, hh + (float)k * (v - hh) / 12.0f, 0.0f, x);
            for (int k = 1;; k++) {
                float y = hh + (float)k * v / 30.0f;
                if (!(y < v)) break;
                _tpl_hline(pen, y, x, u);
            }
            break;
        }
        case 18: _tpl_planner(pen, 0.08f * v); break;
        case 19: _tpl_planner(pen, 0.07f * v); break;
        case 20: {
            float e = v / 22.0f, b = e / 2.0f;
            if (!(e > 0.0f)) break;
            for (int k = 1;; k++) {
                float y = (float)k * e;
                if (!(y < v)) break;
                _tpl_rect(pen, 0.03f * u, y - b, 0.03f * u + b, y);
                _tpl_hline(pen, y, 0.03f * u + b + 0.01f * u, 0.97f * u);
            }
            break;
        }
        case 21: _tpl_year(pen); break;
        case 22: _tpl_storyboard(pen); break;
        case 23:
            for (int i = 1; i <= 8; i++)
                for (int j = -2; j <= 2; j++)
                    _tpl_hline(pen, (float)i * v / 9.0f + (float)j * 0.13f * v / 9.0f, 0.05f * u, 0.95f * u);
            break;
        case 24:
            _tpl_vline(pen, u / 3.0f, 0.0f, v);
            _tpl_vline(pen, 2.0f * u / 3.0f, 0.0f, v);
            _tpl_vline(pen, 0.5f * u, 0.0f, v);
            _tpl_hline(pen, v / 3.0f, 0.0f, u);
            _tpl_hline(pen, 2.0f * v / 3.0f, 0.0f, u);
            _tpl_hline(pen, 0.5f * v, 0.0f, u);
            _tpl_ellipse(pen, 0.5f * u, 0.5f * v, 0.45f * u, 0.45f * v);
            _tpl_segment(pen, 0.0f, 0.0f, u, v);
            _tpl_segment(pen, u, 0.0f, 0.0f, v);
            break;
        default: break;
    }
}

// Draws one template for a width x height page in page coordinates, inside the page only.
void template_draw(int index, float width, float height, ALLEGRO_COLOR colour, float thickness) {
    if (index < 1 || index >= TEMPLATE_COUNT) return;
    if (!(width > 0.0f) || !(height > 0.0f) || !isfinite(width) || !isfinite(height)) return;
    if (!al_get_target_bitmap()) {
        t_log(LOG_DEBUG, "no target bitmap for template %d", index);
        return;
    }
    TEMPLATE_PEN pen;
    pen.u = width;
    pen.v = height;
    pen.t = thickness > 0.0f ? thickness : 1.0f;
    pen.colour = colour;
    const ALLEGRO_TRANSFORM* tr = al_get_current_transform();
    pen.scale = tr ? sqrtf(fabsf(tr->m[0][0] * tr->m[1][1] - tr->m[0][1] * tr->m[1][0])) : 1.0f;
    if (!(pen.scale > 0.0f) || !isfinite(pen.scale)) pen.scale = 1.0f;
    pen.verts.reserve(4096);
    _tpl_build(&pen, index);
    _tpl_flush(&pen);
}
