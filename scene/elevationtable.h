// The terrain's elevation grid, compiled into the program.
#pragma once

struct ElevationPoint {
    double easting;   // x: 616000 + 25 * column
    double northing;  // z: 92700 - 25 * row
    double elevation; // y
};

constexpr int kElevationColumns = 81;
constexpr int kElevationRows = 81;
constexpr double kGridStep = 25.0;
constexpr double kWestEasting = 616000.0;
constexpr double kNorthNorthing = 92700.0;

// Row after row from the north (row 0, northing 92700) to the south (row 80,
// northing 90700); within a row from the west (easting 616000) eastwards.
// Entry (row, column) is elevationTable[81 * row + column].
extern const ElevationPoint elevationTable[kElevationRows * kElevationColumns];
