/* compositor_internal: what the compositor's tests count. */
#pragma once
#include "canvas/compositor.h"

/* Number of kept pictures built so far. */
int _compositor_picture_builds(void);
