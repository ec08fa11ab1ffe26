/* Documents with real layers: save and load round trips, what loading builds,
 * PNG export of regions with its fallbacks, and a failed export keeping the
 * old file. */
#include <allegro5/allegro_image.h>
#include <allegro5/allegro_memfile.h>
#include <allegro5/allegro_primitives.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <string>
#include <vector>

#include "canvas/compositor.h"
#include "canvas/document_io.h"
#include "canvas/templates.h"
#include "t_log.h"
#include "test_support.h"

namespace {

typedef std::vector<uint8_t> Bytes;



class DocFiles : public ::testing::Test {
   protected:
    void SetUp() override {
        display = test_display();
        if (!display) GTEST_SKIP() << "no X display";
        dir = test_make_temp_dir("docfiles");
    }
    void TearDown() override {
        t_file_set_commit_hook(NULL, NULL);
        document_set_deflate(NULL);
        if (!dir.empty()) test_remove_tree(dir);
    }
    ALLEGRO_DISPLAY* display = NULL;
    std::string dir;
};

}  // namespace

TEST_F(DocFiles, SaveAndLoadRoundTrip) {
    DOCUMENT* doc = document_new(300, 170);
    ASSERT_NE(doc, nullptr);
    doc->template_index = 7;
    struct Want {
        const char* name;
        float opacity;
        int blend;
        int visible, locked;
    } want[] = {{"Paper wash", 1.0f, 0, 1, 0}, {"Ink", 0.333f, 1, 1, 1}, {"Glow", 0.0f, 3, 0, 0}, {"Sky", 0.75f, 2, 1, 1}};
    std::vector<Bytes> px;
    for (int i = 0; i < 4; i++) {
        LAYER* l = document_add_layer(doc, want[i].name);
        ASSERT_NE(l, nullptr);
        l->opacity = want[i].opacity;
        l->blend = want[i].blend;
        l->visible = (uint8_t)want[i].visible;
        l->locked = (uint8_t)want[i].locked;
        px.push_back(i == 2 ? test_bitmap_bytes(l->backup) : test_paint_noise(l, 40 + i)); /* one layer left empty */
    }
    std::string path = dir + "/round.plm";
    ASSERT_EQ(document_save(doc, path.c_str()), 1);
    document_free(&doc);

    test_log_capture_begin(LOG_INFO);
    DOCUMENT* back = document_load(path.c_str());
    std::string log = test_log_capture_end();
    ASSERT_NE(back, nullptr) << log;
    EXPECT_NE(log.find("loaded document " + path + " (300x170, 4 layers)"), std::string::npos) << log;
    EXPECT_EQ(back->width, 300);
    EXPECT_EQ(back->height, 170);
    EXPECT_EQ(back->template_index, 7);
    ASSERT_EQ(document_layer_count(back), 4);
    for (int i = 0; i < 4; i++) {
        LAYER* l = document_layer_at(back, i);
        EXPECT_STREQ(l->name->data, want[i].name);
        EXPECT_NEAR(l->opacity, want[i].opacity, 0.0005);
        EXPECT_EQ(l->blend, want[i].blend);
        EXPECT_EQ(l->visible, want[i].visible);
        EXPECT_EQ(l->locked, want[i].locked);
        EXPECT_EQ(test_bitmap_bytes(l->backup), px[i]) << "backup of layer " << i;
        ASSERT_NE(l->bitmap, nullptr);
        if (i == 2) {
            /* The empty layer is not uploaded: its picture is cleared before it is first shown. */
            EXPECT_EQ(l->needs_clear, 1);
            continue;
        }
        EXPECT_EQ(l->needs_clear, 0) << "the video bitmap already holds the pixels";
        EXPECT_EQ(test_bitmap_bytes(l->bitmap), px[i]) << "video bitmap of layer " << i;
    }
    EXPECT_EQ(back->active_layer, document_layer_at(back, 3));
    EXPECT_EQ(back->layer_counter, 4);
    LAYER* next = document_add_layer(back, NULL);
    EXPECT_STREQ(next->name->data, "Layer 5");
    EXPECT_EQ(back->undo->undo_stack->nb_items, 0u);
    document_free(&back);
}

