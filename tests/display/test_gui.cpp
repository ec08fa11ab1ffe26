/* The toolbar and the layer panel driven through the toolkit as a person
 * would (presses and releases on the widgets): layer operations and their
 * undo records, swatches, hiding, rebuilds, the window widths and the icon
 * registry's limit. */
#include <algorithm>
#include <set>
#include <string>

#include "gui/i18n.h"
#include "gui_fixture.h"


TEST(GuiGeometry, ToolbarAndPanelWidths) {
    GUI_METRICS m = _gui_metrics(1.0f);
    EXPECT_FLOAT_EQ(_gui_toolbar_inner_width(&m, 1000), 180.0f);
    EXPECT_FLOAT_EQ(_gui_toolbar_inner_width(&m, 400), 144.0f); /* 0.45 x 400 - 20 - 16 */
    EXPECT_FLOAT_EQ(_gui_toolbar_inner_width(&m, 200), 180.0f); /* 54 is too narrow to use */
    EXPECT_FLOAT_EQ(_gui_panel_width(&m, 500, 1000), 400.0f);
    EXPECT_FLOAT_EQ(_gui_panel_width(&m, 100, 1000), 180.0f);
    GUI_METRICS big = _gui_metrics(2.0f);
    EXPECT_FLOAT_EQ(_gui_panel_width(&big, 100, 2000), 360.0f);
    GUI_METRICS tiny = _gui_metrics(0.1f);
    EXPECT_FLOAT_EQ(tiny.scale, 0.5f) << "the scale is never below one half";
}

TEST_F(Gui, LayerListRowsAndButtonsAtTheEnds) {
    /* One layer: "-" does nothing and records nothing. */
    click(app.ui.panel.remove);
    EXPECT_EQ(document_layer_count(app.doc), 1);
    EXPECT_EQ(undo_count(), 0u);
    click(app.ui.panel.add);
    click(app.ui.panel.add);
    ASSERT_EQ(document_layer_count(app.doc), 3);
    EXPECT_EQ(undo_count(), 2u);
    LAYER* top = document_layer_at(app.doc, 2);
    LAYER* bottom = document_layer_at(app.doc, 0);
    EXPECT_EQ(app.doc->active_layer, top);
    /* The top row is the top layer. */
    click_row(2);
    EXPECT_EQ(app.doc->active_layer, bottom);
    click_row(0);
    EXPECT_EQ(app.doc->active_layer, top);
    EXPECT_EQ(t_gui_listbox_get_selected(app.gui, app.ui.panel.list), 0);
    click_row(2);
    /* Down at the bottom and up at the top do nothing. */
    click(app.ui.panel.down);
    EXPECT_EQ(document_layer_at(app.doc, 0), bottom);
    click_row(0);
    click(app.ui.panel.up);
    EXPECT_EQ(document_layer_at(app.doc, 2), top);
    EXPECT_EQ(undo_count(), 2u);
    /* A real move is recorded and undone by the undo button. */
    click(app.ui.panel.down);
    EXPECT_EQ(document_layer_at(app.doc, 1), top);
    EXPECT_EQ(undo_count(), 3u);
    click(app.ui.toolbar.undo);
    EXPECT_EQ(document_layer_at(app.doc, 2), top);
    click(app.ui.toolbar.redo);
    EXPECT_EQ(document_layer_at(app.doc, 1), top);
    /* Deleting the active layer is undone with the layer back in its place. */
    click(app.ui.panel.remove);
    EXPECT_EQ(document_layer_count(app.doc), 2);
    click(app.ui.toolbar.undo);
    EXPECT_EQ(document_layer_count(app.doc), 3);
    EXPECT_EQ(document_layer_at(app.doc, 1), top);
}

TEST_F(Gui, RowsOutsideTheListPickTheEndLayers) {
    /* A press never reports such rows; the list's callback is given them
     * directly, as the list does for the rows it has. */
    click(app.ui.panel.add);
    LAYER* top = app.doc->active_layer;
    LAYER* bottom = document_layer_at(app.doc, 0);
    T_GUI_LISTBOX_DATA* d = (T_GUI_LISTBOX_DATA*)t_gui_get_widget(app.gui, app.ui.panel.list)->data;
    d->callback(app.ui.panel.list, 7, 1, d->user);
    EXPECT_EQ(app.doc->active_layer, bottom) << "a row past the last layer selects the bottom layer";
    EXPECT_EQ(t_gui_listbox_get_selected(app.gui, app.ui.panel.list), 1);
    d->callback(app.ui.panel.list, -3, 1, d->user);
    EXPECT_EQ(app.doc->active_layer, top) << "a negative row selects the top layer";
    d->callback(app.ui.panel.list, 1, 0, d->user); /* a deselection changes nothing */
    EXPECT_EQ(app.doc->active_layer, top);
}

