/* compositor: paper, page template and layers through the view every frame,
 * and the same layer rules at 1:1 for export. All blending is the graphics
 * library's blender on premultiplied colours.
 *
 * A frame keeps two flattened pictures of the screen between frames: "below"
 * (paper, border, template and every layer under the active one, drawn
 * exactly as a frame draws them, so copying it gives the same pixels) and
 * "above" (the layers over the active one, flattened onto transparent, kept
 * only while they all blend as Normal, the one mode that can be flattened
 * apart from what lies under it). A frame then costs the two copies and the
 * active layer, which is the layer that changes while the user works. Each
 * picture remembers a key of everything it shows: the view, the target, the
 * document's paper and template, and per layer its identity, pixel revision,
 * visibility, opacity, blend and bitmap; any difference rebuilds it. They are
 * screen pictures, so they are not built while the view moves (a pan or zoom
 * draws as it always did) but at the first frame that shows the same view
 * again. */
#include "canvas/compositor.h"

#include <allegro5/allegro_primitives.h>

#include <string.h>

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


/* The two kept pictures and what they show (0: nothing). */
static ALLEGRO_BITMAP* _below = NULL;
static ALLEGRO_BITMAP* _above = NULL;
static uint64_t _below_key = 0, _above_key = 0;
/* View and target of the last frame: a picture is only built for a view that
 * was already shown, so a moving view never pays for it. */
static uint64_t _last_view_key = 0;
static int _builds = 0;

// Adds bytes to an FNV-1a key.
static void _key_add(uint64_t* key, const void* data, size_t size) {
    const uint8_t* p = (const uint8_t*)data;
    for (size_t i = 0; i < size; i++) *key = (*key ^ p[i]) * 1099511628211ull;
}

// Adds what a frame shows of a layer to a key.
static void _key_add_layer(uint64_t* key, const LAYER* layer) {
    _key_add(key, &layer, sizeof(layer));
    _key_add(key, &layer->serial, sizeof(layer->serial));
    _key_add(key, &layer->revision, sizeof(layer->revision));
    _key_add(key, &layer->bitmap, sizeof(layer->bitmap));
    _key_add(key, &layer->visible, sizeof(layer->visible));
    _key_add(key, &layer->opacity, sizeof(layer->opacity));
    _key_add(key, &layer->blend, sizeof(layer->blend));
}

// Whether a frame draws the layer at all.
static int _compositor_shows(const LAYER* layer) {
    return layer && layer->bitmap && layer->visible && layer->opacity > 0.0f;
}

// Draws one shown layer through the transform in force, with its blend and opacity.
static void _compositor_draw_layer(const LAYER* layer) {
    _compositor_set_blender(layer->blend);
    al_draw_tinted_bitmap(layer->bitmap, _compositor_opacity_tint(layer->opacity), 0, 0, 0);
}

// Paper, border and template through the view onto the current target.
static void _compositor_draw_paper(DOCUMENT* doc, const VIEW* view) {
    view_apply(view);
    float w = (float)doc->width, h = (float)doc->height;
    float thickness = view->zoom > 0.0f ? 1.0f / view->zoom : 1.0f;
    al_draw_filled_rectangle(0, 0, w, h, doc->background);
    al_draw_rectangle(0, 0, w, h, al_map_rgb(90, 90, 90), thickness);
    if (doc->template_index != 0) {
        al_set_blender(ALLEGRO_ADD, ALLEGRO_ONE, ALLEGRO_INVERSE_ALPHA);
        template_draw(doc->template_index, w, h, _compositor_template_colour(), thickness);
    }
}

// A kept picture of the target's size on the current display, made on demand.
static ALLEGRO_BITMAP* _compositor_picture(ALLEGRO_BITMAP** picture, int w, int h) {
    if (*picture && (al_get_bitmap_width(*picture) != w || al_get_bitmap_height(*picture) != h ||
                     !(al_get_bitmap_flags(*picture) & ALLEGRO_VIDEO_BITMAP))) {
        al_destroy_bitmap(*picture);
        *picture = NULL;
    }
    if (*picture) return *picture;
    int flags = al_get_new_bitmap_flags();
    int format = al_get_new_bitmap_format();
    al_set_new_bitmap_format(ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE);
    al_set_new_bitmap_flags(ALLEGRO_VIDEO_BITMAP);
    *picture = al_create_bitmap(w, h);
    al_set_new_bitmap_flags(flags);
    al_set_new_bitmap_format(format);
    if (!*picture) t_log(LOG_ERR, "could not create %dx%d frame picture; drawing every layer", w, h);
    return *picture;
}

// Draws the shown layers [from, to) of the stack through the transform in force.
static void _compositor_draw_range(DOCUMENT* doc, int from, int to) {
    int i = 0;
    for (LIST_NODE* node = doc->layers ? doc->layers->start : NULL; node && i < to; node = node->next, i++) {
        LAYER* layer = (LAYER*)node->ptr;
        if (i >= from && _compositor_shows(layer)) _compositor_draw_layer(layer);
    }
}

// Draws a kept picture over the target at 1:1.
static void _compositor_copy_picture(ALLEGRO_BITMAP* picture) {
    ALLEGRO_TRANSFORM identity;
    al_identity_transform(&identity);
    al_use_transform(&identity);
    al_set_blender(ALLEGRO_ADD, ALLEGRO_ONE, ALLEGRO_INVERSE_ALPHA);
    al_draw_bitmap(picture, 0, 0, 0);
}

