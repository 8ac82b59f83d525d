// The receive stream: locking, probation and sequence rules, the start at
// 400 ms, playout and concealment with the real jitter buffer, loss and
// delay over a long talk, restart, drain, and destroy from inside the owner
// callbacks.
#include "hal_ini.h"
#include "hal_string.h"
#include "list.h"
#include "rtp_test_util.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <map>
#include <random>

using namespace rtp_test;

namespace
{

const uint32_t k_ssrc = 1000;
const uint32_t k_ts0 = 0xFFFFF000u; // timestamps wrap during the longer tests

struct Istream : fixture {
    rtp_istream *s = nullptr;
    std::vector<bytes> played;

    // A stream whose timer is stopped: the test ticks it by hand.
    void make(const std::string &ini = "")
    {
        open(ini);
        s = rtp_istream_new(ctx(), 0, this);
        ASSERT_NE(s, nullptr);
        ASSERT_EQ(hal_looper_cancel_timer(looper(), rtp_istream_on_timer, s), 0);
        pop_on_frames();
    }
    // The owner as the session is: one frame popped per event 1.
    void pop_on_frames()
    {
        g_rec.in_hook = [this](void *st, uint32_t ev, void *) {
            if (ev == RTP_ISTREAM_EVENT_FRAMES)
                pop(static_cast<rtp_istream *>(st));
        };
    }
    void pop(rtp_istream *st)
    {
        uint8_t buf[RTP_POP_FRAME_SIZE];
        hal_sound_frame *f = reinterpret_cast<hal_sound_frame *>(buf);
        if (rtp_istream_pop_frame(st, f)) {
            EXPECT_EQ(f->pt, st->pt);
            played.push_back(frame_bytes(f));
        }
    }
    void TearDown() override
    {
        rtp_istream_destroy(&s);
        fixture::TearDown();
    }
    void set_probation(const char *value)
    {
        run([&] {
            return hal_ini_replace(hal_ctx_get_ini(ctx()), "play", "packprobation", value);
        });
    }
    int put(uint32_t pt, uint32_t seq, uint32_t ts, const bytes &p, uint32_t ssrc = k_ssrc)
    {
        bytes h = header(pt, seq, ts, ssrc);
        return rtp_istream_put(s, as_header(h), p.data(), static_cast<uint32_t>(p.size()));
    }
    // Packet k of a talk: sequence 100 + k, 5 frames.
    int put_packet(uint32_t pt, uint32_t k)
    {
        return put(pt, 100 + k, k_ts0 + k * 800, payload(pt, packet_frames(pt, k)));
    }
    void tick(int n = 1)
    {
        for (int i = 0; i < n; i++)
            rtp_istream_on_timer(looper(), hal_time_now(), s);
    }
};

// The frames a listener hears for packets 0..n-1 of which `lost` never
// arrived: the first lost frame after a received packet replays that
// packet's last frame, every other lost frame is an erasure.
std::vector<bytes> heard(uint32_t pt, uint32_t n, const std::vector<bool> &lost)
{
    std::vector<bytes> v;
    for (uint32_t k = 0; k < n; k++) {
        std::vector<bytes> f = packet_frames(pt, k);
        if (!lost[k]) {
            v.insert(v.end(), f.begin(), f.end());
            continue;
        }
        for (uint32_t i = 0; i < f.size(); i++) {
            bool replay = i == 0 && k > 0 && !lost[k - 1];
            v.push_back(replay ? frame_of(pt, k * 5 - 1) : erasure(pt));
        }
    }
    return v;
}

} // namespace

TEST_F(Istream, LocksOnTheFirstSsrcAndPayloadType)
{
    make("[play]\npackprobation=0\n");
    bytes p = payload(HAL_PT_AMR, {amr_frame(1)});
    EXPECT_EQ(put(HAL_PT_AMR, 10, 0, p), 1);
    EXPECT_EQ(s->ssrc, k_ssrc);
    EXPECT_EQ(s->pt, HAL_PT_AMR);
    EXPECT_EQ(put(HAL_PT_AMR, 11, 160, p, 2000), -1) << "another SSRC";
    EXPECT_EQ(put(HAL_PT_EVRC, 11, 160, payload(HAL_PT_EVRC, {evrc_frame(1)})), -1)
        << "another payload type";
    // The header of an encrypted packet (payload decrypted by the session).
    EXPECT_EQ(put(RTP_PT_AMR_ENCRYPTED, 11, 160, p), 1);
    EXPECT_EQ(put(HAL_PT_AMR, 40, 320, p), 0) << "a long jump restarts";
    EXPECT_EQ(put(HAL_PT_AMR, 41, 480, p, 2000), -1) << "still locked after the restart";
    EXPECT_EQ(put(HAL_PT_EVRC, 41, 480, payload(HAL_PT_EVRC, {evrc_frame(1)})), -1);
    EXPECT_EQ(s->packets, 7u) << "refused packets are counted too";
    EXPECT_EQ(rtp_istream_put(nullptr, as_header(header(101, 1, 1, 1)), p.data(), 13), -1);
}

