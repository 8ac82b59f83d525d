// The 35 named engine events: each reaches exactly its listener slot and,
// through the notify bridge, its application callback with the converted
// arguments (names cut at 63 bytes, NULL lists for zero counts); events
// without an application callback stay silent there.
#include "cache.h"
#include "core_fixture.h"
#include "dispatcher.h"
#include "lirko_events.h"
#include "notify_recorder.h"
#include "ptt.pb-c.h"
#include "ptt_rr.pb-c.h"

#include <cstring>

namespace ptt::test
{

static const std::string LONG_GROUP(100, 'G');
static const std::string CUT_GROUP(63, 'G');
static const std::string LONG_TEXT(100, 'm');

struct EventRow {
    const char *word;
    int32_t code;
    int32_t value;
    intptr_t data;
    void *payload;
    std::vector<NotifyCall> listener;
    std::vector<NotifyCall> app;
};

class EventsTest : public EngineFixture
{
  protected:
    void SetUp() override
    {
        EngineFixture::SetUp();
        if (HasFatalFailure())
            return;
        record_notifications(lirko_notify_bridge_table(), true);
        seed_directory();
        NotifyRecorder::get().clear();
    }

    void TearDown() override
    {
        NotifyRecorder::get().target = nullptr;
        EngineFixture::TearDown();
    }

    void deliver(const ProtobufCMessage &msg)
    {
        on_looper([&] {
            return dispatcher_deliver(connection_get_dispatcher(engine->connection), &msg);
        });
    }

    // Group 2001 with a 100-byte name, user 1001 "Alice".
    void seed_directory()
    {
        Ptt__Group g = PTT__GROUP__INIT;
        g.gid = 2001;
        g.name = const_cast<char *>(LONG_GROUP.c_str());
        Ptt__Group *groups[] = {&g};
        Ptt__Rr__QueryGroupAck gack = PTT__RR__QUERY_GROUP_ACK__INIT;
        gack.n_groups = 1;
        gack.groups = groups;
        deliver(gack.base);
        Ptt__User u = PTT__USER__INIT;
        u.uid = 1001;
        u.name = const_cast<char *>("Alice");
        Ptt__User *users[] = {&u};
        Ptt__Rr__QueryUsersAck uack = PTT__RR__QUERY_USERS_ACK__INIT;
        uack.n_users = 1;
        uack.users = users;
        deliver(uack.base);
        settle();
    }

