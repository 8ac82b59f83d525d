// Two engine processes talk through the test server, each driven only
// through the public header (tests/tools/talk_driver). The dispatcher talks
// the speech clip; every frame the server relays to alice, decrypted and
// decoded afresh, is what alice's decoder played, once and in order, and
// alice's loudspeaker follows the clip's envelope.
#include "aes.h"
#include "amr_frame.h"
#include "driver_process.h"
#include "evrc_frame.h"
#include "evrc_packet.h"
#include "ptt_server.h"
#include "talk_engine.h"
#include "test_support.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <netinet/in.h>
#include <opencore-amrnb/interf_dec.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace ptt::test;

namespace
{

const std::string kOwnKey = "own-voice-key-0123456789abcdefgh";
const std::string kGroupKey = "group-voice-key-9876543210zyxwvu";

enum class Keys { None, Own, Group };

struct TalkRun {
    uint32_t codec; // 101 or 103
    Keys keys;
};

std::vector<int16_t> samples(const std::string &bytes, size_t skip = 0)
{
    if (bytes.size() <= skip)
        return {};
    std::vector<int16_t> out((bytes.size() - skip) / 2);
    memcpy(out.data(), bytes.data() + skip, out.size() * 2);
    return out;
}

// The payload as sent, decrypted when sealed.
Bytes plain_payload(const Bytes &datagram, const std::string &key, bool *sealed)
{
    uint8_t pt = datagram[1] & 0x7F;
    *sealed = pt == 111 || pt == 113;
    Bytes payload(datagram.begin() + 12, datagram.end());
    if (!*sealed)
        return payload;
    uint8_t k[32] = {};
    memcpy(k, key.data(), std::min<size_t>(32, key.size()));
    aes_key schedule;
    aes_set_decrypt_key(k, 256, &schedule);
    Bytes out(payload.size());
    for (size_t i = 0; i + 16 <= payload.size(); i += 16)
        aes_decrypt_block(payload.data() + i, out.data() + i, &schedule);
    size_t pad = out.empty() ? 0 : out.back();
    out.resize(pad >= 1 && pad <= 16 && pad <= out.size() ? out.size() - pad : 0);
    return out;
}

// Decodes the relayed voice in sequence order with a fresh decoder.
std::vector<int16_t> decode(const std::vector<Bytes> &payloads, uint32_t codec)
{
    std::vector<int16_t> pcm;
    int16_t frame[160];
    if (codec == 101) {
        void *dec = Decoder_Interface_init();
        for (const Bytes &p : payloads) {
            for (size_t i = 0; i < p.size();) {
                size_t n = amr_frame_size(p[i]);
                if (n == 0 || i + n > p.size())
                    break;
                Decoder_Interface_Decode(dec, p.data() + i, frame, 0);
                pcm.insert(pcm.end(), frame, frame + 160);
                i += n;
            }
        }
        Decoder_Interface_exit(dec);
    } else {
        evrc_decoder *dec = evrc_decoder_new();
        for (const Bytes &p : payloads) {
            uint8_t stream[EVRC_STREAM_CAPACITY];
            uint32_t n = evrc_packet_to_stream(p.data(), (uint32_t)p.size(), stream);
            for (uint32_t i = 0; i < n;) {
                uint32_t len = evrc_stream_record_length(stream[i]);
                if (len == 0 || i + len > n)
                    break;
                evrc_decode_frame(dec, stream + i + 2, (int)len - 2, frame);
                pcm.insert(pcm.end(), frame, frame + 160);
                i += len;
            }
        }
        evrc_decoder_destroy(&dec);
    }
    return pcm;
}

// RMS of each 20 ms block.
std::vector<double> envelope(const std::vector<int16_t> &pcm)
{
    std::vector<double> env;
    for (size_t i = 0; i + 160 <= pcm.size(); i += 160) {
        double s = 0;
        for (size_t j = i; j < i + 160; j++)
            s += (double)pcm[j] * pcm[j];
        env.push_back(std::sqrt(s / 160));
    }
    return env;
}

// The best correlation of b's envelope, shifted by up to max_lag blocks,
// with a's over a's length.
double best_correlation(const std::vector<double> &a, const std::vector<double> &b, size_t max_lag)
{
    double best = -1;
    for (size_t lag = 0; lag <= max_lag && lag + a.size() <= b.size(); lag++) {
        double ma = 0, mb = 0;
        for (size_t i = 0; i < a.size(); i++) {
            ma += a[i];
            mb += b[i + lag];
        }
        ma /= a.size();
        mb /= a.size();
        double sab = 0, saa = 0, sbb = 0;
        for (size_t i = 0; i < a.size(); i++) {
            double x = a[i] - ma, y = b[i + lag] - mb;
            sab += x * y;
            saa += x * x;
            sbb += y * y;
        }
        if (saa > 0 && sbb > 0)
            best = std::max(best, sab / std::sqrt(saa * sbb));
    }
    return best;
}

class TalkEndToEnd : public ::testing::Test
{
  protected:
    void start(const TalkRun &run, bool full_duplex)
    {
        run_ = run;
        server.edit_directory([&](Directory &d) {
            d.config.present = true;
            d.config.audio_enabled = true;
            d.config.default_group = full_duplex ? 2002 : 2001;
            if (run.keys == Keys::Own) {
                d.config.encrypt_enabled = true;
                d.config.encrypt_method = "aes";
                d.config.encrypt_key = kOwnKey;
            }
            uint32_t gid = full_duplex ? 2002 : 2001;
            if (run.keys == Keys::Group) {
                d.groups.at(gid).key_method = "aes";
                d.groups.at(gid).key = kGroupKey;
            }
            d.groups.at(2002).full_duplex = full_duplex;
            if (full_duplex)
                d.members.push_back({2002, 1001, true, std::nullopt});
        });
        std::string error;
        ASSERT_TRUE(server.start(&error)) << error;
        gid_ = full_duplex ? 2002 : 2001;
        a = spawn("a", source_path("tests/fixtures/audio/speech_far_8k.wav"));
        b = spawn("b", full_duplex ? source_path("tests/fixtures/audio/speech_near_8k.wav") : "");
        ASSERT_TRUE(a->running() && b->running());
        ASSERT_TRUE(a->wait_event("result load 0"));
        ASSERT_TRUE(b->wait_event("result load 0"));
        if (full_duplex) {
            ASSERT_EQ(a->command("record " + cwd.file("a/rec")), 0);
            ASSERT_EQ(b->command("record " + cwd.file("b/rec")), 0);
        }
        for (auto [d, account] : {std::pair{a.get(), "dispatcher dispatcher-pw"},
                                  std::pair{b.get(), "alice alice-pw"}}) {
            ASSERT_EQ(d->command(std::string("login ") + account), 0);
            ASSERT_TRUE(d->wait_event("status 3", std::chrono::seconds(20)));
            ASSERT_TRUE(d->wait_event("group " + std::to_string(gid_)));
        }
        // Both voice sockets have had their first answer: the sessions are
        // ready for the floor pushes that follow it on the same socket.
        for (uint32_t uid : {1000u, 1001u}) {
            ASSERT_TRUE(wait_until([&] {
                for (const auto &r : server.received("ptt.net.Ping")) {
                    if (r.gid == gid_ && r.ssrc == uid)
                        return true;
                }
                return false;
            }));
        }
        server.sync();
    }
    std::unique_ptr<DriverProcess> spawn(const std::string &name, const std::string &input)
    {
        std::string dir = cwd.file(name);
        mkdir(dir.c_str(), 0777);
        write_file(dir + "/custom.ini", "[network]\ndns = " + server.dns_entry() +
                                            "\n[record]\ncodec = " + std::to_string(run_.codec) +
                                            "\nprobation = 0\n[play]\nagc_enable = 0\n");
        return std::make_unique<DriverProcess>(dir, "file:" + input + "," + dir + "/out.wav");
    }
    std::string key() const
    {
        return run_.keys == Keys::Own ? kOwnKey : run_.keys == Keys::Group ? kGroupKey : "";
    }
    // The relayed voice from one member to the other, in sequence order;
    // checks the payload types and the sealed lengths on the way.
    std::vector<Bytes> relayed(uint32_t from, uint32_t to)
    {
        std::map<uint16_t, Bytes> by_seq;
        size_t copies = 0;
        for (const auto &r : server.relayed_to(to)) {
            if (r.from != from || r.dropped)
                continue;
            copies++;
            const Bytes &d = r.datagram;
            uint8_t pt = d[1] & 0x7F;
            bool sealed = run_.keys != Keys::None;
            EXPECT_EQ(pt, run_.codec + (sealed ? 10 : 0));
            if (sealed) {
                EXPECT_EQ((d.size() - 12) % 16, 0u) << d.size();
            }
            bool was_sealed = false;
            by_seq[(uint16_t)((d[2] << 8) | d[3])] = plain_payload(d, key(), &was_sealed);
        }
        EXPECT_EQ(by_seq.size(), copies) << "every sequence number once";
        std::vector<Bytes> out;
        for (auto &[seq, p] : by_seq)
            out.push_back(p);
        return out;
    }
    std::vector<int16_t> played(const std::string &name)
    {
        return samples(read_file(cwd.file(name + "/play_pcm.raw")));
    }

