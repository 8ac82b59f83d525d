// The voice session: its table, the checks of a talk request, the floor
// with the server's answers, the ticks and the keep-alive. The other
// members are bare clients of the server.
#include "aes.h"
#include "hal_ctx.h"
#include "hal_sound.h"
#include "lirko_record.h"
#include "lirko_talk.h"
#include "ptt_net.pb-c.h"
#include "ptt_push.pb-c.h"
#include "ptt_rr.pb-c.h"
#include "raw_client.h"
#include "rtp_stream.h"
#include "talk_fixture.h"

#include <arpa/inet.h>
#include <map>
#include <sstream>

using namespace ptt::test;

namespace
{

using Session = TalkFixture;

const char *kDispatcherPw = "dispatcher-pw";
const char *kAlicePw = "alice-pw";

// The test's own session, outside the session set (looper thread).
session *new_session(TalkEngine &e, uint32_t ip = 0, uint16_t port = 0)
{
    session *s = nullptr;
    e.on_looper([&] {
        s = session_new(e.engine, 1000, 2001, ip, port, 0, nullptr);
        return 0;
    });
    return s;
}

void destroy(TalkEngine &e, session *s)
{
    e.on_looper([&] {
        session_destroy(&s);
        return 0;
    });
}

std::vector<PttServer::Received> tcp(PttServer &server, const std::string &type)
{
    std::vector<PttServer::Received> out;
    for (const auto &r : server.received(type)) {
        if (r.gid == 0)
            out.push_back(r);
    }
    return out;
}

} // namespace

TEST_F(Session, TableIsTheSessionMachine)
{
    // next state and action of every cell, row by row.
    static const char *golden[SESSION_STATES] = {
        "1A 0N 0N 0N 0N 0N 0N 0N 0N 0N 0N 0N 0N 8X", "1N 2I 1N 1N 1N 1N 1N 1N 1N 1N 1N 1N 1N 8X",
        "2N 2N 2G 2L 3P 8X 2V 4W 8X 8X 2M 2N 2N 8X", "3N 3N 3N 2L 8X 2S 3U 8X 8X 8X 3M 3N 3N 8X",
        "4N 4N 4G 4L 8X 8X 4V 8X 2Q 2Q 5K 2R 2T 8X", "5N 5N 5G 5L 8X 8X 5V 8X 6O 2F 5N 2R 2T 8X",
        "6N 6N 6G 6L 8X 8X 6V 8X 2E 2F 6N 2R 2T 2E"};
    const std::map<session_action_fn, char> letters = {
        {session_action_none, 'N'},
        {session_action_reset, 'X'},
        {session_action_connect, 'A'},
        {session_action_connecting_2_idle, 'I'},
        {session_action_on_member_get_mic, 'G'},
        {session_action_member_lost_mic, 'L'},
        {session_action_start_playing, 'P'},
        {session_action_stop_playing, 'S'},
        {session_action_put_voice, 'U'},
        {session_action_voice_while_idle, 'V'},
        {session_action_2_wait_mic, 'W'},
        {session_action_wait_mic_2_speak, 'K'},
        {session_action_request_mic_ack, 'Q'},
        {session_action_speak_refuse_mic, 'R'},
        {session_action_speak_lost_mic, 'T'},
        {session_action_speak_focus_lost, 'F'},
        {session_action_stop_speak, 'O'},
        {session_action_speak_end, 'E'},
        {session_action_late_mic_grant, 'M'},
    };
    EXPECT_EQ(letters.size(), 19u);
    TalkEngine &e = add_engine();
    session *s = new_session(e);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->status, SESSION_STATUS_CREATED);
    for (int state = 0; state < SESSION_STATES; state++) {
        std::istringstream row(golden[state]);
        for (int sig = 0; sig < SESSION_SIGNALS; sig++) {
            std::string want;
            row >> want;
            const session_cell &c = s->table[state * SESSION_SIGNALS + sig];
            auto letter = letters.find(c.action);
            ASSERT_NE(letter, letters.end()) << state << "," << sig;
            EXPECT_EQ(std::to_string(c.next) + letter->second, want) << state << "," << sig;
        }
    }
    destroy(e, s);
}

