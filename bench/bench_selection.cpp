/* bench_selection: laying a 1024 x 1024 float down on a 4096 x 4096 layer,
 * unmoved, moved and rotated-and-scaled, each with its undo record; and the
 * lift that makes such a float. Needs an X display (OpenGL video bitmaps). */
#include <allegro5/allegro.h>
#include <allegro5/allegro_primitives.h>
#include <benchmark/benchmark.h>

#include "canvas/document.h"
#include "canvas/layer.h"
#include "canvas/selection.h"
#include "canvas/undo.h"
#include "t_log.h"

namespace {

const int kLayer = 4096;
const int kFloat = 1024;

// Allegro, the primitives add-on and a display, unless another benchmark made them.
bool _selection_bench_display(void) {
    static int state = 0; /* 0 untried, 1 ready, -1 failed */
    if (state == 0) {
        state = -1;
        log_set_level(LOG_WARNING);
        if (al_init() && al_init_primitives_addon()) {
            if (al_get_current_display()) {
                state = 1;
            } else {
                al_set_new_display_flags(ALLEGRO_WINDOWED | ALLEGRO_OPENGL);
                if (al_create_display(320, 240)) state = 1;
            }
        }
    }
    return state == 1;
}

// A 4096 x 4096 document whose one layer is painted with translucent bands.
DOCUMENT* _selection_bench_document(void) {
    DOCUMENT* doc = document_new(kLayer, kLayer);
    if (!doc) return NULL;
    LAYER* layer = document_add_layer(doc, "Bench");
    if (!layer) {
        document_free(&doc);
        return NULL;
    }
    ALLEGRO_BITMAP* previous = al_get_target_bitmap();
    al_set_target_bitmap(layer->bitmap);
    al_clear_to_color(al_map_rgba(0, 0, 0, 0));
    for (int i = 0; i < 64; i++)
        al_draw_filled_rectangle(0, (float)(i * 64), (float)kLayer, (float)(i * 64 + 40),
                                 al_map_rgba_f(0.3f * (i % 3), 0.2f, 0.5f, 0.7f));
    al_set_target_bitmap(previous);
    layer->needs_clear = 0;
    /* The painting counts as committed, so commits start from a clean backup. */
    undo_begin(doc);
    undo_mark_dirty_rect(doc, 0, 0, kLayer - 1, kLayer - 1);
    _undo_commit(doc, NULL, 0, 0);
    doc->undo->max_depth = 2;
    return doc;
}

// Lifts the 1024 x 1024 square at (1024, 1024): four whole tiles each way.
int _selection_bench_lift(SELECTION* sel, DOCUMENT* doc) {
    selection_begin_marquee(sel, (float)kFloat, (float)kFloat);
    selection_update_marquee(sel, (float)(2 * kFloat), (float)(2 * kFloat));
    return selection_end_marquee(sel, doc);
}

// Commit of a lifted float: 0 unmoved, 1 moved by (300, 200), 2 also turned
// by 30 degrees and scaled by 1.5.
void BM_SelectionCommit(benchmark::State& state) {
    if (!_selection_bench_display()) {
        state.SkipWithError("no display");
        return;
    }
    DOCUMENT* doc = _selection_bench_document();
    if (!doc) {
        state.SkipWithError("no document");
        return;
    }
    SELECTION sel;
    selection_init(&sel);
    int kind = (int)state.range(0);
    double tiles = 0;
    for (auto _ : state) {
        state.PauseTiming();
        int lifted = _selection_bench_lift(&sel, doc);
        if (lifted && kind >= 1) selection_nudge(&sel, 300.0f, 200.0f);
        if (lifted && kind == 2) {
            sel.rotation = 0.5235988f;
            sel.scale_x = sel.scale_y = 1.5f;
        }
        /* The lift's GPU work finishes before the clock runs again. */
        al_get_pixel(doc->active_layer->bitmap, 0, 0);
        state.ResumeTiming();
        if (!lifted || !selection_commit(&sel, doc, NULL)) {
            state.SkipWithError("commit failed");
            break;
        }
        tiles = (double)((UNDO_RECORD*)doc->undo->undo_stack->end->ptr)->tiles->nb_items;
    }
    state.counters["tiles"] = tiles;
    state.SetBytesProcessed((int64_t)state.iterations() * kFloat * kFloat * 4);
    selection_discard(&sel);
    document_free(&doc);
}
BENCHMARK(BM_SelectionCommit)->ArgName("moved")->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

// The lift of the same square: copy out, cut the hole.
void BM_SelectionLift(benchmark::State& state) {
    if (!_selection_bench_display()) {
        state.SkipWithError("no display");
        return;
    }
    DOCUMENT* doc = _selection_bench_document();
    if (!doc) {
        state.SkipWithError("no document");
        return;
    }
    SELECTION sel;
    selection_init(&sel);
    for (auto _ : state) {
        if (!_selection_bench_lift(&sel, doc)) {
            state.SkipWithError("lift failed");
            break;
        }
        al_get_pixel(sel.bitmap, 0, 0); /* wait for the GPU */
        state.PauseTiming();
        selection_cancel(&sel);
        al_get_pixel(doc->active_layer->bitmap, 0, 0);
        state.ResumeTiming();
    }
    state.SetBytesProcessed((int64_t)state.iterations() * kFloat * kFloat * 4);
    selection_discard(&sel);
    document_free(&doc);
}
BENCHMARK(BM_SelectionLift)->Unit(benchmark::kMillisecond);

}  // namespace
