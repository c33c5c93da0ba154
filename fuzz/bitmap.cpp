// Fuzz target: Bitmap::load on arbitrary bytes.
#include <imagebase>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // A file may claim any extents and is then filled with zeros; keep the
    // claims small enough that the fuzzer explores parsing, not allocation.
    if (size >= 30) {
        int32_t w, h;
        uint16_t bits;
        std::memcpy(&w, data + 18, 4);
        std::memcpy(&h, data + 22, 4);
        std::memcpy(&bits, data + 28, 2);
        const double bytes = std::fabs(double(w)) * std::fabs(double(h)) * (bits < 8 ? 1 : bits / 8);
        if (bytes > double(1 << 22))
            return 0;
    }
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    Lumen::Bitmap bitmap;
    if (bitmap.load(in) == 1 && bitmap.m_image_size > 0) {
        // Every element must be readable and initialised.
        unsigned sum = 0;
        for (int i = 0; i < bitmap.m_image_size; ++i)
            sum += bitmap.getData()[i];
        volatile unsigned sink = sum;
        (void)sink;
    }
    return 0;
}
