// The committed assets in data/, read with the project's own loaders.
#include <imagebase>

#include "drawnterrain.h"
#include "l3ds.h"
#include "landscape.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace {

// 24-bit pictures with power-of-two sides, as textures need them: the sky's
// square, 256 to 512 wide, the sand 256 x 256. The markers sample the sand
// where its four corners meet, with linear filtering their mean: the white
// gate stands out from the snow and the flags stay red. The start looks at
// the ground from a third of a pixel past a corner: there the snow shows.
TEST(Pictures, AreTexturesWithACornerTexelForTheMarkers)
{
    Lumen::Bitmap sand; // each picture in turn, the sand last
    for (const std::string name : {"f", "l", "r", "b", "u", "sand1"}) {
        ASSERT_EQ(sand.load(("./data/" + name + ".bmp").c_str()), 1) << name;
        const int w = sand.m_dim[0], h = sand.m_dim[1];
        EXPECT_TRUE(sand.m_bits == 24 && sand.m_channels == 3 && w == h && w >= 256 && w <= 512 && !(w & (w - 1)))
            << name;
    }
    ASSERT_EQ(sand.m_dim[0], 256);
    // Pixel (x, y) of the repeating picture: its luminance, or its red.
    auto at = [&](int x, int y, bool red = false) {
        const unsigned char* p = sand.getData() + (size_t((y + 256) % 256) * 256 + size_t((x + 256) % 256)) * 3;
        return red ? p[2] : 0.299 * p[2] + 0.587 * p[1] + 0.114 * p[0];
    };
    double mean = 0;
    for (int k = 0; k < 256 * 256; ++k)
        mean += at(k % 256, k / 256) / 65536;
    const double corner = (at(0, 0) + at(-1, 0) + at(0, -1) + at(-1, -1)) / 4;
    const double cornerRed = (at(0, 0, true) + at(-1, 0, true) + at(0, -1, true) + at(-1, -1, true)) / 4;
    EXPECT_TRUE(mean > 220 && mean - corner >= 40 && cornerRed >= 150) << mean << " " << corner << " " << cornerRed;
    for (double u : {0.36, 0.75, 1.25})
        for (double v : {-0.3, 0.0, 0.3}) {
            const int x = int(std::floor(u - 0.5)), y = int(std::floor(v - 0.5));
            const double fx = u - 0.5 - x, fy = v - 0.5 - y;
            const double seen = (at(x, y) * (1 - fx) + at(x + 1, y) * fx) * (1 - fy)
                + (at(x, y + 1) * (1 - fx) + at(x + 1, y + 1) * fx) * fy;
            EXPECT_GT(seen, mean - 25) << u << ", " << v;
        }
}

// Meshes with one material each. The game stands the model's origin 10 units
// above the snow one table unit ahead of the camera, turns it by 90 degrees
// minus the steering angle about y and tilts it about x by 360 minus the
// cell's slope in whole degrees: so placed along the descent, its lowest point
// is on the drawn snow.
TEST(PenguinModel, LoadsAsMeshesThatSitOnTheSnowAlongTheDescent)
{
    L3DS model;
    ASSERT_TRUE(model.LoadFile("./data/penguin.3ds"));
    ASSERT_GE(model.GetMeshCount(), 6u);
    for (uint32_t m = 0; m < model.GetMeshCount(); ++m)
        EXPECT_TRUE(model.GetMesh(m).GetTriangleCount() > 0 && model.GetMesh(m).GetMaterialCount() == 1) << m;
    Landscape landscape;
    const double pi = 3.14159, toRadians = 3.14159265358979 / 180;
    for (auto [x, z, steer] : {std::array<double, 3>{617000, 91700, 0}, {617280, 91750, -2}, {617400, 91694, -0.87},
             {617600, 91691, -0.87}, {617770, 91688, -0.87}}) {
        const double heading = float(steer / 180 * pi);
        const float aheadX = float(x * 10 + double(float(std::cos(heading))) * 10);
        const float aheadZ = float(z * 10 + double(float(std::sin(heading))) * 10);
        const double ground = double(Landscape::heightAt(aheadX / 10, aheadZ / 10)) * 5;
        const float slope = float(std::acos(double(landscape.normalAt(aheadX / 10, aheadZ / 10).y)));
        const int tilt = 180 - int(slope / -pi * 180);
        const double a = tilt * toRadians, b = (90 - steer) * toRadians;
        double lowest = 1e9;
        for (uint32_t m = 0; m < model.GetMeshCount(); ++m)
            for (uint32_t v = 0; v < model.GetMesh(m).GetVertexCount(); ++v) {
                const LVec4& p = model.GetMesh(m).GetVertex(v);
                const double y = p.y * std::cos(a) - p.z * std::sin(a), zr = p.y * std::sin(a) + p.z * std::cos(a);
                const double wx = aheadX + p.x * std::cos(b) + zr * std::sin(b);
                const double wz = aheadZ - p.x * std::sin(b) + zr * std::cos(b);
                lowest = std::min(lowest, ground + 10 + y - drawnHeight(wx / 10, wz / 10) * 5);
            }
        EXPECT_NEAR(lowest, 0, 0.6) << x << ", " << z;
    }
}

} // namespace
