// The listener table and the application callback table: every setter and
// getter of both numberings, driven from the one callback table, and the
// notify bridge's conversions.
#include "cache.h"
#include "hal_ctx.h"
#include "hal_looper.h"
#include "lirko.h"
#include "lirko_notify.h"
#include "lirko_win_frame.h"
#include "notify_recorder.h"
#include "test_support.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace ptt::test
{

template <typename F> struct Nop;
template <typename... A> struct Nop<void (*)(A...)> {
    static void fn(A...) {}
};
template <typename F> struct Nop2;
template <typename... A> struct Nop2<void (*)(A...)> {
    static void fn(A...) {}
};

static const void *as_ptr(const void *slot)
{
    const void *p;
    memcpy(&p, slot, sizeof(p));
    return p;
}

TEST(CallbackTable, InternalSettersStoreAndOnlyTwoRefuseNull)
{
    lirko_t engine = {};
    int rows = 0;
#define CHECK_ROW(slot, listener, field, type, setter, getter)                                     \
    {                                                                                              \
        SCOPED_TRACE(#setter);                                                                     \
        rows++;                                                                                    \
        type first = &Nop<type>::fn;                                                               \
        EXPECT_EQ(setter(&engine, first), 0);                                                      \
        EXPECT_EQ(getter(&engine), first);                                                         \
        /* The slot number is the field's position in the table. */                                \
        EXPECT_EQ(as_ptr((const char *)&engine.callbacks + (slot) * sizeof(void *)),               \
                  as_ptr(&first));                                                                 \
        bool refuses = (slot) == 2 || (slot) == 29;                                                \
        EXPECT_EQ(setter(&engine, NULL), refuses ? -1 : 0);                                        \
        EXPECT_EQ(getter(&engine), refuses ? first : NULL);                                        \
        EXPECT_EQ(setter(NULL, first), -1);                                                        \
        EXPECT_EQ(getter(NULL), (type)NULL);                                                       \
    }
#define CHECK_EXPORTED_ROW(slot, listener, field, type, win_setter, setter, getter)                \
    CHECK_ROW(slot, listener, field, type, setter, getter)
    LIRKO_CALLBACK_TABLE(CHECK_EXPORTED_ROW, CHECK_ROW)
#undef CHECK_ROW
#undef CHECK_EXPORTED_ROW
    EXPECT_EQ(rows, LIRKO_CALLBACK_COUNT);
}

TEST(CallbackTable, ExportedSettersStoreOnTheLooperAndKeepThePreviousOnNull)
{
    TempCwd cwd;
    ASSERT_EQ(lirko_win_on_load(cwd.path().c_str()), 0);
#define CHECK_EXPORTED(slot, listener, field, type, win_setter, setter, getter)                    \
    {                                                                                              \
        SCOPED_TRACE(#win_setter);                                                                 \
        type first = &Nop2<type>::fn;                                                              \
        EXPECT_EQ(win_setter(first), 0);                                                           \
        EXPECT_EQ(win_setter(NULL), -1);                                                           \
        type stored = NULL;                                                                        \
        lirko_win_run(                                                                             \
            [](lirko_t *engine, void *arg) {                                                       \
                *(type *)arg = getter(engine);                                                     \
                return 0;                                                                          \
            },                                                                                     \
            &stored, -1);                                                                          \
        EXPECT_EQ(stored, first);                                                                  \
    }
#define SKIP_INTERNAL(slot, listener, field, type, setter, getter)
    LIRKO_CALLBACK_TABLE(CHECK_EXPORTED, SKIP_INTERNAL)
#undef CHECK_EXPORTED
#undef SKIP_INTERNAL
    lirko_win_on_unload();
}

TEST(ListenerTable, RegisterCopiesEverySlotAndUnregisterClearsThem)
{
    lirko_t engine = {};
    lirko_notify_t table = recording_listeners();
    int marker = 0;
    ASSERT_EQ(lirko_register_notify(&engine, &table, &marker), 0);
    EXPECT_EQ(memcmp(&engine.notify, &table, LIRKO_LISTENER_COUNT * sizeof(void *)), 0);
    EXPECT_EQ(engine.notify.user_data, &marker);
    EXPECT_EQ(lirko_print_notify(&engine, &table), 0);
    ASSERT_EQ(lirko_unregister_notify(&engine), 0);
    lirko_notify_t zero = {};
    EXPECT_EQ(memcmp(&engine.notify, &zero, sizeof(zero)), 0);
    EXPECT_EQ(lirko_register_notify(&engine, NULL, NULL), -1);
}

// Every bridge slot, its application callback unset, does nothing; set, it
// reaches exactly its own callback.
TEST(NotifyBridge, EachSlotReachesOnlyItsCallback)
{
    lirko_t engine = {};
    const lirko_notify_t *bridge = lirko_notify_bridge_table();
    lirko_register_notify(&engine, bridge, NULL);
    NotifyRecorder &rec = NotifyRecorder::get();
    rec.clear();
    // Nothing set: nothing heard.
    uint32_t ids[] = {1, 2};
    cache_user u = {};
    u.uid = 7;
    u.name = (char *)"Seven";
    cache_user *users[] = {&u};
    sos_alarm_t alarm = {};
    auto fire_all = [&] {
        lirko_notify_t &t = engine.notify;
        t.on_message(&engine, NULL, "m");
        t.on_error(&engine, NULL, NULL, -1);
        t.on_online_status_changed(&engine, NULL, LIRKO_STATUS_ONLINE);
        t.on_audio_enabled(&engine, NULL, 1);
        t.on_have_broadcast(&engine, NULL, NULL);
        t.on_broadcast_started(&engine, NULL, 1);
        t.on_broadcast_finished(&engine, NULL, 1);
        t.on_name_changed(&engine, NULL, 1);
        t.on_password_changed(&engine, NULL, 1);
        t.on_memberlist_changed(&engine, NULL, 5);
        t.on_grouplist_changed(&engine, NULL);
        t.on_contactlist_changed(&engine, NULL);
        t.on_contactship_asked(&engine, NULL, 1, NULL);
        t.on_user_start_speak(&engine, NULL, 1, "a", 2, "b");
        t.on_user_stop_speak(&engine, NULL, 1, "a", 2, "b");
        t.on_start_speak(&engine, NULL, 2, "b");
        t.on_stop_speak(&engine, NULL, 2, "b");
        t.on_current_group(&engine, NULL, 2, "b");
        t.on_requestcontactlist_changed(&engine, NULL);
        t.on_users_changed(&engine, NULL, 1, users);
        t.on_watchgroup_changed(&engine, NULL);
        t.on_start_playing_sound(&engine, NULL, 1, "a", 2, "b");
        t.on_stop_playing_sound(&engine, NULL, 1, "a", 2, "b");
        t.on_members_changed(&engine, NULL, 2, ids, 2, NULL, 0, NULL, 0, NULL, 0);
        t.on_roles_changed(&engine, NULL, 2);
        t.on_start_record_voice(&engine, NULL, 2, 1, "t", "f");
        t.on_stop_record_voice(&engine, NULL, 1, 2, 1, "t", "f");
        t.on_stop_play_recordfile(&engine, NULL);
        t.on_audio_enabled_call(&engine, NULL, 1, 1, ids, 2);
        t.on_dispatcher(&engine, NULL, 1, 1, 2, ids, 2);
        t.on_take_mic(&engine, NULL, 1, ids, 2);
        t.on_switch_location(&engine, NULL, 1, 1, ids, 2);
        t.on_send(&engine, NULL, 1);
        t.on_send_play_data(&engine, NULL, (const uint8_t *)"x", 1);
        t.on_audio_status(&engine, NULL, 1, 1);
        t.on_leave_group(&engine, NULL, 2, "b");
        t.on_multimedia_message(&engine, NULL, "mm");
        t.on_external_message(&engine, NULL, "ex");
        t.on_get_watch_group(&engine, NULL, ids, 2);
        t.on_rm_watch_group(&engine, NULL, ids, 1, ids, 2, 0);
        t.on_add_watch_group(&engine, NULL, ids, 1, ids, 2, 0);
        t.on_start_watch_group(&engine, NULL, 2);
        t.on_send_invite_timeout(&engine);
        t.on_send_response_invite_timeout(&engine);
        t.on_send_invite_ack(&engine, 9, ids, 2, 0);
        t.on_send_response_invite_ack(&engine, 0);
        t.on_push_invite(&engine, 9, 1, 1, 0, "hi", 0);
        t.on_push_response_invite(&engine, 9, 1, 1, 0);
        t.on_query_department(&engine);
        t.on_send_encryp_timeout(&engine);
        t.on_send_encryp_ack(&engine, 0);
        t.on_sos_alarm(&engine, &alarm);
        t.on_process_sos(&engine, 0);
        t.on_close_sos(&engine, 0);
        t.on_single_call(&engine, NULL, 1);
    };
    fire_all();
    EXPECT_TRUE(rec.app_calls().empty());

    // Every callback set: each listener slot with a callback reaches it
    // once; the roles-changed callback is reachable but nothing in the
    // engine raises it.
#define SET_REC(slot, listener, field, type, win_setter, setter, getter)                           \
    setter(&engine, &AppRecorder<slot, type>::fn);
#define SET_REC_INTERNAL(slot, listener, field, type, setter, getter)                              \
    setter(&engine, &AppRecorder<slot, type>::fn);
    LIRKO_CALLBACK_TABLE(SET_REC, SET_REC_INTERNAL)
#undef SET_REC
#undef SET_REC_INTERNAL
    fire_all();
    std::vector<int> heard;
    for (const NotifyCall &c : rec.app_calls())
        heard.push_back(c.slot);
    std::vector<int> want;
#define WANT(slot, listener, field, type, win_setter, setter, getter) want.push_back(slot);
#define WANT_INTERNAL(slot, listener, field, type, setter, getter) want.push_back(slot);
    LIRKO_CALLBACK_TABLE(WANT, WANT_INTERNAL)
#undef WANT
#undef WANT_INTERNAL
    std::sort(heard.begin(), heard.end());
    EXPECT_EQ(heard, want); // each of the 47 exactly once
}

TEST(NotifyBridge, UsersChangedWithAMissingUserCallsNothing)
{
    lirko_t engine = {};
    lirko_register_notify(&engine, lirko_notify_bridge_table(), NULL);
    NotifyRecorder::get().clear();
    lirko_set_users_changed_cb(&engine, record_users);
    cache_user u = {};
    u.uid = 7;
    u.name = (char *)"Seven";
    cache_user *users[] = {&u, NULL};
    engine.notify.on_users_changed(&engine, NULL, 2, users);
    engine.notify.on_users_changed(&engine, NULL, 1, NULL);
    EXPECT_TRUE(NotifyRecorder::get().app_calls().empty());
    engine.notify.on_users_changed(&engine, NULL, 1, users);
    EXPECT_EQ(NotifyRecorder::get().users(), std::vector<std::string>{"7:Seven:0:0"});
}

// The voice-data report logs its bytes 16 to a line before the call.
TEST(NotifyBridge, VoiceDataIsLoggedSixteenBytesToALine)
{
    TempCwd cwd;
    lirko_t *engine = lirko_new(cwd.path().c_str());
    ASSERT_NE(engine, nullptr);
    static int calls = 0;
    hal_looper_exec(
        engine->looper,
        [](hal_looper *, void *arg) {
            lirko_t *e = (lirko_t *)arg;
            lirko_register_notify(e, lirko_notify_bridge_table(), NULL);
            lirko_set_user_voice_data_cb(
                e, [](const uint8_t *, int length) { calls += length == 20; });
            uint8_t bytes[20];
            for (int i = 0; i < 20; i++)
                bytes[i] = (uint8_t)(0xA0 + i);
            e->notify.on_send_play_data(e, NULL, bytes, 20);
            return 0;
        },
        engine);
    lirko_destroy(&engine);
    EXPECT_EQ(calls, 1);
    std::string log = read_file(cwd.file("kvptt.log"));
    EXPECT_NE(log.find("--A0 A1 A2 A3 A4 A5 A6 A7 A8 A9 AA AB AC AD AE AF "), std::string::npos);
    EXPECT_NE(log.find("--B0 B1 B2 B3 "), std::string::npos);
}

} // namespace ptt::test
