// The sound-device layer on its file and null backends: queueing, callbacks
// on the device thread, reset and close, pacing, the WAV files, failure
// injection and the beep.
#include "lirko_audio_device.h"
#include "media_test_util.h"
#include "test_support.h"
#include "wave.h"

#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>
#include <vector>

using media_test::file_opts;
using ptt::test::TempCwd;
using ptt::test::wait_until;

namespace
{

struct events {
    std::mutex mu;
    std::vector<uint32_t> msgs;
    std::vector<wave_hdr *> hdrs;
    std::vector<std::vector<int16_t>> data; // input: what each buffer held
    std::thread::id caller = std::this_thread::get_id();
    bool on_caller_thread = false;
    bool requeue = false;
    wave_dev *dev = nullptr;

    size_t count(uint32_t msg)
    {
        std::lock_guard<std::mutex> g(mu);
        size_t n = 0;
        for (uint32_t m : msgs)
            n += m == msg;
        return n;
    }
};

void on_wave(wave_dev *dev, uint32_t msg, void *instance, wave_hdr *hdr)
{
    events *e = static_cast<events *>(instance);
    std::lock_guard<std::mutex> g(e->mu);
    if (std::this_thread::get_id() == e->caller)
        e->on_caller_thread = true;
    e->msgs.push_back(msg);
    if (hdr) {
        e->hdrs.push_back(hdr);
        if (msg == WAVE_MSG_DATA)
            e->data.emplace_back(hdr->data, hdr->data + hdr->recorded / 2);
        if (e->requeue && msg == WAVE_MSG_DATA)
            (void)wave_add_buffer(dev, hdr);
    }
}

struct buffer {
    std::vector<int16_t> pcm = std::vector<int16_t>(WAVE_PERIOD);
    wave_hdr hdr{};
    buffer()
    {
        hdr.data = pcm.data();
        hdr.size = WAVE_PERIOD * 2;
    }
};

// Captures from device 0 into one buffer: pumps `periods` periods, waits
// until that many have been delivered, then closes the device.
void capture_pumped(events &ev, uint32_t periods)
{
    wave_dev *dev = nullptr;
    ASSERT_EQ(wave_open(&dev, WAVE_IN, 0, on_wave, &ev), 0);
    buffer b;
    ASSERT_EQ(wave_prepare(dev, &b.hdr), 0);
    ASSERT_EQ(wave_add_buffer(dev, &b.hdr), 0);
    ASSERT_EQ(wave_start(dev), 0);
    wave_file_pump(WAVE_IN, periods);
    ASSERT_TRUE(wait_until([&] { return ev.count(WAVE_MSG_DATA) == periods; }));
    wave_close(&dev);
}

std::string le16(const std::vector<int16_t> &pcm)
{
    std::string s(pcm.size() * 2, '\0');
    for (size_t i = 0; i < pcm.size(); i++) {
        s[2 * i] = static_cast<char>(pcm[i] & 0xff);
        s[2 * i + 1] = static_cast<char>((pcm[i] >> 8) & 0xff);
    }
    return s;
}

// Samples of a WAV file this layer wrote (checks the header on the way).
std::vector<int16_t> read_wav(const std::string &path)
{
    std::string b = ptt::test::read_file(path);
    EXPECT_GE(b.size(), 44u);
    if (b.size() < 44)
        return {};
    auto u32 = [&](size_t o) {
        return static_cast<uint32_t>(
            static_cast<uint8_t>(b[o]) | static_cast<uint8_t>(b[o + 1]) << 8 |
            static_cast<uint8_t>(b[o + 2]) << 16 | static_cast<uint8_t>(b[o + 3]) << 24);
    };
    EXPECT_EQ(b.substr(0, 4), "RIFF");
    EXPECT_EQ(b.substr(8, 8), "WAVEfmt ");
    EXPECT_EQ(u32(24), 8000u);
    EXPECT_EQ(u32(4), b.size() - 8);
    EXPECT_EQ(u32(40), b.size() - 44);
    std::vector<int16_t> pcm((b.size() - 44) / 2);
    for (size_t i = 0; i < pcm.size(); i++)
        pcm[i] = static_cast<int16_t>(static_cast<uint8_t>(b[44 + 2 * i]) |
                                      static_cast<uint8_t>(b[45 + 2 * i]) << 8);
    return pcm;
}

std::vector<int16_t> ramp(size_t n)
{
    std::vector<int16_t> v(n);
    for (size_t i = 0; i < n; i++)
        v[i] = static_cast<int16_t>(i * 7 - 9000);
    return v;
}

} // namespace

