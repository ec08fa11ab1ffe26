/* fuzz_support: Allegro without a display, a quiet log, temporary files. */
#include "fuzz_support.h"

#include <allegro5/allegro.h>
#include <allegro5/allegro_font.h>
#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>
#include <string>
#include <unistd.h>

#include "t_log.h"

void fuzz_init(void) {
    static int done = 0;
    if (done) return;
    done = 1;
    /* A run must not depend on an X server being there or not. */
    unsetenv("DISPLAY");
    if (!al_init()) {
        fprintf(stderr, "fuzz: al_init failed\n");
        abort();
    }
    al_init_font_addon();
    al_set_new_bitmap_flags(ALLEGRO_MEMORY_BITMAP);
    al_set_new_bitmap_format(ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE);
    /* Every rejected input logs why; millions of lines would only slow the run. */
    log_set_level(getenv("FUZZ_LOG") ? LOG_DEBUG : LOG_NOLOG);
}

static std::string _temp_dir;

// Removes the temporary folder and the files written into it.
static void _remove_temp_dir(void) {
    DIR* d = opendir(_temp_dir.c_str());
    if (d) {
        while (struct dirent* e = readdir(d))
            if (e->d_name[0] != '.') unlink((_temp_dir + "/" + e->d_name).c_str());
        closedir(d);
    }
    rmdir(_temp_dir.c_str());
}

const char* fuzz_temp_path(const char* name) {
    std::string& dir = _temp_dir;
    /* The run script names a folder it removes itself, even after a crash. */
    if (dir.empty() && getenv("PLUMARO_FUZZ_TMP")) dir = getenv("PLUMARO_FUZZ_TMP");
    if (dir.empty()) {
        /* In memory where there is such a folder: the program's writes flush
         * to the disk, which would slow every run down to a crawl. */
        std::string tmpl = access("/dev/shm", W_OK) == 0 ? "/dev/shm/plumaro-fuzz-XXXXXX" : "/tmp/plumaro-fuzz-XXXXXX";
        if (!mkdtemp(&tmpl[0])) {
            perror("fuzz: mkdtemp");
            abort();
        }
        dir = tmpl;
        atexit(_remove_temp_dir);
    }
    static std::string path;
    path = dir + "/" + name;
    return path.c_str();
}

int fuzz_write_file(const char* path, const uint8_t* data, size_t size) {
    FILE* f = fopen(path, "wb");
    if (!f) return 0;
    int ok = fwrite(data, 1, size, f) == size;
    return fclose(f) == 0 && ok;
}

void fuzz_fail(const char* what, const char* file, int line) {
    fprintf(stderr, "fuzz: check failed: %s (%s:%d)\n", what, file, line);
    abort();
}
