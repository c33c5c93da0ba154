// Material, light and camera chunks, and the scene objects they fill.
#include "builders.h"

#include <cstdio>
#include <string>

using namespace t3ds;

namespace {

// An object as "key=value" fields (numbers as %g, joined by commas).
struct Fields {
    std::vector<std::pair<std::string, std::string>> list;
    Fields& add(const std::string& key, std::initializer_list<float> values)
    {
        std::string text;
        for (float v : values) {
            char buffer[32];
            std::snprintf(buffer, sizeof buffer, "%s%g", text.empty() ? "" : ",", double(v));
            text += buffer;
        }
        list.emplace_back(key, text);
        return *this;
    }
    Fields& add(const std::string& key, const std::string& text)
    {
        list.emplace_back(key, text);
        return *this;
    }
    Fields& rgb(const std::string& key, const LColorRGB& c) { return add(key, {c.r, c.g, c.b}); }
    Fields& xyz(const std::string& key, const LVec3& v) { return add(key, {v.x, v.y, v.z}); }
    Fields& map(const std::string& key, const LTextureMap& m)
    {
        return add(key + ".strength", {m.strength}).add(key + ".name", m.mapName)
            .add(key + ".scale", {m.uScale, m.vScale}).add(key + ".offset", {m.uOffset, m.vOffset})
            .add(key + ".angle", {m.angle});
    }
};

Fields fields(const LMaterial& m)
{
    return Fields().add("name", m.GetName()).add("id", {float(m.id)}).rgb("ambient", m.ambient)
        .rgb("diffuse", m.diffuse).rgb("specular", m.specular).add("shininess", {m.shininess})
        .add("transparency", {m.transparency}).add("shading", {float(m.shading)}).map("map1", m.textureMap1)
        .map("map2", m.textureMap2).map("opacity", m.opacityMap).map("reflection", m.reflectionMap)
        .map("bump", m.bumpMap).map("specmap", m.specularMap);
}
Fields fields(const LLight& l)
{
    return Fields().add("name", l.GetName()).xyz("position", l.position).rgb("color", l.color)
        .add("spotlight", {float(l.spotlight)}).xyz("target", l.target).add("hotspot", {l.hotspot})
        .add("falloff", {l.falloff}).add("inner", {l.innerRange}).add("outer", {l.outerRange});
}
Fields fields(const LCamera& c)
{
    return Fields().add("name", c.GetName()).xyz("position", c.position).xyz("target", c.target)
        .add("bank", {c.bank}).add("fov", {c.fov}).add("near", {c.nearPlane}).add("far", {c.farPlane});
}

// The fields of `object` that differ from those of a new one.
template <class T>
std::string changed(const T& object)
{
    const Fields got = fields(object), fresh = fields(T());
    std::string out;
    for (size_t i = 0; i < got.list.size(); ++i)
        if (got.list[i].second != fresh.list[i].second)
            out += (out.empty() ? "" : " ") + got.list[i].first + "=" + got.list[i].second;
    return out;
}

std::string everything(const L3DS& s)
{
    std::string out;
    for (uint32_t i = 0; i < s.GetMaterialCount(); ++i)
        out += changed(s.GetMaterial(i)) + "; ";
    for (uint32_t i = 0; i < s.GetLightCount(); ++i)
        out += changed(s.GetLight(i)) + "; ";
    for (uint32_t i = 0; i < s.GetCameraCount(); ++i)
        out += changed(s.GetCamera(i)) + "; ";
    return out;
}

void mat(ChunkWriter& w, const Section& chunks) { material(w, "Mat", chunks); }

void percentages(ChunkWriter& w, int16_t shininess, int16_t transparency)
{
    w.begin(0xA040).begin(0x0030).i16(shininess).end().end().begin(0xA050).begin(0x0030).i16(transparency).end();
    w.end();
}

void camera(ChunkWriter& w, const std::string& name, float lens, const Section& extra = {})
{
    w.begin(0x4000).str(name).begin(0x4700).vec3(1, 2, 3).vec3(4, 5, 6).f32(7).f32(lens);
    if (extra)
        extra(w);
    w.end().end();
}

void light(ChunkWriter& w, const std::string& name, const Section& extra = {})
{
    w.begin(0x4000).str(name).begin(0x4600).vec3(10, 20, 30);
    if (extra)
        extra(w);
    w.end().end();
}

} // namespace

TEST(Chunks, NewObjects)
{
    auto values = [](const Fields& f) {
        std::string out;
        for (const auto& field : f.list)
            out += field.second + ";";
        return out;
    };
    std::string maps;
    for (int i = 0; i < 6; ++i)
        maps += "0;;1,1;0,0;0;";
    EXPECT_EQ(values(fields(LMaterial())), ";0;0,0,0;0,0,0;0,0,0;0;0;2;" + maps);
    EXPECT_EQ(values(fields(LLight())), ";0,0,0;0,0,0;0;0,0,0;0;0;100;1000;");
    EXPECT_EQ(values(fields(LCamera())), ";0,0,0;0,0,0;0;80;10;10000;");
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(LMesh().GetMatrix().m[i], i % 5 ? 0.0f : 1.0f);
    EXPECT_EQ(L3DS().GetPostProcessLevel(), 2);
}

// Each row: the editor's chunks, and every material, light and camera read
// from them, as the fields that differ from a new object's.
TEST(Chunks, MaterialsLightsAndCameras)
{
    const struct {
        const char* name;
        Section editor;
        std::string want;
    } rows[] = {
        {"colours in four forms; only a colour's first sub-chunk is read", [](ChunkWriter& w) {
             mat(w, [](ChunkWriter& w) {
                 w.begin(0xA010).begin(0x0011).u8(255).u8(128).u8(0).end().end();
                 w.begin(0xA020).begin(0x0013).vec3(0.25f, 0.5f, 0.75f).end().end();
                 w.begin(0xA030).begin(0x0012).u8(51).u8(102).u8(204).end().begin(0x0011).u8(1).u8(1).u8(1).end();
                 w.end();
             });
         }, "name=Mat ambient=1,0.501961,0 diffuse=0.25,0.5,0.75 specular=0.2,0.4,0.8; "},
        {"a colour of another kind is black", [](ChunkWriter& w) {
             mat(w, [](ChunkWriter& w) {
                 w.begin(0xA020).begin(0x0010).vec3(0.5f, 0.5f, 1).end().end();
                 w.begin(0xA010).begin(0x0010).vec3(1, 1, 1).end().end().begin(0xA010).begin(0x0030).i16(50);
                 w.end().end();
             });
         }, "name=Mat diffuse=0.5,0.5,1; "},
        {"percentages are clamped", [](ChunkWriter& w) { mat(w, [](ChunkWriter& w) { percentages(w, -20, 150); }); },
         "name=Mat transparency=1; "},
        {"percentages are clamped, the other way",
         [](ChunkWriter& w) { mat(w, [](ChunkWriter& w) { percentages(w, 150, -20); }); }, "name=Mat shininess=1; "},
        {"percentages of both kinds", [](ChunkWriter& w) {
             mat(w, [](ChunkWriter& w) {
                 w.begin(0xA040).begin(0x0030).i16(25).end().end().begin(0xA050).begin(0x0031).f32(0.375f).end();
                 w.end();
             });
         }, "name=Mat shininess=0.25 transparency=0.375; "},
        {"shading: values out of range, wire, values", [](ChunkWriter& w) {
             mat(w, [](ChunkWriter& w) { w.begin(0xA100).i16(7).end().begin(0xA100).i16(-1).end(); });
             mat(w, [](ChunkWriter& w) { w.begin(0xA100).i16(3).end().begin(0xA085).end(); });
             mat(w, [](ChunkWriter& w) { w.begin(0xA085).end().begin(0xA100).i16(4).end(); });
             mat(w, [](ChunkWriter& w) { w.begin(0xA100).i16(0).end(); });
         }, "name=Mat; name=Mat id=1 shading=0; name=Mat id=2 shading=4; name=Mat id=3 shading=0; "},
        {"a name keeps 29 characters", [](ChunkWriter& w) { material(w, std::string(35, 'm')); },
         "name=" + std::string(29, 'm') + "; "},
        {"texture maps", [](ChunkWriter& w) {
             mat(w, [](ChunkWriter& w) {
                 w.begin(0xA200).begin(0x0030).i16(80).end().begin(0xA300).str("snow.bmp").end();
                 w.begin(0xA354).f32(2).end().begin(0xA356).f32(3).end().begin(0xA358).f32(0.5f).end();
                 w.begin(0xA35A).f32(0.25f).end().begin(0xA35C).f32(45).end().begin(0xA351).u16(0).end().end();
                 w.begin(0xA204).begin(0xA300).str("shine.bmp").end().end();
                 w.begin(0xA210).begin(0xA300).str("opac.bmp").end().end();
                 w.begin(0xA230).begin(0x0031).f32(0.5f).end().begin(0xA300).str("bump.bmp").end().end();
                 w.begin(0xA33A).begin(0xA300).str("ABCDEFGHIJKLMNOPQRSTUVWXY").end().end();
             });
         }, "name=Mat map1.strength=0.8 map1.name=snow.bmp map1.scale=2,3 map1.offset=0.5,0.25 map1.angle=45 "
            "map2.name=ABCDEFGHIJKLMNOPQRS opacity.name=opac.bmp bump.name=bump.bmp specmap.name=shine.bmp; "},
        {"reflection maps: a name, none, a long one; without 0xA300 the material goes", [](ChunkWriter& w) {
             auto reflection = [&](const std::string& name, uint16_t kind, const Section& after) {
                 material(w, name, [&](ChunkWriter& w) {
                     w.begin(0xA220).begin(kind);
                     kind == 0x0030 ? w.i16(40) : w.f32(0.5f);
                     after(w.end());
                     w.end();
                 });
             };
             reflection("Mat", 0x0030, [](ChunkWriter& w) { w.begin(0xA300).str("sky.bmp").end(); });
             reflection("Mat", 0x0031, [](ChunkWriter& w) { w.begin(0xA300).str("").end(); });
             reflection("Gone", 0x0030, [](ChunkWriter& w) { w.begin(0xA351).u16(0).end(); });
             reflection("Mat", 0x0030, [](ChunkWriter& w) { w.begin(0xA300).str(std::string(40, 'r')).end(); });
         }, "name=Mat reflection.strength=0.4 reflection.name=sky.bmp; "
            "name=Mat id=1 reflection.strength=0.5 reflection.name=auto; "
            "name=Mat id=2 reflection.strength=0.4 reflection.name=" + std::string(29, 'r') + "; "},
        {"lights", [](ChunkWriter& w) {
             light(w, "Omni");
             light(w, "Spot", [](ChunkWriter& w) {
                 w.begin(0x0011).u8(255).u8(0).u8(51).end().begin(0x4610).vec3(1, 2, 3).f32(30).f32(45).end();
                 w.begin(0x4659).f32(5).end().begin(0x465A).f32(50).end();
             });
             light(w, "Lit", [](ChunkWriter& w) { w.begin(0x0010).vec3(0.5f, 0.25f, 1).end(); });
         }, "name=Omni position=10,20,30; name=Spot position=10,20,30 color=1,0,0.2 spotlight=1 target=1,2,3 "
            "hotspot=30 falloff=45 inner=5 outer=50; name=Lit position=10,20,30 color=0.5,0.25,1; "},
        {"cameras", [](ChunkWriter& w) {
             camera(w, "Cam48", 48, [](ChunkWriter& w) { w.begin(0x4720).f32(1).f32(500).end(); });
             camera(w, "Cam0", 0);
         }, "name=Cam48 position=1,2,3 target=4,5,6 bank=7 fov=50 near=1 far=500; "
            "name=Cam0 position=1,2,3 target=4,5,6 bank=7 fov=inf; "},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        L3DS importer;
        ASSERT_TRUE(load(importer, scene(row.editor)));
        EXPECT_EQ(everything(importer), row.want);
        EXPECT_EQ(importer.GetMeshCount(), 0u);
    }
}

TEST(Chunks, FindByNameAndClear)
{
    L3DS importer;
    ASSERT_TRUE(load(importer, scene([](ChunkWriter& w) {
        material(w, "Snow");
        material(w, "Snow");
        material(w, "Ice");
        for (const char* name : {"A", "B", "B"})
            meshObject(w, cube(name));
    })));
    const L3DS& constant = importer;
    const struct {
        const char* name;
        const void* material;
        const void* mesh;
    } rows[] = {
        {"Snow", &importer.GetMaterial(0), nullptr}, {"Ice", &constant.GetMaterial(2), nullptr},
        {"snow", nullptr, nullptr}, {"Sno", nullptr, nullptr}, {"", nullptr, nullptr},
        {"B", nullptr, &importer.GetMesh(1)}, {"b", nullptr, nullptr}, {"A", nullptr, &constant.GetMesh(0)},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(importer.FindMaterial(row.name), row.material);
        EXPECT_EQ(constant.FindMaterial(row.name), row.material);
        EXPECT_EQ(importer.FindMesh(row.name), row.mesh);
        EXPECT_EQ(constant.FindMesh(row.name), row.mesh);
    }
    importer.SetPostProcessLevel(1);
    importer.Clear();
    EXPECT_EQ(importer.GetMeshCount() + importer.GetMaterialCount(), 0u);
    EXPECT_EQ(importer.GetPostProcessLevel(), 2);
}
