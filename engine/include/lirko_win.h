/*
 * Public interface of the push-to-talk engine (liblirko.so), shared by the
 * engine and the console: the scalar types and fixed-layout records that
 * cross the library boundary, the application callback types, and the
 * exported callback setters.
 *
 * Every record below is read field by field by the application, so the field
 * order and widths are part of the interface; their sizes and offsets are
 * pinned by static assertions at the end of this header.
 */
#ifndef LIRKO_WIN_H
#define LIRKO_WIN_H

#include <stddef.h>
#include <stdint.h>
#include <sys/types.h> /* uid_t and gid_t: 32-bit unsigned on Linux */

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define LIRKO_API __attribute__((visibility("default")))
#else
#define LIRKO_API
#endif

/*
 * Truth value of exported signatures: int-sized, 0 false, non-zero true.
 * Signatures use lirko_boolean_t, so they stay compatible with any int-sized
 * `boolean` of another header. A translation unit whose other headers define
 * `boolean` differently (some use unsigned char) defines LIRKO_NO_BOOLEAN
 * before including this header and keeps theirs.
 */
typedef int lirko_boolean_t;
#ifndef LIRKO_NO_BOOLEAN
typedef int boolean;
#endif

/* Login state. */
typedef enum {
    LIRKO_STATUS_NONE = 0,    /* never logged in, or the login was refused */
    LIRKO_STATUS_OFFLINE = 1, /* logged out, kicked out, connection lost */
    LIRKO_STATUS_LOGGING_IN = 2,
    LIRKO_STATUS_ONLINE = 3,
} LIRKO_ONLINE_STATUS;

/* Sizes of the caller buffers of the exports that copy text out (saved
 * account, saved password, own name): the engine copies at most size - 1
 * bytes and always terminates. */
#define LIRKO_ACCOUNT_BUF_SIZE 512
#define LIRKO_PASSWORD_BUF_SIZE 512
#define LIRKO_NAME_BUF_SIZE 512

/* Width of every name field of the records below (UTF-8, NUL-terminated). */
#define LIRKO_NAME_SIZE 64

/* One group. */
typedef struct win_group_t {
    uint32_t type; /* 0 BUILTIN, 1 STATIC, 2 TEMP, 3 RESERVE_1, 4 AREA, 5 ADVANCED, 6 MERGED */
    gid_t gid;
    char name[LIRKO_NAME_SIZE];
    int32_t prior;
    uint32_t ip;   /* voice server address */
    uint16_t port; /* voice server port */
    uint32_t did;  /* department id: set only by the department group query */
    uint8_t has_key;
    uint32_t is_encryp;
    int32_t sort_weight;
} win_group_t;

/* One member of a group. */
typedef struct win_member_t {
    gid_t gid;
    uid_t uid;
    int32_t role;
    uint32_t online; /* 0 not known, 1 offline, 3 online */
    uint32_t ingroup;
    uint32_t has_gid; /* always 1 */
    uint32_t has_role;
    uint32_t audio_enabled;
    uint32_t location_on;
    uint32_t location_period;
    char name[LIRKO_NAME_SIZE];
    uint8_t encrypt_on;
    int32_t sort_weight;
} win_member_t;

/* One user. */
typedef struct win_user_t {
    gid_t gid;
    uid_t uid;
    int32_t role;
    uint32_t online; /* 0 not known, 1 offline, 3 online */
    uint32_t has_gid;
    uint32_t has_role;
    uint32_t audio_enabled;
    uint32_t location_on;
    uint32_t location_period;
    char name[LIRKO_NAME_SIZE];
    uint8_t encrypt_on;
    uint8_t has_encrypt;
    int32_t sort_weight;
} win_user_t;

#define LIRKO_SOS_ADDRESS_SIZE 132
#define LIRKO_SOS_DEVICESN_SIZE 131

/* One SOS alarm; handed to the SOS callback and valid only during the call. */
typedef struct sos_alarm_t {
    uint64_t uuid;
    int32_t status;
    uint32_t reporter;
    uint64_t gid;
    uint32_t processer;
    uint32_t start_time;
    uint32_t process_time;
    uint32_t close_time;
    double longitude;
    double latitude;
    double altitude;
    int32_t location_type;
    char address[LIRKO_SOS_ADDRESS_SIZE];
    double speed;
    double dirang;
    int32_t satellites;
    uint8_t resend;
    char devicesn[LIRKO_SOS_DEVICESN_SIZE];
    int32_t source;
    double accuracy;
    uint32_t year;
    uint32_t month;
    uint32_t day;
    uint32_t hour;
    uint32_t minute;
    uint32_t second;
    uint32_t millisecond;
} sos_alarm_t;

#define LIRKO_DEPARTMENT_NAME_SIZE 68

/* One department of the directory; owned by the engine. */
typedef struct department_t {
    uint32_t did;
    uint32_t has_timestamp;
    uint32_t timestamp;
    char name[LIRKO_DEPARTMENT_NAME_SIZE];
    size_t n_groups;
    win_group_t *groups;
    uint32_t has_super;
    uint32_t super; /* parent department id */
    size_t n_subdid;
    uint32_t *subdid; /* sub-department ids */
} department_t;

