/* document_kinds: the kinds of file that open as a drawing (the program's
 * own drawings, OpenRaster archives, pictures), one row each. The loader,
 * the save's choice of format, the file choosers and the list of saved
 * drawings read them from here. */
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "canvas/document.h"

/* What document_load_any found a file to be; also the rows' order. */
typedef enum DOCUMENT_KIND { DOCUMENT_KIND_PLM, DOCUMENT_KIND_ORA, DOCUMENT_KIND_IMAGE } DOCUMENT_KIND;

typedef struct DOCUMENT_FILE_KIND {
    int kind; /* DOCUMENT_KIND */
    /* Lower case, null-terminated; a save adds the first to a name without
     * one, and the choosers show "*" before each. */
    const char* const* extensions;
    const char* mime_type; /* told to the platform when a save is published; null for kinds never saved */
    /* 1 when the file's first bytes (up to 8, `length` of them read) or its
     * name say it is of this kind. */
    int (*sniff)(const uint8_t* head, size_t length, const char* path);
    DOCUMENT* (*load)(const char* path);
    /* Null for a kind the program never writes: an opened picture is not
     * overwritten by a drawing. */
    int (*save)(DOCUMENT* doc, const char* path);
} DOCUMENT_FILE_KIND;

/* The row of a kind; null when there is none. */
const DOCUMENT_FILE_KIND* document_kind(int kind);
/* The length of the extension of a kind that ends `name` (any case; the
 * name may be only the extension), 0 for none; its row in *kind when asked. */
size_t document_kind_extension(const char* name, const DOCUMENT_FILE_KIND** kind);
/* The kind a save to `path` writes: the saved kind its extension names,
 * else the program's own drawing; the length of that extension (0 when
 * none was named) in *extension when asked. */
const DOCUMENT_FILE_KIND* document_kind_for_save(const char* path, size_t* extension);
/* The file chooser's patterns ("*.plm;*.ora;...") of the kinds that open,
 * or of those that save; 1 when they fit in `out`. */
int document_kind_patterns(int saving, char* out, size_t size);

/* Opens whatever the file holds, told by its first bytes: a document, an
 * OpenRaster archive or an image. */
DOCUMENT* document_load_any(const char* path);
/* The kind of the file the last document_load_any read (or tried to). */
int document_last_load_kind(void);
