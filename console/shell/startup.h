// The process-wide steps of start-up that come before the application object:
// the log file, crash dumps, the command line into config.ini, the message
// handler and the command interpreter variable.
#pragma once

#include <QString>

struct StartupFlags {
    bool qtlog = false;     // "/Qt/qtlog/" is exactly "1"
    bool singleApp = false; // "/Qt/singleapp/" is exactly "1"
};

// A switch in config.ini is on only when its value is exactly "1".
bool startup_flag_on(const QString &value);
// Two or more arguments: user and password; a third: the role. Fewer: nothing.
void startup_store_arguments(int argc, char **argv);
// The steps before the application object, in their order. The log file is
// opened unclaimed: qtlog_claim once no other instance runs.
StartupFlags startup_prepare(int argc, char **argv);