TEST_F(Session, AForbiddenCellResetsTheSessionUntilItCloses)
{
    TalkEngine &e = add_engine();
    struct cell {
        int status, sig;
    } forbidden[] = {
        {SESSION_STATUS_CREATED, SESSION_SIG_OSTREAM_END},
        {SESSION_STATUS_IDLE, SESSION_SIG_OSTREAM_END},
        {SESSION_STATUS_IDLE, SESSION_SIG_ISTREAM_STOP},
        {SESSION_STATUS_LISTENING, SESSION_SIG_SPEAK},
    };
    for (const cell &c : forbidden) {
        SCOPED_TRACE(std::to_string(c.status) + "," + std::to_string(c.sig));
        session *s = new_session(e);
        e.on_looper([&] {
            s->status = c.status;
            EXPECT_EQ(session_signal(s, c.sig), -1);
            EXPECT_EQ(s->status, SESSION_STATUS_RESET);
            for (int sig = 0; sig < SESSION_SIGNALS; sig++)
                EXPECT_EQ(session_signal(s, sig), -1);
            EXPECT_EQ(s->status, SESSION_STATUS_RESET);
            session_close(s);
            EXPECT_EQ(s->status, SESSION_STATUS_CREATED);
            return 0;
        });
        destroy(e, s);
    }
    // A refusal while still connecting only logs.
    session *s = new_session(e);
    e.on_looper([&] {
        s->status = SESSION_STATUS_CONNECTING;
        EXPECT_EQ(session_signal(s, SESSION_SIG_MIC_REFUSED), 0);
        EXPECT_EQ(s->status, SESSION_STATUS_CONNECTING);
        // Without an address the open fails.
        s->status = SESSION_STATUS_CREATED;
        EXPECT_EQ(session_signal(s, SESSION_SIG_OPEN), -1);
        EXPECT_EQ(s->sock, nullptr);
        return 0;
    });
    destroy(e, s);
}

TEST_F(Session, JoiningOpensTheVoiceSocketWithAPing)
{
    TalkEngine &e = add_engine();
    join(e, "dispatcher", kDispatcherPw);
    std::vector<PttServer::Received> pings;
    for (const auto &r : server.received("ptt.net.Ping")) {
        if (r.gid == 2001)
            pings.push_back(r);
    }
    ASSERT_FALSE(pings.empty());
    const Bytes header = {0x80, 0x64, 0, 0, 0, 0, 0, 0, 0x00, 0x00, 0x03, 0xE8};
    ASSERT_GE(pings[0].datagram.size(), 12u);
    EXPECT_EQ(Bytes(pings[0].datagram.begin(), pings[0].datagram.begin() + 12), header);
    const auto &ping = *reinterpret_cast<const Ptt__Net__Ping *>(pings[0].msg.get());
    EXPECT_EQ(ping.gid, 2001u);
    EXPECT_EQ(ping.uid, 1000u);
    EXPECT_GE(ping.seq, 400u);
    EXPECT_LE(ping.seq, 655u);
    e.on_looper([&] {
        session *s = sessionset_current(e.engine->sessionset);
        EXPECT_EQ(s->server_ip, htonl(INADDR_LOOPBACK));
        EXPECT_EQ(s->server_port, htons(server.voice_port(2001)));
        EXPECT_TRUE(s->is_member);
        return 0;
    });
    EXPECT_DOUBLE_EQ(session_tick_interval(2001), 0.9);
    EXPECT_DOUBLE_EQ(session_tick_interval(2002), 0.8);
}

