// Broadcasts and recorded voice: the engine's broadcast record.
//
// Broadcasts are the newsheet entries of the directory cache. The player
// plays new ones one after another as they arrive (text: handed to the
// sound queue's text-to-speech; media: RTP packets of EVRC or AMR-NB fed to
// the device every 0.2 s); the recorder records a voice broadcast into
// memory, replays it to its author and sends it; text broadcasts are sent
// as they are. The same record keeps the recorded-voice file recorder and
// the file playback (lirko_voice_file.h), which share the device with it.
//
// Made by the engine's module set-up; looper thread only.
#ifndef BROADCAST_H
#define BROADCAST_H

#include "cache.h"
#include "lirko_win.h"

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct lirko_t lirko_t;
typedef struct hal_log hal_log;
typedef struct hal_looper hal_looper;
typedef struct hal_sound hal_sound;
typedef struct list list;
typedef struct list_node list_node;

// Completion of a stop request: result 0 when the recorder has stopped.
typedef void (*broadcast_stop_cb)(void *arg, int result);

// Stop requests waiting for one recorder to end; each is told once.
#define BROADCAST_STOP_WAITERS 8
typedef struct broadcast_stop_waiters {
    struct {
        broadcast_stop_cb cb;
        void *arg;
    } w[BROADCAST_STOP_WAITERS];
    uint32_t count;
} broadcast_stop_waiters;

// Player states.
enum {
    BROADCAST_IDLE = 0,
    BROADCAST_FOCUS_REQUESTED = 1,
    BROADCAST_MARKED = 2, // the voice session gave up its talk for it
    BROADCAST_PLAYING = 3,
};

// The own-voice file being recorded.
typedef struct voice_file_recorder {
    uint8_t encrypt_on;
    char key[CACHE_KEY_SIZE + 1];
    uint8_t aes[32];
    uint8_t packet[512];
    FILE *file;
    uint32_t codec;     // 101 or 103
    uint32_t record_id; // the sound queue's record action it reads
    uint8_t active;     // the writer runs (until its action ends)
    broadcast_stop_waiters stop;
} voice_file_recorder;

typedef struct broadcast_t {
    lirko_t *engine;
    hal_log *log;
    hal_looper *looper;
    hal_sound *sound;
    uint32_t current_id;
    uint32_t pending;
    // The media being played: the player's own copy, so the cache may drop
    // the entry meanwhile.
    uint8_t *media;
    size_t media_pos;
    size_t media_len;
    list *recorded; // hal_sound_frame copies of a recorded voice broadcast
    list_node *replay_cursor;
    broadcast_stop_waiters record_stop;
    lirko_play_stop_cb replay_stop;
    uint32_t replaying;
    uint32_t state;
    uint32_t stream_len;
    uint8_t stream[512];
    // The broadcast recorder's record action, while its reader runs.
    uint32_t record_id;
    uint8_t recording;
    voice_file_recorder file;
    list *play_frames;    // frames of the recorded-voice file still to play
    uint8_t file_playing; // from its start until its end is told
} broadcast_t;

// Subscribes broadcast_update then broadcast_startplay; NULL when either
// subscription (or memory) fails.
broadcast_t *broadcast_new(lirko_t *engine);
// Stops what still runs, frees everything and clears the handle.
void broadcast_destroy(broadcast_t **broadcast);
// Number of received broadcasts still waiting to be played.
uint32_t broadcast_pending_count(const broadcast_t *broadcast);
// The voice session gave up its own talk while the player waited for the
// focus: state 1 becomes 2 and the broadcast is played once the session
// has stopped (broadcast_startplay is posted).
void broadcast_mark_by_session(broadcast_t *broadcast);
// Plays the newsheet with that id now (the player's focus is the
// caller's to have taken); 0, or -1 when it cannot be played.
int broadcast_start_play(broadcast_t *broadcast, uint32_t id);
// Stops the player: its timers, its sound and its focus; state 0 and
// nothing pending, so nothing more plays until the next update.
void broadcast_stop(broadcast_t *broadcast);

// Converts text (system code page) to UTF-8, cut at 255 bytes on a
// character boundary, and sends it; the send result, -1 for bad arguments.
int lirko_broadcast_send_text(lirko_t *engine, const char *text, const uint32_t *uids,
                              uint32_t count);
int lirko_broadcast_start_record(lirko_t *engine);
// cb(arg, 0) once the last frames are in; at once when nothing records.
// 0, or -1 (cb not kept) when too many stops wait.
int lirko_broadcast_stop_record(lirko_t *engine, broadcast_stop_cb cb, void *arg);
int lirko_broadcast_play_recordaudio(lirko_t *engine, lirko_play_stop_cb on_stop);
// Sends the recording; it is freed only when the send was queued (0).
int lirko_broadcast_send_recordaudio(lirko_t *engine, const uint32_t *uids, uint32_t count);
int lirko_send_mms(lirko_t *engine, const uint8_t *data, uint32_t length, const char *type_name);

// Shared with the file recorder: tells every waiter once.
void broadcast_stop_waiters_finish(broadcast_stop_waiters *w, int result);
int broadcast_stop_waiters_add(broadcast_stop_waiters *w, broadcast_stop_cb cb, void *arg);
// [broadcast] broadcastprior; def when missing.
int32_t broadcast_priority(lirko_t *engine, int32_t def);

#ifdef __cplusplus
}
#endif

#endif
