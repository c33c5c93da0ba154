// L3DS, a 3DS scene importer: the scene object model.
//
// The importer (L3DS, see l3ds.h) turns a 3DS file into four lists of named
// scene objects held by value in an LImporter: meshes (LMesh), materials
// (LMaterial), lights (LLight) and cameras (LCamera).
//
// Drawing a mesh
// --------------
// LMesh keeps its per-vertex and per-triangle data in public std::vector
// fields. The element types are packed (checked by static_assert below), so
// the arrays can be handed to OpenGL as they are:
//
//     const LMesh& mesh = importer.GetMesh(i);
//     if (mesh.GetTriangleCount() > 0) {
//         glVertexPointer(4, GL_FLOAT, 0, mesh.GetVertexData());      // == &mesh.vertices[0]
//         glDrawElements(GL_TRIANGLES, 3 * mesh.GetTriangleCount(),
//                        GL_UNSIGNED_SHORT, mesh.GetTriangleData());  // == &mesh.triangles[0]
//     }
//
// After a load every index in `triangles` is below GetVertexCount() (faces
// whose corners do not name an existing vertex are dropped, see CalcNormals).
//
// The public arrays may be read freely. Writers must keep the invariants:
// the five per-vertex lists (vertices, normals, binormals, tangents,
// texCoords) have one length, and triangles has the length of faceRecords.
// SetVertexArraySize and SetTriangleArraySize keep them; the processing
// operations restore them (by resizing) before they run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// ---------------------------------------------------------------------------
// Element types (all floats single precision).

struct LVec2 {
    float u, v;
};

struct LVec3 {
    float x, y, z;
};

// A vertex position; w is 1.0 for every vertex read from a file.
struct LVec4 {
    float x, y, z, w;
};

// The corners of one drawn triangle.
struct LIndexTriangle {
    uint16_t a, b, c;
};

struct LColorRGB {
    float r, g, b;
};

// Row-major 4x4 matrix: element index = 4 * row + column.
struct LMat4 {
    float m[16];
    static LMat4 Identity();
};

// Per-face data used while computing normals and tangents.
struct LFaceRecord {
    uint16_t a, b, c;
    uint32_t smoothingGroup;
    LVec3 faceNormal;
    LVec3 faceTangent;
    LVec3 faceBinormal;
    uint32_t materialId;
};

static_assert(sizeof(LVec2) == 2 * sizeof(float), "LVec2 must be 2 packed floats");
static_assert(sizeof(LVec3) == 3 * sizeof(float), "LVec3 must be 3 packed floats");
static_assert(sizeof(LVec4) == 4 * sizeof(float), "LVec4 must be 4 packed floats (glVertexPointer(4, GL_FLOAT, 0, ...))");
static_assert(sizeof(LIndexTriangle) == 3 * sizeof(uint16_t),
              "LIndexTriangle must be 3 packed uint16 (glDrawElements(..., GL_UNSIGNED_SHORT, ...))");

// ---------------------------------------------------------------------------
// A limit on what processing untrusted data may cost.
//
// Memory is counted in bytes held, work in element operations: one element
// of a list (a vertex, texture coordinate, face, smoothing group, face index,
// adjacency entry, ...) read, written, filled or visited. Whoever allocates
// or loops asks first. A Take that fits is counted and returns true; one that
// does not counts nothing, marks the budget exceeded and returns false, and
// from then on every Take fails, so a refused job stops at its next question.
// A default budget has no limit.
class LBudget {
public:
    LBudget() = default;
    LBudget(uint64_t memoryLimit, uint64_t workLimit)
        : m_memoryLimit(memoryLimit), m_workLimit(workLimit), m_workLeft(workLimit)
    {
    }

