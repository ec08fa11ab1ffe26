/* Brush parameters without a display: defaults, presets, table accessors
 * and pressure from speed. */
#include <gtest/gtest.h>

#include <string>

#include "canvas/brush.h"
#include "t_log.h"
#include "test_support.h"

TEST(BrushParams, Defaults) {
    test_allegro_init();
    BRUSH b;
    memset(&b, 0x7f, sizeof(b));
    brush_defaults(&b);
    EXPECT_FLOAT_EQ(b.size, 24.0f);
    EXPECT_FLOAT_EQ(b.hardness, 0.7f);
    EXPECT_FLOAT_EQ(b.flow, 1.0f);
    EXPECT_FLOAT_EQ(b.opacity, 1.0f);
    EXPECT_FLOAT_EQ(b.spacing, 0.25f);
    EXPECT_EQ(b.eraser, 0);
    EXPECT_EQ(b.tip, BRUSH_TIP_ROUND);
    unsigned char r, g, bl, a;
    al_unmap_rgba(b.color, &r, &g, &bl, &a);
    EXPECT_EQ(r, 40);
    EXPECT_EQ(g, 40);
    EXPECT_EQ(bl, 40);
    EXPECT_EQ(a, 255);
}

TEST(BrushParams, ApplyPresetCopiesShapeKeepsColourClearsEraser) {
    test_allegro_init();
    BRUSH b;
    brush_defaults(&b);
    b.color = al_map_rgba_f(0.1f, 0.2f, 0.3f, 0.4f);
    b.eraser = 1;
    ASSERT_EQ(brush_apply_preset(&b, "Airbrush"), 1);
    EXPECT_EQ(b.tip, BRUSH_TIP_SPRAY);
    EXPECT_FLOAT_EQ(b.size, 64.0f);
    EXPECT_FLOAT_EQ(b.flow, 0.03f);
    EXPECT_FLOAT_EQ(b.hardness, 0.0f);
    EXPECT_FLOAT_EQ(b.opacity, 1.0f);
    EXPECT_FLOAT_EQ(b.spacing, 0.10f);
    EXPECT_EQ(b.eraser, 0);
    EXPECT_FLOAT_EQ(b.color.r, 0.1f);
    EXPECT_FLOAT_EQ(b.color.a, 0.4f);

    ASSERT_EQ(brush_apply_preset(&b, "Marker"), 1);
    EXPECT_EQ(b.tip, BRUSH_TIP_CHISEL_L);
    EXPECT_FLOAT_EQ(b.size, 24.0f);
    EXPECT_FLOAT_EQ(b.opacity, 0.5f);
    EXPECT_FLOAT_EQ(b.spacing, 0.12f);
    ASSERT_EQ(brush_apply_preset(&b, "Pencil"), 1);
    EXPECT_FLOAT_EQ(b.size, 4.0f);
    EXPECT_FLOAT_EQ(b.hardness, 0.8f);
    EXPECT_FLOAT_EQ(b.flow, 0.7f);
    EXPECT_FLOAT_EQ(b.opacity, 0.9f);
    EXPECT_FLOAT_EQ(b.spacing, 0.15f);
    ASSERT_EQ(brush_apply_preset(&b, "Ink"), 1);
    EXPECT_FLOAT_EQ(b.hardness, 0.95f);
    EXPECT_FLOAT_EQ(b.size, 8.0f);
    EXPECT_EQ(b.tip, BRUSH_TIP_ROUND);
}

TEST(BrushParams, UnknownPresetLogsAndLeavesBrush) {
    test_allegro_init();
    BRUSH b;
    brush_defaults(&b);
    BRUSH before = b;
    test_log_capture_begin(LOG_DEBUG);
    EXPECT_EQ(brush_apply_preset(&b, "Charcoal"), 0);
    EXPECT_EQ(brush_apply_preset(&b, NULL), 0);
    EXPECT_EQ(brush_apply_preset(&b, "pencil"), 0); /* names are case-sensitive */
    std::string log = test_log_capture_end();
    EXPECT_EQ(memcmp(&before, &b, sizeof(b)), 0);
    EXPECT_NE(log.find("unknown brush preset Charcoal"), std::string::npos) << log;
    EXPECT_NE(log.find("unknown brush preset NULL"), std::string::npos) << log;
    EXPECT_EQ(brush_preset_get("Nope"), nullptr);
    const BRUSH_PRESET* ink = brush_preset_get("Ink");
    ASSERT_NE(ink, nullptr);
    EXPECT_STREQ(ink->label, "Ink");
}

TEST(BrushParams, TablesAndBounds) {
    EXPECT_EQ(brush_tip_count(), 7);
    const char* tips[] = {"Round", "Square", "Chisel (L)", "Spray", "Chisel (R)", "Flat", "Diamond"};
    for (int i = 0; i < 7; i++) EXPECT_STREQ(brush_tip_name(i), tips[i]);
    EXPECT_EQ(brush_tip_name(7), nullptr);
    EXPECT_EQ(brush_tip_name(-1), nullptr);
    EXPECT_EQ(brush_preset_count(), 4);
    const char* names[] = {"Pencil", "Ink", "Airbrush", "Marker"};
    const char* labels[] = {"Pen", "Ink", "Air", "Mk"};
    for (int i = 0; i < 4; i++) {
        EXPECT_STREQ(brush_preset_name(i), names[i]);
        EXPECT_STREQ(brush_preset_label(i), labels[i]);
    }
    EXPECT_EQ(brush_preset_name(4), nullptr);
    EXPECT_EQ(brush_preset_label(4), nullptr);
    EXPECT_EQ(brush_preset_name(-1), nullptr);
}

TEST(BrushParams, PressureFromSpeed) {
    /* target = max(0.25, 1 - speed/1500), moved half-way from previous. */
    EXPECT_FLOAT_EQ(brush_pressure_from_speed(0.0f, 0.0f), 0.5f);
    EXPECT_FLOAT_EQ(brush_pressure_from_speed(750.0f, 1.0f), 0.75f);
    EXPECT_FLOAT_EQ(brush_pressure_from_speed(3000.0f, 1.0f), 0.625f);
    EXPECT_FLOAT_EQ(brush_pressure_from_speed(-500.0f, 0.2f), 0.6f);
    EXPECT_FLOAT_EQ(brush_pressure_from_speed(0.0f, 3.0f), 1.0f);   /* clamped */
    EXPECT_FLOAT_EQ(brush_pressure_from_speed(1e9f, -4.0f), 0.0f); /* clamped */
}

TEST(BrushParams, NullArguments) {
    test_log_capture_begin(LOG_DEBUG);
    brush_defaults(NULL);
    EXPECT_EQ(brush_apply_preset(NULL, "Ink"), 0);
    EXPECT_EQ(brush_preset_get(NULL), nullptr);
    EXPECT_EQ(brush_stroke_end(NULL, NULL), 0);
    EXPECT_EQ(brush_stroke_abort(NULL, NULL), 0);
    std::string log = test_log_capture_end();
    EXPECT_NE(log.find("if( !(brush) ) assert"), std::string::npos);
    EXPECT_NE(log.find("if( !(stroke) ) assert"), std::string::npos);
}
