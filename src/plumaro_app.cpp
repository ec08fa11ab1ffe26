/* plumaro_app: start-up, the event loop, halt and resume, and shutdown. */
#include "plumaro_app.h"

#include <allegro5/allegro_image.h>
#include <allegro5/allegro_primitives.h>
#include <allegro5/allegro_ttf.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>

#include "app_cli.h"
#include "app_commands.h"
#include "app_internal.h"
#include "app_persist.h"
#include "app_state.h"
#include "app_tools.h"
#include "canvas/compositor.h"
#include "canvas/undo.h"
#include "gui/gui.h"
#include "gui/i18n.h"
#include "platform/platform.h"
#include "platform/platform_pen.h"
#include "t_log.h"
#include "t_str.h"

/* ------------------------------------------------------------------------ */
/* Interface scale and font                                                 */
/* ------------------------------------------------------------------------ */

float plumaro_app_ui_scale_for(float density, int overridden, int ui_size) {
    static const float factors[4] = {0.85f, 1.0f, 1.15f, 1.3f};
    float base = 1.0f;
    if (overridden) {
        base = density / 1.5f;
        if (base < 1.0f) base = 1.0f;
        if (base > 2.5f) base = 2.5f;
    }
    static_assert(sizeof(factors) / sizeof(factors[0]) == APP_RANGE_UI_SIZE.max + 1, "a factor for each size");
    return base * factors[app_range_clamp(APP_RANGE_UI_SIZE, ui_size)];
}

void plumaro_app_update_ui_scale(PLUMARO_APP* app) {
    __t_assert_void(app);
    app->ui_scale =
        plumaro_app_ui_scale_for(platform_display_density(), platform_density_overridden(), app->ui_size);
}

int plumaro_app_font_size(float ui_scale) {
    int size = (int)(18.0f * ui_scale + 0.5f);
    return size < 8 ? 8 : size;
}

int _app_load_font(PLUMARO_APP* app) {
    __t_assert(app);
    const char* resource = "fonts/DejaVuSans.ttf";
    char path[1024];
    if (!platform_asset_path(resource, path, sizeof(path))) {
        t_log(LOG_ERR, "could not resolve font resource %s", resource);
        return 0;
    }
    ALLEGRO_FONT* font =
        t_file_is_regular(path) ? al_load_ttf_font(path, plumaro_app_font_size(app->ui_scale), 0) : NULL;
    if (!font) {
        t_log(LOG_ERR, "could not load font %s%s", path, app->font ? ", keeping previous font" : "");
        return 0;
    }
    if (app->font) al_destroy_font(app->font);
    app->font = font;
    return 1;
}

void _app_set_window_icon(PLUMARO_APP* app) {
    __t_assert_void(app);
    __t_assert_void(app->display);
    const char* resource = "icons/plumaro.png";
    char path[1024];
    if (!platform_asset_path(resource, path, sizeof(path))) {
        t_log(LOG_NOTICE, "could not resolve icon resource %s", resource);
        return;
    }
    ALLEGRO_BITMAP* icon = t_file_is_regular(path) ? al_load_bitmap(path) : NULL;
    if (!icon) {
        t_log(LOG_NOTICE, "window icon not found at %s", path);
        return;
    }
    al_set_display_icon(app->display, icon);
    al_destroy_bitmap(icon);
}

int plumaro_app_first_canvas_side(int max_bitmap_size) {
    if (max_bitmap_size >= 1 && max_bitmap_size < PLUMARO_FIRST_CANVAS_MAX) return max_bitmap_size;
    return PLUMARO_FIRST_CANVAS_MAX;
}

// 1 while either of two keys is down on the real keyboard.
static int _app_keyboard_down(int left, int right) {
    if (!al_is_keyboard_installed()) return 0;
    ALLEGRO_KEYBOARD_STATE keys;
    al_get_keyboard_state(&keys);
    return al_key_down(&keys, left) || al_key_down(&keys, right);
}

int plumaro_app_ctrl_down(const PLUMARO_APP* app) {
    __t_assert(app);
    return app->ctrl_held || _app_keyboard_down(ALLEGRO_KEY_LCTRL, ALLEGRO_KEY_RCTRL);
}

