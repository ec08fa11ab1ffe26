/* Toolkit core: stacking, focus, hit testing, event use and capture,
 * title bar buttons, moving, double clicks and tooltips. */
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "t_gui.h"
#include "t_gui_test_util.h"
#include "t_log.h"

/* Window ids back to front. */
static std::vector<int> order_of(T_GUI_CTX* ctx) {
    std::vector<int> ids;
    for (LIST_NODE* n = ctx->windows->start; n; n = n->next) ids.push_back(((T_GUI_WINDOW*)n->ptr)->id);
    return ids;
}

TEST(TGuiCore, NewContextDefaults) {
    GuiFixture f;
    ASSERT_NE(f.ctx, nullptr);
    EXPECT_EQ(f.ctx->next_window_id, 1);
    EXPECT_EQ(f.ctx->focused_widget, -1);
    EXPECT_DOUBLE_EQ(f.ctx->double_click_time, 0.4);
    EXPECT_EQ(f.ctx->double_click_radius, 4);
    EXPECT_EQ(f.ctx->widget_table->size, 256u);
    EXPECT_EQ(t_gui_new_ctx(NULL), nullptr);
    t_gui_set_double_click_time(f.ctx, -3);
    t_gui_set_double_click_radius(f.ctx, -1);
    EXPECT_EQ(f.ctx->double_click_time, 0);
    EXPECT_EQ(f.ctx->double_click_radius, 0);
    int a = t_gui_add_window(f.ctx, "a", 0, 0, 100, 100);
    int b = t_gui_add_window(f.ctx, "b", 0, 0, 100, 100);
    EXPECT_EQ(a, 1);
    EXPECT_EQ(b, 2);
    EXPECT_EQ(t_gui_get_window(f.ctx, a)->state, T_GUI_STATE_OPEN);
    EXPECT_EQ(t_gui_add_window(NULL, "x", 0, 0, 1, 1), -1);
}

TEST(TGuiCore, StackingRanksAndRaise) {
    GuiFixture f;
    int popup = t_gui_add_window(f.ctx, "popup", 0, 0, 100, 100);
    int top = t_gui_add_window(f.ctx, "top", 0, 0, 100, 100);
    int normal1 = t_gui_add_window(f.ctx, "n1", 0, 0, 100, 100);
    int normal2 = t_gui_add_window(f.ctx, "n2", 0, 0, 100, 100);
    int behind = t_gui_add_window(f.ctx, "behind", 0, 0, 100, 100);
    int fixed_hi = t_gui_add_window(f.ctx, "fixed5", 0, 0, 100, 100);
    int fixed_lo = t_gui_add_window(f.ctx, "fixed1", 0, 0, 100, 100);
    t_gui_window_set_zorder(f.ctx, popup, T_GUI_ZORDER_POPUP, 0);
    t_gui_window_set_zorder(f.ctx, top, T_GUI_ZORDER_ALWAYS_ON_TOP, 0);
    t_gui_window_set_zorder(f.ctx, behind, T_GUI_ZORDER_ALWAYS_BEHIND, 0);
    t_gui_window_set_zorder(f.ctx, fixed_hi, T_GUI_ZORDER_FIXED, 5);
    t_gui_window_set_zorder(f.ctx, fixed_lo, T_GUI_ZORDER_FIXED, 1);
    std::vector<int> want = {behind, fixed_lo, fixed_hi, normal1, normal2, top, popup};
    EXPECT_EQ(order_of(f.ctx), want);

    /* raising a normal window puts it at the front of its rank only */
    t_gui_raise_window(f.ctx, normal1);
    want = {behind, fixed_lo, fixed_hi, normal2, normal1, top, popup};
    EXPECT_EQ(order_of(f.ctx), want);
    /* always-on-top and fixed windows are not moved by a raise */
    int top2 = t_gui_add_window(f.ctx, "top2", 0, 0, 100, 100);
    t_gui_window_set_zorder(f.ctx, top2, T_GUI_ZORDER_ALWAYS_ON_TOP, 0);
    /* top2 was normal (in front of the normal windows, behind top) when its mode changed */
    want = {behind, fixed_lo, fixed_hi, normal2, normal1, top2, top, popup};
    EXPECT_EQ(order_of(f.ctx), want);
    t_gui_raise_window(f.ctx, top2);
    t_gui_raise_window(f.ctx, fixed_lo);
    EXPECT_EQ(order_of(f.ctx), want);
    /* a popup created later stays in front of always-on-top windows */
    int popup2 = t_gui_add_window(f.ctx, "popup2", 0, 0, 100, 100);
    t_gui_window_set_zorder(f.ctx, popup2, T_GUI_ZORDER_POPUP, 0);
    t_gui_raise_window(f.ctx, popup);
    EXPECT_EQ(order_of(f.ctx).back(), popup);
    EXPECT_EQ(order_of(f.ctx)[order_of(f.ctx).size() - 2], popup2);
}

