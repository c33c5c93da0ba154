// Frames read back from the real window: the texts of each state, in their
// colours at their places, and a whole run from the start to the finish.
#include "gamewindowtest.h"

#include <gtest/gtest.h>

#include <QKeyEvent>
#include <QTest>

#include <functional>
#include <memory>

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

} // namespace
