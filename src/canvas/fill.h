/* fill: whole-layer pixel operations on the active layer: the scanline
 * flood fill, the linear gradient and clearing the layer, each one undo
 * step made from a CPU copy of the layer's committed pixels. */
#pragma once
#include <allegro5/allegro.h>

#include "canvas/document.h"

/* Initial capacity of the flood fill's seed stack, in (x, y) pairs. */
#define FILL_SEED_STACK_INITIAL 4096

/* What a flood fill looks at to find its region. */
#define FILL_SAMPLE_LAYER 0 /* the active layer alone */
#define FILL_SAMPLE_ALL 1   /* the picture as seen: paper and visible layers */
/* Pixels a region can be grown by before it is painted. */
#define FILL_GROW_MAX 8
#define FILL_DEFAULT_TOLERANCE 0.1f

/* How a flood fill finds and paints its region. */
typedef struct FILL_OPTIONS {
    float tolerance; /* 0..1 of 255: how far each byte may differ from the seed */
    int32_t sample;  /* FILL_SAMPLE_LAYER or FILL_SAMPLE_ALL */
    int32_t grow;    /* 0..FILL_GROW_MAX: the region is dilated by this many pixels */
    /* Null, or mask_w * mask_h bytes (rows packed) whose canvas top-left is
     * (mask_x, mask_y): nothing where they are 0 or outside them changes. */
    const uint8_t* mask;
    int32_t mask_x, mask_y, mask_w, mask_h;
} FILL_OPTIONS;

/* Today's fill: the active layer, a tolerance of 10 %, no growing, no mask. */
void fill_options_defaults(FILL_OPTIONS* options);
/* Fills the 4-connected region around (x, y) whose bytes are each within
 * tolerance of the seed pixel (on the active layer or the picture as seen)
 * with the opaque colour on the active layer; a grown border gets the
 * colour under what the layer holds there. 1 when pixels were filled and
 * written, 0 otherwise (locked layer, seed outside the document or the mask,
 * nothing to change). */
int fill_flood_with(DOCUMENT* doc, float x, float y, const ALLEGRO_COLOR* color, const FILL_OPTIONS* options);
/* fill_flood_with the defaults and this tolerance. */
int fill_flood(DOCUMENT* doc, float x, float y, const ALLEGRO_COLOR* color, float tolerance);
/* Lays the colour over the layer fading from full at (x0, y0) to nothing at
 * (x1, y1); behind the start it is opaque, past the end the layer is kept. A
 * drag under one pixel paints the whole layer. */
int fill_gradient(DOCUMENT* doc, float x0, float y0, float x1, float y1, const ALLEGRO_COLOR* color);
/* Makes every pixel of the active layer transparent black. */
int fill_clear(DOCUMENT* doc);
