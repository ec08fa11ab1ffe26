/* platform_pen: reads a graphics tablet's pen through XInput 2 on a second X
 * connection of the program's own (several clients may select the same
 * device events on one window), and matches its samples to Allegro's mouse
 * events. */
#include "platform/platform_pen.h"

#include <X11/Xatom.h>
#include <allegro5/allegro_x.h>
#include <ctype.h>
#include <math.h>
#include <stdio.h>
#include <string.h>

#include "platform/platform_pen_internal.h"
#include "t_log.h"

#define PEN_RING 64
#define PEN_DEVICES 16

/* A sample belongs to a mouse event no further apart than this in time... */
static const double _PEN_MATCH_SECONDS = 0.1;
/* ...and in position: core events carry whole pixels, the pen fractions. */
static const float _PEN_MATCH_PIXELS = 2.5f;
/* The server reports a pen's event at the place where the pointer was
 * before the event moved it; the place it moved to comes with the pen's
 * next event. The newest sample, whose place is not known yet, belongs to
 * an event no further away than a pen moves between two of its events. */
static const float _PEN_REACH_PIXELS = 48.0f;
/* An event newer than the last sample, by less than this, may have its
 * sample still on the way: the connection is synced once before the match. */
static const double _PEN_SYNC_SECONDS = 1.0;
/* Each window of clock observations lasts this long; the offset is the
 * smallest of the current and the previous one, so a changed clock is
 * adopted within two windows while a busy spell cannot raise it. */
static const double _PEN_CLOCK_WINDOW = 10.0;

/* Words of a device's name that decide what it is; exclusions win. */
static const struct {
    const char* word;
    int pen, eraser, exclude;
} _pen_name_words[] = {
    {"pen", 1, 0, 0},    {"stylus", 1, 0, 0}, {"eraser", 1, 1, 0}, {"pad", 0, 0, 1},
    {"finger", 0, 0, 1}, {"touch", 0, 0, 1},  {"cursor", 0, 0, 1},
};

static struct {
    Display* x;
    Window window;
    int opcode;
    PLATFORM_PEN_ATOMS atoms;
    Atom tool_type, eraser_type; /* the Wacom driver's tool type property and its eraser value */
    PLATFORM_PEN_DEVICE devices[PEN_DEVICES];
    int device_count;
    PLATFORM_PEN_CLOCK clock;
    int x_error;
    int (*previous_handler)(Display*, XErrorEvent*);
} _pen;

static PLATFORM_PEN_SAMPLE _pen_ring[PEN_RING];
/* Where each kept sample moved the pointer, once the device's next sample told. */
static struct {
    int known;
    float x, y;
} _pen_ring_moved[PEN_RING];
static int _pen_ring_start = 0, _pen_ring_count = 0;
static char _pen_claim[64];
static int _pen_claim_eraser = 0;

/* ------------------------------------------------------------------------ */
/* Recognising and decoding (no server needed)                              */
/* ------------------------------------------------------------------------ */

// 1 when `word` stands in `name` as a whole word, in any case.
static int _pen_has_word(const char* name, const char* word) {
    size_t n = strlen(word);
    for (const char* p = name; *p; p++) {
        if (p != name && isalnum((unsigned char)p[-1])) continue;
        if (strncasecmp(p, word, n) == 0 && !isalnum((unsigned char)p[n])) return 1;
    }
    return 0;
}