    bool TakeMemory(uint64_t bytes)
    {
        if (m_exceeded || bytes > m_memoryLimit - m_held)
            return Refuse();
        m_held += bytes;
        if (m_held > m_peak)
            m_peak = m_held;
        return true;
    }
    // Hands back bytes taken earlier, once their memory is freed.
    void GiveMemory(uint64_t bytes) { m_held -= bytes < m_held ? bytes : m_held; }
    bool TakeWork(uint64_t operations)
    {
        if (operations > m_workLeft || (operations == 0 && m_exceeded))  // m_workLeft is 0 once exceeded
            return Refuse();
        m_workLeft -= operations;
        return true;
    }

    // Gives `list` a buffer of at least n elements: a larger buffer of exactly
    // n is taken while the old one is still held, then the old one is given
    // back. No element is touched.
    template <class T>
    bool Reserve(std::vector<T>& list, size_t n)
    {
        if (n <= list.capacity())
            return true;
        if (!TakeMemory(BlockBytes(uint64_t(n) * sizeof(T))))
            return false;
        const uint64_t old = list.capacity() ? BlockBytes(uint64_t(list.capacity()) * sizeof(T)) : 0;
        list.reserve(n);
        GiveMemory(old);
        return true;
    }
    // Room for one more element at the end of `list`, the buffer doubling
    // when it is full.
    template <class T>
    bool Grow(std::vector<T>& list)
    {
        if (list.size() < list.capacity())
            return true;
        return Reserve(list, list.capacity() < 4 ? 4 : 2 * list.capacity());
    }

    // What a heap block of `bytes` costs: the bytes and the allocator's own
    // header and rounding, which dominate for the smallest lists.
    static uint64_t BlockBytes(uint64_t bytes) { return bytes + 32; }

    bool Exceeded() const { return m_exceeded; }
    uint64_t MemoryHeld() const { return m_held; }
    uint64_t PeakMemory() const { return m_peak; }
    uint64_t Work() const { return m_exceeded ? m_workDone : m_workLimit - m_workLeft; }
    uint64_t MemoryLimit() const { return m_memoryLimit; }
    uint64_t WorkLimit() const { return m_workLimit; }

private:
    bool Refuse()
    {
        if (!m_exceeded) {
            m_exceeded = true;
            m_workDone = m_workLimit - m_workLeft;
            m_workLeft = 0;
        }
        return false;
    }

    uint64_t m_memoryLimit = UINT64_MAX;
    uint64_t m_workLimit = UINT64_MAX;
    uint64_t m_held = 0;
    uint64_t m_peak = 0;
    uint64_t m_workLeft = UINT64_MAX;
    uint64_t m_workDone = 0;
    bool m_exceeded = false;
};

// ---------------------------------------------------------------------------
// Working memory that outlives the jobs using it.
//
// Blocks that only grow and are reused: job after job touches memory that is
// already mapped and mostly in the cache. Growing drops the contents
// (nothing is copied). An importer keeps one workspace for the bytes of a
// file and for the bookkeeping of post-processing, mesh after mesh, load
// after load.
class LWorkspace {
public:
    // Independent blocks: a job may hold one of each at a time. (The
    // importer's LoadFile keeps the file in block 2; post-processing uses
    // blocks 0 and 1.)
    static constexpr int kBlocks = 3;

    // Block `block` with room for at least `bytes` bytes (16-byte aligned,
    // contents unspecified), valid until the next Get of that block; null
    // when the system is out of memory.
    void* Get(int block, size_t bytes);
    // The same, paid from `budget`: a job (from StartJob on) pays for the
    // largest size it asked of each block, whatever earlier jobs left
    // behind. Null when the budget refuses.
    void* Get(int block, size_t bytes, LBudget& budget);
    void StartJob()
    {
        for (uint64_t& c : m_charged)
            c = 0;
    }
    size_t Capacity(int block) const { return m_capacity[block]; }

private:
    struct alignas(16) Cell {
        unsigned char bytes[16];
    };
    std::unique_ptr<Cell[]> m_block[kBlocks];
    size_t m_capacity[kBlocks] = {};
    uint64_t m_charged[kBlocks] = {};
};

