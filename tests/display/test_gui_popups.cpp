/* The dialogs and the placed shapes and text: notices cut from the front,
 * the new-canvas sizes, the export region, the open list and its refusals,
 * saving through the chooser, the name filter, the language popup, the text
 * and shape renderers, placing and re-rendering placed floats. */
#include <stdlib.h>
#include <allegro5/allegro_ttf.h>
#include <math.h>
#include <sys/stat.h>

#include "gui_fixture.h"
#include "canvas/document_io.h"
#include "t_log.h"

namespace {

class Popups : public Gui {
  protected:
    std::string dir_;
    void SetUp() override {
        dir_ = test_make_temp_dir("popups");
        setenv("APPDATA", dir_.c_str(), 1);
        setenv("PLUMARO_NO_NATIVE_CHOOSER", "1", 1);
        unsetenv("PLUMARO_FILE_CHOICE");
        ASSERT_TRUE(platform_init());
        Gui::SetUp();
    }
    void TearDown() override {
        Gui::TearDown();
        unsetenv("PLUMARO_FILE_CHOICE");
        test_remove_tree(dir_);
    }
    std::string notice() { return app.ui.notify.open ? app.ui.notify.text : ""; }
    std::string save_dir() { return dir_ + "/Plumaro"; }
    void fire(int32_t id) {
        T_GUI_BUTTON_DATA* d = (T_GUI_BUTTON_DATA*)t_gui_get_widget(app.gui, id)->data;
        d->callback(id, d->user);
    }
};

// Alpha of a bitmap's pixel.
int _alpha(ALLEGRO_BITMAP* b, int x, int y) {
    unsigned char px[4];
    test_pixel_rgba(b, x, y, px);
    return px[3];
}

}  // namespace

TEST(GuiText, NameFilterAndCustomSizes) {
    char out[64];
    _gui_name_filter("  Caf\xc3\xa9 au lait!  ", out, sizeof(out));
    EXPECT_STREQ(out, "Caf au lait");
    _gui_name_filter("my-sketch_2", out, sizeof(out));
    EXPECT_STREQ(out, "my-sketch_2");
    _gui_name_filter("?!*/\\.", out, sizeof(out));
    EXPECT_STREQ(out, "sketch");
    _gui_name_filter(std::string(100, 'a').c_str(), out, sizeof(out));
    EXPECT_EQ(strlen(out), 63u);
    EXPECT_EQ(_gui_custom_canvas_size("63"), 0);
    EXPECT_EQ(_gui_custom_canvas_size("16385"), 0);
    EXPECT_EQ(_gui_custom_canvas_size("abc"), 0);
    EXPECT_EQ(_gui_custom_canvas_size("12ab"), 0);
    EXPECT_EQ(_gui_custom_canvas_size(""), 0);
    EXPECT_EQ(_gui_custom_canvas_size("64"), 64);
    EXPECT_EQ(_gui_custom_canvas_size("16384"), 16384);
}

TEST_F(Popups, ALongNoticeKeepsItsEndBehindDots) {
    std::string text = "Exported 4096x4096 to " + std::string(200, 'x') + "/the-end.png";
    plumaro_gui_notify(&app, text.c_str());
    std::string shown = notice();
    ASSERT_GT(shown.size(), 3u);
    EXPECT_EQ(shown.substr(0, 3), "...");
    EXPECT_EQ(shown.substr(shown.size() - 12), "/the-end.png");
    EXPECT_LT(al_get_text_width(app.font, shown.c_str() + 3), (int)(540 * app.ui.metrics.scale) - 23);
    plumaro_gui_notify(&app, "Saved: a.plm");
    EXPECT_EQ(notice(), "Saved: a.plm") << "a short notice is shown whole";
}

