// What two of the assimp test models (package assimp-testmodels) hold, as
// read from the files with a hex dump of their chunk structure.
#include "builders.h"

#include <cmath>

TEST(RealFiles, WhatTheFilesHold)
{
    const std::string dir = "/usr/share/assimp/models/3DS/";
    L3DS cube, boxes;
    if (!cube.LoadFile((dir + "cube_with_diffuse_texture.3DS").c_str()) || !boxes.LoadFile((dir + "test1.3ds").c_str()))
        GTEST_SKIP() << dir << " is missing";
    ASSERT_TRUE(cube.GetMeshCount() == 1 && cube.GetMaterialCount() == 1 && boxes.GetMeshCount() == 9);
    const LMaterial& mat = cube.GetMaterial(0);
    EXPECT_TRUE(mat.GetName() == "01 - Default" && std::string(mat.textureMap1.mapName) == "TEST.PNG");
    EXPECT_TRUE(mat.diffuse.r == float(150 / 255.0) && mat.shading == 3);  // 0x0011 bytes 96 96 96; Phong
    // 32 vertices in the file: each side has a smoothing group (2, 4, ...,
    // 64) and vertices of its own, so nothing is split. Face 0 is (0, 2, 3),
    // vertex 0 (7.684e-06, 82.6177, -30.5402), the fourth matrix triple's y 57.6177.
    const LMesh& q = cube.GetMesh(0);
    EXPECT_TRUE(q.GetName() == "Quader01" && q.GetVertexCount() == 32 && q.GetTriangleCount() == 12);
    EXPECT_TRUE(q.GetMaterialCount() == 1 && q.GetFace(0).smoothingGroup == 2 && q.GetFace(11).smoothingGroup == 64);
    EXPECT_TRUE(q.GetTriangle(0).a == 0 && q.GetTriangle(0).b == 2 && q.GetTriangle(0).c == 3);
    EXPECT_TRUE(std::fabs(q.GetVertex(0).y - 82.61773f) < 1e-4f && std::fabs(q.GetVertex(0).z + 30.54016f) < 1e-4f);
    EXPECT_TRUE(std::fabs(q.GetUV(0).u - 0.6936096f) < 1e-6f && std::fabs(q.GetMatrix().m[13] - 57.61773f) < 1e-4f);
    // Nine boxes (no Box03) of three materials, read in the order 2, 1, 3.
    const char* names[] = {"Box01", "Box02", "Box04", "Box05", "Box06", "Box07", "Box08", "Box09", "Box10"};
    const uint32_t materialOf[] = {0, 1, 1, 2, 2, 2, 1, 1, 0};
    for (uint32_t i = 0; i < 9; ++i)
        EXPECT_TRUE(boxes.GetMesh(i).GetName() == names[i] && boxes.GetMesh(i).GetVertexCount() == 32 &&
                    boxes.GetMesh(i).GetMaterial(0) == materialOf[i] && boxes.GetMesh(i).GetFace(5).materialId == materialOf[i])
            << i;
    EXPECT_TRUE(boxes.GetMaterialCount() == 3 && boxes.GetMaterial(1).GetName() == "1 - Default" &&
                std::string(boxes.GetMaterial(2).textureMap1.mapName) == "IMAGE2.JPG");
}
