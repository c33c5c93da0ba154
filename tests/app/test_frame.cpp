// The frames of today draw the pixels of the frame as first designed, bit for
// bit, in every state, wherever the player stands. The design is transcribed
// here: the scenery lists as first recorded (recordedlists.h), then the
// penguin, the texts and the scenery with the calls and in the order of that
// design, from the camera and state that the window's last frame left.
#include "gameprobe.h"
#include "recordedlists.h"

#include <GL/freeglut.h>

#include <string>

namespace {

void designText(const char* text, float x, float y, float r, float g, float b)
{
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    glColor3f(r, g, b);
    glRasterPos2f(x, y);
    for (const char* c = text; *c; ++c)
        glutBitmapCharacter(GLUT_BITMAP_HELVETICA_18, int(static_cast<signed char>(*c)));
    glPopMatrix();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
}

QImage designFrame(GameProbe& p, GLuint sky, GLuint landscape)
{
    p.w.makeCurrent();
    glViewport(0, 0, p.w.width(), p.w.height());
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glFrustum(-1, 1, -1, 1, 1.5, 30000);
    glMatrixMode(GL_MODELVIEW);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glLoadIdentity();
    gluLookAt(p.eyeX, p.eyeY, p.eyeZ, p.lookX, double(p.lookY) + 13, p.lookZ, 0, 5, 0);

    glPushMatrix();
    glTranslated(p.lookX, double(p.lookY) + 10, p.lookZ);
    glRotatef(90 - GameProbe::steerAngle(), 0, 1, 0);
    const float ny = p.landscape.normalAt(float(double(p.lookX) / 10), float(double(p.lookZ) / 10)).y;
    glRotatef(float(penguinTilt(ny)), 1, 0, 0);
    glColor3f(0, 0, 0);
    for (uint32_t i = 0; i < p.model.GetMeshCount(); ++i) {
        const LMesh& mesh = p.model.GetMesh(i);
        if (mesh.GetVertexCount() == 0 || mesh.GetTriangleCount() == 0)
            continue;
        glVertexPointer(4, GL_FLOAT, 0, mesh.GetVertexData());
        glDrawElements(GL_TRIANGLES, GLsizei(3 * mesh.GetTriangleCount()), GL_UNSIGNED_SHORT, mesh.GetTriangleData());
    }
    glPopMatrix();

    char text[kTextBufferSize];
    if (p.state == glWidget::Waiting)
        designText("Press Any Key To Start!!", -0.3f, -0.2f, 0, 0, 1);
    if (p.state == glWidget::Running) {
        formatTime(splitElapsed(int(p.clockElapsed())), text);
        designText(text, -0.85f, 0.85f, 1, 0.2f, 0.2f);
    }
    if (p.state == glWidget::Finished) {
        formatName(p.name, text);
        designText(text, -0.05f, 0.35f, 0, 0, 1);
        formatResult(GameClock{p.minutes, p.seconds, p.milliseconds}, text);
        designText(text, -0.5f, 0.2f, 1, 0, 1);
        designText("Press 'ESC' to quit and 'F2' to restart!", -0.3f, -0.4f, 1, 0, 1);
    }
    glPushMatrix();
    glScalef(10, 5, 10);
    glCallList(sky);
    glCallList(landscape);
    glPopMatrix();
    glFinish();
    return p.w.grabFrameBuffer();
}

// Pixels that differ, and where the first of them lies.
std::string difference(const QImage& a, const QImage& b)
{
    int count = 0, fx = -1, fy = -1;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if (a.pixel(x, y) != b.pixel(x, y) && count++ == 0)
                fx = x, fy = y;
    return count ? std::to_string(count) + " pixels, first at " + std::to_string(fx) + "," + std::to_string(fy) : "";
}

using Frame = GameWindowTest;

TEST_F(Frame, DrawsThePixelsOfTheRecordedDesign)
{
    window->makeCurrent();
    const GLuint landscape = recordedLandscapeList(probe->landscape), sky = recordedSkyList(probe->skyBox);
    // Each situation sets up the window; both ways then draw a frame after one
    // frame of their own, so that each starts from the state its own frames
    // leave behind (the first frame ever starts from OpenGL's defaults).
    const struct {
        const char* situation;
        std::function<void()> setUp;
        bool firstFrame;
    } cases[] = {
        {"the first frame", [] {}, true},
        {"waiting", [] {}, false},
        {"running at the start", [&] { press(Qt::Key_Space); time.ms = 7005; }, false},
        {"mid-run in fog", [&] { probe->eyeX = 6173000, probe->eyeZ = 917100; press(Qt::Key_F); }, false},
        {"mid-run, fog off again", [&] { press(Qt::Key_F); }, false},
        {"before the finish gate", [&] { probe->eyeX = 6177700, probe->eyeZ = 916850; }, false},
        {"turned north by the north wall", [&] { probe->face(80), probe->eyeX = 6175000, probe->eyeZ = 925500; },
         false},
        {"turned south in the south-west corner",
         [&] { probe->face(-60), probe->eyeX = 6161500, probe->eyeZ = 908500; }, false},
        {"finished", [&] { probe->face(0), finish(); }, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.situation);
        c.setUp();
        QImage frames[2];
        for (int design = 0; design < 2; ++design)
            for (int i = 0; i < 2; ++i) {
                if (c.firstFrame) {
                    window->makeCurrent();
                    glBindTexture(GL_TEXTURE_2D, 0);
                    glTexCoord4f(0, 0, 0, 1);
                }
                frames[design] = design ? designFrame(*probe, sky, landscape) : probe->frame();
            }
        ASSERT_EQ(frames[0].size(), QSize(1920, 1080));
        EXPECT_EQ(difference(frames[0], frames[1]), "");
    }
    window->makeCurrent();
    glDeleteLists(landscape, 1);
    glDeleteLists(sky, 1);
}

} // namespace
