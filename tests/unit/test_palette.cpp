/* Palettes: forking on first store, the sixteen-palette limit, removal and
 * renaming, resets, and the "PPAL" image with its truncated and hostile forms. */
#include <gtest/gtest.h>
#include <dirent.h>

#include <string>
#include <vector>

#include "palette.h"
#include "t_log.h"
#include "test_support.h"

namespace {

std::string _image(const PALETTE_SET* set) {
    T_STR* s = palette_serialize(set);
    if (!s) return std::string();
    std::string out(s->data, s->length);
    t_str_free(&s);
    return out;
}

void _put32(std::string& b, uint32_t v) {
    for (int i = 0; i < 4; i++) b.push_back((char)(v >> (8 * i)));
}

std::string _header(uint32_t version, uint32_t custom, int32_t index, uint32_t count) {
    std::string b = "PPAL";
    _put32(b, version);
    _put32(b, custom);
    _put32(b, (uint32_t)index);
    _put32(b, count);
    return b;
}

std::string _record(const std::string& name, int32_t base, uint8_t tint) {
    std::string r = name.substr(0, 32);
    r.resize(32, '\0');
    _put32(r, (uint32_t)base);
    for (int i = 0; i < 24; i++) r.push_back((char)(tint + i));
    return r;
}

bool _same(const uint8_t (*a)[3], const uint8_t (*b)[3]) { return memcmp(a, b, 24) == 0; }

}  // namespace

TEST(Palette, BuiltinsAndLookups) {
    PALETTE_SET set;
    palette_set_defaults(&set);
    EXPECT_EQ(palette_builtin_count(), 5);
    EXPECT_EQ(palette_count(&set), 5);
    EXPECT_EQ(palette_count(NULL), 5);
    const char* names[] = {"Default", "Grayscale", "Warm", "Cool", "Pastel"};
    for (int i = 0; i < 5; i++) {
        EXPECT_STREQ(palette_name(&set, i), names[i]);
        EXPECT_FALSE(palette_is_user(&set, i));
    }
    EXPECT_STREQ(palette_name(&set, 5), "");
    EXPECT_STREQ(palette_name(&set, -1), "");
    const uint8_t (*def)[3] = palette_colors(&set, 0);
    EXPECT_EQ(def[0][0], 0x28);
    EXPECT_EQ(def[2][0], 0xD6);
    EXPECT_EQ(def[2][1], 0x2D);
    EXPECT_EQ(def[2][2], 0x20);
    EXPECT_EQ(palette_colors(&set, 4)[7][0], 0xDC);
    EXPECT_EQ(palette_colors(&set, 3)[6][2], 0xC8);
    EXPECT_TRUE(_same(palette_colors(&set, 99), def)) << "out of range gives Default";
    EXPECT_TRUE(_same(palette_colors(&set, -3), def));
    palette_select(&set, 3);
    EXPECT_TRUE(_same(palette_active_colors(&set), palette_colors(&set, 3)));
    palette_select(&set, 40);
    EXPECT_EQ(set.active, 4) << "clamped to the last palette";
    palette_select(&set, -2);
    EXPECT_EQ(set.active, 0);
}

TEST(Palette, StoringIntoAPresetForksIt) {
    PALETTE_SET set;
    palette_set_defaults(&set);
    palette_select(&set, 2); /* Warm */
    const uint8_t rgb[3] = {1, 2, 3};
    EXPECT_EQ(palette_assign(&set, 4, rgb), 5);
    EXPECT_EQ(set.count, 1);
    EXPECT_EQ(set.active, 5);
    EXPECT_STREQ(palette_name(&set, 5), "Custom 1");
    EXPECT_EQ(set.user[0].base, 2);
    for (int s = 0; s < 8; s++) {
        if (s == 4) EXPECT_EQ(memcmp(set.user[0].colors[s], rgb, 3), 0);
        else EXPECT_EQ(memcmp(set.user[0].colors[s], palette_colors(&set, 2)[s], 3), 0) << s;
    }
    EXPECT_EQ(palette_colors(&set, 2)[4][0], 0xF0) << "the preset itself is unchanged";
    /* Storing again goes into the same custom palette; a bad slot changes nothing. */
    const uint8_t other[3] = {9, 9, 9};
    EXPECT_EQ(palette_assign(&set, 0, other), 5);
    EXPECT_EQ(set.count, 1);
    EXPECT_EQ(palette_assign(&set, 8, other), 5);
    EXPECT_EQ(palette_assign(&set, -1, other), 5);
    EXPECT_EQ(set.count, 1);
    EXPECT_EQ(set.user[0].colors[7][0], palette_colors(&set, 2)[7][0]);
    EXPECT_EQ(palette_assign(NULL, 0, other), -1);
    EXPECT_EQ(palette_assign(&set, 0, NULL), -1);
}

