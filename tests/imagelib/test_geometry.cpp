// Downsampling, quarter turns, mirroring and padding to powers of two.
#include "imageops_support.h"

using namespace opstest;
using Lumen::createImage;
using Lumen::nextPowerOfTwo;

namespace {

template <class T>
class Geometry : public ::testing::Test {};
using AllTypes = ::testing::Types<char, unsigned char, short, unsigned short, int, unsigned int, float, double>;
TYPED_TEST_SUITE(Geometry, AllTypes);

struct Shape {
    int x, y, z, t, c;
};
const Shape kShapes[] = {{7, 5, 3, 2, 1}, {1, 6, 1, 1, 1}, {6, 1, 2, 1, 3}, {5, 4, 1, 1, 2}, {9, 9, 4, 3, 1},
    {33, 35, 2, 1, 1}};

// downsample into a new image, written from the algorithm text.
template <class T>
std::unique_ptr<ImageBase<T>> refDownsample(ImageBase<T>& s, int fx, int fy, int fz, int ft)
{
    const int nx = s.m_dim[0] / fx, ny = s.m_dim[1] / fy, nz = s.m_dim[2] / fz, nt = s.m_dim[3] / ft;
    auto out = std::make_unique<ImageBase<T>>();
    out->init(nx, ny, nz, nt, s.m_channels);
    const float divisor = float(fx * fy * fz * ft);
    for (int t = 0; t < nt; ++t)
        for (int z = 0; z < nz; ++z)
            for (int y = 0; y < ny; ++y)
                for (int x = 0; x < nx; ++x)
                    for (int c = 0; c < s.m_channels; ++c) {
                        float sum = 0.0f;
                        for (int l = 0; l < ft; ++l)
                            for (int k = 0; k < fz; ++k)
                                for (int j = 0; j < fy; ++j)
                                    for (int i = 0; i < fx; ++i)
                                        sum += s.getValue(x * fx + i, y * fy + j, z * fz + k, t * ft + l, c);
                        out->setValue(sum / divisor, x, y, z, t, c);
                    }
    out->setSpacing(s.m_spacing[0] * fx, s.m_spacing[1] * fy, s.m_spacing[2] * fz, s.m_spacing[3] * ft);
    return out;
}

// rotate, every frame alike, from the table of target positions.
template <class T>
std::unique_ptr<ImageBase<T>> refRotate(ImageBase<T>& s, int axis)
{
    const int X = s.m_dim[0], Y = s.m_dim[1], Z = s.m_dim[2];
    auto out = std::make_unique<ImageBase<T>>();
    const int ext[3][3] = {{X, Z, Y}, {Z, Y, X}, {Y, X, Z}};
    out->init(ext[axis][0], ext[axis][1], ext[axis][2], s.m_dim[3], s.m_channels);
    for (int t = 0; t < s.m_dim[3]; ++t)
        for (int z = 0; z < Z; ++z)
            for (int y = 0; y < Y; ++y)
                for (int x = 0; x < X; ++x)
                    for (int c = 0; c < s.m_channels; ++c) {
                        const T e = s.at(x, y, z, t, c);
                        if (axis == 0)
                            out->at(x, z, Y - 1 - y, t, c) = e;
                        else if (axis == 1)
                            out->at(Z - 1 - z, y, x, t, c) = e;
                        else
                            out->at(y, X - 1 - x, z, t, c) = e;
                    }
    float sp[4] = {s.m_spacing[0], s.m_spacing[1], s.m_spacing[2], s.m_spacing[3]};
    const int swapA[3] = {1, 0, 0}, swapB[3] = {2, 2, 1};
    std::swap(sp[swapA[axis]], sp[swapB[axis]]);
    out->setSpacing(sp[0], sp[1], sp[2], sp[3]);
    return out;
}

template <class T>
void copyWindow(Image& from, Image& to)
{
    for (int c = 0; c < from.m_channels; ++c)
        to.setWindowRange(from.m_window[4 * c + 2], from.m_window[4 * c + 3], c);
}

} // namespace

