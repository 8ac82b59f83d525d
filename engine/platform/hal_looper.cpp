#include "hal_looper.h"

#include "hal_log.h"
#include "hal_time.h"

#include <atomic>
#include <deque>
#include <errno.h>
#include <fcntl.h>
#include <math.h>
#include <new>
#include <poll.h>
#include <pthread.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <unordered_map>
#include <vector>

namespace
{

// A synchronous call waiting on its caller's stack.
struct exec_call {
    hal_looper_exec_fn fn;
    void *arg;
    int result;
    bool done;
    pthread_cond_t cond;
};

// One entry of the cross-thread queue: an exec call or a posted event.
struct message {
    exec_call *call;
    hal_looper_event *event;
};

struct proc_node {
    hal_looper_processor p;
    bool removed;
};

struct proc_entry {
    bool dispatching;
    bool has_removed;
    std::string name;
    std::vector<proc_node *> procs;
};

struct timer {
    double start;
    double interval;
    double due;
    hal_looper_timer_fn fn;
    void *arg;
    bool removed;
};

struct fd_slot {
    hal_looper_fd_handler *h;
    // Set when poll reported the socket invalid (closed while registered);
    // the socket is left out of later waits so the loop cannot spin on it.
    bool invalid;
    // Cycle in which the handler was added. One added after this cycle's
    // wait was not part of it: the readiness reported for its socket number
    // may belong to an earlier socket, so it is first called next cycle.
    uint64_t added;
};

// The looper this thread runs, if any: exec and post act at once there.
thread_local hal_looper *tl_current = nullptr;

} // namespace

struct hal_looper {
    hal_ctx *ctx;
    hal_log *log;
    // 1 while no thread runs the loop; the quit routine sets it again.
    std::atomic<uint32_t> stop;
    pthread_t thread;
    bool joined;
    int wake_rd;
    int wake_wr;

    // Cross-thread queue; closed once the loop has ended so late callers get
    // an answer instead of waiting forever.
    pthread_mutex_t qlock;
    std::vector<message> queue;
    bool closed;
    // A wake byte is on its way; spares a write per message while the looper
    // is already bound to wake.
    std::atomic<bool> wake_pending;

    // Tables below are touched on the looper thread only.
    bool ended;
    std::unordered_map<std::string, proc_entry *> processors;
    std::vector<timer *> timers;
    std::vector<fd_slot> readers;
    std::vector<fd_slot> writers;
    std::deque<hal_looper_event *> events;
    std::vector<message> serving;
    std::vector<pollfd> pfds;
    std::vector<int> reader_fds;
    std::vector<int> writer_fds;
    uint64_t cycle;
};

