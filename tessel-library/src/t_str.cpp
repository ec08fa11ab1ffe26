/* t_str: growable strings and whole-file helpers. */
#include "t_str.h"

#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "t_log.h"

T_STR* t_str_new(size_t capacity) {
    T_STR* str = NULL;
    Malloc(str, T_STR, 1, return NULL);
    if (capacity > 0) {
        Malloc(str->data, char, capacity, free(str); return NULL);
        str->capacity = capacity;
    }
    return str;
}

void t_str_free(T_STR** str) {
    __t_assert_void(str);
    if (!*str) {
        t_log(LOG_DEBUG, "Free( %s ) already done or NULL at line %d of %s", "*str", __LINE__, __FILE__);
        return;
    }
    free((*str)->data);
    free(*str);
    *str = NULL;
}

T_STR* t_str_from(const char* text) {
    __t_assert_null(text);
    T_STR* str = NULL;
    if (!t_str_append(&str, text, strlen(text), 1)) return NULL;
    if (!str) str = t_str_new(1);
    return str;
}

int t_str_copy(T_STR* str, const char* text) {
    __t_assert(str);
    __t_assert(text);
    size_t len = strlen(text);
    str->length = 0;
    if (str->data) str->data[0] = 0;
    return t_str_append(&str, text, len, 1);
}

int t_str_append(T_STR** str, const void* bytes, size_t len, int resize) {
    __t_assert(str);
    __t_assert(bytes || len == 0);
    if (!*str) {
        if (!resize) {
            t_log(LOG_ERR, "%p to %p: not enough space. Resize forbidden. %zu needed, %zu available",
                  bytes, (void*)NULL, len + 1, (size_t)0);
            return 0;
        }
        *str = t_str_new(0);
        if (!*str) return 0;
    }
    T_STR* s = *str;
    size_t needed = s->length + len + 1;
    if (needed > s->capacity) {
        if (!resize) {
            t_log(LOG_ERR, "%p to %p: not enough space. Resize forbidden. %zu needed, %zu available",
                  bytes, (void*)s, needed, s->capacity);
            return 0;
        }
        errno = 0;
        char* grown = (char*)realloc(s->data, needed);
        if (!grown) {
            t_log_alloc_failure(grown, needed, char);
            return 0;
        }
        s->data = grown;
        s->capacity = needed;
    }
    if (len) memcpy(s->data + s->length, bytes, len);
    s->length += len;
    s->data[s->length] = 0;
    return 1;
}

int t_str_printf(T_STR** str, const char* format, ...) {
    __t_assert(str);
    __t_assert(format);
    va_list args, copy;
    va_start(args, format);
    va_copy(copy, args);
    int needed = vsnprintf(NULL, 0, format, copy);
    va_end(copy);
    if (needed < 0) {
        va_end(args);
        return 0;
    }
    char* text = NULL;
    Malloc(text, char, (size_t)needed + 1, va_end(args); return 0);
    vsnprintf(text, (size_t)needed + 1, format, args);
    va_end(args);
    int ok = t_str_append(str, text, (size_t)needed, 1);
    free(text);
    return ok;
}

FILE* t_file_open_read(const char* path) {
    __t_assert_null(path);
    /* Opened without blocking: a pipe would wait for a writer forever. */
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return NULL;
    struct stat info;
    int error = fstat(fd, &info) != 0 ? errno : (!S_ISREG(info.st_mode) ? EINVAL : 0);
    if (error) {
        close(fd);
        errno = error;
        return NULL;
    }
    int flags = fcntl(fd, F_GETFL);
    if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    FILE* file = fdopen(fd, "rb");
    if (!file) {
        int error = errno;
        close(fd);
        errno = error;
    }
    return file;
}

int t_file_is_regular(const char* path) {
    struct stat info;
    return path && stat(path, &info) == 0 && S_ISREG(info.st_mode);
}

T_STR* t_str_read_file(const char* path) {
    __t_assert_null(path);
    FILE* file = t_file_open_read(path);
    if (!file) {
        if (errno == EINVAL)
            t_log(LOG_ERR, "Unable to open %s for reading: not a regular file", path);
        else
            t_log(LOG_ERR, "Unable to open %s for reading. Errno: %s", path, strerror(errno));
        return NULL;
    }
    struct stat info;
    if (fstat(fileno(file), &info) != 0) {
        t_log(LOG_ERR, "Unable to stat %s. Errno: %s", path, strerror(errno));
        fclose(file);
        return NULL;
    }
    if ((uint64_t)info.st_size >= 4000000000ULL) {
        t_log(LOG_ERR, "%s is too big (%jd bytes, 4 GB at most)", path, (intmax_t)info.st_size);
        fclose(file);
        return NULL;
    }
    size_t size = (size_t)info.st_size;
    T_STR* str = t_str_new(size + 1);
    if (!str) {
        fclose(file);
        return NULL;
    }
    size_t got = size ? fread(str->data, 1, size, file) : 0;
    if (got != size || ferror(file)) {
        t_log(LOG_ERR, "Unable to read %zu bytes from %s. Errno: %s", size, path, strerror(errno));
        fclose(file);
        t_str_free(&str);
        return NULL;
    }
    fclose(file);
    str->length = size;
    str->data[size] = 0;
    return str;
}

