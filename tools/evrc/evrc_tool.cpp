// evrc-tool: the EVRC codec on files.
//
//   evrc-tool decode [--legacy] IN.pkt OUT.pcm
//   evrc-tool encode [--min-rate N] [--max-rate N] [--ns 0|1] IN.pcm OUT.pkt
//
// PCM is raw 16-bit little-endian mono at 8000 Hz. A packet file holds one
// 24-byte record per 20 ms frame: the rate word, then 11 data words, all
// 16-bit little-endian (the layout of the reference codec's packet files).
// Each run starts from a freshly reset codec.
#include "evrc_frame.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace
{

const int kRecordBytes = 2 + 2 * EVRC_FRAME_WORDS;

int usage()
{
    fputs("usage: evrc-tool decode [--legacy] IN.pkt OUT.pcm\n"
          "       evrc-tool encode [--min-rate N] [--max-rate N] [--ns 0|1] IN.pcm OUT.pkt\n"
          "  --legacy   decode with the 1998 reference's erasure rules\n"
          "  rates: 1 eighth, 3 half, 4 full (default 3 and 3); --ns: noise suppression (0)\n",
          stderr);
    return 2;
}

// A wrong command line: the reason, then the usage text.
__attribute__((format(printf, 1, 2))) int bad_usage(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    fputs("evrc-tool: ", stderr);
    vfprintf(stderr, fmt, ap);
    fputc('\n', stderr);
    va_end(ap);
    return usage();
}

// The file names of a command: exactly IN and OUT after the options.
bool two_files(const char *cmd, int left)
{
    if (left == 2)
        return true;
    bad_usage("%s takes an input and an output file, not %d file name%s", cmd, left,
              left == 1 ? "" : "s");
    return false;
}

struct File {
    FILE *f = nullptr;
    ~File()
    {
        if (f)
            fclose(f);
    }
};

// Reads the whole of path into data. A path that opens but cannot be read
// (a folder, an I/O error) fails here instead of passing for an empty file.
bool read_input(const char *path, std::vector<uint8_t> *data)
{
    FILE *f = fopen(path, "rb");
    if (!f) {
        fprintf(stderr, "evrc-tool: cannot open %s: %s\n", path, strerror(errno));
        return false;
    }
    uint8_t buf[1 << 16];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        data->insert(data->end(), buf, buf + n);
    int err = errno;
    bool failed = ferror(f) != 0;
    fclose(f);
    if (failed) {
        fprintf(stderr, "evrc-tool: cannot read %s: %s\n", path, strerror(err));
        return false;
    }
    return true;
}

// Opening the output truncates it, so an output that is the input (by
// another name, a link, or the same name) would destroy the input before
// it is read: compared as files, not as names.
bool open_output(File &out, const char *in_path, const char *path)
{
    struct stat in_st;
    struct stat out_st;
    if (stat(in_path, &in_st) == 0 && stat(path, &out_st) == 0 && in_st.st_dev == out_st.st_dev &&
        in_st.st_ino == out_st.st_ino) {
        fprintf(stderr, "evrc-tool: %s and %s are the same file; refusing to overwrite the input\n",
                in_path, path);
        return false;
    }
    out.f = fopen(path, "wb");
    if (!out.f) {
        fprintf(stderr, "evrc-tool: cannot create %s: %s\n", path, strerror(errno));
        return false;
    }
    return true;
}

// Closes the output; stdio may hold the last writes until here, so a full
// disk can show only now.
bool close_output(File &out)
{
    FILE *f = out.f;
    out.f = nullptr;
    if (fclose(f) != 0) {
        fprintf(stderr, "evrc-tool: write failed: %s\n", strerror(errno));
        return false;
    }
    return true;
}

// Rate words a packet file may hold: the coded rates 1, 3 and 4, and 0
// (blank), 2 (quarter rate) and 14 (erasure), which decode as erased
// frames. Anything else (a byte-swapped or foreign file) would decode to
// erasure noise with no sign that the input was wrong.
bool known_rate_word(unsigned rate)
{
    return rate <= EVRC_RATE_FULL || rate == EVRC_RATE_ERASURE;
}

int cmd_decode(int argc, char **argv)
{
    bool legacy = false;
    int i = 0;
    for (; i < argc && argv[i][0] == '-' && argv[i][1] == '-'; i++) {
        if (strcmp(argv[i], "--legacy") == 0)
            legacy = true;
        else
            return bad_usage("unknown option %s for decode", argv[i]);
    }
    if (!two_files("decode", argc - i))
        return 2;
    std::vector<uint8_t> in;
    File out;
    if (!read_input(argv[i], &in))
        return 1;
    // A cut-off record means a damaged or foreign file: refused before
    // anything is decoded or an output is touched.
    if (in.size() % kRecordBytes != 0) {
        fprintf(stderr,
                "evrc-tool: %s: truncated packet record: %zu bytes after %zu whole %d-byte "
                "records\n",
                argv[i], in.size() % kRecordBytes, in.size() / kRecordBytes, kRecordBytes);
        return 1;
    }
    for (size_t pos = 0; pos < in.size(); pos += kRecordBytes) {
        unsigned rate = in[pos] | in[pos + 1] << 8;
        if (!known_rate_word(rate)) {
            fprintf(stderr,
                    "evrc-tool: %s: record %zu has rate %u; packet files hold 0 to 4 or 14 "
                    "(erasure)\n",
                    argv[i], pos / kRecordBytes + 1, rate);
            return 1;
        }
    }
    if (!open_output(out, argv[i], argv[i + 1]))
        return 1;
    evrc_decoder *dec = evrc_decoder_new();
    if (!dec) {
        fputs("evrc-tool: out of memory\n", stderr);
        return 1;
    }
    evrc_decoder_set_legacy(dec, legacy);
    long frames = 0;
    int rc = 0;
    for (size_t pos = 0; pos < in.size(); pos += kRecordBytes) {
        const uint8_t *rec = &in[pos];
        uint16_t words[EVRC_FRAME_WORDS];
        Word16 rate = (Word16)(rec[0] | rec[1] << 8);
        for (int k = 0; k < EVRC_FRAME_WORDS; k++)
            words[k] = (uint16_t)(rec[2 + 2 * k] | rec[3 + 2 * k] << 8);
        int16_t pcm[EVRC_FRAME_LEN];
        evrc_decode_words(dec, rate, words, pcm);
        uint8_t bytes[2 * EVRC_FRAME_LEN];
        for (int k = 0; k < EVRC_FRAME_LEN; k++) {
            bytes[2 * k] = (uint8_t)pcm[k];
            bytes[2 * k + 1] = (uint8_t)((uint16_t)pcm[k] >> 8);
        }
        if (fwrite(bytes, 1, sizeof bytes, out.f) != sizeof bytes) {
            fprintf(stderr, "evrc-tool: write failed: %s\n", strerror(errno));
            rc = 1;
            break;
        }
        frames++;
    }
    evrc_decoder_destroy(&dec);
    if (rc == 0 && !close_output(out))
        rc = 1;
    if (rc == 0 && frames == 0)
        fprintf(stderr, "evrc-tool: warning: %s is empty; %s holds no sound\n", argv[i],
                argv[i + 1]);
    if (rc == 0)
        fprintf(stderr, "evrc-tool: decoded %ld frames\n", frames);
    return rc;
}

// A rate bound given on the command line: 1, 3 or 4.
bool parse_rate(const char *text, uint16_t *rate)
{
    char *end = nullptr;
    long v = strtol(text, &end, 10);
    if (end == text || *end != '\0' || (v != 1 && v != 3 && v != 4))
        return false;
    *rate = (uint16_t)v;
    return true;
}

int cmd_encode(int argc, char **argv)
{
    uint16_t min_rate = 3, max_rate = 3;
    int ns = 0;
    int i = 0;
    for (; i < argc && argv[i][0] == '-' && argv[i][1] == '-'; i += 2) {
        const char *opt = argv[i];
        bool rate_opt = strcmp(opt, "--min-rate") == 0 || strcmp(opt, "--max-rate") == 0;
        if (!rate_opt && strcmp(opt, "--ns") != 0)
            return bad_usage("unknown option %s for encode", opt);
        if (i + 1 >= argc)
            return bad_usage("%s needs a value", opt);
        const char *value = argv[i + 1];
        if (rate_opt) {
            if (!parse_rate(value, strcmp(opt, "--min-rate") == 0 ? &min_rate : &max_rate))
                return bad_usage("%s %s: a rate is 1, 3 or 4", opt, value);
        } else {
            if (strcmp(value, "0") != 0 && strcmp(value, "1") != 0)
                return bad_usage("--ns %s: give 0 or 1", value);
            ns = value[0] == '1';
        }
    }
    if (min_rate > max_rate)
        return bad_usage("--min-rate %u is above --max-rate %u", min_rate, max_rate);
    if (!two_files("encode", argc - i))
        return 2;
    std::vector<uint8_t> in;
    File out;
    if (!read_input(argv[i], &in))
        return 1;
    // Half a sample is no 16-bit PCM. (A partial last frame is normal for
    // recorded speech and is only left out, below.)
    if (in.size() % 2 != 0) {
        fprintf(stderr, "evrc-tool: %s: odd number of bytes (%zu), not 16-bit samples\n", argv[i],
                in.size());
        return 1;
    }
    if (!open_output(out, argv[i], argv[i + 1]))
        return 1;
    evrc_encoder *enc = evrc_encoder_new();
    if (!enc) {
        fputs("evrc-tool: out of memory\n", stderr);
        return 1;
    }
    enc->min_rate = min_rate;
    enc->max_rate = max_rate;
    enc->noise_suppression = (uint16_t)ns;
    const size_t frame_bytes = 2 * EVRC_FRAME_LEN;
    long frames = 0;
    int rc = 0;
    size_t pos = 0;
    for (; in.size() - pos >= frame_bytes; pos += frame_bytes) {
        const uint8_t *bytes = &in[pos];
        Word16 pcm[EVRC_FRAME_LEN];
        for (int k = 0; k < EVRC_FRAME_LEN; k++)
            pcm[k] = (Word16)(uint16_t)(bytes[2 * k] | bytes[2 * k + 1] << 8);
        uint16_t words[EVRC_FRAME_WORDS];
        Word16 rate = evrc_encode_words(enc, pcm, words);
        uint8_t rec[kRecordBytes];
        rec[0] = (uint8_t)rate;
        rec[1] = 0;
        for (int k = 0; k < EVRC_FRAME_WORDS; k++) {
            rec[2 + 2 * k] = (uint8_t)words[k];
            rec[3 + 2 * k] = (uint8_t)(words[k] >> 8);
        }
        if (fwrite(rec, 1, sizeof rec, out.f) != sizeof rec) {
            fprintf(stderr, "evrc-tool: write failed: %s\n", strerror(errno));
            rc = 1;
            break;
        }
        frames++;
    }
    if (rc == 0 && pos != in.size())
        fprintf(stderr, "evrc-tool: ignoring a trailing partial frame of %zu bytes\n",
                in.size() - pos);
    evrc_encoder_destroy(&enc);
    if (rc == 0 && !close_output(out))
        rc = 1;
    if (rc == 0 && frames == 0)
        fprintf(stderr, "evrc-tool: warning: %s holds no whole 20 ms frame; %s holds no packet\n",
                argv[i], argv[i + 1]);
    if (rc == 0)
        fprintf(stderr, "evrc-tool: encoded %ld frames\n", frames);
    return rc;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2)
        return usage();
    std::string cmd = argv[1];
    if (cmd == "decode")
        return cmd_decode(argc - 2, argv + 2);
    if (cmd == "encode")
        return cmd_encode(argc - 2, argv + 2);
    return bad_usage("unknown command %s (decode or encode)", cmd.c_str());
}
