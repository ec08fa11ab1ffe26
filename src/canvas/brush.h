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

void brush_defaults(BRUSH* brush);
const BRUSH_PRESET* brush_preset_get(const char* name);
int brush_apply_preset(BRUSH* brush, const char* name);
int brush_tip_count(void);
const char* brush_tip_name(int tip);
int brush_preset_count(void);
const char* brush_preset_name(int index);
const char* brush_preset_label(int index);

int brush_stroke_begin(BRUSH_STROKE* stroke, DOCUMENT* doc, const BRUSH* brush, float x, float y, float pressure,
                       const SYMMETRY* symmetry);
int brush_stroke_segment(BRUSH_STROKE* stroke, DOCUMENT* doc, const BRUSH* brush, float x, float y, float pressure);
int brush_stroke_end(BRUSH_STROKE* stroke, DOCUMENT* doc);
int brush_stroke_abort(BRUSH_STROKE* stroke, DOCUMENT* doc);
int brush_preview_polyline(DOCUMENT* doc, const BRUSH* brush, const float* xy, int count, const SYMMETRY* symmetry);

/* The stroke buffer while it is to be shown, else null. */
ALLEGRO_BITMAP* brush_stroke_buffer_shown(void);
/* Canvas rectangle outside which the stroke buffer is fully transparent
 * (with a filtering margin, clipped to the buffer); 0 when nothing was painted. */
int brush_stroke_buffer_bounds(int* x, int* y, int* w, int* h);
void brush_preview_clear(void);
int brush_render_tip_preview(const BRUSH* brush, ALLEGRO_BITMAP* dest);
float brush_pressure_from_speed(float speed, float previous);
void brush_release_resources(void);
void brush_shutdown(void);

/* Internal steps, exposed for the tests. */
ALLEGRO_BITMAP* _stroke_buffer_get(DOCUMENT* doc);
ALLEGRO_BITMAP* _stamp_generate(const BRUSH* brush);
ALLEGRO_BITMAP* _stamp_get(const BRUSH* brush);
int _brush_dab(DOCUMENT* doc, BRUSH_STROKE* stroke, const BRUSH* brush, float x, float y, float pressure);
/* Number of stamps in the cache (0 before first use). */
int _stamp_cache_count(void);
