/* Toolkit layout file: writing, reading, scaling to another display,
 * the size limit, missing "windows" and entries for windows made later. */
#include <gtest/gtest.h>

#include <string>

#include <cjson/cJSON.h>

#include "t_gui.h"
#include "t_log.h"
#include "t_gui_test_util.h"
#include "test_support.h"

struct LayoutDir {
    std::string dir = test_make_temp_dir("layout");
    ~LayoutDir() { test_remove_tree(dir); }
    std::string path(const char* name) const { return dir + "/" + name; }
};

TEST(TGuiLayout, SaveWritesEveryWindowInStackingOrder) {
    GuiFixture f;
    LayoutDir d;
    int a = t_gui_add_window(f.ctx, "tools", 10, 20, 300, 400);
    int b = t_gui_add_window(f.ctx, "layers", 900, 20, 250, 500);
    t_gui_window_set_zorder(f.ctx, a, T_GUI_ZORDER_ALWAYS_ON_TOP, 3);
    T_GUI_WINDOW* wa = t_gui_get_window(f.ctx, a);
    wa->state |= T_GUI_STATE_COLLAPSED | T_GUI_STATE_MOVING; /* moving is not stored */
    wa->flags = 0xD0;
    ASSERT_EQ(t_gui_save_layout_json(f.ctx, d.path("layout.json").c_str()), 0);
    std::string text = test_read_file(d.path("layout.json"));
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.back(), '\n');
    cJSON* root = cJSON_Parse(text.c_str());
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(cJSON_GetObjectItem(root, "version")->valueint, 1);
    EXPECT_EQ(cJSON_GetObjectItem(root, "display_w")->valueint, 1280);
    EXPECT_EQ(cJSON_GetObjectItem(root, "display_h")->valueint, 800);
    cJSON* list = cJSON_GetObjectItem(root, "windows");
    ASSERT_EQ(cJSON_GetArraySize(list), 2);
    cJSON* first = cJSON_GetArrayItem(list, 0);
    cJSON* second = cJSON_GetArrayItem(list, 1);
    EXPECT_STREQ(cJSON_GetObjectItem(first, "title")->valuestring, "layers");
    EXPECT_STREQ(cJSON_GetObjectItem(second, "title")->valuestring, "tools");
    EXPECT_EQ(cJSON_GetObjectItem(second, "state")->valueint, 0x03);
    EXPECT_EQ(cJSON_GetObjectItem(second, "flags")->valueint, 0xD0);
    EXPECT_EQ(cJSON_GetObjectItem(second, "z_order")->valueint, 1);
    EXPECT_EQ(cJSON_GetObjectItem(second, "z_value")->valueint, 3);
    for (const char* key : {"x", "y", "w", "h", "norm_x", "norm_y", "norm_w", "norm_h", "autofit_flags",
                            "autofit_border", "resize_policy"})
        EXPECT_NE(cJSON_GetObjectItem(second, key), nullptr) << key;
    cJSON_Delete(root);
    (void)b;
}

TEST(TGuiLayout, ClosedWindowReplacedByALaterOneIsNotWritten) {
    GuiFixture f;
    LayoutDir d;
    int old = t_gui_add_window(f.ctx, "popup", 10, 10, 100, 100);
    t_gui_close_window(f.ctx, old);
    t_gui_add_window(f.ctx, "popup", 50, 60, 100, 100);
    ASSERT_EQ(t_gui_save_layout_json(f.ctx, d.path("l.json").c_str()), 0);
    cJSON* root = cJSON_Parse(test_read_file(d.path("l.json")).c_str());
    cJSON* list = cJSON_GetObjectItem(root, "windows");
    ASSERT_EQ(cJSON_GetArraySize(list), 1);
    EXPECT_EQ(cJSON_GetObjectItem(cJSON_GetArrayItem(list, 0), "x")->valueint, 50);
    cJSON_Delete(root);
}

