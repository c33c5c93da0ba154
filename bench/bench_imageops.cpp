// Processing operations on a 2048 x 2048 one-channel image, float and short:
// Lumen's against OpenCV's equivalents, both on one thread. Outputs are made
// once outside the timed loop where the operation accepts one; where it makes
// its own, the peer makes a new one in the loop too.
#include <imagebase>

#include <benchmark/benchmark.h>

#include <memory>
#include <random>
#include <vector>

#if HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace {

constexpr int kSide = 2048;

template <class T>
int typeCode();
template <>
int typeCode<float>()
{
    return Lumen::TypeFloat;
}
template <>
int typeCode<short>()
{
    return Lumen::TypeShort;
}

template <class T>
std::unique_ptr<Lumen::ImageBase<T>> makeImage()
{
    auto image = std::make_unique<Lumen::ImageBase<T>>();
    image->init(kSide, kSide, 1, 1, 1);
    image->m_verbose = 0;
    std::mt19937 rng(1);
    std::uniform_int_distribution<int> values(-1000, 1000);
    for (int i = 0; i < image->m_image_size; ++i)
        image->m_data[i] = T(values(rng));
    return image;
}

// A smoothing kernel with every entry non-zero, so that no tap is skipped.
std::vector<float> kernel(int w)
{
    std::vector<float> k(size_t(w) * w);
    for (int j = 0; j < w; ++j)
        for (int i = 0; i < w; ++i)
            k[size_t(j) * w + i] = float((1 + i) * (w - i) * (1 + j) * (w - j)) / 64.0f;
    return k;
}

template <class T>
void lumenFilter(benchmark::State& state)
{
    const int w = int(state.range(0));
    auto image = makeImage<T>();
    Lumen::ImageBase<T> out;
    out.init(kSide, kSide, 1, 1, 1);
    const auto k = kernel(w);
    for (auto _ : state)
        benchmark::DoNotOptimize(image->filter(typeCode<T>(), k.data(), w, &out));
}

template <class T>
void lumenGradient(benchmark::State& state)
{
    auto image = makeImage<T>();
    Lumen::ImageBase<T> out;
    out.init(kSide, kSide, 1, 1, 2);
    for (auto _ : state)
        benchmark::DoNotOptimize(image->gradient(typeCode<T>(), nullptr, true, &out));
}

template <class T>
void lumenDownsample(benchmark::State& state)
{
    auto image = makeImage<T>();
    for (auto _ : state)
        delete image->downsample(2, 2, 1, 1, true);
}

template <class T>
void lumenFlip(benchmark::State& state)
{
    auto image = makeImage<T>();
    for (auto _ : state) {
        image->flip(true, false, false, false);
        benchmark::DoNotOptimize(image->m_data);
    }
}

template <class T>
void lumenRotate(benchmark::State& state)
{
    auto image = makeImage<T>();
    for (auto _ : state) {
        image->rotate(2);
        benchmark::DoNotOptimize(image->m_data);
    }
}

#define LUMEN_BENCH(fn, T) BENCHMARK_TEMPLATE(fn, T)->Unit(benchmark::kMillisecond)
LUMEN_BENCH(lumenFilter, float)->Arg(3)->Arg(5);
LUMEN_BENCH(lumenFilter, short)->Arg(3)->Arg(5);
LUMEN_BENCH(lumenGradient, float);
LUMEN_BENCH(lumenGradient, short);
LUMEN_BENCH(lumenDownsample, float);
LUMEN_BENCH(lumenDownsample, short);
LUMEN_BENCH(lumenFlip, float);
LUMEN_BENCH(lumenFlip, short);
LUMEN_BENCH(lumenRotate, float);
LUMEN_BENCH(lumenRotate, short);

#if HAVE_OPENCV
template <class T>
cv::Mat makeMat()
{
    auto image = makeImage<T>();
    return cv::Mat(kSide, kSide, cv::DataType<T>::type, image->m_data).clone();
}

template <class T>
void opencvFilter(benchmark::State& state)
{
    const int w = int(state.range(0));
    const cv::Mat src = makeMat<T>();
    const auto k = kernel(w);
    const cv::Mat kmat(w, w, CV_32F, const_cast<float*>(k.data()));
    cv::Mat dst(src.size(), src.type());
    for (auto _ : state)
        cv::filter2D(src, dst, -1, kmat, cv::Point(-1, -1), 0, cv::BORDER_REPLICATE);
}

template <class T>
void opencvGradient(benchmark::State& state)
{
    const cv::Mat src = makeMat<T>();
    cv::Mat dx(src.size(), src.type()), dy(src.size(), src.type());
    for (auto _ : state) {
        cv::Sobel(src, dx, src.depth(), 1, 0, 3);
        cv::Sobel(src, dy, src.depth(), 0, 1, 3);
    }
}

template <class T>
void opencvDownsample(benchmark::State& state)
{
    const cv::Mat src = makeMat<T>();
    for (auto _ : state) {
        cv::Mat dst; // ours makes a new image each time: so does the peer
        cv::resize(src, dst, cv::Size(kSide / 2, kSide / 2), 0, 0, cv::INTER_AREA);
        benchmark::DoNotOptimize(dst.data);
    }
}

template <class T>
void opencvFlip(benchmark::State& state)
{
    const cv::Mat src = makeMat<T>();
    cv::Mat dst(src.size(), src.type());
    for (auto _ : state)
        cv::flip(src, dst, 1);
}

template <class T>
void opencvRotate(benchmark::State& state)
{
    const cv::Mat src = makeMat<T>();
    cv::Mat dst(src.size(), src.type());
    for (auto _ : state)
        cv::rotate(src, dst, cv::ROTATE_90_COUNTERCLOCKWISE);
}

LUMEN_BENCH(opencvFilter, float)->Arg(3)->Arg(5);
LUMEN_BENCH(opencvFilter, short)->Arg(3)->Arg(5);
LUMEN_BENCH(opencvGradient, float);
LUMEN_BENCH(opencvGradient, short);
LUMEN_BENCH(opencvDownsample, float);
LUMEN_BENCH(opencvDownsample, short);
LUMEN_BENCH(opencvFlip, float);
LUMEN_BENCH(opencvFlip, short);
LUMEN_BENCH(opencvRotate, float);
LUMEN_BENCH(opencvRotate, short);
#endif

} // namespace

int main(int argc, char** argv)
{
#if HAVE_OPENCV
    cv::setNumThreads(1); // the library under test is single-threaded by design
#endif
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
