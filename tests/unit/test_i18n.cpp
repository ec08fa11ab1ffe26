/* Translation tables and the lookup: table order and coverage against the
 * product's list of English texts, placeholders, fallbacks, label lengths. */
#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "canvas/layer.h"
#include "gui/i18n.h"
#include "t_log.h"
#include "t_utf8.h"
#include "test_support.h"

static const char* const _keys[] = {
#include "i18n_keys.inc"
};
static const size_t _key_count = sizeof(_keys) / sizeof(_keys[0]);

static const int _translated[] = {LANG_FR, LANG_ES, LANG_DE};

// The printf conversions of a text in order; "%%" and a '%' that starts no conversion are literal.
static std::vector<std::string> _conversions(const char* text) {
    std::vector<std::string> found;
    size_t n = strlen(text);
    for (size_t i = 0; i < n; i++) {
        if (text[i] != '%') continue;
        if (text[i + 1] == '%') {
            i++;
            continue;
        }
        size_t j = i + 1;
        while (j < n && strchr("-+ #0'", text[j])) j++;
        if (j < n && text[j] == '*') j++;
        while (j < n && text[j] >= '0' && text[j] <= '9') j++;
        if (j < n && text[j] == '.') {
            j++;
            if (j < n && text[j] == '*') j++;
            while (j < n && text[j] >= '0' && text[j] <= '9') j++;
        }
        while (j < n && strchr("hlLjzt", text[j])) j++;
        if (j < n && strchr("diouxXeEfFgGaAcspn", text[j])) {
            found.push_back(std::string(text + i, j - i + 1));
            i = j;
        }
    }
    return found;
}

static const char* _find(int lang, const char* key) {
    size_t count = 0;
    const I18N_ENTRY* table = i18n_table(lang, &count);
    for (size_t i = 0; table && i < count; i++)
        if (strcmp(table[i].key, key) == 0) return table[i].text;
    return NULL;
}

class I18n : public ::testing::Test {
  protected:
    void SetUp() override { i18n_set_language(LANG_UNSET); }
    void TearDown() override { i18n_set_language(LANG_UNSET); }
};

TEST(I18nParser, ReadsConversionsAndSkipsLiteralPercents) {
    typedef std::vector<std::string> V;
    EXPECT_EQ(_conversions("Export PNG: %d x %d px"), (V{"%d", "%d"}));
    EXPECT_EQ(_conversions("Exported %dx%d: %s"), (V{"%d", "%d", "%s"}));
    EXPECT_EQ(_conversions("Off %+d,%+d"), (V{"%+d", "%+d"}));
    EXPECT_EQ(_conversions("%.0f%%"), (V{"%.0f"}));
    EXPECT_EQ(_conversions("%5.2lf and %zu"), (V{"%5.2lf", "%zu"}));
    EXPECT_TRUE(_conversions("Active layer opacity, 0 to 100%").empty());
    EXPECT_TRUE(_conversions("0 (soft) to 100% (hard)").empty());
    /* A space is a printf flag: "100 % de" would be read as a conversion. */
    EXPECT_EQ(_conversions("100 % de"), (V{"% d"}));
}

TEST(I18nTables, KeyListIsStrictlySortedWith378Texts) {
    ASSERT_EQ(_key_count, 378u);
    for (size_t i = 1; i < _key_count; i++) EXPECT_LT(strcmp(_keys[i - 1], _keys[i]), 0) << _keys[i];
}

TEST(I18nTables, EveryLanguageHoldsExactlyTheListedKeysInOrder) {
    for (int lang : _translated) {
        size_t count = 99;
        const I18N_ENTRY* table = i18n_table(lang, &count);
        ASSERT_NE(table, nullptr) << lang;
        ASSERT_EQ(count, _key_count) << lang;
        for (size_t i = 0; i < count; i++) {
            EXPECT_STREQ(table[i].key, _keys[i]) << "language " << lang << " row " << i;
            if (i > 0) {
                EXPECT_LT(strcmp(table[i - 1].key, table[i].key), 0) << table[i].key;
            }
        }
    }
    for (int lang : {(int)LANG_UNSET, (int)LANG_EN, -1, 5, 99}) {
        size_t count = 99;
        EXPECT_EQ(i18n_table(lang, &count), nullptr) << lang;
        EXPECT_EQ(count, 0u) << lang;
    }
}

