// L3DS, a 3DS scene importer: the public header.
//
//     #include <l3ds.h>
//
//     L3DS importer;
//     if (!importer.LoadFile("scene.3ds"))
//         ...;
//     for (uint32_t i = 0; i < importer.GetMeshCount(); ++i) {
//         const LMesh& mesh = importer.GetMesh(i);
//         // mesh.vertices: GetVertexCount() x LVec4 (4 packed floats, w = 1)
//         // mesh.triangles: GetTriangleCount() x LIndexTriangle (3 packed uint16)
//     }
//
// See lobjects.h for the scene objects, the mesh arrays and how to draw them.
//
// The reader follows the 3DS chunk layout to the byte. Where a file can hold
// something without a sound meaning, it chooses:
//  - A chunk header whose length is below 6 (its end lies before its
//    contents), or that cannot be read whole, ends the search or walk it was
//    met in, as if its parent ended there. Every walk therefore terminates.
//  - A face material group naming a material that was not read is skipped
//    (no material id is added, the faces keep material id 0).
//  - Face indices in a material group that are not below the triangle count
//    are skipped; faces with corners not below the vertex count are removed
//    by post-processing (see LMesh::CalcNormals).
//  - A light with a spot chunk (0x4610) has `spotlight` set.
//  - Clear() also empties the cameras.
//
// Any file may be loaded: a load of an n-byte file costs at most
//  - kMemoryFloor + kMemoryPerByte * n bytes of memory held at any moment
//    (16 MiB + 64 n; LoadFile's copy of the file aside): the scene lists and
//    all that post-processing builds (adjacency lists, vertex copies, working
//    lists), each heap block with the allocator's overhead;
//  - kWorkFloor + kWorkPerByte * n element operations (4 Mi + 16 n): an
//    element operation is one chunk header read or one element of a list (a
//    vertex, texture coordinate, face, smoothing group, face index, index
//    entry, adjacency entry, ...) read, written, zero-filled or visited.
//    Everything else a load does is bounded by a constant per chunk header.
// Memory is asked for before it is allocated and work before it is done; a
// load that would go past either stops, and LoadFile/LoadMemory return false
// with the lists empty. Counts that a file claims beyond its own bytes still
// read as zeros (a truncated file keeps loading); only the budget refuses.
// The floors leave room for what a file cut short inside a mesh still
// claims: a mesh of 65,535 vertices and faces of its own, post-processing
// included, takes under 10 MiB and 2 Mi operations.
// Real files stay far below both: an element takes 2 to 20 bytes on disk,
// about 60 bytes in memory with its vertex copies, and a few dozen operations
// at most (the assimp test models and the game's penguin take at most 6.1
// bytes and 1.3 operations per byte of file). Name look-ups (face groups to
// materials, keyframer nodes to meshes) go through sorted indexes built once
// per load, so they cost log n each and give what FindMaterial/FindMesh
// give: the first in list order.
//
// An importer keeps one workspace (see LWorkspace) from load to load: it
// holds LoadFile's copy of the file, then the bookkeeping of post-processing
// mesh after mesh, so that loads after the first touch no fresh memory for
// it. A load pays from its budget for the part of the workspace it uses;
// the workspace is at most as large as the largest load so far needed.
//
// No exception leaves a load: an allocation that fails inside the budget
// (the system itself out of memory) makes it return false with the lists
// empty, too.
#pragma once

#include "lobjects.h"

#include <cstdint>
#include <cstring>
#include <string_view>

// One chunk as found in the buffer.
struct LChunkInfo {
    uint16_t id = 0;
    uint32_t start = 0;  // first byte after the 6-byte header
    uint32_t end = 0;    // one past the chunk's last byte (header offset + length)
};

class L3DS : public LImporter {
public:
    static constexpr uint64_t kMemoryFloor = uint64_t(16) << 20;
    static constexpr uint64_t kMemoryPerByte = 64;
    static constexpr uint64_t kWorkFloor = uint64_t(4) << 20;
    static constexpr uint64_t kWorkPerByte = 16;
    // The budget of a load of `size` bytes.
    static LBudget LoadBudget(uint64_t size)
    {
        return LBudget(kMemoryFloor + kMemoryPerByte * size, kWorkFloor + kWorkPerByte * size);
    }

    L3DS();
    L3DS(const L3DS&) = delete;
    L3DS& operator=(const L3DS&) = delete;
    ~L3DS() override;

    // Reads the whole file with one read into the importer's workspace, then
    // parses it as LoadMemory does.
    // Returns false when the file cannot be opened or read whole (empty files
    // included); the scene lists then keep what they held.
    bool LoadFile(const char* filename) override;

    // Parses a 3DS file held in memory (the bytes are not copied and are not
    // needed after the call). Returns false for a null or empty block (lists
    // untouched), and, with the lists empty, when the data does not start
    // with a 0x4D4D root chunk holding a 0x3D3D editor chunk or when the
    // load's budget (above) refuses.
    bool LoadMemory(const void* data, uint32_t size);