TEST(TGuiCore, UnknownStackingModeFallsBackToNormal) {
    GuiFixture f;
    int a = t_gui_add_window(f.ctx, "a", 0, 0, 100, 100);
    int b = t_gui_add_window(f.ctx, "b", 0, 0, 100, 100);
    t_gui_window_set_zorder(f.ctx, a, T_GUI_ZORDER_ALWAYS_ON_TOP, 0);
    test_log_capture_begin(LOG_DEBUG);
    EXPECT_EQ(t_gui_window_set_zorder(f.ctx, a, 7, 0), 1);
    std::string log = test_log_capture_end();
    EXPECT_NE(log.find("t_gui_window_set_zorder: unknown z_mode 7 for window 1 (expected T_GUI_ZORDER_NORMAL, "
                       "T_GUI_ZORDER_ALWAYS_ON_TOP, T_GUI_ZORDER_ALWAYS_BEHIND, T_GUI_ZORDER_FIXED, or "
                       "T_GUI_ZORDER_POPUP), falling back to T_GUI_ZORDER_NORMAL"),
              std::string::npos)
        << log;
    EXPECT_EQ(t_gui_get_window(f.ctx, a)->z_order, T_GUI_ZORDER_NORMAL);
    /* back among normal windows: a raise now moves it in front of b */
    t_gui_raise_window(f.ctx, a);
    EXPECT_EQ(order_of(f.ctx), (std::vector<int>{b, a}));
}

TEST(TGuiCore, FocusRaisesOnlyNormalAndPopupWindows) {
    GuiFixture f;
    int n1 = t_gui_add_window(f.ctx, "n1", 0, 0, 200, 200);
    int n2 = t_gui_add_window(f.ctx, "n2", 0, 0, 200, 200);
    int top = t_gui_add_window(f.ctx, "top", 0, 0, 200, 200);
    int behind = t_gui_add_window(f.ctx, "behind", 0, 0, 200, 200);
    t_gui_window_set_zorder(f.ctx, top, T_GUI_ZORDER_ALWAYS_ON_TOP, 0);
    t_gui_window_set_zorder(f.ctx, behind, T_GUI_ZORDER_ALWAYS_BEHIND, 0);
    int s1 = t_gui_add_slider(f.ctx, n1, 0, 0, 100, 20, 0, 10, 0, 0, NULL, NULL);
    int sb = t_gui_add_slider(f.ctx, behind, 0, 0, 100, 20, 0, 10, 0, 0, NULL, NULL);
    EXPECT_EQ(order_of(f.ctx), (std::vector<int>{behind, n1, n2, top}));
    EXPECT_EQ(t_gui_set_focus(f.ctx, s1), 1);
    EXPECT_EQ(f.ctx->focused_widget, s1);
    EXPECT_TRUE(t_gui_get_widget(f.ctx, s1)->state & T_GUI_WSTATE_FOCUS);
    EXPECT_EQ(order_of(f.ctx), (std::vector<int>{behind, n2, n1, top}));
    /* focusing in an always-behind window leaves it behind and moves the focus bit */
    t_gui_set_focus(f.ctx, sb);
    EXPECT_EQ(order_of(f.ctx), (std::vector<int>{behind, n2, n1, top}));
    EXPECT_FALSE(t_gui_get_widget(f.ctx, s1)->state & T_GUI_WSTATE_FOCUS);
    /* unknown widget: logged, focus unchanged */
    test_log_capture_begin(LOG_DEBUG);
    EXPECT_EQ(t_gui_set_focus(f.ctx, 999), 0);
    EXPECT_NE(test_log_capture_end().find("t_gui_set_focus: widget 999 not found"), std::string::npos);
    EXPECT_EQ(f.ctx->focused_widget, sb);
    t_gui_set_focus(f.ctx, -1);
    EXPECT_EQ(f.ctx->focused_widget, -1);
    (void)n2;
}

