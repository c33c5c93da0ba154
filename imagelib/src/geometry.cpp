// Geometry: block-average downsampling, quarter turns, mirroring and padding to
// powers of two. Each builds a new buffer and swaps it in.
#include "operations.h"

#include <cstring>
#include <iostream>
#include <utility>

namespace Lumen {

using namespace detail;

namespace {

// Adds one source row's samples to the block sums: sample x of the row is
// row[x * step + c] for channel c. Kept apart so that the one-channel case
// compiles to a plain strided loop.
template <class T>
void accumulateRow(float* sums, const T* row, int nx, int step, int channels)
{
    if (channels == 1) {
        for (int x = 0; x < nx; ++x)
            sums[x] += static_cast<float>(row[size_t(x) * step]);
        return;
    }
    for (int x = 0; x < nx; ++x)
        for (int c = 0; c < channels; ++c)
            sums[size_t(x) * channels + c] += static_cast<float>(row[size_t(x) * step + c]);
}

#if defined(__SSE2__)
// Four pairs of samples from p: the first and the second of each pair as floats.
template <class T>
constexpr bool kSplitsPairs = std::is_same_v<T, float> || std::is_same_v<T, short> || std::is_same_v<T, unsigned short>;

template <class T>
void splitPairs(const T* p, __m128& first, __m128& second)
{
    if constexpr (std::is_same_v<T, float>) {
        const __m128 a = _mm_loadu_ps(p), b = _mm_loadu_ps(p + 4);
        first = _mm_shuffle_ps(a, b, 0x88);
        second = _mm_shuffle_ps(a, b, 0xDD);
    } else {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        if constexpr (std::is_same_v<T, short>) {
            first = _mm_cvtepi32_ps(_mm_srai_epi32(_mm_slli_epi32(v, 16), 16));
            second = _mm_cvtepi32_ps(_mm_srai_epi32(v, 16));
        } else {
            first = _mm_cvtepi32_ps(_mm_and_si128(v, _mm_set1_epi32(0xFFFF)));
            second = _mm_cvtepi32_ps(_mm_srli_epi32(v, 16));
        }
    }
}
#endif

// The common halving of one-channel rows: both samples of a block row in one
// pass, added in their order.
template <class T>
void accumulatePairs(float* sums, const T* row, int nx)
{
    int x = 0;
#if defined(__SSE2__)
    if constexpr (kSplitsPairs<T>) {
        for (; x + 4 <= nx; x += 4) {
            __m128 first, second;
            splitPairs(row + 2 * x, first, second);
            _mm_storeu_ps(sums + x, _mm_add_ps(_mm_add_ps(_mm_loadu_ps(sums + x), first), second));
        }
    }
#endif
    for (; x < nx; ++x)
        sums[x] = (sums[x] + static_cast<float>(row[2 * x])) + static_cast<float>(row[2 * x + 1]);
}

// 2 x 2 blocks of one-channel rows r0 (upper) and r1 in one pass: the block sum
// ((((0 + r0[2x]) + r0[2x+1]) + r1[2x]) + r1[2x+1]) in its order, times a
// quarter, which is exact and so equals the division by 4.
template <class T>
void quarterSums(float* out, const T* r0, const T* r1, int nx)
{
    int x = 0;
#if defined(__SSE2__)
    if constexpr (kSplitsPairs<T>) {
        const __m128 quarter = _mm_set1_ps(0.25f);
        // Two groups per step keep more loads in flight.
        for (; x + 8 <= nx; x += 8) {
            __m128 a, b, c, d, e, f, g, h;
            splitPairs(r0 + 2 * x, a, b);
            splitPairs(r1 + 2 * x, c, d);
            splitPairs(r0 + 2 * x + 8, e, f);
            splitPairs(r1 + 2 * x + 8, g, h);
            const __m128 zero = _mm_setzero_ps();
            const __m128 s0 = _mm_add_ps(_mm_add_ps(_mm_add_ps(_mm_add_ps(zero, a), b), c), d);
            const __m128 s1 = _mm_add_ps(_mm_add_ps(_mm_add_ps(_mm_add_ps(zero, e), f), g), h);
            _mm_storeu_ps(out + x, _mm_mul_ps(s0, quarter));
            _mm_storeu_ps(out + x + 4, _mm_mul_ps(s1, quarter));
        }
        for (; x + 4 <= nx; x += 4) {
            __m128 a, b, c, d;
            splitPairs(r0 + 2 * x, a, b);
            splitPairs(r1 + 2 * x, c, d);
            const __m128 sum = _mm_add_ps(_mm_add_ps(_mm_add_ps(_mm_add_ps(_mm_setzero_ps(), a), b), c), d);
            _mm_storeu_ps(out + x, _mm_mul_ps(sum, quarter));
        }
    }
#endif
    for (; x < nx; ++x) {
        float sum = 0.0f;
        sum += static_cast<float>(r0[2 * x]);
        sum += static_cast<float>(r0[2 * x + 1]);
        sum += static_cast<float>(r1[2 * x]);
        sum += static_cast<float>(r1[2 * x + 1]);
        out[x] = sum * 0.25f;
    }
}

#if defined(__SSE2__)
// The sixteen bytes of v in reverse order of elements of the given size.
template <size_t Size>
__m128i reverseElements(__m128i v)
{
    v = _mm_shuffle_epi32(v, 0x4E); // swap the two halves: enough for 8-byte elements
    if constexpr (Size <= 4)
        v = _mm_shuffle_epi32(v, 0xB1);
    if constexpr (Size <= 2)
        v = _mm_shufflehi_epi16(_mm_shufflelo_epi16(v, 0xB1), 0xB1);
    if constexpr (Size == 1)
        v = _mm_or_si128(_mm_slli_epi16(v, 8), _mm_srli_epi16(v, 8));
    return v;
}
#endif

// dst[x] = src[n - 1 - x] for one-element voxels (dst and src apart).
template <class T>
void reverseRow(T* dst, const T* src, int n)
{
    int x = 0;
#if defined(__SSE2__)
    constexpr int kPerVector = int(16 / sizeof(T));
    for (; x + kPerVector <= n; x += kPerVector) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + n - x - kPerVector));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + x), reverseElements<sizeof(T)>(v));
    }
