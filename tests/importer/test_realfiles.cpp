// Real 3DS files: the assimp test models of the Debian package
// assimp-testmodels (installed by test.sh) and the game's penguin. The
// expected counts and names were read from the files with a hex dump of their
// chunk structure.
#include "builders.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

const fs::path kModels = "/usr/share/assimp/models/3DS";

// A .3ds extension (any case) or a 0x4D4D root id.
bool is3ds(const fs::path& path)
{
    std::string ext = path.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    std::ifstream in(path, std::ios::binary);
    char id[2] = {0, 0};
    in.read(id, 2);
    return ext == ".3ds" || (in.gcount() == 2 && id[0] == 0x4D && id[1] == 0x4D);
}

} // namespace

// Every file loads at every level into drawable meshes, far below the budget:
// in memory and in work, splits included, a real file's elements cost a
// small part of what the budget allows per byte.
TEST(RealFiles, EveryFileLoadsDrawableAndCheap)
{
    std::vector<fs::path> files;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(kModels, ec))
        if (entry.is_regular_file() && is3ds(entry.path()))
            files.push_back(entry.path());
    if (files.empty())
        GTEST_SKIP() << kModels << " is missing (package assimp-testmodels)";
    EXPECT_GE(files.size(), 9u);
    if (const char* source = std::getenv("FLOERUSH_SOURCE_DIR"))
        files.push_back(fs::path(source) / "data" / "penguin.3ds");
    for (const fs::path& path : files) {
        for (int level : {2, 1, 0}) {
            SCOPED_TRACE(path.string() + ", level " + std::to_string(level));
            L3DS importer;
            importer.SetPostProcessLevel(level);
            ASSERT_TRUE(importer.LoadFile(path.c_str()));
            EXPECT_GE(importer.GetMeshCount(), 1u);
            const uint64_t size = fs::file_size(path);
            EXPECT_LE(importer.LastLoadCost().PeakMemory(), L3DS::kMemoryPerByte / 4 * size);
            EXPECT_LE(importer.LastLoadCost().Work(), L3DS::kWorkPerByte / 8 * size);
            for (uint32_t i = 0; i < importer.GetMeshCount(); ++i) {
                const LMesh& mesh = importer.GetMesh(i);
                const uint32_t n = mesh.GetVertexCount();
                EXPECT_TRUE(mesh.normals.size() == n && mesh.texCoords.size() == n && mesh.tangents.size() == n &&
                            mesh.binormals.size() == n && mesh.faceRecords.size() == mesh.GetTriangleCount());
                const uint16_t* index = reinterpret_cast<const uint16_t*>(mesh.GetTriangleData());
                ASSERT_TRUE(std::all_of(index, index + 3 * mesh.GetTriangleCount(), [&](uint16_t k) { return k < n; }));
                for (uint32_t v = 0; v < n; ++v)
                    ASSERT_EQ(mesh.GetVertex(v).w, 1.0f);
            }
        }
    }
}

