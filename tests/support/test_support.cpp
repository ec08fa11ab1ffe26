/* test_support: temporary folders, Allegro set-up and log capture for tests. */
#include "test_support.h"

#include <allegro5/allegro_font.h>
#include <allegro5/allegro_image.h>
#include <allegro5/allegro_primitives.h>
#include <allegro5/allegro_ttf.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <random>
#include <sstream>
#include <thread>

#include "canvas/layer.h"
#include "t_log.h"

/* Every test process starts quiet: no file chooser, no viewer opened on an
 * export, no desktop settings or accessibility bus. Tests that need one of
 * these paths change the variable themselves; a value already set wins. */
static int _test_quiet_environment(void) {
    setenv("PLUMARO_NO_REVEAL", "1", 0);
    setenv("PLUMARO_NO_NATIVE_CHOOSER", "1", 0);
    setenv("GSETTINGS_BACKEND", "memory", 0);
    setenv("NO_AT_BRIDGE", "1", 0);
    return 1;
}
static const int _test_quiet = _test_quiet_environment();

std::string test_make_temp_dir(const char* tag) {
    char pattern[256];
    snprintf(pattern, sizeof(pattern), "/tmp/plumaro-%s-XXXXXX", tag ? tag : "test");
    char* made = mkdtemp(pattern);
    return made ? std::string(made) : std::string();
}

void test_remove_tree(const std::string& path) {
    if (path.size() < 6 || path.compare(0, 5, "/tmp/") != 0) return;
    std::string cmd = "rm -rf '" + path + "'";
    if (system(cmd.c_str()) != 0) fprintf(stderr, "could not remove %s\n", path.c_str());
}

void test_write_file(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

std::string test_read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void test_allegro_init(void) {
    static int done = 0;
    if (done) return;
    done = 1;
    al_init();
    al_init_image_addon();
    al_init_font_addon();
    al_init_ttf_addon();
    al_init_primitives_addon();
}

ALLEGRO_DISPLAY* test_display(void) {
    static ALLEGRO_DISPLAY* display = NULL;
    static int tried = 0;
    if (!tried) {
        tried = 1;
        test_allegro_init();
        al_set_new_display_flags(ALLEGRO_WINDOWED | ALLEGRO_OPENGL);
        display = al_create_display(320, 240);
    }
    if (display) al_set_target_backbuffer(display);
    return display;
}

static FILE* capture_file = NULL;
static int capture_previous_level = -1;

void test_log_capture_begin(int level) {
    capture_file = tmpfile();
    capture_previous_level = log_get_level();
    log_set_file(capture_file);
    log_set_level(level);
}

std::string test_log_capture_end(void) {
    std::string text;
    if (capture_file) {
        fflush(capture_file);
        long size = ftell(capture_file);
        rewind(capture_file);
        text.resize(size > 0 ? (size_t)size : 0);
        if (size > 0 && fread(&text[0], 1, (size_t)size, capture_file) != (size_t)size) text.clear();
        fclose(capture_file);
        capture_file = NULL;
    }
    log_set_file(NULL);
    log_set_level(capture_previous_level);
    return text;
}

void test_pixel_rgba(ALLEGRO_BITMAP* bitmap, int x, int y, unsigned char out[4]) {
    ALLEGRO_LOCKED_REGION* lock =
        al_lock_bitmap_region(bitmap, x, y, 1, 1, ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE, ALLEGRO_LOCK_READONLY);
    if (!lock) {
        memset(out, 0, 4);
        return;
    }
    memcpy(out, lock->data, 4);
    al_unlock_bitmap(bitmap);
}

std::vector<uint8_t> test_bitmap_bytes(ALLEGRO_BITMAP* bitmap) {
    int w = al_get_bitmap_width(bitmap), h = al_get_bitmap_height(bitmap);
    std::vector<uint8_t> out((size_t)w * h * 4);
    ALLEGRO_LOCKED_REGION* lock = al_lock_bitmap(bitmap, ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE, ALLEGRO_LOCK_READONLY);
    if (!lock) return std::vector<uint8_t>();
    for (int y = 0; y < h; y++)
        memcpy(&out[(size_t)y * w * 4], (uint8_t*)lock->data + (intptr_t)y * lock->pitch, (size_t)w * 4);
    al_unlock_bitmap(bitmap);
    return out;
}

std::vector<uint8_t> test_paint_noise(LAYER* layer, unsigned seed) {
    int w = al_get_bitmap_width(layer->backup), h = al_get_bitmap_height(layer->backup);
    std::mt19937 rng(seed);
    std::vector<uint8_t> px((size_t)w * h * 4);
    for (size_t i = 0; i < px.size(); i += 4) {
        uint8_t a = (uint8_t)(rng() % 3 == 0 ? 0 : rng());
        for (int c = 0; c < 3; c++) px[i + c] = a ? (uint8_t)(rng() % (a + 1u)) : 0;
        px[i + 3] = a;
    }
    ALLEGRO_LOCKED_REGION* lock =
        al_lock_bitmap(layer->backup, ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE, ALLEGRO_LOCK_WRITEONLY);
    if (!lock) return std::vector<uint8_t>();
    for (int y = 0; y < h; y++)
        memcpy((uint8_t*)lock->data + (intptr_t)y * lock->pitch, &px[(size_t)y * w * 4], (size_t)w * 4);
    al_unlock_bitmap(layer->backup);
    layer_restore(layer);
    return px;
}

struct TestWatchdog::State {
    std::string what;
    std::mutex mutex;
    std::condition_variable done;
    bool disarmed = false;
    std::thread thread;
};

TestWatchdog::TestWatchdog(const char* what, double seconds) : state_(new State) {
    state_->what = what ? what : "a step";
    State* s = state_;
    s->thread = std::thread([s, seconds] {
        std::unique_lock<std::mutex> lock(s->mutex);
        if (s->done.wait_for(lock, std::chrono::duration<double>(seconds), [s] { return s->disarmed; })) return;
        /* The hung step cannot be stopped from here: the process ends. */
        fprintf(stderr, "watchdog: %s did not finish within %.1f s\n", s->what.c_str(), seconds);
        fflush(stderr);
        _exit(3);
    });
}

TestWatchdog::~TestWatchdog() {
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        state_->disarmed = true;
    }
    state_->done.notify_all();
    state_->thread.join();
    delete state_;
}
