// The game window driven as a player would: keys, clicks, timer events and
// frames; the game clock that paces it, so that the motion follows the game
// time whatever the frames cost; the texts it formats.
#include "gameprobe.h"

#include <GL/freeglut.h>

#include <QSignalSpy>
#include <QSound>
#include <QSoundEffect>

#include <cmath>
#include <cstdio>
#include <string>
#include <tuple>

namespace {

// The course in world units: table units times 10.
constexpr float kMinX = 6161000, kMaxX = 6179000, kMinZ = 908000, kMaxZ = 926000;
constexpr float kStartX = 6170000, kStartZ = 917000;

float headingOf(double steer) { return float(steer / 180 * 3.14159); }

class Game : public GameWindowTest {
protected:
    void click(Qt::MouseButton button = Qt::LeftButton) { QTest::mouseClick(window.get(), button); }
};

TEST_F(Game, WaitsAtTheStartUntilTheFirstKeyOrClick)
{
    time.ms = 5000; // the clock reads 0 until the first start
    EXPECT_EQ(std::make_tuple(probe->state, probe->name, probe->clockElapsed(), window->windowTitle(),
                  bool(window->windowState() & Qt::WindowFullScreen), probe->timer->isActive()),
        std::make_tuple(int(glWidget::Waiting), QString("Pingu"), qint64(0), QString("FloeRush"), true, false));
    EXPECT_TRUE(probe->landscapeList && probe->skyList);
    click(Qt::RightButton); // the mouse starts but never steers
    EXPECT_EQ(std::make_tuple(probe->state, probe->clockElapsed(), probe->timer->isActive(), probe->timer->interval()),
        std::make_tuple(int(glWidget::Running), qint64(0), true, 20));
    click();
    EXPECT_TRUE(probe->speed == 0.0f && GameProbe::steerAngle() == 0.0f);

    // The GL set-up that the reference frame shares with the window's.
    window->makeCurrent();
    for (GLenum cap : {GL_TEXTURE_2D, GL_DEPTH_TEST, GL_VERTEX_ARRAY})
        EXPECT_TRUE(glIsEnabled(cap)) << cap;
    const struct { GLenum name; int index; float expected; } state[] = {{GL_DEPTH_FUNC, 0, GL_LEQUAL},
        {GL_SHADE_MODEL, 0, GL_SMOOTH}, {GL_FOG_MODE, 0, GL_EXP2}, {GL_FOG_HINT, 0, GL_NICEST},
        {GL_PERSPECTIVE_CORRECTION_HINT, 0, GL_NICEST}, {GL_FOG_COLOR, 3, 0.7f}, {GL_FOG_DENSITY, 0, 0.0005f}};
    for (const auto& c : state) {
        GLfloat value[4] = {};
        glGetFloatv(c.name, value);
        EXPECT_EQ(value[c.index], c.expected) << c.name;
    }
}

// One table for the keys of a run: speed and steering before, the key, after.
TEST_F(Game, KeysChangeSpeedAndSteeringWithinTheirLimits)
{
    press(Qt::Key_S); // the first key starts the run and is handled as a running key
    EXPECT_EQ(probe->speed, 40.0f);
    const struct { float speed, steer; int key; float speedAfter; double steerAfter; } cases[] = {
        {0, 0, Qt::Key_Left, 0, -10}, {0, -80, Qt::Key_Left, 0, -90}, {0, -85, Qt::Key_Left, 0, -90},
        {0, 80, Qt::Key_Right, 0, 90}, {0, 85, Qt::Key_Right, 0, 90},
        {10.5f, 90, Qt::Key_Left, 10.5f, 90 - 10.0 / 11.5}, {40, 5, Qt::Key_Right, 40, 5 + 10.0 / 41},
        {0, 0, Qt::Key_Up, 0.25f, 0}, {20, 0, Qt::Key_Up, 20.25f, 0}, {20.25f, 0, Qt::Key_Up, 20.25f, 0},
        {5, 0, Qt::Key_Down, 4, 0}, {5.5f, 0, Qt::Key_Down, 4.5f, 0}, {4.5f, 0, Qt::Key_Down, 4.5f, 0},
        {10, 0, Qt::Key_S, 40, 0}, {40, 3, Qt::Key_Space, 40, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "speed " << c.speed << ", steer " << c.steer << ", key " << c.key);
        probe->speed = c.speed;
        probe->face(c.steer);
        press(c.key);
        EXPECT_EQ(std::make_tuple(probe->speed, GameProbe::steerAngle(), probe->heading),
            std::make_tuple(c.speedAfter, float(c.steerAfter), headingOf(float(c.steerAfter))));
    }
    const bool fog = GameProbe::fogEnabled();
    for (bool expected : {!fog, fog}) {
        press(Qt::Key_F);
        window->makeCurrent();
        EXPECT_EQ(GameProbe::fogEnabled(), expected);
        EXPECT_EQ(bool(glIsEnabled(GL_FOG)), expected);
    }
    const auto before = std::make_tuple(GameProbe::glInitCount() + 1, probe->landscapeList, probe->skyList);
    probe->initializeAgain(); // a new context keeps the lists, and is counted
    EXPECT_EQ(std::make_tuple(GameProbe::glInitCount(), probe->landscapeList, probe->skyList), before);
}

TEST_F(Game, TicksRampTheSpeedAndKeepTheCameraOnTheCourse)
{
    click();
    ticks(20);
    EXPECT_EQ(probe->speed, 10.0f);
    ticks(1, true); // a tick redraws: the ground is followed at once; 0.5 + 1 + ... + 10.5 along +x
    EXPECT_EQ(std::make_tuple(probe->speed, probe->eyeX, probe->eyeY, probe->lookX, probe->lookY),
        std::make_tuple(10.5f, kStartX + 115.5f, float(double(Landscape::heightAt(617011.55f, 91700)) * 5 + 20),
            kStartX + 125.5f, float(double(Landscape::heightAt(617012.55f, 91700)) * 5)));
    press(Qt::Key_Down), press(Qt::Key_Down);
    ticks(4); // braking below 10 is undone by the ramp
    EXPECT_EQ(probe->speed, 10.5f);

    // Blocked on one axis the camera slides along the other; 10.5 a tick.
    const struct { float steer, x, z, xAfter, zAfter; } cases[] = {
        {0, kMaxX - 3, kStartZ, kMaxX, kStartZ}, {3.5f, kMaxX, kStartZ, kMaxX, kStartZ + 0.625f},
        {90, kStartX, kMaxZ - 0.5f, kStartX, kMaxZ}, {-90, kMinX, kMinZ + 5, kMinX, kMinZ},
        {-90, kMinX - 100, kStartZ, kMinX, kStartZ - 10.5f}, {180, kMinX + 1, kStartZ, kMinX, kStartZ},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "steer " << c.steer << " from " << c.x << ", " << c.z);
        probe->face(c.steer), probe->eyeX = c.x, probe->eyeZ = c.z;
        ticks(1);
        EXPECT_EQ(probe->eyeX, c.xAfter);
        EXPECT_NEAR(probe->eyeZ, c.zAfter, 0.07f); // one float step
        EXPECT_NEAR(probe->lookZ, c.zAfter + 10 * std::sin(headingOf(c.steer)), 0.07f) << "one table unit ahead";
    }
    // Straight on from the start, the run stops at the east bound unfinished:
    // 91700 lies north of the finish span.
    probe->face(0), probe->eyeX = 6177000, probe->eyeZ = kStartZ;
    ticks(200);
    EXPECT_EQ(std::make_tuple(probe->eyeX, probe->eyeZ, probe->state),
        std::make_tuple(kMaxX, kStartZ, int(glWidget::Running)));
}

