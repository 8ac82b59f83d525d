#include "lirko_talk.h"

#include "hal_log.h"
#include "lirko.h"
#include "lirko_notify.h"
#include "session.h"
#include "sessionset.h"

static const char *TAG = "lirko";

int lirko_offline_gate(lirko_t *engine)
{
    if (engine->login_state == LIRKO_STATUS_ONLINE)
        return 0;
    LIRKO_NOTIFY(engine, on_error, NULL, engine->last_error);
    return engine->last_error != 0 ? -1 : 0;
}

int lirko_join_group(lirko_t *engine, uint32_t gid)
{
    if (!engine)
        return -1;
    hal_log_output(engine->log, HAL_LOG_VERBOSE, TAG, "lirko_join_group gid:%d,login_state:%d",
                   (int)gid, (int)engine->login_state);
    if (gid == 0 || engine->login_state != LIRKO_STATUS_ONLINE)
        return -1;
    return sessionset_join_group(engine->sessionset, gid);
}

int lirko_leave_group(lirko_t *engine)
{
    if (!engine || engine->login_state != LIRKO_STATUS_ONLINE ||
        sessionset_current_gid(engine->sessionset) == 0)
        return -1;
    return sessionset_leave_group(engine->sessionset, 1);
}

static session *current_or_log(lirko_t *engine)
{
    session *s = sessionset_current(engine->sessionset);
    if (!s)
        hal_log_output(engine->log, HAL_LOG_DEBUG, "sessionset", "not in any group");
    return s;
}

int lirko_start_speak(lirko_t *engine)
{
    if (!engine || lirko_offline_gate(engine) != 0)
        return -1;
    hal_log_output(engine->log, HAL_LOG_VERBOSE, TAG, "start_speak!");
    session *s = current_or_log(engine);
    return s ? session_speak(s) : -1;
}

int lirko_stop_speak(lirko_t *engine)
{
    if (!engine)
        return -1;
    hal_log_output(engine->log, HAL_LOG_VERBOSE, TAG, "stop_speak!");
    session *s = current_or_log(engine);
    return s ? session_stop_speak(s) : -1;
}

void lirko_send_ping(lirko_t *engine)
{
    session *s = engine ? sessionset_current(engine->sessionset) : NULL;
    if (s)
        session_send_ping(s);
}
