/* i18n_tables: the translation tables the lookup searches; each is sorted by
 * strcmp of the key and all three hold the same keys in the same order. */
#pragma once
#include "gui/i18n.h"

extern const I18N_ENTRY i18n_fr_table[];
extern const size_t i18n_fr_count;
extern const I18N_ENTRY i18n_es_table[];
extern const size_t i18n_es_count;
extern const I18N_ENTRY i18n_de_table[];
extern const size_t i18n_de_count;
