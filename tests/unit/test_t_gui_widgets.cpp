/* Toolkit widgets: buttons, sliders, text areas, check boxes, list boxes,
 * combo boxes, labels and the section list, driven by synthetic events. */
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "t_gui_internal.h"
#include "t_gui_test_util.h"

/* A window at the origin without a title bar: widget and screen coordinates agree. */
struct WidgetFixture : GuiFixture {
    int win = -1;
    WidgetFixture() {
        win = t_gui_add_window(ctx, "w", 0, 0, 600, 600);
        t_gui_window_set_flags(ctx, win, T_GUI_WIN_NO_TITLEBAR);
    }
};

static std::vector<int> calls;

TEST(TGuiButton, ReleaseInsideCallsOnceAndOutsideNothing) {
    WidgetFixture f;
    int hits = 0;
    int b = t_gui_add_button(f.ctx, f.win, "OK", 10, 10, 80, 30, 1, [](int32_t, void* u) { (*(int*)u)++; }, &hits);
    int t = t_gui_add_toggle_button(f.ctx, f.win, "T", 100, 10, 80, 30, 0, 1,
                                    [](int32_t, void* u) { (*(int*)u) += 10; }, &hits);
    f.click(20, 20);
    EXPECT_EQ(hits, 1);
    f.press(20, 20);
    EXPECT_TRUE(t_gui_get_widget(f.ctx, b)->state & T_GUI_WSTATE_PRESSED);
    f.release(300, 300);
    EXPECT_EQ(hits, 1);
    EXPECT_FALSE(t_gui_get_widget(f.ctx, b)->state & T_GUI_WSTATE_PRESSED);
    /* a toggle keeps its state when released outside, flips inside */
    f.press(110, 20);
    f.release(110, 100);
    EXPECT_EQ(t_gui_button_get_toggled(f.ctx, t), 1);
    EXPECT_EQ(hits, 1);
    f.click(110, 20);
    EXPECT_EQ(t_gui_button_get_toggled(f.ctx, t), 0);
    EXPECT_EQ(hits, 11);
    /* buttons never take the focus */
    EXPECT_EQ(f.ctx->focused_widget, -1);
    /* setters call nothing */
    t_gui_button_set_toggled(f.ctx, t, 1);
    EXPECT_EQ(hits, 11);
    EXPECT_EQ(t_gui_button_get_toggled(f.ctx, t), 1);
    /* label limits: 127 bytes, null ignored */
    std::string longer(300, 'x');
    t_gui_button_set_label(f.ctx, b, longer.c_str());
    T_GUI_BUTTON_DATA* d = (T_GUI_BUTTON_DATA*)t_gui_get_widget(f.ctx, b)->data;
    EXPECT_EQ(strlen(d->label), 127u);
    t_gui_button_set_label(f.ctx, b, NULL);
    EXPECT_EQ(strlen(d->label), 127u);
    t_gui_button_set_bitmaps(f.ctx, b, NULL, NULL, NULL);
    EXPECT_EQ(d->shape, 2);
    /* accessors on the wrong kind do nothing */
    t_gui_slider_set_value(f.ctx, b, 5);
    EXPECT_EQ(t_gui_checkbox_get_checked(f.ctx, b), -1);
}

TEST(TGuiButton, HiddenButtonIsNotPressed) {
    WidgetFixture f;
    int hits = 0;
    int b = t_gui_add_button(f.ctx, f.win, "OK", 10, 10, 80, 30, 1, [](int32_t, void* u) { (*(int*)u)++; }, &hits);
    t_gui_widget_set_visible(f.ctx, b, 0);
    f.click(20, 20);
    EXPECT_EQ(hits, 0);
    EXPECT_EQ(t_gui_add_button(f.ctx, 999, "x", 0, 0, 1, 1, 0, NULL, NULL), -1);
}

