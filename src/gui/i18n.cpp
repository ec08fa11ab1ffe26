/* i18n: current language, display names and the binary-search lookup over the
 * static translation tables; nothing is allocated or copied. */
#include "gui/i18n.h"

#include <string.h>

#include "gui/i18n_tables.h"
#include "t_log.h"
#include "t_utf8.h"

/* Keys that carry a context after '|' show their English text without it. */
static const I18N_ENTRY _context_table[] = {
    {"Fill|shape", "Fill"},
    {"New|palette", "New"},
};

static int _language = LANG_UNSET;

// Binary search of a strcmp-sorted table; the entry's text, or null when the key is absent.
static const char* _search(const I18N_ENTRY* table, size_t count, const char* key) {
    size_t low = 0, high = count;
    while (low < high) {
        size_t mid = low + (high - low) / 2;
        int order = strcmp(key, table[mid].key);
        if (order == 0) return table[mid].text;
        if (order < 0)
            high = mid;
        else
            low = mid + 1;
    }
    return NULL;
}

void i18n_set_language(int lang) {
    if (lang < LANG_UNSET || lang > LANG_DE) {
        t_log(LOG_DEBUG, "ignoring unknown language %d", lang);
        return;
    }
    _language = lang;
}

int i18n_language(void) {
    return _language;
}

const char* i18n_language_name(int lang) {
    switch (lang) {
        case LANG_FR: return "Français";
        case LANG_ES: return "Español";
        case LANG_DE: return "Deutsch";
        default: return "English";
    }
}

const I18N_ENTRY* i18n_table(int lang, size_t* count) {
    const I18N_ENTRY* table = NULL;
    size_t size = 0;
    switch (lang) {
        case LANG_FR: table = i18n_fr_table, size = i18n_fr_count; break;
        case LANG_ES: table = i18n_es_table, size = i18n_es_count; break;
        case LANG_DE: table = i18n_de_table, size = i18n_de_count; break;
        default: break;
    }
    if (count) *count = size;
    return table;
}

const I18N_ENTRY* i18n_context_table(size_t* count) {
    if (count) *count = sizeof(_context_table) / sizeof(_context_table[0]);
    return _context_table;
}

// 1 when every key and text of a language's table is well-formed UTF-8,
// checked once per language: a table that is not stays unused (the font
// code may never step past a bad sequence) and the English texts show.
static int _table_sound(int lang, const I18N_ENTRY* table, size_t count) {
    static int checked[LANG_DE + 1] = {0}; /* 0 not yet, 1 sound, -1 not */
    if (lang < 0 || lang > LANG_DE) return 0;
    if (!checked[lang]) {
        checked[lang] = 1;
        for (size_t i = 0; i < count && checked[lang] > 0; i++) {
            const char* key = table[i].key ? table[i].key : "";
            const char* text = table[i].text ? table[i].text : "";
            if (!t_utf8_valid(key, strlen(key)) || !t_utf8_valid(text, strlen(text))) {
                t_log(LOG_ERR, "translation %zu of language %d is not well-formed UTF-8: English is shown", i, lang);
                checked[lang] = -1;
            }
        }
    }
    return checked[lang] > 0;
}

const char* i18n_tr(const char* key) {
    __t_assert_return(key, "");
    size_t count = 0;
    const I18N_ENTRY* table = i18n_table(_language, &count);
    if (table && !_table_sound(_language, table, count)) table = NULL;
    const char* text = table ? _search(table, count, key) : NULL;
    if (!text) text = _search(_context_table, sizeof(_context_table) / sizeof(_context_table[0]), key);
    return text ? text : key;
}
