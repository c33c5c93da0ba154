// The image model: lifecycle, layout, element access, conversion and raw files.
#include <imagebase>

#include "tempdir.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iostream>
#include <limits>
#include <memory>
#include <sstream>

using namespace Lumen;

namespace {

// Captures what the library writes to standard output.
class CoutCapture {
public:
    CoutCapture() : m_old(std::cout.rdbuf(m_text.rdbuf())) {}
    ~CoutCapture() { std::cout.rdbuf(m_old); }
    std::string text() const { return m_text.str(); }

private:
    std::ostringstream m_text;
    std::streambuf* m_old;
};

bool aligned16(const void* p)
{
    return reinterpret_cast<uintptr_t>(p) % 16 == 0;
}

template <class T>
class TypedImage : public ::testing::Test {};

using ElementTypes = ::testing::Types<char, unsigned char, short, unsigned short, int, unsigned int, float, double>;
TYPED_TEST_SUITE(TypedImage, ElementTypes);

} // namespace

// --- lifecycle ---------------------------------------------------------------

TEST(ImageLifecycle, NewBitmapIsEmpty)
{
    Bitmap b;
    for (int d : b.m_dim)
        EXPECT_EQ(d, 0);
    EXPECT_EQ(b.m_channels, 0);
    EXPECT_EQ(b.m_image_size, 0);
    EXPECT_EQ(b.getData(), nullptr);
    EXPECT_EQ(b.m_window, nullptr);
    EXPECT_EQ(b.m_bits, 0);
    EXPECT_EQ(b.m_palette_size, 0);
    EXPECT_EQ(b.m_palette, nullptr);
    EXPECT_EQ(b.m_verbose, 1);
    EXPECT_EQ(b.m_cursor, 0);
    EXPECT_EQ(b.m_type, 0);
    for (float s : b.m_spacing)
        EXPECT_EQ(s, 1.0f);
}

TYPED_TEST(TypedImage, InitComputesStridesAndZeroedAlignedBuffer)
{
    ImageBase<TypeParam> img;
    EXPECT_FALSE(img.m_external);
    EXPECT_EQ(img.getData(), nullptr);
    EXPECT_EQ(img.init(4, 3, 2, 1, 3), 0);
    EXPECT_EQ(img.m_stride, 12);
    EXPECT_EQ(img.m_slice_size, 36);
    EXPECT_EQ(img.m_frame_size, 72);
    EXPECT_EQ(img.m_image_size, 72);
    ASSERT_NE(img.getData(), nullptr);
    EXPECT_TRUE(aligned16(img.getData()));
    for (int i = 0; i < 72; ++i)
        EXPECT_EQ(img.getData()[i], TypeParam(0));
    ASSERT_NE(img.m_window, nullptr);
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(img.m_window[i], 0.0f);
}

TEST(ImageLifecycle, ElementIndexFollowsLayout)
{
    ImageBase<unsigned char> img;
    img.init(4, 3, 2, 1, 3);
    img.setValue(77, 1, 2, 1, 0, 2);
    EXPECT_EQ(img.getData()[65], 77); // 2 + 3 + 24 + 36
    EXPECT_EQ(&img.at(1, 2, 1, 0, 2), img.getData() + 65);
    EXPECT_EQ(img.getValue(1, 2, 1, 0, 2), 77.0f);

    ImageBase<float> frames;
    frames.init(2, 2, 2, 3, 2);
    EXPECT_EQ(frames.m_frame_size, 16);
    frames.setValue(5.5f, 1, 1, 1, 2, 1);
    EXPECT_EQ(frames.getData()[1 + 2 + 4 + 8 + 32], 5.5f);
}

TEST(ImageLifecycle, ZeroExtentLeavesImageEmptyAndFreesOldBuffer)
{
    ImageBase<short> img;
    img.init(8, 8, 1, 1, 1);
    ASSERT_NE(img.getData(), nullptr);
    for (int zeroAxis = 0; zeroAxis < 5; ++zeroAxis) {
        int e[5] = {8, 8, 1, 1, 1};
        e[zeroAxis] = 0;
        img.init(8, 8, 1, 1, 1);
        img.init(e[0], e[1], e[2], e[3], e[4]);
        EXPECT_EQ(img.m_image_size, 0) << zeroAxis;
        EXPECT_EQ(img.getData(), nullptr) << zeroAxis;
    }
    // With no channels there is no window table either.
    EXPECT_EQ(img.m_window, nullptr);
}

