#include "hal_sound.h"

#include "hal_ctx.h"
#include "hal_ini.h"
#include "hal_log.h"
#include "hal_looper.h"
#include "list.h"
#include "wave.h"

#include <stdlib.h>
#include <string.h>

namespace
{

const char *k_tag = "sound";

struct record_conf {
    uint32_t codec;
    uint8_t dtx;
    uint8_t variable;
};

// What tones need to sound; tones play only while it exists.
struct tone_companion {
    hal_ctx *ctx;
    hal_looper *looper;
    hal_log *log;
};

} // namespace

typedef struct hal_sound_action hal_sound_action;

struct hal_sound_action {
    uint32_t type;
    uint32_t id; // tells this action from every other of the queue
    int (*start)(hal_sound *sound, hal_sound_action *action);
    void (*stop)(hal_sound *sound, hal_sound_action *action);
    hal_sound_done_cb done_cb; // text-to-speech only
    void *done_arg;
    // record
    hal_sound_record_done_cb record_hook;
    void *record_arg;
    // play
    uint32_t codec;
    hal_sound_done_cb play_hook;
    void *play_arg;
    list *held; // frames written while cached (owned copies)
    // text-to-speech
    char *text;
};

struct hal_sound {
    hal_ctx *ctx;
    hal_log *log;
    hal_dsp *dsp;
    tone_companion *tones;
    record_conf conf;
    hal_sound_action *current;
    hal_sound_action *cached;
    hal_sound_action *fd_record;
    hal_sound_action *fd_play;
    uint32_t last_id;
};

#define SOUND_LOG(s, prio, ...) hal_log_output((s)->log, (prio), k_tag, __VA_ARGS__)