TEST_F(Popups, TheExportRegionAndNothingToExport) {
    /* A border larger than the document is held at its edges. */
    app.export_area = 1;
    app.export_border = 256;
    LAYER* layer = app.doc->active_layer;
    al_set_target_bitmap(layer->backup);
    al_put_pixel(100, 120, al_map_rgb(0, 0, 0));
    al_set_target_backbuffer(test_display());
    app.ui.export_png.box_valid = 0;
    int x, y, w, h;
    ASSERT_EQ(_gui_export_region(&app, &x, &y, &w, &h), 1);
    EXPECT_EQ(x, 0);
    EXPECT_EQ(y, 0);
    EXPECT_EQ(w, 256);
    EXPECT_EQ(h, 256);
    app.export_border = 10;
    app.ui.export_png.box_valid = 0;
    ASSERT_EQ(_gui_export_region(&app, &x, &y, &w, &h), 1);
    EXPECT_EQ(x, 90);
    EXPECT_EQ(w, 21);
    /* The displayed area far off the document holds nothing to export. */
    app.export_area = 0;
    view_pan(&app.view, 5000, 5000);
    EXPECT_EQ(_gui_export_region(&app, &x, &y, &w, &h), 0);
    _on_export_click(-1, &app);
    ASSERT_EQ(app.ui.export_png.open, 1);
    T_GUI_WIDGET* title = t_gui_get_widget(app.gui, app.ui.export_png.title);
    EXPECT_STREQ(((T_GUI_LABEL_DATA*)title->data)->text, "Export PNG: nothing to export");
    /* Its Export button: the popup closes and the notice says why nothing was written. */
    T_GUI_WINDOW* win = t_gui_get_window(app.gui, app.ui.export_png.window);
    int32_t go = -1;
    for (LIST_NODE* n = win->widgets->start; n; n = n->next) {
        T_GUI_WIDGET* wd = (T_GUI_WIDGET*)n->ptr;
        if (wd->kind == T_GUI_KIND_BUTTON && strcmp(((T_GUI_BUTTON_DATA*)wd->data)->label, "Export") == 0) go = wd->id;
    }
    ASSERT_GE(go, 0);
    click(go);
    EXPECT_EQ(app.ui.export_png.open, 0);
    EXPECT_EQ(notice(), "Nothing to export: the drawing is empty.");
}

TEST_F(Popups, TheOpenListShowsTwelveAndRefusesUnsafeNames) {
    for (int i = 0; i < 13; i++) test_write_file(save_dir() + "/d" + std::to_string(i) + ".plm", "PLM3");
    test_write_file(save_dir() + "/notes.txt", "x");
    _on_load_click(-1, &app);
    GUI_OPEN_LIST* o = &app.ui.open_list;
    ASSERT_EQ(o->open, 1) << "without a chooser the list opens";
    EXPECT_EQ(o->used, 12);
    T_GUI_WIDGET* title = t_gui_get_widget(app.gui, o->title);
    EXPECT_STREQ(((T_GUI_LABEL_DATA*)title->data)->text, "Open sketch (newest 12)");
    EXPECT_TRUE(t_gui_get_widget(app.gui, o->rows[11])->visible);
    std::string label = ((T_GUI_BUTTON_DATA*)t_gui_get_widget(app.gui, o->rows[0])->data)->label;
    EXPECT_EQ(label.find(".plm"), std::string::npos) << "rows show names without the extension";
    /* A name with a slash is refused before any path is built. */
    snprintf(o->names[0], sizeof(o->names[0]), "../d1.plm");
    DOCUMENT* before = app.doc;
    test_log_capture_begin(LOG_ERR);
    click(o->rows[0]);
    EXPECT_NE(test_log_capture_end().find("refusing to load unsafe document name: ../d1.plm"), std::string::npos);
    EXPECT_EQ(o->open, 0);
    EXPECT_EQ(app.doc, before);
    EXPECT_EQ(notice(), "Load failed.");
}

TEST_F(Popups, LoadingARowReplacesTheDrawing) {
    DOCUMENT* other = document_new(64, 48);
    document_add_layer(other, "Ink");
    ASSERT_EQ(document_save(other, (save_dir() + "/other.plm").c_str()), 1);
    document_free(&other);
    _on_load_click(-1, &app);
    ASSERT_EQ(app.ui.open_list.used, 1);
    click(app.ui.open_list.rows[0]);
    EXPECT_EQ(app.doc->width, 64);
    EXPECT_EQ(notice(), "Loaded: other.plm");
    EXPECT_STREQ(app.ui.doc_name, "other");
    EXPECT_EQ(app.doc_path, save_dir() + "/other.plm");
}

TEST_F(Popups, SavingThroughTheChooserAddsTheExtensionOnlyWithoutADot) {
    unsetenv("PLUMARO_NO_NATIVE_CHOOSER");
    std::string plain = dir_ + "/drawing", dotted = dir_ + "/my.picture";
    setenv("PLUMARO_FILE_CHOICE", plain.c_str(), 1);
    plumaro_gui_request_save(&app);
    struct stat info;
    EXPECT_EQ(stat((plain + ".plm").c_str(), &info), 0);
    EXPECT_EQ(notice(), "Saved: drawing.plm");
    EXPECT_STREQ(app.ui.doc_name, "drawing");
    setenv("PLUMARO_FILE_CHOICE", dotted.c_str(), 1);
    plumaro_gui_request_save(&app);
    EXPECT_EQ(stat(dotted.c_str(), &info), 0);
    EXPECT_NE(stat((dotted + ".plm").c_str(), &info), 0);
    setenv("PLUMARO_NO_NATIVE_CHOOSER", "1", 1);
    /* Without a chooser the name popup asks; its Save writes into the save folder. */
    plumaro_gui_request_save(&app);
    ASSERT_EQ(app.ui.save_name.open, 1);
    EXPECT_EQ(plumaro_gui_wants_keyboard(&app), 1);
    t_gui_textarea_set_text(app.gui, app.ui.save_name.field, "  Night sky!  ");
    T_GUI_WINDOW* win = t_gui_get_window(app.gui, app.ui.save_name.window);
    for (LIST_NODE* n = win->widgets->start; n; n = n->next) {
        T_GUI_WIDGET* wd = (T_GUI_WIDGET*)n->ptr;
        if (wd->kind == T_GUI_KIND_BUTTON && strcmp(((T_GUI_BUTTON_DATA*)wd->data)->label, "Save") == 0) click(wd->id);
    }
    EXPECT_EQ(app.ui.save_name.open, 0);
    EXPECT_EQ(stat((save_dir() + "/Night sky.plm").c_str(), &info), 0);
    EXPECT_EQ(plumaro_gui_wants_keyboard(&app), 0);
}