TEST(I18nTables, TranslationsAreNonEmptyUtf8AndKeepPlaceholders) {
    for (int lang : _translated) {
        size_t count = 0;
        const I18N_ENTRY* table = i18n_table(lang, &count);
        ASSERT_NE(table, nullptr);
        for (size_t i = 0; i < count; i++) {
            ASSERT_NE(table[i].text, nullptr) << table[i].key;
            EXPECT_GT(strlen(table[i].text), 0u) << lang << ": " << table[i].key;
            EXPECT_TRUE(t_utf8_valid(table[i].text, strlen(table[i].text))) << lang << ": " << table[i].key;
            EXPECT_EQ(_conversions(table[i].text), _conversions(table[i].key))
                << "language " << lang << ": \"" << table[i].key << "\" -> \"" << table[i].text << "\"";
        }
    }
}

TEST(I18nTables, TablesAreRealTranslations) {
    /* Key names, single letters and shortcuts stay as they are; everything else is translated. */
    for (int lang : _translated) {
        size_t count = 0, same = 0;
        const I18N_ENTRY* table = i18n_table(lang, &count);
        ASSERT_NE(table, nullptr);
        for (size_t i = 0; i < count; i++) same += strcmp(table[i].key, table[i].text) == 0;
        EXPECT_LT(same, count / 7) << "language " << lang << " leaves " << same << " texts in English";
    }
}

TEST(I18nTables, PublishedRowsAndContextKeys) {
    struct ROW {
        const char *key, *fr, *es, *de;
    } rows[] = {
        {" [L]", " [V]", " [B]", " [G]"},
        {"(unnamed)", "(sans nom)", "(sin nombre)", "(unbenannt)"},
        {"Blend: %s", "Fusion : %s", "Fusión: %s", "Modus: %s"},
        {"Choose your language", "Choisissez votre langue", "Elige tu idioma", "Sprache wählen"},
        {"Quit Plumaro (asks to confirm)", "Quitte Plumaro (avec confirmation)", "Sale de Plumaro (pide confirmar)",
         "Beendet Plumaro (mit Nachfrage)"},
        {"Fill|shape", "Plein", "Sólido", "Gefüllt"},
        {"New|palette", "Nouvelle", "Nueva", "Neu"},
    };
    for (const ROW& row : rows) {
        EXPECT_STREQ(_find(LANG_FR, row.key), row.fr) << row.key;
        EXPECT_STREQ(_find(LANG_ES, row.key), row.es) << row.key;
        EXPECT_STREQ(_find(LANG_DE, row.key), row.de) << row.key;
    }
    EXPECT_STREQ(_find(LANG_FR, "Export PNG: %d x %d px"), "Export PNG : %d x %d px");

    size_t count = 0;
    const I18N_ENTRY* context = i18n_context_table(&count);
    ASSERT_EQ(count, 2u);
    EXPECT_STREQ(context[0].key, "Fill|shape");
    EXPECT_STREQ(context[0].text, "Fill");
    EXPECT_STREQ(context[1].key, "New|palette");
    EXPECT_STREQ(context[1].text, "New");
}

TEST_F(I18n, NullKeyGivesTheEmptyString) {
    for (int lang = LANG_UNSET; lang <= LANG_DE; lang++) {
        i18n_set_language(lang);
        test_log_capture_begin(LOG_DEBUG);
        const char* text = i18n_tr(NULL);
        std::string log = test_log_capture_end();
        ASSERT_NE(text, nullptr);
        EXPECT_STREQ(text, "");
        EXPECT_NE(log.find("if( !(key) ) assert"), std::string::npos) << log;
    }
}

TEST_F(I18n, EnglishShowsKeysAndContextKeysWithoutTheirContext) {
    for (int lang : {LANG_UNSET, LANG_EN}) {
        i18n_set_language(lang);
        EXPECT_STREQ(i18n_tr("Fill|shape"), "Fill");
        EXPECT_STREQ(i18n_tr("New|palette"), "New");
        for (size_t i = 0; i < _key_count; i++) {
            if (strchr(_keys[i], '|')) continue;
            EXPECT_EQ(i18n_tr(_keys[i]), _keys[i]) << _keys[i];
        }
    }
}