TEST_F(Istream, SequenceRules)
{
    struct step {
        uint32_t seq;
        int rc;
    };
    struct {
        const char *name;
        const char *probation;
        std::vector<step> steps;
        uint32_t last; // 16 bits
        uint64_t dropped, bad_seq, unordered, probation_left;
    } rows[] = {
        {"probation passes", "2", {{100, 1}, {101, 1}, {102, 1}}, 102, 0, 0, 0, 0},
        {"gap in probation restarts at the new packet",
         "3",
         {{100, 1}, {101, 1}, {105, 0}, {106, 1}, {107, 1}, {108, 1}},
         108,
         2, // the two packets of the broken probation
         1,
         0,
         0},
        {"65535 then 0 breaks probation", "2", {{65535, 1}, {0, 0}}, 0, 1, 1, 0, 1},
        {"jump of 9 is unordered", "0", {{1000, 1}, {1009, 1}}, 1009, 0, 0, 1, 0},
        {"jump of 10 waits for the next packet", "0", {{1000, 1}, {1010, 0}}, 1000, 1, 1, 0, 0},
        {"jump of 10 followed once the next packet continues it",
         "0",
         {{1000, 1}, {1010, 0}, {1011, 1}},
         1011,
         1,
         1,
         0,
         0},
        {"a stray does not move the sequence",
         "0",
         {{1000, 1}, {30000, 0}, {1001, 1}, {50000, 0}, {1002, 1}},
         1002,
         2,
         2,
         0,
         0},
        {"a stray in probation is dropped and the probation goes on",
         "2",
         {{100, 1}, {40000, 0}, {101, 1}, {102, 1}},
         102,
         1,
         1,
         0,
         0},
        {"two in a row far from the probed sequence are probed instead",
         "2",
         {{100, 1}, {40000, 0}, {40001, 1}, {40002, 1}},
         40002,
         1, // 100; 40000 is taken in with 40001

         1,
         0,
         0},
        {"duplicate", "0", {{1000, 1}, {1000, 0}}, 1000, 1, 1, 0, 0},
        {"9 behind becomes the last", "0", {{1000, 1}, {991, 1}, {992, 1}}, 992, 0, 0, 0, 0},
        {"10 behind is dropped silently", "0", {{1000, 1}, {990, 0}}, 1000, 1, 0, 0, 0},
        {"wrap", "0", {{65500, 1}, {5, 1}}, 5, 0, 0, 0, 0},
        {"late packet from before a wrap",
         "0",
         {{65530, 1}, {2, 1}, {65533, 1}},
         65533,
         0,
         0,
         0,
         0},
        {"10 behind across a wrap", "0", {{65530, 1}, {5, 1}, {65531, 0}}, 5, 1, 0, 0, 0},
        {"packprobation 0: a restart starts no probation",
         "0",
         {{1000, 1}, {1010, 0}, {1011, 1}, {1014, 1}},
         1014,
         1,
         1,
         1,
         0},
    };
    make();
    for (const auto &r : rows) {
        SCOPED_TRACE(r.name);
        rtp_istream_destroy(&s);
        set_probation(r.probation);
        s = rtp_istream_new(ctx(), 0, this);
        ASSERT_NE(s, nullptr);
        ASSERT_EQ(hal_looper_cancel_timer(looper(), rtp_istream_on_timer, s), 0);
        uint32_t ts = 0;
        for (const step &st : r.steps) {
            EXPECT_EQ(put(HAL_PT_AMR, st.seq, ts, payload(HAL_PT_AMR, {amr_frame(st.seq)})), st.rc)
                << st.seq;
            ts += 160;
        }
        EXPECT_EQ(s->last_seq & 0xFFFF, r.last);
        EXPECT_EQ(s->dropped, r.dropped);
        EXPECT_EQ(s->bad_seq, r.bad_seq);
        EXPECT_EQ(s->unordered, r.unordered);
        EXPECT_EQ(s->probation_left, r.probation_left);
    }
}

