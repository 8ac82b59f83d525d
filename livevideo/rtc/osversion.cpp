#include "rtc/osversion.h"

#include <cstdio>
#include <sys/utsname.h>

namespace rtc
{

bool GetOsVersion(int *major, int *minor, int *build)
{
    utsname info;
    if (uname(&info) != 0)
        return false;
    int a = 0, b = 0, c = 0;
    // "6.1.0-18-amd64"; a release without the third number has patch 0.
    int n = sscanf(info.release, "%d.%d.%d", &a, &b, &c);
    if (n < 2)
        return false;
    if (major)
        *major = a;
    if (minor)
        *minor = b;
    if (build)
        *build = n == 3 ? c : 0;
    return true;
}

} // namespace rtc
