// The exported callback setters and the department lookup.
#include "cache.h"
#include "hal_log.h"
#include "lirko.h"
#include "lirko_notify.h"
#include "lirko_win.h"
#include "lirko_win_frame.h"

#include <string.h>

enum { LIRKO_SLOT_AUDIO_ENABLED = 3 };

// Every setter refuses NULL on the caller's thread and stores the callback on
// the looper: the application has no way to clear one.
#define LIRKO_DEFINE_WIN_SETTER(slot, listener, field, type, win_setter, setter, getter)           \
    static int win_setter##_body(lirko_t *engine, void *arg)                                       \
    {                                                                                              \
        type cb;                                                                                   \
        memcpy(&cb, arg, sizeof(cb));                                                              \
        if ((slot) == LIRKO_SLOT_AUDIO_ENABLED) {                                                  \
            const void *p;                                                                         \
            memcpy(&p, &cb, sizeof(p));                                                            \
            hal_log_output(engine->log, HAL_LOG_VERBOSE, LIRKO_WIN_TAG,                            \
                           "run_in_win_pfn_notify_audio_enable %p", p);                            \
        }                                                                                          \
        return setter(engine, cb);                                                                 \
    }                                                                                              \
    int win_setter(type cb)                                                                        \
    {                                                                                              \
        if (!cb)                                                                                   \
            return -1;                                                                             \
        return lirko_win_run(win_setter##_body, &cb, -1);                                          \
    }
#define LIRKO_NO_WIN_SETTER(slot, listener, field, type, setter, getter)
LIRKO_CALLBACK_TABLE(LIRKO_DEFINE_WIN_SETTER, LIRKO_NO_WIN_SETTER)

typedef struct department_args {
    uint32_t did;
    department_t *found;
} department_args;

static int department_body(lirko_t *engine, void *arg)
{
    department_args *a = (department_args *)arg;
    a->found = cache_get_department_by_did(engine->cache, a->did);
    return 0;
}

// The lookup runs on the looper, which owns the department map; the record
// handed out outlives the next tree (see cache_retire_departments).
department_t *lirko_win_get_department_by_did(uint32_t did)
{
    department_args a = {did, NULL};
    lirko_win_run(department_body, &a, -1);
    return a.found;
}
