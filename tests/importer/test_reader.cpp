// The 3DS file reader.
#include "builders.h"

#include <tempdir.h>

#include <gtest/gtest.h>

#include <cmath>
#include <string>

using namespace t3ds;

// --- Primitive reads -------------------------------------------------------

TEST(Reader, PrimitiveReadsAreLittleEndianAndStrictlyBounded)
{
    const Bytes bytes = {0x01, 0x34, 0x12, 0x78, 0x56, 0x34, 0x12, 0x00, 0x00, 0x80, 0x3F, 0xAA};
    TestL3DS r;
    r.attach(bytes);
    EXPECT_EQ(r.ReadByte(), 0x01);
    EXPECT_EQ(r.ReadShort(), 0x1234);
    EXPECT_EQ(r.ReadInt(), 0x12345678u);
    EXPECT_EQ(r.pos(), 7u);
    EXPECT_EQ(r.ReadFloat(), 1.0f);  // bytes 7..10; 11 + 0 < 12
    EXPECT_FALSE(r.eod());
    EXPECT_EQ(r.pos(), 11u);
    // The last byte is never consumed: position + 1 < size fails.
    EXPECT_EQ(r.ReadByte(), 0);
    EXPECT_TRUE(r.eod());
    EXPECT_EQ(r.pos(), 11u);
}

TEST(Reader, FailedReadLeavesPositionAndReturnsZero)
{
    const Bytes bytes = {1, 2, 3, 4, 5};
    TestL3DS r;
    r.attach(bytes);
    r.Seek(2);
    EXPECT_EQ(r.ReadInt(), 0u);  // 2 + 4 < 5 fails
    EXPECT_TRUE(r.eod());
    EXPECT_EQ(r.pos(), 2u);
    EXPECT_EQ(r.ReadFloat(), 0.0f);
    EXPECT_EQ(r.ReadShort(), 0x0403);  // 2 + 2 < 5
    EXPECT_EQ(r.pos(), 4u);
}

TEST(Reader, SeekClampsAndClearsEndOfData)
{
    const Bytes bytes(10, 0);
    TestL3DS r;
    r.attach(bytes);
    r.setEod();
    r.Seek(4);
    EXPECT_EQ(r.pos(), 4u);
    EXPECT_FALSE(r.eod());
    r.Seek(10);
    EXPECT_EQ(r.pos(), 9u);
    r.Seek(0xFFFFFFFFu);
    EXPECT_EQ(r.pos(), 9u);
}

// --- Strings ---------------------------------------------------------------

TEST(Reader, StringThatFitsConsumesItsTerminator)
{
    const Bytes bytes = {'a', 'b', 'c', 0, 'x', 0, 0};
    TestL3DS r;
    r.attach(bytes);
    char dest[10];
    EXPECT_EQ(r.ReadString(dest, 10), 3);
    EXPECT_STREQ(dest, "abc");
    EXPECT_EQ(r.pos(), 4u);
}

TEST(Reader, EmptyString)
{
    const Bytes bytes = {0, 'x', 0};
    TestL3DS r;
    r.attach(bytes);
    char dest[4] = {'q', 'q', 'q', 0};
    EXPECT_EQ(r.ReadString(dest, 4), 0);
    EXPECT_STREQ(dest, "");
    EXPECT_EQ(r.pos(), 1u);
}

TEST(Reader, StringOfExactlyMaxMinusOneCharacters)
{
    const Bytes bytes = {'a', 'b', 0, 'z', 0};
    TestL3DS r;
    r.attach(bytes);
    char dest[3];
    EXPECT_EQ(r.ReadString(dest, 3), 2);
    EXPECT_STREQ(dest, "ab");
    EXPECT_EQ(r.pos(), 3u);  // the terminator is consumed
}

TEST(Reader, LongStringIsCutAndTheNextCharacterDropped)
{
    const Bytes bytes = {'a', 'b', 'c', 'd', 'e', 0, 0, 0};
    TestL3DS r;
    r.attach(bytes);
    char dest[3];
    EXPECT_EQ(r.ReadString(dest, 3), 2);
    EXPECT_STREQ(dest, "ab");
    EXPECT_EQ(r.pos(), 3u);  // 'c' consumed and dropped
    EXPECT_EQ(r.ReadByte(), 'd');
}

