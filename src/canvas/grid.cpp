/* grid: the square lattice overlay with optional cell diagonals, and the
 * snapping of stroke points, anchors, lengths and directions onto it. */
#include "canvas/grid.h"

#include <allegro5/allegro_primitives.h>
#include <math.h>

#include <vector>

#include "t_log.h"

/* Below this many screen pixels per cell the lattice is too dense to show. */
#define GRID_MIN_SCREEN_CELL 6.0f
/* A view so broken that this many lines would be needed is not drawn at all. */
#define GRID_MAX_LINES 100000.0f

// Snapping needs the flag, something shown to snap to, and a usable spacing.
static int _grid_active(const GRID* grid) {
    return grid->snap && (grid->visible || grid->diagonals) && grid->spacing > 0.0f;
}

// Sets the initial grid: hidden, 128 pixels, no snapping, no diagonals.
void grid_init(GRID* grid) {
    __t_assert_void(grid);
    grid->visible = 0;
    grid->spacing = 128.0f;
    grid->snap = 0;
    grid->diagonals = 0;
    grid->line_color = al_premul_rgba(70, 110, 180, 170);
    grid->diagonal_color = al_premul_rgba(150, 110, 60, 120);
}

// Gives the snap step when snapping is active.
int grid_snap_step(const GRID* grid, float* step) {
    __t_assert(grid);
    __t_assert(step);
    if (!_grid_active(grid)) return 0;
    *step = grid->spacing;
    return 1;
}

// Rounds a length to whole cells, never below one cell.
int grid_snap_length(const GRID* grid, float length, float* snapped) {
    __t_assert(snapped);
    *snapped = length;
    __t_assert(grid);
    if (!_grid_active(grid)) return 0;
    float s = grid->spacing;
    float cells = roundf(length / s) * s;
    *snapped = cells > s ? cells : s;
    return 1;
}

// Pulls a stroke point onto the cell centre, the nearest node or the nearest diagonal.
void grid_snap_view(const GRID* grid, float x, float y, float* snapped_x, float* snapped_y) {
    __t_assert_void(snapped_x);
    __t_assert_void(snapped_y);
    *snapped_x = x;
    *snapped_y = y;
    __t_assert_void(grid);
    if (!_grid_active(grid)) return;
    float s = grid->spacing;
    float nx = roundf(x / s) * s, ny = roundf(y / s) * s;
    if (!grid->diagonals) {
        *snapped_x = nx;
        *snapped_y = ny;
        return;
    }
    float cx = (floorf(x / s) + 0.5f) * s, cy = (floorf(y / s) + 0.5f) * s;
    float dcx = x - cx, dcy = y - cy, near = 0.25f * s;
    if (dcx * dcx + dcy * dcy <= near * near) {
        *snapped_x = cx;
        *snapped_y = cy;
        return;
    }
    float r = fminf(fabsf(x - nx), fabsf(y - ny));
    if (r <= 0.15f * s) {
        *snapped_x = nx;
        *snapped_y = ny;
        return;
    }
    float a = (y - x) - roundf((y - x) / s) * s;
    float w = (x + y) - roundf((x + y) / s) * s;
    float va = 0.70710677f * fabsf(a), uw = 0.70710677f * fabsf(w);
    if (r < 0.75f * fminf(va, uw)) {
        *snapped_x = nx;
        *snapped_y = ny;
        return;
    }
    if (va <= uw) {
        *snapped_x = x + a / 2.0f;
        *snapped_y = y - a / 2.0f;
    } else {
        *snapped_x = x - w / 2.0f;
        *snapped_y = y - w / 2.0f;
    }
}

// Snaps a line anchor to the nearest node, or to the cell centre when diagonals make it nearer.
int grid_snap_anchor(const GRID* grid, float x, float y, float* anchor_x, float* anchor_y) {
    __t_assert(grid);
    __t_assert(anchor_x);
    __t_assert(anchor_y);
    if (!_grid_active(grid)) return 0;
    float s = grid->spacing;
    float nx = roundf(x / s) * s, ny = roundf(y / s) * s;
    if (grid->diagonals) {
        float cx = (floorf(x / s) + 0.5f) * s, cy = (floorf(y / s) + 0.5f) * s;
        float dn = (x - nx) * (x - nx) + (y - ny) * (y - ny);
        float dc = (x - cx) * (x - cx) + (y - cy) * (y - cy);
        if (dc < dn) {
            nx = cx;
            ny = cy;
        }
    }
    *anchor_x = nx;
    *anchor_y = ny;
    return 1;
}

// Quantises a direction to one of the four (or eight) unit steps.
void grid_segment_dir(float dx, float dy, int allow_diagonal, int32_t* step_x, int32_t* step_y) {
    __t_assert_void(step_x);
    __t_assert_void(step_y);
    double unit = allow_diagonal ? M_PI / 4.0 : M_PI / 2.0;
    double angle = round(atan2((double)dy, (double)dx) / unit) * unit;
    double c = cos(angle), s = sin(angle);
    *step_x = c > 0.5 ? 1 : (c < -0.5 ? -1 : 0);
    *step_y = s > 0.5 ? 1 : (s < -0.5 ? -1 : 0);
}

