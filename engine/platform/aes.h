// AES-256 (FIPS-197) in ECB mode with PKCS#7 padding: encrypts voice payloads
// of encrypted groups and the records of encrypted voice files. Every key in
// this engine is 32 bytes; every schedule has 14 rounds.
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

enum { AES_BLOCK_LEN = 16, AES_KEY_LEN = 32 };

typedef struct aes_key {
    uint32_t rd_key[60];
    int32_t rounds;
} aes_key;

// key_bits is ignored (always 256). 0; -1 when key or schedule is NULL.
int aes_set_encrypt_key(const uint8_t *key, int key_bits, aes_key *schedule);
// The equivalent-inverse-cipher schedule for aes_decrypt_block.
int aes_set_decrypt_key(const uint8_t *key, int key_bits, aes_key *schedule);
void aes_encrypt_block(const uint8_t in[AES_BLOCK_LEN], uint8_t out[AES_BLOCK_LEN],
                       const aes_key *schedule);
void aes_decrypt_block(const uint8_t in[AES_BLOCK_LEN], uint8_t out[AES_BLOCK_LEN],
                       const aes_key *schedule);
// Pads len bytes of in with PKCS#7 (1 to 16 bytes, a whole block when len is a
// multiple of 16) and encrypts them block by block into out, which needs room
// for (len / 16 + 1) * 16 bytes. The input is only read. Returns that length;
// -1 for a NULL pointer (the input may be NULL when len is 0), a negative
// length or one whose padded length would not fit an int.
int aes_ecb_encrypt_pkcs7(const uint8_t *in, int len, uint8_t *out, const uint8_t *key);

#ifdef __cplusplus
}
#endif