namespace
{

void load_record_conf(hal_sound *s)
{
    hal_ini *ini = s->ctx ? hal_ctx_get_ini(s->ctx) : NULL;
    const char *v = ini ? hal_ini_find(ini, "record", "codec") : NULL;
    int codec = v ? atoi(v) : HAL_PT_EVRC;
    s->conf.codec = codec == HAL_PT_AMR || codec == HAL_PT_EVRC ? (uint32_t)codec : HAL_PT_EVRC;
    v = ini ? hal_ini_find(ini, "record", "dtx") : NULL;
    s->conf.dtx = v ? atoi(v) != 0 : 1;
    v = ini ? hal_ini_find(ini, "record", "variable") : NULL;
    s->conf.variable = v ? atoi(v) != 0 : 1;
}

// ---- The three kinds ---------------------------------------------------

int record_start(hal_sound *s, hal_sound_action *)
{
    if (hal_dsp_start_record(s->dsp, s->conf.codec) != 0) {
        SOUND_LOG(s, HAL_LOG_ERROR, "action: start dsp record failed");
        return -1;
    }
    SOUND_LOG(s, HAL_LOG_INFO, "action: start record, self->record_conf.codec %d",
              (int)s->conf.codec);
    return 0;
}

void record_stop(hal_sound *s, hal_sound_action *)
{
    SOUND_LOG(s, HAL_LOG_INFO, "action: stop record");
    hal_dsp_stop_record(s->dsp);
}

int play_start(hal_sound *s, hal_sound_action *a)
{
    if (hal_dsp_start_play(s->dsp) != 0)
        return -1;
    SOUND_LOG(s, HAL_LOG_INFO, "action: start play");
    hal_sound_frame *f;
    while (a->held && (f = (hal_sound_frame *)list_pop_front(a->held)) != NULL) {
        if (f->pt == a->codec)
            (void)hal_dsp_write(s->dsp, f);
        free(f);
    }
    SOUND_LOG(s, HAL_LOG_INFO, "action: start play@2");
    return 0;
}

void play_stop(hal_sound *s, hal_sound_action *)
{
    SOUND_LOG(s, HAL_LOG_INFO, "action: stop play");
    hal_dsp_stop_play_with_stats(s->dsp);
}

int tts_start(hal_sound *s, hal_sound_action *)
{
    SOUND_LOG(s, HAL_LOG_INFO, "action: start tts");
    return 0;
}

void tts_stop(hal_sound *s, hal_sound_action *)
{
    SOUND_LOG(s, HAL_LOG_INFO, "action: stop tts");
}

hal_sound_action *action_new(uint32_t type)
{
    hal_sound_action *a = (hal_sound_action *)calloc(1, sizeof(*a));
    if (!a)
        return NULL;
    a->type = type;
    if (type == HAL_SOUND_ACTION_RECORD) {
        a->start = record_start;
        a->stop = record_stop;
    } else if (type == HAL_SOUND_ACTION_PLAY) {
        a->start = play_start;
        a->stop = play_stop;
    } else {
        a->start = tts_start;
        a->stop = tts_stop;
    }
    return a;
}

// Frees the action in *slot and clears the slot. An action that still holds
// a drain hook never drained: its waiter hears so (once) instead of waiting
// for ever.
void action_destroy(hal_sound *s, hal_sound_action **slot)
{
    hal_sound_action *a = *slot;
    if (!a)
        return;
    *slot = NULL;
    if (a->record_hook) {
        hal_sound_record_done_cb hook = a->record_hook;
        a->record_hook = NULL;
        hook(s, -1, a->record_arg, NULL, 0);
    }
    if (a->play_hook) {
        hal_sound_done_cb hook = a->play_hook;
        a->play_hook = NULL;
        hook(s, -1, a->play_arg);
    }
    if (a->held) {
        void *f;
        while ((f = list_pop_front(a->held)) != NULL)
            free(f);
        list_del(a->held);
    }
    free(a->text);
    free(a);
}

void promote(hal_sound *s)
{
    if (s->current || !s->cached)
        return;
    s->current = s->cached;
    s->cached = NULL;
    if (s->current->start(s, s->current) == -1)
        action_destroy(s, &s->current);
}

// Start rule of every kind.
int start_action(hal_sound *s, uint32_t type, int nowait, const char *text, hal_sound_done_cb cb,
                 void *arg)
{
    bool record = type == HAL_SOUND_ACTION_RECORD;
    if (s->current && s->current->type == type) {
        if (record)
            SOUND_LOG(s, HAL_LOG_INFO, "stop already started recording");
        hal_sound_action *old = s->current;
        s->current = NULL;
        old->stop(s, old);
        if (old->done_cb)
            old->done_cb(s, HAL_SOUND_EREPLACED, old->done_arg);
        action_destroy(s, &old);
    }
    // The one cached action is never replaced.
    if (s->current && (nowait || s->cached))
        return HAL_SOUND_EBUSY;
    hal_sound_action *a = action_new(type);
    if (!a)
        return HAL_SOUND_EFAIL;
    a->id = ++s->last_id ? s->last_id : ++s->last_id;
    if (text) {
        a->text = strdup(text);
        if (!a->text) {
            action_destroy(s, &a);
            return HAL_SOUND_EFAIL;
        }
    }
    a->done_cb = cb;
    a->done_arg = arg;
    if (s->current) {
        s->cached = a;
        if (record)
            SOUND_LOG(s, HAL_LOG_INFO, "queue recording");
        return HAL_SOUND_OK;
    }
    s->current = a;
    if (record)
        SOUND_LOG(s, HAL_LOG_INFO, "start recording");
    if (a->start(s, a) == -1) {
        if (record)
            SOUND_LOG(s, HAL_LOG_ERROR, "start recording failed");
        action_destroy(s, &s->current);
        return HAL_SOUND_EFAIL;
    }
    return HAL_SOUND_OK;
}

int stop_action(hal_sound *s, uint32_t type)
{
    if (s->current && s->current->type == type) {
        hal_sound_action *a = s->current;
        s->current = NULL;
        a->stop(s, a);
        action_destroy(s, &a);
        promote(s);
        return HAL_SOUND_OK;
    }
    if (s->cached && s->cached->type == type) {
        action_destroy(s, &s->cached);
        return HAL_SOUND_OK;
    }
    return HAL_SOUND_EBUSY;
}

// Device drain ends (looper, through the device's end events).
void on_player_stop(hal_dsp *, void *arg, int result)
{
    hal_sound *s = (hal_sound *)arg;
    SOUND_LOG(s, HAL_LOG_INFO, "hal_sound_on_player_stop");
    if (!s->current || s->current->type != HAL_SOUND_ACTION_PLAY)
        return;
    hal_sound_action *a = s->current;
    s->current = NULL;
    promote(s);
    hal_sound_done_cb hook = a->play_hook;
    a->play_hook = NULL;
    if (hook)
        hook(s, result, a->play_arg);
    action_destroy(s, &a);
}

void on_recorder_stop(hal_dsp *, void *arg, int result, hal_sound_frame **frames, uint32_t count)
{
    hal_sound *s = (hal_sound *)arg;
    SOUND_LOG(s, HAL_LOG_INFO, "hal_sound_on_recorder_stop");
    if (!s->current || s->current->type != HAL_SOUND_ACTION_RECORD)
        return;
    hal_sound_action *a = s->current;
    s->current = NULL;
    promote(s);
    hal_sound_record_done_cb hook = a->record_hook;
    a->record_hook = NULL;
    if (hook)
        hook(s, result, a->record_arg, frames, count);
    action_destroy(s, &a);
}

int full_duplex_start(hal_sound *s, uint32_t type, hal_sound_action **slot, const char *name)
{
    if (*slot) {
        hal_sound_action *old = *slot;
        *slot = NULL;
        old->stop(s, old);
        if (old->done_cb)
            old->done_cb(s, HAL_SOUND_EREPLACED, old->done_arg);
        action_destroy(s, &old);
    }
    if (*slot) {
        SOUND_LOG(s, HAL_LOG_ERROR, "%s bad status", name);
        return HAL_SOUND_EBUSY;
    }
    hal_dsp_set_status(s->dsp, HAL_DSP_FULL_DUPLEX);
    hal_sound_action *a = action_new(type);
    if (!a)
        return HAL_SOUND_EFAIL;
    *slot = a;
    bool record = type == HAL_SOUND_ACTION_RECORD;
    if (a->start(s, a) == -1) {
        if (record)
            SOUND_LOG(s, HAL_LOG_ERROR, "start recording failed");
        action_destroy(s, slot);
        return HAL_SOUND_EFAIL;
    }
    if (record)
        SOUND_LOG(s, HAL_LOG_INFO, "start recording");
    return HAL_SOUND_OK;
}

int full_duplex_stop(hal_sound *s, uint32_t type, hal_sound_action **slot)
{
    if (!*slot || (*slot)->type != type)
        return HAL_SOUND_EBUSY;
    hal_sound_action *a = *slot;
    *slot = NULL;
    hal_dsp_set_status(s->dsp, HAL_DSP_IDLE);
    a->stop(s, a);
    action_destroy(s, &a);
    return HAL_SOUND_OK;
}

int write_to(hal_sound *s, hal_sound_action *a, const hal_sound_frame *f)
{
    if (a->codec == 0)
        a->codec = f->pt;
    return hal_dsp_write(s->dsp, f);
}

int subscribe(hal_looper *looper, const char *name, hal_looper_processor_fn fn, void *arg, int add)
{
    hal_looper_processer_args args;
    args.name = name;
    args.fn = fn;
    args.arg = arg;
    return hal_looper_exec(
        looper, add ? hal_looper_routine_add_processer : hal_looper_routine_remove_processer,
        &args);
}

int destroy_on_looper(hal_looper *, void *arg)
{
    hal_sound *s = (hal_sound *)arg;
    SOUND_LOG(s, HAL_LOG_INFO, "hal_sound_destroy");
    (void)hal_sound_stop_all(s);
    hal_dsp_stop_play_with_stats(s->dsp);
    hal_dsp_set_status(s->dsp, HAL_DSP_IDLE);
    SOUND_LOG(s, HAL_LOG_INFO, "hal_dsp_stop_record");
    hal_dsp_shutdown_record(s->dsp);
    // What stop_all leaves behind is not referenced any more.
    action_destroy(s, &s->cached);
    action_destroy(s, &s->fd_record);
    action_destroy(s, &s->fd_play);
    hal_looper *looper = s->ctx ? hal_ctx_get_looper(s->ctx) : NULL;
    if (looper) {
        (void)subscribe(looper, "dsp.play.atend", hal_dsp_on_event_play_atend, s->dsp, 0);
        (void)subscribe(looper, "dsp.record.atend", hal_dsp_on_event_record_atend, s->dsp, 0);
    }
    return 0;
}

} // namespace

hal_sound *hal_sound_new(hal_ctx *ctx)
{
    hal_sound *s = (hal_sound *)calloc(1, sizeof(*s));
    if (!s)
        return NULL;
    s->ctx = ctx;
    s->log = ctx ? hal_ctx_get_log(ctx) : NULL;
    SOUND_LOG(s, HAL_LOG_INFO, "hal_sound_new");
    s->dsp = hal_dsp_new(ctx);
    s->tones = (tone_companion *)calloc(1, sizeof(*s->tones));
    if (!s->dsp || !s->tones) {
        hal_dsp_destroy(&s->dsp);
        free(s->tones);
        free(s);
        return NULL;
    }
    hal_looper *looper = ctx ? hal_ctx_get_looper(ctx) : NULL;
    if (looper) {
        (void)subscribe(looper, "dsp.play.atend", hal_dsp_on_event_play_atend, s->dsp, 1);
        (void)subscribe(looper, "dsp.record.atend", hal_dsp_on_event_record_atend, s->dsp, 1);
    }
    s->tones->ctx = ctx;
    s->tones->looper = looper;
    s->tones->log = s->log;
    load_record_conf(s);
    return s;
}

void hal_sound_destroy(hal_sound **ps)
{
    if (!ps || !*ps)
        return;
    hal_sound *s = *ps;
    // The queue belongs to the looper: tear it down there, so that no end
    // event or timer of its device runs at the same time.
    hal_looper *looper = s->ctx ? hal_ctx_get_looper(s->ctx) : NULL;
    if (!looper || hal_looper_exec(looper, destroy_on_looper, s) != 0)
        (void)destroy_on_looper(NULL, s);
    hal_dsp_destroy(&s->dsp);
    free(s->tones);
    free(s);
    *ps = NULL;
}

int hal_sound_start_play(hal_sound *s, int nowait)
{
    if (!s)
        return HAL_SOUND_EFAIL;
    return start_action(s, HAL_SOUND_ACTION_PLAY, nowait, NULL, NULL, NULL);
}

int hal_sound_stop_play(hal_sound *s)
{
    if (!s)
        return HAL_SOUND_EFAIL;
    return stop_action(s, HAL_SOUND_ACTION_PLAY);
}

int hal_sound_async_stop_play(hal_sound *s, hal_sound_done_cb hook, void *arg)
{
    if (!s)
        return HAL_SOUND_EFAIL;
    if (s->current && s->current->type == HAL_SOUND_ACTION_PLAY) {
        s->current->play_hook = hook;
        s->current->play_arg = arg;
        return hal_dsp_async_stop_play(s->dsp, on_player_stop, s) == 0 ? HAL_SOUND_OK
                                                                       : HAL_SOUND_EFAIL;
    }
    if (s->cached && s->cached->type == HAL_SOUND_ACTION_PLAY) {
        action_destroy(s, &s->cached);
        if (hook)
            hook(s, 0, arg);
        return HAL_SOUND_OK;
    }
    if (hook)
        hook(s, 0, arg);
    return HAL_SOUND_EBUSY;
}

int hal_sound_start_record(hal_sound *s, int nowait)
{
    if (!s)
        return HAL_SOUND_EFAIL;
    load_record_conf(s);
    return start_action(s, HAL_SOUND_ACTION_RECORD, nowait, NULL, NULL, NULL);
}

