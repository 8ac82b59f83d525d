// Recorded-voice files of the own voice: the recorder that writes them, the
// playback through the sound device and the converter to raw PCM. The
// state lives in the engine's broadcast record (broadcast.h). Looper thread
// only.
#ifndef LIRKO_VOICE_FILE_H
#define LIRKO_VOICE_FILE_H

#include "broadcast.h"

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct lirko_t lirko_t;

// Longest full path of a recorded file, terminator included.
#define LIRKO_VOICE_FILE_PATH_MAX 256

// Starts recording the own voice into a new file in dir (named from the
// wall clock, its kind from the record codec and the own user's encryption)
// and writes the full path into out (out_size bytes). -1 for NULL
// arguments, a path that does not fit, a refused focus or device, or a file
// that cannot be made; nothing stays running then.
int lirko_start_record(lirko_t *engine, const char *dir, char *out, size_t out_size);
// Drains and stops the recording; cb(arg, 0) once the file is closed (at
// once when nothing records). 0, or -1 (cb not kept) when too many stops
// wait.
int lirko_stop_record(lirko_t *engine, broadcast_stop_cb cb, void *arg);
// 0 playing, -1 refused, unreadable or holding no frame, -2 when the name
// says neither codec (voice_file_codec_of_path).
int lirko_record_play_audio(lirko_t *engine, const char *path);
int lirko_record_stop_play_audio(lirko_t *engine);
// 0, -1 or -2 as playing. -1 also when the file cannot be cut whole or no
// frame decodes; the output appears only complete, by a rename, so a
// failure leaves no output file (an older one stays as it was).
int lirko_audio_coded_to_pcm(lirko_t *engine, const char *in_path, const char *out_path);
// 1 encrypted, 2 header with another payload type, 3 no header.
int is_encrypt_file(lirko_t *engine, const uint8_t *data, size_t len);

// The broadcast record is going away: ends recording and playback without
// calling anyone back but the stop waiters.
void lirko_voice_file_shutdown(broadcast_t *b);

#ifdef __cplusplus
}
#endif

#endif
