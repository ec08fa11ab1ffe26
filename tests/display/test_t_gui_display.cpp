/* Toolkit and clipboard on a real display: the clipboard round trip and a
 * drawn window with one widget of each kind checked against the theme. */
#include <allegro5/allegro_font.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

#include "t_clipboard.h"
#include "t_gui.h"
#include "t_log.h"
#include "test_support.h"

TEST(TClipboardDisplay, RoundTripOfAccentedText) {
    ALLEGRO_DISPLAY* display = test_display();
    ASSERT_NE(display, nullptr);
    t_clipboard_shutdown();
    t_clipboard_set_display(display);
    test_log_capture_begin(LOG_INFO);
    EXPECT_EQ(t_clipboard_set(0, "\xC3\xA9"), 0);
    EXPECT_EQ(t_clipboard_init(), 1);
    std::string log = test_log_capture_end();
    size_t first = log.find("t_clipboard: Allegro clipboard backend ready");
    EXPECT_NE(first, std::string::npos);
    EXPECT_EQ(log.find("t_clipboard: Allegro clipboard backend ready", first + 1), std::string::npos); /* once */
    char* text = t_clipboard_get_text(0);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::string(text), std::string("\xC3\xA9"));
    free(text);

    /* the primary selection is accepted without effect */
    EXPECT_EQ(t_clipboard_set(1, "other"), 0);
    EXPECT_EQ(t_clipboard_get_text(1), nullptr);
    /* selection 2 fails and leaves the clipboard alone */
    EXPECT_EQ(t_clipboard_set(2, "bad"), -1);
    EXPECT_EQ(t_clipboard_get_text(2), nullptr);
    EXPECT_EQ(t_clipboard_set_data(2, "text/plain", "x", 1), -1);
    /* a non-text type fails without touching the clipboard */
    EXPECT_EQ(t_clipboard_set_data(0, "image/png", "\x89PNG", 4), -1);
    EXPECT_EQ(t_clipboard_set_data(0, NULL, "abc", 3), -1);
    text = t_clipboard_get_text(0);
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "\xC3\xA9");
    free(text);

    /* typed text is stored as text; the MIME list is tried in order */
    EXPECT_EQ(t_clipboard_set_data(0, "text/plain;charset=utf-8", "pasted!", 6), 0);
    const char* types[] = {"image/png", "", "text/plain"};
    size_t size = 0;
    int index = -5;
    char* data = (char*)t_clipboard_get_data(0, types, 3, &size, &index);
    ASSERT_NE(data, nullptr);
    EXPECT_STREQ(data, "pasted");
    EXPECT_EQ(size, 6u);
    EXPECT_EQ(index, 2);
    free(data);
    const char* images[] = {"image/bmp"};
    index = 7;
    EXPECT_EQ(t_clipboard_get_data(0, images, 1, &size, &index), nullptr);
    EXPECT_EQ(index, -1);
    EXPECT_EQ(t_clipboard_get_data(0, types, 3, NULL, &index), nullptr);
    /* data over 64 MiB is refused before anything else */
    EXPECT_EQ(t_clipboard_set_data(0, "text/plain", "x", (size_t)64 * 1024 * 1024 + 1), -1);

    /* empty text empties the clipboard */
    EXPECT_EQ(t_clipboard_set(0, ""), 0);
    text = t_clipboard_get_text(0);
    EXPECT_TRUE(text == nullptr || text[0] == 0);
    free(text);
}

TEST(TClipboardDisplay, TextAreaCopyAndPasteKeys) {
    ALLEGRO_DISPLAY* display = test_display();
    ASSERT_NE(display, nullptr);
    ALLEGRO_FONT* font = al_create_builtin_font();
    T_GUI_CTX* ctx = t_gui_new_ctx(font);
    t_gui_set_display(ctx, display);
    t_gui_set_display_size(ctx, 320, 240);
    int win = t_gui_add_window(ctx, "w", 0, 0, 300, 200);
    int a = t_gui_add_textarea(ctx, win, 0, 0, 200, 20, 0, 20, NULL, NULL);
    int b = t_gui_add_textarea(ctx, win, 0, 40, 200, 20, 0, 5, NULL, NULL);
    t_gui_textarea_set_text(ctx, a, "caf\xC3\xA9 au lait");
    ALLEGRO_EVENT ev;
    memset(&ev, 0, sizeof(ev));
    auto key = [&](int keycode, int mods) {
        ev.type = ALLEGRO_EVENT_KEY_CHAR;
        ev.keyboard.keycode = keycode;
        ev.keyboard.unichar = 0;
        ev.keyboard.modifiers = (unsigned)mods;
        return t_gui_process_event(ctx, &ev);
    };
    t_gui_set_focus(ctx, a);
    key(ALLEGRO_KEY_A, ALLEGRO_KEYMOD_CTRL);
    key(ALLEGRO_KEY_X, ALLEGRO_KEYMOD_CTRL);
    EXPECT_STREQ(t_gui_textarea_get_text(ctx, a), "");
    char* text = t_clipboard_get_text(0);
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "caf\xC3\xA9 au lait");
    free(text);
    /* pasting into a 5-byte field keeps whole characters only */
    t_gui_set_focus(ctx, b);
    key(ALLEGRO_KEY_V, ALLEGRO_KEYMOD_CTRL);
    EXPECT_STREQ(t_gui_textarea_get_text(ctx, b), "caf\xC3\xA9");
    t_gui_textarea_set_text(ctx, b, "");
    t_clipboard_set(0, "ab\xC3\xA9");
    key(ALLEGRO_KEY_V, ALLEGRO_KEYMOD_CTRL);
    key(ALLEGRO_KEY_V, ALLEGRO_KEYMOD_CTRL); /* one byte left: the "a" fits, the rest is cut */
    EXPECT_STREQ(t_gui_textarea_get_text(ctx, b), "ab\xC3\xA9" "a");
    t_gui_destroy_ctx(&ctx);
    al_destroy_font(font);
}

