/* Document files on a 4096 x 4096 canvas with three layers (empty, a few thick
 * strokes, noise): save and load time and file size with the run-length layer
 * writer and with the graphics library's TGA encoder, and PNG export of two
 * documents, the sketch (the empty and the strokes layers) and the noise
 * document (all three), next to libpng at zlib level 6 with its default
 * filters and without filtering; the same drawing saved and opened as an
 * OpenRaster archive, and a thumbnail made from memory copies as the
 * command line makes it. Needs an X display (video bitmaps). */
#include <allegro5/allegro.h>
#include <allegro5/allegro_image.h>
#include <allegro5/allegro_memfile.h>
#include <allegro5/allegro_primitives.h>
#include <benchmark/benchmark.h>
#include <png.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <random>
#include <string>
#include <vector>

#include "app_persist.h"
#include "canvas/compositor.h"
#include "canvas/document_exchange.h"
#include "canvas/document_io.h"
#include "canvas/templates.h"
#include "platform/platform.h"
#include "t_log.h"

namespace {

const int SIDE = 4096;
DOCUMENT* g_doc = NULL;
DOCUMENT* g_sketch = NULL;
ALLEGRO_BITMAP* g_flat = NULL;
ALLEGRO_BITMAP* g_sketch_flat = NULL;
std::string g_dir;

// Copies a layer's video bitmap into its backup, as a committed change would.
void _commit(LAYER* layer) {
    ALLEGRO_LOCKED_REGION* src = al_lock_bitmap(layer->bitmap, ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE, ALLEGRO_LOCK_READONLY);
    ALLEGRO_LOCKED_REGION* dst = al_lock_bitmap(layer->backup, ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE, ALLEGRO_LOCK_WRITEONLY);
    for (int y = 0; y < SIDE; y++)
        memcpy((uint8_t*)dst->data + (intptr_t)y * dst->pitch, (uint8_t*)src->data + (intptr_t)y * src->pitch, SIDE * 4);
    al_unlock_bitmap(layer->backup);
    al_unlock_bitmap(layer->bitmap);
}

int _setup(void) {
    if (g_doc) return 1;
    al_init();
    al_init_image_addon();
    al_init_primitives_addon();
    al_set_new_display_flags(ALLEGRO_WINDOWED | ALLEGRO_OPENGL);
    if (!al_create_display(320, 240)) return 0;
    g_doc = document_new(SIDE, SIDE);
    document_add_layer(g_doc, "Empty");
    LAYER* strokes = document_add_layer(g_doc, "Strokes");
    al_set_target_bitmap(strokes->bitmap);
    al_clear_to_color(al_map_rgba(0, 0, 0, 0));
    std::mt19937 rng(7);
    for (int i = 0; i < 12; i++)
        al_draw_line(rng() % SIDE, rng() % SIDE, rng() % SIDE, rng() % SIDE,
                     al_map_rgba(rng() % 200, rng() % 200, rng() % 200, 255), 6.0f + rng() % 40);
    strokes->needs_clear = 0;
    _commit(strokes);
    /* The sketch: the same two layers, alone. */
    g_sketch = document_new(SIDE, SIDE);
    document_add_layer(g_sketch, "Empty");
    LAYER* sketch = document_add_layer(g_sketch, "Strokes");
    ALLEGRO_LOCKED_REGION* from = al_lock_bitmap(strokes->backup, ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE, ALLEGRO_LOCK_READONLY);
    ALLEGRO_LOCKED_REGION* to = al_lock_bitmap(sketch->backup, ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE, ALLEGRO_LOCK_WRITEONLY);
    for (int y = 0; y < SIDE; y++)
        memcpy((uint8_t*)to->data + (intptr_t)y * to->pitch, (uint8_t*)from->data + (intptr_t)y * from->pitch, SIDE * 4);
    al_unlock_bitmap(sketch->backup);
    al_unlock_bitmap(strokes->backup);
    layer_restore(sketch);
    g_sketch_flat = compositor_flatten_region(g_sketch, 0, 0, SIDE, SIDE, 1);
    LAYER* noise = document_add_layer(g_doc, "Noise");
    ALLEGRO_LOCKED_REGION* lock = al_lock_bitmap(noise->backup, ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE, ALLEGRO_LOCK_WRITEONLY);
    for (int y = 0; y < SIDE; y++) {
        uint32_t* row = (uint32_t*)((uint8_t*)lock->data + (intptr_t)y * lock->pitch);
        for (int x = 0; x < SIDE; x++) row[x] = rng() | 0xFF000000u;
    }
    al_unlock_bitmap(noise->backup);
    layer_restore(noise);
    noise->opacity = 0.5f;
    g_flat = compositor_flatten_region(g_doc, 0, 0, SIDE, SIDE, 1);
    /* Wait for the device to finish what the setting up queued, so that the
     * first timed iteration does not pay for it. */
    for (ALLEGRO_BITMAP* b : {g_flat, g_sketch_flat}) {
        ALLEGRO_LOCKED_REGION* one = b ? al_lock_bitmap_region(b, 0, 0, 1, 1, ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE,
                                                               ALLEGRO_LOCK_READONLY)
                                       : NULL;
        if (one) al_unlock_bitmap(b);
    }
    char tmpl[] = "/tmp/plumaro-bench-XXXXXX";
    g_dir = mkdtemp(tmpl);
    return g_flat != NULL;
}

long _file_size(const std::string& path) {
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return -1;
    fseek(f, 0, SEEK_END);
    long n = ftell(f);
    fclose(f);
    return n;
}

void _put32(FILE* f, uint32_t v) {
    uint8_t b[4] = {(uint8_t)v, (uint8_t)(v >> 8), (uint8_t)(v >> 16), (uint8_t)(v >> 24)};
    fwrite(b, 1, 4, f);
}

// The same file with every layer encoded by the graphics library's TGA saver.
int _save_with_library_tga(DOCUMENT* doc, const std::string& path) {
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return 0;
    fwrite("PLM3", 1, 4, f);
    _put32(f, (uint32_t)doc->width);
    _put32(f, (uint32_t)doc->height);
    _put32(f, (uint32_t)doc->template_index);
    int n = document_layer_count(doc);
    _put32(f, (uint32_t)n);
    size_t cap = (size_t)doc->width * doc->height * 4 + 65536;
    std::vector<uint8_t> buf(cap);
    int ok = 1;
    for (int i = 0; ok && i < n; i++) {
        LAYER* l = document_layer_at(doc, i);
        _put32(f, (uint32_t)l->name->length);
        fwrite(l->name->data, 1, l->name->length, f);
        _put32(f, (uint32_t)(l->opacity * 1000 + 0.5f));
        _put32(f, (uint32_t)l->blend);
        _put32(f, l->visible);
        _put32(f, l->locked);
        ALLEGRO_FILE* mf = al_open_memfile(buf.data(), (int64_t)cap, "w");
        ok = al_save_bitmap_f(mf, ".tga", l->backup);
        int64_t len = al_ftell(mf);
        al_fclose(mf);
        _put32(f, (uint32_t)len);
        fwrite(buf.data(), 1, (size_t)len, f);
    }
    return fclose(f) == 0 && ok;
}

// Loads every layer of a file through the graphics library's TGA loader.
int _load_with_library_tga(const std::string& path) {
    T_STR* s = t_str_read_file(path.c_str());
    if (!s) return 0;
    const uint8_t* d = (const uint8_t*)s->data;
    size_t pos = 20;
    uint32_t n = d[16] | (d[17] << 8);
    int ok = 1;
    for (uint32_t i = 0; ok && i < n; i++) {
        uint32_t name = d[pos] | (d[pos + 1] << 8) | (d[pos + 2] << 16) | ((uint32_t)d[pos + 3] << 24);
        pos += 4 + name + 16;
        uint32_t len = d[pos] | (d[pos + 1] << 8) | (d[pos + 2] << 16) | ((uint32_t)d[pos + 3] << 24);
        pos += 4;
        ALLEGRO_FILE* mf = al_open_memfile((void*)(d + pos), len, "r");
        int flags = al_get_new_bitmap_flags();
        al_set_new_bitmap_flags(ALLEGRO_MEMORY_BITMAP);
        ALLEGRO_BITMAP* b = al_load_bitmap_flags_f(mf, ".tga", ALLEGRO_NO_PREMULTIPLIED_ALPHA);
        al_set_new_bitmap_flags(flags);
        al_fclose(mf);
        ok = b != NULL;
        if (b) al_destroy_bitmap(b);
        pos += len;
    }
    t_str_free(&s);
    return ok;
}

void BM_SaveRunLength(benchmark::State& state) {
    if (!_setup()) return state.SkipWithError("no display");
    std::string path = g_dir + "/own.plm";
    for (auto _ : state)
        if (!document_save(g_doc, path.c_str())) state.SkipWithError("save failed");
    state.counters["file_MiB"] = _file_size(path) / 1048576.0;
}

void BM_LoadRunLength(benchmark::State& state) {
    if (!_setup()) return state.SkipWithError("no display");
    std::string path = g_dir + "/own.plm";
    if (_file_size(path) <= 0) document_save(g_doc, path.c_str());
    for (auto _ : state) {
        DOCUMENT* d = document_load(path.c_str());
        if (!d) state.SkipWithError("load failed");
        else document_free(&d);
    }
}

// The drawings as OpenRaster archives, next to the same drawings as drawing files.
// Argument 0: the three-layer drawing with noise; 1: the sketch; each in both formats.
void BM_SaveAs(benchmark::State& state) {
    if (!_setup()) return state.SkipWithError("no display");
    DOCUMENT* doc = state.range(0) ? g_sketch : g_doc;
    int ora = (int)state.range(1);
    std::string path = g_dir + (ora ? "/shared" : "/own") + std::to_string(state.range(0)) + (ora ? ".ora" : ".plm");
    for (auto _ : state)
        if (!(ora ? document_save_ora(doc, path.c_str()) : document_save(doc, path.c_str())))
            state.SkipWithError("save failed");
    state.counters["file_MiB"] = _file_size(path) / 1048576.0;
}

void BM_OpenAs(benchmark::State& state) {
    if (!_setup()) return state.SkipWithError("no display");
    DOCUMENT* doc = state.range(0) ? g_sketch : g_doc;
    int ora = (int)state.range(1);
    std::string path = g_dir + (ora ? "/shared" : "/own") + std::to_string(state.range(0)) + (ora ? ".ora" : ".plm");
    if (_file_size(path) <= 0) ora ? document_save_ora(doc, path.c_str()) : document_save(doc, path.c_str());
    for (auto _ : state) {
        DOCUMENT* d = document_load_any(path.c_str());
        if (!d) state.SkipWithError("load failed");
        else document_free(&d);
    }
}

// Reading and decoding alone, without building layers on the display.
void BM_ParseRunLength(benchmark::State& state) {
    if (!_setup()) return state.SkipWithError("no display");
    std::string path = g_dir + "/own.plm";
    if (_file_size(path) <= 0) document_save(g_doc, path.c_str());
    for (auto _ : state) {
        T_STR* s = t_str_read_file(path.c_str());
        DOCUMENT_FILE* f = s ? document_file_parse(s->data, s->length, path.c_str()) : NULL;
        if (!f) state.SkipWithError("parse failed");
        else document_file_free(&f);
        if (s) t_str_free(&s);
    }
}

void BM_SaveLibraryTga(benchmark::State& state) {
    if (!_setup()) return state.SkipWithError("no display");
    std::string path = g_dir + "/library.plm";
    for (auto _ : state)
        if (!_save_with_library_tga(g_doc, path)) state.SkipWithError("save failed");
    state.counters["file_MiB"] = _file_size(path) / 1048576.0;
}

void BM_LoadLibraryTgaWithLibraryLoader(benchmark::State& state) {
    if (!_setup()) return state.SkipWithError("no display");
    std::string path = g_dir + "/library.plm";
    if (_file_size(path) <= 0) _save_with_library_tga(g_doc, path);
    for (auto _ : state)
        if (!_load_with_library_tga(path)) state.SkipWithError("load failed");
}

void BM_LoadLibraryTgaWithOwnReader(benchmark::State& state) {
    if (!_setup()) return state.SkipWithError("no display");
    std::string path = g_dir + "/library.plm";
    if (_file_size(path) <= 0) _save_with_library_tga(g_doc, path);
    for (auto _ : state) {
        DOCUMENT* d = document_load(path.c_str());
        if (!d) state.SkipWithError("load failed");
        else document_free(&d);
    }
}

void BM_PngOwnEncoder(benchmark::State& state) {
    if (!_setup()) return state.SkipWithError("no display");
    size_t size = 0;
    for (auto _ : state) {
        uint8_t* png = document_png_encode(g_flat, &size);
        if (!png) state.SkipWithError("encode failed");
        free(png);
    }
    state.counters["file_MiB"] = size / 1048576.0;
}

void BM_PngLibraryEncoder(benchmark::State& state) {
    if (!_setup()) return state.SkipWithError("no display");
    size_t cap = (size_t)SIDE * SIDE * 4 + 65536;
    std::vector<uint8_t> buf(cap);
    int64_t size = 0;
    for (auto _ : state) {
        ALLEGRO_FILE* mf = al_open_memfile(buf.data(), (int64_t)cap, "w");
        if (!al_save_bitmap_f(mf, ".png", g_flat)) state.SkipWithError("encode failed");
        size = al_ftell(mf);
        al_fclose(mf);
    }
    state.counters["file_MiB"] = size / 1048576.0;
}

struct _PngSink {
    std::vector<uint8_t> bytes;
};

void _png_write(png_structp png, png_bytep data, png_size_t len) {
    _PngSink* sink = (_PngSink*)png_get_io_ptr(png);
    sink->bytes.insert(sink->bytes.end(), data, data + len);
}

void _png_flush(png_structp) {}

// The flattened sketch (0) or noise document (1).
ALLEGRO_BITMAP* _flat(int which) { return which ? g_flat : g_sketch_flat; }

// libpng at zlib level 6, with its default adaptive filters or none, into memory.
void _bench_libpng(benchmark::State& state, int filters) {
    if (!_setup()) return state.SkipWithError("no display");
    ALLEGRO_BITMAP* flat = _flat((int)state.range(0));
    std::vector<uint8_t> rgba((size_t)SIDE * SIDE * 4);
    ALLEGRO_LOCKED_REGION* lock = al_lock_bitmap(flat, ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE, ALLEGRO_LOCK_READONLY);
    for (int y = 0; y < SIDE; y++)
        memcpy(&rgba[(size_t)y * SIDE * 4], (uint8_t*)lock->data + (intptr_t)y * lock->pitch, SIDE * 4);
    al_unlock_bitmap(flat);
    std::vector<png_bytep> rows(SIDE);
    for (int y = 0; y < SIDE; y++) rows[y] = &rgba[(size_t)y * SIDE * 4];
    size_t size = 0;
    for (auto _ : state) {
        _PngSink sink;
        sink.bytes.reserve((size_t)SIDE * SIDE * 4);
        png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, NULL, NULL, NULL);
        png_infop info = png_create_info_struct(png);
        png_set_write_fn(png, &sink, _png_write, _png_flush);
        png_set_compression_level(png, 6);
        if (!filters) png_set_filter(png, 0, PNG_FILTER_NONE);
        png_set_IHDR(png, info, SIDE, SIDE, 8, PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                     PNG_FILTER_TYPE_DEFAULT);
        png_write_info(png, info);
        png_write_image(png, rows.data());
        png_write_end(png, NULL);
        png_destroy_write_struct(&png, &info);
        size = sink.bytes.size();
    }
    state.counters["file_MiB"] = size / 1048576.0;
    state.SetLabel(state.range(0) ? "noise" : "sketch");
}

