/* t_utf8: the well-formedness check and the U+FFFD repair of UTF-8. */
#include "t_utf8.h"

#include <string.h>

#include "t_log.h"

size_t t_utf8_char(const char* s, size_t len, size_t* bad) {
    if (bad) *bad = 0;
    if (!s || len == 0) return 0;
    const unsigned char* u = (const unsigned char*)s;
    unsigned char c = u[0];
    if (c < 0x80) return 1;
    /* The bytes that may follow each lead byte (Unicode's table of
     * well-formed sequences): the second byte's range rules out overlong
     * forms, surrogates and code points above U+10FFFF. */
    size_t more = 0;
    unsigned char lo = 0x80, hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) more = 1;
    else if (c == 0xE0) more = 2, lo = 0xA0;
    else if (c == 0xED) more = 2, hi = 0x9F;
    else if (c >= 0xE1 && c <= 0xEF) more = 2;
    else if (c == 0xF0) more = 3, lo = 0x90;
    else if (c >= 0xF1 && c <= 0xF3) more = 3;
    else if (c == 0xF4) more = 3, hi = 0x8F;
    if (!more) {
        if (bad) *bad = 1; /* C0, C1, F5..FF, or a continuation byte alone */
        return 0;
    }
    size_t i = 1;
    for (; i <= more && i < len; i++) {
        unsigned char b = u[i];
        if (b < lo || b > hi) break;
        lo = 0x80, hi = 0xBF;
    }
    if (i == more + 1) return i;
    if (bad) *bad = i; /* the lead and the bytes that still fitted it */
    return 0;
}

int t_utf8_valid(const char* s, size_t len) {
    if (!s) return len == 0;
    size_t i = 0;
    while (i < len) {
        /* ASCII runs are the common case: no table lookups for them. */
        if ((unsigned char)s[i] < 0x80) {
            i++;
            continue;
        }
        size_t n = t_utf8_char(s + i, len - i, NULL);
        if (!n) return 0;
        i += n;
    }
    return 1;
}

long t_utf8_repair(T_STR** out, const char* s, size_t len) {
    __t_assert_return(out, -1);
    __t_assert_return(s || len == 0, -1);
    int made = *out == NULL;
    size_t before = *out ? (*out)->length : 0;
    if (t_utf8_valid(s, len)) {
        if (!t_str_append(out, s ? s : "", len, 1)) return -1;
        return 0;
    }
    long replaced = 0;
    size_t start = 0, i = 0;
    int ok = 1;
    while (ok && i < len) {
        size_t bad = 0;
        size_t n = t_utf8_char(s + i, len - i, &bad);
        if (n) {
            i += n;
            continue;
        }
        /* The good run before the bad part goes in one piece. */
        ok = t_str_append(out, s + start, i - start, 1) &&
             t_str_append(out, T_UTF8_REPLACEMENT, sizeof(T_UTF8_REPLACEMENT) - 1, 1);
        replaced++;
        i += bad;
        start = i;
    }
    if (ok) ok = t_str_append(out, s + start, i - start, 1);
    if (!ok) {
        if (made) t_str_free(out);
        else if (*out) {
            (*out)->length = before;
            if ((*out)->data) (*out)->data[before] = 0;
        }
        return -1;
    }
    return replaced;
}

size_t t_utf8_copy(char* dst, size_t size, const char* src) {
    if (!dst || size == 0) return 0;
    size_t j = 0;
    for (size_t i = 0; src && src[i];) {
        /* The terminator bounds every look-ahead: no byte past it is a
         * continuation byte. */
        size_t bad = 0, rest = strnlen(src + i, 4);
        size_t n = t_utf8_char(src + i, rest, &bad);
        const char* piece = n ? src + i : T_UTF8_REPLACEMENT;
        size_t piece_len = n ? n : sizeof(T_UTF8_REPLACEMENT) - 1;
        if (j + piece_len >= size) break;
        memcpy(dst + j, piece, piece_len);
        j += piece_len;
        i += n ? n : bad;
    }
    dst[j] = 0;
    return j;
}

size_t t_utf8_cut(const char* s, size_t len, size_t max) {
    if (!s || len <= max) return s ? len : 0;
    size_t i = 0;
    while (i < len) {
        size_t bad = 0;
        size_t n = t_utf8_char(s + i, len - i, &bad);
        size_t step = n ? n : bad;
        if (i + step > max) break;
        i += step;
    }
    return i;
}

int t_utf8_encode(long cp, char out[4]) {
    if (!out || cp < 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    if (cp < 0x80) {
        out[0] = (char)cp;
        return 1;
    }
    if (cp < 0x800) {
        out[0] = (char)(0xC0 | (cp >> 6));
        out[1] = (char)(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        out[0] = (char)(0xE0 | (cp >> 12));
        out[1] = (char)(0x80 | ((cp >> 6) & 0x3F));
        out[2] = (char)(0x80 | (cp & 0x3F));
        return 3;
    }
    out[0] = (char)(0xF0 | (cp >> 18));
    out[1] = (char)(0x80 | ((cp >> 12) & 0x3F));
    out[2] = (char)(0x80 | ((cp >> 6) & 0x3F));
    out[3] = (char)(0x80 | (cp & 0x3F));
    return 4;
}
