#include "glcontext.h"

#include <QGuiApplication>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFramebufferObject>
#include <QOpenGLFunctions>
#include <QSurfaceFormat>

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <link.h>

#include <cstring>
#include <filesystem>

namespace {

// Qt needs one application object for the whole test program.
class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        static int argc = 1;
        static char name[] = "scene-tests";
        static char* argv[] = {name, nullptr};
        m_app = std::make_unique<QGuiApplication>(argc, argv);
    }
    void TearDown() override { m_app.reset(); }

private:
    std::unique_ptr<QGuiApplication> m_app;
};

} // namespace

// Mesa's software driver keeps a buffer of its feedback path (about 1 MB)
// past the context's end. That is Mesa's, not ours: only leaks whose stacks
// go through the driver module are suppressed.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:swrast_dri.so\n";
}

namespace {

const ::testing::Environment* const qtEnvironment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

// Mesa loads its driver on demand and unloads it with the X connection, before
// LeakSanitizer looks: the blocks the driver still holds from its globals then
// show up as leaks of no known module. A pinned driver keeps them reachable.
void pinGlDriver()
{
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void*) {
            if (info->dlpi_name && std::strstr(info->dlpi_name, "_dri.so"))
                dlopen(info->dlpi_name, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
            return 0;
        },
        nullptr);
}

} // namespace

GlContext::GlContext(int width, int height)
{
    QSurfaceFormat format;
    format.setRenderableType(QSurfaceFormat::OpenGL);
    format.setProfile(QSurfaceFormat::CompatibilityProfile);
    format.setDepthBufferSize(24);
    m_surface = std::make_unique<QOffscreenSurface>();
    m_surface->setFormat(format);
    m_surface->create();
    m_context = std::make_unique<QOpenGLContext>();
    m_context->setFormat(format);
    if (!m_surface->isValid() || !m_context->create() || !m_context->makeCurrent(m_surface.get()))
        return;
    m_framebuffer = std::make_unique<QOpenGLFramebufferObject>(width, height, QOpenGLFramebufferObject::Depth);
    if (!m_framebuffer->isValid() || !m_framebuffer->bind())
        return;
    m_context->functions()->glViewport(0, 0, width, height);
    pinGlDriver();
    m_ok = true;
}

GlContext::~GlContext()
{
    if (m_context)
        m_context->makeCurrent(m_surface.get());
    m_framebuffer.reset();
    if (m_context)
        m_context->doneCurrent();
}

QImage GlContext::grab() const
{
    return m_framebuffer ? m_framebuffer->toImage() : QImage();
}

WorkingDirectory::WorkingDirectory(const std::string& dir)
    : m_previous(std::filesystem::current_path().string())
{
    std::filesystem::current_path(dir);
}

WorkingDirectory::~WorkingDirectory()
{
    std::error_code ignored;
    std::filesystem::current_path(m_previous, ignored);
}
