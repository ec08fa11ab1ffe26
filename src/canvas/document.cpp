/* document: the layer stack and its operations. */
#include "canvas/document.h"
#include "canvas/document_internal.h"

#include <stdio.h>
#include <stdlib.h>

#include "platform/platform.h"
#include "t_log.h"

/* Kept free for the program itself, its fonts, the interface and the driver. */
#define DOCUMENT_MEMORY_MARGIN ((uint64_t)256 << 20)

uint64_t document_memory_needed(int width, int height, int layers) {
    if (width <= 0 || height <= 0 || layers < 0) return 0;
    uint64_t canvas = (uint64_t)width * (uint64_t)height * 4u;
    /* texture + memory copy per layer; the stroke buffer, two composition
     * caches and the undo tiles of one full change besides */
    return canvas * (2u * (uint64_t)layers + 4u);
}

uint64_t document_memory_budget(void) {
    uint64_t available = platform_memory_available();
    uint64_t budget = available > DOCUMENT_MEMORY_MARGIN ? available - DOCUMENT_MEMORY_MARGIN : 0;
    if (!available) budget = UINT64_MAX; /* nothing known: let the allocations decide */
    const char* cap = getenv("PLUMARO_MAX_DOC_MB");
    if (cap && *cap) {
        char* end = NULL;
        unsigned long long mb = strtoull(cap, &end, 10);
        if (end && end != cap && *end == 0) {
            uint64_t limit = (uint64_t)mb << 20;
            if (limit < budget) budget = limit;
        } else {
            t_log(LOG_WARNING, "PLUMARO_MAX_DOC_MB=%s is not a number of MiB; ignored", cap);
        }
    }
    return budget;
}

int document_memory_fits(int width, int height, int layers, uint64_t* needed, uint64_t* budget) {
    uint64_t need = document_memory_needed(width, height, layers), have = document_memory_budget();
    if (needed) *needed = need;
    if (budget) *budget = have;
    if (need <= have) return 1;
    t_log(LOG_ERR, "not enough memory for a %dx%d drawing with %d layers (%llu MiB needed, %llu MiB available)", width,
          height, layers, (unsigned long long)(need >> 20), (unsigned long long)(have >> 20));
    return 0;
}

static DOCUMENT_NEW_HOOK _document_new_hook = NULL;
static void* _document_new_hook_user = NULL;

void document_set_new_hook(DOCUMENT_NEW_HOOK hook, void* user) {
    _document_new_hook = hook;
    _document_new_hook_user = user;
}

DOCUMENT* document_new(int width, int height) {
    if (width <= 0 || height <= 0) {
        t_log(LOG_ERR, "bad document size %dx%d", width, height);
        return NULL;
    }
    if (_document_new_hook && !_document_new_hook(width, height, _document_new_hook_user)) {
        t_log(LOG_ERR, "could not allocate a %dx%d document", width, height);
        return NULL;
    }
    DOCUMENT* doc = NULL;
    Malloc(doc, DOCUMENT, 1, return NULL);
    doc->width = width;
    doc->height = height;
    doc->background = al_map_rgb(255, 255, 255);
    doc->active_layer = NULL;
    doc->layer_counter = 0;
    doc->template_index = 0;
    doc->layers = new_generic_list(0);
    doc->undo = undo_new(width, height);
    if (!doc->layers || !doc->undo) {
        t_log(LOG_ERR, "could not create layer list or undo system");
        if (doc->layers) list_destroy(&doc->layers);
        if (doc->undo) undo_free(&doc->undo);
        free(doc);
        return NULL;
    }
    return doc;
}

void document_free(DOCUMENT** doc) {
    __t_assert_void(doc);
    if (!*doc) {
        t_log(LOG_DEBUG, "Free( %s ) already done or NULL at line %d of %s", "*doc", __LINE__, __FILE__);
        return;
    }
    DOCUMENT* d = *doc;
    if (d->undo) undo_free(&d->undo);
    if (d->layers) list_destroy(&d->layers);
    free(d);
    *doc = NULL;
}

