/* Writes the fuzz targets' starting files with the program's own writers:
 *   make_seeds --small DIR   small valid files into DIR/<target>/ (kept in
 *                            the repository under tests/fuzz/seeds)
 *   make_seeds --bomb FILE   a document of two empty 16384 x 16384 layers:
 *                            21 MB on disk, 2 GiB once decoded */
#include <allegro5/allegro.h>
#include <allegro5/allegro_font.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "app_persist.h"
#include "app_start_values.h"
#include "canvas/document_io.h"
#include "fuzz_support.h"
#include "gui/i18n.h"
#include "palette.h"
#include "t_gui.h"
#include "t_list.h"
#include "t_str.h"

namespace {

typedef std::vector<uint8_t> Bytes;

void _die(const std::string& what) {
    fprintf(stderr, "make_seeds: %s\n", what.c_str());
    exit(1);
}

void _write(const std::string& path, const void* data, size_t size) {
    if (!fuzz_write_file(path.c_str(), (const uint8_t*)data, size)) _die("could not write " + path);
}
void _write(const std::string& path, const Bytes& b) { _write(path, b.data(), b.size()); }

std::string _folder(const std::string& root, const char* name) {
    std::string dir = root + "/" + name;
    mkdir(root.c_str(), 0755);
    mkdir(dir.c_str(), 0755);
    return dir;
}

ALLEGRO_BITMAP* _bitmap(int w, int h, unsigned seed) {
    ALLEGRO_BITMAP* b = al_create_bitmap(w, h);
    if (!b) _die("no memory bitmap");
    ALLEGRO_LOCKED_REGION* lock = al_lock_bitmap(b, ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE, ALLEGRO_LOCK_WRITEONLY);
    if (!lock) _die("could not lock a bitmap");
    for (int y = 0; y < h; y++) {
        uint8_t* row = (uint8_t*)lock->data + (intptr_t)y * lock->pitch;
        for (int x = 0; x < w; x++) {
            /* runs of one colour beside single pixels, so both packet kinds appear */
            unsigned v = ((x / 5 + y * 3) * seed) & 0xFF;
            uint8_t px[4] = {(uint8_t)v, (uint8_t)(v ^ 0x5A), (uint8_t)(x * 17 + y), (uint8_t)(x % 3 ? 255 : v)};
            if (seed == 0) memset(px, 0, 4); /* seed 0: transparent */
            memcpy(row + x * 4, px, 4);
        }
    }
    al_unlock_bitmap(b);
    return b;
}

Bytes _tga(ALLEGRO_BITMAP* b) {
    T_STR* s = NULL;
    if (!document_tga_encode(b, &s)) _die("could not encode a layer image");
    Bytes out(s->data, s->data + s->length);
    t_str_free(&s);
    return out;
}

/* A layer with only its memory copy, as the writer reads layers. */
LAYER* _layer(DOCUMENT* doc, const char* name, ALLEGRO_BITMAP* pixels) {
    LAYER* layer = (LAYER*)calloc(1, sizeof(LAYER));
    if (!layer) _die("out of memory");
    layer->name = name ? t_str_from(name) : NULL;
    layer->opacity = 1.0f;
    layer->visible = 1;
    layer->backup = pixels;
    list_push(doc->layers, layer, layer_destroy);
    doc->active_layer = layer;
    return layer;
}

void _put32(Bytes& b, uint32_t v) {
    for (int i = 0; i < 4; i++) b.push_back((uint8_t)(v >> (8 * i)));
}

/* Version 1 and 2 files are no longer written; their records are built here. */
Bytes _old_document(int version, int w, int h) {
    Bytes b = {'P', 'L', 'M', (uint8_t)('0' + version)};
    _put32(b, (uint32_t)w);
    _put32(b, (uint32_t)h);
    _put32(b, 2);
    const char* names[] = {"Background", "Sketch"};
    for (int i = 0; i < 2; i++) {
        ALLEGRO_BITMAP* px = _bitmap(w, h, 3 + i);
        Bytes image = _tga(px);
        al_destroy_bitmap(px);
        _put32(b, (uint32_t)strlen(names[i]));
        b.insert(b.end(), names[i], names[i] + strlen(names[i]));
        _put32(b, i ? 600 : 1000);
        _put32(b, (uint32_t)i);
        _put32(b, 1);
        if (version >= 2) _put32(b, (uint32_t)i);
        _put32(b, (uint32_t)image.size());
        b.insert(b.end(), image.begin(), image.end());
    }
    return b;
}

void _documents(const std::string& root) {
    std::string dir = _folder(root, "document");
    {
        DOCUMENT* doc = document_new(8, 8);
        _layer(doc, "Layer 1", _bitmap(8, 8, 7));
        if (!document_save(doc, (dir + "/one-layer.plm").c_str())) _die("save failed");
        document_free(&doc);
    }
    {
        DOCUMENT* doc = document_new(23, 9);
        doc->template_index = 12;
        LAYER* a = _layer(doc, "Paper", _bitmap(23, 9, 0));
        a->locked = 1;
        LAYER* b = _layer(doc, "Ink \xE2\x9C\x93", _bitmap(23, 9, 5));
        b->blend = 1;
        b->opacity = 0.5f;
        LAYER* c = _layer(doc, NULL, _bitmap(23, 9, 11));
        c->visible = 0;
        c->blend = 3;
        if (!document_save(doc, (dir + "/three-layers.plm").c_str())) _die("save failed");
        document_free(&doc);
    }
    {
        DOCUMENT* doc = document_new(300, 2);
        _layer(doc, "Wide", _bitmap(300, 2, 1));
        if (!document_save(doc, (dir + "/wide.plm").c_str())) _die("save failed");
        document_free(&doc);
    }
    _write(dir + "/version1.plm", _old_document(1, 6, 5));
    _write(dir + "/version2.plm", _old_document(2, 5, 6));
}

/* Plain (type 2) images written byte by byte: the reader takes more than the
 * writer makes. */
Bytes _plain_tga(int w, int h, int bits, uint8_t descriptor, uint8_t id_length) {
    Bytes t(18, 0);
    t[0] = id_length;
    t[2] = 2;
    t[12] = (uint8_t)w;
    t[13] = (uint8_t)(w >> 8);
    t[14] = (uint8_t)h;
    t[15] = (uint8_t)(h >> 8);
    t[16] = (uint8_t)bits;
    t[17] = descriptor;
    for (int i = 0; i < id_length; i++) t.push_back((uint8_t)('a' + i));
    for (int i = 0; i < w * h; i++) {
        t.push_back((uint8_t)(i * 7));
        t.push_back((uint8_t)(i * 13));
        t.push_back((uint8_t)(255 - i));
        if (bits == 32) t.push_back((uint8_t)(i % 2 ? 255 : 128));
    }
    return t;
}

void _layer_images(const std::string& root) {
    std::string dir = _folder(root, "layer_image");
    ALLEGRO_BITMAP* a = _bitmap(16, 8, 9);
    _write(dir + "/rle-32.tga", _tga(a));
    al_destroy_bitmap(a);
    ALLEGRO_BITMAP* b = _bitmap(200, 3, 0); /* one colour: long repeated packets */
    _write(dir + "/rle-uniform.tga", _tga(b));
    al_destroy_bitmap(b);
    _write(dir + "/plain-24-bottom-left.tga", _plain_tga(5, 4, 24, 0x00, 0));
    _write(dir + "/plain-32-top-left.tga", _plain_tga(4, 3, 32, 0x28, 3));
    _write(dir + "/plain-32-right-to-left.tga", _plain_tga(3, 3, 32, 0x18, 0));
}

T_STR* _palette_image(const PALETTE_SET* set) {
    T_STR* s = palette_serialize(set);
    if (!s) _die("could not write a palette set");
    return s;
}

void _palettes(const std::string& root) {
    std::string dir = _folder(root, "palette");
    PALETTE_SET set;
    palette_set_defaults(&set);
    palette_select(&set, 3);
    T_STR* s = _palette_image(&set);
    _write(dir + "/builtin-active.pal", s->data, s->length);
    t_str_free(&s);

    const uint8_t red[3] = {255, 0, 0}, teal[3] = {0, 128, 128};
    palette_select(&set, 1);
    palette_assign(&set, 2, red); /* the built-in palette is forked first */
    palette_rename_active(&set, "Mine");
    palette_select(&set, 4);
    palette_assign(&set, 7, teal);
    palette_new_from_active(&set);
    s = _palette_image(&set);
    _write(dir + "/three-custom.pal", s->data, s->length);
    t_str_free(&s);

    while (palette_new_from_active(&set) >= 0) {
    }
    s = _palette_image(&set);
    _write(dir + "/full.pal", s->data, s->length);
    t_str_free(&s);
}


void _settings(const std::string& root) {
    std::string dir = _folder(root, "settings");
    static PLUMARO_APP app;
    uint8_t record[APP_SETTINGS_SIZE];
    test_app_start_values(&app);
    app.text_size = 24;
    app.export_border = 16;
    plumaro_app_settings_encode(&app, record);
    _write(dir + "/start.dat", record, sizeof(record));

    app.pressure_speed = 1;
    app.language = 3;
    app.tool = 4;
    app.brush.eraser = 1;
    app.brush_preset = 1;
    app.brush.size = 64;
    app.brush.opacity = 0.3f;
    app.brush.color = al_map_rgba(10, 20, 30, 200);
    app.brush.tip = 5;
    app.grid.visible = 1;
    app.grid.spacing = 48;
    app.symmetry.mode = 3;
    app.symmetry.segments = 7;
    app.section_flags = 0x00050005;
    app.layer_panel_collapsed = 1;
    app.layer_panel_width = 333;
    app.export_area = 1;
    app.text_font = 2;
    app.ui_size = 3;
    plumaro_app_settings_encode(&app, record);
    _write(dir + "/changed.dat", record, sizeof(record));
    _write(dir + "/before-the-interface.dat", record, 20); /* records of older versions were shorter */
}

void _layouts(const std::string& root) {
    std::string dir = _folder(root, "layout");
    ALLEGRO_FONT* font = al_create_builtin_font();
    T_GUI_CTX* ctx = t_gui_new_ctx(font);
    if (!ctx) _die("no toolkit context");
    t_gui_set_display_size(ctx, 1280, 800);
    int32_t tools = t_gui_add_window(ctx, "tools", 10, 10, 120, 600);
    int32_t layers = t_gui_add_window(ctx, "layers", 1000, 10, 260, 500);
    int32_t help = t_gui_add_window(ctx, "help", 200, 100, 600, 500);
    int32_t note = t_gui_add_window(ctx, "textann", 300, 10, 400, 60);
    t_gui_close_window(ctx, help);
    if (t_gui_save_layout_json(ctx, (dir + "/start.json").c_str()) != 0) _die("layout save failed");

    t_gui_window_set_position(ctx, layers, 700, 40);
    t_gui_window_set_size(ctx, layers, 400, 700);
    t_gui_window_set_zorder(ctx, tools, 3, 2);
    t_gui_window_set_zorder(ctx, note, 1, 0);
    t_gui_set_display_size(ctx, 1920, 1080);
    if (t_gui_save_layout_json(ctx, (dir + "/moved-larger-display.json").c_str()) != 0) _die("layout save failed");
    t_gui_destroy_ctx(&ctx);
    al_destroy_font(font);
}

/* The text area's input is a stream of events, not a file: text to type and
 * bytes that turn into keys and pointer events. */
void _typing(const std::string& root) {
    std::string dir = _folder(root, "textarea");
    const char* texts[] = {"Layer name \xC3\xA9\xE2\x9C\x93 \xF0\x9F\x98\x80\n",
                           "\x01\x05\x10\x20\x7f\x80\xff select all, cut, paste, arrows"};
    for (int i = 0; i < 2; i++) _write(dir + "/typing-" + std::to_string(i + 1), texts[i], strlen(texts[i]));
    /* Text set from outside holding F4 90 80 80 (above U+10FFFF), then
     * drawn: the input that once hung the font code. The provider reads the
     * text from the front (ended by a backslash) and the choices from the
     * back: single line, default maximum, a slow event, "set text", yes. */
    static const uint8_t beyond[] = {'S', 'k', 'y', 0xF4, 0x90, 0x80, 0x80, '\\', 'A', 0x01, 0x07, 0x00, 0x00, 0x00};
    _write(dir + "/set-text-beyond-unicode", beyond, sizeof(beyond));
    /* Longer streams: a few hundred events each. */
    uint32_t state = 12345;
    for (int i = 0; i < 2; i++) {
        Bytes stream(i ? 1024 : 512);
        for (uint8_t& b : stream) {
            state = state * 1103515245u + 12345u;
            b = (uint8_t)(state >> 16);
        }
        _write(dir + "/events-" + std::to_string(i + 1), stream);
    }
}

/* The OpenRaster target reads an input that does not start with "P" as a
 * recipe for an archive it builds: zeros take every common choice (one
 * small picture, one layer); other streams mix in the rare ones. */
void _recipes(const std::string& root) {
    std::string dir = _folder(root, "openraster");
    _write(dir + "/recipe-plain", Bytes(64, 0));
    uint32_t state = 777;
    for (int i = 0; i < 2; i++) {
        Bytes recipe(i ? 2048 : 512);
        for (uint8_t& b : recipe) {
            state = state * 1103515245u + 12345u;
            b = (uint8_t)(state >> 16);
        }
        recipe[0] = 'R';
        _write(dir + "/recipe-" + std::to_string(i + 1), recipe);
    }
}

/* Two empty layers of the largest side: small on disk, 1 GiB each decoded. */
void _bomb(const std::string& path) {
    DOCUMENT* doc = document_new(DOCUMENT_FILE_MAX_SIDE, DOCUMENT_FILE_MAX_SIDE);
    if (!doc) _die("no document");
    ALLEGRO_BITMAP* empty = al_create_bitmap(DOCUMENT_FILE_MAX_SIDE, DOCUMENT_FILE_MAX_SIDE);
    if (!empty) _die("no 16384 x 16384 memory bitmap");
    al_set_target_bitmap(empty);
    al_clear_to_color(al_map_rgba(0, 0, 0, 0));
    _layer(doc, "Layer 1", empty);
    LAYER* second = _layer(doc, "Layer 2", empty); /* one bitmap written twice */
    int ok = document_save(doc, path.c_str());
    second->backup = NULL;
    document_free(&doc);
    if (!ok) _die("could not write " + path);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 || (strcmp(argv[1], "--small") != 0 && strcmp(argv[1], "--bomb") != 0)) {
        fprintf(stderr, "usage: make_seeds --small DIR | --bomb FILE\n");
        return 2;
    }
    fuzz_init();
    if (strcmp(argv[1], "--bomb") == 0) {
        _bomb(argv[2]);
        return 0;
    }
    std::string root = argv[2];
    _documents(root);
    _layer_images(root);
    _palettes(root);
    _settings(root);
    _layouts(root);
    _typing(root);
    _recipes(root);
    return 0;
}
