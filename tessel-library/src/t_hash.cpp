/* t_hash: separate chaining over FNV-1a hashes of the keys. */
#include "t_hash.h"

#include <stdint.h>

#include "t_log.h"

static size_t _ht_index(const HASH_TABLE* table, const char* key) {
    uint64_t hash = 1469598103934665603ULL;
    for (const unsigned char* p = (const unsigned char*)key; *p; p++) {
        hash ^= *p;
        hash *= 1099511628211ULL;
    }
    return (size_t)(hash % table->size);
}

HASH_TABLE* new_ht(size_t size) {
    if (size < 1) {
        t_log(LOG_ERR, "invalid hash table size %zu", size);
        return NULL;
    }
    HASH_TABLE* table = NULL;
    Malloc(table, HASH_TABLE, 1, return NULL);
    Malloc(table->buckets, HASH_NODE*, size, free(table); return NULL);
    table->size = size;
    return table;
}

int ht_put_ptr(HASH_TABLE* table, const char* key, void* ptr, void (*destructor)(void* ptr)) {
    __t_assert(table);
    __t_assert(key);
    size_t index = _ht_index(table, key);
    for (HASH_NODE* node = table->buckets[index]; node; node = node->next) {
        if (strcmp(node->key, key) == 0) {
            if (node->destructor && node->ptr && node->ptr != ptr) node->destructor(node->ptr);
            node->ptr = ptr;
            node->destructor = destructor;
            return 1;
        }
    }
    HASH_NODE* node = NULL;
    Malloc(node, HASH_NODE, 1, return 0);
    node->key = strdup(key);
    if (!node->key) {
        t_log_alloc_failure(node->key, strlen(key) + 1, char);
        free(node);
        return 0;
    }
    node->ptr = ptr;
    node->destructor = destructor;
    node->next = table->buckets[index];
    table->buckets[index] = node;
    table->nb_keys++;
    return 1;
}

int ht_get_ptr(HASH_TABLE* table, const char* key, void** ptr) {
    __t_assert(table);
    __t_assert(key);
    for (HASH_NODE* node = table->buckets[_ht_index(table, key)]; node; node = node->next) {
        if (strcmp(node->key, key) == 0) {
            if (ptr) *ptr = node->ptr;
            return 1;
        }
    }
    return 0;
}

int ht_del_ptr(HASH_TABLE* table, const char* key) {
    __t_assert(table);
    __t_assert(key);
    HASH_NODE** link = &table->buckets[_ht_index(table, key)];
    while (*link) {
        HASH_NODE* node = *link;
        if (strcmp(node->key, key) == 0) {
            *link = node->next;
            if (node->destructor && node->ptr) node->destructor(node->ptr);
            free(node->key);
            free(node);
            table->nb_keys--;
            return 1;
        }
        link = &node->next;
    }
    return 0;
}

int empty_ht(HASH_TABLE* table) {
    __t_assert(table);
    for (size_t i = 0; i < table->size; i++) {
        HASH_NODE* node = table->buckets[i];
        while (node) {
            HASH_NODE* next = node->next;
            if (node->destructor && node->ptr) node->destructor(node->ptr);
            free(node->key);
            free(node);
            node = next;
        }
        table->buckets[i] = NULL;
    }
    table->nb_keys = 0;
    return 1;
}

int destroy_ht(HASH_TABLE** table) {
    __t_assert(table);
    if (!*table) {
        t_log(LOG_DEBUG, "Free( %s ) already done or NULL at line %d of %s", "*table", __LINE__, __FILE__);
        return 0;
    }
    empty_ht(*table);
    free((*table)->buckets);
    free(*table);
    *table = NULL;
    return 1;
}
