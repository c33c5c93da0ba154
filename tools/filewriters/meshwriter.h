// Writes a triangle mesh object as 3DS chunks: 0x4000 { name, 0x4100 {
// 0x4110 vertices, 0x4140 texture coordinates, 0x4160 matrix, 0x4120 { faces,
// 0x4130 material groups, 0x4150 smoothing groups } } }. Lists that are
// empty are left out, so that files of every shape can be built.
#pragma once

#include "chunkwriter.h"

#include <array>
#include <utility>

namespace filewriters {

struct MeshObject {
    std::string name = "Mesh";
    std::vector<std::array<float, 3>> vertices = {};
    std::vector<std::array<float, 2>> uvs = {};
    std::vector<std::array<uint16_t, 3>> faces = {};
    std::vector<uint32_t> groups = {};
    std::vector<std::pair<std::string, std::vector<uint16_t>>> materialGroups = {};
    std::vector<std::array<float, 12>> matrix = {}; // one: three axes, then the origin
};

// A list chunk: a uint16 count (unless not `counted`), then the items' floats.
template <size_t N>
void floatList(ChunkWriter& w, uint16_t id, const std::vector<std::array<float, N>>& items, bool counted = true)
{
    (counted ? w.begin(id).u16(uint16_t(items.size())) : w.begin(id));
    for (const auto& item : items)
        for (float f : item)
            w.f32(f);
    w.end();
}

inline void writeMesh(ChunkWriter& w, const MeshObject& m)
{
    w.begin(0x4000).str(m.name).begin(0x4100);
    if (!m.vertices.empty())
        floatList(w, 0x4110, m.vertices);
    if (!m.uvs.empty())
        floatList(w, 0x4140, m.uvs);
    if (!m.matrix.empty())
        floatList(w, 0x4160, m.matrix, false);
    if (!m.faces.empty()) {
        w.begin(0x4120).u16(uint16_t(m.faces.size()));
        for (const auto& f : m.faces)
            w.u16(f[0]).u16(f[1]).u16(f[2]).u16(0x0007); // the three edges visible
        for (const auto& [name, faces] : m.materialGroups) {
            w.begin(0x4130).str(name).u16(uint16_t(faces.size()));
            for (uint16_t face : faces)
                w.u16(face);
            w.end();
        }
        if (!m.groups.empty()) {
            w.begin(0x4150);
            for (uint32_t g : m.groups)
                w.u32(g);
            w.end();
        }
        w.end();
    }
    w.end().end();
}

} // namespace filewriters