TEST(TGuiCore, ClosingTheFocusedWidgetsWindowDropsFocus) {
    GuiFixture f;
    int a = t_gui_add_window(f.ctx, "a", 0, 0, 200, 200);
    int b = t_gui_add_window(f.ctx, "b", 300, 0, 200, 200);
    int ta = t_gui_add_textarea(f.ctx, a, 0, 0, 100, 20, 0, 10, NULL, NULL);
    int tb = t_gui_add_textarea(f.ctx, b, 0, 0, 100, 20, 0, 10, NULL, NULL);
    t_gui_set_focus(f.ctx, tb);
    t_gui_close_window(f.ctx, a);
    EXPECT_EQ(f.ctx->focused_widget, tb); /* another window's focus stays */
    t_gui_set_focus(f.ctx, ta);
    t_gui_open_window(f.ctx, a);
    t_gui_close_window(f.ctx, a);
    EXPECT_EQ(f.ctx->focused_widget, -1);
    EXPECT_FALSE(t_gui_get_widget(f.ctx, ta)->state & T_GUI_WSTATE_FOCUS);
    EXPECT_EQ(t_gui_window_is_open(f.ctx, a), 0);
    EXPECT_EQ(t_gui_window_is_open(f.ctx, b), 1);
}

TEST(TGuiCore, CollapsedWindowCatchesPointerOnlyOnTitleBar) {
    GuiFixture f;
    int w = t_gui_add_window(f.ctx, "w", 100, 100, 200, 300);
    EXPECT_EQ(t_gui_window_at(f.ctx, 150, 350), w);
    EXPECT_EQ(t_gui_window_at(f.ctx, 300, 400), w); /* edges included */
    t_gui_get_window(f.ctx, w)->state |= T_GUI_STATE_COLLAPSED;
    EXPECT_EQ(t_gui_window_at(f.ctx, 150, 110), w);
    EXPECT_EQ(t_gui_window_at(f.ctx, 150, 128), w);
    EXPECT_EQ(t_gui_window_at(f.ctx, 150, 129), -1);
    EXPECT_EQ(t_gui_window_at(f.ctx, 150, 350), -1);
    EXPECT_EQ(f.move(150, 350), 0);
    EXPECT_EQ(t_gui_wants_mouse(f.ctx), 0);
    /* without a title bar a collapsed window catches nothing below its top edge */
    t_gui_window_set_flags(f.ctx, w, T_GUI_WIN_NO_TITLEBAR);
    EXPECT_EQ(t_gui_window_at(f.ctx, 150, 110), -1);
    /* closed windows catch nothing */
    t_gui_get_window(f.ctx, w)->state &= ~T_GUI_STATE_COLLAPSED;
    t_gui_close_window(f.ctx, w);
    EXPECT_EQ(t_gui_window_at(f.ctx, 150, 150), -1);
}

TEST(TGuiCore, EventsOverWindowsAreUsedAndOthersPass) {
    GuiFixture f;
    int w = t_gui_add_window(f.ctx, "w", 100, 100, 200, 200);
    EXPECT_EQ(f.move(150, 150), 1);
    EXPECT_EQ(t_gui_wants_mouse(f.ctx), 1);
    EXPECT_EQ(f.move(600, 600), 0);
    EXPECT_EQ(t_gui_wants_mouse(f.ctx), 0);
    EXPECT_EQ(f.press(600, 600), 0);
    EXPECT_EQ(f.release(600, 600), 0);
    EXPECT_EQ(f.press(150, 200), 1);
    EXPECT_EQ(f.release(150, 200), 1);
    EXPECT_EQ(f.mouse(ALLEGRO_EVENT_MOUSE_BUTTON_DOWN, 150, 200, 2), 1);
    EXPECT_EQ(f.mouse(ALLEGRO_EVENT_MOUSE_BUTTON_DOWN, 700, 200, 2), 0);
    /* keys with nothing focused and events of other kinds are not used */
    EXPECT_EQ(f.key(ALLEGRO_KEY_B, 'b'), 0);
    ALLEGRO_EVENT ev;
    memset(&ev, 0, sizeof(ev));
    ev.type = ALLEGRO_EVENT_TIMER;
    EXPECT_EQ(t_gui_process_event(f.ctx, &ev), 0);
    /* a closed window lets events through */
    t_gui_close_window(f.ctx, w);
    EXPECT_EQ(f.press(150, 200), 0);
    f.release(150, 200);
}

