/* document_exchange: OpenRaster archives and ordinary images. Layers are
 * written cropped to their painted part, un-premultiplied, through the
 * program's own PNG writer; reading decodes each layer PNG with the graphics
 * library and places it at its offset on the canvas. The archive is made
 * and read in memory with libzip, so the file is written by the program's
 * own atomic writer and never opened as anything but a regular file. */
#include "canvas/document_exchange.h"

#include <allegro5/allegro_memfile.h>
#include <expat.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <zip.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "canvas/compositor.h"
#include "canvas/document_io.h"
#include "t_log.h"
#include "t_str.h"

#define ORA_STACK_MAX (16u << 20)
#define ORA_THUMB_SIDE 256
#define ORA_OFFSET_MAX (1 << 20)

/* ------------------------------------------------------------------------ */
/* Writing                                                                   */
/* ------------------------------------------------------------------------ */

// Adds a buffer (handed to libzip, which frees it) as an entry; 1 on success.
// PNGs are stored as they are: deflating them again costs seconds on a large
// drawing and saves next to nothing.
static int _zip_add(zip_t* za, const char* name, void* data, size_t len, int store) {
    zip_source_t* src = zip_source_buffer(za, data, len, 1);
    if (!src) {
        free(data);
        return 0;
    }
    zip_int64_t index = zip_file_add(za, name, src, ZIP_FL_ENC_UTF_8 | ZIP_FL_OVERWRITE);
    if (index < 0) {
        zip_source_free(src);
        return 0;
    }
    if (store) zip_set_file_compression(za, (zip_uint64_t)index, ZIP_CM_STORE, 0);
    return 1;
}

// A copy of a text as a buffer libzip may free.
static void* _dup_text(const std::string& text) {
    void* p = malloc(text.size() ? text.size() : 1);
    if (p) memcpy(p, text.data(), text.size());
    return p;
}

// Text made safe inside an XML attribute.
static std::string _xml_escape(const char* text) {
    std::string out;
    for (const char* p = text ? text : ""; *p; p++) {
        switch (*p) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\n': out += "&#10;"; break;
            default: out += *p; break;
        }
    }
    return out;
}

// A PNG of part of a bitmap (straight alpha, as the format keeps it); null on failure.
static uint8_t* _png_of(ALLEGRO_BITMAP* bitmap, int x, int y, int w, int h, size_t* size) {
    ALLEGRO_BITMAP* part = al_create_sub_bitmap(bitmap, x, y, w, h);
    if (!part) return NULL;
    uint8_t* png = document_png_encode(part, size);
    al_destroy_bitmap(part);
    return png;
}

// The flattened drawing as premultiplied RGBA rows: on the CPU where the
// layers allow it, read back from the device otherwise. Null on failure.
static uint8_t* _flat_bytes(DOCUMENT* doc) {
    uint8_t* rgba = compositor_flatten_region_bytes(doc, 0, 0, doc->width, doc->height, 0);
    if (rgba) return rgba;
    ALLEGRO_BITMAP* flat = compositor_flatten_region(doc, 0, 0, doc->width, doc->height, 0);
    if (!flat) return NULL;
    size_t row = (size_t)doc->width * 4;
    rgba = (uint8_t*)malloc(row * (size_t)doc->height);
    ALLEGRO_LOCKED_REGION* lock =
        rgba ? al_lock_bitmap(flat, ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE, ALLEGRO_LOCK_READONLY) : NULL;
    if (lock) {
        for (int y = 0; y < doc->height; y++)
            memcpy(rgba + row * (size_t)y, (const uint8_t*)lock->data + (intptr_t)y * lock->pitch, row);
        al_unlock_bitmap(flat);
    } else {
        free(rgba);
        rgba = NULL;
    }
    al_destroy_bitmap(flat);
    return rgba;
}

