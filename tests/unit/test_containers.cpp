/* Strings, UTF-8 repair, lists and hash tables of the support library. */
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "t_hash.h"
#include "t_list.h"
#include "t_log.h"
#include "t_str.h"
#include "t_utf8.h"
#include "test_support.h"

TEST(Str, CapacityZeroMakesNoBufferAndGrowthIsExact) {
    T_STR* s = t_str_new(0);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->data, nullptr);
    EXPECT_EQ(s->capacity, 0u);
    ASSERT_TRUE(t_str_append(&s, "abc", 3, 1));
    EXPECT_EQ(s->capacity, 4u); /* exactly what is needed plus the terminator */
    EXPECT_STREQ(s->data, "abc");
    ASSERT_TRUE(t_str_append(&s, "de", 2, 1));
    EXPECT_EQ(s->capacity, 6u);
    EXPECT_EQ(s->length, 5u);
    EXPECT_STREQ(s->data, "abcde");
    t_str_free(&s);
    EXPECT_EQ(s, nullptr);
}

TEST(Str, AppendCreatesWhenNullAndRefusesWithoutGrowth) {
    T_STR* s = NULL;
    ASSERT_TRUE(t_str_append(&s, "x", 1, 1));
    ASSERT_NE(s, nullptr);
    EXPECT_STREQ(s->data, "x");
    T_STR* fixed = t_str_new(4);
    ASSERT_TRUE(t_str_append(&fixed, "abc", 3, 0)); /* 3 + 1 fits */
    test_log_capture_begin(LOG_DEBUG);
    EXPECT_FALSE(t_str_append(&fixed, "d", 1, 0));
    std::string log = test_log_capture_end();
    EXPECT_NE(log.find("not enough space. Resize forbidden. 5 needed, 4 available"), std::string::npos) << log;
    EXPECT_STREQ(fixed->data, "abc");
    T_STR* none = NULL;
    EXPECT_FALSE(t_str_append(&none, "d", 1, 0));
    EXPECT_EQ(none, nullptr);
    t_str_free(&s);
    t_str_free(&fixed);
    test_log_capture_begin(LOG_DEBUG);
    t_str_free(&fixed);
    EXPECT_NE(test_log_capture_end().find("already done or NULL"), std::string::npos);
}

TEST(Str, EmbeddedBytesAndPrintf) {
    T_STR* s = NULL;
    const char bytes[3] = {'a', 0, 'b'};
    ASSERT_TRUE(t_str_append(&s, bytes, 3, 1));
    EXPECT_EQ(s->length, 3u);
    EXPECT_EQ(s->data[3], 0);
    ASSERT_TRUE(t_str_printf(&s, "%d-%s", 42, "z"));
    EXPECT_EQ(std::string(s->data, s->length), std::string("a\0b42-z", 7));
    ASSERT_TRUE(t_str_copy(s, "fresh"));
    EXPECT_STREQ(s->data, "fresh");
    EXPECT_EQ(s->length, 5u);
    t_str_free(&s);
}

TEST(Str, FilesRoundTripWithMode0600AndAtomicReplace) {
    std::string dir = test_make_temp_dir("str");
    std::string path = dir + "/file.bin";
    T_STR* s = NULL;
    std::string payload("line\n\0\xff", 7);
    ASSERT_TRUE(t_str_append(&s, payload.data(), payload.size(), 1));
    ASSERT_TRUE(t_str_write_file(s, path.c_str()));
    struct stat info;
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    T_STR* back = t_str_read_file(path.c_str());
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(std::string(back->data, back->length), payload);
    /* Writing again replaces the file and leaves no temporary behind. */
    ASSERT_TRUE(t_file_write_atomic(path.c_str(), "new", 3));
    EXPECT_EQ(test_read_file(path), "new");
    std::string listing;
    FILE* ls = popen(("ls -A '" + dir + "'").c_str(), "r");
    char line[256];
    while (ls && fgets(line, sizeof(line), ls)) listing += line;
    if (ls) pclose(ls);
    EXPECT_EQ(listing, "file.bin\n");
    t_str_free(&s);
    t_str_free(&back);

    test_log_capture_begin(LOG_ERR);
    EXPECT_EQ(t_str_read_file((dir + "/missing").c_str()), nullptr);
    std::string log = test_log_capture_end();
    EXPECT_NE(log.find("Unable to open " + dir + "/missing for reading. Errno: "), std::string::npos) << log;
    test_remove_tree(dir);
}

