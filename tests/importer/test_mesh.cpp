// Mesh data and processing, against the rules on small shapes and against a
// literal transcription of the algorithms on many meshes, bit for bit.
#include "builders.h"

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
        std::vector<std::vector<size_t>> members;
        for (size_t face : lists[i]) {
            const uint32_t g = m.faceRecords[face].smoothingGroup;
            size_t k = 0;
            while (k < values.size() && values[k] != g)
                ++k;
            if (k == values.size()) {
                values.push_back(g);
                members.emplace_back();
            }
            members[k].push_back(face);
        }
        for (size_t k = 1; k < values.size() && m.vertices.size() <= 0xFFFF; ++k) {
            m.vertices.push_back(m.vertices[i]);
            m.normals.push_back(m.normals[i]);
            m.texCoords.push_back(m.texCoords[i]);
            m.tangents.push_back(m.tangents[i]);
            m.binormals.push_back(m.binormals[i]);
            const uint16_t j = uint16_t(m.vertices.size() - 1);
            for (size_t face : members[k])
                for (uint16_t* corner : {&m.faceRecords[face].a, &m.faceRecords[face].b, &m.faceRecords[face].c})
                    if (*corner == i)
                        *corner = j;
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
        float t[3], b[3];
        for (int k = 0; k < 3; ++k) {
            const float a = (&P[0].x)[k], pb = (&P[1].x)[k], pc = (&P[2].x)[k];
            const LVec3 p = cross({pb - a, T[1].u - T[0].u, T[1].v - T[0].v}, {pc - a, T[2].u - T[0].u, T[2].v - T[0].v});
            t[k] = -(p.y / p.x);
            b[k] = -(p.z / p.x);
        }
        f.faceTangent = {t[0], t[1], t[2]};
        f.faceBinormal = {b[0], b[1], b[2]};
    }
    const auto lists = adjacency(m);
    for (size_t v = 0; v < m.vertices.size(); ++v) {
        m.tangents[v] = sum(m, lists[v], &LFaceRecord::faceTangent);
        m.binormals[v] = normalise(cross(m.tangents[v], m.normals[v]));
    }
}

} // namespace ref

namespace {

bool near(const LVec3& v, const LVec3& w) { return std::fabs(v.x - w.x) + std::fabs(v.y - w.y) + std::fabs(v.z - w.z) < 3e-6f; }

// Random positions and texture coordinates, random corners (some faces
// degenerate), smoothing groups from a small set.
LMesh randomMesh(std::mt19937& rng, uint32_t vertexCount, uint32_t faceCount)
{
    std::uniform_real_distribution<float> pos(-10.0f, 10.0f), uv(0.0f, 1.0f);
    std::uniform_int_distribution<uint32_t> corner(0, vertexCount - 1), pick(0, 7), coin(0, 19);
    const uint32_t groups[8] = {0, 1, 2, 3, 5, 8, 0x80000000u, 0xFFFFFFFFu};
    LMesh m;
    m.SetVertexArraySize(vertexCount);
    for (uint32_t i = 0; i < vertexCount; ++i) {
        m.vertices[i] = {pos(rng), pos(rng), pos(rng), 1.0f};
        m.texCoords[i] = {uv(rng), uv(rng)};
    }
    m.SetTriangleArraySize(faceCount);
    for (LFaceRecord& f : m.faceRecords) {
        f.a = uint16_t(corner(rng));
        f.b = uint16_t(corner(rng));
        f.c = coin(rng) == 0 ? f.a : uint16_t(corner(rng));
        f.smoothingGroup = groups[pick(rng)];
    }
    return m;
}

} // namespace

