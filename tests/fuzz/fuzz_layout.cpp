/* The window layout file (layout.json) on any bytes, read into a toolkit
 * context that holds windows of the program's titles, then used: windows
 * created after the load take their pending entries, and the pointer
 * presses, drags and resizes them where the file put them. A layout that
 * was read must be written and read back to the same windows. */
#include <allegro5/allegro.h>
#include <allegro5/allegro_font.h>
#include <string.h>

#include <vector>

#include "fuzz_support.h"
#include "t_gui.h"

static ALLEGRO_FONT* _font = NULL;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz_init();
    _font = al_create_builtin_font();
    if (!_font) fuzz_fail("al_create_builtin_font", __FILE__, __LINE__);
    return 0;
}

namespace {

struct Placed {
    int32_t id;
    float x, y, w, h;
    int32_t state, flags, z_order, z_value;
    float norm_x, norm_y, norm_w, norm_h, autofit_border;
    int32_t autofit_flags, resize_policy;
};

std::vector<Placed> _placement(T_GUI_CTX* ctx) {
    std::vector<Placed> out;
    for (LIST_NODE* n = ctx->windows->start; n; n = n->next) {
        const T_GUI_WINDOW* w = (const T_GUI_WINDOW*)n->ptr;
        out.push_back(Placed{w->id, w->x, w->y, w->w, w->h, w->state & 0x43, w->flags, w->z_order, w->z_value,
                             w->norm_x, w->norm_y, w->norm_w, w->norm_h, w->autofit_border, w->autofit_flags,
                             w->resize_policy});
    }
    return out;
}

// Equal values (a file cannot tell 0 from -0).
bool _same(const std::vector<Placed>& a, const std::vector<Placed>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); i++) {
        const Placed &p = a[i], &q = b[i];
        if (p.id != q.id || p.x != q.x || p.y != q.y || p.w != q.w || p.h != q.h || p.state != q.state ||
            p.flags != q.flags || p.z_order != q.z_order || p.z_value != q.z_value || p.norm_x != q.norm_x ||
            p.norm_y != q.norm_y || p.norm_w != q.norm_w || p.norm_h != q.norm_h ||
            p.autofit_border != q.autofit_border || p.autofit_flags != q.autofit_flags ||
            p.resize_policy != q.resize_policy)
            return false;
    }
    return true;
}

struct Pointer {
    T_GUI_CTX* ctx;
    double clock = 10.0;
    void send(int type, float x, float y) {
        ALLEGRO_EVENT ev;
        memset(&ev, 0, sizeof(ev));
        clock += 0.05;
        ev.type = type;
        ev.any.timestamp = clock;
        ev.mouse.x = (int)(x > 1e6f ? 1e6f : (x < -1e6f ? -1e6f : x));
        ev.mouse.y = (int)(y > 1e6f ? 1e6f : (y < -1e6f ? -1e6f : y));
        ev.mouse.button = 1;
        t_gui_process_event(ctx, &ev);
    }
    void drag(float x0, float y0, float x1, float y1) {
        send(ALLEGRO_EVENT_MOUSE_AXES, x0, y0);
        send(ALLEGRO_EVENT_MOUSE_BUTTON_DOWN, x0, y0);
        send(ALLEGRO_EVENT_MOUSE_AXES, (x0 + x1) / 2, (y0 + y1) / 2);
        send(ALLEGRO_EVENT_MOUSE_AXES, x1, y1);
        send(ALLEGRO_EVENT_MOUSE_BUTTON_UP, x1, y1);
    }
};

// The program's kind of windows: a toolbar with controls, a panel, a closed one.
void _populate(T_GUI_CTX* ctx) {
    int32_t tools = t_gui_add_window(ctx, "tools", 10, 10, 120, 600);
    t_gui_add_button(ctx, tools, "Brush", 5, 5, 100, 30, 0, NULL, NULL);
    t_gui_add_slider(ctx, tools, 5, 40, 100, 20, 1, 128, 8, 0, NULL, NULL);
    int32_t layers = t_gui_add_window(ctx, "layers", 1000, 10, 260, 500);
    t_gui_add_listbox(ctx, layers, 5, 5, 240, 300, 1, NULL, NULL);
    t_gui_add_textarea(ctx, layers, 5, 310, 240, 24, 0, 64, NULL, NULL);
    int32_t help = t_gui_add_window(ctx, "help", 200, 100, 600, 500);
    t_gui_close_window(ctx, help);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* path = fuzz_temp_path("layout.json");
    if (!fuzz_write_file(path, data, size)) fuzz_fail("writing layout.json", __FILE__, __LINE__);
    T_GUI_CTX* ctx = t_gui_new_ctx(_font);
    FUZZ_CHECK(ctx);
    t_gui_set_display_size(ctx, 1280, 800);
    _populate(ctx);
    if (t_gui_load_layout_json(ctx, path) == 0) {
        std::vector<Placed> read = _placement(ctx);
        const char* again = fuzz_temp_path("layout-again.json");
        FUZZ_CHECK(t_gui_save_layout_json(ctx, again) == 0);
        FUZZ_CHECK(t_gui_load_layout_json(ctx, again) == 0);
        FUZZ_CHECK(_same(read, _placement(ctx)));

        /* Windows made after the load take the file's entries for their titles. */
        t_gui_add_window(ctx, "textann", 300, 10, 400, 60);
        t_gui_add_window(ctx, "layers", 1000, 10, 260, 500);
        Pointer pointer{ctx};
        std::vector<Placed> now = _placement(ctx);
        for (const Placed& p : now) {
            pointer.drag(p.x + 4, p.y + 4, p.x + 40, p.y + 30);          /* title bar */
            pointer.drag(p.x + p.w - 2, p.y + p.h - 2, p.x + p.w + 50, p.y + p.h + 50); /* corner */
            pointer.drag(p.x + p.w / 2, p.y + p.h / 2, p.x + p.w / 2, p.y + p.h / 2 + 5);
        }
    }
    t_gui_destroy_ctx(&ctx);
    return 0;
}
