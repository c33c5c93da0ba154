// The 3DS file reader: file structure, meshes, keyframer, materials, lights, cameras.
#include "l3ds.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstddef>
#include <cstring>
#include <iterator>
#include <memory>
#include <new>
#include <utility>

#if defined(__unix__) || defined(__APPLE__)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// Little-endian loads; compilers turn these into single moves on x86.
inline uint16_t le16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }

inline uint32_t le32(const uint8_t* p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

inline float lef(const uint8_t* p)
{
    const uint32_t bits = le32(p);
    float f;
    std::memcpy(&f, &bits, 4);
    return f;
}

// The elements of a run of records in the file, decoded one per step, so that
// a list is filled with one assign: its buffer grows at most once and each
// element is written once, whole.
template <class T, size_t Stride, T (*Decode)(const uint8_t*)>
class Decoder {
public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = T;
    using difference_type = std::ptrdiff_t;
    using pointer = const T*;
    using reference = T;

    explicit Decoder(const uint8_t* p) : m_p(p) {}
    T operator*() const { return Decode(m_p); }
    Decoder& operator++()
    {
        m_p += Stride;
        return *this;
    }
    Decoder operator++(int)
    {
        Decoder old = *this;
        m_p += Stride;
        return old;
    }
    bool operator==(const Decoder& o) const { return m_p == o.m_p; }
    bool operator!=(const Decoder& o) const { return m_p != o.m_p; }

private:
    const uint8_t* m_p;
};

inline LVec4 vertexAt(const uint8_t* p) { return {lef(p), lef(p + 4), lef(p + 8), 1.0f}; }
inline LVec2 texCoordAt(const uint8_t* p) { return {lef(p), lef(p + 4)}; }
// A face: corners a, b, c and the flags (consumed, not kept); smoothing group 1.
inline LFaceRecord faceAt(const uint8_t* p)
{
    return {le16(p), le16(p + 2), le16(p + 4), 1, {0, 0, 0}, {0, 0, 0}, {0, 0, 0}, 0};
}

template <class T, size_t Stride, T (*Decode)(const uint8_t*)>
void assignDecoded(std::vector<T>& list, const uint8_t* p, size_t n)
{
    list.assign(Decoder<T, Stride, Decode>(p), Decoder<T, Stride, Decode>(p + Stride * n));
}

// Chunk ids.
enum : uint16_t {
    kMain = 0x4D4D,
    kEditor = 0x3D3D,
    kObject = 0x4000,
    kTriMesh = 0x4100,
    kVertexList = 0x4110,
    kFaceList = 0x4120,
    kFaceMaterial = 0x4130,
    kMapList = 0x4140,
    kSmoothGroup = 0x4150,
    kMeshMatrix = 0x4160,
    kLight = 0x4600,
    kSpotlight = 0x4610,
    kLightInnerRange = 0x4659,
    kLightOuterRange = 0x465A,
    kCamera = 0x4700,
    kCameraRanges = 0x4720,
    kKeyframer = 0xB000,
    kObjectNode = 0xB002,
    kNodeHeader = 0xB010,
    kPivot = 0xB013,
    kPosTrack = 0xB020,
    kRotTrack = 0xB021,
    kScaleTrack = 0xB022,
    kMaterial = 0xAFFF,
    kMatName = 0xA000,
    kMatAmbient = 0xA010,
    kMatDiffuse = 0xA020,
    kMatSpecular = 0xA030,
    kMatShininess = 0xA040,
    kMatTransparency = 0xA050,
    kMatWire = 0xA085,
    kMatShading = 0xA100,
    kMatTexMap1 = 0xA200,
    kMatSpecMap = 0xA204,
    kMatOpacMap = 0xA210,
    kMatReflMap = 0xA220,
    kMatBumpMap = 0xA230,
    kMatTexMap2 = 0xA33A,
    kMapName = 0xA300,
    kMapUScale = 0xA354,
    kMapVScale = 0xA356,
    kMapUOffset = 0xA358,
    kMapVOffset = 0xA35A,
    kMapAngle = 0xA35C,
    kColorF = 0x0010,
    kColor24 = 0x0011,
    kLinColor24 = 0x0012,
    kLinColorF = 0x0013,
    kIntPercentage = 0x0030,
    kFloatPercentage = 0x0031,
};

// ceil(log2(n)) + 1: the comparisons of a binary search among n entries.
uint64_t searchSteps(uint64_t n)
{
    uint64_t steps = 1;
    while ((uint64_t(1) << (steps - 1)) < n)
        ++steps;
    return steps;
}

// std::string keeps up to 15 characters in place; longer ones take a block.
constexpr size_t kShortString = 15;

} // namespace