TEST(Mesh, ArraysAndTransform)
{
    LMesh m;
    m.SetVertexArraySize(4);
    m.SetTriangleArraySize(5);
    EXPECT_EQ(m.GetVertexData(), &m.vertices[0]);
    m.vertices[1] = {1, 2, 3, 1};
    m.SetVertexArraySize(2);
    m.SetVertexArraySize(3);
    for (size_t size : {m.normals.size(), m.binormals.size(), m.tangents.size(), m.texCoords.size()})
        EXPECT_EQ(size, 3u);
    EXPECT_EQ(m.GetVertex(1).y, 2.0f);
    EXPECT_EQ(m.GetVertex(2).w, 0.0f);  // new vertices are (0, 0, 0, 0)
    EXPECT_EQ(m.faceRecords.size(), 5u);
    EXPECT_EQ(m.AddMaterial(3) + m.AddMaterial(1), 1);
    m.matrix.m[3] = 2;
    m.Clear();
    EXPECT_TRUE(sameMesh(m, LMesh()));
    EXPECT_EQ(m.GetVertexData(), nullptr);
    EXPECT_EQ(m.GetTriangleData(), nullptr);

    // Every vertex becomes matrix * v, divided by its w unless that is 0.
    const struct {
        int element;  // of the identity, set to `value`
        float value;
        LVec4 in, out;
    } rows[] = {
        {0, 1, {1, 2, 3, 1}, {1, 2, 3, 1}},
        {1, 2, {1, 1, 1, 1}, {3, 1, 1, 1}},             // x' = x + 2y
        {12, 1, {1, 1, 1, 1}, {0.5f, 0.5f, 0.5f, 1}},  // w' = x + w
        {15, 0, {1, 2, 3, 1}, {1, 2, 3, 1}},           // w' = 0: no division
        {14, 2, {1, 2, 4, 2}, {0.1f, 0.2f, 0.4f, 1}},  // w' = 2z + w
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.element);
        LMesh t;
        t.SetVertexArraySize(1);
        t.vertices[0] = row.in;
        t.matrix.m[row.element] = row.value;
        t.TransformVertices();
        EXPECT_TRUE(std::memcmp(&t.vertices[0], &row.out, sizeof row.out) == 0);
    }
}

// Normals and splits by the rules, on shapes small enough to work out.
TEST(Mesh, NormalsOfSmallShapes)
{
    const float s = 1.0f / std::sqrt(3.0f), l = std::sqrt(6.0f);
    MeshSpec tri, two, flat, degenerate, six = cube();
    tri.vertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    tri.faces = {{0, 1, 2}};
    two.vertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {-1, 0, 0}};
    two.faces = {{0, 1, 2}, {0, 2, 3}};
    two.groups = {1, 3};  // values sharing a bit are two groups
    degenerate.vertices = {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {5, 5, 5}};
    degenerate.faces = {{0, 1, 2}};
    six.groups = {1, 1, 2, 2, 4, 4, 8, 8, 16, 16, 32, 32};
    const struct {
        const char* name;
        MeshSpec shape;
        bool groups;
        uint32_t vertexCount;
        std::vector<std::pair<uint16_t, LVec3>> normals;  // of vertex
        std::vector<std::array<uint16_t, 2>> corners;     // face, its first corner
    } rows[] = {
        {"a counter-clockwise face", tri, true, 3, {{0, {0, 0, 1}}, {2, {0, 0, 1}}}, {}},
        {"a cube in one group", cube(), true, 8, {{6, {s, s, s}}, {0, {-s, -s, -s}}, {1, {2 / l, -1 / l, -1 / l}}}, {}},
        {"a cube in six groups, without them", six, false, 8, {{6, {s, s, s}}}, {}},
        {"a cube in six groups", six, true, 24,
         {{0, {0, 0, -1}}, {8, {0, -1, 0}}, {9, {-1, 0, 0}}, {22, {0, 1, 0}}, {23, {-1, 0, 0}}},
         {{0, 0}, {4, 8}, {5, 8}, {8, 9}}},
        {"groups 1 and 3", two, true, 6, {{0, {0, 0, 1}}, {4, {0, 0, 1}}}, {{1, 4}}},
        {"a degenerate face and an unused vertex", degenerate, true, 4, {{1, {0, 0, 0}}, {3, {0, 0, 0}}}, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        LMesh m = meshFrom(row.shape);
        m.normals.assign(m.normals.size(), LVec3{9, 9, 9});
        m.CalcNormals(row.groups);
        EXPECT_EQ(m.GetVertexCount(), row.vertexCount);
        for (const auto& n : row.normals)
            EXPECT_TRUE(near(m.GetNormal(n.first), n.second)) << n.first;
        for (const auto& c : row.corners)
            EXPECT_EQ(m.GetFace(c[0]).a, c[1]) << c[0];
        for (uint32_t i = 0; i < m.GetTriangleCount(); ++i)
            EXPECT_TRUE(m.triangles[i].a == m.faceRecords[i].a && m.triangles[i].c == m.faceRecords[i].c);
    }

    // Texture space: along +u on a flat quad; not finite without coordinates.
    flat.vertices = {{0, 0, 0}, {2, 0, 0}, {2, 2, 0}, {0, 2, 0}, {9, 9, 9}};
    flat.uvs = {{0, 0}, {1, 0}, {1, 1}, {0, 1}, {0, 0}};
    flat.faces = {{0, 1, 2}, {0, 2, 3}, {0, 4, 7}};
    LMesh q = meshFrom(flat);
    q.CalcTextureSpace();  // alone, it skips the face naming a missing vertex
    EXPECT_EQ(q.GetFace(2).faceTangent.x, 0.0f);
    q.CalcNormals(true);
    q.CalcTextureSpace();
    for (uint32_t v = 0; v < 4; ++v) {
        EXPECT_TRUE(near(q.GetTangent(v), {1, 0, 0}) && near(q.GetBinormal(v), {0, -1, 0})) << v;
        EXPECT_TRUE(near(q.GetNormal(v), {0, 0, 1})) << v;
    }
    EXPECT_TRUE(near(q.GetFace(0).faceBinormal, {0, 2, 0}));  // per face: not normalised
    LMesh c = meshFrom(cube());
    c.normals.clear();  // broken list lengths are restored first
    c.tangents.resize(2);
    c.triangles.clear();
    c.CalcNormals(true);
    c.CalcTextureSpace();
    EXPECT_EQ(c.normals.size() + c.tangents.size() + c.triangles.size(), 8u + 8u + 12u);
    EXPECT_FALSE(std::isfinite(c.GetTangent(3).x) || std::isfinite(c.GetBinormal(3).y));
}