    // What the last load took: its peak of memory held and its work. After
    // a refusal, what it had taken when it stopped.
    const LBudget& LastLoadCost() const { return budget; }

protected:
    // Primitive reads on the buffer: a read of n bytes succeeds only when
    // position + n < bufferSize; otherwise it returns 0, sets endOfData and
    // leaves position unchanged.
    uint8_t ReadByte();
    uint16_t ReadShort();
    uint32_t ReadInt();
    float ReadFloat();
    // Reads a zero-terminated string, keeping at most maxLength - 1 characters.
    int ReadString(char* dest, int maxLength);
    LChunkInfo ReadChunkHeader();
    // Sets position (clamped to bufferSize - 1) and clears endOfData.
    void Seek(uint32_t offset);
    // Finds the first sibling chunk from position on with id target.id inside
    // parent; on success position is at its contents.
    bool FindChunk(LChunkInfo& target, const LChunkInfo& parent);

    bool ParseScene();
    void ReadMesh(const LChunkInfo& chunk);
    void ReadFaceList(LMesh& mesh, const LChunkInfo& chunk);
    void ReadKeyframeNode(const LChunkInfo& chunk);

    LColorRGB ReadColor(const LChunkInfo& chunk);
    float ReadPercentage(const LChunkInfo& chunk);
    void ReadMaterial(const LChunkInfo& chunk);
    void ReadMap(const LChunkInfo& chunk, LTextureMap& map);
    void ReadLight(const LChunkInfo& chunk);
    void ReadCamera(const LChunkInfo& chunk);

    bool PostProcess(LMesh& mesh);

    char objectName[100];
    bool endOfData;
    const uint8_t* buffer;  // the file's bytes while a load runs; null otherwise
    uint32_t bufferSize;
    uint32_t position;

private:
    // True when h was read whole and its end does not lie before its start.
    LChunkInfo NextHeader();  // ReadChunkHeader, inlined
    static bool ChunkOk(const LChunkInfo& h) { return h.start >= 6 && h.end >= h.start; }
    // Bulk reads: true when count items of size bytes fit (strict bound).
    bool Fits(uint32_t count, uint32_t size) const;
    // count reads of one size in a row, as the primitive reads would make
    // them, without a call per value: value k is read from the data when it
    // fits and is 0 otherwise. EndRun advances position past the values read
    // and sets endOfData when some did not fit.
    struct Run {
        const uint8_t* data;
        uint32_t fitting;
        uint32_t count;
        uint32_t size;
        uint16_t u16(uint32_t k) const { return k < fitting ? uint16_t(data[2 * k] | (data[2 * k + 1] << 8)) : 0; }
        uint32_t u32(uint32_t k) const
        {
            if (k >= fitting)
                return 0;
            const uint8_t* p = data + 4 * k;
            return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
        }
        float f(uint32_t k) const
        {
            const uint32_t bits = u32(k);
            float value;
            std::memcpy(&value, &bits, 4);
            return value;
        }
    };
    Run StartRun(uint32_t count, uint32_t size) const;
    void EndRun(const Run& run);

    // A mesh read as one vertex list followed by at most one list of texture
    // coordinates (the usual order) keeps them in the file's bytes until
    // post-processing, which decodes them at once into lists of their final
    // length, copies from splitting included. Any other order of those
    // chunks decodes them as they come.
    struct PendingVertices final : LVertexSource {
        Run positions{};  // 3 count floats
        Run texRun{};     // 2 texCount floats, when hasTexCoords
        uint32_t count = 0;
        uint32_t texCount = 0;
        bool hasTexCoords = false;
        size_t mesh = 0;  // its index in meshes
        uint32_t Count() const override { return count; }
        void Fill(std::vector<LVec4>& vertices, std::vector<LVec2>& texCoords) const override;
    };
    enum { kNothingRead, kPositionsPending, kBothPending, kDecoded };
    static void PutVertices(LMesh& mesh, const Run& floats, uint32_t n);
    static void PutTexCoords(std::vector<LVec2>& t, const Run& floats, uint32_t kept);
    bool Materialise(LMesh& mesh, PendingVertices& pending, int& state);
    // The workspace block of LoadFile's copy of the file (post-processing
    // uses the others while the file is still read).
    static constexpr int kFileBlock = 2;
    void ReadTrackFirstKey(int floats);
    // The reader's allocations and loops, inside the budget.
    bool SizeVertexArrays(LMesh& mesh, uint32_t n);
    bool TakeName(size_t length);
    template <class T>
    bool MakeRoom(std::vector<T>& list, size_t counted);

    // A sorted index of names: (name, list position), by name, then position.
    struct NameIndex {
        struct Entry {
            std::string_view name;
            uint32_t position;
        };
        std::vector<Entry> entries;
        bool built = false;
    };
    template <class T>
    bool BuildIndex(NameIndex& index, const std::vector<T>& list, size_t longestName);
    // The list position of the first object of `list` named `name` (of at
    // most longestName characters), or -1: a scan of a short list, else a
    // search of its index, built at the first search.
    static constexpr size_t kScanLimit = 16;
    template <class T>
    int64_t FindName(NameIndex& index, const std::vector<T>& list, const char* name, size_t longestName);

    LBudget budget;
    // LoadFile's copy of the file, then post-processing's bookkeeping; kept
    // from load to load.
    LWorkspace workspace;
    std::vector<PendingVertices> pendingVertices;  // in mesh order
    NameIndex materialIndex;
    NameIndex meshIndex;
    // The sub-chunk walk over the chunks of c, starting with
    // a header read at the current position; handle(s) returns false to stop.
    template <class Handler>
    void WalkSubChunks(const LChunkInfo& c, Handler&& handle);
};
