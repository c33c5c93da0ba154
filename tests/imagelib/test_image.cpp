// The image model: layout, buffers, element access, the conversion rule,
// byte order and raw files.
#include "imageops_support.h"
#include "tempdir.h"

#include <fstream>

using namespace Lumen;
using namespace opstest;

TYPED_TEST(EveryType, InitLaysOutAZeroedAlignedBufferChannelFastestAndAccessFollowsIt)
{
    using T = TypeParam;
    ImageBase<T> image;
    EXPECT_TRUE(image.m_data == nullptr && image.m_window == nullptr && !image.m_external && image.m_verbose == 1);
    image.setSpacing(0.5f, 2.0f, 3.0f, 4.0f); // survives init
    EXPECT_EQ(image.init(4, 3, 2, 2, 3), 0);
    const auto state = stateOf(&image);
    EXPECT_EQ(std::vector<int64_t>(state.begin(), state.begin() + 13),
        (std::vector<int64_t>{4, 3, 2, 2, 3, 12, 36, 144, 0, bitsOf(0.5f), bitsOf(2.0f), bitsOf(3.0f), bitsOf(4.0f)}));
    EXPECT_EQ(std::vector<int64_t>(state.begin() + 13, state.end()), std::vector<int64_t>(12 + 144 * sizeof(T)));
    EXPECT_TRUE(image.m_frame_size == 72 && reinterpret_cast<uintptr_t>(image.m_data) % 16 == 0);
    for (int i : {0, 1, 5, 17, 65, 100, 143}) { // c + x*C + y*stride + z*slice + t*frame
        const auto [x, y, z, t, c] = Position{i / 3 % 4, i / 12 % 3, i / 36 % 2, i / 72, i % 3};
        image.setValue(float(i % 100 + 1), x, y, z, t, c);
        EXPECT_TRUE(&image.at(x, y, z, t, c) == image.m_data + i && image.m_data[i] == T(i % 100 + 1)
            && image.getValue(x, y, z, t, c) == float(i % 100 + 1)) << i;
    }
    // Sequential access visits every element once, then fails and leaves the
    // value alone; setLast rewrites the element last visited, if any.
    float v = 0.0f;
    for (int pass = 0; pass < 2; ++pass) {
        image.resetCursor();
        for (int i = 0; i < 146; ++i)
            ASSERT_TRUE((pass ? image.getNext(v) : image.setNext(float(i % 100))) == (i < 144)
                && (!pass || v == float(std::min(i, 143) % 100)) && image.m_cursor == std::min(i + 1, 144)) << i;
    }
    image.setLast(7);
    image.m_cursor = 145, image.setLast(9); // past the end: nothing
    image.resetCursor(), image.setLast(9); // nothing visited yet
    for (int i = 0; i < 144; ++i)
        ASSERT_EQ(image.m_data[i], T(i == 143 ? 7 : i % 100)) << i;
    // swapBytes reverses the bytes of each element; without a buffer it does nothing.
    auto swapped = rawBytes(&image);
    for (size_t i = 0; i < swapped.size(); i += sizeof(T))
        std::reverse(swapped.begin() + i, swapped.begin() + i + sizeof(T));
    image.swapBytes();
    ImageBase<T>().swapBytes();
    EXPECT_EQ(rawBytes(&image), swapped);
    // Extents that cannot be held leave the image empty; the old buffer is freed (ASan checks).
    const int cases[][6] = {{0, 8, 1, 1, 1, 0}, {8, 0, 1, 1, 1, 0}, {8, 8, 0, 1, 1, 0}, {8, 8, 1, 0, 1, 0},
        {8, 8, 1, 1, 0, 0}, {65536, 65536, 1, 1, 1, 1}, {-3, 4, 1, 1, 1, 1}, {4, 4, 1, 1, -1, 1}}; // 1: refused
    for (const auto& e : cases) {
        image.init(8, 8, 1, 1, 2);
        EXPECT_EQ(
            printed([&] { image.init(e[0], e[1], e[2], e[3], e[4]); }), e[5] ? "Error while initializing!\n" : "");
        EXPECT_TRUE(image.m_image_size == 0 && image.m_data == nullptr && image.m_dim[0] == (e[5] ? 0 : e[0])) << e[0];
        EXPECT_EQ(image.m_window == nullptr, e[4] <= 0 || e[5]) << e[0];
    }
}

