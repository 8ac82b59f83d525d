// The running kernel's version numbers.
#pragma once

namespace rtc
{

// Major, minor and patch ("build") numbers of the kernel release; false when
// the system will not say or the release text has no such numbers.
bool GetOsVersion(int *major, int *minor, int *build);

} // namespace rtc
