/* t_gui_internal: the toolkit's own steps, shared by its source files
 * (core, widgets, section lists, layout) and not part of its interface. */
#pragma once

#include "t_gui.h"

/* Adds a widget of `kind` owning `data`; returns the record or null (data freed). */
T_GUI_WIDGET* _t_gui_new_widget(T_GUI_CTX* ctx, int32_t win, int32_t kind, float x, float y, float w, float h,
                                void* data);
/* The widget of `kind`, or null. */
T_GUI_WIDGET* _t_gui_widget_of(T_GUI_CTX* ctx, int32_t id, int32_t kind);
/* Title bar height actually used by a window (0 without a title bar). */
float _t_gui_titlebar(const T_GUI_WINDOW* win);
/* Screen rectangle of a widget. */
void _t_gui_widget_screen_rect(T_GUI_CTX* ctx, const T_GUI_WIDGET* widget, float* x, float* y);
/* Effective style of a widget. */
const T_GUI_STYLE* _t_gui_widget_style(T_GUI_CTX* ctx, const T_GUI_WIDGET* widget);
/* A straight-alpha colour made premultiplied for the "over" blender. */
ALLEGRO_COLOR _t_gui_premul(ALLEGRO_COLOR c);
/* Widget kind handlers (t_gui_widgets.cpp). */
int _t_gui_widget_press(T_GUI_CTX* ctx, T_GUI_WIDGET* widget, float px, float py, int button);
void _t_gui_widget_motion(T_GUI_CTX* ctx, T_GUI_WIDGET* widget, float px, float py);
void _t_gui_widget_release(T_GUI_CTX* ctx, T_GUI_WIDGET* widget, float px, float py);
int _t_gui_widget_wheel(T_GUI_CTX* ctx, T_GUI_WIDGET* widget, int dz);
int _t_gui_widget_key(T_GUI_CTX* ctx, T_GUI_WIDGET* widget, const ALLEGRO_EVENT* event);
int _t_gui_widget_takes_key(const T_GUI_WIDGET* widget, int keycode);
int _t_gui_widget_takes_focus(const T_GUI_WIDGET* widget);
/* 1 for the keys a focused widget acts on; other keys it only keeps from shortcuts. */
int _t_gui_widget_acts_on_key(const T_GUI_WIDGET* widget, int keycode);
void _t_gui_widget_draw(T_GUI_CTX* ctx, T_GUI_WIDGET* widget, float ox, float oy);
void _t_gui_widget_fire_shortcut(T_GUI_CTX* ctx, T_GUI_WIDGET* widget);
/* Open combo drop-down: rectangle, press and drawing. */
int _t_gui_dropdown_rect(T_GUI_CTX* ctx, float* x, float* y, float* w, float* h);
int _t_gui_dropdown_press(T_GUI_CTX* ctx, float px, float py);
void _t_gui_dropdown_motion(T_GUI_CTX* ctx, float px, float py);
void _t_gui_dropdown_draw(T_GUI_CTX* ctx);
void _t_gui_close_dropdown(T_GUI_CTX* ctx);
/* Re-sorts the window list by stacking rank. */
void _t_gui_sort(T_GUI_CTX* ctx);
/* Copies the selection of a label or text area to the clipboard; 1 when copied. */
int _t_gui_copy_selection(T_GUI_CTX* ctx, T_GUI_WIDGET* widget);
/* Restarts the cursor blink of a focused text area. */
void _t_gui_textarea_focus(T_GUI_CTX* ctx, T_GUI_WIDGET* widget);
