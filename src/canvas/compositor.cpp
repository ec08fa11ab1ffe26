/* compositor: paper, page template and layers through the view every frame,
 * and the same layer rules at 1:1 for export. All blending is the graphics
 * library's blender on premultiplied colours. */
#include "canvas/compositor.h"

#include <allegro5/allegro_primitives.h>

#include "canvas/templates.h"
#include "t_log.h"

// Installs the blender of a layer blend mode; unknown modes blend as Normal.
static void _compositor_set_blender(int blend) {
    switch (blend) {
        case LAYER_BLEND_MULTIPLY: al_set_blender(ALLEGRO_ADD, ALLEGRO_DEST_COLOR, ALLEGRO_INVERSE_ALPHA); break;
        case LAYER_BLEND_SCREEN: al_set_blender(ALLEGRO_ADD, ALLEGRO_ONE, ALLEGRO_INVERSE_SRC_COLOR); break;
        case LAYER_BLEND_ADD: al_set_blender(ALLEGRO_ADD, ALLEGRO_ONE, ALLEGRO_ONE); break;
        default: al_set_blender(ALLEGRO_ADD, ALLEGRO_ONE, ALLEGRO_INVERSE_ALPHA); break;
    }
}

// Tint that scales every premultiplied channel by the opacity, capped at 1.
static ALLEGRO_COLOR _compositor_opacity_tint(float opacity) {
    float o = opacity > 1.0f ? 1.0f : opacity;
    return al_map_rgba_f(o, o, o, o);
}

// The page-template colour, premultiplied.
static ALLEGRO_COLOR _compositor_template_colour(void) {
    float a = 110.0f / 255.0f;
    return al_map_rgba_f(70.0f / 255.0f * a, 110.0f / 255.0f * a, 160.0f / 255.0f * a, a);
}

// Draws the document onto the current target through the view.
void compositor_draw(DOCUMENT* doc, const VIEW* view) {
    __t_assert_void(doc);
    __t_assert_void(view);
    view_apply(view);
    float w = (float)doc->width, h = (float)doc->height;
    float thickness = view->zoom > 0.0f ? 1.0f / view->zoom : 1.0f;
    al_draw_filled_rectangle(0, 0, w, h, doc->background);
    al_draw_rectangle(0, 0, w, h, al_map_rgb(90, 90, 90), thickness);
    if (doc->template_index != 0) {
        al_set_blender(ALLEGRO_ADD, ALLEGRO_ONE, ALLEGRO_INVERSE_ALPHA);
        template_draw(doc->template_index, w, h, _compositor_template_colour(), thickness);
    }
    for (LIST_NODE* node = doc->layers ? doc->layers->start : NULL; node; node = node->next) {
        LAYER* layer = (LAYER*)node->ptr;
        if (!layer || !layer->bitmap) continue;
        if (layer->needs_clear) {
            /* A pending clear happens even for layers that are not shown. */
            ALLEGRO_BITMAP* target = al_get_target_bitmap();
            al_set_target_bitmap(layer->bitmap);
            al_clear_to_color(al_map_rgba(0, 0, 0, 0));
            al_set_target_bitmap(target);
            view_apply(view);
            layer->needs_clear = 0;
        }
        if (!layer->visible || !(layer->opacity > 0.0f)) continue;
        _compositor_set_blender(layer->blend);
        al_draw_tinted_bitmap(layer->bitmap, _compositor_opacity_tint(layer->opacity), 0, 0, 0);
    }
    al_set_blender(ALLEGRO_ADD, ALLEGRO_ONE, ALLEGRO_INVERSE_ALPHA);
    ALLEGRO_TRANSFORM identity;
    al_identity_transform(&identity);
    al_use_transform(&identity);
}

// Renders a canvas rectangle at 1:1 into a new video bitmap owned by the caller.
ALLEGRO_BITMAP* compositor_flatten_region(DOCUMENT* doc, int x, int y, int w, int h, int include_template) {
    __t_assert_null(doc);
    if (w <= 0 || h <= 0) {
        t_log(LOG_ERR, "bad flatten region %dx%d", w, h);
        return NULL;
    }
    int flags = al_get_new_bitmap_flags();
    al_set_new_bitmap_flags(ALLEGRO_VIDEO_BITMAP);
    ALLEGRO_BITMAP* out = al_create_bitmap(w, h);
    al_set_new_bitmap_flags(flags);
    __t_assert_null(out);

    ALLEGRO_BITMAP* previous = al_get_target_bitmap();
    ALLEGRO_TRANSFORM saved;
    if (previous) al_copy_transform(&saved, al_get_current_transform());
    al_set_target_bitmap(out);
    al_clear_to_color(doc->background);
    ALLEGRO_TRANSFORM identity;
    al_identity_transform(&identity);
    if (include_template && doc->template_index != 0) {
        ALLEGRO_TRANSFORM shift;
        al_identity_transform(&shift);
        al_translate_transform(&shift, (float)-x, (float)-y);
        al_use_transform(&shift);
        al_set_blender(ALLEGRO_ADD, ALLEGRO_ONE, ALLEGRO_INVERSE_ALPHA);
        int side = doc->width < doc->height ? doc->width : doc->height;
        float thickness = (float)side * 1.5f / 2048.0f;
        if (thickness < 1.0f) thickness = 1.0f;
        template_draw(doc->template_index, (float)doc->width, (float)doc->height, _compositor_template_colour(),
                      thickness);
        al_use_transform(&identity);
    }
    for (LIST_NODE* node = doc->layers ? doc->layers->start : NULL; node; node = node->next) {
        LAYER* layer = (LAYER*)node->ptr;
        if (!layer || !layer->visible || !layer->bitmap || !(layer->opacity > 0.0f)) continue;
        _compositor_set_blender(layer->blend);
        al_draw_tinted_bitmap(layer->bitmap, _compositor_opacity_tint(layer->opacity), (float)-x, (float)-y, 0);
    }
    al_set_blender(ALLEGRO_ADD, ALLEGRO_ONE, ALLEGRO_INVERSE_ALPHA);
    if (previous) {
        al_set_target_bitmap(previous);
        al_use_transform(&saved);
    }
    return out;
}