/*
 * Application callback types. Every callback runs on the engine's looper
 * thread; pointers and texts handed to it are valid only during the call.
 * An application callback may call any lirko_win_ export: it then runs in
 * place.
 */
typedef void (*lirko_online_status_cb)(LIRKO_ONLINE_STATUS state);
typedef void (*lirko_message_cb)(const char *text);
typedef void (*lirko_error_cb)(const char *message, int code);
typedef void (*lirko_bool_cb)(lirko_boolean_t value);
typedef void (*lirko_gid_cb)(gid_t gid);
/* Four (uid array, count) pairs: updated, removed, joined, left; a pointer is
 * NULL when its count is 0; never called with all four counts 0. */
typedef void (*lirko_members_changed_cb)(gid_t gid, const uid_t *updated, uint32_t n_updated,
                                         const uid_t *removed, uint32_t n_removed,
                                         const uid_t *joined, uint32_t n_joined, const uid_t *left,
                                         uint32_t n_left);
typedef void (*lirko_void_cb)(void);
typedef void (*lirko_speak_info_cb)(uid_t uid, const char *name, gid_t gid, const char *group_name);
typedef void (*lirko_data_cb)(const uint8_t *data, int length);
typedef void (*lirko_group_info_cb)(gid_t gid, const char *group_name);
typedef void (*lirko_users_changed_cb)(size_t count, const win_user_t *users);
typedef void (*lirko_dispatcher_cb)(lirko_boolean_t success, lirko_boolean_t has_gid, gid_t gid,
                                    const uid_t *uids, size_t count);
typedef void (*lirko_take_mic_cb)(lirko_boolean_t success, const uid_t *uids, size_t count);
typedef void (*lirko_start_record_cb)(gid_t gid, uid_t uid, const char *start_time,
                                      const char *file_name);
typedef void (*lirko_finish_record_cb)(lirko_boolean_t success, gid_t gid, uid_t uid,
                                       const char *time, const char *file_name);
typedef void (*lirko_uid_list_result_cb)(lirko_boolean_t success, lirko_boolean_t enabled,
                                         const uid_t *uids, size_t count);
typedef void (*lirko_text_cb)(const char *text);
/*
 * Watched-group answers. The add and remove forms pass the gids that changed,
 * the whole watch list and the server's result. The query form passes the
 * watch list as the first pair, then NULL, 0 and 0.
 */
typedef void (*lirko_watch_group_list_cb)(const gid_t *changed, int n_changed, const gid_t *gids,
                                          int count, int result);
typedef void (*lirko_invite_ack_cb)(uint64_t invite_id, const uint32_t *invited, uint32_t count,
                                    int result);
typedef void (*lirko_result_cb)(int result);
typedef void (*lirko_push_invite_cb)(uint64_t invite_id, uint32_t inviter, uint32_t with_audio,
                                     uint32_t with_video, const char *msg, uint32_t is_full_duplex);
typedef void (*lirko_push_response_invite_cb)(uint64_t invite_id, uint32_t invitee, uint32_t accept,
                                              int reason);
typedef void (*lirko_sos_alarm_cb)(const sos_alarm_t *alarm);
/* Called on the engine's thread when the replay of a recorded broadcast has
 * ended. */
typedef void (*lirko_play_stop_cb)(void);

/*
 * The application callback table, one row per slot in slot order:
 *   X(slot, listener slot, field, callback type, exported setter,
 *     internal setter, internal getter)
 * The listener slot is the engine-side report that reaches this callback.
 * Slot 46 has no exported setter and is listed through X_INTERNAL without
 * that column. Several names are irregular on purpose (they are the names
 * applications link against), e.g. lirko_win_get_watch_group_cb is a setter.
 */
