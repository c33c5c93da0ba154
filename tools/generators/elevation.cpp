// Generates the terrain's elevation grid as C++ constant data.
//
// The mountain is a pyramid: a handful of faces, each falling away from the
// summit with an alpine profile (rounded top, steep upper face, slope easing
// towards the foot), meeting in sharp ridges. Couloirs score the faces along
// their fall lines, except on the groomed run that the slalom follows east of
// the summit, and fine roughness is added everywhere. A smooth correction
// then pins the fixed points (summit, start, finish, corners) to their exact
// elevations. Everything is deterministic.
//
// Usage: gen_elevation OUTPUT.cpp [PREVIEW.bmp]
#include "filewriters/bmpwriter.h"
#include "noise.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int N = 81;
constexpr double kStep = 25, kWest = 616000, kNorth = 92700;
constexpr double kPeakEasting = 617050, kPeakNorthing = 91675, kPeak = 4478.0;
constexpr double kPi = 3.14159265358979323846;

struct Fixed {
    int row, column;
    double elevation;
};

// Entries that the game and its tests rely on.
const Fixed kFixed[] = {
    {0, 0, 3432.7}, {0, 1, 3434.41}, {0, 2, 3431.7}, {1, 0, 3446.38}, {1, 1, 3448.7},
    {0, 80, 3066.69}, {40, 40, 4460.78}, {41, 42, 4478.0}, {41, 72, 3507.79},
    {80, 0, 3257.72}, {80, 66, 3036.8}, {80, 80, 3156.11},
};

struct Face {
    double azimuth;  // downhill direction, degrees from east towards north
    double easing;   // slope at the foot as a fraction of the steepest
    double reach;    // distance over which the slope eases
    double distance; // a point on the face, as distance along the fall line,
    double drop;     // and how far below the summit it lies
    double cap;      // rounding of the summit on this side
};

// The east face carries the run to the finish; the west side ends on a high
// shoulder, the deepest valley lies to the south-east.
const Face kFaces[] = {
    {0, 0.62, 420, 750, 985, 12},       // east: the slalom face
    {50, 0.30, 380, 1390, 1420, 8},     // north-east
    {100, 0.32, 450, 975, 920, 8},      // north
    {160, 0.22, 330, 1337, 1060, 150},  // north-west: the shoulder of the start
    {198, 0.22, 300, 998, 1000, 150},   // west
    {243, 0.30, 380, 1346, 1225, 60},   // south-west
    {290, 0.38, 460, 1241, 1300, 20},   // south
    {325, 0.36, 430, 1337, 1330, 20},   // south-east
};

// Drop below the summit at distance d along the fall line of a face whose
// steepest slope is 1: zero slope at the top, steepest below the cap, then
// easing off towards the foot.
double unitDrop(const Face& f, double d)
{
    if (d <= 0)
        return d; // behind the face: never the lowest surface
    const int steps = std::max(1, int(d / 2));
    const double h = d / steps;
    double drop = 0;
    for (int i = 0; i < steps; ++i) {
        const double s = (i + 0.5) * h;
        const double rise = s / std::sqrt(s * s + f.cap * f.cap);
        const double ease = f.easing + (1 - f.easing) * std::exp(-s / f.reach);
        drop += rise * ease * h;
    }
    return drop;
}

double faceDrop(const Face& f, double d)
{
    return f.drop / unitDrop(f, f.distance) * unitDrop(f, d);
}

// How far (dx, dn) from the summit lies inside the groomed run: 1 on it, 0
// well off it.
double onRun(double dx, double dn)
{
    const double centre = 25 + 50 * std::sin(std::max(0.0, dx) / 150);
    const double across = std::fabs(dn - centre);
    const double along = 1 - smoothstep(780, 880, dx);
    return along * smoothstep(-60, 0, dx) * (1 - smoothstep(50, 110, across));
}

