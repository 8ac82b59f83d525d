// Boundary records and result arrays: layouts pinned bit-exactly, bounded and
// terminated text copies, deep copies that outlive the cache.

// Another header's one-byte `boolean` must not clash with the engine's.
typedef unsigned char boolean;
#define LIRKO_NO_BOOLEAN
#include "cache.h"
#include "lirko_handlers.h"
#include "lirko_records.h"
#include "lirko_results.h"
#include "lirko_win.h"
#include "list.h"
#include "ptt.pb-c.h"
#include "sos.pb-c.h"

#include <gtest/gtest.h>
#include <stddef.h>
#include <stdlib.h>
#include <string.h>
#include <string>

static_assert(sizeof(boolean) == 1, "the other header's boolean stays");

TEST(Records, SizesAndOffsetsMatchTheInterface)
{
    EXPECT_EQ(sizeof(win_user_t), 108u);
    EXPECT_EQ(sizeof(win_member_t), 112u);
    EXPECT_EQ(sizeof(win_group_t), 100u);
    EXPECT_EQ(sizeof(sos_alarm_t), 400u);
    EXPECT_EQ(sizeof(department_t), 120u);
    EXPECT_EQ(sizeof(lirko_boolean_t), sizeof(int));
    EXPECT_EQ(sizeof(uid_t), 4u);
    EXPECT_EQ(sizeof(gid_t), 4u);
    EXPECT_GT((uid_t)-1, 0u);
    struct {
        size_t got, want;
    } const offsets[] = {
        {offsetof(win_group_t, name), 8},           {offsetof(win_group_t, port), 80},
        {offsetof(win_group_t, did), 84},           {offsetof(win_group_t, sort_weight), 96},
        {offsetof(win_member_t, name), 40},         {offsetof(win_member_t, encrypt_on), 104},
        {offsetof(win_member_t, sort_weight), 108}, {offsetof(win_user_t, name), 36},
        {offsetof(win_user_t, has_encrypt), 101},   {offsetof(win_user_t, sort_weight), 104},
        {offsetof(sos_alarm_t, address), 68},       {offsetof(sos_alarm_t, devicesn), 221},
        {offsetof(sos_alarm_t, accuracy), 360},     {offsetof(sos_alarm_t, millisecond), 392},
        {offsetof(department_t, groups), 88},       {offsetof(department_t, subdid), 112},
    };
    for (const auto &o : offsets)
        EXPECT_EQ(o.got, o.want);
}

TEST(Records, TextCopiesAreBoundedAndTerminated)
{
    struct {
        size_t len;
        size_t want;
        int cut;
    } const cases[] = {{0, 0, 0}, {5, 5, 0}, {63, 63, 0}, {64, 63, 1}, {100, 63, 1}};
    for (const auto &c : cases) {
        char field[64];
        memset(field, 'x', sizeof(field));
        std::string src(c.len, 'a');
        EXPECT_EQ(lirko_copy_text(field, sizeof(field), src.c_str()), c.cut) << c.len;
        EXPECT_EQ(strlen(field), c.want) << c.len;
    }
    char keep[8] = "keep";
    EXPECT_EQ(lirko_copy_text(keep, sizeof(keep), NULL), 0);
    EXPECT_STREQ(keep, "keep"); // a missing source leaves the field as it was
}

static cache_user make_user(uint32_t uid, const char *name)
{
    cache_user u = {};
    u.uid = uid;
    u.name = (char *)name;
    u.role = 7;
    u.online = 3;
    u.has_role = 1;
    u.audio_enabled = 1;
    u.has_gid = 1;
    u.gid = 55;
    u.location_on = 1;
    u.location_period = 30;
    u.prior = 4;
    u.encrypt_on = 1;
    u.has_encrypt = 1;
    u.sort_weight = 9;
    return u;
}

