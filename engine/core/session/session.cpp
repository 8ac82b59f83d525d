// The voice session's state machine: the table, the checks of a talk
// request, the actions, the timers and the floor messages.
#include "broadcast.h"
#include "cache.h"
#include "connection.h"
#include "dispatcher.h"
#include "focus_manager.h"
#include "hal_ctx.h"
#include "hal_log.h"
#include "hal_looper.h"
#include "hal_sound.h"
#include "hal_time.h"
#include "kvmos.h"
#include "lirko.h"
#include "lirko_events.h"
#include "lirko_record.h"
#include "ptt_net.pb-c.h"
#include "ptt_push.pb-c.h"
#include "ptt_rr.pb-c.h"
#include "rtp_stream.h"
#include "session_internal.h"
#include "sessionset.h"

#include <stddef.h>
#include <stdlib.h>
#include <string.h>

#define N session_action_none
#define X session_action_reset
#define A session_action_connect
#define I session_action_connecting_2_idle
#define G session_action_on_member_get_mic
#define L session_action_member_lost_mic
#define P session_action_start_playing
#define S session_action_stop_playing
#define U session_action_put_voice
#define V session_action_voice_while_idle
#define W session_action_2_wait_mic
#define K session_action_wait_mic_2_speak
#define Q session_action_request_mic_ack
#define R session_action_speak_refuse_mic
#define T session_action_speak_lost_mic
#define F session_action_speak_focus_lost
#define O session_action_stop_speak
#define E session_action_speak_end
#define M session_action_late_mic_grant

// Rows: CREATED, CONNECTING, IDLE, LISTENING, WAIT_MIC, SPEAKING, STOPPING.
// Columns: OPEN, PONG, GET_MIC, MEMBER_LOST_MIC, ISTREAM_START, ISTREAM_STOP,
// VOICE, SPEAK, STOP_SPEAK, FOCUS_LOST, GRANTED, REFUSED, LOST_MIC, OS_END.
static const session_cell TABLE[SESSION_STATES * SESSION_SIGNALS] = {
    {1, A}, {0, N}, {0, N}, {0, N}, {0, N}, {0, N}, {0, N}, {0, N}, {0, N}, {0, N}, {0, N},
    {0, N}, {0, N}, {8, X}, {1, N}, {2, I}, {1, N}, {1, N}, {1, N}, {1, N}, {1, N}, {1, N},
    {1, N}, {1, N}, {1, N}, {1, N}, {1, N}, {8, X}, {2, N}, {2, N}, {2, G}, {2, L}, {3, P},
    {8, X}, {2, V}, {4, W}, {8, X}, {8, X}, {2, M}, {2, N}, {2, N}, {8, X}, {3, N}, {3, N},
    {3, N}, {2, L}, {8, X}, {2, S}, {3, U}, {8, X}, {8, X}, {8, X}, {3, M}, {3, N}, {3, N},
    {8, X}, {4, N}, {4, N}, {4, G}, {4, L}, {8, X}, {8, X}, {4, V}, {8, X}, {2, Q}, {2, Q},
    {5, K}, {2, R}, {2, T}, {8, X}, {5, N}, {5, N}, {5, G}, {5, L}, {8, X}, {8, X}, {5, V},
    {8, X}, {6, O}, {2, F}, {5, N}, {2, R}, {2, T}, {8, X}, {6, N}, {6, N}, {6, G}, {6, L},
    {8, X}, {8, X}, {6, V}, {8, X}, {2, E}, {2, F}, {6, N}, {2, R}, {2, T}, {2, E},
};

#undef N
#undef X
#undef A
#undef I
#undef G
#undef L
#undef P
#undef S
#undef U
#undef V
#undef W
#undef K
#undef Q
#undef R
#undef T
#undef F
#undef O
#undef E
#undef M

static const char *REQUEST_MIC_ACK = "ptt.rr.RequestMicAck";
static const double REQUEST_MIC_TIMEOUT = 2.0;
static const double FULL_DUPLEX_WATCHDOG = 0.5;

static void session_on_msg_pong(const ProtobufCMessage *msg, void *arg, dispatcher_handler *h);
static void session_on_msg_heartbeat(const ProtobufCMessage *msg, void *arg, dispatcher_handler *h);
static void session_on_msg_memgetmic(const ProtobufCMessage *msg, void *arg, dispatcher_handler *h);
static void session_on_msg_memlostmic(const ProtobufCMessage *msg, void *arg,
                                      dispatcher_handler *h);
