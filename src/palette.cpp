/* palette: built-in and custom colour palettes and their file image. */
#include "palette.h"

#include <stdio.h>
#include <string.h>

#include "t_log.h"
#include "t_utf8.h"

#define PALETTE_FILE_READ_MAX 4096

typedef struct _BUILTIN {
    const char* name;
    uint32_t rgb[PALETTE_COLORS];
} _BUILTIN;

static const _BUILTIN _builtin_table[PALETTE_BUILTIN] = {
    {"Default", {0x282828, 0xFFFFFF, 0xD62D20, 0xFF8C1A, 0xFFD500, 0x009846, 0x0064C8, 0x883CB4}},
    {"Grayscale", {0x000000, 0x242424, 0x484848, 0x6C6C6C, 0x909090, 0xB4B4B4, 0xD8D8D8, 0xFFFFFF}},
    {"Warm", {0x3C1414, 0x781E1E, 0xC82828, 0xE65A1E, 0xF08C28, 0xFABE3C, 0xFFE196, 0x784628}},
    {"Cool", {0x0A143C, 0x143278, 0x1E64B4, 0x2896C8, 0x1EAAA0, 0x28B478, 0x785AC8, 0xC8D2FF}},
    {"Pastel", {0xFFB3BA, 0xFFDFBA, 0xFFFFBA, 0xBAFFC9, 0xBAE1FF, 0xC9BAFF, 0xFFBAF0, 0xDCDCDC}},
};

// The built-in colours as byte triples, made once.
static const uint8_t (*_builtin_colors(int i))[3] {
    static uint8_t table[PALETTE_BUILTIN][PALETTE_COLORS][3];
    static int ready = 0;
    if (!ready) {
        for (int p = 0; p < PALETTE_BUILTIN; p++)
            for (int c = 0; c < PALETTE_COLORS; c++) {
                uint32_t v = _builtin_table[p].rgb[c];
                table[p][c][0] = (uint8_t)(v >> 16);
                table[p][c][1] = (uint8_t)(v >> 8);
                table[p][c][2] = (uint8_t)v;
            }
        ready = 1;
    }
    return table[(i >= 0 && i < PALETTE_BUILTIN) ? i : 0];
}

void palette_set_defaults(PALETTE_SET* set) {
    __t_assert_void(set);
    memset(set, 0, sizeof(*set));
}

int palette_builtin_count(void) { return PALETTE_BUILTIN; }

int palette_count(const PALETTE_SET* set) { return set ? set->count + PALETTE_BUILTIN : PALETTE_BUILTIN; }

const char* palette_name(const PALETTE_SET* set, int i) {
    __t_assert_return(set, "");
    if (i >= 0 && i < PALETTE_BUILTIN) return _builtin_table[i].name;
    if (palette_is_user(set, i)) return set->user[i - PALETTE_BUILTIN].name;
    return "";
}

int palette_is_user(const PALETTE_SET* set, int i) {
    __t_assert(set);
    return i >= PALETTE_BUILTIN && i < set->count + PALETTE_BUILTIN;
}

const uint8_t (*palette_colors(const PALETTE_SET* set, int i))[3] {
    if (set && palette_is_user(set, i)) return set->user[i - PALETTE_BUILTIN].colors;
    return _builtin_colors(i);
}

const uint8_t (*palette_active_colors(const PALETTE_SET* set))[3] {
    return palette_colors(set, set ? set->active : 0);
}

void palette_select(PALETTE_SET* set, int i) {
    __t_assert_void(set);
    int top = set->count + PALETTE_BUILTIN - 1;
    set->active = i < 0 ? 0 : (i > top ? top : i);
}

