/* Nothing the user drew is lost when memory runs short: drawings too large
 * for the memory there is are refused before anything is allocated and the
 * open one stays; an undo history that cannot store a change keeps the
 * layer's memory copy right; a revert that fails says so. Names that are
 * not well-formed UTF-8, from every way in, show U+FFFD and hang nothing. */
#include <allegro5/allegro_primitives.h>
#include <stdlib.h>
#include <zip.h>

#include "app_commands.h"
#include "canvas/brush.h"
#include "canvas/document_exchange.h"
#include "canvas/document_io.h"
#include "gui_fixture.h"
#include "t_clipboard.h"
#include "t_log.h"
#include "t_utf8.h"

namespace {

// Paints a filled square into a layer's picture, marked in the open change.
void _paint_square(DOCUMENT* doc, float x, float y, float size) {
    LAYER* layer = doc->active_layer;
    layer_settle(layer);
    ALLEGRO_BITMAP* target = al_get_target_bitmap();
    al_set_target_bitmap(layer->bitmap);
    al_draw_filled_rectangle(x, y, x + size, y + size, al_map_rgb(200, 30, 30));
    al_set_target_bitmap(target);
    undo_mark_dirty_rect(doc, x, y, x + size, y + size);
}

// 1 when the layer's picture and its memory copy hold the same bytes.
int _picture_matches_copy(LAYER* layer) {
    layer_settle(layer);
    return test_bitmap_bytes(layer->bitmap) == test_bitmap_bytes(layer->backup);
}

#define FFFD "\xEF\xBF\xBD"
/* Names another program or a damaged disk may leave: a code point above
 * U+10FFFF, an overlong NUL, a lone continuation byte, a cut-off sequence;
 * and what each shows as. */
const char* const _bad_names[4] = {"Sky\xF4\x90\x80\x80", "Nul\xC0\x80", "Lone\x80x", "Cut\xE2\x9C"};
const char* const _shown_names[4] = {"Sky" FFFD FFFD FFFD FFFD, "Nul" FFFD FFFD, "Lone" FFFD "x", "Cut" FFFD};

// An OpenRaster archive with the entries given, written by the zip library.
void _write_ora(const std::string& path, const std::string& stack, const std::string& png) {
    int error = 0;
    zip_t* za = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    ASSERT_NE(za, nullptr);
    const std::pair<const char*, const std::string*> entries[] = {
        {"mimetype", nullptr}, {"stack.xml", &stack}, {"x.png", &png}};
    static const std::string mime = "image/openraster";
    for (const auto& e : entries) {
        const std::string& bytes = e.second ? *e.second : mime;
        zip_source_t* src = zip_source_buffer(za, bytes.data(), bytes.size(), 0);
        ASSERT_GE(zip_file_add(za, e.first, src, ZIP_FL_OVERWRITE), 0);
    }
    ASSERT_EQ(zip_close(za), 0);
}

// One entry of an archive ("" when it cannot be read).
std::string _zip_entry(const std::string& path, const char* name) {
    int error = 0;
    zip_t* za = zip_open(path.c_str(), ZIP_RDONLY, &error);
    if (!za) return "";
    zip_stat_t st;
    std::string out;
    zip_file_t* f = zip_stat(za, name, 0, &st) == 0 ? zip_fopen(za, name, 0) : NULL;
    if (f) {
        out.resize((size_t)st.size);
        if (zip_fread(f, &out[0], st.size) != (zip_int64_t)st.size) out.clear();
        zip_fclose(f);
    }
    zip_close(za);
    return out;
}

class Reliability : public Gui {
  protected:
    std::string dir_;
    std::vector<std::string> notices_;
    void SetUp() override {
        dir_ = test_make_temp_dir("reliability");
        setenv("APPDATA", dir_.c_str(), 1);
        ASSERT_TRUE(platform_init());
        Gui::SetUp();
        undo_set_notice_hook([](const char* text, void* user) { ((Reliability*)user)->notices_.push_back(text); },
                             this);
    }
    void TearDown() override {
        undo_set_notice_hook(NULL, NULL);
        _undo_set_alloc_limit(0);
        unsetenv("PLUMARO_MAX_DOC_MB");
        Gui::TearDown();
        test_remove_tree(dir_);
    }
    std::string notice() { return app.ui.notify.open ? app.ui.notify.text : ""; }
    // The layer list's rows, top first.
    std::vector<std::string> layer_rows() {
        std::vector<std::string> rows;
        T_GUI_LISTBOX_DATA* d = (T_GUI_LISTBOX_DATA*)t_gui_get_widget(app.gui, app.ui.panel.list)->data;
        for (int i = 0; i < d->count; i++) rows.push_back(d->items[i].text);
        return rows;
    }
    // A key character (typing, or a shortcut with Ctrl) sent as the keyboard does.
    void type(int keycode, int unichar, int modifiers = 0) {
        ALLEGRO_EVENT e = {};
        e.type = ALLEGRO_EVENT_KEY_CHAR;
        e.keyboard.keycode = keycode;
        e.keyboard.unichar = unichar;
        e.keyboard.modifiers = modifiers;
        e.any.timestamp = al_get_time();
        plumaro_app_handle_event(&app, &e);
    }
};

}  // namespace

