// What a person sees of a map: the map itself as a picture, and the map laid
// over the picture it was computed from.
#ifndef TESSARINE_RUN_MAP_PICTURES_H
#define TESSARINE_RUN_MAP_PICTURES_H

#include "picture.h"

struct MapView {
    int channels = 1;
    int width = 0;
    int height = 0;
    const float* values = nullptr;  // [channels, height, width]
};

// Three channels become an RGB picture, any other count shows `channel` in
// grey. Values inside [0, 1] (probabilities, unit images) are shown as they
// are; any other range is stretched from its minimum to its maximum.
Picture MapToPicture(const MapView& map, int channel);

// The map is scaled to the picture's size; a grey map tints the picture red
// where it is high, an RGB map is blended half and half.
Picture OverlayMap(const Picture& picture, const Picture& map_picture, bool grey_map);

#endif