TEST(ImageLayout, BuffersAreReleasedClearedAdoptedExternalOrReadFromRawFiles)
{
    ImageBase<float> image, external; // external's destructor must not free static storage (ASan would report it)
    image.init(3, 3, 1, 1, 2);
    image.setWindowRange(10, 30, 1);
    image.setWindowRange(0, 1, 5); // no such channel: nothing happens
    EXPECT_EQ(std::vector<float>(image.m_window, image.m_window + 8), (std::vector<float>{0, 0, 0, 0, 20, 20, 10, 30}));
    image.releaseData();
    EXPECT_TRUE(image.m_data == nullptr && image.m_image_size == 18); // extents stay; only the buffer goes
    image.clear();                                                   // allocates again, zeroes elements and window
    image.setValue(4, 2, 2, 0, 0, 1);
    image.clear();
    const auto cleared = stateOf(&image);
    EXPECT_EQ(std::vector<int64_t>(cleared.begin() + 13, cleared.end()), std::vector<int64_t>(8 + 72));
    float* old = image.m_data;
    auto* fresh = static_cast<float*>(std::aligned_alloc(16, 20 * sizeof(float)));
    std::fill(fresh, fresh + 18, 2.5f);
    alignas(16) static float storage[4] = {1, 2, 3, 4};
    external.m_external = true;
    external.init(2, 2, 1, 1, 1);
    EXPECT_TRUE(external.m_data == nullptr && image.setData(fresh) + external.setData(storage) == 0);
    EXPECT_TRUE(image.getValue(2, 2, 0, 0, 1) == 2.5f && external.getValue(1, 0, 0, 0, 0) == 2.0f);
    std::free(old); // the caller's job: setData does not free it
    external.flip(true, false, false, false); // into a new buffer, which the image owns (ASan checks)
    EXPECT_TRUE(!external.m_external && std::vector<float>(storage, storage + 4) == std::vector<float>({1, 2, 3, 4}));
    EXPECT_EQ(std::vector<float>(external.m_data, external.m_data + 4), (std::vector<float>{2, 1, 4, 3}));
    // Raw files: the elements in machine order without a header; a short file loads what it holds.
    TempDir dir;
    const std::string a = dir.path("a.raw"), cut = dir.path("short.raw");
    auto saved = randomImage<short>({3, 2, 2, 2, 2}, 6), loaded = randomImage<short>({3, 2, 2, 2, 2}, 7);
    ASSERT_EQ(saved->saveRaw(a.c_str()), 0);
    std::ifstream file(a, std::ios::binary);
    EXPECT_EQ(std::vector<unsigned char>(std::istreambuf_iterator<char>(file), {}), rawBytes(saved.get()));
    ASSERT_EQ(loaded->loadRaw(a.c_str()), 0);
    expectSameImage(saved.get(), loaded.get());
    // One row in the file: the second row keeps its contents, still success.
    std::ofstream(cut, std::ios::binary).write("\x01\x02\x03\x04", 4);
    ImageBase<unsigned char> bytes;
    bytes.init(4, 2, 1, 1, 1);
    std::fill(bytes.m_data, bytes.m_data + 8, 100);
    EXPECT_EQ(std::vector<int>({bytes.loadRaw(dir.path("missing.raw").c_str()), bytes.loadRaw(cut.c_str()),
                  bytes.saveRaw((dir.path("no-such-dir") + "/x.raw").c_str())}),
        std::vector<int>({1, 0, 1}));
    EXPECT_EQ(std::vector<int>(bytes.m_data, bytes.m_data + 8), (std::vector<int>{1, 2, 3, 4, 100, 100, 100, 100}));
    bytes.releaseData();
    EXPECT_EQ(bytes.loadRaw(cut.c_str()) + bytes.saveRaw(dir.path("out.raw").c_str()), 2); // no buffer
}

