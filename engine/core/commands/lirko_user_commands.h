// Commands that act on other users and on calls: temporary groups, audio and
// location switches, taking the microphone, invitations, the department
// tree, voice encryption, SOS alarms; and the getters of the own identity,
// voice quality and encryption settings. Each fills one signalling message
// and hands it to the connection; the answers come through the engine's
// handlers. Results: 0 or the send's result, -1 for refused arguments.
// Looper thread only.
#ifndef LIRKO_USER_COMMANDS_H
#define LIRKO_USER_COMMANDS_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct lirko_t lirko_t;

// Reply timers of Invite, ResponseInvite and SetEncrypt.
#define LIRKO_REPLY_TIMEOUT 3.0
// The key getters write a terminated key of at most 63 bytes.
#define LIRKO_KEY_BUF_SIZE 64

int lirko_temp_join_group(lirko_t *engine, uint32_t gid, const uint32_t *uids, uint32_t count);
// Refused unless gid is 0.
int lirko_temp_leave_group(lirko_t *engine, uint32_t gid, const uint32_t *uids, uint32_t count);
int lirko_schedule_audioenable(lirko_t *engine, const uint32_t *uids, uint32_t count,
                               uint8_t enable);
int lirko_shedule_takemic(lirko_t *engine, const uint32_t *uids, uint32_t count);
int lirko_shedule_switch_location(lirko_t *engine, const uint32_t *uids, uint32_t count, uint8_t on,
                                  uint32_t period);
// A negative flag leaves its field absent.
int lirko_schedule_configUser(lirko_t *engine, const uint32_t *uids, uint32_t count,
                              int account_enabled, int audio_enabled, int switch_location,
                              uint32_t period);
// did 0 is refused (logged, nothing sent).
int lirko_send_query_department_tree(lirko_t *engine, uint32_t did);
int lirko_close_sos_alarm(lirko_t *engine, uint32_t uid, uint64_t uuid);
int lirko_process_sos_alarm(lirko_t *engine, uint32_t uid, uint64_t uuid);

// Invitations and encryption start their 3.0 s reply timer only when the
// request went out: 0, or -1 when it could not be sent.
int lirko_send_invite(lirko_t *engine, const uint32_t *invitees, uint32_t count, uint8_t with_audio,
                      uint8_t with_video, const char *msg, uint8_t full_duplex);
int lirko_send_response_invite(lirko_t *engine, uint64_t invite_id, uint32_t inviter,
                               uint8_t accept);
// scope: 0 department, 1 group, 2 user; a NULL key switches encryption off.
int lirko_set_encryp(lirko_t *engine, int scope, const uint32_t *targets, uint32_t count,
                     const char *type, const char *key);

int lirko_get_my_self_is_encryp(lirko_t *engine, uint8_t *encrypt_on, uint8_t *has_encrypt);
// out holds LIRKO_KEY_BUF_SIZE bytes.
int lirko_get_my_self_encryp_key(lirko_t *engine, char *out);
int lirko_get_current_group_is_encryp(lirko_t *engine, uint32_t *is_encryp, uint8_t *has_key);
int lirko_get_current_group_encryp_key(lirko_t *engine, char *out);
uint32_t lirko_get_uid(lirko_t *engine);
// Priorities 2 to 8 set the log threshold: 0; others change nothing: -1.
int lirko_set_log_priority(lirko_t *engine, int priority);

#ifdef __cplusplus
}
#endif

#endif
