/* document: a fixed-size stack of layers over a paper colour and an optional
 * page template, with its undo history. */
#pragma once
#include <allegro5/allegro.h>
#include <stdint.h>

#include "canvas/layer.h"
#include "canvas/undo.h"
#include "t_list.h"

#define DOCUMENT_TEMPLATE_COUNT 25

typedef struct DOCUMENT {
    int32_t width, height;
    LIST* layers;        /* bottom first; owns its layers */
    LAYER* active_layer; /* borrowed from the list */
    ALLEGRO_COLOR background;
    UNDO_SYSTEM* undo;
    int32_t layer_counter;
    int32_t template_index; /* 0 "Blank", 1..24 a page template */
} DOCUMENT;

/* Memory a drawing of that size needs while it is open: each layer's
 * texture and memory copy, the stroke buffer, the composition caches and a
 * layer's worth of undo tiles. */
uint64_t document_memory_needed(int width, int height, int layers);
/* The memory a drawing may use: what the system has available less a
 * margin, lowered to PLUMARO_MAX_DOC_MB when that is set. */
uint64_t document_memory_budget(void);
/* 1 when a drawing of that size fits the budget; else 0, with what it
 * needs and what there is (either pointer may be null), and a log line. */
int document_memory_fits(int width, int height, int layers, uint64_t* needed, uint64_t* budget);

/* Creates an empty document; null on failure. */
DOCUMENT* document_new(int width, int height);
/* Frees the undo history, the layers and the record; nulls the pointer. */
void document_free(DOCUMENT** doc);
/* Adds a layer on top and makes it active; a null name gives "Layer %d". */
LAYER* document_add_layer(DOCUMENT* doc, const char* name);
/* Number of layers (0 without a document). */
int document_layer_count(const DOCUMENT* doc);
/* Layer at a 0-based index from the bottom, null past the top. */
LAYER* document_layer_at(const DOCUMENT* doc, int index);
/* Finds a layer's index by identity. */
int document_layer_index(const DOCUMENT* doc, const LAYER* layer, int* index);
/* Unlinks the layer at `index` without freeing it and returns it. */
LAYER* document_detach_layer(DOCUMENT* doc, int index);
/* Puts an existing layer into the stack at `index` (clamped to the top). */
int document_insert_layer(DOCUMENT* doc, LAYER* layer, int index);
/* Moves a layer from one index to another, keeping the active layer. */
int document_move_layer(DOCUMENT* doc, int from, int to);
/* Makes the video bitmaps that layers were created without (layer_make_bitmap). */
int document_make_bitmaps(DOCUMENT* doc);
/* Rebuilds every layer's video bitmap from its backup. */
int document_restore_all(DOCUMENT* doc);