TEST(TGuiSlider, SnapsToStepAndClamps) {
    WidgetFixture f;
    int s = t_gui_add_slider(f.ctx, f.win, 0, 0, 200, 20, 1, 128, 300, 0, NULL, NULL);
    EXPECT_DOUBLE_EQ(t_gui_slider_get_value(f.ctx, s), 128); /* clamped at creation */
    t_gui_slider_set_step(f.ctx, s, 1);
    t_gui_slider_set_value(f.ctx, s, 64.4);
    EXPECT_DOUBLE_EQ(t_gui_slider_get_value(f.ctx, s), 64);
    t_gui_slider_set_value(f.ctx, s, 500);
    EXPECT_DOUBLE_EQ(t_gui_slider_get_value(f.ctx, s), 128);
    t_gui_slider_set_value(f.ctx, s, -5);
    EXPECT_DOUBLE_EQ(t_gui_slider_get_value(f.ctx, s), 1);
    /* a new step re-snaps the value from the minimum */
    t_gui_slider_set_step(f.ctx, s, 0);
    t_gui_slider_set_value(f.ctx, s, 10.3);
    EXPECT_DOUBLE_EQ(t_gui_slider_get_value(f.ctx, s), 10.3);
    t_gui_slider_set_step(f.ctx, s, 4);
    EXPECT_DOUBLE_EQ(t_gui_slider_get_value(f.ctx, s), 9);
    /* mode 1 forces 0..100 */
    int p = t_gui_add_slider(f.ctx, f.win, 0, 30, 200, 20, 5, 7, 50, 1, NULL, NULL);
    EXPECT_DOUBLE_EQ(t_gui_slider_get_value(f.ctx, p), 50);
    t_gui_slider_set_format(f.ctx, s, "%.0f px");
    EXPECT_STREQ(((T_GUI_SLIDER_DATA*)t_gui_get_widget(f.ctx, s)->data)->format, "%.0f px");
    t_gui_slider_set_format(f.ctx, s, NULL);
    EXPECT_STREQ(((T_GUI_SLIDER_DATA*)t_gui_get_widget(f.ctx, s)->data)->format, "");
}

TEST(TGuiSlider, DragMapsThePointerAndReportsEachChange) {
    WidgetFixture f;
    calls.clear();
    /* h 20: handle radius max(4, 10 - 2) = 8, travel 200 - 16 = 184 */
    int s = t_gui_add_slider(f.ctx, f.win, 0, 0, 200, 20, 0, 184, 0, 0,
                             [](int32_t, double v, void*) { calls.push_back((int)v); }, NULL);
    t_gui_slider_set_step(f.ctx, s, 1);
    f.press(8 + 50, 10);
    EXPECT_DOUBLE_EQ(t_gui_slider_get_value(f.ctx, s), 50);
    EXPECT_EQ(f.ctx->focused_widget, s);
    f.move(8 + 50, 15); /* same value: no call */
    f.move(8 + 100, 15);
    f.move(-50, 15);
    f.release(-50, 15);
    EXPECT_EQ(calls, (std::vector<int>{50, 100, 0}));
    /* vertical: the top is the maximum */
    int v = t_gui_add_slider(f.ctx, f.win, 300, 0, 20, 200, 0, 184, 0, 0, NULL, NULL);
    t_gui_slider_set_orientation(f.ctx, v, 1);
    f.press(310, 8);
    f.release(310, 8);
    EXPECT_DOUBLE_EQ(t_gui_slider_get_value(f.ctx, v), 184);
    /* a slider too short for its handle ignores the pointer */
    int tiny = t_gui_add_slider(f.ctx, f.win, 400, 0, 10, 20, 0, 10, 3, 0, NULL, NULL);
    f.press(405, 10);
    f.release(405, 10);
    EXPECT_DOUBLE_EQ(t_gui_slider_get_value(f.ctx, tiny), 3);
}

TEST(TGuiTextArea, LengthLimitIsInBytes) {
    WidgetFixture f;
    int t = t_gui_add_textarea(f.ctx, f.win, 0, 0, 200, 24, 0, 5, NULL, NULL);
    t_gui_set_focus(f.ctx, t);
    f.type("16384");
    EXPECT_STREQ(t_gui_textarea_get_text(f.ctx, t), "16384");
    f.type("9");
    EXPECT_STREQ(t_gui_textarea_get_text(f.ctx, t), "16384");
    f.key(ALLEGRO_KEY_BACKSPACE);
    f.type("\xC3\xA9"); /* two bytes, one free */
    EXPECT_STREQ(t_gui_textarea_get_text(f.ctx, t), "1638");
    f.key(ALLEGRO_KEY_BACKSPACE);
    f.type("\xC3\xA9");
    EXPECT_STREQ(t_gui_textarea_get_text(f.ctx, t), "163\xC3\xA9");
    /* backspace removes the whole character */
    f.key(ALLEGRO_KEY_BACKSPACE);
    EXPECT_STREQ(t_gui_textarea_get_text(f.ctx, t), "163");
    /* four-byte characters and code points that are not characters */
    f.key(ALLEGRO_KEY_BACKSPACE);
    f.key(ALLEGRO_KEY_BACKSPACE);
    f.type("\xF0\x9F\x98\x80");
    EXPECT_STREQ(t_gui_textarea_get_text(f.ctx, t), "1\xF0\x9F\x98\x80");
    f.key(0, 0x110000);
    f.key(ALLEGRO_KEY_TAB, 9);
    EXPECT_STREQ(t_gui_textarea_get_text(f.ctx, t), "1\xF0\x9F\x98\x80");
    /* the default maximum is 4095 */
    int big = t_gui_add_textarea(f.ctx, f.win, 0, 40, 200, 24, 0, 0, NULL, NULL);
    EXPECT_EQ(((T_GUI_TEXTAREA_DATA*)t_gui_get_widget(f.ctx, big)->data)->max_length, 4095);
}

