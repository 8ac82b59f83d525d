// Frames and packets of the voice streams: packing recorded frames into RTP
// packets, splitting received payloads into frames, erasure frames.
#include "rtp_stream.h"

#include "aes.h"
#include "amr_frame.h"
#include "evrc_packet.h"
#include "hal_ini.h"
#include "hal_string.h"
#include "list.h"
#include "rtp_stream_internal.h"

#include <math.h>
#include <stdlib.h>
#include <string.h>

static_assert(RTP_PAYLOAD_MAX % 16 == 0, "an encrypted payload is whole AES blocks");

namespace
{

const uint32_t k_samples_per_frame = 160;
const uint8_t k_amr_no_data = 0x7C; // frame type 15, quality bit set
const uint32_t k_evrc_erasure_size = 10;

void put_be16(uint8_t *p, uint32_t v)
{
    p[0] = (uint8_t)(v >> 8);
    p[1] = (uint8_t)v;
}

void put_be32(uint8_t *p, uint32_t v)
{
    put_be16(p, v >> 16);
    put_be16(p + 2, v);
}

// Length of the frame that starts at p with `left` bytes remaining, its
// leading header byte(s) included: AMR-NB by frame type, EVRC records by
// rate. 0 when the size is invalid or the frame runs past the end.
uint32_t record_length(uint32_t pt, const uint8_t *p, uint32_t left)
{
    uint32_t n = pt == HAL_PT_AMR ? amr_frame_size(p[0]) : evrc_stream_record_length(p[0]);
    return n > left ? 0 : n;
}

hal_sound_frame *new_frame(uint32_t pt, const uint8_t *data, uint32_t size)
{
    hal_sound_frame *f = (hal_sound_frame *)hal_malloc(4 + size);
    if (!f)
        return NULL;
    f->pt = (uint16_t)pt;
    f->size = (uint16_t)size;
    if (data)
        memcpy(f->data, data, size);
    else
        memset(f->data, 0, size);
    return f;
}

// Appends a frame to a queue; a failed allocation loses the frame.
void append(list *frames, hal_sound_frame *f)
{
    if (f && list_push_back(frames, f) != 0)
        hal_free(f);
}

// The plain payload of n frames taken from the queue (already removed);
// its length, or -1 when a frame is refused.
int build_payload(hal_sound_frame **taken, uint32_t n, uint32_t pt, uint8_t *payload)
{
    if (pt == HAL_PT_AMR) {
        uint32_t len = 0;
        for (uint32_t i = 0; i < n; i++) {
            // Below RTP_PAYLOAD_MAX so that the padded, encrypted form fits.
            if (len + taken[i]->size >= RTP_PAYLOAD_MAX)
                return -1;
            memcpy(payload + len, taken[i]->data, taken[i]->size);
            len += taken[i]->size;
        }
        return (int)len;
    }
    evrc_packet_writer w;
    if (!evrc_packet_writer_init(&w, payload, RTP_PAYLOAD_MAX, n))
        return -1;
    for (uint32_t i = 0; i < n; i++) {
        int code = evrc_size_to_rate(taken[i]->size);
        if (code < 0 || !evrc_packet_add_frame(&w, (uint32_t)code, taken[i]->data))
            return -1;
    }
    return (int)w.length;
}

} // namespace

rtp_fields rtp_header_fields(const rtp_header *header)
{
    // The layout of etpacket.h's rtp_header, read byte-wise so that this
    // layer does not depend on the protocol layer.
    uint8_t b[RTP_HEADER_SIZE];
    memcpy(b, header, sizeof(b));
    uint16_t seq;
    rtp_fields f;
    memcpy(&seq, b + 2, 2);
    memcpy(&f.ts, b + 4, 4);
    memcpy(&f.ssrc, b + 8, 4);
    f.pt = b[1] & 0x7Fu;
    f.seq = seq;
    return f;
}

int64_t rtp_payload_samples(uint32_t pt, const uint8_t *payload, uint32_t length)
{
    if ((pt != HAL_PT_AMR && pt != HAL_PT_EVRC) || !payload)
        return 0;
    int64_t samples = 0;
    for (uint32_t pos = 0; pos < length;) {
        uint32_t n = record_length(pt, payload + pos, length - pos);
        if (n == 0)
            return -1;
        pos += n;
        samples += k_samples_per_frame;
    }
    return samples;
}

