/* test_support: shared fixtures for the unit and display tests. */
#pragma once
#include <allegro5/allegro.h>

#include <string>
#include <vector>

struct LAYER;

/* A fresh empty folder under /tmp, removed by test_remove_tree. */
std::string test_make_temp_dir(const char* tag);
/* Removes a folder and everything in it. */
void test_remove_tree(const std::string& path);
/* Writes a file with the given bytes. */
void test_write_file(const std::string& path, const std::string& bytes);
/* Reads a whole file ("" when missing). */
std::string test_read_file(const std::string& path);

/* Initialises Allegro and its add-ons once per process. */
void test_allegro_init(void);
/* A small display shared by a test process (created on first use); null without X. */
ALLEGRO_DISPLAY* test_display(void);

/* Starts collecting log lines at `level` into memory. */
void test_log_capture_begin(int level);
/* Stops collecting and returns what was logged. */
std::string test_log_capture_end(void);

/* Reads one pixel of a bitmap as R, G, B, A bytes (premultiplied, as stored). */
void test_pixel_rgba(ALLEGRO_BITMAP* bitmap, int x, int y, unsigned char out[4]);

/* A bitmap's pixels as R, G, B, A bytes, rows packed (empty when it cannot be locked). */
std::vector<uint8_t> test_bitmap_bytes(ALLEGRO_BITMAP* bitmap);
/* Paints premultiplied noise into a layer's backup, rebuilds its video bitmap
 * from it, and returns the bytes painted. */
std::vector<uint8_t> test_paint_noise(struct LAYER* layer, unsigned seed);

/* Ends the test process with a message naming `what` when it is still
 * running `seconds` after the watchdog was made: a hang (a font loop, a
 * decode of minutes) fails the run at once rather than holding it until
 * the harness gives up. Disarmed when it goes out of scope. */
class TestWatchdog {
  public:
    TestWatchdog(const char* what, double seconds);
    ~TestWatchdog();
    TestWatchdog(const TestWatchdog&) = delete;
    TestWatchdog& operator=(const TestWatchdog&) = delete;

  private:
    struct State;
    State* state_;
};
