// The frame every lirko_win_ export shares: the one engine instance of the
// library and the hop onto its looper.
//
// An export checks its arguments on the caller's thread, then hands a body
// and a pointer to its argument block (on its own stack) to lirko_win_run.
// On the looper thread (an export called from a callback) the body runs in
// place; on any other thread the caller waits until the looper has run it.
// Without a loaded engine the body is not run and the given fallback result
// is returned.
#ifndef LIRKO_WIN_FRAME_H
#define LIRKO_WIN_FRAME_H

#ifdef __cplusplus
extern "C" {
#endif

typedef struct lirko_t lirko_t;
typedef int (*lirko_win_body)(lirko_t *engine, void *arg);

int lirko_win_run(lirko_win_body body, void *arg, int no_engine_result);

// The log tag and priority of export log lines.
#define LIRKO_WIN_TAG "lirko_win"

#ifdef __cplusplus
}
#endif

#endif
