// The frame as the game first drew it: the scenery lists as first recorded
// (recordedlists.h), then the penguin, the texts and the scenery with the
// calls and in the order of that design. The frames of today must match it
// pixel for pixel.
#pragma once

#include "gameprobe.h"

class RecordedFrame {
public:
    // Records the lists from the window's pictures, in its context.
    explicit RecordedFrame(GameProbe& probe);
    ~RecordedFrame();
    RecordedFrame(const RecordedFrame&) = delete;
    RecordedFrame& operator=(const RecordedFrame&) = delete;

    // Draws a frame from the window's camera and state as the last frame left
    // them, changing none of them, and reads it back before it is shown.
    QImage draw();

private:
    void drawText(const char* text, float x, float y, float r, float g, float b);

    GameProbe& m_probe;
    unsigned int m_sky = 0, m_landscape = 0;
};
