/* Settings and palette files: the 128-byte settings record, its clamping and
 * short-file rules, the palette file, and writes that never cost the old file. */
#include <dirent.h>
#include <gtest/gtest.h>
#include <math.h>
#include <string.h>

#include <string>
#include <vector>

#include "app_persist.h"
#include "app_start_values.h"
#include "gui/i18n.h"
#include "platform/platform.h"
#include "t_log.h"
#include "t_str.h"
#include "test_support.h"

namespace {

typedef std::vector<uint8_t> Bytes;

void _put32(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; i++) b[at + i] = (uint8_t)(v >> (8 * i));
}

uint32_t _get32(const std::string& s, size_t at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; i--) v = (v << 8) | (uint8_t)s[at + i];
    return v;
}


// Files in a folder whose names start with `prefix`.
std::vector<std::string> _files_starting(const std::string& dir, const std::string& prefix) {
    std::vector<std::string> out;
    DIR* d = opendir(dir.c_str());
    if (!d) return out;
    while (struct dirent* e = readdir(d))
        if (strncmp(e->d_name, prefix.c_str(), prefix.size()) == 0) out.push_back(e->d_name);
    closedir(d);
    return out;
}

int _refuse_commit(const char*, const char*, void* user) {
    (*(int*)user)++;
    return 0;
}

class Persist : public ::testing::Test {
  protected:
    void SetUp() override {
        test_allegro_init();
        dir_ = test_make_temp_dir("persist");
        setenv("APPDATA", dir_.c_str(), 1);
        save_ = dir_ + "/Plumaro";
        ASSERT_EQ(platform_make_dirs(save_.c_str()), 1);
        test_app_start_values(&app_);
        i18n_set_language(0);
    }
    void TearDown() override {
        t_file_set_commit_hook(NULL, NULL);
        i18n_set_language(0);
        test_remove_tree(dir_);
    }
    std::string settings_path() const { return save_ + "/settings.dat"; }
    // A full record with every field set away from its start value.
    Bytes full_record() {
        PLUMARO_APP a;
        test_app_start_values(&a);
        a.pressure_speed = 1;
        a.palm_rejection = 1;
        a.language = LANG_DE;
        a.tool = 4;
        a.brush.eraser = 1;
        a.brush_preset = 2;
        a.brush.size = 77.9f;
        a.brush.opacity = 0.456f;
        a.brush.flow = 0.3f;
        a.brush.hardness = 0.0f;
        a.brush.color = al_map_rgba(12, 34, 56, 200);
        a.brush.tip = 5;
        a.grid.visible = 1;
        a.grid.snap = 1;
        a.grid.diagonals = 1;
        a.grid.spacing = 33.7f;
        a.symmetry.mode = 4;
        a.symmetry.segments = 9;
        a.shapes_solid = 1;
        a.section_flags = 0x00050041u;
        a.toolbar_collapsed = 1;
        a.layer_panel_collapsed = 1;
        a.layer_panel_width = 321.8f;
        a.export_area = 1;
        a.export_border = 40;
        a.export_template = 1;
        a.text_size = 96;
        a.text_font = 2;
        a.ui_size = 3;
        uint8_t out[APP_SETTINGS_SIZE];
        plumaro_app_settings_encode(&a, out);
        return Bytes(out, out + sizeof(out));
    }
    void write(const Bytes& b) { test_write_file(settings_path(), std::string(b.begin(), b.end())); }
    int load() {
        test_log_capture_begin(LOG_INFO);
        int r = plumaro_app_settings_load(&app_);
        log_ = test_log_capture_end();
        return r;
    }
    PLUMARO_APP app_;
    std::string dir_, save_, log_;
};

}  // namespace

