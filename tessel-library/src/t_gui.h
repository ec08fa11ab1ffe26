/* t_gui: the retained-mode widget toolkit drawn with Allegro over the canvas:
 * context, windows, generic widgets, stacking, focus, event routing, drawing,
 * tooltips and layout persistence, plus the widget kinds the program uses. */
#pragma once
#include <stdint.h>

#include <allegro5/allegro.h>
#include <allegro5/allegro_font.h>

#include "t_hash.h"
#include "t_list.h"

/* Window state bits. */
#define T_GUI_STATE_OPEN 0x01
#define T_GUI_STATE_COLLAPSED 0x02
#define T_GUI_STATE_MOVING 0x04
#define T_GUI_STATE_RESIZING 0x08
#define T_GUI_STATE_VSCROLL_DRAG 0x10
#define T_GUI_STATE_HSCROLL_DRAG 0x20
#define T_GUI_STATE_MAXIMIZED 0x40

/* Window flags. */
#define T_GUI_WIN_SCROLLABLE 0x10
#define T_GUI_WIN_RESIZABLE 0x20
#define T_GUI_WIN_NO_MOVE 0x40
#define T_GUI_WIN_NO_TITLEBAR 0x80
#define T_GUI_WIN_MINIMIZE_BTN 0x100
#define T_GUI_WIN_MAXIMIZE_BTN 0x200
#define T_GUI_WIN_CLOSE_BTN 0x400

/* Stacking modes. */
#define T_GUI_ZORDER_NORMAL 0
#define T_GUI_ZORDER_ALWAYS_ON_TOP 1
#define T_GUI_ZORDER_ALWAYS_BEHIND 2
#define T_GUI_ZORDER_FIXED 3
#define T_GUI_ZORDER_POPUP 4

/* Widget state bits. */
#define T_GUI_WSTATE_HOVER 0x01
#define T_GUI_WSTATE_PRESSED 0x02
#define T_GUI_WSTATE_FOCUS 0x04
#define T_GUI_WSTATE_DRAG 0x08

/* Widget kinds. */
#define T_GUI_KIND_BUTTON 1
#define T_GUI_KIND_SLIDER 2
#define T_GUI_KIND_TEXTAREA 3
#define T_GUI_KIND_CHECKBOX 4
#define T_GUI_KIND_SCROLLBAR 5
#define T_GUI_KIND_LISTBOX 6
#define T_GUI_KIND_RADIOLIST 7
#define T_GUI_KIND_COMBOBOX 8
#define T_GUI_KIND_IMAGE 9
#define T_GUI_KIND_LABEL 10

/* Title bar buttons, as passed to the window's button callbacks. */
#define T_GUI_TB_MINIMIZE 1
#define T_GUI_TB_MAXIMIZE 2
#define T_GUI_TB_CLOSE 3

/* Tooltip states. */
#define T_GUI_TOOLTIP_NONE 0
#define T_GUI_TOOLTIP_PENDING 1
#define T_GUI_TOOLTIP_DUE 2

#define T_GUI_TITLE_SIZE 128
#define T_GUI_LABEL_SIZE 128
#define T_GUI_LABEL_TEXT_SIZE 4096
#define T_GUI_TEXTAREA_DEFAULT_MAX 4095
#define T_GUI_SECTION_MAX 16
#define T_GUI_SECTION_WIDGETS_MAX 128
#define T_GUI_LAYOUT_MAX_BYTES (4 * 1024 * 1024)

typedef struct T_GUI_STYLE {
    ALLEGRO_COLOR bg_normal, bg_hover, bg_active;
    ALLEGRO_COLOR border_normal, border_hover, border_active;
    ALLEGRO_COLOR text_normal, text_hover, text_active;
    ALLEGRO_COLOR selection_color;
    float border_thickness;
    float corner_rx, corner_ry;
} T_GUI_STYLE;

