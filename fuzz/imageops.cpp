// Fuzz target: the image operations with arguments taken from the input
// (factors, axes, window sizes, kernels, type codes, extents, sample positions
// with NaN, infinities and huge values) on small images of all eight element
// types, and BMP headers with any extents, depth and pixel offset.
//
// The input is read as a little program: the image (element type, extents,
// channels, elements, windows), then up to kMaxSteps operations, each a byte
// choosing the operation followed by its arguments. Bytes past the end read as 0.
#include <imagebase>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Lumen::Image;
using Lumen::ImageBase;

constexpr int kMaxSteps = 24;
// Extents stay small so that every operation is cheap; scaleToPowerOfTwo and
// init may grow them up to these.
constexpr int kMaxXY = 12, kMaxZ = 5, kMaxT = 3, kMaxChannels = 4;
constexpr int kMaxElements = 16 * 16 * kMaxZ * kMaxT * kMaxChannels;
constexpr int kKernelSide = 17; // wider than any image: a window that fits reads at most this

class Input {
public:
    Input(const uint8_t* data, size_t size)
        : m_data(data)
        , m_size(size)
    {
    }

    bool empty() const { return m_at >= m_size; }

    uint8_t byte() { return m_at < m_size ? m_data[m_at++] : 0; }
    bool flag() { return byte() & 1; }
    int below(int n) { return byte() % n; }

    uint32_t u32()
    {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i)
            v |= uint32_t(byte()) << (8 * i);
        return v;
    }

    float rawFloat()
    {
        const uint32_t bits = u32();
        float v;
        std::memcpy(&v, &bits, 4);
        return v;
    }

    // An int argument: mostly near the sizes of the image, sometimes at the
    // edges of int, sometimes any 32 bits.
    int arg()
    {
        static const int extremes[] = {std::numeric_limits<int>::min(), std::numeric_limits<int>::min() + 1,
            std::numeric_limits<int>::max(), std::numeric_limits<int>::max() - 1, 1 << 30, (1 << 30) + 1,
            (1 << 29) + 1, 131073, 65537, -65537, 1 << 16, -(1 << 30)};
        switch (below(4)) {
        case 0:
        case 1: return below(20) - 4;
        case 2: return extremes[below(int(sizeof(extremes) / sizeof(extremes[0])))];
        default: return int(u32());
        }
    }

    // A sample position along an axis of the given extent.
    float position(int extent)
    {
        static const float special[] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
            -std::numeric_limits<float>::infinity(), 1e30f, -1e30f, -2147483648.0f, -2147483904.0f, 2147483648.0f,
            2147483520.0f, -0.5f, -1.0f, 4294967296.0f};
        switch (below(4)) {
        case 0:
        case 1: return float(below(4 * (extent + 3))) / 4.0f - 1.0f;
        case 2: return special[below(int(sizeof(special) / sizeof(special[0])))];
        default: return rawFloat();
        }
    }

    int typeCode()
    {
        static const int codes[] = {0, 0x1400, 0x1401, 0x1402, 0x1403, 0x1404, 0x1405, 0x1406, 0x140A, 0x1407};
        return below(8) == 0 ? int(u32()) : codes[below(int(sizeof(codes) / sizeof(codes[0])))];
    }

    // A float from a short table of kernel-like values, or any 32 bits.
    float weight()
    {
        static const float values[] = {0.0f, 1.0f, -1.0f, 2.0f, -2.0f, 0.5f, 0.25f, 3.0f, 1e30f, -0.0f};
        return below(4) == 0 ? rawFloat() : values[below(int(sizeof(values) / sizeof(values[0])))];
    }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_at = 0;
};

Image* makeImage(int kind)
{
    static const int codes[] = {0x1400, 0x1401, 0x1402, 0x1403, 0x1404, 0x1405, 0x1406, 0x140A};
    return Lumen::createImage(codes[kind & 7]);
}

// The element buffer of any of the eight types, as bytes.
unsigned char* bytesOf(Image& image, size_t& elementSize)
{
    unsigned char* p = nullptr;
    auto grab = [&](auto* typed) {
        if (!typed)
            return false;
        p = reinterpret_cast<unsigned char*>(typed->m_data);
        elementSize = sizeof(*typed->m_data);
        return true;
    };
    (void)(grab(dynamic_cast<ImageBase<char>*>(&image)) || grab(dynamic_cast<ImageBase<unsigned char>*>(&image))
        || grab(dynamic_cast<ImageBase<short>*>(&image)) || grab(dynamic_cast<ImageBase<unsigned short>*>(&image))
        || grab(dynamic_cast<ImageBase<int>*>(&image)) || grab(dynamic_cast<ImageBase<unsigned int>*>(&image))
        || grab(dynamic_cast<ImageBase<float>*>(&image)) || grab(dynamic_cast<ImageBase<double>*>(&image)));
    return p;
}

