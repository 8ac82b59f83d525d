// The recorded-voice and broadcast exports through the public header: the
// argument checks, and the stop exports' bounded wait, also when a talk took
// the recording's device away and when called from a callback.
#include "raw_client.h"
#include "win_fixture.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <dirent.h>
#include <filesystem>
#include <unistd.h>

using namespace ptt::test;

namespace
{

std::atomic<int> g_stop_from_callback{-100};
std::atomic<int> g_broadcast_stop_from_callback{-100};

class WinVoice : public WinServerTest
{
  protected:
    void SetUp() override
    {
        WinServerTest::SetUp();
        g_stop_from_callback = -100;
        g_broadcast_stop_from_callback = -100;
    }
    // Recording at priority 0, so that a talk takes the device from it.
    void online()
    {
        ASSERT_TRUE(
            write_file(cwd.file("custom.ini"), "[network]\ndns = " + server.dns_entry() +
                                                   "\n[record]\nprobation = 0\ncodec = 101\n"
                                                   "[broadcast]\nbroadcastprior = 0\n"));
        ASSERT_EQ(lirko_win_on_load(cwd.path().c_str()), 0);
        ASSERT_EQ(lirko_win_login("dispatcher", "dispatcher-pw", 0), 0);
        win_advance(server, 5.0);
        ASSERT_TRUE(wait_until([] { return lirko_win_getOnlineStatus() == LIRKO_STATUS_ONLINE; }));
    }
    void step()
    {
        hal_clock_fake_advance(20);
        lirko_win_getOnlineStatus();
        server.sync();
        lirko_win_getOnlineStatus();
    }
    // 1 when the process holds path open.
    // Open descriptors on files named name, wherever they are (removed
    // ones included).
    static int held_by_name(const std::string &name)
    {
        int n = 0;
        for (const auto &e : std::filesystem::directory_iterator("/proc/self/fd")) {
            std::error_code ec;
            std::string link = std::filesystem::read_symlink(e.path(), ec).string();
            n += link.find("/" + name) != std::string::npos;
        }
        return n;
    }
    static bool held_open(const std::string &path)
    {
        DIR *d = opendir("/proc/self/fd");
        bool found = false;
        while (struct dirent *de = d ? readdir(d) : nullptr) {
            char link[512];
            std::string fd = std::string("/proc/self/fd/") + de->d_name;
            ssize_t n = readlink(fd.c_str(), link, sizeof(link) - 1);
            if (n > 0) {
                link[n] = 0;
                found = found || path == link;
            }
        }
        if (d)
            closedir(d);
        return found;
    }
};

} // namespace

TEST_F(WinVoice, ArgumentsAreCheckedBeforeAnythingStarts)
{
    char name[256];
    EXPECT_EQ(lirko_win_start_record(nullptr, name), -1);
    EXPECT_EQ(lirko_win_start_record(cwd.path().c_str(), nullptr), -1);
    EXPECT_EQ(lirko_win_record_play_audio(nullptr), -1);
    EXPECT_EQ(lirko_win_audio_coded_to_pcm(nullptr, "x"), -1);
    EXPECT_EQ(lirko_win_audio_coded_to_pcm("x.amr", nullptr), -1);
    EXPECT_EQ(lirko_win_record_set_enabled(1, nullptr), -1);
    uid_t uids[] = {1001};
    EXPECT_EQ(lirko_win_broadcast_send_text(nullptr, uids, 1), -1);
    EXPECT_EQ(lirko_win_broadcast_send_text("x", uids, 0), -1);
    EXPECT_EQ(lirko_win_broadcast_send_recordaudio(nullptr, 1), -1);
    EXPECT_EQ(lirko_win_stop_record(), -1) << "no engine";

    online();
    // A directory whose file path would not fit 256 bytes.
    std::string dir = cwd.path() + "/" + std::string(240, 'd');
    ASSERT_EQ(mkdir(dir.c_str(), 0777), 0);
    memset(name, 'x', sizeof(name));
    EXPECT_EQ(lirko_win_start_record(dir.c_str(), name), -1);
    EXPECT_EQ(name[0], 'x') << "nothing written";
    DIR *d = opendir(dir.c_str());
    int entries = 0;
    while (struct dirent *de = readdir(d))
        entries += de->d_name[0] != '.';
    closedir(d);
    EXPECT_EQ(entries, 0);
    EXPECT_EQ(lirko_win_stop_record(), 0) << "nothing records";
    EXPECT_EQ(lirko_win_broadcast_stop_record(), 0);
}

