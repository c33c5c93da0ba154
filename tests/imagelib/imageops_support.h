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
#include <iterator>
#include <limits>
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
std::vector<unsigned char> bytesAs(Image* s)
{
    std::vector<unsigned char> bytes;
    auto grab = [&](auto* typed) {
        if (typed && typed->m_data)
            bytes.assign(reinterpret_cast<unsigned char*>(typed->m_data),
                reinterpret_cast<unsigned char*>(typed->m_data + typed->m_image_size));
        return typed != nullptr;
    };
    (void)(grab(dynamic_cast<ImageBase<T>*>(s)) || ...);
    return bytes;
}
inline std::vector<unsigned char> rawBytes(Image* s)
{
    return bytesAs<char, unsigned char, short, unsigned short, int, unsigned int, float, double>(s);
}

// Everything an operation may change: 9 layout values (extents, channels,
// stride, slice, image size, cursor), the spacing and window bits, the elements.
inline std::vector<int64_t> stateOf(Image* s, bool withElements = true)
{
    std::vector<int64_t> v(s->m_dim, s->m_dim + 4);
    v.insert(v.end(), {s->m_channels, s->m_stride, s->m_slice_size, s->m_image_size, s->m_cursor});
    std::transform(s->m_spacing, s->m_spacing + 4, std::back_inserter(v), bitsOf);
    std::transform(s->m_window, s->m_window + 4 * s->m_channels, std::back_inserter(v), bitsOf);
    const auto bytes = withElements ? rawBytes(s) : std::vector<unsigned char>();
    v.insert(v.end(), bytes.begin(), bytes.end());
    return v;
}

inline void expectSameImage(Image* expected, Image* actual)
{
    ASSERT_TRUE(expected && actual);
    EXPECT_EQ(stateOf(expected, false), stateOf(actual, false)) << "9 layout values, 4 spacings, 4 a channel";
    const auto e = rawBytes(expected), a = rawBytes(actual);
    const auto at = std::mismatch(e.begin(), e.end(), a.begin(), a.end()).first - e.begin();
    EXPECT_TRUE(e == a) << "element bytes differ from byte " << at << " of " << e.size();
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
    const bool small = sizeof(T) <= 2 && !std::is_floating_point_v<T>;
    const int64_t lo = small ? int64_t(std::numeric_limits<T>::min()) : -100000;
    const int64_t hi = small ? int64_t(std::numeric_limits<T>::max()) : 100000;
    for (int i = 0; i < image->m_image_size; ++i)
        image->m_data[i] = std::is_floating_point_v<T> ? T(std::uniform_real_distribution<double>(-3000, 3000)(rng))
                                                       : T(std::uniform_int_distribution<int64_t>(lo, hi)(rng));
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

// Element i of the buffer whatever the channel count, and the source value
// v(x, y, z) of the derived-image operations: frame 0 read as one channel.
inline float elementAt(Image& s, int i)
{
    return s.getValue(i / s.m_channels, 0, 0, 0, i % s.m_channels);
}
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

// The sum of k[n] * value(dx, dy) over a w x w kernel in memory order (first
// row at the smallest dy), zero entries skipped; the transpose swaps dx and dy.
template <class F>
float kernelSum(const float* k, int w, bool transpose, F value)
{
    float sum = 0.0f;
    for (int n = 0, h = (w - 1) / 2; w > 0 && n < w * w; ++n)
        if (k[n] != 0.0f)
            sum += k[n] * (transpose ? value(n / w - h, n % w - h) : value(n % w - h, n / w - h));
    return sum;
}

// The border lines that extendBorder(h) fills take the value of the nearest
// interior line, columns first; a direction without interior is left alone.
inline int interiorOf(int v, int h, int n)
{
    return h > 0 && 2 * h < n ? std::clamp(v, h, n - h - 1) : v;
}

inline Image* refFilter(Image& s, int type, const float* k, int w, Image* output)
{
    const int X = s.m_dim[0], Y = s.m_dim[1], h = (w - 1) / 2;
    Image* out = refOutput(s, type, output, X, Y, s.m_dim[2], s.m_dim[3], 1);
    std::vector<float> slice(size_t(X) * Y);
    RefRange range; // of the values before the border is filled
    for (int z = 0; z < s.m_dim[2]; ++z) {
        for (int y = 0; y < Y; ++y)
            for (int x = 0; x < X; ++x) {
                const bool inside = h <= x && x < X - h && h <= y && y < Y - h;
                range.add(slice[size_t(y) * X + x] = inside
                        ? kernelSum(k, w, false, [&](int i, int j) { return v1(s, x + i, y + j, z); })
                        : 0.0f);
            }
        for (int y = 0; y < Y; ++y)
            for (int x = 0; x < X; ++x)
                out->setNext(slice[size_t(interiorOf(y, h, Y)) * X + interiorOf(x, h, X)]);
    }
    out->setWindowRange(range.min, range.max, 0);
    return out;
}

inline const float kDefault2D[9] = {1, 2, 1, 0, 0, 0, -1, -2, -1};
inline const float kDefault3D[27] = {1, 1, 1, 1, 2, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, -1, -1, -1, -1, -2, -1,
    -1, -1, -1};

// gradient: g0 applies k, g1 its transpose; hessian of a gradient image: h0
// and h1 apply k and its transpose to g0, h2 the transpose to g1.
inline Image* refGradient(Image& s, int type, const float* k, bool keep, Image* output, bool hessian = false)
{
    k = k ? k : kDefault2D;
    const int X = s.m_dim[0], Y = s.m_dim[1], b = keep || hessian ? 0 : 1, n = hessian ? 3 : 2;
    Image* out = refOutput(s, type, output, X - 2 * b, Y - 2 * b, s.m_dim[2], 1, n);
    RefRange range[3];
    for (int z = 0; z < s.m_dim[2]; ++z)
        for (int y = b; y <= Y - b - 1; ++y)
            for (int x = b; x <= X - b - 1; ++x) {
                const bool inside = b || (1 <= x && x <= X - 2 && 1 <= y && y <= Y - 2);
                auto at = [&](int c) {
                    return [&, c](int i, int j) {
                        return hessian ? s.getValue(x + i, y + j, z, 0, c) : v1(s, x + i, y + j, z);
                    };
                };
                const float g[3] = {inside ? kernelSum(k, 3, false, at(0)) : 0.0f,
                    inside ? kernelSum(k, 3, true, at(0)) : 0.0f,
                    inside && hessian ? kernelSum(k, 3, true, at(1)) : 0.0f};
                for (int c = 0; c < n; ++c) {
                    range[hessian ? c : 0].add(g[c]);
                    out->setNext(g[c]);
                }
            }
    for (int c = 0; c < n; ++c)
        out->setWindowRange(range[hessian ? c : 0].min, range[hessian ? c : 0].max, c);
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
