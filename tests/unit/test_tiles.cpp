/* The sparse tile store: which tiles exist after writes, clears and imports,
 * what reads give back across seams and canvas edges, the changed-slot
 * report, snapshots, shared tiles and bounds. */
#include <gtest/gtest.h>
#include <string.h>

#include <set>
#include <thread>
#include <utility>
#include <vector>

#include "canvas/tiles.h"
#include "t_log.h"
#include "test_support.h"

namespace {

typedef std::set<std::pair<int, int>> Slots;

// A varied premultiplied pixel: several hues, alpha from transparent to opaque.
void paint_pixel(uint8_t* p, int x, int y, unsigned seed) {
    unsigned h = (unsigned)x * 73856093u ^ (unsigned)y * 19349663u ^ seed * 83492791u;
    h ^= h >> 13;
    h *= 0x5bd1e995u;
    h ^= h >> 15;
    static const uint8_t alphas[] = {255, 255, 128, 37, 1, 200};
    unsigned a = alphas[h % 6];
    for (int c = 0; c < 3; c++) p[c] = (uint8_t)(((h >> (8 * c + 3)) & 0xFF) * a / 255);
    p[3] = (uint8_t)a;
}

// A w x h picture, transparent except the rectangle (rx, ry, rw, rh) of varied paint.
std::vector<uint8_t> picture(int w, int h, int rx, int ry, int rw, int rh, unsigned seed) {
    std::vector<uint8_t> px((size_t)w * h * 4, 0);
    for (int y = ry; y < ry + rh; y++)
        for (int x = rx; x < rx + rw; x++)
            if (x >= 0 && y >= 0 && x < w && y < h) paint_pixel(&px[((size_t)y * w + x) * 4], x, y, seed);
    return px;
}

// Visit that collects slots.
int collect(void* user, int tx, int ty, const uint8_t*) {
    ((Slots*)user)->insert({tx, ty});
    return 1;
}

Slots present(const TILES* store) {
    Slots s;
    tiles_each(store, 0, 0, store->width, store->height, collect, &s);
    return s;
}

Slots changed_since(const TILES* store, uint64_t revision) {
    Slots s;
    tiles_changed_since(store, revision, collect, &s);
    return s;
}

std::vector<uint8_t> whole(const TILES* store) {
    std::vector<uint8_t> px((size_t)store->width * store->height * store->channels);
    tiles_export(store, px.data(), (ptrdiff_t)store->width * store->channels);
    return px;
}

// Diff visit that keeps a hold on each differing slot's old tile.
struct Kept {
    std::vector<std::pair<std::pair<int, int>, TILES_TILE*>> before;
};
int keep_before(void* user, int tx, int ty, TILES_TILE* before, TILES_TILE*) {
    ((Kept*)user)->before.push_back({{tx, ty}, tiles_tile_ref(before)});
    return 1;
}

}  // namespace