int _platform_pen_device_from_info(const XIDeviceInfo* info, const PLATFORM_PEN_ATOMS* atoms,
                                   PLATFORM_PEN_DEVICE* out) {
    __t_assert(info);
    __t_assert(atoms);
    __t_assert(out);
    memset(out, 0, sizeof(*out));
    out->id = info->deviceid;
    snprintf(out->name, sizeof(out->name), "%s", info->name ? info->name : "");
    out->pressure_axis = out->tilt_x_axis = out->tilt_y_axis = -1;
    /* A floating device moves no pointer, so Allegro never sees its events. */
    if (info->use != XISlavePointer || !info->enabled) return 0;
    int absolute = 0;
    for (int i = 0; i < info->num_classes && info->classes; i++) {
        const XIAnyClassInfo* any = info->classes[i];
        if (!any || any->type != XIValuatorClass) continue;
        const XIValuatorClassInfo* v = (const XIValuatorClassInfo*)any;
        if (v->number == 0) absolute = v->mode == XIModeAbsolute;
        /* An unlabelled axis (None) is no axis we know. */
        if (v->label == None || !(v->max > v->min)) continue;
        if (v->label == atoms->pressure) {
            out->pressure_axis = v->number;
            out->pressure_min = v->min;
            out->pressure_max = v->max;
        } else if (v->label == atoms->tilt_x) {
            out->tilt_x_axis = v->number;
            out->tilt_x_min = v->min;
            out->tilt_x_max = v->max;
        } else if (v->label == atoms->tilt_y) {
            out->tilt_y_axis = v->number;
            out->tilt_y_min = v->min;
            out->tilt_y_max = v->max;
        }
    }
    int named_pen = 0, excluded = 0;
    for (const auto& w : _pen_name_words) {
        if (!_pen_has_word(out->name, w.word)) continue;
        named_pen |= w.pen;
        out->eraser |= w.eraser;
        excluded |= w.exclude;
    }
    if (_pen_claim[0] && strstr(out->name, _pen_claim)) {
        out->eraser = _pen_claim_eraser;
        named_pen = 1;
        excluded = 0;
    }
    out->pressure = out->pressure_axis >= 0 ? 0.0f : -1.0f;
    if (excluded) return 0;
    return named_pen || (out->pressure_axis >= 0 && absolute);
}

// Maps a valuator's value from its range onto 0..1.
static float _pen_unit(double value, double min, double max) {
    double t = (value - min) / (max - min);
    if (!(t > 0.0)) return 0.0f; /* also NaN */
    return t >= 1.0 ? 1.0f : (float)t;
}

int _platform_pen_decode(PLATFORM_PEN_DEVICE* device, const XIDeviceEvent* event, double time,
                         PLATFORM_PEN_SAMPLE* out) {
    __t_assert(device);
    __t_assert(event);
    __t_assert(out);
    int kind;
    switch (event->evtype) {
        case XI_Motion: kind = PLATFORM_PEN_MOTION; break;
        case XI_ButtonPress: kind = PLATFORM_PEN_PRESS; break;
        case XI_ButtonRelease: kind = PLATFORM_PEN_RELEASE; break;
        default: return 0;
    }
    if (event->sourceid != device->id) return 0;
    /* Scrolling a pen's emulated wheel is no touch of the tip. */
    if (event->flags & XIPointerEmulated) return 0;
    /* Only the axes that changed are present, packed in the order of the mask. */
    const XIValuatorState* vs = &event->valuators;
    int k = 0;
    for (int i = 0; vs->mask && vs->values && i < vs->mask_len * 8; i++) {
        if (!XIMaskIsSet(vs->mask, i)) continue;
        double value = vs->values[k++];
        if (i == device->pressure_axis)
            device->pressure = _pen_unit(value, device->pressure_min, device->pressure_max);
        else if (i == device->tilt_x_axis)
            device->tilt_x = 2.0f * _pen_unit(value, device->tilt_x_min, device->tilt_x_max) - 1.0f;
        else if (i == device->tilt_y_axis)
            device->tilt_y = 2.0f * _pen_unit(value, device->tilt_y_min, device->tilt_y_max) - 1.0f;
    }
    memset(out, 0, sizeof(*out));
    out->time = time;
    out->server_time = (uint32_t)event->time;
    out->x = (float)event->event_x;
    out->y = (float)event->event_y;
    out->pressure = device->pressure_axis >= 0 ? device->pressure : -1.0f;
    out->has_tilt = device->tilt_x_axis >= 0 || device->tilt_y_axis >= 0;
    out->tilt_x = device->tilt_x_axis >= 0 ? device->tilt_x : 0.0f;
    out->tilt_y = device->tilt_y_axis >= 0 ? device->tilt_y : 0.0f;
    out->eraser = device->eraser;
    out->kind = kind;
    out->button = kind == PLATFORM_PEN_MOTION ? 0 : event->detail;
    out->device = device->id;
    /* The button state is the one before the event. */
    int down = event->buttons.mask_len >= 1 && event->buttons.mask && XIMaskIsSet(event->buttons.mask, 1);
    if (kind != PLATFORM_PEN_MOTION && event->detail == 1) down = kind == PLATFORM_PEN_PRESS;
    out->touching = down ? 1 : 0;
    return 1;
}