// Rebuilds a kept picture: cleared to transparent, then paper and the layers
// [from, to) through the view (with_paper), or those layers alone.
static int _compositor_build(ALLEGRO_BITMAP** picture, ALLEGRO_BITMAP* target, DOCUMENT* doc, const VIEW* view,
                             int from, int to, int with_paper) {
    if (!_compositor_picture(picture, al_get_bitmap_width(target), al_get_bitmap_height(target))) return 0;
    al_set_target_bitmap(*picture);
    al_clear_to_color(al_map_rgba(0, 0, 0, 0));
    if (with_paper)
        _compositor_draw_paper(doc, view);
    else
        view_apply(view);
    _compositor_draw_range(doc, from, to);
    al_set_blender(ALLEGRO_ADD, ALLEGRO_ONE, ALLEGRO_INVERSE_ALPHA);
    al_set_target_bitmap(target);
    _builds++;
    return 1;
}

int _compositor_picture_builds(void) { return _builds; }

void compositor_release(void) {
    if (_below) al_destroy_bitmap(_below);
    if (_above) al_destroy_bitmap(_above);
    _below = _above = NULL;
    _below_key = _above_key = _last_view_key = 0;
}

// Draws the document onto the current target through the view.
void compositor_draw(DOCUMENT* doc, const VIEW* view) {
    __t_assert_void(doc);
    __t_assert_void(view);
    ALLEGRO_BITMAP* target = al_get_target_bitmap();
    __t_assert_void(target);
    int count = 0, active = -1;
    for (LIST_NODE* node = doc->layers ? doc->layers->start : NULL; node; node = node->next, count++) {
        LAYER* layer = (LAYER*)node->ptr;
        if (layer == doc->active_layer) active = count;
        if (!layer || !layer->bitmap || !layer->needs_clear) continue;
        /* A pending clear happens even for layers that are not shown. */
        al_set_target_bitmap(layer->bitmap);
        al_clear_to_color(al_map_rgba(0, 0, 0, 0));
        al_set_target_bitmap(target);
        layer->needs_clear = 0;
        layer_touch(layer);
    }
    if (active < 0) active = count; /* no active layer: everything is below */

    /* What the pictures would show. */
    uint64_t view_key = 1469598103934665603ull;
    ALLEGRO_DISPLAY* display = al_get_current_display();
    int tw = al_get_bitmap_width(target), th = al_get_bitmap_height(target);
    _key_add(&view_key, &display, sizeof(display));
    _key_add(&view_key, &target, sizeof(target));
    _key_add(&view_key, &tw, sizeof(tw));
    _key_add(&view_key, &th, sizeof(th));
    _key_add(&view_key, &view->x, sizeof(view->x));
    _key_add(&view_key, &view->y, sizeof(view->y));
    _key_add(&view_key, &view->zoom, sizeof(view->zoom));
    _key_add(&view_key, &view->angle, sizeof(view->angle));
    _key_add(&view_key, &doc, sizeof(doc));
    uint64_t below_key = view_key, above_key = view_key ^ 0x9E3779B97F4A7C15ull;
    _key_add(&below_key, &doc->width, sizeof(doc->width));
    _key_add(&below_key, &doc->height, sizeof(doc->height));
    _key_add(&below_key, &doc->background, sizeof(doc->background));
    _key_add(&below_key, &doc->template_index, sizeof(doc->template_index));
    int shown_below = 0, shown_above = 0, above_normal = 1, i = 0;
    for (LIST_NODE* node = doc->layers ? doc->layers->start : NULL; node; node = node->next, i++) {
        LAYER* layer = (LAYER*)node->ptr;
        if (i == active || !layer) continue;
        _key_add_layer(i < active ? &below_key : &above_key, layer);
        if (!_compositor_shows(layer)) continue;
        if (i < active)
            shown_below++;
        else {
            shown_above++;
            if (layer->blend == LAYER_BLEND_MULTIPLY || layer->blend == LAYER_BLEND_SCREEN ||
                layer->blend == LAYER_BLEND_ADD)
                above_normal = 0;
        }
    }
    if (below_key == 0) below_key = 1;
    if (above_key == 0) above_key = 1;
    int steady = view_key == _last_view_key;
    _last_view_key = view_key;

    /* Paper and the layers below: one copy when that saves a layer draw. */
    int below_kept = shown_below >= 1 && _below && _below_key == below_key;
    if (shown_below >= 1 && !below_kept && steady) {
        _below_key = 0;
        if (_compositor_build(&_below, target, doc, view, 0, active, 1)) {
            _below_key = below_key;
            below_kept = 1;
        }
    }
    if (below_kept) {
        _compositor_copy_picture(_below);
        view_apply(view);
    } else {
        _compositor_draw_paper(doc, view);
        _compositor_draw_range(doc, 0, active);
    }

    LAYER* current = active < count ? doc->active_layer : NULL;
    if (_compositor_shows(current)) _compositor_draw_layer(current);

    /* The layers above: one copy when there are two or more, all Normal. */
    int above_wanted = shown_above >= 2 && above_normal;
    int above_kept = above_wanted && _above && _above_key == above_key;
    if (above_wanted && !above_kept && steady) {
        _above_key = 0;
        if (_compositor_build(&_above, target, doc, view, active + 1, count, 0)) {
            _above_key = above_key;
            above_kept = 1;
        }
    }
    if (above_kept)
        _compositor_copy_picture(_above);
    else {
        view_apply(view);
        _compositor_draw_range(doc, active + 1, count);
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
