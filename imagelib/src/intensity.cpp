// Intensity operations through the per-channel window table: automatic window,
// inversion, window/level, and export of windowed values for display.
#include "operations.h"

#include <cstring>
#include <iostream>
#include <new>
#include <type_traits>

namespace Lumen {

using namespace detail;

int nextPowerOfTwo(int n)
{
    if (n <= 0)
        return 0;
    if (n > (1 << 30))
        return n;
    int p = n & -n; // lowest set bit
    while (p < n)
        p <<= 1;
    return p;
}

namespace {

// a - b formed in the element type: integers wrap like the conversion rule.
template <class T>
T differenceInType(T a, T b)
{
    if constexpr (std::is_integral_v<T>)
        return T(uint32_t(a) - uint32_t(b));
    else
        return a - b;
}

// Frame 0 through the channel windows into a padded volume of U elements:
// (e - L) * scale / (U - L), clamped to 0 .. scale, truncated.
template <class T, class U>
void exportVolume(const ImageBase<T>& image, U* buffer, bool powerOfTwo, float scale)
{
    const int nx = image.m_dim[0], ny = image.m_dim[1], nz = image.m_dim[2], c = image.m_channels;
    const int tx = powerOfTwo ? nextPowerOfTwo(nx) : nx;
    const int ty = powerOfTwo ? nextPowerOfTwo(ny) : ny;
    const int tz = powerOfTwo ? nextPowerOfTwo(nz) : nz;
    std::memset(buffer, 0, sizeof(U) * size_t(c) * tx * ty * tz);

    std::vector<float> lower(static_cast<size_t>(c)), width(static_cast<size_t>(c));
    for (int k = 0; k < c; ++k) {
        lower[k] = image.m_window[4 * k + 2];
        width[k] = image.m_window[4 * k + 3] - lower[k];
    }
    const T* v = image.m_data;
    for (int z = 0; z < nz; ++z)
        for (int y = 0; y < ny; ++y) {
            U* out = buffer + (size_t(z) * ty + y) * tx * c;
            for (int x = 0; x < nx * c; ++x) {
                const int k = x % c;
                float s = (static_cast<float>(*v++) - lower[k]) * scale / width[k];
                if (s < 0.0f)
                    s = 0.0f;
                if (s > scale)
                    s = scale;
                out[x] = fromFloat<U>(s);
            }
        }
}

} // namespace

template <class T>
void ImageBase<T>::autoWindow()
{
    if (!m_data || m_image_size < 1)
        return;
    T lowest = m_data[0], highest = m_data[0];
    for (int i = 1; i < m_image_size; ++i) {
        const T e = m_data[i];
        if (e < lowest)
            lowest = e;
        if (e > highest)
            highest = e;
    }
    for (int c = 0; c < m_channels; ++c)
        setWindowRange(static_cast<float>(lowest), static_cast<float>(highest), c);
}

template <class T>
void ImageBase<T>::invert()
{
    if (!m_data || !m_window)
        return;
    const int c = m_channels;
    std::vector<float> sums(static_cast<size_t>(c));
    for (int k = 0; k < c; ++k)
        sums[k] = m_window[4 * k + 2] + m_window[4 * k + 3];
    if (c == 1) {
        const float s = sums[0];
        for (int i = 0; i < m_image_size; ++i)
            m_data[i] = fromFloat<T>(s - static_cast<float>(m_data[i]));
        return;
    }
    for (int i = 0; i < m_image_size; i += c)
        for (int k = 0; k < c; ++k)
            m_data[i + k] = fromFloat<T>(sums[k] - static_cast<float>(m_data[i + k]));
}

template <class T>
void ImageBase<T>::applyWindowLevel(bool fromUpper)
{
    if (!m_data || !m_window)
        return;
    const float lower = m_window[2], upper = m_window[3];
    const T lowerValue = fromFloat<T>(lower), upperValue = fromFloat<T>(upper);
    for (int i = 0; i < m_image_size; ++i) {
        T e = m_data[i];
        if (static_cast<float>(e) < lower)
            e = lowerValue;
        if (static_cast<float>(e) > upper)
            e = upperValue;
        m_data[i] = fromUpper ? differenceInType(upperValue, e) : differenceInType(e, lowerValue);
    }
    if (m_verbose)
        std::cout << "Window/Level setting applied" << std::endl;
}

template <class T>
void ImageBase<T>::toBytes(unsigned char* buffer, bool powerOfTwo)
{
    if (buffer && m_data && m_window)
        exportVolume(*this, buffer, powerOfTwo, 255.0f);
}

template <class T>
void ImageBase<T>::toShorts(unsigned short* buffer, bool powerOfTwo)
{
    if (buffer && m_data && m_window)
        exportVolume(*this, buffer, powerOfTwo, 65535.0f);
}

template <class T>
unsigned char* ImageBase<T>::sliceToBytes(unsigned char* buffer, int slice, int channel, bool powerOfTwo)
{
    const int nx = m_dim[0], ny = m_dim[1], nz = m_dim[2], c = m_channels;
    if (!m_data || !m_window || channel < 0 || channel >= c || nz < 1)
        return nullptr;
    const int width = powerOfTwo ? nextPowerOfTwo(nx) : nx;
    const int height = powerOfTwo ? nextPowerOfTwo(ny) : ny;
    if (!buffer) {
        buffer = new (std::nothrow) unsigned char[size_t(width) * height]();
        if (!buffer)
            return nullptr;
    }
    int z = slice % nz;
    if (z < 0)
        z += nz; // a negative slice counts back from the end instead of leaving the buffer
    const float lower = m_window[4 * channel + 2], range = m_window[4 * channel + 3] - lower;
    const T* v = m_data + size_t(z) * m_slice_size + channel;
    for (int y = 0; y < ny; ++y) {
        unsigned char* out = buffer + size_t(y) * width;
        for (int x = 0; x < nx; ++x, v += c) {
            int s = truncateToInt32((static_cast<float>(*v) - lower) * 255.0f / range);
            s = s < 0 ? 0 : (s > 255 ? 255 : s);
            out[x] = static_cast<unsigned char>(s);
        }
    }
    return buffer;
}

#define LUMEN_INSTANTIATE_INTENSITY(T)                                                      \
    template void ImageBase<T>::autoWindow();                                              \
    template void ImageBase<T>::invert();                                                  \
    template void ImageBase<T>::applyWindowLevel(bool);                                    \
    template void ImageBase<T>::toBytes(unsigned char*, bool);                             \
    template void ImageBase<T>::toShorts(unsigned short*, bool);                           \
    template unsigned char* ImageBase<T>::sliceToBytes(unsigned char*, int, int, bool);
LUMEN_FOR_EACH_ELEMENT_TYPE(LUMEN_INSTANTIATE_INTENSITY)

} // namespace Lumen