int64_t _platform_pen_clock_unwrap(PLATFORM_PEN_CLOCK* clock, uint32_t server_ms) {
    __t_assert_return(clock, 0);
    if (!clock->started) {
        clock->started = 1;
        clock->last_ms = server_ms;
    } else {
        /* Events may come a little out of order: the signed difference. */
        clock->last_ms += (int32_t)(server_ms - clock->last_raw);
    }
    clock->last_raw = server_ms;
    return clock->last_ms;
}

void _platform_pen_clock_observe(PLATFORM_PEN_CLOCK* clock, int64_t server_ms, double local) {
    __t_assert_void(clock);
    double seen = local - (double)server_ms / 1000.0;
    if (!clock->observed) {
        clock->observed = 1;
        clock->window_start = local;
        clock->current_min = seen;
        return;
    }
    if (local - clock->window_start >= _PEN_CLOCK_WINDOW) {
        clock->previous_min = clock->current_min;
        clock->have_previous = 1;
        clock->current_min = seen;
        clock->window_start = local;
    } else if (seen < clock->current_min) {
        clock->current_min = seen;
    }
}

double _platform_pen_clock_map(const PLATFORM_PEN_CLOCK* clock, int64_t server_ms) {
    __t_assert_return(clock, 0.0);
    double offset = clock->current_min;
    if (clock->have_previous && clock->previous_min < offset) offset = clock->previous_min;
    return (double)server_ms / 1000.0 + offset;
}

void _platform_pen_claim_devices(const char* part, int eraser) {
    snprintf(_pen_claim, sizeof(_pen_claim), "%s", part ? part : "");
    _pen_claim_eraser = eraser ? 1 : 0;
}

/* ------------------------------------------------------------------------ */
/* The samples and their matching                                          */
/* ------------------------------------------------------------------------ */

int platform_pen_feed(const PLATFORM_PEN_SAMPLE* sample) {
    __t_assert(sample);
    /* This sample's place is where the device's previous one moved to. */
    for (int i = _pen_ring_count - 1; i >= 0; i--) {
        int at = (_pen_ring_start + i) % PEN_RING;
        if (_pen_ring[at].device != sample->device) continue;
        if (!_pen_ring_moved[at].known) {
            _pen_ring_moved[at].known = 1;
            _pen_ring_moved[at].x = sample->x;
            _pen_ring_moved[at].y = sample->y;
        }
        break;
    }
    int at = (_pen_ring_start + _pen_ring_count) % PEN_RING;
    if (_pen_ring_count == PEN_RING)
        _pen_ring_start = (_pen_ring_start + 1) % PEN_RING;
    else
        _pen_ring_count++;
    _pen_ring[at] = *sample;
    _pen_ring_moved[at].known = 0;
    return 1;
}

void platform_pen_forget(void) { _pen_ring_start = _pen_ring_count = 0; }

int platform_pen_count(void) { return _pen.x ? _pen.device_count : 0; }

