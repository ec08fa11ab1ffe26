/* Save folder, document listing, asset search, file chooser overrides and the viewer. */
#include <gtest/gtest.h>
#include <allegro5/allegro.h>
#include <sys/stat.h>
#include <utime.h>
#include <unistd.h>

#include <string>

#include "platform/platform.h"
#include "t_log.h"
#include "test_support.h"

/* Sets or unsets environment variables for one test and puts them back. */
class EnvGuard {
  public:
    explicit EnvGuard(std::initializer_list<const char*> names) {
        for (const char* name : names) {
            const char* value = getenv(name);
            saved_.push_back({name, value ? std::string(value) : std::string(), value != NULL});
        }
    }
    ~EnvGuard() {
        for (auto& entry : saved_) {
            if (entry.had)
                setenv(entry.name.c_str(), entry.value.c_str(), 1);
            else
                unsetenv(entry.name.c_str());
        }
    }

  private:
    struct Saved {
        std::string name, value;
        bool had;
    };
    std::vector<Saved> saved_;
};

static std::string _save_dir() {
    char out[1024];
    if (!platform_save_dir(out, sizeof(out))) return "<failed>";
    return out;
}

TEST(SaveFolder, ChoiceOfParent) {
    EnvGuard guard({"APPDATA", "XDG_DATA_HOME", "HOME"});
    setenv("APPDATA", "/tmp/appdata-x", 1);
    setenv("XDG_DATA_HOME", "/tmp/xdg", 1);
    EXPECT_EQ(_save_dir(), "/tmp/appdata-x/Plumaro");
    setenv("APPDATA", "", 1); /* empty counts as unset */
    EXPECT_EQ(_save_dir(), "/tmp/xdg/Plumaro");
    setenv("XDG_DATA_HOME", "relative/dir", 1); /* not absolute: ignored */
    setenv("HOME", "/home/someone", 1);
    EXPECT_EQ(_save_dir(), "/home/someone/.local/share/Plumaro");
    unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(_save_dir(), "/home/someone/.local/share/Plumaro");
    unsetenv("HOME");
    unsetenv("APPDATA");
    EXPECT_EQ(_save_dir(), "./save");
}

TEST(SaveFolder, TooLongIsAFailureNotATruncation) {
    EnvGuard guard({"APPDATA"});
    std::string longer(1100, 'a');
    setenv("APPDATA", ("/" + longer).c_str(), 1);
    char out[1024];
    test_log_capture_begin(LOG_ERR);
    EXPECT_FALSE(platform_save_dir(out, sizeof(out)));
    char path[1024];
    EXPECT_FALSE(platform_save_path("sketch.plm", path, sizeof(path)));
    EXPECT_EQ(platform_list_documents(path, sizeof(path)), -1);
    std::string log = test_log_capture_end();
    EXPECT_NE(log.find("save dir path truncated (need 1110 bytes)"), std::string::npos) << log;
}

