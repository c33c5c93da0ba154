// Shared by the image-operation tests: plain reference versions of the
// operations, written element by element through getValue / setValue / setNext
// in the order the algorithms state, random images, and output capture.
#pragma once

#include <imagebase>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <sys/resource.h>

namespace opstest {

using Lumen::Image;
using Lumen::ImageBase;

// The process's peak resident memory so far.
inline long peakResidentKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Captures std::cout while alive.
class CoutCapture {
public:
    CoutCapture()
        : m_old(std::cout.rdbuf(m_text.rdbuf()))
    {
    }
    ~CoutCapture() { std::cout.rdbuf(m_old); }
    std::string text() const { return m_text.str(); }

private:
    std::ostringstream m_text;
    std::streambuf* m_old;
};

template <class T>
constexpr int typeCodeOf()
{
    if constexpr (std::is_same_v<T, char>) return Lumen::TypeChar;
    if constexpr (std::is_same_v<T, unsigned char>) return Lumen::TypeUnsignedChar;
    if constexpr (std::is_same_v<T, short>) return Lumen::TypeShort;
    if constexpr (std::is_same_v<T, unsigned short>) return Lumen::TypeUnsignedShort;
    if constexpr (std::is_same_v<T, int>) return Lumen::TypeInt;
    if constexpr (std::is_same_v<T, unsigned int>) return Lumen::TypeUnsignedInt;
    if constexpr (std::is_same_v<T, float>) return Lumen::TypeFloat;
    return Lumen::TypeDouble;
}

// The element bytes of any of the eight image types.
inline std::vector<unsigned char> rawBytes(Image* image)
{
    std::vector<unsigned char> bytes;
    auto grab = [&](auto* typed) {
        if (!typed)
            return false;
        if (typed->m_data) {
            const auto* p = reinterpret_cast<const unsigned char*>(typed->m_data);
            bytes.assign(p, p + size_t(typed->m_image_size) * sizeof(*typed->m_data));
        }
        return true;
    };
    (void)(grab(dynamic_cast<ImageBase<char>*>(image)) || grab(dynamic_cast<ImageBase<unsigned char>*>(image))
        || grab(dynamic_cast<ImageBase<short>*>(image)) || grab(dynamic_cast<ImageBase<unsigned short>*>(image))
        || grab(dynamic_cast<ImageBase<int>*>(image)) || grab(dynamic_cast<ImageBase<unsigned int>*>(image))
        || grab(dynamic_cast<ImageBase<float>*>(image)) || grab(dynamic_cast<ImageBase<double>*>(image)));
    return bytes;
}

inline uint32_t bitsOf(float v)
{
    uint32_t u;
    std::memcpy(&u, &v, 4);
    return u;
}

// Same layout, same spacing, same window table, same element bytes.
inline void expectSameImage(Image* expected, Image* actual)
{
    ASSERT_NE(expected, nullptr);
    ASSERT_NE(actual, nullptr);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(expected->m_dim[i], actual->m_dim[i]) << "extent " << i;
        EXPECT_EQ(bitsOf(expected->m_spacing[i]), bitsOf(actual->m_spacing[i])) << "spacing " << i;
    }
    ASSERT_EQ(expected->m_channels, actual->m_channels);
    EXPECT_EQ(expected->m_stride, actual->m_stride);
    EXPECT_EQ(expected->m_slice_size, actual->m_slice_size);
    EXPECT_EQ(expected->m_image_size, actual->m_image_size);
    EXPECT_EQ(expected->m_cursor, actual->m_cursor);
    for (int i = 0; i < 4 * expected->m_channels; ++i)
        EXPECT_EQ(bitsOf(expected->m_window[i]), bitsOf(actual->m_window[i])) << "window float " << i;
    const auto a = rawBytes(expected), b = rawBytes(actual);
    ASSERT_EQ(a.size(), b.size());
    size_t firstDifference = a.size();
    for (size_t i = 0; i < a.size() && firstDifference == a.size(); ++i)
        if (a[i] != b[i])
            firstDifference = i;
    EXPECT_EQ(firstDifference, a.size()) << "element bytes differ from byte " << firstDifference;
}