// 1 when (x, y) lies within `reach` pixels of (px, py).
static int _pen_near(float x, float y, float px, float py, float reach) {
    float dx = px - x, dy = py - y;
    return dx * dx + dy * dy <= reach * reach;
}

// The kept sample nearest in time to the event among those at its place,
// counting the newest of a device within its reach; -1 for none.
static int _pen_match(double time, float x, float y) {
    int best = -1;
    double best_dt = 0.0;
    /* Oldest to newest, so that of two equally near the later one wins. */
    for (int i = 0; i < _pen_ring_count; i++) {
        int at = (_pen_ring_start + i) % PEN_RING;
        const PLATFORM_PEN_SAMPLE* s = &_pen_ring[at];
        double dt = fabs(s->time - time);
        if (!(dt <= _PEN_MATCH_SECONDS)) continue;
        int here = _pen_near(x, y, s->x, s->y, _PEN_MATCH_PIXELS);
        if (_pen_ring_moved[at].known)
            here |= _pen_near(x, y, _pen_ring_moved[at].x, _pen_ring_moved[at].y, _PEN_MATCH_PIXELS);
        else
            here |= _pen_near(x, y, s->x, s->y, _PEN_REACH_PIXELS);
        if (!here) continue;
        if (best < 0 || dt <= best_dt) {
            best = at;
            best_dt = dt;
        }
    }
    return best;
}

int platform_pen_sample_for(double time, float x, float y, PLATFORM_PEN_SAMPLE* out) {
    __t_assert(out);
    platform_pen_pump();
    int found = _pen_match(time, x, y);
    if (_pen.x && _pen_ring_count > 0) {
        /* The pen's event may still be on its way while Allegro's has
         * arrived: one round trip brings whatever the server sent before. */
        const PLATFORM_PEN_SAMPLE* newest = &_pen_ring[(_pen_ring_start + _pen_ring_count - 1) % PEN_RING];
        if ((found < 0 || time > newest->time) && time - newest->time < _PEN_SYNC_SECONDS) {
            XSync(_pen.x, False);
            platform_pen_pump();
            found = _pen_match(time, x, y);
        }
    }
    if (found < 0) return 0;
    *out = _pen_ring[found];
    return 1;
}

int platform_pen_pressure_for(double time, float x, float y, float* pressure, int* eraser) {
    __t_assert(pressure);
    __t_assert(eraser);
    PLATFORM_PEN_SAMPLE sample;
    if (!platform_pen_sample_for(time, x, y, &sample)) {
        *pressure = -1.0f;
        *eraser = 0;
        return 0;
    }
    *pressure = sample.pressure;
    *eraser = sample.eraser;
    return 1;
}

/* ------------------------------------------------------------------------ */
/* The second connection                                                    */
/* ------------------------------------------------------------------------ */

// Notes an error on the pen connection; others go to the handler in place before.
static int _pen_error_handler(Display* display, XErrorEvent* error) {
    if (display == _pen.x) {
        _pen.x_error = error->error_code;
        return 0;
    }
    return _pen.previous_handler ? _pen.previous_handler(display, error) : 0;
}

// Catches the errors of the requests that follow: a device can vanish between listing and selecting it.
static void _pen_trap_begin(void) {
    _pen.x_error = 0;
    _pen.previous_handler = XSetErrorHandler(_pen_error_handler);
}

// Ends the trap once the server answered; the error code seen, or 0.
static int _pen_trap_end(void) {
    XSync(_pen.x, False);
    XSetErrorHandler(_pen.previous_handler);
    _pen.previous_handler = NULL;
    return _pen.x_error;
}

// 1 when the Wacom driver says the device is an eraser.
static int _pen_tool_is_eraser(int id) {
    if (_pen.tool_type == None || _pen.eraser_type == None) return 0;
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = NULL;
    int eraser = 0;
    if (XIGetProperty(_pen.x, id, _pen.tool_type, 0, 1, False, XA_ATOM, &type, &format, &count, &after,
                      &data) == Success &&
        type == XA_ATOM && format == 32 && count >= 1 && data)
        eraser = *(Atom*)data == _pen.eraser_type;
    if (data) XFree(data);
    return eraser;
}

