// Named engine events: modules post "com.zideveraviv.lirko." plus an event
// word on the looper; the engine's processors, subscribed at start, turn
// each into a call of a listener slot. Looper thread only.
#ifndef LIRKO_EVENTS_H
#define LIRKO_EVENTS_H

#include "hal_looper.h"

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct lirko_t lirko_t;

#define LIRKO_EVENT_PREFIX "com.zideveraviv.lirko."
// Longest event word handled by the helpers below.
#define LIRKO_EVENT_WORD_MAX 48

// Subscribes fn(arg) to LIRKO_EVENT_PREFIX + word through the looper; 0 or -1.
int lirko_event_subscribe(lirko_t *engine, const char *word, hal_looper_processor_fn fn, void *arg);
int lirko_event_unsubscribe(lirko_t *engine, const char *word, hal_looper_processor_fn fn,
                            void *arg);
// Posts LIRKO_EVENT_PREFIX + word with code and value.
void lirko_event_post(lirko_t *engine, const char *word, int32_t code, int32_t value);
// The same with data, payload and the destroy function that releases them
// after delivery (also when the event is never delivered).
void lirko_event_post_data(lirko_t *engine, const char *word, int32_t code, int32_t value,
                           intptr_t data, void *payload, void (*destroy)(hal_looper_event *event));

// The engine's own subscriptions (35, in their fixed order). subscribe
// returns 0, or -1 after withdrawing what it did subscribe.
int lirko_subscribe_events(lirko_t *engine);
void lirko_unsubscribe_events(lirko_t *engine);
// Number of the engine's own subscriptions and the event word of the i-th
// (NULL past the end).
int lirko_event_count(void);
const char *lirko_event_word(int index);

// The member-query timer: armed for 60 s after each change of the current
// group; queries the current group's members once.
void query_membercallback(hal_looper *looper, double now, void *arg);
void lirko_cancel_member_query(lirko_t *engine);

#ifdef __cplusplus
}
#endif

#endif
