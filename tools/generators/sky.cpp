// Generates the sky box pictures: four walls that form one continuous
// panorama (front, right, back, left, going round) of far alpine ranges under
// a sky that deepens upwards, and a roof of sky with cloud. The ranges are a
// ridged heightfield seen in perspective from the middle of the box, so that
// each wall looks right from inside it.
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

constexpr double kPi = 3.14159265358979323846;

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
const Rgb kSnow = {244, 246, 252};
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

// The sky above the mountains, by direction: `a` goes once round the box in
// [0, 1), t is 0 at the top of the walls and 1 at their lower edge.
constexpr int kPeriod = 32; // cloud noise cells once round

Rgb sky(double a, double t)
{
    Rgb c = mix(kZenith, kHorizon, std::pow(t / 0.62, 1.6));
    // Long, flat banks of cloud: the noise is stretched along the horizon.
    const double cloud = fractalNoise(a * kPeriod / 2, t * 14, 5, 77, kPeriod / 2);
    const double band = smoothstep(0.10, 0.22, t) * (1 - smoothstep(0.34, 0.46, t));
    const double cover = smoothstep(0.18, 0.5, cloud) * band;
    const double shade = smoothstep(0.0, 0.5, (t - 0.18) * 4 + 0.5 * fractalNoise(a * kPeriod, t * 20, 3, 78, kPeriod));
    return mix(c, mix(kCloud, kCloudShade, shade * 0.6), cover * 0.85);
}

// The ranges around the box: a ridged heightfield over the ground plane
// (one unit a noise cell), about 0 in the valleys and 1 on the highest tops.
double ranges(double x, double y)
{
    double sum = 0, amplitude = 0.6, weight = 1;
    double fx = x * 0.35, fy = y * 0.35;
    for (int i = 0; i < 6; ++i) {
        const double ridge = 1 - std::fabs(valueNoise(fx, fy, 300 + uint32_t(i)));
        const double sharp = ridge * ridge * weight;
        sum += amplitude * sharp;
        weight = std::clamp(sharp * 1.6, 0.0, 1.0); // finer detail rides on the ridges
        fx *= 2.1, fy *= 2.1, amplitude *= 0.45;
    }
    const double massif = 0.55 + 0.45 * valueNoise(x * 0.08, y * 0.08, 330);
    return 1.35 * sum * massif;
}

constexpr double kEyeHeight = 0.30;  // the viewer stands above the valleys, below the tops
constexpr double kHorizonT = 0.62;   // where eye level meets the walls
constexpr double kFocal = 2.2;       // picture height per unit of height over distance
constexpr double kNear = 0.3, kFar = 60;

// The colour of the ground at (x, y), seen from distance d: lit by a low sun,
// snow where the slope lets it lie, rock on the steep faces, hazier further off.
Rgb ground(double x, double y, double d)
{
    const double e = 0.02;
    const double h = ranges(x, y);
    const double gx = (ranges(x + e, y) - ranges(x - e, y)) / (2 * e);
    const double gy = (ranges(x, y + e) - ranges(x, y - e)) / (2 * e);
    const double relief = 1.6; // heights are exaggerated against the ground plane
    const double nx = -gx * relief, ny = -gy * relief, len = std::sqrt(nx * nx + ny * ny + 1);
    const double sun = std::max(0.0, (0.7 * nx + 0.5 * ny + 0.5) / len);
    const double steep = std::sqrt(gx * gx + gy * gy) * relief;
    const double snowy = smoothstep(1.1, 0.6, steep - 0.6 * h + 0.25 * valueNoise(x * 3, y * 3, 340));
    Rgb lit = mix(Rgb{118, 112, 112}, kSnow, snowy);
    Rgb shadow = mix(Rgb{52, 58, 78}, Rgb{150, 170, 208}, snowy);
    Rgb c = mix(shadow, lit, smoothstep(0.05, 0.75, sun));
    const double haze = 1 - std::exp(-d / 30);
    return mix(c, kHorizon, 0.05 + 0.85 * haze);
}

// One column of a wall, marched from the viewer outwards: each ground sample
// covers the part of the column between its own height on the picture and the
// highest one drawn so far; what stays uncovered is sky.
void column(std::vector<Rgb>& out, int rows, double a, double theta, double stretch)
{
    std::vector<bool> covered(rows, false);
    double lowest = double(rows); // first row not yet covered, from the top
    for (double d = kNear; d < kFar; d += 0.004 + 0.006 * d) {
        const double x = d * std::cos(theta), y = d * std::sin(theta);
        const double t = kHorizonT + (kEyeHeight - ranges(x, y)) / d * kFocal * stretch;
        const double row = t * rows;
        if (row >= lowest)
            continue;
        const Rgb c = ground(x, y, d);
        for (int r = std::max(0, int(std::ceil(row))); r < int(lowest); ++r)
            out[r] = c, covered[r] = true;
        lowest = std::max(0.0, std::ceil(row));
    }
    for (int r = 0; r < rows; ++r)
        if (!covered[r])
            out[r] = sky(a, (r + 0.5) / rows);
}

// A wall seen from the middle of the box: picture column s looks out at the
// angle atan(2 s - 1) from the wall's centre line, and the wall lies
// 1 / cos of that angle further off there, which stretches heights.
void wall(Picture& pic, int size, int index)
{
    const int samples = 2; // per pixel and axis, averaged
    const int rows = size * samples;
    std::vector<Rgb> line(rows);
    std::vector<Rgb> sum(size_t(size) * size, Rgb{0, 0, 0});
    for (int sx = 0; sx < size * samples; ++sx) {
        const double s = (sx + 0.5) / (size * samples);
        const double off = std::atan(2 * s - 1);
        // Turned so that the highest massif stands in the east, where the run heads.
        const double theta = index * kPi / 2 + off + 2.45;
        column(line, rows, (index + s) / 4, theta, 1 / std::cos(off));
        for (int r = 0; r < rows; ++r) {
            Rgb& acc = sum[size_t(r / samples) * size + sx / samples];
            acc = {acc.r + line[r].r, acc.g + line[r].g, acc.b + line[r].b};
        }
    }
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x)
            pic.at(x, y) = scale(sum[size_t(y) * size + x], 1.0 / (samples * samples));
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
