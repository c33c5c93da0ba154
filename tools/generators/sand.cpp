// Generates the ground picture: wind-worked snow under a low sun that tiles
// without seams (every feature wraps at the picture's edges). It is a relief
// (broad drifts, rolling snow waves, sastrugi lying across the run, ripples
// slanting across it) lit from the south-east, with shadows that lean blue and, where
// deepest, violet.
//
// The picture repeats every 500 table units, so one pixel covers some 20
// units of the world, four times the penguin's height: the camera sees the
// ground near it as a few pixels blown up, so the relief steps from pixel to
// pixel (the sastrugi and waves pass under the penguin and bunch up where the
// slope steepens), while nothing is finer than a pixel or two, which without
// mipmaps would only shimmer in the distance.
//
// The four corner pixels, where the picture's corners meet when it repeats,
// average to the colour of the course markers and of every head-up text
// (they are drawn with the texel there): a violet shadow, dark enough for the
// white finish gate to stand out from the snow, red and blue enough to leave
// the texts' hues alone, and one of the snow's own shadow tones.
//
// Usage: gen_sand OUTPUT.bmp
#include "filewriters/bmpwriter.h"
#include "noise.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

constexpr int kSize = 256;
constexpr double kPi = 3.14159265358979323846;

struct Rgb {
    double r, g, b;
};

Rgb mix(Rgb a, Rgb b, double t)
{
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

const Rgb kSunlit = {255, 253, 248};
const Rgb kShade = {212, 222, 244}; // half shadow: sky-lit, blue
const Rgb kCorner = {210, 172, 228}; // deep shadow, and the markers' colour

// Shortest offset from the corner point, in pixels, on the torus the tiling makes.
double cornerOffset(double p)
{
    return p < kSize / 2.0 ? p : p - kSize;
}

// The snow's relief in pixel units of height at (x, y), pixel units, y down
// (southwards). Periodic in both directions with period kSize.
double relief(double x, double y)
{
    const double u = x / kSize, v = y / kSize;
    // Broad drifts, a few across the picture, and the rolling snow waves on
    // them, some 15 pixels across, that keep the whole surface moving.
    const double drift = 5.0 * fractalNoise(u * 3, v * 3, 3, 21, 3, 3);
    const double waves = 2.4 * fractalNoise(u * 12, v * 16, 2, 26, 12, 16);
    // Sastrugi: sharp-crested ridges streaming along the wind, which blows
    // from the north (along y), so that they lie across the run.
    const double along = fractalNoise(u * 12, v * 6, 2, 22, 12, 6);
    const double sastrugi = 2.4 * std::pow(1 - std::fabs(along), 3.0);
    // Ripples, some 9 pixels apart and slanting across the run, so that the
    // player crosses them rather than following one: whole wave counts across
    // the picture so that they tile, bent by slow noise, steeper on their lee
    // faces.
    const double bend = 6.0 * fractalNoise(u * 4, v * 4, 3, 23, 4, 4);
    const double phase = 2 * kPi * (20 * u + 20 * v) + bend;
    const double ripple = std::sin(phase) + 0.3 * std::sin(2 * phase);
    const double rippleStrength = 0.4 + 0.6 * smoothstep(-0.4, 0.4, fractalNoise(u * 4, v * 4, 3, 24, 4, 4));
    // Around the corner, level snow with one short crest running north-south
    // along it: the corner pixels east of it lie on its sunlit flank, those
    // west of it in its shadow (see main).
    const double cx = cornerOffset(x), cy = cornerOffset(y);
    const double calm = smoothstep(3.0, 10.0, std::hypot(cx, cy));
    const double crest = 1.6 * std::exp(-((cx + 0.2) * (cx + 0.2) / 1.5 + cy * cy / 30));
    return drift + crest + calm * (waves + sastrugi + 0.4 * ripple * rippleStrength);
}

// How much of the low sun a pixel gets: 0 in full shadow, 0.66 on level
// snow, 1 facing the sun.
double sunlight(double x, double y)
{
    const double e = 0.5;
    const double gx = (relief(x + e, y) - relief(x - e, y)) / (2 * e);
    const double gy = (relief(x, y + e) - relief(x, y - e)) / (2 * e);
    // The sun from the south-east (east is +x, south is +y), 25 degrees up.
    const double elevation = 25 * kPi / 180;
    const double sx = std::cos(elevation) * 0.7071, sy = std::cos(elevation) * 0.7071, sz = std::sin(elevation);
    const double relief3d = 1.6;
    const double nx = -gx * relief3d, ny = -gy * relief3d, len = std::sqrt(nx * nx + ny * ny + 1);
    const double lit = (nx * sx + ny * sy + sz) / len;
    return std::clamp(0.66 + (lit - sz) * 1.1, 0.0, 1.0);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.bmp\n", argv[0]);
        return 2;
    }
    std::vector<Rgb> picture(size_t(kSize) * kSize);
    for (int y = 0; y < kSize; ++y)
        for (int x = 0; x < kSize; ++x) {
            const double light = sunlight(x + 0.5, y + 0.5);
            // Sunlit to half shadow, then on into the deep violet shadow.
            Rgb c = light > 0.2 ? mix(kShade, kSunlit, (light - 0.2) / 0.8) : mix(kCorner, kShade, light / 0.2);
            // Faint grain, a level or so, against banding on smooth slopes.
            const double grain = (hash3(x, y, 25) % 1000) / 1000.0 - 0.5;
            picture[size_t(y) * kSize + x] = {c.r + grain, c.g + grain, c.b + grain};
        }
    // The four corner pixels average to the markers' colour. The two east of
    // the corner keep the crest's sunlit flank (toned down a little, so that
    // the others need be no darker than they must), the two west of it take
    // the rest, as its shadow: the run starts on a corner looking east, so the
    // player sees snow there, not a patch of the markers' colour all round.
    for (int y : {0, kSize - 1}) {
        Rgb& east = picture[size_t(y) * kSize];
        east = mix(east, kShade, 0.4);
        picture[size_t(y) * kSize + kSize - 1] = {2 * kCorner.r - east.r, 2 * kCorner.g - east.g, 2 * kCorner.b - east.b};
    }
    filewriters::BmpImage img;
    img.width = kSize;
    img.height = kSize;
    for (const Rgb& c : picture)
        for (double channel : {c.b, c.g, c.r})
            img.pixels.push_back(uint8_t(std::lround(std::clamp(channel, 0.0, 255.0))));
    return filewriters::writeFile(argv[1], filewriters::encodeBmp(img)) ? 0 : 1;
}
