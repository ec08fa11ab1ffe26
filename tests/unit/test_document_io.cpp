/* Document file format without a display: the layer TGA codec against
 * independent encoders and decoders, the reader's limits and truncations,
 * the writer through memory-only layers, the PNG writer's bytes, the content
 * scan and the write that must never cost the old file. */
#include <allegro5/allegro_image.h>
#include <allegro5/allegro_memfile.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <dirent.h>
#include <random>
#include <string>
#include <vector>

#include "canvas/document_io.h"
#include "canvas/templates.h"
#include "t_log.h"
#include "test_support.h"

namespace {

typedef std::vector<uint8_t> Bytes;

void _put32(Bytes& b, uint32_t v) {
    for (int i = 0; i < 4; i++) b.push_back((uint8_t)(v >> (8 * i)));
}
void _put(Bytes& b, const std::string& s) { b.insert(b.end(), s.begin(), s.end()); }
void _put(Bytes& b, const Bytes& s) { b.insert(b.end(), s.begin(), s.end()); }
uint32_t _get32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | ((uint32_t)p[3] << 24); }
uint32_t _get32be(const uint8_t* p) { return ((uint32_t)p[0] << 24) | (p[1] << 16) | (p[2] << 8) | p[3]; }

ALLEGRO_BITMAP* _mem_bitmap(int w, int h) {
    int flags = al_get_new_bitmap_flags(), format = al_get_new_bitmap_format();
    al_set_new_bitmap_flags(ALLEGRO_MEMORY_BITMAP);
    al_set_new_bitmap_format(ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE);
    ALLEGRO_BITMAP* b = al_create_bitmap(w, h);
    al_set_new_bitmap_flags(flags);
    al_set_new_bitmap_format(format);
    return b;
}


void _set_pixels(ALLEGRO_BITMAP* b, const Bytes& px) {
    int w = al_get_bitmap_width(b), h = al_get_bitmap_height(b);
    ALLEGRO_LOCKED_REGION* lock = al_lock_bitmap(b, ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE, ALLEGRO_LOCK_WRITEONLY);
    ASSERT_NE(lock, nullptr);
    for (int y = 0; y < h; y++) memcpy((uint8_t*)lock->data + (intptr_t)y * lock->pitch, &px[(size_t)y * w * 4], (size_t)w * 4);
    al_unlock_bitmap(b);
}

/* Noise with runs of every length around the 128-pixel packet limit. */
Bytes _test_pattern(int w, int h, unsigned seed) {
    std::mt19937 rng(seed);
    Bytes px((size_t)w * h * 4);
    size_t i = 0, n = (size_t)w * h;
    while (i < n) {
        uint32_t c = rng();
        size_t run = (rng() % 3 == 0) ? 1 + rng() % 300 : 1;
        for (size_t k = 0; k < run && i < n; k++, i++) memcpy(&px[i * 4], &c, 4);
    }
    return px;
}

ALLEGRO_BITMAP* _bitmap_from(int w, int h, const Bytes& px) {
    ALLEGRO_BITMAP* b = _mem_bitmap(w, h);
    if (b) _set_pixels(b, px);
    return b;
}

Bytes _tga_of(ALLEGRO_BITMAP* b) {
    T_STR* s = NULL;
    if (!document_tga_encode(b, &s)) return Bytes();
    Bytes out(s->data, s->data + s->length);
    t_str_free(&s);
    return out;
}

/* An uncompressed bottom-left 32-bit TGA written byte by byte. */
Bytes _plain_tga(int w, int h, const Bytes& rgba, uint8_t descriptor = 0x08) {
    Bytes t(18, 0);
    t[2] = 2;
    t[12] = (uint8_t)w;
    t[13] = (uint8_t)(w >> 8);
    t[14] = (uint8_t)h;
    t[15] = (uint8_t)(h >> 8);
    t[16] = 32;
    t[17] = descriptor;
    for (int r = 0; r < h; r++) {
        int y = (descriptor & 0x20) ? r : h - 1 - r;
        for (int x = 0; x < w; x++) {
            const uint8_t* p = &rgba[((size_t)y * w + x) * 4];
            t.push_back(p[2]);
            t.push_back(p[1]);
            t.push_back(p[0]);
            t.push_back(p[3]);
        }
    }
    return t;
}

std::string _run(const std::string& cmd) {
    std::string out;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return out;
    char buf[512];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), p)) > 0) out.append(buf, n);
    int rc = pclose(p);
    if (rc != 0) out += "\n[exit " + std::to_string(rc) + "]";
    return out;
}

std::string _as_string(const Bytes& b) { return std::string(b.begin(), b.end()); }

class DocIo : public ::testing::Test {
   protected:
    void SetUp() override {
        test_allegro_init();
        dir = test_make_temp_dir("docio");
        ASSERT_FALSE(dir.empty());
    }
    void TearDown() override {
        t_file_set_commit_hook(NULL, NULL);
        document_set_deflate(NULL);
        test_remove_tree(dir);
    }
    /* Names left in the folder (temporary files included). */
    std::vector<std::string> listing() {
        std::vector<std::string> names;
        DIR* d = opendir(dir.c_str());
        if (!d) return names;
        while (struct dirent* e = readdir(d))
            if (e->d_name[0] != '.') names.push_back(e->d_name);
        closedir(d);
        return names;
    }
    std::string dir;
};

}  // namespace

/* ---------------------------------------------------------------- TGA */

TEST_F(DocIo, TgaRoundTripAtPacketBoundaries) {
    const int widths[] = {1, 2, 127, 128, 129, 257, 300};
    for (int w : widths) {
        Bytes px = _test_pattern(w, 5, (unsigned)w);
        ALLEGRO_BITMAP* b = _bitmap_from(w, 5, px);
        Bytes tga = _tga_of(b);
        ASSERT_GE(tga.size(), 18u + 26u);
        EXPECT_EQ(tga[2], 10) << "run-length true colour";
        EXPECT_EQ(tga[16], 32);
        EXPECT_EQ(tga[17], 0x28) << "top-left origin, 8 alpha bits";
        EXPECT_EQ(tga[12] | (tga[13] << 8), w);
        EXPECT_EQ(std::string((const char*)&tga[tga.size() - 18], 17), "TRUEVISION-XFILE.");
        ALLEGRO_BITMAP* back = document_tga_decode(tga.data(), tga.size());
        ASSERT_NE(back, nullptr) << w;
        EXPECT_EQ(test_bitmap_bytes(back), px) << "width " << w;
        al_destroy_bitmap(back);
        al_destroy_bitmap(b);
    }
}

