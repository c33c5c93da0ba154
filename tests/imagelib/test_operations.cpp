// Image operations that keep the layout or move elements: window-based
// intensity operations, the byte / short exports, samplers at fractional
// positions, the centre of mass, downsampling, quarter turns, mirroring and
// padding to powers of two.
#include "imageops_support.h"

#include <array>
#include <cmath>

using namespace opstest;
using Lumen::nextPowerOfTwo;

namespace {

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

// The samplers' blends of value(x, y, z) around a position, from the text:
// trilinear over x0 .. x0+1 with weights (1-f, f), their product taken first;
// tricubic over x0-1 .. x0+2 with the weights of kernel parameter -1, one by one.
template <class F>
float refBlend(bool cubic, F value, float x, float y, float z)
{
    const int n = cubic ? 4 : 2, x0 = int(x), y0 = int(y), z0 = int(z), b = cubic ? 1 : 0;
    const auto w = [&](float f, int i) {
        const float weights[4] = {((2 - f) * f - 1) * f, (f - 2) * f * f + 1, ((1 - f) * f + 1) * f, (f - 1) * f * f};
        return cubic ? weights[i] : i ? f : 1 - f;
    };
    float sum = 0.0f;
    for (int m = 0, i = 0, j = 0, k = 0; m < n * n * n; ++m, i = m % n, j = m / n % n, k = m / n / n) {
        const float v = value(x0 - b + i, y0 - b + j, z0 - b + k), wx = w(x - float(x0), i), wy = w(y - float(y0), j);
        sum += cubic ? v * wx * wy * w(z - float(z0), k) : v * (wx * wy * w(z - float(z0), k));
    }
    return sum;
}

#ifdef NDEBUG
constexpr bool kChecked = false;
#else
constexpr bool kChecked = true;
#endif

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

// invert: every element e of channel c becomes L_c + U_c - e. applyWindowLevel:
// channel 0's window for every element, clamp (bounds converted to the element
// type), then U - e or e - L formed in the element type, wrapping there (the
// second window makes U - L of 32-bit ints wrap instead of overflowing).
TYPED_TEST(EveryType, InvertAndWindowLevelMapEveryElementThroughTheWindow)
{
    using T = TypeParam;
    for (const auto& window : {std::pair{-20.5f, 100.25f}, {-2e9f, 2e9f}}) {
        const float lo = window.first, hi = window.second;
        const float windows[3][2] = {{lo, hi}, {2.0f, 3.25f}, {-1000.0f, 0.0f}};
        const auto make = [&] {
            auto image = randomImage<T>({7, 3, 2, 2, 3}, 31);
            for (int c = 0; c < 3; ++c)
                image->setWindowRange(windows[c][0], windows[c][1], c);
            image->setValue(lo, 0, 0, 0, 0, 0);
            image->setValue(hi, 0, 0, 0, 0, 1);
            return image;
        };
        for (int op = 0; op < 3; ++op) { // invert, window level from the lower bound, from the upper
            auto work = make(), expected = make();
            const T lower = expected->m_data[0], upper = expected->m_data[1];
            for (int i = 0; i < expected->m_image_size; ++i) { // each element read before it is replaced
                const float f = float(expected->m_data[i]);
                const T e = f < lo ? lower : f > hi ? upper : expected->m_data[i];
                if (op == 0)
                    expected->setValue(windows[i % 3][0] + windows[i % 3][1] - f, i / 3, 0, 0, 0, i % 3);
                else
                    expected->m_data[i] = std::is_floating_point_v<T> ? (op == 2 ? upper - e : e - lower)
                        : T(op == 2 ? int64_t(upper) - int64_t(e) : int64_t(e) - int64_t(lower));
            }
            work->m_verbose = 1;
            EXPECT_EQ(printed([&] { op ? work->applyWindowLevel(op == 2) : work->invert(); }),
                op ? "Window/Level setting applied\n" : "");
            expectSameImage(expected.get(), work.get());
        }
    }
}

// toBytes and toShorts map frame 0 through each channel's window; sliceToBytes
// one channel of slice (slice mod Z): (e - L) * 255 / (U - L) truncated, then
// clamped, padding not written, into a new zeroed buffer when given none.
TYPED_TEST(EveryType, ExportsMapThroughTheWindowOfEachChannel)
{
    auto image = randomImage<TypeParam>({5, 3, 3, 2, 3}, 34);
    image->setWindowRange(-40.0f, 60.0f, 0);
    image->setWindowRange(0.0f, 0.0f, 1); // zero width: divisions by zero, clamped
    for (bool pow2 : {false, true}) {
        const size_t n = pow2 ? 3 * 8 * 4 * 4 : 3 * 5 * 3 * 3;
        std::vector<unsigned char> bytes(n, 0x5A);
        std::vector<unsigned short> shorts(n, 0x5A5A);
        image->toBytes(bytes.data(), pow2);
        image->toShorts(shorts.data(), pow2);
        EXPECT_EQ(bytes, refExport<unsigned char>(*image, pow2, 255.0f));
        EXPECT_EQ(shorts, refExport<unsigned short>(*image, pow2, 65535.0f));
    }
    for (const auto& [slice, z, channel] : {std::array{1, 1, 2}, {4, 1, 2}, {-2, 1, 2}, {2, 2, 0}}) {
        const float L = image->m_window[4 * channel + 2], U = image->m_window[4 * channel + 3];
        std::vector<unsigned char> expected(32, 0), padded(32, 0xEE), bytes(32, 0xEE); // 8 x 4
        for (int i = 0; i < 15; ++i)
            expected[i / 5 * 8 + i % 5] = padded[i / 5 * 8 + i % 5] = uint8_t(
                std::clamp(int((image->getValue(i % 5, i / 5, z, 0, channel) - L) * 255.0f / (U - L)), 0, 255));
        ASSERT_EQ(image->sliceToBytes(bytes.data(), slice, channel, true), bytes.data());
        EXPECT_EQ(bytes, padded) << slice;
        std::unique_ptr<unsigned char[]> made(image->sliceToBytes(nullptr, slice, channel, true));
        EXPECT_EQ(std::vector<unsigned char>(made.get(), made.get() + 32), expected);
    }
    // Nothing is written without a buffer on either side or for a channel outside the image.
    image->toBytes(nullptr, true);
    image->toShorts(nullptr, false);
    ImageBase<TypeParam> empty;
    unsigned char untouched[6] = {9};
    empty.toBytes(untouched, true);
    EXPECT_TRUE(untouched[0] == 9 && empty.sliceToBytes(nullptr, 0, 0, false) == nullptr);
    EXPECT_TRUE(!image->sliceToBytes(untouched, 0, 3, false) && !image->sliceToBytes(untouched, 0, -1, false));
}

// Positions well inside, then neighbourhoods that leave the 5 x 5 x 5 image
// (truncated needs x0 <= 4, linear x0 <= 3, cubic 1 <= x0 <= 2) and positions
// naming no voxel (refused before conversion: no overflow in forming the
// neighbourhood), where every channel gives 0.
TYPED_TEST(EveryType, SamplersBlendTheNeighbourhoodOrGiveZeroOutsideIt)
{
    std::vector<std::array<float, 3>> cases = {{4, 4, 4}, {5, 2, 2}, {2, -1.5f, 2}, {-0.5f, 0, 0}, {3.9f, 3, 3.5f},
        {2.5f, 2, 2.9f}, {0.5f, 1, 1}, {2, 1, 1}, {1, 2, 3}};
    for (float v : {std::nanf(""), INFINITY, -INFINITY, 1e30f, -2147483648.0f, -2147483904.0f, 2147483648.0f, -3e9f})
        cases.insert(cases.end(), {{v, 2, 2}, {2, v, 2}, {2, 2, v}});
    std::mt19937 rng(23);
    std::uniform_real_distribution<float> inside(1.0f, 2.999f);
    for (int n = 0; n < 100; ++n)
        cases.push_back({inside(rng), inside(rng), inside(rng)});
    for (int C : {3, 1}) { // the one-channel samplers read the buffer alike
        auto image = randomImage<TypeParam>({5, 5, 5, 2, C}, 21);
        for (const auto& [x, y, z] : cases) {
            const bool names = x > -2147483904.0f && x < 2147483648.0f && y > -2147483904.0f && y < 2147483648.0f
                && z > -2147483904.0f && z < 2147483648.0f; // false for NaN
            const auto [lo, hi] = names ? std::minmax({int(x), int(y), int(z)}) : std::pair{-9, 9};
            const bool truncated = lo >= 0 && hi <= 4, linear = lo >= 0 && hi <= 3, cubic = lo >= 1 && hi <= 2;
            const bool asserts = kChecked && names && hi >= 4; // a missing neighbour
            std::vector<float> out(3 * C, 7.0f), expected(3 * C, 0.0f);
            image->getVoxel(out.data(), x, y, z);
            if (!asserts)
                image->getVoxelLinear(out.data() + C, x, y, z);
            image->getVoxelCubic(out.data() + 2 * C, x, y, z);
            for (int c = 0; c < C; ++c) {
                const auto at = [&](int i, int j, int k) { return image->getValue(i, j, k, 0, c); };
                expected[c] = truncated ? image->getValue(int(x), int(y), int(z), 0, c) : 0.0f;
                expected[C + c] = asserts ? 7.0f : linear ? refBlend(false, at, x, y, z) : 0.0f;
                expected[2 * C + c] = cubic ? refBlend(true, at, x, y, z) : 0.0f;
            }
            const auto one = [&](int i, int j, int k) { return v1(*image, i, j, k); }; // the buffer as one channel
            out.insert(out.end(), {image->getNearest(x, y, z), image->getLinear(x, y, z), image->getCubic(x, y, z)});
            expected.insert(expected.end(), {expected[0], linear ? refBlend(false, one, x, y, z) : 0.0f, expected[2 * C]});
            EXPECT_EQ(out, expected) << x << " " << y << " " << z << ", " << C << " channels";
        }
    }
}

// centerOfMass weights value - lower of channel 0's window, frame 0 read as one
// channel, float sums with z outermost (no buffer: quotients by zero, NaN).
// autoWindow sets every channel's window to the smallest and largest element of
// the whole buffer, compared in the element type.
TYPED_TEST(EveryType, CenterOfMassAndAutoWindowReadTheWholeBuffer)
{
    auto image = randomImage<TypeParam>({13, 11, 5, 2, 2}, 28);
    float sw = 0, sx = 0, sy = 0, sz = 0, out[3];
    for (int i = 0; i < 13 * 11 * 5; ++i) {
        const float w = elementAt(*image, i) - image->m_window[2];
        sw += w, sx += w * float(i % 13), sy += w * float(i / 13 % 11), sz += w * float(i / 143);
    }
    image->centerOfMass(out);
    EXPECT_EQ(std::vector<float>(out, out + 3), std::vector<float>({sx / sw, sy / sw, sz / sw}));
    ImageBase<TypeParam> empty;
    empty.centerOfMass(out);
    EXPECT_TRUE(std::isnan(out[0]) && std::isnan(out[1]) && std::isnan(out[2]));
    for (int i = 0; i < image->m_image_size; ++i) // the extremes in the second and the last element alone
        image->m_data[i] = TypeParam(i == 1 ? 0 : i + 1 == image->m_image_size ? 120 : i % 50 + 10);
    const auto [lo, hi] = std::minmax_element(image->m_data, image->m_data + image->m_image_size);
    const float L = float(*lo), U = float(*hi);
    image->autoWindow();
    empty.autoWindow(); // nothing to read, nothing to crash on
    EXPECT_EQ(std::vector<float>(image->m_window, image->m_window + 8),
        std::vector<float>({U - L, (U + L) * 0.5f, L, U, U - L, (U + L) * 0.5f, L, U}));
}

TYPED_TEST(EveryType, DownsampleAveragesBlocksIntoANewImageOrInPlaceAndRefusesBadFactors)
{
    const int factors[][4] = {{2, 2, 1, 1}, {3, 1, 1, 1}, {1, 2, 3, 1}, {2, 1, 1, 2}, {1, 1, 1, 1}, {5, 3, 1, 1},
        {8, 1, 1, 1}, {2, 2, 1, 2}};
    uint32_t seed = 10;
    for (const auto& sh : kShapes)
        for (const auto& f : factors) {
            if (sh[2] > 4 && f[0] != 2)
                continue; // the shape for the block turns: one factor is enough
            auto image = randomImage<TypeParam>(sh, ++seed);
            auto expected = refDownsample(*image, f), before = randomImage<TypeParam>(sh, seed);
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
    // Bad factors, other axes and images without a buffer: nothing changes, nothing is printed.
    auto image = randomImage<TypeParam>({4, 4, 1, 1, 1}, 3), before = randomImage<TypeParam>({4, 4, 1, 1, 1}, 3);
    ImageBase<TypeParam> empty;
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

// Each operation moves element (x, y, z, t) of the source to a target position
// in an image of new extents, with the spacing components reordered alike: op
// 0 .. 2 turns about that axis, op 3 pads (later frames become zero), op 4 + m
// mirrors the axes of the bits of m.
TYPED_TEST(EveryType, RotateFlipAndPaddingMoveEveryElementByTheRule)
{
    uint32_t seed = 100;
    for (const auto& sh : kShapes) {
        const int X = sh[0], Y = sh[1], Z = sh[2], T = sh[3], nx = nextPowerOfTwo(X), ny = nextPowerOfTwo(Y);
        for (int op = 0, m = -4; op < (Z > 4 ? 6 : 20); ++op, ++m) {
            const int order[4][3] = {{0, 2, 1}, {2, 1, 0}, {1, 0, 2}, {0, 1, 2}}, *axes = order[std::min(op, 3)];
            auto image = randomImage<TypeParam>(sh, ++seed);
            const float* s = image->m_spacing;
            ImageBase<TypeParam> expected;
            expected.init(op == 3 ? nx : sh[axes[0]], op == 3 ? ny : sh[axes[1]], sh[axes[2]], T, sh[4]);
            expected.setSpacing(s[axes[0]], s[axes[1]], s[axes[2]], s[3]);
            std::copy(image->m_window, image->m_window + 4 * sh[4], expected.m_window);
            for (int i = 0; i < image->m_image_size; ++i) {
                const auto [x, y, z, t, c] = positionOf(*image, i);
                const Position q = op == 0 ? Position{x, z, Y - 1 - y, t, c}
                    : op == 1              ? Position{Z - 1 - z, y, x, t, c}
                    : op == 2              ? Position{y, X - 1 - x, z, t, c}
                    : op == 3              ? Position{x, y, z, t, c}
                    : Position{m & 1 ? X - 1 - x : x, m & 2 ? Y - 1 - y : y, m & 4 ? Z - 1 - z : z,
                        m & 8 ? T - 1 - t : t, c};
                if (op != 3 || t == 0)
                    expected.at(q.x, q.y, q.z, q.t, c) = image->m_data[i];
            }
            image->m_verbose = 1;
            const std::string text = printed([&] {
                op < 3 ? image->rotate(op) : op == 3 ? image->scaleToPowerOfTwo()
                                                     : image->flip(m & 1, m & 2, m & 4, m & 8);
            });
            EXPECT_EQ(text, op < 3 ? "Rotated image around axis " + std::to_string(op) + "\n"
                    : op == 3      ? "Scaled to power of two, new width = " + std::to_string(nx) + ", height = "
                            + std::to_string(ny) + "\n"
                                   : "");
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
