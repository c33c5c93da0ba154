// Convolution filter, border extension, 2-D gradient, Hessian and 3-D gradient.
#include "imageops_support.h"
#include <functional>
#include <limits>

using namespace opstest;
using Lumen::createImage;
using Lumen::TypeChar;
using Lumen::TypeDouble;
using Lumen::TypeFloat;
using Lumen::TypeInt;
using Lumen::TypeShort;

namespace {

template <class T>
class Derived : public ::testing::Test {};
using AllTypes = ::testing::Types<char, unsigned char, short, unsigned short, int, unsigned int, float, double>;
TYPED_TEST_SUITE(Derived, AllTypes);

struct Shape {
    int x, y, z, t, c;
};
// Sizes below the kernel, one-wide images, several slices, frames and channels.
const Shape kShapes[] = {{9, 7, 2, 2, 1}, {1, 6, 1, 1, 1}, {6, 1, 1, 1, 1}, {2, 2, 1, 1, 1}, {4, 4, 3, 1, 2},
    {37, 21, 1, 1, 1}, {40, 6, 3, 1, 1}, {5, 5, 4, 1, 1}, {3, 3, 3, 1, 1}};
const int kOutputTypes[] = {TypeChar, TypeShort, TypeInt, TypeFloat, TypeDouble};

std::vector<float> randomKernel(int w, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::vector<float> k(size_t(w) * w);
    for (float& v : k)
        v = (rng() % 4 == 0) ? 0.0f : std::uniform_real_distribution<float>(-2.0f, 2.0f)(rng);
    return k;
}

} // namespace

TEST(Filter, RefusalsInOrder)
{
    auto image = randomImage<float>(5, 5, 1, 1, 1, 40);
    const float k[25] = {};
    struct Case {
        int type;
        const float* kernel;
        int w;
        const char* message;
    } cases[] = {
        {0x1401, nullptr, 4, "Error: unsigned data type, cannot compute filtered image!\n"},
        {0x1403, k, 3, "Error: unsigned data type, cannot compute filtered image!\n"},
        {TypeFloat, nullptr, 4, "Error: Cannot compute filtered image without filter!\n"},
        {TypeFloat, k, 4, "Error: Window size must be an odd number!\n"},
        {TypeFloat, k, 0, "Error: Window size must be an odd number!\n"},
    };
    for (const Case& c : cases) {
        CoutCapture capture;
        EXPECT_EQ(image->filter(c.type, c.kernel, c.w, nullptr), nullptr);
        EXPECT_EQ(capture.text(), c.message);
    }
    // Type 0 means m_type, which is 0: no output, no message.
    CoutCapture capture;
    EXPECT_EQ(image->filter(0, k, 3, nullptr), nullptr);
    image->m_type = 0x1405;
    EXPECT_EQ(image->filter(0, k, 3, nullptr), nullptr);
    EXPECT_EQ(capture.text(), "Error: unsigned data type, cannot compute filtered image!\n");
}

TEST(Filter, WindowsOutsideTheContractGiveZerosWithoutReadingTheKernel)
{
    // A negative window reaches no neighbour; one wider than the image has no
    // interior, so not one of its w * w kernel entries is read, no int overflows
    // and no buffer grows with the window (2048 x 4 with w = 131073 once took 1 GB).
    const struct Case {
        int x, y, w;
    } cases[] = {{6, 5, -1}, {6, 5, -3}, {6, 5, 13}, {4, 4, INT32_MAX}, {4, 4, -INT32_MAX}, {2048, 4, 131073},
        {2048, 4, (1 << 29) + 1}};
    const float k[1] = {1.0f};
    for (const Case& c : cases) {
        auto image = randomImage<short>(c.x, c.y, 2, 1, 1, 47);
        const long peakBefore = peakResidentKiB();
        std::unique_ptr<Image> out(image->filter(TypeFloat, k, c.w, nullptr));
        EXPECT_LT(peakResidentKiB() - peakBefore, 64L << 10) << "w " << c.w;
        ASSERT_NE(out, nullptr);
        for (int i = 0; i < out->m_image_size; ++i)
            ASSERT_EQ(out->getValue(i, 0, 0, 0, 0), 0.0f) << "w " << c.w;
    }
}

