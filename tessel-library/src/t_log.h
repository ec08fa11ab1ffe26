/* t_log: the one logging call of the program, its levels, line format and
 * the shared texts for failed assertions, allocations and double frees. */
#pragma once
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define LOG_NOLOG -1
#define LOG_EMERG 0
#define LOG_ALERT 1
#define LOG_CRIT 2
#define LOG_ERR 3
#define LOG_WARNING 4
#define LOG_NOTICE 5
#define LOG_INFO 6
#define LOG_DEBUG 7

/* Writes one line: colour, level name, seconds, file->function:line, message. */
void _t_log(int level, const char* file, const char* function, int line, const char* format, ...)
    __attribute__((format(printf, 5, 6)));
/* Sets the highest level written and decides console colouring. */
void log_set_level(int value);
/* Returns the highest level written (-1 writes nothing). */
int log_get_level(void);
/* Sets the stream written (null: the standard error stream). */
void log_set_file(FILE* file);
/* Returns 1 when lines carry colour codes. */
int log_get_colour(void);

#define t_log(LEVEL, ...) _t_log((LEVEL), __FILE__, __func__, __LINE__, __VA_ARGS__)

/* Logs a failed check of an argument or field at DEBUG and returns RET. */
#define __t_assert_return(EXPR, RET)                                                          \
    do {                                                                                      \
        if (!(EXPR)) {                                                                        \
            t_log(LOG_DEBUG, "if( !(%s) ) assert at line %d of %s", #EXPR, __LINE__, __FILE__); \
            return RET;                                                                       \
        }                                                                                     \
    } while (0)
#define __t_assert(EXPR) __t_assert_return(EXPR, 0)
#define __t_assert_void(EXPR) __t_assert_return(EXPR, )
#define __t_assert_null(EXPR) __t_assert_return(EXPR, NULL)

/* Logs an allocation failure in the shared wording. */
#define t_log_alloc_failure(VAR, COUNT, TYPE)                                                     \
    t_log(LOG_ERR, "( %s *)calloc( %zu , sizeof( %s ) ) %s at line %d of %s", #VAR, (size_t)(COUNT), \
          #TYPE, errno ? strerror(errno) : "malloc error", __LINE__, __FILE__)

/* Zero-filled allocation of COUNT items of TYPE; on failure logs and runs ON_FAIL. */
#define Malloc(VAR, TYPE, COUNT, ON_FAIL)                      \
    do {                                                       \
        errno = 0;                                             \
        (VAR) = (TYPE*)calloc((size_t)(COUNT), sizeof(TYPE));  \
        if (!(VAR)) {                                          \
            t_log_alloc_failure(VAR, COUNT, TYPE);             \
            ON_FAIL;                                           \
        }                                                      \
    } while (0)

/* Frees through the owning pointer and nulls it; a null pointer is reported at DEBUG. */
#define Free(PTR)                                                                               \
    do {                                                                                        \
        if (PTR) {                                                                              \
            free(PTR);                                                                          \
            (PTR) = NULL;                                                                       \
        } else {                                                                                \
            t_log(LOG_DEBUG, "Free( %s ) already done or NULL at line %d of %s", #PTR, __LINE__, __FILE__); \
        }                                                                                       \
    } while (0)