#endif
    for (; x < n; ++x)
        dst[x] = src[n - 1 - x];
}

// Reverses a row of one-element voxels in place.
template <class T>
void reverseInPlace(T* row, int n)
{
    int lo = 0, hi = n;
#if defined(__SSE2__)
    constexpr int kPerVector = int(16 / sizeof(T));
    for (; hi - lo >= 2 * kPerVector; lo += kPerVector, hi -= kPerVector) {
        const __m128i front = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + lo));
        const __m128i back = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + hi - kPerVector));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(row + lo), reverseElements<sizeof(T)>(back));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(row + hi - kPerVector), reverseElements<sizeof(T)>(front));
    }
#endif
    std::reverse(row + lo, row + hi);
}

// 2 x 2 block means of short rows in integer arithmetic. The float sum of
// four shorts is a whole number below 2^24 and exact at every step, and so is
// its quarter, so truncating it equals dividing the integer sum by 4 with
// truncation toward zero: the same results, without the float round trip.
void halveShorts(short* out, const short* r0, const short* r1, int nx)
{
    int x = 0;
#if defined(__SSE2__)
    const __m128i ones = _mm_set1_epi16(1), three = _mm_set1_epi32(3);
    auto quarter = [&](const short* p, const short* q) {
        // madd adds the two shorts of each pair into 32 bits.
        const __m128i sum = _mm_add_epi32(
            _mm_madd_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), ones),
            _mm_madd_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(q)), ones));
        // Round toward zero: add 3 to negative sums before the arithmetic shift.
        return _mm_srai_epi32(_mm_add_epi32(sum, _mm_and_si128(_mm_srai_epi32(sum, 31), three)), 2);
    };
    for (; x + 8 <= nx; x += 8) {
        const __m128i lo = quarter(r0 + 2 * x, r1 + 2 * x), hi = quarter(r0 + 2 * x + 8, r1 + 2 * x + 8);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), _mm_packs_epi32(lo, hi));
    }
#endif
    for (; x < nx; ++x)
        out[x] = short((int(r0[2 * x]) + r0[2 * x + 1] + r1[2 * x] + r1[2 * x + 1]) / 4);
}

