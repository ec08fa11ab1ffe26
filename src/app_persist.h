/* app_persist: the user's state carried from one run to the next in the save
 * folder: "settings.dat" (a fixed 128-byte record), "palette.dat" (the
 * palette set's file image) and "session.plm" (the open document). Every
 * write goes to a temporary file beside the target, flushed, then renamed
 * over it, so a failed or interrupted write never costs the old file. */
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "plumaro_app.h"

#define APP_SETTINGS_SIZE 128
#define APP_SETTINGS_READ_MAX 140
#define APP_SETTINGS_VERSION 4
#define APP_PALETTE_READ_MAX 4096
#define APP_SETTINGS_FILE "settings.dat"
#define APP_PALETTE_FILE "palette.dat"
#define APP_SESSION_FILE "session.plm"

/* Reads "settings.dat"; 1 when a record with the right magic was read. */
int plumaro_app_settings_load(PLUMARO_APP* app);
/* Writes the current preferences to "settings.dat"; 1 when stored (or
 * nothing was to be stored), 0 with the reason in `store_error`. */
int plumaro_app_settings_persist(PLUMARO_APP* app);
/* Resets the palettes and reads "palette.dat"; the deserializer's result, 0 when nothing was read. */
int plumaro_app_palette_load(PLUMARO_APP* app);
/* Writes the palette set to "palette.dat". */
void plumaro_app_palette_persist(PLUMARO_APP* app);
/* Writes the open document to "session.plm"; 1 when stored (or nothing was
 * to be stored), 0 with the system's reason in `store_error`. */
int plumaro_app_session_persist(PLUMARO_APP* app);
/* Loads "session.plm" in place of the open document; 1 when it was loaded.
 * A session that cannot be read is renamed aside, so that nothing written
 * later replaces it, and the user is told where it is. */
int plumaro_app_session_restore(PLUMARO_APP* app);

/* The settings record of the current state, byte for byte. */
void plumaro_app_settings_encode(const PLUMARO_APP* app, uint8_t out[APP_SETTINGS_SIZE]);
/* Applies `count` bytes of a settings record as the load does (the short-file
 * rules and clamping); 1 when the magic matched and at least 16 bytes were given. */
int plumaro_app_settings_apply(PLUMARO_APP* app, const uint8_t* bytes, size_t count);
