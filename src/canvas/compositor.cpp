/* compositor: paper, page template and layers through the view every frame,
 * and the same layer rules at 1:1 for export. All blending is the graphics
 * library's blender on premultiplied colours.
 *
 * A frame keeps two pictures of the screen between frames, each drawn with
 * exactly the operations a frame performs, so that copying one gives the
 * same pixels: "below" (paper, border, template and the layers under the
 * active one) and "whole" (below, then the active layer and the layers over
 * it). A frame that shows nothing new copies the whole picture; when only
 * the active layer or those over it changed, it copies below and draws the
 * rest. Each picture remembers a key of everything it shows: the view, the
 * target, the document's paper and template, and per layer its identity,
 * pixel revision, visibility, opacity, blend and bitmap; any difference
 * rebuilds it. They are screen pictures, so nothing is built while the view
 * moves (a pan or zoom draws as it always did), and the whole picture is
 * built only once what it shows has stayed the same for two frames (an
 * eraser stroke changes the active layer at every frame). */
#include "canvas/compositor.h"

#include <allegro5/allegro_primitives.h>

#include <math.h>
#include <stdlib.h>
#include <string.h>

#include "canvas/templates.h"
#include "t_log.h"

// Installs the device blender of a layer's blend mode.
static void _compositor_set_blender(int32_t blend) {
    const LAYER_BLEND_MODE* mode = layer_blend_mode(blend);
    al_set_blender(mode->op, mode->src, mode->dst);
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
static ALLEGRO_BITMAP* _whole = NULL;
static uint64_t _below_key = 0, _whole_key = 0;
/* View and target, and everything shown, at the last frame: a picture is
 * only built for what was already shown once. */
static uint64_t _last_view_key = 0, _last_whole_key = 0;
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

// Makes a kept picture of the target's size the target, cleared to transparent.
static int _compositor_begin_picture(ALLEGRO_BITMAP** picture, ALLEGRO_BITMAP* target) {
    if (!_compositor_picture(picture, al_get_bitmap_width(target), al_get_bitmap_height(target))) return 0;
    al_set_target_bitmap(*picture);
    al_clear_to_color(al_map_rgba(0, 0, 0, 0));
    _builds++;
    return 1;
}

int _compositor_picture_builds(void) { return _builds; }

void compositor_release(void) {
    if (_below) al_destroy_bitmap(_below);
    if (_whole) al_destroy_bitmap(_whole);
    _below = _whole = NULL;
    _below_key = _whole_key = _last_view_key = _last_whole_key = 0;
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
    uint64_t below_key = view_key;
    _key_add(&below_key, &doc->width, sizeof(doc->width));
    _key_add(&below_key, &doc->height, sizeof(doc->height));
    _key_add(&below_key, &doc->background, sizeof(doc->background));
    _key_add(&below_key, &doc->template_index, sizeof(doc->template_index));
    int shown_below = 0, i = 0;
    LIST_NODE* node = doc->layers ? doc->layers->start : NULL;
    for (; node && i < active; node = node->next, i++) {
        LAYER* layer = (LAYER*)node->ptr;
        if (!layer) continue;
        _key_add_layer(&below_key, layer);
        shown_below += _compositor_shows(layer);
    }
    uint64_t whole_key = below_key ^ 0x9E3779B97F4A7C15ull;
    _key_add(&whole_key, &active, sizeof(active));
    for (; node; node = node->next)
        if (node->ptr) _key_add_layer(&whole_key, (const LAYER*)node->ptr);
    if (below_key == 0) below_key = 1;
    if (whole_key == 0) whole_key = 1;
    int steady = view_key == _last_view_key, unchanged = whole_key == _last_whole_key;
    _last_view_key = view_key;
    _last_whole_key = whole_key;

    ALLEGRO_TRANSFORM identity;
    al_identity_transform(&identity);
    if (_whole && _whole_key == whole_key) {
        _compositor_copy_picture(_whole);
        al_use_transform(&identity);
        return;
    }

    /* Paper and the layers below: a copy when that saves a layer draw. */
    int below_kept = shown_below >= 1 && _below && _below_key == below_key;
    if (shown_below >= 1 && !below_kept && steady) {
        _below_key = 0;
        if (_compositor_begin_picture(&_below, target)) {
            _compositor_draw_paper(doc, view);
            _compositor_draw_range(doc, 0, active);
            al_set_blender(ALLEGRO_ADD, ALLEGRO_ONE, ALLEGRO_INVERSE_ALPHA);
            al_set_target_bitmap(target);
            _below_key = below_key;
            below_kept = 1;
        }
    }
    /* The rest goes to the whole picture when it has stayed the same. */
    int whole = steady && unchanged;
    if (whole) {
        _whole_key = 0;
        whole = _compositor_begin_picture(&_whole, target);
    }
    if (below_kept) {
        _compositor_copy_picture(_below);
        view_apply(view);
    } else {
        _compositor_draw_paper(doc, view);
        _compositor_draw_range(doc, 0, active);
    }
    _compositor_draw_range(doc, active, count);
    al_set_blender(ALLEGRO_ADD, ALLEGRO_ONE, ALLEGRO_INVERSE_ALPHA);
    if (whole) {
        al_set_target_bitmap(target);
        _whole_key = whole_key;
        _compositor_copy_picture(_whole);
    }
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

// Flattens on the CPU from the layers' textures, read back one by one.
uint8_t* compositor_flatten_region_bytes(DOCUMENT* doc, int x, int y, int w, int h, int include_template) {
    __t_assert_null(doc);
    if (w <= 0 || h <= 0) return NULL;
    if (include_template && doc->template_index != 0) return NULL; /* lines only the device draws */
    for (LIST_NODE* node = doc->layers ? doc->layers->start : NULL; node; node = node->next) {
        LAYER* layer = (LAYER*)node->ptr;
        if (!layer || !layer->visible || !layer->bitmap || !(layer->opacity > 0.0f)) continue;
        if (!layer_blend_mode(layer->blend)->row) return NULL;
    }
    size_t row = (size_t)w * 4;
    uint8_t* out = NULL;
    Malloc(out, uint8_t, row * (size_t)h, return NULL);
    /* The paper, as a clear to it stores it. */
    ALLEGRO_COLOR bg = doc->background;
    uint8_t paper[4] = {(uint8_t)lrintf(fminf(fmaxf(bg.r, 0.0f), 1.0f) * 255.0f),
                        (uint8_t)lrintf(fminf(fmaxf(bg.g, 0.0f), 1.0f) * 255.0f),
                        (uint8_t)lrintf(fminf(fmaxf(bg.b, 0.0f), 1.0f) * 255.0f),
                        (uint8_t)lrintf(fminf(fmaxf(bg.a, 0.0f), 1.0f) * 255.0f)};
    uint32_t paper_word;
    memcpy(&paper_word, paper, 4);
    uint32_t* words = (uint32_t*)out;
    for (size_t i = 0; i < (size_t)w * (size_t)h; i++) words[i] = paper_word;
    int x0 = x > 0 ? x : 0, y0 = y > 0 ? y : 0;
    int x1 = x + w < doc->width ? x + w : doc->width, y1 = y + h < doc->height ? y + h : doc->height;
    uint8_t* tinted = NULL;
    if (x0 < x1 && y0 < y1) Malloc(tinted, uint8_t, (size_t)(x1 - x0) * 4, free(out); return NULL);
    for (LIST_NODE* node = doc->layers ? doc->layers->start : NULL; node && x0 < x1 && y0 < y1; node = node->next) {
        LAYER* layer = (LAYER*)node->ptr;
        if (!layer || !layer->visible || !layer->bitmap || !(layer->opacity > 0.0f)) continue;
        if (layer->needs_clear) continue; /* transparent once anything shows it */
        /* The texture, not the backup: it may hold paint not yet committed. */
        ALLEGRO_BITMAP* source = layer->bitmap;
        ALLEGRO_LOCKED_REGION* lock = al_lock_bitmap_region(source, x0, y0, x1 - x0, y1 - y0,
                                                            ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE, ALLEGRO_LOCK_READONLY);
        if (!lock) {
            free(tinted);
            free(out);
            return NULL;
        }
        LAYER_BLEND_ROW blend = layer_blend_mode(layer->blend)->row;
        /* The opacity tint as the device scales a texel: texel / 255 * o * 255, to nearest even. */
        float o = layer->opacity > 1.0f ? 1.0f : layer->opacity;
        uint8_t lut[256];
        for (int c = 0; c < 256; c++) lut[c] = (uint8_t)lrintf(((float)c * (1.0f / 255.0f)) * o * 255.0f);
        int identity = 1;
        for (int c = 0; c < 256 && identity; c++) identity = lut[c] == c;
        for (int j = y0; j < y1; j++) {
            const uint8_t* src = (const uint8_t*)lock->data + (intptr_t)(j - y0) * lock->pitch;
            if (!identity) {
                for (int i = 0; i < (x1 - x0) * 4; i++) tinted[i] = lut[src[i]];
                src = tinted;
            }
            blend(out + (size_t)(j - y) * row + (size_t)(x0 - x) * 4, src, x1 - x0);
        }
        al_unlock_bitmap(source);
    }
    free(tinted);
    return out;
}