TEST_F(DocIo, TgaRowsWithNoRepeatRoundTripThroughRawPackets) {
    /* Rows where no pixel equals its neighbour are all raw packets; a raw
     * packet holds at most 128 pixels, so 129 and more must split. */
    const int widths[] = {128, 129, 256, 300};
    for (int w : widths) {
        Bytes px((size_t)w * 2 * 4);
        for (size_t i = 0; i < px.size() / 4; i++) {
            px[4 * i] = (uint8_t)i;
            px[4 * i + 1] = (uint8_t)(i >> 8);
            px[4 * i + 2] = (uint8_t)(i * 7);
            px[4 * i + 3] = 255;
        }
        ALLEGRO_BITMAP* b = _bitmap_from(w, 2, px);
        Bytes tga = _tga_of(b);
        ALLEGRO_BITMAP* back = document_tga_decode(tga.data(), tga.size());
        ASSERT_NE(back, nullptr) << w;
        EXPECT_EQ(test_bitmap_bytes(back), px) << "width " << w;
        /* The library's own reader agrees with the packets. */
        ALLEGRO_FILE* f = al_open_memfile(tga.data(), (int64_t)tga.size(), "r");
        ASSERT_NE(f, nullptr);
        ALLEGRO_BITMAP* lib = al_load_bitmap_flags_f(f, ".tga", ALLEGRO_NO_PREMULTIPLIED_ALPHA);
        al_fclose(f);
        ASSERT_NE(lib, nullptr) << w;
        EXPECT_EQ(test_bitmap_bytes(lib), px) << "library reader, width " << w;
        al_destroy_bitmap(lib);
        al_destroy_bitmap(back);
        al_destroy_bitmap(b);
    }
}

TEST_F(DocIo, TgaPacketsNeverCrossARowAndRunsCompress) {
    /* A transparent 4096-wide row is 32 run packets of 5 bytes. */
    ALLEGRO_BITMAP* b = _mem_bitmap(4096, 3);
    _set_pixels(b, Bytes((size_t)4096 * 3 * 4, 0));
    Bytes tga = _tga_of(b);
    EXPECT_EQ(tga.size(), 18u + 3u * 32u * 5u + 26u);
    al_destroy_bitmap(b);

    /* Walk the packets of a patterned image: each must end at a row end. */
    const int w = 200, h = 7;
    b = _bitmap_from(w, h, _test_pattern(w, h, 99));
    tga = _tga_of(b);
    size_t p = 18;
    int x = 0, packets = 0;
    for (int y = 0; y < h;) {
        int head = tga[p++];
        int n = (head & 0x7F) + 1;
        p += (head & 0x80) ? 4 : 4 * (size_t)n;
        x += n;
        packets++;
        ASSERT_LE(x, w) << "packet " << packets << " crosses the end of row " << y;
        if (x == w) {
            x = 0;
            y++;
        }
    }
    EXPECT_EQ(p + 26, tga.size());
    al_destroy_bitmap(b);
}

TEST_F(DocIo, TgaReadByTheLibraryLoaderBitForBit) {
    const int w = 131, h = 9;
    Bytes px = _test_pattern(w, h, 5);
    ALLEGRO_BITMAP* b = _bitmap_from(w, h, px);
    Bytes tga = _tga_of(b);
    ALLEGRO_FILE* mf = al_open_memfile(tga.data(), (int64_t)tga.size(), "r");
    ASSERT_NE(mf, nullptr);
    int flags = al_get_new_bitmap_flags();
    al_set_new_bitmap_flags(ALLEGRO_MEMORY_BITMAP);
    ALLEGRO_BITMAP* loaded = al_load_bitmap_flags_f(mf, ".tga", ALLEGRO_NO_PREMULTIPLIED_ALPHA);
    al_set_new_bitmap_flags(flags);
    al_fclose(mf);
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(test_bitmap_bytes(loaded), px);
    al_destroy_bitmap(loaded);

    /* And the library's own (uncompressed, bottom-left) encoding reads back through ours. */
    Bytes buf((size_t)w * h * 4 + 65536);
    mf = al_open_memfile(buf.data(), (int64_t)buf.size(), "w");
    ASSERT_TRUE(al_save_bitmap_f(mf, ".tga", b));
    int64_t size = al_ftell(mf);
    al_fclose(mf);
    ASSERT_EQ(buf[2], 2);
    ALLEGRO_BITMAP* ours = document_tga_decode(buf.data(), (size_t)size);
    ASSERT_NE(ours, nullptr);
    EXPECT_EQ(test_bitmap_bytes(ours), px);
    al_destroy_bitmap(ours);
    al_destroy_bitmap(b);
}

TEST_F(DocIo, TgaFromAnIndependentEncoderInEveryLayout) {
    const int w = 150, h = 6;
    Bytes px = _test_pattern(w, h, 17);
    std::string raw = dir + "/pixels.rgba";
    test_write_file(raw, _as_string(px));
    struct Case {
        const char* args;
        int type;
        int top;
    } cases[] = {{"rle=True, orientation=-1", 10, 0},
                 {"rle=True, orientation=1", 10, 1},
                 {"rle=False, orientation=-1", 2, 0},
                 {"rle=False, orientation=1", 2, 1}};
    int n = 0;
    for (const Case& c : cases) {
        std::string out = dir + "/pil" + std::to_string(n++) + ".tga";
        std::string cmd = "/usr/bin/python3 -c \"from PIL import Image; "
                          "Image.frombytes('RGBA', (" + std::to_string(w) + "," + std::to_string(h) + "), open('" +
                          raw + "','rb').read()).save('" + out + "', " + c.args + ")\" 2>&1";
        ASSERT_EQ(_run(cmd), "") << c.args;
        std::string tga = test_read_file(out);
        ASSERT_GT(tga.size(), 18u);
        ASSERT_EQ((uint8_t)tga[2], c.type) << c.args;
        ASSERT_EQ(((uint8_t)tga[17] & 0x20) != 0, c.top != 0) << c.args;
        ALLEGRO_BITMAP* b = document_tga_decode(tga.data(), tga.size());
        ASSERT_NE(b, nullptr) << c.args;
        EXPECT_EQ(test_bitmap_bytes(b), px) << c.args;
        al_destroy_bitmap(b);
    }
    /* ImageMagick's run-length writer. Its rows come out in the opposite order
     * to what its header says (PIL reads them so too), so the reference here is
     * the graphics library's own loader: whatever it makes of a file, we must too. */
    std::string im = dir + "/im.tga";
    ASSERT_EQ(_run("/usr/bin/convert -size " + std::to_string(w) + "x" + std::to_string(h) + " -depth 8 rgba:" + raw +
                   " -compress RLE " + im + " 2>&1"),
              "");
    std::string tga = test_read_file(im);
    ASSERT_GT(tga.size(), 18u);
    EXPECT_EQ((uint8_t)tga[2], 10);
    ALLEGRO_BITMAP* b = document_tga_decode(tga.data(), tga.size());
    ASSERT_NE(b, nullptr);
    ALLEGRO_FILE* mf = al_open_memfile(&tga[0], (int64_t)tga.size(), "r");
    ASSERT_NE(mf, nullptr);
    int flags = al_get_new_bitmap_flags();
    al_set_new_bitmap_flags(ALLEGRO_MEMORY_BITMAP);
    ALLEGRO_BITMAP* ref = al_load_bitmap_flags_f(mf, ".tga", ALLEGRO_NO_PREMULTIPLIED_ALPHA);
    al_set_new_bitmap_flags(flags);
    al_fclose(mf);
    ASSERT_NE(ref, nullptr);
    EXPECT_EQ(test_bitmap_bytes(b), test_bitmap_bytes(ref));
    Bytes flipped;
    for (int y = h - 1; y >= 0; y--) flipped.insert(flipped.end(), px.begin() + (size_t)y * w * 4, px.begin() + (size_t)(y + 1) * w * 4);
    EXPECT_EQ(test_bitmap_bytes(b), flipped);
    al_destroy_bitmap(ref);
    al_destroy_bitmap(b);
}

