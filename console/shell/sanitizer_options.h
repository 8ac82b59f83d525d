// Leak-check settings for sanitizer builds of programs that run Qt and its
// web engine: those libraries keep some objects to the end of the process
// by design (the platform plugin's screens, the web engine's globals).
// They are built without frame pointers, so a leak's stack often ends in
// the library: suppressed by library. What our own code allocates still has
// our frame on top. Included by exactly one source file of each program.
#pragma once

#if defined(__SANITIZE_ADDRESS__)
// Quiet about the suppressions used: callers read standard error.
extern "C" const char *__lsan_default_options()
{
    return "print_suppressions=0";
}

extern "C" const char *__lsan_default_suppressions()
{
    return "leak:libQt5WebEngineCore.so\n"
           "leak:libqoffscreen.so\n"
           "leak:libqxcb.so\n"
           "leak:libQt5XcbQpa.so\n"
           "leak:libfontconfig.so\n"
           "leak:libdbus-1.so\n"
           "leak:libQt5Core.so\n"
           "leak:libQt5Gui.so\n";
}
#endif