TEST(WaveParse, BackendValues)
{
    struct row {
        const char *text;
        int rc;
        wave_backend_kind kind;
        const char *in;
        const char *out;
        int loop;
        wave_pacing pacing;
    } rows[] = {
        {nullptr, 0, WAVE_BACKEND_ALSA, "", "", 0, WAVE_PACE_REALTIME},
        {"alsa", 0, WAVE_BACKEND_ALSA, "", "", 0, WAVE_PACE_REALTIME},
        {"null", 0, WAVE_BACKEND_NULL, "", "", 0, WAVE_PACE_REALTIME},
        {"file:a.wav,b.wav", 0, WAVE_BACKEND_FILE, "a.wav", "b.wav", 0, WAVE_PACE_REALTIME},
        {"file:a.raw,b.wav,loop,pump", 0, WAVE_BACKEND_FILE, "a.raw", "b.wav", 1, WAVE_PACE_PUMPED},
        {"file:,out.wav", 0, WAVE_BACKEND_FILE, "", "out.wav", 0, WAVE_PACE_REALTIME},
        {"file:a,b,fast", -1, WAVE_BACKEND_FILE, "", "", 0, WAVE_PACE_REALTIME},
        {"pulse", -1, WAVE_BACKEND_ALSA, "", "", 0, WAVE_PACE_REALTIME},
    };
    for (const row &r : rows) {
        wave_backend_kind kind;
        wave_file_opts o;
        SCOPED_TRACE(r.text ? r.text : "(null)");
        ASSERT_EQ(wave_parse_backend(r.text, &kind, &o), r.rc);
        if (r.rc != 0)
            continue;
        EXPECT_EQ(kind, r.kind);
        EXPECT_STREQ(o.in_path, r.in);
        EXPECT_STREQ(o.out_path, r.out);
        EXPECT_EQ(o.loop, r.loop);
        EXPECT_EQ(o.pacing, r.pacing);
        EXPECT_EQ(o.fail_write_after, -1);
    }
    std::string long_path = "file:" + std::string(600, 'x') + ",o.wav";
    wave_backend_kind kind;
    wave_file_opts o;
    EXPECT_EQ(wave_parse_backend(long_path.c_str(), &kind, &o), -1);
}

TEST(WaveFile, CaptureDeliversTheFileInOrderThenSilence)
{
    TempCwd cwd;
    std::vector<int16_t> in = ramp(3 * WAVE_PERIOD + 40);
    ASSERT_TRUE(ptt::test::write_file("in.raw", le16(in)));
    wave_file_opts o = file_opts("in.raw", "", WAVE_PACE_PUMPED);
    ASSERT_EQ(wave_set_backend(WAVE_BACKEND_FILE, &o), 0);
    wave_file_stats before;
    wave_file_get_stats(&before);

    events ev;
    ev.requeue = true;
    wave_dev *dev = nullptr;
    ASSERT_EQ(wave_open(&dev, WAVE_IN, WAVE_MAPPER, on_wave, &ev), 0);
    buffer b[2];
    for (buffer &x : b) {
        ASSERT_EQ(wave_prepare(dev, &x.hdr), 0);
        ASSERT_EQ(wave_add_buffer(dev, &x.hdr), 0);
    }
    EXPECT_EQ(wave_unprepare(dev, &b[0].hdr), WAVE_EBUSY);
    // Nothing moves before start, nor without credits.
    wave_file_pump(WAVE_IN, 2);
    ASSERT_EQ(wave_start(dev), 0);
    ASSERT_TRUE(wait_until([&] { return ev.count(WAVE_MSG_DATA) == 2; }));
    wave_file_pump(WAVE_IN, 3);
    ASSERT_TRUE(wait_until([&] { return ev.count(WAVE_MSG_DATA) == 5; }));
    wave_close(&dev);
    EXPECT_EQ(dev, nullptr);

    std::lock_guard<std::mutex> g(ev.mu);
    EXPECT_FALSE(ev.on_caller_thread);
    EXPECT_EQ(ev.msgs.front(), static_cast<uint32_t>(WAVE_MSG_OPEN));
    EXPECT_EQ(ev.msgs.back(), static_cast<uint32_t>(WAVE_MSG_CLOSE));
    std::vector<int16_t> got;
    for (auto &d : ev.data)
        got.insert(got.end(), d.begin(), d.end());
    // Five full periods, then the two re-queued buffers handed back empty.
    ASSERT_EQ(got.size(), 5u * WAVE_PERIOD);
    for (size_t i = 0; i < got.size(); i++)
        ASSERT_EQ(got[i], i < in.size() ? in[i] : 0) << i;
    wave_file_stats after;
    wave_file_get_stats(&after);
    EXPECT_EQ(after.in_ends - before.in_ends, 1u);
    EXPECT_EQ(after.in_periods - before.in_periods, 5u);
}

