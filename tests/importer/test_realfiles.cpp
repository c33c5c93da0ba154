// Real 3DS files: the assimp test models of the Debian package
// assimp-testmodels (installed by test.sh). The expected counts and names
// were read from the files with a hex dump of their chunk structure.
#include <l3ds.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const fs::path kModels = "/usr/share/assimp/models/3DS";

// A 3DS file: a .3ds extension (any case) or a 0x4D4D root id.
bool is3ds(const fs::path& path)
{
    std::string ext = path.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    if (ext == ".3ds")
        return true;
    std::ifstream in(path, std::ios::binary);
    unsigned char id[2] = {0, 0};
    in.read(reinterpret_cast<char*>(id), 2);
    return in.gcount() == 2 && id[0] == 0x4D && id[1] == 0x4D;
}

std::vector<fs::path> modelFiles()
{
    std::vector<fs::path> files;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(kModels, ec))
        if (entry.is_regular_file() && is3ds(entry.path()))
            files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

void expectDrawable(const L3DS& importer)
{
    for (uint32_t i = 0; i < importer.GetMeshCount(); ++i) {
        const LMesh& mesh = importer.GetMesh(i);
        SCOPED_TRACE(mesh.GetName());
        const uint32_t vertices = mesh.GetVertexCount();
        EXPECT_EQ(mesh.normals.size(), vertices);
        EXPECT_EQ(mesh.texCoords.size(), vertices);
        EXPECT_EQ(mesh.tangents.size(), vertices);
        EXPECT_EQ(mesh.binormals.size(), vertices);
        EXPECT_EQ(mesh.faceRecords.size(), mesh.GetTriangleCount());
        const uint16_t* index = reinterpret_cast<const uint16_t*>(mesh.GetTriangleData());
        for (uint32_t k = 0; k < 3 * mesh.GetTriangleCount(); ++k)
            ASSERT_LT(index[k], vertices) << "index " << k;
        for (uint32_t v = 0; v < vertices; ++v)
            ASSERT_EQ(mesh.GetVertex(v).w, 1.0f);
    }
}

} // namespace

TEST(RealFiles, EveryFileLoadsAndIsDrawable)
{
    if (!fs::is_directory(kModels))
        GTEST_SKIP() << kModels << " is missing (package assimp-testmodels)";
    const std::vector<fs::path> files = modelFiles();
    EXPECT_GE(files.size(), 9u);
    for (const fs::path& path : files) {
        SCOPED_TRACE(path.string());
        L3DS importer;
        ASSERT_TRUE(importer.LoadFile(path.c_str()));
        EXPECT_GE(importer.GetMeshCount(), 1u);
        expectDrawable(importer);
        // Every level gives drawable meshes.
        for (int level : {0, 1}) {
            L3DS other;
            other.SetPostProcessLevel(level);
            ASSERT_TRUE(other.LoadFile(path.c_str()));
            EXPECT_EQ(other.GetMeshCount(), importer.GetMeshCount());
            expectDrawable(other);
        }
    }
}

TEST(RealFiles, CubeWithDiffuseTexture)
{
    const fs::path path = kModels / "cube_with_diffuse_texture.3DS";
    if (!fs::exists(path))
        GTEST_SKIP() << path << " is missing";
    L3DS importer;
    ASSERT_TRUE(importer.LoadFile(path.c_str()));
    ASSERT_EQ(importer.GetMaterialCount(), 1u);
    const LMaterial& mat = importer.GetMaterial(0);
    EXPECT_EQ(mat.GetName(), "01 - Default");
    EXPECT_STREQ(mat.textureMap1.mapName, "TEST.PNG");
    EXPECT_EQ(mat.diffuse.r, float(150 / 255.0));  // 0x0011 bytes 96 96 96
    EXPECT_EQ(mat.shading, 3);
    EXPECT_EQ(importer.GetLightCount(), 0u);
    EXPECT_EQ(importer.GetCameraCount(), 0u);

    ASSERT_EQ(importer.GetMeshCount(), 1u);
    const LMesh& mesh = importer.GetMesh(0);
    EXPECT_EQ(mesh.GetName(), "Quader01");
    EXPECT_EQ(mesh.GetTriangleCount(), 12u);
    // 32 vertices in the file; each side has its own smoothing group
    // (2, 4, 8, 16, 32, 64) and its own vertices, so nothing is split.
    EXPECT_EQ(mesh.GetVertexCount(), 32u);
    ASSERT_EQ(mesh.GetMaterialCount(), 1u);
    EXPECT_EQ(mesh.GetMaterial(0), 0u);
    EXPECT_EQ(mesh.GetFace(0).smoothingGroup, 2u);
    EXPECT_EQ(mesh.GetFace(11).smoothingGroup, 64u);
    // Face 0 is (0, 2, 3), vertex 0 is (7.684e-06, 82.6177, -30.5402).
    EXPECT_EQ(mesh.GetTriangle(0).a, 0);
    EXPECT_EQ(mesh.GetTriangle(0).b, 2);
    EXPECT_EQ(mesh.GetTriangle(0).c, 3);
    EXPECT_FLOAT_EQ(mesh.GetVertex(0).y, 82.61773f);
    EXPECT_FLOAT_EQ(mesh.GetVertex(0).z, -30.54016f);
    EXPECT_FLOAT_EQ(mesh.GetUV(0).u, 0.6936096f);
    EXPECT_FLOAT_EQ(mesh.GetMatrix().m[13], 57.61773f);  // the fourth triple's y
}