TEST(TGuiLayout, LoadScalesPositionsToTheDisplay) {
    LayoutDir d;
    std::string path = d.path("layout.json");
    {
        GuiFixture big;
        t_gui_set_display_size(big.ctx, 1920, 1080);
        int a = t_gui_add_window(big.ctx, "tools", 400, 300, 320, 700);
        int b = t_gui_add_window(big.ctx, "layers", 1600, 100, 300, 500);
        t_gui_get_window(big.ctx, b)->state |= T_GUI_STATE_COLLAPSED;
        ASSERT_EQ(t_gui_save_layout_json(big.ctx, path.c_str()), 0);
        (void)a;
    }
    GuiFixture small;
    t_gui_set_display_size(small.ctx, 960, 540);
    int a = t_gui_add_window(small.ctx, "tools", 0, 0, 100, 100);
    int b = t_gui_add_window(small.ctx, "layers", 0, 0, 100, 100);
    ASSERT_EQ(t_gui_load_layout_json(small.ctx, path.c_str()), 0);
    T_GUI_WINDOW* wa = t_gui_get_window(small.ctx, a);
    T_GUI_WINDOW* wb = t_gui_get_window(small.ctx, b);
    EXPECT_FLOAT_EQ(wa->x, 200);
    EXPECT_FLOAT_EQ(wa->y, 150);
    EXPECT_FLOAT_EQ(wa->w, 320);
    EXPECT_FLOAT_EQ(wa->h, 540); /* kept within the display height */
    EXPECT_FLOAT_EQ(wb->x, 800);
    EXPECT_FLOAT_EQ(wb->y, 50);
    EXPECT_FLOAT_EQ(wb->w, 300);
    EXPECT_FLOAT_EQ(wb->h, 500);
    EXPECT_TRUE(wb->state & T_GUI_STATE_COLLAPSED);
}

TEST(TGuiLayout, LoadClampsPositionsAndHeights) {
    GuiFixture f;
    LayoutDir d;
    test_write_file(d.path("l.json"),
                    "{\"windows\":[{\"title\":\"a\",\"x\":-20,\"y\":5000,\"w\":50,\"h\":3,\"state\":1},"
                    "{\"title\":\"b\",\"x\":30,\"y\":40,\"w\":60,\"h\":70,\"state\":1,\"z_order\":4}]}");
    int a = t_gui_add_window(f.ctx, "a", 1, 1, 100, 100);
    int b = t_gui_add_window(f.ctx, "b", 1, 1, 100, 100);
    int c = t_gui_add_window(f.ctx, "c", 1, 1, 100, 100);
    ASSERT_EQ(t_gui_load_layout_json(f.ctx, d.path("l.json").c_str()), 0);
    T_GUI_WINDOW* wa = t_gui_get_window(f.ctx, a);
    EXPECT_FLOAT_EQ(wa->x, 0);
    EXPECT_FLOAT_EQ(wa->y, 0);
    EXPECT_FLOAT_EQ(wa->h, 20);
    /* no stored display size: factors 1; the stacking mode is taken over and sorted */
    T_GUI_WINDOW* wb = t_gui_get_window(f.ctx, b);
    EXPECT_FLOAT_EQ(wb->x, 30);
    EXPECT_EQ(wb->z_order, T_GUI_ZORDER_POPUP);
    EXPECT_EQ(((T_GUI_WINDOW*)f.ctx->windows->end->ptr)->id, b);
    EXPECT_FLOAT_EQ(t_gui_get_window(f.ctx, c)->x, 1); /* not in the file: untouched */
}