#if defined(__SSE2__)
#define LUMEN_INLINE inline __attribute__((always_inline))

template <size_t Size>
LUMEN_INLINE __m128i unpackLow(__m128i a, __m128i b)
{
    if constexpr (Size == 1)
        return _mm_unpacklo_epi8(a, b);
    else if constexpr (Size == 2)
        return _mm_unpacklo_epi16(a, b);
    else if constexpr (Size == 4)
        return _mm_unpacklo_epi32(a, b);
    else
        return _mm_unpacklo_epi64(a, b);
}

template <size_t Size>
LUMEN_INLINE __m128i unpackHigh(__m128i a, __m128i b)
{
    if constexpr (Size == 1)
        return _mm_unpackhi_epi8(a, b);
    else if constexpr (Size == 2)
        return _mm_unpackhi_epi16(a, b);
    else if constexpr (Size == 4)
        return _mm_unpackhi_epi32(a, b);
    else
        return _mm_unpackhi_epi64(a, b);
}

// One round of the transpose of K = 16 / Size rows: row i interleaved with row
// i + K/2. After log2(K) rounds row i holds what was column i. Unrolled by
// the template rather than by the optimiser, so that the rows stay in
// registers at any optimisation level.
template <size_t Size, size_t... I>
LUMEN_INLINE void interleaveRound(__m128i* r, std::index_sequence<I...>)
{
    constexpr size_t K = 16 / Size;
    const __m128i low[] = {unpackLow<Size>(r[I], r[I + K / 2])...};
    const __m128i high[] = {unpackHigh<Size>(r[I], r[I + K / 2])...};
    ((r[2 * I] = low[I], r[2 * I + 1] = high[I]), ...);
}

template <size_t Size, size_t Rounds>
LUMEN_INLINE void transposeRounds(__m128i* r)
{
    if constexpr (Rounds > 0) {
        interleaveRound<Size>(r, std::make_index_sequence<16 / Size / 2>());
        transposeRounds<Size, Rounds / 2>(r);
    }
}

// The K x K block at src (rows sb apart) turned into dst (rows da apart): row
// j of the source becomes column j of the destination, or column K-1-j when
// Reverse.
template <bool Reverse, class T, size_t... J>
LUMEN_INLINE void turnBlock(const T* src, ptrdiff_t sb, T* dst, ptrdiff_t da, std::index_sequence<J...>)
{
    constexpr size_t K = sizeof...(J);
    __m128i r[K] = {_mm_loadu_si128(
        reinterpret_cast<const __m128i*>(src + ptrdiff_t(Reverse ? K - 1 - J : J) * sb))...};
    transposeRounds<sizeof(T), K / 2>(r);
    (_mm_storeu_si128(reinterpret_cast<__m128i*>(dst + ptrdiff_t(J) * da), r[J]), ...);
}

// The one-element grid copy of copyGrid when the source runs along a
// (sa = 1) and the destination along b (db = 1 or -1): blocks of 16 bytes
// square turned in registers. Bands of 64 bytes of b keep every destination
// line whole in cache while a runs across the grid. Returns how many elements
// of a it covered (whole blocks); the caller copies the rest.
template <bool Reverse, class T>
int transposeGrid(const T* src, ptrdiff_t sb, T* dst, ptrdiff_t da, int na, int nb)
{
    constexpr int K = int(16 / sizeof(T));
    constexpr int kBand = int(64 / sizeof(T));
    const ptrdiff_t db = Reverse ? -1 : 1;
    const int aEnd = na - na % K, bEnd = nb - nb % K;
    for (int b0 = 0; b0 < bEnd; b0 += kBand) {
        const int b1 = std::min(bEnd, b0 + kBand);
        for (int a = 0; a < aEnd; a += K)
            for (int b = b0; b < b1; b += K)
                turnBlock<Reverse>(src + a + ptrdiff_t(b) * sb, sb,
                    dst + ptrdiff_t(a) * da + (Reverse ? -(b + K - 1) : b), da, std::make_index_sequence<K>());
    }
    // Columns b past the last whole block, for the covered a.
    for (int a = 0; a < aEnd; ++a)
        for (int b = bEnd; b < nb; ++b)
            dst[ptrdiff_t(a) * da + ptrdiff_t(b) * db] = src[a + ptrdiff_t(b) * sb];
    return aEnd;
}
#endif