TEST(WaveFile, LoopingCaptureWrapsAround)
{
    TempCwd cwd;
    std::vector<int16_t> in = ramp(100);
    ASSERT_TRUE(ptt::test::write_file("in.raw", le16(in)));
    wave_file_opts o = file_opts("in.raw", "", WAVE_PACE_PUMPED);
    o.loop = 1;
    ASSERT_EQ(wave_set_backend(WAVE_BACKEND_FILE, &o), 0);
    events ev;
    ev.requeue = true;
    ASSERT_NO_FATAL_FAILURE(capture_pumped(ev, 2));
    std::lock_guard<std::mutex> g(ev.mu);
    for (size_t k = 0; k < 2; k++)
        for (size_t i = 0; i < WAVE_PERIOD; i++)
            ASSERT_EQ(ev.data[k][i], in[(k * WAVE_PERIOD + i) % in.size()]);
}

TEST(WaveFile, WavInputIsReadAndOtherFormatsRefused)
{
    TempCwd cwd;
    // Write a WAV through the playback side, then capture from it.
    wave_file_opts o = file_opts("", "made.wav", WAVE_PACE_PUMPED);
    ASSERT_EQ(wave_set_backend(WAVE_BACKEND_FILE, &o), 0);
    events out_ev;
    wave_dev *out = nullptr;
    ASSERT_EQ(wave_open(&out, WAVE_OUT, WAVE_MAPPER, on_wave, &out_ev), 0);
    buffer ob;
    ob.pcm = ramp(WAVE_PERIOD);
    ob.hdr.data = ob.pcm.data();
    ASSERT_EQ(wave_prepare(out, &ob.hdr), 0);
    ASSERT_EQ(wave_write(out, &ob.hdr), 0);
    wave_file_pump(WAVE_OUT, 1);
    ASSERT_TRUE(wait_until([&] { return out_ev.count(WAVE_MSG_DONE) == 1; }));
    wave_close(&out);
    EXPECT_EQ(read_wav("made.wav"), ob.pcm);

    o = file_opts("made.wav", "", WAVE_PACE_PUMPED);
    ASSERT_EQ(wave_set_backend(WAVE_BACKEND_FILE, &o), 0);
    events ev;
    ASSERT_NO_FATAL_FAILURE(capture_pumped(ev, 1));
    EXPECT_EQ(ev.data[0], ob.pcm);

    // A 16 kHz WAV is not a capture this device can give.
    std::string w = ptt::test::read_file("made.wav");
    w[24] = static_cast<char>(0x80);
    w[25] = static_cast<char>(0x3e);
    ASSERT_TRUE(ptt::test::write_file("16k.wav", w));
    o = file_opts("16k.wav", "", WAVE_PACE_PUMPED);
    ASSERT_EQ(wave_set_backend(WAVE_BACKEND_FILE, &o), 0);
    wave_dev *dev = nullptr;
    EXPECT_EQ(wave_open(&dev, WAVE_IN, 0, on_wave, &ev), -1);
    EXPECT_EQ(dev, nullptr);
    o = file_opts("missing.wav", "", WAVE_PACE_PUMPED);
    ASSERT_EQ(wave_set_backend(WAVE_BACKEND_FILE, &o), 0);
    EXPECT_EQ(wave_open(&dev, WAVE_IN, 0, on_wave, &ev), -1);
}

