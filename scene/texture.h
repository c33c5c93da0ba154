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

    // Generates the texture name and fills the texture object at once: linear
    // filters and the picture as a BGR image of its own size (row 0 at t = 0).
    // Wrap modes and the texture environment stay at their defaults (repeat,
    // modulate). Needs a current GL context and no display list being compiled
    // (a list would record the image and specify it again at every call); call
    // it once. Leaves the 2D texture binding as it found it.
    //
    // A picture that is empty, or not 3 channels of bytes, is specified as a
    // 0 x 0 image, so surfaces drawn with it show the current colour, as for a
    // missing file. Rows are handed over packed, whatever the unpack alignment
    // in force, and the caller's alignment is restored afterwards.
    void create();

    // Binds the texture object that create() filled. Meant to be recorded into
    // the owner's display list: calling the list then binds the picture without
    // specifying it again.
    void bind() const;
};
