// Small 24-bit BMP files for the scene tests.
#pragma once

#include "filewriters/bmpwriter.h"

#include <array>
#include <functional>
#include <string>

using Rgb = std::array<uint8_t, 3>;

// Writes a width x height picture whose pixel (x, y), y = 0 the top row, has
// the colour colourAt(x, y). Stored bottom-up, as BMP files usually are.
inline bool writePicture(const std::string& path, int width, int height, const std::function<Rgb(int, int)>& colourAt)
{
    filewriters::BmpImage img;
    img.width = width;
    img.height = height;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const Rgb c = colourAt(x, y);
            img.pixels.insert(img.pixels.end(), {c[2], c[1], c[0]});
        }
    return filewriters::writeFile(path, filewriters::encodeBmp(img));
}