TEST(WaveFile, PlaybackAppendsInOrderAndResetReturnsQueuedBuffers)
{
    TempCwd cwd;
    wave_file_opts o = file_opts("", "out.wav", WAVE_PACE_PUMPED);
    ASSERT_EQ(wave_set_backend(WAVE_BACKEND_FILE, &o), 0);
    events ev;
    wave_dev *dev = nullptr;
    ASSERT_EQ(wave_open(&dev, WAVE_OUT, WAVE_MAPPER, on_wave, &ev), 0);
    buffer b[5];
    for (int i = 0; i < 5; i++) {
        for (int k = 0; k < WAVE_PERIOD; k++)
            b[i].pcm[k] = static_cast<int16_t>(i * 1000 + k);
        ASSERT_EQ(wave_write(dev, &b[i].hdr), -1) << "unprepared buffers are refused";
        ASSERT_EQ(wave_prepare(dev, &b[i].hdr), 0);
        ASSERT_EQ(wave_write(dev, &b[i].hdr), 0);
    }
    EXPECT_EQ(wave_write(dev, &b[0].hdr), WAVE_EBUSY);
    wave_file_pump(WAVE_OUT, 3);
    ASSERT_TRUE(wait_until([&] { return ev.count(WAVE_MSG_DONE) == 3; }));
    ASSERT_EQ(wave_reset(dev), 0);
    // The reset handed the two unplayed buffers back before returning.
    EXPECT_EQ(ev.count(WAVE_MSG_DONE), 5u);
    for (buffer &x : b) {
        EXPECT_TRUE(x.hdr.flags & WAVE_HDR_DONE);
        EXPECT_FALSE(x.hdr.flags & WAVE_HDR_INQUEUE);
        EXPECT_EQ(wave_unprepare(dev, &x.hdr), 0);
    }
    wave_close(&dev);
    size_t after_close = ev.count(WAVE_MSG_CLOSE);
    EXPECT_EQ(after_close, 1u);
    {
        std::lock_guard<std::mutex> g(ev.mu);
        EXPECT_FALSE(ev.on_caller_thread);
        for (int i = 0; i < 5; i++)
            EXPECT_EQ(ev.hdrs[static_cast<size_t>(i)], &b[i].hdr);
    }
    std::vector<int16_t> pcm = read_wav("out.wav");
    ASSERT_EQ(pcm.size(), 3u * WAVE_PERIOD);
    for (int i = 0; i < 3; i++)
        for (int k = 0; k < WAVE_PERIOD; k++)
            ASSERT_EQ(pcm[static_cast<size_t>(i * WAVE_PERIOD + k)], i * 1000 + k);
}

// The output file is held open only while a device is: the engine's unload
// leaves no descriptor on it, and a later device appends to it.
TEST(WaveFile, TheOutputFileClosesWithTheLastDevice)
{
    TempCwd cwd;
    wave_file_opts o = file_opts("", "out.wav", WAVE_PACE_PUMPED);
    ASSERT_EQ(wave_set_backend(WAVE_BACKEND_FILE, &o), 0);
    auto play_one = [](int16_t value, int devices) {
        events ev;
        std::vector<wave_dev *> devs(static_cast<size_t>(devices), nullptr);
        for (wave_dev *&d : devs)
            ASSERT_EQ(wave_open(&d, WAVE_OUT, WAVE_MAPPER, on_wave, &ev), 0);
        EXPECT_EQ(ptt::test::open_fds_to("out.wav"), 1);
        buffer b;
        for (int16_t &x : b.pcm)
            x = value;
        ASSERT_EQ(wave_prepare(devs[0], &b.hdr), 0);
        ASSERT_EQ(wave_write(devs[0], &b.hdr), 0);
        wave_file_pump(WAVE_OUT, 1);
        ASSERT_TRUE(wait_until([&] { return ev.count(WAVE_MSG_DONE) == 1; }));
        ASSERT_EQ(wave_unprepare(devs[0], &b.hdr), 0);
        for (size_t i = devs.size(); i-- > 0;) {
            EXPECT_EQ(ptt::test::open_fds_to("out.wav"), 1) << "still in use";
            wave_close(&devs[i]);
        }
        EXPECT_EQ(ptt::test::open_fds_to("out.wav"), 0);
    };
    ASSERT_NO_FATAL_FAILURE(play_one(111, 2));
    ASSERT_NO_FATAL_FAILURE(play_one(222, 1));
    ASSERT_EQ(wave_beep(1000, 50), 0);
    EXPECT_EQ(ptt::test::open_fds_to("out.wav"), 0);
    std::vector<int16_t> pcm = read_wav("out.wav");
    ASSERT_EQ(pcm.size(), 2u * WAVE_PERIOD + 400u);
    EXPECT_EQ(pcm[0], 111);
    EXPECT_EQ(pcm[WAVE_PERIOD], 222);
    EXPECT_NE(pcm[2 * WAVE_PERIOD + 10], 0); // the beep
}

