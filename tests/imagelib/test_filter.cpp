// Convolution filter, border extension, 2-D gradient, Hessian and 3-D gradient,
// compared bit for bit with the reference versions.
#include "imageops_support.h"

#include <cmath>
#include <functional>
#include <tuple>

#include <sys/resource.h>

using namespace opstest;
using namespace Lumen;

namespace {

template <class T>
class Derived : public ::testing::Test {};
TYPED_TEST_SUITE(Derived, AllTypes);

// Sizes below the kernel, one-wide images, several slices, frames and channels,
// more rows than the fast path converts in one band, and rows long enough for
// its widest vector steps.
const int kShapes[][5] = {{9, 7, 2, 2, 1}, {1, 6, 1, 1, 1}, {6, 1, 1, 1, 1}, {2, 2, 1, 1, 1}, {4, 4, 3, 1, 2},
    {37, 21, 1, 1, 1}, {40, 6, 3, 1, 1}, {5, 5, 4, 1, 1}, {3, 3, 3, 1, 1}, {6, 75, 1, 1, 1}, {72, 7, 1, 1, 1}};
const int kOutputTypes[] = {TypeChar, TypeShort, TypeInt, TypeFloat, TypeDouble};

std::vector<float> randomKernel(size_t n, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::vector<float> k(n);
    for (float& v : k)
        v = (rng() % 4 == 0) ? 0.0f : std::uniform_real_distribution<float>(-2.0f, 2.0f)(rng);
    return k;
}

// Compares and frees.
void expectSame(Image* expected, Image* actual)
{
    expectSameImage(expected, actual);
    delete expected;
    delete actual;
}

} // namespace

TEST(DerivedImages, RefusalsGiveNullWithTheirMessage)
{
    const std::string unsignedType = "Error: unsigned data type, cannot compute ";
    auto image = randomImage<float>(5, 5, 1, 1, 1, 40), typed = copyOf(*image);
    typed->m_type = TypeUnsignedInt;
    ImageBase<float> empty;
    const float k[25] = {};
    Image* self = image.get();
    const std::pair<std::function<Image*()>, std::string> cases[] = {
        {[&] { return image->filter(TypeUnsignedChar, nullptr, 4, nullptr); }, unsignedType + "filtered image!"},
        {[&] { return typed->filter(0, k, 3, nullptr); }, unsignedType + "filtered image!"}, // 0 means m_type
        {[&] { return image->filter(TypeFloat, nullptr, 4, nullptr); },
            "Error: Cannot compute filtered image without filter!"},
        {[&] { return image->filter(TypeFloat, k, 4, nullptr); }, "Error: Window size must be an odd number!"},
        {[&] { return image->gradient(TypeUnsignedInt, nullptr, false, nullptr); }, unsignedType + "gradient!"},
        {[&] { return image->gradient3D(TypeUnsignedShort, nullptr, false, false, nullptr); },
            unsignedType + "gradient!"},
        {[&] { return image->hessian(TypeUnsignedChar, nullptr, nullptr); }, unsignedType + "hessian!"},
        // No type (m_type is 0), the source as its own output (it would be
        // overwritten while being read) or no source buffer: null and silence.
        {[&] { return image->filter(0, k, 3, nullptr); }, ""},
        {[&] { return image->gradient(0, nullptr, false, nullptr); }, ""},
        {[&] { return image->gradient3D(0, nullptr, false, false, nullptr); }, ""},
        {[&] { return image->hessian(0x1234, nullptr, nullptr); }, ""},
        {[&] { return image->filter(TypeFloat, k, 1, self); }, ""},
        {[&] { return image->gradient(TypeFloat, nullptr, true, self); }, ""},
        {[&] { return image->hessian(TypeFloat, nullptr, self); }, ""},
        {[&] { return image->gradient3D(TypeFloat, nullptr, true, false, self); }, ""},
        {[&] { return empty.filter(TypeFloat, k, 1, nullptr); }, ""},
        {[&] { return empty.gradient(TypeFloat, nullptr, false, nullptr); }, ""},
    };
    const auto before = copyOf(*image);
    for (const auto& [call, message] : cases) {
        CoutCapture capture;
        EXPECT_EQ(call(), nullptr) << message;
        EXPECT_EQ(capture.text(), message.empty() ? "" : message + "\n");
    }
    expectSameImage(before.get(), image.get());
}

TEST(Filter, WindowsOutsideTheContractGiveZerosWithoutReadingTheKernel)
{
    // A negative window reaches no neighbour; one wider than the image has no
    // interior, so not one of its w * w kernel entries is read, no int overflows
    // and no buffer grows with the window (2048 x 4 with w = 131073 once took 1 GB).
    const int cases[][3] = {{6, 5, -1}, {6, 5, -3}, {6, 5, 13}, {4, 4, INT32_MAX}, {4, 4, -INT32_MAX},
        {2048, 4, 131073}, {2048, 4, (1 << 29) + 1}};
    const float k[1] = {1.0f};
    for (const auto& [x, y, w] : cases) {
        auto image = randomImage<short>(x, y, 2, 1, 1, 47);
        rusage before{}, after{};
        getrusage(RUSAGE_SELF, &before);
        std::unique_ptr<Image> out(image->filter(TypeFloat, k, w, nullptr));
        getrusage(RUSAGE_SELF, &after);
        EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 64L << 10) << "w " << w;
        ASSERT_NE(out, nullptr);
        const auto bytes = rawBytes(out.get());
        EXPECT_TRUE(std::all_of(bytes.begin(), bytes.end(), [](unsigned char b) { return b == 0; })) << "w " << w;
    }
}

