/* Drawings shared with other programs, in-process: an OpenRaster round trip
 * of every premultiplied value and every layer property, empty layers,
 * nested and hidden stacks with their offsets, the archives that are
 * refused and why, pictures opened as drawings, and the
 * save and open flows that choose the format by the name. */
#include <stdlib.h>
#include <sys/stat.h>
#include <allegro5/allegro_primitives.h>
#include <zip.h>

#include <string>
#include <utility>
#include <vector>

#include "app_commands.h"
#include "canvas/document_exchange.h"
#include "canvas/document_io.h"
#include "gui_fixture.h"
#include "t_log.h"

namespace {

/* An archive written with the zip library, entries in the order given; the
 * first is stored uncompressed like a mimetype. */
void _write_zip(const std::string& path, const std::vector<std::pair<std::string, std::string>>& entries) {
    int error = 0;
    zip_t* za = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    ASSERT_NE(za, nullptr);
    bool first = true;
    for (const auto& e : entries) {
        char* copy = (char*)malloc(e.second.size() + 1);
        memcpy(copy, e.second.data(), e.second.size());
        zip_source_t* src = zip_source_buffer(za, copy, e.second.size(), 1);
        zip_int64_t index = zip_file_add(za, e.first.c_str(), src, ZIP_FL_OVERWRITE);
        ASSERT_GE(index, 0);
        if (first) zip_set_file_compression(za, (zip_uint64_t)index, ZIP_CM_STORE, 0);
        first = false;
    }
    ASSERT_EQ(zip_close(za), 0);
}

// A PNG of one colour, straight alpha, made by the graphics library.
std::string _png(int w, int h, ALLEGRO_COLOR colour) {
    ALLEGRO_BITMAP* b = al_create_bitmap(w, h);
    ALLEGRO_STATE state;
    al_store_state(&state, ALLEGRO_STATE_TARGET_BITMAP);
    al_set_target_bitmap(b);
    al_clear_to_color(colour);
    al_restore_state(&state);
    size_t size = 0;
    uint8_t* bytes = document_png_encode(b, &size);
    al_destroy_bitmap(b);
    std::string out((const char*)bytes, size);
    free(bytes);
    return out;
}

// The opaque colour of column x of _png_columns.
ALLEGRO_COLOR _column(int x) {
    return al_map_rgb((unsigned char)(20 + 25 * x), (unsigned char)(200 - 20 * x), (unsigned char)(7 * x));
}

// A PNG whose every column has a colour of its own.
std::string _png_columns(int w, int h) {
    ALLEGRO_BITMAP* b = al_create_bitmap(w, h);
    ALLEGRO_STATE state;
    al_store_state(&state, ALLEGRO_STATE_TARGET_BITMAP);
    al_set_target_bitmap(b);
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) al_put_pixel(x, y, _column(x));
    al_restore_state(&state);
    size_t size = 0;
    uint8_t* bytes = document_png_encode(b, &size);
    al_destroy_bitmap(b);
    std::string out((const char*)bytes, size);
    free(bytes);
    return out;
}

std::string _stack(const std::string& image_attrs, const std::string& layers) {
    return "<?xml version='1.0'?><image " + image_attrs + "><stack>" + layers + "</stack></image>";
}

class Exchange : public Gui {
  protected:
    std::string dir_;
    void SetUp() override {
        dir_ = test_make_temp_dir("exchange");
        setenv("APPDATA", dir_.c_str(), 1);
        setenv("PLUMARO_NO_NATIVE_CHOOSER", "1", 1);
        unsetenv("PLUMARO_FILE_CHOICE");
        unsetenv("PLUMARO_MAX_DOC_MB");
        ASSERT_TRUE(platform_init());
        Gui::SetUp();
    }
    void TearDown() override {
        Gui::TearDown();
        test_remove_tree(dir_);
    }
    std::string notice() { return app.ui.notify.open ? app.ui.notify.text : ""; }
    std::string save_dir() { return dir_ + "/Plumaro"; }
    /* Loads an archive that must be refused; the reason it gives. */
    std::string refused(const std::string& path, int error) {
        test_log_capture_begin(LOG_ERR);
        DOCUMENT* doc = document_load_any(path.c_str());
        test_log_capture_end();
        EXPECT_EQ(doc, nullptr) << path;
        if (doc) document_free(&doc);
        EXPECT_EQ(document_last_load_status()->error, error) << path;
        return document_last_load_status()->reason;
    }
};

}  // namespace