TEST_F(Popups, TheBackKeyOnAnUnansweredLanguageChoiceTakesEnglish) {
    app.language = LANG_UNSET;
    plumaro_gui_request_language_choice(&app);
    ASSERT_EQ(t_gui_window_is_open(app.gui, app.ui.language.window), 1);
    plumaro_gui_notify(&app, "first");
    ALLEGRO_EVENT e = {};
    e.type = ALLEGRO_EVENT_KEY_DOWN;
    e.keyboard.keycode = ALLEGRO_KEY_BACK;
    plumaro_app_handle_event(&app, &e); /* the notice goes first */
    EXPECT_EQ(app.ui.notify.open, 0);
    EXPECT_EQ(app.language, LANG_UNSET);
    plumaro_app_handle_event(&app, &e);
    EXPECT_EQ(app.language, LANG_EN);
    EXPECT_EQ(app.ui.language.requested, 0);
    EXPECT_EQ(app.gui_rebuild_pending, 1);
    plumaro_app_handle_event(&app, &e); /* nothing left to close: the quit question */
    EXPECT_EQ(app.ui.confirm.open, 1);
    EXPECT_STREQ(app.ui.confirm.text, "Quit Plumaro?");
    fire(app.ui.confirm.yes);
    EXPECT_EQ(app.running, 0);
}

TEST_F(Popups, TextBitmapsAndEmptyText) {
    ALLEGRO_BITMAP* b = _render_text_bitmap(&app, "one\ntwo\nthree", 0, 48);
    ASSERT_NE(b, nullptr);
    ALLEGRO_FONT* font = al_load_ttf_font("assets/fonts/DejaVuSans.ttf", 48, 0);
    ASSERT_NE(font, nullptr);
    EXPECT_EQ(al_get_bitmap_height(b), 3 * al_get_font_line_height(font) + 28);
    al_destroy_font(font);
    al_destroy_bitmap(b);
    EXPECT_EQ(_render_text_bitmap(&app, "", 0, 48), nullptr);
    /* An empty text placed from the popup places nothing and closes it. */
    _on_text_button(-1, &app);
    ASSERT_EQ(app.ui.text.open, 1);
    T_GUI_WINDOW* win = t_gui_get_window(app.gui, app.ui.text.window);
    for (LIST_NODE* n = win->widgets->start; n; n = n->next) {
        T_GUI_WIDGET* wd = (T_GUI_WIDGET*)n->ptr;
        if (wd->kind == T_GUI_KIND_BUTTON && strcmp(((T_GUI_BUTTON_DATA*)wd->data)->label, "Place") == 0) click(wd->id);
    }
    EXPECT_EQ(app.ui.text.open, 0);
    EXPECT_EQ(app.selection.state, SEL_NONE);
}

/* Shapes and text are paint like any other, premultiplied: in a
 * half-transparent orange no channel is ever above the alpha. */
TEST_F(Popups, ShapesAndTextInAHalfTransparentColourArePremultiplied) {
    app.brush.color = al_map_rgba_f(1.0f, 0.5f, 0.25f, 0.5f);
    app.shapes_solid = 1;
    _place_shape(&app, 0);
    ASSERT_EQ(app.selection.state, SEL_FLOATING);
    unsigned char px[4];
    test_pixel_rgba(app.selection.bitmap, app.selection.w / 2, app.selection.h / 2, px);
    EXPECT_NEAR(px[0], 128, 1);
    EXPECT_NEAR(px[1], 64, 1);
    EXPECT_NEAR(px[2], 32, 1);
    EXPECT_NEAR(px[3], 128, 1);
    ALLEGRO_BITMAP* text = _render_text_bitmap(&app, "Wave", 0, 48);
    ASSERT_NE(text, nullptr);
    int inked = 0, worst = 0;
    for (int y = 0; y < al_get_bitmap_height(text); y++)
        for (int x = 0; x < al_get_bitmap_width(text); x++) {
            test_pixel_rgba(text, x, y, px);
            inked += px[3] > 100;
            worst = std::max(worst, (int)px[0] - (int)px[3]);
        }
    al_destroy_bitmap(text);
    EXPECT_GT(inked, 50);
    EXPECT_LE(worst, 1);
}

