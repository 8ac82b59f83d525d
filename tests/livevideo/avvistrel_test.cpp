// The instance against a fake RTMP layer: which session operations each
// interface call makes, in which order, on which thread, and what it returns.
#include "AvVistrel.h"
#include "fake_rtmp.h"
#include "rtc/logging.h"
#include "test_support.h"
#include "vistrel.h"

#include <filesystem>
#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <regex>

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace
{

class Vistrel : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        log_dir_ = std::filesystem::temp_directory_path() /
                   ("vistrel-log-" + std::to_string(getpid()) + "-" +
                    ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(log_dir_);
        rtc::LogMessage::SetLogFolderForTesting(log_dir_.string());
        fake::Reset();
        av_ = CreateLiveInstance();
        ASSERT_NE(av_, nullptr);
    }
    void TearDown() override
    {
        ReleaseLiveInstance(&av_);
        EXPECT_EQ(fake::LiveSessions(), 0);
        std::error_code ec;
        std::filesystem::remove_all(log_dir_, ec);
    }
    // Session calls since the last look.
    std::vector<std::string> Take()
    {
        auto all = fake::Texts();
        std::vector<std::string> out(all.begin() + taken_, all.end());
        taken_ = all.size();
        return out;
    }

    std::filesystem::path log_dir_;
    IAvVistrel *av_ = nullptr;
    size_t taken_ = 0;
};

TEST_F(Vistrel, PushStepsRunOnTheWorkerInOrder)
{
    EXPECT_EQ(av_->StartPushRtmpStream(0x11, "rtmp://h/live/p"), 0);
    EXPECT_THAT(Take(), ElementsAre("H1.Create", "H1.SetVideoRender(0x11)", "H1.SetCodecType(3)",
                                    "H1.StartRtmpPush(rtmp://h/live/p)"));
    EXPECT_EQ(av_->StopPushRtmpStream(), 0);
    EXPECT_THAT(Take(), ElementsAre("H1.SetVideoRender(0x0)", "H1.StopRtmpPush", "H1.Destory"));
    // "AvVistrel 0x" and the first digits of the address, cut to 15 bytes.
    for (const auto &c : fake::Calls())
        EXPECT_EQ(c.thread.rfind("AvVistrel 0x", 0), 0u) << c.text << " on " << c.thread;
}

TEST_F(Vistrel, PullStepsRunOnTheWorkerInOrder)
{
    EXPECT_EQ(av_->StartPullRtmpStream(0x22, "rtmp://h/live/a"), 0);
    EXPECT_THAT(Take(), ElementsAre("G1.Create", "G1.StartRtmpPlay(rtmp://h/live/a,0x22)"));
    EXPECT_EQ(av_->StopPullRtmpStream("rtmp://h/live/a"), 0);
    EXPECT_THAT(Take(), ElementsAre("G1.StopRtmpPlay", "G1.Destory"));
    for (const auto &c : fake::Calls())
        EXPECT_EQ(c.thread.rfind("AvVistrel 0x", 0), 0u) << c.text << " on " << c.thread;
}

TEST_F(Vistrel, CallerThreadOperationsRunOnTheCaller)
{
    ASSERT_EQ(av_->StartPushRtmpStream(1, "p"), 0);
    ASSERT_EQ(av_->StartPullRtmpStream(2, "a"), 0);
    Take();
    EXPECT_TRUE(av_->SetPullStreamMute("a", true));
    EXPECT_TRUE(av_->UpdatePullVideoRender(3, "a"));
    EXPECT_TRUE(av_->UpdatePushVideoRender(4));
    EXPECT_TRUE(av_->UpdatePushVideoRender(5, 6, 7));
    EXPECT_EQ(av_->ForwardPushOpA(1, 2, 3), -1);
    EXPECT_TRUE(av_->ForwardPushOpB(4, 5, 6));
    EXPECT_THAT(Take(),
                ElementsAre("G1.SetMute(1)", "G1.UpdateVideoRender(0x3)",
                            "H1.UpdateVideoRender(0x4,0x0,0x0)",
                            "H1.UpdateVideoRender(0x5,0x6,0x7)", "H1.PassThroughOp11(0x1,0x2,0x3)",
                            "H1.PassThroughOp1(0x4,0x5,0x6)"));
    char me[32] = {0};
    pthread_getname_np(pthread_self(), me, sizeof(me));
    auto calls = fake::Calls();
    for (size_t i = calls.size() - 6; i < calls.size(); i++)
        EXPECT_EQ(calls[i].thread, me) << calls[i].text;
}