TEST(ImageLifecycle, InitKeepsSpacingCursorVerboseAndType)
{
    ImageBase<int> img;
    img.setSpacing(0.5f, 2.0f, 3.0f, 4.0f);
    img.m_verbose = 0;
    img.m_type = TypeShort;
    img.m_cursor = 3;
    img.init(2, 2, 1, 1, 1);
    EXPECT_EQ(img.m_spacing[0], 0.5f);
    EXPECT_EQ(img.m_spacing[3], 4.0f);
    EXPECT_EQ(img.m_verbose, 0);
    EXPECT_EQ(img.m_type, TypeShort);
    EXPECT_EQ(img.m_cursor, 3);
}

TEST(ImageLifecycle, UnrepresentableLayoutIsRefusedWithMessage)
{
    ImageBase<unsigned char> img;
    img.init(4, 4, 1, 1, 1);
    CoutCapture out;
    img.init(65536, 65536, 1, 1, 1); // 2^32 elements: does not fit 32 bits
    EXPECT_EQ(out.text(), "Error while initializing!\n");
    EXPECT_EQ(img.getData(), nullptr);
    EXPECT_EQ(img.m_image_size, 0);
    EXPECT_EQ(img.m_dim[0], 0);
    EXPECT_EQ(img.m_window, nullptr);

    img.init(-3, 4, 1, 1, 1);
    EXPECT_EQ(img.m_image_size, 0);
    EXPECT_EQ(img.getData(), nullptr);
}

TEST(ImageLifecycle, ReleaseDataAndClear)
{
    ImageBase<float> img;
    img.init(3, 3, 1, 1, 2);
    img.setWindowRange(1, 5, 1);
    img.setValue(9, 2, 2, 0, 0, 1);
    img.releaseData();
    EXPECT_EQ(img.getData(), nullptr);
    EXPECT_EQ(img.m_image_size, 18); // extents stay; only the buffer goes

    img.clear(); // allocates again, zeroes elements and window
    ASSERT_NE(img.getData(), nullptr);
    EXPECT_TRUE(aligned16(img.getData()));
    for (int i = 0; i < 18; ++i)
        EXPECT_EQ(img.getData()[i], 0.0f);
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(img.m_window[i], 0.0f);

    img.setValue(4, 1, 1, 0, 0, 0);
    img.clear();
    EXPECT_EQ(img.getValue(1, 1, 0, 0, 0), 0.0f);
}

TEST(ImageLifecycle, SetDataAdoptsBufferWithoutFreeingOld)
{
    ImageBase<short> img;
    img.init(2, 2, 1, 1, 1);
    short* old = img.getData();
    short* fresh = static_cast<short*>(std::aligned_alloc(16, 16));
    for (int i = 0; i < 4; ++i)
        fresh[i] = short(10 + i);
    EXPECT_EQ(img.setData(fresh), 0);
    EXPECT_EQ(img.getData(), fresh);
    EXPECT_EQ(img.getValue(1, 1, 0, 0, 0), 13.0f);
    EXPECT_FALSE(img.m_external);
    std::free(old); // the caller's job: setData does not free it
}

TEST(ImageLifecycle, ExternalBufferIsNeitherAllocatedNorFreed)
{
    alignas(16) static float storage[4] = {1, 2, 3, 4};
    {
        ImageBase<float> img;
        img.m_external = true;
        img.init(2, 2, 1, 1, 1);
        EXPECT_EQ(img.getData(), nullptr);
        img.setData(storage);
        EXPECT_EQ(img.getValue(1, 0, 0, 0, 0), 2.0f);
        img.releaseData();
        EXPECT_EQ(img.getData(), nullptr);
        img.setData(storage);
    } // destructor must not free static storage (ASan would report it)
    EXPECT_EQ(storage[3], 4.0f);
}

TEST(ImageLifecycle, WindowRangeAndSpacing)
{
    ImageBase<float> img;
    img.init(1, 1, 1, 1, 2);
    img.setWindowRange(10, 30, 1);
    EXPECT_EQ(img.m_window[4], 20.0f);
    EXPECT_EQ(img.m_window[5], 20.0f);
    EXPECT_EQ(img.m_window[6], 10.0f);
    EXPECT_EQ(img.m_window[7], 30.0f);
    EXPECT_EQ(img.m_window[0], 0.0f); // channel 0 untouched
    img.setWindowRange(0, 1, 5);      // no such channel: nothing happens
    img.setSpacing(1, 2, 3, 4);
    EXPECT_EQ(img.m_spacing[2], 3.0f);
    EXPECT_EQ(img.reserved(nullptr), 0);
}

