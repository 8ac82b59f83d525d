// The audio focus: pre-emption, the waiting queue and release.
#include "focus_manager.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace
{

struct call {
    void *owner;
    int regained;
};
std::vector<call> g_calls;

void on_focus(focus_manager_t *, void *owner, uint8_t regained)
{
    g_calls.push_back({owner, regained});
}

struct FocusManager : ::testing::Test {
    focus_manager_t *fm = focus_manager_new();
    int a = 0, b = 0, c = 0, d = 0;
    void SetUp() override
    {
        ASSERT_NE(fm, nullptr);
        g_calls.clear();
    }
    void TearDown() override
    {
        focus_manager_destroy(&fm);
        EXPECT_EQ(fm, nullptr);
    }
};

} // namespace

TEST_F(FocusManager, StrictlyGreaterPriorityPreempts)
{
    EXPECT_EQ(focus_manager_require_nowait(fm, &a, 10000, on_focus), 1);
    EXPECT_EQ(focus_manager_require_nowait(fm, &b, 10000, on_focus), 0) << "equal is refused";
    EXPECT_EQ(focus_manager_require_nowait(fm, &b, 9999, on_focus), 0);
    EXPECT_EQ(focus_manager_waiting(fm), 0u) << "nowait requests never queue";
    EXPECT_TRUE(g_calls.empty());
    // The holder asking again keeps its first priority and hears nothing.
    EXPECT_EQ(focus_manager_require_nowait(fm, &a, 1, on_focus), 1);
    EXPECT_EQ(focus_manager_require_nowait(fm, &b, 10000, on_focus), 0);
    EXPECT_TRUE(g_calls.empty());

    EXPECT_EQ(focus_manager_require_nowait(fm, &b, 50000, nullptr), 1);
    EXPECT_EQ(focus_manager_holder(fm), &b);
    ASSERT_EQ(g_calls.size(), 1u);
    EXPECT_EQ(g_calls[0].owner, &a);
    EXPECT_EQ(g_calls[0].regained, 0);
    // Releasing B gives the focus back to A.
    EXPECT_EQ(focus_manager_release(fm, &b), 0);
    EXPECT_EQ(focus_manager_holder(fm), &a);
    ASSERT_EQ(g_calls.size(), 2u);
    EXPECT_EQ(g_calls[1].owner, &a);
    EXPECT_EQ(g_calls[1].regained, 1);
    EXPECT_EQ(focus_manager_release(fm, &a), 0);
    EXPECT_EQ(focus_manager_holder(fm), nullptr);
    EXPECT_EQ(focus_manager_release(fm, &a), -1);
}

TEST_F(FocusManager, PreemptedHoldersStackMostRecentFirst)
{
    ASSERT_EQ(focus_manager_require_nowait(fm, &a, 10, on_focus), 1);
    ASSERT_EQ(focus_manager_require_nowait(fm, &b, 20, on_focus), 1);
    ASSERT_EQ(focus_manager_require_nowait(fm, &c, 30, on_focus), 1);
    EXPECT_EQ(focus_manager_waiting(fm), 2u);
    g_calls.clear();
    ASSERT_EQ(focus_manager_release(fm, &c), 0);
    EXPECT_EQ(focus_manager_holder(fm), &b);
    ASSERT_EQ(focus_manager_release(fm, &b), 0);
    EXPECT_EQ(focus_manager_holder(fm), &a);
    ASSERT_EQ(g_calls.size(), 2u);
    EXPECT_EQ(g_calls[0].owner, &b);
    EXPECT_EQ(g_calls[1].owner, &a);
}