TEST_F(DocIo, TgaDecoderTellsAnEmptyImageAndSkipsItsEmptyRuns) {
    /* Run-length packets by hand: a run of 5 empty pixels, then one raw
     * pixel, in a 3x2 image read right to left and bottom up. */
    auto image = [](uint8_t raw_alpha, uint8_t descriptor) {
        Bytes t(18, 0);
        t[2] = 10, t[12] = 3, t[14] = 2, t[16] = 32, t[17] = descriptor;
        Bytes body = {0x84, 0, 0, 0, 0, 0x00, 9, 8, 7, raw_alpha};
        t.insert(t.end(), body.begin(), body.end());
        return t;
    };
    for (uint8_t descriptor : {0x08, 0x18, 0x28, 0x38}) {
        int empty = -1;
        Bytes t = image(200, descriptor);
        ALLEGRO_BITMAP* b = document_tga_decode_ex(t.data(), t.size(), &empty);
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(empty, 0);
        Bytes px = test_bitmap_bytes(b);
        int lit = 0;
        for (size_t i = 0; i < px.size(); i += 4) lit += px[i + 3] != 0;
        EXPECT_EQ(lit, 1) << "descriptor " << (int)descriptor;
        /* The sixth pixel in file order: the end of the second file row. */
        int x = (descriptor & 0x10) ? 0 : 2, y = (descriptor & 0x20) ? 1 : 0;
        EXPECT_EQ(px[((size_t)y * 3 + (size_t)x) * 4 + 3], 200) << "descriptor " << (int)descriptor;
        al_destroy_bitmap(b);
        t = image(0, descriptor);
        t[24] = t[25] = t[26] = 0; /* the raw pixel empty too */
        b = document_tga_decode_ex(t.data(), t.size(), &empty);
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(empty, 1);
        for (uint8_t v : test_bitmap_bytes(b)) ASSERT_EQ(v, 0);
        al_destroy_bitmap(b);
    }
    /* 24-bit pixels are opaque, so never empty. */
    Bytes opaque(18, 0);
    opaque[2] = 2, opaque[12] = 1, opaque[14] = 1, opaque[16] = 24;
    opaque.insert(opaque.end(), {0, 0, 0});
    int empty = -1;
    ALLEGRO_BITMAP* b = document_tga_decode_ex(opaque.data(), opaque.size(), &empty);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(empty, 0);
    al_destroy_bitmap(b);
}

TEST_F(DocIo, TgaDecoderEdgeLayoutsAndRejections) {
    /* Right-to-left columns, an image id and a 24-bit image read as opaque. */
    Bytes px = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};  // 2x2
    Bytes t = _plain_tga(2, 2, px, 0x28);
    std::swap_ranges(t.begin() + 18, t.begin() + 22, t.begin() + 22); /* row 0 reversed */
    std::swap_ranges(t.begin() + 26, t.begin() + 30, t.begin() + 30);
    t[17] = 0x38;
    ALLEGRO_BITMAP* b = document_tga_decode(t.data(), t.size());
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(test_bitmap_bytes(b), px);
    al_destroy_bitmap(b);

    Bytes id = _plain_tga(2, 2, px);
    id[0] = 3;
    id.insert(id.begin() + 18, {'a', 'b', 'c'});
    b = document_tga_decode(id.data(), id.size());
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(test_bitmap_bytes(b), px);
    al_destroy_bitmap(b);

    Bytes t24(18, 0);
    t24[2] = 2;
    t24[12] = 1;
    t24[14] = 1;
    t24[16] = 24;
    t24[17] = 0x20;
    t24.insert(t24.end(), {30, 20, 10});
    b = document_tga_decode(t24.data(), t24.size());
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(test_bitmap_bytes(b), (Bytes{10, 20, 30, 255}));
    al_destroy_bitmap(b);

    /* A run packet that goes on into the next row, as the format allows. */
    Bytes cross(18, 0);
    cross[2] = 10;
    cross[12] = 3;
    cross[14] = 2;
    cross[16] = 32;
    cross[17] = 0x28;
    cross.insert(cross.end(), {0x83, 3, 2, 1, 4, 0x01, 7, 6, 5, 8, 9, 9, 9, 9});
    b = document_tga_decode(cross.data(), cross.size());
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(test_bitmap_bytes(b), (Bytes{1, 2, 3, 4, 1, 2, 3, 4, 1, 2, 3, 4, 1, 2, 3, 4, 5, 6, 7, 8, 9, 9, 9, 9}));
    al_destroy_bitmap(b);

    /* Everything else is refused without allocating an image. */
    Bytes good = _plain_tga(2, 2, px);
    auto rejected = [](Bytes d) {
        ALLEGRO_BITMAP* x = document_tga_decode(d.data(), d.size());
        if (x) al_destroy_bitmap(x);
        return x == nullptr;
    };
    EXPECT_TRUE(rejected(Bytes(good.begin(), good.end() - 1))) << "truncated raw data";
    EXPECT_TRUE(rejected(Bytes(cross.begin(), cross.end() - 1))) << "truncated raw packet";
    EXPECT_TRUE(rejected(Bytes(cross.begin(), cross.begin() + 19))) << "truncated run packet";
    EXPECT_TRUE(rejected(Bytes(good.begin(), good.begin() + 17))) << "short header";
    Bytes m = good;
    m[1] = 1;
    EXPECT_TRUE(rejected(m)) << "colour map";
    m = good;
    m[2] = 3;
    EXPECT_TRUE(rejected(m)) << "grey";
    m = good;
    m[16] = 16;
    EXPECT_TRUE(rejected(m)) << "16 bits";
    m = good;
    m[12] = m[13] = 0;
    EXPECT_TRUE(rejected(m)) << "no width";
    m = good;
    m[0] = 200;
    EXPECT_TRUE(rejected(m)) << "id past the end";
    m = cross;
    m[12] = m[13] = m[14] = m[15] = 0xFF;
    EXPECT_TRUE(rejected(m)) << "65535 x 65535 from a few bytes";
}