TEST(WaveFile, RealTimePacingTakesTheDurationOfTheSound)
{
    TempCwd cwd;
    wave_file_opts o = file_opts("", "out.wav", WAVE_PACE_REALTIME);
    ASSERT_EQ(wave_set_backend(WAVE_BACKEND_FILE, &o), 0);
    events ev;
    wave_dev *dev = nullptr;
    ASSERT_EQ(wave_open(&dev, WAVE_OUT, WAVE_MAPPER, on_wave, &ev), 0);
    buffer b[5];
    auto t0 = std::chrono::steady_clock::now();
    for (buffer &x : b) {
        ASSERT_EQ(wave_prepare(dev, &x.hdr), 0);
        ASSERT_EQ(wave_write(dev, &x.hdr), 0);
    }
    ASSERT_TRUE(wait_until([&] { return ev.count(WAVE_MSG_DONE) == 5; }));
    auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0)
            .count();
    EXPECT_GE(ms, 95); // five 20 ms periods
    wave_close(&dev);
}

TEST(WaveFile, FailureInjection)
{
    TempCwd cwd;
    struct row {
        uint32_t fail;
        int in_count;
        int out_count;
        int in_open;
        int out_open;
    } rows[] = {
        {0, 1, 1, 0, 0},
        {WAVE_FAIL_NO_IN_DEVICE, 0, 1, WAVE_ENODEV, 0},
        {WAVE_FAIL_NO_OUT_DEVICE, 1, 0, 0, WAVE_ENODEV},
        {WAVE_FAIL_OPEN_IN, 1, 1, -1, 0},
        {WAVE_FAIL_OPEN_OUT, 1, 1, 0, -1},
    };
    for (const row &r : rows) {
        SCOPED_TRACE(r.fail);
        wave_file_opts o = file_opts("", "", WAVE_PACE_PUMPED);
        o.fail = r.fail;
        ASSERT_EQ(wave_set_backend(WAVE_BACKEND_FILE, &o), 0);
        EXPECT_EQ(wave_count(WAVE_IN), r.in_count);
        EXPECT_EQ(wave_count(WAVE_OUT), r.out_count);
        EXPECT_EQ(lirko_win_record_device_count(), r.in_count);
        char name[64];
        EXPECT_EQ(wave_caps(WAVE_IN, 0, name, sizeof(name)), r.in_count ? 0 : -1);
        events ev;
        wave_dev *dev = nullptr;
        EXPECT_EQ(wave_open(&dev, WAVE_IN, WAVE_MAPPER, on_wave, &ev), r.in_open);
        EXPECT_EQ(dev == nullptr, r.in_open != 0);
        wave_close(&dev);
        EXPECT_EQ(wave_open(&dev, WAVE_OUT, WAVE_MAPPER, on_wave, &ev), r.out_open);
        wave_close(&dev);
    }
}

TEST(WaveFile, WriteFailureAndWithheldBuffers)
{
    TempCwd cwd;
    wave_file_opts o = file_opts("", "out.wav", WAVE_PACE_PUMPED);
    o.fail_write_after = 2;
    o.fail |= WAVE_FAIL_WITHHOLD_OUT;
    ASSERT_EQ(wave_set_backend(WAVE_BACKEND_FILE, &o), 0);
    events ev;
    wave_dev *dev = nullptr;
    ASSERT_EQ(wave_open(&dev, WAVE_OUT, WAVE_MAPPER, on_wave, &ev), 0);
    buffer b[3];
    for (buffer &x : b)
        ASSERT_EQ(wave_prepare(dev, &x.hdr), 0);
    EXPECT_EQ(wave_write(dev, &b[0].hdr), 0);
    EXPECT_EQ(wave_write(dev, &b[1].hdr), 0);
    EXPECT_EQ(wave_write(dev, &b[2].hdr), -1);
    EXPECT_FALSE(b[2].hdr.flags & WAVE_HDR_INQUEUE);
    // Withheld: however much is pumped, nothing comes back until the reset.
    wave_file_pump(WAVE_OUT, 10);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(ev.count(WAVE_MSG_DONE), 0u);
    ASSERT_EQ(wave_reset(dev), 0);
    EXPECT_EQ(ev.count(WAVE_MSG_DONE), 2u);
    wave_close(&dev);

    o = file_opts("", "", WAVE_PACE_PUMPED);
    o.fail = WAVE_FAIL_WITHHOLD_IN;
    ASSERT_EQ(wave_set_backend(WAVE_BACKEND_FILE, &o), 0);
    events in_ev;
    ASSERT_EQ(wave_open(&dev, WAVE_IN, WAVE_MAPPER, on_wave, &in_ev), 0);
    buffer ib;
    ASSERT_EQ(wave_prepare(dev, &ib.hdr), 0);
    ASSERT_EQ(wave_add_buffer(dev, &ib.hdr), 0);
    ASSERT_EQ(wave_start(dev), 0);
    wave_file_pump(WAVE_IN, 10);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(in_ev.count(WAVE_MSG_DATA), 0u);
    wave_close(&dev); // hands the buffer back, empty
    EXPECT_EQ(in_ev.count(WAVE_MSG_DATA), 1u);
    EXPECT_EQ(ib.hdr.recorded, 0u);
}

