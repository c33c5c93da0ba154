// Writes 16-bit PCM WAV files.
#pragma once

#include "bytes.h"

namespace filewriters {

// samples: interleaved frames of `channels` samples each.
inline Bytes encodeWav16(uint32_t sampleRate, uint16_t channels, const std::vector<int16_t>& samples)
{
    const uint32_t dataBytes = uint32_t(samples.size() * 2);
    Bytes out;
    out.insert(out.end(), {'R', 'I', 'F', 'F'});
    putU32(out, 36 + dataBytes);
    out.insert(out.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    putU32(out, 16);
    putU16(out, 1); // PCM
    putU16(out, channels);
    putU32(out, sampleRate);
    putU32(out, sampleRate * channels * 2);
    putU16(out, uint16_t(channels * 2));
    putU16(out, 16);
    out.insert(out.end(), {'d', 'a', 't', 'a'});
    putU32(out, dataBytes);
    for (int16_t s : samples)
        putI16(out, s);
    return out;
}

} // namespace filewriters
