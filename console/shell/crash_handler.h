// Crash dumps of the console: one handler for the process, for SIGSEGV,
// SIGBUS, SIGILL, SIGFPE and SIGABRT, writing "<uuid>.dmp" (a text dump:
// signal, code, fault address, registers, return addresses found on the
// stack and the process's memory map) into the dump folder given to init.
// Owner: the process; created on first instance() and never removed.
#pragma once

#include <QString>

class CrashHandler
{
  public:
    static CrashHandler *instance();
    // Opens the dump folder and installs the handler, once; later calls do
    // nothing. Returns false when the folder cannot be opened or a handler
    // cannot be installed.
    bool init(const QString &dumpPath);
    // True while every one of our signal handlers is the installed one.
    static bool installed();

    // Called from the signal handler after the dump is written: it must stay
    // async-signal-safe. Writes "BreakpadQt crash" to standard error.
    static bool dumpCallback(const char *dumpPath, const char *minidumpId, void *context,
                             void *exceptionInfo, void *assertion, bool succeeded);

  private:
    CrashHandler() = default;
    bool m_initialised = false;
};
