// The inner loop shared by the filter and the derivatives. Built twice, for
// the baseline instruction set and for AVX2, chosen when the program loads;
// both run the same float multiplies and adds in the same order (no fused
// multiply-add: the library is built with -ffp-contract=off), so they give
// the same bits.
#include "operations.h"

namespace Lumen::detail {

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

namespace {

// Eight elements from memory of any alignment, widened to floats (exact for
// the 8- and 16-bit types).
template <class S>
inline __attribute__((always_inline)) void widen8(const S* p, Vec8& to)
{
    typedef S Lanes __attribute__((vector_size(8 * sizeof(S)), aligned(alignof(S)), may_alias));
    to = __builtin_convertvector(*reinterpret_cast<const Lanes*>(p), Vec8);
}

typedef int Int8 __attribute__((vector_size(32), aligned(4), may_alias));
typedef short Short8 __attribute__((vector_size(16), aligned(2), may_alias));

template <class S>
inline __attribute__((always_inline)) void sobel(float* g0, float* g1, short* voxels, const S* next,
    const float* sAbove, const float* dAbove, const float* dCentre, float* sNext, float* dNext, int n,
    float& lowest, float& highest)
{
    int x = 1;
    if (n - 1 >= 9) {
        Vec8 lo = {}, hi = {};
        lo += lowest;
        hi += highest;
        for (; x + 8 <= n - 1; x += 8) {
            Vec8 l, c, r;
            widen8(next + x - 1, l);
            widen8(next + x, c);
            widen8(next + x + 1, r);
            const Vec8 s = l + 2.0f * c + r, d = l - r;
            *reinterpret_cast<Vec8*>(sNext + x) = s;
            *reinterpret_cast<Vec8*>(dNext + x) = d;
            const Vec8 a = *reinterpret_cast<const Vec8*>(sAbove + x) - s;
            const Vec8 b = *reinterpret_cast<const Vec8*>(dAbove + x) + 2.0f * *reinterpret_cast<const Vec8*>(dCentre + x) + d;
            lo = a < lo ? a : lo;
            hi = a > hi ? a : hi;
            lo = b < lo ? b : lo;
            hi = b > hi ? b : hi;
            if (voxels) {
                // Whole numbers far inside the int range: the truncations are
                // exact, and the narrowing keeps the low 16 bits as fromFloat does.
                const Short8 p = __builtin_convertvector(__builtin_convertvector(a, Int8), Short8);
                const Short8 q = __builtin_convertvector(__builtin_convertvector(b, Int8), Short8);
                short* v = voxels + 2 * (x - 1);
                *reinterpret_cast<Short8*>(v) = __builtin_shufflevector(p, q, 0, 8, 1, 9, 2, 10, 3, 11);
                *reinterpret_cast<Short8*>(v + 8) = __builtin_shufflevector(p, q, 4, 12, 5, 13, 6, 14, 7, 15);
            } else {
                *reinterpret_cast<Vec8*>(g0 + x) = a;
                *reinterpret_cast<Vec8*>(g1 + x) = b;
            }
        }
        for (int k = 0; k < 8; ++k) {
            if (lo[k] < lowest)
                lowest = lo[k];
            if (hi[k] > highest)
                highest = hi[k];
        }
    }
    for (; x < n - 1; ++x) {
        const float l = next[x - 1], c = next[x], r = next[x + 1];
        const float s = l + 2.0f * c + r, d = l - r;
        sNext[x] = s;
        dNext[x] = d;
        const float a = sAbove[x] - s, b = dAbove[x] + 2.0f * dCentre[x] + d;
        for (float v : {a, b}) {
            if (v < lowest)
                lowest = v;
            if (v > highest)
                highest = v;
        }
        if (voxels) {
            voxels[2 * (x - 1)] = fromFloat<short>(a);
            voxels[2 * (x - 1) + 1] = fromFloat<short>(b);
        } else {
            g0[x] = a;
            g1[x] = b;
        }
    }
}

template <class S>
void smoothAndDifferRow(const S* f, float* s, float* d, int n)
{
    for (int x = 1; x < n - 1; ++x) {
        const float l = f[x - 1], c = f[x], r = f[x + 1];
        s[x] = l + 2.0f * c + r;
        d[x] = l - r;
    }
}

} // namespace

#define LUMEN_SOBEL(S)                                                                                      \
    LUMEN_CLONES void sobelRow(float* g0, float* g1, short* voxels, const S* next, const float* sAbove,       \
        const float* dAbove, const float* dCentre, float* sNext, float* dNext, int n, float& lowest,         \
        float& highest)                                                                                     \
    {                                                                                                       \
        sobel(g0, g1, voxels, next, sAbove, dAbove, dCentre, sNext, dNext, n, lowest, highest);             \
    }                                                                                                       \
    void smoothAndDiffer(const S* f, float* s, float* d, int n) { smoothAndDifferRow(f, s, d, n); }
LUMEN_SOBEL(char)
LUMEN_SOBEL(unsigned char)
LUMEN_SOBEL(short)
LUMEN_SOBEL(unsigned short)
#undef LUMEN_SOBEL

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
