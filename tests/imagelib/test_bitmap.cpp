// BMP loading: layouts the format allows, and files that lie about themselves.
#include <imagebase>

#include "tempdir.h"
#include "filewriters/bmpwriter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <stdexcept>
#include <streambuf>
#include <vector>

using namespace Lumen;
using filewriters::BmpImage;
using filewriters::Bytes;
using filewriters::encodeBmp;

namespace {

// Pixel bytes that differ from row to row and column to column.
Bytes pattern(int width, int height, int bytesPerPixel, int seed = 1)
{
    Bytes b(size_t(width) * height * bytesPerPixel);
    for (size_t i = 0; i < b.size(); ++i)
        b[i] = uint8_t((i * 7 + seed * 13 + i / 5) & 0xFF);
    return b;
}

BmpImage picture(int width, int height, uint16_t bits, int seed = 1)
{
    BmpImage img;
    img.width = width;
    img.height = height;
    img.bitsPerPixel = bits;
    img.pixels = pattern(width, height < 0 ? -height : height, bits / 8, seed);
    img.padByte = 0xEE;
    return img;
}

int loadBytes(Bitmap& b, const Bytes& file)
{
    std::istringstream in(std::string(file.begin(), file.end()));
    return b.load(in);
}

// Expects the bitmap to hold `pixels` (rows top first, packed).
void expectPixels(const Bitmap& b, const Bytes& pixels)
{
    ASSERT_EQ(size_t(b.m_image_size), pixels.size());
    ASSERT_NE(b.getData(), nullptr);
    EXPECT_EQ(std::memcmp(b.getData(), pixels.data(), pixels.size()), 0);
}

// A bitmap already holding a 3 x 2 picture, to see that refusals leave it alone.
void preload(Bitmap& b)
{
    ASSERT_EQ(loadBytes(b, encodeBmp(picture(3, 2, 24, 9))), 1);
}

void expectPreloaded(const Bitmap& b)
{
    EXPECT_EQ(b.m_dim[0], 3);
    EXPECT_EQ(b.m_dim[1], 2);
    EXPECT_EQ(b.m_channels, 3);
    expectPixels(b, pattern(3, 2, 3, 9));
}

} // namespace

// --- layouts -------------------------------------------------------------------

TEST(BmpLayout, BottomUp24BitDropsPaddingAndPutsTopRowFirst)
{
    // 2 x 2 pixels: file rows of 8 bytes (6 pixel bytes, 2 padding bytes).
    BmpImage img = picture(2, 2, 24);
    const Bytes file = encodeBmp(img);
    ASSERT_EQ(file.size(), 54u + 16u);
    Bitmap b;
    ASSERT_EQ(loadBytes(b, file), 1);
    EXPECT_EQ(b.m_dim[0], 2);
    EXPECT_EQ(b.m_dim[1], 2);
    EXPECT_EQ(b.m_dim[2], 1);
    EXPECT_EQ(b.m_dim[3], 1);
    EXPECT_EQ(b.m_channels, 3);
    EXPECT_EQ(b.m_stride, 6);
    EXPECT_EQ(b.m_bits, 24);
    EXPECT_EQ(b.m_palette, nullptr);
    // Image row 0 is the file's second row (the top of a bottom-up picture).
    EXPECT_EQ(std::memcmp(b.getData(), file.data() + 54 + 8, 6), 0);
    EXPECT_EQ(std::memcmp(b.getData() + 6, file.data() + 54, 6), 0);
    for (int i = 0; i < b.m_image_size; ++i)
        EXPECT_NE(b.getData()[i], 0xEE) << "padding byte at " << i;
    expectPixels(b, img.pixels);
}

TEST(BmpLayout, TopDownGivesTheSameImage)
{
    Bitmap up, down;
    ASSERT_EQ(loadBytes(up, encodeBmp(picture(5, 3, 24))), 1);
    ASSERT_EQ(loadBytes(down, encodeBmp(picture(5, -3, 24))), 1);
    EXPECT_EQ(down.m_dim[1], 3);
    expectPixels(down, pattern(5, 3, 3));
    expectPixels(up, pattern(5, 3, 3));
}

TEST(BmpLayout, ChannelsKeepFileByteOrder)
{
    BmpImage img;
    img.width = 1;
    img.height = 1;
    img.pixels = {10, 20, 30};
    Bitmap b;
    ASSERT_EQ(loadBytes(b, encodeBmp(img)), 1);
    EXPECT_EQ(b.at(0, 0, 0, 0, 0), 10); // blue
    EXPECT_EQ(b.at(0, 0, 0, 0, 1), 20); // green
    EXPECT_EQ(b.at(0, 0, 0, 0, 2), 30); // red
}

