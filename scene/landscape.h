// The mountain: a textured terrain from the elevation grid with the course
// markers on it, and the height and slope queries that the game asks.
//
// Positions are in table units: x the easting, z the northing, heights the
// grid's elevations.
#pragma once

#include "texture.h"

struct SurfaceNormal {
    float x, y, z;
};

class Landscape {
public:
    Texture* sand;        // the ground picture, owned
    SurfaceNormal normal; // written by normalAt

    // Reads ./data/sand1.bmp; a picture that cannot be read leaves the ground
    // white. No GL call.
    Landscape();
    ~Landscape();
    Landscape(const Landscape&) = delete;
    Landscape& operator=(const Landscape&) = delete;

    // Fills the ground's texture object (Texture::create), then records into a
    // new display list, with that texture bound: the terrain as 80 triangle
    // strips of 162 vertices in white (the sand picture repeats every 20
    // cells), then the white finish gate and 18 red slalom gates standing on
    // the terrain. Leaves red as the current colour and the sand bound.
    // Calling the list specifies no image. Needs a current GL context and no
    // list being compiled; the caller deletes the list.
    unsigned int buildList();

    // Bilinear elevation in the grid cell that holds (x, z); exact at grid
    // points. Positions beyond an edge of the grid take the elevation along
    // that edge.
    static float heightAt(float x, float z);

    // The unit normal of the cell that holds (x, z), from the steps to the
    // east and to the south of its north-west corner. It points down into the
    // ground: y is minus the cosine of the slope. Positions beyond the grid
    // take the nearest edge cell. Stores the result in `normal` and returns it.
    const SurfaceNormal& normalAt(float x, float z);
};
