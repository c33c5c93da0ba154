// Helpers for the importer tests: 3DS files built chunk by chunk, and an
// L3DS that exposes its reader internals.
#pragma once

#include <filewriters/chunkwriter.h>
#include <l3ds.h>

#include <array>
#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace t3ds {

using filewriters::Bytes;
using filewriters::ChunkWriter;
using Section = std::function<void(ChunkWriter&)>;

// A whole file: 0x4D4D { 0x3D3D { editor } after }, then `pad` zero bytes
// outside the root chunk, so that the last value of the root chunk can be
// read (the reader never consumes the last byte of a file).
inline Bytes scene(const Section& editor, const Section& after = {}, size_t pad = 4)
{
    ChunkWriter w;
    w.begin(0x4D4D);
    w.begin(0x3D3D);
    if (editor)
        editor(w);
    w.end();
    if (after)
        after(w);
    w.end();
    Bytes bytes = w.bytes();
    bytes.insert(bytes.end(), pad, 0);
    return bytes;
}

struct MeshSpec {
    std::string name = "Mesh";
    std::vector<std::array<float, 3>> vertices;
    std::vector<std::array<float, 2>> uvs;
    std::vector<std::array<uint16_t, 3>> faces;
    std::vector<uint32_t> groups;  // written as 0x4150 when not empty
    std::vector<std::pair<std::string, std::vector<uint16_t>>> materialGroups;
    const float* matrix = nullptr;  // 12 floats, written as 0x4160 when set
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

// 0x4000 { name, 0x4100 { 0x4110, 0x4140, 0x4160, 0x4120 } }
inline void meshObject(ChunkWriter& w, const MeshSpec& m)
{
    w.begin(0x4000).str(m.name);
    w.begin(0x4100);
    if (!m.vertices.empty())
        vertexList(w, m.vertices);
    if (!m.uvs.empty())
        uvList(w, m.uvs);
    if (m.matrix) {
        w.begin(0x4160);
        for (int i = 0; i < 12; ++i)
            w.f32(m.matrix[i]);
        w.end();
    }
    if (!m.faces.empty())
        faceList(w, m);
    w.end();
    w.end();
}

// 0xAFFF { 0xA000 name, extra sub-chunks }
inline void material(ChunkWriter& w, const std::string& name, const Section& extra = {})
{
    w.begin(0xAFFF);
    w.begin(0xA000).str(name).end();
    if (extra)
        extra(w);
    w.end();
}

// A unit cube: 8 corners, 12 faces (two per side, counter-clockwise seen
// from outside). Side s holds faces 2s and 2s + 1.
inline MeshSpec cube()
{
    MeshSpec m;
    m.name = "Cube";
    m.vertices = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0},
                  {0, 0, 1}, {1, 0, 1}, {1, 1, 1}, {0, 1, 1}};
    m.faces = {
        {0, 2, 1}, {0, 3, 2},  // z = 0, normal -z
        {4, 5, 6}, {4, 6, 7},  // z = 1, +z
        {0, 1, 5}, {0, 5, 4},  // y = 0, -y
        {3, 7, 6}, {3, 6, 2},  // y = 1, +y
        {0, 4, 7}, {0, 7, 3},  // x = 0, -x
        {1, 2, 6}, {1, 6, 5},  // x = 1, +x
    };
    return m;
}

// Hostile files: small files whose counts claim far more than they hold, or
// whose chunks make a naive reader repeat work.

// `objects` objects, each a 0x4110 and a 0x4120 claiming 65,535 entries
// with no data of their own.
inline Bytes claimingObjects(int objects)
{
    return scene([&](ChunkWriter& w) {
        for (int i = 0; i < objects; ++i) {
            w.begin(0x4000).str("").begin(0x4100);
            w.begin(0x4110).u16(0xFFFF).end();
            w.begin(0x4120).u16(0xFFFF).end();
            w.end().end();
        }
    });
}

// `count` empty 0xAFFF blocks of 6 bytes.
inline Bytes emptyMaterials(int count)
{
    return scene([&](ChunkWriter& w) {
        for (int i = 0; i < count; ++i)
            w.begin(0xAFFF).end();
    });
}

// `meshes` empty meshes with empty names, then `nodes` keyframer nodes named
// "x", which no mesh is.
inline Bytes unmatchedNodes(int meshes, int nodes)
{
    return scene(
        [&](ChunkWriter& w) {
            for (int i = 0; i < meshes; ++i)
                w.begin(0x4000).str("").begin(0x4100).end().end();
        },
        [&](ChunkWriter& w) {
            w.begin(0xB000);
            for (int i = 0; i < nodes; ++i)
                w.begin(0xB002).begin(0xB010).str("x").end().end();
            w.end();
        });
}

// `materials` empty material blocks, then one face list whose `groups`
// material groups all name "x", which no material is.
inline Bytes unmatchedGroups(int materials, int groups)
{
    return scene([&](ChunkWriter& w) {
        for (int i = 0; i < materials; ++i)
            w.begin(0xAFFF).end();
        w.begin(0x4000).str("").begin(0x4100).begin(0x4120).u16(0);
        for (int i = 0; i < groups; ++i)
            w.begin(0x4130).str("x").end();
        w.end().end().end();
    });
}

// One face list of 65,535 faces, then `chunks` six-byte 0x4150 chunks, each
// of which reads a smoothing group for every face.
inline Bytes repeatedSmoothing(int chunks)
{
    return scene([&](ChunkWriter& w) {
        w.begin(0x4000).str("").begin(0x4100).begin(0x4120).u16(0xFFFF);
        for (int i = 0; i < 0xFFFF; ++i)
            w.u16(0).u16(1).u16(2).u16(0);
        for (int i = 0; i < chunks; ++i)
            w.begin(0x4150).end();
        w.end().end().end();
    });
}

// One mesh of `chunks` vertex lists claiming 65,535 vertices each.
inline Bytes repeatedVertexLists(int chunks)
{
    return scene([&](ChunkWriter& w) {
        w.begin(0x4000).str("").begin(0x4100);
        for (int i = 0; i < chunks; ++i)
            w.begin(0x4110).u16(0xFFFF).end();
        w.end().end();
    });
}

// `objects` objects whose mesh chunk begins inside the object but claims to
// run to the end of the data: the walk of each mesh covers all the objects
// after it.
inline Bytes overlappingMeshes(int objects)
{
    return scene([&](ChunkWriter& w) {
        for (int i = 0; i < objects; ++i)
            w.header(0x4000, 13).str("").header(0x4100, 0x7FFFFFFF);
    });
}

inline bool load(L3DS& importer, const Bytes& bytes)
{
    return importer.LoadMemory(bytes.data(), uint32_t(bytes.size()));
}

inline bool sameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// An L3DS with its reader internals in reach of the tests.
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

    // Reads from `bytes` (which must outlive the reads) as during a load.
    void attach(const Bytes& bytes)
    {
        buffer = bytes.data();
        bufferSize = uint32_t(bytes.size());
        position = 0;
        endOfData = false;
    }
    uint32_t pos() const { return position; }
    bool eod() const { return endOfData; }
    void setEod() { endOfData = true; }
};

} // namespace t3ds
