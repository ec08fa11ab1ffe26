/* app_tools: pointer input for the fill, gradient, selection, line and curve
 * tools and for floating selections, their on-canvas guides, and the
 * clipboard and form commands. */
#pragma once

#include "plumaro_app.h"

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
