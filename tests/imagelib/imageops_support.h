// Shared by the image-library tests: random images and deep copies, image
// comparison, element positions and output capture.
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
#include <tuple>
#include <vector>

namespace opstest {

using Lumen::Image;
using Lumen::ImageBase;
using Elements = std::tuple<char, unsigned char, short, unsigned short, int, unsigned int, float, double>;

// The suite of the tests that run for each element type.
template <class T>
class EveryType : public ::testing::Test {};
using AllTypes = ::testing::Types<char, unsigned char, short, unsigned short, int, unsigned int, float, double>;
TYPED_TEST_SUITE(EveryType, AllTypes);

// What f prints on std::cout.
template <class F>
std::string printed(F&& f)
{
    std::ostringstream text;
    std::streambuf* old = std::cout.rdbuf(text.rdbuf());
    f();
    std::cout.rdbuf(old);
    return text.str();
}

inline uint32_t bitsOf(float v) { uint32_t u; std::memcpy(&u, &v, 4); return u; }

// The element bytes of an image of any of the eight types.
inline std::vector<unsigned char> rawBytes(Image* s)
{
    std::vector<unsigned char> bytes;
    auto grab = [&](auto* typed) {
        if (typed && typed->m_data)
            bytes.assign(reinterpret_cast<unsigned char*>(typed->m_data),
                reinterpret_cast<unsigned char*>(typed->m_data + typed->m_image_size));
        return typed != nullptr;
    };
    std::apply([&](auto... t) { (void)(grab(dynamic_cast<ImageBase<decltype(t)>*>(s)) || ...); }, Elements());
    return bytes;
}

// Everything an operation may change: 9 layout values (extents, channels,
// stride, slice, image size, cursor), the spacing and window bits, the elements.
inline std::vector<int64_t> stateOf(Image* s)
{
    std::vector<int64_t> v(s->m_dim, s->m_dim + 4);
    v.insert(v.end(), {s->m_channels, s->m_stride, s->m_slice_size, s->m_image_size, s->m_cursor});
    std::transform(s->m_spacing, s->m_spacing + 4, std::back_inserter(v), bitsOf);
    std::transform(s->m_window, s->m_window + 4 * s->m_channels, std::back_inserter(v), bitsOf);
    const auto bytes = rawBytes(s);
    v.insert(v.end(), bytes.begin(), bytes.end());
    return v;
}

inline void expectSameImage(Image* expected, Image* actual)
{
    ASSERT_TRUE(expected && actual);
    EXPECT_EQ(stateOf(expected), stateOf(actual)) << "9 layout values, 4 spacings, 4 a channel, the element bytes";
}

// Random elements over much of the type's range (non-integral for floating
// types; one in eight at an end of the range of 8- and 16-bit types, where
// sums overflow the type), spacing and window ranges, from a fixed seed; sh is
// x, y, z, t, c.
template <class T>
std::unique_ptr<ImageBase<T>> randomImage(const int (&sh)[5], uint32_t seed)
{
    auto image = std::make_unique<ImageBase<T>>();
    image->init(sh[0], sh[1], sh[2], sh[3], sh[4]);
    std::mt19937 rng(seed);
    const bool small = sizeof(T) <= 2 && !std::is_floating_point_v<T>;
    std::uniform_int_distribution<int64_t> whole(small ? int64_t(std::numeric_limits<T>::min()) : -100000,
        small ? int64_t(std::numeric_limits<T>::max()) : 100000);
    std::uniform_real_distribution<double> real(-3000, 3000);
    for (int i = 0; i < image->m_image_size; ++i)
        image->m_data[i] = std::is_floating_point_v<T>
            ? T(real(rng))
            : T(small && rng() % 8 == 0 ? (rng() % 2 ? whole.min() : whole.max()) : whole(rng));
    image->setSpacing(0.5f, 1.5f, 2.0f, 3.0f);
    for (int k = 0; k < sh[4]; ++k)
        image->setWindowRange(-50.0f - float(k), 200.0f + float(k), k);
    return image;
}

// The position of element i: x, y, z, t and channel.
struct Position { int x, y, z, t, c; };
inline Position positionOf(const Image& s, int i)
{
    return {i / s.m_channels % s.m_dim[0], i / s.m_stride % s.m_dim[1], i / s.m_slice_size % s.m_dim[2],
        i / s.m_frame_size, i % s.m_channels};
}

// Element i of the buffer whatever the channel count, and the source value
// v(x, y, z) of the derived-image operations: frame 0 read as one channel.
inline float elementAt(Image& s, int i) { return s.getValue(i / s.m_channels, 0, 0, 0, i % s.m_channels); }
inline float v1(Image& s, int x, int y, int z) { return elementAt(s, (z * s.m_dim[1] + y) * s.m_dim[0] + x); }

} // namespace opstest
