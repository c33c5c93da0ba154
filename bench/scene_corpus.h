// A generated corpus of 3DS scenes that resembles real files from games and
// demos: many small and medium meshes rather than one large one.
//
// 140 files; each holds 1 to 20 meshes (most files few, some many), 1 to 6
// materials, and a keyframer node per mesh. A mesh is a wavy open cylinder
// or sheet of 50 to 5,000 faces (skewed to small ones: half have fewer than
// 160) with texture coordinates, a mesh matrix, 1 to 4 material groups over
// runs of faces and 1 to 6 smoothing groups over bands of rows (a third of
// the meshes all in one group, some with values that share bits). Every file
// is the same on every run: the sizes come from a fixed-seed generator.
#pragma once

#include <filewriters/chunkwriter.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace corpus {

// A small deterministic generator (xorshift64*), the same on every platform.
class Random {
public:
    explicit Random(uint64_t seed) : m_state(seed ? seed : 1) {}
    uint64_t next()
    {
        m_state ^= m_state >> 12;
        m_state ^= m_state << 25;
        m_state ^= m_state >> 27;
        return m_state * 0x2545F4914F6CDD1Dull;
    }
    // Uniform in [0, 1).
    double unit() { return double(next() >> 11) / double(uint64_t(1) << 53); }
    // Uniform in [lo, hi].
    int range(int lo, int hi) { return lo + int(next() % uint64_t(hi - lo + 1)); }

private:
    uint64_t m_state;
};

struct File {
    std::string name;
    filewriters::Bytes bytes;
};

namespace detail {

inline void mesh(filewriters::ChunkWriter& w, Random& random, const std::string& name,
                 const std::vector<std::string>& materials, int index)
{
    // A face count skewed to small meshes (median about 160, mean 630); a grid of cols x rows vertices whose cells give
    // two triangles each, cut to the wanted count.
    const double u = random.unit();
    const int wanted = int(std::lround(50.0 * std::pow(100.0, u * u)));
    const int cols = std::max(3, int(std::sqrt(wanted / 2.0) * (0.6 + 0.8 * random.unit())));
    const int rows = std::max(2, (wanted + 2 * (cols - 1) - 1) / (2 * (cols - 1)) + 1);
    const bool closed = random.unit() < 0.5;  // a cylinder's seam repeats its first column
    const float radius = float(1.0 + 9.0 * random.unit());
    const float height = float(1.0 + 20.0 * random.unit());
    const float lift = float(index * 3);

    w.begin(0x4000).str(name).begin(0x4100);
    const int vertexCount = cols * rows;
    w.begin(0x4110).u16(uint16_t(vertexCount));
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < cols; ++x) {
            const float s = float(x) / float(cols - 1), t = float(y) / float(rows - 1);
            const float wave = 1.0f + 0.15f * std::sin(7.0f * t + 3.0f * s);
            if (closed) {
                const float a = 6.2831853f * s;
                w.vec3(radius * wave * std::cos(a), radius * wave * std::sin(a), lift + height * t);
            } else {
                w.vec3(radius * (s - 0.5f), lift + height * t, radius * 0.3f * wave);
            }
        }
    w.end();
    w.begin(0x4140).u16(uint16_t(vertexCount));
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < cols; ++x)
            w.f32(float(x) / float(cols - 1)).f32(float(y) / float(rows - 1));
    w.end();
    w.begin(0x4160);
    const float c = float(std::cos(0.3 * index)), sn = float(std::sin(0.3 * index));
    w.vec3(c, sn, 0).vec3(-sn, c, 0).vec3(0, 0, 1).vec3(float(index), 0, lift);
    w.end();

    struct Face {
        uint16_t a, b, c;
        int row;
    };
    std::vector<Face> faces;
    for (int y = 0; y + 1 < rows && int(faces.size()) < wanted; ++y)
        for (int x = 0; x + 1 < cols && int(faces.size()) < wanted; ++x) {
            const uint16_t i = uint16_t(y * cols + x);
            faces.push_back({i, uint16_t(i + 1), uint16_t(i + cols + 1), y});
            if (int(faces.size()) < wanted)
                faces.push_back({i, uint16_t(i + cols + 1), uint16_t(i + cols), y});
        }
    w.begin(0x4120).u16(uint16_t(faces.size()));
    for (const Face& f : faces)
        w.u16(f.a).u16(f.b).u16(f.c).u16(7);

    // Material groups: consecutive runs of faces.
    const int groups = std::min<int>(random.range(1, 4), int(materials.size()));
    const size_t first = size_t(random.range(0, int(materials.size()) - 1));
    for (int g = 0; g < groups; ++g) {
        const size_t begin = faces.size() * size_t(g) / size_t(groups);
        const size_t end = faces.size() * size_t(g + 1) / size_t(groups);
        w.begin(0x4130).str(materials[(first + size_t(g)) % materials.size()]).u16(uint16_t(end - begin));
        for (size_t i = begin; i < end; ++i)
            w.u16(uint16_t(i));
        w.end();
    }

    // Smoothing groups by bands of rows.
    static const int kBands[] = {1, 1, 2, 3, 4, 6};
    const int bands = kBands[random.range(0, 5)];
    const bool shared = random.unit() < 0.3;  // values 1, 3, 2, 6, ... share bits
    w.begin(0x4150);
    for (const Face& f : faces) {
        const int band = std::min(bands - 1, f.row * bands / std::max(1, rows - 1));
        const uint32_t value = shared ? (band % 2 ? 3u << (band / 2) : 1u << (band / 2)) : 1u << band;
        w.u32(value);
    }
    w.end();
    w.end();        // 0x4120
    w.end().end();  // 0x4100, 0x4000
}

