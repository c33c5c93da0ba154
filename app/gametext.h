// The head-up texts of the game, formatted into the frame's text buffer.
#pragma once

#include <QString>

#include <cstddef>

// Bytes in the frame's text buffer: the longest text it holds, terminator included.
constexpr std::size_t kTextBufferSize = 104;

struct GameClock {
    int minutes = 0;
    int seconds = 0;
    int milliseconds = 0;
};

// Splits elapsed milliseconds into minutes, seconds (0..59) and milliseconds
// (0..999), truncating.
GameClock splitElapsed(int elapsedMs);

// "TIME:m,ss,mmm": minutes without leading zeros, seconds with two digits and
// milliseconds with three.
void formatTime(const GameClock& clock, char (&text)[kTextBufferSize]);

// The player's name as Latin-1 bytes, ended by the first character that has no
// Latin-1 form (it converts to 0); a name longer than the buffer is cut to fit.
void formatName(const QString& name, char (&text)[kTextBufferSize]);

// "You finished the game in m minitus s seconds and ms milliseconds".
void formatResult(const GameClock& clock, char (&text)[kTextBufferSize]);
