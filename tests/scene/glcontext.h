// An offscreen OpenGL context with a colour and depth framebuffer, for tests
// that draw or record display lists. Needs a display (Xvfb in the test runs).
#pragma once

#include <QImage>

#include <memory>
#include <string>

class QOffscreenSurface;
class QOpenGLContext;
class QOpenGLFramebufferObject;

class GlContext {
public:
    // Makes a context current and binds a framebuffer of the given size with
    // the viewport covering it. ok() tells whether that worked.
    GlContext(int width = 64, int height = 64);
    ~GlContext();

    bool ok() const { return m_ok; }
    QImage grab() const;

private:
    bool m_ok = false;
    std::unique_ptr<QOffscreenSurface> m_surface;
    std::unique_ptr<QOpenGLContext> m_context;
    std::unique_ptr<QOpenGLFramebufferObject> m_framebuffer;
};

// Runs code with the working directory switched to `dir`, so that the scene
// objects read ./data/ from there; restores the old directory afterwards.
class WorkingDirectory {
public:
    explicit WorkingDirectory(const std::string& dir);
    ~WorkingDirectory();
    WorkingDirectory(const WorkingDirectory&) = delete;
    WorkingDirectory& operator=(const WorkingDirectory&) = delete;

private:
    std::string m_previous;
};
