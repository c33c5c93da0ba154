// The 3DS file reader: its primitive reads, and what a load gives.
#include "builders.h"

#include <tempdir.h>

using namespace t3ds;

namespace {

struct TestL3DS : L3DS {  // the reader in reach
    using L3DS::FindChunk, L3DS::ReadByte, L3DS::ReadChunkHeader, L3DS::ReadFloat, L3DS::ReadInt, L3DS::ReadShort,
        L3DS::ReadString, L3DS::Seek, L3DS::endOfData, L3DS::position;
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

MeshSpec cubeWith(std::vector<std::pair<std::string, std::vector<uint16_t>>> groups)
{
    MeshSpec m = cube();
    m.materialGroups = std::move(groups);
    return m;
}

} // namespace

// Scripts of reads on one buffer: after each step the value, the position
// and the end-of-data flag are as the bounds rules say.
TEST(Reader, PrimitiveReadsStringsAndChunkSearch)
{
    enum Op { kByte, kShort, kInt, kFloat, kSeek, kString, kHeader, kFind };
    constexpr uint32_t kAny = ~0u;  // as pos: neither position nor flag checked
    // arg: the offset of a seek, the maxLength of a string, the id sought; value: the value read (float bits), the
    // characters stored, the id read or whether it was found; pos: the position afterwards (and the start of the
    // chunk read or found, whose end is `end`); text: what a string read stores.
    struct Step { Op op; uint32_t arg, value, pos; bool eod; const char* text = ""; uint32_t end = 0; };
    const std::pair<Bytes, std::vector<Step>> rows[] = {
        {{1, 0x34, 0x12, 0x78, 0x56, 0x34, 0x12, 0, 0, 0x80, 0x3F, 9},  // little-endian; the last byte is never read
         {{kByte, 0, 1, 1, false}, {kShort, 0, 0x1234, 3, false}, {kInt, 0, 0x12345678, 7, false},
          {kFloat, 0, 0x3F800000, 11, false}, {kByte, 0, 0, 11, true}}},
        {{1, 2, 3, 4, 5},  // a failed read gives 0 in place; a seek clamps and clears the flag
         {{kSeek, 2, 0, 2, false}, {kInt, 0, 0, 2, true}, {kFloat, 0, 0, 2, true}, {kShort, 0, 0x0403, 4, true},
          {kSeek, 4, 0, 4, false}, {kByte, 0, 0, 4, true}, {kSeek, 5, 0, 4, false}, {kSeek, kAny, 0, 4, false}}},
        // The terminator is read; maxLength - 1 characters fit, the next is dropped; a string runs into the end.
        {{0, 'a', 'b', 0, 'c', 'd', 'e', 'f', 0, 0}, {{kString, 4, 0, 1, false, ""}, {kString, 3, 2, 4, false, "ab"},
                                                      {kString, 3, 2, 7, false, "cd"}, {kByte, 0, 'f', 8, false}}},
        {{'a', 'b', 'c'}, {{kString, 10, 2, 2, true, "ab"}}},
        {ChunkWriter().header(0x1234, 20).raw(Bytes(14)).bytes(),  // a header, and one at the end of the data
         {{kHeader, 0, 0x1234, 6, false, "", 20}, {kSeek, 19, 0, 19, false}, {kHeader, 0, 0, 19, true, "", 13}}},
        {ChunkWriter().begin(0x1000).begin(1).u32(1).end().begin(2).end().begin(3).u32(3).end().end().begin(4).end()
             .u32(0).bytes(),  // siblings are skipped, the search stays inside the parent
         {{kHeader, 0, 0x1000, 6, false, "", 32}, {kFind, 3, 1, 28, false, "", 32}, {kInt, 0, 3, 32, false},
          {kSeek, 6, 0, 6, false}, {kFind, 1, 1, 12, false, "", 16}, {kSeek, 6, 0, 6, false},
          {kFind, 4, 0, kAny, false}, {kSeek, 32, 0, 32, false}, {kFind, 4, 0, kAny, false}}},
        {ChunkWriter().begin(0x1000).header(1, 5).u32(0).begin(2).end().end().u32(0).bytes(),  // a length below 6
         {{kHeader, 0, 0x1000, 6, false, "", 22}, {kFind, 2, 0, kAny, false}}},
    };
    for (const auto& [bytes, steps] : rows) {
        TestL3DS r;
        r.attach(bytes);
        LChunkInfo parent{}, chunk{};
        for (const Step& s : steps) {
            SCOPED_TRACE("row " + std::to_string(&bytes - &rows[0].first) + ", step " + std::to_string(&s - &steps[0]));
            char text[16] = "qqqqqqqqqqqqqqq";
            uint32_t value = 0;
            float f = 0;
            switch (s.op) {
            case kByte: value = r.ReadByte(); break;
            case kShort: value = r.ReadShort(); break;
            case kInt: value = r.ReadInt(); break;
            case kFloat: f = r.ReadFloat(), std::memcpy(&value, &f, 4); break;
            case kSeek: r.Seek(s.arg); break;
            case kString: value = uint32_t(r.ReadString(text, int(s.arg))); break;
            case kHeader: chunk = parent = r.ReadChunkHeader(), value = parent.id; break;
            case kFind: chunk.id = uint16_t(s.arg), value = r.FindChunk(chunk, parent); break;
            }
            EXPECT_EQ(value, s.value);
            EXPECT_STREQ(s.op == kString ? text : "", s.text);
            const bool chunkRead = s.op == kHeader || (s.op == kFind && value), anywhere = s.pos == kAny;
            EXPECT_TRUE(!chunkRead || (chunk.start == s.pos && chunk.end == s.end)) << chunk.start << ".." << chunk.end;
            EXPECT_TRUE(anywhere || (r.position == s.pos && r.endOfData == s.eod)) << r.position << " " << r.endOfData;
        }
    }
}

// Each load follows one of a scene of each kind: a failed load that gets as
// far as the root leaves the lists empty, a good one replaces them.
TEST(Load, TheListsAFileGives)
{
    const MeshSpec bad{"Mesh", {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {}, {{0, 1, 2}, {0, 1, 3}, {2, 1, 0}, {9000, 0, 1}},
                       {1, 2, 3, 4}, {{"Mat", {2}}}};
    const std::string n98(98, 'N'), cut = "ABCDEFGHIJKLMNOPQRS";  // all a group name keeps
    std::vector<std::string> names;  // the first of a name, in a short list (scanned) and a long one (searched)
    for (int i = 0; i < 40; ++i)
        names.push_back("m" + std::to_string(i));
    names.insert(names.end(), {cut + "XYZ", cut, "", "m1", cut, "M1"});
    const MeshSpec firsts = cubeWith({{"m1", {0}}, {"nothing", {1}}, {"", {2}}, {cut + "TUVW", {3}}});
    const std::vector<std::string> shortNames(names.begin() + 37, names.end());
    struct Row { std::string name; Bytes file; std::string want; bool ok = true; int level = 2; };
    std::vector<Row> rows = {
        {"an empty editor", scene({}), "M0 L0 C0"},
        {"a root that is not 0x4D4D", ChunkWriter().begin(0x4D4C).begin(0x3D3D).end().end().u32(0).bytes(), "M0 L0 C0", false},
        {"a root without an editor", ChunkWriter().begin(0x4D4D).begin(0xB000).end().end().u32(0).bytes(), "M0 L0 C0", false},
        {"an empty mesh; an object whose first chunk is no mesh", scene([](ChunkWriter& w) {
             w.begin(0x4000).str("E").begin(0x4100).end().end().begin(0x4000).str("H").begin(0x4010).end();
             w.begin(0x4100).end().end();
         }), "E:0/0 M0 L0 C0"},
        {"98 name characters kept; a longer name misplaces the next header",
         meshes({cube(n98), cube(std::string(120, 'L')), cube("After")}), n98 + ":8/12 After:8/12 M0 L0 C0"},
        {"a name of 99 characters", meshes({cube(std::string(99, 'x'))}), "M0 L0 C0"},
        {"materials after the objects are known to the faces", scene([](ChunkWriter& w) {
             meshObject(w, cubeWith({{"Red", {0, 1, 2}}, {"Blue", {3, 11}}}));
             material(w, "Blue"), material(w, "Red");
         }), "Cube:8/12 [1,0] 1,1,1,0,0,0,0,0,0,0,0,0 M2 L0 C0"},
        // The rest of the cut name is read as a count of 22,101 faces: 1 and 3,
        // then face 0 in the zeros to the end of the data.
        {"the first of a name, scanned", meshes({firsts}, shortNames), "Cube:8/12 [6,5,4] 4,4,5,4,0,0,0,0,0,0,0,0 M9 L0 C0"},
        {"the first of a name, searched", meshes({firsts}, names),
         "Cube:8/12 [1,42,41] 41,41,42,41,0,0,0,0,0,0,0,0 M46 L0 C0"},
        {"unknown groups and faces out of range are skipped",
         meshes({cubeWith({{"Nowhere", {0, 1}}, {"Green", {5, 12, 60000, 6}}})}, {"Other", "Green"}),
         "Cube:8/12 [1] 0,0,0,0,0,1,1,0,0,0,0,0 M2 L0 C0"},
    };
    for (int level : {0, 1, 2, 5})
        rows.push_back({"faces naming missing vertices go, level " + std::to_string(level), meshes({bad}, {"O", "Mat"}),
                        (level == 2 ? "Mesh:6/2" : "Mesh:3/2") + std::string(" [1] 0,1 M2 L0 C0"), true, level});
    for (uint32_t length : {0u, 5u, 0xFFFFFFFFu}) {
        rows.push_back({"a broken chunk ends the editor " + std::to_string(length), scene([&](ChunkWriter& w) {
                            meshObject(w.header(0x0100, length), cube());
                        }), "M0 L0 C0"});
        rows.push_back({"a broken chunk ends the mesh " + std::to_string(length), scene([&](ChunkWriter& w) {
                            floatList<3>(w.begin(0x4000).str("M").begin(0x4100), 0x4110, {{1, 1, 1}, {2, 2, 2}, {3, 3, 3}});
                            w.header(0x4140, length).begin(0x4120).u16(1).u16(0).u16(1).u16(2).u16(0).end().end().end();
                        }, [&](ChunkWriter& w) { w.begin(0xB000).begin(0xB002).header(0xB010, length).end().end(); }),
                        "M:3/0 M0 L0 C0"});
    }
    const Bytes previous = scene([](ChunkWriter& w) {
        meshObject(w, cube("Old"));
        material(w, "M");
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
        EXPECT_EQ(importer.GetPostProcessLevel(), row.level);  // a load keeps the level
    }

    // Loads that cannot start keep the scene.
    L3DS importer;
    TempDir dir;
    const std::string empty = dir.path("empty.3ds");
    const uint8_t byte = 0;
    ASSERT_TRUE(load(importer, previous) && filewriters::writeFile(empty, {}));
    EXPECT_FALSE(importer.LoadMemory(nullptr, 10) || importer.LoadMemory(&byte, 0));
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
    MeshSpec scaled = cube(), tri{"Mesh", {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}}, {{0.5f, 0.25f}, {1, 0}, {0, 1}}, {{0, 1, 2}}};
    scaled.matrix = {2, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 3};
    scaled.groups = {1, 1, 2, 2, 4, 4, 8, 8, 16, 16, 0x80000000u, 0x80000000u};
    tri.matrix = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    MeshSpec bad = tri, cut = cube(), last{"Mesh", {{1, 2, 3}, {4, 5, 6}}}, lastRead = last;
    bad.faces = {{0, 1, 2}, {0, 1, 3}, {3, 4, 5}, {2, 1, 0}, {9000, 0, 1}};
    bad.groups = {1, 2, 3, 4, 5};
    Bytes truncated = meshes({scaled});
    truncated.resize(6 * 5 + 5 + 2 + 3 * 12 + 4);  // root, editor, object, name, mesh, 3 vertices and a bit
    cut.vertices.resize(3);
    cut.vertices.resize(8, {0, 0, 0});
    cut.faces.clear();
    lastRead.vertices[1][2] = 0;  // the last 4 bytes of the file
    const std::vector<std::array<float, 3>> two = {{1, 1, 1}, {2, 2, 2}};
    const MeshSpec uvFirst{"U", two, {{0.1f, 0.2f}, {0.3f, 0.4f}}}, uvAfter{"V", two, uvFirst.uvs};
    const std::pair<Bytes, std::vector<MeshSpec>> rows[] = {
        {meshes({grid("Large", 120, 90, 5)}), {grid("Large", 120, 90, 5)}},
        {meshes({tri}), {tri}},  // a matrix and texture coordinates
        {meshes({scaled, grid("G", 9, 7, 3)}), {scaled, grid("G", 9, 7, 3)}},
        {meshes({bad}), {bad}},  // faces naming missing vertices
        {scene([](ChunkWriter& w) {  // the face list before the vertex list
             faceList(w.begin(0x4000).str("Cube").begin(0x4100), cube());
             floatList(w, 0x4110, cube().vertices);
             w.end().end();
         }), {cube()}},
        {truncated, {cut}},  // cut inside the vertex list
        {scene([&](ChunkWriter& w) { meshObject(w, last); }, {}, 0), {lastRead}},  // a last value at the end of the file
        {scene([&](ChunkWriter& w) {  // texture coordinates before the vertices, and more of them than vertices
             floatList<2>(w.begin(0x4000).str("U").begin(0x4100), 0x4140, {{0.1f, 0.2f}, {0.3f, 0.4f}, {0.5f, 0.6f}, {}});
             floatList(w, 0x4110, two);
             floatList(w.end().end().begin(0x4000).str("V").begin(0x4100), 0x4110, two);
             floatList<2>(w, 0x4140, {{0.1f, 0.2f}, {0.3f, 0.4f}, {0.5f, 0.6f}});
             w.end().end();
         }), {uvFirst, uvAfter}},
    };
    TempDir dir;
    for (int level : {0, 1, 2, 7}) {
        L3DS reused;
        reused.SetPostProcessLevel(level);
        for (const auto& [file, specs] : rows) {
            SCOPED_TRACE("row " + std::to_string(&file - &rows[0].first) + ", level " + std::to_string(level));
            L3DS memory, fresh;
            memory.SetPostProcessLevel(level);
            fresh.SetPostProcessLevel(level);
            ASSERT_TRUE(load(memory, file) && filewriters::writeFile(dir.path("f"), file) &&
                        fresh.LoadFile(dir.path("f").c_str()) && reused.LoadFile(dir.path("f").c_str()));
            ASSERT_TRUE(memory.GetMeshCount() == specs.size() && reused.GetMeshCount() == specs.size());
            EXPECT_EQ(reused.LastLoadCost().Work(), fresh.LastLoadCost().Work());
            EXPECT_LE(reused.LastLoadCost().PeakMemory(), fresh.LastLoadCost().PeakMemory());
            for (uint32_t i = 0; i < specs.size(); ++i) {
                LMesh want = meshFrom(specs[i]);
                if (level == 1 || level == 2)
                    want.CalcNormals(level == 2);
                if (level == 2)
                    want.CalcTextureSpace();
                if (level == 0 || level > 2) {
                    want.RemoveInvalidFaces();
                    if (level == 0)
                        want.TransformVertices();
                    want.CopyFaceCorners();
                }
                EXPECT_TRUE(sameMesh(memory.GetMesh(i), want) && sameMesh(fresh.GetMesh(i), want) &&
                            sameMesh(reused.GetMesh(i), want)) << i;
            }
        }
    }
}
