// File backend of the sound-device layer: capture from a WAV or raw file,
// playback appended to one WAV file shared by every output of the process,
// paced by the wall clock or by the test's pump, with failure injection.
#include "wave_backend.h"

#include <atomic>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace
{

struct file_dev {
    wave_dev *dev;
    wave_file_opts opts;
    int16_t *in; // whole input, host order
    size_t in_n;
    size_t pos;
    uint8_t ended;
    struct timespec due; // real-time pacing: end of the current period
    uint8_t due_valid;
    file_dev *next; // registry link
};

// Options and the registry of open devices (for pumping). Guarded by mu.
struct file_state {
    pthread_mutex_t mu = PTHREAD_MUTEX_INITIALIZER;
    wave_file_opts opts{};
    file_dev *devs = nullptr;
};

// The one output file. Guarded by its own mutex: device threads and beeps
// append to it. It is open only while an output device is (or a beep is
// written): once the last device closes the file is closed too, so an
// unloaded engine holds no descriptor on it, and the next device appends to
// it again (kept path and size, "r+b").
struct file_sink {
    pthread_mutex_t mu = PTHREAD_MUTEX_INITIALIZER;
    FILE *fp = nullptr;
    char path[512] = {0};
    uint32_t data_bytes = 0;
    bool resumable = false; // path and data_bytes describe a closed file of ours
};

// Process-wide state of the file backend (tests switch it between runs).
file_state g_file;
file_sink g_sink;
std::atomic<uint64_t> g_in_periods{0};
std::atomic<uint64_t> g_out_samples{0};
std::atomic<uint32_t> g_in_ends{0};
std::atomic<uint32_t> g_writes{0};

void put_le32(unsigned char *p, uint32_t v)
{
    p[0] = (unsigned char)v;
    p[1] = (unsigned char)(v >> 8);
    p[2] = (unsigned char)(v >> 16);
    p[3] = (unsigned char)(v >> 24);
}

void put_le16(unsigned char *p, uint16_t v)
{
    p[0] = (unsigned char)v;
    p[1] = (unsigned char)(v >> 8);
}

uint32_t get_le32(const unsigned char *p)
{
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

uint16_t get_le16(const unsigned char *p)
{
    return (uint16_t)(p[0] | p[1] << 8);
}

void wav_header(unsigned char h[44], uint32_t data_bytes)
{
    memcpy(h, "RIFF", 4);
    put_le32(h + 4, 36 + data_bytes);
    memcpy(h + 8, "WAVEfmt ", 8);
    put_le32(h + 16, 16);
    put_le16(h + 20, 1); // PCM
    put_le16(h + 22, 1); // mono
    put_le32(h + 24, WAVE_RATE);
    put_le32(h + 28, WAVE_RATE * 2);
    put_le16(h + 32, 2);
    put_le16(h + 34, 16);
    memcpy(h + 36, "data", 4);
    put_le32(h + 40, data_bytes);
}

// Opens the output file when the current options name one; 0 when there is
// nothing to open or it is open, -1 when it cannot be created.
int sink_open_locked(const char *path)
{
    if (!path[0])
        return 0;
    if (g_sink.fp && strcmp(g_sink.path, path) == 0)
        return 0;
    bool ours = !g_sink.fp && g_sink.resumable && strcmp(g_sink.path, path) == 0;
    if (ours) {
        g_sink.fp = fopen(path, "r+b");
        if (g_sink.fp) {
            g_sink.resumable = false;
            return 0;
        }
    }
    g_sink.resumable = false;
    if (g_sink.fp)
        fclose(g_sink.fp);
    g_sink.fp = fopen(path, "wb");
    g_sink.data_bytes = 0;
    if (!g_sink.fp && ours) {
        // Our file went with its folder (a test's: the backend is chosen
        // once per process). Playback is discarded, as it was into the
        // removed file while it was held open, rather than failing every
        // later device.
        g_sink.resumable = true;
        return 0;
    }
    g_sink.path[0] = '\0';
    if (!g_sink.fp)
        return -1;
    snprintf(g_sink.path, sizeof(g_sink.path), "%s", path);
    unsigned char h[44];
    wav_header(h, 0);
    if (fwrite(h, 1, sizeof(h), g_sink.fp) != sizeof(h) || fflush(g_sink.fp) != 0) {
        fclose(g_sink.fp);
        g_sink.fp = nullptr;
        return -1;
    }
    return 0;
}

int sink_open(const char *path)
{
    pthread_mutex_lock(&g_sink.mu);
    int rc = sink_open_locked(path);
    pthread_mutex_unlock(&g_sink.mu);
    return rc;
}

// Closes the output file when no device is open; g_file.mu held, so no
// device opens meanwhile. The file is complete on disk after every append.
void sink_release_unused_locked()
{
    if (g_file.devs)
        return;
    pthread_mutex_lock(&g_sink.mu);
    if (g_sink.fp) {
        fclose(g_sink.fp);
        g_sink.fp = nullptr;
        g_sink.resumable = true;
    }
    pthread_mutex_unlock(&g_sink.mu);
}

// Appends samples and rewrites the two sizes, so the file is a valid WAV
// after every append (a test may read it while the engine still runs).
void sink_append(const int16_t *pcm, uint32_t frames)
{
    pthread_mutex_lock(&g_sink.mu);
    if (g_sink.fp && frames) {
        unsigned char buf[2 * WAVE_PERIOD];
        uint32_t done = 0;
        int ok = fseek(g_sink.fp, 0, SEEK_END) == 0;
        while (ok && done < frames) {
            uint32_t n = frames - done < WAVE_PERIOD ? frames - done : WAVE_PERIOD;
            for (uint32_t i = 0; i < n; i++)
                put_le16(buf + 2 * i, (uint16_t)pcm[done + i]);
            ok = fwrite(buf, 2, n, g_sink.fp) == n;
            done += n;
        }
        if (ok) {
            g_sink.data_bytes += frames * 2;
            unsigned char sz[4];
            put_le32(sz, 36 + g_sink.data_bytes);
            ok = fseek(g_sink.fp, 4, SEEK_SET) == 0 && fwrite(sz, 1, 4, g_sink.fp) == 4;
            put_le32(sz, g_sink.data_bytes);
            ok = ok && fseek(g_sink.fp, 40, SEEK_SET) == 0 && fwrite(sz, 1, 4, g_sink.fp) == 4;
            ok = ok && fflush(g_sink.fp) == 0;
            g_out_samples += frames;
        }
    }
    pthread_mutex_unlock(&g_sink.mu);
}

// Reads a whole input: a WAV file of 8 kHz mono 16-bit PCM, or raw 16-bit
// little-endian samples. 0, or -1 when unreadable or of another format.
int load_input(const char *path, int16_t **out, size_t *count)
{
    *out = nullptr;
    *count = 0;
    FILE *fp = fopen(path, "rb");
    if (!fp)
        return -1;
    unsigned char *bytes = nullptr;
    size_t len = 0;
    int rc = -1;
    if (fseek(fp, 0, SEEK_END) == 0) {
        long size = ftell(fp);
        // Inputs are clips; refuse anything that could not be one.
        if (size >= 0 && size <= (64L << 20) && fseek(fp, 0, SEEK_SET) == 0) {
            len = (size_t)size;
            bytes = (unsigned char *)malloc(len ? len : 1);
            if (bytes && fread(bytes, 1, len, fp) == len)
                rc = 0;
        }
    }
    fclose(fp);
    if (rc != 0) {
        free(bytes);
        return -1;
    }
    const unsigned char *data = bytes;
    size_t data_len = len;
    if (len >= 12 && memcmp(bytes, "RIFF", 4) == 0 && memcmp(bytes + 8, "WAVE", 4) == 0) {
        rc = -1;
        int fmt_ok = 0;
        size_t off = 12;
        data = nullptr;
        while (off + 8 <= len) {
            uint32_t ck = get_le32(bytes + off + 4);
            const unsigned char *body = bytes + off + 8;
            size_t avail = len - off - 8;
            if (memcmp(bytes + off, "fmt ", 4) == 0) {
                fmt_ok = ck >= 16 && avail >= 16 && get_le16(body) == 1 &&
                         get_le16(body + 2) == 1 && get_le32(body + 4) == WAVE_RATE &&
                         get_le16(body + 14) == 16;
            } else if (memcmp(bytes + off, "data", 4) == 0) {
                data = body;
                data_len = ck < avail ? ck : avail;
                break;
            }
            if (ck > avail)
                break;
            off += 8 + ck + (ck & 1);
        }
        if (!fmt_ok || !data) {
            free(bytes);
            return -1;
        }
    }
    size_t n = data_len / 2;
    int16_t *pcm = (int16_t *)malloc(n ? n * sizeof(int16_t) : 1);
    if (!pcm) {
        free(bytes);
        return -1;
    }
    for (size_t i = 0; i < n; i++)
        pcm[i] = (int16_t)get_le16(data + 2 * i);
    free(bytes);
    *out = pcm;
    *count = n;
    return 0;
}

wave_file_opts current_opts()
{
    pthread_mutex_lock(&g_file.mu);
    wave_file_opts o = g_file.opts;
    pthread_mutex_unlock(&g_file.mu);
    return o;
}

int file_count(wave_dir dir)
{
    wave_file_opts o = current_opts();
    uint32_t none = dir == WAVE_IN ? WAVE_FAIL_NO_IN_DEVICE : WAVE_FAIL_NO_OUT_DEVICE;
    return (o.fail & none) ? 0 : 1;
}

int file_caps(wave_dir dir, int index, char *name, size_t size)
{
    if ((index != 0 && index != WAVE_MAPPER) || file_count(dir) == 0)
        return -1;
    snprintf(name, size, "%s", dir == WAVE_IN ? "file capture" : "file playback");
    return 0;
}

int file_open(wave_dev *dev, int index)
{
    wave_dir dir = wave_dev_dir(dev);
    if ((index != 0 && index != WAVE_MAPPER) || file_count(dir) == 0)
        return WAVE_ENODEV;
    file_dev *f = (file_dev *)calloc(1, sizeof(*f));
    if (!f)
        return -1;
    f->dev = dev;
    f->opts = current_opts();
    uint32_t fail = dir == WAVE_IN ? WAVE_FAIL_OPEN_IN : WAVE_FAIL_OPEN_OUT;
    int rc = (f->opts.fail & fail) ? -1 : 0;
    if (rc == 0 && dir == WAVE_IN && f->opts.in_path[0])
        rc = load_input(f->opts.in_path, &f->in, &f->in_n);
    // Opened and registered under one lock: a last device closing on another
    // thread must not close the file between the two.
    pthread_mutex_lock(&g_file.mu);
    if (rc == 0 && dir == WAVE_OUT)
        rc = sink_open(f->opts.out_path);
    if (rc == 0) {
        f->next = g_file.devs;
        g_file.devs = f;
    }
    pthread_mutex_unlock(&g_file.mu);
    if (rc != 0) {
        free(f->in);
        free(f);
        return -1;
    }
    wave_dev_set_impl(dev, f);
    return 0;
}

void file_close(wave_dev *dev)
{
    file_dev *f = (file_dev *)wave_dev_impl(dev);
    if (!f)
        return;
    pthread_mutex_lock(&g_file.mu);
    for (file_dev **pp = &g_file.devs; *pp; pp = &(*pp)->next) {
        if (*pp == f) {
            *pp = f->next;
            break;
        }
    }
    sink_release_unused_locked();
    pthread_mutex_unlock(&g_file.mu);
    free(f->in);
    free(f);
    wave_dev_set_impl(dev, nullptr);
}

// Waits for the end of the next period of `frames`; 1 when interrupted.
int pace(file_dev *f, uint32_t frames)
{
    if (f->opts.pacing == WAVE_PACE_PUMPED)
        return wave_dev_take_credit(f->dev);
    struct timespec now;
    wave_now(&now);
    // After a gap (or at the start) the device clock restarts from now, as
    // a real device's would after an underrun. Being a little late for a
    // period is no gap: the schedule keeps its pace, as a sound card's
    // clock does, instead of slipping by every wake-up's latency.
    if (!f->due_valid || wave_diff_ns(&now, &f->due) > wave_frames_ns(frames)) {
        f->due = now;
        f->due_valid = 1;
    }
    wave_add_ns(&f->due, wave_frames_ns(frames));
    return wave_dev_wait_until(f->dev, &f->due);
}

int file_transfer(wave_dev *dev, int16_t *pcm, uint32_t frames)
{
    file_dev *f = (file_dev *)wave_dev_impl(dev);
    wave_dir dir = wave_dev_dir(dev);
    uint32_t withhold = dir == WAVE_IN ? WAVE_FAIL_WITHHOLD_IN : WAVE_FAIL_WITHHOLD_OUT;
    if (f->opts.fail & withhold) {
        (void)wave_dev_wait_until(dev, nullptr);
        return WAVE_EINTR;
    }
    if (pace(f, frames))
        return WAVE_EINTR;
    if (dir == WAVE_OUT) {
        sink_append(pcm, frames);
        return (int)frames;
    }
    for (uint32_t i = 0; i < frames; i++) {
        if (f->pos >= f->in_n && f->opts.loop && f->in_n)
            f->pos = 0;
        if (f->pos < f->in_n) {
            pcm[i] = f->in[f->pos++];
        } else {
            pcm[i] = 0;
            if (!f->ended) {
                f->ended = 1;
                g_in_ends++;
            }
        }
    }
    // A file that ends exactly on a period boundary has ended too.
    if (!f->opts.loop && f->pos >= f->in_n && !f->ended) {
        f->ended = 1;
        g_in_ends++;
    }
    g_in_periods++;
    return (int)frames;
}

void file_stop(wave_dev *dev, int discard)
{
    (void)discard;
    file_dev *f = (file_dev *)wave_dev_impl(dev);
    f->due_valid = 0;
}

int file_write_check(wave_dev *dev)
{
    file_dev *f = (file_dev *)wave_dev_impl(dev);
    if (f->opts.fail_write_after >= 0 && g_writes.load() >= (uint32_t)f->opts.fail_write_after)
        return -1;
    g_writes++;
    return 0;
}

int file_beep(const int16_t *pcm, uint32_t frames)
{
    wave_file_opts o = current_opts();
    if (o.fail & WAVE_FAIL_NO_OUT_DEVICE)
        return -1;
    pthread_mutex_lock(&g_file.mu);
    int rc = sink_open(o.out_path);
    pthread_mutex_unlock(&g_file.mu);
    if (rc != 0)
        return -1;
    sink_append(pcm, frames);
    pthread_mutex_lock(&g_file.mu);
    sink_release_unused_locked();
    pthread_mutex_unlock(&g_file.mu);
    if (o.pacing == WAVE_PACE_REALTIME) {
        struct timespec ts = {0, 0};
        wave_add_ns(&ts, wave_frames_ns(frames));
        nanosleep(&ts, nullptr);
    }
    return 0;
}

} // namespace

const wave_backend_ops wave_file_ops = {
    file_count, file_caps,  file_open,        file_transfer,
    file_stop,  file_close, file_write_check, file_beep,
};

void wave_file_configure(const wave_file_opts *opts)
{
    pthread_mutex_lock(&g_file.mu);
    g_file.opts = *opts;
    g_file.opts.in_path[sizeof(g_file.opts.in_path) - 1] = '\0';
    g_file.opts.out_path[sizeof(g_file.opts.out_path) - 1] = '\0';
    pthread_mutex_unlock(&g_file.mu);
    // A newly named output starts empty; the old one is complete on disk.
    pthread_mutex_lock(&g_sink.mu);
    if (g_sink.fp)
        fclose(g_sink.fp);
    g_sink.fp = nullptr;
    g_sink.path[0] = '\0';
    g_sink.data_bytes = 0;
    g_sink.resumable = false;
    pthread_mutex_unlock(&g_sink.mu);
    g_writes = 0;
}

void wave_file_pump(uint32_t dir_mask, uint32_t periods)
{
    pthread_mutex_lock(&g_file.mu);
    for (file_dev *f = g_file.devs; f; f = f->next) {
        if (wave_dev_dir(f->dev) & dir_mask)
            wave_dev_add_credits(f->dev, periods);
    }
    pthread_mutex_unlock(&g_file.mu);
}

void wave_file_get_stats(wave_file_stats *out)
{
    if (!out)
        return;
    out->in_periods = g_in_periods.load();
    out->out_samples = g_out_samples.load();
    out->in_ends = g_in_ends.load();
    out->writes = g_writes.load();
}
