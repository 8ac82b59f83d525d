#include "voice_file.h"

#include "aes.h"
#include "amr_frame.h"
#include "evrc_frame.h"
#include "evrc_packet.h"
#include "hal_log.h"
#include "list.h"

#include <opencore-amrnb/interf_dec.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

namespace
{

const char *k_tag = "voice_file";

// A growable byte buffer for joined records.
struct bytes {
    uint8_t *data = nullptr;
    size_t len = 0;
    size_t cap = 0;
    ~bytes()
    {
        free(data);
    }
    bool append(const uint8_t *p, size_t n)
    {
        if (len + n > cap) {
            size_t c = cap ? cap * 2 : 1024;
            while (c < len + n)
                c *= 2;
            uint8_t *d = (uint8_t *)realloc(data, c);
            if (!d)
                return false;
            data = d;
            cap = c;
        }
        if (n)
            memcpy(data + len, p, n);
        len += n;
        return true;
    }
};

int push_frame(list *out, uint16_t pt, const uint8_t *data, uint32_t size)
{
    hal_sound_frame *f = (hal_sound_frame *)malloc(sizeof(hal_sound_frame) + size);
    if (!f)
        return -1;
    f->pt = pt;
    f->size = (uint16_t)size;
    memcpy(f->data, data, size);
    if (list_push_back(out, f) != 0) {
        free(f);
        return -1;
    }
    return 0;
}

// Cuts a frame stream into frames {103, length - 2, codec packet}.
int cut_evrc_stream(const uint8_t *p, size_t len, list *out)
{
    size_t pos = 0;
    while (pos < len) {
        uint32_t n = evrc_stream_record_length(p[pos]);
        if (n == 0 || n > len - pos)
            return -1;
        if (push_frame(out, HAL_PT_EVRC, p + pos + 2, n - 2) != 0)
            return -1;
        pos += n;
    }
    return 0;
}

int cut_amr(const uint8_t *p, size_t len, list *out)
{
    size_t pos = 0;
    while (pos < len && p[pos] == 0)
        pos++;
    while (pos < len) {
        uint32_t n = amr_frame_size(p[pos]);
        if (n == 0 || n > len - pos)
            return -1;
        if (push_frame(out, HAL_PT_AMR, p + pos, n) != 0)
            return -1;
        pos += n;
    }
    return 0;
}

// Calls fn for every record from offset 32 until one runs past the end or
// is longer than a reader accepts; stops early when fn returns non-zero.
template <typename Fn> void walk_records(const uint8_t *data, size_t len, Fn fn)
{
    size_t pos = VOICE_FILE_HEADER_SIZE;
    while (len >= 2 && pos <= len - 2) {
        uint32_t n = (uint32_t)data[pos] << 8 | data[pos + 1];
        if (n > VOICE_FILE_RECORD_MAX || n > len - pos - 2)
            return;
        if (fn(data + pos + 2, n) != 0)
            return;
        pos += 2 + n;
    }
}

} // namespace

voice_file_kind voice_file_kind_of(const uint8_t *data, size_t len)
{
    if (!data || len < VOICE_FILE_HEADER_SIZE || memcmp(data, "KVMF", 4) != 0)
        return VOICE_FILE_NO_HEADER;
    uint32_t pt = (uint32_t)data[30] << 8 | data[31];
    return pt == VOICE_FILE_PT_AMR || pt == VOICE_FILE_PT_EVRC ? VOICE_FILE_ENCRYPTED
                                                               : VOICE_FILE_HEADER_PLAIN;
}

uint32_t voice_file_codec_of_path(const char *path)
{
    if (!path)
        return 0;
    const char *name = strrchr(path, '/');
    name = name ? name + 1 : path;
    const char *dot = strrchr(name, '.');
    if (dot && (strcasecmp(dot, ".evrc") == 0 || strcasecmp(dot, ".sevrc") == 0))
        return HAL_PT_EVRC;
    if (dot && (strcasecmp(dot, ".amr") == 0 || strcasecmp(dot, ".samr") == 0))
        return HAL_PT_AMR;
    // Any other name: the codec it mentions anywhere, EVRC first, as files
    // renamed by hand or by a download keep the word but not the extension.
    if (strstr(path, "evrc"))
        return HAL_PT_EVRC;
    if (strstr(path, "amr"))
        return HAL_PT_AMR;
    return 0;
}

static void put_be32(uint8_t *p, uint32_t v)
{
    p[0] = (uint8_t)(v >> 24);
    p[1] = (uint8_t)(v >> 16);
    p[2] = (uint8_t)(v >> 8);
    p[3] = (uint8_t)v;
}

void voice_file_header(uint8_t out[VOICE_FILE_HEADER_SIZE], uint32_t seconds, uint32_t uid,
                       uint32_t gid, uint16_t payload_type)
{
    memset(out, 0, VOICE_FILE_HEADER_SIZE);
    memcpy(out, "KVMF", 4);
    out[5] = 0x01;
    out[7] = 0x18;
    put_be32(out + 8, seconds);
    put_be32(out + 16, uid);
    put_be32(out + 24, gid);
    out[29] = 2;
    out[30] = (uint8_t)(payload_type >> 8);
    out[31] = (uint8_t)payload_type;
}

void voice_file_key(const char *key_text, uint8_t out[32])
{
    memset(out, 0, 32);
    if (!key_text)
        return;
    size_t n = strnlen(key_text, 64);
    memcpy(out, key_text, n < 32 ? n : 32);
}

