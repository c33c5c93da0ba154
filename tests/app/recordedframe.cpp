#include "recordedframe.h"

#include "recordedlists.h"

#include <GL/freeglut.h>

#include <cmath>

RecordedFrame::RecordedFrame(GameProbe& probe)
    : m_probe(probe)
{
    probe.w.makeCurrent();
    m_landscape = recordedLandscapeList(probe.landscape());
    m_sky = recordedSkyList(probe.skyBox());
}

RecordedFrame::~RecordedFrame()
{
    m_probe.w.makeCurrent();
    glDeleteLists(m_landscape, 1);
    glDeleteLists(m_sky, 1);
}

QImage RecordedFrame::draw()
{
    GameProbe& p = m_probe;
    glWidget& w = p.w;
    w.makeCurrent();
    p.resizeToWindow();
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glLoadIdentity();
    gluLookAt(p.eyeX(), p.eyeY(), p.eyeZ(), p.lookX(), double(p.lookY()) + 13, p.lookZ(), 0, 5, 0);

    glPushMatrix();
    glTranslated(p.lookX(), double(p.lookY()) + 10, p.lookZ());
    glRotatef(90 - GameProbe::steerAngle(), 0, 1, 0);
    const float tableX = float(double(p.lookX()) / p.scale(0)), tableZ = float(double(p.lookZ()) / p.scale(2));
    const float ny = p.landscape().normalAt(tableX, tableZ).y;
    glRotatef(float(penguinTilt(ny)), 1, 0, 0);
    glColor3f(0, 0, 0);
    for (uint32_t i = 0; i < p.model().GetMeshCount(); ++i) {
        const LMesh& mesh = p.model().GetMesh(i);
        if (mesh.GetVertexCount() == 0 || mesh.GetTriangleCount() == 0)
            continue;
        glVertexPointer(4, GL_FLOAT, 0, mesh.GetVertexData());
        glDrawElements(GL_TRIANGLES, GLsizei(3 * mesh.GetTriangleCount()), GL_UNSIGNED_SHORT, mesh.GetTriangleData());
    }
    glPopMatrix();

    char text[kTextBufferSize];
    switch (p.state()) {
    case glWidget::Waiting:
        drawText("Press Any Key To Start!!", -0.3f, -0.2f, 0, 0, 1);
        break;
    case glWidget::Running:
        formatTime(splitElapsed(int(p.clockElapsed())), text);
        drawText(text, -0.85f, 0.85f, 1, 0.2f, 0.2f);
        break;
    case glWidget::Finished:
        formatName(p.name(), text);
        drawText(text, -0.05f, 0.35f, 0, 0, 1);
        formatResult(GameClock{p.shownMinutes(), p.shownSeconds(), p.shownMilliseconds()}, text);
        drawText(text, -0.5f, 0.2f, 1, 0, 1);
        drawText("Press 'ESC' to quit and 'F2' to restart!", -0.3f, -0.4f, 1, 0, 1);
        break;
    }

    glPushMatrix();
    glScalef(p.scale(0), p.scale(1), p.scale(2));
    glCallList(m_sky);
    glCallList(m_landscape);
    glPopMatrix();
    glFinish();
    return w.grabFrameBuffer();
}

void RecordedFrame::drawText(const char* text, float x, float y, float r, float g, float b)
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
