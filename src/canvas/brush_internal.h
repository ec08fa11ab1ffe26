/* brush_internal: the brush engine's own steps, reached by its tests. */
#pragma once
#include "canvas/brush.h"

/* The stroke buffer for the document's size, made on first use. */
ALLEGRO_BITMAP* _stroke_buffer_get(DOCUMENT* doc);
/* Computes a new stamp for the brush's size, hardness and tip. */
ALLEGRO_BITMAP* _stamp_generate(const BRUSH* brush);
/* The cached stamp for the brush, generated on a miss. */
ALLEGRO_BITMAP* _stamp_get(const BRUSH* brush);
/* Lays one dab (and its symmetry copies) at (x, y). */
int _brush_dab(DOCUMENT* doc, BRUSH_STROKE* stroke, const BRUSH* brush, float x, float y, float pressure);
/* Number of stamps in the cache (0 before first use). */
int _stamp_cache_count(void);
