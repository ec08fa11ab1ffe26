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
    return undo;
}

void undo_free(UNDO_SYSTEM** undo) {
    __t_assert_void(undo);
    if (!*undo) {
        t_log(LOG_DEBUG, "Free( %s ) already done or NULL at line %d of %s", "*undo", __LINE__, __FILE__);
        return;
    }
    Free(*undo);
}
