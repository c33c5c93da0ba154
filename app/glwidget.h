// The game window: one full-screen OpenGL widget that owns the scene, the
// penguin model, the tick timer and the game clock, and carries all game state.
//
// A run goes Waiting -> Running (first key or mouse press: timer, clock and
// music start) -> Finished (the point ahead of the camera enters the finish
// area); F2 then restarts and Esc quits at any moment.
#pragma once

#include "gametext.h"
#include "runclock.h"

#include <l3ds.h>
#include <landscape.h>
#include <skybox.h>

#include <QGLWidget>
#include <QString>

class QSound;
class QTimer;

// Degrees to turn the penguin about its x axis so that it stands on a slope
// whose downward unit normal has the vertical component ny: 360 on flat
// ground, 360 minus the slope rounded up to whole degrees on a slope.
int penguinTilt(float ny);

class glWidget : public QGLWidget {
    Q_OBJECT

public:
    enum GameState { Waiting = 0, Running = 1, Finished = 2 };

    // Loads the scene and the penguin model from ./data/ and asks for the
    // player's name. A model that cannot be loaded ends the process with exit
    // code 0 after a warning box.
    glWidget();
    ~glWidget() override;

public slots:
    // One timer event: the ticks due on the game clock (ticksDue), each one
    // the speed ramp and the motion along the heading inside the course,
    // followed by the finish test so that no tick passes the finish unseen;
    // then one redraw.
    void run();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void initializeGL() override;
    void resizeGL(int w, int h) override;
    void paintGL() override;

private:
    friend struct GameProbe; // the tests' view of the game state
    friend struct FramePart; // the frame benchmark's

    void resetGame();
    void toggleGame();
    // One step of motion: the speed ramp, then along the heading inside the
    // course; counts the tick.
    void tick();
    // Ends the run once the point ahead stands in the finish area; the result
    // is the game time of the last tick run.
    void testFinish();
    void steer(double step);
    void placeAheadPoint();
    void followGround();
    void drawPenguin();
    void drawHud();
    // The sky box's list, drawn after the landscape's under the world scale.
    void drawSkyBox();
    // Draws `text` with its first character at (x, y) in normalised device
    // coordinates; leaves both matrices and the matrix mode as they were.
    void drawText(const char* text, float x, float y, float r, float g, float b);

    QTimer* timer;
    // The music: one sound that every start plays from the beginning, so
    // that a restart never lays a second copy over the first.
    QSound* music;
    RunClock gameTime; // the game clock: reads 0 until the first start
    QString playerName;
    int minutes, seconds, milliseconds;
    Landscape landscape;
    SkyBox skyBox;
    float eyeX, eyeY, eyeZ;
    float lookX, lookY, lookZ;
    float heading;
    int gameState;
    int ticksRun; // since the run started: its game time in periods of kTickMs
    float scaleX, scaleY, scaleZ;
    GLuint landscapeList, skyList;
    L3DS model;
    float speed;

    // Process-wide: one window exists, and these outlive a restart.
    static bool fogEnabled;
    static int glInitCount;
    static float steerAngle;
};