// The library's processing gives the literal algorithm's results to the bit,
// whichever entry point is used.
TEST(Mesh, MatchesTheLiteralAlgorithm)
{
    std::mt19937 rng(1234);
    std::vector<std::pair<std::string, LMesh>> meshes;
    for (int round = 0; round < 30; ++round)
        meshes.emplace_back("random " + std::to_string(round), randomMesh(rng, 3 + rng() % 500, 1 + rng() % 1500));
    MeshSpec twice;
    twice.vertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    twice.faces = {{0, 1, 2}, {0, 3, 1}, {0, 0, 3}};  // a face naming vertex 0 twice is listed twice
    twice.groups = {1, 2, 2};
    meshes.emplace_back("a corner named twice", meshFrom(twice));
    // A fan of 60 faces around vertex 0 in 40 groups: more than a short list holds.
    MeshSpec fan;
    fan.vertices.push_back({0, 0, 0});
    for (int i = 0; i <= 60; ++i)
        fan.vertices.push_back({std::cos(i * 0.1f), std::sin(i * 0.1f), 0.1f * i});
    for (int i = 0; i < 60; ++i) {
        fan.faces.push_back({0, uint16_t(1 + i), uint16_t(2 + i)});
        fan.groups.push_back(uint32_t(i % 40) * 7u);
    }
    meshes.emplace_back("a fan", meshFrom(fan));
    // 65,530 vertices, vertex 0 in ten groups: six of its nine copies fit.
    LMesh limit;
    limit.SetVertexArraySize(65530);
    for (uint32_t i = 0; i < 65530; ++i)
        limit.vertices[i] = {float(i % 256), float(i / 256), 0.0f, 1.0f};
    limit.SetTriangleArraySize(10);
    for (uint16_t i = 0; i < 10; ++i)
        limit.faceRecords[i] = {0, uint16_t(1 + i), uint16_t(257 + i), 1u << i, {}, {}, {}, 0};
    meshes.emplace_back("splits up to index 65535", limit);
    meshes.emplace_back("a large grid", meshFrom(grid("Grid", 120, 100, 9)));

    for (auto& [name, original] : meshes) {
        SCOPED_TRACE(name);
        for (uint32_t v = 0; v < original.GetVertexCount(); ++v) {
            original.tangents[v] = {float(v), 1, 2};
            original.binormals[v] = {3, float(v), 4};
        }
        for (int pipeline = 0; pipeline < 4; ++pipeline) {
            SCOPED_TRACE(pipeline);
            LMesh got = original, want = original;
            ref::calcNormals(want, pipeline != 0);
            if (pipeline < 2) {
                got.CalcNormals(pipeline != 0);
                got.CalcTextureSpace();
            } else if (pipeline == 2) {
                got.CalcNormalsAndTextureSpace();
            } else {
                got.CalcNormals(true);
            }
            if (pipeline < 3)
                ref::calcTextureSpace(want);
            ASSERT_TRUE(sameMesh(got, want));
            if (name == "a fan" && pipeline == 3) {
                // 39 copies of vertex 0, 59 of the rim vertices 2..60.
                EXPECT_EQ(got.GetVertexCount(), 62u + 39u + 59u);
                EXPECT_EQ(got.GetFace(40).a, 0);  // group 0 again keeps vertex 0
                EXPECT_EQ(got.GetFace(41).a, got.GetFace(1).a);
            }
            if (name == "splits up to index 65535" && pipeline == 3) {
                EXPECT_EQ(got.GetVertexCount(), 65536u);
                for (auto [face, corner] : {std::pair<int, int>{0, 0}, {1, 65530}, {6, 65535}, {7, 0}, {9, 0}})
                    EXPECT_EQ(got.GetFace(face).a, corner) << face;
            }
        }
    }
}
