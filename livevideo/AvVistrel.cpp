#include "AvVistrel.h"

#include "rtc/logging.h"

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <unistd.h>
#include <utility>
#include <vector>

#ifndef VISTREL_VERSION_PARTS
#define VISTREL_VERSION_PARTS 0, 0, 0, 0
#endif

namespace
{

// The file version the library carries, found by ReadFileVersion in the
// library file itself. The begin and end marks frame four little-endian
// 16-bit parts; the reader searches for this very object's bytes, so no
// second copy of the marks exists in the file to be mistaken for it.
struct VersionBlock {
    char begin[16];
    uint16_t parts[4];
    char end[16];
};
__attribute__((used)) const VersionBlock kVersionBlock = {
    "\x7fVistrelVersion", {VISTREL_VERSION_PARTS}, "noisreVlertsiV\x7f"};

// The block's bytes, read through a volatile pointer: the compiler must not
// fold the marks into constants of their own, which the search could find.
std::string VersionBlockBytes()
{
    const volatile char *p = reinterpret_cast<const volatile char *>(&kVersionBlock);
    std::string bytes(sizeof(VersionBlock), '\0');
    for (size_t i = 0; i < bytes.size(); i++)
        bytes[i] = p[i];
    return bytes;
}

// The library's file, looked for beside the running program.
constexpr const char *kLibraryFile = "libVistrel.so";

std::mutex g_instance_mutex;
CAvVistrel *g_instance = nullptr; // under g_instance_mutex

std::string ExecutableFolder()
{
    std::vector<char> buf(4096);
    ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    if (n <= 0)
        return ".";
    std::string path(buf.data(), static_cast<size_t>(n));
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

} // namespace

CAvVistrel::CAvVistrel()
{
    SetName("AvVistrel", this);
    // A worker that does not run is reported by every send to it; the
    // instance is still usable for the caller-thread operations.
    if (!Start())
        RTC_LOG(LS_ERROR) << "CAvVistrel: the worker thread could not be started";
    build_stamp_ = ParseBuildDate(__DATE__, __TIME__);
    file_version_ = FormatFileVersion(ReadFileVersion(ExecutableFolder() + "/" + kLibraryFile));
}

CAvVistrel::~CAvVistrel()
{
    // No step may run on a half-destroyed object: end the worker first.
    Stop();
    // Release has stopped the sessions; anything left is stopped here so no
    // session reports to freed memory.
    if (hoster_) {
        hoster_->SetVideoRender(0);
        hoster_->StopRtmpPush();
        RTMPHoster::Destory(hoster_);
        hoster_ = nullptr;
    }
    StopAllPulls();
}

bool CAvVistrel::Reserved1()
{
    return true;
}

bool CAvVistrel::Reserved2()
{
    return true;
}

bool CAvVistrel::Reserved3()
{
    return true;
}

int CAvVistrel::ForwardPushOpA(uintptr_t a, uintptr_t b, uintptr_t c)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (hoster_)
        hoster_->PassThroughOp11(a, b, c);
    return -1;
}

int CAvVistrel::StartPushRtmpStream(VistrelWindow window, std::string url)
{
    // Not served (no worker): as when no session can be made.
    int result = 0;
    Invoke<void>(rtc::Location("CAvVistrel::StartPushRtmpStream", "AvVistrel:163"),
                 [&] { result = OnStartPushRtmpStream(window, std::move(url)); });
    return result;
}

int CAvVistrel::StopPushRtmpStream()
{
    int result = -1;
    Invoke<void>(rtc::Location("CAvVistrel::StopPushRtmpStream", "AvVistrel:185"),
                 [&] { result = OnStopPushRtmpStream(); });
    return result;
}

bool CAvVistrel::ForwardPushOpB(uintptr_t a, uintptr_t b, uintptr_t c)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (!hoster_)
        return false;
    hoster_->PassThroughOp1(a, b, c);
    return true;
}