// Logs a pen that came.
static void _pen_log_found(const PLATFORM_PEN_DEVICE* d) {
    if (d->pressure_axis >= 0)
        t_log(LOG_INFO, "pen found: %s (pressure %g to %g%s%s)", d->name, d->pressure_min, d->pressure_max,
              d->tilt_x_axis >= 0 || d->tilt_y_axis >= 0 ? ", tilt" : "", d->eraser ? ", eraser end" : "");
    else
        t_log(LOG_INFO, "pen found: %s (no pressure%s)", d->name, d->eraser ? ", eraser end" : "");
}

// 1 when two records are the same device: ids are reused once a device left.
static int _pen_same_device(const PLATFORM_PEN_DEVICE* a, const PLATFORM_PEN_DEVICE* b) {
    return a->id == b->id && strcmp(a->name, b->name) == 0;
}

// Lists the pens anew, keeps what it knew of those that stay, and selects their events on the window.
static void _pen_scan(int first) {
    int count = 0;
    _pen_trap_begin();
    XIDeviceInfo* infos = XIQueryDevice(_pen.x, XIAllDevices, &count);
    PLATFORM_PEN_DEVICE found[PEN_DEVICES];
    int n = 0;
    for (int i = 0; infos && i < count && n < PEN_DEVICES; i++) {
        if (!_platform_pen_device_from_info(&infos[i], &_pen.atoms, &found[n])) continue;
        if (_pen_tool_is_eraser(found[n].id)) found[n].eraser = 1;
        for (int j = 0; j < _pen.device_count; j++) {
            const PLATFORM_PEN_DEVICE* old = &_pen.devices[j];
            if (_pen_same_device(old, &found[n])) {
                found[n].pressure = old->pressure;
                found[n].tilt_x = old->tilt_x;
                found[n].tilt_y = old->tilt_y;
            }
        }
        n++;
    }
    if (infos) XIFreeDeviceInfo(infos);
    /* Selections of devices that left go with them; the others are set again. */
    unsigned char bits[PEN_DEVICES][XIMaskLen(XI_LASTEVENT)];
    XIEventMask masks[PEN_DEVICES];
    memset(bits, 0, sizeof(bits));
    for (int i = 0; i < n; i++) {
        XISetMask(bits[i], XI_Motion);
        XISetMask(bits[i], XI_ButtonPress);
        XISetMask(bits[i], XI_ButtonRelease);
        XISetMask(bits[i], XI_DeviceChanged);
        masks[i].deviceid = found[i].id;
        masks[i].mask_len = (int)sizeof(bits[i]);
        masks[i].mask = bits[i];
    }
    if (n > 0) XISelectEvents(_pen.x, _pen.window, masks, n);
    int error = _pen_trap_end();
    if (error) t_log(LOG_DEBUG, "pen scan: X error %d (a device left meanwhile)", error);

    for (int i = 0; i < _pen.device_count; i++) {
        int stays = 0;
        for (int j = 0; j < n; j++) stays |= _pen_same_device(&found[j], &_pen.devices[i]);
        if (!stays) t_log(LOG_INFO, "pen removed: %s", _pen.devices[i].name);
    }
    for (int j = 0; j < n; j++) {
        int known = 0;
        for (int i = 0; i < _pen.device_count; i++)
            known |= _pen_same_device(&found[j], &_pen.devices[i]);
        if (!known) _pen_log_found(&found[j]);
    }
    memcpy(_pen.devices, found, sizeof(found[0]) * (size_t)n);
    _pen.device_count = n;
    if (first && n == 0) t_log(LOG_INFO, "pen input: no pen found, watching for one to be plugged in");
}

