#include "audio_out.h"

#include "rtmp_util.h"

#include <alsa/asoundlib.h>
#include <cerrno>

namespace rtmp
{

namespace
{

class AlsaOut final : public AudioOut
{
  public:
    AlsaOut(snd_pcm_t *pcm, int channels) : pcm_(pcm), channels_(channels) {}
    ~AlsaOut() override
    {
        snd_pcm_close(pcm_);
    }
    void Write(const int16_t *samples, int frames) override
    {
        while (frames > 0) {
            snd_pcm_sframes_t n = snd_pcm_writei(pcm_, samples, frames);
            if (n == -EAGAIN)
                return; // the device is full: drop rather than hold the session
            if (n < 0) {
                if (snd_pcm_recover(pcm_, static_cast<int>(n), 1) < 0)
                    return;
                continue;
            }
            samples += n * channels_;
            frames -= static_cast<int>(n);
        }
    }

    int64_t QueuedFrames() override
    {
        // Before the start threshold the device holds what was written and
        // plays nothing: its delay is still what comes before the next write.
        snd_pcm_state_t state = snd_pcm_state(pcm_);
        if (state != SND_PCM_STATE_RUNNING && state != SND_PCM_STATE_PREPARED)
            return -1;
        snd_pcm_sframes_t delay = 0;
        if (snd_pcm_delay(pcm_, &delay) < 0 || delay < 0)
            return -1;
        return delay;
    }

  private:
    snd_pcm_t *pcm_;
    int channels_;
};

void PutLe(uint8_t *p, uint32_t v, int bytes)
{
    for (int i = 0; i < bytes; i++)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

class WavOut final : public AudioOut
{
  public:
    WavOut(FILE *f, int rate, int channels) : f_(f), rate_(rate), channels_(channels)
    {
        WriteHeader();
    }
    ~WavOut() override
    {
        WriteHeader();
        std::fclose(f_);
    }
    void Write(const int16_t *samples, int frames) override
    {
        // Little-endian machine: the samples are already in WAV byte order.
        size_t n = std::fwrite(samples, sizeof(int16_t) * channels_, frames, f_);
        data_bytes_ += static_cast<uint32_t>(n * sizeof(int16_t) * channels_);
        std::fflush(f_);
    }

  private:
    void WriteHeader()
    {
        uint8_t h[44] = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' '};
        PutLe(h + 4, 36 + data_bytes_, 4);
        PutLe(h + 16, 16, 4);
        PutLe(h + 20, 1, 2); // PCM
        PutLe(h + 22, channels_, 2);
        PutLe(h + 24, rate_, 4);
        PutLe(h + 28, rate_ * channels_ * 2, 4);
        PutLe(h + 32, channels_ * 2, 2);
        PutLe(h + 34, 16, 2);
        h[36] = 'd';
        h[37] = 'a';
        h[38] = 't';
        h[39] = 'a';
        PutLe(h + 40, data_bytes_, 4);
        long pos = std::ftell(f_);
        std::fseek(f_, 0, SEEK_SET);
        std::fwrite(h, 1, sizeof(h), f_);
        if (pos > 44)
            std::fseek(f_, pos, SEEK_SET);
        std::fflush(f_);
    }

    FILE *f_;
    int rate_, channels_;
    uint32_t data_bytes_ = 0;
};

} // namespace

std::unique_ptr<AudioOut> AudioOut::OpenDevice(int rate, int channels)
{
    snd_pcm_t *pcm = nullptr;
    int err = snd_pcm_open(&pcm, "default", SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
    if (err < 0) {
        Log(kLogWarning, "audio: no sound device (%s): playing without sound", snd_strerror(err));
        return nullptr;
    }
    err = snd_pcm_set_params(pcm, SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED, channels,
                             rate, 1, 200000);
    if (err < 0) {
        Log(kLogWarning, "audio: the sound device refuses %d Hz x %d (%s)", rate, channels,
            snd_strerror(err));
        snd_pcm_close(pcm);
        return nullptr;
    }
    // The device starts once 60 ms are queued, not when its buffer is full:
    // the pictures follow the sound, and a full buffer would hold both back.
    snd_pcm_sw_params_t *sw = nullptr;
    if (snd_pcm_sw_params_malloc(&sw) == 0) {
        if (snd_pcm_sw_params_current(pcm, sw) == 0 &&
            snd_pcm_sw_params_set_start_threshold(
                pcm, sw, static_cast<snd_pcm_uframes_t>(rate) * 60 / 1000) == 0)
            (void)snd_pcm_sw_params(pcm, sw);
        snd_pcm_sw_params_free(sw);
    }
    return std::make_unique<AlsaOut>(pcm, channels);
}

std::unique_ptr<AudioOut> AudioOut::OpenWav(const std::string &path, int rate, int channels)
{
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f) {
        Log(kLogError, "audio: cannot create %s", path.c_str());
        return nullptr;
    }
    return std::make_unique<WavOut>(f, rate, channels);
}

} // namespace rtmp