TEST(Str, FailedAtomicWriteLeavesTheOldFile) {
    std::string dir = test_make_temp_dir("atomic");
    std::string path = dir + "/keep.dat";
    test_write_file(path, "old contents");
    T_ATOMIC_FILE af;
    ASSERT_TRUE(t_file_begin(&af, path.c_str()));
    fputs("half-written", af.file);
    t_file_abort(&af);
    EXPECT_EQ(test_read_file(path), "old contents");
    struct stat info;
    EXPECT_NE(stat(af.tmp_path, &info), 0);
    /* A folder that does not exist cannot take the temporary file. */
    test_log_capture_begin(LOG_ERR);
    EXPECT_FALSE(t_file_write_atomic((dir + "/no/such/dir/x").c_str(), "x", 1));
    test_log_capture_end();
    test_remove_tree(dir);
}

static int destroyed = 0;
static void _count_destroy(void* p) {
    destroyed++;
    free(p);
}

/* Each row: bytes in, the repaired text, how many U+FFFD went in. One
 * U+FFFD stands for each maximal subpart: the lead byte with the bytes that
 * still fitted it, or a single byte that can start nothing. */
#define R "\xEF\xBF\xBD"
#define B(LITERAL) std::string(LITERAL, sizeof(LITERAL) - 1)
static const struct {
    std::string in, out;
    long replaced;
} _utf8_rows[] = {
    {B(""), B(""), 0},
    {B("plain \xC3\xA9\xE2\x9C\x93\xF0\x9F\x98\x80"), B("plain \xC3\xA9\xE2\x9C\x93\xF0\x9F\x98\x80"), 0},
    {B("\xEF\xBF\xBF\xF4\x8F\xBF\xBF"), B("\xEF\xBF\xBF\xF4\x8F\xBF\xBF"), 0}, /* U+FFFF and U+10FFFF are fine */
    {B("Sky\xF4\x90\x80\x80"), B("Sky" R R R R), 4},            /* above U+10FFFF: F4 alone, then 3 strays */
    {B("\xC0\x80"), B(R R), 2},                                  /* an overlong NUL */
    {B("\xC1\xBF"), B(R R), 2},
    {B("\xE0\x80\xAF"), B(R R R), 3},                            /* an overlong three-byte form */
    {B("\xF0\x8F\xBF\xBF"), B(R R R R), 4},                      /* an overlong four-byte form */
    {B("\xED\xA0\x80x"), B(R R R "x"), 3},                       /* a surrogate */
    {B("\xED\x9F\xBF"), B("\xED\x9F\xBF"), 0},                   /* U+D7FF, just below them */
    {B("a\x80" "b\xBF"), B("a" R "b" R), 2},                     /* lone continuation bytes */
    {B("\xE2\x9C"), B(R), 1},                                    /* cut off at the end */
    {B("\xF0\x9F\x98" "A"), B(R "A"), 1},                        /* cut off before a letter */
    {B("\xE2\x9C\xF0\x9F\x98\x80"), B(R "\xF0\x9F\x98\x80"), 1}, /* cut off before a whole one */
    {B("\xF5\x80\xFF\xFE"), B(R R R R), 4},                      /* bytes that start nothing */
    {B("x\0y\xC3"), B("x\0y" R), 1},                             /* a NUL is a character */
};
#undef B

TEST(Utf8, RepairReplacesEachMaximalSubpartAndValidAgrees) {
    for (const auto& row : _utf8_rows) {
        T_STR* out = NULL;
        EXPECT_EQ(t_utf8_repair(&out, row.in.data(), row.in.size()), row.replaced) << row.in;
        ASSERT_NE(out, nullptr);
        EXPECT_EQ(std::string(out->data, out->length), row.out) << row.in;
        EXPECT_EQ(t_utf8_valid(row.in.data(), row.in.size()), row.replaced == 0) << row.in;
        EXPECT_TRUE(t_utf8_valid(out->data, out->length)) << row.in;
        /* Repairing what was repaired changes nothing. */
        T_STR* again = NULL;
        EXPECT_EQ(t_utf8_repair(&again, out->data, out->length), 0);
        EXPECT_EQ(std::string(again->data, again->length), row.out);
        t_str_free(&again);
        t_str_free(&out);
    }
    /* Appending keeps what the string held. */
    T_STR* s = t_str_from("kept ");
    EXPECT_EQ(t_utf8_repair(&s, "\xC0", 1), 1);
    EXPECT_STREQ(s->data, "kept " R);
    t_str_free(&s);
    EXPECT_EQ(t_utf8_repair(NULL, "a", 1), -1);
}

