// Mesh data and processing.
#include "builders.h"
#include "reference.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

using namespace t3ds;

namespace {

LMesh meshFrom(const MeshSpec& shape)
{
    LMesh m;
    m.SetVertexArraySize(uint32_t(shape.vertices.size()));
    for (size_t i = 0; i < shape.vertices.size(); ++i)
        m.vertices[i] = {shape.vertices[i][0], shape.vertices[i][1], shape.vertices[i][2], 1.0f};
    for (size_t i = 0; i < shape.uvs.size() && i < shape.vertices.size(); ++i)
        m.texCoords[i] = {shape.uvs[i][0], shape.uvs[i][1]};
    m.SetTriangleArraySize(uint32_t(shape.faces.size()));
    for (size_t i = 0; i < shape.faces.size(); ++i) {
        LFaceRecord& f = m.faceRecords[i];
        f.a = shape.faces[i][0];
        f.b = shape.faces[i][1];
        f.c = shape.faces[i][2];
        f.smoothingGroup = i < shape.groups.size() ? shape.groups[i] : 1;
    }
    return m;
}

template <class T>
bool sameBytes(const std::vector<T>& a, const std::vector<T>& b)
{
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(T)) == 0);
}

void expectSameMesh(const LMesh& got, const LMesh& want)
{
    EXPECT_TRUE(sameBytes(got.vertices, want.vertices));
    EXPECT_TRUE(sameBytes(got.normals, want.normals));
    EXPECT_TRUE(sameBytes(got.texCoords, want.texCoords));
    EXPECT_TRUE(sameBytes(got.tangents, want.tangents));
    EXPECT_TRUE(sameBytes(got.binormals, want.binormals));
    EXPECT_TRUE(sameBytes(got.triangles, want.triangles));
    ASSERT_EQ(got.faceRecords.size(), want.faceRecords.size());
    for (size_t i = 0; i < got.faceRecords.size(); ++i) {
        const LFaceRecord& g = got.faceRecords[i];
        const LFaceRecord& w = want.faceRecords[i];
        ASSERT_TRUE(g.a == w.a && g.b == w.b && g.c == w.c) << i;
        ASSERT_EQ(0, std::memcmp(&g.faceNormal, &w.faceNormal, sizeof(LVec3))) << i;
        ASSERT_EQ(0, std::memcmp(&g.faceTangent, &w.faceTangent, sizeof(LVec3))) << i;
        ASSERT_EQ(0, std::memcmp(&g.faceBinormal, &w.faceBinormal, sizeof(LVec3))) << i;
    }
}

bool near(const LVec3& v, float x, float y, float z, float eps = 1e-6f)
{
    return std::fabs(v.x - x) <= eps && std::fabs(v.y - y) <= eps && std::fabs(v.z - z) <= eps;
}

// A random mesh: random positions and texture coordinates, faces with random
// corners (some degenerate), smoothing groups from a small set.
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
    for (uint32_t i = 0; i < faceCount; ++i) {
        LFaceRecord& f = m.faceRecords[i];
        f.a = uint16_t(corner(rng));
        f.b = uint16_t(corner(rng));
        f.c = coin(rng) == 0 ? f.a : uint16_t(corner(rng));
        f.smoothingGroup = groups[pick(rng)];
    }
    return m;
}

} // namespace

TEST(Mesh, ArraySizesAndZeroFill)
{
    LMesh m;
    m.SetVertexArraySize(4);
    EXPECT_EQ(m.GetVertexCount(), 4u);
    EXPECT_EQ(m.normals.size(), 4u);
    EXPECT_EQ(m.binormals.size(), 4u);
    EXPECT_EQ(m.tangents.size(), 4u);
    EXPECT_EQ(m.texCoords.size(), 4u);
    EXPECT_EQ(m.GetVertex(3).w, 0.0f);  // new vertices are (0, 0, 0, 0)
    m.vertices[1] = {1, 2, 3, 1};
    m.SetVertexArraySize(2);
    m.SetVertexArraySize(3);
    EXPECT_EQ(m.GetVertex(1).y, 2.0f);
    EXPECT_EQ(m.GetVertex(2).x, 0.0f);
    m.SetTriangleArraySize(5);
    EXPECT_EQ(m.GetTriangleCount(), 5u);
    EXPECT_EQ(m.faceRecords.size(), 5u);
    EXPECT_EQ(m.AddMaterial(3), 0);
    EXPECT_EQ(m.AddMaterial(1), 1);
    m.Clear();
    EXPECT_EQ(m.GetVertexCount(), 0u);
    EXPECT_EQ(m.GetTriangleCount(), 0u);
    EXPECT_EQ(m.GetMaterialCount(), 0u);
}