#define LIRKO_CALLBACK_TABLE(X, X_INTERNAL)                                                        \
    X(0, 2, online_status, lirko_online_status_cb, lirko_win_set_online_status_cb,                 \
      lirko_set_online_statuscb, lirko_get_online_statuscb)                                        \
    X(1, 0, message, lirko_message_cb, lirko_win_set_message_cb, lirko_set_message_cb,             \
      lirko_get_message_cb)                                                                        \
    X(2, 1, error, lirko_error_cb, lirko_win_set_error_cb, lirko_set_error_cb, lirko_get_error_cb) \
    X(3, 3, audio_enabled, lirko_bool_cb, lirko_win_set_audio_enabled_cb,                          \
      lirko_set_audio_enabled_cb, lirko_get_audio_enabled_cb)                                      \
    X(4, 7, change_name, lirko_bool_cb, lirko_win_set_change_name_cb, lirko_set_change_name_cb,    \
      lirko_get_change_name_cb)                                                                    \
    X(5, 8, change_password, lirko_bool_cb, lirko_win_set_change_password_cb,                      \
      lirko_set_change_password_cb, lirko_get_change_password_cb)                                  \
    X(6, 9, memberlist, lirko_gid_cb, lirko_win_set_memberlist_cb, lirko_set_memberlist_cb,        \
      lirko_get_memberlist_cb)                                                                     \
    X(7, 23, member_changed, lirko_members_changed_cb, lirko_win_set_member_changed_cb,            \
      lirko_set_member_changed_cb, lirko_get_member_changed_cb)                                    \
    X(8, 10, grouplist, lirko_void_cb, lirko_win_set_grouplist_cb, lirko_set_grouplist_cb,         \
      lirko_get_grouplist_cb)                                                                      \
    X(9, 24, roles_changed, lirko_gid_cb, lirko_win_set_roles_changed_cb,                          \
      lirko_set_roles_changed_cb, lirko_get_roles_changed_cb)                                      \
    X(10, 13, user_start_speak, lirko_speak_info_cb, lirko_win_set_user_start_speak_cb,            \
      lirko_set_user_start_speak_cb, lirko_get_user_start_speak_cb)                                \
    X(11, 33, user_voice_data, lirko_data_cb, lirko_win_set_user_voice_data_cb,                    \
      lirko_set_user_voice_data_cb, lirko_get_user_voice_data)                                     \
    X(12, 14, user_stop_speak, lirko_speak_info_cb, lirko_win_set_user_stop_speak_cb,              \
      lirko_set_user_stop_speak_cb, lirko_get_user_stop_speak_cb)                                  \
    X(13, 15, start_speak, lirko_group_info_cb, lirko_win_set_start_speak_cb,                      \
      lirko_set_start_speak_cb, lirko_get_start_speak_cb)                                          \
    X(14, 16, stop_speak, lirko_group_info_cb, lirko_win_set_stop_speak_cb, lirko_set_stop_speak,  \
      lirko_get_stop_speak_cb)                                                                     \
    X(15, 17, current_group, lirko_group_info_cb, lirko_win_set_current_group_cb,                  \
      lirko_set_current_group_cb, lirko_get_current_group_cb)                                      \
    X(16, 19, users_changed, lirko_users_changed_cb, lirko_win_set_users_changed_cb,               \
      lirko_set_users_changed_cb, lirko_get_users_changed_cb)                                      \
    X(17, 20, watchgrouplist, lirko_void_cb, lirko_win_set_watchgrouplist_cb,                      \
      lirko_set_watchgrouplist_cb, lirko_get_watchgrouplist_cb)                                    \
    X(18, 21, start_playing, lirko_speak_info_cb, lirko_win_set_start_playing_cb,                  \
      lirko_set_start_playing_cb, lirko_get_start_playing_cb)                                      \
    X(19, 22, stop_playing, lirko_speak_info_cb, lirko_win_set_stop_playing_cb,                    \
      lirko_set_stop_playing_cb, lirko_get_stop_playing_cb)                                        \
    X(20, 29, dispatcher, lirko_dispatcher_cb, lirko_win_set_dispatcher_cb,                        \
      lirko_set_dispatcher_cb, lirko_get_dispatcher_cb)                                            \
    X(21, 30, take_mic, lirko_take_mic_cb, lirko_win_set_take_mic_cb, lirko_set_take_mic_cb,       \
      lirko_get_take_mic_cb)                                                                       \
    X(22, 25, start_record, lirko_start_record_cb, lirko_win_set_start_record_cb,                  \
      lirko_set_start_record_cb, lirko_get_start_record_cb)                                        \
    X(23, 26, finish_record, lirko_finish_record_cb, lirko_win_set_finish_record_cb,               \
      lirko_set_finish_record_cb, lirko_get_finish_record_cb)                                      \
    X(24, 32, send, lirko_bool_cb, lirko_win_set_send_cb, lirko_set_send_cb, lirko_get_send_cb)    \
    X(25, 27, play_recordfile_end, lirko_void_cb, lirko_win_set_play_recordfile_end_cb,            \
      lirko_set_play_recordfile_end_cb, lirko_get_play_recordfile_end_cb)                          \
    X(26, 28, audio_enabledcall, lirko_uid_list_result_cb, lirko_win_set_audio_enabledcall_cb,     \
      lirko_set_audio_enabledcall_cb, lirko_get_audio_enabledcall_cb)                              \
    X(27, 36, multimedia_message, lirko_text_cb, lirko_win_set_multimedia_message_cb,              \
      lirko_set_multimedia_message_cb, lirko_get_multimedia_message_cb)                            \
    X(28, 37, external_message, lirko_text_cb, lirko_win_set_external_message_cb,                  \
      lirko_set_external_message_cb, lirko_get_external_message_cb)                                \
    X(29, 38, get_watch_group, lirko_watch_group_list_cb, lirko_win_get_watch_group_cb,            \
      lirko_set_get_watch_group_cb, lirko_get_get_watch_group_cb)                                  \
    X(30, 39, rm_watch_group, lirko_watch_group_list_cb, lirko_win_rm_watch_group_cb,              \
      lirko_set_rm_watch_group_cb, lirko_get_rm_watch_group_cb)                                    \
    X(31, 40, add_watch_group, lirko_watch_group_list_cb, lirko_win_add_watch_group_cb,            \
      lirko_set_add_watch_group_cb, lirko_get_add_watch_group_cb)                                  \
    X(32, 41, start_watch_group, lirko_gid_cb, lirko_win_set_start_watch_group_cb,                 \
      lirko_set_start_watch_group_cb, lirko_get_start_watch_group_cb)                              \
    X(33, 31, switch_location, lirko_uid_list_result_cb, lirko_win_set_switch_location_cb,         \
      lirko_set_switch_location_cb, lirko_get_switch_location_cb)                                  \
    X(34, 42, send_invite_timeout, lirko_void_cb, lirko_win_set_send_invite_timeout_cb,            \
      lirko_set_send_invite_timeout_cb, lirko_get_send_invite_timeout_cb)                          \
    X(35, 43, send_response_invite_timeout, lirko_void_cb,                                         \
      lirko_win_set_send_response_invite_timeout_cb, lirko_set_send_response_invite_timeout_cb,    \
      lirko_get_response_invite_timeout_cb)                                                        \
    X(36, 44, send_invite_ack, lirko_invite_ack_cb, lirko_win_set_send_invite_ack_cb,              \
      lirko_set_send_invite_ack_cb, lirko_get_invite_ack_cb)                                       \
    X(37, 45, send_response_invite_ack, lirko_result_cb,                                           \
      lirko_win_set_send_response_invite_ack_cb, lirko_set_send_response_invite_ack_cb,            \
      lirko_get_response_invite_ack_cb)                                                            \
    X(38, 46, send_push_invite, lirko_push_invite_cb, lirko_win_set_send_push_invite_cb,           \
      lirko_set_send_push_invite_cb, lirko_get_push_invite)                                        \
    X(39, 47, send_push_response_invite, lirko_push_response_invite_cb,                            \
      lirko_win_set_send_push_response_invite_cb, lirko_set_send_push_response_invite_cb,          \
      lirko_get_push_response_invite)                                                              \
    X(40, 48, query_department_tree, lirko_void_cb, lirko_win_set_query_department_cb,             \
      lirko_set_query_department_tree_cb, lirko_get_query_department)                              \
    X(41, 49, send_encryp_timeout, lirko_void_cb, lirko_win_set_send_encryp_timeout_cb,            \
      lirko_set_send_encryp_timeout_cb, lirko_get_send_encryp_timeout_cb)                          \
    X(42, 50, send_encryp_ack, lirko_result_cb, lirko_win_set_send_encryp_ack_cb,                  \
      lirko_set_send_encryp_ack_cb, lirko_get_send_encryp_ack_cb)                                  \
    X(43, 51, sos_alarm, lirko_sos_alarm_cb, lirko_win_set_sos_alarm_new_cb,                       \
      lirko_set_sos_alarm_cb, lirko_get_sos_alarm)                                                 \
    X(44, 52, process_sos, lirko_result_cb, lirko_win_set_process_sos_cb,                          \
      lirko_set_process_sos_cb, lirko_get_process_sos)                                             \
    X(45, 53, close_sos, lirko_result_cb, lirko_win_set_close_sos_cb, lirko_set_close_sos_cb,      \
      lirko_get_close_sos)                                                                         \
    X_INTERNAL(46, 54, single_call, lirko_result_cb, lirko_set_single_call_cb,                     \
               lirko_get_single_call_ack)

