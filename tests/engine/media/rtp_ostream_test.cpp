// The send stream: the first header, the packet schedule, "fop" and its
// bounds, drain, encryption and the key field, reading the recorder, and
// destroy from inside the owner callbacks.
#include "aes.h"
#include "hal_ini.h"
#include "hal_sound.h"
#include "hal_string.h"
#include "list.h"
#include "rtp_test_util.h"

#include <gtest/gtest.h>

using namespace rtp_test;

namespace
{

const uint32_t k_uid = 1000;

struct sent_packet {
    bytes data;
    int tick; // the tick that built it
};

struct Ostream : fixture {
    rtp_ostream *s = nullptr;
    std::vector<sent_packet> sent;
    int ticks = 0;

    // A stream whose timer is stopped (the test ticks it), the engine clock
    // at `start` engine seconds.
    void make(uint32_t pt, const std::string &ini = "", double start = 1000.3,
              uint32_t is_encryp = 0, const char *key = nullptr)
    {
        open(ini, start);
        s = rtp_ostream_new(ctx(), k_uid, pt, 0, this, is_encryp, key);
        ASSERT_NE(s, nullptr);
        ASSERT_EQ(hal_looper_cancel_timer(looper(), rtp_ostream_on_timer, s), 0);
        send_on_packets();
    }
    // The owner as the session is: each built packet is sent and cleared.
    void send_on_packets()
    {
        g_rec.out_hook = [this](void *st, uint32_t ev, void *owner) {
            EXPECT_EQ(owner, this);
            rtp_ostream *o = static_cast<rtp_ostream *>(st);
            if (ev == RTP_OSTREAM_EVENT_PACKET && o->last_len) {
                sent.push_back({bytes(o->packet, o->packet + o->last_len), ticks});
                o->last_len = 0;
            }
        };
    }
    void TearDown() override
    {
        rtp_ostream_destroy(&s);
        fixture::TearDown();
    }
    // Frames as the recorder queues them: ids first, first + 1, ...
    void feed(uint32_t n, uint32_t first)
    {
        for (uint32_t i = 0; i < n; i++)
            ASSERT_EQ(list_push_back(s->frames, frame(s->pt, frame_of(s->pt, first + i))), 0);
    }
    void tick(double now)
    {
        ticks++;
        rtp_ostream_on_timer(looper(), now, s);
    }
};

uint32_t be16(const bytes &p, size_t at)
{
    return uint32_t(p[at]) << 8 | p[at + 1];
}

uint32_t be32(const bytes &p, size_t at)
{
    return be16(p, at) << 16 | be16(p, at + 2);
}

} // namespace

TEST_F(Ostream, FirstHeaderAtSecond1234)
{
    // Whole engine seconds 1234: timestamp 1234, sequence 210 + 400.
    make(HAL_PT_AMR, "", 1234.7);
    EXPECT_EQ(s->ts, 1234u);
    EXPECT_EQ(s->seq, 610u);
    feed(6, 0);
    tick(1234.72);
    EXPECT_EQ(g_rec.out_events(),
              (std::vector<uint32_t>{RTP_OSTREAM_EVENT_START, RTP_OSTREAM_EVENT_PACKET}));
    ASSERT_EQ(sent.size(), 1u);
    const bytes &p = sent[0].data;
    ASSERT_EQ(p.size(), 12u + 5 * 13);
    EXPECT_EQ(bytes(p.begin(), p.begin() + 12),
              (bytes{0x80, 0x65, 0x02, 0x62, 0x00, 0x00, 0x04, 0xD2, 0x00, 0x00, 0x03, 0xE8}));
    EXPECT_EQ(bytes(p.begin() + 12, p.end()), payload(HAL_PT_AMR, packet_frames(HAL_PT_AMR, 0)));
    EXPECT_EQ(s->state, RTP_OSTREAM_SENDING);
    EXPECT_EQ(list_count(s->frames), 1u);
}