TEST_F(Session, PressRequestsTheFloorAndReleaseGivesItBack)
{
    TalkEngine &e = add_engine();
    join(e, "dispatcher", kDispatcherPw);
    RawMember alice(server, 1, 2001);
    server.sync();
    ASSERT_EQ(e.on_looper([&] {
        int r = lirko_start_speak(e.engine);
        EXPECT_EQ(sessionset_current(e.engine->sessionset)->status, SESSION_STATUS_WAIT_MIC);
        return r;
    }),
              0);
    ASSERT_TRUE(server.wait_count("ptt.rr.RequestMic", 1));
    auto req = tcp(server, "ptt.rr.RequestMic");
    EXPECT_EQ(req[0].text, "gid: 2001 uid: 1000 payload: 101");
    sync();
    EXPECT_EQ(e.status(), SESSION_STATUS_SPEAKING);
    EXPECT_EQ(server.floor_holder(2001), 1000u);
    EXPECT_EQ(alice.udp->next().name, "ptt.push.MemberGetMic");
    EXPECT_TRUE(e.has(SLOT_START_SPEAK, "2001"));

    ASSERT_EQ(e.on_looper([&] { return lirko_stop_speak(e.engine); }), 0);
    sync();
    EXPECT_EQ(e.status(), SESSION_STATUS_IDLE);
    EXPECT_EQ(tcp(server, "ptt.rr.ReleaseMic").size(), 1u);
    EXPECT_EQ(alice.udp->next().name, "ptt.push.MemberLostMic");
    EXPECT_TRUE(e.has(SLOT_STOP_SPEAK, "2001"));
    EXPECT_EQ(tones(), (std::vector<int>{1568, 3700}));
    EXPECT_TRUE(e.calls(SLOT_ERROR).empty());
}

TEST_F(Session, TalkRequestsAreCheckedInOrder)
{
    TalkEngine &e = add_engine();
    join(e, "dispatcher", kDispatcherPw);
    auto press = [&] { return e.on_looper([&] { return lirko_start_speak(e.engine); }); };
    server.ignore("ptt.rr.RequestMic");
    ASSERT_EQ(press(), 0);
    // Waiting for the floor is neither IDLE nor LISTENING.
    EXPECT_EQ(press(), -1);
    sync();
    EXPECT_EQ(e.calls(SLOT_ERROR), std::vector<std::string>{"-43"});
    ASSERT_EQ(e.on_looper([&] { return lirko_stop_speak(e.engine); }), 0);
    EXPECT_EQ(e.status(), SESSION_STATUS_IDLE);
    // A second request within a second of the last successful one.
    advance(0.5);
    EXPECT_EQ(press(), -1);
    sync();
    EXPECT_EQ(e.calls(SLOT_ERROR), (std::vector<std::string>{"-43", "-41"}));
    advance(0.5);
    EXPECT_EQ(press(), 0);
    server.sync();
    EXPECT_EQ(tcp(server, "ptt.rr.RequestMic").size(), 2u);
}

class SessionNoAudio : public TalkFixture
{
    void edit(Directory &d) override
    {
        TalkFixture::edit(d);
        d.config.audio_enabled = false;
    }
};

TEST_F(SessionNoAudio, TalkIsRefusedWhenTheAccountMayNotTalk)
{
    TalkEngine &e = add_engine();
    join(e, "dispatcher", kDispatcherPw);
    EXPECT_EQ(e.on_looper([&] { return lirko_start_speak(e.engine); }), -1);
    sync();
    EXPECT_EQ(e.calls(SLOT_ERROR), std::vector<std::string>{"-42"});
    EXPECT_EQ(tones(), std::vector<int>{2600});
    EXPECT_EQ(server.count("ptt.rr.RequestMic"), 0u);
}

