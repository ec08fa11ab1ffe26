/* Undo history on real layers: tile marking, commits, undo and redo of
 * strokes and layer-stack changes, revert, and the memory budget. */
#include <allegro5/allegro.h>
#include <allegro5/allegro_primitives.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <math.h>
#include <string.h>

#include <vector>

#include "canvas/document.h"
#include "canvas/layer.h"
#include "canvas/undo.h"
#include "test_support.h"
#include "t_log.h"

namespace {

// Whole bitmap as packed RGBA rows.
std::vector<uint8_t> snapshot(ALLEGRO_BITMAP* bitmap) {
    int w = al_get_bitmap_width(bitmap), h = al_get_bitmap_height(bitmap);
    std::vector<uint8_t> out((size_t)w * h * 4);
    ALLEGRO_LOCKED_REGION* lock = al_lock_bitmap(bitmap, ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE, ALLEGRO_LOCK_READONLY);
    if (!lock) return std::vector<uint8_t>();
    for (int y = 0; y < h; y++)
        memcpy(&out[(size_t)y * w * 4], (uint8_t*)lock->data + (intptr_t)y * lock->pitch, (size_t)w * 4);
    al_unlock_bitmap(bitmap);
    return out;
}

// Clears a layer's video bitmap to transparent, as the compositor would.
void clear_layer(LAYER* layer) {
    ALLEGRO_BITMAP* old = al_get_target_bitmap();
    al_set_target_bitmap(layer->bitmap);
    al_clear_to_color(al_map_rgba(0, 0, 0, 0));
    al_set_target_bitmap(old);
    layer->needs_clear = 0;
}

// One brush-like stroke: a filled circle drawn on the active layer and committed.
int stroke(DOCUMENT* doc, float x, float y, float r, ALLEGRO_COLOR colour) {
    if (!undo_begin(doc)) return 0;
    ALLEGRO_BITMAP* old = al_get_target_bitmap();
    al_set_target_bitmap(doc->active_layer->bitmap);
    al_draw_filled_circle(x, y, r, colour);
    al_set_target_bitmap(old);
    undo_mark_dirty(doc, x, y, r + 1);
    return _undo_commit(doc, NULL, 0, 0);
}

// Marked tiles of the open change as (column, row) pairs.
std::vector<std::pair<int, int>> marked(const DOCUMENT* doc) {
    std::vector<std::pair<int, int>> out;
    for (int r = 0; r < doc->undo->tiles_y; r++)
        for (int c = 0; c < doc->undo->tiles_x; c++)
            if (doc->undo->dirty[r * doc->undo->tiles_x + c]) out.push_back({c, r});
    return out;
}

UNDO_RECORD* newest(const DOCUMENT* doc) {
    return doc->undo->undo_stack->end ? (UNDO_RECORD*)doc->undo->undo_stack->end->ptr : NULL;
}

class UndoTest : public ::testing::Test {
protected:
    DOCUMENT* doc = NULL;
    void SetUp() override {
        if (!test_display()) GTEST_SKIP() << "no display";
    }
    void TearDown() override {
        if (doc) document_free(&doc);
        unsetenv("PLUMARO_UNDO_MB");
    }
    void make(int w, int h, int layers = 1) {
        doc = document_new(w, h);
        ASSERT_NE(doc, nullptr);
        for (int i = 0; i < layers; i++) {
            LAYER* layer = document_add_layer(doc, NULL);
            ASSERT_NE(layer, nullptr);
            clear_layer(layer);
        }
    }
};

TEST_F(UndoTest, MarkingCoversTheTilesADabOrRectangleTouches) {
    make(600, 600);
    EXPECT_EQ(doc->undo->tiles_x, 3);
    EXPECT_EQ(doc->undo->tiles_y, 3);
    undo_mark_dirty(doc, 100, 100, 5); /* closed: ignored */
    ASSERT_EQ(undo_begin(doc), 1);
    EXPECT_TRUE(marked(doc).empty());

    undo_mark_dirty(doc, 250, 10, 10);
    std::vector<std::pair<int, int>> want = {{0, 0}, {1, 0}};
    EXPECT_EQ(marked(doc), want);
    undo_abort(doc);

    ASSERT_EQ(undo_begin(doc), 1);
    EXPECT_TRUE(marked(doc).empty()) << "begin zeroes the map";
    undo_mark_dirty(doc, -50, -50, 10);
    EXPECT_TRUE(marked(doc).empty());
    undo_mark_dirty(doc, 5000, 5000, 10); /* past the far edge */
    EXPECT_TRUE(marked(doc).empty());
    undo_mark_dirty_rect(doc, 255, 255, 256, 256);
    want = {{0, 0}, {1, 0}, {0, 1}, {1, 1}};
    EXPECT_EQ(marked(doc), want);
    undo_abort(doc);

    ASSERT_EQ(undo_begin(doc), 1);
    undo_mark_dirty_rect(doc, -1000, 520, 1e30f, 1e30f); /* clamped to the last row */
    want = {{0, 2}, {1, 2}, {2, 2}};
    EXPECT_EQ(marked(doc), want);
    undo_mark_dirty_rect(doc, 520, 10, 300, 20); /* inverted: empty */
    undo_mark_dirty(doc, NAN, 10, 5);
    EXPECT_EQ(marked(doc), want);
    undo_abort(doc);
    EXPECT_EQ(doc->undo->open, 0);
}

TEST_F(UndoTest, EdgeTilesOfA300PixelDocumentAre44PixelsWide) {
    make(300, 300);
    ASSERT_EQ(undo_begin(doc), 1);
    ALLEGRO_BITMAP* old = al_get_target_bitmap();
    al_set_target_bitmap(doc->active_layer->bitmap);
    al_draw_filled_rectangle(250, 250, 300, 300, al_map_rgb(255, 0, 0));
    al_set_target_bitmap(old);
    undo_mark_dirty_rect(doc, 250, 250, 299, 299);
    ASSERT_EQ(_undo_commit(doc, NULL, 0, 0), 1);
    UNDO_RECORD* record = newest(doc);
    ASSERT_NE(record, nullptr);
    ASSERT_EQ(record->tiles->nb_items, 4u);
    UNDO_TILE* last = (UNDO_TILE*)record->tiles->end->ptr;
    EXPECT_EQ(last->x, 256);
    EXPECT_EQ(last->y, 256);
    EXPECT_EQ(last->w, 44);
    EXPECT_EQ(last->h, 44);
    UNDO_TILE* first = (UNDO_TILE*)record->tiles->start->ptr;
    EXPECT_EQ(first->w, 256);
    EXPECT_EQ(first->h, 256);
    EXPECT_EQ(undo_bytes(doc), (size_t)(256 * 256 + 256 * 44 * 2 + 44 * 44) * 4);

    unsigned char px[4];
    test_pixel_rgba(doc->active_layer->backup, 299, 299, px);
    EXPECT_EQ(px[0], 255) << "commit brings the backup up to date";
    ASSERT_EQ(undo_perform(doc), 1);
    test_pixel_rgba(doc->active_layer->bitmap, 299, 299, px);
    EXPECT_EQ(px[3], 0);
    test_pixel_rgba(doc->active_layer->backup, 299, 299, px);
    EXPECT_EQ(px[3], 0);
}

TEST_F(UndoTest, CommitWithoutDirtyTilesPushesNothing) {
    make(256, 256);
    EXPECT_EQ(_undo_commit(doc, NULL, 0, 0), 0) << "nothing open";
    ASSERT_EQ(undo_begin(doc), 1);
    undo_mark_dirty(doc, -50, -50, 10);
    EXPECT_EQ(_undo_commit(doc, NULL, 0, 0), 1);
    EXPECT_EQ(doc->undo->open, 0);
    EXPECT_EQ(doc->undo->undo_stack->nb_items, 0u);
    EXPECT_EQ(undo_perform(doc), 0) << "empty stack";
    EXPECT_EQ(redo_perform(doc), 0);
    EXPECT_EQ(undo_bytes(doc), 0u);
}

TEST_F(UndoTest, OnlyTheLastThirtyOfThirtyOneStrokesCanBeUndone) {
    make(512, 256);
    std::vector<std::vector<uint8_t>> states;
    states.push_back(snapshot(doc->active_layer->bitmap));
    for (int i = 0; i < 31; i++) {
        ASSERT_EQ(stroke(doc, 20.0f + i * 15.0f, 128, 30, al_map_rgb(i * 8, 255 - i * 8, 100)), 1);
        states.push_back(snapshot(doc->active_layer->bitmap));
    }
    EXPECT_EQ(doc->undo->undo_stack->nb_items, 30u);
    for (int i = 0; i < 30; i++) ASSERT_EQ(undo_perform(doc), 1) << i;
    EXPECT_EQ(undo_perform(doc), 0);
    EXPECT_TRUE(snapshot(doc->active_layer->bitmap) == states[1]) << "the first stroke stays";
    EXPECT_TRUE(snapshot(doc->active_layer->backup) == states[1]);
    for (int i = 0; i < 30; i++) ASSERT_EQ(redo_perform(doc), 1) << i;
    EXPECT_EQ(redo_perform(doc), 0);
    EXPECT_TRUE(snapshot(doc->active_layer->bitmap) == states[31]);
}

TEST_F(UndoTest, UndoRedoUndoRestoresTheSamePixels) {
    make(600, 300);
    ASSERT_EQ(stroke(doc, 200, 150, 80, al_map_rgba(0, 0, 200, 200)), 1);
    std::vector<uint8_t> a = snapshot(doc->active_layer->bitmap);
    ASSERT_EQ(stroke(doc, 260, 150, 80, al_map_rgba(200, 50, 0, 128)), 1);
    std::vector<uint8_t> b = snapshot(doc->active_layer->bitmap);
    ASSERT_FALSE(a == b);
    UNDO_RECORD* record = newest(doc);
    ASSERT_NE(record, nullptr);
    for (LIST_NODE* n = record->tiles->start; n; n = n->next) EXPECT_EQ(((UNDO_TILE*)n->ptr)->after, nullptr);
    size_t held = undo_bytes(doc);

    ASSERT_EQ(undo_perform(doc), 1);
    EXPECT_TRUE(snapshot(doc->active_layer->bitmap) == a);
    for (LIST_NODE* n = record->tiles->start; n; n = n->next) EXPECT_NE(((UNDO_TILE*)n->ptr)->after, nullptr);
    size_t own = 0;
    for (LIST_NODE* n = record->tiles->start; n; n = n->next)
        own += (size_t)((UNDO_TILE*)n->ptr)->w * ((UNDO_TILE*)n->ptr)->h * 4;
    EXPECT_EQ(undo_bytes(doc), held + own) << "after pixels add as much as the record's before pixels";
    ASSERT_EQ(redo_perform(doc), 1);
    EXPECT_TRUE(snapshot(doc->active_layer->bitmap) == b);
    EXPECT_TRUE(snapshot(doc->active_layer->backup) == b);
    ASSERT_EQ(undo_perform(doc), 1);
    EXPECT_TRUE(snapshot(doc->active_layer->bitmap) == a);
    EXPECT_TRUE(snapshot(doc->active_layer->backup) == a);
}

TEST_F(UndoTest, AfterPixelsCountTowardsTheHeldBytes) {
    make(512, 256);
    ASSERT_EQ(stroke(doc, 100, 100, 10, al_map_rgb(255, 0, 0)), 1); /* one tile */
    ASSERT_EQ(stroke(doc, 300, 100, 10, al_map_rgb(0, 255, 0)), 1); /* one tile */
    const size_t tile = 256 * 256 * 4;
    EXPECT_EQ(undo_bytes(doc), 2 * tile);
    ASSERT_EQ(undo_perform(doc), 1);
    EXPECT_EQ(undo_bytes(doc), 3 * tile);
    ASSERT_EQ(redo_perform(doc), 1);
    ASSERT_EQ(undo_perform(doc), 1);
    EXPECT_EQ(undo_bytes(doc), 3 * tile) << "after pixels are captured once";
    ASSERT_EQ(stroke(doc, 100, 100, 10, al_map_rgb(0, 0, 255)), 1);
    EXPECT_EQ(undo_bytes(doc), 2 * tile) << "the cleared redo record gives its bytes back";
}

TEST_F(UndoTest, ANewStrokeAfterUndoClearsRedo) {
    make(256, 256);
    ASSERT_EQ(stroke(doc, 50, 50, 20, al_map_rgb(255, 0, 0)), 1);
    ASSERT_EQ(stroke(doc, 150, 150, 20, al_map_rgb(0, 255, 0)), 1);
    ASSERT_EQ(undo_perform(doc), 1);
    EXPECT_EQ(doc->undo->redo_stack->nb_items, 1u);
    ASSERT_EQ(stroke(doc, 100, 200, 20, al_map_rgb(0, 0, 255)), 1);
    EXPECT_EQ(doc->undo->redo_stack->nb_items, 0u);
    EXPECT_EQ(redo_perform(doc), 0);
    unsigned char px[4];
    test_pixel_rgba(doc->active_layer->bitmap, 150, 150, px);
    EXPECT_EQ(px[3], 0) << "the undone stroke stays undone";
}

TEST_F(UndoTest, UndoAndRedoAreRefusedWhileAChangeIsOpen) {
    make(256, 256);
    ASSERT_EQ(stroke(doc, 50, 50, 20, al_map_rgb(255, 0, 0)), 1);
    std::vector<uint8_t> painted = snapshot(doc->active_layer->bitmap);
    ASSERT_EQ(undo_begin(doc), 1);
    EXPECT_EQ(undo_begin(doc), 0);
    EXPECT_EQ(undo_perform(doc), 0);
    EXPECT_EQ(doc->undo->undo_stack->nb_items, 1u);
    EXPECT_TRUE(snapshot(doc->active_layer->bitmap) == painted);
    undo_abort(doc);
    ASSERT_EQ(undo_perform(doc), 1);
    ASSERT_EQ(undo_begin(doc), 1);
    EXPECT_EQ(redo_perform(doc), 0);
    EXPECT_EQ(doc->undo->redo_stack->nb_items, 1u);
    undo_abort(doc);
    EXPECT_EQ(redo_perform(doc), 1);
}

TEST_F(UndoTest, UndoBeginNeedsAnActiveLayer) {
    doc = document_new(64, 64);
    ASSERT_NE(doc, nullptr);
    EXPECT_EQ(undo_begin(doc), 0);
    EXPECT_EQ(doc->undo->open, 0);
    EXPECT_EQ(undo_begin(NULL), 0);
}

TEST_F(UndoTest, RevertPutsTheBackupBackAndRecordsNothing) {
    make(512, 512);
    ASSERT_EQ(stroke(doc, 100, 100, 40, al_map_rgb(255, 0, 0)), 1);
    std::vector<uint8_t> committed = snapshot(doc->active_layer->bitmap);
    ASSERT_EQ(undo_begin(doc), 1);
    ALLEGRO_BITMAP* old = al_get_target_bitmap();
    al_set_target_bitmap(doc->active_layer->bitmap);
    al_draw_filled_rectangle(80, 80, 400, 400, al_map_rgb(0, 0, 255));
    al_set_target_bitmap(old);
    undo_mark_dirty_rect(doc, 80, 80, 400, 400);
    EXPECT_FALSE(snapshot(doc->active_layer->bitmap) == committed);
    undo_revert(doc);
    EXPECT_EQ(doc->undo->open, 0);
    EXPECT_TRUE(marked(doc).empty());
    EXPECT_TRUE(snapshot(doc->active_layer->bitmap) == committed);
    EXPECT_EQ(doc->undo->undo_stack->nb_items, 1u);
    ASSERT_EQ(undo_perform(doc), 1);
    unsigned char px[4];
    test_pixel_rgba(doc->active_layer->bitmap, 100, 100, px);
    EXPECT_EQ(px[3], 0);
}

TEST_F(UndoTest, AbortLeavesPixelsAlone) {
    make(256, 256);
    ASSERT_EQ(undo_begin(doc), 1);
    ALLEGRO_BITMAP* old = al_get_target_bitmap();
    al_set_target_bitmap(doc->active_layer->bitmap);
    al_draw_filled_rectangle(0, 0, 10, 10, al_map_rgb(0, 255, 0));
    al_set_target_bitmap(old);
    undo_mark_dirty_rect(doc, 0, 0, 10, 10);
    undo_abort(doc);
    EXPECT_EQ(doc->undo->open, 0);
    EXPECT_TRUE(marked(doc).empty());
    unsigned char px[4];
    test_pixel_rgba(doc->active_layer->bitmap, 5, 5, px);
    EXPECT_EQ(px[1], 255);
    test_pixel_rgba(doc->active_layer->backup, 5, 5, px);
    EXPECT_EQ(px[3], 0);
    EXPECT_EQ(doc->undo->undo_stack->nb_items, 0u);
}

TEST_F(UndoTest, CommitTakesTheGivenPixelArrayForMarkedTilesOnly) {
    make(512, 256);
    std::vector<uint8_t> fill((size_t)512 * 256 * 4);
    for (size_t i = 0; i < fill.size(); i += 4) {
        size_t p = i / 4;
        fill[i] = (uint8_t)(p % 512);
        fill[i + 1] = (uint8_t)(p / 512);
        fill[i + 2] = 7;
        fill[i + 3] = 255;
    }
    ASSERT_EQ(undo_begin(doc), 1);
    undo_mark_dirty_rect(doc, 300, 10, 310, 20); /* tile (1, 0) only */
    ASSERT_EQ(_undo_commit(doc, fill.data(), 512, 256), 1);
    unsigned char px[4];
    test_pixel_rgba(doc->active_layer->backup, 400, 100, px);
    EXPECT_EQ(px[0], (uint8_t)(400 % 512));
    EXPECT_EQ(px[1], 100);
    EXPECT_EQ(px[2], 7);
    EXPECT_EQ(px[3], 255);
    test_pixel_rgba(doc->active_layer->backup, 100, 100, px);
    EXPECT_EQ(px[3], 0) << "unmarked tile untouched";
    test_pixel_rgba(doc->active_layer->bitmap, 400, 100, px);
    EXPECT_EQ(px[3], 0) << "the caller owns the video bitmap";

    /* The fill's own code writes the video bitmap; undo restores both. */
    ALLEGRO_BITMAP* old = al_get_target_bitmap();
    al_set_target_bitmap(doc->active_layer->bitmap);
    al_draw_filled_rectangle(256, 0, 512, 256, al_map_rgb(9, 9, 9));
    al_set_target_bitmap(old);
    ASSERT_EQ(undo_perform(doc), 1);
    test_pixel_rgba(doc->active_layer->backup, 400, 100, px);
    EXPECT_EQ(px[3], 0);
    ASSERT_EQ(redo_perform(doc), 1);
    test_pixel_rgba(doc->active_layer->backup, 400, 100, px);
    EXPECT_EQ(px[0], 9) << "redo gives what the video bitmap held at the first undo";

    /* A pixel array of another size is ignored: the video bitmap is read. */
    ASSERT_EQ(undo_begin(doc), 1);
    al_set_target_bitmap(doc->active_layer->bitmap);
    al_draw_filled_rectangle(0, 0, 256, 256, al_map_rgb(0, 0, 99));
    al_set_target_bitmap(old);
    undo_mark_dirty_rect(doc, 0, 0, 10, 10);
    test_log_capture_begin(LOG_DEBUG);
    EXPECT_EQ(_undo_commit(doc, fill.data(), 256, 256), 1);
    std::string log = test_log_capture_end();
    EXPECT_NE(log.find("does not match"), std::string::npos) << log;
    test_pixel_rgba(doc->active_layer->backup, 100, 100, px);
    EXPECT_EQ(px[2], 99);
}

TEST_F(UndoTest, LayerDeletionUndoesToItsIndexAndRedoes) {
    make(256, 256, 3);
    LAYER* middle = document_layer_at(doc, 1);
    doc->active_layer = middle;
    ASSERT_EQ(stroke(doc, 128, 128, 50, al_map_rgb(0, 128, 255)), 1);
    std::vector<uint8_t> painted = snapshot(middle->backup);
    ASSERT_EQ(document_detach_layer(doc, 1), middle);
    ASSERT_EQ(undo_record_layer_remove(doc, middle, 1), 1);
    EXPECT_EQ(newest(doc)->owns_layer, 1);
    EXPECT_EQ(document_layer_count(doc), 2);
    doc->active_layer = document_layer_at(doc, 0);

    ASSERT_EQ(undo_perform(doc), 1);
    EXPECT_EQ(document_layer_count(doc), 3);
    EXPECT_EQ(document_layer_at(doc, 1), middle);
    EXPECT_EQ(doc->active_layer, middle);
    EXPECT_TRUE(snapshot(middle->bitmap) == painted);
    EXPECT_TRUE(snapshot(middle->backup) == painted);
    UNDO_RECORD* record = (UNDO_RECORD*)doc->undo->redo_stack->end->ptr;
    EXPECT_EQ(record->owns_layer, 0);

    ASSERT_EQ(redo_perform(doc), 1);
    EXPECT_EQ(document_layer_count(doc), 2);
    int index = -1;
    EXPECT_EQ(document_layer_index(doc, middle, &index), 0);
    EXPECT_EQ(newest(doc)->owns_layer, 1);
    EXPECT_NE(doc->active_layer, middle);
    EXPECT_TRUE(doc->active_layer == document_layer_at(doc, 0) || doc->active_layer == document_layer_at(doc, 1));

    /* Undo the removal, then the stroke on the restored layer. */
    ASSERT_EQ(undo_perform(doc), 1);
    ASSERT_EQ(undo_perform(doc), 1);
    unsigned char px[4];
    test_pixel_rgba(middle->bitmap, 128, 128, px);
    EXPECT_EQ(px[3], 0);
}

TEST_F(UndoTest, LayerAdditionUndoesAndRedoes) {
    make(128, 128, 2);
    LAYER* added = document_add_layer(doc, "Extra");
    ASSERT_NE(added, nullptr);
    clear_layer(added);
    ASSERT_EQ(undo_record_layer_add(doc, added, 2), 1);
    EXPECT_EQ(undo_bytes(doc), 0u);

    ASSERT_EQ(undo_perform(doc), 1);
    EXPECT_EQ(document_layer_count(doc), 2);
    EXPECT_EQ(doc->active_layer, document_layer_at(doc, 1)) << "the top layer becomes active";
    UNDO_RECORD* record = (UNDO_RECORD*)doc->undo->redo_stack->end->ptr;
    EXPECT_EQ(record->owns_layer, 1);
    EXPECT_EQ(record->index, 2u);
    EXPECT_EQ(undo_bytes(doc), (size_t)128 * 128 * 4 * 2) << "a layer held out of the stack counts";

    ASSERT_EQ(redo_perform(doc), 1);
    EXPECT_EQ(document_layer_count(doc), 3);
    EXPECT_EQ(document_layer_at(doc, 2), added);
    EXPECT_EQ(doc->active_layer, added);
    EXPECT_EQ(undo_bytes(doc), 0u);

    /* Undone again then dropped by a new action: the record frees the layer. */
    ASSERT_EQ(undo_perform(doc), 1);
    ASSERT_EQ(undo_record_layer_move(doc, 0, 1), 1);
    EXPECT_EQ(doc->undo->redo_stack->nb_items, 0u);
    EXPECT_EQ(undo_bytes(doc), 0u);
}

TEST_F(UndoTest, LayerMoveUndoesAndRedoes) {
    make(64, 64, 3);
    LAYER* l0 = document_layer_at(doc, 0);
    LAYER* l1 = document_layer_at(doc, 1);
    LAYER* l2 = document_layer_at(doc, 2);
    ASSERT_EQ(document_move_layer(doc, 0, 2), 1);
    ASSERT_EQ(undo_record_layer_move(doc, 0, 2), 1);
    ASSERT_EQ(undo_perform(doc), 1);
    EXPECT_EQ(document_layer_at(doc, 0), l0);
    EXPECT_EQ(document_layer_at(doc, 1), l1);
    EXPECT_EQ(document_layer_at(doc, 2), l2);
    ASSERT_EQ(redo_perform(doc), 1);
    EXPECT_EQ(document_layer_at(doc, 0), l1);
    EXPECT_EQ(document_layer_at(doc, 1), l2);
    EXPECT_EQ(document_layer_at(doc, 2), l0);

    /* A move that no longer applies fails and stays where it was. */
    ASSERT_EQ(undo_record_layer_move(doc, 5, 0), 1);
    EXPECT_EQ(undo_perform(doc), 0);
    EXPECT_EQ(doc->undo->undo_stack->nb_items, 2u);
    EXPECT_EQ(doc->undo->redo_stack->nb_items, 0u);
}

TEST_F(UndoTest, MovesInSeventyLayersKeepEveryLayer) {
    /* Deep stacks used to lose the moved layer once more than 64 layers had
     * to be lifted above its target. */
    make(8, 8, 70);
    std::vector<LAYER*> order;
    for (int i = 0; i < 70; i++) order.push_back(document_layer_at(doc, i));
    LAYER* active = document_layer_at(doc, 35);
    doc->active_layer = active;
    auto expect_order = [&](const char* what) {
        ASSERT_EQ(document_layer_count(doc), 70) << what;
        for (int i = 0; i < 70; i++) EXPECT_EQ(document_layer_at(doc, i), order[i]) << what << ", index " << i;
        EXPECT_EQ(doc->active_layer, active) << what;
    };
    const int moves[][2] = {{0, 1}, {0, 69}, {69, 0}, {1, 0}, {68, 69}};
    for (const auto& m : moves) {
        ASSERT_EQ(document_move_layer(doc, m[0], m[1]), 1);
        ASSERT_EQ(undo_record_layer_move(doc, (size_t)m[0], (size_t)m[1]), 1);
        LAYER* moved = order[m[0]];
        order.erase(order.begin() + m[0]);
        order.insert(order.begin() + m[1], moved);
        expect_order("after a move");
    }
    for (int i = 4; i >= 0; i--) {
        ASSERT_EQ(undo_perform(doc), 1);
        LAYER* moved = order[moves[i][1]];
        order.erase(order.begin() + moves[i][1]);
        order.insert(order.begin() + moves[i][0], moved);
        expect_order("after an undo");
    }
    /* Deleting the bottom layer under 69 others is undone and redone. */
    LAYER* bottom = document_detach_layer(doc, 0);
    ASSERT_EQ(bottom, order[0]);
    ASSERT_EQ(undo_record_layer_remove(doc, bottom, 0), 1);
    ASSERT_EQ(document_layer_count(doc), 69);
    ASSERT_EQ(undo_perform(doc), 1);
    active = bottom; /* the layer given back becomes the active one */
    expect_order("after undoing the deletion");
    ASSERT_EQ(redo_perform(doc), 1);
    EXPECT_EQ(document_layer_count(doc), 69);
    EXPECT_EQ(document_layer_at(doc, 0), order[1]);
}

TEST_F(UndoTest, UnknownRecordKindFailsAndStaysOnTheStack) {
    make(64, 64);
    ASSERT_EQ(undo_record_layer_move(doc, 0, 0), 1);
    newest(doc)->kind = 9;
    test_log_capture_begin(LOG_DEBUG);
    EXPECT_EQ(undo_perform(doc), 0);
    std::string log = test_log_capture_end();
    EXPECT_NE(log.find("unknown undo record type 9"), std::string::npos) << log;
    EXPECT_EQ(doc->undo->undo_stack->nb_items, 1u);
}

TEST_F(UndoTest, MissingArgumentsAreRefused) {
    make(64, 64);
    EXPECT_EQ(undo_record_layer_add(doc, NULL, 0), 0);
    EXPECT_EQ(undo_record_layer_remove(doc, NULL, 0), 0);
    EXPECT_EQ(undo_perform(NULL), 0);
    EXPECT_EQ(redo_perform(NULL), 0);
    EXPECT_EQ(_undo_commit(NULL, NULL, 0, 0), 0);
    undo_mark_dirty(NULL, 0, 0, 1);
    undo_revert(NULL);
    undo_abort(NULL);
    EXPECT_EQ(doc->undo->undo_stack->nb_items, 0u);
}

TEST_F(UndoTest, CommitWithoutLayerBitmapsFailsButCloses) {
    make(64, 64);
    ASSERT_EQ(undo_begin(doc), 1);
    undo_mark_dirty(doc, 10, 10, 2);
    ALLEGRO_BITMAP* saved = doc->active_layer->backup;
    doc->active_layer->backup = NULL;
    EXPECT_EQ(_undo_commit(doc, NULL, 0, 0), 0);
    doc->active_layer->backup = saved;
    EXPECT_EQ(doc->undo->open, 0);
    EXPECT_TRUE(marked(doc).empty());
    EXPECT_EQ(doc->undo->undo_stack->nb_items, 0u);
}

/* ---- memory budget ---- */

TEST_F(UndoTest, BudgetDropsTheOldestRecordsAndLogsIt) {
    setenv("PLUMARO_UNDO_MB", "1", 1);
    make(1024, 1024);
    const size_t tile = 256 * 256 * 4;
    EXPECT_EQ(doc->undo->max_bytes, (size_t)1 << 20);
    /* Each stroke touches two tiles: half a MiB. */
    ASSERT_EQ(stroke(doc, 256, 100, 20, al_map_rgb(255, 0, 0)), 1);
    std::vector<uint8_t> first = snapshot(doc->active_layer->bitmap);
    ASSERT_EQ(stroke(doc, 256, 400, 20, al_map_rgb(0, 255, 0)), 1);
    std::vector<uint8_t> second = snapshot(doc->active_layer->bitmap);
    EXPECT_EQ(undo_bytes(doc), 4 * tile);
    test_log_capture_begin(LOG_INFO);
    ASSERT_EQ(stroke(doc, 256, 700, 20, al_map_rgb(0, 0, 255)), 1);
    std::string log = test_log_capture_end();
    EXPECT_EQ(doc->undo->undo_stack->nb_items, 2u);
    EXPECT_EQ(undo_bytes(doc), 4 * tile);
    EXPECT_NE(log.find("dropped 1 oldest record(s), 524288 bytes freed"), std::string::npos) << log;

    /* Undoing captures after pixels: the second stroke's record makes room. */
    ASSERT_EQ(undo_perform(doc), 1);
    EXPECT_EQ(undo_perform(doc), 0);
    EXPECT_TRUE(snapshot(doc->active_layer->bitmap) == second);
    EXPECT_FALSE(snapshot(doc->active_layer->bitmap) == first);
    EXPECT_EQ(undo_bytes(doc), 4 * tile);
}

TEST_F(UndoTest, BudgetAlwaysKeepsTheNewestRecord) {
    setenv("PLUMARO_UNDO_MB", "1", 1);
    make(1024, 1024);
    ASSERT_EQ(stroke(doc, 100, 100, 10, al_map_rgb(255, 0, 0)), 1);
    ASSERT_EQ(undo_begin(doc), 1);
    ALLEGRO_BITMAP* old = al_get_target_bitmap();
    al_set_target_bitmap(doc->active_layer->bitmap);
    al_clear_to_color(al_map_rgb(1, 2, 3));
    al_set_target_bitmap(old);
    undo_mark_dirty_rect(doc, 0, 0, 1023, 1023); /* 16 tiles: 4 MiB */
    test_log_capture_begin(LOG_INFO);
    ASSERT_EQ(_undo_commit(doc, NULL, 0, 0), 1);
    std::string log = test_log_capture_end();
    EXPECT_NE(log.find("dropped 1 oldest"), std::string::npos) << log;
    EXPECT_EQ(doc->undo->undo_stack->nb_items, 1u);
    EXPECT_EQ(undo_bytes(doc), (size_t)4 << 20);

    /* Its after pixels go over budget again, but the record undone is kept. */
    ASSERT_EQ(undo_perform(doc), 1);
    EXPECT_EQ(doc->undo->redo_stack->nb_items, 1u);
    EXPECT_EQ(undo_bytes(doc), (size_t)8 << 20);
    ASSERT_EQ(redo_perform(doc), 1);
    unsigned char px[4];
    test_pixel_rgba(doc->active_layer->bitmap, 500, 500, px);
    EXPECT_EQ(px[2], 3);
}

TEST_F(UndoTest, BudgetCountsAfterPixelsCapturedWhileUndoing) {
    setenv("PLUMARO_UNDO_MB", "1", 1);
    make(1024, 256);
    const size_t tile = 256 * 256 * 4;
    for (int i = 0; i < 4; i++) ASSERT_EQ(stroke(doc, 128.0f + 256 * i, 128, 10, al_map_rgb(255, 0, 0)), 1);
    EXPECT_EQ(undo_bytes(doc), 4 * tile);
    EXPECT_EQ(doc->undo->undo_stack->nb_items, 4u);
    test_log_capture_begin(LOG_INFO);
    ASSERT_EQ(undo_perform(doc), 1); /* 5 tiles held: the oldest stroke goes */
    std::string log = test_log_capture_end();
    EXPECT_NE(log.find("dropped 1 oldest"), std::string::npos) << log;
    EXPECT_EQ(doc->undo->undo_stack->nb_items, 2u);
    EXPECT_EQ(doc->undo->redo_stack->nb_items, 1u);
    EXPECT_EQ(undo_bytes(doc), 4 * tile);
}

TEST_F(UndoTest, BudgetDropsRedoRecordsFarthestFromThePresentLast) {
    setenv("PLUMARO_UNDO_MB", "1", 1);
    make(1024, 256);
    const size_t tile = 256 * 256 * 4;
    ASSERT_EQ(stroke(doc, 256, 128, 10, al_map_rgb(255, 0, 0)), 1); /* A: two tiles */
    std::vector<uint8_t> after_a = snapshot(doc->active_layer->bitmap);
    ASSERT_EQ(stroke(doc, 640, 128, 10, al_map_rgb(0, 255, 0)), 1); /* B: one tile */
    ASSERT_EQ(undo_perform(doc), 1);
    EXPECT_EQ(undo_bytes(doc), 4 * tile);
    ASSERT_EQ(undo_perform(doc), 1); /* A's after pixels: 6 tiles; B's redo goes */
    EXPECT_EQ(undo_bytes(doc), 4 * tile);
    ASSERT_EQ(doc->undo->redo_stack->nb_items, 1u);
    ASSERT_EQ(redo_perform(doc), 1);
    EXPECT_TRUE(snapshot(doc->active_layer->bitmap) == after_a);
    EXPECT_EQ(redo_perform(doc), 0);
}

TEST_F(UndoTest, BudgetFreesRemovedLayersItDrops) {
    setenv("PLUMARO_UNDO_MB", "1", 1);
    make(512, 256, 3); /* a held layer: 2 x 512 KiB */
    LAYER* gone = document_detach_layer(doc, 0);
    ASSERT_NE(gone, nullptr);
    ASSERT_EQ(undo_record_layer_remove(doc, gone, 0), 1);
    EXPECT_EQ(undo_bytes(doc), (size_t)1 << 20);
    ASSERT_EQ(stroke(doc, 10, 10, 5, al_map_rgb(1, 1, 1)), 1);
    EXPECT_EQ(doc->undo->undo_stack->nb_items, 1u) << "the removal record and its layer were dropped";
    EXPECT_EQ(undo_bytes(doc), (size_t)256 * 256 * 4);
    EXPECT_EQ(document_layer_count(doc), 2);
}

TEST_F(UndoTest, BadBudgetValuesAreLoggedAndIgnored) {
    const char* bad[] = {"abc", "0", "-5", "12x", "99999999999999999999999", ""};
    for (const char* value : bad) {
        setenv("PLUMARO_UNDO_MB", value, 1);
        test_log_capture_begin(LOG_INFO);
        UNDO_SYSTEM* undo = undo_new(64, 64);
        std::string log = test_log_capture_end();
        ASSERT_NE(undo, nullptr);
        EXPECT_EQ(undo->max_bytes, (size_t)UNDO_DEFAULT_BUDGET_MB << 20) << value;
        if (*value) {
            EXPECT_NE(log.find("ignoring PLUMARO_UNDO_MB"), std::string::npos) << value;
        }
        undo_free(&undo);
        EXPECT_EQ(undo, nullptr);
    }
    setenv("PLUMARO_UNDO_MB", " 64 ", 1);
    UNDO_SYSTEM* undo = undo_new(64, 64);
    ASSERT_NE(undo, nullptr);
    EXPECT_EQ(undo->max_bytes, (size_t)64 << 20);
    undo_free(&undo);
    unsetenv("PLUMARO_UNDO_MB");
    undo = undo_new(64, 64);
    ASSERT_NE(undo, nullptr);
    EXPECT_EQ(undo->max_bytes, (size_t)2048 << 20);
    undo_free(&undo);
}

}  // namespace
