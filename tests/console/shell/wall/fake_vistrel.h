#pragma once

#include "vistrel.h"

#include <QMutex>
#include <QString>
#include <QStringList>
#include <functional>

// Records every call the console makes, as "name arg..." lines; the start
// calls may come from the single call's thread.
class FakeVistrel : public IAvVistrel
{
  public:
    QStringList calls() const
    {
        QMutexLocker lock(&m_mutex);
        return m_calls;
    }
    void clear()
    {
        QMutexLocker lock(&m_mutex);
        m_calls.clear();
    }
    std::function<void(const std::string &)> onStopPull;

    bool Reserved1() override
    {
        return true;
    }
    bool Reserved2() override
    {
        return true;
    }
    bool Reserved3() override
    {
        return true;
    }
    int ForwardPushOpA(uintptr_t, uintptr_t, uintptr_t) override
    {
        return -1;
    }
    int StartPushRtmpStream(VistrelWindow w, std::string url) override
    {
        return add(QStringLiteral("push+ %1 %2").arg(w).arg(q(url))), 0;
    }
    int StopPushRtmpStream() override
    {
        return add(QStringLiteral("push-")), 0;
    }
    bool ForwardPushOpB(uintptr_t, uintptr_t, uintptr_t) override
    {
        return false;
    }
    bool UpdatePushVideoRender(VistrelWindow w, uintptr_t a, uintptr_t b) override
    {
        return add(QStringLiteral("pushrender %1 %2 %3").arg(w).arg(a).arg(b)), true;
    }
    bool SetCodecType(int) override
    {
        return true;
    }
    int GetCurrentCodecType() override
    {
        return 3;
    }
    int StartPullRtmpStream(VistrelWindow w, std::string url) override
    {
        return add(QStringLiteral("pull+ %1 %2").arg(w).arg(q(url))), 0;
    }
    int StopPullRtmpStream(std::string url) override
    {
        if (onStopPull)
            onStopPull(url);
        return add(QStringLiteral("pull- %1").arg(q(url))), 0;
    }
    bool SetPullStreamMute(std::string url, bool mute) override
    {
        return add(QStringLiteral("mute %1 %2").arg(q(url)).arg(mute)), true;
    }
    bool UpdatePullVideoRender(VistrelWindow w, std::string url) override
    {
        return add(QStringLiteral("pullrender %1 %2").arg(w).arg(q(url))), true;
    }
    const std::string &GetCompileVersion() override
    {
        return m_version;
    }
    const std::string &GetVersion() override
    {
        return m_version;
    }

  private:
    static QString q(const std::string &s)
    {
        return QString::fromStdString(s);
    }
    void add(const QString &line)
    {
        QMutexLocker lock(&m_mutex);
        m_calls << line;
    }
    mutable QMutex m_mutex;
    QStringList m_calls;
    std::string m_version = "0.0.0.0";
};
