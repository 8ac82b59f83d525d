// Fuzzes a talk session's receive path from the UDP datagram on: the RTP
// header, signalling (payload type 100) through the session's dispatcher,
// voice (101, 103) and sealed voice (111, 113) through decryption, the
// receive stream's sequence rules and jitter buffer, to the frames the sound
// queue decodes. The platform is the deterministic stage (stage.h): the
// datagrams reach the session's own socket reader, time moves only when the
// input says so.
//
// Input: a mode byte, then operations. Mode bit 0: the session holds a voice
// key; bit 1: a full-duplex group (the receive stream plays in every state);
// bit 2: the own user's codec is AMR-NB (else EVRC). Each operation starts
// with a byte b: b % 4 == 0, a datagram of the next byte's length as it
// stands; 1, the same but its payload (behind the 12 header bytes) sealed
// with the session's key first, so sealed voice gets past decryption;
// 2, time moves (b / 4) * 10 ms; 3, a datagram of a 16-bit big-endian length.
#include "aes.h"
#include "hal_ini.h"
#include "lirko.h"
#include "session.h"
#include "stage.h"

#include <stdint.h>
#include <string.h>
#include <vector>

namespace
{

const char k_key[] = "fuzz-voice-key-0123456789abcdef!";
const uint32_t k_myself = 1001;
const uint32_t k_gid = 2002;
const uint32_t k_speaker = 3003;

void check(bool ok)
{
    if (!ok)
        __builtin_trap();
}

struct reader {
    const uint8_t *p;
    size_t left;
    bool take(size_t n, const uint8_t **out)
    {
        if (n > left)
            return false;
        *out = p;
        p += n;
        left -= n;
        return true;
    }
};

void deliver(const uint8_t *data, size_t len, bool seal, const session *s)
{
    hal_sock *sock = stage_udp_reader();
    if (!sock)
        return;
    if (!seal || len < 12) {
        stage_deliver(sock, data, (uint32_t)len);
        return;
    }
    std::vector<uint8_t> d(12 + len + 16);
    memcpy(d.data(), data, 12);
    int n =
        aes_ecb_encrypt_pkcs7(data + 12, (int)(len - 12), d.data() + 12, (const uint8_t *)s->key);
    if (n < 0)
        return;
    stage_deliver(sock, d.data(), (uint32_t)(12 + n));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    lirko_t *engine = stage_engine();
    if (size < 1)
        return 0;
    uint8_t mode = data[0];
    reader in{data + 1, size - 1};
    hal_ini_replace(engine->ini, "record", "codec", (mode & 4) ? "101" : "103");

    session *s = session_new(engine, k_myself, k_gid, 0x0100007f, 0x3930, 0, NULL);
    if (!s)
        return 0;
    s->full_duplex = (mode & 2) != 0;
    // Opened, answered, and (half duplex) a member holds the floor: the
    // session listens.
    session_signal(s, SESSION_SIG_OPEN);
    session_signal(s, SESSION_SIG_PONG);
    if (!s->full_duplex) {
        s->speaker = k_speaker;
        session_signal(s, SESSION_SIG_MEMBER_GET_MIC);
    }
    if (mode & 1) {
        s->is_encryp = 1;
        memset(s->key, 0, sizeof(s->key));
        memcpy(s->key, k_key, sizeof(k_key) - 1);
    }
    stage_cycle(engine->looper);

    const uint8_t *b;
    while (in.take(1, &b)) {
        uint8_t op = *b;
        const uint8_t *len_bytes;
        const uint8_t *body;
        size_t len = 0;
        switch (op % 4) {
        case 0:
        case 1:
            if (!in.take(1, &len_bytes))
                break;
            len = len_bytes[0];
            if (in.take(len, &body))
                deliver(body, len, op % 4 == 1, s);
            break;
        case 2:
            stage_advance(engine->looper, (uint64_t)(op / 4) * 10);
            break;
        case 3:
            if (!in.take(2, &len_bytes))
                break;
            len = (size_t)len_bytes[0] << 8 | len_bytes[1];
            if (in.take(len, &body))
                deliver(body, len, false, s);
            break;
        }
        stage_cycle(engine->looper);
    }
    // Whatever arrived plays out, then the session goes.
    stage_advance(engine->looper, 1000);
    session_destroy(&s);
    stage_advance(engine->looper, 100);
    check(stage_frames_oversized() == 0);
    return 0;
}
