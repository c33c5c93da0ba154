// The scenery as the player sees it, with the game's frustum, camera rule and
// world scale, drawn into 640 x 480 pictures that are kept for people to look
// at (build/scene-*.png).
#include "glcontext.h"
#include "recordedlists.h"

#include "landscape.h"
#include "skybox.h"

#include <GL/gl.h>
#include <GL/glu.h>
#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace {

struct Share {
    double sky = 0, snow = 0, red = 0, black = 0;
};

// Sky: clearly blue. Snow: bright, from white to its blue and violet
// shadows. Red: a gate. Black: nothing drawn there.
Share measure(const QImage& picture, int x0, int y0, int x1, int y1)
{
    Share share;
    int total = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x, ++total) {
            const QColor c = picture.pixelColor(x, y);
            const int r = c.red(), g = c.green(), b = c.blue();
            if (b > r + 45 && b > 120)
                share.sky += 1;
            else if (r > 150 && g > 150 && b > 150)
                share.snow += 1;
            else if (r > 150 && g < 60 && b < 60)
                share.red += 1;
            if (r + g + b < 30)
                share.black += 1;
        }
    share.sky /= total, share.snow /= total, share.red /= total, share.black /= total;
    return share;
}

class View : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(context.ok());
        landscapeList = landscape.buildList();
        skyList = sky.buildList();
    }
    void TearDown() override
    {
        glDeleteLists(landscapeList, 1);
        glDeleteLists(skyList, 1);
    }

    // The game's camera over table position (x, z) heading east: 20 above the
    // ground, aiming 13 above the ground one table unit ahead.
    // Without the sky box, what it would cover stays black.
    QImage render(float x, float z, const std::string& name, bool withSky = true)
    {
        const QImage picture = draw(x, z, withSky ? skyList : 0, landscapeList);
        if (name.empty())
            return picture;
        const std::string path = std::string(FLOERUSH_OUTPUT_DIR) + "/" + name;
        EXPECT_TRUE(picture.save(QString::fromStdString(path))) << path;
        return picture;
    }

    QImage draw(float x, float z, unsigned int skyList, unsigned int landscapeList)
    {
        glEnable(GL_TEXTURE_2D);
        glEnable(GL_DEPTH_TEST);
        glDepthFunc(GL_LEQUAL);
        glClearColor(0, 0, 0, 0);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glFrustum(-1, 1, -1, 1, 1.5, 30000);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        const float eyeX = x * 10, eyeZ = z * 10, lookX = eyeX + 10, lookZ = eyeZ;
        const float eyeY = Landscape::heightAt(eyeX / 10, eyeZ / 10) * 5 + 20;
        const float lookY = Landscape::heightAt(lookX / 10, lookZ / 10) * 5;
        gluLookAt(eyeX, eyeY, eyeZ, lookX, lookY + 13, lookZ, 0, 5, 0);
        glPushMatrix();
        glScalef(10, 5, 10);
        if (skyList)
            glCallList(skyList);
        glCallList(landscapeList);
        glPopMatrix();
        glFinish();
        return context.grab();
    }

    GlContext context{640, 480};
    Landscape landscape;
    SkyBox sky;
    unsigned int landscapeList = 0, skyList = 0;
};

// The camera looks down the slope, so the horizon lies near the top edge.
// The summit rises just ahead to the south, on the left of the picture; to
// the north-east, beyond the run, the sky shows over far mountains.
TEST_F(View, FromTheStartLookingEast)
{
    const QImage picture = render(617000, 91700, "scene-start-view.png");
    ASSERT_EQ(picture.size(), QSize(640, 480));
    const Share summit = measure(picture, 0, 0, 160, 120);
    const Share beyond = measure(picture, 480, 0, 640, 40);
    const Share ground = measure(picture, 0, 384, 640, 480);
    const Share all = measure(picture, 0, 0, 640, 480);
    EXPECT_GT(summit.snow, 0.95) << "top left: the summit";
    EXPECT_GT(beyond.sky, 0.7) << "top right: sky";
    EXPECT_GT(ground.snow, 0.95) << "bottom fifth: snow";
    EXPECT_GT(all.sky, 0.03);
    EXPECT_GT(all.red, 0.0) << "the first gate";
    EXPECT_LT(all.black, 0.001) << "the sky box and the terrain cover the whole view";

    const QImage terrainOnly = render(617000, 91700, "", false);
    EXPECT_GT(measure(terrainOnly, 480, 0, 640, 40).black, 0.7) << "the sky box shows top right";
    EXPECT_EQ(measure(terrainOnly, 0, 0, 160, 120).black, 0.0) << "the summit hides it top left";
    EXPECT_EQ(measure(terrainOnly, 0, 384, 640, 480).black, 0.0);
}

// Half-way down the run the slope falls away ahead: the far mountains of the
// sky box across the top, the run with its gates below.
TEST_F(View, HalfWayDownTheRun)
{
    const QImage picture = render(617300, 91750, "scene-mid-run-view.png");
    const Share ground = measure(picture, 0, 384, 640, 480);
    const Share all = measure(picture, 0, 0, 640, 480);
    EXPECT_GT(ground.snow, 0.95) << "bottom fifth: snow";
    const QImage terrainOnly = render(617300, 91750, "", false);
    EXPECT_GT(measure(terrainOnly, 0, 0, 640, 20).black, 0.9) << "the sky box shows along the top";
    EXPECT_EQ(measure(terrainOnly, 0, 240, 640, 480).black, 0.0) << "the terrain fills the lower half";
    EXPECT_GT(all.red, 0.0) << "gates ahead";
    EXPECT_LT(all.black, 0.001);
}

// The lists bind pictures that were specified once; the lists first recorded
// specified them again at every call. Both draw the same pixels, wherever the
// camera stands and whichever list ran last.
TEST_F(View, ListsDrawThePixelsOfTheListsFirstRecorded)
{
    const unsigned int recordedSky = recordedSkyList(sky), recordedLandscape = recordedLandscapeList(landscape);
    const struct {
        float x, z;
    } places[] = {{617000, 91700}, {617300, 91750}, {617790, 91685}, {616150, 92550}, {617880, 90820}};
    for (const auto& p : places) {
        const QImage today = draw(p.x, p.z, skyList, landscapeList);
        const QImage recorded = draw(p.x, p.z, recordedSky, recordedLandscape);
        EXPECT_TRUE(today == recorded) << p.x << "," << p.z;
        EXPECT_TRUE(draw(p.x, p.z, skyList, landscapeList) == recorded) << p.x << "," << p.z << " after the first";
    }
    glDeleteLists(recordedSky, 1);
    glDeleteLists(recordedLandscape, 1);
}

} // namespace
