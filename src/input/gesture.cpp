/* gesture: turns touch events into view changes. Each event moves one finger
 * with its partner held still, so the pair's change is applied in turns. */
#include "input/gesture.h"

#include <math.h>

#include "t_log.h"

int gesture_init(GESTURE* gesture) {
    __t_assert(gesture);
    for (int i = 0; i < GESTURE_MAX_TOUCHES; i++) {
        gesture->touches[i].id = -1;
        gesture->touches[i].x = 0.0f;
        gesture->touches[i].y = 0.0f;
    }
    gesture->count = 0;
    gesture->navigating = 0;
    return 1;
}

int gesture_blocks_strokes(const GESTURE* gesture) {
    __t_assert(gesture);
    return gesture->navigating;
}

void gesture_cancel_navigation(GESTURE* gesture) {
    __t_assert_void(gesture);
    gesture->navigating = 0;
}

// Slot of an active touch, lowest first; -1 when unknown.
static int _gesture_find(const GESTURE* gesture, int id) {
    if (id < 0) return -1;
    for (int i = 0; i < GESTURE_MAX_TOUCHES; i++)
        if (gesture->touches[i].id == id) return i;
    return -1;
}

// Records a new finger; a second one starts a navigation.
static void _gesture_begin(GESTURE* gesture, int id, float x, float y) {
    if (id < 0) return; /* the free-slot marker cannot name a touch */
    for (int i = 0; i < GESTURE_MAX_TOUCHES; i++) {
        if (gesture->touches[i].id != -1) continue;
        gesture->touches[i].id = id;
        gesture->touches[i].x = x;
        gesture->touches[i].y = y;
        gesture->count++;
        if (gesture->count >= 2) gesture->navigating = 1;
        return;
    }
}

// Forgets a finger; navigation ends only when the last one lifts.
static void _gesture_end(GESTURE* gesture, int id) {
    int slot = _gesture_find(gesture, id);
    if (slot < 0) return;
    gesture->touches[slot].id = -1;
    gesture->touches[slot].x = 0.0f;
    gesture->touches[slot].y = 0.0f;
    if (gesture->count <= 1) {
        gesture->count = 0;
        gesture->navigating = 0;
    } else {
        gesture->count--;
    }
}

// Difference of two angles brought into [-pi, pi], so crossing the
// negative x axis turns a little instead of a full turn back.
static float _gesture_angle_delta(float to, float from) {
    double d = (double)to - (double)from;
    while (d > M_PI) d -= 2.0 * M_PI;
    while (d < -M_PI) d += 2.0 * M_PI;
    return (float)d;
}

// Applies one finger's motion to the view while its partner stays put.
static void _gesture_move(GESTURE* gesture, int id, float nx, float ny, VIEW* view) {
    int slot = _gesture_find(gesture, id);
    if (slot < 0) return;
    if (gesture->navigating) {
        int first = -1, second = -1;
        for (int i = 0; i < GESTURE_MAX_TOUCHES && second < 0; i++) {
            if (gesture->touches[i].id == -1) continue;
            if (first < 0)
                first = i;
            else
                second = i;
        }
        int partner = -1;
        if (second >= 0) {
            if (slot == first) partner = second;
            else if (slot == second) partner = first;
        }
        if (partner >= 0) {
            float px = gesture->touches[slot].x, py = gesture->touches[slot].y;
            float qx = gesture->touches[partner].x, qy = gesture->touches[partner].y;
            float m0x = (px + qx) * 0.5f, m0y = (py + qy) * 0.5f;
            float m1x = (nx + qx) * 0.5f, m1y = (ny + qy) * 0.5f;
            view_pan(view, m1x - m0x, m1y - m0y);
            float d0 = hypotf(px - qx, py - qy);
            if (d0 > 1.0f) {
                float d1 = hypotf(nx - qx, ny - qy);
                if (d1 > 1.0f) {
                    view_zoom_at(view, d1 / d0, m1x, m1y);
                    float turn = _gesture_angle_delta(atan2f(ny - qy, nx - qx), atan2f(py - qy, px - qx));
                    view_rotate_at(view, turn, m1x, m1y);
                }
            }
        }
    }
    gesture->touches[slot].x = nx;
    gesture->touches[slot].y = ny;
}

int gesture_handle_event(GESTURE* gesture, const ALLEGRO_EVENT* event, VIEW* view) {
    __t_assert(gesture);
    __t_assert(event);
    __t_assert(view);
    switch (event->type) {
        case ALLEGRO_EVENT_TOUCH_BEGIN: _gesture_begin(gesture, event->touch.id, event->touch.x, event->touch.y); return 1;
        case ALLEGRO_EVENT_TOUCH_END:
        case ALLEGRO_EVENT_TOUCH_CANCEL: _gesture_end(gesture, event->touch.id); return 1;
        case ALLEGRO_EVENT_TOUCH_MOVE: _gesture_move(gesture, event->touch.id, event->touch.x, event->touch.y, view); return 1;
        default: return 0;
    }
}