/* ------------------------------------------------------- reading files */

namespace {

/* One layer record; `version` 1 omits the locked field. */
Bytes _record(int version, const std::string& name, uint32_t opacity, int32_t blend, uint32_t visible,
              uint32_t locked, const Bytes& data) {
    Bytes r;
    _put32(r, (uint32_t)name.size());
    _put(r, name);
    _put32(r, opacity);
    _put32(r, (uint32_t)blend);
    _put32(r, visible);
    if (version >= 2) _put32(r, locked);
    _put32(r, (uint32_t)data.size());
    _put(r, data);
    return r;
}

Bytes _header(int version, int32_t w, int32_t h, int32_t tmpl, uint32_t count) {
    Bytes b;
    _put(b, std::string("PLM") + (char)('0' + version));
    _put32(b, (uint32_t)w);
    _put32(b, (uint32_t)h);
    if (version == 3) _put32(b, (uint32_t)tmpl);
    _put32(b, count);
    return b;
}

Bytes _px2x2(uint8_t seed) {
    Bytes px(16);
    for (int i = 0; i < 16; i++) px[i] = (uint8_t)(seed + i * 7);
    return px;
}

struct Parsed {
    DOCUMENT_FILE* file;
    std::string log;
};

Parsed _parse(const Bytes& b) {
    test_log_capture_begin(LOG_DEBUG);
    DOCUMENT_FILE* f = document_file_parse(b.data(), b.size(), "doc.plm");
    return Parsed{f, test_log_capture_end()};
}

std::string _malformed(size_t at, size_t of) {
    return "malformed PLM document doc.plm (offset " + std::to_string(at) + " of " + std::to_string(of) + ")";
}

}  // namespace

TEST_F(DocIo, VersionOneAndTwoFilesBuiltByHand) {
    Bytes v1 = _header(1, 2, 2, 0, 2);
    _put(v1, _record(1, "Bottom", 250, 1, 1, 0, _plain_tga(2, 2, _px2x2(1))));
    _put(v1, _record(1, "Top", 1000, 3, 0, 0, _plain_tga(2, 2, _px2x2(2))));
    Parsed p = _parse(v1);
    ASSERT_NE(p.file, nullptr) << p.log;
    EXPECT_EQ(p.file->version, 1);
    EXPECT_EQ(p.file->template_index, 0);
    ASSERT_EQ(p.file->layer_count, 2u);
    EXPECT_STREQ(p.file->layers[0].name, "Bottom");
    EXPECT_FLOAT_EQ(p.file->layers[0].opacity, 0.25f);
    EXPECT_EQ(p.file->layers[0].blend, 1);
    EXPECT_EQ(p.file->layers[0].visible, 1);
    EXPECT_EQ(p.file->layers[0].locked, 0);
    EXPECT_EQ(test_bitmap_bytes(p.file->layers[0].pixels), _px2x2(1));
    EXPECT_STREQ(p.file->layers[1].name, "Top");
    EXPECT_EQ(p.file->layers[1].visible, 0);
    EXPECT_EQ(p.file->layers[1].blend, 3);
    EXPECT_STREQ(document_last_load_status()->unknown_blend, "");
    EXPECT_EQ(p.file->layers[1].locked, 0);
    EXPECT_EQ(test_bitmap_bytes(p.file->layers[1].pixels), _px2x2(2));
    document_file_free(&p.file);
    EXPECT_EQ(p.file, nullptr);

    /* Version 2: locked read; any non-zero byte sets a flag; trailing bytes ignored. */
    Bytes v2 = _header(2, 2, 2, 0, 1);
    _put(v2, _record(2, "Only", 1500, 7, 0x00000100, 0x01000000, _plain_tga(2, 2, _px2x2(3))));
    _put(v2, std::string("trailing junk"));
    p = _parse(v2);
    ASSERT_NE(p.file, nullptr) << p.log;
    EXPECT_EQ(p.file->version, 2);
    EXPECT_EQ(p.file->template_index, 0);
    EXPECT_FLOAT_EQ(p.file->layers[0].opacity, 1.0f) << "above 1000 reads as 1";
    EXPECT_EQ(p.file->layers[0].blend, LAYER_BLEND_NORMAL) << "a mode with no row opens as Normal";
    EXPECT_STREQ(document_last_load_status()->unknown_blend, "7") << "and the load says which";
    EXPECT_EQ(p.file->layers[0].visible, 1);
    EXPECT_EQ(p.file->layers[0].locked, 1);
    document_file_free(&p.file);
}

TEST_F(DocIo, TemplateIndexOutOfRangeAndEmptyDocument) {
    const int32_t tmpl[] = {24, 25, -1, 1000};
    const int32_t want[] = {24, 0, 0, 0};
    for (int i = 0; i < 4; i++) {
        Parsed p = _parse(_header(3, 5, 7, tmpl[i], 0));
        ASSERT_NE(p.file, nullptr);
        EXPECT_EQ(p.file->template_index, want[i]) << tmpl[i];
        EXPECT_EQ(p.file->layer_count, 0u);
        EXPECT_EQ(p.file->width, 5);
        EXPECT_EQ(p.file->height, 7);
        document_file_free(&p.file);
    }
}

