/* bench_mypaint: the dab anchor. libmypaint's fixed tiled surface lays round
 * dabs along the same 2000 px line as BM_BrushDabs, one dab every half
 * radius, at the same hardness, all in one atomic stroke (its tiles are
 * rendered at the end). Benchmark-only dependency. */
#include <benchmark/benchmark.h>
#include <math.h>

extern "C" {
#include <mypaint-fixed-tiled-surface.h>
#include <mypaint-surface.h>
}

namespace {

// The 4096 x 4096 surface shared by every radius, made once.
MyPaintSurface* _mypaint_surface(void) {
    static MyPaintFixedTiledSurface* surface = NULL;
    if (!surface) surface = mypaint_fixed_tiled_surface_new(4096, 4096);
    return surface ? mypaint_fixed_tiled_surface_interface(surface) : NULL;
}

void BM_MyPaintDabs(benchmark::State& state) {
    MyPaintSurface* surface = _mypaint_surface();
    if (!surface) {
        state.SkipWithError("no surface");
        return;
    }
    float radius = (float)state.range(0);
    float step = fmaxf(0.5f, 0.5f * radius);
    int dabs = 1 + (int)floorf(2000.0f / step);
    const float grey = 40.0f / 255.0f;
    for (auto _ : state) {
        mypaint_surface_begin_atomic(surface);
        for (int i = 0; i < dabs; i++)
            mypaint_surface_draw_dab(surface, 1000.0f + step * (float)i, 1000.5f, radius, grey, grey, grey, 1.0f, 0.7f,
                                     1.0f, 1.0f, 0.0f, 0.0f, 0.0f);
        MyPaintRectangle roi;
        mypaint_surface_end_atomic(surface, &roi);
    }
    state.counters["dabs_per_s"] = benchmark::Counter((double)dabs, benchmark::Counter::kIsIterationInvariantRate);
    state.SetLabel("libmypaint radius " + std::to_string((int)radius));
}
BENCHMARK(BM_MyPaintDabs)->Arg(2)->Arg(8)->Arg(12)->Arg(32)->Arg(64)->Arg(128)->Arg(256)->Arg(500)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