int hal_sound_stop_record(hal_sound *s)
{
    if (!s)
        return HAL_SOUND_EFAIL;
    return stop_action(s, HAL_SOUND_ACTION_RECORD);
}

int hal_sound_async_stop_record(hal_sound *s, hal_sound_record_done_cb hook, void *arg)
{
    if (!s)
        return HAL_SOUND_EFAIL;
    if (s->current && s->current->type == HAL_SOUND_ACTION_RECORD) {
        s->current->record_hook = hook;
        s->current->record_arg = arg;
        (void)hal_dsp_async_stop_record(s->dsp, on_recorder_stop, s);
        return HAL_SOUND_OK;
    }
    if (s->cached && s->cached->type == HAL_SOUND_ACTION_RECORD) {
        action_destroy(s, &s->cached);
        if (hook)
            hook(s, 0, arg, NULL, 0);
        return HAL_SOUND_OK;
    }
    return HAL_SOUND_EBUSY;
}

int hal_sound_play_tts(hal_sound *s, const char *text, hal_sound_done_cb cb, void *arg, int nowait)
{
    if (!s || !text)
        return HAL_SOUND_EFAIL;
    return start_action(s, HAL_SOUND_ACTION_TTS, nowait, text, cb, arg);
}

int hal_sound_play_tone(hal_sound *s, uint32_t kind)
{
    if (!s)
        return HAL_SOUND_EFAIL;
    uint32_t freq = 1568, ms = 60;
    switch (kind) {
    case 1:
        freq = 3700;
        break;
    case 2:
    case 3:
        freq = 2600;
        ms = 100;
        break;
    case 4:
        freq = 1318;
        break;
    case 5:
        freq = 1175;
        ms = 100;
        break;
    default:
        break;
    }
    (void)hal_sound_beep(s, freq, ms);
    return HAL_SOUND_OK;
}

int hal_sound_beep(hal_sound *s, uint32_t freq, uint32_t ms)
{
    if (!s || !s->tones)
        return HAL_SOUND_EFAIL;
    if (wave_beep(freq, ms) != 0) {
        SOUND_LOG(s, HAL_LOG_WARN, "beep %u Hz %u ms: no output device", freq, ms);
        return HAL_SOUND_EFAIL;
    }
    return HAL_SOUND_OK;
}

int hal_sound_write_frame(hal_sound *s, const hal_sound_frame *f)
{
    if (!s || !f)
        return HAL_SOUND_EFAIL;
    SOUND_LOG(s, HAL_LOG_FRAME, "hal_sound_write_frame current %p type %d", (void *)s->current,
              s->current ? (int)s->current->type : 0);
    hal_sound_action *a = s->current;
    if (a && a->type == HAL_SOUND_ACTION_PLAY) {
        if (a->codec && a->codec != f->pt)
            return HAL_SOUND_ECODEC;
        return write_to(s, a, f);
    }
    a = s->cached;
    if (a && a->type == HAL_SOUND_ACTION_PLAY) {
        if (a->codec && a->codec != f->pt)
            return HAL_SOUND_ECODEC;
        if (!a->held && !(a->held = list_new()))
            return HAL_SOUND_EFAIL;
        size_t bytes = 4 + (size_t)f->size;
        hal_sound_frame *copy = (hal_sound_frame *)malloc(bytes);
        if (!copy)
            return HAL_SOUND_EFAIL;
        memcpy(copy, f, bytes);
        if (list_push_back(a->held, copy) != 0) {
            free(copy);
            return HAL_SOUND_EFAIL;
        }
        if (a->codec == 0)
            a->codec = f->pt;
        return HAL_SOUND_OK;
    }
    a = s->fd_play;
    if (a) {
        if (a->codec && a->codec != f->pt) {
            SOUND_LOG(s, HAL_LOG_ERROR, "mismatch codec: %d,pre is %d", f->pt, (int)a->codec);
            return HAL_SOUND_ECODEC;
        }
        return write_to(s, a, f);
    }
    SOUND_LOG(s, HAL_LOG_ERROR, "hal_sound_write_frame called when not playing");
    return HAL_SOUND_EBUSY;
}

