// The directory cache against the test server: what a login fills in, the
// display order of members (with the real pinyin table), what pushes change,
// the department tree, and the settings that end in custom.ini.
#include "cache.h"
#include "cache_internal.h"
#include "core_fixture.h"
#include "dispatcher.h"
#include "lirko_settings.h"
#include "list.h"
#include "list_lgli.h"
#include "map.h"
#include "notify_recorder.h"
#include "ptt.pb-c.h"
#include "ptt_push.pb-c.h"
#include "ptt_rr.pb-c.h"

#include <set>
#include <sstream>
#include <unistd.h>

namespace ptt::test
{

// Members of group 2001, by segment: online and in the group, online
// elsewhere, offline. Names exercise the order: digit runs compare as
// numbers, letters and digits before other characters, ideographs by their
// pinyin initial (li before zhang), "#" last.
static const char *DIRECTORY = R"(
user 1000 dispatcher EFE0EF527057A704259299FD98908DFA 9 Dispatcher
user 1001 u1001 5F807E1813957BD22B735FDD1349A961 1 item10
user 1002 u1002 5F807E1813957BD22B735FDD1349A961 1 item2
user 1003 u1003 5F807E1813957BD22B735FDD1349A961 1 Bob
user 1004 u1004 5F807E1813957BD22B735FDD1349A961 1 张三
user 1005 u1005 5F807E1813957BD22B735FDD1349A961 1 Amy
user 1006 u1006 5F807E1813957BD22B735FDD1349A961 1 Zed
user 1007 u1007 5F807E1813957BD22B735FDD1349A961 1 007
user 1008 u1008 5F807E1813957BD22B735FDD1349A961 1 7
user 1009 u1009 5F807E1813957BD22B735FDD1349A961 1 李四
user 1010 u1010 5F807E1813957BD22B735FDD1349A961 1 #hash
online 1000 1001 1002 1004 1006 1007 1008 1009 1010
group 2001 1 10 Patrol
group 2002 1 20 Fire Brigade
group 2003 0 5 All Hands
member 2001 1000 in
member 2001 1001 in
member 2001 1002 in
member 2001 1003 in
member 2001 1004 in
member 2001 1005 out
member 2001 1006 out
member 2001 1007 in
member 2001 1008 in
member 2001 1009 in
member 2001 1010 out
member 2002 1000 in
member 2002 1003 in
department 3000 0 Headquarters
department 3001 3000 Operations
department 3002 3001 Night Shift
dgroup 3000 2003
dgroup 3001 2001
dgroup 3002 2002
contact 1000 1001
contact 1000 1003
contact 1000 1006
udept 1000 3001
conf default_group 2002
conf audio_enabled 1
conf encrypt 1 AES 0123456789012345678901234567890123456789012345678901234567890123XYZ
conf sms_center +8613800000000
conf watchgroup 2003
)";

static const std::vector<uint32_t> DISPLAY_ORDER = {
    1008, 1007, 1000, 1002, 1001, 1009, 1004, // online in the group
    1006, 1010,                               // online elsewhere
    1005, 1003,                               // offline
};

// The settings of an INI text as "section/key=value" lines, sorted: the
// store writes sections and keys in its hash order, which a reload may
// change.
static std::set<std::string> ini_settings(const std::string &text)
{
    std::set<std::string> out;
    std::istringstream in(text);
    std::string line, section;
    while (std::getline(in, line)) {
        if (line.size() > 1 && line[0] == '[')
            section = line.substr(1, line.find(']') - 1);
        else if (line.find(" = ") != std::string::npos)
            out.insert(section + "/" + line);
    }
    return out;
}

static std::string directory_path()
{
    return "/tmp/ptt-cache-test-" + std::to_string(getpid()) + ".txt";
}

static PttServer::Options options_for(const std::string &text)
{
    write_file(directory_path(), text);
    PttServer::Options o;
    o.directory = directory_path();
    return o;
}

class CacheTest : public EngineFixture
{
  protected:
    explicit CacheTest(const std::string &directory = DIRECTORY)
        : EngineFixture(options_for(directory))
    {
        copy_file(run_path("pinyin.code"), cwd.file("pinyin.code"));
    }
    ~CacheTest() override
    {
        unlink(directory_path().c_str());
    }

    void SetUp() override
    {
        EngineFixture::SetUp();
        if (HasFatalFailure())
            return;
        record_notifications();
    }

