// Recorded-voice files: recording the own voice from the file device's
// microphone into all four kinds, reading them back with a parser of the
// test's own, playing them against converting them, FFmpeg reading our
// ".amr", and malformed files.
#include "aes.h"
#include "broadcast.h"
#include "focus_manager.h"
#include "hal_ini.h"
#include "hal_sound.h"
#include "lirko_voice_file.h"
#include "talk_fixture.h"
#include "voice_file.h"

#include <atomic>
#include <filesystem>

#ifdef PTT_HAVE_AVFORMAT
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}
#endif

using namespace ptt::test;
using namespace std::chrono_literals;

namespace
{

const std::string kKey = "0123456789abcdef0123456789ABCDEF";

Bytes bytes_of(const std::string &s)
{
    return Bytes(s.begin(), s.end());
}

uint32_t amr_size(uint8_t header)
{
    static const uint32_t sizes[16] = {13, 14, 16, 18, 20, 21, 27, 32, 6, 0, 0, 0, 0, 0, 0, 1};
    return sizes[(header >> 3) & 0x0F];
}

uint32_t evrc_record(uint8_t rate)
{
    return rate == 1 ? 4 : rate == 3 ? 12 : rate == 4 ? 24 : 0;
}

Bytes seal(const Bytes &plain)
{
    uint8_t key[32] = {};
    memcpy(key, kKey.data(), 32);
    Bytes out(plain.size() / 16 * 16 + 16);
    int n = aes_ecb_encrypt_pkcs7(plain.data(), (int)plain.size(), out.data(), key);
    out.resize((size_t)n);
    return out;
}

Bytes unseal(const uint8_t *p, size_t n)
{
    uint8_t key[32] = {};
    memcpy(key, kKey.data(), 32);
    aes_key k;
    aes_set_decrypt_key(key, 256, &k);
    Bytes out(n);
    for (size_t i = 0; i + 16 <= n; i += 16)
        aes_decrypt_block(p + i, out.data() + i, &k);
    if (out.empty() || out.back() < 1 || out.back() > 16)
        return {};
    out.resize(out.size() - out.back());
    return out;
}

Bytes record_of(const Bytes &body)
{
    Bytes r = {(uint8_t)(body.size() >> 8), (uint8_t)body.size()};
    r.insert(r.end(), body.begin(), body.end());
    return r;
}

Bytes header(uint16_t pt)
{
    Bytes h(32, 0);
    memcpy(h.data(), "KVMF", 4);
    h[5] = 1;
    h[7] = 0x18;
    h[29] = 2;
    h[30] = (uint8_t)(pt >> 8);
    h[31] = (uint8_t)pt;
    return h;
}

// What the test's own reader finds in a file the recorder wrote.
struct Parsed {
    bool ok = true;
    std::string why;
    size_t frames = 0;
    std::vector<size_t> record_sizes;
    Bytes head;
};

Parsed parse(const Bytes &b, const std::string &ext)
{
    Parsed p;
    auto fail = [&](const std::string &why) {
        p.ok = false;
        p.why = why;
        return p;
    };
    size_t pos = 0;
    if (ext == ".amr") {
        while (pos < b.size()) {
            uint32_t n = amr_size(b[pos]);
            if (!n || n > b.size() - pos)
                return fail("amr frame at " + std::to_string(pos));
            pos += n;
            p.frames++;
        }
        return p;
    }
    if (ext == ".evrc") {
        while (pos < b.size()) {
            uint32_t n = evrc_record(b[pos]);
            if (!n || n > b.size() - pos || b[pos + 1] != n - 2)
                return fail("evrc record at " + std::to_string(pos));
            pos += n;
            p.frames++;
        }
        return p;
    }
    if (b.size() < 32)
        return fail("no header");
    p.head.assign(b.begin(), b.begin() + 32);
    for (pos = 32; pos < b.size();) {
        if (b.size() - pos < 2)
            return fail("record length cut");
        size_t n = (size_t)b[pos] << 8 | b[pos + 1];
        if (n > b.size() - pos - 2)
            return fail("record past the end");
        Bytes plain = unseal(b.data() + pos + 2, n);
        if (plain.empty())
            return fail("record does not decrypt");
        if (ext == ".sevrc"
                ? (plain[0] != 1 || plain.size() != 2 + (size_t)(plain[1] >> 6 == 3   ? 22
                                                                 : plain[1] >> 6 == 2 ? 10
                                                                                      : 2))
                : plain.size() != amr_size(plain[0]))
            return fail("plaintext of record at " + std::to_string(pos));
        p.record_sizes.push_back(n);
        pos += 2 + n;
        p.frames++;
    }
    return p;
}

class VoiceFile : public TalkFixture
{
  protected:
    void SetUp() override
    {
        TalkFixture::SetUp();
        e = &add_engine("[play]\nagc_enable = 0\n");
        join(*e, "dispatcher", "dispatcher-pw");
        e->on_looper([this] {
            e->engine->notify.on_stop_play_recordfile = [](lirko_t *, void *) { g_play_ends++; };
            return 0;
        });
        // From here the device moves only when the test pumps it.
        wave_file_opts o = {};
        snprintf(o.in_path, sizeof(o.in_path), "%s",
                 source_path("tests/fixtures/audio/speech_near_8k.wav").c_str());
        snprintf(o.out_path, sizeof(o.out_path), "%s", cwd.file("out.wav").c_str());
        o.loop = 1;
        o.pacing = WAVE_PACE_PUMPED;
        o.fail_write_after = -1;
        ASSERT_EQ(wave_set_backend(WAVE_BACKEND_FILE, &o), 0);
        g_play_ends = 0;
    }
    void TearDown() override
    {
        // Whatever still waits on the device may end.
        wave_file_pump(WAVE_IN | WAVE_OUT, 1000);
        TalkFixture::TearDown();
    }
    void set_kind(uint32_t codec, bool encrypted)
    {
        e->on_looper([&] {
            hal_ini_replace(e->engine->ini, "record", "codec", codec == 103 ? "103" : "101");
            cache_user *me = e->engine->cache->myself;
            me->encrypt_on = encrypted;
            snprintf(me->encrypt_key, sizeof(me->encrypt_key), "%s", kKey.c_str());
            return 0;
        });
    }
    static uint64_t captured()
    {
        wave_file_stats s;
        wave_file_get_stats(&s);
        return s.in_periods;
    }
    // Records `periods` capture periods, then stops with frames still
    // queued: *before_stop is what had been captured when stop was asked.
    std::string record(uint32_t periods, uint64_t *before_stop)
    {
        char path[LIRKO_VOICE_FILE_PATH_MAX] = {};
        std::string dir = cwd.path();
        EXPECT_EQ(e->on_looper([&] {
            return lirko_start_record(e->engine, dir.c_str(), path, sizeof(path));
        }),
                  0);
        uint64_t start = captured();
        for (uint32_t done = 0; done < periods; done += 5) {
            wave_file_pump(WAVE_IN, 5);
            EXPECT_TRUE(wait_until([&] { return captured() >= start + done + 5; }));
            if (done + 5 < periods)
                advance(0.1, 0.1);
        }
        // The last periods are captured but not yet taken by the writer.
        *before_stop = captured() - start;
        std::atomic<int> stopped{-100};
        EXPECT_EQ(e->on_looper([&] {
            return lirko_stop_record(
                e->engine, [](void *arg, int r) { ((std::atomic<int> *)arg)->store(r); }, &stopped);
        }),
                  0);
        wave_file_pump(WAVE_IN, 2);
        EXPECT_TRUE(wait_until([&] {
            e->settle();
            return stopped.load() != -100;
        }));
        EXPECT_EQ(stopped.load(), 0);
        return path;
    }
    // Plays a file to its end and returns what the device was fed.
    std::string play(const std::string &path)
    {
        int ends = g_play_ends.load();
        EXPECT_EQ(e->on_looper([&] { return lirko_record_play_audio(e->engine, path.c_str()); }),
                  0);
        for (int i = 0; i < 400 && g_play_ends.load() == ends; i++) {
            wave_file_pump(WAVE_OUT, 5);
            advance(0.1, 0.02);
        }
        EXPECT_EQ(g_play_ends.load(), ends + 1);
        return read_file(cwd.file("play_pcm.raw"));
    }
    void *focus_holder()
    {
        void *h = nullptr;
        e->on_looper([&] {
            h = focus_manager_holder(e->engine->focus);
            return 0;
        });
        return h;
    }

