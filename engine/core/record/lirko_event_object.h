// The engine's one event object: auto-reset, made not signalled. A waiter
// blocks until another thread signals it; the signal then resets. The
// recorder-stop exports wait on it off the looper while the looper signals
// completion.
#ifndef LIRKO_EVENT_OBJECT_H
#define LIRKO_EVENT_OBJECT_H

#ifdef __cplusplus
extern "C" {
#endif

typedef struct lirko_event_object lirko_event_object;

lirko_event_object *lirko_event_object_new(void);
void lirko_event_object_destroy(lirko_event_object **event);
void lirko_event_object_signal(lirko_event_object *event);
// Waits until signalled and resets; returns at once on NULL.
void lirko_event_object_wait(lirko_event_object *event);
// Waits at most ms milliseconds: 0 when signalled (and reset), -1 when the
// time ran out or event is NULL.
int lirko_event_object_wait_for(lirko_event_object *event, unsigned ms);

#ifdef __cplusplus
}
#endif

#endif