// Turns one device event into a sample.
static void _pen_take(const XIDeviceEvent* event) {
    if (event->event != _pen.window) return;
    for (int i = 0; i < _pen.device_count; i++) {
        PLATFORM_PEN_DEVICE* device = &_pen.devices[i];
        if (device->id != event->sourceid) continue;
        int64_t ms = _platform_pen_clock_unwrap(&_pen.clock, (uint32_t)event->time);
        _platform_pen_clock_observe(&_pen.clock, ms, al_get_time());
        PLATFORM_PEN_SAMPLE sample;
        if (_platform_pen_decode(device, event, _platform_pen_clock_map(&_pen.clock, ms), &sample))
            platform_pen_feed(&sample);
        return;
    }
}

void platform_pen_pump(void) {
    if (!_pen.x) return;
    int rescan = 0;
    while (XPending(_pen.x) > 0) {
        XEvent event;
        XNextEvent(_pen.x, &event);
        XGenericEventCookie* cookie = &event.xcookie;
        if (cookie->type != GenericEvent || cookie->extension != _pen.opcode) continue;
        if (!XGetEventData(_pen.x, cookie)) continue;
        switch (cookie->evtype) {
            case XI_Motion:
            case XI_ButtonPress:
            case XI_ButtonRelease:
                _pen_take((const XIDeviceEvent*)cookie->data);
                break;
            case XI_HierarchyChanged:
            case XI_DeviceChanged:
                /* A pen came or went, or a device's axes changed (another tool). */
                rescan = 1;
                break;
            default:
                break;
        }
        XFreeEventData(_pen.x, cookie);
    }
    if (rescan) _pen_scan(0);
}

int platform_pen_start(ALLEGRO_DISPLAY* display) {
    __t_assert(display);
    if (_pen.x) return 1;
    Window window = (Window)al_get_x_window_id(display);
    if (!window) {
        t_log(LOG_INFO, "pen input off: the display has no X window");
        return 0;
    }
    Display* x = XOpenDisplay(NULL);
    if (!x) {
        t_log(LOG_INFO, "pen input off: a second connection to the X display %s could not be opened",
              XDisplayName(NULL));
        return 0;
    }
    int opcode = 0, first_event = 0, first_error = 0;
    if (!XQueryExtension(x, "XInputExtension", &opcode, &first_event, &first_error)) {
        t_log(LOG_INFO, "pen input off: the X server has no XInput extension");
        XCloseDisplay(x);
        return 0;
    }
    int major = 2, minor = 0;
    if (XIQueryVersion(x, &major, &minor) != Success || major < 2) {
        t_log(LOG_INFO, "pen input off: the X server's XInput %d.%d is older than 2.0", major, minor);
        XCloseDisplay(x);
        return 0;
    }
    memset(&_pen, 0, sizeof(_pen));
    _pen.x = x;
    _pen.window = window;
    _pen.opcode = opcode;
    char* names[] = {(char*)"Abs Pressure", (char*)"Abs Tilt X", (char*)"Abs Tilt Y"};
    Atom atoms[3] = {None, None, None};
    XInternAtoms(x, names, 3, False, atoms);
    _pen.atoms.pressure = atoms[0];
    _pen.atoms.tilt_x = atoms[1];
    _pen.atoms.tilt_y = atoms[2];
    /* Only present where the Wacom driver runs. */
    _pen.tool_type = XInternAtom(x, "Wacom Tool Type", True);
    _pen.eraser_type = XInternAtom(x, "ERASER", True);

    unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {0};
    XISetMask(bits, XI_HierarchyChanged);
    XIEventMask mask = {XIAllDevices, (int)sizeof(bits), bits};
    XISelectEvents(x, DefaultRootWindow(x), &mask, 1);
    _pen_scan(1);
    return 1;
}

void platform_pen_stop(void) {
    if (!_pen.x) return;
    XCloseDisplay(_pen.x);
    memset(&_pen, 0, sizeof(_pen));
    platform_pen_forget();
}
