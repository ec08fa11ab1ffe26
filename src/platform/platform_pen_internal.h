/* platform_pen_internal: the steps of the pen reader that need no X server
 * (recognising a pen among the devices, decoding its events, mapping the
 * server's clock), reached by the tests. */
#pragma once
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>

#include "platform/platform_pen.h"

/* The atoms of the axis labels a pen is recognised by. */
typedef struct PLATFORM_PEN_ATOMS {
    Atom pressure; /* "Abs Pressure" */
    Atom tilt_x;   /* "Abs Tilt X" */
    Atom tilt_y;   /* "Abs Tilt Y" */
} PLATFORM_PEN_ATOMS;

/* A device that counts as a pen, with where its axes are among its valuators. */
typedef struct PLATFORM_PEN_DEVICE {
    int id;
    char name[128];
    int pressure_axis; /* valuator number, or -1 */
    double pressure_min, pressure_max;
    int tilt_x_axis, tilt_y_axis; /* valuator numbers, or -1 */
    double tilt_x_min, tilt_x_max, tilt_y_min, tilt_y_max;
    int eraser;
    /* The last values read: an event leaves out the axes that did not change. */
    float pressure, tilt_x, tilt_y;
} PLATFORM_PEN_DEVICE;

/* The server's clock, unwrapped past its 32-bit milliseconds, and its offset
 * to the local one: the smallest (local - server) seen over the current
 * and the previous window of observations. */
typedef struct PLATFORM_PEN_CLOCK {
    int started, observed;
    uint32_t last_raw;
    int64_t last_ms;
    double window_start;
    double current_min, previous_min;
    int have_previous;
} PLATFORM_PEN_CLOCK;

/* 1 and `out` filled when the device is a pen: an enabled slave pointer with
 * an "Abs Pressure" axis and absolute position, or one whose name has the
 * word pen, stylus or eraser (not pad, finger, touch or cursor). */
int _platform_pen_device_from_info(const XIDeviceInfo* info, const PLATFORM_PEN_ATOMS* atoms,
                                   PLATFORM_PEN_DEVICE* out);
/* Decodes a motion, press or release of `device` into `out`, stamped
 * `time`; keeps the axes read in `device`. 0 for another device's event or
 * another kind. */
int _platform_pen_decode(PLATFORM_PEN_DEVICE* device, const XIDeviceEvent* event, double time,
                         PLATFORM_PEN_SAMPLE* out);
/* Unwraps a server time stamp into milliseconds that keep counting past 2^32. */
int64_t _platform_pen_clock_unwrap(PLATFORM_PEN_CLOCK* clock, uint32_t server_ms);
/* Notes that an event stamped `server_ms` (unwrapped) was read at `local` seconds. */
void _platform_pen_clock_observe(PLATFORM_PEN_CLOCK* clock, int64_t server_ms, double local);
/* The local time of an unwrapped server time stamp. */
double _platform_pen_clock_map(const PLATFORM_PEN_CLOCK* clock, int64_t server_ms);
/* Devices whose names hold `part` count as pens (eraser ends when `eraser`);
 * null turns it off. For tests on a server without a tablet. */
void _platform_pen_claim_devices(const char* part, int eraser);