TEST(RealFiles, Test1NineBoxesThreeMaterials)
{
    const fs::path path = kModels / "test1.3ds";
    if (!fs::exists(path))
        GTEST_SKIP() << path << " is missing";
    L3DS importer;
    ASSERT_TRUE(importer.LoadFile(path.c_str()));
    ASSERT_EQ(importer.GetMaterialCount(), 3u);
    EXPECT_EQ(importer.GetMaterial(0).GetName(), "2 - Default");
    EXPECT_EQ(importer.GetMaterial(1).GetName(), "1 - Default");
    EXPECT_EQ(importer.GetMaterial(2).GetName(), "3 - Default");
    EXPECT_STREQ(importer.GetMaterial(0).textureMap1.mapName, "IMAGE1.JPG");
    EXPECT_STREQ(importer.GetMaterial(1).textureMap1.mapName, "CWALL02.JPG");
    EXPECT_STREQ(importer.GetMaterial(2).textureMap1.mapName, "IMAGE2.JPG");

    // Box03 is not in the file.
    const char* names[] = {"Box01", "Box02", "Box04", "Box05", "Box06", "Box07", "Box08", "Box09", "Box10"};
    const uint32_t materialOf[] = {0, 1, 1, 2, 2, 2, 1, 1, 0};
    ASSERT_EQ(importer.GetMeshCount(), 9u);
    for (uint32_t i = 0; i < 9; ++i) {
        const LMesh& mesh = importer.GetMesh(i);
        EXPECT_EQ(mesh.GetName(), names[i]);
        EXPECT_EQ(mesh.GetVertexCount(), 32u);
        EXPECT_EQ(mesh.GetTriangleCount(), 12u);
        ASSERT_EQ(mesh.GetMaterialCount(), 1u);
        EXPECT_EQ(mesh.GetMaterial(0), materialOf[i]) << names[i];
        EXPECT_EQ(mesh.GetFace(5).materialId, materialOf[i]) << names[i];
    }
    EXPECT_EQ(importer.FindMesh("Box03"), nullptr);
    EXPECT_EQ(importer.FindMesh("Box10"), &importer.GetMesh(8));
    // Box01: vertex 0 = (-10.3385, 0.00185, -10.1436), face 0 = (2, 0, 3).
    const LMesh& box = importer.GetMesh(0);
    EXPECT_FLOAT_EQ(box.GetVertex(0).x, -10.338493f);
    EXPECT_FLOAT_EQ(box.GetVertex(0).z, -10.143621f);
    EXPECT_EQ(box.GetTriangle(0).a, 2);
    EXPECT_EQ(box.GetTriangle(0).b, 0);
    EXPECT_EQ(box.GetTriangle(0).c, 3);
}

TEST(RealFiles, CamerasAndLargerMeshes)
{
    if (!fs::is_directory(kModels))
        GTEST_SKIP() << kModels << " is missing";
    {
        L3DS importer;
        ASSERT_TRUE(importer.LoadFile((kModels / "CameraRollAnim.3ds").c_str()));
        ASSERT_EQ(importer.GetCameraCount(), 1u);
        EXPECT_EQ(importer.GetCamera(0).GetName(), "Camera01");
        ASSERT_EQ(importer.GetMeshCount(), 1u);
        EXPECT_EQ(importer.GetMesh(0).GetName(), "Box01");
        EXPECT_EQ(importer.GetMesh(0).GetTriangleCount(), 12u);
    }
    {
        L3DS importer;
        ASSERT_TRUE(importer.LoadFile((kModels / "cubes_with_alpha.3DS").c_str()));
        EXPECT_EQ(importer.GetMeshCount(), 5u);
        ASSERT_EQ(importer.GetMaterialCount(), 5u);
        EXPECT_EQ(importer.GetMaterial(4).GetName(), "Transparent");
        EXPECT_FLOAT_EQ(importer.GetMaterial(4).transparency, 0.17f);
    }
    {
        L3DS importer;
        ASSERT_TRUE(importer.LoadFile((kModels / "fels.3ds").c_str()));
        ASSERT_EQ(importer.GetMeshCount(), 1u);
        EXPECT_EQ(importer.GetMesh(0).GetTriangleCount(), 768u);
    }
}