TEST(Records, LongNamesAreCutWithoutTouchingLaterFields)
{
    std::string longname(100, 'n');
    cache_user u = make_user(42, longname.c_str());
    win_user_t wu;
    memset(&wu, 0, sizeof(wu));
    lirko_fill_win_user(&wu, &u);
    EXPECT_EQ(strlen(wu.name), 63u);
    EXPECT_EQ(wu.uid, 42u);
    EXPECT_EQ(wu.gid, 55u);
    EXPECT_EQ(wu.encrypt_on, 1);
    EXPECT_EQ(wu.has_encrypt, 1);
    EXPECT_EQ(wu.sort_weight, 9);

    member_entry e = {42, 1, &u};
    win_member_t wm;
    memset(&wm, 0, sizeof(wm));
    lirko_fill_win_member(&wm, 77, &e);
    EXPECT_EQ(wm.gid, 77u);
    EXPECT_EQ(wm.has_gid, 1u);
    EXPECT_EQ(wm.ingroup, 1u);
    EXPECT_EQ(strlen(wm.name), 63u);
    EXPECT_EQ(wm.encrypt_on, 1);
    EXPECT_EQ(wm.sort_weight, 9);

    cache_group g = {};
    g.type = 2;
    g.gid = 9;
    g.name = (char *)longname.c_str();
    g.port = 4000;
    g.is_encrypt = 1;
    g.sort_weight = -3;
    win_group_t wg;
    memset(&wg, 0, sizeof(wg));
    wg.did = 1234; // left as the caller set it
    lirko_fill_win_group(&wg, &g);
    EXPECT_EQ(strlen(wg.name), 63u);
    EXPECT_EQ(wg.did, 1234u);
    EXPECT_EQ(wg.port, 4000);
    EXPECT_EQ(wg.is_encryp, 1u);
    EXPECT_EQ(wg.sort_weight, -3);
}

TEST(Records, SosAlarmTakesOnlyWhatTheMessageCarries)
{
    std::string address(200, 'A'), devicesn(200, 'D');
    Ptt__Coordinate coord = PTT__COORDINATE__INIT;
    coord.longitude = 116.5;
    coord.latitude = 39.9;
    Ptt__DateTime dt = PTT__DATE_TIME__INIT;
    dt.year = 2024;
    dt.month = 5;
    dt.day = 6;
    dt.hour = 7;
    dt.minute = 8;
    dt.second = 9;
    Ptt__Location loc = PTT__LOCATION__INIT;
    loc.coordinate = &coord;
    loc.datetime = &dt;
    loc.address = (char *)address.c_str();
    loc.devicesn = (char *)devicesn.c_str();
    loc.has_satellites = 1;
    loc.satellites = 11;
    Sos__Alarm alarm = SOS__ALARM__INIT;
    alarm.has_uuid = 1;
    alarm.uuid = 0x1122334455667788ull;
    alarm.has_reporter = 1;
    alarm.reporter = 1001;
    alarm.location = &loc;
    Sos__AlarmNew msg = SOS__ALARM_NEW__INIT;
    msg.alarm = &alarm;

    sos_alarm_t a;
    memset(&a, 0xAB, sizeof(a));
    lirko_fill_sos_alarm(&a, &msg);
    EXPECT_EQ(a.uuid, 0x1122334455667788ull);
    EXPECT_EQ(a.reporter, 1001u);
    EXPECT_EQ(a.status, 0); // absent: 0, not the enum's first value
    EXPECT_EQ(a.altitude, 0.0);
    EXPECT_EQ(a.longitude, 116.5);
    EXPECT_EQ(a.satellites, 11);
    EXPECT_EQ(a.year, 2024u);
    EXPECT_EQ(a.millisecond, 0u);
    EXPECT_EQ(a.location_type, 0); // type absent
    EXPECT_EQ(std::string(a.address), address.substr(0, 131));
    EXPECT_EQ(std::string(a.devicesn), devicesn.substr(0, 130));

    alarm.location = NULL;
    lirko_fill_sos_alarm(&a, &msg);
    EXPECT_EQ(a.longitude, 0.0);
    EXPECT_EQ(a.year, 0u);
    EXPECT_STREQ(a.address, "");
    EXPECT_STREQ(a.devicesn, "");
}

TEST(Records, SosAlarmKeepsStatusAndLocationKindsTheSchemaDoesNotName)
{
    // protobuf-c keeps an enum number as it arrived, named or not; the test
    // puts such numbers in place the same way.
    int32_t status = -2, kind = 9999;
    Ptt__Location loc = PTT__LOCATION__INIT;
    loc.has_type = 1;
    memcpy(&loc.type, &kind, sizeof(kind));
    Sos__Alarm alarm = SOS__ALARM__INIT;
    alarm.has_status = 1;
    memcpy(&alarm.status, &status, sizeof(status));
    alarm.location = &loc;
    Sos__AlarmNew msg = SOS__ALARM_NEW__INIT;
    msg.alarm = &alarm;
    sos_alarm_t a;
    lirko_fill_sos_alarm(&a, &msg);
    EXPECT_EQ(a.status, -2);
    EXPECT_EQ(a.location_type, 9999);
}

