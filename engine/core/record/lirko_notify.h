// The engine's two reporting tables.
//
// The listener table (lirko_notify_t, 55 slots and a user-data pointer) is
// the engine's internal reporting interface: event processors and message
// handlers call its slots on the looper thread, always with the engine first.
// The application callback table (lirko_win_callbacks, 47 slots) holds the
// application's plain function pointers; the notify bridge, installed in the
// listener table at load, turns each listener call into one application call.
//
// Both tables live in the engine record and are read and written on the
// looper thread only, so neither has a lock.
#ifndef LIRKO_NOTIFY_H
#define LIRKO_NOTIFY_H

#include "lirko_win.h"

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct lirko_t lirko_t;
typedef struct cache_user cache_user;

// One row per listener slot, in slot order: X(slot, name, parameters).
// Slots 42 to 53 take no user data; slots 42, 43, 48 and 49 take the engine
// only.
#define LIRKO_SPEAK_ARGS uid_t uid, const char *name, gid_t gid, const char *group_name
#define LIRKO_LISTENER_TABLE(X)                                                                    \
    X(0, on_message, (lirko_t * engine, void *user_data, const char *text))                        \
    X(1, on_error, (lirko_t * engine, void *user_data, const char *message, int code))             \
    X(2, on_online_status_changed, (lirko_t * engine, void *user_data, LIRKO_ONLINE_STATUS state)) \
    X(3, on_audio_enabled, (lirko_t * engine, void *user_data, uint8_t enabled))                   \
    X(4, on_have_broadcast, (lirko_t * engine, void *user_data, void *data))                       \
    X(5, on_broadcast_started, (lirko_t * engine, void *user_data, uint32_t code))                 \
    X(6, on_broadcast_finished, (lirko_t * engine, void *user_data, uint32_t code))                \
    X(7, on_name_changed, (lirko_t * engine, void *user_data, uint8_t success))                    \
    X(8, on_password_changed, (lirko_t * engine, void *user_data, uint8_t success))                \
    X(9, on_memberlist_changed, (lirko_t * engine, void *user_data, gid_t gid))                    \
    X(10, on_grouplist_changed, (lirko_t * engine, void *user_data))                               \
    X(11, on_contactlist_changed, (lirko_t * engine, void *user_data))                             \
    X(12, on_contactship_asked, (lirko_t * engine, void *user_data, uint32_t code, void *data))    \
    X(13, on_user_start_speak, (lirko_t * engine, void *user_data, LIRKO_SPEAK_ARGS))              \
    X(14, on_user_stop_speak, (lirko_t * engine, void *user_data, LIRKO_SPEAK_ARGS))               \
    X(15, on_start_speak, (lirko_t * engine, void *user_data, gid_t gid, const char *group_name))  \
    X(16, on_stop_speak, (lirko_t * engine, void *user_data, gid_t gid, const char *group_name))   \
    X(17, on_current_group,                                                                        \
      (lirko_t * engine, void *user_data, gid_t gid, const char *group_name))                      \
    X(18, on_requestcontactlist_changed, (lirko_t * engine, void *user_data))                      \
    X(19, on_users_changed,                                                                        \
      (lirko_t * engine, void *user_data, size_t count, cache_user *const *users))                 \
    X(20, on_watchgroup_changed, (lirko_t * engine, void *user_data))                              \
    X(21, on_start_playing_sound, (lirko_t * engine, void *user_data, LIRKO_SPEAK_ARGS))           \
    X(22, on_stop_playing_sound, (lirko_t * engine, void *user_data, LIRKO_SPEAK_ARGS))            \
    X(23, on_members_changed,                                                                      \
      (lirko_t * engine, void *user_data, gid_t gid, const uid_t *updated, uint32_t n_updated,     \
       const uid_t *removed, uint32_t n_removed, const uid_t *joined, uint32_t n_joined,           \
       const uid_t *left, uint32_t n_left))                                                        \
    X(24, on_roles_changed, (lirko_t * engine, void *user_data, gid_t gid))                        \
    X(25, on_start_record_voice,                                                                   \
      (lirko_t * engine, void *user_data, gid_t gid, uid_t uid, const char *start_time,            \
       const char *file_name))                                                                     \
    X(26, on_stop_record_voice,                                                                    \
      (lirko_t * engine, void *user_data, uint8_t success, gid_t gid, uid_t uid, const char *time, \
       const char *file_name))                                                                     \
    X(27, on_stop_play_recordfile, (lirko_t * engine, void *user_data))                            \
    X(28, on_audio_enabled_call,                                                                   \
      (lirko_t * engine, void *user_data, uint8_t success, uint8_t enabled, const uid_t *uids,     \
       size_t count))                                                                              \
    X(29, on_dispatcher,                                                                           \
      (lirko_t * engine, void *user_data, uint8_t success, uint8_t has_gid, gid_t gid,             \
       const uid_t *uids, size_t count))                                                           \
    X(30, on_take_mic,                                                                             \
      (lirko_t * engine, void *user_data, uint8_t success, const uid_t *uids, size_t count))       \
    X(31, on_switch_location,                                                                      \
      (lirko_t * engine, void *user_data, uint8_t success, uint8_t enabled, const uid_t *uids,     \
       size_t count))                                                                              \
    X(32, on_send, (lirko_t * engine, void *user_data, uint8_t success))                           \
    X(33, on_send_play_data, (lirko_t * engine, void *user_data, const uint8_t *data, int length)) \
    X(34, on_audio_status, (lirko_t * engine, void *user_data, uint32_t type, uint8_t status))     \
    X(35, on_leave_group, (lirko_t * engine, void *user_data, gid_t gid, const char *group_name))  \
    X(36, on_multimedia_message, (lirko_t * engine, void *user_data, const char *text))            \
    X(37, on_external_message, (lirko_t * engine, void *user_data, const char *text))              \
    X(38, on_get_watch_group, (lirko_t * engine, void *user_data, const gid_t *gids, int count))   \
    X(39, on_rm_watch_group,                                                                       \
      (lirko_t * engine, void *user_data, const gid_t *changed, int n_changed, const gid_t *gids,  \
       int count, int result))                                                                     \
    X(40, on_add_watch_group,                                                                      \
      (lirko_t * engine, void *user_data, const gid_t *changed, int n_changed, const gid_t *gids,  \
       int count, int result))                                                                     \
    X(41, on_start_watch_group, (lirko_t * engine, void *user_data, gid_t gid))                    \
    X(42, on_send_invite_timeout, (lirko_t * engine))                                              \
    X(43, on_send_response_invite_timeout, (lirko_t * engine))                                     \
    X(44, on_send_invite_ack,                                                                      \
      (lirko_t * engine, uint64_t invite_id, const uint32_t *invitees, uint32_t count,             \
       int result))                                                                                \
    X(45, on_send_response_invite_ack, (lirko_t * engine, int result))                             \
    X(46, on_push_invite,                                                                          \
      (lirko_t * engine, uint64_t invite_id, uint32_t inviter, uint32_t with_audio,                \
       uint32_t with_video, const char *msg, uint32_t is_full_duplex))                             \
    X(47, on_push_response_invite,                                                                 \
      (lirko_t * engine, uint64_t invite_id, uint32_t invitee, uint32_t accept, int reason))       \
    X(48, on_query_department, (lirko_t * engine))                                                 \
    X(49, on_send_encryp_timeout, (lirko_t * engine))                                              \
    X(50, on_send_encryp_ack, (lirko_t * engine, int result))                                      \
    X(51, on_sos_alarm, (lirko_t * engine, const sos_alarm_t *alarm))                              \
    X(52, on_process_sos, (lirko_t * engine, int result))                                          \
    X(53, on_close_sos, (lirko_t * engine, int result))                                            \
    X(54, on_single_call, (lirko_t * engine, void *user_data, uint32_t result))