TEST_F(Exchange, OpenRasterKeepsEveryLayerPropertyAndEveryPremultipliedValue) {
    DOCUMENT* doc = document_new(96, 64);
    doc->template_index = 5;
    LAYER* noise = document_add_layer(doc, "Noise & <\"quotes\">");
    std::vector<uint8_t> px = test_paint_noise(noise, 7);
    LAYER* empty = document_add_layer(doc, "Empty");
    empty->blend = LAYER_BLEND_SCREEN;
    empty->opacity = 0.4f;
    empty->visible = 0;
    empty->locked = 1;
    LAYER* corner = document_add_layer(doc, "Corner");
    corner->blend = LAYER_BLEND_ADD;
    ALLEGRO_STATE state;
    al_store_state(&state, ALLEGRO_STATE_TARGET_BITMAP);
    al_set_target_bitmap(corner->backup);
    al_draw_filled_rectangle(90, 60, 96, 64, al_map_rgba(0, 60, 120, 120));
    al_restore_state(&state);
    ASSERT_EQ(layer_restore(corner), 1);
    std::string path = dir_ + "/round.ora";
    ASSERT_EQ(document_save_ora(doc, path.c_str()), 1);
    EXPECT_EQ(test_read_file(path).substr(30, 8), "mimetype") << "the first entry's name follows its header";

    DOCUMENT* back = document_load_any(path.c_str());
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(document_last_load_kind(), DOCUMENT_KIND_ORA);
    EXPECT_EQ(back->width, 96);
    EXPECT_EQ(back->height, 64);
    EXPECT_EQ(back->template_index, 5);
    ASSERT_EQ(document_layer_count(back), 3);
    EXPECT_STREQ(document_layer_at(back, 0)->name->data, "Noise & <\"quotes\">");
    LAYER* e = document_layer_at(back, 1);
    EXPECT_EQ(e->blend, LAYER_BLEND_SCREEN);
    EXPECT_NEAR(e->opacity, 0.4f, 0.001f);
    EXPECT_EQ(e->visible, 0);
    EXPECT_EQ(e->locked, 1);
    EXPECT_EQ(document_layer_at(back, 2)->blend, LAYER_BLEND_ADD);
    EXPECT_EQ(back->active_layer, document_layer_at(back, 2));
    /* Straight alpha on the way out, premultiplied again on the way in. */
    std::vector<uint8_t> got = test_bitmap_bytes(document_layer_at(back, 0)->backup);
    ASSERT_EQ(got.size(), px.size());
    int worst = 0;
    for (size_t i = 0; i < px.size(); i++) worst = std::max(worst, abs((int)got[i] - (int)px[i]));
    EXPECT_LE(worst, 1);
    for (uint8_t v : test_bitmap_bytes(e->backup)) ASSERT_EQ(v, 0) << "an empty layer stays empty";
    EXPECT_EQ(test_bitmap_bytes(document_layer_at(back, 2)->backup), test_bitmap_bytes(corner->backup));
    document_free(&back);
    document_free(&doc);
}