typedef struct T_GUI_METRICS {
    float titlebar_h, min_win_w, min_win_h, title_padding, title_max_w_reserve;
    float tb_btn_size, tb_btn_spacing, tb_btn_right_margin, tb_btn_glyph_thickness;
    float scrollbar_size, scrollbar_thumb_min, scrollbar_thumb_padding, scrollbar_thumb_corner_r;
    ALLEGRO_COLOR scrollbar_track_color, scrollbar_thumb_color;
    float global_scrollbar_size, global_scrollbar_thumb_min, global_scrollbar_thumb_padding;
    float global_scrollbar_thumb_corner_r, global_scrollbar_border_thickness;
    ALLEGRO_COLOR global_scrollbar_track_color, global_scrollbar_thumb_color, global_scrollbar_thumb_border_color;
    float grip_size, grip_line_thickness;
    ALLEGRO_COLOR grip_color;
    float slider_track_size, slider_track_corner_r, slider_track_border_thickness, slider_handle_min_r;
    float slider_handle_edge_offset, slider_handle_border_thickness, slider_value_label_offset;
    float textarea_padding, textarea_cursor_width, textarea_cursor_blink_period;
    float checkbox_max_size, checkbox_mark_margin, checkbox_mark_thickness, checkbox_label_gap, checkbox_label_offset;
    float radio_circle_min_r, radio_circle_border_thickness, radio_inner_offset, radio_label_gap;
    float listbox_default_item_height, radiolist_default_item_height;
    int combobox_max_visible, dropmenu_max_visible;
    float item_text_padding, item_selection_inset, item_height_pad;
    float dropdown_arrow_reserve, dropdown_arrow_thickness, dropdown_arrow_half_h, dropdown_arrow_half_w;
    float dropdown_border_thickness, label_padding, link_underline_thickness;
    ALLEGRO_COLOR link_color_normal, link_color_hover;
    float scroll_step, global_scroll_step, combobox_max_dropdown_width;
    float tooltip_delay; /* seconds of hovering before a tooltip is due */
} T_GUI_METRICS;

typedef struct T_GUI_WIDGET {
    int32_t id;
    int32_t kind;
    float x, y, w, h;
    int32_t state;
    int32_t visible, enabled;
    T_GUI_STYLE style;
    ALLEGRO_FONT* font;
    void* data;
    /* bookkeeping */
    int32_t window_id;
    int32_t has_style; /* 1 once an override was set */
    float norm_x, norm_y, norm_w, norm_h;
    char* tooltip;
    int shortcut_key, shortcut_mods; /* 0: no keyboard binding */
    int32_t* shortcut_focus;         /* widgets the binding is limited to */
    int shortcut_focus_count;
    void (*destroy_data)(void* data);
} T_GUI_WIDGET;

typedef void (*T_GUI_WINDOW_DRAW_CB)(int32_t window_id, void* user);
typedef void (*T_GUI_WINDOW_BUTTON_CB)(int32_t window_id, void* user, int button);

typedef struct T_GUI_WINDOW {
    int32_t id;
    char title[T_GUI_TITLE_SIZE];
    float x, y, w, h;
    float titlebar_h;
    int32_t state;
    int32_t flags;
    LIST* widgets;
    int32_t z_order;
    int32_t z_value;
    float norm_x, norm_y, norm_w, norm_h;
    int32_t autofit_flags;
    float autofit_border;
    int32_t resize_policy;
    T_GUI_STYLE style;
    T_GUI_WINDOW_DRAW_CB draw_cb;
    void* draw_user;
    T_GUI_WINDOW_BUTTON_CB close_cb, minimize_cb, maximize_cb;
    void *close_user, *minimize_user, *maximize_user;
    /* bookkeeping */
    float scroll_x, scroll_y;         /* content offset */
    float restore_x, restore_y, restore_w, restore_h; /* rectangle before maximising */
    float drag_dx, drag_dy;           /* pointer offset while moving or resizing */
    int32_t pressed_tb_button;        /* title bar button pressed, 0 none */
} T_GUI_WINDOW;

/* A layout entry read from a file for a window that did not exist yet. */
typedef struct T_GUI_PENDING_LAYOUT {
    char title[T_GUI_TITLE_SIZE];
    float x, y, w, h;
    int32_t state;
} T_GUI_PENDING_LAYOUT;

