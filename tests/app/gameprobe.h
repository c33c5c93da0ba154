// The tests' view into the game window, helpers that answer its dialogs, and
// a fixture that opens it with its game clock driven by the test: the clock
// stands still unless `time` is moved, so every timer event runs one tick.
#pragma once

#include "glwidget.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QInputDialog>
#include <QKeyEvent>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

struct DrivenTime : TimeSource {
    qint64 ms = 0;
    qint64 now() const override { return ms; }
};

// The window's fields, by reference.
struct GameProbe {
    explicit GameProbe(glWidget& window)
        : w(window), eyeX(w.eyeX), eyeY(w.eyeY), eyeZ(w.eyeZ), lookX(w.lookX), lookY(w.lookY), lookZ(w.lookZ),
          heading(w.heading), speed(w.speed), state(w.gameState), ticksRun(w.ticksRun), minutes(w.minutes),
          seconds(w.seconds), milliseconds(w.milliseconds), timer(w.timer), music(w.music), name(w.playerName),
          landscapeList(w.landscapeList), skyList(w.skyList), landscape(w.landscape), skyBox(w.skyBox),
          model(w.model) {}
    glWidget& w;
    float &eyeX, &eyeY, &eyeZ, &lookX, &lookY, &lookZ, &heading, &speed;
    int &state, &ticksRun, &minutes, &seconds, &milliseconds;
    QTimer*& timer;
    QSound*& music;
    QString& name;
    GLuint &landscapeList, &skyList;
    Landscape& landscape;
    SkyBox& skyBox;
    L3DS& model;

    static float& steerAngle() { return glWidget::steerAngle; }
    static bool fogEnabled() { return glWidget::fogEnabled; }
    static int glInitCount() { return glWidget::glInitCount; }
    int shownMs() const { return minutes * 60000 + seconds * 1000 + milliseconds; }
    qint64 clockElapsed() const { return w.gameTime.elapsed(); }
    const Texture& picture(int i) const { return i < 5 ? w.skyBox.faces[i] : *w.landscape.sand; }
    void driveClock(const DrivenTime* time) { w.gameTime.setSource(time); }
    void tick() { w.run(); } // one timer event
    void initializeAgain() { w.makeCurrent(), w.initializeGL(); }
    // Turns the player as the steering keys would, to `degrees` towards +z.
    void face(float degrees) { steerAngle() = degrees, heading = float(double(degrees) / 180 * 3.14159); }
    // Draws one frame as the window does and reads it back before it is shown.
    QImage frame()
    {
        w.makeCurrent(), w.resizeGL(w.width(), w.height()), w.paintGL(), glFinish();
        return w.grabFrameBuffer();
    }
    // Puts the camera half a table unit before the finish line, inside the
    // finish span, and draws the frame that finds the point ahead past it.
    void finishHere() { eyeX = 6177995, eyeZ = 916800, frame(); }
};

// Runs `action` on the first modal dialog of type D once it is open.
template <class D>
void whenDialogOpens(std::function<void(D*)> action)
{
    QTimer::singleShot(0, [action] {
        auto* d = qobject_cast<D*>(QApplication::activeModalWidget());
        d ? action(d) : whenDialogOpens<D>(action);
    });
}

inline void answerNamePrompt(const QString& name)
{
    whenDialogOpens<QInputDialog>([name](QInputDialog* d) { d->setTextValue(name), d->accept(); });
}

inline void pressKey(QWidget* widget, int key)
{
    QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

class GameWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        answerNamePrompt("Pingu");
        window = std::make_unique<glWidget>();
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        probe = std::make_unique<GameProbe>(*window);
        probe->driveClock(&time);
    }
    void press(int key) { pressKey(window.get(), key); }
    // Timer events without their redraws, which only cost time where the
    // motion alone is looked at (every event still runs its finish test).
    void ticks(int n, bool redraw = false)
    {
        window->setUpdatesEnabled(redraw);
        for (int i = 0; i < n; ++i)
            probe->tick();
        window->setUpdatesEnabled(true);
    }
    void finish()
    {
        probe->finishHere();
        ASSERT_EQ(probe->state, glWidget::Finished);
    }

    DrivenTime time;
    std::unique_ptr<glWidget> window;
    std::unique_ptr<GameProbe> probe;
};
