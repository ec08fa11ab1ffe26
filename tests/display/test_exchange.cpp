/* Drawings shared with other programs, in-process: an OpenRaster round trip
 * of every premultiplied value and every layer property, empty layers,
 * nested and hidden stacks with their offsets, the archives that are
 * refused and why (heavy ones at once), one picture named by many layers
 * decoded once, names that are not well-formed UTF-8 from every way in,
 * pictures opened as drawings, and the save and open flows that choose
 * the format by the name. */
#include <stdlib.h>
#include <sys/stat.h>
#include <allegro5/allegro_primitives.h>
#include <zip.h>
#include <zlib.h>

#include <string>
#include <utility>
#include <vector>

#include "app_commands.h"
#include "canvas/document_exchange.h"
#include "canvas/document_exchange_internal.h"
#include "canvas/document_io.h"
#include "gui_fixture.h"
#include "t_clipboard.h"
#include "t_log.h"
#include "t_utf8.h"

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

void _put32be(std::string& out, uint32_t v) {
    for (int i = 3; i >= 0; i--) out += (char)(uint8_t)(v >> (8 * i));
}
void _put16le(std::string& out, uint32_t v) {
    out += (char)(uint8_t)v;
    out += (char)(uint8_t)(v >> 8);
}
void _put32le(std::string& out, uint32_t v) {
    _put16le(out, v);
    _put16le(out, v >> 16);
}

// A PNG chunk with its length and checksum.
std::string _chunk(const char* type, const std::string& data) {
    std::string c;
    _put32be(c, (uint32_t)data.size());
    std::string body = std::string(type, 4) + data;
    c += body;
    _put32be(c, (uint32_t)crc32(0, (const Bytef*)body.data(), (uInt)body.size()));
    return c;
}

// A well-formed PNG header that announces w x h RGBA pixels, followed by
// almost none of them: tiny on disk, huge once decoded.
std::string _png_claiming(uint32_t w, uint32_t h) {
    std::string ihdr;
    _put32be(ihdr, w);
    _put32be(ihdr, h);
    ihdr += std::string("\x08\x06\x00\x00\x00", 5);
    uLongf n = 64;
    Bytef packed[64];
    const Bytef row[5] = {0, 0, 0, 0, 0};
    compress(packed, &n, row, sizeof(row));
    return std::string("\x89PNG\r\n\x1a\n", 8) + _chunk("IHDR", ihdr) + _chunk("IDAT", std::string((char*)packed, n)) +
           _chunk("IEND", "");
}

/* One entry of an archive written by hand: the sizes and checksum are what
 * the headers declare, whatever the data. */
struct HandEntry {
    std::string name, data;
    uint16_t method;
    uint32_t crc, size;
};

// A zip archive laid out byte by byte, so that an entry can declare more
// than any real compressor would make in a test.
std::string _zip_by_hand(const std::vector<HandEntry>& entries) {
    std::string out, central;
    for (const HandEntry& e : entries) {
        uint32_t offset = (uint32_t)out.size();
        _put32le(out, 0x04034b50);
        _put16le(out, 20), _put16le(out, 0), _put16le(out, e.method), _put16le(out, 0), _put16le(out, 0x21);
        _put32le(out, e.crc), _put32le(out, (uint32_t)e.data.size()), _put32le(out, e.size);
        _put16le(out, (uint32_t)e.name.size()), _put16le(out, 0);
        out += e.name + e.data;
        _put32le(central, 0x02014b50);
        _put16le(central, 20), _put16le(central, 20), _put16le(central, 0), _put16le(central, e.method);
        _put16le(central, 0), _put16le(central, 0x21);
        _put32le(central, e.crc), _put32le(central, (uint32_t)e.data.size()), _put32le(central, e.size);
        _put16le(central, (uint32_t)e.name.size()), _put16le(central, 0), _put16le(central, 0);
        _put16le(central, 0), _put16le(central, 0), _put32le(central, 0), _put32le(central, offset);
        central += e.name;
    }
    uint32_t at = (uint32_t)out.size();
    out += central;
    _put32le(out, 0x06054b50);
    _put16le(out, 0), _put16le(out, 0), _put16le(out, (uint32_t)entries.size()), _put16le(out, (uint32_t)entries.size());
    _put32le(out, (uint32_t)central.size()), _put32le(out, at), _put16le(out, 0);
    return out;
}

