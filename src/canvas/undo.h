/* undo: the document's history of pixel changes (in 256 x 256 tiles) and of
 * layer-stack changes. */
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "t_list.h"

#define UNDO_TILE_SIZE 256
#define UNDO_MAX_DEPTH 30
/* Default memory budget of the history, in MiB; PLUMARO_UNDO_MB overrides it. */
#define UNDO_DEFAULT_BUDGET_MB 2048

#define UNDO_KIND_PIXELS 0
#define UNDO_KIND_LAYER_ADD 1
#define UNDO_KIND_LAYER_REMOVE 2
#define UNDO_KIND_LAYER_MOVE 3

struct LAYER;
struct DOCUMENT;

typedef struct UNDO_TILE {
    int32_t x, y, w, h;
    uint8_t* before; /* w * h * 4 bytes, rows packed; owned */
    uint8_t* after;  /* null until the record is first undone; owned */
} UNDO_TILE;

typedef struct UNDO_RECORD {
    int32_t kind;
    struct LAYER* layer;
    uint8_t owns_layer;
    LIST* tiles; /* of UNDO_TILE; kind 0 only */
    size_t index;
    size_t index_to;
} UNDO_RECORD;

typedef struct UNDO_SYSTEM {
    LIST* undo_stack; /* oldest first */
    LIST* redo_stack; /* newest undone last */
    size_t max_depth;
    uint8_t open;
    struct LAYER* layer; /* borrowed while open */
    uint8_t* dirty;      /* one byte per tile */
    int32_t tiles_x, tiles_y;
    int32_t width, height;
    size_t bytes;     /* pixel memory held by both stacks */
    size_t max_bytes; /* budget; the newest record is kept even above it */
    uint64_t revision; /* changes recorded, undone or redone so far */
} UNDO_SYSTEM;

/* A new empty history for a document of that size. */
UNDO_SYSTEM* undo_new(int width, int height);
/* Frees the history with every record and the layers it holds. */
void undo_free(UNDO_SYSTEM** undo);
/* Opens a pixel change on the active layer; 0 when one is already open. */
int undo_begin(struct DOCUMENT* doc);
/* Marks the tiles a disc of the open change touches. */
void undo_mark_dirty(struct DOCUMENT* doc, float x, float y, float radius);
/* Marks the tiles a canvas rectangle of the open change touches. */
void undo_mark_dirty_rect(struct DOCUMENT* doc, float x0, float y0, float x1, float y1);
/* Closes the open change: stores the marked tiles' old pixels and updates the backup from `pixels` or the layer. */
int _undo_commit(struct DOCUMENT* doc, const uint8_t* pixels, int width, int height);
/* Closes the open change without recording it, leaving the layer as it is now. */
void undo_abort(struct DOCUMENT* doc);
/* Closes the open change and puts the marked tiles back from the backup,
 * undoing what was drawn; 0 when that failed (the layer is then rebuilt
 * from its backup before it is next drawn). */
int undo_revert(struct DOCUMENT* doc);
/* Records that `layer` was added at `index`. */
int undo_record_layer_add(struct DOCUMENT* doc, struct LAYER* layer, size_t index);
/* Records that `layer` was removed from `index`; the record owns it from now on. */
int undo_record_layer_remove(struct DOCUMENT* doc, struct LAYER* layer, size_t index);
/* Records that the layer at `from` was moved to `to`. */
int undo_record_layer_move(struct DOCUMENT* doc, size_t from, size_t to);
/* Undoes the newest change; 0 with nothing to undo or a change open. */
int undo_perform(struct DOCUMENT* doc);
/* Redoes the newest undone change; 0 with nothing to redo or a change open. */
int redo_perform(struct DOCUMENT* doc);
/* Receives what low memory cost the history, as an English text to show
 * the user; null removes the hook. */
typedef void (*UNDO_NOTICE_HOOK)(const char* text, void* user);
void undo_set_notice_hook(UNDO_NOTICE_HOOK hook, void* user);
/* Bytes of pixel memory the history holds (tile buffers and removed layers). */
size_t undo_bytes(const struct DOCUMENT* doc);
