// Engine events to the page: every POc signal connected to the JsContext
// push method that shows it, with the window as context so the handlers run
// queued on the GUI thread.
#pragma once

#include <functional>

class JsContext;
class POc;
class QObject;
class QWebEnginePage;

struct PocWiringHooks {
    // Called after the push of a speaker start (someone's voice plays, or the
    // own talk starts) and of its stop; the main window saves and restores
    // the video wall's mute states there.
    std::function<void()> speakerStarted;
    std::function<void()> speakerStopped;
};

// page gives the page to push into at the time of each event.
void ConnectPocToPage(POc *poc, JsContext *js, QObject *window,
                      std::function<QWebEnginePage *()> page, PocWiringHooks hooks = {});