/* Premultiplied result of a straight-alpha colour laid over a premultiplied pixel. */
struct Px {
    float r, g, b, a;
};
static Px over(int r, int g, int b, int a, Px dst) {
    float sa = a / 255.0f;
    Px out;
    out.r = r * sa + dst.r * (1 - sa);
    out.g = g * sa + dst.g * (1 - sa);
    out.b = b * sa + dst.b * (1 - sa);
    out.a = a + dst.a * (1 - sa);
    return out;
}
static const Px CLEAR = {0, 0, 0, 0};

#define EXPECT_PIXEL(BMP, X, Y, WANT)                                                                 \
    do {                                                                                          \
        unsigned char got[4];                                                                     \
        test_pixel_rgba((BMP), (X), (Y), got);                                                    \
        Px want_ = (WANT);                                                                        \
        EXPECT_NEAR(got[0], want_.r, 3) << "red at " << (X) << "," << (Y);                        \
        EXPECT_NEAR(got[1], want_.g, 3) << "green at " << (X) << "," << (Y);                      \
        EXPECT_NEAR(got[2], want_.b, 3) << "blue at " << (X) << "," << (Y);                       \
        EXPECT_NEAR(got[3], want_.a, 3) << "alpha at " << (X) << "," << (Y);                      \
    } while (0)

