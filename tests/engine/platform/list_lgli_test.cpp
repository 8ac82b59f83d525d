#include "list_lgli.h"
#include "test_support.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace
{

// A synthetic table: every ideograph weighs 10, except the few set here.
struct SyntheticTable {
    std::vector<int8_t> codes = std::vector<int8_t>(PINYIN_CODE_SIZE, 10);
    pinyin_code holder{codes.data()};
    void set(char32_t c, int8_t w)
    {
        codes[c - PINYIN_FIRST] = w;
    }
};

int cmp(const std::string &a, const std::string &b, const pinyin_code *py)
{
    return lgli_compare_name(a.c_str(), b.c_str(), py);
}

// Contacts: the simplest record kind (uid, name).
struct Contact {
    lgli_user_head head;
    std::string storage;
};

struct Contacts {
    std::vector<std::unique_ptr<Contact>> all;
    lgli_user_head *make(uint32_t uid, const std::string &name)
    {
        auto c = std::make_unique<Contact>();
        c->storage = name;
        c->head = {uid, c->storage.data()};
        all.push_back(std::move(c));
        return &all.back()->head;
    }
};

std::vector<std::string> names_in_list(list_lgli *l)
{
    std::vector<std::string> out;
    for (list_node *n = list_begin(l->list); n; n = list_next(n))
        out.push_back(static_cast<lgli_user_head *>(list_data_get(n))->name);
    return out;
}

std::vector<uint32_t> uids_in_list(list_lgli *l)
{
    std::vector<uint32_t> out;
    for (list_node *n = list_begin(l->list); n; n = list_next(n))
        out.push_back(static_cast<lgli_user_head *>(list_data_get(n))->uid);
    return out;
}

// Slots must mirror the list: segment 2, then 1, then 0, contiguous.
void expect_slots_match_list(list_lgli *l)
{
    list_node *n = list_begin(l->list);
    for (int s = 2; s >= 0; s--) {
        for (uint32_t i = 0; i < l->counts[s]; i++) {
            ASSERT_EQ(l->slots[s][i], n) << "segment " << s << " slot " << i;
            n = list_next(n);
        }
        if (l->counts[s] < LGLI_SEGMENT_MAX) {
            EXPECT_EQ(l->slots[s][l->counts[s]], nullptr);
        }
    }
    EXPECT_EQ(n, nullptr);
    EXPECT_EQ(list_count(l->list), uint64_t{l->counts[0]} + l->counts[1] + l->counts[2]);
}

} // namespace

TEST(LgliCompare, OrderingCases)
{
    SyntheticTable t;
    t.set(U'爱', 'a');
    t.set(U'张', 'z');
    t.set(U'赵', 'z');
    t.set(U'王', 'w');
    struct Case {
        const char *a;
        const char *b;
        int want;
    };
    const Case cases[] = {
        {"item2", "item10", -1}, // digit runs compare as numbers
        {"item10", "item2", 1},
        {"a10", "a10b", -1}, // a prefix comes first
        {"007", "7", 1},     // the longer run is greater
        {"7", "007", -1},
        {"a7b", "a7b", 0},
        {"x12y3", "x12y12", -1},
        {"Abc", "abc", -1}, // unequal bytes as unsigned values
        {"9", "a", -1},
        {"#1", "zzz", 1}, // symbols last
        {"zzz", "#1", -1},
        {"#1", "张", 1},
        {"#a", "#b", -1}, // two symbol names: -1 either way round
        {"#b", "#a", -1},
        {"", "a", 1}, // the empty name counts as a symbol
        {"a", "", -1},
        {"张三", "abc", 1}, // ideographs after letters and digits
        {"abc", "张三", -1},
        {"9号", "爱", -1},
        {"爱国", "王五", -1}, // pinyin weight decides
        {"张三", "王五", 1},
        {"张三", "赵四", -1}, // equal weights: natural order of the bytes
        {"赵四", "张三", 1},
        {"张三", "张三", 0},
        {"张1", "张02", -1},
        {"é", "爱", -1},                // no ideograph: weight 0
        {"\xF0\x9F\x98\x80", "爱", -1}, // a four-byte sequence counts as no character
        {"\x80x", "爱", -1},            // as does a stray continuation byte
    };
    for (const Case &c : cases)
        EXPECT_EQ(cmp(c.a, c.b, &t.holder), c.want) << c.a << " vs " << c.b;

    EXPECT_EQ(lgli_compare_name(nullptr, "a", &t.holder), -2);
    EXPECT_EQ(lgli_compare_name("a", nullptr, nullptr), -2);
    // Without a table ideographs compare by their bytes: 爱 (E7 88 B1) before
    // 王 (E7 8E 8B), and 张 (E5 BC A0) before 爱.
    EXPECT_EQ(cmp("王五", "爱国", nullptr), 1);
    EXPECT_EQ(cmp("张三", "爱国", nullptr), -1); // 张 E5.. before 爱 E7..
    EXPECT_EQ(cmp("张三", "爱国", &t.holder), 1);
    pinyin_code empty{nullptr};
    EXPECT_EQ(cmp("张三", "爱国", &empty), -1);
}

