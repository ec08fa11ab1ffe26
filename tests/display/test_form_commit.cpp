/* Committing a form: the flattened line or curve is painted with the brush
 * as one stroke and one undo step, mirrored by the symmetry in force, and
 * the form is dropped also when nothing could be painted. */
#include <gtest/gtest.h>
#include <string.h>

#include <vector>

#include "canvas/brush.h"
#include "canvas/document.h"
#include "canvas/form.h"
#include "canvas/symmetry.h"
#include "canvas/undo.h"
#include "test_support.h"

namespace {

std::vector<uint8_t> _snapshot(ALLEGRO_BITMAP* bmp) {
    int w = al_get_bitmap_width(bmp), h = al_get_bitmap_height(bmp);
    std::vector<uint8_t> out((size_t)w * h * 4);
    ALLEGRO_LOCKED_REGION* lock = al_lock_bitmap(bmp, ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE, ALLEGRO_LOCK_READONLY);
    if (!lock) return std::vector<uint8_t>();
    for (int y = 0; y < h; y++) memcpy(&out[(size_t)y * w * 4], (uint8_t*)lock->data + (intptr_t)y * lock->pitch, (size_t)w * 4);
    al_unlock_bitmap(bmp);
    return out;
}

int _alpha(ALLEGRO_BITMAP* bmp, int x, int y) {
    unsigned char px[4];
    test_pixel_rgba(bmp, x, y, px);
    return px[3];
}

class FormCommit : public ::testing::Test {
  protected:
    DOCUMENT* doc = nullptr;
    LAYER* layer = nullptr;
    BRUSH brush;
    BRUSH_STROKE stroke;
    SYMMETRY sym;
    FORM form;
    void SetUp() override {
        ASSERT_NE(test_display(), nullptr);
        doc = document_new(160, 100);
        ASSERT_NE(doc, nullptr);
        layer = document_add_layer(doc, "ink");
        ASSERT_NE(layer, nullptr);
        ALLEGRO_BITMAP* old = al_get_target_bitmap();
        al_set_target_bitmap(layer->bitmap);
        al_clear_to_color(al_map_rgba(0, 0, 0, 0));
        al_set_target_bitmap(old);
        layer->needs_clear = 0;
        brush_defaults(&brush);
        brush.size = 6;
        brush.hardness = 1;
        brush.color = al_map_rgb(0, 0, 0);
        memset(&stroke, 0, sizeof(stroke));
        symmetry_init(&sym, doc);
        form_init(&form);
    }
    void TearDown() override {
        brush_release_resources();
        if (doc) document_free(&doc);
    }
    size_t steps() const { return doc->undo->undo_stack->nb_items; }
};

}  // namespace

TEST_F(FormCommit, LineIsOneStrokeAndOneUndoStep) {
    std::vector<uint8_t> before = _snapshot(layer->backup);
    ASSERT_EQ(form_begin(&form, FORM_LINE, 20, 30, 120, 30), 1);
    ASSERT_EQ(form_commit(&form, doc, &stroke, &brush, &sym, 1.0f), 1);
    EXPECT_FALSE(form_is_active(&form));
    EXPECT_EQ(steps(), 1u);
    for (int x = 20; x <= 120; x += 10) EXPECT_EQ(_alpha(layer->bitmap, x, 30), 255) << x;
    EXPECT_EQ(_alpha(layer->bitmap, 70, 40), 0);
    EXPECT_EQ(_alpha(layer->bitmap, 130, 30), 0);
    EXPECT_TRUE(_snapshot(layer->backup) == _snapshot(layer->bitmap));
    ASSERT_EQ(undo_perform(doc), 1);
    EXPECT_TRUE(_snapshot(layer->bitmap) == before);
    EXPECT_TRUE(_snapshot(layer->backup) == before);
}

TEST_F(FormCommit, CurveIsPaintedAlongItsBendNotItsChord) {
    ASSERT_EQ(form_begin(&form, FORM_CURVE, 20, 80, 140, 80), 1);
    form.y[1] = 10;
    form.y[2] = 10;
    float mx, my;
    ASSERT_EQ(form_point(&form, 0.5f, &mx, &my), 1);
    ASSERT_EQ(form_commit(&form, doc, &stroke, &brush, &sym, 2.0f), 1);
    EXPECT_EQ(steps(), 1u);
    EXPECT_EQ(_alpha(layer->bitmap, (int)mx, (int)my), 255);
    EXPECT_EQ(_alpha(layer->bitmap, 80, 80), 0) << "the chord was painted";
}

TEST_F(FormCommit, SymmetryMirrorsTheCommittedForm) {
    sym.mode = SYMMETRY_X;
    sym.cx = 80;
    ASSERT_EQ(form_begin(&form, FORM_LINE, 10, 20, 40, 20), 1);
    ASSERT_EQ(form_commit(&form, doc, &stroke, &brush, &sym, 1.0f), 1);
    EXPECT_EQ(steps(), 1u);
    EXPECT_EQ(_alpha(layer->bitmap, 25, 20), 255);
    EXPECT_EQ(_alpha(layer->bitmap, 135, 20), 255) << "no mirrored copy";
    EXPECT_EQ(_alpha(layer->bitmap, 80, 20), 0);
    /* Without symmetry, only the form itself. */
    sym.mode = SYMMETRY_OFF;
    ASSERT_EQ(form_begin(&form, FORM_LINE, 10, 60, 40, 60), 1);
    ASSERT_EQ(form_commit(&form, doc, &stroke, &brush, &sym, 1.0f), 1);
    EXPECT_EQ(_alpha(layer->bitmap, 135, 60), 0);
    EXPECT_EQ(steps(), 2u);
}

TEST_F(FormCommit, LockedLayerDropsTheFormWithoutPainting) {
    layer->locked = 1;
    std::vector<uint8_t> before = _snapshot(layer->bitmap);
    ASSERT_EQ(form_begin(&form, FORM_LINE, 20, 30, 120, 30), 1);
    EXPECT_EQ(form_commit(&form, doc, &stroke, &brush, &sym, 1.0f), 0);
    EXPECT_FALSE(form_is_active(&form));
    EXPECT_EQ(steps(), 0u);
    EXPECT_TRUE(_snapshot(layer->bitmap) == before);
    EXPECT_FALSE(stroke.active);
}

TEST_F(FormCommit, EraserFormErasesAsOneStep) {
    ALLEGRO_BITMAP* old = al_get_target_bitmap();
    al_set_target_bitmap(layer->bitmap);
    al_clear_to_color(al_map_rgb(200, 100, 50));
    al_set_target_bitmap(layer->backup);
    al_clear_to_color(al_map_rgb(200, 100, 50));
    al_set_target_bitmap(old);
    brush.eraser = 1;
    ASSERT_EQ(form_begin(&form, FORM_LINE, 30, 50, 130, 50), 1);
    ASSERT_EQ(form_commit(&form, doc, &stroke, &brush, &sym, 1.0f), 1);
    EXPECT_EQ(steps(), 1u);
    EXPECT_EQ(_alpha(layer->bitmap, 80, 50), 0);
    EXPECT_EQ(_alpha(layer->bitmap, 80, 70), 255);
}