TEST(Filter, CentreKernelReproducesTheInteriorAndTheRangeCountsTheBorder)
{
    ImageBase<short> image;
    image.init(5, 5, 1, 1, 1);
    for (int i = 0; i < 25; ++i)
        image.m_data[i] = short(10 + i);
    const float k[9] = {0, 0, 0, 0, 1, 0, 0, 0, 0};
    CoutCapture capture;
    std::unique_ptr<Image> out(image.filter(TypeShort, k, 3, nullptr));
    EXPECT_EQ(capture.text(), "");
    ASSERT_NE(out, nullptr);
    auto* typed = dynamic_cast<ImageBase<short>*>(out.get());
    ASSERT_NE(typed, nullptr);
    for (int y = 1; y < 4; ++y)
        for (int x = 1; x < 4; ++x)
            EXPECT_EQ(typed->at(x, y, 0, 0, 0), image.at(x, y, 0, 0, 0));
    EXPECT_EQ(out->m_window[2], 0.0f); // border zeros were written first
    EXPECT_EQ(out->m_window[3], 28.0f);
    EXPECT_EQ(out->m_cursor, 25);
    EXPECT_EQ(out->m_spacing[0], image.m_spacing[0]);
}

TEST(ExtendBorder, FillsEveryBorderLineFromTheNearestInteriorLine)
{
    ImageBase<int> image;
    image.init(7, 6, 2, 1, 1);
    for (int i = 0; i < image.m_image_size; ++i)
        image.m_data[i] = 1000 + i;
    image.extendBorder(2);
    for (int z = 0; z < 2; ++z)
        for (int y = 0; y < 6; ++y)
            for (int x = 0; x < 7; ++x) {
                const int sx = std::clamp(x, 2, 4), sy = std::clamp(y, 2, 3);
                EXPECT_EQ(image.at(x, y, z, 0, 0), 1000 + z * 42 + sy * 7 + sx) << x << "," << y << "," << z;
            }
}

