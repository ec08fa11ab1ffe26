/* t_gui_test_util: a toolkit context on the built-in font and synthetic events. */
#pragma once
#include <allegro5/allegro.h>
#include <allegro5/allegro_font.h>
#include <string.h>

#include "t_gui.h"
#include "test_support.h"

/* A context on the built-in font sized to a 1280 x 800 display. */
struct GuiFixture {
    ALLEGRO_FONT* font = NULL;
    T_GUI_CTX* ctx = NULL;
    double clock = 100.0;
    GuiFixture() {
        test_allegro_init();
        font = al_create_builtin_font();
        ctx = t_gui_new_ctx(font);
        if (ctx) t_gui_set_display_size(ctx, 1280, 800);
    }
    ~GuiFixture() {
        if (ctx) t_gui_destroy_ctx(&ctx);
        if (font) al_destroy_font(font);
    }
    /* Sends a pointer event; the clock moves by 1 s unless `dt` says otherwise. */
    int mouse(int type, float x, float y, int button = 1, double dt = 1.0, int dz = 0) {
        ALLEGRO_EVENT ev;
        memset(&ev, 0, sizeof(ev));
        clock += dt;
        ev.type = type;
        ev.any.timestamp = clock;
        ev.mouse.x = (int)x;
        ev.mouse.y = (int)y;
        ev.mouse.z = 0;
        ev.mouse.dz = dz;
        ev.mouse.button = (unsigned)button;
        return t_gui_process_event(ctx, &ev);
    }
    int press(float x, float y, double dt = 1.0) { return mouse(ALLEGRO_EVENT_MOUSE_BUTTON_DOWN, x, y, 1, dt); }
    int release(float x, float y, double dt = 0.01) { return mouse(ALLEGRO_EVENT_MOUSE_BUTTON_UP, x, y, 1, dt); }
    int move(float x, float y, double dt = 0.01) { return mouse(ALLEGRO_EVENT_MOUSE_AXES, x, y, 0, dt); }
    int click(float x, float y) {
        int a = press(x, y);
        int b = release(x, y);
        return a && b;
    }
    /* Sends a key press and its key character. */
    int key(int keycode, int unichar = 0, int mods = 0) {
        ALLEGRO_EVENT ev;
        memset(&ev, 0, sizeof(ev));
        clock += 0.01;
        ev.any.timestamp = clock;
        ev.type = ALLEGRO_EVENT_KEY_DOWN;
        ev.keyboard.keycode = keycode;
        int down = t_gui_process_event(ctx, &ev);
        ev.type = ALLEGRO_EVENT_KEY_CHAR;
        ev.keyboard.unichar = unichar;
        ev.keyboard.modifiers = (unsigned)mods;
        int ch = t_gui_process_event(ctx, &ev);
        ev.type = ALLEGRO_EVENT_KEY_UP;
        t_gui_process_event(ctx, &ev);
        return down || ch;
    }
    /* Types a UTF-8 string one code point at a time. */
    void type(const char* s) {
        const unsigned char* p = (const unsigned char*)s;
        while (*p) {
            int cp, n;
            if (*p < 0x80) { cp = *p; n = 1; }
            else if ((*p & 0xE0) == 0xC0) { cp = *p & 0x1F; n = 2; }
            else if ((*p & 0xF0) == 0xE0) { cp = *p & 0x0F; n = 3; }
            else { cp = *p & 0x07; n = 4; }
            for (int i = 1; i < n; i++) cp = (cp << 6) | (p[i] & 0x3F);
            p += n;
            int code = 0;
            if (cp >= 'a' && cp <= 'z') code = ALLEGRO_KEY_A + (cp - 'a');
            if (cp >= '0' && cp <= '9') code = ALLEGRO_KEY_0 + (cp - '0');
            key(code, cp, 0);
        }
    }
};
