// The image model: layout, buffers, element access, the conversion rule,
// byte order and raw files.
#include "imageops_support.h"
#include "tempdir.h"

#include <fstream>
#include <limits>

using namespace Lumen;
using namespace opstest;

namespace {

template <class T>
class TypedImage : public ::testing::Test {};
TYPED_TEST_SUITE(TypedImage, AllTypes);

// The element bytes of a one-element image as a number.
uint64_t storedBits(Image& image)
{
    const auto bytes = rawBytes(&image);
    uint64_t v = 0;
    std::memcpy(&v, bytes.data(), std::min(bytes.size(), sizeof v));
    return v;
}

} // namespace

TYPED_TEST(TypedImage, InitLaysOutAZeroedAlignedBufferChannelFastest)
{
    ImageBase<TypeParam> image;
    EXPECT_TRUE(image.m_data == nullptr && image.m_window == nullptr && !image.m_external && image.m_verbose == 1);
    image.setSpacing(0.5f, 2.0f, 3.0f, 4.0f); // survives init
    EXPECT_EQ(image.init(4, 3, 2, 2, 3), 0);
    const auto state = stateOf(&image);
    const std::vector<int64_t> layout = {4, 3, 2, 2, 3, 12, 36, 144, 0, bitsOf(0.5f), bitsOf(2.0f), bitsOf(3.0f),
        bitsOf(4.0f)};
    EXPECT_EQ(std::vector<int64_t>(state.begin(), state.begin() + 13), layout);
    EXPECT_EQ(state.size(), 13 + 12 + 144 * sizeof(TypeParam));
    EXPECT_TRUE(std::all_of(state.begin() + 13, state.end(), [](int64_t v) { return v == 0; })); // window, elements
    EXPECT_EQ(image.m_frame_size, 72);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(image.m_data) % 16, 0u);
    for (int i : {0, 1, 5, 17, 65, 100, 143}) {
        const int c = i % 3, x = i / 3 % 4, y = i / 12 % 3, z = i / 36 % 2, t = i / 72;
        image.setValue(float(i % 100), x, y, z, t, c);
        EXPECT_EQ(&image.at(x, y, z, t, c), image.m_data + i);
        EXPECT_EQ(image.getValue(x, y, z, t, c), float(i % 100));
    }
    // Sequential access visits every element once, then fails and leaves the value alone.
    image.resetCursor();
    int stored = 0, read = 0;
    while (image.setNext(float(stored % 100)))
        ++stored;
    image.resetCursor();
    for (float v = 0; image.getNext(v); ++read)
        EXPECT_EQ(v, float(read % 100));
    float untouched = 123.0f;
    EXPECT_FALSE(image.getNext(untouched) || image.setNext(1.0f));
    EXPECT_EQ(std::vector<float>({float(stored), float(read), float(image.m_cursor), untouched}),
        std::vector<float>({144, 144, 144, 123}));
}

TEST(ImageLayout, ExtentsThatCannotBeHeldLeaveTheImageEmpty)
{
    const struct Case {
        int x, y, z, t, c;
        bool refused; // with the message
    } cases[] = {{0, 8, 1, 1, 1, false}, {8, 0, 1, 1, 1, false}, {8, 8, 0, 1, 1, false}, {8, 8, 1, 0, 1, false},
        {8, 8, 1, 1, 0, false}, {65536, 65536, 1, 1, 1, true}, {-3, 4, 1, 1, 1, true}, {4, 4, 1, 1, -1, true}};
    for (const Case& c : cases) {
        ImageBase<short> image;
        image.init(8, 8, 1, 1, 2); // the old buffer is freed (ASan checks)
        CoutCapture capture;
        image.init(c.x, c.y, c.z, c.t, c.c);
        EXPECT_EQ(capture.text(), c.refused ? "Error while initializing!\n" : "") << c.x << "x" << c.y;
        EXPECT_TRUE(image.m_image_size == 0 && image.m_data == nullptr) << c.x << "x" << c.y;
        EXPECT_EQ(image.m_dim[0], c.refused ? 0 : c.x);
        EXPECT_EQ(image.m_window == nullptr, c.c <= 0 || c.refused);
    }
}