void initFrom(Input& in, Image& image)
{
    // One value per statement: the bytes are read in the same order by every compiler.
    const bool empty = in.below(16) == 0;
    int extents[5];
    extents[0] = 1 + in.below(kMaxXY);
    extents[1] = 1 + in.below(kMaxXY);
    extents[2] = 1 + in.below(kMaxZ);
    extents[3] = 1 + in.below(kMaxT);
    extents[4] = in.below(8) == 0 ? 0 : 1 + in.below(kMaxChannels);
    for (int& e : extents)
        if (empty)
            e %= 2; // zero extents and one-voxel images
    image.init(extents[0], extents[1], extents[2], extents[3], extents[4]);
    size_t size = 0;
    if (unsigned char* bytes = bytesOf(image, size)) {
        // The first elements from the input, byte by byte, the rest a pattern.
        const size_t count = size * size_t(image.m_image_size);
        const size_t fromInput = std::min<size_t>(count, size * in.below(64));
        for (size_t i = 0; i < count; ++i)
            bytes[i] = i < fromInput ? in.byte() : uint8_t(i * 37 + i / 7);
    }
    for (int c = 0; c < image.m_channels; ++c) {
        const float lower = in.flag() ? in.rawFloat() : float(in.below(64)) - 20.0f;
        const float upper = float(in.below(256));
        image.setWindowRange(lower, upper, c);
    }
}

// An output for a derived image: none, the source itself (refused), or the
// caller's own of any type with the stated layout.
Image* outputFor(Input& in, Image& source, int x, int y, int z, int t, int c, std::unique_ptr<Image>& keep)
{
    switch (in.below(4)) {
    case 0: return &source;
    case 1:
        keep.reset(makeImage(in.byte()));
        keep->m_verbose = 0;
        keep->init(x, y, z, t, c);
        return keep.get();
    default: return nullptr;
    }
}

// A result that the operation made (not the caller's output) belongs to us.
void release(Image* result, Image* given)
{
    if (result && result != given)
        delete result;
}

// Checked builds assert that the eight neighbours of a trilinear sample exist,
// for positions that name a voxel; elsewhere the sampler gives 0.
bool linearAllowed(const Image& image, float x, float y, float z)
{
#ifdef NDEBUG
    (void)image, (void)x, (void)y, (void)z;
    return true;
#else
    const float p[3] = {x, y, z};
    bool names = true, inside = true;
    for (int a = 0; a < 3; ++a) {
        names = names && p[a] > -2147483904.0f && p[a] < 2147483648.0f;
        inside = inside && names && int64_t(p[a]) < int64_t(image.m_dim[a]) - 1;
    }
    return !names || inside;
#endif
}

// A BMP file with fuzzed header fields; a picture it yields must respect the
// loader's contract.
void loadBitmap(Input& in, std::unique_ptr<Image>& image)
{
    static const uint16_t depths[] = {8, 16, 24, 32, 1, 4, 255, 65535, 20, 48};
    std::string file(54, '\0');
    auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            file[at + i] = char(v >> (8 * i));
    };
    file[0] = 'B';
    file[1] = 'M';
    const int32_t width = in.flag() ? in.below(16) : in.arg();
    const int32_t height = in.flag() ? in.below(16) - 8 : in.arg();
    const uint16_t bits = in.below(4) == 0 ? uint16_t(in.u32()) : depths[in.below(10)];
    const uint32_t offset = in.flag() ? uint32_t(54 + in.below(32)) : uint32_t(in.arg());
    put32(10, offset);
    put32(14, in.flag() ? 40 : 40 + 4 * in.below(30));
    put32(18, uint32_t(width));
    put32(22, uint32_t(height));
    file[28] = char(bits);
    file[29] = char(bits >> 8);
    put32(30, in.below(4) == 0 ? in.u32() % 8 : 0);
    put32(46, in.flag() ? in.below(300) : 0);
    const int body = in.below(256);
    for (int i = 0; i < body; ++i)
        file.push_back(char(in.byte()));

    std::istringstream stream(file);
    auto bitmap = std::make_unique<Lumen::Bitmap>();
    bitmap->m_verbose = 0;
    if (bitmap->load(stream) != 1)
        return;
    const int64_t budget = std::max<int64_t>(int64_t(Lumen::Bitmap::kLoadFloorMiB) << 20,
        int64_t(Lumen::Bitmap::kLoadBytesPerFileByte) * int64_t(file.size()));
    if (offset > file.size() || bitmap->m_image_size > budget || bitmap->m_dim[0] != width
        || int64_t(bitmap->m_dim[1]) != std::abs(int64_t(height)))
        std::abort();
    if (bitmap->m_image_size > 0)
        (void)(bitmap->getData()[0] + bitmap->getData()[bitmap->m_image_size - 1]);
    // Small enough to go on with, and no kernel window can outgrow kKernelSide.
    if (bitmap->m_image_size <= kMaxElements && bitmap->m_dim[0] < kKernelSide && bitmap->m_dim[1] < kKernelSide)
        image = std::move(bitmap);
}