TEST(SaveFolder, InitCreatesMissingParentsAndSavePathFits) {
    EnvGuard guard({"APPDATA"});
    std::string dir = test_make_temp_dir("savedir");
    setenv("APPDATA", (dir + "/deep/er").c_str(), 1);
    test_log_capture_begin(LOG_INFO);
    ASSERT_TRUE(platform_init());
    std::string log = test_log_capture_end();
    EXPECT_NE(log.find("desktop platform ready, save dir: " + dir + "/deep/er/Plumaro"), std::string::npos);
    struct stat info;
    ASSERT_EQ(stat((dir + "/deep/er/Plumaro").c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_TRUE(platform_init()); /* an existing folder is fine */
    char out[1024];
    ASSERT_TRUE(platform_save_path("sketch.plm", out, sizeof(out)));
    EXPECT_EQ(std::string(out), dir + "/deep/er/Plumaro/sketch.plm");
    size_t needed = strlen(out) + 1;
    EXPECT_FALSE(platform_save_path("sketch.plm", out, needed - 1));
    EXPECT_TRUE(platform_save_path("sketch.plm", out, needed));
    /* A file where the folder should be cannot be turned into a folder. */
    test_write_file(dir + "/blocker", "x");
    setenv("APPDATA", (dir + "/blocker").c_str(), 1);
    test_log_capture_begin(LOG_ERR);
    EXPECT_FALSE(platform_init());
    EXPECT_NE(test_log_capture_end().find("could not create save dir"), std::string::npos);
    test_remove_tree(dir);
}

TEST(DocumentList, NewestComesFirst) {
    EnvGuard guard({"APPDATA"});
    std::string dir = test_make_temp_dir("docs-newest");
    setenv("APPDATA", dir.c_str(), 1);
    std::string save = dir + "/Plumaro";
    mkdir(save.c_str(), 0700);
    const char* names[] = {"old.plm", "newest.plm", "middle.plm"};
    const time_t when[] = {1000000, 3000000, 2000000};
    for (int i = 0; i < 3; i++) {
        test_write_file(save + "/" + names[i], "x");
        struct utimbuf times = {when[i], when[i]};
        ASSERT_EQ(utime((save + "/" + names[i]).c_str(), &times), 0);
    }
    char out[256];
    EXPECT_EQ(platform_list_documents(out, sizeof(out)), 3);
    EXPECT_STREQ(out, "newest.plm\nmiddle.plm\nold.plm");
    test_remove_tree(dir);
}

TEST(DocumentList, NamesCountsAndBufferLimits) {
    EnvGuard guard({"APPDATA"});
    std::string dir = test_make_temp_dir("docs");
    setenv("APPDATA", dir.c_str(), 1);
    std::string save = dir + "/Plumaro";
    char out[256];
    /* No folder yet: nothing to list. */
    EXPECT_EQ(platform_list_documents(out, sizeof(out)), 0);
    mkdir(save.c_str(), 0700);
    test_write_file(save + "/a.plm", "x");
    test_write_file(save + "/notes.txt", "x");
    test_write_file(save + "/.plm", "x");
    test_write_file(save + "/x.plmz", "x");
    EXPECT_EQ(platform_list_documents(out, sizeof(out)), 1);
    EXPECT_STREQ(out, "a.plm");
    /* 5 + 1 < 6 fails: nothing fits. */
    strcpy(out, "junk");
    EXPECT_EQ(platform_list_documents(out, 6), 0);
    EXPECT_STREQ(out, "");
    EXPECT_EQ(platform_list_documents(out, 7), 1);
    EXPECT_STREQ(out, "a.plm");
    test_write_file(save + "/bb.plm", "x");
    EXPECT_EQ(platform_list_documents(out, sizeof(out)), 2);
    std::string text(out);
    EXPECT_TRUE(text == "a.plm\nbb.plm" || text == "bb.plm\na.plm") << text;
    /* Room for the first name only: the count so far. */
    size_t first = text.find('\n');
    EXPECT_EQ(platform_list_documents(out, text.size() + 1), 1); /* needs written + name + 2 < size */
    EXPECT_EQ(std::string(out), text.substr(0, first));
    EXPECT_EQ(platform_list_documents(out, text.size() + 2), 2);
    test_log_capture_begin(LOG_DEBUG);
    EXPECT_EQ(platform_list_documents(NULL, 10), -1);
    EXPECT_NE(test_log_capture_end().find("if( !(out) ) assert"), std::string::npos);
    test_remove_tree(dir);
}

TEST(Assets, SearchOrder) {
    test_allegro_init();
    ALLEGRO_PATH* res = al_get_standard_path(ALLEGRO_RESOURCES_PATH);
    ASSERT_NE(res, nullptr);
    std::string base = al_path_cstr(res, '/');
    al_destroy_path(res);
    if (base.back() != '/') base += '/';
    std::string name = "probe-" + std::to_string(getpid()) + ".txt";
    std::string share = base + "../share/plumaro/assets/";
    ASSERT_EQ(system(("mkdir -p '" + share + "' '" + base + "assets'").c_str()), 0);
    char out[1024];

    /* Missing everywhere: the working-directory path, unchecked. */
    ASSERT_TRUE(platform_asset_path(name.c_str(), out, sizeof(out)));
    EXPECT_EQ(std::string(out), "./assets/" + name);
    /* Only under ../share/plumaro/assets/: found there. */
    test_write_file(share + name, "s");
    ASSERT_TRUE(platform_asset_path(name.c_str(), out, sizeof(out)));
    EXPECT_EQ(std::string(out), share + name);
    /* Beside the executable wins. */
    test_write_file(base + "assets/" + name, "b");
    ASSERT_TRUE(platform_asset_path(name.c_str(), out, sizeof(out)));
    EXPECT_EQ(std::string(out), base + "assets/" + name);
    /* A buffer too small for the candidates falls through to the last one. */
    char tiny[16];
    EXPECT_FALSE(platform_asset_path(name.c_str(), tiny, sizeof(tiny)));
    unlink((share + name).c_str());
    unlink((base + "assets/" + name).c_str());
    EXPECT_FALSE(platform_asset_path(NULL, out, sizeof(out)));
    EXPECT_FALSE(platform_asset_path(name.c_str(), NULL, 10));
}

TEST(FileChooser, OverridePrecedence) {
    EnvGuard guard({"PLUMARO_NO_NATIVE_CHOOSER", "PLUMARO_FILE_CHOICE"});
    char out[64];
    EXPECT_EQ(platform_choose_file(0, NULL, "*.plm", NULL, 10), -1);
    setenv("PLUMARO_NO_NATIVE_CHOOSER", "", 1); /* set at all disables */
    setenv("PLUMARO_FILE_CHOICE", "/tmp/chosen.plm", 1);
    EXPECT_EQ(platform_choose_file(1, NULL, "*.plm", out, sizeof(out)), -1);
    unsetenv("PLUMARO_NO_NATIVE_CHOOSER");
    EXPECT_EQ(platform_choose_file(1, NULL, "*.plm", out, sizeof(out)), 1);
    EXPECT_STREQ(out, "/tmp/chosen.plm");
    EXPECT_EQ(platform_choose_file(0, NULL, "*.plm", out, 15), -1); /* 15 chars + NUL do not fit */
    EXPECT_EQ(platform_choose_file(0, NULL, "*.plm", out, 16), 1);
}

class Reveal : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = test_make_temp_dir("reveal");
        saved_path_ = getenv("PATH") ? getenv("PATH") : "";
        had_no_reveal_ = getenv("PLUMARO_NO_REVEAL") != NULL;
        unsetenv("PLUMARO_NO_REVEAL");
    }
    void TearDown() override {
        setenv("PATH", saved_path_.c_str(), 1);
        if (had_no_reveal_) setenv("PLUMARO_NO_REVEAL", "1", 1);
        test_remove_tree(dir_);
    }
    void fake_opener(int status) {
        std::string script = "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + dir_ + "/args'\nexit " +
                             std::to_string(status) + "\n";
        test_write_file(dir_ + "/xdg-open", script);
        chmod((dir_ + "/xdg-open").c_str(), 0755);
        setenv("PATH", (dir_ + ":/usr/bin:/bin").c_str(), 1);
    }
    std::string dir_, saved_path_;
    bool had_no_reveal_ = false;
};

