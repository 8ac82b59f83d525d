// The play side's PCM FIFO and rate converter.
#include "dsp_resampler.h"

#include <cmath>
#include <gtest/gtest.h>
#include <vector>

TEST(DspResampler, EqualRatesIsAPlainFifo)
{
    dsp_resampler *r = dsp_resampler_new(8000, 8000);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->resampler, nullptr);
    EXPECT_EQ(r->in_capacity, 320u);
    EXPECT_EQ(r->out_capacity, 0u);
    std::vector<int16_t> in(100);
    for (int i = 0; i < 100; i++)
        in[static_cast<size_t>(i)] = static_cast<int16_t>(i);
    EXPECT_EQ(dsp_resampler_write(r, in.data(), 100), 100u);
    std::vector<int16_t> out(160, -1);
    EXPECT_EQ(dsp_resampler_read(r, out.data(), 160), 100u);
    EXPECT_EQ(std::vector<int16_t>(out.begin(), out.begin() + 100), in);
    EXPECT_EQ(dsp_resampler_waiting(r), 0u);
    EXPECT_EQ(r->in_read, 0u);
    EXPECT_EQ(r->in_write, 0u);
    // Partial reads keep order; a write moves the unread rest to the front.
    EXPECT_EQ(dsp_resampler_write(r, in.data(), 100), 100u);
    EXPECT_EQ(dsp_resampler_read(r, out.data(), 30), 30u);
    EXPECT_EQ(dsp_resampler_write(r, in.data(), 100), 100u);
    EXPECT_EQ(r->in_read, 0u);
    EXPECT_EQ(dsp_resampler_read(r, out.data(), 160), 160u);
    EXPECT_EQ(out[0], 30);
    EXPECT_EQ(out[69], 99);
    EXPECT_EQ(out[70], 0);
    // The input never overflows its 40 ms.
    std::vector<int16_t> big(400, 1);
    EXPECT_EQ(dsp_resampler_write(r, big.data(), 400), 320u - 10);
    dsp_resampler_destroy(&r);
    EXPECT_EQ(r, nullptr);
    dsp_resampler_destroy(&r);
    dsp_resampler_destroy(nullptr);
    EXPECT_EQ(dsp_resampler_new(0, 8000), nullptr);
}

TEST(DspResampler, ConvertsBetweenRates)
{
    struct row {
        uint32_t in, out;
    } rows[] = {{8000, 16000}, {16000, 8000}, {8000, 48000}};
    for (const row &rw : rows) {
        SCOPED_TRACE(rw.out);
        dsp_resampler *r = dsp_resampler_new(rw.in, rw.out);
        ASSERT_NE(r, nullptr);
        ASSERT_NE(r->resampler, nullptr);
        // One second of a 400 Hz tone in 20 ms pieces.
        std::vector<int16_t> got;
        uint32_t step = rw.in / 50;
        for (uint32_t k = 0; k < 50; k++) {
            std::vector<int16_t> piece(step);
            for (uint32_t i = 0; i < step; i++)
                piece[i] = static_cast<int16_t>(
                    10000 * std::sin(2 * M_PI * 400.0 * (k * step + i) / rw.in));
            ASSERT_EQ(dsp_resampler_write(r, piece.data(), step), step);
            std::vector<int16_t> out(rw.out / 50);
            uint32_t n = dsp_resampler_read(r, out.data(), static_cast<uint32_t>(out.size()));
            got.insert(got.end(), out.begin(), out.begin() + n);
        }
        // About one second of output (the filter holds a few samples back).
        EXPECT_NEAR(static_cast<double>(got.size()), rw.out, rw.out * 0.02);
        // Still a 400 Hz tone: count sign changes past the filter's start.
        int crossings = 0;
        size_t skip = got.size() / 10;
        for (size_t i = skip + 1; i < got.size(); i++)
            crossings += (got[i - 1] < 0) != (got[i] < 0);
        double seconds = static_cast<double>(got.size() - skip) / rw.out;
        EXPECT_NEAR(crossings / seconds, 800.0, 20.0);
        dsp_resampler_destroy(&r);
    }
}
