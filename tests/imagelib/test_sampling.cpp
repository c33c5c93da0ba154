// Samplers at fractional positions and the centre of mass.
#include "imageops_support.h"

using namespace opstest;

namespace {

template <class T>
class Sampling : public ::testing::Test {};
using SampledTypes = ::testing::Types<unsigned char, short, int, float, double>;
TYPED_TEST_SUITE(Sampling, SampledTypes);

float refLinear(Image& s, float x, float y, float z, int c)
{
    const int x0 = int(x), y0 = int(y), z0 = int(z);
    const float fx = x - float(x0), fy = y - float(y0), fz = z - float(z0);
    float sum = 0.0f;
    for (int d = 0; d < 2; ++d)
        for (int b = 0; b < 2; ++b)
            for (int a = 0; a < 2; ++a) {
                const float w = (a ? fx : 1 - fx) * (b ? fy : 1 - fy) * (d ? fz : 1 - fz);
                sum += s.getValue(x0 + a, y0 + b, z0 + d, 0, c) * w;
            }
    return sum;
}

void refWeights(float f, float* w)
{
    w[0] = ((2 - f) * f - 1) * f;
    w[1] = (f - 2) * f * f + 1;
    w[2] = ((1 - f) * f + 1) * f;
    w[3] = (f - 1) * f * f;
}

float refCubic(Image& s, float x, float y, float z, int c)
{
    const int x0 = int(x), y0 = int(y), z0 = int(z);
    float wx[4], wy[4], wz[4];
    refWeights(x - float(x0), wx);
    refWeights(y - float(y0), wy);
    refWeights(z - float(z0), wz);
    float sum = 0.0f;
    for (int k = 0; k < 4; ++k)
        for (int j = 0; j < 4; ++j)
            for (int i = 0; i < 4; ++i)
                sum += s.getValue(x0 - 1 + i, y0 - 1 + j, z0 - 1 + k, 0, c) * wx[i] * wy[j] * wz[k];
    return sum;
}

} // namespace

TEST(Sampling, LinearHalfwayBetweenTwoElements)
{
    ImageBase<unsigned char> image;
    image.init(2, 2, 2, 1, 1);
    image.at(0, 0, 0, 0, 0) = 10;
    image.at(1, 0, 0, 0, 0) = 20;
    float out = -1.0f;
    image.getVoxelLinear(&out, 0.5f, 0.0f, 0.0f);
    EXPECT_EQ(out, 15.0f);
    EXPECT_EQ(image.getLinear(0.5f, 0.0f, 0.0f), 15.0f);
    EXPECT_EQ(image.getLinear(0.25f, 0.0f, 0.0f), 12.5f);
}

TYPED_TEST(Sampling, LinearAndCubicMatchTheBlendForEveryChannel)
{
    auto image = randomImage<TypeParam>(6, 5, 4, 2, 3, 21);
    auto single = randomImage<TypeParam>(6, 5, 4, 1, 1, 22);
    std::mt19937 rng(23);
    std::uniform_real_distribution<float> fx(1.0f, 2.999f), fy(1.0f, 1.999f), fz(1.0f, 0.999f + 1.0f);
    for (int n = 0; n < 200; ++n) {
        const float x = fx(rng), y = fy(rng), z = fz(rng);
        float out[3];
        image->getVoxelLinear(out, x, y, z);
        for (int c = 0; c < 3; ++c)
            EXPECT_EQ(bitsOf(out[c]), bitsOf(refLinear(*image, x, y, z, c)));
        EXPECT_EQ(bitsOf(single->getLinear(x, y, z)), bitsOf(refLinear(*single, x, y, z, 0)));
        image->getVoxelCubic(out, x, y, z);
        for (int c = 0; c < 3; ++c)
            EXPECT_EQ(bitsOf(out[c]), bitsOf(refCubic(*image, x, y, z, c)));
        EXPECT_EQ(bitsOf(image->getCubic(x, y, z)), bitsOf(out[0]));
    }
}

TYPED_TEST(Sampling, CubicAtWholePositionsReturnsTheElement)
{
    auto image = randomImage<TypeParam>(5, 5, 5, 1, 2, 24);
    for (int z = 1; z <= 2; ++z)
        for (int y = 1; y <= 2; ++y)
            for (int x = 1; x <= 2; ++x) {
                float out[2];
                image->getVoxelCubic(out, float(x), float(y), float(z));
                for (int c = 0; c < 2; ++c)
                    EXPECT_EQ(out[c], image->getValue(x, y, z, 0, c));
            }
}

TYPED_TEST(Sampling, TruncatedPositions)
{
    auto image = randomImage<TypeParam>(4, 3, 2, 1, 2, 25);
    float out[2];
    image->getVoxel(out, 2.9f, 1.99f, 1.5f);
    EXPECT_EQ(out[0], image->getValue(2, 1, 1, 0, 0));
    EXPECT_EQ(out[1], image->getValue(2, 1, 1, 0, 1));
    EXPECT_EQ(image->getNearest(3.7f, 0.2f, 0.0f), image->getValue(3, 0, 0, 0, 0));
    // Truncation goes toward zero: -0.5 still reads column 0.
    EXPECT_EQ(image->getNearest(-0.5f, 0.0f, 0.0f), image->getValue(0, 0, 0, 0, 0));
}

