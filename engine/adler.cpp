#include "adler.h"

#include <zlib.h>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define ADLER_HAVE_AVX2 1
#endif

namespace {

constexpr uint32_t kBase = 65521;

// Bytes per run between reductions: every 32-bit lane below stays far from overflow.
constexpr size_t kRun = 5536;  // 173 blocks of 32

#ifdef ADLER_HAVE_AVX2
__attribute__((target("avx2"))) uint64_t lanes_sum(__m256i v)
{
    alignas(32) uint32_t lane[8];
    _mm256_store_si256(reinterpret_cast<__m256i *>(lane), v);
    uint64_t sum = 0;
    for (uint32_t x : lane)
        sum += x;
    return sum;
}

// Over a run of k blocks of 32 bytes starting with sums a and b:
//   a' = a + all bytes,  b' = b + 32k*a + sum over blocks of (32 * bytes before it + its bytes
//   weighted 32 down to 1).
__attribute__((target("avx2"))) uint32_t adler_avx2(uint32_t adler, const unsigned char *p, size_t n)
{
    uint64_t a = adler & 0xffff, b = adler >> 16;
    const __m256i weights = _mm256_setr_epi8(32, 31, 30, 29, 28, 27, 26, 25, 24, 23, 22, 21, 20, 19, 18, 17,
                                             16, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1);
    const __m256i ones = _mm256_set1_epi16(1);
    const __m256i zero = _mm256_setzero_si256();
    while (n >= 32) {
        const size_t blocks = (n < kRun ? n : kRun) / 32;
        n -= blocks * 32;
        __m256i sum = zero, before = zero, weighted = zero;
        for (size_t k = 0; k < blocks; k++, p += 32) {
            const __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
            before = _mm256_add_epi32(before, sum);
            sum = _mm256_add_epi32(sum, _mm256_sad_epu8(x, zero));
            weighted = _mm256_add_epi32(weighted, _mm256_madd_epi16(_mm256_maddubs_epi16(x, weights), ones));
        }
        b += 32 * blocks * a + 32 * lanes_sum(before) + lanes_sum(weighted);
        a += lanes_sum(sum);
        a %= kBase;
        b %= kBase;
    }
    for (; n; n--) {
        a += *p++;
        b += a;
    }
    return (uint32_t)((b % kBase) << 16 | (a % kBase));
}
#endif

}  // namespace

uint32_t adler32_fast(uint32_t adler, const unsigned char *bytes, size_t len)
{
#ifdef ADLER_HAVE_AVX2
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2)
        return adler_avx2(adler, bytes, len);
#endif
    // zlib's takes at most a uInt at a time.
    uLong sum = adler;
    while (len) {
        const uInt n = len > 1u << 30 ? 1u << 30 : (uInt)len;
        sum = adler32(sum, bytes, n);
        bytes += n;
        len -= n;
    }
    return (uint32_t)sum;
}
