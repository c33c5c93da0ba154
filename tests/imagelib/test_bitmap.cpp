// BMP loading: layouts the format allows, and files that lie about themselves.
#include <imagebase>

#include "tempdir.h"
#include "filewriters/bmpwriter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <streambuf>
#include <vector>

using namespace Lumen;
using filewriters::BmpImage;
using filewriters::Bytes;
using filewriters::encodeBmp;

namespace {

// A picture whose pixel bytes differ from row to row and column to column.
BmpImage picture(int width, int height, uint16_t bits, std::function<void(BmpImage&)> tweak = {})
{
    BmpImage img;
    img.width = width;
    img.height = height;
    img.bitsPerPixel = bits;
    img.pixels.resize(size_t(width) * std::abs(height) * ((bits + 7) / 8));
    for (size_t i = 0; i < img.pixels.size(); ++i)
        img.pixels[i] = uint8_t((i * 7 + width * 13 + i / 5) & 0xFF);
    img.padByte = 0xEE;
    if (tweak)
        tweak(img);
    return img;
}

// A stream that cannot seek, like a pipe: the loader cannot learn its length.
class PipeBuffer : public std::streambuf {
public:
    explicit PipeBuffer(const Bytes& bytes) : m_bytes(bytes.begin(), bytes.end())
    {
        setg(m_bytes.data(), m_bytes.data(), m_bytes.data() + m_bytes.size());
    }

private:
    std::vector<char> m_bytes;
};

// A streambuf that fails while reading, like a disk error.
class FailingBuffer : public PipeBuffer {
public:
    using PipeBuffer::PipeBuffer;

protected:
    int_type underflow() override { throw std::runtime_error("read error"); }
};

int load(Bitmap& b, const Bytes& file, bool piped = false)
{
    std::istringstream in(std::string(file.begin(), file.end()));
    PipeBuffer pipe(file);
    std::istream pipeStream(&pipe);
    return b.load(piped ? pipeStream : in);
}

std::vector<uint8_t> pixelsOf(const Bitmap& b)
{
    return b.getData() ? std::vector<uint8_t>(b.getData(), b.getData() + b.m_image_size) : std::vector<uint8_t>();
}

// A bitmap already holding a 3 x 2 picture, to see that refusals leave it alone.
const BmpImage kPreloaded = picture(3, 2, 24);
void expectPreloaded(const Bitmap& b, const std::string& what)
{
    EXPECT_EQ(std::vector<int>({b.m_dim[0], b.m_dim[1], b.m_channels}), std::vector<int>({3, 2, 3})) << what;
    EXPECT_EQ(pixelsOf(b), kPreloaded.pixels) << what;
}

// A header claiming width x height and nothing else, cut or zero-padded to `size` bytes.
Bytes header(int32_t width, int32_t height, uint16_t bits, size_t size = 54, uint8_t fill = 0)
{
    Bytes file = encodeBmp(picture(width, 0, bits));
    file.resize(54);
    file.resize(size, fill);
    std::memcpy(file.data() + 22, &height, 4);
    return file;
}

} // namespace

// Row 0 is the top row whatever the row order, pixel bytes stay as stored
// (padding dropped), channels are bits / 8 (a depth that is no whole number of
// bytes keeps the first bytes of each pixel), and fields that do not describe
// the pixel rows are not trusted.
TEST(BmpLayout, PixelsArriveTopRowFirstWithoutPadding)
{
    std::vector<BmpImage> cases = {picture(2, 2, 16), picture(7, 5, 24), picture(7, -5, 24), picture(7, 5, 32),
        picture(7, 5, 48), picture(7, 2, 20), picture(0, 5, 24), picture(4, 4, 32, [](BmpImage& i) {
            i.compression = 3; // bit-field masks describe plain rows
            i.gapBeforePixels = 12;
        }),
        picture(6, 5, 24, [](BmpImage& i) { i.infoHeaderSize = 124, i.gapBeforePixels = 10; }),
        picture(2, 2, 24, [](BmpImage& i) { i.pixelDataOffset = 20; })}; // inside the headers: ignored
    for (int w : {1, 2, 3, 5, 13, 64, 333})
        for (int h : {1, 2, 7, -7})
            cases.push_back(picture(w, h, 24));
    for (uint32_t size : {0u, 1u, 10u, 1000000u})
        cases.push_back(picture(5, 4, 24, [size](BmpImage& i) { i.pixelDataSize = size; }));
    for (const BmpImage& img : cases) {
        Bitmap b;
        ASSERT_EQ(load(b, encodeBmp(img)), 1) << img.width << "x" << img.height << " at " << img.bitsPerPixel;
        const int channels = img.bitsPerPixel / 8, rows = std::abs(img.height);
        const int rowBytes = img.width * img.bitsPerPixel / 8;
        std::vector<uint8_t> expected;
        for (int y = 0; y < rows && img.width; ++y)
            expected.insert(expected.end(), img.pixels.begin() + y * rowBytes,
                img.pixels.begin() + y * rowBytes + img.width * channels);
        const std::vector<int> layout = {b.m_dim[0], b.m_dim[1], b.m_dim[2], b.m_dim[3], b.m_channels, b.m_bits};
        EXPECT_TRUE(!img.width || layout == std::vector<int>({img.width, rows, 1, 1, channels, img.bitsPerPixel}));
        EXPECT_EQ(pixelsOf(b), expected) << img.width << "x" << img.height << " at " << img.bitsPerPixel;
    }
}

