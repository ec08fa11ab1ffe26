/* gui_commands: the commands a key, a button and the help's shortcut list
 * share: one function each, its keys and its line in the help. A key runs
 * the command bound to it; a button runs the command it stands for. */
#include <math.h>

#include "app_commands.h"
#include "app_tools.h"
#include "canvas/undo.h"
#include "canvas/view.h"
#include "gui/gui_private.h"
#include "t_log.h"

/* ------------------------------------------------------------------------ */
/* The commands                                                              */
/* ------------------------------------------------------------------------ */

static int _cmd_save(PLUMARO_APP* app) {
    plumaro_app_settle(app);
    plumaro_gui_request_save(app);
    return 1;
}

static int _cmd_open(PLUMARO_APP* app) {
    plumaro_app_settle(app);
    plumaro_app_open_sketch(app);
    return 1;
}

static int _cmd_export(PLUMARO_APP* app) {
    plumaro_app_settle(app);
    plumaro_app_export_sketch(app);
    return 1;
}

static int _cmd_undo(PLUMARO_APP* app) {
    plumaro_app_settle(app);
    if (app->doc && undo_perform(app->doc) == 1) plumaro_gui_sync_layers(app);
    return 1;
}

static int _cmd_redo(PLUMARO_APP* app) {
    plumaro_app_settle(app);
    if (app->doc && redo_perform(app->doc) == 1) plumaro_gui_sync_layers(app);
    return 1;
}

static int _cmd_cut(PLUMARO_APP* app) {
    plumaro_app_clipboard_cut(app);
    return 1;
}

static int _cmd_copy(PLUMARO_APP* app) {
    plumaro_app_clipboard_copy(app);
    return 1;
}

static int _cmd_paste(PLUMARO_APP* app) {
    plumaro_app_clipboard_paste(app);
    return 1;
}

// Enter: the line or curve being edited is painted, else the float is laid down.
static int _cmd_commit(PLUMARO_APP* app) {
    if (form_is_active(&app->form)) {
        plumaro_app_commit_form(app);
        return 1;
    }
    if (app->selection.state == SEL_FLOATING) {
        plumaro_app_commit_float(app);
        return 1;
    }
    return 0;
}

/* The tools, as their rows in the table of tools say. */
static int _cmd_brush(PLUMARO_APP* app) { return _gui_choose_tool(app, GUI_TOOL_BRUSH); }
static int _cmd_eraser(PLUMARO_APP* app) { return _gui_choose_tool(app, GUI_TOOL_ERASER); }
static int _cmd_select(PLUMARO_APP* app) { return _gui_choose_tool(app, GUI_TOOL_SELECT); }
static int _cmd_lasso(PLUMARO_APP* app) { return _gui_choose_tool(app, GUI_TOOL_LASSO); }
static int _cmd_line(PLUMARO_APP* app) { return _gui_choose_tool(app, GUI_TOOL_LINE); }
static int _cmd_curve(PLUMARO_APP* app) { return _gui_choose_tool(app, GUI_TOOL_CURVE); }
static int _cmd_fill(PLUMARO_APP* app) { return _gui_choose_tool(app, GUI_TOOL_FILL); }
static int _cmd_gradient(PLUMARO_APP* app) { return _gui_choose_tool(app, GUI_TOOL_GRADIENT); }

static int _cmd_smaller(PLUMARO_APP* app) {
    app->brush.size = fmaxf((float)APP_RANGE_BRUSH_SIZE.min, app->brush.size / 1.25f);
    _refresh_placed_float(app, 1);
    return 1;
}

static int _cmd_larger(PLUMARO_APP* app) {
    app->brush.size = fminf((float)APP_RANGE_BRUSH_SIZE.max, app->brush.size * 1.25f);
    _refresh_placed_float(app, 1);
    return 1;
}

static int _cmd_fit(PLUMARO_APP* app) {
    if (app->doc) view_fit(&app->view, app->doc->width, app->doc->height, app->display_w, app->display_h);
    return 1;
}