double shape(double easting, double northing)
{
    const double dx = easting - kPeakEasting, dn = northing - kPeakNorthing;
    double top = -1e9, second = -1e9;
    int dominant = 0;
    for (int i = 0; i < int(std::size(kFaces)); ++i) {
        const Face& f = kFaces[i];
        const double a = f.azimuth * kPi / 180;
        const double drop = faceDrop(f, dx * std::cos(a) + dn * std::sin(a));
        if (drop > top) {
            second = top;
            top = drop;
            dominant = i;
        } else if (drop > second) {
            second = drop;
        }
    }
    double h = kPeak - top;

    // Couloirs and spurs: noise stretched along the fall line of the dominant
    // face, deepening downhill and fading out on the ridges (where two faces
    // are nearly level) and on the run.
    const Face& f = kFaces[dominant];
    const double a = f.azimuth * kPi / 180;
    const double down = dx * std::cos(a) + dn * std::sin(a);
    const double across = -dx * std::sin(a) + dn * std::cos(a);
    const double streak = fractalNoise(across / 110, down / 400, 3, 7 + uint32_t(dominant));
    const double gully = 1 - 2 * std::fabs(streak); // ridged: sharp crests, rounded troughs
    const double depth = 10 * smoothstep(60, 360, down) * smoothstep(5, 70, top - second);
    h += depth * gully * (1 - onRun(dx, dn));

    // The valley at the south-eastern foot.
    const double valley = 190 * std::exp(-std::pow((easting - 617650) / 260, 2)) * smoothstep(-620, -975, dn);
    h -= valley;

    // Rock and snow roughness, milder on the run.
    const double rough = fractalNoise(easting / 140, northing / 140, 4, 11);
    h += (7 - 5 * onRun(dx, dn)) * rough * smoothstep(20, 120, std::hypot(dx, dn));
    return h;
}

double gauss(double d2, double sigma)
{
    return std::exp(-d2 / (2 * sigma * sigma));
}

// Solves a x = b in place (Gaussian elimination with partial pivoting).
std::vector<double> solve(std::vector<std::vector<double>> a, std::vector<double> b)
{
    const int n = int(b.size());
    for (int col = 0; col < n; ++col) {
        int pivot = col;
        for (int r = col + 1; r < n; ++r)
            if (std::fabs(a[r][col]) > std::fabs(a[pivot][col]))
                pivot = r;
        std::swap(a[col], a[pivot]);
        std::swap(b[col], b[pivot]);
        for (int r = col + 1; r < n; ++r) {
            const double k = a[r][col] / a[col][col];
            for (int c = col; c < n; ++c)
                a[r][c] -= k * a[col][c];
            b[r] -= k * b[col];
        }
    }
    std::vector<double> x(n);
    for (int r = n - 1; r >= 0; --r) {
        double s = b[r];
        for (int c = r + 1; c < n; ++c)
            s -= a[r][c] * x[c];
        x[r] = s / a[r][r];
    }
    return x;
}

double softplus(double x)
{
    return x > 30 ? x : std::log1p(std::exp(x));
}

// Eases values into the open range between the lowest and the highest point,
// so that each of those stays unique: the valley floor flattens out just above
// the lowest point, the shoulders just below the summit.
double softLimits(double h)
{
    const double floor = 3037.0, ceiling = 4477.9;
    h = floor + 12 * softplus((h - floor) / 12);
    return ceiling - 2 * softplus((ceiling - h) / 2);
}

std::vector<double> buildGrid()
{
    std::vector<double> grid(N * N);
    for (int r = 0; r < N; ++r)
        for (int c = 0; c < N; ++c)
            grid[r * N + c] = shape(kWest + kStep * c, kNorth - kStep * r);

    // A smooth correction through the fixed points: a sum of Gaussians whose
    // weights make it meet every residual exactly.
    const double sigma = 140;
    const int n = int(std::size(kFixed));
    std::vector<std::vector<double>> a(n, std::vector<double>(n));
    std::vector<double> b(n);
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            const double dr = kFixed[i].row - kFixed[j].row, dc = kFixed[i].column - kFixed[j].column;
            a[i][j] = gauss(kStep * kStep * (dr * dr + dc * dc), sigma);
        }
        b[i] = kFixed[i].elevation - grid[kFixed[i].row * N + kFixed[i].column];
    }
    const std::vector<double> w = solve(a, b);
    for (int r = 0; r < N; ++r)
        for (int c = 0; c < N; ++c) {
            double correction = 0;
            for (int i = 0; i < n; ++i) {
                const double dr = r - kFixed[i].row, dc = c - kFixed[i].column;
                correction += w[i] * gauss(kStep * kStep * (dr * dr + dc * dc), sigma);
            }
            grid[r * N + c] = std::round(softLimits(grid[r * N + c] + correction) * 100) / 100;
        }
    for (const Fixed& f : kFixed)
        grid[f.row * N + f.column] = f.elevation;
    return grid;
}

