/* gui: the application's interface over the canvas: the toolbar at the left
 * edge, the layer panel at the right edge, their icons, the cached drawing
 * of the whole interface, event routing into the toolkit, hiding, and the
 * mirroring of the application's state into the widgets. */
#pragma once
#include <allegro5/allegro.h>

struct PLUMARO_APP;

/* Builds the toolkit context, both windows and their widgets, then syncs; 1 when built. */
int plumaro_gui_init(struct PLUMARO_APP* app);
/* Tears the interface down and builds it again (new size, scale or language); as init. */
int plumaro_gui_rebuild(struct PLUMARO_APP* app);
/* Releases the interface: icons, cache, tip preview, section lists, then the context. */
void plumaro_gui_shutdown(struct PLUMARO_APP* app);
/* Draws the interface over the canvas (from its cache while nothing changed). */
void plumaro_gui_draw(struct PLUMARO_APP* app);
/* Offers an event to the toolkit; 1 when the interface used it (never while hidden). */
int plumaro_gui_handle_event(struct PLUMARO_APP* app, ALLEGRO_EVENT* event);
/* Runs the command a key press stands for, with Ctrl and Shift as held; 1
 * when the key was a command's and it did something, 0 when it changes nothing. */
int plumaro_gui_key_command(struct PLUMARO_APP* app, int key, int ctrl, int shift);
/* 1 while a text field has the keyboard focus. */
int plumaro_gui_wants_keyboard(struct PLUMARO_APP* app);
/* 1 while the pointer is over the visible interface. */
int plumaro_gui_wants_pointer(struct PLUMARO_APP* app);
/* 1 when a screen point lies on the corner button that brings the hidden interface back. */
int plumaro_gui_on_show_corner(struct PLUMARO_APP* app, float x, float y);
/* Shows or hides the whole interface; the layer panel comes back only if it was open. */
void plumaro_gui_set_visible(struct PLUMARO_APP* app, int visible);
/* Tells the toolkit the display's new size. */
void plumaro_gui_on_resize(struct PLUMARO_APP* app);
/* Sets every toggle, slider and label of the windows from the application's state. */
void plumaro_gui_sync(struct PLUMARO_APP* app);
/* Refills the layer list and the active layer's controls from the document. */
void plumaro_gui_sync_layers(struct PLUMARO_APP* app);
/* Sets the symmetry controls from the symmetry state. */
void plumaro_gui_sync_symmetry(struct PLUMARO_APP* app);
/* Refills the palette list after the palettes changed, then syncs. */
void plumaro_gui_palette_changed(struct PLUMARO_APP* app);
/* Stores the window layout in "layout.json". */
void plumaro_gui_layout_persist(struct PLUMARO_APP* app);
/* Reads "layout.json" once per run; what lasts is the layer panel's width. */
void plumaro_gui_layout_restore(struct PLUMARO_APP* app);

/* Shows a short notice in the notification popup (cut from the front when too long). */
void plumaro_gui_notify(struct PLUMARO_APP* app, const char* text);
/* Follows what the shell marked changed (the layers, the symmetry, the
 * palettes, the tool, a placed float, a file opened) and shows the notices
 * it posted, oldest first; the loop calls it after each event and before
 * each frame. */
void plumaro_gui_update(struct PLUMARO_APP* app);
/* Renders a floating placed shape or text again (forced: after a colour, size,
 * preset or fill change; unforced: only when a shape's size changed). */
void _refresh_placed_float(struct PLUMARO_APP* app, int force);
/* Closes the topmost open popup; 1 when one was closed. */
int plumaro_gui_close_top_popup(struct PLUMARO_APP* app);
/* Asks "Quit Plumaro?". */
void plumaro_gui_request_quit(struct PLUMARO_APP* app);
/* Saves through the file chooser, or asks for a name when there is none. */
void plumaro_gui_request_save(struct PLUMARO_APP* app);
/* Shows the language choice (until one is made). */
void plumaro_gui_request_language_choice(struct PLUMARO_APP* app);
