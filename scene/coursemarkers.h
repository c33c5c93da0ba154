// The finish gate and the slalom gates, recorded into the landscape's list.
#pragma once

// Records the markers as flat quads in planes of constant easting, each
// standing on the terrain (heights from Landscape::heightAt). Leaves red as the
// current colour.
void recordCourseMarkers();
