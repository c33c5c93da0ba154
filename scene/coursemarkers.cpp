#include "coursemarkers.h"

#include "landscape.h"

#include <GL/gl.h>

#include <cmath>

namespace {

constexpr float kPostWidth = 0.5f;

void quad(float y0, float z0, float y1, float z1)
{
    glBegin(GL_QUADS);
    glVertex3f(0, y0, z0);
    glVertex3f(0, y0, z1);
    glVertex3f(0, y1, z1);
    glVertex3f(0, y1, z0);
    glEnd();
}

// A post 8 high with a cloth 5 wide on its north side, from height 4 to 8.
void flag()
{
    quad(0, 0, 8, kPostWidth);
    quad(4, kPostWidth, 8, kPostWidth + 5);
}

// Spans northings 91675 to 91696, where the game's finish test looks.
void finishGate()
{
    glPushMatrix();
    glColor3f(1, 1, 1);
    const float e = 617800, n = 91675;
    glTranslatef(e, Landscape::heightAt(e, n), n);
    quad(0, 0, 20, kPostWidth);
    quad(18, kPostWidth, 20, 20.5f);
    quad(0, 20.5f, 20, 21);
    glPopMatrix();
}

void slalomGates()
{
    glColor3f(1, 0, 0);
    for (int easting = 617050; easting <= 617750; easting += 40) {
        glPushMatrix();
        const float s = float(std::sin((easting - 617050) / 150.0));
        const float zL = float(double(s) * 50 + 91685);
        const float zR = float(double(s) * 50 + 91715);
        const float e = float(easting);
        const float hL = Landscape::heightAt(e, zL);
        glTranslatef(e, hL, zL);
        glColor3f(1, 0, 0);
        flag();
        const float hR = Landscape::heightAt(e, zR);
        glTranslatef(0, hR - hL, 30);
        flag();
        glPopMatrix();
    }
}

} // namespace

void recordCourseMarkers()
{
    finishGate();
    slalomGates();
}
