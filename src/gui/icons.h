/* icons: toolbar and panel icons drawn with primitives at their button's
 * exact size, as three complete button faces (normal, hover, active). */
#pragma once
#include <allegro5/allegro.h>

#include "t_gui.h"

/* Highest id with a glyph; any other id gives the frame alone. */
#define PLUMARO_ICON_LAST 33

/* The faces of one icon, one per button state; the set owns the bitmaps. */
typedef struct PLUMARO_ICON_SET {
    ALLEGRO_BITMAP* normal;
    ALLEGRO_BITMAP* hover;
    ALLEGRO_BITMAP* active;
} PLUMARO_ICON_SET;

/* Draws icon id as three w x h faces in the theme's colours into out (cleared first); 1 on success. */
int plumaro_icon_render(int id, const T_GUI_STYLE* theme, int w, int h, PLUMARO_ICON_SET* out);
/* Destroys the faces a set holds and clears its references. */
void plumaro_icon_set_destroy(PLUMARO_ICON_SET* set);