    // Logs in and waits until the members of every group have arrived.
    void login_and_load()
    {
        login_online();
        ASSERT_TRUE(server.wait_count("ptt.rr.QueryMembers", 1));
        ASSERT_TRUE(wait_until([&] { return member_order(2001).size() == 11; }));
    }

    cache *c()
    {
        return engine->cache;
    }

    std::vector<uint32_t> member_order(uint32_t gid, int start = 0, int count = -1)
    {
        std::vector<uint32_t> out;
        on_looper([&] {
            list *l = list_new();
            int rc = cache_get_memberlist(c(), gid, start, count, l);
            for (list_node *n = list_begin(l); n; n = list_next(n))
                out.push_back(((member_entry *)list_data_get(n))->uid);
            list_del(l);
            return rc;
        });
        return out;
    }

    std::vector<uint32_t> contact_order()
    {
        std::vector<uint32_t> out;
        on_looper([&] {
            for (list_node *n = list_begin(c()->contacts->list); n; n = list_next(n))
                out.push_back(((cache_user *)list_data_get(n))->uid);
            return 0;
        });
        return out;
    }

    std::vector<std::string> group_names()
    {
        std::vector<std::string> out;
        on_looper([&] {
            for (uint32_t i = 0; i < cache_group_count(c()); i++)
                out.push_back(cache_group_at(c(), i)->name);
            return 0;
        });
        return out;
    }

    // Waits until the engine has handled a push: the server has sent it and
    // the looper has read it.
    void pushed()
    {
        server.sync();
        settle();
        server.sync();
        settle();
    }

    void deliver(const ProtobufCMessage &msg)
    {
        on_looper([&] {
            return dispatcher_deliver(connection_get_dispatcher(engine->connection), &msg);
        });
        settle();
    }

    int count_listener(int slot)
    {
        int n = 0;
        for (const NotifyCall &call : NotifyRecorder::get().listener_calls())
            n += call.slot == slot;
        return n;
    }
};

TEST_F(CacheTest, LoginFillsGroupsMembersContactsAndMyself)
{
    login_and_load();
    EXPECT_EQ(group_names(), (std::vector<std::string>{"All Hands", "Fire Brigade", "Patrol"}));
    EXPECT_EQ(member_order(2001), DISPLAY_ORDER);
    // Online contacts first, each part by name.
    // Byte order: upper case sorts before lower case.
    EXPECT_EQ(contact_order(), (std::vector<uint32_t>{1006, 1001, 1003}));
    // Member ranges walk the segments in display order.
    EXPECT_EQ(member_order(2001, 5, 4), (std::vector<uint32_t>{1009, 1004, 1006, 1010}));
    EXPECT_EQ(member_order(2001, 9, 10), (std::vector<uint32_t>{1005, 1003}));

    on_looper([&] {
        cache_user *me = cache_get_myself(c());
        EXPECT_EQ(me->uid, 1000u);
        EXPECT_STREQ(me->name, "Dispatcher");
        EXPECT_EQ(me->role, 9);
        EXPECT_EQ(me->encrypt_on, 1);
        EXPECT_EQ(me->has_encrypt, 1);
        // A 67-byte key is kept as its first 64 bytes, terminated.
        EXPECT_EQ(strlen(me->encrypt_key), 64u);
        EXPECT_EQ(std::string(me->encrypt_key).substr(60), "0123");
        EXPECT_STREQ(me->key_method, "AES");
        EXPECT_EQ(c()->current_did, 3001u);
        EXPECT_EQ(c()->config.default_group, 2002u);
        EXPECT_EQ(c()->config.audio_enabled, 1u);
        EXPECT_EQ(c()->config.n_sms_center, 1u);
        EXPECT_STREQ(c()->config.sms_center[0], "+8613800000000");
        EXPECT_STREQ(c()->server_version, "1.09.00");
        EXPECT_EQ(cache_get_server_is_old(c()), 0);
        // Every member has its user record; members listed in a group keep it.
        cache_user *bob = cache_find_user(c(), 1003);
        EXPECT_NE(bob, nullptr);
        EXPECT_EQ(bob->online, 1u);
        member_item *it = cache_get_group_entry(c(), 2001, 1005);
        EXPECT_NE(it, nullptr);
        EXPECT_EQ(it->ingroup, 0);
        return 0;
    });
    // A newer server is asked to watch the default groups.
    ASSERT_TRUE(server.wait_count("ptt.rr.WatchGroupEx", 1));
    auto ex = server.received("ptt.rr.WatchGroupEx")[0].msg;
    const auto *wx = reinterpret_cast<const Ptt__Rr__WatchGroupEx *>(ex.get());
    ASSERT_EQ(wx->n_gids, 1u);
    EXPECT_EQ(wx->gids[0], 2003u);
    EXPECT_EQ(wx->uid, 1000u);
    EXPECT_TRUE(wx->store);
    EXPECT_EQ(wx->expect_pt, 103u);
    // The login answer's audio setting and the member lists were reported.
    EXPECT_GE(count_listener(3), 1);
    EXPECT_GE(count_listener(9), 1);
    EXPECT_GE(count_listener(10), 1);
}