TEST_F(FocusManager, QueuedRequestsOrderByPriority)
{
    ASSERT_EQ(focus_manager_require_nowait(fm, &a, 10000, on_focus), 1);
    int w999a = 0, w10 = 0, w999b = 0, w5000 = 0;
    EXPECT_EQ(focus_manager_require(fm, &w999a, 999, on_focus), 0);
    EXPECT_EQ(focus_manager_require(fm, &w10, 10, on_focus), 0);
    // 999 goes behind the waiting 999 and before the 10.
    EXPECT_EQ(focus_manager_require(fm, &w999b, 999, on_focus), 0);
    EXPECT_EQ(focus_manager_require(fm, &w5000, 5000, on_focus), 0);
    EXPECT_EQ(focus_manager_require(fm, &w10, 10, on_focus), 0) << "no second entry";
    EXPECT_EQ(focus_manager_waiting(fm), 4u);
    EXPECT_TRUE(g_calls.empty());
    std::vector<void *> order;
    for (int i = 0; i < 5; i++) {
        void *h = focus_manager_holder(fm);
        order.push_back(h);
        ASSERT_EQ(focus_manager_release(fm, h), 0);
    }
    EXPECT_EQ(order, (std::vector<void *>{&a, &w5000, &w999a, &w999b, &w10}));
    ASSERT_EQ(g_calls.size(), 4u);
    for (const call &k : g_calls)
        EXPECT_EQ(k.regained, 1);
    // A queued request that wins holds at once, like a nowait one.
    EXPECT_EQ(focus_manager_require(fm, &b, 1, on_focus), 1);
}

TEST_F(FocusManager, ReleasingAWaiterLeavesTheHolderAlone)
{
    ASSERT_EQ(focus_manager_require_nowait(fm, &a, 10, on_focus), 1);
    ASSERT_EQ(focus_manager_require_nowait(fm, &b, 20, on_focus), 1);
    ASSERT_EQ(focus_manager_require(fm, &c, 5, on_focus), 0);
    g_calls.clear();
    EXPECT_EQ(focus_manager_release(fm, &a), 0);
    EXPECT_EQ(focus_manager_holder(fm), &b);
    EXPECT_EQ(focus_manager_waiting(fm), 1u);
    EXPECT_TRUE(g_calls.empty());
    EXPECT_EQ(focus_manager_release(fm, &d), -1);
    // A waiter that wins by pre-emption keeps no second entry in the queue.
    EXPECT_EQ(focus_manager_require_nowait(fm, &c, 30, on_focus), 1);
    EXPECT_EQ(focus_manager_waiting(fm), 1u);
    ASSERT_EQ(focus_manager_release(fm, &c), 0);
    EXPECT_EQ(focus_manager_holder(fm), &b);
    EXPECT_EQ(focus_manager_waiting(fm), 0u);
}

TEST_F(FocusManager, ClearForgetsEverythingSilently)
{
    ASSERT_EQ(focus_manager_require_nowait(fm, &a, 10, on_focus), 1);
    ASSERT_EQ(focus_manager_require_nowait(fm, &b, 20, on_focus), 1);
    ASSERT_EQ(focus_manager_require(fm, &c, 5, on_focus), 0);
    g_calls.clear();
    focus_manager_clear(fm);
    EXPECT_EQ(focus_manager_holder(fm), nullptr);
    EXPECT_EQ(focus_manager_waiting(fm), 0u);
    EXPECT_TRUE(g_calls.empty());
    EXPECT_EQ(focus_manager_require_nowait(fm, &c, 1, on_focus), 1);
    focus_manager_destroy(nullptr);
    focus_manager_t *none = nullptr;
    focus_manager_destroy(&none);
    EXPECT_EQ(focus_manager_require_nowait(nullptr, &a, 1, on_focus), 0);
}

// A pre-empted holder that gives up in its callback leaves a sound manager.
namespace
{
void give_up(focus_manager_t *fm, void *owner, uint8_t regained)
{
    g_calls.push_back({owner, regained});
    if (!regained) {
        EXPECT_EQ(focus_manager_release(fm, owner), 0);
    }
}
} // namespace

TEST_F(FocusManager, CallbackMayReleaseDuringPreemption)
{
    ASSERT_EQ(focus_manager_require_nowait(fm, &a, 10, give_up), 1);
    ASSERT_EQ(focus_manager_require_nowait(fm, &b, 20, on_focus), 1);
    EXPECT_EQ(focus_manager_waiting(fm), 0u);
    ASSERT_EQ(focus_manager_release(fm, &b), 0);
    EXPECT_EQ(focus_manager_holder(fm), nullptr);
    EXPECT_EQ(g_calls.size(), 1u);
}
