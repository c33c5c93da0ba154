// Window-based intensity operations and the byte / short exports.
#include "imageops_support.h"

#include <limits>

using namespace opstest;
using Lumen::nextPowerOfTwo;

namespace {

template <class T>
class Intensity : public ::testing::Test {};
using AllTypes = ::testing::Types<char, unsigned char, short, unsigned short, int, unsigned int, float, double>;
TYPED_TEST_SUITE(Intensity, AllTypes);

template <class T>
std::unique_ptr<ImageBase<T>> imageOf(std::initializer_list<double> values, int channels = 1)
{
    auto image = std::make_unique<ImageBase<T>>();
    image->init(int(values.size()) / channels, 1, 1, 1, channels);
    int i = 0;
    for (double v : values)
        image->m_data[i++] = T(v);
    return image;
}

// Window mapping of the exports, from the text: clamp, then truncate.
template <class U>
void refExport(Image& s, U* buffer, bool pow2, float scale)
{
    const int X = s.m_dim[0], Y = s.m_dim[1], Z = s.m_dim[2], C = s.m_channels;
    const int nx = pow2 ? nextPowerOfTwo(X) : X, ny = pow2 ? nextPowerOfTwo(Y) : Y, nz = pow2 ? nextPowerOfTwo(Z) : Z;
    std::fill(buffer, buffer + size_t(C) * nx * ny * nz, U(0));
    for (int z = 0; z < Z; ++z)
        for (int y = 0; y < Y; ++y)
            for (int x = 0; x < X; ++x)
                for (int c = 0; c < C; ++c) {
                    const float L = s.m_window[4 * c + 2], Up = s.m_window[4 * c + 3];
                    float v = (s.getValue(x, y, z, 0, c) - L) * scale / (Up - L);
                    if (v < 0)
                        v = 0;
                    if (v > scale)
                        v = scale;
                    // A NaN (zero-width window) truncates to 0x80000000, whose low bits are 0.
                    buffer[((z * ny + y) * nx + x) * C + c] = std::isnan(v) ? U(0) : U(int(v));
                }
}

} // namespace

TEST(ApplyWindowLevel, MapsIntoTheWindow)
{
    for (bool fromUpper : {false, true}) {
        auto image = imageOf<unsigned char>({40, 100, 200});
        image->setWindowRange(50, 150, 0);
        CoutCapture capture;
        image->applyWindowLevel(fromUpper);
        EXPECT_EQ(capture.text(), "Window/Level setting applied\n");
        const int expected[2][3] = {{0, 50, 100}, {100, 50, 0}};
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(image->m_data[i], expected[fromUpper][i]);
    }
    auto quiet = imageOf<short>({1, 2});
    quiet->m_verbose = 0;
    CoutCapture capture;
    quiet->applyWindowLevel(false);
    EXPECT_EQ(capture.text(), "");
}

TEST(ApplyWindowLevel, DifferencesWrapInTheElementType)
{
    auto image = imageOf<char>({-100, 0, 100});
    image->m_verbose = 0;
    image->setWindowRange(-100, 100, 0);
    image->applyWindowLevel(true); // 100 - (-100) = 200 wraps to -56
    EXPECT_EQ(image->m_data[0], char(-56));
    EXPECT_EQ(image->m_data[1], char(100));
    EXPECT_EQ(image->m_data[2], char(0));

    auto big = imageOf<int>({-2000000000, 2000000000});
    big->m_verbose = 0;
    big->setWindowRange(-2000000000.0f, 2000000000.0f, 0);
    big->applyWindowLevel(true); // 4e9 wraps in 32 bits instead of overflowing
    EXPECT_EQ(big->m_data[0], int(int64_t(4000000000LL) - (int64_t(1) << 32)));
}

