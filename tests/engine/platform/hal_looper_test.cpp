#include "hal_looper.h"
#include "looper_fixture.h"
#include "test_support.h"

#include <atomic>
#include <future>
#include <gtest/gtest.h>
#include <math.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

using ptt::test::LooperTest;
using ptt::test::run_on;
using ptt::test::settle;

namespace
{

// ---------------------------------------------------------------- exec

TEST_F(LooperTest, ExecFromAnotherThreadReturnsTheResultOfTheLooperCall)
{
    bool on_looper = false;
    int r = run_on(lp, [&] {
        on_looper = hal_looper_is_current(lp);
        return 42;
    });
    EXPECT_EQ(42, r);
    EXPECT_TRUE(on_looper);
    EXPECT_FALSE(hal_looper_is_current(lp));
}

TEST_F(LooperTest, ExecOnTheLooperThreadIsADirectCall)
{
    int inner = 0;
    int r = run_on(lp, [&] {
        // Would deadlock if it went through the queue.
        inner = run_on(lp, [] { return 7; });
        return inner + 1;
    });
    EXPECT_EQ(7, inner);
    EXPECT_EQ(8, r);
    EXPECT_EQ(-1, hal_looper_exec(nullptr, ptt::test::looper_noop, nullptr));
    EXPECT_EQ(-1, hal_looper_exec(lp, nullptr, nullptr));
}

// ---------------------------------------------------------------- events

struct Trace {
    std::vector<std::string> lines;
};

void record_proc(hal_looper *, hal_looper_event *ev, void *arg, hal_looper_processor *)
{
    auto *t = static_cast<Trace *>(arg);
    t->lines.push_back(std::string("p:") + ev->name + ":" + std::to_string(ev->code));
}

void record_proc_b(hal_looper *, hal_looper_event *ev, void *arg, hal_looper_processor *)
{
    static_cast<Trace *>(arg)->lines.push_back(std::string("b:") + ev->name);
}

Trace *g_destroy_trace = nullptr;
void record_destroy(hal_looper_event *ev)
{
    g_destroy_trace->lines.push_back(std::string("d:") + (ev->name ? ev->name : "(null)") + ":" +
                                     std::to_string(ev->code));
}

int subscribe(hal_looper *lp, const char *name, hal_looper_processor_fn fn, void *arg)
{
    hal_looper_processer_args a{name, fn, arg};
    return hal_looper_exec(lp, hal_looper_routine_add_processer, &a);
}

int unsubscribe(hal_looper *lp, const char *name, hal_looper_processor_fn fn, void *arg)
{
    hal_looper_processer_args a{name, fn, arg};
    return hal_looper_exec(lp, hal_looper_routine_remove_processer, &a);
}

void post(hal_looper *lp, const char *name, int code)
{
    hal_looper_event ev{};
    ev.name = const_cast<char *>(name);
    ev.code = code;
    hal_looper_post_event(lp, &ev, record_destroy);
}

struct EventTest : LooperTest {
    Trace trace;
    void SetUp() override
    {
        LooperTest::SetUp();
        g_destroy_trace = &trace;
    }
    std::vector<std::string> lines()
    {
        settle(lp);
        return trace.lines;
    }
};

TEST_F(EventTest, DeliveredToSubscribersInOrderThenDestroyed)
{
    Trace other;
    ASSERT_EQ(0, subscribe(lp, "x", record_proc, &trace));
    ASSERT_EQ(0, subscribe(lp, "x", record_proc, &trace)); // same (fn, arg): once
    ASSERT_EQ(0, subscribe(lp, "x", record_proc_b, &trace));
    post(lp, "x", 1);
    post(lp, "nobody", 2);
    std::vector<std::string> want = {"p:x:1", "b:x", "d:x:1", "d:nobody:2"};
    EXPECT_EQ(want, lines());
}

TEST_F(EventTest, SameFunctionWithTwoArgumentsIsCalledTwice)
{
    Trace second;
    ASSERT_EQ(0, subscribe(lp, "x", record_proc, &trace));
    ASSERT_EQ(0, subscribe(lp, "x", record_proc, &second));
    post(lp, "x", 5);
    settle(lp);
    EXPECT_EQ(std::vector<std::string>({"p:x:5", "d:x:5"}), trace.lines);
    EXPECT_EQ(std::vector<std::string>({"p:x:5"}), second.lines);
}

TEST_F(EventTest, RemovingTheLastProcessorDropsTheName)
{
    Trace second;
    ASSERT_EQ(0, subscribe(lp, "x", record_proc, &trace));
    ASSERT_EQ(0, subscribe(lp, "x", record_proc, &second));
    EXPECT_EQ(-1, unsubscribe(lp, "unknown", record_proc, &trace));
    EXPECT_EQ(-1, unsubscribe(lp, "x", record_proc_b, &trace));
    // A null arg removes every processor of the function.
    EXPECT_EQ(0, unsubscribe(lp, "x", record_proc, nullptr));
    EXPECT_EQ(-1, unsubscribe(lp, "x", record_proc, nullptr));
    post(lp, "x", 3);
    EXPECT_EQ(std::vector<std::string>({"d:x:3"}), lines());
    EXPECT_TRUE(second.lines.empty());
}

TEST_F(EventTest, PostWithoutNameOrLooperStillDestroys)
{
    hal_looper_event ev{};
    ev.name = const_cast<char *>("orphan");
    hal_looper_post_event(nullptr, &ev, record_destroy); // destroyed at once
    EXPECT_EQ(std::vector<std::string>({"d:orphan:0"}), trace.lines);
    post(lp, nullptr, 9);
    hal_looper_post(lp, nullptr);
    std::vector<std::string> want = {"d:orphan:0", "d:(null):9"};
    EXPECT_EQ(want, lines());
}

// A processor that posts on the looper thread sees its event delivered in
// the same events step, after the current one was destroyed.
void posting_proc(hal_looper *lp, hal_looper_event *ev, void *arg, hal_looper_processor *)
{
    record_proc(lp, ev, arg, nullptr);
    if (ev->code == 1)
        post(lp, "x", 2);
}

TEST_F(EventTest, EventPostedByAProcessorFollowsInTheSameStep)
{
    ASSERT_EQ(0, subscribe(lp, "x", posting_proc, &trace));
    int timer_calls = 0;
    auto tick = [](hal_looper *, double, void *arg) { ++*static_cast<int *>(arg); };
    ASSERT_EQ(0, hal_looper_set_timer(lp, tick, 1.0, &timer_calls));
    // From inside one looper call: event 1, its follower and the due timer
    // are all handled in this cycle, events first.
    run_on(lp, [&] {
        post(lp, "x", 1);
        hal_clock_fake_advance(1000);
        return 0;
    });
    settle(lp);
    std::vector<std::string> want = {"p:x:1", "d:x:1", "p:x:2", "d:x:2"};
    EXPECT_EQ(want, trace.lines);
    EXPECT_EQ(1, timer_calls);
}

// Processors that change the subscriptions of the name being dispatched.
struct Churn {
    hal_looper *lp;
    Trace *trace;
    std::string action;
    int calls = 0;
};
void churn_proc(hal_looper *lp, hal_looper_event *ev, void *arg, hal_looper_processor *)
{
    auto *c = static_cast<Churn *>(arg);
    c->calls++;
    c->trace->lines.push_back(c->action + ":" + std::to_string(ev->code));
    hal_looper_processer_args a{ev->name, churn_proc, arg};
    if (c->action == "self") {
        EXPECT_EQ(0, hal_looper_routine_remove_processer(lp, &a));
    } else if (c->action == "all") {
        a.arg = nullptr; // every churn_proc, the ones still to come as well
        EXPECT_EQ(0, hal_looper_routine_remove_processer(lp, &a));
    } else if (c->action == "resubscribe") {
        // Removed then added again during the dispatch: added at the end, so
        // called once more in this same dispatch.
        EXPECT_EQ(0, hal_looper_routine_remove_processer(lp, &a));
        if (ev->code == 1 && c->calls == 1) {
            EXPECT_EQ(0, hal_looper_routine_add_processer(lp, &a));
        }
    }
}

TEST_F(EventTest, ProcessorRemovingItselfIsNotCalledAgainAndOthersStillRun)
{
    Churn self{lp, &trace, "self"};
    Churn keep{lp, &trace, "keep"};
    ASSERT_EQ(0, subscribe(lp, "x", churn_proc, &self));
    ASSERT_EQ(0, subscribe(lp, "x", churn_proc, &keep));
    post(lp, "x", 1);
    post(lp, "x", 2);
    std::vector<std::string> want = {"self:1", "keep:1", "d:x:1", "keep:2", "d:x:2"};
    EXPECT_EQ(want, lines());
}

TEST_F(EventTest, RemovingEveryProcessorDuringDispatchSkipsTheRestAndFreesTheName)
{
    Churn all{lp, &trace, "all"};
    Churn later{lp, &trace, "keep"};
    ASSERT_EQ(0, subscribe(lp, "x", churn_proc, &all));
    ASSERT_EQ(0, subscribe(lp, "x", churn_proc, &later));
    post(lp, "x", 1);
    post(lp, "x", 2);
    std::vector<std::string> want = {"all:1", "d:x:1", "d:x:2"};
    EXPECT_EQ(want, lines());
    EXPECT_EQ(-1, unsubscribe(lp, "x", churn_proc, nullptr));
}

TEST_F(EventTest, ResubscribingDuringDispatchIsCalledInTheSameDispatch)
{
    Churn re{lp, &trace, "resubscribe"};
    ASSERT_EQ(0, subscribe(lp, "x", churn_proc, &re));
    post(lp, "x", 1);
    post(lp, "x", 2);
    std::vector<std::string> want = {"resubscribe:1", "resubscribe:1", "d:x:1", "d:x:2"};
    EXPECT_EQ(want, lines());
}

// ---------------------------------------------------------------- timers

struct Ticks {
    int calls = 0;
    std::vector<double> nows;
};
void tick(hal_looper *, double now, void *arg)
{
    auto *t = static_cast<Ticks *>(arg);
    t->calls++;
    t->nows.push_back(now);
}

TEST_F(LooperTest, FirstCallComesOneIntervalAfterSetting)
{
    Ticks t;
    ASSERT_EQ(0, hal_looper_set_timer(lp, tick, 2.0, &t));
    advance(1999);
    EXPECT_EQ(0, t.calls);
    advance(1);
    EXPECT_EQ(1, t.calls);
    advance(2000);
    EXPECT_EQ(2, t.calls);
    EXPECT_EQ(0, hal_looper_cancel_timer(lp, tick, &t));
}

TEST_F(LooperTest, OverduePeriodicTimerFiresOnceAndReschedules)
{
    Ticks t;
    ASSERT_EQ(0, hal_looper_set_timer(lp, tick, 1.0, &t));
    advance(4500); // due 3.5 s ago
    ASSERT_EQ(1, t.calls);
    double fired_at = t.nows[0];
    // Next due lies in (now, now + 1]: at +5.0 s from setting.
    advance(499);
    EXPECT_EQ(1, t.calls);
    advance(1);
    EXPECT_EQ(2, t.calls);
    EXPECT_NEAR(0.5, t.nows[1] - fired_at, 1e-6);
}

TEST_F(LooperTest, LongProtocolTimersFireInTestTime)
{
    Ticks heartbeat, reconnect, watch;
    ASSERT_EQ(0, hal_looper_set_timer(lp, tick, 60.0, &heartbeat));
    ASSERT_EQ(0, hal_looper_set_timer(lp, tick, 150.0, &reconnect));
    ASSERT_EQ(0, hal_looper_set_timer(lp, tick, 300.0, &watch));
    for (int s = 0; s < 600; s++)
        advance(1000);
    EXPECT_EQ(10, heartbeat.calls);
    EXPECT_EQ(4, reconnect.calls);
    EXPECT_EQ(2, watch.calls);
}

TEST_F(LooperTest, IdleLooperWakesWhenTheClockIsAdvancedWithoutOtherCalls)
{
    Ticks t;
    ASSERT_EQ(0, hal_looper_set_timer(lp, tick, 300.0, &t));
    hal_clock_fake_advance(300000);
    // Only the clock change can end the looper's wait here.
    EXPECT_TRUE(ptt::test::wait_until([&] { return run_on(lp, [&] { return t.calls; }) == 1; }));
}

std::atomic<int> g_posted_seen{0};

void count_posted(hal_looper *, hal_looper_event *, void *, hal_looper_processor *)
{
    g_posted_seen++;
}

void post_from_timer(hal_looper *lp, double, void *)
{
    hal_looper_event ev{};
    ev.name = const_cast<char *>("from.timer");
    hal_looper_post_event(lp, &ev, nullptr);
}

TEST_F(LooperTest, EventPostedByATimerIsDeliveredWithoutAnotherWake)
{
    g_posted_seen = 0;
    hal_looper_processer_args a{"from.timer", count_posted, nullptr};
    ASSERT_EQ(0, hal_looper_exec(lp, hal_looper_routine_add_processer, &a));
    ASSERT_EQ(0, hal_looper_set_timer(lp, post_from_timer, 100.0, nullptr));
    // Only the clock change wakes the looper; nothing else may nudge it
    // afterwards, so the event must not wait for the next timer (100 s away).
    hal_clock_fake_advance(100000);
    EXPECT_TRUE(
        ptt::test::wait_until([] { return g_posted_seen.load() == 1; }, std::chrono::seconds(2)));
    EXPECT_EQ(0, hal_looper_cancel_timer(lp, post_from_timer, nullptr));
}

TEST_F(LooperTest, TimerCancelRules)
{
    Ticks a, b;
    EXPECT_EQ(-1, hal_looper_cancel_timer(lp, tick, &a)); // empty list
    ASSERT_EQ(0, hal_looper_set_timer(lp, tick, 1.0, &a));
    ASSERT_EQ(0, hal_looper_set_timer(lp, tick, 1.0, &a)); // a second, independent timer
    ASSERT_EQ(0, hal_looper_set_timer(lp, tick, 1.0, &b));
    advance(1000);
    EXPECT_EQ(2, a.calls);
    EXPECT_EQ(1, b.calls);
    EXPECT_EQ(0, hal_looper_cancel_timer(lp, tick, &a)); // both of (tick, &a)
    EXPECT_EQ(-1, hal_looper_cancel_timer(lp, tick, &a));
    advance(1000);
    EXPECT_EQ(2, a.calls);
    EXPECT_EQ(2, b.calls);
    ASSERT_EQ(0, hal_looper_set_timer(lp, tick, 1.0, &a));
    EXPECT_EQ(0, hal_looper_cancel_timer(lp, tick, nullptr)); // every timer of tick
    advance(5000);
    EXPECT_EQ(2, a.calls);
    EXPECT_EQ(2, b.calls);
    EXPECT_EQ(-1, hal_looper_cancel_timer(lp, tick, nullptr));
}

void self_cancel(hal_looper *lp, double, void *arg)
{
    ++*static_cast<int *>(arg);
    EXPECT_EQ(0, hal_looper_cancel_timer(lp, self_cancel, arg));
}

TEST_F(LooperTest, TimerMayCancelItselfFromItsCallback)
{
    int calls = 0;
    ASSERT_EQ(0, hal_looper_set_timer(lp, self_cancel, 0.5, &calls));
    advance(500);
    advance(500);
    advance(500);
    EXPECT_EQ(1, calls);
}

TEST_F(LooperTest, IntervalsThatWouldHangTheLoopAreRefused)
{
    for (double bad : {0.0, -1.0, -0.001, (double)NAN, (double)INFINITY}) {
        EXPECT_EQ(-1, hal_looper_set_timer(lp, tick, bad, nullptr)) << bad;
    }
    EXPECT_EQ(-1, hal_looper_set_timer(nullptr, tick, 1.0, nullptr));
    EXPECT_EQ(-1, hal_looper_set_timer(lp, nullptr, 1.0, nullptr));
    // The looper still serves calls.
    EXPECT_EQ(3, run_on(lp, [] { return 3; }));
}

// Runs hal_looper_exec on a helper thread and gives up after a deadline, so a
// looper stuck in a callback fails the test instead of hanging it.
bool looper_answers_within(hal_looper *lp, std::chrono::seconds limit)
{
    auto done = std::async(std::launch::async, [lp] { return run_on(lp, [] { return 7; }); });
    if (done.wait_for(limit) == std::future_status::ready)
        return done.get() == 7;
    ADD_FAILURE() << "the looper no longer answers";
    // The looper thread cannot be stopped from here; end the process.
    _Exit(1);
}

TEST_F(LooperTest, IntervalBelowTheClockResolutionDoesNotStallTheLoop)
{
    // Positive, but lost when added to an engine time of some 1500 s.
    Ticks t;
    ASSERT_EQ(0, hal_looper_set_timer(lp, tick, 1e-20, &t));
    EXPECT_TRUE(looper_answers_within(lp, std::chrono::seconds(5)));
    advance(1);
    EXPECT_TRUE(looper_answers_within(lp, std::chrono::seconds(5)));
    EXPECT_GE(run_on(lp, [&] { return t.calls; }), 1);
    EXPECT_EQ(0, hal_looper_cancel_timer(lp, tick, &t));
}

// ---------------------------------------------------------------- sockets

struct FdTrace {
    std::vector<std::string> lines;
};
void reader_a(hal_looper *, int fd, void *arg)
{
    char buf[16];
    (void)!read(fd, buf, sizeof buf);
    static_cast<FdTrace *>(arg)->lines.push_back("a");
}
void reader_b(hal_looper *, int fd, void *arg)
{
    char buf[16];
    (void)!read(fd, buf, sizeof buf);
    static_cast<FdTrace *>(arg)->lines.push_back("b");
}

hal_looper_fd_handler *handler(int fd, hal_looper_fd_fn fn, void *arg)
{
    auto *h = static_cast<hal_looper_fd_handler *>(malloc(sizeof(hal_looper_fd_handler)));
    *h = hal_looper_fd_handler{fd, fn, arg};
    return h;
}

struct SocketPair {
    int fds[2] = {-1, -1};
    SocketPair()
    {
        EXPECT_EQ(0, hal_pipe(fds));
        EXPECT_EQ(0, hal_set_nonblock(fds[0]));
    }
    ~SocketPair()
    {
        hal_close_pipe(fds[0]);
        hal_close_pipe(fds[1]);
    }
};

TEST_F(LooperTest, ReaderRegistrationReplacesAndRemoves)
{
    SocketPair sp;
    FdTrace trace;
    void *fd = (void *)(intptr_t)sp.fds[0];
    ASSERT_EQ(0, hal_looper_exec(lp, hal_looper_routine_add_reader,
                                 handler(sp.fds[0], reader_a, &trace)));
    ASSERT_EQ(1, hal_write_pipe(sp.fds[1], "x", 1));
    EXPECT_TRUE(ptt::test::wait_until(
        [&] { return run_on(lp, [&] { return (int)trace.lines.size(); }) == 1; }));
    // A second registration for the socket only replaces function and arg.
    ASSERT_EQ(0, hal_looper_exec(lp, hal_looper_routine_add_reader,
                                 handler(sp.fds[0], reader_b, &trace)));
    ASSERT_EQ(1, hal_write_pipe(sp.fds[1], "y", 1));
    EXPECT_TRUE(ptt::test::wait_until(
        [&] { return run_on(lp, [&] { return (int)trace.lines.size(); }) == 2; }));
    EXPECT_EQ(std::vector<std::string>({"a", "b"}), trace.lines);
    EXPECT_EQ(1, hal_looper_exec(lp, hal_looper_routine_remove_reader, fd));
    EXPECT_EQ(0, hal_looper_exec(lp, hal_looper_routine_remove_reader, fd));
    ASSERT_EQ(0, hal_looper_exec(lp, hal_looper_routine_add_reader,
                                 handler(sp.fds[0], reader_a, &trace)));
    ASSERT_EQ(0, hal_looper_exec(lp, hal_looper_routine_add_writer,
                                 handler(sp.fds[0], reader_a, &trace)));
    EXPECT_EQ(2, hal_looper_exec(lp, hal_looper_routine_remove_fd, fd));
    EXPECT_EQ(0, hal_looper_exec(lp, hal_looper_routine_remove_fd, fd));
}

TEST_F(LooperTest, SocketClosedWhileRegisteredDoesNotStopTheLoop)
{
    int fds[2];
    ASSERT_EQ(0, hal_pipe(fds));
    FdTrace trace;
    ASSERT_EQ(
        0, hal_looper_exec(lp, hal_looper_routine_add_reader, handler(fds[0], reader_a, &trace)));
    hal_close_pipe(fds[0]);
    hal_close_pipe(fds[1]);
    Ticks t;
    ASSERT_EQ(0, hal_looper_set_timer(lp, tick, 1.0, &t));
    advance(1000);
    EXPECT_EQ(1, t.calls);
    EXPECT_EQ(1, hal_looper_exec(lp, hal_looper_routine_remove_reader, (void *)(intptr_t)fds[0]));
}

// A reader that drops the socket's writer and registers a new one (as a
// socket closed and reopened under the same number would) must not see the
// new writer called with the old registration's readiness in the same cycle.
struct Rearm {
    int fd = -1;
    bool marked = false;
    int new_writer_calls = 0;
    bool new_writer_saw_mark = false;
};
void rearm_old_writer(hal_looper *, int, void *) {}
void rearm_new_writer(hal_looper *lp, int fd, void *arg)
{
    auto *r = static_cast<Rearm *>(arg);
    if (r->new_writer_calls++ == 0)
        r->new_writer_saw_mark = r->marked;
    (void)hal_looper_routine_remove_writer(lp, (void *)(intptr_t)fd);
}
void rearm_mark(hal_looper *, hal_looper_event *, void *arg, hal_looper_processor *)
{
    static_cast<Rearm *>(arg)->marked = true;
}
void rearm_reader(hal_looper *lp, int fd, void *arg)
{
    auto *r = static_cast<Rearm *>(arg);
    char buf[8];
    (void)!read(fd, buf, sizeof buf);
    (void)hal_looper_routine_remove_fd(lp, (void *)(intptr_t)fd);
    (void)hal_looper_routine_add_writer(lp, handler(fd, rearm_new_writer, r));
    // Delivered in this cycle's event step, after every socket callback.
    hal_looper_event ev{};
    ev.name = const_cast<char *>("rearm.mark");
    hal_looper_post_event(lp, &ev, nullptr);
}

TEST_F(LooperTest, HandlerAddedDuringTheSocketStepWaitsForTheNextCycle)
{
    SocketPair sp;
    Rearm r;
    r.fd = sp.fds[0];
    ASSERT_EQ(0, subscribe(lp, "rearm.mark", rearm_mark, &r));
    // Reader and old writer are registered and the byte sent within one
    // looper call, so the next wait reports both as ready together.
    ASSERT_EQ(0, run_on(lp, [&] {
                  (void)hal_looper_routine_add_reader(lp, handler(r.fd, rearm_reader, &r));
                  (void)hal_looper_routine_add_writer(lp, handler(r.fd, rearm_old_writer, &r));
                  return hal_write_pipe(sp.fds[1], "x", 1) == 1 ? 0 : -1;
              }));
    EXPECT_TRUE(
        ptt::test::wait_until([&] { return run_on(lp, [&] { return r.new_writer_calls; }) >= 1; }));
    EXPECT_TRUE(run_on(lp, [&] { return (int)r.new_writer_saw_mark; }));
}

// One cycle handles, in order: socket callbacks, events (a cross-thread post
// is delivered in the cycle that reads it), then timers.
struct OrderProbe {
    std::vector<std::string> lines;
    std::promise<void> entered;
    std::promise<void> release;
};
void blocking_timer(hal_looper *lp, double, void *arg)
{
    auto *p = static_cast<OrderProbe *>(arg);
    hal_looper_cancel_timer(lp, blocking_timer, arg);
    p->entered.set_value();
    p->release.get_future().wait();
}
void order_reader(hal_looper *, int fd, void *arg)
{
    char buf[8];
    (void)!read(fd, buf, sizeof buf);
    static_cast<OrderProbe *>(arg)->lines.push_back("reader");
}
void order_proc(hal_looper *, hal_looper_event *, void *arg, hal_looper_processor *)
{
    static_cast<OrderProbe *>(arg)->lines.push_back("event");
}
void order_timer(hal_looper *, double, void *arg)
{
    static_cast<OrderProbe *>(arg)->lines.push_back("timer");
}

TEST_F(LooperTest, CycleOrderIsSocketsThenEventsThenTimers)
{
    SocketPair sp;
    OrderProbe probe;
    ASSERT_EQ(0, hal_looper_exec(lp, hal_looper_routine_add_reader,
                                 handler(sp.fds[0], order_reader, &probe)));
    ASSERT_EQ(0, subscribe(lp, "order", order_proc, &probe));
    ASSERT_EQ(0, hal_looper_set_timer(lp, blocking_timer, 1.0, &probe));
    ASSERT_EQ(0, hal_looper_set_timer(lp, order_timer, 2.0, &probe));
    hal_clock_fake_advance(1000);
    probe.entered.get_future().wait();
    // The looper is parked inside a timer: make everything ready at once.
    ASSERT_EQ(1, hal_write_pipe(sp.fds[1], "r", 1));
    hal_looper_event ev{};
    ev.name = const_cast<char *>("order");
    hal_looper_post_event(lp, &ev, nullptr);
    hal_clock_fake_advance(1000);
    probe.release.set_value();
    settle(lp);
    std::vector<std::string> want = {"reader", "event", "timer"};
    EXPECT_EQ(want, probe.lines);
    EXPECT_EQ(0, hal_looper_cancel_timer(lp, order_timer, &probe));
}

// ---------------------------------------------------------------- end of loop

std::atomic<int> g_late_destroyed{0};
void count_destroy(hal_looper_event *)
{
    g_late_destroyed++;
}

TEST_F(LooperTest, LateExecAndPostAreAnsweredAfterTheLoopEnded)
{
    g_late_destroyed = 0;
    ASSERT_EQ(0, hal_looper_exec(lp, hal_looper_routine_quit, nullptr));
    // Served by nobody: answered -1 by the ending loop or refused outright.
    EXPECT_EQ(-1, run_on(lp, [] { return 5; }));
    hal_looper_event ev{};
    ev.name = const_cast<char *>("late");
    hal_looper_post_event(lp, &ev, count_destroy);
    EXPECT_EQ(1, g_late_destroyed.load());
    EXPECT_EQ(-1, hal_looper_set_timer(lp, tick, 1.0, nullptr));
    hal_looper_destroy(&lp);
    EXPECT_EQ(nullptr, lp);
}

void destroy_from_looper(hal_looper *, hal_looper_event *, void *arg, hal_looper_processor *)
{
    auto *h = static_cast<hal_looper **>(arg);
    hal_looper_destroy(h); // refused: the thread cannot join itself
}

TEST_F(LooperTest, DestroyOnTheLooperThreadIsRefused)
{
    hal_looper *copy = lp;
    ASSERT_EQ(0, subscribe(lp, "die", destroy_from_looper, &copy));
    hal_looper_event ev{};
    ev.name = const_cast<char *>("die");
    hal_looper_post_event(lp, &ev, nullptr);
    settle(lp);
    EXPECT_EQ(lp, copy);
    EXPECT_EQ(1, run_on(lp, [] { return 1; }));
}

TEST(LooperLifecycle, PendingEventsAndTimersAreFreedAtTheEnd)
{
    hal_looper *lp = hal_looper_new(nullptr, nullptr);
    ASSERT_NE(nullptr, lp);
    g_late_destroyed = 0;
    ASSERT_EQ(0, subscribe(lp, "held", record_proc, nullptr));
    ASSERT_EQ(0, hal_looper_set_timer(lp, tick, 100.0, nullptr));
    SocketPair sp;
    ASSERT_EQ(0, hal_looper_exec(lp, hal_looper_routine_add_reader,
                                 handler(sp.fds[0], reader_a, nullptr)));
    // Queued from the looper right before it quits: never delivered, but
    // destroyed (ASan checks that nothing leaks).
    run_on(lp, [&] {
        hal_looper_event ev{};
        ev.name = const_cast<char *>("pending");
        hal_looper_post_event(lp, &ev, count_destroy);
        return hal_looper_routine_quit(lp, nullptr);
    });
    hal_looper_destroy(&lp);
    EXPECT_EQ(nullptr, lp);
    EXPECT_EQ(1, g_late_destroyed.load());
    hal_looper_destroy(&lp);
    hal_looper_destroy(nullptr);
}

TEST(Pipe, SocketpairCarriesBytesBothWays)
{
    int fds[2] = {-7, -7};
    ASSERT_EQ(0, hal_pipe(fds));
    EXPECT_EQ(0, hal_set_nonblock(fds[0]));
    char c = 0;
    EXPECT_EQ(-1, hal_read_pipe(fds[0], &c, 1)); // would block
    EXPECT_EQ(1, hal_write_pipe(fds[1], "z", 1));
    EXPECT_EQ(1, hal_read_pipe(fds[0], &c, 1));
    EXPECT_EQ('z', c);
    EXPECT_EQ(0, hal_close_pipe(fds[0]));
    EXPECT_EQ(0, hal_close_pipe(fds[1]));
    EXPECT_NE(0, hal_set_nonblock(fds[0])); // closed: the errno comes back
    EXPECT_EQ(-1, hal_pipe(nullptr));
}

} // namespace