void BM_PngLibpngLevel6NoFilter(benchmark::State& state) { _bench_libpng(state, 0); }

// The anchor of the export: what a plain libpng saver does by default.
void BM_PngLibpngLevel6DefaultFilters(benchmark::State& state) { _bench_libpng(state, 1); }

// The whole export as the program does it: flatten, encode, write the file.
void BM_ExportPng(benchmark::State& state) {
    if (!_setup()) return state.SkipWithError("no display");
    DOCUMENT* doc = state.range(0) ? g_doc : g_sketch;
    std::string path = g_dir + (state.range(0) ? "/noise.png" : "/sketch.png");
    for (auto _ : state)
        if (!document_export_png(doc, path.c_str())) state.SkipWithError("export failed");
    state.counters["file_MiB"] = _file_size(path) / 1048576.0;
    state.SetLabel(std::string(state.range(0) ? "noise" : "sketch") + " -> " + path);
}

// The thumbnailer's work without the file: the noise document held in
// memory copies only, as the command line holds it, flattened on the CPU
// (all Normal, or the strokes multiplied and the noise screened), shrunk to
// 256 pixels and encoded.
void BM_ThumbnailFromMemoryCopies(benchmark::State& state) {
    if (!_setup()) return state.SkipWithError("no display");
    DOCUMENT* doc = document_new(SIDE, SIDE);
    layer_defer_video(1);
    for (int i = 0; i < document_layer_count(g_doc); i++) {
        LAYER* from = document_layer_at(g_doc, i);
        LAYER* to = document_add_layer(doc, layer_name_text(from));
        al_destroy_bitmap(to->backup);
        to->backup = al_clone_bitmap(from->backup);
        to->opacity = from->opacity;
        to->blend = state.range(0) ? i : LAYER_BLEND_NORMAL;
    }
    layer_defer_video(0);
    size_t bytes = 0;
    for (auto _ : state) {
        uint8_t* flat = compositor_flatten_region_bytes(doc, 0, 0, SIDE, SIDE, 0);
        uint8_t* small = flat ? document_reduce_rgba(flat, SIDE, SIDE, 256, 256) : NULL;
        uint8_t* png = small ? document_png_encode_rgba(small, 256 * 4, 256, 256, &bytes) : NULL;
        if (!png) state.SkipWithError("thumbnail failed");
        free(png);
        free(small);
        free(flat);
    }
    state.counters["png_KiB"] = bytes / 1024.0;
    state.SetLabel(state.range(0) ? "multiply + screen" : "normal");
    document_free(&doc);
}

}  // namespace

