/* document_kinds: the table of file kinds, how each is told from its first
 * bytes, and the opening of a file of any of them. */
#include "canvas/document_kinds.h"

#include <stdio.h>
#include <string.h>
#include <strings.h>

#include "canvas/document_exchange.h"
#include "canvas/document_io.h"
#include "t_log.h"
#include "t_str.h"

// 1 when `name` ends in `ext`, any case.
static int _ends_with(const char* name, const char* ext) {
    size_t len = name ? strlen(name) : 0, n = strlen(ext);
    return len >= n && strcasecmp(name + len - n, ext) == 0;
}

// The program's own drawings start with "PLM" and their version digit.
static int _sniff_plm(const uint8_t* head, size_t n, const char*) { return n >= 4 && memcmp(head, "PLM", 3) == 0; }

// An archive, or anything named ".ora", is read as OpenRaster so that a
// damaged one is told as such.
static int _sniff_ora(const uint8_t* head, size_t n, const char* path) {
    return (n >= 4 && memcmp(head, "PK\x03\x04", 4) == 0) || (n > 0 && _ends_with(path, ".ora"));
}

// PNG, BMP and JPEG by their signatures; TGA has none, so by its name.
static int _sniff_image(const uint8_t* head, size_t n, const char* path) {
    return (n >= 4 && memcmp(head, "\x89PNG", 4) == 0) || (n >= 2 && head[0] == 'B' && head[1] == 'M') ||
           (n >= 2 && head[0] == 0xFF && head[1] == 0xD8) || (n > 0 && _ends_with(path, ".tga"));
}

static const char* const _plm_extensions[] = {".plm", NULL};
static const char* const _ora_extensions[] = {".ora", NULL};
static const char* const _image_extensions[] = {".png", ".jpg", ".jpeg", ".bmp", ".tga", NULL};

/* In DOCUMENT_KIND order, which is also the order the first bytes are tried in. */
static const DOCUMENT_FILE_KIND _kinds[] = {
    {DOCUMENT_KIND_PLM, _plm_extensions, "application/octet-stream", _sniff_plm, document_load, document_save},
    {DOCUMENT_KIND_ORA, _ora_extensions, DOCUMENT_ORA_MIME_TYPE, _sniff_ora, document_load_ora, document_save_ora},
    {DOCUMENT_KIND_IMAGE, _image_extensions, NULL, _sniff_image, document_load_image, NULL},
};

#define _KIND_COUNT ((int)(sizeof(_kinds) / sizeof(_kinds[0])))

const DOCUMENT_FILE_KIND* document_kind(int kind) {
    for (int i = 0; i < _KIND_COUNT; i++)
        if (_kinds[i].kind == kind) return &_kinds[i];
    return NULL;
}

size_t document_kind_extension(const char* name, const DOCUMENT_FILE_KIND** kind) {
    __t_assert_return(name, 0);
    for (int i = 0; i < _KIND_COUNT; i++)
        for (const char* const* ext = _kinds[i].extensions; *ext; ext++)
            if (_ends_with(name, *ext)) {
                if (kind) *kind = &_kinds[i];
                return strlen(*ext);
            }
    return 0;
}

const DOCUMENT_FILE_KIND* document_kind_for_save(const char* path, size_t* extension) {
    const DOCUMENT_FILE_KIND* kind = NULL;
    size_t n = path ? document_kind_extension(path, &kind) : 0;
    if (!n || !kind->save) {
        kind = &_kinds[0];
        n = 0;
    }
    if (extension) *extension = n;
    return kind;
}

int document_kind_patterns(int saving, char* out, size_t size) {
    __t_assert(out);
    __t_assert(size > 0);
    out[0] = 0;
    size_t used = 0;
    for (int i = 0; i < _KIND_COUNT; i++) {
        if (saving && !_kinds[i].save) continue;
        for (const char* const* ext = _kinds[i].extensions; *ext; ext++) {
            int n = snprintf(out + used, size - used, "%s*%s", used ? ";" : "", *ext);
            if (n < 0 || (size_t)n >= size - used) {
                out[0] = 0;
                return 0;
            }
            used += (size_t)n;
        }
    }
    return 1;
}

static int _last_kind = DOCUMENT_KIND_PLM;

int document_last_load_kind(void) { return _last_kind; }

DOCUMENT* document_load_any(const char* path) {
    __t_assert_null(path);
    uint8_t head[8] = {0};
    FILE* f = t_file_open_read(path);
    size_t n = f ? fread(head, 1, sizeof(head), f) : 0;
    if (f) fclose(f);
    for (int i = 0; i < _KIND_COUNT; i++)
        if (_kinds[i].sniff(head, n, path)) {
            _last_kind = _kinds[i].kind;
            return _kinds[i].load(path);
        }
    /* Nothing it is known by: the drawing reader says what is wrong with it. */
    _last_kind = _kinds[0].kind;
    return _kinds[0].load(path);
}
