// Helpers shared by the processing operations (geometry, intensity, filters).
#pragma once

#include <imagebase>

#include "elements.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iostream>
#include <type_traits>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// Marks a hot loop to be built twice, for the baseline instruction set and for
// AVX2, the one to run chosen when the program loads. The sanitizers' builds
// keep one version.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__SANITIZE_ADDRESS__)
#define LUMEN_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define LUMEN_CLONES
#endif

namespace Lumen::detail {

using std::ptrdiff_t;

// Rows of n elements as floats (static_cast, convert.cpp), and floats stored
// into elements by the conversion rule (fromFloat), several at a time.
void toFloats(const char* from, float* to, size_t n);
void toFloats(const unsigned char* from, float* to, size_t n);
void toFloats(const short* from, float* to, size_t n);
void toFloats(const unsigned short* from, float* to, size_t n);
void toFloats(const int* from, float* to, size_t n);
void toFloats(const unsigned int* from, float* to, size_t n);
void toFloats(const float* from, float* to, size_t n);
void toFloats(const double* from, float* to, size_t n);
void fromFloats(char* out, const float* v, size_t n);
void fromFloats(unsigned char* out, const float* v, size_t n);
void fromFloats(short* out, const float* v, size_t n);
void fromFloats(unsigned short* out, const float* v, size_t n);
void fromFloats(int* out, const float* v, size_t n);
void fromFloats(unsigned int* out, const float* v, size_t n);
void fromFloats(float* out, const float* v, size_t n);
void fromFloats(double* out, const float* v, size_t n);

// Sets new extents (channels unchanged) and the strides derived from them; the
// caller has checked that the element count fits 32 bits.
inline void setExtents(Image& image, int x, int y, int z, int t)
{
    image.m_dim[0] = x;
    image.m_dim[1] = y;
    image.m_dim[2] = z;
    image.m_dim[3] = t;
    image.m_stride = image.m_channels * x;
    image.m_slice_size = image.m_stride * y;
    image.m_frame_size = image.m_slice_size * z;
    image.m_image_size = image.m_frame_size * t;
}

// Replaces the buffer; the new one is always owned by the image.
template <class T>
void installBuffer(ImageBase<T>& image, T* data)
{
    image.releaseData();
    image.m_external = false;
    image.m_data = data;
}

// Elements as floats: the buffer itself for float images, else a converted copy.
template <class T>
const float* asFloats(const T* data, size_t count, std::vector<float>& scratch)
{
    if constexpr (std::is_same_v<T, float>) {
        (void)count, (void)scratch;
        return data;
    } else {
        scratch.resize(count);
        toFloats(data, scratch.data(), count);
        return scratch.data();
    }
}

// Rows of one slice as floats, converted a band at a time so that the copy
// stays in cache while the rows around it are read. row(y) is valid together
// with the `halo` rows on each side that lie inside the slice; y must not
// decrease from call to call. Float slices are read in place.
template <class T>
class FloatRows {
public:
    // A halo beyond the slice reads nothing more than the slice itself, so the
    // band never holds more rows than the slice has, whatever window asked.
    FloatRows(const T* slice, int nx, int ny, int halo)
        : m_slice(slice)
        , m_nx(std::max(nx, 0))
        , m_ny(std::max(ny, 0))
        , m_halo(std::clamp(halo, 0, m_ny))
    {
        if constexpr (!std::is_same_v<T, float>)
            m_band.resize(size_t(std::min<int64_t>(kBand + int64_t(2) * m_halo, m_ny)) * size_t(m_nx));
    }

    const float* row(int y)
    {
        if constexpr (std::is_same_v<T, float>) {
            return m_slice + size_t(y) * m_nx;
        } else {
            if (y < m_first || y >= m_first + kBand) {
                m_first = y;
                m_start = std::max(y - m_halo, 0);
                const int end = int(std::min<int64_t>(int64_t(y) + kBand + m_halo, m_ny));
                const T* from = m_slice + size_t(m_start) * m_nx;
                toFloats(from, m_band.data(), size_t(end - m_start) * m_nx);
            }
            return m_band.data() + size_t(y - m_start) * m_nx;
        }
    }

private:
    static constexpr int kBand = 32;
    const T* m_slice;
    int m_nx, m_ny, m_halo;
    int m_first = -1 - kBand, m_start = 0;
    std::vector<float> m_band;
};

inline bool isSignedTypeCode(int code)
{
    return code == TypeChar || code == TypeShort || code == TypeInt || code == TypeFloat || code == TypeDouble;
}

// Folds n values into [lowest, highest] as `if (v < lowest) lowest = v` and
// `if (v > highest) highest = v` would (convolve.cpp).
void rowRange(const float* v, size_t n, float& lowest, float& highest);

// The running range of written values: starts at 1e16 / -1e16 and follows
// `if (v < min) min = v; if (v > max) max = v;`. The values written never hold
// a negative zero, so lanes may be combined in any order; NaN never enters.
struct Range {
    float min = 1e16f;
    float max = -1e16f;

