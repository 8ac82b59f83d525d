// When a play shows each picture. A live stream's packets arrive at their
// pace plus network jitter, or in a heap after a stall or out of a probe
// buffer; the play shows the stream as it is live now, a margin behind its
// newest data, and passes over what came too late.
//
// The live edge is the largest (pts - arrival) of the packets of the last
// few seconds: the packet that came soonest after its capture defines how
// early a picture can be shown. When the packets of half a second all come
// later than that, the stream's own timeline has moved and the edge follows. Times are
// microseconds, `now` on the steady clock and pts on the stream's.
#ifndef VISTREL_PLAY_CLOCK_H
#define VISTREL_PLAY_CLOCK_H

#include <cstdint>

namespace rtmp
{

constexpr int64_t kNoTime = INT64_MIN;

class PlayClock
{
  public:
    // Pictures are due this long after the live edge. Kept short: a picture
    // a little late is drawn at once anyway, and every millisecond here is
    // one of delay from camera to screen.
    static constexpr int64_t kMargin = 10000;
    // A picture later than this is not drawn.
    static constexpr int64_t kLate = 100000;
    // Sound further than this behind is passed over: the play catches up.
    static constexpr int64_t kBehind = 300000;
    // A sound position further than this from the live edge is not believed.
    static constexpr int64_t kSoundTrust = 500000;

    // Every media packet as it is read.
    void OnPacket(int64_t pts, int64_t now);
    // Forgets the edge (a new connection).
    void Reset();
    bool Started() const
    {
        return cur_max_ != kNoTime;
    }
    // The stream time presented at `now`: the sound being heard when it is
    // given (kNoTime: none) and close to live, else the live edge less the
    // margin. Only once Started().
    int64_t Position(int64_t now, int64_t heard = kNoTime) const;
    // How long until a picture of `pts` is due; negative when it is late.
    int64_t Until(int64_t pts, int64_t now, int64_t heard = kNoTime) const
    {
        return pts - Position(now, heard);
    }

  private:
    // A sliding maximum: the current and the previous window.
    static constexpr int64_t kWindow = 3000000;
    // A jump in pts larger than this is a new timeline (a new publisher).
    static constexpr int64_t kJump = 2000000;
    // Packets all later than the edge for this long mean the stream itself
    // fell behind its old timeline (a publisher that paused, or a new one
    // the server gave on timestamps): nothing newer exists, so the edge
    // moves back to them. A stall's backlog ends with a packet on time and
    // keeps the edge.
    static constexpr int64_t kShort = 500000;

    int64_t Edge() const;

    int64_t cur_max_ = kNoTime, prev_max_ = kNoTime;
    int64_t cur_start_ = 0;
    int64_t last_pts_ = kNoTime;
    int64_t short_max_ = kNoTime, short_start_ = 0;
};

} // namespace rtmp

#endif
