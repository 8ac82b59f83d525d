// The device object shared by every backend: its thread, its buffer queue,
// reset and close, and the choice of backend for the process.
#include "lirko_audio_device.h"
#include "wave_backend.h"

#include <errno.h>
#include <math.h>
#include <pthread.h>
#include <stdlib.h>
#include <string.h>

struct wave_dev {
    wave_dir dir;
    const wave_backend_ops *ops;
    void *impl;
    wave_cb cb;
    void *instance;

    pthread_t thread;
    pthread_mutex_t mu;
    pthread_cond_t cond; // on the monotonic clock
    // Queue of buffers owned by the device, oldest first. Guarded by mu.
    wave_hdr *head;
    wave_hdr *tail;
    uint8_t started;   // input: capture wanted
    uint8_t need_stop; // input: capture was stopped; the backend must hear of it
    uint8_t quit;
    uint8_t failed;
    uint32_t reset_req; // resets asked for
    uint32_t reset_ack; // resets done by the device thread
    uint32_t credits;   // pumped pacing
};

// ---- Backend choice -----------------------------------------------------

// Process-wide backend; decided once from LIRKO_AUDIO unless a test sets it.
// Guarded by g_wave_mu; read by any thread that opens a device.
static pthread_mutex_t g_wave_mu = PTHREAD_MUTEX_INITIALIZER;
static int g_wave_decided;
static wave_backend_kind g_wave_kind = WAVE_BACKEND_ALSA;

// Implemented by the file backend: takes new options for later opens.
void wave_file_configure(const wave_file_opts *opts);

static void bounded_copy(char *dst, size_t size, const char *src, size_t n)
{
    if (size == 0)
        return;
    if (n >= size)
        n = size - 1;
    memcpy(dst, src, n);
    dst[n] = '\0';
}

int wave_parse_backend(const char *text, wave_backend_kind *kind, wave_file_opts *opts)
{
    if (!kind || !opts)
        return -1;
    memset(opts, 0, sizeof(*opts));
    opts->fail_write_after = -1;
    if (!text || !*text || strcmp(text, "alsa") == 0) {
        *kind = WAVE_BACKEND_ALSA;
        return 0;
    }
    if (strcmp(text, "null") == 0) {
        *kind = WAVE_BACKEND_NULL;
        return 0;
    }
    if (strncmp(text, "file:", 5) != 0)
        return -1;
    *kind = WAVE_BACKEND_FILE;
    // Comma-separated: input, output, then flags.
    const char *p = text + 5;
    int field = 0;
    while (1) {
        const char *end = strchr(p, ',');
        size_t n = end ? (size_t)(end - p) : strlen(p);
        if (field == 0) {
            if (n >= sizeof(opts->in_path))
                return -1;
            bounded_copy(opts->in_path, sizeof(opts->in_path), p, n);
        } else if (field == 1) {
            if (n >= sizeof(opts->out_path))
                return -1;
            bounded_copy(opts->out_path, sizeof(opts->out_path), p, n);
        } else if (n == 4 && strncmp(p, "loop", 4) == 0) {
            opts->loop = 1;
        } else if (n == 4 && strncmp(p, "pump", 4) == 0) {
            opts->pacing = WAVE_PACE_PUMPED;
        } else if (n != 0) {
            return -1;
        }
        if (!end)
            break;
        p = end + 1;
        field++;
    }
    return 0;
}

static void wave_decide_locked(void)
{
    if (g_wave_decided)
        return;
    wave_backend_kind kind;
    wave_file_opts opts;
    // An unreadable value falls back to the real device rather than failing
    // every sound operation of the engine.
    if (wave_parse_backend(getenv("LIRKO_AUDIO"), &kind, &opts) != 0)
        (void)wave_parse_backend(NULL, &kind, &opts);
    g_wave_kind = kind;
    if (kind == WAVE_BACKEND_FILE)
        wave_file_configure(&opts);
    g_wave_decided = 1;
}

wave_backend_kind wave_backend(void)
{
    pthread_mutex_lock(&g_wave_mu);
    wave_decide_locked();
    wave_backend_kind kind = g_wave_kind;
    pthread_mutex_unlock(&g_wave_mu);
    return kind;
}

int wave_set_backend(wave_backend_kind kind, const wave_file_opts *opts)
{
    if (kind != WAVE_BACKEND_ALSA && kind != WAVE_BACKEND_NULL && kind != WAVE_BACKEND_FILE)
        return -1;
    wave_file_opts none;
    if (!opts) {
        memset(&none, 0, sizeof(none));
        none.fail_write_after = -1;
        opts = &none;
    }
    pthread_mutex_lock(&g_wave_mu);
    g_wave_kind = kind;
    g_wave_decided = 1;
    if (kind == WAVE_BACKEND_FILE)
        wave_file_configure(opts);
    pthread_mutex_unlock(&g_wave_mu);
    return 0;
}