TEST_F(Persist, SettingsRoundTripEveryField) {
    write(full_record());
    ASSERT_EQ(load(), 1);
    EXPECT_EQ(app_.pressure_speed, 1);
    EXPECT_EQ(app_.palm_rejection, 1);
    EXPECT_EQ(app_.language, LANG_DE);
    EXPECT_EQ(i18n_language(), LANG_DE);
    EXPECT_EQ(app_.tool, 4);
    EXPECT_EQ(app_.brush.eraser, 1);
    EXPECT_EQ(app_.brush_preset, 2);
    EXPECT_FLOAT_EQ(app_.brush.size, 77.0f);
    EXPECT_FLOAT_EQ(app_.brush.opacity, 0.46f);
    EXPECT_FLOAT_EQ(app_.brush.flow, 0.30f);
    EXPECT_FLOAT_EQ(app_.brush.hardness, 0.0f);
    unsigned char r, g, b, a;
    al_unmap_rgba(app_.brush.color, &r, &g, &b, &a);
    EXPECT_EQ(r, 12);
    EXPECT_EQ(g, 34);
    EXPECT_EQ(b, 56);
    EXPECT_EQ(a, 200);
    EXPECT_EQ(app_.brush.tip, 5);
    EXPECT_EQ(app_.grid.visible, 1);
    EXPECT_EQ(app_.grid.snap, 1);
    EXPECT_EQ(app_.grid.diagonals, 1);
    EXPECT_FLOAT_EQ(app_.grid.spacing, 33.0f);
    EXPECT_EQ(app_.symmetry.mode, 4);
    EXPECT_EQ(app_.symmetry.segments, 9);
    EXPECT_EQ(app_.shapes_solid, 1);
    EXPECT_EQ(app_.section_flags, 0x00050041u);
    EXPECT_EQ(app_.toolbar_collapsed, 1);
    EXPECT_EQ(app_.layer_panel_collapsed, 1);
    EXPECT_FLOAT_EQ(app_.layer_panel_width, 321.0f);
    EXPECT_EQ(app_.export_area, 1);
    EXPECT_EQ(app_.export_border, 40);
    EXPECT_EQ(app_.export_template, 1);
    EXPECT_EQ(app_.text_size, 96);
    EXPECT_EQ(app_.text_font, 2);
    EXPECT_EQ(app_.ui_size, 3);
    EXPECT_EQ(app_.settings_applied, 1);
    EXPECT_NE(log_.find("settings load: 128 bytes, pressure 1, palm 1, language 4"), std::string::npos) << log_;
}

TEST_F(Persist, SettingsFileIsTheDocumentedRecord) {
    app_.brush.color = al_map_rgba(255, 128, 0, 255);
    app_.brush.size = 24.9f;
    app_.brush.opacity = 0.994f;
    app_.brush_preset = -1;
    app_.tool = 6;
    app_.section_flags = 0xFFFFFFFFu; /* only the section bits are stored */
    test_log_capture_begin(LOG_INFO);
    plumaro_app_settings_persist(&app_);
    std::string log = test_log_capture_end();
    std::string f = test_read_file(settings_path());
    ASSERT_EQ(f.size(), 128u);
    EXPECT_EQ(f.substr(0, 4), "PSET");
    EXPECT_EQ((uint8_t)f[4], 4);
    for (size_t i = 5; i < 8; i++) EXPECT_EQ(f[i], 0) << i;
    EXPECT_EQ((uint8_t)f[48], 0xFF);
    EXPECT_EQ((uint8_t)f[49], 0x00);
    EXPECT_EQ((uint8_t)f[50], 0x80);
    EXPECT_EQ((uint8_t)f[51], 0xFF);
    EXPECT_EQ(_get32(f, 48), 0xFF8000FFu);
    EXPECT_EQ(_get32(f, 20), 6u);
    EXPECT_EQ(_get32(f, 28), 0u);
    EXPECT_EQ(_get32(f, 32), 24u);
    EXPECT_EQ(_get32(f, 36), 99u);
    EXPECT_EQ(_get32(f, 44), 70u); /* default hardness 0.7 */
    EXPECT_EQ(_get32(f, 68), 128u);
    EXPECT_EQ(_get32(f, 76), 6u);
    EXPECT_EQ(_get32(f, 84), 0x0007007Fu);
    EXPECT_EQ(_get32(f, 120), 1u);
    EXPECT_EQ(_get32(f, 124), 0u) << "the stabilizer starts off";
    std::string expect = "settings save: v3 session state (128 bytes) -> " + settings_path();
    EXPECT_NE(log.find(expect), std::string::npos) << log;
    /* A stored curve tool comes back as the line tool. */
    test_app_start_values(&app_);
    ASSERT_EQ(load(), 1);
    EXPECT_EQ(app_.tool, 5);
    unsigned char r, g, b, a;
    al_unmap_rgba(app_.brush.color, &r, &g, &b, &a);
    EXPECT_EQ(r, 255);
    EXPECT_EQ(g, 128);
    EXPECT_EQ(b, 0);
    EXPECT_EQ(a, 255);
}