TEST_F(Reveal, PathIsOneArgumentNeverAShellCommand) {
    fake_opener(0);
    std::string hostile = dir_ + "/a picture; touch " + dir_ + "/pwned $(touch " + dir_ + "/pwned2).png";
    EXPECT_EQ(platform_reveal_export(hostile.c_str()), 1);
    EXPECT_EQ(test_read_file(dir_ + "/args"), hostile + "\n");
    EXPECT_NE(access((dir_ + "/pwned").c_str(), F_OK), 0);
    EXPECT_NE(access((dir_ + "/pwned2").c_str(), F_OK), 0);
}

TEST_F(Reveal, FailuresAndOptOut) {
    fake_opener(3);
    test_log_capture_begin(LOG_ERR);
    EXPECT_EQ(platform_reveal_export("/tmp/x.png"), 0);
    EXPECT_NE(test_log_capture_end().find("could not open /tmp/x.png with the system viewer"), std::string::npos);
    setenv("PATH", dir_.c_str(), 1);
    unlink((dir_ + "/xdg-open").c_str());
    test_log_capture_begin(LOG_ERR);
    EXPECT_EQ(platform_reveal_export("/tmp/x.png"), 0);
    EXPECT_NE(test_log_capture_end().find("could not open /tmp/x.png"), std::string::npos);
    setenv("PLUMARO_NO_REVEAL", "1", 1);
    EXPECT_EQ(platform_reveal_export("/tmp/x.png"), 1);
}

TEST(PlatformFixed, DesktopAnswers) {
    EnvGuard guard({"PLUMARO_TEST_DENSITY"});
    EXPECT_EQ(platform_display_flags(), 21);
    EXPECT_EQ(platform_can_quit(), 1);
    EXPECT_EQ(platform_storage_ready(), 1);
    EXPECT_EQ(platform_is_touch_primary(), 0);
    EXPECT_EQ(platform_publish_file("a", "b", "image/png"), -1);
    char out[8] = "x";
    EXPECT_EQ(platform_last_error(out, sizeof(out)), 0);
    EXPECT_STREQ(out, "");
    EXPECT_EQ(platform_resolve_document("a.plm", out), -1);
    EXPECT_EQ(platform_take_import(out, sizeof(out)), 0);
    unsetenv("PLUMARO_TEST_DENSITY");
    EXPECT_FLOAT_EQ(platform_display_density(), 1.0f);
    setenv("PLUMARO_TEST_DENSITY", "2.25", 1);
    EXPECT_FLOAT_EQ(platform_display_density(), 2.25f);
    setenv("PLUMARO_TEST_DENSITY", "dense", 1);
    test_log_capture_begin(LOG_WARNING);
    EXPECT_FLOAT_EQ(platform_display_density(), 1.0f);
    EXPECT_NE(test_log_capture_end().find("PLUMARO_TEST_DENSITY"), std::string::npos);
}
