// Generates the sky box pictures: four walls that form one continuous
// panorama of a far alpine horizon (front, right, back, left, going round)
// under a sky that deepens upwards, and a roof of sky with cloud.
//
// Usage: gen_sky OUTPUT_DIR [SIZE]   (writes f.bmp l.bmp r.bmp b.bmp u.bmp)
#include "filewriters/bmpwriter.h"
#include "noise.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Rgb {
    double r, g, b;
};

Rgb mix(Rgb a, Rgb b, double t)
{
    t = std::clamp(t, 0.0, 1.0);
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

Rgb scale(Rgb a, double k)
{
    return {a.r * k, a.g * k, a.b * k};
}

// The colour at the top of every wall and along the roof's edges, so that the
// walls meet the roof without a seam.
const Rgb kZenith = {62, 112, 188};
const Rgb kHorizon = {204, 222, 240};
const Rgb kHaze = {214, 226, 238};
const Rgb kSnow = {244, 246, 252};
const Rgb kRock = {70, 74, 92};
const Rgb kCloud = {250, 250, 252};
const Rgb kCloudShade = {178, 188, 206};

class Picture {
public:
    explicit Picture(int size)
        : m_size(size)
        , m_rgb(size_t(size) * size)
    {
    }
    Rgb& at(int x, int y) { return m_rgb[size_t(y) * m_size + x]; }

    filewriters::Bytes encode() const
    {
        filewriters::BmpImage img;
        img.width = m_size;
        img.height = m_size;
        for (const Rgb& c : m_rgb) {
            img.pixels.push_back(channel(c.b));
            img.pixels.push_back(channel(c.g));
            img.pixels.push_back(channel(c.r));
        }
        return filewriters::encodeBmp(img);
    }

private:
    static uint8_t channel(double v) { return uint8_t(std::lround(std::clamp(v, 0.0, 255.0))); }
    int m_size;
    std::vector<Rgb> m_rgb;
};

// The panorama is parametrised by a in [0, 1) going once round the box, and
// by t, 0 at the top of the walls and 1 at their lower edge.
constexpr int kPeriod = 32; // noise cells once round

// Height of a mountain range's crest (as t) along the panorama; ridged noise
// gives sharp summits and notches.
double crest(double a, double base, double rise, uint32_t seed, double cells)
{
    const int period = int(cells);
    const double n = fractalNoise(a * cells, 0.5, 4, seed, period);
    const double ridged = 1 - std::fabs(n) * 2.2;
    const double broad = 0.5 + 0.5 * valueNoise(a * cells / 4, 3.5, seed + 50, period / 4);
    return base - rise * std::clamp(0.35 * broad + 0.65 * ridged * broad + 0.15, 0.0, 1.2);
}

// Light comes from the west: a flank whose crest rises to the east is lit.
double flankLight(double a, double t, double top, uint32_t seed, double base, double rise, double cells)
{
    const double depth = std::max(0.0, t - top);
    const double reach = 0.004 + depth * 0.25; // lower down, broader faces
    const double left = crest(a - reach, base, rise, seed, cells);
    const double right = crest(a + reach, base, rise, seed, cells);
    return 0.5 + 0.5 * std::tanh((left - right) * 25);
}

Rgb mountain(double a, double t, double top, uint32_t seed, double base, double rise, double cells, Rgb haze,
    double hazeAmount)
{
    const double depth = t - top;
    const double lit = flankLight(a, t, top, seed, base, rise, cells);
    const double rocks = fractalNoise(a * cells * 12, t * 9, 4, seed + 9, int(cells) * 12); // streaks down the fall line
    // Snow clings to the upper slopes and the lit faces; rock shows through below.
    const double snowLine = 0.25 - 2.5 * depth + 0.6 * rocks + 0.35 * lit;
    Rgb c = mix(kRock, kSnow, smoothstep(-0.02, 0.12, snowLine));
    c = mix(scale(c, 0.55), c, lit);
    // Shadowed snow turns blue, not grey.
    c.b += (1 - lit) * 18;
    return mix(c, haze, hazeAmount + 0.5 * smoothstep(0.0, base - top + 0.3, depth) * (1 - hazeAmount));
}

Rgb sky(double a, double t, int size)
{
    Rgb c = mix(kZenith, kHorizon, std::pow(t / 0.62, 1.6));
    // A few soft clouds drifting above the horizon.
    // Long, flat banks of cloud: the noise is stretched along the horizon.
    const double cloud = fractalNoise(a * kPeriod / 2, t * 14, 5, 77, kPeriod / 2);
    const double band = smoothstep(0.10, 0.22, t) * (1 - smoothstep(0.34, 0.46, t));
    const double cover = smoothstep(0.18, 0.5, cloud) * band;
    const double shade = smoothstep(0.0, 0.5, (t - 0.18) * 4 + 0.5 * fractalNoise(a * kPeriod, t * 20, 3, 78, kPeriod));
    (void)size;
    return mix(c, mix(kCloud, kCloudShade, shade * 0.6), cover * 0.85);
}

Rgb panorama(double a, double t, int size)
{
    const double farBase = 0.74, farRise = 0.28, farCells = kPeriod / 2;
    const double nearBase = 0.86, nearRise = 0.20, nearCells = kPeriod * 3 / 8;
    const double farTop = crest(a, farBase, farRise, 21, farCells);
    const double nearTop = crest(a, nearBase, nearRise, 42, nearCells);
    const double edge = 1.0 / size; // soften silhouettes over about a pixel
    Rgb c = sky(a, t, size);
    c = mix(c, mountain(a, t, farTop, 21, farBase, farRise, farCells, kHorizon, 0.35), smoothstep(-edge, edge, t - farTop));
    c = mix(c, mountain(a, t, nearTop, 42, nearBase, nearRise, nearCells, kHaze, 0.05),
        smoothstep(-edge, edge, t - nearTop));
    // Valley haze along the foot of the walls.
    return mix(c, kHaze, smoothstep(0.86, 1.0, t) * 0.8);
}

void wall(Picture& pic, int size, int index)
{
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const double a = (index + (x + 0.5) / size) / 4.0;
            pic.at(x, y) = panorama(a, (y + 0.5) / size, size);
        }
}

