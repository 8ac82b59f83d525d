#include "fake_rtmp.h"

#include "rtmp.h"

#include <cinttypes>
#include <mutex>
#include <pthread.h>

namespace fake
{

namespace
{

std::mutex g_mutex;
std::vector<Call> g_calls;
int g_hosters = 0, g_guesters = 0, g_live = 0, g_codec_offset = 0;
bool g_fail_hoster = false, g_fail_guester = false;

void Record(const std::string &text)
{
    char name[32] = {0};
    pthread_getname_np(pthread_self(), name, sizeof(name));
    std::lock_guard<std::mutex> lock(g_mutex);
    g_calls.push_back({text, name});
}

std::string Hex(uintptr_t v)
{
    char buf[32];
    snprintf(buf, sizeof(buf), "0x%" PRIxPTR, v);
    return buf;
}

class Hoster final : public RTMPHoster
{
  public:
    explicit Hoster(int n) : id_("H" + std::to_string(n)) {}
    ~Hoster() override = default;
    void PassThroughOp1(uintptr_t a, uintptr_t b, uintptr_t c) override
    {
        Record(id_ + ".PassThroughOp1(" + Hex(a) + "," + Hex(b) + "," + Hex(c) + ")");
    }
    void SetCodecType(int type) override
    {
        type_ = type;
        Record(id_ + ".SetCodecType(" + std::to_string(type) + ")");
    }
    int GetCodecType() override
    {
        Record(id_ + ".GetCodecType");
        std::lock_guard<std::mutex> lock(g_mutex);
        return type_ + g_codec_offset;
    }
    void SetVideoRender(uintptr_t window) override
    {
        Record(id_ + ".SetVideoRender(" + Hex(window) + ")");
    }
    void StartRtmpPush(const char *url) override
    {
        Record(id_ + ".StartRtmpPush(" + url + ")");
    }
    void StopRtmpPush() override
    {
        Record(id_ + ".StopRtmpPush");
    }
    void PassThroughOp11(uintptr_t a, uintptr_t b, uintptr_t c) override
    {
        Record(id_ + ".PassThroughOp11(" + Hex(a) + "," + Hex(b) + "," + Hex(c) + ")");
    }
    void UpdateVideoRender(uintptr_t window, uintptr_t a, uintptr_t b) override
    {
        Record(id_ + ".UpdateVideoRender(" + Hex(window) + "," + Hex(a) + "," + Hex(b) + ")");
    }
    const std::string id_;

  private:
    int type_ = 0;
};

class Guester final : public RTMPGuester
{
  public:
    explicit Guester(int n) : id_("G" + std::to_string(n)) {}
    ~Guester() override = default;
    void StartRtmpPlay(const char *url, uintptr_t window) override
    {
        Record(id_ + ".StartRtmpPlay(" + url + "," + Hex(window) + ")");
    }
    void StopRtmpPlay() override
    {
        Record(id_ + ".StopRtmpPlay");
    }
    void UpdateVideoRender(uintptr_t window) override
    {
        Record(id_ + ".UpdateVideoRender(" + Hex(window) + ")");
    }
    void SetMute(bool mute) override
    {
        Record(id_ + ".SetMute(" + (mute ? "1" : "0") + ")");
    }
    const std::string id_;
};

} // namespace

void Reset()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_calls.clear();
    g_hosters = g_guesters = 0;
    g_fail_hoster = g_fail_guester = false;
    g_codec_offset = 0;
}

std::vector<Call> Calls()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_calls;
}

std::vector<std::string> Texts()
{
    std::vector<std::string> out;
    for (const auto &c : Calls())
        out.push_back(c.text);
    return out;
}

void FailCreate(bool hoster, bool guester)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_fail_hoster = hoster;
    g_fail_guester = guester;
}

void SetCodecTypeOffset(int offset)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_codec_offset = offset;
}

int LiveSessions()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_live;
}

} // namespace fake

using namespace fake;

RTMPHoster *RTMPHoster::Create(RTMPHosterEvent &)
{
    int n;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        if (g_fail_hoster) {
            n = 0;
        } else {
            n = ++g_hosters;
            g_live++;
        }
    }
    Record(n ? "H" + std::to_string(n) + ".Create" : std::string("H.Create->null"));
    return n ? new Hoster(n) : nullptr;
}

void RTMPHoster::Destory(RTMPHoster *hoster)
{
    if (!hoster)
        return;
    Record(static_cast<Hoster *>(hoster)->id_ + ".Destory");
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_live--;
    }
    delete hoster;
}

RTMPGuester *RTMPGuester::Create(RTMPGuesterEvent &)
{
    int n;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        if (g_fail_guester) {
            n = 0;
        } else {
            n = ++g_guesters;
            g_live++;
        }
    }
    Record(n ? "G" + std::to_string(n) + ".Create" : std::string("G.Create->null"));
    return n ? new Guester(n) : nullptr;
}

void RTMPGuester::Destory(RTMPGuester *guester)
{
    if (!guester)
        return;
    Record(static_cast<Guester *>(guester)->id_ + ".Destory");
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_live--;
    }
    delete guester;
}