static void session_on_msg_watchack(const ProtobufCMessage *msg, void *arg, dispatcher_handler *h);
static void session_on_msg_requestmic(const ProtobufCMessage *msg, void *arg,
                                      dispatcher_handler *h);
static void session_on_msg_lostmic(const ProtobufCMessage *msg, void *arg, dispatcher_handler *h);

struct session_handler_row {
    const char *name;
    dispatcher_fn fn;
    int tcp; // on the connection's dispatcher, else on the session's own
};

static const session_handler_row HANDLERS[] = {
    {"ptt.net.Pong", session_on_msg_pong, 0},
    {"ptt.net.HeartBeat", session_on_msg_heartbeat, 0},
    {"ptt.push.MemberGetMic", session_on_msg_memgetmic, 0},
    {"ptt.push.MemberLostMic", session_on_msg_memlostmic, 0},
    {"ptt.rr.WatchGroupAck", session_on_msg_watchack, 0},
    {"ptt.rr.RequestMicAck", session_on_msg_requestmic, 1},
    {"ptt.push.LostMic", session_on_msg_lostmic, 1},
};

// --- small helpers ------------------------------------------------------------

void session_tone(session *s, enum session_tone tone)
{
    (void)hal_sound_play_tone(s->sound, (uint32_t)tone);
}

void session_post_error(session *s, int32_t code)
{
    lirko_event_post(s->engine, "notify_error", code, 0);
}

void session_post(session *s, const char *word, uint32_t uid)
{
    lirko_event_post(s->engine, word, (int32_t)s->gid, (int32_t)uid);
}

int session_recording(const session *s)
{
    return lirko_record_get_enabled(s->engine) != 0;
}

uint32_t session_payload_type(const session *s)
{
    return lirko_voice_payload_type(s->engine);
}

// The session whose stream handle field is at owner.
static session *owner_of_istream(void *owner)
{
    return (session *)((char *)owner - offsetof(session, istream));
}

static session *owner_of_ostream(void *owner)
{
    return (session *)((char *)owner - offsetof(session, ostream));
}

static void cancel_mic_watcher(session *s)
{
    connection_cancel_watcher(s->connection, REQUEST_MIC_ACK, session_on_request_mic_timeout, s);
}

double session_tick_interval(uint32_t gid)
{
    return 0.8 + (double)((uint32_t)(gid * 100u) % 200u) / 1000.0;
}

// --- life -------------------------------------------------------------------

session *session_new(lirko_t *engine, uint32_t myself, uint32_t gid, uint32_t server_ip,
                     uint16_t server_port, int32_t prior, kvmos *mos)
{
    if (!engine)
        return NULL;
    session *s = (session *)calloc(1, sizeof(*s));
    if (!s)
        return NULL;
    s->status = SESSION_STATUS_CREATED;
    memcpy(s->table, TABLE, sizeof(TABLE));
    s->myself = myself;
    s->gid = gid;
    s->server_ip = server_ip;
    s->server_port = server_port;
    s->prior = prior;
    s->engine = engine;
    s->codec = engine->codec;
    s->connection = engine->connection;
    s->focus = engine->focus;
    s->ctx = engine->ctx;
    s->log = engine->log;
    s->looper = engine->looper;
    s->sound = hal_ctx_get_sound(engine->ctx);
    s->mos = mos;
    s->factor_list = kvmos_construct(mos);
    if (mos && !s->factor_list) {
        free(s);
        return NULL;
    }
    cache_group *g = cache_get_group_by_gid(engine->cache, gid);
    s->full_duplex = g ? g->full_duplex : 0;
    SESSION_LOG(s, HAL_LOG_VERBOSE, "Create session for group %u,myself is %u", gid, myself);
    return s;
}

void session_destroy(session **ps)
{
    if (!ps || !*ps)
        return;
    session *s = *ps;
    session_send_bye_group(s);
    session_full_duplex_stop_active(s);
    // A session that was never a member or a watcher (its open failed, or
    // it was never opened) still gives back whatever it holds.
    session_close(s);
    kvmos_deconstruct(s->mos, s->factor_list);
    free(s);
    *ps = NULL;
}

// --- the machine --------------------------------------------------------------

