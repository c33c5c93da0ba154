// The compiled-in elevation grid: its layout, the entries the game relies on,
// and the shape of the mountain the course runs down.
#include "elevationtable.h"
#include "landscape.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

const ElevationPoint& at(int row, int column)
{
    return elevationTable[81 * row + column];
}

TEST(ElevationTable, IsARegularGridFromNorthWestRowByRow)
{
    static_assert(sizeof(ElevationPoint) == 24);
    static_assert(sizeof(elevationTable) == 157464);
    for (int r = 0; r < 81; ++r)
        for (int c = 0; c < 81; ++c) {
            ASSERT_EQ(at(r, c).easting, 616000.0 + 25 * c) << r << "," << c;
            ASSERT_EQ(at(r, c).northing, 92700.0 - 25 * r) << r << "," << c;
        }
}

TEST(ElevationTable, HoldsTheFixedEntriesExactly)
{
    struct Fixed {
        int r, c;
        double elevation;
    };
    const Fixed fixed[] = {
        {0, 0, 3432.7}, {0, 1, 3434.41}, {0, 2, 3431.7}, {0, 80, 3066.69}, {1, 0, 3446.38}, {1, 1, 3448.7},
        {40, 40, 4460.78}, {41, 42, 4478.0}, {41, 72, 3507.79}, {80, 0, 3257.72}, {80, 66, 3036.8},
        {80, 80, 3156.11},
    };
    for (const Fixed& f : fixed)
        EXPECT_EQ(at(f.r, f.c).elevation, f.elevation) << f.r << "," << f.c;
}

TEST(ElevationTable, ValuesStayInsideTheSkyBoxWithUniqueExtremes)
{
    int highest = 0, lowest = 0;
    int bands[6] = {};
    for (int k = 0; k < 81 * 81; ++k) {
        const double h = elevationTable[k].elevation;
        ASSERT_GT(h, 3000.0) << k;
        ASSERT_LT(h, 5000.0) << k;
        // At most two decimals.
        ASSERT_NEAR(h * 100, std::round(h * 100), 1e-6) << k;
        highest += h >= 4478.0;
        lowest += h <= 3036.8;
        if (h < 4500)
            ++bands[int((h - 3000) / 250)];
    }
    EXPECT_EQ(highest, 1);
    EXPECT_EQ(lowest, 1);
    for (int b = 0; b < 6; ++b)
        EXPECT_GT(bands[b], 0) << "band from " << 3000 + 250 * b;
}

// The mountain falls away from the summit on every side: along each of eight
// directions the ground drops steadily, and the highest point lies at the top.
TEST(ElevationTable, FallsAwayFromTheSummitOnEverySide)
{
    const int dirs[8][2] = {{0, 1}, {-1, 1}, {-1, 0}, {-1, -1}, {0, -1}, {1, -1}, {1, 0}, {1, 1}};
    for (const auto& d : dirs) {
        int r = 41, c = 42, steps = 0;
        double previous = at(r, c).elevation;
        while (r + 4 * d[0] >= 0 && r + 4 * d[0] <= 80 && c + 4 * d[1] >= 0 && c + 4 * d[1] <= 80) {
            r += 4 * d[0], c += 4 * d[1], ++steps;
            // Four cells (100 units or more) further out is always lower.
            EXPECT_LT(at(r, c).elevation, previous) << "towards " << d[0] << "," << d[1] << " at " << r << "," << c;
            previous = at(r, c).elevation;
        }
        EXPECT_GE(steps, 9);
        EXPECT_LT(previous, 3700.0) << "the foot lies far below the summit";
    }
}

// The run: from the start just below the summit, down past every slalom gate
// to the finish, always downhill, steep but never a cliff.
TEST(ElevationTable, TheSlalomPathDescendsEastToTheFinish)
{
    const float start = Landscape::heightAt(617000, 91700);
    EXPECT_LT(start, 4478.0f);
    EXPECT_GT(start, 4478.0f - 50);
    float previous = Landscape::heightAt(617050, 91700);
    for (int e = 617060; e <= 617780; e += 10) {
        const float centre = float(91700 + 50 * std::sin((e - 617050) / 150.0));
        const float h = Landscape::heightAt(float(e), centre);
        EXPECT_LT(h, previous) << "at easting " << e;
        // In world units (10 across, 5 up) the slope stays below 45 degrees.
        EXPECT_LT((previous - h) * 5, 10 * 10.0f) << "at easting " << e;
        previous = h;
    }
    EXPECT_LT(Landscape::heightAt(617800, 91675), previous);
    EXPECT_LT(Landscape::heightAt(617800, 91696), previous);
}

} // namespace
