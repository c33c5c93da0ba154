#include "glwidget.h"

#include <GL/glu.h>
#include <GL/freeglut.h>

#include <QInputDialog>
#include <QKeyEvent>
#include <QLoggingCategory>
#include <QMessageBox>
#include <QSound>
#include <QTimer>

#include <cmath>
#include <cstdlib>

namespace {

// The game's value of pi, for degrees to radians and back.
constexpr double kPi = 3.14159;

constexpr const char* kModelPath = "./data/penguin.3ds";
constexpr const char* kMusicPath = "./data/music.wav";

// Start point and course, in table units.
constexpr double kStartX = 617000, kStartZ = 91700;
constexpr double kStartElevation = 4460.78;
constexpr double kCourseMinX = 616100, kCourseMaxX = 617900;
constexpr double kCourseMinZ = 90800, kCourseMaxZ = 92600;
constexpr double kFinishX = 617800, kFinishMinZ = 91675, kFinishMaxZ = 91696;

constexpr double kAheadDistance = 10; // world units from the camera to the penguin
constexpr double kEyeHeight = 20;     // camera above the ground
constexpr double kAimHeight = 13;     // camera aims this far above the penguin's ground
constexpr double kPenguinLift = 10;   // penguin's origin above the ground

// Off unless asked for, e.g. QT_LOGGING_RULES="floerush.result.info=true": a
// line with each result, for scripts that play the game and check its time.
Q_LOGGING_CATEGORY(lcResult, "floerush.result", QtWarningMsg)

} // namespace

int penguinTilt(float ny)
{
    // The ground normal points down, so acos gives 180 degrees minus the slope.
    const float angle = float(std::acos(double(ny)));
    const int t = int(angle / -kPi * 180);
    return 180 - t;
}

bool glWidget::fogEnabled = false;
int glWidget::glInitCount = 0;
float glWidget::steerAngle = 0;

glWidget::glWidget()
    : QGLWidget(nullptr, nullptr, Qt::WindowFlags())
    , timer(nullptr)
    , music(nullptr)
{
    resetGame();
    landscapeList = 0;
    skyList = 0;
    timer = new QTimer(this);
    music = new QSound(kMusicPath, this);

    if (!model.LoadFile(kModelPath)) {
        const QString text = tr("Unable to load file \n: %1.").arg(kModelPath);
        QMessageBox::warning(this, tr("Application"), text, QMessageBox::Ok, QMessageBox::NoButton);
        std::exit(0);
    }

    setWindowTitle(tr("FloeRush"));
    setWindowState(Qt::WindowFullScreen);

    bool accepted = false;
    playerName = QInputDialog::getText(this, tr("Floe Rush"), tr("Player Name:"), QLineEdit::Normal,
                                       QString(), &accepted, Qt::WindowFlags());
}

glWidget::~glWidget()
{
    if (--glInitCount == 0) {
        makeCurrent();
        glDeleteLists(landscapeList, 1);
        glDeleteLists(skyList, 1);
    }
    delete timer;
}

void glWidget::resetGame()
{
    heading = 0;
    steerAngle = 0;
    gameState = Waiting;
    ticksRun = 0;
    speed = 0;
    minutes = seconds = milliseconds = 0;
    scaleX = 10;
    scaleY = 5;
    scaleZ = 10;
    eyeX = float(kStartX * scaleX);
    eyeZ = float(kStartZ * scaleZ);
    eyeY = float(kStartElevation * scaleY);
}

void glWidget::toggleGame()
{
    switch (gameState) {
    case Waiting:
        connect(timer, SIGNAL(timeout()), this, SLOT(run()), Qt::AutoConnection);
        timer->start(kTickMs);
        gameState = Running;
        gameTime.start();
        music->stop();
        music->play();
        break;
    case Finished:
        disconnect(timer, SIGNAL(timeout()), this, SLOT(run()));
        timer->stop();
        break;
    default:
        break;
    }
}

void glWidget::mousePressEvent(QMouseEvent*)
{
    if (gameState == Waiting)
        toggleGame();
}

void glWidget::mouseMoveEvent(QMouseEvent*)
{
}

void glWidget::steer(double step)
{
    double angle = double(steerAngle) + step;
    if (angle <= -90)
        angle = -90;
    else if (angle > 90)
        angle = 90;
    steerAngle = float(angle);
    heading = float(double(steerAngle) / 180 * kPi);
}