TEST_F(CacheTest, PushesMoveMembersAndContacts)
{
    login_and_load();
    NotifyRecorder::get().clear();

    // Amy comes online: offline -> online elsewhere; her contact would move
    // too, but she is no contact.
    server.edit_directory([](Directory &d) { d.online.insert(1005); });
    push_users_changed(server, {1005});
    pushed();
    EXPECT_EQ(member_order(2001, 7, 3), (std::vector<uint32_t>{1005, 1006, 1010}));
    EXPECT_EQ(count_listener(19), 1);

    // Bob (a contact) comes online: his contact moves to the online part.
    server.edit_directory([](Directory &d) { d.online.insert(1003); });
    push_users_changed(server, {1003});
    pushed();
    EXPECT_EQ(contact_order(), (std::vector<uint32_t>{1003, 1006, 1001}));
    EXPECT_EQ(member_order(2001, 0, 3), (std::vector<uint32_t>{1008, 1007, 1003}));

    // Zed joins (online -> in the group), item2 leaves (online -> elsewhere),
    // Amy is removed.
    NotifyRecorder::get().clear();
    push_members_changed(server, 2001, {{}, {1005}, {1006}, {1002}});
    pushed();
    std::vector<uint32_t> order = member_order(2001);
    EXPECT_EQ(order,
              (std::vector<uint32_t>{1008, 1007, 1003, 1000, 1006, 1001, 1009, 1004, 1002, 1010}));
    EXPECT_EQ(on_looper([&] { return cache_get_group_entry(c(), 2001, 1005) ? 1 : 0; }), 0);
    EXPECT_EQ(NotifyRecorder::get().listener_calls(),
              (std::vector<NotifyCall>{{23, "2001,null,0,ptr,1,ptr,1,ptr,1"}}));
    EXPECT_EQ(on_looper([&] { return (int)c()->last_changed_gid; }), 2001);

    // An offline member stays offline whether it joins or leaves.
    server.edit_directory([](Directory &d) { d.online.erase(1003); });
    push_users_changed(server, {1003});
    pushed();
    push_members_changed(server, 2001, {{}, {}, {}, {1003}});
    pushed();
    EXPECT_EQ(member_order(2001).back(), 1003u);

    // Contacts: one removed by push.
    Ptt__Push__ContactsChanged cc = PTT__PUSH__CONTACTS_CHANGED__INIT;
    uint32_t rm[] = {1006};
    cc.n_rm_contacts = 1;
    cc.rm_contacts = rm;
    server.push(cc.base);
    pushed();
    EXPECT_EQ(contact_order(), (std::vector<uint32_t>{1001, 1003}));
}