static const wave_backend_ops *wave_ops(void)
{
    switch (wave_backend()) {
    case WAVE_BACKEND_NULL:
        return &wave_null_ops;
    case WAVE_BACKEND_FILE:
        return &wave_file_ops;
    default:
        return &wave_alsa_ops;
    }
}

// ---- Time ---------------------------------------------------------------

void wave_now(struct timespec *ts)
{
    clock_gettime(CLOCK_MONOTONIC, ts);
}

void wave_add_ns(struct timespec *ts, int64_t ns)
{
    int64_t total = (int64_t)ts->tv_nsec + ns;
    int64_t sec = total / 1000000000;
    total %= 1000000000;
    if (total < 0) {
        total += 1000000000;
        sec--;
    }
    ts->tv_sec += sec;
    ts->tv_nsec = (long)total;
}

int64_t wave_diff_ns(const struct timespec *a, const struct timespec *b)
{
    return ((int64_t)a->tv_sec - (int64_t)b->tv_sec) * 1000000000 +
           ((int64_t)a->tv_nsec - (int64_t)b->tv_nsec);
}

// ---- Device helpers for backends ----------------------------------------

wave_dir wave_dev_dir(const wave_dev *dev)
{
    return dev->dir;
}

void *wave_dev_impl(const wave_dev *dev)
{
    return dev->impl;
}

void wave_dev_set_impl(wave_dev *dev, void *impl)
{
    dev->impl = impl;
}

static int interrupted_locked(const wave_dev *dev)
{
    return dev->quit || dev->reset_req != dev->reset_ack || (dev->dir == WAVE_IN && !dev->started);
}

int wave_dev_interrupted(wave_dev *dev)
{
    pthread_mutex_lock(&dev->mu);
    int r = interrupted_locked(dev);
    pthread_mutex_unlock(&dev->mu);
    return r;
}

int wave_dev_wait_until(wave_dev *dev, const struct timespec *deadline)
{
    pthread_mutex_lock(&dev->mu);
    int r = 0;
    while (!(r = interrupted_locked(dev))) {
        if (!deadline) {
            pthread_cond_wait(&dev->cond, &dev->mu);
        } else if (pthread_cond_timedwait(&dev->cond, &dev->mu, deadline) == ETIMEDOUT) {
            break;
        }
    }
    pthread_mutex_unlock(&dev->mu);
    return r;
}

int wave_dev_take_credit(wave_dev *dev)
{
    pthread_mutex_lock(&dev->mu);
    int r = 0;
    while (!(r = interrupted_locked(dev)) && dev->credits == 0)
        pthread_cond_wait(&dev->cond, &dev->mu);
    if (!r)
        dev->credits--;
    pthread_mutex_unlock(&dev->mu);
    return r;
}

void wave_dev_add_credits(wave_dev *dev, uint32_t periods)
{
    pthread_mutex_lock(&dev->mu);
    uint64_t c = (uint64_t)dev->credits + periods;
    dev->credits = c > UINT32_MAX ? UINT32_MAX : (uint32_t)c;
    pthread_cond_broadcast(&dev->cond);
    pthread_mutex_unlock(&dev->mu);
}

// ---- The device thread --------------------------------------------------

static wave_hdr *pop_locked(wave_dev *dev)
{
    wave_hdr *h = dev->head;
    if (!h)
        return NULL;
    dev->head = h->next;
    if (!dev->head)
        dev->tail = NULL;
    h->next = NULL;
    h->flags = (h->flags & ~(uint32_t)WAVE_HDR_INQUEUE) | WAVE_HDR_DONE;
    return h;
}

// Hands one buffer back; drops the lock around the callback so that the
// callback can queue the next buffer.
static void give_back_locked(wave_dev *dev, wave_hdr *h)
{
    uint32_t msg = dev->dir == WAVE_IN ? WAVE_MSG_DATA : WAVE_MSG_DONE;
    pthread_mutex_unlock(&dev->mu);
    dev->cb(dev, msg, dev->instance, h);
    pthread_mutex_lock(&dev->mu);
}

