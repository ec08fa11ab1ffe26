/* The floor for start-up time: an Allegro program that only opens a display,
 * loads the interface font, draws one frame and says so. */
#include <allegro5/allegro.h>
#include <allegro5/allegro_font.h>
#include <allegro5/allegro_ttf.h>
#include <stdio.h>

int main(int argc, char** argv) {
    const char* font_path = argc > 1 ? argv[1] : "assets/fonts/DejaVuSans.ttf";
    if (!al_init() || !al_init_font_addon() || !al_init_ttf_addon()) return 1;
    al_set_new_display_flags(ALLEGRO_WINDOWED | ALLEGRO_RESIZABLE | ALLEGRO_OPENGL);
    ALLEGRO_DISPLAY* display = al_create_display(1280, 800);
    if (!display) {
        fprintf(stderr, "could not create display\n");
        return 1;
    }
    ALLEGRO_FONT* font = al_load_ttf_font(font_path, 18, 0);
    if (!font) {
        fprintf(stderr, "could not load %s\n", font_path);
        return 1;
    }
    al_clear_to_color(al_map_rgb(40, 42, 46));
    al_draw_text(font, al_map_rgb(230, 230, 230), 640, 400, ALLEGRO_ALIGN_CENTRE, "Plumaro");
    al_flip_display();
    fprintf(stderr, "first frame drawn\n");
    fflush(stderr);
    al_rest(0.2);
    al_destroy_font(font);
    al_destroy_display(display);
    return 0;
}
