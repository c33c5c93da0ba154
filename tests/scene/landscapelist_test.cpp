// The landscape's display list as OpenGL replays it: the terrain strips, then
// the course markers standing on the terrain.
#include "feedback.h"
#include "glcontext.h"

#include "elevationtable.h"
#include "landscape.h"
#include "tempdir.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace {

constexpr size_t kTerrainTriangles = 80 * 2 * 80;
constexpr double kTolerance = 0.1; // feedback positions, in table units

double entry(int row, int column)
{
    return elevationTable[81 * row + column].elevation;
}

struct Box {
    double x0 = 1e30, x1 = -1e30, y0 = 1e30, y1 = -1e30, z0 = 1e30, z1 = -1e30;
};

Box bounds(const FeedbackPolygon& p)
{
    Box b;
    for (const FeedbackVertex& v : p.vertices) {
        b.x0 = std::min(b.x0, v.x), b.x1 = std::max(b.x1, v.x);
        b.y0 = std::min(b.y0, v.y), b.y1 = std::max(b.y1, v.y);
        b.z0 = std::min(b.z0, v.z), b.z1 = std::max(b.z1, v.z);
    }
    return b;
}

// Marker polygons grouped back into quads (a quad may come back as two triangles).
std::vector<Box> markerQuads(const FeedbackResult& fb)
{
    std::vector<Box> quads;
    for (size_t i = kTerrainTriangles; i < fb.polygons.size(); ++i) {
        Box b = bounds(fb.polygons[i]);
        if (fb.polygons[i].vertices.size() == 3 && i + 1 < fb.polygons.size()) {
            const Box c = bounds(fb.polygons[++i]);
            b.x0 = std::min(b.x0, c.x0), b.x1 = std::max(b.x1, c.x1);
            b.y0 = std::min(b.y0, c.y0), b.y1 = std::max(b.y1, c.y1);
            b.z0 = std::min(b.z0, c.z0), b.z1 = std::max(b.z1, c.z1);
        }
        quads.push_back(b);
    }
    return quads;
}

class LandscapeList : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        context = new GlContext;
        ASSERT_TRUE(context->ok());
        landscape = new Landscape;
        list = landscape->buildList();
        feedback = new FeedbackResult(recordFeedback(list, 617000, 3750, 91700, 1500));
        glGetFloatv(GL_CURRENT_COLOR, colourAfter);
    }
    static void TearDownTestSuite()
    {
        glDeleteLists(list, 1);
        delete feedback;
        delete landscape;
        delete context;
    }

    static GlContext* context;
    static Landscape* landscape;
    static unsigned int list;
    static FeedbackResult* feedback;
    static float colourAfter[4];
};

GlContext* LandscapeList::context = nullptr;
Landscape* LandscapeList::landscape = nullptr;
unsigned int LandscapeList::list = 0;
FeedbackResult* LandscapeList::feedback = nullptr;
float LandscapeList::colourAfter[4] = {};

TEST_F(LandscapeList, HoldsTheTerrainStripsThenSeventyFiveMarkerQuads)
{
    ASSERT_NE(list, 0u);
    ASSERT_TRUE(feedback->ok);
    EXPECT_EQ(feedback->otherTokens, 0);
    ASSERT_GT(feedback->polygons.size(), kTerrainTriangles);
    for (size_t i = 0; i < kTerrainTriangles; ++i)
        ASSERT_EQ(feedback->polygons[i].vertices.size(), 3u) << "polygon " << i;
    EXPECT_EQ(countQuads(feedback->polygons, kTerrainTriangles, feedback->polygons.size()), 3 + 18 * 4);
}

