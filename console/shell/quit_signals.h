// SIGINT and SIGTERM close the console the way its window's close button
// does: the page's own close call (the page logs out there), the two
// seconds it has for that, then the teardown in its order. The handler only
// writes a byte into a pipe; the GUI thread reads it and asks the window to
// close, so no Qt call ever runs inside a signal handler.
// Owner: the process; tarvex_main installs it for the main window's life.
#pragma once

#include <functional>

// Takes SIGTERM, and SIGINT unless the program was started with it ignored
// (a script that hands Ctrl-C to someone else keeps it so). Each signal runs
// close once from the event loop of the thread that installed (the GUI
// thread); the window it closes decides what a second request means.
// Returns 0, or -1 when the pipe or a handler cannot be set up (the signals
// then keep their default action).
int quit_signals_install(std::function<void()> close);

// Before the window goes: no more close requests, and the signals get back
// the actions they had before install (a later Ctrl-C ends the program at
// once).
void quit_signals_remove();