TEST(LgliCompare, TruncatedSequenceStopsAtTheTerminator)
{
    SyntheticTable t;
    // Exactly sized heap copies: a read past the terminator trips ASan.
    const char *texts[] = {"\xE4", "\xE4\xB8", "\xC3", "\xE4\xB8\xAD"};
    std::vector<std::unique_ptr<char[]>> names;
    for (const char *s : texts) {
        size_t n = strlen(s) + 1;
        names.emplace_back(new char[n]);
        memcpy(names.back().get(), s, n);
    }
    for (auto &a : names) {
        for (auto &b : names) {
            int r = lgli_compare_name(a.get(), b.get(), &t.holder);
            EXPECT_TRUE(r == -1 || r == 0 || r == 1);
            EXPECT_EQ(r == 0, a.get() == b.get() || strcmp(a.get(), b.get()) == 0);
        }
    }
    // "\xE4" is a prefix of the others: first in natural order (equal weights
    // 0 vs 0 for the truncated ones).
    EXPECT_EQ(lgli_compare_name(names[0].get(), names[1].get(), &t.holder), -1);
}

TEST(Lgli, InsertKeepsSegmentsSortedAndListInSegmentOrder)
{
    Contacts c;
    list_lgli *l = lgli_new(LGLI_KIND_CONTACT, nullptr);
    ASSERT_NE(l, nullptr);
    // First records of each segment land in the order 2, 1, 0.
    EXPECT_EQ(lgli_insert(l, c.make(1, "m0"), 0, nullptr), 0);
    EXPECT_EQ(lgli_insert(l, c.make(2, "m1"), 1, nullptr), 0);
    EXPECT_EQ(lgli_insert(l, c.make(3, "m2"), 2, nullptr), 0);
    EXPECT_EQ(names_in_list(l), (std::vector<std::string>{"m2", "m1", "m0"}));
    lgli_destroy(&l, nullptr);
    EXPECT_EQ(l, nullptr);

    // Segment 1 first with only segment 0 present goes before it.
    l = lgli_new(LGLI_KIND_CONTACT, nullptr);
    lgli_insert(l, c.make(1, "zero"), 0, nullptr);
    lgli_insert(l, c.make(2, "one"), 1, nullptr);
    EXPECT_EQ(names_in_list(l), (std::vector<std::string>{"one", "zero"}));
    lgli_destroy(&l, nullptr);

    // Random names into random segments: every segment sorted, list mirrors.
    l = lgli_new(LGLI_KIND_CONTACT, nullptr);
    std::mt19937 rng(5);
    std::vector<std::vector<std::string>> expected(3);
    for (uint32_t i = 0; i < 600; i++) {
        std::string name = std::string(1, static_cast<char>('a' + rng() % 26)) +
                           std::to_string(rng() % 1000) + (rng() % 2 ? "x" : "");
        int seg = static_cast<int>(rng() % 3);
        ASSERT_EQ(lgli_insert(l, c.make(i + 100, name), seg, nullptr), 0);
        expected[static_cast<size_t>(seg)].push_back(name);
    }
    expect_slots_match_list(l);
    std::vector<std::string> want;
    for (int s = 2; s >= 0; s--) {
        auto &v = expected[static_cast<size_t>(s)];
        std::stable_sort(v.begin(), v.end(), [](const std::string &a, const std::string &b) {
            return lgli_compare_name(a.c_str(), b.c_str(), nullptr) < 0;
        });
        want.insert(want.end(), v.begin(), v.end());
    }
    EXPECT_EQ(names_in_list(l), want);
    lgli_destroy(&l, nullptr);
}

