// Material, light and camera chunks.
#include "builders.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace t3ds;

namespace {

const LMaterial& onlyMaterial(L3DS& importer, const Section& extra)
{
    const bool ok = load(importer, scene([&](ChunkWriter& w) { material(w, "Mat", extra); }));
    EXPECT_TRUE(ok);
    EXPECT_EQ(importer.GetMaterialCount(), 1u);
    static LMaterial none;
    return importer.GetMaterialCount() ? importer.GetMaterial(0) : none;
}

void camera(ChunkWriter& w, const std::string& name, float lens, const Section& extra = {})
{
    w.begin(0x4000).str(name).begin(0x4700);
    w.vec3(1, 2, 3).vec3(4, 5, 6).f32(7).f32(lens);
    if (extra)
        extra(w);
    w.end().end();
}

void light(ChunkWriter& w, const std::string& name, const Section& extra = {})
{
    w.begin(0x4000).str(name).begin(0x4600);
    w.vec3(10, 20, 30);
    if (extra)
        extra(w);
    w.end().end();
}

} // namespace

TEST(Material, ColoursInAllFourForms)
{
    L3DS importer;
    const LMaterial& m = onlyMaterial(importer, [](ChunkWriter& w) {
        w.begin(0xA010).begin(0x0011).u8(255).u8(128).u8(0).end().end();
        w.begin(0xA020).begin(0x0010).vec3(0.25f, 0.5f, 0.75f).end().end();
        w.begin(0xA030).begin(0x0012).u8(51).u8(102).u8(204).end().begin(0x0011).u8(1).u8(1).u8(1).end().end();
    });
    EXPECT_EQ(m.GetName(), "Mat");
    EXPECT_EQ(m.ambient.r, 1.0f);
    EXPECT_EQ(m.ambient.g, float(128 / 255.0));
    EXPECT_EQ(m.ambient.b, 0.0f);
    EXPECT_EQ(m.diffuse.r, 0.25f);
    EXPECT_EQ(m.diffuse.b, 0.75f);
    EXPECT_EQ(m.specular.r, 0.2f);  // only the first colour sub-chunk is read
    EXPECT_EQ(m.specular.b, 0.8f);

    L3DS other;
    const LMaterial& n = onlyMaterial(other, [](ChunkWriter& w) {
        w.begin(0xA010).begin(0x0013).vec3(0.5f, 0.5f, 0.5f).end().end();
        w.begin(0xA020).begin(0x0030).i16(50).end().end();  // not a colour: (0, 0, 0)
    });
    EXPECT_EQ(n.ambient.g, 0.5f);
    EXPECT_EQ(n.diffuse.r, 0.0f);
}

TEST(Material, PercentagesAreClamped)
{
    L3DS importer;
    const LMaterial& m = onlyMaterial(importer, [](ChunkWriter& w) {
        w.begin(0xA040).begin(0x0030).i16(-20).end().end();
        w.begin(0xA050).begin(0x0030).i16(150).end().end();
    });
    EXPECT_EQ(m.shininess, 0.0f);
    EXPECT_EQ(m.transparency, 1.0f);

    L3DS other;
    const LMaterial& n = onlyMaterial(other, [](ChunkWriter& w) {
        w.begin(0xA040).begin(0x0030).i16(25).end().end();
        w.begin(0xA050).begin(0x0031).f32(0.375f).end().end();
    });
    EXPECT_EQ(n.shininess, float(25 / 100.0));
    EXPECT_EQ(n.transparency, 0.375f);
}

TEST(Material, Shading)
{
    L3DS a;
    EXPECT_EQ(onlyMaterial(a, [](ChunkWriter& w) { w.begin(0xA100).i16(7).end(); }).shading, 2);
    L3DS b;
    EXPECT_EQ(onlyMaterial(b, [](ChunkWriter& w) { w.begin(0xA100).i16(-1).end(); }).shading, 2);
    L3DS c;
    EXPECT_EQ(onlyMaterial(c, [](ChunkWriter& w) { w.begin(0xA100).i16(4).end(); }).shading, 4);
    L3DS d;
    EXPECT_EQ(onlyMaterial(d, [](ChunkWriter& w) {
        w.begin(0xA100).i16(3).end();
        w.begin(0xA085).end();
    }).shading, 0);
    L3DS e;
    EXPECT_EQ(onlyMaterial(e, [](ChunkWriter& w) {
        w.begin(0xA085).end();
        w.begin(0xA100).i16(1).end();
    }).shading, 1);
}

