// Load + level-2 post-processing (normals split by smoothing group, tangents)
// of 3DS files: L3DS against assimp with aiProcess_CalcTangentSpace.
//
// Inputs: every 3DS file of /usr/share/assimp/models/3DS (package
// assimp-testmodels) and a generated scene of 60,000 vertices and 100,000
// faces in 8 smoothing groups. Both importers read the same files from disk
// in every iteration (L3DS/, Assimp/), or the same bytes from memory
// (L3DS_Memory/, Assimp_Memory/: ReadFileFromMemory), which leaves the file
// system out of the measure. L3DS_ParseOnly/ reads and parses without
// post-processing. The target: L3DS at least 8x faster than assimp.
//
// Corpora: Corpus_*/generated loads the 140 files of scene_corpus.h (scenes
// of many small and medium meshes, like real ones) one after the other from
// disk, and Corpus_*/testmodels every assimp test model the same way; the
// sides are L3DS with a fresh importer per file (L3DS_Fresh), L3DS with one
// importer for all files (L3DS_Reused), and assimp likewise; the _Memory
// sides load the same bytes from memory, fresh importers each (no file
// system in the measure). The target:
// L3DS_Fresh at least 12x faster than Assimp_Fresh on both. With
// repetitions, a closing table gives the medians side by side.
#include "scene_corpus.h"

#include <filewriters/chunkwriter.h>
#include <l3ds.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#ifdef HAVE_ASSIMP
#include <assimp/Importer.hpp>
#include <assimp/postprocess.h>
#include <assimp/scene.h>
#endif

namespace fs = std::filesystem;

namespace {

// One grid object: cols x rows vertices, of whose 2 (cols - 1)(rows - 1)
// triangles `wanted` are kept, spread evenly. Smoothing groups by 40 x 40-cell
// blocks cycle through 8 single-bit values. A wavy height field with texture
// coordinates over the whole grid; one material group for every face.
void gridObject(filewriters::ChunkWriter& w, const std::string& name, int cols, int rows, uint32_t wanted,
                float yOffset)
{
    struct Face {
        uint16_t a, b, c;
        uint32_t group;
    };
    const uint32_t gridTriangles = 2u * uint32_t(cols - 1) * uint32_t(rows - 1);
    std::vector<Face> faces;
    faces.reserve(wanted);
    uint32_t t = 0;
    for (int y = 0; y + 1 < rows; ++y)
        for (int x = 0; x + 1 < cols; ++x)
            for (int half = 0; half < 2; ++half, ++t) {
                // Keep triangle t when the running quota steps up.
                if (uint64_t(t + 1) * wanted / gridTriangles == uint64_t(t) * wanted / gridTriangles)
                    continue;
                const uint16_t i = uint16_t(y * cols + x);
                const uint32_t group = 1u << (((x / 40) + 3 * (y / 40)) % 8);
                if (half == 0)
                    faces.push_back({i, uint16_t(i + 1), uint16_t(i + cols + 1), group});
                else
                    faces.push_back({i, uint16_t(i + cols + 1), uint16_t(i + cols), group});
            }

    w.begin(0x4000).str(name).begin(0x4100);
    w.begin(0x4110).u16(uint16_t(cols * rows));
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < cols; ++x)
            w.vec3(float(x), float(y) + yOffset, 3.0f * std::sin(x * 0.07f) * std::cos((y + yOffset) * 0.05f));
    w.end();
    w.begin(0x4140).u16(uint16_t(cols * rows));
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < cols; ++x)
            w.f32(x / float(cols - 1)).f32(y / float(rows - 1));
    w.end();
    w.begin(0x4120).u16(uint16_t(faces.size()));
    for (const Face& f : faces)
        w.u16(f.a).u16(f.b).u16(f.c).u16(7);
    w.begin(0x4130).str("Snow").u16(uint16_t(faces.size()));
    for (size_t i = 0; i < faces.size(); ++i)
        w.u16(uint16_t(i));
    w.end();
    w.begin(0x4150);
    for (const Face& f : faces)
        w.u32(f.group);
    w.end();
    w.end();  // 0x4120
    w.end().end();
}

// 60,000 vertices and 100,000 faces in all. A 3DS mesh holds at most 65,535
// of each, so the scene is two objects of 300 x 100 vertices, 50,000 faces.
filewriters::Bytes generatedScene()
{
    filewriters::ChunkWriter w;
    w.begin(0x4D4D).begin(0x3D3D);
    w.begin(0xAFFF).begin(0xA000).str("Snow").end().end();
    gridObject(w, "GridA", 300, 100, 50000, 0.0f);
    gridObject(w, "GridB", 300, 100, 50000, 99.0f);
    w.end().end();
    filewriters::Bytes bytes = w.bytes();
    bytes.push_back(0);  // the reader never consumes a file's last byte
    return bytes;
}

