// Mesh data and processing, against the rules on small shapes and against a
// literal transcription of the algorithms on many meshes, bit for bit.
#include "builders.h"

#include <algorithm>
#include <cmath>
#include <random>

using namespace t3ds;

namespace ref {

LVec3 normalise(LVec3 v)
{
    const float l = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
    if (l == 0.0f)
        return v;
    const float inv = 1.0f / l;
    return {v.x * inv, v.y * inv, v.z * inv};
}

LVec3 cross(LVec3 p, LVec3 q) { return {p.y * q.z - p.z * q.y, p.z * q.x - p.x * q.z, p.x * q.y - p.y * q.x}; }

// For each vertex, the faces using it, each corner in turn.
std::vector<std::vector<size_t>> adjacency(const LMesh& m)
{
    std::vector<std::vector<size_t>> lists(m.vertices.size());
    for (size_t i = 0; i < m.faceRecords.size(); ++i)
        for (uint16_t v : {m.faceRecords[i].a, m.faceRecords[i].b, m.faceRecords[i].c})
            lists[v].push_back(i);
    return lists;
}

// The sum, in list order, of one vector of each listed face, normalised.
LVec3 sum(const LMesh& m, const std::vector<size_t>& faces, LVec3 LFaceRecord::*field)
{
    LVec3 s = {0, 0, 0};
    for (size_t f : faces)
        s = {s.x + (m.faceRecords[f].*field).x, s.y + (m.faceRecords[f].*field).y, s.z + (m.faceRecords[f].*field).z};
    return normalise(s);
}

// Every corner must be below the vertex count. A split that would need an
// index above 65535 is refused.
void calcNormals(LMesh& m, bool useSmoothingGroups)
{
    for (auto& f : m.faceRecords) {
        const LVec4 A = m.vertices[f.a], B = m.vertices[f.b], C = m.vertices[f.c];
        f.faceNormal = normalise(cross({B.x - C.x, B.y - C.y, B.z - C.z}, {B.x - A.x, B.y - A.y, B.z - A.z}));
    }
    auto lists = adjacency(m);
    for (size_t i = 0, n = m.vertices.size(); useSmoothingGroups && i < n; ++i) {
        std::vector<uint32_t> values;  // the groups, by first appearance
        for (size_t face : lists[i])
            if (std::find(values.begin(), values.end(), m.faceRecords[face].smoothingGroup) == values.end())
                values.push_back(m.faceRecords[face].smoothingGroup);
        for (size_t k = 1; k < values.size() && m.vertices.size() <= 0xFFFF; ++k) {
            m.vertices.push_back(m.vertices[i]), m.normals.push_back(m.normals[i]), m.texCoords.push_back(m.texCoords[i]);
            m.tangents.push_back(m.tangents[i]), m.binormals.push_back(m.binormals[i]);
            for (size_t face : lists[i])  // the group's faces take the copy at every corner that was vertex i
                for (uint16_t* corner : {&m.faceRecords[face].a, &m.faceRecords[face].b, &m.faceRecords[face].c})
                    if (m.faceRecords[face].smoothingGroup == values[k] && *corner == i)
                        *corner = uint16_t(m.vertices.size() - 1);
        }
    }
    if (useSmoothingGroups)
        lists = adjacency(m);
    for (size_t v = 0; v < m.vertices.size(); ++v)
        m.normals[v] = sum(m, lists[v], &LFaceRecord::faceNormal);
    m.triangles.resize(m.faceRecords.size());
    for (size_t i = 0; i < m.faceRecords.size(); ++i)
        m.triangles[i] = {m.faceRecords[i].a, m.faceRecords[i].b, m.faceRecords[i].c};
}

void calcTextureSpace(LMesh& m)
{
    for (auto& f : m.faceRecords) {
        const LVec4 P[3] = {m.vertices[f.a], m.vertices[f.b], m.vertices[f.c]};
        const LVec2 T[3] = {m.texCoords[f.a], m.texCoords[f.b], m.texCoords[f.c]};
        for (int k = 0; k < 3; ++k) {
            const float a = (&P[0].x)[k], pb = (&P[1].x)[k], pc = (&P[2].x)[k];
            const LVec3 p = cross({pb - a, T[1].u - T[0].u, T[1].v - T[0].v}, {pc - a, T[2].u - T[0].u, T[2].v - T[0].v});
            (&f.faceTangent.x)[k] = -(p.y / p.x), (&f.faceBinormal.x)[k] = -(p.z / p.x);
        }
    }
    const auto lists = adjacency(m);
    for (size_t v = 0; v < m.vertices.size(); ++v) {
        m.tangents[v] = sum(m, lists[v], &LFaceRecord::faceTangent);
        m.binormals[v] = normalise(cross(m.tangents[v], m.normals[v]));
    }
}

} // namespace ref

