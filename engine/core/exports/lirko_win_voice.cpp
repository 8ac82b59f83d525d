// The broadcast and recorded-voice exports.
//
// The two stop exports wait for the recorder to end. Each call has its own
// completion token, shared by the caller and the looper and freed by
// whichever lets go last, so a caller that gave up waiting leaves nothing
// dangling behind.
#include "broadcast.h"
#include "lirko.h"
#include "lirko_event_object.h"
#include "lirko_record.h"
#include "lirko_voice_file.h"
#include "lirko_win.h"
#include "lirko_win_frame.h"

#include <atomic>
#include <pthread.h>
#include <stdlib.h>
#include <string.h>

// How long a stop export waits for the recorder before giving up.
#define STOP_WAIT_MS 3000

namespace
{

struct stop_token {
    lirko_event_object *done;
    std::atomic<int> refs;
    std::atomic<int> result;
};

void token_unref(stop_token *t)
{
    if (t->refs.fetch_sub(1) == 1) {
        lirko_event_object_destroy(&t->done);
        delete t;
    }
}

// Looper: the recorder has ended.
void token_complete(void *arg, int result)
{
    stop_token *t = (stop_token *)arg;
    t->result.store(result);
    lirko_event_object_signal(t->done);
    token_unref(t);
}

int looper_thread_body(lirko_t *engine, void *arg)
{
    (void)engine;
    *(pthread_t *)arg = pthread_self();
    return 0;
}

// 1 when the caller is the engine's looper (a call from a callback).
bool on_looper()
{
    pthread_t looper;
    if (lirko_win_run(looper_thread_body, &looper, -1) != 0)
        return false;
    return pthread_equal(looper, pthread_self()) != 0;
}

struct stop_args {
    int (*stop)(lirko_t *engine, broadcast_stop_cb cb, void *arg);
    stop_token *token;
    bool kept;
};

int stop_body(lirko_t *engine, void *arg)
{
    stop_args *a = (stop_args *)arg;
    int r = a->stop(engine, token_complete, a->token);
    a->kept = r == 0;
    return r;
}

// Stops a recorder and waits (bounded) until it has ended: 0, or -1 from
// the looper itself, when the stop was refused or the wait ran out.
int stop_and_wait(int (*stop)(lirko_t *engine, broadcast_stop_cb cb, void *arg))
{
    if (on_looper())
        return -1;
    stop_token *t = new (std::nothrow) stop_token;
    if (!t)
        return -1;
    t->done = lirko_event_object_new();
    t->refs.store(2);
    t->result.store(-1);
    if (!t->done) {
        delete t;
        return -1;
    }
    stop_args args = {stop, t, false};
    int r = lirko_win_run(stop_body, &args, -1);
    if (!args.kept) {
        token_unref(t); // the looper's share: it never took it
        token_unref(t);
        return -1;
    }
    if (r == 0)
        r = lirko_event_object_wait_for(t->done, STOP_WAIT_MS) == 0 ? t->result.load() : -1;
    token_unref(t);
    return r;
}

struct text_args {
    const char *text;
    const uid_t *uids;
    size_t count;
};

int send_text_body(lirko_t *engine, void *arg)
{
    text_args *a = (text_args *)arg;
    return lirko_broadcast_send_text(engine, a->text, a->uids, (uint32_t)a->count);
}

int start_broadcast_record_body(lirko_t *engine, void *arg)
{
    (void)arg;
    return lirko_broadcast_start_record(engine);
}

int replay_body(lirko_t *engine, void *arg)
{
    return lirko_broadcast_play_recordaudio(engine, *(lirko_play_stop_cb *)arg);
}

struct uids_args {
    const uid_t *uids;
    size_t count;
};

int send_record_body(lirko_t *engine, void *arg)
{
    uids_args *a = (uids_args *)arg;
    return lirko_broadcast_send_recordaudio(engine, a->uids, (uint32_t)a->count);
}

struct start_record_args {
    const char *dir;
    char *file_name;
};

int start_record_body(lirko_t *engine, void *arg)
{
    start_record_args *a = (start_record_args *)arg;
    return lirko_start_record(engine, a->dir, a->file_name, LIRKO_VOICE_FILE_PATH_MAX);
}

struct record_enable_args {
    lirko_boolean_t enable;
    const char *dir;
};

int record_set_enabled_body(lirko_t *engine, void *arg)
{
    record_enable_args *a = (record_enable_args *)arg;
    return lirko_record_set_enabled(engine, a->enable ? 1 : 0, a->dir);
}

int play_body(lirko_t *engine, void *arg)
{
    return lirko_record_play_audio(engine, (const char *)arg);
}

int stop_play_body(lirko_t *engine, void *arg)
{
    (void)arg;
    return lirko_record_stop_play_audio(engine);
}

struct pcm_args {
    const char *in;
    const char *out;
};

int pcm_body(lirko_t *engine, void *arg)
{
    pcm_args *a = (pcm_args *)arg;
    return lirko_audio_coded_to_pcm(engine, a->in, a->out);
}

} // namespace

int lirko_win_broadcast_send_text(const char *text, const uid_t *uids, size_t count)
{
    if (!text || !uids || count == 0 || count > UINT32_MAX)
        return -1;
    text_args args = {text, uids, count};
    return lirko_win_run(send_text_body, &args, -1);
}

int lirko_win_broadcast_start_record(void)
{
    return lirko_win_run(start_broadcast_record_body, NULL, -1);
}

int lirko_win_broadcast_stop_record(void)
{
    return stop_and_wait(lirko_broadcast_stop_record);
}

int lirko_win_broadcast_play_recordaudio(lirko_play_stop_cb on_stop)
{
    return lirko_win_run(replay_body, &on_stop, -1);
}

int lirko_win_broadcast_send_recordaudio(const uid_t *uids, size_t count)
{
    if (!uids || count == 0 || count > UINT32_MAX)
        return -1;
    uids_args args = {uids, count};
    return lirko_win_run(send_record_body, &args, -1);
}

int lirko_win_start_record(const char *dir, char *file_name)
{
    if (!dir || !file_name)
        return -1;
    start_record_args args = {dir, file_name};
    return lirko_win_run(start_record_body, &args, -1);
}

int lirko_win_stop_record(void)
{
    return stop_and_wait(lirko_stop_record);
}

int lirko_win_record_set_enabled(lirko_boolean_t enable, const char *dir)
{
    if (enable && !dir)
        return -1;
    record_enable_args args = {enable, dir};
    return lirko_win_run(record_set_enabled_body, &args, -1);
}

int lirko_win_record_play_audio(const char *path)
{
    if (!path)
        return -1;
    return lirko_win_run(play_body, (void *)path, -1);
}

int lirko_win_record_stop_play_audio(void)
{
    return lirko_win_run(stop_play_body, NULL, -1);
}

int lirko_win_audio_coded_to_pcm(const char *in_path, const char *out_path)
{
    if (!in_path || !out_path)
        return -1;
    pcm_args args = {in_path, out_path};
    return lirko_win_run(pcm_body, &args, -1);
}