TEST(TGuiTextArea, EnterInSingleAndMultiLineAreas) {
    WidgetFixture f;
    int single = t_gui_add_textarea(f.ctx, f.win, 0, 0, 200, 24, 0, 10, NULL, NULL);
    int multi = t_gui_add_textarea(f.ctx, f.win, 0, 40, 200, 100, 1, 4, NULL, NULL);
    t_gui_set_focus(f.ctx, single);
    f.type("ab");
    EXPECT_EQ(f.key(ALLEGRO_KEY_ENTER, 13), 0); /* left to the caller */
    EXPECT_STREQ(t_gui_textarea_get_text(f.ctx, single), "ab");
    EXPECT_EQ(f.key(ALLEGRO_KEY_ESCAPE, 27), 1); /* every other key is the field's */
    t_gui_set_focus(f.ctx, multi);
    f.type("ab");
    EXPECT_EQ(f.key(ALLEGRO_KEY_ENTER, 13), 1);
    f.type("c");
    EXPECT_STREQ(t_gui_textarea_get_text(f.ctx, multi), "ab\nc");
    f.key(ALLEGRO_KEY_ENTER, 13); /* full */
    EXPECT_STREQ(t_gui_textarea_get_text(f.ctx, multi), "ab\nc");
}

TEST(TGuiTextArea, CursorSelectionAndEditingKeys) {
    WidgetFixture f;
    std::string last;
    int changes = 0;
    struct Rec {
        std::string* last;
        int* changes;
    } rec = {&last, &changes};
    int t = t_gui_add_textarea(f.ctx, f.win, 0, 0, 300, 100, 1, 100,
                               [](int32_t, const char* text, void* u) {
                                   Rec* r = (Rec*)u;
                                   *r->last = text;
                                   (*r->changes)++;
                               },
                               &rec);
    t_gui_set_focus(f.ctx, t);
    f.type("h\xC3\xA9llo");
    EXPECT_EQ(changes, 5);
    EXPECT_EQ(last, "h\xC3\xA9llo");
    f.key(ALLEGRO_KEY_HOME);
    f.key(ALLEGRO_KEY_RIGHT);
    f.key(ALLEGRO_KEY_RIGHT, 0, ALLEGRO_KEYMOD_SHIFT); /* selects the é */
    f.type("e");
    EXPECT_STREQ(t_gui_textarea_get_text(f.ctx, t), "hello");
    f.key(ALLEGRO_KEY_DELETE);
    EXPECT_STREQ(t_gui_textarea_get_text(f.ctx, t), "helo");
    f.key(ALLEGRO_KEY_END);
    f.key(ALLEGRO_KEY_ENTER, 13);
    f.type("xy");
    /* Up keeps the column where the line allows; Down goes back */
    f.key(ALLEGRO_KEY_UP);
    f.type("Z");
    EXPECT_STREQ(t_gui_textarea_get_text(f.ctx, t), "heZlo\nxy");
    f.key(ALLEGRO_KEY_DOWN);
    f.type("!");
    EXPECT_STREQ(t_gui_textarea_get_text(f.ctx, t), "heZlo\nxy!");
    /* Ctrl+A then typing replaces everything */
    f.key(ALLEGRO_KEY_A, 1, ALLEGRO_KEYMOD_CTRL);
    f.type("q");
    EXPECT_STREQ(t_gui_textarea_get_text(f.ctx, t), "q");
    int before = changes;
    f.key(ALLEGRO_KEY_LEFT);
    f.key(ALLEGRO_KEY_BACKSPACE); /* nothing before the cursor: no change */
    EXPECT_EQ(changes, before);
    /* set_text drops carriage returns, cuts at the maximum and calls nothing */
    t_gui_textarea_set_text(f.ctx, t, "a\r\nb");
    EXPECT_STREQ(t_gui_textarea_get_text(f.ctx, t), "a\nb");
    EXPECT_EQ(changes, before);
    T_GUI_TEXTAREA_DATA* d = (T_GUI_TEXTAREA_DATA*)t_gui_get_widget(f.ctx, t)->data;
    EXPECT_EQ(d->cursor, 0);
    int small = t_gui_add_textarea(f.ctx, f.win, 0, 200, 100, 24, 0, 3, NULL, NULL);
    t_gui_textarea_set_text(f.ctx, small, "ab\xC3\xA9");
    EXPECT_STREQ(t_gui_textarea_get_text(f.ctx, small), "ab"); /* no half character */
    t_gui_textarea_set_text(f.ctx, small, NULL);
    EXPECT_STREQ(t_gui_textarea_get_text(f.ctx, small), "");
    EXPECT_STREQ(t_gui_textarea_get_text(f.ctx, 999), "");
}

