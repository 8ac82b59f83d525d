// The looper without a thread (see stage.h): timers, named events and exec
// calls with the real loop's semantics, run whenever the target turns a
// cycle. Socket readiness is the socket stand-in's business.
#include "hal_looper.h"
#include "hal_time.h"
#include "stage.h"

#include <deque>
#include <math.h>
#include <new>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <unordered_map>
#include <vector>

namespace
{

struct proc_node {
    hal_looper_processor p;
    bool removed;
};

struct proc_entry {
    std::string name;
    std::vector<proc_node *> procs;
    bool has_removed;
    bool dispatching;
};

struct timer {
    double interval;
    double due;
    hal_looper_timer_fn fn;
    void *arg;
    bool removed;
};

void free_event(hal_looper_event *ev)
{
    if (ev->destroy)
        ev->destroy(ev);
    free(ev->name);
    free(ev);
}

} // namespace

struct hal_looper {
    hal_ctx *ctx;
    hal_log *log;
    int depth; // > 0 while the calling thread acts as the looper
    std::unordered_map<std::string, proc_entry *> processors;
    std::vector<timer *> timers;
    std::deque<hal_looper_event *> events;
};

namespace
{

void compact(hal_looper *lp, proc_entry *e)
{
    if (e->has_removed) {
        std::vector<proc_node *> keep;
        for (proc_node *n : e->procs) {
            if (n->removed)
                delete n;
            else
                keep.push_back(n);
        }
        e->procs.swap(keep);
        e->has_removed = false;
    }
    if (e->procs.empty()) {
        lp->processors.erase(e->name);
        delete e;
    }
}

void dispatch(hal_looper *lp)
{
    // Bounded: a processor that posts its own event again cannot hold the
    // cycle forever.
    for (size_t left = lp->events.size() + 1024; left > 0 && !lp->events.empty(); left--) {
        hal_looper_event *ev = lp->events.front();
        lp->events.pop_front();
        auto it = ev->name ? lp->processors.find(ev->name) : lp->processors.end();
        if (it != lp->processors.end()) {
            proc_entry *e = it->second;
            e->dispatching = true;
            for (size_t i = 0; i < e->procs.size(); i++) {
                proc_node *n = e->procs[i];
                if (!n->removed)
                    n->p.fn(lp, ev, n->p.arg, &n->p);
            }
            e->dispatching = false;
            compact(lp, e);
        }
        free_event(ev);
    }
}

void run_timers(hal_looper *lp)
{
    double now = hal_time_now();
    for (size_t i = 0; i < lp->timers.size(); i++) {
        timer *t = lp->timers[i];
        if (t->removed || t->due > now)
            continue;
        t->due += floor((now - t->due) / t->interval) * t->interval;
        while (t->due <= now) {
            // An interval below the clock's resolution adds nothing.
            double next = t->due + t->interval;
            if (next <= t->due) {
                t->due = nextafter(now, INFINITY);
                break;
            }
            t->due = next;
        }
        t->fn(lp, now, t->arg);
    }
    size_t keep = 0;
    for (size_t i = 0; i < lp->timers.size(); i++) {
        if (lp->timers[i]->removed)
            delete lp->timers[i];
        else
            lp->timers[keep++] = lp->timers[i];
    }
    lp->timers.resize(keep);
}

struct scope {
    hal_looper *lp;
    explicit scope(hal_looper *l) : lp(l)
    {
        lp->depth++;
    }
    ~scope()
    {
        lp->depth--;
    }
};

} // namespace

void stage_cycle(hal_looper *lp)
{
    if (!lp)
        return;
    scope in(lp);
    dispatch(lp);
    run_timers(lp);
    dispatch(lp);
}

void stage_advance(hal_looper *lp, uint64_t ms)
{
    while (ms > 0) {
        uint64_t step = ms < 20 ? ms : 20;
        hal_clock_fake_advance(step);
        ms -= step;
        stage_cycle(lp);
    }
}

hal_looper *hal_looper_new(hal_ctx *ctx, hal_log *log)
{
    hal_looper *lp = new (std::nothrow) hal_looper();
    if (!lp)
        return nullptr;
    lp->ctx = ctx;
    lp->log = log;
    lp->depth = 0;
    return lp;
}

void hal_looper_destroy(hal_looper **plp)
{
    if (!plp || !*plp)
        return;
    hal_looper *lp = *plp;
    if (lp->depth > 0)
        return;
    while (!lp->events.empty()) {
        free_event(lp->events.front());
        lp->events.pop_front();
    }
    for (auto &kv : lp->processors) {
        for (proc_node *n : kv.second->procs)
            delete n;
        delete kv.second;
    }
    for (timer *t : lp->timers)
        delete t;
    delete lp;
    *plp = nullptr;
}

