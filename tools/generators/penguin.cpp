// Generates the player's model: a penguin built from smooth ellipsoids (body,
// chest, belly, head, eyes, flippers, feet, tail) and a cone for the beak.
// One 3DS mesh object per part, each with its material (black, white or
// orange) and smoothing groups.
//
// The game draws the model black and unlit, with its origin 10 units above
// the snow at the point ahead of the camera, +z along the heading, and tilts
// it back about that origin by the whole slope of the grid cell below, in
// table units: some 50 degrees on the run (where the snow falls away at 30
// degrees in the world), about 32 at the start (where a side slope does it
// on ground that is level ahead). So the penguin is made upright in a frame
// of its own (about 4.8 units tall, sitting on y = 0) and then leaned forward
// by kPoseLean and moved by kPoseAt into the model's frame. On the run it
// then stands on its heels leaning into the slope, its back square to the
// chase camera, which shows head, beak (the head is turned a little), spread
// flippers and body at full length; at the start it crouches low, heels and
// belly on the snow, its heels on the bottom edge of the view. The model's
// lowest point thus lies near y = -8, not -10: on level ground the penguin
// would hover, but the course has none.
//
// Usage: gen_penguin OUTPUT.3ds
#include "filewriters/meshwriter.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <numeric>
#include <string>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;

struct Vec {
    double x, y, z;
};

// Angles in degrees, lengths in units.
constexpr double kHeadYaw = 40;       // turned to its left, so that the beak shows from behind
constexpr double kHeadPitch = -35;    // looking up, along the run
constexpr double kFootPitch = -40;    // toes up, heels on the snow
constexpr double kBeakLength = 1.0;
constexpr double kFlipperSpread = 50; // out from hanging down, for balance

// From the penguin's own frame into the model's (see the top of the file).
constexpr double kPoseLean = 95;
constexpr Vec kPoseAt = {0, -6.7, -7.65};

// A turn in degrees: roll about z, then pitch about x (positive tips +y
// towards +z), then yaw about y (positive turns +z towards +x).
struct Turn {
    double roll = 0, pitch = 0, yaw = 0;
};

Vec rotate(Vec p, const Turn& t)
{
    const double r = t.roll * kPi / 180, q = t.pitch * kPi / 180, w = t.yaw * kPi / 180;
    p = {p.x * std::cos(r) - p.y * std::sin(r), p.x * std::sin(r) + p.y * std::cos(r), p.z};
    p = {p.x, p.y * std::cos(q) - p.z * std::sin(q), p.y * std::sin(q) + p.z * std::cos(q)};
    return {p.x * std::cos(w) + p.z * std::sin(w), p.y, -p.x * std::sin(w) + p.z * std::cos(w)};
}

Vec add(Vec a, Vec b)
{
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}

struct Part {
    std::string name;
    std::string material;
    std::vector<Vec> vertices;
    std::vector<std::pair<float, float>> uv;
    std::vector<std::array<uint16_t, 3>> faces;
    std::vector<uint32_t> groups;
};

