// Many threads entering one looper at once: every exec result comes back,
// every posted event is delivered and destroyed exactly once, and each
// thread's posts arrive in the order it made them.
#include "hal_looper.h"
#include "looper_fixture.h"
#include "test_support.h"

#include <atomic>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

using ptt::test::run_on;

namespace
{

constexpr int kThreads = 8;
constexpr int kCalls = 5000;

// Touched on the looper thread only.
struct Ledger {
    std::vector<std::vector<uint8_t>> delivered; // [thread][seq] delivery count
    std::vector<int> last_post;                  // last post seq per thread
    std::vector<int> last_exec;                  // last exec seq per thread
    int order_faults = 0;
    Ledger() : delivered(kThreads, std::vector<uint8_t>(kCalls, 0)), last_post(kThreads, -1)
    {
        last_exec.assign(kThreads, -1);
    }
};

std::atomic<int> g_destroyed{0};

void on_stress(hal_looper *, hal_looper_event *ev, void *arg, hal_looper_processor *)
{
    auto *l = static_cast<Ledger *>(arg);
    int t = ev->code, seq = ev->value;
    l->delivered[t][seq]++;
    if (seq <= l->last_post[t])
        l->order_faults++;
    l->last_post[t] = seq;
}

void count_destroy(hal_looper_event *ev)
{
    // The payload is the sender's cookie; a double destroy would show.
    EXPECT_EQ(ev->value, (int)(intptr_t)ev->payload);
    g_destroyed++;
}

struct ExecArg {
    Ledger *ledger;
    int thread;
    int seq;
};

int stress_exec(hal_looper *, void *arg)
{
    auto *a = static_cast<ExecArg *>(arg);
    if (a->seq <= a->ledger->last_exec[a->thread])
        a->ledger->order_faults++;
    a->ledger->last_exec[a->thread] = a->seq;
    return a->thread * 100000 + a->seq;
}

TEST(LooperStress, EightThreadsMixingExecAndPost)
{
    g_destroyed = 0;
    hal_looper *lp = hal_looper_new(nullptr, nullptr);
    ASSERT_NE(nullptr, lp);
    Ledger ledger;
    hal_looper_processer_args sub{"stress", on_stress, &ledger};
    ASSERT_EQ(0, hal_looper_exec(lp, hal_looper_routine_add_processer, &sub));

    std::vector<int> wrong_results(kThreads, 0);
    std::vector<int> posts(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; t++) {
        threads.emplace_back([&, t] {
            unsigned r = 12345u + (unsigned)t;
            for (int i = 0; i < kCalls; i++) {
                r = r * 1103515245u + 12345u;
                if ((r >> 16) & 1) {
                    ExecArg a{&ledger, t, i};
                    if (hal_looper_exec(lp, stress_exec, &a) != t * 100000 + i)
                        wrong_results[t]++;
                } else {
                    hal_looper_event ev{};
                    ev.name = const_cast<char *>("stress");
                    ev.code = t;
                    ev.value = i;
                    ev.payload = (void *)(intptr_t)i;
                    hal_looper_post_event(lp, &ev, count_destroy);
                    posts[t]++;
                }
            }
        });
    }
    for (auto &th : threads)
        th.join();
    ptt::test::settle(lp);

    int total_posts = 0;
    for (int p : posts)
        total_posts += p;
    int delivered = 0, duplicates = 0, faults = 0;
    run_on(lp, [&] {
        for (int t = 0; t < kThreads; t++) {
            for (int i = 0; i < kCalls; i++) {
                delivered += ledger.delivered[t][i] ? 1 : 0;
                duplicates += ledger.delivered[t][i] > 1 ? 1 : 0;
            }
        }
        faults = ledger.order_faults;
        return 0;
    });
    for (int t = 0; t < kThreads; t++)
        EXPECT_EQ(0, wrong_results[t]) << "thread " << t;
    EXPECT_GT(total_posts, kThreads * kCalls / 4);
    EXPECT_EQ(total_posts, delivered);
    EXPECT_EQ(0, duplicates);
    EXPECT_EQ(0, faults);
    EXPECT_EQ(total_posts, g_destroyed.load());
    hal_looper_destroy(&lp);
}

// Threads still posting and calling while the looper is torn down: each
// call gets an answer (a result or -1), each event is destroyed once.
TEST(LooperStress, CallsRacingTheEndOfTheLoopAllGetAnswers)
{
    g_destroyed = 0;
    hal_looper *lp = hal_looper_new(nullptr, nullptr);
    ASSERT_NE(nullptr, lp);
    std::atomic<bool> go{true};
    std::atomic<int> posted{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; t++) {
        threads.emplace_back([&] {
            int i = 0;
            while (go.load()) {
                hal_looper_event ev{};
                ev.name = const_cast<char *>("nobody");
                ev.value = i;
                ev.payload = (void *)(intptr_t)i;
                hal_looper_post_event(lp, &ev, count_destroy);
                posted++;
                int r = hal_looper_exec(lp, ptt::test::looper_noop, nullptr);
                EXPECT_TRUE(r == 0 || r == -1);
                i++;
            }
        });
    }
    ASSERT_TRUE(ptt::test::wait_until([&] { return posted.load() > 2000; }));
    // The loop ends while the threads keep going; the record stays alive
    // until they have stopped.
    ASSERT_EQ(0, hal_looper_exec(lp, hal_looper_routine_quit, nullptr));
    EXPECT_TRUE(ptt::test::wait_until(
        [&] { return hal_looper_exec(lp, ptt::test::looper_noop, nullptr) == -1; }));
    go = false;
    for (auto &th : threads)
        th.join();
    hal_looper_destroy(&lp);
    EXPECT_EQ(posted.load(), g_destroyed.load());
}

} // namespace
