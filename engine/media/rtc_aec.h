// The echo layer: the mobile echo canceller (AECM) of webrtc-audio-processing
// behind four calls. The far end (what the speaker plays) is fed on the
// looper and the near end (the microphone) processed on the capture thread;
// every call runs under one process-wide lock, and a canceller that fails is
// freed and its handle cleared under that same lock, so neither side can be
// inside it at that moment. The handle is shared by the two sides, so the
// processing calls take its address.
#ifndef RTC_AEC_H
#define RTC_AEC_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct hal_ctx hal_ctx;

// Samples per call: one 20 ms frame at 8000 Hz.
#define RTC_AEC_FRAME 160

// Reads [record] aec_delay (milliseconds, 90 when missing; held to 0..500,
// the canceller's range) into the process-wide delay. Delay 0: NULL (echo
// control off). Otherwise a canceller for sample_rate (8000 or 16000) with
// comfort noise on and the loudspeaker echo mode 4, or NULL when it cannot
// be made.
void *rtc_aec_new(hal_ctx *ctx, int32_t sample_rate);
// Frees the canceller and clears the handle; NULL or empty handle: nothing.
void rtc_aec_destroy(hal_ctx *ctx, void **handle);
// Removes the echo from 160 near-end samples into out. 0 when processed;
// -1 when there is no canceller or it failed (out then holds the near end
// unchanged; a failed canceller is freed and the handle cleared).
int rtc_aec_process(hal_ctx *ctx, void **handle, const int16_t *near_end, int16_t *out);
// Gives the canceller 160 far-end samples. 0, or -1 as above.
int rtc_aec_playback(hal_ctx *ctx, void **handle, const int16_t *far_end);
// The delay set by the last rtc_aec_new, in milliseconds.
int32_t rtc_aec_get_delay(void);

#ifdef __cplusplus
}
#endif

#endif