TEST(Lgli, EqualNamesOrderById)
{
    Contacts c;
    list_lgli *l = lgli_new(LGLI_KIND_CONTACT, nullptr);
    // The id decides against the equal-named record the search meets.
    lgli_insert(l, c.make(50, "bob"), 0, nullptr);
    lgli_insert(l, c.make(30, "bob"), 0, nullptr); // smaller id: before
    lgli_insert(l, c.make(7, "alice"), 0, nullptr);
    lgli_insert(l, c.make(5, "carl"), 0, nullptr);
    lgli_insert(l, c.make(9, "carl"), 0, nullptr); // larger id: after
    EXPECT_EQ(uids_in_list(l), (std::vector<uint32_t>{7, 30, 50, 5, 9}));
    expect_slots_match_list(l);
    lgli_destroy(&l, nullptr);
}

TEST(Lgli, RealPinyinTableOrdersByInitial)
{
    ptt::test::TempCwd cwd;
    ASSERT_TRUE(ptt::test::copy_file(ptt::test::run_path("pinyin.code"), cwd.file("pinyin.code")))
        << "pinyin.code is generated into the build's run directory";
    pinyin_code *py = pinyin_load(nullptr);
    ASSERT_NE(py, nullptr);
    EXPECT_EQ(py->codes[U'张' - PINYIN_FIRST], 'z');
    EXPECT_EQ(py->codes[U'爱' - PINYIN_FIRST], 'a');
    EXPECT_EQ(py->codes[U'中' - PINYIN_FIRST], 'z');
    for (int i = 0; i < PINYIN_CODE_SIZE; i++)
        ASSERT_TRUE(py->codes[i] == 0 || (py->codes[i] >= 'a' && py->codes[i] <= 'z')) << i;

    Contacts c;
    list_lgli *l = lgli_new(LGLI_KIND_CONTACT, nullptr);
    const char *names[] = {"张三", "#1", "王五", "9号", "李四", "abc", "爱国", "item10", "item2"};
    uint32_t uid = 1;
    for (const char *n : names)
        ASSERT_EQ(lgli_insert(l, c.make(uid++, n), 0, py), 0);
    EXPECT_EQ(names_in_list(l), (std::vector<std::string>{"9号", "abc", "item2", "item10", "爱国",
                                                          "李四", "王五", "张三", "#1"}));
    lgli_destroy(&l, nullptr);
    pinyin_destroy(&py);
    EXPECT_EQ(py, nullptr);
}

TEST(Lgli, PinyinFileMustBeExactlySized)
{
    ptt::test::TempCwd cwd;
    EXPECT_EQ(pinyin_load(nullptr), nullptr); // missing
    for (size_t size : {size_t{20901}, size_t{20903}, size_t{0}}) {
        ASSERT_TRUE(ptt::test::write_file("pinyin.code", std::string(size, 'a')));
        EXPECT_EQ(pinyin_load(nullptr), nullptr) << size;
    }
    ASSERT_TRUE(ptt::test::write_file("pinyin.code", std::string(PINYIN_CODE_SIZE, 'q')));
    pinyin_code *py = pinyin_load(nullptr);
    ASSERT_NE(py, nullptr);
    EXPECT_EQ(py->codes[PINYIN_CODE_SIZE - 1], 'q');
    pinyin_destroy(&py);
    pinyin_destroy(&py);
    pinyin_destroy(nullptr);
}