int plumaro_app_shift_down(const PLUMARO_APP* app) {
    __t_assert(app);
    return app->shift_held || _app_keyboard_down(ALLEGRO_KEY_LSHIFT, ALLEGRO_KEY_RSHIFT);
}

int plumaro_app_capturing(const PLUMARO_APP* app) {
    if (!app) return 0;
    const APP_DRAG* d = &app->drag;
    return app->stroke.active || app->selection.dragging || app->form.dragging || d->gradient_dragging ||
           d->form_creating || d->symmetry_dragging || d->fill_pending || d->panning || d->sampling;
}

// Forgets the keys held down: their releases happen where this window cannot see them.
static void _app_forget_keys(PLUMARO_APP* app) { app->ctrl_held = app->shift_held = app->space_held = 0; }

/* ------------------------------------------------------------------------ */
/* What the shell tells the interface                                        */
/* ------------------------------------------------------------------------ */

void plumaro_app_notice(PLUMARO_APP* app, int kind, const char* text) {
    __t_assert_void(app);
    __t_assert_void(text);
    t_log(LOG_NOTICE, "%s", text);
    if (app->notice_count >= APP_NOTICES_MAX) {
        memmove(&app->notices[0], &app->notices[1], sizeof(app->notices[0]) * (APP_NOTICES_MAX - 1));
        app->notice_count = APP_NOTICES_MAX - 1;
    }
    APP_NOTICE* notice = &app->notices[app->notice_count++];
    notice->kind = kind == APP_NOTICE_FAILURE ? APP_NOTICE_FAILURE : APP_NOTICE_INFO;
    snprintf(notice->text, sizeof(notice->text), "%s", text);
    app->dirty = 1;
    app->gui_cache_valid = 0;
}

int plumaro_app_take_notice(PLUMARO_APP* app, APP_NOTICE* out) {
    __t_assert(app);
    __t_assert(out);
    if (app->notice_count <= 0) return 0;
    *out = app->notices[0];
    app->notice_count--;
    memmove(&app->notices[0], &app->notices[1], sizeof(app->notices[0]) * (size_t)app->notice_count);
    return 1;
}

void plumaro_app_changed(PLUMARO_APP* app, uint32_t what) {
    __t_assert_void(app);
    app->changed |= what;
    app->dirty = 1;
    app->gui_cache_valid = 0;
}

/* ------------------------------------------------------------------------ */
/* Start-up                                                                  */
/* ------------------------------------------------------------------------ */

// Installs the mouse: 1, 0 when it cannot be, -1 when Allegro could not be started again.
static int _app_install_mouse(void) {
    /* Allegro carries on without the X server when it cannot connect at
     * start, and only the mouse then fails. A test server that resets when
     * its last client leaves refuses connections for a moment, so the
     * connection is tried again a few times before giving up. */
    for (int attempt = 1;; attempt++) {
        if (al_install_mouse()) return 1;
        if (attempt >= 5) return 0;
        t_log(LOG_WARNING, "could not install mouse (no display connection?), retrying (%d)", attempt);
        al_rest(0.25 * attempt);
        al_uninstall_system();
        if (!al_init()) return -1;
        al_set_app_name("Plumaro");
    }
}

// Tells what low memory cost the undo history.
static void _app_undo_notice(const char* text, void* user) {
    PLUMARO_APP* app = (PLUMARO_APP*)user;
    if (app) plumaro_app_notice(app, APP_NOTICE_FAILURE, i18n_tr(text));
}

/* The settings just read (or none, at a start whose storage is not ready
 * yet) take effect: the interface's scale and font follow its size; at
 * start the interface is built with them, later it is rebuilt at its next
 * draw; then, once settings were read, a language is asked for while none
 * is chosen and the stored window layout is read. 0 when the font or the
 * interface cannot be made at start. */
static int _app_take_settings(PLUMARO_APP* app, int starting) {
    plumaro_app_update_ui_scale(app);
    int font = _app_load_font(app);
    if (starting) {
        if (!font) return 0; /* the font said why */
        if (!plumaro_gui_init(app)) {
            t_log(LOG_EMERG, "could not create gui");
            return 0;
        }
    } else {
        plumaro_gui_sync(app);
        app->gui_rebuild_pending = 1;
    }
    if (!app->settings_pending) {
        if (app->language == LANG_UNSET) plumaro_gui_request_language_choice(app);
        plumaro_gui_layout_restore(app);
    }
    app->dirty = 1;
    return 1;
}

