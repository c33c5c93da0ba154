// Little-endian byte output shared by the file writers.
#pragma once

#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace filewriters {

using Bytes = std::vector<uint8_t>;

inline void putU8(Bytes& out, uint8_t v) { out.push_back(v); }
inline void putU16(Bytes& out, uint16_t v)
{
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}
inline void putU32(Bytes& out, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(uint8_t(v >> (8 * i)));
}
inline void putI16(Bytes& out, int16_t v) { putU16(out, uint16_t(v)); }
inline void putI32(Bytes& out, int32_t v) { putU32(out, uint32_t(v)); }
inline void putF32(Bytes& out, float v)
{
    uint32_t bits;
    std::memcpy(&bits, &v, 4);
    putU32(out, bits);
}
inline void patchU32(Bytes& out, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out[at + i] = uint8_t(v >> (8 * i));
}

inline bool writeFile(const std::string& path, const Bytes& bytes)
{
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return bool(f);
}

} // namespace filewriters
