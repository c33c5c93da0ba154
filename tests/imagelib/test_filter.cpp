// Convolution filter, border extension, 2-D gradient, Hessian and 3-D gradient,
// compared bit for bit with plain versions written from the algorithm text.
#include "imageops_support.h"

#include <cmath>
#include <functional>

#include <sys/resource.h>

using namespace opstest;
using namespace Lumen;

namespace {

// ---- reference versions, element by element through getValue and setNext ----

Image* refOutput(Image& s, int type, int x, int y, int z, int t, int c)
{
    Image* made = createImage(type);
    made->init(x, y, z, t, c);
    made->setSpacing(s.m_spacing[0], s.m_spacing[1], s.m_spacing[2], s.m_spacing[3]);
    return made;
}

struct RefRange {
    float min = 1e16f, max = -1e16f;
    void add(float v) { min = v < min ? v : min, max = v > max ? v : max; }
};

// The sum of k[n] * value(dx, dy) over a w x w kernel in memory order (first
// row at the smallest dy), zero entries skipped; the transpose swaps dx and dy.
template <class F>
float kernelSum(const float* k, int w, bool transpose, F value)
{
    float sum = 0.0f;
    for (int n = 0, h = (w - 1) / 2; w > 0 && n < w * w; ++n)
        if (k[n] != 0.0f)
            sum += k[n] * (transpose ? value(n / w - h, n % w - h) : value(n % w - h, n / w - h));
    return sum;
}

// The border lines that extendBorder(h) fills take the value of the nearest
// interior line, columns first; a direction without interior is left alone.
int interiorOf(int v, int h, int n) { return h > 0 && 2 * h < n ? std::clamp(v, h, n - h - 1) : v; }

Image* refFilter(Image& s, int type, const float* k, int w)
{
    const int X = s.m_dim[0], Y = s.m_dim[1], h = (w - 1) / 2;
    Image* out = refOutput(s, type, X, Y, s.m_dim[2], s.m_dim[3], 1);
    std::vector<float> slice(size_t(X) * Y);
    RefRange range; // of the values before the border is filled
    for (int z = 0; z < s.m_dim[2]; ++z) {
        for (int i = 0; i < X * Y; ++i) {
            const int x = i % X, y = i / X;
            const bool inside = h <= x && x < X - h && h <= y && y < Y - h;
            range.add(slice[i] = inside ? kernelSum(k, w, false, [&](int a, int b) { return v1(s, x + a, y + b, z); })
                                        : 0.0f);
        }
        for (int i = 0; i < X * Y; ++i)
            out->setNext(slice[size_t(interiorOf(i / X, h, Y)) * X + interiorOf(i % X, h, X)]);
    }
    out->setWindowRange(range.min, range.max, 0);
    return out;
}

const float kDefault2D[9] = {1, 2, 1, 0, 0, 0, -1, -2, -1};
const float kDefault3D[27] = {1, 1, 1, 1, 2, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, -1, -1, -1, -1, -2, -1, -1, -1, -1};

// gradient: g0 applies k, g1 its transpose; second derivatives (the hessian)
// of a gradient image: h0 and h1 apply k and its transpose to g0, h2 the
// transpose to g1.
Image* refGradient(Image& s, int type, const float* k, bool keep, bool second = false)
{
    k = k ? k : kDefault2D;
    const int X = s.m_dim[0], Y = s.m_dim[1], b = keep || second ? 0 : 1, n = second ? 3 : 2;
    Image* out = refOutput(s, type, X - 2 * b, Y - 2 * b, s.m_dim[2], 1, n);
    RefRange range[3];
    for (int i = 0; i < out->m_image_size; i += n) {
        const Position o = positionOf(*out, i);
        const int x = o.x + b, y = o.y + b, z = o.z;
        const bool inside = b || (1 <= x && x <= X - 2 && 1 <= y && y <= Y - 2);
        auto at = [&](int c) {
            return [&, c](int p, int q) { return second ? s.getValue(x + p, y + q, z, 0, c) : v1(s, x + p, y + q, z); };
        };
        const float g[3] = {inside ? kernelSum(k, 3, false, at(0)) : 0.0f, inside ? kernelSum(k, 3, true, at(0)) : 0.0f,
            inside && second ? kernelSum(k, 3, true, at(1)) : 0.0f};
        for (int c = 0; c < n; ++c) {
            range[second ? c : 0].add(g[c]);
            out->setNext(g[c]);
        }
    }
    for (int c = 0; c < n; ++c)
        out->setWindowRange(range[second ? c : 0].min, range[second ? c : 0].max, c);
    return out;
}

// Char and short type codes clamp to their range, counting what they clamp;
// `messages` receives what a verbose or clamping run prints.
Image* refGradient3D(Image& s, int type, const float* k, bool keep, bool withIntensity, std::string* messages)
{
    k = k ? k : kDefault3D;
    const float lim = type == TypeChar ? 128.0f : type == TypeShort ? 32768.0f : INFINITY;
    const int X = s.m_dim[0], Y = s.m_dim[1], Z = s.m_dim[2], b = keep ? 0 : 1, n = withIntensity ? 4 : 3;
    Image* out = refOutput(s, type, X - 2 * b, Y - 2 * b, Z - 2 * b, 1, n);
    RefRange range;
    long long exceeded = 0;
    for (int i = 0; i < out->m_image_size; i += n) {
        const Position o = positionOf(*out, i);
        const int x = o.x + b, y = o.y + b, z = o.z + b;
        float g[3] = {0, 0, 0};
        for (int m = 0; m < 27 && (b || (1 <= x && x <= X - 2 && 1 <= y && y <= Y - 2 && 1 <= z && z <= Z - 2)); ++m)
            if (k[m] != 0.0f) {
                const int p = m % 3 - 1, q = m % 9 / 3 - 1, r = m / 9 - 1;
                g[0] += k[m] * v1(s, x + r, y + q, z + p);
                g[1] += k[m] * v1(s, x + p, y + r, z + q);
                g[2] += k[m] * v1(s, x + p, y + q, z + r);
            }
        for (float v : g) {
            const float clamped = std::clamp(v, -lim, lim - 1);
            exceeded += clamped != v;
            out->setNext(clamped);
            range.add(clamped);
        }
        if (withIntensity)
            out->setNext(v1(s, x, y, z));
    }
    for (int c = 0; c < 3; ++c)
        out->setWindowRange(range.min, range.max, c);
    if (withIntensity)
        out->setWindowRange(s.m_window[2], s.m_window[3], 3);
    std::ostringstream text;
    if (s.m_verbose)
        text << "Computing 3D gradient...\nDone. Range = [" << range.min << ".." << range.max << "]\n";
    if (exceeded)
        text << "Warning: " << exceeded << " values exceeded.\n";
    *messages = text.str();
    return out;
}

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
    std::uniform_real_distribution<float> entry(-2, 2);
    std::generate(k.begin(), k.end(), [&] { return rng() % 4 ? entry(rng) : 0.0f; });
    return k;
}

