// What a frame of the descent costs in the real window, and where the time goes.
// Every figure is wall time per frame with the GL pipeline drained (glFinish),
// reported as median and 95th percentile over all frames measured.
#include "gameprobe.h"

#include <GL/freeglut.h>
#include <benchmark/benchmark.h>

#include <QTest>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

glWidget* theWindow = nullptr;

// Restarts the descent once it has finished, so that every frame is one of a run.
void keepRunning(GameProbe& probe)
{
    if (probe.state() == glWidget::Finished)
        pressKey(theWindow, Qt::Key_F2);
    if (probe.state() == glWidget::Waiting) {
        pressKey(theWindow, Qt::Key_Space);
        while (probe.speed() < 10.5f)
            probe.tick();
        pressKey(theWindow, Qt::Key_Left);
    }
}

void report(benchmark::State& state, std::vector<double>& ms)
{
    std::sort(ms.begin(), ms.end());
    state.counters["median_ms"] = ms[ms.size() / 2];
    state.counters["p95_ms"] = ms[std::min(ms.size() - 1, ms.size() * 95 / 100)];
    state.counters["width"] = theWindow->width();
    state.counters["height"] = theWindow->height();
}

template <class Step>
void measure(benchmark::State& state, Step step)
{
    GameProbe probe{*theWindow};
    std::vector<double> ms;
    for (auto _ : state) {
        keepRunning(probe);
        theWindow->makeCurrent();
        const auto t0 = std::chrono::steady_clock::now();
        step(probe);
        glFinish();
        ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
    }
    report(state, ms);
}

// The whole thing the game does every 20 ms: the tick, the frame and the swap.
void BM_TickAndFrame(benchmark::State& state)
{
    measure(state, [](GameProbe& probe) { probe.tick(); });
}
BENCHMARK(BM_TickAndFrame)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(600);

// The parts, each drawn alone into the back buffer from the current camera.
void BM_Part_Sky(benchmark::State& state)
{
    measure(state, [](GameProbe& probe) { probe.drawPart(GameProbe::Part::Sky); });
}
BENCHMARK(BM_Part_Sky)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(200);

void BM_Part_Landscape(benchmark::State& state)
{
    measure(state, [](GameProbe& probe) { probe.drawPart(GameProbe::Part::Landscape); });
}
BENCHMARK(BM_Part_Landscape)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(200);

void BM_Part_Penguin(benchmark::State& state)
{
    measure(state, [](GameProbe& probe) { probe.drawPart(GameProbe::Part::Penguin); });
}
BENCHMARK(BM_Part_Penguin)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(200);

void BM_Part_ClearAndHud(benchmark::State& state)
{
    measure(state, [](GameProbe& probe) { probe.drawPart(GameProbe::Part::ClearAndHud); });
}
BENCHMARK(BM_Part_ClearAndHud)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(200);

void BM_Part_Swap(benchmark::State& state)
{
    measure(state, [](GameProbe&) { theWindow->swapBuffers(); });
}
BENCHMARK(BM_Part_Swap)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(200);

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    glutInit(&argc, argv);
    answerNamePrompt("Bench");
    glWidget window;
    theWindow = &window;
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return 1;
    QTest::qWait(200); // let the window manager settle the full-screen size

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