TEST_F(Gui, BlendCyclesWithoutUndoAndShowAndLockFollowTheLayer) {
    const char* names[] = {"Blend: Multiply", "Blend: Screen", "Blend: Add", "Blend: Normal"};
    for (int i = 0; i < 4; i++) {
        click(app.ui.panel.blend);
        EXPECT_EQ(app.doc->active_layer->blend, (i + 1) % 4);
        EXPECT_EQ(label(app.ui.panel.blend), names[i]);
    }
    EXPECT_EQ(undo_count(), 0u);
    click(app.ui.panel.show);
    EXPECT_EQ(app.doc->active_layer->visible, 0);
    click(app.ui.panel.lock);
    EXPECT_EQ(app.doc->active_layer->locked, 1);
    T_GUI_LISTBOX_DATA* d = (T_GUI_LISTBOX_DATA*)t_gui_get_widget(app.gui, app.ui.panel.list)->data;
    EXPECT_STREQ(d->items[0].text, "\xe2\x97\x8b Layer 1 [L]");
}

TEST_F(Gui, LongLayerNamesAreCutAtACharacter) {
    std::string name;
    for (int i = 0; i < 80; i++) name += "\xc3\xa9"; /* 160 bytes of two-byte characters */
    layer_set_name(app.doc->active_layer, name.c_str());
    plumaro_gui_sync_layers(&app);
    T_GUI_LISTBOX_DATA* d = (T_GUI_LISTBOX_DATA*)t_gui_get_widget(app.gui, app.ui.panel.list)->data;
    std::string shown = d->items[0].text;
    EXPECT_LE(shown.size(), 127u);
    EXPECT_EQ(shown.substr(0, 4), "\xe2\x97\x8f ");
    EXPECT_EQ((shown.size() - 4) % 2, 0u) << "no half character at the end";
}

TEST_F(Gui, ASwatchWhileErasingPaintsAgainInItsColour) {
    click(app.ui.toolbar.tools[GUI_TOOL_ERASER]);
    ASSERT_EQ(app.brush.eraser, 1);
    EXPECT_EQ(t_gui_button_get_toggled(app.gui, app.ui.toolbar.tools[GUI_TOOL_ERASER]), 1);
    app.brush.color.a = 0.5f;
    click(app.ui.toolbar.swatches[2]);
    const uint8_t(*colors)[3] = palette_active_colors(&app.palette);
    EXPECT_EQ(app.brush.eraser, 0);
    EXPECT_EQ(app.tool, TOOL_BRUSH);
    EXPECT_NEAR(app.brush.color.r, colors[2][0] / 255.0f, 1e-6);
    EXPECT_NEAR(app.brush.color.g, colors[2][1] / 255.0f, 1e-6);
    EXPECT_FLOAT_EQ(app.brush.color.a, 0.5f) << "the brush keeps its alpha";
    EXPECT_EQ(label(app.ui.toolbar.swatches[2]), "x");
    EXPECT_EQ(label(app.ui.toolbar.swatches[0]), " ");
    EXPECT_EQ(t_gui_button_get_toggled(app.gui, app.ui.toolbar.tools[GUI_TOOL_BRUSH]), 1);
    EXPECT_EQ(t_gui_button_get_toggled(app.gui, app.ui.toolbar.tools[GUI_TOOL_ERASER]), 0);
}

TEST_F(Gui, EditModeStoresTheBrushColourInASwatch) {
    app.brush.color = al_map_rgb(10, 20, 30);
    click(app.ui.toolbar.palette_edit);
    click(app.ui.toolbar.swatches[5]);
    const uint8_t(*colors)[3] = palette_active_colors(&app.palette);
    EXPECT_EQ(colors[5][0], 10);
    EXPECT_EQ(colors[5][2], 30);
    EXPECT_GE(app.palette.active, palette_builtin_count()) << "a built-in palette is forked first";
    EXPECT_EQ(label(app.ui.toolbar.swatches[5]), "x");
}

