// The console drives one instance from its GUI thread and its single-call
// thread at once; these runs must be clean under ThreadSanitizer and leave
// exactly the sessions the calls asked for.
#include "fake_rtmp.h"
#include "rtc/logging.h"
#include "vistrel.h"

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace
{

class VistrelThreads : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        dir_ = std::filesystem::temp_directory_path() /
               ("vistrel-mt-" + std::to_string(getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir_);
        rtc::LogMessage::SetLogFolderForTesting(dir_.string());
        fake::Reset();
    }
    void TearDown() override
    {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    std::filesystem::path dir_;
};

TEST_F(VistrelThreads, GuiAndSingleCallThreadsAtOnce)
{
    IAvVistrel *av = CreateLiveInstance();
    constexpr int kRounds = 100;
    std::atomic<bool> go{false};
    // The single-call thread: push start then pull start, as the console's
    // call thread does; the GUI thread tears the call down and works the wall.
    std::thread call([&] {
        while (!go)
            std::this_thread::yield();
        for (int i = 0; i < kRounds; i++) {
            av->StartPushRtmpStream(0x100, "rtmp://h/live/me");
            av->StartPullRtmpStream(0x200, "rtmp://h/live/peer");
        }
    });
    std::thread gui([&] {
        while (!go)
            std::this_thread::yield();
        for (int i = 0; i < kRounds; i++) {
            std::string wall = "rtmp://h/live/wall" + std::to_string(i % 4);
            av->StartPullRtmpStream(0x300 + i % 4, wall);
            av->SetPullStreamMute(wall, i % 2 == 0);
            av->SetPullStreamMute("rtmp://h/live/peer", true);
            av->UpdatePullVideoRender(0x400, "rtmp://h/live/peer");
            av->UpdatePushVideoRender(0x500);
            av->GetCurrentCodecType();
            av->ForwardPushOpB(1, 2, 3);
            if (i % 3 == 0) {
                av->StopPullRtmpStream("rtmp://h/live/peer");
                av->StopPushRtmpStream();
            }
            av->StopPullRtmpStream(wall);
        }
    });
    go = true;
    call.join();
    gui.join();
    ReleaseLiveInstance(&av);
    EXPECT_EQ(av, nullptr);
    EXPECT_EQ(fake::LiveSessions(), 0);
}

TEST_F(VistrelThreads, RacingPushStartsMakeOneSession)
{
    IAvVistrel *av = CreateLiveInstance();
    constexpr int kThreads = 8;
    std::atomic<int> ready{0};
    std::vector<int> results(kThreads, 99);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; t++)
        threads.emplace_back([&, t] {
            ready++;
            while (ready < kThreads)
                std::this_thread::yield();
            results[t] = av->StartPushRtmpStream(t, "rtmp://h/live/p" + std::to_string(t));
        });
    for (auto &t : threads)
        t.join();
    EXPECT_EQ(std::count(results.begin(), results.end(), 0), 1);
    EXPECT_EQ(std::count(results.begin(), results.end(), -1), kThreads - 1);
    auto texts = fake::Texts();
    EXPECT_EQ(std::count(texts.begin(), texts.end(), std::string("H1.Create")), 1);
    EXPECT_EQ(std::count(texts.begin(), texts.end(), std::string("H2.Create")), 0);
    ReleaseLiveInstance(&av);
    EXPECT_EQ(fake::LiveSessions(), 0);
}

TEST_F(VistrelThreads, CreateFromManyThreadsGivesOneInstance)
{
    constexpr int kThreads = 8;
    std::vector<IAvVistrel *> got(kThreads, nullptr);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; t++)
        threads.emplace_back([&, t] { got[t] = CreateLiveInstance(); });
    for (auto &t : threads)
        t.join();
    for (auto *p : got)
        EXPECT_EQ(p, got[0]);
    ReleaseLiveInstance(&got[0]);
}

} // namespace
