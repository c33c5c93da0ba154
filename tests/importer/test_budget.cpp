// What a load may cost: hostile files within the bound, real files far
// below it.
#include "builders.h"

#include <ctime>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <malloc.h>
#include <sys/resource.h>
#include <tempdir.h>
#include <unistd.h>

using namespace t3ds;

namespace {

// The sanitizers' runtime, when it is linked in.
extern "C" void __asan_init() __attribute__((weak));
const bool kSanitized = &__asan_init != nullptr;

// The resident set's peak (VmHWM) since the last reset; a reset first trims
// the heap, so that memory freed before does not hide what a load takes.
uint64_t residentPeak(bool reset)
{
    if (reset && (malloc_trim(0), !(std::ofstream("/proc/self/clear_refs") << "5")))
        return 0;
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stoull(line.substr(6)) * 1024;
    return 0;
}

// A hostile file: small, with counts that claim far more than it holds or
// chunks that make a naive reader repeat work. `before`, `n` times `item`
// and `after` in the editor, then `n` times `node` in the keyframer.
// meshes: what the load gives, -1 when it is refused; large: too slow under the sanitizers.
struct Hostile {
    const char* name;
    int n;
    Section item, before = {}, after = {}, node = {};
    int meshes = -1, materials = 0, large = false;

    Bytes file() const
    {
        return scene([&](ChunkWriter& w) {
            if (before)
                before(w);
            for (int i = 0; i < n; ++i)
                item(w);
            if (after)
                after(w);
        }, [&](ChunkWriter& w) {
            for (int i = 0; node && i < n; ++i)
                node(i ? w : w.begin(0xB000));
            if (node)
                w.end();
        });
    }
};

void claimingObject(ChunkWriter& w)
{
    w.begin(0x4000).str("").begin(0x4100).begin(0x4110).u16(0xFFFF).end().begin(0x4120).u16(0xFFFF).end().end().end();
}

} // namespace

// The files of the bug report, rebuilt. Loads within the budget give the
// scene, the others are refused with the lists empty; either way the peak
// memory stays within the bound and within what the importer accounted, and
// the time is a fraction of a second where it used to be seconds to minutes.
TEST(LoadBudget, HostileFilesStayWithinTheBound)
{
    EXPECT_TRUE(LBudget(100, 10).TakeMemory(100) && LBudget(100, 10).TakeWork(10));  // a budget's limits are allowed
    const Section material = [](ChunkWriter& w) { w.begin(0xAFFF).end(); };
    const Section emptyMesh = [](ChunkWriter& w) { w.begin(0x4000).str("").begin(0x4100).end().end(); };
    const Section node = [](ChunkWriter& w) { w.begin(0xB002).begin(0xB010).str("x").end().end(); };
    const Section smoothing = [](ChunkWriter& w) { w.begin(0x4150).end(); };
    const Section close = [](ChunkWriter& w) { w.end().end().end(); };
    const auto faces = [](int n, int materials) {
        return [=](ChunkWriter& w) {
            for (int i = 0; i < materials; ++i)
                w.begin(0xAFFF).end();
            w.begin(0x4000).str("").begin(0x4100).begin(0x4120).u16(uint16_t(n));
            for (int i = 0; i < n; ++i)
                w.u16(0).u16(1).u16(2).u16(0);
        };
    };
    const Hostile rows[] = {
        {"1 object claiming 65,535 vertices and faces", 1, claimingObject, {}, {}, {}, 1, 0, false},
        {"349,525 empty materials, 2 MB", 349525, material, {}, {}, {}, -1, 0, false},
        {"40k meshes, 40k nodes naming none, 1 MB", 40000, emptyMesh, {}, {}, node, 40000, 0, false},
        {"80k meshes, 80k nodes naming none, 2 MB", 80000, emptyMesh, {}, {}, node, 80000, 0, true},
        {"20k materials, 100k groups naming none", 100000, [](ChunkWriter& w) { w.begin(0x4130).str("x").end(); },
         faces(0, 20000), close, {}, 1, 20000, false},
        {"65,535 faces, 87k smoothing chunks, 1 MB", 87000, smoothing, faces(0xFFFF, 0), close, {}, -1, 0, false},
        {"65,535 faces, 1.66M smoothing chunks, 10.5 MB", 1660000, smoothing, faces(0xFFFF, 0), close, {}, -1, 0, true},
        {"10k vertex lists of 65,535, 80 KB", 10000, [](ChunkWriter& w) { w.begin(0x4110).u16(0xFFFF).end(); },
         [](ChunkWriter& w) { w.begin(0x4000).str("").begin(0x4100); }, [](ChunkWriter& w) { w.end().end(); }},
        {"80k overlapping mesh walks, 1 MB", 80000,
         [](ChunkWriter& w) { w.header(0x4000, 13).str("").header(0x4100, 0x7FFFFFFF); }},
    };
    // Sanitizers add shadow memory, keep freed blocks for a while and slow
    // everything down.
    const double memoryFactor = kSanitized ? 2.0 : 1.0, cpuGuard = kSanitized ? 30.0 : 3.0;
    for (const Hostile& row : rows) {
        SCOPED_TRACE(row.name);
        if (kSanitized && row.large)
            continue;
        const Bytes file = row.file();
        const uint64_t before = residentPeak(true);
        ASSERT_GT(before, 0u) << "the peak of the resident set cannot be reset";
        const std::clock_t start = std::clock();  // the process's processor time
        L3DS importer;
        EXPECT_EQ(load(importer, file), row.meshes >= 0);
        EXPECT_LE(double(std::clock() - start) / CLOCKS_PER_SEC, cpuGuard);
        const double growth = double(residentPeak(false) - before);
        EXPECT_EQ(importer.GetMeshCount(), uint32_t(std::max(row.meshes, 0)));
        EXPECT_EQ(importer.GetMaterialCount(), uint32_t(row.materials));
        EXPECT_LE(growth, memoryFactor * double(L3DS::LoadBudget(file.size()).MemoryLimit() + (4 << 20)));
        EXPECT_LE(growth, memoryFactor * double(importer.LastLoadCost().PeakMemory() + (4 << 20)));
    }
}