LAYER* document_add_layer(DOCUMENT* doc, const char* name) {
    __t_assert_null(doc);
    __t_assert_null(doc->layers);
    doc->layer_counter++;
    char fallback[64];
    if (!name) {
        snprintf(fallback, sizeof(fallback), "Layer %d", doc->layer_counter);
        name = fallback;
    }
    LAYER* layer = layer_new(name, doc->width, doc->height);
    if (!layer) return NULL;
    if (!list_push(doc->layers, layer, layer_destroy)) {
        t_log(LOG_ERR, "could not push layer %s", name);
        layer_free(&layer);
        return NULL;
    }
    doc->active_layer = layer;
    t_log(LOG_INFO, "added layer %s (%dx%d)", name, doc->width, doc->height);
    return layer;
}

int document_layer_count(const DOCUMENT* doc) {
    if (!doc || !doc->layers) return 0;
    return (int)doc->layers->nb_items;
}

// Node at a 0-based index from the bottom, null past the top.
static LIST_NODE* _document_node_at(const DOCUMENT* doc, int index) {
    if (!doc || !doc->layers || index < 0) return NULL;
    LIST_NODE* node = doc->layers->start;
    for (int i = 0; node && i < index; i++) node = node->next;
    return node;
}

LAYER* document_layer_at(const DOCUMENT* doc, int index) {
    __t_assert_null(doc);
    LIST_NODE* node = _document_node_at(doc, index);
    return node ? (LAYER*)node->ptr : NULL;
}

int document_layer_index(const DOCUMENT* doc, const LAYER* layer, int* index) {
    __t_assert(doc);
    __t_assert(doc->layers);
    __t_assert(layer);
    int i = 0;
    for (LIST_NODE* node = doc->layers->start; node; node = node->next, i++) {
        if (node->ptr == layer) {
            if (index) *index = i;
            return 1;
        }
    }
    return 0;
}

LAYER* document_detach_layer(DOCUMENT* doc, int index) {
    __t_assert_null(doc);
    __t_assert_null(doc->layers);
    LIST_NODE* node = _document_node_at(doc, index);
    LAYER* detached = node ? (LAYER*)node->ptr : NULL;
    __t_assert_null(detached);
    remove_list_node_f(doc->layers, node);
    if (doc->active_layer == detached) {
        int count = document_layer_count(doc);
        doc->active_layer = count > 0 ? document_layer_at(doc, index < count - 1 ? index : count - 1) : NULL;
    }
    return detached;
}

int document_insert_layer(DOCUMENT* doc, LAYER* layer, int index) {
    __t_assert(doc);
    __t_assert(doc->layers);
    __t_assert(layer);
    size_t count = doc->layers->nb_items;
    size_t at = index < 0 ? 0 : ((size_t)index < count ? (size_t)index : count);
    /* Linked in place: the layers above it keep their order and nothing is
     * lifted off, so any depth works; undoing the deletion of a layer under
     * a tall stack is never refused. */
    return list_insert_before(doc->layers, _document_node_at(doc, (int)at), layer, layer_destroy);
}

int document_move_layer(DOCUMENT* doc, int from, int to) {
    __t_assert(doc);
    __t_assert(doc->layers);
    int count = document_layer_count(doc);
    if (from < 0 || to < 0 || from >= count || to >= count || from == to) return 0;
    /* The node is relinked where it belongs rather than detached and
     * inserted: nothing is allocated, so nothing can fail and lose the
     * layer, and the active layer stays the same layer. */
    LIST_NODE* node = _document_node_at(doc, from);
    LIST_NODE* target = _document_node_at(doc, to);
    return list_move_before(doc->layers, node, to < from ? target : target->next);
}

int document_restore_all(DOCUMENT* doc) {
    __t_assert(doc);
    __t_assert(doc->layers);
    int ok = 1;
    for (LIST_NODE* node = doc->layers->start; node; node = node->next)
        if (!layer_restore((LAYER*)node->ptr)) ok = 0;
    return ok;
}

int document_make_bitmaps(DOCUMENT* doc) {
    __t_assert(doc);
    __t_assert(doc->layers);
    int ok = 1;
    for (LIST_NODE* node = doc->layers->start; node; node = node->next)
        if (!layer_make_bitmap((LAYER*)node->ptr)) ok = 0;
    return ok;
}