// An ellipsoid of `slices` around its y axis and `stacks` from bottom to top,
// turned by `turn` about its centre, which then goes to `at`; wound
// counter-clockwise seen from outside, one smoothing group.
Part ellipsoid(const std::string& name, const std::string& material, Vec at, Vec radii, int slices, int stacks,
    Turn turn = {})
{
    Part p{name, material, {}, {}, {}, {}};
    for (int j = 0; j <= stacks; ++j) {
        const double phi = kPi * j / stacks - kPi / 2; // -90 (bottom) to +90 (top)
        for (int i = 0; i <= slices; ++i) {
            const double theta = 2 * kPi * i / slices;
            const Vec local = {radii.x * std::cos(phi) * std::sin(theta), radii.y * std::sin(phi),
                radii.z * std::cos(phi) * std::cos(theta)};
            p.vertices.push_back(add(rotate(local, turn), at));
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

// A cone along +z from a base circle (a little flattened vertically) centred
// on the origin, turned by `turn` and moved to `at`; the sides are one
// smoothing group, the flat base another.
Part cone(const std::string& name, const std::string& material, Vec at, double radius, double length, int slices,
    Turn turn)
{
    Part p{name, material, {}, {}, {}, {}};
    auto put = [&](Vec v, float u, float w) {
        p.vertices.push_back(add(rotate(v, turn), at));
        p.uv.emplace_back(u, w);
    };
    put({0, 0, length}, 0.5f, 0.5f); // tip
    for (int i = 0; i < slices; ++i) {
        const double theta = 2 * kPi * i / slices;
        put({radius * std::cos(theta), 0.8 * radius * std::sin(theta), 0}, float(0.5 + 0.5 * std::cos(theta)),
            float(0.5 + 0.5 * std::sin(theta)));
    }
    put({0, 0, 0}, 0.5f, 0.5f); // centre of the base
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

// The penguin upright in its own frame (sitting on y = 0, +y up, +z forward,
// about 4.8 units tall and 4.1 across the flippers), then posed.
std::vector<Part> penguin()
{
    const Turn look = {0, kHeadPitch, kHeadYaw}; // the head turns to one side and up
    const Vec neck = {0, 3.95, 0.12};
    auto onHead = [&](Vec v) { return add(rotate(v, look), neck); };
    std::vector<Part> parts;
    parts.push_back(ellipsoid("Body", "Black", {0, 1.3, 0}, {1.05, 1.32, 0.95}, 28, 18));
    parts.push_back(ellipsoid("Chest", "Black", {0, 2.6, -0.02}, {0.78, 1.3, 0.74}, 24, 16));
    parts.push_back(ellipsoid("Belly", "White", {0, 1.55, 0.3}, {0.95, 1.3, 0.78}, 24, 16));
    parts.push_back(ellipsoid("Head", "Black", neck, {0.6, 0.6, 0.66}, 24, 16, look));
    parts.push_back(ellipsoid("EyeLeft", "White", onHead({0.3, 0.18, 0.56}), {0.13, 0.16, 0.08}, 12, 8, look));
    parts.push_back(ellipsoid("EyeRight", "White", onHead({-0.3, 0.18, 0.56}), {0.13, 0.16, 0.08}, 12, 8, look));
    parts.push_back(cone("Beak", "Orange", onHead({0, -0.04, 0.56}), 0.24, kBeakLength, 16, look));
    // Flippers from the shoulders, spread out and a little back.
    for (int side : {1, -1}) {
        const Turn spread = {side * kFlipperSpread, -20, 0};
        const Vec shoulder = {side * 0.68, 3.05, -0.05};
        const Vec centre = add(shoulder, rotate({0, -0.85, 0}, spread));
        parts.push_back(ellipsoid(side > 0 ? "FlipperLeft" : "FlipperRight", "Black", centre, {0.14, 0.95, 0.36}, 16,
            12, spread));
    }
    // Feet from the heels, toes raised.
    for (int side : {1, -1}) {
        const Turn raise = {0, kFootPitch, side * 30.0};
        const Vec heel = {side * 0.55, 0.1, -0.1};
        parts.push_back(ellipsoid(side > 0 ? "FootLeft" : "FootRight", "Orange", add(heel, rotate({0, 0, 0.5}, raise)),
            {0.3, 0.1, 0.52}, 16, 8, raise));
    }
    parts.push_back(ellipsoid("Tail", "Black", {0, 0.32, -0.95}, {0.32, 0.1, 0.42}, 12, 8, {0, 20, 0}));
    for (Part& p : parts)
        for (Vec& v : p.vertices)
            v = add(rotate(v, {0, kPoseLean, 0}), kPoseAt);
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
    filewriters::MeshObject m{p.name};
    for (const Vec& v : p.vertices)
        m.vertices.push_back({float(v.x), float(v.y), float(v.z)});
    for (const auto& [u, v] : p.uv)
        m.uvs.push_back({u, v});
    m.faces = p.faces, m.groups = p.groups;
    m.materialGroups.push_back({p.material, std::vector<uint16_t>(p.faces.size())});
    std::iota(m.materialGroups[0].second.begin(), m.materialGroups[0].second.end(), uint16_t(0));
    m.matrix = {{1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0}};
    filewriters::writeMesh(w, m);
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
