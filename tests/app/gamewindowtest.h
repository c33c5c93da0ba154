// A test fixture that opens the real game window, the name prompt answered.
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
    }

    void press(int key) { pressKey(window.get(), key); }

    void finish()
    {
        finishHere(*probe);
        ASSERT_EQ(probe->state(), glWidget::Finished);
    }

    std::unique_ptr<glWidget> window;
    std::unique_ptr<GameProbe> probe;
};
