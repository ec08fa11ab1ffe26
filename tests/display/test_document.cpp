/* Layers and the document's layer stack, on real video bitmaps. */
#include <gtest/gtest.h>
#include <allegro5/allegro_primitives.h>

#include "canvas/document.h"
#include "t_log.h"
#include "test_support.h"

class Layers : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_NE(test_display(), nullptr) << "no X display"; }
};

static std::string _name(const LAYER* layer) { return layer && layer->name ? layer->name->data : "(none)"; }

TEST_F(Layers, NewLayerDefaultsAndTransparentBackup) {
    LAYER* layer = layer_new("Ink", 37, 19);
    ASSERT_NE(layer, nullptr);
    EXPECT_EQ(_name(layer), "Ink");
    EXPECT_FLOAT_EQ(layer->opacity, 1.0f);
    EXPECT_EQ(layer->visible, 1);
    EXPECT_EQ(layer->locked, 0);
    EXPECT_EQ(layer->blend, 0);
    EXPECT_EQ(layer->needs_clear, 1);
    EXPECT_EQ(al_get_bitmap_flags(layer->backup) & ALLEGRO_MEMORY_BITMAP, ALLEGRO_MEMORY_BITMAP);
    EXPECT_EQ(al_get_bitmap_flags(layer->bitmap) & ALLEGRO_MEMORY_BITMAP, 0);
    EXPECT_EQ(al_get_bitmap_format(layer->bitmap), ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE);
    EXPECT_EQ(al_get_bitmap_format(layer->backup), ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE);
    ALLEGRO_LOCKED_REGION* lock = al_lock_bitmap(layer->backup, ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE, ALLEGRO_LOCK_READONLY);
    ASSERT_NE(lock, nullptr);
    int nonzero = 0;
    for (int y = 0; y < 19; y++)
        for (int x = 0; x < 37 * 4; x++) nonzero += ((uint8_t*)lock->data)[(intptr_t)y * lock->pitch + x] != 0;
    al_unlock_bitmap(layer->backup);
    EXPECT_EQ(nonzero, 0);
    /* The caller's bitmap flags survive. */
    EXPECT_EQ(al_get_new_bitmap_flags() & ALLEGRO_MEMORY_BITMAP, 0);
    layer_free(&layer);
    EXPECT_EQ(layer, nullptr);
}

TEST_F(Layers, BadSizesAndNames) {
    test_log_capture_begin(LOG_DEBUG);
    EXPECT_EQ(layer_new("x", 0, 10), nullptr);
    EXPECT_EQ(layer_new("x", 10, -1), nullptr);
    EXPECT_EQ(layer_new(NULL, 10, 10), nullptr);
    std::string log = test_log_capture_end();
    EXPECT_NE(log.find("bad layer size 0x10"), std::string::npos);
    EXPECT_NE(log.find("bad layer size 10x-1"), std::string::npos);
    EXPECT_NE(log.find("if( !(name) ) assert"), std::string::npos);

    LAYER* layer = layer_new("Base", 4, 4);
    ASSERT_NE(layer, nullptr);
    EXPECT_FALSE(layer_set_name(layer, "    "));
    EXPECT_EQ(_name(layer), "Base");
    EXPECT_FALSE(layer_set_name(layer, NULL));
    EXPECT_TRUE(layer_set_name(layer, "  two  words   "));
    EXPECT_EQ(_name(layer), "two  words");
    EXPECT_TRUE(layer_set_name(layer, "\ttab "));
    EXPECT_EQ(_name(layer), "\ttab"); /* only the space character is trimmed */
    layer_free(&layer);
    EXPECT_EQ(std::string(layer_blend_name(0)), "Normal");
    EXPECT_EQ(std::string(layer_blend_name(1)), "Multiply");
    EXPECT_EQ(std::string(layer_blend_name(2)), "Screen");
    EXPECT_EQ(std::string(layer_blend_name(3)), "Add");
    EXPECT_EQ(std::string(layer_blend_name(7)), "Normal");
    EXPECT_EQ(std::string(layer_blend_name(-1)), "Normal");
}

