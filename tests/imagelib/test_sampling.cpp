// Samplers at fractional positions and the centre of mass.
#include "imageops_support.h"

#include <array>
#include <cmath>

using namespace opstest;

namespace {

template <class T>
class Sampling : public ::testing::Test {};
TYPED_TEST_SUITE(Sampling, AllTypes);

float refLinear(Image& s, float x, float y, float z, int c)
{
    const int x0 = int(x), y0 = int(y), z0 = int(z);
    const float fx = x - float(x0), fy = y - float(y0), fz = z - float(z0);
    float sum = 0.0f;
    for (int n = 0; n < 8; ++n) {
        const int a = n % 2, b = n / 2 % 2, d = n / 4;
        sum += s.getValue(x0 + a, y0 + b, z0 + d, 0, c) * ((a ? fx : 1 - fx) * (b ? fy : 1 - fy) * (d ? fz : 1 - fz));
    }
    return sum;
}

float refCubic(Image& s, float x, float y, float z, int c)
{
    const int p0[3] = {int(x), int(y), int(z)};
    const float f[3] = {x - float(p0[0]), y - float(p0[1]), z - float(p0[2])};
    float w[3][4];
    for (int a = 0; a < 3; ++a) {
        w[a][0] = ((2 - f[a]) * f[a] - 1) * f[a];
        w[a][1] = (f[a] - 2) * f[a] * f[a] + 1;
        w[a][2] = ((1 - f[a]) * f[a] + 1) * f[a];
        w[a][3] = (f[a] - 1) * f[a] * f[a];
    }
    float sum = 0.0f;
    for (int n = 0; n < 64; ++n) {
        const int i = n % 4, j = n / 4 % 4, k = n / 16;
        sum += s.getValue(p0[0] - 1 + i, p0[1] - 1 + j, p0[2] - 1 + k, 0, c) * w[0][i] * w[1][j] * w[2][k];
    }
    return sum;
}

#ifdef NDEBUG
constexpr bool kChecked = false;
#else
constexpr bool kChecked = true;
#endif

} // namespace

TYPED_TEST(Sampling, LinearAndCubicMatchTheBlendForEveryChannel)
{
    auto image = randomImage<TypeParam>(6, 5, 4, 2, 3, 21);
    auto single = randomImage<TypeParam>(6, 5, 4, 1, 1, 22);
    std::mt19937 rng(23);
    std::uniform_real_distribution<float> fx(1.0f, 2.999f), fy(1.0f, 1.999f), fz(1.0f, 1.999f);
    for (int n = 0; n < 200; ++n) {
        const float x = fx(rng), y = fy(rng), z = fz(rng);
        float linear[3], cubic[3], truncated[3];
        image->getVoxelLinear(linear, x, y, z);
        image->getVoxelCubic(cubic, x, y, z);
        image->getVoxel(truncated, x, y, z);
        for (int c = 0; c < 3; ++c) {
            EXPECT_EQ(bitsOf(linear[c]), bitsOf(refLinear(*image, x, y, z, c)));
            EXPECT_EQ(bitsOf(cubic[c]), bitsOf(refCubic(*image, x, y, z, c)));
            EXPECT_EQ(truncated[c], image->getValue(int(x), int(y), int(z), 0, c));
        }
        EXPECT_EQ(bitsOf(single->getLinear(x, y, z)), bitsOf(refLinear(*single, x, y, z, 0)));
        EXPECT_EQ(bitsOf(image->getCubic(x, y, z)), bitsOf(cubic[0]));
        EXPECT_EQ(image->getNearest(x, y, z), truncated[0]);
    }
}