#define LIRKO_CALLBACK_COUNT 47

/*
 * Engine life and login. Every export checks its arguments on the caller's
 * thread and runs its body on the engine's looper thread, waiting for it; a
 * call made from inside a callback (which runs on that thread) runs in
 * place. Results: 0 or a count for success, small negative codes for
 * failure; errors that happen later arrive through the error callback.
 */

/* Makes the engine on the directory holding custom.ini (NULL: the library's
 * own directory). 0 when made; -1 when it could not be made or an engine is
 * loaded already. Does not log in. */
LIRKO_API int lirko_win_on_load(const char *dir);
/* Destroys the engine; nothing is reported to the application during the
 * teardown. Safe without a loaded engine. Must not be called from a
 * callback. */
LIRKO_API void lirko_win_on_unload(void);

/* Starts a login: 0 once the arguments pass (account and password not NULL,
 * role >= 0), -1 otherwise or without an engine. The outcome arrives through
 * the online-status and error callbacks. The password is the plain text. */
LIRKO_API int lirko_win_login(const char *account, const char *password, int role);
/* Logs in with the account saved in custom.ini ([account] user, password,
 * role, encrypted): 0 when a login was started, -1 when none is saved. */
LIRKO_API int lirko_win_loginWithSaved(void);
/* Logs out; the logged-out state and error -12 arrive through the
 * callbacks. */
LIRKO_API int lirko_win_logout(void);
/* The login state; LIRKO_STATUS_NONE without an engine. */
LIRKO_API LIRKO_ONLINE_STATUS lirko_win_getOnlineStatus(void);