TEST_F(Vistrel, ResultsWithoutSessions)
{
    EXPECT_TRUE(av_->Reserved1());
    EXPECT_TRUE(av_->Reserved2());
    EXPECT_TRUE(av_->Reserved3());
    EXPECT_EQ(av_->ForwardPushOpA(1, 2, 3), -1);
    EXPECT_FALSE(av_->ForwardPushOpB(1, 2, 3));
    EXPECT_FALSE(av_->UpdatePushVideoRender(9));
    EXPECT_EQ(av_->StopPushRtmpStream(), -1);
    EXPECT_EQ(av_->GetCurrentCodecType(), 3);
    EXPECT_TRUE(av_->SetCodecType(7));
    EXPECT_EQ(av_->GetCurrentCodecType(), 7);
    EXPECT_EQ(av_->StopPullRtmpStream("nothing"), 0);
    EXPECT_FALSE(av_->SetPullStreamMute("nothing", true));
    EXPECT_FALSE(av_->UpdatePullVideoRender(1, "nothing"));
    EXPECT_THAT(Take(), IsEmpty());
}

TEST_F(Vistrel, SecondPushIsRefusedAndSecondStopToo)
{
    EXPECT_EQ(av_->StartPushRtmpStream(1, "p1"), 0);
    EXPECT_EQ(av_->StartPushRtmpStream(2, "p2"), -1);
    EXPECT_EQ(av_->StopPushRtmpStream(), 0);
    EXPECT_EQ(av_->StopPushRtmpStream(), -1);
    EXPECT_THAT(Take(), ElementsAre("H1.Create", "H1.SetVideoRender(0x1)", "H1.SetCodecType(3)",
                                    "H1.StartRtmpPush(p1)", "H1.SetVideoRender(0x0)",
                                    "H1.StopRtmpPush", "H1.Destory"));
    // Slots 1 to 4 whatever the state.
    EXPECT_TRUE(av_->Reserved1() && av_->Reserved2() && av_->Reserved3());
    EXPECT_EQ(av_->ForwardPushOpA(0, 0, 0), -1);
}

TEST_F(Vistrel, CodecTypeGoesToThePushAndComesBackFromIt)
{
    EXPECT_TRUE(av_->SetCodecType(5));
    ASSERT_EQ(av_->StartPushRtmpStream(1, "p"), 0);
    fake::SetCodecTypeOffset(10);
    EXPECT_EQ(av_->GetCurrentCodecType(), 15);
    ASSERT_EQ(av_->StopPushRtmpStream(), 0);
    // The value read from the session stays.
    EXPECT_EQ(av_->GetCurrentCodecType(), 15);
    EXPECT_THAT(Take(), ::testing::Contains("H1.SetCodecType(5)"));
}

TEST_F(Vistrel, PullsAreKeyedByExactUrl)
{
    ASSERT_EQ(av_->StartPullRtmpStream(1, "rtmp://h/live/Cam"), 0);
    EXPECT_FALSE(av_->SetPullStreamMute("rtmp://h/live/cam", true));
    EXPECT_FALSE(av_->UpdatePullVideoRender(2, "rtmp://h/live/cam"));
    EXPECT_EQ(av_->StopPullRtmpStream("rtmp://h/live/cam"), 0);
    EXPECT_TRUE(av_->SetPullStreamMute("rtmp://h/live/Cam", false));
    EXPECT_THAT(Take(), ElementsAre("G1.Create", "G1.StartRtmpPlay(rtmp://h/live/Cam,0x1)",
                                    "G1.SetMute(0)"));
}