int session_signal(session *s, int32_t sig)
{
    if (!s || sig < 0 || sig >= SESSION_SIGNALS)
        return -1;
    if (s->status == SESSION_STATUS_RESET || s->status < 0 || s->status >= SESSION_STATES)
        return -1;
    const session_cell *cell = &s->table[s->status * SESSION_SIGNALS + sig];
    int32_t old = s->status;
    SESSION_LOG(s, HAL_LOG_DEBUG, "%s:%d status=%d, next=%d, sig=%d", __func__, __LINE__, old,
                cell->next, sig);
    s->status = cell->next;
    if (old != s->status)
        SESSION_LOG(s, HAL_LOG_VERBOSE, "session gid:%d,trans from %d to %d by sig %d", (int)s->gid,
                    old, s->status, sig);
    // Whatever takes the session out of waiting for the floor other than the
    // acknowledgement itself leaves a watcher behind that would refuse a later
    // request (or fire on a freed session).
    if (old == SESSION_STATUS_WAIT_MIC && s->status != SESSION_STATUS_WAIT_MIC)
        cancel_mic_watcher(s);
    return cell->action(s, old, sig);
}

// The role and priority checks of a talk request; 0 when the own user may
// talk over the current speaker, else -1 (tone and event given).
static int check_speaker(session *s, int speak_check)
{
    if (!s->speaker)
        return 0;
    cache *c = s->engine->cache;
    cache_user *speaker = cache_get_user_by_uid(c, s->speaker);
    cache_user *me = cache_get_myself(c);
    int roles = speaker && me && speaker->has_role && me->has_role;
    if (roles && speaker->role > me->role) {
        session_tone(s, SESSION_TONE_REFUSED);
        session_post_error(s, -45);
        if (speak_check)
            SESSION_LOG(s, HAL_LOG_VERBOSE, "%s myself:%u role:%u speak:%u role:%u",
                        "session_speak", s->myself, me->role, s->speaker, speaker->role);
        else
            SESSION_LOG(s, HAL_LOG_VERBOSE, "myself:%u role:%u speak:%u role:%u %s", s->myself,
                        me->role, s->speaker, speaker->role, "session_action_2_wait_mic");
        return -1;
    }
    member_item *their = cache_get_group_entry(c, s->gid, s->speaker);
    member_item *mine = cache_get_group_entry(c, s->gid, s->myself);
    if (their && mine && their->has_prior && mine->has_prior && their->prior >= mine->prior) {
        SESSION_LOG(s, HAL_LOG_VERBOSE, "prior: myself:%u speak:%u %s", mine->prior, their->prior,
                    speak_check ? "session_speak" : "session_action_2_wait_mic");
        if (!(roles && me->role > speaker->role)) {
            session_tone(s, SESSION_TONE_REFUSED);
            session_post_error(s, -45);
            SESSION_LOG(s, HAL_LOG_ERROR, "%s u r in low role or no role!",
                        speak_check ? "session_speak" : "session_action_2_wait_mic");
            return -1;
        }
    }
    return 0;
}

static void session_on_speak_focus(focus_manager_t *fm, void *owner, uint8_t regained)
{
    (void)fm;
    if (regained)
        return;
    session *s = owner_of_ostream(owner);
    s->talking = 0;
    session_signal(s, SESSION_SIG_SPEAK_FOCUS_LOST);
}

static void session_on_play_focus(focus_manager_t *fm, void *owner, uint8_t regained)
{
    (void)fm;
    session *s = owner_of_istream(owner);
    s->playing = regained;
    session_signal(s, regained ? SESSION_SIG_ISTREAM_START : SESSION_SIG_ISTREAM_STOP);
}

int session_speak(session *s)
{
    if (!s)
        return -1;
    cache *c = s->engine->cache;
    if (c->config.audio_enabled == 0) {
        SESSION_LOG(s, HAL_LOG_ERROR, "%s u r in audio_enable(%d)!", "session_speak",
                    (int)c->config.audio_enabled);
        session_tone(s, SESSION_TONE_REFUSED);
        session_post_error(s, -42);
        return -1;
    }
    if (s->status != SESSION_STATUS_IDLE && s->status != SESSION_STATUS_LISTENING) {
        SESSION_LOG(s, HAL_LOG_ERROR, "bad status: %d", s->status);
        session_post_error(s, -43);
        return -1;
    }
    if (s->mic_granted != 0) {
        SESSION_LOG(s, HAL_LOG_ERROR, "tv_get_mic is not zero!");
        return -1;
    }
    double now = hal_time_now();
    if (now - s->last_speak_request < 1.0) {
        SESSION_LOG(s, HAL_LOG_ERROR, "u requested mic more one time in one second!");
        session_post_error(s, -41);
        return -1;
    }
    if (check_speaker(s, 1) != 0)
        return -1;
    s->talk_requested = 1;
    if (focus_manager_require_nowait(s->focus, &s->ostream, FOCUS_PRIORITY_TALK,
                                     session_on_speak_focus)) {
        SESSION_LOG(s, HAL_LOG_VERBOSE, "u requested mic success!");
        s->last_speak_request = now;
        s->talking = 1;
        return session_signal(s, SESSION_SIG_SPEAK);
    }
    SESSION_LOG(s, HAL_LOG_ERROR, "u requested mic but audio focus was requested failed!");
    session_tone(s, SESSION_TONE_REFUSED);
    session_post_error(s, -44);
    s->talk_requested = 0;
    return -1;
}