TEST(TGuiLayout, UnusableWidthsInAFileKeepTheWindowReachable) {
    GuiFixture f;
    LayoutDir d;
    test_write_file(d.path("l.json"),
                    "{\"windows\":[{\"title\":\"a\",\"x\":0,\"y\":0,\"w\":-300,\"h\":100,\"state\":1},"
                    "{\"title\":\"b\",\"x\":200,\"y\":0,\"w\":0,\"h\":100,\"state\":1},"
                    "{\"title\":\"c\",\"x\":400,\"y\":300,\"w\":1e40,\"h\":100,\"state\":1,"
                    "\"flags\":1e20,\"z_value\":-1e20,\"autofit_flags\":1e30}]}");
    int a = t_gui_add_window(f.ctx, "a", 0, 0, 150, 100);
    int b = t_gui_add_window(f.ctx, "b", 200, 0, 150, 100);
    int c = t_gui_add_window(f.ctx, "c", 400, 300, 150, 100);
    ASSERT_EQ(t_gui_load_layout_json(f.ctx, d.path("l.json").c_str()), 0);
    /* a width that is not above 0 keeps the window's own; one wider than the display is cut to it */
    EXPECT_FLOAT_EQ(t_gui_get_window(f.ctx, a)->w, 150);
    EXPECT_FLOAT_EQ(t_gui_get_window(f.ctx, b)->w, 150);
    EXPECT_FLOAT_EQ(t_gui_get_window(f.ctx, c)->w, 1280);
    EXPECT_EQ(t_gui_window_at(f.ctx, 50, 50), a);
    EXPECT_EQ(t_gui_window_at(f.ctx, 250, 50), b);
    /* integers beyond their range end at its edge */
    EXPECT_EQ(t_gui_get_window(f.ctx, c)->flags, INT32_MAX);
    EXPECT_EQ(t_gui_get_window(f.ctx, c)->z_value, INT32_MIN);
}

TEST(TGuiLayout, ManyClosedEntriesBeforeTheOpenOne) {
    GuiFixture f;
    LayoutDir d;
    /* a long file of closed entries, the last one stored open again */
    std::string text = "{\"windows\":[";
    for (int i = 0; i < 3000; i++) text += "{\"title\":\"a\",\"state\":0},";
    text += "{\"title\":\"a\",\"x\":7,\"y\":8,\"w\":200,\"h\":100,\"state\":1}]}";
    test_write_file(d.path("l.json"), text);
    int a = t_gui_add_window(f.ctx, "a", 0, 0, 150, 100);
    ASSERT_EQ(t_gui_load_layout_json(f.ctx, d.path("l.json").c_str()), 0);
    /* every closed entry was skipped for the open one */
    EXPECT_FLOAT_EQ(t_gui_get_window(f.ctx, a)->x, 7);
    EXPECT_EQ(f.ctx->pending_count, 0);
}

TEST(TGuiLayout, RefusesLargeEmptyInvalidAndWindowlessFiles) {
    GuiFixture f;
    LayoutDir d;
    int a = t_gui_add_window(f.ctx, "a", 1, 2, 100, 100);
    std::string big = "{\"windows\":[{\"title\":\"a\",\"x\":500,\"y\":1,\"w\":50,\"h\":50,\"state\":1}]}";
    big += std::string(5 * 1024 * 1024, ' ');
    test_write_file(d.path("big.json"), big);
    EXPECT_EQ(t_gui_load_layout_json(f.ctx, d.path("big.json").c_str()), -1);
    EXPECT_FLOAT_EQ(t_gui_get_window(f.ctx, a)->x, 1);
    test_write_file(d.path("empty.json"), "");
    EXPECT_EQ(t_gui_load_layout_json(f.ctx, d.path("empty.json").c_str()), -1);
    test_write_file(d.path("bad.json"), "{\"windows\":[");
    EXPECT_EQ(t_gui_load_layout_json(f.ctx, d.path("bad.json").c_str()), -1);
    test_write_file(d.path("nowin.json"), "{\"version\":1,\"display_w\":10,\"display_h\":10}");
    EXPECT_EQ(t_gui_load_layout_json(f.ctx, d.path("nowin.json").c_str()), -1);
    test_write_file(d.path("obj.json"), "{\"windows\":{}}");
    EXPECT_EQ(t_gui_load_layout_json(f.ctx, d.path("obj.json").c_str()), -1);
    test_log_capture_begin(LOG_DEBUG);
    EXPECT_EQ(t_gui_load_layout_json(f.ctx, d.path("missing.json").c_str()), -1);
    std::string log = test_log_capture_end();
    EXPECT_NE(log.find("missing.json not found (first run?)"), std::string::npos);
    /* just under the limit is read */
    std::string ok = "{\"windows\":[{\"title\":\"a\",\"x\":500,\"y\":1,\"w\":50,\"h\":50,\"state\":1}]}";
    ok += std::string(4 * 1024 * 1024 - ok.size(), ' ');
    test_write_file(d.path("ok.json"), ok);
    EXPECT_EQ(t_gui_load_layout_json(f.ctx, d.path("ok.json").c_str()), 0);
    EXPECT_FLOAT_EQ(t_gui_get_window(f.ctx, a)->x, 500);
}

