// BMP loading: layouts the format allows, and files that lie about themselves.
#include "imageops_support.h"
#include "tempdir.h"
#include "filewriters/bmpwriter.h"

#include <functional>
#include <stdexcept>

using namespace Lumen;
using filewriters::BmpImage;
using filewriters::Bytes;
using filewriters::encodeBmp;

namespace {

// A picture whose pixel bytes differ from row to row and column to column.
BmpImage picture(int width, int height, uint16_t bits, const std::function<void(BmpImage&)>& tweak = {})
{
    BmpImage img;
    img.width = width, img.height = height, img.bitsPerPixel = bits, img.padByte = 0xEE;
    img.pixels.resize(size_t(width) * std::abs(height) * ((bits + 7) / 8));
    for (size_t i = 0; i < img.pixels.size(); ++i)
        img.pixels[i] = uint8_t((i * 7 + width * 13 + i / 5) & 0xFF);
    if (tweak)
        tweak(img);
    return img;
}
Bytes bmp(int width, int height, uint16_t bits, const std::function<void(BmpImage&)>& tweak = {})
{
    return encodeBmp(picture(width, height, bits, tweak));
}

// A stream that cannot seek, like a pipe (the loader cannot learn its length),
// and that may fail while reading, like a disk error; `mask` sets which
// failures throw.
using Buffer = std::streambuf;
struct Pipe : Buffer, std::istream {
    Pipe(const Bytes& bytes, bool failing, std::ios::iostate mask) : std::istream(this), failing(failing)
    {
        char* data = reinterpret_cast<char*>(const_cast<uint8_t*>(bytes.data())); // only ever read
        setg(data, data, data + bytes.size());
        exceptions(mask);
    }
    Buffer::int_type underflow() override
    {
        return failing ? throw std::runtime_error("read error") : Buffer::traits_type::eof();
    }
    bool failing;
};

// Seekable, a pipe, a pipe that throws at the end of the data, one that fails
// while reading, and one that rethrows that failure.
enum Stream { Seekable, Piped, Throwing, Failing, Rethrowing };

int load(Bitmap& b, const Bytes& file, Stream kind = Seekable)
{
    std::istringstream seekable(std::string(file.begin(), file.end()));
    Pipe pipe(file, kind >= Failing,
        kind == Throwing ? std::ios::failbit | std::ios::badbit | std::ios::eofbit
            : kind == Rethrowing ? std::ios::badbit : std::ios::goodbit);
    int result = 0;
    EXPECT_NO_THROW(result = b.load(kind == Seekable ? static_cast<std::istream&>(seekable) : pipe));
    return result;
}

Bytes pixelsOf(const Bitmap& b) { return b.getData() ? Bytes(b.getData(), b.getData() + b.m_image_size) : Bytes(); }

// A bitmap already holding a 3 x 2 picture, to see that refusals leave it alone.
const BmpImage kPreloaded = picture(3, 2, 24);
void expectPreloaded(const Bitmap& b)
{
    EXPECT_TRUE(b.m_dim[0] == 3 && b.m_dim[1] == 2 && b.m_channels == 3 && pixelsOf(b) == kPreloaded.pixels
        && b.m_palette == nullptr && b.m_palette_size == 0);
}

// A header claiming width x height and nothing else, cut or padded with `fill` to `size` bytes.
Bytes header(int32_t width, int32_t height, uint16_t bits, size_t size = 54, uint8_t fill = 0)
{
    Bytes file = bmp(width, 0, bits); // 54 bytes: no pixel rows, no palette
    file.resize(size, fill);
    std::memcpy(file.data() + 22, &height, 4);
    return file;
}
Bytes withOffset(uint32_t offset) { return bmp(2, 2, 24, [&](BmpImage& i) { i.pixelDataOffset = offset; }); }

const int64_t kQuarter = ((int64_t(Bitmap::kLoadFloorMiB) << 20) + 8192) / Bitmap::kLoadBytesPerFileByte;

} // namespace

// A resolution r sets the spacing to extent / r; none (0) keeps it. The path
// overload refuses missing files, null paths and folders.
TEST(BmpFiles, ResolutionAndPaths)
{
    TempDir dir;
    ASSERT_TRUE(filewriters::writeFile(dir.path("p.bmp"), bmp(4, 8, 24, [](BmpImage& i) { i.xPixelsPerMetre = 0; })));
    const std::string missing = dir.path("nope.bmp");
    Bitmap b;
    b.setSpacing(7, 1, 1, 1);
    for (const char* path : {missing.c_str(), static_cast<const char*>(nullptr), dir.root().c_str()})
        EXPECT_EQ(b.load(path), -1);
    ASSERT_EQ(b.load(dir.path("p.bmp").c_str()), 1);
    EXPECT_EQ(std::vector<float>(b.m_spacing, b.m_spacing + 2), std::vector<float>({7, 8.0f / 2835.0f}));
}

