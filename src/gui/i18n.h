/* i18n: the interface languages, their display names, and the lookup that
 * turns an English interface text (the key) into the current language. */
#pragma once
#include <stddef.h>

typedef enum I18N_LANG {
    LANG_UNSET = 0, /* no choice made yet; texts are English */
    LANG_EN = 1,
    LANG_FR = 2,
    LANG_ES = 3,
    LANG_DE = 4
} I18N_LANG;

#define I18N_LANG_COUNT 5

/* One row of a translation table: the English key and its text. */
typedef struct I18N_ENTRY {
    const char* key;
    const char* text;
} I18N_ENTRY;

/* Sets the current language when lang is 0..4; any other value is ignored. */
void i18n_set_language(int lang);
/* Returns the current language (0 until one is set). */
int i18n_language(void);
/* Returns the name a language chooser shows, in the language itself; "English" for anything but 2..4. */
const char* i18n_language_name(int lang);
/* Returns the text to show for key in the current language: never null, static, not to be freed. */
const char* i18n_tr(const char* key);

/* Returns the strcmp-sorted translation table of language 2..4 and its size; null and 0 otherwise. */
const I18N_ENTRY* i18n_table(int lang, size_t* count);
/* Returns the English table of context keys ("Fill|shape" -> "Fill") and its size. */
const I18N_ENTRY* i18n_context_table(size_t* count);
