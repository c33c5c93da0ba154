// Downsampling, quarter turns, mirroring and padding to powers of two.
#include "imageops_support.h"

#include <array>

using namespace opstest;
using Lumen::nextPowerOfTwo;

namespace {

template <class T>
class Geometry : public ::testing::Test {};
TYPED_TEST_SUITE(Geometry, AllTypes);

// One-wide images, several frames and channels, and (for the one-channel
// turns that move 16 bytes at a time) whole blocks and remainders on every axis.
const int kShapes[][5] = {{7, 5, 3, 2, 1}, {1, 6, 1, 1, 1}, {6, 1, 2, 1, 3}, {5, 4, 1, 1, 2}, {9, 9, 4, 3, 1},
    {33, 35, 2, 1, 1}, {17, 18, 19, 1, 1}};

// downsample into a new image, from the algorithm text: each output element is
// the float sum of its block in memory order over the float product of the factors.
template <class T>
std::unique_ptr<ImageBase<T>> refDownsample(ImageBase<T>& s, const int* f)
{
    auto out = std::make_unique<ImageBase<T>>();
    out->init(s.m_dim[0] / f[0], s.m_dim[1] / f[1], s.m_dim[2] / f[2], s.m_dim[3] / f[3], s.m_channels);
    const int n = f[0] * f[1] * f[2] * f[3];
    for (int o = 0; o < out->m_image_size; ++o) {
        const Position p = positionOf(*out, o);
        float sum = 0.0f;
        for (int b = 0; b < n; ++b)
            sum += s.getValue(p.x * f[0] + b % f[0], p.y * f[1] + b / f[0] % f[1], p.z * f[2] + b / f[0] / f[1] % f[2],
                p.t * f[3] + b / f[0] / f[1] / f[2], p.c);
        out->setValue(sum / float(n), p.x, p.y, p.z, p.t, p.c);
    }
    out->setSpacing(s.m_spacing[0] * f[0], s.m_spacing[1] * f[1], s.m_spacing[2] * f[2], s.m_spacing[3] * f[3]);
    return out;
}

// rotate, every frame alike, from the table of target positions.
template <class T>
std::unique_ptr<ImageBase<T>> refRotate(ImageBase<T>& s, int axis)
{
    const int X = s.m_dim[0], Y = s.m_dim[1], Z = s.m_dim[2];
    const int ext[3][3] = {{X, Z, Y}, {Z, Y, X}, {Y, X, Z}}, swapA[3] = {1, 0, 0}, swapB[3] = {2, 2, 1};
    auto out = copyOf(s);
    out->init(ext[axis][0], ext[axis][1], ext[axis][2], s.m_dim[3], s.m_channels);
    std::copy(s.m_window, s.m_window + 4 * s.m_channels, out->m_window);
    for (int i = 0; i < s.m_image_size; ++i) {
        const auto [x, y, z, t, c] = positionOf(s, i);
        (axis == 0 ? out->at(x, z, Y - 1 - y, t, c) : axis == 1 ? out->at(Z - 1 - z, y, x, t, c)
                                                                : out->at(y, X - 1 - x, z, t, c)) = s.m_data[i];
    }
    std::swap(out->m_spacing[swapA[axis]], out->m_spacing[swapB[axis]]);
    return out;
}

} // namespace

TYPED_TEST(Geometry, DownsampleAveragesBlocksIntoANewImageOrInPlace)
{
    const int factors[][4] = {{2, 2, 1, 1}, {3, 1, 1, 1}, {1, 2, 3, 1}, {2, 1, 1, 2}, {1, 1, 1, 1}, {5, 3, 1, 1},
        {8, 1, 1, 1}, {2, 2, 1, 2}};
    uint32_t seed = 10;
    for (const auto& sh : kShapes)
        for (const auto& f : factors) {
            if (sh[2] > 4 && f[0] != 2)
                continue; // the shape for the block turns: one factor is enough
            auto image = randomImage<TypeParam>(sh, ++seed);
            auto expected = refDownsample(*image, f), before = copyOf(*image);
            std::unique_ptr<Image> made(image->downsample(f[0], f[1], f[2], f[3], true));
            expectSameImage(before.get(), image.get()); // the source is left alone
            expectSameImage(expected.get(), made.get());
            EXPECT_EQ(image->downsample(f[0], f[1], f[2], f[3], false), nullptr);
            std::copy(before->m_window, before->m_window + 4 * sh[4], expected->m_window); // in place keeps it
            expectSameImage(expected.get(), image.get());
        }
}