// Row 0 is the top row whatever the row order, pixel bytes stay as stored
// (padding dropped), extents and channels (bits / 8; a depth that is no whole
// number of bytes keeps the first bytes of each pixel) are those of the header,
// and fields that do not describe the pixel rows are not trusted. An 8-bit file
// keeps its palette, which follows the longer headers too (0 colours used means
// the full 256); a later load replaces it. Bytes that the file does not hold
// read as 0. Refused files (-1) leave the image as it was (an unsupported depth
// changes m_bits only), before anything of the claimed size is allocated.
TEST(BmpFiles, LoadByTheRulesOrAreRefusedLeavingTheImageAlone)
{
    struct Case {
        std::string what;
        Bytes file;
        Stream stream = Seekable;
        int bits = 24, result = -1; // m_bits after, load's result
        Bytes pixels = {}, palette = {};
    };
    std::vector<Case> cases;
    const auto loads = [&](const BmpImage& img) {
        Bytes expected;
        const auto row = [&](int y) { return img.pixels.begin() + y * (img.width * img.bitsPerPixel / 8); };
        for (int y = 0; y < std::abs(img.height) && img.width; ++y)
            expected.insert(expected.end(), row(y), row(y) + img.width * (img.bitsPerPixel / 8));
        cases.push_back({"picture " + std::to_string(cases.size()), encodeBmp(img), Seekable, img.bitsPerPixel, 1,
            expected, img.palette});
    };
    for (const BmpImage& img : {picture(2, 2, 16), picture(7, 5, 32), picture(7, 5, 48), picture(7, 2, 20),
             picture(0, 5, 24), picture(4, 4, 32, [](BmpImage& i) { i.compression = 3, i.gapBeforePixels = 12; }),
             picture(6, 5, 24, [](BmpImage& i) { i.infoHeaderSize = 124, i.gapBeforePixels = 10; }),
             picture(2, 2, 24, [](BmpImage& i) { i.pixelDataOffset = 20; })}) // inside the headers: ignored
        loads(img);
    for (int w : {1, 2, 3, 5, 13, 64, 333})
        for (int h : {1, 2, 7, -7})
            loads(picture(w, h, 24));
    for (uint32_t size : {0u, 1u, 10u, 1000000u})
        loads(picture(5, 4, 24, [size](BmpImage& i) { i.pixelDataSize = size; }));
    for (uint32_t used : {0u, 2u})
        for (uint32_t infoHeader : {40u, 108u})
            loads(picture(6, 4, 8, [&](BmpImage& i) {
                i.coloursUsed = used, i.infoHeaderSize = infoHeader;
                for (uint32_t n = 0; n < (used ? used : 256); ++n)
                    i.palette.insert(i.palette.end(), {uint8_t(n), uint8_t(255 - n), uint8_t(n / 2), 0});
            }));
    const BmpImage img = picture(4, 3, 24); // file rows of 12 bytes, no padding
    Bytes part = encodeBmp(img), expected(36, 0), held(size_t(2048) * 2049 * 4, 0), cut = bmp(4, 4, 24);
    part.resize(54 + 12 + 6); // the bottom file row and half the middle one
    cut.resize(70);
    std::copy(img.pixels.begin() + 12, img.pixels.begin() + 18, expected.begin() + 12);
    std::copy(img.pixels.begin() + 24, img.pixels.end(), expected.begin() + 24);
    // A file cut to a quarter of its pixels holds the bottom rows and the start of one more.
    const int64_t rows = (kQuarter - 54) / 8192, rest = (kQuarter - 54) % 8192;
    std::fill(held.end() - rows * 8192, held.end(), 0x5A);
    std::fill_n(held.end() - (rows + 1) * 8192, rest, 0x5A);
    // A palette cut short: the missing entries read as 0, and so do the pixels.
    // (With its true offset the pixels of such a file would start past its end.)
    Bytes palette = bmp(2, 2, 8, [](BmpImage& i) {
        i.coloursUsed = 4, i.pixelDataOffset = 0, i.palette = {1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4};
    });
    palette.resize(54 + 6);
    const Bytes plain = bmp(2, 2, 24), failing(cut.begin(), cut.begin() + 20);
    cases.insert(cases.end(), {{"signature", bmp(2, 2, 24, [](BmpImage& i) { i.signature = 0x4142; })},
        {"core header", bmp(2, 2, 24, [](BmpImage& i) { i.infoHeaderSize = 12; })},
        {"palette", bmp(2, 2, 8, [](BmpImage& i) { i.coloursUsed = 0xFFFFFFFF; })},
        // The pixel buffer may take max(floor, 4 x file size) bytes.
        {"2.1 GB", header(23000, 23000, 32)}, {"a row above the floor", header(2048, 2049, 32)},
        {"under a quarter", header(2048, 2049, 32, size_t(kQuarter - 1), 0x5A)},
        {"a pipe gets the floor alone", header(2048, 2049, 32, 54 + 2048 * 2049 * 4), Piped},
        {"offset + 1", withOffset(uint32_t(plain.size() + 1))},
        {"offset + 1 piped", withOffset(uint32_t(plain.size() + 1)), Piped},
        {"offset 2^31 - 1", withOffset(0x7FFFFFFF)}, {"offset 2^32 - 1 piped", withOffset(0xFFFFFFFF), Piped},
        // No exception escapes: a throwing or failing stream is a refusal.
        {"throws at its end", cut, Throwing}, {"fails", failing, Failing}, {"rethrows", failing, Rethrowing},
        {"cut rows", part, Seekable, 24, 1, expected}, {"cut rows piped", part, Piped, 24, 1, expected},
        {"offset at the end", withOffset(uint32_t(plain.size())), Seekable, 24, 1, Bytes(12, 0)},
        {"offset at the end piped", withOffset(uint32_t(plain.size())), Piped, 24, 1, Bytes(12, 0)},
        {"exactly the floor", header(2048, 2048, 32), Seekable, 32, 1, Bytes(size_t(2048) * 2048 * 4, 0)},
        {"a quarter is enough", header(2048, 2049, 32, size_t(kQuarter), 0x5A), Seekable, 32, 1, std::move(held)},
        {"cut palette", palette, Seekable, 8, 1, Bytes(4, 0), {1, 1, 1, 1, 2, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}}});
    for (uint16_t bits : {1, 2, 4, 12, 0})
        cases.push_back({"depth " + std::to_string(bits), bmp(8, 2, bits), Seekable, bits});
    for (uint32_t c : {1u, 2u, 4u, 5u, 99u}) // run lengths, JPEG, PNG, nonsense
        cases.push_back(
            {"compression " + std::to_string(c), bmp(4, 4, c == 2 ? 4 : 8, [c](BmpImage& i) { i.compression = c; })});
    for (size_t n : {0, 2, 20, 53})
        cases.push_back({"cut to " + std::to_string(n), Bytes(plain.begin(), plain.begin() + n)});
    // Extents whose element count does not fit 32 bits, claimed in a header alone.
    const int32_t huge[][3] = {{65536, 65536, 8}, {40000, 40000, 24}, {1 << 30, 2, 8}, {2, INT32_MIN, 24}, {-4, 4, 24},
        {INT32_MAX, 1, 16}, {INT32_MAX, 0, 24}, {INT32_MAX, INT32_MAX, 255}, {INT32_MAX, -INT32_MAX, 65535}};
    for (const auto& [w, h, bits] : huge)
        cases.push_back({std::to_string(w) + "x" + std::to_string(h), header(w, h, uint16_t(bits))});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bitmap b;
        ASSERT_EQ(load(b, encodeBmp(kPreloaded)), 1);
        ASSERT_EQ(load(b, c.file, c.stream), c.result);
        EXPECT_EQ(b.m_bits, c.bits);
        if (c.result > 0) {
            int32_t extent[2];
            std::memcpy(extent, c.file.data() + 18, 8);
            EXPECT_EQ(std::vector<int>({b.m_dim[0], b.m_dim[1], b.m_dim[2], b.m_dim[3], b.m_channels}),
                std::vector<int>({extent[0], std::abs(extent[1]), 1, 1, c.bits / 8}));
            EXPECT_TRUE(pixelsOf(b) == c.pixels && Bytes(b.m_palette, b.m_palette + 4 * b.m_palette_size) == c.palette);
            ASSERT_EQ(load(b, encodeBmp(kPreloaded)), 1); // replaces everything, the palette too
        }
        expectPreloaded(b);
    }
}
