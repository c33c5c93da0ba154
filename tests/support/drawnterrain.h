// The terrain as the landscape's display list draws it, for tests that look
// at what stands on it.
#pragma once

#include "elevationtable.h"

// Height of the drawn terrain at (x, z), table units: each grid cell is two
// triangles, split along the diagonal from its south-west to its north-east
// corner, with the elevations rounded to single precision as glVertex3f gets
// them. Inside the grid only.
inline double drawnHeight(double x, double z)
{
    const double rho = (kNorthNorthing - z) / kGridStep, gamma = (x - kWestEasting) / kGridStep;
    const int r = int(rho), c = int(gamma);
    const double fr = rho - r, fc = gamma - c;
    auto h = [](int row, int column) { return double(float(elevationTable[kElevationColumns * row + column].elevation)); };
    if (fr + fc <= 1)
        return h(r, c) + fc * (h(r, c + 1) - h(r, c)) + fr * (h(r + 1, c) - h(r, c));
    return h(r + 1, c + 1) + (1 - fc) * (h(r + 1, c) - h(r + 1, c + 1)) + (1 - fr) * (h(r, c + 1) - h(r + 1, c + 1));
}