TEST_F(Exchange, RefusedArchivesSayWhyAndOddOnesStillOpen) {
    const std::string mime = "image/openraster";
    const std::string pixel = _png(2, 2, al_map_rgba(255, 0, 0, 255));
    std::string p = dir_ + "/a.ora";
    _write_zip(p, {{"mimetype", mime}, {"stack.xml", "<image w='4' h='4'><stack><layer src='x.png'/>"}});
    EXPECT_EQ(refused(p, DOCUMENT_LOAD_MALFORMED), "its stack.xml is not well formed");
    _write_zip(p, {{"mimetype", mime}, {"stack.xml", _stack("w='4' h='4'", "<layer src='gone.png'/>")}});
    EXPECT_EQ(refused(p, DOCUMENT_LOAD_MALFORMED), "an entry named in the stack is missing");
    _write_zip(p, {{"mimetype", mime}, {"stack.xml", _stack("w='20000' h='4'", "")}});
    EXPECT_EQ(refused(p, DOCUMENT_LOAD_MALFORMED), "its size is not from 1 to 16384");
    _write_zip(p, {{"mimetype", "image/png"}, {"stack.xml", _stack("w='4' h='4'", "")}});
    EXPECT_EQ(refused(p, DOCUMENT_LOAD_MALFORMED), "no OpenRaster mimetype comes first");
    std::string many;
    for (int i = 0; i < 1025; i++) many += "<layer src='x.png'/>";
    _write_zip(p, {{"mimetype", mime}, {"stack.xml", _stack("w='4' h='4'", many)}, {"x.png", pixel}});
    EXPECT_EQ(refused(p, DOCUMENT_LOAD_MALFORMED), "it has more than 1024 layers");
    /* A PNG whose header promises more than its data holds. */
    std::string cut = _png(64, 64, al_map_rgba(1, 2, 3, 255));
    cut.resize(cut.size() - 20);
    _write_zip(p, {{"mimetype", mime}, {"stack.xml", _stack("w='4' h='4'", "<layer src='x.png'/>")}, {"x.png", cut}});
    EXPECT_EQ(refused(p, DOCUMENT_LOAD_MALFORMED), "a layer's pixels cannot be read");
    /* A changed byte inside an entry is caught by its checksum. */
    _write_zip(p, {{"mimetype", mime}, {"stack.xml", _stack("w='4' h='4'", "<layer src='x.png'/>")},
                   {"x.png", _png(64, 64, al_map_rgba(1, 2, 3, 255))}});
    std::string bytes = test_read_file(p);
    size_t entry = bytes.find("x.png");
    ASSERT_NE(entry, std::string::npos);
    bytes[entry + 5 + 20] ^= 0x10;
    test_write_file(p, bytes);
    EXPECT_EQ(refused(p, DOCUMENT_LOAD_MALFORMED), "an entry is damaged");
    /* The drawing's own size is weighed before any layer is made. */
    setenv("PLUMARO_MAX_DOC_MB", "8", 1);
    _write_zip(p, {{"mimetype", mime}, {"stack.xml", _stack("w='4096' h='4096'", "<layer src='x.png'/>")},
                   {"x.png", pixel}});
    EXPECT_EQ(refused(p, DOCUMENT_LOAD_MEMORY), "");
    EXPECT_GT(document_last_load_status()->needed, document_last_load_status()->budget);
    unsetenv("PLUMARO_MAX_DOC_MB");

    /* Offsets far outside the canvas place nothing and break nothing; no
     * layers at all still give a drawing to paint on. */
    _write_zip(p, {{"mimetype", mime},
                   {"stack.xml", _stack("w='8' h='8'", "<layer src='x.png' x='2147483647' y='-99999999999'/>"
                                                       "<layer src='x.png' x='7' y='7' opacity='7'/>")},
                   {"x.png", pixel}});
    DOCUMENT* doc = document_load_any(p.c_str());
    ASSERT_NE(doc, nullptr);
    ASSERT_EQ(document_layer_count(doc), 2);
    for (uint8_t v : test_bitmap_bytes(document_layer_at(doc, 1)->backup)) ASSERT_EQ(v, 0);
    LAYER* last = document_layer_at(doc, 0);
    EXPECT_FLOAT_EQ(last->opacity, 1.0f);
    unsigned char px[4];
    test_pixel_rgba(last->backup, 7, 7, px);
    EXPECT_EQ(px[0], 255);
    test_pixel_rgba(last->backup, 6, 6, px);
    EXPECT_EQ(px[3], 0);
    document_free(&doc);
    _write_zip(p, {{"mimetype", mime}, {"stack.xml", _stack("w='8' h='8'", "")}});
    doc = document_load_any(p.c_str());
    ASSERT_NE(doc, nullptr);
    EXPECT_EQ(document_layer_count(doc), 1);
    document_free(&doc);
}

/* Stacks from other programs: offsets add up through nested stacks, a
 * hidden stack hides its layers (and only those), and a layer that starts
 * left of the canvas shows the columns of its image that fall on it. */