TEST(WaveFile, BeepIsASineBurstInTheOutputFile)
{
    TempCwd cwd;
    wave_file_opts o = file_opts("", "out.wav", WAVE_PACE_PUMPED);
    ASSERT_EQ(wave_set_backend(WAVE_BACKEND_FILE, &o), 0);
    ASSERT_EQ(wave_beep(1000, 50), 0);
    EXPECT_EQ(wave_beep(0, 50), -1);
    EXPECT_EQ(wave_beep(4000, 50), -1);
    EXPECT_EQ(wave_beep(1000, 0), -1);
    std::vector<int16_t> pcm = read_wav("out.wav");
    ASSERT_EQ(pcm.size(), 400u);
    // 1000 Hz over 50 ms: 50 periods, 100 sign changes.
    int crossings = 0;
    for (size_t i = 1; i < pcm.size(); i++)
        crossings += (pcm[i - 1] < 0) != (pcm[i] < 0);
    EXPECT_NEAR(crossings, 100, 2);
    int16_t peak = 0;
    for (int16_t s : pcm)
        peak = std::max<int16_t>(peak, static_cast<int16_t>(std::abs(s)));
    EXPECT_GT(peak, 15000);
}

// The real ALSA code on ALSA's null PCM: no hardware needed, paced by the
// wall clock like a sound card.
TEST(WaveNull, CaptureAndPlaybackRun)
{
    TempCwd cwd;
    ASSERT_EQ(wave_set_backend(WAVE_BACKEND_NULL, nullptr), 0);
    EXPECT_EQ(wave_count(WAVE_IN), 1);
    EXPECT_EQ(lirko_win_record_device_count(), 1);
    events in_ev;
    in_ev.requeue = true;
    wave_dev *in = nullptr;
    ASSERT_EQ(wave_open(&in, WAVE_IN, WAVE_MAPPER, on_wave, &in_ev), 0);
    buffer ib;
    ASSERT_EQ(wave_prepare(in, &ib.hdr), 0);
    ASSERT_EQ(wave_add_buffer(in, &ib.hdr), 0);
    auto t0 = std::chrono::steady_clock::now();
    ASSERT_EQ(wave_start(in), 0);
    ASSERT_TRUE(wait_until([&] { return in_ev.count(WAVE_MSG_DATA) >= 10; }));
    auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0)
            .count();
    EXPECT_GE(ms, 180);
    ASSERT_EQ(wave_stop(in), 0);
    ASSERT_EQ(wave_reset(in), 0);
    wave_close(&in);
    {
        std::lock_guard<std::mutex> g(in_ev.mu);
        EXPECT_FALSE(in_ev.on_caller_thread);
        EXPECT_EQ(in_ev.data[0].size(), static_cast<size_t>(WAVE_PERIOD));
    }

    events out_ev;
    wave_dev *out = nullptr;
    ASSERT_EQ(wave_open(&out, WAVE_OUT, WAVE_MAPPER, on_wave, &out_ev), 0);
    buffer ob[5];
    for (buffer &x : ob) {
        ASSERT_EQ(wave_prepare(out, &x.hdr), 0);
        ASSERT_EQ(wave_write(out, &x.hdr), 0);
    }
    ASSERT_TRUE(wait_until([&] { return out_ev.count(WAVE_MSG_DONE) == 5; }));
    wave_close(&out);
    EXPECT_EQ(out_ev.count(WAVE_MSG_CLOSE), 1u);
    EXPECT_EQ(wave_beep(1568, 60), 0);
}
