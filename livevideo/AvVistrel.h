// CAvVistrel: the one implementation of IAvVistrel. A worker thread of its
// own makes and destroys the RTMP sessions while the caller waits; the other
// operations run on the caller's thread.
//
// The console calls one instance from two threads at once (its GUI thread
// and its single-call thread), so the push session, the pull map and the
// codec type sit behind one mutex: the worker steps hold it while they change
// them, the caller-thread operations while they read them or call a session.
// Nobody holds it while waiting on the worker or while a session stops.
#ifndef AVVISTREL_H
#define AVVISTREL_H

#include "rtc/thread.h"
#include "rtmp.h"
#include "vistrel.h"

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

class CAvVistrel : public rtc::Thread,
                   public IAvVistrel,
                   public RTMPHosterEvent,
                   public RTMPGuesterEvent
{
  public:
    CAvVistrel();
    ~CAvVistrel() override;

    bool Reserved1() override;
    bool Reserved2() override;
    bool Reserved3() override;
    int ForwardPushOpA(uintptr_t a, uintptr_t b, uintptr_t c) override;
    int StartPushRtmpStream(VistrelWindow window, std::string url) override;
    int StopPushRtmpStream() override;
    bool ForwardPushOpB(uintptr_t a, uintptr_t b, uintptr_t c) override;
    bool UpdatePushVideoRender(VistrelWindow window, uintptr_t a = 0, uintptr_t b = 0) override;
    bool SetCodecType(int type) override;
    int GetCurrentCodecType() override;
    int StartPullRtmpStream(VistrelWindow window, std::string url) override;
    int StopPullRtmpStream(std::string url) override;
    bool SetPullStreamMute(std::string url, bool mute) override;
    bool UpdatePullVideoRender(VistrelWindow window, std::string url) override;
    const std::string &GetCompileVersion() override;
    const std::string &GetVersion() override;

    // The sessions' reports: nothing listens to them.
    void OnRtmpStreamOK() override;
    void OnRtmpStreamFailed(int code) override;
    void OnRtmpStreamClosed() override;
    void OnRtmpVideoSource(bool camera) override;
    void OnRtmpStatus(int64_t bytes_sent) override;
    void OnRtmpFirstFrame(int width, int height) override;

    // Stops and frees every pull session, in URL order, on the caller's thread.
    void StopAllPulls();

    // "Sep 10 2021" and "14:13:36" (the forms of __DATE__ and __TIME__) as
    // "20210910-14:13:36"; an unknown month counts as 0.
    static std::string ParseBuildDate(const char *date, const char *time);
    // The four 16-bit parts of the version block in the file at path, the
    // first in the top 16 bits; 0 when the file or the block is missing.
    static uint64_t ReadFileVersion(const std::string &path);
    // "a.b.c.d"; 0 gives "0.0.0.0".
    static std::string FormatFileVersion(uint64_t version);
    // The bytes of a version block holding parts (for tests).
    static std::string VersionBlockFor(const uint16_t parts[4]);

  private:
    int OnStartPushRtmpStream(VistrelWindow window, std::string url);
    int OnStopPushRtmpStream();
    void OnStartPullRtmpStream(VistrelWindow window, std::string url);
    void OnStopPullRtmpStream(std::string url);

    std::mutex mutex_;
    RTMPHoster *hoster_ = nullptr;               // under mutex_
    std::string build_stamp_;                    // fixed after construction
    std::string file_version_;                   // fixed after construction
    std::map<std::string, RTMPGuester *> pulls_; // under mutex_
    int codec_type_ = 3;                         // under mutex_
};

#endif
