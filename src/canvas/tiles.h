/* tiles: a layer's pixels in square tiles, held only where there is paint.
 * An absent tile is transparent (all bytes zero). A store holds either
 * premultiplied RGBA (bytes R, G, B, A in memory order, as the rest of the
 * program locks its bitmaps) or one coverage byte per pixel (a stroke's own
 * buffer). Tiles are counted and shared: a snapshot, an undo record or
 * another store may hold the same tile, and a writer copies a shared tile
 * before it changes it, so whoever else holds it keeps the old pixels.
 *
 * Every writer raises the store's revision once and stamps each tile slot
 * it changed with it, so a consumer that remembers the revision it last saw
 * redraws only the slots changed since (tiles_changed_since).
 *
 * A tile is always a full square; on a canvas whose size is not a multiple
 * of the tile side, the bytes of edge tiles past the canvas stay zero.
 *
 * Threads: everything that changes a store (writers, clear, compact,
 * restore, put, snapshot) runs on one thread at a time. Any number of
 * threads may read one store (read_tile, read_rect, export, each,
 * changed_since, diff, content_box, bytes) while no thread changes it. A
 * snapshot is never written, so a worker may read it (a save) while the
 * main thread goes on writing the store it was taken from; the counts of
 * shared tiles are atomic, so the worker may also free it. tiles_to_bitmap
 * on a video bitmap runs on the thread that owns the display. */
#pragma once
#include <allegro5/allegro.h>
#include <stddef.h>
#include <stdint.h>

/* The tile side of every store the program makes: 1 << TILES_SHIFT pixels. */
#define TILES_SHIFT 6
#define TILES_SIZE (1 << TILES_SHIFT)
/* Sides a store can be made with (tiles_new_with), as powers of two. */
#define TILES_SHIFT_MIN 4
#define TILES_SHIFT_MAX 8
/* The largest canvas side a store accepts. */
#define TILES_MAX_SIDE 16384

/* Bytes per pixel of the two kinds of store. */
#define TILES_RGBA 4
#define TILES_COVERAGE 1

/* One tile: its count and its pixels; read through the functions below. */
typedef struct TILES_TILE TILES_TILE;

typedef struct TILES {
    int32_t width, height; /* canvas size in pixels */
    int32_t channels;      /* TILES_RGBA or TILES_COVERAGE */
    int32_t shift, side;   /* tile side, 1 << shift */
    int32_t tiles_x, tiles_y;
    TILES_TILE** tile;     /* tiles_x * tiles_y slots, row by row; null: transparent */
    uint64_t* changed;     /* per slot: the revision that last changed its pixels */
    uint64_t* row_changed; /* per row of slots: the newest of its slots' revisions */
    uint64_t revision;     /* raised once by every writer */
    size_t present;        /* slots holding a tile */
} TILES;

/* Called for a tile slot; `pixels` are the tile's side * side * channels
 * bytes (rows side * channels apart), null for an absent tile. Returning 0
 * stops the visit. */
typedef int (*TILES_VISIT)(void* user, int tx, int ty, const uint8_t* pixels);
/* Called for a slot whose pixels differ between two stores; either tile may
 * be null (transparent). */
typedef int (*TILES_DIFF_VISIT)(void* user, int tx, int ty, TILES_TILE* before, TILES_TILE* after);

/* An empty RGBA store of the program's tile side for a canvas of
 * width x height (1 to TILES_MAX_SIDE each); null on failure. */
TILES* tiles_new(int width, int height);
/* An empty store with `channels` bytes per pixel and tiles of 1 << shift. */
TILES* tiles_new_with(int width, int height, int channels, int shift);
/* Releases the store's tiles (kept by whoever else holds them) and the
 * store, and nulls the caller's pointer. */
void tiles_free(TILES** store);
/* Bytes the store holds: the record, its slot tables and its tiles (a tile
 * shared with another holder is counted by each). */
size_t tiles_bytes(const TILES* store);
/* Bytes of the tiles let go of and kept for reuse (up to 32 MiB in all), so
 * that strokes over empty layers do not fault in fresh memory per tile. */
size_t tiles_pool_bytes(void);
/* Gives the kept tiles back to the system. */
void tiles_pool_trim(void);
/* Bytes of one tile's pixels. */
size_t tiles_tile_bytes(const TILES* store);
/* The canvas rectangle of slot (tx, ty), clipped to the canvas; 0 outside. */
int tiles_tile_rect(const TILES* store, int tx, int ty, int* x, int* y, int* w, int* h);

/* The pixels of slot (tx, ty); null when the tile is absent or the slot is
 * outside the store. Valid until the store is next changed. */