    void add(float v)
    {
        if (v < min)
            min = v;
        if (v > max)
            max = v;
    }

    void add(const float* v, size_t n) { rowRange(v, n, min, max); }
};

// out[2i] = a[i] and out[2i + 1] = b[i]: two channels into voxels.
inline void interleave(const float* a, const float* b, float* out, size_t n)
{
    size_t i = 0;
#if defined(__SSE2__)
    for (; i + 4 <= n; i += 4) {
        const __m128 x = _mm_loadu_ps(a + i), y = _mm_loadu_ps(b + i);
        _mm_storeu_ps(out + 2 * i, _mm_unpacklo_ps(x, y));
        _mm_storeu_ps(out + 2 * i + 4, _mm_unpackhi_ps(x, y));
    }
#endif
    for (; i < n; ++i) {
        out[2 * i] = a[i];
        out[2 * i + 1] = b[i];
    }
}

// out[2i] = fromFloat(a[i]) and out[2i + 1] = fromFloat(b[i]): two channels
// stored into voxels in one pass.
void fromFloatPairs(short* out, const float* a, const float* b, size_t n);

// The same as n calls of fromFloat.
template <class U>
void storeConverted(U* out, const float* v, size_t n)
{
    fromFloats(out, v, n);
}

// Writes computed values into an output image exactly as a run of setNext calls
// from a reset cursor would: in memory order, stored by the output's own
// conversion rule, values past its end dropped. Typed stores replace the
// per-element virtual call.
class OutputWriter {
public:
    explicit OutputWriter(Image* image)
        : m_image(image)
        , m_size(image->m_image_size)
    {
        image->resetCursor();
        (void)(bind<char>() || bind<unsigned char>() || bind<short>() || bind<unsigned short>() || bind<int>()
            || bind<unsigned int>() || bind<float>() || bind<double>());
    }

    void put(const float* values, size_t n)
    {
        const int64_t room = std::max<int64_t>(0, std::min<int64_t>(int64_t(n), m_size - m_written));
        switch (m_kind) {
        case Kind::Char: store(static_cast<char*>(m_data), values, room); break;
        case Kind::UnsignedChar: store(static_cast<unsigned char*>(m_data), values, room); break;
        case Kind::Short: store(static_cast<short*>(m_data), values, room); break;
        case Kind::UnsignedShort: store(static_cast<unsigned short*>(m_data), values, room); break;
        case Kind::Int: store(static_cast<int*>(m_data), values, room); break;
        case Kind::UnsignedInt: store(static_cast<unsigned int*>(m_data), values, room); break;
        case Kind::Float: store(static_cast<float*>(m_data), values, room); break;
        case Kind::Double: store(static_cast<double*>(m_data), values, room); break;
        case Kind::Virtual:
            for (int64_t i = 0; i < room; ++i)
                m_image->setNext(values[i]);
            break;
        case Kind::None: break;
        }
        advance(n);
    }

    // Where the next n values go when the output holds floats and has room for
    // all of them: the caller writes them there itself and then calls
    // advance(n), sparing a copy. Null otherwise (use put).
    template <class U = float>
    U* direct(size_t n)
    {
        if (m_kind != kindOf<U>() || int64_t(n) > m_size - m_written)
            return nullptr;
        return static_cast<U*>(m_data) + m_written;
    }

    void advance(size_t n)
    {
        m_written += int64_t(n);
        m_image->m_cursor = int(std::min<int64_t>(m_written, m_size));
    }

    void putZeros(size_t n)
    {
        static const float zeros[256] = {};
        while (n) {
            const size_t k = std::min<size_t>(n, 256);
            put(zeros, k);
            n -= k;
        }
    }

private:
    enum class Kind { None, Virtual, Char, UnsignedChar, Short, UnsignedShort, Int, UnsignedInt, Float, Double };