static int _cmd_grid(PLUMARO_APP* app) {
    app->grid.visible = !app->grid.visible;
    return 1;
}

static int _cmd_snap(PLUMARO_APP* app) {
    app->grid.snap = !app->grid.snap;
    return 1;
}

static int _cmd_diagonals(PLUMARO_APP* app) {
    app->grid.diagonals = !app->grid.diagonals;
    return 1;
}

static int _cmd_interface(PLUMARO_APP* app) {
    plumaro_gui_set_visible(app, !app->gui_visible);
    return 1;
}

// Space held down: a left press pans (its release is the canvas state's).
static int _cmd_pan(PLUMARO_APP* app) {
    app->space_held = 1;
    return 1;
}

static int _cmd_pick(PLUMARO_APP* app) {
    app->sampler_armed = !app->sampler_armed;
    return 1;
}

#define CTRL GUI_MOD_CTRL
#define SHIFT GUI_MOD_SHIFT

/* In the order of the help's shortcut list; commands that share a line
 * there give it the same texts. */
static const GUI_COMMAND _commands[GUI_CMD_COUNT] = {
    {GUI_CMD_SAVE, "save", _cmd_save, {{ALLEGRO_KEY_S, CTRL}}, GUI_CMD_IDLE, "Ctrl+S", "Save"},
    {GUI_CMD_OPEN, "open", _cmd_open, {{ALLEGRO_KEY_O, CTRL}}, GUI_CMD_IDLE, "Ctrl+O", "Open / load"},
    {GUI_CMD_EXPORT, "export", _cmd_export, {{ALLEGRO_KEY_E, CTRL}}, GUI_CMD_IDLE, "Ctrl+E", "Export PNG"},
    {GUI_CMD_UNDO, "undo", _cmd_undo, {{ALLEGRO_KEY_Z, CTRL}}, 0, "Ctrl+Z", "Undo"},
    {GUI_CMD_REDO, "redo", _cmd_redo, {{ALLEGRO_KEY_Y, CTRL}, {ALLEGRO_KEY_Z, CTRL | SHIFT}}, 0, "Ctrl+Y",
     "Redo (also Ctrl+Shift+Z)"},
    {GUI_CMD_CUT, "cut", _cmd_cut, {{ALLEGRO_KEY_X, CTRL}}, 0, "Ctrl+X / C / V", "Cut / copy / paste selection"},
    {GUI_CMD_COPY, "copy", _cmd_copy, {{ALLEGRO_KEY_C, CTRL}}, 0, "Ctrl+X / C / V", "Cut / copy / paste selection"},
    {GUI_CMD_PASTE, "paste", _cmd_paste, {{ALLEGRO_KEY_V, CTRL}}, 0, "Ctrl+X / C / V",
     "Cut / copy / paste selection"},
    {GUI_CMD_COMMIT, "commit", _cmd_commit, {{ALLEGRO_KEY_ENTER, 0}, {ALLEGRO_KEY_PAD_ENTER, 0}}, 0, "Enter",
     "Commit the float, or the pending line/curve"},
    {GUI_CMD_BRUSH, "brush", _cmd_brush, {{ALLEGRO_KEY_B, 0}}, 0, "B / E", "Brush / Eraser"},
    {GUI_CMD_ERASER, "eraser", _cmd_eraser, {{ALLEGRO_KEY_E, 0}}, 0, "B / E", "Brush / Eraser"},
    {GUI_CMD_SELECT, "select", _cmd_select, {{ALLEGRO_KEY_S, 0}}, 0, "S / L", "Select / Lasso"},
    {GUI_CMD_LASSO, "lasso", _cmd_lasso, {{ALLEGRO_KEY_L, 0}}, 0, "S / L", "Select / Lasso"},
    {GUI_CMD_SMALLER, "smaller", _cmd_smaller, {{ALLEGRO_KEY_OPENBRACE, 0}}, 0, "[  /  ]",
     "Decrease / increase brush size"},
    {GUI_CMD_LARGER, "larger", _cmd_larger, {{ALLEGRO_KEY_CLOSEBRACE, 0}}, 0, "[  /  ]",
     "Decrease / increase brush size"},
    {GUI_CMD_FIT, "fit", _cmd_fit, {{ALLEGRO_KEY_F, 0}}, 0, "F", "Fit and reset the view"},
    {GUI_CMD_GRID, "grid", _cmd_grid, {{ALLEGRO_KEY_G, 0}}, 0, "G / Shift+G", "Toggle grid / grid snap"},
    {GUI_CMD_SNAP, "snap", _cmd_snap, {{ALLEGRO_KEY_G, SHIFT}}, 0, "G / Shift+G", "Toggle grid / grid snap"},
    {GUI_CMD_DIAGONALS, "diagonals", _cmd_diagonals, {{ALLEGRO_KEY_D, 0}}, 0, "D", "Toggle grid diagonals"},
    {GUI_CMD_INTERFACE, "interface", _cmd_interface, {{ALLEGRO_KEY_TAB, 0}}, 0, "Tab", "Show or hide the UI"},
    {GUI_CMD_PAN, "pan", _cmd_pan, {{ALLEGRO_KEY_SPACE, 0}}, 0, "Space (hold)", "Pan with the left button"},
    {GUI_CMD_PICK, "pick", _cmd_pick, {{ALLEGRO_KEY_I, 0}}, 0, "I", "Pick the next color clicked, then keep the tool"},
    /* Tools chosen by their buttons alone. */
    {GUI_CMD_LINE, "line", _cmd_line, {}, 0, NULL, NULL},
    {GUI_CMD_CURVE, "curve", _cmd_curve, {}, 0, NULL, NULL},
    {GUI_CMD_FILL, "fill", _cmd_fill, {}, 0, NULL, NULL},
    {GUI_CMD_GRADIENT, "gradient", _cmd_gradient, {}, 0, NULL, NULL},
};

