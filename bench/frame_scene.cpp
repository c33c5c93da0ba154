// What the scenery costs a frame: the sky box and landscape lists drawn as
// the game draws them, into a full-HD offscreen framebuffer, with sky pictures
// of 256 and of 512 pixels a side. The lists only bind their pictures, so the
// picture size shows in the texels sampled, not in uploads.
#include "landscape.h"
#include "skybox.h"

#include "filewriters/bmpwriter.h"

#include <QGuiApplication>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFramebufferObject>
#include <QSurfaceFormat>

#include <GL/gl.h>
#include <GL/glu.h>
#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>

namespace {

constexpr int kWidth = 1920, kHeight = 1080;

// A picture of the given size; its content does not change what it costs.
void writePicture(const std::string& path, int size)
{
    filewriters::BmpImage img;
    img.width = size;
    img.height = size;
    img.pixels.resize(size_t(size) * size * 3);
    for (size_t i = 0; i < img.pixels.size(); ++i)
        img.pixels[i] = uint8_t(i * 7 + i / 3);
    filewriters::writeFile(path, filewriters::encodeBmp(img));
}

// A folder holding data/ with sky pictures of `size` and a 256-pixel ground.
std::string makeData(int size)
{
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / ("floerush-bench-" + std::to_string(getpid()) + "-" + std::to_string(size));
    std::filesystem::create_directories(dir / "data");
    for (const char* face : {"f", "l", "r", "b", "u"})
        writePicture((dir / "data" / (std::string(face) + ".bmp")).string(), size);
    writePicture((dir / "data" / "sand1.bmp").string(), 256);
    return dir.string();
}

struct Scenery {
    unsigned int sky = 0, landscape = 0;
    std::unique_ptr<Landscape> ground;
    std::unique_ptr<SkyBox> box;

    explicit Scenery(int skySize)
    {
        const std::string dir = makeData(skySize);
        const std::filesystem::path previous = std::filesystem::current_path();
        std::filesystem::current_path(dir);
        ground = std::make_unique<Landscape>();
        box = std::make_unique<SkyBox>();
        std::filesystem::current_path(previous);
        std::filesystem::remove_all(dir);
        landscape = ground->buildList();
        sky = box->buildList();
    }
    ~Scenery()
    {
        glDeleteLists(sky, 1);
        glDeleteLists(landscape, 1);
    }
};

// One frame's scenery from the start point, as the game sets it up.
void drawFrame(const Scenery& s, bool withSky, bool withLandscape)
{
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glLoadIdentity();
    const float eyeY = Landscape::heightAt(617000, 91700) * 5 + 20;
    const float lookY = Landscape::heightAt(617001, 91700) * 5;
    gluLookAt(6170000, eyeY, 917000, 6170010, lookY + 13, 917000, 0, 5, 0);
    glPushMatrix();
    glScalef(10, 5, 10);
    if (withLandscape)
        glCallList(s.landscape);
    if (withSky) { // after the landscape, strictly nearer to show, as the game draws it
        glDepthFunc(GL_LESS);
        glCallList(s.sky);
        glDepthFunc(GL_LEQUAL);
    }
    glPopMatrix();
    glFinish();
}

void setUpState()
{
    glViewport(0, 0, kWidth, kHeight);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glFrustum(-1, 1, -1, 1, 1.5, 30000);
    glMatrixMode(GL_MODELVIEW);
    glEnable(GL_TEXTURE_2D);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);
}

void frame(benchmark::State& state, bool withSky, bool withLandscape)
{
    Scenery scenery(int(state.range(0)));
    setUpState();
    drawFrame(scenery, withSky, withLandscape); // the first frame compiles the renderer's shaders
    for (auto _ : state)
        drawFrame(scenery, withSky, withLandscape);
}

void BM_Frame(benchmark::State& state)
{
    frame(state, true, true);
}
void BM_SkyBoxOnly(benchmark::State& state)
{
    frame(state, true, false);
}
void BM_LandscapeOnly(benchmark::State& state)
{
    frame(state, false, true);
}

BENCHMARK(BM_Frame)->Arg(256)->Arg(512)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SkyBoxOnly)->Arg(256)->Arg(512)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LandscapeOnly)->Arg(256)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    QSurfaceFormat format;
    format.setProfile(QSurfaceFormat::CompatibilityProfile);
    format.setDepthBufferSize(24);
    QOffscreenSurface surface;
    surface.setFormat(format);
    surface.create();
    QOpenGLContext context;
    context.setFormat(format);
    if (!context.create() || !context.makeCurrent(&surface)) {
        fprintf(stderr, "no OpenGL context (is there a display?)\n");
        return 1;
    }
    QOpenGLFramebufferObject framebuffer(kWidth, kHeight, QOpenGLFramebufferObject::Depth);
    framebuffer.bind();

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
