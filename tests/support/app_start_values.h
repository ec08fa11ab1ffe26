/* app_start_values: the application record as start-up holds it before any
 * settings or palette file is read, for the tests and fuzz targets that
 * read those files into it. */
#pragma once
#include "plumaro_app.h"

static inline void test_app_start_values(PLUMARO_APP* app) { plumaro_app_start_values(app); }
