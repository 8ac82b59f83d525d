// Helpers of the sound tests: WAV files, a platform context over a file
// sound device, running code on the looper, recorded frames and signal
// measures.
#pragma once

#include "hal_ctx.h"
#include "hal_looper.h"
#include "hal_sound.h"
#include "test_support.h"
#include "wave.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <utility>
#include <vector>

namespace media_test
{

inline std::vector<int16_t> read_wav(const std::string &path)
{
    std::string b = ptt::test::read_file(path);
    if (b.size() < 44)
        return {};
    // Our fixtures and outputs have the plain 44-byte header.
    std::vector<int16_t> pcm((b.size() - 44) / 2);
    std::memcpy(pcm.data(), b.data() + 44, pcm.size() * 2);
    return pcm;
}

inline std::vector<int16_t> read_raw(const std::string &path)
{
    std::string b = ptt::test::read_file(path);
    std::vector<int16_t> pcm(b.size() / 2);
    std::memcpy(pcm.data(), b.data(), pcm.size() * 2);
    return pcm;
}

inline bool write_raw(const std::string &path, const std::vector<int16_t> &pcm)
{
    return ptt::test::write_file(
        path, std::string(reinterpret_cast<const char *>(pcm.data()), pcm.size() * 2));
}

inline std::vector<int16_t> fixture(const std::string &name)
{
    return read_wav(ptt::test::source_path("tests/fixtures/audio/" + name));
}

inline std::vector<int16_t> tone(double freq, size_t n, double amp = 12000.0)
{
    std::vector<int16_t> v(n);
    for (size_t i = 0; i < n; i++)
        v[i] = static_cast<int16_t>(std::lrint(amp * std::sin(2 * M_PI * freq * i / 8000.0)));
    return v;
}

// Strongest frequency (1 Hz steps) of a signal, by a direct DFT scan.
inline double peak_frequency(const std::vector<int16_t> &x, double lo = 100, double hi = 3950)
{
    double best = 0, best_f = 0;
    for (double f = lo; f <= hi; f += 1.0) {
        double re = 0, im = 0;
        for (size_t i = 0; i < x.size(); i++) {
            double a = 2 * M_PI * f * i / 8000.0;
            re += x[i] * std::cos(a);
            im += x[i] * std::sin(a);
        }
        double m = re * re + im * im;
        if (m > best) {
            best = m;
            best_f = f;
        }
    }
    return best_f;
}

// 20 ms RMS envelope in dB.
inline std::vector<double> envelope(const std::vector<int16_t> &x, size_t from = 0)
{
    std::vector<double> e;
    for (size_t i = from; i + 160 <= x.size(); i += 160) {
        double s = 0;
        for (size_t k = 0; k < 160; k++)
            s += double(x[i + k]) * x[i + k];
        e.push_back(10 * std::log10(s / 160 + 1.0));
    }
    return e;
}

inline double correlation(const std::vector<double> &a, const std::vector<double> &b)
{
    size_t n = std::min(a.size(), b.size());
    if (n < 2)
        return 0;
    double ma = 0, mb = 0;
    for (size_t i = 0; i < n; i++) {
        ma += a[i];
        mb += b[i];
    }
    ma /= n;
    mb /= n;
    double sab = 0, saa = 0, sbb = 0;
    for (size_t i = 0; i < n; i++) {
        sab += (a[i] - ma) * (b[i] - mb);
        saa += (a[i] - ma) * (a[i] - ma);
        sbb += (b[i] - mb) * (b[i] - mb);
    }
    return saa > 0 && sbb > 0 ? sab / std::sqrt(saa * sbb) : 0;
}

// Best envelope correlation of out against in over sample lags 0..max_lag
// (in steps of 20 samples); returns {correlation, lag}.
inline std::pair<double, size_t>
best_envelope_match(const std::vector<int16_t> &in, const std::vector<int16_t> &out, size_t max_lag)
{
    std::vector<double> ein = envelope(in);
    std::pair<double, size_t> best{-2, 0};
    for (size_t lag = 0; lag <= max_lag && lag < out.size(); lag += 20) {
        double c = correlation(ein, envelope(out, lag));
        if (c > best.first)
            best = {c, lag};
    }
    return best;
}

// Runs a function on the looper and returns its result.
inline int on_looper(hal_ctx *ctx, const std::function<int()> &fn)
{
    struct box {
        const std::function<int()> *fn;
    } b{&fn};
    return hal_looper_exec(
        hal_ctx_get_looper(ctx),
        [](hal_looper *, void *arg) { return (*static_cast<box *>(arg)->fn)(); }, &b);
}

// Capture periods the file sound device has delivered so far.
inline uint64_t in_periods()
{
    wave_file_stats st;
    wave_file_get_stats(&st);
    return st.in_periods;
}

// Appends every recorded frame waiting now, header included, to out. Runs on
// the looper; returns 0 for on_looper.
inline int take_recorded_frames(hal_sound *s, std::vector<std::vector<uint8_t>> &out)
{
    const hal_sound_frame *f;
    while ((f = hal_sound_read_frame(s)) != nullptr) {
        const uint8_t *p = reinterpret_cast<const uint8_t *>(f);
        out.emplace_back(p, p + 4 + f->size);
    }
    return 0;
}

// A platform context in the current directory over a file sound device,
// with custom.ini written from the given text.
class engine
{
  public:
    engine(const std::string &ini, const wave_file_opts &opts)
    {
        EXPECT_TRUE(ptt::test::write_file("custom.ini", ini));
        EXPECT_EQ(wave_set_backend(WAVE_BACKEND_FILE, &opts), 0);
        ctx_ = hal_ctx_new(".");
        EXPECT_NE(ctx_, nullptr);
    }
    ~engine()
    {
        hal_ctx_destroy(&ctx_);
    }
    engine(const engine &) = delete;
    engine &operator=(const engine &) = delete;
    hal_ctx *ctx() const
    {
        return ctx_;
    }
    int run(const std::function<int()> &fn)
    {
        return on_looper(ctx_, fn);
    }

  private:
    hal_ctx *ctx_ = nullptr;
};

inline wave_file_opts file_opts(const std::string &in, const std::string &out,
                                wave_pacing pacing = WAVE_PACE_PUMPED)
{
    wave_file_opts o{};
    std::snprintf(o.in_path, sizeof(o.in_path), "%s", in.c_str());
    std::snprintf(o.out_path, sizeof(o.out_path), "%s", out.c_str());
    o.pacing = pacing;
    o.fail_write_after = -1;
    return o;
}

} // namespace media_test
