#include "hash.h"
#include "list.h"
#include "map.h"
#include "ringbuffer.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace
{

std::vector<intptr_t> list_values(list *l)
{
    std::vector<intptr_t> out;
    for (list_node *n = list_begin(l); n; n = list_next(n))
        out.push_back(reinterpret_cast<intptr_t>(list_data_get(n)));
    std::vector<intptr_t> back;
    for (list_node *n = list_end(l); n; n = list_prev(n))
        back.insert(back.begin(), reinterpret_cast<intptr_t>(list_data_get(n)));
    EXPECT_EQ(out, back) << "forward and backward links disagree";
    EXPECT_EQ(out.size(), list_count(l));
    return out;
}

void *P(intptr_t v)
{
    return reinterpret_cast<void *>(v);
}

using V = std::vector<intptr_t>;

} // namespace

// ---------------------------------------------------------------- list

TEST(List, InsertPositionsAndBounds)
{
    list *l = list_new();
    ASSERT_NE(l, nullptr);
    EXPECT_EQ(list_push_back(l, P(2)), 0);
    EXPECT_EQ(list_push_front(l, P(1)), 0);
    EXPECT_EQ(list_insert(l, 2, P(4)), 0); // index == count appends
    EXPECT_EQ(list_insert(l, 2, P(3)), 0);
    EXPECT_EQ(list_insert(l, 0, P(0)), 0);
    EXPECT_EQ(list_insert(l, 6, P(9)), -5); // count + 1
    EXPECT_EQ(list_values(l), (V{0, 1, 2, 3, 4}));

    EXPECT_EQ(list_insert_before(l, list_begin(l), P(-1)), 0);
    EXPECT_EQ(list_insert_after(l, list_end(l), P(5)), 0);
    EXPECT_EQ(list_insert_after(l, list_at(l, 1), P(7)), 0);
    EXPECT_EQ(list_values(l), (V{-1, 0, 7, 1, 2, 3, 4, 5}));
    EXPECT_EQ(list_access(l, 2), P(7));
    EXPECT_EQ(list_access(l, 8), nullptr);
    EXPECT_EQ(list_front(l), P(-1));
    EXPECT_EQ(list_back(l), P(5));
    list_del(l);
}

TEST(List, RemovalAndPops)
{
    list *l = list_new();
    for (intptr_t i = 0; i < 5; i++)
        list_push_back(l, P(i));
    EXPECT_EQ(list_remove(l, 5), nullptr); // beyond the count: nothing changes
    EXPECT_EQ(list_count(l), 5u);
    EXPECT_EQ(list_remove(l, 2), P(2));
    EXPECT_EQ(list_remove_at(l, list_end(l)), P(4));
    EXPECT_EQ(list_pop_front(l), P(0));
    EXPECT_EQ(list_pop_back(l), P(3));
    EXPECT_EQ(list_values(l), (V{1}));
    EXPECT_EQ(list_pop_back(l), P(1));
    EXPECT_EQ(list_pop_back(l), nullptr);
    EXPECT_EQ(list_pop_front(l), nullptr);
    EXPECT_EQ(list_begin(l), nullptr);
    EXPECT_EQ(list_end(l), nullptr);
    list_push_back(l, P(8));
    EXPECT_EQ(list_erase(l), 0);
    EXPECT_EQ(list_count(l), 0u);
    list_del(l);
    list_del(nullptr);
}