// Copies an na x nb grid of voxels of `channels` elements: voxel (a, b) of the
// source at src + a*sa + b*sb goes to dst + a*da + b*db (strides in elements).
// Tiled so that both sides stay in cache when one of them is walked across rows.
template <class T>
void copyGrid(const T* src, ptrdiff_t sa, ptrdiff_t sb, T* dst, ptrdiff_t da, ptrdiff_t db, int na, int nb,
    int channels)
{
#if defined(__SSE2__)
    if (channels == 1 && sa == 1 && (db == 1 || db == -1)) {
        const int done = db > 0 ? transposeGrid<false>(src, sb, dst, da, na, nb)
                                : transposeGrid<true>(src, sb, dst, da, na, nb);
        src += done;
        dst += ptrdiff_t(done) * da;
        na -= done;
    }
#endif
    constexpr int kTile = sizeof(T) <= 2 ? 16 : 32; // measured on 2048 x 2048 turns
    for (int a0 = 0; a0 < na; a0 += kTile) {
        const int a1 = std::min(na, a0 + kTile);
        for (int b0 = 0; b0 < nb; b0 += kTile) {
            const int b1 = std::min(nb, b0 + kTile);
            for (int a = a0; a < a1; ++a) {
                const T* s = src + a * sa;
                T* d = dst + a * da;
                if (channels == 1) {
                    for (int b = b0; b < b1; ++b)
                        d[b * db] = s[b * sb];
                } else {
                    for (int b = b0; b < b1; ++b)
                        std::memcpy(d + b * db, s + b * sb, sizeof(T) * size_t(channels));
                }
            }
        }
    }
}

} // namespace

template <class T>
Image* ImageBase<T>::downsample(int fx, int fy, int fz, int ft, bool newImage)
{
    if (!m_data || fx < 1 || fy < 1 || fz < 1 || ft < 1)
        return nullptr;

    const int channels = m_channels;
    const int nx = m_dim[0] / fx, ny = m_dim[1] / fy, nz = m_dim[2] / fz, nt = m_dim[3] / ft;
    const size_t count = size_t(nx) * ny * nz * nt * channels;

    ImageBase<T>* created = nullptr;
    T* out = nullptr;
    if (newImage) {
        created = new ImageBase<T>();
        created->init(nx, ny, nz, nt, channels);
        out = created->m_data;
        if (!out && count) {
            delete created;
            return nullptr;
        }
    } else if (count) {
        out = allocateElements<T>(count);
        if (!out)
            return nullptr;
    }

    if (count) {
        // The block never exceeds the image, so the product fits 32 bits here.
        const int blockSize = fx * fy * fz * ft;
        const float divisor = static_cast<float>(blockSize);
        // Dividing by a power of two equals multiplying by its exact reciprocal.
        const bool powerOfTwo = (blockSize & (blockSize - 1)) == 0;
        const float reciprocal = 1.0f / divisor;

        const bool halving = fx == 2 && fy == 2 && fz == 1 && ft == 1 && channels == 1;
        const size_t rowLength = size_t(nx) * channels;
        std::vector<float> sums(rowLength);
        T* dst = out;
        for (int t = 0; t < nt; ++t)
            for (int z = 0; z < nz; ++z)
                for (int y = 0; y < ny; ++y) {
                    if (halving) {
                        const T* r0 = m_data + size_t(t) * m_frame_size + size_t(z) * m_slice_size
                            + size_t(2 * y) * m_stride;
                        if constexpr (std::is_same_v<T, short>) {
                            halveShorts(dst, r0, r0 + m_stride, nx);
                        } else if constexpr (std::is_same_v<T, float>) {
                            quarterSums(dst, r0, r0 + m_stride, nx); // floats need no conversion
                        } else {
                            quarterSums(sums.data(), r0, r0 + m_stride, nx);
                            storeConverted(dst, sums.data(), rowLength);
                        }
                        dst += rowLength;
                        continue;
                    }
                    std::fill(sums.begin(), sums.end(), 0.0f);
                    for (int l = 0; l < ft; ++l)
                        for (int k = 0; k < fz; ++k)
                            for (int j = 0; j < fy; ++j) {
                                const T* row = m_data + size_t(t * ft + l) * m_frame_size
                                    + size_t(z * fz + k) * m_slice_size + size_t(y * fy + j) * m_stride;
                                if (fx == 2 && channels == 1)
                                    accumulatePairs(sums.data(), row, nx);
                                else
                                    for (int i = 0; i < fx; ++i)
                                        accumulateRow(sums.data(), row + size_t(i) * channels, nx, fx * channels,
                                            channels);
                            }
                    if (powerOfTwo) {
                        for (size_t e = 0; e < rowLength; ++e)
                            sums[e] *= reciprocal;
                    } else {
                        for (size_t e = 0; e < rowLength; ++e)
                            sums[e] /= divisor;
                    }
                    storeConverted(dst, sums.data(), rowLength);
                    dst += rowLength;
                }
    }

    if (newImage) {
        created->setSpacing(m_spacing[0] * float(fx), m_spacing[1] * float(fy), m_spacing[2] * float(fz),
            m_spacing[3] * float(ft));
        return created;
    }

    installBuffer(*this, out);
    m_spacing[0] *= float(fx);
    m_spacing[1] *= float(fy);
    m_spacing[2] *= float(fz);
    m_spacing[3] *= float(ft);
    setExtents(*this, nx, ny, nz, nt);
    if (m_verbose)
        std::cout << "Image downsampled, new size " << nx << " x " << ny << " x " << nz << std::endl;
    return nullptr;
}