/*
 * Exported callback setters: NULL is refused with -1 and keeps the callback
 * registered before; otherwise the callback is stored on the engine's looper
 * and the result is 0 (-1 while no engine is loaded). There is no way to
 * clear a registered callback.
 */
#define LIRKO_DECLARE_WIN_SETTER(slot, listener, field, type, win_setter, setter, getter)          \
    LIRKO_API int win_setter(type cb);
#define LIRKO_NO_WIN_SETTER(slot, listener, field, type, setter, getter)
LIRKO_CALLBACK_TABLE(LIRKO_DECLARE_WIN_SETTER, LIRKO_NO_WIN_SETTER)
#undef LIRKO_DECLARE_WIN_SETTER
#undef LIRKO_NO_WIN_SETTER

/*
 * The department record of did, or NULL. The record belongs to the engine:
 * it stays valid until the department tree has been replaced two more times
 * (a logout or a lost connection empties the tree and counts as one), or
 * until the engine is unloaded. The lookup runs on the engine's thread.
 */
LIRKO_API department_t *lirko_win_get_department_by_did(uint32_t did);

/*
 * Account and settings. Texts are UTF-8 unless said otherwise.
 */

/* Saves account, password (as given: [account] encrypted tells the saved
 * login whether it is already the digest) and role in custom.ini: 0, or -1
 * when account or password is NULL. */
LIRKO_API int lirko_win_saveAccount(const char *account, const char *password, int role);
/* Forgets the saved account: 0. */
LIRKO_API int lirko_win_clearAccount(void);
/* 1 when an account with a password is saved. */
LIRKO_API lirko_boolean_t lirko_win_hasAccount(void);
/* Copies the saved account and password (each at most
 * LIRKO_ACCOUNT_BUF_SIZE - 1 bytes, terminated) and stores the role; a NULL
 * pointer skips that value. 0, or -1 with nothing written when no account
 * with a password is saved. */
LIRKO_API int lirko_win_getSavedAccount(char *account, char *password, int *role);
/* Asks the server to rename the own user; the answer arrives through the
 * change-name callback. -1 for NULL or an empty name. */
LIRKO_API int lirko_win_changeName(const char *name);
/* Asks the server to change the password; the answer arrives through the
 * change-password callback. -1 when either is NULL or empty. */
LIRKO_API int lirko_win_changePassword(const char *old_password, const char *new_password);
/* 1 when the own user may talk. */
LIRKO_API lirko_boolean_t lirko_win_hasAudioEnabled(void);
/* The join-default-group flag (1 when the engine is loaded). */
LIRKO_API int lirko_win_set_join_default_group(lirko_boolean_t on);
LIRKO_API lirko_boolean_t lirko_win_is_join_default_group(void);

/* Store one setting in custom.ini and save the file: the page's context text
 * ([account] context), the addressing servers ([network] dns) and the
 * recording codec ([record] codec). The text is in the system's 8-bit code
 * page. 0 when saved; -1 for NULL, a text too long to be read back, or a
 * failed save. */
LIRKO_API int lirko_win_save_context(const char *context);
LIRKO_API int lirko_win_save_dns(const char *dns);
LIRKO_API int lirko_win_save_record_code(const char *codec);
/* Sets the log threshold (2 to 8); other values change nothing. */
LIRKO_API int lirko_win_set_log_priority(int priority);
/* Writes the engine's version text and its NUL into buf (at least 21 bytes):
 * 0, or -1 for NULL. */
LIRKO_API int lirko_win_get_version(char *buf);
/* Voice quality since the last call, as a class 0 to 5. */
LIRKO_API int lirko_win_get_mos(void);

/*
 * Talk and calls. Results of requests sent to the server are those of
 * queuing them (0 when queued); the server's answers arrive through the
 * callbacks.
 */

/* Joins a group: -1 for gid 0 or while not online. */
LIRKO_API int lirko_win_joinGroup(gid_t gid);
/* Leaves the current group: -1 while not online or in no group. */
LIRKO_API int lirko_win_leaveGroup(void);
/* Requests and releases the floor of the current group. */
LIRKO_API int lirko_win_startSpeak(void);
LIRKO_API int lirko_win_stopSpeak(void);
/* Calls users (a temporary group). */
LIRKO_API int lirko_win_Call(const uid_t *uids, size_t count);
/* Full-duplex call to one user. */
LIRKO_API int lirko_win_single_call_full_duplex(uid_t uid);
/* 1 while the own user waits for, holds or releases the floor. */
LIRKO_API lirko_boolean_t lirko_win_isSpeaking(void);
/* 1 while a member's voice is being played. */
LIRKO_API lirko_boolean_t lirko_win_isListening(void);
/* The current group, 0 when none (or not known to the directory). */
LIRKO_API gid_t lirko_win_getCurrentGroup(void);
LIRKO_API int lirko_win_send_invite(const uid_t *invitees, size_t count, lirko_boolean_t with_audio,
                                    lirko_boolean_t with_video, const char *msg,
                                    lirko_boolean_t is_full_duplex);