#ifndef NDEBUG
// Checked builds stop at the first element outside the buffer, at either end,
// and at a linear sample without all its neighbours (one slice: no z one).
TEST(CheckedBuildDeathTest, AccessOutsideTheBufferAsserts)
{
    ImageBase<float> image;
    image.init(2, 2, 1, 1, 1);
    image.at(1, 1, 0, 0, 0) = 3.0f;
    float out = 0.0f;
    EXPECT_DEATH(image.at(2, 1, 0, 0, 0), "< m_image_size.*imagebase");
    EXPECT_DEATH(image.at(-1, 0, 0, 0, 0), ">= m_data.*imagebase");
    EXPECT_DEATH(image.getVoxelLinear(&out, 0.5f, 0.5f, 0.0f), "zz < m_dim\\[2\\]-1.*imagebase");
}
#endif

TEST(Conversion, StoringTruncatesAndKeepsTheLowBits)
{
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    const int C = TypeChar, UC = TypeUnsignedChar, S = TypeShort, US = TypeUnsignedShort, I = TypeInt,
              UI = TypeUnsignedInt;
    // type code, value stored, element bits, value read back
    const std::tuple<int, float, uint64_t, float> cases[] = {{UC, 300.7f, 44, 44}, {UC, -1.9f, 255, 255},
        {UC, 255.99f, 255, 255}, {UC, -0.5f, 0, 0}, {C, 200.0f, 0xC8, -56}, {C, -129.9f, 0x7F, 127},
        {C, -7.9f, 0xF9, -7}, {S, 40000.9f, 0x9C40, -25536}, {S, -32769.0f, 0x7FFF, 32767}, {US, 65537.5f, 1, 1},
        {US, -2.5f, 65534, 65534}, {US, 1.0e20f, 0, 0}, {US, inf, 0, 0}, {I, -123456.9f, 0xFFFE1DC0, -123456},
        {I, 16777216.0f, 0x1000000, 16777216}, {I, 3.0e9f, 0x80000000, -2147483648.0f},
        {I, -3.0e9f, 0x80000000, -2147483648.0f}, {I, nan, 0x80000000, -2147483648.0f},
        {I, 2147483520.0f, 0x7FFFFF80, 2147483520.0f}, {UI, 3.0e9f, 3000000000u, 3.0e9f},
        {UI, 2147483648.0f, 0x80000000, 2147483648.0f}, {UI, 4294967040.0f, 0xFFFFFF00, 4294967040.0f},
        {UI, -1.5f, 0xFFFFFFFF, 4294967295.0f}, {UI, -2147483648.0f, 0x80000000, 2147483648.0f},
        {UI, 5.0e9f, 0x80000000, 2147483648.0f}, {UI, nan, 0x80000000, 2147483648.0f},
        {TypeFloat, -2.75f, 0xC0300000, -2.75f}, {TypeDouble, 0.1f, 0x3FB99999A0000000, 0.1f}};
    const float one = 1.0f;
    ImageBase<float> source;
    source.init(19, 1, 1, 1, 1);
    for (const auto& [code, value, bits, readBack] : cases) {
        SCOPED_TRACE(std::to_string(code) + " " + std::to_string(value));
        std::unique_ptr<Image> image(createImage(code)), filtered(createImage(code));
        ASSERT_TRUE(image && filtered && image->m_image_size == 0);
        image->init(1, 1, 1, 1, 1);
        image->setValue(value, 0, 0, 0, 0, 0);
        filtered->init(19, 1, 1, 1, 1); // the filter stores two vector steps and a tail
        std::fill(source.m_data, source.m_data + 19, value);
        ASSERT_EQ(source.filter(TypeFloat, &one, 1, filtered.get()), filtered.get());
        const auto element = rawBytes(image.get()), stores = rawBytes(filtered.get());
        uint64_t stored = 0;
        std::memcpy(&stored, element.data(), element.size());
        EXPECT_TRUE(stored == bits && image->getValue(0, 0, 0, 0, 0) == readBack);
        for (size_t i = 0; i < stores.size(); ++i)
            ASSERT_EQ(stores[i], element[i % element.size()]) << "vector store " << i;
    }
    EXPECT_TRUE(createImage(0x1407) == nullptr && createImage(0) == nullptr);
}