TEST(TGuiCore, PressCapturedByWidgetKeepsMotionAndRelease) {
    GuiFixture f;
    int w = t_gui_add_window(f.ctx, "w", 100, 100, 300, 200);
    int calls = 0;
    double last = -1;
    struct Rec {
        int* calls;
        double* last;
    } rec = {&calls, &last};
    int s = t_gui_add_slider(f.ctx, w, 0, 0, 200, 20, 0, 100, 0, 0,
                             [](int32_t, double v, void* u) {
                                 Rec* r = (Rec*)u;
                                 (*r->calls)++;
                                 *r->last = v;
                             },
                             &rec);
    ASSERT_GT(s, 0);
    /* content origin (100, 128); slider track from x 100 */
    EXPECT_EQ(f.press(200, 138), 1);
    EXPECT_EQ(f.ctx->pressed_widget, s);
    EXPECT_NEAR(t_gui_slider_get_value(f.ctx, s), 50, 0.5);
    /* motion far outside the window still goes to the slider and is used */
    EXPECT_EQ(f.move(1000, 700), 1);
    EXPECT_DOUBLE_EQ(t_gui_slider_get_value(f.ctx, s), 100);
    EXPECT_EQ(f.move(0, 700), 1);
    EXPECT_DOUBLE_EQ(t_gui_slider_get_value(f.ctx, s), 0);
    EXPECT_EQ(f.release(0, 700), 1);
    EXPECT_EQ(f.ctx->pressed_widget, -1);
    EXPECT_FALSE(t_gui_get_widget(f.ctx, s)->state & T_GUI_WSTATE_PRESSED);
    int before = calls;
    EXPECT_EQ(f.move(1000, 700), 0);
    EXPECT_EQ(calls, before);
    EXPECT_DOUBLE_EQ(last, 0);
}

TEST(TGuiCore, TitleBarButtonsMoveAndResize) {
    GuiFixture f;
    int w = t_gui_add_window(f.ctx, "w", 100, 100, 300, 200);
    t_gui_window_set_flags(f.ctx, w, T_GUI_WIN_CLOSE_BTN | T_GUI_WIN_MINIMIZE_BTN | T_GUI_WIN_RESIZABLE);
    T_GUI_WINDOW* win = t_gui_get_window(f.ctx, w);
    /* buttons 24 px, 4 px from the right: close at x 372..396, minimise (next) 346..370 */
    f.click(358, 114);
    EXPECT_TRUE(win->state & T_GUI_STATE_COLLAPSED);
    f.click(358, 114);
    EXPECT_FALSE(win->state & T_GUI_STATE_COLLAPSED);
    /* press on close, release elsewhere: nothing */
    f.press(384, 114);
    f.release(200, 114);
    EXPECT_TRUE(t_gui_window_is_open(f.ctx, w));
    /* moving by the title bar */
    f.press(150, 110);
    EXPECT_TRUE(win->state & T_GUI_STATE_MOVING);
    f.move(250, 160);
    f.release(250, 160);
    EXPECT_FLOAT_EQ(win->x, 200);
    EXPECT_FLOAT_EQ(win->y, 150);
    EXPECT_FALSE(win->state & T_GUI_STATE_MOVING);
    /* resizing by the grip, never below the minimum size */
    f.press(200 + 300 - 3, 150 + 200 - 3);
    EXPECT_TRUE(win->state & T_GUI_STATE_RESIZING);
    f.move(600, 500); /* the grip keeps its 3 px offset from the corner */
    EXPECT_FLOAT_EQ(win->w, 403);
    EXPECT_FLOAT_EQ(win->h, 353);
    f.move(201, 151);
    f.release(201, 151);
    EXPECT_FLOAT_EQ(win->w, 120);
    EXPECT_FLOAT_EQ(win->h, 60);
    /* a window that cannot be moved stays */
    t_gui_window_set_flags(f.ctx, w, T_GUI_WIN_NO_MOVE | T_GUI_WIN_CLOSE_BTN);
    f.press(210, 160);
    f.move(400, 400);
    f.release(400, 400);
    EXPECT_FLOAT_EQ(win->x, 200);
    /* the close callback replaces closing */
    int closed = 0;
    t_gui_window_set_button_callback(f.ctx, w, T_GUI_TB_CLOSE,
                                     [](int32_t, void* u, int button) { *(int*)u = button; }, &closed);
    float cx = win->x + win->w - 4 - 12;
    f.click(cx, 164);
    EXPECT_EQ(closed, T_GUI_TB_CLOSE);
    EXPECT_TRUE(t_gui_window_is_open(f.ctx, w));
    t_gui_window_set_button_callback(f.ctx, w, T_GUI_TB_CLOSE, NULL, NULL);
    f.click(cx, 164);
    EXPECT_FALSE(t_gui_window_is_open(f.ctx, w));
}