TEST(Results, MemberArrayIsIndependentOfTheList)
{
    list *entries = list_new();
    const char *names[] = {"Ann", "Bo", "Cy"};
    for (uint32_t i = 0; i < 3; i++) {
        cache_user u = make_user(100 + i, names[i]);
        member_entry *e = (member_entry *)calloc(1, sizeof(*e));
        e->uid = 100 + i;
        e->ingroup = (uint8_t)(i & 1);
        e->user = lirko_copy_user(&u);
        list_push_back(entries, e);
    }
    member_entry *array = NULL;
    ASSERT_EQ(lirko_make_member_array(entries, &array), 3u);
    // Clear the source entries: the copies must not notice.
    member_entry *e;
    while ((e = (member_entry *)list_pop_front(entries))) {
        lirko_free_user_copy(&e->user);
        free(e);
    }
    list_del(entries);
    for (uint32_t i = 0; i < 3; i++) {
        EXPECT_EQ(array[i].uid, 100 + i);
        EXPECT_EQ(array[i].ingroup, i & 1);
        ASSERT_NE(array[i].user, nullptr);
        EXPECT_STREQ(array[i].user->name, names[i]);
        EXPECT_EQ(array[i].user->has_role, 0u); // not copied
        EXPECT_EQ(array[i].user->encrypt_on, 1);
    }
    lirko_free_member_array(&array, 3);
    EXPECT_EQ(array, nullptr);

    list *empty = list_new();
    EXPECT_EQ(lirko_make_member_array(empty, &array), 0u);
    EXPECT_EQ(array, nullptr);
    list_del(empty);
}

TEST(Results, NewsheetWithoutMediaHasNoMediaFields)
{
    list *sheets = list_new();
    newsheet a = {};
    a.text = (char *)"evacuate";
    a.phone = (char *)"110";
    a.media_name = (char *)"ignored";
    a.id = 7;
    uint8_t bytes[3] = {1, 2, 3};
    newsheet b = {};
    b.has_media = 1;
    b.mime = 103;
    b.mediadata = bytes;
    b.mediadata_length = 3;
    b.media_name = (char *)"clip";
    b.id = 8;
    list_push_back(sheets, &a);
    list_push_back(sheets, &b);
    newsheet *array = NULL;
    ASSERT_EQ(lirko_make_newsheet_array(sheets, &array), 2u);
    EXPECT_STREQ(array[0].text, "evacuate");
    EXPECT_STREQ(array[0].phone, "110");
    EXPECT_EQ(array[0].media_name, nullptr);
    EXPECT_EQ(array[0].mediadata, nullptr);
    EXPECT_EQ(array[0].mediadata_length, 0u);
    EXPECT_EQ(array[0].id, 7u);
    EXPECT_EQ(array[1].text, nullptr);
    ASSERT_EQ(array[1].mediadata_length, 3u);
    EXPECT_NE(array[1].mediadata, bytes);
    EXPECT_EQ(memcmp(array[1].mediadata, bytes, 3), 0);
    EXPECT_STREQ(array[1].media_name, "clip");
    EXPECT_EQ(array[1].mime, 103u);
    lirko_free_newsheet_array(&array, 2);
    list_del(sheets);
}

TEST(Results, FreeUserArrayClearsTheHolder)
{
    struct {
        int count;
    } const cases[] = {{2}, {-1}};
    for (const auto &c : cases) {
        cache_user *users = (cache_user *)calloc(2, sizeof(*users));
        users[0].name = strdup("a");
        users[1].name = strdup("b");
        cache_user *holder = users;
        if (c.count < 0) { // only the block is freed: the names are the caller's
            free(users[0].name);
            free(users[1].name);
        }
        lirko_free_user_array(&holder, c.count);
        EXPECT_EQ(holder, nullptr) << c.count;
    }
    cache_user *none = NULL;
    lirko_free_user_array(&none, 3); // nothing to free
    EXPECT_EQ(none, nullptr);
}

TEST(Results, CopyUserTakesTheListedFields)
{
    cache_user u = make_user(5, "Eve");
    memcpy(u.encrypt_key, "secret", 7);
    cache_user *c = lirko_copy_user(&u);
    ASSERT_NE(c, nullptr);
    EXPECT_NE(c->name, u.name);
    EXPECT_STREQ(c->name, "Eve");
    EXPECT_EQ(c->gid, 55u);
    EXPECT_EQ(c->prior, 4);
    EXPECT_EQ(c->sort_weight, 9);
    EXPECT_EQ(c->has_role, 0u);
    EXPECT_EQ(c->has_encrypt, 0);
    EXPECT_STREQ(c->encrypt_key, "");
    lirko_free_user_copy(&c);
    EXPECT_EQ(c, nullptr);
    EXPECT_EQ(lirko_copy_user(NULL), nullptr);
}
