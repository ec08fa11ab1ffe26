/* t_utf8: telling well-formed UTF-8 and making any bytes well formed. Every
 * ill-formed part (an overlong form, a surrogate, a code point above
 * U+10FFFF, a stray continuation byte, a sequence cut off) becomes one
 * U+FFFD per maximal subpart, as Unicode recommends, so two programs that
 * repair the same bytes show the same text. Text from files, folder
 * listings, the clipboard and the keyboard passes here before anything
 * measures or draws it: a font library may never step past a bad sequence. */
#pragma once
#include <stddef.h>

#include "t_str.h"

/* U+FFFD, the replacement character, as UTF-8. */
#define T_UTF8_REPLACEMENT "\xEF\xBF\xBD"

/* Bytes (1 to 4) of the well-formed character at the start of the `len`
 * bytes at `s`; 0 when they start ill formed (or `len` is 0), with the
 * length of the maximal subpart that one U+FFFD replaces in *bad. */
size_t t_utf8_char(const char* s, size_t len, size_t* bad);
/* 1 when the `len` bytes are well-formed UTF-8 (NUL bytes included). */
int t_utf8_valid(const char* s, size_t len);
/* Appends the `len` bytes to *out (made when null) with every ill-formed
 * part replaced by U+FFFD; the number replaced, or -1 (and *out as it was)
 * on failure. */
long t_utf8_repair(T_STR** out, const char* s, size_t len);
/* Copies NUL-terminated `src` into `dst` of `size` bytes, repaired, and cut
 * before the first character that does not fit; a null `src` copies
 * nothing. The bytes written, terminator not counted. */
size_t t_utf8_copy(char* dst, size_t size, const char* src);
/* Bytes of the longest start of the well-formed `len` bytes at `s` that is
 * at most `max` bytes and splits no character. */
size_t t_utf8_cut(const char* s, size_t len, size_t max);
/* Encodes a code point into `out`; the bytes written, 0 for a negative
 * value, a surrogate or a value above U+10FFFF, which have no UTF-8 form. */
int t_utf8_encode(long code_point, char out[4]);
