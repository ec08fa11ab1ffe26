/* undo: per-document history. */
#include "canvas/undo.h"

#include "t_log.h"

UNDO_SYSTEM* undo_new(int width, int height) {
    if (width <= 0 || height <= 0) {
        t_log(LOG_ERR, "bad undo size %dx%d", width, height);
        return NULL;
    }
    UNDO_SYSTEM* undo = NULL;
    Malloc(undo, UNDO_SYSTEM, 1, return NULL);
    undo->width = width;
    undo->height = height;
    undo->max_depth = UNDO_MAX_DEPTH;
    undo->tiles_x = (width + UNDO_TILE_SIZE - 1) / UNDO_TILE_SIZE;
    undo->tiles_y = (height + UNDO_TILE_SIZE - 1) / UNDO_TILE_SIZE;
    undo->undo_stack = new_generic_list(0);
    undo->redo_stack = new_generic_list(0);
    if (undo->undo_stack && undo->redo_stack)
        Malloc(undo->dirty, uint8_t, (size_t)undo->tiles_x * (size_t)undo->tiles_y, );
    if (!undo->undo_stack || !undo->redo_stack || !undo->dirty) {
        t_log(LOG_ERR, "could not allocate undo system");
        if (undo->undo_stack) list_destroy(&undo->undo_stack);
        if (undo->redo_stack) list_destroy(&undo->redo_stack);
        free(undo->dirty);
        free(undo);
        return NULL;
    }
    return undo;
}

void undo_free(UNDO_SYSTEM** undo) {
    __t_assert_void(undo);
    if (!*undo) {
        t_log(LOG_DEBUG, "Free( %s ) already done or NULL at line %d of %s", "*undo", __LINE__, __FILE__);
        return;
    }
    UNDO_SYSTEM* u = *undo;
    if (u->undo_stack) list_destroy(&u->undo_stack);
    if (u->redo_stack) list_destroy(&u->redo_stack);
    free(u->dirty);
    free(u);
    *undo = NULL;
}
