// The session's media path: its UDP socket, the datagrams (signalling as
// payload type 100, voice as 101/103 and their encrypted forms 111/113), the
// keep-alive, the voice encryption state, the voice streams' owner
// callbacks and the voice files.
#include "aes.h"
#include "cache.h"
#include "dispatcher.h"
#include "evrc_packet.h"
#include "hal_ctx.h"
#include "hal_log.h"
#include "hal_looper.h"
#include "hal_sock.h"
#include "hal_sound.h"
#include "hal_string.h"
#include "hal_time.h"
#include "kvmos.h"
#include "lirko.h"
#include "lirko_events.h"
#include "lirko_record.h"
#include "lirko_records.h"
#include "list.h"
#include "post_util.h"
#include "ptt_net.pb-c.h"
#include "ptt_rr.pb-c.h"
#include "rtp_stream.h"
#include "session_internal.h"
#include "sessionset.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

enum {
    PT_SIGNALLING = 100,
    PT_AMR = 101,
    PT_EVRC = 103,
    PT_AMR_SEALED = 111,
    PT_EVRC_SEALED = 113,
};

static const size_t RTP_HEADER = 12;
static const double KEEPALIVE_AFTER = 10.0;
// Datagrams read per readable event.
#define SESSION_READS_PER_CYCLE 64
// A Ping unanswered this long counts as missed at the next tick: shorter than
// the shortest tick, far longer than any round trip a live voice path has.
static const double PING_ANSWER_WITHIN = 0.5;

static void session_on_read_packet(hal_sock *sock, void *data, int status);

// --- socket ---------------------------------------------------------------------

static void session_on_udp_connected(hal_sock *sock, void *data, int status)
{
    (void)status;
    session *s = (session *)data;
    Ptt__Net__Ping *ping =
        post_util_make_ping(s->engine, s->gid, s->myself, kvmos_make_seq(s->mos, s->factor_list));
    if (ping)
        session_send_message(s, &ping->base);
    if (!s->reader_registered && hal_sock_readable(sock, session_on_read_packet) == 0)
        s->reader_registered = 1;
    hal_looper_set_timer(s->looper, session_on_timer, session_tick_interval(s->gid), s);
}

int session_open_socket(session *s)
{
    if (!s->server_ip || !s->server_port)
        return -1;
    s->sock = hal_sock_new(hal_ctx_get_network(s->ctx), HAL_SOCK_UDP);
    s->dispatcher = dispatcher_new(s->engine);
    if (!s->sock || !s->dispatcher) {
        session_close_socket(s);
        dispatcher_destroy(&s->dispatcher);
        return -1;
    }
    hal_sock_set_data(s->sock, s);
    int r = hal_sock_connect_i(s->sock, s->server_ip, s->server_port, 0, session_on_udp_connected);
    if (r >= 0) {
        session_on_udp_connected(s->sock, s, 0);
    } else if (r != -2) {
        SESSION_LOG(s, HAL_LOG_ERROR, "session gid:%u udp connect failed: %d", s->gid, r);
        session_close_socket(s);
        dispatcher_destroy(&s->dispatcher);
        return -1;
    }
    return 0;
}

void session_close_socket(session *s)
{
    if (!s->sock)
        return;
    hal_sock_remove_readable(s->sock);
    s->reader_registered = 0;
    hal_sock_disconnect(s->sock);
    hal_sock_destroy(&s->sock);
}

static void put_header(uint8_t *out, uint8_t pt, uint32_t ssrc)
{
    memset(out, 0, RTP_HEADER);
    out[0] = 0x80;
    out[1] = pt;
    out[8] = (uint8_t)(ssrc >> 24);
    out[9] = (uint8_t)(ssrc >> 16);
    out[10] = (uint8_t)(ssrc >> 8);
    out[11] = (uint8_t)ssrc;
}

int session_send_message(session *s, const void *message)
{
    const ProtobufCMessage *msg = (const ProtobufCMessage *)message;
    int result = -1;
    uint8_t *frame = NULL;
    int32_t n = s->sock && msg ? etpacket_pack(s->codec, &frame, msg, 1) : -1;
    if (n <= 0) {
        SESSION_LOG(s, HAL_LOG_ERROR, "%s, udp send message %s,result=%d", "session_send_message",
                    msg ? msg->descriptor->name : "", n);
    } else {
        uint8_t *datagram = (uint8_t *)malloc(RTP_HEADER + (size_t)n);
        if (datagram) {
            put_header(datagram, PT_SIGNALLING, s->myself);
            memcpy(datagram + RTP_HEADER, frame, (size_t)n);
            if (hal_sock_write(s->sock, datagram, (uint32_t)(RTP_HEADER + n)) >= 0)
                result = (int)(RTP_HEADER + n);
            free(datagram);
        }
    }
    free(frame);
    s->last_send = hal_time_now();
    return result;
}