std::vector<uint8_t> readAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

struct Input {
    std::string name;
    std::string path;
};

std::vector<Input> inputs(const fs::path& generated)
{
    std::vector<Input> list;
    const fs::path models = "/usr/share/assimp/models/3DS";
    std::error_code ec;
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(models, ec)) {
        std::string ext = entry.path().extension().string();
        std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return char(std::tolower(c)); });
        if (entry.is_regular_file() && ext == ".3ds")
            files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    for (const fs::path& f : files)
        list.push_back({f.filename().string(), f.string()});
    list.push_back({"generated_60k_100k", generated.string()});
    return list;
}

void BM_L3DS(benchmark::State& state, const std::string& path)
{
    uint64_t faces = 0;
    for (auto _ : state) {
        L3DS importer;
        if (!importer.LoadFile(path.c_str())) {
            state.SkipWithError("L3DS could not load the file");
            return;
        }
        faces = 0;
        for (uint32_t i = 0; i < importer.GetMeshCount(); ++i)
            faces += importer.GetMesh(i).GetTriangleCount();
        benchmark::DoNotOptimize(importer.GetMeshCount());
    }
    state.counters["faces"] = double(faces);
}

// Reading and parsing only (no post-processing), for reference.
void BM_L3DS_ParseOnly(benchmark::State& state, const std::string& path)
{
    for (auto _ : state) {
        L3DS importer;
        importer.SetPostProcessLevel(-1);
        if (!importer.LoadFile(path.c_str())) {
            state.SkipWithError("L3DS could not load the file");
            return;
        }
        benchmark::DoNotOptimize(importer.GetMeshCount());
    }
}

// The same from bytes already in memory (no file system in the measure).
void BM_L3DS_Memory(benchmark::State& state, const std::string& path)
{
    const std::vector<uint8_t> bytes = readAll(path);
    for (auto _ : state) {
        L3DS importer;
        if (!importer.LoadMemory(bytes.data(), uint32_t(bytes.size()))) {
            state.SkipWithError("L3DS could not load the bytes");
            return;
        }
        benchmark::DoNotOptimize(importer.GetMeshCount());
    }
}

#ifdef HAVE_ASSIMP
void BM_Assimp_Memory(benchmark::State& state, const std::string& path)
{
    const std::vector<uint8_t> bytes = readAll(path);
    Assimp::Importer importer;
    for (auto _ : state) {
        const aiScene* scene = importer.ReadFileFromMemory(bytes.data(), bytes.size(), aiProcess_CalcTangentSpace, "3ds");
        if (!scene) {
            state.SkipWithError(importer.GetErrorString());
            return;
        }
        benchmark::DoNotOptimize(scene);
    }
}

void BM_Assimp(benchmark::State& state, const std::string& path)
{
    Assimp::Importer importer;
    uint64_t faces = 0;
    for (auto _ : state) {
        const aiScene* scene = importer.ReadFile(path, aiProcess_CalcTangentSpace);
        if (!scene) {
            state.SkipWithError(importer.GetErrorString());
            return;
        }
        faces = 0;
        for (unsigned i = 0; i < scene->mNumMeshes; ++i)
            faces += scene->mMeshes[i]->mNumFaces;
        benchmark::DoNotOptimize(scene);
    }
    state.counters["faces"] = double(faces);
}
#endif

// ---------------------------------------------------------------------------
// Corpora: many files in a row.

struct Corpus {
    std::vector<std::string> paths;
    std::vector<std::vector<uint8_t>> contents;  // the files' bytes, for the _Memory sides
    uint64_t bytes = 0;
};

void countResults(benchmark::State& state, const Corpus& corpus, uint64_t meshes, uint64_t faces)
{
    state.counters["files"] = double(corpus.paths.size());
    state.counters["meshes"] = double(meshes);
    state.counters["faces"] = double(faces);
    state.SetBytesProcessed(int64_t(state.iterations() * corpus.bytes));
}

void BM_Corpus_L3DS(benchmark::State& state, const Corpus* corpus, bool reuse)
{
    uint64_t meshes = 0, faces = 0;
    std::unique_ptr<L3DS> kept(reuse ? new L3DS : nullptr);
    for (auto _ : state) {
        meshes = faces = 0;
        for (const std::string& path : corpus->paths) {
            std::unique_ptr<L3DS> fresh(reuse ? nullptr : new L3DS);
            L3DS& importer = reuse ? *kept : *fresh;
            if (!importer.LoadFile(path.c_str())) {
                state.SkipWithError(("L3DS could not load " + path).c_str());
                return;
            }
            meshes += importer.GetMeshCount();
            for (uint32_t i = 0; i < importer.GetMeshCount(); ++i)
                faces += importer.GetMesh(i).GetTriangleCount();
        }
    }
    countResults(state, *corpus, meshes, faces);
}

