/* app_cli: the commands that answer without a window: "--export" writes a
 * drawing, an OpenRaster archive or a picture as a PNG of its composite or
 * converts it to the other layered format, and "--thumbnail" writes the
 * small picture a file manager shows for it. Neither opens a display,
 * installs any input or touches the save folder, the settings or the session. */
#pragma once
#include <stddef.h>
#include <stdio.h>

/* 1 when a command-line argument names one of these commands. */
int plumaro_app_cli_is_command(const char* arg);
/* Runs the command named in argv: 0 when it wrote its file, 1 with a
 * one-line reason on `err` otherwise (nothing is written then). */
int plumaro_app_cli_run(int argc, char** argv, FILE* out, FILE* err);
/* The local path an argument names: a path as it is, or a "file:" URI
 * decoded; 0 for another kind of URI, a broken one or one that does not fit. */
int plumaro_app_cli_local_path(const char* arg, char* out, size_t out_len);
