#include "lirko_standin.h"

#include <algorithm>
#include <cstring>
#include <sstream>

namespace standin
{

State &S()
{
    static State s;
    return s;
}

void Reset()
{
    S() = State();
}

int Result(const std::string &name, int def)
{
    auto it = S().results.find(name);
    return it == S().results.end() ? def : it->second;
}

} // namespace standin

using standin::Result;
using standin::S;

namespace
{

std::string Str(const char *s)
{
    return s ? "\"" + std::string(s) + "\"" : std::string("NULL");
}

template <typename T> std::string Ids(const T *ids, long long n)
{
    if (!ids)
        return "NULL";
    std::ostringstream o;
    o << "[";
    for (long long i = 0; i < n; i++)
        o << (i ? "," : "") << ids[i];
    o << "]";
    return o.str();
}

template <typename... A> void Rec(const char *name, const A &...args)
{
    std::ostringstream o;
    o << name << "(";
    int i = 0;
    ((o << (i++ ? "," : "") << args), ...);
    o << ")";
    S().calls.push_back(o.str());
}

int Capacity(size_t capacity, size_t have)
{
    return static_cast<int>(std::min(capacity, have));
}

} // namespace

extern "C" {

#define STANDIN_SETTER(slot, listener, field, type, win_setter, setter, getter)                    \
    int win_setter(type cb)                                                                        \
    {                                                                                              \
        S().setters.push_back(#win_setter);                                                        \
        S().callbacks[#field] = reinterpret_cast<void *>(cb);                                      \
        return 0;                                                                                  \
    }
#define STANDIN_NO_SETTER(slot, listener, field, type, setter, getter)
LIRKO_CALLBACK_TABLE(STANDIN_SETTER, STANDIN_NO_SETTER)

int lirko_win_login(const char *account, const char *password, int role)
{
    Rec("lirko_win_login", Str(account), Str(password), role);
    return Result("lirko_win_login");
}
int lirko_win_loginWithSaved(void)
{
    Rec("lirko_win_loginWithSaved");
    return Result("lirko_win_loginWithSaved");
}
int lirko_win_logout(void)
{
    Rec("lirko_win_logout");
    return Result("lirko_win_logout");
}
LIRKO_ONLINE_STATUS lirko_win_getOnlineStatus(void)
{
    Rec("lirko_win_getOnlineStatus");
    return static_cast<LIRKO_ONLINE_STATUS>(Result("lirko_win_getOnlineStatus", 3));
}
department_t *lirko_win_get_department_by_did(uint32_t did)
{
    Rec("lirko_win_get_department_by_did", did);
    static department_t dept{};
    return S().has_department ? &dept : nullptr;
}
int lirko_win_saveAccount(const char *account, const char *password, int role)
{
    Rec("lirko_win_saveAccount", Str(account), Str(password), role);
    return Result("lirko_win_saveAccount");
}
int lirko_win_clearAccount(void)
{
    Rec("lirko_win_clearAccount");
    return Result("lirko_win_clearAccount");
}
lirko_boolean_t lirko_win_hasAccount(void)
{
    Rec("lirko_win_hasAccount");
    return Result("lirko_win_hasAccount");
}
int lirko_win_getSavedAccount(char *account, char *password, int *role)
{
    Rec("lirko_win_getSavedAccount");
    snprintf(account, LIRKO_ACCOUNT_BUF_SIZE, "%s", S().saved_account.c_str());
    snprintf(password, LIRKO_PASSWORD_BUF_SIZE, "%s", S().saved_password.c_str());
    *role = S().saved_role;
    return Result("lirko_win_getSavedAccount");
}
int lirko_win_changeName(const char *name)
{
    Rec("lirko_win_changeName", Str(name));
    return Result("lirko_win_changeName");
}
int lirko_win_changePassword(const char *old_password, const char *new_password)
{
    Rec("lirko_win_changePassword", Str(old_password), Str(new_password));
    return Result("lirko_win_changePassword");
}
lirko_boolean_t lirko_win_hasAudioEnabled(void)
{
    Rec("lirko_win_hasAudioEnabled");
    return Result("lirko_win_hasAudioEnabled", 1);
}
int lirko_win_save_context(const char *context)
{
    Rec("lirko_win_save_context", Str(context));
    return Result("lirko_win_save_context");
}
int lirko_win_save_dns(const char *dns)
{
    Rec("lirko_win_save_dns", Str(dns));
    return Result("lirko_win_save_dns");
}
int lirko_win_save_record_code(const char *codec)
{
    Rec("lirko_win_save_record_code", Str(codec));
    return Result("lirko_win_save_record_code");
}
int lirko_win_get_mos(void)
{
    Rec("lirko_win_get_mos");
    return Result("lirko_win_get_mos", 4);
}
int lirko_win_joinGroup(gid_t gid)
{
    Rec("lirko_win_joinGroup", gid);
    return Result("lirko_win_joinGroup");
}
int lirko_win_leaveGroup(void)
{
    Rec("lirko_win_leaveGroup");
    return Result("lirko_win_leaveGroup");
}
int lirko_win_startSpeak(void)
{
    Rec("lirko_win_startSpeak");
    return Result("lirko_win_startSpeak");
}
int lirko_win_stopSpeak(void)
{
    Rec("lirko_win_stopSpeak");
    return Result("lirko_win_stopSpeak");
}
int lirko_win_Call(const uid_t *uids, size_t count)
{
    Rec("lirko_win_Call", Ids(uids, static_cast<long long>(count)), count);
    return Result("lirko_win_Call");
}
int lirko_win_single_call_full_duplex(uid_t uid)
{
    Rec("lirko_win_single_call_full_duplex", uid);
    return Result("lirko_win_single_call_full_duplex");
}
lirko_boolean_t lirko_win_isSpeaking(void)
{
    Rec("lirko_win_isSpeaking");
    return Result("lirko_win_isSpeaking");
}
lirko_boolean_t lirko_win_isListening(void)
{
    Rec("lirko_win_isListening");
    return Result("lirko_win_isListening");
}
gid_t lirko_win_getCurrentGroup(void)
{
    Rec("lirko_win_getCurrentGroup");
    return static_cast<gid_t>(Result("lirko_win_getCurrentGroup"));
}
int lirko_win_send_invite(const uid_t *invitees, size_t count, lirko_boolean_t with_audio,
                          lirko_boolean_t with_video, const char *msg,
                          lirko_boolean_t is_full_duplex)
{
    Rec("lirko_win_send_invite", Ids(invitees, static_cast<long long>(count)), count, with_audio,
        with_video, Str(msg), is_full_duplex);
    return Result("lirko_win_send_invite", 7);
}
int lirko_win_send_response_invite(uint64_t invite_id, uid_t inviter, lirko_boolean_t accept)
{
    Rec("lirko_win_send_response_invite", invite_id, inviter, accept);
    return Result("lirko_win_send_response_invite", 7);
}
int lirko_win_set_AudioEncryp(int scope, const uint32_t *targets, size_t count, const char *type,
                              const char *key)
{
    Rec("lirko_win_set_AudioEncryp", scope, Ids(targets, static_cast<long long>(count)), count,
        Str(type), Str(key));
    return Result("lirko_win_set_AudioEncryp", 7);
}
int lirko_win_process_sos_alarm(uid_t uid, uint64_t uuid)
{
    Rec("lirko_win_process_sos_alarm", uid, uuid);
    return Result("lirko_win_process_sos_alarm");
}
int lirko_win_close_sos_alarm(uid_t uid, uint64_t uuid)
{
    Rec("lirko_win_close_sos_alarm", uid, uuid);
    return Result("lirko_win_close_sos_alarm");
}
int lirko_win_send_mms(const void *payload, uint32_t length, const char *type_name)
{
    Rec("lirko_win_send_mms", Str(std::string(static_cast<const char *>(payload), length).c_str()),
        length, Str(type_name));
    return Result("lirko_win_send_mms");
}
int lirko_win_schedule_temp_join_group(gid_t gid, const uid_t *uids, size_t count)
{
    Rec("lirko_win_schedule_temp_join_group", gid, Ids(uids, static_cast<long long>(count)), count);
    return Result("lirko_win_schedule_temp_join_group");
}
int lirko_win_schedule_temp_leave_group(gid_t gid, const uid_t *uids, size_t count)
{
    Rec("lirko_win_schedule_temp_leave_group", gid, Ids(uids, static_cast<long long>(count)),
        count);
    return Result("lirko_win_schedule_temp_leave_group");
}
int lirko_win_schedule_force_dispatch(const uid_t *uids, size_t count)
{
    Rec("lirko_win_schedule_force_dispatch", Ids(uids, static_cast<long long>(count)), count);
    return Result("lirko_win_schedule_force_dispatch");
}
int lirko_win_schedule_audioenable(const uid_t *uids, size_t count, lirko_boolean_t enable)
{
    Rec("lirko_win_schedule_audioenable", Ids(uids, static_cast<long long>(count)), count, enable);
    return Result("lirko_win_schedule_audioenable");
}
int lirko_win_schedule_takemic(const uid_t *uids, size_t count)
{
    Rec("lirko_win_schedule_takemic", Ids(uids, static_cast<long long>(count)), count);
    return Result("lirko_win_schedule_takemic");
}
int lirko_win_schedule_switch_location(const uid_t *uids, size_t count, lirko_boolean_t enable,
                                       uint32_t period)
{
    Rec("lirko_win_schedule_switch_location", Ids(uids, static_cast<long long>(count)), count,
        enable, period);
    return Result("lirko_win_schedule_switch_location");
}
int lirko_win_broadcast_send_text(const char *text, const uid_t *uids, size_t count)
{
    Rec("lirko_win_broadcast_send_text", Str(text), Ids(uids, static_cast<long long>(count)),
        count);
    return Result("lirko_win_broadcast_send_text");
}
int lirko_win_broadcast_start_record(void)
{
    Rec("lirko_win_broadcast_start_record");
    return Result("lirko_win_broadcast_start_record");
}
int lirko_win_broadcast_stop_record(void)
{
    Rec("lirko_win_broadcast_stop_record");
    return Result("lirko_win_broadcast_stop_record");
}
int lirko_win_broadcast_play_recordaudio(lirko_play_stop_cb on_stop)
{
    Rec("lirko_win_broadcast_play_recordaudio", on_stop ? "cb" : "NULL");
    S().callbacks["broadcast_play_stop"] = reinterpret_cast<void *>(on_stop);
    return Result("lirko_win_broadcast_play_recordaudio");
}
int lirko_win_broadcast_send_recordaudio(const uid_t *uids, size_t count)
{
    Rec("lirko_win_broadcast_send_recordaudio", Ids(uids, static_cast<long long>(count)), count);
    return Result("lirko_win_broadcast_send_recordaudio");
}
int lirko_win_start_record(const char *dir, char *file_name)
{
    Rec("lirko_win_start_record", Str(dir));
    int r = Result("lirko_win_start_record");
    if (r == 0)
        snprintf(file_name, 256, "%s", S().record_file.c_str());
    return r;
}
int lirko_win_stop_record(void)
{
    Rec("lirko_win_stop_record");
    return Result("lirko_win_stop_record");
}
int lirko_win_record_set_enabled(lirko_boolean_t enable, const char *dir)
{
    Rec("lirko_win_record_set_enabled", enable, Str(dir));
    return Result("lirko_win_record_set_enabled");
}
int lirko_win_record_play_audio(const char *path)
{
    Rec("lirko_win_record_play_audio", Str(path));
    return Result("lirko_win_record_play_audio");
}
int lirko_win_audio_coded_to_pcm(const char *in_path, const char *out_path)
{
    Rec("lirko_win_audio_coded_to_pcm", Str(in_path), Str(out_path));
    return Result("lirko_win_audio_coded_to_pcm");
}
int lirko_win_record_stop_play_audio(void)
{
    Rec("lirko_win_record_stop_play_audio");
    return Result("lirko_win_record_stop_play_audio");
}

int lirko_win_getGroupSize(void)
{
    Rec("lirko_win_getGroupSize");
    return static_cast<int>(S().groups.size()) + S().shrink;
}
int lirko_win_getMemberSize(gid_t gid)
{
    Rec("lirko_win_getMemberSize", gid);
    return static_cast<int>(S().members.size()) + S().shrink;
}
int lirko_win_getSpeakingUsersSize(void)
{
    Rec("lirko_win_getSpeakingUsersSize");
    return static_cast<int>(S().speakers.size()) + S().shrink;
}
int lirko_win_getWatchedGroupCount(void)
{
    Rec("lirko_win_getWatchedGroupCount");
    return static_cast<int>(S().watched.size()) + S().shrink;
}
int lirko_win_query_department_group_size(void)
{
    Rec("lirko_win_query_department_group_size");
    return static_cast<int>(S().department_groups.size()) + S().shrink;
}
uint32_t lirko_win_get_current_did(void)
{
    Rec("lirko_win_get_current_did");
    return S().current_did;
}
uid_t lirko_win_getUid(void)
{
    Rec("lirko_win_getUid");
    return S().self.uid;
}
int lirko_win_getGroupList(win_group_t *groups, size_t capacity)
{
    Rec("lirko_win_getGroupList", capacity);
    int n = Capacity(capacity, S().groups.size());
    std::copy(S().groups.begin(), S().groups.begin() + n, groups);
    return n;
}
int lirko_win_getGroupList_extern(win_group_t *groups, size_t capacity, lirko_boolean_t force)
{
    Rec("lirko_win_getGroupList_extern", capacity, force);
    int n = Capacity(capacity, S().groups.size());
    std::copy(S().groups.begin(), S().groups.begin() + n, groups);
    return n;
}
int lirko_win_getGroupByGid(win_group_t *group, gid_t gid)
{
    Rec("lirko_win_getGroupByGid", gid);
    for (const win_group_t &g : S().groups) {
        if (g.gid == gid) {
            *group = g;
            return 0;
        }
    }
    return -1;
}
static int FillMembers(win_member_t *members, size_t capacity)
{
    int n = Capacity(capacity, S().members.size());
    std::copy(S().members.begin(), S().members.begin() + n, members);
    return n;
}
int lirko_win_getMemberList(win_member_t *members, size_t capacity, gid_t gid)
{
    Rec("lirko_win_getMemberList", capacity, gid);
    return FillMembers(members, capacity);
}
int lirko_win_getMemberList_refresh(win_member_t *members, size_t capacity, gid_t gid)
{
    Rec("lirko_win_getMemberList_refresh", capacity, gid);
    return FillMembers(members, capacity);
}
int lirko_win_getUser(win_user_t *user, uid_t uid)
{
    Rec("lirko_win_getUser", uid);
    for (const win_user_t &u : S().users) {
        if (u.uid == uid) {
            *user = u;
            return 1;
        }
    }
    return -1;
}
int lirko_win_getUsers(win_user_t *users, const uid_t *uids, size_t count)
{
    Rec("lirko_win_getUsers", Ids(uids, static_cast<long long>(count)), count);
    for (size_t i = 0; i < count; i++) {
        auto it = std::find_if(S().users.begin(), S().users.end(),
                               [&](const win_user_t &u) { return u.uid == uids[i]; });
        if (it == S().users.end())
            return -1;
        users[i] = *it;
    }
    return static_cast<int>(count);
}
int lirko_win_getCurrentUser(win_user_t *user)
{
    Rec("lirko_win_getCurrentUser");
    *user = S().self;
    return 0;
}
int lirko_win_getName(char *name)
{
    Rec("lirko_win_getName");
    snprintf(name, LIRKO_NAME_BUF_SIZE, "%s", S().name.c_str());
    return 0;
}
int lirko_win_getSpeakingUsers(win_user_t *users, size_t capacity)
{
    Rec("lirko_win_getSpeakingUsers", capacity);
    int n = Capacity(capacity, S().speakers.size());
    std::copy(S().speakers.begin(), S().speakers.begin() + n, users);
    return n;
}
int lirko_win_getPlayingSoundUser(win_user_t *user)
{
    Rec("lirko_win_getPlayingSoundUser");
    *user = S().playing;
    return 0;
}
int lirko_win_getWatchGroups(win_group_t *groups, size_t capacity)
{
    Rec("lirko_win_getWatchGroups", capacity);
    int n = Capacity(capacity, S().watched.size());
    std::copy(S().watched.begin(), S().watched.begin() + n, groups);
    return n;
}
int lirko_win_query_department_group(win_group_t **groups, size_t capacity)
{
    Rec("lirko_win_query_department_group", capacity);
    int n = Capacity(capacity, S().department_groups.size());
    std::copy(S().department_groups.begin(), S().department_groups.begin() + n, *groups);
    return 0;
}
int lirko_win_startWatchGroup(gid_t gid)
{
    Rec("lirko_win_startWatchGroup", gid);
    return Result("lirko_win_startWatchGroup");
}
int lirko_win_stopWatchGroup(gid_t gid)
{
    Rec("lirko_win_stopWatchGroup", gid);
    return Result("lirko_win_stopWatchGroup");
}
int lirko_win_GetWatchGroup(void)
{
    Rec("lirko_win_GetWatchGroup");
    return Result("lirko_win_GetWatchGroup");
}
int lirko_win_AddWatchGroup(const gid_t *gids, int count)
{
    Rec("lirko_win_AddWatchGroup", Ids(gids, count), count);
    return Result("lirko_win_AddWatchGroup");
}
int lirko_win_RmWatchGroup(const gid_t *gids, int count)
{
    Rec("lirko_win_RmWatchGroup", Ids(gids, count), count);
    return Result("lirko_win_RmWatchGroup");
}
int lirko_win_query_department_tree(uint32_t did)
{
    Rec("lirko_win_query_department_tree", did);
    return Result("lirko_win_query_department_tree");
}

} // extern "C"
