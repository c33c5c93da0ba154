// The committed assets in data/, read with the project's own loaders.
#include <imagebase>

#include "drawnterrain.h"
#include "l3ds.h"
#include "landscape.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

bool powerOfTwo(int v)
{
    return v > 0 && (v & (v - 1)) == 0;
}

struct Picture {
    Lumen::Bitmap bitmap;
    int width() const { return bitmap.m_dim[0]; }
    int height() const { return bitmap.m_dim[1]; }
    // Channel c (0 blue, 1 green, 2 red) of pixel (x, y), y = 0 the top row.
    int at(int x, int y, int c) const { return bitmap.getData()[(size_t(y) * width() + x) * 3 + c]; }
};

void load(Picture& p, const char* path)
{
    ASSERT_EQ(p.bitmap.load(path), 1) << path;
    ASSERT_EQ(p.bitmap.m_bits, 24) << path;
    ASSERT_EQ(p.bitmap.m_channels, 3) << path;
    ASSERT_TRUE(powerOfTwo(p.width())) << path;
    ASSERT_TRUE(powerOfTwo(p.height())) << path;
}

// Mean absolute difference between column xa of a and column xb of b.
double columnDifference(const Picture& a, int xa, const Picture& b, int xb)
{
    double sum = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int c = 0; c < 3; ++c)
            sum += std::abs(a.at(xa, y, c) - b.at(xb, y, c));
    return sum / (3.0 * a.height());
}

double rowDifference(const Picture& a, int ya, const Picture& b, int yb)
{
    double sum = 0;
    for (int x = 0; x < a.width(); ++x)
        for (int c = 0; c < 3; ++c)
            sum += std::abs(a.at(x, ya, c) - b.at(x, yb, c));
    return sum / (3.0 * a.width());
}

TEST(SkyPictures, AreSquareTwentyFourBitPowersOfTwo)
{
    for (const char* path : {"./data/f.bmp", "./data/l.bmp", "./data/r.bmp", "./data/b.bmp", "./data/u.bmp"}) {
        Picture p;
        load(p, path);
        EXPECT_EQ(p.width(), p.height()) << path;
        EXPECT_GE(p.width(), 256) << path;
        EXPECT_LE(p.width(), 512) << path;
    }
}

// Going round inside the box: front, right, back, left, front again. Each
// wall's right edge meets the next wall's left edge.
TEST(SkyPictures, WallsJoinWithoutSeams)
{
    Picture walls[4];
    const char* paths[4] = {"./data/f.bmp", "./data/r.bmp", "./data/b.bmp", "./data/l.bmp"};
    for (int i = 0; i < 4; ++i)
        load(walls[i], paths[i]);
    for (int i = 0; i < 4; ++i) {
        const Picture& a = walls[i];
        const Picture& b = walls[(i + 1) % 4];
        const int last = a.width() - 1;
        // Across the corner the picture changes no more than between two
        // neighbouring columns inside a wall.
        const double seam = columnDifference(a, last, b, 0);
        const double inside = columnDifference(a, last - 1, a, last);
        EXPECT_LT(seam, 2 * inside + 2) << paths[i] << " -> " << paths[(i + 1) % 4];
        // And a wall is not continuous with itself: the walls differ.
        EXPECT_GT(columnDifference(a, 0, b, 0), seam) << paths[i];
    }
}

// Upright: sky at the top deepening upwards, brighter horizon and mountains
// lower down; the roof meets the walls' top edges in the same colour.
TEST(SkyPictures, WallsShowSkyAboveTheHorizonAndMeetTheRoof)
{
    Picture front, roof;
    load(front, "./data/f.bmp");
    load(roof, "./data/u.bmp");
    const int n = front.height();
    auto rowMean = [&](int y, int c) {
        double sum = 0;
        for (int x = 0; x < front.width(); ++x)
            sum += front.at(x, y, c);
        return sum / front.width();
    };
    // Top: clearly blue.
    EXPECT_GT(rowMean(2, 0), rowMean(2, 2) + 60);
    // The sky pales towards the horizon.
    EXPECT_GT(rowMean(n / 3, 2), rowMean(2, 2) + 40);
    // Lower down, the mountains' snow and the valley haze: bright and grey.
    EXPECT_GT(rowMean(n * 15 / 16, 2), 150);
    EXPECT_LT(std::fabs(rowMean(n * 15 / 16, 0) - rowMean(n * 15 / 16, 2)), 40);
    // The roof's lower edge lies along the front wall's top.
    EXPECT_LT(rowDifference(roof, roof.height() - 1, front, 0), 6);
}