TEST(Reader, StringRunningIntoTheEndOfData)
{
    const Bytes bytes = {'a', 'b', 'c'};
    TestL3DS r;
    r.attach(bytes);
    char dest[10];
    EXPECT_EQ(r.ReadString(dest, 10), 2);  // 'c' (the last byte) cannot be read
    EXPECT_STREQ(dest, "ab");
    EXPECT_TRUE(r.eod());
}

// --- Chunk headers and FindChunk ---------------------------------------------

TEST(Reader, ChunkHeaderAndHeaderAtEnd)
{
    ChunkWriter w;
    w.header(0x1234, 20).u32(0).u32(0).u32(0).u16(0);
    TestL3DS r;
    r.attach(w.bytes());
    LChunkInfo h = r.ReadChunkHeader();
    EXPECT_EQ(h.id, 0x1234);
    EXPECT_EQ(h.start, 6u);
    EXPECT_EQ(h.end, 20u);
    r.Seek(19);
    h = r.ReadChunkHeader();
    EXPECT_EQ(h.id, 0);
    EXPECT_EQ(h.start, 19u);
    EXPECT_EQ(h.end, 13u);
}

TEST(Reader, FindChunkSkipsSiblingsAndStaysInsideParent)
{
    ChunkWriter w;
    w.begin(0x1000);
    w.begin(0x0001).u32(1).end();
    w.begin(0x0002).u32(2).end();
    w.begin(0x0003).u32(3).end();
    w.end();
    w.begin(0x0004).u32(4).end();
    w.u32(0);
    TestL3DS r;
    r.attach(w.bytes());
    const LChunkInfo parent = r.ReadChunkHeader();
    LChunkInfo target;
    target.id = 0x0003;
    ASSERT_TRUE(r.FindChunk(target, parent));
    EXPECT_EQ(target.start, 6u + 20u + 6u);
    EXPECT_EQ(target.end, 6u + 30u);
    EXPECT_EQ(r.pos(), target.start);
    EXPECT_EQ(r.ReadInt(), 3u);

    r.Seek(parent.start);
    target.id = 0x0004;  // a sibling of the parent: not found
    EXPECT_FALSE(r.FindChunk(target, parent));
    r.Seek(parent.end);
    EXPECT_FALSE(r.FindChunk(target, parent));  // position >= parent.end
}

TEST(Reader, FindChunkGivesUpOnABrokenLength)
{
    ChunkWriter w;
    w.begin(0x1000);
    w.header(0x0001, 2).u32(0);  // length below 6: its end lies before its start
    w.begin(0x0002).u32(2).end();
    w.end();
    w.u32(0);
    TestL3DS r;
    r.attach(w.bytes());
    const LChunkInfo parent = r.ReadChunkHeader();
    LChunkInfo target;
    target.id = 0x0002;
    EXPECT_FALSE(r.FindChunk(target, parent));
}

// --- Loading ------------------------------------------------------------------

TEST(Load, MinimalSceneLoadsEmpty)
{
    L3DS importer;
    EXPECT_TRUE(load(importer, scene({})));
    EXPECT_EQ(importer.GetMeshCount(), 0u);
    EXPECT_EQ(importer.GetMaterialCount(), 0u);
    EXPECT_EQ(importer.GetLightCount(), 0u);
    EXPECT_EQ(importer.GetCameraCount(), 0u);
}

TEST(Load, RootMustBe4D4D)
{
    ChunkWriter w;
    w.begin(0x4D4C).begin(0x3D3D).end().end().u32(0);
    L3DS importer;
    EXPECT_FALSE(load(importer, w.bytes()));
}

TEST(Load, RootWithoutEditorFailsAfterClearing)
{
    L3DS importer;
    ASSERT_TRUE(load(importer, scene([](ChunkWriter& w) { meshObject(w, cube()); })));
    ASSERT_EQ(importer.GetMeshCount(), 1u);
    importer.SetPostProcessLevel(1);

    ChunkWriter w;
    w.begin(0x4D4D).begin(0xB000).end().end().u32(0);
    EXPECT_FALSE(load(importer, w.bytes()));
    EXPECT_EQ(importer.GetMeshCount(), 0u);
    EXPECT_EQ(importer.GetMaterialCount(), 0u);
}