TEST(TGuiCore, PressRaisesTheWindowUnderThePointer) {
    GuiFixture f;
    int a = t_gui_add_window(f.ctx, "a", 100, 100, 200, 200);
    int b = t_gui_add_window(f.ctx, "b", 150, 150, 200, 200);
    f.click(120, 200); /* only a is there */
    EXPECT_EQ(order_of(f.ctx), (std::vector<int>{b, a}));
    f.click(200, 200); /* both: a is in front now */
    EXPECT_EQ(order_of(f.ctx), (std::vector<int>{b, a}));
    f.click(340, 340);
    EXPECT_EQ(order_of(f.ctx), (std::vector<int>{a, b}));
}

TEST(TGuiCore, DoubleClickPairsWithinTimeAndRadius) {
    GuiFixture f;
    int w = t_gui_add_window(f.ctx, "w", 0, 0, 300, 200);
    int b = t_gui_add_button(f.ctx, w, "b", 10, 10, 100, 30, 0, NULL, NULL);
    f.press(20, 48);
    EXPECT_EQ(f.ctx->double_clicked_widget, -1);
    f.release(20, 48);
    f.press(22, 50, 0.2);
    EXPECT_EQ(f.ctx->double_clicked_widget, b);
    f.release(22, 50);
    EXPECT_EQ(f.ctx->double_clicked_widget, -1); /* reset at every event */
    f.press(22, 50, 0.1);                        /* third press starts a new pair */
    EXPECT_EQ(f.ctx->double_clicked_widget, -1);
    f.release(22, 50);
    f.press(22, 50, 0.5); /* too late */
    EXPECT_EQ(f.ctx->double_clicked_widget, -1);
    f.release(22, 50);
    f.press(30, 50, 0.1); /* too far (8 px) */
    EXPECT_EQ(f.ctx->double_clicked_widget, -1);
    f.release(30, 50);
}

TEST(TGuiCore, TooltipStateFollowsHover) {
    GuiFixture f;
    int w = t_gui_add_window(f.ctx, "w", 0, 0, 300, 200);
    int b = t_gui_add_button(f.ctx, w, "b", 10, 10, 100, 30, 0, NULL, NULL);
    int c = t_gui_add_button(f.ctx, w, "c", 150, 10, 100, 30, 0, NULL, NULL);
    t_gui_widget_set_tooltip(f.ctx, b, "Brush");
    EXPECT_STREQ(t_gui_get_widget(f.ctx, b)->tooltip, "Brush");
    /* Given its own text, the tooltip keeps it rather than freeing it first. */
    t_gui_widget_set_tooltip(f.ctx, b, t_gui_get_widget(f.ctx, b)->tooltip);
    EXPECT_STREQ(t_gui_get_widget(f.ctx, b)->tooltip, "Brush");
    EXPECT_EQ(t_gui_tooltip_state_at(f.ctx, f.clock), 0);
    f.move(20, 48);
    EXPECT_EQ(t_gui_tooltip_state_at(f.ctx, f.clock + 0.1), 1);
    EXPECT_EQ(t_gui_tooltip_state_at(f.ctx, f.clock + 1.0), 2);
    f.move(160, 48); /* a widget without tooltip */
    EXPECT_EQ(t_gui_tooltip_state_at(f.ctx, f.clock + 1.0), 0);
    f.move(20, 48);
    f.press(20, 48, 0.01); /* a press hides it */
    EXPECT_EQ(t_gui_tooltip_state_at(f.ctx, f.clock + 1.0), 0);
    f.release(20, 48);
    t_gui_widget_set_tooltip(f.ctx, b, "");
    EXPECT_EQ(t_gui_get_widget(f.ctx, b)->tooltip, nullptr);
    EXPECT_EQ(t_gui_tooltip_state_at(f.ctx, f.clock + 1.0), 0);
    (void)c;
}

