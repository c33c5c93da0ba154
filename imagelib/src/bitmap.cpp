#include <imagebase>

#include "elements.h"

#include <algorithm>
#include <fstream>
#include <istream>
#include <limits>
#include <new>

namespace Lumen {

namespace {

constexpr int kHeaderBytes = 54; // 14-byte file header + 40-byte information header
constexpr int64_t kLoadFloorBytes = int64_t(Bitmap::kLoadFloorMiB) << 20;

uint16_t le16(const unsigned char* p)
{
    return uint16_t(p[0] | (p[1] << 8));
}

uint32_t le32(const unsigned char* p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

struct BmpHeader {
    uint16_t type;
    uint32_t pixelOffset;
    uint32_t infoSize;
    int32_t width;
    int32_t height;
    uint16_t bits;
    uint32_t compression;
    int32_t xResolution;
    int32_t yResolution;
    uint32_t coloursUsed;
};

BmpHeader parseHeader(const unsigned char* h)
{
    BmpHeader b;
    b.type = le16(h + 0);
    b.pixelOffset = le32(h + 10);
    b.infoSize = le32(h + 14);
    b.width = int32_t(le32(h + 18));
    b.height = int32_t(le32(h + 22));
    b.bits = le16(h + 28);
    b.compression = le32(h + 30);
    b.xResolution = int32_t(le32(h + 38));
    b.yResolution = int32_t(le32(h + 42));
    b.coloursUsed = le32(h + 46);
    return b;
}

// Reads up to n bytes; what the stream does not hold is zero-filled.
// Returns false once the stream has ended.
bool readOrZero(std::istream& in, unsigned char* dest, size_t n)
{
    size_t got = 0;
    if (in) {
        in.read(reinterpret_cast<char*>(dest), std::streamsize(n));
        got = size_t(in.gcount());
    }
    if (got < n)
        std::memset(dest + got, 0, n - got);
    return got == n;
}

// Skips n bytes; false when the stream ends before them.
bool skip(std::istream& in, uint64_t n)
{
    while (in && n > 0) {
        const auto step = std::streamsize(std::min<uint64_t>(n, uint64_t(std::numeric_limits<std::streamsize>::max())));
        in.ignore(step);
        if (in.gcount() != step)
            return false;
        n -= uint64_t(step);
    }
    return n == 0;
}

// Bytes from the stream's position to its end, or -1 when it cannot tell
// (a pipe); the position is left where it was.
int64_t remainingBytes(std::istream& in)
{
    const std::streampos here = in.tellg();
    if (here == std::streampos(-1)) {
        in.clear();
        return -1;
    }
    in.seekg(0, std::ios::end);
    const std::streampos end = in.tellg();
    in.clear();
    in.seekg(here);
    if (end == std::streampos(-1) || !in) {
        in.clear();
        return -1;
    }
    return int64_t(end - here);
}

// Compression kinds whose pixel data are plain rows: none, bit fields, alpha bit fields.
bool rawRows(uint32_t compression)
{
    return compression == 0 || compression == 3 || compression == 6;
}

} // namespace

Bitmap::Bitmap()
    : m_bits(0)
    , m_palette_size(0)
    , m_palette(nullptr)
{
    init(0, 0, 0, 0, 0);
}

Bitmap::~Bitmap()
{
    releasePalette();
}

void Bitmap::releasePalette()
{
    delete[] m_palette;
    m_palette = nullptr;
    m_palette_size = 0;
}

int Bitmap::load(const char* path)
{
    if (!path)
        return -1;
    // Nothing may escape to the caller: a stream that throws, or an allocation
    // of the standard library that fails, is a refusal like any other.
    try {
        std::ifstream in(path, std::ios::binary);
        if (!in.good())
            return -1;
        return load(in);
    } catch (...) {
        return -1;
    }
}

int Bitmap::load(std::istream& in)
{
    try {
        return read(in);
    } catch (...) {
        return -1;
    }
}

int Bitmap::read(std::istream& in)
{
    const int64_t fileBytes = remainingBytes(in);
    unsigned char raw[kHeaderBytes];
    if (!in.read(reinterpret_cast<char*>(raw), kHeaderBytes))
        return -1;
    const BmpHeader h = parseHeader(raw);
    if (h.type != 0x4D42)
        return -1;
    // A 12-byte core header lays its fields out differently; compressed rows
    // cannot be copied as they stand.
    if (h.infoSize == 12 || !rawRows(h.compression))
        return -1;
    if (h.bits != 8 && h.bits < 16) {
        m_bits = h.bits;
        return -1;
    }

    // Each factor is checked before the next product is formed, so that none
    // of them can overflow whatever the header claims.
    const int channels = h.bits == 8 ? 1 : h.bits / 8;
    const int64_t width = h.width;
    const int64_t rows = h.height < 0 ? -int64_t(h.height) : int64_t(h.height);
    if (width < 0 || rows > INT32_MAX)
        return -1;
    const int64_t stride = width * channels;
    if (stride > INT32_MAX || (rows != 0 && stride > INT32_MAX / rows))
        return -1;
    const int64_t elements = stride * rows;
    const int64_t paletteSize = h.bits == 8 ? (h.coloursUsed != 0 ? int64_t(h.coloursUsed) : 256) : 0;
    if (paletteSize > 256)
        return -1;
    // Memory in proportion to what the file can describe (see the header).
    const int64_t budget = std::max<int64_t>(kLoadFloorBytes, fileBytes > 0 ? int64_t(kLoadBytesPerFileByte) * fileBytes : 0);
    if (elements > budget)
        return -1;
    // Pixels said to start past the end of the file are not there at all.
    if (fileBytes >= 0 && h.pixelOffset > uint64_t(fileBytes))
        return -1;

    // Everything is allocated before anything is replaced, so a refusal leaves
    // the image as it was.
    struct Buffers {
        unsigned char* pixels = nullptr;
        unsigned char* palette = nullptr;
        float* window = nullptr;
        ~Buffers()
        {
            detail::freeElements(pixels);
            delete[] palette;
            delete[] window;
        }
    } owned;
    owned.pixels = elements ? detail::allocateElements<unsigned char>(size_t(elements)) : nullptr;
    owned.palette = paletteSize ? new (std::nothrow) unsigned char[size_t(paletteSize) * 4] : nullptr;
    owned.window = new (std::nothrow) float[size_t(4) * size_t(channels)]();
    if ((elements && !owned.pixels) || (paletteSize && !owned.palette) || !owned.window)
        return -1;

    uint64_t position = kHeaderBytes;
    if (paletteSize) {
        // A longer information header (V4, V5) puts the palette after itself.
        if (h.infoSize > 40 && uint64_t(14) + h.infoSize <= h.pixelOffset) {
            skip(in, h.infoSize - 40);
            position = 14 + uint64_t(h.infoSize);
        }
        readOrZero(in, owned.palette, size_t(paletteSize) * 4);
        position += uint64_t(paletteSize) * 4;
    }
    if (h.pixelOffset > position && !skip(in, h.pixelOffset - position))
        return -1;

    const int64_t fileRow = ((int64_t(h.bits) * width + 31) & ~int64_t(31)) / 8;
    int64_t i = 0;
    for (bool more = stride > 0; more && i < rows; ++i)
        more = readOrZero(in, owned.pixels + (h.height > 0 ? rows - 1 - i : i) * stride, size_t(stride))
            && skip(in, uint64_t(fileRow - stride));
    // The rows after the end of the file read as 0: one block, at the top of a
    // bottom-up picture and at the bottom of a top-down one.
    if (stride > 0 && i < rows)
        std::memset(owned.pixels + (h.height > 0 ? 0 : i * stride), 0, size_t((rows - i) * stride));

    // From here on nothing can fail.
    releaseData();
    m_external = false;
    m_data = owned.pixels;
    owned.pixels = nullptr;
    delete[] m_window;
    m_window = owned.window;
    owned.window = nullptr;
    m_channels = channels;
    m_dim[0] = int(width);
    m_dim[1] = int(rows);
    m_dim[2] = m_dim[3] = 1;
    m_stride = int(stride);
    m_slice_size = m_frame_size = m_image_size = int(elements);
    if (h.xResolution != 0)
        m_spacing[0] = float(m_dim[0]) / float(h.xResolution);
    if (h.yResolution != 0)
        m_spacing[1] = float(m_dim[1]) / float(h.yResolution);
    releasePalette();
    m_palette = owned.palette;
    owned.palette = nullptr;
    m_palette_size = int(paletteSize);
    m_bits = h.bits;
    return 1;
}

} // namespace Lumen