TEST_F(Istream, ProbationSettingIsBounded)
{
    struct {
        const char *value;
        uint64_t probation;
    } rows[] = {{nullptr, 2}, {"0", 0},     {"3", 3},     {"2.9", 2},
                {"-1", 0},    {"100", 100}, {"101", 100}, {"1e300", 100}};
    make();
    for (const auto &r : rows) {
        rtp_istream_destroy(&s);
        if (r.value)
            set_probation(r.value);
        else
            run([&] { return hal_ini_remove(hal_ctx_get_ini(ctx()), "play", "packprobation"); });
        s = rtp_istream_new(ctx(), 0, this);
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(s->probation, r.probation) << (r.value ? r.value : "absent");
        EXPECT_EQ(s->probation_left, r.probation);
    }
}

TEST_F(Istream, PlayingStartsAt3200Samples)
{
    for (uint32_t pt : {HAL_PT_AMR, HAL_PT_EVRC}) {
        SCOPED_TRACE(pt);
        make();
        for (uint32_t k = 0; k < 3; k++)
            EXPECT_EQ(put_packet(pt, k), 1);
        EXPECT_EQ(s->samples, 2400u);
        EXPECT_EQ(s->state, RTP_ISTREAM_BUFFERING);
        EXPECT_TRUE(g_rec.in_events().empty());
        tick(3);
        EXPECT_TRUE(g_rec.in_events().empty()) << "nothing plays while buffering";
        EXPECT_EQ(put_packet(pt, 3), 1);
        EXPECT_EQ(s->state, RTP_ISTREAM_PLAYING);
        EXPECT_EQ(g_rec.in_events(), std::vector<uint32_t>{RTP_ISTREAM_EVENT_START});
        EXPECT_EQ(put_packet(pt, 4), 1);
        tick(25);
        std::vector<uint32_t> ev = g_rec.in_events();
        EXPECT_EQ(count_of(ev, RTP_ISTREAM_EVENT_START), 1u) << "once per start";
        EXPECT_EQ(count_of(ev, RTP_ISTREAM_EVENT_FRAMES), 25u);
        EXPECT_EQ(difference(played, heard(pt, 5, std::vector<bool>(5, false))), "");
        rtp_istream_destroy(&s);
        TearDown();
        played.clear();
    }
}

TEST_F(Istream, MalformedPayloadIsCountedButNotStored)
{
    make("[play]\npackprobation=0\n");
    bytes bad = payload(HAL_PT_AMR, {amr_frame(1)});
    bad.pop_back();
    EXPECT_EQ(put(HAL_PT_AMR, 7, 0, bad), 1);
    EXPECT_EQ(s->packets, 1u);
    EXPECT_EQ(s->payload_bytes, bad.size());
    EXPECT_EQ(s->samples, 0u);
    EXPECT_EQ(s->last_seq, 7u) << "its sequence number is taken";
    EXPECT_EQ(put(HAL_PT_AMR, 8, 160, bytes{}), 1) << "an empty payload stores nothing either";
    EXPECT_EQ(s->samples, 0u);
}

TEST_F(Istream, JitterEstimate)
{
    make("[play]\npackprobation=0\n");
    bytes p = payload(HAL_PT_AMR, packet_frames(HAL_PT_AMR, 0));
    const uint32_t ts0 = 0xFFFFFC00u; // wraps at the third packet
    for (uint32_t k = 0; k < 4; k++) {
        EXPECT_EQ(put(HAL_PT_AMR, k, ts0 + k * 800, p), 1);
        hal_clock_fake_advance(100);
    }
    EXPECT_NEAR(s->jitter, 0.0, 1e-9) << "on time, across the timestamp wrap";
    hal_clock_fake_advance(40);
    EXPECT_EQ(put(HAL_PT_AMR, 4, ts0 + 4 * 800, p), 1);
    EXPECT_NEAR(s->jitter, 0.04 / 16, 1e-9);
    hal_clock_fake_advance(60);
    EXPECT_EQ(put(HAL_PT_AMR, 5, ts0 + 5 * 800, p), 1);
    EXPECT_NEAR(s->jitter, (15 * 0.04 / 16 + 0.04) / 16, 1e-9);
}

