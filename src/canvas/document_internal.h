/* document_internal: what the tests of the document's callers change in it. */
#pragma once
#include "canvas/document.h"

/* Consulted by document_new before it allocates anything; returning 0 makes
 * the creation fail as if memory ran out, so that the callers' fallbacks can
 * be tried; null (the default) removes the hook. */
typedef int (*DOCUMENT_NEW_HOOK)(int width, int height, void* user);
void document_set_new_hook(DOCUMENT_NEW_HOOK hook, void* user);