int session_stop_speak(session *s)
{
    if (!s || (s->status != SESSION_STATUS_WAIT_MIC && s->status != SESSION_STATUS_SPEAKING))
        return -1;
    return session_signal(s, SESSION_SIG_STOP_SPEAK);
}

// --- leaving ------------------------------------------------------------------

static void full_duplex_teardown(session *s)
{
    hal_looper_cancel_timer(s->looper, session_full_duplex_on_active_timer, s);
    hal_sound_stop_full_duplex_record(s->sound);
    hal_sound_stop_full_duplex_play(s->sound);
    rtp_ostream_destroy(&s->ostream);
    rtp_istream_destroy(&s->istream);
    focus_manager_release(s->focus, &s->ostream);
}

int session_full_duplex_stop_active(session *s)
{
    if (!s || !s->is_member)
        return -1;
    if (s->status == SESSION_STATUS_WAIT_MIC || s->status == SESSION_STATUS_SPEAKING)
        session_stop_speak(s);
    s->is_member = 0;
    if (!s->is_watcher)
        session_close(s);
    if (s->full_duplex)
        full_duplex_teardown(s);
    return 0;
}

int session_send_bye_group(session *s)
{
    if (!s || !s->is_watcher)
        return -1;
    session_send_bye(s);
    s->is_watcher = 0;
    if (!s->is_member)
        session_close(s);
    return 0;
}

void session_close(session *s)
{
    if (!s)
        return;
    s->is_member = 0;
    s->is_watcher = 0;
    dispatcher_t *tcp = connection_get_dispatcher(s->connection);
    for (const session_handler_row &row : HANDLERS) {
        if (row.tcp)
            dispatcher_unregister(tcp, row.name, row.fn, s);
        else if (s->dispatcher)
            dispatcher_unregister(s->dispatcher, row.name, row.fn, s);
    }
    cancel_mic_watcher(s);
    session_close_listen_file(s);
    session_close_speak_file(s);
    if (!s->full_duplex) {
        if (s->playing || s->talking) {
            s->playing = 0;
            s->talking = 0;
            hal_sound_stop_all(s->sound);
        }
        // A record stop still waiting for its hook would call back into this
        // record after it is gone: end it now (the hook runs at once).
        if (s->record_draining)
            hal_sound_stop_record(s->sound);
        focus_manager_release(s->focus, &s->istream);
        focus_manager_release(s->focus, &s->ostream);
        rtp_istream_destroy(&s->istream);
        rtp_ostream_destroy(&s->ostream);
    } else if (s->istream || s->ostream) {
        full_duplex_teardown(s);
    }
    hal_looper_cancel_timer(s->looper, session_on_timer, s);
    hal_looper_cancel_timer(s->looper, session_full_duplex_on_active_timer, s);
    dispatcher_destroy(&s->dispatcher);
    session_close_socket(s);
    s->ping_deadline = 0;
    s->ping_expiries = 0;
    s->status = SESSION_STATUS_CREATED;
}

static void session_send_release_mic(session *s);

int session_is_talking(const session *s)
{
    return s && (s->status == SESSION_STATUS_WAIT_MIC || s->status == SESSION_STATUS_SPEAKING ||
                 s->status == SESSION_STATUS_STOPPING);
}

