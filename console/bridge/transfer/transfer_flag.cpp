#include "transfer_flag.h"

namespace transfer
{

// Read and written on the GUI thread only, like every transfer.
static int g_transfer_flag = FlagIdle;

int flag()
{
    return g_transfer_flag;
}

void setFlag(int value)
{
    g_transfer_flag = value;
}

bool mayStart()
{
    return g_transfer_flag == FlagIdle || g_transfer_flag == FlagEnded;
}

} // namespace transfer
