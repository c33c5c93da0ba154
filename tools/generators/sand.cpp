// Generates the ground picture: wind-packed snow that tiles without seams
// (every noise wraps at the picture's edges). The four corner pixels, where
// the picture's corners meet when it repeats, stay near white: the course
// markers are drawn with that texel.
//
// Usage: gen_sand OUTPUT.bmp
#include "filewriters/bmpwriter.h"
#include "noise.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

constexpr int kSize = 256;
constexpr double kPi = 3.14159265358979323846;

// Distance to the nearest corner on the torus that the tiling makes.
double cornerDistance(int x, int y)
{
    const double dx = std::min(x + 0.5, kSize - x - 0.5), dy = std::min(y + 0.5, kSize - y - 0.5);
    return std::hypot(dx, dy);
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
            const double u = double(x) / kSize, v = double(y) / kSize;
            // Broad drifts, then ripples that the wind carved across them
            // (whole wave counts across the picture, so they tile), then grain.
            const double drift = fractalNoise(u * 4, v * 4, 4, 3, 4);
            const double warp = 0.35 * fractalNoise(u * 8, v * 8, 2, 5, 8);
            const double ripple = std::sin(2 * kPi * (3 * u + 7 * v) + 6 * warp);
            const double rippleStrength = smoothstep(-0.2, 0.5, fractalNoise(u * 3, v * 3, 2, 6, 3));
            const double grain = fractalNoise(u * 64, v * 64, 2, 8, 64);
            const double sparkle = hash3(x, y, 13) % 97 == 0 ? 1.0 : 0.0;

            double light = 0.9 + 0.08 * drift + 0.05 * ripple * rippleStrength + 0.03 * grain;
            light = std::min(1.0, light + 0.05 * sparkle);
            // Shadowed hollows lean blue, as snow does under a clear sky.
            const double blue = std::max(0.0, 0.96 - light) * 1.6;
            double r = 255 * light * (1 - 0.10 * blue);
            double g = 255 * light * (1 - 0.04 * blue);
            double b = 255 * std::min(1.0, light + 0.035);
            // Near white where the corners meet.
            const double keep = smoothstep(2, 22, cornerDistance(x, y));
            r = 252 + (r - 252) * keep;
            g = 252 + (g - 252) * keep;
            b = 253 + (b - 253) * keep;
            for (double c : {b, g, r})
                img.pixels.push_back(uint8_t(std::lround(std::clamp(c, 0.0, 255.0))));
        }
    return filewriters::writeFile(argv[1], filewriters::encodeBmp(img)) ? 0 : 1;
}