namespace
{

void wake(hal_looper *lp)
{
    if (lp->wake_pending.exchange(true))
        return;
    char b = 1;
    for (;;) {
        ssize_t n = send(lp->wake_wr, &b, 1, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n == 1 || errno != EINTR)
            break;
        // EAGAIN needs no retry: a full socket buffer holds unread bytes, so
        // the looper's next poll sees the read end ready in any case.
    }
}

void clock_wake(void *arg)
{
    wake(static_cast<hal_looper *>(arg));
}

void free_event(hal_looper_event *ev)
{
    if (ev->destroy)
        ev->destroy(ev);
    free(ev->name);
    free(ev);
}

void drain_wake(hal_looper *lp)
{
    char buf[256];
    for (;;) {
        ssize_t n = recv(lp->wake_rd, buf, sizeof buf, MSG_DONTWAIT);
        if (n < 0 && errno == EINTR)
            continue;
        // A short read emptied the stream; only a full buffer may leave more.
        if (n < (ssize_t)sizeof buf)
            break;
    }
    // Cleared only after the bytes are gone and before the queue is taken: a
    // sender that still sees the flag set has its message taken below, one
    // that sees it clear writes a byte that this drain has not eaten.
    lp->wake_pending.store(false);
}

void answer_exec(hal_looper *lp, exec_call *call, int result)
{
    pthread_mutex_lock(&lp->qlock);
    call->result = result;
    call->done = true;
    // Signalled under the lock: the caller cannot see done, return and drop
    // its stack frame before this thread has let go of the call.
    pthread_cond_signal(&call->cond);
    pthread_mutex_unlock(&lp->qlock);
}

void serve_messages(hal_looper *lp)
{
    pthread_mutex_lock(&lp->qlock);
    lp->serving.swap(lp->queue);
    pthread_mutex_unlock(&lp->qlock);
    for (const message &m : lp->serving) {
        if (m.call)
            answer_exec(lp, m.call, m.call->fn(lp, m.call->arg));
        else
            lp->events.push_back(m.event);
    }
    lp->serving.clear();
}

void compact_entry(hal_looper *lp, proc_entry *e)
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

void dispatch_events(hal_looper *lp)
{
    while (!lp->events.empty()) {
        hal_looper_event *ev = lp->events.front();
        lp->events.pop_front();
        if (ev->name) {
            auto it = lp->processors.find(ev->name);
            if (it != lp->processors.end()) {
                proc_entry *e = it->second;
                e->dispatching = true;
                // By index: processors appended during the dispatch are called
                // in it, removed ones are skipped and released afterwards.
                for (size_t i = 0; i < e->procs.size(); i++) {
                    proc_node *n = e->procs[i];
                    if (!n->removed)
                        n->p.fn(lp, ev, n->p.arg, &n->p);
                }
                e->dispatching = false;
                compact_entry(lp, e);
            }
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
        // However many periods were missed, the timer is called once.
        t->due += floor((now - t->due) / t->interval) * t->interval;
        while (t->due <= now) {
            // An interval below the clock's resolution at this time adds
            // nothing: the next call then comes in the next cycle.
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

int wait_ms(hal_looper *lp)
{
    // Events posted on the looper thread itself (from a timer or a socket
    // callback) send no wake byte: they are due in the very next cycle.
    if (!lp->events.empty())
        return 0;
    bool any = false;
    double due = 0;
    for (timer *t : lp->timers) {
        if (t->removed)
            continue;
        if (!any || t->due < due)
            due = t->due;
        any = true;
    }
    if (!any)
        return -1;
    double left = due - hal_time_now();
    if (left <= 0)
        return 0;
    // Rounded up: waking early would only spin until the deadline. A day at
    // most, as the clock may be changed by hand under a running loop.
    double ms = ceil(left * 1000.0);
    return ms > 86400000.0 ? 86400000 : (int)ms;
}

void add_fds(std::vector<pollfd> &pfds, std::vector<int> &scratch,
             const std::vector<fd_slot> &slots, short events)
{
    scratch.clear();
    for (const fd_slot &s : slots) {
        if (s.invalid)
            continue;
        pfds.push_back(pollfd{s.h->fd, events, 0});
        scratch.push_back(s.h->fd);
    }
}

fd_slot *find_slot(std::vector<fd_slot> &slots, int fd)
{
    for (fd_slot &s : slots) {
        if (s.h->fd == fd)
            return &s;
    }
    return nullptr;
}

void call_ready(hal_looper *lp, std::vector<fd_slot> &slots, const std::vector<int> &fds,
                size_t first, short ready)
{
    for (size_t i = 0; i < fds.size(); i++) {
        short rev = lp->pfds[first + i].revents;
        if (rev == 0)
            continue;
        // Looked up again: an earlier callback of this cycle may have removed
        // or replaced the handler.
        fd_slot *s = find_slot(slots, fds[i]);
        if (!s || s->added == lp->cycle)
            continue;
        if (rev & POLLNVAL) {
            s->invalid = true;
            hal_log_output(lp->log, 5, "looper", "socket %d closed while registered", fds[i]);
            continue;
        }
        if (rev & (ready | POLLERR | POLLHUP))
            s->h->fn(lp, s->h->fd, s->h->arg);
    }
}

void run_cycle(hal_looper *lp)
{
    lp->cycle++;
    lp->pfds.clear();
    lp->pfds.push_back(pollfd{lp->wake_rd, POLLIN, 0});
    add_fds(lp->pfds, lp->reader_fds, lp->readers, POLLIN);
    size_t wfirst = lp->pfds.size();
    add_fds(lp->pfds, lp->writer_fds, lp->writers, POLLOUT);

    int n = poll(lp->pfds.data(), lp->pfds.size(), wait_ms(lp));

    // Queued messages are served every cycle; the wake byte only ends the wait.
    if (n > 0 && lp->pfds[0].revents)
        drain_wake(lp);
    serve_messages(lp);
    if (n > 0) {
        call_ready(lp, lp->readers, lp->reader_fds, 1, POLLIN);
        call_ready(lp, lp->writers, lp->writer_fds, wfirst, POLLOUT);
    }
    dispatch_events(lp);
    run_timers(lp);
}

void free_tables(hal_looper *lp)
{
    lp->ended = true;
    // Late messages get their answers; nothing can be queued after this.
    pthread_mutex_lock(&lp->qlock);
    lp->closed = true;
    lp->serving.swap(lp->queue);
    pthread_mutex_unlock(&lp->qlock);
    for (const message &m : lp->serving) {
        if (m.call)
            answer_exec(lp, m.call, -1);
        else
            lp->events.push_back(m.event);
    }
    lp->serving.clear();
    // Event destroy functions run first, while the tables still stand.
    while (!lp->events.empty()) {
        hal_looper_event *ev = lp->events.front();
        lp->events.pop_front();
        free_event(ev);
    }
    for (auto &kv : lp->processors) {
        for (proc_node *n : kv.second->procs)
            delete n;
        delete kv.second;
    }
    lp->processors.clear();
    for (fd_slot &s : lp->readers)
        free(s.h);
    for (fd_slot &s : lp->writers)
        free(s.h);
    lp->readers.clear();
    lp->writers.clear();
    for (timer *t : lp->timers)
        delete t;
    lp->timers.clear();
}

void *loop_main(void *arg)
{
    hal_looper *lp = static_cast<hal_looper *>(arg);
    tl_current = lp;
    hal_log_output(lp->log, 3, "looper", "main thread: %u", (unsigned)gettid());
    while (lp->stop.load() == 0)
        run_cycle(lp);
    free_tables(lp);
    tl_current = nullptr;
    return nullptr;
}

int noop(hal_looper *, void *)
{
    return 0;
}

void close_fds(hal_looper *lp)
{
    if (lp->wake_rd >= 0)
        close(lp->wake_rd);
    if (lp->wake_wr >= 0)
        close(lp->wake_wr);
}

int add_handler(hal_looper *lp, std::vector<fd_slot> &slots, void *arg)
{
    hal_looper_fd_handler *h = static_cast<hal_looper_fd_handler *>(arg);
    if (!h)
        return -1;
    if (fd_slot *s = find_slot(slots, h->fd)) {
        s->h->fn = h->fn;
        s->h->arg = h->arg;
        s->invalid = false;
        free(h);
        return 0;
    }
    slots.push_back(fd_slot{h, false, lp->cycle});
    return 0;
}

int remove_handler(std::vector<fd_slot> &slots, int fd)
{
    for (size_t i = 0; i < slots.size(); i++) {
        if (slots[i].h->fd == fd) {
            free(slots[i].h);
            slots.erase(slots.begin() + (long)i);
            return 1;
        }
    }
    return 0;
}

struct cancel_args {
    hal_looper_timer_fn fn;
    void *arg;
};

int routine_add_timer(hal_looper *lp, void *arg)
{
    lp->timers.push_back(static_cast<timer *>(arg));
    return 0;
}

int routine_cancel_timer(hal_looper *lp, void *arg)
{
    cancel_args *c = static_cast<cancel_args *>(arg);
    int rc = -1;
    for (timer *t : lp->timers) {
        if (!t->removed && t->fn == c->fn && (!c->arg || t->arg == c->arg)) {
            t->removed = true;
            rc = 0;
        }
    }
    return rc;
}

} // namespace

hal_looper *hal_looper_new(hal_ctx *ctx, hal_log *log)
{
    hal_looper *lp = new (std::nothrow) hal_looper();
    if (!lp)
        return nullptr;
    lp->ctx = ctx;
    lp->log = log;
    lp->stop.store(1);
    lp->joined = true;
    lp->closed = false;
    lp->ended = false;
    lp->cycle = 0;
    lp->wake_pending.store(false);
    lp->wake_rd = lp->wake_wr = -1;
    pthread_mutex_init(&lp->qlock, nullptr);
    int fds[2];
    if (hal_pipe(fds) != 0)
        goto fail;
    lp->wake_rd = fds[0];
    lp->wake_wr = fds[1];
    if (hal_set_nonblock(lp->wake_rd) != 0 || hal_set_nonblock(lp->wake_wr) != 0)
        goto fail;
    hal_log_output(log, 2, "loop", "hal_looper_new");
    if (hal_clock_watch(clock_wake, lp) != 0)
        goto fail;
    lp->stop.store(0);
    if (pthread_create(&lp->thread, nullptr, loop_main, lp) != 0) {
        hal_clock_unwatch(clock_wake, lp);
        goto fail;
    }
    lp->joined = false;
    hal_log_output(log, 3, "looper", "hal_looper_routine_on_start111");
    // Returns only once the thread serves its loop.
    (void)hal_looper_exec(lp, noop, nullptr);
    hal_log_output(log, 3, "looper", "hal_looper_routine_on_start222");
    return lp;
fail:
    close_fds(lp);
    pthread_mutex_destroy(&lp->qlock);
    delete lp;
    return nullptr;
}

void hal_looper_destroy(hal_looper **plp)
{
    if (!plp || !*plp)
        return;
    hal_looper *lp = *plp;
    if (tl_current == lp) {
        hal_log_output(lp->log, 6, "looper", "hal_looper_destroy refused on the looper thread");
        return;
    }
    hal_clock_unwatch(clock_wake, lp);
    if (!lp->joined) {
        (void)hal_looper_exec(lp, hal_looper_routine_quit, nullptr);
        pthread_join(lp->thread, nullptr);
        lp->joined = true;
    }
    close_fds(lp);
    pthread_mutex_destroy(&lp->qlock);
    delete lp;
    *plp = nullptr;
}

hal_ctx *hal_looper_context(const hal_looper *looper)
{
    return looper ? looper->ctx : nullptr;
}

int hal_looper_is_current(const hal_looper *looper)
{
    return looper && tl_current == looper;
}

int hal_looper_exec(hal_looper *lp, hal_looper_exec_fn fn, void *arg)
{
    if (!lp || !fn)
        return -1;
    if (tl_current == lp)
        return fn(lp, arg);
    exec_call call;
    call.fn = fn;
    call.arg = arg;
    call.result = 0;
    call.done = false;
    pthread_cond_init(&call.cond, nullptr);
    pthread_mutex_lock(&lp->qlock);
    if (lp->closed) {
        pthread_mutex_unlock(&lp->qlock);
        pthread_cond_destroy(&call.cond);
        return -1;
    }
    lp->queue.push_back(message{&call, nullptr});
    pthread_mutex_unlock(&lp->qlock);
    wake(lp);
    pthread_mutex_lock(&lp->qlock);
    // A wake-up without done set (spurious, or another call's signal) waits
    // again: the looper may not yet have run this call.
    while (!call.done)
        pthread_cond_wait(&call.cond, &lp->qlock);
    int result = call.result;
    pthread_mutex_unlock(&lp->qlock);
    pthread_cond_destroy(&call.cond);
    return result;
}

void hal_looper_post(hal_looper *lp, hal_looper_event *event)
{
    if (!event)
        return;
    if (!lp) {
        free_event(event);
        return;
    }
    if (tl_current == lp) {
        if (lp->ended)
            free_event(event);
        else
            lp->events.push_back(event);
        return;
    }
    pthread_mutex_lock(&lp->qlock);
    bool closed = lp->closed;
    if (!closed)
        lp->queue.push_back(message{nullptr, event});
    pthread_mutex_unlock(&lp->qlock);
    if (closed)
        free_event(event);
    else
        wake(lp);
}

void hal_looper_post_event(hal_looper *lp, const hal_looper_event *tmpl,
                           void (*destroy)(hal_looper_event *event))
{
    if (!tmpl)
        return;
    hal_looper_event *ev = static_cast<hal_looper_event *>(malloc(sizeof *ev));
    char *name = tmpl->name ? strdup(tmpl->name) : nullptr;
    if (!ev || (tmpl->name && !name)) {
        // Nothing can be delivered; still release what the event carries.
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
    hal_log_output(lp->log, 3, "looper", "hal_looper_set_timer timeout:%f ", interval);
    timer *t = new (std::nothrow) timer;
    if (!t)
        return -4;
    double now = hal_time_now();
    *t = timer{now, interval, now + interval, fn, arg, false};
    if (hal_looper_exec(lp, routine_add_timer, t) != 0) {
        delete t;
        return -1;
    }
    return 0;
}

int hal_looper_cancel_timer(hal_looper *lp, hal_looper_timer_fn fn, void *arg)
{
    if (!lp || !fn)
        return -1;
    cancel_args c{fn, arg};
    return hal_looper_exec(lp, routine_cancel_timer, &c);
}

int hal_looper_routine_quit(hal_looper *lp, void *)
{
    lp->stop.store(1);
    return 0;
}

int hal_looper_routine_add_processer(hal_looper *lp, void *arg)
{
    auto *a = static_cast<hal_looper_processer_args *>(arg);
    if (!a || !a->name || !a->fn)
        return -1;
    proc_entry *e;
    auto it = lp->processors.find(a->name);
    if (it == lp->processors.end()) {
        e = new proc_entry{false, false, a->name, {}};
        lp->processors.emplace(e->name, e);
    } else {
        e = it->second;
        for (proc_node *n : e->procs) {
            if (!n->removed && n->p.fn == a->fn && n->p.arg == a->arg)
                return 0;
        }
    }
    e->procs.push_back(new proc_node{{a->fn, a->arg}, false});
    return 0;
}

int hal_looper_routine_remove_processer(hal_looper *lp, void *arg)
{
    auto *a = static_cast<hal_looper_processer_args *>(arg);
    if (!a || !a->name)
        return -1;
    auto it = lp->processors.find(a->name);
    if (it == lp->processors.end()) {
        hal_log_output(lp->log, 3, "looper", "%s event:%s ", "hal_looper_routine_remove_processer",
                       a->name);
        return -1;
    }
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
    // During its own dispatch the entry is compacted when the dispatch ends.
    if (!e->dispatching)
        compact_entry(lp, e);
    return 0;
}

int hal_looper_routine_enqueue_event(hal_looper *lp, void *arg)
{
    if (!arg)
        return -1;
    lp->events.push_back(static_cast<hal_looper_event *>(arg));
    return 0;
}

int hal_looper_routine_add_reader(hal_looper *lp, void *arg)
{
    return add_handler(lp, lp->readers, arg);
}

int hal_looper_routine_add_writer(hal_looper *lp, void *arg)
{
    return add_handler(lp, lp->writers, arg);
}

int hal_looper_routine_remove_reader(hal_looper *lp, void *arg)
{
    return remove_handler(lp->readers, (int)(intptr_t)arg);
}

int hal_looper_routine_remove_writer(hal_looper *lp, void *arg)
{
    return remove_handler(lp->writers, (int)(intptr_t)arg);
}

int hal_looper_routine_remove_fd(hal_looper *lp, void *arg)
{
    int fd = (int)(intptr_t)arg;
    return remove_handler(lp->readers, fd) + remove_handler(lp->writers, fd);
}

int hal_pipe(int fds[2])
{
    if (!fds)
        return -1;
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0)
        return -1;
    fds[0] = pair[0];
    fds[1] = pair[1];
    return 0;
}

int hal_set_nonblock(int fd)
{
    int flags = fcntl(fd, F_GETFL, 0);
    if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0)
        return errno;
    return 0;
}

int hal_close_pipe(int fd)
{
    close(fd);
    return 0;
}

long hal_write_pipe(int fd, const void *buf, unsigned long len)
{
    return send(fd, buf, len, MSG_NOSIGNAL);
}

long hal_read_pipe(int fd, void *buf, unsigned long len)
{
    return recv(fd, buf, len, 0);
}