TEST_F(Layers, RestoreCopiesEveryRowAcrossTheUploadBands) {
    /* 1200-byte rows come in bands of 873: the second band is partial. */
    LAYER* layer = layer_new("B", 300, 1000);
    ASSERT_NE(layer, nullptr);
    ALLEGRO_LOCKED_REGION* lock = al_lock_bitmap(layer->backup, ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE, ALLEGRO_LOCK_READWRITE);
    ASSERT_NE(lock, nullptr);
    for (int y = 0; y < 1000; y++)
        for (int x = 0; x < 300; x++) {
            uint8_t* p = (uint8_t*)lock->data + (intptr_t)y * lock->pitch + x * 4;
            p[0] = (uint8_t)y, p[1] = (uint8_t)(y >> 8), p[2] = (uint8_t)x, p[3] = 255;
        }
    al_unlock_bitmap(layer->backup);
    ASSERT_TRUE(layer_restore(layer));
    ALLEGRO_LOCKED_REGION* got = al_lock_bitmap(layer->bitmap, ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE, ALLEGRO_LOCK_READONLY);
    ASSERT_NE(got, nullptr);
    int wrong = 0;
    for (int y = 0; y < 1000; y++)
        for (int x = 0; x < 300; x += 299) {
            const uint8_t* p = (const uint8_t*)got->data + (intptr_t)y * got->pitch + x * 4;
            wrong += p[0] != (uint8_t)y || p[1] != (uint8_t)(y >> 8) || p[2] != (uint8_t)x || p[3] != 255;
        }
    al_unlock_bitmap(layer->bitmap);
    EXPECT_EQ(wrong, 0);
    layer_free(&layer);
}

TEST_F(Layers, RestoreShowsTheBackupPixels) {
    LAYER* layer = layer_new("R", 16, 16);
    ASSERT_NE(layer, nullptr);
    /* Paint the backup directly, then rebuild the video bitmap from it. */
    ALLEGRO_LOCKED_REGION* lock = al_lock_bitmap(layer->backup, ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE, ALLEGRO_LOCK_READWRITE);
    ASSERT_NE(lock, nullptr);
    uint8_t* px = (uint8_t*)lock->data + 5 * lock->pitch + 7 * 4;
    px[0] = 10, px[1] = 20, px[2] = 30, px[3] = 40;
    al_unlock_bitmap(layer->backup);
    ASSERT_TRUE(layer_restore(layer));
    EXPECT_EQ(layer->needs_clear, 0);
    EXPECT_EQ(al_get_bitmap_flags(layer->bitmap) & ALLEGRO_MEMORY_BITMAP, 0);
    EXPECT_EQ(al_get_bitmap_format(layer->bitmap), ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE);
    unsigned char got[4];
    test_pixel_rgba(layer->bitmap, 7, 5, got);
    EXPECT_EQ(got[0], 10);
    EXPECT_EQ(got[1], 20);
    EXPECT_EQ(got[2], 30);
    EXPECT_EQ(got[3], 40);
    test_pixel_rgba(layer->bitmap, 0, 0, got);
    EXPECT_EQ(got[3], 0);
    /* Without a backup a blank bitmap is made and must be cleared before use. */
    al_destroy_bitmap(layer->backup);
    layer->backup = NULL;
    ASSERT_TRUE(layer_restore(layer));
    EXPECT_EQ(layer->needs_clear, 1);
    EXPECT_EQ(al_get_bitmap_width(layer->bitmap), 16);
    al_destroy_bitmap(layer->bitmap);
    layer->bitmap = NULL;
    test_log_capture_begin(LOG_ERR);
    EXPECT_FALSE(layer_restore(layer));
    EXPECT_NE(test_log_capture_end().find("layer R has neither bitmap nor backup"), std::string::npos);
    layer_free(&layer);
}