TEST(Lgli, FullSegmentIsReportedAndRangesStayInBounds)
{
    Contacts c;
    list_lgli *l = lgli_new(LGLI_KIND_CONTACT, nullptr);
    char name[16];
    for (uint32_t i = 0; i < LGLI_SEGMENT_MAX; i++) {
        snprintf(name, sizeof(name), "n%05u", LGLI_SEGMENT_MAX - i); // worst case: always first
        ASSERT_EQ(lgli_insert(l, c.make(i, name), 0, nullptr), 0);
    }
    EXPECT_EQ(l->counts[0], uint32_t{LGLI_SEGMENT_MAX});
    lgli_user_head *extra = c.make(99999, "zzz");
    EXPECT_EQ(lgli_insert(l, extra, 0, nullptr), LGLI_NOT_STORED);
    EXPECT_NE(LGLI_NOT_STORED, 0);
    EXPECT_NE(LGLI_NOT_STORED, HAL_ERR);
    EXPECT_EQ(l->counts[0], uint32_t{LGLI_SEGMENT_MAX});
    EXPECT_EQ(lgli_find_by_id(l, 99999), nullptr);

    // A neighbouring segment right behind segment 0's slots must never leak
    // into a range of segment 0.
    lgli_insert(l, c.make(70000, "next"), 1, nullptr);
    list *out = list_new();
    EXPECT_EQ(lgli_get_range(l, 0, LGLI_SEGMENT_MAX, 10, out), 0);
    EXPECT_EQ(lgli_get_range(l, 0, LGLI_SEGMENT_MAX + 7, 10, out), 0);
    EXPECT_EQ(list_count(out), 0u);
    EXPECT_EQ(lgli_get_range(l, 0, LGLI_SEGMENT_MAX - 10, 100, out), 10);
    EXPECT_EQ(static_cast<lgli_user_head *>(list_back(out))->uid, 0u); // "n00001" sorts first
    list_erase(out);
    EXPECT_EQ(lgli_get_range(l, 0, 0, LGLI_SEGMENT_MAX, out), LGLI_SEGMENT_MAX);
    EXPECT_STREQ(static_cast<lgli_user_head *>(list_front(out))->name, "n00001");
    list_erase(out);
    EXPECT_EQ(lgli_get_range(l, 1, 0, 5, out), 1);
    EXPECT_EQ(lgli_get_range(l, 2, 0, 5, out), 0);
    EXPECT_EQ(lgli_get_range(l, 3, 0, 5, out), -1);
    EXPECT_EQ(lgli_get_range(l, 1, 0, 0, out), 0);
    list_del(out);
    expect_slots_match_list(l);
    lgli_destroy(&l, nullptr);
}

TEST(Lgli, RemoveFindAndFreeCallbacks)
{
    Contacts c;
    list_lgli *l = lgli_new(LGLI_KIND_CONTACT, nullptr);
    for (uint32_t i = 0; i < 6; i++)
        lgli_insert(l, c.make(i, "u" + std::to_string(i)), static_cast<int>(i % 3), nullptr);
    static std::vector<uint32_t> freed;
    freed.clear();
    auto on_free = [](void *record, uint32_t id, uint32_t, list_node **) {
        EXPECT_EQ(static_cast<lgli_user_head *>(record)->uid, id);
        freed.push_back(id);
    };

    EXPECT_EQ(lgli_find_by_id(l, 4), &c.all[4]->head);
    EXPECT_EQ(lgli_remove(l, 42, l->counts[0], l->slots[0], on_free), -1);
    lgli_remove_by_id(l, 42, -1, on_free); // absent everywhere: nothing changes
    EXPECT_EQ(l->counts[0] + l->counts[1] + l->counts[2], 6u);
    lgli_remove_by_id(l, 4, 0, on_free); // wrong segment
    EXPECT_EQ(l->counts[1], 2u);
    lgli_remove_by_id(l, 4, 1, on_free);
    EXPECT_EQ(l->counts[1], 1u);
    lgli_remove_by_id(l, 2, 7, on_free); // any segment
    EXPECT_EQ(l->counts[2], 1u);
    EXPECT_EQ(freed, (std::vector<uint32_t>{4, 2}));
    EXPECT_EQ(lgli_find_by_id(l, 4), nullptr);
    expect_slots_match_list(l);

    lgli_clear(l, on_free);
    EXPECT_EQ(freed.size(), 6u);
    EXPECT_EQ(list_count(l->list), 0u);
    EXPECT_EQ(l->counts[0] + l->counts[1] + l->counts[2], 0u);
    EXPECT_EQ(lgli_insert(l, c.make(9, "again"), 2, nullptr), 0);
    lgli_destroy(&l, on_free);
    EXPECT_EQ(freed.back(), 9u);
    lgli_destroy(nullptr, nullptr);
}

