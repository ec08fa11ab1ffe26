/* The OpenRaster reader on any bytes: the zip archive, its stack.xml and each
 * layer's PNG, with layers kept in memory. What it accepts must be a whole
 * drawing within the limits; what it refuses must say why. */
#include <allegro5/allegro.h>
#include <allegro5/allegro_image.h>
#include <stdlib.h>

#include "canvas/document_exchange.h"
#include "canvas/document_io.h"
#include "canvas/layer.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz_init();
    al_init_image_addon();
    /* No display: the layers keep only their memory copies. */
    layer_defer_video(1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* path = fuzz_temp_path("input.ora");
    FUZZ_CHECK(fuzz_write_file(path, data, size));
    DOCUMENT* doc = document_load_ora(path);
    const DOCUMENT_LOAD_STATUS* status = document_last_load_status();
    if (!doc) {
        FUZZ_CHECK(status->error != DOCUMENT_LOAD_OK);
        return 0;
    }
    FUZZ_CHECK(status->error == DOCUMENT_LOAD_OK);
    FUZZ_CHECK(doc->width >= 1 && doc->width <= DOCUMENT_IMAGE_MAX_SIDE);
    FUZZ_CHECK(doc->height >= 1 && doc->height <= DOCUMENT_IMAGE_MAX_SIDE);
    int count = document_layer_count(doc);
    FUZZ_CHECK(count >= 1 && count <= DOCUMENT_FILE_MAX_LAYERS);
    FUZZ_CHECK(doc->active_layer == document_layer_at(doc, count - 1));
    for (int i = 0; i < count; i++) {
        LAYER* layer = document_layer_at(doc, i);
        FUZZ_CHECK(layer && layer->backup);
        FUZZ_CHECK(al_get_bitmap_width(layer->backup) == doc->width);
        FUZZ_CHECK(al_get_bitmap_height(layer->backup) == doc->height);
        FUZZ_CHECK(layer->opacity >= 0.0f && layer->opacity <= 1.0f);
        FUZZ_CHECK(layer_blend_find(layer->blend) != NULL);
    }
    document_free(&doc);
    return 0;
}