TEST(Downsample, HalvingShortsAtTheExtremesTruncatesTowardZero)
{
    // Blocks at the ends of the range and where the mean is just below or above
    // a whole number, on both sides of zero; 19 columns of blocks cover the
    // vector steps and the tail.
    const short blocks[][4] = {{-32768, -32768, -32768, -32768}, {32767, 32767, 32767, 32767},
        {-32768, 32767, -32768, 32767}, {-1, 0, 0, 0}, {-5, 0, 0, 0}, {-3, -3, -3, -2}, {3, 3, 3, 2},
        {-32768, -32768, -32768, 32767}, {1, 1, 1, 0}, {-4, 0, 0, 0}, {7, 0, 0, 0}, {-7, 0, 0, 0}};
    ImageBase<short> image;
    image.init(38, 4, 1, 1, 1);
    for (int i = 0; i < 38 * 4; ++i)
        image.m_data[i] = blocks[(i % 38 / 2 + 7 * (i / 76)) % 12][i % 2 + 2 * (i / 38 % 2)];
    const int f[4] = {2, 2, 1, 1};
    auto expected = refDownsample(image, f);
    EXPECT_EQ(printed([&] { image.downsample(2, 2, 1, 1, false); }), "Image downsampled, new size 19 x 2 x 1\n");
    expectSameImage(expected.get(), &image);
    const short means[] = {-32768, 32767, 0, 0, -1, -2}; // -0.25, -1.25 and -2.75 toward zero
    EXPECT_TRUE(std::equal(means, means + 6, image.m_data));
}

// Bad factors, other axes and images without a buffer: nothing changes, nothing is printed.
TEST(Geometry, RefusalsLeaveTheImageAlone)
{
    auto image = randomImage<float>({4, 4, 1, 1, 1}, 3), before = copyOf(*image);
    ImageBase<float> empty;
    image->m_verbose = 1;
    const std::string text = printed([&] {
        for (const auto& [fx, fy, fz, ft] : {std::array{0, 1, 1, 1}, {1, 0, 1, 1}, {1, 1, -1, 1}, {2, 2, 1, 0}})
            for (bool newImage : {false, true})
                EXPECT_TRUE(!image->downsample(fx, fy, fz, ft, newImage) && !empty.downsample(2, 2, 1, 1, newImage));
        image->rotate(3);
        image->rotate(-1);
        empty.rotate(0);
        empty.scaleToPowerOfTwo();
    });
    expectSameImage(before.get(), image.get());
    EXPECT_TRUE(empty.m_data == nullptr && text.empty());
}

TYPED_TEST(Geometry, RotateFlipAndPaddingMoveEveryElementByTheRule)
{
    uint32_t seed = 100;
    for (const auto& sh : kShapes) {
        for (int axis = 0; axis < 3; ++axis) {
            auto image = randomImage<TypeParam>(sh, ++seed);
            auto expected = refRotate(*image, axis);
            image->m_verbose = 1;
            EXPECT_EQ(printed([&] { image->rotate(axis); }), "Rotated image around axis " + std::to_string(axis) + "\n");
            expectSameImage(expected.get(), image.get());
        }
        for (int mask = 0; mask < (sh[2] > 4 ? 2 : 16); ++mask) {
            const bool b[4] = {bool(mask & 1), bool(mask & 2), bool(mask & 4), bool(mask & 8)};
            auto image = randomImage<TypeParam>(sh, ++seed);
            auto expected = copyOf(*image);
            for (int i = 0; i < image->m_image_size; ++i) {
                const auto [x, y, z, t, c] = positionOf(*image, i);
                expected->at(b[0] ? sh[0] - 1 - x : x, b[1] ? sh[1] - 1 - y : y, b[2] ? sh[2] - 1 - z : z,
                    b[3] ? sh[3] - 1 - t : t, c) = image->m_data[i];
            }
            image->flip(b[0], b[1], b[2], b[3]);
            expectSameImage(expected.get(), image.get());
        }
        // The old rows keep their place at the low corner; later frames become zero.
        auto image = randomImage<TypeParam>(sh, ++seed);
        auto before = copyOf(*image);
        const int nx = nextPowerOfTwo(sh[0]), ny = nextPowerOfTwo(sh[1]);
        image->m_verbose = 1;
        EXPECT_EQ(printed([&] { image->scaleToPowerOfTwo(); }),
            "Scaled to power of two, new width = " + std::to_string(nx) + ", height = " + std::to_string(ny) + "\n");
        ASSERT_EQ(image->m_image_size, nx * ny * sh[2] * sh[3] * sh[4]);
        for (int i = 0; i < image->m_image_size; ++i) {
            const auto [x, y, z, t, c] = positionOf(*image, i);
            ASSERT_EQ(image->m_data[i], t == 0 && x < sh[0] && y < sh[1] ? before->at(x, y, z, 0, c) : TypeParam(0));
        }
    }
}

TEST(NextPowerOfTwo, SmallestPowerNotBelow)
{
    const int cases[][2] = {{12, 16}, {16, 16}, {1, 1}, {3, 4}, {5, 8}, {1000, 1024}, {0, 0}, {-5, 0},
        {1 << 30, 1 << 30}, {(1 << 30) + 1, (1 << 30) + 1}};
    for (const auto& c : cases)
        EXPECT_EQ(nextPowerOfTwo(c[0]), c[1]) << c[0];
}

TEST(Geometry, FlipOfAnExternalBufferGoesToANewOwnedOne)
{
    ImageBase<float> image;
    image.m_external = true;
    std::vector<float> mine = {1, 2, 3, 4, 5, 6};
    image.init(3, 2, 1, 1, 1);
    image.setData(mine.data());
    image.flip(true, false, false, false);
    EXPECT_FALSE(image.m_external); // the new buffer is freed by the image (ASan checks)
    EXPECT_EQ(mine, (std::vector<float>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(std::vector<float>(image.m_data, image.m_data + 6), (std::vector<float>{3, 2, 1, 6, 5, 4}));
}