// Positions and texture coordinates that a reader has not decoded yet, so
// that post-processing can decode them straight into lists of their final
// length (splitting appends vertices): no list of a mesh then grows twice.
class LVertexSource {
public:
    virtual ~LVertexSource();
    // The vertex count.
    virtual uint32_t Count() const = 0;
    // Appends Count() positions to `vertices` and Count() texture
    // coordinates to `texCoords`; both lists come empty, with room enough.
    virtual void Fill(std::vector<LVec4>& vertices, std::vector<LVec2>& texCoords) const = 0;
};

// ---------------------------------------------------------------------------
// Scene objects.

class LObject {
public:
    LObject() = default;
    LObject(const LObject&) = default;
    LObject(LObject&&) noexcept = default;
    LObject& operator=(const LObject&) = default;
    LObject& operator=(LObject&&) noexcept = default;
    virtual ~LObject();

    virtual const std::string& GetName() const;
    virtual void SetName(const std::string& value);

protected:
    std::string name;
};

// Shading kinds of LMaterial::shading.
enum LShading { sWire = 0, sFlat = 1, sGouraud = 2, sPhong = 3, sMetal = 4 };

struct LTextureMap {
    float strength = 0.0f;
    char mapName[255] = {};  // zero-terminated
    float uScale = 1.0f;
    float vScale = 1.0f;
    float uOffset = 0.0f;
    float vOffset = 0.0f;
    float angle = 0.0f;
};

class LMaterial : public LObject {
public:
    // Store the value, clamped to 0..1.
    void SetShininess(float value);
    void SetTransparency(float value);

    uint32_t id = 0;  // index of the material in its importer's list
    LTextureMap textureMap1;
    LTextureMap textureMap2;
    LTextureMap opacityMap;
    LTextureMap reflectionMap;
    LTextureMap bumpMap;
    LTextureMap specularMap;
    LColorRGB ambient = {0, 0, 0};
    LColorRGB diffuse = {0, 0, 0};
    LColorRGB specular = {0, 0, 0};
    float shininess = 0.0f;
    float transparency = 0.0f;
    int shading = sGouraud;
};

class LCamera : public LObject {
public:
    LVec3 position = {0, 0, 0};
    LVec3 target = {0, 0, 0};
    float bank = 0.0f;
    float fov = 80.0f;
    float nearPlane = 10.0f;
    float farPlane = 10000.0f;
};

class LLight : public LObject {
public:
    LVec3 position = {0, 0, 0};
    LColorRGB color = {0, 0, 0};
    bool spotlight = false;  // set by the reader when the light has a 0x4610 spot chunk
    LVec3 target = {0, 0, 0};
    float hotspot = 0.0f;
    float falloff = 0.0f;
    float outerRange = 1000.0f;
    float innerRange = 100.0f;
};

class LMesh : public LObject {
public:
    LMesh();
    LMesh(const LMesh&) = default;
    LMesh(LMesh&&) noexcept = default;
    LMesh& operator=(const LMesh&) = default;
    LMesh& operator=(LMesh&&) noexcept = default;
    ~LMesh() override;

    // Empties all eight lists and sets the matrix to the identity.
    void Clear();

    // Resize vertices, normals, texCoords, tangents and binormals to n; new
    // elements are all zero (new vertices are (0, 0, 0, 0)).
    void SetVertexArraySize(uint32_t n);
    // Resize triangles and faceRecords to n; new elements are all zero.
    void SetTriangleArraySize(uint32_t n);

    uint32_t GetVertexCount() const { return uint32_t(vertices.size()); }
    uint32_t GetTriangleCount() const { return uint32_t(triangles.size()); }

    // Appends a material id; returns its index in the material-id list.
    int AddMaterial(uint32_t id);
    uint32_t GetMaterialCount() const { return uint32_t(materials.size()); }
    uint32_t GetMaterial(uint32_t index) const { return materials[index]; }