double luminance(double r, double g, double b)
{
    return 0.299 * r + 0.587 * g + 0.114 * b;
}

double luminance(const Picture& p, int x, int y)
{
    return luminance(p.at(x, y, 2), p.at(x, y, 1), p.at(x, y, 0));
}

struct Rgb {
    double r, g, b;
};

// The course markers and the head-up texts are drawn with the texel where
// the picture's four corners meet: with linear filtering, their mean.
Rgb cornerTexel(const Picture& p)
{
    const int w = p.width() - 1, h = p.height() - 1;
    Rgb sum = {0, 0, 0};
    for (auto [x, y] : {std::pair{0, 0}, {w, 0}, {0, h}, {w, h}})
        sum = {sum.r + p.at(x, y, 2) / 4.0, sum.g + p.at(x, y, 1) / 4.0, sum.b + p.at(x, y, 0) / 4.0};
    return sum;
}

double hueOf(Rgb c)
{
    const double top = std::max({c.r, c.g, c.b}), range = top - std::min({c.r, c.g, c.b});
    if (range <= 0)
        return 0;
    const double h = top == c.r ? (c.g - c.b) / range : top == c.g ? 2 + (c.b - c.r) / range : 4 + (c.r - c.g) / range;
    return std::fmod(60 * h + 360, 360);
}

class SandPicture : public ::testing::Test {
protected:
    void SetUp() override
    {
        load(sand, "./data/sand1.bmp");
        ASSERT_EQ(sand.width(), 256);
        ASSERT_EQ(sand.height(), 256);
        double sum = 0, squares = 0, steps = 0;
        for (int y = 0; y < 256; ++y)
            for (int x = 0; x < 256; ++x) {
                const double l = luminance(sand, x, y);
                sum += l, squares += l * l;
                steps += std::fabs(l - luminance(sand, (x + 1) % 256, y)) + std::fabs(l - luminance(sand, x, (y + 1) % 256));
                if ((x % 255) || (y % 255)) // the corner pixels are the markers'
                    darkest = std::min(darkest, l);
            }
        mean = sum / 65536;
        spread = std::sqrt(squares / 65536 - mean * mean);
        step = steps / (2 * 65536);
    }

    Picture sand;
    double mean = 0, spread = 0, step = 0, darkest = 255;
};

// Across each edge the picture changes no more than between neighbouring
// columns (rows) inside it.
TEST_F(SandPicture, TilesWithoutSeams)
{
    for (bool rows : {false, true}) {
        SCOPED_TRACE(rows ? "rows" : "columns");
        auto difference = [&](int a, int b) {
            return rows ? rowDifference(sand, a, sand, b) : columnDifference(sand, a, sand, b);
        };
        double inside = 0, most = 0;
        for (int i = 0; i + 1 < 256; ++i) {
            inside += difference(i, i + 1) / 255;
            most = std::max(most, difference(i, i + 1));
        }
        const double seam = difference(255, 0);
        EXPECT_LT(seam, 1.5 * inside + 1) << inside;
        EXPECT_LE(seam, most);
    }
}

// Bright snow with relief that shows from pixel to pixel (the camera sees a
// pixel as a couple of units of ground), and coherent: noise with this spread
// would step by about 1.1 times the spread from one pixel to the next.
TEST_F(SandPicture, ShowsStructureAtThePixelScaleWithoutNoise)
{
    EXPECT_GT(mean, 220);
    EXPECT_GT(darkest, 170);
    EXPECT_GT(spread, 12);
    EXPECT_GT(step, 4);
    EXPECT_LT(step, 0.5 * spread);
}

// The white finish gate shows the corner texel, the flags its red part, and
// each text its colour times the texel: the gate stands out from the snow,
// the flags stay red, the texts keep their hues and stay dark on the snow.
TEST_F(SandPicture, CornerTexelMarksTheGateAndKeepsTheTextHues)
{
    const Rgb corner = cornerTexel(sand);
    EXPECT_GE(mean - luminance(corner.r, corner.g, corner.b), 40);
    EXPECT_GE(corner.r, 150) << "the flags' red";
    const struct {
        Rgb colour;
        double hue;
    } texts[] = {{{0, 0, 1}, 240}, {{1, 0.2, 0.2}, 0}, {{1, 0, 1}, 300}};
    for (const auto& t : texts) {
        const Rgb shown = {t.colour.r * corner.r, t.colour.g * corner.g, t.colour.b * corner.b};
        SCOPED_TRACE(testing::Message() << shown.r << ", " << shown.g << ", " << shown.b);
        const double off = std::fabs(hueOf(shown) - t.hue);
        EXPECT_LT(std::min(off, 360 - off), 12);
        EXPECT_GT(mean - luminance(shown.r, shown.g, shown.b), 100);
    }
}

