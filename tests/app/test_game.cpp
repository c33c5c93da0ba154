// The game window, driven as a player would: keys, clicks, timer ticks, frames.
#include "gamewindowtest.h"

#include <GL/freeglut.h>
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QSound>
#include <QSoundEffect>
#include <QTest>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <unistd.h>

namespace {

// World units: the course and the finish area in table units times 10.
constexpr float kMinX = 6161000, kMaxX = 6179000, kMinZ = 908000, kMaxZ = 926000;

class Game : public GameWindowTest {
protected:
    void SetUp() override { open("Pingu"); }

    void click(Qt::MouseButton button = Qt::LeftButton) { QTest::mouseClick(window.get(), button); }

    void ticks(int n)
    {
        for (int i = 0; i < n; ++i)
            probe->tick();
    }
};

// --- states, keys and the mouse -----------------------------------------------------

TEST_F(Game, StartsWaitingAtTheStartPoint)
{
    EXPECT_EQ(probe->state(), glWidget::Waiting);
    EXPECT_EQ(probe->name(), "Pingu");
    EXPECT_EQ(probe->speed(), 0.0f);
    EXPECT_EQ(probe->heading(), 0.0f);
    EXPECT_EQ(GameProbe::steerAngle(), 0.0f);
    EXPECT_EQ(probe->eyeX(), 6170000.0f);
    EXPECT_EQ(probe->eyeZ(), 917000.0f);
    EXPECT_FALSE(probe->timer()->isActive());
    EXPECT_EQ(window->windowTitle(), "FloeRush");
    EXPECT_TRUE(window->windowState() & Qt::WindowFullScreen);
    EXPECT_NE(probe->landscapeList(), 0u);
    EXPECT_NE(probe->skyList(), 0u);
}

TEST_F(Game, FirstKeyStartsAndIsHandledAsARunningKey)
{
    press(Qt::Key_S);
    EXPECT_EQ(probe->state(), glWidget::Running);
    EXPECT_EQ(probe->speed(), 40.0f);
    EXPECT_TRUE(probe->timer()->isActive());
    EXPECT_EQ(probe->timer()->interval(), 20);
}

TEST_F(Game, MouseStartsButNeverSteers)
{
    click(Qt::RightButton);
    EXPECT_EQ(probe->state(), glWidget::Running);
    EXPECT_EQ(GameProbe::steerAngle(), 0.0f);
    EXPECT_EQ(probe->speed(), 0.0f);
    click();
    EXPECT_EQ(probe->state(), glWidget::Running);
    EXPECT_EQ(probe->speed(), 0.0f);
}

TEST_F(Game, SteeringStepShrinksWithSpeedAndStopsAtTheLimits)
{
    press(Qt::Key_Left); // starts, then steers by 10 at standstill
    EXPECT_EQ(GameProbe::steerAngle(), -10.0f);
    EXPECT_EQ(probe->heading(), float(-10.0 / 180 * 3.14159));
    for (int i = 0; i < 20; ++i)
        press(Qt::Key_Left);
    EXPECT_EQ(GameProbe::steerAngle(), -90.0f);
    EXPECT_EQ(probe->heading(), float(-90.0 / 180 * 3.14159));

    for (int i = 0; i < 17; ++i)
        press(Qt::Key_Right);
    EXPECT_EQ(GameProbe::steerAngle(), 80.0f);
    press(Qt::Key_Right);
    press(Qt::Key_Right);
    EXPECT_EQ(GameProbe::steerAngle(), 90.0f);

    probe->setSpeed(10.5f);
    press(Qt::Key_Left);
    EXPECT_EQ(GameProbe::steerAngle(), float(90.0 - 10.0 / 11.5));
    probe->setSpeed(40);
    press(Qt::Key_Left);
    EXPECT_EQ(GameProbe::steerAngle(), float(double(float(90.0 - 10.0 / 11.5)) - 10.0 / 41));
}

TEST_F(Game, SpeedKeysTestTheirLimitsBeforeTheChange)
{
    press(Qt::Key_Up);
    EXPECT_EQ(probe->speed(), 0.25f);
    probe->setSpeed(20);
    press(Qt::Key_Up);
    EXPECT_EQ(probe->speed(), 20.25f);
    press(Qt::Key_Up);
    EXPECT_EQ(probe->speed(), 20.25f);

    probe->setSpeed(10.5f);
    press(Qt::Key_Down);
    press(Qt::Key_Down);
    press(Qt::Key_Down);
    press(Qt::Key_Down);
    press(Qt::Key_Down);
    press(Qt::Key_Down);
    EXPECT_EQ(probe->speed(), 4.5f);
    press(Qt::Key_Down);
    EXPECT_EQ(probe->speed(), 4.5f);

    press(Qt::Key_S);
    EXPECT_EQ(probe->speed(), 40.0f);
    press(Qt::Key_Up);
    EXPECT_EQ(probe->speed(), 40.0f);
}

TEST_F(Game, FogKeyTogglesGlFog)
{
    press(Qt::Key_Space); // start
    const bool before = GameProbe::fogEnabled();
    press(Qt::Key_F);
    EXPECT_NE(GameProbe::fogEnabled(), before);
    window->makeCurrent();
    EXPECT_EQ(bool(glIsEnabled(GL_FOG)), GameProbe::fogEnabled());
    press(Qt::Key_F);
    EXPECT_EQ(GameProbe::fogEnabled(), before);
    window->makeCurrent();
    EXPECT_EQ(bool(glIsEnabled(GL_FOG)), before);
}

TEST_F(Game, InitializingAgainKeepsTheListsAndCountsIt)
{
    const GLuint landscape = probe->landscapeList(), sky = probe->skyList();
    const int count = GameProbe::glInitCount();
    probe->initializeAgain();
    EXPECT_EQ(probe->landscapeList(), landscape);
    EXPECT_EQ(probe->skyList(), sky);
    EXPECT_EQ(GameProbe::glInitCount(), count + 1);
    probe->initializeAgain();
    EXPECT_EQ(GameProbe::glInitCount(), count + 2);
}

// --- motion ----------------------------------------------------------------------------

TEST_F(Game, SpeedRampsToTenAndAHalfAtTheTwentyFirstTick)
{
    click();
    ticks(20);
    EXPECT_EQ(probe->speed(), 10.0f);
    ticks(1);
    EXPECT_EQ(probe->speed(), 10.5f);
    ticks(5);
    EXPECT_EQ(probe->speed(), 10.5f);
    // Straight along +x: 0.5 + 1 + ... + 10.5 and then 5 x 10.5 world units.
    EXPECT_EQ(probe->eyeX(), 6170000.0f + 115.5f + 52.5f);
    EXPECT_EQ(probe->eyeZ(), 917000.0f);
}

TEST_F(Game, BrakingBelowTenIsUndoneByTheRamp)
{
    click();
    ticks(21);
    press(Qt::Key_Down);
    press(Qt::Key_Down);
    EXPECT_EQ(probe->speed(), 8.5f);
    ticks(4);
    EXPECT_EQ(probe->speed(), 10.5f);
}

TEST_F(Game, CourseBoundsHoldOneAxisWhileTheOtherMoves)
{
    click();
    probe->setSpeed(10.5f);
    probe->eyeX() = kMaxX - 3;
    ticks(1);
    EXPECT_EQ(probe->eyeX(), kMaxX);
    ticks(3);
    EXPECT_EQ(probe->eyeX(), kMaxX);

    for (int i = 0; i < 4; ++i)
        press(Qt::Key_Right); // about 3.5 degrees towards +z
    const float z = probe->eyeZ();
    ticks(2);
    EXPECT_EQ(probe->eyeX(), kMaxX);
    EXPECT_GT(probe->eyeZ(), z);

    probe->eyeZ() = kMaxZ - 0.5f;
    ticks(1);
    EXPECT_EQ(probe->eyeZ(), kMaxZ);

    // Lowest bounds: facing -90 degrees the player moves along z only.
    probe->setSpeed(0); // steering steps of 10 degrees
    GameProbe::setSteerAngle(-80);
    press(Qt::Key_Left);
    press(Qt::Key_Left);
    EXPECT_EQ(GameProbe::steerAngle(), -90.0f);
    probe->setSpeed(10.5f);
    probe->eyeX() = kMinX;
    probe->eyeZ() = kMinZ + 5;
    ticks(1);
    EXPECT_EQ(probe->eyeZ(), kMinZ);
    EXPECT_EQ(probe->eyeX(), kMinX);
    probe->eyeX() = kMinX - 100;
    ticks(1);
    EXPECT_EQ(probe->eyeX(), kMinX);
}

TEST_F(Game, StraightRunStopsAtTheEastBoundWithoutFinishing)
{
    click();
    probe->setSpeed(10.5f);
    probe->eyeX() = 6177000;
    ticks(200);
    EXPECT_EQ(probe->eyeX(), kMaxX);
    EXPECT_EQ(probe->eyeZ(), 917000.0f);
    EXPECT_EQ(probe->state(), glWidget::Running); // 91700 lies north of the finish span
    EXPECT_TRUE(probe->timer()->isActive());
}

TEST_F(Game, TheAheadPointNotTheCameraEntersTheFinish)
{
    click();
    probe->eyeX() = 6177995; // camera 0.5 table units before the line
    probe->eyeZ() = 916800;
    probe->frame();
    EXPECT_EQ(probe->lookX(), 6178005.0f);
    EXPECT_EQ(probe->state(), glWidget::Finished);
    EXPECT_FALSE(probe->timer()->isActive());

    // The span is inclusive at both ends, and nothing outside it counts.
    struct Case { float lookZ; int state; };
    const Case cases[] = {{916750, glWidget::Finished}, {916960, glWidget::Finished},
                          {916749.9375f, glWidget::Running}, {916960.0625f, glWidget::Running}};
    for (const Case& c : cases) {
        press(Qt::Key_F2);
        click();
        probe->eyeX() = 6177990;
        probe->eyeZ() = c.lookZ;
        probe->frame();
        EXPECT_EQ(probe->state(), c.state) << c.lookZ;
    }
}

TEST_F(Game, GroundFollowingPutsCameraAndPenguinOnTheTerrain)
{
    probe->frame();
    EXPECT_EQ(probe->lookX(), 6170010.0f);
    EXPECT_EQ(probe->lookZ(), 917000.0f);
    EXPECT_EQ(probe->eyeY(), float(double(Landscape::heightAt(617000, 91700)) * 5 + 20));
    EXPECT_EQ(probe->lookY(), float(double(Landscape::heightAt(617001, 91700)) * 5));
}

TEST_F(Game, F2RestoresTheStartValuesAndRestartsCleanly)
{
    press(Qt::Key_Space);
    press(Qt::Key_F);
    const bool fog = GameProbe::fogEnabled();
    ticks(30);
    press(Qt::Key_Right);
    finish();

    press(Qt::Key_Left); // no effect once finished
    EXPECT_EQ(probe->state(), glWidget::Finished);
    press(Qt::Key_F2);
    EXPECT_EQ(probe->state(), glWidget::Waiting);
    EXPECT_EQ(probe->eyeX(), 6170000.0f);
    EXPECT_EQ(probe->eyeZ(), 917000.0f);
    EXPECT_EQ(probe->heading(), 0.0f);
    EXPECT_EQ(GameProbe::steerAngle(), 0.0f);
    EXPECT_EQ(probe->speed(), 0.0f);
    EXPECT_EQ(probe->ticksRun(), 0);
    EXPECT_EQ(GameProbe::fogEnabled(), fog);
    EXPECT_FALSE(probe->timer()->isActive());

    // One connection after the restart: a timeout advances the speed once.
    press(Qt::Key_Space);
    EXPECT_TRUE(probe->timer()->isActive());
    QMetaObject::invokeMethod(probe->timer(), "timeout", Qt::DirectConnection);
    EXPECT_EQ(probe->speed(), 0.5f);
    press(Qt::Key_F); // leave fog as other tests expect to find it
}

// One sound in the whole program: every start plays it again from the
// beginning (a playing tune is stopped and started), never a second copy.
TEST_F(Game, EveryStartPlaysTheOneTuneFromTheBeginning)
{
    const auto sounds = [&] { return qApp->findChildren<QSound*>().size() + window->findChildren<QSound*>().size(); };
    QSound* music = probe->music();
    ASSERT_NE(music, nullptr);
    auto* effect = music->findChild<QSoundEffect*>();
    ASSERT_NE(effect, nullptr);
    EXPECT_TRUE(music->isFinished()) << "silent until the first start";
    for (int start = 0; start < 3; ++start) {
        SCOPED_TRACE(start);
        QSignalSpy changes(effect, &QSoundEffect::playingChanged);
        press(Qt::Key_Space);
        EXPECT_FALSE(music->isFinished());
        EXPECT_EQ(changes.count(), start == 0 ? 1 : 2);
        EXPECT_EQ(sounds(), 1);
        finish();
        EXPECT_FALSE(music->isFinished()) << "the finish leaves the tune playing";
        press(Qt::Key_F2);
    }
}

TEST_F(Game, F2WhileRunningRestartsOnlyIfThatFrameFinishes)
{
    press(Qt::Key_Space);
    press(Qt::Key_F2);
    EXPECT_EQ(probe->state(), glWidget::Running);

    probe->eyeX() = 6177995;
    probe->eyeZ() = 916800;
    press(Qt::Key_F2); // its redraw finishes the run, and the same press restarts
    EXPECT_EQ(probe->state(), glWidget::Waiting);
    EXPECT_EQ(probe->eyeX(), 6170000.0f);
}

// --- the penguin's tilt -------------------------------------------------------------------

TEST(PenguinTilt, FollowsTheSlopeInWholeDegrees)
{
    EXPECT_EQ(penguinTilt(-1.0f), 360);
    const double degree = 3.14159265358979 / 180;
    EXPECT_EQ(penguinTilt(float(-std::cos(10.5 * degree))), 349);
    EXPECT_EQ(penguinTilt(float(-std::cos(10.0 * degree))), 350);
    EXPECT_EQ(penguinTilt(float(-std::cos(30.2 * degree))), 329);
}

// --- the name prompt ----------------------------------------------------------------------

TEST(NamePrompt, ShownBeforeTheWindowAndCancellable)
{
    bool windowVisibleDuringPrompt = true;
    QString label;
    whenDialogOpens<QInputDialog>([&](QInputDialog* d) {
        windowVisibleDuringPrompt = false;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (qobject_cast<glWidget*>(w) && w->isVisible())
                windowVisibleDuringPrompt = true;
        label = d->labelText() + "|" + d->windowTitle();
        d->setTextValue("ignored");
        d->reject();
    });
    glWidget w;
    GameProbe probe{w};
    EXPECT_FALSE(windowVisibleDuringPrompt);
    EXPECT_EQ(label, "Player Name:|Floe Rush");
    EXPECT_TRUE(probe.name().isEmpty());
}

// --- ways out of the process ----------------------------------------------------------------

class GameExitDeathTest : public ::testing::Test {
protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST_F(GameExitDeathTest, EscapeAsFirstKeyStartsAndEnds)
{
    EXPECT_EXIT(
        {
            answerNamePrompt("Quick");
            glWidget w;
            w.show();
            if (!QTest::qWaitForWindowExposed(&w))
                std::_Exit(6);
            pressKey(&w, Qt::Key_Escape);
            std::_Exit(3);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(GameExitDeathTest, EscapeEndsAFinishedGame)
{
    EXPECT_EXIT(
        {
            answerNamePrompt("Quick");
            glWidget w;
            w.show();
            if (!QTest::qWaitForWindowExposed(&w))
                std::_Exit(6);
            GameProbe probe{w};
            pressKey(&w, Qt::Key_Space);
            finishHere(probe);
            if (probe.state() != glWidget::Finished)
                std::_Exit(4);
            pressKey(&w, Qt::Key_Escape);
            std::_Exit(3);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(GameExitDeathTest, MissingModelShowsTheWarningAndEndsWithZero)
{
    // The tests folder has no data/ folder of its own.
    const std::string elsewhere = std::string(std::getenv("FLOERUSH_SOURCE_DIR")) + "/tests";
    EXPECT_EXIT(
        {
            if (chdir(elsewhere.c_str()) != 0)
                std::_Exit(5);
            whenDialogOpens<QMessageBox>([](QMessageBox* box) {
                QString text = box->text();
                text.replace("\n", "<br>");
                std::fprintf(stderr, "[%s] [%s] buttons=%d\n", qPrintable(box->windowTitle()), qPrintable(text),
                             int(box->standardButtons()));
                box->button(QMessageBox::Ok)->click();
            });
            glWidget w; // never gets past the warning
            std::_Exit(3);
        },
        ::testing::ExitedWithCode(0),
        "\\[Application\\] \\[Unable to load file <br>: \\./data/penguin\\.3ds\\.\\] buttons=1024");
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
    // A test that started a run may end while Qt 5 still loads the music; the
    // QApplication destructor then deletes the sound and Qt's sample cache waits
    // for its loading thread, which nothing tells to stop: the program never
    // ends. Everything is checked by now, so leave without destructors.
    std::fflush(stdout);
    std::_Exit(result);
}
