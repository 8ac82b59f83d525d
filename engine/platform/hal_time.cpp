#include "hal_time.h"

#include <atomic>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

namespace
{

// The manual clock of the tests. Read on every looper cycle, so lock-free.
std::atomic<bool> g_fake_on{false};
std::atomic<uint64_t> g_fake_ms{0};

struct watcher {
    hal_clock_wake_fn fn;
    void *arg;
};

// Registered loopers; any thread may change the clock, loopers come and go.
pthread_mutex_t g_watch_lock = PTHREAD_MUTEX_INITIALIZER;
watcher *g_watchers = nullptr;
size_t g_watch_count = 0;
size_t g_watch_cap = 0;

void wake_watchers()
{
    pthread_mutex_lock(&g_watch_lock);
    for (size_t i = 0; i < g_watch_count; i++)
        g_watchers[i].fn(g_watchers[i].arg);
    pthread_mutex_unlock(&g_watch_lock);
}

uint64_t real_ms()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (uint64_t)ts.tv_sec * 1000u + (uint64_t)ts.tv_nsec / 1000000u;
}

} // namespace

uint64_t hal_clock_ms(void)
{
    if (g_fake_on.load(std::memory_order_acquire))
        return g_fake_ms.load(std::memory_order_acquire);
    return real_ms();
}

double hal_time_now(void)
{
    uint64_t ms = hal_clock_ms();
    return (double)(ms % 1000) * 0.001 + (double)(ms / 1000) + 500.0;
}

void hal_clock_fake_enable(uint64_t start_ms)
{
    g_fake_ms.store(start_ms, std::memory_order_release);
    g_fake_on.store(true, std::memory_order_release);
    wake_watchers();
}

void hal_clock_fake_advance(uint64_t ms)
{
    g_fake_ms.fetch_add(ms, std::memory_order_acq_rel);
    wake_watchers();
}

void hal_clock_fake_disable(void)
{
    g_fake_on.store(false, std::memory_order_release);
    wake_watchers();
}

int hal_clock_watch(hal_clock_wake_fn fn, void *arg)
{
    if (!fn)
        return -1;
    int rc = 0;
    pthread_mutex_lock(&g_watch_lock);
    if (g_watch_count == g_watch_cap) {
        size_t cap = g_watch_cap ? g_watch_cap * 2 : 8;
        watcher *w = (watcher *)realloc(g_watchers, cap * sizeof(*w));
        if (w) {
            g_watchers = w;
            g_watch_cap = cap;
        } else {
            rc = -4;
        }
    }
    if (rc == 0)
        g_watchers[g_watch_count++] = watcher{fn, arg};
    pthread_mutex_unlock(&g_watch_lock);
    return rc;
}

void hal_clock_unwatch(hal_clock_wake_fn fn, void *arg)
{
    pthread_mutex_lock(&g_watch_lock);
    for (size_t i = 0; i < g_watch_count; i++) {
        if (g_watchers[i].fn == fn && g_watchers[i].arg == arg) {
            memmove(&g_watchers[i], &g_watchers[i + 1],
                    (g_watch_count - i - 1) * sizeof(g_watchers[0]));
            g_watch_count--;
            break;
        }
    }
    if (g_watch_count == 0) {
        free(g_watchers);
        g_watchers = nullptr;
        g_watch_cap = 0;
    }
    pthread_mutex_unlock(&g_watch_lock);
}

int hal_walltime_now(hal_walltime *out)
{
    if (!out)
        return -1;
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    struct tm tm;
    localtime_r(&ts.tv_sec, &tm);
    out->year = (uint16_t)(tm.tm_year + 1900);
    out->month = (uint8_t)(tm.tm_mon + 1);
    out->day = (uint8_t)tm.tm_mday;
    out->hour = (uint8_t)tm.tm_hour;
    out->minute = (uint8_t)tm.tm_min;
    out->second = (uint8_t)tm.tm_sec;
    out->millisecond = (uint16_t)(ts.tv_nsec / 1000000);
    return 0;
}

char *hal_walltime_string(char *buf, uint32_t size)
{
    if (!buf || size == 0)
        return nullptr;
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    struct tm tm;
    localtime_r(&ts.tv_sec, &tm);
    char date[32];
    size_t n = strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S", &tm);
    if (n == 0)
        return nullptr;
    int len = snprintf(buf, size, "%s.%.03ld", date, (long)(ts.tv_nsec / 1000000));
    if (len < 0 || (uint32_t)len >= size)
        return nullptr;
    return buf;
}