    // Read access by index (the index must be below the matching count).
    const LVec4& GetVertex(uint32_t i) const { return vertices[i]; }
    const LVec3& GetNormal(uint32_t i) const { return normals[i]; }
    const LVec3& GetBinormal(uint32_t i) const { return binormals[i]; }
    const LVec3& GetTangent(uint32_t i) const { return tangents[i]; }
    const LVec2& GetUV(uint32_t i) const { return texCoords[i]; }
    const LIndexTriangle& GetTriangle(uint32_t i) const { return triangles[i]; }
    const LFaceRecord& GetFace(uint32_t i) const { return faceRecords[i]; }
    const LMat4& GetMatrix() const { return matrix; }
    void SetMatrix(const LMat4& m) { matrix = m; }

    // Contiguous arrays for drawing; null when the list is empty.
    const LVec4* GetVertexData() const { return vertices.empty() ? nullptr : vertices.data(); }
    const LIndexTriangle* GetTriangleData() const { return triangles.empty() ? nullptr : triangles.data(); }

    // Every vertex v becomes matrix * v, divided by the resulting w when it
    // is not 0; w is then 1.
    void TransformVertices();

    // Face normals, then vertex normals. With smoothing
    // groups, a vertex shared by faces of different smoothing-group values is
    // split into one copy per group. Ends by copying the face-record corners
    // into `triangles`.
    //
    // Choices for inputs without a sound meaning:
    //  - Faces with a corner not below the vertex count are removed first
    //    (from faceRecords and triangles), so nothing reads outside the arrays
    //    and every drawn index names a vertex.
    //  - A split that would create a vertex index above 65535 (not addressable
    //    by 16-bit corners) is refused: the faces of that group keep the
    //    original vertex.
    void CalcNormals(bool useSmoothingGroups);

    // Per-face tangents and binormals from the texture coordinates, then
    // per-vertex tangents and binormals. Faces with a corner
    // not below the vertex count are skipped.
    void CalcTextureSpace();

    // CalcNormals(true) followed by CalcTextureSpace(), with the same results
    // to the bit, in one pass over the faces and one adjacency build. Used by
    // the importer's post-processing level 2.
    void CalcNormalsAndTextureSpace();

    // Removes every face that names a vertex not below the vertex count;
    // returns the number removed. Called by CalcNormals.
    uint32_t RemoveInvalidFaces();

    // Copies the corners of every face record into `triangles`.
    void CopyFaceCorners();

    // The processing program of an importer's post-process level (see
    // LImporter::SetPostProcessLevel), with the same results as the calls
    // above, inside `budget`: the memory of every list it builds or enlarges
    // (adjacency lists, vertex copies, working lists) is taken from the budget
    // before it is allocated, and its loops count their element operations:
    // at level 2 fewer than 8 per vertex and 100 per face (plus 3 log2(n) per
    // face for a vertex shared by n faces of more than 16 smoothing-group
    // values), at the other levels fewer than 4 per vertex and 8 per face.
    // Returns false when the budget refuses; the lists then keep their length
    // invariants but their contents are unspecified.
    bool PostProcess(int level, LBudget& budget);
    // The same with the caller's working memory for the bookkeeping (so that
    // mesh after mesh reuses it); the memory taken from the budget for it is
    // that of `workspace` (see LWorkspace::Get).
    bool PostProcess(int level, LBudget& budget, LWorkspace& workspace);
    // The same for a mesh whose positions and texture coordinates are still
    // in `source` (vertices and texCoords empty); null: they are in the lists.
    bool PostProcess(int level, LBudget& budget, LWorkspace& workspace, const LVertexSource* source);

