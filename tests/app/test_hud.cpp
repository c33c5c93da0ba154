// Frames read back from the real window: the texts of each state, in their
// colours at their places, a whole run from the start to the finish, and the
// descent as the player sees it at 1280 x 720 (kept as build/tests/app/descent-*.png).
#include "gamewindowtest.h"

#include "drawnterrain.h"

#include <gtest/gtest.h>

#include <QColor>
#include <QKeyEvent>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <vector>

namespace {

using Pixel = std::function<bool(QRgb)>;

const Pixel blue = [](QRgb p) { return qBlue(p) > 150 && qRed(p) < 60 && qGreen(p) < 60; };
const Pixel red = [](QRgb p) { return qRed(p) > 150 && qGreen(p) < 100 && qBlue(p) < 100; };
const Pixel magenta = [](QRgb p) { return qRed(p) > 150 && qBlue(p) > 150 && qGreen(p) < 80; };

// Pixels matching `colour` on a text line that starts at (x, y) in normalised
// device coordinates and runs `length` pixels to the right.
int textPixels(const QImage& frame, float x, float y, int length, const Pixel& colour)
{
    const int left = int((x + 1) / 2 * frame.width());
    const int baseline = int((1 - y) / 2 * frame.height());
    int count = 0;
    for (int py = qMax(0, baseline - 20); py < qMin(frame.height(), baseline + 6); ++py)
        for (int px = qMax(0, left - 2); px < qMin(frame.width(), left + length); ++px)
            count += colour(frame.pixel(px, py)) ? 1 : 0;
    return count;
}

using Hud = GameWindowTest;

TEST_F(Hud, EachStateShowsItsOwnTexts)
{
    open("Pingu");
    QImage frame = probe->frame();
    EXPECT_GT(textPixels(frame, -0.3f, -0.2f, 230, blue), 40) << "start prompt";
    EXPECT_EQ(textPixels(frame, -0.85f, 0.85f, 160, red), 0);

    press(Qt::Key_Space);
    frame = probe->frame();
    EXPECT_GT(textPixels(frame, -0.85f, 0.85f, 160, red), 40) << "running time";
    EXPECT_EQ(textPixels(frame, -0.3f, -0.2f, 230, blue), 0);

    finish();
    frame = probe->frame();
    EXPECT_GT(textPixels(frame, -0.05f, 0.35f, 60, blue), 20) << "name";
    EXPECT_GT(textPixels(frame, -0.5f, 0.2f, 560, magenta), 100) << "result";
    EXPECT_GT(textPixels(frame, -0.3f, -0.4f, 330, magenta), 80) << "keys";
    EXPECT_EQ(textPixels(frame, -0.85f, 0.85f, 160, red), 0);
    EXPECT_EQ(textPixels(frame, -0.3f, -0.2f, 230, blue), 0);
    frame.save(QCoreApplication::applicationDirPath() + "/hud-finished.png");
}

TEST_F(Hud, EmptyNameDrawsNothingButTheResult)
{
    open(QString());
    press(Qt::Key_Space);
    finish();
    const QImage frame = probe->frame();
    EXPECT_EQ(textPixels(frame, -0.05f, 0.35f, 60, blue), 0);
    EXPECT_GT(textPixels(frame, -0.5f, 0.2f, 560, magenta), 100);
    EXPECT_GT(textPixels(frame, -0.3f, -0.4f, 330, magenta), 80);
}

// The result is the game time of the tick that reached the finish, not the
// time last shown, and the frames after the finish repeat it.
TEST_F(Hud, TheResultIsTheTimeOfTheFinishingTickAndStays)
{
    open("Pingu");
    press(Qt::Key_Space);
    for (int i = 0; i < 7; ++i)
        probe->tick();
    time.ms = 187;
    probe->frame();
    EXPECT_EQ(probe->shownMilliseconds(), 187) << "the running time reads the clock";
    finish();
    const QImage first = probe->frame();
    time.ms += 30;
    window->resize(800, 600);
    const QImage second = probe->frame();
    EXPECT_EQ(probe->shownMinutes(), 0);
    EXPECT_EQ(probe->shownSeconds(), 0);
    EXPECT_EQ(probe->shownMilliseconds(), 7 * 20);
    EXPECT_GT(textPixels(first, -0.5f, 0.2f, 560, magenta), 100);
    EXPECT_GT(textPixels(second, -0.5f, 0.2f, 560, magenta), 100);
}

// The scripted run: start, reach cruising speed, one press of the left arrow
// (about 0.87 degrees towards the south) brings the point ahead through the
// finish gate.
TEST_F(Hud, ScriptedRunReachesTheFinish)
{
    open("Pingu");
    press(Qt::Key_Space); // the first key starts the run
    ASSERT_EQ(probe->state(), glWidget::Running);
    int ticks = 0;
    while (probe->speed() < 10.5f && ticks < 100) {
        probe->tick();
        ++ticks;
    }
    ASSERT_EQ(ticks, 21);
    press(Qt::Key_Left);
    EXPECT_NEAR(GameProbe::steerAngle(), -0.8696f, 1e-4f);
    while (probe->state() == glWidget::Running && ticks < 2000) {
        probe->tick();
        ++ticks;
    }
    ASSERT_EQ(probe->state(), glWidget::Finished) << "after " << ticks << " ticks";
    EXPECT_FALSE(probe->timer()->isActive());
    EXPECT_GE(probe->lookX(), 6178000.0f);
    EXPECT_GE(probe->lookZ(), 916750.0f);
    EXPECT_LE(probe->lookZ(), 916960.0f);
    EXPECT_LT(probe->eyeX(), 6178000.0f) << "the camera itself is still before the line";

    const QImage frame = probe->frame();
    EXPECT_GT(textPixels(frame, -0.05f, 0.35f, 60, blue), 20);
    EXPECT_GT(textPixels(frame, -0.5f, 0.2f, 560, magenta), 100);
    // One tick an event: the result is the game time of the ticks run.
    EXPECT_EQ(probe->shownMinutes() * 60000 + probe->shownSeconds() * 1000 + probe->shownMilliseconds(), ticks * 20);
    frame.save(QCoreApplication::applicationDirPath() + "/scripted-run-finish.png");
}

// --- the descent at 1280 x 720 -----------------------------------------------------

constexpr int kWidth = 1280, kHeight = 720;

double luminance(QRgb p)
{
    return 0.299 * qRed(p) + 0.587 * qGreen(p) + 0.114 * qBlue(p);
}

struct Text {
    float x, y;        // normalised device coordinates of the first character
    int length;        // pixels
    double hue;        // degrees
    bool besidePenguin; // the penguin stays clear of it
};

// The key line of the finish runs across the penguin: on the slope there the
// snow under the point ahead lies at y = -0.46, and the penguin stands on it.
const Text kPrompt = {-0.3f, -0.2f, 210, 240, true};
const Text kTime = {-0.85f, 0.85f, 130, 0, true};
const Text kName = {-0.05f, 0.35f, 50, 240, true};
const Text kResult = {-0.5f, 0.2f, 560, 300, true};
const Text kKeys = {-0.3f, -0.4f, 330, 300, false};

struct Box {
    int left, top, right, bottom;
    bool holds(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
};

Box boxOf(const Text& t)
{
    const int left = int((t.x + 1) / 2 * kWidth), baseline = int((1 - t.y) / 2 * kHeight);
    return {left - 2, baseline - 20, left + t.length, baseline + 6};
}

double hueDistance(double a, double b)
{
    const double d = std::fabs(a - b);
    return std::min(d, 360 - d);
}

struct DescentView {
    const char* name;
    float x, z;  // camera, table units (unused once finished)
    float steer; // degrees
    int state;
    std::vector<Text> texts;
    bool finishGateAhead;
};

const DescentView kDescent[] = {
    {"start", 617000, 91700, 0, glWidget::Waiting, {kPrompt}, false},
    {"gates", 617280, 91750, -2, glWidget::Running, {kTime}, false},
    {"finish-gate", 617770, 91688, -0.87f, glWidget::Running, {kTime}, true},
    {"finished", 0, 0, 0, glWidget::Finished, {kName, kResult, kKeys}, false},
};

// At each point: the texts keep their hues and stand out from the snow, the
// penguin stays clear of them, its lowest point lies on the ground, and the
// finish gate stands out from the snow in front of it.
//
// The ground line is taken from the elevation grid, not from the depth the
// terrain leaves in the frame: drawn at coordinates of some 6 000 000 in
// single precision, the terrain lands up to a few units off from frame to
// frame.
TEST_F(Hud, DescentAsThePlayerSeesIt)
{
    open("Pingu");
    for (const DescentView& v : kDescent) {
        SCOPED_TRACE(v.name);
        if (v.state != glWidget::Waiting && probe->state() == glWidget::Waiting)
            press(Qt::Key_Space);
        if (v.state == glWidget::Finished) {
            finishHere(*probe);
        } else {
            probe->eyeX() = v.x * 10;
            probe->eyeZ() = v.z * 10;
            probe->face(v.steer);
        }
        GLdouble modelview[16], projection[16];
        GLint viewport[4];
        const QImage frame = probe->offscreen(QSize(kWidth, kHeight), [&] {
            probe->paint();
            glGetDoublev(GL_MODELVIEW_MATRIX, modelview);
            glGetDoublev(GL_PROJECTION_MATRIX, projection);
            glGetIntegerv(GL_VIEWPORT, viewport);
        });
        ASSERT_EQ(probe->state(), v.state);
        EXPECT_TRUE(frame.save(QCoreApplication::applicationDirPath() + "/descent-" + v.name + ".png"));

        std::vector<GLfloat> depth(size_t(kWidth) * kHeight);
        const QImage penguin = probe->offscreen(QSize(kWidth, kHeight), [&] {
            glClearColor(1, 1, 1, 1);
            glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
            glClearColor(0, 0, 0, 0);
            probe->drawPart(GameProbe::Part::Penguin);
            glReadPixels(0, 0, kWidth, kHeight, GL_DEPTH_COMPONENT, GL_FLOAT, depth.data());
        });
        auto isPenguin = [&](int x, int y) { return qRed(penguin.pixel(x, y)) < 128; };

        for (const Text& t : v.texts) {
            const Box box = boxOf(t);
            std::vector<double> snow;
            double hueSum = 0, textLuminance = 0;
            int text = 0, overPenguin = 0;
            for (int y = box.top; y < box.bottom; ++y)
                for (int x = box.left; x < box.right; ++x) {
                    const QColor c = frame.pixelColor(x, y);
                    overPenguin += isPenguin(x, y);
                    if (c.hsvSaturationF() > 0.6 && c.valueF() > 0.35) {
                        ++text;
                        hueSum += c.hsvHue() > 180 && t.hue == 0 ? c.hsvHue() - 360 : c.hsvHue();
                        textLuminance += luminance(c.rgb());
                    } else {
                        snow.push_back(luminance(c.rgb()));
                    }
                }
            SCOPED_TRACE(testing::Message() << "text at " << t.x << ", " << t.y);
            ASSERT_GT(text, t.length / 5);
            EXPECT_LT(hueDistance(hueSum / text, t.hue), 12) << hueSum / text;
            std::nth_element(snow.begin(), snow.begin() + snow.size() / 2, snow.end());
            EXPECT_GT(snow[snow.size() / 2] - textLuminance / text, 80) << "readable on the snow";
            if (t.besidePenguin) {
                EXPECT_EQ(overPenguin, 0) << "the penguin stays clear of the text";
            }
        }

        // The penguin's lowest pixel, taken back into the world, lies on the ground.
        int lowX = -1, lowY = -1;
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x)
                if (isPenguin(x, y))
                    lowX = x, lowY = y;
        ASSERT_GE(lowY, 0) << "the penguin is in the picture";
        const int glY = kHeight - 1 - lowY;
        GLdouble wx, wy, wz;
        gluUnProject(lowX + 0.5, glY + 0.5, depth[size_t(glY) * kWidth + lowX], modelview, projection, viewport, &wx,
            &wy, &wz);
        EXPECT_NEAR(wy, drawnHeight(wx / 10, wz / 10) * 5, 1.0) << "above the snow at " << wx << ", " << wz;

        if (v.finishGateAhead) {
            // A quarter up the first post against the snow just in front of its foot.
            const double foot = Landscape::heightAt(617800, 91675);
            GLdouble px, py, pz, sx, sy, sz;
            gluProject(6178000, (foot + 5) * 5, 916752.5, modelview, projection, viewport, &px, &py, &pz);
            gluProject(6178000, foot * 5, 916752.5, modelview, projection, viewport, &sx, &sy, &sz);
            const QRgb gate = frame.pixel(int(px), kHeight - 1 - int(py));
            const QRgb snow = frame.pixel(int(sx), kHeight - 1 - int(sy) + 6);
            EXPECT_GT(std::fabs(luminance(gate) - luminance(snow)), 40)
                << "gate " << QColor(gate).name().toStdString() << ", snow " << QColor(snow).name().toStdString();
        }
    }
}

} // namespace
