#pragma once

// The one transfer state shared by the single download, the bulk download and
// the recorded-voice fetches: a new single or bulk download starts only while
// it is idle or ended, and the page receives the same number as a status.
namespace transfer
{

enum : int {
    FlagIdle = 0,
    FlagStarted = 1,
    FlagRunning = 2,
    FlagEnded = 3,
};

int flag();
void setFlag(int value);

// True while a new single or bulk download may start.
bool mayStart();

} // namespace transfer
