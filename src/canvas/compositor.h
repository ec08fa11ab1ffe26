/* compositor: draws the paper, page template and visible layers through the
 * view, and flattens a canvas rectangle at 1:1 for export. */
#pragma once
#include <allegro5/allegro.h>

#include "canvas/document.h"
#include "canvas/view.h"

/* Draws the document onto the current target through the view. */
void compositor_draw(DOCUMENT* doc, const VIEW* view);
/* The same rectangle as compositor_flatten_region, blended on the CPU into
 * w * h premultiplied RGBA bytes (rows packed) that the caller frees, from
 * the layers' textures or, without them, their memory copies. Null for a
 * blend mode without a CPU row, and for a page template while a display is
 * current: the device draws its lines. */
uint8_t* compositor_flatten_region_bytes(DOCUMENT* doc, int x, int y, int w, int h, int include_template);
/* Drops the pictures frames keep between them (they are rebuilt on demand). */
void compositor_release(void);
/* Renders the canvas rectangle (x, y, w, h) into a new video bitmap owned by the caller. */
ALLEGRO_BITMAP* compositor_flatten_region(DOCUMENT* doc, int x, int y, int w, int h, int include_template);
/* The colour seen at canvas pixel (x, y): paper and visible layers with
 * their blend and opacity, read from the layers' memory copies (straight,
 * opaque); 0 outside the document. */
int compositor_sample(const DOCUMENT* doc, int x, int y, ALLEGRO_COLOR* out);
/* The picture seen over the rectangle (x, y, w, h), which must lie inside
 * the document, by the rules of compositor_sample, as opaque premultiplied
 * RGBA bytes into `out` (w * h * 4, rows packed); 0 when a layer cannot be
 * read. */
int compositor_sample_region(const DOCUMENT* doc, int x, int y, int w, int h, uint8_t* out);