TEST(TGuiTextArea, CutAtTheMaximumNeverKeepsPartOfACharacter) {
    WidgetFixture f;
    /* the euro sign is three bytes: a cut after its second byte drops all of it */
    int t = t_gui_add_textarea(f.ctx, f.win, 0, 0, 200, 24, 0, 4, NULL, NULL);
    t_gui_textarea_set_text(f.ctx, t, "ab\xE2\x82\xAC");
    EXPECT_STREQ(t_gui_textarea_get_text(f.ctx, t), "ab");
    t_gui_textarea_set_text(f.ctx, t, "a\r\xE2\x82\xAC");
    EXPECT_STREQ(t_gui_textarea_get_text(f.ctx, t), "a\xE2\x82\xAC");
    t_gui_textarea_set_text(f.ctx, t, "abcd\r\r");
    EXPECT_STREQ(t_gui_textarea_get_text(f.ctx, t), "abcd");
    int l = t_gui_add_label(f.ctx, f.win, "", 0, 40, 100, 20, 0);
    std::string big(4093, 'z');
    t_gui_label_set_text(f.ctx, l, (big + "\xE2\x82\xAC").c_str());
    const char* kept = ((T_GUI_LABEL_DATA*)t_gui_get_widget(f.ctx, l)->data)->text;
    EXPECT_EQ(strlen(kept), big.size());
    EXPECT_EQ(strspn(kept, "z"), big.size());
}

TEST(TGuiTextArea, MalformedTextIsRepairedAndSteppedByCharacter) {
    WidgetFixture f;
    int t = t_gui_add_textarea(f.ctx, f.win, 0, 0, 400, 24, 0, 64, NULL, NULL);
    /* a run of stray continuation bytes, as a file name in another encoding
     * may bring: each becomes U+FFFD, a character the cursor steps over whole */
    const char* bad = "a\x80\x80\x80\x80\x80\x80\x80\x80\x80\x80" "b";
    t_gui_textarea_set_text(f.ctx, t, bad);
    T_GUI_TEXTAREA_DATA* d = (T_GUI_TEXTAREA_DATA*)t_gui_get_widget(f.ctx, t)->data;
    /* pointer presses measure the text character by character */
    f.click(390, 12);
    EXPECT_EQ(d->cursor, d->length);
    f.click(6, 12);
    EXPECT_GE(d->cursor, 0);
    EXPECT_LE(d->cursor, d->length);
    f.key(ALLEGRO_KEY_HOME);
    int steps = 0;
    while (d->cursor < d->length && steps < 20) {
        int before = d->cursor;
        f.key(ALLEGRO_KEY_RIGHT);
        EXPECT_GE(d->cursor - before, 1);
        EXPECT_LE(d->cursor - before, 4);
        steps++;
    }
    EXPECT_EQ(d->cursor, d->length);
    while (d->cursor > 0 && steps < 40) {
        int before = d->cursor;
        f.key(ALLEGRO_KEY_LEFT);
        EXPECT_GE(before - d->cursor, 1);
        EXPECT_LE(before - d->cursor, 4);
        steps++;
    }
    EXPECT_EQ(d->cursor, 0);
    std::string repaired = "a";
    for (int i = 0; i < 10; i++) repaired += "\xEF\xBF\xBD";
    EXPECT_EQ(t_gui_textarea_get_text(f.ctx, t), repaired + "b");
    EXPECT_EQ(steps, 2 * 12) << "one step per character each way";
}

TEST(TGuiTextArea, ClickFocusesAndPressElsewhereUnfocuses) {
    WidgetFixture f;
    int t = t_gui_add_textarea(f.ctx, f.win, 10, 10, 200, 24, 0, 10, NULL, NULL);
    f.click(20, 20);
    EXPECT_EQ(f.ctx->focused_widget, t);
    EXPECT_EQ(f.key(ALLEGRO_KEY_K, 'k'), 1);
    f.click(900, 700); /* outside every window */
    EXPECT_EQ(f.ctx->focused_widget, -1);
    EXPECT_EQ(f.key(ALLEGRO_KEY_K, 'k'), 0);
    EXPECT_STREQ(t_gui_textarea_get_text(f.ctx, t), "k");
}

TEST(TGuiCheckBox, ClickAndKeysFlip) {
    WidgetFixture f;
    calls.clear();
    int c = t_gui_add_checkbox(f.ctx, f.win, "Snap", 10, 10, 120, 20, 0,
                               [](int32_t, int on, void*) { calls.push_back(on); }, NULL);
    f.click(15, 15);
    EXPECT_EQ(t_gui_checkbox_get_checked(f.ctx, c), 1);
    EXPECT_EQ(f.ctx->focused_widget, c);
    f.key(ALLEGRO_KEY_SPACE, ' ');
    f.key(ALLEGRO_KEY_ENTER, 13);
    f.press(15, 15);
    f.release(400, 400);
    EXPECT_EQ(calls, (std::vector<int>{1, 0, 1}));
    t_gui_checkbox_set_checked(f.ctx, c, 0);
    EXPECT_EQ(calls.size(), 3u);
    EXPECT_EQ(t_gui_checkbox_get_checked(f.ctx, c), 0);
}

