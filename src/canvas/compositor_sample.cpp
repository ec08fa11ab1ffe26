/* compositor_sample: the colour the user sees at one canvas pixel, worked
 * out from the layers' memory copies by the same blend rules the frame
 * uses, without drawing anything. The colour sampler calls it for every
 * pointer event, so it reads one pixel per layer and nothing more. */
#include <math.h>

#include "canvas/compositor.h"
#include "t_log.h"

// A channel rounded to the 8 bits the screen holds between layers.
static float _sample_store(float v) {
    if (!(v > 0.0f)) return 0.0f;
    if (v >= 1.0f) return 1.0f;
    return floorf(v * 255.0f + 0.5f) / 255.0f;
}

int compositor_sample(const DOCUMENT* doc, int x, int y, ALLEGRO_COLOR* out) {
    __t_assert(doc);
    __t_assert(out);
    if (x < 0 || y < 0 || x >= doc->width || y >= doc->height) return 0;
    /* Premultiplied channels over the opaque paper; the page template is a
     * guide and is not part of the picture. */
    float d[4] = {doc->background.r, doc->background.g, doc->background.b, 1.0f};
    for (LIST_NODE* node = doc->layers ? doc->layers->start : NULL; node; node = node->next) {
        LAYER* layer = (LAYER*)node->ptr;
        if (!layer || !layer->backup || !layer->visible || !(layer->opacity > 0.0f)) continue;
        ALLEGRO_LOCKED_REGION* lock =
            al_lock_bitmap_region(layer->backup, x, y, 1, 1, ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE, ALLEGRO_LOCK_READONLY);
        if (!lock) continue;
        const uint8_t* px = (const uint8_t*)lock->data;
        float o = layer->opacity > 1.0f ? 1.0f : layer->opacity;
        float s[4] = {px[0] / 255.0f * o, px[1] / 255.0f * o, px[2] / 255.0f * o, px[3] / 255.0f * o};
        al_unlock_bitmap(layer->backup);
        layer_blend_mode(layer->blend)->pixel(d, s);
        for (int c = 0; c < 4; c++) d[c] = _sample_store(d[c]);
    }
    float a = d[3] > 0.0f ? d[3] : 1.0f;
    *out = al_map_rgba_f(fminf(1.0f, d[0] / a), fminf(1.0f, d[1] / a), fminf(1.0f, d[2] / a), 1.0f);
    return 1;
}