TEST(Mesh, DrawnArraysArePackedAndContiguous)
{
    LMesh m = meshFrom(cube());
    m.CalcNormals(true);
    const float* v = reinterpret_cast<const float*>(m.GetVertexData());
    EXPECT_EQ(v, &m.vertices[0].x);
    EXPECT_EQ(v[4 * 6 + 0], 1.0f);  // vertex 6 = (1, 1, 1, 1)
    EXPECT_EQ(v[4 * 6 + 3], 1.0f);
    const uint16_t* idx = reinterpret_cast<const uint16_t*>(m.GetTriangleData());
    EXPECT_EQ(idx, &m.triangles[0].a);
    EXPECT_EQ(idx[3 * 2 + 0], 4);  // face 2 = (4, 5, 6)
    EXPECT_EQ(idx[3 * 2 + 2], 6);
}

TEST(Mesh, FaceNormalPointsTowardTheViewerOfACounterClockwiseFace)
{
    MeshSpec s;
    s.vertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    s.faces = {{0, 1, 2}};
    LMesh m = meshFrom(s);
    m.CalcNormals(false);
    EXPECT_TRUE(near(m.GetFace(0).faceNormal, 0, 0, 1));
    for (uint32_t v = 0; v < 3; ++v)
        EXPECT_TRUE(near(m.GetNormal(v), 0, 0, 1));
}

TEST(Mesh, CubeWithSixGroupsSplitsInto24Vertices)
{
    MeshSpec s = cube();
    s.groups = {1, 1, 2, 2, 4, 4, 8, 8, 16, 16, 32, 32};
    LMesh m = meshFrom(s);
    m.CalcNormals(true);
    EXPECT_EQ(m.GetVertexCount(), 24u);
    EXPECT_EQ(m.normals.size(), 24u);
    EXPECT_EQ(m.texCoords.size(), 24u);
    // Every vertex normal is the face normal of one side.
    for (uint32_t i = 0; i < m.GetTriangleCount(); ++i) {
        const LFaceRecord& f = m.GetFace(i);
        for (uint16_t v : {f.a, f.b, f.c})
            EXPECT_TRUE(near(m.GetNormal(v), f.faceNormal.x, f.faceNormal.y, f.faceNormal.z)) << i;
        EXPECT_EQ(m.GetTriangle(i).a, f.a);
        EXPECT_EQ(m.GetTriangle(i).b, f.b);
        EXPECT_EQ(m.GetTriangle(i).c, f.c);
    }
    EXPECT_TRUE(near(m.GetFace(0).faceNormal, 0, 0, -1));
    EXPECT_TRUE(near(m.GetFace(11).faceNormal, 1, 0, 0));
    // Vertex 0 stays with the first group (the -z side: faces 0 and 1), its
    // copies are appended in group order: -y (faces 4, 5), then -x (8, 9).
    EXPECT_EQ(m.GetFace(0).a, 0);
    EXPECT_EQ(m.GetFace(4).a, 8);
    EXPECT_EQ(m.GetFace(5).a, 8);
    EXPECT_EQ(m.GetFace(8).a, 9);
    EXPECT_EQ(m.GetVertex(8).x, 0.0f);
    EXPECT_EQ(m.GetVertex(8).w, 1.0f);
}

TEST(Mesh, CubeInOneGroupKeepsItsVertices)
{
    LMesh m = meshFrom(cube());  // all faces in group 1
    m.CalcNormals(true);
    EXPECT_EQ(m.GetVertexCount(), 8u);
    // Vertex 6 = (1, 1, 1) is used by faces 2, 3 (+z), 6, 7 (+y), 10, 11 (+x).
    const float s = 1.0f / std::sqrt(3.0f);
    EXPECT_TRUE(near(m.GetNormal(6), s, s, s));
    // Vertex 0 is used by faces 0, 1, 4, 5, 8, 9: -z twice, -y twice, -x twice.
    EXPECT_TRUE(near(m.GetNormal(0), -s, -s, -s));
    // Vertex 1 is used by face 0 (-z), 4 (-y), 10, 11 (+x): sum (2, -1, -1).
    const float l = std::sqrt(6.0f);
    EXPECT_TRUE(near(m.GetNormal(1), 2 / l, -1 / l, -1 / l));
}

