// The session set: the voice sessions of one engine, at most one current
// session (the joined group) and any number of watched-group sessions. It
// joins and leaves groups over the TCP connection, turns JoinGroupAck and
// CurrentGroup into sessions, starts watching groups when the directory's
// watch list changes, joins a default group when the group list arrives,
// and owns the voice-quality estimator. Made by the engine's module
// start-up; looper thread only.
#ifndef SESSIONSET_H
#define SESSIONSET_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct lirko_t lirko_t;
typedef struct list list;
typedef struct kvmos kvmos;
typedef struct session session;
typedef struct cache_group cache_group;

// Joining progress of sessionset_join_default.
enum {
    SESSIONSET_PROGRESS_NONE = 0,
    SESSIONSET_PROGRESS_LAST = 1,
    SESSIONSET_PROGRESS_DEFAULT = 2,
    SESSIONSET_PROGRESS_FIRST = 4,
};

typedef struct sessionset {
    lirko_t *engine;
    session *current; // the joined group's session (is_member)
    list *watched;    // of session*, in the order added (is_watcher)
    uint32_t in_join_gid;
    uint32_t last_gid;
    uint32_t first_join;
    uint32_t power_mode; // handed to the sessions; 1
    kvmos *mos;          // owned
    uint32_t progress;
    // The group whose join failed, for the default-group retry.
    uint32_t failed_gid;
} sessionset;

typedef struct sessionset_speaker {
    uint32_t gid;
    uint32_t uid;
} sessionset_speaker;

// Registers the JoinGroupAck and CurrentGroup handlers and subscribes
// watch_group_update and grouplist_changed; NULL when anything fails.
sessionset *sessionset_new(lirko_t *engine);
void sessionset_destroy(sessionset **set);
// Ends every session (the current one and the watched ones) and forgets
// any join in flight. The stop callbacks of a talk or a playback in progress
// are posted first (sessionset_destroy posts none).
void sessionset_clear(sessionset *set);
void sessionset_set_last_gid(sessionset *set, uint32_t gid);
// The group of the current session; 0 when there is none.
uint32_t sessionset_current_gid(const sessionset *set);
session *sessionset_current(const sessionset *set);

// 0 sent (or already in it), -1 for gid 0, a join in flight or a failed
// send.
int sessionset_join_group(sessionset *set, uint32_t gid);
// Leaves the current group (telling the server when send is set); -1 when
// there is none.
int sessionset_leave_group(sessionset *set, int send);
// Watches the group (gid, address and port all needed); 0 or -1.
int sessionset_start_watch_group(sessionset *set, const cache_group *group);
// The watched gids in list order: the count, -1 when more than capacity.
int sessionset_get_watch_gids(sessionset *set, uint32_t *out, uint32_t capacity);
// {gid, speaker} of the watched sessions with a speaker, then the current
// session's when it is not watched; the count (at most capacity).
int sessionset_get_speakers(sessionset *set, sessionset_speaker *out, uint32_t capacity);
// Joins the saved last group, else the default group, else the first one;
// once per login.
int sessionset_join_default(sessionset *set);

// The engine's voice-quality class; 0 without session set or estimator.
int lirko_get_mos(lirko_t *engine);

#ifdef __cplusplus
}
#endif

#endif
