/* gui_fixture: an application record with a document and the whole
 * interface built on the test display, and clicks on its widgets sent
 * through the shell as a person's presses and releases. */
#pragma once
#include <allegro5/allegro_font.h>
#include <gtest/gtest.h>
#include <string.h>

#include <string>

#include "app_internal.h"
#include "app_state.h"
#include "canvas/undo.h"
#include "gui/gui_private.h"
#include "platform/platform.h"
#include "plumaro_app.h"
#include "test_support.h"

class Gui : public ::testing::Test {
  protected:
    PLUMARO_APP app;
    void SetUp() override {
        ASSERT_NE(test_display(), nullptr);
        plumaro_app_start_values(&app);
        app.display = test_display();
        app.display_w = 1280;
        app.display_h = 800;
        app.font = al_create_builtin_font();
        DOCUMENT* doc = document_new(256, 256);
        ASSERT_NE(doc, nullptr);
        plumaro_app_start_document(&app, doc);
        ASSERT_NE(document_add_layer(app.doc, "Layer 1"), nullptr);
        app.state = app_state_get(APP_STATE_CANVAS);
        app.state_id = APP_STATE_CANVAS;
        ASSERT_EQ(plumaro_gui_init(&app), 1);
    }
    void TearDown() override {
        plumaro_gui_shutdown(&app);
        brush_release_resources();
        if (app.doc) document_free(&app.doc);
        if (app.font) al_destroy_font(app.font);
    }
    void send(int type, float x, float y) {
        ALLEGRO_EVENT e = {};
        e.type = type;
        e.mouse.x = (int)x, e.mouse.y = (int)y;
        e.mouse.button = 1;
        e.any.timestamp = al_get_time();
        plumaro_app_handle_event(&app, &e);
    }
    /* A press and a release in the middle of a widget, through the shell. */
    void click(int32_t id) {
        T_GUI_WIDGET* w = t_gui_get_widget(app.gui, id);
        ASSERT_NE(w, nullptr) << "widget " << id;
        ASSERT_TRUE(w->visible) << "widget " << id;
        float ox, oy;
        ASSERT_EQ(t_gui_window_content_origin(app.gui, w->window_id, &ox, &oy), 1);
        float x = ox + w->x + w->w / 2, y = oy + w->y + w->h / 2;
        send(ALLEGRO_EVENT_MOUSE_AXES, x, y);
        send(ALLEGRO_EVENT_MOUSE_BUTTON_DOWN, x, y);
        send(ALLEGRO_EVENT_MOUSE_BUTTON_UP, x, y);
    }
    void click_row(int row) {
        T_GUI_WIDGET* w = t_gui_get_widget(app.gui, app.ui.panel.list);
        ASSERT_NE(w, nullptr);
        float ox, oy;
        t_gui_window_content_origin(app.gui, w->window_id, &ox, &oy);
        float rh = ((T_GUI_LISTBOX_DATA*)w->data)->item_height;
        ASSERT_GT(rh, 0.0f);
        float x = ox + w->x + 10, y = oy + w->y + rh * ((float)row + 0.5f);
        send(ALLEGRO_EVENT_MOUSE_AXES, x, y);
        send(ALLEGRO_EVENT_MOUSE_BUTTON_DOWN, x, y);
        send(ALLEGRO_EVENT_MOUSE_BUTTON_UP, x, y);
    }
    std::string label(int32_t id) {
        T_GUI_WIDGET* w = t_gui_get_widget(app.gui, id);
        return w ? std::string(((T_GUI_BUTTON_DATA*)w->data)->label) : std::string("(none)");
    }
    size_t undo_count() { return app.doc->undo->undo_stack->nb_items; }
};

