// Rows of elements to floats and back, several at a time whatever the
// optimisation level: the loops are written with explicit vector types (built
// for the baseline instruction set and for AVX2, chosen when the program
// loads) or SSE2 intrinsics, so that they do not depend on the compiler's
// vectoriser. Each gives exactly the bits of its one-element rule.
#include "operations.h"

namespace Lumen::detail {

namespace {

typedef float Float8 __attribute__((vector_size(32), aligned(4), may_alias));

// Eight elements of type T, read from memory of any alignment.
template <class T>
struct Lanes8 {
    typedef T Type __attribute__((vector_size(8 * sizeof(T)), aligned(alignof(T)), may_alias));
};

// Elements to floats by the language's conversion (exact for all but the
// 32-bit integers and double, which round to nearest like static_cast).
template <class T>
inline __attribute__((always_inline)) void widen(const T* from, float* to, size_t n)
{
    typedef typename Lanes8<T>::Type Source;
    size_t i = 0;
    for (; i + 8 <= n; i += 8)
        *reinterpret_cast<Float8*>(to + i) = __builtin_convertvector(*reinterpret_cast<const Source*>(from + i), Float8);
    for (; i < n; ++i)
        to[i] = static_cast<float>(from[i]);
}

} // namespace

LUMEN_CLONES void toFloats(const char* from, float* to, size_t n) { widen(from, to, n); }
LUMEN_CLONES void toFloats(const unsigned char* from, float* to, size_t n) { widen(from, to, n); }
LUMEN_CLONES void toFloats(const short* from, float* to, size_t n) { widen(from, to, n); }
LUMEN_CLONES void toFloats(const unsigned short* from, float* to, size_t n) { widen(from, to, n); }
LUMEN_CLONES void toFloats(const int* from, float* to, size_t n) { widen(from, to, n); }
LUMEN_CLONES void toFloats(const unsigned int* from, float* to, size_t n) { widen(from, to, n); }
LUMEN_CLONES void toFloats(const double* from, float* to, size_t n) { widen(from, to, n); }
void toFloats(const float* from, float* to, size_t n)
{
    if (n)
        std::memcpy(to, from, sizeof(float) * n);
}

// Stores by the conversion rule (fromFloat). The processor's truncating
// conversion gives 0x80000000 for NaN and out-of-range values exactly as
// truncateToInt32 does, and narrower types keep the low bits (sign-extended
// before the packing so that the saturating pack changes nothing).
namespace {

template <class U>
inline void narrow(U* out, const float* v, size_t n)
{
    size_t i = 0;
#if defined(__SSE2__)
    for (; i + 8 <= n; i += 8) {
        __m128i a = _mm_cvttps_epi32(_mm_loadu_ps(v + i));
        __m128i b = _mm_cvttps_epi32(_mm_loadu_ps(v + i + 4));
        if constexpr (sizeof(U) == 4) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), a);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + 4), b);
        } else if constexpr (sizeof(U) == 2) {
            a = _mm_srai_epi32(_mm_slli_epi32(a, 16), 16);
            b = _mm_srai_epi32(_mm_slli_epi32(b, 16), 16);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packs_epi32(a, b));
        } else {
            a = _mm_srai_epi32(_mm_slli_epi32(a, 24), 24);
            b = _mm_srai_epi32(_mm_slli_epi32(b, 24), 24);
            const __m128i words = _mm_packs_epi32(a, b);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i), _mm_packs_epi16(words, words));
        }
    }
#endif
    for (; i < n; ++i)
        out[i] = fromFloat<U>(v[i]);
}

} // namespace

void fromFloats(char* out, const float* v, size_t n) { narrow(out, v, n); }
void fromFloats(unsigned char* out, const float* v, size_t n) { narrow(out, v, n); }
void fromFloats(short* out, const float* v, size_t n) { narrow(out, v, n); }
void fromFloats(unsigned short* out, const float* v, size_t n) { narrow(out, v, n); }
void fromFloats(int* out, const float* v, size_t n) { narrow(out, v, n); }

void fromFloats(unsigned int* out, const float* v, size_t n)
{
    size_t i = 0;
#if defined(__SSE2__)
    // [2^31, 2^32) does not fit the signed conversion: those values (whole
    // numbers, so exactly 2^31 more than v - 2^31) get the top bit back.
    const __m128 low = _mm_set1_ps(2147483648.0f), high = _mm_set1_ps(4294967296.0f);
    const __m128i top = _mm_set1_epi32(INT32_MIN);
    for (; i + 4 <= n; i += 4) {
        const __m128 x = _mm_loadu_ps(v + i);
        const __m128i upper = _mm_castps_si128(_mm_and_ps(_mm_cmpge_ps(x, low), _mm_cmplt_ps(x, high)));
        const __m128i direct = _mm_cvttps_epi32(x);
        const __m128i shifted = _mm_xor_si128(_mm_cvttps_epi32(_mm_sub_ps(x, low)), top);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i),
            _mm_or_si128(_mm_and_si128(upper, shifted), _mm_andnot_si128(upper, direct)));
    }
#endif
    for (; i < n; ++i)
        out[i] = fromFloat<unsigned int>(v[i]);
}

void fromFloatPairs(short* out, const float* a, const float* b, size_t n)
{
    size_t i = 0;
#if defined(__SSE2__)
    auto shorts = [](const float* v) {
        // Low 16 bits of the truncations, sign-extended so that the pack keeps them.
        const __m128i lo = _mm_srai_epi32(_mm_slli_epi32(_mm_cvttps_epi32(_mm_loadu_ps(v)), 16), 16);
        const __m128i hi = _mm_srai_epi32(_mm_slli_epi32(_mm_cvttps_epi32(_mm_loadu_ps(v + 4)), 16), 16);
        return _mm_packs_epi32(lo, hi);
    };
    for (; i + 8 <= n; i += 8) {
        const __m128i x = shorts(a + i), y = shorts(b + i);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * i), _mm_unpacklo_epi16(x, y));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * i + 8), _mm_unpackhi_epi16(x, y));
    }
#endif
    for (; i < n; ++i) {
        out[2 * i] = fromFloat<short>(a[i]);
        out[2 * i + 1] = fromFloat<short>(b[i]);
    }
}

void fromFloats(float* out, const float* v, size_t n)
{
    if (n)
        std::memcpy(out, v, sizeof(float) * n);
}

void fromFloats(double* out, const float* v, size_t n)
{
    size_t i = 0;
#if defined(__SSE2__)
    for (; i + 4 <= n; i += 4) {
        const __m128 x = _mm_loadu_ps(v + i);
        _mm_storeu_pd(out + i, _mm_cvtps_pd(x));
        _mm_storeu_pd(out + i + 2, _mm_cvtps_pd(_mm_movehl_ps(x, x)));
    }
#endif
    for (; i < n; ++i)
        out[i] = v[i];
}

} // namespace Lumen::detail