// Logs a start-up failure at EMERG and fails the start.
#define _INIT_FAIL(...)                \
    do {                               \
        t_log(LOG_EMERG, __VA_ARGS__); \
        return 0;                      \
    } while (0)

static const char _app_usage[] =
    "Usage: plumaro [options] [file]\n"
    "       plumaro --export OUTPUT INPUT\n"
    "       plumaro --thumbnail INPUT OUTPUT SIZE\n"
    "\n"
    "A layered sketching and painting program. The file may be a drawing (.plm),\n"
    "an OpenRaster archive (.ora) or a picture (PNG, JPEG, BMP, TGA); it opens in\n"
    "place of the last session, which otherwise comes back as it was left.\n"
    "\n"
    "Options:\n"
    "  -v          write debugging detail to the log\n"
    "  --help      show this text and exit\n"
    "  --version   show the version and exit\n"
    "  --export OUTPUT INPUT\n"
    "              write INPUT (a drawing, an OpenRaster archive or a picture, as\n"
    "              a path or a file: URI) as OUTPUT, told by its extension: .png\n"
    "              the composite with its page template, .ora or .plm the layers;\n"
    "              no window opens and the save folder and session stay as they are\n"
    "  --thumbnail INPUT OUTPUT SIZE\n"
    "              write a PNG of INPUT's composite at most SIZE pixels on its\n"
    "              longer side, as file managers ask for\n"
    "\n"
    "Both commands need no display; they end with status 0, or with 1 and a\n"
    "one-line reason, having written nothing.\n"
    "\n"
    "Environment:\n"
    "  APPDATA                    parent of the save folder (otherwise $XDG_DATA_HOME\n"
    "                             or ~/.local/share)\n"
    "  PLUMARO_NO_NATIVE_CHOOSER  never show the native file chooser\n"
    "  PLUMARO_FILE_CHOICE        answer every file chooser with this path\n"
    "  PLUMARO_TEST_DENSITY       display density used for the interface scale\n"
    "  PLUMARO_NO_REVEAL          do not open exported files with the desktop's viewer\n"
    "  PLUMARO_UNDO_MB            memory the undo history may hold, in MiB (default 2048)\n"
    "  PLUMARO_MAX_DOC_MB         largest drawing to open or create, in MiB of memory\n"
    "  NO_COLOR                   no colour codes in the log\n";

int plumaro_app_command_line(int argc, char** argv, FILE* out, FILE* err) {
    int files = 0;
    for (int i = 1; argv && i < argc; i++) {
        const char* a = argv[i];
        if (!a) continue;
        if (strcmp(a, "--help") == 0 || strcmp(a, "-h") == 0) {
            fputs(_app_usage, out);
            return 0;
        }
        if (strcmp(a, "--version") == 0) {
            fprintf(out, "Plumaro %s\n", PLUMARO_VERSION_TEXT);
            return 0;
        }
        if (strcmp(a, "--") == 0) {
            files += argc - i - 1;
            break;
        }
        if (plumaro_app_cli_is_command(a)) return plumaro_app_cli_run(argc, argv, out, err);
        if (a[0] == '-' && a[1] && strcmp(a, "-v") != 0) {
            fprintf(err, "plumaro: unknown option %s\n%s", a, _app_usage);
            return 2;
        }
        if (a[0] != '-') files++;
    }
    if (files > 1) {
        fprintf(err, "plumaro: one file at a time, not %d\n", files);
        return 2;
    }
    return -1;
}

// The file named on the command line, if any, handed to the platform to open at the first tick.
static void _app_hand_in_argument(int argc, char** argv) {
    for (int i = 1; argv && i < argc; i++) {
        const char* a = argv[i];
        if (!a) continue;
        if (strcmp(a, "--") == 0) {
            if (i + 1 < argc && argv[i + 1]) platform_hand_in(argv[i + 1]);
            return;
        }
        if (a[0] != '-' || !a[1]) {
            if (a[0]) platform_hand_in(a);
            return;
        }
    }
}

