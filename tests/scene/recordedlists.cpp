#include "recordedlists.h"

#include "coursemarkers.h"
#include "elevationtable.h"
#include "landscape.h"
#include "skybox.h"

#include <GL/gl.h>

namespace {

// Inside an open list: the name is generated at once, everything else recorded.
void recordTexture(const Lumen::Bitmap& image)
{
    GLuint name = 0;
    glGenTextures(1, &name);
    glBindTexture(GL_TEXTURE_2D, name);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    const bool usable = image.getData() && image.m_channels == 3 && image.m_dim[0] > 0 && image.m_dim[1] > 0;
    GLint alignment = 4;
    glGetIntegerv(GL_UNPACK_ALIGNMENT, &alignment);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexImage2D(GL_TEXTURE_2D, 0, 3, usable ? image.m_dim[0] : 0, usable ? image.m_dim[1] : 0, 0, GL_BGR_EXT,
        GL_UNSIGNED_BYTE, usable ? image.getData() : nullptr);
    glPixelStorei(GL_UNPACK_ALIGNMENT, alignment);
    glBindTexture(GL_TEXTURE_2D, name);
}

} // namespace

unsigned int recordedSkyList(const SkyBox& sky)
{
    constexpr float X0 = 616050, X1 = 617950, Y0 = 3000, Y1 = 5000, Z0 = 90750, Z1 = 92650;
    struct Corner {
        float s, t, x, y, z;
    };
    struct Face {
        int index;
        Corner corners[4];
    };
    const Face faces[5] = {
        {0, {{0, 1, X0, Y0, Z0}, {1, 1, X1, Y0, Z0}, {1, 0, X1, Y1, Z0}, {0, 0, X0, Y1, Z0}}},
        {2, {{0, 1, X1, Y0, Z0}, {1, 1, X1, Y0, Z1}, {1, 0, X1, Y1, Z1}, {0, 0, X1, Y1, Z0}}},
        {1, {{0, 1, X0, Y0, Z1}, {1, 1, X0, Y0, Z0}, {1, 0, X0, Y1, Z0}, {0, 0, X0, Y1, Z1}}},
        {3, {{0, 1, X1, Y0, Z1}, {1, 1, X0, Y0, Z1}, {1, 0, X0, Y1, Z1}, {0, 0, X1, Y1, Z1}}},
        {4, {{0, 1, X0, Y1, Z0}, {1, 1, X1, Y1, Z0}, {1, 0, X1, Y1, Z1}, {0, 0, X0, Y1, Z1}}},
    };
    const GLuint list = glGenLists(1);
    glNewList(list, GL_COMPILE);
    glColor3f(1, 1, 1);
    for (const Face& face : faces) {
        recordTexture(sky.faces[face.index].image);
        glBegin(GL_QUADS);
        for (const Corner& c : face.corners) {
            glTexCoord2f(c.s, c.t);
            glVertex3f(c.x, c.y, c.z);
        }
        glEnd();
    }
    glEndList();
    return list;
}

unsigned int recordedLandscapeList(const Landscape& landscape)
{
    const GLuint list = glGenLists(1);
    glNewList(list, GL_COMPILE);
    recordTexture(landscape.sand->image);
    glColor3f(1, 1, 1);
    for (int r = 0; r < 80; ++r) {
        glBegin(GL_TRIANGLE_STRIP);
        for (int c = 0; c < 81; ++c) {
            const ElevationPoint& upper = elevationTable[81 * r + c];
            const ElevationPoint& lower = elevationTable[81 * (r + 1) + c];
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