// The grid must keep what the game and its tests rely on.
bool check(const std::vector<double>& grid)
{
    bool ok = true;
    int bands[6] = {};
    for (int k = 0; k < N * N; ++k) {
        const double h = grid[k];
        if (h < 3000 || h > 5000) {
            std::fprintf(stderr, "entry %d out of range: %.2f\n", k, h);
            ok = false;
        }
        if (k != 41 * N + 42 && h >= 4478.0) {
            std::fprintf(stderr, "entry %d reaches the summit: %.2f\n", k, h);
            ok = false;
        }
        if (k != 80 * N + 66 && h <= 3036.8) {
            std::fprintf(stderr, "entry %d reaches the lowest point: %.2f\n", k, h);
            ok = false;
        }
        if (h >= 3000 && h < 4500)
            ++bands[int((h - 3000) / 250)];
    }
    for (int i = 0; i < 6; ++i) {
        std::fprintf(stderr, "band %d-%d: %d\n", 3000 + 250 * i, 3250 + 250 * i, bands[i]);
        if (bands[i] == 0)
            ok = false;
    }
    return ok;
}

std::string number(double v)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", v);
    std::string s = text;
    while (s.back() == '0')
        s.pop_back();
    if (s.back() == '.')
        s.pop_back();
    return s;
}

std::string source(const std::vector<double>& grid)
{
    std::string out = "// Generated by tools/generators/elevation.cpp; remake with tools/make-assets.sh.\n"
                      "#include \"elevationtable.h\"\n\n"
                      "const ElevationPoint elevationTable[kElevationRows * kElevationColumns] = {\n";
    for (int r = 0; r < N; ++r) {
        out += "    // row " + std::to_string(r) + ", northing " + number(kNorth - kStep * r) + "\n";
        for (int c = 0; c < N; ++c) {
            out += "    {" + number(kWest + kStep * c) + ", " + number(kNorth - kStep * r) + ", "
                + number(grid[r * N + c]) + "},\n";
        }
    }
    out += "};\n";
    return out;
}

// A shaded relief of the grid (light from the north-west), for looking at it.
filewriters::Bytes preview(const std::vector<double>& grid)
{
    filewriters::BmpImage img;
    const int scale = 8, size = (N - 1) * scale;
    img.width = size;
    img.height = size;
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const int r = y / scale, c = x / scale;
            const double dzdx = 0.5 * (grid[r * N + c + 1] - grid[r * N + c]) / kStep;
            const double dzdy = 0.5 * (grid[(r + 1) * N + c] - grid[r * N + c]) / kStep; // southwards, at world scale
            const double nx = -dzdx, ny = dzdy, nz = 1, len = std::sqrt(nx * nx + ny * ny + nz * nz);
            const double light = std::max(0.0, (-0.6 * nx + 0.6 * ny + 0.45 * nz) / len);
            const double t = (grid[r * N + c] - 3000) / 1500;
            const uint8_t shade = uint8_t(std::clamp(light * 255, 0.0, 255.0));
            img.pixels.push_back(uint8_t(shade * (0.6 + 0.4 * t))); // blue
            img.pixels.push_back(shade);
            img.pixels.push_back(uint8_t(shade * (0.7 + 0.3 * (1 - t))));
        }
    return filewriters::encodeBmp(img);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.cpp [PREVIEW.bmp]\n", argv[0]);
        return 2;
    }
    const std::vector<double> grid = buildGrid();
    const bool ok = check(grid);
    if (argc > 2 && !filewriters::writeFile(argv[2], preview(grid)))
        return 1;
    if (!ok)
        return 1;
    const std::string text = source(grid);
    if (!filewriters::writeFile(argv[1], filewriters::Bytes(text.begin(), text.end())))
        return 1;
    return 0;
}