TEST_F(Vistrel, SecondPullOfAPlayingUrlReplacesTheFirst)
{
    ASSERT_EQ(av_->StartPullRtmpStream(1, "u"), 0);
    EXPECT_EQ(av_->StartPullRtmpStream(2, "u"), 0);
    EXPECT_THAT(Take(), ElementsAre("G1.Create", "G1.StartRtmpPlay(u,0x1)", "G1.StopRtmpPlay",
                                    "G1.Destory", "G2.Create", "G2.StartRtmpPlay(u,0x2)"));
    EXPECT_TRUE(av_->SetPullStreamMute("u", true));
    EXPECT_EQ(av_->StopPullRtmpStream("u"), 0);
    EXPECT_THAT(Take(), ElementsAre("G2.SetMute(1)", "G2.StopRtmpPlay", "G2.Destory"));
}

TEST_F(Vistrel, NullSessionsAreNotKept)
{
    fake::FailCreate(true, true);
    EXPECT_EQ(av_->StartPushRtmpStream(1, "p"), 0);
    EXPECT_EQ(av_->StopPushRtmpStream(), -1);
    EXPECT_FALSE(av_->UpdatePushVideoRender(1));
    EXPECT_EQ(av_->StartPullRtmpStream(1, "u"), 0);
    EXPECT_FALSE(av_->SetPullStreamMute("u", true));
    EXPECT_FALSE(av_->UpdatePullVideoRender(1, "u"));
    EXPECT_EQ(av_->StopPullRtmpStream("u"), 0);
    EXPECT_THAT(Take(), ElementsAre("H.Create->null", "G.Create->null"));
    // Creation works again: a push can start.
    fake::FailCreate(false, false);
    EXPECT_EQ(av_->StartPushRtmpStream(1, "p"), 0);
    EXPECT_EQ(av_->StopPushRtmpStream(), 0);
}

TEST_F(Vistrel, OneInstanceUntilReleased)
{
    EXPECT_EQ(CreateLiveInstance(), av_);
    IAvVistrel *copy = av_;
    ReleaseLiveInstance(&copy);
    EXPECT_EQ(copy, nullptr);
    IAvVistrel *fresh = CreateLiveInstance();
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(fresh->StartPullRtmpStream(1, "u"), 0);
    EXPECT_TRUE(fresh->SetPullStreamMute("u", true));
    av_ = fresh;
}

TEST_F(Vistrel, ReleaseOfNullDoesNothing)
{
    IAvVistrel *none = nullptr;
    ReleaseLiveInstance(&none);
    ReleaseLiveInstance(nullptr);
    EXPECT_EQ(CreateLiveInstance(), av_);
    EXPECT_THAT(Take(), IsEmpty());
}

TEST_F(Vistrel, ReleaseStopsThePushThenThePullsInUrlOrder)
{
    ASSERT_EQ(av_->StartPullRtmpStream(1, "rtmp://b"), 0);
    ASSERT_EQ(av_->StartPullRtmpStream(2, "rtmp://a"), 0);
    ASSERT_EQ(av_->StartPullRtmpStream(3, "rtmp://c"), 0);
    ASSERT_EQ(av_->StartPushRtmpStream(4, "p"), 0);
    Take();
    ReleaseLiveInstance(&av_);
    EXPECT_EQ(av_, nullptr);
    EXPECT_THAT(Take(), ElementsAre("H1.SetVideoRender(0x0)", "H1.StopRtmpPush", "H1.Destory",
                                    "G2.StopRtmpPlay", "G2.Destory", "G1.StopRtmpPlay",
                                    "G1.Destory", "G3.StopRtmpPlay", "G3.Destory"));
    EXPECT_EQ(fake::LiveSessions(), 0);
    av_ = CreateLiveInstance();
    EXPECT_EQ(av_->StartPushRtmpStream(1, "p"), 0);
    EXPECT_THAT(Take(), ::testing::Contains("H2.StartRtmpPush(p)"));
}