void step(Input& in, std::unique_ptr<Image>& holder)
{
    Image& image = *holder;
    const int X = image.m_dim[0], Y = image.m_dim[1], Z = image.m_dim[2], T = image.m_dim[3], C = image.m_channels;
    float kernel[kKernelSide * kKernelSide];
    for (int i = 0; i < kKernelSide * kKernelSide; ++i)
        kernel[i] = i < 32 ? in.weight() : float((i * 7) % 5) - 2.0f;
    const float* k = in.below(8) == 0 ? nullptr : kernel;
    std::unique_ptr<Image> given;

    switch (in.below(19)) {
    case 0: {
        const int fx = in.arg(), fy = in.arg(), fz = in.arg(), ft = in.arg();
        const bool newImage = in.flag();
        delete image.downsample(fx, fy, fz, ft, newImage);
        break;
    }
    case 1: image.rotate(in.arg()); break;
    case 2: {
        const bool a = in.flag(), b = in.flag(), c = in.flag(), d = in.flag();
        image.flip(a, b, c, d);
        break;
    }
    case 3:
        if (int64_t(X) * Y <= 12 * 12)
            image.scaleToPowerOfTwo();
        break;
    case 4: {
        const float x = in.position(X), y = in.position(Y), z = in.position(Z);
        std::vector<float> out(size_t(std::max(C, 1)));
        image.getVoxel(out.data(), x, y, z);
        (void)image.getNearest(x, y, z);
        if (linearAllowed(image, x, y, z))
            image.getVoxelLinear(out.data(), x, y, z);
        (void)image.getLinear(x, y, z);
        image.getVoxelCubic(out.data(), x, y, z);
        (void)image.getCubic(x, y, z);
        break;
    }
    case 5: {
        const int type = in.typeCode(), w = in.flag() ? 2 * in.below(9) + 1 : in.arg();
        Image* out = outputFor(in, image, X, Y, Z, T, 1, given);
        release(image.filter(type, k, w, out), out);
        break;
    }
    case 6: image.extendBorder(in.arg()); break;
    case 7: {
        const int type = in.typeCode();
        const bool keep = in.flag();
        const int b = keep ? 0 : 1;
        Image* out = outputFor(in, image, X - 2 * b, Y - 2 * b, Z, 1, 2, given);
        release(image.gradient(type, k, keep, out), out);
        break;
    }
    case 8: {
        const int type = in.typeCode();
        Image* out = outputFor(in, image, X, Y, Z, 1, 3, given);
        release(image.hessian(type, k, out), out);
        break;
    }
    case 9: {
        const int type = in.typeCode();
        const bool keep = in.flag(), intensity = in.flag();
        const int b = keep ? 0 : 1;
        Image* out = outputFor(in, image, X - 2 * b, Y - 2 * b, Z - 2 * b, 1, intensity ? 4 : 3, given);
        release(image.gradient3D(type, k, keep, intensity, out), out);
        break;
    }
    case 10:
        switch (in.below(3)) {
        case 0: image.invert(); break;
        case 1: image.applyWindowLevel(in.flag()); break;
        default: image.autoWindow(); break;
        }
        break;
    case 11: {
        const bool powerOfTwo = in.flag();
        const size_t n = size_t(C) * Lumen::nextPowerOfTwo(X) * Lumen::nextPowerOfTwo(Y) * Lumen::nextPowerOfTwo(Z);
        std::vector<unsigned char> bytes(n);
        std::vector<unsigned short> shorts(n);
        image.toBytes(bytes.data(), powerOfTwo);
        image.toShorts(shorts.data(), powerOfTwo);
        break;
    }
    case 12: {
        const int slice = in.arg(), channel = in.arg();
        const bool powerOfTwo = in.flag();
        std::vector<unsigned char> buffer(size_t(Lumen::nextPowerOfTwo(X)) * Lumen::nextPowerOfTwo(Y) + 1);
        if (in.flag())
            delete[] image.sliceToBytes(nullptr, slice, channel, powerOfTwo);
        else
            image.sliceToBytes(buffer.data(), slice, channel, powerOfTwo);
        break;
    }
    case 13: {
        float out[3];
        image.centerOfMass(out);
        break;
    }
    case 14: image.swapBytes(); break;
    case 15: {
        const float lower = in.rawFloat(), upper = in.rawFloat();
        image.setWindowRange(lower, upper, in.arg());
        break;
    }
    case 16: {
        image.resetCursor();
        float v = 0.0f;
        for (int n = in.below(8); n > 0 && image.getNext(v); --n)
            image.setLast(in.flag() ? v : in.rawFloat());
        image.setNext(in.rawFloat());
        break;
    }
    case 17: initFrom(in, image); break;
    default: loadBitmap(in, holder); break;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Input in(data, size);
    std::unique_ptr<Image> image(makeImage(in.byte()));
    image->m_verbose = in.flag();
    image->m_type = in.typeCode();
    initFrom(in, *image);
    for (int n = 0; n < kMaxSteps && !in.empty(); ++n)
        step(in, image);
    return 0;
}