TEST(BmpLayout, EightBitKeepsIndicesAndPaletteAndAReloadReplacesBoth)
{
    for (uint32_t used : {0u, 2u})
        for (uint32_t infoHeader : {40u, 108u}) { // the palette follows the longer header
            BmpImage img = picture(6, 4, 8);
            img.coloursUsed = used;
            for (uint32_t i = 0; i < (used ? used : 256); ++i) // 0 means the full 256
                img.palette.insert(img.palette.end(), {uint8_t(i), uint8_t(255 - i), uint8_t(i / 2), 0});
            img.infoHeaderSize = infoHeader;
            Bitmap b;
            ASSERT_EQ(load(b, encodeBmp(img)), 1);
            EXPECT_EQ(b.m_channels, 1);
            ASSERT_EQ(b.m_palette_size * 4, int(img.palette.size()));
            EXPECT_EQ(std::vector<uint8_t>(b.m_palette, b.m_palette + img.palette.size()), img.palette);
            EXPECT_EQ(pixelsOf(b), img.pixels);
            ASSERT_EQ(load(b, encodeBmp(kPreloaded)), 1);
            EXPECT_TRUE(b.m_palette == nullptr && b.m_palette_size == 0); // the old palette does not linger
            expectPreloaded(b, "reload");
        }
}

TEST(BmpLayout, ResolutionGivesThePictureExtentInMetres)
{
    BmpImage img = picture(4, 8, 24);
    img.xPixelsPerMetre = 2;
    img.yPixelsPerMetre = 0;
    Bitmap b;
    b.setSpacing(1, 7, 1, 1);
    ASSERT_EQ(load(b, encodeBmp(img)), 1);
    EXPECT_EQ(b.m_spacing[0], 2.0f); // 4 pixels / 2 pixels per metre
    EXPECT_EQ(b.m_spacing[1], 7.0f); // no resolution: spacing kept
    img.yPixelsPerMetre = 3;
    ASSERT_EQ(load(b, encodeBmp(img)), 1);
    EXPECT_FLOAT_EQ(b.m_spacing[1], 8.0f / 3.0f);
}

TEST(BmpFiles, LoadsFromAPathAndRefusesMissingOrNullPaths)
{
    TempDir dir;
    ASSERT_TRUE(filewriters::writeFile(dir.path("p.bmp"), encodeBmp(kPreloaded)));
    Bitmap b;
    const std::string missing = dir.path("nope.bmp");
    for (const char* path : {missing.c_str(), static_cast<const char*>(nullptr), dir.root().c_str()})
        EXPECT_EQ(b.load(path), -1); // a folder is no picture either
    EXPECT_TRUE(b.m_image_size == 0 && b.getData() == nullptr && b.m_dim[0] == 0);
    ASSERT_EQ(b.load(dir.path("p.bmp").c_str()), 1);
    expectPreloaded(b, "from disk");
}

