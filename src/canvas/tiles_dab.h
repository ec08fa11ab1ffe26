/* tiles_dab: brush dabs stamped on the CPU straight into tile stores. A dab
 * is a tip's coverage (n x n bytes) scaled by its strength, laid at an
 * integer position with a premultiplied colour, either into a layer's RGBA
 * tiles or into a stroke's own coverage tiles, which are later laid onto the
 * layer with the stroke's colour and opacity. The arithmetic is the graphics
 * device's on premultiplied colours, products rounded as (p + (p >> 8) +
 * 128) >> 8, so tiles match what the device draws within its ±1. */
#pragma once
#include <allegro5/allegro.h>
#include <stdint.h>

#include "canvas/tiles.h"

/* How a dab meets the paint under it. */
#define TILES_DAB_OVER 0  /* paint over: s + d * (1 - s alpha) */
#define TILES_DAB_ERASE 1 /* take away: d * (1 - s alpha) */
/* Added to a mode: the colour changes only where there is paint, whose
 * alpha stays (s * d alpha + d * (1 - s alpha), alpha kept). An eraser
 * under lock alpha changes nothing. */
#define TILES_DAB_LOCK_ALPHA 0x10

/* A tip's coverage scaled by a dab strength, and the columns each row
 * covers, made once and used for every dab of that strength. */
typedef struct TILES_STAMP {
    int32_t n;          /* side in pixels */
    float alpha;        /* the strength it was made with, 0 to 1 */
    uint8_t* coverage;  /* n * n bytes, rows n apart */
    int32_t* span;      /* per row: first and past-last column with coverage (equal: none) */
    int32_t rows0, rows1; /* the rows with coverage, [rows0, rows1) */
} TILES_STAMP;

/* Makes `stamp` the n x n `tip` scaled by `alpha` (clamped to 0..1) as the
 * device scales a tinted texel; reuses the stamp's buffers when n is the
 * same. On failure the stamp is left as it was. */
int tiles_stamp_prepare(TILES_STAMP* stamp, const uint8_t* tip, int n, float alpha);
/* Frees a stamp's buffers and empties it. */
void tiles_stamp_release(TILES_STAMP* stamp);

/* Premultiplied colour bytes of a straight colour at a strength (stroke
 * opacity): (k r, k g, k b, k) with k = strength x alpha, clamped to 0..1. */
void tiles_dab_colour(ALLEGRO_COLOR colour, float strength, uint8_t out[4]);

/* Stamps a dab with its top-left corner at (x, y) into an RGBA store in a
 * TILES_DAB_* mode, clipped to the canvas. Painting over makes the tiles the
 * coverage reaches; erasing and lock alpha change only tiles that are
 * there. On failure nothing changes. */
int tiles_dab(TILES* store, const TILES_STAMP* stamp, int x, int y, const uint8_t colour[4], int mode);
/* Stamps a dab into a stroke's coverage store: c + d * (1 - c), so a
 * stroke's coverage saturates towards full however often it crosses itself. */
int tiles_dab_coverage(TILES* buffer, const TILES_STAMP* stamp, int x, int y);
/* Lays a stroke's coverage store onto an RGBA store of the same canvas and
 * side, each covered pixel meeting `colour` x coverage in the mode. On
 * failure nothing changes. */
int tiles_dab_lay(TILES* store, const TILES* buffer, const uint8_t colour[4], int mode);

/* One row of RGBA pixels meeting `colour` x coverage in a mode: what the
 * functions above do per row, for a picture that is not a store (a frame's
 * copy of a layer with the live stroke laid on it). */
void tiles_dab_row(uint8_t* dst, const uint8_t* coverage, int pixels, const uint8_t colour[4], int mode);
/* One row of coverage meeting coverage: d = c + d * (1 - c). */
void tiles_dab_coverage_row(uint8_t* dst, const uint8_t* coverage, int pixels);
/* Chooses the vector (1, the default) or the scalar (0) rows, for the tests
 * and benchmarks that compare them; both give the same bytes. */
void tiles_dab_use_vectors(int on);