TEST_F(Session, AMemberWithAHigherRoleCannotBeTalkedOver)
{
    TalkEngine &e = add_engine();
    join(e, "alice", kAlicePw);
    RawMember dispatcher(server, 0, 2001);
    server.sync();
    dispatcher.request(2001);
    ASSERT_TRUE(wait_until([&] {
        sync();
        return e.status() == SESSION_STATUS_LISTENING;
    }));
    EXPECT_TRUE(e.has(SLOT_USER_START_SPEAK, "2001,1000"));
    EXPECT_TRUE(e.has(SLOT_START_PLAYING, "2001,1000"));
    EXPECT_EQ(e.on_looper([&] { return lirko_start_speak(e.engine); }), -1);
    sync();
    EXPECT_EQ(e.calls(SLOT_ERROR), std::vector<std::string>{"-45"});
    EXPECT_EQ(tones(), (std::vector<int>{1318, 2600}));
    EXPECT_EQ(server.count("ptt.rr.RequestMic"), 1u) << "only the dispatcher's";
    EXPECT_EQ(e.status(), SESSION_STATUS_LISTENING);
}

TEST_F(Session, RefusalAndSilenceEndTheRequest)
{
    TalkEngine &e = add_engine();
    join(e, "dispatcher", kDispatcherPw);
    server.set_mic_result(-3);
    ASSERT_EQ(e.on_looper([&] { return lirko_start_speak(e.engine); }), 0);
    ASSERT_TRUE(wait_until([&] {
        sync();
        return e.status() == SESSION_STATUS_IDLE;
    }));
    EXPECT_EQ(e.calls(SLOT_ERROR), std::vector<std::string>{"-40"});
    EXPECT_TRUE(e.has(SLOT_STOP_SPEAK, "2001"));

    // No answer at all: refused 2.0 s after the request.
    server.set_mic_result(std::nullopt);
    server.ignore("ptt.rr.RequestMic");
    advance(1.0);
    e.clear();
    ASSERT_EQ(e.on_looper([&] { return lirko_start_speak(e.engine); }), 0);
    advance(1.5);
    EXPECT_EQ(e.status(), SESSION_STATUS_WAIT_MIC);
    EXPECT_TRUE(e.calls(SLOT_ERROR).empty());
    advance(1.0);
    EXPECT_EQ(e.status(), SESSION_STATUS_IDLE);
    EXPECT_EQ(e.calls(SLOT_ERROR), std::vector<std::string>{"-46"});
    EXPECT_EQ(tones(), (std::vector<int>{1568, 2600, 1568, 2600}));
}

TEST_F(Session, LostMicWhileTalkingEndsTheTalkWithoutRelease)
{
    TalkEngine &e = add_engine();
    join(e, "dispatcher", kDispatcherPw);
    ASSERT_EQ(e.on_looper([&] { return lirko_start_speak(e.engine); }), 0);
    sync();
    ASSERT_EQ(e.status(), SESSION_STATUS_SPEAKING);
    server.preempt(2001);
    ASSERT_TRUE(wait_until([&] {
        sync();
        return e.status() == SESSION_STATUS_IDLE;
    }));
    EXPECT_EQ(server.count("ptt.rr.ReleaseMic"), 0u);
    EXPECT_TRUE(e.has(SLOT_STOP_SPEAK, "2001"));
    EXPECT_EQ(tones(), (std::vector<int>{1568, 2600}));
}

