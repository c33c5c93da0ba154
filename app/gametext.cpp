#include "gametext.h"

#include <cstdio>

GameClock splitElapsed(int elapsedMs)
{
    GameClock clock;
    clock.minutes = elapsedMs / 60000;
    clock.seconds = (elapsedMs / 1000) % 60;
    clock.milliseconds = elapsedMs % 1000;
    return clock;
}

void formatTime(const GameClock& clock, char (&text)[kTextBufferSize])
{
    std::snprintf(text, sizeof text, "TIME:%d,%.2d,%.3d", clock.minutes, clock.seconds, clock.milliseconds);
}

void formatName(const QString& name, char (&text)[kTextBufferSize])
{
    const int length = qMin(name.size(), int(kTextBufferSize) - 1);
    for (int i = 0; i < length; ++i)
        text[i] = name.at(i).toLatin1();
    text[length] = 0;
}

void formatResult(const GameClock& clock, char (&text)[kTextBufferSize])
{
    // The wording, spelling included, is what players of earlier versions know.
    std::snprintf(text, sizeof text, "You finished the game in %d minitus %d seconds and %d milliseconds",
                  clock.minutes, clock.seconds, clock.milliseconds);
}
