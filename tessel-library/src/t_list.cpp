/* t_list: doubly linked list used for the layer stack and undo history. */
#include "t_list.h"

#include "t_log.h"

// Links a free node in front of `before` (null: at the end).
static void _list_link(LIST* list, LIST_NODE* node, LIST_NODE* before) {
    node->next = before;
    node->prev = before ? before->prev : list->end;
    if (node->prev)
        node->prev->next = node;
    else
        list->start = node;
    if (before)
        before->prev = node;
    else
        list->end = node;
}

// Takes a node out of the chain without freeing it.
static void _list_unlink(LIST* list, LIST_NODE* node) {
    if (node->prev)
        node->prev->next = node->next;
    else
        list->start = node->next;
    if (node->next)
        node->next->prev = node->prev;
    else
        list->end = node->prev;
    node->prev = node->next = NULL;
}

LIST* new_generic_list(size_t max) {
    LIST* list = NULL;
    Malloc(list, LIST, 1, return NULL);
    list->nb_max_items = max;
    return list;
}

int list_push(LIST* list, void* ptr, void (*destructor)(void* ptr)) {
    return list_insert_before(list, NULL, ptr, destructor);
}

int list_insert_before(LIST* list, LIST_NODE* before, void* ptr, void (*destructor)(void* ptr)) {
    __t_assert(list);
    if (list->nb_max_items != 0 && list->nb_items >= list->nb_max_items) {
        t_log(LOG_ERR, "list is full");
        return 0;
    }
    LIST_NODE* node = NULL;
    Malloc(node, LIST_NODE, 1, return 0);
    node->ptr = ptr;
    node->destructor = destructor;
    _list_link(list, node, before);
    list->nb_items++;
    return 1;
}

int list_move_before(LIST* list, LIST_NODE* node, LIST_NODE* before) {
    __t_assert(list);
    __t_assert(node);
    if (node == before) return 1;
    _list_unlink(list, node);
    _list_link(list, node, before);
    return 1;
}

void* remove_list_node_f(LIST* list, LIST_NODE* node) {
    __t_assert_null(list);
    __t_assert_null(node);
    _list_unlink(list, node);
    void* ptr = node->ptr;
    free(node);
    list->nb_items--;
    return ptr;
}

void* list_pop_f(LIST* list) {
    __t_assert_null(list);
    if (!list->end) return NULL;
    return remove_list_node_f(list, list->end);
}

void* list_shift_f(LIST* list) {
    __t_assert_null(list);
    if (!list->start) return NULL;
    return remove_list_node_f(list, list->start);
}

int list_empty(LIST* list) {
    __t_assert(list);
    LIST_NODE* node = list->start;
    while (node) {
        LIST_NODE* next = node->next;
        if (node->destructor && node->ptr) node->destructor(node->ptr);
        free(node);
        node = next;
    }
    list->start = list->end = NULL;
    list->nb_items = 0;
    return 1;
}

int list_destroy(LIST** list) {
    __t_assert(list);
    if (!*list) {
        t_log(LOG_DEBUG, "Free( %s ) already done or NULL at line %d of %s", "*list", __LINE__, __FILE__);
        return 0;
    }
    list_empty(*list);
    free(*list);
    *list = NULL;
    return 1;
}
