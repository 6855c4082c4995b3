// Thin layer over OpenSSL's EVP interface: SHA-1 and AES-256-CBC without padding.
#pragma once

#include <stddef.h>

typedef struct evp_md_ctx_st EVP_MD_CTX;
typedef struct evp_cipher_ctx_st EVP_CIPHER_CTX;

enum { SHA1_RAWSZ = 20, AES_KEYSZ = 32, AES_BLOCKSZ = 16 };

struct sha1_ctx {
    EVP_MD_CTX *md;
};

int sha1_init(struct sha1_ctx *ctx);
int sha1_update(struct sha1_ctx *ctx, const void *data, size_t len);
int sha1_final(struct sha1_ctx *ctx, unsigned char *digest);
void sha1_release(struct sha1_ctx *ctx);
int sha1_buffer(const void *data, size_t len, unsigned char *digest);

// The engine's one hash algorithm record.
struct hash_algo {
    const char *name;
    size_t rawsz;
    int (*init)(struct sha1_ctx *);
    int (*update)(struct sha1_ctx *, const void *, size_t);
    int (*final)(struct sha1_ctx *, unsigned char *);
};
extern const struct hash_algo sha1_algo;

// One CBC chain: the context carries the running IV from piece to piece.
struct aes_cbc {
    EVP_CIPHER_CTX *ctx;
    int encrypt;
};

int aes_cbc_start(struct aes_cbc *c, const unsigned char *key, const unsigned char *iv, int encrypt);
// len is a multiple of 16; in and out may be the same buffer.
int aes_cbc_update(struct aes_cbc *c, const unsigned char *in, unsigned char *out, size_t len);
void aes_cbc_release(struct aes_cbc *c);