// The watcher of a request the server took back must not refuse the next
// request: with it left armed, the grant below came after a false -46.
TEST_F(Session, LostMicWhileWaitingLeavesNoWatcherBehind)
{
    TalkEngine &e = add_engine();
    join(e, "dispatcher", kDispatcherPw);
    server.ignore("ptt.rr.RequestMic");
    ASSERT_EQ(e.on_looper([&] { return lirko_start_speak(e.engine); }), 0);
    advance(1.0);
    Ptt__Push__LostMic lost = PTT__PUSH__LOST_MIC__INIT;
    lost.gid = 2001;
    server.send_to(1000, lost.base);
    ASSERT_TRUE(wait_until([&] {
        sync();
        return e.status() == SESSION_STATUS_IDLE;
    }));
    ASSERT_EQ(e.on_looper([&] { return lirko_start_speak(e.engine); }), 0);
    advance(1.5); // past the first request's 2.0 s
    EXPECT_EQ(e.status(), SESSION_STATUS_WAIT_MIC);
    Ptt__Rr__RequestMicAck ack = PTT__RR__REQUEST_MIC_ACK__INIT;
    ack.has_gid = 1;
    ack.gid = 2001;
    server.send_to(1000, ack.base);
    ASSERT_TRUE(wait_until([&] {
        sync();
        return e.status() == SESSION_STATUS_SPEAKING;
    }));
    advance(2.0);
    EXPECT_EQ(e.status(), SESSION_STATUS_SPEAKING);
    EXPECT_TRUE(e.calls(SLOT_ERROR).empty());
}

TEST_F(Session, ListeningEndsAfterTwoSecondsOfSilence)
{
    TalkEngine &e = add_engine();
    join(e, "alice", kAlicePw);
    RawMember dispatcher(server, 0, 2001);
    server.sync();
    Ptt__Push__MemberGetMic get = PTT__PUSH__MEMBER_GET_MIC__INIT;
    get.gid = 2001;
    get.uid = 1000;
    server.voice_push(2001, get.base, 1000);
    ASSERT_TRUE(wait_until([&] {
        sync();
        return e.status() == SESSION_STATUS_LISTENING;
    }));
    // The same speaker again changes nothing.
    server.voice_push(2001, get.base, 1000);
    advance(1.5);
    EXPECT_EQ(e.status(), SESSION_STATUS_LISTENING);
    EXPECT_EQ(e.calls(SLOT_USER_START_SPEAK), std::vector<std::string>{"2001,1000"});
    // A tick comes within 0.9 s of the 2.0 s mark.
    advance(1.5);
    EXPECT_EQ(e.status(), SESSION_STATUS_IDLE);
    EXPECT_EQ(e.calls(SLOT_USER_STOP_SPEAK), std::vector<std::string>{"2001,1000"});
    EXPECT_EQ(e.calls(SLOT_STOP_PLAYING), std::vector<std::string>{"2001,1000"});

    // A new speaker replacing the recorded one ends the old one first.
    e.clear();
    server.voice_push(2001, get.base, 1000);
    get.uid = 1002;
    server.voice_push(2001, get.base, 1000);
    ASSERT_TRUE(wait_until([&] {
        sync();
        return e.calls(SLOT_USER_START_SPEAK).size() == 2;
    }));
    EXPECT_EQ(e.calls(SLOT_USER_START_SPEAK), (std::vector<std::string>{"2001,1000", "2001,1002"}));
    EXPECT_EQ(e.calls(SLOT_USER_STOP_SPEAK), std::vector<std::string>{"2001,1000"});
}

TEST_F(Session, KeepAlivePingsWhenNothingArrivesAndBeatsWhenNothingIsSent)
{
    TalkEngine &e = add_engine();
    join(e, "dispatcher", kDispatcherPw);
    size_t pings = count_to("ptt.net.Ping", 2001);
    // Answered pings: one 10 s after the last answer.
    advance(11.0);
    EXPECT_EQ(count_to("ptt.net.Ping", 2001), pings + 1);
    EXPECT_EQ(count_to("ptt.net.HeartBeat", 2001), 0u);
    // Unanswered: every tick (0.9 s) once 10 s have passed.
    server.ignore("ptt.net.Ping");
    pings = count_to("ptt.net.Ping", 2001);
    advance(10.0, 0.1);
    size_t more = count_to("ptt.net.Ping", 2001) - pings;
    EXPECT_GE(more, 1u);
    advance(4.5, 0.1);
    size_t ticks = count_to("ptt.net.Ping", 2001) - pings - more;
    EXPECT_GE(ticks, 4u);
    EXPECT_LE(ticks, 6u);
    // Datagrams keep arriving but nothing is sent: a HeartBeat.
    server.ignore("ptt.net.Ping", false);
    advance(1.0, 0.1);
    for (int i = 0; i < 12; i++) {
        Ptt__Net__HeartBeat beat = PTT__NET__HEART_BEAT__INIT;
        server.voice_push(2001, beat.base);
        advance(1.0, 0.1);
    }
    auto beats = count_to("ptt.net.HeartBeat", 2001);
    EXPECT_EQ(beats, 1u);
}