TEST(BmpLayout, ChannelCountFollowsDepth)
{
    struct Case { uint16_t bits; int channels; };
    const Case cases[] = {{16, 2}, {24, 3}, {32, 4}, {48, 6}};
    for (const Case& c : cases) {
        BmpImage img = picture(7, 5, c.bits);
        Bitmap b;
        ASSERT_EQ(loadBytes(b, encodeBmp(img)), 1) << c.bits;
        EXPECT_EQ(b.m_channels, c.channels);
        EXPECT_EQ(b.m_bits, c.bits);
        EXPECT_EQ(b.m_stride, 7 * c.channels);
        expectPixels(b, img.pixels);
    }
    // A depth that is not a whole number of bytes keeps the first bytes of
    // each pixel: 20 bits give 2 channels, file rows of ceil(140 / 32) * 4 bytes.
    BmpImage odd;
    odd.width = 7;
    odd.height = 2;
    odd.bitsPerPixel = 20;
    odd.pixels = pattern(7, 2, 2); // the writer packs 17 bytes a row: rows of 20
    const Bytes file = encodeBmp(odd);
    Bitmap b;
    ASSERT_EQ(loadBytes(b, file), 1);
    EXPECT_EQ(b.m_channels, 2);
    EXPECT_EQ(std::memcmp(b.getData(), file.data() + 54 + 20, 14), 0);
    EXPECT_EQ(std::memcmp(b.getData() + 14, file.data() + 54, 14), 0);
}

TEST(BmpLayout, EightBitKeepsIndicesAndPalette)
{
    BmpImage img = picture(6, 4, 8);
    for (int i = 0; i < 256; ++i)
        img.palette.insert(img.palette.end(), {uint8_t(i), uint8_t(255 - i), uint8_t(i / 2), 0});
    Bitmap b;
    ASSERT_EQ(loadBytes(b, encodeBmp(img)), 1);
    EXPECT_EQ(b.m_channels, 1);
    EXPECT_EQ(b.m_bits, 8);
    EXPECT_EQ(b.m_palette_size, 256); // colours used 0 means the full 256
    ASSERT_NE(b.m_palette, nullptr);
    EXPECT_EQ(std::memcmp(b.m_palette, img.palette.data(), 1024), 0);
    expectPixels(b, img.pixels);
}

TEST(BmpLayout, EightBitWithColoursUsed)
{
    BmpImage img = picture(3, 3, 8);
    img.coloursUsed = 2;
    img.palette = {1, 2, 3, 0, 4, 5, 6, 0};
    Bitmap b;
    ASSERT_EQ(loadBytes(b, encodeBmp(img)), 1);
    EXPECT_EQ(b.m_palette_size, 2);
    EXPECT_EQ(std::memcmp(b.m_palette, img.palette.data(), 8), 0);
    expectPixels(b, img.pixels); // the pixels follow the 2-entry palette
}

TEST(BmpLayout, ResolutionGivesPictureExtentInMetres)
{
    BmpImage img = picture(4, 8, 24);
    img.xPixelsPerMetre = 2;
    img.yPixelsPerMetre = 0;
    Bitmap b;
    b.setSpacing(1, 7, 1, 1);
    ASSERT_EQ(loadBytes(b, encodeBmp(img)), 1);
    EXPECT_EQ(b.m_spacing[0], 2.0f); // 4 pixels / 2 pixels per metre
    EXPECT_EQ(b.m_spacing[1], 7.0f); // no resolution: spacing kept

    img.yPixelsPerMetre = 3;
    ASSERT_EQ(loadBytes(b, encodeBmp(img)), 1);
    EXPECT_FLOAT_EQ(b.m_spacing[1], 8.0f / 3.0f);
}

TEST(BmpLayout, OddWidthsAndLargerPictures)
{
    for (int w : {1, 2, 3, 5, 13, 64, 333}) {
        for (int h : {1, 2, 7, -7}) {
            BmpImage img = picture(w, h, 24, w + h);
            Bitmap b;
            ASSERT_EQ(loadBytes(b, encodeBmp(img)), 1) << w << "x" << h;
            expectPixels(b, img.pixels);
        }
    }
}