TEST(Material, NameIsCutAt29)
{
    L3DS importer;
    ASSERT_TRUE(load(importer, scene([](ChunkWriter& w) { material(w, std::string(35, 'm')); })));
    EXPECT_EQ(importer.GetMaterial(0).GetName(), std::string(29, 'm'));
}

TEST(Material, TextureMaps)
{
    L3DS importer;
    const LMaterial& m = onlyMaterial(importer, [](ChunkWriter& w) {
        w.begin(0xA200);
        w.begin(0x0030).i16(80).end();
        w.begin(0xA300).str("snow.bmp").end();
        w.begin(0xA354).f32(2).end();
        w.begin(0xA356).f32(3).end();
        w.begin(0xA358).f32(0.5f).end();
        w.begin(0xA35A).f32(0.25f).end();
        w.begin(0xA35C).f32(45).end();
        w.begin(0xA351).u16(0).end();  // tiling flags: skipped
        w.end();
        w.begin(0xA204).begin(0xA300).str("shine.bmp").end().end();
        w.begin(0xA210).begin(0xA300).str("opac.bmp").end().end();
        w.begin(0xA230).begin(0x0031).f32(0.5f).end().begin(0xA300).str("bump.bmp").end().end();
        w.begin(0xA33A).begin(0xA300).str("ABCDEFGHIJKLMNOPQRSTUVWXY").end().end();  // 25 characters
    });
    EXPECT_EQ(m.textureMap1.strength, 0.8f);
    EXPECT_STREQ(m.textureMap1.mapName, "snow.bmp");
    EXPECT_EQ(m.textureMap1.uScale, 2.0f);
    EXPECT_EQ(m.textureMap1.vScale, 3.0f);
    EXPECT_EQ(m.textureMap1.uOffset, 0.5f);
    EXPECT_EQ(m.textureMap1.vOffset, 0.25f);
    EXPECT_EQ(m.textureMap1.angle, 45.0f);
    EXPECT_STREQ(m.specularMap.mapName, "shine.bmp");
    EXPECT_STREQ(m.opacityMap.mapName, "opac.bmp");
    EXPECT_STREQ(m.bumpMap.mapName, "bump.bmp");
    EXPECT_EQ(m.bumpMap.strength, 0.0f);  // a float percentage is not read in a map
    EXPECT_STREQ(m.textureMap2.mapName, "ABCDEFGHIJKLMNOPQRS");
    EXPECT_STREQ(m.reflectionMap.mapName, "");
}

TEST(Material, ReflectionMap)
{
    L3DS importer;
    const LMaterial& m = onlyMaterial(importer, [](ChunkWriter& w) {
        w.begin(0xA220).begin(0x0030).i16(40).end().begin(0xA300).str("sky.bmp").end().end();
    });
    EXPECT_EQ(m.reflectionMap.strength, float(40 / 100.0));
    EXPECT_STREQ(m.reflectionMap.mapName, "sky.bmp");

    L3DS other;
    const LMaterial& n = onlyMaterial(other, [](ChunkWriter& w) {
        w.begin(0xA220).begin(0x0031).f32(0.5f).end().begin(0xA300).str("").end().end();
    });
    EXPECT_EQ(n.reflectionMap.strength, 0.5f);
    EXPECT_STREQ(n.reflectionMap.mapName, "auto");

    L3DS longName;
    const LMaterial& o = onlyMaterial(longName, [](ChunkWriter& w) {
        w.begin(0xA220).begin(0x0030).i16(1).end().begin(0xA300).str(std::string(40, 'r')).end().end();
    });
    EXPECT_EQ(std::string(o.reflectionMap.mapName), std::string(29, 'r'));
}