template <class T>
void ImageBase<T>::rotate(int axis)
{
    if (!m_data || axis < 0 || axis > 2)
        return;
    T* out = allocateElements<T>(size_t(m_image_size));
    if (!out)
        return;

    const int nx = m_dim[0], ny = m_dim[1], nz = m_dim[2], nt = m_dim[3], c = m_channels;
    const ptrdiff_t row = ptrdiff_t(nx) * c, plane = row * ny;
    for (int t = 0; t < nt; ++t) {
        const T* src = m_data + size_t(t) * m_frame_size;
        T* dst = out + size_t(t) * m_frame_size;
        if (axis == 0) {
            // (x, y, z) -> (x, z, Y-1-y) in extents X, Z, Y: whole rows move.
            for (int z = 0; z < nz; ++z)
                for (int y = 0; y < ny; ++y)
                    std::memcpy(dst + (ptrdiff_t(ny - 1 - y) * nz + z) * row, src + z * plane + y * row,
                        sizeof(T) * size_t(row));
        } else if (axis == 1) {
            // (x, y, z) -> (Z-1-z, y, x) in extents Z, Y, X: x and z trade places per row y.
            const ptrdiff_t newRow = ptrdiff_t(nz) * c, newPlane = newRow * ny;
            for (int y = 0; y < ny; ++y)
                copyGrid(src + y * row, c, plane, dst + y * newRow + ptrdiff_t(nz - 1) * c, newPlane, -ptrdiff_t(c),
                    nx, nz, c);
        } else {
            // (x, y, z) -> (y, X-1-x, z) in extents Y, X, Z.
            const ptrdiff_t newRow = ptrdiff_t(ny) * c;
            for (int z = 0; z < nz; ++z)
                copyGrid(src + z * plane, c, row, dst + z * plane + ptrdiff_t(nx - 1) * newRow, -newRow, c, nx, ny, c);
        }
    }

    installBuffer(*this, out);
    if (axis == 0) {
        setExtents(*this, nx, nz, ny, nt);
        std::swap(m_spacing[1], m_spacing[2]);
    } else if (axis == 1) {
        setExtents(*this, nz, ny, nx, nt);
        std::swap(m_spacing[0], m_spacing[2]);
    } else {
        setExtents(*this, ny, nx, nz, nt);
        std::swap(m_spacing[0], m_spacing[1]);
    }
    if (m_verbose)
        std::cout << "Rotated image around axis " << axis << std::endl;
}

