// The tests' view into the game window, and helpers to answer its dialogs.
#pragma once

#include "glwidget.h"

#include <GL/glu.h>

#include <QApplication>
#include <QImage>
#include <QInputDialog>
#include <QKeyEvent>
#include <QMessageBox>
#include <QOpenGLFramebufferObject>
#include <QSound>
#include <QTimer>

#include <functional>
#include <memory>

// A time line that moves only when the test moves it, for the game clock.
struct DrivenTime : TimeSource {
    qint64 ms = 0;
    qint64 now() const override { return ms; }
};

struct GameProbe {
    glWidget& w;

    int state() const { return w.gameState; }
    float speed() const { return w.speed; }
    void setSpeed(float s) { w.speed = s; }
    float heading() const { return w.heading; }
    float& eyeX() { return w.eyeX; }
    float& eyeZ() { return w.eyeZ; }
    float eyeY() const { return w.eyeY; }
    float lookX() const { return w.lookX; }
    float lookY() const { return w.lookY; }
    float lookZ() const { return w.lookZ; }
    const QString& name() const { return w.playerName; }
    QTimer* timer() const { return w.timer; }
    QSound* music() const { return w.music; }
    GLuint landscapeList() const { return w.landscapeList; }
    GLuint skyList() const { return w.skyList; }
    int shownMinutes() const { return w.minutes; }
    int shownSeconds() const { return w.seconds; }
    int shownMilliseconds() const { return w.milliseconds; }

    int ticksRun() const { return w.ticksRun; }
    qint64 clockElapsed() const { return w.gameTime.elapsed(); }
    Landscape& landscape() { return w.landscape; }
    SkyBox& skyBox() { return w.skyBox; }
    L3DS& model() { return w.model; }
    float scale(int axis) const { return axis == 0 ? w.scaleX : axis == 1 ? w.scaleY : w.scaleZ; }
    void resizeToWindow() { w.resizeGL(w.width(), w.height()); }
    // Turns the player as the steering keys would, to `degrees` towards +z.
    void face(float degrees)
    {
        glWidget::steerAngle = degrees;
        w.heading = float(double(degrees) / 180 * 3.14159);
    }
    // The game clock reads `time` from now on (null: the real clock).
    void driveClock(const DrivenTime* time) { w.gameTime.setSource(time); }
    // The pictures: the sky box's faces (front, left, right, back, top), then the ground.
    const Texture& picture(int i) const { return i < 5 ? w.skyBox.faces[i] : *w.landscape.sand; }

    static float steerAngle() { return glWidget::steerAngle; }
    static void setSteerAngle(float a) { glWidget::steerAngle = a; }
    static bool fogEnabled() { return glWidget::fogEnabled; }
    static int glInitCount() { return glWidget::glInitCount; }

    void tick() { w.run(); } // one timer event
    void initializeAgain()
    {
        w.makeCurrent();
        w.initializeGL();
    }

    // One part of the frame as the frame draws it, from the current camera
    // (for measurements): the clear, the penguin, the texts, the landscape, and
    // the sky box, which needs the landscape's depths in place to be drawn as
    // in the frame.
    enum class Part { Clear, Penguin, Hud, Landscape, Sky };
    void drawPart(Part part)
    {
        w.makeCurrent();
        glLoadIdentity();
        gluLookAt(w.eyeX, w.eyeY, w.eyeZ, w.lookX, double(w.lookY) + 13, w.lookZ, 0, 5, 0);
        switch (part) {
        case Part::Clear:
            glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
            break;
        case Part::Penguin:
            w.drawPenguin();
            break;
        case Part::Hud:
            w.drawHud();
            break;
        case Part::Landscape:
        case Part::Sky:
            glPushMatrix();
            glScalef(w.scaleX, w.scaleY, w.scaleZ);
            if (part == Part::Landscape)
                glCallList(w.landscapeList);
            else
                w.drawSkyBox();
            glPopMatrix();
            break;
        }
    }

    // Runs `draw` into an offscreen picture of `size`, with the window's
    // projection set up for that size, and reads it back.
    QImage offscreen(QSize size, const std::function<void()>& draw)
    {
        w.makeCurrent();
        QOpenGLFramebufferObject target(size, QOpenGLFramebufferObject::Depth);
        target.bind();
        w.resizeGL(size.width(), size.height());
        draw();
        glFinish();
        QImage picture = target.toImage();
        target.release();
        w.resizeGL(w.width(), w.height());
        return picture;
    }

    void paint() { w.paintGL(); }

    // Draws one frame as the window does and reads it back before it is shown.
    QImage frame()
    {
        w.makeCurrent();
        resizeToWindow();
        w.paintGL();
        glFinish();
        return w.grabFrameBuffer();
    }
};

// Runs `action` on the first modal dialog of type D once it is open.
template <class D>
void whenDialogOpens(std::function<void(D*)> action)
{
    QTimer::singleShot(0, [action] {
        if (auto* d = qobject_cast<D*>(QApplication::activeModalWidget()))
            action(d);
        else
            whenDialogOpens<D>(action);
    });
}

// Types `name` into the name prompt and confirms it.
inline void answerNamePrompt(const QString& name)
{
    whenDialogOpens<QInputDialog>([name](QInputDialog* d) {
        d->setTextValue(name);
        d->accept();
    });
}

inline void pressKey(QWidget* widget, int key)
{
    QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

// Puts the camera just before the finish line, inside the finish span, and
// draws the frame that finds it there.
inline void finishHere(GameProbe& probe)
{
    probe.eyeX() = 6177995;
    probe.eyeZ() = 916800;
    probe.frame();
}
