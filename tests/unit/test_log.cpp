/* Log line format, level gating and the shared failure texts. */
#include <gtest/gtest.h>

#include <regex>

#include "t_log.h"
#include "test_support.h"

static int _failing_check(const char* value) {
    __t_assert(value);
    return 1;
}

TEST(Log, NothingIsWrittenBeforeTheLevelIsSet) {
    /* A fresh process starts at -1; capture without touching the level. */
    FILE* file = tmpfile();
    log_set_file(file);
    ASSERT_EQ(log_get_level(), -1);
    t_log(LOG_EMERG, "should not appear");
    fflush(file);
    EXPECT_EQ(ftell(file), 0);
    log_set_file(NULL);
    fclose(file);
}

TEST(Log, LineFormatWithoutColour) {
    test_log_capture_begin(LOG_INFO);
    t_log(LOG_EMERG, "init failed, %s", "exiting");
    std::string text = test_log_capture_end();
    std::regex line("EMERG:[0-9]+:tests/unit/test_log\\.cpp->TestBody:[0-9]+ init failed, exiting\n");
    EXPECT_TRUE(std::regex_match(text, line)) << text;
}

TEST(Log, LevelGating) {
    test_log_capture_begin(LOG_INFO);
    EXPECT_EQ(_failing_check(NULL), 0);
    t_log(LOG_INFO, "milestone");
    std::string at_info = test_log_capture_end();
    EXPECT_EQ(at_info.find("assert"), std::string::npos);
    EXPECT_NE(at_info.find("INFO:"), std::string::npos);

    test_log_capture_begin(LOG_DEBUG);
    _failing_check(NULL);
    std::string at_debug = test_log_capture_end();
    EXPECT_NE(at_debug.find("DEBUG:"), std::string::npos);
    EXPECT_NE(at_debug.find("if( !(value) ) assert at line"), std::string::npos);
    EXPECT_NE(at_debug.find("of tests/unit/test_log.cpp"), std::string::npos);

    test_log_capture_begin(LOG_NOLOG);
    t_log(LOG_EMERG, "silent");
    EXPECT_EQ(test_log_capture_end(), "");
}

TEST(Log, LevelNamesAndNullLocation) {
    const char* names[] = {"EMERG", "ALERT", "CRITICAL", "ERR", "WARNING", "NOTICE", "INFO", "DEBUG"};
    test_log_capture_begin(LOG_DEBUG);
    for (int level = 0; level <= 7; level++) _t_log(level, NULL, NULL, 3, "x");
    _t_log(8, "f", "g", 1, "above debug"); /* not written at DEBUG */
    std::string text = test_log_capture_end();
    std::string expected_shape;
    for (const char* name : names) expected_shape += std::string(name) + ":[0-9]+:NULL->NULL:3 x\n";
    EXPECT_TRUE(std::regex_match(text, std::regex(expected_shape))) << text;
}

TEST(Log, ColourOnlyOnATerminalWithoutNoColor) {
    FILE* file = tmpfile();
    log_set_file(file);
    log_set_level(LOG_INFO);
    EXPECT_EQ(log_get_colour(), 0); /* a file is not a terminal */
    log_set_file(NULL);
    fclose(file);
    setenv("NO_COLOR", "1", 1);
    log_set_level(LOG_INFO);
    EXPECT_EQ(log_get_colour(), 0);
    unsetenv("NO_COLOR");
    log_set_level(LOG_NOLOG);
}

TEST(Log, FreeOfNullIsReportedNotFatal) {
    char* buffer = (char*)malloc(4);
    test_log_capture_begin(LOG_DEBUG);
    Free(buffer);
    EXPECT_EQ(buffer, nullptr);
    Free(buffer);
    std::string text = test_log_capture_end();
    EXPECT_NE(text.find("Free( buffer ) already done or NULL at line"), std::string::npos) << text;
}
