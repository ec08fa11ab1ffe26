/* app_commands: the commands that replace the open document (a new blank
 * canvas, a document file, a file handed in by the platform) and the tool
 * change. Every replacement leaves the shell in the same clean state. */
#pragma once
#include "plumaro_app.h"

/* Replaces the document with a blank square one of `size` (APP_RANGE_CANVAS_SIZE, within
 * the display's bitmap limit, halved while allocation fails); 1 when a new
 * document is in place, 0 when the current one was kept. */
int plumaro_app_new_document(PLUMARO_APP* app, int size);
/* Replaces the document with the file at `path` (a drawing, an OpenRaster
 * archive or an image); 0 keeps the current one. A file too large for the
 * memory there is, or one from another program that cannot be opened or
 * opened only in part, is told in a notice. */
int plumaro_app_load_document(PLUMARO_APP* app, const char* path);
/* 1 when the last load already put up its own notice, so the caller adds none. */
int plumaro_app_load_notice_given(void);
/* Tells the user a drawing of that size needs more memory than there is. */
void plumaro_app_memory_notice(PLUMARO_APP* app, int width, int height, int layers, uint64_t needed, uint64_t budget);
/* A byte count as "1.5 GiB" or "300 MiB". */
void plumaro_app_format_bytes(uint64_t bytes, char* out, size_t size);
/* plumaro_app_set_tool (declared with the application record) lives here too;
 * saving is the interface's (plumaro_gui_request_save). */
/* Opens the file at `path` in place of the drawing because the user asked
 * for it: it becomes the file saves go to (plumaro_app_document_opened),
 * and unless the load put up its own notice the user is told `loaded` or
 * `failed` (null: nothing). 1 when it opened. */
int plumaro_app_open_file(PLUMARO_APP* app, const char* path, const char* loaded, const char* failed);
/* After a file was opened: it becomes the file saves go to unless it was a
 * picture rather than a drawing, and its name is proposed for saves. */
void plumaro_app_document_opened(PLUMARO_APP* app, const char* path);
/* Ctrl+E: exports the canvas as "sketch.png" into the save folder and tells where it went. */
void plumaro_app_export_sketch(PLUMARO_APP* app);
/* Ctrl+O: opens "sketch.plm" from the save folder. */
int plumaro_app_open_sketch(PLUMARO_APP* app);