void plumaro_app_start_values(PLUMARO_APP* app) {
    __t_assert_void(app);
    memset(app, 0, sizeof(*app));
    app->gui_visible = 1;
    app->ui_size = 1;
    app->ui_scale = 1.0f;
    app->tool = TOOL_BRUSH;
    app->brush_preset = -1;
    brush_defaults(&app->brush);
    view_init(&app->view);
    gesture_init(&app->gesture);
    grid_init(&app->grid);
    symmetry_init(&app->symmetry, NULL);
    selection_init(&app->selection);
    form_init(&app->form);
    palette_set_defaults(&app->palette);
}

void plumaro_app_start_document(PLUMARO_APP* app, DOCUMENT* doc) {
    __t_assert_void(app);
    __t_assert_void(doc);
    app->doc = doc;
    symmetry_init(&app->symmetry, doc);
}

int plumaro_app_init(PLUMARO_APP* app, int argc, char** argv) {
    __t_assert(app);
    plumaro_app_start_values(app);

    log_set_level(LOG_INFO);
    for (int i = 1; argv && i < argc; i++)
        if (argv[i] && strcmp(argv[i], "-v") == 0) log_set_level(LOG_DEBUG);
    t_log(LOG_INFO, "Plumaro %s starting", PLUMARO_VERSION_TEXT);
    /* Past a file size limit a write must fail (and be reported) rather
     * than end the program halfway through a save. */
    signal(SIGXFSZ, SIG_IGN);

    if (!al_init()) _INIT_FAIL("could not init Allegro");
    al_set_app_name("Plumaro");
    int mouse = _app_install_mouse();
    if (mouse < 0) _INIT_FAIL("could not init Allegro");
    if (mouse == 0) _INIT_FAIL("could not install mouse");
    if (!platform_init()) _INIT_FAIL("platform init failed");
    _app_hand_in_argument(argc, argv);
    if (!al_init_image_addon()) _INIT_FAIL("could not init image addon");
    if (!al_init_font_addon() || !al_init_ttf_addon()) _INIT_FAIL("could not init font addons");

    al_set_new_display_option(ALLEGRO_VSYNC, 2, ALLEGRO_SUGGEST);
    platform_prepare_display();
    al_set_new_display_flags(platform_display_flags());
    app->display = al_create_display(1280, 800);
    if (!app->display) _INIT_FAIL("could not create display");
    app->display_w = al_get_display_width(app->display);
    app->display_h = al_get_display_height(app->display);
    t_log(LOG_INFO, "display %dx%d", app->display_w, app->display_h);
    al_set_window_title(app->display, "Plumaro - a layered sketching app");
    if (!al_init_primitives_addon()) _INIT_FAIL("could not init primitives addon");

    plumaro_app_update_ui_scale(app);
    if (!_app_load_font(app)) return 0;

    int side = plumaro_app_first_canvas_side(al_get_display_option(app->display, ALLEGRO_MAX_BITMAP_SIZE));
    DOCUMENT* doc = document_new(side, side);
    if (!doc) _INIT_FAIL("could not create document");
    plumaro_app_start_document(app, doc);
    /* Its texture waits until the first frame is up (or the canvas state
     * begins, if that comes first): the first frame comes sooner. */
    layer_defer_video(1);
    LAYER* first = document_add_layer(app->doc, "Layer 1");
    layer_defer_video(0);
    if (!first) _INIT_FAIL("could not create initial layer");
    view_center(&app->view, app->doc->width, app->doc->height, app->display_w, app->display_h);

    if (platform_storage_ready() == 1)
        plumaro_app_palette_load(app);
    else
        app->palette_pending = 1;
    if (platform_storage_ready() == 1)
        plumaro_app_settings_load(app);
    else
        app->settings_pending = 1;

    if (!_app_take_settings(app, 1)) return 0;
    undo_set_notice_hook(_app_undo_notice, app);

    if (plumaro_app_session_restore(app)) t_log(LOG_INFO, "previous session document restored");

    app->timer = al_create_timer(1.0 / 60.0);
    if (!app->timer) _INIT_FAIL("could not create timer");
    app->queue = al_create_event_queue();
    if (!app->queue) _INIT_FAIL("could not create event queue");
    al_register_event_source(app->queue, al_get_display_event_source(app->display));
    al_register_event_source(app->queue, al_get_mouse_event_source());
    al_register_event_source(app->queue, al_get_timer_event_source(app->timer));
    platform_register_event_sources(app->queue);

    app->running = 1;
    app->dirty = 1;
    app->since_autosave = PLUMARO_AUTOSAVE_SECONDS; /* the first pause after a change stores it */
    return app_state_switch(app, APP_STATE_SPLASH);
}

