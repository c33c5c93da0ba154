// Window-based intensity operations and the byte / short exports.
#include "imageops_support.h"

#include <array>
#include <cmath>

using namespace opstest;
using Lumen::nextPowerOfTwo;

namespace {

template <class T>
class Intensity : public ::testing::Test {};
TYPED_TEST_SUITE(Intensity, AllTypes);

// Window mapping of the exports, from the text: clamp, then truncate.
template <class U>
std::vector<U> refExport(Image& s, bool pow2, float scale)
{
    const int C = s.m_channels, nx = pow2 ? nextPowerOfTwo(s.m_dim[0]) : s.m_dim[0];
    const int ny = pow2 ? nextPowerOfTwo(s.m_dim[1]) : s.m_dim[1], nz = pow2 ? nextPowerOfTwo(s.m_dim[2]) : s.m_dim[2];
    std::vector<U> out(size_t(C) * nx * ny * nz, U(0));
    for (int i = 0; i < s.m_frame_size; ++i) {
        const Position p = positionOf(s, i);
        const float L = s.m_window[4 * p.c + 2], Up = s.m_window[4 * p.c + 3];
        const float v = std::clamp((s.getValue(p.x, p.y, p.z, 0, p.c) - L) * scale / (Up - L), 0.0f, scale);
        // A NaN (zero-width window) truncates to 0x80000000, whose low bits are 0.
        out[((p.z * ny + p.y) * nx + p.x) * C + p.c] = std::isnan(v) ? U(0) : U(int(v));
    }
    return out;
}

} // namespace

// Channel 0's window for every element: clamp (bounds converted to the element
// type), then U - e or e - L formed in the element type, wrapping there.
TYPED_TEST(Intensity, WindowLevelClampsToChannelZerosWindowAndWrapsInTheElementType)
{
    using T = TypeParam;
    auto image = randomImage<T>(7, 3, 2, 2, 2, 31);
    image->setWindowRange(-20.5f, 100.25f, 0);
    image->setWindowRange(0.0f, 1.0f, 1); // ignored
    auto bounds = randomImage<T>(2, 1, 1, 1, 1, 0);
    bounds->setValue(-20.5f, 0, 0, 0, 0, 0);
    bounds->setValue(100.25f, 1, 0, 0, 0, 0);
    const T lower = bounds->m_data[0], upper = bounds->m_data[1];
    for (bool fromUpper : {false, true}) {
        auto work = copyOf(*image), expected = copyOf(*image);
        for (int i = 0; i < image->m_image_size; ++i) {
            const float f = float(image->m_data[i]);
            const T e = f < -20.5f ? lower : f > 100.25f ? upper : image->m_data[i];
            expected->m_data[i] = std::is_floating_point_v<T> ? (fromUpper ? upper - e : e - lower)
                : T(fromUpper ? int64_t(upper) - int64_t(e) : int64_t(e) - int64_t(lower));
        }
        work->m_verbose = 1;
        CoutCapture capture;
        work->applyWindowLevel(fromUpper);
        EXPECT_EQ(capture.text(), "Window/Level setting applied\n");
        expectSameImage(expected.get(), work.get());
    }
    if constexpr (std::is_same_v<T, int>) { // 4e9 wraps in 32 bits instead of overflowing
        image->m_data[0] = T(-2000000000);
        image->setWindowRange(-2000000000.0f, 2000000000.0f, 0);
        image->applyWindowLevel(true);
        EXPECT_EQ(image->m_data[0], int(int64_t(4000000000LL) - (int64_t(1) << 32)));
    }
}

TYPED_TEST(Intensity, InvertMirrorsInsideEachChannelsWindow)
{
    auto image = randomImage<TypeParam>(5, 4, 3, 2, 3, 32);
    image->setWindowRange(-7.5f, 300.0f, 0);
    image->setWindowRange(2.0f, 3.25f, 1);
    image->setWindowRange(-1000.0f, 0.0f, 2);
    auto expected = copyOf(*image);
    for (int i = 0; i < image->m_image_size; ++i) {
        const int c = i % 3;
        expected->setValue(image->m_window[4 * c + 2] + image->m_window[4 * c + 3] - elementAt(*image, i), i / 3, 0, 0,
            0, c);
    }
    image->invert();
    expectSameImage(expected.get(), image.get());
}

