// Material, light and camera chunks, and the scene objects they fill.
#include "builders.h"

#include <tuple>

using namespace t3ds;

namespace {

// Every field of an object, comparable and printable.
auto key(const LColorRGB& c) { return std::make_tuple(c.r, c.g, c.b); }
auto key(const LVec3& v) { return std::make_tuple(v.x, v.y, v.z); }
auto key(const LTextureMap& m)
{
    return std::make_tuple(m.strength, std::string(m.mapName), m.uScale, m.vScale, m.uOffset, m.vOffset, m.angle);
}
auto key(const LMaterial& m)
{
    return std::make_tuple(m.GetName(), m.id, key(m.ambient), key(m.diffuse), key(m.specular), m.shininess,
                           m.transparency, m.shading, std::make_tuple(key(m.textureMap1), key(m.textureMap2),
                           key(m.opacityMap), key(m.reflectionMap), key(m.bumpMap), key(m.specularMap)));
}
auto key(const LLight& l)
{
    return std::make_tuple(l.GetName(), key(l.position), key(l.color), l.spotlight, key(l.target), l.hotspot,
                           l.falloff, l.innerRange, l.outerRange);
}
auto key(const LCamera& c)
{
    return std::make_tuple(c.GetName(), key(c.position), key(c.target), c.bank, c.fov, c.nearPlane, c.farPlane);
}

} // namespace

// Each row: the chunks of a material "M" that follows a material "X", and
// the fields of a new material that reading them changes.
TEST(Chunks, Materials)
{
    auto percent = [](ChunkWriter& w, uint16_t id, int16_t value) { w.begin(id).begin(0x0030).i16(value).end().end(); };
    auto map = [](ChunkWriter& w, uint16_t id, const char* name) { w.begin(id).begin(0xA300).str(name).end().end(); };
    auto reflection = [](ChunkWriter& w, uint16_t second, const std::string& name) {
        w.begin(0xA220).begin(0x0030).i16(40).end().begin(second).str(name).end().end();
    };
    auto shading = [](ChunkWriter& w, int16_t first, int16_t second) {  // -9: 0xA085, wire
        first == -9 ? w.begin(0xA085) : w.begin(0xA100).i16(first);
        second == -9 ? w.end().begin(0xA085) : w.end().begin(0xA100).i16(second);
        w.end();
    };
    const struct {
        const char* name;
        Section chunks;
        std::function<void(LMaterial&)> want;  // nullptr: the material is dropped
    } rows[] = {
        {"colours of four kinds, of one sub-chunk each; clamped percentages; maps", [&](ChunkWriter& w) {
             w.begin(0xA010).begin(0x0011).u8(255).u8(128).u8(0).end().end();
             w.begin(0xA020).begin(0x0013).vec3(0.25f, 0.5f, 0.75f).end().end();
             w.begin(0xA030).begin(0x0012).u8(51).u8(102).u8(204).end().begin(0x0011).u8(1).u8(1).u8(1).end().end();
             percent(w, 0xA040, -20), percent(w, 0xA050, 150);
             w.begin(0xA200).begin(0x0030).i16(80).end().begin(0xA300).str("snow.bmp").end();
             w.begin(0xA354).f32(2).end().begin(0xA356).f32(3).end().begin(0xA358).f32(0.5f).end();
             w.begin(0xA35A).f32(0.25f).end().begin(0xA35C).f32(45).end().begin(0xA351).u16(0).end().end();
             map(w, 0xA204, "shine.bmp"), map(w, 0xA210, "opac.bmp"), map(w, 0xA33A, "ABCDEFGHIJKLMNOPQRSTUVWXY");
             w.begin(0xA230).begin(0x0031).f32(0.5f).end().begin(0xA300).str("bump.bmp").end().end();
         }, [](LMaterial& m) {
             m.ambient = {1, float(128 / 255.0), 0}, m.diffuse = {0.25f, 0.5f, 0.75f}, m.transparency = 1;
             m.specular = {float(51 / 255.0), float(102 / 255.0), float(204 / 255.0)};
             m.textureMap1 = {float(80 / 100.0), "snow.bmp", 2, 3, 0.5f, 0.25f, 45};
             std::strcpy(m.specularMap.mapName, "shine.bmp"), std::strcpy(m.opacityMap.mapName, "opac.bmp");
             std::strcpy(m.bumpMap.mapName, "bump.bmp"), std::strcpy(m.textureMap2.mapName, "ABCDEFGHIJKLMNOPQRS");
         }},
        {"a colour of another kind is black; percentages of both kinds", [&](ChunkWriter& w) {
             w.begin(0xA020).begin(0x0010).vec3(0.5f, 0.5f, 1).end().end();
             w.begin(0xA010).begin(0x0010).vec3(1, 1, 1).end().end().begin(0xA010).begin(0x0030).i16(50).end().end();
             percent(w, 0xA040, 25);
             w.begin(0xA050).begin(0x0031).f32(0.375f).end().end();
         }, [](LMaterial& m) { m.diffuse = {0.5f, 0.5f, 1}, m.shininess = 0.25f, m.transparency = 0.375f; }},
        {"shading out of range; percentages clamped the other way", [&](ChunkWriter& w) {
             shading(w, 5, -1), percent(w, 0xA040, 150), percent(w, 0xA050, -20);
         }, [](LMaterial& m) { m.shininess = 1; }},
        {"shading, then wire", [&](ChunkWriter& w) { shading(w, 3, -9); }, [](LMaterial& m) { m.shading = sWire; }},
        {"wire, then shading 4", [&](ChunkWriter& w) { shading(w, -9, 4); }, [](LMaterial& m) { m.shading = sMetal; }},
        {"shading 0", [&](ChunkWriter& w) { shading(w, 2, 0); }, [](LMaterial& m) { m.shading = sWire; }},
        {"a name keeps 29 characters; a reflection map", [&](ChunkWriter& w) {
             reflection(w.begin(0xA000).str(std::string(35, 'm')).end(), 0xA300, "sky.bmp");
         }, [](LMaterial& m) {
             m.SetName(std::string(29, 'm'));
             m.reflectionMap.strength = 0.4f, std::strcpy(m.reflectionMap.mapName, "sky.bmp");
         }},
        {"a reflection map without a name, of a float", [&](ChunkWriter& w) {
             w.begin(0xA220).begin(0x0031).f32(0.5f).end().begin(0xA300).str("").end().end();
         }, [](LMaterial& m) { m.reflectionMap.strength = 0.5f, std::strcpy(m.reflectionMap.mapName, "auto"); }},
        {"a reflection map's name keeps 29", [&](ChunkWriter& w) { reflection(w, 0xA300, std::string(40, 'r')); },
         [](LMaterial& m) { m.reflectionMap.strength = 0.4f, std::memset(m.reflectionMap.mapName, 'r', 29); }},
        {"a reflection map without 0xA300", [&](ChunkWriter& w) { reflection(w, 0xA351, "x"); }, nullptr},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        L3DS importer;
        ASSERT_TRUE(load(importer, scene([&](ChunkWriter& w) { material(w, "X"), material(w, "M", row.chunks); })));
        ASSERT_EQ(importer.GetMaterialCount(), row.want ? 2u : 1u);
        LMaterial want;
        want.SetName("M"), want.id = 1;
        if (row.want) {
            row.want(want);
            EXPECT_EQ(key(importer.GetMaterial(1)), key(want));
        }
    }
    EXPECT_EQ(LMaterial().shading, 2);
}