void session_send_ping(session *s)
{
    double now = hal_time_now();
    if (now - s->last_recv >= KEEPALIVE_AFTER) {
        Ptt__Net__Ping *ping = post_util_make_ping(s->engine, s->gid, s->myself,
                                                   kvmos_make_seq(s->mos, s->factor_list));
        if (ping)
            session_send_message(s, &ping->base);
        // Armed once per silence: every tick after it passes counts a miss
        // until any datagram from the server clears it.
        if (s->ping_deadline == 0)
            s->ping_deadline = now + PING_ANSWER_WITHIN;
        SESSION_LOG(s, HAL_LOG_VERBOSE, "%s send udp ping", "session_send_ping");
    } else if (now - s->last_send >= KEEPALIVE_AFTER) {
        Ptt__Net__HeartBeat beat = PTT__NET__HEART_BEAT__INIT;
        beat.has_timestamp = beat.has_gid = beat.has_uid = 1;
        beat.timestamp = (uint32_t)(uint64_t)(now * 1000.0);
        beat.gid = s->gid;
        beat.uid = s->myself;
        session_send_message(s, &beat.base);
    }
}

// IgnoreTalk, ContinueTalk and ByeGroup share one shape: {gid, uid}.
#define SEND_GID_UID(type, init)                                                                   \
    do {                                                                                           \
        type m = init;                                                                             \
        m.has_gid = m.has_uid = 1;                                                                 \
        m.gid = s->gid;                                                                            \
        m.uid = s->myself;                                                                         \
        session_send_message(s, &m.base);                                                          \
    } while (0)

void session_send_ignore_talk(session *s)
{
    SEND_GID_UID(Ptt__Rr__IgnoreTalk, PTT__RR__IGNORE_TALK__INIT);
    s->ignoring = 1;
}

void session_send_continue_talk(session *s)
{
    SEND_GID_UID(Ptt__Rr__ContinueTalk, PTT__RR__CONTINUE_TALK__INIT);
}

void session_send_bye(session *s)
{
    SEND_GID_UID(Ptt__Rr__ByeGroup, PTT__RR__BYE_GROUP__INIT);
}

void session_send_watch_group(session *s)
{
    uint32_t pt = session_payload_type(s);
    Ptt__Rr__WatchGroup w = PTT__RR__WATCH_GROUP__INIT;
    w.has_gid = w.has_uid = w.has_expect_pt = 1;
    w.gid = s->gid;
    w.uid = s->myself;
    w.expect_pt = pt;
    w.n_accept_pt = 1;
    w.accept_pt = &pt;
    session_send_message(s, &w.base);
}

// --- encryption -------------------------------------------------------------------

void session_update_encryption(session *s)
{
    s->is_encryp = 0;
    memset(s->key, 0, sizeof(s->key));
    cache *c = s->engine->cache;
    cache_user *me = cache_get_myself(c);
    uint32_t current = sessionset_current_gid(s->engine->sessionset);
    cache_group *g = current ? cache_get_group_by_gid(c, current) : NULL;
    if (me && me->has_encrypt) {
        s->is_encryp = me->encrypt_on;
        if (s->is_encryp)
            lirko_copy_text(s->key, sizeof(s->key), me->encrypt_key);
    } else {
        s->is_encryp = g && g->has_key && g->is_encrypt;
        if (s->is_encryp)
            lirko_copy_text(s->key, sizeof(s->key), g->key);
    }
    SESSION_LOG(s, HAL_LOG_VERBOSE, "%s is_encryp %d", "session_update_encryption", s->is_encryp);
    SESSION_LOG(s, HAL_LOG_VERBOSE, "%s my_self_encrypt_on %d my_self_has_encrypt %d",
                "session_update_encryption", me ? me->encrypt_on : 0, me ? me->has_encrypt : 0);
    SESSION_LOG(s, HAL_LOG_VERBOSE, "%s current_encrypt_on %d current_has_encrypt %d",
                "session_update_encryption", g ? (int)g->is_encrypt : 0, g ? g->has_key : 0);
}

