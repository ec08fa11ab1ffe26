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

/* Hidden, 128-pixel cells, no snapping, no diagonals. */
void grid_init(GRID* grid);
/* Draws the overlay over the part of the document the screen shows. */
void grid_draw(const GRID* grid, const DOCUMENT* doc, const VIEW* view, int32_t screen_w, int32_t screen_h);
/* Gives the snap step while snapping is active; 0 otherwise. */
int grid_snap_step(const GRID* grid, float* step);
/* Rounds a length to whole cells (at least one) while snapping is active. */
int grid_snap_length(const GRID* grid, float length, float* snapped);
/* Pulls a point to the cell centre, nearest node or diagonal while snapping; else unchanged. */
void grid_snap_view(const GRID* grid, float x, float y, float* snapped_x, float* snapped_y);
/* Snaps a line anchor to the nearest node (or cell centre with diagonals); 1 when it moved. */
int grid_snap_anchor(const GRID* grid, float x, float y, float* anchor_x, float* anchor_y);
/* Quantises a direction to one of the four (or eight) unit lattice steps. */
void grid_segment_dir(float dx, float dy, int allow_diagonal, int32_t* step_x, int32_t* step_y);