TEST(Mesh, GroupValuesSharingABitStillSplit)
{
    MeshSpec s;
    s.vertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {-1, 0, 0}};
    s.faces = {{0, 1, 2}, {0, 2, 3}};
    s.groups = {1, 3};
    LMesh m = meshFrom(s);
    m.CalcNormals(true);
    EXPECT_EQ(m.GetVertexCount(), 6u);  // vertex 0 and vertex 2 split
    EXPECT_EQ(m.GetFace(1).a, 4);
    EXPECT_EQ(m.GetFace(1).b, 5);
}

TEST(Mesh, NoSplitWithoutSmoothingGroups)
{
    MeshSpec s = cube();
    s.groups = {1, 1, 2, 2, 4, 4, 8, 8, 16, 16, 32, 32};
    LMesh m = meshFrom(s);
    m.CalcNormals(false);
    EXPECT_EQ(m.GetVertexCount(), 8u);
    const float x = 1.0f / std::sqrt(3.0f);
    EXPECT_TRUE(near(m.GetNormal(6), x, x, x));
}

TEST(Mesh, DegenerateFaceAndUnusedVertex)
{
    MeshSpec s;
    s.vertices = {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {5, 5, 5}};
    s.faces = {{0, 1, 2}};
    s.groups = {1};
    LMesh m = meshFrom(s);
    m.normals[3] = {1, 1, 1};
    m.CalcNormals(true);
    EXPECT_EQ(m.GetVertexCount(), 4u);
    EXPECT_TRUE(near(m.GetFace(0).faceNormal, 0, 0, 0, 0));
    for (uint32_t v = 0; v < 4; ++v)
        EXPECT_TRUE(near(m.GetNormal(v), 0, 0, 0, 0)) << v;
}

TEST(Mesh, FaceNamingAVertexTwiceIsListedTwice)
{
    MeshSpec s;
    s.vertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    s.faces = {{0, 1, 2}, {0, 3, 1}, {0, 0, 3}};
    s.groups = {1, 2, 2};
    LMesh m = meshFrom(s);
    LMesh want = m;
    m.CalcNormals(true);
    ref::calcNormals(want, true);
    expectSameMesh(m, want);
    EXPECT_EQ(m.GetFace(2).a, m.GetFace(2).b);
    EXPECT_EQ(m.GetFace(2).a, m.GetFace(1).a);
}

TEST(Mesh, SplitCopiesTheVertexData)
{
    MeshSpec s;
    s.vertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {-1, 0, 0}};
    s.uvs = {{0.25f, 0.75f}, {1, 0}, {0, 1}, {0, 0}};
    s.faces = {{0, 1, 2}, {0, 2, 3}};
    s.groups = {4, 9};
    LMesh m = meshFrom(s);
    m.tangents[0] = {7, 7, 7};
    m.binormals[0] = {8, 8, 8};
    m.CalcNormals(true);
    ASSERT_EQ(m.GetVertexCount(), 6u);
    EXPECT_EQ(m.GetUV(4).u, 0.25f);
    EXPECT_EQ(m.GetUV(4).v, 0.75f);
    EXPECT_EQ(m.GetTangent(4).x, 7.0f);
    EXPECT_EQ(m.GetBinormal(4).y, 8.0f);
}

TEST(Mesh, TextureSpaceOfAFlatQuad)
{
    MeshSpec s;
    s.vertices = {{0, 0, 0}, {2, 0, 0}, {2, 2, 0}, {0, 2, 0}};
    s.uvs = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    s.faces = {{0, 1, 2}, {0, 2, 3}};
    LMesh m = meshFrom(s);
    m.CalcNormals(true);
    m.CalcTextureSpace();
    for (uint32_t v = 0; v < 4; ++v) {
        EXPECT_TRUE(near(m.GetNormal(v), 0, 0, 1)) << v;
        EXPECT_TRUE(near(m.GetTangent(v), 1, 0, 0)) << v;   // along +u
        EXPECT_TRUE(near(m.GetBinormal(v), 0, -1, 0)) << v;  // tangent x normal
    }
    EXPECT_TRUE(near(m.GetFace(0).faceBinormal, 0, 2, 0));  // per face: not normalised
}