// A light with a spot and a byte colour, a camera with ranges; the first
// material and mesh of a name.
TEST(Chunks, LightsCamerasAndNames)
{
    L3DS importer;
    ASSERT_TRUE(load(importer, scene([](ChunkWriter& w) {
        w.begin(0x4000).str("Spot").begin(0x4600).vec3(1, 2, 3).begin(0x0011).u8(255).u8(0).u8(51).end();
        w.begin(0x4610).vec3(4, 5, 6).f32(30).f32(45).end().begin(0x4659).f32(5).end().begin(0x465A).f32(50).end();
        w.end().end().begin(0x4000).str("Cam").begin(0x4700).vec3(1, 2, 3).vec3(4, 5, 6).f32(7).f32(48);
        w.begin(0x4720).f32(1).f32(500).end().end().end();
        material(w, "Snow"), material(w, "Snow"), material(w, "Ice");
        meshObject(w, cube("A")), meshObject(w, cube("B")), meshObject(w, cube("B"));
    })));
    ASSERT_TRUE(importer.GetLightCount() == 1 && importer.GetCameraCount() == 1);
    const auto p = std::make_tuple(1.f, 2.f, 3.f), t = std::make_tuple(4.f, 5.f, 6.f);
    EXPECT_EQ(key(importer.GetLight(0)),
              std::make_tuple(std::string("Spot"), p, std::make_tuple(1.f, 0.f, 0.2f), true, t, 30.f, 45.f, 5.f, 50.f));
    EXPECT_EQ(key(importer.GetCamera(0)), std::make_tuple(std::string("Cam"), p, t, 7.f, 50.f, 1.f, 500.f));
    const L3DS& constant = importer;
    EXPECT_TRUE(importer.FindMaterial("Snow") == &importer.GetMaterial(0) &&
                constant.FindMaterial("Ice") == &constant.GetMaterial(2));
    EXPECT_TRUE(importer.FindMesh("B") == &importer.GetMesh(1) && constant.FindMesh("A") == &constant.GetMesh(0));
    for (const char* none : {"snow", "Sno", "", "b", "Ice "})
        EXPECT_TRUE(!importer.FindMaterial(none) && !constant.FindMaterial(none) && !importer.FindMesh(none) &&
                    !constant.FindMesh(none)) << none;
    importer.SetPostProcessLevel(1);
    importer.Clear();
    EXPECT_TRUE(importer.GetMeshCount() + importer.GetMaterialCount() == 0 && importer.GetPostProcessLevel() == 2);
}
