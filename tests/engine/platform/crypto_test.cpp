// MD5 and AES-256 against the published vectors and against OpenSSL, which
// serves here only as an independent oracle (the engine never links it).
#include "aes.h"
#include "md5.h"

#include <gtest/gtest.h>
#include <limits.h>
#include <memory>
#include <openssl/evp.h>
#include <random>
#include <string>
#include <vector>

namespace
{

using Bytes = std::vector<uint8_t>;

std::string hex(const uint8_t *p, size_t n)
{
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; i++) {
        s += digits[p[i] >> 4];
        s += digits[p[i] & 15];
    }
    return s;
}

Bytes unhex(const std::string &s)
{
    Bytes out;
    for (size_t i = 0; i + 1 < s.size(); i += 2)
        out.push_back(static_cast<uint8_t>(std::stoi(s.substr(i, 2), nullptr, 16)));
    return out;
}

std::string md5_of(const void *p, uint32_t n)
{
    uint8_t d[MD5_DIGEST_LEN];
    md5_digest(p, n, d);
    return hex(d, sizeof(d));
}

std::string openssl_md5(const Bytes &in)
{
    uint8_t d[EVP_MAX_MD_SIZE];
    unsigned n = 0;
    EXPECT_EQ(EVP_Digest(in.data(), in.size(), d, &n, EVP_md5(), nullptr), 1);
    return hex(d, n);
}

Bytes openssl_aes(const Bytes &key, const Bytes &in, bool encrypt, bool padding)
{
    EVP_CIPHER_CTX *c = EVP_CIPHER_CTX_new();
    EXPECT_EQ(EVP_CipherInit_ex(c, EVP_aes_256_ecb(), nullptr, key.data(), nullptr, encrypt), 1);
    EVP_CIPHER_CTX_set_padding(c, padding ? 1 : 0);
    Bytes out(in.size() + 32);
    int n1 = 0, n2 = 0;
    EXPECT_EQ(EVP_CipherUpdate(c, out.data(), &n1, in.data(), static_cast<int>(in.size())), 1);
    EXPECT_EQ(EVP_CipherFinal_ex(c, out.data() + n1, &n2), 1);
    EVP_CIPHER_CTX_free(c);
    out.resize(static_cast<size_t>(n1 + n2));
    return out;
}

Bytes random_bytes(std::mt19937 &rng, size_t n)
{
    Bytes b(n);
    for (auto &x : b)
        x = static_cast<uint8_t>(rng());
    return b;
}

} // namespace

TEST(Md5, Rfc1321TestSuite)
{
    const std::pair<std::string, std::string> cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890"
         "123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto &[text, digest] : cases)
        EXPECT_EQ(md5_of(text.data(), static_cast<uint32_t>(text.size())), digest) << text;
}

TEST(Md5, PiecewiseUpdateMatchesOneShotAndFinalClears)
{
    std::mt19937 rng(7);
    Bytes data = random_bytes(rng, 1000);
    std::string whole = md5_of(data.data(), static_cast<uint32_t>(data.size()));
    md5_ctx *ctx = md5_new();
    ASSERT_NE(ctx, nullptr);
    // Piece sizes straddle the 64-byte block and the 56-byte padding edge.
    for (size_t piece : {1u, 55u, 56u, 63u, 64u, 65u, 127u, 999u}) {
        md5_reset(ctx);
        for (size_t off = 0; off < data.size(); off += piece) {
            size_t n = std::min(piece, data.size() - off);
            md5_update(ctx, data.data() + off, static_cast<uint32_t>(n));
        }
        uint8_t d[MD5_DIGEST_LEN];
        md5_final(ctx, d);
        EXPECT_EQ(hex(d, sizeof(d)), whole) << "piece " << piece;
        // The context was cleared: a second final differs.
        uint8_t again[MD5_DIGEST_LEN];
        md5_final(ctx, again);
        EXPECT_NE(hex(again, sizeof(again)), whole);
    }
    md5_destroy(&ctx);
    EXPECT_EQ(ctx, nullptr);
    md5_destroy(&ctx);
    md5_destroy(nullptr);
}

TEST(Md5, RandomInputsAgreeWithOpenSsl)
{
    std::mt19937 rng(20240601);
    for (int i = 0; i < 1000; i++) {
        Bytes data = random_bytes(rng, rng() % 2048);
        ASSERT_EQ(md5_of(data.data(), static_cast<uint32_t>(data.size())), openssl_md5(data))
            << "length " << data.size();
    }
}

TEST(Aes256, Fips197AppendixC3)
{
    Bytes key = unhex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f");
    Bytes plain = unhex("00112233445566778899aabbccddeeff");
    aes_key enc, dec;
    ASSERT_EQ(aes_set_encrypt_key(key.data(), 256, &enc), 0);
    ASSERT_EQ(aes_set_decrypt_key(key.data(), 256, &dec), 0);
    EXPECT_EQ(enc.rounds, 14);
    EXPECT_EQ(dec.rounds, 14);
    uint8_t out[16], back[16];
    aes_encrypt_block(plain.data(), out, &enc);
    EXPECT_EQ(hex(out, 16), "8ea2b7ca516745bfeafc49904b496089");
    aes_decrypt_block(out, back, &dec);
    EXPECT_EQ(hex(back, 16), "00112233445566778899aabbccddeeff");
}