TEST_F(LandscapeList, TerrainFollowsTheGridInWhiteWithTheSandRepeatingFourTimes)
{
    ASSERT_TRUE(feedback->ok);
    // The first strip's first triangle joins entries (0,0), (1,0) and (0,1).
    const FeedbackPolygon& first = feedback->polygons[0];
    auto has = [&](double x, double y, double z) {
        return std::any_of(first.vertices.begin(), first.vertices.end(), [&](const FeedbackVertex& v) {
            return std::fabs(v.x - x) < kTolerance && std::fabs(v.y - y) < kTolerance && std::fabs(v.z - z) < kTolerance;
        });
    };
    EXPECT_TRUE(has(616000, 3432.7, 92700));
    EXPECT_TRUE(has(616000, 3446.38, 92675));
    EXPECT_TRUE(has(616025, 3434.41, 92700));

    // Strip r covers northings 92700 - 25 r down to 92700 - 25 (r + 1), over all eastings.
    for (int r : {0, 41, 79}) {
        Box b;
        for (size_t i = size_t(r) * 160; i < size_t(r + 1) * 160; ++i) {
            const Box p = bounds(feedback->polygons[i]);
            b.x0 = std::min(b.x0, p.x0), b.x1 = std::max(b.x1, p.x1);
            b.z0 = std::min(b.z0, p.z0), b.z1 = std::max(b.z1, p.z1);
        }
        EXPECT_NEAR(b.x0, 616000, kTolerance);
        EXPECT_NEAR(b.x1, 618000, kTolerance);
        EXPECT_NEAR(b.z1, 92700 - 25 * r, kTolerance);
        EXPECT_NEAR(b.z0, 92700 - 25 * (r + 1), kTolerance);
    }

    float sMax = 0, tMax = 0;
    for (size_t i = 0; i < kTerrainTriangles; ++i)
        for (const FeedbackVertex& v : feedback->polygons[i].vertices) {
            ASSERT_FLOAT_EQ(v.r, 1.0f);
            ASSERT_FLOAT_EQ(v.g, 1.0f);
            ASSERT_FLOAT_EQ(v.b, 1.0f);
            // 0.05 per grid step: s follows the easting, t the row.
            ASSERT_FLOAT_EQ(v.s, float(0.05 * std::round((v.x - 616000) / 25)));
            ASSERT_FLOAT_EQ(v.t, float(0.05 * std::round((92700 - v.z) / 25)));
            sMax = std::max(sMax, v.s), tMax = std::max(tMax, v.t);
        }
    EXPECT_FLOAT_EQ(sMax, 4.0f);
    EXPECT_FLOAT_EQ(tMax, 4.0f);
}

TEST_F(LandscapeList, FinishGateStandsOnItsFootAndSpansTheFinishLine)
{
    const std::vector<Box> quads = markerQuads(*feedback);
    ASSERT_EQ(quads.size(), 75u);
    const double foot = entry(41, 72);
    EXPECT_NEAR(Landscape::heightAt(617800, 91675), 3507.79, 1e-3);
    const Box post1 = quads[0], banner = quads[1], post2 = quads[2];
    for (const Box& b : {post1, banner, post2}) {
        EXPECT_NEAR(b.x0, 617800, kTolerance);
        EXPECT_NEAR(b.x1, 617800, kTolerance);
    }
    EXPECT_NEAR(post1.y0, foot, kTolerance);
    EXPECT_NEAR(post1.y1, foot + 20, kTolerance);
    EXPECT_NEAR(post1.z0, 91675, kTolerance);
    EXPECT_NEAR(post1.z1, 91675.5, kTolerance);
    EXPECT_NEAR(banner.y0, foot + 18, kTolerance);
    EXPECT_NEAR(banner.z1, 91695.5, kTolerance);
    // The second post shares the first one's foot height, not the terrain's.
    EXPECT_NEAR(post2.y0, foot, kTolerance);
    EXPECT_NEAR(post2.z0, 91695.5, kTolerance);
    EXPECT_NEAR(post2.z1, 91696, kTolerance);
}