int t_str_write_file(const T_STR* str, const char* path) {
    __t_assert(str);
    __t_assert(path);
    return t_file_write_atomic(path, str->data, str->length);
}

// The mode a file others may read gets: 0666 less the process's umask.
static mode_t _t_file_shared_mode(void) {
    mode_t mask = umask(0);
    umask(mask);
    return (mode_t)(0666 & ~mask);
}

// Opens the temporary file with a mode.
static int _t_file_begin_mode(T_ATOMIC_FILE* af, const char* path, mode_t mode) {
    __t_assert(af);
    __t_assert(path);
    memset(af, 0, sizeof(*af));
    int n = snprintf(af->path, sizeof(af->path), "%s", path);
    int m = snprintf(af->tmp_path, sizeof(af->tmp_path), "%s.tmp-XXXXXX", path);
    if (n < 0 || (size_t)n >= sizeof(af->path) || m < 0 || (size_t)m >= sizeof(af->tmp_path)) {
        t_log(LOG_ERR, "path too long for a temporary file: %s", path);
        return 0;
    }
    int fd = mkstemp(af->tmp_path);
    if (fd < 0) {
        af->error = errno;
        t_log(LOG_ERR, "Couldn't open %s for writing (0%o). Errno: %s", af->tmp_path, (unsigned)mode, strerror(errno));
        return 0;
    }
    fchmod(fd, mode);
    af->file = fdopen(fd, "wb");
    if (!af->file) {
        af->error = errno;
        t_log(LOG_ERR, "Couldn't open %s for writing (0%o). Errno: %s", af->tmp_path, (unsigned)mode, strerror(errno));
        close(fd);
        unlink(af->tmp_path);
        return 0;
    }
    return 1;
}

int t_file_begin(T_ATOMIC_FILE* af, const char* path) { return _t_file_begin_mode(af, path, 0600); }

int t_file_begin_shared(T_ATOMIC_FILE* af, const char* path) {
    return _t_file_begin_mode(af, path, _t_file_shared_mode());
}

static T_FILE_COMMIT_HOOK _t_file_commit_hook = NULL;
static void* _t_file_commit_hook_user = NULL;

void t_file_set_commit_hook(T_FILE_COMMIT_HOOK hook, void* user) {
    _t_file_commit_hook = hook;
    _t_file_commit_hook_user = user;
}

int t_file_commit(T_ATOMIC_FILE* af) {
    __t_assert(af);
    __t_assert(af->file);
    errno = 0;
    int ok = fflush(af->file) == 0 && !ferror(af->file) && fsync(fileno(af->file)) == 0;
    if (!ok) af->error = errno ? errno : EIO;
    if (fclose(af->file) != 0) {
        if (ok) af->error = errno ? errno : EIO;
        ok = 0;
    }
    af->file = NULL;
    if (!ok) {
        t_log(LOG_ERR, "Couldn't write %s. Errno: %s", af->tmp_path, strerror(af->error));
        unlink(af->tmp_path);
        return 0;
    }
    if (_t_file_commit_hook && !_t_file_commit_hook(af->tmp_path, af->path, _t_file_commit_hook_user)) {
        t_log(LOG_ERR, "Couldn't replace %s: stopped before the rename", af->path);
        unlink(af->tmp_path);
        return 0;
    }
    if (rename(af->tmp_path, af->path) != 0) {
        af->error = errno;
        t_log(LOG_ERR, "Couldn't replace %s. Errno: %s", af->path, strerror(errno));
        unlink(af->tmp_path);
        return 0;
    }
    return 1;
}

void t_file_abort(T_ATOMIC_FILE* af) {
    __t_assert_void(af);
    if (af->file) {
        fclose(af->file);
        af->file = NULL;
    }
    if (af->tmp_path[0]) unlink(af->tmp_path);
}

// Writes the bytes through a temporary file opened with a mode.
static int _t_file_write_atomic_mode(const char* path, const void* data, size_t len, mode_t mode) {
    __t_assert(path);
    __t_assert(data || len == 0);
    T_ATOMIC_FILE af;
    if (!_t_file_begin_mode(&af, path, mode)) return 0;
    if (len && fwrite(data, 1, len, af.file) != len) {
        int error = errno;
        t_log(LOG_ERR, "Couldn't write %s. Errno: %s", af.tmp_path, strerror(error));
        t_file_abort(&af);
        errno = error;
        return 0;
    }
    return t_file_commit(&af);
}

int t_file_write_atomic(const char* path, const void* data, size_t len) {
    return _t_file_write_atomic_mode(path, data, len, 0600);
}

int t_file_write_atomic_shared(const char* path, const void* data, size_t len) {
    return _t_file_write_atomic_mode(path, data, len, _t_file_shared_mode());
}