// A box-filtered reduction of premultiplied rows to tw x th: every source
// pixel counts, so thin lines still show in the thumbnail.
static uint8_t* _reduce(const uint8_t* rgba, int w, int h, int tw, int th) {
    uint8_t* out = (uint8_t*)malloc((size_t)tw * (size_t)th * 4);
    if (!out) return NULL;
    for (int ty = 0; ty < th; ty++) {
        int y0 = (int)((int64_t)ty * h / th), y1 = (int)((int64_t)(ty + 1) * h / th);
        if (y1 <= y0) y1 = y0 + 1;
        for (int tx = 0; tx < tw; tx++) {
            int x0 = (int)((int64_t)tx * w / tw), x1 = (int)((int64_t)(tx + 1) * w / tw);
            if (x1 <= x0) x1 = x0 + 1;
            uint64_t sum[4] = {0, 0, 0, 0};
            for (int y = y0; y < y1; y++) {
                const uint8_t* p = rgba + ((size_t)y * (size_t)w + (size_t)x0) * 4;
                for (int x = x0; x < x1; x++, p += 4)
                    sum[0] += p[0], sum[1] += p[1], sum[2] += p[2], sum[3] += p[3];
            }
            uint64_t n = (uint64_t)(x1 - x0) * (uint64_t)(y1 - y0);
            uint8_t* o = out + ((size_t)ty * (size_t)tw + (size_t)tx) * 4;
            for (int c = 0; c < 4; c++) o[c] = (uint8_t)((sum[c] + n / 2) / n);
        }
    }
    return out;
}

// The merged picture and a thumbnail of at most 256 pixels a side, as PNGs.
static int _add_merged(zip_t* za, DOCUMENT* doc) {
    uint8_t* rgba = _flat_bytes(doc);
    if (!rgba) return 0;
    size_t size = 0;
    uint8_t* merged = document_png_encode_rgba(rgba, (intptr_t)doc->width * 4, doc->width, doc->height, &size);
    int ok = merged && _zip_add(za, "mergedimage.png", merged, size, 1);
    int longer = doc->width > doc->height ? doc->width : doc->height;
    int tw = doc->width, th = doc->height;
    if (longer > ORA_THUMB_SIDE) {
        tw = (int)(((int64_t)doc->width * ORA_THUMB_SIDE + longer / 2) / longer);
        th = (int)(((int64_t)doc->height * ORA_THUMB_SIDE + longer / 2) / longer);
        if (tw < 1) tw = 1;
        if (th < 1) th = 1;
    }
    uint8_t* small = ok ? _reduce(rgba, doc->width, doc->height, tw, th) : NULL;
    free(rgba);
    if (ok) {
        uint8_t* png = small ? document_png_encode_rgba(small, (intptr_t)tw * 4, tw, th, &size) : NULL;
        ok = png && _zip_add(za, "Thumbnails/thumbnail.png", png, size, 1);
    }
    free(small);
    return ok;
}

// Reads the whole archive libzip built in memory.
static int _zip_bytes(zip_source_t* src, std::vector<uint8_t>* out) {
    zip_stat_t st;
    if (zip_source_open(src) < 0) return 0;
    int ok = zip_source_stat(src, &st) == 0 && (st.valid & ZIP_STAT_SIZE);
    if (ok) {
        out->resize((size_t)st.size);
        ok = zip_source_read(src, out->data(), st.size) == (zip_int64_t)st.size;
    }
    zip_source_close(src);
    return ok;
}

