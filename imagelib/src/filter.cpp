// General 2-D convolution with a square kernel, and the border extension that
// fills the lines the kernel cannot reach.
#include "operations.h"

#include <cstring>
#include <iostream>

namespace Lumen {

using namespace detail;


template <class T>
Image* ImageBase<T>::filter(int type, const float* kernel, int w, Image* output)
{
    if (!detail::signedOutputType(type, m_type, "filtered image"))
        return nullptr;
    if (!kernel) {
        std::cout << "Error: Cannot compute filtered image without filter!" << std::endl;
        return nullptr;
    }
    if (w % 2 == 0) {
        std::cout << "Error: Window size must be an odd number!" << std::endl;
        return nullptr;
    }
    // Writing into the source while reading it would corrupt what is still to be read.
    if (!m_data || output == this)
        return nullptr;
    const int nx = m_dim[0], ny = m_dim[1], nz = m_dim[2];
    Image* out = prepareOutput(*this, type, output, nx, ny, nz, m_dim[3], 1);
    if (!out)
        return nullptr;

    const int h = (w - 1) / 2;
    // Interior: h <= x < X - h and h <= y < Y - h (a negative h reaches nothing).
    // Formed in 64 bits: the window is the caller's, any odd int.
    const int xBegin = std::max(h, 0), xEnd = int(std::min<int64_t>(int64_t(nx) - h, nx));
    const int yBegin = std::max(h, 0), yEnd = int(std::min<int64_t>(int64_t(ny) - h, ny));
    const bool interior = xBegin < xEnd && yBegin < yEnd;

    // Non-zero kernel entries in reading order: rows j, then columns i.
    std::vector<Tap> taps;
    if (interior)
        for (int j = -h; j <= h; ++j)
            for (int i = -h; i <= h; ++i) {
                const float k = kernel[size_t(j + h) * size_t(w) + size_t(i + h)];
                if (k != 0.0f)
                    taps.push_back({k, ptrdiff_t(j) * nx + i});
            }

    OutputWriter writer(out);
    Range range;
    std::vector<float> row(static_cast<size_t>(nx));
    const size_t sliceLength = size_t(nx) * ny;
    const std::vector<float> zeros(static_cast<size_t>(nx));
    for (int z = 0; z < nz; ++z) {
        FloatRows<T> rows(m_data + z * sliceLength, nx, ny, h);
        for (int y = 0; y < ny; ++y) {
            if (!interior || y < yBegin || y >= yEnd) {
                if (nx > 0)
                    range.add(0.0f);
                writer.put(zeros.data(), zeros.size());
                continue;
            }
            // The border columns of `row` stay 0; only the interior is recomputed.
            // A float output takes the row in place, its border set to 0 here.
            float* dest = writer.direct(row.size());
            if (dest) {
                std::fill(dest, dest + xBegin, 0.0f);
                std::fill(dest + xEnd, dest + nx, 0.0f);
            }
            float* values = dest ? dest : row.data();
            convolveRow(values, rows.row(y), taps.data(), taps.size(), xBegin, xEnd);
            range.add(values, row.size());
            if (dest)
                writer.advance(row.size());
            else
                writer.put(values, row.size());
        }
    }

    out->extendBorder(h);
    out->setWindowRange(range.min, range.max, 0);
    return out;
}

template <class T>
void ImageBase<T>::extendBorder(int b)
{
    if (!m_data || b < 1)
        return;
    const int nx = m_dim[0], ny = m_dim[1], nz = m_dim[2];
    // Addressed as one channel; the slices of frame 0 lie inside the buffer
    // whenever there is at least one channel and one frame.
    if (m_channels < 1 || m_dim[3] < 1)
        return;
    const bool columns = int64_t(2) * b < nx, rows = int64_t(2) * b < ny;
    for (int z = 0; z < nz; ++z) {
        T* slice = m_data + size_t(z) * nx * ny;
        if (columns)
            for (int y = 0; y < ny; ++y) {
                T* r = slice + size_t(y) * nx;
                std::fill(r, r + b, r[b]);
                std::fill(r + nx - b, r + nx, r[nx - b - 1]);
            }
        if (rows) {
            const size_t bytes = sizeof(T) * size_t(nx);
            for (int y = 0; y < b; ++y)
                std::memcpy(slice + size_t(y) * nx, slice + size_t(b) * nx, bytes);
            for (int y = ny - b; y < ny; ++y)
                std::memcpy(slice + size_t(y) * nx, slice + size_t(ny - b - 1) * nx, bytes);
        }
    }
}

#define LUMEN_INSTANTIATE_FILTER(T)                                              \
    template Image* ImageBase<T>::filter(int, const float*, int, Image*);       \
    template void ImageBase<T>::extendBorder(int);
LUMEN_FOR_EACH_ELEMENT_TYPE(LUMEN_INSTANTIATE_FILTER)

} // namespace Lumen
