// Broadcasts through the test server: a recorded voice broadcast as it goes
// out and as it plays back, several broadcasts in order, text-only ones, a
// broadcast during a talk, packet walking, a disconnect during play and an
// offline send.
#include "broadcast.h"
#include "evrc_frame.h"
#include "focus_manager.h"
#include "hal_dsp.h"
#include "hal_ini.h"
#include "lirko_login.h"
#include "lirko_talk.h"
#include "list.h"
#include "ptt.pb-c.h"
#include "ptt_push.pb-c.h"
#include "ptt_rr.pb-c.h"
#include "raw_client.h"
#include "talk_fixture.h"

#include <mutex>

using namespace ptt::test;

namespace
{

struct Heard {
    std::mutex m;
    std::vector<uint32_t> started, finished;
    int have = 0;
    static Heard &get()
    {
        static Heard h;
        return h;
    }
    void clear()
    {
        std::lock_guard<std::mutex> lock(m);
        started.clear();
        finished.clear();
        have = 0;
    }
    std::vector<uint32_t> finished_copy()
    {
        std::lock_guard<std::mutex> lock(m);
        return finished;
    }
    std::vector<uint32_t> started_copy()
    {
        std::lock_guard<std::mutex> lock(m);
        return started;
    }
};

// Half-rate EVRC frames of speech, as the recorder would have them.
std::vector<Bytes> half_rate_frames(size_t n)
{
    std::vector<int16_t> pcm =
        read_wav_samples(source_path("tests/fixtures/audio/speech_near_8k.wav"));
    evrc_encoder *enc = evrc_encoder_new();
    std::vector<Bytes> out;
    for (size_t i = 0; i < n && (i + 1) * 160 <= pcm.size(); i++) {
        int16_t frame[160];
        memcpy(frame, pcm.data() + 160 * (i + 20), sizeof(frame));
        uint8_t data[22];
        int rate = evrc_encode_frame(enc, frame, data);
        if (rate == 3)
            out.push_back(Bytes(data, data + 10));
    }
    evrc_encoder_destroy(&enc);
    return out;
}

std::string decode(const std::vector<Bytes> &frames)
{
    evrc_decoder *dec = evrc_decoder_new();
    std::string out;
    for (const Bytes &f : frames) {
        int16_t pcm[160];
        if (evrc_decode_frame(dec, f.data(), (int)f.size(), pcm) == 160)
            out.append((const char *)pcm, sizeof(pcm));
    }
    evrc_decoder_destroy(&dec);
    return out;
}

// One RTP packet of half-rate frames, as the sender builds them.
Bytes evrc_packet(uint16_t seq, uint32_t ts, const std::vector<Bytes> &frames)
{
    Bytes p = {0x80,
               0x67,
               (uint8_t)(seq >> 8),
               (uint8_t)seq,
               (uint8_t)(ts >> 24),
               (uint8_t)(ts >> 16),
               (uint8_t)(ts >> 8),
               (uint8_t)ts,
               0,
               0,
               0x03,
               0xE8};
    p.push_back((uint8_t)frames.size());
    Bytes codes((frames.size() + 3) / 4, 0);
    for (size_t i = 0; i < frames.size(); i++)
        codes[i / 4] |= (uint8_t)(2 << (6 - 2 * (i % 4)));
    p.insert(p.end(), codes.begin(), codes.end());
    for (const Bytes &f : frames)
        p.insert(p.end(), f.begin(), f.end());
    return p;
}

// A broadcast's media long enough to be stopped mid-play: three packets of
// ten half-rate frames each; empty when the encoder gave too few frames.
Bytes three_packet_media()
{
    std::vector<Bytes> frames = half_rate_frames(60);
    if (frames.size() < 30)
        return {};
    Bytes media;
    for (int i = 0; i < 3; i++) {
        Bytes p =
            evrc_packet((uint16_t)i, 0,
                        std::vector<Bytes>(frames.begin() + 10 * i, frames.begin() + 10 * (i + 1)));
        media.insert(media.end(), p.begin(), p.end());
    }
    return media;
}

class Broadcast : public TalkFixture
{
  protected:
    void start(const std::string &ini = "")
    {
        e = &add_engine("[play]\nagc_enable = 0\n[cache]\nnewsheet = 10\n" + ini);
        join(*e, "dispatcher", "dispatcher-pw");
        Heard::get().clear();
        e->on_looper([this] {
            lirko_notify_t &n = e->engine->notify;
            n.on_broadcast_started = [](lirko_t *, void *, uint32_t id) {
                std::lock_guard<std::mutex> lock(Heard::get().m);
                Heard::get().started.push_back(id);
            };
            n.on_broadcast_finished = [](lirko_t *, void *, uint32_t id) {
                std::lock_guard<std::mutex> lock(Heard::get().m);
                Heard::get().finished.push_back(id);
            };
            n.on_have_broadcast = [](lirko_t *, void *, void *data) {
                std::lock_guard<std::mutex> lock(Heard::get().m);
                Heard::get().have += data != nullptr;
            };
            return 0;
        });
    }
    // Pushes worksheets to the dispatcher: media (EVRC) and text each
    // optional.
    void push(const std::vector<std::pair<Bytes, const char *>> &sheets)
    {
        std::vector<Ptt__Worksheet> w(sheets.size());
        std::vector<Ptt__MediaFile> m(sheets.size());
        std::vector<Ptt__Worksheet *> wp;
        for (size_t i = 0; i < sheets.size(); i++) {
            ptt__worksheet__init(&w[i]);
            ptt__media_file__init(&m[i]);
            w[i].current_address = const_cast<char *>(sheets[i].second);
            if (!sheets[i].first.empty()) {
                m[i].mime = 103;
                m[i].has_data = 1;
                m[i].data.data = const_cast<uint8_t *>(sheets[i].first.data());
                m[i].data.len = sheets[i].first.size();
                w[i].media_file = &m[i];
            }
            wp.push_back(&w[i]);
        }
        Ptt__Push__NewWorksheet msg = PTT__PUSH__NEW_WORKSHEET__INIT;
        msg.n_worksheets = wp.size();
        msg.worksheets = wp.data();
        server.send_to(1000, msg.base);
        server.sync();
    }
    // Moves the clock until n broadcasts have finished.
    bool play_until_finished(size_t n)
    {
        return wait_until(
            [&] {
                advance(0.2, 0.2);
                return Heard::get().finished_copy().size() >= n;
            },
            std::chrono::seconds(20));
    }
    void *holder()
    {
        void *h = nullptr;
        e->on_looper([&] {
            h = focus_manager_holder(e->engine->focus);
            return 0;
        });
        return h;
    }
    uint32_t state()
    {
        return (uint32_t)e->on_looper([&] { return (int)e->engine->broadcast->state; });
    }
    void inject(const std::vector<Bytes> &frames)
    {
        e->on_looper([&] {
            for (const Bytes &f : frames) {
                hal_sound_frame *copy = (hal_sound_frame *)malloc(4 + f.size());
                copy->pt = 103;
                copy->size = (uint16_t)f.size();
                memcpy(copy->data, f.data(), f.size());
                list_push_back(e->engine->broadcast->recorded, copy);
            }
            return 0;
        });
    }
    size_t recorded()
    {
        return (size_t)e->on_looper(
            [&] { return (int)list_count(e->engine->broadcast->recorded); });
    }
    std::string played()
    {
        return read_file(cwd.file("play_pcm.raw"));
    }

