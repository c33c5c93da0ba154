// Downsampling, quarter turns, mirroring and padding to powers of two.
#include "imageops_support.h"

#include <array>
#include <functional>

using namespace opstest;
using Lumen::nextPowerOfTwo;

namespace {

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

} // namespace

TYPED_TEST(EveryType, DownsampleAveragesBlocksIntoANewImageOrInPlace)
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
            image->m_verbose = 1;
            EXPECT_EQ(printed([&] { EXPECT_EQ(image->downsample(f[0], f[1], f[2], f[3], false), nullptr); }),
                "Image downsampled, new size " + std::to_string(expected->m_dim[0]) + " x "
                    + std::to_string(expected->m_dim[1]) + " x " + std::to_string(expected->m_dim[2]) + "\n");
            std::copy(before->m_window, before->m_window + 4 * sh[4], expected->m_window); // in place keeps it
            expectSameImage(expected.get(), image.get());
        }
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

// Each case moves element (x, y, z, t) of the source to a target position in an
// image of new extents with the spacing components reordered; the quarter turns
// about axes 0, 1 and 2, padding (later frames become zero) and every mirroring.
TYPED_TEST(EveryType, RotateFlipAndPaddingMoveEveryElementByTheRule)
{
    using P = Position;
    uint32_t seed = 100;
    for (const auto& sh : kShapes) {
        const int X = sh[0], Y = sh[1], Z = sh[2], T = sh[3], nx = nextPowerOfTwo(X), ny = nextPowerOfTwo(Y);
        struct Case {
            std::array<int, 4> extents, spacingFrom;
            std::function<P(P)> to;
            std::function<void(Image&)> op;
            std::string message;
        };
        std::vector<Case> cases = {{{X, Z, Y, T}, {0, 2, 1, 3}, [&](P p) { return P{p.x, p.z, Y - 1 - p.y, p.t, p.c}; },
                                       [](Image& i) { i.rotate(0); }, "Rotated image around axis 0\n"},
            {{Z, Y, X, T}, {2, 1, 0, 3}, [&](P p) { return P{Z - 1 - p.z, p.y, p.x, p.t, p.c}; },
                [](Image& i) { i.rotate(1); }, "Rotated image around axis 1\n"},
            {{Y, X, Z, T}, {1, 0, 2, 3}, [&](P p) { return P{p.y, X - 1 - p.x, p.z, p.t, p.c}; },
                [](Image& i) { i.rotate(2); }, "Rotated image around axis 2\n"},
            {{nx, ny, Z, T}, {0, 1, 2, 3}, [](P p) { return p.t ? P{-1, 0, 0, 0, 0} : p; },
                [](Image& i) { i.scaleToPowerOfTwo(); },
                "Scaled to power of two, new width = " + std::to_string(nx) + ", height = " + std::to_string(ny) + "\n"}};
        for (int m = 0; m < (Z > 4 ? 2 : 16); ++m)
            cases.push_back({{X, Y, Z, T}, {0, 1, 2, 3}, [&, m](P p) {
                return P{m & 1 ? X - 1 - p.x : p.x, m & 2 ? Y - 1 - p.y : p.y, m & 4 ? Z - 1 - p.z : p.z,
                    m & 8 ? T - 1 - p.t : p.t, p.c};
            }, [m](Image& i) { i.flip(m & 1, m & 2, m & 4, m & 8); }, ""});
        for (const Case& c : cases) {
            auto image = randomImage<TypeParam>(sh, ++seed);
            ImageBase<TypeParam> expected;
            expected.init(c.extents[0], c.extents[1], c.extents[2], c.extents[3], sh[4]);
            std::copy(image->m_window, image->m_window + 4 * sh[4], expected.m_window);
            const float* s = image->m_spacing;
            const auto& f = c.spacingFrom;
            expected.setSpacing(s[f[0]], s[f[1]], s[f[2]], s[f[3]]);
            for (int i = 0; i < image->m_image_size; ++i)
                if (const P q = c.to(positionOf(*image, i)); q.x >= 0)
                    expected.at(q.x, q.y, q.z, q.t, q.c) = image->m_data[i];
            image->m_verbose = 1;
            EXPECT_EQ(printed([&] { c.op(*image); }), c.message);
            expectSameImage(&expected, image.get());
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
