// ALSA backend of the sound-device layer: the "default" PCM for capture and
// playback (and beeps), or ALSA's "null" PCM, which has no clock of its own
// and is therefore paced here by the wall clock.
#include "wave_backend.h"

#include <alsa/asoundlib.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace
{

const snd_pcm_uframes_t k_period = WAVE_PERIOD;
// Four periods of device buffer: enough to ride out a late looper cycle,
// short enough that speech stays interactive.
const snd_pcm_uframes_t k_buffer = 4 * WAVE_PERIOD;

struct alsa_dev {
    wave_dev *dev;
    snd_pcm_t *pcm;
    int unclocked; // the null PCM: pace by the wall clock
    struct timespec t0;
    uint64_t frames; // frames moved since t0
    uint8_t t0_valid;
};

void silent_error(const char *, int, const char *, int, const char *, ...) {}

pthread_once_t g_alsa_once = PTHREAD_ONCE_INIT;

void alsa_init_once()
{
    // ALSA prints configuration errors on stderr; the caller gets a result
    // code instead.
    snd_lib_error_set_handler(silent_error);
}

const char *pcm_name(int unclocked)
{
    return unclocked ? "null" : "default";
}

int set_params(snd_pcm_t *pcm, wave_dir dir)
{
    snd_pcm_hw_params_t *hw;
    snd_pcm_sw_params_t *sw;
    snd_pcm_hw_params_alloca(&hw);
    snd_pcm_sw_params_alloca(&sw);
    unsigned int rate = WAVE_RATE;
    snd_pcm_uframes_t period = k_period;
    snd_pcm_uframes_t buffer = k_buffer;
    int dirn = 0;
    if (snd_pcm_hw_params_any(pcm, hw) < 0 || snd_pcm_hw_params_set_rate_resample(pcm, hw, 1) < 0 ||
        snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED) < 0 ||
        snd_pcm_hw_params_set_format(pcm, hw, SND_PCM_FORMAT_S16) < 0 ||
        snd_pcm_hw_params_set_channels(pcm, hw, 1) < 0 ||
        snd_pcm_hw_params_set_rate(pcm, hw, rate, 0) < 0 ||
        snd_pcm_hw_params_set_period_size_near(pcm, hw, &period, &dirn) < 0 ||
        snd_pcm_hw_params_set_buffer_size_near(pcm, hw, &buffer) < 0 ||
        snd_pcm_hw_params(pcm, hw) < 0)
        return -1;
    if (snd_pcm_sw_params_current(pcm, sw) < 0)
        return -1;
    // Playback starts with the first period instead of a full buffer, so a
    // short prompt is heard at once.
    if (dir == WAVE_OUT && snd_pcm_sw_params_set_start_threshold(pcm, sw, period) < 0)
        return -1;
    if (snd_pcm_sw_params_set_avail_min(pcm, sw, period) < 0 || snd_pcm_sw_params(pcm, sw) < 0)
        return -1;
    return 0;
}

int open_pcm(snd_pcm_t **out, wave_dir dir, int unclocked, int nonblock)
{
    pthread_once(&g_alsa_once, alsa_init_once);
    snd_pcm_stream_t stream = dir == WAVE_IN ? SND_PCM_STREAM_CAPTURE : SND_PCM_STREAM_PLAYBACK;
    snd_pcm_t *pcm = nullptr;
    if (snd_pcm_open(&pcm, pcm_name(unclocked), stream, nonblock ? SND_PCM_NONBLOCK : 0) < 0)
        return -1;
    if (set_params(pcm, dir) != 0) {
        snd_pcm_close(pcm);
        return -1;
    }
    *out = pcm;
    return 0;
}