TEST_F(WinVoice, StopAfterATalkTookTheDeviceReturnsWithTheFileClosed)
{
    online();
    RawMember alice(server, 1, 2001);
    server.sync();
    lirko_win_set_start_speak_cb([](gid_t, const char *) {
        // On the engine's thread: the waits give up at once.
        g_stop_from_callback = lirko_win_stop_record();
        g_broadcast_stop_from_callback = lirko_win_broadcast_stop_record();
    });
    char name[256] = {};
    ASSERT_EQ(lirko_win_start_record(cwd.path().c_str(), name), 0);
    std::string path = name;
    EXPECT_EQ(path.rfind(cwd.path() + "/", 0), 0u);
    EXPECT_EQ(path.substr(path.size() - 4), ".amr");
    for (int i = 0; i < 10; i++)
        step();
    EXPECT_TRUE(held_open(path));

    // The talk takes the device from the recording.
    ASSERT_TRUE(wait_until([&] {
        step();
        return lirko_win_startSpeak() == 0;
    }));
    ASSERT_TRUE(wait_until([&] {
        step();
        return g_stop_from_callback.load() != -100;
    }));
    EXPECT_EQ(g_stop_from_callback.load(), -1);
    EXPECT_EQ(g_broadcast_stop_from_callback.load(), -1);
    ASSERT_TRUE(wait_until([&] {
        step();
        return server.relayed_to(1001).size() >= 3;
    }));
    size_t size_during_talk = read_file(path).size();
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(lirko_win_stop_record(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(4));
    EXPECT_FALSE(held_open(path));
    for (int i = 0; i < 25; i++)
        step();
    // The talk's frames went to the talk, none to the file.
    EXPECT_EQ(read_file(path).size(), size_during_talk);
    EXPECT_EQ(lirko_win_isSpeaking(), 1);
    size_t relayed = server.relayed_to(1001).size();
    EXPECT_GE(relayed, 3u);
    EXPECT_EQ(lirko_win_stopSpeak(), 0);
    ASSERT_TRUE(wait_until([&] {
        step();
        return lirko_win_isSpeaking() == 0;
    }));
    // The file sound device's output (the talk's tones) is closed with the
    // engine.
    lirko_win_on_unload();
    EXPECT_EQ(held_by_name("out.wav"), 0);
}

TEST_F(WinVoice, StopWaitsForTheLastFramesOfTheFile)
{
    online();
    char name[256] = {};
    ASSERT_EQ(lirko_win_start_record(cwd.path().c_str(), name), 0);
    for (int i = 0; i < 25; i++)
        step();
    EXPECT_EQ(lirko_win_stop_record(), 0);
    EXPECT_FALSE(held_open(name));
    std::string data = read_file(name);
    EXPECT_FALSE(data.empty());
    EXPECT_EQ(lirko_win_stop_record(), 0) << "stopped already";

    // The same for a broadcast recording, then its replay.
    ASSERT_EQ(lirko_win_broadcast_start_record(), 0);
    for (int i = 0; i < 25; i++)
        step();
    EXPECT_EQ(lirko_win_broadcast_stop_record(), 0);
    EXPECT_EQ(lirko_win_broadcast_play_recordaudio(nullptr), 0);
}