TEST_F(Reliability, ADrawingTooLargeForTheBudgetIsRefusedAndTheOpenOneStays) {
    DOCUMENT* big = document_new(512, 512);
    for (int i = 0; i < 3; i++) document_add_layer(big, NULL);
    std::string path = dir_ + "/big.plm";
    ASSERT_EQ(document_save(big, path.c_str()), 1);
    document_free(&big);
    /* 512 x 512 x 4 bytes x (2 x 3 layers + 4) is 10 MiB; 8 are allowed. */
    setenv("PLUMARO_MAX_DOC_MB", "8", 1);
    DOCUMENT* before = app.doc;
    ASSERT_EQ(plumaro_app_load_document(&app, path.c_str()), 0);
    EXPECT_EQ(app.doc, before);
    EXPECT_EQ(document_layer_count(app.doc), 1);
    const DOCUMENT_LOAD_STATUS* status = document_last_load_status();
    EXPECT_EQ(status->error, DOCUMENT_LOAD_MEMORY);
    EXPECT_EQ(status->needed, (uint64_t)512 * 512 * 4 * 10);
    ASSERT_EQ(app.ui.notify.open, 1);
    /* The notice keeps its end when the test font makes it too wide. */
    EXPECT_NE(std::string(app.ui.notify.text).find("512x512 drawing with 3 layers (10 MiB needed, 8 MiB available)"),
              std::string::npos)
        << app.ui.notify.text;
    /* With room it opens. */
    setenv("PLUMARO_MAX_DOC_MB", "12", 1);
    EXPECT_EQ(plumaro_app_load_document(&app, path.c_str()), 1);
    EXPECT_EQ(document_layer_count(app.doc), 3);
}

TEST_F(Reliability, NewCanvasesAndLayersWaitForTheMemoryTheyNeed) {
    /* A new layer on the 256 x 256 drawing would need (2 x 2 + 4) x 256 KiB = 2 MiB. */
    setenv("PLUMARO_MAX_DOC_MB", "1", 1);
    click(app.ui.panel.add);
    EXPECT_EQ(document_layer_count(app.doc), 1);
    EXPECT_NE(std::string(app.ui.notify.text).find("256x256 drawing with 2 layers"), std::string::npos)
        << app.ui.notify.text;
    /* A new canvas shrinks to what fits: 1 MiB holds 6 x 4 x 128 x 128 bytes, not 256 x 256. */
    setenv("PLUMARO_MAX_DOC_MB", "1", 1);
    ASSERT_EQ(_app_new_document_within(&app, 1024, 0), 1);
    EXPECT_EQ(app.doc->width, 128);
}

TEST_F(Reliability, ACommitShortOfMemoryDropsTheOldestStepsFirst) {
    DOCUMENT* doc = app.doc;
    for (int i = 0; i < 3; i++) {
        ASSERT_EQ(undo_begin(doc), 1);
        _paint_square(doc, 10.0f + 20.0f * i, 10, 10);
        ASSERT_EQ(_undo_commit(doc, NULL, 0, 0), 1);
    }
    ASSERT_EQ(doc->undo->undo_stack->nb_items, 3u);
    /* Room for the history held now and little more: the next change must
     * make room by dropping older steps. */
    _undo_set_alloc_limit(undo_bytes(doc) + 64 * 1024);
    ASSERT_EQ(undo_begin(doc), 1);
    _paint_square(doc, 100, 100, 20);
    EXPECT_EQ(_undo_commit(doc, NULL, 0, 0), 1);
    EXPECT_LT(doc->undo->undo_stack->nb_items, 4u);
    EXPECT_GE(doc->undo->undo_stack->nb_items, 1u);
    ASSERT_FALSE(notices_.empty());
    EXPECT_EQ(notices_.back(), "Memory is low: the oldest undo steps were dropped.");
    EXPECT_TRUE(_picture_matches_copy(doc->active_layer));
    /* The newest change is still undone exactly. */
    ASSERT_EQ(undo_perform(doc), 1);
    unsigned char px[4];
    test_pixel_rgba(doc->active_layer->backup, 110, 110, px);
    EXPECT_EQ(px[3], 0);
}

