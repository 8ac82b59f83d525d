// The talk exports: join and leave a group, press and release talk, and
// whether the own user talks or a member's voice plays.
#include "lirko.h"
#include "lirko_talk.h"
#include "lirko_win.h"
#include "lirko_win_frame.h"
#include "list.h"
#include "session.h"
#include "sessionset.h"

static int join_body(lirko_t *engine, void *arg)
{
    return lirko_join_group(engine, *(gid_t *)arg);
}

int lirko_win_joinGroup(gid_t gid)
{
    return lirko_win_run(join_body, &gid, -1);
}

static int leave_body(lirko_t *engine, void *arg)
{
    (void)arg;
    return lirko_leave_group(engine);
}

int lirko_win_leaveGroup(void)
{
    return lirko_win_run(leave_body, NULL, -1);
}

static int start_speak_body(lirko_t *engine, void *arg)
{
    (void)arg;
    return lirko_start_speak(engine);
}

int lirko_win_startSpeak(void)
{
    return lirko_win_run(start_speak_body, NULL, -1);
}

static int stop_speak_body(lirko_t *engine, void *arg)
{
    (void)arg;
    return lirko_stop_speak(engine);
}

int lirko_win_stopSpeak(void)
{
    return lirko_win_run(stop_speak_body, NULL, -1);
}

static int is_speaking_body(lirko_t *engine, void *arg)
{
    (void)arg;
    session *s = sessionset_current(engine->sessionset);
    return s && (s->status == SESSION_STATUS_WAIT_MIC || s->status == SESSION_STATUS_SPEAKING ||
                 s->status == SESSION_STATUS_STOPPING);
}

lirko_boolean_t lirko_win_isSpeaking(void)
{
    return lirko_win_run(is_speaking_body, NULL, 0);
}

static int is_listening_body(lirko_t *engine, void *arg)
{
    (void)arg;
    sessionset *set = engine->sessionset;
    session *s = sessionset_current(set);
    if (s && s->status == SESSION_STATUS_LISTENING)
        return 1;
    for (list_node *n = set ? list_begin(set->watched) : NULL; n; n = list_next(n)) {
        if (((session *)list_data_get(n))->status == SESSION_STATUS_LISTENING)
            return 1;
    }
    return 0;
}

lirko_boolean_t lirko_win_isListening(void)
{
    return lirko_win_run(is_listening_body, NULL, 0);
}