// One autosave of the session (the 4096 x 4096 three-layer drawing), as a pause after a change makes it.
void BM_SessionAutosave(benchmark::State& state) {
    if (!_setup()) return state.SkipWithError("no display");
    setenv("APPDATA", g_dir.c_str(), 1);
    if (!platform_init()) return state.SkipWithError("no save folder");
    static PLUMARO_APP app;
    app.doc = g_doc;
    for (auto _ : state)
        if (!plumaro_app_session_persist(&app)) state.SkipWithError("store failed");
    app.doc = NULL;
}

BENCHMARK(BM_SaveRunLength)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_SessionAutosave)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_SaveLibraryTga)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_LoadRunLength)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_SaveAs)->ArgsProduct({{0, 1}, {0, 1}})->ArgNames({"sketch", "ora"})->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_OpenAs)->ArgsProduct({{0, 1}, {0, 1}})->ArgNames({"sketch", "ora"})->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ParseRunLength)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_LoadLibraryTgaWithOwnReader)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_LoadLibraryTgaWithLibraryLoader)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_PngOwnEncoder)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_PngLibraryEncoder)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_PngLibpngLevel6NoFilter)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_PngLibpngLevel6DefaultFilters)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_ExportPng)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK(BM_ThumbnailFromMemoryCopies)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3);