// The same from bytes already in memory: parsing and post-processing only.
void BM_Corpus_L3DS_Memory(benchmark::State& state, const Corpus* corpus)
{
    uint64_t meshes = 0, faces = 0;
    for (auto _ : state) {
        meshes = faces = 0;
        for (const std::vector<uint8_t>& bytes : corpus->contents) {
            L3DS importer;
            if (!importer.LoadMemory(bytes.data(), uint32_t(bytes.size()))) {
                state.SkipWithError("L3DS could not load the bytes");
                return;
            }
            meshes += importer.GetMeshCount();
            for (uint32_t i = 0; i < importer.GetMeshCount(); ++i)
                faces += importer.GetMesh(i).GetTriangleCount();
        }
    }
    countResults(state, *corpus, meshes, faces);
}

#ifdef HAVE_ASSIMP
// Adds what the scene holds to the counts; a scene that did not load stops
// the benchmark with the peer's own message.
bool countScene(benchmark::State& state, const Assimp::Importer& importer, const aiScene* scene, uint64_t& meshes,
                uint64_t& faces)
{
    if (!scene) {
        state.SkipWithError(importer.GetErrorString());
        return false;
    }
    meshes += scene->mNumMeshes;
    for (unsigned i = 0; i < scene->mNumMeshes; ++i)
        faces += scene->mMeshes[i]->mNumFaces;
    return true;
}

void BM_Corpus_Assimp_Memory(benchmark::State& state, const Corpus* corpus)
{
    uint64_t meshes = 0, faces = 0;
    for (auto _ : state) {
        meshes = faces = 0;
        for (const std::vector<uint8_t>& bytes : corpus->contents) {
            Assimp::Importer importer;
            if (!countScene(state, importer,
                            importer.ReadFileFromMemory(bytes.data(), bytes.size(), aiProcess_CalcTangentSpace, "3ds"),
                            meshes, faces))
                return;
        }
    }
    countResults(state, *corpus, meshes, faces);
}

void BM_Corpus_Assimp(benchmark::State& state, const Corpus* corpus, bool reuse)
{
    uint64_t meshes = 0, faces = 0;
    std::unique_ptr<Assimp::Importer> kept(reuse ? new Assimp::Importer : nullptr);
    for (auto _ : state) {
        meshes = faces = 0;
        for (const std::string& path : corpus->paths) {
            std::unique_ptr<Assimp::Importer> fresh(reuse ? nullptr : new Assimp::Importer);
            Assimp::Importer& importer = reuse ? *kept : *fresh;
            if (!countScene(state, importer, importer.ReadFile(path, aiProcess_CalcTangentSpace), meshes, faces))
                return;
        }
    }
    countResults(state, *corpus, meshes, faces);
}
#endif

// The console output, then the medians of each corpus side by side.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            const std::string name = run.benchmark_name();
            const std::string suffix = "_median";
            if (run.run_type == Run::RT_Aggregate && name.size() > suffix.size() &&
                name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0 &&
                name.compare(0, 7, "Corpus_") == 0)
                m_medians[name.substr(0, name.size() - suffix.size())] = run.GetAdjustedRealTime();
        }
    }
    void Finalize() override
    {
        ConsoleReporter::Finalize();
        if (m_medians.empty())
            return;
        std::printf("\nCorpus loads, median real time in ms (assimp / L3DS):\n");
        std::printf("%-12s %-16s %10s %10s %8s\n", "corpus", "importer", "L3DS", "assimp", "ratio");
        for (const char* corpus : {"generated", "testmodels"})
            for (const char* side : {"Fresh", "Reused", "Memory"}) {
                const double l = median(std::string("Corpus_L3DS_") + side + "/", corpus);
                const double a = median(std::string("Corpus_Assimp_") + side + "/", corpus);
                if (l < 0)
                    continue;
                std::printf("%-12s %-16s %10.3f %10.3f %7.1fx\n", corpus,
                            std::string(side) == "Memory" ? "fresh, in memory" : side, l, a,
                            l > 0 && a > 0 ? a / l : 0.0);
            }
    }

private:
    double median(const std::string& side, const char* corpus) const
    {
        const auto found = m_medians.find(side + corpus);
        return found == m_medians.end() ? -1.0 : found->second;
    }
    std::map<std::string, double> m_medians;
};

} // namespace