TEST(Utf8, FixedBuffersAreRepairedAndNeverSplitACharacter) {
    char b[8];
    EXPECT_EQ(t_utf8_copy(b, sizeof(b), "Sky\xF4\x90"), 6u); /* "Sky" and one U+FFFD: the second does not fit */
    EXPECT_STREQ(b, "Sky" R);
    EXPECT_EQ(t_utf8_copy(b, sizeof(b), "ab\xE2\x9C\x93\xE2\x9C\x93"), 5u);
    EXPECT_STREQ(b, "ab\xE2\x9C\x93");
    EXPECT_EQ(t_utf8_copy(b, sizeof(b), "\xE2\x9C"), 3u); /* cut off by the terminator */
    EXPECT_STREQ(b, R);
    EXPECT_EQ(t_utf8_copy(b, sizeof(b), NULL), 0u);
    EXPECT_STREQ(b, "");
    EXPECT_EQ(t_utf8_copy(b, 1, "abc"), 0u);
    EXPECT_STREQ(b, "");

    const char* text = "a\xC3\xA9\xF0\x9F\x98\x80";
    EXPECT_EQ(t_utf8_cut(text, 7, 7), 7u);
    EXPECT_EQ(t_utf8_cut(text, 7, 6), 3u);
    EXPECT_EQ(t_utf8_cut(text, 7, 2), 1u);
    EXPECT_EQ(t_utf8_cut(text, 7, 0), 0u);

    char enc[4];
    EXPECT_EQ(t_utf8_encode(0x41, enc), 1);
    EXPECT_EQ(t_utf8_encode(0xE9, enc), 2);
    EXPECT_EQ(std::string(enc, 2), "\xC3\xA9");
    EXPECT_EQ(t_utf8_encode(0xFFFD, enc), 3);
    EXPECT_EQ(std::string(enc, 3), R);
    EXPECT_EQ(t_utf8_encode(0x10FFFF, enc), 4);
    EXPECT_EQ(std::string(enc, 4), "\xF4\x8F\xBF\xBF");
    for (long bad : {-1L, 0xD800L, 0xDFFFL, 0x110000L, 0x7FFFFFFFL}) EXPECT_EQ(t_utf8_encode(bad, enc), 0) << bad;
}
#undef R

TEST(List, PushPopShiftAndRemoveKeepOrder) {
    LIST* list = new_generic_list(0);
    ASSERT_NE(list, nullptr);
    int a = 1, b = 2, c = 3, d = 4;
    ASSERT_TRUE(list_push(list, &a, NULL));
    ASSERT_TRUE(list_push(list, &b, NULL));
    ASSERT_TRUE(list_push(list, &c, NULL));
    ASSERT_TRUE(list_push(list, &d, NULL));
    EXPECT_EQ(list->nb_items, 4u);
    EXPECT_EQ(remove_list_node_f(list, list->start->next), &b); /* a middle node */
    EXPECT_EQ(list_shift_f(list), &a);
    EXPECT_EQ(list_pop_f(list), &d);
    EXPECT_EQ(list->start, list->end);
    EXPECT_EQ(list->start->ptr, &c);
    EXPECT_EQ(list_pop_f(list), &c);
    EXPECT_EQ(list->start, nullptr);
    EXPECT_EQ(list->end, nullptr);
    EXPECT_EQ(list_pop_f(list), nullptr);
    EXPECT_EQ(list_shift_f(list), nullptr);
    EXPECT_EQ(list->nb_items, 0u);
    list_destroy(&list);
    EXPECT_EQ(list, nullptr);
}

// The list's values from start to end, checked against the links both ways.
static std::vector<int> _walk(const LIST* list) {
    std::vector<int> forward, backward;
    for (LIST_NODE* n = list->start; n; n = n->next) forward.push_back(*(int*)n->ptr);
    for (LIST_NODE* n = list->end; n; n = n->prev) backward.insert(backward.begin(), *(int*)n->ptr);
    EXPECT_EQ(forward, backward) << "prev and next links disagree";
    EXPECT_EQ(forward.size(), list->nb_items);
    return forward;
}

