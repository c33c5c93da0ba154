// Shared by the image-library tests: plain reference versions of the derived-
// image operations, written element by element through getValue / setValue /
// setNext in the order the algorithms state, random images, image comparison
// and output capture.
#pragma once

#include <imagebase>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iostream>
#include <memory>
#include <random>
#include <sstream>
#include <vector>

namespace opstest {

using Lumen::Image;
using Lumen::ImageBase;
using AllTypes = ::testing::Types<char, unsigned char, short, unsigned short, int, unsigned int, float, double>;

// Captures std::cout while alive.
class CoutCapture {
public:
    CoutCapture() : m_old(std::cout.rdbuf(m_text.rdbuf())) {}
    ~CoutCapture() { std::cout.rdbuf(m_old); }
    std::string text() const { return m_text.str(); }

private:
    std::ostringstream m_text;
    std::streambuf* m_old;
};

inline uint32_t bitsOf(float v)
{
    uint32_t u;
    std::memcpy(&u, &v, 4);
    return u;
}

// The element bytes of an image of any of the eight types.
template <class... T>
std::vector<unsigned char> bytesAs(Image* image)
{
    std::vector<unsigned char> bytes;
    auto grab = [&](auto* typed) {
        if (typed && typed->m_data)
            bytes.assign(reinterpret_cast<const unsigned char*>(typed->m_data),
                reinterpret_cast<const unsigned char*>(typed->m_data + typed->m_image_size));
        return typed != nullptr;
    };
    (void)(grab(dynamic_cast<ImageBase<T>*>(image)) || ...);
    return bytes;
}
inline std::vector<unsigned char> rawBytes(Image* image)
{
    return bytesAs<char, unsigned char, short, unsigned short, int, unsigned int, float, double>(image);
}

// Everything an operation may change: 9 layout values (extents, channels,
// stride, slice, image size, cursor), the spacing and window bits, the elements.
inline std::vector<int64_t> stateOf(Image* s)
{
    std::vector<int64_t> v(s->m_dim, s->m_dim + 4);
    v.insert(v.end(), {s->m_channels, s->m_stride, s->m_slice_size, s->m_image_size, s->m_cursor});
    for (float f : s->m_spacing)
        v.push_back(bitsOf(f));
    for (int i = 0; i < 4 * s->m_channels; ++i)
        v.push_back(bitsOf(s->m_window[i]));
    const auto bytes = rawBytes(s);
    v.insert(v.end(), bytes.begin(), bytes.end());
    return v;
}

inline void expectSameImage(Image* expected, Image* actual)
{
    ASSERT_TRUE(expected && actual);
    const auto e = stateOf(expected), a = stateOf(actual);
    EXPECT_TRUE(e == a) << "first difference at value "
                        << std::mismatch(e.begin(), e.end(), a.begin(), a.end()).first - e.begin() << " of "
                        << e.size() << " (9 layout, 4 spacing, 4 per channel window, then element bytes)";
}

// Random elements over much of the type's range (non-integral for floating
// types), spacing and window ranges, from a fixed seed.
template <class T>
std::unique_ptr<ImageBase<T>> randomImage(int x, int y, int z, int t, int c, uint32_t seed)
{
    auto image = std::make_unique<ImageBase<T>>();
    image->init(x, y, z, t, c);
    image->m_verbose = 0;
    std::mt19937 rng(seed);
    for (int i = 0; i < image->m_image_size; ++i)
        if constexpr (std::is_floating_point_v<T>)
            image->m_data[i] = T(std::uniform_real_distribution<double>(-3000.0, 3000.0)(rng));
        else if constexpr (sizeof(T) <= 2)
            image->m_data[i] = T(std::uniform_int_distribution<int>(std::numeric_limits<T>::min(),
                std::numeric_limits<T>::max())(rng));
        else
            image->m_data[i] = T(std::uniform_int_distribution<int64_t>(-100000, 100000)(rng));
    image->setSpacing(0.5f, 1.5f, 2.0f, 3.0f);
    for (int k = 0; k < c; ++k)
        image->setWindowRange(-50.0f - float(k), 200.0f + float(k), k);
    return image;
}

// A deep copy made through the public interface.
template <class T>
std::unique_ptr<ImageBase<T>> copyOf(const ImageBase<T>& s)
{
    auto image = std::make_unique<ImageBase<T>>();
    image->init(s.m_dim[0], s.m_dim[1], s.m_dim[2], s.m_dim[3], s.m_channels);
    image->m_verbose = s.m_verbose;
    std::copy(s.m_data, s.m_data + s.m_image_size, image->m_data);
    std::copy(s.m_spacing, s.m_spacing + 4, image->m_spacing);
    std::copy(s.m_window, s.m_window + 4 * s.m_channels, image->m_window);
    return image;
}

// The position of element i: x, y, z, t and channel.
struct Position {
    int x, y, z, t, c;
};
inline Position positionOf(const Image& s, int i)
{
    return {i / s.m_channels % s.m_dim[0], i / s.m_stride % s.m_dim[1], i / s.m_slice_size % s.m_dim[2],
        i / s.m_frame_size, i % s.m_channels};
}

// Element i of the buffer, whatever the channel count: (x, c) = (i / C, i % C).
inline float elementAt(Image& s, int i)
{
    return s.getValue(i / s.m_channels, 0, 0, 0, i % s.m_channels);
}

// Source value v(x, y, z) of the derived-image operations: frame 0 as one channel.
inline float v1(Image& s, int x, int y, int z)
{
    return elementAt(s, (z * s.m_dim[1] + y) * s.m_dim[0] + x);
}

// ---- reference versions, straight from the algorithm text ----

inline Image* refOutput(Image& src, int type, Image* output, int x, int y, int z, int t, int c)
{
    if (output)
        return output;
    Image* made = Lumen::createImage(type);
    made->init(x, y, z, t, c);
    made->setSpacing(src.m_spacing[0], src.m_spacing[1], src.m_spacing[2], src.m_spacing[3]);
    made->resetCursor();
    return made;
}

struct RefRange {
    float min = 1e16f, max = -1e16f;
    void add(float v)
    {
        min = v < min ? v : min;
        max = v > max ? v : max;
    }
};

// Column and row propagation of extendBorder, all b lines on each side.
inline void refExtendBorder(Image& im, int b)
{
    const int X = im.m_dim[0], Y = im.m_dim[1];
    auto copy = [&](int to, int from) { im.setValue(elementAt(im, from), to / im.m_channels, 0, 0, 0, to % im.m_channels); };
    for (int z = 0; z < im.m_dim[2]; ++z) {
        auto at = [&](int x, int y) { return (z * Y + y) * X + x; };
        for (int y = 0; 2 * b < X && y < Y; ++y)
            for (int i = b; i >= 1; --i) {
                copy(at(i - 1, y), at(i, y));
                copy(at(X - i, y), at(X - i - 1, y));
            }
        for (int x = 0; 2 * b < Y && x < X; ++x)
            for (int i = b; i >= 1; --i) {
                copy(at(x, i - 1), at(x, i));
                copy(at(x, Y - i), at(x, Y - i - 1));
            }
    }
}

inline Image* refFilter(Image& s, int type, const float* k, int w, Image* output)
{
    const int X = s.m_dim[0], Y = s.m_dim[1], Z = s.m_dim[2], h = (w - 1) / 2;
    Image* out = refOutput(s, type, output, X, Y, Z, s.m_dim[3], 1);
    RefRange range;
    for (int z = 0; z < Z; ++z)
        for (int y = 0; y < Y; ++y)
            for (int x = 0; x < X; ++x) {
                float value = 0.0f;
                if (h <= x && x < X - h && h <= y && y < Y - h)
                    for (int j = -h; j <= h; ++j)
                        for (int i = -h; i <= h; ++i)
                            if (k[(j + h) * w + (i + h)] != 0.0f)
                                value += k[(j + h) * w + (i + h)] * v1(s, x + i, y + j, z);
                range.add(value);
                out->setNext(value);
            }
    refExtendBorder(*out, h);
    out->setWindowRange(range.min, range.max, 0);
    return out;
}

inline const float kDefault2D[9] = {1, 2, 1, 0, 0, 0, -1, -2, -1};
inline const float kDefault3D[27] = {1, 1, 1, 1, 2, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, -1, -1, -1, -1, -2, -1,
    -1, -1, -1};

inline Image* refGradient(Image& s, int type, const float* k, bool keep, Image* output)
{
    k = k ? k : kDefault2D;
    const int X = s.m_dim[0], Y = s.m_dim[1], b = keep ? 0 : 1;
    Image* out = refOutput(s, type, output, X - 2 * b, Y - 2 * b, s.m_dim[2], 1, 2);
    RefRange range;
    for (int z = 0; z < s.m_dim[2]; ++z)
        for (int y = b; y <= Y - b - 1; ++y)
            for (int x = b; x <= X - b - 1; ++x) {
                float g0 = 0, g1 = 0;
                if (!keep || (1 <= x && x <= X - 2 && 1 <= y && y <= Y - 2))
                    for (int n = 0; n < 9; ++n)
                        if (k[n] != 0.0f) {
                            g0 += k[n] * v1(s, x + n % 3 - 1, y + n / 3 - 1, z);
                            g1 += k[n] * v1(s, x + n / 3 - 1, y + n % 3 - 1, z);
                        }
                range.add(g0);
                range.add(g1);
                out->setNext(g0);
                out->setNext(g1);
            }
    out->setWindowRange(range.min, range.max, 0);
    out->setWindowRange(range.min, range.max, 1);
    return out;
}

// The Hessian of a gradient image (two or more channels).
inline Image* refHessianOfGradient(Image& s, int type, const float* k, Image* output)
{
    k = k ? k : kDefault2D;
    const int X = s.m_dim[0], Y = s.m_dim[1];
    Image* out = refOutput(s, type, output, X, Y, s.m_dim[2], 1, 3);
    RefRange range[3];
    for (int z = 0; z < s.m_dim[2]; ++z)
        for (int y = 0; y < Y; ++y)
            for (int x = 0; x < X; ++x) {
                float h[3] = {0, 0, 0};
                if (1 <= x && x <= X - 2 && 1 <= y && y <= Y - 2)
                    for (int n = 0; n < 9; ++n)
                        if (k[n] != 0.0f) {
                            const int sc = n % 3 - 1, r = n / 3 - 1;
                            h[0] += k[n] * s.getValue(x + sc, y + r, z, 0, 0);
                            h[1] += k[n] * s.getValue(x + r, y + sc, z, 0, 0);
                            h[2] += k[n] * s.getValue(x + r, y + sc, z, 0, 1);
                        }
                for (int i = 0; i < 3; ++i) {
                    range[i].add(h[i]);
                    out->setNext(h[i]);
                }
            }
    for (int i = 0; i < 3; ++i)
        out->setWindowRange(range[i].min, range[i].max, i);
    return out;
}

inline Image* refGradient3D(Image& s, int type, const float* k, bool keep, bool withIntensity, long long* exceeded)
{
    k = k ? k : kDefault3D;
    const bool clamps = type == Lumen::TypeChar || type == Lumen::TypeShort;
    const float lo = type == Lumen::TypeChar ? -128.0f : -32768.0f, hi = type == Lumen::TypeChar ? 127.0f : 32767.0f;
    const int X = s.m_dim[0], Y = s.m_dim[1], Z = s.m_dim[2], b = keep ? 0 : 1;
    Image* out = refOutput(s, type, nullptr, X - 2 * b, Y - 2 * b, Z - 2 * b, 1, withIntensity ? 4 : 3);
    RefRange range;
    *exceeded = 0;
    for (int z = b; z <= Z - b - 1; ++z)
        for (int y = b; y <= Y - b - 1; ++y)
            for (int x = b; x <= X - b - 1; ++x) {
                float g[3] = {0, 0, 0};
                if (!keep || (1 <= x && x <= X - 2 && 1 <= y && y <= Y - 2 && 1 <= z && z <= Z - 2))
                    for (int n = 0; n < 27; ++n)
                        if (k[n] != 0.0f) {
                            const int p = n % 3 - 1, q = n % 9 / 3 - 1, r = n / 9 - 1;
                            g[0] += k[n] * v1(s, x + r, y + q, z + p);
                            g[1] += k[n] * v1(s, x + p, y + r, z + q);
                            g[2] += k[n] * v1(s, x + p, y + q, z + r);
                        }
                for (float& v : g) {
                    if (clamps && (v < lo || v > hi)) {
                        v = v < lo ? lo : hi;
                        ++*exceeded;
                    }
                    out->setNext(v);
                    range.add(v);
                }
                if (withIntensity)
                    out->setNext(v1(s, x, y, z));
            }
    for (int c = 0; c < 3; ++c)
        out->setWindowRange(range.min, range.max, c);
    if (withIntensity)
        out->setWindowRange(s.m_window[2], s.m_window[3], 3);
    return out;
}

} // namespace opstest