TEST(Downsample, AveragesTwoByTwoBlocksAndDropsTheRemainder)
{
    ImageBase<unsigned char> image;
    image.init(5, 4, 1, 1, 1);
    const unsigned char values[4][5] = {{1, 2, 10, 20, 250}, {3, 5, 30, 41, 250}, {0, 0, 7, 7, 250}, {1, 0, 7, 8, 250}};
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 5; ++x)
            image.at(x, y, 0, 0, 0) = values[y][x];
    CoutCapture capture;
    EXPECT_EQ(image.downsample(2, 2, 1, 1, false), nullptr);
    EXPECT_EQ(capture.text(), "Image downsampled, new size 2 x 2 x 1\n");
    ASSERT_EQ(image.m_dim[0], 2);
    ASSERT_EQ(image.m_dim[1], 2);
    EXPECT_EQ(image.m_stride, 2);
    EXPECT_EQ(image.m_image_size, 4);
    EXPECT_EQ(image.at(0, 0, 0, 0, 0), 2);  // 11 / 4 truncated
    EXPECT_EQ(image.at(1, 0, 0, 0, 0), 25); // 101 / 4
    EXPECT_EQ(image.at(0, 1, 0, 0, 0), 0);  // 1 / 4
    EXPECT_EQ(image.at(1, 1, 0, 0, 0), 7);  // 29 / 4
    EXPECT_FLOAT_EQ(image.m_spacing[0], 2.0f);
    EXPECT_FLOAT_EQ(image.m_spacing[1], 2.0f);
    EXPECT_FLOAT_EQ(image.m_spacing[2], 1.0f);
    EXPECT_FLOAT_EQ(image.m_spacing[3], 1.0f);
}

TEST(Downsample, NegativeMeansTruncateTowardZero)
{
    ImageBase<short> image;
    image.init(3, 1, 1, 1, 1);
    image.m_verbose = 0;
    image.at(0, 0, 0, 0, 0) = -4;
    image.at(1, 0, 0, 0, 0) = -3;
    image.at(2, 0, 0, 0, 0) = 0;
    image.downsample(3, 1, 1, 1, false);
    EXPECT_EQ(image.at(0, 0, 0, 0, 0), -2); // -7/3 = -2.33 truncates to -2, not -3
}

TEST(Downsample, RefusesBadFactorsAndMissingBuffer)
{
    auto image = randomImage<float>(4, 4, 1, 1, 1, 3);
    image->m_verbose = 1;
    auto before = copyOf(*image);
    CoutCapture capture;
    for (const auto& f : std::vector<std::vector<int>>{{0, 1, 1, 1}, {1, 0, 1, 1}, {1, 1, -1, 1}, {2, 2, 1, 0}}) {
        EXPECT_EQ(image->downsample(f[0], f[1], f[2], f[3], false), nullptr);
        EXPECT_EQ(image->downsample(f[0], f[1], f[2], f[3], true), nullptr);
    }
    expectSameImage(before.get(), image.get());
    ImageBase<float> empty;
    EXPECT_EQ(empty.downsample(2, 2, 1, 1, true), nullptr);
    EXPECT_EQ(empty.downsample(2, 2, 1, 1, false), nullptr);
    EXPECT_EQ(capture.text(), "");
}

TEST(Downsample, FactorLargerThanTheImageGivesAnEmptyImage)
{
    auto image = randomImage<short>(3, 3, 1, 1, 1, 4);
    std::unique_ptr<Image> made(image->downsample(4, 1, 1, 1, true));
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(made->m_image_size, 0);
    image->downsample(4, 1, 1, 1, false);
    EXPECT_EQ(image->m_dim[0], 0);
    EXPECT_EQ(image->m_image_size, 0);
    EXPECT_EQ(image->m_data, nullptr);
}

TEST(Downsample, HalvingShortsAtTheExtremesTruncatesTowardZero)
{
    // Blocks chosen at the ends of the range and where the mean is just below
    // or above a whole number, on both sides of zero; 19 columns of blocks
    // cover the vector steps and the tail.
    const short blocks[][4] = {{-32768, -32768, -32768, -32768}, {32767, 32767, 32767, 32767},
        {-32768, 32767, -32768, 32767}, {-1, 0, 0, 0}, {-5, 0, 0, 0}, {-3, -3, -3, -2}, {3, 3, 3, 2},
        {-32768, -32768, -32768, 32767}, {1, 1, 1, 0}, {-4, 0, 0, 0}, {7, 0, 0, 0}, {-7, 0, 0, 0}};
    ImageBase<short> image;
    image.init(38, 4, 1, 1, 1);
    image.m_verbose = 0;
    for (int by = 0; by < 2; ++by)
        for (int bx = 0; bx < 19; ++bx) {
            const short* b = blocks[(bx + 7 * by) % 12];
            image.at(2 * bx, 2 * by, 0, 0, 0) = b[0];
            image.at(2 * bx + 1, 2 * by, 0, 0, 0) = b[1];
            image.at(2 * bx, 2 * by + 1, 0, 0, 0) = b[2];
            image.at(2 * bx + 1, 2 * by + 1, 0, 0, 0) = b[3];
        }
    auto expected = refDownsample(image, 2, 2, 1, 1);
    image.downsample(2, 2, 1, 1, false);
    copyWindow<short>(image, *expected);
    expectSameImage(expected.get(), &image);
    EXPECT_EQ(image.at(3, 0, 0, 0, 0), 0);  // -0.25
    EXPECT_EQ(image.at(4, 0, 0, 0, 0), -1); // -1.25
    EXPECT_EQ(image.at(5, 0, 0, 0, 0), -2); // -2.75
    EXPECT_EQ(image.at(0, 0, 0, 0, 0), -32768);
}