TEST(TGuiLayout, PendingEntriesApplyToWindowsCreatedLater) {
    GuiFixture f;
    LayoutDir d;
    test_write_file(d.path("l.json"),
                    "{\"display_w\":1280,\"display_h\":800,\"windows\":["
                    "{\"title\":\"help\",\"x\":100,\"y\":2000,\"w\":5000,\"h\":300,\"state\":3},"
                    "{\"title\":\"gone\",\"x\":10,\"y\":10,\"w\":10,\"h\":10,\"state\":0},"
                    "{\"title\":\"gone\",\"x\":70,\"y\":80,\"w\":90,\"h\":95,\"state\":1}]}");
    ASSERT_EQ(t_gui_load_layout_json(f.ctx, d.path("l.json").c_str()), 0);
    int h = t_gui_add_window(f.ctx, "help", 5, 5, 50, 50);
    T_GUI_WINDOW* wh = t_gui_get_window(f.ctx, h);
    EXPECT_FLOAT_EQ(wh->x, 100);
    EXPECT_FLOAT_EQ(wh->y, 0);    /* outside the display */
    EXPECT_FLOAT_EQ(wh->w, 1280); /* cut to the display */
    EXPECT_FLOAT_EQ(wh->h, 300);
    EXPECT_TRUE(wh->state & T_GUI_STATE_COLLAPSED);
    EXPECT_TRUE(wh->state & T_GUI_STATE_OPEN);
    /* the closed "gone" entry was skipped for the open one stored later */
    int g = t_gui_add_window(f.ctx, "gone", 5, 5, 50, 50);
    EXPECT_FLOAT_EQ(t_gui_get_window(f.ctx, g)->x, 70);
    EXPECT_FLOAT_EQ(t_gui_get_window(f.ctx, g)->h, 95);
    /* an entry is used once */
    int h2 = t_gui_add_window(f.ctx, "help", 5, 5, 50, 50);
    EXPECT_FLOAT_EQ(t_gui_get_window(f.ctx, h2)->x, 5);
}

TEST(TGuiLayout, RoundTripKeepsGeometryAndState) {
    LayoutDir d;
    std::string path = d.path("layout.json");
    GuiFixture f;
    int a = t_gui_add_window(f.ctx, "a", 12, 34, 256, 128);
    t_gui_window_set_flags(f.ctx, a, 0x430);
    T_GUI_WINDOW* w = t_gui_get_window(f.ctx, a);
    w->autofit_flags = 2;
    w->autofit_border = 7.5f;
    w->resize_policy = 3;
    ASSERT_EQ(t_gui_save_layout_json(f.ctx, path.c_str()), 0);
    GuiFixture g;
    int b = t_gui_add_window(g.ctx, "a", 0, 0, 10, 10);
    ASSERT_EQ(t_gui_load_layout_json(g.ctx, path.c_str()), 0);
    T_GUI_WINDOW* r = t_gui_get_window(g.ctx, b);
    EXPECT_FLOAT_EQ(r->x, 12);
    EXPECT_FLOAT_EQ(r->y, 34);
    EXPECT_FLOAT_EQ(r->w, 256);
    EXPECT_FLOAT_EQ(r->h, 128);
    EXPECT_EQ(r->flags, 0x430);
    EXPECT_EQ(r->autofit_flags, 2);
    EXPECT_FLOAT_EQ(r->autofit_border, 7.5f);
    EXPECT_EQ(r->resize_policy, 3);
    EXPECT_NEAR(r->norm_x, 12.0 / 1280, 1e-6);
    /* writing into a folder that does not exist fails */
    EXPECT_EQ(t_gui_save_layout_json(f.ctx, (d.dir + "/no/such/layout.json").c_str()), -1);
}