// With speexdsp 1.2.1 a lost packet reads back as missing spans of one
// frame each: the first replays the last frame played, the history is then
// empty and the rest are erasures.
TEST_F(Istream, LostPacketsAreConcealed)
{
    struct {
        const char *name;
        std::vector<uint32_t> lost;
    } rows[] = {{"one packet", {6}}, {"two packets", {6, 7}}};
    for (uint32_t pt : {HAL_PT_AMR, HAL_PT_EVRC}) {
        for (const auto &r : rows) {
            SCOPED_TRACE(std::string(r.name) + " " + std::to_string(pt));
            make();
            std::vector<bool> lost(12, false);
            for (uint32_t k : r.lost)
                lost[k] = true;
            // Four packets ahead, then one per five ticks.
            for (uint32_t k = 0; k < 4; k++)
                put_packet(pt, k);
            for (uint32_t k = 4; k < 12; k++) {
                if (!lost[k])
                    put_packet(pt, k);
                tick(5);
            }
            tick(20);
            ASSERT_GE(played.size(), 60u);
            played.resize(60);
            EXPECT_EQ(difference(played, heard(pt, 12, lost)), "");
            EXPECT_EQ(count_of(g_rec.in_events(), RTP_ISTREAM_EVENT_RESTARTED), 0u);
            rtp_istream_destroy(&s);
            TearDown();
            played.clear();
        }
    }
}

// A minute of talk: every 20th packet lost, the others delayed by a seeded
// 0..200 ms, so they also arrive out of order. The 400 ms gathered before
// playing absorb it: every frame that arrived is heard once and in order,
// and nothing is skipped or restarted. (The first two packets arrive on
// time: they pass the probation.)
TEST_F(Istream, LossAndDelayOverALongTalk)
{
    const uint32_t n = 600;
    for (uint32_t pt : {HAL_PT_AMR, HAL_PT_EVRC}) {
        SCOPED_TRACE(pt);
        make();
        std::mt19937 rng(20240611u + pt);
        std::uniform_int_distribution<int> delay(0, 200);
        std::vector<bool> lost(n, false);
        std::multimap<uint64_t, uint32_t> arrivals; // ms -> packet
        for (uint32_t k = 0; k < n; k++) {
            lost[k] = k % 20 == 19;
            int d = delay(rng);
            if (!lost[k])
                arrivals.emplace(k * 100 + (k < 2 ? 0 : d), k);
        }
        // Packets are read before timers in a looper cycle; ticks fall 7 ms
        // into each 20 ms.
        uint64_t now = 0;
        auto move_to = [&](uint64_t t) {
            hal_clock_fake_advance(t - now);
            now = t;
        };
        for (uint64_t t = 7; t < n * 100 + 1000; t += 20) {
            while (!arrivals.empty() && arrivals.begin()->first <= t) {
                move_to(arrivals.begin()->first);
                EXPECT_GE(put_packet(pt, arrivals.begin()->second), 1);
                arrivals.erase(arrivals.begin());
            }
            move_to(t);
            tick();
        }
        ASSERT_GE(played.size(), n * 5);
        played.resize(n * 5);
        EXPECT_EQ(difference(played, heard(pt, n, lost)), "");
        std::vector<uint32_t> ev = g_rec.in_events();
        EXPECT_EQ(count_of(ev, RTP_ISTREAM_EVENT_RESTARTED), 0u);
        EXPECT_EQ(count_of(ev, RTP_ISTREAM_EVENT_START), 1u);
        EXPECT_EQ(s->dropped, 0u);
        EXPECT_EQ(s->bad_seq, 0u);
        rtp_istream_destroy(&s);
        TearDown();
        played.clear();
    }
}