TYPED_TEST(Geometry, DownsampleMatchesTheBlockAverage)
{
    const int factors[][4] = {{2, 2, 1, 1}, {3, 1, 1, 1}, {1, 2, 3, 1}, {2, 1, 1, 2}, {1, 1, 1, 1}, {5, 3, 1, 1}};
    uint32_t seed = 10;
    for (const Shape& sh : kShapes)
        for (const auto& f : factors) {
            auto image = randomImage<TypeParam>(sh.x, sh.y, sh.z, sh.t, sh.c, ++seed);
            auto expected = refDownsample(*image, f[0], f[1], f[2], f[3]);
            auto before = copyOf(*image);
            std::unique_ptr<Image> made(image->downsample(f[0], f[1], f[2], f[3], true));
            expectSameImage(before.get(), image.get()); // the source is left alone
            expectSameImage(expected.get(), made.get());

            image->downsample(f[0], f[1], f[2], f[3], false);
            copyWindow<TypeParam>(*before, *expected); // in place keeps the window table
            expectSameImage(expected.get(), image.get());
        }
}

TEST(Rotate, AxisTwoMovesTheLastColumnToTheFirstRow)
{
    ImageBase<short> image;
    image.init(3, 2, 1, 1, 2);
    image.at(2, 0, 0, 0, 0) = 7;
    image.at(2, 0, 0, 0, 1) = 8;
    image.setSpacing(1.0f, 2.0f, 3.0f, 4.0f);
    CoutCapture capture;
    image.rotate(2);
    EXPECT_EQ(capture.text(), "Rotated image around axis 2\n");
    EXPECT_EQ(image.m_dim[0], 2);
    EXPECT_EQ(image.m_dim[1], 3);
    EXPECT_EQ(image.m_stride, 4);
    EXPECT_EQ(image.at(0, 0, 0, 0, 0), 7);
    EXPECT_EQ(image.at(0, 0, 0, 0, 1), 8);
    EXPECT_FLOAT_EQ(image.m_spacing[0], 2.0f);
    EXPECT_FLOAT_EQ(image.m_spacing[1], 1.0f);
}

TEST(Rotate, OtherAxesAndMissingBufferAreLeftAlone)
{
    auto image = randomImage<int>(3, 4, 2, 1, 1, 5);
    image->m_verbose = 1;
    auto before = copyOf(*image);
    CoutCapture capture;
    image->rotate(3);
    image->rotate(-1);
    expectSameImage(before.get(), image.get());
    ImageBase<int> empty;
    empty.rotate(0);
    EXPECT_EQ(capture.text(), "");
}

TYPED_TEST(Geometry, RotateMatchesTheTableForEveryFrame)
{
    uint32_t seed = 100;
    for (const Shape& sh : kShapes)
        for (int axis = 0; axis < 3; ++axis) {
            auto image = randomImage<TypeParam>(sh.x, sh.y, sh.z, sh.t, sh.c, ++seed);
            auto expected = refRotate(*image, axis);
            copyWindow<TypeParam>(*image, *expected);
            image->rotate(axis);
            expectSameImage(expected.get(), image.get());
        }
}

// One-channel turns move blocks of 16 bytes' worth of elements at a time:
// every axis needs extents with whole blocks and remainders on both sides.
TYPED_TEST(Geometry, RotateTurnsWholeBlocksAndTheirRemainders)
{
    for (int axis = 0; axis < 3; ++axis) {
        auto image = randomImage<TypeParam>(35, 18, 17, 1, 1, 300 + axis);
        auto expected = refRotate(*image, axis);
        copyWindow<TypeParam>(*image, *expected);
        image->rotate(axis);
        expectSameImage(expected.get(), image.get());
    }
}

TYPED_TEST(Geometry, FourQuarterTurnsGiveBackTheImage)
{
    for (int axis = 0; axis < 3; ++axis) {
        auto image = randomImage<TypeParam>(37, 34, 3, 2, 2, 7 + axis);
        auto before = copyOf(*image);
        for (int i = 0; i < 4; ++i)
            image->rotate(axis);
        expectSameImage(before.get(), image.get());
    }
}