    template <class U>
    static constexpr Kind kindOf()
    {
        if constexpr (std::is_same_v<U, char>) return Kind::Char;
        if constexpr (std::is_same_v<U, unsigned char>) return Kind::UnsignedChar;
        if constexpr (std::is_same_v<U, short>) return Kind::Short;
        if constexpr (std::is_same_v<U, unsigned short>) return Kind::UnsignedShort;
        if constexpr (std::is_same_v<U, int>) return Kind::Int;
        if constexpr (std::is_same_v<U, unsigned int>) return Kind::UnsignedInt;
        if constexpr (std::is_same_v<U, float>) return Kind::Float;
        return Kind::Double;
    }

    template <class U>
    bool bind()
    {
        auto* typed = dynamic_cast<ImageBase<U>*>(m_image);
        if (!typed)
            return false;
        // Without a buffer nothing can be stored (setNext would write through null).
        m_kind = typed->m_data ? kindOf<U>() : Kind::None;
        m_data = typed->m_data;
        return true;
    }

    template <class U>
    void store(U* base, const float* values, int64_t n)
    {
        storeConverted(base + m_written, values, size_t(n));
    }

    Image* m_image;
    int64_t m_size;
    int64_t m_written = 0;
    Kind m_kind = Kind::Virtual;
    void* m_data = nullptr;
};

struct Tap {
    float weight;
    ptrdiff_t offset; // from the output voxel, in elements of the float plane
};

// Interior of one output row: out[x] for x in [begin, end) is the sum, from 0
// and in tap order, of weight * source[x + offset]. Each output keeps its own
// order of summation; the vector lanes run across x (convolve.cpp).
void convolveRow(float* out, const float* source, const Tap* taps, size_t tapCount, int begin, int end);

// One row of the default 3 x 3 derivative pair in its separable form, for
// 1 <= x <= n-2. `next` is image row y+1; sAbove holds the smoothed row
// f[x-1] + 2f[x] + f[x+1] of row y-1, dAbove and dCentre the differenced rows
// f[x-1] - f[x+1] of rows y-1 and y; sNext and dNext receive both for row y+1.
// g0 = s(y-1) - s(y+1) and g1 = d(y-1) + 2d(y) + d(y+1) go to g0[x] and g1[x],
// or, when `voxels` is not null, stored by fromFloat as the short pair
// voxels[2(x-1)], voxels[2(x-1)+1]; [lowest, highest] takes in every value as
// Range does. For the 8- and 16-bit integer types alone: their sums stay
// integers below 2^24, where every order of summation is exact and so gives
// the bits of the taps in their order. smoothAndDiffer makes the two rows of f
// alone (convolve.cpp).
#define LUMEN_DECLARE_SOBEL(S)                                                                                  \
    void sobelRow(float* g0, float* g1, short* voxels, const S* next, const float* sAbove, const float* dAbove, \
        const float* dCentre, float* sNext, float* dNext, int n, float& lowest, float& highest);              \
    void smoothAndDiffer(const S* f, float* s, float* d, int n);
LUMEN_DECLARE_SOBEL(char)
LUMEN_DECLARE_SOBEL(unsigned char)
LUMEN_DECLARE_SOBEL(short)
LUMEN_DECLARE_SOBEL(unsigned short)
#undef LUMEN_DECLARE_SOBEL

// The output of a derived image: the caller's, or a new one of `type` with the
// given layout and the source's spacing. Null when no image exists for `type`.
inline Image* prepareOutput(const Image& source, int type, Image* output, int x, int y, int z, int t, int c)
{
    if (output)
        return output;
    Image* made = createImage(type);
    if (!made)
        return nullptr;
    made->init(x, y, z, t, c);
    made->setSpacing(source.m_spacing[0], source.m_spacing[1], source.m_spacing[2], source.m_spacing[3]);
    return made;
}

// Resolves the output type code of a derived image (0 means the image's own
// default) and refuses unsigned codes with the operation's message, e.g.
// "Error: unsigned data type, cannot compute gradient!".
inline bool signedOutputType(int& type, int defaultType, const char* result)
{
    if (type == 0)
        type = defaultType;
    if (type & 1) {
        std::cout << "Error: unsigned data type, cannot compute " << result << "!" << std::endl;
        return false;
    }
    return true;
}

} // namespace Lumen::detail

// Explicit instantiation of one member for the eight element types.
#define LUMEN_FOR_EACH_ELEMENT_TYPE(MACRO) \
    MACRO(char)                            \
    MACRO(unsigned char)                   \
    MACRO(short)                           \
    MACRO(unsigned short)                  \
    MACRO(int)                             \
    MACRO(unsigned int)                    \
    MACRO(float)                           \
    MACRO(double)
