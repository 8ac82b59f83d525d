// The sound backend comes from LIRKO_AUDIO, read once at first use (this
// binary's only test, so nothing has chosen a backend before it).
#include "test_support.h"
#include "wave.h"

#include <cstdlib>
#include <gtest/gtest.h>

TEST(WaveEnv, BackendFromTheEnvironment)
{
    ptt::test::TempCwd cwd;
    ASSERT_EQ(setenv("LIRKO_AUDIO", "file:in.raw,out.wav,pump", 1), 0);
    EXPECT_EQ(wave_backend(), WAVE_BACKEND_FILE);
    // Read once: a later change does not switch a running process.
    ASSERT_EQ(setenv("LIRKO_AUDIO", "null", 1), 0);
    EXPECT_EQ(wave_backend(), WAVE_BACKEND_FILE);
    EXPECT_EQ(wave_beep(1000, 20), 0);
    EXPECT_EQ(ptt::test::read_file("out.wav").size(), 44u + 320u);
    unsetenv("LIRKO_AUDIO");
}
