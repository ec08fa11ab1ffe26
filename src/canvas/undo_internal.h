/* undo_internal: what the tests of the history change in it. */
#pragma once
#include "canvas/undo.h"

/* Makes the history's allocations fail past this many bytes held (0: no
 * limit), as when memory runs out. */
void _undo_set_alloc_limit(size_t bytes);
