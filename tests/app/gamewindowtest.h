// A test fixture that opens the real game window, the name prompt answered,
// its game clock driven by the test: it stands still unless `time` is moved,
// so every timer event runs one tick.
#pragma once

#include "gameprobe.h"

#include <gtest/gtest.h>

#include <QTest>

#include <memory>

class GameWindowTest : public ::testing::Test {
protected:
    void open(const QString& name)
    {
        answerNamePrompt(name);
        window = std::make_unique<glWidget>();
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        probe = std::make_unique<GameProbe>(GameProbe{*window});
        probe->driveClock(&time);
    }

    void press(int key) { pressKey(window.get(), key); }

    void finish()
    {
        finishHere(*probe);
        ASSERT_EQ(probe->state(), glWidget::Finished);
    }

    DrivenTime time;
    std::unique_ptr<glWidget> window;
    std::unique_ptr<GameProbe> probe;
};