TEST(List, SpliceJoinReverse)
{
    struct Case {
        uint64_t index;
        V expected;
    };
    const Case cases[] = {
        {0, {7, 8, 1, 2, 3}},
        {1, {1, 7, 8, 2, 3}},
        {3, {1, 2, 3, 7, 8}},
        {99, {1, 2, 3, 7, 8}},
    };
    for (const Case &c : cases) {
        list *a = list_new();
        list *b = list_new();
        for (intptr_t v : {1, 2, 3})
            list_push_back(a, P(v));
        list_push_back(b, P(7));
        list_push_back(b, P(8));
        list_splice(a, c.index, b);
        EXPECT_EQ(list_values(a), c.expected) << "index " << c.index;
        EXPECT_EQ(list_count(b), 0u);
        EXPECT_EQ(list_begin(b), nullptr);
        list_del(a);
        list_del(b);
    }

    list *a = list_new();
    list *b = list_new();
    list_push_back(b, P(1));
    list_push_back(b, P(2));
    list_join(a, b); // into an empty list
    list_push_back(b, P(3));
    list_join(a, b);
    EXPECT_EQ(list_values(a), (V{1, 2, 3}));
    list_reverse(a);
    EXPECT_EQ(list_values(a), (V{3, 2, 1}));
    list_del(a);
    list_del(b);
}

TEST(List, ForeachStopsOnFirstOtherResultAndMayRemoveCurrent)
{
    list *l = list_new();
    EXPECT_EQ(list_foreach(
                  l, [](const char *, uint32_t, void *, void *) { return 0; }, nullptr),
              HAL_CONTINUE);
    for (intptr_t i = 10; i < 15; i++)
        list_push_back(l, P(i));

    int calls = 0;
    EXPECT_EQ(list_foreach(
                  l,
                  [](const char *, uint32_t, void *, void *arg) {
                      ++*static_cast<int *>(arg);
                      return 0;
                  },
                  &calls),
              0);
    EXPECT_EQ(calls, 1);

    struct Ctx {
        list *l;
        std::vector<uint32_t> numbers;
    } ctx{l, {}};
    // Remove every even value while walking.
    EXPECT_EQ(list_foreach(
                  l,
                  [](const char *key, uint32_t n, void *data, void *arg) {
                      auto *c = static_cast<Ctx *>(arg);
                      EXPECT_EQ(key, nullptr);
                      c->numbers.push_back(n);
                      if (reinterpret_cast<intptr_t>(data) % 2 == 0) {
                          for (list_node *x = list_begin(c->l); x; x = list_next(x)) {
                              if (list_data_get(x) == data) {
                                  list_remove_at(c->l, x);
                                  break;
                              }
                          }
                      }
                      return HAL_CONTINUE;
                  },
                  &ctx),
              HAL_CONTINUE);
    EXPECT_EQ(ctx.numbers, (std::vector<uint32_t>{0, 1, 2, 3, 4}));
    EXPECT_EQ(list_values(l), (V{11, 13}));
    list_del(l);
}

// ---------------------------------------------------------------- hash

TEST(Hash, StringHashGoldenValues)
{
    EXPECT_EQ(hash_string("", 0), 0u);
    EXPECT_EQ(hash_string("a", 1), 1649u);
    EXPECT_EQ(hash_string("a", 1) & 3, 1u);
    // Hand-computed: h = ((1649 << 4) + 98 * 17) = 28050.
    EXPECT_EQ(hash_string("ab", 2), 28050u);
    // Long keys fold the top nibble back in and stay below 2^28.
    std::string k(64, '\xff');
    EXPECT_LT(hash_string(k.data(), k.size()), 1u << 28);
}

namespace
{

// Reference model of the bucket layout: chains newest first, growth by
// walking old buckets from last to first and pushing each node at the head.
struct HashModel {
    std::vector<std::vector<const char *>> buckets{4};
    uint32_t bucket(const char *k) const
    {
        return hash_string(k, strlen(k)) & (buckets.size() - 1);
    }
    void insert(const char *k)
    {
        auto &c = buckets[bucket(k)];
        c.insert(c.begin(), k);
        size_t count = 0;
        for (auto &b : buckets)
            count += b.size();
        if (count > 7 * buckets.size()) {
            std::vector<std::vector<const char *>> old = std::move(buckets);
            buckets.assign(old.size() * 4, {});
            for (size_t b = old.size(); b-- > 0;) {
                for (const char *key : old[b]) {
                    auto &nc = buckets[bucket(key)];
                    nc.insert(nc.begin(), key);
                }
            }
        }
    }
    std::vector<std::string> order() const
    {
        std::vector<std::string> out;
        for (auto &b : buckets)
            for (const char *k : b)
                out.push_back(k);
        return out;
    }
};

std::vector<std::string> hash_order(hash *h)
{
    std::vector<std::string> out;
    for (hash_node *n = hash_begin(h); n; n = hash_next(n))
        out.push_back(hash_key_get(n));
    std::vector<std::string> back;
    for (hash_node *n = hash_end(h); n; n = hash_prev(n))
        back.insert(back.begin(), hash_key_get(n));
    EXPECT_EQ(out, back) << "hash_prev disagrees with hash_next";
    return out;
}

} // namespace