TEST(TGuiListBox, SingleSelectionByPointerAndKeys) {
    WidgetFixture f;
    calls.clear();
    /* item height 20 exceeds the built-in font's 8 px lines */
    int l = t_gui_add_listbox(f.ctx, f.win, 0, 0, 200, 60, 1,
                              [](int32_t, int index, int on, void*) { calls.push_back(index * 10 + on); }, NULL);
    for (int i = 0; i < 6; i++) {
        char name[16];
        snprintf(name, sizeof(name), "item %d", i);
        EXPECT_EQ(t_gui_listbox_add_item(f.ctx, l, name), i);
    }
    f.click(50, 25); /* row 1 */
    EXPECT_EQ(t_gui_listbox_get_selected(f.ctx, l), 1);
    f.key(ALLEGRO_KEY_DOWN);
    f.key(ALLEGRO_KEY_DOWN);
    EXPECT_EQ(t_gui_listbox_get_selected(f.ctx, l), 3);
    T_GUI_LISTBOX_DATA* d = (T_GUI_LISTBOX_DATA*)t_gui_get_widget(f.ctx, l)->data;
    EXPECT_EQ(d->first_visible, 1); /* scrolled into view: three rows show */
    f.key(ALLEGRO_KEY_END);
    EXPECT_EQ(t_gui_listbox_get_selected(f.ctx, l), 5);
    EXPECT_EQ(d->first_visible, 3);
    f.key(ALLEGRO_KEY_DOWN); /* already last: no report */
    f.key(ALLEGRO_KEY_HOME);
    EXPECT_EQ(d->first_visible, 0);
    EXPECT_EQ(calls, (std::vector<int>{11, 21, 31, 51, 1}));
    for (int i = 1; i < 6; i++) EXPECT_EQ(d->items[i].selected, 0);
    /* Down with nothing selected picks the first */
    t_gui_listbox_set_selected(f.ctx, l, 0, 0);
    f.key(ALLEGRO_KEY_DOWN);
    EXPECT_EQ(t_gui_listbox_get_selected(f.ctx, l), 0);
    /* setter in single mode clears the others; out of range ignored */
    t_gui_listbox_set_selected(f.ctx, l, 4, 1);
    t_gui_listbox_set_selected(f.ctx, l, 9, 1);
    EXPECT_EQ(t_gui_listbox_get_selected(f.ctx, l), 4);
    EXPECT_EQ(d->items[0].selected, 0);
    /* the wheel scrolls but never past the end */
    f.mouse(ALLEGRO_EVENT_MOUSE_AXES, 50, 25, 0, 0.01, -10);
    EXPECT_EQ(d->first_visible, 3);
    t_gui_listbox_clear(f.ctx, l);
    EXPECT_EQ(d->count, 0);
    EXPECT_EQ(d->first_visible, 0);
}

TEST(TGuiListBox, MultipleModeFlipsAndItemsGrow) {
    WidgetFixture f;
    calls.clear();
    int l = t_gui_add_listbox(f.ctx, f.win, 0, 0, 200, 400, 2,
                              [](int32_t, int index, int on, void*) { calls.push_back(index * 10 + on); }, NULL);
    for (int i = 0; i < 20; i++) EXPECT_EQ(t_gui_listbox_add_item(f.ctx, l, "x"), i);
    T_GUI_LISTBOX_DATA* d = (T_GUI_LISTBOX_DATA*)t_gui_get_widget(f.ctx, l)->data;
    EXPECT_EQ(d->capacity, 32);
    f.click(50, 5);
    f.click(50, 45);
    f.click(50, 5);
    EXPECT_EQ(calls, (std::vector<int>{1, 21, 0}));
    EXPECT_EQ(d->items[2].selected, 1);
    f.click(50, 395); /* row 19 */
    EXPECT_EQ(d->items[19].selected, 1);
}

