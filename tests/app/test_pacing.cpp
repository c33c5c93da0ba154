// The game's time: the motion follows the game clock whatever the frames
// cost, and a result is the game time of the tick that reached the finish.
#include "gameprobe.h"

#include <tuple>

namespace {

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

class Pacing : public GameWindowTest {
protected:
    using Place = std::tuple<float, float, float, float, int>;
    Place place() const { return {probe->eyeX, probe->eyeZ, probe->speed, GameProbe::steerAngle(), probe->ticksRun}; }
    // Starts a run with `key` from the start point at game time 0 (any origin).
    void start(int key)
    {
        if (probe->state != glWidget::Waiting)
            probe->finishHere(), press(Qt::Key_F2);
        time.ms = 5000;
        press(key);
        ASSERT_EQ(probe->state, glWidget::Running);
    }
    // A timer event `ms` after the start, without its redraw.
    void eventAt(qint64 ms)
    {
        time.ms = 5000 + ms;
        ticks(1);
    }
};

// Up, then one Left at cruising speed at 480 ms, as a player would; the
// events come on time or late by whole or broken periods.
TEST_F(Pacing, LateEventsReachTheSamePlaceAtTheSameGameTime)
{
    Place onTime[2];
    for (int interval : {20, 30, 40, 48, 60, 80}) {
        SCOPED_TRACE(testing::Message() << interval << " ms apart");
        Place run[2];
        start(Qt::Key_Up);
        for (int t = interval; t <= 720; t += interval) {
            eventAt(t);
            if (t == 480)
                run[0] = place(), press(Qt::Key_Left);
        }
        run[1] = place();
        if (interval == 20) {
            ASSERT_EQ(std::get<4>(run[0]), 24);
            ASSERT_EQ(std::get<2>(run[0]), 10.25f) << "cruising";
            ASSERT_EQ(std::get<4>(run[1]), 36);
            ASSERT_LT(std::get<3>(run[1]), 0.0f);
            onTime[0] = run[0], onTime[1] = run[1];
        }
        EXPECT_EQ(run[0], onTime[0]);
        EXPECT_EQ(run[1], onTime[1]);
    }
}

// Cruising east inside the finish span, the point ahead reaches the finish
// line at the ninth tick. However late the events, the run stops there and
// its result is the game time of that tick.
TEST_F(Pacing, CatchingUpStopsAtTheTickThatReachesTheFinish)
{
    for (int interval : {20, 60, 100}) {
        SCOPED_TRACE(interval);
        start(Qt::Key_Space);
        probe->speed = 10.5f, probe->eyeX = 6177900, probe->eyeZ = 916850;
        for (int t = interval; probe->state == glWidget::Running && t <= 2000; t += interval)
            eventAt(t);
        ASSERT_EQ(probe->state, glWidget::Finished);
        EXPECT_FALSE(probe->timer->isActive());
        EXPECT_EQ(probe->ticksRun, 9);
        EXPECT_EQ(probe->eyeX, 6177994.5f);
        EXPECT_EQ(probe->shownMs(), 180);
    }
}

// The scripted run: start, reach cruising speed at the 21st tick, one press
// of the left arrow (about 0.87 degrees towards the south) brings the point
// ahead through the finish gate while the camera is still before the line.
TEST_F(Pacing, ScriptedRunReachesTheFinish)
{
    start(Qt::Key_Space);
    int n = 0;
    for (; probe->speed < 10.5f && n < 100; ++n)
        eventAt(20 * (n + 1));
    ASSERT_EQ(n, 21);
    press(Qt::Key_Left);
    EXPECT_NEAR(GameProbe::steerAngle(), -0.8696f, 1e-4f);
    for (; probe->state == glWidget::Running && n < 2000; ++n)
        eventAt(20 * (n + 1));
    ASSERT_EQ(probe->state, glWidget::Finished) << "after " << n << " ticks";
    EXPECT_GE(probe->lookX, 6178000.0f);
    EXPECT_GE(probe->lookZ, 916750.0f);
    EXPECT_LE(probe->lookZ, 916960.0f);
    EXPECT_LT(probe->eyeX, 6178000.0f);
    EXPECT_EQ(probe->shownMs(), n * 20);
}

} // namespace