TEST_F(LandscapeList, SlalomFlagsStandOnTheTerrainAlongTheSinePath)
{
    const std::vector<Box> quads = markerQuads(*feedback);
    ASSERT_EQ(quads.size(), 75u);
    for (int k = 0; k < 18; ++k) {
        const double e = 617050 + 40 * k;
        const double s = std::sin((e - 617050) / 150);
        const double zL = s * 50 + 91685, zR = s * 50 + 91715;
        const Box& postL = quads[3 + 4 * k];
        const Box& clothL = quads[4 + 4 * k];
        const Box& postR = quads[5 + 4 * k];
        const Box& clothR = quads[6 + 4 * k];
        SCOPED_TRACE(k);
        for (const Box* b : {&postL, &clothL, &postR, &clothR}) {
            EXPECT_NEAR(b->x0, e, kTolerance);
            EXPECT_NEAR(b->x1, e, kTolerance);
        }
        EXPECT_NEAR(postL.z0, zL, kTolerance);
        EXPECT_NEAR(postL.z1, zL + 0.5, kTolerance);
        EXPECT_NEAR(postL.y0, Landscape::heightAt(float(e), float(zL)), kTolerance);
        EXPECT_NEAR(postL.y1 - postL.y0, 8, kTolerance);
        EXPECT_NEAR(clothL.z1, zL + 5.5, kTolerance);
        EXPECT_NEAR(clothL.y0, postL.y0 + 4, kTolerance);
        // The second flag stands on the terrain at its own northing.
        EXPECT_NEAR(postR.z0, zR, kTolerance);
        EXPECT_NEAR(postR.y0, Landscape::heightAt(float(e), float(zR)), kTolerance);
        EXPECT_NEAR(clothR.y1, postR.y0 + 8, kTolerance);
    }
    EXPECT_NEAR(quads[3].z0, 91685, kTolerance);
    EXPECT_NEAR(quads[5].z0, 91715, kTolerance);
    EXPECT_NEAR(quads.back().x0, 617730, kTolerance); // no gate at 617770
}

TEST_F(LandscapeList, MarkersTakeTheLastTerrainTexelAndLeaveRedCurrent)
{
    ASSERT_TRUE(feedback->ok);
    for (size_t i = kTerrainTriangles; i < feedback->polygons.size(); ++i) {
        const bool finish = bounds(feedback->polygons[i]).x0 > 617790;
        for (const FeedbackVertex& v : feedback->polygons[i].vertices) {
            ASSERT_FLOAT_EQ(v.s, 4.0f);
            ASSERT_FLOAT_EQ(v.t, 4.0f);
            ASSERT_FLOAT_EQ(v.r, 1.0f);
            ASSERT_FLOAT_EQ(v.g, finish ? 1.0f : 0.0f) << "polygon " << i;
            ASSERT_FLOAT_EQ(v.b, finish ? 1.0f : 0.0f) << "polygon " << i;
        }
    }
    EXPECT_FLOAT_EQ(colourAfter[0], 1.0f);
    EXPECT_FLOAT_EQ(colourAfter[1], 0.0f);
    EXPECT_FLOAT_EQ(colourAfter[2], 0.0f);
}

TEST_F(LandscapeList, GroundTextureIsTheSandPicture)
{
    GLint width = 0, height = 0;
    glBindTexture(GL_TEXTURE_2D, landscape->sand->textureId);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &width);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &height);
    EXPECT_EQ(width, 256);
    EXPECT_EQ(height, 256);
}

TEST(LandscapeWithoutPicture, GroundIsLeftUntexturedAndNothingFails)
{
    GlContext context;
    ASSERT_TRUE(context.ok());
    TempDir dir;
    WorkingDirectory into(dir.root());
    Landscape landscape;
    EXPECT_EQ(landscape.sand->image.getData(), nullptr);
    const unsigned int list = landscape.buildList();
    ASSERT_NE(list, 0u);
    glCallList(list);
    GLint width = -1;
    glBindTexture(GL_TEXTURE_2D, landscape.sand->textureId);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &width);
    EXPECT_EQ(width, 0);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    glDeleteLists(list, 1);
}

} // namespace