void roof(Picture& pic, int size)
{
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const double u = (x + 0.5) / size, v = (y + 0.5) / size;
            // Deeper blue towards the middle of the roof, the walls' colour at its edges.
            const double edge = std::min(std::min(u, 1 - u), std::min(v, 1 - v));
            Rgb c = mix(kZenith, scale(kZenith, 0.82), smoothstep(0.0, 0.5, edge));
            const double n = fractalNoise(u * 8, v * 8, 6, 91);
            const double cover = smoothstep(0.05, 0.42, n) * smoothstep(0.02, 0.12, edge);
            const double shade = smoothstep(0.0, 0.5, fractalNoise(u * 8 + 0.15, v * 8 + 0.1, 4, 92));
            c = mix(c, mix(kCloud, kCloudShade, shade * 0.7), cover * 0.9);
            pic.at(x, y) = c;
        }
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR [SIZE]\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    const int size = argc > 2 ? std::atoi(argv[2]) : 256;
    if (size < 16 || (size & (size - 1)) != 0) {
        std::fprintf(stderr, "size must be a power of two of at least 16\n");
        return 2;
    }
    // Going round: front (south), right (east), back (north), left (west).
    const char* const walls[4] = {"f.bmp", "r.bmp", "b.bmp", "l.bmp"};
    for (int i = 0; i < 4; ++i) {
        Picture pic(size);
        wall(pic, size, i);
        if (!filewriters::writeFile(dir + "/" + walls[i], pic.encode()))
            return 1;
    }
    Picture top(size);
    roof(top, size);
    return filewriters::writeFile(dir + "/u.bmp", top.encode()) ? 0 : 1;
}