int main(int argc, char** argv)
{
#if defined(__GLIBC__)
    // glibc hands large freed blocks back to the system and maps fresh pages
    // for the next load; what that costs depends on the heap's history (the
    // order of the benchmarks) and on the machine (about 45 us per 4 KiB page
    // on the CI virtual machine, where it then dominates a 60,000-vertex load
    // for both importers). Keep freed memory in the process, for both
    // importers alike, so that the numbers measure the importers' own work.
    // FLOERUSH_BENCH_MALLOC_DEFAULTS=1 keeps glibc's defaults.
    if (!std::getenv("FLOERUSH_BENCH_MALLOC_DEFAULTS")) {
        mallopt(M_MMAP_THRESHOLD, 32 << 20);
        mallopt(M_TRIM_THRESHOLD, 1 << 30);
    }
#endif
    const fs::path generated = fs::temp_directory_path() / "floerush-bench-importer-generated.3ds";
    if (!filewriters::writeFile(generated.string(), generatedScene())) {
        std::fprintf(stderr, "cannot write %s\n", generated.c_str());
        return 1;
    }
    // The generated corpus, written to a folder of its own.
    const fs::path corpusDir = fs::temp_directory_path() / "floerush-bench-importer-corpus";
    std::error_code ec;
    fs::remove_all(corpusDir, ec);
    fs::create_directories(corpusDir, ec);
    Corpus generatedCorpus, modelCorpus;
    for (const corpus::File& file : corpus::generate()) {
        const fs::path path = corpusDir / file.name;
        if (!filewriters::writeFile(path.string(), file.bytes)) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            return 1;
        }
        generatedCorpus.paths.push_back(path.string());
        generatedCorpus.contents.push_back(file.bytes);
        generatedCorpus.bytes += file.bytes.size();
    }
    const std::vector<Input> singles = inputs(generated);
    for (const Input& in : singles)
        if (in.path != generated.string()) {
            modelCorpus.paths.push_back(in.path);
            modelCorpus.contents.push_back(readAll(in.path));
            modelCorpus.bytes += modelCorpus.contents.back().size();
        }
    for (const auto& [name, corpus] : {std::pair<const char*, const Corpus*>{"generated", &generatedCorpus},
                                       std::pair<const char*, const Corpus*>{"testmodels", &modelCorpus}}) {
        if (corpus->paths.empty()) {
            std::fprintf(stderr, "no %s files: that corpus is skipped\n", name);
            continue;
        }
        const std::string n = name;
        benchmark::RegisterBenchmark(("Corpus_L3DS_Fresh/" + n).c_str(), BM_Corpus_L3DS, corpus, false)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("Corpus_L3DS_Reused/" + n).c_str(), BM_Corpus_L3DS, corpus, true)
            ->Unit(benchmark::kMillisecond);
#ifdef HAVE_ASSIMP
        benchmark::RegisterBenchmark(("Corpus_Assimp_Fresh/" + n).c_str(), BM_Corpus_Assimp, corpus, false)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("Corpus_Assimp_Reused/" + n).c_str(), BM_Corpus_Assimp, corpus, true)
            ->Unit(benchmark::kMillisecond);
#endif
        benchmark::RegisterBenchmark(("Corpus_L3DS_Memory/" + n).c_str(), BM_Corpus_L3DS_Memory, corpus)
            ->Unit(benchmark::kMillisecond);
#ifdef HAVE_ASSIMP
        benchmark::RegisterBenchmark(("Corpus_Assimp_Memory/" + n).c_str(), BM_Corpus_Assimp_Memory, corpus)
            ->Unit(benchmark::kMillisecond);
#endif
    }

    for (const Input& in : singles) {
        benchmark::RegisterBenchmark(("L3DS/" + in.name).c_str(), BM_L3DS, in.path)->Unit(benchmark::kMicrosecond);
#ifdef HAVE_ASSIMP
        benchmark::RegisterBenchmark(("Assimp/" + in.name).c_str(), BM_Assimp, in.path)->Unit(benchmark::kMicrosecond);
#endif
        benchmark::RegisterBenchmark(("L3DS_Memory/" + in.name).c_str(), BM_L3DS_Memory, in.path)
            ->Unit(benchmark::kMicrosecond);
#ifdef HAVE_ASSIMP
        benchmark::RegisterBenchmark(("Assimp_Memory/" + in.name).c_str(), BM_Assimp_Memory, in.path)
            ->Unit(benchmark::kMicrosecond);
#endif
        benchmark::RegisterBenchmark(("L3DS_ParseOnly/" + in.name).c_str(), BM_L3DS_ParseOnly, in.path)
            ->Unit(benchmark::kMicrosecond);
    }
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    fs::remove(generated, ec);
    fs::remove_all(corpusDir, ec);
    return 0;
}