TEST_F(DocFiles, EmptyAndBrokenFilesLoad) {
    DOCUMENT* doc = document_new(8, 8);
    std::string path = dir + "/empty.plm";
    ASSERT_EQ(document_save(doc, path.c_str()), 1);
    document_free(&doc);
    DOCUMENT* back = document_load(path.c_str());
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(document_layer_count(back), 0);
    EXPECT_EQ(back->active_layer, nullptr);
    document_free(&back);

    test_log_capture_begin(LOG_INFO);
    EXPECT_EQ(document_load((dir + "/absent.plm").c_str()), nullptr);
    std::string log = test_log_capture_end();
    EXPECT_NE(log.find("could not read " + dir + "/absent.plm"), std::string::npos) << log;

    /* A second layer cut short: the first one built is thrown away with the document. */
    doc = document_new(16, 16);
    test_paint_noise(document_add_layer(doc, "A"), 1);
    test_paint_noise(document_add_layer(doc, "B"), 2);
    ASSERT_EQ(document_save(doc, path.c_str()), 1);
    document_free(&doc);
    std::string bytes = test_read_file(path);
    test_write_file(path, bytes.substr(0, bytes.size() - 30));
    test_log_capture_begin(LOG_INFO);
    EXPECT_EQ(document_load(path.c_str()), nullptr);
    log = test_log_capture_end();
    EXPECT_NE(log.find("malformed PLM document " + path + " (offset"), std::string::npos) << log;
}

TEST_F(DocFiles, ExportRegionAsPng) {
    DOCUMENT* doc = document_new(40, 30);
    LAYER* l = document_add_layer(doc, "Red");
    al_set_target_bitmap(l->bitmap);
    al_clear_to_color(al_map_rgba(0, 0, 0, 0));
    al_draw_filled_rectangle(10, 5, 20, 15, al_map_rgba(255, 0, 0, 255));
    al_set_target_backbuffer(display);
    l->needs_clear = 0;
    std::string path = dir + "/out.png";
    char written[1024] = "stale";
    test_log_capture_begin(LOG_INFO);
    ASSERT_EQ(document_export_png_region(doc, path.c_str(), 5, 5, 20, 12, 1, written, sizeof(written)), 1);
    std::string log = test_log_capture_end();
    EXPECT_EQ(std::string(written), path);
    EXPECT_NE(log.find("exported composite to " + path), std::string::npos) << log;
    std::string png = test_read_file(path);
    ASSERT_GT(png.size(), 8u);
    EXPECT_EQ(png.substr(1, 3), "PNG");
    int flags = al_get_new_bitmap_flags();
    al_set_new_bitmap_flags(ALLEGRO_MEMORY_BITMAP);
    ALLEGRO_BITMAP* img = al_load_bitmap(path.c_str());
    al_set_new_bitmap_flags(flags);
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(al_get_bitmap_width(img), 20);
    EXPECT_EQ(al_get_bitmap_height(img), 12);
    unsigned char p[4];
    test_pixel_rgba(img, 0, 0, p); /* canvas (5, 5): white paper */
    EXPECT_EQ(p[0], 255);
    EXPECT_EQ(p[1], 255);
    test_pixel_rgba(img, 5, 0, p); /* canvas (10, 5): red */
    EXPECT_EQ(p[0], 255);
    EXPECT_EQ(p[1], 0);
    EXPECT_EQ(p[3], 255);
    test_pixel_rgba(img, 15, 11, p); /* canvas (20, 16): white again */
    EXPECT_EQ(p[1], 255);
    al_destroy_bitmap(img);

    /* The whole canvas. */
    std::string whole = dir + "/whole.png";
    ASSERT_EQ(document_export_png(doc, whole.c_str()), 1);
    al_set_new_bitmap_flags(ALLEGRO_MEMORY_BITMAP);
    img = al_load_bitmap(whole.c_str());
    al_set_new_bitmap_flags(flags);
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(al_get_bitmap_width(img), 40);
    al_destroy_bitmap(img);

    /* A region of width 0 fails and writes nothing. */
    test_log_capture_begin(LOG_INFO);
    EXPECT_EQ(document_export_png_region(doc, (dir + "/none.png").c_str(), 0, 0, 0, 5, 1, written, sizeof(written)), 0);
    log = test_log_capture_end();
    EXPECT_EQ(written[0], 0);
    EXPECT_NE(log.find("could not export " + dir + "/none.png"), std::string::npos) << log;
    EXPECT_EQ(test_read_file(dir + "/none.png"), "");
    document_free(&doc);
}