TEST(ImageLayout, BuffersAreReleasedClearedAdoptedAndExternalOnesLeftAlone)
{
    ImageBase<float> image;
    image.init(3, 3, 1, 1, 2);
    image.setWindowRange(10, 30, 1);
    EXPECT_EQ(std::vector<float>(image.m_window, image.m_window + 8), (std::vector<float>{0, 0, 0, 0, 20, 20, 10, 30}));
    image.setWindowRange(0, 1, 5); // no such channel: nothing happens
    image.releaseData();
    EXPECT_TRUE(image.m_data == nullptr && image.m_image_size == 18); // extents stay; only the buffer goes
    image.clear();                                                   // allocates again, zeroes elements and window
    image.setValue(4, 2, 2, 0, 0, 1);
    image.clear();
    const auto cleared = stateOf(&image);
    EXPECT_TRUE(std::all_of(cleared.begin() + 13, cleared.end(), [](int64_t v) { return v == 0; }));
    float* old = image.m_data;
    auto* fresh = static_cast<float*>(std::aligned_alloc(16, 18 * sizeof(float)));
    std::fill(fresh, fresh + 18, 2.5f);
    EXPECT_EQ(image.setData(fresh), 0);
    EXPECT_EQ(image.getValue(2, 2, 0, 0, 1), 2.5f);
    std::free(old); // the caller's job: setData does not free it
    alignas(16) static float storage[4] = {1, 2, 3, 4};
    {
        ImageBase<float> external;
        external.m_external = true;
        external.init(2, 2, 1, 1, 1);
        EXPECT_EQ(external.m_data, nullptr);
        external.setData(storage);
        EXPECT_EQ(external.getValue(1, 0, 0, 0, 0), 2.0f);
    } // the destructor must not free static storage (ASan would report it)
    EXPECT_EQ(image.reserved(nullptr), 0);
}

TEST(ImageAccess, SetLastRewritesTheElementLastVisited)
{
    ImageBase<short> image;
    image.init(3, 1, 1, 1, 1);
    image.setLast(99); // before any visit there is no last element
    image.setNext(1);
    image.setNext(2);
    image.setLast(20);
    float v;
    image.getNext(v);
    image.setLast(30);
    image.setLast(40);
    image.m_cursor = 4; // past the end: nothing
    image.setLast(50);
    EXPECT_EQ(std::vector<short>(image.m_data, image.m_data + 3), (std::vector<short>{1, 20, 40}));
    Bitmap empty;
    EXPECT_FALSE(empty.getNext(v) || empty.setNext(1.0f));
}

TEST(ImageAccess, CreateImageByTypeCode)
{
    // Storing -1.5 tells the element types apart.
    const struct Case {
        int code;
        size_t bytes;
        float stored;
    } cases[] = {{TypeChar, 1, -1}, {TypeUnsignedChar, 1, 255}, {TypeShort, 2, -1}, {TypeUnsignedShort, 2, 65535},
        {TypeInt, 4, -1}, {TypeUnsignedInt, 4, 4294967295.0f}, {TypeFloat, 4, -1.5f}, {TypeDouble, 8, -1.5f}};
    for (const Case& c : cases) {
        std::unique_ptr<Image> image(createImage(c.code));
        ASSERT_NE(image, nullptr) << std::hex << c.code;
        EXPECT_EQ(image->m_image_size, 0);
        image->init(1, 1, 1, 1, 1);
        image->setNext(-1.5f);
        EXPECT_EQ(rawBytes(image.get()).size(), c.bytes);
        EXPECT_EQ(image->getValue(0, 0, 0, 0, 0), c.stored) << std::hex << c.code;
    }
    EXPECT_EQ(createImage(0x1407), nullptr);
    EXPECT_EQ(createImage(0), nullptr);
}