TEST_F(Ostream, OnePacketEveryHundredMilliseconds)
{
    // One frame recorded per tick: the first packet goes when six are
    // queued, then one of five frames every fifth tick; a tick that finds
    // fewer than five sends nothing and the next one catches up.
    make(HAL_PT_EVRC);
    uint32_t ts0 = s->ts, seq0 = s->seq;
    uint32_t id = 0;
    for (int k = 1; k <= 30; k++) {
        // Two frames come late, with the frame of tick 17.
        uint32_t n = k == 14 || k == 15 ? 0 : k == 17 ? 3 : 1;
        feed(n, id);
        id += n;
        // Each tick a little late, as on a real looper.
        tick(1000.3 + 0.0201 * k);
    }
    std::vector<int> when;
    for (const sent_packet &p : sent)
        when.push_back(p.tick);
    EXPECT_EQ(when, (std::vector<int>{6, 11, 17, 21, 26}));
    for (size_t i = 0; i < sent.size(); i++) {
        const bytes &p = sent[i].data;
        EXPECT_EQ(p[1], HAL_PT_EVRC);
        EXPECT_EQ(be16(p, 2), (seq0 + i) & 0xFFFF);
        EXPECT_EQ(be32(p, 4), ts0 + 800 * i);
        EXPECT_EQ(be32(p, 8), k_uid);
        bytes want = {5, 0xAA, 0x80};
        for (const bytes &f : packet_frames(HAL_PT_EVRC, static_cast<uint32_t>(i)))
            want.insert(want.end(), f.begin(), f.end());
        EXPECT_EQ(bytes(p.begin() + 12, p.end()), want) << i;
    }
    EXPECT_EQ(s->sent, sent.size());
    EXPECT_EQ(count_of(g_rec.out_events(), RTP_OSTREAM_EVENT_START), 1u);
}

TEST_F(Ostream, RefusedFrameSendsNothing)
{
    make(HAL_PT_EVRC);
    feed(6, 0);
    tick(1000.32);
    ASSERT_EQ(sent.size(), 1u);
    uint32_t ts = s->ts, seq = s->seq;
    // A frame of no EVRC rate spoils the next packet only.
    ASSERT_EQ(list_push_back(s->frames, frame(HAL_PT_EVRC, bytes(11, 1))), 0);
    feed(8, 6);
    tick(1000.425);
    EXPECT_EQ(sent.size(), 1u);
    EXPECT_EQ(s->ts, ts);
    EXPECT_EQ(s->seq, seq);
    EXPECT_EQ(s->sent, 1u);
    tick(1000.445);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(be32(sent[1].data, 4), ts);
    EXPECT_EQ(sent[1].data[12], 5);
}

TEST_F(Ostream, FramesPerPacketSetting)
{
    struct {
        const char *value;
        uint32_t pt;
        uint32_t fop;
    } rows[] = {{nullptr, HAL_PT_AMR, 5}, {"3.9", HAL_PT_AMR, 3}, {"0", HAL_PT_AMR, 1},
                {"-2", HAL_PT_EVRC, 1},   {"abc", HAL_PT_AMR, 1}, {"9", HAL_PT_AMR, 5},
                {"7", HAL_PT_EVRC, 7},    {"9", HAL_PT_EVRC, 7},  {"1e300", HAL_PT_EVRC, 7}};
    for (const auto &r : rows) {
        SCOPED_TRACE(r.value ? r.value : "absent");
        make(r.pt, r.value ? std::string("[record]\nfop=") + r.value + "\n" : "", 1000.3, 1, "k");
        EXPECT_EQ(s->fop, r.fop);
        // The largest frames, encrypted: the packet still fits.
        for (uint32_t i = 0; i <= r.fop; i++)
            ASSERT_EQ(list_push_back(
                          s->frames,
                          frame(r.pt, r.pt == HAL_PT_AMR ? amr_frame(i, 7) : evrc_frame(i, 22))),
                      0);
        tick(1000.32);
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_LE(sent[0].data.size(), static_cast<size_t>(RTP_PACKET_MAX));
        EXPECT_EQ((sent[0].data.size() - 12) % 16, 0u);
        rtp_ostream_destroy(&s);
        TearDown();
        sent.clear();
    }
}