TEST_F(Reliability, ACommitThatCannotStoreItsTilesKeepsTheCopyAndClearsTheHistory) {
    DOCUMENT* doc = app.doc;
    ASSERT_EQ(undo_begin(doc), 1);
    _paint_square(doc, 10, 10, 10);
    ASSERT_EQ(_undo_commit(doc, NULL, 0, 0), 1);
    _undo_set_alloc_limit(1); /* nothing can be had */
    ASSERT_EQ(undo_begin(doc), 1);
    _paint_square(doc, 40, 40, 30);
    EXPECT_EQ(_undo_commit(doc, NULL, 0, 0), 0);
    EXPECT_EQ(doc->undo->open, 0);
    EXPECT_EQ(doc->undo->undo_stack->nb_items, 0u) << "the old steps no longer lead back";
    EXPECT_TRUE(_picture_matches_copy(doc->active_layer)) << "the copy follows the picture all the same";
    unsigned char px[4];
    test_pixel_rgba(doc->active_layer->backup, 50, 50, px);
    EXPECT_EQ(px[3], 255);
    ASSERT_FALSE(notices_.empty());
    EXPECT_EQ(notices_.back(), "Memory is low: this change cannot be undone and the undo history was cleared.");
    /* After a display loss the picture comes back from the copy, painted square included. */
    ASSERT_EQ(layer_restore(doc->active_layer), 1);
    test_pixel_rgba(doc->active_layer->bitmap, 50, 50, px);
    EXPECT_EQ(px[3], 255);
}

TEST_F(Reliability, ARevertThatFailsIsReportedAndThePictureFollowsTheCopy) {
    BRUSH brush;
    brush_defaults(&brush);
    BRUSH_STROKE stroke = {};
    brush.eraser = 1; /* an eraser stroke changes the layer at once */
    ASSERT_EQ(undo_begin(app.doc), 1);
    _paint_square(app.doc, 20, 20, 40);
    ASSERT_EQ(_undo_commit(app.doc, NULL, 0, 0), 1);
    ASSERT_EQ(brush_stroke_begin(&stroke, app.doc, &brush, 40, 40, 1.0f, NULL), 1);
    _undo_set_alloc_limit(1);
    EXPECT_EQ(brush_stroke_abort(&stroke, app.doc), 0) << "a failed revert is not an abort";
    EXPECT_EQ(app.doc->undo->open, 0);
    EXPECT_EQ(app.doc->active_layer->needs_clear, 1);
    EXPECT_TRUE(_picture_matches_copy(app.doc->active_layer));
    unsigned char px[4];
    test_pixel_rgba(app.doc->active_layer->bitmap, 40, 40, px);
    EXPECT_EQ(px[3], 255) << "the erased spot is back";
}

TEST_F(Reliability, IllFormedNamesShowAsReplacementCharactersFromEveryWayIn) {
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
    std::vector<std::string> rows = layer_rows();
    ASSERT_EQ(rows.size(), 4u);
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
    _write_ora(ora, "<?xml version='1.0' encoding='UTF-8'?><image w='8' h='8'><stack>" + layers + "</stack></image>",
               _zip_entry(dir_ + "/names.ora", "data/layer000.png"));
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
        test_write_file(dir_ + "/Plumaro/" + name + ".plm", stored);
    {
        TestWatchdog dog("listing and drawing ill-formed file names", 20);
        _on_load_click(-1, &app);
        plumaro_gui_draw(&app);
    }
    GUI_OPEN_LIST* list = &app.ui.open_list;
    ASSERT_EQ(list->used, 4);
    int sky = -1;
    for (int k = 0; k < 4; k++) {
        std::string shown = label(list->rows[k]);
        EXPECT_TRUE(t_utf8_valid(shown.data(), shown.size())) << shown;
        if (shown == _shown_names[0]) sky = k;
    }
    ASSERT_GE(sky, 0);
    DOCUMENT* before = app.doc;
    click(list->rows[sky]);
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
