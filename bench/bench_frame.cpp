// What a frame of the descent costs in the real window, and where the time goes.
// Every figure is per frame with the GL pipeline drained (glFinish), reported
// as median and 95th percentile over all frames measured: wall time, and the
// CPU time of the whole process (the software renderer's threads included),
// which other work on a shared machine disturbs much less.
#include "gameprobe.h"

#include <GL/freeglut.h>
#include <GL/glu.h>
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
    if (probe.state == glWidget::Finished)
        pressKey(theWindow, Qt::Key_F2);
    if (probe.state == glWidget::Waiting) {
        pressKey(theWindow, Qt::Key_Space);
        while (probe.speed < 10.5f)
            probe.tick();
        pressKey(theWindow, Qt::Key_Left);
    }
}

} // namespace

// One part of the frame as the frame draws it, from the current camera; the
// sky needs the landscape's depths in place.
struct FramePart {
    enum Which { Clear, Penguin, Hud, Landscape, Sky };
    static void draw(Which part)
    {
        glWidget& w = *theWindow;
        w.makeCurrent(), glLoadIdentity();
        gluLookAt(w.eyeX, w.eyeY, w.eyeZ, w.lookX, double(w.lookY) + 13, w.lookZ, 0, 5, 0);
        if (part == Clear)
            glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
        else if (part == Penguin)
            w.drawPenguin();
        else if (part == Hud)
            w.drawHud();
        else {
            glPushMatrix(), glScalef(w.scaleX, w.scaleY, w.scaleZ);
            part == Landscape ? glCallList(w.landscapeList) : w.drawSkyBox();
            glPopMatrix();
        }
    }
};

namespace {

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

// Times `step` on every frame, after the untimed `prepare`.
template <class Prepare, class Step>
void measure(benchmark::State& state, Prepare prepare, Step step)
{
    GameProbe probe{*theWindow};
    std::vector<double> ms, cpu;
    for (auto _ : state) {
        keepRunning(probe);
        theWindow->makeCurrent();
        prepare(probe);
        glFinish();
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

void nothing(GameProbe&)
{
}

// The whole thing the game does every 20 ms: the tick, the frame and the swap.
void BM_TickAndFrame(benchmark::State& state)
{
    measure(state, nothing, [](GameProbe& probe) { probe.tick(); });
}

// The parts, each drawn alone into the back buffer from the current camera,
// over what the frame has drawn before it.
void part(benchmark::State& state, FramePart::Which which)
{
    measure(
        state,
        [which](GameProbe&) {
            if (which != FramePart::Clear)
                FramePart::draw(FramePart::Clear);
            if (which == FramePart::Sky)
                FramePart::draw(FramePart::Landscape);
        },
        [which](GameProbe&) { FramePart::draw(which); });
}

void BM_Part_Swap(benchmark::State& state)
{
    measure(state, nothing, [](GameProbe&) { theWindow->swapBuffers(); });
}

// Frames per benchmark: FLOERUSH_BENCH_FRAMES, for short runs under a profiler.
int frames(int standard)
{
    const char* value = std::getenv("FLOERUSH_BENCH_FRAMES");
    return value && std::atoi(value) > 0 ? std::atoi(value) : standard;
}

void registerAll()
{
    auto add = [](const char* name, auto&& fn, int standard) {
        benchmark::RegisterBenchmark(name, fn)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->Iterations(frames(standard));
    };
    add("BM_TickAndFrame", BM_TickAndFrame, 600);
    const struct {
        const char* name;
        FramePart::Which part;
    } parts[] = {{"BM_Part_Clear", FramePart::Clear}, {"BM_Part_Penguin", FramePart::Penguin},
                 {"BM_Part_Hud", FramePart::Hud}, {"BM_Part_Landscape", FramePart::Landscape},
                 {"BM_Part_Sky", FramePart::Sky}};
    for (const auto& p : parts)
        add(p.name, [which = p.part](benchmark::State& state) { part(state, which); }, 200);
    add("BM_Part_Swap", BM_Part_Swap, 200);
}

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

    registerAll();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