// The assimp test models (package assimp-testmodels) and the game's penguin
// load at every level into drawable meshes, far below the budget: in memory
// and in work, splits included, a real file's elements cost a small part of
// what the budget allows per byte.
TEST(LoadBudget, RealFilesLoadDrawableAndCheap)
{
    namespace fs = std::filesystem;
    std::vector<fs::path> files;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/usr/share/assimp/models/3DS", ec)) {
        char id[2] = {};
        if (std::ifstream(entry.path(), std::ios::binary).read(id, 2) && id[0] == 0x4D && id[1] == 0x4D)
            files.push_back(entry.path());  // a 0x4D4D root, whatever the name
    }
    if (files.size() < 9)
        GTEST_SKIP() << "the assimp test models are missing";
    if (const char* source = std::getenv("FLOERUSH_SOURCE_DIR"))
        files.push_back(fs::path(source) / "data" / "penguin.3ds");
    for (int level = 0; level < 3 * int(files.size()); ++level) {
        SCOPED_TRACE(files[level / 3].string() + ", level " + std::to_string(level % 3));
        L3DS importer;
        importer.SetPostProcessLevel(level % 3);
        ASSERT_TRUE(importer.LoadFile(files[level / 3].c_str()) && importer.GetMeshCount() >= 1);
        EXPECT_LE(importer.LastLoadCost().PeakMemory(), L3DS::kMemoryPerByte / 4 * fs::file_size(files[level / 3]));
        EXPECT_LE(importer.LastLoadCost().Work(), L3DS::kWorkPerByte / 8 * fs::file_size(files[level / 3]));
        for (uint32_t i = 0; i < importer.GetMeshCount(); ++i) {
            const LMesh& m = importer.GetMesh(i);
            const size_t n = m.vertices.size();
            bool drawable = m.normals.size() == n && m.texCoords.size() == n && m.tangents.size() == n &&
                            m.binormals.size() == n && m.faceRecords.size() == m.triangles.size();
            for (const LIndexTriangle& t : m.triangles)
                drawable = drawable && t.a < n && t.b < n && t.c < n;
            for (const LVec4& v : m.vertices)
                drawable = drawable && v.w == 1.0f;
            EXPECT_TRUE(drawable) << m.GetName();
        }
    }
}

// Under an address-space limit, allocations fail inside the budget: both
// entries report false with the lists empty, and the process goes on. The
// lists' blocks are mapped on their own, as in a fresh process: after earlier
// tests the heap would otherwise hand out the free space it already holds.
TEST(LoadBudget, AllocationFailureIsReportedAsFalse)
{
    if (kSanitized)
        GTEST_SKIP() << "the sanitizer's allocator reports failed allocations itself";
    TempDir dir;
    const Bytes bomb = Hostile{"", 2000, claimingObject}.file();
    const std::string path = dir.path("bomb.3ds");
    ASSERT_TRUE(filewriters::writeFile(path, bomb));
    EXPECT_EXIT(
        {
            mallopt(M_MMAP_THRESHOLD, 128 << 10);
            malloc_trim(0);
            long pages = 0;
            std::FILE* f = std::fopen("/proc/self/statm", "r");
            if (!f || std::fscanf(f, "%ld", &pages) != 1)
                std::_Exit(5);
            rlimit limit;
            getrlimit(RLIMIT_AS, &limit);
            limit.rlim_cur = rlim_t(pages) * rlim_t(sysconf(_SC_PAGESIZE)) + (8 << 20);
            L3DS importer;
            if (setrlimit(RLIMIT_AS, &limit) != 0 || importer.LoadFile(path.c_str()) || importer.GetMeshCount() ||
                load(importer, bomb) || importer.GetMeshCount() || importer.LastLoadCost().Exceeded())
                std::_Exit(3);
            std::fprintf(stderr, "refused");
            std::_Exit(0);
        },
        ::testing::ExitedWithCode(0), "refused");
}
