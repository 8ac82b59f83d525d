// The dispatcher: handlers per full type name in registration order, and
// walks that survive registrations and removals made by the handlers.
#include "dispatcher.h"
#include "ptt_net.pb-c.h"
#include "ptt_rr.pb-c.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace
{

struct Recorder {
    std::vector<std::string> calls;
};

struct Tag {
    Recorder *rec;
    const char *name;
};

void record(const ProtobufCMessage *msg, void *arg, dispatcher_handler *)
{
    Tag *tag = static_cast<Tag *>(arg);
    tag->rec->calls.push_back(std::string(tag->name) + ":" + msg->descriptor->name);
}

class DispatcherTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        d = dispatcher_new(nullptr);
        ASSERT_NE(d, nullptr);
    }
    void TearDown() override
    {
        EXPECT_EQ(dispatcher_destroy(&d), 0);
        EXPECT_EQ(d, nullptr);
    }
    dispatcher_t *d = nullptr;
    Recorder rec;
    Ptt__Rr__LoginAck login_ack = PTT__RR__LOGIN_ACK__INIT;
};

TEST_F(DispatcherTest, HandlersRunInRegistrationOrder)
{
    Tag a{&rec, "a"}, b{&rec, "b"}, c{&rec, "c"};
    ASSERT_EQ(dispatcher_register(d, "ptt.rr.LoginAck", record, &a), 0);
    ASSERT_EQ(dispatcher_register(d, "ptt.rr.LoginAck", record, &b), 0);
    ASSERT_EQ(dispatcher_register(d, "ptt.rr.LogoutAck", record, &c), 0);
    EXPECT_EQ(dispatcher_deliver(d, &login_ack.base), 0);
    EXPECT_EQ(rec.calls, (std::vector<std::string>{"a:ptt.rr.LoginAck", "b:ptt.rr.LoginAck"}));
}

TEST_F(DispatcherTest, SameHandlerTwiceIsRefusedOtherArgIsNot)
{
    Tag a{&rec, "a"}, b{&rec, "b"};
    EXPECT_EQ(dispatcher_register(d, "ptt.rr.LoginAck", record, &a), 0);
    EXPECT_EQ(dispatcher_register(d, "ptt.rr.LoginAck", record, &a), -1);
    EXPECT_EQ(dispatcher_register(d, "ptt.rr.LoginAck", record, &b), 0);
    EXPECT_EQ(dispatcher_count(d, "ptt.rr.LoginAck"), 2);
}

TEST_F(DispatcherTest, UnregisterWithNullArgRemovesEveryHandlerOfTheFunction)
{
    Tag a{&rec, "a"}, b{&rec, "b"};
    dispatcher_register(d, "ptt.rr.LoginAck", record, &a);
    dispatcher_register(d, "ptt.rr.LoginAck", record, &b);
    EXPECT_EQ(dispatcher_unregister(d, "ptt.rr.LoginAck", record, nullptr), 0);
    EXPECT_EQ(dispatcher_count(d, "ptt.rr.LoginAck"), 0);
    // The entry stays: delivering to it reaches nobody and succeeds.
    EXPECT_EQ(dispatcher_deliver(d, &login_ack.base), 0);
    EXPECT_TRUE(rec.calls.empty());
    EXPECT_EQ(dispatcher_unregister(d, "ptt.rr.Nothing", record, nullptr), -1);
}

TEST_F(DispatcherTest, UnknownTypeAndNullMessageAreNotDelivered)
{
    Ptt__Net__Ping ping = PTT__NET__PING__INIT;
    EXPECT_EQ(dispatcher_deliver(d, &ping.base), -1);
    EXPECT_EQ(dispatcher_deliver(d, nullptr), -1);
}

// A handler that takes itself and the handler after it off the list, and
// registers a new one, all while its type is delivered.
struct Rewirer {
    dispatcher_t *d;
    Recorder *rec;
    Tag *later;
    Tag *added;
};

void rewire(const ProtobufCMessage *msg, void *arg, dispatcher_handler *)
{
    Rewirer *r = static_cast<Rewirer *>(arg);
    r->rec->calls.push_back(std::string("rewire:") + msg->descriptor->name);
    EXPECT_EQ(dispatcher_unregister(r->d, "ptt.rr.LoginAck", rewire, r), 0);
    EXPECT_EQ(dispatcher_unregister(r->d, "ptt.rr.LoginAck", record, r->later), 0);
    EXPECT_EQ(dispatcher_register(r->d, "ptt.rr.LoginAck", record, r->added), 0);
}

TEST_F(DispatcherTest, WalkSurvivesChangesMadeDuringDelivery)
{
    Tag first{&rec, "first"}, later{&rec, "later"}, last{&rec, "last"}, added{&rec, "added"};
    Rewirer rw{d, &rec, &later, &added};
    dispatcher_register(d, "ptt.rr.LoginAck", record, &first);
    dispatcher_register(d, "ptt.rr.LoginAck", rewire, &rw);
    dispatcher_register(d, "ptt.rr.LoginAck", record, &later);
    dispatcher_register(d, "ptt.rr.LoginAck", record, &last);
    EXPECT_EQ(dispatcher_deliver(d, &login_ack.base), 0);
    EXPECT_EQ(rec.calls,
              (std::vector<std::string>{"first:ptt.rr.LoginAck", "rewire:ptt.rr.LoginAck",
                                        "last:ptt.rr.LoginAck", "added:ptt.rr.LoginAck"}));
    rec.calls.clear();
    EXPECT_EQ(dispatcher_count(d, "ptt.rr.LoginAck"), 3);
    dispatcher_deliver(d, &login_ack.base);
    EXPECT_EQ(rec.calls, (std::vector<std::string>{"first:ptt.rr.LoginAck", "last:ptt.rr.LoginAck",
                                                   "added:ptt.rr.LoginAck"}));
}

TEST(DispatcherDestroy, NullIsRefused)
{
    dispatcher_t *none = nullptr;
    EXPECT_EQ(dispatcher_destroy(&none), -1);
    EXPECT_EQ(dispatcher_destroy(nullptr), -1);
}

} // namespace
