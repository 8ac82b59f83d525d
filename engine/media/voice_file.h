// Recorded-voice files: their bytes, without the engine around them.
//
// Kinds: ".amr" (AMR-NB storage frames back to back, no magic), ".evrc"
// (an EVRC frame stream, evrc_packet.h), ".samr" and ".sevrc" (the 32-byte
// "KVMF" header, then records of a u16 big-endian length and a frame
// encrypted with AES-256-ECB/PKCS#7). A header whose payload type is neither
// 111 nor 113 marks plain content cut into records.
//
// Everything here works on a buffer the caller holds and checks the bytes
// left before each read.
#ifndef VOICE_FILE_H
#define VOICE_FILE_H

#include "hal_dsp.h"

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct hal_log hal_log;
typedef struct list list;

#define VOICE_FILE_HEADER_SIZE 32
// Longest record a reader accepts.
#define VOICE_FILE_RECORD_MAX 512
// Encrypted payload types of the header.
#define VOICE_FILE_PT_AMR 111
#define VOICE_FILE_PT_EVRC 113

typedef enum voice_file_kind {
    VOICE_FILE_ENCRYPTED = 1,    // header with payload type 111 or 113
    VOICE_FILE_HEADER_PLAIN = 2, // header with another payload type
    VOICE_FILE_NO_HEADER = 3,
} voice_file_kind;

// Kind of len bytes of a file: a header needs all 32 bytes.
voice_file_kind voice_file_kind_of(const uint8_t *data, size_t len);

// The codec a path names: by the extension of its last component, 103 for
// ".evrc" and ".sevrc", 101 for ".amr" and ".samr" (any case); for another
// extension or none, 103 when the path holds "evrc" anywhere, else 101 when
// it holds "amr"; else 0.
uint32_t voice_file_codec_of_path(const char *path);

// The 32-byte header: "KVMF", 00 01 00 18, time, 0, uid, 0, gid, 0, 2,
// payload type (big-endian).
void voice_file_header(uint8_t out[VOICE_FILE_HEADER_SIZE], uint32_t seconds, uint32_t uid,
                       uint32_t gid, uint16_t payload_type);

// The AES-256 key of an own key string: zero-padded to 64 bytes, the first
// 32 of them.
void voice_file_key(const char *key_text, uint8_t out[32]);

// Encrypts len bytes (at most 480) into one record at out (u16 length, then
// the ciphertext): the record's size, or -1.
int voice_file_seal(const uint8_t *plain, uint32_t len, const uint8_t key[32], uint8_t *out,
                    uint32_t out_size);

// Decrypts one record body into plain (room for len bytes): the plaintext
// length, or -1 for a length that is not a whole number of blocks, is above
// 512, or whose padding is not 1..16.
int voice_file_open_record(const uint8_t *body, uint32_t len, const uint8_t key[32],
                           uint8_t *plain);

// The frames of a file as hal_sound_frames (malloc'd each) appended to out,
// in order: the codec's content, after the header's records are decrypted
// (kind 1) or joined (kind 2). Zero bytes before the first AMR-NB frame are
// skipped. Decryption stops quietly at a bad record or one past the end
// (the frames before it stay). 0, or -1 when the content cannot be cut
// (invalid rate or frame type, a frame past the end) or memory runs out;
// the frames cut before the fault are in out either way.
int voice_file_frames(const uint8_t *data, size_t len, uint32_t codec, const uint8_t key[32],
                      list *out, hal_log *log);
// Frees every frame in the list (not the list).
void voice_file_free_frames(list *frames);

// Decodes the frames into raw 16-bit PCM appended to out (fopen'd by the
// caller), with a decoder of its own: 160 samples per frame that decodes.
// The number of frames decoded (0 or more), or -1 when a decoder cannot be
// made or the output cannot be written.
int voice_file_decode(list *frames, void *file_out, hal_log *log);

#ifdef __cplusplus
}
#endif

#endif