TEST_F(Layers, SettlingAnUndefinedVideoBitmapTakesTheBackup) {
    LAYER* layer = layer_new("S", 8, 8);
    ASSERT_NE(layer, nullptr);
    /* Garbage on the video side, a committed pixel on the backup side. */
    al_set_target_bitmap(layer->bitmap);
    al_clear_to_color(al_map_rgb(255, 0, 0));
    ALLEGRO_LOCKED_REGION* lock = al_lock_bitmap(layer->backup, ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE, ALLEGRO_LOCK_READWRITE);
    ASSERT_NE(lock, nullptr);
    uint8_t* px = (uint8_t*)lock->data + 2 * lock->pitch + 3 * 4;
    px[0] = 0, px[1] = 50, px[2] = 0, px[3] = 128;
    al_unlock_bitmap(layer->backup);
    ASSERT_EQ(layer->needs_clear, 1);
    al_set_target_backbuffer(test_display());
    layer_settle(layer);
    EXPECT_EQ(layer->needs_clear, 0);
    EXPECT_EQ(al_get_target_bitmap(), al_get_backbuffer(test_display())); /* the target is put back */
    unsigned char got[4];
    test_pixel_rgba(layer->bitmap, 3, 2, got);
    EXPECT_EQ(got[1], 50);
    EXPECT_EQ(got[3], 128);
    test_pixel_rgba(layer->bitmap, 0, 0, got);
    EXPECT_EQ(got[0], 0);
    EXPECT_EQ(got[3], 0);
    /* Settled once: drawing on it afterwards is kept. */
    al_set_target_bitmap(layer->bitmap);
    al_clear_to_color(al_map_rgb(0, 0, 255));
    al_set_target_backbuffer(test_display());
    layer_settle(layer);
    test_pixel_rgba(layer->bitmap, 0, 0, got);
    EXPECT_EQ(got[2], 255);
    layer_free(&layer);
}

class Stack : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(test_display(), nullptr) << "no X display";
        doc = document_new(8, 8);
        ASSERT_NE(doc, nullptr);
    }
    void TearDown() override {
        if (doc) document_free(&doc);
    }
    std::string order() const {
        std::string out;
        for (int i = 0; i < document_layer_count(doc); i++) out += (i ? "," : "") + _name(document_layer_at(doc, i));
        return out;
    }
    DOCUMENT* doc = NULL;
};

TEST_F(Stack, NewDocumentAndDefaultNames) {
    EXPECT_EQ(document_layer_count(doc), 0);
    EXPECT_EQ(doc->active_layer, nullptr);
    EXPECT_FLOAT_EQ(doc->background.r, 1.0f);
    EXPECT_FLOAT_EQ(doc->background.a, 1.0f);
    EXPECT_EQ(doc->template_index, 0);
    ASSERT_NE(doc->undo, nullptr);
    ASSERT_NE(document_add_layer(doc, "Sketch"), nullptr);
    LAYER* second = document_add_layer(doc, NULL);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(_name(second), "Layer 2"); /* the counter counts named layers too */
    EXPECT_EQ(doc->active_layer, second);
    EXPECT_EQ(order(), "Sketch,Layer 2");
    test_log_capture_begin(LOG_ERR);
    EXPECT_EQ(document_new(0, 5), nullptr);
    EXPECT_NE(test_log_capture_end().find("bad document size 0x5"), std::string::npos);
    EXPECT_EQ(document_layer_count(NULL), 0);
    EXPECT_EQ(document_layer_at(doc, 2), nullptr);
    EXPECT_EQ(document_layer_at(doc, -1), nullptr);
}

