// The session's receive path, seen through the received-voice file:
// plain and encrypted voice, the payloads that are dropped, and the file's
// start and stop reports.
#include "aes.h"
#include "lirko_record.h"
#include "lirko_talk.h"
#include "raw_client.h"
#include "talk_fixture.h"

using namespace ptt::test;

namespace
{

const std::string kKey = "0123456789abcdef0123456789ABCDEF";

// The group key's first 32 bytes, zero-filled, as the AES key.
Bytes seal(const Bytes &plain)
{
    uint8_t key[32] = {};
    memcpy(key, kKey.data(), std::min<size_t>(32, kKey.size()));
    Bytes out(plain.size() / 16 * 16 + 16);
    int n = aes_ecb_encrypt_pkcs7(plain.data(), (int)plain.size(), out.data(), key);
    out.resize(n < 0 ? 0 : (size_t)n);
    return out;
}

Bytes unseal(const Bytes &sealed)
{
    uint8_t key[32] = {};
    memcpy(key, kKey.data(), std::min<size_t>(32, kKey.size()));
    aes_key k;
    aes_set_decrypt_key(key, 256, &k);
    Bytes out(sealed.size());
    for (size_t i = 0; i + 16 <= sealed.size(); i += 16)
        aes_decrypt_block(sealed.data() + i, out.data() + i, &k);
    out.resize(out.empty() || out.back() > out.size() ? 0 : out.size() - out.back());
    return out;
}

Bytes amr_frame(uint8_t fill)
{
    Bytes f(32, fill);
    f[0] = 0x3C; // mode 7, 32 bytes with the header
    return f;
}

class ListenFile : public TalkFixture
{
  protected:
    virtual bool encrypted()
    {
        return true;
    }
    void edit(Directory &d) override
    {
        TalkFixture::edit(d);
        if (encrypted()) {
            d.config.encrypt_enabled = true;
            d.config.encrypt_method = "aes";
            d.config.encrypt_key = kKey;
        }
    }
    // Alice records (into a directory that is gone again when asked); the
    // dispatcher (a bare client) holds the floor.
    void start(bool remove_dir = false)
    {
        alice = &add_engine();
        join(*alice, "alice", "alice-pw");
        dir = cwd.file("records");
        ASSERT_EQ(alice->on_looper(
                      [&] { return lirko_record_set_enabled(alice->engine, 1, dir.c_str()); }),
                  0);
        if (remove_dir) {
            ASSERT_EQ(rmdir(dir.c_str()), 0);
        }
        dispatcher = std::make_unique<RawMember>(server, 0, 2001);
        server.sync();
        dispatcher->request(2001);
        ASSERT_TRUE(wait_until([&] {
            sync();
            return alice->status() == SESSION_STATUS_LISTENING;
        }));
    }
    void voice(uint8_t pt, uint16_t seq, const Bytes &payload)
    {
        Bytes d = VoiceClient::header(pt, seq, seq * 160u, 1000);
        d.insert(d.end(), payload.begin(), payload.end());
        dispatcher->udp->send_raw(d);
    }
    uint64_t listen_bytes()
    {
        return (uint64_t)alice->on_looper(
            [&] { return (int)sessionset_current(alice->engine->sessionset)->listen_bytes; });
    }
    // Ends the talk; the file's name from its stop report.
    std::string stop()
    {
        dispatcher->request(2001, "ptt.rr.ReleaseMic");
        EXPECT_TRUE(wait_until([&] {
            sync();
            return alice->status() == SESSION_STATUS_IDLE;
        }));
        auto stops = alice->calls(SLOT_STOP_RECORD);
        return stops.size() == 1 ? stops[0] : "(" + std::to_string(stops.size()) + " reports)";
    }

    TalkEngine *alice = nullptr;
    std::unique_ptr<RawMember> dispatcher;
    std::string dir;
};

class PlainListenFile : public ListenFile
{
    bool encrypted() override
    {
        return false;
    }
};

} // namespace

TEST_F(ListenFile, KeepsPlainAndDecryptedVoiceAndDropsBrokenPayloads)
{
    start();
    auto starts = alice->calls(SLOT_START_RECORD);
    ASSERT_EQ(starts.size(), 1u);
    std::string name = starts[0].substr(std::string("2001,1000,").size());
    EXPECT_EQ(name.substr(name.size() - 14), "_2001_1000.amr");

    Bytes plain = amr_frame(1), sealed_amr = amr_frame(2);
    // An EVRC packet of one half-rate frame; the file keeps it as a record
    // [rate 3][size 10][frame].
    Bytes evrc = {1, 0x80, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0};
    voice(101, 1, plain);            // plain voice in an encrypted session: kept as is
    voice(111, 2, seal(sealed_amr)); // decrypted
    Bytes odd = seal(amr_frame(3));
    odd.resize(20);
    voice(111, 3, odd); // not whole blocks: dropped
    uint8_t key[32];
    memcpy(key, kKey.data(), 32);
    aes_key k;
    aes_set_encrypt_key(key, 256, &k);
    Bytes zero_pad(16, 0), block(16);
    aes_encrypt_block(zero_pad.data(), block.data(), &k);
    voice(111, 4, block);      // its padding byte is 0: dropped
    voice(113, 5, seal(evrc)); // decrypted EVRC
    uint64_t want = (32 + 4) + (32 + 4) + (12 + 4);
    ASSERT_TRUE(wait_until([&] { return listen_bytes() == want; }));
    std::string stopped = stop();
    EXPECT_EQ(stopped, "1,2001,1000," + name);
    Bytes content;
    for (const Bytes &b : {plain, sealed_amr, Bytes{3, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0}})
        content.insert(content.end(), b.begin(), b.end());
    std::string file = read_file(dir + "/" + name);
    EXPECT_EQ(Bytes(file.begin(), file.end()), content);
}

