// Pieces of the shared library alone (the tests link the core with a fake
// RTMP layer instead): the RTMP layer logs into the library's log.
#include "rtc/logging.h"
#include "rtmp_util.h"

namespace
{

void RtmpToLog(int level, const char *line)
{
    auto sev = static_cast<rtc::LoggingSeverity>(level);
    RTC_LOG_FILE_LINE(nullptr, 0, sev) << line;
}

// Before any session can start: sessions start only through an instance.
const bool g_rtmp_log_set = (rtmp::SetLogSink(RtmpToLog), true);

} // namespace