// Decrypts an AES-256-ECB/PKCS#7 payload with the session key into out
// (SESSION_DATAGRAM_MAX bytes): the plain length, or -1 for a length that is
// not whole blocks or a padding byte outside 1..16.
static int session_decrypt(session *s, const uint8_t *in, uint32_t len, uint8_t *out,
                           const char *kind)
{
    memset(out, 0, SESSION_DATAGRAM_MAX);
    int pad = 0;
    if (len > 0 && len % AES_BLOCK_LEN == 0 && len <= SESSION_DATAGRAM_MAX) {
        aes_key k;
        aes_set_decrypt_key((const uint8_t *)s->key, 256, &k);
        for (uint32_t i = 0; i < len; i += AES_BLOCK_LEN)
            aes_decrypt_block(in + i, out + i, &k);
        pad = out[len - 1];
    }
    if (pad < 1 || pad > AES_BLOCK_LEN) {
        SESSION_LOG(s, HAL_LOG_ERROR, "rtpistream %s is_encryp %d padding_len error %d", kind,
                    s->is_encryp, pad);
        return -1;
    }
    SESSION_LOG(s, HAL_LOG_VERBOSE, "rtpistream %s is_encryp %d decode_len %d", kind, s->is_encryp,
                (int)len - pad);
    return (int)len - pad;
}

// --- receiving --------------------------------------------------------------------

static void write_voice(FILE *file, const uint8_t *data, uint32_t len, uint64_t *bytes)
{
    if (fwrite(data, 1, len, file) == len)
        fflush(file);
    *bytes += (uint64_t)len + 4;
}

// Takes a voice payload (its header already rewritten to the plain type) into
// the session's voice buffer; 0, or -1 when the datagram is to be dropped.
static int take_voice(session *s, rtp_header *h, const uint8_t *payload, uint32_t len, int sealed)
{
    uint8_t pt = h->mpt & 0x7F;
    const char *kind = pt == PT_AMR ? "amr" : "evrc";
    if (sealed && !s->is_encryp) {
        // Without a key there is nothing to decrypt with: ciphertext played
        // as voice is only noise.
        SESSION_LOG(s, HAL_LOG_ERROR, "rtpistream %s sealed voice in a plain session dropped",
                    kind);
        return -1;
    }
    if (!sealed && s->is_encryp && !s->plain_voice_logged) {
        // Played on purpose (keys are per user, so a group may mix users with
        // and without one), but an operator must be able to see that this
        // talk was not encrypted.
        SESSION_LOG(s, HAL_LOG_WARN,
                    "session gid:%u plain %s voice from ssrc %u in an encrypted session: played",
                    s->gid, kind, h->ssrc);
        s->plain_voice_logged = 1;
    }
    uint8_t work[SESSION_DATAGRAM_MAX];
    const uint8_t *plain = payload;
    int plain_len = (int)len;
    if (sealed) {
        plain_len = session_decrypt(s, payload, len, work, kind);
        if (plain_len < 0)
            return -1;
        plain = work;
    } else {
        SESSION_LOG(s, HAL_LOG_VERBOSE, "rtpistream %s is_encryp %d ", kind, s->is_encryp);
    }
    if (pt == PT_AMR) {
        memcpy(s->voice, plain, (size_t)plain_len);
        s->voice_len = (uint32_t)plain_len;
    } else {
        uint32_t n = evrc_packet_to_stream(plain, (uint32_t)plain_len, s->voice);
        if (n == 0)
            return -1;
        s->voice_len = n;
    }
    s->header = *h;
    s->last_voice = hal_time_now();
    return 0;
}

