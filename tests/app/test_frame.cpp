// The frames of today draw the pixels of the frame as first designed
// (recordedframe.h), bit for bit, in every state, wherever the player stands.
#include "gamewindowtest.h"
#include "recordedframe.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

// Pixels that differ, and where the first of them lies.
std::string difference(const QImage& a, const QImage& b)
{
    if (a.size() != b.size())
        return "sizes differ";
    int count = 0, fx = -1, fy = -1;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if (a.pixel(x, y) != b.pixel(x, y) && count++ == 0)
                fx = x, fy = y;
    if (count == 0)
        return std::string();
    return std::to_string(count) + " pixels, first at " + std::to_string(fx) + "," + std::to_string(fy);
}

using Frame = GameWindowTest;

TEST_F(Frame, DrawsThePixelsOfTheRecordedDesign)
{
    open("Pingu");
    RecordedFrame recorded(*probe);
    // Each situation sets up the window; both ways then draw a frame after one
    // frame of their own, so that each starts from the state its own frames
    // leave behind (the first frame ever starts from OpenGL's defaults).
    const struct {
        const char* situation;
        std::function<void()> setUp;
        bool firstFrame;
    } cases[] = {
        {"the first frame", [] {}, true},
        {"waiting", [] {}, false},
        {"running at the start", [&] { press(Qt::Key_Space); time.ms = 7005; }, false},
        {"mid-run in fog", [&] { probe->eyeX() = 6173000, probe->eyeZ() = 917100; press(Qt::Key_F); }, false},
        {"mid-run, fog off again", [&] { press(Qt::Key_F); }, false},
        {"before the finish gate", [&] { probe->eyeX() = 6177700, probe->eyeZ() = 916850; }, false},
        {"turned north by the north wall", [&] { probe->face(80), probe->eyeX() = 6175000, probe->eyeZ() = 925500; },
         false},
        {"turned south in the south-west corner",
         [&] { probe->face(-60), probe->eyeX() = 6161500, probe->eyeZ() = 908500; }, false},
        {"finished", [&] { probe->face(0); finish(); }, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.situation);
        c.setUp();
        auto fromDefaults = [&] {
            if (c.firstFrame) {
                window->makeCurrent();
                glBindTexture(GL_TEXTURE_2D, 0);
                glTexCoord4f(0, 0, 0, 1);
            }
        };
        fromDefaults();
        probe->frame();
        fromDefaults();
        const QImage today = probe->frame();
        fromDefaults();
        recorded.draw();
        fromDefaults();
        const QImage first = recorded.draw();
        ASSERT_EQ(today.size(), QSize(1920, 1080));
        EXPECT_EQ(difference(today, first), "");
    }
}

} // namespace
