/* The OpenRaster reader on any bytes, two ways. An input that starts with
 * "P" is the archive itself: the zip reader and its checks. Any other input
 * is a recipe: the target builds a well-formed archive from it (the
 * mimetype, a stack.xml of nested stacks and layers with any attributes and
 * names, PNG entries with right checksums that claim any size, colour type
 * and depth and hold any rows, several layers naming one entry), so the
 * stack parser, the weighing and the picture decoder get the input past the
 * zip checksums. Layers are kept in memory. What the reader accepts must be
 * a whole drawing within the limits, with well-formed names, each entry
 * decoded at most once; what it refuses must say why. */
#include <allegro5/allegro.h>
#include <allegro5/allegro_image.h>
#include <fuzzer/FuzzedDataProvider.h>
#include <stdlib.h>
#include <string.h>
#include <zip.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "canvas/document_exchange.h"
#include "canvas/document_exchange_internal.h"
#include "canvas/document_io.h"
#include "canvas/layer.h"
#include "fuzz_support.h"
#include "t_utf8.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz_init();
    al_init_image_addon();
    /* No display: the layers keep only their memory copies. */
    layer_defer_video(1);
    /* Room for the drawings a recipe makes, so their pictures reach the
     * weighing; pictures that claim more are refused there. The run script
     * may set its own. */
    setenv("PLUMARO_MAX_DOC_MB", "256", 0);
    return 0;
}

