// What a load may cost: the budget's accounting, hostile files within the
// bound, allocation failures as false, and a reused importer that gives and
// pays what a fresh one does.
#include "builders.h"

#include <tempdir.h>

#include <cstdio>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
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

// Small files whose counts claim far more than they hold, or whose chunks
// make a naive reader repeat work: `n` of one item in the editor (or the
// keyframer).
Bytes hostile(int n, const Section& item, const Section& before = {}, const Section& after = {})
{
    return scene([&](ChunkWriter& w) {
        if (before)
            before(w);
        for (int i = 0; i < n; ++i)
            item(w);
        if (after)
            after(w);
    });
}
void claimingObject(ChunkWriter& w)
{
    w.begin(0x4000).str("").begin(0x4100).begin(0x4110).u16(0xFFFF).end().begin(0x4120).u16(0xFFFF).end().end().end();
}
Bytes unmatchedNodes(int n)
{
    return scene([&](ChunkWriter& w) {
        for (int i = 0; i < n; ++i)
            w.begin(0x4000).str("").begin(0x4100).end().end();
    }, [&](ChunkWriter& w) {
        w.begin(0xB000);
        for (int i = 0; i < n; ++i)
            w.begin(0xB002).begin(0xB010).str("x").end().end();
        w.end();
    });
}
Section openFaces(int faces)
{
    return [=](ChunkWriter& w) {
        w.begin(0x4000).str("").begin(0x4100).begin(0x4120).u16(uint16_t(faces));
        for (int i = 0; i < faces; ++i)
            w.u16(0).u16(1).u16(2).u16(0);
    };
}
void closeFaces(ChunkWriter& w) { w.end().end().end(); }

// One load in a forked child, its heap trimmed and its peak resident set
// reset first, so that getrusage gives the load's own peak.
struct Outcome {
    bool ran = false, loaded = false;
    uint32_t meshes = 0, materials = 0;
    uint64_t size = 0, peakGrowth = 0, accountedPeak = 0;
    double cpu = 0;
};

double cpuSeconds(const rusage& r)
{
    return double(r.ru_utime.tv_sec + r.ru_stime.tv_sec) + double(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
}

Outcome loadInChild(const std::function<Bytes()>& make)
{
    int fds[2];
    if (pipe(fds) != 0)
        return {};
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        Outcome out;
        const Bytes bytes = make();
        out.size = bytes.size();
        malloc_trim(0);
        std::FILE* clear = std::fopen("/proc/self/clear_refs", "w");
        out.ran = clear && std::fputs("5", clear) >= 0 && std::fclose(clear) == 0;
        long pages = 0, resident = 0;
        std::FILE* statm = std::fopen("/proc/self/statm", "r");
        out.ran = out.ran && statm && std::fscanf(statm, "%ld %ld", &pages, &resident) == 2 && !std::fclose(statm);
        const uint64_t before = uint64_t(resident) * uint64_t(sysconf(_SC_PAGESIZE));
        rusage start, end;
        getrusage(RUSAGE_SELF, &start);
        L3DS importer;
        out.loaded = load(importer, bytes);
        getrusage(RUSAGE_SELF, &end);
        out.meshes = importer.GetMeshCount();
        out.materials = importer.GetMaterialCount();
        out.accountedPeak = importer.LastLoadCost().PeakMemory();
        const uint64_t peak = uint64_t(end.ru_maxrss) * 1024;
        out.peakGrowth = peak > before ? peak - before : 0;
        out.cpu = cpuSeconds(end) - cpuSeconds(start);
        _exit(write(fds[1], &out, sizeof out) == ssize_t(sizeof out) ? 0 : 2);
    }
    close(fds[1]);
    Outcome out;
    const bool got = read(fds[0], &out, sizeof out) == ssize_t(sizeof out);
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    out.ran = out.ran && got && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return out;
}

} // namespace

TEST(LoadBudget, AccountsAndRefusesForGood)
{
    LBudget budget(1300, 10);
    std::vector<uint32_t> list;
    EXPECT_TRUE(budget.Reserve(list, 100));
    EXPECT_EQ(list.capacity(), 100u);
    EXPECT_TRUE(budget.Reserve(list, 50));  // room enough: nothing taken
    EXPECT_EQ(budget.MemoryHeld(), LBudget::BlockBytes(400));
    list.resize(100);
    EXPECT_TRUE(budget.Grow(list));  // 200 elements, while the old 100 are held
    EXPECT_EQ(list.capacity(), 200u);
    EXPECT_EQ(budget.MemoryHeld(), LBudget::BlockBytes(800));
    EXPECT_EQ(budget.PeakMemory(), LBudget::BlockBytes(400) + LBudget::BlockBytes(800));
    EXPECT_TRUE(budget.TakeWork(10));
    EXPECT_FALSE(budget.Exceeded());
    EXPECT_FALSE(budget.TakeWork(1));
    EXPECT_TRUE(budget.Exceeded());
    EXPECT_EQ(budget.Work(), 10u);
    budget.GiveMemory(budget.MemoryHeld());
    EXPECT_FALSE(budget.TakeMemory(0) || budget.TakeWork(0) || budget.Reserve(list, 1000));  // refused for good
    EXPECT_EQ(list.capacity(), 200u);
    LBudget tight(100, 100), exact(100, 100), unlimited;
    EXPECT_FALSE(tight.TakeMemory(101));
    EXPECT_EQ(tight.MemoryHeld(), 0u);
    EXPECT_TRUE(exact.TakeMemory(100) && exact.MemoryHeld() == 100);
    EXPECT_TRUE(unlimited.TakeMemory(uint64_t(1) << 62) && unlimited.TakeWork(uint64_t(1) << 62));
}

