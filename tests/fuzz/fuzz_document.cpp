/* The document reader on any bytes: the header, every layer record and each
 * layer's run-length image, decoded into memory bitmaps. What it accepts
 * must be a whole, consistent document. */
#include <allegro5/allegro.h>

#include "canvas/document_io.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz_init();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    DOCUMENT_FILE* f = document_file_parse(data, size, "fuzz.plm");
    if (!f) return 0;
    FUZZ_CHECK(f->version >= 1 && f->version <= 3);
    FUZZ_CHECK(f->width >= 1 && f->width <= DOCUMENT_FILE_MAX_SIDE);
    FUZZ_CHECK(f->height >= 1 && f->height <= DOCUMENT_FILE_MAX_SIDE);
    FUZZ_CHECK(f->layer_count <= DOCUMENT_FILE_MAX_LAYERS);
    FUZZ_CHECK(f->layer_count == 0 || f->layers);
    size_t previous_end = 0;
    for (uint32_t i = 0; i < f->layer_count; i++) {
        const DOCUMENT_FILE_LAYER* layer = &f->layers[i];
        FUZZ_CHECK(layer->name);
        FUZZ_CHECK(layer->opacity >= 0.0f && layer->opacity <= 1.0f);
        FUZZ_CHECK(layer->visible <= 1 && layer->locked <= 1);
        FUZZ_CHECK(layer_blend_find(layer->blend) != NULL);
        FUZZ_CHECK(layer->pixels);
        FUZZ_CHECK(al_get_bitmap_width(layer->pixels) == f->width);
        FUZZ_CHECK(al_get_bitmap_height(layer->pixels) == f->height);
        FUZZ_CHECK(layer->end_offset > previous_end && layer->end_offset <= size);
        previous_end = layer->end_offset;
    }
    document_file_free(&f);
    FUZZ_CHECK(f == NULL);
    return 0;
}