void session_post_reset_stops(session *s)
{
    if (!s)
        return;
    // The application saw these talks start; without their ends it would
    // show a talk that no longer exists.
    if (session_is_talking(s)) {
        // Ended here, once: the teardown that follows would end a talk still
        // sending only through a drain hook that never comes, and a talk in
        // another state a second time.
        SESSION_LOG(s, HAL_LOG_ERROR, "session gid:%u reset while talking", s->gid);
        session_close_speak_file(s);
        s->talk_requested = 0;
        s->record_draining = 0;
        hal_sound_stop_record(s->sound);
        session_send_release_mic(s);
        rtp_ostream_destroy(&s->ostream);
        focus_manager_release(s->focus, &s->ostream);
        s->status = SESSION_STATUS_IDLE;
        session_post(s, "stop_speak", s->myself);
    }
    if (s->speaker) {
        if (s->status == SESSION_STATUS_LISTENING)
            session_post(s, "stop_playing_sound", s->speaker);
        session_post(s, "user_stop_speak", s->speaker);
    }
}

// --- actions ------------------------------------------------------------------

int session_action_none(session *s, int32_t old_status, int32_t sig)
{
    SESSION_LOG(s, HAL_LOG_ERROR, "session_action_none gid:%u status:%d sig:%d", s->gid, old_status,
                sig);
    return 0;
}

int session_action_reset(session *s, int32_t old_status, int32_t sig)
{
    SESSION_LOG(s, HAL_LOG_ERROR, "session_action_reset gid:%u status:%d sig:%d", s->gid,
                old_status, sig);
    return -1;
}

int session_action_connect(session *s, int32_t, int32_t)
{
    if (session_open_socket(s) != 0)
        return -1;
    dispatcher_t *tcp = connection_get_dispatcher(s->connection);
    for (const session_handler_row &row : HANDLERS)
        dispatcher_register(row.tcp ? tcp : s->dispatcher, row.name, row.fn, s);
    s->watch_ack = 0;
    return 0;
}

static void session_full_duplex_start_active(session *s)
{
    if (!focus_manager_require_nowait(s->focus, &s->ostream, FOCUS_PRIORITY_FULL_DUPLEX, NULL)) {
        SESSION_LOG(s, HAL_LOG_ERROR, "%s focus_manager_require failed",
                    "session_start_full_duplex");
        return;
    }
    hal_looper_set_timer(s->looper, session_full_duplex_on_active_timer, FULL_DUPLEX_WATCHDOG, s);
    hal_sound_stop_all(s->sound);
    session_update_encryption(s);
    s->ostream =
        rtp_ostream_new(s->ctx, s->myself, session_payload_type(s), 0, s, s->is_encryp, s->key);
    hal_sound_start_full_duplex_record(s->sound);
    s->istream = rtp_istream_new(s->ctx, 0, s);
    hal_sound_start_full_duplex_play(s->sound);
}

int session_action_connecting_2_idle(session *s, int32_t, int32_t)
{
    s->last_voice = hal_time_now();
    SESSION_LOG(s, HAL_LOG_VERBOSE, "%s full_duplex :%d", "session_action_connecting_2_idle",
                s->full_duplex);
    if (s->full_duplex)
        session_full_duplex_start_active(s);
    return 0;
}

int session_action_on_member_get_mic(session *s, int32_t old_status, int32_t)
{
    SESSION_LOG(s, HAL_LOG_VERBOSE, "%s status:%d speaker:%u", "session_action_on_member_get_mic",
                old_status, s->speaker);
    s->plain_voice_logged = 0;
    int32_t priority = s->is_member ? FOCUS_PRIORITY_JOINED_GROUP : s->prior;
    if (focus_manager_require(s->focus, &s->istream, priority, session_on_play_focus)) {
        s->playing = 1;
        hal_sound_stop_all(s->sound);
        session_tone(s, SESSION_TONE_MEMBER_START);
        session_signal(s, SESSION_SIG_ISTREAM_START);
        session_open_listen_file(s);
    } else if (session_open_listen_file(s) == -1) {
        session_send_ignore_talk(s);
    }
    session_post(s, "user_start_speak", s->speaker);
    return 0;
}

static void session_on_play_drained(hal_sound *sound, int result, void *arg)
{
    (void)arg;
    // Only a path that played out ends with the tone; one cut short by
    // another user of the device, or by teardown, does not.
    if (result == 0)
        hal_sound_play_tone(sound, SESSION_TONE_MEMBER_END);
}

int session_action_member_lost_mic(session *s, int32_t, int32_t)
{
    s->plain_voice_logged = 0;
    if (session_recording(s) && s->listen_file) {
        session_close_listen_file(s);
        s->listen_name[0] = '\0';
    }
    if (focus_manager_holder(s->focus) == &s->istream) {
        uint32_t n = 0;
        if (s->istream) {
            rtp_istream_get(s->istream);
            n = session_flush_istream(s);
        }
        hal_sound_async_stop_play(s->sound, session_on_play_drained, NULL);
        SESSION_LOG(s, HAL_LOG_VERBOSE, "member_lost_mic,async stop play with append %u frames", n);
        session_post(s, "stop_playing_sound", s->speaker);
        rtp_istream_destroy(&s->istream);
        s->playing = 0;
    }
    session_post(s, "user_stop_speak", s->speaker);
    focus_manager_release(s->focus, &s->istream);
    s->speaker = 0;
    return 0;
}

