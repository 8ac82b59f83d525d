// Writes the seed corpora of the voice, voice-file and message targets from
// real coded speech and schema messages:
//   ninja -C build-fuzz fuzz_make_seeds
//   ASAN_OPTIONS=detect_leaks=0 build-fuzz/fuzz_make_seeds \
//       tests/fixtures/audio/speech_near_8k.wav fuzz/seeds
// Not part of the fuzz run itself; the seeds it wrote are in the repository.
#include "aes.h"
#include "connection.h"
#include "dispatcher.h"
#include "etpacket.h"
#include "etpacket_registry.h"
#include "evrc_frame.h"
#include "evrc_packet.h"
#include "hal_dsp.h"
#include "lirko.h"
#include "ptt_net.pb-c.h"
#include "ptt_push.pb-c.h"
#include "stage.h"
#include "voice_file.h"

#include <opencore-amrnb/interf_enc.h>
#include <protobuf-c/protobuf-c.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <vector>

using bytes = std::vector<uint8_t>;

namespace
{

std::string g_out;

void put(const std::string &target, const std::string &name, const bytes &b)
{
    std::string path = g_out + "/" + target + "/" + name;
    FILE *f = fopen(path.c_str(), "wb");
    if (!f || fwrite(b.data(), 1, b.size(), f) != b.size() || fclose(f) != 0) {
        perror(path.c_str());
        exit(1);
    }
}

std::vector<std::vector<int16_t>> read_speech(const char *wav, int frames)
{
    FILE *f = fopen(wav, "rb");
    if (!f) {
        perror(wav);
        exit(1);
    }
    fseek(f, 44, SEEK_SET);
    // Skip the first half second of near silence.
    fseek(f, 8000, SEEK_CUR);
    std::vector<std::vector<int16_t>> out;
    for (int i = 0; i < frames; i++) {
        std::vector<int16_t> pcm(160);
        if (fread(pcm.data(), 2, 160, f) != 160)
            break;
        out.push_back(pcm);
    }
    fclose(f);
    return out;
}

// AMR-NB storage frames (header byte first), alternating two modes.
std::vector<bytes> amr_frames(const std::vector<std::vector<int16_t>> &speech)
{
    void *enc = Encoder_Interface_init(1);
    std::vector<bytes> out;
    int i = 0;
    for (auto pcm : speech) {
        uint8_t buf[64];
        int n = Encoder_Interface_Encode(enc, i++ % 7 == 0 ? MR475 : MR122, pcm.data(), buf, 0);
        out.emplace_back(buf, buf + n);
    }
    Encoder_Interface_exit(enc);
    return out;
}

// EVRC codec packets of 2, 10 or 22 bytes.
std::vector<bytes> evrc_frames(const std::vector<std::vector<int16_t>> &speech)
{
    evrc_encoder *enc = evrc_encoder_new();
    std::vector<bytes> out;
    for (auto pcm : speech) {
        uint8_t buf[32];
        int rate = evrc_encode_frame(enc, pcm.data(), buf);
        int size = rate == 4 ? 22 : rate == 3 ? 10 : 2;
        out.emplace_back(buf, buf + size);
    }
    evrc_encoder_destroy(&enc);
    return out;
}

bytes evrc_packet(const std::vector<bytes> &frames, size_t first, size_t count)
{
    uint8_t buf[EVRC_PACKET_CAPACITY];
    evrc_packet_writer w;
    evrc_packet_writer_init(&w, buf, sizeof(buf), (uint32_t)count);
    for (size_t i = first; i < first + count; i++)
        evrc_packet_add_frame(&w, (uint32_t)evrc_size_to_rate((uint32_t)frames[i].size()),
                              frames[i].data());
    return bytes(buf, buf + w.length);
}

bytes concat(const std::vector<bytes> &frames, size_t first, size_t count)
{
    bytes out;
    for (size_t i = first; i < first + count; i++)
        out.insert(out.end(), frames[i].begin(), frames[i].end());
    return out;
}

bytes rtp(uint8_t pt, uint16_t seq, uint32_t ts, uint32_t ssrc, const bytes &payload)
{
    bytes p = {0x80, pt, (uint8_t)(seq >> 8), (uint8_t)seq};
    for (uint32_t v : {ts, ssrc})
        for (int s = 24; s >= 0; s -= 8)
            p.push_back((uint8_t)(v >> s));
    p.insert(p.end(), payload.begin(), payload.end());
    return p;
}

// ---- voice target ---------------------------------------------------------

void op_datagram(bytes &in, const bytes &d, bool seal)
{
    if (d.size() < 256) {
        in.push_back(seal ? 1 : 0);
        in.push_back((uint8_t)d.size());
    } else {
        in.push_back(3);
        in.push_back((uint8_t)(d.size() >> 8));
        in.push_back((uint8_t)d.size());
    }
    in.insert(in.end(), d.begin(), d.end());
}

void op_wait(bytes &in, int ms)
{
    in.push_back((uint8_t)(ms / 10 * 4 + 2));
}

bytes signalling(const etpacket *codec, const ProtobufCMessage *m, uint32_t ssrc)
{
    uint8_t *frame = NULL;
    int32_t n = etpacket_pack(codec, &frame, m, 1);
    bytes d = rtp(100, 0, 0, ssrc, bytes(frame, frame + (n > 0 ? n : 0)));
    free(frame);
    return d;
}

void voice_seeds(const std::vector<bytes> &amr, const std::vector<bytes> &evrc,
                 const etpacket *codec)
{
    const uint32_t speaker = 3003;
    struct kind {
        const char *name;
        uint8_t mode;
        uint8_t pt;
        bool seal;
    } kinds[] = {
        {"evrc", 0, 103, false},
        {"amr", 4, 101, false},
        {"evrc_sealed", 1, 113, true},
        {"amr_sealed", 5, 111, true},
        {"evrc_full_duplex", 2, 103, false},
    };
    for (const kind &k : kinds) {
        bytes in = {k.mode};
        size_t packets = (k.pt == 101 || k.pt == 111 ? amr.size() : evrc.size()) / 5;
        for (size_t i = 0; i < packets && i < 8; i++) {
            bytes payload =
                k.pt == 101 || k.pt == 111 ? concat(amr, i * 5, 5) : evrc_packet(evrc, i * 5, 5);
            op_datagram(in,
                        rtp(k.pt, (uint16_t)(0xFFF8 + i), (uint32_t)(i * 800), speaker, payload),
                        k.seal);
            op_wait(in, 100);
        }
        put("voice", k.name, in);
    }
    // The floor passes: heartbeat, the speaker lets go, another one talks.
    bytes in = {0};
    Ptt__Net__HeartBeat beat = PTT__NET__HEART_BEAT__INIT;
    beat.has_gid = beat.has_uid = 1;
    beat.gid = 2002;
    beat.uid = speaker;
    op_datagram(in, signalling(codec, &beat.base, speaker), false);
    for (size_t i = 0; i < 4; i++) {
        op_datagram(
            in,
            rtp(103, (uint16_t)(i + 1), (uint32_t)(i * 800), speaker, evrc_packet(evrc, i * 5, 5)),
            false);
        op_wait(in, 100);
    }
    Ptt__Push__MemberLostMic lost = PTT__PUSH__MEMBER_LOST_MIC__INIT;
    lost.gid = 2002;
    lost.uid = speaker;
    op_datagram(in, signalling(codec, &lost.base, speaker), false);
    op_wait(in, 500);
    Ptt__Push__MemberGetMic get = PTT__PUSH__MEMBER_GET_MIC__INIT;
    get.gid = 2002;
    get.uid = 4004;
    op_datagram(in, signalling(codec, &get.base, 4004), false);
    for (size_t i = 0; i < 4; i++) {
        op_datagram(in,
                    rtp(103, (uint16_t)(i + 9), (uint32_t)(i * 800), 4004,
                        evrc_packet(evrc, i * 5 + 20, 5)),
                    false);
        op_wait(in, 100);
    }
    put("voice", "floor_change", in);
}

// ---- voice-file target ------------------------------------------------------

const char k_key[] = "0123456789abcdefghijklmnopqrstuvwxyz";

bytes records(const std::vector<bytes> &bodies)
{
    bytes out;
    for (const bytes &b : bodies) {
        out.push_back((uint8_t)b.size());
        out.insert(out.end(), b.begin(), b.end());
    }
    return out;
}

void voicefile_seeds(const std::vector<bytes> &amr, const std::vector<bytes> &evrc)
{
    const size_t n = 20;
    bytes amr_file = concat(amr, 0, n);
    bytes evrc_stream;
    for (size_t i = 0; i < n; i += 5) {
        uint8_t s[EVRC_STREAM_CAPACITY];
        bytes p = evrc_packet(evrc, i, 5);
        uint32_t len = evrc_packet_to_stream(p.data(), (uint32_t)p.size(), s);
        evrc_stream.insert(evrc_stream.end(), s, s + len);
    }
    auto with_mode = [](uint8_t mode, const bytes &b) {
        bytes out = {mode};
        out.insert(out.end(), b.begin(), b.end());
        return out;
    };
    put("voicefile", "amr", with_mode(0x00, amr_file));
    put("voicefile", "evrc", with_mode(0x01, evrc_stream));
    // Records as the recorder writes them: one AMR-NB frame, or one EVRC
    // packet of one frame, per record.
    std::vector<bytes> amr_bodies, evrc_bodies;
    for (size_t i = 0; i < n; i++) {
        amr_bodies.push_back(amr[i]);
        evrc_bodies.push_back(evrc_packet(evrc, i, 1));
    }
    put("voicefile", "amr_records", with_mode(0x04, records(amr_bodies)));
    put("voicefile", "evrc_records", with_mode(0x05, records(evrc_bodies)));
    put("voicefile", "amr_sealed_records", with_mode(0x0A, records(amr_bodies)));
    put("voicefile", "evrc_sealed_records", with_mode(0x0B, records(evrc_bodies)));
    // Whole sealed files as they rest on disk, read with the right key.
    uint8_t key[32];
    voice_file_key(k_key, key);
    for (int evrc_kind = 0; evrc_kind < 2; evrc_kind++) {
        bytes file(VOICE_FILE_HEADER_SIZE);
        voice_file_header(file.data(), 1700000000, 1001, 2002,
                          evrc_kind ? VOICE_FILE_PT_EVRC : VOICE_FILE_PT_AMR);
        for (const bytes &b : evrc_kind ? evrc_bodies : amr_bodies) {
            uint8_t rec[2 + 512];
            int r = voice_file_seal(b.data(), (uint32_t)b.size(), key, rec, sizeof(rec));
            file.insert(file.end(), rec, rec + r);
        }
        put("voicefile", evrc_kind ? "sevrc_file" : "samr_file",
            with_mode(evrc_kind ? 0x03 : 0x02, file));
    }
}

// ---- message target -----------------------------------------------------------

// Fills every field of a message: scalars with v, texts, two elements per
// repeated field, nested messages to a small depth. Leaks; the program is
// short-lived.
ProtobufCMessage *filled(const ProtobufCMessageDescriptor *d, uint32_t v, int depth)
{
    ProtobufCMessage *m = (ProtobufCMessage *)calloc(1, d->sizeof_message);
    d->message_init(m);
    for (unsigned i = 0; i < d->n_fields; i++) {
        const ProtobufCFieldDescriptor *f = &d->fields[i];
        if (f->flags & PROTOBUF_C_FIELD_FLAG_ONEOF)
            continue;
        if (f->type == PROTOBUF_C_TYPE_MESSAGE && depth >= 3)
            continue;
        size_t n = f->label == PROTOBUF_C_LABEL_REPEATED ? 2 : 1;
        size_t elem = 8;
        switch (f->type) {
        case PROTOBUF_C_TYPE_STRING:
        case PROTOBUF_C_TYPE_MESSAGE:
            elem = sizeof(void *);
            break;
        case PROTOBUF_C_TYPE_BYTES:
            elem = sizeof(ProtobufCBinaryData);
            break;
        case PROTOBUF_C_TYPE_INT64:
        case PROTOBUF_C_TYPE_SINT64:
        case PROTOBUF_C_TYPE_SFIXED64:
        case PROTOBUF_C_TYPE_UINT64:
        case PROTOBUF_C_TYPE_FIXED64:
        case PROTOBUF_C_TYPE_DOUBLE:
            elem = 8;
            break;
        case PROTOBUF_C_TYPE_BOOL:
            elem = sizeof(protobuf_c_boolean);
            break;
        default:
            elem = 4;
            break;
        }
        uint8_t *slot = (uint8_t *)m + f->offset;
        uint8_t *target = slot;
        if (f->label == PROTOBUF_C_LABEL_REPEATED) {
            target = (uint8_t *)calloc(n, elem);
            *(void **)slot = target;
            *(size_t *)((uint8_t *)m + f->quantifier_offset) = n;
        } else if (f->label == PROTOBUF_C_LABEL_OPTIONAL && f->quantifier_offset &&
                   f->type != PROTOBUF_C_TYPE_STRING && f->type != PROTOBUF_C_TYPE_MESSAGE) {
            *(protobuf_c_boolean *)((uint8_t *)m + f->quantifier_offset) = 1;
        }
        for (size_t k = 0; k < n; k++) {
            uint8_t *e = target + k * elem;
            switch (f->type) {
            case PROTOBUF_C_TYPE_STRING:
                *(char **)e = strdup(k ? "beta" : "alpha 调度");
                break;
            case PROTOBUF_C_TYPE_BYTES: {
                ProtobufCBinaryData *b = (ProtobufCBinaryData *)e;
                b->len = 4;
                b->data = (uint8_t *)strdup("abcd");
                break;
            }
            case PROTOBUF_C_TYPE_MESSAGE:
                *(void **)e = filled((const ProtobufCMessageDescriptor *)f->descriptor,
                                     v + (uint32_t)k, depth + 1);
                break;
            case PROTOBUF_C_TYPE_ENUM: {
                const ProtobufCEnumDescriptor *ed = (const ProtobufCEnumDescriptor *)f->descriptor;
                *(int32_t *)e = ed->n_values ? ed->values[(v + k) % ed->n_values].value : 0;
                break;
            }
            case PROTOBUF_C_TYPE_BOOL:
                *(protobuf_c_boolean *)e = v != 0;
                break;
            case PROTOBUF_C_TYPE_FLOAT:
                *(float *)e = (float)v;
                break;
            case PROTOBUF_C_TYPE_DOUBLE:
                *(double *)e = (double)v;
                break;
            default:
                if (elem == 8)
                    *(uint64_t *)e = v + k;
                else
                    *(uint32_t *)e = v + (uint32_t)k;
                break;
            }
        }
    }
    return m;
}

void op_message(bytes &in, size_t index, const ProtobufCMessage *m)
{
    size_t n = protobuf_c_message_get_packed_size(m);
    bytes b(n);
    protobuf_c_message_pack(m, b.data());
    in.push_back((uint8_t)index);
    in.push_back((uint8_t)(n >> 8));
    in.push_back((uint8_t)n);
    in.insert(in.end(), b.begin(), b.end());
}

void message_seeds()
{
    lirko_t *engine = stage_engine();
    dispatcher_t *d = connection_get_dispatcher(engine->connection);
    size_t login = 0;
    std::vector<size_t> handled;
    for (size_t i = 0; i < etpacket_schema_message_count; i++) {
        const char *name = etpacket_schema_messages[i]->name;
        if (strcmp(name, "ptt.rr.LoginAck") == 0)
            login = i;
        if (dispatcher_count(d, name) > 0)
            handled.push_back(i);
    }
    bytes all;
    op_message(all, login, filled(etpacket_schema_messages[login], 0, 0));
    for (size_t i : handled) {
        const ProtobufCMessageDescriptor *desc = etpacket_schema_messages[i];
        bytes one;
        op_message(one, login, filled(etpacket_schema_messages[login], 0, 0));
        op_message(one, i, filled(desc, 7, 0));
        op_message(all, i, filled(desc, 0, 0));
        std::string name = desc->name;
        for (char &c : name)
            c = c == '.' ? '_' : c;
        put("messages", name, one);
    }
    put("messages", "all_handled", all);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: %s speech.wav seeds-folder\n", argv[0]);
        return 2;
    }
    char *out = realpath(argv[2], NULL);
    if (!out)
        return 1;
    g_out = out;
    auto speech = read_speech(argv[1], 60);
    auto amr = amr_frames(speech);
    auto evrc = evrc_frames(speech);
    voicefile_seeds(amr, evrc);
    etpacket *codec = etpacket_new(0, NULL);
    voice_seeds(amr, evrc, codec);
    message_seeds();
    return 0;
}