typedef struct T_GUI_CTX {
    LIST* windows;
    HASH_TABLE* widget_table;
    int32_t next_window_id, next_widget_id;
    ALLEGRO_FONT* default_font;
    T_GUI_STYLE style;
    T_GUI_STYLE tb_button_style; /* title bar buttons */
    T_GUI_STYLE tb_close_style;  /* the close button */
    T_GUI_METRICS metrics;
    int32_t shape_mode; /* 0 square, 1 rounded, other: each button's shape decides */
    int32_t focused_widget;
    float mouse_x, mouse_y;
    int32_t double_clicked_widget;
    double double_click_time;
    int32_t double_click_radius;
    float display_w, display_h;
    float virtual_w, virtual_h;
    float virtual_scale, virtual_offset_x, virtual_offset_y;
    ALLEGRO_DISPLAY* display;
    T_GUI_PENDING_LAYOUT* pending_layout;
    int32_t pending_count;
    int32_t needs_redraw;
    /* event bookkeeping */
    int32_t modifiers;       /* ALLEGRO_KEYMOD_SHIFT | CTRL | ALT | ALTGR */
    int32_t hovered_widget;  /* -1 none */
    int32_t pressed_widget;  /* widget holding the pointer capture, -1 none */
    int32_t capture_window;  /* window whose frame holds the capture, -1 none */
    int32_t last_press_widget;
    double last_press_time;
    float last_press_x, last_press_y;
    int32_t open_combo;      /* combo box whose drop-down is open, -1 none */
    int32_t label_selection; /* label holding a text selection, -1 none */
    int32_t touch_id;        /* touch acting as the pointer, -1 none */
    float global_scroll_x, global_scroll_y;
    int32_t global_drag;     /* 1 vertical, 2 horizontal global thumb dragged */
    float global_drag_offset;
    int32_t size_warned;
    double hover_since;      /* when the hovered widget became hovered */
    double now;              /* time of the last event */
    int32_t wanted_cursor;   /* system cursor asked by the last event */
    int32_t shown_cursor;
} T_GUI_CTX;

/* ---- context ---- */
/* Creates a context drawing with `default_font`. */
T_GUI_CTX* t_gui_new_ctx(ALLEGRO_FONT* default_font);
/* Destroys every window and widget and the context. */
void t_gui_destroy_ctx(T_GUI_CTX** ctx);
/* Hands the display to the toolkit and to the clipboard layer. */
void t_gui_set_display(T_GUI_CTX* ctx, ALLEGRO_DISPLAY* display);
/* Tells the toolkit the display size; recomputes the virtual canvas mapping. */
void t_gui_set_display_size(T_GUI_CTX* ctx, float w, float h);
/* Sets a virtual canvas (0, 0: none) letter-boxed onto the display. */
void t_gui_set_virtual_size(T_GUI_CTX* ctx, float w, float h);
/* Default style of the toolkit. */
T_GUI_STYLE t_gui_default_style(void);
/* Default metrics of the toolkit. */
T_GUI_METRICS t_gui_default_metrics(void);
/* A style from nine colours and three numbers; the selection colour is the default. */
T_GUI_STYLE t_gui_make_style(ALLEGRO_COLOR bg_normal, ALLEGRO_COLOR bg_hover, ALLEGRO_COLOR bg_active,
                             ALLEGRO_COLOR border_normal, ALLEGRO_COLOR border_hover, ALLEGRO_COLOR border_active,
                             ALLEGRO_COLOR text_normal, ALLEGRO_COLOR text_hover, ALLEGRO_COLOR text_active,
                             float border_thickness, float corner_rx, float corner_ry);
/* Sets the double-click time (never below 0). */
void t_gui_set_double_click_time(T_GUI_CTX* ctx, double seconds);
/* Sets the double-click radius (never below 0). */
void t_gui_set_double_click_radius(T_GUI_CTX* ctx, int32_t pixels);

