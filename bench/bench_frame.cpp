// What a frame of the descent costs in the real window, and where the time goes.
// Every figure is per frame with the GL pipeline drained (glFinish), reported
// as median and 95th percentile over all frames measured: wall time, and the
// CPU time of the whole process (the software renderer's threads included),
// which other work on a shared machine disturbs much less.
#include "gameprobe.h"

#include <GL/freeglut.h>
#include <benchmark/benchmark.h>

#include <QTest>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

namespace {

glWidget* theWindow = nullptr;
// The game clock stands still: every tick measured is one step of motion.
const DrivenTime stillTime;

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

double processCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

void report(benchmark::State& state, const char* prefix, std::vector<double>& ms)
{
    std::sort(ms.begin(), ms.end());
    state.counters[std::string(prefix) + "median_ms"] = ms[ms.size() / 2];
    state.counters[std::string(prefix) + "p95_ms"] = ms[std::min(ms.size() - 1, ms.size() * 95 / 100)];
}

template <class Step>
void measure(benchmark::State& state, Step step)
{
    GameProbe probe{*theWindow};
    std::vector<double> ms, cpu;
    for (auto _ : state) {
        keepRunning(probe);
        theWindow->makeCurrent();
        const double c0 = processCpuMs();
        const auto t0 = std::chrono::steady_clock::now();
        step(probe);
        glFinish();
        ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
        cpu.push_back(processCpuMs() - c0);
    }
    report(state, "", ms);
    report(state, "cpu_", cpu);
    state.counters["width"] = theWindow->width();
    state.counters["height"] = theWindow->height();
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

void BM_Part_Clear(benchmark::State& state)
{
    measure(state, [](GameProbe& probe) { probe.drawPart(GameProbe::Part::Clear); });
}
BENCHMARK(BM_Part_Clear)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(200);

void BM_Part_Hud(benchmark::State& state)
{
    measure(state, [](GameProbe& probe) { probe.drawPart(GameProbe::Part::Hud); });
}
BENCHMARK(BM_Part_Hud)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(200);

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
    GameProbe{window}.driveClock(&stillTime);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return 1;
    QTest::qWait(200); // let the window manager settle the full-screen size
    // The renderer sizes its buffers to the window at a swap: draw one frame
    // so that every part, whichever runs first, draws at full size.
    window.updateGL();

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