int session_action_start_playing(session *s, int32_t, int32_t)
{
    if (s->ignoring) {
        session_send_continue_talk(s);
        s->ignoring = 0;
    }
    if (!s->istream)
        s->istream = rtp_istream_new(s->ctx, 0, s);
    hal_sound_start_play(s->sound, 0);
    s->last_voice = hal_time_now();
    session_post(s, "start_playing_sound", s->speaker);
    return 0;
}

int session_action_stop_playing(session *s, int32_t, int32_t)
{
    hal_sound_stop_play(s->sound);
    rtp_istream_destroy(&s->istream);
    if (!s->ignoring && (!session_recording(s) || s->talk_requested))
        session_send_ignore_talk(s);
    session_post(s, "stop_playing_sound", s->speaker);
    return 0;
}

int session_action_put_voice(session *s, int32_t, int32_t)
{
    if (s->istream)
        rtp_istream_put(s->istream, &s->header, s->voice, s->voice_len);
    return 0;
}

int session_action_voice_while_idle(session *s, int32_t, int32_t)
{
    if (session_open_listen_file(s) == -1)
        session_send_ignore_talk(s);
    return 0;
}

int session_action_2_wait_mic(session *s, int32_t, int32_t)
{
    hal_sound_stop_all(s->sound);
    if (check_speaker(s, 0) != 0) {
        session_signal(s, SESSION_SIG_MIC_REFUSED);
        return 0;
    }
    session_tone(s, SESSION_TONE_REQUEST);
    int r = hal_sound_start_record(s->sound, 0);
    if (r != 0) {
        session_signal(s, SESSION_SIG_MIC_REFUSED);
        session_post_error(s, -50);
        SESSION_LOG(s, HAL_LOG_ERROR, "%s hal_sound_start_record result: %d",
                    "session_action_2_wait_mic", r);
        return 0;
    }
    Ptt__Rr__RequestMic req = PTT__RR__REQUEST_MIC__INIT;
    req.has_gid = req.has_uid = req.has_payload = 1;
    req.gid = s->gid;
    req.uid = s->myself;
    req.payload = session_payload_type(s);
    connection_send_msg_with_expect(s->connection, &req.base, REQUEST_MIC_ACK, REQUEST_MIC_TIMEOUT,
                                    session_on_request_mic_timeout, s);
    lirko_event_post(s->engine, "start_speak", 0, 0);
    return 0;
}

int session_action_wait_mic_2_speak(session *s, int32_t, int32_t)
{
    if (session_recording(s)) {
        session_close_listen_file(s);
        session_open_speak_file(s);
    }
    session_update_encryption(s);
    s->ostream =
        rtp_ostream_new(s->ctx, s->myself, session_payload_type(s), 0, s, s->is_encryp, s->key);
    return 0;
}

static void end_own_talk(session *s)
{
    session_post(s, "stop_speak", s->myself);
    focus_manager_release(s->focus, &s->ostream);
}

int session_action_request_mic_ack(session *s, int32_t, int32_t)
{
    hal_sound_stop_all(s->sound);
    session_tone(s, SESSION_TONE_RELEASED);
    focus_manager_release(s->focus, &s->ostream);
    cancel_mic_watcher(s);
    session_post(s, "stop_speak", s->myself);
    return 0;
}

int session_action_speak_refuse_mic(session *s, int32_t, int32_t)
{
    s->mic_granted = 0;
    hal_sound_stop_all(s->sound);
    session_tone(s, SESSION_TONE_REFUSED);
    rtp_ostream_destroy(&s->ostream);
    focus_manager_release(s->focus, &s->ostream);
    session_post(s, "stop_speak", s->myself);
    return 0;
}

int session_action_speak_lost_mic(session *s, int32_t, int32_t)
{
    session_close_speak_file(s);
    s->talk_requested = 0;
    s->mic_granted = 0;
    hal_sound_stop_all(s->sound);
    session_tone(s, SESSION_TONE_REFUSED);
    rtp_ostream_destroy(&s->ostream);
    end_own_talk(s);
    return 0;
}

