#include "landscape.h"

#include "elevationtable.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr int kLast = kElevationColumns - 1; // last row and column index

float gridHeight(int row, int column)
{
    return float(elevationTable[kElevationColumns * row + column].elevation);
}

// Positions outside the grid, NaN included, are pulled onto its nearest edge,
// so that no index leaves the table.
float clampToGrid(float fractionalIndex, float highest)
{
    if (!(fractionalIndex >= 0.0f))
        return 0.0f;
    return std::min(fractionalIndex, highest);
}

} // namespace

float Landscape::heightAt(float x, float z)
{
    const float rho = clampToGrid(float((double(z) - kNorthNorthing) / -kGridStep), float(kLast));
    const float gamma = clampToGrid(float((double(x) - kWestEasting) / kGridStep), float(kLast));
    const int r = int(rho);
    const int c = int(gamma);
    const int r1 = std::min(r + 1, kLast);
    const int c1 = std::min(c + 1, kLast);
    const float fr = rho - float(r);
    const float fc = gamma - float(c);
    const float p = fr * fc;
    // The fractions are floats; the weights made of them, like the sum, are
    // worked out in double and only the result is narrowed.
    const double h = (1.0 - fr - fc + p) * gridHeight(r, c) + (double(fc) - p) * gridHeight(r, c1)
        + double(p) * gridHeight(r1, c1) + (double(fr) - p) * gridHeight(r1, c);
    return float(h);
}

const SurfaceNormal& Landscape::normalAt(float x, float z)
{
    // The cell's north-west corner needs neighbours east and south, so the
    // last row and column cannot be corners.
    const int c = int(clampToGrid(float((double(x) - kWestEasting) / kGridStep), float(kLast - 1)));
    const int r = int(clampToGrid(float((kNorthNorthing - double(z)) / kGridStep), float(kLast - 1)));
    const int k = kElevationColumns * r + c;
    const float dx = float(elevationTable[k + 1].elevation - elevationTable[k].elevation);
    const float dz = float(elevationTable[k + kElevationColumns].elevation - elevationTable[k].elevation);
    const float nx = 25.0f * dx;
    const float ny = -625.0f;
    const float nz = 25.0f * dz;
    const float length = std::sqrt(nx * nx + ny * ny + nz * nz);
    normal = {nx / length, ny / length, nz / length};
    return normal;
}
