#include "feedback.h"

#include <GL/gl.h>
#include <GL/glu.h>

FeedbackResult recordFeedback(unsigned int list, double cx, double cy, double cz, double reach)
{
    FeedbackResult result;
    std::vector<GLfloat> buffer(4'000'000);
    glFeedbackBuffer(GLsizei(buffer.size()), GL_3D_COLOR_TEXTURE, buffer.data());
    // A large viewport keeps window coordinates fine-grained.
    GLint savedViewport[4];
    glGetIntegerv(GL_VIEWPORT, savedViewport);
    glViewport(0, 0, 4096, 4096);
    glRenderMode(GL_FEEDBACK);

    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glOrtho(-2 * reach, 2 * reach, -2 * reach, 2 * reach, -3 * reach, 3 * reach);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    glRotated(25, 1, 0, 0);
    glRotated(35, 0, 1, 0);
    glTranslated(-cx, -cy, -cz);

    GLdouble model[16], projection[16];
    GLint viewport[4];
    glGetDoublev(GL_MODELVIEW_MATRIX, model);
    glGetDoublev(GL_PROJECTION_MATRIX, projection);
    glGetIntegerv(GL_VIEWPORT, viewport);

    glCallList(list);

    glPopMatrix();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    const GLint count = glRenderMode(GL_RENDER);
    glViewport(savedViewport[0], savedViewport[1], savedViewport[2], savedViewport[3]);
    if (count < 0)
        return result; // overflow

    auto vertex = [&](const GLfloat* v) {
        FeedbackVertex out{};
        gluUnProject(v[0], v[1], v[2], model, projection, viewport, &out.x, &out.y, &out.z);
        out.r = v[3], out.g = v[4], out.b = v[5];
        out.s = v[7], out.t = v[8];
        return out;
    };
    constexpr int kVertexFloats = 3 + 4 + 4;
    for (GLint i = 0; i < count;) {
        const GLint token = GLint(buffer[i]);
        if (token == GL_POLYGON_TOKEN) {
            const int n = int(buffer[i + 1]);
            FeedbackPolygon polygon;
            bool repeated = false;
            for (int k = 0; k < n; ++k) {
                const GLfloat* v = &buffer[i + 2 + k * kVertexFloats];
                for (int j = 0; j < k; ++j) {
                    const GLfloat* w = &buffer[i + 2 + j * kVertexFloats];
                    repeated = repeated || (v[0] == w[0] && v[1] == w[1] && v[2] == w[2]);
                }
                polygon.vertices.push_back(vertex(v));
            }
            if (repeated)
                ++result.degenerate;
            else
                result.polygons.push_back(std::move(polygon));
            i += 2 + n * kVertexFloats;
        } else if (token == GL_POINT_TOKEN || token == GL_BITMAP_TOKEN || token == GL_DRAW_PIXEL_TOKEN
            || token == GL_COPY_PIXEL_TOKEN) {
            ++result.otherTokens;
            i += 1 + kVertexFloats;
        } else if (token == GL_LINE_TOKEN || token == GL_LINE_RESET_TOKEN) {
            ++result.otherTokens;
            i += 1 + 2 * kVertexFloats;
        } else if (token == GL_PASS_THROUGH_TOKEN) {
            ++result.otherTokens;
            i += 2;
        } else {
            return result; // unknown token: the stream cannot be read on
        }
    }
    result.ok = true;
    return result;
}

int countQuads(const std::vector<FeedbackPolygon>& polygons, size_t first, size_t end)
{
    int quads = 0;
    for (size_t i = first; i < end; ++i) {
        const size_t n = polygons[i].vertices.size();
        if (n == 4) {
            ++quads;
        } else if (n == 3 && i + 1 < end && polygons[i + 1].vertices.size() == 3) {
            ++quads;
            ++i;
        } else {
            return -1;
        }
    }
    return quads;
}