static void session_send_release_mic(session *s)
{
    if (s->mic_granted == 0)
        return;
    Ptt__Rr__ReleaseMic rel = PTT__RR__RELEASE_MIC__INIT;
    rel.has_gid = rel.has_uid = 1;
    rel.gid = s->gid;
    rel.uid = s->myself;
    connection_send_msg(s->connection, &rel.base);
    s->mic_granted = 0;
}

int session_action_speak_focus_lost(session *s, int32_t, int32_t)
{
    session_close_speak_file(s);
    s->talk_requested = 0;
    hal_sound_stop_record(s->sound);
    session_tone(s, SESSION_TONE_REFUSED);
    // A broadcast that took the focus plays once this talk has stopped.
    broadcast_mark_by_session(s->engine->broadcast);
    end_own_talk(s);
    session_send_release_mic(s);
    rtp_ostream_destroy(&s->ostream);
    return 0;
}

static void session_on_record_drained(hal_sound *sound, int result, void *arg,
                                      hal_sound_frame **frames, uint32_t count)
{
    (void)sound;
    session *s = (session *)arg;
    s->record_draining = 0;
    SESSION_LOG(s, HAL_LOG_VERBOSE, "%s result:%d count:%u", "session_on_record_drained", result,
                count);
    session_ostream_drain(s, frames, count);
}

int session_action_stop_speak(session *s, int32_t, int32_t)
{
    session_close_speak_file(s);
    s->talk_requested = 0;
    session_tone(s, SESSION_TONE_RELEASED);
    if (!session_ostream_sending(s)) {
        hal_sound_stop_record(s->sound);
        return session_signal(s, SESSION_SIG_OSTREAM_END);
    }
    s->record_draining = 1;
    if (hal_sound_async_stop_record(s->sound, session_on_record_drained, s) != HAL_SOUND_OK) {
        // Nothing records any more (another user of the device took it): the
        // stream sends what it holds and ends, instead of waiting for a hook
        // that never comes.
        s->record_draining = 0;
        session_ostream_drain(s, NULL, 0);
    }
    return 0;
}

int session_action_speak_end(session *s, int32_t, int32_t)
{
    end_own_talk(s);
    session_send_release_mic(s);
    rtp_ostream_destroy(&s->ostream);
    return 0;
}

int session_action_late_mic_grant(session *s, int32_t, int32_t)
{
    session_send_release_mic(s);
    lirko_event_post(s->engine, "stop_speak", 0, 0);
    return 0;
}

// --- timers -------------------------------------------------------------------

void session_on_timer(hal_looper *looper, double now, void *arg)
{
    (void)looper;
    session *s = (session *)arg;
    if (s->status == SESSION_STATUS_LISTENING && now - s->last_voice >= 4.0) {
        SESSION_LOG(s, HAL_LOG_ERROR, "Wait packet expired! speaking_member:%d", (int)s->speaker);
        session_signal(s, SESSION_SIG_MEMBER_LOST_MIC);
    }
    if (s->ping_deadline > 0 && now > s->ping_deadline) {
        s->ping_expiries++;
        SESSION_LOG(s, HAL_LOG_ERROR, "%s session udp ping expired: %d", "session_on_timer",
                    (int)s->ping_expiries);
    }
    if (s->ping_expiries > 30) {
        lirko_event_post(s->engine, "udp_overtime", 3, 0);
        SESSION_LOG(s, HAL_LOG_ERROR, "%s session udp ping expired to MAX: %d", "session_on_timer",
                    30);
        s->ping_expiries = 0;
    }
    if (s->status == SESSION_STATUS_LISTENING && now - s->last_voice >= 2.0)
        session_signal(s, SESSION_SIG_MEMBER_LOST_MIC);
    if (s->is_watcher && now - s->watch_ack >= 300.0) {
        session_send_watch_group(s);
        return;
    }
    session_send_ping(s);
}

void session_full_duplex_on_active_timer(hal_looper *looper, double now, void *arg)
{
    session *s = (session *)arg;
    if (now - s->last_voice >= 5.0) {
        SESSION_LOG(s, HAL_LOG_ERROR,
                    "session_full_duplex_on_active_timer no recive audio data >= 3s");
        hal_looper_cancel_timer(looper, session_full_duplex_on_active_timer, arg);
    }
}