TEST(TGuiDisplay, WindowWithEveryWidgetKindDrawsInThemeColours) {
    ALLEGRO_DISPLAY* display = test_display();
    ASSERT_NE(display, nullptr);
    ALLEGRO_FONT* font = al_create_builtin_font();
    ASSERT_NE(font, nullptr);
    T_GUI_CTX* ctx = t_gui_new_ctx(font);
    ASSERT_NE(ctx, nullptr);
    t_gui_set_display(ctx, display);
    t_gui_set_display_size(ctx, 400, 300);
    int win = t_gui_add_window(ctx, "Widgets", 10, 10, 380, 280);
    /* content origin (10, 38) */
    int button = t_gui_add_button(ctx, win, "Go", 10, 10, 80, 30, 0, NULL, NULL);
    int toggle = t_gui_add_toggle_button(ctx, win, "T", 100, 10, 80, 30, 0, 1, NULL, NULL);
    int slider = t_gui_add_slider(ctx, win, 10, 50, 200, 20, 0, 100, 0, 0, NULL, NULL);
    int text = t_gui_add_textarea(ctx, win, 10, 80, 200, 24, 0, 20, NULL, NULL);
    int check = t_gui_add_checkbox(ctx, win, "On", 220, 80, 100, 20, 1, NULL, NULL);
    int list = t_gui_add_listbox(ctx, win, 10, 110, 150, 60, 1, NULL, NULL);
    int combo = t_gui_add_combobox(ctx, win, 170, 110, 150, 20, NULL, NULL);
    int label = t_gui_add_label(ctx, win, "", 170, 140, 40, 30, 0);
    t_gui_listbox_add_item(ctx, list, "one");
    t_gui_listbox_add_item(ctx, list, "two");
    t_gui_listbox_set_selected(ctx, list, 1, 1);
    t_gui_combobox_add_item(ctx, combo, "first");
    t_gui_combobox_set_selected(ctx, combo, 0);
    for (int id : {button, toggle, slider, text, check, list, combo, label}) ASSERT_GT(id, 0);

    al_set_new_bitmap_format(ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE);
    ALLEGRO_BITMAP* red = al_create_bitmap(4, 4);
    ALLEGRO_BITMAP* target = al_create_bitmap(400, 300);
    al_set_new_bitmap_format(ALLEGRO_PIXEL_FORMAT_ANY_WITH_ALPHA);
    ASSERT_NE(target, nullptr);
    al_set_target_bitmap(red);
    al_clear_to_color(al_map_rgba(255, 0, 0, 255));
    t_gui_label_set_bitmap(ctx, label, red);
    al_set_target_bitmap(target);
    al_clear_to_color(al_map_rgba(0, 0, 0, 0));
    al_set_blender(ALLEGRO_ADD, ALLEGRO_ONE, ALLEGRO_INVERSE_ALPHA);
    t_gui_draw(ctx);

    Px bg = over(50, 50, 60, 230, CLEAR);
    EXPECT_PIXEL(target, 300, 250, bg);                          /* window background */
    EXPECT_PIXEL(target, 200, 20, over(90, 90, 110, 250, bg));   /* title bar */
    EXPECT_PIXEL(target, 5, 5, CLEAR);                           /* outside the window */
    EXPECT_PIXEL(target, 30, 60, over(50, 50, 60, 230, bg));     /* button face, normal */
    EXPECT_PIXEL(target, 50, 48, over(120, 120, 140, 255, bg));  /* button border */
    EXPECT_PIXEL(target, 120, 60, over(90, 90, 110, 250, bg));   /* toggled: the active face */
    EXPECT_PIXEL(target, 200, 140, over(50, 50, 60, 230, bg));   /* text area, focused or not */
    EXPECT_PIXEL(target, 300, 151, over(50, 50, 60, 230, bg));   /* combo box face */
    EXPECT_PIXEL(target, 190, 190, Px({255, 0, 0, 255}));        /* label bitmap */
    /* list box: row 1 (20 px rows from y 148) selected with the active background */
    Px list_bg = over(50, 50, 60, 230, bg);
    EXPECT_PIXEL(target, 150, 175, over(90, 90, 110, 250, list_bg));
    EXPECT_PIXEL(target, 150, 200, list_bg);
    /* check box: a 20 px box at (230, 118); its inner corner shows the face, the mark is bright */
    EXPECT_PIXEL(target, 232, 120, over(50, 50, 60, 230, bg));
    int bright = 0;
    for (int y = 118; y < 138; y++)
        for (int x = 230; x < 250; x++) {
            unsigned char p[4];
            test_pixel_rgba(target, x, y, p);
            if (p[0] > 230 && p[1] > 230 && p[2] > 230) bright++;
        }
    EXPECT_GT(bright, 10);
    /* slider at 0: the handle (radius 8) sits at the left, the track right of it is the normal face */
    EXPECT_PIXEL(target, 28, 98, over(90, 90, 110, 250, bg));
    EXPECT_PIXEL(target, 150, 98, over(50, 50, 60, 230, bg));

    /* hovering a button shows its hover face on the next draw */
    ALLEGRO_EVENT ev;
    memset(&ev, 0, sizeof(ev));
    ev.type = ALLEGRO_EVENT_MOUSE_AXES;
    ev.mouse.x = 30;
    ev.mouse.y = 60;
    EXPECT_EQ(t_gui_process_event(ctx, &ev), 1);
    al_clear_to_color(al_map_rgba(0, 0, 0, 0));
    t_gui_draw(ctx);
    EXPECT_PIXEL(target, 30, 60, over(70, 70, 85, 240, bg));
    /* collapsing leaves only the title bar */
    t_gui_get_window(ctx, win)->state |= T_GUI_STATE_COLLAPSED;
    al_clear_to_color(al_map_rgba(0, 0, 0, 0));
    t_gui_draw(ctx);
    EXPECT_PIXEL(target, 300, 250, CLEAR);
    EXPECT_PIXEL(target, 200, 20, over(90, 90, 110, 250, bg));

    t_gui_destroy_ctx(&ctx);
    al_destroy_bitmap(target);
    al_destroy_bitmap(red);
    al_destroy_font(font);
    test_display();
}

TEST(TGuiDisplay, DrawWithoutDisplaySizeTakesTheTargetSize) {
    ALLEGRO_DISPLAY* display = test_display();
    ASSERT_NE(display, nullptr);
    ALLEGRO_FONT* font = al_create_builtin_font();
    T_GUI_CTX* ctx = t_gui_new_ctx(font);
    t_gui_add_window(ctx, "w", 0, 0, 50, 50);
    test_log_capture_begin(LOG_NOTICE);
    t_gui_draw(ctx);
    t_gui_draw(ctx);
    std::string log = test_log_capture_end();
    const char* msg = "t_gui: no display size was set, using the draw target's 320x240; call "
                      "t_gui_set_display_size() at start up and on resize";
    size_t at = log.find(msg);
    EXPECT_NE(at, std::string::npos) << log;
    EXPECT_EQ(log.find(msg, at + 1), std::string::npos);
    EXPECT_FLOAT_EQ(ctx->display_w, 320);
    t_gui_destroy_ctx(&ctx);
    al_destroy_font(font);
}