TEST_F(CacheTest, GroupListChangesAndTheCurrentGroupEndInCustomIni)
{
    login_and_load();
    Ptt__Group g = PTT__GROUP__INIT;
    g.gid = 2004;
    g.name = const_cast<char *>("Bravo");
    Ptt__Group *groups[] = {&g};
    uint32_t rm[] = {2003};
    Ptt__Push__GroupListChanged glc = PTT__PUSH__GROUP_LIST_CHANGED__INIT;
    glc.n_update_groups = 1;
    glc.update_groups = groups;
    glc.n_rm_groups = 1;
    glc.rm_groups = rm;
    server.push(glc.base);
    pushed();
    EXPECT_EQ(group_names(), (std::vector<std::string>{"Bravo", "Fire Brigade", "Patrol"}));

    // The current group is remembered as the last group, in the file too.
    Ptt__Group cg = PTT__GROUP__INIT;
    cg.gid = 2002;
    cg.name = const_cast<char *>("Fire Brigade 2");
    Ptt__Push__CurrentGroup cur = PTT__PUSH__CURRENT_GROUP__INIT;
    cur.gid = 2002;
    cur.group = &cg;
    server.push(cur.base);
    pushed();
    EXPECT_NE(read_file(cwd.file("custom.ini")).find("last_group = 2002"), std::string::npos);
    EXPECT_EQ(group_names()[1], "Fire Brigade 2");
    // A temporary group is not remembered.
    cg.gid = 2005;
    cg.has_type = 1;
    cg.type = PTT__GROUP__GROUP_TYPE__TEMP;
    cur.gid = 2005;
    server.push(cur.base);
    pushed();
    EXPECT_NE(read_file(cwd.file("custom.ini")).find("last_group = 2002"), std::string::npos);
    // A refused join stores 0.
    Ptt__Rr__JoinGroupAck refused = PTT__RR__JOIN_GROUP_ACK__INIT;
    refused.result = -1;
    server.push(refused.base);
    pushed();
    EXPECT_NE(read_file(cwd.file("custom.ini")).find("last_group = 0"), std::string::npos);
}

TEST_F(CacheTest, SavedSettingsSurviveAReloadUnchanged)
{
    login_and_load();
    const std::string dns = server.dns_entry() + ",127.0.0.1:9";
    on_looper([&] {
        lirko_save_account(engine, "dispatcher", "dispatcher-pw", 0);
        lirko_save_context(engine, "std");
        lirko_save_dns(engine, dns.c_str());
        cache_save_current_gid(c(), 2001);
        return 0;
    });
    const std::string before = read_file(cwd.file("custom.ini"));
    for (const char *line : {"user = dispatcher", "password = dispatcher-pw", "role = 0",
                             "context = std", "last_group = 2001"})
        EXPECT_NE(before.find(line), std::string::npos) << line;
    EXPECT_NE(before.find("dns = " + dns), std::string::npos);
    // Reload from disk and save again: the settings do not change.
    on_looper([&] {
        EXPECT_EQ(hal_ini_load(engine->ini, NULL, NULL), 0);
        return hal_ini_save(engine->ini);
    });
    EXPECT_EQ(ini_settings(read_file(cwd.file("custom.ini"))), ini_settings(before));
    // A new engine on the directory sees the same settings.
    lirko_destroy(&engine);
    engine = lirko_new(cwd.path().c_str());
    ASSERT_NE(engine, nullptr);
    std::string account;
    on_looper([&] {
        account = lirko_get_saved_account(engine);
        return 0;
    });
    EXPECT_EQ(account, "dispatcher");
    EXPECT_EQ(ini_settings(read_file(cwd.file("custom.ini"))), ini_settings(before));
}

TEST_F(CacheTest, DepartmentTreeOfThreeLevels)
{
    login_and_load();
    NotifyRecorder::get().clear();
    auto query_tree = [&](uint32_t did) {
        on_looper([&] {
            Ptt__Rr__QueryDepartmentTree q = PTT__RR__QUERY_DEPARTMENT_TREE__INIT;
            q.did = did;
            return connection_send_msg(engine->connection, &q.base);
        });
        pushed();
    };
    query_tree(3000);
    EXPECT_EQ(count_listener(48), 1);
    department_t *hq = nullptr;
    on_looper([&] {
        hq = cache_get_department_by_did(c(), 3000);
        department_t *ops = cache_get_department_by_did(c(), 3001);
        department_t *night = cache_get_department_by_did(c(), 3002);
        EXPECT_NE(hq, nullptr);
        EXPECT_NE(ops, nullptr);
        EXPECT_NE(night, nullptr);
        if (!hq || !ops || !night)
            return -1;
        EXPECT_STREQ(hq->name, "Headquarters");
        EXPECT_EQ(hq->n_subdid, 1u);
        EXPECT_EQ(hq->subdid[0], 3001u);
        EXPECT_EQ(ops->super, 3000u);
        EXPECT_EQ(night->super, 3001u);
        EXPECT_EQ(night->n_subdid, 0u);
        EXPECT_EQ(ops->n_groups, 1u);
        if (ops->n_groups != 1)
            return -1;
        EXPECT_EQ(ops->groups[0].gid, 2001u);
        EXPECT_STREQ(ops->groups[0].name, "Patrol");
        EXPECT_EQ(ops->groups[0].prior, 10);
        EXPECT_EQ(ops->groups[0].is_encryp, 0u);
        win_group_t all[3] = {};
        EXPECT_EQ(cache_get_all_department(c(), all), 0);
        int dids = 0;
        for (const win_group_t &g : all)
            dids += g.did == 3000 || g.did == 3001 || g.did == 3002;
        EXPECT_EQ(dids, 3);
        win_group_t *night_group = cache_get_department_group_by_gid(c(), 2002);
        EXPECT_NE(night_group, nullptr);
        return 0;
    });
    // A record handed out stays readable through the next tree (and a
    // logout), and is released only with the tree after that.
    query_tree(3001);
    on_looper([&] {
        EXPECT_STREQ(hq->name, "Headquarters");
        EXPECT_EQ(cache_get_department_by_did(c(), 3000), nullptr);
        EXPECT_NE(cache_get_department_by_did(c(), 3002), nullptr);
        return 0;
    });
}

