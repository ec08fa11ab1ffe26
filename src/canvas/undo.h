/* undo: the document's history of pixel and layer-stack changes. */
#pragma once
#include <stddef.h>
#include <stdint.h>

typedef struct UNDO_SYSTEM {
    int32_t width, height; /* document size the tiles cover */
} UNDO_SYSTEM;

/* Creates an empty history for a document of this size. */
UNDO_SYSTEM* undo_new(int width, int height);
/* Frees the history and nulls the caller's pointer. */
void undo_free(UNDO_SYSTEM** undo);
