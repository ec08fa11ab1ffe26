/* palette: the five read-only colour palettes, up to sixteen custom ones
 * forked from them, and the "PPAL" file image that keeps the custom ones. */
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "t_str.h"

#define PALETTE_COLORS 8
#define PALETTE_BUILTIN 5
#define PALETTE_MAX_USER 16
#define PALETTE_NAME_SIZE 32
#define PALETTE_RECORD_SIZE 60
#define PALETTE_HEADER_SIZE 20

typedef struct PALETTE {
    char name[PALETTE_NAME_SIZE];        /* NUL-terminated, at most 31 characters */
    uint8_t colors[PALETTE_COLORS][3];   /* R, G, B */
    int base;                            /* built-in palette it descends from, -1 unknown */
} PALETTE;

typedef struct PALETTE_SET {
    PALETTE user[PALETTE_MAX_USER];
    int count;  /* custom palettes in use, the first `count` slots */
    int active; /* 0..4 built-in, 5.. custom (slot = active - 5) */
} PALETTE_SET;

/* No custom palettes, "Default" active. */
void palette_set_defaults(PALETTE_SET* set);
/* Number of built-in palettes (5). */
int palette_builtin_count(void);
/* Built-in plus custom palettes (5 for a null set). */
int palette_count(const PALETTE_SET* set);
/* Name of palette i ("" out of range). */
const char* palette_name(const PALETTE_SET* set, int i);
/* 1 when palette i is a custom one. */
int palette_is_user(const PALETTE_SET* set, int i);
/* The 8 colours of palette i; "Default" out of range. */
const uint8_t (*palette_colors(const PALETTE_SET* set, int i))[3];
/* The colours of the active palette, with the same fallback. */
const uint8_t (*palette_active_colors(const PALETTE_SET* set))[3];
/* Makes palette clamp(i, 0, count + 4) active. */
void palette_select(PALETTE_SET* set, int i);
/* Stores rgb into a swatch, forking a built-in palette first; the active index or -1. */
int palette_assign(PALETTE_SET* set, int slot, const uint8_t rgb[3]);
/* Forks the active palette into a new custom one; its index or -1. */
int palette_new_from_active(PALETTE_SET* set);
/* Gives a custom active palette its base palette's colours again. */
void palette_reset_active(PALETTE_SET* set);
/* Removes the active custom palette; 1 when one was removed. */
int palette_remove_active(PALETTE_SET* set);
/* Renames the active custom palette; 1 when renamed. */
int palette_rename_active(PALETTE_SET* set, const char* name);
/* Drops every custom palette and activates "Default". */
void palette_reset_all(PALETTE_SET* set);
/* The file image of the set; the caller frees it. */
T_STR* palette_serialize(const PALETTE_SET* set);
/* Replaces the set with a file image; 1 on success (the set may be empty). */
int palette_deserialize(PALETTE_SET* set, const void* data, size_t len);
/* Writes the file image to `path`, replacing the old file only when complete. */
int palette_save(const PALETTE_SET* set, const char* path);
/* Reads `path` into the set; 0 when it cannot be read or is rejected. */
int palette_load(PALETTE_SET* set, const char* path);