TEST_F(CacheTest, RepeatedDepartmentKeepsTheFirst)
{
    Ptt__Department twin = PTT__DEPARTMENT__INIT;
    twin.did = 3001;
    twin.name = const_cast<char *>("Second");
    Ptt__Department first = PTT__DEPARTMENT__INIT;
    first.did = 3001;
    first.name = const_cast<char *>("First");
    Ptt__Department *subs[] = {&twin};
    first.n_sub_departments = 1;
    first.sub_departments = subs;
    Ptt__Rr__QueryDepartmentTreeAck ack = PTT__RR__QUERY_DEPARTMENT_TREE_ACK__INIT;
    ack.department = &first;
    deliver(ack.base);
    on_looper([&] {
        department_t *d = cache_get_department_by_did(c(), 3001);
        EXPECT_NE(d, nullptr);
        if (d) {
            EXPECT_STREQ(d->name, "First");
        }
        return 0;
    });
}

// A group or user without a name is stored with the empty name and sorts
// like any other.
TEST_F(CacheTest, NamelessGroupsAndUsersAreStored)
{
    Ptt__Group a = PTT__GROUP__INIT, b = PTT__GROUP__INIT, nameless = PTT__GROUP__INIT;
    a.gid = 1;
    a.name = const_cast<char *>("Alpha");
    b.gid = 2;
    b.name = const_cast<char *>("Beta");
    nameless.gid = 3;
    Ptt__Group *groups[] = {&a, &nameless, &b};
    Ptt__Rr__QueryGroupAck ack = PTT__RR__QUERY_GROUP_ACK__INIT;
    ack.n_groups = 3;
    ack.groups = groups;
    deliver(ack.base);
    EXPECT_EQ(group_names().size(), 3u);

    Ptt__User named = PTT__USER__INIT, unnamed = PTT__USER__INIT;
    named.uid = 11;
    named.name = const_cast<char *>("Nina");
    unnamed.uid = 12;
    Ptt__Member m1 = PTT__MEMBER__INIT, m2 = PTT__MEMBER__INIT;
    m1.user = &named;
    m2.user = &unnamed;
    Ptt__Member *members[] = {&m1, &m2};
    Ptt__GroupMembers2 gm = PTT__GROUP_MEMBERS2__INIT;
    gm.gid = 1;
    gm.n_members = 2;
    gm.members = members;
    Ptt__GroupMembers2 *gms[] = {&gm};
    Ptt__Rr__QueryMembersAck2 mack = PTT__RR__QUERY_MEMBERS_ACK2__INIT;
    mack.n_members = 1;
    mack.members = gms;
    deliver(mack.base);
    EXPECT_EQ(member_order(1).size(), 2u);
    on_looper([&] {
        EXPECT_STREQ(cache_find_user(c(), 12)->name, "");
        return 0;
    });
}

// A server may send a group type the schema does not name, a negative one
// too: protobuf-c keeps the number as it arrived, so the test puts it there
// the same way.
static void set_raw_enum(void *field, int32_t value)
{
    memcpy(field, &value, sizeof(value));
}