// A stored entry of the hand-made archive, its checksum right.
HandEntry _stored(const std::string& name, const std::string& data) {
    return HandEntry{name, data, 0, (uint32_t)crc32(0, (const Bytef*)data.data(), (uInt)data.size()),
                     (uint32_t)data.size()};
}

// One entry of an archive ("" when it cannot be read).
std::string _zip_entry(const std::string& path, const char* name) {
    int error = 0;
    zip_t* za = zip_open(path.c_str(), ZIP_RDONLY, &error);
    zip_stat_t st;
    zip_file_t* f = za && zip_stat(za, name, 0, &st) == 0 ? zip_fopen(za, name, 0) : NULL;
    std::string out(f ? (size_t)st.size : 0, '\0');
    if (f && zip_fread(f, &out[0], st.size) != (zip_int64_t)st.size) out.clear();
    if (f) zip_fclose(f);
    if (za) zip_close(za);
    return out;
}

#define FFFD "\xEF\xBF\xBD"
/* Names another program or a damaged disk may leave: a code point above
 * U+10FFFF, an overlong NUL, a lone continuation byte, a cut-off sequence;
 * and what each shows as. */
const char* const _bad_names[4] = {"Sky\xF4\x90\x80\x80", "Nul\xC0\x80", "Lone\x80x", "Cut\xE2\x9C"};
const char* const _shown_names[4] = {"Sky" FFFD FFFD FFFD FFFD, "Nul" FFFD FFFD, "Lone" FFFD "x", "Cut" FFFD};

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
    std::string notice() {
        plumaro_gui_update(&app); /* as the next frame does */
        return app.ui.notify.open ? app.ui.notify.text : "";
    }
    // A key character (typing, or a shortcut with Ctrl) sent as the keyboard does.
    void type(int keycode, int unichar, int modifiers = 0) {
        ALLEGRO_EVENT e = {};
        e.type = ALLEGRO_EVENT_KEY_CHAR;
        e.keyboard.keycode = keycode, e.keyboard.unichar = unichar, e.keyboard.modifiers = modifiers;
        e.any.timestamp = al_get_time();
        plumaro_app_handle_event(&app, &e);
    }
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

