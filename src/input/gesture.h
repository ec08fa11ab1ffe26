/* gesture: two-finger touch navigation (pan, pinch zoom, twist rotate about
 * the point between the fingers) and the flag that blocks painting meanwhile. */
#pragma once
#include <allegro5/allegro.h>
#include <stdint.h>

#include "canvas/view.h"

#define GESTURE_MAX_TOUCHES 8

typedef struct GESTURE_TOUCH {
    int32_t id; /* -1: free slot */
    float x, y; /* last screen position */
} GESTURE_TOUCH;

typedef struct GESTURE {
    GESTURE_TOUCH touches[GESTURE_MAX_TOUCHES];
    int32_t count;      /* active touches */
    uint8_t navigating; /* two-finger navigation in progress; strokes blocked */
} GESTURE;

/* Frees every slot and clears the navigation. */
int gesture_init(GESTURE* gesture);
/* Feeds one event; 1 for touch events (handled or ignored), 0 for anything else. */
int gesture_handle_event(GESTURE* gesture, const ALLEGRO_EVENT* event, VIEW* view);
/* 1 while a navigation blocks painting. */
int gesture_blocks_strokes(const GESTURE* gesture);
/* Ends the navigation; the touches stay recorded. */
void gesture_cancel_navigation(GESTURE* gesture);
