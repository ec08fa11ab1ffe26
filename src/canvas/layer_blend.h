/* layer_blend: the layer blend modes, one row each. The compositor's frame
 * and export, the CPU flattening, the colour sampler, both file formats and
 * the layer panel read their mode from here, so a new mode is a new row. */
#pragma once
#include <stdint.h>

#define LAYER_BLEND_NORMAL 0
#define LAYER_BLEND_MULTIPLY 1
#define LAYER_BLEND_SCREEN 2
#define LAYER_BLEND_ADD 3

/* Lays `pixels` premultiplied RGBA bytes of a layer over as many of the
 * picture below, with the device's rounding. */
typedef void (*LAYER_BLEND_ROW)(uint8_t* dst, const uint8_t* src, int pixels);

typedef struct LAYER_BLEND_MODE {
    int32_t code;       /* LAYER.blend, and the value drawing files store */
    const char* name;   /* English display name, translated where shown */
    const char* ora_op; /* OpenRaster composite-op */
    /* 1 when the device's blender below computes the mode (operation,
     * source and destination factors, for colour and alpha alike, on
     * premultiplied colours); 0 for a mode that needs the CPU (or a shader)
     * path, which then holds Normal's blender as its stand-in. */
    int device;
    int op, src, dst;
    /* The mode on the CPU: flattening for export without a display, the
     * colour sampler and the fill that looks at every layer. */
    LAYER_BLEND_ROW row;
} LAYER_BLEND_MODE;

/* Number of modes; rows are numbered from 0 in the order the panel cycles them. */
int layer_blend_count(void);
/* The row at a position of that order; null past the end. */
const LAYER_BLEND_MODE* layer_blend_at(int index);
/* The row of a code; null when no mode has it. Readers of files use it to
 * turn a code from elsewhere into Normal, with a notice. */
const LAYER_BLEND_MODE* layer_blend_find(int32_t code);
/* The row a layer is drawn with: its mode's, or Normal's for a code no mode
 * has (which only a layer that no reader made can hold). */
const LAYER_BLEND_MODE* layer_blend_mode(int32_t code);
/* The row whose OpenRaster composite-op is `op`; null when none is. */
const LAYER_BLEND_MODE* layer_blend_from_ora(const char* op);
/* The code after `code` in the panel's cycle, back to the first after the last. */
int32_t layer_blend_next(int32_t code);
/* Display name of a blend mode; "Normal" for unknown modes. */
const char* layer_blend_name(int mode);
