// The sky box's list: five textured quads around the landscape, each wall's
// picture upright to a viewer inside.
#include "feedback.h"
#include "glcontext.h"
#include "pictures.h"

#include "skybox.h"
#include "tempdir.h"

#include <GL/gl.h>
#include <GL/glu.h>
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

namespace {

constexpr double kTolerance = 0.1;

// Quadrants: top left red, top right green, bottom left blue, bottom right yellow.
Rgb quadrant(int x, int y)
{
    const bool right = x >= 4, bottom = y >= 4;
    if (!bottom)
        return right ? Rgb{0, 255, 0} : Rgb{255, 0, 0};
    return right ? Rgb{255, 255, 0} : Rgb{0, 0, 255};
}

class SkyBoxTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(context.ok());
        std::filesystem::create_directory(dir.path("data"));
        for (const char* name : {"f", "l", "r", "b", "u"})
            ASSERT_TRUE(writePicture(dir.path(std::string("data/") + name + ".bmp"), 8, 8, quadrant));
    }

    GlContext context{64, 64};
    TempDir dir;
};

struct Corner {
    float s, t;
    double x, y, z;
};

TEST_F(SkyBoxTest, ListHoldsFiveQuadsWithTheirCornersAndPictureCoordinates)
{
    WorkingDirectory into(dir.root());
    SkyBox sky;
    const unsigned int list = sky.buildList();
    ASSERT_NE(list, 0u);
    const FeedbackResult fb = recordFeedback(list, 617000, 4000, 91700, 1500);
    ASSERT_TRUE(fb.ok);
    EXPECT_EQ(fb.otherTokens, 0);
    ASSERT_EQ(countQuads(fb.polygons, 0, fb.polygons.size()), 5);

    const double X0 = 616050, X1 = 617950, Y0 = 3000, Y1 = 5000, Z0 = 90750, Z1 = 92650;
    // Drawing order: front, right, left, back, top.
    const Corner faces[5][4] = {
        {{0, 1, X0, Y0, Z0}, {1, 1, X1, Y0, Z0}, {1, 0, X1, Y1, Z0}, {0, 0, X0, Y1, Z0}},
        {{0, 1, X1, Y0, Z0}, {1, 1, X1, Y0, Z1}, {1, 0, X1, Y1, Z1}, {0, 0, X1, Y1, Z0}},
        {{0, 1, X0, Y0, Z1}, {1, 1, X0, Y0, Z0}, {1, 0, X0, Y1, Z0}, {0, 0, X0, Y1, Z1}},
        {{0, 1, X1, Y0, Z1}, {1, 1, X0, Y0, Z1}, {1, 0, X0, Y1, Z1}, {0, 0, X1, Y1, Z1}},
        {{0, 1, X0, Y1, Z0}, {1, 1, X1, Y1, Z0}, {1, 0, X1, Y1, Z1}, {0, 0, X0, Y1, Z1}},
    };
    const size_t perQuad = fb.polygons.size() / 5;
    for (int f = 0; f < 5; ++f) {
        // Every corner of the face, with its texture coordinate, comes back.
        for (const Corner& want : faces[f]) {
            bool found = false;
            for (size_t p = f * perQuad; p < (f + 1) * perQuad; ++p)
                for (const FeedbackVertex& v : fb.polygons[p].vertices)
                    found = found
                        || (std::fabs(v.x - want.x) < kTolerance && std::fabs(v.y - want.y) < kTolerance
                            && std::fabs(v.z - want.z) < kTolerance && v.s == want.s && v.t == want.t
                            && v.r == 1 && v.g == 1 && v.b == 1);
            EXPECT_TRUE(found) << "face " << f << " corner " << want.x << "," << want.y << "," << want.z;
        }
    }
    glDeleteLists(list, 1);
}

TEST_F(SkyBoxTest, MissingRoofPictureLeavesTheRoofWhiteAndTheWallsTextured)
{
    std::filesystem::remove(dir.path("data/u.bmp"));
    WorkingDirectory into(dir.root());
    SkyBox sky;
    const unsigned int list = sky.buildList();
    glCallList(list);
    for (int i = 0; i < 5; ++i) {
        glBindTexture(GL_TEXTURE_2D, sky.faces[i].textureId);
        GLint width = -1;
        glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &width);
        EXPECT_EQ(width, i == 4 ? 0 : 8) << "face " << i;
    }
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    glDeleteLists(list, 1);
}

// Standing in the middle of the box at elevation 4000, facing the front wall
// (towards smaller northings), the front picture shows upright, its left edge
// towards the west wall.
TEST_F(SkyBoxTest, FrontWallShowsItsPictureUprightToAViewerInside)
{
    WorkingDirectory into(dir.root());
    SkyBox sky;
    const unsigned int list = sky.buildList();
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glEnable(GL_TEXTURE_2D);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glFrustum(-1, 1, -1, 1, 1.5, 30000);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    gluLookAt(617000, 4000, 91700, 617000, 4000, 91000, 0, 1, 0);
    glCallList(list);
    glFinish();
    const QImage picture = context.grab();
    const struct {
        int x, y;
        Rgb colour;
    } expected[] = {{16, 16, {255, 0, 0}}, {48, 16, {0, 255, 0}}, {16, 48, {0, 0, 255}}, {48, 48, {255, 255, 0}}};
    for (const auto& e : expected) {
        const QColor c = picture.pixelColor(e.x, e.y);
        EXPECT_NEAR(c.red(), e.colour[0], 8) << e.x << "," << e.y;
        EXPECT_NEAR(c.green(), e.colour[1], 8) << e.x << "," << e.y;
        EXPECT_NEAR(c.blue(), e.colour[2], 8) << e.x << "," << e.y;
    }
    glDisable(GL_TEXTURE_2D);
    glDeleteLists(list, 1);
}

} // namespace