TYPED_TEST(Intensity, WindowLevelUsesChannelZerosWindowForAllChannels)
{
    auto image = randomImage<TypeParam>(7, 3, 2, 2, 2, 31);
    image->setWindowRange(-20.5f, 100.25f, 0);
    image->setWindowRange(0.0f, 1.0f, 1); // ignored
    for (bool fromUpper : {false, true}) {
        auto work = copyOf(*image);
        const float L = -20.5f, U = 100.25f;
        // Bounds converted to the element type by the storing rule (through setValue).
        ImageBase<TypeParam> bounds;
        bounds.init(2, 1, 1, 1, 1);
        bounds.setValue(L, 0, 0, 0, 0, 0);
        bounds.setValue(U, 1, 0, 0, 0, 0);
        const TypeParam lowerValue = bounds.m_data[0], upperValue = bounds.m_data[1];
        auto expected = copyOf(*image);
        for (int i = 0; i < image->m_image_size; ++i) {
            TypeParam e = image->m_data[i];
            if (float(e) < L)
                e = lowerValue;
            if (float(e) > U)
                e = upperValue;
            if constexpr (std::is_floating_point_v<TypeParam>)
                expected->m_data[i] = fromUpper ? upperValue - e : e - lowerValue;
            else
                expected->m_data[i] = TypeParam(fromUpper ? int64_t(upperValue) - int64_t(e) : int64_t(e) - int64_t(lowerValue));
        }
        work->m_verbose = 0;
        work->applyWindowLevel(fromUpper);
        expectSameImage(expected.get(), work.get());
    }
}

TEST(Invert, MirrorsInsideEachChannelsWindow)
{
    auto image = imageOf<unsigned char>({0, 200, 0, 200, 0, 200}, 3);
    for (int c = 0; c < 3; ++c)
        image->setWindowRange(0, 255, c);
    image->invert();
    for (int i = 0; i < 6; i += 2) {
        EXPECT_EQ(image->m_data[i], 255);
        EXPECT_EQ(image->m_data[i + 1], 55);
    }
}

TYPED_TEST(Intensity, InvertMatchesTheFormula)
{
    auto image = randomImage<TypeParam>(5, 4, 3, 2, 3, 32);
    image->setWindowRange(-7.5f, 300.0f, 0);
    image->setWindowRange(2.0f, 3.25f, 1);
    image->setWindowRange(-1000.0f, 0.0f, 2);
    auto expected = copyOf(*image);
    for (int i = 0; i < image->m_image_size; ++i) {
        const int c = i % 3;
        const float sum = image->m_window[4 * c + 2] + image->m_window[4 * c + 3];
        expected->setValue(sum - elementAt(*image, i), i / 3, 0, 0, 0, c);
    }
    image->invert();
    expectSameImage(expected.get(), image.get());
}

TYPED_TEST(Intensity, AutoWindowTakesTheWholeBuffersRange)
{
    auto image = imageOf<TypeParam>({5, 3, 9, 5, 4, 6}, 2);
    image->autoWindow();
    for (int c = 0; c < 2; ++c) {
        EXPECT_EQ(image->m_window[4 * c + 0], 6.0f);
        EXPECT_EQ(image->m_window[4 * c + 1], 6.0f);
        EXPECT_EQ(image->m_window[4 * c + 2], 3.0f);
        EXPECT_EQ(image->m_window[4 * c + 3], 9.0f);
    }
}

TEST(AutoWindow, ComparesInTheElementTypeAndSkipsEmptyImages)
{
    auto image = imageOf<unsigned int>({4000000000.0, 1, 7});
    image->autoWindow();
    EXPECT_EQ(image->m_window[2], 1.0f);
    EXPECT_EQ(image->m_window[3], 4000000000.0f);
    ImageBase<short> empty;
    empty.autoWindow(); // nothing to read, nothing to crash on
    EXPECT_EQ(empty.m_window, nullptr);
}

TEST(ToBytes, PadsToPowersOfTwoAndClamps)
{
    ImageBase<short> image;
    image.init(3, 3, 1, 1, 1);
    image.setWindowRange(100, 200, 0);
    const short values[9] = {100, 200, 150, 50, 250, 101, 199, 0, 130};
    std::copy(values, values + 9, image.m_data);
    unsigned char bytes[16];
    std::fill(bytes, bytes + 16, 0xAB);
    image.toBytes(bytes, true);
    const unsigned char expected[16] = {0, 255, 127, 0, 0, 255, 2, 0, 252, 0, 76, 0, 0, 0, 0, 0};
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(bytes[i], expected[i]) << i;

    unsigned short shorts[9];
    image.toShorts(shorts, false);
    EXPECT_EQ(shorts[0], 0);
    EXPECT_EQ(shorts[1], 65535);
    EXPECT_EQ(shorts[2], 32767);
    EXPECT_EQ(shorts[4], 65535);
    EXPECT_EQ(shorts[5], 655);
}