static void *wave_thread(void *arg)
{
    wave_dev *dev = (wave_dev *)arg;
    dev->cb(dev, WAVE_MSG_OPEN, dev->instance, NULL);
    pthread_mutex_lock(&dev->mu);
    while (1) {
        if (dev->quit || dev->reset_req != dev->reset_ack) {
            int discard = dev->head != NULL;
            pthread_mutex_unlock(&dev->mu);
            dev->ops->stop(dev, discard);
            pthread_mutex_lock(&dev->mu);
            dev->need_stop = 0;
            // Only what was queued when the reset began goes back: a callback
            // that queues the buffer again must not make this loop endless.
            wave_hdr *h = dev->head;
            dev->head = dev->tail = NULL;
            while (h) {
                wave_hdr *next = h->next;
                h->next = NULL;
                h->flags = (h->flags & ~(uint32_t)WAVE_HDR_INQUEUE) | WAVE_HDR_DONE;
                h->recorded = 0;
                give_back_locked(dev, h);
                h = next;
            }
            if (dev->quit)
                break;
            dev->reset_ack = dev->reset_req;
            pthread_cond_broadcast(&dev->cond);
            continue;
        }
        if (dev->need_stop) {
            dev->need_stop = 0;
            pthread_mutex_unlock(&dev->mu);
            dev->ops->stop(dev, 1);
            pthread_mutex_lock(&dev->mu);
            continue;
        }
        if (dev->failed && dev->head) {
            // A failed device moves nothing, but the owner gets every buffer
            // back so its counts stay right.
            wave_hdr *h = pop_locked(dev);
            h->recorded = 0;
            give_back_locked(dev, h);
            continue;
        }
        if (!dev->head || dev->failed || (dev->dir == WAVE_IN && !dev->started)) {
            pthread_cond_wait(&dev->cond, &dev->mu);
            continue;
        }
        wave_hdr *h = dev->head;
        pthread_mutex_unlock(&dev->mu);
        int n = dev->ops->transfer(dev, h->data, h->size / 2);
        pthread_mutex_lock(&dev->mu);
        if (n == WAVE_EINTR)
            continue; // the buffer stays queued; the reset or close returns it
        if (n < 0) {
            dev->failed = 1;
            n = 0;
        }
        h = pop_locked(dev);
        h->recorded = dev->dir == WAVE_IN ? (uint32_t)n * 2 : 0;
        give_back_locked(dev, h);
    }
    pthread_mutex_unlock(&dev->mu);
    dev->cb(dev, WAVE_MSG_CLOSE, dev->instance, NULL);
    return NULL;
}

// ---- Public operations ----------------------------------------------------

int wave_count(wave_dir dir)
{
    if (dir != WAVE_IN && dir != WAVE_OUT)
        return 0;
    return wave_ops()->count(dir);
}

int wave_caps(wave_dir dir, int index, char *name, size_t size)
{
    if ((dir != WAVE_IN && dir != WAVE_OUT) || !name || size == 0)
        return -1;
    return wave_ops()->caps(dir, index, name, size);
}

int wave_open(wave_dev **out, wave_dir dir, int index, wave_cb cb, void *instance)
{
    if (!out)
        return -1;
    *out = NULL;
    if ((dir != WAVE_IN && dir != WAVE_OUT) || !cb)
        return -1;
    wave_dev *dev = (wave_dev *)calloc(1, sizeof(*dev));
    if (!dev)
        return -1;
    dev->dir = dir;
    dev->ops = wave_ops();
    dev->cb = cb;
    dev->instance = instance;
    pthread_mutex_init(&dev->mu, NULL);
    pthread_condattr_t ca;
    pthread_condattr_init(&ca);
    pthread_condattr_setclock(&ca, CLOCK_MONOTONIC);
    pthread_cond_init(&dev->cond, &ca);
    pthread_condattr_destroy(&ca);

    int rc = dev->ops->open(dev, index);
    if (rc == 0 && pthread_create(&dev->thread, NULL, wave_thread, dev) != 0) {
        dev->ops->close(dev);
        rc = -1;
    }
    if (rc != 0) {
        pthread_cond_destroy(&dev->cond);
        pthread_mutex_destroy(&dev->mu);
        free(dev);
        return rc;
    }
    *out = dev;
    return 0;
}

void wave_close(wave_dev **pdev)
{
    if (!pdev || !*pdev)
        return;
    wave_dev *dev = *pdev;
    // Joining itself would hang: a callback must not close its own device.
    if (pthread_equal(pthread_self(), dev->thread))
        return;
    pthread_mutex_lock(&dev->mu);
    dev->quit = 1;
    pthread_cond_broadcast(&dev->cond);
    pthread_mutex_unlock(&dev->mu);
    pthread_join(dev->thread, NULL);
    dev->ops->close(dev);
    pthread_cond_destroy(&dev->cond);
    pthread_mutex_destroy(&dev->mu);
    free(dev);
    *pdev = NULL;
}