template <class T>
void ImageBase<T>::flip(bool fx, bool fy, bool fz, bool ft)
{
    if (!m_data)
        return;
    const int nx = m_dim[0], ny = m_dim[1], nz = m_dim[2], nt = m_dim[3], c = m_channels;
    auto rowAt = [&](T* base, int t, int z, int y) {
        return base + size_t(t) * m_frame_size + size_t(z) * m_slice_size + size_t(y) * m_stride;
    };
    auto mirrorRow = [&](T* dst, const T* src) {
        if (!fx)
            std::memcpy(dst, src, sizeof(T) * size_t(m_stride));
        else if (c == 1)
            reverseRow(dst, src, nx);
        else
            for (int x = 0; x < nx; ++x)
                std::memcpy(dst + size_t(x) * c, src + size_t(nx - 1 - x) * c, sizeof(T) * size_t(c));
    };

    if (m_external) {
        // The caller's memory is left as it was: the result goes to a buffer of our own.
        T* out = allocateElements<T>(size_t(m_image_size));
        if (!out)
            return;
        for (int t = 0; t < nt; ++t)
            for (int z = 0; z < nz; ++z)
                for (int y = 0; y < ny; ++y)
                    mirrorRow(rowAt(out, ft ? nt - 1 - t : t, fz ? nz - 1 - z : z, fy ? ny - 1 - y : y),
                        rowAt(m_data, t, z, y));
        installBuffer(*this, out);
        return;
    }

    // An owned buffer is mirrored in place, each row exchanged with its mirror
    // row: the same elements end in the same places without a second buffer
    // streaming through the caches.
    std::vector<T> spare(static_cast<size_t>(m_stride));
    for (int t = 0; t < nt; ++t)
        for (int z = 0; z < nz; ++z)
            for (int y = 0; y < ny; ++y) {
                const int mt = ft ? nt - 1 - t : t, mz = fz ? nz - 1 - z : z, my = fy ? ny - 1 - y : y;
                T* a = rowAt(m_data, t, z, y);
                T* b = rowAt(m_data, mt, mz, my);
                if (b < a)
                    continue; // exchanged when its partner came first
                if (b == a) {
                    if (fx && c == 1)
                        reverseInPlace(a, nx);
                    else if (fx)
                        for (int x = 0; x < nx / 2; ++x)
                            std::swap_ranges(a + size_t(x) * c, a + size_t(x + 1) * c, a + size_t(nx - 1 - x) * c);
                    continue;
                }
                std::memcpy(spare.data(), a, sizeof(T) * size_t(m_stride));
                mirrorRow(a, b);
                mirrorRow(b, spare.data());
            }
}

template <class T>
void ImageBase<T>::scaleToPowerOfTwo()
{
    if (!m_data || m_dim[0] > (1 << 30) || m_dim[1] > (1 << 30))
        return;
    const int nx = nextPowerOfTwo(m_dim[0]), ny = nextPowerOfTwo(m_dim[1]);
    const int64_t count = int64_t(nx) * ny * m_dim[2] * m_dim[3] * m_channels;
    if (count > INT32_MAX)
        return;
    T* out = allocateElements<T>(size_t(count));
    if (!out)
        return;
    std::memset(static_cast<void*>(out), 0, sizeof(T) * size_t(count));

    const size_t newRow = size_t(m_channels) * nx, newSlice = newRow * ny;
    for (int z = 0; z < m_dim[2]; ++z)
        for (int y = 0; y < m_dim[1]; ++y)
            std::memcpy(out + z * newSlice + y * newRow, m_data + size_t(z) * m_slice_size + size_t(y) * m_stride,
                sizeof(T) * size_t(m_stride));

    setExtents(*this, nx, ny, m_dim[2], m_dim[3]);
    installBuffer(*this, out);
    if (m_verbose)
        std::cout << "Scaled to power of two, new width = " << nx << ", height = " << ny << std::endl;
}

#define LUMEN_INSTANTIATE_GEOMETRY(T)                                          \
    template Image* ImageBase<T>::downsample(int, int, int, int, bool);       \
    template void ImageBase<T>::rotate(int);                                  \
    template void ImageBase<T>::flip(bool, bool, bool, bool);                 \
    template void ImageBase<T>::scaleToPowerOfTwo();
LUMEN_FOR_EACH_ELEMENT_TYPE(LUMEN_INSTANTIATE_GEOMETRY)

} // namespace Lumen
