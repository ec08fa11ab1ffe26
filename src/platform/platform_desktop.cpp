/* platform_desktop: the desktop (Linux) implementation of the platform layer. */
#include <allegro5/allegro.h>
#include <allegro5/allegro_native_dialog.h>
#include <X11/Xlib.h>
#include <dirent.h>
#include <errno.h>
#include <math.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "canvas/document_kinds.h"
#include "platform/platform.h"
#include "t_log.h"
#include "t_str.h"

extern char** environ;

static int native_dialog_ready = 0;
static int touch_installed = 0;

// Value of an environment variable when it is set and not empty, else null.
static const char* _env_nonempty(const char* name) {
    const char* value = getenv(name);
    return (value && value[0]) ? value : NULL;
}

// Computes the save folder: APPDATA, the desktop's data folder, or ./save.
static int _desktop_save_dir(char* out, size_t out_len) {
    const char* appdata = _env_nonempty("APPDATA");
    const char* xdg = _env_nonempty("XDG_DATA_HOME");
    const char* home = _env_nonempty("HOME");
    int n;
    if (appdata)
        n = snprintf(out, out_len, "%s/Plumaro", appdata);
    else if (xdg && xdg[0] == '/') /* relative values are invalid by the desktop's rules */
        n = snprintf(out, out_len, "%s/Plumaro", xdg);
    else if (home)
        n = snprintf(out, out_len, "%s/.local/share/Plumaro", home);
    else
        n = snprintf(out, out_len, "./save");
    if (n < 0 || (size_t)n >= out_len) {
        t_log(LOG_ERR, "save dir path truncated (need %d bytes)", n < 0 ? 0 : n + 1);
        if (out_len) out[0] = 0;
        return 0;
    }
    return 1;
}

int platform_save_dir(char* out, size_t out_len) {
    __t_assert(out);
    return _desktop_save_dir(out, out_len);
}

int platform_make_dirs(const char* path) {
    __t_assert(path);
    char buf[1024];
    int n = snprintf(buf, sizeof(buf), "%s", path);
    if (n < 0 || (size_t)n >= sizeof(buf)) return 0;
    for (char* p = buf + 1; *p; p++) {
        if (*p != '/') continue;
        *p = 0;
        if (mkdir(buf, 0700) != 0 && errno != EEXIST) return 0;
        *p = '/';
    }
    if (mkdir(buf, 0700) != 0 && errno != EEXIST) return 0;
    struct stat info;
    return stat(buf, &info) == 0 && S_ISDIR(info.st_mode);
}

// 1 when an X display can be reached; touch input must not be installed without one.
static int _desktop_has_display(void) {
    Display* display = XOpenDisplay(NULL);
    if (!display) return 0;
    XCloseDisplay(display);
    return 1;
}

int platform_init(void) {
    char dir[1024];
    if (!_desktop_save_dir(dir, sizeof(dir))) return 0;
    if (!platform_make_dirs(dir)) {
        t_log(LOG_ERR, "could not create save dir %s", dir);
        return 0;
    }
    if (!touch_installed && al_is_system_installed() && _desktop_has_display() && al_install_touch_input()) {
        touch_installed = 1;
        al_set_mouse_emulation_mode(ALLEGRO_MOUSE_EMULATION_TRANSPARENT);
    }
    t_log(LOG_INFO, "desktop platform ready, save dir: %s", dir);
    return 1;
}

int platform_touch_installed(void) { return touch_installed; }

int platform_save_path(const char* filename, char* out, size_t out_len) {
    __t_assert(filename);
    __t_assert(out);
    char dir[1024];
    if (!_desktop_save_dir(dir, sizeof(dir))) return 0;
    int n = snprintf(out, out_len, "%s/%s", dir, filename);
    return n >= 0 && (size_t)n < out_len;
}

size_t platform_openable_extension(const char* name) {
    __t_assert_return(name, 0);
    /* A name that is only an extension names no file worth listing. */
    size_t n = document_kind_extension(name, NULL);
    return n < strlen(name) ? n : 0;
}

