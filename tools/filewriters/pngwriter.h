// Builds PNG files of 8-bit RGBA pixels. The pixel data is zlib-wrapped in
// stored (uncompressed) deflate blocks: the bytes depend on nothing but the
// pixels, on any machine and with any library version, at the price of size.
#pragma once

#include "bytes.h"

#include <algorithm>
#include <array>

namespace filewriters {

// CRC-32 (polynomial 0xEDB88320) as PNG chunks carry it.
inline uint32_t crc32(const uint8_t* data, size_t size, uint32_t crc = 0)
{
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k)
                c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    crc = ~crc;
    for (size_t i = 0; i < size; ++i)
        crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

inline void putU32BigEndian(Bytes& out, uint32_t v)
{
    for (int i = 3; i >= 0; --i)
        out.push_back(uint8_t(v >> (8 * i)));
}

inline void putPngChunk(Bytes& out, const char type[4], const Bytes& data)
{
    putU32BigEndian(out, uint32_t(data.size()));
    const size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    putU32BigEndian(out, crc32(out.data() + start, out.size() - start));
}

// `rgba` holds width * height pixels of 4 bytes, rows top first.
inline Bytes encodePng(uint32_t width, uint32_t height, const Bytes& rgba)
{
    Bytes header;
    putU32BigEndian(header, width);
    putU32BigEndian(header, height);
    for (uint8_t b : {8, 6, 0, 0, 0}) // 8 bits, RGBA, deflate, adaptive filters, not interlaced
        header.push_back(b);

    // Each row starts with its filter type, 0 (none).
    Bytes raw;
    const size_t rowBytes = size_t(width) * 4;
    for (uint32_t y = 0; y < height; ++y) {
        raw.push_back(0);
        raw.insert(raw.end(), rgba.begin() + std::ptrdiff_t(y * rowBytes),
                   rgba.begin() + std::ptrdiff_t((y + 1) * rowBytes));
    }

    Bytes zlib{0x78, 0x01};
    for (size_t at = 0;; at += 0xFFFF) {
        const uint16_t n = uint16_t(std::min<size_t>(0xFFFF, raw.size() - at));
        const bool last = at + n == raw.size();
        zlib.push_back(last ? 1 : 0); // BFINAL, BTYPE 00: stored
        putU16(zlib, n);
        putU16(zlib, uint16_t(~n));
        zlib.insert(zlib.end(), raw.begin() + std::ptrdiff_t(at), raw.begin() + std::ptrdiff_t(at + n));
        if (last)
            break;
    }
    uint32_t a = 1, b = 0; // Adler-32 of the raw bytes
    for (uint8_t byte : raw) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    putU32BigEndian(zlib, (b << 16) | a);

    Bytes out{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    putPngChunk(out, "IHDR", header);
    putPngChunk(out, "IDAT", zlib);
    putPngChunk(out, "IEND", {});
    return out;
}

} // namespace filewriters