// Refused files leave the image as it was (an unsupported depth changes m_bits
// only), before anything of the claimed size is allocated.
TEST(BmpUntrusted, RefusalsLeaveTheImageAlone)
{
    const int64_t floor = int64_t(Bitmap::kLoadFloorMiB) << 20, per = Bitmap::kLoadBytesPerFileByte;
    const Bytes plain = encodeBmp(picture(2, 2, 24));
    const struct Case {
        std::string what;
        Bytes file;
        bool piped = false;
        int bits = 24;
    } cases[] = {
        {"signature", encodeBmp(picture(2, 2, 24, [](BmpImage& i) { i.signature = 0x4142; }))},
        {"1 bit", encodeBmp(picture(8, 2, 1)), false, 1},
        {"2 bits", encodeBmp(picture(8, 2, 2)), false, 2},
        {"4 bits", encodeBmp(picture(8, 2, 4)), false, 4},
        {"12 bits", encodeBmp(picture(8, 2, 12)), false, 12},
        {"0 bits", encodeBmp(picture(8, 2, 0)), false, 0},
        {"run lengths", encodeBmp(picture(4, 4, 8, [](BmpImage& i) { i.compression = 1; }))},
        {"4-bit run lengths", encodeBmp(picture(4, 4, 4, [](BmpImage& i) { i.compression = 2; }))},
        {"jpeg", encodeBmp(picture(4, 4, 24, [](BmpImage& i) { i.compression = 4; }))},
        {"png", encodeBmp(picture(4, 4, 24, [](BmpImage& i) { i.compression = 5; }))},
        {"compression 99", encodeBmp(picture(4, 4, 24, [](BmpImage& i) { i.compression = 99; }))},
        {"core header", encodeBmp(picture(2, 2, 24, [](BmpImage& i) { i.infoHeaderSize = 12; }))},
        {"palette", encodeBmp(picture(2, 2, 8, [](BmpImage& i) { i.coloursUsed = 0xFFFFFFFF; }))},
        {"cut to 0", Bytes(plain.begin(), plain.begin())},
        {"cut to 2", Bytes(plain.begin(), plain.begin() + 2)},
        {"cut to 20", Bytes(plain.begin(), plain.begin() + 20)},
        {"cut to 53", Bytes(plain.begin(), plain.begin() + 53)},
        // Extents whose element count does not fit 32 bits, claimed in a header alone.
        {"2^32", header(65536, 65536, 8)},
        {"4.8e9", header(40000, 40000, 24)},
        {"2^31", header(1 << 30, 2, 8)},
        {"height INT32_MIN", header(2, INT32_MIN, 24)},
        {"negative width", header(-4, 4, 24)},
        {"INT32_MAX wide", header(INT32_MAX, 1, 16)},
        {"INT32_MAX wide, no rows", header(INT32_MAX, 0, 24)}, // a row longer than 32 bits can count
        {"beyond 64 bits", header(INT32_MAX, INT32_MAX, 255)},
        {"beyond 64 bits top-down", header(INT32_MAX, -INT32_MAX, 65535)},
        // The pixel buffer may take max(floor, 4 x file size) bytes.
        {"2.1 GB", header(23000, 23000, 32)},
        {"a row above the floor", header(2048, 2049, 32)},
        {"under a quarter", header(2048, 2049, 32, size_t((floor + 8192) / per - 1), 0x5A)},
        {"a pipe gets the floor alone", encodeBmp(picture(2048, 2049, 32, [](BmpImage& i) { i.pixels.clear(); })), true},
        // The pixel offset past the end of the file, seekable or not.
        {"offset + 1", encodeBmp(picture(2, 2, 24, [&](BmpImage& i) { i.pixelDataOffset = uint32_t(plain.size() + 1); }))},
        {"offset + 1 piped", encodeBmp(picture(2, 2, 24, [&](BmpImage& i) { i.pixelDataOffset = uint32_t(plain.size() + 1); })), true},
        {"offset 2^31 - 1", encodeBmp(picture(2, 2, 24, [](BmpImage& i) { i.pixelDataOffset = 0x7FFFFFFF; }))},
        {"offset 2^32 - 1 piped", encodeBmp(picture(2, 2, 24, [](BmpImage& i) { i.pixelDataOffset = 0xFFFFFFFF; })), true},
    };
    for (const Case& c : cases) {
        Bitmap b;
        ASSERT_EQ(load(b, encodeBmp(kPreloaded)), 1);
        EXPECT_EQ(load(b, c.file, c.piped), -1) << c.what;
        EXPECT_EQ(b.m_bits, c.bits) << c.what;
        expectPreloaded(b, c.what);
    }
}