TEST(Hash, GrowsFourFoldAtThresholdsAndKeepsEveryEntry)
{
    std::vector<std::string> keys;
    for (int i = 0; i < 460; i++)
        keys.push_back("key" + std::to_string(i));
    hash *h = hash_new(nullptr);
    ASSERT_NE(h, nullptr);
    HashModel model;
    const struct {
        size_t count;
        uint64_t size;
    } thresholds[] = {{28, 4}, {29, 16}, {112, 16}, {113, 64}, {448, 64}, {449, 256}};
    size_t next = 0;
    for (size_t i = 0; i < keys.size(); i++) {
        ASSERT_EQ(hash_insert(h, keys[i].c_str(), &keys[i]), 0);
        model.insert(keys[i].c_str());
        if (next < std::size(thresholds) && thresholds[next].count == i + 1) {
            EXPECT_EQ(hash_size(h), thresholds[next].size) << "after " << i + 1 << " entries";
            next++;
        }
    }
    EXPECT_EQ(next, std::size(thresholds));
    EXPECT_EQ(hash_count(h), keys.size());
    for (auto &k : keys) {
        std::string probe = k; // lookups compare contents, not pointers
        EXPECT_EQ(hash_access(h, probe.c_str()), &k);
    }
    EXPECT_EQ(hash_order(h), model.order());
    hash_del(h);
}

TEST(Hash, InsertReplaceRemoveKeepCallerKeys)
{
    hash *h = hash_new(nullptr);
    char key1[] = "alpha";
    char key2[] = "alpha";
    int a = 1, b = 2;
    EXPECT_EQ(hash_insert(h, key1, &a), 0);
    EXPECT_EQ(hash_insert(h, key2, &b), -7);
    EXPECT_EQ(hash_access(h, "alpha"), &a);
    EXPECT_EQ(hash_replace(h, key2, &b), 0);
    EXPECT_EQ(hash_access(h, "alpha"), &b);
    EXPECT_EQ(hash_key_get(hash_at(h, "alpha")), key1); // first key pointer kept
    EXPECT_EQ(hash_replace(h, "beta", &a), 0);
    EXPECT_EQ(hash_count(h), 2u);
    EXPECT_EQ(hash_access(h, "Alpha"), nullptr); // case matters
    EXPECT_EQ(hash_remove(h, "gamma"), nullptr);
    EXPECT_EQ(hash_remove(h, "alpha"), &b);
    EXPECT_EQ(hash_count(h), 1u);
    EXPECT_EQ(hash_at(h, "alpha"), nullptr);
    hash_node *n = hash_at(h, "beta");
    EXPECT_EQ(hash_data_set(n, &b), &b);
    EXPECT_EQ(hash_data_get(n), &b);
    EXPECT_EQ(hash_erase(h), 0);
    EXPECT_EQ(hash_count(h), 0u);
    EXPECT_EQ(hash_size(h), 4u);
    EXPECT_EQ(hash_begin(h), nullptr);
    EXPECT_EQ(hash_end(h), nullptr);
    hash_del(h);
    hash_del(nullptr);
}