TEST_F(Gui, HidingRestoresThePanelOnlyWhenItWasOpen) {
    int32_t panel = app.ui.panel.window, toolbar = app.ui.toolbar.window;
    plumaro_gui_set_visible(&app, 0);
    EXPECT_EQ(t_gui_window_is_open(app.gui, toolbar), 0);
    EXPECT_EQ(t_gui_window_is_open(app.gui, panel), 0);
    EXPECT_EQ(plumaro_gui_wants_pointer(&app), 0);
    plumaro_gui_set_visible(&app, 1);
    EXPECT_EQ(t_gui_window_is_open(app.gui, toolbar), 1);
    EXPECT_EQ(t_gui_window_is_open(app.gui, panel), 1);
    t_gui_close_window(app.gui, panel);
    plumaro_gui_set_visible(&app, 0);
    plumaro_gui_set_visible(&app, 1);
    EXPECT_EQ(t_gui_window_is_open(app.gui, toolbar), 1);
    EXPECT_EQ(t_gui_window_is_open(app.gui, panel), 0);
    /* While hidden, a press on the toolbar's place reaches the canvas. */
    plumaro_gui_set_visible(&app, 0);
    ALLEGRO_EVENT e = {};
    e.type = ALLEGRO_EVENT_MOUSE_BUTTON_DOWN;
    e.mouse.x = 60, e.mouse.y = 100, e.mouse.button = 1;
    EXPECT_EQ(plumaro_gui_handle_event(&app, &e), 0);
}

TEST_F(Gui, ARebuildKeepsFoldedSectionsAndCollapsedWindows) {
    T_GUI_SECTIONLIST* list = app.ui.toolbar.sections;
    ASSERT_NE(list, nullptr);
    int32_t brush_header = list->sections[3].header_id;
    click(brush_header); /* folds "Brush" */
    EXPECT_NE(app.section_flags & GUI_TOOLBAR_SECTION_BIT(3), 0u);
    click(app.ui.panel.sections->sections[1].header_id); /* folds "Template" */
    EXPECT_NE(app.section_flags & GUI_PANEL_SECTION_BIT(1), 0u);
    ASSERT_EQ(plumaro_gui_rebuild(&app), 1);
    EXPECT_EQ(app.ui.toolbar.sections->sections[3].collapsed, 1);
    EXPECT_EQ(app.ui.toolbar.sections->sections[2].collapsed, 0);
    EXPECT_EQ(app.ui.panel.sections->sections[1].collapsed, 1);
    EXPECT_FALSE(t_gui_get_widget(app.gui, app.ui.toolbar.size)->visible);
    /* Collapsing the panel is a rebuild request, served by the next draw. */
    click(app.ui.panel.collapse);
    EXPECT_EQ(app.gui_rebuild_pending, 1);
    plumaro_gui_draw(&app);
    EXPECT_EQ(app.gui_rebuild_pending, 0);
    EXPECT_EQ(app.ui.panel.list, -1);
    T_GUI_WINDOW* tab = t_gui_get_window(app.gui, app.ui.panel.window);
    ASSERT_NE(tab, nullptr);
    EXPECT_FLOAT_EQ(tab->w, app.ui.metrics.tab_width);
    plumaro_gui_sync_layers(&app); /* nothing to fill, nothing broken */
}

TEST_F(Gui, ThePresetKeepsTheEraserAndTheSlidersForgetThePreset) {
    click(app.ui.toolbar.tools[GUI_TOOL_ERASER]);
    click(app.ui.toolbar.presets[2]); /* Airbrush */
    EXPECT_EQ(app.brush_preset, 2);
    EXPECT_EQ(app.brush.tip, BRUSH_TIP_SPRAY);
    EXPECT_EQ(app.brush.eraser, 1);
    EXPECT_EQ(t_gui_button_get_toggled(app.gui, app.ui.toolbar.presets[2]), 1);
    EXPECT_EQ(label(app.ui.toolbar.tip), "Tip: Spray");
    T_GUI_SLIDER_DATA* size = (T_GUI_SLIDER_DATA*)t_gui_get_widget(app.gui, app.ui.toolbar.size)->data;
    EXPECT_DOUBLE_EQ(size->value, 64.0);
    size->callback(app.ui.toolbar.size, 30.0, size->user);
    EXPECT_FLOAT_EQ(app.brush.size, 30.0f);
    EXPECT_EQ(app.brush_preset, -1);
    EXPECT_EQ(t_gui_button_get_toggled(app.gui, app.ui.toolbar.presets[2]), 0);
}

