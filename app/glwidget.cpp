#include "glwidget.h"

#include <GL/glu.h>
#include <GL/freeglut.h>

#include <QInputDialog>
#include <QKeyEvent>
#include <QMessageBox>
#include <QSound>
#include <QTimer>

#include <cmath>
#include <cstdlib>

namespace {

// The game's value of pi, for degrees to radians and back.
constexpr double kPi = 3.14159;

constexpr int kTickMs = 20;
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
{
    resetGame();
    landscapeList = 0;
    skyList = 0;
    timer = new QTimer(this);

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
        QSound::play(kMusicPath);
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

    updateGL();
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
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glLoadIdentity();

    placeAheadPoint();
    // The finish is tested on the point ahead, whatever the state: in Waiting it
    // is never there, and in Finished repeating it changes nothing.
    if (lookX >= kFinishX * scaleX && kFinishMinZ * scaleZ <= lookZ && lookZ <= kFinishMaxZ * scaleZ) {
        gameState = Finished;
        toggleGame();
    }
    followGround();

    gluLookAt(eyeX, eyeY, eyeZ, lookX, double(lookY) + kAimHeight, lookZ, 0, 5, 0);
    drawPenguin();
    // Drawn before the scenery: the texts lie at half depth, nearer than any of it.
    drawHud();
    // Mesa keeps bitmaps to draw them later, with the texture bound by then;
    // its llvmpipe driver crashes when that is the 0 x 0 texture of an
    // unreadable picture (the sky box's first face). Hand the texts over now.
    glFlush();

    glPushMatrix();
    glScalef(scaleX, scaleY, scaleZ);
    glCallList(skyList);
    glCallList(landscapeList);
    glPopMatrix();
}

void glWidget::drawPenguin()
{
    glPushMatrix();
    glTranslated(lookX, double(lookY) + kPenguinLift, lookZ);
    glRotatef(90 - steerAngle, 0, 1, 0);

    const float ny = landscape.normalAt(float(double(lookX) / scaleX), float(double(lookZ) / scaleZ)).y;
    glRotatef(float(penguinTilt(ny)), 1, 0, 0);

    glColor3f(0, 0, 0);
    const uint32_t meshCount = model.GetMeshCount();
    for (uint32_t i = 0; i < meshCount; ++i) {
        const LMesh& mesh = model.GetMesh(i);
        if (mesh.GetVertexCount() == 0 || mesh.GetTriangleCount() == 0)
            continue;
        glVertexPointer(4, GL_FLOAT, 0, mesh.GetVertexData());
        glDrawElements(GL_TRIANGLES, GLsizei(3 * mesh.GetTriangleCount()), GL_UNSIGNED_SHORT, mesh.GetTriangleData());
    }
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