bool CAvVistrel::UpdatePushVideoRender(VistrelWindow window, uintptr_t a, uintptr_t b)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (!hoster_)
        return false;
    hoster_->UpdateVideoRender(window, a, b);
    return true;
}

bool CAvVistrel::SetCodecType(int type)
{
    std::lock_guard<std::mutex> lock(mutex_);
    codec_type_ = type;
    return true;
}

int CAvVistrel::GetCurrentCodecType()
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (hoster_)
        codec_type_ = hoster_->GetCodecType();
    return codec_type_;
}

int CAvVistrel::StartPullRtmpStream(VistrelWindow window, std::string url)
{
    Invoke<void>(rtc::Location("CAvVistrel::StartPullRtmpStream", "AvVistrel:227"),
                 [&] { OnStartPullRtmpStream(window, std::move(url)); });
    return 0;
}

int CAvVistrel::StopPullRtmpStream(std::string url)
{
    Invoke<void>(rtc::Location("CAvVistrel::StopPullRtmpStream", "AvVistrel:260"),
                 [&] { OnStopPullRtmpStream(std::move(url)); });
    return 0;
}

bool CAvVistrel::SetPullStreamMute(std::string url, bool mute)
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = pulls_.find(url);
    if (it == pulls_.end() || !it->second)
        return false;
    it->second->SetMute(mute);
    return true;
}

bool CAvVistrel::UpdatePullVideoRender(VistrelWindow window, std::string url)
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = pulls_.find(url);
    if (it == pulls_.end() || !it->second)
        return false;
    it->second->UpdateVideoRender(window);
    return true;
}

const std::string &CAvVistrel::GetCompileVersion()
{
    return build_stamp_;
}

const std::string &CAvVistrel::GetVersion()
{
    return file_version_;
}

void CAvVistrel::OnRtmpStreamOK() {}

void CAvVistrel::OnRtmpStreamFailed(int) {}

void CAvVistrel::OnRtmpStreamClosed() {}

void CAvVistrel::OnRtmpVideoSource(bool) {}

void CAvVistrel::OnRtmpStatus(int64_t) {}

void CAvVistrel::OnRtmpFirstFrame(int, int) {}

int CAvVistrel::OnStartPushRtmpStream(VistrelWindow window, std::string url)
{
    // The check lives here, on the worker, so two racing starts make one session.
    std::lock_guard<std::mutex> lock(mutex_);
    if (hoster_)
        return -1;
    RTMPHoster *hoster = RTMPHoster::Create(*this);
    if (!hoster)
        return 0;
    hoster_ = hoster;
    hoster->SetVideoRender(window);
    hoster->SetCodecType(codec_type_);
    hoster->StartRtmpPush(url.c_str());
    return 0;
}

int CAvVistrel::OnStopPushRtmpStream()
{
    RTMPHoster *hoster = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        std::swap(hoster, hoster_);
    }
    if (!hoster)
        return -1;
    // Out of the map's reach now: stopping (up to two seconds) holds no lock.
    hoster->SetVideoRender(0);
    hoster->StopRtmpPush();
    RTMPHoster::Destory(hoster);
    return 0;
}

void CAvVistrel::OnStartPullRtmpStream(VistrelWindow window, std::string url)
{
    // A second start of a playing URL replaces its session: the old one
    // would otherwise play on with nothing left to stop it.
    RTMPGuester *old = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = pulls_.find(url);
        if (it != pulls_.end()) {
            old = it->second;
            pulls_.erase(it);
        }
    }
    if (old) {
        old->StopRtmpPlay();
        RTMPGuester::Destory(old);
    }
    RTMPGuester *guester = RTMPGuester::Create(*this);
    if (!guester)
        return;
    guester->StartRtmpPlay(url.c_str(), window);
    std::lock_guard<std::mutex> lock(mutex_);
    pulls_.emplace(std::move(url), guester);
}