TEST(Mesh, TextureSpaceWithoutTextureCoordinatesIsNotFinite)
{
    LMesh m = meshFrom(cube());
    m.CalcNormals(true);
    m.CalcTextureSpace();
    for (uint32_t v = 0; v < m.GetVertexCount(); ++v) {
        EXPECT_FALSE(std::isfinite(m.GetTangent(v).x)) << v;
        EXPECT_FALSE(std::isfinite(m.GetBinormal(v).x)) << v;
    }
}

TEST(Mesh, TransformVertices)
{
    LMesh m = meshFrom(cube());
    m.TransformVertices();  // identity
    for (uint32_t v = 0; v < 8; ++v) {
        EXPECT_EQ(m.GetVertex(v).x, cube().vertices[v][0]);
        EXPECT_EQ(m.GetVertex(v).y, cube().vertices[v][1]);
        EXPECT_EQ(m.GetVertex(v).z, cube().vertices[v][2]);
        EXPECT_EQ(m.GetVertex(v).w, 1.0f);
    }
    // Row 3 takes the file's fourth triple and enters w.
    LMat4 mat = LMat4::Identity();
    mat.m[12] = 1.0f;  // w' = x + w
    mat.m[1] = 2.0f;   // x' = x + 2y
    m.SetMatrix(mat);
    m.TransformVertices();
    EXPECT_EQ(m.GetVertex(6).x, 1.5f);  // (1 + 2) / 2
    EXPECT_EQ(m.GetVertex(6).y, 0.5f);
    EXPECT_EQ(m.GetVertex(6).w, 1.0f);
    EXPECT_EQ(m.GetVertex(3).x, 2.0f);  // (0 + 2) / 1
    // w' = 0: no division, w still becomes 1.
    LMat4 zero = LMat4::Identity();
    zero.m[15] = 0.0f;
    m.SetMatrix(zero);
    m.TransformVertices();
    EXPECT_EQ(m.GetVertex(6).x, 1.5f);
    EXPECT_EQ(m.GetVertex(6).w, 1.0f);
}

TEST(Mesh, InvalidCornersAreRemovedNotRead)
{
    MeshSpec s;
    s.vertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    s.faces = {{0, 1, 2}, {0, 1, 3}, {3, 4, 5}, {2, 1, 0}};
    LMesh m = meshFrom(s);
    m.CalcNormals(true);
    ASSERT_EQ(m.GetTriangleCount(), 2u);
    EXPECT_EQ(m.GetTriangle(1).a, 2);
    // CalcTextureSpace alone skips such faces.
    LMesh n = meshFrom(s);
    n.CalcTextureSpace();
    EXPECT_EQ(n.GetTriangleCount(), 4u);
    EXPECT_EQ(n.GetFace(1).faceTangent.x, 0.0f);
}

TEST(Mesh, BrokenArrayLengthsAreRestoredBeforeProcessing)
{
    LMesh m = meshFrom(cube());
    m.normals.clear();
    m.tangents.resize(2);
    m.triangles.clear();
    m.CalcNormals(true);
    m.CalcTextureSpace();
    EXPECT_EQ(m.normals.size(), m.vertices.size());
    EXPECT_EQ(m.tangents.size(), m.vertices.size());
    EXPECT_EQ(m.GetTriangleCount(), 12u);
}

TEST(Mesh, MatchesTheLiteralAlgorithmOnRandomMeshes)
{
    std::mt19937 rng(1234);
    for (int round = 0; round < 30; ++round) {
        SCOPED_TRACE(round);
        const uint32_t vertices = 3 + rng() % 500;
        const uint32_t faces = 1 + rng() % 1500;
        const LMesh original = randomMesh(rng, vertices, faces);
        for (bool groups : {false, true}) {
            LMesh got = original, want = original;
            got.CalcNormals(groups);
            got.CalcTextureSpace();
            ref::calcNormals(want, groups);
            ref::calcTextureSpace(want);
            expectSameMesh(got, want);
        }
        LMesh fused = original, want = original;
        fused.CalcNormalsAndTextureSpace();
        ref::calcNormals(want, true);
        ref::calcTextureSpace(want);
        expectSameMesh(fused, want);
        LMesh normalsOnly = original, wantNormals = original;
        normalsOnly.tangents.assign(normalsOnly.tangents.size(), LVec3{1, 2, 3});
        wantNormals.tangents = normalsOnly.tangents;
        normalsOnly.CalcNormals(true);
        ref::calcNormals(wantNormals, true);
        expectSameMesh(normalsOnly, wantNormals);
    }
}

