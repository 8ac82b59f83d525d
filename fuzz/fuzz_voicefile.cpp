// Fuzzes the recorded-voice file reader and the converter's decoding step
// with the four kinds of file: plain AMR-NB and EVRC as they stand, and
// files with the "KVMF" header whose records are plain or sealed with a key.
//
// Input: one mode byte, then the file. Mode bit 0: EVRC (else AMR-NB); bit 1:
// the reader gets a key (else the empty key of a user without one); bits 2-3:
// 0 the rest is the file as it stands, 1 the rest is cut into records
// (a length byte, then that many bytes) and written behind a plain header,
// 2 the same records sealed with the key behind an encrypted header, so the
// fuzzer reaches the decrypted content without forging ciphertext.
#include "hal_dsp.h"
#include "list.h"
#include "voice_file.h"

#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <vector>

namespace
{

void check(bool ok)
{
    if (!ok)
        __builtin_trap();
}

std::vector<uint8_t> build(const uint8_t *data, size_t size, uint16_t header_pt, bool seal,
                           const uint8_t key[32])
{
    std::vector<uint8_t> file(VOICE_FILE_HEADER_SIZE);
    voice_file_header(file.data(), 1, 2, 3, header_pt);
    size_t pos = 0;
    while (pos < size) {
        size_t n = data[pos++];
        if (n > size - pos)
            n = size - pos;
        uint8_t record[2 + 512];
        if (seal) {
            int r = voice_file_seal(data + pos, (uint32_t)n, key, record, sizeof(record));
            check(r == 2 + (int)(n / 16 + 1) * 16);
            // What was sealed opens to the same bytes.
            uint8_t plain[512];
            check(voice_file_open_record(record + 2, (uint32_t)r - 2, key, plain) == (int)n);
            check(memcmp(plain, data + pos, n) == 0);
            file.insert(file.end(), record, record + r);
        } else {
            file.push_back(0);
            file.push_back((uint8_t)n);
            file.insert(file.end(), data + pos, data + pos + n);
        }
        pos += n;
    }
    return file;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static FILE *sink = fopen("/dev/null", "wb");
    if (size < 1 || !sink)
        return 0;
    uint8_t mode = data[0];
    data++;
    size--;
    uint32_t codec = mode & 1 ? HAL_PT_EVRC : HAL_PT_AMR;
    uint8_t key[32];
    voice_file_key((mode & 2) ? "0123456789abcdefghijklmnopqrstuvwxyz" : NULL, key);

    std::vector<uint8_t> file;
    switch ((mode >> 2) & 3) {
    case 1:
        file = build(data, size, (uint16_t)codec, false, key);
        break;
    case 2:
        file = build(data, size, codec == HAL_PT_EVRC ? VOICE_FILE_PT_EVRC : VOICE_FILE_PT_AMR,
                     true, key);
        break;
    default:
        file.assign(data, data + size);
        break;
    }

    list *frames = list_new();
    if (!frames)
        return 0;
    int r = voice_file_frames(file.data(), file.size(), codec, key, frames, NULL);
    check(r == 0 || r == -1);
    for (list_node *n = list_begin(frames); n; n = list_next(n)) {
        const hal_sound_frame *f = (const hal_sound_frame *)list_data_get(n);
        check(f->pt == codec);
        check(f->size <= VOICE_FILE_RECORD_MAX);
    }
    // Never more frames decoded than were cut, and the sink never fails.
    int decoded = voice_file_decode(frames, sink, NULL);
    check(decoded >= 0 && (uint64_t)decoded <= list_count(frames));
    voice_file_free_frames(frames);
    list_del(frames);
    return 0;
}
