#include "md5.h"

#include <stdlib.h>
#include <string.h>

namespace
{

// Per-step left rotations and sine-derived constants of RFC 1321, 3.4.
constexpr uint8_t kShift[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                                5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                                4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                                6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};

constexpr uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

uint32_t rotl(uint32_t x, unsigned n)
{
    return (x << n) | (x >> (32 - n));
}

uint32_t load_le(const uint8_t *p)
{
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

void store_le(uint8_t *p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

void transform(uint32_t state[4], const uint8_t block[64])
{
    uint32_t x[16];
    for (int i = 0; i < 16; i++)
        x[i] = load_le(block + 4 * i);
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    for (int i = 0; i < 64; i++) {
        uint32_t f;
        int g;
        if (i < 16) {
            f = (b & c) | (~b & d);
            g = i;
        } else if (i < 32) {
            f = (b & d) | (c & ~d);
            g = (5 * i + 1) & 15;
        } else if (i < 48) {
            f = b ^ c ^ d;
            g = (3 * i + 5) & 15;
        } else {
            f = c ^ (b | ~d);
            g = (7 * i) & 15;
        }
        uint32_t t = d;
        d = c;
        c = b;
        b = b + rotl(a + f + kSine[i] + x[g], kShift[i]);
        a = t;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
}

} // namespace

void md5_reset(md5_ctx *ctx)
{
    if (!ctx)
        return;
    memset(ctx, 0, sizeof(*ctx));
    ctx->state[0] = 0x67452301;
    ctx->state[1] = 0xEFCDAB89;
    ctx->state[2] = 0x98BADCFE;
    ctx->state[3] = 0x10325476;
}

md5_ctx *md5_new(void)
{
    md5_ctx *ctx = static_cast<md5_ctx *>(malloc(sizeof(md5_ctx)));
    md5_reset(ctx);
    return ctx;
}

void md5_destroy(md5_ctx **ctx)
{
    if (!ctx || !*ctx)
        return;
    free(*ctx);
    *ctx = NULL;
}

void md5_update(md5_ctx *ctx, const void *data, uint32_t len)
{
    if (!ctx || (!data && len))
        return;
    const uint8_t *in = static_cast<const uint8_t *>(data);
    uint32_t used = (ctx->count[0] >> 3) & 63;
    uint32_t bits_lo = ctx->count[0] + (len << 3);
    if (bits_lo < ctx->count[0])
        ctx->count[1]++;
    ctx->count[0] = bits_lo;
    ctx->count[1] += len >> 29;

    uint32_t room = 64 - used;
    uint32_t i = 0;
    if (len >= room) {
        memcpy(ctx->buffer + used, in, room);
        transform(ctx->state, ctx->buffer);
        for (i = room; i + 64 <= len; i += 64)
            transform(ctx->state, in + i);
        used = 0;
    }
    if (len > i)
        memcpy(ctx->buffer + used, in + i, len - i);
}

void md5_final(md5_ctx *ctx, uint8_t out[MD5_DIGEST_LEN])
{
    if (!ctx || !out)
        return;
    uint8_t bits[8];
    store_le(bits, ctx->count[0]);
    store_le(bits + 4, ctx->count[1]);
    uint32_t used = (ctx->count[0] >> 3) & 63;
    uint32_t pad_len = used < 56 ? 56 - used : 120 - used;
    static const uint8_t kPadding[64] = {0x80};
    md5_update(ctx, kPadding, pad_len);
    md5_update(ctx, bits, 8);
    for (int i = 0; i < 4; i++)
        store_le(out + 4 * i, ctx->state[i]);
    // Leave no trace of the hashed secret behind.
    memset(ctx, 0, sizeof(*ctx));
}

void md5_digest(const void *data, uint32_t len, uint8_t out[MD5_DIGEST_LEN])
{
    md5_ctx ctx;
    md5_reset(&ctx);
    md5_update(&ctx, data, len);
    md5_final(&ctx, out);
}