TEST(Mesh, ManyGroupsAtOneVertex)
{
    // A fan of 60 faces around vertex 0, each in its own group and some
    // groups repeated: exercises grouping beyond the short linear list.
    MeshSpec s;
    s.vertices.push_back({0, 0, 0});
    for (int i = 0; i <= 60; ++i)
        s.vertices.push_back({std::cos(i * 0.1f), std::sin(i * 0.1f), 0.1f * i});
    for (int i = 0; i < 60; ++i) {
        s.faces.push_back({0, uint16_t(1 + i), uint16_t(2 + i)});
        s.groups.push_back(uint32_t(i % 40) * 7u);
    }
    LMesh got = meshFrom(s), want = got, fused = got;
    got.CalcNormals(true);
    ref::calcNormals(want, true);
    expectSameMesh(got, want);
    fused.CalcNormalsAndTextureSpace();
    got.CalcTextureSpace();
    expectSameMesh(fused, got);
    // 40 distinct groups at vertex 0 (39 copies); rim vertices 2..60 each
    // join two faces of different groups (59 copies).
    EXPECT_EQ(got.GetVertexCount(), 62u + 39u + 59u);
    EXPECT_EQ(got.GetFace(40).a, 0);  // group 0 again: the first group keeps vertex 0
    EXPECT_EQ(got.GetFace(41).a, got.GetFace(1).a);
}

TEST(Mesh, SplitsStopAtIndex65535)
{
    // 65530 vertices; vertex 0 in ten groups needs nine copies, of which only
    // six fit below 65536. The remaining groups keep vertex 0.
    LMesh m;
    m.SetVertexArraySize(65530);
    for (uint32_t i = 0; i < 65530; ++i)
        m.vertices[i] = {float(i % 256), float(i / 256), 0.0f, 1.0f};
    m.SetTriangleArraySize(10);
    for (uint16_t i = 0; i < 10; ++i) {
        LFaceRecord& f = m.faceRecords[i];
        f.a = 0;
        f.b = uint16_t(1 + i);
        f.c = uint16_t(257 + i);
        f.smoothingGroup = 1u << i;
    }
    LMesh fused = m, want = m;
    ref::calcNormals(want, true);
    m.CalcNormals(true);
    expectSameMesh(m, want);
    fused.CalcNormalsAndTextureSpace();
    LMesh sequential = m;
    sequential.CalcTextureSpace();
    expectSameMesh(fused, sequential);
    EXPECT_EQ(m.GetVertexCount(), 65536u);
    EXPECT_EQ(m.GetFace(0).a, 0);
    EXPECT_EQ(m.GetFace(1).a, 65530);
    EXPECT_EQ(m.GetFace(6).a, 65535);
    EXPECT_EQ(m.GetFace(7).a, 0);
    EXPECT_EQ(m.GetFace(9).a, 0);
    for (uint32_t i = 0; i < m.GetTriangleCount(); ++i)
        EXPECT_EQ(m.GetTriangle(i).a, m.GetFace(i).a);
}

TEST(Mesh, LargeGridMatchesTheLiteralAlgorithm)
{
    // A 120 x 100 grid in 8 smoothing groups by region, as in the benchmark.
    const int cols = 120, rows = 100;
    MeshSpec s;
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < cols; ++x) {
            s.vertices.push_back({float(x), float(y), std::sin(x * 0.3f) * std::cos(y * 0.2f)});
            s.uvs.push_back({x / float(cols - 1), y / float(rows - 1)});
        }
    for (int y = 0; y + 1 < rows; ++y)
        for (int x = 0; x + 1 < cols; ++x) {
            const uint16_t i = uint16_t(y * cols + x);
            const uint32_t g = 1u << (((x / 16) + (y / 16) * 3) % 8);
            s.faces.push_back({i, uint16_t(i + 1), uint16_t(i + cols + 1)});
            s.faces.push_back({i, uint16_t(i + cols + 1), uint16_t(i + cols)});
            s.groups.push_back(g);
            s.groups.push_back(g);
        }
    LMesh got = meshFrom(s), want = got, fused = got;
    got.CalcNormals(true);
    got.CalcTextureSpace();
    fused.CalcNormalsAndTextureSpace();
    ref::calcNormals(want, true);
    ref::calcTextureSpace(want);
    expectSameMesh(got, want);
    expectSameMesh(fused, want);
    EXPECT_GT(got.GetVertexCount(), uint32_t(cols * rows));
}