TEST_F(Gui, TheRegistryGrowsPastItsFirstSlots) {
    /* More buttons than the registry first holds: every one keeps its icon and its tooltip. */
    int before = app.ui.icon_count;
    ASSERT_GT(before, 0);
    int32_t win = app.ui.toolbar.window;
    int32_t last = -1;
    int added = app.ui.icon_capacity + 1 - before;
    for (int i = 0; i < added; i++) {
        last = t_gui_add_button(app.gui, win, "", 0, 0, 20 + i % 3, 20, 1, NULL, NULL);
        _gui_register_icon(&app, last, ICON_GRID, "Toggle the grid overlay");
    }
    EXPECT_EQ(app.ui.icon_count, before + added);
    EXPECT_GE(app.ui.icon_capacity, app.ui.icon_count);
    EXPECT_NE(t_gui_get_widget(app.gui, last)->tooltip, nullptr);
    plumaro_gui_draw(&app);
    EXPECT_EQ(app.ui.icons_ready, 1);
    T_GUI_BUTTON_DATA* newest = (T_GUI_BUTTON_DATA*)t_gui_get_widget(app.gui, last)->data;
    EXPECT_NE(newest->normal, nullptr);
    GUI_ICON_BUTTON* first = &app.ui.icons[0];
    ASSERT_NE(first->set.normal, nullptr);
    EXPECT_EQ(al_get_bitmap_width(first->set.normal), first->w);
    GUI_ICON_BUTTON* end = &app.ui.icons[app.ui.icon_count - 1];
    EXPECT_EQ(end->widget, last);
    ASSERT_NE(end->set.normal, nullptr);
    EXPECT_EQ(al_get_bitmap_width(end->set.normal), 20 + (added - 1) % 3);
}

TEST_F(Gui, SymmetryControlsAndTheOffsetLabel) {
    /* The folded Symmetry section lies below the display: fold the ones
     * above it and unfold it, as a person would. */
    for (int section : {1, 2, 3, 4}) click(app.ui.toolbar.sections->sections[section].header_id);
    ASSERT_TRUE(t_gui_get_widget(app.gui, app.ui.toolbar.symmetry)->visible);
    click(app.ui.toolbar.symmetry);
    EXPECT_EQ(app.symmetry.mode, 1);
    EXPECT_EQ(label(app.ui.toolbar.symmetry), "Sym:X");
    app.symmetry.cx = 140.7f;
    app.symmetry.cy = 100.0f;
    plumaro_gui_sync_symmetry(&app);
    T_GUI_WIDGET* offset = t_gui_get_widget(app.gui, app.ui.toolbar.symmetry_offset);
    EXPECT_STREQ(((T_GUI_LABEL_DATA*)offset->data)->text, "Off +12,-28");
}

TEST_F(Gui, EveryBoundKeyIsInTheShortcutListAndLeadsBackToItsCommand) {
    /* The shortcut list as a person opens it. */
    app.ui.help.tab = GUI_HELP_TABS - 1;
    app.ui.help.open = 1;
    plumaro_gui_shutdown(&app);
    ASSERT_EQ(plumaro_gui_init(&app), 1);
    std::set<std::string> shown;
    T_GUI_WINDOW* body = t_gui_get_window(app.gui, app.ui.help.body);
    ASSERT_NE(body, nullptr);
    for (LIST_NODE* n = body->widgets->start; n; n = n->next) {
        T_GUI_WIDGET* w = (T_GUI_WIDGET*)n->ptr;
        if (w->kind == T_GUI_KIND_LABEL) shown.insert(((T_GUI_LABEL_DATA*)w->data)->text);
    }
    EXPECT_TRUE(shown.count("Esc") && shown.count("Touch")) << "the rows after the commands";
    std::set<std::pair<int, int>> bound;
    for (int id = 0; id < GUI_CMD_COUNT; id++) {
        const GUI_COMMAND* c = _gui_command(id);
        ASSERT_NE(c, nullptr) << "command " << id << " is not at its place in the table";
        for (const GUI_BINDING& b : c->keys) {
            if (!b.key) continue;
            EXPECT_TRUE(bound.insert({b.key, b.mods}).second) << c->name << ": its key runs another command too";
            ASSERT_NE(c->help_key, nullptr) << c->name << " has a key but no line in Help";
            EXPECT_TRUE(shown.count(c->help_key) && shown.count(c->help_text)) << c->name << " is missing from Help";
            EXPECT_EQ(_gui_command_for_key(b.key, b.mods & GUI_MOD_CTRL, b.mods & GUI_MOD_SHIFT, 0), id) << c->name;
        }
    }
    /* Ctrl keys that wait for a stroke, and Ctrl keys of no command, are the key alone;
     * Shift counts only where a key is bound with it. */
    EXPECT_EQ(_gui_command_for_key(ALLEGRO_KEY_E, 1, 0, 1), GUI_CMD_ERASER);
    EXPECT_EQ(_gui_command_for_key(ALLEGRO_KEY_E, 1, 0, 0), GUI_CMD_EXPORT);
    EXPECT_EQ(_gui_command_for_key(ALLEGRO_KEY_G, 1, 1, 0), GUI_CMD_SNAP);
    EXPECT_EQ(_gui_command_for_key(ALLEGRO_KEY_Y, 1, 1, 1), GUI_CMD_REDO);
    EXPECT_EQ(_gui_command_for_key(ALLEGRO_KEY_B, 0, 1, 0), GUI_CMD_BRUSH);
    EXPECT_EQ(_gui_command_for_key(ALLEGRO_KEY_Q, 1, 0, 0), -1);
    app.ui.help.open = 0;
}