// A buffer the device holds keeps its prepared mark until it comes back.
static int set_prepared(wave_dev *dev, wave_hdr *hdr, bool prepared)
{
    pthread_mutex_lock(&dev->mu);
    int rc = 0;
    if (hdr->flags & WAVE_HDR_INQUEUE)
        rc = WAVE_EBUSY;
    else if (prepared)
        hdr->flags |= WAVE_HDR_PREPARED;
    else
        hdr->flags &= ~(uint32_t)WAVE_HDR_PREPARED;
    pthread_mutex_unlock(&dev->mu);
    return rc;
}

int wave_prepare(wave_dev *dev, wave_hdr *hdr)
{
    if (!dev || !hdr || !hdr->data || hdr->size < 2)
        return -1;
    return set_prepared(dev, hdr, true);
}

int wave_unprepare(wave_dev *dev, wave_hdr *hdr)
{
    if (!dev || !hdr)
        return -1;
    return set_prepared(dev, hdr, false);
}

static int enqueue(wave_dev *dev, wave_hdr *hdr, wave_dir dir)
{
    if (!dev || !hdr || dev->dir != dir)
        return -1;
    pthread_mutex_lock(&dev->mu);
    int rc = 0;
    if (!(hdr->flags & WAVE_HDR_PREPARED))
        rc = -1;
    else if (hdr->flags & WAVE_HDR_INQUEUE)
        rc = WAVE_EBUSY;
    else if (dev->failed)
        rc = WAVE_EFAILED;
    else if (dev->quit)
        rc = -1;
    if (rc == 0 && dir == WAVE_OUT && dev->ops->write_check) {
        // Checked under the lock so a concurrent reset cannot slip between
        // the check and the queueing.
        rc = dev->ops->write_check(dev);
    }
    if (rc == 0) {
        hdr->flags = (hdr->flags & ~(uint32_t)WAVE_HDR_DONE) | WAVE_HDR_INQUEUE;
        hdr->recorded = 0;
        hdr->next = NULL;
        if (dev->tail)
            dev->tail->next = hdr;
        else
            dev->head = hdr;
        dev->tail = hdr;
        pthread_cond_broadcast(&dev->cond);
    }
    pthread_mutex_unlock(&dev->mu);
    return rc;
}

int wave_write(wave_dev *dev, wave_hdr *hdr)
{
    return enqueue(dev, hdr, WAVE_OUT);
}

int wave_add_buffer(wave_dev *dev, wave_hdr *hdr)
{
    return enqueue(dev, hdr, WAVE_IN);
}

int wave_start(wave_dev *dev)
{
    if (!dev || dev->dir != WAVE_IN)
        return -1;
    pthread_mutex_lock(&dev->mu);
    int rc = dev->failed ? WAVE_EFAILED : 0;
    if (rc == 0) {
        dev->started = 1;
        pthread_cond_broadcast(&dev->cond);
    }
    pthread_mutex_unlock(&dev->mu);
    return rc;
}

int wave_stop(wave_dev *dev)
{
    if (!dev || dev->dir != WAVE_IN)
        return -1;
    pthread_mutex_lock(&dev->mu);
    if (dev->started) {
        dev->started = 0;
        dev->need_stop = 1;
        pthread_cond_broadcast(&dev->cond);
    }
    pthread_mutex_unlock(&dev->mu);
    return 0;
}

int wave_reset(wave_dev *dev)
{
    if (!dev || pthread_equal(pthread_self(), dev->thread))
        return -1;
    pthread_mutex_lock(&dev->mu);
    dev->started = 0;
    uint32_t want = ++dev->reset_req;
    pthread_cond_broadcast(&dev->cond);
    while ((int32_t)(dev->reset_ack - want) < 0)
        pthread_cond_wait(&dev->cond, &dev->mu);
    pthread_mutex_unlock(&dev->mu);
    return 0;
}

int wave_beep(uint32_t freq, uint32_t ms)
{
    if (freq == 0 || freq >= WAVE_RATE / 2 || ms == 0 || ms > 10000)
        return -1;
    uint32_t n = (uint32_t)((uint64_t)WAVE_RATE * ms / 1000);
    int16_t *pcm = (int16_t *)malloc(n * sizeof(int16_t));
    if (!pcm)
        return -1;
    // Half scale, with 4 ms ramps so the burst does not click.
    const double amp = 16384.0;
    const uint32_t ramp = WAVE_RATE * 4 / 1000;
    for (uint32_t i = 0; i < n; i++) {
        double g = 1.0;
        if (i < ramp)
            g = (double)i / ramp;
        else if (n - 1 - i < ramp)
            g = (double)(n - 1 - i) / ramp;
        pcm[i] = (int16_t)lrint(amp * g * sin(2.0 * M_PI * freq * i / WAVE_RATE));
    }
    int rc = wave_ops()->beep(pcm, n);
    free(pcm);
    return rc;
}

int lirko_win_record_device_count(void)
{
    return wave_count(WAVE_IN);
}
