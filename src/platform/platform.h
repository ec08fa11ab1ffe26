/* platform: everything that differs between a desktop and a touch-first
 * build: save folder, assets, file chooser, viewer, event sources, hooks. */
#pragma once
#include <stdint.h>
#include <allegro5/allegro.h>
#include <stddef.h>

/* Creates the save folder and installs touch input where a display exists. */
int platform_init(void);
/* Writes the save folder path into `out`; 1 when it fits. */
int platform_save_dir(char* out, size_t out_len);
/* Writes "<save folder>/<filename>" into `out`; 1 when it fits. */
int platform_save_path(const char* filename, char* out, size_t out_len);
/* Lists the saved documents (newline separated); the count, or -1. */
int platform_list_documents(char* out, size_t out_len);
/* The length of the extension of a file Load opens (a drawing, an OpenRaster
 * archive or a picture) that ends `name`, any case; 0 for other names. */
size_t platform_openable_extension(const char* name);
/* Finds an asset file through the search order; 1 when a path was written. */
int platform_asset_path(const char* resource, char* out, size_t out_len);
/* Asks for a file: 1 chosen, 0 cancelled, -1 no chooser. */
int platform_choose_file(int save, const char* initial_path, const char* patterns, char* out, size_t out_len);
/* Opens an exported file with the desktop's viewer. */
int platform_reveal_export(const char* path);
/* Registers the platform's own event sources (touch). */
int platform_register_event_sources(ALLEGRO_EVENT_QUEUE* queue);
/* Blocks until the next event arrives. */
int platform_wait_event(ALLEGRO_EVENT_QUEUE* queue, ALLEGRO_EVENT* event);
/* Flags for new displays. */
int platform_display_flags(void);
/* Display density (PLUMARO_TEST_DENSITY or 1.0). */
float platform_display_density(void);
/* 1 when PLUMARO_TEST_DENSITY is set at all (even empty). */
int platform_density_overridden(void);
int platform_can_quit(void);
int platform_storage_ready(void);
int platform_is_touch_primary(void);
/* 1 once touch input is installed. */
int platform_touch_installed(void);

/* Hooks with fixed call sites; nothing to do on the desktop. */
void platform_prepare_display(void);
void platform_on_halt(void);
void platform_on_resume(ALLEGRO_EVENT_QUEUE* queue);
void platform_file_written(void);
void platform_document_saved(const char* path);
void platform_show_keyboard(void);
void platform_hide_keyboard(void);

/* Hooks with fixed results on the desktop. */
int platform_publish_file(const char* path, const char* name, const char* mime_type);
int platform_last_error(char* out, size_t out_len);
int platform_open_document_picker(void);
int platform_browse_documents(void);
int platform_resolve_document(const char* name, char* out);
int platform_take_import(char* out, size_t out_len);
/* Hands in a file to open (a path from the command line, made absolute);
 * platform_take_import gives it back once. 0 when it cannot be kept. */
int platform_hand_in(const char* path);

/* Bytes this process could still allocate: the system's available memory,
 * held within the address-space limit; 0 when neither is known. */
uint64_t platform_memory_available(void);

/* Creates a folder and its missing parents; an existing folder is fine. */
int platform_make_dirs(const char* path);
