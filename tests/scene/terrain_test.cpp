// The compiled-in elevation grid and the queries over it, Landscape::heightAt
// and Landscape::normalAt.
#include "elevationtable.h"
#include "landscape.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace {

double entry(int row, int column)
{
    return elevationTable[81 * row + column].elevation;
}

// The interpolation as its rule reads: fractions in float, the weights and the
// sum in double, the result narrowed.
float ruleHeight(float x, float z)
{
    const float rho = float((double(z) - 92700) / -25), gamma = float((double(x) - 616000) / 25);
    const int r = std::min(int(rho), 80), c = std::min(int(gamma), 80);
    const int r1 = std::min(int(rho) + 1, 80), c1 = std::min(int(gamma) + 1, 80);
    const float fr = rho - float(r), fc = gamma - float(c), p = fr * fc;
    auto h = [](int row, int column) { return double(float(entry(row, column))); };
    return float((1.0 - fr - fc + p) * h(r, c) + (double(fc) - p) * h(r, c1) + double(p) * h(r1, c1)
        + (double(fr) - p) * h(r1, c));
}

// Bit for bit the rule anywhere on the grid; at grid points the entry (the
// table's telling ones here), in a cell's middle the mean of its corners;
// beyond the east and south edges (and the west and north ones, outside the
// domain) the edge's profile.
TEST(HeightAt, InterpolatesBilinearlyAndHoldsTheEdgeBeyondTheGrid)
{
    std::mt19937 random(11);
    const auto unit = [&random] { return double(random()) / 4294967296.0; };
    int differing = 0;
    for (int i = 0; i < 200000; ++i) {
        const float x = float(616000 + 2000 * unit()), z = float(90700 + 2000 * unit());
        differing += Landscape::heightAt(x, z) != ruleHeight(x, z);
    }
    EXPECT_EQ(differing, 0);
    const double east = (entry(10, 80) + entry(11, 80)) / 2, south = (entry(80, 30) + entry(80, 31)) / 2;
    const struct {
        float x, z;
        double want;
    } cases[] = {
        {616000, 92700, 3432.7}, {616025, 92700, 3434.41}, {616050, 92700, 3431.7}, {618000, 92700, 3066.69},
        {617000, 91700, 4460.78}, {617050, 91675, 4478.0}, {617800, 91675, 3507.79}, {616000, 90700, 3257.72},
        {617650, 90700, 3036.8}, {618000, 90700, 3156.11},
        {616012.5f, 92687.5f, (3432.7 + 3434.41 + 3446.38 + 3448.7) / 4},
        {617006.25f, 91700, 0.75 * entry(40, 40) + 0.25 * entry(40, 41)},
        {617000, 91690, 0.6 * entry(40, 40) + 0.4 * entry(41, 40)}, {618000, 92437.5f, east}, {618300, 92437.5f, east},
        {1e30f, 92437.5f, east}, {616762.5f, 90700, south}, {616762.5f, 90000, south}, {619000, 90000, 3156.11},
        {615000, 92700, 3432.7}, {616000, 99999, 3432.7}, {-1e30f, 1e30f, 3432.7}, {616025, 92800, 3434.41},
    };
    for (const auto& c : cases)
        EXPECT_NEAR(Landscape::heightAt(c.x, c.z), c.want, 1e-3) << c.x << ", " << c.z;
    EXPECT_FALSE(std::isnan(Landscape::heightAt(NAN, NAN)));
}

// The unit normal (25 dx, -625, 25 dz) / length of the cell holding the
// position, from its north-west corner's steps east (dx) and south (dz): it
// points down. Beyond the grid the nearest edge cell answers.
TEST(NormalAt, IsTheDownwardUnitNormalOfTheCellHoldingThePosition)
{
    Landscape landscape;
    auto expectCell = [&](float x, float z, int r, int c) {
        const double dx = float(entry(r, c + 1) - entry(r, c)), dz = float(entry(r + 1, c) - entry(r, c));
        const double length = std::sqrt(625 * dx * dx + 625.0 * 625 + 625 * dz * dz);
        const SurfaceNormal& n = landscape.normalAt(x, z);
        EXPECT_TRUE(std::fabs(n.x - 25 * dx / length) < 1e-6 && std::fabs(n.y + 625 / length) < 1e-6
            && std::fabs(n.z - 25 * dz / length) < 1e-6) << x << ", " << z;
    };
    for (int r : {0, 17, 40, 41, 79})
        for (int c : {0, 33, 42, 71, 79})
            expectCell(616000.0f + 25 * c + 20, 92700.0f - 25 * r - 3, r, c);
    for (auto [x, z] : {std::pair{618000.0f, 90710.0f}, {619000, 90000}, {1e30f, -1e30f}})
        expectCell(x, z, 79, 79);
    expectCell(600000, 95000, 0, 0);
    EXPECT_FALSE(std::isnan(landscape.normalAt(NAN, NAN).y));
}

} // namespace
