// The voice-quality estimate: every UDP Ping of a voice session carries a
// sequence number and every Pong gives a latency sample; a simplified E-model
// turns a window of samples into a mean opinion score (1.0 to 4.5), and the
// scores of all sessions average into a class 0 to 5. One estimator per
// engine (owned by the session set), one factor list per session. Looper
// thread only.
#ifndef KVMOS_H
#define KVMOS_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct lirko_t lirko_t;
typedef struct list list;
typedef struct Ptt__Net__Pong Ptt__Net__Pong;

// Window size used when none is configured.
#define KVMOS_DEFAULT_CAPACITY 64

typedef struct kvmos_sample {
    int32_t latency; // milliseconds, the low 16 bits of the measured difference
    int32_t seq;
} kvmos_sample;

typedef struct kvmos_factor_list {
    list *samples; // of kvmos_sample*, oldest first
    uint32_t seq;  // last sequence handed out; 0 = none yet
    float mos;     // last computed score
} kvmos_factor_list;

typedef struct kvmos {
    lirko_t *engine;
    list *factor_lists; // of kvmos_factor_list*
    uint32_t capacity;
    uint32_t base_seq; // 0 = not chosen
    int32_t mos_count; // factor lists constructed and not yet deconstructed
    // Scores of lists removed since the last query, averaged into the next
    // one: a session that ends still counts once, and never twice.
    double removed_sum;
    int32_t removed_count;
} kvmos;

// NULL when memory runs out.
kvmos *kvmos_new(lirko_t *engine);
// Frees every factor list and the estimator, clears the handle.
void kvmos_destroy(kvmos **estimator);

// A new factor list appended to the estimator; NULL without estimator or
// memory. Capacity 0 becomes the default window.
kvmos_factor_list *kvmos_construct(kvmos *estimator);
// Unlinks and frees the list; its last score is kept for the next query.
void kvmos_deconstruct(kvmos *estimator, kvmos_factor_list *factors);
// The next Ping sequence of the list: the estimator's shared base for its
// first Ping, one more than its previous one after that. 0 when either is
// missing.
uint32_t kvmos_make_seq(kvmos *estimator, kvmos_factor_list *factors);
// One latency sample from a Pong; a full window is scored before its oldest
// sample makes room.
void kvmos_set_factors(kvmos *estimator, kvmos_factor_list *factors, const Ptt__Net__Pong *pong);
// The score of a list's samples (no samples: no delay beyond the fixed 10 ms
// and no loss).
float kvmos_process(kvmos *estimator, kvmos_factor_list *factors);
// The class 0 to 5 of the mean score of every list (plus the lists removed
// since the last query).
int kvmos_get_mos_value(kvmos *estimator);

#ifdef __cplusplus
}
#endif

#endif
