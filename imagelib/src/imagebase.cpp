#include <imagebase>

#include "elements.h"

#include <algorithm>
#include <cstdio>
#include <iostream>

namespace Lumen {

using detail::allocateElements;
using detail::freeElements;
using detail::fromFloat;

template <class T>
ImageBase<T>::ImageBase()
    : m_external(false)
    , m_data(nullptr)
{
}

template <class T>
ImageBase<T>::~ImageBase()
{
    releaseData();
}

template <class T>
int ImageBase<T>::init(int x, int y, int z, int t, int c)
{
    Image::init(x, y, z, t, c);
    releaseData();
    if (m_image_size != 0 && !m_external) {
        m_data = allocateElements<T>(size_t(m_image_size));
        if (!m_data) {
            std::cout << "Error while initializing!\n";
            resetLayout();
            return 0;
        }
        std::memset(static_cast<void*>(m_data), 0, size_t(m_image_size) * sizeof(T));
    }
    return 0;
}

template <class T>
void ImageBase<T>::releaseData()
{
    if (!m_external && m_data)
        freeElements(m_data);
    m_data = nullptr;
}

template <class T>
void ImageBase<T>::clear()
{
    if (!m_data && m_image_size != 0)
        m_data = allocateElements<T>(size_t(m_image_size));
    if (m_data)
        std::memset(static_cast<void*>(m_data), 0, size_t(m_image_size) * sizeof(T));
    if (m_window)
        std::fill(m_window, m_window + 4 * m_channels, 0.0f);
}

template <class T>
int ImageBase<T>::setData(void* data)
{
    m_data = static_cast<T*>(data);
    return 0;
}

template <class T>
int ImageBase<T>::loadRaw(const char* path)
{
    if (!path || (!m_data && m_image_size != 0))
        return 1;
    FILE* f = std::fopen(path, "rb");
    if (!f)
        return 1;
    if (m_image_size != 0) {
        const size_t rowBytes = sizeof(T) * size_t(m_channels) * size_t(m_dim[0]);
        const size_t rows = size_t(m_dim[1]) * size_t(m_dim[2]) * size_t(m_dim[3]);
        const size_t got = std::fread(m_data, rowBytes, rows, f);
        (void)got; // a short file keeps the rows it does not hold
    }
    std::fclose(f);
    return 0;
}

template <class T>
int ImageBase<T>::saveRaw(const char* path)
{
    if (!path || (!m_data && m_image_size != 0))
        return 1;
    FILE* f = std::fopen(path, "wb");
    if (!f)
        return 1;
    if (m_image_size != 0) {
        const size_t rowBytes = sizeof(T) * size_t(m_channels) * size_t(m_dim[0]);
        const size_t rows = size_t(m_dim[1]) * size_t(m_dim[2]) * size_t(m_dim[3]);
        const size_t put = std::fwrite(m_data, rowBytes, rows, f);
        (void)put;
    }
    std::fclose(f);
    return 0;
}

template <class T>
bool ImageBase<T>::getNext(float& value)
{
    if (m_cursor >= m_image_size)
        return false;
    value = static_cast<float>(m_data[m_cursor++]);
    return true;
}

template <class T>
bool ImageBase<T>::setNext(float value)
{
    if (m_cursor >= m_image_size)
        return false;
    m_data[m_cursor++] = fromFloat<T>(value);
    return true;
}

template <class T>
void ImageBase<T>::setLast(float value)
{
    if (m_cursor < 1 || m_cursor > m_image_size)
        return;
    m_data[m_cursor - 1] = fromFloat<T>(value);
}

template <class T>
void ImageBase<T>::setValue(float value, int x, int y, int z, int t, int c)
{
    m_data[c + x * m_channels + y * m_stride + z * m_slice_size + t * m_frame_size] = fromFloat<T>(value);
}

template <class T>
float ImageBase<T>::getValue(int x, int y, int z, int t, int c)
{
    return static_cast<float>(m_data[c + x * m_channels + y * m_stride + z * m_slice_size + t * m_frame_size]);
}

template <class T>
void ImageBase<T>::swapBytes()
{
    if constexpr (sizeof(T) > 1) {
        if (!m_data)
            return;
        unsigned char* bytes = reinterpret_cast<unsigned char*>(m_data);
        for (int i = 0; i < m_image_size; ++i, bytes += sizeof(T))
            std::reverse(bytes, bytes + sizeof(T));
    }
}

template class ImageBase<char>;
template class ImageBase<unsigned char>;
template class ImageBase<short>;
template class ImageBase<unsigned short>;
template class ImageBase<int>;
template class ImageBase<unsigned int>;
template class ImageBase<float>;
template class ImageBase<double>;

} // namespace Lumen