TEST_F(Persist, StoredValuesAreClampedWhenRead) {
    Bytes b = full_record();
    _put32(b, 16, 9);           /* language */
    _put32(b, 20, 6);           /* tool */
    _put32(b, 32, 0);           /* size */
    _put32(b, 36, 0);           /* opacity */
    _put32(b, 40, 250);         /* flow */
    _put32(b, 44, 0);           /* hardness */
    _put32(b, 52, 9);           /* tip */
    _put32(b, 68, 1);           /* grid size */
    _put32(b, 72, 0xFFFFFFFFu); /* symmetry mode -1 */
    _put32(b, 76, 40);          /* radial splits */
    _put32(b, 96, 5000);        /* layer panel width */
    _put32(b, 104, 300);        /* export border */
    _put32(b, 112, 4);          /* text size */
    _put32(b, 116, 7);          /* text font */
    _put32(b, 120, 9);          /* ui size */
    write(b);
    i18n_set_language(LANG_FR);
    ASSERT_EQ(load(), 1);
    EXPECT_EQ(app_.language, 0);
    EXPECT_EQ(i18n_language(), 0);
    EXPECT_EQ(app_.tool, 5);
    EXPECT_FLOAT_EQ(app_.brush.size, 1.0f);
    EXPECT_FLOAT_EQ(app_.brush.opacity, 0.01f);
    EXPECT_FLOAT_EQ(app_.brush.flow, 1.0f);
    EXPECT_FLOAT_EQ(app_.brush.hardness, 0.0f);
    EXPECT_EQ(app_.brush.tip, 6);
    EXPECT_FLOAT_EQ(app_.grid.spacing, 2.0f);
    EXPECT_EQ(app_.symmetry.mode, 0);
    EXPECT_EQ(app_.symmetry.segments, 16);
    EXPECT_FLOAT_EQ(app_.layer_panel_width, 4096.0f);
    EXPECT_EQ(app_.export_border, 256);
    EXPECT_EQ(app_.text_size, 8);
    EXPECT_EQ(app_.text_font, 3);
    EXPECT_EQ(app_.ui_size, 3);

    /* The other ends of the ranges. */
    _put32(b, 32, 500);
    _put32(b, 36, 0xFFFFFF00u);
    _put32(b, 44, 1000);
    _put32(b, 68, 100000);
    _put32(b, 76, 0);
    _put32(b, 96, 0xFFFFFFF0u);
    _put32(b, 112, 1000);
    _put32(b, 120, 0x80000000u);
    b[16] = 4;
    write(b);
    ASSERT_EQ(load(), 1);
    EXPECT_EQ(app_.language, 4);
    EXPECT_FLOAT_EQ(app_.brush.size, 128.0f);
    EXPECT_FLOAT_EQ(app_.brush.opacity, 0.01f);
    EXPECT_FLOAT_EQ(app_.brush.hardness, 1.0f);
    EXPECT_FLOAT_EQ(app_.grid.spacing, 256.0f);
    EXPECT_EQ(app_.symmetry.segments, 2);
    EXPECT_FLOAT_EQ(app_.layer_panel_width, 0.0f);
    EXPECT_EQ(app_.text_size, 256);
    EXPECT_EQ(app_.ui_size, 0);
}

TEST_F(Persist, PresetIndexComesBackOnlyWhenItNamesAPreset) {
    const int count = brush_preset_count();
    ASSERT_GT(count, 1);
    struct {
        uint32_t stored;
        int expect;
    } cases[] = {{0, -1}, {1, 0}, {(uint32_t)count, count - 1}, {(uint32_t)count + 1, -1},
                 {0xFFFFFFFFu, -1}, {0x80000000u, -1}};
    for (auto& c : cases) {
        Bytes b = full_record();
        _put32(b, 28, c.stored);
        write(b);
        app_.brush_preset = 99;
        ASSERT_EQ(load(), 1);
        EXPECT_EQ(app_.brush_preset, c.expect) << "stored " << c.stored;
    }
}

