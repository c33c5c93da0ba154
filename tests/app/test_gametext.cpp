// The head-up texts' formatting.
#include "gametext.h"

#include <gtest/gtest.h>

#include <string>

TEST(GameText, ElapsedTimeSplitsAndFormats)
{
    char text[kTextBufferSize];
    struct Case { int ms; const char* shown; };
    const Case cases[] = {
        {0, "TIME:0,00,000"},
        {7005, "TIME:0,07,005"},
        {125042, "TIME:2,05,042"},
        {59999, "TIME:0,59,999"},
        {60000, "TIME:1,00,000"},
        {3600000 * 2 + 1, "TIME:120,00,001"},
    };
    for (const Case& c : cases) {
        formatTime(splitElapsed(c.ms), text);
        EXPECT_STREQ(text, c.shown) << c.ms;
    }
    const GameClock clock = splitElapsed(125042);
    EXPECT_EQ(clock.minutes, 2);
    EXPECT_EQ(clock.seconds, 5);
    EXPECT_EQ(clock.milliseconds, 42);
}

TEST(GameText, ResultRepeatsTheClock)
{
    char text[kTextBufferSize];
    formatResult(GameClock{1, 2, 3}, text);
    EXPECT_STREQ(text, "You finished the game in 1 minitus 2 seconds and 3 milliseconds");
    formatResult(GameClock{2147483647, 59, 999}, text); // the longest it can be still fits
    EXPECT_STREQ(text, "You finished the game in 2147483647 minitus 59 seconds and 999 milliseconds");
}

TEST(GameText, NameBecomesLatin1BytesAndIsCutToFit)
{
    char text[kTextBufferSize];
    formatName(QString(), text);
    EXPECT_STREQ(text, "");
    formatName(QString::fromUtf8("Gr\xc3\xbc" "n"), text); // u with diaeresis is one Latin-1 byte
    EXPECT_STREQ(text, "Gr\xfcn");
    // A character without a Latin-1 form converts to 0 and ends the text.
    formatName(QString::fromUtf8("Ab\xce\xa9" "cd"), text);
    EXPECT_STREQ(text, "Ab");

    const QString longName(150, QChar('x'));
    formatName(longName, text);
    EXPECT_EQ(std::string(text), std::string(kTextBufferSize - 1, 'x'));
    formatName(QString(103, QChar('y')), text);
    EXPECT_EQ(std::string(text).size(), 103u);
}
