/* t_str: a growable byte string with a NUL-terminated buffer, and whole-file
 * reading and atomic writing. */
#pragma once
#include <stddef.h>
#include <stdio.h>

typedef struct T_STR {
    char* data;      /* NUL-terminated; null while the capacity is 0 */
    size_t length;   /* used bytes, terminator not counted */
    size_t capacity; /* allocated bytes, terminator included */
} T_STR;

/* Creates a string with room for `capacity` bytes (0 makes no buffer). */
T_STR* t_str_new(size_t capacity);
/* Frees the string and nulls the caller's pointer. */
void t_str_free(T_STR** str);
/* Creates a string holding a copy of `text`. */
T_STR* t_str_from(const char* text);
/* Replaces the contents with `text`; grows as needed. */
int t_str_copy(T_STR* str, const char* text);
/* Appends `len` bytes; creates *str when null and `resize` allows growth. */
int t_str_append(T_STR** str, const void* bytes, size_t len, int resize);
/* Appends printf-formatted text (always allowed to grow). */
int t_str_printf(T_STR** str, const char* format, ...) __attribute__((format(printf, 2, 3)));
/* Reads a whole regular file into a new string; null on failure, for
 * anything but a regular file (a pipe would block), or at 4 GB and more. */
T_STR* t_str_read_file(const char* path);
/* Opens a regular file for reading without ever blocking on a pipe or a
 * device: null (with errno set, EINVAL for other kinds) when it is not one. */
FILE* t_file_open_read(const char* path);
/* 1 when `path` names a regular file (checked without opening it). */
int t_file_is_regular(const char* path);
/* Writes the used bytes to `path` (0600), replacing the old file atomically. */
int t_str_write_file(const T_STR* str, const char* path);

/* A file being written in place of another: the stream goes to a temporary
 * file in the target's folder until t_file_commit renames it over the target. */
typedef struct T_ATOMIC_FILE {
    FILE* file;
    char path[1024];
    char tmp_path[1024];
    int error; /* errno of the step that failed, 0 while none did */
} T_ATOMIC_FILE;

/* Opens a temporary file (0600) beside `path` for writing. */
int t_file_begin(T_ATOMIC_FILE* af, const char* path);
/* The same for a file others may read: mode 0666 less the umask. */
int t_file_begin_shared(T_ATOMIC_FILE* af, const char* path);
/* Flushes the temporary file to disk and renames it over the target. */
int t_file_commit(T_ATOMIC_FILE* af);
/* Closes and removes the temporary file; the target stays as it was. */
void t_file_abort(T_ATOMIC_FILE* af);

/* Called by t_file_commit after the temporary file is on disk and before it
 * replaces the target; returning 0 makes the commit fail as if the process
 * had stopped there. Tests use it to check that a lost write never costs the
 * old file. Null (the default) removes the hook. */
typedef int (*T_FILE_COMMIT_HOOK)(const char* tmp_path, const char* path, void* user);
void t_file_set_commit_hook(T_FILE_COMMIT_HOOK hook, void* user);

/* Writes `len` bytes to `path` with mode 0600 through a temporary file in the
 * same folder, flushed and renamed over the old one; on any failure the old
 * file is untouched and the temporary file removed. */
int t_file_write_atomic(const char* path, const void* data, size_t len);
/* The same with mode 0666 less the umask, for documents and exports. */
int t_file_write_atomic_shared(const char* path, const void* data, size_t len);
