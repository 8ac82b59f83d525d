// Writes each argument as one info line of the live-video log, which lands in
// log/kvvideo.log beside this program.
#include "rtc/logging.h"

int main(int argc, char **argv)
{
    for (int i = 1; i < argc; i++)
        RTC_LOG(LS_INFO) << argv[i];
    return 0;
}