/* ------------------------------------------------------------------------ */
/* Display size, halt and resume                                             */
/* ------------------------------------------------------------------------ */

static void _app_store_failed_notice(PLUMARO_APP* app);

// Reads the display's size into display_w/display_h.
static void _app_refresh_display_size(PLUMARO_APP* app) {
    if (!app->display) return;
    app->display_w = al_get_display_width(app->display);
    app->display_h = al_get_display_height(app->display);
}

// Adopts a size the window manager changed without a resize event.
static void _app_sync_display_size(PLUMARO_APP* app) {
    if (!app->display || app->halted) return;
    int w = al_get_display_width(app->display), h = al_get_display_height(app->display);
    if (w > 0 && h > 0 && (w != app->display_w || h != app->display_h)) {
        t_log(LOG_INFO, "display size %dx%d -> %dx%d adopted without a resize event", app->display_w,
              app->display_h, w, h);
        view_recenter(&app->view, app->display_w, app->display_h, w, h);
        app->display_w = w;
        app->display_h = h;
        if (app->gui) plumaro_gui_rebuild(app);
        app->dirty = 1;
    }
}

static void _app_on_halt(PLUMARO_APP* app) {
    t_log(LOG_INFO, "drawing halted");
    /* Drawing is still allowed until the halt is acknowledged: lay down a
     * stroke, float or form in progress now so that the stored drawing has it. */
    plumaro_app_finish_edits(app);
    app->halted = 1;
    int stored = plumaro_app_settings_persist(app);
    if (!plumaro_app_session_persist(app)) stored = 0;
    /* Shown when drawing comes back. */
    if (!stored) _app_store_failed_notice(app);
    platform_on_halt();
    if (app->timer) al_stop_timer(app->timer);
    if (app->display) al_acknowledge_drawing_halt(app->display);
}

static void _app_on_resume(PLUMARO_APP* app) {
    t_log(LOG_INFO, "drawing resumed");
    app->halted = 0;
    if (app->display) al_acknowledge_drawing_resume(app->display);
    /* Whatever queued while the display was away is stale; only resize
     * notices must still be acknowledged. */
    ALLEGRO_EVENT stale;
    while (app->queue && al_get_next_event(app->queue, &stale))
        if (stale.type == ALLEGRO_EVENT_DISPLAY_RESIZE) al_acknowledge_resize(stale.display.source);
    if (app->display) al_set_target_backbuffer(app->display);
    _app_refresh_display_size(app);
    platform_on_resume(app->queue);
    plumaro_app_update_ui_scale(app);
    _app_load_font(app);
    if (app->doc) document_restore_all(app->doc);
    if (app->gui) plumaro_gui_rebuild(app);
    /* The releases that would have ended a drag, a gesture or a held key
     * may have been among the dropped events. A stroke begun while drawing
     * was halted is undone rather than kept. */
    plumaro_app_cancel_interaction(app);
    gesture_init(&app->gesture);
    _app_forget_keys(app);
    brush_release_resources();
    selection_discard(&app->selection);
    form_clear(&app->form);
    app->dirty = 1;
    if (app->timer) al_start_timer(app->timer);
    _app_drain_import(app);
}

/* ------------------------------------------------------------------------ */
/* Event loop                                                                */
/* ------------------------------------------------------------------------ */

