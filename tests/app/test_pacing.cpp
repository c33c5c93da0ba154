// The game's time: the motion follows the game clock whatever the frames cost,
// and a result is the game time of the tick that reached the finish.
#include "gamewindowtest.h"

#include <gtest/gtest.h>

namespace {

TEST(TicksDue, MakeUpTheWholePeriodsPassedOneToFiveAnEvent)
{
    const struct {
        qint64 elapsedMs, ticksRun;
        int due;
    } cases[] = {
        {0, 0, 1}, {19, 0, 1}, {20, 1, 1}, // early events still move once
        {20, 0, 1}, {40, 1, 1}, {59, 1, 1}, // on time
        {40, 0, 2}, {60, 0, 3}, {99, 0, 4}, {100, 0, 5}, // late
        {120, 0, 5}, {60000, 10, 5}, // a stall: five now, the rest at the next events
        {60000, 2998, 2}, {60000, 3000, 1}, {60000, 3002, 1}, // caught up, or ahead
    };
    for (const auto& c : cases)
        EXPECT_EQ(ticksDue(c.elapsedMs, c.ticksRun), c.due) << c.elapsedMs << " ms, " << c.ticksRun << " run";
}

// Where a run stands, and after how many ticks.
struct Place {
    float x, z, speed, steer;
    int ticks;
    bool operator==(const Place& o) const
    {
        return x == o.x && z == o.z && speed == o.speed && steer == o.steer && ticks == o.ticks;
    }
};

std::ostream& operator<<(std::ostream& out, const Place& p)
{
    return out << "x " << p.x << " z " << p.z << " speed " << p.speed << " steer " << p.steer << " ticks " << p.ticks;
}

class Pacing : public GameWindowTest {
protected:
    Place place() const
    {
        return {probe->eyeX(), probe->eyeZ(), probe->speed(), GameProbe::steerAngle(), probe->ticksRun()};
    }

    // Starts a run with `key` in a fresh window at game time 0.
    void start(int key)
    {
        open("Pingu");
        time.ms = 5000; // any origin: the clock counts from the start
        press(key);
        ASSERT_EQ(probe->state(), glWidget::Running);
    }
    // A timer event `ms` after the start.
    void eventAt(qint64 ms)
    {
        time.ms = 5000 + ms;
        probe->tick();
    }
};

// Up, then one Left at cruising speed at 480 ms, as a player would; the
// events come on time or late by whole or broken periods.
TEST_F(Pacing, LateEventsReachTheSamePlaceAtTheSameGameTime)
{
    struct Run {
        Place beforeLeft, end;
    };
    auto play = [&](int interval) {
        Run run{};
        start(Qt::Key_Up);
        for (int t = interval; t <= 720; t += interval) {
            eventAt(t);
            if (t == 480) {
                run.beforeLeft = place();
                press(Qt::Key_Left);
            }
        }
        run.end = place();
        return run;
    };
    const Run onTime = play(20);
    ASSERT_EQ(onTime.beforeLeft.ticks, 24);
    ASSERT_EQ(onTime.beforeLeft.speed, 10.25f) << "cruising";
    ASSERT_EQ(onTime.end.ticks, 36);
    ASSERT_LT(onTime.end.steer, 0.0f);
    for (int interval : {30, 40, 48, 60, 80}) {
        const Run late = play(interval);
        EXPECT_EQ(late.beforeLeft, onTime.beforeLeft) << interval << " ms apart";
        EXPECT_EQ(late.end, onTime.end) << interval << " ms apart";
    }
}

TEST_F(Pacing, AStallIsMadeUpFiveTicksAnEvent)
{
    start(Qt::Key_Space);
    const struct {
        qint64 at;
        int ticksRun;
    } events[] = {{20, 1}, {40, 2}, {200, 7}, {220, 11}, {240, 12}, {1000, 17}, {1005, 22}, {1010, 27}};
    for (const auto& e : events) {
        eventAt(e.at);
        EXPECT_EQ(probe->ticksRun(), e.ticksRun) << "event at " << e.at << " ms";
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
        probe->setSpeed(10.5f);
        probe->eyeX() = 6177900;
        probe->eyeZ() = 916850;
        for (int t = interval; probe->state() == glWidget::Running && t <= 2000; t += interval)
            eventAt(t);
        ASSERT_EQ(probe->state(), glWidget::Finished);
        EXPECT_FALSE(probe->timer()->isActive());
        EXPECT_EQ(probe->ticksRun(), 9);
        EXPECT_EQ(probe->eyeX(), 6177994.5f);
        EXPECT_EQ(probe->shownMinutes() * 60000 + probe->shownSeconds() * 1000 + probe->shownMilliseconds(), 180);
    }
}

} // namespace
