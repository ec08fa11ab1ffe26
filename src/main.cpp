/* main: the entry point. */
#include "plumaro_app.h"
#include "t_log.h"

static PLUMARO_APP app;

int main(int argc, char** argv) {
    int answered = plumaro_app_command_line(argc, argv, stdout, stderr);
    if (answered >= 0) return answered;
    if (!plumaro_app_init(&app, argc, argv)) {
        t_log(LOG_EMERG, "init failed, exiting");
        plumaro_app_shutdown(&app);
        return 1;
    }
    plumaro_app_run(&app);
    plumaro_app_shutdown(&app);
    return app.exit_status; /* not 0 when the drawing could not be stored */
}
