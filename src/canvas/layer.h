/* layer: one raster layer: a video bitmap tools draw on, a memory backup of
 * its last committed pixels, and its compositing settings. */
#pragma once
#include <allegro5/allegro.h>
#include <stdint.h>

#include "canvas/layer_blend.h"
#include "t_str.h"

typedef struct LAYER {
    T_STR* name;
    ALLEGRO_BITMAP* bitmap; /* video bitmap; may hold uncommitted pixels */
    ALLEGRO_BITMAP* backup; /* memory bitmap; the last committed pixels */
    float opacity;
    uint8_t visible;
    uint8_t locked;
    int32_t blend;       /* a code of layer_blend's table */
    uint8_t needs_clear; /* video contents undefined until cleared */
    uint32_t serial;     /* unique in the process: tells layers apart after an address is reused */
    uint32_t revision;   /* grows whenever the video bitmap's pixels change (layer_touch) */
} LAYER;

/* Creates a layer with a transparent backup; null on failure. */
LAYER* layer_new(const char* name, int width, int height);
/* Destroys a layer and nulls the caller's pointer. */
void layer_free(LAYER** layer);
/* List destructor for layers. */
void layer_destroy(void* layer);
/* Renames, trimming spaces at both ends; an empty result keeps the old name. */
int layer_set_name(LAYER* layer, const char* name);
/* Makes a video bitmap whose contents are still undefined equal to the
 * backup (transparent without one) before anything reads or draws on it. */
void layer_settle(LAYER* layer);
/* While set, new layers are made without their video bitmap, which
 * layer_make_bitmap adds later (start-up shows its first frame sooner). */
void layer_defer_video(int defer);
/* Makes the video bitmap a layer was created without: transparent like its
 * untouched backup, cleared before first use. 1 when the layer has one. */
int layer_make_bitmap(LAYER* layer);
/* Rebuilds the video bitmap from the backup. */
int layer_restore(LAYER* layer);
/* Gives a layer without a video bitmap the picture `picture` (made by
 * layer_create_bitmap at the layer's size): filled from the backup, or only
 * marked for clearing when `blank`. The layer owns it on success; on 0 the
 * caller still does. */
int layer_adopt_picture(LAYER* layer, ALLEGRO_BITMAP* picture, int blank);
/* Inclusive bounds of the pixels with non-zero alpha in the layer's backup;
 * 0 when there are none (or the backup cannot be read). */
int layer_content_box(LAYER* layer, int* x0, int* y0, int* x1, int* y1);
/* Says that the video bitmap's pixels changed: whatever keeps a flattened
 * copy of the layer draws it again. Every writer of a layer's pixels calls it. */
void layer_touch(LAYER* layer);
/* Name text for messages ("NULL" without a name). */
const char* layer_name_text(const LAYER* layer);
/* Creates a bitmap in the RGBA byte order raw access uses, with these flags,
 * and makes sure it really holds its pixels: null (and nothing left behind)
 * when any allocation failed while it was made, so a lock never meets a
 * bitmap without pixels. The caller's new-bitmap flags and format are kept. */
ALLEGRO_BITMAP* layer_create_bitmap(int width, int height, int flags);
/* A memory bitmap like layer_create_bitmap's whose pixels come zeroed from
 * the system: pages nothing is written to are never touched. */
ALLEGRO_BITMAP* layer_create_zeroed_bitmap(int width, int height);