L3DS::L3DS()
    : objectName{}, endOfData(false), buffer(nullptr), bufferSize(0), position(0)
{
}

L3DS::~L3DS()
{
    // The buffer is only a view of the caller's (or LoadFile's) bytes while a
    // load runs; nothing to release here.
    buffer = nullptr;
    bufferSize = 0;
}

// ---------------------------------------------------------------------------
// Loading.

// The first steps of LoadFile: open, find the size, allocate, one
// read of the whole file, close. On POSIX systems this is done with open,
// fstat, read and close (four system calls, where stdio makes seven); the
// behaviour is the same: anything that is not a regular file of at least one
// byte that can be read whole fails.
bool L3DS::LoadFile(const char* filename)
{
    if (!filename)
        return false;
#if defined(__unix__) || defined(__APPLE__)
    const int fd = ::open(filename, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size <= 0 ||
        uint64_t(info.st_size) > 0xFFFFFFFFull) {
        ::close(fd);
        return false;
    }
    const size_t size = size_t(info.st_size);
    uint8_t* data = static_cast<uint8_t*>(workspace.Get(kFileBlock, size));
    if (!data) {
        ::close(fd);
        return false;
    }
    size_t got = 0;
    while (got < size) {  // one read; more only if the kernel delivers less
        const ssize_t n = ::read(fd, data + got, size - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += size_t(n);
    }
    ::close(fd);
#else
    std::FILE* file = std::fopen(filename, "rb");
    if (!file)
        return false;
    if (std::fseek(file, 0, SEEK_END) != 0) {
        std::fclose(file);
        return false;
    }
    const long length = std::ftell(file);
    if (length <= 0 || static_cast<unsigned long>(length) > 0xFFFFFFFFul || std::fseek(file, 0, SEEK_SET) != 0) {
        std::fclose(file);
        return false;
    }
    const size_t size = size_t(length);
    uint8_t* data = static_cast<uint8_t*>(workspace.Get(kFileBlock, size));
    if (!data) {
        std::fclose(file);
        return false;
    }
    const size_t got = std::fread(data, 1, size, file);
    std::fclose(file);
#endif
    if (got != size)
        return false;
    return LoadMemory(data, uint32_t(size));
}

bool L3DS::LoadMemory(const void* data, uint32_t size)
{
    if (!data || size == 0)
        return false;
    const int level = postProcessLevel;
    Clear();
    postProcessLevel = level;

    buffer = static_cast<const uint8_t*>(data);
    bufferSize = size;
    position = 0;
    endOfData = false;
    budget = LoadBudget(size);
    workspace.StartJob();
    pendingVertices.clear();
    bool ok = false;
    try {
        ok = ParseScene() && !budget.Exceeded();
    } catch (...) {
        // Nothing on the load path throws but an allocation, and the budget
        // keeps those within bounds: the system itself is out of memory.
        ok = false;
    }
    if (!ok) {
        Clear();
        postProcessLevel = level;
    }
    materialIndex = NameIndex();
    meshIndex = NameIndex();
    pendingVertices.clear();
    buffer = nullptr;
    bufferSize = 0;
    position = 0;
    objectName[0] = 0;
    return ok;
}

// ---------------------------------------------------------------------------
// The budget.

// While a mesh is read only its positions, texture coordinates and face
// records are kept; post-processing gives the other lists their final length
// at once and writes them whole. Texture coordinates beyond the end of
// `texCoords` read as (0, 0) until then.
bool L3DS::SizeVertexArrays(LMesh& mesh, uint32_t n)
{
    const uint32_t count = mesh.GetVertexCount();
    if (n > count && !budget.TakeWork(5 * uint64_t(n - count)))
        return false;
    return budget.Reserve(mesh.vertices, n);
}

bool L3DS::TakeName(size_t length)
{
    return length <= kShortString || budget.TakeMemory(LBudget::BlockBytes(length + 1));
}

// Reserves the elements a first walk counted when the budget allows them;
// otherwise the list grows as its elements come (some counted blocks yield
// none), so that only the elements really made are paid for.
template <class T>
bool L3DS::MakeRoom(std::vector<T>& list, size_t counted)
{
    if (LBudget::BlockBytes(uint64_t(counted) * sizeof(T)) <= budget.MemoryLimit() - budget.MemoryHeld())
        return budget.Reserve(list, counted);
    return true;
}

// Only names of at most longestName characters can match a look-up, which
// reads at most that many: the others stay out of the index.
template <class T>
bool L3DS::BuildIndex(NameIndex& index, const std::vector<T>& list, size_t longestName)
{
    index.built = true;
    size_t n = 0;
    for (const T& item : list)
        if (item.GetName().size() <= longestName)
            ++n;
    if (!budget.TakeWork(list.size() + n * searchSteps(n)) || !budget.Reserve(index.entries, n))
        return false;
    for (size_t i = 0; i < list.size(); ++i)
        if (list[i].GetName().size() <= longestName)
            index.entries.push_back({list[i].GetName(), uint32_t(i)});
    std::sort(index.entries.begin(), index.entries.end(), [](const NameIndex::Entry& a, const NameIndex::Entry& b) {
        return a.name < b.name || (a.name == b.name && a.position < b.position);
    });
    return true;
}

template <class T>
int64_t L3DS::FindName(NameIndex& index, const std::vector<T>& list, const char* name, size_t longestName)
{
    if (list.size() <= kScanLimit) {
        if (!budget.TakeWork(list.size()))
            return -1;
        for (size_t i = 0; i < list.size(); ++i)
            if (list[i].GetName().compare(name) == 0)
                return int64_t(i);
        return -1;
    }
    if ((!index.built && !BuildIndex(index, list, longestName)) ||
        !budget.TakeWork(searchSteps(index.entries.size())))
        return -1;
    const std::string_view key(name);
    const auto found = std::lower_bound(index.entries.begin(), index.entries.end(), key,
                                        [](const NameIndex::Entry& e, std::string_view k) { return e.name < k; });
    if (found == index.entries.end() || found->name != key)
        return -1;
    return found->position;  // the first of its name: entries of one name are in list order
}

// ---------------------------------------------------------------------------
// Primitive reads.

// A read of `size` bytes succeeds while position + size < bufferSize, and a
// failed one leaves position where it is: of `count` such reads in a row, the
// first (bufferSize - 1 - position) / size succeed and the others give 0.
L3DS::Run L3DS::StartRun(uint32_t count, uint32_t size) const
{
    Run run{buffer + position, 0, count, size};
    if (buffer && uint64_t(position) + size < bufferSize)
        run.fitting = uint32_t(std::min<uint64_t>(count, (bufferSize - 1 - uint64_t(position)) / size));
    return run;
}

void L3DS::EndRun(const Run& run)
{
    position += run.fitting * run.size;
    if (run.fitting < run.count)
        endOfData = true;
}

bool L3DS::Fits(uint32_t count, uint32_t size) const
{
    return buffer && bufferSize != 0 && uint64_t(position) + uint64_t(count) * size < bufferSize;
}

uint8_t L3DS::ReadByte()
{
    if (!Fits(1, 1)) {
        endOfData = true;
        return 0;
    }
    return buffer[position++];
}

uint16_t L3DS::ReadShort()
{
    if (!Fits(1, 2)) {
        endOfData = true;
        return 0;
    }
    const uint16_t v = le16(buffer + position);
    position += 2;
    return v;
}

uint32_t L3DS::ReadInt()
{
    if (!Fits(1, 4)) {
        endOfData = true;
        return 0;
    }
    const uint32_t v = le32(buffer + position);
    position += 4;
    return v;
}

float L3DS::ReadFloat()
{
    if (!Fits(1, 4)) {
        endOfData = true;
        return 0.0f;
    }
    const float v = lef(buffer + position);
    position += 4;
    return v;
}

int L3DS::ReadString(char* dest, int maxLength)
{
    int i = 0;
    uint8_t c = ReadByte();
    if (c != 0) {
        for (;;) {
            if (i >= maxLength - 1)
                break;
            dest[i++] = char(c);
            if (!Fits(1, 1)) {
                endOfData = true;
                break;
            }
            c = ReadByte();
            if (c == 0)
                break;
        }
    }
    if (maxLength > 0)
        dest[i] = 0;
    return i;
}

// Always inlined into the readers of this file: returned from a call, the
// 12-byte LChunkInfo is packed into registers through memory, which costs a
// store-forwarding stall on every header.
#if defined(__GNUC__)
__attribute__((always_inline))
#endif
inline LChunkInfo L3DS::NextHeader()
{
    const uint16_t id = ReadShort();
    const uint32_t length = ReadInt();
    const uint32_t start = position;
    return LChunkInfo{id, start, start - 6 + length};  // end in 32-bit unsigned arithmetic
}

LChunkInfo L3DS::ReadChunkHeader() { return NextHeader(); }

void L3DS::Seek(uint32_t offset)
{
    position = offset;
    if (offset >= bufferSize)
        position = bufferSize - 1;
    endOfData = false;
}

bool L3DS::FindChunk(LChunkInfo& target, const LChunkInfo& parent)
{
    if (position >= parent.end || !budget.TakeWork(1))
        return false;
    LChunkInfo h = NextHeader();
    for (;;) {
        if (!ChunkOk(h))
            return false;  // a broken header ends the search (left to the implementer)
        if (h.id == target.id)
            break;
        if (h.end > parent.end)
            return false;
        Seek(h.end);
        if (h.end >= parent.end || !budget.TakeWork(1))
            return false;
        h = NextHeader();
    }
    target.start = h.start;
    target.end = h.end;
    return true;
}

template <class Handler>
void L3DS::WalkSubChunks(const LChunkInfo& c, Handler&& handle)
{
    if (!budget.TakeWork(1))
        return;
    LChunkInfo s = NextHeader();
    // A broken header (length below 6, or cut by the end of the data) ends the
    // walk; every header that passes lies strictly after the previous one.
    // Headers count as work: a chunk's end is not bounded by its parent's, so
    // the walks of neighbouring chunks can cover the same headers.
    while (ChunkOk(s) && s.end <= c.end) {
        if (!handle(s))
            return;
        Seek(s.end);
        if (s.end >= c.end || !budget.TakeWork(1))
            return;
        s = NextHeader();
    }
}

// ---------------------------------------------------------------------------
// Scene.

bool L3DS::ParseScene()
{
    const LChunkInfo root = NextHeader();
    if (root.id != kMain)
        return false;
    LChunkInfo editor;
    editor.id = kEditor;
    if (!FindChunk(editor, root))
        return false;

    // Materials first, so that every face list finds them. (A first walk
    // counts them, so that the list of these large records need not regrow.)
    LChunkInfo material;
    material.id = kMaterial;
    size_t materialCount = 0;
    Seek(editor.start);
    while (FindChunk(material, editor)) {
        ++materialCount;
        Seek(material.end);
    }
    if (!MakeRoom(materials, materialCount))
        return false;
    Seek(editor.start);
    while (FindChunk(material, editor)) {
        ReadMaterial(material);
        Seek(material.end);
    }

    // Objects. (A first walk counts them: at most that many meshes.)
    LChunkInfo object;
    object.id = kObject;
    size_t objectCount = 0;
    Seek(editor.start);
    while (FindChunk(object, editor)) {
        ++objectCount;
        Seek(object.end);
    }
    if (!MakeRoom(meshes, objectCount))
        return false;
    Seek(editor.start);
    while (FindChunk(object, editor)) {
        ReadString(objectName, 99);
        const LChunkInfo first = NextHeader();
        switch (first.id) {
        case kTriMesh:
            ReadMesh(first);
            break;
        case kLight:
            ReadLight(first);
            break;
        case kCamera:
            ReadCamera(first);
            break;
        default:
            break;
        }
        Seek(object.end);
    }

    // Keyframer.
    Seek(root.start);
    LChunkInfo keyframer;
    keyframer.id = kKeyframer;
    if (FindChunk(keyframer, root)) {
        Seek(keyframer.start);
        LChunkInfo node;
        node.id = kObjectNode;
        while (FindChunk(node, keyframer)) {
            ReadKeyframeNode(node);
            Seek(node.end);
        }
    }

    // The file's bytes are not read from here on but where pendingVertices
    // points (post-processing decodes them).
    buffer = nullptr;
    bufferSize = 0;
    size_t next = 0;
    for (size_t i = 0; i < meshes.size(); ++i) {
        const LVertexSource* source = nullptr;
        if (next < pendingVertices.size() && pendingVertices[next].mesh == i)
            source = &pendingVertices[next++];
        if (!meshes[i].PostProcess(postProcessLevel, budget, workspace, source))
            return false;
    }

    position = 0;
    objectName[0] = 0;
    return true;
}

bool L3DS::PostProcess(LMesh& mesh) { return mesh.PostProcess(postProcessLevel, budget, workspace); }

// The list becomes n vertices from the 3 n floats of `floats`, each written
// once; texture coordinates are kept up to n.
void L3DS::PutVertices(LMesh& mesh, const Run& floats, uint32_t n)
{
    std::vector<LVec4>& v = mesh.vertices;
    v.clear();
    if (mesh.texCoords.size() > n)
        mesh.texCoords.resize(n);
    if (floats.fitting == floats.count) {
        assignDecoded<LVec4, 12, vertexAt>(v, floats.data, n);
    } else {
        for (uint32_t i = 0; i < n; ++i)
            v.push_back({floats.f(3 * i), floats.f(3 * i + 1), floats.f(3 * i + 2), 1.0f});
    }
}

// Texture coordinate i becomes pair i of `floats` for each i below kept
// (the list has room for kept).
void L3DS::PutTexCoords(std::vector<LVec2>& t, const Run& floats, uint32_t kept)
{
    const uint32_t overwritten = std::min(kept, uint32_t(t.size()));
    if (floats.fitting == floats.count) {
        const uint8_t* p = floats.data;
        for (uint32_t i = 0; i < overwritten; ++i, p += 8)
            t[i] = texCoordAt(p);
        t.insert(t.end(), Decoder<LVec2, 8, texCoordAt>(p), Decoder<LVec2, 8, texCoordAt>(p + 8 * (kept - overwritten)));
    } else {
        uint32_t i = 0;
        for (; i < overwritten; ++i)
            t[i] = {floats.f(2 * i), floats.f(2 * i + 1)};
        for (; i < kept; ++i)
            t.push_back({floats.f(2 * i), floats.f(2 * i + 1)});
    }
}

void L3DS::PendingVertices::Fill(std::vector<LVec4>& vertices, std::vector<LVec2>& texCoords) const
{
    if (positions.fitting == positions.count) {
        assignDecoded<LVec4, 12, vertexAt>(vertices, positions.data, count);
    } else {
        for (uint32_t i = 0; i < count; ++i)
            vertices.push_back({positions.f(3 * i), positions.f(3 * i + 1), positions.f(3 * i + 2), 1.0f});
    }
    if (hasTexCoords)
        PutTexCoords(texCoords, texRun, std::min(texCount, count));
    texCoords.resize(count);  // the others are (0, 0)
}

// Decodes what `pending` holds into the mesh, when the mesh's chunks are not
// the usual one vertex list followed by at most one list of texture
// coordinates; from then on the mesh is read as its chunks come.
bool L3DS::Materialise(LMesh& mesh, PendingVertices& pending, int& state)
{
    if (state == kPositionsPending || state == kBothPending) {
        if (!budget.Reserve(mesh.vertices, pending.count) || !budget.Reserve(mesh.texCoords, pending.count))
            return false;
        pending.Fill(mesh.vertices, mesh.texCoords);
    }
    state = kDecoded;
    return true;
}

void L3DS::ReadMesh(const LChunkInfo& chunk)
{
    if (!budget.Grow(meshes) || !TakeName(std::strlen(objectName)))
        return;
    PendingVertices pending;
    int state = kNothingRead;
    LMesh mesh;
    mesh.SetName(objectName);
    Seek(chunk.start);
    WalkSubChunks(chunk, [&](const LChunkInfo& s) {
        switch (s.id) {
        case kVertexList: {
            const uint32_t n = ReadShort();
            if (state == kNothingRead) {
                // Kept in the file until post-processing knows the final length.
                if (!budget.TakeWork(6 * uint64_t(n)))
                    return false;
                pending.count = n;
                pending.positions = StartRun(3 * n, 4);
                EndRun(pending.positions);
                state = kPositionsPending;
                break;
            }
            if (!Materialise(mesh, pending, state) || !SizeVertexArrays(mesh, n) || !budget.TakeWork(n))
                return false;
            const Run floats = StartRun(3 * n, 4);
            PutVertices(mesh, floats, n);
            EndRun(floats);
            break;
        }
        case kMapList: {
            const uint32_t n = ReadShort();
            if (state == kPositionsPending) {
                if (!budget.TakeWork(n))
                    return false;
                pending.texCount = n;
                pending.hasTexCoords = true;
                pending.texRun = StartRun(2 * n, 4);
                EndRun(pending.texRun);
                state = kBothPending;
                break;
            }
            if (!Materialise(mesh, pending, state))
                return false;
            // Coordinate i is written when i is below the vertex count; a
            // mesh without vertices gets n zero vertices first.
            if (mesh.GetVertexCount() == 0) {
                if (!SizeVertexArrays(mesh, n))
                    return false;
                mesh.vertices.resize(n);
            }
            const uint32_t count = mesh.GetVertexCount();
            const uint32_t kept = n < count ? n : count;
            if (!budget.TakeWork(n) || !budget.Reserve(mesh.texCoords, kept))
                return false;
            const Run floats = StartRun(2 * n, 4);
            PutTexCoords(mesh.texCoords, floats, kept);
            EndRun(floats);
            break;
        }
        case kMeshMatrix: {
            LMat4 m = LMat4::Identity();
            for (int row = 0; row < 4; ++row)
                for (int col = 0; col < 3; ++col)
                    m.m[4 * row + col] = ReadFloat();
            mesh.SetMatrix(m);
            break;
        }
        case kFaceList:
            ReadFaceList(mesh, s);
            break;
        default:
            break;
        }
        return !budget.Exceeded();
    });
    if (state == kPositionsPending || state == kBothPending) {
        if (!budget.Grow(pendingVertices))
            return;
        pending.mesh = meshes.size();
        pendingVertices.push_back(pending);
    }
    meshes.push_back(std::move(mesh));
}

void L3DS::ReadFaceList(LMesh& mesh, const LChunkInfo& chunk)
{
    if (chunk.id != kFaceList)
        return;
    // The face records become n records, each built whole as it is read
    // (no zeros first); `triangles` is written by post-processing.
    Seek(chunk.start);
    const uint32_t n = ReadShort();
    std::vector<LFaceRecord>& faces = mesh.faceRecords;
    const uint32_t had = uint32_t(faces.size());
    if ((n > had && !budget.TakeWork(2 * uint64_t(n - had))) || !budget.Reserve(faces, n) || !budget.TakeWork(n))
        return;
    if (Fits(n, 8)) {
        assignDecoded<LFaceRecord, 8, faceAt>(faces, buffer + position, n);
        position += 8 * n;
    } else {
        faces.clear();
        const LVec3 zero = {0.0f, 0.0f, 0.0f};
        const Run shorts = StartRun(4 * n, 2);
        for (uint32_t i = 0; i < n; ++i)  // corners, then the flags: consumed, not kept
            faces.push_back({shorts.u16(4 * i), shorts.u16(4 * i + 1), shorts.u16(4 * i + 2), 1, zero, zero, zero, 0});
        EndRun(shorts);
    }

    WalkSubChunks(chunk, [&](const LChunkInfo& s) {
        switch (s.id) {
        case kFaceMaterial: {
            char materialName[20];
            ReadString(materialName, 20);
            const int64_t found = FindName(materialIndex, materials, materialName, sizeof materialName - 1);
            if (found < 0)
                break;  // unknown material: the group is skipped
            const uint32_t id = materials[size_t(found)].id;
            if (!budget.Grow(mesh.materials))
                break;
            mesh.AddMaterial(id);
            const uint32_t m = ReadShort();
            if (!budget.TakeWork(m))
                break;
            const uint32_t triangleCount = uint32_t(mesh.faceRecords.size());
            const Run indices = StartRun(m, 2);
            for (uint32_t j = 0; j < m; ++j) {
                const uint32_t face = indices.u16(j);
                if (face < triangleCount)
                    mesh.faceRecords[face].materialId = id;
            }
            EndRun(indices);
            break;
        }
        case kSmoothGroup: {
            const uint32_t count = uint32_t(mesh.faceRecords.size());
            if (!budget.TakeWork(count))
                break;
            LFaceRecord* records = mesh.faceRecords.data();
            if (Fits(count, 4)) {
                const uint8_t* p = buffer + position;
                for (uint32_t i = 0; i < count; ++i, p += 4)
                    records[i].smoothingGroup = le32(p);
                position += 4 * count;
            } else {
                const Run ints = StartRun(count, 4);
                for (uint32_t i = 0; i < count; ++i)
                    records[i].smoothingGroup = ints.u32(i);
                EndRun(ints);
            }
            break;
        }
        default:
            break;
        }
        return !budget.Exceeded();
    });
}

void L3DS::ReadTrackFirstKey(int floats)
{
    ReadShort();  // flags
    ReadInt();
    ReadInt();
    const uint32_t keys = ReadInt();
    if (keys == 0)
        return;
    ReadInt();  // frame
    const uint16_t flags = ReadShort();
    for (uint16_t bit : {uint16_t(0x8000), uint16_t(0x4000), uint16_t(0x2000), uint16_t(0x1000), uint16_t(0x0800)})
        if (flags & bit)
            ReadFloat();
    for (int i = 0; i < floats; ++i)
        ReadFloat();
}

void L3DS::ReadKeyframeNode(const LChunkInfo& chunk)
{
    // Nothing read here goes into the scene; the walk only consumes the data.
    Seek(chunk.start);
    LChunkInfo h;
    h.id = kNodeHeader;
    if (!FindChunk(h, chunk))
        return;
    char nodeName[19];
    ReadString(nodeName, 19);
    if (FindName(meshIndex, meshes, nodeName, sizeof nodeName - 1) < 0)
        return;

    Seek(chunk.start);
    h.id = kPivot;
    if (FindChunk(h, chunk)) {
        ReadFloat();
        ReadFloat();
        ReadFloat();
    }
    Seek(chunk.start);
    h.id = kPosTrack;
    if (FindChunk(h, chunk))
        ReadTrackFirstKey(3);
    Seek(chunk.start);
    h.id = kRotTrack;
    if (FindChunk(h, chunk))
        ReadTrackFirstKey(4);
    Seek(chunk.start);
    h.id = kScaleTrack;
    if (FindChunk(h, chunk))
        ReadTrackFirstKey(3);
    Seek(chunk.start);
}

// ---------------------------------------------------------------------------
// Materials, lights, cameras.

LColorRGB L3DS::ReadColor(const LChunkInfo& chunk)
{
    LColorRGB c = {0.0f, 0.0f, 0.0f};
    Seek(chunk.start);
    switch (chunk.id) {
    case kColorF:
    case kLinColorF:
        c.r = ReadFloat();
        c.g = ReadFloat();
        c.b = ReadFloat();
        break;
    case kColor24:
    case kLinColor24:
        c.r = float(ReadByte() / 255.0);
        c.g = float(ReadByte() / 255.0);
        c.b = float(ReadByte() / 255.0);
        break;
    default:
        break;
    }
    return c;
}

float L3DS::ReadPercentage(const LChunkInfo& chunk)
{
    Seek(chunk.start);
    switch (chunk.id) {
    case kIntPercentage:
        return float(int16_t(ReadShort()) / 100.0);
    case kFloatPercentage:
        return ReadFloat();
    default:
        return 0.0f;
    }
}

void L3DS::ReadMap(const LChunkInfo& chunk, LTextureMap& map)
{
    Seek(chunk.start);
    WalkSubChunks(chunk, [&](const LChunkInfo& s) {
        switch (s.id) {
        case kIntPercentage:
            map.strength = ReadPercentage(s);
            break;
        case kMapName: {
            char mapName[20];
            ReadString(mapName, 20);
            std::memcpy(map.mapName, mapName, std::strlen(mapName) + 1);
            break;
        }
        case kMapUScale:
            map.uScale = ReadFloat();
            break;
        case kMapVScale:
            map.vScale = ReadFloat();
            break;
        case kMapUOffset:
            map.uOffset = ReadFloat();
            break;
        case kMapVOffset:
            map.vOffset = ReadFloat();
            break;
        case kMapAngle:
            map.angle = ReadFloat();
            break;
        default:
            break;
        }
        return true;
    });
}

void L3DS::ReadMaterial(const LChunkInfo& chunk)
{
    // Built in place at the end of the list (the record is large) and taken
    // out again if it is dropped, which leaves no trace, as a local would.
    if (!budget.Grow(materials))
        return;
    materials.emplace_back();
    LMaterial& material = materials.back();
    bool dropped = false;
    Seek(chunk.start);
    WalkSubChunks(chunk, [&](const LChunkInfo& s) {
        switch (s.id) {
        case kMatName: {
            char name[30];
            if (!TakeName(size_t(ReadString(name, 30))))
                return false;
            material.SetName(name);
            break;
        }
        case kMatAmbient:
            material.ambient = ReadColor(NextHeader());
            break;
        case kMatDiffuse:
            material.diffuse = ReadColor(NextHeader());
            break;
        case kMatSpecular:
            material.specular = ReadColor(NextHeader());
            break;
        case kMatShininess:
            material.SetShininess(ReadPercentage(NextHeader()));
            break;
        case kMatTransparency:
            material.SetTransparency(ReadPercentage(NextHeader()));
            break;
        case kMatWire:
            material.shading = sWire;
            break;
        case kMatShading: {
            const int16_t shading = int16_t(ReadShort());
            if (shading >= 0 && shading <= 4)
                material.shading = shading;
            break;
        }
        case kMatTexMap1:
            ReadMap(s, material.textureMap1);
            break;
        case kMatSpecMap:
            ReadMap(s, material.specularMap);
            break;
        case kMatOpacMap:
            ReadMap(s, material.opacityMap);
            break;
        case kMatBumpMap:
            ReadMap(s, material.bumpMap);
            break;
        case kMatTexMap2:
            ReadMap(s, material.textureMap2);
            break;
        case kMatReflMap: {
            const LChunkInfo h1 = NextHeader();
            material.reflectionMap.strength = ReadPercentage(h1);
            Seek(h1.end);
            const LChunkInfo h2 = NextHeader();
            if (h2.id != kMapName) {
                dropped = true;
                return false;
            }
            char mapName[30];
            ReadString(mapName, 30);
            if (mapName[0] == 0)
                std::strcpy(material.reflectionMap.mapName, "auto");
            else
                std::memcpy(material.reflectionMap.mapName, mapName, std::strlen(mapName) + 1);
            break;
        }
        default:
            break;
        }
        return true;
    });
    if (dropped)
        materials.pop_back();
    else
        material.id = uint32_t(materials.size() - 1);
}

void L3DS::ReadLight(const LChunkInfo& chunk)
{
    if (!budget.Grow(lights) || !TakeName(std::strlen(objectName)))
        return;
    LLight light;
    light.SetName(objectName);
    light.position.x = ReadFloat();
    light.position.y = ReadFloat();
    light.position.z = ReadFloat();
    WalkSubChunks(chunk, [&](const LChunkInfo& s) {
        switch (s.id) {
        case kColorF:
        case kColor24:
        case kLinColor24:
        case kLinColorF:
            light.color = ReadColor(s);
            break;
        case kSpotlight:
            light.target.x = ReadFloat();
            light.target.y = ReadFloat();
            light.target.z = ReadFloat();
            light.hotspot = ReadFloat();
            light.falloff = ReadFloat();
            light.spotlight = true;
            break;
        case kLightInnerRange:
            light.innerRange = ReadFloat();
            break;
        case kLightOuterRange:
            light.outerRange = ReadFloat();
            break;
        default:
            break;
        }
        return true;
    });
    lights.push_back(std::move(light));
}

void L3DS::ReadCamera(const LChunkInfo& chunk)
{
    if (!budget.Grow(cameras) || !TakeName(std::strlen(objectName)))
        return;
    LCamera camera;
    camera.SetName(objectName);
    camera.position.x = ReadFloat();
    camera.position.y = ReadFloat();
    camera.position.z = ReadFloat();
    camera.target.x = ReadFloat();
    camera.target.y = ReadFloat();
    camera.target.z = ReadFloat();
    camera.bank = ReadFloat();
    const float lens = ReadFloat();
    camera.fov = float(2400.0 / lens);
    WalkSubChunks(chunk, [&](const LChunkInfo& s) {
        if (s.id == kCameraRanges) {
            camera.nearPlane = ReadFloat();
            camera.farPlane = ReadFloat();
        }
        return true;
    });
    cameras.push_back(std::move(camera));
}