TEST_F(Exchange, NestedAndHiddenStacksPlaceAndHideTheirLayers) {
    std::string p = dir_ + "/stacks.ora";
    _write_zip(p, {{"mimetype", "image/openraster"},
                   {"stack.xml", _stack("w='40' h='30'",
                                        "<stack x='6' y='4'><stack x='3' y='2'>"
                                        "<layer src='c.png' name='Deep' x='1' y='1'/></stack></stack>"
                                        "<stack x='2' visibility='hidden'>"
                                        "<layer src='c.png' name='Tucked' y='20'/></stack>"
                                        "<layer src='c.png' name='Left' x='-3' y='25'/>")},
                   {"c.png", _png_columns(8, 4)}});
    DOCUMENT* doc = document_load_any(p.c_str());
    ASSERT_NE(doc, nullptr);
    ASSERT_EQ(document_layer_count(doc), 3);
    LAYER* left = document_layer_at(doc, 0);
    LAYER* tucked = document_layer_at(doc, 1);
    LAYER* deep = document_layer_at(doc, 2);
    EXPECT_STREQ(deep->name->data, "Deep");
    EXPECT_EQ(deep->visible, 1);
    EXPECT_EQ(tucked->visible, 0);
    EXPECT_EQ(left->visible, 1) << "the hidden stack ended before it";
    /* Column `col` of the image at canvas (x, y), or nothing there when col < 0. */
    auto expect = [](LAYER* layer, int x, int y, int col) {
        unsigned char px[4], want[4] = {0, 0, 0, 0};
        if (col >= 0) al_unmap_rgba(_column(col), &want[0], &want[1], &want[2], &want[3]);
        test_pixel_rgba(layer->backup, x, y, px);
        for (int c = 0; c < 4; c++) EXPECT_EQ(px[c], want[c]) << layer->name->data << " at " << x << "," << y;
    };
    expect(deep, 10, 7, 0); /* 6 + 3 + 1, 4 + 2 + 1 */
    expect(deep, 17, 10, 7);
    expect(deep, 9, 7, -1);
    expect(deep, 10, 6, -1);
    expect(deep, 18, 10, -1);
    expect(deep, 10, 11, -1);
    expect(tucked, 2, 20, 0);
    expect(left, 0, 25, 3);
    expect(left, 4, 28, 7);
    expect(left, 5, 25, -1);
    document_free(&doc);
}

TEST_F(Exchange, PicturesOpenAsOneLayerAndOversizedOnesAreRefused) {
    ALLEGRO_BITMAP* b = al_create_bitmap(40, 30);
    ALLEGRO_STATE state;
    al_store_state(&state, ALLEGRO_STATE_TARGET_BITMAP);
    al_set_target_bitmap(b);
    al_clear_to_color(al_map_rgb(10, 200, 30));
    al_restore_state(&state);
    for (const char* name : {"/p.bmp", "/p.tga", "/p.jpg", "/p.png"}) {
        ASSERT_TRUE(al_save_bitmap((dir_ + name).c_str(), b)) << name;
        DOCUMENT* doc = document_load_any((dir_ + name).c_str());
        ASSERT_NE(doc, nullptr) << name;
        EXPECT_EQ(document_last_load_kind(), DOCUMENT_KIND_IMAGE);
        EXPECT_EQ(doc->width, 40);
        EXPECT_EQ(doc->height, 30);
        ASSERT_EQ(document_layer_count(doc), 1);
        EXPECT_STREQ(doc->active_layer->name->data, "Layer 1");
        unsigned char px[4];
        test_pixel_rgba(doc->active_layer->backup, 20, 15, px);
        EXPECT_NEAR(px[1], 200, 3) << name;
        EXPECT_EQ(px[3], 255);
        document_free(&doc);
    }
    al_destroy_bitmap(b);
    /* A header that claims 20000 pixels is refused before anything is decoded. */
    std::string bmp = test_read_file(dir_ + "/p.bmp");
    bmp[18] = (char)0x20, bmp[19] = (char)0x4E; /* width 20000 */
    test_write_file(dir_ + "/wide.bmp", bmp);
    EXPECT_EQ(refused(dir_ + "/wide.bmp", DOCUMENT_LOAD_MALFORMED), "the image is larger than 16384 pixels on a side");
}