TEST(BmpLayout, ReloadReplacesImageAndPalette)
{
    Bitmap b;
    BmpImage indexed = picture(2, 2, 8);
    indexed.coloursUsed = 1;
    indexed.palette = {9, 9, 9, 0};
    ASSERT_EQ(loadBytes(b, encodeBmp(indexed)), 1);
    EXPECT_EQ(b.m_palette_size, 1);

    BmpImage colour = picture(4, 3, 24, 5);
    ASSERT_EQ(loadBytes(b, encodeBmp(colour)), 1);
    EXPECT_EQ(b.m_dim[0], 4);
    EXPECT_EQ(b.m_channels, 3);
    EXPECT_EQ(b.m_palette, nullptr); // the old file's palette does not linger
    EXPECT_EQ(b.m_palette_size, 0);
    expectPixels(b, colour.pixels);
}

TEST(BmpLayout, EmptyPicture)
{
    Bitmap b;
    ASSERT_EQ(loadBytes(b, encodeBmp(picture(0, 5, 24))), 1);
    EXPECT_EQ(b.m_image_size, 0);
    EXPECT_EQ(b.getData(), nullptr);
}

// --- files on disk -----------------------------------------------------------------

TEST(BmpFiles, LoadsFromPathAndRefusesMissingOrNull)
{
    TempDir dir;
    BmpImage img = picture(8, 8, 24);
    ASSERT_TRUE(filewriters::writeFile(dir.path("p.bmp"), encodeBmp(img)));

    Bitmap missing;
    EXPECT_EQ(missing.load(dir.path("nope.bmp").c_str()), -1);
    EXPECT_EQ(missing.m_image_size, 0);
    EXPECT_EQ(missing.getData(), nullptr);
    for (int d : missing.m_dim)
        EXPECT_EQ(d, 0);
    EXPECT_EQ(missing.load(static_cast<const char*>(nullptr)), -1);
    EXPECT_EQ(missing.load(dir.root().c_str()), -1); // a folder is no picture

    Bitmap b;
    ASSERT_EQ(b.load(dir.path("p.bmp").c_str()), 1);
    expectPixels(b, img.pixels);
}

// --- refusals leave the image as it was ----------------------------------------------

TEST(BmpRefusal, WrongSignature)
{
    Bitmap b;
    preload(b);
    BmpImage img = picture(2, 2, 24);
    img.signature = 0x4142; // "BA"
    EXPECT_EQ(loadBytes(b, encodeBmp(img)), -1);
    expectPreloaded(b);
    EXPECT_EQ(b.m_bits, 24);
}

TEST(BmpRefusal, UnsupportedDepthsChangeOnlyBits)
{
    for (uint16_t bits : {1, 4, 2, 12, 0}) {
        Bitmap b;
        preload(b);
        BmpImage img = picture(8, 2, 24);
        img.bitsPerPixel = bits;
        EXPECT_EQ(loadBytes(b, encodeBmp(img)), -1) << bits;
        EXPECT_EQ(b.m_bits, bits);
        expectPreloaded(b);
    }
}

TEST(BmpRefusal, CompressedRowsAndCoreHeaders)
{
    for (uint32_t compression : {1u, 2u, 4u, 5u, 99u}) {
        Bitmap b;
        preload(b);
        BmpImage img = picture(4, 4, compression == 2 ? 4 : 8);
        img.compression = compression;
        EXPECT_EQ(loadBytes(b, encodeBmp(img)), -1) << compression;
        expectPreloaded(b);
        EXPECT_EQ(b.m_bits, 24);
    }
    // Bit-field masks describe plain rows: such files load.
    BmpImage fields = picture(4, 4, 32);
    fields.compression = 3;
    fields.gapBeforePixels = 12; // the three masks
    Bitmap b;
    ASSERT_EQ(loadBytes(b, encodeBmp(fields)), 1);
    expectPixels(b, fields.pixels);

    Bitmap core;
    preload(core);
    BmpImage old = picture(2, 2, 24);
    old.infoHeaderSize = 12;
    Bytes file = encodeBmp(old);
    EXPECT_EQ(loadBytes(core, file), -1);
    expectPreloaded(core);
}