TEST_F(Gui, EachToolButtonChoosesItsToolAndAloneShowsChosen) {
    /* Unfold the Tools section below the Actions, as a person would. */
    int tools_section = 1;
    if (app.ui.toolbar.sections->sections[tools_section].collapsed)
        click(app.ui.toolbar.sections->sections[tools_section].header_id);
    for (int id = GUI_TOOL_BUTTONS - 1; id >= 0; id--) {
        const GUI_TOOL_ROW* row = _gui_tool(id);
        ASSERT_NE(row, nullptr) << "tool button " << id;
        T_GUI_WIDGET* w = t_gui_get_widget(app.gui, app.ui.toolbar.tools[id]);
        ASSERT_NE(w, nullptr) << row->label;
        ASSERT_NE(w->tooltip, nullptr) << row->label;
        EXPECT_STREQ(w->tooltip, row->tip);
        if (row->kind != GUI_TOOL_KIND_TOOL) continue;
        click(app.ui.toolbar.tools[id]);
        EXPECT_EQ(app.tool, row->value) << row->label;
        EXPECT_EQ(app.brush.eraser != 0, row->eraser != 0) << row->label;
        for (int other = 0; other < GUI_TOOL_BUTTONS; other++) {
            if (_gui_tool(other)->kind != GUI_TOOL_KIND_TOOL) continue;
            EXPECT_EQ(t_gui_button_get_toggled(app.gui, app.ui.toolbar.tools[other]), other == id)
                << row->label << " chosen, " << _gui_tool(other)->label << " shown";
        }
    }
}

/* The texts of the two windows that are always there, in the program's own
 * font: a label cut short or running into its neighbour is a defect a person
 * sees at once, and the translations are longer than the English. */
static std::string _cut_labels(PLUMARO_APP* app, int32_t window) {
    std::string cut;
    T_GUI_WINDOW* win = t_gui_get_window(app->gui, window);
    if (!win) return "no window";
    const T_GUI_METRICS* m = &app->gui->metrics;
    for (LIST_NODE* n = win->widgets->start; n; n = n->next) {
        T_GUI_WIDGET* w = (T_GUI_WIDGET*)n->ptr;
        const char* text = NULL;
        float room = 0.0f;
        if (w->kind == T_GUI_KIND_BUTTON) {
            T_GUI_BUTTON_DATA* d = (T_GUI_BUTTON_DATA*)w->data;
            if (d->shape == 2 && d->normal) continue; /* an icon */
            text = d->label, room = w->w - 2.0f * m->label_padding;
        } else if (w->kind == T_GUI_KIND_CHECKBOX) {
            text = ((T_GUI_CHECKBOX_DATA*)w->data)->label;
            room = w->w - std::min(w->h, m->checkbox_max_size) - m->checkbox_label_gap;
        } else if (w->kind == T_GUI_KIND_LABEL) {
            T_GUI_LABEL_DATA* d = (T_GUI_LABEL_DATA*)w->data;
            if (d->alignment == 3) continue; /* wraps */
            text = d->text, room = w->w - 2.0f * m->label_padding;
        }
        if (text && text[0] && (float)al_get_text_width(app->font, text) > room + 0.5f) cut += std::string(" \"") + text + "\"";
    }
    return cut;
}

TEST_F(Gui, EveryTextOfTheToolbarAndPanelShowsWholeInEachLanguage) {
    al_destroy_font(app.font);
    app.font = NULL;
    for (float scale : {1.0f, 1.5f}) {
        app.ui_scale = scale;
        ASSERT_EQ(_app_load_font(&app), 1);
        for (int language = 1; language <= 4; language++) {
            i18n_set_language(language);
            plumaro_gui_shutdown(&app);
            ASSERT_EQ(plumaro_gui_init(&app), 1);
            EXPECT_EQ(_cut_labels(&app, app.ui.toolbar.window), "") << "toolbar, language " << language << ", scale " << scale;
            EXPECT_EQ(_cut_labels(&app, app.ui.panel.window), "") << "layer panel, language " << language << ", scale " << scale;
        }
    }
    i18n_set_language(1);
}
