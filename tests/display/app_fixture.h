/* app_fixture: an application record on the test display in the canvas
 * state, with one document of one layer and every tool record initialised,
 * as the display tests of the shell start from. */
#pragma once
#include "app_state.h"
#include "plumaro_app.h"
#include "test_support.h"

// Fills `app` for a 320 x 240 display and a square document; 0 when there is no display or document.
inline int test_app_on_canvas(PLUMARO_APP* app, int doc_side) {
    if (!test_display()) return 0;
    plumaro_app_start_values(app); /* the view at 1:1: screen and canvas coincide */
    app->display = test_display();
    app->display_w = 320;
    app->display_h = 240;
    DOCUMENT* doc = document_new(doc_side, doc_side);
    if (!doc) return 0;
    plumaro_app_start_document(app, doc);
    if (!document_add_layer(app->doc, "Layer 1")) return 0;
    app->state = app_state_get(APP_STATE_CANVAS);
    app->state_id = APP_STATE_CANVAS;
    return 1;
}