// Rectangles on a canvas that is no multiple of the tile side: the tiles made
// are those the clipped rectangle touches, edge tiles keep zeros past the
// canvas, reads off the canvas give zeros, clears drop what they cover whole.
TEST(Tiles, RectanglesMakeOnlyTheTilesTheyTouch) {
    const int W = 150, H = 100; /* 3 x 2 slots; the last column 22 wide, the last row 36 high */
    TILES* store = tiles_new(W, H);
    ASSERT_NE(store, nullptr);
    EXPECT_EQ(store->tiles_x, 3);
    EXPECT_EQ(store->tiles_y, 2);
    int x, y, w, h;
    ASSERT_TRUE(tiles_tile_rect(store, 2, 1, &x, &y, &w, &h));
    EXPECT_EQ((std::vector<int>{x, y, w, h}), (std::vector<int>{128, 64, 22, 36}));
    std::vector<uint8_t> ref((size_t)W * H * 4, 0);

    /* Off the canvas, and zeros where nothing is: no tile, no revision. */
    std::vector<uint8_t> src = picture(90, 80, 0, 0, 90, 80, 1);
    EXPECT_TRUE(tiles_write_rect(store, -200, 10, 90, 80, src.data(), 90 * 4));
    EXPECT_TRUE(tiles_write_rect(store, 10, 150, 90, 80, src.data(), 90 * 4));
    std::vector<uint8_t> zeros((size_t)90 * 80 * 4, 0);
    EXPECT_TRUE(tiles_write_rect(store, 0, 0, 90, 80, zeros.data(), 90 * 4));
    EXPECT_EQ(store->present, 0u);
    EXPECT_EQ(tiles_revision(store), 0u);

    /* (-10, 30) 90 x 80 clips to x 0..79, y 30..99: slots (0..1, 0..1). */
    ASSERT_TRUE(tiles_write_rect(store, -10, 30, 90, 80, src.data(), 90 * 4));
    for (int j = 0; j < 80; j++)
        for (int i = 0; i < 90; i++)
            if (i - 10 >= 0 && j + 30 < H) memcpy(&ref[((size_t)(j + 30) * W + i - 10) * 4], &src[((size_t)j * 90 + i) * 4], 4);
    EXPECT_EQ(present(store), (Slots{{0, 0}, {1, 0}, {0, 1}, {1, 1}}));
    /* A rectangle at the bottom-right corner, past both edges. */
    std::vector<uint8_t> corner = picture(40, 40, 0, 0, 40, 40, 2);
    ASSERT_TRUE(tiles_write_rect(store, 130, 80, 40, 40, corner.data(), 40 * 4));
    for (int j = 0; j < 20; j++)
        for (int i = 0; i < 20; i++) memcpy(&ref[((size_t)(80 + j) * W + 130 + i) * 4], &corner[((size_t)j * 40 + i) * 4], 4);
    EXPECT_EQ(present(store), (Slots{{0, 0}, {1, 0}, {0, 1}, {1, 1}, {2, 1}}));
    const uint8_t* edge = tiles_read_tile(store, 2, 1);
    ASSERT_NE(edge, nullptr);
    for (int j = 0; j < TILES_SIZE; j++)
        for (int i = 0; i < TILES_SIZE; i++)
            if (i >= 22 || j >= 36) {
                ASSERT_EQ(memcmp(edge + ((size_t)j * TILES_SIZE + i) * 4, "\0\0\0\0", 4), 0) << i << "," << j;
            }
    EXPECT_EQ(whole(store), ref);

    /* A read across seams and off every edge. */
    std::vector<uint8_t> got((size_t)170 * 120 * 4, 0xEE), want((size_t)170 * 120 * 4, 0);
    ASSERT_TRUE(tiles_read_rect(store, -10, -10, 170, 120, got.data(), 170 * 4));
    for (int j = 0; j < H; j++) memcpy(&want[((size_t)(j + 10) * 170 + 10) * 4], &ref[(size_t)j * W * 4], (size_t)W * 4);
    EXPECT_EQ(got, want);
    /* Bottom-up rows, as a locked video bitmap gives them. */
    std::vector<uint8_t> flipped((size_t)W * H * 4);
    ASSERT_TRUE(tiles_read_rect(store, 0, 0, W, H, &flipped[(size_t)(H - 1) * W * 4], -(ptrdiff_t)W * 4));
    for (int j = 0; j < H; j++) ASSERT_EQ(memcmp(&flipped[(size_t)(H - 1 - j) * W * 4], &ref[(size_t)j * W * 4], (size_t)W * 4), 0);

    int x0, y0, x1, y1;
    ASSERT_TRUE(tiles_content_box(store, &x0, &y0, &x1, &y1));
    EXPECT_EQ((std::vector<int>{x0, y0, x1, y1}), (std::vector<int>{0, 30, 149, 99}));

    /* Clearing (0, 0)-(64, 100) covers slots (0, 0) and (0, 1) whole and
     * (1, 0), (1, 1) in part. */
    uint64_t before = tiles_revision(store);
    ASSERT_TRUE(tiles_clear_rect(store, -5, -5, 69 + 10, 120));
    for (int j = 0; j < H; j++) memset(&ref[(size_t)j * W * 4], 0, 74 * 4);
    EXPECT_EQ(present(store), (Slots{{1, 0}, {1, 1}, {2, 1}}));
    EXPECT_EQ(changed_since(store, before), (Slots{{0, 0}, {1, 0}, {0, 1}, {1, 1}}));
    EXPECT_EQ(whole(store), ref);

    /* Zeros written over a whole tile leave it until it is compacted. */
    ASSERT_TRUE(tiles_write_rect(store, 128, 64, 22, 36, zeros.data(), 90 * 4));
    for (int j = 64; j < H; j++) memset(&ref[((size_t)j * W + 128) * 4], 0, 22 * 4);
    EXPECT_TRUE(present(store).count({2, 1}));
    uint64_t compacted = tiles_revision(store);
    EXPECT_EQ(tiles_compact(store), 1);
    EXPECT_EQ(present(store), (Slots{{1, 0}, {1, 1}}));
    EXPECT_EQ(tiles_revision(store), compacted);
    EXPECT_EQ(whole(store), ref);
    ASSERT_TRUE(tiles_content_box(store, &x0, &y0, &x1, &y1));
    EXPECT_EQ((std::vector<int>{x0, y0, x1, y1}), (std::vector<int>{74, 30, 79, 99}));
    EXPECT_EQ(store->present, 2u);
    TILES* empty = tiles_new(W, H);
    EXPECT_EQ(tiles_bytes(empty) + 2 * (tiles_tile_bytes(store) + 64), tiles_bytes(store));
    tiles_free(&empty);

    /* Bounds from a wide strip on top and one pixel in a tile under it. */
    ASSERT_TRUE(tiles_clear_rect(store, 0, 0, W, H));
    EXPECT_EQ(store->present, 0u);
    EXPECT_FALSE(tiles_content_box(store, &x0, &y0, &x1, &y1));
    ASSERT_TRUE(tiles_write_rect(store, 5, 2, 136, 1, src.data(), 0));
    ASSERT_TRUE(tiles_write_rect(store, 100, 90, 1, 1, src.data(), 0));
    ASSERT_TRUE(tiles_content_box(store, &x0, &y0, &x1, &y1));
    EXPECT_EQ((std::vector<int>{x0, y0, x1, y1}), (std::vector<int>{5, 2, 140, 90}));
    tiles_free(&store);
    EXPECT_EQ(store, nullptr);
}

