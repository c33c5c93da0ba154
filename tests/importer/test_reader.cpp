// The 3DS file reader: its primitive reads, and what a load gives.
#include "builders.h"

#include <tempdir.h>

#include <string>

using namespace t3ds;

// Scripts of reads on one buffer; after each step the value, the position
// and the end-of-data flag are as the bounds rules say.
TEST(Reader, PrimitiveReadsStringsAndChunkSearch)
{
    enum Op { kByte, kShort, kInt, kFloat, kSeek, kString, kHeader, kFind };
    constexpr uint32_t kAny = ~0u;  // as pos: neither position nor flag checked
    struct Step {
        Op op;
        uint32_t arg;    // kSeek: offset, kString: maxLength, kFind: the id sought
        uint32_t value;  // value (float bits), characters stored, id read, found
        uint32_t pos;    // position afterwards (for kHeader and kFind also the chunk's start)
        bool eod;
        const char* text = "";  // kString: what is stored
        uint32_t end = 0;       // kHeader, kFind: the chunk's end
    };
    const Bytes nested = ChunkWriter().begin(0x1000).begin(1).u32(1).end().begin(2).u32(2).end()
                             .begin(3).u32(3).end().end().begin(4).u32(4).end().u32(0).bytes();
    const Bytes broken = ChunkWriter().begin(0x1000).header(1, 2).u32(0).begin(2).u32(2).end().end().u32(0).bytes();
    const struct {
        const char* name;
        Bytes bytes;
        std::vector<Step> steps;
    } rows[] = {
        {"little-endian values; the last byte is never consumed",
         {0x01, 0x34, 0x12, 0x78, 0x56, 0x34, 0x12, 0x00, 0x00, 0x80, 0x3F, 0xAA},
         {{kByte, 0, 1, 1, false}, {kShort, 0, 0x1234, 3, false}, {kInt, 0, 0x12345678, 7, false},
          {kFloat, 0, 0x3F800000, 11, false}, {kByte, 0, 0, 11, true}}},
        {"a failed read gives 0 in place; a seek clamps and clears the flag", {1, 2, 3, 4, 5},
         {{kSeek, 2, 0, 2, false}, {kInt, 0, 0, 2, true}, {kFloat, 0, 0, 2, true}, {kShort, 0, 0x0403, 4, true},
          {kSeek, 4, 0, 4, false}, {kByte, 0, 0, 4, true}, {kSeek, 5, 0, 4, false}, {kSeek, kAny, 0, 4, false}}},
        {"a string that fits consumes its terminator", {'a', 'b', 'c', 0, 'x', 0, 0},
         {{kString, 10, 3, 4, false, "abc"}}},
        {"an empty string", {0, 'x', 0}, {{kString, 4, 0, 1, false, ""}}},
        {"maxLength - 1 characters fit", {'a', 'b', 0, 'z', 0}, {{kString, 3, 2, 3, false, "ab"}}},
        {"a longer string is cut and the next character dropped", {'a', 'b', 'c', 'd', 'e', 0, 0, 0},
         {{kString, 3, 2, 3, false, "ab"}, {kByte, 0, 'd', 4, false}}},
        {"a string running into the end of the data", {'a', 'b', 'c'}, {{kString, 10, 2, 2, true, "ab"}}},
        {"a header, and one read at the end of the data", ChunkWriter().header(0x1234, 20).raw(Bytes(14)).bytes(),
         {{kHeader, 0, 0x1234, 6, false, "", 20}, {kSeek, 19, 0, 19, false}, {kHeader, 0, 0, 19, true, "", 13}}},
        {"a chunk is found among its siblings, inside its parent only", nested,
         {{kHeader, 0, 0x1000, 6, false, "", 36}, {kFind, 3, 1, 32, false, "", 36}, {kInt, 0, 3, 36, false},
          {kSeek, 6, 0, 6, false}, {kFind, 1, 1, 12, false, "", 16}, {kSeek, 6, 0, 6, false},
          {kFind, 4, 0, kAny, false}, {kSeek, 36, 0, 36, false}, {kFind, 4, 0, kAny, false}}},
        {"a length below 6 ends the search", broken,
         {{kHeader, 0, 0x1000, 6, false, "", 26}, {kFind, 2, 0, kAny, false}}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TestL3DS r;
        r.attach(row.bytes);
        LChunkInfo parent{}, chunk{};
        for (size_t i = 0; i < row.steps.size(); ++i) {
            SCOPED_TRACE(i);
            const Step& s = row.steps[i];
            char text[16];
            std::memset(text, 'q', sizeof text);
            uint32_t value = 0;
            float f = 0;
            switch (s.op) {
            case kByte: value = r.ReadByte(); break;
            case kShort: value = r.ReadShort(); break;
            case kInt: value = r.ReadInt(); break;
            case kFloat: f = r.ReadFloat(); std::memcpy(&value, &f, 4); break;
            case kSeek: r.Seek(s.arg); break;
            case kString: value = uint32_t(r.ReadString(text, int(s.arg))); break;
            case kHeader: chunk = parent = r.ReadChunkHeader(); value = parent.id; break;
            case kFind: chunk.id = uint16_t(s.arg); value = r.FindChunk(chunk, parent); break;
            }
            EXPECT_EQ(value, s.value);
            EXPECT_STREQ(s.op == kString ? text : "", s.text);
            if (s.op == kHeader || (s.op == kFind && value)) {
                EXPECT_EQ(chunk.start, s.pos);
                EXPECT_EQ(chunk.end, s.end);
            }
            if (s.pos != kAny) {
                EXPECT_EQ(r.pos(), s.pos);
                EXPECT_EQ(r.eod(), s.eod);
            }
        }
    }
}

namespace {

// The scene as text: each mesh as "name:vertices/triangles", with its
// material list and the material id of every face when it has a material
// list; then the counts of materials, lights and cameras.
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

Bytes withGroups(const std::vector<std::string>& materials, const MeshSpec& mesh)
{
    return scene([&](ChunkWriter& w) {
        for (const std::string& name : materials)
            material(w, name);
        meshObject(w, mesh);
    });
}

MeshSpec cubeWith(std::vector<std::pair<std::string, std::vector<uint16_t>>> groups)
{
    MeshSpec m = cube();
    m.materialGroups = std::move(groups);
    return m;
}

// Short material lists are scanned, long ones searched through an index:
// both give the first material of a name, byte for byte.
Bytes sameNames(int count)
{
    const std::string cut = "ABCDEFGHIJKLMNOPQRS";  // 19 characters, all a group name keeps
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i)
        names.push_back("m" + std::to_string(i));
    for (const std::string& name : {cut + "XYZ", cut, std::string(), std::string("m1"), cut, std::string("M1")})
        names.push_back(name);
    return withGroups(names, cubeWith({{"m1", {0}}, {"nothing", {1}}, {"", {2}}, {cut + "TUVW", {3}}}));
}

} // namespace