// Fills the next free slot with a copy of `colors`; its combined index.
static int _palette_append(PALETTE_SET* set, const uint8_t (*colors)[3], int base) {
    if (set->count >= PALETTE_MAX_USER) return -1;
    PALETTE* p = &set->user[set->count];
    memset(p, 0, sizeof(*p));
    snprintf(p->name, sizeof(p->name), "Custom %d", set->count + 1);
    memcpy(p->colors, colors, sizeof(p->colors));
    p->base = base;
    set->count++;
    set->active = set->count - 1 + PALETTE_BUILTIN;
    return set->active;
}

int palette_assign(PALETTE_SET* set, int slot, const uint8_t rgb[3]) {
    __t_assert_return(set, -1);
    __t_assert_return(rgb, -1);
    if (slot < 0 || slot >= PALETTE_COLORS) return set->active;
    if (!palette_is_user(set, set->active)) {
        int base = (set->active >= 0 && set->active < PALETTE_BUILTIN) ? set->active : 0;
        if (_palette_append(set, _builtin_colors(base), base) < 0) return -1;
    }
    memcpy(set->user[set->active - PALETTE_BUILTIN].colors[slot], rgb, 3);
    return set->active;
}

int palette_new_from_active(PALETTE_SET* set) {
    __t_assert_return(set, -1);
    if (set->count >= PALETTE_MAX_USER) return -1;
    int base;
    uint8_t colors[PALETTE_COLORS][3];
    if (palette_is_user(set, set->active)) {
        base = set->user[set->active - PALETTE_BUILTIN].base;
        memcpy(colors, set->user[set->active - PALETTE_BUILTIN].colors, sizeof(colors));
    } else {
        base = (set->active >= 0 && set->active < PALETTE_BUILTIN) ? set->active : 0;
        memcpy(colors, _builtin_colors(base), sizeof(colors));
    }
    return _palette_append(set, colors, base);
}

void palette_reset_active(PALETTE_SET* set) {
    __t_assert_void(set);
    if (!palette_is_user(set, set->active)) return;
    PALETTE* p = &set->user[set->active - PALETTE_BUILTIN];
    memcpy(p->colors, _builtin_colors(p->base), sizeof(p->colors)); /* unknown base: "Default" */
}

int palette_remove_active(PALETTE_SET* set) {
    __t_assert(set);
    if (!palette_is_user(set, set->active)) return 0;
    int slot = set->active - PALETTE_BUILTIN;
    int base = set->user[slot].base;
    memmove(&set->user[slot], &set->user[slot + 1], sizeof(PALETTE) * (size_t)(set->count - slot - 1));
    set->count--;
    memset(&set->user[set->count], 0, sizeof(PALETTE));
    set->active = (base >= 0 && base < PALETTE_BUILTIN) ? base : 0;
    return 1;
}

int palette_rename_active(PALETTE_SET* set, const char* name) {
    __t_assert(set);
    __t_assert(name);
    if (!palette_is_user(set, set->active)) return 0;
    PALETTE* p = &set->user[set->active - PALETTE_BUILTIN];
    if (!name[0]) {
        snprintf(p->name, sizeof(p->name), "Custom %d", set->active - PALETTE_BUILTIN + 1);
        return 1;
    }
    memset(p->name, 0, sizeof(p->name));
    t_utf8_copy(p->name, sizeof(p->name), name); /* a long name loses whole characters */
    return 1;
}

void palette_reset_all(PALETTE_SET* set) {
    __t_assert_void(set);
    set->count = 0;
    set->active = 0;
}

// Stores v little-endian at p.
static void _palette_wr32(uint8_t* p, uint32_t v) {
    p[0] = (uint8_t)v;
    p[1] = (uint8_t)(v >> 8);
    p[2] = (uint8_t)(v >> 16);
    p[3] = (uint8_t)(v >> 24);
}

