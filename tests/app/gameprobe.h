// The tests' view into the game window, and helpers to answer its dialogs.
#pragma once

#include "glwidget.h"

#include <GL/glu.h>

#include <QApplication>
#include <QImage>
#include <QInputDialog>
#include <QKeyEvent>
#include <QMessageBox>
#include <QTimer>

#include <functional>
#include <memory>

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
    GLuint landscapeList() const { return w.landscapeList; }
    GLuint skyList() const { return w.skyList; }
    int shownMinutes() const { return w.minutes; }
    int shownSeconds() const { return w.seconds; }
    int shownMilliseconds() const { return w.milliseconds; }

    // The pictures: the sky box's faces (front, left, right, back, top), then the ground.
    const Texture& picture(int i) const { return i < 5 ? w.skyBox.faces[i] : *w.landscape.sand; }

    static float steerAngle() { return glWidget::steerAngle; }
    static void setSteerAngle(float a) { glWidget::steerAngle = a; }
    static bool fogEnabled() { return glWidget::fogEnabled; }
    static int glInitCount() { return glWidget::glInitCount; }

    void tick() { w.run(); }
    void initializeAgain()
    {
        w.makeCurrent();
        w.initializeGL();
    }

    // One part of the frame alone, from the current camera (for measurements).
    enum class Part { Sky, Landscape, Penguin, ClearAndHud };
    void drawPart(Part part)
    {
        w.makeCurrent();
        glLoadIdentity();
        gluLookAt(w.eyeX, w.eyeY, w.eyeZ, w.lookX, double(w.lookY) + 13, w.lookZ, 0, 5, 0);
        switch (part) {
        case Part::Sky:
        case Part::Landscape:
            glPushMatrix();
            glScalef(w.scaleX, w.scaleY, w.scaleZ);
            glCallList(part == Part::Sky ? w.skyList : w.landscapeList);
            glPopMatrix();
            break;
        case Part::Penguin:
            w.drawPenguin();
            break;
        case Part::ClearAndHud:
            glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
            w.drawHud();
            break;
        }
    }

    // Draws one frame as the window does and reads it back before it is shown.
    QImage frame()
    {
        w.makeCurrent();
        w.resizeGL(w.width(), w.height());
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
