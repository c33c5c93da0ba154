// Landscape::heightAt and Landscape::normalAt over the compiled-in grid.
#include "elevationtable.h"
#include "landscape.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>

namespace {

float entry(int row, int column)
{
    return float(elevationTable[81 * row + column].elevation);
}

TEST(HeightAt, GivesTheGridElevationAtGridPoints)
{
    EXPECT_FLOAT_EQ(Landscape::heightAt(616000, 92700), 3432.7f);
    EXPECT_FLOAT_EQ(Landscape::heightAt(617050, 91675), 4478.0f);
    EXPECT_FLOAT_EQ(Landscape::heightAt(617000, 91700), 4460.78f);
    EXPECT_FLOAT_EQ(Landscape::heightAt(617800, 91675), 3507.79f);
    EXPECT_FLOAT_EQ(Landscape::heightAt(618000, 90700), 3156.11f);
    for (int r : {3, 40, 79})
        for (int c : {5, 41, 78})
            EXPECT_FLOAT_EQ(Landscape::heightAt(616000.0f + 25 * c, 92700.0f - 25 * r), entry(r, c));
}

TEST(HeightAt, InterpolatesBilinearlyInsideACell)
{
    // Mid-cell: the mean of the four corners.
    EXPECT_NEAR(Landscape::heightAt(616012.5f, 92687.5f), (3432.7 + 3434.41 + 3446.38 + 3448.7) / 4, 1e-3);
    // Along a cell edge only the two end points count.
    const float quarter = Landscape::heightAt(617006.25f, 91700);
    EXPECT_NEAR(quarter, 0.75 * entry(40, 40) + 0.25 * entry(40, 41), 1e-3);
    const float southward = Landscape::heightAt(617000, 91690);
    EXPECT_NEAR(southward, 0.6 * entry(40, 40) + 0.4 * entry(41, 40), 1e-3);
    // A general point against the weights written out.
    const double fr = 0.3, fc = 0.8;
    const double expected = (1 - fr) * (1 - fc) * entry(20, 60) + (1 - fr) * fc * entry(20, 61)
        + fr * fc * entry(21, 61) + fr * (1 - fc) * entry(21, 60);
    EXPECT_NEAR(Landscape::heightAt(617520, 92192.5f), expected, 2e-3);
}

// The interpolation as its rule reads: float fractions, the weights and the
// sum in double, the result narrowed. With weights in float instead
// (`floatWeights`) about one result in ten comes out a float step away.
float ruleHeight(float x, float z, bool floatWeights = false)
{
    const float rho = float((double(z) - 92700) / -25), gamma = float((double(x) - 616000) / 25);
    const int r = std::min(int(rho), 80), c = std::min(int(gamma), 80);
    const int r1 = std::min(int(rho) + 1, 80), c1 = std::min(int(gamma) + 1, 80);
    const float fr = rho - float(r), fc = gamma - float(c), p = fr * fc;
    const double w00 = floatWeights ? double(1.0f - fr - fc + p) : 1.0 - fr - fc + p;
    const double w01 = floatWeights ? double(fc - p) : double(fc) - p;
    const double w10 = floatWeights ? double(fr - p) : double(fr) - p;
    return float(w00 * entry(r, c) + w01 * entry(r, c1) + double(p) * entry(r1, c1) + w10 * entry(r1, c));
}

TEST(HeightAt, WorksTheWeightsInDoubleOverTheWholeGrid)
{
    std::mt19937 random(11);
    const auto unit = [&random] { return double(random()) / 4294967296.0; };
    int differing = 0;
    const int positions = 200000;
    for (int i = 0; i < positions; ++i) {
        const float x = float(616000 + 2000 * unit()), z = float(90700 + 2000 * unit());
        const float h = Landscape::heightAt(x, z);
        ASSERT_EQ(h, ruleHeight(x, z)) << x << ", " << z;
        differing += h != ruleHeight(x, z, true);
    }
    EXPECT_GT(differing, positions / 20);
}

TEST(HeightAt, FollowsTheEdgeProfileOnAndBeyondTheEastAndSouthEdges)
{
    const float mid = 0.5f * (entry(10, 80) + entry(11, 80));
    EXPECT_NEAR(Landscape::heightAt(618000, 92437.5f), mid, 1e-3);
    EXPECT_NEAR(Landscape::heightAt(618300, 92437.5f), mid, 1e-3);
    EXPECT_NEAR(Landscape::heightAt(1e30f, 92437.5f), mid, 1e-3);
    const float south = 0.5f * (entry(80, 30) + entry(80, 31));
    EXPECT_NEAR(Landscape::heightAt(616762.5f, 90700), south, 1e-3);
    EXPECT_NEAR(Landscape::heightAt(616762.5f, 90000), south, 1e-3);
    EXPECT_FLOAT_EQ(Landscape::heightAt(619000, 90000), 3156.11f);
}

// Outside the queries' domain to the west and north the grid's edge holds too,
// instead of reading before the table.
TEST(HeightAt, ClampsWestAndNorthOfTheGridAndNaN)
{
    EXPECT_FLOAT_EQ(Landscape::heightAt(615000, 92700), 3432.7f);
    EXPECT_FLOAT_EQ(Landscape::heightAt(616000, 99999), 3432.7f);
    EXPECT_FLOAT_EQ(Landscape::heightAt(-1e30f, 1e30f), 3432.7f);
    EXPECT_FLOAT_EQ(Landscape::heightAt(616025, 92800), 3434.41f);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_FALSE(std::isnan(Landscape::heightAt(nan, nan)));
}

TEST(NormalAt, IsTheUnitNormalOfTheCellPointingDown)
{
    Landscape landscape;
    for (int r : {0, 17, 40, 41, 79})
        for (int c : {0, 33, 42, 71, 79}) {
            // Anywhere inside the cell gives the normal of its north-west corner.
            const SurfaceNormal& n = landscape.normalAt(616000.0f + 25 * c + 20, 92700.0f - 25 * r - 3);
            EXPECT_EQ(&n, &landscape.normal);
            const double dx = entry(r, c + 1) - entry(r, c), dz = entry(r + 1, c) - entry(r, c);
            const double len = std::sqrt(25 * dx * 25 * dx + 625.0 * 625 + 25 * dz * 25 * dz);
            SCOPED_TRACE(testing::Message() << r << "," << c);
            EXPECT_NEAR(n.x, 25 * dx / len, 1e-5);
            EXPECT_NEAR(n.y, -625 / len, 1e-5);
            EXPECT_NEAR(n.z, 25 * dz / len, 1e-5);
            EXPECT_NEAR(n.x * n.x + n.y * n.y + n.z * n.z, 1.0, 1e-5);
            EXPECT_LT(n.y, 0.0f);
        }
}

TEST(NormalAt, SlopeTowardsTheEastAndSouthGivesTheSignsOfTheSteps)
{
    Landscape landscape;
    // East of the summit the ground drops eastwards: the step east is
    // negative, and so is x of the normal.
    const SurfaceNormal n = landscape.normalAt(617300, 91690);
    EXPECT_LT(entry(41, 53), entry(41, 52));
    EXPECT_LT(n.x, 0.0f);
    EXPECT_GT(n.y, -0.999f); // not flat
}

// Outside the grid, the nearest edge cell answers: no read beyond the table.
TEST(NormalAt, ClampsToTheEdgeCells)
{
    Landscape landscape;
    const SurfaceNormal inside = landscape.normalAt(617990, 90710);
    for (auto [x, z] : {std::pair{618000.0f, 90710.0f}, {619000.0f, 90000.0f}, {1e30f, -1e30f}}) {
        const SurfaceNormal n = landscape.normalAt(x, z);
        EXPECT_FLOAT_EQ(n.x, inside.x);
        EXPECT_FLOAT_EQ(n.y, inside.y);
        EXPECT_FLOAT_EQ(n.z, inside.z);
    }
    const SurfaceNormal corner = landscape.normalAt(616010, 92690);
    const SurfaceNormal beyond = landscape.normalAt(600000, 95000);
    EXPECT_FLOAT_EQ(beyond.x, corner.x);
    EXPECT_FLOAT_EQ(beyond.z, corner.z);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    EXPECT_FALSE(std::isnan(landscape.normalAt(nan, nan).y));
}

} // namespace