TEST(ExtendBorder, LeavesDirectionsWithoutInteriorAlone)
{
    ImageBase<short> image;
    image.init(4, 9, 1, 1, 1);
    for (int i = 0; i < 36; ++i)
        image.m_data[i] = short(i);
    image.extendBorder(2); // 4 columns: no interior column; rows still copied
    for (int y = 0; y < 9; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(image.at(x, y, 0, 0, 0), std::clamp(y, 2, 6) * 4 + x);
    image.extendBorder(0);
    image.extendBorder(-3);
    ImageBase<short> empty;
    empty.extendBorder(1);
}

TYPED_TEST(Derived, FilterMatchesTheConvolution)
{
    uint32_t seed = 300;
    for (const Shape& sh : kShapes)
        for (int w : {1, 3, 5, 7})
            for (int type : kOutputTypes) {
                auto image = randomImage<TypeParam>(sh.x, sh.y, sh.z, sh.t, sh.c, ++seed);
                const auto kernel = randomKernel(w, seed);
                std::unique_ptr<Image> expected(refFilter(*image, type, kernel.data(), w, nullptr));
                std::unique_ptr<Image> actual(image->filter(type, kernel.data(), w, nullptr));
                expectSameImage(expected.get(), actual.get());
            }
}

TYPED_TEST(Derived, FilterIntoACallersImageOfAnotherType)
{
    auto image = randomImage<TypeParam>(11, 8, 2, 1, 1, 41);
    const auto kernel = randomKernel(3, 42);
    // The output's own element type decides the stored values, not the type code.
    auto expected = std::make_unique<ImageBase<int>>();
    expected->init(11, 8, 2, 1, 1);
    auto actual = std::make_unique<ImageBase<int>>();
    actual->init(11, 8, 2, 1, 1);
    EXPECT_EQ(image->filter(TypeFloat, kernel.data(), 3, actual.get()), actual.get());
    refFilter(*image, TypeFloat, kernel.data(), 3, expected.get());
    expectSameImage(expected.get(), actual.get());

    // Too small an output keeps what fits, like setNext.
    auto small = std::make_unique<ImageBase<float>>();
    small->init(5, 5, 1, 1, 1);
    EXPECT_EQ(image->filter(TypeFloat, kernel.data(), 3, small.get()), small.get());
    EXPECT_EQ(small->m_cursor, 25);
}

TEST(Filter, NonFiniteValuesAreSkippedWithZeroKernelEntries)
{
    auto image = randomImage<float>(5, 5, 1, 1, 1, 43);
    image->at(0, 0, 0, 0, 0) = std::numeric_limits<float>::infinity();
    image->at(4, 2, 0, 0, 0) = std::nanf("");
    const float k[9] = {0, 0, 0, 0, 1, 1, 0, 0, 0}; // reads the centre and the right neighbour
    std::unique_ptr<Image> expected(refFilter(*image, TypeFloat, k, 3, nullptr));
    std::unique_ptr<Image> actual(image->filter(TypeFloat, k, 3, nullptr));
    expectSameImage(expected.get(), actual.get());
    auto* typed = dynamic_cast<ImageBase<float>*>(actual.get());
    EXPECT_FALSE(std::isnan(typed->at(1, 1, 0, 0, 0))); // the infinity sits under a zero entry
    EXPECT_TRUE(std::isnan(typed->at(3, 2, 0, 0, 0)));
}

TEST(Gradient, RowDifferenceWithTheDefaultKernel)
{
    ImageBase<float> image;
    image.init(3, 3, 1, 1, 1);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 3; ++x)
            image.at(x, y, 0, 0, 0) = float(y);
    CoutCapture capture;
    std::unique_ptr<Image> out(image.gradient(TypeFloat, nullptr, false, nullptr));
    EXPECT_EQ(capture.text(), "");
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out->m_dim[0], 1);
    EXPECT_EQ(out->m_dim[1], 1);
    EXPECT_EQ(out->m_channels, 2);
    EXPECT_EQ(out->getValue(0, 0, 0, 0, 0), -8.0f);
    EXPECT_EQ(out->getValue(0, 0, 0, 0, 1), 0.0f);
    EXPECT_EQ(out->m_window[2], -8.0f);
    EXPECT_EQ(out->m_window[4 + 3], 0.0f);
}

TEST(Gradient, KeepSizeLeavesAZeroRingAndSlicesAreSeparate)
{
    auto image = randomImage<short>(4, 4, 2, 1, 1, 44);
    std::unique_ptr<Image> out(image->gradient(TypeInt, nullptr, true, nullptr));
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out->m_dim[0], 4);
    EXPECT_EQ(out->m_dim[2], 2);
    for (int z = 0; z < 2; ++z)
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x)
                if (x == 0 || y == 0 || x == 3 || y == 3) {
                    for (int c = 0; c < 2; ++c)
                        EXPECT_EQ(out->getValue(x, y, z, 0, c), 0.0f);
                }
    // The second slice comes from the second source slice.
    float g0 = 0;
    const float k[9] = {1, 2, 1, 0, 0, 0, -1, -2, -1};
    for (int n = 0; n < 9; ++n)
        if (k[n] != 0)
            g0 += k[n] * image->getValue(1 + n % 3 - 1, 1 + n / 3 - 1, 1, 0, 0);
    EXPECT_EQ(out->getValue(1, 1, 1, 0, 0), float(int(g0)));
}