TEST_F(Exchange, HeavyArchivesAreRefusedBeforeAnythingIsDecoded) {
    const std::string mime = "image/openraster";
    const unsigned long decodes = document_ora_decode_count();
    /* 1024 layers naming one PNG of 16384 x 16384: a few kB that would be
     * a TiB of pictures to decode. */
    std::string layers;
    for (int i = 0; i < 1024; i++) layers += "<layer src='a.png'/>";
    std::string p = dir_ + "/many.ora";
    _write_zip(p, {{"mimetype", mime}, {"stack.xml", _stack("w='64' h='64'", layers)},
                   {"a.png", _png_claiming(16384, 16384)}});
    EXPECT_LT(test_read_file(p).size(), 4096u);
    DOCUMENT* before = app.doc;
    {
        TestWatchdog dog("refusing 1024 layers of one 16384 x 16384 picture", 1.0);
        EXPECT_EQ(plumaro_app_load_document(&app, p.c_str()), 0);
    }
    const DOCUMENT_LOAD_STATUS* status = document_last_load_status();
    EXPECT_EQ(status->error, DOCUMENT_LOAD_MEMORY);
    EXPECT_GE(status->needed, (uint64_t)1024 << 30);
    EXPECT_EQ(app.doc, before);
    EXPECT_NE(notice().find("drawing with 1024 layers (1024.0 GiB needed"), std::string::npos) << notice();

    /* A 4 MB archive whose picture declares 4 GiB: refused from the sizes
     * its directory gives, before a byte is inflated. */
    std::string stack = _stack("w='64' h='64'", "<layer src='a.png'/>");
    std::string junk(4u << 20, '\x5a');
    test_write_file(p, _zip_by_hand({_stored("mimetype", mime), _stored("stack.xml", stack),
                                     HandEntry{"a.png", junk, 8, 0x12345678u, 0xFFFFFFF0u}}));
    {
        TestWatchdog dog("refusing a 4 GiB entry packed into 4 MB", 1.0);
        EXPECT_EQ(refused(p, DOCUMENT_LOAD_MALFORMED), "an entry unpacks to far more than it holds");
    }
    /* An entry far larger than the picture its header announces. */
    std::string padded = _png(16, 16, al_map_rgba(10, 20, 30, 255));
    padded.resize(padded.size() + (17u << 20), '\x01');
    test_write_file(p, _zip_by_hand({_stored("mimetype", mime), _stored("stack.xml", stack), _stored("a.png", padded)}));
    EXPECT_EQ(refused(p, DOCUMENT_LOAD_MALFORMED), "an entry is larger than its picture could be");
    /* The same picture without the padding opens, from the same hand-made layout. */
    test_write_file(p, _zip_by_hand({_stored("mimetype", mime), _stored("stack.xml", stack),
                                     _stored("a.png", _png(16, 16, al_map_rgba(10, 20, 30, 255)))}));
    DOCUMENT* doc = document_load_any(p.c_str());
    ASSERT_NE(doc, nullptr) << document_last_load_status()->reason;
    document_free(&doc);
    EXPECT_EQ(document_ora_decode_count(), decodes + 1) << "nothing refused was decoded";
}

TEST_F(Exchange, OnePictureNamedByEightLayersIsDecodedOnceAndPlacedAtEachOffset) {
    /* A 4096 x 4096 picture of 7 x 5 tiles in many colours and partial
     * alpha (a misplaced layer shows another tile), premultiplied as the
     * writer takes it; the tiles pack small. */
    const int side = 4096;
    std::vector<uint8_t> rgba((size_t)side * side * 4);
    for (int y = 0; y < side; y++)
        for (int x = 0; x < side; x++) {
            uint8_t* px = &rgba[((size_t)y * side + x) * 4];
            int tx = x / 7, ty = y / 5;
            px[3] = (uint8_t)(64 + (tx + 3 * ty) % 192);
            px[0] = (uint8_t)((tx * 7) % px[3]), px[1] = (uint8_t)((ty * 5) % px[3]);
            px[2] = (uint8_t)((tx ^ ty) % px[3]);
        }
    size_t size = 0;
    uint8_t* png = document_png_encode_rgba(rgba.data(), side * 4, side, side, &size);
    ASSERT_NE(png, nullptr);
    const int offsets[8][2] = {{0, 0}, {-1000, -7}, {-3900, -3800}, {5, 9}, {-17, 100}, {300, -2048}, {-4000, 0}, {700, 500}};
    std::string layers;
    for (int i = 0; i < 8; i++)
        layers += "<layer src='data/big.png' name='L" + std::to_string(i) + "' x='" + std::to_string(offsets[i][0]) +
                  "' y='" + std::to_string(offsets[i][1]) + "'/>";
    std::string p = dir_ + "/shared.ora";
    test_write_file(p, _zip_by_hand({_stored("mimetype", "image/openraster"),
                                     _stored("stack.xml", _stack("w='512' h='384'",
                                                                 "<stack x='2' y='-1'>" + layers + "</stack>")),
                                     _stored("data/big.png", std::string((const char*)png, size))}));
    free(png);
    const unsigned long decodes = document_ora_decode_count();
    DOCUMENT* doc = document_load_any(p.c_str());
    ASSERT_NE(doc, nullptr) << document_last_load_status()->reason;
    EXPECT_EQ(document_ora_decode_count(), decodes + 1);
    ASSERT_EQ(document_layer_count(doc), 8);
    /* Each layer holds the picture moved by its own offset and the stack's:
     * the stack lists the top first. */
    const int probes[5][2] = {{0, 0}, {511, 383}, {100, 37}, {256, 200}, {63, 64}};
    for (int i = 0; i < 8; i++) {
        LAYER* layer = document_layer_at(doc, 7 - i);
        ASSERT_STREQ(layer->name->data, ("L" + std::to_string(i)).c_str());
        for (const auto& at : probes) {
            int sx = at[0] - offsets[i][0] - 2, sy = at[1] - offsets[i][1] + 1;
            unsigned char got[4];
            test_pixel_rgba(layer->backup, at[0], at[1], got);
            if (sx < 0 || sy < 0 || sx >= side || sy >= side) {
                EXPECT_EQ(got[3], 0) << "layer " << i << " at " << at[0] << "," << at[1];
                continue;
            }
            const uint8_t* want = &rgba[((size_t)sy * side + sx) * 4];
            EXPECT_EQ(got[3], want[3]) << "layer " << i;
            for (int c = 0; c < 3; c++)
                EXPECT_NEAR(got[c], want[c], 1) << "layer " << i << " channel " << c;
        }
    }
    document_free(&doc);
}