// Luminance of the picture filtered linearly at (u, v), in pixels from its
// top left corner, repeating.
double filtered(const Picture& p, double u, double v)
{
    const double x = u - 0.5, y = v - 0.5;
    const int x0 = int(std::floor(x)), y0 = int(std::floor(y));
    const double fx = x - x0, fy = y - y0;
    auto at = [&](int i, int j) { return luminance(p, (i % 256 + 256) % 256, (j % 256 + 256) % 256); };
    return (at(x0, y0) * (1 - fx) + at(x0 + 1, y0) * fx) * (1 - fy) + (at(x0, y0 + 1) * (1 - fx) + at(x0 + 1, y0 + 1) * fx) * fy;
}

// The run starts on a corner, looking east (+x) at the ground from a third
// of a pixel ahead: there the snow shows, not the markers' colour.
TEST_F(SandPicture, StartLooksAtSnowNotAtTheCornerTexel)
{
    for (double ahead : {0.36, 0.75, 1.25})
        for (double side : {-0.3, 0.0, 0.3})
            EXPECT_GT(filtered(sand, ahead, side), mean - 25) << ahead << ", " << side;
}

// Nor a spot of a foreign colour where the corners meet: the corner texel is
// one of the snow's own shadow colours, found (within a few levels) well away
// from the corners.
TEST_F(SandPicture, CornerColourBelongsToTheSnow)
{
    const Rgb corner = cornerTexel(sand);
    int alike = 0, away = 0;
    for (int y = 8; y < 248; ++y)
        for (int x = 8; x < 248; ++x, ++away)
            alike += std::fabs(sand.at(x, y, 2) - corner.r) <= 6 && std::fabs(sand.at(x, y, 1) - corner.g) <= 6
                && std::fabs(sand.at(x, y, 0) - corner.b) <= 6;
    EXPECT_GT(alike, away / 200);
}

