// Reuse across loads: an importer keeps its workspace from load to load, and
// a mesh's positions may wait in the file until post-processing. Neither may
// show in what a load gives or pays.
#include "builders.h"

#include <tempdir.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace t3ds;

namespace {

template <class T>
bool sameList(const std::vector<T>& a, const std::vector<T>& b)
{
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(T)) == 0);
}

// Every list of every mesh, to the bit (face records field by field: they
// have padding).
void expectSameMeshes(const L3DS& a, const L3DS& b)
{
    ASSERT_EQ(a.GetMeshCount(), b.GetMeshCount());
    for (uint32_t i = 0; i < a.GetMeshCount(); ++i) {
        SCOPED_TRACE(i);
        const LMesh& x = a.GetMesh(i);
        const LMesh& y = b.GetMesh(i);
        EXPECT_EQ(x.GetName(), y.GetName());
        EXPECT_TRUE(sameList(x.vertices, y.vertices));
        EXPECT_TRUE(sameList(x.normals, y.normals));
        EXPECT_TRUE(sameList(x.binormals, y.binormals));
        EXPECT_TRUE(sameList(x.tangents, y.tangents));
        EXPECT_TRUE(sameList(x.texCoords, y.texCoords));
        EXPECT_TRUE(sameList(x.triangles, y.triangles));
        EXPECT_TRUE(sameList(x.materials, y.materials));
        ASSERT_EQ(x.faceRecords.size(), y.faceRecords.size());
        for (size_t f = 0; f < x.faceRecords.size(); ++f) {
            const LFaceRecord &p = x.faceRecords[f], &q = y.faceRecords[f];
            EXPECT_TRUE(p.a == q.a && p.b == q.b && p.c == q.c && p.smoothingGroup == q.smoothingGroup &&
                        p.materialId == q.materialId &&
                        std::memcmp(&p.faceNormal, &q.faceNormal, 3 * sizeof(LVec3)) == 0)
                << "face " << f;
        }
    }
}

// A grid of cols x rows vertices in `bands` smoothing groups by rows, with
// texture coordinates: vertices along the band seams are split.
MeshSpec grid(const std::string& name, int cols, int rows, int bands)
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
            const uint32_t group = 1u << (y * bands / (rows - 1));
            m.groups.push_back(group);
            m.groups.push_back(group);
        }
    return m;
}

Bytes meshes(const std::vector<MeshSpec>& list)
{
    return scene([&](ChunkWriter& w) {
        for (const MeshSpec& m : list)
            meshObject(w, m);
    });
}

// Texture coordinates before the vertex list, and a second vertex list:
// the orders decoded as they come.
Bytes unusualOrders()
{
    const MeshSpec g = grid("Odd", 6, 5, 2);
    return scene([&](ChunkWriter& w) {
        w.begin(0x4000).str("UvFirst").begin(0x4100);
        uvList(w, g.uvs);
        vertexList(w, g.vertices);
        faceList(w, g);
        w.end().end();
        w.begin(0x4000).str("TwoLists").begin(0x4100);
        vertexList(w, {{1, 2, 3}, {4, 5, 6}});
        uvList(w, {{0.5f, 0.5f}});
        vertexList(w, g.vertices);
        uvList(w, g.uvs);
        faceList(w, g);
        w.end().end();
    });
}

} // namespace

// Whatever an importer loaded before, a load gives what a fresh importer
// gives, does the same work and holds no more memory.
TEST(Reuse, ALoadGivesWhatAFreshImporterGives)
{
    const Bytes large = meshes({grid("Large", 120, 90, 5), grid("Second", 40, 30, 3)});
    const Bytes small = meshes({grid("Small", 4, 3, 2)});
    Bytes truncated = large;
    truncated.resize(truncated.size() / 3);
    const Bytes odd = unusualOrders();
    const Bytes cubes = meshes({cube(), grid("Flat", 8, 8, 1), cube()});
    struct Row {
        const char* name;
        std::vector<const Bytes*> files;  // loaded in this order by one importer
    };
    const Row rows[] = {
        {"large, then small", {&large, &small}},
        {"small, then large, then small", {&small, &large, &small}},
        {"truncated, then whole", {&truncated, &large}},
        {"unusual chunk orders among usual ones", {&large, &odd, &cubes, &odd}},
    };
    TempDir dir;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        for (int level : {2, 1, 0}) {
            SCOPED_TRACE(level);
            L3DS reused;
            reused.SetPostProcessLevel(level);
            for (size_t k = 0; k < row.files.size(); ++k) {
                SCOPED_TRACE(k);
                const std::string path = dir.path("f" + std::to_string(k) + ".3ds");
                ASSERT_TRUE(filewriters::writeFile(path, *row.files[k]));
                L3DS fresh;
                fresh.SetPostProcessLevel(level);
                ASSERT_TRUE(fresh.LoadFile(path.c_str()));
                ASSERT_TRUE(reused.LoadFile(path.c_str()));
                expectSameMeshes(reused, fresh);
                EXPECT_EQ(reused.LastLoadCost().Work(), fresh.LastLoadCost().Work());
                EXPECT_LE(reused.LastLoadCost().PeakMemory(), fresh.LastLoadCost().PeakMemory());
            }
        }
    }
}

// A job pays for the largest block it asked of each block number, not for
// what earlier jobs left; a block that is large enough is handed out again.
TEST(Reuse, WorkspaceChargesEachJobForWhatItAsks)
{
    struct Step {
        bool newJob;
        int block;
        size_t bytes;
        uint64_t held;     // the job's budget afterwards
        bool kept;         // the block handed out last is handed out again
    };
    const uint64_t b = LBudget::BlockBytes(0);
    const Step steps[] = {
        {true, 0, 100, b + 100, false},
        {false, 0, 60, b + 100, true},
        {false, 0, 9000, b + 9000, false},
        {false, 1, 10, 2 * b + 9010, false},
        {true, 0, 100, b + 100, true},    // a new job: the big block again, paid at 100
        {false, 0, 8000, b + 8000, true},  // still inside the kept block
        {false, 2, 0, 2 * b + 8000, false},
    };
    LWorkspace workspace;
    LBudget budget;
    void* last[LWorkspace::kBlocks] = {};
    for (size_t i = 0; i < sizeof steps / sizeof steps[0]; ++i) {
        const Step& s = steps[i];
        SCOPED_TRACE(i);
        if (s.newJob) {
            budget = LBudget();
            workspace.StartJob();
        }
        void* p = workspace.Get(s.block, s.bytes, budget);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 16, 0u);
        EXPECT_GE(workspace.Capacity(s.block), s.bytes);
        EXPECT_EQ(budget.MemoryHeld(), s.held);
        if (s.kept) {
            EXPECT_EQ(p, last[s.block]);
        }
        std::memset(p, 0xAB, s.bytes);  // the whole block is there (for the sanitizers)
        last[s.block] = p;
    }

    LBudget tight(LBudget::BlockBytes(50), 100);
    workspace.StartJob();
    EXPECT_NE(workspace.Get(1, 50, tight), nullptr);
    EXPECT_EQ(workspace.Get(1, 51, tight), nullptr);
    EXPECT_TRUE(tight.Exceeded());
}
