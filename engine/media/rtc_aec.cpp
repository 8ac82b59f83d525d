#include "rtc_aec.h"

#include "hal_ctx.h"
#include "hal_ini.h"
#include "hal_log.h"

#include <pthread.h>
#include <stdlib.h>
#include <string.h>

// webrtc-audio-processing 0.3 exports the AECM C functions but installs no
// header for them. These prototypes match the library's own (checked against
// the exported symbols and their code): Create returns the instance, the
// configuration travels by value, sizes are size_t.
extern "C" {
typedef struct {
    int16_t cngMode;  // 0 off, 1 on
    int16_t echoMode; // 0..4, 4 the loudest (loudspeaker) setting
} AecmConfig;
void *WebRtcAecm_Create(void);
void WebRtcAecm_Free(void *aecmInst);
int32_t WebRtcAecm_Init(void *aecmInst, int32_t sampFreq);
int32_t WebRtcAecm_BufferFarend(void *aecmInst, const int16_t *farend, size_t nrOfSamples);
int32_t WebRtcAecm_Process(void *aecmInst, const int16_t *nearendNoisy, const int16_t *nearendClean,
                           int16_t *out, size_t nrOfSamples, int16_t msInSndCardBuf);
int32_t WebRtcAecm_set_config(void *aecmInst, AecmConfig config);
}

namespace
{

const char *k_tag = "rtcaec";
const int32_t k_default_delay = 90;
// The canceller takes sound-card delays of 0..500 ms and fails the frame
// outside that range.
const int32_t k_max_delay = 500;

// Serialises every call into any canceller: the looper feeds the far end
// while the capture thread processes the near end.
pthread_mutex_t g_aec_mu = PTHREAD_MUTEX_INITIALIZER;
// Set by every rtc_aec_new (looper), read under g_aec_mu by both sides.
int16_t g_aec_delay = k_default_delay;

hal_log *ctx_log(hal_ctx *ctx)
{
    return ctx ? hal_ctx_get_log(ctx) : NULL;
}

int32_t read_delay(hal_ctx *ctx)
{
    hal_ini *ini = ctx ? hal_ctx_get_ini(ctx) : NULL;
    const char *v = ini ? hal_ini_find(ini, "record", "aec_delay") : NULL;
    int32_t d = v ? atoi(v) : k_default_delay;
    if (d < 0)
        d = 0;
    if (d > k_max_delay)
        d = k_max_delay;
    return d;
}

// Caller holds g_aec_mu.
void fail_locked(hal_ctx *ctx, void **handle, const char *where)
{
    hal_log_output(ctx_log(ctx), HAL_LOG_ERROR, k_tag, "%s Process failed", where);
    WebRtcAecm_Free(*handle);
    *handle = NULL;
}

} // namespace

void *rtc_aec_new(hal_ctx *ctx, int32_t sample_rate)
{
    int32_t delay = read_delay(ctx);
    pthread_mutex_lock(&g_aec_mu);
    g_aec_delay = (int16_t)delay;
    pthread_mutex_unlock(&g_aec_mu);
    hal_log_output(ctx_log(ctx), HAL_LOG_ERROR, k_tag, "%s aec_dealy:%d", "rtc_aec_new", delay);
    if (delay == 0)
        return NULL;
    void *aec = WebRtcAecm_Create();
    if (!aec)
        return NULL;
    if ((sample_rate != 8000 && sample_rate != 16000) || WebRtcAecm_Init(aec, sample_rate) != 0) {
        hal_log_output(ctx_log(ctx), HAL_LOG_ERROR, k_tag, "%s Init fail", "rtc_aec_new");
        WebRtcAecm_Free(aec);
        return NULL;
    }
    AecmConfig cfg;
    cfg.cngMode = 1;
    cfg.echoMode = 4;
    if (WebRtcAecm_set_config(aec, cfg) != 0) {
        hal_log_output(ctx_log(ctx), HAL_LOG_ERROR, k_tag, "%s config fail", "rtc_aec_new");
        WebRtcAecm_Free(aec);
        return NULL;
    }
    return aec;
}

void rtc_aec_destroy(hal_ctx *ctx, void **handle)
{
    (void)ctx;
    if (!handle)
        return;
    pthread_mutex_lock(&g_aec_mu);
    if (*handle)
        WebRtcAecm_Free(*handle);
    *handle = NULL;
    pthread_mutex_unlock(&g_aec_mu);
}

int rtc_aec_process(hal_ctx *ctx, void **handle, const int16_t *near_end, int16_t *out)
{
    if (!handle || !near_end || !out)
        return -1;
    int rc = -1;
    pthread_mutex_lock(&g_aec_mu);
    if (*handle) {
        if (WebRtcAecm_Process(*handle, near_end, near_end, out, RTC_AEC_FRAME, g_aec_delay) == 0)
            rc = 0;
        else
            fail_locked(ctx, handle, "rtc_aec_process");
    }
    pthread_mutex_unlock(&g_aec_mu);
    if (rc != 0 && out != near_end)
        memmove(out, near_end, RTC_AEC_FRAME * sizeof(int16_t));
    return rc;
}

int rtc_aec_playback(hal_ctx *ctx, void **handle, const int16_t *far_end)
{
    if (!handle)
        return -1;
    int rc = -1;
    pthread_mutex_lock(&g_aec_mu);
    if (*handle) {
        if (far_end && WebRtcAecm_BufferFarend(*handle, far_end, RTC_AEC_FRAME) == 0)
            rc = 0;
        else
            fail_locked(ctx, handle, "rtc_aec_playback");
    }
    pthread_mutex_unlock(&g_aec_mu);
    return rc;
}

int32_t rtc_aec_get_delay(void)
{
    pthread_mutex_lock(&g_aec_mu);
    int32_t d = g_aec_delay;
    pthread_mutex_unlock(&g_aec_mu);
    return d;
}