// The library's processing gives the literal algorithm's results to the bit,
// whichever entry point is used.
TEST(Mesh, MatchesTheLiteralAlgorithm)
{
    std::mt19937 rng(1234);
    std::vector<std::pair<std::string, LMesh>> meshes;
    const uint32_t groups[8] = {0, 1, 2, 3, 5, 8, 0x80000000u, 0xFFFFFFFFu};
    std::uniform_real_distribution<float> any(-10.0f, 10.0f);
    for (int round = 0; round < 30; ++round) {
        // Random positions, texture coordinates and corners (some faces
        // degenerate), groups from a small set.
        LMesh m;
        m.SetVertexArraySize(3 + rng() % 500);
        m.SetTriangleArraySize(1 + rng() % 1500);
        for (uint32_t i = 0; i < m.GetVertexCount(); ++i)
            m.vertices[i] = {any(rng), any(rng), any(rng), 1.0f}, m.texCoords[i] = {any(rng), any(rng)};
        for (LFaceRecord& f : m.faceRecords) {
            const uint32_t n = m.GetVertexCount();
            f = {uint16_t(rng() % n), uint16_t(rng() % n), uint16_t(rng() % n), groups[rng() % 8], {}, {}, {}, 0};
            f.c = rng() % 20 ? f.c : f.a;
        }
        meshes.emplace_back("random " + std::to_string(round), m);
    }
    // A face naming vertex 0 twice is listed twice.
    meshes.emplace_back("a corner named twice", meshFrom({"T", {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}}, {},
                                                          {{0, 1, 2}, {0, 3, 1}, {0, 0, 3}}, {1, 2, 2}}));
    // A fan of 60 faces around vertex 0 in 40 groups: more than a short list holds.
    MeshObject fan{"Fan", {{0, 0, 0}, {1, 0, 0}}};
    for (int i = 1; i <= 60; ++i)
        fan.vertices.push_back({std::cos(i * 0.1f), std::sin(i * 0.1f), 0.1f * i}),
            fan.faces.push_back({0, uint16_t(i), uint16_t(i + 1)}), fan.groups.push_back(uint32_t((i - 1) % 40) * 7u);
    meshes.emplace_back("a fan", meshFrom(fan));
    // 65,530 vertices, vertex 0 in ten groups: six of its nine copies fit.
    MeshObject limit{"Limit"};
    for (uint32_t i = 0; i < 65530; ++i)
        limit.vertices.push_back({float(i % 256), float(i / 256), 0.0f});
    for (uint16_t i = 0; i < 10; ++i)
        limit.faces.push_back({0, uint16_t(1 + i), uint16_t(257 + i)}), limit.groups.push_back(1u << i);
    meshes.emplace_back("splits up to index 65535", meshFrom(limit));
    meshes.emplace_back("a large grid", meshFrom(grid("Grid", 120, 100, 9)));

    for (auto& [name, original] : meshes) {
        for (uint32_t v = 0; v < original.GetVertexCount(); ++v)
            original.tangents[v] = {float(v), 1, 2}, original.binormals[v] = {3, float(v), 4};
        for (int pipeline = 0; pipeline < 4; ++pipeline) {
            SCOPED_TRACE(name + ", pipeline " + std::to_string(pipeline));
            LMesh got = original, want = original;
            ref::calcNormals(want, pipeline != 0);
            if (pipeline < 3)
                ref::calcTextureSpace(want);
            pipeline == 2 ? got.CalcNormalsAndTextureSpace() : got.CalcNormals(pipeline != 0);
            if (pipeline < 2)
                got.CalcTextureSpace();
            ASSERT_TRUE(sameMesh(got, want));
        }
    }
    LMesh limitDone = meshFrom(limit);
    limitDone.CalcNormals(true);
    EXPECT_TRUE(limitDone.GetVertexCount() == 65536 && limitDone.GetFace(1).a == 65530 && limitDone.GetFace(7).a == 0);
}