const uint8_t* tiles_read_tile(const TILES* store, int tx, int ty);
/* The pixels of slot (tx, ty) for writing: a zeroed tile is made when it is
 * absent, and a shared one is copied first. The slot counts as changed.
 * Bytes past the canvas edge must be left zero. Null on failure (nothing
 * changes) or outside the store. */
uint8_t* tiles_write_tile(TILES* store, int tx, int ty);

/* Reads the canvas rectangle (x, y, w, h) into `out`, rows `stride` bytes
 * apart (negative for bottom-up rows); absent tiles and pixels off the
 * canvas read as zeros. */
int tiles_read_rect(const TILES* store, int x, int y, int w, int h, uint8_t* out, ptrdiff_t stride);
/* Writes the rectangle from `in`, clipped to the canvas. A tile that is
 * absent and would receive only zeros is not made; a tile that becomes
 * transparent stays until tiles_compact. On failure nothing changes. */
int tiles_write_rect(TILES* store, int x, int y, int w, int h, const uint8_t* in, ptrdiff_t stride);
/* Makes the rectangle transparent: tiles it covers whole are dropped, the
 * others zeroed where it covers them. On failure nothing changes. */
int tiles_clear_rect(TILES* store, int x, int y, int w, int h);
/* Drops every tile whose pixels are all zero; the picture does not change,
 * so no revision is raised. Returns the number dropped. */
int tiles_compact(TILES* store);

/* Makes the store the whole-canvas picture `pixels` (rows `stride` bytes
 * apart): tiles where the picture is transparent are dropped or never made.
 * On failure nothing changes. */
int tiles_import(TILES* store, const uint8_t* pixels, ptrdiff_t stride);
/* Reads the whole canvas into `pixels` (zeros where no tile is). */
int tiles_export(const TILES* store, uint8_t* pixels, ptrdiff_t stride);
/* Makes an RGBA store the picture of a bitmap of the canvas size (memory or
 * video), read in the RGBA byte order; an empty region makes no tile. */
int tiles_from_bitmap(TILES* store, ALLEGRO_BITMAP* bitmap);
/* Writes the canvas rectangle (x, y, w, h) of an RGBA store into the same
 * rectangle of a bitmap of the canvas size, transparent where no tile is. */
int tiles_to_bitmap(const TILES* store, ALLEGRO_BITMAP* bitmap, int x, int y, int w, int h);

/* Visits the present tiles touching the rectangle, row by row, left to
 * right. 1 when every tile was visited, 0 when a visit stopped it. */
int tiles_each(const TILES* store, int x, int y, int w, int h, TILES_VISIT visit, void* user);
/* The store's revision: what a consumer remembers to ask for changes later. */
uint64_t tiles_revision(const TILES* store);
/* Visits, row by row, every slot whose pixels changed after `revision`,
 * present or not (an absent one was cleared). 1 when all were visited. */
int tiles_changed_since(const TILES* store, uint64_t revision, TILES_VISIT visit, void* user);
/* Inclusive bounds of the pixels with non-zero alpha (coverage), found from
 * the present tiles alone; 0 when there are none. */
int tiles_content_box(const TILES* store, int* x0, int* y0, int* x1, int* y1);

/* A store that shares every tile of `store`, with its revisions; the store
 * copies a tile before its next change to it. Null on failure. */
TILES* tiles_snapshot(TILES* store);
/* Makes the store's tiles those of a snapshot of the same geometry (shared
 * again); slots whose pixels differ are stamped changed. Cannot fail on
 * memory. */
int tiles_restore(TILES* store, const TILES* snapshot);
/* Visits the slots whose pixels differ between two stores of the same
 * geometry (a shared tile is the same; an all-zero tile equals an absent
 * one), row by row. 1 when all were visited. */
int tiles_diff(const TILES* before, const TILES* after, TILES_DIFF_VISIT visit, void* user);

/* The tile in slot (tx, ty), borrowed; null when absent. */
TILES_TILE* tiles_tile_at(const TILES* store, int tx, int ty);
/* Takes another hold on a tile and returns it (null stays null). */
TILES_TILE* tiles_tile_ref(TILES_TILE* tile);
/* Lets go of a hold on a tile (the last frees it) and nulls the pointer. */
void tiles_tile_release(TILES_TILE** tile);
/* A tile's pixels, never to be written while another holds it. */
const uint8_t* tiles_tile_pixels(const TILES_TILE* tile);
/* Puts a held tile (or null: transparent) into slot (tx, ty), shared; the
 * tile must come from a store of the same kind and side. The slot counts as
 * changed when the tile differs from the one there. */
int tiles_put_tile(TILES* store, int tx, int ty, TILES_TILE* tile);