int platform_list_documents(char* out, size_t out_len) {
    __t_assert_return(out, -1);
    if (out_len > 0) out[0] = 0;
    char dir[1024];
    if (!_desktop_save_dir(dir, sizeof(dir))) return -1;
    DIR* folder = opendir(dir);
    if (!folder) return 0;
    /* Newest first, as the list of saved drawings shows them. */
    std::vector<std::pair<time_t, std::string>> names;
    struct dirent* entry;
    while ((entry = readdir(folder)) != NULL) {
        const char* name = entry->d_name;
        if (!platform_openable_extension(name)) continue;
        struct stat info;
        std::string full = std::string(dir) + "/" + name;
        time_t when = stat(full.c_str(), &info) == 0 ? info.st_mtime : 0;
        names.emplace_back(when, name);
    }
    closedir(folder);
    std::sort(names.begin(), names.end(), [](const std::pair<time_t, std::string>& a,
                                             const std::pair<time_t, std::string>& b) {
        return a.first != b.first ? a.first > b.first : a.second < b.second;
    });
    int count = 0;
    size_t written = 0;
    for (const auto& item : names) {
        const char* name = item.second.c_str();
        size_t len = item.second.size();
        if (count == 0) {
            if (!(len + 1 < out_len)) break;
            memcpy(out, name, len + 1);
            written = len;
        } else {
            if (!(written + len + 2 < out_len)) break;
            out[written++] = '\n';
            memcpy(out + written, name, len + 1);
            written += len;
        }
        count++;
    }
    return count;
}

// 1 when `path` fits in `out` and names a readable file; `out` then holds it.
static int _asset_candidate(char* out, size_t out_len, const char* format, const char* base, const char* resource) {
    int n = snprintf(out, out_len, format, base, resource);
    if (n <= 0 || (size_t)n >= out_len) return 0;
    FILE* file = t_file_open_read(out);
    if (!file) return 0;
    fclose(file);
    return 1;
}

int platform_asset_path(const char* resource, char* out, size_t out_len) {
    __t_assert(resource);
    __t_assert(out);
    ALLEGRO_PATH* path = al_is_system_installed() ? al_get_standard_path(ALLEGRO_RESOURCES_PATH) : NULL;
    if (path) {
        char base[1024];
        snprintf(base, sizeof(base), "%s", al_path_cstr(path, '/'));
        al_destroy_path(path);
        size_t len = strlen(base);
        if (len > 0 && base[len - 1] != '/' && len + 1 < sizeof(base)) {
            base[len] = '/';
            base[len + 1] = 0;
        }
        if (_asset_candidate(out, out_len, "%sassets/%s", base, resource)) return 1;
        if (_asset_candidate(out, out_len, "%s../share/plumaro/assets/%s", base, resource)) return 1;
    }
    if (_asset_candidate(out, out_len, "%s%s", "./assets/", resource)) return 1;
    /* An installation without its own copies of the fonts uses the system's DejaVu package. */
    if (strncmp(resource, "fonts/", 6) == 0 &&
        _asset_candidate(out, out_len, "%s%s", "/usr/share/fonts/truetype/dejavu/", resource + 6))
        return 1;
    int n = snprintf(out, out_len, "./assets/%s", resource);
    return n > 0 && (size_t)n < out_len;
}

