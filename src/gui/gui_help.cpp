/* gui_help: the help reference: eleven tabs of keyed rows (a control or a
 * key, and what it does) and notes, in a header window with the tabs and a
 * scrolling body below it. */
#include <stdio.h>
#include <string.h>

#include "gui/gui_private.h"
#include "t_log.h"

// The application record a callback was given.
#define _APP(user)                           \
    PLUMARO_APP* app = (PLUMARO_APP*)(user); \
    __t_assert_void(app)

/* A tab: its rows, or the function that makes them from the tables of the
 * tools and the commands. */
typedef struct HELP_TAB {
    const char* title;
    const HELP_ROW* rows;
    int count;
    int (*make)(HELP_ROW* out, int max);
} HELP_TAB;

#define NOTE(text) {NULL, text}

static const HELP_ROW _overview[] = {
    NOTE("Plumaro - a layered sketching app"),
    {"Action block", "Pinned on top: the nine everyday buttons"},
    {"Toolbar", "Left dock: foldable sections of tools"},
    {"Section header", "Tap a header to fold or unfold that section"},
    {"<  /  >", "Collapse or expand the whole toolbar to a side tab"},
    {"Layers panel", "Right dock: layers, template, blend, opacity"},
    {"Help", "Open this reference"},
    {"Exit", "Quit Plumaro (asks to confirm)"},
    NOTE("Hover an icon to see what it does"),
    NOTE("Draw with the left mouse button or one finger"),
    NOTE("Your settings persist across sessions"),
};

/* The tools tab after the rows of the tools, the text and the shapes. */
static const HELP_ROW _tools_after[] = {
    NOTE("Resizing a shape keeps the brush stroke width"),
    NOTE("A pending line or curve follows the color picked"),
    {"Fill|shape", "Placed shapes are solid when on, outlines when off"},
    {"Hide UI", "Hide the whole UI for a clean canvas"},
    NOTE("Hidden UI: tap the corner handle to restore"),
    {"Pick", "Pick a color from the canvas (Ctrl+click, I)"},
    {"Presets", "Quick brush setups (pencil, ink, marker...)"},
    {"Tip", "Choose the brush tip shape (round, square, ...)"},
};

static const HELP_ROW _brush[] = {
    {"Size", "Brush diameter, 1 to 128 px"},
    {"Opacity", "Overall stroke opacity, 1 to 100%"},
    {"Flow", "Paint laid down per dab, 1 to 100%"},
    {"Hardness", "Edge softness, 0 (soft) to 100% (hard)"},
};

static const HELP_ROW _color[] = {
    {"Palette", "Pick the active palette (a preset or your own)"},
    {"Color chip", "Open the R/G/B/A picker for a custom color"},
    {"Swatches", "Tap a swatch to paint with that color"},
    {"Edit", "On: tap a swatch to store the current color"},
    {"New|palette", "Fork the current colors into a new palette"},
    {"Manage palettes", "Rename, reset or remove palettes"},
    {"Rename palette", "Rename the active (user) palette"},
    {"Reset palette", "Restore the palette to its baseline colors"},
    {"Remove palette", "Delete the active custom palette"},
    {"Reset all", "Factory-reset every palette (asks to confirm)"},
    NOTE("Picker: R/G/B set the color, A sets its transparency"),
    {"x marker", "Shows which swatch or chip is the active color"},
};

static const HELP_ROW _edit[] = {
    NOTE("All pinned in the top action block"),
    {"Undo", "Undo the last change"},
    {"Redo", "Redo the last undone change"},
    {"Cut", "Cut the floating selection to the clipboard"},
    {"Copy", "Copy the floating selection to the clipboard"},
    {"Paste", "Paste the clipboard as a new floating selection"},
    {"Clear", "Clear the active layer (asks to confirm)"},
    NOTE("Clear lives in the layers panel"),
};

static const HELP_ROW _layers[] = {
    NOTE("Layers panel (right dock)"),
    {"List", "Tap a layer to make it active (top = front)"},
    {"Template", "Guide drawn under all layers (grid, dots...)"},
    {"+  /  -", "Add a new layer / delete the active layer"},
    {"Up / Dn", "Move the active layer toward the top / bottom"},
    {"Show", "Toggle the active layer's visibility"},
    {"Lock", "Lock the active layer against edits"},
    {"Blend", "Cycle blend mode: normal, multiply, screen, add"},
    {"Opacity", "Active layer opacity, 0 to 100%"},
    {"Clear", "Clear the active layer (asks to confirm)"},
    {"Rename", "Rename the active layer"},
};

