/* app_state: the table of application states (splash, canvas) and the switch. */
#pragma once

#include "plumaro_app.h"

#define APP_STATE_SPLASH 0
#define APP_STATE_CANVAS 1
#define APP_SPLASH_SECONDS 2.0

typedef struct APP_STATE {
    const char* name;
    void (*enter)(PLUMARO_APP* app);
    void (*handle_event)(PLUMARO_APP* app, ALLEGRO_EVENT* event);
    void (*update)(PLUMARO_APP* app, double dt);
    void (*draw)(PLUMARO_APP* app);
    void (*leave)(PLUMARO_APP* app);
} APP_STATE;

/* The state of id 0 or 1; null and a log line for any other id. */
const APP_STATE* app_state_get(int id);
/* Leaves the current state and enters another; 1 after switching. */
int app_state_switch(PLUMARO_APP* app, int id);
