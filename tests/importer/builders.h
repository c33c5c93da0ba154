// Helpers of the importer tests: 3DS files built chunk by chunk, meshes built
// as the reader must build them, bit-for-bit comparison, and an L3DS whose
// reader is in reach.
#pragma once

#include <filewriters/chunkwriter.h>
#include <l3ds.h>

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace t3ds {

using filewriters::Bytes;
using filewriters::ChunkWriter;
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

struct MeshSpec {
    std::string name = "Mesh";
    std::vector<std::array<float, 3>> vertices;
    std::vector<std::array<float, 2>> uvs;
    std::vector<std::array<uint16_t, 3>> faces;
    std::vector<uint32_t> groups;  // 0x4150 when not empty
    std::vector<std::pair<std::string, std::vector<uint16_t>>> materialGroups;
    std::vector<float> matrix;  // 0x4160 when not empty (12 floats)
};

inline void vertexList(ChunkWriter& w, const std::vector<std::array<float, 3>>& vertices)
{
    w.begin(0x4110).u16(uint16_t(vertices.size()));
    for (const auto& v : vertices)
        w.vec3(v[0], v[1], v[2]);
    w.end();
}

inline void uvList(ChunkWriter& w, const std::vector<std::array<float, 2>>& uvs)
{
    w.begin(0x4140).u16(uint16_t(uvs.size()));
    for (const auto& t : uvs)
        w.f32(t[0]).f32(t[1]);
    w.end();
}

inline void faceList(ChunkWriter& w, const MeshSpec& m)
{
    w.begin(0x4120).u16(uint16_t(m.faces.size()));
    for (const auto& f : m.faces)
        w.u16(f[0]).u16(f[1]).u16(f[2]).u16(7);
    for (const auto& group : m.materialGroups) {
        w.begin(0x4130).str(group.first).u16(uint16_t(group.second.size()));
        for (uint16_t face : group.second)
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

// 0x4000 { name, 0x4100 { 0x4110, 0x4140, 0x4160, 0x4120 } }, lists when not empty.
inline void meshObject(ChunkWriter& w, const MeshSpec& m)
{
    w.begin(0x4000).str(m.name).begin(0x4100);
    if (!m.vertices.empty())
        vertexList(w, m.vertices);
    if (!m.uvs.empty())
        uvList(w, m.uvs);
    if (!m.matrix.empty()) {
        w.begin(0x4160);
        for (float f : m.matrix)
            w.f32(f);
        w.end();
    }
    if (!m.faces.empty())
        faceList(w, m);
    w.end().end();
}

inline Bytes meshes(const std::vector<MeshSpec>& list)
{
    return scene([&](ChunkWriter& w) {
        for (const MeshSpec& m : list)
            meshObject(w, m);
    });
}

// 0xAFFF { 0xA000 name, extra }
inline void material(ChunkWriter& w, const std::string& name, const Section& extra = {})
{
    w.begin(0xAFFF).begin(0xA000).str(name).end();
    if (extra)
        extra(w);
    w.end();
}

// A unit cube: side s (-z, +z, -y, +y, -x, +x) holds faces 2s and 2s + 1,
// counter-clockwise seen from outside.
inline MeshSpec cube(const std::string& name = "Cube")
{
    MeshSpec m;
    m.name = name;
    m.vertices = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0, 0, 1}, {1, 0, 1}, {1, 1, 1}, {0, 1, 1}};
    m.faces = {{0, 2, 1}, {0, 3, 2}, {4, 5, 6}, {4, 6, 7}, {0, 1, 5}, {0, 5, 4},
               {3, 7, 6}, {3, 6, 2}, {0, 4, 7}, {0, 7, 3}, {1, 2, 6}, {1, 6, 5}};
    return m;
}

// A cols x rows grid with texture coordinates, in `bands` smoothing groups by
// rows: the vertices along the seams are split.
inline MeshSpec grid(const std::string& name, int cols, int rows, int bands)
{
    MeshSpec m;
    m.name = name;
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < cols; ++x) {
            m.vertices.push_back({float(x), float(y), float((x * y) % 3)});
            m.uvs.push_back({float(x) / float(cols), float(y) / float(rows)});
        }
    for (int y = 0; y + 1 < rows; ++y)
        for (int x = 0; x + 1 < cols; ++x) {
            const uint16_t i = uint16_t(y * cols + x);
            m.faces.push_back({i, uint16_t(i + 1), uint16_t(i + cols + 1)});
            m.faces.push_back({i, uint16_t(i + cols + 1), uint16_t(i + cols)});
            m.groups.insert(m.groups.end(), 2, 1u << (y * bands / (rows - 1)));
        }
    return m;
}