TEST_F(Ostream, DrainSendsWhatIsLeft)
{
    make(HAL_PT_AMR);
    feed(6, 0);
    tick(1000.32);
    ASSERT_EQ(sent.size(), 1u);
    // The recording stops: the owner appends the last frames and drains.
    s->state = RTP_OSTREAM_DRAINING;
    feed(2, 6);
    uint32_t ts = s->ts;
    tick(1000.34);
    tick(1000.40);
    EXPECT_EQ(sent.size(), 1u) << "still on schedule";
    tick(1000.425);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[1].data.size(), 12u + 3 * 13) << "a short last packet";
    EXPECT_EQ(be32(sent[1].data, 4), ts);
    EXPECT_EQ(s->ts, ts + 800) << "the successor's timestamp is still a whole packet on";
    std::vector<uint32_t> ev = g_rec.out_events();
    EXPECT_EQ(ev.back(), static_cast<uint32_t>(RTP_OSTREAM_EVENT_DRAINED));
    tick(1000.44);
    tick(1000.46);
    EXPECT_EQ(count_of(g_rec.out_events(), RTP_OSTREAM_EVENT_DRAINED), 3u) << "on every tick";
}

TEST_F(Ostream, EncryptionAndTheKeyField)
{
    const std::string key = "0123456789abcdef0123456789ABCDEF+-*/=!@#"; // 40 characters
    make(HAL_PT_AMR, "", 1000.3, 1, key.c_str());
    EXPECT_EQ(std::string(s->key), key.substr(0, 35));
    for (size_t i = 35; i < sizeof(s->key); i++)
        EXPECT_EQ(s->key[i], 0);
    feed(6, 0);
    tick(1000.32);
    ASSERT_EQ(sent.size(), 1u);
    const bytes &p = sent[0].data;
    EXPECT_EQ(p[1], RTP_PT_AMR_ENCRYPTED);
    ASSERT_EQ(p.size(), 12u + 80);
    aes_key k;
    aes_set_decrypt_key(reinterpret_cast<const uint8_t *>(key.data()), 256, &k);
    bytes plain(80);
    for (size_t i = 0; i < 80; i += 16)
        aes_decrypt_block(&p[12 + i], &plain[i], &k);
    plain.resize(65);
    EXPECT_EQ(plain, payload(HAL_PT_AMR, packet_frames(HAL_PT_AMR, 0)));

    // The key goes to the log as its length only.
    rtp_ostream_destroy(&s);
    e_.reset();
    std::string log = ptt::test::read_file("kvptt.log");
    EXPECT_NE(log.find("is_encryp 1 key length 35"), std::string::npos);
    EXPECT_EQ(log.find(key.substr(0, 8)), std::string::npos);
}

TEST_F(Ostream, RefusedConstruction)
{
    open("");
    EXPECT_EQ(rtp_ostream_new(ctx(), k_uid, 100, 0, this, 0, nullptr), nullptr);
    EXPECT_EQ(rtp_ostream_new(ctx(), k_uid, RTP_PT_AMR_ENCRYPTED, 0, this, 0, nullptr), nullptr);
    EXPECT_EQ(rtp_ostream_new(nullptr, k_uid, HAL_PT_AMR, 0, this, 0, nullptr), nullptr);
    rtp_ostream_destroy(nullptr);
    rtp_ostream *none = nullptr;
    rtp_ostream_destroy(&none);
}