void glWidget::keyPressEvent(QKeyEvent* event)
{
    const int key = event->key();
    if (gameState == Waiting)
        toggleGame();

    if (gameState == Running) {
        switch (key) {
        case Qt::Key_Left:
            steer(-10 / (double(speed) + 1));
            break;
        case Qt::Key_Right:
            steer(10 / (double(speed) + 1));
            break;
        case Qt::Key_Up:
            if (speed <= 20)
                speed = float(double(speed) + 0.25);
            break;
        case Qt::Key_Down:
            if (speed >= 5)
                speed = float(double(speed) - 1);
            break;
        case Qt::Key_F:
            makeCurrent();
            if (!fogEnabled) {
                glEnable(GL_FOG);
                fogEnabled = true;
            } else {
                glDisable(GL_FOG);
                fogEnabled = false;
            }
            break;
        case Qt::Key_S:
            speed = 40;
            break;
        case Qt::Key_Escape:
            std::exit(0);
        default:
            break;
        }
        updateGL();
    }

    if (gameState == Finished) {
        if (key == Qt::Key_Escape)
            std::exit(0);
        if (key == Qt::Key_F2)
            resetGame();
        updateGL();
    }
}

void glWidget::run()
{
    // Slow frames must not slow the game: the motion catches up with the clock.
    const int due = ticksDue(gameTime.elapsed(), ticksRun);
    for (int i = 0; i < due && gameState == Running; ++i) {
        tick();
        placeAheadPoint();
        testFinish();
    }
    updateGL();
}

void glWidget::tick()
{
    if (speed <= 10)
        speed = float(double(speed) + 0.5);

    const float s = float(std::sin(double(heading)));
    const float c = float(std::cos(double(heading)));
    eyeZ = float(double(eyeZ) + double(s) * speed);
    eyeX = float(double(eyeX) + double(c) * speed);

    // Blocked on one axis, the player slides on along the other.
    const float minX = float(kCourseMinX * scaleX), maxX = float(kCourseMaxX * scaleX);
    const float minZ = float(kCourseMinZ * scaleZ), maxZ = float(kCourseMaxZ * scaleZ);
    if (eyeX <= minX)
        eyeX = minX;
    else if (eyeX >= maxX)
        eyeX = maxX;
    if (eyeZ <= minZ)
        eyeZ = minZ;
    else if (eyeZ >= maxZ)
        eyeZ = maxZ;
    ++ticksRun;
}

void glWidget::testFinish()
{
    // Whatever the state: in Waiting the point ahead is never there, and in
    // Finished repeating it changes nothing.
    if (!(lookX >= kFinishX * scaleX && kFinishMinZ * scaleZ <= lookZ && lookZ <= kFinishMaxZ * scaleZ))
        return;
    if (gameState == Running) {
        // The time of the tick that got there, not of the frame that shows it:
        // the same descent gives the same result on any machine.
        const int resultMs = ticksRun * kTickMs;
        const GameClock result = splitElapsed(resultMs);
        minutes = result.minutes;
        seconds = result.seconds;
        milliseconds = result.milliseconds;
        qCInfo(lcResult, "result %d ms, %d ticks, game clock %lld ms", resultMs, ticksRun,
               static_cast<long long>(gameTime.elapsed()));
    }
    gameState = Finished;
    toggleGame();
}

void glWidget::initializeGL()
{
    if (landscapeList == 0)
        landscapeList = landscape.buildList();
    if (skyList == 0)
        skyList = skyBox.buildList();
    ++glInitCount;

    glEnable(GL_TEXTURE_2D);
    glEnableClientState(GL_VERTEX_ARRAY); // the penguin is drawn from vertex arrays
    glShadeModel(GL_SMOOTH);
    glClearColor(0, 0, 0, 0);
    glClearDepth(1.0);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);
    glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);

    // Fog is set up here and switched by the F key.
    const GLfloat fogColour[4] = {0.7f, 0.7f, 0.7f, 0.7f};
    glFogi(GL_FOG_MODE, GL_EXP2);
    glFogfv(GL_FOG_COLOR, fogColour);
    glFogf(GL_FOG_DENSITY, 0.0005f);
    glHint(GL_FOG_HINT, GL_NICEST);
}

void glWidget::resizeGL(int w, int h)
{
    glViewport(0, 0, w, h);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    // Square whatever the window's shape: a wide screen stretches the picture.
    glFrustum(-1.0, 1.0, -1.0, 1.0, 1.5, 30000.0);
    glMatrixMode(GL_MODELVIEW);
}

void glWidget::placeAheadPoint()
{
    lookX = float(double(eyeX) + double(float(std::cos(double(heading)))) * kAheadDistance);
    lookZ = float(double(eyeZ) + double(float(std::sin(double(heading)))) * kAheadDistance);
}