TEST_F(PlainListenFile, SealedVoiceWithoutAKeyIsDroppedAndTheEmptyFileGoes)
{
    start();
    auto starts = alice->calls(SLOT_START_RECORD);
    ASSERT_EQ(starts.size(), 1u);
    std::string name = starts[0].substr(std::string("2001,1000,").size());
    voice(111, 1, seal(amr_frame(1)));
    voice(113, 2, seal(Bytes{1, 0x80, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0}));
    sync();
    server.sync();
    sync();
    EXPECT_EQ(listen_bytes(), 0u);
    EXPECT_EQ(stop(), "0,2001,1000," + name) << "nothing was written";
    EXPECT_TRUE(read_file(dir + "/" + name).empty());
    EXPECT_NE(access((dir + "/" + name).c_str(), F_OK), 0) << "deleted";
}

TEST_F(PlainListenFile, AFileThatCannotBeMadeIsNotReported)
{
    start(true);
    sync();
    EXPECT_TRUE(alice->calls(SLOT_START_RECORD).empty());
    EXPECT_EQ(server.count("ptt.rr.IgnoreTalk"), 0u) << "recording was on";
    EXPECT_EQ(stop(), "(0 reports)");
}

// The own voice file of an encrypted talk holds the voice, not the
// ciphertext that went out.
TEST_F(ListenFile, TheSpeakFileOfAnEncryptedTalkHoldsItsVoice)
{
    TalkEngine &e = add_engine();
    join(e, "dispatcher", "dispatcher-pw");
    dir = cwd.file("records");
    ASSERT_EQ(e.on_looper([&] { return lirko_record_set_enabled(e.engine, 1, dir.c_str()); }), 0);
    RawMember alice(server, 1, 2001);
    server.sync();
    ASSERT_EQ(e.on_looper([&] { return lirko_start_speak(e.engine); }), 0);
    ASSERT_TRUE(wait_until([&] {
        advance(0.02, 0.02);
        return server.relayed_to(1001).size() >= 3;
    }));
    ASSERT_EQ(e.on_looper([&] { return lirko_stop_speak(e.engine); }), 0);
    ASSERT_TRUE(wait_until([&] {
        advance(0.02, 0.02);
        return e.status() == SESSION_STATUS_IDLE;
    }));
    auto stops = e.calls(SLOT_STOP_RECORD);
    ASSERT_EQ(stops.size(), 1u);
    std::string name = stops[0].substr(std::string("1,2001,1000,").size());
    Bytes voice;
    for (const auto &r : server.relayed_to(1001)) {
        EXPECT_EQ(r.datagram[1] & 0x7F, 111);
        Bytes plain = unseal(Bytes(r.datagram.begin() + 12, r.datagram.end()));
        ASSERT_FALSE(plain.empty());
        voice.insert(voice.end(), plain.begin(), plain.end());
    }
    // The file closes at the release: what the stream drains after it is
    // sent but not written.
    std::string file = read_file(dir + "/" + name);
    ASSERT_FALSE(file.empty());
    ASSERT_LE(file.size(), voice.size());
    Bytes recorded(file.begin(), file.end());
    EXPECT_EQ(recorded, Bytes(voice.begin(), voice.begin() + (ptrdiff_t)recorded.size()));
}

// Plain voice in an encrypted session is played (keys are per user), and an
// operator can see it: one log line per talk.
TEST_F(ListenFile, PlainVoiceInAnEncryptedSessionIsLoggedOncePerTalk)
{
    auto lines = [&] {
        std::string log = read_file(cwd.file("kvptt.log"));
        size_t n = 0;
        for (size_t at = log.find("in an encrypted session: played"); at != std::string::npos;
             at = log.find("in an encrypted session: played", at + 1))
            n++;
        return n;
    };
    start();
    for (uint16_t seq = 1; seq <= 3; seq++)
        voice(101, seq, amr_frame(seq));
    ASSERT_TRUE(wait_until([&] { return listen_bytes() == 3u * (32 + 4); }));
    voice(111, 4, seal(amr_frame(4)));
    ASSERT_TRUE(wait_until([&] { return listen_bytes() == 4u * (32 + 4); }));
    EXPECT_EQ(lines(), 1u);
    stop();
    dispatcher->request(2001);
    ASSERT_TRUE(wait_until([&] {
        sync();
        return alice->status() == SESSION_STATUS_LISTENING;
    }));
    voice(101, 5, amr_frame(5));
    voice(101, 6, amr_frame(6));
    ASSERT_TRUE(wait_until([&] { return lines() == 2u; }));
    sync();
    EXPECT_EQ(lines(), 2u);
}