namespace {

typedef std::string Bytes;

void _put32be(Bytes& out, uint32_t v) {
    for (int i = 3; i >= 0; i--) out += (char)(uint8_t)(v >> (8 * i));
}

// A PNG chunk with its length and checksum.
Bytes _chunk(const char* type, const Bytes& data) {
    Bytes c;
    _put32be(c, (uint32_t)data.size());
    Bytes body = Bytes(type, 4) + data;
    c += body;
    _put32be(c, (uint32_t)crc32(0, (const Bytef*)body.data(), (uInt)body.size()));
    return c;
}

// A zlib stream of the bytes, at the level the recipe asks.
Bytes _deflate(const Bytes& raw, int level) {
    uLongf n = compressBound((uLong)raw.size());
    Bytes out(n, '\0');
    if (compress2((Bytef*)&out[0], &n, (const Bytef*)raw.data(), (uLong)raw.size(), level) != Z_OK) return "";
    out.resize(n);
    return out;
}

// A PNG from the recipe: a header with any size, colour type, depth and
// interlace, maybe a palette and transparency, rows of the recipe's bytes
// (often exactly as many as the header asks), split into IDAT chunks.
Bytes _png(FuzzedDataProvider& in) {
    static const uint8_t kinds[][2] = {{6, 8}, {6, 16}, {2, 8}, {2, 16}, {0, 1}, {0, 2}, {0, 4}, {0, 8},
                                       {0, 16}, {3, 1}, {3, 2}, {3, 4}, {3, 8}, {4, 8}, {4, 16}, {6, 7}};
    const uint8_t* kind = kinds[in.ConsumeIntegralInRange<size_t>(0, sizeof(kinds) / sizeof(kinds[0]) - 1)];
    uint32_t w, h;
    if (in.ConsumeIntegralInRange<int>(0, 7) == 7) { /* sizes that must be weighed */
        w = in.ConsumeIntegralInRange<uint32_t>(0, 70000);
        h = in.ConsumeIntegralInRange<uint32_t>(0, 70000);
    } else {
        w = in.ConsumeIntegralInRange<uint32_t>(1, 48);
        h = in.ConsumeIntegralInRange<uint32_t>(1, 48);
    }
    const int interlace = in.ConsumeIntegralInRange<int>(0, 5) == 5;
    Bytes ihdr;
    _put32be(ihdr, w);
    _put32be(ihdr, h);
    ihdr += (char)kind[1];
    ihdr += (char)kind[0];
    ihdr += Bytes("\0\0", 2);
    ihdr += (char)interlace;
    Bytes png = Bytes("\x89PNG\r\n\x1a\n", 8) + _chunk("IHDR", ihdr);
    if (kind[0] == 3 || in.ConsumeIntegralInRange<int>(0, 7) == 7)
        png += _chunk("PLTE", in.ConsumeBytesAsString(3 * in.ConsumeIntegralInRange<size_t>(0, 20)));
    if (in.ConsumeIntegralInRange<int>(0, 5) == 5) png += _chunk("tRNS", in.ConsumeRandomLengthString(16));
    /* Rows: the exact count a small picture needs, filled from the recipe. */
    static const int channels[7] = {1, 0, 3, 1, 2, 0, 4};
    uint64_t row = ((uint64_t)w * (uint64_t)channels[kind[0]] * kind[1] + 7) / 8 + 1;
    uint64_t want = row * h;
    Bytes raw = in.ConsumeRandomLengthString(in.ConsumeBool() ? 64 : 4096);
    if (want <= (1u << 16) && in.ConsumeBool()) {
        Bytes full((size_t)want, '\0');
        for (size_t i = 0; i < full.size() && !raw.empty(); i++) full[i] = raw[i % raw.size()];
        /* A valid filter type at each row's start, mostly. */
        for (uint64_t r = 0; r < h && in.ConsumeBool(); r++) full[(size_t)(r * row)] = (char)(full[(size_t)(r * row)] % 5);
        raw = full;
    }
    Bytes stream = _deflate(raw, in.ConsumeIntegralInRange<int>(0, 9));
    if (in.ConsumeIntegralInRange<int>(0, 9) == 9 && !stream.empty()) stream.resize(stream.size() / 2); /* cut off */
    size_t piece = in.ConsumeIntegralInRange<size_t>(1, 4096);
    for (size_t at = 0; at < stream.size(); at += piece) png += _chunk("IDAT", stream.substr(at, piece));
    if (in.ConsumeIntegralInRange<int>(0, 9) != 9) png += _chunk("IEND", "");
    return png;
}

// Text made safe inside an XML attribute; other bytes, good or bad UTF-8, stay.
// (Rare choices below come on a range's top value: a recipe that has run
// out of bytes reads zeros and takes the common way.)
Bytes _attr(const Bytes& text) {
    Bytes out;
    for (char c : text) {
        if (c == '&') out += "&amp;";
        else if (c == '<') out += "&lt;";
        else if (c == '\'') out += "&apos;";
        else if (c == '"') out += "&quot;";
        else if ((uint8_t)c < 0x20 && c != '\t' && c != '\n') out += '?'; /* XML has no other control characters */
        else out += c;
    }
    return out;
}

// A number attribute: small, at the limits, or any text.
Bytes _number(FuzzedDataProvider& in, int lo, int hi) {
    switch (in.ConsumeIntegralInRange<int>(0, 7)) {
        case 6: return std::to_string(in.ConsumeIntegral<int32_t>());
        case 7: return _attr(in.ConsumeRandomLengthString(8));
        default: return std::to_string(in.ConsumeIntegralInRange<int>(lo, hi));
    }
}

// The archive a recipe describes, built in memory with the zip library.
Bytes _archive(FuzzedDataProvider& in, int* entries_made) {
    static const char* const ops[] = {"svg:src-over", "svg:multiply", "svg:screen", "svg:plus", "svg:color-dodge", ""};
    std::vector<std::pair<Bytes, Bytes>> entries;
    entries.push_back({"mimetype", in.ConsumeIntegralInRange<int>(0, 15) != 15 ? Bytes("image/openraster")
                                                                         : in.ConsumeRandomLengthString(20)});
    const int pictures = 1 + in.ConsumeIntegralInRange<int>(0, 3);
    for (int i = 0; i < pictures; i++)
        entries.push_back({"data/p" + std::to_string(i) + ".png",
                           in.ConsumeIntegralInRange<int>(0, 9) != 9 ? _png(in) : in.ConsumeRandomLengthString(256)});
    *entries_made = pictures;

    Bytes xml = "<?xml version='1.0' encoding='UTF-8'?>\n<image w='" + _number(in, 1, 300) + "' h='" +
                _number(in, 1, 300) + "' plumaro:template='" + _number(in, -2, 30) + "'><stack>";
    const int layers = in.ConsumeIntegralInRange<int>(0, 7) == 7 ? in.ConsumeIntegralInRange<int>(0, 1100)
                                                                  : in.ConsumeIntegralInRange<int>(0, 12);
    int open = 0;
    for (int i = 0; i < layers && in.remaining_bytes() > 0; i++) {
        if (in.ConsumeIntegralInRange<int>(0, 9) == 9) { /* a nested stack, or the end of one */
            if (open && in.ConsumeBool()) {
                xml += "</stack>";
                open--;
            } else {
                xml += "<stack x='" + _number(in, -50, 50) + "' y='" + _number(in, -50, 50) + "' opacity='" +
                       _number(in, 0, 1) + "'" + (in.ConsumeBool() ? " visibility='hidden'" : "") + ">";
                open++;
            }
        }
        int which = in.ConsumeIntegralInRange<int>(0, pictures); /* the top value names no entry */
        Bytes src = which < pictures ? "data/p" + std::to_string(which) + ".png" : "data/missing.png";
        xml += "<layer src='" + src + "' x='" + _number(in, -64, 300) + "' y='" + _number(in, -64, 300) +
               "' opacity='" + (in.ConsumeBool() ? "0." + std::to_string(in.ConsumeIntegralInRange<int>(0, 999))
                                                 : _number(in, 0, 2)) +
               "' composite-op='" + ops[in.ConsumeIntegralInRange<size_t>(0, 5)] + "'";
        if (in.ConsumeBool()) xml += " name='" + _attr(in.ConsumeRandomLengthString(24)) + "'";
        if (in.ConsumeBool()) xml += " visibility='hidden'";
        if (in.ConsumeBool()) xml += " edit-locked='true'";
        xml += "/>";
    }
    while (open-- > 0) xml += "</stack>";
    xml += "</stack></image>\n";
    if (in.ConsumeIntegralInRange<int>(0, 15) == 15) /* a stray piece of text somewhere */
        xml.insert(in.ConsumeIntegralInRange<size_t>(0, xml.size()), in.ConsumeRandomLengthString(32));
    entries.insert(entries.begin() + 1, {"stack.xml", xml});

    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* memory = zip_source_buffer_create(NULL, 0, 0, &error);
    FUZZ_CHECK(memory);
    zip_source_keep(memory);
    zip_t* za = zip_open_from_source(memory, ZIP_TRUNCATE, &error);
    FUZZ_CHECK(za);
    for (size_t i = 0; i < entries.size(); i++) {
        const Bytes& bytes = entries[i].second;
        /* An empty buffer is not taken over by the zip library: none is made. */
        void* copy = bytes.empty() ? NULL : malloc(bytes.size());
        FUZZ_CHECK(copy || bytes.empty());
        if (copy) memcpy(copy, bytes.data(), bytes.size());
        zip_source_t* src = zip_source_buffer(za, copy, bytes.size(), 1);
        FUZZ_CHECK(src);
        zip_int64_t index = zip_file_add(za, entries[i].first.c_str(), src, ZIP_FL_OVERWRITE);
        FUZZ_CHECK(index >= 0);
        if (i == 0 || in.ConsumeBool()) zip_set_file_compression(za, (zip_uint64_t)index, ZIP_CM_STORE, 0);
    }
    FUZZ_CHECK(zip_close(za) == 0);
    Bytes out;
    zip_stat_t st;
    FUZZ_CHECK(zip_source_open(memory) == 0);
    FUZZ_CHECK(zip_source_stat(memory, &st) == 0 && (st.valid & ZIP_STAT_SIZE));
    out.resize((size_t)st.size);
    FUZZ_CHECK(zip_source_read(memory, &out[0], st.size) == (zip_int64_t)st.size);
    zip_source_close(memory);
    zip_source_free(memory);
    zip_error_fini(&error);
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* path = fuzz_temp_path("input.ora");
    int entries = -1; /* unknown for raw archives */
    if (size > 0 && data[0] == 'P') {
        FUZZ_CHECK(fuzz_write_file(path, data, size));
    } else {
        FuzzedDataProvider in(data, size);
        Bytes archive = _archive(in, &entries);
        FUZZ_CHECK(fuzz_write_file(path, (const uint8_t*)archive.data(), archive.size()));
    }
    const unsigned long decodes = document_ora_decode_count();
    DOCUMENT* doc = document_load_ora(path);
    const DOCUMENT_LOAD_STATUS* status = document_last_load_status();
    if (entries >= 0) FUZZ_CHECK(document_ora_decode_count() - decodes <= (unsigned long)entries);
    if (!doc) {
        FUZZ_CHECK(status->error != DOCUMENT_LOAD_OK);
        return 0;
    }
    FUZZ_CHECK(status->error == DOCUMENT_LOAD_OK);
    FUZZ_CHECK(doc->width >= 1 && doc->width <= DOCUMENT_IMAGE_MAX_SIDE);
    FUZZ_CHECK(doc->height >= 1 && doc->height <= DOCUMENT_IMAGE_MAX_SIDE);
    int count = document_layer_count(doc);
    FUZZ_CHECK(count >= 1 && count <= DOCUMENT_FILE_MAX_LAYERS);
    FUZZ_CHECK(doc->active_layer == document_layer_at(doc, count - 1));
    for (int i = 0; i < count; i++) {
        LAYER* layer = document_layer_at(doc, i);
        FUZZ_CHECK(layer && layer->backup);
        FUZZ_CHECK(al_get_bitmap_width(layer->backup) == doc->width);
        FUZZ_CHECK(al_get_bitmap_height(layer->backup) == doc->height);
        FUZZ_CHECK(layer->opacity >= 0.0f && layer->opacity <= 1.0f);
        FUZZ_CHECK(layer_blend_find(layer->blend) != NULL);
        FUZZ_CHECK(layer->name && t_utf8_valid(layer->name->data, layer->name->length));
    }
    document_free(&doc);
    return 0;
}
