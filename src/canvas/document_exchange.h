/* document_exchange: drawings shared with other painting programs: the
 * OpenRaster archive (".ora": a zip of one PNG per layer, a stack.xml, the
 * merged picture and a thumbnail), and ordinary images (PNG, JPEG, BMP,
 * TGA) opened as a one-layer drawing. Failures are told through the load
 * status of document_io. */
#pragma once
#include "canvas/document.h"
#include "canvas/document_kinds.h"

#define DOCUMENT_IMAGE_MAX_SIDE 16384
#define DOCUMENT_ORA_MIME_TYPE "image/openraster"

/* Writes the drawing as OpenRaster, replacing `path` only when the whole
 * archive reached the disk; readable by others like every saved drawing. */
int document_save_ora(DOCUMENT* doc, const char* path);
/* Reads an OpenRaster archive into a new drawing of the image's size: layers
 * of any size at any offset, nested stacks flattened in their order. Null
 * when refused (the reason is in the load status). */
DOCUMENT* document_load_ora(const char* path);
/* Reads an image into a new drawing of its size whose "Layer 1" holds it;
 * null for anything above 16384 on a side or that cannot be decoded. */
DOCUMENT* document_load_image(const char* path);
