/* The layer image reader (24- and 32-bit TGA, plain or run-length, any
 * origin) on any bytes. An image it accepts must come back pixel for pixel
 * through the program's own run-length writer. */
#include <allegro5/allegro.h>
#include <string.h>

#include "canvas/document_io.h"
#include "fuzz_support.h"
#include "t_str.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz_init();
    return 0;
}

// 1 when two bitmaps of the same size hold the same bytes.
static int _same_pixels(ALLEGRO_BITMAP* a, ALLEGRO_BITMAP* b) {
    int w = al_get_bitmap_width(a), h = al_get_bitmap_height(a);
    if (w != al_get_bitmap_width(b) || h != al_get_bitmap_height(b)) return 0;
    ALLEGRO_LOCKED_REGION* la = al_lock_bitmap(a, ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE, ALLEGRO_LOCK_READONLY);
    ALLEGRO_LOCKED_REGION* lb = al_lock_bitmap(b, ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE, ALLEGRO_LOCK_READONLY);
    int same = la && lb;
    for (int y = 0; same && y < h; y++)
        same = memcmp((const uint8_t*)la->data + (intptr_t)y * la->pitch,
                      (const uint8_t*)lb->data + (intptr_t)y * lb->pitch, (size_t)w * 4) == 0;
    if (la) al_unlock_bitmap(a);
    if (lb) al_unlock_bitmap(b);
    return same;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    int w = 0, h = 0;
    int known = document_tga_info(data, size, &w, &h);
    ALLEGRO_BITMAP* image = document_tga_decode(data, size);
    if (!image) return 0;
    FUZZ_CHECK(known);
    FUZZ_CHECK(al_get_bitmap_width(image) == w && al_get_bitmap_height(image) == h);

    T_STR* encoded = NULL;
    FUZZ_CHECK(document_tga_encode(image, &encoded));
    FUZZ_CHECK(encoded && encoded->length > 18);
    ALLEGRO_BITMAP* again = document_tga_decode(encoded->data, encoded->length);
    FUZZ_CHECK(again);
    FUZZ_CHECK(_same_pixels(image, again));
    al_destroy_bitmap(again);
    t_str_free(&encoded);
    al_destroy_bitmap(image);
    return 0;
}