int voice_file_seal(const uint8_t *plain, uint32_t len, const uint8_t key[32], uint8_t *out,
                    uint32_t out_size)
{
    uint32_t sealed = (len / AES_BLOCK_LEN + 1) * AES_BLOCK_LEN;
    if (!plain || !key || !out || len > 480 || out_size < 2 + sealed)
        return -1;
    int n = aes_ecb_encrypt_pkcs7(plain, (int)len, out + 2, key);
    if (n < 0)
        return -1;
    out[0] = (uint8_t)(n >> 8);
    out[1] = (uint8_t)n;
    return 2 + n;
}

int voice_file_open_record(const uint8_t *body, uint32_t len, const uint8_t key[32], uint8_t *plain)
{
    if (!body || !key || !plain || len == 0 || len % AES_BLOCK_LEN != 0 ||
        len > VOICE_FILE_RECORD_MAX)
        return -1;
    aes_key k;
    if (aes_set_decrypt_key(key, 256, &k) != 0)
        return -1;
    for (uint32_t i = 0; i < len; i += AES_BLOCK_LEN)
        aes_decrypt_block(body + i, plain + i, &k);
    uint32_t pad = plain[len - 1];
    if (pad < 1 || pad > AES_BLOCK_LEN)
        return -1;
    return (int)(len - pad);
}

int voice_file_frames(const uint8_t *data, size_t len, uint32_t codec, const uint8_t key[32],
                      list *out, hal_log *log)
{
    if (!out || (!data && len) || (codec != HAL_PT_EVRC && codec != HAL_PT_AMR))
        return -1;
    voice_file_kind kind = voice_file_kind_of(data, len);
    if (kind == VOICE_FILE_NO_HEADER) {
        int r = codec == HAL_PT_EVRC ? cut_evrc_stream(data, len, out) : cut_amr(data, len, out);
        hal_log_output(log, HAL_LOG_VERBOSE, k_tag, "%s totalframe count:%d",
                       codec == HAL_PT_EVRC ? "run_in_parse_evrc_frame" : "run_in_parse_amr_frame",
                       (int)list_count(out));
        return r;
    }
    bytes joined;
    bool failed = false;
    if (kind == VOICE_FILE_HEADER_PLAIN) {
        walk_records(data, len, [&](const uint8_t *body, uint32_t n) {
            failed = !joined.append(body, n);
            return failed ? -1 : 0;
        });
    } else {
        uint8_t plain[VOICE_FILE_RECORD_MAX];
        uint8_t stream[EVRC_STREAM_CAPACITY];
        walk_records(data, len, [&](const uint8_t *body, uint32_t n) {
            int p = voice_file_open_record(body, n, key, plain);
            if (p < 0) {
                hal_log_output(log, HAL_LOG_ERROR, k_tag, "padding_len error");
                return -1;
            }
            if (codec == HAL_PT_EVRC) {
                uint32_t s = evrc_packet_to_stream(plain, (uint32_t)p, stream);
                if (s == 0)
                    return -1;
                failed = !joined.append(stream, s);
            } else {
                failed = !joined.append(plain, (size_t)p);
            }
            return failed ? -1 : 0;
        });
    }
    if (failed)
        return -1;
    hal_log_output(log, HAL_LOG_VERBOSE, k_tag, "decrypt_file_data data_size %d kind %d",
                   (int)joined.len, (int)kind);
    int r = codec == HAL_PT_EVRC ? cut_evrc_stream(joined.data, joined.len, out)
                                 : cut_amr(joined.data, joined.len, out);
    hal_log_output(log, HAL_LOG_VERBOSE, k_tag, "%s totalframe count:%d",
                   codec == HAL_PT_EVRC ? "run_in_parse_evrc_frame_encrypt"
                                        : "run_in_parse_amr_frame",
                   (int)list_count(out));
    return r;
}

void voice_file_free_frames(list *frames)
{
    void *f;
    while (frames && (f = list_pop_front(frames)) != NULL)
        free(f);
}

int voice_file_decode(list *frames, void *file_out, hal_log *log)
{
    FILE *fp = (FILE *)file_out;
    if (!frames || !fp)
        return -1;
    evrc_decoder *evrc = NULL;
    void *amr = NULL;
    int result = 0;
    int decoded_frames = 0;
    int16_t pcm[160];
    for (list_node *n = list_begin(frames); n && result == 0; n = list_next(n)) {
        const hal_sound_frame *f = (const hal_sound_frame *)list_data_get(n);
        hal_log_output(log, HAL_LOG_VERBOSE, k_tag, "frame_size %d", (int)f->size);
        bool decoded = false;
        if (f->pt == HAL_PT_EVRC) {
            if (!evrc && !(evrc = evrc_decoder_new())) {
                result = -1;
                break;
            }
            decoded = evrc_decode_frame(evrc, f->data, f->size, pcm) == 160;
            if (!decoded)
                hal_log_output(log, HAL_LOG_ERROR, k_tag, "Decode evrc fail");
        } else {
            if (!amr && !(amr = Decoder_Interface_init())) {
                result = -1;
                break;
            }
            Decoder_Interface_Decode(amr, f->data, pcm, 0);
            decoded = true;
        }
        if (decoded && fwrite(pcm, sizeof(int16_t), 160, fp) != 160)
            result = -1;
        else if (decoded)
            decoded_frames++;
    }
    evrc_decoder_destroy(&evrc);
    if (amr)
        Decoder_Interface_exit(amr);
    return result == 0 ? decoded_frames : result;
}
