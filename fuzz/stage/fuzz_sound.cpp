// The sound queue without a device (see stage.h): actions only change state,
// tones and beeps are silent, and every frame written for playing is decoded
// at once the way the device path would decode it. Hooks of asynchronous
// stops run in the next looper cycle, as they would after a drain.
#include "evrc_frame.h"
#include "hal_ctx.h"
#include "hal_looper.h"
#include "hal_sound.h"
#include "stage.h"

#include <opencore-amrnb/interf_dec.h>
#include <stdlib.h>
#include <string.h>
#include <vector>

namespace
{

struct pending_hook {
    hal_sound_done_cb play;
    hal_sound_record_done_cb record;
    void *arg;
};

uint64_t g_oversized;

} // namespace

struct hal_sound {
    hal_looper *looper;
    uint32_t current; // hal_sound_action_type of the current action, 0 none
    uint32_t codec;   // of the current play, 0 until its first frame
    uint32_t record_id;
    uint32_t next_id;
    bool duplex_play;
    bool duplex_record;
    void *amr;
    evrc_decoder *evrc;
    std::vector<pending_hook> hooks;
};

namespace
{

void run_hooks(hal_looper *looper, double, void *arg)
{
    hal_sound *s = static_cast<hal_sound *>(arg);
    hal_looper_cancel_timer(looper, run_hooks, s);
    std::vector<pending_hook> hooks;
    hooks.swap(s->hooks);
    for (const pending_hook &h : hooks) {
        if (h.play)
            h.play(s, 0, h.arg);
        else if (h.record)
            h.record(s, 0, h.arg, nullptr, 0);
    }
}

void defer(hal_sound *s, pending_hook h)
{
    if (s->hooks.empty())
        hal_looper_set_timer(s->looper, run_hooks, 0.001, s);
    s->hooks.push_back(h);
}

// Hooks still waiting when an action is replaced hear -5, as the real queue
// reports a replaced action.
void replace_hooks(hal_sound *s)
{
    std::vector<pending_hook> hooks;
    hooks.swap(s->hooks);
    hal_looper_cancel_timer(s->looper, run_hooks, s);
    for (const pending_hook &h : hooks) {
        if (h.play)
            h.play(s, HAL_SOUND_EREPLACED, h.arg);
        else if (h.record)
            h.record(s, HAL_SOUND_EREPLACED, h.arg, nullptr, 0);
    }
}

int start(hal_sound *s, uint32_t type)
{
    if (!s)
        return HAL_SOUND_EFAIL;
    s->current = type;
    s->codec = 0;
    if (type == HAL_SOUND_ACTION_RECORD)
        s->record_id = ++s->next_id;
    return HAL_SOUND_OK;
}

int stop(hal_sound *s, uint32_t type)
{
    if (!s)
        return HAL_SOUND_EFAIL;
    if (s->current != type)
        return HAL_SOUND_EBUSY;
    s->current = 0;
    if (type == HAL_SOUND_ACTION_RECORD)
        s->record_id = 0;
    return HAL_SOUND_OK;
}

} // namespace

uint64_t stage_frames_oversized(void)
{
    return g_oversized;
}

hal_sound *hal_sound_new(hal_ctx *ctx)
{
    hal_sound *s = new hal_sound();
    s->looper = hal_ctx_get_looper(ctx);
    s->amr = Decoder_Interface_init();
    s->evrc = evrc_decoder_new();
    return s;
}

void hal_sound_destroy(hal_sound **psound)
{
    if (!psound || !*psound)
        return;
    hal_sound *s = *psound;
    hal_looper_cancel_timer(s->looper, run_hooks, s);
    if (s->amr)
        Decoder_Interface_exit(s->amr);
    evrc_decoder_destroy(&s->evrc);
    delete s;
    *psound = nullptr;
}

int hal_sound_start_play(hal_sound *s, int)
{
    return start(s, HAL_SOUND_ACTION_PLAY);
}

int hal_sound_stop_play(hal_sound *s)
{
    return stop(s, HAL_SOUND_ACTION_PLAY);
}

int hal_sound_async_stop_play(hal_sound *s, hal_sound_done_cb hook, void *arg)
{
    int r = stop(s, HAL_SOUND_ACTION_PLAY);
    if (r == HAL_SOUND_OK && hook)
        defer(s, pending_hook{hook, nullptr, arg});
    return r;
}

int hal_sound_start_record(hal_sound *s, int)
{
    return start(s, HAL_SOUND_ACTION_RECORD);
}

int hal_sound_stop_record(hal_sound *s)
{
    return stop(s, HAL_SOUND_ACTION_RECORD);
}