TEST_F(I18n, EveryKeyFindsItsTranslationByContent) {
    for (int lang : _translated) {
        i18n_set_language(lang);
        size_t count = 0;
        const I18N_ENTRY* table = i18n_table(lang, &count);
        ASSERT_NE(table, nullptr);
        for (size_t i = 0; i < count; i++) {
            /* A copy, so the match is by bytes and not by the literal's address. */
            std::string key = table[i].key;
            EXPECT_EQ(i18n_tr(key.c_str()), table[i].text) << lang << ": " << key;
        }
    }
    i18n_set_language(LANG_DE);
    EXPECT_STREQ(i18n_tr("Brush tip shape"), "Form der Pinselspitze");
    EXPECT_STREQ(i18n_tr("Fill|shape"), "Gefüllt");
}

TEST_F(I18n, UnknownKeysComeBackUnchanged) {
    const char* unknown[] = {"Layer 1", "Brush ", "brush", "BRUSH", "", " ", "\x01", "~~~", "zzz",
                             "Fill|", "Fill|Shape", " [L] "};
    for (int lang = LANG_UNSET; lang <= LANG_DE; lang++) {
        i18n_set_language(lang);
        for (const char* key : unknown) EXPECT_EQ(i18n_tr(key), key) << lang << ": \"" << key << "\"";
    }
}

TEST_F(I18n, SetLanguageIgnoresValuesOutsideTheRange) {
    i18n_set_language(LANG_DE);
    EXPECT_EQ(i18n_language(), LANG_DE);
    for (int bad : {7, 5, -1, 255, -2147483647 - 1}) {
        i18n_set_language(bad);
        EXPECT_EQ(i18n_language(), LANG_DE) << bad;
    }
    EXPECT_STREQ(i18n_tr("Brush"), "Pinsel");
    i18n_set_language(LANG_EN);
    EXPECT_EQ(i18n_language(), LANG_EN);
    i18n_set_language(LANG_UNSET);
    EXPECT_EQ(i18n_language(), LANG_UNSET);
}

TEST_F(I18n, DisplayNamesAreNeverTranslated) {
    i18n_set_language(LANG_FR);
    EXPECT_STREQ(i18n_language_name(LANG_UNSET), "English");
    EXPECT_STREQ(i18n_language_name(LANG_EN), "English");
    EXPECT_STREQ(i18n_language_name(LANG_FR), "Français");
    EXPECT_STREQ(i18n_language_name(LANG_ES), "Español");
    EXPECT_STREQ(i18n_language_name(LANG_DE), "Deutsch");
    for (int bad : {-1, 5, 100}) EXPECT_STREQ(i18n_language_name(bad), "English") << bad;
}

TEST_F(I18n, FormattedLabelsFitTheirBuffersAndAgreeWithTheirParts) {
    const char* tips[] = {"Round", "Square", "Chisel (L)", "Spray", "Chisel (R)", "Flat", "Diamond"};
    const char* modes[] = {"Off", "X", "Y", "XY", "Rad"};
    char text[256];
    for (int lang = LANG_EN; lang <= LANG_DE; lang++) {
        i18n_set_language(lang);
        for (const char* tip : tips) {
            snprintf(text, sizeof text, i18n_tr("Tip: %s"), i18n_tr(tip));
            EXPECT_LE(strlen(text), 23u) << text;
        }
        for (const char* mode : modes) {
            snprintf(text, sizeof text, i18n_tr("Sym:%s"), i18n_tr(mode));
            EXPECT_LE(strlen(text), 31u) << text;
        }
        for (int blend = 0; blend < 4; blend++) {
            snprintf(text, sizeof text, i18n_tr("Blend: %s"), i18n_tr(layer_blend_name(blend)));
            EXPECT_LE(strlen(text), 63u) << text;
        }
        snprintf(text, sizeof text, i18n_tr("Off %+d,%+d"), -16384, -16384);
        EXPECT_LE(strlen(text), 47u) << text;
        /* The initial labels read as the formatted ones will once the state changes. */
        snprintf(text, sizeof text, i18n_tr("Blend: %s"), i18n_tr("Normal"));
        EXPECT_STREQ(text, i18n_tr("Blend: Normal")) << lang;
        snprintf(text, sizeof text, i18n_tr("Export PNG: %d x %d px"), 4, 4);
        EXPECT_EQ(strncmp(text, i18n_tr("Export PNG"), strlen(i18n_tr("Export PNG"))), 0) << text;
    }
}
