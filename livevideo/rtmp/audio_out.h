// Where a play session's sound goes: ALSA's default device, or a WAV file in
// test runs. 16-bit interleaved samples at the stream's own rate.
#ifndef VISTREL_AUDIO_OUT_H
#define VISTREL_AUDIO_OUT_H

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace rtmp
{

class AudioOut
{
  public:
    virtual ~AudioOut() = default;
    // Never blocks for long: a device that cannot take more drops samples.
    virtual void Write(const int16_t *samples, int frames) = 0;
    // Frames written and not yet heard, from the device itself; -1 when
    // unknown (a file, or a device not playing at the moment).
    virtual int64_t QueuedFrames()
    {
        return -1;
    }

    // ALSA "default"; null when it cannot be opened.
    static std::unique_ptr<AudioOut> OpenDevice(int rate, int channels);
    // A WAV file written from the start; null when it cannot be created.
    static std::unique_ptr<AudioOut> OpenWav(const std::string &path, int rate, int channels);
};

} // namespace rtmp

#endif
