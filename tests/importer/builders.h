// Helpers of the importer tests: 3DS files built chunk by chunk, meshes built
// as the reader must build them, and bit-for-bit comparison of meshes.
#pragma once

#include <filewriters/meshwriter.h>
#include <l3ds.h>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace t3ds {

using filewriters::Bytes;
using filewriters::ChunkWriter;
using filewriters::floatList;
using filewriters::MeshObject;
using filewriters::writeMesh;
using Section = std::function<void(ChunkWriter&)>;

// 0x4D4D { 0x3D3D { editor } after }, then `pad` zero bytes: the reader never
// consumes a file's last byte, so the root's last value needs them.
inline Bytes scene(const Section& editor, const Section& after = {}, size_t pad = 4)
{
    ChunkWriter w;
    w.begin(0x4D4D).begin(0x3D3D);
    if (editor)
        editor(w);
    w.end();
    if (after)
        after(w);
    Bytes bytes = w.end().bytes();
    bytes.insert(bytes.end(), pad, 0);
    return bytes;
}

// 0xAFFF { 0xA000 name, extra }
inline void material(ChunkWriter& w, const std::string& name, const Section& extra = {})
{
    w.begin(0xAFFF).begin(0xA000).str(name).end();
    if (extra)
        extra(w);
    w.end();
}

// Materials named `materials`, then the meshes.
inline Bytes meshes(const std::vector<MeshObject>& list, const std::vector<std::string>& materials = {})
{
    return scene([&](ChunkWriter& w) {
        for (const std::string& name : materials)
            material(w, name);
        for (const MeshObject& m : list)
            writeMesh(w, m);
    });
}

// A unit cube: side s (-z, +z, -y, +y, -x, +x) holds faces 2s and 2s + 1,
// counter-clockwise seen from outside; its face material groups.
inline MeshObject cube(const std::string& name = "Cube", decltype(MeshObject::materialGroups) materialGroups = {})
{
    return {name, {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0, 0, 1}, {1, 0, 1}, {1, 1, 1}, {0, 1, 1}}, {},
            {{0, 2, 1}, {0, 3, 2}, {4, 5, 6}, {4, 6, 7}, {0, 1, 5}, {0, 5, 4}, {3, 7, 6}, {3, 6, 2}, {0, 4, 7},
             {0, 7, 3}, {1, 2, 6}, {1, 6, 5}}, {}, std::move(materialGroups)};
}

// A cols x rows grid with texture coordinates, in `bands` smoothing groups by
// rows: the vertices along the seams are split.
inline MeshObject grid(const std::string& name, int cols, int rows, int bands)
{
    MeshObject m{name};
    for (int i = 0; i < cols * rows; ++i) {
        const int x = i % cols, y = i / cols;
        m.vertices.push_back({float(x), float(y), float(x * y % 3)});
        m.uvs.push_back({float(x) / float(cols), float(y) / float(rows)});
        if (x + 1 < cols && y + 1 < rows) {
            m.faces.push_back({uint16_t(i), uint16_t(i + 1), uint16_t(i + cols + 1)});
            m.faces.push_back({uint16_t(i), uint16_t(i + cols + 1), uint16_t(i + cols)});
            m.groups.insert(m.groups.end(), 2, 1u << (y * bands / (rows - 1)));
        }
    }
    return m;
}

// The mesh as the reader must build it from `shape`, before post-processing:
// positions with w = 1, texture coordinates up to the vertex count, the 12
// matrix values in rows 0..3 of columns 0..2, smoothing group 1 by default.
inline LMesh meshFrom(const MeshObject& shape)
{
    LMesh m;
    m.SetName(shape.name);
    m.SetVertexArraySize(uint32_t(shape.vertices.size()));
    m.SetTriangleArraySize(uint32_t(shape.faces.size()));
    for (size_t i = 0; i < shape.vertices.size(); ++i)
        m.vertices[i] = {shape.vertices[i][0], shape.vertices[i][1], shape.vertices[i][2], 1.0f};
    for (size_t i = 0; i < shape.uvs.size() && i < shape.vertices.size(); ++i)
        m.texCoords[i] = {shape.uvs[i][0], shape.uvs[i][1]};
    for (size_t i = 0; i < 12 && !shape.matrix.empty(); ++i)
        m.matrix.m[4 * (i / 3) + i % 3] = shape.matrix[0][i];
    for (size_t i = 0; i < shape.faces.size(); ++i)
        m.faceRecords[i] = {shape.faces[i][0], shape.faces[i][1], shape.faces[i][2],
                            i < shape.groups.size() ? shape.groups[i] : 1, {}, {}, {}, 0};
    return m;
}

inline bool load(L3DS& importer, const Bytes& bytes) { return importer.LoadMemory(bytes.data(), uint32_t(bytes.size())); }

// Every list, the name and the matrix to the bit (face records field by
// field: they have padding).
inline ::testing::AssertionResult sameMesh(const LMesh& x, const LMesh& y)
{
    auto sameBits = [](const auto& a, const auto& b) {
        return a.size() == b.size() && (a.empty() || !std::memcmp(a.data(), b.data(), a.size() * sizeof a[0]));
    };
    bool faces = x.faceRecords.size() == y.faceRecords.size();
    for (size_t f = 0; faces && f < x.faceRecords.size(); ++f) {
        const LFaceRecord &p = x.faceRecords[f], &q = y.faceRecords[f];
        faces = p.a == q.a && p.b == q.b && p.c == q.c && p.smoothingGroup == q.smoothingGroup &&
                p.materialId == q.materialId && !std::memcmp(&p.faceNormal, &q.faceNormal, 3 * sizeof(LVec3));
    }
    const char* differs = x.GetName() != y.GetName() ? "name" : !sameBits(x.vertices, y.vertices) ? "vertices"
        : !sameBits(x.normals, y.normals) ? "normals" : !sameBits(x.binormals, y.binormals) ? "binormals"
        : !sameBits(x.tangents, y.tangents) ? "tangents" : !sameBits(x.texCoords, y.texCoords) ? "texture coordinates"
        : !sameBits(x.triangles, y.triangles) ? "triangles" : !sameBits(x.materials, y.materials) ? "materials"
        : std::memcmp(&x.matrix, &y.matrix, sizeof x.matrix) ? "matrix" : !faces ? "face records" : nullptr;
    return differs ? ::testing::AssertionFailure() << "the meshes differ in their " << differs
                   : ::testing::AssertionSuccess();
}

} // namespace t3ds
