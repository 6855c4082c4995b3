#include "crypto.h"

#include <errno.h>
#include <limits.h>
#include <openssl/evp.h>

int sha1_init(struct sha1_ctx *ctx)
{
    ctx->md = EVP_MD_CTX_new();
    if (!ctx->md || EVP_DigestInit_ex(ctx->md, EVP_sha1(), NULL) != 1) {
        sha1_release(ctx);
        errno = ENOMEM;
        return -1;
    }
    return 0;
}

int sha1_update(struct sha1_ctx *ctx, const void *data, size_t len)
{
    return EVP_DigestUpdate(ctx->md, data, len) == 1 ? 0 : -1;
}

int sha1_final(struct sha1_ctx *ctx, unsigned char *digest)
{
    unsigned int n = 0;
    int ok = EVP_DigestFinal_ex(ctx->md, digest, &n) == 1;
    sha1_release(ctx);
    return ok ? 0 : -1;
}

void sha1_release(struct sha1_ctx *ctx)
{
    EVP_MD_CTX_free(ctx->md);
    ctx->md = NULL;
}

int sha1_buffer(const void *data, size_t len, unsigned char *digest)
{
    struct sha1_ctx ctx;
    if (sha1_init(&ctx) < 0)
        return -1;
    if (sha1_update(&ctx, data, len) < 0) {
        sha1_release(&ctx);
        return -1;
    }
    return sha1_final(&ctx, digest);
}

const struct hash_algo sha1_algo = {"sha-1", SHA1_RAWSZ, sha1_init, sha1_update, sha1_final};

int aes_cbc_start(struct aes_cbc *c, const unsigned char *key, const unsigned char *iv, int encrypt)
{
    c->encrypt = encrypt;
    c->ctx = EVP_CIPHER_CTX_new();
    if (!c->ctx || EVP_CipherInit_ex(c->ctx, EVP_aes_256_cbc(), NULL, key, iv, encrypt ? 1 : 0) != 1 ||
        EVP_CIPHER_CTX_set_padding(c->ctx, 0) != 1) {
        aes_cbc_release(c);
        errno = ENOMEM;
        return -1;
    }
    return 0;
}

int aes_cbc_update(struct aes_cbc *c, const unsigned char *in, unsigned char *out, size_t len)
{
    while (len) {
        int piece =
            len > (size_t)INT_MAX - AES_BLOCKSZ ? (INT_MAX - AES_BLOCKSZ) & ~(AES_BLOCKSZ - 1) : (int)len;
        int n = 0;
        if (EVP_CipherUpdate(c->ctx, out, &n, in, piece) != 1 || n != piece) {
            errno = EINVAL;
            return -1;
        }
        in += piece;
        out += piece;
        len -= (size_t)piece;
    }
    return 0;
}

void aes_cbc_release(struct aes_cbc *c)
{
    EVP_CIPHER_CTX_free(c->ctx);
    c->ctx = NULL;
}