int document_save_ora(DOCUMENT* doc, const char* path) {
    __t_assert(doc);
    __t_assert(path);
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* memory = zip_source_buffer_create(NULL, 0, 0, &error);
    if (!memory) {
        t_log(LOG_ERR, "could not save %s: %s", path, zip_error_strerror(&error));
        zip_error_fini(&error);
        return 0;
    }
    zip_source_keep(memory);
    zip_t* za = zip_open_from_source(memory, ZIP_TRUNCATE, &error);
    int ok = za != NULL;
    /* The mimetype comes first and uncompressed, so the format is told by its first bytes. */
    if (ok) ok = _zip_add(za, "mimetype", _dup_text(DOCUMENT_ORA_MIME_TYPE), strlen(DOCUMENT_ORA_MIME_TYPE), 1);
    std::string stack = "<?xml version='1.0' encoding='UTF-8'?>\n";
    char head[256];
    snprintf(head, sizeof(head),
             "<image version=\"0.0.3\" w=\"%d\" h=\"%d\" xmlns:plumaro=\"urn:plumaro:ora\" plumaro:template=\"%d\">\n"
             " <stack>\n",
             doc->width, doc->height, doc->template_index);
    stack += head;
    int count = document_layer_count(doc);
    /* The stack lists the top layer first. */
    for (int i = count - 1; ok && i >= 0; i--) {
        LAYER* layer = document_layer_at(doc, i);
        if (!layer || !layer->backup) {
            ok = 0;
            break;
        }
        int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
        if (!layer_content_box(layer, &x0, &y0, &x1, &y1)) x0 = y0 = x1 = y1 = 0; /* an empty layer is one clear pixel */
        char name[64];
        snprintf(name, sizeof(name), "data/layer%03d.png", i);
        size_t size = 0;
        uint8_t* png = _png_of(layer->backup, x0, y0, x1 - x0 + 1, y1 - y0 + 1, &size);
        ok = png && _zip_add(za, name, png, size, 1);
        char attrs[512];
        snprintf(attrs, sizeof(attrs),
                 "  <layer src=\"%s\" x=\"%d\" y=\"%d\" opacity=\"%.3f\" visibility=\"%s\" composite-op=\"%s\"%s name=\"",
                 name, x0, y0, layer->opacity > 1.0f ? 1.0f : layer->opacity, layer->visible ? "visible" : "hidden",
                 layer_blend_mode(layer->blend)->ora_op, layer->locked ? " edit-locked=\"true\"" : "");
        stack += attrs + _xml_escape(layer_name_text(layer)) + "\"/>\n";
    }
    stack += " </stack>\n</image>\n";
    if (ok) ok = _zip_add(za, "stack.xml", _dup_text(stack), stack.size(), 0);
    if (ok) ok = _add_merged(za, doc);
    if (za) {
        if (!ok)
            zip_discard(za);
        else if (zip_close(za) != 0) {
            t_log(LOG_ERR, "could not build %s: %s", path, zip_strerror(za));
            zip_discard(za);
            ok = 0;
        }
    }
    std::vector<uint8_t> bytes;
    if (ok) ok = _zip_bytes(memory, &bytes);
    zip_source_free(memory);
    zip_error_fini(&error);
    if (ok) ok = t_file_write_atomic_shared(path, bytes.data(), bytes.size());
    if (ok)
        t_log(LOG_INFO, "saved OpenRaster %s (%d layers, %zu bytes)", path, count, bytes.size());
    else
        t_log(LOG_ERR, "could not save document to %s", path);
    return ok;
}

/* ------------------------------------------------------------------------ */
/* Reading                                                                   */
/* ------------------------------------------------------------------------ */

/* One layer of the stack, as read. */
typedef struct ORA_LAYER {
    std::string src, name;
    int x, y;
    float opacity;
    int visible, locked, blend;
} ORA_LAYER;

/* What the parse of stack.xml gathers; nested stacks add their offsets,
 * multiply their opacity and hide what they hide. */
typedef struct ORA_STACK {
    int w, h, template_index;
    int depth;
    std::vector<int> dx, dy, shown;
    std::vector<float> alpha;
    std::vector<ORA_LAYER> layers; /* top first, as listed */
    int image_seen;
} ORA_STACK;

// An attribute's value, or null.
static const char* _attr(const char** attrs, const char* name) {
    for (int i = 0; attrs && attrs[i]; i += 2)
        if (strcmp(attrs[i], name) == 0) return attrs[i + 1];
    return NULL;
}

// A whole-number attribute, kept within a range where offsets cannot overflow.
static int _attr_int(const char** attrs, const char* name, int fallback) {
    const char* v = _attr(attrs, name);
    if (!v) return fallback;
    long n = strtol(v, NULL, 10);
    return n < -ORA_OFFSET_MAX ? -ORA_OFFSET_MAX : (n > ORA_OFFSET_MAX ? ORA_OFFSET_MAX : (int)n);
}

static float _attr_float(const char** attrs, const char* name, float fallback) {
    const char* v = _attr(attrs, name);
    if (!v) return fallback;
    float f = (float)atof(v);
    return f < 0.0f ? 0.0f : (f > 1.0f ? 1.0f : f);
}