int platform_choose_file(int save, const char* initial_path, const char* patterns, char* out, size_t out_len) {
    __t_assert_return(out, -1);
    if (getenv("PLUMARO_NO_NATIVE_CHOOSER")) return -1;
    const char* scripted = _env_nonempty("PLUMARO_FILE_CHOICE");
    if (scripted) {
        size_t len = strlen(scripted);
        if (len >= out_len) return -1;
        memcpy(out, scripted, len + 1);
        return 1;
    }
    if (!native_dialog_ready) {
        if (!al_init_native_dialog_addon()) {
            t_log(LOG_ERR, "could not init the native dialog addon");
            return -1;
        }
        native_dialog_ready = 1;
    }
    ALLEGRO_FILECHOOSER* chooser = al_create_native_file_dialog(
        initial_path, save ? "Save Plumaro document" : "Open Plumaro document", patterns,
        save ? ALLEGRO_FILECHOOSER_SAVE : ALLEGRO_FILECHOOSER_FILE_MUST_EXIST);
    if (!chooser) {
        t_log(LOG_ERR, "could not create the file chooser");
        return -1;
    }
    if (!al_show_native_file_dialog(al_get_current_display(), chooser) ||
        al_get_native_file_dialog_count(chooser) < 1) {
        al_destroy_native_file_dialog(chooser);
        return 0;
    }
    const char* chosen = al_get_native_file_dialog_path(chooser, 0);
    int ok = 0;
    if (chosen) {
        size_t len = strlen(chosen);
        if (len > 0 && len < out_len) {
            memcpy(out, chosen, len + 1);
            ok = 1;
        }
    }
    al_destroy_native_file_dialog(chooser);
    return ok;
}

// Full path of an executable found on PATH, or 0.
static int _find_on_path(const char* name, char* out, size_t out_len) {
    const char* path = getenv("PATH");
    if (!path) return 0;
    while (*path) {
        const char* end = strchr(path, ':');
        size_t len = end ? (size_t)(end - path) : strlen(path);
        if (len > 0) {
            int n = snprintf(out, out_len, "%.*s/%s", (int)len, path, name);
            if (n > 0 && (size_t)n < out_len && access(out, X_OK) == 0) return 1;
        }
        path += len;
        if (*path == ':') path++;
    }
    return 0;
}

int platform_reveal_export(const char* path) {
    __t_assert(path);
    if (getenv("PLUMARO_NO_REVEAL")) return 1;
    /* Viewers that outlived an earlier call are reaped here. */
    while (waitpid(-1, NULL, WNOHANG) > 0) {
    }
    char opener[1024];
    if (!_find_on_path("xdg-open", opener, sizeof(opener))) {
        t_log(LOG_ERR, "could not open %s with the system viewer: xdg-open is not installed", path);
        return 0;
    }
    /* The path is handed over as one argument, never through a shell. */
    char* argv[] = {(char*)"xdg-open", (char*)path, NULL};
    pid_t pid;
    int err = posix_spawn(&pid, opener, NULL, NULL, argv, environ);
    if (err != 0) {
        t_log(LOG_ERR, "could not open %s with the system viewer (%s)", path, strerror(err));
        return 0;
    }
    /* xdg-open normally hands over and exits at once; one that keeps running
     * is left alone rather than freezing the interface. */
    for (int i = 0; i < 300; i++) {
        int status = 0;
        pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
                t_log(LOG_ERR, "could not open %s with the system viewer", path);
                return 0;
            }
            return 1;
        }
        if (done < 0) break;
        struct timespec pause = {0, 10 * 1000 * 1000};
        nanosleep(&pause, NULL);
    }
    return 1;
}

int platform_register_event_sources(ALLEGRO_EVENT_QUEUE* queue) {
    __t_assert(queue);
    if (touch_installed) {
        al_register_event_source(queue, al_get_touch_input_event_source());
        al_register_event_source(queue, al_get_touch_input_mouse_emulation_event_source());
    }
    return 1;
}

int platform_wait_event(ALLEGRO_EVENT_QUEUE* queue, ALLEGRO_EVENT* event) {
    __t_assert(queue);
    __t_assert(event);
    al_wait_for_event(queue, event);
    return 1;
}

int platform_display_flags(void) { return ALLEGRO_WINDOWED | ALLEGRO_RESIZABLE | ALLEGRO_OPENGL; }

int platform_density_overridden(void) { return getenv("PLUMARO_TEST_DENSITY") != NULL; }

