// Generates the ground picture: wind-worked snow under a low sun that tiles
// without seams (every feature wraps at the picture's edges). It is a relief
// (broad drifts, sastrugi streaming along the wind, ripples across it) lit
// from the south-west, with shadows that lean blue-violet as snow under a
// clear sky does.
//
// The picture covers 500 units of ground, so one pixel is about 2 units, as
// tall as the penguin: the ripples, some 7 pixels apart, and the sastrugi
// are what the player sees stream past and bunch up where the slope steepens.
// Nothing is finer than a pixel or two: without mipmaps, finer grain would
// only shimmer in the distance.
//
// The four corner pixels, where the picture's corners meet when it repeats,
// hold the colour of the course markers and of every head-up text (they are
// drawn with that texel): a violet shadow, dark enough for the white finish
// gate to stand out from the snow, red and blue enough to leave the texts'
// hues alone. A sastruga stands just sunward of the corner, so the corner
// lies in its shadow and the colour reads as part of the snow.
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
const Rgb kCorner = {200, 160, 222}; // deep shadow, and the markers' colour

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
    // Ripples across the wind: whole wave counts across the picture so that
    // they tile, bent by slow noise, steeper on their lee faces.
    const double bend = 6.0 * fractalNoise(u * 4, v * 4, 3, 23, 4, 4);
    const double phase = 2 * kPi * (5 * u + 30 * v) + bend;
    const double ripple = std::sin(phase) + 0.3 * std::sin(2 * phase);
    const double rippleStrength = 0.4 + 0.6 * smoothstep(-0.4, 0.4, fractalNoise(u * 4, v * 4, 3, 24, 4, 4));
    // Smooth, level snow around the corner, so that the markers' colour
    // there stays a small soft patch.
    const double calm = smoothstep(2.0, 9.0, std::hypot(cornerOffset(x), cornerOffset(y)));
    return drift + calm * (waves + sastrugi + 0.4 * ripple * rippleStrength);
}

// How much of the low sun a pixel gets: 0 in full shadow, about 0.5 on flat
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
    filewriters::BmpImage img;
    img.width = kSize;
    img.height = kSize;
    for (int y = 0; y < kSize; ++y)
        for (int x = 0; x < kSize; ++x) {
            const double px = x + 0.5, py = y + 0.5;
            const double light = sunlight(px, py);
            // Sunlit to half shadow, then on into the deep violet shadow.
            Rgb c = light > 0.2 ? mix(kShade, kSunlit, (light - 0.2) / 0.8) : mix(kCorner, kShade, light / 0.2);
            // Faint grain, a level or so, against banding on smooth slopes.
            const double grain = (hash3(x, y, 25) % 1000) / 1000.0 - 0.5;
            c = {c.r + grain, c.g + grain, c.b + grain};
            // The corner pixels hold the markers' colour exactly; their
            // neighbours blend into the ridge's shadow.
            const double d = std::hypot(cornerOffset(px), cornerOffset(py));
            c = mix(kCorner, c, smoothstep(0.8, 1.2, d));
            for (double channel : {c.b, c.g, c.r})
                img.pixels.push_back(uint8_t(std::lround(std::clamp(channel, 0.0, 255.0))));
        }
    return filewriters::writeFile(argv[1], filewriters::encodeBmp(img)) ? 0 : 1;
}