// The files of the bug report, rebuilt. Loads within the budget give the
// scene, the others are refused with the lists empty; either way the peak
// memory stays within the bound and within what the importer accounted, and
// the time is a fraction of a second where it used to be seconds to minutes.
TEST(LoadBudget, HostileFilesStayWithinTheBound)
{
    constexpr int kRefused = -1;
    const struct {
        const char* name;
        std::function<Bytes()> make;
        int meshes;  // kRefused: the load returns false
        int materials;
        bool large;  // too slow under the sanitizers
    } rows[] = {
        {"1 object claiming 65,535 vertices and faces", [] { return hostile(1, claimingObject); }, 1, 0, false},
        {"100 such objects, 2.9 KB", [] { return hostile(100, claimingObject); }, kRefused, 0, false},
        {"2,000 such objects, 58 KB", [] { return hostile(2000, claimingObject); }, kRefused, 0, false},
        {"349,525 empty materials, 2 MB", [] { return hostile(349525, [](ChunkWriter& w) { w.begin(0xAFFF).end(); }); },
         kRefused, 0, false},
        {"40k meshes, 40k unmatched nodes, 1 MB", [] { return unmatchedNodes(40000); }, 40000, 0, false},
        {"80k meshes, 80k unmatched nodes, 2 MB", [] { return unmatchedNodes(80000); }, 80000, 0, true},
        {"20k materials, 100k unmatched groups", [] {
             return hostile(100000, [](ChunkWriter& w) { w.begin(0x4130).str("x").end(); }, [](ChunkWriter& w) {
                 for (int i = 0; i < 20000; ++i)
                     w.begin(0xAFFF).end();
                 openFaces(0)(w);
             }, closeFaces);
         }, 1, 20000, false},
        {"65,535 faces, 87k smoothing chunks, 1 MB",
         [] { return hostile(87000, [](ChunkWriter& w) { w.begin(0x4150).end(); }, openFaces(0xFFFF), closeFaces); },
         kRefused, 0, false},
        {"65,535 faces, 1.66M smoothing chunks, 10.5 MB",
         [] { return hostile(1660000, [](ChunkWriter& w) { w.begin(0x4150).end(); }, openFaces(0xFFFF), closeFaces); },
         kRefused, 0, true},
        {"10k vertex lists of 65,535, 80 KB", [] {
             return hostile(10000, [](ChunkWriter& w) { w.begin(0x4110).u16(0xFFFF).end(); },
                            [](ChunkWriter& w) { w.begin(0x4000).str("").begin(0x4100); },
                            [](ChunkWriter& w) { w.end().end(); });
         }, kRefused, 0, false},
        {"80k overlapping mesh walks, 1 MB",
         [] { return hostile(80000, [](ChunkWriter& w) { w.header(0x4000, 13).str("").header(0x4100, 0x7FFFFFFF); }); },
         kRefused, 0, false},
    };
    // Sanitizers add shadow memory, keep freed blocks for a while and slow
    // everything down.
    const double memoryFactor = kSanitized ? 2.0 : 1.0, cpuGuard = kSanitized ? 30.0 : 3.0;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        if (kSanitized && row.large)
            continue;
        const Outcome out = loadInChild(row.make);
        ASSERT_TRUE(out.ran) << "the child did not finish or could not reset its peak";
        EXPECT_EQ(out.loaded, row.meshes != kRefused);
        EXPECT_EQ(out.meshes, row.meshes == kRefused ? 0u : uint32_t(row.meshes));
        EXPECT_EQ(out.materials, uint32_t(row.materials));
        EXPECT_LE(double(out.peakGrowth), memoryFactor * double(L3DS::LoadBudget(out.size).MemoryLimit() + 4 * kMiB));
        EXPECT_LE(double(out.peakGrowth), memoryFactor * double(out.accountedPeak + 4 * kMiB));
        EXPECT_LE(out.cpu, cpuGuard);
    }
}

