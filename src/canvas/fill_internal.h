/* fill_internal: the flood fill's seed stack, as its tests and benchmarks see it. */
#pragma once
#include "canvas/fill.h"

/* Capacity in pairs past which the seed stack refuses to grow, as if the
 * allocation failed (0: no limit). */
void _fill_set_seed_limit(int pairs);
/* Capacity in pairs the seed stack reached in the last flood fill. */
int _fill_seed_capacity(void);
