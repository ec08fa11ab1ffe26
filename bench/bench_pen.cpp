/* bench_pen: what the pen reader adds to each mouse event: the lookup of a
 * mouse event's pen sample in a full ring, with reading off (the matching
 * alone) and with reading on, where an event newer than the last sample
 * costs one round trip to the X server. Needs an X display for the second. */
#include <allegro5/allegro.h>
#include <benchmark/benchmark.h>

#include "platform/platform_pen.h"
#include "t_log.h"

namespace {

// A small display for the pen reader to watch; null without X.
ALLEGRO_DISPLAY* _bench_pen_display(void) {
    static int state = 0;
    static ALLEGRO_DISPLAY* display = NULL;
    if (state == 0) {
        state = 1;
        log_set_level(LOG_WARNING);
        if (al_init()) {
            al_set_new_display_flags(ALLEGRO_WINDOWED | ALLEGRO_OPENGL);
            display = al_create_display(320, 240);
        }
    }
    return display;
}

// Arg 0: reading off; 1: reading on (a second connection, the test server has no pen).
void BM_PenLookup(benchmark::State& state) {
    platform_pen_stop();
    if (state.range(0) && (!_bench_pen_display() || !platform_pen_start(_bench_pen_display()))) {
        state.SkipWithError("no X display");
        return;
    }
    platform_pen_forget();
    for (int i = 0; i < 64; i++) {
        PLATFORM_PEN_SAMPLE s = {};
        s.time = 100.0 + 0.005 * i;
        s.x = 10.0f + 3.0f * (float)i;
        s.y = 200.0f;
        s.pressure = 0.01f * (float)i;
        platform_pen_feed(&s);
    }
    float pressure = 0;
    int eraser = 0, found = 0;
    for (auto _ : state) {
        /* Just after the last sample, at the next place: the lookup syncs
         * when reading is on. */
        found += platform_pen_pressure_for(100.3175, 202.0f, 200.0f, &pressure, &eraser);
        benchmark::DoNotOptimize(pressure);
    }
    if (found != (int)state.iterations()) state.SkipWithError("the lookup found no sample");
    platform_pen_stop();
}
BENCHMARK(BM_PenLookup)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace
