/* gui_toolbar: the toolbar at the left edge: its sections (Actions, Tools,
 * Color, Brush, Symmetry, File, Settings), Help and Exit, the callbacks of
 * its widgets and the sync that sets them from the application's state. */
#include <math.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>

#include "app_internal.h"
#include "app_persist.h"
#include "app_tools.h"
#include "gui/gui_private.h"
#include "platform/platform.h"
#include "t_log.h"

enum { SEC_ACTIONS, SEC_TOOLS, SEC_COLOR, SEC_BRUSH, SEC_SYMMETRY, SEC_FILE, SEC_SETTINGS };

static const char* const _section_titles[GUI_TOOLBAR_SECTIONS] = {"Actions",  "Tools", "Color",   "Brush",
                                                                   "Symmetry", "File",  "Settings"};
static const char* const _size_names[APP_RANGE_UI_SIZE.max + 1] = {"Small", "Normal", "Large", "Huge"};

#define TOOL GUI_TOOL_KIND_TOOL
#define SHAPE GUI_TOOL_KIND_SHAPE

/* The tools, the text and the shapes, in the order the help lists them. The
 * selection tools take a float over as it is; the others lay it down first. */
static const GUI_TOOL_ROW _tools[] = {
    {GUI_TOOL_BRUSH, "Brush", "Paint with the current color, size and opacity", ICON_BRUSH, TOOL, TOOL_BRUSH, 0, 1,
     GUI_CMD_BRUSH},
    {GUI_TOOL_ERASER, "Eraser", "Erase to transparent on the active layer", ICON_ERASER, TOOL, TOOL_BRUSH, 1, 1,
     GUI_CMD_ERASER},
    {GUI_TOOL_SELECT, "Select", "Box selection: move, scale, rotate, commit", ICON_SELECT, TOOL, TOOL_SELECT, 0, 0,
     GUI_CMD_SELECT},
    {GUI_TOOL_FILL, "Fill", "Flood-fill from the click with the brush color", ICON_FILL, TOOL, TOOL_FILL, 0, 2,
     GUI_CMD_FILL},
    {GUI_TOOL_GRADIENT, "Gradient", "Drag to lay a linear gradient in the brush color", ICON_GRADIENT, TOOL,
     TOOL_GRADIENT, 0, 1, GUI_CMD_GRADIENT},
    {GUI_TOOL_LASSO, "Lasso", "Freehand lasso selection", ICON_LASSO, TOOL, TOOL_LASSO, 0, 0, GUI_CMD_LASSO},
    {GUI_TOOL_TEXT, "Text", "Type text and drop it as a movable selection", ICON_TEXT, GUI_TOOL_KIND_TEXT, 0, 0, 0,
     -1},
    {GUI_TOOL_LINE, "Line", "Drag a line, move its ends, press off it to draw", ICON_LINE, TOOL, TOOL_LINE, 0, 1,
     GUI_CMD_LINE},
    {GUI_TOOL_CURVE, "Bezier", "Drag a chord, bend it, press off it to draw", ICON_CURVE, TOOL, TOOL_CURVE, 0, 1,
     GUI_CMD_CURVE},
    {GUI_TOOL_RECTANGLE, "Rect", "Drop a rectangle as a movable selection", ICON_RECTANGLE, SHAPE, 0, 0, 0, -1},
    {GUI_TOOL_ELLIPSE, "Circle", "Drop a circle or ellipse as a movable selection", ICON_ELLIPSE, SHAPE, 1, 0, 0, -1},
    {GUI_TOOL_TRIANGLE, "Triangle", "Drop a triangle as a movable selection", ICON_TRIANGLE, SHAPE, 2, 0, 0, -1},
    {GUI_TOOL_STAR, "Star", "Drop a star as a movable selection", ICON_STAR, SHAPE, 3, 0, 0, -1},
    {GUI_TOOL_PENTAGON, "Pentagon", "Drop a pentagon as a movable selection", ICON_PENTAGON, SHAPE, 4, 0, 0, -1},
    {GUI_TOOL_HEXAGON, "Hexagon", "Drop a hexagon as a movable selection", ICON_HEXAGON, SHAPE, 5, 0, 0, -1},
    {GUI_TOOL_ARROW, "Arrow", "Drop an arrow as a movable selection", ICON_ARROW, SHAPE, 6, 0, 0, -1},
};
static_assert(sizeof(_tools) / sizeof(_tools[0]) == GUI_TOOL_BUTTONS, "every tool button needs its row");
static_assert(GUI_TOOL_ARROW - GUI_TOOL_RECTANGLE + 1 == GUI_SHAPES, "a row for each shape");

#undef TOOL
#undef SHAPE

const GUI_TOOL_ROW* _gui_tool(int id) {
    if (id < 0 || id >= GUI_TOOL_BUTTONS || _tools[id].id != id) return NULL;
    return &_tools[id];
}

// The application record a callback was given, with its interface.
#define _APP(user)                             \
    PLUMARO_APP* app = (PLUMARO_APP*)(user);   \
    __t_assert_void(app)

// The index of a widget in an array of ids, or -1.
static int _index_of(const int32_t* ids, int count, int32_t id) {
    for (int i = 0; i < count; i++)
        if (ids[i] == id) return i;
    return -1;
}

// A colour channel as a byte, rounded.
static int _byte(float c) { return (int)(c * 255.0f + 0.5f); }

/* ------------------------------------------------------------------------ */
/* Callbacks: window and sections                                            */
/* ------------------------------------------------------------------------ */

static void _on_toolbar_collapse(int32_t, void* user) {
    _APP(user);
    app->toolbar_collapsed = 1;
    _gui_forget_popups_on_collapse(app);
    _gui_request_rebuild(app);
}

static void _on_toolbar_expand(int32_t, void* user) {
    _APP(user);
    app->toolbar_collapsed = 0;
    _gui_request_rebuild(app);
}

static void _on_hide_click(int32_t, void* user) {
    _APP(user);
    _gui_run_command(app, GUI_CMD_INTERFACE);
}

static void _on_section_toggle(int section, int collapsed, void* user) {
    _APP(user);
    if (section >= 0 && section < GUI_TOOLBAR_SECTIONS) {
        if (collapsed)
            app->section_flags |= GUI_TOOLBAR_SECTION_BIT(section);
        else
            app->section_flags &= ~GUI_TOOLBAR_SECTION_BIT(section);
    }
    _gui_fit_toolbar(app);
    _gui_changed(app);
}

/* ------------------------------------------------------------------------ */
/* Callbacks: actions and tools                                              */
/* ------------------------------------------------------------------------ */

static void _on_undo_click(int32_t, void* user) {
    _APP(user);
    _gui_run_command(app, GUI_CMD_UNDO);
}

static void _on_redo_click(int32_t, void* user) {
    _APP(user);
    _gui_run_command(app, GUI_CMD_REDO);
}

int _gui_choose_tool(PLUMARO_APP* app, int id) {
    __t_assert(app);
    const GUI_TOOL_ROW* row = _gui_tool(id);
    if (!row || row->kind != GUI_TOOL_KIND_TOOL) return 0;
    /* A selection lifted from a layer stays for the fill: it limits it. */
    int keep = row->settles == 2 && app->selection.state == SEL_FLOATING && app->selection.lifted;
    if (row->settles && !keep) plumaro_app_settle(app);
    if (row->eraser)
        plumaro_app_set_eraser(app);
    else
        plumaro_app_set_tool(app, row->value);
    return 1;
}

// A tool button: a tool runs the command that chooses it; the text and the shapes are placed.
static void _on_tool_button(int32_t id, void* user) {
    _APP(user);
    const GUI_TOOL_ROW* row = _gui_tool(_index_of(app->ui.toolbar.tools, GUI_TOOL_BUTTONS, id));
    if (!row) return;
    if (row->kind == GUI_TOOL_KIND_TOOL)
        _gui_run_command(app, row->command);
    else if (row->kind == GUI_TOOL_KIND_TEXT)
        _on_text_button(id, user);
    else
        _place_shape(app, row->value);
}

static void _on_cut_click(int32_t, void* user) {
    _APP(user);
    _gui_run_command(app, GUI_CMD_CUT);
}

static void _on_copy_click(int32_t, void* user) {
    _APP(user);
    _gui_run_command(app, GUI_CMD_COPY);
}

static void _on_paste_click(int32_t, void* user) {
    _APP(user);
    _gui_run_command(app, GUI_CMD_PASTE);
}

static void _on_nav_mode_toggle(int32_t, void* user) {
    _APP(user);
    app->navigate_mode = !app->navigate_mode;
    app->drag.panning = 0;
    plumaro_gui_sync(app);
    app->dirty = 1;
}

static void _on_preset_click(int32_t id, void* user) {
    _APP(user);
    int preset = _index_of(app->ui.toolbar.presets, 4, id);
    if (preset >= 0) {
        int eraser = app->brush.eraser;
        if (brush_apply_preset(&app->brush, brush_preset_name(preset)) == 1) {
            app->brush.eraser = eraser;
            app->brush_preset = preset;
            app->tool = TOOL_BRUSH;
        }
    }
    _refresh_placed_float(app, 1);
    plumaro_gui_sync(app);
    app->dirty = 1;
}

static void _on_pick_toggle(int32_t, void* user) {
    _APP(user);
    _gui_run_command(app, GUI_CMD_PICK);
}

static void _on_stabilizer_change(int32_t, double value, void* user) {
    _APP(user);
    app->stabilizer = (int32_t)(value + 0.5);
    _gui_changed(app);
}

static void _on_shape_fill_toggle(int32_t, void* user) {
    _APP(user);
    app->shapes_solid = !app->shapes_solid;
    t_gui_button_set_toggled(app->gui, app->ui.toolbar.shape_fill, app->shapes_solid);
    _refresh_placed_float(app, 1);
    _gui_changed(app);
}

/* ------------------------------------------------------------------------ */
/* Callbacks: brush sliders                                                   */
/* ------------------------------------------------------------------------ */

// A slider moved by hand: the brush no longer matches a preset.
static void _gui_forget_preset(PLUMARO_APP* app) {
    app->brush_preset = -1;
    for (int i = 0; i < 4; i++) t_gui_button_set_toggled(app->gui, app->ui.toolbar.presets[i], 0);
}

static void _on_size_change(int32_t, double value, void* user) {
    _APP(user);
    _gui_forget_preset(app);
    app->brush.size = (float)value;
    _refresh_placed_float(app, 1);
    _gui_changed(app);
}

static void _on_opacity_change(int32_t, double value, void* user) {
    _APP(user);
    _gui_forget_preset(app);
    app->brush.opacity = (float)(value / 100.0);
    _gui_changed(app);
}

static void _on_flow_change(int32_t, double value, void* user) {
    _APP(user);
    _gui_forget_preset(app);
    app->brush.flow = (float)(value / 100.0);
    _gui_changed(app);
}

static void _on_hardness_change(int32_t, double value, void* user) {
    _APP(user);
    _gui_forget_preset(app);
    app->brush.hardness = (float)(value / 100.0);
    _gui_changed(app);
}

/* ------------------------------------------------------------------------ */
/* Callbacks: colour and palettes                                            */
/* ------------------------------------------------------------------------ */

static void _on_palette_select(int32_t, int index, void* user) {
    _APP(user);
    palette_select(&app->palette, index);
    app->ui.edited_swatch = -1;
    plumaro_gui_sync(app);
    plumaro_app_palette_persist(app);
    app->dirty = 1;
}

// Paints with a swatch's colour, keeping the brush's alpha.
static void _gui_take_swatch(PLUMARO_APP* app, int index) {
    const uint8_t(*colors)[3] = palette_active_colors(&app->palette);
    app->brush.color = al_map_rgba_f(colors[index][0] / 255.0f, colors[index][1] / 255.0f,
                                     colors[index][2] / 255.0f, app->brush.color.a);
    app->brush.eraser = 0;
    app->ui.selected_swatch = index;
    _refresh_placed_float(app, 1);
}

static void _on_swatch_click(int32_t id, void* user) {
    _APP(user);
    int index = _index_of(app->ui.toolbar.swatches, GUI_SWATCHES, id);
    if (index < 0) return;
    if (app->ui.palette_edit) {
        uint8_t rgb[3] = {(uint8_t)_byte(app->brush.color.r), (uint8_t)_byte(app->brush.color.g),
                          (uint8_t)_byte(app->brush.color.b)};
        palette_assign(&app->palette, index, rgb);
        app->ui.edited_swatch = index;
        plumaro_gui_palette_changed(app);
        plumaro_app_palette_persist(app);
    } else {
        _gui_take_swatch(app, index);
        plumaro_gui_sync(app);
    }
    app->dirty = 1;
}

static void _on_palette_edit_toggle(int32_t, void* user) {
    _APP(user);
    GUI_STATE* ui = &app->ui;
    ui->palette_edit = !ui->palette_edit;
    if (ui->palette_edit) {
        ui->edited_swatch = -1;
    } else if (ui->edited_swatch >= 0) {
        _gui_take_swatch(app, ui->edited_swatch);
        ui->edited_swatch = -1;
    }
    plumaro_gui_sync(app);
    app->dirty = 1;
}

static void _on_palette_new(int32_t, void* user) {
    _APP(user);
    if (palette_new_from_active(&app->palette) >= 0) {
        app->ui.edited_swatch = -1;
        _gui_fill_palette_combo(app);
        plumaro_gui_sync(app);
        plumaro_app_palette_persist(app);
    }
    app->dirty = 1;
}

/* ------------------------------------------------------------------------ */
/* Callbacks: symmetry and settings                                          */
/* ------------------------------------------------------------------------ */

// "Sym:X" and the like, translated.
static void _symmetry_text(int mode, char* out, size_t size) {
    snprintf(out, size, i18n_tr("Sym:%s"), i18n_tr(symmetry_mode_name(mode)));
}

// "Tip: Round" and the like, translated.
static void _tip_text(int tip, char* out, size_t size) {
    const char* name = brush_tip_name(tip);
    snprintf(out, size, i18n_tr("Tip: %s"), i18n_tr(name ? name : "Round"));
}

// "Off +12,-3": the symmetry centre's offset from the page centre, translated.
static void _offset_text(int dx, int dy, char* out, size_t size) { snprintf(out, size, i18n_tr("Off %+d,%+d"), dx, dy); }

static void _gui_symmetry_label(PLUMARO_APP* app) {
    char text[96];
    _symmetry_text(app->symmetry.mode, text, sizeof(text));
    t_gui_button_set_label(app->gui, app->ui.toolbar.symmetry, text);
}

static void _on_symmetry_toggle(int32_t, void* user) {
    _APP(user);
    if (app->ui.panel.syncing) return;
    app->symmetry.mode = (app->symmetry.mode + 1) % 5;
    _gui_symmetry_label(app);
    _gui_changed(app);
}

static void _on_sym_move_toggle(int32_t, void* user) {
    _APP(user);
    app->symmetry_edit = !app->symmetry_edit;
    app->drag.symmetry_dragging = 0;
    plumaro_gui_sync(app);
    app->dirty = 1;
}

static void _on_radial_change(int32_t, double value, void* user) {
    _APP(user);
    if (app->ui.panel.syncing) return;
    app->symmetry.segments = (int32_t)(value + 0.5);
    _gui_changed(app);
}

static void _on_sym_reset(int32_t, void* user) {
    _APP(user);
    if (app->doc) {
        app->symmetry.cx = (float)app->doc->width * 0.5f;
        app->symmetry.cy = (float)app->doc->height * 0.5f;
    }
    plumaro_gui_sync_symmetry(app);
    _gui_changed(app);
}

static void _on_pressure_toggle(int32_t, void* user) {
    _APP(user);
    app->pressure_speed = !app->pressure_speed;
    plumaro_app_settings_persist(app);
    plumaro_gui_sync(app);
    app->dirty = 1;
}

static void _on_palm_toggle(int32_t, void* user) {
    _APP(user);
    app->palm_rejection = !app->palm_rejection;
    plumaro_app_settings_persist(app);
    plumaro_gui_sync(app);
    app->dirty = 1;
}

static void _on_lang_combo(int32_t, int index, void* user) {
    _APP(user);
    if (index < 0 || index > 3 || app->language == index + 1) return;
    app->language = index + 1;
    i18n_set_language(app->language);
    plumaro_app_settings_persist(app);
    _gui_request_rebuild(app);
}

static void _on_ui_size_combo(int32_t, int index, void* user) {
    _APP(user);
    if (index < APP_RANGE_UI_SIZE.min || index > APP_RANGE_UI_SIZE.max || index == app->ui_size) return;
    app->ui_size = index;
    plumaro_app_update_ui_scale(app);
    _app_load_font(app);
    plumaro_app_settings_persist(app);
    _gui_request_rebuild(app);
}

/* ------------------------------------------------------------------------ */
/* Building                                                                  */
/* ------------------------------------------------------------------------ */

float _gui_toolbar_inner_width(const GUI_METRICS* m, float display_w) {
    float t = 0.45f * display_w - 20.0f - m->scrollbar;
    return (t < m->toolbar_width && t > 80.0f) ? t : m->toolbar_width;
}

float _gui_toolbar_label_width(PLUMARO_APP* app) {
    __t_assert_return(app, 0.0f);
    if (!app->font || !app->gui) return 0.0f;
    const GUI_METRICS* m = &app->ui.metrics;
    float g = m->gap, need = 0.0f;
    /* A text in a row of `columns` equal cells, beside `beside` pixels of
     * fixed-width widgets. */
    auto fit = [&](const char* text, int columns, float beside) {
        need = std::max(need, _gui_text_room(app, text) * (float)columns + (float)(columns - 1) * g + beside);
    };
    static const char* const whole_rows[] = {"Color",   "Manage palettes", "Export",     "Pressure Speed", "Palm rejection",
                                             "Help",    "Exit",            "Language",   "Interface size", "Size",
                                             "Opacity", "Flow",            "Hardness",   "Rad splits",     "Stabilizer"};
    for (const char* text : whole_rows) fit(i18n_tr(text), 1, 0.0f);
    static const char* const half_rows[] = {"Fill|shape", "Pick", "Edit", "New|palette", "MoveSym", "Reset"};
    for (const char* text : half_rows) fit(i18n_tr(text), 2, 0.0f);
    for (const char* text : {"New", "Save", "Load"}) fit(i18n_tr(text), 3, 0.0f);
    char text[160];
    for (int i = 0; i < GUI_TOOLBAR_SECTIONS; i++) {
        /* The first header sits beside the collapse and hide buttons. */
        snprintf(text, sizeof(text), "- %s", i18n_tr(_section_titles[i]));
        fit(text, 1, i == 0 ? 2.0f * (m->row_h + g) : 0.0f);
    }
    for (int mode = SYMMETRY_OFF; mode <= SYMMETRY_RADIAL; mode++) {
        _symmetry_text(mode, text, sizeof(text));
        fit(text, 2, 0.0f);
    }
    /* The offset is sized for the centre; far offsets are cut like any long label. */
    _offset_text(0, 0, text, sizeof(text));
    fit(text, 2, 0.0f);
    for (int tip = 0; tip < brush_tip_count(); tip++) {
        _tip_text(tip, text, sizeof(text));
        fit(text, 1, (float)m->tip_preview + g);
    }
    return need;
}

int _gui_swatch_of_brush(PLUMARO_APP* app) {
    __t_assert(app);
    const uint8_t(*colors)[3] = palette_active_colors(&app->palette);
    int r = _byte(app->brush.color.r), g = _byte(app->brush.color.g), b = _byte(app->brush.color.b);
    for (int i = 0; i < GUI_SWATCHES; i++)
        if (colors[i][0] == r && colors[i][1] == g && colors[i][2] == b) return i;
    return -1;
}

void _gui_fill_palette_combo(PLUMARO_APP* app) {
    __t_assert_void(app);
    int32_t combo = app->ui.toolbar.palette_combo;
    if (!app->gui || combo < 0) return;
    t_gui_combobox_clear(app->gui, combo);
    for (int i = 0; i < palette_count(&app->palette); i++)
        t_gui_combobox_add_item(app->gui, combo, i18n_tr(palette_name(&app->palette, i)));
    t_gui_combobox_set_selected(app->gui, combo, app->palette.active);
}

// The side tab of a collapsed toolbar.
static int _build_toolbar_tab(PLUMARO_APP* app) {
    app->ui.toolbar.window = _gui_build_side_tab(app, "tools", app->ui.metrics.margin, ">", _on_toolbar_expand);
    return app->ui.toolbar.window >= 0;
}

// An icon button (or toggle) in a section, registered with its icon and tooltip.
static int32_t _icon_button(PLUMARO_APP* app, int section, int toggle, float x, float y, float w, float h, int icon,
                            const char* tooltip, T_GUI_BUTTON_CB callback) {
    GUI_TOOLBAR* tb = &app->ui.toolbar;
    int32_t id = toggle ? t_gui_add_toggle_button(app->gui, tb->window, "", x, y, w, h, 1, 0, callback, app)
                        : t_gui_add_button(app->gui, tb->window, "", x, y, w, h, 1, callback, app);
    _gui_register_icon(app, id, icon, tooltip);
    _gui_section_add(tb->sections, section, id);
    return id;
}

// A text button (or toggle) in a section.
static int32_t _text_button(PLUMARO_APP* app, int section, int toggle, const char* label, float x, float y, float w,
                            float h, T_GUI_BUTTON_CB callback) {
    GUI_TOOLBAR* tb = &app->ui.toolbar;
    int32_t id = toggle
                     ? t_gui_add_toggle_button(app->gui, tb->window, i18n_tr(label), x, y, w, h, 1, 0, callback, app)
                     : t_gui_add_button(app->gui, tb->window, i18n_tr(label), x, y, w, h, 1, callback, app);
    _gui_section_add(tb->sections, section, id);
    return id;
}

// The button of a tool, the text or a shape, as its row says: tools toggle, the others place.
static void _tool_button(PLUMARO_APP* app, int section, int id, float x, float y, float w, float h) {
    const GUI_TOOL_ROW* row = _gui_tool(id);
    if (!row) return;
    app->ui.toolbar.tools[id] =
        _icon_button(app, section, row->kind == GUI_TOOL_KIND_TOOL, x, y, w, h, row->icon, row->tip, _on_tool_button);
}

// Opens a section at y; its first row starts one row below the header.
static int _section(PLUMARO_APP* app, int index, float* y) {
    GUI_TOOLBAR* tb = &app->ui.toolbar;
    int collapsed = (app->section_flags & GUI_TOOLBAR_SECTION_BIT(index)) != 0;
    int section = t_gui_sectionlist_add_section(tb->sections, i18n_tr(_section_titles[index]), *y, collapsed);
    *y += app->ui.metrics.row_h + app->ui.metrics.gap;
    return section;
}

// Actions: undo, redo and the everyday tools in big buttons.
static void _build_actions(PLUMARO_APP* app, float t, float* y) {
    const GUI_METRICS* m = &app->ui.metrics;
    GUI_TOOLBAR* tb = &app->ui.toolbar;
    float g = m->gap, b = m->big_button_h, w3 = (t - 2.0f * g) / 3.0f;
    int sec = _section(app, SEC_ACTIONS, y);
    float x[3] = {10.0f, 10.0f + w3 + g, 10.0f + 2.0f * (w3 + g)};
    tb->undo = _icon_button(app, sec, 0, x[0], *y, w3, b, ICON_UNDO, "Undo the last change", _on_undo_click);
    tb->redo = _icon_button(app, sec, 0, x[1], *y, w3, b, ICON_REDO, "Redo the last undone change", _on_redo_click);
    _tool_button(app, sec, GUI_TOOL_BRUSH, x[2], *y, w3, b);
    *y += b + g;
    _tool_button(app, sec, GUI_TOOL_ERASER, x[0], *y, w3, b);
    _tool_button(app, sec, GUI_TOOL_SELECT, x[1], *y, w3, b);
    _tool_button(app, sec, GUI_TOOL_LASSO, x[2], *y, w3, b);
    *y += b + g;
    tb->cut = _icon_button(app, sec, 0, x[0], *y, w3, b, ICON_CUT, "Cut the floating selection to the clipboard",
                           _on_cut_click);
    tb->copy = _icon_button(app, sec, 0, x[1], *y, w3, b, ICON_COPY, "Copy the floating selection to the clipboard",
                            _on_copy_click);
    tb->paste = _icon_button(app, sec, 0, x[2], *y, w3, b, ICON_PASTE,
                             "Paste the clipboard as a new floating selection", _on_paste_click);
    *y += b + g;
    if (platform_is_touch_primary() == 1) {
        tb->navigate = _icon_button(app, sec, 1, 10.0f, *y, t, b, ICON_NAVIGATE,
                                    "Navigate mode: pan / zoom / rotate only, no drawing", _on_nav_mode_toggle);
        *y += b + g;
    }
}

// Tools: presets, the tip, lines and curves, shapes, fills and text.
static void _build_tools(PLUMARO_APP* app, float t, float* y) {
    const GUI_METRICS* m = &app->ui.metrics;
    GUI_TOOLBAR* tb = &app->ui.toolbar;
    float g = m->gap, r = m->row_h, w4 = (t - 3.0f * g) / 4.0f, w2 = (t - g) / 2.0f;
    int sec = _section(app, SEC_TOOLS, y);
    float x[4];
    for (int k = 0; k < 4; k++) x[k] = 10.0f + (float)k * (w4 + g);
    for (int i = 0; i < 4; i++)
        tb->presets[i] = _icon_button(app, sec, 1, x[i], *y, w4, r, ICON_PRESET + i, brush_preset_name(i),
                                      _on_preset_click);
    *y += r + g;
    float p = (float)m->tip_preview;
    tb->tip = _text_button(app, sec, 0, "Tip: %s", 10.0f, *y, t - p - g, r, _on_tip_click);
    tb->tip_preview = t_gui_add_label(app->gui, tb->window, " ", 10.0f + t - p, *y, p, r, 0);
    _gui_section_add(tb->sections, sec, tb->tip_preview);
    *y += r + g;
    /* Four to a row: line, curve and two shapes; four shapes; fill, gradient, text and the arrow. */
    static const int rows[3][4] = {{GUI_TOOL_LINE, GUI_TOOL_CURVE, GUI_TOOL_RECTANGLE, GUI_TOOL_ELLIPSE},
                                   {GUI_TOOL_TRIANGLE, GUI_TOOL_STAR, GUI_TOOL_PENTAGON, GUI_TOOL_HEXAGON},
                                   {GUI_TOOL_FILL, GUI_TOOL_GRADIENT, GUI_TOOL_TEXT, GUI_TOOL_ARROW}};
    for (const auto& row : rows) {
        for (int k = 0; k < 4; k++) _tool_button(app, sec, row[k], x[k], *y, w4, r);
        *y += r + g;
    }
    tb->shape_fill = _text_button(app, sec, 1, "Fill|shape", 10.0f, *y, w2, r, _on_shape_fill_toggle);
    tb->pick = _text_button(app, sec, 1, "Pick", 10.0f + w2 + g, *y, w2, r, _on_pick_toggle);
    t_gui_widget_set_tooltip(app->gui, tb->pick, i18n_tr("Pick a color from the canvas (Ctrl+click, I)"));
    *y += r + g;
}

// Color: palettes, the colour chip and the eight swatches.
static void _build_color(PLUMARO_APP* app, float t, float* y) {
    const GUI_METRICS* m = &app->ui.metrics;
    GUI_TOOLBAR* tb = &app->ui.toolbar;
    float g = m->gap, r = m->row_h, w4 = (t - 3.0f * g) / 4.0f, w2 = (t - g) / 2.0f;
    int sec = _section(app, SEC_COLOR, y);
    tb->palette_combo = t_gui_add_combobox(app->gui, tb->window, 10.0f, *y, t, r, _on_palette_select, app);
    _gui_section_add(tb->sections, sec, tb->palette_combo);
    _gui_fill_palette_combo(app);
    *y += r + g;
    tb->chip = _text_button(app, sec, 0, "Color", 10.0f, *y, t, r, _on_chip_click);
    *y += r + g;
    for (int i = 0; i < GUI_SWATCHES; i++) {
        float x = 10.0f + (float)(i % 4) * (w4 + g);
        tb->swatches[i] = _text_button(app, sec, 0, " ", x, *y + (float)(i / 4) * (r + g), w4, r, _on_swatch_click);
    }
    *y += 2.0f * (r + g);
    tb->palette_edit = _text_button(app, sec, 1, "Edit", 10.0f, *y, w2, r, _on_palette_edit_toggle);
    tb->palette_new = _text_button(app, sec, 0, "New|palette", 10.0f + w2 + g, *y, w2, r, _on_palette_new);
    *y += r + g;
    tb->palette_manage = _text_button(app, sec, 0, "Manage palettes", 10.0f, *y, t, r, _on_palette_manage);
    *y += r + g;
}

// Brush: size, opacity, flow and hardness.
static void _build_brush(PLUMARO_APP* app, float t, float* y) {
    GUI_TOOLBAR* tb = &app->ui.toolbar;
    int sec = _section(app, SEC_BRUSH, y);
    const BRUSH* b = &app->brush;
    tb->size = _gui_labelled_slider(app, tb->window, tb->sections, sec, "Size", t, y, APP_RANGE_BRUSH_SIZE, b->size,
                                    "%.0f px", _on_size_change);
    tb->opacity = _gui_labelled_slider(app, tb->window, tb->sections, sec, "Opacity", t, y, APP_RANGE_OPACITY,
                                       100.0 * b->opacity, "%.0f %%", _on_opacity_change);
    tb->flow = _gui_labelled_slider(app, tb->window, tb->sections, sec, "Flow", t, y, APP_RANGE_FLOW, 100.0 * b->flow,
                                    "%.0f %%", _on_flow_change);
    tb->hardness = _gui_labelled_slider(app, tb->window, tb->sections, sec, "Hardness", t, y, APP_RANGE_HARDNESS,
                                        100.0 * b->hardness, "%.0f %%", _on_hardness_change);
}

// Symmetry: the mode, moving and resetting the centre, radial slices.
static void _build_symmetry(PLUMARO_APP* app, float t, float* y) {
    const GUI_METRICS* m = &app->ui.metrics;
    GUI_TOOLBAR* tb = &app->ui.toolbar;
    float g = m->gap, r = m->row_h, w2 = (t - g) / 2.0f;
    int sec = _section(app, SEC_SYMMETRY, y);
    tb->symmetry = _text_button(app, sec, 0, "Sym:%s", 10.0f, *y, w2, r, _on_symmetry_toggle);
    tb->symmetry_move = _text_button(app, sec, 1, "MoveSym", 10.0f + w2 + g, *y, w2, r, _on_sym_move_toggle);
    *y += r + g;
    tb->radial = _gui_labelled_slider(app, tb->window, tb->sections, sec, "Rad splits", t, y, APP_RANGE_RADIAL_SPLITS,
                                      app->symmetry.segments, "%.0f", _on_radial_change);
    tb->symmetry_reset = _text_button(app, sec, 0, "Reset", 10.0f, *y, w2, r, _on_sym_reset);
    tb->symmetry_offset = t_gui_add_label(app->gui, tb->window, i18n_tr("Off 0,0"), 10.0f + w2 + g, *y, w2, r, 0);
    _gui_section_add(tb->sections, sec, tb->symmetry_offset);
    *y += r + g;
}

// File: new, save, load, export.
static void _build_file(PLUMARO_APP* app, float t, float* y) {
    const GUI_METRICS* m = &app->ui.metrics;
    GUI_TOOLBAR* tb = &app->ui.toolbar;
    float g = m->gap, r = m->row_h, w3 = (t - 2.0f * g) / 3.0f;
    int sec = _section(app, SEC_FILE, y);
    tb->file_new = _text_button(app, sec, 0, "New", 10.0f, *y, w3, r, _on_new_click);
    tb->file_save = _text_button(app, sec, 0, "Save", 10.0f + w3 + g, *y, w3, r, _on_save_click);
    tb->file_load = _text_button(app, sec, 0, "Load", 10.0f + 2.0f * (w3 + g), *y, w3, r, _on_load_click);
    *y += r + g;
    tb->file_export = _text_button(app, sec, 0, "Export", 10.0f, *y, t, r, _on_export_click);
    *y += r + g;
}

// Settings: pressure, palm rejection, language and interface size.
static void _build_settings(PLUMARO_APP* app, float t, float* y) {
    const GUI_METRICS* m = &app->ui.metrics;
    GUI_TOOLBAR* tb = &app->ui.toolbar;
    float g = m->gap, r = m->row_h, l = 0.6f * r;
    int sec = _section(app, SEC_SETTINGS, y);
    tb->pressure = _text_button(app, sec, 1, "Pressure Speed", 10.0f, *y, t, r, _on_pressure_toggle);
    *y += r + g;
    tb->palm = _text_button(app, sec, 1, "Palm rejection", 10.0f, *y, t, r, _on_palm_toggle);
    *y += r + g;
    int32_t caption = t_gui_add_label(app->gui, tb->window, i18n_tr("Language"), 10.0f, *y, t, l, 0);
    _gui_section_add(tb->sections, sec, caption);
    tb->language = t_gui_add_combobox(app->gui, tb->window, 10.0f, *y + l, t, r, _on_lang_combo, app);
    for (int lang = 1; lang <= 4; lang++) t_gui_combobox_add_item(app->gui, tb->language, i18n_language_name(lang));
    t_gui_combobox_set_selected(app->gui, tb->language, app->language >= 1 && app->language <= 4 ? app->language - 1 : 0);
    _gui_section_add(tb->sections, sec, tb->language);
    *y += l + r + g;
    caption = t_gui_add_label(app->gui, tb->window, i18n_tr("Interface size"), 10.0f, *y, t, l, 0);
    _gui_section_add(tb->sections, sec, caption);
    tb->ui_size = t_gui_add_combobox(app->gui, tb->window, 10.0f, *y + l, t, r, _on_ui_size_combo, app);
    for (const char* name : _size_names) t_gui_combobox_add_item(app->gui, tb->ui_size, i18n_tr(name));
    int size = app->ui_size;
    t_gui_combobox_set_selected(app->gui, tb->ui_size, app_range_clamp(APP_RANGE_UI_SIZE, size) == size ? size : 1);
    _gui_section_add(tb->sections, sec, tb->ui_size);
    *y += l + r + g;
    tb->stabilizer = _gui_labelled_slider(app, tb->window, tb->sections, sec, "Stabilizer", t, y, APP_RANGE_STABILIZER,
                                          app->stabilizer, "%.0f", _on_stabilizer_change);
}

int _build_toolbar(PLUMARO_APP* app) {
    __t_assert(app);
    __t_assert(app->gui);
    if (app->toolbar_collapsed) return _build_toolbar_tab(app);
    const GUI_METRICS* m = &app->ui.metrics;
    GUI_TOOLBAR* tb = &app->ui.toolbar;
    float t = _gui_toolbar_inner_width(m, (float)app->display_w), r = m->row_h, g = m->gap;
    /* Longer translated texts widen the toolbar, up to the share of the
     * display the toolbar may take. */
    float labels = _gui_toolbar_label_width(app);
    if (t < labels) t = std::max(t, std::min(labels, 0.45f * (float)app->display_w - 20.0f - m->scrollbar));
    float h = (float)app->display_h - 2.0f * m->margin;
    int32_t win = t_gui_add_window(app->gui, "tools", m->margin, m->margin, t + 20.0f + m->scrollbar, h);
    if (win < 0) {
        t_log(LOG_ERR, "could not create toolbar window");
        return 0;
    }
    tb->window = win;
    /* A fresh start shows the everyday sections open and the rest folded;
     * stored settings keep what the user last folded. */
    if (!app->ui.built_once && !app->settings_applied) {
        app->section_flags &= ~0x7Fu;
        app->section_flags |= GUI_TOOLBAR_SECTION_BIT(4) | GUI_TOOLBAR_SECTION_BIT(5) | GUI_TOOLBAR_SECTION_BIT(6);
    }
    t_gui_window_set_flags(app->gui, win, GUI_WIN_FIXED_SCROLL);
    t_gui_window_set_zorder(app->gui, win, T_GUI_ZORDER_ALWAYS_ON_TOP, 0);
    tb->sections = t_gui_sectionlist_create(app->gui, win, 10.0f, 10.0f, t, r, g, _on_section_toggle, app);
    if (!tb->sections) {
        t_log(LOG_ERR, "could not create toolbar window");
        return 0;
    }
    tb->collapse = t_gui_add_button(app->gui, win, "", 10.0f, 10.0f, r, r, 1, _on_toolbar_collapse, app);
    _gui_register_icon(app, tb->collapse, ICON_COLLAPSE, "Collapse or expand the whole toolbar to a side tab");
    tb->hide = t_gui_add_button(app->gui, win, "", 10.0f + r + g, 10.0f, r, r, 1, _on_hide_click, app);
    _gui_register_icon(app, tb->hide, ICON_HIDE, "Hide the whole UI for a clean canvas");
    float y = 10.0f;
    _build_actions(app, t, &y);
    _build_tools(app, t, &y);
    _build_color(app, t, &y);
    _build_brush(app, t, &y);
    _build_symmetry(app, t, &y);
    _build_file(app, t, &y);
    _build_settings(app, t, &y);
    t_gui_sectionlist_set_header_indent(tb->sections, 2.0f * (r + g));
    /* Help and Exit belong to no section; the fit places them below the last one. */
    tb->help = t_gui_add_button(app->gui, win, i18n_tr("Help"), 10.0f, y, t, r, 1, _on_help_button, app);
    tb->quit = t_gui_add_button(app->gui, win, i18n_tr("Exit"), 10.0f, y + r + g, t, r, 1, _on_quit_button, app);
    t_gui_sectionlist_relayout(tb->sections);
    _gui_fit_toolbar(app);
    t_gui_open_window(app->gui, win);
    return 1;
}

void _gui_fit_toolbar(PLUMARO_APP* app) {
    __t_assert_void(app);
    GUI_TOOLBAR* tb = &app->ui.toolbar;
    if (!app->gui || !tb->sections) return;
    const GUI_METRICS* m = &app->ui.metrics;
    T_GUI_WIDGET* help = t_gui_get_widget(app->gui, tb->help);
    T_GUI_WIDGET* quit = t_gui_get_widget(app->gui, tb->quit);
    T_GUI_WINDOW* win = t_gui_get_window(app->gui, tb->window);
    if (!help || !quit || !win) return;
    float help_y = t_gui_sectionlist_content_bottom(tb->sections) + m->gap;
    float quit_y = help_y + help->h + m->gap;
    float h = fminf((float)app->display_h - 2.0f * m->margin, quit_y + quit->h + 10.0f);
    t_gui_window_set_size(app->gui, tb->window, win->w, h);
    /* The widgets' normalized rectangles follow the new window size. */
    t_gui_widget_set_rect(app->gui, tb->help, help->x, help_y, help->w, help->h);
    t_gui_widget_set_rect(app->gui, tb->quit, quit->x, quit_y, quit->w, quit->h);
}

/* ------------------------------------------------------------------------ */
/* Sync                                                                      */
/* ------------------------------------------------------------------------ */

// The colour chip and the swatches: their colours and the "x" marker.
static void _gui_sync_colors(PLUMARO_APP* app) {
    GUI_STATE* ui = &app->ui;
    GUI_TOOLBAR* tb = &ui->toolbar;
    T_GUI_STYLE chip = _gui_swatch_style(al_map_rgb_f(app->brush.color.r, app->brush.color.g, app->brush.color.b));
    t_gui_widget_set_style(app->gui, tb->chip, &chip);
    int chip_marked = !ui->palette_edit && ui->selected_swatch == GUI_SWATCH_CHIP;
    t_gui_button_set_label(app->gui, tb->chip, chip_marked ? "x" : i18n_tr("Color"));
    const uint8_t(*colors)[3] = palette_active_colors(&app->palette);
    int marked = ui->palette_edit ? ui->edited_swatch : ui->selected_swatch;
    for (int i = 0; i < GUI_SWATCHES; i++) {
        T_GUI_STYLE style = _gui_swatch_style(al_map_rgb(colors[i][0], colors[i][1], colors[i][2]));
        t_gui_widget_set_style(app->gui, tb->swatches[i], &style);
        t_gui_button_set_label(app->gui, tb->swatches[i], i == marked ? "x" : " ");
    }
    t_gui_button_set_toggled(app->gui, tb->palette_edit, ui->palette_edit);
    t_gui_combobox_set_selected(app->gui, tb->palette_combo, app->palette.active);
}

void plumaro_gui_sync(PLUMARO_APP* app) {
    __t_assert_void(app);
    app->gui_cache_valid = 0;
    if (!app->gui) return;
    _gui_sync_grid(app);
    if (app->toolbar_collapsed || !app->ui.toolbar.sections) return;
    GUI_TOOLBAR* tb = &app->ui.toolbar;
    T_GUI_CTX* ctx = app->gui;
    int tool = app->tool, eraser = app->brush.eraser;
    for (int id = 0; id < GUI_TOOL_BUTTONS; id++) {
        const GUI_TOOL_ROW* row = _gui_tool(id);
        if (row->kind == GUI_TOOL_KIND_TOOL)
            t_gui_button_set_toggled(ctx, tb->tools[id], tool == row->value && (eraser != 0) == (row->eraser != 0));
    }
    t_gui_button_set_toggled(ctx, tb->navigate, app->navigate_mode);
    t_gui_button_set_toggled(ctx, tb->shape_fill, app->shapes_solid);
    t_gui_button_set_toggled(ctx, tb->pick, app->sampler_armed);
    t_gui_slider_set_value(ctx, tb->stabilizer, app->stabilizer);
    t_gui_slider_set_value(ctx, tb->size, app->brush.size);
    t_gui_slider_set_value(ctx, tb->opacity, 100.0 * app->brush.opacity);
    t_gui_slider_set_value(ctx, tb->flow, 100.0 * app->brush.flow);
    t_gui_slider_set_value(ctx, tb->hardness, 100.0 * app->brush.hardness);
    t_gui_button_set_toggled(ctx, tb->pressure, app->pressure_speed);
    t_gui_button_set_toggled(ctx, tb->palm, app->palm_rejection);
    _gui_symmetry_label(app);
    t_gui_slider_set_value(ctx, tb->radial, app->symmetry.segments);
    for (int i = 0; i < 4; i++) t_gui_button_set_toggled(ctx, tb->presets[i], app->brush_preset == i);
    _gui_sync_colors(app);
    char tip[96];
    _tip_text(app->brush.tip, tip, sizeof(tip));
    t_gui_button_set_label(ctx, tb->tip, tip);
    plumaro_gui_sync_symmetry(app);
}

void plumaro_gui_sync_symmetry(PLUMARO_APP* app) {
    __t_assert_void(app);
    app->gui_cache_valid = 0;
    if (!app->gui || app->ui.toolbar.symmetry_move < 0) return;
    t_gui_button_set_toggled(app->gui, app->ui.toolbar.symmetry_move, app->symmetry_edit);
    int dx = 0, dy = 0;
    if (app->doc) {
        dx = (int)(app->symmetry.cx - (float)app->doc->width * 0.5f);
        dy = (int)(app->symmetry.cy - (float)app->doc->height * 0.5f);
    }
    char text[96];
    _offset_text(dx, dy, text, sizeof(text));
    t_gui_label_set_text(app->gui, app->ui.toolbar.symmetry_offset, text);
}

void plumaro_gui_palette_changed(PLUMARO_APP* app) {
    __t_assert_void(app);
    _gui_fill_palette_combo(app);
    plumaro_gui_sync(app);
}
