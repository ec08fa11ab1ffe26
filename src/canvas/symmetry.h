/* symmetry: mirror and radial repetition of dabs about a centre, and its guides. */
#pragma once
#include <stdint.h>

#include "canvas/document.h"
#include "canvas/view.h"

#define SYMMETRY_OFF 0
#define SYMMETRY_X 1
#define SYMMETRY_Y 2
#define SYMMETRY_XY 3
#define SYMMETRY_RADIAL 4
#define SYMMETRY_MAX_POINTS 16

typedef struct SYMMETRY {
    int32_t mode;
    float cx, cy;     /* centre, canvas coordinates */
    int32_t segments; /* radial copies, used clamped to 2..16 */
} SYMMETRY;

const char* symmetry_mode_name(int mode);
void symmetry_init(SYMMETRY* sym, const DOCUMENT* doc);
/* Writes the input point and its copies as float pairs; returns the count. */
int symmetry_mirror(const SYMMETRY* sym, float x, float y, float* out, int max_points);
void symmetry_draw(const SYMMETRY* sym, const DOCUMENT* doc, const VIEW* view);
