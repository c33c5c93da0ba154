// Generates the desktop icon: the game's penguin on a snow slope under the sky,
// with a red slalom gate, on a rounded tile (transparent around it). Shapes
// are plain geometry sampled 4 x 4 times per pixel; only + - * / are used, so
// the bytes are the same on every machine.
//
// Usage: gen_icon OUTPUT_DIR   (writes floerush-SIZE.png for each icon size)
#include "filewriters/pngwriter.h"

#include <cstdio>
#include <string>

namespace {

struct Colour {
    double r, g, b;
};

// The penguin's materials, as the model has them.
constexpr Colour kBlack{24, 24, 30};
constexpr Colour kWhite{242, 242, 246};
constexpr Colour kOrange{250, 140, 20};
constexpr Colour kGateRed{228, 28, 28};

bool inEllipse(double u, double v, double cu, double cv, double ru, double rv)
{
    const double du = (u - cu) / ru, dv = (v - cv) / rv;
    return du * du + dv * dv <= 1;
}

// An ellipse turned by the angle whose cosine and sine are given.
bool inTurnedEllipse(double u, double v, double cu, double cv, double ru, double rv, double c, double s)
{
    const double du = u - cu, dv = v - cv;
    return inEllipse(c * du + s * dv, -s * du + c * dv, 0, 0, ru, rv);
}

bool inRect(double u, double v, double u0, double v0, double u1, double v1)
{
    return u >= u0 && u <= u1 && v >= v0 && v <= v1;
}

bool inRoundedSquare(double u, double v, double lo, double hi, double radius)
{
    if (!inRect(u, v, lo, lo, hi, hi))
        return false;
    const double cu = u < lo + radius ? lo + radius : u > hi - radius ? hi - radius : u;
    const double cv = v < lo + radius ? lo + radius : v > hi - radius ? hi - radius : v;
    return inEllipse(u, v, cu, cv, radius, radius);
}

// The triangle (a, b, c), corners in either order.
bool inTriangle(double u, double v, const double a[2], const double b[2], const double c[2])
{
    auto side = [u, v](const double p[2], const double q[2]) {
        return (q[0] - p[0]) * (v - p[1]) - (q[1] - p[1]) * (u - p[0]);
    };
    const double ab = side(a, b), bc = side(b, c), ca = side(c, a);
    return (ab >= 0 && bc >= 0 && ca >= 0) || (ab <= 0 && bc <= 0 && ca <= 0);
}

Colour mix(Colour a, Colour b, double t)
{
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

double clamp01(double t) { return t < 0 ? 0 : t > 1 ? 1 : t; }

// The slope's upper edge, rising to the right.
double slopeEdge(double u) { return 0.60 - 0.18 * u; }

// The colour at (u, v), both in [0, 1] with v down; false outside the tile.
bool paint(double u, double v, Colour& out)
{
    if (!inRoundedSquare(u, v, 0.03, 0.97, 0.17))
        return false;

    // The penguin, front to back.
    const double beak[3][2] = {{0.46, 0.365}, {0.5, 0.435}, {0.54, 0.365}};
    if (inTriangle(u, v, beak[0], beak[1], beak[2]))
        return out = kOrange, true;
    for (double side : {-1.0, 1.0}) {
        if (inEllipse(u, v, 0.5 + side * 0.052, 0.318, 0.018, 0.022))
            return out = kBlack, true;
        if (inEllipse(u, v, 0.5 + side * 0.055, 0.31, 0.04, 0.045))
            return out = kWhite, true;
    }
    if (inEllipse(u, v, 0.5, 0.33, 0.15, 0.15))
        return out = kBlack, true;
    if (inEllipse(u, v, 0.5, 0.665, 0.15, 0.2))
        return out = kWhite, true;
    if (inEllipse(u, v, 0.5, 0.62, 0.22, 0.25))
        return out = kBlack, true;
    for (double side : {-1.0, 1.0}) {
        // Flippers held out at 25 degrees.
        if (inTurnedEllipse(u, v, 0.5 + side * 0.215, 0.6, 0.05, 0.16, 0.906308, side * 0.422618))
            return out = kBlack, true;
        if (inEllipse(u, v, 0.5 + side * 0.085, 0.855, 0.085, 0.035))
            return out = kOrange, true;
    }
    if (inEllipse(u, v, 0.5, 0.87, 0.26, 0.05))
        return out = {196, 206, 226}, true;

    // The gate on the slope.
    const double gateU = 0.83, foot = slopeEdge(gateU) + 0.015;
    if (inRect(u, v, gateU - 0.008, 0.25, gateU + 0.008, foot) || inRect(u, v, gateU, 0.25, gateU + 0.1, 0.32))
        return out = kGateRed, true;

    // Snow: shaded just below the edge, brighter towards the viewer.
    const double edge = slopeEdge(u);
    if (v >= edge)
        return out = mix({222, 230, 244}, {251, 252, 254}, clamp01((v - edge) / 0.12)), true;

    // Far peaks, white above the snow line, then the sky, deeper blue at the top.
    const double ridge = u < 0.22   ? 0.46 - 0.73 * u
                         : u < 0.4  ? 0.3 + 0.67 * (u - 0.22)
                         : u < 0.65 ? 0.42 - 0.88 * (u - 0.4)
                                    : 0.2 + 0.6 * (u - 0.65);
    if (v >= ridge)
        return out = v < 0.36 ? Colour{236, 240, 248} : Colour{150, 166, 192}, true;
    out = mix({92, 136, 202}, {186, 210, 238}, clamp01(v / 0.5));
    return true;
}

filewriters::Bytes drawIcon(int size)
{
    constexpr int kSamples = 4;
    filewriters::Bytes rgba;
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            // Colours are averaged weighted by coverage, so edges against the
            // transparent surround keep their colour.
            double r = 0, g = 0, b = 0;
            int covered = 0;
            for (int sy = 0; sy < kSamples; ++sy)
                for (int sx = 0; sx < kSamples; ++sx) {
                    Colour c;
                    if (paint((x + (sx + 0.5) / kSamples) / size, (y + (sy + 0.5) / kSamples) / size, c)) {
                        r += c.r, g += c.g, b += c.b;
                        ++covered;
                    }
                }
            const double n = covered > 0 ? covered : 1;
            for (double c : {r / n, g / n, b / n, 255.0 * covered / (kSamples * kSamples)})
                rgba.push_back(uint8_t(c + 0.5));
        }
    return filewriters::encodePng(uint32_t(size), uint32_t(size), rgba);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
        return 2;
    }
    for (int size : {16, 32, 48, 64, 128, 256}) {
        const std::string path = std::string(argv[1]) + "/floerush-" + std::to_string(size) + ".png";
        if (!filewriters::writeFile(path, drawIcon(size)))
            return 1;
    }
    return 0;
}