/* ---- windows ---- */
/* Creates an open window; returns its id or -1. */
int32_t t_gui_add_window(T_GUI_CTX* ctx, const char* title, float x, float y, float w, float h);
/* The window record or null. */
T_GUI_WINDOW* t_gui_get_window(T_GUI_CTX* ctx, int32_t id);
/* Shows a window. 1 or 0. */
int t_gui_open_window(T_GUI_CTX* ctx, int32_t id);
/* Hides a window and drops the focus of its widgets. 1 or 0. */
int t_gui_close_window(T_GUI_CTX* ctx, int32_t id);
/* 1 when the window is open. */
int t_gui_window_is_open(T_GUI_CTX* ctx, int32_t id);
/* Writes a window's flags. 1 or 0. */
int t_gui_window_set_flags(T_GUI_CTX* ctx, int32_t id, int32_t flags);
/* Reads a window's flags (-1 unknown). */
int32_t t_gui_window_get_flags(T_GUI_CTX* ctx, int32_t id);
/* Sets a window's stacking mode and value, then re-sorts. 1 or 0. */
int t_gui_window_set_zorder(T_GUI_CTX* ctx, int32_t id, int32_t z_mode, int32_t z_value);
/* Moves a normal or popup window to the front of its rank. 1 or 0. */
int t_gui_raise_window(T_GUI_CTX* ctx, int32_t id);
/* Moves a window. 1 or 0. */
int t_gui_window_set_position(T_GUI_CTX* ctx, int32_t id, float x, float y);
/* Resizes a window. 1 or 0. */
int t_gui_window_set_size(T_GUI_CTX* ctx, int32_t id, float w, float h);
/* Sets the callback drawing a window's own content. 1 or 0. */
int t_gui_window_set_draw_callback(T_GUI_CTX* ctx, int32_t id, T_GUI_WINDOW_DRAW_CB cb, void* user);
/* Replaces the action of a title bar button (T_GUI_TB_*). 1 or 0. */
int t_gui_window_set_button_callback(T_GUI_CTX* ctx, int32_t id, int button, T_GUI_WINDOW_BUTTON_CB cb,
                                     void* user);
/* Screen position of a window's content origin (scroll offsets applied). 1 or 0. */
int t_gui_window_content_origin(T_GUI_CTX* ctx, int32_t id, float* ox, float* oy);

/* ---- focus, hit testing, events, drawing ---- */
/* Gives the keyboard focus to a widget (-1 removes it). 1 or 0. */
int t_gui_set_focus(T_GUI_CTX* ctx, int32_t widget_id);
/* The id of the window under a display point, or -1. */
int32_t t_gui_window_at(T_GUI_CTX* ctx, float x, float y);
/* 1 when the last pointer position lies over an open window. */
int t_gui_wants_mouse(T_GUI_CTX* ctx);
/* Handles one event; 1 when the toolkit used it. */
int t_gui_process_event(T_GUI_CTX* ctx, const ALLEGRO_EVENT* event);
/* Draws every window onto the current target. */
void t_gui_draw(T_GUI_CTX* ctx);
/* Tooltip state now: 0 none, 1 hover timer running, 2 tooltip due. */
int t_gui_tooltip_state(T_GUI_CTX* ctx);
/* Tooltip state at a given time (seconds on the event clock). */
int t_gui_tooltip_state_at(T_GUI_CTX* ctx, double now);

/* ---- layout persistence ---- */
/* Writes the window layout as JSON; 0 or -1. */
int t_gui_save_layout_json(T_GUI_CTX* ctx, const char* path);
/* Reads a window layout; 0 or -1. */
int t_gui_load_layout_json(T_GUI_CTX* ctx, const char* path);

/* ---- generic widgets ---- */
/* The generic widget record or null. */
T_GUI_WIDGET* t_gui_get_widget(T_GUI_CTX* ctx, int32_t id);
/* Replaces the tooltip (empty or null clears it). */
void t_gui_widget_set_tooltip(T_GUI_CTX* ctx, int32_t id, const char* text);
/* Copies a style override into one widget. */
void t_gui_widget_set_style(T_GUI_CTX* ctx, int32_t id, const T_GUI_STYLE* style);
/* Sets the visible flag. */
void t_gui_widget_set_visible(T_GUI_CTX* ctx, int32_t id, int visible);
/* Sets the enabled flag. */
void t_gui_widget_set_enabled(T_GUI_CTX* ctx, int32_t id, int enabled);
/* Sets the font (null: the context's font). */
void t_gui_widget_set_font(T_GUI_CTX* ctx, int32_t id, ALLEGRO_FONT* font);
/* Moves and resizes a widget and updates its normalized rectangle. */
void t_gui_widget_set_rect(T_GUI_CTX* ctx, int32_t id, float x, float y, float w, float h);
/* Recomputes a widget's rectangle relative to its window's size. */
void t_gui_widget_update_norm(T_GUI_CTX* ctx, T_GUI_WIDGET* widget);