void glWidget::followGround()
{
    eyeY = float(double(Landscape::heightAt(float(double(eyeX) / scaleX), float(double(eyeZ) / scaleZ))) * scaleY
                 + kEyeHeight);
    lookY = float(double(Landscape::heightAt(float(double(lookX) / scaleX), float(double(lookZ) / scaleZ))) * scaleY);
}

void glWidget::paintGL()
{
    // The stencil buffer that the default format brings is never used. Cleared
    // with the depth buffer, the renderer clears both as one instead of keeping
    // the stencil bits of every pixel, most of what a software renderer spends
    // on the clear.
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
    glLoadIdentity();

    placeAheadPoint();
    testFinish(); // a steering key moves the point ahead too
    followGround();

    gluLookAt(eyeX, eyeY, eyeZ, lookX, double(lookY) + kAimHeight, lookZ, 0, 5, 0);
    drawPenguin();
    // Drawn before the scenery: the texts lie at half depth, nearer than any of it.
    drawHud();

    glPushMatrix();
    glScalef(scaleX, scaleY, scaleZ);
    glCallList(landscapeList);
    drawSkyBox();
    glPopMatrix();
}

void glWidget::drawSkyBox()
{
    // After the terrain: wherever the terrain stands before the sky box, the
    // depth test spares those pixels their texturing. Where both meet at the
    // same depth the terrain, drawn last in the first design, showed; the sky
    // box must now be strictly nearer to show, and the picture stays the same.
    // The texture and colour state that the landscape leaves for the next
    // frame's texts is kept across it.
    glPushAttrib(GL_CURRENT_BIT | GL_TEXTURE_BIT | GL_DEPTH_BUFFER_BIT);
    glDepthFunc(GL_LESS);
    glCallList(skyList);
    glPopAttrib();
}

void glWidget::drawPenguin()
{
    glPushMatrix();
    glTranslated(lookX, double(lookY) + kPenguinLift, lookZ);
    glRotatef(90 - steerAngle, 0, 1, 0);

    const float ny = landscape.normalAt(float(double(lookX) / scaleX), float(double(lookZ) / scaleZ)).y;
    glRotatef(float(penguinTilt(ny)), 1, 0, 0);

    // Black modulated by any texel stays black: the texture needs no sampling.
    glDisable(GL_TEXTURE_2D);
    glColor3f(0, 0, 0);
    const uint32_t meshCount = model.GetMeshCount();
    for (uint32_t i = 0; i < meshCount; ++i) {
        const LMesh& mesh = model.GetMesh(i);
        if (mesh.GetVertexCount() == 0 || mesh.GetTriangleCount() == 0)
            continue;
        glVertexPointer(4, GL_FLOAT, 0, mesh.GetVertexData());
        glDrawElements(GL_TRIANGLES, GLsizei(3 * mesh.GetTriangleCount()), GL_UNSIGNED_SHORT, mesh.GetTriangleData());
    }
    glEnable(GL_TEXTURE_2D);
    glPopMatrix();
}

void glWidget::drawHud()
{
    char text[kTextBufferSize];
    switch (gameState) {
    case Waiting:
        drawText("Press Any Key To Start!!", -0.3f, -0.2f, 0, 0, 1);
        break;
    case Running: {
        const GameClock clock = splitElapsed(int(gameTime.elapsed()));
        minutes = clock.minutes;
        seconds = clock.seconds;
        milliseconds = clock.milliseconds;
        formatTime(clock, text);
        drawText(text, -0.85f, 0.85f, 1, 0.2f, 0.2f);
        break;
    }
    case Finished: {
        formatName(playerName, text);
        drawText(text, -0.05f, 0.35f, 0, 0, 1);
        char result[kTextBufferSize];
        formatResult(GameClock{minutes, seconds, milliseconds}, result);
        drawText(result, -0.5f, 0.2f, 1, 0, 1);
        drawText("Press 'ESC' to quit and 'F2' to restart!", -0.3f, -0.4f, 1, 0, 1);
        break;
    }
    default:
        break;
    }
    // No flush here: the texts take the texture bound while they were drawn
    // (the sand that the last frame's landscape left, or none before the
    // first frame's) whether Mesa draws them now or at the landscape, and a
    // flush would make the software renderer load and store every tile of the
    // screen twice a frame. The frame tests compare the texts' pixels with
    // those of the first design; the hostile-assets tests draw them with
    // every picture unreadable in turn.
}

void glWidget::drawText(const char* text, float x, float y, float r, float g, float b)
{
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();

    glColor3f(r, g, b);
    glRasterPos2f(x, y); // takes the colour just set
    for (const char* c = text; *c; ++c)
        glutBitmapCharacter(GLUT_BITMAP_HELVETICA_18, int(static_cast<signed char>(*c)));

    glPopMatrix();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
}