TEST_F(Persist, WrongMagicChangesNothingButStillLogsTheSummary) {
    Bytes b = full_record();
    memcpy(&b[0], "PSEX", 4);
    write(b);
    app_.language = LANG_ES;
    ASSERT_EQ(load(), 0);
    EXPECT_EQ(app_.pressure_speed, 0);
    EXPECT_EQ(app_.tool, 0);
    EXPECT_EQ(app_.ui_size, 1);
    EXPECT_EQ(app_.language, LANG_ES);
    EXPECT_FLOAT_EQ(app_.brush.size, 24.0f);
    EXPECT_EQ(app_.settings_applied, 0);
    EXPECT_NE(log_.find("settings load: 128 bytes, pressure 0, palm 0, language 3"), std::string::npos) << log_;
}

TEST_F(Persist, MissingFileKeepsTheStartValues) {
    ASSERT_EQ(load(), 0);
    EXPECT_EQ(app_.language, 0);
    EXPECT_EQ(app_.ui_size, 1);
    EXPECT_EQ(app_.brush_preset, -1);
    std::string expect = "settings load: no file at " + settings_path() + " (defaults)";
    EXPECT_NE(log_.find(expect), std::string::npos) << log_;
    EXPECT_EQ(log_.find("settings load: 0 bytes"), std::string::npos);
}

// What a settings file of `size` bytes leaves behind; the record asks for German.
struct ShortResult {
    int result, booleans, language, tool, ui_size, applied;
};

TEST_F(Persist, TheStabilizerRoundTripsAndOlderRecordsReadAsOff) {
    app_.stabilizer = 37;
    plumaro_app_settings_persist(&app_);
    std::string f = test_read_file(settings_path());
    ASSERT_EQ(f.size(), 128u);
    EXPECT_EQ(_get32(f, 124), 37u);
    app_.stabilizer = 0;
    EXPECT_EQ(load(), 1);
    EXPECT_EQ(app_.stabilizer, 37);
    /* A record of an older writer ends at 124 bytes: off, whatever was set. */
    write(Bytes(f.begin(), f.begin() + 124));
    EXPECT_EQ(load(), 1);
    EXPECT_EQ(app_.stabilizer, 0);
    /* Out of range values are held at 100. */
    Bytes big(f.begin(), f.end());
    big[124] = 0xE8, big[125] = 0x03; /* 1000 */
    write(big);
    load();
    EXPECT_EQ(app_.stabilizer, 100);
}

TEST_F(Persist, ShortFilesAreReadAsFarAsTheyGo) {
    struct {
        size_t size;
        ShortResult expect;
    } cases[] = {
        {15, {0, 0, LANG_FR, 0, 1, 0}},  {16, {1, 1, 0, 0, 1, 0}},  {19, {1, 1, 0, 0, 1, 0}},
        {20, {1, 1, LANG_DE, 0, 1, 0}}, {119, {1, 1, LANG_DE, 0, 1, 0}}, {120, {1, 1, LANG_DE, 4, 1, 1}},
        {123, {1, 1, LANG_DE, 4, 1, 1}}, {124, {1, 1, LANG_DE, 4, 3, 1}}, {200, {1, 1, LANG_DE, 4, 3, 1}},
    };
    for (auto& c : cases) {
        Bytes b = full_record();
        b.resize(c.size, 0x55); /* bytes past 128 are foreign and never read as fields */
        write(b);
        test_app_start_values(&app_);
        app_.language = LANG_FR;
        i18n_set_language(LANG_FR);
        int r = load();
        SCOPED_TRACE("size " + std::to_string(c.size));
        EXPECT_EQ(r, c.expect.result);
        EXPECT_EQ(app_.pressure_speed, c.expect.booleans);
        EXPECT_EQ(app_.palm_rejection, c.expect.booleans);
        EXPECT_EQ(app_.language, c.expect.language);
        /* A short record with the right magic resets the lookup to English. */
        EXPECT_EQ(i18n_language(), c.expect.result ? c.expect.language : LANG_FR);
        EXPECT_EQ(app_.tool, c.expect.tool);
        EXPECT_FLOAT_EQ(app_.brush.size, c.expect.applied ? 77.0f : 24.0f);
        EXPECT_EQ(app_.ui_size, c.expect.ui_size);
        EXPECT_EQ(app_.settings_applied, c.expect.applied);
        size_t counted = c.size > 140 ? 140 : c.size;
        std::string summary = "settings load: " + std::to_string(counted) + " bytes";
        EXPECT_NE(log_.find(summary), std::string::npos) << log_;
    }
}

