/* The settings record reader on any bytes, with the short-file rules and the
 * clamping the start-up applies. The state it reads must be written as a
 * record that reads to the same state. */
#include <string.h>

#include "app_persist.h"
#include "app_start_values.h"
#include "fuzz_support.h"
#include "gui/i18n.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz_init();
    return 0;
}

// The record a start-up holds before any file is read.
static void _start_values(PLUMARO_APP* app) {
    test_app_start_values(app);
    i18n_set_language(0);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static PLUMARO_APP app, back;
    _start_values(&app);
    int taken = plumaro_app_settings_apply(&app, data, size);
    FUZZ_CHECK(taken == (size >= 16 && memcmp(data, "PSET", 4) == 0));
    if (!taken) return 0;
    FUZZ_CHECK(app.language >= 0 && app.language <= 4 && i18n_language() == app.language);
    FUZZ_CHECK(app.ui_size >= 0 && app.ui_size <= 3);

    uint8_t record[APP_SETTINGS_SIZE];
    plumaro_app_settings_encode(&app, record);
    _start_values(&back);
    /* A short record leaves the rest at the start values, which are no
     * file's: only the fields it had are read back. */
    FUZZ_CHECK(plumaro_app_settings_apply(&back, record, size >= 120 ? APP_SETTINGS_SIZE : 20));
    /* Both records began zeroed, padding included, and were set field by field. */
    FUZZ_CHECK(memcmp(&app, &back, sizeof(app)) == 0);
    FUZZ_CHECK(back.settings_applied == (size >= 120));
    return 0;
}