std::vector<uint8_t> readFile(const char* path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

uint32_t le32(const std::vector<uint8_t>& b, size_t at)
{
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}

uint16_t le16(const std::vector<uint8_t>& b, size_t at)
{
    return uint16_t(b[at] | b[at + 1] << 8);
}

TEST(Music, IsSixteenBitPcmOfThirtyToSixtySeconds)
{
    const std::vector<uint8_t> wav = readFile("./data/music.wav");
    ASSERT_GE(wav.size(), 44u);
    EXPECT_EQ(std::memcmp(wav.data(), "RIFF", 4), 0);
    EXPECT_EQ(le32(wav, 4), wav.size() - 8);
    EXPECT_EQ(std::memcmp(wav.data() + 8, "WAVEfmt ", 8), 0);
    ASSERT_EQ(le32(wav, 16), 16u);
    EXPECT_EQ(le16(wav, 20), 1) << "PCM";
    const int channels = le16(wav, 22);
    const uint32_t rate = le32(wav, 24);
    EXPECT_TRUE(channels == 1 || channels == 2);
    EXPECT_TRUE(rate == 22050 || rate == 44100) << rate;
    EXPECT_EQ(le32(wav, 28), rate * channels * 2);
    EXPECT_EQ(le16(wav, 32), channels * 2);
    EXPECT_EQ(le16(wav, 34), 16);
    EXPECT_EQ(std::memcmp(wav.data() + 36, "data", 4), 0);
    const uint32_t bytes = le32(wav, 40);
    ASSERT_EQ(bytes, wav.size() - 44);
    const double seconds = double(bytes) / (rate * channels * 2);
    EXPECT_GE(seconds, 30.0);
    EXPECT_LE(seconds, 60.0);

    // Audible all through, without clipping: every second has sound in it.
    const size_t samples = bytes / 2, perSecond = rate * channels;
    int peak = 0;
    for (size_t second = 0; second + 1 < seconds; ++second) {
        double energy = 0;
        for (size_t i = second * perSecond; i < (second + 1) * perSecond && i < samples; ++i) {
            const int v = int16_t(le16(wav, 44 + 2 * i));
            energy += double(v) * v;
            peak = std::max(peak, std::abs(v));
        }
        EXPECT_GT(std::sqrt(energy / perSecond), 1000.0) << "second " << second;
    }
    EXPECT_LT(peak, 32767);
}

TEST(PenguinModel, IsOneWellFormedChunkTree)
{
    const std::vector<uint8_t> file = readFile("./data/penguin.3ds");
    ASSERT_GE(file.size(), 12u);
    EXPECT_EQ(le16(file, 0), 0x4D4D);
    EXPECT_EQ(le32(file, 2), file.size());
    // Every chunk directly inside the root fits in it.
    size_t at = 6;
    int editors = 0;
    while (at + 6 <= file.size()) {
        const uint32_t length = le32(file, at + 2);
        ASSERT_GE(length, 6u);
        ASSERT_LE(at + length, file.size());
        editors += le16(file, at) == 0x3D3D;
        at += length;
    }
    EXPECT_EQ(at, file.size());
    EXPECT_EQ(editors, 1);
}

TEST(PenguinModel, LoadsWithTheImporterAsMeshesWithMaterials)
{
    L3DS model;
    ASSERT_TRUE(model.LoadFile("./data/penguin.3ds"));
    ASSERT_GE(model.GetMeshCount(), 6u);
    uint32_t triangles = 0;
    for (uint32_t m = 0; m < model.GetMeshCount(); ++m) {
        const LMesh& mesh = model.GetMesh(m);
        ASSERT_GT(mesh.GetTriangleCount(), 0u) << mesh.GetName();
        triangles += mesh.GetTriangleCount();
        for (uint32_t t = 0; t < mesh.GetTriangleCount(); ++t) {
            const LIndexTriangle& tri = mesh.GetTriangle(t);
            ASSERT_LT(tri.a, mesh.GetVertexCount());
            ASSERT_LT(tri.b, mesh.GetVertexCount());
            ASSERT_LT(tri.c, mesh.GetVertexCount());
        }
        EXPECT_EQ(mesh.GetMaterialCount(), 1u) << mesh.GetName();
    }
    EXPECT_GE(triangles, 1000u);
    EXPECT_LE(triangles, 5000u);
    for (const char* material : {"Black", "White", "Orange"})
        EXPECT_NE(model.FindMaterial(material), nullptr) << material;
}

// The game stands the model's origin 10 units above the snow one table unit
// ahead of the camera, turns it by 90 degrees minus the steering angle about
// y and tilts it about x by 360 minus the cell's slope in whole degrees.
// Placed so at points of the descent, its lowest point is on the drawn snow.
TEST(PenguinModel, SitsOnTheSnowAlongTheDescent)
{
    L3DS model;
    ASSERT_TRUE(model.LoadFile("./data/penguin.3ds"));
    Landscape landscape;
    const double pi = 3.14159, toRadians = 3.14159265358979 / 180;
    const struct {
        const char* name;
        double x, z, steer; // camera, table units; degrees
    } places[] = {
        {"start", 617000, 91700, 0},
        {"among the gates", 617280, 91750, -2},
        {"half-way", 617400, 91694, -0.87},
        {"lower gates", 617600, 91691, -0.87},
        {"before the finish gate", 617770, 91688, -0.87},
    };
    for (const auto& place : places) {
        SCOPED_TRACE(place.name);
        const double heading = float(place.steer / 180 * pi);
        const float aheadX = float(place.x * 10 + double(float(std::cos(heading))) * 10);
        const float aheadZ = float(place.z * 10 + double(float(std::sin(heading))) * 10);
        const double ground = double(Landscape::heightAt(aheadX / 10, aheadZ / 10)) * 5;
        const float ny = landscape.normalAt(aheadX / 10, aheadZ / 10).y;
        const int tilt = 180 - int(float(std::acos(double(ny))) / -pi * 180);
        const double a = tilt * toRadians, b = (90 - place.steer) * toRadians;
        double lowest = 1e9;
        for (uint32_t m = 0; m < model.GetMeshCount(); ++m)
            for (uint32_t v = 0; v < model.GetMesh(m).GetVertexCount(); ++v) {
                const LVec4& p = model.GetMesh(m).GetVertex(v);
                const double y = p.y * std::cos(a) - p.z * std::sin(a), z = p.y * std::sin(a) + p.z * std::cos(a);
                const double wx = aheadX + p.x * std::cos(b) + z * std::sin(b);
                const double wz = aheadZ - p.x * std::sin(b) + z * std::cos(b);
                lowest = std::min(lowest, ground + 10 + y - drawnHeight(wx / 10, wz / 10) * 5);
            }
        EXPECT_NEAR(lowest, 0, 0.6);
    }
}

} // namespace