// Sound cards with at least one PCM of the direction; when none is found but
// the default PCM opens (a sound server), that one counts.
int count_devices(wave_dir dir)
{
    pthread_once(&g_alsa_once, alsa_init_once);
    snd_pcm_stream_t stream = dir == WAVE_IN ? SND_PCM_STREAM_CAPTURE : SND_PCM_STREAM_PLAYBACK;
    int count = 0;
    int card = -1;
    snd_pcm_info_t *info;
    snd_pcm_info_alloca(&info);
    while (snd_card_next(&card) == 0 && card >= 0) {
        char name[32];
        snprintf(name, sizeof(name), "hw:%d", card);
        snd_ctl_t *ctl;
        if (snd_ctl_open(&ctl, name, 0) < 0)
            continue;
        int device = -1;
        while (snd_ctl_pcm_next_device(ctl, &device) == 0 && device >= 0) {
            snd_pcm_info_set_device(info, (unsigned int)device);
            snd_pcm_info_set_subdevice(info, 0);
            snd_pcm_info_set_stream(info, stream);
            if (snd_ctl_pcm_info(ctl, info) >= 0)
                count++;
        }
        snd_ctl_close(ctl);
    }
    if (count == 0) {
        snd_pcm_t *pcm;
        if (snd_pcm_open(&pcm, "default", stream, SND_PCM_NONBLOCK) >= 0) {
            snd_pcm_close(pcm);
            count = 1;
        }
    }
    return count;
}

int alsa_count(wave_dir dir)
{
    return count_devices(dir);
}

int null_count(wave_dir)
{
    return 1;
}

int caps_common(wave_dir dir, int index, char *name, size_t size, int unclocked)
{
    int n = unclocked ? 1 : count_devices(dir);
    if (index != WAVE_MAPPER && (index < 0 || index >= n))
        return -1;
    if (n == 0)
        return -1;
    snprintf(name, size, "%s", pcm_name(unclocked));
    return 0;
}

int alsa_caps(wave_dir dir, int index, char *name, size_t size)
{
    return caps_common(dir, index, name, size, 0);
}

int null_caps(wave_dir dir, int index, char *name, size_t size)
{
    return caps_common(dir, index, name, size, 1);
}

int open_common(wave_dev *dev, int index, int unclocked)
{
    // Every index leads to the default PCM: ALSA's own configuration routes
    // it, as the wave mapper does.
    if (index != WAVE_MAPPER && index < 0)
        return WAVE_ENODEV;
    alsa_dev *a = (alsa_dev *)calloc(1, sizeof(*a));
    if (!a)
        return -1;
    a->dev = dev;
    a->unclocked = unclocked;
    if (open_pcm(&a->pcm, wave_dev_dir(dev), unclocked, 1) != 0) {
        free(a);
        return -1;
    }
    wave_dev_set_impl(dev, a);
    return 0;
}

int alsa_open(wave_dev *dev, int index)
{
    return open_common(dev, index, 0);
}

int null_open(wave_dev *dev, int index)
{
    return open_common(dev, index, 1);
}

// Waits up to 10 ms for the PCM; 1 when the device is interrupted.
int wait_pcm(alsa_dev *a)
{
    if (wave_dev_interrupted(a->dev))
        return 1;
    (void)snd_pcm_wait(a->pcm, 10);
    return wave_dev_interrupted(a->dev);
}

// A PCM without a clock would move a period in no time: hold each period
// back to its place on the wall clock.
int pace_unclocked(alsa_dev *a, uint32_t frames)
{
    struct timespec now;
    wave_now(&now);
    if (!a->t0_valid) {
        a->t0 = now;
        a->frames = 0;
        a->t0_valid = 1;
    }
    a->frames += frames;
    struct timespec due = a->t0;
    wave_add_ns(&due, wave_frames_ns(a->frames));
    return wave_dev_wait_until(a->dev, &due);
}