// Bytes that the file does not hold read as 0.
TEST(BmpUntrusted, ShortFilesLoadWhatTheyHold)
{
    const int64_t floor = int64_t(Bitmap::kLoadFloorMiB) << 20, per = Bitmap::kLoadBytesPerFileByte;
    const BmpImage img = picture(4, 3, 24); // file rows of 12 bytes, no padding
    Bytes part = encodeBmp(img);
    part.resize(54 + 12 + 6); // the bottom file row and half the middle one
    Bytes expected(36, 0);
    std::copy(img.pixels.begin() + 12, img.pixels.begin() + 18, expected.begin() + 12);
    std::copy(img.pixels.begin() + 24, img.pixels.end(), expected.begin() + 24);
    const Bytes plain = encodeBmp(picture(2, 2, 24));
    const size_t quarter = size_t((floor + 8192) / per);
    Bytes held(size_t(2048) * 2049 * 4, 0); // the bottom rows of a file cut to a quarter of its pixels
    for (size_t k = 0; k + 54 < quarter; ++k)
        held[(2048 - k / 8192) * 8192 + k % 8192] = 0x5A;
    const struct Case {
        std::string what;
        Bytes file, pixels;
        bool piped = false;
    } cases[] = {
        {"cut rows", part, expected},
        {"offset at the end", encodeBmp(picture(2, 2, 24, [&](BmpImage& i) { i.pixelDataOffset = uint32_t(plain.size()); })), Bytes(12, 0)},
        {"offset at the end piped", encodeBmp(picture(2, 2, 24, [&](BmpImage& i) { i.pixelDataOffset = uint32_t(plain.size()); })), Bytes(12, 0), true},
        {"exactly the floor", header(2048, 2048, 32), Bytes(size_t(2048) * 2048 * 4, 0)},
        {"a quarter is enough", header(2048, 2049, 32, quarter, 0x5A), held},
    };
    for (const Case& c : cases) {
        Bitmap b;
        ASSERT_EQ(load(b, c.file, c.piped), 1) << c.what;
        EXPECT_TRUE(pixelsOf(b) == c.pixels) << c.what;
    }
    // A palette cut short: the missing entries read as 0, and so do the pixels.
    // (With its true offset the pixels of such a file would start past its end.)
    BmpImage indexed = picture(2, 2, 8);
    indexed.coloursUsed = 4;
    indexed.palette = {1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4};
    indexed.pixelDataOffset = 0;
    Bytes cut = encodeBmp(indexed);
    cut.resize(54 + 6);
    Bitmap p;
    ASSERT_EQ(load(p, cut), 1);
    ASSERT_EQ(p.m_palette_size, 4);
    EXPECT_EQ(std::vector<uint8_t>(p.m_palette, p.m_palette + 16), Bytes({1, 1, 1, 1, 2, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(pixelsOf(p), Bytes(4, 0));
}

TEST(BmpUntrusted, NoExceptionEscapes)
{
    Bytes cut = encodeBmp(picture(4, 4, 24));
    cut.resize(70);
    const struct Case {
        std::ios::iostate exceptions;
        bool failing;
        int result;
    } cases[] = {
        {std::ios::failbit | std::ios::badbit | std::ios::eofbit, false, -1}, // the short file throws at its end
        {std::ios::goodbit, false, 1},                                         // the same file reads zeros
        {std::ios::badbit, true, -1},                                          // the error is rethrown
        {std::ios::goodbit, true, -1},                                         // the error only sets badbit
    };
    for (const Case& c : cases) {
        PipeBuffer plain(cut);
        FailingBuffer failing(Bytes(cut.begin(), cut.begin() + 20));
        std::istream in(c.failing ? static_cast<std::streambuf*>(&failing) : &plain);
        in.exceptions(c.exceptions);
        Bitmap b;
        ASSERT_EQ(load(b, encodeBmp(kPreloaded)), 1);
        int result = 0;
        EXPECT_NO_THROW(result = b.load(in));
        EXPECT_EQ(result, c.result) << c.exceptions << " " << c.failing;
        if (c.result == -1)
            expectPreloaded(b, "exceptions");
    }
}
