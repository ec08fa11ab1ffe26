/* grid: a square lattice over the canvas, its overlay and snapping. */
#pragma once
#include <allegro5/allegro.h>
#include <stdint.h>

#include "canvas/document.h"
#include "canvas/view.h"

typedef struct GRID {
    uint8_t visible;
    float spacing;
    uint8_t snap;
    uint8_t diagonals;
    ALLEGRO_COLOR line_color;     /* premultiplied */
    ALLEGRO_COLOR diagonal_color; /* premultiplied */
} GRID;

void grid_init(GRID* grid);
void grid_draw(const GRID* grid, const DOCUMENT* doc, const VIEW* view, int32_t screen_w, int32_t screen_h);
int grid_snap_step(const GRID* grid, float* step);
int grid_snap_length(const GRID* grid, float length, float* snapped);
void grid_snap_view(const GRID* grid, float x, float y, float* snapped_x, float* snapped_y);
int grid_snap_anchor(const GRID* grid, float x, float y, float* anchor_x, float* anchor_y);
void grid_segment_dir(float dx, float dy, int allow_diagonal, int32_t* step_x, int32_t* step_y);
