// MD5 (RFC 1321): hashes passwords before they are sent.
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct md5_ctx {
    uint32_t state[4];
    uint32_t count[2]; // bits hashed so far, low word first
    uint8_t buffer[64];
} md5_ctx;

enum { MD5_DIGEST_LEN = 16 };

// A heap context, initialised; NULL when memory runs out.
md5_ctx *md5_new(void);
void md5_reset(md5_ctx *ctx);
void md5_update(md5_ctx *ctx, const void *data, uint32_t len);
// Writes the digest, then clears the whole context to zero (a second final
// without md5_reset therefore gives a different digest).
void md5_final(md5_ctx *ctx, uint8_t out[MD5_DIGEST_LEN]);
void md5_digest(const void *data, uint32_t len, uint8_t out[MD5_DIGEST_LEN]);
void md5_destroy(md5_ctx **ctx);

#ifdef __cplusplus
}
#endif
