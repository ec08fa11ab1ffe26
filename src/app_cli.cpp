/* app_cli: "--export" and "--thumbnail", run before (and instead of) the
 * program's window. Layers are kept in their memory copies only and
 * flattened on the CPU, so nothing here needs a display; every file is
 * written through a temporary file renamed over the old one. */
#include "app_cli.h"

#include <allegro5/allegro.h>
#include <allegro5/allegro_image.h>
#include <allegro5/allegro_primitives.h>
#include <errno.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>

#include "app_commands.h"
#include "canvas/compositor.h"
#include "canvas/document_exchange.h"
#include "canvas/document_io.h"
#include "canvas/document_kinds.h"
#include "t_log.h"
#include "t_str.h"

int plumaro_app_cli_is_command(const char* arg) {
    return arg && (strcmp(arg, "--export") == 0 || strcmp(arg, "--thumbnail") == 0);
}

// The value of one hexadecimal digit, or -1.
static int _cli_hex(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Length of a URI scheme that starts `arg` and is followed by ':', else 0.
static size_t _cli_scheme_length(const char* arg) {
    size_t n = 0;
    if (!((arg[0] >= 'a' && arg[0] <= 'z') || (arg[0] >= 'A' && arg[0] <= 'Z'))) return 0;
    while (arg[n] && (strchr("+-.", arg[n]) || (arg[n] >= '0' && arg[n] <= '9') || (arg[n] >= 'a' && arg[n] <= 'z') ||
                      (arg[n] >= 'A' && arg[n] <= 'Z')))
        n++;
    return arg[n] == ':' ? n : 0;
}

int plumaro_app_cli_local_path(const char* arg, char* out, size_t out_len) {
    __t_assert(arg);
    __t_assert(out);
    __t_assert(out_len > 0);
    out[0] = 0;
    size_t scheme = _cli_scheme_length(arg);
    /* A name like "a:b.plm" is a file; "smb://..." is a place this cannot read. */
    if (scheme < 2 || strncmp(arg + scheme, "://", 3) != 0) {
        if (scheme == 4 && strncasecmp(arg, "file", 4) == 0 && arg[5] == '/') {
            arg += 5; /* "file:/path" */
        } else {
            size_t n = strlen(arg);
            if (n == 0 || n >= out_len) return 0;
            memcpy(out, arg, n + 1);
            return 1;
        }
    } else {
        if (scheme != 4 || strncasecmp(arg, "file", 4) != 0) return 0;
        const char* host = arg + 7;
        const char* path = strchr(host, '/');
        if (!path) return 0;
        size_t host_len = (size_t)(path - host);
        if (host_len && !(host_len == 9 && strncasecmp(host, "localhost", 9) == 0)) return 0;
        arg = path;
    }
    size_t n = 0;
    for (const char* p = arg; *p; p++) {
        int c = (unsigned char)*p;
        if (c == '?' || c == '#') break; /* a query or fragment is not part of the path */
        if (c == '%') {
            int hi = _cli_hex(p[1]), lo = hi >= 0 ? _cli_hex(p[2]) : -1;
            if (lo < 0 || (hi == 0 && lo == 0)) {
                out[0] = 0;
                return 0;
            }
            c = hi * 16 + lo;
            p += 2;
        }
        if (n + 1 >= out_len) {
            out[0] = 0;
            return 0;
        }
        out[n++] = (char)c;
    }
    out[n] = 0;
    return n > 0;
}

// Starts what reading and writing files needs: the graphics library with
// its image and primitives add-ons, without a display or any input device.
static int _cli_start(int verbose, FILE* err) {
    log_set_level(verbose ? LOG_DEBUG : LOG_NOLOG);
    signal(SIGXFSZ, SIG_IGN); /* a file size limit fails the write instead of ending the process */
    /* Without this the library would connect to the X server (and run its
     * event thread) though nothing is ever shown. */
    unsetenv("DISPLAY");
    if (!al_init() || !al_init_image_addon() || !al_init_primitives_addon()) {
        fprintf(err, "plumaro: could not start the graphics library\n");
        return 0;
    }
    layer_defer_video(1);
    return 1;
}

// Why the last load failed, in one line.
static void _cli_load_reason(const char* path, char* out, size_t size) {
    const DOCUMENT_LOAD_STATUS* status = document_last_load_status();
    if (status->reason[0]) {
        snprintf(out, size, "%s", status->reason);
    } else if (status->error == DOCUMENT_LOAD_MEMORY) {
        char need[32], have[32];
        plumaro_app_format_bytes(status->needed, need, sizeof(need));
        plumaro_app_format_bytes(status->budget, have, sizeof(have));
        snprintf(out, size, "not enough memory for a %dx%d drawing with %d layers (%s needed, %s available)",
                 status->width, status->height, status->layers, need, have);
    } else {
        char head[3] = {0};
        FILE* f = t_file_open_read(path);
        int plm = f && fread(head, 1, 3, f) == 3 && memcmp(head, "PLM", 3) == 0;
        if (f) fclose(f);
        snprintf(out, size, "%s",
                 plm ? "the drawing is damaged" : "it is not a drawing, an OpenRaster archive or a picture");
    }
}

// Opens INPUT (a path or a file: URI) as a drawing; null after telling why.
static DOCUMENT* _cli_open(const char* input, FILE* err) {
    char path[1024];
    if (!plumaro_app_cli_local_path(input, path, sizeof(path))) {
        fprintf(err, "plumaro: cannot open %s: only local files can be read\n", input);
        return NULL;
    }
    struct stat st;
    if (stat(path, &st) != 0) {
        fprintf(err, "plumaro: cannot open %s: %s\n", path, strerror(errno));
        return NULL;
    }
    if (!S_ISREG(st.st_mode)) {
        fprintf(err, "plumaro: cannot open %s: it is not a regular file\n", path);
        return NULL;
    }
    DOCUMENT* doc = document_load_any(path);
    if (!doc) {
        char reason[256];
        _cli_load_reason(path, reason, sizeof(reason));
        fprintf(err, "plumaro: cannot open %s: %s\n", path, reason);
    }
    return doc;
}

// 1 when the folder OUTPUT goes into exists; tells why not otherwise.
static int _cli_folder_ready(const char* output, FILE* err) {
    char folder[1024];
    const char* slash = strrchr(output, '/');
    int n = slash ? snprintf(folder, sizeof(folder), "%.*s", (int)(slash - output), output)
                  : snprintf(folder, sizeof(folder), ".");
    if (n < 0 || (size_t)n >= sizeof(folder)) {
        fprintf(err, "plumaro: cannot write %s: the name is too long\n", output);
        return 0;
    }
    if (!folder[0]) snprintf(folder, sizeof(folder), "/");
    struct stat st;
    if (stat(folder, &st) != 0 || !S_ISDIR(st.st_mode)) {
        fprintf(err, "plumaro: cannot write %s: there is no folder %s\n", output, folder);
        return 0;
    }
    return 1;
}

// Tells that writing OUTPUT failed, with the system's reason when it gave one.
static int _cli_write_failed(const char* output, int error, FILE* err) {
    if (error)
        fprintf(err, "plumaro: could not write %s: %s\n", output, strerror(error));
    else
        fprintf(err, "plumaro: could not write %s\n", output);
    return 1;
}

// What an OUTPUT name asks --export to write: 1 with the kind of drawing
// that saves under its extension in *kind, or null there for a PNG of the
// composite; 0 for a name that asks for neither.
static int _cli_output_kind(const char* output, const DOCUMENT_FILE_KIND** kind) {
    size_t len = strlen(output), n = document_kind_extension(output, kind);
    if (!n || n == len || output[len - n - 1] == '/') return 0; /* a bare extension names nothing */
    if ((*kind)->save) return 1;
    *kind = NULL;
    return strcasecmp(output + len - n, ".png") == 0;
}

// The extensions --export writes, for the message that names them.
static void _cli_output_names(char* out, size_t size) {
    const char* names[16];
    int count = 0;
    names[count++] = ".png";
    for (int k = DOCUMENT_KIND_PLM; k <= DOCUMENT_KIND_IMAGE; k++) {
        const DOCUMENT_FILE_KIND* kind = document_kind(k);
        for (const char* const* ext = kind && kind->save ? kind->extensions : NULL; ext && *ext && count < 16; ext++)
            names[count++] = *ext;
    }
    size_t used = 0;
    out[0] = 0;
    for (int i = 0; i < count && used < size; i++) {
        const char* joint = i == 0 ? "" : (i == count - 1 ? " or " : ", ");
        int n = snprintf(out + used, size - used, "%s%s", joint, names[i]);
        if (n < 0) break;
        used += (size_t)n;
    }
}

// --export OUTPUT INPUT.
static int _cli_export(const char* output, const char* input, FILE* err) {
    const DOCUMENT_FILE_KIND* kind = NULL;
    if (!_cli_output_kind(output, &kind)) {
        char names[128];
        _cli_output_names(names, sizeof(names));
        fprintf(err, "plumaro: cannot write %s: name it %s\n", output, names);
        return 1;
    }
    if (!_cli_folder_ready(output, err)) return 1;
    DOCUMENT* doc = _cli_open(input, err);
    if (!doc) return 1;
    errno = 0;
    /* A PNG is the whole canvas with its page template, as the program exports it. */
    int ok = kind ? kind->save(doc, output) : document_export_png(doc, output);
    int error = errno;
    document_free(&doc);
    return ok ? 0 : _cli_write_failed(output, error, err);
}

// The SIZE argument: a whole number from 1 to the largest picture side, else 0.
static int _cli_size(const char* text) {
    long value = 0;
    if (!text || !*text) return 0;
    for (const char* p = text; *p; p++) {
        if (*p < '0' || *p > '9') return 0;
        value = value * 10 + (*p - '0');
        if (value > DOCUMENT_IMAGE_MAX_SIDE) return 0;
    }
    return (int)value;
}

// --thumbnail INPUT OUTPUT SIZE: the composite, shrunk to SIZE on its longer side.
static int _cli_thumbnail(const char* input, const char* output, const char* size_text, FILE* err) {
    int side = _cli_size(size_text);
    if (side < 1) {
        fprintf(err, "plumaro: the thumbnail size must be a whole number from 1 to %d, not %s\n",
                DOCUMENT_IMAGE_MAX_SIDE, size_text);
        return 1;
    }
    if (!_cli_folder_ready(output, err)) return 1;
    DOCUMENT* doc = _cli_open(input, err);
    if (!doc) return 1;
    int w = doc->width, h = doc->height, tw = 0, th = 0;
    document_fit_size(w, h, side, &tw, &th);
    uint8_t* flat = compositor_flatten_region_bytes(doc, 0, 0, w, h, 1);
    document_free(&doc);
    uint8_t* small = flat && (tw != w || th != h) ? document_reduce_rgba(flat, w, h, tw, th) : NULL;
    size_t size = 0;
    uint8_t* png = NULL;
    const uint8_t* picture = small ? small : (tw == w && th == h ? flat : NULL);
    if (picture) png = document_png_encode_rgba(picture, (intptr_t)tw * 4, tw, th, &size);
    free(small);
    free(flat);
    if (!png) {
        fprintf(err, "plumaro: not enough memory to draw the thumbnail of %s\n", input);
        return 1;
    }
    errno = 0;
    int ok = t_file_write_atomic_shared(output, png, size);
    int error = errno;
    free(png);
    return ok ? 0 : _cli_write_failed(output, error, err);
}

int plumaro_app_cli_run(int argc, char** argv, FILE* out, FILE* err) {
    (void)out;
    if (!err) err = stderr;
    const char* command = NULL;
    const char* args[4] = {NULL, NULL, NULL, NULL};
    int count = 0, verbose = 0, options = 1;
    for (int i = 1; argv && i < argc; i++) {
        const char* a = argv[i];
        if (!a) continue;
        if (options && strcmp(a, "--") == 0) {
            options = 0;
        } else if (options && strcmp(a, "-v") == 0) {
            verbose = 1;
        } else if (options && plumaro_app_cli_is_command(a)) {
            if (command) {
                fprintf(err, "plumaro: one command at a time, not %s and %s\n", command, a);
                return 1;
            }
            command = a;
        } else if (options && a[0] == '-' && a[1]) {
            fprintf(err, "plumaro: unknown option %s (see --help)\n", a);
            return 1;
        } else {
            if (count < 4) args[count] = a;
            count++;
        }
    }
    if (!command) return 1;
    int thumbnail = strcmp(command, "--thumbnail") == 0;
    if (thumbnail && count != 3) {
        fprintf(err, "plumaro: --thumbnail takes INPUT OUTPUT SIZE (see --help)\n");
        return 1;
    }
    if (!thumbnail && count != 2) {
        fprintf(err, "plumaro: --export takes OUTPUT INPUT (see --help)\n");
        return 1;
    }
    if (!_cli_start(verbose, err)) return 1;
    return thumbnail ? _cli_thumbnail(args[0], args[1], args[2], err) : _cli_export(args[0], args[1], err);
}
