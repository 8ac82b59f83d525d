// A voice session: the engine's talk state for one group. It owns the
// group's UDP voice socket (signalling as payload type 100 and the RTP voice
// both ways), follows who holds the floor, plays the speaker's voice,
// requests and releases the floor for the own user and reports every change
// as a named engine event. The session set makes one for the joined group
// and one per watched group; each runs a state machine of 7 states by 14
// signals whose cells it copies at creation. Looper thread only; the session
// set owns every session.
#ifndef SESSION_H
#define SESSION_H

#include "etpacket.h"

#include <stdint.h>
#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct lirko_t lirko_t;
typedef struct hal_ctx hal_ctx;
typedef struct hal_log hal_log;
typedef struct hal_looper hal_looper;
typedef struct hal_sock hal_sock;
typedef struct hal_sound hal_sound;
typedef struct connection_t connection_t;
typedef struct dispatcher_t dispatcher_t;
typedef struct focus_manager_t focus_manager_t;
typedef struct kvmos kvmos;
typedef struct kvmos_factor_list kvmos_factor_list;
typedef struct rtp_istream rtp_istream;
typedef struct rtp_ostream rtp_ostream;

typedef enum session_status {
    SESSION_STATUS_CREATED = 0,
    SESSION_STATUS_CONNECTING = 1,
    SESSION_STATUS_IDLE = 2,
    SESSION_STATUS_LISTENING = 3,
    SESSION_STATUS_WAIT_MIC = 4,
    SESSION_STATUS_SPEAKING = 5,
    SESSION_STATUS_STOPPING = 6,
    SESSION_STATUS_RESET = 8,
} session_status;

typedef enum session_sig {
    SESSION_SIG_OPEN = 0,
    SESSION_SIG_PONG = 1,
    SESSION_SIG_MEMBER_GET_MIC = 2,
    SESSION_SIG_MEMBER_LOST_MIC = 3,
    SESSION_SIG_ISTREAM_START = 4,
    SESSION_SIG_ISTREAM_STOP = 5,
    SESSION_SIG_VOICE_PACKET = 6,
    SESSION_SIG_SPEAK = 7,
    SESSION_SIG_STOP_SPEAK = 8,
    SESSION_SIG_SPEAK_FOCUS_LOST = 9,
    SESSION_SIG_MIC_GRANTED = 10,
    SESSION_SIG_MIC_REFUSED = 11,
    SESSION_SIG_LOST_MIC = 12,
    SESSION_SIG_OSTREAM_END = 13,
} session_sig;

#define SESSION_STATES 7
#define SESSION_SIGNALS 14
#define SESSION_DATAGRAM_MAX 512
#define SESSION_KEY_SIZE 64
#define SESSION_PATH_SIZE 256
#define SESSION_NAME_SIZE 100

typedef struct session session;
// An action runs after the status has moved to the cell's next state; it
// gets the state the signal arrived in.
typedef int (*session_action_fn)(session *s, int32_t old_status, int32_t sig);

typedef struct session_cell {
    int32_t next;
    session_action_fn action;
} session_cell;

struct session {
    int32_t status;
    session_cell table[SESSION_STATES * SESSION_SIGNALS];
    uint32_t myself; // own uid, also the SSRC of the sent voice
    uint32_t gid;
    uint32_t server_ip;   // network order
    uint16_t server_port; // network order
    int32_t prior;
    lirko_t *engine;
    const etpacket *codec;
    connection_t *connection;
    focus_manager_t *focus;
    hal_ctx *ctx;
    hal_log *log;
    hal_looper *looper;
    hal_sound *sound;
    hal_sock *sock;           // owned
    dispatcher_t *dispatcher; // owned: signalling received over UDP
    rtp_istream *istream;     // owned
    rtp_ostream *ostream;     // owned
    double last_recv;
    double last_send;
    double last_voice;
    double mic_granted; // 0: not granted
    double watch_ack;
    double last_speak_request;
    double ping_deadline; // 0: unarmed
    uint64_t ping_expiries;
    uint32_t speaker; // 0: nobody
    uint8_t is_member;
    uint8_t is_watcher;
    uint8_t ignoring;
    uint8_t playing;
    // Plain voice in this encrypted session has been logged for this talk.
    uint8_t plain_voice_logged;
    uint8_t talking;
    uint32_t voice_len;
    uint8_t voice[SESSION_DATAGRAM_MAX];
    rtp_header header; // of the last voice datagram, in host order
    // One byte more than a datagram may hold: a longer one shows up as too
    // long instead of arriving cut.
    uint8_t recv_buf[SESSION_DATAGRAM_MAX + 1];
    kvmos *mos;
    kvmos_factor_list *factor_list;
    char listen_path[SESSION_PATH_SIZE];
    char listen_name[SESSION_NAME_SIZE];
    char speak_path[SESSION_PATH_SIZE];
    char speak_name[SESSION_NAME_SIZE];
    FILE *listen_file;
    FILE *speak_file;
    uint8_t talk_requested;
    uint64_t listen_bytes;
    uint64_t speak_bytes;
    uint8_t is_encryp;
    char key[SESSION_KEY_SIZE]; // terminated, zero-filled after its end
    uint8_t full_duplex;
    // An asynchronous record stop waits for its hook, which points here.
    uint8_t record_draining;
    uint8_t reader_registered;
};

