/* symmetry: mirrored and radial copies of a canvas point about a centre, and
 * the guides that show the axes over the canvas. */
#include "canvas/symmetry.h"

#include <allegro5/allegro_primitives.h>
#include <math.h>

#include "t_log.h"

// Radial copies are limited to what the brush engine has room for.
static int _symmetry_segments(const SYMMETRY* sym) {
    int n = sym->segments;
    if (n < 2) n = 2;
    if (n > SYMMETRY_MAX_POINTS) n = SYMMETRY_MAX_POINTS;
    return n;
}

// Returns the display name of a mode; unknown values read as "Off".
const char* symmetry_mode_name(int mode) {
    switch (mode) {
        case SYMMETRY_X: return "X";
        case SYMMETRY_Y: return "Y";
        case SYMMETRY_XY: return "XY";
        case SYMMETRY_RADIAL: return "Rad";
        default: return "Off";
    }
}

// Turns symmetry off with the centre on the document's centre and six segments.
void symmetry_init(SYMMETRY* sym, const DOCUMENT* doc) {
    __t_assert_void(sym);
    sym->mode = SYMMETRY_OFF;
    sym->cx = doc ? (float)doc->width / 2.0f : 0.0f;
    sym->cy = doc ? (float)doc->height / 2.0f : 0.0f;
    sym->segments = 6;
}

// Writes the point itself and then its copies, as many as fit; returns the count.
int symmetry_mirror(const SYMMETRY* sym, float x, float y, float* out, int max_points) {
    __t_assert(out);
    if (max_points <= 0) return 0;
    out[0] = x;
    out[1] = y;
    if (!sym) return 1;
    float mx = 2.0f * sym->cx - x, my = 2.0f * sym->cy - y;
    switch (sym->mode) {
        case SYMMETRY_X:
            if (max_points < 2) return 1;
            out[2] = mx;
            out[3] = y;
            return 2;
        case SYMMETRY_Y:
            if (max_points < 2) return 1;
            out[2] = x;
            out[3] = my;
            return 2;
        case SYMMETRY_XY: {
            const float copies[3][2] = {{mx, y}, {x, my}, {mx, my}};
            int count = max_points < 4 ? max_points : 4;
            for (int i = 1; i < count; i++) {
                out[i * 2] = copies[i - 1][0];
                out[i * 2 + 1] = copies[i - 1][1];
            }
            return count;
        }
        case SYMMETRY_RADIAL: {
            int n = _symmetry_segments(sym);
            int count = max_points < n ? max_points : n;
            double dx = (double)x - sym->cx, dy = (double)y - sym->cy;
            /* The step stays a full turn over n even when fewer copies fit. */
            for (int i = 1; i < count; i++) {
                double a = (double)i * 2.0 * M_PI / (double)n;
                double c = cos(a), s = sin(a);
                out[i * 2] = (float)(sym->cx + dx * c - dy * s);
                out[i * 2 + 1] = (float)(sym->cy + dx * s + dy * c);
            }
            return count;
        }
        default: return 1;
    }
}

// Draws the axes or rays and the centre cross through the view, then resets the transform.
void symmetry_draw(const SYMMETRY* sym, const DOCUMENT* doc, const VIEW* view) {
    if (!sym || sym->mode == SYMMETRY_OFF) return;
    __t_assert_void(doc);
    __t_assert_void(view);
    ALLEGRO_COLOR colour = al_premul_rgba(200, 60, 160, 180);
    /* One screen pixel wide whatever the zoom. */
    float unit = view->zoom > 0.0f ? 1.0f / view->zoom : 1.0f;
    float w = (float)doc->width, h = (float)doc->height;
    al_use_transform(&view->transform);
    if (sym->mode == SYMMETRY_X || sym->mode == SYMMETRY_XY)
        al_draw_line(sym->cx, 0.0f, sym->cx, h, colour, unit);
    if (sym->mode == SYMMETRY_Y || sym->mode == SYMMETRY_XY)
        al_draw_line(0.0f, sym->cy, w, sym->cy, colour, unit);
    if (sym->mode == SYMMETRY_RADIAL) {
        int n = _symmetry_segments(sym);
        double length = sqrt((double)w * w + (double)h * h);
        for (int i = 0; i < n; i++) {
            double a = (double)i * 2.0 * M_PI / (double)n;
            al_draw_line(sym->cx, sym->cy, (float)(sym->cx + length * cos(a)),
                         (float)(sym->cy + length * sin(a)), colour, unit);
        }
    }
    float arm = 6.0f * unit;
    al_draw_line(sym->cx - arm, sym->cy, sym->cx + arm, sym->cy, colour, unit);
    al_draw_line(sym->cx, sym->cy - arm, sym->cx, sym->cy + arm, colour, unit);
    ALLEGRO_TRANSFORM identity;
    al_identity_transform(&identity);
    al_use_transform(&identity);
}