TEST(TGuiCore, DisplaySizeAndVirtualCanvas) {
    GuiFixture f;
    t_gui_set_virtual_size(f.ctx, 1000, 500);
    t_gui_set_display_size(f.ctx, 500, 500);
    EXPECT_FLOAT_EQ(f.ctx->virtual_scale, 0.5f);
    EXPECT_FLOAT_EQ(f.ctx->virtual_offset_x, 0);
    EXPECT_FLOAT_EQ(f.ctx->virtual_offset_y, 125);
    int w = t_gui_add_window(f.ctx, "w", 100, 100, 100, 100);
    /* display (100, 200) maps to virtual (200, 150) */
    EXPECT_EQ(t_gui_window_at(f.ctx, 100, 200), w);
    EXPECT_EQ(t_gui_window_at(f.ctx, 40, 200), -1);
    t_gui_set_display_size(f.ctx, 0, 0);
    EXPECT_FLOAT_EQ(f.ctx->virtual_scale, 1);
    EXPECT_FLOAT_EQ(f.ctx->virtual_offset_y, 0);
}

TEST(TGuiCore, ButtonShortcutsFireUnlessFocusTakesTheKey) {
    GuiFixture f;
    int w = t_gui_add_window(f.ctx, "w", 0, 0, 300, 200);
    int hits = 0;
    int b = t_gui_add_toggle_button(f.ctx, w, "g", 10, 10, 50, 30, 0, 0,
                                    [](int32_t, void* u) { (*(int*)u)++; }, &hits);
    int ta = t_gui_add_textarea(f.ctx, w, 10, 60, 100, 20, 0, 10, NULL, NULL);
    t_gui_button_set_shortcut(f.ctx, b, ALLEGRO_KEY_G, 0);
    EXPECT_EQ(f.key(ALLEGRO_KEY_G, 'g'), 1);
    EXPECT_EQ(hits, 1);
    EXPECT_EQ(t_gui_button_get_toggled(f.ctx, b), 1);
    EXPECT_EQ(f.key(ALLEGRO_KEY_H, 'h'), 0);
    t_gui_set_focus(f.ctx, ta);
    f.key(ALLEGRO_KEY_G, 'g');
    EXPECT_EQ(hits, 1);
    EXPECT_STREQ(t_gui_textarea_get_text(f.ctx, ta), "g");
}

TEST(TGuiCore, ScrolledToItsEndAWindowKeepsItsTopMarginBelowTheLastWidget) {
    GuiFixture f;
    int w = t_gui_add_window(f.ctx, "w", 0, 0, 200, 300);
    t_gui_window_set_flags(f.ctx, w, T_GUI_WIN_SCROLLABLE | T_GUI_WIN_NO_TITLEBAR);
    t_gui_add_button(f.ctx, w, "top", 10, 12, 100, 20, 1, NULL, NULL);
    t_gui_add_button(f.ctx, w, "last", 10, 480, 100, 28, 1, NULL, NULL);
    for (int i = 0; i < 40; i++) f.mouse(ALLEGRO_EVENT_MOUSE_AXES, 50, 150, 0, 0.01, -1);
    T_GUI_WINDOW* win = t_gui_get_window(f.ctx, w);
    ASSERT_NE(win, nullptr);
    /* 508 down to the last widget, 12 more below it, in a 300-high view */
    EXPECT_FLOAT_EQ(win->scroll_y, 508.0f + 12.0f - 300.0f);
    /* a window whose widgets start at its top edge gets no margin */
    int flush = t_gui_add_window(f.ctx, "flush", 300, 0, 200, 300);
    t_gui_window_set_flags(f.ctx, flush, T_GUI_WIN_SCROLLABLE | T_GUI_WIN_NO_TITLEBAR);
    t_gui_add_button(f.ctx, flush, "a", 0, 0, 100, 400, 1, NULL, NULL);
    for (int i = 0; i < 40; i++) f.mouse(ALLEGRO_EVENT_MOUSE_AXES, 350, 150, 0, 0.01, -1);
    EXPECT_FLOAT_EQ(t_gui_get_window(f.ctx, flush)->scroll_y, 100.0f);
}