TEST_F(Persist, ExactlyOneHundredTwentyBytesKeepsTheNormalSize) {
    Bytes b = full_record();
    b.resize(120);
    write(b);
    ASSERT_EQ(load(), 1);
    EXPECT_EQ(app_.text_font, 2);
    EXPECT_EQ(app_.text_size, 96);
    EXPECT_EQ(app_.brush.tip, 5);
    EXPECT_EQ(app_.ui_size, 1);
}

TEST_F(Persist, SettingsWriteNeverCostsTheOldFile) {
    write(full_record());
    std::string before = test_read_file(settings_path());
    int calls = 0;
    t_file_set_commit_hook(_refuse_commit, &calls);
    app_.settings_pending = 1;
    test_log_capture_begin(LOG_INFO);
    plumaro_app_settings_persist(&app_);
    std::string log = test_log_capture_end();
    t_file_set_commit_hook(NULL, NULL);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(test_read_file(settings_path()), before);
    EXPECT_TRUE(_files_starting(save_, "settings.dat.").empty());
    EXPECT_NE(log.find("settings save: could not open " + settings_path() + " for write"), std::string::npos)
        << log;
    EXPECT_EQ(app_.settings_pending, 0);

    /* A missing save folder is a failed write, logged the same way. */
    test_remove_tree(save_);
    test_log_capture_begin(LOG_INFO);
    plumaro_app_settings_persist(&app_);
    log = test_log_capture_end();
    EXPECT_NE(log.find("settings save: could not open"), std::string::npos) << log;
}

TEST_F(Persist, PaletteRoundTrip) {
    uint8_t teal[3] = {0, 128, 128};
    ASSERT_GE(palette_assign(&app_.palette, 3, teal), 0); /* forks "Default" */
    ASSERT_GE(palette_new_from_active(&app_.palette), 0);
    ASSERT_EQ(palette_rename_active(&app_.palette, "Sea"), 1);
    int active = app_.palette.active;
    app_.palette_pending = 1;
    test_log_capture_begin(LOG_INFO);
    plumaro_app_palette_persist(&app_);
    std::string log = test_log_capture_end();
    EXPECT_EQ(app_.palette_pending, 0);
    std::string path = save_ + "/palette.dat";
    std::string image = test_read_file(path);
    ASSERT_EQ(image.substr(0, 4), "PPAL");
    EXPECT_NE(log.find("palette save: " + std::to_string(image.size()) + " bytes, 2 user palette(s) -> " + path),
              std::string::npos)
        << log;

    PLUMARO_APP other;
    test_app_start_values(&other);
    test_log_capture_begin(LOG_INFO);
    EXPECT_EQ(plumaro_app_palette_load(&other), 1);
    log = test_log_capture_end();
    EXPECT_EQ(other.palette.count, 2);
    EXPECT_EQ(other.palette.active, active);
    EXPECT_STREQ(palette_name(&other.palette, active), "Sea");
    EXPECT_EQ(palette_colors(&other.palette, 5)[3][0], 0);
    EXPECT_EQ(palette_colors(&other.palette, 5)[3][1], 128);
    EXPECT_EQ(palette_colors(&other.palette, 5)[3][2], 128);
    EXPECT_NE(log.find("palette load: " + std::to_string(image.size()) + " bytes, 2 user palette(s), active " +
                       std::to_string(active)),
              std::string::npos)
        << log;
}