// Random elements spread over much of the type's range, non-integral for
// floating types, from a fixed seed.
template <class T>
void fillRandom(ImageBase<T>& image, uint32_t seed)
{
    std::mt19937 rng(seed);
    for (int i = 0; i < image.m_image_size; ++i) {
        if constexpr (std::is_floating_point_v<T>) {
            image.m_data[i] = T(std::uniform_real_distribution<double>(-3000.0, 3000.0)(rng));
        } else if constexpr (sizeof(T) <= 2) {
            image.m_data[i] = T(std::uniform_int_distribution<int>(std::numeric_limits<T>::min(),
                std::numeric_limits<T>::max())(rng));
        } else {
            image.m_data[i] = T(std::uniform_int_distribution<int64_t>(-100000, 100000)(rng));
        }
    }
}

template <class T>
std::unique_ptr<ImageBase<T>> randomImage(int x, int y, int z, int t, int c, uint32_t seed)
{
    auto image = std::make_unique<ImageBase<T>>();
    image->init(x, y, z, t, c);
    image->m_verbose = 0;
    fillRandom(*image, seed);
    image->setSpacing(0.5f, 1.5f, 2.0f, 3.0f);
    for (int k = 0; k < c; ++k)
        image->setWindowRange(-50.0f - float(k), 200.0f + float(k), k);
    return image;
}

// A deep copy made through the public interface.
template <class T>
std::unique_ptr<ImageBase<T>> copyOf(const ImageBase<T>& source)
{
    auto image = std::make_unique<ImageBase<T>>();
    image->init(source.m_dim[0], source.m_dim[1], source.m_dim[2], source.m_dim[3], source.m_channels);
    image->m_verbose = source.m_verbose;
    if (source.m_image_size)
        std::memcpy(image->m_data, source.m_data, sizeof(T) * size_t(source.m_image_size));
    std::memcpy(image->m_spacing, source.m_spacing, sizeof(source.m_spacing));
    if (source.m_channels)
        std::memcpy(image->m_window, source.m_window, sizeof(float) * 4 * size_t(source.m_channels));
    image->m_type = source.m_type;
    return image;
}

// Element i of the buffer, whatever the channel count (index c + x*C with
// x = i / C, c = i % C).
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
    if (!made)
        return nullptr;
    made->init(x, y, z, t, c);
    made->setSpacing(src.m_spacing[0], src.m_spacing[1], src.m_spacing[2], src.m_spacing[3]);
    return made;
}

struct RefRange {
    float min = 1e16f, max = -1e16f;
    void add(float v)
    {
        if (v < min)
            min = v;
        if (v > max)
            max = v;
    }
};

// Column and row propagation of extendBorder, all b lines on each side.
inline void refExtendBorder(Image& im, int b)
{
    const int X = im.m_dim[0], Y = im.m_dim[1], Z = im.m_dim[2];
    auto at = [&](int x, int y, int z) { return (z * Y + y) * X + x; };
    auto get = [&](int i) { return elementAt(im, i); };
    auto set = [&](int i, float v) { im.setValue(v, i / im.m_channels, 0, 0, 0, i % im.m_channels); };
    for (int z = 0; z < Z; ++z) {
        if (2 * b < X)
            for (int y = 0; y < Y; ++y)
                for (int i = b; i >= 1; --i) {
                    set(at(i - 1, y, z), get(at(i, y, z)));
                    set(at(X - i, y, z), get(at(X - i - 1, y, z)));
                }
        if (2 * b < Y)
            for (int x = 0; x < X; ++x)
                for (int i = b; i >= 1; --i) {
                    set(at(x, i - 1, z), get(at(x, i, z)));
                    set(at(x, Y - i, z), get(at(x, Y - i - 1, z)));
                }
    }
}

inline Image* refFilter(Image& s, int type, const float* k, int w, Image* output)
{
    if (type == 0)
        type = s.m_type;
    const int X = s.m_dim[0], Y = s.m_dim[1], Z = s.m_dim[2];
    Image* out = refOutput(s, type, output, X, Y, Z, s.m_dim[3], 1);
    if (!out)
        return nullptr;
    const int h = (w - 1) / 2;
    RefRange range;
    out->resetCursor();
    for (int z = 0; z < Z; ++z)
        for (int y = 0; y < Y; ++y)
            for (int x = 0; x < X; ++x) {
                float value = 0.0f;
                if (h <= x && x < X - h && h <= y && y < Y - h)
                    for (int j = -h; j <= h; ++j)
                        for (int i = -h; i <= h; ++i) {
                            const float kk = k[(j + h) * w + (i + h)];
                            if (kk != 0.0f)
                                value += kk * v1(s, x + i, y + j, z);
                        }
                range.add(value);
                out->setNext(value);
            }
    refExtendBorder(*out, h);
    out->setWindowRange(range.min, range.max, 0);
    return out;
}

