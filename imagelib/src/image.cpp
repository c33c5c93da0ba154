#include <imagebase>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <new>

namespace Lumen {

namespace detail {
void assertionFailed(const char* text, int line)
{
    std::fprintf(stderr, "Assertion failed: %s, file imagelib/include/imagebase, line %d\n", text, line);
    std::fflush(stderr);
    std::abort();
}
} // namespace detail

Image::Image()
    : m_dim{0, 0, 0, 0}
    , m_spacing{1.0f, 1.0f, 1.0f, 1.0f}
    , m_channels(0)
    , m_window(nullptr)
    , m_verbose(1)
    , m_stride(0)
    , m_slice_size(0)
    , m_frame_size(0)
    , m_image_size(0)
    , m_cursor(0)
    , m_type(0)
{
}

Image::~Image()
{
    delete[] m_window;
}

int Image::reserved(void*)
{
    return 0;
}

int Image::init(int x, int y, int z, int t, int c)
{
    // Sizes are 32-bit by contract; a layout they cannot describe is refused
    // rather than left to wrap around.
    const int64_t limit = INT32_MAX;
    bool valid = x >= 0 && y >= 0 && z >= 0 && t >= 0 && c >= 0 && c <= limit / 4;
    int64_t stride = 0, slice = 0, frame = 0, image = 0;
    if (valid) {
        stride = int64_t(c) * x;
        slice = stride * y;
        frame = slice * z;
        image = frame * t;
        valid = stride <= limit && slice <= limit && frame <= limit && image <= limit;
    }

    delete[] m_window;
    m_window = nullptr;
    if (valid && c != 0) {
        m_window = new (std::nothrow) float[size_t(4) * size_t(c)]();
        valid = m_window != nullptr;
    }
    if (!valid) {
        std::cout << "Error while initializing!\n";
        resetLayout();
        return 0;
    }

    m_dim[0] = x;
    m_dim[1] = y;
    m_dim[2] = z;
    m_dim[3] = t;
    m_channels = c;
    m_stride = int(stride);
    m_slice_size = int(slice);
    m_frame_size = int(frame);
    m_image_size = int(image);
    return 0;
}

void Image::resetLayout()
{
    for (int& d : m_dim)
        d = 0;
    m_channels = 0;
    m_stride = m_slice_size = m_frame_size = m_image_size = 0;
    delete[] m_window;
    m_window = nullptr;
}

void Image::setSpacing(float sx, float sy, float sz, float st)
{
    m_spacing[0] = sx;
    m_spacing[1] = sy;
    m_spacing[2] = sz;
    m_spacing[3] = st;
}

void Image::setWindowRange(float lower, float upper, int c)
{
    if (!m_window || c < 0 || c >= m_channels)
        return;
    float* w = m_window + 4 * c;
    w[0] = upper - lower;
    w[1] = (upper + lower) * 0.5f;
    w[2] = lower;
    w[3] = upper;
}

Image* createImage(int typeCode)
{
    switch (typeCode) {
    case TypeChar: return new ImageBase<char>();
    case TypeUnsignedChar: return new ImageBase<unsigned char>();
    case TypeShort: return new ImageBase<short>();
    case TypeUnsignedShort: return new ImageBase<unsigned short>();
    case TypeInt: return new ImageBase<int>();
    case TypeUnsignedInt: return new ImageBase<unsigned int>();
    case TypeFloat: return new ImageBase<float>();
    case TypeDouble: return new ImageBase<double>();
    default: return nullptr;
    }
}

} // namespace Lumen