TEST_F(Persist, PaletteLoadResetsFirstAndReadsAtMost4096Bytes) {
    uint8_t red[3] = {255, 0, 0};
    ASSERT_GE(palette_assign(&app_.palette, 0, red), 0);
    ASSERT_EQ(app_.palette.count, 1);
    /* Missing file: factory defaults. */
    test_log_capture_begin(LOG_INFO);
    EXPECT_EQ(plumaro_app_palette_load(&app_), 0);
    std::string log = test_log_capture_end();
    EXPECT_EQ(app_.palette.count, 0);
    EXPECT_EQ(app_.palette.active, 0);
    EXPECT_NE(log.find("palette load: no file at " + save_ + "/palette.dat (factory defaults)"), std::string::npos);

    /* A long file is cut at 4096 bytes before the deserializer sees it. */
    test_write_file(save_ + "/palette.dat", std::string(5000, 'x'));
    test_log_capture_begin(LOG_INFO);
    EXPECT_EQ(plumaro_app_palette_load(&app_), 0);
    log = test_log_capture_end();
    EXPECT_NE(log.find("palette load: 4096 bytes, 0 user palette(s)"), std::string::npos) << log;
}

TEST_F(Persist, PaletteWriteNeverCostsTheOldFile) {
    uint8_t red[3] = {255, 0, 0};
    ASSERT_GE(palette_assign(&app_.palette, 0, red), 0);
    plumaro_app_palette_persist(&app_);
    std::string path = save_ + "/palette.dat";
    std::string before = test_read_file(path);
    ASSERT_FALSE(before.empty());
    ASSERT_GE(palette_new_from_active(&app_.palette), 0);
    int calls = 0;
    t_file_set_commit_hook(_refuse_commit, &calls);
    test_log_capture_begin(LOG_INFO);
    plumaro_app_palette_persist(&app_);
    std::string log = test_log_capture_end();
    t_file_set_commit_hook(NULL, NULL);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(test_read_file(path), before);
    EXPECT_TRUE(_files_starting(save_, "palette.dat.").empty());
    EXPECT_NE(log.find("palette save: could not open " + path + " for write"), std::string::npos) << log;
}

TEST_F(Persist, NullRecordIsRefused) {
    test_log_capture_begin(LOG_DEBUG);
    EXPECT_EQ(plumaro_app_settings_load(NULL), 0);
    EXPECT_EQ(plumaro_app_palette_load(NULL), 0);
    EXPECT_EQ(plumaro_app_session_restore(NULL), 0);
    plumaro_app_settings_persist(NULL);
    plumaro_app_palette_persist(NULL);
    plumaro_app_session_persist(NULL);
    std::string log = test_log_capture_end();
    EXPECT_NE(log.find("if( !(app) ) assert"), std::string::npos);
    EXPECT_TRUE(_files_starting(save_, "").size() <= 2); /* only "." and ".." */
}

TEST_F(Persist, UnrepresentableValuesAreStoredInRange) {
    app_.brush.size = NAN;
    app_.brush.opacity = 1e30f;
    app_.brush.flow = -1e30f;
    app_.grid.spacing = 1e12f;
    app_.layer_panel_width = -5.0f;
    uint8_t out[APP_SETTINGS_SIZE];
    plumaro_app_settings_encode(&app_, out);
    std::string f((const char*)out, sizeof(out));
    EXPECT_EQ(_get32(f, 32), 0u);
    EXPECT_EQ(_get32(f, 36), 0x7FFFFFFFu);
    EXPECT_EQ(_get32(f, 40), 0x80000000u);
    EXPECT_EQ(_get32(f, 68), 0x7FFFFFFFu);
    EXPECT_EQ(_get32(f, 96), (uint32_t)-5);
    test_app_start_values(&app_);
    ASSERT_EQ(plumaro_app_settings_apply(&app_, out, sizeof(out)), 1);
    EXPECT_FLOAT_EQ(app_.brush.size, 1.0f);
    EXPECT_FLOAT_EQ(app_.brush.opacity, 1.0f);
    EXPECT_FLOAT_EQ(app_.brush.flow, 0.01f);
    EXPECT_FLOAT_EQ(app_.grid.spacing, 256.0f);
    EXPECT_FLOAT_EQ(app_.layer_panel_width, 0.0f);
}
