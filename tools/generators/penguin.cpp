// Generates the player's model: a penguin about 6 units tall, standing on
// y = 0 with +y up and +z forward, built from smooth ellipsoids (body, belly,
// head, eyes, flippers, feet) and a cone for the beak. One 3DS mesh object per
// part, each with its material (black, white or orange) and smoothing groups.
//
// Usage: gen_penguin OUTPUT.3ds
#include "filewriters/chunkwriter.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;

struct Vec {
    double x, y, z;
};

struct Part {
    std::string name;
    std::string material;
    std::vector<Vec> vertices;
    std::vector<std::pair<float, float>> uv;
    std::vector<std::array<uint16_t, 3>> faces;
    std::vector<uint32_t> groups;
};

// Rotation about z by `roll` then about x by `pitch` (radians), then a move to `at`.
Vec place(Vec p, Vec at, double roll, double pitch)
{
    const Vec r = {p.x * std::cos(roll) - p.y * std::sin(roll), p.x * std::sin(roll) + p.y * std::cos(roll), p.z};
    const Vec q = {r.x, r.y * std::cos(pitch) - r.z * std::sin(pitch), r.y * std::sin(pitch) + r.z * std::cos(pitch)};
    return {q.x + at.x, q.y + at.y, q.z + at.z};
}

// An ellipsoid of `slices` around its y axis and `stacks` from bottom to top,
// wound counter-clockwise seen from outside; one smoothing group.
Part ellipsoid(const std::string& name, const std::string& material, Vec at, Vec radii, int slices, int stacks,
    double roll = 0, double pitch = 0)
{
    Part p{name, material, {}, {}, {}, {}};
    for (int j = 0; j <= stacks; ++j) {
        const double phi = kPi * j / stacks - kPi / 2; // -90 (bottom) to +90 (top)
        for (int i = 0; i <= slices; ++i) {
            const double theta = 2 * kPi * i / slices;
            const Vec local = {radii.x * std::cos(phi) * std::sin(theta), radii.y * std::sin(phi),
                radii.z * std::cos(phi) * std::cos(theta)};
            p.vertices.push_back(place(local, at, roll, pitch));
            p.uv.emplace_back(float(double(i) / slices), float(double(j) / stacks));
        }
    }
    const int row = slices + 1;
    for (int j = 0; j < stacks; ++j)
        for (int i = 0; i < slices; ++i) {
            const uint16_t a = uint16_t(j * row + i), b = uint16_t(a + 1), c = uint16_t(a + row), d = uint16_t(c + 1);
            if (j > 0)
                p.faces.push_back({a, b, d});
            if (j < stacks - 1)
                p.faces.push_back({a, d, c});
        }
    p.groups.assign(p.faces.size(), 1);
    return p;
}

// A cone pointing along +z from a base circle centred at `base`; the sides are
// one smoothing group, the flat base another.
Part cone(const std::string& name, const std::string& material, Vec base, double radius, double length, int slices)
{
    Part p{name, material, {}, {}, {}, {}};
    p.vertices.push_back({base.x, base.y, base.z + length}); // tip
    p.uv.emplace_back(0.5f, 0.5f);
    for (int i = 0; i < slices; ++i) {
        const double theta = 2 * kPi * i / slices;
        p.vertices.push_back({base.x + radius * std::cos(theta), base.y + 0.8 * radius * std::sin(theta), base.z});
        p.uv.emplace_back(float(0.5 + 0.5 * std::cos(theta)), float(0.5 + 0.5 * std::sin(theta)));
    }
    p.vertices.push_back(base); // centre of the base
    p.uv.emplace_back(0.5f, 0.5f);
    const uint16_t centre = uint16_t(slices + 1);
    for (int i = 0; i < slices; ++i) {
        const uint16_t a = uint16_t(1 + i), b = uint16_t(1 + (i + 1) % slices);
        p.faces.push_back({a, b, 0});
        p.groups.push_back(1);
        p.faces.push_back({b, a, centre});
        p.groups.push_back(2);
    }
    return p;
}