TEST(ToBytes, NullBufferWritesNothing)
{
    auto image = randomImage<float>(3, 3, 1, 1, 1, 33);
    auto before = copyOf(*image);
    image->toBytes(nullptr, true);
    image->toShorts(nullptr, false);
    expectSameImage(before.get(), image.get());
    ImageBase<float> empty;
    unsigned char untouched = 9;
    empty.toBytes(&untouched, true);
    EXPECT_EQ(untouched, 9);
}

TYPED_TEST(Intensity, ExportsMatchTheWindowMapping)
{
    auto image = randomImage<TypeParam>(5, 3, 3, 2, 2, 34);
    image->setWindowRange(-40.0f, 60.0f, 0);
    image->setWindowRange(0.0f, 0.0f, 1); // zero width: divisions by zero, clamped
    for (bool pow2 : {false, true}) {
        const size_t n = pow2 ? 2 * 8 * 4 * 4 : 2 * 5 * 3 * 3;
        std::vector<unsigned char> bytes(n, 0x5A), expectedBytes(n);
        std::vector<unsigned short> shorts(n, 0x5A5A), expectedShorts(n);
        image->toBytes(bytes.data(), pow2);
        image->toShorts(shorts.data(), pow2);
        refExport(*image, expectedBytes.data(), pow2, 255.0f);
        refExport(*image, expectedShorts.data(), pow2, 65535.0f);
        EXPECT_EQ(bytes, expectedBytes);
        EXPECT_EQ(shorts, expectedShorts);
    }
}

TEST(SliceToBytes, TakesTheSliceModuloTheDepth)
{
    auto image = randomImage<short>(3, 2, 4, 1, 2, 35);
    image->setWindowRange(-30000.0f, 30000.0f, 1);
    std::vector<unsigned char> wrapped(6), direct(6), negative(6);
    ASSERT_EQ(image->sliceToBytes(wrapped.data(), 4 + 1, 1, false), wrapped.data());
    image->sliceToBytes(direct.data(), 1, 1, false);
    image->sliceToBytes(negative.data(), -3, 1, false); // counts back: slice 1 as well
    EXPECT_EQ(wrapped, direct);
    EXPECT_EQ(negative, direct);
    for (int i = 0; i < 6; ++i) {
        const float e = image->getValue(i % 3, i / 3, 1, 0, 1);
        int s = int((e + 30000.0f) * 255.0f / 60000.0f);
        s = s < 0 ? 0 : (s > 255 ? 255 : s);
        EXPECT_EQ(direct[i], s) << i;
    }
}

TEST(SliceToBytes, AllocatesAndPadsRows)
{
    auto image = randomImage<float>(3, 3, 1, 1, 1, 36);
    image->setWindowRange(-3000.0f, 3000.0f, 0);
    unsigned char* made = image->sliceToBytes(nullptr, 0, 0, true);
    ASSERT_NE(made, nullptr);
    std::vector<unsigned char> flat(9);
    image->sliceToBytes(flat.data(), 0, 0, false);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(made[y * 4 + x], (x < 3 && y < 3) ? flat[y * 3 + x] : 0) << x << "," << y;
    delete[] made;

    unsigned char padded[16];
    std::fill(padded, padded + 16, 0xEE);
    image->sliceToBytes(padded, 0, 0, true);
    EXPECT_EQ(padded[3], 0xEE); // bytes outside the picture are not written
    EXPECT_EQ(padded[15], 0xEE);
}

TEST(SliceToBytes, RefusesChannelsOutsideTheImage)
{
    auto image = randomImage<int>(2, 2, 1, 1, 1, 37);
    unsigned char bytes[4] = {1, 2, 3, 4};
    EXPECT_EQ(image->sliceToBytes(bytes, 0, 1, false), nullptr);
    EXPECT_EQ(image->sliceToBytes(bytes, 0, -1, false), nullptr);
    EXPECT_EQ(bytes[0], 1);
    ImageBase<int> empty;
    EXPECT_EQ(empty.sliceToBytes(nullptr, 0, 0, false), nullptr);
}
