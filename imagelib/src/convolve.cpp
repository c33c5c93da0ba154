// The inner loop shared by the filter and the derivatives. Built twice, for
// the baseline instruction set and for AVX2, chosen when the program loads;
// both run the same float multiplies and adds in the same order (no fused
// multiply-add: the library is built with -ffp-contract=off), so they give
// the same bits.
#include "operations.h"

namespace Lumen::detail {

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__SANITIZE_ADDRESS__)
#define LUMEN_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define LUMEN_CLONES
#endif

namespace {

// Eight floats: one AVX register, or two SSE registers in the baseline build.
// Reached through pointers of this type (4-byte aligned, aliasing floats), so
// loads and stores need no particular alignment and no function passes a vector.
typedef float Vec8 __attribute__((vector_size(32), aligned(4), may_alias));

} // namespace

LUMEN_CLONES
void convolveRow(float* out, const float* source, const Tap* taps, size_t tapCount, int begin, int end)
{
    // Sixty-four outputs stay in registers while every tap is added to them:
    // with many taps, eight independent sums keep both adders busy despite
    // their latency (measured: 5 x 5 faster by a tenth, 3 x 3 slower by a
    // twentieth, where the processor already overlaps the shorter blocks).
    int x = begin;
    for (; tapCount > 12 && x + 64 <= end; x += 64) {
        Vec8 a = {}, b = {}, c = {}, d = {}, e = {}, f = {}, g = {}, h = {};
        for (size_t t = 0; t < tapCount; ++t) {
            const float* s = source + taps[t].offset + x;
            const float w = taps[t].weight;
            a += w * *reinterpret_cast<const Vec8*>(s);
            b += w * *reinterpret_cast<const Vec8*>(s + 8);
            c += w * *reinterpret_cast<const Vec8*>(s + 16);
            d += w * *reinterpret_cast<const Vec8*>(s + 24);
            e += w * *reinterpret_cast<const Vec8*>(s + 32);
            f += w * *reinterpret_cast<const Vec8*>(s + 40);
            g += w * *reinterpret_cast<const Vec8*>(s + 48);
            h += w * *reinterpret_cast<const Vec8*>(s + 56);
        }
        *reinterpret_cast<Vec8*>(out + x) = a;
        *reinterpret_cast<Vec8*>(out + x + 8) = b;
        *reinterpret_cast<Vec8*>(out + x + 16) = c;
        *reinterpret_cast<Vec8*>(out + x + 24) = d;
        *reinterpret_cast<Vec8*>(out + x + 32) = e;
        *reinterpret_cast<Vec8*>(out + x + 40) = f;
        *reinterpret_cast<Vec8*>(out + x + 48) = g;
        *reinterpret_cast<Vec8*>(out + x + 56) = h;
    }
    // Then thirty-two at a time with four sums.
    for (; x + 32 <= end; x += 32) {
        Vec8 a = {}, b = {}, c = {}, d = {};
        for (size_t t = 0; t < tapCount; ++t) {
            const float* s = source + taps[t].offset + x;
            const float w = taps[t].weight;
            a += w * *reinterpret_cast<const Vec8*>(s);
            b += w * *reinterpret_cast<const Vec8*>(s + 8);
            c += w * *reinterpret_cast<const Vec8*>(s + 16);
            d += w * *reinterpret_cast<const Vec8*>(s + 24);
        }
        *reinterpret_cast<Vec8*>(out + x) = a;
        *reinterpret_cast<Vec8*>(out + x + 8) = b;
        *reinterpret_cast<Vec8*>(out + x + 16) = c;
        *reinterpret_cast<Vec8*>(out + x + 24) = d;
    }
    for (; x + 8 <= end; x += 8) {
        Vec8 a = {};
        for (size_t t = 0; t < tapCount; ++t)
            a += taps[t].weight * *reinterpret_cast<const Vec8*>(source + taps[t].offset + x);
        *reinterpret_cast<Vec8*>(out + x) = a;
    }
    for (; x < end; ++x) {
        float sum = 0.0f;
        for (size_t t = 0; t < tapCount; ++t)
            sum += taps[t].weight * source[taps[t].offset + x];
        out[x] = sum;
    }
}

LUMEN_CLONES
void rowRange(const float* v, size_t n, float& lowest, float& highest)
{
    // Lane by lane `x < lo ? x : lo`: a NaN never enters, and since the values
    // hold no negative zero the lanes may be combined in any order.
    size_t i = 0;
    if (n >= 16) {
        Vec8 lo0 = {}, hi0 = {};
        lo0 += lowest;
        hi0 += highest;
        Vec8 lo1 = lo0, hi1 = hi0;
        for (; i + 16 <= n; i += 16) {
            const Vec8 x0 = *reinterpret_cast<const Vec8*>(v + i), x1 = *reinterpret_cast<const Vec8*>(v + i + 8);
            lo0 = x0 < lo0 ? x0 : lo0;
            hi0 = x0 > hi0 ? x0 : hi0;
            lo1 = x1 < lo1 ? x1 : lo1;
            hi1 = x1 > hi1 ? x1 : hi1;
        }
        for (int k = 0; k < 8; ++k) {
            for (float x : {lo0[k], lo1[k]})
                if (x < lowest)
                    lowest = x;
            for (float x : {hi0[k], hi1[k]})
                if (x > highest)
                    highest = x;
        }
    }
    for (; i < n; ++i) {
        if (v[i] < lowest)
            lowest = v[i];
        if (v[i] > highest)
            highest = v[i];
    }
}

} // namespace Lumen::detail
