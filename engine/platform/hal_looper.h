// The engine's single thread. All engine state (sockets, timers, named
// events, received messages) is read and written on it alone. Each cycle runs,
// in order: work handed in by other threads (exec and post messages), socket
// callbacks, the named-event bus, then the timers.
//
// Other threads enter with hal_looper_exec (run a function on the looper and
// wait for its result) or hal_looper_post (queue a named event and return).
// Both go through a mutex-protected queue; the looper is woken by one byte on
// a socketpair, never by passing addresses through the socket.
#ifndef HAL_LOOPER_H
#define HAL_LOOPER_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct hal_ctx hal_ctx;
typedef struct hal_log hal_log;
typedef struct hal_looper hal_looper;

// A named event. Posted events are heap records (hal_malloc/malloc, name
// too); the looper owns them once posted: after delivery it calls destroy
// (when set) with the event, then frees the name and the record. destroy
// releases only what the event's fields point to (payload, data).
typedef struct hal_looper_event {
    char *name;
    int32_t code;
    int32_t value;
    intptr_t data;
    void *payload;
    void (*destroy)(struct hal_looper_event *event);
} hal_looper_event;

typedef struct hal_looper_processor hal_looper_processor;
typedef void (*hal_looper_processor_fn)(hal_looper *looper, hal_looper_event *event, void *arg,
                                        hal_looper_processor *processor);
// One subscription of an event name.
struct hal_looper_processor {
    hal_looper_processor_fn fn;
    void *arg;
};

typedef void (*hal_looper_timer_fn)(hal_looper *looper, double now, void *arg);
typedef void (*hal_looper_fd_fn)(hal_looper *looper, int fd, void *arg);
typedef int (*hal_looper_exec_fn)(hal_looper *looper, void *arg);

// A socket reader or writer; heap record (malloc) owned by the looper once
// handed to the add routines.
typedef struct hal_looper_fd_handler {
    int fd;
    hal_looper_fd_fn fn;
    void *arg;
} hal_looper_fd_handler;

// Argument of the processor routines.
typedef struct hal_looper_processer_args {
    const char *name;
    hal_looper_processor_fn fn;
    void *arg;
} hal_looper_processer_args;

// Creates the looper and starts its thread; returns once the thread serves
// its loop. NULL when the wake-up pair, the thread or memory cannot be had.
hal_looper *hal_looper_new(hal_ctx *ctx, hal_log *log);
// Stops the loop (the current cycle completes), joins the thread, frees every
// table and closes the wake-up pair; the handle becomes NULL. Refused (nothing
// happens) on the looper thread itself, which cannot join itself.
void hal_looper_destroy(hal_looper **looper);
hal_ctx *hal_looper_context(const hal_looper *looper);
// Non-zero when the calling thread is this looper's thread.
int hal_looper_is_current(const hal_looper *looper);

// Runs fn(looper, arg) on the looper and returns its result; a direct call on
// the looper thread. -1 when the looper is NULL or its loop has ended.
int hal_looper_exec(hal_looper *looper, hal_looper_exec_fn fn, void *arg);
// Queues a heap event for delivery; returns at once. After the loop has
// ended the event is destroyed and freed without delivery.
void hal_looper_post(hal_looper *looper, hal_looper_event *event);
// Posts a heap copy of the template (name copied) with the given destroy.
void hal_looper_post_event(hal_looper *looper, const hal_looper_event *event,
                           void (*destroy)(hal_looper_event *event));

// Periodic timer named by (fn, arg); the first call comes one interval after
// it is set, periods missed while the looper was busy collapse into one call.
// 0; -1 for a NULL looper or fn, an interval that is not a positive finite
// number, or a looper whose loop has ended.
int hal_looper_set_timer(hal_looper *looper, hal_looper_timer_fn fn, double interval, void *arg);
// Cancels every timer of fn with this arg (every timer of fn when arg is
// NULL). 0 when at least one was cancelled, else -1.
int hal_looper_cancel_timer(hal_looper *looper, hal_looper_timer_fn fn, void *arg);

// Routines: run on the looper thread through hal_looper_exec.
int hal_looper_routine_quit(hal_looper *looper, void *unused);
// arg: hal_looper_processer_args; subscribes once per (fn, arg). 0.
int hal_looper_routine_add_processer(hal_looper *looper, void *arg);
// arg: hal_looper_processer_args; a NULL arg field removes every processor of
// fn. 0, or -1 when nothing was removed. Safe during dispatch of that name.
int hal_looper_routine_remove_processer(hal_looper *looper, void *arg);
// arg: heap hal_looper_event; appends it to the event queue.
int hal_looper_routine_enqueue_event(hal_looper *looper, void *arg);
// arg: heap hal_looper_fd_handler; replaces fn/arg of an existing handler of
// the same socket (the passed record is freed) or appends it. 0.
int hal_looper_routine_add_reader(hal_looper *looper, void *arg);
int hal_looper_routine_add_writer(hal_looper *looper, void *arg);
// arg: the socket, as (void *)(intptr_t)fd. 1 when a handler was removed.
int hal_looper_routine_remove_reader(hal_looper *looper, void *arg);
int hal_looper_routine_remove_writer(hal_looper *looper, void *arg);
// Both of the above; the number removed (0, 1 or 2).
int hal_looper_routine_remove_fd(hal_looper *looper, void *arg);

// Wake-up pair: fds[0] is read by the looper, fds[1] written by others.
// 0, or -1 with fds untouched.
int hal_pipe(int fds[2]);
// 0, or the errno of the failing fcntl.
int hal_set_nonblock(int fd);
int hal_close_pipe(int fd);
long hal_write_pipe(int fd, const void *buf, unsigned long len);
long hal_read_pipe(int fd, void *buf, unsigned long len);

#ifdef __cplusplus
}
#endif

#endif
