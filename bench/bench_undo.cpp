/* bench_undo: cost of committing and undoing pixel changes of 1, 16 and 256
 * tiles on a 4096 x 4096 layer, and the memory the history holds after
 * thirty broad brush strokes. Needs an X display (OpenGL video bitmaps). */
#include <allegro5/allegro.h>
#include <allegro5/allegro_primitives.h>
#include <benchmark/benchmark.h>
#include <math.h>

#include "canvas/document.h"
#include "canvas/layer.h"
#include "canvas/undo.h"
#include "t_log.h"

namespace {

const int kCanvas = 4096;

// Allegro, the primitives add-on and a small display, made once.
bool _bench_display(void) {
    static int state = 0; /* 0 untried, 1 ready, -1 failed */
    if (state == 0) {
        state = -1;
        log_set_level(LOG_WARNING);
        if (al_init() && al_init_primitives_addon()) {
            al_set_new_display_flags(ALLEGRO_WINDOWED | ALLEGRO_OPENGL);
            if (al_create_display(320, 240)) state = 1;
        }
    }
    return state == 1;
}

// A 4096 x 4096 document with one cleared layer, or null.
DOCUMENT* _bench_document(void) {
    DOCUMENT* doc = document_new(kCanvas, kCanvas);
    if (!doc) return NULL;
    LAYER* layer = document_add_layer(doc, "Bench");
    if (!layer) {
        document_free(&doc);
        return NULL;
    }
    al_set_target_bitmap(layer->bitmap);
    al_clear_to_color(al_map_rgba(30, 60, 90, 255));
    layer->needs_clear = 0;
    return doc;
}

// Marks a square block of `tiles` tiles (1, 16, 256) from the top-left corner.
void _bench_mark(DOCUMENT* doc, int tiles) {
    int side = (int)lround(sqrt((double)tiles));
    undo_mark_dirty_rect(doc, 0, 0, side * UNDO_TILE_SIZE - 1.0f, side * UNDO_TILE_SIZE - 1.0f);
}

// One change of the given size: begin, mark, commit.
int _bench_change(DOCUMENT* doc, int tiles) {
    if (!undo_begin(doc)) return 0;
    _bench_mark(doc, tiles);
    return _undo_commit(doc, NULL, 0, 0);
}

void BM_UndoCommit(benchmark::State& state) {
    if (!_bench_display()) {
        state.SkipWithError("no display");
        return;
    }
    DOCUMENT* doc = _bench_document();
    if (!doc) {
        state.SkipWithError("no document");
        return;
    }
    int tiles = (int)state.range(0);
    /* A short history keeps memory small; each commit still trims one record. */
    doc->undo->max_depth = 2;
    for (auto _ : state) {
        if (!_bench_change(doc, tiles)) {
            state.SkipWithError("commit failed");
            break;
        }
    }
    state.counters["tiles"] = tiles;
    state.SetBytesProcessed((int64_t)state.iterations() * tiles * UNDO_TILE_SIZE * UNDO_TILE_SIZE * 4);
    document_free(&doc);
}
BENCHMARK(BM_UndoCommit)->Arg(1)->Arg(16)->Arg(256)->Unit(benchmark::kMillisecond);

// First undo of a fresh record: captures the after pixels, writes the before pixels.
void BM_UndoPerform(benchmark::State& state) {
    if (!_bench_display()) {
        state.SkipWithError("no display");
        return;
    }
    DOCUMENT* doc = _bench_document();
    if (!doc) {
        state.SkipWithError("no document");
        return;
    }
    int tiles = (int)state.range(0);
    doc->undo->max_depth = 2;
    for (auto _ : state) {
        state.PauseTiming();
        int ok = _bench_change(doc, tiles);
        state.ResumeTiming();
        if (!ok || !undo_perform(doc)) {
            state.SkipWithError("undo failed");
            break;
        }
    }
    state.counters["tiles"] = tiles;
    document_free(&doc);
}
BENCHMARK(BM_UndoPerform)->Arg(1)->Arg(16)->Arg(256)->Unit(benchmark::kMillisecond);

// Redo of a record whose after pixels are already held.
void BM_RedoPerform(benchmark::State& state) {
    if (!_bench_display()) {
        state.SkipWithError("no display");
        return;
    }
    DOCUMENT* doc = _bench_document();
    if (!doc || !_bench_change(doc, (int)state.range(0)) || !undo_perform(doc)) {
        state.SkipWithError("no record");
        if (doc) document_free(&doc);
        return;
    }
    for (auto _ : state) {
        if (!redo_perform(doc)) {
            state.SkipWithError("redo failed");
            break;
        }
        state.PauseTiming();
        int ok = undo_perform(doc);
        state.ResumeTiming();
        if (!ok) {
            state.SkipWithError("undo failed");
            break;
        }
    }
    state.counters["tiles"] = (double)state.range(0);
    document_free(&doc);
}
BENCHMARK(BM_RedoPerform)->Arg(1)->Arg(16)->Arg(256)->Unit(benchmark::kMillisecond);

// Thirty strokes of a 200 px brush, each a thick line with dabs marked every
// 25 px along it; reports what the history holds before and after undoing all.
void BM_HistoryBytesThirtyStrokes(benchmark::State& state) {
    if (!_bench_display()) {
        state.SkipWithError("no display");
        return;
    }
    const float radius = 100.0f;
    double held = 0, held_undone = 0, tiles = 0;
    for (auto _ : state) {
        state.PauseTiming();
        DOCUMENT* doc = _bench_document();
        state.ResumeTiming();
        if (!doc) {
            state.SkipWithError("no document");
            break;
        }
        unsigned seed = 12345;
        for (int i = 0; i < 30; i++) {
            /* Deterministic strokes of 600 to 2000 px in varied directions. */
            seed = seed * 1103515245u + 12345u;
            float x0 = 200.0f + (float)(seed % 3600u);
            seed = seed * 1103515245u + 12345u;
            float y0 = 200.0f + (float)(seed % 3600u);
            seed = seed * 1103515245u + 12345u;
            float angle = (float)(seed % 6283u) / 1000.0f;
            seed = seed * 1103515245u + 12345u;
            float length = 600.0f + (float)(seed % 1400u);
            float x1 = x0 + cosf(angle) * length, y1 = y0 + sinf(angle) * length;
            if (!undo_begin(doc)) break;
            al_set_target_bitmap(doc->active_layer->bitmap);
            al_draw_line(x0, y0, x1, y1, al_map_rgba(200, 40, 40, 255), 2 * radius);
            int steps = (int)ceilf(length / 25.0f);
            for (int s = 0; s <= steps; s++) {
                float t = (float)s / (float)steps;
                undo_mark_dirty(doc, x0 + (x1 - x0) * t, y0 + (y1 - y0) * t, radius);
            }
            _undo_commit(doc, NULL, 0, 0);
        }
        held = (double)undo_bytes(doc);
        tiles = 0;
        for (LIST_NODE* n = doc->undo->undo_stack->start; n; n = n->next)
            tiles += (double)((UNDO_RECORD*)n->ptr)->tiles->nb_items;
        while (undo_perform(doc)) {
        }
        held_undone = (double)undo_bytes(doc);
        state.PauseTiming();
        document_free(&doc);
        state.ResumeTiming();
    }
    state.counters["records"] = 30;
    state.counters["tiles"] = tiles;
    state.counters["held_MiB"] = held / (1024.0 * 1024.0);
    state.counters["held_after_undo_all_MiB"] = held_undone / (1024.0 * 1024.0);
}
BENCHMARK(BM_HistoryBytesThirtyStrokes)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace
