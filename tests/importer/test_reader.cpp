// The 3DS file reader: its primitive reads, what a load gives, and the
// material, light and camera chunks.
#include "builders.h"

#include <tempdir.h>

#include <tuple>

using namespace t3ds;

namespace {

struct TestL3DS : L3DS {  // the reader in reach
    using L3DS::ReadByte, L3DS::ReadFloat, L3DS::ReadInt, L3DS::ReadShort, L3DS::ReadString, L3DS::Seek, L3DS::endOfData,
        L3DS::position;
    void attach(const Bytes& bytes) { buffer = bytes.data(), bufferSize = uint32_t(bytes.size()); }
};

// The scene as text: each mesh as "name:vertices/triangles", with its
// material list and every face's material id when it has a material list;
// then the counts of materials, lights and cameras.
std::string dump(const L3DS& s)
{
    std::string out;
    for (uint32_t i = 0; i < s.GetMeshCount(); ++i) {
        const LMesh& m = s.GetMesh(i);
        out += m.GetName() + ":" + std::to_string(m.GetVertexCount()) + "/" + std::to_string(m.GetTriangleCount());
        for (uint32_t k = 0; k < m.GetMaterialCount(); ++k)
            out += (k ? "," : " [") + std::to_string(m.GetMaterial(k)) + (k + 1 < m.GetMaterialCount() ? "" : "]");
        for (uint32_t f = 0; m.GetMaterialCount() && f < m.GetTriangleCount(); ++f)
            out += (f ? "," : " ") + std::to_string(m.GetFace(f).materialId);
        out += " ";
    }
    return out + "M" + std::to_string(s.GetMaterialCount()) + " L" + std::to_string(s.GetLightCount()) + " C" +
           std::to_string(s.GetCameraCount());
}

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

} // namespace

// Scripts of reads on one buffer: after each step the value, the position
// and the end-of-data flag are as the bounds rules say (a read of n bytes
// needs position + n below the size; a seek clamps to the last byte).
TEST(Reader, PrimitiveReadsAndSeeks)
{
    enum Op { kByte, kShort, kInt, kFloat, kSeek };
    struct Step { Op op; uint32_t arg, value, pos; bool eod; };  // arg: offset of a seek; value: float bits
    const std::pair<Bytes, std::vector<Step>> rows[] = {
        {{1, 0x34, 0x12, 0x78, 0x56, 0x34, 0x12, 0, 0, 0x80, 0x3F, 9},
         {{kByte, 0, 1, 1, false}, {kShort, 0, 0x1234, 3, false}, {kInt, 0, 0x12345678, 7, false},
          {kFloat, 0, 0x3F800000, 11, false}, {kByte, 0, 0, 11, true}}},
        {{1, 2, 3, 4, 5},
         {{kSeek, 2, 0, 2, false}, {kInt, 0, 0, 2, true}, {kFloat, 0, 0, 2, true}, {kShort, 0, 0x0403, 4, true},
          {kSeek, 4, 0, 4, false}, {kByte, 0, 0, 4, true}, {kSeek, 5, 0, 4, false}, {kSeek, ~0u, 0, 4, false}}},
    };
    for (const auto& [bytes, steps] : rows) {
        TestL3DS r;
        r.attach(bytes);
        for (const Step& s : steps) {
            float f = 0;
            uint32_t value = 0;
            switch (s.op) {
            case kByte: value = r.ReadByte(); break;
            case kShort: value = r.ReadShort(); break;
            case kInt: value = r.ReadInt(); break;
            case kFloat: f = r.ReadFloat(), std::memcpy(&value, &f, 4); break;
            case kSeek: r.Seek(s.arg); break;
            }
            EXPECT_TRUE(value == s.value && r.position == s.pos && r.endOfData == s.eod)
                << "row " << &bytes - &rows[0].first << ", step " << &s - &steps[0] << ": " << value << " " << r.position;
        }
    }
    // Strings: the terminator is consumed; a cut one drops the next character;
    // the last byte of the data is never read.
    const struct { std::string bytes; int room; std::string text; uint32_t pos; bool eod; } strings[] = {
        {{'a', 'b', 'c', 0, 'x', 0, 0}, 10, "abc", 4, false}, {{0, 'x', 0}, 4, "", 1, false},
        {{'a', 'b', 0, 'z', 0}, 3, "ab", 3, false}, {{'a', 'b', 'c', 'd', 'e', 0, 0}, 3, "ab", 3, false},
        {"abc", 10, "ab", 2, true}};
    for (const auto& c : strings) {
        TestL3DS r;
        const Bytes bytes(c.bytes.begin(), c.bytes.end());
        r.attach(bytes);
        char text[10] = "qqqqqqqqq";
        EXPECT_TRUE(r.ReadString(text, c.room) == int(c.text.size()) && text == c.text && r.position == c.pos &&
                    r.endOfData == c.eod) << c.text << " in " << c.room << ": " << text << " " << r.position;
    }
}

// Each file is loaded into an importer that holds a scene of every kind: a
// failed load that gets as far as the root leaves the lists empty, a good one
// replaces them.
TEST(Load, TheListsAFileGives)
{
    const MeshObject bad{"Mesh", {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {}, {{0, 1, 2}, {0, 1, 3}, {2, 1, 0}, {9000, 0, 1}},
                       {1, 2, 3, 4}, {{"Mat", {2}}}};
    const std::string n98(98, 'N'), cut = "ABCDEFGHIJKLMNOPQRS";  // all a group name keeps
    std::vector<std::string> names(40, "m");  // the first of a name, in a short list (scanned) and a long one (searched)
    for (int i = 0; i < 40; ++i)
        names[i] += std::to_string(i);
    names.insert(names.end(), {cut + "XYZ", cut, "", "m1", cut, "M1"});
    const MeshObject firsts = cube("Cube", {{"m1", {0}}, {"nothing", {1}}, {"", {2}}, {cut + "TUVW", {3}}});
    struct Row { std::string name; Bytes file; std::string want; bool ok = true; int level = 2; };
    std::vector<Row> rows = {
        {"an empty editor", scene({}), "M0 L0 C0"},
        {"a root that is not 0x4D4D", ChunkWriter().begin(0x4D4C).begin(0x3D3D).end().end().u32(0).bytes(), "M0 L0 C0",
         false},
        {"a root without an editor", ChunkWriter().begin(0x4D4D).begin(0xB000).end().end().u32(0).bytes(), "M0 L0 C0",
         false},
        {"an empty mesh; an object whose first chunk is no mesh", scene([](ChunkWriter& w) {
             w.begin(0x4000).str("E").begin(0x4100).end().end().begin(0x4000).str("H").begin(0x4010).end();
             w.begin(0x4100).end().end();
         }), "E:0/0 M0 L0 C0"},
        {"98 name characters kept; a longer name misplaces the next header",
         meshes({cube(n98), cube(std::string(120, 'L')), cube("After")}), n98 + ":8/12 After:8/12 M0 L0 C0"},
        {"a name of 99 characters", meshes({cube(std::string(99, 'x'))}), "M0 L0 C0"},
        // The rest of the cut name is read as a count of 22,101 faces: 1 and 3,
        // then face 0 in the zeros to the end of the data.
        {"the first of a name, scanned", meshes({firsts}, {names.begin() + 37, names.end()}),
         "Cube:8/12 [6,5,4] 4,4,5,4,0,0,0,0,0,0,0,0 M9 L0 C0"},
        {"the first of a name, searched", meshes({firsts}, names),
         "Cube:8/12 [1,42,41] 41,41,42,41,0,0,0,0,0,0,0,0 M46 L0 C0"},
        {"materials after the objects are known; unknown groups and faces out of range are skipped",
         scene([](ChunkWriter& w) {
             writeMesh(w, cube("Cube", {{"Nowhere", {0, 1}}, {"Green", {5, 12, 60000, 6}}, {"Other", {7}}}));
             material(w, "Other"), material(w, "Green");
         }), "Cube:8/12 [1,0] 0,0,0,0,0,1,1,0,0,0,0,0 M2 L0 C0"},
    };
    for (int level : {0, 1, 2, 5})
        rows.push_back({"faces naming missing vertices go, level " + std::to_string(level), meshes({bad}, {"O", "Mat"}),
                        (level == 2 ? "Mesh:6/2" : "Mesh:3/2") + std::string(" [1] 0,1 M2 L0 C0"), true, level});
    for (uint32_t length : {0u, 5u, 0xFFFFFFFFu}) {
        rows.push_back({"a broken chunk ends the editor " + std::to_string(length), scene([&](ChunkWriter& w) {
                            writeMesh(w.header(0x0100, length), cube());
                        }), "M0 L0 C0"});
        rows.push_back({"a broken chunk ends the mesh " + std::to_string(length), scene([&](ChunkWriter& w) {
                            floatList<3>(w.begin(0x4000).str("M").begin(0x4100), 0x4110, {{1, 1, 1}, {2, 2, 2}, {3, 3, 3}});
                            w.header(0x4140, length).begin(0x4120).u16(1).u16(0).u16(1).u16(2).u16(0).end().end().end();
                        }, [&](ChunkWriter& w) { w.begin(0xB000).begin(0xB002).header(0xB010, length).end().end(); }),
                        "M:3/0 M0 L0 C0"});
    }
    const Bytes previous = scene([](ChunkWriter& w) {
        writeMesh(w, cube("Old")), material(w, "M");
        w.begin(0x4000).str("Cam").begin(0x4700).raw(Bytes(32)).end().end();
        w.begin(0x4000).str("Lamp").begin(0x4600).vec3(0, 0, 0).end().end();
    });
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        L3DS importer;
        ASSERT_TRUE(load(importer, previous) && dump(importer) == "Old:8/12 M1 L1 C1");
        importer.SetPostProcessLevel(row.level);
        EXPECT_EQ(load(importer, row.file), row.ok);
        EXPECT_EQ(dump(importer), row.want);
    }

    // Loads that cannot start keep the scene.
    L3DS importer;
    TempDir dir;
    const std::string empty = dir.path("empty.3ds");
    ASSERT_TRUE(load(importer, previous) && filewriters::writeFile(empty, {}));
    EXPECT_FALSE(importer.LoadMemory(nullptr, 10) || importer.LoadMemory(empty.data(), 0));
    for (const char* path : {"/nonexistent/penguin.3ds", empty.c_str(), dir.root().c_str(), (const char*)nullptr})
        EXPECT_FALSE(importer.LoadFile(path)) << (path ? path : "null");
    EXPECT_EQ(dump(importer), "Old:8/12 M1 L1 C1");
}

// A mesh is loaded as the file holds it (values the file does not hold read
// as zeros) and post-processed by the operations its level names, to the bit,
// by LoadMemory and by LoadFile; an importer that loaded other files before
// gives the same, does the same work and holds no more memory.
TEST(Load, MeshesAreTheFilesProcessedAtTheirLevel)
{
    MeshObject scaled = cube(), tri{"Mesh", {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}}, {{0.5f, 0.25f}, {1, 0}, {0, 1}}, {{0, 1, 2}}};
    scaled.matrix = {{2, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 3}};
    scaled.groups = {1, 1, 2, 2, 4, 4, 8, 8, 16, 16, 0x80000000u, 0x80000000u};
    tri.matrix = {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}};
    MeshObject bad = tri, cut = cube(), last{"Mesh", {{1, 2, 3}, {4, 5, 6}}}, lastRead = last;
    bad.faces = {{0, 1, 2}, {0, 1, 3}, {3, 4, 5}, {2, 1, 0}, {9000, 0, 1}}, bad.groups = {1, 2, 3, 4, 5};
    MeshObject clean = bad;
    clean.faces = {{0, 1, 2}, {2, 1, 0}}, clean.groups = {1, 4};
    Bytes truncated = meshes({scaled});
    truncated.resize(6 * 5 + 5 + 2 + 3 * 12 + 4);  // root, editor, object, name, mesh, 3 vertices and a bit
    cut.vertices.resize(3), cut.vertices.resize(8, {0, 0, 0}), cut.faces.clear();
    lastRead.vertices[1][2] = 0;  // the last 4 bytes of the file
    const std::vector<std::array<float, 3>> two = {{1, 1, 1}, {2, 2, 2}};
    const MeshObject uvFirst{"U", two, {{0.1f, 0.2f}, {0.3f, 0.4f}}}, uvAfter{"V", two, uvFirst.uvs};
    const std::pair<Bytes, std::vector<MeshObject>> rows[] = {
        {meshes({grid("Large", 120, 90, 5)}), {grid("Large", 120, 90, 5)}},
        {meshes({tri}), {tri}},  // a matrix and texture coordinates
        {meshes({scaled, grid("G", 9, 7, 3)}), {scaled, grid("G", 9, 7, 3)}},
        {meshes({bad}), {bad}},  // faces naming missing vertices, which count for nothing:
        {meshes({bad}), {clean}},
        {truncated, {cut}},  // cut inside the vertex list
        {scene([&](ChunkWriter& w) { writeMesh(w, last); }, {}, 0), {lastRead}},  // a last value at the end of the file
        {scene([&](ChunkWriter& w) {  // texture coordinates before the vertices, and more of them than vertices
             floatList<2>(w.begin(0x4000).str("U").begin(0x4100), 0x4140, {{0.1f, 0.2f}, {0.3f, 0.4f}, {0.5f, 0.6f}, {}});
             floatList(w, 0x4110, two);
             floatList(w.end().end().begin(0x4000).str("V").begin(0x4100), 0x4110, two);
             floatList<2>(w, 0x4140, {{0.1f, 0.2f}, {0.3f, 0.4f}, {0.5f, 0.6f}});
             w.end().end();
         }), {uvFirst, uvAfter}},
    };
    const LMesh plain;  // its matrix is what a mesh without a matrix chunk keeps
    EXPECT_EQ(std::vector<float>(plain.matrix.m, plain.matrix.m + 16),
              std::vector<float>({1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}));
    TempDir dir;
    for (int level : {0, 1, 2, 7}) {
        L3DS reused;
        reused.SetPostProcessLevel(level);
        for (const auto& [file, shapes] : rows) {
            SCOPED_TRACE("row " + std::to_string(&file - &rows[0].first) + ", level " + std::to_string(level));
            L3DS memory, fresh;
            memory.SetPostProcessLevel(level), fresh.SetPostProcessLevel(level);
            ASSERT_TRUE(load(memory, file) && filewriters::writeFile(dir.path("f"), file) &&
                        fresh.LoadFile(dir.path("f").c_str()) && reused.LoadFile(dir.path("f").c_str()));
            ASSERT_TRUE(memory.GetMeshCount() == shapes.size() && reused.GetMeshCount() == shapes.size());
            EXPECT_EQ(reused.LastLoadCost().Work(), fresh.LastLoadCost().Work());
            EXPECT_LE(reused.LastLoadCost().PeakMemory(), fresh.LastLoadCost().PeakMemory());
            for (uint32_t i = 0; i < shapes.size(); ++i) {
                LMesh want = meshFrom(shapes[i]);
                if (level == 1 || level == 2)
                    want.CalcNormals(level == 2);
                if (level == 2)
                    want.CalcTextureSpace();
                if (level == 0 || level > 2)
                    want.RemoveInvalidFaces(), want.CopyFaceCorners();
                for (LVec4& v : want.vertices) {  // level 0: matrix * v, divided by its w unless that is 0
                    const float* m = want.matrix.m;
                    auto row = [&](int r) { return m[4 * r] * v.x + m[4 * r + 1] * v.y + m[4 * r + 2] * v.z + m[4 * r + 3] * v.w; };
                    const float t = row(3), d = t != 0 ? 1 / t : 1;
                    v = level ? v : LVec4{row(0) * d, row(1) * d, row(2) * d, 1};
                }
                EXPECT_TRUE(sameMesh(memory.GetMesh(i), want) && sameMesh(fresh.GetMesh(i), want) &&
                            sameMesh(reused.GetMesh(i), want)) << i;
            }
        }
    }
}

// Each row: the chunks of a material "M" that follows a material "X", and
// the fields of a new material that reading them changes.
TEST(Chunks, Materials)
{
    auto percent = [](ChunkWriter& w, uint16_t id, int16_t value) { w.begin(id).begin(0x0030).i16(value).end().end(); };
    auto map = [](ChunkWriter& w, uint16_t id, const char* name) { w.begin(id).begin(0xA300).str(name).end().end(); };
    auto reflection = [](ChunkWriter& w, uint16_t second, const std::string& name) {
        w.begin(0xA220).begin(0x0030).i16(40).end().begin(second).str(name).end().end();
    };
    // want: nullptr when the material is dropped.
    const struct { const char* name; Section chunks; std::function<void(LMaterial&)> want; } rows[] = {
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
             w.begin(0xA100).i16(5).end().begin(0xA100).i16(-1).end(), percent(w, 0xA040, 150), percent(w, 0xA050, -20);
         }, [](LMaterial& m) { m.shininess = 1; }},
        {"shading, then wire", [](ChunkWriter& w) { w.begin(0xA100).i16(3).end().begin(0xA085).end(); },
         [](LMaterial& m) { m.shading = sWire; }},
        {"wire, then shading 4", [](ChunkWriter& w) { w.begin(0xA085).end().begin(0xA100).i16(4).end(); },
         [](LMaterial& m) { m.shading = sMetal; }},
        {"shading 0", [](ChunkWriter& w) { w.begin(0xA100).i16(2).end().begin(0xA100).i16(0).end(); },
         [](LMaterial& m) { m.shading = sWire; }},
        {"a reflection map without a name, of a float", [&](ChunkWriter& w) {
             w.begin(0xA220).begin(0x0031).f32(0.5f).end().begin(0xA300).str("").end().end();
         }, [](LMaterial& m) { m.reflectionMap.strength = 0.5f, std::strcpy(m.reflectionMap.mapName, "auto"); }},
        {"names keep 29 characters, the material's and a reflection map's", [&](ChunkWriter& w) {
             reflection(w.begin(0xA000).str(std::string(35, 'm')).end(), 0xA300, std::string(40, 'r'));
         }, [](LMaterial& m) {
             m.SetName(std::string(29, 'm'));
             m.reflectionMap.strength = 0.4f, std::memset(m.reflectionMap.mapName, 'r', 29);
         }},
        {"a reflection map without 0xA300", [&](ChunkWriter& w) { reflection(w, 0xA351, "x"); }, nullptr},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        L3DS importer;
        ASSERT_TRUE(load(importer, scene([&](ChunkWriter& w) { material(w, "X"), material(w, "M", row.chunks); })));
        ASSERT_EQ(importer.GetMaterialCount(), row.want ? 2u : 1u);
        LMaterial want;
        want.SetName("M"), want.id = 1, row.want ? row.want(want) : void();
        EXPECT_TRUE(!row.want || key(importer.GetMaterial(1)) == key(want));
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
        writeMesh(w, cube("A")), writeMesh(w, cube("B")), writeMesh(w, cube("B"));
    })));
    ASSERT_TRUE(importer.GetLightCount() == 1 && importer.GetCameraCount() == 1);
    const LLight& l = importer.GetLight(0);
    const LCamera& c = importer.GetCamera(0);
    const auto p = key(LVec3{1, 2, 3}), t = key(LVec3{4, 5, 6});
    EXPECT_EQ(std::make_tuple(l.GetName(), key(l.position), key(l.color), l.spotlight, key(l.target), l.hotspot, l.falloff,
                              l.innerRange, l.outerRange),
              std::make_tuple(std::string("Spot"), p, std::make_tuple(1.f, 0.f, 0.2f), true, t, 30.f, 45.f, 5.f, 50.f));
    EXPECT_EQ(std::make_tuple(c.GetName(), key(c.position), key(c.target), c.bank, c.fov, c.nearPlane, c.farPlane),
              std::make_tuple(std::string("Cam"), p, t, 7.f, 50.f, 1.f, 500.f));
    const L3DS& constant = importer;
    EXPECT_TRUE(importer.FindMaterial("Snow") == &importer.GetMaterial(0) && constant.FindMesh("B") == &constant.GetMesh(1));
    EXPECT_TRUE(!importer.FindMaterial("snow") && !constant.FindMaterial("Sno") && !importer.FindMesh("b"));
    importer.SetPostProcessLevel(1);
    importer.Clear();
    EXPECT_TRUE(importer.GetMeshCount() + importer.GetMaterialCount() == 0 && importer.GetPostProcessLevel() == 2);
}