// Writes the session while the user pauses, when the drawing changed since it was last stored.
static void _app_autosave(PLUMARO_APP* app) {
    app->idle_seconds += 1.0 / 60.0;
    app->since_autosave += 1.0 / 60.0;
    /* The first pause after a change stores it; after that, at most every
     * 30 seconds while changes keep coming. A store blocks for a moment, so
     * it waits for the user to pause. */
    if (app->since_autosave < PLUMARO_AUTOSAVE_SECONDS || app->idle_seconds < PLUMARO_AUTOSAVE_IDLE) return;
    if (!app->doc || app->doc->undo->revision == app->autosave_revision) return;
    /* Only a settled drawing is stored: a lifted float would leave a hole. */
    if (plumaro_app_capturing(app) || app->selection.state != SEL_NONE || form_is_active(&app->form) ||
        app->doc->undo->open)
        return;
    app->since_autosave = 0.0;
    app->autosave_revision = app->doc->undo->revision;
    if (plumaro_app_session_persist(app)) {
        app->store_warned = 0;
    } else if (!app->store_warned) {
        _app_store_failed_notice(app); /* once, not at every pause */
    }
}

// Runs the state's update and the periodic checks of one 60 Hz tick.
static void _app_timer_tick(PLUMARO_APP* app) {
    if (app->state && app->state->update) app->state->update(app, 1.0 / 60.0);
    _app_sync_display_size(app);
    _app_drain_import(app);
    if (app->palette_pending && platform_storage_ready() == 1) {
        app->palette_pending = 0;
        plumaro_app_palette_load(app);
        plumaro_gui_palette_changed(app);
        app->dirty = 1;
    }
    if (app->settings_pending && platform_storage_ready() == 1) {
        app->settings_pending = 0;
        plumaro_app_settings_load(app);
        _app_take_settings(app, 0);
    }
    /* Frames keep coming while a tooltip waits to be shown, and one more
     * comes when it appears or goes. */
    int tooltip = app->gui_visible && app->gui ? t_gui_tooltip_state(app->gui) : 0;
    if (tooltip == T_GUI_TOOLTIP_PENDING || tooltip != app->tooltip_state) {
        app->gui_cache_valid = 0;
        app->dirty = 1;
    }
    app->tooltip_state = tooltip;
    _app_autosave(app);
}

// Passes an event to the current state's handler.
static void _app_to_state(PLUMARO_APP* app, ALLEGRO_EVENT* event) {
    if (app->state && app->state->handle_event) app->state->handle_event(app, event);
}

// Key presses: Escape ends the program when nothing is left to cancel.
static void _app_key_down(PLUMARO_APP* app, ALLEGRO_EVENT* event, int consumed) {
    int key = event->keyboard.keycode;
    if (app->state_id == APP_STATE_CANVAS) {
        /* A text field of a dialog takes every key; Escape leaves it. */
        if (key != ALLEGRO_KEY_BACK && plumaro_gui_wants_keyboard(app)) {
            if (key == ALLEGRO_KEY_ESCAPE) plumaro_gui_close_top_popup(app);
            return;
        }
        if (key != ALLEGRO_KEY_ESCAPE && key != ALLEGRO_KEY_BACK) {
            if (!consumed) _app_to_state(app, event);
            return;
        }
        /* The Back key closes the topmost dialog first. */
        if (key == ALLEGRO_KEY_BACK && plumaro_gui_close_top_popup(app)) return;
        /* Escape and Back first cancel what is being edited. */
        if (app->sampler_armed) {
            app->sampler_armed = 0;
            plumaro_gui_sync(app);
            app->dirty = 1;
        } else if (form_is_active(&app->form)) {
            form_clear(&app->form);
            app->dirty = 1;
        } else if (app->selection.state == SEL_FLOATING) {
            selection_cancel(&app->selection);
            app->dirty = 1;
        } else if (key == ALLEGRO_KEY_BACK) {
            plumaro_gui_request_quit(app);
        } else {
            /* With nothing to cancel Escape quits. */
            if (platform_can_quit())
                app->running = 0;
            else if (!consumed)
                _app_to_state(app, event);
        }
        return;
    }
    if (consumed) return;
    if (key == ALLEGRO_KEY_ESCAPE && platform_can_quit())
        app->running = 0;
    else
        _app_to_state(app, event);
}