TEST(Lgli, RemoveSlotClosesTheGap)
{
    list_node *slots[5];
    auto n = [](intptr_t v) { return reinterpret_cast<list_node *>(v); };
    for (intptr_t i = 0; i < 5; i++)
        slots[i] = n(i + 1);
    lgli_remove_slot(slots, 4, 1);
    EXPECT_EQ(slots[0], n(1));
    EXPECT_EQ(slots[1], n(3));
    EXPECT_EQ(slots[2], n(4));
    EXPECT_EQ(slots[3], nullptr);
    EXPECT_EQ(slots[4], n(5));     // beyond the count: untouched
    lgli_remove_slot(slots, 3, 3); // index past the count: nothing
    EXPECT_EQ(slots[2], n(4));
}

TEST(Lgli, MembersOrderByTheirUsersAndNamelessRecordsGoLast)
{
    lgli_user_head users[] = {{11, (char *)"carol"}, {12, nullptr}, {13, (char *)"alice"}};
    lgli_member_head members[] = {{1, 1, &users[0]}, {2, 0, &users[1]}, {3, 1, &users[2]}};
    lgli_member_head orphan = {4, 0, nullptr};
    ptt::test::TempCwd cwd;
    hal_log *log = hal_log_new(nullptr);
    ASSERT_EQ(hal_log_set_file(log, "test.log"), 0);
    list_lgli *l = lgli_new(LGLI_KIND_MEMBER, log);
    for (auto &m : members)
        ASSERT_EQ(lgli_insert(l, &m, 0, nullptr), 0);
    EXPECT_EQ(lgli_insert(l, &orphan, 0, nullptr), -1); // no user: no name to sort by
    std::string text = ptt::test::read_file("test.log");
    EXPECT_NE(text.find("\tlarge_list\thalf_insert_by_con rst == -1\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\tlarge_list\tlgli_do_insert rst==-100\n"), std::string::npos) << text;
    std::vector<uint32_t> order;
    for (list_node *n = list_begin(l->list); n; n = list_next(n))
        order.push_back(static_cast<lgli_member_head *>(list_data_get(n))->uid);
    EXPECT_EQ(order, (std::vector<uint32_t>{3, 1, 2}));
    EXPECT_EQ(lgli_find_by_id(l, 2), &members[1]); // found by the entry's uid
    lgli_remove_by_id(l, 2, 0, nullptr);
    EXPECT_EQ(l->counts[0], 2u);
    lgli_destroy(&l, nullptr);
    hal_log_destroy(&log);

    lgli_group_head groups[] = {{0, 200, (char *)"g2"}, {0, 100, (char *)"g10"}};
    l = lgli_new(LGLI_KIND_GROUP, nullptr);
    lgli_insert(l, &groups[1], 0, nullptr);
    lgli_insert(l, &groups[0], 0, nullptr);
    EXPECT_EQ(list_front(l->list), &groups[0]);
    EXPECT_EQ(lgli_find_by_id(l, 100), &groups[1]);
    lgli_destroy(&l, nullptr);

    EXPECT_EQ(lgli_insert(nullptr, &groups[0], 0, nullptr), -1);
    l = lgli_new(9, nullptr); // unknown kind
    lgli_insert(l, &groups[0], 0, nullptr);
    EXPECT_EQ(lgli_insert(l, &groups[1], 0, nullptr), -1);
    EXPECT_EQ(lgli_insert(l, &groups[1], 3, nullptr), -1);
    lgli_destroy(&l, nullptr);
}
