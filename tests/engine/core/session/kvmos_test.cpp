// The voice-quality estimate: the score of a window, the class over the
// sessions, the shared Ping sequence base.
#include "hal_time.h"
#include "kvmos.h"
#include "list.h"
#include "ptt_net.pb-c.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <string>

namespace
{

std::string printed(float v)
{
    char buf[32];
    snprintf(buf, sizeof(buf), "%f", v);
    return buf;
}

struct Kvmos : ::testing::Test {
    kvmos *k = nullptr;
    void SetUp() override
    {
        hal_clock_fake_enable(1'000'000);
        k = kvmos_new(nullptr);
        ASSERT_NE(k, nullptr);
    }
    void TearDown() override
    {
        kvmos_destroy(&k);
        EXPECT_EQ(k, nullptr);
        hal_clock_fake_disable();
    }
    // A Pong whose timestamp makes the latency come out as given.
    void pong(kvmos_factor_list *f, int latency_ms, uint32_t seq)
    {
        Ptt__Net__Pong p = PTT__NET__PONG__INIT;
        p.has_timestamp = 1;
        p.timestamp = (uint32_t)(uint64_t)(hal_time_now() * 1000.0) - (uint32_t)latency_ms;
        p.has_seq = 1;
        p.seq = seq;
        kvmos_set_factors(k, f, &p);
    }
    // A list whose score stays as set: a full window is not re-scored.
    kvmos_factor_list *scored(float mos)
    {
        kvmos_factor_list *f = kvmos_construct(k);
        for (uint32_t i = 0; i < k->capacity; i++)
            pong(f, 0, 400 + i);
        f->mos = mos;
        return f;
    }
};

} // namespace

TEST_F(Kvmos, NoSampleScoresTheFixedDelayOnly)
{
    kvmos_factor_list *f = kvmos_construct(k);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(k->capacity, (uint32_t)KVMOS_DEFAULT_CAPACITY);
    EXPECT_EQ(printed(kvmos_process(k, f)), "4.404394");
    EXPECT_EQ(kvmos_get_mos_value(k), 4);
}

TEST_F(Kvmos, LatencyJitterAndLossOfAWindow)
{
    kvmos_factor_list *f = kvmos_construct(k);
    // Latencies 100, 140, 120 (mean 120, jitter 30: effective 160 ms), one
    // of four Pings lost.
    pong(f, 100, 400);
    pong(f, 140, 401);
    pong(f, 120, 403);
    ASSERT_EQ(list_count(f->samples), 3u);
    EXPECT_EQ(((kvmos_sample *)list_front(f->samples))->latency, 100);
    EXPECT_EQ(printed(kvmos_process(k, f)), "4.302544");
    // A latency over 16 bits keeps its low 16 bits.
    pong(f, 70000, 404);
    EXPECT_EQ(((kvmos_sample *)list_back(f->samples))->latency, 70000 & 0xFFFF);
}

TEST_F(Kvmos, AFullWindowKeepsTheScoreOfItsLastSample)
{
    k->capacity = 2;
    kvmos_factor_list *f = kvmos_construct(k);
    pong(f, 0, 400);
    pong(f, 0, 401);
    f->mos = 1.5f;
    EXPECT_EQ(kvmos_get_mos_value(k), 1) << "a full window is not re-scored on a query";
    // The next sample scores the full window, then replaces its oldest.
    pong(f, 0, 402);
    EXPECT_EQ(printed(f->mos), "4.404394");
    EXPECT_EQ(list_count(f->samples), 2u);
    EXPECT_EQ(((kvmos_sample *)list_front(f->samples))->seq, 401);
}

TEST_F(Kvmos, ClassIsTheMeanOfTheSessions)
{
    k->capacity = 1;
    scored(4.4f);
    scored(3.2f);
    EXPECT_EQ(kvmos_get_mos_value(k), 3);
}

TEST_F(Kvmos, ARemovedSessionCountsOnceAndTheClassStaysOnScale)
{
    k->capacity = 1;
    kvmos_factor_list *a = scored(4.4f);
    scored(4.4f);
    kvmos_deconstruct(k, a);
    EXPECT_EQ(k->mos_count, 1);
    EXPECT_EQ(kvmos_get_mos_value(k), 4) << "4.4 and the removed 4.4";
    scored(1.2f);
    EXPECT_EQ(kvmos_get_mos_value(k), 2) << "(4.4 + 1.2) / 2: the removal is forgotten";
}

TEST_F(Kvmos, PingSequencesShareOneBase)
{
    // Engine time 1000.0 + 500: base = 1500 mod 256 + 400.
    kvmos_factor_list *a = kvmos_construct(k);
    kvmos_factor_list *b = kvmos_construct(k);
    uint32_t base = (1500u % 256) + 400;
    EXPECT_EQ(kvmos_make_seq(k, a), base);
    EXPECT_EQ(kvmos_make_seq(k, a), base + 1);
    hal_clock_fake_advance(3000);
    EXPECT_EQ(kvmos_make_seq(k, b), base) << "the base is chosen once";
    EXPECT_EQ(kvmos_make_seq(k, nullptr), 0u);
    EXPECT_EQ(kvmos_make_seq(nullptr, a), 0u);
    // With every list gone the next one chooses afresh.
    kvmos_deconstruct(k, a);
    kvmos_deconstruct(k, b);
    kvmos_factor_list *c = kvmos_construct(k);
    EXPECT_EQ(kvmos_make_seq(k, c), (1503u % 256) + 400);
}