TEST(Load, EmptyOrMissingInputFailsAndKeepsTheScene)
{
    L3DS importer;
    ASSERT_TRUE(load(importer, scene([](ChunkWriter& w) { meshObject(w, cube()); })));
    EXPECT_FALSE(importer.LoadMemory(nullptr, 10));
    const uint8_t byte = 0;
    EXPECT_FALSE(importer.LoadMemory(&byte, 0));
    EXPECT_FALSE(importer.LoadFile("/nonexistent/floerush/penguin.3ds"));
    EXPECT_FALSE(importer.LoadFile(nullptr));

    TempDir dir;
    ASSERT_TRUE(filewriters::writeFile(dir.path("empty.3ds"), {}));
    EXPECT_FALSE(importer.LoadFile(dir.path("empty.3ds").c_str()));
    EXPECT_FALSE(importer.LoadFile(dir.root().c_str()));  // a folder
    EXPECT_EQ(importer.GetMeshCount(), 1u);
}

TEST(Load, LoadFileMatchesLoadMemory)
{
    MeshSpec m = cube();
    m.groups = {1, 1, 2, 2, 4, 4, 8, 8, 16, 16, 32, 32};
    const Bytes bytes = scene([&](ChunkWriter& w) { meshObject(w, m); });
    TempDir dir;
    ASSERT_TRUE(filewriters::writeFile(dir.path("cube.3ds"), bytes));
    L3DS a, b;
    ASSERT_TRUE(a.LoadFile(dir.path("cube.3ds").c_str()));
    ASSERT_TRUE(load(b, bytes));
    ASSERT_EQ(a.GetMeshCount(), 1u);
    const LMesh& ma = a.GetMesh(0);
    const LMesh& mb = b.GetMesh(0);
    EXPECT_EQ(ma.GetName(), "Cube");
    ASSERT_EQ(ma.GetVertexCount(), 24u);
    ASSERT_EQ(ma.GetVertexCount(), mb.GetVertexCount());
    EXPECT_EQ(0, std::memcmp(ma.GetVertexData(), mb.GetVertexData(), 16 * ma.GetVertexCount()));
    EXPECT_EQ(0, std::memcmp(ma.normals.data(), mb.normals.data(), 12 * ma.GetVertexCount()));
    EXPECT_EQ(0, std::memcmp(ma.GetTriangleData(), mb.GetTriangleData(), 6 * ma.GetTriangleCount()));
}

TEST(Load, MeshGeometryIsRead)
{
    MeshSpec m;
    m.name = "Tri";
    m.vertices = {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}};
    m.uvs = {{0.5f, 0.25f}, {1, 0}, {0, 1}};
    m.faces = {{0, 1, 2}};
    L3DS importer;
    importer.SetPostProcessLevel(7);  // no geometric processing
    ASSERT_TRUE(load(importer, scene([&](ChunkWriter& w) { meshObject(w, m); })));
    ASSERT_EQ(importer.GetMeshCount(), 1u);
    const LMesh& mesh = importer.GetMesh(0);
    EXPECT_EQ(mesh.GetName(), "Tri");
    ASSERT_EQ(mesh.GetVertexCount(), 3u);
    EXPECT_EQ(mesh.GetVertex(1).x, 4.0f);
    EXPECT_EQ(mesh.GetVertex(1).y, 5.0f);
    EXPECT_EQ(mesh.GetVertex(1).z, 6.0f);
    EXPECT_EQ(mesh.GetVertex(1).w, 1.0f);
    EXPECT_EQ(mesh.GetUV(0).u, 0.5f);
    EXPECT_EQ(mesh.GetUV(0).v, 0.25f);
    ASSERT_EQ(mesh.GetTriangleCount(), 1u);
    EXPECT_EQ(mesh.GetFace(0).smoothingGroup, 1u);  // no 0x4150
    EXPECT_EQ(mesh.GetFace(0).materialId, 0u);
    EXPECT_EQ(mesh.GetTriangle(0).c, 2);
    EXPECT_EQ(importer.GetPostProcessLevel(), 7);  // a load keeps the level
}

