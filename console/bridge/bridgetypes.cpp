#include "bridgetypes.h"

#include <cstddef>
#include <cstdint>

void RegisterBridgeMetaTypes()
{
    qRegisterMetaType<uid_t>("uid_t");
    qRegisterMetaType<gid_t>("gid_t");
    // The engine's truth value is an int, not a byte.
    qRegisterMetaType<lirko_boolean_t>("boolean");
    qRegisterMetaType<LIRKO_ONLINE_STATUS>("LIRKO_ONLINE_STATUS");
    qRegisterMetaType<size_t>("size_t");
    qRegisterMetaType<uint32_t>("uint32_t");
    qRegisterMetaType<uint64_t>("uint64_t");
}
