#include "landscape.h"

#include "coursemarkers.h"
#include "elevationtable.h"

#include <GL/gl.h>

Landscape::Landscape()
    : sand(new Texture)
    , normal()
{
    sand->image.load("./data/sand1.bmp");
}

Landscape::~Landscape()
{
    delete sand;
}

unsigned int Landscape::buildList()
{
    sand->create(); // filled once here, outside the list, which then only binds it
    const GLuint list = glGenLists(1);
    glNewList(list, GL_COMPILE);
    sand->bind();
    glColor3f(1, 1, 1);
    for (int r = 0; r + 1 < kElevationRows; ++r) {
        glBegin(GL_TRIANGLE_STRIP);
        for (int c = 0; c < kElevationColumns; ++c) {
            const ElevationPoint& upper = elevationTable[kElevationColumns * r + c];
            const ElevationPoint& lower = elevationTable[kElevationColumns * (r + 1) + c];
            glTexCoord2d(0.05 * c, 0.05 * r);
            glVertex3f(float(upper.easting), float(upper.elevation), float(upper.northing));
            glTexCoord2d(0.05 * c, (r + 1) / 20.0);
            glVertex3f(float(lower.easting), float(lower.elevation), float(lower.northing));
        }
        glEnd();
    }
    recordCourseMarkers();
    glEndList();
    return list;
}
