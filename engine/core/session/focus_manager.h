// The engine's single audio focus: every user of the speaker or microphone
// takes it first; a strictly higher priority pre-empts the holder, which is
// told and waits at the front of the queue to get it back. Looper thread
// only; the engine record owns the one manager.
#ifndef FOCUS_MANAGER_H
#define FOCUS_MANAGER_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct focus_manager_t focus_manager_t;

// Called with regained = 0 when the owner loses the focus to a higher
// priority, and 1 when it gets the focus from the queue.
typedef void (*focus_cb)(focus_manager_t *fm, void *owner, uint8_t regained);

// Priorities the engine uses (greater wins).
enum {
    FOCUS_PRIORITY_JOINED_GROUP = 999,
    FOCUS_PRIORITY_TALK = 10000,
    FOCUS_PRIORITY_FILE_PLAYBACK = 20000,
    FOCUS_PRIORITY_FULL_DUPLEX = 50000,
};

// No holder, empty queue; NULL when memory runs out.
focus_manager_t *focus_manager_new(void);
// Forgets everything without callbacks, frees the manager and clears the
// handle; NULL or a handle holding NULL: nothing.
void focus_manager_destroy(focus_manager_t **fm);

// 1 when the owner holds the focus afterwards: it held it already (nothing
// changes), there was no holder, or its priority is greater than the
// holder's (the holder is queued in front and told). 0 otherwise.
int focus_manager_require_nowait(focus_manager_t *fm, void *owner, int32_t priority, focus_cb cb);
// As focus_manager_require_nowait, but a request that does not win waits in
// the queue after every entry of equal or higher priority; the owner learns
// through its callback when it gets the focus. 1 when held now, else 0.
int focus_manager_require(focus_manager_t *fm, void *owner, int32_t priority, focus_cb cb);
// The holder gives the focus up (the front of the queue gets it and is
// told), or a waiting owner leaves the queue silently. 0, or -1 when the
// owner neither holds nor waits.
int focus_manager_release(focus_manager_t *fm, void *owner);
// Drops the holder and the queue without callbacks.
void focus_manager_clear(focus_manager_t *fm);
// The holder's owner, or NULL.
void *focus_manager_holder(const focus_manager_t *fm);
// Number of waiting entries.
uint32_t focus_manager_waiting(const focus_manager_t *fm);

#ifdef __cplusplus
}
#endif

#endif
