// The sound action queue: who may use the engine's one sound device. Users
// (voice sessions, broadcasts, recorded-voice playback) start and stop
// actions of three kinds: record, play and text-to-speech. One action is
// current, at most one waits (cached) and starts when the current one ends;
// a separate pair of slots holds the record and play actions of a
// full-duplex call. Coded frames pass through here between the users and the
// device path (hal_dsp.h), and drained paths come back as hooks.
//
// One per platform context (hal_ctx_new makes it, hal_ctx_destroy frees it
// first). Looper thread only; no locks.
#ifndef HAL_SOUND_H
#define HAL_SOUND_H

#include "hal_dsp.h"

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct hal_ctx hal_ctx;
typedef struct hal_sound hal_sound;

typedef enum hal_sound_action_type {
    HAL_SOUND_ACTION_RECORD = 1,
    HAL_SOUND_ACTION_PLAY = 2,
    HAL_SOUND_ACTION_TTS = 4,
} hal_sound_action_type;

// Results.
#define HAL_SOUND_OK 0
#define HAL_SOUND_EFAIL (-1)     // bad argument or failed start
#define HAL_SOUND_EBUSY (-2)     // busy, or no such action
#define HAL_SOUND_EREPLACED (-5) // a newer action of the kind replaced this one
#define HAL_SOUND_ECODEC (-6)    // payload type differs from the play's codec

// Play hook and text-to-speech done callback. result: 0 drained (or dropped
// before it started), -5 replaced, -1 the action ended without draining
// (stopped, or the device failed).
typedef void (*hal_sound_done_cb)(hal_sound *sound, int result, void *arg);
// Record hook: frames are copies of the frames still queued when the
// recording drained; they are freed as soon as the hook returns.
typedef void (*hal_sound_record_done_cb)(hal_sound *sound, int result, void *arg,
                                         hal_sound_frame **frames, uint32_t count);

hal_sound *hal_sound_new(hal_ctx *ctx);
void hal_sound_destroy(hal_sound **sound);

int hal_sound_start_play(hal_sound *sound, int nowait);
int hal_sound_stop_play(hal_sound *sound);
int hal_sound_async_stop_play(hal_sound *sound, hal_sound_done_cb hook, void *arg);
int hal_sound_start_record(hal_sound *sound, int nowait);
int hal_sound_stop_record(hal_sound *sound);
int hal_sound_async_stop_record(hal_sound *sound, hal_sound_record_done_cb hook, void *arg);
int hal_sound_play_tts(hal_sound *sound, const char *text, hal_sound_done_cb cb, void *arg,
                       int nowait);
// Sounds a prompt tone synchronously (kind 1: 3700 Hz 60 ms; 2, 3: 2600 Hz
// 100 ms; 4: 1318 Hz 60 ms; 5: 1175 Hz 100 ms; others 1568 Hz 60 ms).
int hal_sound_play_tone(hal_sound *sound, uint32_t kind);
// The system beep, while the queue's tone companion exists: for prompts
// outside the tone table (broadcasts).
int hal_sound_beep(hal_sound *sound, uint32_t freq, uint32_t ms);

int hal_sound_write_frame(hal_sound *sound, const hal_sound_frame *frame);
const hal_sound_frame *hal_sound_read_frame(hal_sound *sound);
int hal_sound_stop_all(hal_sound *sound);
int hal_sound_get_play_depth(hal_sound *sound);
int hal_sound_get_record_depth(hal_sound *sound);
int hal_sound_accept_codecs(hal_sound *sound, uint32_t *codecs);
uint32_t hal_sound_expect_codec(hal_sound *sound);
uint32_t hal_sound_current_action(hal_sound *sound);
uint32_t hal_sound_cache_action(hal_sound *sound);
// The current record action (not a full-duplex one) as a number no other
// action of this queue has had; 0 while none records. A reader that keeps
// the number of the action it started knows when another user of the
// device has replaced it.
uint32_t hal_sound_record_id(hal_sound *sound);

int hal_sound_start_full_duplex_record(hal_sound *sound);
int hal_sound_stop_full_duplex_record(hal_sound *sound);
int hal_sound_start_full_duplex_play(hal_sound *sound);
int hal_sound_stop_full_duplex_play(hal_sound *sound);

void hal_sound_finished_btdsp_data(hal_sound *sound);
// Does nothing (no Bluetooth audio on this platform).
void hal_sound_set_btdsp_data(hal_sound *sound, const void *data, uint32_t size);
int hal_sound_reset_play(hal_sound *sound);
int hal_sound_reset_record(hal_sound *sound);
int hal_sound_set_mute(hal_sound *sound);

// The device path the queue owns.
hal_dsp *hal_sound_get_dsp(hal_sound *sound);

#ifdef __cplusplus
}
#endif

#endif