    TempCwd cwd;
    PttServer server;
    std::unique_ptr<DriverProcess> a, b;
    TalkRun run_{101, Keys::None};
    uint32_t gid_ = 2001;
};

class HalfDuplex : public TalkEndToEnd, public ::testing::WithParamInterface<TalkRun>
{
};

std::string run_name(const ::testing::TestParamInfo<TalkRun> &info)
{
    const char *keys[] = {"Plain", "OwnKey", "GroupKey"};
    return std::string(info.param.codec == 101 ? "Amr" : "Evrc") + keys[(int)info.param.keys];
}

} // namespace

TEST_P(HalfDuplex, EveryFrameReachesTheListenerOnceAndInOrder)
{
    start(GetParam(), false);
    ASSERT_EQ(a->command("press"), 0);
    ASSERT_TRUE(a->wait_event("speak 2001"));
    ASSERT_TRUE(b->wait_event("playing 1000 2001"));
    // Six seconds of the clip: 60 packets of five frames.
    ASSERT_TRUE(server.wait_relayed(1001, 60, std::chrono::seconds(30)));
    ASSERT_EQ(a->command("release"), 0);
    ASSERT_TRUE(a->wait_event("stop 2001"));
    ASSERT_TRUE(b->wait_event("played 1000 2001", std::chrono::seconds(15)));
    ASSERT_TRUE(b->wait_event("member-end 1000 2001"));
    // The listener's tone follows once its player has played everything out.
    ASSERT_TRUE(wait_until(
        [&] {
            auto t = tone_positions(read_wav_samples(cwd.file("b/out.wav")));
            return !t.empty() && t.back().second == 1175;
        },
        std::chrono::seconds(15)));
    std::vector<int> tones;
    for (auto [pos, freq] : tone_positions(read_wav_samples(cwd.file("b/out.wav"))))
        tones.push_back(freq);
    EXPECT_EQ(tones, (std::vector<int>{1318, 1175}));
    a.reset();
    b.reset();

    std::vector<int16_t> expected = decode(relayed(1000, 1001), run_.codec);
    std::vector<int16_t> got = played("b");
    ASSERT_GE(expected.size(), 60u * 5 * 160);
    EXPECT_EQ(got.size(), expected.size());
    EXPECT_TRUE(got == expected) << "the played frames differ from the relayed ones";

    std::vector<int16_t> clip =
        samples(read_file(source_path("tests/fixtures/audio/speech_far_8k.wav")), 44);
    clip.resize(std::min(clip.size(), expected.size()));
    // The loudspeaker's voice, without the prompt tones around it.
    std::vector<int16_t> out = read_wav_samples(cwd.file("b/out.wav"));
    for (auto [pos, freq] : tone_positions(out))
        std::fill_n(out.begin() + (ptrdiff_t)pos, freq == 1175 ? 800 : 480, 0);
    double r = best_correlation(envelope(clip), envelope(out), 200);
    EXPECT_GE(r, 0.9);
    RecordProperty("envelope_correlation", std::to_string(r));
}