/* ---- widget kinds ---- */
typedef void (*T_GUI_BUTTON_CB)(int32_t id, void* user);
typedef void (*T_GUI_SLIDER_CB)(int32_t id, double value, void* user);
typedef void (*T_GUI_TEXT_CB)(int32_t id, const char* text, void* user);
typedef void (*T_GUI_CHECK_CB)(int32_t id, int checked, void* user);
typedef void (*T_GUI_LIST_CB)(int32_t id, int index, int selected, void* user);
typedef void (*T_GUI_COMBO_CB)(int32_t id, int index, void* user);
typedef void (*T_GUI_SECTION_CB)(int section, int collapsed, void* user);

typedef struct T_GUI_BUTTON_DATA {
    char label[T_GUI_LABEL_SIZE];
    ALLEGRO_BITMAP *normal, *hover, *pressed;
    int shape;
    int glyph;
    int toggle_mode;
    int toggled;
    int key, key_mods;
    double flash_until;
    T_GUI_BUTTON_CB callback;
    void* user;
} T_GUI_BUTTON_DATA;

typedef struct T_GUI_SLIDER_DATA {
    double min, max, value, step;
    int mode;
    int orientation;
    T_GUI_SLIDER_CB callback;
    void* user;
    char format[32];
    int show_value;
    double reset_value;
} T_GUI_SLIDER_DATA;

typedef struct T_GUI_TEXTAREA_DATA {
    char* text;
    int length;
    int max_length;
    int multiline;
    int cursor;
    int sel_start, sel_end; /* equal: no selection */
    float scroll_y;
    double blink_start;
    T_GUI_TEXT_CB callback;
    void* user;
} T_GUI_TEXTAREA_DATA;

typedef struct T_GUI_CHECKBOX_DATA {
    char label[T_GUI_LABEL_SIZE];
    int checked;
    T_GUI_CHECK_CB callback;
    void* user;
    ALLEGRO_BITMAP *bitmap_off, *bitmap_on;
} T_GUI_CHECKBOX_DATA;

typedef struct T_GUI_LISTITEM {
    char text[T_GUI_LABEL_SIZE];
    int selected;
} T_GUI_LISTITEM;

typedef struct T_GUI_LISTBOX_DATA {
    T_GUI_LISTITEM* items;
    int count, capacity;
    int selection_mode; /* 0 none, 1 single, 2 multiple */
    int first_visible;
    float item_height;
    T_GUI_LIST_CB callback;
    void* user;
    int anchor;
    ALLEGRO_BITMAP* background;
    int scroll_drag; /* 1 while the scroll thumb is dragged */
} T_GUI_LISTBOX_DATA;

typedef struct T_GUI_COMBOBOX_DATA {
    T_GUI_LISTITEM* items;
    int count, capacity;
    int selected;
    int open;
    int first_visible;
    int highlighted;
    float item_height;
    int max_visible;
    T_GUI_COMBO_CB callback;
    void* user;
} T_GUI_COMBOBOX_DATA;

typedef struct T_GUI_LABEL_DATA {
    char text[T_GUI_LABEL_TEXT_SIZE];
    int alignment; /* 0 left, 1 centred, 2 right, 3 wrapped */
    float scroll;
    int sel_start, sel_end;
    int link;
    ALLEGRO_BITMAP* bitmap;
} T_GUI_LABEL_DATA;

typedef struct T_GUI_SECTION {
    char title[64];
    int32_t header_id;
    int32_t widget_ids[T_GUI_SECTION_WIDGETS_MAX];
    float offsets[T_GUI_SECTION_WIDGETS_MAX];
    int hidden_widgets[T_GUI_SECTION_WIDGETS_MAX];
    int widget_count;
    int collapsed;
    float content_h;
} T_GUI_SECTION;