TEST(List, InsertAndMoveBeforeKeepBothLinks) {
    LIST* list = new_generic_list(3);
    int v[5] = {0, 1, 2, 3, 4};
    ASSERT_TRUE(list_insert_before(list, NULL, &v[1], NULL));           /* into an empty list */
    ASSERT_TRUE(list_insert_before(list, list->start, &v[0], NULL));    /* before the first */
    ASSERT_TRUE(list_insert_before(list, list->end, &v[2], NULL));      /* between two */
    EXPECT_EQ(_walk(list), (std::vector<int>{0, 2, 1}));
    EXPECT_FALSE(list_insert_before(list, list->start, &v[3], NULL)); /* the maximum holds */
    EXPECT_EQ(_walk(list), (std::vector<int>{0, 2, 1}));
    ASSERT_TRUE(list_move_before(list, list->start, NULL)); /* first to the end */
    EXPECT_EQ(_walk(list), (std::vector<int>{2, 1, 0}));
    ASSERT_TRUE(list_move_before(list, list->end, list->start)); /* last to the front */
    EXPECT_EQ(_walk(list), (std::vector<int>{0, 2, 1}));
    ASSERT_TRUE(list_move_before(list, list->start->next, list->start->next)); /* onto itself */
    EXPECT_EQ(_walk(list), (std::vector<int>{0, 2, 1}));
    ASSERT_TRUE(list_move_before(list, list->start, list->end)); /* into the middle */
    EXPECT_EQ(_walk(list), (std::vector<int>{2, 0, 1}));
    list_destroy(&list);
}

TEST(List, MaximumAndDestructors) {
    destroyed = 0;
    LIST* list = new_generic_list(2);
    ASSERT_TRUE(list_push(list, malloc(8), _count_destroy));
    ASSERT_TRUE(list_push(list, malloc(8), _count_destroy));
    void* extra = malloc(8);
    test_log_capture_begin(LOG_ERR);
    EXPECT_FALSE(list_push(list, extra, _count_destroy));
    EXPECT_NE(test_log_capture_end().find("list is full"), std::string::npos);
    free(extra);
    /* Popping hands the pointer back without destroying it. */
    void* popped = list_pop_f(list);
    EXPECT_EQ(destroyed, 0);
    free(popped);
    ASSERT_TRUE(list_push(list, malloc(8), _count_destroy));
    list_empty(list);
    EXPECT_EQ(destroyed, 2);
    EXPECT_EQ(list->nb_items, 0u);
    ASSERT_TRUE(list_push(list, malloc(8), _count_destroy));
    list_destroy(&list);
    EXPECT_EQ(destroyed, 3);
    test_log_capture_begin(LOG_DEBUG);
    EXPECT_FALSE(list_destroy(&list));
    EXPECT_NE(test_log_capture_end().find("already done or NULL"), std::string::npos);
}

TEST(Hash, PutGetReplaceAndEmpty) {
    test_log_capture_begin(LOG_ERR);
    EXPECT_EQ(new_ht(0), nullptr);
    test_log_capture_end();
    destroyed = 0;
    HASH_TABLE* table = new_ht(1); /* one bucket: every key collides */
    ASSERT_NE(table, nullptr);
    std::vector<std::string> keys = {"alpha", "beta", "gamma", "", "a\xc3\xa9"};
    for (size_t i = 0; i < keys.size(); i++) {
        int* value = (int*)malloc(sizeof(int));
        *value = (int)i;
        ASSERT_TRUE(ht_put_ptr(table, keys[i].c_str(), value, _count_destroy));
    }
    for (size_t i = 0; i < keys.size(); i++) {
        void* got = NULL;
        ASSERT_TRUE(ht_get_ptr(table, keys[i].c_str(), &got)) << keys[i];
        EXPECT_EQ(*(int*)got, (int)i);
    }
    void* got = NULL;
    EXPECT_FALSE(ht_get_ptr(table, "delta", &got));
    int* fresh = (int*)malloc(sizeof(int));
    *fresh = 99;
    ASSERT_TRUE(ht_put_ptr(table, "beta", fresh, _count_destroy));
    EXPECT_EQ(destroyed, 1); /* the replaced pointer */
    ASSERT_TRUE(ht_get_ptr(table, "beta", &got));
    EXPECT_EQ(*(int*)got, 99);
    EXPECT_EQ(table->nb_keys, keys.size());
    EXPECT_TRUE(ht_del_ptr(table, "gamma"));
    EXPECT_FALSE(ht_get_ptr(table, "gamma", &got));
    EXPECT_EQ(destroyed, 2);
    EXPECT_EQ(table->nb_keys, keys.size() - 1);
    EXPECT_FALSE(ht_del_ptr(table, "gamma"));
    EXPECT_EQ(table->nb_keys, keys.size() - 1) << "a missing key changes no count";
    empty_ht(table);
    EXPECT_EQ(destroyed, (int)keys.size() + 1);
    EXPECT_FALSE(ht_get_ptr(table, "alpha", &got));
    destroy_ht(&table);
    EXPECT_EQ(table, nullptr);
}
