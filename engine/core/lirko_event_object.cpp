#include "lirko_event_object.h"

#include <pthread.h>
#include <stdlib.h>

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
    if (pthread_cond_init(&self->cond, NULL) != 0) {
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
