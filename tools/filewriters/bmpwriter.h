// Builds Windows BMP files byte by byte: well-formed ones for assets, and
// deliberately odd or broken ones for tests (every header field can be forced).
#pragma once

#include "bytes.h"

#include <algorithm>
#include <optional>

namespace filewriters {

struct BmpImage {
    int32_t width = 0;
    int32_t height = 0;              // negative: rows stored top-down
    uint16_t bitsPerPixel = 24;
    Bytes pixels;                    // rows top first, each width * bitsPerPixel / 8 bytes, packed
    Bytes palette;                   // 4 bytes per entry: blue, green, red, reserved
    int32_t xPixelsPerMetre = 2835;
    int32_t yPixelsPerMetre = 2835;
    uint32_t coloursUsed = 0;
    uint32_t compression = 0;
    uint32_t infoHeaderSize = 40;    // sizes above 40 are padded with zero bytes
    uint32_t gapBeforePixels = 0;    // extra bytes between palette and pixel data
    uint8_t padByte = 0;             // value of the row padding bytes
    uint16_t signature = 0x4D42;
    std::optional<uint32_t> pixelDataSize;   // default: the padded rows' size
    std::optional<uint32_t> pixelDataOffset; // default: where the pixels start
};

// Bytes of one padded file row.
inline uint32_t bmpRowSize(int32_t width, uint16_t bits)
{
    return uint32_t(((uint64_t(bits) * uint32_t(width) + 31) & ~uint64_t(31)) / 8);
}

inline Bytes encodeBmp(const BmpImage& img)
{
    const uint32_t rows = uint32_t(img.height < 0 ? -int64_t(img.height) : img.height);
    const uint32_t rowBytes = uint32_t(uint64_t(img.width) * img.bitsPerPixel / 8);
    const uint32_t fileRow = bmpRowSize(img.width, img.bitsPerPixel);
    const uint32_t offset = 14 + img.infoHeaderSize + uint32_t(img.palette.size()) + img.gapBeforePixels;
    const uint32_t dataSize = fileRow * rows;

    Bytes out;
    putU16(out, img.signature);
    putU32(out, offset + dataSize);
    putU16(out, 0);
    putU16(out, 0);
    putU32(out, img.pixelDataOffset.value_or(offset));
    putU32(out, img.infoHeaderSize);
    putI32(out, img.width);
    putI32(out, img.height);
    putU16(out, 1);
    putU16(out, img.bitsPerPixel);
    putU32(out, img.compression);
    putU32(out, img.pixelDataSize.value_or(dataSize));
    putI32(out, img.xPixelsPerMetre);
    putI32(out, img.yPixelsPerMetre);
    putU32(out, img.coloursUsed);
    putU32(out, 0);
    out.resize(14 + std::max<uint32_t>(40, img.infoHeaderSize), 0);
    out.insert(out.end(), img.palette.begin(), img.palette.end());
    out.resize(out.size() + img.gapBeforePixels, 0);

    for (uint32_t i = 0; i < rows; ++i) {
        const uint32_t row = img.height > 0 ? rows - 1 - i : i; // file order
        const size_t at = size_t(row) * rowBytes;
        for (uint32_t b = 0; b < rowBytes; ++b)
            out.push_back(at + b < img.pixels.size() ? img.pixels[at + b] : 0);
        for (uint32_t b = rowBytes; b < fileRow; ++b)
            out.push_back(img.padByte);
    }
    return out;
}

} // namespace filewriters
