// A fake RTMP layer for the instance's tests: every call is recorded with the
// session it went to and the name of the thread it came from.
#ifndef FAKE_RTMP_H
#define FAKE_RTMP_H

#include <string>
#include <vector>

namespace fake
{

struct Call {
    std::string text;   // "H1.StartRtmpPush(url)", "G2.Create" ...
    std::string thread; // OS thread name of the caller
};

// Clears the record and the session numbering.
void Reset();
std::vector<Call> Calls();
// Only the texts, in order.
std::vector<std::string> Texts();
// Create gives null from now on (or makes sessions again).
void FailCreate(bool hoster, bool guester);
// What the push sessions' GetCodecType answers: the type set plus this.
void SetCodecTypeOffset(int offset);
// Sessions alive now.
int LiveSessions();

} // namespace fake

#endif