typedef struct T_GUI_SECTIONLIST {
    T_GUI_CTX* ctx;
    int32_t window_id;
    float x, y, width, row_h, gap;
    T_GUI_SECTION sections[T_GUI_SECTION_MAX];
    int count;
    int order[T_GUI_SECTION_MAX];
    int hidden[T_GUI_SECTION_MAX];
    float header_indent;
    T_GUI_SECTION_CB callback;
    void* user;
} T_GUI_SECTIONLIST;

/* A push button with a copied label; shape 1 rounds its corners when the theme lets each button decide. */
int32_t t_gui_add_button(T_GUI_CTX* ctx, int32_t win, const char* label, float x, float y, float w, float h,
                         int shape, T_GUI_BUTTON_CB callback, void* user);
/* A button that flips its toggled state on each click before calling back. */
int32_t t_gui_add_toggle_button(T_GUI_CTX* ctx, int32_t win, const char* label, float x, float y, float w,
                                float h, int shape, int toggled, T_GUI_BUTTON_CB callback, void* user);
/* A slider over min..max (mode 1 forces 0..100) starting at `value`; calls back on every change while dragged. */
int32_t t_gui_add_slider(T_GUI_CTX* ctx, int32_t win, float x, float y, float w, float h, double min,
                         double max, double value, int mode, T_GUI_SLIDER_CB callback, void* user);
/* An empty text field of at most `max_length` bytes (0: 4095); calls back on every change. */
int32_t t_gui_add_textarea(T_GUI_CTX* ctx, int32_t win, float x, float y, float w, float h, int multiline,
                           int max_length, T_GUI_TEXT_CB callback, void* user);
/* A check box with a label; calls back with the new state when clicked. */
int32_t t_gui_add_checkbox(T_GUI_CTX* ctx, int32_t win, const char* label, float x, float y, float w, float h,
                           int checked, T_GUI_CHECK_CB callback, void* user);
/* An empty list (selection mode 0 none, 1 single, 2 multiple); calls back with the row pressed. */
int32_t t_gui_add_listbox(T_GUI_CTX* ctx, int32_t win, float x, float y, float w, float h, int selection_mode,
                          T_GUI_LIST_CB callback, void* user);
/* An empty drop-down list with nothing selected; calls back with the index chosen. */
int32_t t_gui_add_combobox(T_GUI_CTX* ctx, int32_t win, float x, float y, float w, float h,
                           T_GUI_COMBO_CB callback, void* user);
/* A text label (alignment 0 left, 1 centred, 2 right, 3 wrapped). */
int32_t t_gui_add_label(T_GUI_CTX* ctx, int32_t win, const char* text, float x, float y, float w, float h,
                        int alignment);

/* Replaces a button's label (127 characters); null is ignored. */
void t_gui_button_set_label(T_GUI_CTX* ctx, int32_t id, const char* text);
/* Sets a toggle button's state without calling back. */
void t_gui_button_set_toggled(T_GUI_CTX* ctx, int32_t id, int on);
/* -1 for an unknown widget. */
int t_gui_button_get_toggled(T_GUI_CTX* ctx, int32_t id);
/* Draws the button with these bitmaps (not owned) for its normal, hover and pressed states. */
void t_gui_button_set_bitmaps(T_GUI_CTX* ctx, int32_t id, ALLEGRO_BITMAP* normal, ALLEGRO_BITMAP* hover,
                              ALLEGRO_BITMAP* pressed);