TEST(TGuiComboBox, SelectionRulesAndDropDown) {
    WidgetFixture f;
    calls.clear();
    int c = t_gui_add_combobox(f.ctx, f.win, 10, 10, 150, 20,
                               [](int32_t, int index, void*) { calls.push_back(index); }, NULL);
    for (int i = 0; i < 10; i++) t_gui_combobox_add_item(f.ctx, c, "opt");
    T_GUI_COMBOBOX_DATA* d = (T_GUI_COMBOBOX_DATA*)t_gui_get_widget(f.ctx, c)->data;
    t_gui_combobox_set_selected(f.ctx, c, 8);
    t_gui_combobox_set_selected(f.ctx, c, 10); /* the count: unchanged */
    EXPECT_EQ(t_gui_combobox_get_selected(f.ctx, c), 8);
    /* opening centres the selection, kept inside the list */
    f.click(20, 20);
    EXPECT_EQ(d->open, 1);
    EXPECT_EQ(d->highlighted, 8);
    EXPECT_EQ(d->first_visible, 4);
    EXPECT_EQ(f.move(20, 40), 1); /* over the drop-down, outside the widget */
    /* a click on a drop-down row: rows of 20 px from y 30 */
    f.click(20, 30 + 2 * 20 + 5);
    EXPECT_EQ(d->open, 0);
    EXPECT_EQ(t_gui_combobox_get_selected(f.ctx, c), 6);
    /* Escape closes without change; Enter picks the highlighted item */
    f.click(20, 20);
    EXPECT_EQ(f.key(ALLEGRO_KEY_ESCAPE, 27), 1);
    EXPECT_EQ(d->open, 0);
    f.click(20, 20);
    f.key(ALLEGRO_KEY_DOWN);
    f.key(ALLEGRO_KEY_ENTER, 13);
    EXPECT_EQ(t_gui_combobox_get_selected(f.ctx, c), 7);
    /* a press on the combo while open only closes it */
    f.click(20, 20);
    f.click(20, 20);
    EXPECT_EQ(d->open, 0);
    /* closed and focused: keys change the selection directly */
    f.key(ALLEGRO_KEY_HOME);
    f.key(ALLEGRO_KEY_DOWN);
    f.key(ALLEGRO_KEY_END);
    f.key(ALLEGRO_KEY_UP);
    EXPECT_EQ(calls, (std::vector<int>{6, 7, 0, 1, 9, 8}));
    t_gui_combobox_set_selected(f.ctx, c, -1);
    EXPECT_EQ(t_gui_combobox_get_selected(f.ctx, c), -1);
    EXPECT_EQ(calls.size(), 6u);
    /* a press elsewhere closes the drop-down and goes on */
    f.click(20, 20);
    EXPECT_EQ(f.press(900, 700), 0);
    f.release(900, 700);
    EXPECT_EQ(d->open, 0);
    t_gui_combobox_clear(f.ctx, c);
    EXPECT_EQ(d->count, 0);
    EXPECT_EQ(d->selected, -1);
}

TEST(TGuiLabel, TextLimitsAndCarriageReturns) {
    WidgetFixture f;
    int l = t_gui_add_label(f.ctx, f.win, "a\r\nb", 0, 0, 100, 20, 0);
    T_GUI_LABEL_DATA* d = (T_GUI_LABEL_DATA*)t_gui_get_widget(f.ctx, l)->data;
    EXPECT_STREQ(d->text, "a\nb");
    std::string big(5000, 'z');
    t_gui_label_set_text(f.ctx, l, big.c_str());
    EXPECT_EQ(strlen(d->text), 4095u);
    t_gui_label_set_text(f.ctx, l, NULL);
    EXPECT_STREQ(d->text, "");
    /* labels never take the focus */
    f.click(5, 5);
    EXPECT_EQ(f.ctx->focused_widget, -1);
}

/* A section list of three sections with two widgets each. */
struct SectionFixture : WidgetFixture {
    T_GUI_SECTIONLIST* list = NULL;
    int widgets[3][2];
    std::vector<int> toggles;
    SectionFixture() {
        list = t_gui_sectionlist_create(ctx, win, 10, 10, 200, 30, 5,
                                        [](int section, int collapsed, void* u) {
                                            ((SectionFixture*)u)->toggles.push_back(section * 10 + collapsed);
                                        },
                                        this);
        float y = 10;
        for (int s = 0; s < 3; s++) {
            char title[16];
            snprintf(title, sizeof(title), "S%d", s);
            t_gui_sectionlist_add_section(list, title, y, 0);
            float top = y + 30 + 5;
            widgets[s][0] = t_gui_add_button(ctx, win, "a", 10, top, 90, 40, 0, NULL, NULL);
            widgets[s][1] = t_gui_add_button(ctx, win, "b", 110, top + 10, 90, 50, 0, NULL, NULL);
            t_gui_sectionlist_add_widget(list, s, widgets[s][0]);
            t_gui_sectionlist_add_widget(list, s, widgets[s][1]);
            y = top + 60 + 5;
        }
        t_gui_sectionlist_relayout(list);
    }
    ~SectionFixture() { t_gui_sectionlist_destroy(&list); }
    float header_y(int s) { return t_gui_get_widget(ctx, list->sections[s].header_id)->y; }
    const char* header_label(int s) {
        return ((T_GUI_BUTTON_DATA*)t_gui_get_widget(ctx, list->sections[s].header_id)->data)->label;
    }
};