TEST_F(Istream, TenLostPacketsRestartTheStream)
{
    make();
    for (uint32_t k = 0; k < 4; k++)
        put_packet(HAL_PT_AMR, k);
    for (uint32_t k = 4; k < 20; k++) {
        put_packet(HAL_PT_AMR, k);
        tick(5);
    }
    // 20..29 are lost; the stream conceals until 30 arrives, 11 ahead. One
    // packet that far ahead may be a stray: it is dropped, and 31, which
    // continues it, restarts the stream.
    tick(50);
    EXPECT_EQ(s->state, RTP_ISTREAM_PLAYING);
    EXPECT_EQ(put_packet(HAL_PT_AMR, 30), 0);
    EXPECT_EQ(s->state, RTP_ISTREAM_PLAYING);
    EXPECT_EQ(s->bad_seq, 1u);
    EXPECT_EQ(put_packet(HAL_PT_AMR, 31), 1);
    EXPECT_EQ(s->state, RTP_ISTREAM_BUFFERING);
    EXPECT_EQ(s->bad_seq, 1u);
    EXPECT_EQ(s->samples, 800u) << "the packet that confirmed the jump is stored";
    EXPECT_EQ(g_rec.in_events().back(), static_cast<uint32_t>(RTP_ISTREAM_EVENT_RESTARTED));
    EXPECT_EQ(s->copies.next->next, &s->copies) << "only its payload copy outlives the reset";
    // A new probation from 31 on, and a new start after 400 ms.
    size_t before = played.size();
    tick(3);
    EXPECT_EQ(played.size(), before) << "silent while buffering again";
    for (uint32_t k = 32; k < 35; k++)
        EXPECT_EQ(put_packet(HAL_PT_AMR, k), 1);
    EXPECT_EQ(s->state, RTP_ISTREAM_PLAYING);
    tick(5);
    std::vector<uint32_t> ev = g_rec.in_events();
    EXPECT_EQ(count_of(ev, RTP_ISTREAM_EVENT_START), 2u);
    EXPECT_EQ(count_of(ev, RTP_ISTREAM_EVENT_RESTARTED), 1u);
    std::vector<bytes> f31 = packet_frames(HAL_PT_AMR, 31);
    EXPECT_EQ(difference(std::vector<bytes>(played.end() - 5, played.end()), f31), "");
}

// A hundred packets of the talker's SSRC with random sequence numbers far off
// its own arrive between each pair of its packets, from its first packet on
// (default probation); or twenty before each of its packets, the first one
// included: every frame of the talk is still played, in order, and the
// playing stream never restarts.
TEST_F(Istream, StraysOfTheSameSsrcNeitherResetNorBreakTheTalk)
{
    for (bool strays_first : {false, true}) {
        for (uint32_t pt : {HAL_PT_AMR, HAL_PT_EVRC}) {
            SCOPED_TRACE(std::to_string(pt) + (strays_first ? " strays first" : ""));
            make();
            std::mt19937 rng(7);
            const uint32_t n = 30;
            // Before the first packet the stream cannot tell which sequence
            // is the talker's: it remembers the latest 64 far packets, so
            // fewer strays come between two packets of the talker there.
            const int count = strays_first ? 20 : 100;
            auto strays = [&](uint32_t k) {
                for (int i = 0; i < count; i++) {
                    uint32_t seq = (100 + k + 1000 + rng() % 63536) & 0xFFFF;
                    int rc = put(pt, seq, rng(), payload(pt, packet_frames(pt, 500 + k)));
                    if (!strays_first || k > 0 || i > 0) {
                        EXPECT_EQ(rc, 0);
                    }
                }
            };
            auto talker = [&](uint32_t k) {
                if (strays_first)
                    strays(k);
                int rc = put_packet(pt, k);
                if (!strays_first || k > 0) {
                    EXPECT_EQ(rc, 1) << k;
                }
                if (!strays_first)
                    strays(k);
            };
            for (uint32_t k = 0; k < 4; k++)
                talker(k);
            for (uint32_t k = 4; k < n; k++) {
                talker(k);
                tick(5);
            }
            tick(30);
            ASSERT_GE(played.size(), n * 5);
            played.resize(n * 5);
            EXPECT_EQ(difference(played, heard(pt, n, std::vector<bool>(n, false))), "");
            EXPECT_EQ(count_of(g_rec.in_events(), RTP_ISTREAM_EVENT_START), 1u);
            if (!strays_first) {
                EXPECT_EQ(s->bad_seq, n * 100u);
            }
            rtp_istream_destroy(&s);
            TearDown();
            played.clear();
        }
    }
}

