/* app_ranges: the ranges of the numbers a person sets, each written once:
 * the settings file clamps to it, its slider spans it and its keys stop at
 * its ends. */
#pragma once
#include <stdint.h>

typedef struct APP_RANGE {
    int32_t min, max;
} APP_RANGE;

constexpr APP_RANGE APP_RANGE_BRUSH_SIZE = {1, 128};    /* pixels */
constexpr APP_RANGE APP_RANGE_OPACITY = {1, 100};       /* percent of the brush's */
constexpr APP_RANGE APP_RANGE_FLOW = {1, 100};          /* percent */
constexpr APP_RANGE APP_RANGE_HARDNESS = {0, 100};      /* percent */
constexpr APP_RANGE APP_RANGE_STABILIZER = {0, 100};    /* 0 off */
constexpr APP_RANGE APP_RANGE_GRID_SIZE = {2, 256};     /* pixels */
constexpr APP_RANGE APP_RANGE_RADIAL_SPLITS = {2, 12};  /* the slider's; a file may hold up to what symmetry draws */
constexpr APP_RANGE APP_RANGE_EXPORT_BORDER = {0, 256}; /* pixels */
constexpr APP_RANGE APP_RANGE_TEXT_SIZE = {8, 256};     /* pixels */
constexpr APP_RANGE APP_RANGE_TEXT_FONT = {0, 3};       /* Sans, Serif, Mono, Bold */
constexpr APP_RANGE APP_RANGE_CANVAS_SIZE = {64, 16384}; /* pixels a side of a new canvas */
constexpr APP_RANGE APP_RANGE_UI_SIZE = {0, 3};         /* Small, Normal, Large, Huge */

// A value held in a range.
constexpr int32_t app_range_clamp(APP_RANGE range, int32_t value) {
    return value < range.min ? range.min : (value > range.max ? range.max : value);
}