void CAvVistrel::OnStopPullRtmpStream(std::string url)
{
    RTMPGuester *guester = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = pulls_.find(url);
        if (it == pulls_.end())
            return;
        guester = it->second;
        pulls_.erase(it);
    }
    guester->StopRtmpPlay();
    RTMPGuester::Destory(guester);
}

void CAvVistrel::StopAllPulls()
{
    std::map<std::string, RTMPGuester *> pulls;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        pulls.swap(pulls_);
    }
    for (auto &entry : pulls) {
        entry.second->StopRtmpPlay();
        RTMPGuester::Destory(entry.second);
    }
}

std::string CAvVistrel::ParseBuildDate(const char *date, const char *time)
{
    static const char *const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    char month_name[4] = {0};
    unsigned short day = 0, year = 0, hour = 0, minute = 0, second = 0;
    if (date)
        std::sscanf(date, "%3s %hu %hu", month_name, &day, &year);
    if (time)
        std::sscanf(time, "%hu:%hu:%hu", &hour, &minute, &second);
    int month = 0;
    for (int i = 0; i < 12; i++)
        if (std::strcmp(month_name, kMonths[i]) == 0)
            month = i + 1;
    char text[64];
    std::snprintf(text, sizeof(text), "%4d%02d%02d-%02d:%02d:%02d", year, month, day, hour, minute,
                  second);
    return text;
}

std::string CAvVistrel::VersionBlockFor(const uint16_t parts[4])
{
    std::string bytes = VersionBlockBytes();
    for (int i = 0; i < 4; i++) {
        bytes[offsetof(VersionBlock, parts) + 2 * i] = static_cast<char>(parts[i] & 0xff);
        bytes[offsetof(VersionBlock, parts) + 2 * i + 1] = static_cast<char>(parts[i] >> 8);
    }
    return bytes;
}

uint64_t CAvVistrel::ReadFileVersion(const std::string &path)
{
    std::ifstream f(path, std::ios::binary);
    if (!f)
        return 0;
    std::string bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    const std::string block = VersionBlockBytes();
    const size_t parts_at = offsetof(VersionBlock, parts), end_at = offsetof(VersionBlock, end);
    const std::string begin = block.substr(0, parts_at);
    const std::string end = block.substr(end_at);
    for (size_t at = bytes.find(begin); at != std::string::npos; at = bytes.find(begin, at + 1)) {
        if (at + sizeof(VersionBlock) > bytes.size() || bytes.compare(at + end_at, end.size(), end))
            continue;
        uint64_t version = 0;
        for (int i = 0; i < 4; i++) {
            const auto *p = reinterpret_cast<const uint8_t *>(bytes.data() + at + parts_at + 2 * i);
            version = version << 16 | static_cast<uint16_t>(p[0] | p[1] << 8);
        }
        return version;
    }
    return 0;
}

std::string CAvVistrel::FormatFileVersion(uint64_t version)
{
    char text[32];
    std::snprintf(text, sizeof(text), "%u.%u.%u.%u", static_cast<unsigned>(version >> 48 & 0xffff),
                  static_cast<unsigned>(version >> 32 & 0xffff),
                  static_cast<unsigned>(version >> 16 & 0xffff),
                  static_cast<unsigned>(version & 0xffff));
    return text;
}

IAvVistrel *CreateLiveInstance()
{
    std::lock_guard<std::mutex> lock(g_instance_mutex);
    if (!g_instance)
        g_instance = new CAvVistrel();
    return g_instance;
}

void ReleaseLiveInstance(IAvVistrel **instance)
{
    if (!instance || !*instance)
        return;
    IAvVistrel *p = *instance;
    // The push session reports to the instance: it goes before the instance does.
    p->StopPushRtmpStream();
    if (auto *impl = dynamic_cast<CAvVistrel *>(p))
        impl->StopAllPulls();
    delete p;
    {
        std::lock_guard<std::mutex> lock(g_instance_mutex);
        if (g_instance == p)
            g_instance = nullptr;
    }
    *instance = nullptr;
}
