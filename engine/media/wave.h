// The engine's own small sound-device layer: 8000 Hz, 16-bit, mono PCM
// devices with caller-owned buffers that are queued to a device and handed
// back through a callback, one device thread per open device.
//
// Rules every backend keeps:
// - Callbacks (open, close, buffer done, data) run on the device's own
//   thread, never on the caller's, one at a time and in queue order.
// - Reset hands every queued buffer back through the callback before it
//   returns; close does the same, then joins the thread: no callback runs
//   after wave_close returns.
// - A callback may queue the next buffer but must not reset or close its own
//   device.
//
// Backends, chosen once per process from LIRKO_AUDIO (or by
// wave_set_backend in tests):
//   alsa (default)          ALSA "default" capture and playback
//   null                    ALSA "null": the real ALSA code with no hardware,
//                           paced by the wall clock
//   file:IN,OUT[,loop][,pump]
//                           capture from IN (WAV or raw 16-bit little-endian,
//                           8 kHz mono; looping, or silence after its end),
//                           playback appended to the WAV file OUT; paced in
//                           real time, or by wave_file_pump
#ifndef WAVE_H
#define WAVE_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define WAVE_RATE 8000
// Frames per device period (20 ms).
#define WAVE_PERIOD 160

// Stands in for "the wave mapper": the backend's default device.
#define WAVE_MAPPER (-1)

typedef enum wave_dir {
    WAVE_IN = 1,
    WAVE_OUT = 2,
} wave_dir;

// Callback messages.
enum {
    WAVE_MSG_OPEN = 1,
    WAVE_MSG_CLOSE = 2,
    // Output: the buffer has been played and belongs to the caller again.
    WAVE_MSG_DONE = 3,
    // Input: the buffer holds `recorded` bytes of capture (0 after a reset).
    WAVE_MSG_DATA = 4,
};

// Buffer flags.
enum {
    WAVE_HDR_PREPARED = 1,
    WAVE_HDR_INQUEUE = 2,
    WAVE_HDR_DONE = 4,
};

typedef struct wave_hdr {
    int16_t *data;         // caller's samples
    uint32_t size;         // bytes in data, a whole number of samples
    uint32_t recorded;     // input: bytes captured into data
    uint32_t flags;        // WAVE_HDR_*
    void *user;            // free for the caller
    struct wave_hdr *next; // the device's queue link while queued
} wave_hdr;

typedef struct wave_dev wave_dev;
typedef void (*wave_cb)(wave_dev *dev, uint32_t msg, void *instance, wave_hdr *hdr);

// Result codes beyond 0 / -1.
#define WAVE_EBUSY (-2)   // the buffer is still queued
#define WAVE_ENODEV (-3)  // no such device
#define WAVE_EFAILED (-4) // the device has failed and no longer moves data

// Number of devices of one direction (0 when there are none).
int wave_count(wave_dir dir);
// Name of device `index` (or of WAVE_MAPPER); 0, or -1 when it does not
// answer.
int wave_caps(wave_dir dir, int index, char *name, size_t size);

// Opens device `index` (or WAVE_MAPPER); 0 and *out set, or a negative code
// and *out NULL. The open callback follows on the device thread.
int wave_open(wave_dev **out, wave_dir dir, int index, wave_cb cb, void *instance);
// Resets the device, joins its thread (the close callback is the last one),
// releases it and clears the handle; NULL or a handle holding NULL: nothing.
void wave_close(wave_dev **dev);

int wave_prepare(wave_dev *dev, wave_hdr *hdr);
// WAVE_EBUSY while the buffer is queued.
int wave_unprepare(wave_dev *dev, wave_hdr *hdr);

// Output: queue a prepared buffer for playing.
int wave_write(wave_dev *dev, wave_hdr *hdr);
// Input: queue a prepared buffer for capture; capture runs between
// wave_start and wave_stop and fills queued buffers in order.
int wave_add_buffer(wave_dev *dev, wave_hdr *hdr);
int wave_start(wave_dev *dev);
int wave_stop(wave_dev *dev);
// Stops the device and hands every queued buffer back (input buffers with
// recorded = 0). Refused (-1) on the device's own thread.
int wave_reset(wave_dev *dev);

// The system beep: a sine burst of freq Hz for ms milliseconds played
// synchronously on a device of its own, so an open play path never makes it
// fail. 0 or -1.
int wave_beep(uint32_t freq, uint32_t ms);

// ---- Backend choice and the file backend's test controls ----------------

typedef enum wave_backend_kind {
    WAVE_BACKEND_ALSA = 0,
    WAVE_BACKEND_NULL = 1,
    WAVE_BACKEND_FILE = 2,
} wave_backend_kind;

typedef enum wave_pacing {
    WAVE_PACE_REALTIME = 0,
    // A period moves only against a credit given by wave_file_pump.
    WAVE_PACE_PUMPED = 1,
} wave_pacing;

// Failure injection of the file backend.
enum {
    WAVE_FAIL_NO_IN_DEVICE = 1,  // wave_count(WAVE_IN) is 0
    WAVE_FAIL_NO_OUT_DEVICE = 2, // wave_count(WAVE_OUT) is 0
    WAVE_FAIL_OPEN_IN = 4,       // opening an input fails
    WAVE_FAIL_OPEN_OUT = 8,      // opening an output fails
    WAVE_FAIL_WITHHOLD_IN = 16,  // queued input buffers are never filled
    WAVE_FAIL_WITHHOLD_OUT = 32, // written output buffers are never handed back
};

typedef struct wave_file_opts {
    char in_path[512];  // empty: capture gives silence
    char out_path[512]; // empty: playback is discarded
    uint8_t loop;       // restart the input at its end (else silence)
    wave_pacing pacing;
    uint32_t fail; // WAVE_FAIL_* bits
    // wave_write fails once this many writes have succeeded since the
    // options were set; -1: never.
    int32_t fail_write_after;
} wave_file_opts;

// The backend in use; decided from LIRKO_AUDIO on first use.
wave_backend_kind wave_backend(void);
// Test seam: switch the process to a backend. opts is used only by the file
// backend (NULL: no input, no output, real time). Affects devices opened
// afterwards; the output file is truncated when it is named anew.
int wave_set_backend(wave_backend_kind kind, const wave_file_opts *opts);
// Parses an LIRKO_AUDIO value; 0 or -1 when it is not understood.
int wave_parse_backend(const char *text, wave_backend_kind *kind, wave_file_opts *opts);

// File backend, pumped pacing: lets `periods` more periods move on every
// device of the directions in dir_mask (WAVE_IN | WAVE_OUT).
void wave_file_pump(uint32_t dir_mask, uint32_t periods);

typedef struct wave_file_stats {
    uint64_t in_periods;  // periods captured
    uint64_t out_samples; // samples appended to the output file
    uint32_t in_ends;     // times an input reached the end of its file
    uint32_t writes;      // successful wave_write calls
} wave_file_stats;
void wave_file_get_stats(wave_file_stats *out);

#ifdef __cplusplus
}
#endif

#endif