LIRKO_API int lirko_win_send_response_invite(uint64_t invite_id, uid_t inviter,
                                             lirko_boolean_t accept);
/* Voice encryption for targets: scope 0 departments, 1 groups, 2 users;
 * type is the key method; a NULL key switches encryption off. */
LIRKO_API int lirko_win_set_AudioEncryp(int scope, const uint32_t *targets, size_t count,
                                        const char *type, const char *key);
LIRKO_API int lirko_win_process_sos_alarm(uid_t uid, uint64_t uuid);
LIRKO_API int lirko_win_close_sos_alarm(uid_t uid, uint64_t uuid);
/* Queues length bytes of payload on the signalling connection framed under
 * type_name. */
LIRKO_API int lirko_win_send_mms(const void *payload, uint32_t length, const char *type_name);
/* External (headset) audio input: accepted and ignored; 0. */
LIRKO_API int lirko_win_set_btdsp_data(const void *data, int length, int reserved1, int reserved2);
LIRKO_API int lirko_win_finished_btdsp_data(void);

/*
 * Dispatching; answers through the dispatcher, audio-enabled-call, take-mic
 * and switch-location callbacks. Every form gives -1 for a NULL uid array or
 * count 0; the array is read during the call only.
 */

/* Pulls the users into group gid (-1 for gid 0). */
LIRKO_API int lirko_win_schedule_temp_join_group(gid_t gid, const uid_t *uids, size_t count);
/* Sends the users out of their temporary group; gid must be 0. */
LIRKO_API int lirko_win_schedule_temp_leave_group(gid_t gid, const uid_t *uids, size_t count);
/* Pulls the users into the current group (-1 when in no group). */
LIRKO_API int lirko_win_schedule_force_dispatch(const uid_t *uids, size_t count);
LIRKO_API int lirko_win_schedule_audioenable(const uid_t *uids, size_t count,
                                             lirko_boolean_t enable);
LIRKO_API int lirko_win_schedule_takemic(const uid_t *uids, size_t count);
/* Location reporting; period in seconds, 0 sent as 1 and above 300 as 300. */
LIRKO_API int lirko_win_schedule_switch_location(const uid_t *uids, size_t count,
                                                 lirko_boolean_t enable, uint32_t period);

/*
 * Broadcasts and recorded voice. Paths are in the system's 8-bit code page.
 */

/* Sends a text broadcast: -1 for NULL or count 0. */
LIRKO_API int lirko_win_broadcast_send_text(const char *text, const uid_t *uids, size_t count);
/* Records a voice broadcast until stopped; the engine keeps the recording. */
LIRKO_API int lirko_win_broadcast_start_record(void);
/* Stops that recording and waits (bounded) until the recorder has stopped.
 * From a callback it gives -1 at once. */
LIRKO_API int lirko_win_broadcast_stop_record(void);
/* Plays the recorded broadcast back; on_stop runs when it has ended. */
LIRKO_API int lirko_win_broadcast_play_recordaudio(lirko_play_stop_cb on_stop);
/* Sends the recorded broadcast to the users. */
LIRKO_API int lirko_win_broadcast_send_recordaudio(const uid_t *uids, size_t count);
/* Records the own voice into a new file in dir whose full path (at most 255
 * bytes) is written into file_name (at least 256 bytes): 0, or -1 for NULL
 * arguments, a path that does not fit or a failed start. The start- and
 * finish-record callbacks follow. */
LIRKO_API int lirko_win_start_record(const char *dir, char *file_name);
/* Stops that recording and waits (bounded) until the file is closed. From a
 * callback it gives -1 at once. */
LIRKO_API int lirko_win_stop_record(void);
/* Records received voice into files under dir (enable needs a dir). */
LIRKO_API int lirko_win_record_set_enabled(lirko_boolean_t enable, const char *dir);
/* Plays a recorded-voice file: 0 started, -1 refused or unreadable, -2 when
 * the name says neither codec. */
LIRKO_API int lirko_win_record_play_audio(const char *path);
LIRKO_API int lirko_win_record_stop_play_audio(void);
/* Converts a recorded-voice file into raw 16-bit little-endian mono PCM at
 * 8000 Hz: 0, -1 on failure (including a file with no frame to decode, or one
 * cut short; no output file is then left), -2 when the name says neither
 * codec. */
LIRKO_API int lirko_win_audio_coded_to_pcm(const char *in_path, const char *out_path);

/*
 * Directory queries and lists. Sizes first, then copies into arrays the
 * caller allocates: -3 for a NULL or zero-sized destination and -2 for one
 * smaller than the list (group, member and speaking-user lists), -1 for the
 * other bad arguments.
 */

LIRKO_API int lirko_win_getGroupSize(void);
LIRKO_API int lirko_win_getMemberSize(gid_t gid);
LIRKO_API int lirko_win_getAllUserSize(void);
LIRKO_API int lirko_win_getSpeakingUsersSize(void);
LIRKO_API int lirko_win_getWatchedGroupCount(void);
/* Number of group records over all departments held. */
LIRKO_API int lirko_win_query_department_group_size(void);
/* The own department id, 0 when none. */
LIRKO_API uint32_t lirko_win_get_current_did(void);
/* The own uid, 0 when not known. */
LIRKO_API uid_t lirko_win_getUid(void);