TEST(Load, MeshMatrixLayout)
{
    const float f[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    MeshSpec m = cube();
    m.matrix = f;
    L3DS importer;
    ASSERT_TRUE(load(importer, scene([&](ChunkWriter& w) { meshObject(w, m); })));
    const LMat4& mat = importer.GetMesh(0).GetMatrix();
    const float expected[16] = {1, 2, 3, 0, 4, 5, 6, 0, 7, 8, 9, 0, 10, 11, 12, 1};
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(mat.m[i], expected[i]) << i;
}

TEST(Load, EmptyMeshObjectIsKept)
{
    L3DS importer;
    ASSERT_TRUE(load(importer, scene([](ChunkWriter& w) {
        w.begin(0x4000).str("Empty").begin(0x4100).end().end();
    })));
    ASSERT_EQ(importer.GetMeshCount(), 1u);
    EXPECT_EQ(importer.GetMesh(0).GetVertexCount(), 0u);
    EXPECT_EQ(importer.GetMesh(0).GetTriangleCount(), 0u);
    EXPECT_EQ(importer.GetMesh(0).GetVertexData(), nullptr);
}

TEST(Load, MeshesInFileOrderAndFindMesh)
{
    MeshSpec a = cube(), b = cube(), c = cube();
    a.name = "A";
    b.name = "B";
    c.name = "C";
    L3DS importer;
    ASSERT_TRUE(load(importer, scene([&](ChunkWriter& w) {
        meshObject(w, a);
        w.begin(0x0100).f32(1).end();  // an unknown editor chunk between objects
        meshObject(w, b);
        meshObject(w, c);
    })));
    ASSERT_EQ(importer.GetMeshCount(), 3u);
    EXPECT_EQ(importer.GetMesh(0).GetName(), "A");
    EXPECT_EQ(importer.GetMesh(2).GetName(), "C");
    EXPECT_EQ(importer.FindMesh("B"), &importer.GetMesh(1));
    EXPECT_EQ(importer.FindMesh("b"), nullptr);
}

TEST(Load, MaterialsAfterObjectsAreFound)
{
    MeshSpec m = cube();
    m.materialGroups = {{"Red", {0, 1, 2}}, {"Blue", {3, 11}}};
    L3DS importer;
    ASSERT_TRUE(load(importer, scene([&](ChunkWriter& w) {
        meshObject(w, m);
        material(w, "Blue");
        material(w, "Red");
    })));
    ASSERT_EQ(importer.GetMaterialCount(), 2u);
    const LMesh& mesh = importer.GetMesh(0);
    ASSERT_EQ(mesh.GetMaterialCount(), 2u);
    EXPECT_EQ(mesh.GetMaterial(0), 1u);  // Red
    EXPECT_EQ(mesh.GetMaterial(1), 0u);  // Blue
    EXPECT_EQ(mesh.GetFace(0).materialId, 1u);
    EXPECT_EQ(mesh.GetFace(2).materialId, 1u);
    EXPECT_EQ(mesh.GetFace(3).materialId, 0u);
    EXPECT_EQ(mesh.GetFace(11).materialId, 0u);
}

TEST(Load, FaceGroupsFindTheFirstMaterialOfTheirName)
{
    // A short material list is scanned, a long one searched through an index:
    // both give the first material of the name in list order, byte for byte.
    const std::string cut = "ABCDEFGHIJKLMNOPQRS";  // 19 characters, all a group name keeps
    for (int count : {3, 40}) {
        SCOPED_TRACE(count);
        std::vector<std::string> names;
        for (int i = 0; i < count; ++i)
            names.push_back("m" + std::to_string(i));
        const uint32_t cutId = uint32_t(names.size()) + 1, emptyId = cutId + 1;
        for (const std::string& name : {cut + "XYZ", cut, std::string(), std::string("m1"), cut, std::string("M1")})
            names.push_back(name);
        MeshSpec m = cube();
        m.materialGroups = {{"m1", {0}}, {"nothing", {1}}, {"", {2}}, {cut + "TUVW", {3}}};
        L3DS importer;
        ASSERT_TRUE(load(importer, scene([&](ChunkWriter& w) {
            for (const std::string& name : names)
                material(w, name);
            meshObject(w, m);
        })));
        const LMesh& mesh = importer.GetMesh(0);
        ASSERT_EQ(mesh.GetMaterialCount(), 3u);
        EXPECT_EQ(mesh.GetMaterial(0), 1u);
        EXPECT_EQ(mesh.GetMaterial(1), emptyId);
        EXPECT_EQ(mesh.GetMaterial(2), cutId);  // not the longer name before it
    }
}

TEST(Load, UnknownMaterialGroupAndOutOfRangeFacesAreSkipped)
{
    MeshSpec m = cube();
    m.materialGroups = {{"Nowhere", {0, 1}}, {"Green", {5, 12, 60000, 6}}};
    L3DS importer;
    ASSERT_TRUE(load(importer, scene([&](ChunkWriter& w) {
        material(w, "Other");
        material(w, "Green");
        meshObject(w, m);
    })));
    const LMesh& mesh = importer.GetMesh(0);
    ASSERT_EQ(mesh.GetMaterialCount(), 1u);
    EXPECT_EQ(mesh.GetMaterial(0), 1u);
    EXPECT_EQ(mesh.GetFace(0).materialId, 0u);
    EXPECT_EQ(mesh.GetFace(5).materialId, 1u);
    EXPECT_EQ(mesh.GetFace(6).materialId, 1u);
    EXPECT_EQ(mesh.GetTriangleCount(), 12u);
}

TEST(Load, FaceMaterialNameIsCutAt19)
{
    const std::string longName = "ABCDEFGHIJKLMNOPQRSTUVW";  // 23 characters
    MeshSpec m = cube();
    m.materialGroups = {{longName, {0}}};
    L3DS importer;
    ASSERT_TRUE(load(importer, scene([&](ChunkWriter& w) {
        material(w, longName.substr(0, 19));
        meshObject(w, m);
    })));
    // The group name is cut to 19 characters and the rest of it is read as
    // the face count; the material itself is found by its cut name.
    ASSERT_EQ(importer.GetMesh(0).GetMaterialCount(), 1u);
    EXPECT_EQ(importer.GetMesh(0).GetMaterial(0), 0u);
}

TEST(Load, SmoothingGroupsAreRead)
{
    MeshSpec m = cube();
    m.groups = {1, 1, 2, 2, 4, 4, 8, 8, 16, 16, 0x80000000u, 0x80000000u};
    L3DS importer;
    importer.SetPostProcessLevel(1);  // no splitting, the records keep their corners
    ASSERT_TRUE(load(importer, scene([&](ChunkWriter& w) { meshObject(w, m); })));
    const LMesh& mesh = importer.GetMesh(0);
    for (uint32_t i = 0; i < 12; ++i)
        EXPECT_EQ(mesh.GetFace(i).smoothingGroup, m.groups[i]) << i;
}

TEST(Load, TexCoordsBeforeVerticesSizeTheArraysFirst)
{
    L3DS importer;
    importer.SetPostProcessLevel(7);
    ASSERT_TRUE(load(importer, scene([](ChunkWriter& w) {
        w.begin(0x4000).str("M").begin(0x4100);
        uvList(w, {{0.1f, 0.2f}, {0.3f, 0.4f}, {0.5f, 0.6f}, {0.7f, 0.8f}});
        vertexList(w, {{1, 1, 1}, {2, 2, 2}});
        w.end().end();
        w.begin(0x4000).str("N").begin(0x4100);
        vertexList(w, {{1, 1, 1}, {2, 2, 2}});
        uvList(w, {{0.1f, 0.2f}, {0.3f, 0.4f}, {0.5f, 0.6f}});  // extra pair dropped
        w.end().end();
    })));
    const LMesh& m = importer.GetMesh(0);
    ASSERT_EQ(m.GetVertexCount(), 2u);
    EXPECT_EQ(m.texCoords.size(), 2u);
    EXPECT_EQ(m.GetUV(1).u, 0.3f);  // kept up to the new size
    EXPECT_EQ(m.GetVertex(1).x, 2.0f);
    const LMesh& n = importer.GetMesh(1);
    ASSERT_EQ(n.GetVertexCount(), 2u);
    EXPECT_EQ(n.GetUV(1).v, 0.4f);
}

TEST(Load, ObjectWhoseFirstChunkIsNotMeshLightOrCameraIsIgnored)
{
    L3DS importer;
    ASSERT_TRUE(load(importer, scene([](ChunkWriter& w) {
        w.begin(0x4000).str("Hidden");
        w.begin(0x4010).end();  // object hidden flag
        w.begin(0x4100);
        vertexList(w, {{1, 1, 1}});
        w.end();
        w.end();
        meshObject(w, cube());
    })));
    ASSERT_EQ(importer.GetMeshCount(), 1u);
    EXPECT_EQ(importer.GetMesh(0).GetName(), "Cube");
}

TEST(Load, LongObjectNameKeeps98Characters)
{
    const std::string name98(98, 'N');
    MeshSpec fits = cube();
    fits.name = name98;
    L3DS importer;
    ASSERT_TRUE(load(importer, scene([&](ChunkWriter& w) {
        meshObject(w, fits);
        MeshSpec longer = cube();
        longer.name = std::string(120, 'L');
        meshObject(w, longer);  // header read from inside the name: "LL" is no object
        MeshSpec after = cube();
        after.name = "After";
        meshObject(w, after);
    })));
    ASSERT_EQ(importer.GetMeshCount(), 2u);
    EXPECT_EQ(importer.GetMesh(0).GetName(), name98);
    EXPECT_EQ(importer.GetMesh(1).GetName(), "After");
}

TEST(Load, ObjectNameOf99CharactersMisalignsTheFirstHeader)
{
    // 98 characters are kept, the 99th is consumed and dropped, and the
    // header is then read from the name's terminator on: id 0x0000.
    MeshSpec m = cube();
    m.name = std::string(99, 'x');
    L3DS importer;
    ASSERT_TRUE(load(importer, scene([&](ChunkWriter& w) { meshObject(w, m); })));
    EXPECT_EQ(importer.GetMeshCount(), 0u);
}

TEST(Load, TruncatedFileReadsZerosAndSucceeds)
{
    MeshSpec m = cube();
    m.groups.assign(12, 2);
    Bytes bytes = scene([&](ChunkWriter& w) { meshObject(w, m); }, {}, 0);
    // Cut inside the vertex list: vertices 3.. and everything after read as 0.
    const size_t vertexListAt = 6 + 6 + 6 + 5 + 6;  // root, editor, object, name, 0x4100
    bytes.resize(vertexListAt + 6 + 2 + 12 * 3 + 4);
    L3DS importer;
    importer.SetPostProcessLevel(7);
    ASSERT_TRUE(load(importer, bytes));
    ASSERT_EQ(importer.GetMeshCount(), 1u);
    const LMesh& mesh = importer.GetMesh(0);
    ASSERT_EQ(mesh.GetVertexCount(), 8u);
    EXPECT_EQ(mesh.GetVertex(2).x, 1.0f);
    EXPECT_EQ(mesh.GetVertex(2).y, 1.0f);
    EXPECT_EQ(mesh.GetVertex(3).x, 0.0f);
    EXPECT_EQ(mesh.GetVertex(7).y, 0.0f);
    EXPECT_EQ(mesh.GetVertex(7).w, 1.0f);
    EXPECT_EQ(mesh.GetTriangleCount(), 0u);
}

TEST(Load, LastValueEndingAtTheEndOfTheFileReadsZero)
{
    MeshSpec m;
    m.vertices = {{1, 2, 3}, {4, 5, 6}};
    L3DS importer;
    importer.SetPostProcessLevel(7);
    ASSERT_TRUE(load(importer, scene([&](ChunkWriter& w) { meshObject(w, m); }, {}, 0)));
    const LMesh& mesh = importer.GetMesh(0);
    ASSERT_EQ(mesh.GetVertexCount(), 2u);
    EXPECT_EQ(mesh.GetVertex(1).y, 5.0f);
    EXPECT_EQ(mesh.GetVertex(1).z, 0.0f);  // the last 4 bytes of the file
}

TEST(Load, BrokenChunkLengthsTerminate)
{
    // Lengths below 6 (and 0) at every level of the walk.
    for (uint32_t length : {0u, 1u, 5u, 0xFFFFFFFFu, 0xFFFFFFFAu}) {
        SCOPED_TRACE(length);
        L3DS importer;
        EXPECT_TRUE(load(importer, scene([&](ChunkWriter& w) {
            w.header(0x0100, length);
            meshObject(w, cube());
        })));
        EXPECT_TRUE(load(importer, scene([&](ChunkWriter& w) {
            meshObject(w, cube());
            w.header(0x4000, length).str("X");
            w.begin(0xAFFF).header(0xA000, length).end();
        })));
        EXPECT_EQ(importer.GetMeshCount(), 1u);
        EXPECT_TRUE(load(importer, scene([&](ChunkWriter& w) {
            w.begin(0x4000).str("M").begin(0x4100);
            vertexList(w, {{1, 1, 1}, {2, 2, 2}, {3, 3, 3}});
            w.header(0x4140, length);
            w.begin(0x4120).u16(1).u16(0).u16(1).u16(2).u16(0);
            w.header(0x4150, length).end();
            w.end().end();
        })));
        EXPECT_EQ(importer.GetMeshCount(), 1u);
        EXPECT_EQ(importer.GetMesh(0).GetVertexCount(), 3u);
        load(importer, scene({}, [&](ChunkWriter& w) {
            w.begin(0xB000).begin(0xB002).header(0xB010, length).end().header(0xB002, length).end();
        }));
    }
}

TEST(Load, KeyframerIsWalkedWithoutChangingTheScene)
{
    MeshSpec m = cube();
    auto track = [](ChunkWriter& w, uint16_t id, uint16_t keyFlags, int floats) {
        w.begin(id).u16(0).u32(0).u32(0).u32(1);
        w.u32(0).u16(keyFlags);
        for (int bit = 0; bit < 5; ++bit)
            if (keyFlags & (0x8000 >> bit))
                w.f32(0.5f);
        for (int i = 0; i < floats; ++i)
            w.f32(1.0f);
        w.end();
    };
    const Bytes bytes = scene([&](ChunkWriter& w) { meshObject(w, m); }, [&](ChunkWriter& w) {
        w.begin(0xB000);
        w.begin(0xB00A).u16(5).str("MAXSCENE").u32(100).end();
        w.begin(0xB002);
        w.begin(0xB010).str("Cube").u16(0).u16(0).u16(0xFFFF).end();
        w.begin(0xB013).vec3(1, 2, 3).end();
        track(w, 0xB020, 0x8000 | 0x0800, 3);
        track(w, 0xB021, 0, 4);
        track(w, 0xB022, 0x4000 | 0x2000 | 0x1000, 3);
        w.end();
        w.begin(0xB002).begin(0xB010).str("Nobody").end().end();
        w.begin(0xB002).begin(0xB013).vec3(1, 2, 3).end().end();
        w.end();
    });
    L3DS importer;
    ASSERT_TRUE(load(importer, bytes));
    ASSERT_EQ(importer.GetMeshCount(), 1u);
    EXPECT_EQ(importer.GetMesh(0).GetVertexCount(), 8u);
    EXPECT_EQ(importer.GetMesh(0).GetTriangleCount(), 12u);
}

TEST(Load, SecondLoadReplacesTheScene)
{
    L3DS importer;
    ASSERT_TRUE(load(importer, scene([](ChunkWriter& w) {
        material(w, "M");
        meshObject(w, cube());
        w.begin(0x4000).str("Cam").begin(0x4700);
        for (int i = 0; i < 8; ++i)
            w.f32(48);
        w.end().end();
        w.begin(0x4000).str("Lamp").begin(0x4600).vec3(0, 0, 0).end().end();
    })));
    EXPECT_EQ(importer.GetMeshCount(), 1u);
    EXPECT_EQ(importer.GetMaterialCount(), 1u);
    EXPECT_EQ(importer.GetCameraCount(), 1u);
    EXPECT_EQ(importer.GetLightCount(), 1u);
    ASSERT_TRUE(load(importer, scene({})));
    EXPECT_EQ(importer.GetMeshCount(), 0u);
    EXPECT_EQ(importer.GetMaterialCount(), 0u);
    EXPECT_EQ(importer.GetCameraCount(), 0u);
    EXPECT_EQ(importer.GetLightCount(), 0u);
}

TEST(Load, PostProcessLevels)
{
    const float translate[12] = {1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0};
    MeshSpec m = cube();
    m.groups = {1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6};
    m.matrix = translate;
    const Bytes bytes = scene([&](ChunkWriter& w) { meshObject(w, m); });

    L3DS importer;
    ASSERT_TRUE(load(importer, bytes));  // level 2
    EXPECT_EQ(importer.GetMesh(0).GetVertexCount(), 24u);
    EXPECT_TRUE(std::isfinite(importer.GetMesh(0).GetNormal(0).x));

    importer.SetPostProcessLevel(1);
    ASSERT_TRUE(load(importer, bytes));
    EXPECT_EQ(importer.GetMesh(0).GetVertexCount(), 8u);
    EXPECT_EQ(importer.GetMesh(0).GetTangent(0).x, 0.0f);  // no texture space at level 1
    EXPECT_EQ(importer.GetMesh(0).GetTriangle(11).b, 6);

    importer.SetPostProcessLevel(0);
    ASSERT_TRUE(load(importer, bytes));
    const LMesh& mesh = importer.GetMesh(0);
    EXPECT_EQ(mesh.GetVertexCount(), 8u);
    EXPECT_EQ(mesh.GetNormal(0).x, 0.0f);
    EXPECT_EQ(mesh.GetVertex(6).x, 1.0f);
    EXPECT_EQ(mesh.GetVertex(6).w, 1.0f);
    // Level 0 still fills the drawn triangles (implementer's choice).
    EXPECT_EQ(mesh.GetTriangle(2).a, 4);
    EXPECT_EQ(mesh.GetTriangle(2).c, 6);

    importer.Clear();
    EXPECT_EQ(importer.GetPostProcessLevel(), 2);
}

TEST(Load, FacesNamingMissingVerticesAreDropped)
{
    MeshSpec m;
    m.vertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    m.faces = {{0, 1, 2}, {0, 1, 3}, {2, 1, 0}, {9000, 0, 1}};
    m.groups = {1, 2, 3, 4};
    m.materialGroups = {{"Mat", {2}}};
    for (int level : {0, 1, 2, 5}) {
        SCOPED_TRACE(level);
        L3DS importer;
        importer.SetPostProcessLevel(level);
        ASSERT_TRUE(load(importer, scene([&](ChunkWriter& w) {
            material(w, "Other");
            material(w, "Mat");
            meshObject(w, m);
        })));
        const LMesh& mesh = importer.GetMesh(0);
        ASSERT_EQ(mesh.GetTriangleCount(), 2u);
        ASSERT_EQ(mesh.faceRecords.size(), 2u);
        EXPECT_EQ(mesh.GetFace(1).materialId, 1u);  // the old face 2
        for (uint32_t i = 0; i < mesh.GetTriangleCount(); ++i) {
            EXPECT_LT(mesh.GetTriangle(i).a, mesh.GetVertexCount());
            EXPECT_LT(mesh.GetTriangle(i).b, mesh.GetVertexCount());
            EXPECT_LT(mesh.GetTriangle(i).c, mesh.GetVertexCount());
        }
    }
}

TEST(Load, FaceListBeforeVertexList)
{
    MeshSpec m = cube();
    L3DS importer;
    ASSERT_TRUE(load(importer, scene([&](ChunkWriter& w) {
        w.begin(0x4000).str("Late").begin(0x4100);
        faceList(w, m);
        vertexList(w, m.vertices);
        w.end().end();
    })));
    EXPECT_EQ(importer.GetMesh(0).GetTriangleCount(), 12u);
    EXPECT_EQ(importer.GetMesh(0).GetVertexCount(), 8u);
}