TEST_F(DocFiles, ExportFallsBackToLibraryPngThenTga) {
    DOCUMENT* doc = document_new(9, 7);
    document_add_layer(doc, "L");
    std::string path = dir + "/fallback.png";
    char written[1024];

    /* The program's own writer comes first: 0x78 0x9C zlib header, its layout. */
    test_log_capture_begin(LOG_INFO);
    ASSERT_EQ(document_export_png_region(doc, path.c_str(), 0, 0, 9, 7, 0, written, sizeof(written)), 1);
    std::string first_log = test_log_capture_end();
    EXPECT_EQ(first_log.find("encode failed"), std::string::npos) << first_log;
    EXPECT_EQ(std::string(written), path);
    EXPECT_EQ((uint8_t)test_read_file(path)[41], 0x78);
    EXPECT_EQ((uint8_t)test_read_file(path)[42], 0x9C);
    std::string png = test_read_file(path);
    ASSERT_GT(png.size(), 57u);
    uint32_t L = ((uint8_t)png[33] << 24) | ((uint8_t)png[34] << 16) | ((uint8_t)png[35] << 8) | (uint8_t)png[36];
    EXPECT_EQ(png.size(), 57u + L) << "the program's own layout";

    /* When its deflate fails, the library's saver takes over. */
    document_set_deflate([](uint8_t*, unsigned long*, const uint8_t*, unsigned long, int) { return Z_BUF_ERROR; });
    std::string by_library = dir + "/library.png";
    test_log_capture_begin(LOG_INFO);
    ASSERT_EQ(document_export_png_region(doc, by_library.c_str(), 0, 0, 9, 7, 0, written, sizeof(written)), 1);
    std::string library_log = test_log_capture_end();
    EXPECT_EQ(std::string(written), by_library);
    EXPECT_NE(library_log.find("png deflate failed (-5)"), std::string::npos) << library_log;
    EXPECT_EQ(test_read_file(by_library).substr(1, 3), "PNG");

    /* And when the library cannot either, a TGA beside it. */
    ASSERT_TRUE(al_register_bitmap_saver(".png", NULL));
    ASSERT_TRUE(al_register_bitmap_saver_f(".png", NULL));
    std::string second = dir + "/second.png";
    test_log_capture_begin(LOG_INFO);
    ASSERT_EQ(document_export_png_region(doc, second.c_str(), 0, 0, 9, 7, 0, written, sizeof(written)), 1);
    std::string log = test_log_capture_end();
    EXPECT_EQ(std::string(written), second + ".tga");
    EXPECT_NE(log.find(".png encode failed"), std::string::npos) << log;
    EXPECT_NE(log.find("png deflate failed (-5)"), std::string::npos) << log;
    EXPECT_NE(log.find("exported composite to " + second + ".tga"), std::string::npos) << log;
    EXPECT_EQ(test_read_file(second), "");
    std::string tga = test_read_file(second + ".tga");
    ASSERT_GT(tga.size(), 18u);
    EXPECT_EQ(tga[12], 9);
    EXPECT_EQ(tga[14], 7);

    /* The output path buffer is cut to its size. */
    char small[8];
    ASSERT_EQ(document_export_png_region(doc, second.c_str(), 0, 0, 9, 7, 0, small, sizeof(small)), 1);
    EXPECT_EQ(strlen(small), 7u);
    document_set_deflate(NULL);
    al_shutdown_image_addon();
    al_init_image_addon();
    document_free(&doc);
}

TEST_F(DocFiles, FailedExportAndSaveKeepTheOldFiles) {
    DOCUMENT* doc = document_new(12, 12);
    test_paint_noise(document_add_layer(doc, "L"), 3);
    std::string png = dir + "/keep.png", plm = dir + "/keep.plm";
    test_write_file(png, "old picture");
    test_write_file(plm, "old document");
    t_file_set_commit_hook([](const char*, const char*, void*) { return 0; }, NULL);
    EXPECT_EQ(document_export_png(doc, png.c_str()), 0);
    EXPECT_EQ(document_save(doc, plm.c_str()), 0);
    t_file_set_commit_hook(NULL, NULL);
    EXPECT_EQ(test_read_file(png), "old picture");
    EXPECT_EQ(test_read_file(plm), "old document");
    EXPECT_EQ(system(("test $(ls -A " + dir + " | wc -l) -eq 2").c_str()), 0) << "no temporary files left";
    ASSERT_EQ(document_save(doc, plm.c_str()), 1);
    EXPECT_NE(test_read_file(plm), "old document");
    document_free(&doc);
}

TEST_F(DocFiles, ContentScanIgnoresUncommittedStrokes) {
    DOCUMENT* doc = document_new(64, 48);
    LAYER* l = document_add_layer(doc, "L");
    /* Drawn on the video bitmap only: not committed to the backup. */
    al_set_target_bitmap(l->bitmap);
    al_clear_to_color(al_map_rgba(0, 0, 0, 0));
    al_draw_filled_rectangle(3, 3, 9, 9, al_map_rgba(0, 0, 0, 255));
    al_set_target_backbuffer(display);
    int x0, y0, x1, y1;
    EXPECT_EQ(document_content_bbox(doc, &x0, &y0, &x1, &y1), 0);
    al_destroy_bitmap(l->backup);
    int flags = al_get_new_bitmap_flags();
    al_set_new_bitmap_flags(ALLEGRO_MEMORY_BITMAP);
    l->backup = al_clone_bitmap(l->bitmap);
    al_set_new_bitmap_flags(flags);
    ASSERT_EQ(document_content_bbox(doc, &x0, &y0, &x1, &y1), 1);
    EXPECT_EQ(x0, 3);
    EXPECT_EQ(y0, 3);
    EXPECT_EQ(x1, 8);
    EXPECT_EQ(y1, 8);
    document_free(&doc);
}