/* The groups in the directory's order: the number written. */
LIRKO_API int lirko_win_getGroupList(win_group_t *groups, size_t capacity);
/* The same; with force it also asks the server again, at most once in 6 s
 * (the new list arrives through the group-list callback). */
LIRKO_API int lirko_win_getGroupList_extern(win_group_t *groups, size_t capacity,
                                            lirko_boolean_t force);
/* One group: 0, or -1 for NULL, gid 0 or a group not held. */
LIRKO_API int lirko_win_getGroupByGid(win_group_t *group, gid_t gid);
/* The members of gid without the own user, in display order: the number
 * written. */
LIRKO_API int lirko_win_getMemberList(win_member_t *members, size_t capacity, gid_t gid);
/* The same, also asking the server for the members again. */
LIRKO_API int lirko_win_getMemberList_refresh(win_member_t *members, size_t capacity, gid_t gid);
/* One user: 1, or -1 for NULL, uid 0 or a user not held (a query is sent;
 * the users-changed callback follows). */
LIRKO_API int lirko_win_getUser(win_user_t *user, uid_t uid);
/* One record per uid in order: the number written, or -1 at the first user
 * not held (the records before it stay written). */
LIRKO_API int lirko_win_getUsers(win_user_t *users, const uid_t *uids, size_t count);
/* The uids of every user held. */
LIRKO_API int lirko_win_getAllUsersId(uid_t *uids, size_t capacity);
/* The own user: 0, or -1 when not known. */
LIRKO_API int lirko_win_getCurrentUser(win_user_t *user);
/* The own name, at most LIRKO_NAME_BUF_SIZE - 1 bytes and terminated: 0, or
 * -1 when not known. */
LIRKO_API int lirko_win_getName(char *name);
/* One record per group where someone speaks (gid = that group). */
LIRKO_API int lirko_win_getSpeakingUsers(win_user_t *users, size_t capacity);
/* The user being played: 0, or -1 when none. */
LIRKO_API int lirko_win_getPlayingSoundUser(win_user_t *user);
/* The watched groups the directory holds: the number written; 0 when the
 * capacity is below the watched count. */
LIRKO_API int lirko_win_getWatchGroups(win_group_t *groups, size_t capacity);
/* The groups of every department held, department after department, with
 * did set: at most capacity records into *groups; 0. */
LIRKO_API int lirko_win_query_department_group(win_group_t **groups, size_t capacity);

/* Watched groups and departments; answers through the callbacks. */
LIRKO_API int lirko_win_startWatchGroup(gid_t gid);
LIRKO_API int lirko_win_stopWatchGroup(gid_t gid);
LIRKO_API int lirko_win_GetWatchGroup(void);
LIRKO_API int lirko_win_AddWatchGroup(const gid_t *gids, int count);
LIRKO_API int lirko_win_RmWatchGroup(const gid_t *gids, int count);
LIRKO_API int lirko_win_query_department_tree(uint32_t did);

/*
 * Frees arrays made by the engine's internal list queries (never by the
 * lirko_win_ list exports, which copy into the caller's arrays): -1 for a
 * NULL array or count 0, else 0.
 */
struct cache_group;
struct cache_user;
struct member_entry;
LIRKO_API int lirko_win_freeGroupList(struct cache_group *groups, int count);
LIRKO_API int lirko_win_freeWatchGroups(struct cache_group *groups, int count);
LIRKO_API int lirko_win_freeMemberList(struct member_entry *members, int count);
LIRKO_API int lirko_win_freeUsers(struct cache_user *users, int count);
LIRKO_API int lirko_win_freeSpeakingUsers(struct cache_user *users, int count);
LIRKO_API int lirko_win_freeAllUsersId(uid_t *uids);
LIRKO_API int lirko_win_freePlayingSoundUser(struct cache_user *user);

#ifdef __cplusplus
} /* extern "C" */
#endif

/* The record layouts are part of the interface: pin them. */
#ifdef __cplusplus
#define LIRKO_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
#else
#define LIRKO_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#endif

LIRKO_STATIC_ASSERT(sizeof(uid_t) == 4 && (uid_t)-1 > 0, "uid_t is 32-bit unsigned");
LIRKO_STATIC_ASSERT(sizeof(gid_t) == 4 && (gid_t)-1 > 0, "gid_t is 32-bit unsigned");
LIRKO_STATIC_ASSERT(sizeof(lirko_boolean_t) == sizeof(int), "boolean is int-sized");
LIRKO_STATIC_ASSERT(sizeof(LIRKO_ONLINE_STATUS) == 4, "login state is 32-bit");