// Compares and frees.
void expectSame(Image* expected, Image* actual) { expectSameImage(expected, actual); delete expected; delete actual; }

} // namespace

TEST(DerivedImages, RefusalsGiveNullWithTheirMessage)
{
    const std::string U = "Error: unsigned data type, cannot compute ", F = U + "filtered image!", G = U + "gradient!";
    auto image = randomImage<float>({5, 5, 1, 1, 1}, 40), typed = randomImage<float>({5, 5, 1, 1, 1}, 40);
    typed->m_type = TypeUnsignedInt;
    const float k[25] = {};
    const std::pair<std::function<Image*()>, std::string> cases[] = {
        {[&] { return image->filter(TypeUnsignedChar, nullptr, 4, nullptr); }, F},
        {[&] { return typed->filter(0, k, 3, nullptr); }, F}, // 0 means m_type
        {[&] { return image->filter(TypeFloat, nullptr, 4, nullptr); },
            "Error: Cannot compute filtered image without filter!"},
        {[&] { return image->filter(TypeFloat, k, 4, nullptr); }, "Error: Window size must be an odd number!"},
        {[&] { return image->gradient(TypeUnsignedInt, nullptr, false, nullptr); }, G},
        {[&] { return image->gradient3D(TypeUnsignedShort, nullptr, false, false, nullptr); }, G},
        {[&] { return image->hessian(TypeUnsignedChar, nullptr, nullptr); }, U + "hessian!"},
        // No type (m_type is 0) or the source as its own output (it would be
        // overwritten while being read): null and silence.
        {[&] { return image->filter(0, k, 3, nullptr); }, ""}, {[&] { return image->hessian(0x1234, k, nullptr); }, ""},
        {[&] { return image->filter(TypeFloat, k, 1, image.get()); }, ""},
        {[&] { return image->hessian(TypeFloat, k, image.get()); }, ""},
        {[&] { return image->gradient(TypeFloat, nullptr, true, image.get()); }, ""},
        {[&] { return image->gradient3D(TypeFloat, nullptr, true, false, image.get()); }, ""}};
    for (const auto& c : cases)
        EXPECT_EQ(printed([&] { EXPECT_EQ(c.first(), nullptr) << c.second; }), c.second.empty() ? "" : c.second + "\n");
}

