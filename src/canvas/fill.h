/* fill: whole-layer pixel operations on the active layer: the scanline
 * flood fill, the linear gradient and clearing the layer, each one undo
 * step made from a CPU copy of the layer's committed pixels. */
#pragma once
#include <allegro5/allegro.h>

#include "canvas/document.h"

/* Initial capacity of the flood fill's seed stack, in (x, y) pairs. */
#define FILL_SEED_STACK_INITIAL 4096

/* Fills the 4-connected region around (x, y) whose bytes are each within
 * tolerance (0..1 of 255) of the seed pixel with the opaque colour. 1 when
 * pixels were filled and written, 0 otherwise (locked layer, seed outside,
 * nothing to change). */
int fill_flood(DOCUMENT* doc, float x, float y, const ALLEGRO_COLOR* color, float tolerance);
/* Lays the colour over the layer fading from full at (x0, y0) to nothing at
 * (x1, y1); behind the start it is opaque, past the end the layer is kept. A
 * drag under one pixel paints the whole layer. */
int fill_gradient(DOCUMENT* doc, float x0, float y0, float x1, float y1, const ALLEGRO_COLOR* color);
/* Makes every pixel of the active layer transparent black. */
int fill_clear(DOCUMENT* doc);