    TalkEngine *e = nullptr;
    static std::atomic<int> g_play_ends;
};

std::atomic<int> VoiceFile::g_play_ends{0};

TEST(VoiceFileFormat, HeaderKindAndCodec)
{
    uint8_t h[32];
    voice_file_header(h, 0x01020304, 1000, 2001, 113);
    const uint8_t golden[8] = {0x4B, 0x56, 0x4D, 0x46, 0x00, 0x01, 0x00, 0x18};
    EXPECT_EQ(memcmp(h, golden, 8), 0);
    EXPECT_EQ(h[8], 1);
    EXPECT_EQ(h[11], 4);
    EXPECT_EQ(h[19], 1000 & 0xFF);
    EXPECT_EQ(h[27], 2001 & 0xFF);
    EXPECT_EQ(h[29], 2);
    EXPECT_EQ(h[30], 0x00);
    EXPECT_EQ(h[31], 0x71);
    EXPECT_EQ(voice_file_kind_of(h, 32), VOICE_FILE_ENCRYPTED);
    EXPECT_EQ(voice_file_kind_of(h, 31), VOICE_FILE_NO_HEADER); // the length is honoured
    h[31] = 103;
    EXPECT_EQ(voice_file_kind_of(h, 32), VOICE_FILE_HEADER_PLAIN);
    EXPECT_EQ(voice_file_kind_of(nullptr, 0), VOICE_FILE_NO_HEADER);

    struct {
        const char *path;
        uint32_t codec;
    } cases[] = {
        {"a/b.evrc", 103},
        {"x.sevrc", 103},
        {"amr_dir/x.evrc", 103},
        {"evrc_dir/x.amr", 101},
        {"x.samr", 101},
        {"x.AMR", 101},
        // No known extension: the name decides, "evrc" before "amr".
        {"x.evrc.txt", 103},
        {"evrc", 103},
        {"dir.amr/x", 101},
        {"amr_evrc.bin", 103},
        {"take-amr.rec", 101},
        {"x.txt", 0},
        {"EVRC.bin", 0},
        {"", 0},
    };
    for (const auto &c : cases)
        EXPECT_EQ(voice_file_codec_of_path(c.path), c.codec) << c.path;
}

TEST_F(VoiceFile, RecordsAllFourKindsWithTheLastFrames)
{
    struct {
        uint32_t codec;
        bool encrypted;
        const char *ext;
    } kinds[] = {
        {101, false, ".amr"}, {103, false, ".evrc"}, {101, true, ".samr"}, {103, true, ".sevrc"}};
    for (const auto &k : kinds) {
        SCOPED_TRACE(k.ext);
        set_kind(k.codec, k.encrypted);
        uint64_t before_stop = 0;
        std::string path = record(100, &before_stop); // about 2 s
        ASSERT_GE(path.size(), strlen(k.ext));
        EXPECT_EQ(path.substr(path.size() - strlen(k.ext)), k.ext);
        EXPECT_EQ(path.rfind(cwd.path() + "/", 0), 0u);
        Parsed p = parse(bytes_of(read_file(path)), k.ext);
        ASSERT_TRUE(p.ok) << p.why;
        // Every frame captured before the stop is in the file, the last
        // ones included (they were still queued when stop was asked).
        EXPECT_GE(p.frames, before_stop);
        EXPECT_LE(p.frames, before_stop + 2);
        if (k.encrypted) {
            const uint8_t golden[8] = {0x4B, 0x56, 0x4D, 0x46, 0x00, 0x01, 0x00, 0x18};
            EXPECT_EQ(memcmp(p.head.data(), golden, 8), 0);
            EXPECT_EQ(p.head[29], 2);
            EXPECT_EQ(p.head[30], 0x00);
            EXPECT_EQ(p.head[31], k.codec == 103 ? 0x71 : 0x6F);
            EXPECT_EQ(p.head[18] << 8 | p.head[19], 1000);
            EXPECT_EQ(p.head[26] << 8 | p.head[27], 2001);
            for (size_t n : p.record_sizes) {
                if (k.codec == 103)
                    EXPECT_TRUE(n == 16 || n == 32) << n;
                else
                    EXPECT_TRUE(n == 16 || n == 32 || n == 48) << n;
            }
        }
        EXPECT_EQ(focus_holder(), nullptr);
    }
}

TEST_F(VoiceFile, ASecondStartEndsTheFirstWriter)
{
    set_kind(101, false);
    std::string dir = cwd.path();
    char first[LIRKO_VOICE_FILE_PATH_MAX] = {}, second[LIRKO_VOICE_FILE_PATH_MAX] = {};
    ASSERT_EQ(e->on_looper(
                  [&] { return lirko_start_record(e->engine, dir.c_str(), first, sizeof(first)); }),
              0);
    uint64_t start = captured();
    wave_file_pump(WAVE_IN, 10);
    ASSERT_TRUE(wait_until([&] { return captured() >= start + 10; }));
    advance(0.1, 0.1);
    // File names count milliseconds: the second one differs.
    auto t0 = std::chrono::system_clock::now();
    ASSERT_TRUE(wait_until([&] { return std::chrono::system_clock::now() - t0 > 2ms; }));
    ASSERT_EQ(e->on_looper([&] {
        return lirko_start_record(e->engine, dir.c_str(), second, sizeof(second));
    }),
              0);
    ASSERT_STRNE(first, second);
    size_t first_size = read_file(first).size();
    Parsed p = parse(bytes_of(read_file(first)), ".amr");
    EXPECT_TRUE(p.ok) << p.why;
    EXPECT_GE(p.frames, 5u);
    start = captured();
    wave_file_pump(WAVE_IN, 10);
    ASSERT_TRUE(wait_until([&] { return captured() >= start + 10; }));
    advance(0.1, 0.1);
    std::atomic<int> stopped{-100};
    ASSERT_EQ(e->on_looper([&] {
        return lirko_stop_record(
            e->engine, [](void *arg, int r) { ((std::atomic<int> *)arg)->store(r); }, &stopped);
    }),
              0);
    wave_file_pump(WAVE_IN, 2);
    ASSERT_TRUE(wait_until([&] {
        e->settle();
        return stopped.load() != -100;
    }));
    EXPECT_EQ(read_file(first).size(), first_size) << "the first writer ended";
    EXPECT_GE(parse(bytes_of(read_file(second)), ".amr").frames, 10u);
    EXPECT_EQ(focus_holder(), nullptr);
}

TEST_F(VoiceFile, PlayingFeedsTheDeviceWhatConvertingGives)
{
    for (uint32_t codec : {101u, 103u}) {
        for (bool encrypted : {false, true}) {
            SCOPED_TRACE(std::to_string(codec) + (encrypted ? " encrypted" : ""));
            set_kind(codec, encrypted);
            uint64_t frames = 0;
            std::string path = record(50, &frames);
            std::string pcm_path = cwd.file("out.pcm");
            ASSERT_EQ(e->on_looper([&] {
                return lirko_audio_coded_to_pcm(e->engine, path.c_str(), pcm_path.c_str());
            }),
                      0);
            std::string pcm = read_file(pcm_path);
            EXPECT_GE(pcm.size(), frames * 320);
            ASSERT_FALSE(pcm.empty());
            EXPECT_TRUE(play(path) == pcm) << "first run";
            EXPECT_TRUE(play(path) == pcm) << "second run";
            EXPECT_EQ(focus_holder(), nullptr);
        }
    }
}

#ifdef PTT_HAVE_AVFORMAT
TEST_F(VoiceFile, FfmpegDecodesEveryFrameOfOurAmr)
{
    set_kind(101, false);
    uint64_t frames = 0;
    std::string path = record(100, &frames);
    Parsed p = parse(bytes_of(read_file(path)), ".amr");
    ASSERT_TRUE(p.ok);
    // Our files carry no magic; FFmpeg's demuxer wants it.
    std::string with_magic = cwd.file("magic.amr");
    ASSERT_TRUE(write_file(with_magic, "#!AMR\n" + read_file(path)));
    AVFormatContext *fmt = nullptr;
    ASSERT_EQ(avformat_open_input(&fmt, with_magic.c_str(), nullptr, nullptr), 0);
    ASSERT_GE(avformat_find_stream_info(fmt, nullptr), 0);
    ASSERT_EQ(fmt->nb_streams, 1u);
    const AVCodec *codec = avcodec_find_decoder(AV_CODEC_ID_AMR_NB);
    ASSERT_NE(codec, nullptr);
    AVCodecContext *ctx = avcodec_alloc_context3(codec);
    ASSERT_GE(avcodec_parameters_to_context(ctx, fmt->streams[0]->codecpar), 0);
    ASSERT_EQ(avcodec_open2(ctx, codec, nullptr), 0);
    AVPacket *pkt = av_packet_alloc();
    AVFrame *frame = av_frame_alloc();
    size_t samples = 0, errors = 0;
    while (av_read_frame(fmt, pkt) >= 0) {
        if (avcodec_send_packet(ctx, pkt) < 0)
            errors++;
        av_packet_unref(pkt);
        while (avcodec_receive_frame(ctx, frame) == 0)
            samples += (size_t)frame->nb_samples;
    }
    avcodec_send_packet(ctx, nullptr);
    while (avcodec_receive_frame(ctx, frame) == 0)
        samples += (size_t)frame->nb_samples;
    av_frame_free(&frame);
    av_packet_free(&pkt);
    avcodec_free_context(&ctx);
    avformat_close_input(&fmt);
    EXPECT_EQ(errors, 0u);
    EXPECT_EQ(samples, p.frames * 160);
    EXPECT_GE(p.frames, 100u);
}
#endif

TEST_F(VoiceFile, MalformedFilesGiveTheirResultAndFreeTheFocus)
{
    Bytes amr = {0x3C};
    amr.resize(32, 0x55);
    Bytes two_amr = amr;
    two_amr.insert(two_amr.end(), amr.begin(), amr.end());
    Bytes half = {3, 10, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}; // a half-rate stream record
    Bytes evrc_packet = {1, 0x80, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    Bytes good_evrc = record_of(seal(evrc_packet));
    Bytes good_amr = record_of(seal(amr));

    auto cat = [](std::initializer_list<Bytes> parts) {
        Bytes out;
        for (const Bytes &b : parts)
            out.insert(out.end(), b.begin(), b.end());
        return out;
    };
    Bytes kvmf31 = header(111);
    kvmf31.resize(31);
    Bytes twenty(20, 0x11);
    Bytes big(600, 0x22);
    Bytes truncated = {0x00, 0x20, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    Bytes random;
    uint32_t seed = 12345;
    for (int i = 0; i < 3; i++) {
        Bytes body(48);
        for (uint8_t &x : body)
            x = (uint8_t)((seed = seed * 1103515245 + 12345) >> 16);
        Bytes r = record_of(body);
        random.insert(random.end(), r.begin(), r.end());
    }
    mkdir(cwd.file("evrc_dir").c_str(), 0777);
    set_kind(101, true); // the own key opens the records
    struct {
        const char *name;
        Bytes data;
        int result;
        size_t frames;   // converted when the result is 0
        int convert = 1; // the converter's result when it differs
    } cases[] = {
        // Nothing to play is nothing to convert either.
        {"empty.amr", {}, -1, 0},
        {"three.amr", {'a', 'b', 'c'}, -1, 0},
        {"short31.samr", kvmf31, -1, 0},
        {"header.samr", header(111), -1, 0},
        {"header.sevrc", header(113), -1, 0},
        {"length0.samr", cat({header(111), {0, 0}, good_amr}), -1, 0},
        {"length0.evrc", cat({header(103), {0, 0}}), -1, 0},
        {"lengthffff.samr", cat({header(111), {0xFF, 0xFF}, big}), -1, 0},
        {"truncated.sevrc", cat({header(113), truncated}), -1, 0},
        {"random.samr", cat({header(111), random}), -1, 0},
        {"random.evrc", cat({header(103), random}), -1, 0},
        {"zeros.evrc", Bytes(10000, 0), -1, 0},
        {"zeros10k.amr", Bytes(10000, 0), -1, 0},
        // Frames before a fault play, but a conversion cut short gives no file.
        {"half.evrc", cat({half, {9, 9}}), -1, 0},
        {"take_evrc.rec", cat({half, half}), 0, 2},
        {"amr_take", two_amr, 0, 2},
        {"pt103.evrc", cat({header(103), record_of(cat({half, half})), record_of(half)}), 0, 3},
        {"record20.sevrc", cat({header(113), good_evrc, record_of(twenty), good_evrc}), 0, 1},
        {"record600.samr", cat({header(111), good_amr, record_of(big)}), 0, 1},
        {"truncated.samr", cat({header(111), good_amr, truncated}), 0, 1},
        {"zeros.amr", cat({{0, 0, 0}, two_amr}), 0, 2},
        {"type9.amr", cat({amr, {0x48}, Bytes(5, 0)}), -1, 0},
        {"evrc_dir/x.amr", two_amr, 0, 2},
        {"x.txt", two_amr, -2, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = cwd.file(c.name);
        ASSERT_TRUE(write_file(path, std::string(c.data.begin(), c.data.end())));
        EXPECT_EQ(e->on_looper([&] { return lirko_record_play_audio(e->engine, path.c_str()); }),
                  c.result);
        e->on_looper([&] { return lirko_record_stop_play_audio(e->engine); });
        EXPECT_EQ(focus_holder(), nullptr);
        std::string pcm = cwd.file("m.pcm");
        unlink(pcm.c_str());
        int r = e->on_looper(
            [&] { return lirko_audio_coded_to_pcm(e->engine, path.c_str(), pcm.c_str()); });
        EXPECT_EQ(r, c.convert == 1 ? c.result : c.convert);
        if (r == 0) {
            EXPECT_EQ(read_file(pcm).size(), c.frames * 320);
        } else {
            EXPECT_NE(access(pcm.c_str(), F_OK), 0) << "an output file was left";
        }
    }
    // A failed conversion leaves an older output as it was, and no
    // temporary file anywhere.
    std::string pcm = cwd.file("m.pcm");
    ASSERT_TRUE(write_file(pcm, "older"));
    std::string bad = cwd.file("type9.amr");
    EXPECT_EQ(
        e->on_looper([&] { return lirko_audio_coded_to_pcm(e->engine, bad.c_str(), pcm.c_str()); }),
        -1);
    EXPECT_EQ(read_file(pcm), "older");
    for (const auto &entry : std::filesystem::directory_iterator(cwd.path()))
        EXPECT_NE(entry.path().extension(), ".tmp") << entry.path();
    // Own talk gets the focus afterwards.
    EXPECT_EQ(e->on_looper([&] {
        int got = focus_manager_require_nowait(e->engine->focus, this, FOCUS_PRIORITY_TALK, NULL);
        focus_manager_release(e->engine->focus, this);
        return got;
    }),
              1);
}

} // namespace