inline void material(filewriters::ChunkWriter& w, Random& random, const std::string& name)
{
    w.begin(0xAFFF);
    w.begin(0xA000).str(name).end();
    for (uint16_t id : {uint16_t(0xA010), uint16_t(0xA020), uint16_t(0xA030)}) {
        w.begin(id).begin(0x0011);
        for (int k = 0; k < 3; ++k)
            w.u8(uint8_t(random.range(0, 255)));
        w.end().end();
    }
    w.begin(0xA040).begin(0x0030).i16(int16_t(random.range(0, 100))).end().end();
    w.begin(0xA100).i16(3).end();
    if (random.unit() < 0.5) {
        w.begin(0xA200);
        w.begin(0x0030).i16(100).end();
        w.begin(0xA300).str(name.substr(0, 8) + ".jpg").end();
        w.end();
    }
    w.end();
}

inline void node(filewriters::ChunkWriter& w, const std::string& name, int index)
{
    w.begin(0xB002);
    w.begin(0xB010).str(name).u16(0).u16(0).u16(0xFFFF).end();
    w.begin(0xB013).vec3(0, 0, 0).end();
    w.begin(0xB020).u16(0).u32(0).u32(0).u32(1).u32(0).u16(0).vec3(float(index), 0, 0).end();
    w.begin(0xB021).u16(0).u32(0).u32(0).u32(1).u32(0).u16(0).f32(0).vec3(0, 0, 1).end();
    w.begin(0xB022).u16(0).u32(0).u32(0).u32(1).u32(0).u16(0).vec3(1, 1, 1).end();
    w.end();
}

} // namespace detail

// The corpus, in file order.
inline std::vector<File> generate(int fileCount = 140)
{
    Random random(0x3D5CE7E5u);
    std::vector<File> files;
    for (int f = 0; f < fileCount; ++f) {
        const int meshCount = 1 + int(19.0 * random.unit() * random.unit());
        std::vector<std::string> materials;
        for (int m = random.range(1, 6); m > 0; --m)
            materials.push_back("Mat" + std::to_string(f) + "_" + std::to_string(m));
        filewriters::ChunkWriter w;
        w.begin(0x4D4D);
        w.begin(0x0002).u32(3).end();
        w.begin(0x3D3D);
        w.begin(0x3D3E).u32(3).end();
        for (const std::string& name : materials)
            detail::material(w, random, name);
        std::vector<std::string> names;
        for (int m = 0; m < meshCount; ++m) {
            names.push_back("Object" + std::to_string(m));
            detail::mesh(w, random, names.back(), materials, m);
        }
        w.end();  // 0x3D3D
        w.begin(0xB000);
        for (int m = 0; m < meshCount; ++m)
            detail::node(w, names[size_t(m)], m);
        w.end();
        w.end();  // 0x4D4D
        File file{"scene" + std::to_string(1000 + f).substr(1) + ".3ds", w.bytes()};
        file.bytes.push_back(0);  // the reader never consumes a file's last byte
        files.push_back(std::move(file));
    }
    return files;
}

} // namespace corpus