TEST_F(DocIo, HeaderLimitsAreRejectedBeforeAnyLayer) {
    const Bytes h3 = _header(3, 4, 4, 0, 0);
    struct Case {
        Bytes b;
        std::string message;
    } cases[] = {
        {_header(3, 4, 4, 0, 1025), _malformed(20, 20)},
        {_header(3, 16385, 4, 0, 1), _malformed(20, 20)},
        {_header(3, 4, 16385, 0, 1), _malformed(20, 20)},
        {_header(3, 0, 4, 0, 1), _malformed(20, 20)},
        {_header(3, -3, 4, 0, 1), _malformed(20, 20)},
        {_header(2, 4, 4, 0, 1025), _malformed(16, 16)},
        {_header(1, 16385, 4, 0, 0), _malformed(16, 16)},
        {Bytes(h3.begin(), h3.begin() + 18), _malformed(16, 18)},
        {Bytes(h3.begin(), h3.begin() + 15), "doc.plm is not a PLM document"},
        {Bytes{'P', 'L', 'M', '4', 1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, "doc.plm is not a PLM document"},
        {Bytes(), "doc.plm is not a PLM document"},
    };
    for (const Case& c : cases) {
        Parsed p = _parse(c.b);
        EXPECT_EQ(p.file, nullptr) << c.message;
        EXPECT_NE(p.log.find(c.message), std::string::npos) << p.log;
        EXPECT_EQ(p.log.find("layer"), std::string::npos) << "no layer was read: " << p.log;
        if (p.file) document_file_free(&p.file);
    }
    /* A header announcing no layer is refused on its size alone. */
    for (const Bytes& b : {_header(3, 4, 16385, 0, 0), _header(3, 16385, 4, 0, 0), _header(3, 4, 0, 0, 0)}) {
        Parsed q = _parse(b);
        EXPECT_EQ(q.file, nullptr) << q.log;
        EXPECT_NE(q.log.find(_malformed(20, 20)), std::string::npos) << q.log;
        if (q.file) document_file_free(&q.file);
    }
    /* Exactly at the limits the header is fine (1024 layers announced, none present). */
    Parsed p = _parse(_header(3, 16384, 16384, 0, 1024));
    EXPECT_EQ(p.file, nullptr);
    EXPECT_NE(p.log.find(_malformed(20, 20)), std::string::npos) << "fails at the first record: " << p.log;
}

TEST_F(DocIo, LayerRecordLimits) {
    Bytes tga = _plain_tga(2, 2, _px2x2(4));
    /* A 4096-byte name is fine, 4097 is not. */
    Bytes ok = _header(3, 2, 2, 0, 1);
    _put(ok, _record(3, std::string(4096, 'n'), 500, 0, 1, 0, tga));
    Parsed p = _parse(ok);
    ASSERT_NE(p.file, nullptr) << p.log;
    EXPECT_EQ(strlen(p.file->layers[0].name), 4096u);
    document_file_free(&p.file);

    Bytes longname = _header(3, 2, 2, 0, 1);
    _put(longname, _record(3, std::string(4097, 'n'), 500, 0, 1, 0, tga));
    p = _parse(longname);
    EXPECT_EQ(p.file, nullptr);
    EXPECT_NE(p.log.find(_malformed(24, longname.size())), std::string::npos) << p.log;

    Bytes empty = _header(3, 2, 2, 0, 1);
    _put(empty, _record(3, "E", 500, 0, 1, 0, Bytes()));
    p = _parse(empty);
    EXPECT_EQ(p.file, nullptr);
    EXPECT_NE(p.log.find(_malformed(empty.size(), empty.size())), std::string::npos) << p.log;

    Bytes wrong = _header(3, 2, 2, 0, 2);
    _put(wrong, _record(3, "Fine", 500, 0, 1, 0, tga));
    size_t second = wrong.size();
    _put(wrong, _record(3, "Big", 500, 0, 1, 0, _plain_tga(3, 2, Bytes(24, 9))));
    p = _parse(wrong);
    EXPECT_EQ(p.file, nullptr);
    EXPECT_NE(p.log.find("layer Big has size 3x2, expected 2x2"), std::string::npos) << p.log;
    EXPECT_NE(p.log.find(_malformed(second + 4 + 3 + 20, wrong.size())), std::string::npos) << p.log;

    Bytes notga = _header(3, 2, 2, 0, 1);
    _put(notga, _record(3, "Junk", 500, 0, 1, 0, Bytes(40, 0x55)));
    p = _parse(notga);
    EXPECT_EQ(p.file, nullptr);
    EXPECT_NE(p.log.find(_malformed(notga.size() - 40, notga.size())), std::string::npos) << p.log;
}

TEST_F(DocIo, TruncationAtEveryFieldIsRejected) {
    for (int version = 1; version <= 3; version++) {
        Bytes full = _header(version, 2, 2, 3, 2);
        _put(full, _record(version, "First", 700, 2, 1, 1, _plain_tga(2, 2, _px2x2(5))));
        _put(full, _record(version, "Second", 300, 0, 1, 0, _plain_tga(2, 2, _px2x2(6))));
        Parsed whole = _parse(full);
        ASSERT_NE(whole.file, nullptr) << whole.log;
        document_file_free(&whole.file);
        size_t header = version == 3 ? 20 : 16;
        for (size_t cut = 0; cut < full.size(); cut++) {
            Bytes part(full.begin(), full.begin() + cut);
            Parsed p = _parse(part);
            EXPECT_EQ(p.file, nullptr) << "version " << version << " cut at " << cut;
            if (p.file) document_file_free(&p.file);
            if (cut < 16) {
                EXPECT_NE(p.log.find("is not a PLM document"), std::string::npos) << cut;
            } else if (cut < header) {
                EXPECT_NE(p.log.find(_malformed(16, cut)), std::string::npos) << cut;
            } else {
                /* The offset reached is a field start at or before the cut. */
                size_t at = p.log.find("(offset ");
                ASSERT_NE(at, std::string::npos) << p.log;
                size_t offset = strtoul(p.log.c_str() + at + 8, NULL, 10);
                EXPECT_LE(offset, cut);
                EXPECT_GE(offset, header);
                EXPECT_NE(p.log.find(" of " + std::to_string(cut) + ")"), std::string::npos) << p.log;
            }
        }
        /* Cut inside the last layer's pixel data: stopped where that data starts. */
        size_t data_start = full.size() - 18 - 16;
        Parsed p = _parse(Bytes(full.begin(), full.end() - 5));
        EXPECT_NE(p.log.find(_malformed(data_start, full.size() - 5)), std::string::npos) << p.log;
    }
}

namespace {

/* A run-length image of one colour: 5 bytes for every 128 pixels. */
Bytes _uniform_rle_tga(int w, int h) {
    Bytes t(18, 0);
    t[2] = 10;
    t[12] = (uint8_t)w;
    t[13] = (uint8_t)(w >> 8);
    t[14] = (uint8_t)h;
    t[15] = (uint8_t)(h >> 8);
    t[16] = 32;
    t[17] = 0x28;
    for (size_t n = ((size_t)w * h + 127) / 128; n > 0; n--) _put(t, Bytes{0xFF, 10, 20, 30, 255});
    return t;
}

struct MaxDocMb {
    explicit MaxDocMb(const char* value) {
        if (value) setenv("PLUMARO_MAX_DOC_MB", value, 1);
        else unsetenv("PLUMARO_MAX_DOC_MB");
    }
    ~MaxDocMb() { unsetenv("PLUMARO_MAX_DOC_MB"); }
};

}  // namespace

TEST_F(DocIo, PixelsAskedForAreWeighedBeforeAnyLayerIsDecoded) {
    /* Two 2048 x 2048 layers: 32 MiB decoded from a file of 320 KiB. */
    const Bytes image = _uniform_rle_tga(2048, 2048);
    Bytes whole = _header(3, 2048, 2048, 0, 2);
    _put(whole, _record(3, "One", 1000, 0, 1, 0, image));
    _put(whole, _record(3, "Two", 1000, 0, 1, 0, image));
    const Bytes cut(whole.begin(), whole.end() - 100);
    {
        MaxDocMb cap(nullptr);
        Parsed p = _parse(whole);
        ASSERT_NE(p.file, nullptr) << p.log;
        EXPECT_EQ(p.file->layer_count, 2u);
        document_file_free(&p.file);
        p = _parse(cut);
        EXPECT_EQ(p.file, nullptr);
        EXPECT_NE(p.log.find("malformed"), std::string::npos) << "no limit: the records are read";
    }
    for (const char* refused : {"31", "1"}) {
        MaxDocMb cap(refused);
        Parsed p = _parse(whole);
        EXPECT_EQ(p.file, nullptr) << refused;
        if (p.file) document_file_free(&p.file);
        p = _parse(cut);
        EXPECT_EQ(p.file, nullptr);
        EXPECT_EQ(p.log.find("malformed"), std::string::npos) << "refused before the records: " << p.log;
    }
    for (const char* ignored : {"100000", "lots", ""}) {
        MaxDocMb cap(ignored);
        Parsed p = _parse(whole);
        EXPECT_NE(p.file, nullptr) << ignored << ": " << p.log;
        if (p.file) document_file_free(&p.file);
    }
}

/* ------------------------------------------------------- writing files */

namespace {

/* A layer with only a memory backup, as savers and the scan see it. */
LAYER* _mem_layer(DOCUMENT* doc, const char* name, const Bytes& px) {
    LAYER* layer = (LAYER*)calloc(1, sizeof(LAYER));
    if (!layer) return NULL;
    layer->name = name ? t_str_from(name) : NULL;
    layer->opacity = 1.0f;
    layer->visible = 1;
    layer->backup = _bitmap_from(doc->width, doc->height, px);
    list_push(doc->layers, layer, layer_destroy);
    doc->active_layer = layer;
    return layer;
}

Bytes _file(const std::string& path) {
    std::string s = test_read_file(path);
    return Bytes(s.begin(), s.end());
}

}  // namespace

TEST_F(DocIo, SavedFileHoldsEveryLayerField) {
    DOCUMENT* doc = document_new(37, 11);
    ASSERT_NE(doc, nullptr);
    doc->template_index = 12;
    Bytes a = _test_pattern(37, 11, 1), b(37 * 11 * 4, 0), c = _test_pattern(37, 11, 3);
    LAYER* l0 = _mem_layer(doc, "Ink", a);
    l0->opacity = 0.4996f;
    l0->blend = 1;
    l0->locked = 1;
    LAYER* l1 = _mem_layer(doc, NULL, b); /* written as "layer" */
    l1->visible = 0;
    l1->opacity = 0.0f;
    LAYER* l2 = _mem_layer(doc, "Ünïcode ✓", c);
    l2->blend = 3;
    l2->opacity = 1.0f;
    std::string path = dir + "/doc.plm";
    ASSERT_EQ(document_save(doc, path.c_str()), 1);
    Bytes f = _file(path);
    ASSERT_GE(f.size(), 20u);
    EXPECT_EQ(std::string(f.begin(), f.begin() + 4), "PLM3");
    EXPECT_EQ(_get32(&f[4]), 37u);
    EXPECT_EQ(_get32(&f[8]), 11u);
    EXPECT_EQ(_get32(&f[12]), 12u);
    EXPECT_EQ(_get32(&f[16]), 3u);
    EXPECT_EQ(_get32(&f[20]), 3u);
    EXPECT_EQ(std::string(f.begin() + 24, f.begin() + 27), "Ink");
    EXPECT_EQ(_get32(&f[27]), 500u) << "0.4996 is stored as 500";
    EXPECT_EQ(_get32(&f[31]), 1u);
    EXPECT_EQ(_get32(&f[35]), 1u);
    EXPECT_EQ(_get32(&f[39]), 1u);

    DOCUMENT_FILE* back = document_file_parse(f.data(), f.size(), path.c_str());
    ASSERT_NE(back, nullptr);
    ASSERT_EQ(back->layer_count, 3u);
    EXPECT_EQ(back->template_index, 12);
    const char* names[] = {"Ink", "layer", "Ünïcode ✓"};
    LAYER* layers[] = {l0, l1, l2};
    const Bytes* px[] = {&a, &b, &c};
    for (int i = 0; i < 3; i++) {
        EXPECT_STREQ(back->layers[i].name, names[i]);
        EXPECT_NEAR(back->layers[i].opacity, layers[i]->opacity, 0.0005);
        EXPECT_EQ(back->layers[i].blend, layers[i]->blend);
        EXPECT_EQ(back->layers[i].visible, layers[i]->visible);
        EXPECT_EQ(back->layers[i].locked, layers[i]->locked);
        EXPECT_EQ(test_bitmap_bytes(back->layers[i].pixels), *px[i]) << i;
    }
    document_file_free(&back);
    document_free(&doc);
}

TEST_F(DocIo, LongNamesAreCutAtACharacterBoundary) {
    /* 4095 ASCII bytes then a 3-byte character: the character must go whole. */
    std::string name = std::string(4095, 'a') + "\xE2\x9C\x93" + "tail";
    EXPECT_EQ(document_name_cut(name.data(), name.size(), 4096), 4095u);
    EXPECT_EQ(document_name_cut(name.data(), 4098, 4098), 4098u);
    std::string two = std::string(4094, 'b') + "\xC3\xA9" + "\xC3\xA9";
    EXPECT_EQ(document_name_cut(two.data(), two.size(), 4096), 4096u) << "ends exactly after a character";
    EXPECT_EQ(document_name_cut("abc", 3, 4096), 3u);

    DOCUMENT* doc = document_new(2, 2);
    _mem_layer(doc, name.c_str(), _px2x2(1));
    std::string path = dir + "/long.plm";
    test_log_capture_begin(LOG_INFO);
    ASSERT_EQ(document_save(doc, path.c_str()), 1);
    std::string log = test_log_capture_end();
    EXPECT_NE(log.find("layer name of 4102 bytes stored as its first 4095 bytes"), std::string::npos) << log;
    Bytes f = _file(path);
    DOCUMENT_FILE* back = document_file_parse(f.data(), f.size(), path.c_str());
    ASSERT_NE(back, nullptr) << "the file stays readable";
    EXPECT_EQ(std::string(back->layers[0].name), std::string(4095, 'a'));
    document_file_free(&back);
    document_free(&doc);
}

TEST_F(DocIo, FailedSaveKeepsTheOldFile) {
    std::string path = dir + "/keep.plm";
    test_write_file(path, "previous contents");
    DOCUMENT* doc = document_new(4, 4);
    LAYER* layer = _mem_layer(doc, "L", Bytes(64, 7));

    /* Stopped between writing the temporary file and the rename. */
    static int calls;
    static long tmp_size;
    calls = 0;
    tmp_size = -1;
    t_file_set_commit_hook([](const char* tmp, const char*, void*) {
        calls++;
        FILE* f = fopen(tmp, "rb");
        if (f) {
            fseek(f, 0, SEEK_END);
            tmp_size = ftell(f);
            fclose(f);
        }
        return 0;
    }, NULL);
    test_log_capture_begin(LOG_INFO);
    EXPECT_EQ(document_save(doc, path.c_str()), 0);
    std::string log = test_log_capture_end();
    t_file_set_commit_hook(NULL, NULL);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(tmp_size, 20 + 4 + 1 + 20 + 18 + 4 * 5 + 26) << "the whole new file was on disk";
    EXPECT_NE(log.find("could not save document to " + path), std::string::npos) << log;
    EXPECT_EQ(test_read_file(path), "previous contents");
    EXPECT_EQ(listing(), std::vector<std::string>{"keep.plm"}) << "temporary file removed";

    /* A layer without pixels fails before anything is written. */
    al_destroy_bitmap(layer->backup);
    layer->backup = NULL;
    EXPECT_EQ(document_save(doc, path.c_str()), 0);
    EXPECT_EQ(test_read_file(path), "previous contents");
    EXPECT_EQ(listing().size(), 1u);

    /* A folder that does not exist. */
    EXPECT_EQ(document_save(doc, (dir + "/missing/x.plm").c_str()), 0);
    document_free(&doc);
}

TEST_F(DocIo, ProcessDyingBeforeTheRenameLeavesTheOldFile) {
    std::string path = dir + "/crash.plm";
    DOCUMENT* doc = document_new(64, 64);
    _mem_layer(doc, "L", _test_pattern(64, 64, 8));
    ASSERT_EQ(document_save(doc, path.c_str()), 1);
    std::string before = test_read_file(path);
    _mem_layer(doc, "More", _test_pattern(64, 64, 9));
    fflush(NULL);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        /* The temporary file is complete and synced; the process ends here. */
        t_file_set_commit_hook([](const char*, const char*, void*) -> int { _exit(42); }, NULL);
        document_save(doc, path.c_str());
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 42) << "the hook ran before the rename";
    EXPECT_EQ(test_read_file(path), before);
    Bytes f = _file(path);
    DOCUMENT_FILE* back = document_file_parse(f.data(), f.size(), path.c_str());
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->layer_count, 1u);
    document_file_free(&back);
    document_free(&doc);
}