TEST(RealFiles, WhatTheFilesHold)
{
    if (!fs::is_directory(kModels))
        GTEST_SKIP() << kModels << " is missing";
    L3DS cube, boxes, camera, alpha, fels;
    ASSERT_TRUE(cube.LoadFile((kModels / "cube_with_diffuse_texture.3DS").c_str()));
    ASSERT_TRUE(boxes.LoadFile((kModels / "test1.3ds").c_str()));
    ASSERT_TRUE(camera.LoadFile((kModels / "CameraRollAnim.3ds").c_str()));
    ASSERT_TRUE(alpha.LoadFile((kModels / "cubes_with_alpha.3DS").c_str()));
    ASSERT_TRUE(fels.LoadFile((kModels / "fels.3ds").c_str()));
    const struct {
        const L3DS& scene;
        int meshes, materials, cameras, lights;  // -1: not known
    } counts[] = {{cube, 1, 1, 0, 0}, {boxes, 9, 3, -1, -1}, {camera, 1, -1, 1, -1}, {alpha, 5, 5, -1, -1},
                  {fels, 1, -1, -1, -1}};
    for (const auto& c : counts) {
        SCOPED_TRACE(&c - counts);
        const uint32_t got[] = {c.scene.GetMeshCount(), c.scene.GetMaterialCount(), c.scene.GetCameraCount(),
                                c.scene.GetLightCount()};
        const int want[] = {c.meshes, c.materials, c.cameras, c.lights};
        for (int k = 0; k < 4; ++k)
            EXPECT_TRUE(want[k] < 0 || got[k] == uint32_t(want[k])) << k << ": " << got[k];
    }
    if (::testing::Test::HasFailure())
        return;

    const LMaterial& mat = cube.GetMaterial(0);
    EXPECT_EQ(mat.GetName(), "01 - Default");
    EXPECT_STREQ(mat.textureMap1.mapName, "TEST.PNG");
    EXPECT_EQ(mat.diffuse.r, float(150 / 255.0));  // 0x0011 bytes 96 96 96
    EXPECT_EQ(mat.shading, 3);
    // 32 vertices in the file; each side has its own smoothing group
    // (2, 4, ..., 64) and its own vertices, so nothing is split.
    const LMesh& quader = cube.GetMesh(0);
    EXPECT_EQ(quader.GetName(), "Quader01");
    EXPECT_EQ(quader.GetVertexCount(), 32u);
    EXPECT_EQ(quader.GetTriangleCount(), 12u);
    EXPECT_TRUE(quader.GetMaterialCount() == 1 && quader.GetMaterial(0) == 0);
    EXPECT_TRUE(quader.GetFace(0).smoothingGroup == 2 && quader.GetFace(11).smoothingGroup == 64);
    // Face 0 is (0, 2, 3), vertex 0 is (7.684e-06, 82.6177, -30.5402).
    EXPECT_TRUE(quader.GetTriangle(0).a == 0 && quader.GetTriangle(0).b == 2 && quader.GetTriangle(0).c == 3);
    EXPECT_FLOAT_EQ(quader.GetVertex(0).y, 82.61773f);
    EXPECT_FLOAT_EQ(quader.GetVertex(0).z, -30.54016f);
    EXPECT_FLOAT_EQ(quader.GetUV(0).u, 0.6936096f);
    EXPECT_FLOAT_EQ(quader.GetMatrix().m[13], 57.61773f);  // the fourth triple's y

    const char* materials[][2] = {{"2 - Default", "IMAGE1.JPG"}, {"1 - Default", "CWALL02.JPG"}, {"3 - Default", "IMAGE2.JPG"}};
    for (uint32_t i = 0; i < 3; ++i) {
        EXPECT_EQ(boxes.GetMaterial(i).GetName(), materials[i][0]);
        EXPECT_STREQ(boxes.GetMaterial(i).textureMap1.mapName, materials[i][1]);
    }
    // Box03 is not in the file.
    const char* names[] = {"Box01", "Box02", "Box04", "Box05", "Box06", "Box07", "Box08", "Box09", "Box10"};
    const uint32_t materialOf[] = {0, 1, 1, 2, 2, 2, 1, 1, 0};
    for (uint32_t i = 0; i < 9; ++i) {
        SCOPED_TRACE(names[i]);
        const LMesh& box = boxes.GetMesh(i);
        EXPECT_EQ(box.GetName(), names[i]);
        EXPECT_TRUE(box.GetVertexCount() == 32 && box.GetTriangleCount() == 12 && box.GetMaterialCount() == 1);
        EXPECT_TRUE(box.GetMaterial(0) == materialOf[i] && box.GetFace(5).materialId == materialOf[i]);
    }
    EXPECT_EQ(boxes.FindMesh("Box03"), nullptr);
    // Box01: vertex 0 = (-10.3385, 0.00185, -10.1436), face 0 = (2, 0, 3).
    EXPECT_FLOAT_EQ(boxes.GetMesh(0).GetVertex(0).x, -10.338493f);
    EXPECT_FLOAT_EQ(boxes.GetMesh(0).GetVertex(0).z, -10.143621f);
    const LIndexTriangle& t = boxes.GetMesh(0).GetTriangle(0);
    EXPECT_TRUE(t.a == 2 && t.b == 0 && t.c == 3);

    EXPECT_EQ(camera.GetCamera(0).GetName(), "Camera01");
    EXPECT_EQ(camera.GetMesh(0).GetName(), "Box01");
    EXPECT_EQ(camera.GetMesh(0).GetTriangleCount(), 12u);
    EXPECT_EQ(alpha.GetMaterial(4).GetName(), "Transparent");
    EXPECT_FLOAT_EQ(alpha.GetMaterial(4).transparency, 0.17f);
    EXPECT_EQ(fels.GetMesh(0).GetTriangleCount(), 768u);
}