TEST(Gradient, Refusals)
{
    auto image = randomImage<float>(4, 4, 1, 1, 1, 45);
    for (int type : {0x1401, 0x1403, 0x1405}) {
        CoutCapture capture;
        EXPECT_EQ(image->gradient(type, nullptr, false, nullptr), nullptr);
        EXPECT_EQ(image->gradient3D(type, nullptr, false, false, nullptr), nullptr);
        EXPECT_EQ(image->hessian(type, nullptr, nullptr), nullptr);
        EXPECT_EQ(capture.text(), "Error: unsigned data type, cannot compute gradient!\n"
                                  "Error: unsigned data type, cannot compute gradient!\n"
                                  "Error: unsigned data type, cannot compute hessian!\n");
    }
    CoutCapture capture;
    EXPECT_EQ(image->gradient(0, nullptr, false, nullptr), nullptr);
    EXPECT_EQ(image->hessian(0x1234, nullptr, nullptr), nullptr);
    EXPECT_EQ(image->gradient3D(0, nullptr, false, false, nullptr), nullptr);
    // The source as its own output would be overwritten while being read.
    auto before = copyOf(*image);
    const float one = 1.0f;
    EXPECT_EQ(image->filter(TypeFloat, &one, 1, image.get()), nullptr);
    EXPECT_EQ(image->gradient(TypeFloat, nullptr, true, image.get()), nullptr);
    EXPECT_EQ(image->hessian(TypeFloat, nullptr, image.get()), nullptr);
    EXPECT_EQ(image->gradient3D(TypeFloat, nullptr, true, false, image.get()), nullptr);
    expectSameImage(before.get(), image.get());
    ImageBase<float> empty;
    EXPECT_EQ(empty.gradient(TypeFloat, nullptr, false, nullptr), nullptr);
    EXPECT_EQ(empty.hessian(TypeFloat, nullptr, nullptr), nullptr);
    EXPECT_EQ(empty.filter(TypeFloat, image->m_window, 1, nullptr), nullptr);
    EXPECT_EQ(capture.text(), "");
}

TYPED_TEST(Derived, GradientMatchesTheKernelAndItsTranspose)
{
    uint32_t seed = 400;
    const float custom[9] = {0.5f, -1.25f, 0, 3, 0, -0.75f, 0, 2, 1};
    for (const Shape& sh : kShapes)
        for (bool keep : {false, true})
            for (const float* k : {static_cast<const float*>(nullptr), custom})
                for (int type : kOutputTypes) {
                    auto image = randomImage<TypeParam>(sh.x, sh.y, sh.z, sh.t, sh.c, ++seed);
                    if (!keep && (sh.x < 2 || sh.y < 2))
                        continue; // no output layout exists (covered below)
                    std::unique_ptr<Image> expected(refGradient(*image, type, k, keep, nullptr));
                    std::unique_ptr<Image> actual(image->gradient(type, k, keep, nullptr));
                    expectSameImage(expected.get(), actual.get());
                }
}

// The largest sums the default kernel can make, which wrap in 8- and 16-bit outputs.
TYPED_TEST(Derived, GradientOfExtremePatterns)
{
    using T = TypeParam;
    const T lo = std::numeric_limits<T>::is_integer ? std::numeric_limits<T>::min() : T(-30000);
    const T hi = std::numeric_limits<T>::is_integer ? std::numeric_limits<T>::max() : T(30000);
    const std::function<bool(int, int)> patterns[] = {
        [](int x, int) { return x % 2 == 0; },
        [](int, int y) { return y % 2 == 0; },
        [](int x, int y) { return (x + y) % 2 == 0; },
        [](int x, int y) { return x > 20 && y > 2; },
    };
    for (const auto& high : patterns)
        for (bool keep : {false, true})
            for (int type : kOutputTypes) {
                ImageBase<T> image;
                image.init(41, 6, 2, 1, 1);
                image.m_verbose = 0;
                for (int i = 0; i < image.m_image_size; ++i)
                    image.m_data[i] = high(i % 41, i / 41 % 6) ? hi : lo;
                std::unique_ptr<Image> expected(refGradient(image, type, nullptr, keep, nullptr));
                std::unique_ptr<Image> actual(image.gradient(type, nullptr, keep, nullptr));
                expectSameImage(expected.get(), actual.get());
            }
}

