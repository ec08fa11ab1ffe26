/* platform_pen: a graphics tablet's pen (pressure, tilt, the eraser end),
 * read beside Allegro's mouse events.
 *
 * How the canvas uses it. Every mouse event a pen makes also arrives here as
 * a pen sample; `platform_pen_pressure_for` (or `platform_pen_sample_for`
 * for the whole sample) gives the pressure that belongs to an Allegro mouse
 * event, found by the event's time stamp and position. A mouse makes no
 * samples, so its events get none back and the caller keeps its own rule
 * (pressure from the pointer's speed, or full pressure). In a motion or
 * button handler:
 *     float p; int eraser;
 *     if (platform_pen_pressure_for(ev->mouse.timestamp, ev->mouse.x, ev->mouse.y, &p, &eraser) && p >= 0) ...
 * A pen that presses harder or softer without moving makes no mouse event:
 * its new pressure comes with the next one.
 *
 * Where samples come from. On the desktop `platform_pen_start` opens a
 * second X connection of the program's own after the first frame and reads
 * XInput 2 events of every pen on the program's window; `platform_pen_pump`
 * (called by the event loop before it handles each event) decodes what
 * arrived and hands each sample to `platform_pen_feed`. Tests feed samples
 * through the same function, without any device. Without XInput 2 or a pen
 * nothing is fed and every lookup answers "no pen".
 *
 * Times: a sample's `time` is on the clock of Allegro's event time stamps
 * (seconds of al_get_time()). The X server stamps its events in
 * milliseconds of its own clock; the reader maps them by the smallest
 * difference seen between the moment an event was read and its server
 * time, which is the server clock's offset plus the shortest delivery
 * delay.
 *
 * Places: X reports a pen's event where the pointer was just before the
 * event moved it (the pen's own device is read, and the pointer follows it
 * only afterwards); where it went comes with the pen's next event. The
 * matching allows for this: a sample belongs to a mouse event at its own
 * place or at the place its device's next sample gives, and the newest
 * sample of a device to one within a pen's reach of it. Fed samples may
 * carry the true places: the matching finds them as well. */
#pragma once
#include <stdint.h>
#include <allegro5/allegro.h>

enum PLATFORM_PEN_KIND { PLATFORM_PEN_MOTION = 0, PLATFORM_PEN_PRESS = 1, PLATFORM_PEN_RELEASE = 2 };

/* One reading of a pen. */
typedef struct PLATFORM_PEN_SAMPLE {
    double time;          /* seconds, on the clock of Allegro's event time stamps */
    uint32_t server_time; /* the X server's time stamp in ms (0 for fed samples) */
    float x, y;           /* window coordinates, pixels (fractions kept); see below */
    float pressure;       /* 0..1, or -1 when this pen has no pressure sensor */
    float tilt_x, tilt_y; /* -1..1 across the pen's range; 0 without tilt */
    int has_tilt;         /* 1 when the pen reports tilt */
    int eraser;           /* 1 when the eraser end made it */
    int touching;         /* 1 while the tip (button 1) is down, after this event */
    int kind;             /* PLATFORM_PEN_MOTION, _PRESS or _RELEASE */
    int button;           /* the button pressed or released; 0 for motion */
    int device;           /* the device's id (any number for fed samples) */
} PLATFORM_PEN_SAMPLE;

/* Starts reading pens on the display's window; 1 when reading runs (with or
 * without a pen yet: one plugged in later is found), 0 when it cannot (one
 * INFO line says why). Never blocks for long; call it after the first frame. */
int platform_pen_start(ALLEGRO_DISPLAY* display);
/* Stops reading and closes the second connection; before the display goes. */
void platform_pen_stop(void);
/* Reads what arrived on the pen connection, without blocking; cheap when
 * reading is off. */
void platform_pen_pump(void);
/* Keeps one sample among the recent ones (a short ring: the oldest goes). */
int platform_pen_feed(const PLATFORM_PEN_SAMPLE* sample);
/* Forgets every sample kept. */
void platform_pen_forget(void);
/* The number of pens known now (0 when reading is off). */
int platform_pen_count(void);
/* The sample that belongs to a mouse event at `time` (its time stamp) and
 * window position (x, y): 1 and `out` filled, or 0 when no pen made it. */
int platform_pen_sample_for(double time, float x, float y, PLATFORM_PEN_SAMPLE* out);
/* The same for the canvas: 1 when a pen made the event, with its pressure
 * (0..1, or -1 for a pen without a pressure sensor) and whether its eraser
 * end did; 0 for a mouse, with pressure -1 and eraser 0. */
int platform_pen_pressure_for(double time, float x, float y, float* pressure, int* eraser);