// Recorded frames from the sound device: the constructor takes what is
// already there, a tick reads at most 50, and nothing is lost.
TEST_F(Ostream, ReadsTheRecorder)
{
    open("[record]\nprobation=0\nagc_enable=0\naec_delay=0\ncodec=101\n[play]\nagc_enable=0\n");
    hal_sound *sound = hal_ctx_get_sound(ctx());
    // Wait for `periods` more captured periods: once the one after them has
    // begun, their frames are in the record ring.
    auto record = [&](uint32_t periods) {
        uint64_t want = media_test::in_periods() + periods + 1;
        wave_file_pump(WAVE_IN, periods + 1);
        EXPECT_TRUE(ptt::test::wait_until([&] { return media_test::in_periods() >= want; }));
    };
    EXPECT_EQ(run([&] {
                  s = rtp_ostream_new(ctx(), k_uid, HAL_PT_AMR, 0, this, 0, nullptr);
                  hal_looper_cancel_timer(looper(), rtp_ostream_on_timer, s);
                  return rtp_ostream_fill(s);
              }),
              0)
        << "nothing while the sound queue does not record";
    rtp_ostream_destroy(&s);
    send_on_packets();

    uint64_t base = media_test::in_periods();
    ASSERT_EQ(run([&] { return hal_sound_start_record(sound, 0); }), 0);
    record(20);
    uint64_t queued = 0;
    run([&] {
        s = rtp_ostream_new(ctx(), k_uid, HAL_PT_AMR, 0, this, 0, nullptr);
        hal_looper_cancel_timer(looper(), rtp_ostream_on_timer, s);
        queued = list_count(s->frames);
        return 0;
    });
    EXPECT_GE(queued, 20u);

    record(60);
    auto tick_on_looper = [&](double now) {
        run([&] {
            tick(now);
            return 0;
        });
    };
    tick_on_looper(1000.02);
    // 50 read, then the first packet of 5 left.
    EXPECT_EQ(list_count(s->frames), queued + 50 - 5);
    ASSERT_EQ(sent.size(), 1u);
    tick_on_looper(1000.04);
    EXPECT_GE(list_count(s->frames), queued + 60 - 5) << "the next tick reads the rest";

    // Every captured frame goes into a packet or waits in the queue.
    uint64_t captured = media_test::in_periods() - base;
    EXPECT_EQ(captured, 82u);
    EXPECT_TRUE(ptt::test::wait_until([&] {
        tick_on_looper(1000.04);
        return list_count(s->frames) + 5 == captured;
    }));
    EXPECT_EQ(sent.size(), 1u);
    ASSERT_EQ(run([&] { return hal_sound_stop_record(sound); }), 0);
}

// The owner may destroy the stream from inside each callback, also on the
// timer; the stream finishes without touching freed memory (the sanitizer
// build checks) and reports nothing more.
TEST_F(Ostream, DestroyFromInsideTheCallbacks)
{
    for (uint32_t target : {0u, 1u, 2u}) {
        SCOPED_TRACE(target);
        open("");
        s = rtp_ostream_new(ctx(), k_uid, HAL_PT_AMR, 0, this, 0, nullptr);
        ASSERT_NE(s, nullptr);
        g_rec.out_hook = [&](void *, uint32_t ev, void *) {
            if (ev == target)
                rtp_ostream_destroy(&s);
        };
        run([&] {
            feed(target == 1 ? 2 : 6, 0);
            if (target == 1)
                s->state = RTP_OSTREAM_DRAINING;
            return 0;
        });
        advance(20);
        EXPECT_EQ(s, nullptr);
        size_t calls = g_rec.out_events().size();
        advance(200);
        EXPECT_EQ(g_rec.out_events().size(), calls) << "the timer went with the stream";
        TearDown();
    }
    // From inside a direct send.
    make(HAL_PT_AMR);
    feed(3, 0);
    g_rec.out_hook = [&](void *, uint32_t, void *) { rtp_ostream_destroy(&s); };
    EXPECT_EQ(rtp_ostream_send_packet(s), 12 + 3 * 13);
    EXPECT_EQ(s, nullptr);
}