/* Binds a key (and modifier set) that fires the button. */
void t_gui_button_set_shortcut(T_GUI_CTX* ctx, int32_t id, int keycode, int modifiers);
/* Sets the value, snapped to the step and held in range, without calling back. */
void t_gui_slider_set_value(T_GUI_CTX* ctx, int32_t id, double value);
/* The slider's value (0 for an unknown widget). */
double t_gui_slider_get_value(T_GUI_CTX* ctx, int32_t id);
/* Sets the step (0: continuous) and re-snaps the value. */
void t_gui_slider_set_step(T_GUI_CTX* ctx, int32_t id, double step);
/* Sets the printf format of the value label; empty or null hides the label. */
void t_gui_slider_set_format(T_GUI_CTX* ctx, int32_t id, const char* format);
/* Makes the slider vertical (1) or horizontal (0). */
void t_gui_slider_set_orientation(T_GUI_CTX* ctx, int32_t id, int vertical);
/* The field's text ("" for an unknown widget). */
const char* t_gui_textarea_get_text(T_GUI_CTX* ctx, int32_t id);
/* Replaces the text (cut at the maximum, carriage returns removed) without calling back. */
void t_gui_textarea_set_text(T_GUI_CTX* ctx, int32_t id, const char* text);
/* Sets the checked state without calling back. */
void t_gui_checkbox_set_checked(T_GUI_CTX* ctx, int32_t id, int on);
/* -1 for an unknown widget. */
int t_gui_checkbox_get_checked(T_GUI_CTX* ctx, int32_t id);
/* Removes every row. */
void t_gui_listbox_clear(T_GUI_CTX* ctx, int32_t id);
/* Appends a row (127 characters); its index or -1. */
int t_gui_listbox_add_item(T_GUI_CTX* ctx, int32_t id, const char* text);
/* Selects or deselects a row; in single mode selecting clears the others. */
void t_gui_listbox_set_selected(T_GUI_CTX* ctx, int32_t id, int index, int on);
/* First selected index, or -1. */
int t_gui_listbox_get_selected(T_GUI_CTX* ctx, int32_t id);
/* Removes every item, selects nothing and closes the drop-down. */
void t_gui_combobox_clear(T_GUI_CTX* ctx, int32_t id);
/* Appends an item (127 characters); its index or -1. */
int t_gui_combobox_add_item(T_GUI_CTX* ctx, int32_t id, const char* text);
/* Selects an index below the count, or -1 for none; anything else is ignored. */
void t_gui_combobox_set_selected(T_GUI_CTX* ctx, int32_t id, int index);
/* Selected index, or -1. */
int t_gui_combobox_get_selected(T_GUI_CTX* ctx, int32_t id);
/* Replaces the label's text (4095 characters, carriage returns removed). */
void t_gui_label_set_text(T_GUI_CTX* ctx, int32_t id, const char* text);
/* Sets a bitmap (not owned) drawn under the label's text. */
void t_gui_label_set_bitmap(T_GUI_CTX* ctx, int32_t id, ALLEGRO_BITMAP* bitmap);

/* A list of collapsible sections stacked in a window from (x, y); null on failure. */
T_GUI_SECTIONLIST* t_gui_sectionlist_create(T_GUI_CTX* ctx, int32_t win, float x, float y, float width,
                                            float row_h, float gap, T_GUI_SECTION_CB callback, void* user);
/* Adds a section with its header button at y; its index, or -1 past 16 sections. */
int t_gui_sectionlist_add_section(T_GUI_SECTIONLIST* list, const char* title, float y, int collapsed);
/* Puts an existing widget into a section at its offset below the header; -1 on failure. */
int t_gui_sectionlist_add_widget(T_GUI_SECTIONLIST* list, int section, int32_t widget_id);
/* Indents the first visible header (to share its row with other buttons). */
void t_gui_sectionlist_set_header_indent(T_GUI_SECTIONLIST* list, float indent);
/* Places every header and widget again from the sections' collapsed and hidden flags. */
void t_gui_sectionlist_relayout(T_GUI_SECTIONLIST* list);
/* The y just below the last visible section. */
float t_gui_sectionlist_content_bottom(T_GUI_SECTIONLIST* list);
/* Hides or shows a whole section. */
void t_gui_sectionlist_set_section_hidden(T_GUI_SECTIONLIST* list, int section, int hidden);
/* Hides or shows one widget of a section. */
void t_gui_sectionlist_set_widget_hidden(T_GUI_SECTIONLIST* list, int section, int32_t widget_id, int hidden);
/* Frees the section list (its widgets belong to the window) and nulls the pointer. */
void t_gui_sectionlist_destroy(T_GUI_SECTIONLIST** list);