TEST(ImageLifecycle, CreateImageByTypeCode)
{
    const int codes[] = {TypeChar, TypeUnsignedChar, TypeShort, TypeUnsignedShort,
                         TypeInt, TypeUnsignedInt, TypeFloat, TypeDouble};
    for (int code : codes) {
        std::unique_ptr<Image> img(createImage(code));
        ASSERT_NE(img, nullptr) << std::hex << code;
        EXPECT_EQ(img->m_image_size, 0);
    }
    std::unique_ptr<Image> f(createImage(0x1406));
    ASSERT_NE(dynamic_cast<ImageBase<float>*>(f.get()), nullptr);
    EXPECT_EQ(dynamic_cast<ImageBase<float>*>(f.get())->getData(), nullptr);
    EXPECT_EQ(createImage(0x1407), nullptr);
    EXPECT_EQ(createImage(0), nullptr);
}

// --- sequential access ---------------------------------------------------------

TYPED_TEST(TypedImage, CursorVisitsEveryElementOnce)
{
    ImageBase<TypeParam> img;
    img.init(4, 3, 2, 1, 3);
    img.resetCursor();
    int stored = 0;
    while (img.setNext(float(stored % 100)))
        ++stored;
    EXPECT_EQ(stored, 72);
    EXPECT_FALSE(img.setNext(1.0f));
    EXPECT_EQ(img.m_cursor, 72);

    img.resetCursor();
    float v = -1.0f;
    int read = 0;
    while (img.getNext(v)) {
        EXPECT_EQ(v, float(read % 100));
        ++read;
    }
    EXPECT_EQ(read, 72);
    v = 123.0f;
    EXPECT_FALSE(img.getNext(v));
    EXPECT_EQ(v, 123.0f); // left alone on failure
}

TEST(ImageAccess, SetLastRewritesLastVisitedElement)
{
    ImageBase<short> img;
    img.init(3, 1, 1, 1, 1);
    img.resetCursor();
    img.setNext(1);
    img.setNext(2);
    img.setLast(20);
    EXPECT_EQ(img.getData()[1], 20);
    float v;
    img.getNext(v);
    img.setLast(30);
    EXPECT_EQ(img.getData()[2], 30);
    // Before any visit there is no last element: nothing is written.
    img.resetCursor();
    img.setLast(99);
    EXPECT_EQ(img.getData()[0], 1);
}

TEST(ImageAccess, EmptyImageCursorFailsAtOnce)
{
    Bitmap b;
    float v = 0;
    EXPECT_FALSE(b.getNext(v));
    EXPECT_FALSE(b.setNext(1.0f));
}

// --- the conversion rule -------------------------------------------------------

TEST(Conversion, IntegerTypesTruncateAndKeepLowBits)
{
    ImageBase<unsigned char> u8;
    u8.init(4, 1, 1, 1, 1);
    u8.setNext(300.7f);
    u8.setNext(-1.9f);
    u8.setNext(255.99f);
    u8.setNext(-0.5f);
    EXPECT_EQ(u8.getData()[0], 44);
    EXPECT_EQ(u8.getData()[1], 255);
    EXPECT_EQ(u8.getData()[2], 255);
    EXPECT_EQ(u8.getData()[3], 0);

    ImageBase<char> s8;
    s8.init(3, 1, 1, 1, 1);
    s8.setNext(200.0f);  // 0xC8
    s8.setNext(-129.9f); // -129 -> 0x7F
    s8.setNext(-7.9f);
    EXPECT_EQ(static_cast<unsigned char>(s8.getData()[0]), 0xC8);
    EXPECT_EQ(s8.getData()[1], 127);
    EXPECT_EQ(s8.getData()[2], -7);

    ImageBase<short> s16;
    s16.init(2, 1, 1, 1, 1);
    s16.setNext(40000.9f); // 0x9C40
    s16.setNext(-32769.0f);
    EXPECT_EQ(static_cast<unsigned short>(s16.getData()[0]), 0x9C40);
    EXPECT_EQ(s16.getData()[1], 32767);

    ImageBase<unsigned short> u16;
    u16.init(2, 1, 1, 1, 1);
    u16.setNext(65537.5f);
    u16.setNext(-2.5f);
    EXPECT_EQ(u16.getData()[0], 1);
    EXPECT_EQ(u16.getData()[1], 65534);

    ImageBase<int> s32;
    s32.init(2, 1, 1, 1, 1);
    s32.setNext(-123456.9f);
    s32.setNext(16777216.0f);
    EXPECT_EQ(s32.getData()[0], -123456);
    EXPECT_EQ(s32.getData()[1], 16777216);

    ImageBase<unsigned int> u32;
    u32.init(2, 1, 1, 1, 1);
    u32.setNext(3000000000.0f);
    u32.setNext(-1.5f);
    EXPECT_EQ(u32.getData()[0], 3000000000u);
    EXPECT_EQ(u32.getData()[1], 0xFFFFFFFFu);
}