TEST_F(Exchange, IllFormedNamesShowAsReplacementCharactersFromEveryWayIn) {
    /* A drawing whose layers hold the bytes as another writer left them. */
    DOCUMENT* doc = document_new(24, 16);
    for (int i = 0; i < 4; i++) {
        LAYER* layer = document_add_layer(doc, NULL);
        ASSERT_EQ(layer_set_file_name(layer, _bad_names[i], strlen(_bad_names[i])), 1);
        test_paint_noise(layer, (unsigned)i + 3);
    }
    std::string first = dir_ + "/names.plm";
    ASSERT_EQ(document_save(doc, first.c_str()), 1);
    document_free(&doc);
    const std::string stored = test_read_file(first);
    for (const char* name : _bad_names) ASSERT_NE(stored.find(name), std::string::npos) << name;

    /* Opening it and drawing its layer list: the font code would never
     * step past F4 90 80 80. */
    {
        TestWatchdog dog("opening and drawing a drawing with ill-formed layer names", 20);
        ASSERT_EQ(plumaro_app_load_document(&app, first.c_str()), 1);
        plumaro_gui_sync_layers(&app);
        plumaro_gui_draw(&app);
    }
    T_GUI_LISTBOX_DATA* list = (T_GUI_LISTBOX_DATA*)t_gui_get_widget(app.gui, app.ui.panel.list)->data;
    ASSERT_EQ(list->count, 4);
    std::vector<std::string> rows;
    for (int i = 0; i < 4; i++) rows.push_back(list->items[i].text);
    for (int i = 0; i < 4; i++) {
        EXPECT_EQ(std::string(document_layer_at(app.doc, i)->name->data), _shown_names[i]);
        EXPECT_NE(rows[3 - (size_t)i].find(_shown_names[i]), std::string::npos) << rows[3 - (size_t)i];
        EXPECT_TRUE(t_utf8_valid(rows[(size_t)i].data(), rows[(size_t)i].size())) << rows[(size_t)i];
    }
    /* Saved again unrenamed it is the same file; confirming a rename with
     * the name shown changes nothing, a real rename writes the new name. */
    std::string again = dir_ + "/again.plm";
    ASSERT_EQ(document_save(app.doc, again.c_str()), 1);
    EXPECT_EQ(test_read_file(again), stored);
    EXPECT_EQ(layer_set_name(document_layer_at(app.doc, 0), _shown_names[0]), 1);
    EXPECT_EQ(layer_set_name(document_layer_at(app.doc, 1), "  Sea "), 1);
    ASSERT_EQ(document_save(app.doc, again.c_str()), 1);
    std::string renamed = test_read_file(again);
    EXPECT_NE(renamed.find(_bad_names[0]), std::string::npos);
    EXPECT_EQ(renamed.find(_bad_names[1]), std::string::npos);
    EXPECT_NE(renamed.find(std::string("\x03\0\0\0Sea", 7)), std::string::npos) << "a length of 3, then the name";

    /* OpenRaster out: well-formed XML carries the shown names. */
    std::string ora = dir_ + "/names.ora";
    ASSERT_EQ(document_save_ora(app.doc, ora.c_str()), 1);
    std::string xml = _zip_entry(ora, "stack.xml");
    ASSERT_FALSE(xml.empty());
    EXPECT_TRUE(t_utf8_valid(xml.data(), xml.size()));
    EXPECT_NE(xml.find(std::string("name=\"") + _shown_names[0] + "\""), std::string::npos) << xml;
    /* OpenRaster in: another program's bad bytes in its stack. */
    std::string layers;
    for (const char* name : _bad_names) layers += std::string("<layer src='x.png' name='") + name + "'/>";
    _write_zip(ora, {{"mimetype", "image/openraster"},
                     {"stack.xml", _stack("w='8' h='8'", layers)},
                     {"x.png", _png(3, 2, al_map_rgba(40, 0, 90, 200))}});
    {
        TestWatchdog dog("opening an archive with ill-formed layer names", 20);
        ASSERT_EQ(plumaro_app_load_document(&app, ora.c_str()), 1) << document_last_load_status()->reason;
        plumaro_gui_draw(&app);
    }
    ASSERT_EQ(document_layer_count(app.doc), 4);
    for (int i = 0; i < 4; i++)
        EXPECT_EQ(std::string(document_layer_at(app.doc, 3 - i)->name->data), _shown_names[i]) << "top first";

    /* File names from the save folder: the Load list shows them repaired and
     * opens the file under its own bytes. */
    for (const char* name : _bad_names)
        test_write_file(save_dir() + "/" + name + ".plm", stored);
    {
        TestWatchdog dog("listing and drawing ill-formed file names", 20);
        _on_load_click(-1, &app);
        plumaro_gui_draw(&app);
    }
    GUI_OPEN_LIST* open = &app.ui.open_list;
    ASSERT_EQ(open->used, 4);
    int sky = -1;
    for (int k = 0; k < 4; k++) {
        std::string shown = label(open->rows[k]);
        EXPECT_TRUE(t_utf8_valid(shown.data(), shown.size())) << shown;
        if (shown == _shown_names[0]) sky = k;
    }
    ASSERT_GE(sky, 0);
    DOCUMENT* before = app.doc;
    click(open->rows[sky]);
    EXPECT_NE(app.doc, before);
    EXPECT_EQ(notice(), std::string("Loaded: ") + _shown_names[0] + ".plm");
    /* A named file that cannot be read says so in well-formed text. */
    std::string broken = dir_ + "/" + _bad_names[3] + ".ora";
    test_write_file(broken, "PK\x03\x04 broken");
    EXPECT_EQ(plumaro_app_load_document(&app, broken.c_str()), 0);
    EXPECT_EQ(notice(), std::string("Could not open ") + _shown_names[3] + ".ora: the archive is broken.");

    /* Pasted and typed text: the rename field gets the clipboard's bad bytes
     * repaired, and a lone surrogate typed is not taken. */
    click(app.ui.panel.rename);
    int32_t field = app.ui.layer_name.field;
    ASSERT_EQ(t_clipboard_set(0, _bad_names[0]), 0);
    t_gui_set_focus(app.gui, field);
    type(ALLEGRO_KEY_A, 1, ALLEGRO_KEYMOD_CTRL);
    type(ALLEGRO_KEY_V, 22, ALLEGRO_KEYMOD_CTRL);
    type(0, 0xD800);
    type(ALLEGRO_KEY_A, 'a');
    {
        TestWatchdog dog("drawing pasted ill-formed text", 20);
        plumaro_gui_draw(&app);
    }
    EXPECT_EQ(std::string(t_gui_textarea_get_text(app.gui, field)), std::string(_shown_names[0]) + "a");
}
