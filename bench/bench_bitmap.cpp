// BMP loading against stb_image, and sequential element access against a plain loop.
#include <imagebase>

#include "filewriters/bmpwriter.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#ifdef HAVE_STB_IMAGE
#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_BMP
#include <stb_image.h>
#endif

namespace {

constexpr int kSide = 4096;

// A 4096 x 4096 24-bit picture, written once per run.
const std::string& bigBmp()
{
    static const std::string path = [] {
        filewriters::BmpImage img;
        img.width = kSide;
        img.height = kSide;
        img.pixels.resize(size_t(kSide) * kSide * 3);
        for (size_t i = 0; i < img.pixels.size(); ++i)
            img.pixels[i] = uint8_t(i * 2654435761u >> 24);
        const std::string p = (std::filesystem::temp_directory_path() / "floerush-bench-4096.bmp").string();
        filewriters::writeFile(p, filewriters::encodeBmp(img));
        return p;
    }();
    return path;
}

void BM_BmpLoad_Lumen(benchmark::State& state)
{
    const std::string& path = bigBmp();
    const auto bytes = int64_t(std::filesystem::file_size(path));
    for (auto _ : state) {
        Lumen::Bitmap b;
        if (b.load(path.c_str()) != 1)
            state.SkipWithError("load failed");
        benchmark::DoNotOptimize(b.getData());
    }
    state.SetBytesProcessed(state.iterations() * bytes);
}
BENCHMARK(BM_BmpLoad_Lumen)->Unit(benchmark::kMillisecond)->UseRealTime();

#ifdef HAVE_STB_IMAGE
void BM_BmpLoad_StbImage(benchmark::State& state)
{
    const std::string& path = bigBmp();
    const auto bytes = int64_t(std::filesystem::file_size(path));
    for (auto _ : state) {
        int w = 0, h = 0, n = 0;
        unsigned char* p = stbi_load(path.c_str(), &w, &h, &n, 0);
        if (!p)
            state.SkipWithError("stb_image failed");
        benchmark::DoNotOptimize(p);
        stbi_image_free(p);
    }
    state.SetBytesProcessed(state.iterations() * bytes);
}
BENCHMARK(BM_BmpLoad_StbImage)->Unit(benchmark::kMillisecond)->UseRealTime();
#endif

// 64 MiB of float elements.
Lumen::ImageBase<float>& bigImage()
{
    static Lumen::ImageBase<float> img;
    if (!img.getData()) {
        img.m_verbose = 0;
        img.init(kSide, kSide, 1, 1, 1);
        for (int i = 0; i < img.m_image_size; ++i)
            img.getData()[i] = float(i & 1023);
    }
    return img;
}

void BM_Read_GetNext(benchmark::State& state)
{
    auto& img = bigImage();
    for (auto _ : state) {
        float sum = 0, v;
        img.resetCursor();
        while (img.getNext(v))
            sum += v;
        benchmark::DoNotOptimize(sum);
    }
    state.SetBytesProcessed(state.iterations() * int64_t(img.m_image_size) * 4);
}
BENCHMARK(BM_Read_GetNext)->Unit(benchmark::kMillisecond);

void BM_Read_PlainLoop(benchmark::State& state)
{
    auto& img = bigImage();
    for (auto _ : state) {
        float sum = 0;
        const float* p = img.getData();
        for (int i = 0; i < img.m_image_size; ++i)
            sum += p[i];
        benchmark::DoNotOptimize(sum);
    }
    state.SetBytesProcessed(state.iterations() * int64_t(img.m_image_size) * 4);
}
BENCHMARK(BM_Read_PlainLoop)->Unit(benchmark::kMillisecond);

void BM_Write_SetNext(benchmark::State& state)
{
    auto& img = bigImage();
    for (auto _ : state) {
        img.resetCursor();
        float v = 0;
        while (img.setNext(v))
            v += 1.0f;
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * int64_t(img.m_image_size) * 4);
}
BENCHMARK(BM_Write_SetNext)->Unit(benchmark::kMillisecond);

void BM_Write_PlainLoop(benchmark::State& state)
{
    auto& img = bigImage();
    for (auto _ : state) {
        float* p = img.getData();
        float v = 0;
        for (int i = 0; i < img.m_image_size; ++i, v += 1.0f)
            p[i] = v;
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * int64_t(img.m_image_size) * 4);
}
BENCHMARK(BM_Write_PlainLoop)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