TEST(BmpRefusal, ExtentsBeyondThirtyTwoBits)
{
    struct Case { int32_t width, height; uint16_t bits; };
    const Case cases[] = {
        {65536, 65536, 8},         // 2^32 elements
        {40000, 40000, 24},        // 4.8e9
        {1 << 30, 2, 8},           // 2^31
        {2, INT32_MIN, 24},        // |height| does not fit
        {-4, 4, 24},               // negative width
        {INT32_MAX, 1, 16},
        {INT32_MAX, 0, 24},        // no rows, but a row longer than 32 bits can count
        {INT32_MAX, INT32_MAX, 255},      // width * rows * channels would not fit 64 bits
        {INT32_MAX, -INT32_MAX, 65535},
    };
    for (const Case& c : cases) {
        // Header and nothing else: the claim alone must be refused.
        BmpImage img;
        img.width = c.width;
        img.height = 0;
        img.bitsPerPixel = c.bits;
        Bytes header = encodeBmp(img);
        header.resize(54);
        std::memcpy(header.data() + 22, &c.height, 4);
        Bitmap b;
        preload(b);
        EXPECT_EQ(loadBytes(b, header), -1) << c.width << "x" << c.height;
        expectPreloaded(b);
    }
}

TEST(BmpRefusal, TooManyPaletteEntriesAndShortHeader)
{
    Bitmap b;
    preload(b);
    BmpImage img = picture(2, 2, 8);
    img.coloursUsed = 0xFFFFFFFF;
    EXPECT_EQ(loadBytes(b, encodeBmp(img)), -1);
    expectPreloaded(b);

    Bytes file = encodeBmp(picture(2, 2, 24));
    for (size_t cut : {0u, 2u, 20u, 53u}) {
        Bytes part(file.begin(), file.begin() + cut);
        EXPECT_EQ(loadBytes(b, part), -1) << cut;
        expectPreloaded(b);
    }
}

// --- files that lie about their pixel data ---------------------------------------------

TEST(BmpUntrusted, PixelDataSizeIsNotTrusted)
{
    for (uint32_t size : {0u, 1u, 10u, 1000000u}) {
        BmpImage img = picture(5, 4, 24);
        img.pixelDataSize = size;
        Bitmap b;
        ASSERT_EQ(loadBytes(b, encodeBmp(img)), 1) << size;
        expectPixels(b, img.pixels);
    }
}

