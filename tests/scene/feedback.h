// Runs a display list in GL feedback mode and hands back what OpenGL drew, in
// the list's own coordinates (table units).
#pragma once

#include <cstddef>
#include <vector>

struct FeedbackVertex {
    double x, y, z;       // position, back in the list's coordinates
    float r, g, b;        // colour
    float s, t;           // texture coordinate
};

struct FeedbackPolygon {
    std::vector<FeedbackVertex> vertices;
};

struct FeedbackResult {
    bool ok = false;                       // the buffer held everything
    std::vector<FeedbackPolygon> polygons; // in drawing order
    int otherTokens = 0;                   // points, lines, bitmaps and the like
    int degenerate = 0;                    // polygons with repeated corners, left out
};

// Mesa joins consecutive triangle strips of a display list into one strip
// with zero-area triangles between them; those draw nothing and are left out
// of `polygons`. Positions come back with errors of a few hundredths of a unit
// (float transforms of coordinates around 617000).
//
// Calls `list` once under an oblique orthographic view around (cx, cy, cz)
// that keeps everything within `reach` units unclipped, so that no polygon
// lies edge-on. Needs a current context.
FeedbackResult recordFeedback(unsigned int list, double cx, double cy, double cz, double reach);

// Quads may come back whole or as two triangles, depending on the driver.
// Counts polygons of `corners` vertices, treating consecutive triangle pairs
// as one quad when quads come back split; returns -1 when the stream has
// other shapes.
int countQuads(const std::vector<FeedbackPolygon>& polygons, size_t first, size_t end);
