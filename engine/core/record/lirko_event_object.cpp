#include "lirko_event_object.h"

#include <pthread.h>
#include <stdlib.h>
#include <time.h>

struct lirko_event_object {
    pthread_mutex_t mutex;
    pthread_cond_t cond;
    int signalled;
};

lirko_event_object *lirko_event_object_new(void)
{
    lirko_event_object *self = (lirko_event_object *)calloc(1, sizeof(*self));
    if (!self) {
        return NULL;
    }
    if (pthread_mutex_init(&self->mutex, NULL) != 0) {
        free(self);
        return NULL;
    }
    pthread_condattr_t attr;
    int ok = 0;
    if (pthread_condattr_init(&attr) == 0) {
        // Bounded waits measure on the monotonic clock: a wall-clock step
        // must not stretch or cut them.
        ok = pthread_condattr_setclock(&attr, CLOCK_MONOTONIC) == 0 &&
             pthread_cond_init(&self->cond, &attr) == 0;
        pthread_condattr_destroy(&attr);
    }
    if (!ok) {
        pthread_mutex_destroy(&self->mutex);
        free(self);
        return NULL;
    }
    return self;
}

void lirko_event_object_destroy(lirko_event_object **event)
{
    if (!event || !*event) {
        return;
    }
    pthread_cond_destroy(&(*event)->cond);
    pthread_mutex_destroy(&(*event)->mutex);
    free(*event);
    *event = NULL;
}

void lirko_event_object_signal(lirko_event_object *event)
{
    if (!event) {
        return;
    }
    pthread_mutex_lock(&event->mutex);
    event->signalled = 1;
    pthread_cond_signal(&event->cond);
    pthread_mutex_unlock(&event->mutex);
}

void lirko_event_object_wait(lirko_event_object *event)
{
    if (!event) {
        return;
    }
    pthread_mutex_lock(&event->mutex);
    while (!event->signalled) {
        pthread_cond_wait(&event->cond, &event->mutex);
    }
    event->signalled = 0;
    pthread_mutex_unlock(&event->mutex);
}

int lirko_event_object_wait_for(lirko_event_object *event, unsigned ms)
{
    if (!event) {
        return -1;
    }
    struct timespec until;
    clock_gettime(CLOCK_MONOTONIC, &until);
    until.tv_sec += ms / 1000;
    until.tv_nsec += (long)(ms % 1000) * 1000000L;
    if (until.tv_nsec >= 1000000000L) {
        until.tv_sec++;
        until.tv_nsec -= 1000000000L;
    }
    pthread_mutex_lock(&event->mutex);
    int timed_out = 0;
    while (!event->signalled && !timed_out) {
        timed_out = pthread_cond_timedwait(&event->cond, &event->mutex, &until) != 0;
    }
    int result = event->signalled ? 0 : -1;
    event->signalled = 0;
    pthread_mutex_unlock(&event->mutex);
    return result;
}
