// What a load may cost: the budget's accounting, hostile files within the
// bound, allocation failures as false, a reused importer that gives and pays
// what a fresh one does, and real files far below the bound.
#include "builders.h"

#include <tempdir.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

using namespace t3ds;

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

constexpr uint64_t kMiB = uint64_t(1) << 20;

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

double cpuSeconds()
{
    rusage r;
    getrusage(RUSAGE_SELF, &r);
    return double(r.ru_utime.tv_sec + r.ru_stime.tv_sec) + double(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
}

// A hostile file: small, with counts that claim far more than it holds or
// chunks that make a naive reader repeat work. `before`, `n` times `item`
// and `after` in the editor, then `n` times `node` in the keyframer.
struct Hostile {
    const char* name;
    int n;
    Section item, before = {}, after = {}, node = {};
    int meshes = -1;  // -1: the load is refused
    int materials = 0;
    bool large = false;  // too slow under the sanitizers

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

TEST(LoadBudget, AccountsAndRefusesForGood)
{
    LBudget budget(1300, 10), tight(100, 100), exact(100, 100), unlimited;
    std::vector<uint32_t> list;
    EXPECT_TRUE(budget.Reserve(list, 100) && list.capacity() == 100);
    EXPECT_TRUE(budget.Reserve(list, 50) && budget.MemoryHeld() == LBudget::BlockBytes(400));  // room enough
    list.resize(100);
    EXPECT_TRUE(budget.Grow(list) && list.capacity() == 200);  // while the old 100 are held
    EXPECT_EQ(budget.MemoryHeld(), LBudget::BlockBytes(800));
    EXPECT_EQ(budget.PeakMemory(), LBudget::BlockBytes(400) + LBudget::BlockBytes(800));
    EXPECT_TRUE(budget.TakeWork(10) && !budget.Exceeded());
    EXPECT_TRUE(!budget.TakeWork(1) && budget.Exceeded() && budget.Work() == 10);
    budget.GiveMemory(budget.MemoryHeld());
    EXPECT_FALSE(budget.TakeMemory(0) || budget.TakeWork(0) || budget.Reserve(list, 1000));  // refused for good
    EXPECT_EQ(list.capacity(), 200u);
    EXPECT_TRUE(!tight.TakeMemory(101) && tight.MemoryHeld() == 0 && exact.TakeMemory(100) && exact.MemoryHeld() == 100);
    EXPECT_TRUE(unlimited.TakeMemory(uint64_t(1) << 62) && unlimited.TakeWork(uint64_t(1) << 62));
}

// The files of the bug report, rebuilt. Loads within the budget give the
// scene, the others are refused with the lists empty; either way the peak
// memory stays within the bound and within what the importer accounted, and
// the time is a fraction of a second where it used to be seconds to minutes.
TEST(LoadBudget, HostileFilesStayWithinTheBound)
{
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
        {"100 such objects, 2.9 KB", 100, claimingObject, {}, {}, {}, -1, 0, false},
        {"2,000 such objects, 58 KB", 2000, claimingObject, {}, {}, {}, -1, 0, false},
        {"349,525 empty materials, 2 MB", 349525, material, {}, {}, {}, -1, 0, false},
        {"40k meshes, 40k nodes naming none, 1 MB", 40000, emptyMesh, {}, {}, node, 40000, 0, false},
        {"80k meshes, 80k nodes naming none, 2 MB", 80000, emptyMesh, {}, {}, node, 80000, 0, true},
        {"20k materials, 100k groups naming none", 100000, [](ChunkWriter& w) { w.begin(0x4130).str("x").end(); },
         faces(0, 20000), close, {}, 1, 20000, false},
        {"65,535 faces, 87k smoothing chunks, 1 MB", 87000, smoothing, faces(0xFFFF, 0), close, {}, -1, 0, false},
        {"65,535 faces, 1.66M smoothing chunks, 10.5 MB", 1660000, smoothing, faces(0xFFFF, 0), close, {}, -1, 0, true},
        {"10k vertex lists of 65,535, 80 KB", 10000, [](ChunkWriter& w) { w.begin(0x4110).u16(0xFFFF).end(); },
         [](ChunkWriter& w) { w.begin(0x4000).str("").begin(0x4100); }, [](ChunkWriter& w) { w.end().end(); }, {}, -1,
         0, false},
        {"80k overlapping mesh walks, 1 MB", 80000,
         [](ChunkWriter& w) { w.header(0x4000, 13).str("").header(0x4100, 0x7FFFFFFF); }, {}, {}, {}, -1, 0, false},
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
        const double start = cpuSeconds();
        L3DS importer;
        EXPECT_EQ(load(importer, file), row.meshes >= 0);
        EXPECT_LE(cpuSeconds() - start, cpuGuard);
        const double growth = double(residentPeak(false) - before);
        EXPECT_EQ(importer.GetMeshCount(), uint32_t(std::max(row.meshes, 0)));
        EXPECT_EQ(importer.GetMaterialCount(), uint32_t(row.materials));
        EXPECT_LE(growth, memoryFactor * double(L3DS::LoadBudget(file.size()).MemoryLimit() + 4 * kMiB));
        EXPECT_LE(growth, memoryFactor * double(importer.LastLoadCost().PeakMemory() + 4 * kMiB));
    }
}

// Under an address-space limit allocations fail inside the budget (which is
// not exceeded): both entries report false with the lists empty.
TEST(LoadBudget, AllocationFailureIsReportedAsFalse)
{
    if (kSanitized)
        GTEST_SKIP() << "the sanitizer's allocator reports failed allocations itself";
    GTEST_FLAG_SET(death_test_style, "threadsafe");  // a fresh process: no heap left over by other tests
    TempDir dir;
    const Bytes bomb = Hostile{"", 2000, claimingObject}.file();
    const std::string path = dir.path("bomb.3ds");
    ASSERT_TRUE(filewriters::writeFile(path, bomb));
    EXPECT_EXIT(
        {
            rlimit limit;
            getrlimit(RLIMIT_AS, &limit);
            long pages = 0;
            std::FILE* f = std::fopen("/proc/self/statm", "r");
            if (!f || std::fscanf(f, "%ld", &pages) != 1 || std::fclose(f))
                std::_Exit(5);
            limit.rlim_cur = rlim_t(pages) * rlim_t(sysconf(_SC_PAGESIZE)) + 8 * kMiB;
            L3DS importer;
            for (int entry = 0; entry < 2; ++entry)
                if (setrlimit(RLIMIT_AS, &limit) || (entry ? load(importer, bomb) : importer.LoadFile(path.c_str())) ||
                    importer.GetMeshCount() || importer.LastLoadCost().Exceeded())
                    std::_Exit(3 + entry);
            std::fprintf(stderr, "refused");
            std::_Exit(0);
        },
        ::testing::ExitedWithCode(0), "refused");
}

// Whatever an importer loaded before, a load gives what a fresh importer
// gives, does the same work and holds no more memory.
TEST(LoadBudget, AReusedImporterGivesAndPaysWhatAFreshOneDoes)
{
    const Bytes large = meshes({grid("Large", 120, 90, 5), grid("Second", 40, 30, 3)}), small = meshes({grid("S", 4, 3, 2)});
    const Bytes truncated(large.begin(), large.begin() + long(large.size() / 3)), cubes = meshes({cube(), cube()});
    const MeshSpec g = grid("Odd", 6, 5, 2);
    const Bytes odd = scene([&](ChunkWriter& w) {  // texture coordinates first, two vertex lists: decoded as they come
        floatList(w.begin(0x4000).str("UvFirst").begin(0x4100), 0x4140, g.uvs);
        floatList(w, 0x4110, g.vertices);
        faceList(w, g);
        floatList<3>(w.end().end().begin(0x4000).str("TwoLists").begin(0x4100), 0x4110, {{1, 2, 3}, {4, 5, 6}});
        floatList(w, 0x4110, g.vertices);
        floatList(w, 0x4140, g.uvs);
        faceList(w, g);
        w.end().end();
    });
    const std::vector<const Bytes*> sequences[] = {{&large, &small, &large}, {&truncated, &large}, {&large, &odd, &cubes, &odd}};
    TempDir dir;
    for (const auto& files : sequences) {
        for (int level : {2, 1, 0}) {
            L3DS reused;
            reused.SetPostProcessLevel(level);
            for (size_t k = 0; k < files.size(); ++k) {
                SCOPED_TRACE("sequence " + std::to_string(&files - sequences) + ", level " + std::to_string(level) +
                             ", file " + std::to_string(k));
                L3DS fresh;
                fresh.SetPostProcessLevel(level);
                ASSERT_TRUE(filewriters::writeFile(dir.path("f"), *files[k]) && fresh.LoadFile(dir.path("f").c_str()) &&
                            reused.LoadFile(dir.path("f").c_str()) && reused.GetMeshCount() == fresh.GetMeshCount());
                for (uint32_t i = 0; i < fresh.GetMeshCount(); ++i)
                    EXPECT_TRUE(sameMesh(reused.GetMesh(i), fresh.GetMesh(i))) << i;
                EXPECT_EQ(reused.LastLoadCost().Work(), fresh.LastLoadCost().Work());
                EXPECT_LE(reused.LastLoadCost().PeakMemory(), fresh.LastLoadCost().PeakMemory());
            }
        }
    }
}

// A job pays for the largest block it asked of each block number, not for
// what earlier jobs left; a block that is large enough is handed out again.
TEST(LoadBudget, WorkspaceChargesEachJobForWhatItAsks)
{
    const uint64_t b = LBudget::BlockBytes(0);
    const struct {
        bool newJob;
        int block;
        size_t bytes;
        uint64_t held;  // the job's budget afterwards
        bool kept;      // the block handed out last is handed out again
    } steps[] = {{true, 0, 100, b + 100, false},      {false, 0, 60, b + 100, true}, {false, 0, 9000, b + 9000, false},
                 {false, 1, 10, 2 * b + 9010, false}, {true, 0, 100, b + 100, true}, {false, 0, 8000, b + 8000, true},
                 {false, 2, 0, 2 * b + 8000, false}};
    LWorkspace workspace;
    LBudget budget, tight(LBudget::BlockBytes(50), 100);
    void* last[LWorkspace::kBlocks] = {};
    for (const auto& s : steps) {
        if (s.newJob)
            budget = LBudget(), workspace.StartJob();
        void* p = workspace.Get(s.block, s.bytes, budget);
        ASSERT_NE(p, nullptr) << &s - steps;
        EXPECT_TRUE(reinterpret_cast<uintptr_t>(p) % 16 == 0 && workspace.Capacity(s.block) >= s.bytes) << &s - steps;
        EXPECT_TRUE(budget.MemoryHeld() == s.held && (!s.kept || p == last[s.block])) << &s - steps;
        std::memset(p, 0xAB, s.bytes);  // the whole block is there (for the sanitizers)
        last[s.block] = p;
    }
    workspace.StartJob();
    EXPECT_NE(workspace.Get(1, 50, tight), nullptr);
    EXPECT_TRUE(workspace.Get(1, 51, tight) == nullptr && tight.Exceeded());
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
    for (const fs::path& path : files) {
        for (int level : {2, 1, 0}) {
            SCOPED_TRACE(path.string() + ", level " + std::to_string(level));
            L3DS importer;
            importer.SetPostProcessLevel(level);
            ASSERT_TRUE(importer.LoadFile(path.c_str()) && importer.GetMeshCount() >= 1);
            EXPECT_LE(importer.LastLoadCost().PeakMemory(), L3DS::kMemoryPerByte / 4 * fs::file_size(path));
            EXPECT_LE(importer.LastLoadCost().Work(), L3DS::kWorkPerByte / 8 * fs::file_size(path));
            for (uint32_t i = 0; i < importer.GetMeshCount(); ++i) {
                const LMesh& m = importer.GetMesh(i);
                const size_t n = m.vertices.size();
                EXPECT_TRUE(m.normals.size() == n && m.texCoords.size() == n && m.tangents.size() == n &&
                            m.binormals.size() == n && m.faceRecords.size() == m.triangles.size());
                for (const LIndexTriangle& t : m.triangles)
                    ASSERT_TRUE(t.a < n && t.b < n && t.c < n);
                for (const LVec4& v : m.vertices)
                    ASSERT_EQ(v.w, 1.0f);
            }
        }
    }
}