TYPED_TEST(Geometry, FlipMirrorsEveryChosenAxisInEveryFrame)
{
    uint32_t seed = 200;
    for (const Shape& sh : kShapes)
        for (int mask = 0; mask < 16; ++mask) {
            const bool b[4] = {bool(mask & 1), bool(mask & 2), bool(mask & 4), bool(mask & 8)};
            auto image = randomImage<TypeParam>(sh.x, sh.y, sh.z, sh.t, sh.c, ++seed);
            auto expected = copyOf(*image);
            for (int t = 0; t < sh.t; ++t)
                for (int z = 0; z < sh.z; ++z)
                    for (int y = 0; y < sh.y; ++y)
                        for (int x = 0; x < sh.x; ++x)
                            for (int c = 0; c < sh.c; ++c)
                                expected->at(b[0] ? sh.x - 1 - x : x, b[1] ? sh.y - 1 - y : y,
                                    b[2] ? sh.z - 1 - z : z, b[3] ? sh.t - 1 - t : t, c)
                                    = image->at(x, y, z, t, c);
            image->m_verbose = 1;
            expected->m_verbose = 1;
            CoutCapture capture;
            image->flip(b[0], b[1], b[2], b[3]);
            EXPECT_EQ(capture.text(), "");
            expectSameImage(expected.get(), image.get());
            image->flip(b[0], b[1], b[2], b[3]);
            image->flip(b[0], b[1], b[2], b[3]);
            expectSameImage(expected.get(), image.get()); // twice is the identity
        }
}

TEST(ScaleToPowerOfTwo, PadsRowsAndColumnsWithZeros)
{
    ImageBase<unsigned char> image;
    image.init(3, 5, 1, 1, 1);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 3; ++x)
            image.at(x, y, 0, 0, 0) = static_cast<unsigned char>(1 + x + 3 * y);
    CoutCapture capture;
    image.scaleToPowerOfTwo();
    EXPECT_EQ(capture.text(), "Scaled to power of two, new width = 4, height = 8\n");
    ASSERT_EQ(image.m_dim[0], 4);
    ASSERT_EQ(image.m_dim[1], 8);
    EXPECT_EQ(image.m_stride, 4);
    EXPECT_EQ(image.m_image_size, 32);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(image.at(x, y, 0, 0, 0), (x < 3 && y < 5) ? 1 + x + 3 * y : 0) << x << "," << y;
}

TEST(ScaleToPowerOfTwo, KeepsPowerOfTwoSizesAndZeroesLaterFrames)
{
    auto image = randomImage<float>(4, 8, 2, 2, 3, 9);
    image->m_data[0] = 1.0f; // make sure frame 0 is not all zero
    auto before = copyOf(*image);
    const float* old = image->m_data;
    image->scaleToPowerOfTwo();
    EXPECT_NE(image->m_data, old); // a new buffer all the same
    EXPECT_EQ(image->m_dim[0], 4);
    EXPECT_EQ(image->m_dim[1], 8);
    EXPECT_EQ(std::memcmp(image->m_data, before->m_data, sizeof(float) * size_t(image->m_frame_size)), 0);
    for (int i = image->m_frame_size; i < image->m_image_size; ++i)
        ASSERT_EQ(image->m_data[i], 0.0f);

    auto slices = randomImage<short>(3, 3, 2, 1, 2, 10);
    auto original = copyOf(*slices);
    slices->scaleToPowerOfTwo();
    for (int z = 0; z < 2; ++z)
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x)
                for (int c = 0; c < 2; ++c)
                    EXPECT_EQ(slices->at(x, y, z, 0, c), (x < 3 && y < 3) ? original->at(x, y, z, 0, c) : 0);

    ImageBase<float> empty;
    empty.scaleToPowerOfTwo();
    EXPECT_EQ(empty.m_data, nullptr);
}

TEST(NextPowerOfTwo, SmallestPowerNotBelow)
{
    EXPECT_EQ(nextPowerOfTwo(12), 16);
    EXPECT_EQ(nextPowerOfTwo(16), 16);
    EXPECT_EQ(nextPowerOfTwo(1), 1);
    EXPECT_EQ(nextPowerOfTwo(3), 4);
    EXPECT_EQ(nextPowerOfTwo(5), 8);
    EXPECT_EQ(nextPowerOfTwo(1000), 1024);
    EXPECT_EQ(nextPowerOfTwo(0), 0);
    EXPECT_EQ(nextPowerOfTwo(-5), 0);
    EXPECT_EQ(nextPowerOfTwo(1 << 30), 1 << 30);
    EXPECT_EQ(nextPowerOfTwo((1 << 30) + 1), (1 << 30) + 1);
}

TEST(Geometry, ExternalBufferIsNotFreedAndTheNewOneIsOwned)
{
    ImageBase<float> image;
    image.m_external = true;
    std::vector<float> mine(6, 1.0f);
    image.init(3, 2, 1, 1, 1); // external: no buffer of its own
    image.setData(mine.data());
    image.m_verbose = 0;
    image.flip(true, false, false, false);
    EXPECT_NE(image.m_data, mine.data());
    EXPECT_FALSE(image.m_external); // the new buffer is freed by the image (ASan checks)
    EXPECT_EQ(mine[0], 1.0f);
}