// Every load follows one of a scene of each kind: a failed load that gets as
// far as the root leaves the lists empty, a good one replaces them.
TEST(Load, TheListsAFileGives)
{
    const MeshSpec badCorners = [] {
        MeshSpec m;
        m.vertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
        m.faces = {{0, 1, 2}, {0, 1, 3}, {2, 1, 0}, {9000, 0, 1}};
        m.groups = {1, 2, 3, 4};
        m.materialGroups = {{"Mat", {2}}};
        return m;
    }();
    const std::string n98(98, 'N'), zeros = " 0,0,0,0,0,0,0,0,0,0,0,0";
    struct Row {
        std::string name;
        Bytes file;
        std::string want;
        bool ok = true;
        int level = 2;
    };
    std::vector<Row> rows = {
        {"an empty editor", scene({}), "M0 L0 C0"},
        {"a root that is not 0x4D4D", ChunkWriter().begin(0x4D4C).begin(0x3D3D).end().end().u32(0).bytes(),
         "M0 L0 C0", false},
        {"a root without an editor", ChunkWriter().begin(0x4D4D).begin(0xB000).end().end().u32(0).bytes(),
         "M0 L0 C0", false},
        {"meshes in file order, an unknown chunk between", scene([](ChunkWriter& w) {
             meshObject(w, cube("A"));
             w.begin(0x0100).f32(1).end();
             meshObject(w, cube("B"));
             meshObject(w, cube("C"));
         }), "A:8/12 B:8/12 C:8/12 M0 L0 C0"},
        {"an empty mesh", scene([](ChunkWriter& w) { w.begin(0x4000).str("E").begin(0x4100).end().end(); }),
         "E:0/0 M0 L0 C0"},
        {"only the first chunk of an object counts", scene([](ChunkWriter& w) {
             w.begin(0x4000).str("Hidden").begin(0x4010).end().begin(0x4100).end().end();
             meshObject(w, cube());
         }), "Cube:8/12 M0 L0 C0"},
        {"98 name characters kept; a longer name misplaces the next header",
         meshes({cube(n98), cube(std::string(120, 'L')), cube("After")}), n98 + ":8/12 After:8/12 M0 L0 C0"},
        {"a name of 99 characters", meshes({cube(std::string(99, 'x'))}), "M0 L0 C0"},
        {"the keyframer changes nothing",
         scene([](ChunkWriter& w) { meshObject(w, cube()); }, [](ChunkWriter& w) {
             auto track = [&](uint16_t id, uint16_t flags, int floats) {
                 w.begin(id).u16(0).u32(0).u32(0).u32(1).u32(0).u16(flags);
                 for (int i = 0; i < floats + __builtin_popcount(flags); ++i)
                     w.f32(0.5f);
                 w.end();
             };
             w.begin(0xB000).begin(0xB00A).u16(5).str("MAXSCENE").u32(100).end();
             w.begin(0xB002).begin(0xB010).str("Cube").u16(0).u16(0).u16(0xFFFF).end();
             w.begin(0xB013).vec3(1, 2, 3).end();
             track(0xB020, 0x8800, 3);
             track(0xB021, 0, 4);
             track(0xB022, 0x7000, 3);
             w.end().begin(0xB002).begin(0xB010).str("Nobody").end().end();
             w.begin(0xB002).begin(0xB013).vec3(1, 2, 3).end().end().end();
         }), "Cube:8/12 M0 L0 C0"},
        {"materials after the objects are known to the faces",
         scene([](ChunkWriter& w) {
             meshObject(w, cubeWith({{"Red", {0, 1, 2}}, {"Blue", {3, 11}}}));
             material(w, "Blue");
             material(w, "Red");
         }), "Cube:8/12 [1,0] 1,1,1,0,0,0,0,0,0,0,0,0 M2 L0 C0"},
        // The rest of the cut name is read as a count of 22,101: faces 1 and 3, then
        // zeros, face 0, to the end of the data.
        {"the first of a name, scanned", sameNames(3), "Cube:8/12 [1,5,4] 4,4,5,4,0,0,0,0,0,0,0,0 M9 L0 C0"},
        {"the first of a name, searched", sameNames(40),
         "Cube:8/12 [1,42,41] 41,41,42,41,0,0,0,0,0,0,0,0 M46 L0 C0"},
        {"unknown groups and faces out of range are skipped",
         withGroups({"Other", "Green"}, cubeWith({{"Nowhere", {0, 1}}, {"Green", {5, 12, 60000, 6}}})),
         "Cube:8/12 [1] 0,0,0,0,0,1,1,0,0,0,0,0 M2 L0 C0"},
        {"a group name is cut at 19, the rest read as its count",
         withGroups({"ABCDEFGHIJKLMNOPQRS"}, cubeWith({{"ABCDEFGHIJKLMNOPQRSTUVW", {1}}})),
         "Cube:8/12 [0]" + zeros + " M1 L0 C0"},
        {"a dropped material is no group's",
         scene([](ChunkWriter& w) {
             material(w, "Other");
             material(w, "Dropped", [](ChunkWriter& w) {
                 w.begin(0xA220).begin(0x0030).i16(40).end().begin(0xA351).u16(0).end().end();
             });
             material(w, "Kept");
             meshObject(w, cubeWith({{"Dropped", {0}}, {"Kept", {1}}}));
         }), "Cube:8/12 [1] 0,1,0,0,0,0,0,0,0,0,0,0 M2 L0 C0"},
    };
    for (int level : {0, 1, 2, 5})
        rows.push_back({"faces naming missing vertices go at level " + std::to_string(level),
                        withGroups({"Other", "Mat"}, badCorners),
                        std::string(level == 2 ? "Mesh:6/2" : "Mesh:3/2") + " [1] 0,1 M2 L0 C0", true, level});
    for (uint32_t length : {0u, 1u, 5u, 0xFFFFFFFFu, 0xFFFFFFFAu}) {
        const std::string at = " (length " + std::to_string(length) + ")";
        rows.push_back({"a broken editor chunk ends the editor" + at, scene([&](ChunkWriter& w) {
                            w.header(0x0100, length);
                            meshObject(w, cube());
                        }), "M0 L0 C0"});
        rows.push_back({"a broken object ends the search" + at, scene([&](ChunkWriter& w) {
                            meshObject(w, cube());
                            w.header(0x4000, length).str("X");
                            material(w, "M");
                        }), "Cube:8/12 M0 L0 C0"});
        rows.push_back({"a broken mesh chunk ends the mesh" + at, scene([&](ChunkWriter& w) {
                            w.begin(0x4000).str("M").begin(0x4100);
                            vertexList(w, {{1, 1, 1}, {2, 2, 2}, {3, 3, 3}});
                            w.header(0x4140, length).begin(0x4120).u16(1).u16(0).u16(1).u16(2).u16(0);
                            w.header(0x4150, length).end().end().end();
                        }), "M:3/0 M0 L0 C0"});
        rows.push_back({"a broken keyframer node" + at, scene({}, [&](ChunkWriter& w) {
                            w.begin(0xB000).begin(0xB002).header(0xB010, length).end().header(0xB002, length).end();
                        }), "M0 L0 C0"});
    }
    const Bytes previous = scene([](ChunkWriter& w) {
        material(w, "M");
        meshObject(w, cube("Old"));
        w.begin(0x4000).str("Cam").begin(0x4700).raw(Bytes(32)).end().end();
        w.begin(0x4000).str("Lamp").begin(0x4600).vec3(0, 0, 0).end().end();
    });
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        L3DS importer;
        ASSERT_TRUE(load(importer, previous));
        ASSERT_EQ(dump(importer), "Old:8/12 M1 L1 C1");
        importer.SetPostProcessLevel(row.level);
        EXPECT_EQ(load(importer, row.file), row.ok);
        EXPECT_EQ(dump(importer), row.want);
        EXPECT_EQ(importer.GetPostProcessLevel(), row.level);  // a load keeps the level
    }

    // Loads that cannot start keep the scene.
    L3DS importer;
    ASSERT_TRUE(load(importer, previous));
    TempDir dir;
    ASSERT_TRUE(filewriters::writeFile(dir.path("empty.3ds"), {}));
    const uint8_t byte = 0;
    EXPECT_FALSE(importer.LoadMemory(nullptr, 10) || importer.LoadMemory(&byte, 0));
    const std::string empty = dir.path("empty.3ds");
    for (const char* path : {"/nonexistent/penguin.3ds", empty.c_str(), dir.root().c_str(), (const char*)nullptr})
        EXPECT_FALSE(importer.LoadFile(path)) << (path ? path : "null");
    EXPECT_EQ(dump(importer), "Old:8/12 M1 L1 C1");
}