static void XMLCALL _ora_start(void* user, const char* element, const char** attrs) {
    ORA_STACK* s = (ORA_STACK*)user;
    int dx = s->dx.empty() ? 0 : s->dx.back(), dy = s->dy.empty() ? 0 : s->dy.back();
    int shown = s->shown.empty() ? 1 : s->shown.back();
    float alpha = s->alpha.empty() ? 1.0f : s->alpha.back();
    if (strcmp(element, "image") == 0) {
        s->image_seen = 1;
        s->w = _attr_int(attrs, "w", 0);
        s->h = _attr_int(attrs, "h", 0);
        s->template_index = _attr_int(attrs, "plumaro:template", 0);
    } else if (strcmp(element, "stack") == 0) {
        const char* vis = _attr(attrs, "visibility");
        s->dx.push_back(dx + _attr_int(attrs, "x", 0));
        s->dy.push_back(dy + _attr_int(attrs, "y", 0));
        s->shown.push_back(shown && !(vis && strcmp(vis, "hidden") == 0));
        s->alpha.push_back(alpha * _attr_float(attrs, "opacity", 1.0f));
    } else if (strcmp(element, "layer") == 0) {
        ORA_LAYER layer;
        const char* src = _attr(attrs, "src");
        const char* name = _attr(attrs, "name");
        const char* vis = _attr(attrs, "visibility");
        const char* op = _attr(attrs, "composite-op");
        const char* locked = _attr(attrs, "edit-locked");
        layer.src = src ? src : "";
        layer.name = name && *name ? name : "Layer";
        layer.x = dx + _attr_int(attrs, "x", 0);
        layer.y = dy + _attr_int(attrs, "y", 0);
        layer.opacity = alpha * _attr_float(attrs, "opacity", 1.0f);
        layer.visible = shown && !(vis && strcmp(vis, "hidden") == 0);
        layer.locked = locked && strcmp(locked, "true") == 0;
        /* Without a composite-op a layer is drawn "over", which is Normal. */
        const LAYER_BLEND_MODE* mode = op ? layer_blend_from_ora(op) : layer_blend_find(LAYER_BLEND_NORMAL);
        if (!mode) document_load_status_unknown_blend(op);
        layer.blend = mode ? mode->code : LAYER_BLEND_NORMAL;
        s->layers.push_back(layer);
    }
    s->depth++;
}

static void XMLCALL _ora_end(void* user, const char* element) {
    ORA_STACK* s = (ORA_STACK*)user;
    if (strcmp(element, "stack") == 0 && !s->dx.empty()) {
        s->dx.pop_back(), s->dy.pop_back(), s->shown.pop_back(), s->alpha.pop_back();
    }
    s->depth--;
}

// The zip checksum of a buffer, fed to zlib in pieces its length type holds.
static uint32_t _crc32(const uint8_t* data, size_t size) {
    uLong crc = crc32(0L, Z_NULL, 0);
    while (size > 0) {
        uInt n = size > (1u << 30) ? (1u << 30) : (uInt)size;
        crc = crc32(crc, data, n);
        data += n, size -= n;
    }
    return (uint32_t)crc;
}

// An entry's bytes, refused (with a reason) past the memory there is; 1 on success.
static int _zip_read(zip_t* za, const char* name, std::vector<uint8_t>* out, uint64_t limit) {
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat(za, name, 0, &st) != 0 || !(st.valid & ZIP_STAT_SIZE)) {
        document_load_status_fail(DOCUMENT_LOAD_MALFORMED, "an entry named in the stack is missing");
        return 0;
    }
    if (st.size > limit) {
        document_load_status_fail(DOCUMENT_LOAD_MEMORY, "an entry is larger than the memory there is");
        return 0;
    }
    zip_file_t* f = zip_fopen(za, name, 0);
    if (!f) {
        document_load_status_fail(DOCUMENT_LOAD_MALFORMED, "an entry is damaged");
        return 0;
    }
    out->resize((size_t)st.size);
    zip_int64_t got = st.size ? zip_fread(f, out->data(), st.size) : 0;
    zip_fclose(f);
    /* The checksum is compared here: the zip library does not always. */
    if (got != (zip_int64_t)st.size ||
        ((st.valid & ZIP_STAT_CRC) && _crc32(out->data(), out->size()) != (uint32_t)st.crc)) {
        document_load_status_fail(DOCUMENT_LOAD_MALFORMED, "an entry is damaged");
        return 0;
    }
    return 1;
}