INSTANTIATE_TEST_SUITE_P(Codecs, HalfDuplex,
                         ::testing::Values(TalkRun{101, Keys::None}, TalkRun{101, Keys::Own},
                                           TalkRun{101, Keys::Group}, TalkRun{103, Keys::None},
                                           TalkRun{103, Keys::Own}, TalkRun{103, Keys::Group}),
                         run_name);

TEST_F(TalkEndToEnd, FullDuplexBothTalkAtOnceWhileRecording)
{
    start(TalkRun{101, Keys::Group}, true);
    ASSERT_TRUE(server.wait_relayed(1001, 30, std::chrono::seconds(30)));
    ASSERT_TRUE(server.wait_relayed(1000, 30, std::chrono::seconds(30)));
    a.reset();
    b.reset();
    for (auto [from, to, name] : {std::tuple{1000u, 1001u, "b"}, std::tuple{1001u, 1000u, "a"}}) {
        SCOPED_TRACE(name);
        std::vector<int16_t> sent = decode(relayed(from, to), run_.codec);
        std::vector<int16_t> got = played(name);
        // Played from the first frame on, in order; what was still buffered
        // when the process ended was not played.
        ASSERT_GE(got.size(), 20u * 160);
        ASSERT_LE(got.size(), sent.size());
        EXPECT_TRUE(std::equal(got.begin(), got.end(), sent.begin()));
    }
}

