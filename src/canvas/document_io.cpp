/* document_io: saving and loading documents, the layer TGA codec, PNG export
 * and the content scan. */
#include "canvas/document_io.h"

#include <allegro5/allegro_image.h>
#include <allegro5/allegro_memfile.h>
#include <limits.h>
#include <stdio.h>
#include <string.h>
#include <zlib.h>

#include "canvas/compositor.h"
#include "t_log.h"

/* ------------------------------------------------------------------ bytes */

// Little-endian 32-bit value at p.
static uint32_t _rd32(const uint8_t* p) {
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

// Stores v little-endian at p.
static void _wr32(uint8_t* p, uint32_t v) {
    p[0] = (uint8_t)v;
    p[1] = (uint8_t)(v >> 8);
    p[2] = (uint8_t)(v >> 16);
    p[3] = (uint8_t)(v >> 24);
}

// Stores v big-endian at p.
static void _wr32be(uint8_t* p, uint32_t v) {
    p[0] = (uint8_t)(v >> 24);
    p[1] = (uint8_t)(v >> 16);
    p[2] = (uint8_t)(v >> 8);
    p[3] = (uint8_t)v;
}

// Makes sure *buf can hold `need` bytes; keeps nothing of the old contents.
static int _reserve(T_STR** buf, size_t need) {
    if (*buf && (*buf)->capacity > need) return 1;
    if (*buf) t_str_free(buf);
    *buf = t_str_new(need + 1);
    return *buf != NULL;
}

// Memory bitmap in the RGBA byte order, the caller's settings put back.
/* What the last load or parse came to. */
static DOCUMENT_LOAD_STATUS _load_status;

const DOCUMENT_LOAD_STATUS* document_last_load_status(void) { return &_load_status; }

void document_load_status_reset(void) { memset(&_load_status, 0, sizeof(_load_status)); }

void document_load_status_fail(int error, const char* reason) {
    if (_load_status.error != DOCUMENT_LOAD_MEMORY) _load_status.error = error;
    if (reason && !_load_status.reason[0]) snprintf(_load_status.reason, sizeof(_load_status.reason), "%s", reason);
}

int document_load_status_fits(int width, int height, int layers) {
    _load_status.width = width, _load_status.height = height, _load_status.layers = layers;
    if (document_memory_fits(width, height, layers, &_load_status.needed, &_load_status.budget)) return 1;
    _load_status.error = DOCUMENT_LOAD_MEMORY;
    return 0;
}

void document_load_status_unknown_blend(const char* name) {
    if (name && !_load_status.unknown_blend[0])
        snprintf(_load_status.unknown_blend, sizeof(_load_status.unknown_blend), "%s", name);
}


/* -------------------------------------------------------------------- TGA */

#define TGA_HEADER 18
#define TGA_FOOTER 26
static const char _tga_footer_sig[18] = {'T', 'R', 'U', 'E', 'V', 'I', 'S', 'I', 'O',
                                         'N', '-', 'X', 'F', 'I', 'L', 'E', '.', 0};

// Copies n pixels from RGBA bytes to the file's BGRA bytes.
static uint8_t* _tga_put_pixels(uint8_t* out, const uint8_t* src, int n) {
    for (int k = 0; k < n; k++, src += 4, out += 4) {
        out[0] = src[2];
        out[1] = src[1];
        out[2] = src[0];
        out[3] = src[3];
    }
    return out;
}

// Run-length encodes one row; packets never cross the row's end, which every
// TGA reader (including those that decode row by row) understands.
static uint8_t* _tga_rle_row(const uint8_t* row, int w, uint8_t* out) {
    const uint32_t* p = (const uint32_t*)row; /* rows are 4-byte aligned; only equality is used */
    int i = 0;
    while (i < w) {
        uint32_t v = p[i];
        int n = 1;
        while (i + n < w && n < 128 && p[i + n] == v) n++;
        if (n >= 2) {
            *out++ = (uint8_t)(0x80 | (n - 1));
            out = _tga_put_pixels(out, row + (size_t)i * 4, 1);
            i += n;
            continue;
        }
        uint8_t* head = out++;
        int start = i;
        n = 1;
        i++;
        while (i < w && n < 128 && !(i + 1 < w && p[i] == p[i + 1])) {
            n++;
            i++;
        }
        *head = (uint8_t)(n - 1);
        out = _tga_put_pixels(out, row + (size_t)start * 4, n);
    }
    return out;
}

int document_tga_encode(ALLEGRO_BITMAP* bitmap, T_STR** out) {
    __t_assert(bitmap);
    __t_assert(out);
    int w = al_get_bitmap_width(bitmap), h = al_get_bitmap_height(bitmap);
    if (w < 1 || h < 1 || w > 65535 || h > 65535) return 0;
    size_t row_worst = (size_t)w * 4 + (size_t)(w + 127) / 128;
    if (!_reserve(out, TGA_HEADER + row_worst * (size_t)h + TGA_FOOTER)) return 0;
    ALLEGRO_LOCKED_REGION* lock = al_lock_bitmap(bitmap, ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE, ALLEGRO_LOCK_READONLY);
    if (!lock) {
        t_log(LOG_ERR, "could not lock the bitmap for the tga encode");
        return 0;
    }
    uint8_t* base = (uint8_t*)(*out)->data;
    memset(base, 0, TGA_HEADER);
    base[2] = 10; /* run-length true colour */
    base[12] = (uint8_t)w;
    base[13] = (uint8_t)(w >> 8);
    base[14] = (uint8_t)h;
    base[15] = (uint8_t)(h >> 8);
    base[16] = 32;
    base[17] = 0x28; /* 8 alpha bits, top-left origin */
    uint8_t* o = base + TGA_HEADER;
    for (int y = 0; y < h; y++) o = _tga_rle_row((const uint8_t*)lock->data + (intptr_t)y * lock->pitch, w, o);
    al_unlock_bitmap(bitmap);
    memset(o, 0, 8); /* no extension area, no developer directory */
    memcpy(o + 8, _tga_footer_sig, sizeof(_tga_footer_sig));
    o += TGA_FOOTER;
    (*out)->length = (size_t)(o - base);
    (*out)->data[(*out)->length] = 0;
    return 1;
}

typedef struct _TGA_HEADER {
    int width, height, bytes_pp, rle, top_down, right_to_left;
    size_t data_offset;
} _TGA_HEADER;

// Reads the header of a 24/32-bit true-colour image without a colour map.
static int _tga_header(const uint8_t* d, size_t size, _TGA_HEADER* hd) {
    if (!d || size < TGA_HEADER) return 0;
    if (d[1] != 0) return 0;
    if (d[2] != 2 && d[2] != 10) return 0;
    if (d[16] != 32 && d[16] != 24) return 0;
    hd->width = d[12] | (d[13] << 8);
    hd->height = d[14] | (d[15] << 8);
    if (hd->width < 1 || hd->height < 1) return 0;
    hd->bytes_pp = d[16] / 8;
    hd->rle = d[2] == 10;
    hd->top_down = (d[17] & 0x20) != 0;
    hd->right_to_left = (d[17] & 0x10) != 0;
    hd->data_offset = TGA_HEADER + (size_t)d[0];
    if (hd->data_offset > size) return 0;
    return 1;
}

int document_tga_info(const void* data, size_t size, int* width, int* height) {
    __t_assert(data);
    _TGA_HEADER hd;
    if (!_tga_header((const uint8_t*)data, size, &hd)) return 0;
    if (width) *width = hd.width;
    if (height) *height = hd.height;
    return 1;
}

/* Walks the image's pixels in file order, writing each into the bitmap
 * where the origin bits put it. */
typedef struct _TGA_CURSOR {
    uint8_t* base;
    int pitch, w, h, top_down, step;
    int x, row;
    uint8_t* dst;
    int zeroed;   /* the bitmap came zeroed: runs of empty pixels are not written */
    uint32_t any; /* non-zero once any pixel that is not empty was stored */
} _TGA_CURSOR;

// Points the cursor at the first pixel of file row `row`.
static void _tga_cursor_row(_TGA_CURSOR* c, int row) {
    c->row = row;
    c->x = 0;
    if (row >= c->h) return;
    int y = c->top_down ? row : c->h - 1 - row;
    c->dst = c->base + (intptr_t)y * c->pitch + (c->step < 0 ? (intptr_t)(c->w - 1) * 4 : 0);
}

// Stores n file pixels (B, G, R[, A] each) from src, or n copies of one
// pixel when `repeat` is set, across as many rows as they cover.
static void _tga_cursor_put(_TGA_CURSOR* c, const uint8_t* src, size_t n, int bpp, int repeat) {
    while (n > 0) {
        size_t k = (size_t)(c->w - c->x);
        if (k > n) k = n;
        uint8_t* d = c->dst;
        const int step = c->step;
        if (repeat) {
            uint8_t px[4] = {src[2], src[1], src[0], bpp == 4 ? src[3] : (uint8_t)255};
            uint32_t v;
            memcpy(&v, px, 4);
            c->any |= v;
            if (v == 0 && c->zeroed)
                d += (intptr_t)step * (intptr_t)k;
            else
                for (size_t i = 0; i < k; i++, d += step) memcpy(d, &v, 4);
        } else if (bpp == 4) {
            uint32_t acc = 0;
            for (size_t i = 0; i < k; i++, d += step, src += 4) {
                d[0] = src[2];
                d[1] = src[1];
                d[2] = src[0];
                d[3] = src[3];
                acc |= (uint32_t)src[0] | src[1] | src[2] | src[3];
            }
            c->any |= acc;
        } else {
            c->any = 1; /* opaque pixels */
            for (size_t i = 0; i < k; i++, d += step, src += 3) {
                d[0] = src[2];
                d[1] = src[1];
                d[2] = src[0];
                d[3] = 255;
            }
        }
        c->dst = d;
        c->x += (int)k;
        n -= k;
        if (c->x == c->w) _tga_cursor_row(c, c->row + 1);
    }
}

ALLEGRO_BITMAP* document_tga_decode(const void* data, size_t size) { return document_tga_decode_ex(data, size, NULL); }

ALLEGRO_BITMAP* document_tga_decode_ex(const void* data, size_t size, int* empty) {
    __t_assert_null(data);
    const uint8_t* d = (const uint8_t*)data;
    _TGA_HEADER hd;
    if (!_tga_header(d, size, &hd)) return NULL;
    size_t total = (size_t)hd.width * (size_t)hd.height;
    size_t avail = size - hd.data_offset;
    /* Refuse before allocating when the bytes cannot hold that many pixels:
     * a packet of 1 + bpp bytes covers at most 128 pixels. */
    if (hd.rle ? avail / (size_t)(1 + hd.bytes_pp) < (total + 127) / 128 : avail / (size_t)hd.bytes_pp < total)
        return NULL;
    /* Zeroed memory: the empty parts of a layer, usually most of it, are
     * neither written nor even touched. */
    ALLEGRO_BITMAP* bitmap = layer_create_zeroed_bitmap(hd.width, hd.height);
    if (!bitmap) {
        document_load_status_fail(DOCUMENT_LOAD_MEMORY, NULL);
        return NULL;
    }
    ALLEGRO_LOCKED_REGION* lock = al_lock_bitmap(bitmap, ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE, ALLEGRO_LOCK_WRITEONLY);
    if (!lock) {
        al_destroy_bitmap(bitmap);
        return NULL;
    }
    _TGA_CURSOR c;
    /* Locked in its own format, the lock is the bitmap's memory itself. */
    c.zeroed = al_get_bitmap_format(bitmap) == ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE;
    c.any = 0;
    c.base = (uint8_t*)lock->data;
    c.pitch = lock->pitch;
    c.w = hd.width;
    c.h = hd.height;
    c.top_down = hd.top_down;
    c.step = hd.right_to_left ? -4 : 4;
    _tga_cursor_row(&c, 0);
    const int bpp = hd.bytes_pp;
    const uint8_t* p = d + hd.data_offset;
    const uint8_t* end = d + size;
    size_t done = 0;
    int ok = 1;
    if (!hd.rle) {
        _tga_cursor_put(&c, p, total, bpp, 0);
        done = total;
    } else {
        while (done < total) {
            if (p >= end) {
                ok = 0;
                break;
            }
            uint8_t head = *p++;
            size_t n = (size_t)(head & 0x7F) + 1;
            if (n > total - done) n = total - done; /* a last packet past the end is cut */
            if (head & 0x80) {
                if ((size_t)(end - p) < (size_t)bpp) {
                    ok = 0;
                    break;
                }
                _tga_cursor_put(&c, p, n, bpp, 1);
                p += bpp;
            } else {
                if ((size_t)(end - p) / (size_t)bpp < n) {
                    ok = 0;
                    break;
                }
                _tga_cursor_put(&c, p, n, bpp, 0);
                p += n * (size_t)bpp;
            }
            done += n;
        }
    }
    al_unlock_bitmap(bitmap);
    if (!ok) {
        al_destroy_bitmap(bitmap);
        return NULL;
    }
    if (empty) *empty = c.any == 0;
    return bitmap;
}

/* --------------------------------------------------------- document file */

size_t document_name_cut(const char* name, size_t len, size_t max) {
    if (!name || len <= max) return name ? len : 0;
    size_t cut = max;
    /* A continuation byte at the cut means a character would be split. */
    while (cut > 0 && ((uint8_t)name[cut] & 0xC0) == 0x80) cut--;
    return cut;
}

// Writes bytes to the temporary file, remembering a failure.
static int _put(T_ATOMIC_FILE* af, const void* bytes, size_t len) {
    return len == 0 || fwrite(bytes, 1, len, af->file) == len;
}

// Writes one 32-bit little-endian value.
static int _put32(T_ATOMIC_FILE* af, uint32_t v) {
    uint8_t b[4];
    _wr32(b, v);
    return _put(af, b, 4);
}

// Writes one layer record; `scratch` is the reused TGA buffer.
static int _save_layer(T_ATOMIC_FILE* af, LAYER* layer, T_STR** scratch) {
    const char* name = (layer->name && layer->name->data) ? layer->name->data : "layer";
    size_t len = (layer->name && layer->name->data) ? layer->name->length : strlen(name);
    size_t cut = document_name_cut(name, len, DOCUMENT_FILE_MAX_NAME);
    if (cut != len) t_log(LOG_NOTICE, "layer name of %zu bytes stored as its first %zu bytes", len, cut);
    float o = layer->opacity;
    if (!(o >= 0.0f)) o = 0.0f; /* also NaN */
    if (o > 1.0f) o = 1.0f;
    if (!document_tga_encode(layer->backup, scratch)) return 0;
    return _put32(af, (uint32_t)cut) && _put(af, name, cut) && _put32(af, (uint32_t)(o * 1000.0f + 0.5f)) &&
           _put32(af, (uint32_t)layer->blend) && _put32(af, layer->visible ? 1u : 0u) &&
           _put32(af, layer->locked ? 1u : 0u) && _put32(af, (uint32_t)(*scratch)->length) &&
           _put(af, (*scratch)->data, (*scratch)->length);
}

int document_write(DOCUMENT* doc, T_ATOMIC_FILE* af) {
    __t_assert(doc);
    __t_assert(doc->layers);
    __t_assert(af);
    __t_assert(af->file);
    int count = document_layer_count(doc);
    for (int i = 0; i < count; i++) {
        LAYER* layer = document_layer_at(doc, i);
        if (!layer || !layer->backup) return 0;
    }
    /* Large stdio buffer: the records are written as many small fields. */
    setvbuf(af->file, NULL, _IOFBF, 1 << 20);
    uint8_t header[20];
    memcpy(header, "PLM3", 4);
    _wr32(header + 4, (uint32_t)doc->width);
    _wr32(header + 8, (uint32_t)doc->height);
    _wr32(header + 12, (uint32_t)doc->template_index);
    _wr32(header + 16, (uint32_t)count);
    int ok = _put(af, header, sizeof(header));
    T_STR* scratch = NULL;
    for (int i = 0; ok && i < count; i++) ok = _save_layer(af, document_layer_at(doc, i), &scratch);
    if (scratch) t_str_free(&scratch);
    return ok;
}

int document_save(DOCUMENT* doc, const char* path) {
    __t_assert(doc);
    __t_assert(doc->layers);
    __t_assert(path);
    int count = document_layer_count(doc);
    for (int i = 0; i < count; i++) {
        LAYER* layer = document_layer_at(doc, i);
        if (!layer || !layer->backup) {
            t_log(LOG_ERR, "could not save document to %s", path);
            return 0;
        }
    }
    T_ATOMIC_FILE af;
    /* A saved drawing is the user's file, readable like any other. */
    if (!t_file_begin_shared(&af, path)) {
        t_log(LOG_ERR, "could not save document to %s", path);
        return 0;
    }
    if (!document_write(doc, &af)) {
        t_file_abort(&af);
        t_log(LOG_ERR, "could not save document to %s", path);
        return 0;
    }
    if (!t_file_commit(&af)) {
        t_log(LOG_ERR, "could not save document to %s", path);
        return 0;
    }
    t_log(LOG_INFO, "saved document to %s", path);
    return 1;
}

void document_file_free(DOCUMENT_FILE** file) {
    __t_assert_void(file);
    if (!*file) {
        t_log(LOG_DEBUG, "Free( %s ) already done or NULL at line %d of %s", "*file", __LINE__, __FILE__);
        return;
    }
    DOCUMENT_FILE* f = *file;
    if (f->layers) {
        for (uint32_t i = 0; i < f->layer_count; i++) {
            free(f->layers[i].name);
            if (f->layers[i].pixels) al_destroy_bitmap(f->layers[i].pixels);
        }
        free(f->layers);
    }
    free(f);
    *file = NULL;
}

// Reads one layer record at *pos; on failure *pos is the offset reached.
static int _parse_layer(const uint8_t* d, size_t size, size_t* pos, const DOCUMENT_FILE* f, uint32_t announced,
                        DOCUMENT_FILE_LAYER* out) {
    size_t p = *pos;
#define NEED(N)                                 \
    do {                                        \
        if (size - p < (size_t)(N)) goto stop; \
    } while (0)
    NEED(4);
    {
        uint32_t name_len = _rd32(d + p);
        p += 4;
        if (name_len > DOCUMENT_FILE_MAX_NAME) goto stop;
        NEED(name_len);
        Malloc(out->name, char, (size_t)name_len + 1, document_load_status_fail(DOCUMENT_LOAD_MEMORY, NULL); goto stop);
        memcpy(out->name, d + p, name_len);
        p += name_len;
    }
    NEED(4);
    {
        uint32_t o = _rd32(d + p);
        out->opacity = o > 1000 ? 1.0f : (float)o / 1000.0f;
        p += 4;
    }
    NEED(4);
    out->blend = (int32_t)_rd32(d + p);
    if (!layer_blend_find(out->blend)) {
        /* A mode of a later version: the layer opens as Normal, and the load says so. */
        char code[16];
        snprintf(code, sizeof(code), "%d", (int)out->blend);
        document_load_status_unknown_blend(code);
        out->blend = LAYER_BLEND_NORMAL;
    }
    p += 4;
    NEED(4);
    out->visible = _rd32(d + p) != 0;
    p += 4;
    if (f->version >= 2) {
        NEED(4);
        out->locked = _rd32(d + p) != 0;
        p += 4;
    }
    NEED(4);
    {
        uint32_t data_len = _rd32(d + p);
        p += 4;
        if (data_len == 0) goto stop;
        NEED(data_len);
        int iw = 0, ih = 0;
        if (!document_tga_info(d + p, data_len, &iw, &ih)) goto stop;
        if (iw != f->width || ih != f->height) {
            t_log(LOG_ERR, "layer %s has size %dx%d, expected %ux%u", out->name, iw, ih, (unsigned)f->width,
                  (unsigned)f->height);
            goto stop;
        }
        /* A small, well-compressed file can describe gigabytes of pixels:
         * what the drawing would take is weighed before the first layer is
         * decoded. */
        if (!f->memory_checked) {
            ((DOCUMENT_FILE*)f)->memory_checked = 1;
            if (!document_memory_fits(f->width, f->height, (int)announced, &_load_status.needed,
                                      &_load_status.budget)) {
                _load_status.error = DOCUMENT_LOAD_MEMORY;
                goto stop;
            }
        }
        out->pixels = document_tga_decode_ex(d + p, data_len, &out->empty);
        if (!out->pixels) goto stop;
        p += data_len;
    }
#undef NEED
    *pos = p;
    out->end_offset = p;
    return 1;
stop:
    *pos = p;
    return 0;
}

/* A drawing file's header. */
typedef struct _PLM_HEADER {
    int version;   /* 1 to 3; 0 when the bytes are not a drawing file */
    size_t length; /* bytes the header takes */
    int32_t width, height, template_index;
    uint32_t count;
} _PLM_HEADER;

// Reads a drawing file's header; 1 when it is whole and its size and layer count are in range.
static int _plm_header_read(const uint8_t* d, size_t size, _PLM_HEADER* hd) {
    memset(hd, 0, sizeof(*hd));
    if (size >= 16) {
        if (!memcmp(d, "PLM3", 4)) hd->version = 3;
        else if (!memcmp(d, "PLM2", 4)) hd->version = 2;
        else if (!memcmp(d, "PLM1", 4)) hd->version = 1;
    }
    if (!hd->version) return 0;
    hd->length = hd->version == 3 ? 20 : 16;
    if (size < hd->length) return 0;
    hd->width = (int32_t)_rd32(d + 4), hd->height = (int32_t)_rd32(d + 8);
    hd->template_index = hd->version == 3 ? (int32_t)_rd32(d + 12) : 0;
    hd->count = _rd32(d + (hd->version == 3 ? 16 : 12));
    return hd->width >= 1 && hd->width <= DOCUMENT_FILE_MAX_SIDE && hd->height >= 1 &&
           hd->height <= DOCUMENT_FILE_MAX_SIDE && hd->count <= DOCUMENT_FILE_MAX_LAYERS;
}

DOCUMENT_FILE* document_file_parse(const void* data, size_t size, const char* path) {
    __t_assert_null(data || size == 0);
    if (!path) path = "(memory)";
    memset(&_load_status, 0, sizeof(_load_status));
    _load_status.error = DOCUMENT_LOAD_MALFORMED; /* until the whole file was read */
    const uint8_t* d = (const uint8_t*)data;
    _PLM_HEADER hd;
    int in_range = _plm_header_read(d, size, &hd);
    if (!hd.version) {
        t_log(LOG_ERR, "%s is not a PLM document", path);
        return NULL;
    }
    if (!in_range) {
        t_log(LOG_ERR, "malformed PLM document %s (offset %zu of %zu)", path, size < hd.length ? (size_t)16 : hd.length,
              size);
        return NULL;
    }
    int version = hd.version;
    size_t header = hd.length;
    int32_t w = hd.width, h = hd.height, tmpl = hd.template_index;
    uint32_t count = hd.count;
    _load_status.width = w, _load_status.height = h, _load_status.layers = (int32_t)count;
    DOCUMENT_FILE* f = NULL;
    Malloc(f, DOCUMENT_FILE, 1, document_load_status_fail(DOCUMENT_LOAD_MEMORY, NULL); return NULL);
    f->version = version;
    f->width = w;
    f->height = h;
    f->template_index = (tmpl < 0 || tmpl >= DOCUMENT_TEMPLATE_COUNT) ? 0 : tmpl;
    if (count) Malloc(f->layers, DOCUMENT_FILE_LAYER, count, {
        free(f);
        document_load_status_fail(DOCUMENT_LOAD_MEMORY, NULL);
        return NULL;
    });
    size_t pos = header;
    for (uint32_t i = 0; i < count; i++) {
        f->layer_count = i + 1; /* so a half-read record is freed too */
        if (!_parse_layer(d, size, &pos, f, count, &f->layers[i])) {
            if (_load_status.error == DOCUMENT_LOAD_MEMORY)
                t_log(LOG_ERR, "not enough memory for layer %u of %s (%dx%d)", i + 1, path, w, h);
            else
                t_log(LOG_ERR, "malformed PLM document %s (offset %zu of %zu)", path, pos, size);
            document_file_free(&f);
            return NULL;
        }
    }
    f->layer_count = count;
    _load_status.error = DOCUMENT_LOAD_OK;
    return f;
}

/* Decoding runs on a thread of its own while the main thread makes the
 * layers' pictures: with a software renderer, creating a 4096 x 4096
 * picture costs about as much as decoding a layer. */
typedef struct _DOCUMENT_PARSE_JOB {
    const void* data;
    size_t size;
    const char* path;
    DOCUMENT_FILE* file;
} _DOCUMENT_PARSE_JOB;

static void* _document_parse_job(ALLEGRO_THREAD*, void* arg) {
    _DOCUMENT_PARSE_JOB* job = (_DOCUMENT_PARSE_JOB*)arg;
    job->file = document_file_parse(job->data, job->size, job->path);
    return NULL;
}

// Frees the pictures made ahead that no layer took.
static void _document_free_pictures(ALLEGRO_BITMAP*** pictures, int count) {
    if (!*pictures) return;
    for (int i = 0; i < count; i++)
        if ((*pictures)[i]) al_destroy_bitmap((*pictures)[i]);
    free(*pictures);
    *pictures = NULL;
}

DOCUMENT* document_load(const char* path) {
    __t_assert_null(path);
    T_STR* bytes = t_str_read_file(path);
    if (!bytes) {
        memset(&_load_status, 0, sizeof(_load_status));
        _load_status.error = DOCUMENT_LOAD_UNREADABLE;
        t_log(LOG_ERR, "could not read %s", path);
        return NULL;
    }
    _DOCUMENT_PARSE_JOB job = {bytes->data ? bytes->data : "", bytes->length, path, NULL};
    /* The pictures are made ahead only for a drawing the memory budget can
     * hold; anything else is parsed alone and refused by the parse. */
    _PLM_HEADER hd;
    int ahead = _plm_header_read((const uint8_t*)job.data, job.size, &hd) && hd.count >= 1;
    int w = hd.width, h = hd.height, count = ahead ? (int)hd.count : 0;
    ALLEGRO_BITMAP** pictures = NULL;
    ALLEGRO_THREAD* worker = NULL;
    if (ahead && al_get_current_display() && document_memory_needed(w, h, count) <= document_memory_budget())
        worker = al_create_thread(_document_parse_job, &job);
    if (worker) {
        al_start_thread(worker);
        pictures = (ALLEGRO_BITMAP**)calloc((size_t)count, sizeof(*pictures));
        for (int i = 0; pictures && i < count; i++)
            if (!(pictures[i] = layer_create_bitmap(w, h, ALLEGRO_VIDEO_BITMAP | ALLEGRO_MIN_LINEAR))) break;
        al_join_thread(worker, NULL);
        al_destroy_thread(worker);
    } else {
        _document_parse_job(NULL, &job);
    }
    t_str_free(&bytes);
    DOCUMENT_FILE* f = job.file;
    if (!f) {
        _document_free_pictures(&pictures, count);
        return NULL;
    }
    DOCUMENT* doc = document_new(f->width, f->height);
    if (!doc) {
        _load_status.error = DOCUMENT_LOAD_MEMORY;
        _document_free_pictures(&pictures, count);
        document_file_free(&f);
        return NULL;
    }
    doc->template_index = f->template_index;
    for (uint32_t i = 0; i < f->layer_count; i++) {
        DOCUMENT_FILE_LAYER* rec = &f->layers[i];
        /* The layer's picture is made once, from the pixels read, rather
         * than blank first and then replaced. */
        layer_defer_video(1);
        LAYER* layer = document_add_layer(doc, rec->name);
        layer_defer_video(0);
        if (layer) {
            layer->opacity = rec->opacity;
            layer->blend = rec->blend;
            layer->visible = rec->visible;
            layer->locked = rec->locked;
            al_destroy_bitmap(layer->backup);
            layer->backup = rec->pixels;
            rec->pixels = NULL;
        }
        /* An empty layer's picture starts blank rather than uploaded; one
         * made ahead is taken, else it is made now. */
        ALLEGRO_BITMAP* picture = pictures ? pictures[i] : NULL;
        int ready = 0;
        if (layer && picture && layer_adopt_picture(layer, picture, rec->empty)) {
            pictures[i] = NULL;
            ready = 1;
        }
        if (!ready && layer) ready = rec->empty ? layer_make_bitmap(layer) : layer_restore(layer);
        if (!ready) {
            /* The file was read whole and checked: what failed here is memory. */
            t_log(LOG_ERR, "not enough memory for layer %u of %s (%dx%d)", i + 1, path, f->width, f->height);
            _load_status.error = DOCUMENT_LOAD_MEMORY;
            _document_free_pictures(&pictures, count);
            document_free(&doc);
            document_file_free(&f);
            return NULL;
        }
    }
    _document_free_pictures(&pictures, count);
    uint32_t layers = f->layer_count;
    document_file_free(&f);
    doc->active_layer = layers ? document_layer_at(doc, (int)layers - 1) : NULL;
    t_log(LOG_INFO, "loaded document %s (%ux%u, %u layers)", path, (unsigned)doc->width, (unsigned)doc->height, layers);
    return doc;
}

/* -------------------------------------------------------------------- PNG */

/* Bytes the deflate takes at a time: each piece is compressed with what
 * suits it, one zlib stream for the whole image. */
#define PNG_PIECE (256 * 1024)

// Whether a piece of raw image repeats itself enough for the full match
// search to pay: a quarter of its 4-byte words equal the word before them.
static int _png_piece_repeats(const uint8_t* p, size_t n) {
    size_t same = 0, words = 0;
    for (size_t i = 4; i + 4 <= n; i += 4, words++) {
        uint32_t a, b;
        memcpy(&a, p + i - 4, 4);
        memcpy(&b, p + i, 4);
        same += a == b;
    }
    return same * 4 >= words;
}

// zlib deflate at `level`, piece by piece: pieces that repeat (paper, flat
// colour) get the full match search, pieces that do not (noise, photographs)
// only run lengths, where the search finds nothing and costs the most.
static int _zlib_compress(uint8_t* dest, unsigned long* dest_len, const uint8_t* src, unsigned long src_len,
                          int level) {
    if (*dest_len > 0xFFFFFFFFul || src_len > 0xFFFFFFFFul) return Z_BUF_ERROR;
    z_stream z;
    memset(&z, 0, sizeof(z));
    int rc = deflateInit2(&z, level, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY);
    if (rc != Z_OK) return rc;
    z.next_out = dest;
    z.avail_out = (uInt)*dest_len;
    int strategy = Z_DEFAULT_STRATEGY;
    size_t at = 0;
    do {
        size_t n = src_len - at < PNG_PIECE ? src_len - at : PNG_PIECE;
        int wanted = _png_piece_repeats(src + at, n) ? Z_DEFAULT_STRATEGY : Z_RLE;
        if (wanted != strategy) {
            rc = deflateParams(&z, level, wanted);
            if (rc != Z_OK) break;
            strategy = wanted;
        }
        z.next_in = (Bytef*)(src + at);
        z.avail_in = (uInt)n;
        at += n;
        rc = deflate(&z, at >= src_len ? Z_FINISH : Z_NO_FLUSH);
        if (at >= src_len) rc = rc == Z_STREAM_END ? Z_OK : (rc == Z_OK ? Z_BUF_ERROR : rc);
    } while (rc == Z_OK && at < src_len);
    *dest_len = z.total_out;
    deflateEnd(&z);
    return rc;
}

static DOCUMENT_DEFLATE_FN _deflate = _zlib_compress;

void document_set_deflate(DOCUMENT_DEFLATE_FN fn) { _deflate = fn ? fn : _zlib_compress; }

// A PNG file of premultiplied RGBA rows `pitch` bytes apart, un-premultiplied, no filter.
static uint8_t* _png_encode_rows(const uint8_t* data, intptr_t pitch, int w, int h, size_t* size) {
    size_t stride = 1 + (size_t)w * 4;
    size_t raw_size = stride * (size_t)h;
    uint8_t* raw = NULL;
    Malloc(raw, uint8_t, raw_size, return NULL);
    for (int y = 0; y < h; y++) {
        const uint8_t* s = data + (intptr_t)y * pitch;
        uint8_t* o = raw + (size_t)y * stride;
        *o++ = 0; /* filter: none */
        for (int x = 0; x < w; x++, s += 4, o += 4) {
            /* Four pixels that are each opaque or empty are copied as they are. */
            if (x + 4 <= w && (uint8_t)(s[3] + 1) <= 1 && (uint8_t)(s[7] + 1) <= 1 && (uint8_t)(s[11] + 1) <= 1 &&
                (uint8_t)(s[15] + 1) <= 1) {
                memcpy(o, s, 16);
                x += 3, s += 12, o += 12;
                continue;
            }
            unsigned a = s[3];
            if (a > 0 && a < 255) {
                o[0] = (uint8_t)((a / 2 + s[0] * 255u) / a);
                o[1] = (uint8_t)((a / 2 + s[1] * 255u) / a);
                o[2] = (uint8_t)((a / 2 + s[2] * 255u) / a);
            } else {
                o[0] = s[0];
                o[1] = s[1];
                o[2] = s[2];
            }
            o[3] = (uint8_t)a;
        }
    }
    unsigned long bound = compressBound((uLong)raw_size);
    uint8_t* file = NULL;
    Malloc(file, uint8_t, (size_t)bound + 57, {
        free(raw);
        return NULL;
    });
    unsigned long zlen = bound;
    int rc = _deflate(file + 41, &zlen, raw, (unsigned long)raw_size, Z_DEFAULT_COMPRESSION);
    free(raw);
    if (rc != Z_OK || zlen > 0x7FFFFFFFul) {
        t_log(LOG_ERR, "png deflate failed (%d)", rc);
        free(file);
        return NULL;
    }
    static const uint8_t sig[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    memcpy(file, sig, 8);
    _wr32be(file + 8, 13);
    memcpy(file + 12, "IHDR", 4);
    _wr32be(file + 16, (uint32_t)w);
    _wr32be(file + 20, (uint32_t)h);
    file[24] = 8;
    file[25] = 6;
    file[26] = file[27] = file[28] = 0;
    _wr32be(file + 29, (uint32_t)crc32(0, file + 12, 17));
    _wr32be(file + 33, (uint32_t)zlen);
    memcpy(file + 37, "IDAT", 4);
    uint8_t* tail = file + 41 + zlen;
    _wr32be(tail, (uint32_t)crc32(0, file + 37, (uInt)(zlen + 4)));
    _wr32be(tail + 4, 0);
    memcpy(tail + 8, "IEND", 4);
    _wr32be(tail + 12, (uint32_t)crc32(0, tail + 8, 4));
    *size = (size_t)zlen + 57;
    return file;
}

uint8_t* document_png_encode(ALLEGRO_BITMAP* bitmap, size_t* size) {
    __t_assert_null(bitmap);
    __t_assert_null(size);
    *size = 0;
    int w = al_get_bitmap_width(bitmap), h = al_get_bitmap_height(bitmap);
    if (w < 1 || h < 1) return NULL;
    ALLEGRO_LOCKED_REGION* lock = al_lock_bitmap(bitmap, ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE, ALLEGRO_LOCK_READONLY);
    if (!lock) {
        t_log(LOG_ERR, "could not lock the bitmap for the png encode");
        return NULL;
    }
    uint8_t* file = _png_encode_rows((const uint8_t*)lock->data, lock->pitch, w, h, size);
    al_unlock_bitmap(bitmap);
    return file;
}

uint8_t* document_png_encode_rgba(const uint8_t* rgba, intptr_t pitch, int w, int h, size_t* size) {
    __t_assert_null(rgba);
    __t_assert_null(size);
    *size = 0;
    if (w < 1 || h < 1) return NULL;
    return _png_encode_rows(rgba, pitch, w, h, size);
}

// Encodes with the graphics library's saver for `ext` into a new buffer.
static uint8_t* _bitmap_encode(ALLEGRO_BITMAP* bitmap, const char* ext, size_t* size) {
    __t_assert_null(bitmap);
    __t_assert_null(ext);
    __t_assert_null(size);
    *size = 0;
    size_t cap = (size_t)al_get_bitmap_width(bitmap) * (size_t)al_get_bitmap_height(bitmap) * 4 + 65536;
    uint8_t* buf = NULL;
    Malloc(buf, uint8_t, cap, return NULL);
    ALLEGRO_FILE* mf = al_open_memfile(buf, (int64_t)cap, "w");
    if (!mf) {
        t_log(LOG_ERR, "could not open memfile for %s encode", ext);
        free(buf);
        return NULL;
    }
    int ok = al_save_bitmap_f(mf, ext, bitmap);
    int64_t pos = al_ftell(mf);
    al_fclose(mf);
    if (!ok || pos <= 0) {
        t_log(LOG_ERR, "%s encode failed", ext);
        free(buf);
        return NULL;
    }
    *size = (size_t)pos;
    return buf;
}

int document_export_png_region(DOCUMENT* doc, const char* path, int x, int y, int w, int h, int include_template,
                               char* out_path, size_t out_size) {
    __t_assert(doc);
    __t_assert(path);
    if (out_path && out_size) out_path[0] = 0;
    char written[1024];
    int n = snprintf(written, sizeof(written), "%s", path);
    size_t size = 0;
    uint8_t* bytes = NULL;
    /* Layers that all blend as Normal are flattened on the CPU, with the
     * device's arithmetic, straight from their textures: drawing 4096 x 4096
     * layers and reading the result back cost more than the encoding. */
    uint8_t* rgba = w > 0 && h > 0 ? compositor_flatten_region_bytes(doc, x, y, w, h, include_template) : NULL;
    if (rgba) {
        bytes = _png_encode_rows(rgba, (intptr_t)w * 4, w, h, &size);
        free(rgba);
    }
    if (!bytes) {
        ALLEGRO_BITMAP* flat = compositor_flatten_region(doc, x, y, w, h, include_template);
        if (!flat) {
            t_log(LOG_ERR, "could not export %s", path);
            return 0;
        }
        /* The program's own writer first: it un-premultiplies (a flattened
         * canvas is opaque, so the pixels are the same) and is several times
         * faster than the library's saver, whose adaptive filters buy nothing
         * on paper and cost the most on noise. */
        bytes = document_png_encode(flat, &size);
        if (!bytes) bytes = _bitmap_encode(flat, ".png", &size);
        if (!bytes) {
            bytes = _bitmap_encode(flat, ".tga", &size);
            n = snprintf(written, sizeof(written), "%s.tga", path);
        }
        al_destroy_bitmap(flat);
    }
    int ok = bytes && n >= 0 && (size_t)n < sizeof(written) && t_file_write_atomic_shared(written, bytes, size);
    free(bytes);
    if (!ok) {
        t_log(LOG_ERR, "could not export %s", path);
        return 0;
    }
    if (out_path && out_size) snprintf(out_path, out_size, "%s", written);
    t_log(LOG_INFO, "exported composite to %s", written);
    return 1;
}

int document_export_png(DOCUMENT* doc, const char* path) {
    __t_assert(doc);
    return document_export_png_region(doc, path, 0, 0, doc->width, doc->height, 1, NULL, 0);
}

/* ----------------------------------------------------------- content scan */

int document_content_bbox(DOCUMENT* doc, int* x0, int* y0, int* x1, int* y1) {
    __t_assert(doc);
    __t_assert(x0);
    __t_assert(y0);
    __t_assert(x1);
    __t_assert(y1);
    int bx0 = INT_MAX, by0 = INT_MAX, bx1 = -1, by1 = -1;
    int count = document_layer_count(doc);
    for (int i = 0; i < count; i++) {
        LAYER* layer = document_layer_at(doc, i);
        int lx0, ly0, lx1, ly1;
        if (!layer || !layer->visible || !(layer->opacity > 0.0f)) continue;
        if (!layer_content_box(layer, &lx0, &ly0, &lx1, &ly1)) continue;
        if (lx0 < bx0) bx0 = lx0;
        if (ly0 < by0) by0 = ly0;
        if (lx1 > bx1) bx1 = lx1;
        if (ly1 > by1) by1 = ly1;
    }
    if (bx1 < 0) return 0;
    *x0 = bx0;
    *y0 = by0;
    *x1 = bx1;
    *y1 = by1;
    return 1;
}