std::vector<Part> penguin()
{
    std::vector<Part> parts;
    parts.push_back(ellipsoid("Body", "Black", {0, 2.45, 0}, {1.45, 2.25, 1.25}, 28, 18));
    parts.push_back(ellipsoid("Belly", "White", {0, 2.3, 0.42}, {1.15, 1.85, 0.98}, 24, 16));
    parts.push_back(ellipsoid("Head", "Black", {0, 5.0, 0.1}, {0.92, 0.95, 0.92}, 24, 16));
    parts.push_back(ellipsoid("EyeLeft", "White", {0.36, 5.22, 0.86}, {0.16, 0.2, 0.1}, 12, 8));
    parts.push_back(ellipsoid("EyeRight", "White", {-0.36, 5.22, 0.86}, {0.16, 0.2, 0.1}, 12, 8));
    parts.push_back(cone("Beak", "Orange", {0, 4.92, 0.78}, 0.28, 0.85, 16));
    // Flippers hang from the shoulders, tipped outwards and slightly back.
    parts.push_back(ellipsoid("FlipperLeft", "Black", {1.45, 2.9, -0.05}, {0.2, 1.35, 0.55}, 16, 12, 0.3, -0.1));
    parts.push_back(ellipsoid("FlipperRight", "Black", {-1.45, 2.9, -0.05}, {0.2, 1.35, 0.55}, 16, 12, -0.3, -0.1));
    parts.push_back(ellipsoid("FootLeft", "Orange", {0.6, 0.14, 0.55}, {0.45, 0.14, 0.75}, 16, 8));
    parts.push_back(ellipsoid("FootRight", "Orange", {-0.6, 0.14, 0.55}, {0.45, 0.14, 0.75}, 16, 8));
    return parts;
}

struct Material {
    const char* name;
    uint8_t r, g, b;
};

const Material kMaterials[] = {{"Black", 24, 24, 30}, {"White", 242, 242, 246}, {"Orange", 250, 140, 20}};

void colour(filewriters::ChunkWriter& w, uint16_t id, uint8_t r, uint8_t g, uint8_t b)
{
    w.begin(id).begin(0x0011).u8(r).u8(g).u8(b).end().end();
}

void material(filewriters::ChunkWriter& w, const Material& m)
{
    w.begin(0xAFFF);
    w.begin(0xA000).str(m.name).end();
    colour(w, 0xA010, uint8_t(m.r / 4), uint8_t(m.g / 4), uint8_t(m.b / 4));
    colour(w, 0xA020, m.r, m.g, m.b);
    colour(w, 0xA030, 200, 200, 200);
    w.begin(0xA040).begin(0x0030).i16(30).end().end();
    w.begin(0xA100).i16(3).end(); // Phong
    w.end();
}

void object(filewriters::ChunkWriter& w, const Part& p)
{
    w.begin(0x4000).str(p.name);
    w.begin(0x4100);
    w.begin(0x4110).u16(uint16_t(p.vertices.size()));
    for (const Vec& v : p.vertices)
        w.vec3(float(v.x), float(v.y), float(v.z));
    w.end();
    w.begin(0x4140).u16(uint16_t(p.uv.size()));
    for (const auto& [u, v] : p.uv)
        w.f32(u).f32(v);
    w.end();
    w.begin(0x4160).vec3(1, 0, 0).vec3(0, 1, 0).vec3(0, 0, 1).vec3(0, 0, 0).end();
    w.begin(0x4120).u16(uint16_t(p.faces.size()));
    for (const auto& f : p.faces)
        w.u16(f[0]).u16(f[1]).u16(f[2]).u16(0x0007);
    w.begin(0x4130).str(p.material).u16(uint16_t(p.faces.size()));
    for (size_t i = 0; i < p.faces.size(); ++i)
        w.u16(uint16_t(i));
    w.end();
    w.begin(0x4150);
    for (uint32_t g : p.groups)
        w.u32(g);
    w.end();
    w.end(); // faces
    w.end(); // mesh
    w.end(); // object
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.3ds\n", argv[0]);
        return 2;
    }
    const std::vector<Part> parts = penguin();
    size_t triangles = 0;
    for (const Part& p : parts) {
        // Vertex and face counts are 16-bit in the file and in the importer.
        if (p.vertices.size() > 60000 || p.faces.size() > 60000) {
            std::fprintf(stderr, "part %s is too large\n", p.name.c_str());
            return 1;
        }
        triangles += p.faces.size();
    }

    filewriters::ChunkWriter w;
    w.begin(0x4D4D);
    w.begin(0x0002).u32(3).end(); // file version
    w.begin(0x3D3D);
    w.begin(0x3D3E).u32(3).end(); // mesh version
    for (const Material& m : kMaterials)
        material(w, m);
    for (const Part& p : parts)
        object(w, p);
    // Last in the file: readers may not reach the final bytes, so they hold
    // nothing that matters (the master scale, 1).
    w.begin(0x0100).f32(1).end();
    w.end(); // editor
    w.end(); // root
    std::fprintf(stderr, "penguin: %zu parts, %zu triangles\n", parts.size(), triangles);
    return filewriters::writeFile(argv[1], w.bytes()) ? 0 : 1;
}