TEST_F(CacheTest, UnnamedGroupTypesAreKeptAsTheirNumbers)
{
    Ptt__Group g = PTT__GROUP__INIT;
    g.gid = 7;
    g.name = const_cast<char *>("Odd");
    g.has_type = 1;
    set_raw_enum(&g.type, -2);
    Ptt__Group *groups[] = {&g};
    Ptt__Rr__QueryGroupAck ack = PTT__RR__QUERY_GROUP_ACK__INIT;
    ack.n_groups = 1;
    ack.groups = groups;
    deliver(ack.base);
    on_looper([&] {
        cache_group *cg = cache_get_group_by_gid(c(), 7);
        EXPECT_TRUE(cg && cg->type == 0xFFFFFFFEu);
        return 0;
    });

    // Not a temporary group: a join of it is remembered.
    Ptt__Rr__JoinGroupAck join = PTT__RR__JOIN_GROUP_ACK__INIT;
    join.group = &g;
    deliver(join.base);
    EXPECT_NE(read_file(cwd.file("custom.ini")).find("last_group = 7"), std::string::npos);

    Ptt__Department d = PTT__DEPARTMENT__INIT;
    d.did = 30;
    d.n_chat_groups = 1;
    d.chat_groups = groups;
    Ptt__Rr__QueryDepartmentTreeAck tree = PTT__RR__QUERY_DEPARTMENT_TREE_ACK__INIT;
    tree.department = &d;
    deliver(tree.base);
    on_looper([&] {
        win_group_t *dg = cache_get_department_group_by_gid(c(), 7);
        EXPECT_TRUE(dg && dg->type == 0xFFFFFFFEu);
        return 0;
    });
}

TEST_F(CacheTest, VersionOneMembersTakeInGroupOnlyInThePlainList)
{
    server.ignore("ptt.rr.QueryMembers");
    login_online();
    server.ignore("ptt.rr.QueryMembers", false);
    on_looper([&] {
        uint32_t gid = 2002;
        Ptt__Rr__QueryMembers q = PTT__RR__QUERY_MEMBERS__INIT;
        q.n_gids = 1;
        q.gids = &gid;
        return connection_send_msg(engine->connection, &q.base);
    });
    // Wait on the sorted list itself: asking the cache for the members of a
    // group it has none of would send a version-2 query of its own.
    ASSERT_TRUE(wait_until([&] {
        return on_looper([&] {
                   list_lgli *l = (list_lgli *)map_access(c()->member_large_lists, 2002);
                   return l ? (int)list_count(l->list) : 0;
               }) == 2;
    }));
    // Both are new to the sorted list: ingroup 0 there, so Dispatcher
    // (online) is "online elsewhere" ahead of Bob (offline).
    EXPECT_EQ(member_order(2002), (std::vector<uint32_t>{1000, 1003}));
    on_looper([&] {
        list_lgli *l = (list_lgli *)map_access(c()->member_large_lists, 2002);
        EXPECT_EQ(l->counts[1], 1u);
        EXPECT_EQ(l->counts[2], 0u);
        EXPECT_EQ(cache_get_group_entry(c(), 2002, 1000)->ingroup, 1);
        return 0;
    });
}

TEST_F(CacheTest, ContactRequestsAndNewsheets)
{
    login_and_load();
    NotifyRecorder::get().clear();
    Ptt__Push__ContactshipAsked__Request r1 = PTT__PUSH__CONTACTSHIP_ASKED__REQUEST__INIT;
    r1.uid = 1005;
    r1.text = const_cast<char *>("add me");
    r1.uname = const_cast<char *>("Amy");
    Ptt__Push__ContactshipAsked__Request *reqs[] = {&r1, &r1};
    Ptt__Push__ContactshipAsked asked = PTT__PUSH__CONTACTSHIP_ASKED__INIT;
    asked.n_requests = 2;
    asked.requests = reqs;
    server.push(asked.base);
    pushed();
    EXPECT_EQ(on_looper([&] { return (int)list_count(c()->request_contacts); }), 1);
    EXPECT_EQ(count_listener(18), 1);
    uint32_t accepted[] = {1005};
    Ptt__Rr__MakeContactsResponseAck rack = PTT__RR__MAKE_CONTACTS_RESPONSE_ACK__INIT;
    rack.n_new_contacts_uids = 1;
    rack.new_contacts_uids = accepted;
    server.push(rack.base);
    pushed();
    EXPECT_EQ(on_looper([&] { return (int)list_count(c()->request_contacts); }), 0);

    // At most [cache] newsheet entries are kept; ids keep counting.
    on_looper([&] { return hal_ini_replace(engine->ini, "cache", "newsheet", "2"); });
    Ptt__Worksheet w[3];
    Ptt__Worksheet *ws[3];
    const char *texts[] = {"one", "two", "three"};
    for (int i = 0; i < 3; i++) {
        ptt__worksheet__init(&w[i]);
        w[i].current_address = const_cast<char *>(texts[i]);
        ws[i] = &w[i];
    }
    Ptt__Push__NewWorksheet sheet = PTT__PUSH__NEW_WORKSHEET__INIT;
    sheet.n_worksheets = 3;
    sheet.worksheets = ws;
    server.push(sheet.base);
    pushed();
    on_looper([&] {
        EXPECT_EQ(list_count(c()->newsheets), 2u);
        newsheet *first = (newsheet *)list_front(c()->newsheets);
        EXPECT_STREQ(first->text, "two");
        EXPECT_EQ(first->id, 1u);
        EXPECT_EQ(c()->next_newsheet_id, 3u);
        return 0;
    });
}

