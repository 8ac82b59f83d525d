#include "aes.h"

#include <array>
#include <limits.h>
#include <string.h>

namespace
{

// The tables are derived at compile time from the field arithmetic of
// FIPS-197 (S-box: multiplicative inverse in GF(2^8), then the affine map),
// which yields exactly the standard's published tables.
constexpr uint8_t xtime(uint8_t x)
{
    return static_cast<uint8_t>((x << 1) ^ ((x & 0x80) ? 0x1B : 0));
}

constexpr uint8_t gmul(uint8_t a, uint8_t b)
{
    uint8_t p = 0;
    while (b) {
        if (b & 1)
            p ^= a;
        a = xtime(a);
        b >>= 1;
    }
    return p;
}

constexpr uint8_t rotl8(uint8_t x, int n)
{
    return static_cast<uint8_t>((x << n) | (x >> (8 - n)));
}

constexpr std::array<uint8_t, 256> make_sbox()
{
    std::array<uint8_t, 256> s{};
    for (int x = 0; x < 256; x++) {
        uint8_t inv = 0;
        for (int y = 1; y < 256 && x; y++) {
            if (gmul(static_cast<uint8_t>(x), static_cast<uint8_t>(y)) == 1) {
                inv = static_cast<uint8_t>(y);
                break;
            }
        }
        s[x] = static_cast<uint8_t>(inv ^ rotl8(inv, 1) ^ rotl8(inv, 2) ^ rotl8(inv, 3) ^
                                    rotl8(inv, 4) ^ 0x63);
    }
    return s;
}

constexpr std::array<uint8_t, 256> kSbox = make_sbox();

constexpr std::array<uint8_t, 256> make_inv_sbox()
{
    std::array<uint8_t, 256> inv{};
    for (int x = 0; x < 256; x++)
        inv[kSbox[x]] = static_cast<uint8_t>(x);
    return inv;
}

constexpr std::array<uint8_t, 256> kInvSbox = make_inv_sbox();

constexpr uint32_t word(uint8_t a, uint8_t b, uint8_t c, uint8_t d)
{
    return uint32_t{a} << 24 | uint32_t{b} << 16 | uint32_t{c} << 8 | uint32_t{d};
}

constexpr uint32_t ror32(uint32_t x, int n)
{
    return n == 0 ? x : (x >> n) | (x << (32 - n));
}

using Table = std::array<std::array<uint32_t, 256>, 4>;

// Te[k][x]: SubBytes followed by the MixColumns column for byte position k.
constexpr Table make_te()
{
    Table t{};
    for (int x = 0; x < 256; x++) {
        uint8_t s = kSbox[x];
        uint32_t w = word(gmul(s, 2), s, s, gmul(s, 3));
        for (int k = 0; k < 4; k++)
            t[k][x] = ror32(w, 8 * k);
    }
    return t;
}

// Td[k][x]: InvSubBytes followed by the InvMixColumns column.
constexpr Table make_td()
{
    Table t{};
    for (int x = 0; x < 256; x++) {
        uint8_t s = kInvSbox[x];
        uint32_t w = word(gmul(s, 14), gmul(s, 9), gmul(s, 13), gmul(s, 11));
        for (int k = 0; k < 4; k++)
            t[k][x] = ror32(w, 8 * k);
    }
    return t;
}

constexpr Table kTe = make_te();
constexpr Table kTd = make_td();

constexpr int kRounds = 14;
constexpr int kKeyWords = 8;
constexpr int kScheduleWords = 4 * (kRounds + 1);

static_assert(kSbox[0x00] == 0x63 && kSbox[0x53] == 0xED && kSbox[0xFF] == 0x16);

uint32_t load_be(const uint8_t *p)
{
    return word(p[0], p[1], p[2], p[3]);
}

void store_be(uint8_t *p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

uint32_t sub_word(uint32_t w)
{
    return word(kSbox[w >> 24], kSbox[(w >> 16) & 0xFF], kSbox[(w >> 8) & 0xFF], kSbox[w & 0xFF]);
}

uint8_t b(uint32_t w, int n)
{
    return static_cast<uint8_t>(w >> (24 - 8 * n));
}

} // namespace

int aes_set_encrypt_key(const uint8_t *key, int key_bits, aes_key *schedule)
{
    (void)key_bits;
    if (!key || !schedule)
        return -1;
    uint32_t *rk = schedule->rd_key;
    for (int i = 0; i < kKeyWords; i++)
        rk[i] = load_be(key + 4 * i);
    uint8_t rcon = 1;
    for (int i = kKeyWords; i < kScheduleWords; i++) {
        uint32_t t = rk[i - 1];
        if (i % kKeyWords == 0) {
            t = sub_word(ror32(t, 24)) ^ (uint32_t{rcon} << 24);
            rcon = xtime(rcon);
        } else if (i % kKeyWords == 4) {
            t = sub_word(t);
        }
        rk[i] = rk[i - kKeyWords] ^ t;
    }
    schedule->rounds = kRounds;
    return 0;
}

int aes_set_decrypt_key(const uint8_t *key, int key_bits, aes_key *schedule)
{
    if (!schedule)
        return -1;
    aes_key enc;
    int rc = aes_set_encrypt_key(key, key_bits, &enc);
    if (rc != 0)
        return rc;
    uint32_t *rk = schedule->rd_key;
    for (int r = 0; r <= kRounds; r++) {
        for (int j = 0; j < 4; j++)
            rk[4 * r + j] = enc.rd_key[4 * (kRounds - r) + j];
    }
    // InvMixColumns on every round key but the first and the last, so that
    // decryption runs with the same table structure as encryption.
    for (int i = 4; i < 4 * kRounds; i++) {
        uint32_t w = rk[i];
        rk[i] = kTd[0][kSbox[b(w, 0)]] ^ kTd[1][kSbox[b(w, 1)]] ^ kTd[2][kSbox[b(w, 2)]] ^
                kTd[3][kSbox[b(w, 3)]];
    }
    schedule->rounds = kRounds;
    memset(&enc, 0, sizeof(enc));
    return 0;
}

// Encryption and decryption run the same rounds over their own tables; they
// differ only in which way ShiftRows turns: output column i takes row k from
// column i + k for encryption and i - k (that is, i + 3k) for decryption.
static void crypt_block(const uint8_t in[AES_BLOCK_LEN], uint8_t out[AES_BLOCK_LEN],
                        const uint32_t *rk, const Table &t, const std::array<uint8_t, 256> &sbox,
                        int turn)
{
    uint32_t s[4], n[4];
    for (int i = 0; i < 4; i++)
        s[i] = load_be(in + 4 * i) ^ rk[i];
    for (int r = 1; r < kRounds; r++) {
        rk += 4;
        for (int i = 0; i < 4; i++) {
            n[i] = t[0][b(s[i], 0)] ^ t[1][b(s[(i + turn) & 3], 1)] ^
                   t[2][b(s[(i + 2 * turn) & 3], 2)] ^ t[3][b(s[(i + 3 * turn) & 3], 3)] ^ rk[i];
        }
        memcpy(s, n, sizeof(s));
    }
    rk += 4;
    for (int i = 0; i < 4; i++) {
        uint32_t w = word(sbox[b(s[i], 0)], sbox[b(s[(i + turn) & 3], 1)],
                          sbox[b(s[(i + 2 * turn) & 3], 2)], sbox[b(s[(i + 3 * turn) & 3], 3)]);
        store_be(out + 4 * i, w ^ rk[i]);
    }
}

void aes_encrypt_block(const uint8_t in[AES_BLOCK_LEN], uint8_t out[AES_BLOCK_LEN],
                       const aes_key *schedule)
{
    crypt_block(in, out, schedule->rd_key, kTe, kSbox, 1);
}

void aes_decrypt_block(const uint8_t in[AES_BLOCK_LEN], uint8_t out[AES_BLOCK_LEN],
                       const aes_key *schedule)
{
    crypt_block(in, out, schedule->rd_key, kTd, kInvSbox, 3);
}

int aes_ecb_encrypt_pkcs7(const uint8_t *in, int len, uint8_t *out, const uint8_t *key)
{
    if ((!in && len != 0) || !out || !key || len < 0)
        return -1;
    // The padded length must fit the result.
    if (len > INT_MAX - AES_BLOCK_LEN)
        return -1;
    aes_key schedule;
    aes_set_encrypt_key(key, 256, &schedule);
    int full = len / AES_BLOCK_LEN;
    for (int i = 0; i < full; i++)
        aes_encrypt_block(in + i * AES_BLOCK_LEN, out + i * AES_BLOCK_LEN, &schedule);
    // The padded tail is built here, never in the caller's buffer.
    int rest = len % AES_BLOCK_LEN;
    uint8_t last[AES_BLOCK_LEN];
    if (rest)
        memcpy(last, in + full * AES_BLOCK_LEN, static_cast<size_t>(rest));
    memset(last + rest, AES_BLOCK_LEN - rest, static_cast<size_t>(AES_BLOCK_LEN - rest));
    aes_encrypt_block(last, out + full * AES_BLOCK_LEN, &schedule);
    memset(&schedule, 0, sizeof(schedule));
    return (full + 1) * AES_BLOCK_LEN;
}