static const HELP_ROW _canvas[] = {
    {"Grid", "Toggle the grid overlay"},
    {"Snap", "Snap strokes and segments to the grid"},
    {"Diagonals", "Add diagonal grid lines and snap points"},
    NOTE("Diagonals show even with the grid off"),
    NOTE("Snap also sizes and centers placed shapes"),
    {"Grid size", "Cell size and snap step, 2 to 256 px"},
    NOTE("Navigate: wheel zooms, Ctrl+wheel rotates"),
    {"Pan", "Middle-button drag, or hold Space and drag"},
};

static const HELP_ROW _symmetry[] = {
    {"Sym", "Cycle symmetry: Off, X, Y, XY, Rad"},
    {"Rad splits", "Number of radial mirror slices, 2 to 12"},
    {"MoveSym", "Drag on the canvas to move the symmetry center"},
    {"Reset", "Move the symmetry center back to center"},
    {"Off 0,0", "Shows the current symmetry-center offset"},
};

static const HELP_ROW _settings[] = {
    NOTE("Saved automatically and restored on the next launch"),
    {"Pressure Speed", "Slow strokes paint heavier, fast ones lighter"},
    {"Palm rejection", "Ignore an extra touch during a stroke"},
    {"Language", "Switch the interface language"},
    {"Interface size", "Make the toolbar and text bigger or smaller"},
    {"Stabilizer", "Smooth strokes: the line trails the pointer, 0 (off) to 100"},
};

static const HELP_ROW _file[] = {
    {"New", "New canvas: pick a size (replaces drawing)"},
    {"Save", "Save a .plm (dialog, or name popup on mobile)"},
    {"Load", "Open a saved .plm"},
    {"Export", "Write a PNG (area/full, border, template)"},
    NOTE("Export options live in the Export popup"),
};

/* The shortcut list after the commands' lines: keys the loop and the
 * canvas handle themselves, and what the pointer and touches do. */
static const HELP_ROW _shortcuts_after[] = {
    {"Esc", "Cancel line/curve, selection, or quit"},
    NOTE("Mouse"),
    {"Left drag", "Draw with the current tool"},
    {"Ctrl+click", "Take the color under the pointer"},
    {"Wheel", "Zoom about the cursor"},
    {"Ctrl+Wheel", "Rotate about the cursor"},
    {"Middle drag", "Pan the view"},
    NOTE("Touch"),
    {"One finger", "Draw"},
    {"Two fingers", "Pan / zoom / rotate"},
    {"Back (Android)", "Close popup, cancel selection, or quit"},
};

// The shortcut list: the commands' lines in their table's order, then the rest.
static int _gui_shortcut_rows(HELP_ROW* out, int max) {
    int n = 0;
    if (n < max) out[n++] = NOTE("Keyboard");
    for (int id = 0; id < GUI_CMD_COUNT; id++) {
        const GUI_COMMAND* c = _gui_command(id);
        if (!c || !c->help_key) continue;
        if (n > 1 && strcmp(out[n - 1].key, c->help_key) == 0) continue; /* a line shared with the last one */
        if (n < max) out[n++] = HELP_ROW{c->help_key, c->help_text};
    }
    for (const HELP_ROW& row : _shortcuts_after)
        if (n < max) out[n++] = row;
    return n;
}

// The tools tab: a row for each tool button, as its tooltip says, then the rest.
static int _gui_tool_rows(HELP_ROW* out, int max) {
    int n = 0;
    for (int id = 0; id < GUI_TOOL_BUTTONS && n < max; id++) {
        const GUI_TOOL_ROW* tool = _gui_tool(id);
        out[n++] = HELP_ROW{tool->label, tool->tip};
    }
    for (const HELP_ROW& row : _tools_after)
        if (n < max) out[n++] = row;
    return n;
}

#define TAB(title, rows) {title, rows, (int)(sizeof(rows) / sizeof(rows[0])), NULL}
static const HELP_TAB _help_tabs[GUI_HELP_TABS] = {
    TAB("Overview", _overview),   {"Tools", NULL, 0, _gui_tool_rows}, TAB("Brush", _brush),
    TAB("Color", _color),         TAB("Edit", _edit),                 TAB("Layers", _layers),
    TAB("Canvas", _canvas),       TAB("Symmetry", _symmetry),         TAB("Settings", _settings),
    TAB("File", _file),           {"Shortcuts", NULL, 0, _gui_shortcut_rows},
};

int _gui_help_rows(int tab, HELP_ROW* out, int max) {
    if (!out || tab < 0 || tab >= GUI_HELP_TABS) return 0;
    if (_help_tabs[tab].make) return _help_tabs[tab].make(out, max);
    int n = _help_tabs[tab].count < max ? _help_tabs[tab].count : max;
    for (int i = 0; i < n; i++) out[i] = _help_tabs[tab].rows[i];
    return n;
}