// Whole pictures in and out: a large empty region makes no tile, from a
// packed buffer or from a memory bitmap, and an import over a painted store
// drops the tiles that became empty.
TEST(Tiles, ImportMakesNoTileForAnEmptyRegion) {
    test_allegro_init();
    const int W = 1000, H = 700; /* 16 x 11 slots */
    /* One patch across the seam at x = 128 and y = 192, one in the corner. */
    std::vector<uint8_t> pic = picture(W, H, 120, 190, 20, 5, 3);
    std::vector<uint8_t> patch = picture(W, H, 990, 690, 10, 10, 4);
    for (size_t i = 0; i < pic.size(); i++) pic[i] |= patch[i];
    TILES* store = tiles_new(W, H);
    ASSERT_TRUE(tiles_import(store, pic.data(), W * 4));
    Slots painted{{1, 2}, {2, 2}, {1, 3}, {2, 3}, {15, 10}};
    EXPECT_EQ(present(store), painted);
    EXPECT_EQ(whole(store), pic);
    EXPECT_LT(tiles_bytes(store), 5 * (tiles_tile_bytes(store) + 64) + 64 * 1024);

    /* The same picture through a memory bitmap, and back into another. */
    int flags = al_get_new_bitmap_flags(), format = al_get_new_bitmap_format();
    al_set_new_bitmap_flags(ALLEGRO_MEMORY_BITMAP);
    al_set_new_bitmap_format(ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE);
    ALLEGRO_BITMAP* in = al_create_bitmap(W, H);
    ALLEGRO_BITMAP* out = al_create_bitmap(W, H);
    al_set_new_bitmap_flags(flags);
    al_set_new_bitmap_format(format);
    ASSERT_TRUE(in && out);
    ALLEGRO_LOCKED_REGION* lock = al_lock_bitmap(in, ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE, ALLEGRO_LOCK_WRITEONLY);
    for (int j = 0; j < H; j++) memcpy((uint8_t*)lock->data + (intptr_t)j * lock->pitch, &pic[(size_t)j * W * 4], (size_t)W * 4);
    al_unlock_bitmap(in);
    TILES* from_bitmap = tiles_new(W, H);
    ASSERT_TRUE(tiles_from_bitmap(from_bitmap, in));
    EXPECT_EQ(present(from_bitmap), painted);
    ALLEGRO_LOCKED_REGION* dirty = al_lock_bitmap(out, ALLEGRO_PIXEL_FORMAT_ABGR_8888_LE, ALLEGRO_LOCK_WRITEONLY);
    for (int j = 0; j < H; j++) memset((uint8_t*)dirty->data + (intptr_t)j * dirty->pitch, 0x55, (size_t)W * 4);
    al_unlock_bitmap(out);
    ASSERT_TRUE(tiles_to_bitmap(from_bitmap, out, 0, 0, W, H));
    EXPECT_EQ(test_bitmap_bytes(out), pic);
    TILES* wrong = tiles_new(W, H - 1);
    EXPECT_FALSE(tiles_from_bitmap(wrong, in));
    tiles_free(&wrong);
    al_destroy_bitmap(in);
    al_destroy_bitmap(out);
    tiles_free(&from_bitmap);

    /* A new picture where only the corner patch is left. */
    uint64_t before = tiles_revision(store);
    ASSERT_TRUE(tiles_import(store, patch.data(), W * 4));
    EXPECT_EQ(present(store), (Slots{{15, 10}}));
    EXPECT_EQ(changed_since(store, before), (Slots{{1, 2}, {2, 2}, {1, 3}, {2, 3}, {15, 10}}));
    EXPECT_EQ(whole(store), patch);
    tiles_free(&store);

    /* Sizes: not above 0 or past the largest side are refused; an empty
     * 4096 x 4096 store is a few slot tables. */
    test_log_capture_begin(LOG_ERR);
    EXPECT_EQ(tiles_new(0, 10), nullptr);
    EXPECT_EQ(tiles_new(16385, 10), nullptr);
    EXPECT_EQ(tiles_new_with(10, 10, 3, TILES_SHIFT), nullptr);
    EXPECT_NE(test_log_capture_end().find("bad tile store size 0x10"), std::string::npos);
    TILES* big = tiles_new(4096, 4096);
    ASSERT_NE(big, nullptr);
    EXPECT_LT(tiles_bytes(big), (size_t)1 << 20);
    tiles_free(&big);
}

