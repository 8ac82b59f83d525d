#include "hal_log.h"

#include "hal_time.h"

#include <atomic>
#include <new>
#include <pthread.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>

struct hal_log {
    hal_ctx *ctx;
    pthread_mutex_t mutex;
    // Read without the mutex on every call (the cheap early drop), so atomic.
    std::atomic<int> threshold;
    FILE *file;
};

namespace
{

const char *priority_word(int priority)
{
    static const char *const words[] = {"VERBOSE", "VERBOSE", "VERBOSE", "DEBUG",
                                        "INFO",    "WARN",    "ERROR",   "FATAL"};
    return words[priority];
}

void write_line(FILE *out, int priority, const char *tag, const char *fmt, va_list ap)
{
    char stamp[32];
    if (!hal_walltime_string(stamp, sizeof stamp))
        stamp[0] = '\0';
    fprintf(out, "[%s] %s\t%s\t", priority_word(priority), stamp, tag);
    vfprintf(out, fmt, ap);
    fputc('\n', out);
    fflush(out);
}

} // namespace

hal_log *hal_log_new(hal_ctx *ctx)
{
    hal_log *log = new (std::nothrow) hal_log;
    if (!log)
        return nullptr;
    log->ctx = ctx;
    log->threshold.store(2);
    log->file = nullptr;
    pthread_mutex_init(&log->mutex, nullptr);
    return log;
}

void hal_log_destroy(hal_log **plog)
{
    if (!plog || !*plog)
        return;
    hal_log *log = *plog;
    if (log->file)
        fclose(log->file);
    pthread_mutex_destroy(&log->mutex);
    delete log;
    *plog = nullptr;
}

int hal_log_set_file(hal_log *log, const char *path)
{
    if (!log || !path)
        return -1;
    int rc = -1;
    pthread_mutex_lock(&log->mutex);
    if (!log->file) {
        log->file = fopen(path, "w");
        if (log->file)
            rc = 0;
    }
    pthread_mutex_unlock(&log->mutex);
    return rc;
}

int hal_log_set_priority(hal_log *log, int priority)
{
    if (!log || priority < 2 || priority > 8)
        return -1;
    pthread_mutex_lock(&log->mutex);
    log->threshold.store(priority);
    pthread_mutex_unlock(&log->mutex);
    return 0;
}

int hal_log_get_priority(const hal_log *log)
{
    return log ? log->threshold.load() : -1;
}

int hal_log_output(hal_log *log, int priority, const char *tag, const char *fmt, ...)
{
    if (!log || !tag || !fmt)
        return -1;
    if (priority < log->threshold.load())
        return 0;
    if (priority < 1 || priority > 7)
        return -1;
    pthread_mutex_lock(&log->mutex);
    va_list ap;
    if (log->file) {
        va_start(ap, fmt);
        write_line(log->file, priority, tag, fmt, ap);
        va_end(ap);
    }
    va_start(ap, fmt);
    write_line(stdout, priority, tag, fmt, ap);
    va_end(ap);
    pthread_mutex_unlock(&log->mutex);
    return 0;
}
