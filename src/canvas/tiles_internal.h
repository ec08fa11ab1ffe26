/* tiles_internal: the two-step write the store's writers share with the
 * dab stamping. A plan names, for every slot a clipped rectangle touches,
 * whether the writer leaves it, writes it or drops it; owning the plan makes
 * every written slot a tile the store alone holds (all or none, without
 * changing a pixel); committing it raises the revision and stamps the slots. */
#pragma once
#include "canvas/tiles.h"

enum { _TILES_SKIP = 0, _TILES_WRITE = 1, _TILES_DROP = 2 };

typedef struct _TILES_PLAN {
    int tx0, ty0, tx1, ty1; /* slot range, inclusive */
    int columns;
    uint8_t* action;  /* per slot of the range */
    uint8_t* created; /* 1 where owning the plan made the tile */
    uint8_t local[128];
} _TILES_PLAN;

/* Clips (x, y, w, h) to the canvas; 0 when nothing is left. */
int _tiles_clip(const TILES* store, int* x, int* y, int* w, int* h);
/* A plan over the slots of a rectangle already clipped to the canvas, every
 * action SKIP; 0 when memory is short. */
int _tiles_plan_begin(_TILES_PLAN* plan, const TILES* store, int x, int y, int w, int h);
/* The action of slot (tx, ty), inside the plan's range. */
uint8_t* _tiles_plan_cell(_TILES_PLAN* plan, int tx, int ty);
/* Gives every WRITE slot a tile of its own; 0 (and the tiles it made
 * dropped again) when memory is short. */
int _tiles_plan_own(TILES* store, _TILES_PLAN* plan);
/* Raises the revision and stamps every slot the plan writes or drops. */
uint64_t _tiles_plan_commit(TILES* store, _TILES_PLAN* plan);
/* The writable pixels of an owned slot (null when it is absent). */
uint8_t* _tiles_plan_pixels(TILES* store, int tx, int ty);
/* Frees what the plan allocated for itself. */
void _tiles_plan_end(_TILES_PLAN* plan);