int64_t rtp_ini_number(hal_ini *ini, const char *section, const char *key, int64_t def, int64_t lo,
                       int64_t hi, int *clamped)
{
    const char *v = ini ? hal_ini_find(ini, section, key) : NULL;
    double t = trunc(v ? strtod(v, NULL) : (double)def);
    // Bounded before the conversion: a huge or NaN value has no integer.
    int out = !(t >= (double)lo && t <= (double)hi);
    if (clamped)
        *clamped = out;
    if (out)
        return t > (double)hi ? hi : lo;
    return (int64_t)t;
}

hal_sound_frame *rtp_make_erasure_frame(uint32_t pt)
{
    if (pt == HAL_PT_AMR)
        return new_frame(pt, &k_amr_no_data, 1);
    if (pt == HAL_PT_EVRC)
        return new_frame(pt, NULL, k_evrc_erasure_size);
    return NULL;
}

hal_sound_frame *rtp_frame_copy(const hal_sound_frame *frame)
{
    return frame ? new_frame(frame->pt, frame->data, frame->size) : NULL;
}

void rtp_frame_queue_clear(list *frames)
{
    if (!frames)
        return;
    void *f;
    while ((f = list_pop_front(frames)) != NULL)
        hal_free(f);
}

int rtp_split_payload(list *frames, uint32_t pt, uint32_t reserved, const uint8_t *payload,
                      uint32_t length)
{
    (void)reserved;
    if (!frames || !payload || length == 0 || (pt != HAL_PT_AMR && pt != HAL_PT_EVRC))
        return -1;
    for (uint32_t pos = 0; pos < length;) {
        uint32_t n = record_length(pt, payload + pos, length - pos);
        if (n == 0) {
            rtp_frame_queue_clear(frames);
            return -1;
        }
        // AMR-NB frames keep their header byte; EVRC records lose their
        // [rate][size] pair.
        if (pt == HAL_PT_AMR)
            append(frames, new_frame(pt, payload + pos, n));
        else
            append(frames, new_frame(pt, payload + pos + 2, n - 2));
        pos += n;
    }
    return 0;
}

int rtp_pack_packet(list *frames, uint32_t most, uint32_t pt, uint32_t ts, uint32_t ssrc,
                    uint32_t seq, uint8_t *out, uint32_t is_encryp, const char *key)
{
    if (!frames || !out || most == 0 || list_count(frames) == 0 ||
        (pt != HAL_PT_AMR && pt != HAL_PT_EVRC))
        return -1;
    uint32_t n = (uint32_t)list_count(frames);
    if (n > most)
        n = most;
    if (pt == HAL_PT_EVRC && n > 255)
        n = 255;
    hal_sound_frame **taken = (hal_sound_frame **)hal_malloc(n * sizeof(*taken));
    if (!taken)
        return -1;
    for (uint32_t i = 0; i < n; i++)
        taken[i] = (hal_sound_frame *)list_pop_front(frames);

    uint8_t plain[RTP_PAYLOAD_MAX];
    int len = build_payload(taken, n, pt, plain);
    for (uint32_t i = 0; i < n; i++)
        hal_free(taken[i]);
    hal_free(taken);
    if (len < 0)
        return -1;

    uint32_t wire_pt = pt;
    if (is_encryp) {
        // The key field may hold fewer than 32 characters: the rest is zero.
        uint8_t k[AES_KEY_LEN] = {0};
        if (key)
            memcpy(k, key, strnlen(key, AES_KEY_LEN));
        len = aes_ecb_encrypt_pkcs7(plain, len, out + RTP_HEADER_SIZE, k);
        if (len < 0)
            return -1;
        wire_pt = pt == HAL_PT_AMR ? RTP_PT_AMR_ENCRYPTED : RTP_PT_EVRC_ENCRYPTED;
    } else {
        memcpy(out + RTP_HEADER_SIZE, plain, (size_t)len);
    }
    out[0] = 0x80;
    out[1] = (uint8_t)wire_pt;
    put_be16(out + 2, seq);
    put_be32(out + 4, ts);
    put_be32(out + 8, ssrc);
    return RTP_HEADER_SIZE + len;
}