TEST_F(Istream, LatePacketIsFreed)
{
    // Far behind the play position but within the sequence window: the
    // jitter buffer keeps nothing of it, and the copy is still freed (the
    // leak check of the sanitizer build watches this).
    make("[play]\npackprobation=0\n");
    for (uint32_t k = 0; k < 4; k++)
        put_packet(HAL_PT_AMR, k);
    for (uint32_t k = 4; k < 12; k++) {
        if (k != 6)
            put_packet(HAL_PT_AMR, k);
        tick(5);
    }
    EXPECT_EQ(put_packet(HAL_PT_AMR, 6), 1);
    tick(10);
    played.resize(50);
    std::vector<bool> lost(10, false);
    lost[6] = true;
    EXPECT_EQ(difference(played, heard(HAL_PT_AMR, 10, lost)), "");
}

TEST_F(Istream, DrainHandsOutEverythingLeft)
{
    make();
    for (uint32_t k = 0; k < 6; k++)
        put_packet(HAL_PT_AMR, k);
    put_packet(HAL_PT_AMR, 7); // 6 is lost
    tick(3);
    rtp_istream_get(s);
    EXPECT_EQ(s->state, RTP_ISTREAM_DRAINING);
    EXPECT_EQ(put_packet(HAL_PT_AMR, 8), -1) << "refused while draining";
    EXPECT_EQ(list_count(s->ready), 40u - 3) << "handed over at once";
    tick(37);
    std::vector<bool> lost(8, false);
    lost[6] = true;
    std::vector<bytes> want = heard(HAL_PT_AMR, 8, lost);
    // Draining fills a gap with erasures only (nothing is replayed).
    want[30] = erasure(HAL_PT_AMR);
    EXPECT_EQ(difference(played, want), "");
    size_t frames = g_rec.in_events().size();
    tick(2);
    std::vector<uint32_t> ev = g_rec.in_events();
    EXPECT_EQ(std::vector<uint32_t>(ev.begin() + frames, ev.end()),
              (std::vector<uint32_t>{RTP_ISTREAM_EVENT_DRAINED, RTP_ISTREAM_EVENT_DRAINED}));
}

TEST_F(Istream, DrainBeforePlaying)
{
    make();
    g_rec.in_hook = nullptr;
    put_packet(HAL_PT_EVRC, 0);
    put_packet(HAL_PT_EVRC, 1);
    rtp_istream_get(s);
    // The session takes every frame at once.
    uint8_t buf[RTP_POP_FRAME_SIZE];
    hal_sound_frame *f = reinterpret_cast<hal_sound_frame *>(buf);
    while (rtp_istream_pop_frame(s, f))
        played.push_back(frame_bytes(f));
    EXPECT_EQ(difference(played, heard(HAL_PT_EVRC, 2, {false, false})), "");
    EXPECT_EQ(rtp_istream_pop_frame(s, f), 0);
}

// The owner may destroy the stream from inside each of its callbacks; the
// stream finishes the operation that called out without touching freed
// memory (the sanitizer build checks) and no callback follows.
TEST_F(Istream, DestroyFromInsideTheCallbacks)
{
    for (uint32_t target : {0u, 1u, 2u, 3u}) {
        SCOPED_TRACE(target);
        open("");
        s = rtp_istream_new(ctx(), 0, this);
        ASSERT_NE(s, nullptr);
        g_rec.in_hook = [&](void *st, uint32_t ev, void *owner) {
            EXPECT_EQ(owner, this);
            if (ev == RTP_ISTREAM_EVENT_FRAMES)
                pop(static_cast<rtp_istream *>(st));
            if (ev == target)
                rtp_istream_destroy(&s);
        };
        // Packets go in on the looper, the timer ticks on the test clock.
        auto put_on_looper = [&](uint32_t k) {
            return run([&] { return s ? put_packet(HAL_PT_AMR, k) : -9; });
        };
        for (uint32_t k = 0; k < 4; k++)
            EXPECT_EQ(put_on_looper(k), 1);
        if (target == 1)
            advance(20);
        if (target == 2) {
            EXPECT_EQ(put_on_looper(20), 0) << "long jump while playing";
            EXPECT_NE(s, nullptr) << "one packet far ahead does not restart";
            EXPECT_EQ(put_on_looper(21), 0) << "the next one confirms the jump";
        }
        if (target == 3) {
            run([&] {
                rtp_istream_get(s);
                return 0;
            });
            for (int i = 0; i < 21 && s; i++)
                advance(20);
        }
        EXPECT_EQ(s, nullptr);
        size_t calls = g_rec.in_events().size();
        advance(100);
        EXPECT_EQ(g_rec.in_events().size(), calls) << "the timer went with the stream";
        TearDown();
    }
}
