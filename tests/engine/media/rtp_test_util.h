// Helpers of the voice-stream tests: recording owner callbacks, packets and
// payloads built by hand, and a platform context on a manual clock.
//
// Include from exactly one source file per test program: it defines the
// talk session's two owner callbacks.
#pragma once

#include "hal_ctx.h"
#include "hal_looper.h"
#include "hal_time.h"
#include "media_test_util.h"
#include "rtp_stream.h"

#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace rtp_test
{

struct event {
    void *stream;
    uint32_t event;
    void *owner;
};

// What the owner callbacks saw; a hook may act on each call (pop a frame,
// destroy the stream). Callbacks may run on the looper thread.
struct recorder {
    std::mutex mu;
    std::vector<event> in, out; // receive and send stream events
    std::function<void(void *, uint32_t, void *)> in_hook, out_hook;

    void clear()
    {
        std::lock_guard<std::mutex> g(mu);
        in.clear();
        out.clear();
        in_hook = nullptr;
        out_hook = nullptr;
    }
    std::vector<uint32_t> events(std::vector<event> recorder::*calls)
    {
        std::lock_guard<std::mutex> g(mu);
        std::vector<uint32_t> v;
        for (const event &e : this->*calls)
            v.push_back(e.event);
        return v;
    }
    std::vector<uint32_t> in_events()
    {
        return events(&recorder::in);
    }
    std::vector<uint32_t> out_events()
    {
        return events(&recorder::out);
    }
};

inline recorder g_rec;

inline size_t count_of(const std::vector<uint32_t> &v, uint32_t ev)
{
    size_t n = 0;
    for (uint32_t e : v)
        n += e == ev;
    return n;
}

using bytes = std::vector<uint8_t>;

// The 12 header bytes as etpacket_unpack_rtp leaves them (host order).
inline bytes header(uint32_t pt, uint32_t seq, uint32_t ts, uint32_t ssrc)
{
    bytes h(RTP_HEADER_SIZE);
    uint16_t s16 = static_cast<uint16_t>(seq);
    h[0] = 0x80;
    h[1] = static_cast<uint8_t>(pt);
    std::memcpy(&h[2], &s16, 2);
    std::memcpy(&h[4], &ts, 4);
    std::memcpy(&h[8], &ssrc, 4);
    return h;
}

inline const rtp_header *as_header(const bytes &h)
{
    return reinterpret_cast<const rtp_header *>(h.data());
}

// A heap frame for the queues.
inline hal_sound_frame *frame(uint32_t pt, const bytes &data)
{
    hal_sound_frame *f = static_cast<hal_sound_frame *>(hal_malloc(4 + data.size()));
    f->pt = static_cast<uint16_t>(pt);
    f->size = static_cast<uint16_t>(data.size());
    std::memcpy(f->data, data.data(), data.size());
    return f;
}

inline bytes frame_bytes(const hal_sound_frame *f)
{
    return bytes(f->data, f->data + f->size);
}

// AMR-NB storage frame of mode 0 (13 bytes) or 7 (32 bytes) whose bytes
// after the header carry `id`, so every frame of a test is told apart.
inline bytes amr_frame(uint32_t id, uint32_t mode = 0)
{
    bytes f(mode == 7 ? 32 : 13, static_cast<uint8_t>(0xA0 + mode));
    f[0] = static_cast<uint8_t>((mode << 3) | 0x04);
    f[1] = static_cast<uint8_t>(id >> 8);
    f[2] = static_cast<uint8_t>(id);
    return f;
}

// EVRC codec bytes: 10 (half rate) or 22 (full rate) carrying `id`.
inline bytes evrc_frame(uint32_t id, uint32_t size = 10)
{
    bytes f(size, 0x5A);
    f[0] = static_cast<uint8_t>(id >> 8);
    f[1] = static_cast<uint8_t>(id);
    return f;
}

// A payload as rtp_istream_put takes it: AMR-NB frames back to back, or EVRC
// [rate][size][data] records.
inline bytes payload(uint32_t pt, const std::vector<bytes> &frames)
{
    bytes p;
    for (const bytes &f : frames) {
        if (pt == HAL_PT_EVRC) {
            p.push_back(f.size() == 22 ? 4 : f.size() == 10 ? 3 : 1);
            p.push_back(static_cast<uint8_t>(f.size()));
        }
        p.insert(p.end(), f.begin(), f.end());
    }
    return p;
}

inline bytes frame_of(uint32_t pt, uint32_t id)
{
    return pt == HAL_PT_EVRC ? evrc_frame(id) : amr_frame(id);
}

// The frames of packet k (fop frames, ids k * fop ...).
inline std::vector<bytes> packet_frames(uint32_t pt, uint32_t k, uint32_t fop = 5)
{
    std::vector<bytes> v;
    for (uint32_t i = 0; i < fop; i++)
        v.push_back(frame_of(pt, k * fop + i));
    return v;
}

inline bytes erasure(uint32_t pt)
{
    return pt == HAL_PT_EVRC ? bytes(10, 0) : bytes{0x7C};
}

// A short name of a test frame: "#id" for the frames above, "E" for an
// erasure, "?" for anything else.
inline std::string label(const bytes &f)
{
    if (f == bytes{0x7C} || f == bytes(10, 0))
        return "E";
    if (f.size() == 13 && f[0] == 0x04)
        return "#" + std::to_string(f[1] << 8 | f[2]);
    if (f.size() == 10 && f[2] == 0x5A)
        return "#" + std::to_string(f[0] << 8 | f[1]);
    return "?";
}

// Empty when the frame sequences agree; otherwise where they part, with the
// frames around that place, so a failure stays readable.
inline std::string difference(const std::vector<bytes> &got, const std::vector<bytes> &want)
{
    size_t i = 0;
    while (i < got.size() && i < want.size() && got[i] == want[i])
        i++;
    if (i == got.size() && i == want.size())
        return "";
    auto around = [i](const std::vector<bytes> &v) {
        std::string out;
        for (size_t k = i >= 3 ? i - 3 : 0; k < v.size() && k < i + 8; k++)
            out += (k == i ? " [" : " ") + label(v[k]) + (k == i ? "]" : "");
        return out;
    };
    return "frame " + std::to_string(i) + " of " + std::to_string(got.size()) + "/" +
           std::to_string(want.size()) + ": got" + around(got) + "; want" + around(want);
}

// Engine time of a manual-clock millisecond count.
inline uint64_t ms_at(double engine_seconds)
{
    return static_cast<uint64_t>((engine_seconds - 500.0) * 1000.0 + 0.5);
}

// A platform context over a silent file sound device in a fresh directory,
// its engine clock stopped at `start` engine seconds until a test moves it.
class fixture : public ::testing::Test
{
  protected:
    void open(const std::string &ini, double start = 1000.0)
    {
        hal_clock_fake_enable(ms_at(start));
        e_ = std::make_unique<media_test::engine>(ini, media_test::file_opts("", ""));
        g_rec.clear();
    }
    void TearDown() override
    {
        e_.reset();
        hal_clock_fake_disable();
        g_rec.clear();
    }
    hal_ctx *ctx()
    {
        return e_->ctx();
    }
    hal_looper *looper()
    {
        return hal_ctx_get_looper(e_->ctx());
    }
    int run(const std::function<int()> &fn)
    {
        return e_->run(fn);
    }
    // Lets the looper's timers see the clock `ms` later and waits until every
    // timer due by then has run: the first exec lands in the cycle that runs
    // them, the second in the one after.
    void advance(uint64_t ms)
    {
        hal_clock_fake_advance(ms);
        run([] { return 0; });
        run([] { return 0; });
    }

    ptt::test::TempCwd cwd_;
    std::unique_ptr<media_test::engine> e_;
};

} // namespace rtp_test

namespace rtp_test
{
using hook_fn = std::function<void(void *, uint32_t, void *)>;

// Notes a call in one of the recorder's lists, then runs its hook unlocked
// (the hook may call the stream, which may call back).
inline void note(std::vector<event> recorder::*calls, hook_fn recorder::*hook, void *stream,
                 uint32_t ev, void *owner)
{
    hook_fn h;
    {
        std::lock_guard<std::mutex> g(g_rec.mu);
        (g_rec.*calls).push_back({stream, ev, owner});
        h = g_rec.*hook;
    }
    if (h)
        h(stream, ev, owner);
}
} // namespace rtp_test

extern "C" void session_on_istream_stop(void *stream, uint32_t event, void *owner)
{
    rtp_test::note(&rtp_test::recorder::in, &rtp_test::recorder::in_hook, stream, event, owner);
}

extern "C" void session_on_ostream_notify(void *stream, uint32_t event, void *owner)
{
    rtp_test::note(&rtp_test::recorder::out, &rtp_test::recorder::out_hook, stream, event, owner);
}