TEST(Gradient, ImagesNarrowerThanTheKernelGiveEmptyOutputs)
{
    auto image = randomImage<float>(2, 9, 1, 1, 1, 46);
    std::unique_ptr<Image> out(image->gradient(TypeFloat, nullptr, false, nullptr));
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out->m_image_size, 0);
}

TYPED_TEST(Derived, HessianOfAGradientImage)
{
    uint32_t seed = 500;
    const float custom[9] = {0, 1, 0, 1, -4, 1, 0, 1, 0};
    for (const Shape& sh : kShapes)
        for (const float* k : {static_cast<const float*>(nullptr), custom}) {
            const int type = kOutputTypes[seed % 5];
            auto image = randomImage<TypeParam>(sh.x, sh.y, sh.z, 1, 2 + sh.c % 2, ++seed);
            std::unique_ptr<Image> expected(refHessianOfGradient(*image, type, k, nullptr));
            std::unique_ptr<Image> actual(image->hessian(type, k, nullptr));
            expectSameImage(expected.get(), actual.get());
        }
}

TYPED_TEST(Derived, HessianOfAOneChannelImageGoesThroughItsGradient)
{
    for (int mType : {0, int(TypeShort)}) {
        auto image = randomImage<TypeParam>(9, 8, 2, 1, 1, 600 + mType);
        image->m_type = mType;
        // The gradient is kept in m_type, or in the requested type while m_type names none.
        const int gradientType = mType ? mType : TypeFloat;
        std::unique_ptr<Image> grad(refGradient(*image, gradientType, nullptr, true, nullptr));
        std::unique_ptr<Image> expected(refHessianOfGradient(*grad, TypeFloat, nullptr, nullptr));
        expected->setSpacing(image->m_spacing[0], image->m_spacing[1], image->m_spacing[2], image->m_spacing[3]);
        CoutCapture capture;
        std::unique_ptr<Image> actual(image->hessian(TypeFloat, nullptr, nullptr));
        EXPECT_EQ(capture.text(), "");
        expectSameImage(expected.get(), actual.get());
    }
}

TYPED_TEST(Derived, Gradient3DMatchesTheKernelAlongEachAxis)
{
    uint32_t seed = 700;
    std::mt19937 rng(7);
    std::vector<float> custom(27);
    for (float& v : custom)
        v = (rng() % 3 == 0) ? 0.0f : float(int(rng() % 9) - 4) * 0.5f;
    const Shape shapes[] = {{5, 4, 3, 1, 1}, {3, 3, 3, 1, 1}, {8, 6, 5, 2, 2}, {19, 3, 4, 1, 1}, {4, 4, 2, 1, 1}};
    for (const Shape& sh : shapes)
        for (bool keep : {false, true})
            for (bool withIntensity : {false, true})
                for (const float* k : {static_cast<const float*>(nullptr), static_cast<const float*>(custom.data())}) {
                    const int type = kOutputTypes[seed % 5];
                    auto image = randomImage<TypeParam>(sh.x, sh.y, sh.z, sh.t, sh.c, ++seed);
                    if (!keep && sh.z < 2)
                        continue;
                    long long exceeded = 0;
                    std::unique_ptr<Image> expected(
                        refGradient3D(*image, type, k, keep, withIntensity, nullptr, &exceeded));
                    std::ostringstream messages;
                    if (exceeded)
                        messages << "Warning: " << exceeded << " values exceeded.\n";
                    CoutCapture capture;
                    std::unique_ptr<Image> actual(image->gradient3D(type, k, keep, withIntensity, nullptr));
                    EXPECT_EQ(capture.text(), messages.str());
                    expectSameImage(expected.get(), actual.get());
                }
}