namespace {

// What a load must make of a mesh built from `spec` at `level`, from the
// public operations the level names.
LMesh processed(const MeshSpec& spec, int level)
{
    LMesh m = meshFrom(spec);
    if (level == 1 || level == 2)
        m.CalcNormals(level == 2);
    if (level == 2)
        m.CalcTextureSpace();
    if (level == 0 || level > 2) {
        m.RemoveInvalidFaces();
        if (level == 0)
            m.TransformVertices();
        m.CopyFaceCorners();
    }
    return m;
}

} // namespace

// A mesh is loaded as the file holds it (values the file does not hold read
// as zeros) and post-processed as its level says, to the bit.
TEST(Load, MeshesAreTheFilesProcessedAtTheirLevel)
{
    MeshSpec cubeAt = cube();
    cubeAt.matrix = {2, 0, 0, 0, 2, 0, 0, 0, 2, 0, 0, 3};
    cubeAt.groups = {1, 1, 2, 2, 4, 4, 8, 8, 16, 16, 0x80000000u, 0x80000000u};
    MeshSpec tri;
    tri.vertices = {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}};
    tri.uvs = {{0.5f, 0.25f}, {1, 0}, {0, 1}};
    tri.faces = {{0, 1, 2}};
    tri.matrix = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    MeshSpec badCorners = tri;
    badCorners.faces = {{0, 1, 2}, {0, 1, 3}, {3, 4, 5}, {2, 1, 0}, {9000, 0, 1}};
    badCorners.groups = {1, 2, 3, 4, 5};
    Bytes truncated = meshes({cubeAt});
    truncated.resize(6 * 5 + 5 + 2 + 3 * 12 + 4);  // root, editor, object, name, mesh, vertex list
    MeshSpec cut = cube();
    cut.vertices.resize(3);
    cut.vertices.resize(8, {0, 0, 0});
    cut.faces.clear();
    MeshSpec lastValue;
    lastValue.vertices = {{1, 2, 3}, {4, 5, 6}};
    MeshSpec lastRead = lastValue;
    lastRead.vertices[1][2] = 0;  // the last 4 bytes of the file
    const std::vector<std::array<float, 3>> two = {{1, 1, 1}, {2, 2, 2}};
    MeshSpec uvFirst, uvAfter;
    uvFirst.name = "U", uvAfter.name = "V";
    uvFirst.vertices = uvAfter.vertices = two;
    uvFirst.uvs = uvAfter.uvs = {{0.1f, 0.2f}, {0.3f, 0.4f}};
    const struct {
        const char* name;
        Bytes file;
        std::vector<MeshSpec> want;
    } rows[] = {
        {"a triangle with a matrix and texture coordinates", meshes({tri}), {tri}},
        {"a scaled cube in six smoothing groups", meshes({cubeAt, grid("Grid", 9, 7, 3)}),
         {cubeAt, grid("Grid", 9, 7, 3)}},
        {"faces naming missing vertices", meshes({badCorners}), {badCorners}},
        {"the face list before the vertex list", scene([](ChunkWriter& w) {
             w.begin(0x4000).str("Cube").begin(0x4100);
             faceList(w, cube());
             vertexList(w, cube().vertices);
             w.end().end();
         }), {cube()}},
        {"a file cut inside the vertex list", truncated, {cut}},
        {"a last value ending at the end of the file",
         scene([&](ChunkWriter& w) { meshObject(w, lastValue); }, {}, 0), {lastRead}},
        {"texture coordinates before the vertices, and more of them than vertices",
         scene([&](ChunkWriter& w) {
             w.begin(0x4000).str("U").begin(0x4100);
             uvList(w, {{0.1f, 0.2f}, {0.3f, 0.4f}, {0.5f, 0.6f}, {0.7f, 0.8f}});
             vertexList(w, two);
             w.end().end().begin(0x4000).str("V").begin(0x4100);
             vertexList(w, two);
             uvList(w, {{0.1f, 0.2f}, {0.3f, 0.4f}, {0.5f, 0.6f}});
             w.end().end();
         }), {uvFirst, uvAfter}},
    };
    TempDir dir;
    for (const auto& row : rows) {
        for (int level : {0, 1, 2, 7}) {
            SCOPED_TRACE(std::string(row.name) + ", level " + std::to_string(level));
            L3DS importer;
            importer.SetPostProcessLevel(level);
            ASSERT_TRUE(load(importer, row.file));
            ASSERT_EQ(importer.GetMeshCount(), row.want.size());
            for (size_t i = 0; i < row.want.size(); ++i)
                EXPECT_TRUE(sameMesh(importer.GetMesh(uint32_t(i)), processed(row.want[i], level))) << i;
            L3DS fromFile;
            fromFile.SetPostProcessLevel(level);
            ASSERT_TRUE(filewriters::writeFile(dir.path("f.3ds"), row.file));
            ASSERT_TRUE(fromFile.LoadFile(dir.path("f.3ds").c_str()));
            for (size_t i = 0; i < row.want.size(); ++i)
                EXPECT_TRUE(sameMesh(fromFile.GetMesh(uint32_t(i)), importer.GetMesh(uint32_t(i))));
        }
    }
}