TEST_F(CacheTest, ReconfiguredReportsOnlyAChangedAudioSetting)
{
    login_and_load();
    NotifyRecorder::get().clear();
    Ptt__Configure conf = PTT__CONFIGURE__INIT;
    conf.has_audio_enabled = 1;
    conf.audio_enabled = 1; // unchanged
    Ptt__Push__Reconfigured re = PTT__PUSH__RECONFIGURED__INIT;
    re.conf = &conf;
    server.push(re.base);
    pushed();
    EXPECT_EQ(count_listener(3), 0);
    conf.audio_enabled = 0;
    server.push(re.base);
    pushed();
    EXPECT_EQ(NotifyRecorder::get().listener_calls(), (std::vector<NotifyCall>{{3, "0"}}));
    // No encryption setting: myself's flags are cleared.
    EXPECT_EQ(on_looper([&] { return c()->myself->has_encrypt; }), 0);
}

TEST_F(CacheTest, AnEmptyGroupAnswerChangesNothing)
{
    login_and_load();
    NotifyRecorder::get().clear();
    Ptt__Rr__QueryGroupAck empty = PTT__RR__QUERY_GROUP_ACK__INIT;
    deliver(empty.base);
    EXPECT_EQ(group_names().size(), 3u);
    EXPECT_EQ(count_listener(10), 0);
}

TEST_F(CacheTest, ServerAge)
{
    struct {
        const char *version;
        int old;
    } const cases[] = {{"", 1},        {"1.08.07", 1}, {"1.08.06", 1},
                       {"1.08.08", 0}, {"1.10.00", 0}, {"0.99.99", 1}};
    for (const auto &c : cases) {
        on_looper([&] {
            snprintf(engine->cache->server_version, sizeof(engine->cache->server_version), "%s",
                     c.version);
            return 0;
        });
        EXPECT_EQ(on_looper([&] { return cache_get_server_is_old(engine->cache); }), c.old)
            << c.version;
    }
}

class OldServerCacheTest : public CacheTest
{
  protected:
    OldServerCacheTest() : CacheTest(std::string(DIRECTORY) + "version 1 8 7\n") {}
};

TEST_F(OldServerCacheTest, DefaultWatchGroupsAreKeptLocally)
{
    login_and_load();
    on_looper([&] {
        EXPECT_EQ(list_count(c()->watch_group_ids), 1u);
        EXPECT_EQ(*(uint32_t *)list_front(c()->watch_group_ids), 2003u);
        return 0;
    });
    EXPECT_EQ(server.count("ptt.rr.WatchGroupEx"), 0u);
    EXPECT_GE(count_listener(20), 1);
}

class NoConfCacheTest : public CacheTest
{
  protected:
    NoConfCacheTest()
        : CacheTest("user 1000 dispatcher EFE0EF527057A704259299FD98908DFA 9 Dispatcher\n")
    {
    }
};

TEST_F(NoConfCacheTest, LoginWithoutConfigurationLeavesEncryptionOff)
{
    login_online();
    on_looper([&] {
        EXPECT_EQ(c()->myself->uid, 1000u);
        EXPECT_EQ(c()->myself->encrypt_on, 0);
        EXPECT_EQ(c()->myself->has_encrypt, 0);
        return 0;
    });
    EXPECT_EQ(count_listener(3), 0); // no audio setting without configuration
}

} // namespace ptt::test