TEST(BmpUntrusted, FileEndingEarlyReadsZeros)
{
    BmpImage img = picture(4, 3, 24); // file rows of 12 bytes, no padding
    Bytes file = encodeBmp(img);
    // Keep the bottom file row and half of the middle one.
    file.resize(54 + 12 + 6);
    Bitmap b;
    ASSERT_EQ(loadBytes(b, file), 1);
    Bytes expected(36, 0);
    std::memcpy(expected.data() + 24, img.pixels.data() + 24, 12);  // bottom row
    std::memcpy(expected.data() + 12, img.pixels.data() + 12, 6);   // half the middle row
    expectPixels(b, expected);

    // A palette cut short: the missing entries read as 0, the pixels as 0. (With
    // its true offset the pixels of such a file would start past its end.)
    BmpImage indexed = picture(2, 2, 8);
    indexed.coloursUsed = 4;
    indexed.palette = {1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4};
    indexed.pixelDataOffset = 0;
    Bytes cut = encodeBmp(indexed);
    cut.resize(54 + 6);
    Bitmap p;
    ASSERT_EQ(loadBytes(p, cut), 1);
    ASSERT_EQ(p.m_palette_size, 4);
    const uint8_t palette[16] = {1, 1, 1, 1, 2, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(std::memcmp(p.m_palette, palette, 16), 0);
    expectPixels(p, Bytes(4, 0));
}

TEST(BmpUntrusted, PixelOffsetBeyondHeadersIsHonoured)
{
    // A V5 information header (124 bytes) and a gap before the pixels.
    BmpImage img = picture(6, 5, 24);
    img.infoHeaderSize = 124;
    img.gapBeforePixels = 10;
    Bitmap b;
    ASSERT_EQ(loadBytes(b, encodeBmp(img)), 1);
    expectPixels(b, img.pixels);

    // An 8-bit file with a V5 header: the palette follows the longer header.
    BmpImage indexed = picture(3, 2, 8);
    indexed.infoHeaderSize = 108;
    indexed.coloursUsed = 2;
    indexed.palette = {7, 8, 9, 0, 10, 11, 12, 0};
    Bitmap p;
    ASSERT_EQ(loadBytes(p, encodeBmp(indexed)), 1);
    EXPECT_EQ(std::memcmp(p.m_palette, indexed.palette.data(), 8), 0);
    expectPixels(p, indexed.pixels);

    // An offset inside the headers is ignored: pixels follow the headers.
    BmpImage early = picture(2, 2, 24);
    early.pixelDataOffset = 20;
    Bitmap e;
    ASSERT_EQ(loadBytes(e, encodeBmp(early)), 1);
    expectPixels(e, early.pixels);

}

// A stream that cannot seek, like a pipe: the loader cannot learn its length.
class PipeBuffer : public std::streambuf {
public:
    explicit PipeBuffer(const Bytes& bytes)
        : m_bytes(bytes.begin(), bytes.end())
    {
        setg(m_bytes.data(), m_bytes.data(), m_bytes.data() + m_bytes.size());
    }

private:
    std::vector<char> m_bytes;
};

TEST(BmpUntrusted, PixelOffsetPastTheEndIsRefused)
{
    const Bytes plain = encodeBmp(picture(2, 2, 24));
    const uint32_t size = uint32_t(plain.size());
    const struct Case {
        uint32_t offset;
        int result; // 1: loads as zeros (no pixel byte left)
    } cases[] = {{size + 1, -1}, {0x7FFFFFFF, -1}, {0xFFFFFFFF, -1}, {size, 1}};
    for (const Case& c : cases)
        for (bool seekable : {true, false}) {
            BmpImage img = picture(2, 2, 24);
            img.pixelDataOffset = c.offset;
            const Bytes file = encodeBmp(img);
            Bitmap b;
            preload(b);
            std::istringstream stream(std::string(file.begin(), file.end()));
            PipeBuffer pipe(file);
            std::istream piped(&pipe);
            EXPECT_EQ(b.load(seekable ? stream : piped), c.result) << c.offset << (seekable ? "" : " piped");
            if (c.result == 1)
                expectPixels(b, Bytes(12, 0));
            else
                expectPreloaded(b);
        }
}

// The pixel buffer may take max(floor, 4 x file size) bytes: claims beyond
// that are refused before anything is allocated.
TEST(BmpUntrusted, MemoryIsBoundedByTheFileSize)
{
    const int64_t floor = int64_t(Bitmap::kLoadFloorMiB) << 20;
    const int per = Bitmap::kLoadBytesPerFileByte;
    const struct Case {
        int32_t width, height;
        int64_t fileBytes; // the file is cut (or zero-padded) to this size
        int result;
    } cases[] = {
        {23000, 23000, 54, -1},                   // 2.1 GB claimed in a header
        {2048, 2048, 54, 1},                      // 32-bit pixels: exactly the floor
        {2048, 2049, 54, -1},                     // one row more
        {2048, 2049, (floor + 8192) / per, 1},    // a quarter of the pixel bytes is enough
        {2048, 2049, (floor + 8192) / per - 1, -1},
    };
    for (const Case& c : cases) {
        BmpImage img;
        img.width = c.width;
        img.height = 1;
        img.bitsPerPixel = 32;
        Bytes file = encodeBmp(img);
        file.resize(54);
        file.resize(size_t(c.fileBytes), 0x5A);
        std::memcpy(file.data() + 22, &c.height, 4);
        Bitmap b;
        preload(b);
        EXPECT_EQ(loadBytes(b, file), c.result) << c.width << "x" << c.height << " in " << c.fileBytes;
        if (c.result == 1) {
            EXPECT_EQ(b.m_image_size, int64_t(c.width) * c.height * 4);
            const int64_t held = c.fileBytes - 54; // the bottom rows; the rest reads as 0
            EXPECT_EQ(b.getData()[size_t(b.m_image_size) - 1], held > 0 ? 0x5A : 0);
            EXPECT_EQ(b.getData()[0], 0);
        } else {
            expectPreloaded(b);
        }
    }
    // A stream that cannot tell its length gets the floor alone.
    BmpImage img = picture(2048, 2049, 32);
    img.pixels.clear();
    const Bytes file = encodeBmp(img);
    PipeBuffer pipe(file);
    std::istream piped(&pipe);
    Bitmap b;
    preload(b);
    EXPECT_EQ(b.load(piped), -1);
    expectPreloaded(b);
}

// A streambuf that fails while reading, like a disk error.
class FailingBuffer : public PipeBuffer {
public:
    using PipeBuffer::PipeBuffer;

protected:
    int_type underflow() override { throw std::runtime_error("read error"); }
};

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
        preload(b);
        int result = 0;
        EXPECT_NO_THROW(result = b.load(in));
        EXPECT_EQ(result, c.result) << c.exceptions << " " << c.failing;
        if (c.result == -1)
            expectPreloaded(b);
    }
}
