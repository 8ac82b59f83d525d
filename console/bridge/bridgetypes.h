// The engine's types as the meta-type system must know them: the web channel
// converts page arguments only to registered parameter types (it skips a slot
// such as GetMemberList(gid_t) otherwise), and queued signals copy their
// arguments by registered type. Call before any channel or connection.
#pragma once

#include "lirko_win.h"

#include <QMetaType>

Q_DECLARE_METATYPE(LIRKO_ONLINE_STATUS)

void RegisterBridgeMetaTypes();
