/* templates: the page-template catalogue and its renderer. */
#pragma once
#include <allegro5/allegro.h>

#define TEMPLATE_COUNT 25

int template_count(void);
const char* template_name(int index);
/* Draws template `index` for a width x height page under the caller's transform and blender. */
void template_draw(int index, float width, float height, ALLEGRO_COLOR colour, float thickness);