TEST(Palette, SixteenIsTheLimit) {
    PALETTE_SET set;
    palette_set_defaults(&set);
    for (int i = 0; i < 16; i++) {
        palette_select(&set, i % 5);
        EXPECT_EQ(palette_new_from_active(&set), 5 + i);
        EXPECT_EQ(set.user[i].base, i % 5);
    }
    EXPECT_STREQ(palette_name(&set, 20), "Custom 16");
    palette_select(&set, 1);
    const uint8_t rgb[3] = {7, 7, 7};
    EXPECT_EQ(palette_assign(&set, 0, rgb), -1);
    EXPECT_EQ(palette_new_from_active(&set), -1);
    EXPECT_EQ(set.count, 16);
    EXPECT_EQ(set.active, 1);
    EXPECT_EQ(palette_colors(&set, 1)[0][0], 0) << "Grayscale untouched";
}

TEST(Palette, ForkingACustomPaletteKeepsItsColoursAndBase) {
    PALETTE_SET set;
    palette_set_defaults(&set);
    palette_select(&set, 3);
    const uint8_t rgb[3] = {50, 60, 70};
    palette_assign(&set, 1, rgb);
    EXPECT_EQ(palette_new_from_active(&set), 6);
    EXPECT_EQ(set.user[1].base, 3);
    EXPECT_TRUE(_same(set.user[1].colors, set.user[0].colors));
    EXPECT_STREQ(set.user[1].name, "Custom 2");
}

TEST(Palette, RemoveRenameAndReset) {
    PALETTE_SET set;
    palette_set_defaults(&set);
    for (int base : {1, 4, 2}) {
        palette_select(&set, base);
        palette_new_from_active(&set);
    }
    palette_select(&set, 7);
    EXPECT_EQ(palette_rename_active(&set, "Third"), 1);
    palette_select(&set, 6);
    EXPECT_EQ(palette_remove_active(&set), 1);
    EXPECT_EQ(set.count, 2);
    EXPECT_STREQ(palette_name(&set, 6), "Third") << "moved down, name kept";
    EXPECT_EQ(set.user[1].base, 2);
    EXPECT_EQ(set.active, 4) << "the removed palette's base";
    EXPECT_EQ(set.user[2].name[0], 0) << "freed slot zeroed";
    EXPECT_EQ(palette_remove_active(&set), 0) << "presets are read-only";
    EXPECT_EQ(palette_rename_active(&set, "X"), 0);
    EXPECT_STREQ(palette_name(&set, 4), "Pastel");

    /* Rename: at most 31 characters; empty gives "Custom n" for slot n. */
    palette_select(&set, 6);
    EXPECT_EQ(palette_rename_active(&set, std::string(40, 'z').c_str()), 1);
    EXPECT_EQ(strlen(palette_name(&set, 6)), 31u);
    EXPECT_EQ(palette_rename_active(&set, ""), 1);
    EXPECT_STREQ(palette_name(&set, 6), "Custom 2");

    /* Reset with an unknown base gives Default's colours. */
    const uint8_t rgb[3] = {1, 1, 1};
    palette_assign(&set, 3, rgb);
    set.user[1].base = -1;
    palette_reset_active(&set);
    EXPECT_TRUE(_same(set.user[1].colors, palette_colors(&set, 0)));
    set.user[1].base = 4;
    palette_reset_active(&set);
    EXPECT_TRUE(_same(set.user[1].colors, palette_colors(&set, 4)));

    /* Removing a palette whose base is unknown activates Default. */
    set.user[1].base = -1;
    EXPECT_EQ(palette_remove_active(&set), 1);
    EXPECT_EQ(set.active, 0);

    palette_reset_all(&set);
    EXPECT_EQ(set.count, 0);
    EXPECT_EQ(set.active, 0);
    EXPECT_EQ(_image(&set).size(), 20u);
}