// The voice path's own liveness: a voice socket that goes silent while the
// signalling link stays up posts -21 after 31 missed Pings (10 s before they
// start, then one a tick); a healthy idle session over the same time does
// not, and answers that come late but keep coming never add up to it.
TEST_F(Session, DeadVoicePathIsReportedAndOnlyConsecutiveMissesCount)
{
    TalkEngine &e = add_engine();
    join(e, "dispatcher", kDispatcherPw);
    auto udp_errors = [&] {
        size_t n = 0;
        for (const std::string &c : e.calls(SLOT_ERROR))
            n += c == "-21";
        return n;
    };
    // Healthy and idle for a minute.
    advance(60.0, 0.1);
    EXPECT_EQ(udp_errors(), 0u);
    EXPECT_TRUE(e.online());

    // Pings unanswered, but a datagram from the server every 20 s: the count
    // starts again each time.
    server.ignore("ptt.net.Ping");
    for (int i = 0; i < 6; i++) {
        advance(20.0, 0.1);
        Ptt__Net__HeartBeat beat = PTT__NET__HEART_BEAT__INIT;
        server.voice_push(2001, beat.base);
        advance(0.1, 0.1);
    }
    EXPECT_EQ(udp_errors(), 0u);
    server.ignore("ptt.net.Ping", false);
    advance(2.0, 0.1);

    // The voice socket goes silent; the signalling link is untouched.
    server.set_voice_silent(true);
    double t0 = hal_time_now();
    double reported = 0;
    for (int i = 0; i < 600 && !reported; i++) {
        advance(0.1, 0.1);
        if (udp_errors())
            reported = hal_time_now() - t0;
    }
    EXPECT_EQ(udp_errors(), 1u);
    // The last answer came up to 2 s before the silence began.
    EXPECT_GE(reported, 31.0);
    EXPECT_LE(reported, 45.0);
    RecordProperty("silence_to_error_s", std::to_string(reported));
}

// A recorder taken away while the talk is sent gives no drain report: the
// release still ends the talk with what the stream holds.
TEST_F(Session, ReleaseEndsTheTalkWhenTheRecorderIsGone)
{
    TalkEngine &e = add_engine();
    join(e, "dispatcher", kDispatcherPw);
    ASSERT_EQ(e.on_looper([&] { return lirko_start_speak(e.engine); }), 0);
    auto sending = [&] {
        return e.on_looper([&] {
            session *s = sessionset_current(e.engine->sessionset);
            return s->ostream && s->ostream->state == RTP_OSTREAM_SENDING;
        });
    };
    ASSERT_TRUE(wait_until([&] {
        advance(0.02, 0.02);
        return sending();
    }));
    e.on_looper([&] { return hal_sound_stop_record(hal_ctx_get_sound(e.engine->ctx)); });
    ASSERT_EQ(e.on_looper([&] { return lirko_stop_speak(e.engine); }), 0);
    ASSERT_TRUE(wait_until([&] {
        advance(0.02, 0.02);
        return e.status() == SESSION_STATUS_IDLE;
    }));
    EXPECT_EQ(tcp(server, "ptt.rr.ReleaseMic").size(), 1u);
    EXPECT_TRUE(e.has(SLOT_STOP_SPEAK, "2001"));
}
