#include "play_clock.h"

#include <algorithm>

namespace rtmp
{

void PlayClock::Reset()
{
    cur_max_ = prev_max_ = last_pts_ = short_max_ = kNoTime;
    cur_start_ = short_start_ = 0;
}

void PlayClock::OnPacket(int64_t pts, int64_t now)
{
    if (pts == kNoTime)
        return;
    if (last_pts_ != kNoTime && (pts - last_pts_ > kJump || last_pts_ - pts > kJump))
        Reset();
    last_pts_ = pts;
    const int64_t sample = pts - now;
    if (short_max_ == kNoTime || now - short_start_ >= kShort) {
        if (short_max_ != kNoTime && cur_max_ != kNoTime && short_max_ < Edge() - kLate) {
            cur_max_ = short_max_;
            prev_max_ = kNoTime;
            cur_start_ = short_start_;
        }
        short_max_ = sample;
        short_start_ = now;
    } else {
        short_max_ = std::max(short_max_, sample);
    }
    if (cur_max_ == kNoTime) {
        cur_max_ = sample;
        cur_start_ = now;
        return;
    }
    if (now - cur_start_ >= kWindow) {
        // Two windows without a packet leave nothing of the old ones.
        prev_max_ = now - cur_start_ >= 2 * kWindow ? kNoTime : cur_max_;
        cur_max_ = sample;
        cur_start_ = now;
        return;
    }
    cur_max_ = std::max(cur_max_, sample);
}

int64_t PlayClock::Edge() const
{
    return prev_max_ == kNoTime ? cur_max_ : std::max(prev_max_, cur_max_);
}

int64_t PlayClock::Position(int64_t now, int64_t heard) const
{
    const int64_t live = now + Edge() - kMargin;
    if (heard != kNoTime && heard - live < kSoundTrust && live - heard < kSoundTrust)
        return heard;
    return live;
}

} // namespace rtmp
