// The sound device path of the engine: records and plays 8000 Hz, 16-bit,
// mono voice in 20 ms frames of 160 samples through the sound-device layer
// (wave.h).
//
// Record: capture -> probation drop -> automatic gain -> echo control ->
// AMR-NB (101) or EVRC (103) encoder -> record ring -> hal_dsp_read_frame.
// Play: hal_dsp_write -> play ring -> decoder chosen by the first frame ->
// echo canceller far end -> automatic gain -> PCM FIFO -> five device buffers.
//
// Threads: the capture callback does the whole record side itself and writes
// the record ring under the record lock; the playback callback only counts
// returned buffers under the play lock; everything else runs on the looper.
// The callbacks reach the looper only by posting "dsp.record.atend" and
// "dsp.play.atend". Owned by the sound action queue (hal_sound.h).
//
// Debug dumps in the current directory, opened when a path starts:
// "record_pcm.raw" (capture after probation, before gain and echo control),
// "play_pcm.raw" (each decoded frame as it goes to the device) and
// "play_pcm.wave" (created, left empty).
#ifndef HAL_DSP_H
#define HAL_DSP_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct hal_ctx hal_ctx;
typedef struct hal_looper hal_looper;
typedef struct hal_looper_event hal_looper_event;
typedef struct hal_looper_processor hal_looper_processor;
typedef struct hal_dsp hal_dsp;

// Payload types.
#define HAL_PT_AMR 101
#define HAL_PT_EVRC 103

// Room for the data of one frame in the device layer's frame buffers; the
// largest frame either codec makes is 32 bytes (AMR-NB 12.2 kbit/s).
#define HAL_DSP_FRAME_DATA 36

// One coded voice frame (host byte order): payload type, data size, data.
typedef struct hal_sound_frame {
    uint16_t pt;
    uint16_t size;
    uint8_t data[];
} hal_sound_frame;

typedef enum hal_dsp_status {
    HAL_DSP_IDLE = 0,
    HAL_DSP_PLAYING = 1,
    HAL_DSP_SHUTDOWN_PLAYING = 2,
    HAL_DSP_RECORDING = 3,
    HAL_DSP_SHUTDOWN_RECORDING = 4,
    HAL_DSP_FULL_DUPLEX = 5,
} hal_dsp_status;

// Called on the looper once a drained path has ended. result is 0 when the
// path drained, negative when it ended on a device failure.
typedef void (*hal_dsp_play_end_fn)(hal_dsp *dsp, void *arg, int result);
// frames: copies of the frames still queued when the recording drained
// (count of them); freed as soon as the hook returns.
typedef void (*hal_dsp_record_end_fn)(hal_dsp *dsp, void *arg, int result, hal_sound_frame **frames,
                                      uint32_t count);

// A device object with its configuration loaded; NULL when memory runs out.
hal_dsp *hal_dsp_new(hal_ctx *ctx);
// Stops both paths and frees everything; NULL or a handle holding NULL:
// nothing.
void hal_dsp_destroy(hal_dsp **dsp);

hal_dsp_status hal_dsp_get_status(const hal_dsp *dsp);
void hal_dsp_set_status(hal_dsp *dsp, hal_dsp_status status);

// Play side.
int hal_dsp_start_play(hal_dsp *dsp);
// Bytes queued to the play ring (4 + size), 0 when the ring is full, -1 in
// a state that does not play or for a frame no decoder can take (another
// payload type than the play's, a size above the codec's largest frame).
int hal_dsp_write(hal_dsp *dsp, const hal_sound_frame *frame);
// Drains the play path: frames still queued are played, then the hook runs
// (through "dsp.play.atend"). 0; -1 (hook kept) unless playing or draining.
int hal_dsp_async_stop_play(hal_dsp *dsp, hal_dsp_play_end_fn hook, void *arg);
// Stops playing at once; the variant with statistics also sets the state to
// idle and logs what was played.
void hal_dsp_stop_play(hal_dsp *dsp);
void hal_dsp_stop_play_with_stats(hal_dsp *dsp);
// 1 while the output is open.
int hal_dsp_play_open(const hal_dsp *dsp);
// Bytes waiting in the play ring.
uint32_t hal_dsp_play_ring_bytes(const hal_dsp *dsp);

// Record side.
int hal_dsp_start_record(hal_dsp *dsp, uint32_t codec);
// The next recorded frame, valid until the next call; NULL when none waits
// or the input is closed.
const hal_sound_frame *hal_dsp_read_frame(hal_dsp *dsp);
// Drains the record path: the next capture buffer ends it and the hook gets
// the frames still queued (through "dsp.record.atend"); a device that gives
// nothing back ends it after a bounded wait. 0.
int hal_dsp_async_stop_record(hal_dsp *dsp, hal_dsp_record_end_fn hook, void *arg);
// State idle, then hal_dsp_shutdown_record.
void hal_dsp_stop_record(hal_dsp *dsp);
void hal_dsp_shutdown_record(hal_dsp *dsp);

// Processors of "dsp.play.atend" and "dsp.record.atend" (arg: the device).
void hal_dsp_on_event_play_atend(hal_looper *looper, hal_looper_event *event, void *arg,
                                 hal_looper_processor *processor);
void hal_dsp_on_event_record_atend(hal_looper *looper, hal_looper_event *event, void *arg,
                                   hal_looper_processor *processor);

#ifdef __cplusplus
}
#endif

#endif