// Adds a straight stroke of the given thickness to a triangle batch.
static void _grid_line(std::vector<ALLEGRO_VERTEX>* verts, float x0, float y0, float x1, float y1, float thick,
                       ALLEGRO_COLOR colour) {
    float dx = x1 - x0, dy = y1 - y0, len = sqrtf(dx * dx + dy * dy);
    if (!(len > 0.0f)) return;
    float nx = -dy / len * thick * 0.5f, ny = dx / len * thick * 0.5f;
    ALLEGRO_VERTEX v = {};
    v.color = colour;
    const float pts[6][2] = {{x0 + nx, y0 + ny}, {x1 + nx, y1 + ny}, {x1 - nx, y1 - ny},
                             {x0 + nx, y0 + ny}, {x1 - nx, y1 - ny}, {x0 - nx, y0 - ny}};
    for (int i = 0; i < 6; i++) {
        v.x = pts[i][0];
        v.y = pts[i][1];
        verts->push_back(v);
    }
}

// Sends a batch of triangles and empties it.
static void _grid_flush(std::vector<ALLEGRO_VERTEX>* verts) {
    if (!verts->empty()) al_draw_prim(verts->data(), NULL, NULL, 0, (int)verts->size(), ALLEGRO_PRIM_TRIANGLE_LIST);
    verts->clear();
}

// Draws the diagonals of every visible cell, each cut to the document.
static void _grid_draw_diagonals(const GRID* grid, float w, float h, float x0, float y0, float x1, float y1,
                                 float thick, std::vector<ALLEGRO_VERTEX>* verts) {
    float s = grid->spacing;
    float first_col = floorf(x0 / s), first_row = floorf(y0 / s);
    if (first_col < 0.0f) first_col = 0.0f;
    if (first_row < 0.0f) first_row = 0.0f;
    for (float row = first_row;; row += 1.0f) {
        float cy = row * s;
        if (!(cy < y1) || !(cy < h)) break;
        for (float col = first_col;; col += 1.0f) {
            float cx = col * s;
            if (!(cx < x1) || !(cx < w)) break;
            /* Main diagonal: (cx, cy) + t (s, s); stays inside while cx + t s <= w and cy + t s <= h. */
            float t_end = fminf(1.0f, fminf((w - cx) / s, (h - cy) / s));
            if (t_end > 0.0f) _grid_line(verts, cx, cy, cx + t_end * s, cy + t_end * s, thick, grid->diagonal_color);
            /* Anti-diagonal: (cx + s, cy) + t (-s, s); its start lies outside on the right edge cell. */
            float t_start = fmaxf(0.0f, (cx + s - w) / s);
            float t_stop = fminf(1.0f, (h - cy) / s);
            if (t_stop > t_start)
                _grid_line(verts, cx + s - t_start * s, cy + t_start * s, cx + s - t_stop * s, cy + t_stop * s, thick,
                           grid->diagonal_color);
            if (verts->size() > 60000) _grid_flush(verts);
        }
    }
}

// Draws the overlay for the part of the document that the screen shows.
void grid_draw(const GRID* grid, const DOCUMENT* doc, const VIEW* view, int32_t screen_w, int32_t screen_h) {
    __t_assert_void(grid);
    __t_assert_void(doc);
    __t_assert_void(view);
    if (!(grid->visible || grid->diagonals) || !(grid->spacing > 0.0f)) return;
    float x0 = 1e30f, y0 = 1e30f, x1 = -1e30f, y1 = -1e30f;
    const float corners[4][2] = {{0.0f, 0.0f}, {(float)screen_w, 0.0f}, {0.0f, (float)screen_h},
                                 {(float)screen_w, (float)screen_h}};
    for (int i = 0; i < 4; i++) {
        float cx = 0.0f, cy = 0.0f;
        view_screen_to_canvas(view, corners[i][0], corners[i][1], &cx, &cy);
        x0 = fminf(x0, cx);
        y0 = fminf(y0, cy);
        x1 = fmaxf(x1, cx);
        y1 = fmaxf(y1, cy);
    }
    float w = (float)doc->width, h = (float)doc->height;
    if (x0 < 0.0f) x0 = 0.0f;
    if (y0 < 0.0f) y0 = 0.0f;
    if (x1 > w) x1 = w;
    if (y1 > h) y1 = h;
    if (!(x1 > x0) || !(y1 > y0)) return;

    ALLEGRO_TRANSFORM tr = view->transform;
    ALLEGRO_TRANSFORM identity;
    al_identity_transform(&identity);
    /* Half a screen pixel puts one-pixel lines on pixel centres. */
    al_translate_transform(&tr, 0.5f, 0.5f);
    al_use_transform(&tr);
    float s = grid->spacing;
    if ((view->zoom > 0.0f && s * view->zoom < GRID_MIN_SCREEN_CELL) || (x1 - x0) / s > GRID_MAX_LINES ||
        (y1 - y0) / s > GRID_MAX_LINES) {
        al_use_transform(&identity);
        return;
    }
    float thick = view->zoom > 0.0f ? 1.0f / view->zoom : 1.0f;
    std::vector<ALLEGRO_VERTEX> verts;
    verts.reserve(4096);
    if (grid->diagonals) _grid_draw_diagonals(grid, w, h, x0, y0, x1, y1, thick, &verts);
    if (grid->visible) {
        for (float k = floorf(x0 / s);; k += 1.0f) {
            float x = k * s;
            if (!(x <= x1)) break;
            _grid_line(&verts, x, y0, x, y1, thick, grid->line_color);
        }
        for (float k = floorf(y0 / s);; k += 1.0f) {
            float y = k * s;
            if (!(y <= y1)) break;
            _grid_line(&verts, x0, y, x1, y, thick, grid->line_color);
        }
    }
    _grid_flush(&verts);
    al_use_transform(&identity);
}