TEST(Gradient3D, ClampsToCharAndWarns)
{
    ImageBase<unsigned char> image;
    image.init(4, 4, 4, 1, 1);
    for (int z = 0; z < 4; ++z)
        for (int i = 0; i < 16; ++i)
            image.m_data[z * 16 + i] = z < 2 ? 0 : 100; // a step of 100 between planes 1 and 2
    image.setWindowRange(0, 100, 0);
    CoutCapture capture;
    std::unique_ptr<Image> out(image.gradient3D(TypeChar, nullptr, false, true, nullptr));
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out->m_channels, 4);
    EXPECT_EQ(out->m_dim[0], 2);
    // Along z the smoothed difference is -1000 at every interior voxel: all 8 clamp.
    for (int z = 0; z < 2; ++z)
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 2; ++x) {
                EXPECT_EQ(out->getValue(x, y, z, 0, 2), -128.0f);
                EXPECT_EQ(out->getValue(x, y, z, 0, 3), float(char(image.at(x + 1, y + 1, z + 1, 0, 0))));
            }
    EXPECT_EQ(capture.text(), "Computing 3D gradient...\nDone. Range = [-128..0]\nWarning: 8 values exceeded.\n");
    EXPECT_EQ(out->m_window[4 * 3 + 2], 0.0f);
    EXPECT_EQ(out->m_window[4 * 3 + 3], 100.0f);
}

namespace {

// Float bit patterns: a stride through all of them plus every pattern near the
// edges of the integer types, zero, the infinities and the NaNs.
std::vector<float> conversionSamples()
{
    std::vector<uint32_t> bits;
    for (uint64_t b = 0; b < (uint64_t(1) << 32); b += 4099)
        bits.push_back(uint32_t(b));
    const uint32_t centres[] = {0x00000000u, 0x80000000u, 0x4F000000u, 0xCF000000u, 0x4F800000u, 0xCF800000u,
        0x47000000u, 0xC7000000u, 0x47800000u, 0x43000000u, 0xC3000000u, 0x43800000u, 0x3F800000u, 0xBF800000u,
        0x7F800000u, 0xFF800000u, 0x7FC00000u, 0xFFC00000u};
    for (uint32_t c : centres)
        for (uint32_t d = 0; d < 4096; ++d)
            bits.push_back(c - 2048 + d);
    std::vector<float> values(bits.size());
    std::memcpy(values.data(), bits.data(), bits.size() * sizeof(float));
    return values;
}

template <class U>
void expectStoredLikeSetNext(ImageBase<float>& source, const std::vector<float>& computed)
{
    const int X = source.m_dim[0], Y = source.m_dim[1];
    const float one = 1.0f;
    ImageBase<U> actual, expected;
    actual.init(X, Y, 1, 1, 1);
    expected.init(X, Y, 1, 1, 1);
    ASSERT_EQ(source.filter(TypeFloat, &one, 1, &actual), &actual);
    expected.resetCursor();
    for (float v : computed)
        expected.setNext(v);
    EXPECT_EQ(std::memcmp(actual.m_data, expected.m_data, sizeof(U) * size_t(actual.m_image_size)), 0)
        << "element type of size " << sizeof(U);
}

} // namespace

// The filter stores its values several at a time; every float must land in
// every element type exactly as the one-at-a-time conversion rule puts it.
TEST(Filter, VectorStoresFollowTheConversionRuleForEveryFloat)
{
    const std::vector<float> samples = conversionSamples();
    const int X = 1024, Y = int((samples.size() + X - 1) / X);
    ImageBase<float> source;
    source.init(X, Y, 1, 1, 1);
    std::copy(samples.begin(), samples.end(), source.m_data);
    std::vector<float> computed(size_t(X) * Y);
    for (size_t i = 0; i < computed.size(); ++i)
        computed[i] = 0.0f + 1.0f * source.m_data[i]; // the filter's sum with the one tap
    expectStoredLikeSetNext<char>(source, computed);
    expectStoredLikeSetNext<unsigned char>(source, computed);
    expectStoredLikeSetNext<short>(source, computed);
    expectStoredLikeSetNext<unsigned short>(source, computed);
    expectStoredLikeSetNext<int>(source, computed);
    expectStoredLikeSetNext<unsigned int>(source, computed);
    expectStoredLikeSetNext<double>(source, computed);
}