TEST(Hash, SameBucketIteratesNewestFirstAndForeachReportsBuckets)
{
    // A hash by first letter puts "a1","a2" together in bucket 'a' & 3 = 1.
    hash *h = hash_new([](const char *k, size_t) -> uint32_t { return (unsigned char)k[0]; });
    EXPECT_EQ(hash_foreach(
                  h, [](const char *, uint32_t, void *, void *) { return 0; }, nullptr),
              HAL_CONTINUE);
    hash_insert(h, "a1", nullptr);
    hash_insert(h, "b1", nullptr); // 'b' & 3 = 2
    hash_insert(h, "a2", nullptr);
    hash_insert(h, "d1", nullptr); // 'd' & 3 = 0
    EXPECT_EQ(hash_order(h), (std::vector<std::string>{"d1", "a2", "a1", "b1"}));

    std::vector<std::pair<std::string, uint32_t>> seen;
    EXPECT_EQ(hash_foreach(
                  h,
                  [](const char *k, uint32_t n, void *, void *arg) {
                      static_cast<decltype(seen) *>(arg)->emplace_back(k, n);
                      return HAL_CONTINUE;
                  },
                  &seen),
              HAL_CONTINUE);
    EXPECT_EQ(seen, (decltype(seen){{"d1", 0}, {"a2", 1}, {"a1", 1}, {"b1", 2}}));

    int calls = 0;
    EXPECT_EQ(hash_foreach(
                  h,
                  [](const char *, uint32_t, void *, void *arg) {
                      ++*static_cast<int *>(arg);
                      return 0;
                  },
                  &calls),
              0);
    EXPECT_EQ(calls, 1);

    // The callback may remove the entry it was given.
    EXPECT_EQ(hash_foreach(
                  h,
                  [](const char *k, uint32_t, void *, void *arg) {
                      hash_remove(static_cast<hash *>(arg), k);
                      return HAL_CONTINUE;
                  },
                  h),
              HAL_CONTINUE);
    EXPECT_EQ(hash_count(h), 0u);
    hash_del(h);
}

// ---------------------------------------------------------------- map

TEST(Map, BucketIsTopBitsOfProduct)
{
    map *m = map_new();
    const uint32_t keys[] = {0, 1, 2, 3, 100, 0xFFFFFFFFu, 0x80000000u};
    for (uint32_t k : keys)
        ASSERT_EQ(map_insert(m, k, P(k + 1)), 0);
    EXPECT_EQ(map_insert(m, 0, P(9)), -7);
    EXPECT_EQ(map_insert(m, 0xFFFFFFFFu, P(9)), -7);
    EXPECT_EQ(map_access(m, 0), P(1));
    EXPECT_EQ(map_access(m, 0xFFFFFFFFu), P(0));
    EXPECT_EQ(map_access(m, 5), nullptr);
    EXPECT_EQ(map_remove(m, 5), nullptr);

    // Expected iteration: buckets by (k * 1103515245) >> 30, newest first.
    std::vector<std::vector<uint32_t>> buckets(4);
    for (uint32_t k : keys) {
        uint32_t b = static_cast<uint32_t>(k * 1103515245u) >> 30;
        buckets[b].insert(buckets[b].begin(), k);
    }
    std::vector<uint32_t> expected;
    for (auto &b : buckets)
        expected.insert(expected.end(), b.begin(), b.end());
    std::vector<uint32_t> got;
    EXPECT_EQ(map_foreach(
                  m,
                  [](const char *key, uint32_t n, void *data, void *arg) {
                      EXPECT_EQ(key, nullptr);
                      EXPECT_EQ(data, P(static_cast<uint32_t>(n + 1)));
                      static_cast<std::vector<uint32_t> *>(arg)->push_back(n);
                      return HAL_CONTINUE;
                  },
                  &got),
              HAL_CONTINUE);
    EXPECT_EQ(got, expected);
    std::vector<uint32_t> back;
    for (map_node *n = map_end(m); n; n = map_prev(n))
        back.insert(back.begin(), map_key_get(n));
    EXPECT_EQ(back, expected);

    EXPECT_EQ(map_replace(m, 100, P(7)), 0);
    EXPECT_EQ(map_access(m, 100), P(7));
    EXPECT_EQ(map_data_get(map_at(m, 100)), P(7));
    EXPECT_EQ(map_remove(m, 100), P(7));
    EXPECT_EQ(map_count(m), std::size(keys) - 1);
    map_del(m);
}