// Truncation toward zero keeping the low bits; beyond 32 bits (and NaN) the
// truncation gives 0x80000000 first. Unsigned elements read as non-negative.
TEST(Conversion, StoringTruncatesAndKeepsTheLowBits)
{
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    const struct Case {
        int code;
        float value;
        uint64_t bits;
        float readBack;
    } cases[] = {{TypeUnsignedChar, 300.7f, 44, 44}, {TypeUnsignedChar, -1.9f, 255, 255},
        {TypeUnsignedChar, 255.99f, 255, 255}, {TypeUnsignedChar, -0.5f, 0, 0}, {TypeChar, 200.0f, 0xC8, -56},
        {TypeChar, -129.9f, 0x7F, 127}, {TypeChar, -7.9f, 0xF9, -7}, {TypeShort, 40000.9f, 0x9C40, -25536},
        {TypeShort, -32769.0f, 0x7FFF, 32767}, {TypeUnsignedShort, 65537.5f, 1, 1},
        {TypeUnsignedShort, -2.5f, 65534, 65534}, {TypeUnsignedShort, 1.0e20f, 0, 0}, {TypeUnsignedShort, inf, 0, 0},
        {TypeInt, -123456.9f, 0xFFFE1DC0, -123456}, {TypeInt, 16777216.0f, 0x1000000, 16777216},
        {TypeInt, 3.0e9f, 0x80000000, -2147483648.0f}, {TypeInt, -3.0e9f, 0x80000000, -2147483648.0f},
        {TypeInt, nan, 0x80000000, -2147483648.0f}, {TypeUnsignedInt, 3.0e9f, 3000000000u, 3.0e9f},
        {TypeUnsignedInt, -1.5f, 0xFFFFFFFF, 4294967295.0f}, {TypeUnsignedInt, 5.0e9f, 0x80000000, 2147483648.0f},
        {TypeFloat, -2.75f, 0xC0300000, -2.75f}, {TypeDouble, 0.1f, 0x3FB99999A0000000, 0.1f}};
    for (const Case& c : cases) {
        std::unique_ptr<Image> image(createImage(c.code));
        image->init(1, 1, 1, 1, 1);
        image->setValue(c.value, 0, 0, 0, 0, 0);
        EXPECT_EQ(storedBits(*image), c.bits) << std::hex << c.code << " " << c.value;
        EXPECT_EQ(image->getValue(0, 0, 0, 0, 0), c.readBack) << std::hex << c.code << " " << c.value;
    }
}

TYPED_TEST(TypedImage, SwapBytesReversesEachElement)
{
    auto image = randomImage<TypeParam>(17, 1, 1, 1, 1, 5);
    auto expected = rawBytes(image.get());
    for (size_t i = 0; i < expected.size(); i += sizeof(TypeParam))
        std::reverse(expected.begin() + i, expected.begin() + i + sizeof(TypeParam));
    image->swapBytes();
    EXPECT_EQ(rawBytes(image.get()), expected);
    ImageBase<TypeParam> empty;
    empty.swapBytes(); // no buffer: nothing to do
}

TEST(RawFiles, ElementsInMachineOrderWithoutHeaderAndShortFilesLoadWhatTheyHold)
{
    TempDir dir;
    auto a = randomImage<short>(3, 2, 2, 2, 2, 6);
    ASSERT_EQ(a->saveRaw(dir.path("a.raw").c_str()), 0);
    std::ifstream file(dir.path("a.raw"), std::ios::binary);
    const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    EXPECT_EQ(bytes, rawBytes(a.get()));
    auto b = randomImage<short>(3, 2, 2, 2, 2, 7);
    ASSERT_EQ(b->loadRaw(dir.path("a.raw").c_str()), 0);
    expectSameImage(a.get(), b.get());

    // One row in the file: the second row keeps its contents, still success.
    std::ofstream(dir.path("short.raw"), std::ios::binary).write("\x01\x02\x03\x04", 4);
    ImageBase<unsigned char> image;
    image.init(4, 2, 1, 1, 1);
    std::fill(image.m_data, image.m_data + 8, 100);
    EXPECT_EQ(image.loadRaw(dir.path("missing.raw").c_str()), 1);
    EXPECT_EQ(image.loadRaw(dir.path("short.raw").c_str()), 0);
    EXPECT_EQ(std::vector<int>(image.m_data, image.m_data + 8), (std::vector<int>{1, 2, 3, 4, 100, 100, 100, 100}));
    EXPECT_EQ(image.saveRaw((dir.path("no-such-dir") + "/x.raw").c_str()), 1);
    image.releaseData();
    EXPECT_EQ(image.loadRaw(dir.path("short.raw").c_str()), 1);
    EXPECT_EQ(image.saveRaw(dir.path("out.raw").c_str()), 1);
}

#ifndef NDEBUG
TEST(CheckedBuildDeathTest, AtAssertsBothBounds)
{
    ImageBase<float> image;
    image.init(2, 2, 1, 1, 1);
    EXPECT_DEATH(image.at(2, 1, 0, 0, 0), "c \\+ x\\*m_channels \\+ y\\*m_stride \\+ z\\*m_slice_size \\+ "
                                          "t\\*m_frame_size < m_image_size.*imagelib/include/imagebase");
    EXPECT_DEATH(image.at(-1, 0, 0, 0, 0), "m_data \\+ c \\+ x\\*m_channels \\+ y\\*m_stride \\+ z\\*m_slice_size \\+ "
                                           "t\\*m_frame_size >= m_data.*imagelib/include/imagebase");
    image.at(1, 1, 0, 0, 0) = 3.0f; // the last element is fine
}
#endif