TEST(ExtendBorder, BorderLinesTakeTheNearestInteriorLine)
{
    const int cases[][3] = {{7, 6, 2}, {4, 9, 2}, {9, 4, 2}, {5, 5, 1}, {5, 5, 0}, {5, 5, -3}, {0, 0, 1}};
    for (const auto& [X, Y, b] : cases) {
        auto image = randomImage<int>(X, Y, 2, 1, 1, 48), before = copyOf(*image);
        image->extendBorder(b);
        for (int i = 0; i < image->m_image_size; ++i) {
            const Position p = positionOf(*image, i);
            ASSERT_EQ(image->m_data[i], before->at(interiorOf(p.x, b, X), interiorOf(p.y, b, Y), p.z, 0, 0))
                << p.x << "," << p.y << "," << p.z << " of " << X << "x" << Y << " b " << b;
        }
    }
}

TYPED_TEST(Derived, FilterGradientAndHessianMatchTheReferenceVersions)
{
    uint32_t seed = 300;
    const float custom[9] = {0.5f, -1.25f, 0, 3, 0, -0.75f, 0, 2, 1};
    for (const auto& sh : kShapes)
        for (int type : kOutputTypes) {
            auto image = randomImage<TypeParam>(sh[0], sh[1], sh[2], sh[3], sh[4], ++seed);
            auto gradient = randomImage<TypeParam>(sh[0], sh[1], sh[2], 1, 2 + sh[4] % 2, seed);
            const auto kernel = randomKernel(49, seed);
            for (int w : {1, 3, 5, 7})
                expectSame(
                    refFilter(*image, type, kernel.data(), w, nullptr), image->filter(type, kernel.data(), w, nullptr));
            for (const float* k : {static_cast<const float*>(nullptr), custom}) {
                if (type == kOutputTypes[(&sh - kShapes) % 5]) // one output type a shape for the Hessian
                    expectSame(refGradient(*gradient, type, k, true, nullptr, true), gradient->hessian(type, k, nullptr));
                for (bool keep : {false, true})
                    if (keep || (sh[0] >= 2 && sh[1] >= 2)) // else no output layout exists
                        expectSame(
                            refGradient(*image, type, k, keep, nullptr), image->gradient(type, k, keep, nullptr));
            }
        }
    // A given output's own element type decides the stored values, not the type
    // code; too small an output keeps what fits, like setNext.
    auto image = randomImage<TypeParam>(11, 8, 2, 1, 1, 41);
    ImageBase<int> expected, actual, small;
    expected.init(11, 8, 2, 1, 1);
    actual.init(11, 8, 2, 1, 1);
    small.init(5, 8, 2, 1, 1);
    EXPECT_EQ(image->filter(TypeFloat, custom, 3, &actual), &actual);
    expectSameImage(refFilter(*image, TypeFloat, custom, 3, &expected), &actual);
    EXPECT_EQ(image->filter(TypeFloat, custom, 3, &small), &small);
    EXPECT_EQ(small.m_cursor, 80);
    // A one-channel image first has its gradient taken, kept in m_type, or in the
    // requested type while m_type names none.
    for (int mType : {0, int(TypeShort)}) {
        image->m_type = mType;
        std::unique_ptr<Image> grad(refGradient(*image, mType ? mType : TypeFloat, nullptr, true, nullptr));
        Image* expected = refGradient(*grad, TypeFloat, nullptr, true, nullptr, true);
        expected->setSpacing(image->m_spacing[0], image->m_spacing[1], image->m_spacing[2], image->m_spacing[3]);
        expectSame(expected, image->hessian(TypeFloat, nullptr, nullptr));
    }
}

TEST(Filter, ZeroKernelEntriesAreSkippedSoNonFiniteValuesUnderThemDoNotSpread)
{
    auto image = randomImage<float>(5, 5, 1, 1, 1, 43);
    image->at(0, 0, 0, 0, 0) = std::numeric_limits<float>::infinity();
    image->at(4, 2, 0, 0, 0) = std::nanf("");
    const float k[9] = {0, 0, 0, 0, 1, 1, 0, 0, 0}; // the centre and the right neighbour
    std::unique_ptr<Image> out(image->filter(TypeFloat, k, 3, nullptr));
    EXPECT_FALSE(std::isnan(out->getValue(1, 1, 0, 0, 0)));
    EXPECT_TRUE(std::isnan(out->getValue(3, 2, 0, 0, 0)));
    expectSame(refFilter(*image, TypeFloat, k, 3, nullptr), out.release());
}