// Little-endian 32-bit value at p.
static uint32_t _palette_rd32(const uint8_t* p) {
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

T_STR* palette_serialize(const PALETTE_SET* set) {
    __t_assert_null(set);
    int count = set->count < 0 ? 0 : (set->count > PALETTE_MAX_USER ? PALETTE_MAX_USER : set->count);
    size_t size = PALETTE_HEADER_SIZE + (size_t)PALETTE_RECORD_SIZE * (size_t)count;
    T_STR* out = t_str_new(size + 1);
    if (!out) return NULL;
    uint8_t* d = (uint8_t*)out->data;
    memset(d, 0, size + 1);
    int custom = set->active > PALETTE_BUILTIN - 1;
    memcpy(d, "PPAL", 4);
    _palette_wr32(d + 4, 1);
    _palette_wr32(d + 8, custom ? 1u : 0u);
    _palette_wr32(d + 12, (uint32_t)(custom ? set->active - PALETTE_BUILTIN : set->active));
    _palette_wr32(d + 16, (uint32_t)count);
    for (int i = 0; i < count; i++) {
        uint8_t* r = d + PALETTE_HEADER_SIZE + (size_t)PALETTE_RECORD_SIZE * (size_t)i;
        memcpy(r, set->user[i].name, PALETTE_NAME_SIZE);
        _palette_wr32(r + 32, (uint32_t)(set->user[i].base < 0 ? -1 : set->user[i].base));
        memcpy(r + 36, set->user[i].colors, 24);
    }
    out->length = size;
    return out;
}

int palette_deserialize(PALETTE_SET* set, const void* data, size_t len) {
    __t_assert(set);
    memset(set, 0, sizeof(*set));
    const uint8_t* d = (const uint8_t*)data;
    if (!d || len < PALETTE_HEADER_SIZE || memcmp(d, "PPAL", 4) || _palette_rd32(d + 4) != 1) return 0;
    int custom = _palette_rd32(d + 8) != 0;
    int32_t index = (int32_t)_palette_rd32(d + 12);
    uint32_t stored = _palette_rd32(d + 16);
    int want = stored > PALETTE_MAX_USER ? PALETTE_MAX_USER : (int)stored;
    int read = 0;
    for (; read < want; read++) {
        size_t at = PALETTE_HEADER_SIZE + (size_t)PALETTE_RECORD_SIZE * (size_t)read;
        if (len - at < PALETTE_RECORD_SIZE || at > len) break; /* only whole records count */
        PALETTE* p = &set->user[read];
        /* The name is shown: it is read as well-formed UTF-8. */
        char name[PALETTE_NAME_SIZE];
        memcpy(name, d + at, PALETTE_NAME_SIZE);
        name[PALETTE_NAME_SIZE - 1] = 0;
        t_utf8_copy(p->name, sizeof(p->name), name);
        int32_t base = (int32_t)_palette_rd32(d + at + 32);
        p->base = (base >= 0 && base < PALETTE_BUILTIN) ? base : -1;
        memcpy(p->colors, d + at + 36, 24);
    }
    set->count = read;
    /* A negative stored index would select nothing valid: treat it as the first. */
    if (index < 0) index = 0;
    if (custom) set->active = read == 0 ? 0 : (index < read - 1 ? index : read - 1) + PALETTE_BUILTIN;
    else set->active = index < PALETTE_BUILTIN - 1 ? index : PALETTE_BUILTIN - 1;
    return 1;
}

int palette_save(const PALETTE_SET* set, const char* path) {
    __t_assert(set);
    __t_assert(path);
    T_STR* image = palette_serialize(set);
    if (!image) return 0;
    int ok = t_file_write_atomic(path, image->data, image->length);
    t_str_free(&image);
    return ok;
}

int palette_load(PALETTE_SET* set, const char* path) {
    __t_assert(set);
    __t_assert(path);
    T_STR* bytes = t_str_read_file(path);
    if (!bytes) return 0;
    size_t len = bytes->length < PALETTE_FILE_READ_MAX ? bytes->length : PALETTE_FILE_READ_MAX;
    int ok = palette_deserialize(set, bytes->data, len);
    t_str_free(&bytes);
    return ok;
}