// Copies the table, keeps the ids (ip and port already in network order)
// and the engine's modules, makes the factor list and reads the group's
// full-duplex flag from the directory. NULL when memory runs out.
session *session_new(lirko_t *engine, uint32_t myself, uint32_t gid, uint32_t server_ip,
                     uint16_t server_port, int32_t prior, kvmos *mos);
// Stops watching, leaves as member, removes the factor list, frees the
// record and clears the handle; NULL or a handle holding NULL: nothing.
void session_destroy(session **s);

// Runs the cell of (status, signal): the action's result, -1 in RESET.
int session_signal(session *s, int32_t sig);
// The own user presses talk: the checks in order, each refusal -1.
int session_speak(session *s);
// -1 unless waiting for or holding the floor.
int session_stop_speak(session *s);
// Leave as member: -1 when not a member.
int session_full_duplex_stop_active(session *s);
// Stop watching: -1 when not a watcher.
int session_send_bye_group(session *s);
// Back to CREATED: handlers, streams, focus entries, timers, socket.
void session_close(session *s);
// 1 while the own user waits for, holds or is releasing the floor.
int session_is_talking(const session *s);
// Posts the stop callbacks of what the session is doing (own talk, a member's
// talk being played) for a reset that is about to end it; nothing else.
void session_post_reset_stops(session *s);

// The UDP keep-alive of one tick: Ping after 10 s without receiving,
// HeartBeat after 10 s without sending.
void session_send_ping(session *s);
// One signalling message as a payload type 100 datagram; its length or -1.
int session_send_message(session *s, const void *message);
// Recomputes is_encryp and key: the own user's setting first, else the
// current group's.
void session_update_encryption(session *s);

// The owner callbacks the voice streams report to (declared with the
// streams, rtp_stream.h): session_on_istream_stop and
// session_on_ostream_notify.

// The actions of the table.
int session_action_none(session *s, int32_t old_status, int32_t sig);
int session_action_reset(session *s, int32_t old_status, int32_t sig);
int session_action_connect(session *s, int32_t old_status, int32_t sig);
int session_action_connecting_2_idle(session *s, int32_t old_status, int32_t sig);
int session_action_on_member_get_mic(session *s, int32_t old_status, int32_t sig);
int session_action_member_lost_mic(session *s, int32_t old_status, int32_t sig);
int session_action_start_playing(session *s, int32_t old_status, int32_t sig);
int session_action_stop_playing(session *s, int32_t old_status, int32_t sig);
int session_action_put_voice(session *s, int32_t old_status, int32_t sig);
int session_action_voice_while_idle(session *s, int32_t old_status, int32_t sig);
int session_action_2_wait_mic(session *s, int32_t old_status, int32_t sig);
int session_action_wait_mic_2_speak(session *s, int32_t old_status, int32_t sig);
int session_action_request_mic_ack(session *s, int32_t old_status, int32_t sig);
int session_action_speak_refuse_mic(session *s, int32_t old_status, int32_t sig);
int session_action_speak_lost_mic(session *s, int32_t old_status, int32_t sig);
int session_action_speak_focus_lost(session *s, int32_t old_status, int32_t sig);
int session_action_stop_speak(session *s, int32_t old_status, int32_t sig);
int session_action_speak_end(session *s, int32_t old_status, int32_t sig);
int session_action_late_mic_grant(session *s, int32_t old_status, int32_t sig);

// Timer and timeout callbacks, exposed for tests.
void session_on_timer(hal_looper *looper, double now, void *s);
void session_full_duplex_on_active_timer(hal_looper *looper, double now, void *s);
void session_on_request_mic_timeout(connection_t *conn, const char *ack_name, void *s);
// The tick interval of a group: 0.8 s for even gids, 0.9 s for odd ones.
double session_tick_interval(uint32_t gid);

#ifdef __cplusplus
}
#endif

#endif