inline const float* defaultKernel2D()
{
    static const float k[9] = {1, 2, 1, 0, 0, 0, -1, -2, -1};
    return k;
}

inline Image* refGradient(Image& s, int type, const float* k, bool keep, Image* output)
{
    if (type == 0)
        type = s.m_type;
    if (!k)
        k = defaultKernel2D();
    const int X = s.m_dim[0], Y = s.m_dim[1], Z = s.m_dim[2];
    const int b = keep ? 0 : 1;
    Image* out = refOutput(s, type, output, X - 2 * b, Y - 2 * b, Z, 1, 2);
    if (!out)
        return nullptr;
    RefRange range;
    out->resetCursor();
    for (int z = 0; z < Z; ++z)
        for (int y = b; y <= Y - b - 1; ++y)
            for (int x = b; x <= X - b - 1; ++x) {
                float g0 = 0, g1 = 0;
                if (!keep || (1 <= x && x <= X - 2 && 1 <= y && y <= Y - 2))
                    for (int n = 0; n < 9; ++n)
                        if (k[n] != 0.0f) {
                            const int sc = n % 3, r = n / 3;
                            g0 += k[n] * v1(s, x + sc - 1, y + r - 1, z);
                            g1 += k[n] * v1(s, x + r - 1, y + sc - 1, z);
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
    if (type == 0)
        type = s.m_type;
    if (!k)
        k = defaultKernel2D();
    const int X = s.m_dim[0], Y = s.m_dim[1], Z = s.m_dim[2];
    Image* out = refOutput(s, type, output, X, Y, Z, 1, 3);
    if (!out)
        return nullptr;
    RefRange range[3];
    out->resetCursor();
    for (int z = 0; z < Z; ++z)
        for (int y = 0; y < Y; ++y)
            for (int x = 0; x < X; ++x) {
                float h[3] = {0, 0, 0};
                if (1 <= x && x <= X - 2 && 1 <= y && y <= Y - 2)
                    for (int n = 0; n < 9; ++n)
                        if (k[n] != 0.0f) {
                            const int sc = n % 3, r = n / 3;
                            h[0] += k[n] * s.getValue(x + sc - 1, y + r - 1, z, 0, 0);
                            h[1] += k[n] * s.getValue(x + r - 1, y + sc - 1, z, 0, 0);
                            h[2] += k[n] * s.getValue(x + r - 1, y + sc - 1, z, 0, 1);
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

inline const float* defaultKernel3D()
{
    static const float k[27] = {1, 1, 1, 1, 2, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, -1, -1, -1, -1, -2, -1, -1,
        -1, -1};
    return k;
}

inline Image* refGradient3D(Image& s, int type, const float* k, bool keep, bool withIntensity, Image* output,
    long long* exceededOut = nullptr)
{
    if (type == 0)
        type = s.m_type;
    if (!k)
        k = defaultKernel3D();
    const bool clamps = type == Lumen::TypeChar || type == Lumen::TypeShort;
    const float lo = type == Lumen::TypeChar ? -128.0f : -32768.0f;
    const float hi = type == Lumen::TypeChar ? 127.0f : 32767.0f;
    const int X = s.m_dim[0], Y = s.m_dim[1], Z = s.m_dim[2];
    const int b = keep ? 0 : 1;
    Image* out = refOutput(s, type, output, X - 2 * b, Y - 2 * b, Z - 2 * b, 1, withIntensity ? 4 : 3);
    if (!out)
        return nullptr;
    RefRange range;
    long long exceeded = 0;
    out->resetCursor();
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
                if (clamps)
                    for (float& v : g) {
                        if (v < lo) {
                            v = lo;
                            ++exceeded;
                        }
                        if (v > hi) {
                            v = hi;
                            ++exceeded;
                        }
                    }
                for (float v : g) {
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
    if (exceededOut)
        *exceededOut = exceeded;
    return out;
}

} // namespace opstest
