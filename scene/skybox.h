// An open-bottomed box of five pictures standing fixed around the landscape.
#pragma once

#include "texture.h"

class SkyBox {
public:
    // front, left, right, back, top: ./data/f.bmp, l.bmp, r.bmp, b.bmp, u.bmp
    Texture faces[5];

    // Reads the five pictures from ./data/ (relative to the working
    // directory); a picture that cannot be read leaves its face white. No GL call.
    SkyBox();
    SkyBox(const SkyBox&) = delete;
    SkyBox& operator=(const SkyBox&) = delete;

    // Fills the five texture objects (Texture::create, names generated in the
    // drawing order below), then records the box into a new display list and
    // returns its name: for the faces front, right, left, back and top in that
    // order, the binding of the face's texture and one quad, in white, in table
    // units (x easting 616050..617950, y elevation 3000..5000, z northing
    // 90750..92650). Every wall shows its picture upright to a viewer inside
    // the box. Calling the list specifies no image. Needs a current GL context
    // and no list being compiled; the caller deletes the list.
    unsigned int buildList();
};
