// Sampling at fractional positions (truncated, trilinear, tricubic) and the
// intensity-weighted centre of mass. All read frame 0.
#include "operations.h"

namespace Lumen {

using namespace detail;

namespace {

struct Position {
    int x, y, z;
    float fx, fy, fz;
    bool valid; // every coordinate finite and its truncation a 32-bit int
};

// True when v truncates to a 32-bit int (false for NaN and the infinities).
bool truncates(float v)
{
    return v > -2147483904.0f && v < 2147483648.0f;
}

// A position that cannot name a voxel is refused here, before any conversion.
Position split(float x, float y, float z)
{
    Position p{};
    p.valid = truncates(x) && truncates(y) && truncates(z);
    if (!p.valid)
        return p;
    p.x = truncateToInt32(x);
    p.y = truncateToInt32(y);
    p.z = truncateToInt32(z);
    p.fx = x - float(p.x);
    p.fy = y - float(p.y);
    p.fz = z - float(p.z);
    return p;
}

// True when first .. first + span - 1 lie inside 0 .. extent - 1.
bool covers(int64_t first, int span, int extent)
{
    return first >= 0 && first + span <= extent;
}

bool covers(const Position& p, int before, int span, const int* dim)
{
    return p.valid && covers(int64_t(p.x) - before, span, dim[0]) && covers(int64_t(p.y) - before, span, dim[1])
        && covers(int64_t(p.z) - before, span, dim[2]);
}

// Cubic convolution weights of parameter -1 for the neighbours -1, 0, 1, 2.
void cubicWeights(float f, float* w)
{
    w[0] = ((2.0f - f) * f - 1.0f) * f;
    w[1] = (f - 2.0f) * f * f + 1.0f;
    w[2] = ((1.0f - f) * f + 1.0f) * f;
    w[3] = (f - 1.0f) * f * f;
}

// Trilinear blend of the eight elements around p; `step` is the distance of
// neighbouring voxels along x, `row` along y and `slice` along z.
template <class T>
float blend(const T* base, const Position& p, ptrdiff_t step, ptrdiff_t row, ptrdiff_t slice)
{
    const float wx[2] = {1.0f - p.fx, p.fx};
    const float wy[2] = {1.0f - p.fy, p.fy};
    const float wz[2] = {1.0f - p.fz, p.fz};
    float sum = 0.0f;
    for (int d = 0; d < 2; ++d)
        for (int b = 0; b < 2; ++b)
            for (int a = 0; a < 2; ++a)
                sum += static_cast<float>(base[a * step + b * row + d * slice]) * (wx[a] * wy[b] * wz[d]);
    return sum;
}

} // namespace

template <class T>
void ImageBase<T>::getVoxel(float* out, float x, float y, float z)
{
    const Position p = split(x, y, z);
    const bool inside = m_data && covers(p, 0, 1, m_dim);
    for (int c = 0; c < m_channels; ++c)
        out[c] = inside ? static_cast<float>(m_data[c + p.x * m_channels + p.y * m_stride + p.z * m_slice_size]) : 0.0f;
}

template <class T>
float ImageBase<T>::getNearest(float x, float y, float z)
{
    const Position p = split(x, y, z);
    if (!m_data || m_channels < 1 || !covers(p, 0, 1, m_dim))
        return 0.0f;
    return static_cast<float>(m_data[p.x * m_channels + p.y * m_stride + p.z * m_slice_size]);
}

template <class T>
void ImageBase<T>::getVoxelLinear(float* out, float x, float y, float z)
{
    const Position p = split(x, y, z);
    if (p.valid)
        checkLinear(p.x, p.y, p.z);
    const bool inside = m_data && covers(p, 0, 2, m_dim);
    for (int c = 0; c < m_channels; ++c) {
        out[c] = inside ? blend(m_data + c + p.x * m_channels + p.y * m_stride + p.z * m_slice_size, p, m_channels,
                              m_stride, m_slice_size)
                        : 0.0f;
    }
}

template <class T>
float ImageBase<T>::getLinear(float x, float y, float z)
{
    const Position p = split(x, y, z);
    if (!m_data || m_channels < 1 || !covers(p, 0, 2, m_dim))
        return 0.0f;
    const ptrdiff_t row = m_dim[0], slice = ptrdiff_t(m_dim[0]) * m_dim[1];
    return blend(m_data + (ptrdiff_t(p.z) * m_dim[1] + p.y) * m_dim[0] + p.x, p, 1, row, slice);
}

template <class T>
void ImageBase<T>::getVoxelCubic(float* out, float x, float y, float z)
{
    const Position p = split(x, y, z);
    if (!m_data || !covers(p, 1, 4, m_dim)) {
        for (int c = 0; c < m_channels; ++c)
            out[c] = 0.0f;
        return;
    }
    float wx[4], wy[4], wz[4];
    cubicWeights(p.fx, wx);
    cubicWeights(p.fy, wy);
    cubicWeights(p.fz, wz);
    const T* corner = m_data + (p.x - 1) * m_channels + (p.y - 1) * m_stride + ptrdiff_t(p.z - 1) * m_slice_size;
    for (int c = 0; c < m_channels; ++c) {
        float sum = 0.0f;
        for (int k = 0; k < 4; ++k)
            for (int j = 0; j < 4; ++j)
                for (int i = 0; i < 4; ++i)
                    sum += static_cast<float>(corner[c + i * m_channels + j * m_stride + k * m_slice_size]) * wx[i]
                        * wy[j] * wz[k];
        out[c] = sum;
    }
}

template <class T>
float ImageBase<T>::getCubic(float x, float y, float z)
{
    if (m_channels < 1)
        return 0.0f;
    std::vector<float> out(static_cast<size_t>(m_channels));
    getVoxelCubic(out.data(), x, y, z);
    return out[0];
}

template <class T>
void ImageBase<T>::centerOfMass(float* out)
{
    float sum = 0.0f, sumX = 0.0f, sumY = 0.0f, sumZ = 0.0f;
    if (m_data && m_window) {
        const float lower = m_window[2];
        const T* v = m_data;
        for (int z = 0; z < m_dim[2]; ++z)
            for (int y = 0; y < m_dim[1]; ++y)
                for (int x = 0; x < m_dim[0]; ++x) {
                    const float w = static_cast<float>(*v++) - lower;
                    sum += w;
                    sumX += w * float(x);
                    sumY += w * float(y);
                    sumZ += w * float(z);
                }
    }
    out[0] = sumX / sum;
    out[1] = sumY / sum;
    out[2] = sumZ / sum;
}

#define LUMEN_INSTANTIATE_SAMPLING(T)                                          \
    template void ImageBase<T>::getVoxel(float*, float, float, float);        \
    template float ImageBase<T>::getNearest(float, float, float);             \
    template void ImageBase<T>::getVoxelLinear(float*, float, float, float);  \
    template float ImageBase<T>::getLinear(float, float, float);              \
    template void ImageBase<T>::getVoxelCubic(float*, float, float, float);   \
    template float ImageBase<T>::getCubic(float, float, float);               \
    template void ImageBase<T>::centerOfMass(float*);
LUMEN_FOR_EACH_ELEMENT_TYPE(LUMEN_INSTANTIATE_SAMPLING)

} // namespace Lumen
