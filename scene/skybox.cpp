#include "skybox.h"

#include <GL/gl.h>

#include <initializer_list>

namespace {

constexpr float X0 = 616050, X1 = 617950;
constexpr float Y0 = 3000, Y1 = 5000;
constexpr float Z0 = 90750, Z1 = 92650;

enum Face { Front, Left, Right, Back, Top };

struct Corner {
    float s, t, x, y, z;
};

// Per face, the corners in drawing order; the lower edge of a wall carries
// t = 1 because row 0 of a picture (t = 0) is its top.
const Corner kCorners[5][4] = {
    /* Front */ {{0, 1, X0, Y0, Z0}, {1, 1, X1, Y0, Z0}, {1, 0, X1, Y1, Z0}, {0, 0, X0, Y1, Z0}},
    /* Left  */ {{0, 1, X0, Y0, Z1}, {1, 1, X0, Y0, Z0}, {1, 0, X0, Y1, Z0}, {0, 0, X0, Y1, Z1}},
    /* Right */ {{0, 1, X1, Y0, Z0}, {1, 1, X1, Y0, Z1}, {1, 0, X1, Y1, Z1}, {0, 0, X1, Y1, Z0}},
    /* Back  */ {{0, 1, X1, Y0, Z1}, {1, 1, X0, Y0, Z1}, {1, 0, X0, Y1, Z1}, {0, 0, X1, Y1, Z1}},
    /* Top   */ {{0, 1, X0, Y1, Z0}, {1, 1, X1, Y1, Z0}, {1, 0, X1, Y1, Z1}, {0, 0, X0, Y1, Z1}},
};

const char* const kFiles[5] = {"./data/f.bmp", "./data/l.bmp", "./data/r.bmp", "./data/b.bmp", "./data/u.bmp"};

} // namespace

SkyBox::SkyBox()
{
    for (int i = 0; i < 5; ++i)
        faces[i].image.load(kFiles[i]);
}

unsigned int SkyBox::buildList()
{
    constexpr Face kDrawingOrder[] = {Front, Right, Left, Back, Top};
    // Filled once here, outside the list, which then only binds them.
    for (Face face : kDrawingOrder)
        faces[face].create();

    const GLuint list = glGenLists(1);
    glNewList(list, GL_COMPILE);
    glColor3f(1, 1, 1);
    for (Face face : kDrawingOrder) {
        faces[face].bind();
        glBegin(GL_QUADS);
        for (const Corner& c : kCorners[face]) {
            glTexCoord2f(c.s, c.t);
            glVertex3f(c.x, c.y, c.z);
        }
        glEnd();
    }
    glEndList();
    return list;
}
