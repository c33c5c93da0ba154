// The scenery's display lists as they were first recorded: every texture's
// binding, filters and image inside the list, so that each call of a list
// specifies its pictures again. The lists of today must draw the same pixels;
// the tests keep these as the reference to compare with.
#pragma once

class Landscape;
class SkyBox;

// Record the lists from the owners' pictures, with texture names of their own;
// the caller deletes the lists. Need a current GL context.
unsigned int recordedSkyList(const SkyBox& sky);
unsigned int recordedLandscapeList(const Landscape& landscape);
