// The scene object model.
#include "builders.h"

#include <gtest/gtest.h>

#include <type_traits>

using namespace t3ds;

static_assert(std::is_abstract<LImporter>::value, "LImporter is abstract");
static_assert(std::is_base_of<LImporter, L3DS>::value, "L3DS is an LImporter");
static_assert(std::is_base_of<LObject, LMesh>::value && std::is_base_of<LObject, LMaterial>::value &&
                  std::is_base_of<LObject, LLight>::value && std::is_base_of<LObject, LCamera>::value,
              "scene objects derive from LObject");
static_assert(std::is_nothrow_move_constructible<LMesh>::value, "meshes move cheaply inside their list");
static_assert(std::is_standard_layout<LVec4>::value && std::is_standard_layout<LIndexTriangle>::value,
              "drawn element types are plain");

TEST(Objects, DefaultsAfterConstruction)
{
    LMaterial m;
    EXPECT_EQ(m.GetName(), "");
    EXPECT_EQ(m.id, 0u);
    EXPECT_EQ(m.shading, 2);
    EXPECT_EQ(m.shininess, 0.0f);
    EXPECT_EQ(m.transparency, 0.0f);
    EXPECT_EQ(m.diffuse.r, 0.0f);
    EXPECT_EQ(m.textureMap1.strength, 0.0f);
    EXPECT_STREQ(m.textureMap1.mapName, "");
    EXPECT_EQ(m.bumpMap.uScale, 1.0f);
    EXPECT_EQ(m.bumpMap.vScale, 1.0f);
    EXPECT_EQ(m.bumpMap.uOffset, 0.0f);
    EXPECT_EQ(m.bumpMap.angle, 0.0f);

    LCamera c;
    EXPECT_EQ(c.position.x, 0.0f);
    EXPECT_EQ(c.bank, 0.0f);
    EXPECT_EQ(c.fov, 80.0f);
    EXPECT_EQ(c.nearPlane, 10.0f);
    EXPECT_EQ(c.farPlane, 10000.0f);

    LLight l;
    EXPECT_FALSE(l.spotlight);
    EXPECT_EQ(l.hotspot, 0.0f);
    EXPECT_EQ(l.outerRange, 1000.0f);
    EXPECT_EQ(l.innerRange, 100.0f);

    LMesh mesh;
    EXPECT_EQ(mesh.GetVertexCount(), 0u);
    EXPECT_EQ(mesh.GetTriangleCount(), 0u);
    EXPECT_EQ(mesh.GetMaterialCount(), 0u);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(mesh.GetMatrix().m[i], (i % 5 == 0) ? 1.0f : 0.0f);
}

TEST(Objects, NamesThroughTheBase)
{
    LMesh mesh;
    LObject& object = mesh;
    object.SetName("Penguin");
    EXPECT_EQ(mesh.GetName(), "Penguin");
    LMesh copy = mesh;
    EXPECT_EQ(copy.GetName(), "Penguin");
}

TEST(Objects, ShininessAndTransparencyAreClamped)
{
    LMaterial m;
    m.SetShininess(1.5f);
    EXPECT_EQ(m.shininess, 1.0f);
    m.SetShininess(-0.2f);
    EXPECT_EQ(m.shininess, 0.0f);
    m.SetShininess(0.25f);
    EXPECT_EQ(m.shininess, 0.25f);
    m.SetTransparency(2.0f);
    EXPECT_EQ(m.transparency, 1.0f);
    m.SetTransparency(-1.0f);
    EXPECT_EQ(m.transparency, 0.0f);
    m.SetTransparency(0.5f);
    EXPECT_EQ(m.transparency, 0.5f);
}

TEST(Objects, FindMaterialIsExactAndFindsTheFirst)
{
    L3DS importer;
    ASSERT_TRUE(load(importer, scene([](ChunkWriter& w) {
        material(w, "Snow");
        material(w, "Snow");
        material(w, "Ice");
    })));
    ASSERT_EQ(importer.GetMaterialCount(), 3u);
    EXPECT_EQ(importer.GetMaterial(0).id, 0u);
    EXPECT_EQ(importer.GetMaterial(1).id, 1u);
    EXPECT_EQ(importer.GetMaterial(2).id, 2u);
    EXPECT_EQ(importer.FindMaterial("Snow"), &importer.GetMaterial(0));
    EXPECT_EQ(importer.FindMaterial("Ice"), &importer.GetMaterial(2));
    EXPECT_EQ(importer.FindMaterial("snow"), nullptr);
    EXPECT_EQ(importer.FindMaterial("Sno"), nullptr);
    EXPECT_EQ(importer.FindMaterial(""), nullptr);
    const L3DS& constImporter = importer;
    EXPECT_EQ(constImporter.FindMaterial("Ice"), &constImporter.GetMaterial(2));
    EXPECT_EQ(constImporter.FindMesh("Ice"), nullptr);
}

TEST(Objects, ClearEmptiesTheListsAndResetsTheLevel)
{
    L3DS importer;
    ASSERT_TRUE(load(importer, scene([](ChunkWriter& w) {
        material(w, "M");
        meshObject(w, cube());
        w.begin(0x4000).str("Lamp").begin(0x4600).vec3(0, 0, 0).end().end();
    })));
    importer.SetPostProcessLevel(1);
    importer.Clear();
    EXPECT_EQ(importer.GetMeshCount(), 0u);
    EXPECT_EQ(importer.GetMaterialCount(), 0u);
    EXPECT_EQ(importer.GetLightCount(), 0u);
    EXPECT_EQ(importer.GetCameraCount(), 0u);
    EXPECT_EQ(importer.GetPostProcessLevel(), 2);
}

TEST(Objects, ANewImporterIsEmptyAtLevel2)
{
    L3DS importer;
    EXPECT_EQ(importer.GetMeshCount(), 0u);
    EXPECT_EQ(importer.GetPostProcessLevel(), 2);
    LImporter& base = importer;
    EXPECT_FALSE(base.LoadFile("/nonexistent.3ds"));
}

TEST(Objects, MeshListsAreCopiedWithTheMesh)
{
    LMesh a;
    a.SetVertexArraySize(3);
    a.vertices[1] = {1, 2, 3, 1};
    a.SetTriangleArraySize(1);
    a.AddMaterial(4);
    LMesh b = a;
    a.vertices[1].x = 9;
    EXPECT_EQ(b.GetVertex(1).x, 1.0f);
    EXPECT_EQ(b.GetTriangleCount(), 1u);
    EXPECT_EQ(b.GetMaterial(0), 4u);
}