TEST(Palette, FileImageRoundTrip) {
    PALETTE_SET set;
    palette_set_defaults(&set);
    palette_select(&set, 2);
    const uint8_t rgb[3] = {11, 22, 33};
    palette_assign(&set, 5, rgb);
    palette_new_from_active(&set);
    palette_rename_active(&set, "Mine");
    set.user[1].base = -7;
    palette_select(&set, 5);
    std::string img = _image(&set);
    ASSERT_EQ(img.size(), 20u + 2 * 60u);
    EXPECT_EQ(img.substr(0, 4), "PPAL");
    EXPECT_EQ(img[4], 1);
    EXPECT_EQ(img[8], 1) << "custom active";
    EXPECT_EQ(img[12], 0) << "slot index";
    EXPECT_EQ(img[16], 2);
    EXPECT_EQ(img.substr(80, 4), std::string("Mine"));
    EXPECT_EQ(img.substr(80 + 32, 4), std::string("\xFF\xFF\xFF\xFF", 4)) << "negative base written as -1";
    EXPECT_EQ((uint8_t)img[20 + 36 + 15], 11) << "swatch 5 red";

    PALETTE_SET back;
    ASSERT_EQ(palette_deserialize(&back, img.data(), img.size()), 1);
    EXPECT_EQ(back.count, 2);
    EXPECT_EQ(back.active, 5);
    EXPECT_STREQ(back.user[1].name, "Mine");
    EXPECT_EQ(back.user[1].base, -1);
    EXPECT_EQ(back.user[0].base, 2);
    EXPECT_TRUE(_same(back.user[0].colors, set.user[0].colors));

    palette_select(&set, 3);
    img = _image(&set);
    ASSERT_EQ(palette_deserialize(&back, img.data(), img.size()), 1);
    EXPECT_EQ(back.active, 3);

    /* A name with bytes that are no UTF-8 is read repaired, each bad part
     * one U+FFFD; a name that fills its record keeps whole characters. */
    img.replace(80, 8, std::string("Sky\xF4\x90\x80\x80\0", 8));
    img.replace(20, 31, std::string(29, 'a') + "\xC3\xA9");
    ASSERT_EQ(palette_deserialize(&back, img.data(), img.size()), 1);
    EXPECT_STREQ(back.user[1].name, "Sky\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(std::string(back.user[0].name), std::string(29, 'a') + "\xC3\xA9");
    /* A rename cut to the record splits no character. */
    palette_select(&set, 5);
    EXPECT_EQ(palette_rename_active(&set, (std::string(30, 'b') + "\xE2\x9C\x93").c_str()), 1);
    EXPECT_EQ(std::string(palette_name(&set, 5)), std::string(30, 'b'));
}

TEST(Palette, ReaderLimits) {
    PALETTE_SET set;
    /* Count 20: only 16 are taken. */
    std::string big = _header(1, 1, 30, 20);
    for (int i = 0; i < 20; i++) big += _record("P" + std::to_string(i), i % 7, (uint8_t)i);
    ASSERT_EQ(palette_deserialize(&set, big.data(), big.size()), 1);
    EXPECT_EQ(set.count, 16);
    EXPECT_EQ(set.active, 20) << "min(30, 15) + 5";
    EXPECT_EQ(set.user[5].base, 5 % 7 < 5 ? 5 % 7 : -1);
    EXPECT_EQ(set.user[6].base, -1) << "base 6 is not a built-in";

    /* Cut inside the fourth record: three. */
    std::string four = _header(1, 1, 3, 4);
    for (int i = 0; i < 4; i++) four += _record("Q", 1, 0);
    std::string cut = four.substr(0, 20 + 3 * 60 + 59);
    ASSERT_EQ(palette_deserialize(&set, cut.data(), cut.size()), 1);
    EXPECT_EQ(set.count, 3);
    EXPECT_EQ(set.active, 7) << "stored 3 capped at count - 1";
    cut = four.substr(0, 20 + 3 * 60 + 33);
    ASSERT_EQ(palette_deserialize(&set, cut.data(), cut.size()), 1);
    EXPECT_EQ(set.count, 3);

    /* A name filling all 32 bytes is terminated at the last one. */
    std::string full = _header(1, 0, 2, 1) + std::string(32, 'N');
    _put32(full, 3);
    full += std::string(24, 'c');
    ASSERT_EQ(palette_deserialize(&set, full.data(), full.size()), 1);
    EXPECT_EQ(strlen(set.user[0].name), 31u);
    EXPECT_EQ(set.active, 2);

    /* Custom flag without records activates Default; a built-in index is capped at 4. */
    std::string none = _header(1, 1, 2, 0);
    ASSERT_EQ(palette_deserialize(&set, none.data(), none.size()), 1);
    EXPECT_EQ(set.active, 0);
    none = _header(1, 0, 9, 0);
    ASSERT_EQ(palette_deserialize(&set, none.data(), none.size()), 1);
    EXPECT_EQ(set.active, 4);
    /* A negative stored index must not become a negative active index. */
    none = _header(1, 0, -5, 0);
    ASSERT_EQ(palette_deserialize(&set, none.data(), none.size()), 1);
    EXPECT_EQ(set.active, 0);
    std::string neg = _header(1, 1, -9, 1) + _record("R", 0, 0);
    ASSERT_EQ(palette_deserialize(&set, neg.data(), neg.size()), 1);
    EXPECT_EQ(set.active, 5);

    /* Rejected images leave an empty set. */
    set.count = 3;
    std::string v2 = _header(2, 0, 0, 1) + _record("V", 0, 0);
    EXPECT_EQ(palette_deserialize(&set, v2.data(), v2.size()), 0);
    EXPECT_EQ(set.count, 0);
    std::string magic = "XPAL" + v2.substr(4);
    EXPECT_EQ(palette_deserialize(&set, magic.data(), magic.size()), 0);
    EXPECT_EQ(palette_deserialize(&set, v2.data(), 19), 0);
    EXPECT_EQ(palette_deserialize(&set, NULL, 100), 0);
    EXPECT_EQ(set.count, 0);
    EXPECT_EQ(set.active, 0);
}

TEST(Palette, SaveAndLoadReplaceTheFileSafely) {
    std::string dir = test_make_temp_dir("palette");
    std::string path = dir + "/palette.dat";
    PALETTE_SET set, back;
    palette_set_defaults(&set);
    palette_new_from_active(&set);
    ASSERT_EQ(palette_save(&set, path.c_str()), 1);
    EXPECT_EQ(test_read_file(path).size(), 80u);
    ASSERT_EQ(palette_load(&back, path.c_str()), 1);
    EXPECT_EQ(back.count, 1);
    EXPECT_EQ(back.active, 5);

    /* Stopped before the rename: the old file stays and no temporary file is left. */
    palette_new_from_active(&set);
    t_file_set_commit_hook([](const char*, const char*, void*) { return 0; }, NULL);
    EXPECT_EQ(palette_save(&set, path.c_str()), 0);
    t_file_set_commit_hook(NULL, NULL);
    EXPECT_EQ(test_read_file(path).size(), 80u);
    int entries = 0;
    DIR* d = opendir(dir.c_str());
    while (struct dirent* e = readdir(d))
        if (e->d_name[0] != '.') entries++;
    closedir(d);
    EXPECT_EQ(entries, 1);

    EXPECT_EQ(palette_load(&back, (dir + "/none.dat").c_str()), 0);
    test_remove_tree(dir);
}