// A neighbourhood leaving the image gives 0 for every channel, and so does a
// position naming no voxel (refused before conversion: no overflow in forming
// the neighbourhood). 5 x 5 x 5: truncated needs x0 <= 4, linear x0 <= 3, cubic 1 <= x0 <= 2.
TEST(Sampling, NeighbourhoodsLeavingTheImageGiveZero)
{
    std::vector<std::array<float, 6>> cases = {{4, 4, 4, 1, 0, 0}, {5, 2, 2, 0, 0, 0}, {2, -1.5f, 2, 0, 0, 0},
        {-0.5f, 0, 0, 1, 1, 0}, {3.9f, 3, 3.5f, 1, 1, 0}, {2.5f, 2, 2.9f, 1, 1, 1}, {0.5f, 1, 1, 1, 1, 0},
        {2, 1, 1, 1, 1, 1}, {1, 2, 3, 1, 1, 0}}; // x, y, z, then which samplers reach inside
    for (float v :
        {std::nanf(""), INFINITY, -INFINITY, 1e30f, -1e30f, -2147483648.0f, -2147483904.0f, 2147483648.0f, -3e9f})
        for (int axis = 0; axis < 3; ++axis) {
            cases.push_back({2, 2, 2, 0, 0, 0});
            cases.back()[axis] = v;
        }
    auto image = randomImage<short>(5, 5, 5, 1, 2, 29);
    for (const auto& [x, y, z, truncated, linear, cubic] : cases) {
        const bool names = std::fabs(x) < 1e9f && std::fabs(y) < 1e9f && std::fabs(z) < 1e9f; // false for NaN
        float out[6] = {7, 7, 7, 7, 7, 7};
        image->getVoxel(out, x, y, z);
        if (linear || !kChecked || !names) // checked builds assert that all eight neighbours exist
            image->getVoxelLinear(out + 2, x, y, z);
        image->getVoxelCubic(out + 4, x, y, z);
        const std::string at = std::to_string(x) + " " + std::to_string(y) + " " + std::to_string(z);
        for (int c = 0; c < 2; ++c) {
            EXPECT_EQ(out[c], truncated ? image->getValue(int(x), int(y), int(z), 0, c) : 0.0f) << at;
            EXPECT_EQ(out[2 + c], linear ? refLinear(*image, x, y, z, c) : kChecked && names ? 7.0f : 0.0f) << at;
            EXPECT_EQ(out[4 + c], cubic ? refCubic(*image, x, y, z, c) : 0.0f) << at;
        }
        const float scalars[3] = {image->getNearest(x, y, z), image->getLinear(x, y, z), image->getCubic(x, y, z)};
        EXPECT_EQ(std::vector<float>(scalars, scalars + 3), std::vector<float>({out[0], linear ? scalars[1] : 0, out[4]}))
            << at;
    }
}

#ifndef NDEBUG
TEST(SamplingDeathTest, LinearAssertsThatAllNeighboursExist)
{
    auto image = randomImage<short>(4, 4, 1, 1, 1, 27); // one slice: no z neighbour
    float out = 0.0f;
    EXPECT_DEATH(image->getVoxelLinear(&out, 1.5f, 1.5f, 0.0f),
        "\\(xx < m_dim\\[0\\]-1\\) && \\(yy < m_dim\\[1\\]-1\\) && \\(zz < m_dim\\[2\\]-1\\).*imagelib/include/imagebase");
}
#endif

// Weights value - lower of channel 0's window, frame 0 read as one channel,
// float sums with z outermost; with no weight at all the quotients are NaN.
TYPED_TEST(Sampling, CenterOfMassSumsInSinglePrecision)
{
    auto image = randomImage<TypeParam>(13, 11, 5, 2, 2, 28);
    float sw = 0, sx = 0, sy = 0, sz = 0;
    for (int i = 0; i < 13 * 11 * 5; ++i) {
        const float w = elementAt(*image, i) - image->m_window[2];
        sw += w;
        sx += w * float(i % 13);
        sy += w * float(i / 13 % 11);
        sz += w * float(i / 143);
    }
    float out[3];
    image->centerOfMass(out);
    EXPECT_EQ(bitsOf(out[0]), bitsOf(sx / sw));
    EXPECT_EQ(bitsOf(out[1]), bitsOf(sy / sw));
    EXPECT_EQ(bitsOf(out[2]), bitsOf(sz / sw));
    ImageBase<TypeParam> flat, empty;
    flat.init(3, 3, 1, 1, 1);
    for (auto* s : {&flat, &empty}) {
        s->centerOfMass(out);
        EXPECT_TRUE(std::isnan(out[0]) && std::isnan(out[1]) && std::isnan(out[2]));
    }
}
