// The directory at scale, through the real protocol: 5,000 groups and one
// group of 5,000 members load into the cache in display order; a group list
// longer than a sorted segment keeps the first 5,120 and loses nothing else.
#include "cache.h"
#include "core_fixture.h"
#include "dispatcher.h"
#include "list.h"
#include "list_lgli.h"
#include "map.h"
#include "ptt.pb-c.h"
#include "ptt_rr.pb-c.h"

#include <sstream>
#include <unistd.h>

namespace ptt::test
{

constexpr uint32_t MEMBERS = 5000;
constexpr uint32_t GROUPS = 5000;
constexpr uint32_t BIG_GROUP = 10001;

// Dispatcher (1000) and users 20001..25000 ("member 1".."member 5000"),
// every second one online; groups 10001..15000; the first holds every user,
// in or out by a pattern.
static std::string big_directory()
{
    std::ostringstream d;
    d << "user 1000 dispatcher EFE0EF527057A704259299FD98908DFA 9 Dispatcher\n";
    for (uint32_t u = 1; u <= MEMBERS; u++)
        d << "user " << 20000 + u << " u" << u << " 5F807E1813957BD22B735FDD1349A961 1 member " << u
          << "\n";
    d << "online 1000";
    for (uint32_t u = 2; u <= MEMBERS; u += 2)
        d << " " << 20000 + u;
    d << "\n";
    for (uint32_t g = 0; g < GROUPS; g++)
        d << "group " << BIG_GROUP + g << " 1 0 group " << g << "\n";
    d << "member " << BIG_GROUP << " 1000 in\n";
    for (uint32_t u = 1; u <= MEMBERS; u++)
        d << "member " << BIG_GROUP << " " << 20000 + u << (u % 3 ? " in" : " out") << "\n";
    return d.str();
}

static std::string scale_path()
{
    return "/tmp/ptt-scale-test-" + std::to_string(getpid()) + ".txt";
}

static PttServer::Options scale_options()
{
    write_file(scale_path(), big_directory());
    PttServer::Options o;
    o.directory = scale_path();
    return o;
}

class CacheScaleTest : public EngineFixture
{
  protected:
    CacheScaleTest() : EngineFixture(scale_options())
    {
        copy_file(run_path("pinyin.code"), cwd.file("pinyin.code"));
    }
    ~CacheScaleTest() override
    {
        unlink(scale_path().c_str());
    }
};

// Consecutive entries of one segment must never be out of name order.
static int check_segment(list_lgli *l, int seg, const pinyin_code *py)
{
    int bad = 0;
    for (uint32_t i = 1; i < l->counts[seg]; i++) {
        auto *a = (member_entry *)list_data_get(l->slots[seg][i - 1]);
        auto *b = (member_entry *)list_data_get(l->slots[seg][i]);
        bad += lgli_compare_name(a->user->name, b->user->name, py) > 0;
    }
    return bad;
}

TEST_F(CacheScaleTest, FiveThousandGroupsAndMembersLoadInDisplayOrder)
{
    login_online();
    ASSERT_TRUE(server.wait_count("ptt.rr.QueryMembers", 1, std::chrono::seconds(30)));
    auto loaded = [&] {
        return on_looper([&] {
            list_lgli *l = (list_lgli *)map_access(engine->cache->member_large_lists, BIG_GROUP);
            return l ? (int)list_count(l->list) : 0;
        });
    };
    ASSERT_TRUE(wait_until([&] { return loaded() == (int)MEMBERS + 1; }, std::chrono::seconds(60)));
    on_looper([&] {
        cache *c = engine->cache;
        EXPECT_EQ(cache_group_count(c), GROUPS);
        EXPECT_EQ(c->groups->counts[0], GROUPS);
        list_lgli *l = (list_lgli *)map_access(c->member_large_lists, BIG_GROUP);
        // Online and in the group; online elsewhere; offline.
        uint32_t in_online = 0, out_online = 0, offline = 0;
        for (uint32_t u = 1; u <= MEMBERS; u++) {
            bool online = u % 2 == 0, in = u % 3 != 0;
            (online ? (in ? in_online : out_online) : offline)++;
        }
        EXPECT_EQ(l->counts[2], in_online + 1); // with the dispatcher
        EXPECT_EQ(l->counts[1], out_online);
        EXPECT_EQ(l->counts[0], offline);
        const pinyin_code *py = (const pinyin_code *)c->pinyin;
        for (int seg = 0; seg < 3; seg++)
            EXPECT_EQ(check_segment(l, seg, py), 0) << "segment " << seg;
        // Natural order: "member 2" before "member 10".
        auto *first = (member_entry *)list_data_get(l->slots[2][1]);
        EXPECT_STREQ(first->user->name, "member 2");
        // Every group got its member list from the one query.
        EXPECT_EQ(map_count(c->member_large_lists), GROUPS);
        return 0;
    });
    auto q = server.received("ptt.rr.QueryMembers")[0].msg;
    EXPECT_EQ(reinterpret_cast<const Ptt__Rr__QueryMembers *>(q.get())->n_gids, GROUPS);
}

TEST_F(CacheScaleTest, GroupsBeyondASegmentAreNotStoredAndNotLeaked)
{
    const uint32_t n = CACHE_SEGMENT_MAX + 1;
    std::vector<Ptt__Group> groups(n);
    std::vector<std::string> names(n);
    std::vector<Ptt__Group *> pointers(n);
    for (uint32_t i = 0; i < n; i++) {
        ptt__group__init(&groups[i]);
        groups[i].gid = 50000 + i;
        names[i] = "g" + std::to_string(i);
        groups[i].name = const_cast<char *>(names[i].c_str());
        pointers[i] = &groups[i];
    }
    Ptt__Rr__QueryGroupAck ack = PTT__RR__QUERY_GROUP_ACK__INIT;
    ack.n_groups = n;
    ack.groups = pointers.data();
    on_looper([&] {
        return dispatcher_deliver(connection_get_dispatcher(engine->connection), &ack.base);
    });
    on_looper([&] {
        EXPECT_EQ(cache_group_count(engine->cache), CACHE_SEGMENT_MAX);
        EXPECT_NE(cache_get_group_by_gid(engine->cache, 50000), nullptr);
        EXPECT_EQ(cache_get_group_by_gid(engine->cache, 50000 + CACHE_SEGMENT_MAX), nullptr);
        return 0;
    });
}

} // namespace ptt::test