// It is the point ahead, one table unit in front, that must enter the finish
// area (x from 617800, z 91675 to 91696, all inclusive).
TEST_F(Game, ThePointAheadEntersTheFinish)
{
    const struct { float eyeX, eyeZ; int state; } cases[] = {
        {6177995, 916800, glWidget::Finished}, {6177990, 916750, glWidget::Finished},
        {6177990, 916960, glWidget::Finished}, {6177989.5f, 916800, glWidget::Running},
        {6177990, 916749.9375f, glWidget::Running}, {6177990, 916960.0625f, glWidget::Running},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.eyeX << ", " << c.eyeZ);
        press(Qt::Key_F2), click();
        probe->eyeX = c.eyeX, probe->eyeZ = c.eyeZ;
        probe->frame();
        EXPECT_EQ(probe->lookX, c.eyeX + 10);
        EXPECT_EQ(probe->state, c.state);
        EXPECT_EQ(probe->timer->isActive(), c.state == glWidget::Running);
    }
}

TEST_F(Game, F2RestartsFromTheStartValuesOnceFinished)
{
    press(Qt::Key_Space);
    press(Qt::Key_F2); // not while running
    EXPECT_EQ(probe->state, glWidget::Running);
    ticks(30);
    press(Qt::Key_Right);
    probe->ticksRun = 3051;
    finish(); // the result is the game time of the finishing tick, not the clock's, and later frames repeat it
    time.ms += 30, window->resize(800, 600), probe->frame();
    EXPECT_EQ(std::make_tuple(probe->minutes, probe->seconds, probe->milliseconds), std::make_tuple(1, 1, 20));
    press(Qt::Key_Left); // no effect once finished
    EXPECT_EQ(GameProbe::steerAngle(), float(10.0 / 11.5));
    press(Qt::Key_F2); // the start values, and a redraw (lookX)
    EXPECT_EQ(std::make_tuple(probe->state, probe->eyeX, probe->eyeZ, probe->lookX, probe->heading,
                  GameProbe::steerAngle(), probe->speed, probe->ticksRun, probe->timer->isActive()),
        std::make_tuple(int(glWidget::Waiting), kStartX, kStartZ, kStartX + 10, 0.0f, 0.0f, 0.0f, 0, false));
    press(Qt::Key_Space); // one connection after the restart: a timeout moves once
    QMetaObject::invokeMethod(probe->timer, "timeout", Qt::DirectConnection);
    EXPECT_EQ(probe->speed, 0.5f);

    probe->eyeX = 6177995, probe->eyeZ = 916800;
    press(Qt::Key_F2); // its redraw finishes the run, and the same press restarts
    EXPECT_EQ(probe->state, glWidget::Waiting);
    EXPECT_EQ(probe->eyeX, kStartX);
}

