// The console calls IAvVistrel by slot: the order of its virtual operations is
// binary interface. Under the Itanium C++ ABI a pointer to a virtual member
// holds 1 + the byte offset of its vtable entry, and the virtual destructor
// takes two entries (complete, deleting) where the console's slot table counts
// one, so slot n sits at entry n + 1.
#include "vistrel.h"

#include <cstring>
#include <gtest/gtest.h>

namespace
{

template <typename F> long vtable_entry(F f)
{
    static_assert(sizeof(F) == 2 * sizeof(uintptr_t));
    uintptr_t words[2];
    std::memcpy(words, &f, sizeof(words));
    EXPECT_EQ(words[0] % sizeof(void *), 1u) << "not a virtual member";
    return static_cast<long>((words[0] - 1) / sizeof(void *));
}

TEST(VistrelInterface, SlotOrderIsFixed)
{
    EXPECT_EQ(vtable_entry(&IAvVistrel::Reserved1), 1 + 1);
    EXPECT_EQ(vtable_entry(&IAvVistrel::Reserved2), 2 + 1);
    EXPECT_EQ(vtable_entry(&IAvVistrel::Reserved3), 3 + 1);
    EXPECT_EQ(vtable_entry(&IAvVistrel::ForwardPushOpA), 4 + 1);
    EXPECT_EQ(vtable_entry(&IAvVistrel::StartPushRtmpStream), 5 + 1);
    EXPECT_EQ(vtable_entry(&IAvVistrel::StopPushRtmpStream), 6 + 1);
    EXPECT_EQ(vtable_entry(&IAvVistrel::ForwardPushOpB), 7 + 1);
    EXPECT_EQ(vtable_entry(&IAvVistrel::UpdatePushVideoRender), 8 + 1);
    EXPECT_EQ(vtable_entry(&IAvVistrel::SetCodecType), 9 + 1);
    EXPECT_EQ(vtable_entry(&IAvVistrel::GetCurrentCodecType), 10 + 1);
    EXPECT_EQ(vtable_entry(&IAvVistrel::StartPullRtmpStream), 11 + 1);
    EXPECT_EQ(vtable_entry(&IAvVistrel::StopPullRtmpStream), 12 + 1);
    EXPECT_EQ(vtable_entry(&IAvVistrel::SetPullStreamMute), 13 + 1);
    EXPECT_EQ(vtable_entry(&IAvVistrel::UpdatePullVideoRender), 14 + 1);
    EXPECT_EQ(vtable_entry(&IAvVistrel::GetCompileVersion), 15 + 1);
    EXPECT_EQ(vtable_entry(&IAvVistrel::GetVersion), 16 + 1);
}

} // namespace