// 1 for the events a person makes: keys, the mouse and touches.
static int _app_is_input(ALLEGRO_EVENT_TYPE type) {
    return (type >= ALLEGRO_EVENT_KEY_DOWN && type <= ALLEGRO_EVENT_KEY_UP) ||
           (type >= ALLEGRO_EVENT_MOUSE_AXES && type <= ALLEGRO_EVENT_MOUSE_WARPED) ||
           (type >= ALLEGRO_EVENT_TOUCH_BEGIN && type <= ALLEGRO_EVENT_TOUCH_CANCEL);
}

void plumaro_app_handle_event(PLUMARO_APP* app, ALLEGRO_EVENT* event) {
    __t_assert_void(app);
    __t_assert_void(event);
    if (_app_is_input(event->type)) app->idle_seconds = 0.0;
    platform_pen_pump(); /* a mouse event's pen sample is read before the event is handled */
    /* The interface sees events first, but a drag that began on the canvas
     * keeps all its motion and its release even over the interface. */
    int consumed = app->state_id == APP_STATE_CANVAS ? plumaro_gui_handle_event(app, event) : 0;
    if (plumaro_app_capturing(app)) consumed = 0;
    if (consumed) {
        app->dirty = 1;
        app->gui_cache_valid = 0;
    }
    switch (event->type) {
        case ALLEGRO_EVENT_KEY_DOWN:
            _app_key_down(app, event, consumed);
            break;
        case ALLEGRO_EVENT_TIMER:
            _app_timer_tick(app);
            break;
        case ALLEGRO_EVENT_DISPLAY_RESIZE: {
            int old_w = app->display_w, old_h = app->display_h;
            al_acknowledge_resize(event->display.source);
            _app_refresh_display_size(app);
            if (app->display_w != old_w || app->display_h != old_h) {
                view_recenter(&app->view, old_w, old_h, app->display_w, app->display_h);
                if (app->gui) plumaro_gui_rebuild(app);
            }
            app->dirty = 1;
            break;
        }
        case ALLEGRO_EVENT_DISPLAY_CLOSE:
            if (platform_can_quit()) app->running = 0;
            break;
        case ALLEGRO_EVENT_DISPLAY_SWITCH_IN:
        case ALLEGRO_EVENT_DISPLAY_SWITCH_OUT:
            t_log(LOG_DEBUG, "display switch event %d", (int)event->type);
            /* Key releases that happen in another window never arrive, nor
             * may the release of a drag: a stroke keeps what it painted, the
             * rest of the drag is dropped. Only losing the focus ends them;
             * gaining it can come just after the press that gave it. */
            _app_forget_keys(app);
            if (event->type == ALLEGRO_EVENT_DISPLAY_SWITCH_OUT) {
                if (app->stroke.active && app->doc) brush_stroke_end(&app->stroke, app->doc);
                plumaro_app_cancel_interaction(app);
            }
            break;
        case ALLEGRO_EVENT_DISPLAY_HALT_DRAWING:
            _app_on_halt(app);
            break;
        case ALLEGRO_EVENT_DISPLAY_RESUME_DRAWING:
            _app_on_resume(app);
            break;
        default:
            if (!consumed) _app_to_state(app, event);
            break;
    }
    /* The pointer over the interface changes what it shows (hover). */
    if (app->state_id == APP_STATE_CANVAS && plumaro_gui_wants_pointer(app)) app->gui_cache_valid = 0;
    /* The widgets follow what the event changed before the next one comes. */
    plumaro_gui_update(app);
}

/* The keyboard, the window icon and the pen reader come right after the
 * first frame: together they take about a fifth of the time to it, and no
 * key can be meant for a window that is not drawn yet. A keyboard that
 * cannot be had ends the program as it would have at start. */
static void _app_after_first_frame(PLUMARO_APP* app) {
    if (!al_is_keyboard_installed() && !al_install_keyboard()) {
        t_log(LOG_EMERG, "could not install keyboard");
        app->running = 0;
        app->exit_status = 1;
        return;
    }
    if (app->queue) al_register_event_source(app->queue, al_get_keyboard_event_source());
    _app_set_window_icon(app);
    platform_pen_start(app->display);
}

