/* t_hash: a string-keyed table of pointers with a fixed number of buckets. */
#pragma once
#include <stddef.h>

typedef struct HASH_NODE {
    char* key;
    void* ptr;
    void (*destructor)(void* ptr);
    struct HASH_NODE* next;
} HASH_NODE;

typedef struct HASH_TABLE {
    size_t size;     /* number of buckets */
    size_t nb_keys;  /* entries stored */
    HASH_NODE** buckets;
} HASH_TABLE;

/* Creates a table with `size` buckets (at least 1). */
HASH_TABLE* new_ht(size_t size);
/* Inserts or replaces the pointer under `key`; a replaced pointer is destroyed. */
int ht_put_ptr(HASH_TABLE* table, const char* key, void* ptr, void (*destructor)(void* ptr));
/* Returns 1 and the pointer in *ptr when `key` is present, else 0. */
int ht_get_ptr(HASH_TABLE* table, const char* key, void** ptr);
/* Removes and destroys the entry under `key`; 1 when it existed. */
int ht_del_ptr(HASH_TABLE* table, const char* key);
/* Destroys every entry. */
int empty_ht(HASH_TABLE* table);
/* Empties and frees the table, nulling the caller's pointer. */
int destroy_ht(HASH_TABLE** table);