// The mesh as the reader must build it from `spec`, before post-processing:
// positions with w = 1, texture coordinates up to the vertex count, the 12
// matrix values in rows 0..3 of columns 0..2, smoothing group 1 by default.
inline LMesh meshFrom(const MeshSpec& spec)
{
    LMesh m;
    m.SetName(spec.name);
    m.SetVertexArraySize(uint32_t(spec.vertices.size()));
    for (size_t i = 0; i < spec.vertices.size(); ++i)
        m.vertices[i] = {spec.vertices[i][0], spec.vertices[i][1], spec.vertices[i][2], 1.0f};
    for (size_t i = 0; i < spec.uvs.size() && i < spec.vertices.size(); ++i)
        m.texCoords[i] = {spec.uvs[i][0], spec.uvs[i][1]};
    for (size_t i = 0; i < spec.matrix.size(); ++i)
        m.matrix.m[4 * (i / 3) + i % 3] = spec.matrix[i];
    m.SetTriangleArraySize(uint32_t(spec.faces.size()));
    for (size_t i = 0; i < spec.faces.size(); ++i) {
        LFaceRecord& f = m.faceRecords[i];
        f.a = spec.faces[i][0];
        f.b = spec.faces[i][1];
        f.c = spec.faces[i][2];
        f.smoothingGroup = i < spec.groups.size() ? spec.groups[i] : 1;
    }
    return m;
}

inline bool load(L3DS& importer, const Bytes& bytes)
{
    return importer.LoadMemory(bytes.data(), uint32_t(bytes.size()));
}

template <class T>
bool sameBits(const std::vector<T>& a, const std::vector<T>& b)
{
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(T)) == 0);
}

// Every list of the two meshes to the bit (face records field by field: they
// have padding), the name and the matrix.
inline ::testing::AssertionResult sameMesh(const LMesh& x, const LMesh& y)
{
    const char* differs = x.GetName() != y.GetName()              ? "name"
                          : !sameBits(x.vertices, y.vertices)      ? "vertices"
                          : !sameBits(x.normals, y.normals)        ? "normals"
                          : !sameBits(x.binormals, y.binormals)    ? "binormals"
                          : !sameBits(x.tangents, y.tangents)      ? "tangents"
                          : !sameBits(x.texCoords, y.texCoords)    ? "texture coordinates"
                          : !sameBits(x.triangles, y.triangles)    ? "triangles"
                          : !sameBits(x.materials, y.materials)    ? "materials"
                          : std::memcmp(&x.matrix, &y.matrix, sizeof x.matrix) ? "matrix"
                          : x.faceRecords.size() != y.faceRecords.size() ? "face count"
                                                                         : nullptr;
    for (size_t f = 0; !differs && f < x.faceRecords.size(); ++f) {
        const LFaceRecord &p = x.faceRecords[f], &q = y.faceRecords[f];
        if (p.a != q.a || p.b != q.b || p.c != q.c || p.smoothingGroup != q.smoothingGroup ||
            p.materialId != q.materialId || std::memcmp(&p.faceNormal, &q.faceNormal, 3 * sizeof(LVec3)))
            differs = "face records";
    }
    if (differs)
        return ::testing::AssertionFailure() << "the meshes differ in their " << differs;
    return ::testing::AssertionSuccess();
}

// An L3DS with its reader internals in reach.
class TestL3DS : public L3DS {
public:
    using L3DS::FindChunk;
    using L3DS::ReadByte;
    using L3DS::ReadChunkHeader;
    using L3DS::ReadFloat;
    using L3DS::ReadInt;
    using L3DS::ReadShort;
    using L3DS::ReadString;
    using L3DS::Seek;

    // Reads from `bytes` (which must outlive the reads) as a load does.
    void attach(const Bytes& bytes)
    {
        buffer = bytes.data();
        bufferSize = uint32_t(bytes.size());
        position = 0;
        endOfData = false;
    }
    uint32_t pos() const { return position; }
    bool eod() const { return endOfData; }
};

} // namespace t3ds