namespace
{

size_t count_events(DriverProcess &d, const std::string &event)
{
    size_t n = 0;
    for (const std::string &e : d.events())
        n += e == event;
    return n;
}

bool wait_events(DriverProcess &d, const std::string &event, size_t n,
                 std::chrono::milliseconds timeout)
{
    return wait_until([&] { return count_events(d, event) >= n; }, timeout);
}

// After a re-login the group's voice path is ready only once the voice
// server has answered the session on the engine's side, which a loaded
// machine can deliver after the server saw the Ping: a press refused
// meanwhile is tried again, a second apart as the engine requires.
int press_when_ready(DriverProcess &d)
{
    int r = d.command("press");
    for (int tries = 0; r != 0 && tries < 15; tries++) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1100));
        r = d.command("press");
    }
    return r;
}

// Stands in for a dead voice server on its old port: the arrival times
// (steady seconds) of the voice datagrams (not the keep-alives) sent to it.
class VoiceSink
{
  public:
    explicit VoiceSink(uint16_t port)
    {
        fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(port);
        if (fd_ >= 0 && bind(fd_, (sockaddr *)&addr, sizeof(addr)) != 0) {
            close(fd_);
            fd_ = -1;
        }
    }
    ~VoiceSink()
    {
        if (fd_ >= 0)
            close(fd_);
    }
    bool ok() const
    {
        return fd_ >= 0;
    }
    // Collects for the given time.
    void collect(std::chrono::milliseconds during)
    {
        auto end = std::chrono::steady_clock::now() + during;
        while (std::chrono::steady_clock::now() < end) {
            pollfd p = {fd_, POLLIN, 0};
            poll(&p, 1, 20);
            uint8_t buf[2048];
            ssize_t n;
            while ((n = recv(fd_, buf, sizeof(buf), 0)) > 0) {
                uint8_t pt = buf[1] & 0x7F;
                if (n >= 12 && pt != 100)
                    voice.push_back(steady_seconds());
            }
        }
    }
    static double steady_seconds()
    {
        return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
    std::vector<double> voice;

  private:
    int fd_ = -1;
};

} // namespace