static void session_on_read_packet(hal_sock *sock, void *data, int status)
{
    (void)sock;
    (void)status;
    session *s = (session *)data;
    // Bounded: the poll is level-triggered, so what is left is read on the
    // next cycle, and a flood of datagrams cannot starve the looper's timers
    // (the playout tick among them) or the signalling link.
    for (int i = 0; s->sock && i < SESSION_READS_PER_CYCLE; i++) {
        int n = hal_sock_read(s->sock, s->recv_buf, sizeof(s->recv_buf));
        if (n < 0)
            break;
        if (n > SESSION_DATAGRAM_MAX) {
            SESSION_LOG(s, HAL_LOG_ERROR, "session gid:%u datagram over %d bytes dropped", s->gid,
                        SESSION_DATAGRAM_MAX);
            continue;
        }
        rtp_header *h = NULL;
        uint8_t *payload = NULL;
        uint32_t len = etpacket_unpack_rtp(s->codec, s->recv_buf, (uint32_t)n, &h, &payload);
        if (len == ETPACKET_MALFORMED || len < 1)
            continue;
        s->last_recv = hal_time_now();
        // The voice path is alive: only consecutive misses count.
        s->ping_deadline = 0;
        s->ping_expiries = 0;
        uint8_t pt = h->mpt & 0x7F;
        SESSION_LOG(s, HAL_LOG_VERBOSE,
                    "session read packet: body size=%d,ssrc=%u,paytype=%d,seq:%d full_duplex %d",
                    (int)len, h->ssrc, pt, h->seq, s->full_duplex);
        int sealed = pt == PT_AMR_SEALED || pt == PT_EVRC_SEALED;
        if (sealed) {
            pt = pt == PT_AMR_SEALED ? PT_AMR : PT_EVRC;
            h->mpt = (uint8_t)((h->mpt & 0x80) | pt);
        }
        if (pt == PT_SIGNALLING) {
            ProtobufCMessage *msg = NULL;
            uint32_t r = etpacket_unpack(s->codec, payload, len, &msg);
            if (r >= 1 && r != ETPACKET_MALFORMED && msg)
                dispatcher_deliver(s->dispatcher, msg);
            if (msg)
                protobuf_c_message_free_unpacked(msg, NULL);
            continue;
        }
        if (pt != PT_AMR && pt != PT_EVRC)
            continue;
        if (take_voice(s, h, payload, len, sealed) != 0)
            continue;
        if (session_recording(s)) {
            if (s->listen_file)
                write_voice(s->listen_file, s->voice, s->voice_len, &s->listen_bytes);
            // A half-duplex talk that is not being played is only recorded;
            // a full-duplex session plays in every state.
            if (!s->full_duplex && s->status != SESSION_STATUS_LISTENING)
                continue;
        }
        if (s->full_duplex) {
            if (s->istream)
                rtp_istream_put(s->istream, &s->header, s->voice, s->voice_len);
        } else {
            session_signal(s, SESSION_SIG_VOICE_PACKET);
        }
    }
}

// --- voice streams ------------------------------------------------------------------

// One frame buffer as the receive stream hands frames out: the frame header
// and up to 60 bytes of data.
typedef struct session_frame_buf {
    alignas(4) uint8_t bytes[64];
} session_frame_buf;

uint32_t session_flush_istream(session *s)
{
    session_frame_buf buf;
    hal_sound_frame *f = (hal_sound_frame *)buf.bytes;
    uint32_t n = 0;
    while (s->istream && rtp_istream_pop_frame(s->istream, f) == 1) {
        hal_sound_write_frame(s->sound, f);
        n++;
    }
    return n;
}

void session_on_istream_stop(void *stream, uint32_t event, void *owner)
{
    session *s = (session *)owner;
    if (event == RTP_ISTREAM_EVENT_FRAMES) {
        session_frame_buf buf;
        hal_sound_frame *f = (hal_sound_frame *)buf.bytes;
        if (rtp_istream_pop_frame((rtp_istream *)stream, f) == 1)
            hal_sound_write_frame(s->sound, f);
    } else if (event == RTP_ISTREAM_EVENT_DRAINED) {
        uint32_t n = session_flush_istream(s);
        SESSION_LOG(s, HAL_LOG_DEBUG, "istream stop,async stop play with append %u frames", n);
    }
}

int session_ostream_sending(const session *s)
{
    return s->ostream && s->ostream->state == RTP_OSTREAM_SENDING;
}

void session_ostream_drain(session *s, hal_sound_frame **frames, uint32_t count)
{
    rtp_ostream *o = s->ostream;
    if (!o || o->state == RTP_OSTREAM_DRAINING)
        return;
    o->state = RTP_OSTREAM_DRAINING;
    for (uint32_t i = 0; frames && i < count; i++) {
        hal_sound_frame *copy = rtp_frame_copy(frames[i]);
        if (copy && list_push_back(o->frames, copy) != 0)
            hal_free(copy);
    }
}

// The voice of a sent packet as the speak file keeps it: EVRC as frame
// records, AMR-NB as sent; an encrypted packet is decrypted first so the
// file holds voice, not ciphertext.
static void record_sent_packet(session *s, const uint8_t *packet, uint32_t len)
{
    if (len <= RTP_HEADER)
        return;
    uint8_t pt = packet[1] & 0x7F;
    const uint8_t *payload = packet + RTP_HEADER;
    int plain_len = (int)(len - RTP_HEADER);
    uint8_t work[SESSION_DATAGRAM_MAX];
    if (pt == PT_AMR_SEALED || pt == PT_EVRC_SEALED) {
        plain_len = session_decrypt(s, payload, (uint32_t)plain_len, work, "speak");
        if (plain_len < 0)
            return;
        payload = work;
        pt = pt == PT_AMR_SEALED ? PT_AMR : PT_EVRC;
    }
    if (pt == PT_EVRC) {
        uint8_t stream[EVRC_STREAM_CAPACITY];
        uint32_t n = evrc_packet_to_stream(payload, (uint32_t)plain_len, stream);
        if (n)
            write_voice(s->speak_file, stream, n, &s->speak_bytes);
    } else {
        write_voice(s->speak_file, payload, (uint32_t)plain_len, &s->speak_bytes);
    }
}