// One sound in the whole program: every start plays it again from the
// beginning (a playing tune is stopped and started), never a second copy.
TEST_F(Game, EveryStartPlaysTheOneTuneFromTheBeginning)
{
    QSound* music = probe->music;
    ASSERT_NE(music, nullptr);
    auto* effect = music->findChild<QSoundEffect*>();
    ASSERT_NE(effect, nullptr);
    EXPECT_TRUE(music->isFinished()) << "silent until the first start";
    for (int start = 0; start < 3; ++start) {
        SCOPED_TRACE(start);
        QSignalSpy changes(effect, &QSoundEffect::playingChanged);
        press(Qt::Key_Space);
        EXPECT_EQ(changes.count(), start == 0 ? 1 : 2);
        EXPECT_EQ(qApp->findChildren<QSound*>().size() + window->findChildren<QSound*>().size(), 1);
        finish();
        EXPECT_FALSE(music->isFinished()) << "the finish leaves the tune playing";
        press(Qt::Key_F2);
    }
}

// Cruising east inside the finish span, the point ahead reaches the finish
// line at the ninth tick. However late the timer events, by whole or broken
// periods, the run stops there and its result is the game time of that tick.
TEST_F(Game, CatchingUpStopsAtTheTickThatReachesTheFinish)
{
    for (int interval : {20, 30, 48, 60, 100}) {
        SCOPED_TRACE(interval);
        time.ms = 5000; // any origin
        press(Qt::Key_Space);
        probe->speed = 10.5f, probe->eyeX = 6177900, probe->eyeZ = 916850;
        for (int t = interval; probe->state == glWidget::Running && t <= 2000; t += interval)
            time.ms = 5000 + t, ticks(1);
        EXPECT_EQ(std::make_tuple(probe->state, probe->timer->isActive(), probe->ticksRun, probe->eyeX,
                      probe->shownMs()), std::make_tuple(int(glWidget::Finished), false, 9, 6177994.5f, 180));
        press(Qt::Key_F2);
    }
}

TEST(TicksDue, MakeUpTheWholePeriodsPassedOneToFiveAnEvent)
{
    const struct { qint64 elapsedMs, ticksRun; int due; } cases[] = {
        {0, 0, 1}, {19, 0, 1}, {20, 1, 1}, // early events still move once
        {20, 0, 1}, {40, 1, 1}, {59, 1, 1}, // on time
        {40, 0, 2}, {60, 0, 3}, {99, 0, 4}, {100, 0, 5}, // late
        {120, 0, 5}, {60000, 10, 5}, // a stall: five now, the rest at the next events
        {60000, 2998, 2}, {60000, 3000, 1}, {60000, 3002, 1}, // caught up, or ahead
    };
    for (const auto& c : cases)
        EXPECT_EQ(ticksDue(c.elapsedMs, c.ticksRun), c.due) << c.elapsedMs << " ms, " << c.ticksRun << " run";
}

