/* t_clipboard: text on the system clipboard, reached through the Allegro
 * display the toolkit was given. Selection 0 is the desktop clipboard,
 * selection 1 the primary selection (accepted, without effect). */
#pragma once
#include <stddef.h>

#include <allegro5/allegro.h>

/* Largest block of data accepted (64 MiB). */
#define T_CLIPBOARD_MAX_DATA (64u * 1024u * 1024u)

/* Readies the backend (logs once); 1 when ready. */
int t_clipboard_init(void);
/* Clears the ready flag; the next operation initialises again. */
void t_clipboard_shutdown(void);
/* Names the display whose clipboard is used (null: the current display). */
void t_clipboard_set_display(ALLEGRO_DISPLAY* display);
/* Puts UTF-8 text on the clipboard; empty or null text empties it. 0 or -1. */
int t_clipboard_set(int selection, const char* text);
/* A new UTF-8 copy of the clipboard text (caller frees), or null. */
char* t_clipboard_get_text(int selection);
/* Puts typed data on the clipboard; only text MIME types are carried. 0 or -1. */
int t_clipboard_set_data(int selection, const char* mime_type, const void* data, size_t length);
/* The first of `mime_types` that yields data, as a new buffer (caller frees),
 * with its length in out_size and its index in out_index (-1 when none). */
void* t_clipboard_get_data(int selection, const char* const* mime_types, size_t count, size_t* out_size,
                           int* out_index);
/* 1 when the MIME type names text. */
int t_clipboard_is_text_mime(const char* mime_type);