int hal_sound_async_stop_record(hal_sound *s, hal_sound_record_done_cb hook, void *arg)
{
    int r = stop(s, HAL_SOUND_ACTION_RECORD);
    if (r == HAL_SOUND_OK && hook)
        defer(s, pending_hook{nullptr, hook, arg});
    return r;
}

int hal_sound_play_tts(hal_sound *s, const char *text, hal_sound_done_cb cb, void *arg, int)
{
    if (!s || !text)
        return HAL_SOUND_EFAIL;
    if (cb)
        defer(s, pending_hook{cb, nullptr, arg});
    return HAL_SOUND_OK;
}

int hal_sound_play_tone(hal_sound *s, uint32_t)
{
    return s ? HAL_SOUND_OK : HAL_SOUND_EFAIL;
}

int hal_sound_beep(hal_sound *s, uint32_t, uint32_t)
{
    return s ? HAL_SOUND_OK : HAL_SOUND_EFAIL;
}

int hal_sound_write_frame(hal_sound *s, const hal_sound_frame *f)
{
    if (!s || !f)
        return HAL_SOUND_EFAIL;
    if (s->current != HAL_SOUND_ACTION_PLAY && !s->duplex_play)
        return HAL_SOUND_EBUSY;
    if (s->codec && s->codec != f->pt)
        return HAL_SOUND_ECODEC;
    s->codec = f->pt;
    // The device path copies a frame into a fixed buffer of this size and
    // refuses a longer one.
    uint8_t data[60] = {0};
    if (f->size > sizeof(data)) {
        g_oversized++;
        return HAL_SOUND_EFAIL;
    }
    memcpy(data, f->data, f->size);
    int16_t pcm[160];
    if (f->pt == HAL_PT_EVRC && s->evrc)
        (void)evrc_decode_frame(s->evrc, data, f->size, pcm);
    else if (f->pt == HAL_PT_AMR && s->amr)
        Decoder_Interface_Decode(s->amr, data, pcm, 0);
    return HAL_SOUND_OK;
}

const hal_sound_frame *hal_sound_read_frame(hal_sound *)
{
    return nullptr;
}

int hal_sound_stop_all(hal_sound *s)
{
    if (!s)
        return HAL_SOUND_EFAIL;
    replace_hooks(s);
    s->current = 0;
    s->record_id = 0;
    return HAL_SOUND_OK;
}

int hal_sound_get_play_depth(hal_sound *)
{
    return 0;
}

int hal_sound_get_record_depth(hal_sound *)
{
    return 0;
}

int hal_sound_accept_codecs(hal_sound *s, uint32_t *codecs)
{
    if (!s || !codecs)
        return -1;
    codecs[0] = HAL_PT_AMR;
    codecs[1] = HAL_PT_EVRC;
    return 2;
}

uint32_t hal_sound_expect_codec(hal_sound *)
{
    return HAL_PT_EVRC;
}

uint32_t hal_sound_current_action(hal_sound *s)
{
    return s ? s->current : 0;
}

uint32_t hal_sound_cache_action(hal_sound *)
{
    return 0;
}

uint32_t hal_sound_record_id(hal_sound *s)
{
    return s ? s->record_id : 0;
}

int hal_sound_start_full_duplex_record(hal_sound *s)
{
    if (!s)
        return HAL_SOUND_EFAIL;
    s->duplex_record = true;
    return HAL_SOUND_OK;
}

int hal_sound_stop_full_duplex_record(hal_sound *s)
{
    if (!s)
        return HAL_SOUND_EFAIL;
    s->duplex_record = false;
    return HAL_SOUND_OK;
}

int hal_sound_start_full_duplex_play(hal_sound *s)
{
    if (!s)
        return HAL_SOUND_EFAIL;
    s->duplex_play = true;
    return HAL_SOUND_OK;
}

int hal_sound_stop_full_duplex_play(hal_sound *s)
{
    if (!s)
        return HAL_SOUND_EFAIL;
    s->duplex_play = false;
    return HAL_SOUND_OK;
}

void hal_sound_finished_btdsp_data(hal_sound *) {}

void hal_sound_set_btdsp_data(hal_sound *, const void *, uint32_t) {}

int hal_sound_reset_play(hal_sound *s)
{
    return s ? HAL_SOUND_OK : HAL_SOUND_EFAIL;
}

int hal_sound_reset_record(hal_sound *s)
{
    return s ? HAL_SOUND_OK : HAL_SOUND_EFAIL;
}

int hal_sound_set_mute(hal_sound *s)
{
    return s ? HAL_SOUND_OK : HAL_SOUND_EFAIL;
}

hal_dsp *hal_sound_get_dsp(hal_sound *)
{
    return nullptr;
}
