/* app_start_values: the application record as start-up holds it before any
 * settings or palette file is read, for the tests and fuzz targets that
 * read those files into it. */
#pragma once
#include <string.h>

#include "plumaro_app.h"

static inline void test_app_start_values(PLUMARO_APP* app) {
    memset(app, 0, sizeof(*app));
    brush_defaults(&app->brush);
    app->brush_preset = -1;
    app->ui_size = 1;
    grid_init(&app->grid);
    symmetry_init(&app->symmetry, NULL);
    palette_set_defaults(&app->palette);
}