LIRKO_STATIC_ASSERT(sizeof(win_group_t) == 100, "win_group_t is 100 bytes");
LIRKO_STATIC_ASSERT(offsetof(win_group_t, gid) == 4, "win_group_t.gid");
LIRKO_STATIC_ASSERT(offsetof(win_group_t, name) == 8, "win_group_t.name");
LIRKO_STATIC_ASSERT(offsetof(win_group_t, prior) == 72, "win_group_t.prior");
LIRKO_STATIC_ASSERT(offsetof(win_group_t, ip) == 76, "win_group_t.ip");
LIRKO_STATIC_ASSERT(offsetof(win_group_t, port) == 80, "win_group_t.port");
LIRKO_STATIC_ASSERT(offsetof(win_group_t, did) == 84, "win_group_t.did");
LIRKO_STATIC_ASSERT(offsetof(win_group_t, has_key) == 88, "win_group_t.has_key");
LIRKO_STATIC_ASSERT(offsetof(win_group_t, is_encryp) == 92, "win_group_t.is_encryp");
LIRKO_STATIC_ASSERT(offsetof(win_group_t, sort_weight) == 96, "win_group_t.sort_weight");

LIRKO_STATIC_ASSERT(sizeof(win_member_t) == 112, "win_member_t is 112 bytes");
LIRKO_STATIC_ASSERT(offsetof(win_member_t, ingroup) == 16, "win_member_t.ingroup");
LIRKO_STATIC_ASSERT(offsetof(win_member_t, location_period) == 36, "win_member_t.location_period");
LIRKO_STATIC_ASSERT(offsetof(win_member_t, name) == 40, "win_member_t.name");
LIRKO_STATIC_ASSERT(offsetof(win_member_t, encrypt_on) == 104, "win_member_t.encrypt_on");
LIRKO_STATIC_ASSERT(offsetof(win_member_t, sort_weight) == 108, "win_member_t.sort_weight");

LIRKO_STATIC_ASSERT(sizeof(win_user_t) == 108, "win_user_t is 108 bytes");
LIRKO_STATIC_ASSERT(offsetof(win_user_t, has_gid) == 16, "win_user_t.has_gid");
LIRKO_STATIC_ASSERT(offsetof(win_user_t, location_period) == 32, "win_user_t.location_period");
LIRKO_STATIC_ASSERT(offsetof(win_user_t, name) == 36, "win_user_t.name");
LIRKO_STATIC_ASSERT(offsetof(win_user_t, encrypt_on) == 100, "win_user_t.encrypt_on");
LIRKO_STATIC_ASSERT(offsetof(win_user_t, has_encrypt) == 101, "win_user_t.has_encrypt");
LIRKO_STATIC_ASSERT(offsetof(win_user_t, sort_weight) == 104, "win_user_t.sort_weight");

LIRKO_STATIC_ASSERT(sizeof(sos_alarm_t) == 400, "sos_alarm_t is 400 bytes");
LIRKO_STATIC_ASSERT(offsetof(sos_alarm_t, gid) == 16, "sos_alarm_t.gid");
LIRKO_STATIC_ASSERT(offsetof(sos_alarm_t, longitude) == 40, "sos_alarm_t.longitude");
LIRKO_STATIC_ASSERT(offsetof(sos_alarm_t, location_type) == 64, "sos_alarm_t.location_type");
LIRKO_STATIC_ASSERT(offsetof(sos_alarm_t, address) == 68, "sos_alarm_t.address");
LIRKO_STATIC_ASSERT(offsetof(sos_alarm_t, speed) == 200, "sos_alarm_t.speed");
LIRKO_STATIC_ASSERT(offsetof(sos_alarm_t, resend) == 220, "sos_alarm_t.resend");
LIRKO_STATIC_ASSERT(offsetof(sos_alarm_t, devicesn) == 221, "sos_alarm_t.devicesn");
LIRKO_STATIC_ASSERT(offsetof(sos_alarm_t, source) == 352, "sos_alarm_t.source");
LIRKO_STATIC_ASSERT(offsetof(sos_alarm_t, accuracy) == 360, "sos_alarm_t.accuracy");
LIRKO_STATIC_ASSERT(offsetof(sos_alarm_t, year) == 368, "sos_alarm_t.year");
LIRKO_STATIC_ASSERT(offsetof(sos_alarm_t, millisecond) == 392, "sos_alarm_t.millisecond");

LIRKO_STATIC_ASSERT(offsetof(department_t, name) == 12, "department_t.name");
LIRKO_STATIC_ASSERT(offsetof(department_t, n_groups) == 80, "department_t.n_groups");
LIRKO_STATIC_ASSERT(offsetof(department_t, groups) == 88, "department_t.groups");
LIRKO_STATIC_ASSERT(offsetof(department_t, has_super) == 96, "department_t.has_super");
LIRKO_STATIC_ASSERT(offsetof(department_t, n_subdid) == 104, "department_t.n_subdid");
LIRKO_STATIC_ASSERT(offsetof(department_t, subdid) == 112, "department_t.subdid");
LIRKO_STATIC_ASSERT(sizeof(department_t) == 120, "department_t is 120 bytes");

#undef LIRKO_STATIC_ASSERT

#endif /* LIRKO_WIN_H */