TEST(TGuiSectionList, LayoutAndContentBottom) {
    SectionFixture f;
    EXPECT_FLOAT_EQ(f.list->sections[0].content_h, 60);
    EXPECT_FLOAT_EQ(f.header_y(0), 10);
    EXPECT_FLOAT_EQ(f.header_y(1), 10 + 35 + 65);
    EXPECT_FLOAT_EQ(f.header_y(2), 10 + 2 * 100);
    EXPECT_FLOAT_EQ(t_gui_get_widget(f.ctx, f.widgets[1][1])->y, 110 + 35 + 10);
    EXPECT_FLOAT_EQ(t_gui_sectionlist_content_bottom(f.list), 10 + 3 * 100);
    EXPECT_STREQ(f.header_label(0), "- S0");
}

TEST(TGuiSectionList, CollapsingMovesFollowingSectionsUp) {
    SectionFixture f;
    /* a click on the first header folds it: its header stays, the others rise by 60 + 5 */
    f.click(50, 20);
    EXPECT_EQ(f.list->sections[0].collapsed, 1);
    EXPECT_EQ(f.toggles, (std::vector<int>{1}));
    EXPECT_FLOAT_EQ(f.header_y(0), 10);
    EXPECT_FLOAT_EQ(f.header_y(1), 110 - 65);
    EXPECT_FLOAT_EQ(f.header_y(2), 210 - 65);
    EXPECT_FALSE(t_gui_get_widget(f.ctx, f.widgets[0][0])->visible);
    EXPECT_TRUE(t_gui_get_widget(f.ctx, f.widgets[1][0])->visible);
    EXPECT_FLOAT_EQ(t_gui_get_widget(f.ctx, f.widgets[1][0])->y, 45 + 35);
    EXPECT_STREQ(f.header_label(0), "+ S0");
    EXPECT_FLOAT_EQ(t_gui_sectionlist_content_bottom(f.list), 310 - 65);
    /* unfold again */
    f.click(50, 20);
    EXPECT_FLOAT_EQ(f.header_y(2), 210);
    EXPECT_TRUE(t_gui_get_widget(f.ctx, f.widgets[0][1])->visible);
    EXPECT_EQ(f.toggles, (std::vector<int>{1, 0}));
}

TEST(TGuiSectionList, HiddenSectionsWidgetsAndIndent) {
    SectionFixture f;
    t_gui_sectionlist_set_section_hidden(f.list, 0, 1);
    t_gui_sectionlist_set_header_indent(f.list, 40);
    t_gui_sectionlist_relayout(f.list);
    EXPECT_FALSE(t_gui_get_widget(f.ctx, f.list->sections[0].header_id)->visible);
    /* the first visible header takes the indent */
    T_GUI_WIDGET* h1 = t_gui_get_widget(f.ctx, f.list->sections[1].header_id);
    EXPECT_FLOAT_EQ(h1->y, 10);
    EXPECT_FLOAT_EQ(h1->x, 50);
    EXPECT_FLOAT_EQ(h1->w, 160);
    EXPECT_FLOAT_EQ(t_gui_get_widget(f.ctx, f.list->sections[2].header_id)->x, 10);
    /* an individually hidden widget shrinks the content height */
    t_gui_sectionlist_set_widget_hidden(f.list, 1, f.widgets[1][1], 1);
    t_gui_sectionlist_relayout(f.list);
    EXPECT_FLOAT_EQ(f.list->sections[1].content_h, 40);
    EXPECT_FALSE(t_gui_get_widget(f.ctx, f.widgets[1][1])->visible);
    EXPECT_FLOAT_EQ(f.header_y(2), 10 + 35 + 45);
    t_gui_sectionlist_set_header_indent(f.list, -5);
    EXPECT_FLOAT_EQ(f.list->header_indent, 0);
}

TEST(TGuiSectionList, LimitsOfSectionsAndWidgets) {
    WidgetFixture f;
    T_GUI_SECTIONLIST* list = t_gui_sectionlist_create(f.ctx, f.win, 0, 0, 100, 20, 2, NULL, NULL);
    ASSERT_NE(list, nullptr);
    for (int i = 0; i < 16; i++) EXPECT_EQ(t_gui_sectionlist_add_section(list, "s", (float)i * 22, 1), i);
    EXPECT_EQ(t_gui_sectionlist_add_section(list, "s", 0, 1), -1);
    EXPECT_EQ(t_gui_sectionlist_add_section(NULL, "s", 0, 1), -1);
    int b = t_gui_add_button(f.ctx, f.win, "x", 0, 30, 10, 10, 0, NULL, NULL);
    EXPECT_EQ(t_gui_sectionlist_add_widget(list, 16, b), -1);
    EXPECT_EQ(t_gui_sectionlist_add_widget(list, 0, 9999), -1);
    for (int i = 0; i < 128; i++) EXPECT_EQ(t_gui_sectionlist_add_widget(list, 0, b), 0);
    EXPECT_EQ(t_gui_sectionlist_add_widget(list, 0, b), -1);
    t_gui_sectionlist_destroy(&list);
    EXPECT_EQ(list, nullptr);
    EXPECT_EQ(t_gui_sectionlist_create(f.ctx, 999, 0, 0, 1, 1, 1, NULL, NULL), nullptr);
}

