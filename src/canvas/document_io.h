/* document_io: the multi-layer document file ("PLM3", reading "PLM1" and
 * "PLM2"), the run-length TGA codec that holds each layer's pixels, PNG export
 * of the composited canvas and the scan for the painted area. */
#pragma once
#include <allegro5/allegro.h>
#include <stddef.h>
#include <stdint.h>

#include "canvas/document.h"
#include "t_str.h"

#define DOCUMENT_FILE_MAX_SIDE 16384
#define DOCUMENT_FILE_MAX_LAYERS 1024
#define DOCUMENT_FILE_MAX_NAME 4096

/* Writes the document as a version 3 file, replacing `path` only when the
 * whole file reached the disk. */
int document_save(DOCUMENT* doc, const char* path);
/* Writes the whole version 3 file image into an open atomic file, leaving
 * the commit (or abort) to the caller; 0 when a layer has no backup or a
 * write failed. */
int document_write(DOCUMENT* doc, T_ATOMIC_FILE* af);
/* Reads a version 1, 2 or 3 file into a new document with an empty history. */
DOCUMENT* document_load(const char* path);

/* Why the last load (or parse) failed. */
typedef enum DOCUMENT_LOAD_ERROR {
    DOCUMENT_LOAD_OK = 0,
    DOCUMENT_LOAD_UNREADABLE = 1, /* missing, not a regular file, or unreadable */
    DOCUMENT_LOAD_MALFORMED = 2,  /* not a document, or a broken one */
    DOCUMENT_LOAD_MEMORY = 3,     /* a good file too large for the memory there is */
} DOCUMENT_LOAD_ERROR;

typedef struct DOCUMENT_LOAD_STATUS {
    int error; /* DOCUMENT_LOAD_ERROR */
    int32_t width, height, layers;
    uint64_t needed, budget; /* bytes, for a memory refusal */
    char reason[128];        /* what was wrong with the file, in English, when that is known */
    char unknown_blend[64];  /* a blend mode named in the file (or its code) that was read as Normal */
} DOCUMENT_LOAD_STATUS;

/* The outcome of the last load or parse. */
const DOCUMENT_LOAD_STATUS* document_last_load_status(void);
/* Starts the status of a new load: nothing has failed. */
void document_load_status_reset(void);
/* Records why a load failed (DOCUMENT_LOAD_ERROR) with an optional reason. */
void document_load_status_fail(int error, const char* reason);
/* Records the size a drawing would have, and whether it fits in memory; 1 when it does. */
int document_load_status_fits(int width, int height, int layers);
/* Notes a blend mode that was read as Normal (the first one is kept). */
void document_load_status_unknown_blend(const char* name);

/* One layer record of a parsed file; `pixels` is a memory bitmap. */
typedef struct DOCUMENT_FILE_LAYER {
    char* name;
    float opacity;
    int32_t blend;
    uint8_t visible;
    uint8_t locked;
    ALLEGRO_BITMAP* pixels;
    int empty;         /* every pixel is empty: the layer's picture needs no upload */
    size_t end_offset; /* file offset just past this record */
} DOCUMENT_FILE_LAYER;

/* A document file checked and decoded in memory, before any layer exists. */
typedef struct DOCUMENT_FILE {
    int version; /* 1, 2 or 3 */
    int32_t width, height;
    int32_t template_index;
    uint32_t layer_count;
    DOCUMENT_FILE_LAYER* layers; /* layer_count records, bottom first */
    int memory_checked;          /* the memory the drawing needs was weighed */
} DOCUMENT_FILE;

/* Checks and decodes a file image; `path` names it in messages. Null when
 * the bytes are not a readable document (the reason is logged). */
DOCUMENT_FILE* document_file_parse(const void* data, size_t size, const char* path);
/* Frees a parsed file with its names and bitmaps; nulls the pointer. */
void document_file_free(DOCUMENT_FILE** file);

/* Length of the longest prefix of `name` (of `len` bytes) that is at most
 * `max` bytes and does not split a UTF-8 character. */
size_t document_name_cut(const char* name, size_t len, size_t max);

/* Encodes a bitmap as a run-length TGA (type 10, top-left origin, 32 bits,
 * values as held) into *out, which is reused when large enough. */
int document_tga_encode(ALLEGRO_BITMAP* bitmap, T_STR** out);
/* Reads the size of a TGA image that document_tga_decode accepts. */
int document_tga_info(const void* data, size_t size, int* width, int* height);
/* Decodes a 24- or 32-bit true-colour TGA (uncompressed or run-length, any
 * origin) into a new memory bitmap holding the stored values as they are. */
ALLEGRO_BITMAP* document_tga_decode(const void* data, size_t size);
/* The same, telling whether every pixel of the image is empty. */
ALLEGRO_BITMAP* document_tga_decode_ex(const void* data, size_t size, int* empty);

/* Renders and writes the canvas rectangle as PNG (TGA as the last resort, with
 * ".tga" appended); `out_path` receives the path written. */
int document_export_png_region(DOCUMENT* doc, const char* path, int x, int y, int w, int h, int include_template,
                               char* out_path, size_t out_size);
/* Exports the whole canvas with its page template. */
int document_export_png(DOCUMENT* doc, const char* path);
/* Encodes a bitmap as an RGBA PNG with the program's own writer; the caller frees the buffer. */
uint8_t* document_png_encode(ALLEGRO_BITMAP* bitmap, size_t* size);
/* The same from premultiplied RGBA rows `pitch` bytes apart. */
uint8_t* document_png_encode_rgba(const uint8_t* rgba, intptr_t pitch, int w, int h, size_t* size);
/* Inclusive bounds of every pixel with non-zero alpha in the visible layers' backups. */
int document_content_bbox(DOCUMENT* doc, int* x0, int* y0, int* x1, int* y1);

/* The compression step of document_png_encode, with zlib's compress2 shape;
 * replaceable so a failing compressor can be tried. Null restores compress2. */
typedef int (*DOCUMENT_DEFLATE_FN)(uint8_t* dest, unsigned long* dest_len, const uint8_t* src,
                                   unsigned long src_len, int level);
void document_set_deflate(DOCUMENT_DEFLATE_FN fn);
