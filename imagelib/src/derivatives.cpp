// Derivatives by convolution: the 2-D gradient, the 2-D Hessian of a gradient
// image and the 3-D gradient of a volume.
#include "operations.h"

#include <iostream>

namespace Lumen {

using namespace detail;

namespace {

const float kDefault2D[9] = {1, 2, 1, 0, 0, 0, -1, -2, -1};
const float kDefault3D[27] = {
    1, 1, 1, 1, 2, 1, 1, 1, 1, //
    0, 0, 0, 0, 0, 0, 0, 0, 0, //
    -1, -1, -1, -1, -2, -1, -1, -1, -1,
};

// The 3 x 3 kernel k (k[3r + s] at row offset r - 1, column offset s - 1) and
// its transpose as taps over a plane of the given row length, zero entries left out.
void planeTaps(const float* k, int row, std::vector<Tap>& direct, std::vector<Tap>& transposed)
{
    for (int n = 0; n < 9; ++n) {
        if (k[n] == 0.0f)
            continue;
        const int s = n % 3, r = n / 3;
        direct.push_back({k[n], ptrdiff_t(r - 1) * row + (s - 1)});
        transposed.push_back({k[n], ptrdiff_t(s - 1) * row + (r - 1)});
    }
}

// Channels 0 and 1 of one slice as float planes.
template <class T>
void deinterleave(const T* slice, int voxels, int channels, float* a, float* b)
{
    for (int i = 0; i < voxels; ++i) {
        a[i] = static_cast<float>(slice[size_t(i) * channels]);
        b[i] = static_cast<float>(slice[size_t(i) * channels + 1]);
    }
}

// With the default kernel and elements of at most 16 bits every partial sum is
// an integer below 2^24, so the separable form (a third of the work) gives the
// same bits as the taps.
template <class T>
constexpr bool kSmallIntegers = std::is_integral_v<T> && sizeof(T) <= 2;

bool isDefaultKernel(const float* k)
{
    for (int n = 0; n < 9; ++n)
        if (!(k[n] == kDefault2D[n]))
            return false;
    return true;
}

} // namespace

template <class T>
Image* ImageBase<T>::gradient(int type, const float* kernel, bool keep, Image* output)
{
    if (!detail::signedOutputType(type, m_type, "gradient"))
        return nullptr;
    if (!m_data || output == this)
        return nullptr;
    const float* k = kernel ? kernel : kDefault2D;
    const int nx = m_dim[0], ny = m_dim[1], nz = m_dim[2];
    const int b = keep ? 0 : 1;
    Image* out = prepareOutput(*this, type, output, nx - 2 * b, ny - 2 * b, nz, 1, 2);
    if (!out)
        return nullptr;

    std::vector<Tap> taps0, taps1;
    planeTaps(k, nx, taps0, taps1);

    OutputWriter writer(out);
    Range range;
    const int rowVoxels = nx - 2 * b;
    std::vector<float> g0(size_t(std::max(nx, 0))), g1(g0.size()), values(size_t(std::max(rowVoxels, 0)) * 2);
    const size_t sliceLength = size_t(nx) * ny;
    // Derivatives exist for 1 <= x <= X-2 and 1 <= y <= Y-2; with keep the ring around them is 0.
    const bool any = nx >= 3 && ny >= 3;
    const bool separable = kSmallIntegers<T> && any && isDefaultKernel(k);
    // Smoothed and differenced rows y-1, y and y+1, rotated as y advances.
    std::vector<float> ring(separable ? size_t(nx) * 6 : 0);
    float* s[3] = {};
    float* d[3] = {};
    for (int z = 0; z < nz && rowVoxels > 0; ++z) {
        FloatRows<T> rows(m_data + z * sliceLength, nx, ny, 1);
        for (int y = b; y < ny - b; ++y) {
            // Float and short outputs take the voxels in place.
            short* shorts = writer.direct<short>(values.size());
            bool ranged = false;
            // Columns 0 and X-1 of g0, g1 are never written: they stay 0.
            if (any && y >= 1 && y <= ny - 2) {
                if constexpr (kSmallIntegers<T>) {
                    if (separable) {
                        const T* centre = m_data + z * sliceLength + size_t(y) * nx;
                        if (y == 1) { // each slice starts the ring afresh
                            for (int i = 0; i < 3; ++i) {
                                s[i] = ring.data() + size_t(nx) * i;
                                d[i] = ring.data() + size_t(nx) * (3 + i);
                            }
                            smoothAndDiffer(centre - nx, s[0], d[0], nx);
                            smoothAndDiffer(centre, s[1], d[1], nx);
                        }
                        short* interior = shorts ? shorts + 2 * (1 - b) : nullptr;
                        sobelRow(g0.data(), g1.data(), interior, centre + nx, s[0], d[0], d[1], s[2], d[2], nx,
                            range.min, range.max);
                        std::rotate(s, s + 1, s + 3);
                        std::rotate(d, d + 1, d + 3);
                        ranged = true;
                        if (b == 0)
                            range.add(0.0f); // columns 0 and X-1
                        if (shorts) {
                            if (b == 0)
                                shorts[0] = shorts[1] = shorts[2 * (nx - 1)] = shorts[2 * (nx - 1) + 1] = 0;
                            writer.advance(values.size());
                            continue;
                        }
                    }
                }
                if (!separable) {
                    const float* centre = rows.row(y);
                    convolveRow(g0.data(), centre, taps0.data(), taps0.size(), 1, nx - 1);
                    convolveRow(g1.data(), centre, taps1.data(), taps1.size(), 1, nx - 1);
                }
            } else {
                std::fill(g0.begin(), g0.end(), 0.0f);
                std::fill(g1.begin(), g1.end(), 0.0f);
            }
            // The range does not depend on the order in which the values enter it.
            const float* d0 = g0.data() + b;
            const float* d1 = g1.data() + b;
            if (!ranged) {
                range.add(d0, size_t(rowVoxels));
                range.add(d1, size_t(rowVoxels));
            }
            if (shorts) {
                fromFloatPairs(shorts, d0, d1, size_t(rowVoxels));
                writer.advance(values.size());
                continue;
            }
            float* dest = writer.direct(values.size());
            float* v = dest ? dest : values.data();
            interleave(d0, d1, v, size_t(rowVoxels));
            if (dest)
                writer.advance(values.size());
            else
                writer.put(v, values.size());
        }
    }

    out->setWindowRange(range.min, range.max, 0);
    out->setWindowRange(range.min, range.max, 1);
    return out;
}

template <class T>
Image* ImageBase<T>::hessian(int type, const float* kernel, Image* output)
{
    if (!detail::signedOutputType(type, m_type, "hessian"))
        return nullptr;
    if (!m_data || output == this)
        return nullptr;
    const float* k = kernel ? kernel : kDefault2D;
    const int nx = m_dim[0], ny = m_dim[1], nz = m_dim[2], c = m_channels;
    Image* out = prepareOutput(*this, type, output, nx, ny, nz, 1, 3);
    if (!out)
        return nullptr;

    if (c == 1) {
        // The gradient is taken in m_type; while that names no signed type (it is
        // 0 unless a caller set it) the requested type serves instead.
        const int gradientType = isSignedTypeCode(m_type) ? m_type : type;
        Image* g = gradient(gradientType, k, true, nullptr);
        if (!g) {
            if (out != output)
                delete out;
            return nullptr;
        }
        g->hessian(type, k, out);
        delete g;
        return out;
    }

    std::vector<Tap> direct, transposed;
    planeTaps(k, nx, direct, transposed);

    OutputWriter writer(out);
    Range ranges[3];
    const size_t sliceLength = size_t(nx) * ny;
    std::vector<float> g0(sliceLength), g1(sliceLength);
    std::vector<float> h0(static_cast<size_t>(nx)), h1(h0.size()), h2(h0.size()), values(h0.size() * 3);
    const bool any = nx >= 3 && ny >= 3;
    for (int z = 0; z < nz; ++z) {
        if (any)
            deinterleave(m_data + size_t(z) * m_slice_size, int(sliceLength), c, g0.data(), g1.data());
        for (int y = 0; y < ny; ++y) {
            if (any && y >= 1 && y <= ny - 2) {
                const size_t centre = size_t(y) * nx;
                convolveRow(h0.data(), g0.data() + centre, direct.data(), direct.size(), 1, nx - 1);
                convolveRow(h1.data(), g0.data() + centre, transposed.data(), transposed.size(), 1, nx - 1);
                convolveRow(h2.data(), g1.data() + centre, transposed.data(), transposed.size(), 1, nx - 1);
            } else {
                std::fill(h0.begin(), h0.end(), 0.0f);
                std::fill(h1.begin(), h1.end(), 0.0f);
                std::fill(h2.begin(), h2.end(), 0.0f);
            }
            ranges[0].add(h0.data(), h0.size());
            ranges[1].add(h1.data(), h1.size());
            ranges[2].add(h2.data(), h2.size());
            for (size_t x = 0; x < h0.size(); ++x) {
                values[3 * x] = h0[x];
                values[3 * x + 1] = h1[x];
                values[3 * x + 2] = h2[x];
            }
            writer.put(values.data(), values.size());
        }
    }

    for (int i = 0; i < 3; ++i)
        out->setWindowRange(ranges[i].min, ranges[i].max, i);
    return out;
}

template <class T>
Image* ImageBase<T>::gradient3D(int type, const float* kernel, bool keep, bool withIntensity, Image* output)
{
    if (!detail::signedOutputType(type, m_type, "gradient"))
        return nullptr;
    if (!m_data || output == this)
        return nullptr;
    const float* k = kernel ? kernel : kDefault3D;
    const bool clamps = type == TypeChar || type == TypeShort;
    const float lowest = type == TypeChar ? -128.0f : -32768.0f;
    const float highest = type == TypeChar ? 127.0f : 32767.0f;

    const int nx = m_dim[0], ny = m_dim[1], nz = m_dim[2];
    const int b = keep ? 0 : 1;
    const int channels = withIntensity ? 4 : 3;
    Image* out = prepareOutput(*this, type, output, nx - 2 * b, ny - 2 * b, nz - 2 * b, 1, channels);
    if (!out)
        return nullptr;
    if (m_verbose)
        std::cout << "Computing 3D gradient..." << std::endl;

    const ptrdiff_t row = nx, plane = ptrdiff_t(nx) * ny;
    std::vector<Tap> taps[3];
    for (int n = 0; n < 27; ++n) {
        if (k[n] == 0.0f)
            continue;
        const int p = n % 3 - 1, q = n % 9 / 3 - 1, r = n / 9 - 1;
        taps[0].push_back({k[n], r + q * row + p * plane});
        taps[1].push_back({k[n], p + r * row + q * plane});
        taps[2].push_back({k[n], p + q * row + r * plane});
    }

    std::vector<float> scratch;
    const int rowVoxels = nx - 2 * b;
    const bool any = nx >= 3 && ny >= 3 && nz >= 3;
    const float* volume = nullptr;
    if (rowVoxels > 0)
        volume = asFloats(m_data, size_t(plane) * nz, scratch);

    OutputWriter writer(out);
    Range range;
    int64_t exceeded = 0;
    std::vector<float> g[3];
    for (auto& v : g)
        v.resize(size_t(std::max(nx, 0)));
    std::vector<float> values(size_t(std::max(rowVoxels, 0)) * channels);
    for (int z = b; z < nz - b && rowVoxels > 0; ++z)
        for (int y = b; y < ny - b; ++y) {
            const float* centre = volume + z * plane + y * row;
            const bool inside = any && z >= 1 && z <= nz - 2 && y >= 1 && y <= ny - 2;
            for (int a = 0; a < 3; ++a) {
                // Columns 0 and X-1 are never written by convolveRow: they stay 0.
                if (inside)
                    convolveRow(g[a].data(), centre, taps[a].data(), taps[a].size(), 1, nx - 1);
                else
                    std::fill(g[a].begin(), g[a].end(), 0.0f);
                if (clamps)
                    for (int x = b; x < nx - b; ++x) {
                        float& v = g[a][size_t(x)];
                        if (v < lowest) {
                            v = lowest;
                            ++exceeded;
                        }
                        if (v > highest) {
                            v = highest;
                            ++exceeded;
                        }
                    }
                range.add(g[a].data() + b, size_t(rowVoxels));
            }
            for (int x = 0; x < rowVoxels; ++x) {
                float* v = values.data() + size_t(x) * channels;
                v[0] = g[0][size_t(x + b)];
                v[1] = g[1][size_t(x + b)];
                v[2] = g[2][size_t(x + b)];
                if (withIntensity)
                    v[3] = centre[x + b];
            }
            writer.put(values.data(), values.size());
        }

    for (int c = 0; c < 3; ++c)
        out->setWindowRange(range.min, range.max, c);
    if (withIntensity)
        out->setWindowRange(m_window[2], m_window[3], 3);
    if (m_verbose)
        std::cout << "Done. Range = [" << range.min << ".." << range.max << "]" << std::endl;
    if (exceeded != 0)
        std::cout << "Warning: " << exceeded << " values exceeded." << std::endl;
    return out;
}

#define LUMEN_INSTANTIATE_DERIVATIVES(T)                                                   \
    template Image* ImageBase<T>::gradient(int, const float*, bool, Image*);              \
    template Image* ImageBase<T>::hessian(int, const float*, Image*);                     \
    template Image* ImageBase<T>::gradient3D(int, const float*, bool, bool, Image*);
LUMEN_FOR_EACH_ELEMENT_TYPE(LUMEN_INSTANTIATE_DERIVATIVES)

} // namespace Lumen