TEST_F(Popups, AStarStretchesToAllFourInsets) {
    app.brush.size = 4;
    app.brush.color = al_map_rgb(0, 0, 0);
    ALLEGRO_BITMAP* b = _render_shape_bitmap_wh(&app, 3, 1, 100, 50);
    ASSERT_NE(b, nullptr);
    /* Stroke width min(50 / 6, 4) = 4: the polygon's points lie on 2..98 by 2..48. */
    int top = 99, bottom = -1, left = 99, right = -1;
    for (int y = 0; y < 50; y++)
        for (int x = 0; x < 100; x++)
            if (_alpha(b, x, y) > 0) {
                top = y < top ? y : top, bottom = y > bottom ? y : bottom;
                left = x < left ? x : left, right = x > right ? x : right;
            }
    EXPECT_LE(abs(top - 2), 1);
    EXPECT_LE(abs(bottom - 47), 1);
    EXPECT_LE(abs(left - 2), 2) << "the sharp side points cover little of their pixels";
    EXPECT_LE(abs(right - 97), 2);
    al_destroy_bitmap(b);
}

TEST_F(Popups, PlacedShapeSizesAndCentres) {
    app.doc = app.doc; /* 256 x 256 */
    view_init(&app.view);
    app.view.zoom = 4.0f; /* 0.4 x 800 = 320 on screen: 80 canvas pixels */
    view_zoom_at(&app.view, 1.0f, 0, 0);
    app.display_w = 1000;
    app.display_h = 800;
    _place_shape(&app, 0);
    ASSERT_EQ(app.selection.state, SEL_FLOATING);
    EXPECT_EQ(app.selection.w, 80);
    EXPECT_EQ(app.selection.source_kind, 0);
    EXPECT_EQ(app.tool, TOOL_SELECT);
    EXPECT_TRUE(app.selection.symmetric);
    /* At zoom 0.1 the side is held at the document's smaller side. */
    view_init(&app.view);
    view_zoom_at(&app.view, 0.1f, 0, 0);
    _place_shape(&app, 1);
    EXPECT_EQ(app.selection.w, 256);
    /* With a snap step of 10 the centre lies on multiples of 5. */
    view_init(&app.view);
    view_zoom_at(&app.view, 4.0f, 0, 0);
    view_pan(&app.view, 8.0f, 12.0f); /* the display's centre is canvas (123, 97) */
    app.grid.visible = 1;
    app.grid.snap = 1;
    app.grid.spacing = 10;
    _place_shape(&app, 4);
    float cx, cy;
    ASSERT_TRUE(selection_get_center(&app.selection, &cx, &cy));
    EXPECT_FLOAT_EQ(fmodf(cx, 5.0f), 0.0f) << cx;
    EXPECT_FLOAT_EQ(fmodf(cy, 5.0f), 0.0f) << cy;
    /* A locked layer takes no shape. */
    plumaro_app_settle(&app);
    app.doc->active_layer->locked = 1;
    _place_shape(&app, 0);
    EXPECT_EQ(app.selection.state, SEL_NONE);
    EXPECT_EQ(notice(), "Cannot add a shape to a locked layer.");
}

TEST_F(Popups, AScaledShapeIsRenderedAgainWithTheSameStrokeWidth) {
    app.brush.size = 6;
    app.display_w = 1000;
    app.display_h = 800;
    view_init(&app.view);
    _place_shape(&app, 0); /* outlined rectangle of 256 (held at the document) */
    ASSERT_EQ(app.selection.state, SEL_FLOATING);
    int side = app.selection.w;
    app.selection.scale_x = 2.0f;
    _refresh_placed_float(&app, 0);
    EXPECT_EQ(app.selection.w, 2 * side);
    EXPECT_EQ(app.selection.h, side);
    /* The stroke stays 6 pixels wide at the new size. */
    EXPECT_GT(_alpha(app.selection.bitmap, 2, side / 2), 200);
    EXPECT_EQ(_alpha(app.selection.bitmap, 8, side / 2), 0);
    /* An unforced refresh at an unchanged size renders nothing again. */
    ALLEGRO_BITMAP* same = app.selection.bitmap;
    _refresh_placed_float(&app, 0);
    EXPECT_EQ(app.selection.bitmap, same);
    /* Past 4096 the shape is rendered at 4096. */
    app.selection.scale_x = 4096.0f;
    _refresh_placed_float(&app, 0);
    EXPECT_EQ(app.selection.w, 4096);
}
