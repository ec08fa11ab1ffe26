/* Nothing the user drew is lost when memory runs short: drawings too large
 * for the memory there is are refused before anything is allocated and the
 * open one stays; an undo history that cannot store a change keeps the
 * layer's memory copy right; a revert that fails says so. */
#include <allegro5/allegro_primitives.h>
#include <stdlib.h>

#include "app_commands.h"
#include "canvas/brush.h"
#include "canvas/document_io.h"
#include "gui_fixture.h"
#include "t_log.h"

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