const hal_sound_frame *hal_sound_read_frame(hal_sound *s)
{
    if (!s)
        return NULL;
    if ((s->current && s->current->type == HAL_SOUND_ACTION_RECORD) || s->fd_record)
        return hal_dsp_read_frame(s->dsp);
    return NULL;
}

int hal_sound_stop_all(hal_sound *s)
{
    if (!s)
        return HAL_SOUND_EFAIL;
    SOUND_LOG(s, HAL_LOG_INFO, "hal_sound_stop_all");
    if (s->current) {
        hal_sound_action *a = s->current;
        s->current = NULL;
        a->stop(s, a);
        action_destroy(s, &a);
    }
    if (s->cached && s->cached->type == HAL_SOUND_ACTION_PLAY)
        action_destroy(s, &s->cached);
    return HAL_SOUND_OK;
}

int hal_sound_get_play_depth(hal_sound *s)
{
    if (!s)
        return HAL_SOUND_EFAIL;
    if (s->current && s->current->type == HAL_SOUND_ACTION_PLAY)
        return hal_dsp_play_open(s->dsp) ? (int)(hal_dsp_play_ring_bytes(s->dsp) / 2) : 0;
    if (s->cached && s->cached->type == HAL_SOUND_ACTION_PLAY)
        return s->cached->held ? (int)list_count(s->cached->held) : 0;
    return 0;
}

int hal_sound_get_record_depth(hal_sound *s)
{
    return s ? 0 : HAL_SOUND_EFAIL;
}

int hal_sound_accept_codecs(hal_sound *s, uint32_t *codecs)
{
    if (!s || !codecs)
        return HAL_SOUND_EFAIL;
    *codecs = s->conf.codec;
    return 1;
}

uint32_t hal_sound_expect_codec(hal_sound *s)
{
    return s ? s->conf.codec : 0;
}

uint32_t hal_sound_current_action(hal_sound *s)
{
    return s && s->current ? s->current->type : 0;
}

uint32_t hal_sound_record_id(hal_sound *s)
{
    return s && s->current && s->current->type == HAL_SOUND_ACTION_RECORD ? s->current->id : 0;
}

uint32_t hal_sound_cache_action(hal_sound *s)
{
    return s && s->cached ? s->cached->type : 0;
}

int hal_sound_start_full_duplex_record(hal_sound *s)
{
    if (!s)
        return HAL_SOUND_EFAIL;
    load_record_conf(s);
    return full_duplex_start(s, HAL_SOUND_ACTION_RECORD, &s->fd_record,
                             "hal_sound_start_full_duplex_record");
}

int hal_sound_stop_full_duplex_record(hal_sound *s)
{
    if (!s)
        return HAL_SOUND_EFAIL;
    return full_duplex_stop(s, HAL_SOUND_ACTION_RECORD, &s->fd_record);
}

int hal_sound_start_full_duplex_play(hal_sound *s)
{
    if (!s)
        return HAL_SOUND_EFAIL;
    return full_duplex_start(s, HAL_SOUND_ACTION_PLAY, &s->fd_play,
                             "hal_sound_start_full_duplex_play");
}

int hal_sound_stop_full_duplex_play(hal_sound *s)
{
    if (!s)
        return HAL_SOUND_EFAIL;
    return full_duplex_stop(s, HAL_SOUND_ACTION_PLAY, &s->fd_play);
}

void hal_sound_finished_btdsp_data(hal_sound *s)
{
    if (s)
        SOUND_LOG(s, HAL_LOG_DEBUG, "hal_sound_finished_btdsp_data");
}

void hal_sound_set_btdsp_data(hal_sound *, const void *, uint32_t) {}

int hal_sound_reset_play(hal_sound *)
{
    return -1;
}

int hal_sound_reset_record(hal_sound *)
{
    return -1;
}

int hal_sound_set_mute(hal_sound *)
{
    return 0;
}

hal_dsp *hal_sound_get_dsp(hal_sound *s)
{
    return s ? s->dsp : NULL;
}