/* ----------------------------------------------------------------- PNG */

namespace {

Bytes _inflate(const uint8_t* z, size_t len, size_t expect) {
    Bytes out(expect + 16);
    uLongf got = (uLongf)out.size();
    if (uncompress(out.data(), &got, z, (uLong)len) != Z_OK) return Bytes();
    out.resize(got);
    return out;
}

}  // namespace

TEST_F(DocIo, PngWriterBytes) {
    ALLEGRO_BITMAP* one = _bitmap_from(1, 1, Bytes{64, 0, 0, 128});
    size_t size = 0;
    uint8_t* png = document_png_encode(one, &size);
    ASSERT_NE(png, nullptr);
    uint32_t L = _get32be(png + 33);
    EXPECT_EQ(size, 57u + L);
    const uint8_t head[] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 13, 'I', 'H', 'D', 'R',
                            0, 0, 0, 1, 0, 0, 0, 1, 8, 6, 0, 0, 0};
    EXPECT_EQ(memcmp(png, head, sizeof(head)), 0);
    EXPECT_EQ(_get32be(png + 29), (uint32_t)crc32(0, png + 12, 17));
    EXPECT_EQ(memcmp(png + 37, "IDAT", 4), 0);
    EXPECT_EQ(_get32be(png + 41 + L), (uint32_t)crc32(0, png + 37, L + 4));
    EXPECT_EQ(_get32be(png + 45 + L), 0u);
    EXPECT_EQ(memcmp(png + 49 + L, "IEND", 4), 0);
    EXPECT_EQ(_get32be(png + 53 + L), 0xAE426082u);
    EXPECT_EQ(_inflate(png + 41, L, 5), (Bytes{0, 128, 0, 0, 128})) << "un-premultiplied";
    free(png);
    al_destroy_bitmap(one);

    /* Rounding, the untouched ends of alpha, and the filter byte per row. */
    ALLEGRO_BITMAP* b = _bitmap_from(3, 2, Bytes{3, 2, 1, 200,   0, 0, 0, 0,   9, 8, 7, 255,
                                                 1, 1, 1, 3,     5, 6, 7, 0,   100, 50, 0, 100});
    png = document_png_encode(b, &size);
    ASSERT_NE(png, nullptr);
    L = _get32be(png + 33);
    EXPECT_EQ(_inflate(png + 41, L, 26), (Bytes{0, 4, 3, 1, 200, 0, 0, 0, 0, 9, 8, 7, 255,
                                                0, 85, 85, 85, 3, 5, 6, 7, 0, 255, 128, 0, 100}));
    free(png);
    al_destroy_bitmap(b);
}

