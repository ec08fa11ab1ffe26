/* app_tools: pointer input for the fill, gradient, selection, line and curve
 * tools and for floating selections, their on-canvas guides, and the
 * clipboard and form commands. */
#pragma once

#include "plumaro_app.h"

/* Left press for tools 1 to 6 at canvas point (px, py); 1 when handled here. */
int _tools_press(PLUMARO_APP* app, float px, float py);
/* Motion of a form or selection drag; 1 when handled here. */
int _tools_motion(PLUMARO_APP* app);
/* Left release: selection drags; 1 when it ends the release's handling. */
int _tools_release_selection(PLUMARO_APP* app);
/* Left release: gradient, form drags and creation, the deferred fill. */
void _tools_release(PLUMARO_APP* app, float sx, float sy);
/* A two-finger gesture cancels what the tools were doing. */
void _tools_gesture_cancel(PLUMARO_APP* app);
/* The form preview painted into the stroke buffer (drawing step 1). */
void _tools_form_preview(PLUMARO_APP* app);
/* Gradient guide, form overlay and creation guide (drawing step 8). */
void _tools_draw_guides(PLUMARO_APP* app);
/* Commits a floating selection and a pending form, as before saving or undoing. */
void _tools_commit_pending(PLUMARO_APP* app);

/* Copies the floating selection into the internal clipboard image. */
int plumaro_app_clipboard_copy(PLUMARO_APP* app);
/* Copies, then removes the floating selection. */
int plumaro_app_clipboard_cut(PLUMARO_APP* app);
/* Pastes the clipboard image as a new float 16 px down and right of the last. */
int plumaro_app_clipboard_paste(PLUMARO_APP* app);
/* Paints the active form with the brush as one stroke, then clears it. */
void plumaro_app_commit_form(PLUMARO_APP* app);
/* Clears the active form without painting. */
void plumaro_app_cancel_form(PLUMARO_APP* app);
