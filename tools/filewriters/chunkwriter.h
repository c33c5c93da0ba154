// Builds 3DS files chunk by chunk: begin() opens a chunk, end() closes the
// innermost one and fills in its length. Raw writes allow broken files.
#pragma once

#include "bytes.h"

#include <string>

namespace filewriters {

class ChunkWriter {
public:
    ChunkWriter& begin(uint16_t id)
    {
        putU16(m_bytes, id);
        m_open.push_back(m_bytes.size());
        putU32(m_bytes, 0);
        return *this;
    }
    ChunkWriter& end()
    {
        const size_t lengthAt = m_open.back();
        m_open.pop_back();
        patchU32(m_bytes, lengthAt, uint32_t(m_bytes.size() - (lengthAt - 2)));
        return *this;
    }
    // A chunk with a length field of the caller's choice (no end() needed).
    ChunkWriter& header(uint16_t id, uint32_t length)
    {
        putU16(m_bytes, id);
        putU32(m_bytes, length);
        return *this;
    }
    ChunkWriter& u8(uint8_t v) { putU8(m_bytes, v); return *this; }
    ChunkWriter& u16(uint16_t v) { putU16(m_bytes, v); return *this; }
    ChunkWriter& i16(int16_t v) { putI16(m_bytes, v); return *this; }
    ChunkWriter& u32(uint32_t v) { putU32(m_bytes, v); return *this; }
    ChunkWriter& f32(float v) { putF32(m_bytes, v); return *this; }
    ChunkWriter& vec3(float x, float y, float z) { return f32(x).f32(y).f32(z); }
    // A zero-terminated string.
    ChunkWriter& str(const std::string& s)
    {
        m_bytes.insert(m_bytes.end(), s.begin(), s.end());
        m_bytes.push_back(0);
        return *this;
    }
    ChunkWriter& raw(const Bytes& b)
    {
        m_bytes.insert(m_bytes.end(), b.begin(), b.end());
        return *this;
    }

    const Bytes& bytes() const { return m_bytes; }
    size_t openChunks() const { return m_open.size(); }

private:
    Bytes m_bytes;
    std::vector<size_t> m_open;
};

} // namespace filewriters