TEST(Conversion, OutOfRangeAndNaNAreDefined)
{
    // Beyond 32 bits the truncation gives 0x80000000, whose low bits are kept.
    ImageBase<int> s32;
    s32.init(3, 1, 1, 1, 1);
    s32.setNext(3.0e9f);
    s32.setNext(-3.0e9f);
    s32.setNext(std::numeric_limits<float>::quiet_NaN());
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(s32.getData()[i], INT32_MIN);

    ImageBase<unsigned short> u16;
    u16.init(2, 1, 1, 1, 1);
    u16.setNext(1.0e20f);
    u16.setNext(std::numeric_limits<float>::infinity());
    EXPECT_EQ(u16.getData()[0], 0);
    EXPECT_EQ(u16.getData()[1], 0);

    ImageBase<unsigned int> u32;
    u32.init(1, 1, 1, 1, 1);
    u32.setNext(5.0e9f);
    EXPECT_EQ(u32.getData()[0], 0x80000000u);
}

TEST(Conversion, FloatTypesStoreAsIsAndReadBackExactly)
{
    ImageBase<float> f;
    f.init(1, 1, 1, 1, 1);
    f.setValue(-2.75f, 0, 0, 0, 0, 0);
    EXPECT_EQ(f.getData()[0], -2.75f);

    ImageBase<double> d;
    d.init(1, 1, 1, 1, 1);
    d.setValue(0.1f, 0, 0, 0, 0, 0);
    EXPECT_EQ(d.getData()[0], double(0.1f)); // widened, not re-rounded

    // Unsigned elements read as non-negative values.
    ImageBase<unsigned int> u;
    u.init(1, 1, 1, 1, 1);
    u.getData()[0] = 4000000000u;
    EXPECT_EQ(u.getValue(0, 0, 0, 0, 0), 4.0e9f);
    ImageBase<unsigned char> b;
    b.init(1, 1, 1, 1, 1);
    b.getData()[0] = 250;
    EXPECT_EQ(b.getValue(0, 0, 0, 0, 0), 250.0f);
}

// --- byte order ------------------------------------------------------------------

TEST(ByteOrder, SwapBytesReversesEachElement)
{
    ImageBase<short> s;
    s.init(2, 1, 1, 1, 1);
    s.getData()[0] = 0x1234;
    s.getData()[1] = short(0xABCD);
    s.swapBytes();
    EXPECT_EQ(s.getData()[0], 0x3412);
    EXPECT_EQ(static_cast<unsigned short>(s.getData()[1]), 0xCDAB);

    ImageBase<unsigned char> u8;
    u8.init(2, 1, 1, 1, 1);
    u8.getData()[0] = 0x12;
    u8.getData()[1] = 0x34;
    u8.swapBytes();
    EXPECT_EQ(u8.getData()[0], 0x12);
    EXPECT_EQ(u8.getData()[1], 0x34);

    ImageBase<unsigned int> u32;
    u32.init(1, 1, 1, 1, 1);
    u32.getData()[0] = 0x11223344u;
    u32.swapBytes();
    EXPECT_EQ(u32.getData()[0], 0x44332211u);

    ImageBase<float> f;
    f.init(1, 1, 1, 1, 1);
    f.getData()[0] = 1.0f; // 0x3F800000
    f.swapBytes();
    uint32_t bits;
    std::memcpy(&bits, f.getData(), 4);
    EXPECT_EQ(bits, 0x0000803Fu);
    f.swapBytes();
    EXPECT_EQ(f.getData()[0], 1.0f);

    ImageBase<double> d;
    d.init(1, 1, 1, 1, 1);
    const uint64_t pattern = 0x0102030405060708ull;
    std::memcpy(d.getData(), &pattern, 8);
    d.swapBytes();
    uint64_t swapped;
    std::memcpy(&swapped, d.getData(), 8);
    EXPECT_EQ(swapped, 0x0807060504030201ull);

    Bitmap empty;
    empty.swapBytes(); // no buffer: nothing to do
}