    // The data. See the top of this file for the invariants.
    std::vector<LVec4> vertices;
    std::vector<LVec3> normals;
    std::vector<LVec3> binormals;
    std::vector<LVec3> tangents;
    std::vector<LVec2> texCoords;
    std::vector<LIndexTriangle> triangles;
    std::vector<LFaceRecord> faceRecords;
    LMat4 matrix;
    std::vector<uint32_t> materials;

private:
    // Empties every list but `materials` (which keeps the invariants); returns false.
    bool DropAll();
    // Restores the length invariants by resizing (new elements zero).
    bool SyncArraySizes(LBudget& budget);
    // The operations above, inside a budget; false when it refuses.
    bool DropInvalidFaces(LBudget& budget);
    bool CopyCorners(LBudget& budget);
    bool Normals(bool useSmoothingGroups, LBudget& budget, LWorkspace& workspace);
    bool TextureSpace(LBudget& budget);
    bool NormalsAndTextureSpace(LBudget& budget, LWorkspace& workspace, const LVertexSource* source);
    // Vertex splitting and vertex normals (and tangents), each per-vertex
    // list sized once to its final length.
    bool SplitAndSmooth(bool withTextureSpace, LBudget& budget, LWorkspace& workspace,
                        const LVertexSource* source = nullptr);
};

// ---------------------------------------------------------------------------
// The abstract importer: owns the scene lists.

class LImporter {
public:
    LImporter();
    LImporter(const LImporter&) = default;
    LImporter& operator=(const LImporter&) = default;
    virtual ~LImporter();

    // Loads a scene file and replaces meshes, lights, materials and cameras
    // with its contents. Returns false when the file cannot be loaded.
    virtual bool LoadFile(const char* filename) = 0;

    // Empties the mesh, light, material and camera lists and sets the
    // post-process level to 2. (Cameras are a choice here;
    // they are emptied too so that a second load replaces the whole scene.)
    virtual void Clear();

    uint32_t GetMeshCount() const { return uint32_t(meshes.size()); }
    uint32_t GetMaterialCount() const { return uint32_t(materials.size()); }
    uint32_t GetLightCount() const { return uint32_t(lights.size()); }
    uint32_t GetCameraCount() const { return uint32_t(cameras.size()); }

    // The index must be below the matching count. References stay valid
    // until the next load or Clear.
    LMesh& GetMesh(uint32_t index) { return meshes[index]; }
    const LMesh& GetMesh(uint32_t index) const { return meshes[index]; }
    LMaterial& GetMaterial(uint32_t index) { return materials[index]; }
    const LMaterial& GetMaterial(uint32_t index) const { return materials[index]; }
    LLight& GetLight(uint32_t index) { return lights[index]; }
    const LLight& GetLight(uint32_t index) const { return lights[index]; }
    LCamera& GetCamera(uint32_t index) { return cameras[index]; }
    const LCamera& GetCamera(uint32_t index) const { return cameras[index]; }

    // The first object whose name equals `name` byte for byte; null if none.
    LMesh* FindMesh(const std::string& name);
    const LMesh* FindMesh(const std::string& name) const;
    LMaterial* FindMaterial(const std::string& name);
    const LMaterial* FindMaterial(const std::string& name) const;

    // Which processing every mesh gets at the end of a load:
    //   0: TransformVertices (then the face corners are copied into `triangles`
    //      so that the mesh can be drawn);
    //   1: CalcNormals(false);
    //   2: CalcNormals(true), then CalcTextureSpace (the default);
    //   any other value: no geometric processing.
    // Whatever the level, faces with corners not below the vertex count are
    // removed and `triangles` holds the corners of the face records, so every
    // mesh can be drawn as it is.
    // A load post-processes with the level in force when it starts. Clear()
    // sets the level back to 2; a load keeps the level that was set.
    int GetPostProcessLevel() const { return postProcessLevel; }
    void SetPostProcessLevel(int level) { postProcessLevel = level; }

protected:
    // Appends a material and gives the copy in the list id = its index.
    LMaterial& AddMaterial(LMaterial material);

    std::vector<LCamera> cameras;
    std::vector<LLight> lights;
    std::vector<LMesh> meshes;
    std::vector<LMaterial> materials;
    int postProcessLevel = 2;
};
