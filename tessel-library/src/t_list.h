/* t_list: a doubly linked list of pointers, each with an optional destructor. */
#pragma once
#include <stddef.h>

typedef struct LIST_NODE {
    void* ptr;
    void (*destructor)(void* ptr);
    struct LIST_NODE* prev;
    struct LIST_NODE* next;
} LIST_NODE;

typedef struct LIST {
    size_t nb_items;
    size_t nb_max_items; /* 0: unlimited */
    LIST_NODE* start;
    LIST_NODE* end;
} LIST;

/* Creates an empty list holding at most `max` items (0: unlimited). */
LIST* new_generic_list(size_t max);
/* Appends a pointer with its destructor; fails with "list is full" at the maximum. */
int list_push(LIST* list, void* ptr, void (*destructor)(void* ptr));
/* Links a pointer with its destructor in front of `before` (null: at the
 * end); fails with "list is full" at the maximum. */
int list_insert_before(LIST* list, LIST_NODE* before, void* ptr, void (*destructor)(void* ptr));
/* Moves a node of the list in front of `before` (null: to the end); needs
 * no memory, so it cannot fail once its arguments are right. */
int list_move_before(LIST* list, LIST_NODE* node, LIST_NODE* before);
/* Removes the last node and returns its pointer without destroying it. */
void* list_pop_f(LIST* list);
/* Removes the first node and returns its pointer without destroying it. */
void* list_shift_f(LIST* list);
/* Unlinks one node and returns its pointer without destroying it. */
void* remove_list_node_f(LIST* list, LIST_NODE* node);
/* Destroys every pointer with its destructor and removes every node. */
int list_empty(LIST* list);
/* Empties and frees the list, nulling the caller's pointer. */
int list_destroy(LIST** list);
