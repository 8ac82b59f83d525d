#include "focus_manager.h"

#include "list.h"

#include <stdio.h>
#include <stdlib.h>

namespace
{

struct focus_entry {
    void *owner;
    int32_t priority;
    focus_cb cb;
};

} // namespace

struct focus_manager_t {
    focus_entry *holder;
    list *waiting; // of focus_entry, front first
};

focus_manager_t *focus_manager_new(void)
{
    focus_manager_t *fm = (focus_manager_t *)calloc(1, sizeof(*fm));
    if (!fm)
        return NULL;
    fm->waiting = list_new();
    if (!fm->waiting) {
        free(fm);
        return NULL;
    }
    return fm;
}

void focus_manager_clear(focus_manager_t *fm)
{
    if (!fm)
        return;
    free(fm->holder);
    fm->holder = NULL;
    void *e;
    while ((e = list_pop_front(fm->waiting)) != NULL)
        free(e);
}

void focus_manager_destroy(focus_manager_t **pfm)
{
    if (!pfm || !*pfm)
        return;
    focus_manager_clear(*pfm);
    list_del((*pfm)->waiting);
    free(*pfm);
    *pfm = NULL;
}

static list_node *find_waiting(focus_manager_t *fm, void *owner)
{
    for (list_node *n = list_begin(fm->waiting); n; n = list_next(n)) {
        if (((focus_entry *)list_data_get(n))->owner == owner)
            return n;
    }
    return NULL;
}

static focus_entry *entry_new(void *owner, int32_t priority, focus_cb cb)
{
    focus_entry *e = (focus_entry *)malloc(sizeof(*e));
    if (!e) {
        printf("focus_manager: no memory for the request of %p\n", owner);
        return NULL;
    }
    e->owner = owner;
    e->priority = priority;
    e->cb = cb;
    return e;
}

// Makes a new entry the holder, queueing the old holder in front and telling
// it only once the manager is consistent again (its callback may call in).
static int take_focus(focus_manager_t *fm, void *owner, int32_t priority, focus_cb cb)
{
    focus_entry *e = entry_new(owner, priority, cb);
    if (!e)
        return 0;
    focus_entry *old = fm->holder;
    if (old && list_push_front(fm->waiting, old) != 0) {
        free(e);
        printf("focus_manager: no memory to queue %p\n", old->owner);
        return 0;
    }
    // An owner that was waiting holds now: its queued entry would hand it
    // the focus a second time.
    list_node *stale = find_waiting(fm, owner);
    if (stale)
        free(list_remove_at(fm->waiting, stale));
    fm->holder = e;
    if (old && old->cb)
        old->cb(fm, old->owner, 0);
    return 1;
}

static int request(focus_manager_t *fm, void *owner, int32_t priority, focus_cb cb, int queue)
{
    if (!fm)
        return 0;
    if (fm->holder && fm->holder->owner == owner)
        return 1;
    if (!fm->holder || priority > fm->holder->priority)
        return take_focus(fm, owner, priority, cb);
    printf("focus_manager: priority %d does not beat the holder's %d\n", priority,
           fm->holder->priority);
    if (!queue || find_waiting(fm, owner))
        return 0;
    focus_entry *e = entry_new(owner, priority, cb);
    if (!e)
        return 0;
    list_node *n = list_begin(fm->waiting);
    while (n && ((focus_entry *)list_data_get(n))->priority >= priority)
        n = list_next(n);
    int rc = n ? list_insert_before(fm->waiting, n, e) : list_push_back(fm->waiting, e);
    if (rc != 0)
        free(e);
    return 0;
}

int focus_manager_require_nowait(focus_manager_t *fm, void *owner, int32_t priority, focus_cb cb)
{
    return request(fm, owner, priority, cb, 0);
}

int focus_manager_require(focus_manager_t *fm, void *owner, int32_t priority, focus_cb cb)
{
    return request(fm, owner, priority, cb, 1);
}

int focus_manager_release(focus_manager_t *fm, void *owner)
{
    if (!fm)
        return -1;
    if (fm->holder && fm->holder->owner == owner) {
        free(fm->holder);
        fm->holder = (focus_entry *)list_pop_front(fm->waiting);
        if (fm->holder && fm->holder->cb)
            fm->holder->cb(fm, fm->holder->owner, 1);
        return 0;
    }
    list_node *n = find_waiting(fm, owner);
    if (!n)
        return -1;
    free(list_remove_at(fm->waiting, n));
    return 0;
}

void *focus_manager_holder(const focus_manager_t *fm)
{
    return fm && fm->holder ? fm->holder->owner : NULL;
}

uint32_t focus_manager_waiting(const focus_manager_t *fm)
{
    return fm ? (uint32_t)list_count(fm->waiting) : 0;
}