float platform_display_density(void) {
    const char* text = _env_nonempty("PLUMARO_TEST_DENSITY");
    if (!text) return 1.0f;
    char* end = NULL;
    double value = strtod(text, &end);
    if (end == text || !isfinite(value) || value <= 0.0) {
        t_log(LOG_WARNING, "PLUMARO_TEST_DENSITY \"%s\" is not a positive number, using 1.0", text);
        return 1.0f;
    }
    return (float)value;
}

int platform_can_quit(void) { return 1; }
int platform_storage_ready(void) { return 1; }
int platform_is_touch_primary(void) { return 0; }

void platform_prepare_display(void) {}
void platform_on_halt(void) {}
void platform_on_resume(ALLEGRO_EVENT_QUEUE* queue) { (void)queue; }
void platform_file_written(void) {}
void platform_document_saved(const char* path) { (void)path; }
void platform_show_keyboard(void) {}
void platform_hide_keyboard(void) {}

uint64_t platform_memory_available(void) {
    uint64_t available = 0;
    FILE* info = fopen("/proc/meminfo", "r");
    if (info) {
        char line[256];
        unsigned long long kb;
        while (fgets(line, sizeof(line), info))
            if (sscanf(line, "MemAvailable: %llu kB", &kb) == 1) available = (uint64_t)kb * 1024u;
        fclose(info);
    }
    /* Under an address-space limit what is left of it counts, however much
     * memory the machine has. */
    struct rlimit limit;
    if (getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
        uint64_t used = 0;
        FILE* statm = fopen("/proc/self/statm", "r");
        unsigned long long pages = 0;
        if (statm) {
            if (fscanf(statm, "%llu", &pages) == 1) used = (uint64_t)pages * (uint64_t)sysconf(_SC_PAGESIZE);
            fclose(statm);
        }
        uint64_t left = (uint64_t)limit.rlim_cur > used ? (uint64_t)limit.rlim_cur - used : 0;
        if (!available || left < available) available = left;
    }
    return available;
}

int platform_publish_file(const char* path, const char* name, const char* mime_type) {
    (void)path;
    (void)name;
    (void)mime_type;
    return -1;
}

int platform_last_error(char* out, size_t out_len) {
    if (out && out_len > 0) out[0] = 0;
    return 0;
}

int platform_open_document_picker(void) { return 0; }
int platform_browse_documents(void) { return 0; }

int platform_resolve_document(const char* name, char* out) {
    (void)name;
    (void)out;
    return -1;
}

/* A file named on the command line waits here for the first timer tick. */
static char _import_path[4096];

int platform_hand_in(const char* path) {
    __t_assert(path);
    _import_path[0] = 0;
    if (!path[0]) return 0;
    int n;
    if (path[0] == '/') {
        n = snprintf(_import_path, sizeof(_import_path), "%s", path);
    } else {
        /* Relative to where the program was started, which a later chdir would change. */
        char cwd[2048];
        if (!getcwd(cwd, sizeof(cwd))) {
            t_log(LOG_ERR, "could not resolve %s: no working directory", path);
            return 0;
        }
        n = snprintf(_import_path, sizeof(_import_path), "%s/%s", cwd, path);
    }
    if (n < 0 || (size_t)n >= sizeof(_import_path)) {
        t_log(LOG_ERR, "the path of the file to open is too long");
        _import_path[0] = 0;
        return 0;
    }
    t_log(LOG_INFO, "file handed in: %s", _import_path);
    return 1;
}

int platform_take_import(char* out, size_t out_len) {
    __t_assert_return(out, -1);
    if (!_import_path[0]) return 0;
    size_t n = strlen(_import_path);
    if (n + 1 > out_len) {
        t_log(LOG_ERR, "the handed-in path does not fit; dropped");
        _import_path[0] = 0;
        return -1;
    }
    memcpy(out, _import_path, n + 1);
    _import_path[0] = 0;
    return 1;
}