int alsa_transfer(wave_dev *dev, int16_t *pcm, uint32_t frames)
{
    alsa_dev *a = (alsa_dev *)wave_dev_impl(dev);
    wave_dir dir = wave_dev_dir(dev);
    uint32_t done = 0;
    if (dir == WAVE_IN && snd_pcm_state(a->pcm) == SND_PCM_STATE_PREPARED) {
        if (snd_pcm_start(a->pcm) < 0)
            return -1;
    }
    while (done < frames) {
        snd_pcm_sframes_t n = dir == WAVE_IN ? snd_pcm_readi(a->pcm, pcm + done, frames - done)
                                             : snd_pcm_writei(a->pcm, pcm + done, frames - done);
        if (n > 0) {
            done += (uint32_t)n;
            continue;
        }
        if (n == -EAGAIN || n == 0) {
            if (wait_pcm(a))
                return WAVE_EINTR;
            continue;
        }
        // Overrun, underrun or suspend: recover and go on; anything else
        // (the device went away) ends this device.
        if (snd_pcm_recover(a->pcm, (int)n, 1) < 0)
            return -1;
        if (dir == WAVE_IN && snd_pcm_start(a->pcm) < 0)
            return -1;
        if (wave_dev_interrupted(dev))
            return WAVE_EINTR;
    }
    if (a->unclocked)
        return pace_unclocked(a, frames) ? WAVE_EINTR : (int)frames;
    if (dir == WAVE_OUT) {
        // Hand the buffer back only once at most one period is left to play,
        // so "done" means heard (bar the last period) and the queue of
        // buffers bounds the delay as it should.
        while (1) {
            snd_pcm_sframes_t delay = 0;
            if (snd_pcm_state(a->pcm) != SND_PCM_STATE_RUNNING ||
                snd_pcm_delay(a->pcm, &delay) < 0 || delay <= (snd_pcm_sframes_t)k_period)
                break;
            if (wait_pcm(a))
                return (int)frames; // written: it is played or dropped with the device
        }
    }
    return (int)frames;
}

void alsa_stop(wave_dev *dev, int discard)
{
    alsa_dev *a = (alsa_dev *)wave_dev_impl(dev);
    a->t0_valid = 0;
    if (wave_dev_dir(dev) == WAVE_OUT && !discard && !a->unclocked) {
        // Every buffer was handed back as played: let the last period out
        // (bounded) instead of cutting it.
        for (int i = 0; i < 10; i++) {
            snd_pcm_sframes_t delay = 0;
            if (snd_pcm_state(a->pcm) != SND_PCM_STATE_RUNNING ||
                snd_pcm_delay(a->pcm, &delay) < 0 || delay <= 0)
                break;
            (void)snd_pcm_wait(a->pcm, 10);
        }
    }
    (void)snd_pcm_drop(a->pcm);
    (void)snd_pcm_prepare(a->pcm);
}

void alsa_close(wave_dev *dev)
{
    alsa_dev *a = (alsa_dev *)wave_dev_impl(dev);
    if (!a)
        return;
    snd_pcm_close(a->pcm);
    free(a);
    wave_dev_set_impl(dev, nullptr);
}

int beep_common(const int16_t *pcm, uint32_t frames, int unclocked)
{
    snd_pcm_t *p;
    if (open_pcm(&p, WAVE_OUT, unclocked, 0) != 0)
        return -1;
    uint32_t done = 0;
    int rc = 0;
    while (done < frames) {
        snd_pcm_sframes_t n = snd_pcm_writei(p, pcm + done, frames - done);
        if (n < 0) {
            if (snd_pcm_recover(p, (int)n, 1) < 0) {
                rc = -1;
                break;
            }
            continue;
        }
        done += (uint32_t)n;
    }
    if (rc == 0)
        (void)snd_pcm_drain(p);
    snd_pcm_close(p);
    if (rc == 0 && unclocked) {
        // Synchronous like the system beep, clock or not.
        struct timespec ts = {0, 0};
        wave_add_ns(&ts, wave_frames_ns(frames));
        nanosleep(&ts, nullptr);
    }
    return rc;
}

int alsa_beep(const int16_t *pcm, uint32_t frames)
{
    return beep_common(pcm, frames, 0);
}

int null_beep(const int16_t *pcm, uint32_t frames)
{
    return beep_common(pcm, frames, 1);
}

} // namespace

const wave_backend_ops wave_alsa_ops = {
    alsa_count, alsa_caps, alsa_open, alsa_transfer, alsa_stop, alsa_close, nullptr, alsa_beep,
};

const wave_backend_ops wave_null_ops = {
    null_count, null_caps, null_open, alsa_transfer, alsa_stop, alsa_close, nullptr, null_beep,
};