TEST_F(Exchange, SavesChooseTheFormatByTheName) {
    plumaro_gui_request_save(&app);
    ASSERT_EQ(app.ui.save_name.open, 1);
    t_gui_textarea_set_text(app.gui, app.ui.save_name.field, "Shared sky.ORA ");
    T_GUI_WINDOW* win = t_gui_get_window(app.gui, app.ui.save_name.window);
    int32_t save_button = -1;
    for (LIST_NODE* n = win->widgets->start; n; n = n->next) {
        T_GUI_WIDGET* wd = (T_GUI_WIDGET*)n->ptr;
        if (wd->kind == T_GUI_KIND_BUTTON && strcmp(((T_GUI_BUTTON_DATA*)wd->data)->label, "Save") == 0)
            save_button = wd->id;
    }
    ASSERT_GE(save_button, 0);
    click(save_button);
    EXPECT_EQ(test_read_file(save_dir() + "/Shared sky.ora").substr(0, 2), "PK");
    EXPECT_EQ(notice(), "Saved: Shared sky.ora");
    plumaro_gui_request_save(&app);
    t_gui_textarea_set_text(app.gui, app.ui.save_name.field, "Plain.plm");
    click(save_button);
    EXPECT_EQ(test_read_file(save_dir() + "/Plain.plm").substr(0, 4), "PLM3");
    struct stat info;
    EXPECT_NE(stat((save_dir() + "/Plainplm.plm").c_str(), &info), 0);
    /* The chooser's answer ending in ".ora" keeps its name and format. */
    unsetenv("PLUMARO_NO_NATIVE_CHOOSER");
    std::string chosen = dir_ + "/elsewhere.ora";
    setenv("PLUMARO_FILE_CHOICE", chosen.c_str(), 1);
    plumaro_gui_request_save(&app);
    unsetenv("PLUMARO_FILE_CHOICE");
    setenv("PLUMARO_NO_NATIVE_CHOOSER", "1", 1);
    EXPECT_EQ(test_read_file(chosen).substr(30, 8), "mimetype");
    EXPECT_EQ(app.doc_path, chosen);
}

TEST_F(Exchange, OpeningToldOnceAndAPictureIsNeverTheSaveTarget) {
    /* An unknown blend mode is told, and the "Loaded" notice does not cover it. */
    _write_zip(save_dir() + "/other.ora",
               {{"mimetype", "image/openraster"},
                {"stack.xml", _stack("w='32' h='16'", "<layer src='x.png' composite-op='svg:color-dodge'/>")},
                {"x.png", _png(4, 4, al_map_rgba(0, 0, 0, 255))}});
    _on_load_click(-1, &app);
    ASSERT_EQ(app.ui.open_list.used, 1);
    test_log_capture_begin(LOG_NOTICE);
    click(app.ui.open_list.rows[0]);
    std::string told = test_log_capture_end();
    EXPECT_EQ(app.doc->width, 32);
    EXPECT_NE(told.find("The blend mode svg:color-dodge is not known here; its layers were opened as Normal."),
              std::string::npos) << told;
    EXPECT_EQ(told.find("Loaded"), std::string::npos) << told;
    EXPECT_NE(notice().find("opened as Normal."), std::string::npos) << "the notice on screen ends as told";
    EXPECT_EQ(app.doc_path, save_dir() + "/other.ora");
    EXPECT_STREQ(app.ui.doc_name, "other");
    /* A broken archive keeps the drawing and names the file and the reason. */
    test_write_file(save_dir() + "/other.ora", "PK\x03\x04 broken");
    DOCUMENT* before = app.doc;
    _on_load_click(-1, &app);
    click(app.ui.open_list.rows[0]);
    EXPECT_EQ(app.doc, before);
    EXPECT_EQ(notice(), "Could not open other.ora: the archive is broken.");
    /* A picture gives its name to the drawing but never receives a save. */
    unlink((save_dir() + "/other.ora").c_str());
    test_write_file(save_dir() + "/photo.png", _png(20, 10, al_map_rgba(9, 9, 9, 255)));
    _on_load_click(-1, &app);
    click(app.ui.open_list.rows[0]);
    EXPECT_EQ(app.doc->width, 20);
    EXPECT_EQ(notice(), "Loaded: photo.png");
    EXPECT_STREQ(app.doc_path, "");
    EXPECT_STREQ(app.ui.doc_name, "photo");
    /* A drawing whose layer has a mode this version lacks opens it as Normal and says so too. */
    DOCUMENT* later = document_new(24, 12);
    document_add_layer(later, "Glow");
    std::string plm = dir_ + "/later.plm";
    ASSERT_EQ(document_save(later, plm.c_str()), 1);
    document_free(&later);
    std::string bytes = test_read_file(plm);
    bytes[32] = 9; /* the blend field, after the header, the name and the opacity */
    test_write_file(plm, bytes);
    test_log_capture_begin(LOG_NOTICE);
    ASSERT_EQ(plumaro_app_load_document(&app, plm.c_str()), 1);
    told = test_log_capture_end();
    EXPECT_EQ(app.doc->active_layer->blend, LAYER_BLEND_NORMAL);
    EXPECT_NE(told.find("The blend mode 9 is not known here; its layers were opened as Normal."), std::string::npos)
        << told;
}