TEST(Map, GrowsAtSameThresholdsAndEverythingStaysReachable)
{
    map *m = map_new();
    EXPECT_EQ(map_foreach(
                  m, [](const char *, uint32_t, void *, void *) { return 0; }, nullptr),
              HAL_CONTINUE);
    EXPECT_EQ(map_size(m), 4u);
    for (uint32_t k = 0; k < 460; k++) {
        ASSERT_EQ(map_insert(m, k * 7919u, P(k + 1)), 0);
        uint32_t n = k + 1;
        uint64_t want = n > 448 ? 256 : n > 112 ? 64 : n > 28 ? 16 : 4;
        ASSERT_EQ(map_size(m), want) << "after " << n;
    }
    // Bucket index stays the top bits with the larger table: iteration keeps
    // ascending top bits.
    uint32_t last_top = 0;
    for (map_node *n = map_begin(m); n; n = map_next(n)) {
        uint32_t top = static_cast<uint32_t>(map_key_get(n) * 1103515245u) >> 24;
        EXPECT_GE(top, last_top);
        last_top = top;
    }
    for (uint32_t k = 0; k < 460; k++)
        EXPECT_EQ(map_access(m, k * 7919u), P(k + 1));
    EXPECT_EQ(map_erase(m), 0);
    EXPECT_EQ(map_count(m), 0u);
    EXPECT_EQ(map_begin(m), nullptr);
    map_del(m);
    map_del(nullptr);
}

// ---------------------------------------------------------------- ring buffer

TEST(RingBuffer, OneByteAlwaysFreeAndAllOrNothing)
{
    EXPECT_EQ(ringbuffer_new(0), nullptr);
    EXPECT_EQ(ringbuffer_new(12), nullptr);
    ringbuffer *rb = ringbuffer_new(16);
    ASSERT_NE(rb, nullptr);
    uint8_t in[16], out[16] = {};
    for (int i = 0; i < 16; i++)
        in[i] = static_cast<uint8_t>(i + 1);
    EXPECT_EQ(ringbuffer_write(rb, in, 16), 0u);
    EXPECT_EQ(ringbuffer_count(rb), 0u);
    EXPECT_EQ(ringbuffer_write(rb, in, 15), 15u);
    EXPECT_EQ(ringbuffer_write(rb, in, 1), 0u);
    EXPECT_EQ(ringbuffer_read(rb, out, 15), 15u);
    EXPECT_EQ(memcmp(in, out, 15), 0);

    EXPECT_EQ(ringbuffer_write(rb, in, 3), 3u);
    EXPECT_EQ(ringbuffer_read(rb, out, 4), 0u); // 3 wait: nothing read
    EXPECT_EQ(ringbuffer_count(rb), 3u);
    EXPECT_EQ(ringbuffer_read(rb, out, 3), 3u);
    EXPECT_EQ(memcmp(in, out, 3), 0);
    ringbuffer_destroy(&rb);
    EXPECT_EQ(rb, nullptr);
    ringbuffer_destroy(&rb);
}

TEST(RingBuffer, WrapsAroundTheEndIntact)
{
    ringbuffer *rb = ringbuffer_new(16);
    uint8_t seq = 0, expect = 0;
    // Varying chunk sizes move both positions across the end many times.
    for (int round = 0; round < 200; round++) {
        uint32_t n = static_cast<uint32_t>(round % 11 + 1);
        uint8_t chunk[16];
        for (uint32_t i = 0; i < n; i++)
            chunk[i] = seq++;
        ASSERT_EQ(ringbuffer_write(rb, chunk, n), n);
        uint8_t got[16];
        ASSERT_EQ(ringbuffer_read(rb, got, n), n);
        for (uint32_t i = 0; i < n; i++)
            ASSERT_EQ(got[i], expect++);
    }
    ringbuffer_destroy(&rb);
}