TEST(PenguinTilt, FollowsTheSlopeInWholeDegrees)
{
    const struct { double slope; int tilt; } cases[] = {{0, 360}, {10.5, 349}, {10, 350}, {30.2, 329}};
    for (const auto& c : cases)
        EXPECT_EQ(penguinTilt(float(-std::cos(c.slope * 3.14159265358979 / 180))), c.tilt) << c.slope;
}

TEST(NamePrompt, ShownBeforeTheWindowAndCancellable)
{
    QString seen;
    whenDialogOpens<QInputDialog>([&](QInputDialog* d) {
        seen = d->labelText() + "|" + d->windowTitle();
        for (QWidget* w : QApplication::topLevelWidgets())
            seen += qobject_cast<glWidget*>(w) && w->isVisible() ? "|the window is shown" : "";
        d->setTextValue("ignored"), d->reject();
    });
    glWidget w;
    EXPECT_EQ(seen, "Player Name:|Floe Rush");
    EXPECT_TRUE(GameProbe(w).name.isEmpty());
}

TEST(GameText, FormatsTheHeadUpTexts)
{
    char text[kTextBufferSize];
    const struct { int ms; const char* shown; } times[] = {{0, "TIME:0,00,000"}, {7005, "TIME:0,07,005"},
        {125042, "TIME:2,05,042"}, {59999, "TIME:0,59,999"}, {60000, "TIME:1,00,000"}, {7200001, "TIME:120,00,001"}};
    for (const auto& c : times) {
        formatTime(splitElapsed(c.ms), text);
        EXPECT_STREQ(text, c.shown) << c.ms;
    }
    formatResult(GameClock{2147483647, 59, 999}, text); // the longest it can be still fits
    EXPECT_STREQ(text, "You finished the game in 2147483647 minitus 59 seconds and 999 milliseconds");
    // Latin-1 bytes, ended by a character without a Latin-1 form, cut to 103.
    const struct { QString name; std::string shown; } names[] = {{QString(), ""},
        {QString::fromUtf8("Gr\xc3\xbcn"), "Gr\xfcn"}, {QString::fromUtf8("Ab\xce\xa9" "cd"), "Ab"},
        {QString(104, 'x'), std::string(103, 'x')}, {QString(103, 'y'), std::string(103, 'y')}};
    for (const auto& c : names) {
        formatName(c.name, text);
        EXPECT_EQ(std::string(text), c.shown);
    }
}

class GameExitDeathTest : public ::testing::Test {
protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

// Esc ends the process with 0 once the run is over too (the hostile-assets
// test presses it as the first key).
TEST_F(GameExitDeathTest, EscapeEndsWithZeroOnceFinished)
{
    EXPECT_EXIT(
        {
            answerNamePrompt("Quick");
            glWidget w;
            w.show();
            if (!QTest::qWaitForWindowExposed(&w))
                std::_Exit(6);
            GameProbe probe(w);
            pressKey(&w, Qt::Key_Space);
            probe.finishHere();
            if (probe.state != glWidget::Finished)
                std::_Exit(4);
            pressKey(&w, Qt::Key_Escape);
            std::_Exit(3);
        },
        ::testing::ExitedWithCode(0), "");
}

} // namespace

// The game loads audio and GL driver plugins whose process-lifetime blocks
// LeakSanitizer cannot attribute once they are unloaded, so this program does
// not look for leaks; every memory access is still checked.
extern "C" const char* __asan_default_options()
{
    return "detect_leaks=0";
}

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    // With no session bus, libdbus forks a bus launcher from one of Qt's
    // threads. Under the address sanitizer that fork can stop for ever on a
    // lock another thread held, and a game child of a death test with it.
    if (!qEnvironmentVariableIsSet("DBUS_SESSION_BUS_ADDRESS"))
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent");
    QApplication app(argc, argv);
    glutInit(&argc, argv);
    const int result = RUN_ALL_TESTS();
    // Qt 5 may still be loading the music; its sample cache would then wait
    // for the loading thread for ever in the QApplication destructor.
    std::fflush(stdout);
    std::_Exit(result);
}
