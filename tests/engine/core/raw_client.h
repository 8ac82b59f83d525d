// Bare clients of the test server: blocking TCP with frames read whole, and
// a UDP client of a group's voice socket that speaks the RTP-wrapped
// datagrams.
#pragma once

#include "ptt_server.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
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

} // namespace ptt::test