void session_on_request_mic_timeout(connection_t *conn, const char *ack_name, void *arg)
{
    (void)conn;
    (void)ack_name;
    session *s = (session *)arg;
    session_signal(s, SESSION_SIG_MIC_REFUSED);
    session_post_error(s, -46);
    SESSION_LOG(s, HAL_LOG_ERROR, "requst mic timeout!");
}

// --- messages -----------------------------------------------------------------

#define HANDLER_ARGS(type)                                                                         \
    (void)h;                                                                                       \
    session *s = (session *)arg;                                                                   \
    const type *m = (const type *)msg

static void session_on_msg_pong(const ProtobufCMessage *msg, void *arg, dispatcher_handler *h)
{
    HANDLER_ARGS(Ptt__Net__Pong);
    kvmos_set_factors(s->mos, s->factor_list, m);
    session_signal(s, SESSION_SIG_PONG);
}

static void session_on_msg_heartbeat(const ProtobufCMessage *msg, void *arg, dispatcher_handler *h)
{
    (void)msg;
    (void)h;
    session_signal((session *)arg, SESSION_SIG_PONG);
}

static void session_on_msg_memgetmic(const ProtobufCMessage *msg, void *arg, dispatcher_handler *h)
{
    HANDLER_ARGS(Ptt__Push__MemberGetMic);
    session_update_encryption(s);
    SESSION_LOG(s, HAL_LOG_VERBOSE, "%s is_encryp %d", "session_on_msg_memgetmic", s->is_encryp);
    cache *c = s->engine->cache;
    if (c->config.audio_enabled == 0) {
        SESSION_LOG(s, HAL_LOG_ERROR, "%s u r in audio_enable(%d)!", "session_on_msg_memgetmic",
                    (int)c->config.audio_enabled);
        session_send_ignore_talk(s);
        return;
    }
    if (m->gid != s->gid) {
        if (!s->is_watcher)
            return;
    } else {
        if (s->speaker && s->speaker != m->uid) {
            session_signal(s, SESSION_SIG_MEMBER_LOST_MIC);
            s->speaker = 0;
        }
        if (s->speaker == m->uid)
            return;
    }
    s->speaker = m->uid;
    s->ignoring = 0;
    session_signal(s, SESSION_SIG_MEMBER_GET_MIC);
}

static void session_on_msg_memlostmic(const ProtobufCMessage *msg, void *arg, dispatcher_handler *h)
{
    HANDLER_ARGS(Ptt__Push__MemberLostMic);
    if (m->gid != s->gid || m->uid != s->speaker)
        return;
    if (session_recording(s) && s->listen_file)
        session_close_listen_file(s);
    session_signal(s, SESSION_SIG_MEMBER_LOST_MIC);
}

static void session_on_msg_watchack(const ProtobufCMessage *msg, void *arg, dispatcher_handler *h)
{
    HANDLER_ARGS(Ptt__Rr__WatchGroupAck);
    SESSION_LOG(s, HAL_LOG_VERBOSE, "session_on_msg_watchack result %d------gid %d, self->gid %d",
                m->result, (int)m->gid, (int)s->gid);
    if (m->has_gid && m->gid == s->gid && m->result == 0) {
        s->watch_ack = hal_time_now();
        session_signal(s, SESSION_SIG_PONG + m->result);
    }
}

static void session_on_msg_requestmic(const ProtobufCMessage *msg, void *arg, dispatcher_handler *h)
{
    HANDLER_ARGS(Ptt__Rr__RequestMicAck);
    int ours = m->has_gid && m->gid != 0 && m->gid == s->gid;
    if (!ours && s->status != SESSION_STATUS_WAIT_MIC)
        return;
    SESSION_LOG(s, HAL_LOG_VERBOSE, "%s result=%d gid=%u self->gid=%u self->status=%d",
                "session_on_msg_requestmic", m->result, m->gid, s->gid, s->status);
    if (m->result == 0) {
        s->mic_granted = hal_time_now();
        session_signal(s, SESSION_SIG_MIC_GRANTED + m->result);
        return;
    }
    session_signal(s, SESSION_SIG_MIC_REFUSED);
    session_post_error(s, -40);
    SESSION_LOG(s, HAL_LOG_ERROR, "%s requestmic failed!result(%d)", "session_on_msg_requestmic",
                m->result);
}

static void session_on_msg_lostmic(const ProtobufCMessage *msg, void *arg, dispatcher_handler *h)
{
    HANDLER_ARGS(Ptt__Push__LostMic);
    if (m->gid == s->gid)
        session_signal(s, SESSION_SIG_LOST_MIC);
}