// Under an address-space limit allocations fail inside the budget (which is
// not exceeded): both entries report false with the lists empty.
TEST(LoadBudget, AllocationFailureIsReportedAsFalse)
{
    if (kSanitized)
        GTEST_SKIP() << "the sanitizer's allocator reports failed allocations itself";
    TempDir dir;
    const Bytes bomb = hostile(2000, claimingObject);
    const std::string path = dir.path("bomb.3ds");
    ASSERT_TRUE(filewriters::writeFile(path, bomb));
    EXPECT_EXIT(
        {
            rlimit limit;
            getrlimit(RLIMIT_AS, &limit);
            long pages = 0;
            std::FILE* f = std::fopen("/proc/self/statm", "r");
            if (!f || std::fscanf(f, "%ld", &pages) != 1)
                std::_Exit(5);
            std::fclose(f);
            limit.rlim_cur = rlim_t(pages) * rlim_t(sysconf(_SC_PAGESIZE)) + 8 * kMiB;
            if (setrlimit(RLIMIT_AS, &limit) != 0)
                std::_Exit(6);
            L3DS importer;
            for (int entry = 0; entry < 2; ++entry)
                if ((entry ? load(importer, bomb) : importer.LoadFile(path.c_str())) || importer.GetMeshCount() ||
                    importer.LastLoadCost().Exceeded())
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
    const Bytes large = meshes({grid("Large", 120, 90, 5), grid("Second", 40, 30, 3)});
    const Bytes small = meshes({grid("Small", 4, 3, 2)});
    const Bytes truncated(large.begin(), large.begin() + long(large.size() / 3));
    const MeshSpec g = grid("Odd", 6, 5, 2);
    const Bytes odd = scene([&](ChunkWriter& w) {  // orders decoded as they come
        w.begin(0x4000).str("UvFirst").begin(0x4100);
        uvList(w, g.uvs);
        vertexList(w, g.vertices);
        faceList(w, g);
        w.end().end().begin(0x4000).str("TwoLists").begin(0x4100);
        vertexList(w, {{1, 2, 3}, {4, 5, 6}});
        uvList(w, {{0.5f, 0.5f}});
        vertexList(w, g.vertices);
        uvList(w, g.uvs);
        faceList(w, g);
        w.end().end();
    });
    const Bytes cubes = meshes({cube(), grid("Flat", 8, 8, 1), cube()});
    const struct {
        const char* name;
        std::vector<const Bytes*> files;  // loaded in this order by one importer
    } rows[] = {
        {"large, then small", {&large, &small}},
        {"small, then large, then small", {&small, &large, &small}},
        {"truncated, then whole", {&truncated, &large}},
        {"unusual chunk orders among usual ones", {&large, &odd, &cubes, &odd}},
    };
    TempDir dir;
    for (const auto& row : rows) {
        for (int level : {2, 1, 0}) {
            SCOPED_TRACE(std::string(row.name) + ", level " + std::to_string(level));
            L3DS reused;
            reused.SetPostProcessLevel(level);
            for (size_t k = 0; k < row.files.size(); ++k) {
                SCOPED_TRACE(k);
                const std::string path = dir.path("f" + std::to_string(k) + ".3ds");
                ASSERT_TRUE(filewriters::writeFile(path, *row.files[k]));
                L3DS fresh;
                fresh.SetPostProcessLevel(level);
                ASSERT_TRUE(fresh.LoadFile(path.c_str()) && reused.LoadFile(path.c_str()));
                ASSERT_EQ(reused.GetMeshCount(), fresh.GetMeshCount());
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
    } steps[] = {
        {true, 0, 100, b + 100, false},  {false, 0, 60, b + 100, true},      {false, 0, 9000, b + 9000, false},
        {false, 1, 10, 2 * b + 9010, false}, {true, 0, 100, b + 100, true},  {false, 0, 8000, b + 8000, true},
        {false, 2, 0, 2 * b + 8000, false},
    };
    LWorkspace workspace;
    LBudget budget;
    void* last[LWorkspace::kBlocks] = {};
    for (const auto& s : steps) {
        SCOPED_TRACE(&s - steps);
        if (s.newJob) {
            budget = LBudget();
            workspace.StartJob();
        }
        void* p = workspace.Get(s.block, s.bytes, budget);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 16, 0u);
        EXPECT_GE(workspace.Capacity(s.block), s.bytes);
        EXPECT_EQ(budget.MemoryHeld(), s.held);
        EXPECT_TRUE(!s.kept || p == last[s.block]);
        std::memset(p, 0xAB, s.bytes);  // the whole block is there (for the sanitizers)
        last[s.block] = p;
    }
    LBudget tight(LBudget::BlockBytes(50), 100);
    workspace.StartJob();
    EXPECT_NE(workspace.Get(1, 50, tight), nullptr);
    EXPECT_EQ(workspace.Get(1, 51, tight), nullptr);
    EXPECT_TRUE(tight.Exceeded());
}