// Snapshots as undo will use them: a write after a snapshot leaves the
// snapshot's pixels, the diff names exactly the slots whose pixels changed,
// restoring reports exactly those slots again, and held tiles put back
// bring the old pixels.
TEST(Tiles, SnapshotsDiffsAndRestoresReportTheChangedSlots) {
    const int W = 300, H = 200; /* 5 x 4 slots */
    TILES* store = tiles_new(W, H);
    std::vector<uint8_t> a = picture(100, 100, 0, 0, 100, 100, 5);
    ASSERT_TRUE(tiles_write_rect(store, 20, 20, 100, 100, a.data(), 100 * 4));
    uint64_t r1 = tiles_revision(store);
    EXPECT_EQ(changed_since(store, 0), (Slots{{0, 0}, {1, 0}, {0, 1}, {1, 1}}));
    EXPECT_TRUE(changed_since(store, r1).empty());
    std::vector<uint8_t> first = whole(store);

    TILES* snap = tiles_snapshot(store);
    ASSERT_NE(snap, nullptr);
    EXPECT_EQ(tiles_tile_at(snap, 1, 1), tiles_tile_at(store, 1, 1));
    /* Into slot (1, 1), across (2, 1) and (2, 2); and the same bytes again
     * over slot (0, 0), which changes no pixel. */
    std::vector<uint8_t> b = picture(80, 80, 0, 0, 80, 80, 6);
    ASSERT_TRUE(tiles_write_rect(store, 100, 100, 80, 80, b.data(), 80 * 4));
    ASSERT_TRUE(tiles_write_rect(store, 20, 20, 10, 10, a.data(), 100 * 4));
    uint64_t r2 = tiles_revision(store);
    EXPECT_EQ(changed_since(store, r1), (Slots{{0, 0}, {1, 1}, {2, 1}, {1, 2}, {2, 2}}));
    EXPECT_NE(tiles_tile_at(snap, 1, 1), tiles_tile_at(store, 1, 1));
    EXPECT_EQ(whole(snap), first);

    Kept kept;
    ASSERT_TRUE(tiles_diff(snap, store, keep_before, &kept));
    Slots differ;
    for (auto& k : kept.before) differ.insert(k.first);
    EXPECT_EQ(differ, (Slots{{1, 1}, {2, 1}, {1, 2}, {2, 2}}));
    std::vector<uint8_t> second = whole(store);

    ASSERT_TRUE(tiles_restore(store, snap));
    EXPECT_EQ(changed_since(store, r2), differ);
    EXPECT_EQ(whole(store), first);
    EXPECT_EQ(tiles_tile_at(snap, 0, 0), tiles_tile_at(store, 0, 0));
    uint64_t r3 = tiles_revision(store);
    ASSERT_TRUE(tiles_restore(store, snap));
    EXPECT_EQ(tiles_revision(store), r3);
    tiles_free(&snap);

    /* Redo by hand: held tiles back into their slots, then undo again. */
    TILES* after = tiles_new(W, H);
    ASSERT_TRUE(tiles_import(after, second.data(), W * 4));
    Kept redo;
    ASSERT_TRUE(tiles_diff(store, after, keep_before, &redo));
    for (auto& k : redo.before) tiles_tile_release(&k.second);
    for (int ty = 0; ty < store->tiles_y; ty++)
        for (int tx = 0; tx < store->tiles_x; tx++)
            if (differ.count({tx, ty})) {
                ASSERT_TRUE(tiles_put_tile(store, tx, ty, tiles_tile_at(after, tx, ty)));
            }
    tiles_free(&after);
    EXPECT_EQ(whole(store), second);
    for (auto& k : kept.before) {
        ASSERT_TRUE(tiles_put_tile(store, k.first.first, k.first.second, k.second));
        tiles_tile_release(&k.second);
        EXPECT_EQ(k.second, nullptr);
    }
    EXPECT_EQ(whole(store), first);
    EXPECT_EQ(present(store), (Slots{{0, 0}, {1, 0}, {0, 1}, {1, 1}}));
    TILES* coverage = tiles_new_with(W, H, TILES_COVERAGE, TILES_SHIFT);
    EXPECT_FALSE(tiles_put_tile(coverage, 0, 0, tiles_tile_at(store, 0, 0)));
    EXPECT_FALSE(tiles_restore(coverage, store));
    tiles_free(&coverage);
    tiles_free(&store);

    /* Tiles let go of are kept and come back zeroed to the next store. */
    EXPECT_GT(tiles_pool_bytes(), 0u);
    TILES* next = tiles_new(W, H);
    ASSERT_TRUE(tiles_write_rect(next, 70, 70, 1, 1, b.data(), 0));
    std::vector<uint8_t> one((size_t)W * H * 4, 0);
    memcpy(&one[((size_t)70 * W + 70) * 4], b.data(), 4);
    EXPECT_EQ(whole(next), one);
    tiles_free(&next);
    tiles_pool_trim();
    EXPECT_EQ(tiles_pool_bytes(), 0u);
}

// A worker reads a snapshot while the main thread keeps painting the store
// it came from: the worker sees the picture of the moment of the snapshot.
TEST(Tiles, SnapshotReadsOnAWorkerWhileTheStoreIsWritten) {
    const int W = 512, H = 512;
    TILES* store = tiles_new(W, H);
    std::vector<uint8_t> pic = picture(W, H, 30, 40, 400, 300, 7);
    ASSERT_TRUE(tiles_import(store, pic.data(), W * 4));
    TILES* snap = tiles_snapshot(store);
    std::vector<uint8_t> seen;
    std::thread worker([&] {
        for (int i = 0; i < 20; i++) seen = whole(snap);
        tiles_free(&snap);
    });
    std::vector<uint8_t> b = picture(64, 64, 0, 0, 64, 64, 8);
    for (int i = 0; i < 400; i++) tiles_write_rect(store, (i * 37) % W, (i * 53) % H, 64, 64, b.data(), 64 * 4);
    worker.join();
    EXPECT_EQ(seen, pic);
    EXPECT_NE(whole(store), pic);
    tiles_free(&store);
}
