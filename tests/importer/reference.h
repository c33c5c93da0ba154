// A literal, unoptimised transcription of the CalcNormals and
// CalcTextureSpace algorithms: per-vertex std::vector adjacency lists,
// groups found by linear scans, sums gathered in list order. The tests
// compare LMesh against it bit for bit.
#pragma once

#include <lobjects.h>

#include <cmath>
#include <vector>

namespace ref {

inline LVec3 normalise(LVec3 v)
{
    float l = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
    if (l == 0.0f)
        return v;
    float inv = 1.0f / l;
    return {v.x * inv, v.y * inv, v.z * inv};
}

inline LVec3 cross(LVec3 p, LVec3 q)
{
    return {p.y * q.z - p.z * q.y, p.z * q.x - p.x * q.z, p.x * q.y - p.y * q.x};
}

inline LVec3 add(LVec3 a, LVec3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }

using Lists = std::vector<std::vector<size_t>>;

inline Lists adjacency(size_t vertexCount, const std::vector<LFaceRecord>& faces)
{
    Lists lists(vertexCount);
    for (size_t i = 0; i < faces.size(); ++i) {
        lists[faces[i].a].push_back(i);
        lists[faces[i].b].push_back(i);
        lists[faces[i].c].push_back(i);
    }
    return lists;
}

// Expects every corner below the vertex count. Splits that would need an
// index above 65535 are refused, as LMesh does.
inline void calcNormals(LMesh& m, bool useSmoothingGroups)
{
    for (auto& f : m.faceRecords) {
        LVec4 A = m.vertices[f.a], B = m.vertices[f.b], C = m.vertices[f.c];
        LVec3 bc = {B.x - C.x, B.y - C.y, B.z - C.z};
        LVec3 ba = {B.x - A.x, B.y - A.y, B.z - A.z};
        f.faceNormal = normalise(cross(bc, ba));
    }
    Lists lists = adjacency(m.vertices.size(), m.faceRecords);
    if (useSmoothingGroups) {
        const size_t N = m.vertices.size();
        for (size_t i = 0; i < N; ++i) {
            if (lists[i].empty())
                continue;
            std::vector<uint32_t> values;
            std::vector<std::vector<size_t>> members;
            for (size_t face : lists[i]) {
                uint32_t g = m.faceRecords[face].smoothingGroup;
                size_t k = 0;
                while (k < values.size() && values[k] != g)
                    ++k;
                if (k == values.size()) {
                    values.push_back(g);
                    members.emplace_back();
                }
                members[k].push_back(face);
            }
            for (size_t k = 1; k < values.size(); ++k) {
                if (m.vertices.size() > 0xFFFF)
                    break;  // the implementer's choice: no index above 65535
                m.vertices.push_back(m.vertices[i]);
                m.normals.push_back(m.normals[i]);
                m.texCoords.push_back(m.texCoords[i]);
                m.tangents.push_back(m.tangents[i]);
                m.binormals.push_back(m.binormals[i]);
                uint16_t j = uint16_t(m.vertices.size() - 1);
                for (size_t face : members[k]) {
                    LFaceRecord& f = m.faceRecords[face];
                    if (f.a == i) f.a = j;
                    if (f.b == i) f.b = j;
                    if (f.c == i) f.c = j;
                }
            }
        }
        lists = adjacency(m.vertices.size(), m.faceRecords);
    }
    for (size_t v = 0; v < m.vertices.size(); ++v) {
        LVec3 sum = {0, 0, 0};
        for (size_t face : lists[v])
            sum = add(sum, m.faceRecords[face].faceNormal);
        m.normals[v] = normalise(sum);
    }
    m.triangles.resize(m.faceRecords.size());
    for (size_t i = 0; i < m.faceRecords.size(); ++i)
        m.triangles[i] = {m.faceRecords[i].a, m.faceRecords[i].b, m.faceRecords[i].c};
}

inline void calcTextureSpace(LMesh& m)
{
    for (auto& f : m.faceRecords) {
        const LVec4 P[3] = {m.vertices[f.a], m.vertices[f.b], m.vertices[f.c]};
        const LVec2 T[3] = {m.texCoords[f.a], m.texCoords[f.b], m.texCoords[f.c]};
        float pa[3] = {P[0].x, P[0].y, P[0].z}, pb[3] = {P[1].x, P[1].y, P[1].z},
              pc[3] = {P[2].x, P[2].y, P[2].z};
        float t[3], b[3];
        for (int k = 0; k < 3; ++k) {
            LVec3 e1 = {pb[k] - pa[k], T[1].u - T[0].u, T[1].v - T[0].v};
            LVec3 e2 = {pc[k] - pa[k], T[2].u - T[0].u, T[2].v - T[0].v};
            LVec3 p = cross(e1, e2);
            t[k] = -(p.y / p.x);
            b[k] = -(p.z / p.x);
        }
        f.faceTangent = {t[0], t[1], t[2]};
        f.faceBinormal = {b[0], b[1], b[2]};
    }
    Lists lists = adjacency(m.vertices.size(), m.faceRecords);
    for (size_t v = 0; v < m.vertices.size(); ++v) {
        LVec3 sum = {0, 0, 0};
        for (size_t face : lists[v])
            sum = add(sum, m.faceRecords[face].faceTangent);
        m.tangents[v] = normalise(sum);
        m.binormals[v] = normalise(cross(m.tangents[v], m.normals[v]));
    }
}

} // namespace ref
