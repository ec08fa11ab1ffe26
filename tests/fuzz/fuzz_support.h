/* fuzz_support: what every fuzz target shares: Allegro started without a
 * display, memory bitmaps, a quiet log, and a hard stop on a broken rule. */
#pragma once
#include <stddef.h>
#include <stdint.h>

/* Starts Allegro (system, font addon) for memory bitmaps only and silences
 * the log; safe to call more than once. */
void fuzz_init(void);

/* A path in a private temporary folder, the same for the whole run:
 * $PLUMARO_FUZZ_TMP when set, else one made (in memory where possible) and
 * removed at exit. */
const char* fuzz_temp_path(const char* name);

/* Writes `size` bytes to `path`; 1 on success. */
int fuzz_write_file(const char* path, const uint8_t* data, size_t size);

/* Reports a broken rule with its place and aborts, which libFuzzer records
 * as a crash with the input that caused it. */
#define FUZZ_CHECK(EXPR)                                            \
    do {                                                            \
        if (!(EXPR)) fuzz_fail(#EXPR, __FILE__, __LINE__);          \
    } while (0)
[[noreturn]] void fuzz_fail(const char* what, const char* file, int line);