#undef CTRL
#undef SHIFT

/* ------------------------------------------------------------------------ */
/* Running them                                                              */
/* ------------------------------------------------------------------------ */

const GUI_COMMAND* _gui_command(int id) {
    if (id < 0 || id >= GUI_CMD_COUNT || _commands[id].id != id) return NULL;
    return &_commands[id];
}

int _gui_run_command(PLUMARO_APP* app, int id) {
    __t_assert(app);
    const GUI_COMMAND* command = _gui_command(id);
    if (!command) {
        t_log(LOG_ERR, "no command %d", id);
        return 0;
    }
    if (!command->run(app)) return 0;
    /* The toolbar's toggles and sliders follow what the command changed. */
    plumaro_gui_sync(app);
    app->dirty = 1;
    return 1;
}

// The command bound to a key with exactly these modifiers, or -1.
static int _gui_command_bound(int key, int mods) {
    for (int i = 0; i < GUI_CMD_COUNT; i++)
        for (const GUI_BINDING& b : _commands[i].keys)
            if (b.key && b.key == key && b.mods == mods) return i;
    return -1;
}

int _gui_command_for_key(int key, int ctrl, int shift, int stroke) {
    int shifted = shift ? GUI_MOD_SHIFT : 0;
    if (ctrl) {
        /* A Ctrl key without a binding of its own, or one that waits for
         * the stroke to end, is the same key without Ctrl. */
        int id = _gui_command_bound(key, GUI_MOD_CTRL | shifted);
        if (id < 0 && shift) id = _gui_command_bound(key, GUI_MOD_CTRL);
        if (id >= 0 && !(stroke && (_commands[id].flags & GUI_CMD_IDLE))) return id;
    }
    /* Shift matters only to keys bound with it. */
    int id = _gui_command_bound(key, shifted);
    if (id < 0 && shift) id = _gui_command_bound(key, 0);
    return id;
}

int plumaro_gui_key_command(PLUMARO_APP* app, int key, int ctrl, int shift) {
    __t_assert(app);
    int id = _gui_command_for_key(key, ctrl, shift, app->stroke.active);
    return id >= 0 ? _gui_run_command(app, id) : 0;
}