TEST(Aes256, Sp80038aEcbVectors)
{
    Bytes key = unhex("603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4");
    const std::pair<const char *, const char *> blocks[] = {
        {"6bc1bee22e409f96e93d7e117393172a", "f3eed1bdb5d2a03c064b5a7e3db181f8"},
        {"ae2d8a571e03ac9c9eb76fac45af8e51", "591ccb10d410ed26dc5ba74a31362870"},
        {"30c81c46a35ce411e5fbc1191a0a52ef", "b6ed21b99ca6f4f9f153e7b1beafed1d"},
        {"f69f2445df4f9b17ad2b417be66c3710", "23304b7a39f9f3ff067d8d8f9e24ecc7"},
    };
    aes_key enc, dec;
    aes_set_encrypt_key(key.data(), 256, &enc);
    aes_set_decrypt_key(key.data(), 256, &dec);
    for (const auto &[p, c] : blocks) {
        uint8_t out[16], back[16];
        aes_encrypt_block(unhex(p).data(), out, &enc);
        EXPECT_EQ(hex(out, 16), c);
        aes_decrypt_block(out, back, &dec);
        EXPECT_EQ(hex(back, 16), p);
    }
}

TEST(Aes256, RefusesNullArguments)
{
    uint8_t key[32] = {}, buf[32] = {};
    aes_key k;
    EXPECT_EQ(aes_set_encrypt_key(nullptr, 256, &k), -1);
    EXPECT_EQ(aes_set_encrypt_key(key, 256, nullptr), -1);
    EXPECT_EQ(aes_set_decrypt_key(nullptr, 256, &k), -1);
    EXPECT_EQ(aes_set_decrypt_key(key, 256, nullptr), -1);
    EXPECT_EQ(aes_ecb_encrypt_pkcs7(nullptr, 1, buf, key), -1);
    EXPECT_EQ(aes_ecb_encrypt_pkcs7(nullptr, 0, buf, key), 16); // nothing to read
    EXPECT_EQ(aes_ecb_encrypt_pkcs7(buf, 0, nullptr, key), -1);
    EXPECT_EQ(aes_ecb_encrypt_pkcs7(buf, 0, buf, nullptr), -1);
    EXPECT_EQ(aes_ecb_encrypt_pkcs7(buf, -1, buf, key), -1);
    // The padded length of these would not fit the int result: refused before
    // anything is read.
    EXPECT_EQ(aes_ecb_encrypt_pkcs7(buf, INT_MAX, buf, key), -1);
    EXPECT_EQ(aes_ecb_encrypt_pkcs7(buf, INT_MAX - 15, buf, key), -1);
}

TEST(Aes256, Pkcs7LengthsAndPaddingBlock)
{
    std::mt19937 rng(3);
    Bytes key = random_bytes(rng, 32);
    const struct {
        int len;
        int out;
    } cases[] = {{0, 16}, {1, 16}, {15, 16}, {16, 32}, {17, 32}, {31, 32}, {32, 48}};
    for (auto c : cases) {
        Bytes in = random_bytes(rng, static_cast<size_t>(c.len));
        Bytes out(static_cast<size_t>(c.out), 0);
        EXPECT_EQ(aes_ecb_encrypt_pkcs7(in.data(), c.len, out.data(), key.data()), c.out);
        EXPECT_EQ(out, openssl_aes(key, in, true, true)) << "length " << c.len;
    }
    // An empty input encrypts one whole block of sixteen bytes of value 16.
    Bytes out(16);
    aes_ecb_encrypt_pkcs7(key.data(), 0, out.data(), key.data());
    aes_key dec;
    aes_set_decrypt_key(key.data(), 256, &dec);
    uint8_t plain[16];
    aes_decrypt_block(out.data(), plain, &dec);
    EXPECT_EQ(Bytes(plain, plain + 16), Bytes(16, 16));
}

TEST(Aes256, EncryptNeverWritesIntoTheInput)
{
    // The input buffer holds exactly the data: a pad written past its end
    // trips ASan, one written inside it changes the copy compared below.
    std::mt19937 rng(11);
    Bytes key = random_bytes(rng, 32);
    for (int len : {0, 5, 16, 21}) {
        std::unique_ptr<uint8_t[]> in(new uint8_t[static_cast<size_t>(len)]);
        for (int i = 0; i < len; i++)
            in[static_cast<size_t>(i)] = static_cast<uint8_t>(rng());
        Bytes before(in.get(), in.get() + len);
        Bytes out(static_cast<size_t>(len / 16 + 1) * 16);
        aes_ecb_encrypt_pkcs7(in.get(), len, out.data(), key.data());
        EXPECT_EQ(Bytes(in.get(), in.get() + len), before);
    }
}

TEST(Aes256, RandomInputsAgreeWithOpenSsl)
{
    std::mt19937 rng(424242);
    for (int i = 0; i < 1000; i++) {
        Bytes key = random_bytes(rng, 32);
        Bytes plain = random_bytes(rng, rng() % 1500);
        Bytes ours((plain.size() / 16 + 1) * 16);
        ASSERT_EQ(aes_ecb_encrypt_pkcs7(plain.data(), static_cast<int>(plain.size()), ours.data(),
                                        key.data()),
                  static_cast<int>(ours.size()));
        ASSERT_EQ(ours, openssl_aes(key, plain, true, true)) << "length " << plain.size();

        // Decrypt block by block with our schedule; OpenSSL must agree on the
        // raw blocks, and the padding must come back intact.
        aes_key dec;
        aes_set_decrypt_key(key.data(), 256, &dec);
        Bytes back(ours.size());
        for (size_t off = 0; off < ours.size(); off += 16)
            aes_decrypt_block(ours.data() + off, back.data() + off, &dec);
        ASSERT_EQ(back, openssl_aes(key, ours, false, false));
        uint8_t pad = back.back();
        ASSERT_GE(pad, 1);
        ASSERT_LE(pad, 16);
        back.resize(back.size() - pad);
        ASSERT_EQ(back, plain);
    }
}