#define LIRKO_LISTENER_COUNT 55

// The listener table: 55 slots in slot order, then the user data handed to
// the slots that take it. A NULL slot is skipped by every caller.
typedef struct lirko_notify_t {
#define LIRKO_LISTENER_FIELD(slot, name, params) void(*name) params;
    LIRKO_LISTENER_TABLE(LIRKO_LISTENER_FIELD)
#undef LIRKO_LISTENER_FIELD
    void *user_data;
} lirko_notify_t;

// The application callback table, 47 slots in slot order.
typedef struct lirko_win_callbacks {
#define LIRKO_CALLBACK_FIELD(slot, listener, field, type, win_setter, setter, getter) type field;
#define LIRKO_CALLBACK_FIELD_INTERNAL(slot, listener, field, type, setter, getter) type field;
    LIRKO_CALLBACK_TABLE(LIRKO_CALLBACK_FIELD, LIRKO_CALLBACK_FIELD_INTERNAL)
#undef LIRKO_CALLBACK_FIELD
#undef LIRKO_CALLBACK_FIELD_INTERNAL
} lirko_win_callbacks;

// Calls a listener slot that takes user data, when it is set.
#define LIRKO_NOTIFY(engine, slot, ...)                                                            \
    do {                                                                                           \
        lirko_notify_t *notify_ = lirko_notify_table(engine);                                      \
        if (notify_ && notify_->slot)                                                              \
            notify_->slot((engine), notify_->user_data, ##__VA_ARGS__);                            \
    } while (0)
// Calls a listener slot that takes no user data (slots 42 to 53).
#define LIRKO_NOTIFY_NO_DATA(engine, slot, ...)                                                    \
    do {                                                                                           \
        lirko_notify_t *notify_ = lirko_notify_table(engine);                                      \
        if (notify_ && notify_->slot)                                                              \
            notify_->slot((engine), ##__VA_ARGS__);                                                \
    } while (0)

// The engine's listener table; NULL for a NULL engine.
lirko_notify_t *lirko_notify_table(lirko_t *engine);
// The engine's application callback table; NULL for a NULL engine.
lirko_win_callbacks *lirko_callbacks(lirko_t *engine);

// The notify bridge's listener table (user data NULL), as lirko_win_on_load
// installs it. Slots 4, 5, 6, 11, 12, 18 and 34 hold functions that do
// nothing: those reports reach no application callback.
const lirko_notify_t *lirko_notify_bridge_table(void);

// Stores code as the engine's last error and calls slot on_error with a NULL
// message.
void lirko_notify_error(lirko_t *engine, int code);
// Calls slot on_online_status_changed with the given state.
void lirko_notify_online_status(lirko_t *engine, LIRKO_ONLINE_STATUS state);

// Copies all 55 slots and stores the user data. 0; -1 for a NULL argument.
int lirko_register_notify(lirko_t *engine, const lirko_notify_t *table, void *user_data);
// Clears all 55 slots and the user data. 0; -1 for a NULL engine.
int lirko_unregister_notify(lirko_t *engine);
// Logs slots 0 to 24 of table. 0; -1 for a NULL argument.
int lirko_print_notify(lirko_t *engine, const lirko_notify_t *table);

// Internal setters and getters of the application callback table, one pair
// per slot (names in LIRKO_CALLBACK_TABLE). Setters store the pointer and
// return 0 (-1 for a NULL engine); the error and get-watch-group setters
// also refuse NULL with -1. The other setters accept NULL, which clears the
// slot.
#define LIRKO_DECLARE_ACCESSORS(slot, listener, field, type, win_setter, setter, getter)           \
    int setter(lirko_t *engine, type cb);                                                          \
    type getter(lirko_t *engine);
#define LIRKO_DECLARE_ACCESSORS_INTERNAL(slot, listener, field, type, setter, getter)              \
    int setter(lirko_t *engine, type cb);                                                          \
    type getter(lirko_t *engine);
LIRKO_CALLBACK_TABLE(LIRKO_DECLARE_ACCESSORS, LIRKO_DECLARE_ACCESSORS_INTERNAL)
#undef LIRKO_DECLARE_ACCESSORS
#undef LIRKO_DECLARE_ACCESSORS_INTERNAL

#ifdef __cplusplus
}
#endif

#endif