TYPED_TEST(Intensity, AutoWindowTakesTheWholeBuffersRangeInTheElementType)
{
    ImageBase<TypeParam> image, empty;
    image.init(3, 1, 1, 2, 2);
    const double values[] = {5, 3, 9, 5, 4, 6, 7, std::is_signed_v<TypeParam> ? 2 : 250, 8, 7, 6, 4};
    std::copy(values, values + 12, image.m_data);
    image.autoWindow();
    const float lo = std::is_signed_v<TypeParam> ? 2.0f : 3.0f, hi = std::is_signed_v<TypeParam> ? 9.0f : 250.0f;
    for (int c = 0; c < 2; ++c)
        EXPECT_EQ(std::vector<float>(image.m_window + 4 * c, image.m_window + 4 * c + 4),
            (std::vector<float>{hi - lo, (hi + lo) * 0.5f, lo, hi}));
    empty.autoWindow(); // nothing to read, nothing to crash on
    EXPECT_EQ(empty.m_window, nullptr);
}

TYPED_TEST(Intensity, ExportsMapThroughTheWindowOfEachChannel)
{
    auto image = randomImage<TypeParam>(5, 3, 3, 2, 2, 34);
    image->setWindowRange(-40.0f, 60.0f, 0);
    image->setWindowRange(0.0f, 0.0f, 1); // zero width: divisions by zero, clamped
    for (bool pow2 : {false, true}) {
        const size_t n = pow2 ? 2 * 8 * 4 * 4 : 2 * 5 * 3 * 3;
        std::vector<unsigned char> bytes(n, 0x5A);
        std::vector<unsigned short> shorts(n, 0x5A5A);
        image->toBytes(bytes.data(), pow2);
        image->toShorts(shorts.data(), pow2);
        EXPECT_EQ(bytes, refExport<unsigned char>(*image, pow2, 255.0f));
        EXPECT_EQ(shorts, refExport<unsigned short>(*image, pow2, 65535.0f));
    }
    auto before = copyOf(*image);
    image->toBytes(nullptr, true);
    image->toShorts(nullptr, false);
    expectSameImage(before.get(), image.get());
    ImageBase<TypeParam> empty;
    unsigned char untouched = 9;
    empty.toBytes(&untouched, true);
    EXPECT_EQ(untouched, 9);
}

TEST(SliceToBytes, OneChannelOfTheSliceModuloTheDepth)
{
    auto image = randomImage<short>(3, 2, 4, 1, 2, 35);
    image->setWindowRange(-30000.0f, 30000.0f, 1);
    // (e - L) * 255 / (U - L) truncated, then clamped; padding is not written.
    for (const auto& [slice, z, channel] : {std::array{1, 1, 1}, {5, 1, 1}, {-3, 1, 1}, {2, 2, 0}}) {
        const float L = image->m_window[4 * channel + 2], U = image->m_window[4 * channel + 3];
        std::vector<unsigned char> expected(8, 0), padded(8, 0xEE); // 4 x 2
        for (int i = 0; i < 6; ++i)
            expected[i / 3 * 4 + i % 3] = padded[i / 3 * 4 + i % 3] = uint8_t(
                std::clamp(int((image->getValue(i % 3, i / 3, z, 0, channel) - L) * 255.0f / (U - L)), 0, 255));
        std::vector<unsigned char> bytes(8, 0xEE);
        ASSERT_EQ(image->sliceToBytes(bytes.data(), slice, channel, true), bytes.data());
        EXPECT_EQ(bytes, padded) << slice;
        unsigned char* made = image->sliceToBytes(nullptr, slice, channel, true); // a new zeroed buffer
        EXPECT_EQ(std::vector<unsigned char>(made, made + 8), expected);
        delete[] made;
    }
    ImageBase<int> empty;
    unsigned char untouched[6] = {};
    EXPECT_EQ(empty.sliceToBytes(nullptr, 0, 0, false), nullptr);
    for (int channel : {2, -1})
        EXPECT_EQ(image->sliceToBytes(untouched, 0, channel, false), nullptr);
}