    void post(const EventRow &row)
    {
        std::string name = std::string(LIRKO_EVENT_PREFIX) + row.word;
        hal_looper_event ev = {};
        ev.name = const_cast<char *>(name.c_str());
        ev.code = row.code;
        ev.value = row.value;
        ev.data = row.data;
        ev.payload = row.payload;
        hal_looper_post_event(engine->looper, &ev, NULL);
        settle();
    }
};

TEST_F(EventsTest, EveryEventReachesExactlyItsSlotAndCallback)
{
    static uint32_t joined[] = {1001, 1002};
    static uint32_t unused[] = {7};
    static member_change change = {unused, 0, NULL, 0, joined, 2, NULL, 0};
    static uint32_t changed_users[] = {1001};
    static uint8_t record_block[201];
    memset(record_block, 0, sizeof(record_block));
    memcpy(record_block, "f.amr", 5);
    memcpy(record_block + 100, "12:00", 5);
    record_block[200] = 1;
    static uint8_t stop_block[201];
    memcpy(stop_block, record_block, sizeof(stop_block));
    stop_block[200] = 0; // nothing was written
    static uint8_t voice[20] = {0xAB};

    const std::string g100 = "\"" + LONG_GROUP + "\"";
    const std::string g63 = "\"" + CUT_GROUP + "\"";
    const std::string text = "\"" + LONG_TEXT + "\"";
    const std::string text63 = "\"" + LONG_TEXT.substr(0, 63) + "\"";
    const EventRow rows[] = {
        {"notify_message", 0, 0, (intptr_t)LONG_TEXT.c_str(), NULL, {{0, text}}, {{1, text63}}},
        {"notify_error", -40, 0, 0, NULL, {{1, "null,-40"}}, {{2, "\"\",-40"}}},
        {"online_status", 0, 0, 0, NULL, {}, {}},
        {"audio_enable_changed", 0x101, 0, 0, NULL, {{3, "1"}}, {{3, "1"}}},
        {"start_watch_group", 77, 0, 0, NULL, {{41, "77"}}, {{32, "77"}}},
        {"have_broadcast", 0, 0, 0, NULL, {{4, "null"}}, {}},
        {"broadcast_play_started", 5, 0, 0, NULL, {{5, "5"}}, {}},
        {"broadcast_play_finished", 6, 0, 0, NULL, {{6, "6"}}, {}},
        {"name_changed", 1, 0, 0, NULL, {{7, "1"}}, {{4, "1"}}},
        {"password_changed", 0, 0, 0, NULL, {{8, "0"}}, {{5, "0"}}},
        {"memberlist_changed", 2001, 0, 0, NULL, {{9, "2001"}}, {{6, "2001"}}},
        {"members_changed",
         2001,
         0,
         (intptr_t)&change,
         NULL,
         {{23, "2001,ptr,0,null,0,ptr,2,null,0"}},
         {{7, "2001,null,0,null,0,ptr,2,null,0"}}},
        {"requestcontact_update", 0, 0, 0, NULL, {{18, ""}}, {}},
        {"grouplist_changed", 0, 0, 0, NULL, {{10, ""}}, {{8, ""}}},
        {"contactlist_changed", 0, 0, 0, NULL, {{11, ""}}, {}},
        {"contactship_ask", 3, 0, 0, NULL, {{12, "3,null"}}, {}},
        {"user_start_speak",
         2001,
         1001,
         0,
         NULL,
         {{13, "1001,\"Alice\",2001," + g100}},
         {{10, "1001,\"Alice\",2001," + g63}}},
        {"user_stop_speak",
         2001,
         4242, // not in the directory: no name
         0,
         NULL,
         {{14, "4242,null,2001," + g100}},
         {{12, "4242,\"\",2001," + g63}}},
        {"start_speak", 0, 0, 0, NULL, {{15, "0,null"}}, {{13, "0,\"\""}}},
        {"stop_speak", 0, 0, 0, NULL, {{16, "0,null"}}, {{14, "0,\"\""}}},
        {"current_group_changed", 2001, 0, 0, NULL, {{17, "2001," + g100}}, {{15, "2001," + g63}}},
        {"leave_group", 2001, 0, 0, NULL, {{35, "2001," + g100}}, {}},
        {"location_changed", 0, 0, 0, NULL, {}, {}},
        {"user_changed", 1, 0, 0, changed_users, {{19, "1,ptr"}}, {{16, "1,ptr"}}},
        {"watch_group_update", 0, 0, 0, NULL, {{20, ""}}, {{17, ""}}},
        {"start_playing_sound",
         2001,
         1001,
         0,
         NULL,
         {{21, "1001,\"Alice\",2001," + g100}},
         {{18, "1001,\"Alice\",2001," + g63}}},
        {"stop_playing_sound",
         2001,
         1001,
         0,
         NULL,
         {{22, "1001,\"Alice\",2001," + g100}},
         {{19, "1001,\"Alice\",2001," + g63}}},
        {"start_record_voice",
         2001,
         1001,
         0,
         record_block,
         {{25, "2001,1001,\"12:00\",\"f.amr\""}},
         {{22, "2001,1001,\"12:00\",\"f.amr\""}}},
        {"stop_record_voice",
         2001,
         1001,
         0,
         stop_block,
         {{26, "0,2001,1001,\"12:00\",\"f.amr\""}},
         {{23, "0,2001,1001,\"12:00\",\"f.amr\""}}},
        {"stop_play_recordfile", 0, 0, 0, NULL, {{27, ""}}, {{25, ""}}},
        {"send_play_data", 20, 0, 0, voice, {{33, "ptr,20"}}, {{11, "ptr,20"}}},
        {"singlecall", 1, 0, 0, NULL, {{54, "1"}}, {{46, "1"}}},
        {"audio_status", 2, 0x105, 0, NULL, {{34, "2,5"}}, {}},
        {"udp_overtime", 3, 0, 0, NULL, {{1, "null,-21"}, {2, "1"}}, {{2, "\"\",-21"}, {0, "1"}}},
        {"department_message", 0, 0, 0, NULL, {{48, ""}}, {{40, ""}}},
    };
    ASSERT_EQ((int)(sizeof(rows) / sizeof(rows[0])), lirko_event_count());
    for (int i = 0; i < lirko_event_count(); i++) {
        const EventRow &row = rows[i];
        SCOPED_TRACE(row.word);
        EXPECT_STREQ(lirko_event_word(i), row.word); // subscription order
        NotifyRecorder::get().clear();
        post(row);
        EXPECT_EQ(NotifyRecorder::get().listener_calls(), row.listener);
        EXPECT_EQ(NotifyRecorder::get().app_calls(), row.app);
        if (std::string(row.word) == "user_changed") {
            EXPECT_EQ(NotifyRecorder::get().users(), std::vector<std::string>{"1001:Alice:0:0"});
        }
    }
    // udp_overtime left the engine offline with its code as the last error.
    EXPECT_EQ(on_looper([&] { return engine->last_error; }), -21);
    EXPECT_EQ(state(), LIRKO_STATUS_OFFLINE);
}

TEST_F(EventsTest, MembersChangedWithoutDataCallsNothing)
{
    post({"members_changed", 2001, 0, 0, NULL, {}, {}});
    EXPECT_TRUE(NotifyRecorder::get().listener_calls().empty());
    EXPECT_TRUE(NotifyRecorder::get().app_calls().empty());
}

TEST_F(EventsTest, UsersChangedWithAMissingUserCallsNothing)
{
    static uint32_t uids[] = {1001, 9999};
    post({"user_changed", 2, 0, 0, uids, {}, {}});
    EXPECT_EQ(NotifyRecorder::get().listener_calls(), (std::vector<NotifyCall>{{19, "2,ptr"}}));
    EXPECT_TRUE(NotifyRecorder::get().app_calls().empty());
}

TEST_F(EventsTest, CurrentGroupZeroStoresZeroAndArmsNoQuery)
{
    post({"current_group_changed", 2001, 0, 0, NULL, {}, {}});
    EXPECT_EQ(on_looper([&] { return (int)engine->last_gid; }), 2001);
    NotifyRecorder::get().clear();
    post({"current_group_changed", 0, 0, 0, NULL, {}, {}});
    EXPECT_EQ(on_looper([&] { return (int)engine->last_gid; }), 0);
    EXPECT_EQ(NotifyRecorder::get().app_calls(), (std::vector<NotifyCall>{{15, "0,\"\""}}));
    // The member query armed for 2001 was cancelled and none was armed for 0.
    EXPECT_EQ(on_looper([&] {
                  return hal_looper_cancel_timer(engine->looper, query_membercallback, engine);
              }),
              -1);
}

TEST_F(EventsTest, CurrentGroupIsIgnoredWhileAnInviteFailureIsMarked)
{
    on_looper([&] {
        engine->audio_prompt = 1;
        engine->invite_failed = 0xFFFFFFFFu;
        return 0;
    });
    post({"current_group_changed", 2001, 0, 0, NULL, {}, {}});
    EXPECT_TRUE(NotifyRecorder::get().listener_calls().empty());
    EXPECT_EQ(on_looper([&] { return (int)engine->last_gid; }), 0);
}

} // namespace ptt::test