void session_on_ostream_notify(void *os, uint32_t event, void *owner)
{
    session *s = (session *)owner;
    rtp_ostream *stream = (rtp_ostream *)os;
    if (event == RTP_OSTREAM_EVENT_START) {
        SESSION_LOG(s, HAL_LOG_VERBOSE, "ostream start");
    } else if (event == RTP_OSTREAM_EVENT_DRAINED) {
        SESSION_LOG(s, HAL_LOG_VERBOSE, "ostream stop");
        session_signal(s, SESSION_SIG_OSTREAM_END);
    } else if (event == RTP_OSTREAM_EVENT_PACKET) {
        uint32_t len = (uint32_t)stream->last_len;
        stream->last_len = 0;
        if (!len || !s->sock)
            return;
        int r = hal_sock_write(s->sock, stream->packet, len);
        SESSION_LOG(s, HAL_LOG_VERBOSE, "session_on_ostream_notify send audio size:%d", (int)len);
        if (r >= 1 && session_recording(s) && s->speak_file)
            record_sent_packet(s, stream->packet, len);
        s->last_send = hal_time_now();
        if (r < 1)
            SESSION_LOG(s, HAL_LOG_ERROR, "send packet error: %d", r);
    }
}

// --- voice files ----------------------------------------------------------------------

#define RECORD_EVENT_SIZE 201

static void free_payload(hal_looper_event *event)
{
    free(event->payload);
}

static void post_record_event(session *s, const char *word, uint32_t uid, const char *name,
                              uint8_t flag)
{
    uint8_t *block = (uint8_t *)calloc(1, RECORD_EVENT_SIZE);
    if (!block)
        return;
    lirko_copy_text((char *)block, 100, name);
    hal_walltime t = {};
    hal_walltime_now(&t);
    snprintf((char *)block + 100, 100, "%d-%d-%d %d:%d:%d.%d", t.year, t.month, t.day, t.hour,
             t.minute, t.second, t.millisecond);
    block[200] = flag;
    lirko_event_post_data(s->engine, word, (int32_t)s->gid, (int32_t)uid, 0, block, free_payload);
}

static int open_voice_file(session *s, uint32_t uid, char *path, char *name, FILE **file,
                           uint64_t *bytes)
{
    if (!session_recording(s))
        return -1;
    hal_walltime t = {};
    hal_walltime_now(&t);
    snprintf(name, SESSION_NAME_SIZE, "%d_%d_%d_%d_%d_%d_%d_%d_%d.%s", t.year, t.month, t.day,
             t.hour, t.minute, t.second, t.millisecond, (int)s->gid, (int)uid,
             session_payload_type(s) == PT_EVRC ? "evrc" : "amr");
    snprintf(path, SESSION_PATH_SIZE, "%s/%s", lirko_record_get_recordpath(s->engine), name);
    *file = fopen(path, "wb+");
    *bytes = 0;
    if (!*file) {
        SESSION_LOG(s, HAL_LOG_ERROR, "voice file %s can not be made", path);
        return 0;
    }
    post_record_event(s, "start_record_voice", uid, name, 1);
    return 0;
}

static void close_voice_file(session *s, uint32_t uid, const char *path, const char *name,
                             FILE **file, uint64_t bytes)
{
    if (!*file)
        return;
    fclose(*file);
    *file = NULL;
    post_record_event(s, "stop_record_voice", uid, name, bytes != 0);
    if (bytes == 0)
        remove(path);
}

int session_open_listen_file(session *s)
{
    if (!session_recording(s))
        return -1;
    session_close_listen_file(s);
    return open_voice_file(s, s->speaker, s->listen_path, s->listen_name, &s->listen_file,
                           &s->listen_bytes);
}

int session_open_speak_file(session *s)
{
    if (!session_recording(s))
        return -1;
    session_close_speak_file(s);
    return open_voice_file(s, s->myself, s->speak_path, s->speak_name, &s->speak_file,
                           &s->speak_bytes);
}

void session_close_listen_file(session *s)
{
    close_voice_file(s, s->speaker, s->listen_path, s->listen_name, &s->listen_file,
                     s->listen_bytes);
}

void session_close_speak_file(session *s)
{
    close_voice_file(s, s->myself, s->speak_path, s->speak_name, &s->speak_file, s->speak_bytes);
}
