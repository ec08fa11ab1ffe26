/* main: the entry point. */
#include "plumaro_app.h"
#include "t_log.h"

static PLUMARO_APP app;

int main(int argc, char** argv) {
    if (!plumaro_app_init(&app, argc, argv)) {
        t_log(LOG_EMERG, "init failed, exiting");
        plumaro_app_shutdown(&app);
        return 1;
    }
    plumaro_app_run(&app);
    plumaro_app_shutdown(&app);
    return app.exit_status; /* not 0 when the drawing could not be stored */
}
