/* bench_canvas: dab throughput of the brush tips (round at radius 2 to 500,
 * next to libmypaint in bench_mypaint.cpp), the cost of ending a stroke on
 * canvases of growing size, the cost of one canvas frame with 1, 4 and 16
 * layers at three zooms next to one full-display tinted bitmap draw, the
 * first frame after switching the active layer, and a frame while panning.
 * Needs an X display (OpenGL video bitmaps). */
#include <allegro5/allegro.h>
#include <allegro5/allegro_primitives.h>
#include <benchmark/benchmark.h>
#include <math.h>

#include "app_internal.h"
#include "app_state.h"
#include "canvas/brush.h"
#include "canvas/document.h"
#include "canvas/view.h"
#include "plumaro_app.h"
#include "t_log.h"

namespace {

const int kDisplayW = 1280, kDisplayH = 800;

// Allegro and a 1280 x 800 display, made once; its back buffer is the frame target.
ALLEGRO_DISPLAY* _bench_canvas_display(void) {
    static int state = 0;
    static ALLEGRO_DISPLAY* display = NULL;
    if (state == 0) {
        state = -1;
        log_set_level(LOG_WARNING);
        if (al_init() && al_init_primitives_addon()) {
            al_set_new_display_flags(ALLEGRO_WINDOWED | ALLEGRO_OPENGL);
            display = al_create_display(kDisplayW, kDisplayH);
            if (display) state = 1;
        }
    }
    if (display) al_set_target_backbuffer(display);
    return display;
}

// Waits for the device to finish everything queued on a bitmap (a one-pixel read).
void _bench_sync(ALLEGRO_BITMAP* bitmap) {
    if (!bitmap) return;
    ALLEGRO_LOCKED_REGION* lock =
        al_lock_bitmap_region(bitmap, 0, 0, 1, 1, ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE, ALLEGRO_LOCK_READONLY);
    if (lock) {
        benchmark::DoNotOptimize(*(volatile unsigned char*)lock->data);
        al_unlock_bitmap(bitmap);
    }
}

// A square document with `layers` cleared layers.
DOCUMENT* _bench_document(int side, int layers) {
    DOCUMENT* doc = document_new(side, side);
    if (!doc) return NULL;
    for (int i = 0; i < layers; i++) {
        LAYER* layer = document_add_layer(doc, NULL);
        if (!layer) {
            document_free(&doc);
            return NULL;
        }
        ALLEGRO_BITMAP* target = al_get_target_bitmap();
        al_set_target_bitmap(layer->bitmap);
        al_clear_to_color(al_map_rgba(20 * (i % 8), 10, 60, 40));
        al_set_target_bitmap(target);
        layer->needs_clear = 0;
    }
    return doc;
}

// The 4096 x 4096 one-layer document shared by the stroke benchmarks.
DOCUMENT* _bench_stroke_document(void) {
    static DOCUMENT* doc = NULL;
    if (!doc) doc = _bench_document(4096, 1);
    return doc;
}

// Dabs of a straight 2000 px stroke, fed as 200 motion events of 10 px.
void BM_BrushDabs(benchmark::State& state) {
    if (!_bench_canvas_display()) {
        state.SkipWithError("no display");
        return;
    }
    DOCUMENT* doc = _bench_stroke_document();
    if (!doc) {
        state.SkipWithError("no document");
        return;
    }
    BRUSH brush;
    brush_defaults(&brush);
    brush.tip = (int)state.range(0);
    brush.size = (float)state.range(1);
    float step = fmaxf(0.5f, brush.spacing * brush.size);
    double dabs = 1.0 + floor(2000.0 / step);
    BRUSH_STROKE stroke = {};
    for (auto _ : state) {
        float y = 1000.0f + 0.5f;
        brush_stroke_begin(&stroke, doc, &brush, 1000.0f, y, 1.0f, NULL);
        for (int i = 1; i <= 200; i++) brush_stroke_segment(&stroke, doc, &brush, 1000.0f + 10.0f * i, y, 1.0f);
        _bench_sync(brush_stroke_buffer_shown());
        state.PauseTiming();
        brush_stroke_abort(&stroke, doc);
        _bench_sync(doc->active_layer->bitmap);
        state.ResumeTiming();
    }
    state.counters["dabs_per_s"] = benchmark::Counter(dabs, benchmark::Counter::kIsIterationInvariantRate);
    state.SetLabel(std::string(brush_tip_name(brush.tip)) + " " + std::to_string((int)brush.size) + " px");
}
BENCHMARK(BM_BrushDabs)
    ->Args({BRUSH_TIP_ROUND, 4})
    ->Args({BRUSH_TIP_ROUND, 16})
    ->Args({BRUSH_TIP_ROUND, 24})
    ->Args({BRUSH_TIP_ROUND, 64})
    ->Args({BRUSH_TIP_ROUND, 128})
    ->Args({BRUSH_TIP_ROUND, 256})
    ->Args({BRUSH_TIP_ROUND, 512})
    ->Args({BRUSH_TIP_ROUND, 1000})
    ->Args({BRUSH_TIP_SQUARE, 128})
    ->Args({BRUSH_TIP_SPRAY, 64})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// brush_stroke_end of a 200 px stroke: composite and undo commit.
void BM_StrokeEnd(benchmark::State& state) {
    if (!_bench_canvas_display()) {
        state.SkipWithError("no display");
        return;
    }
    int side = (int)state.range(0);
    DOCUMENT* doc = _bench_document(side, 1);
    if (!doc) {
        state.SkipWithError("no document");
        return;
    }
    BRUSH brush;
    brush_defaults(&brush);
    BRUSH_STROKE stroke = {};
    float y = side / 2.0f;
    for (auto _ : state) {
        state.PauseTiming();
        brush_stroke_begin(&stroke, doc, &brush, 100.0f, y, 1.0f, NULL);
        for (int i = 1; i <= 20; i++) brush_stroke_segment(&stroke, doc, &brush, 100.0f + 10.0f * i, y, 1.0f);
        _bench_sync(brush_stroke_buffer_shown());
        state.ResumeTiming();
        if (!brush_stroke_end(&stroke, doc)) state.SkipWithError("commit failed");
        _bench_sync(doc->active_layer->bitmap);
    }
    document_free(&doc);
    brush_release_resources();
    state.SetLabel(std::to_string(side) + "x" + std::to_string(side));
}
BENCHMARK(BM_StrokeEnd)->Arg(512)->Arg(2048)->Arg(4096)->Unit(benchmark::kMicrosecond)->UseRealTime();

// A 4096 x 4096 document with 16 layers; the frame benchmarks show the first N.
DOCUMENT* _bench_frame_document(void) {
    static DOCUMENT* doc = NULL;
    if (!doc) doc = _bench_document(4096, 16);
    return doc;
}

// An application record showing the frame document through a view: zoom 1
// centred (0), fitted (1) or zoom 8 (2).
PLUMARO_APP* _bench_frame_app(DOCUMENT* doc, int zoom_mode, const char** zoom_name) {
    static PLUMARO_APP app;
    app.doc = doc;
    app.display_w = kDisplayW;
    app.display_h = kDisplayH;
    brush_defaults(&app.brush);
    view_init(&app.view);
    view_center(&app.view, doc->width, doc->height, kDisplayW, kDisplayH);
    *zoom_name = "zoom 1";
    if (zoom_mode == 1) {
        view_fit(&app.view, doc->width, doc->height, kDisplayW, kDisplayH);
        *zoom_name = "fitted";
    } else if (zoom_mode == 2) {
        view_zoom_at(&app.view, 8.0f, kDisplayW / 2.0f, kDisplayH / 2.0f);
        *zoom_name = "zoom 8";
    }
    return &app;
}

// Clears the back buffer, draws the canvas and waits for the device.
void _bench_frame(ALLEGRO_DISPLAY* display, PLUMARO_APP* app) {
    al_set_target_backbuffer(display);
    al_clear_to_color(al_map_rgb(40, 42, 46));
    _canvas_draw(app);
    _bench_sync(al_get_backbuffer(display));
}

// One canvas frame (_canvas_draw) of the 1280 x 800 display, the first N
// layers shown and the middle one of them active; the first frame at a view
// is drawn before timing.
void BM_CanvasFrame(benchmark::State& state) {
    ALLEGRO_DISPLAY* display = _bench_canvas_display();
    DOCUMENT* doc = display ? _bench_frame_document() : NULL;
    if (!doc) {
        state.SkipWithError("no display or document");
        return;
    }
    int shown = (int)state.range(0), zoom_mode = (int)state.range(1);
    for (int i = 0; i < document_layer_count(doc); i++) document_layer_at(doc, i)->visible = i < shown;
    doc->active_layer = document_layer_at(doc, shown / 2);
    const char* zoom_name = "";
    PLUMARO_APP* app = _bench_frame_app(doc, zoom_mode, &zoom_name);
    _bench_frame(display, app);
    for (auto _ : state) _bench_frame(display, app);
    app->doc = NULL;
    state.SetLabel(std::to_string(shown) + " layers, " + zoom_name);
}
BENCHMARK(BM_CanvasFrame)
    ->ArgsProduct({{1, 4, 16}, {0, 1, 2}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The first frame after the active layer changed (between layers 4 and 11 of
// 16, all shown): whatever the frame keeps between frames is rebuilt here.
void BM_LayerSwitchFrame(benchmark::State& state) {
    ALLEGRO_DISPLAY* display = _bench_canvas_display();
    DOCUMENT* doc = display ? _bench_frame_document() : NULL;
    if (!doc) {
        state.SkipWithError("no display or document");
        return;
    }
    for (int i = 0; i < document_layer_count(doc); i++) document_layer_at(doc, i)->visible = 1;
    const char* zoom_name = "";
    PLUMARO_APP* app = _bench_frame_app(doc, (int)state.range(0), &zoom_name);
    doc->active_layer = document_layer_at(doc, 11);
    _bench_frame(display, app);
    int flip = 0;
    for (auto _ : state) {
        flip = !flip;
        doc->active_layer = document_layer_at(doc, flip ? 4 : 11);
        _bench_frame(display, app);
    }
    app->doc = NULL;
    state.SetLabel(std::string("16 layers, ") + zoom_name);
}
BENCHMARK(BM_LayerSwitchFrame)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->UseRealTime();

// A frame while panning: the view moves by one pixel before every frame
// (16 layers shown, the middle one active).
void BM_PanFrame(benchmark::State& state) {
    ALLEGRO_DISPLAY* display = _bench_canvas_display();
    DOCUMENT* doc = display ? _bench_frame_document() : NULL;
    if (!doc) {
        state.SkipWithError("no display or document");
        return;
    }
    for (int i = 0; i < document_layer_count(doc); i++) document_layer_at(doc, i)->visible = 1;
    doc->active_layer = document_layer_at(doc, 8);
    const char* zoom_name = "";
    PLUMARO_APP* app = _bench_frame_app(doc, (int)state.range(0), &zoom_name);
    float dx = 1.0f;
    for (auto _ : state) {
        dx = -dx;
        view_pan(&app->view, dx, 0.0f);
        _bench_frame(display, app);
    }
    app->doc = NULL;
    state.SetLabel(std::string("16 layers, ") + zoom_name);
}
BENCHMARK(BM_PanFrame)->DenseRange(0, 2)->Unit(benchmark::kMillisecond)->UseRealTime();

// One full-display tinted bitmap draw, the unit a frame's cost is measured in.
void BM_FullDisplayTintedDraw(benchmark::State& state) {
    ALLEGRO_DISPLAY* display = _bench_canvas_display();
    if (!display) {
        state.SkipWithError("no display");
        return;
    }
    int flags = al_get_new_bitmap_flags();
    al_set_new_bitmap_flags(ALLEGRO_VIDEO_BITMAP | ALLEGRO_MIN_LINEAR);
    ALLEGRO_BITMAP* bitmap = al_create_bitmap(kDisplayW, kDisplayH);
    al_set_new_bitmap_flags(flags);
    if (!bitmap) {
        state.SkipWithError("no bitmap");
        return;
    }
    al_set_target_bitmap(bitmap);
    al_clear_to_color(al_map_rgba(30, 60, 90, 200));
    ALLEGRO_BITMAP* backbuffer = al_get_backbuffer(display);
    for (auto _ : state) {
        al_set_target_backbuffer(display);
        al_clear_to_color(al_map_rgb(40, 42, 46));
        al_draw_tinted_bitmap(bitmap, al_map_rgba_f(0.7f, 0.7f, 0.7f, 0.7f), 0, 0, 0);
        _bench_sync(backbuffer);
    }
    al_destroy_bitmap(bitmap);
}
BENCHMARK(BM_FullDisplayTintedDraw)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
