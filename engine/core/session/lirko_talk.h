// The talk commands of the engine: join and leave a group, press and
// release talk, and the current session's UDP ping. Looper thread only.
#ifndef LIRKO_TALK_H
#define LIRKO_TALK_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct lirko_t lirko_t;

// Online and gid non-zero, else -1; the session set's join.
int lirko_join_group(lirko_t *engine, uint32_t gid);
// Online with a current group, else -1; leaves it telling the server.
int lirko_leave_group(lirko_t *engine);
// The current session's talk request (after the offline gate); -1 without
// a current session.
int lirko_start_speak(lirko_t *engine);
int lirko_stop_speak(lirko_t *engine);
// The current session's UDP keep-alive at once, when there is one.
void lirko_send_ping(lirko_t *engine);
// When not online: the error slot hears the last error, and the command is
// refused (-1) when that error is set. 0 lets it go on.
int lirko_offline_gate(lirko_t *engine);

#ifdef __cplusplus
}
#endif

#endif