TEST_F(Vistrel, AWorkerThatDoesNotServeRefusesAtOnce)
{
    ASSERT_EQ(av_->StartPullRtmpStream(1, "u"), 0);
    Take();
    // The worker's loop ends; later steps must neither hang nor run.
    static_cast<CAvVistrel *>(av_)->Stop();
    EXPECT_EQ(av_->StartPushRtmpStream(1, "p"), 0);
    EXPECT_EQ(av_->StopPushRtmpStream(), -1);
    EXPECT_EQ(av_->StartPullRtmpStream(2, "v"), 0);
    EXPECT_EQ(av_->StopPullRtmpStream("u"), 0);
    EXPECT_THAT(Take(), IsEmpty());
    // The caller-thread operations still reach the playing session.
    EXPECT_TRUE(av_->SetPullStreamMute("u", true));
    // Release still frees it.
}

TEST(VistrelBuildStamp, ParseBuildDate)
{
    struct Case {
        const char *date, *time, *stamp;
    } cases[] = {
        {"Sep 10 2021", "14:13:36", "20210910-14:13:36"},
        {"Jan  1 2000", "00:00:00", "20000101-00:00:00"},
        {"Dec 31 1999", "23:59:59", "19991231-23:59:59"},
        {"Feb 29 2024", "07:08:09", "20240229-07:08:09"},
        {"sep 10 2021", "14:13:36", "20210010-14:13:36"}, // months are case-sensitive
        {"Foo 3 2020", "1:2:3", "20200003-01:02:03"},
        {"Mar 5 99", "12:00:00", "  990305-12:00:00"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(CAvVistrel::ParseBuildDate(c.date, c.time), c.stamp) << c.date << " " << c.time;
}

TEST_F(Vistrel, CompileVersionIsTheBuildStamp)
{
    EXPECT_TRUE(std::regex_match(av_->GetCompileVersion(),
                                 std::regex("[0-9]{4}[01][0-9][0-3][0-9]-[0-2][0-9]:[0-5][0-9]:"
                                            "[0-6][0-9]")))
        << av_->GetCompileVersion();
    EXPECT_EQ(&av_->GetCompileVersion(), &av_->GetCompileVersion());
}

TEST(VistrelFileVersion, ReadsTheBlockWithWholeSixteenBitParts)
{
    auto dir = std::filesystem::temp_directory_path() / ("vistrel-ver-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    auto write = [&](const std::string &name, const std::string &bytes) {
        std::ofstream f(dir / name, std::ios::binary);
        f << bytes;
        return (dir / name).string();
    };
    const uint16_t parts[4] = {1, 300, 65535, 2};
    std::string block = CAvVistrel::VersionBlockFor(parts);
    std::string padding(1000, 'x');
    EXPECT_EQ(CAvVistrel::FormatFileVersion(
                  CAvVistrel::ReadFileVersion(write("with", padding + block + padding))),
              "1.300.65535.2");
    EXPECT_EQ(CAvVistrel::FormatFileVersion(CAvVistrel::ReadFileVersion(write("none", padding))),
              "0.0.0.0");
    // A block cut short is no block.
    EXPECT_EQ(CAvVistrel::ReadFileVersion(write("cut", padding + block.substr(0, 30))), 0u);
    EXPECT_EQ(
        CAvVistrel::FormatFileVersion(CAvVistrel::ReadFileVersion((dir / "missing").string())),
        "0.0.0.0");
    std::filesystem::remove_all(dir);
}

TEST_F(Vistrel, VersionOfTheLibraryBesideTheProgram)
{
    // The tests run from the folder that holds libVistrel.so.
    EXPECT_EQ(av_->GetVersion(), VISTREL_EXPECTED_VERSION);
}

} // namespace
