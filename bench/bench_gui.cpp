/* bench_gui: what the interface costs a frame: a canvas frame with the
 * interface drawn from its cache next to the same frame without it, a full
 * redraw of the interface (as after every pointer move over it), and
 * building the whole interface with its icons (every language or size
 * change). Needs an X display (OpenGL video bitmaps). */
#include <allegro5/allegro.h>
#include <allegro5/allegro_font.h>
#include <allegro5/allegro_primitives.h>
#include <allegro5/allegro_ttf.h>
#include <benchmark/benchmark.h>
#include <string.h>

#include "app_internal.h"
#include "app_state.h"
#include "gui/gui.h"
#include "gui/gui_private.h"
#include "plumaro_app.h"
#include "t_log.h"

namespace {

const int kW = 1280, kH = 800;

// A 1280 x 800 display and an application record with a 4096 document and the interface font.
PLUMARO_APP* _bench_gui_app(void) {
    static int state = 0;
    static PLUMARO_APP app;
    if (state == 0) {
        state = -1;
        log_set_level(LOG_WARNING);
        if (!al_init() || !al_init_primitives_addon() || !al_init_font_addon() || !al_init_ttf_addon()) return NULL;
        al_set_new_display_flags(ALLEGRO_WINDOWED | ALLEGRO_OPENGL);
        memset(&app, 0, sizeof(app));
        app.display = al_create_display(kW, kH);
        const char* fonts[] = {"assets/fonts/DejaVuSans.ttf", "../assets/fonts/DejaVuSans.ttf",
                               "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"};
        for (const char* f : fonts)
            if (!app.font) app.font = al_load_ttf_font(f, 18, 0);
        app.doc = document_new(4096, 4096);
        if (!app.display || !app.font || !app.doc || !document_add_layer(app.doc, "Layer 1")) return NULL;
        app.display_w = kW;
        app.display_h = kH;
        app.ui_scale = 1.0f;
        app.gui_visible = 1;
        app.brush_preset = -1;
        brush_defaults(&app.brush);
        grid_init(&app.grid);
        symmetry_init(&app.symmetry, app.doc);
        selection_init(&app.selection);
        form_init(&app.form);
        palette_set_defaults(&app.palette);
        view_init(&app.view);
        view_center(&app.view, app.doc->width, app.doc->height, kW, kH);
        app.state_id = APP_STATE_CANVAS;
        app.state = app_state_get(APP_STATE_CANVAS);
        if (!plumaro_gui_init(&app)) return NULL;
        state = 1;
    }
    if (state != 1) return NULL;
    al_set_target_backbuffer(app.display);
    return &app;
}

// Waits until the device has finished the frame (a one-pixel read of the back buffer).
void _bench_gui_sync(ALLEGRO_DISPLAY* display) {
    ALLEGRO_BITMAP* b = al_get_backbuffer(display);
    ALLEGRO_LOCKED_REGION* lock = al_lock_bitmap_region(b, 0, 0, 1, 1, ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE,
                                                        ALLEGRO_LOCK_READONLY);
    if (lock) {
        benchmark::DoNotOptimize(*(volatile unsigned char*)lock->data);
        al_unlock_bitmap(b);
    }
}

// A canvas frame, with the interface from its cache (1), redrawn (2) or not at all (0).
void BM_GuiFrame(benchmark::State& state) {
    PLUMARO_APP* app = _bench_gui_app();
    if (!app) {
        state.SkipWithError("no display, font or interface");
        return;
    }
    int mode = (int)state.range(0);
    for (auto _ : state) {
        al_set_target_backbuffer(app->display);
        al_clear_to_color(al_map_rgb(40, 42, 46));
        _canvas_draw(app);
        if (mode == 2) app->gui_cache_valid = 0;
        if (mode) plumaro_gui_draw(app);
        _bench_gui_sync(app->display);
    }
    const char* labels[] = {"canvas only", "interface from its cache", "interface redrawn"};
    state.SetLabel(labels[mode]);
}
BENCHMARK(BM_GuiFrame)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

// Tearing the interface down and building it again, icons rendered and drawn once.
void BM_GuiBuild(benchmark::State& state) {
    PLUMARO_APP* app = _bench_gui_app();
    if (!app) {
        state.SkipWithError("no display, font or interface");
        return;
    }
    for (auto _ : state) {
        plumaro_gui_shutdown(app);
        plumaro_gui_init(app);
        al_set_target_backbuffer(app->display);
        plumaro_gui_draw(app); /* renders the icons and fills the cache */
        _bench_gui_sync(app->display);
    }
    state.SetLabel(std::to_string(app->ui.icon_count) + " icons");
}
BENCHMARK(BM_GuiBuild)->Unit(benchmark::kMillisecond)->UseRealTime();

// Rendering one placed shape at 300 x 300 (kinds 0..6), outlined and filled.
void BM_ShapeRender(benchmark::State& state) {
    PLUMARO_APP* app = _bench_gui_app();
    if (!app) {
        state.SkipWithError("no display, font or interface");
        return;
    }
    int kind = (int)state.range(0), filled = (int)state.range(1);
    for (auto _ : state) {
        ALLEGRO_BITMAP* b = _render_shape_bitmap_wh(app, kind, filled, 300, 300);
        benchmark::DoNotOptimize(b);
        _bench_gui_sync(app->display);
        if (b) al_destroy_bitmap(b);
    }
    const char* names[] = {"rectangle", "ellipse", "triangle", "star", "pentagon", "hexagon", "arrow"};
    state.SetLabel(std::string(names[kind]) + (filled ? ", filled" : ", outlined"));
}
BENCHMARK(BM_ShapeRender)->ArgsProduct({{0, 1, 2, 3, 4, 5, 6}, {0, 1}})->Unit(benchmark::kMicrosecond)->UseRealTime();

// Rendering a 40-character text at 48 pixels (the font is loaded each time, as placing does).
void BM_TextRender(benchmark::State& state) {
    PLUMARO_APP* app = _bench_gui_app();
    if (!app) {
        state.SkipWithError("no display, font or interface");
        return;
    }
    const char* text = "The quick brown fox jumps over a lazy do";
    for (auto _ : state) {
        ALLEGRO_BITMAP* b = _render_text_bitmap(app, text, 0, 48);
        if (!b) {
            state.SkipWithError("no annotation font");
            return;
        }
        _bench_gui_sync(app->display);
        al_destroy_bitmap(b);
    }
}
BENCHMARK(BM_TextRender)->Unit(benchmark::kMicrosecond)->UseRealTime();

// From a click on a shape button to the next frame on screen: the shape is
// rendered, pasted as a float, and the canvas and the interface are drawn.
void BM_ShapeButtonToFrame(benchmark::State& state) {
    PLUMARO_APP* app = _bench_gui_app();
    if (!app) {
        state.SkipWithError("no display, font or interface");
        return;
    }
    T_GUI_WIDGET* button = t_gui_get_widget(app->gui, app->ui.toolbar.tools[GUI_TOOL_RECTANGLE]);
    float ox, oy;
    if (!button || !t_gui_window_content_origin(app->gui, button->window_id, &ox, &oy)) {
        state.SkipWithError("no shape button");
        return;
    }
    ALLEGRO_EVENT e = {};
    e.mouse.x = (int)(ox + button->x + button->w / 2), e.mouse.y = (int)(oy + button->y + button->h / 2);
    e.mouse.button = 1;
    for (auto _ : state) {
        e.type = ALLEGRO_EVENT_MOUSE_BUTTON_DOWN;
        plumaro_app_handle_event(app, &e);
        e.type = ALLEGRO_EVENT_MOUSE_BUTTON_UP;
        plumaro_app_handle_event(app, &e);
        plumaro_app_draw_frame(app);
        _bench_gui_sync(app->display);
        state.PauseTiming();
        selection_discard(&app->selection);
        state.ResumeTiming();
    }
}
BENCHMARK(BM_ShapeButtonToFrame)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
