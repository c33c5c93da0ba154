// One picture and the OpenGL texture object made from it.
#pragma once

#include <imagebase>

class Texture {
public:
    // The texture object's name; set by create().
    unsigned int textureId;
    // The picture, loaded by the owner with image.load(path) before create().
    Lumen::Bitmap image;

    // An empty picture; no GL call.
    Texture();
    Texture(const Texture&) = delete;
    Texture& operator=(const Texture&) = delete;

    // Generates the texture name, binds it, sets linear filters and specifies
    // the picture as a BGR image of its own size (row 0 at t = 0), then binds it
    // again. Wrap modes and the texture environment stay at their defaults
    // (repeat, modulate). Needs a current GL context; call it once.
    //
    // Meant to run between glNewList and glEndList: the name is generated at
    // once, the binding, filters and image are recorded and replayed at every
    // call of the list.
    //
    // A picture that is empty, or not 3 channels of bytes, is specified as a
    // 0 x 0 image, so surfaces drawn with it show the current colour, as for a
    // missing file. Rows are handed over packed, whatever the unpack alignment
    // in force, and the caller's alignment is restored afterwards.
    void create();
};
