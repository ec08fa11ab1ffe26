/* brush: brush parameters and presets, tip stamps and their cache, dab
 * placement along strokes, the stroke buffer, the eraser, the spray, form
 * previews and the tip preview. */
#pragma once
#include <allegro5/allegro.h>
#include <stdint.h>

#include "canvas/document.h"
#include "canvas/symmetry.h"

typedef enum BRUSH_TIP {
    BRUSH_TIP_ROUND = 0,
    BRUSH_TIP_SQUARE = 1,
    BRUSH_TIP_CHISEL_L = 2,
    BRUSH_TIP_SPRAY = 3,
    BRUSH_TIP_CHISEL_R = 4,
    BRUSH_TIP_FLAT = 5,
    BRUSH_TIP_DIAMOND = 6,
} BRUSH_TIP;

#define BRUSH_TIP_COUNT 7
#define BRUSH_PRESET_COUNT 4
#define BRUSH_STAMP_CACHE_MAX 64
/* Bytes of coverage and uploaded bitmaps the stamp cache holds before it
 * starts over: a few tips of 1000 px, or all 64 of ordinary sizes. */
#define BRUSH_STAMP_CACHE_BYTES ((size_t)64 << 20)

typedef struct BRUSH {
    float size;     /* tip diameter, canvas pixels */
    float hardness; /* 0..1: part of the radius at full strength */
    float flow;     /* 0..1: paint per dab */
    float opacity;  /* 0..1: ceiling of the whole stroke */
    ALLEGRO_COLOR color; /* straight alpha */
    float spacing;  /* dab distance as a fraction of size */
    int32_t eraser; /* 1 erases to transparent */
    int32_t tip;    /* BRUSH_TIP */
} BRUSH;

typedef struct BRUSH_PRESET {
    const char* name;
    const char* label;
    float size, hardness, flow, opacity, spacing;
    int32_t tip;
} BRUSH_PRESET;

typedef struct BRUSH_STROKE {
    uint8_t active;
    float last_x, last_y; /* last input point: the next segment's start */
    float carried;        /* path length since the last dab position, placed or skipped */
    LAYER* layer;         /* borrowed: the active layer at begin */
    uint8_t uses_buffer;
    ALLEGRO_COLOR color;
    float opacity;
    float last_dab_x, last_dab_y;
    SYMMETRY symmetry; /* fixed for the whole stroke */
    uint8_t preview;   /* never touches the layer or undo */
} BRUSH_STROKE;

/* Fills the default brush: size 24, hardness 0.7, full flow and opacity, dark grey, round. */
void brush_defaults(BRUSH* brush);
/* The built-in preset of that name, or null. */
const BRUSH_PRESET* brush_preset_get(const char* name);
/* Copies a preset's size, hardness, flow, opacity, spacing and tip; clears the eraser, keeps the colour. */
int brush_apply_preset(BRUSH* brush, const char* name);
/* Number of tip shapes (7). */
int brush_tip_count(void);
/* English name of a tip shape, or null past the last. */
const char* brush_tip_name(int tip);
/* Number of built-in presets (4). */
int brush_preset_count(void);
/* Name of a preset ("Pencil" ...), or null past the last. */
const char* brush_preset_name(int index);
/* Short label of a preset for a compact button, or null past the last. */
const char* brush_preset_label(int index);

/* Starts a stroke on the active layer and lays its first dab; 0 on a locked layer. */
int brush_stroke_begin(BRUSH_STROKE* stroke, DOCUMENT* doc, const BRUSH* brush, float x, float y, float pressure,
                       const SYMMETRY* symmetry);
/* Lays dabs at even spacing along the segment to (x, y); 0 when not active. */
int brush_stroke_segment(BRUSH_STROKE* stroke, DOCUMENT* doc, const BRUSH* brush, float x, float y, float pressure);
/* Composites the stroke onto its layer and records it as one undo step. */
int brush_stroke_end(BRUSH_STROKE* stroke, DOCUMENT* doc);
/* Drops the stroke, restoring what an eraser stroke already changed; 1 when one was open. */
int brush_stroke_abort(BRUSH_STROKE* stroke, DOCUMENT* doc);
/* Paints a polyline into the stroke buffer as a preview; refused while a live stroke is open. */
int brush_preview_polyline(DOCUMENT* doc, const BRUSH* brush, const float* xy, int count, const SYMMETRY* symmetry);

/* The stroke buffer while it is to be shown, else null. */
ALLEGRO_BITMAP* brush_stroke_buffer_shown(void);
/* Canvas rectangle outside which the stroke buffer is fully transparent
 * (with a filtering margin, clipped to the buffer); 0 when nothing was painted. */
int brush_stroke_buffer_bounds(int* x, int* y, int* w, int* h);
/* Hides a preview; a live stroke's buffer stays shown. */
void brush_preview_clear(void);
/* Draws the tip in the brush colour on a contrasting background into `dest`. */
int brush_render_tip_preview(const BRUSH* brush, ALLEGRO_BITMAP* dest);
/* Next simulated pressure for a pointer speed in canvas pixels per second. */
float brush_pressure_from_speed(float speed, float previous);
/* Drops the stamps and the stroke buffer (they are rebuilt on demand). */
void brush_release_resources(void);
/* Releases everything the engine holds. */
void brush_shutdown(void);
