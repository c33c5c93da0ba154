// Fuzz target: Bitmap::load on arbitrary bytes. The loader bounds its own
// memory by the input's size, so any claim of the header is fair game.
#include <imagebase>

#include <cstdint>
#include <sstream>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    Lumen::Bitmap bitmap;
    if (bitmap.load(in) == 1) {
        // The buffer and the palette must be as large as the image says: touch
        // both ends (reading every element of a large zero-filled picture would
        // only slow the search down).
        volatile unsigned sink = 0;
        if (bitmap.m_image_size > 0)
            sink = bitmap.getData()[0] + bitmap.getData()[bitmap.m_image_size - 1];
        if (bitmap.m_palette_size > 0)
            sink = sink + bitmap.m_palette[0] + bitmap.m_palette[4 * bitmap.m_palette_size - 1];
        (void)sink;
    }
    return 0;
}