TEST(Sampling, PositionsOutsideTheImageGiveZero)
{
    auto image = randomImage<float>(4, 4, 4, 1, 2, 26);
    float out[2] = {7.0f, 7.0f};
    image->getVoxel(out, 4.0f, 0.0f, 0.0f);
    EXPECT_EQ(out[0], 0.0f);
    EXPECT_EQ(out[1], 0.0f);
    EXPECT_EQ(image->getNearest(0.0f, -1.5f, 0.0f), 0.0f);
    EXPECT_EQ(image->getNearest(1e30f, 0.0f, 0.0f), 0.0f);
    EXPECT_EQ(image->getNearest(std::nanf(""), 0.0f, 0.0f), 0.0f);
    EXPECT_EQ(image->getLinear(3.0f, 0.0f, 0.0f), 0.0f); // x0 + 1 would leave the row
    out[0] = out[1] = 7.0f;
    image->getVoxelCubic(out, 0.5f, 1.0f, 1.0f); // x0 - 1 < 0
    EXPECT_EQ(out[0], 0.0f);
    EXPECT_EQ(image->getCubic(2.0f, 2.0f, 1.5f), 0.0f); // z0 + 2 = 3 is the last slice: inside
    EXPECT_NE(image->getCubic(1.0f, 1.0f, 1.0f), 0.0f);
    EXPECT_EQ(image->getCubic(2.0f, 2.0f, 2.0f), 0.0f); // z0 + 2 = 4 leaves the volume
}

TEST(Sampling, PositionsThatNameNoVoxelGiveZero)
{
    // Refused before conversion: no overflow in forming the neighbourhood.
    const float positions[] = {std::nanf(""), INFINITY, -INFINITY, 1e30f, -1e30f, -2147483648.0f, -2147483904.0f,
        2147483648.0f, -3e9f};
    auto image = randomImage<short>(5, 5, 5, 1, 2, 29);
    for (float v : positions)
        for (int axis = 0; axis < 3; ++axis) {
            float p[3] = {2.0f, 2.0f, 2.0f};
            p[axis] = v;
            float out[2] = {7.0f, 7.0f}, linear[2] = {7.0f, 7.0f}, cubic[2] = {7.0f, 7.0f};
            image->getVoxel(out, p[0], p[1], p[2]);
            image->getVoxelLinear(linear, p[0], p[1], p[2]);
            image->getVoxelCubic(cubic, p[0], p[1], p[2]);
            for (int c = 0; c < 2; ++c) {
                EXPECT_EQ(out[c], 0.0f) << v << " on axis " << axis;
                EXPECT_EQ(linear[c], 0.0f) << v << " on axis " << axis;
                EXPECT_EQ(cubic[c], 0.0f) << v << " on axis " << axis;
            }
            EXPECT_EQ(image->getNearest(p[0], p[1], p[2]), 0.0f) << v << " on axis " << axis;
            EXPECT_EQ(image->getLinear(p[0], p[1], p[2]), 0.0f) << v << " on axis " << axis;
            EXPECT_EQ(image->getCubic(p[0], p[1], p[2]), 0.0f) << v << " on axis " << axis;
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
#else
TEST(Sampling, LinearOutsideTheImageGivesZeroInReleaseBuilds)
{
    auto image = randomImage<short>(4, 4, 1, 1, 1, 27);
    float out = 5.0f;
    image->getVoxelLinear(&out, 1.5f, 1.5f, 0.0f);
    EXPECT_EQ(out, 0.0f);
}
#endif

TYPED_TEST(Sampling, CenterOfMassWeighsAboveTheLowerBound)
{
    ImageBase<TypeParam> image;
    image.init(4, 3, 2, 2, 1);
    image.setWindowRange(10.0f, 100.0f, 0);
    for (int i = 0; i < image.m_image_size; ++i)
        image.m_data[i] = TypeParam(10); // weight 0 everywhere
    image.at(3, 1, 1, 0, 0) = TypeParam(13);
    image.at(1, 1, 1, 0, 0) = TypeParam(12);
    image.at(0, 0, 0, 1, 0) = TypeParam(90); // frame 1 does not count
    float out[3];
    image.centerOfMass(out);
    // Weights 3 at (3, 1, 1) and 2 at (1, 1, 1): x = (9 + 2) / 5.
    EXPECT_EQ(out[0], 11.0f / 5.0f);
    EXPECT_EQ(out[1], 1.0f);
    EXPECT_EQ(out[2], 1.0f);

    // Below the lower bound weights turn negative: 22 voxels of -10, then -7 at
    // x = 3 and -8 at x = 1; sums of whole numbers are exact.
    image.setWindowRange(20.0f, 100.0f, 0);
    image.centerOfMass(out);
    EXPECT_EQ(out[0], -349.0f / -235.0f);
}

TEST(Sampling, CenterOfMassWithoutWeightIsNotANumber)
{
    ImageBase<float> image;
    image.init(3, 3, 1, 1, 1);
    float out[3];
    image.centerOfMass(out);
    EXPECT_TRUE(std::isnan(out[0]) && std::isnan(out[1]) && std::isnan(out[2]));
    ImageBase<float> empty;
    empty.centerOfMass(out);
    EXPECT_TRUE(std::isnan(out[0]));
}

TEST(Sampling, CenterOfMassSumsInSinglePrecision)
{
    auto image = randomImage<float>(13, 11, 5, 1, 2, 28); // two channels: read as one
    float sw = 0, sx = 0, sy = 0, sz = 0;
    const float lower = image->m_window[2];
    for (int z = 0; z < 5; ++z)
        for (int y = 0; y < 11; ++y)
            for (int x = 0; x < 13; ++x) {
                const float w = v1(*image, x, y, z) - lower;
                sw += w;
                sx += w * float(x);
                sy += w * float(y);
                sz += w * float(z);
            }
    float out[3];
    image->centerOfMass(out);
    EXPECT_EQ(bitsOf(out[0]), bitsOf(sx / sw));
    EXPECT_EQ(bitsOf(out[1]), bitsOf(sy / sw));
    EXPECT_EQ(bitsOf(out[2]), bitsOf(sz / sw));
}
