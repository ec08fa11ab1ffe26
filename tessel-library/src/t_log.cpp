/* t_log: line-oriented logging to the standard error stream, with optional
 * ANSI colour when that stream is a terminal. */
#include "t_log.h"

#include <stdarg.h>
#include <stdint.h>
#include <time.h>
#include <unistd.h>

static int level = LOG_NOLOG;
static FILE* log_file = NULL;
static int colour = 0;

static const char* const _level_names[8] = {"EMERG", "ALERT", "CRITICAL", "ERR",
                                            "WARNING", "NOTICE", "INFO", "DEBUG"};
static const char* const _level_colours[8] = {"\033[31m", "\033[35m", "\033[31m", "\033[31m",
                                              "\033[33m", "\033[32m", "\033[36m", "\033[34m"};

void log_set_level(int value) {
    level = value;
    /* The console counts as colour-capable only when it is a terminal and the
     * user has not asked for plain output. */
    const char* no_colour = getenv("NO_COLOR");
    FILE* out = log_file ? log_file : stderr;
    colour = (isatty(fileno(out)) && !(no_colour && no_colour[0])) ? 1 : 0;
}

int log_get_level(void) { return level; }

void log_set_file(FILE* file) { log_file = file; }

int log_get_colour(void) { return colour; }

// Formats the message into a new buffer, measured first; null on failure.
static char* _log_format(const char* format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    int needed = vsnprintf(NULL, 0, format, copy);
    va_end(copy);
    if (needed < 0) return NULL;
    size_t size = (size_t)needed + 9;
    errno = 0;
    char* text = (char*)calloc(size, 1);
    if (!text) {
        FILE* out = log_file ? log_file : stderr;
        fprintf(out, "ERR:%jd:%s->%s:%d ( %s *)calloc( %zu , sizeof( %s ) ) %s at line %d of %s\n",
                (intmax_t)time(NULL), __FILE__, "vasprintf", __LINE__, "text", size, "char",
                errno ? strerror(errno) : "malloc error", __LINE__, __FILE__);
        return NULL;
    }
    vsnprintf(text, size, format, args);
    return text;
}

void _t_log(int msg_level, const char* file, const char* function, int line, const char* format, ...) {
    if (level == LOG_NOLOG || msg_level == LOG_NOLOG) return;
    if (level < msg_level) return;
    FILE* out = log_file ? log_file : stderr;
    const char* name = (msg_level >= 0 && msg_level <= 7) ? _level_names[msg_level] : "DEBUG";
    const char* code = "";
    if (colour) code = (msg_level >= 0 && msg_level <= 7) ? _level_colours[msg_level] : "\033[37m";
    fprintf(out, "%s%s:%jd:%s->%s:%d ", code, name, (intmax_t)time(NULL), file ? file : "NULL",
            function ? function : "NULL", line);
    if (format) {
        va_list args;
        va_start(args, format);
        char* text = _log_format(format, args);
        va_end(args);
        if (text) {
            fputs(text, out);
            free(text);
        }
    }
    fprintf(out, "%s\n", colour ? "\033[0m" : "");
    fflush(out);
}