TEST_F(DocIo, PngWriterOutputReadByIndependentDecoders) {
    const int w = 61, h = 23;
    Bytes px = _test_pattern(w, h, 33);
    for (size_t i = 0; i < px.size(); i += 4) { /* keep it premultiplied */
        for (int c = 0; c < 3; c++)
            if (px[i + c] > px[i + 3]) px[i + c] = px[i + 3];
    }
    ALLEGRO_BITMAP* b = _bitmap_from(w, h, px);
    size_t size = 0;
    uint8_t* png = document_png_encode(b, &size);
    ASSERT_NE(png, nullptr);
    std::string path = dir + "/own.png";
    test_write_file(path, std::string((const char*)png, size));
    free(png);
    al_destroy_bitmap(b);
    EXPECT_NE(_run("/usr/bin/pngcheck " + path + " 2>&1").find("OK:"), std::string::npos);

    /* PIL decodes it; compare with our own un-premultiplication. */
    std::string dump = dir + "/dump.rgba";
    ASSERT_EQ(_run("/usr/bin/python3 -c \"from PIL import Image; im=Image.open('" + path +
                   "'); assert im.mode=='RGBA' and im.size==(" + std::to_string(w) + "," + std::to_string(h) +
                   "); open('" + dump + "','wb').write(im.tobytes())\" 2>&1"),
              "");
    std::string got = test_read_file(dump);
    ASSERT_EQ(got.size(), px.size());
    for (size_t i = 0; i < px.size(); i += 4) {
        unsigned a = px[i + 3];
        for (int c = 0; c < 4; c++) {
            unsigned want = (c < 3 && a > 0 && a < 255) ? (a / 2 + px[i + c] * 255u) / a : px[i + c];
            ASSERT_EQ((uint8_t)got[i + c], want) << "pixel " << i / 4 << " channel " << c;
        }
    }
}