// --- raw files -------------------------------------------------------------------

TEST(RawFiles, SaveThenLoadRoundTrips)
{
    TempDir dir;
    ImageBase<short> a;
    a.init(3, 2, 2, 2, 2);
    for (int i = 0; i < a.m_image_size; ++i)
        a.getData()[i] = short(i * 37 - 500);
    ASSERT_EQ(a.saveRaw(dir.path("a.raw").c_str()), 0);
    EXPECT_EQ(std::filesystem::file_size(dir.path("a.raw")), size_t(a.m_image_size) * 2);

    ImageBase<short> b;
    b.init(3, 2, 2, 2, 2);
    ASSERT_EQ(b.loadRaw(dir.path("a.raw").c_str()), 0);
    EXPECT_EQ(std::memcmp(a.getData(), b.getData(), size_t(a.m_image_size) * 2), 0);
}

TEST(RawFiles, ElementsLieInMachineOrderWithoutHeader)
{
    TempDir dir;
    ImageBase<unsigned short> a;
    a.init(2, 1, 1, 1, 1);
    a.getData()[0] = 0x0102;
    a.getData()[1] = 0x0304;
    a.saveRaw(dir.path("le.raw").c_str());
    std::ifstream f(dir.path("le.raw"), std::ios::binary);
    unsigned char bytes[4] = {};
    f.read(reinterpret_cast<char*>(bytes), 4);
    EXPECT_EQ(bytes[0], 0x02);
    EXPECT_EQ(bytes[1], 0x01);
    EXPECT_EQ(bytes[2], 0x04);
    EXPECT_EQ(bytes[3], 0x03);
}

TEST(RawFiles, MissingFileAndShortFile)
{
    TempDir dir;
    ImageBase<unsigned char> img;
    img.init(4, 2, 1, 1, 1);
    for (int i = 0; i < 8; ++i)
        img.getData()[i] = uint8_t(100 + i);
    EXPECT_EQ(img.loadRaw(dir.path("missing.raw").c_str()), 1);
    EXPECT_EQ(img.getData()[0], 100);

    // One row in the file: the second row keeps its contents, still success.
    std::ofstream(dir.path("short.raw"), std::ios::binary).write("\x01\x02\x03\x04", 4);
    EXPECT_EQ(img.loadRaw(dir.path("short.raw").c_str()), 0);
    EXPECT_EQ(img.getData()[0], 1);
    EXPECT_EQ(img.getData()[3], 4);
    EXPECT_EQ(img.getData()[4], 104);

    EXPECT_EQ(img.saveRaw((dir.path("no-such-dir") + "/x.raw").c_str()), 1);
}

TEST(RawFiles, NoBufferIsRefused)
{
    TempDir dir;
    std::ofstream(dir.path("data.raw"), std::ios::binary).write("\x01\x02\x03\x04", 4);
    ImageBase<unsigned char> img;
    img.init(2, 2, 1, 1, 1);
    img.releaseData();
    EXPECT_EQ(img.loadRaw(dir.path("data.raw").c_str()), 1);
    EXPECT_EQ(img.saveRaw(dir.path("out.raw").c_str()), 1);
    EXPECT_EQ(img.getData(), nullptr);
}

// --- checked builds ----------------------------------------------------------------

#ifndef NDEBUG
TEST(CheckedBuildDeathTest, AtAssertsBothBounds)
{
    ImageBase<float> img;
    img.init(2, 2, 1, 1, 1);
    EXPECT_DEATH(img.at(2, 1, 0, 0, 0),
                 "c \\+ x\\*m_channels \\+ y\\*m_stride \\+ z\\*m_slice_size \\+ t\\*m_frame_size < m_image_size"
                 ".*imagelib/include/imagebase");
    EXPECT_DEATH(img.at(-1, 0, 0, 0, 0),
                 "m_data \\+ c \\+ x\\*m_channels \\+ y\\*m_stride \\+ z\\*m_slice_size \\+ t\\*m_frame_size >= m_data"
                 ".*imagelib/include/imagebase");
    img.at(1, 1, 0, 0, 0) = 3.0f; // the last element is fine
    EXPECT_EQ(img.getValue(1, 1, 0, 0, 0), 3.0f);
}
#endif