/* ------------------------------------------------------------------------ */
/* Callbacks                                                                 */
/* ------------------------------------------------------------------------ */

void _on_help_button(int32_t, void* user) {
    _APP(user);
    _gui_popup_show(app, GUI_POPUP_HELP);
}

void _on_help_close(int32_t, void* user) {
    _APP(user);
    _gui_popup_hide(app, GUI_POPUP_HELP);
}

static void _on_help_tab(int32_t id, void* user) {
    _APP(user);
    for (int k = 0; k < GUI_HELP_TABS; k++)
        if (app->ui.help.tabs[k] == id) app->ui.help.tab = k;
    /* The body is laid out for one tab: a rebuild lays it out for this one. */
    _gui_request_rebuild(app);
}

/* ------------------------------------------------------------------------ */
/* Building                                                                  */
/* ------------------------------------------------------------------------ */

int _build_help_popup(PLUMARO_APP* app) {
    __t_assert(app);
    GUI_HELP* help = &app->ui.help;
    const GUI_METRICS* m = &app->ui.metrics;
    float s = m->scale, r = m->row_h, g = m->gap, bw = m->popup_button_width;
    float dw = (float)app->display_w, dh = (float)app->display_h;
    if (help->tab < 0 || help->tab >= GUI_HELP_TABS) help->tab = 0;
    float hw = dw - 20.0f < 700.0f * s ? dw - 20.0f : 700.0f * s;
    float x = (dw - hw) / 2.0f > 0.0f ? (dw - hw) / 2.0f : 0.0f;
    float ht = dh - 20.0f < 560.0f * s ? dh - 20.0f : 560.0f * s;
    float y = (dh - ht) / 2.0f > 0.0f ? (dh - ht) / 2.0f : 0.0f;
    float w = hw - 10.0f - m->scrollbar;
    float tab_w = 104.0f;
    for (int k = 0; k < GUI_HELP_TABS; k++) {
        float tw = (float)al_get_text_width(app->font, i18n_tr(_help_tabs[k].title)) + 18.0f;
        if (tw > tab_w) tab_w = tw;
    }
    /* Tabs flow in rows as wide as the window allows. */
    float tx[GUI_HELP_TABS], ty[GUI_HELP_TABS], cx = 10.0f, cy = r + g + 10.0f;
    int rows = 1;
    for (int k = 0; k < GUI_HELP_TABS; k++) {
        if (k > 0 && cx + tab_w > w) {
            cx = 10.0f;
            cy += r + g;
            rows++;
        }
        tx[k] = cx, ty[k] = cy;
        cx += tab_w + g;
    }
    float header_h = (float)(rows + 1) * (r + g) + 10.0f + g;
    if (header_h > ht - r) header_h = ht - r;

    int32_t header = _gui_popup_window(app, "help_header", x, y, hw, header_h, GUI_WIN_FIXED,
                                       "could not create the help popup header");
    if (header < 0) return 0;
    help->header = header;
    int32_t body = _gui_popup_window(app, "help", x, y + header_h, hw, ht - header_h, GUI_WIN_FIXED_SCROLL,
                                     "could not create the help popup");
    if (body < 0) {
        t_gui_close_window(app->gui, header);
        return 0;
    }
    help->body = body;

    t_gui_add_label(app->gui, header, i18n_tr("Plumaro - Help"), 10.0f, 10.0f, w - 10.0f - bw - g, r, 0);
    t_gui_add_button(app->gui, header, i18n_tr("Close"), w - bw, 10.0f, bw, r, 1, _on_help_close, app);
    for (int k = 0; k < GUI_HELP_TABS; k++)
        help->tabs[k] = t_gui_add_toggle_button(app->gui, header, i18n_tr(_help_tabs[k].title), tx[k], ty[k], tab_w, r,
                                                1, k == help->tab, _on_help_tab, app);

    HELP_ROW lines[GUI_HELP_ROWS_MAX];
    int count = _gui_help_rows(help->tab, lines, GUI_HELP_ROWS_MAX);
    float row_y = g, row_h = 20.0f * s;
    for (int i = 0; i < count; i++) {
        const HELP_ROW* row = &lines[i];
        if (row->key) {
            t_gui_add_label(app->gui, body, i18n_tr(row->key), 18.0f * s, row_y, 168.0f * s, row_h, 0);
            t_gui_add_label(app->gui, body, i18n_tr(row->text), 194.0f * s, row_y, w - 194.0f * s, row_h, 0);
        } else {
            if (i > 0) row_y += g;
            t_gui_add_label(app->gui, body, i18n_tr(row->text), 10.0f, row_y, w - 10.0f, row_h, 1);
        }
        row_y += row_h;
    }
    t_gui_close_window(app->gui, header);
    t_gui_close_window(app->gui, body);
    return 1;
}