/* A canvas of flat paper, then noise, then paper again spans several pieces
 * of the compressor, so the stream changes its way of compressing twice:
 * still one valid stream that gives back every byte, smaller than the raw
 * image, and read by pngcheck. */
TEST_F(DocIo, PngWriterMixesPaperAndNoiseInOneStream) {
    const int w = 512, h = 384;
    Bytes px((size_t)w * h * 4, 255);
    std::mt19937 rng(5);
    for (size_t i = (size_t)w * 128 * 4; i < (size_t)w * 256 * 4; i++) px[i] = (i % 4 == 3) ? 255 : (uint8_t)rng();
    ALLEGRO_BITMAP* b = _bitmap_from(w, h, px);
    size_t size = 0;
    uint8_t* png = document_png_encode(b, &size);
    al_destroy_bitmap(b);
    ASSERT_NE(png, nullptr);
    uint32_t L = _get32be(png + 33);
    EXPECT_LT(size, (size_t)w * h * 4 * 2 / 5) << "paper compresses";
    Bytes raw = _inflate(png + 41, L, (size_t)(1 + w * 4) * h);
    ASSERT_EQ(raw.size(), (size_t)(1 + w * 4) * h);
    for (int y = 0; y < h; y++) {
        ASSERT_EQ(raw[(size_t)y * (1 + w * 4)], 0) << "row " << y;
        ASSERT_EQ(memcmp(&raw[(size_t)y * (1 + w * 4) + 1], &px[(size_t)y * w * 4], (size_t)w * 4), 0) << "row " << y;
    }
    std::string path = dir + "/mixed.png";
    test_write_file(path, std::string((const char*)png, size));
    free(png);
    EXPECT_NE(_run("/usr/bin/pngcheck " + path + " 2>&1").find("OK:"), std::string::npos);
}

TEST_F(DocIo, PngWriterFailures) {
    document_set_deflate([](uint8_t*, unsigned long*, const uint8_t*, unsigned long, int) { return Z_MEM_ERROR; });
    ALLEGRO_BITMAP* b = _bitmap_from(2, 2, Bytes(16, 1));
    size_t size = 77;
    test_log_capture_begin(LOG_INFO);
    EXPECT_EQ(document_png_encode(b, &size), nullptr);
    std::string log = test_log_capture_end();
    EXPECT_EQ(size, 0u);
    EXPECT_NE(log.find("png deflate failed (-4)"), std::string::npos) << log;
    document_set_deflate(NULL);
    al_destroy_bitmap(b);
    test_log_capture_begin(LOG_DEBUG);
    EXPECT_EQ(document_png_encode(NULL, &size), nullptr);
    EXPECT_NE(test_log_capture_end().find("if( !(bitmap) ) assert"), std::string::npos);
}

/* -------------------------------------------------------- content scan */

TEST_F(DocIo, ContentScanReadsVisibleBackups) {
    DOCUMENT* doc = document_new(20, 10);
    int x0 = -1, y0 = -1, x1 = -1, y1 = -1;
    EXPECT_EQ(document_content_bbox(doc, &x0, &y0, &x1, &y1), 0) << "no layers";
    Bytes blank(20 * 10 * 4, 0);
    _mem_layer(doc, "Blank", blank);
    EXPECT_EQ(document_content_bbox(doc, &x0, &y0, &x1, &y1), 0);

    Bytes a = blank;
    a[(3 * 20 + 5) * 4 + 3] = 1; /* alpha only */
    a[(4 * 20 + 7) * 4 + 3] = 255;
    _mem_layer(doc, "A", a);
    Bytes hidden = blank;
    hidden[(0 * 20 + 0) * 4 + 3] = 255;
    _mem_layer(doc, "Hidden", hidden)->visible = 0;
    _mem_layer(doc, "Clear", hidden)->opacity = 0.0f;
    Bytes colour_only = blank;
    colour_only[(9 * 20 + 19) * 4 + 0] = 255; /* colour without alpha does not count */
    _mem_layer(doc, "Colour", colour_only);
    Bytes b = blank;
    b[(8 * 20 + 2) * 4 + 3] = 10;
    _mem_layer(doc, "B", b);
    ASSERT_EQ(document_content_bbox(doc, &x0, &y0, &x1, &y1), 1);
    EXPECT_EQ(x0, 2);
    EXPECT_EQ(y0, 3);
    EXPECT_EQ(x1, 7);
    EXPECT_EQ(y1, 8);
    EXPECT_EQ(document_content_bbox(doc, &x0, &y0, NULL, &y1), 0);
    document_free(&doc);
}
