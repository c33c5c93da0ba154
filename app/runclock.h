// The game's time: the clock that a run is timed and paced by, and the rule
// that keeps the motion on that clock when frames are slow.
#pragma once

#include <QElapsedTimer>
#include <QtGlobal>

// Milliseconds on some time line; what a RunClock reads instead of its own
// timer when a test drives the game's time.
class TimeSource {
public:
    virtual qint64 now() const = 0;

protected:
    ~TimeSource() = default;
};

class RunClock {
public:
    // Counts from 0 from now on.
    void start();
    // Milliseconds since the last start(); 0 before the first.
    qint64 elapsed() const;
    // Reads `source` from now on (null: the clock's own monotonic timer). The
    // caller keeps the source alive while the clock reads it; start() again
    // before reading a new source.
    void setSource(const TimeSource* source);

private:
    QElapsedTimer m_timer;
    const TimeSource* m_source = nullptr;
    qint64 m_origin = 0;
    bool m_started = false;
};

constexpr int kTickMs = 20;          // one tick of motion per period of the game clock
constexpr int kMaxTicksPerEvent = 5; // catching up, at most this many in one timer event

// Ticks a timer event runs, `ticksRun` having run since the run started and
// `elapsedMs` having passed on its clock: as many as make up the whole periods
// passed, at least one (an event that comes a little early still moves the
// player once) and at most kMaxTicksPerEvent (a stall of the machine is made
// up over the next events instead of in one jump).
int ticksDue(qint64 elapsedMs, qint64 ticksRun);