TEST_F(Stack, InsertClampsAndWorksUnderAnyDepth) {
    for (const char* n : {"A", "B", "C"}) document_add_layer(doc, n);
    LAYER* d = layer_new("D", 8, 8);
    ASSERT_TRUE(document_insert_layer(doc, d, 1));
    EXPECT_EQ(order(), "A,D,B,C");
    EXPECT_EQ(_name(doc->active_layer), "C"); /* insertion does not change the active layer */
    LAYER* e = layer_new("E", 8, 8);
    ASSERT_TRUE(document_insert_layer(doc, e, 99));
    EXPECT_EQ(order(), "A,D,B,C,E");
    LAYER* f = layer_new("F", 8, 8);
    ASSERT_TRUE(document_insert_layer(doc, f, 5));
    EXPECT_EQ(order(), "A,D,B,C,E,F");
    int index = -1;
    EXPECT_TRUE(document_layer_index(doc, d, &index));
    EXPECT_EQ(index, 1);
    LAYER* stranger = layer_new("S", 8, 8);
    EXPECT_FALSE(document_layer_index(doc, stranger, &index));

    /* 70 layers above the bottom: the new one goes under all of them. */
    DOCUMENT* deep = document_new(2, 2);
    for (int i = 0; i < 70; i++) document_add_layer(deep, NULL);
    EXPECT_TRUE(document_insert_layer(deep, stranger, 0));
    ASSERT_EQ(document_layer_count(deep), 71);
    EXPECT_EQ(document_layer_at(deep, 0), stranger);
    for (int i = 1; i <= 70; i++) EXPECT_EQ(_name(document_layer_at(deep, i)), "Layer " + std::to_string(i));
    document_free(&deep);
}

TEST_F(Stack, DetachMovesTheActiveLayer) {
    for (const char* n : {"A", "B", "C"}) document_add_layer(doc, n);
    LAYER* top = document_detach_layer(doc, 2);
    ASSERT_NE(top, nullptr);
    EXPECT_EQ(_name(doc->active_layer), "B");
    layer_free(&top);
    doc->active_layer = document_layer_at(doc, 0);
    LAYER* middle = document_detach_layer(doc, 1); /* not active: the active layer stays */
    EXPECT_EQ(_name(doc->active_layer), "A");
    layer_free(&middle);
    test_log_capture_begin(LOG_DEBUG);
    EXPECT_EQ(document_detach_layer(doc, 1), nullptr);
    EXPECT_NE(test_log_capture_end().find("if( !(detached) ) assert"), std::string::npos);
    LAYER* only = document_detach_layer(doc, 0);
    EXPECT_EQ(doc->active_layer, nullptr);
    EXPECT_EQ(document_layer_count(doc), 0);
    layer_free(&only);
}

TEST_F(Stack, MoveKeepsTheActiveLayerAndRefusesBadIndices) {
    for (const char* n : {"A", "B", "C", "D"}) document_add_layer(doc, n);
    doc->active_layer = document_layer_at(doc, 1);
    EXPECT_TRUE(document_move_layer(doc, 0, 3));
    EXPECT_EQ(order(), "B,C,D,A");
    EXPECT_EQ(_name(doc->active_layer), "B");
    EXPECT_TRUE(document_move_layer(doc, 3, 1));
    EXPECT_EQ(order(), "B,A,C,D");
    EXPECT_FALSE(document_move_layer(doc, 2, 2));
    EXPECT_FALSE(document_move_layer(doc, 4, 0));
    EXPECT_FALSE(document_move_layer(doc, 0, 4));
    EXPECT_FALSE(document_move_layer(doc, -1, 0));
    EXPECT_EQ(order(), "B,A,C,D");
}

TEST_F(Stack, RestoreAllRebuildsEveryLayer) {
    document_add_layer(doc, "A");
    document_add_layer(doc, "B");
    EXPECT_TRUE(document_restore_all(doc));
    for (int i = 0; i < 2; i++) EXPECT_EQ(document_layer_at(doc, i)->needs_clear, 0);
    /* A layer that cannot be rebuilt does not stop the others. */
    LAYER* a = document_layer_at(doc, 0);
    al_destroy_bitmap(a->bitmap);
    al_destroy_bitmap(a->backup);
    a->bitmap = a->backup = NULL;
    document_layer_at(doc, 1)->needs_clear = 1;
    test_log_capture_begin(LOG_ERR);
    EXPECT_FALSE(document_restore_all(doc));
    test_log_capture_end();
    EXPECT_EQ(document_layer_at(doc, 1)->needs_clear, 0);
    DOCUMENT* empty = document_new(3, 3);
    EXPECT_TRUE(document_restore_all(empty));
    document_free(&empty);
    EXPECT_EQ(empty, nullptr);
}