// The server is killed two seconds into a talk and comes back after a short
// and after a long outage (past the three failed start-ups that report an
// idle engine's outage). The talker hears of it at once: stop_speak and one
// -21 within 3 s, and no voice goes out 0.5 s after the kill; the listener
// hears the talk end; both come back online and talk again.
TEST_F(TalkEndToEnd, AKilledServerEndsTheTalkVisiblyAndBothComeBack)
{
    start(TalkRun{101, Keys::None}, false);
    size_t round = 0;
    for (double outage : {3.0, 12.0}) {
        SCOPED_TRACE(outage);
        round++;
        ASSERT_EQ(press_when_ready(*a), 0) << ::testing::PrintToString(a->events());
        ASSERT_TRUE(wait_events(*a, "speak 2001", round, std::chrono::seconds(10)));
        ASSERT_TRUE(wait_events(*b, "playing 1000 2001", round, std::chrono::seconds(10)));
        std::this_thread::sleep_for(std::chrono::seconds(2));

        uint16_t voice_port = server.voice_port(gid_);
        server.stop();
        double killed = VoiceSink::steady_seconds();
        VoiceSink sink(voice_port);
        ASSERT_TRUE(wait_events(*a, "stop 2001", round, std::chrono::seconds(3)));
        ASSERT_TRUE(wait_events(*a, "error -21", round, std::chrono::seconds(3)));
        EXPECT_LE(VoiceSink::steady_seconds() - killed, 3.0);
        if (sink.ok()) {
            sink.collect(std::chrono::milliseconds(1500));
            for (double t : sink.voice)
                EXPECT_LE(t - killed, 0.5) << "voice sent to the dead server";
        }
        ASSERT_TRUE(wait_events(*b, "member-end 1000 2001", round, std::chrono::seconds(10)));
        double left = outage - (VoiceSink::steady_seconds() - killed);
        if (left > 0)
            std::this_thread::sleep_for(std::chrono::duration<double>(left));
        server.clear_received();
        std::string error;
        ASSERT_TRUE(server.restart(&error)) << error;
        // Back online (state 3 once more) in their group.
        ASSERT_TRUE(wait_events(*a, "status 3", round + 1, std::chrono::seconds(40)));
        ASSERT_TRUE(wait_events(*b, "status 3", round + 1, std::chrono::seconds(40)));
        // Online comes before the group is joined again: a talk needs the group.
        ASSERT_TRUE(wait_events(*a, "group 2001", round + 1, std::chrono::seconds(40)))
            << ::testing::PrintToString(a->events());
        ASSERT_TRUE(wait_events(*b, "group 2001", round + 1, std::chrono::seconds(40)));
        EXPECT_EQ(count_events(*a, "error -21"), round) << "one -21 per outage";
        EXPECT_EQ(count_events(*a, "speak 2001"), count_events(*a, "stop 2001"));
        // Both voice sockets are answered again before the new talk.
        for (uint32_t uid : {1000u, 1001u}) {
            ASSERT_TRUE(wait_until(
                [&] {
                    for (const auto &r : server.received("ptt.net.Ping")) {
                        if (r.gid == gid_ && r.ssrc == uid)
                            return true;
                    }
                    return false;
                },
                std::chrono::seconds(20)));
        }
        server.sync();
    }
    // A new talk goes through.
    ASSERT_EQ(press_when_ready(*a), 0) << ::testing::PrintToString(a->events());
    ASSERT_TRUE(wait_events(*a, "speak 2001", 3, std::chrono::seconds(10)));
    ASSERT_TRUE(wait_events(*b, "playing 1000 2001", 3, std::chrono::seconds(10)));
    ASSERT_EQ(a->command("release"), 0);
    ASSERT_TRUE(wait_events(*a, "stop 2001", 3, std::chrono::seconds(10)));
}

// Twenty packets of the talker's SSRC with far-off sequence numbers come
// before every voice packet the listener gets: it plays the talk frame for
// frame as it does without them.
TEST_F(TalkEndToEnd, StraysOfTheTalkersSsrcDoNotDisturbTheListener)
{
    start(TalkRun{101, Keys::None}, false);
    server.set_relay_strays(1001, 20, 11);
    ASSERT_EQ(a->command("press"), 0);
    ASSERT_TRUE(a->wait_event("speak 2001"));
    ASSERT_TRUE(b->wait_event("playing 1000 2001"));
    ASSERT_TRUE(server.wait_relayed(1001, 60, std::chrono::seconds(30)));
    ASSERT_EQ(a->command("release"), 0);
    ASSERT_TRUE(a->wait_event("stop 2001"));
    ASSERT_TRUE(b->wait_event("played 1000 2001", std::chrono::seconds(15)));
    // The listener's end tone follows once everything was played out.
    ASSERT_TRUE(wait_until(
        [&] {
            auto t = tone_positions(read_wav_samples(cwd.file("b/out.wav")));
            return !t.empty() && t.back().second == 1175;
        },
        std::chrono::seconds(15)));
    a.reset();
    b.reset();
    std::vector<int16_t> expected = decode(relayed(1000, 1001), run_.codec);
    ASSERT_GE(expected.size(), 60u * 5 * 160);
    std::vector<int16_t> got = played("b");
    EXPECT_EQ(got.size(), expected.size());
    EXPECT_TRUE(got == expected) << "the played frames differ from the relayed ones";
}