    TalkEngine *e = nullptr;
};

TEST_F(Broadcast, RecordedFramesGoOutAsGoldenPacketsAndPlayBack)
{
    hal_clock_fake_enable(700'000); // engine time 1200 s
    start();
    std::vector<Bytes> frames = half_rate_frames(40);
    ASSERT_GE(frames.size(), 25u);
    frames.resize(25);
    // Engine time 1234 s exactly when the media is built.
    uint64_t now_ms = (uint64_t)llround((hal_time_now() - 500.0) * 1000);
    ASSERT_LT(now_ms, 734'000u);
    hal_clock_fake_advance(734'000 - now_ms);
    sync();
    inject(frames);
    uint32_t to[] = {1000};
    // Frames of another codec than the record codec are not sent under it.
    EXPECT_EQ(e->on_looper([&] { return lirko_broadcast_send_recordaudio(e->engine, to, 1); }), -1);
    EXPECT_EQ(recorded(), 25u);
    e->on_looper([&] { return hal_ini_replace(e->engine->ini, "record", "codec", "103"); });
    ASSERT_EQ(e->on_looper([&] { return lirko_broadcast_send_recordaudio(e->engine, to, 1); }), 0);
    EXPECT_EQ(recorded(), 0u); // sent: consumed
    ASSERT_TRUE(server.wait_count("ptt.rr.PostWorksheet", 1));
    auto post = server.received("ptt.rr.PostWorksheet")[0];
    const auto *msg = reinterpret_cast<const Ptt__Rr__PostWorksheet *>(post.msg.get());
    ASSERT_EQ(msg->n_worksheets, 1u);
    ASSERT_EQ(msg->n_uids, 1u);
    const Ptt__MediaFile *mf = msg->worksheets[0]->media_file;
    ASSERT_NE(mf, nullptr);
    EXPECT_EQ(mf->mime, 103u);
    Bytes media(mf->data.data, mf->data.data + mf->data.len);
    ASSERT_EQ(media.size(), 297u);
    const uint8_t golden[12] = {0x80, 0x67, 0x02, 0x62, 0, 0, 0x04, 0xD2, 0, 0, 0x03, 0xE8};
    EXPECT_EQ(memcmp(media.data(), golden, 12), 0);
    // Three packets: 10, 10 and 5 frames, seq 610-612, ts 1600 apart.
    size_t offsets[3] = {0, 116, 232};
    for (int i = 0; i < 3; i++) {
        const uint8_t *p = media.data() + offsets[i];
        EXPECT_EQ(p[0], 0x80);
        EXPECT_EQ(p[1], 0x67);
        EXPECT_EQ(p[2] << 8 | p[3], 610 + i);
        EXPECT_EQ((uint32_t)(p[4] << 24 | p[5] << 16 | p[6] << 8 | p[7]), 1234u + 1600u * i);
        EXPECT_EQ(p[8] << 24 | p[9] << 16 | p[10] << 8 | p[11], 1000);
    }
    const uint8_t ten[4] = {0x0A, 0xAA, 0xAA, 0xA0};
    const uint8_t five[3] = {0x05, 0xAA, 0x80};
    EXPECT_EQ(memcmp(media.data() + 12, ten, 4), 0);
    EXPECT_EQ(memcmp(media.data() + 116 + 12, ten, 4), 0);
    EXPECT_EQ(memcmp(media.data() + 232 + 12, five, 3), 0);
    Bytes expect;
    for (int i = 0; i < 3; i++) {
        std::vector<Bytes> part(frames.begin() + 10 * i,
                                frames.begin() + std::min<size_t>(25, 10 * (i + 1)));
        Bytes p = evrc_packet((uint16_t)(610 + i), 1234 + 1600 * i, part);
        expect.insert(expect.end(), p.begin(), p.end());
    }
    EXPECT_TRUE(media == expect);

    // The server sent it back: the player plays the same 25 frames.
    ASSERT_TRUE(play_until_finished(1));
    EXPECT_EQ(Heard::get().started_copy().size(), 1u);
    EXPECT_TRUE(played() == decode(frames));
    EXPECT_EQ(state(), (uint32_t)BROADCAST_IDLE);
    EXPECT_EQ(holder(), nullptr);
}

TEST_F(Broadcast, TwoThenThreePlayFiveInIdOrder)
{
    start();
    std::vector<Bytes> frames = half_rate_frames(60);
    ASSERT_GE(frames.size(), 10u);
    auto media = [&](size_t i) { return evrc_packet(1, 1, {frames[2 * i], frames[2 * i + 1]}); };
    push({{media(0), nullptr}, {media(1), nullptr}});
    advance(0.2, 0.2);
    ASSERT_EQ(state(), (uint32_t)BROADCAST_PLAYING);
    push({{media(2), nullptr}, {media(3), "three"}, {media(4), nullptr}});
    ASSERT_TRUE(play_until_finished(5));
    std::vector<uint32_t> started = Heard::get().started_copy();
    std::vector<uint32_t> finished = Heard::get().finished_copy();
    ASSERT_EQ(started.size(), 5u);
    ASSERT_EQ(finished.size(), 5u);
    for (uint32_t i = 0; i < 5; i++) {
        EXPECT_EQ(started[i], started[0] + i);
        EXPECT_EQ(finished[i], started[0] + i);
    }
    EXPECT_EQ(state(), (uint32_t)BROADCAST_IDLE);
    EXPECT_EQ(holder(), nullptr);
}

TEST_F(Broadcast, TextOnlyBroadcastsFinish)
{
    start();
    for (const char *playtts : {"0", "1"}) {
        SCOPED_TRACE(playtts);
        e->on_looper(
            [&] { return hal_ini_replace(e->engine->ini, "broadcast", "playtts", playtts); });
        Heard::get().clear();
        push({{{}, "text only"}, {{}, "and another"}});
        ASSERT_TRUE(play_until_finished(2));
        EXPECT_EQ(Heard::get().started_copy().size(), 2u);
        EXPECT_EQ(state(), (uint32_t)BROADCAST_IDLE);
        EXPECT_EQ(holder(), nullptr);
    }
    EXPECT_EQ(e->on_looper([&] { return (int)broadcast_pending_count(e->engine->broadcast); }), 0);
}

TEST_F(Broadcast, PayloadHoldingThePacketMarkPlaysWhole)
{
    start();
    std::vector<Bytes> frames = half_rate_frames(30);
    ASSERT_GE(frames.size(), 20u);
    frames.resize(20);
    frames[3][4] = 0x80; // the bytes a packet begins with, inside a frame
    frames[3][5] = 0x67;
    frames[14][0] = 0x80;
    frames[14][1] = 0x67;
    std::vector<Bytes> first(frames.begin(), frames.begin() + 10);
    std::vector<Bytes> second(frames.begin() + 10, frames.end());
    Bytes media = evrc_packet(400, 7, first);
    Bytes p2 = evrc_packet(401, 1607, second);
    media.insert(media.end(), p2.begin(), p2.end());
    push({{media, nullptr}});
    ASSERT_TRUE(play_until_finished(1));
    EXPECT_TRUE(played() == decode(frames));
}

TEST_F(Broadcast, DuringATalkItPlaysAfterItAndTalkWorksAgain)
{
    start();
    RawMember alice(server, 1, 2001);
    server.sync();
    ASSERT_EQ(e->on_looper([&] { return lirko_start_speak(e->engine); }), 0);
    ASSERT_TRUE(wait_until([&] {
        advance(0.02, 0.02);
        return e->status() == SESSION_STATUS_SPEAKING;
    }));
    std::vector<Bytes> frames = half_rate_frames(20);
    ASSERT_GE(frames.size(), 4u);
    push({{evrc_packet(1, 1, {frames[0], frames[1], frames[2]}), nullptr}});
    ASSERT_TRUE(play_until_finished(1));
    EXPECT_EQ(Heard::get().started_copy().size(), 1u);
    EXPECT_TRUE(e->has(SLOT_STOP_SPEAK, "2001"));
    EXPECT_NE(e->status(), SESSION_STATUS_SPEAKING);
    EXPECT_EQ(state(), (uint32_t)BROADCAST_IDLE);
    ASSERT_TRUE(wait_until([&] {
        advance(0.2, 0.2);
        return holder() == nullptr;
    }));

    // Talk works afterwards: the floor again, and voice reaches alice.
    server.clear_relayed();
    ASSERT_EQ(e->on_looper([&] { return lirko_start_speak(e->engine); }), 0);
    ASSERT_TRUE(wait_until(
        [&] {
            advance(0.02, 0.02);
            return e->status() == SESSION_STATUS_SPEAKING && server.relayed_to(1001).size() >= 3;
        },
        std::chrono::seconds(10)))
        << e->status() << " " << server.relayed_to(1001).size();
    EXPECT_EQ(e->on_looper([&] { return lirko_stop_speak(e->engine); }), 0);
}

TEST_F(Broadcast, DisconnectDuringPlayIsClean)
{
    start();
    Bytes media = three_packet_media();
    ASSERT_FALSE(media.empty());
    push({{media, "with text"}});
    advance(0.2, 0.2);
    ASSERT_EQ(state(), (uint32_t)BROADCAST_PLAYING);
    server.close_clients();
    e->on_looper([&] {
        cache_clear_worksheets(e->engine->cache); // what the player read is gone
        return 0;
    });
    ASSERT_TRUE(play_until_finished(1));
    EXPECT_EQ(state(), (uint32_t)BROADCAST_IDLE);
}

TEST_F(Broadcast, OfflineSendKeepsTheRecording)
{
    start();
    std::vector<Bytes> frames = half_rate_frames(20);
    ASSERT_GE(frames.size(), 5u);
    frames.resize(5);
    inject(frames);
    e->on_looper([&] { return hal_ini_replace(e->engine->ini, "record", "codec", "103"); });
    uint32_t to[] = {1001};
    EXPECT_EQ(e->on_looper([&] { return lirko_broadcast_send_recordaudio(e->engine, nullptr, 1); }),
              -1);
    server.stop();
    e->on_looper([&] { return lirko_logout(e->engine); });
    EXPECT_NE(e->on_looper([&] { return lirko_broadcast_send_recordaudio(e->engine, to, 1); }), 0);
    EXPECT_EQ(recorded(), 5u);
}

TEST_F(Broadcast, ReplayAndRecordingEndEachOtherCleanly)
{
    start();
    std::vector<Bytes> frames = half_rate_frames(20);
    inject(frames);
    static std::atomic<int> stops{0};
    stops = 0;
    ASSERT_EQ(
        e->on_looper([&] { return lirko_broadcast_play_recordaudio(e->engine, [] { stops++; }); }),
        0);
    EXPECT_EQ(e->on_looper([&] { return lirko_broadcast_play_recordaudio(e->engine, nullptr); }),
              0); // already playing
    uint32_t to[] = {1001};
    EXPECT_EQ(e->on_looper([&] { return lirko_broadcast_send_recordaudio(e->engine, to, 1); }),
              -1); // being replayed
    // A new recording ends the replay before it empties the list.
    ASSERT_EQ(e->on_looper([&] { return lirko_broadcast_start_record(e->engine); }), 0);
    EXPECT_EQ(stops.load(), 1);
    EXPECT_EQ(recorded(), 0u);
    advance(0.5, 0.1);
    std::atomic<int> done{-100};
    ASSERT_EQ(e->on_looper([&] {
        return lirko_broadcast_stop_record(
            e->engine, [](void *a, int r) { ((std::atomic<int> *)a)->store(r); }, &done);
    }),
              0);
    ASSERT_TRUE(wait_until([&] {
        e->settle();
        return done.load() != -100;
    }));
    EXPECT_EQ(done.load(), 0);
    EXPECT_GT(recorded(), 0u);
    EXPECT_EQ(holder(), nullptr);
}

} // namespace

namespace
{

TEST_F(Broadcast, TextIsCutOnACharacterBoundary)
{
    start();
    std::string text = "aa";
    for (int i = 0; i < 200; i++)
        text += "\xC3\xA9"; // é
    uint32_t to[] = {1001, 1002};
    ASSERT_EQ(
        e->on_looper([&] { return lirko_broadcast_send_text(e->engine, text.c_str(), to, 2); }), 0);
    ASSERT_TRUE(server.wait_count("ptt.rr.PostWorksheet", 1));
    auto post = server.received("ptt.rr.PostWorksheet")[0];
    const auto *msg = reinterpret_cast<const Ptt__Rr__PostWorksheet *>(post.msg.get());
    ASSERT_EQ(msg->n_worksheets, 1u);
    ASSERT_EQ(msg->n_uids, 2u);
    EXPECT_EQ(msg->worksheets[0]->media_file, nullptr);
    EXPECT_EQ(std::string(msg->worksheets[0]->current_address), text.substr(0, 254));
    // Text that is not UTF-8 is refused, not sent.
    EXPECT_EQ(e->on_looper([&] { return lirko_broadcast_send_text(e->engine, "a\xC3", to, 2); }),
              -1);
    server.sync();
    EXPECT_EQ(server.count("ptt.rr.PostWorksheet"), 1u);
}

TEST_F(Broadcast, StoppingThePlayerEndsItsTimersAndPending)
{
    start();
    Bytes media = three_packet_media();
    ASSERT_FALSE(media.empty());
    push({{media, nullptr}, {media, nullptr}});
    advance(0.2, 0.2);
    ASSERT_EQ(state(), (uint32_t)BROADCAST_PLAYING);
    e->on_looper([&] {
        broadcast_stop(e->engine->broadcast);
        return 0;
    });
    EXPECT_EQ(state(), (uint32_t)BROADCAST_IDLE);
    EXPECT_EQ(e->on_looper([&] { return (int)broadcast_pending_count(e->engine->broadcast); }), 0);
    EXPECT_EQ(holder(), nullptr);
    advance(3.0, 0.2);
    EXPECT_EQ(Heard::get().started_copy().size(), 1u);
    EXPECT_TRUE(Heard::get().finished_copy().empty());
    // Playing one by its id works afterwards.
    uint32_t second = Heard::get().started_copy()[0] + 1;
    ASSERT_EQ(e->on_looper([&] { return broadcast_start_play(e->engine->broadcast, second); }), 0);
    ASSERT_TRUE(play_until_finished(1));
    EXPECT_EQ(Heard::get().finished_copy()[0], second);
    EXPECT_EQ(state(), (uint32_t)BROADCAST_IDLE);
}

} // namespace