// The largest sums the default kernel can make, which wrap in 8- and 16-bit
// outputs, and a ramp whose gradient is nowhere 0.
TYPED_TEST(Derived, GradientOfExtremePatterns)
{
    using T = TypeParam;
    const double lo = std::numeric_limits<T>::is_integer ? double(std::numeric_limits<T>::min()) : -30000;
    const double hi = std::numeric_limits<T>::is_integer ? double(std::numeric_limits<T>::max()) : 30000;
    const std::function<double(int, int)> patterns[] = {[](int x, int) { return x % 2 == 0; },
        [](int, int y) { return y % 2 == 0; }, [](int x, int y) { return (x + y) % 2 == 0; },
        [](int x, int y) { return x > 20 && y > 2; }, [](int x, int y) { return (x + y) / 50.0; }};
    for (const auto& high : patterns)
        for (bool keep : {false, true})
            for (int type : kOutputTypes) {
                ImageBase<T> image;
                image.init(41, 6, 2, 1, 1);
                for (int i = 0; i < image.m_image_size; ++i)
                    image.m_data[i] = T(lo + (hi - lo) * high(i % 41, i / 41 % 6));
                expectSame(
                    refGradient(image, type, nullptr, keep, nullptr), image.gradient(type, nullptr, keep, nullptr));
            }
}

// Char and short type codes clamp the derivatives and count what they clamp.
TYPED_TEST(Derived, Gradient3DMatchesTheKernelAlongEachAxis)
{
    uint32_t seed = 700;
    const auto custom = randomKernel(27, 7);
    const int shapes[][5] = {{5, 4, 3, 1, 1}, {3, 3, 3, 1, 1}, {8, 6, 5, 2, 2}, {19, 3, 4, 1, 1}, {4, 4, 2, 1, 1}};
    for (const auto& sh : shapes)
        for (int keep = sh[2] < 2; keep < 2; ++keep)
            for (bool withIntensity : {false, true})
                for (const float* k : {static_cast<const float*>(nullptr), custom.data()}) {
                    const int type = kOutputTypes[seed % 5];
                    auto image = randomImage<TypeParam>(sh[0], sh[1], sh[2], sh[3], sh[4], ++seed);
                    long long exceeded = 0;
                    Image* expected = refGradient3D(*image, type, k, keep, withIntensity, &exceeded);
                    std::ostringstream messages;
                    image->m_verbose = keep;
                    if (keep)
                        messages << "Computing 3D gradient...\nDone. Range = [" << expected->m_window[2] << ".."
                                 << expected->m_window[3] << "]\n";
                    if (exceeded)
                        messages << "Warning: " << exceeded << " values exceeded.\n";
                    CoutCapture capture;
                    expectSame(expected, image->gradient3D(type, k, keep, withIntensity, nullptr));
                    EXPECT_EQ(capture.text(), messages.str());
                }
}

// The filter stores its values several at a time; every float must land in
// every element type exactly as the one-at-a-time conversion rule puts it.
TEST(Filter, VectorStoresFollowTheConversionRuleForEveryFloat)
{
    // A stride through all bit patterns plus every pattern near the edges of
    // the integer types, zero, the infinities and the NaNs.
    std::vector<uint32_t> bits;
    for (uint64_t b = 0; b < (uint64_t(1) << 32); b += 4099)
        bits.push_back(uint32_t(b));
    for (uint32_t c : {0x00000000u, 0x80000000u, 0x4F000000u, 0xCF000000u, 0x4F800000u, 0xCF800000u, 0x47000000u,
             0xC7000000u, 0x47800000u, 0x43000000u, 0xC3000000u, 0x43800000u, 0x3F800000u, 0xBF800000u, 0x7F800000u,
             0xFF800000u, 0x7FC00000u, 0xFFC00000u})
        for (uint32_t d = 0; d < 4096; ++d)
            bits.push_back(c - 2048 + d);
    bits.resize((bits.size() + 1023) / 1024 * 1024, 0);
    ImageBase<float> source;
    source.init(1024, int(bits.size() / 1024), 1, 1, 1);
    std::memcpy(source.m_data, bits.data(), sizeof(float) * bits.size());
    auto check = [&](auto element) {
        ImageBase<decltype(element)> actual, expected;
        actual.init(1024, source.m_dim[1], 1, 1, 1);
        expected.init(1024, source.m_dim[1], 1, 1, 1);
        const float one = 1.0f;
        ASSERT_EQ(source.filter(TypeFloat, &one, 1, &actual), &actual);
        for (int i = 0; i < source.m_image_size; ++i)
            expected.setNext(0.0f + 1.0f * source.m_data[i]); // the filter's sum with the one tap
        EXPECT_EQ(std::memcmp(actual.m_data, expected.m_data, sizeof(element) * bits.size()), 0) << sizeof(element);
    };
    std::apply([&](auto... elements) { (check(elements), ...); },
        std::tuple<char, unsigned char, short, unsigned short, int, unsigned int, double>());
}