// The width and height a PNG's header gives; 0 when it is no PNG.
static int _png_size(const std::vector<uint8_t>& png, int* w, int* h) {
    static const uint8_t sig[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    if (png.size() < 24 || memcmp(png.data(), sig, 8) != 0 || memcmp(png.data() + 12, "IHDR", 4) != 0) return 0;
    const uint8_t* p = png.data() + 16;
    uint32_t pw = ((uint32_t)p[0] << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
    uint32_t ph = ((uint32_t)p[4] << 24) | (p[5] << 16) | (p[6] << 8) | p[7];
    if (pw < 1 || ph < 1 || pw > 65535 || ph > 65535) return 0;
    *w = (int)pw, *h = (int)ph;
    return 1;
}

// Decodes an image held in memory as a premultiplied memory bitmap; null when it cannot be.
static ALLEGRO_BITMAP* _decode(const void* data, size_t size, const char* ext) {
    ALLEGRO_FILE* f = al_open_memfile((void*)data, (int64_t)size, "r");
    if (!f) return NULL;
    int flags = al_get_new_bitmap_flags(), format = al_get_new_bitmap_format();
    al_set_new_bitmap_flags(ALLEGRO_MEMORY_BITMAP);
    al_set_new_bitmap_format(ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE);
    ALLEGRO_BITMAP* b = al_load_bitmap_f(f, ext);
    al_set_new_bitmap_flags(flags);
    al_set_new_bitmap_format(format);
    al_fclose(f);
    return b;
}

// Copies a decoded image into a layer's memory copy at an offset, clipped to the canvas.
static int _place(LAYER* layer, ALLEGRO_BITMAP* image, int x, int y) {
    int lw = al_get_bitmap_width(layer->backup), lh = al_get_bitmap_height(layer->backup);
    int iw = al_get_bitmap_width(image), ih = al_get_bitmap_height(image);
    int x0 = x < 0 ? 0 : x, y0 = y < 0 ? 0 : y;
    int x1 = x + iw > lw ? lw : x + iw, y1 = y + ih > lh ? lh : y + ih;
    if (x1 <= x0 || y1 <= y0) return 1; /* wholly off the canvas: nothing shows */
    ALLEGRO_LOCKED_REGION* from = al_lock_bitmap(image, ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE, ALLEGRO_LOCK_READONLY);
    if (!from) return 0;
    ALLEGRO_LOCKED_REGION* to = al_lock_bitmap_region(layer->backup, x0, y0, x1 - x0, y1 - y0,
                                                      ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE, ALLEGRO_LOCK_WRITEONLY);
    if (!to) {
        al_unlock_bitmap(image);
        return 0;
    }
    for (int row = y0; row < y1; row++)
        memcpy((uint8_t*)to->data + (intptr_t)(row - y0) * to->pitch,
               (const uint8_t*)from->data + (intptr_t)(row - y) * from->pitch + (size_t)(x0 - x) * 4,
               (size_t)(x1 - x0) * 4);
    al_unlock_bitmap(layer->backup);
    al_unlock_bitmap(image);
    return 1;
}

// Makes the layer's picture from its memory copy. Only a reader with no
// display (the fuzz target, layers deferred) keeps the copy alone: a
// deferred picture would otherwise be made blank.
static int _upload(LAYER* layer) { return layer->bitmap ? layer_restore(layer) : 1; }

// Builds the drawing from an opened archive; null (status set) on failure.
static DOCUMENT* _ora_read(zip_t* za, const char* path) {
    uint64_t budget = document_memory_budget();
    /* The mimetype must be the first entry and say what the archive is. */
    const char* first = zip_get_name(za, 0, 0);
    std::vector<uint8_t> bytes;
    if (!first || strcmp(first, "mimetype") != 0 || !_zip_read(za, "mimetype", &bytes, 256) ||
        std::string(bytes.begin(), bytes.end()).find(DOCUMENT_ORA_MIME_TYPE) != 0) {
        document_load_status_fail(DOCUMENT_LOAD_MALFORMED, "no OpenRaster mimetype comes first");
        return NULL;
    }
    if (!_zip_read(za, "stack.xml", &bytes, ORA_STACK_MAX)) return NULL;
    ORA_STACK stack = {};
    XML_Parser parser = XML_ParserCreate(NULL);
    if (!parser) {
        document_load_status_fail(DOCUMENT_LOAD_MEMORY, NULL);
        return NULL;
    }
    XML_SetUserData(parser, &stack);
    XML_SetElementHandler(parser, _ora_start, _ora_end);
    int parsed = XML_Parse(parser, (const char*)bytes.data(), (int)bytes.size(), 1) == XML_STATUS_OK;
    if (!parsed) t_log(LOG_ERR, "%s: stack.xml: %s", path, XML_ErrorString(XML_GetErrorCode(parser)));
    XML_ParserFree(parser);
    if (!parsed || !stack.image_seen) {
        document_load_status_fail(DOCUMENT_LOAD_MALFORMED, "its stack.xml is not well formed");
        return NULL;
    }
    if (stack.w < 1 || stack.h < 1 || stack.w > DOCUMENT_IMAGE_MAX_SIDE || stack.h > DOCUMENT_IMAGE_MAX_SIDE) {
        document_load_status_fail(DOCUMENT_LOAD_MALFORMED, "its size is not from 1 to 16384");
        return NULL;
    }
    int count = (int)stack.layers.size();
    if (stack.layers.size() > DOCUMENT_FILE_MAX_LAYERS) {
        document_load_status_fail(DOCUMENT_LOAD_MALFORMED, "it has more than 1024 layers");
        return NULL;
    }
    if (!document_load_status_fits(stack.w, stack.h, count > 0 ? count : 1)) return NULL;
    DOCUMENT* doc = document_new(stack.w, stack.h);
    if (!doc) {
        document_load_status_fail(DOCUMENT_LOAD_MEMORY, NULL);
        return NULL;
    }
    doc->template_index = stack.template_index >= 0 && stack.template_index < DOCUMENT_TEMPLATE_COUNT
                              ? stack.template_index
                              : 0;
    for (int i = count - 1; i >= 0; i--) { /* bottom first */
        const ORA_LAYER& rec = stack.layers[(size_t)i];
        LAYER* layer = document_add_layer(doc, rec.name.c_str());
        if (!layer) {
            document_load_status_fail(DOCUMENT_LOAD_MEMORY, NULL);
            document_free(&doc);
            return NULL;
        }
        layer->opacity = rec.opacity;
        layer->visible = (uint8_t)rec.visible;
        layer->locked = (uint8_t)rec.locked;
        layer->blend = rec.blend;
        int pw = 0, ph = 0;
        ALLEGRO_BITMAP* image = NULL;
        if (!_zip_read(za, rec.src.c_str(), &bytes, budget)) {
            document_free(&doc);
            return NULL;
        }
        if (!_png_size(bytes, &pw, &ph)) {
            document_load_status_fail(DOCUMENT_LOAD_MALFORMED, "a layer's pixels cannot be read");
        } else if ((uint64_t)pw * (uint64_t)ph * 4u > budget) {
            document_load_status_fail(DOCUMENT_LOAD_MEMORY, "a layer is larger than the memory there is");
        } else {
            image = _decode(bytes.data(), bytes.size(), ".png");
            if (image && (al_get_bitmap_width(image) != pw || al_get_bitmap_height(image) != ph)) {
                al_destroy_bitmap(image);
                image = NULL;
            }
            if (!image) document_load_status_fail(DOCUMENT_LOAD_MALFORMED, "a layer's pixels cannot be read");
        }
        int placed = image && _place(layer, image, rec.x, rec.y) && _upload(layer);
        if (image) al_destroy_bitmap(image);
        if (!placed) {
            if (image) document_load_status_fail(DOCUMENT_LOAD_MEMORY, NULL);
            document_free(&doc);
            return NULL;
        }
    }
    if (count == 0 && !document_add_layer(doc, "Layer 1")) {
        document_free(&doc);
        return NULL;
    }
    doc->active_layer = document_layer_at(doc, document_layer_count(doc) - 1);
    return doc;
}

// The whole file, with a fresh load status that says when it cannot be read.
static T_STR* _exchange_read(const char* path) {
    document_load_status_reset();
    T_STR* file = t_str_read_file(path);
    if (!file) document_load_status_fail(DOCUMENT_LOAD_UNREADABLE, NULL);
    return file;
}

DOCUMENT* document_load_ora(const char* path) {
    __t_assert_null(path);
    T_STR* file = _exchange_read(path);
    if (!file) return NULL;
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* src = zip_source_buffer_create(file->data, file->length, 0, &error);
    zip_t* za = src ? zip_open_from_source(src, ZIP_RDONLY | ZIP_CHECKCONS, &error) : NULL;
    DOCUMENT* doc = NULL;
    if (!za) {
        t_log(LOG_ERR, "%s is not a readable zip archive: %s", path, zip_error_strerror(&error));
        document_load_status_fail(DOCUMENT_LOAD_MALFORMED, "the archive is broken");
        if (src) zip_source_free(src);
    } else {
        doc = _ora_read(za, path);
        zip_discard(za); /* frees the source too */
    }
    zip_error_fini(&error);
    t_str_free(&file);
    if (doc)
        t_log(LOG_INFO, "loaded OpenRaster %s (%dx%d, %d layers)", path, doc->width, doc->height,
              document_layer_count(doc));
    else
        t_log(LOG_ERR, "could not open %s: %s", path, document_last_load_status()->reason);
    return doc;
}

/* ------------------------------------------------------------------------ */
/* Images                                                                    */
/* ------------------------------------------------------------------------ */

// The size an image file's header gives, for the formats opened here; 0 when unknown.
static int _image_size(const uint8_t* d, size_t n, int* w, int* h, const char** ext) {
    if (n >= 24 && memcmp(d, "\x89PNG", 4) == 0) {
        std::vector<uint8_t> head(d, d + 24);
        *ext = ".png";
        return _png_size(head, w, h);
    }
    if (n >= 26 && d[0] == 'B' && d[1] == 'M') {
        *ext = ".bmp";
        *w = (int)(d[18] | (d[19] << 8) | (d[20] << 16) | ((uint32_t)d[21] << 24));
        int32_t hh = (int32_t)(d[22] | (d[23] << 8) | (d[24] << 16) | ((uint32_t)d[25] << 24));
        *h = hh < 0 ? -hh : hh;
        return 1;
    }
    if (n >= 4 && d[0] == 0xFF && d[1] == 0xD8) {
        *ext = ".jpg";
        /* The first start-of-frame marker holds the size. */
        size_t p = 2;
        while (p + 9 < n) {
            if (d[p] != 0xFF) return 0;
            uint8_t marker = d[p + 1];
            size_t len = ((size_t)d[p + 2] << 8) | d[p + 3];
            if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) {
                *h = (d[p + 5] << 8) | d[p + 6];
                *w = (d[p + 7] << 8) | d[p + 8];
                return 1;
            }
            p += 2 + len;
        }
        return 0;
    }
    if (n >= 18 && (d[2] == 2 || d[2] == 10 || d[2] == 3 || d[2] == 11) && d[1] == 0) {
        *ext = ".tga";
        *w = d[12] | (d[13] << 8);
        *h = d[14] | (d[15] << 8);
        return 1;
    }
    return 0;
}

DOCUMENT* document_load_image(const char* path) {
    __t_assert_null(path);
    T_STR* file = _exchange_read(path);
    if (!file) return NULL;
    int w = 0, h = 0;
    const char* ext = NULL;
    DOCUMENT* doc = NULL;
    ALLEGRO_BITMAP* image = NULL;
    if (!_image_size((const uint8_t*)file->data, file->length, &w, &h, &ext) || w < 1 || h < 1) {
        document_load_status_fail(DOCUMENT_LOAD_MALFORMED, "it is not an image that can be opened");
    } else if (w > DOCUMENT_IMAGE_MAX_SIDE || h > DOCUMENT_IMAGE_MAX_SIDE) {
        document_load_status_fail(DOCUMENT_LOAD_MALFORMED, "the image is larger than 16384 pixels on a side");
    } else if (document_load_status_fits(w, h, 1)) {
        image = _decode(file->data, file->length, ext);
        if (!image || al_get_bitmap_width(image) != w || al_get_bitmap_height(image) != h) {
            document_load_status_fail(DOCUMENT_LOAD_MALFORMED, "the image cannot be decoded");
        } else {
            doc = document_new(w, h);
            LAYER* layer = doc ? document_add_layer(doc, "Layer 1") : NULL;
            if (!layer || !_place(layer, image, 0, 0) || !_upload(layer)) {
                document_load_status_fail(DOCUMENT_LOAD_MEMORY, NULL);
                if (doc) document_free(&doc);
            }
        }
    }
    if (image) al_destroy_bitmap(image);
    t_str_free(&file);
    if (doc) t_log(LOG_INFO, "opened image %s (%dx%d)", path, w, h);
    else t_log(LOG_ERR, "could not open image %s: %s", path, document_last_load_status()->reason);
    return doc;
}