TEST(TGuiSectionList, HeadersDoNothingOnceTheListIsDestroyed) {
    SectionFixture f;
    int32_t header = f.list->sections[0].header_id;
    t_gui_sectionlist_destroy(&f.list);
    ASSERT_EQ(f.list, nullptr);
    /* the header buttons stay in the window; a click on one must not reach the freed list */
    ASSERT_NE(t_gui_get_widget(f.ctx, header), nullptr);
    f.click(50, 20);
    EXPECT_TRUE(t_gui_get_widget(f.ctx, f.widgets[0][0])->visible);
    EXPECT_TRUE(f.toggles.empty());
}

TEST(TGuiSectionList, LongTitlesAreCutBetweenCharacters) {
    WidgetFixture f;
    T_GUI_SECTIONLIST* list = t_gui_sectionlist_create(f.ctx, f.win, 0, 0, 100, 20, 2, NULL, NULL);
    ASSERT_NE(list, nullptr);
    /* 62 letters and a two-byte character: the title holds 63 bytes, so the character goes */
    std::string title(62, 'a');
    ASSERT_EQ(t_gui_sectionlist_add_section(list, (title + "\xC3\xA9").c_str(), 0, 0), 0);
    EXPECT_EQ(std::string(list->sections[0].title), title);
    const char* label = ((T_GUI_BUTTON_DATA*)t_gui_get_widget(f.ctx, list->sections[0].header_id)->data)->label;
    EXPECT_EQ(std::string(label), "- " + title);
    t_gui_sectionlist_destroy(&list);
}

TEST(TGuiComboBox, AZeroHighBoxStillHasRowsToChoose) {
    /* A box whose height became 0 used to give its drop-down rows of 0
     * pixels and divide by that height when a row was picked. */
    WidgetFixture f;
    int c = t_gui_add_combobox(f.ctx, f.win, 10, 10, 150, 20, NULL, NULL);
    for (int i = 0; i < 3; i++) t_gui_combobox_add_item(f.ctx, c, "opt");
    f.click(20, 20);
    T_GUI_COMBOBOX_DATA* d = (T_GUI_COMBOBOX_DATA*)t_gui_get_widget(f.ctx, c)->data;
    ASSERT_EQ(d->open, 1);
    t_gui_widget_set_rect(f.ctx, c, 10, 10, 150, 0);
    d->item_height = 0;
    float x, y, w, h;
    ASSERT_EQ(_t_gui_dropdown_rect(f.ctx, &x, &y, &w, &h), 1);
    float row = h / 3.0f;
    EXPECT_GT(row, 0.0f);
    f.click(20, y + row + row / 2);
    EXPECT_EQ(d->open, 0);
    EXPECT_EQ(t_gui_combobox_get_selected(f.ctx, c), 1);
}

TEST(TGuiFocus, AFocusedWidgetUsesOnlyTheKeysItActsOn) {
    /* A list, slider or check box keeps the focus after a click; the
     * program's own keys must still reach it. */
    WidgetFixture f;
    int list = t_gui_add_listbox(f.ctx, f.win, 10, 10, 150, 100, 1, NULL, NULL);
    t_gui_listbox_add_item(f.ctx, list, "a");
    t_gui_listbox_add_item(f.ctx, list, "b");
    int slider = t_gui_add_slider(f.ctx, f.win, 10, 200, 150, 20, 0, 10, 5, 0, NULL, NULL);
    int check = t_gui_add_checkbox(f.ctx, f.win, "c", 10, 250, 150, 20, 0, NULL, NULL);
    int text = t_gui_add_textarea(f.ctx, f.win, 10, 300, 150, 20, 0, 20, NULL, NULL);
    t_gui_set_focus(f.ctx, list);
    EXPECT_EQ(f.key(ALLEGRO_KEY_E), 0);
    EXPECT_EQ(f.key(ALLEGRO_KEY_DOWN), 1);
    t_gui_set_focus(f.ctx, slider);
    EXPECT_EQ(f.key(ALLEGRO_KEY_B), 0);
    EXPECT_EQ(f.key(ALLEGRO_KEY_RIGHT), 1);
    EXPECT_GT(t_gui_slider_get_value(f.ctx, slider), 5.0);
    t_gui_set_focus(f.ctx, check);
    EXPECT_EQ(f.key(ALLEGRO_KEY_G), 0);
    EXPECT_EQ(f.key(ALLEGRO_KEY_SPACE, ' '), 1);
    EXPECT_EQ(t_gui_checkbox_get_checked(f.ctx, check), 1);
    t_gui_set_focus(f.ctx, text); /* a text field takes every letter */
    EXPECT_EQ(f.key(ALLEGRO_KEY_E, 'e'), 1);
    EXPECT_STREQ(t_gui_textarea_get_text(f.ctx, text), "e");
}