hal_ctx *hal_looper_context(const hal_looper *looper)
{
    return looper ? looper->ctx : nullptr;
}

int hal_looper_is_current(const hal_looper *looper)
{
    return looper && looper->depth > 0;
}

int hal_looper_exec(hal_looper *lp, hal_looper_exec_fn fn, void *arg)
{
    if (!lp || !fn)
        return -1;
    scope in(lp);
    return fn(lp, arg);
}

void hal_looper_post(hal_looper *lp, hal_looper_event *event)
{
    if (!event)
        return;
    if (!lp) {
        free_event(event);
        return;
    }
    lp->events.push_back(event);
}

void hal_looper_post_event(hal_looper *lp, const hal_looper_event *tmpl,
                           void (*destroy)(hal_looper_event *event))
{
    if (!tmpl)
        return;
    hal_looper_event *ev = static_cast<hal_looper_event *>(malloc(sizeof *ev));
    char *name = tmpl->name ? strdup(tmpl->name) : nullptr;
    if (!ev || (tmpl->name && !name)) {
        free(ev);
        free(name);
        if (destroy) {
            hal_looper_event copy = *tmpl;
            copy.destroy = destroy;
            destroy(&copy);
        }
        return;
    }
    *ev = *tmpl;
    ev->name = name;
    ev->destroy = destroy;
    hal_looper_post(lp, ev);
}

int hal_looper_set_timer(hal_looper *lp, hal_looper_timer_fn fn, double interval, void *arg)
{
    if (!lp || !fn || !(interval > 0) || !isfinite(interval))
        return -1;
    double now = hal_time_now();
    lp->timers.push_back(new timer{interval, now + interval, fn, arg, false});
    return 0;
}

int hal_looper_cancel_timer(hal_looper *lp, hal_looper_timer_fn fn, void *arg)
{
    if (!lp || !fn)
        return -1;
    int rc = -1;
    for (timer *t : lp->timers) {
        if (!t->removed && t->fn == fn && (!arg || t->arg == arg)) {
            t->removed = true;
            rc = 0;
        }
    }
    return rc;
}

int hal_looper_routine_quit(hal_looper *, void *)
{
    return 0;
}

int hal_looper_routine_add_processer(hal_looper *lp, void *arg)
{
    const hal_looper_processer_args *a = static_cast<const hal_looper_processer_args *>(arg);
    if (!a || !a->name || !a->fn)
        return -1;
    proc_entry *&e = lp->processors[a->name];
    if (!e)
        e = new proc_entry{a->name, {}, false, false};
    for (proc_node *n : e->procs) {
        if (!n->removed && n->p.fn == a->fn && n->p.arg == a->arg)
            return 0;
    }
    e->procs.push_back(new proc_node{{a->fn, a->arg}, false});
    return 0;
}

int hal_looper_routine_remove_processer(hal_looper *lp, void *arg)
{
    const hal_looper_processer_args *a = static_cast<const hal_looper_processer_args *>(arg);
    if (!a || !a->name)
        return -1;
    auto it = lp->processors.find(a->name);
    if (it == lp->processors.end())
        return -1;
    proc_entry *e = it->second;
    int removed = 0;
    for (proc_node *n : e->procs) {
        if (n->removed || n->p.fn != a->fn || (a->arg && n->p.arg != a->arg))
            continue;
        n->removed = true;
        removed++;
        if (a->arg)
            break;
    }
    if (removed == 0)
        return -1;
    e->has_removed = true;
    if (!e->dispatching)
        compact(lp, e);
    return 0;
}

int hal_looper_routine_enqueue_event(hal_looper *lp, void *arg)
{
    hal_looper_post(lp, static_cast<hal_looper_event *>(arg));
    return 0;
}

// The socket stand-in keeps its readers itself; these only release the
// records the real sockets would hand over.
int hal_looper_routine_add_reader(hal_looper *, void *arg)
{
    free(arg);
    return 0;
}

int hal_looper_routine_add_writer(hal_looper *, void *arg)
{
    free(arg);
    return 0;
}

int hal_looper_routine_remove_reader(hal_looper *, void *)
{
    return 0;
}

int hal_looper_routine_remove_writer(hal_looper *, void *)
{
    return 0;
}

int hal_looper_routine_remove_fd(hal_looper *, void *)
{
    return 0;
}
