// Bare clients of the test server: blocking TCP with frames read whole, and
// a UDP client of a group's voice socket that speaks the RTP-wrapped
// datagrams.
#pragma once

#include "ptt_net.pb-c.h"
#include "ptt_rr.pb-c.h"
#include "ptt_server.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace ptt::test
{

// A bare client of the server: blocking TCP, frames read whole.
class RawClient
{
  public:
    explicit RawClient(uint16_t port)
    {
        fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(port);
        connected = connect(fd, (sockaddr *)&a, sizeof(a)) == 0;
    }
    ~RawClient()
    {
        close(fd);
    }
    void send(const ProtobufCMessage &msg)
    {
        Bytes f = pack_frame(msg, false, true);
        ASSERT_EQ(::send(fd, f.data(), f.size(), 0), (ssize_t)f.size());
    }
    // The next frame, or an empty name once the server closed.
    Frame next()
    {
        Frame f;
        for (;;) {
            if (take_frame(buf, false, f) == 1) {
                return f;
            }
            pollfd p = {fd, POLLIN, 0};
            if (poll(&p, 1, 5000) != 1) {
                return Frame{};
            }
            uint8_t chunk[4096];
            ssize_t n = recv(fd, chunk, sizeof(chunk), 0);
            if (n <= 0) {
                return Frame{};
            }
            buf.insert(buf.end(), chunk, chunk + n);
        }
    }
    int fd = -1;
    bool connected = false;
    Bytes buf;
};

// One member's UDP socket towards a group's voice port.
class VoiceClient
{
  public:
    VoiceClient(uint16_t port, uint32_t uid) : uid(uid)
    {
        fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(port);
        connected = connect(fd, (sockaddr *)&a, sizeof(a)) == 0;
    }
    ~VoiceClient()
    {
        close(fd);
    }
    static Bytes header(uint8_t pt, uint16_t seq, uint32_t ts, uint32_t ssrc)
    {
        return {0x80,
                pt,
                (uint8_t)(seq >> 8),
                (uint8_t)seq,
                (uint8_t)(ts >> 24),
                (uint8_t)(ts >> 16),
                (uint8_t)(ts >> 8),
                (uint8_t)ts,
                (uint8_t)(ssrc >> 24),
                (uint8_t)(ssrc >> 16),
                (uint8_t)(ssrc >> 8),
                (uint8_t)ssrc};
    }
    void send_raw(const Bytes &datagram)
    {
        ASSERT_EQ(::send(fd, datagram.data(), datagram.size(), 0), (ssize_t)datagram.size());
    }
    // A signalling message as payload type 100.
    void send(const ProtobufCMessage &msg)
    {
        Bytes d = header(100, 0, 0, uid);
        Bytes f = pack_frame(msg, false, true);
        d.insert(d.end(), f.begin(), f.end());
        send_raw(d);
    }
    // The next datagram within timeout_ms, or an empty one.
    Bytes next_raw(int timeout_ms = 5000)
    {
        pollfd p = {fd, POLLIN, 0};
        if (poll(&p, 1, timeout_ms) != 1) {
            return {};
        }
        uint8_t buf[2048];
        ssize_t n = recv(fd, buf, sizeof(buf), 0);
        return n > 0 ? Bytes(buf, buf + n) : Bytes{};
    }
    // The next payload type 100 datagram's message (voice is skipped).
    Frame next(int timeout_ms = 5000)
    {
        for (;;) {
            Bytes d = next_raw(timeout_ms);
            if (d.size() < 12) {
                return Frame{};
            }
            if ((d[1] & 0x7F) != 100) {
                continue;
            }
            Bytes body(d.begin() + 12, d.end());
            Frame f;
            if (take_frame(body, false, f) == 1) {
                return f;
            }
        }
    }
    int fd = -1;
    uint32_t uid = 0;
    bool connected = false;
};

// The password digests and accounts of the shipped fixture's users.
inline const char *kRawPasswords[] = {"EFE0EF527057A704259299FD98908DFA",
                                      "5F807E1813957BD22B735FDD1349A961",
                                      "213D93900663F8ED32FF1474B29EA738"};
inline const char *kRawAccounts[] = {"dispatcher", "alice", "bob"};

template <typename T> const T &as(const Frame &f)
{
    return *reinterpret_cast<const T *>(f.msg.get());
}

// One logged-in member (index 0 dispatcher, 1 alice, 2 bob) with its TCP
// link, joined to one group, and its voice socket of that group.
struct RawMember {
    uint32_t uid;
    std::unique_ptr<RawClient> tcp;
    std::unique_ptr<VoiceClient> udp;

    RawMember(PttServer &server, int index, uint32_t gid) : uid(1000 + index)
    {
        tcp = std::make_unique<RawClient>(server.tcp_port());
        Ptt__Rr__Login login = PTT__RR__LOGIN__INIT;
        login.account = (char *)kRawAccounts[index];
        login.password = (char *)kRawPasswords[index];
        tcp->send(login.base);
        EXPECT_EQ(tcp->next().name, "ptt.rr.LoginAck");
        Ptt__Rr__JoinGroup join = PTT__RR__JOIN_GROUP__INIT;
        join.gid = gid;
        join.has_uid = 1;
        join.uid = uid;
        tcp->send(join.base);
        EXPECT_EQ(tcp->next().name, "ptt.rr.JoinGroupAck");
        udp = std::make_unique<VoiceClient>(server.voice_port(gid), uid);
        // Any datagram teaches the server the address.
        Ptt__Net__HeartBeat beat = PTT__NET__HEART_BEAT__INIT;
        udp->send(beat.base);
    }
    void request(uint32_t gid, const char *type = "ptt.rr.RequestMic")
    {
        Ptt__Rr__RequestMic req = PTT__RR__REQUEST_MIC__INIT;
        req.has_gid = req.has_uid = 1;
        req.gid = gid;
        req.uid = uid;
        if (std::string(type) == "ptt.rr.RequestMic") {
            tcp->send(req.base);
        } else {
            Ptt__Rr__ReleaseMic rel = PTT__RR__RELEASE_MIC__INIT;
            rel.has_gid = rel.has_uid = 1;
            rel.gid = gid;
            rel.uid = uid;
            tcp->send(rel.base);
        }
    }
    Bytes voice(uint16_t seq)
    {
        Bytes d = VoiceClient::header(101, seq, seq * 800u, uid);
        d.push_back(0x3C);
        d.push_back((uint8_t)seq);
        udp->send_raw(d);
        return d;
    }
};

} // namespace ptt::test
