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
    const float x[2] = {616050, 617950}, y[2] = {3000, 5000}, z[2] = {90750, 92650};
    // Front, right, left, back, top: each corner as the indices of its x, y
    // and z; the corners take the picture's (0, 1), (1, 1), (1, 0), (0, 0).
    const int order[5] = {0, 2, 1, 3, 4};
    const char* const corners[5] = {"000100110010", "100101111110", "001000010011", "101001011111", "010110111011"};
    const GLuint list = glGenLists(1);
    glNewList(list, GL_COMPILE);
    glColor3f(1, 1, 1);
    for (int f = 0; f < 5; ++f) {
        recordTexture(sky.faces[order[f]].image);
        glBegin(GL_QUADS);
        for (const char* c = corners[f]; *c; c += 3) {
            const long k = (c - corners[f]) / 3;
            glTexCoord2f(k == 1 || k == 2 ? 1.0f : 0.0f, k < 2 ? 1.0f : 0.0f);
            glVertex3f(x[c[0] - '0'], y[c[1] - '0'], z[c[2] - '0']);
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
        for (int c = 0; c < 81; ++c)
            for (int row = r; row <= r + 1; ++row) {
                const ElevationPoint& p = elevationTable[81 * row + c];
                glTexCoord2d(0.05 * c, row == r ? 0.05 * r : (r + 1) / 20.0);
                glVertex3f(float(p.easting), float(p.elevation), float(p.northing));
            }
        glEnd();
    }
    recordCourseMarkers();
    glEndList();
    return list;
}