TEST(Material, ReflectionMapWithoutNameDropsTheMaterial)
{
    MeshSpec mesh = cube();
    mesh.materialGroups = {{"Dropped", {0}}, {"Kept", {1}}};
    L3DS importer;
    ASSERT_TRUE(load(importer, scene([&](ChunkWriter& w) {
        material(w, "Dropped", [](ChunkWriter& w) {
            w.begin(0xA220).begin(0x0030).i16(40).end().begin(0xA351).u16(0).end().end();
        });
        material(w, "Kept");
        meshObject(w, mesh);
    })));
    ASSERT_EQ(importer.GetMaterialCount(), 1u);
    EXPECT_EQ(importer.GetMaterial(0).GetName(), "Kept");
    EXPECT_EQ(importer.GetMaterial(0).id, 0u);
    EXPECT_EQ(importer.FindMaterial("Dropped"), nullptr);
    ASSERT_EQ(importer.GetMesh(0).GetMaterialCount(), 1u);
    EXPECT_EQ(importer.GetMesh(0).GetMaterial(0), 0u);
}

TEST(Camera, ReadWithLensAndRanges)
{
    L3DS importer;
    ASSERT_TRUE(load(importer, scene([](ChunkWriter& w) {
        camera(w, "Cam48", 48, [](ChunkWriter& w) { w.begin(0x4720).f32(1).f32(500).end(); });
        camera(w, "Cam0", 0);
    })));
    ASSERT_EQ(importer.GetCameraCount(), 2u);
    const LCamera& c = importer.GetCamera(0);
    EXPECT_EQ(c.GetName(), "Cam48");
    EXPECT_EQ(c.position.x, 1.0f);
    EXPECT_EQ(c.position.z, 3.0f);
    EXPECT_EQ(c.target.y, 5.0f);
    EXPECT_EQ(c.bank, 7.0f);
    EXPECT_EQ(c.fov, 50.0f);
    EXPECT_EQ(c.nearPlane, 1.0f);
    EXPECT_EQ(c.farPlane, 500.0f);
    const LCamera& d = importer.GetCamera(1);
    EXPECT_TRUE(std::isinf(d.fov));
    EXPECT_EQ(d.nearPlane, 10.0f);
    EXPECT_EQ(d.farPlane, 10000.0f);
    EXPECT_EQ(importer.GetMeshCount(), 0u);
}

TEST(Light, WithoutSpotChunk)
{
    L3DS importer;
    ASSERT_TRUE(load(importer, scene([](ChunkWriter& w) { light(w, "Omni"); })));
    ASSERT_EQ(importer.GetLightCount(), 1u);
    const LLight& l = importer.GetLight(0);
    EXPECT_EQ(l.GetName(), "Omni");
    EXPECT_EQ(l.position.x, 10.0f);
    EXPECT_EQ(l.position.z, 30.0f);
    EXPECT_FALSE(l.spotlight);
    EXPECT_EQ(l.target.x, 0.0f);
    EXPECT_EQ(l.hotspot, 0.0f);
    EXPECT_EQ(l.falloff, 0.0f);
    EXPECT_EQ(l.color.r, 0.0f);
    EXPECT_EQ(l.innerRange, 100.0f);
    EXPECT_EQ(l.outerRange, 1000.0f);
}

TEST(Light, SpotColourAndRanges)
{
    L3DS importer;
    ASSERT_TRUE(load(importer, scene([](ChunkWriter& w) {
        light(w, "Spot", [](ChunkWriter& w) {
            w.begin(0x0011).u8(255).u8(0).u8(51).end();
            w.begin(0x4610).vec3(1, 2, 3).f32(30).f32(45).end();
            w.begin(0x4659).f32(5).end();
            w.begin(0x465A).f32(50).end();
        });
        light(w, "Second", [](ChunkWriter& w) { w.begin(0x0010).vec3(0.5f, 0.25f, 1).end(); });
    })));
    ASSERT_EQ(importer.GetLightCount(), 2u);
    const LLight& l = importer.GetLight(0);
    EXPECT_TRUE(l.spotlight);
    EXPECT_EQ(l.color.r, 1.0f);
    EXPECT_EQ(l.color.b, 0.2f);
    EXPECT_EQ(l.target.y, 2.0f);
    EXPECT_EQ(l.hotspot, 30.0f);
    EXPECT_EQ(l.falloff, 45.0f);
    EXPECT_EQ(l.innerRange, 5.0f);
    EXPECT_EQ(l.outerRange, 50.0f);
    EXPECT_EQ(importer.GetLight(1).GetName(), "Second");
    EXPECT_EQ(importer.GetLight(1).color.g, 0.25f);
}