void plumaro_app_draw_frame(PLUMARO_APP* app) {
    __t_assert_void(app);
    __t_assert_void(app->display);
    app->dirty = 0;
    al_set_target_backbuffer(app->display);
    al_clear_to_color(al_map_rgb(40, 42, 46));
    /* A placed float rendered again shows in this frame already. */
    plumaro_gui_update(app);
    if (app->state && app->state->draw) app->state->draw(app);
    if (app->state_id == APP_STATE_CANVAS) plumaro_gui_draw(app);
    al_flip_display();
    if (!app->frame_shown) {
        app->frame_shown = 1;
        t_log(LOG_DEBUG, "first frame drawn");
        _app_after_first_frame(app);
    }
    /* Textures start-up left for later, now that a frame is up. */
    if (app->doc) document_make_bitmaps(app->doc);
}

// Stores the settings, the layout and the drawing before the program ends; 1 when all of it was stored.
static int _app_store_before_quit(PLUMARO_APP* app) {
    int ok = plumaro_app_settings_persist(app);
    /* A stroke, float or form still being edited belongs in the stored drawing:
     * the state's leave would lay it down only after the session is written. */
    plumaro_app_finish_edits(app);
    plumaro_gui_layout_persist(app);
    if (!plumaro_app_session_persist(app)) ok = 0;
    return ok;
}

// Tells the user the drawing could not be stored, and why.
static void _app_store_failed_notice(PLUMARO_APP* app) {
    char notice[512];
    snprintf(notice, sizeof(notice), i18n_tr("Your drawing could not be stored: %s"), app->store_error);
    plumaro_app_notice(app, APP_NOTICE_FAILURE, notice);
    app->store_warned = 1;
}

int plumaro_app_run(PLUMARO_APP* app) {
    __t_assert(app);
    __t_assert(app->queue);
    __t_assert(app->state);
    if (app->timer) al_start_timer(app->timer);
    /* The first frame need not wait for the first event (a timer tick away). */
    if (app->running && app->dirty && !app->halted && al_is_event_queue_empty(app->queue))
        plumaro_app_draw_frame(app);
    for (;;) {
        while (app->running) {
            ALLEGRO_EVENT event;
            if (!platform_wait_event(app->queue, &event)) break;
            plumaro_app_handle_event(app, &event);
            if (app->running && app->dirty && !app->halted && al_is_event_queue_empty(app->queue))
                plumaro_app_draw_frame(app);
        }
        if (_app_store_before_quit(app)) break;
        /* The drawing could not be stored (a full or read-only disk): the
         * program stays so that nothing is lost, and says why. Asked to quit
         * again while that notice shows, it ends with a failure status. */
        if (app->store_warned && app->ui.notify.open) {
            fprintf(stderr, "%s\n", app->ui.notify.text);
            app->exit_status = 1;
            break;
        }
        _app_store_failed_notice(app);
        app->running = 1;
        app->dirty = 1;
        if (!app->gui) {
            /* Without an interface there is no one to ask: end, but say so. */
            fprintf(stderr, "%s\n", app->ui.notify.text[0] ? app->ui.notify.text : app->store_error);
            app->exit_status = 1;
            break;
        }
    }
    t_log(LOG_INFO, "main loop done");
    return 1;
}

/* ------------------------------------------------------------------------ */
/* Shutdown                                                                  */
/* ------------------------------------------------------------------------ */

void plumaro_app_shutdown(PLUMARO_APP* app) {
    __t_assert_void(app);
    if (app->state) {
        if (app->state->leave) app->state->leave(app);
        app->state = NULL;
    }
    selection_discard(&app->selection);
    if (app->clip_bitmap) {
        al_destroy_bitmap(app->clip_bitmap);
        app->clip_bitmap = NULL;
    }
    plumaro_gui_shutdown(app);
    brush_shutdown();
    compositor_release();
    if (app->doc) document_free(&app->doc);
    if (app->queue) {
        al_destroy_event_queue(app->queue);
        app->queue = NULL;
    }
    if (app->timer) {
        al_destroy_timer(app->timer);
        app->timer = NULL;
    }
    if (app->font) {
        al_destroy_font(app->font);
        app->font = NULL;
    }
    platform_pen_stop(); /* its events are selected on the display's window */
    if (app->display) {
        al_destroy_display(app->display);
        app->display = NULL;
    }
    undo_set_notice_hook(NULL, NULL);
    t_log(LOG_INFO, "Plumaro shut down");
}
