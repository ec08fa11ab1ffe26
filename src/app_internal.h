/* app_internal: the shell's own steps, shared by its source files (the
 * states, the tool routing, the commands) and the interface, and reached by
 * the tests; not part of what the rest of the program calls. */
#pragma once

#include "plumaro_app.h"

/* ---- plumaro_app ---- */
/* Loads the interface font for the current scale; 1 when a font is loaded. */
int _app_load_font(PLUMARO_APP* app);
/* Gives the display the window icon; failures are only logged. */
void _app_set_window_icon(PLUMARO_APP* app);

/* ---- app_state: the splash and canvas states ---- */
void _splash_enter(PLUMARO_APP* app);
void _splash_handle_event(PLUMARO_APP* app, ALLEGRO_EVENT* event);
void _splash_update(PLUMARO_APP* app, double dt);
void _splash_draw(PLUMARO_APP* app);
void _canvas_enter(PLUMARO_APP* app);
void _canvas_handle_event(PLUMARO_APP* app, ALLEGRO_EVENT* event);
void _canvas_draw(PLUMARO_APP* app);
void _canvas_leave(PLUMARO_APP* app);
/* Seconds of pointer movement the stabilizer averages at a strength (0..100). */
double _canvas_stabilizer_window(int strength);
void _canvas_update(PLUMARO_APP* app, double dt);
/* Lets the painted point catch up with a pointer that has rested since its
 * last event, up to `now` (seconds, the clock of the event times). */
void _canvas_stabilizer_rest(PLUMARO_APP* app, double now);

/* ---- app_tools: input of the tools other than the brush ---- */
/* Left press for tools 1 to 6 at canvas point (px, py); 1 when handled here. */
int _tools_press(PLUMARO_APP* app, float px, float py);
/* Motion of a form or selection drag; 1 when handled here. */
int _tools_motion(PLUMARO_APP* app);
/* Left release: selection drags; 1 when it ends the release's handling. */
int _tools_release_selection(PLUMARO_APP* app);
/* Left release: gradient, form drags and creation, the deferred fill. */
void _tools_release(PLUMARO_APP* app, float sx, float sy);
/* Ends a form handle drag and a selection drag: a marquee or lasso being
 * drawn is dropped, a floating drag ends where it is. */
void _tools_end_drags(PLUMARO_APP* app);
/* The form preview painted into the stroke buffer (drawing step 1). */
void _tools_form_preview(PLUMARO_APP* app);
/* Gradient guide, form overlay and creation guide (drawing step 8). */
void _tools_draw_guides(PLUMARO_APP* app);

/* ---- app_commands ---- */
/* Loads a file the platform handed in, if any, and tells the user how it went. */
void _app_drain_import(PLUMARO_APP* app);
/* The steps of plumaro_app_new_document after the display's limit was read
 * (0 or less: no limit); exposed so tests can try any limit. */
int _app_new_document_within(PLUMARO_APP* app, int size, int max_bitmap_size);
/* A free name "session-<kind>-YYYYMMDD-HHMMSS[-n].plm" in the save folder,
 * with its full path; 0 when none can be had. */
int _app_dated_save_name(const char* kind, char* name, size_t name_size, char* path, size_t path_size);
/* Frees the current document and puts `doc` in its place, in a clean state. */
void _app_adopt_document(PLUMARO_APP* app, DOCUMENT* doc);

