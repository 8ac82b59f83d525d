// One diagnostic line: the qualified function name, ":", the source line, a
// tab, then the values streamed after it.
#pragma once

#include <QDebug>

#define BRIDGE_LOG(cls)                                                                            \
    (qDebug().noquote().nospace() << cls "::" << __func__ << ":" << __LINE__ << "\t").space()