TEST(Filter, WindowsOutsideTheContractZeroEntriesAndBorders)
{
    // A negative window reaches no neighbour; one wider than the image has no
    // interior, so not one of its w * w kernel entries is read, no int overflows
    // and no buffer grows with the window (2048 x 4 with w = 131073 once took 1 GB).
    const int cases[][3] = {{6, 5, -1}, {6, 5, -3}, {6, 5, 13}, {4, 4, INT32_MAX}, {4, 4, -INT32_MAX},
        {2048, 4, 131073}, {2048, 4, (1 << 29) + 1}};
    const float one[1] = {1.0f};
    for (const auto& [x, y, w] : cases) {
        auto image = randomImage<short>({x, y, 2, 1, 1}, 47);
        rusage before{}, after{};
        getrusage(RUSAGE_SELF, &before);
        std::unique_ptr<Image> out(image->filter(TypeFloat, one, w, nullptr));
        getrusage(RUSAGE_SELF, &after);
        ASSERT_TRUE(out && after.ru_maxrss - before.ru_maxrss < (64L << 10)) << "w " << w;
        const auto bytes = rawBytes(out.get());
        EXPECT_EQ(std::count(bytes.begin(), bytes.end(), 0), long(bytes.size())) << "w " << w;
    }
    // Non-finite values under zero entries do not spread.
    auto image = randomImage<float>({5, 5, 1, 1, 1}, 43);
    image->at(0, 0, 0, 0, 0) = std::numeric_limits<float>::infinity();
    image->at(4, 2, 0, 0, 0) = std::nanf("");
    const float k[9] = {0, 0, 0, 0, 1, 1, 0, 0, 0}; // the centre and the right neighbour
    std::unique_ptr<Image> out(image->filter(TypeFloat, k, 3, nullptr));
    EXPECT_TRUE(!std::isnan(out->getValue(1, 1, 0, 0, 0)) && std::isnan(out->getValue(3, 2, 0, 0, 0)));
    expectSame(refFilter(*image, TypeFloat, k, 3), out.release());
    // extendBorder alone: directions without interior are left alone (a filter output there is all zero).
    for (const auto& [X, Y, b] : {std::array{7, 6, 2}, {4, 9, 2}, {9, 4, 2}, {5, 5, 1}, {5, 5, 0}, {0, 0, 1}}) {
        auto border = randomImage<int>({X, Y, 2, 1, 1}, 48), before = randomImage<int>({X, Y, 2, 1, 1}, 48);
        border->extendBorder(b);
        for (int i = 0; i < border->m_image_size; ++i) {
            const Position p = positionOf(*border, i);
            ASSERT_EQ(border->m_data[i], before->at(interiorOf(p.x, b, X), interiorOf(p.y, b, Y), p.z, 0, 0)) << i;
        }
    }
}

TYPED_TEST(EveryType, FilterGradientAndHessianMatchTheReferenceVersions)
{
    uint32_t seed = 300;
    const float custom[9] = {0.5f, -1.25f, 0, 3, 0, -0.75f, 0, 2, 1};
    const auto custom3D = randomKernel(27, 7);
    for (const auto& sh : kShapes)
        for (int type : kOutputTypes) {
            auto image = randomImage<TypeParam>(sh, ++seed);
            auto gradient = randomImage<TypeParam>({sh[0], sh[1], sh[2], 1, 2 + sh[4] % 2}, seed);
            const auto kernel = randomKernel(49, seed);
            for (int w : {1, 3, 5, 7})
                expectSame(
                    refFilter(*image, type, kernel.data(), w), image->filter(type, kernel.data(), w, nullptr));
            const bool once = type == kOutputTypes[(&sh - kShapes) % 5]; // one output type a shape
            for (int n = 0; n < 2; ++n)
                for (bool keep : {false, true}) {
                    const float* k = n ? custom : nullptr;
                    if (once && keep)
                        expectSame(refGradient(*gradient, type, k, true, true), gradient->hessian(type, k, nullptr));
                    if (keep || (sh[0] >= 2 && sh[1] >= 2)) // else no output layout exists
                        expectSame(refGradient(*image, type, k, keep), image->gradient(type, k, keep, nullptr));
                    for (bool withIntensity : {false, true}) // char and short codes clamp, counting what they clamp
                        if (once && (keep || (sh[0] >= 2 && sh[1] >= 2 && sh[2] >= 2))) {
                            const float* k3 = n ? custom3D.data() : nullptr;
                            std::string messages;
                            image->m_verbose = keep;
                            Image* expected = refGradient3D(*image, type, k3, keep, withIntensity, &messages);
                            EXPECT_EQ(printed([&] {
                                expectSame(expected, image->gradient3D(type, k3, keep, withIntensity, nullptr));
                            }), messages);
                        }
                }
        }
    // Too small a given output keeps what fits, like setNext.
    auto image = randomImage<TypeParam>({11, 8, 2, 1, 1}, 41);
    ImageBase<int> small;
    small.init(5, 8, 2, 1, 1);
    EXPECT_TRUE(image->filter(TypeFloat, custom, 3, &small) == &small && small.m_cursor == 80);
    // A one-channel image first has its gradient taken, kept in m_type, or in the
    // requested type while m_type names none.
    for (int mType : {0, int(TypeShort)}) {
        image->m_type = mType;
        std::unique_ptr<Image> grad(refGradient(*image, mType ? mType : TypeFloat, nullptr, true));
        expectSame(refGradient(*grad, TypeFloat, nullptr, true, true), image->hessian(TypeFloat, nullptr, nullptr));
    }
}
