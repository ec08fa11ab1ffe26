/* The text area's input handling driven by any bytes: key presses and key
 * characters with any code point and modifiers (editing keys, arrows,
 * Ctrl+A/C/X/V), pointer presses, drags and double clicks, text set from
 * outside, focus changes, and a draw. After every event the field must hold
 * a terminated text within its maximum, with the cursor and selection on it. */
#include <allegro5/allegro.h>
#include <allegro5/allegro_font.h>
#include <allegro5/allegro_primitives.h>
#include <fuzzer/FuzzedDataProvider.h>
#include <string.h>

#include <string>

#include "fuzz_support.h"
#include "t_gui.h"

static ALLEGRO_FONT* _font = NULL;
static ALLEGRO_BITMAP* _target = NULL;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz_init();
    al_init_primitives_addon();
    _font = al_create_builtin_font();
    _target = al_create_bitmap(640, 480);
    if (!_font || !_target) fuzz_fail("font or target bitmap", __FILE__, __LINE__);
    return 0;
}

namespace {

const int _keys[] = {0,
                     ALLEGRO_KEY_BACKSPACE,
                     ALLEGRO_KEY_DELETE,
                     ALLEGRO_KEY_ENTER,
                     ALLEGRO_KEY_PAD_ENTER,
                     ALLEGRO_KEY_LEFT,
                     ALLEGRO_KEY_RIGHT,
                     ALLEGRO_KEY_UP,
                     ALLEGRO_KEY_DOWN,
                     ALLEGRO_KEY_HOME,
                     ALLEGRO_KEY_END,
                     ALLEGRO_KEY_PGUP,
                     ALLEGRO_KEY_PGDN,
                     ALLEGRO_KEY_TAB,
                     ALLEGRO_KEY_ESCAPE,
                     ALLEGRO_KEY_SPACE,
                     ALLEGRO_KEY_A,
                     ALLEGRO_KEY_C,
                     ALLEGRO_KEY_V,
                     ALLEGRO_KEY_X,
                     ALLEGRO_KEY_Z,
                     ALLEGRO_KEY_LSHIFT,
                     ALLEGRO_KEY_LCTRL};

struct Field {
    std::string last_reported;
    int reports = 0;
};

void _changed(int32_t, const char* text, void* user) {
    Field* field = (Field*)user;
    FUZZ_CHECK(text);
    field->last_reported = text;
    field->reports++;
}

// The rules every event must leave the field in.
void _check(T_GUI_CTX* ctx, int32_t id, int max_length) {
    T_GUI_WIDGET* widget = t_gui_get_widget(ctx, id);
    FUZZ_CHECK(widget && widget->data);
    const T_GUI_TEXTAREA_DATA* d = (const T_GUI_TEXTAREA_DATA*)widget->data;
    FUZZ_CHECK(d->text);
    FUZZ_CHECK(d->length >= 0 && d->length <= max_length);
    FUZZ_CHECK((size_t)d->length == strlen(d->text));
    FUZZ_CHECK(d->cursor >= 0 && d->cursor <= d->length);
    FUZZ_CHECK(d->sel_start >= 0 && d->sel_start <= d->length);
    FUZZ_CHECK(d->sel_end >= 0 && d->sel_end <= d->length);
    FUZZ_CHECK(!strchr(d->text, '\r'));
}

// Line ends in the field's text.
int _line_ends(T_GUI_CTX* ctx, int32_t id) {
    int n = 0;
    for (const char* s = t_gui_textarea_get_text(ctx, id); *s; s++) n += *s == '\n';
    return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    T_GUI_CTX* ctx = t_gui_new_ctx(_font);
    FUZZ_CHECK(ctx);
    t_gui_set_display_size(ctx, 640, 480);
    int32_t win = t_gui_add_window(ctx, "field", 20, 20, 400, 300);
    const int multiline = in.ConsumeBool();
    const int asked = in.ConsumeIntegralInRange<int>(0, 40); /* 0: the default maximum */
    const int max_length = asked > 0 ? asked : 4095;
    Field field;
    int32_t id = t_gui_add_textarea(ctx, win, 10, 10, 300, multiline ? 200 : 24, multiline, asked, _changed, &field);
    FUZZ_CHECK(id >= 0);
    t_gui_set_focus(ctx, id);
    float ox = 0, oy = 0;
    t_gui_window_content_origin(ctx, win, &ox, &oy);

    double clock = 1.0;
    for (int step = 0; step < 4096 && in.remaining_bytes() > 0; step++) {
        ALLEGRO_EVENT ev;
        memset(&ev, 0, sizeof(ev));
        clock += in.ConsumeBool() ? 0.05 : 1.0; /* quick presses make double clicks */
        ev.any.timestamp = clock;
        const int reports = field.reports, line_ends = _line_ends(ctx, id);
        int set_from_outside = 0;
        switch (in.ConsumeIntegralInRange<int>(0, 7)) {
            case 0:
            case 1:
            case 2: /* a key with its character, as typing sends them */
            case 3: {
                ev.type = in.ConsumeIntegralInRange<int>(0, 3) == 0 ? ALLEGRO_EVENT_KEY_DOWN : ALLEGRO_EVENT_KEY_CHAR;
                ev.keyboard.keycode = _keys[in.ConsumeIntegralInRange<size_t>(0, sizeof(_keys) / sizeof(_keys[0]) - 1)];
                const uint8_t mods = in.ConsumeIntegral<uint8_t>();
                ev.keyboard.modifiers = ((mods & 1) ? ALLEGRO_KEYMOD_SHIFT : 0) | ((mods & 2) ? ALLEGRO_KEYMOD_CTRL : 0) |
                                        ((mods & 4) ? ALLEGRO_KEYMOD_ALT : 0);
                ev.keyboard.unichar = (mods & 0x80) ? in.ConsumeIntegral<int32_t>()
                                                    : in.ConsumeIntegralInRange<int32_t>(0, 0x7F);
                ev.keyboard.repeat = (mods & 0x40) != 0;
                t_gui_process_event(ctx, &ev);
                if (ev.type == ALLEGRO_EVENT_KEY_DOWN) { /* its release too */
                    ev.type = ALLEGRO_EVENT_KEY_UP;
                    t_gui_process_event(ctx, &ev);
                }
                break;
            }
            case 4:
            case 5:
            case 6: { /* the pointer over, beside or off the field */
                static const int types[] = {ALLEGRO_EVENT_MOUSE_BUTTON_DOWN, ALLEGRO_EVENT_MOUSE_AXES,
                                            ALLEGRO_EVENT_MOUSE_BUTTON_UP};
                ev.type = types[in.ConsumeIntegralInRange<int>(0, 2)];
                ev.mouse.x = (int)ox + in.ConsumeIntegralInRange<int>(-30, 340);
                ev.mouse.y = (int)oy + in.ConsumeIntegralInRange<int>(-30, 240);
                ev.mouse.button = 1;
                t_gui_process_event(ctx, &ev);
                break;
            }
            default: {
                if (in.ConsumeBool()) {
                    std::string text = in.ConsumeRandomLengthString(256);
                    t_gui_textarea_set_text(ctx, id, text.c_str());
                    set_from_outside = 1;
                } else {
                    t_gui_set_focus(ctx, in.ConsumeBool() ? id : -1);
                }
                break;
            }
        }
        _check(ctx, id, max_length);
        /* Text set by the program may hold line ends; typing adds none to a single line. */
        if (!multiline && !set_from_outside) FUZZ_CHECK(_line_ends(ctx, id) <= line_ends);
        if (field.reports != reports) FUZZ_CHECK(field.last_reported == t_gui_textarea_get_text(ctx, id));
    }
    al_set_target_bitmap(_target);
    t_gui_draw(ctx);
    t_gui_destroy_ctx(&ctx);
    return 0;
}
