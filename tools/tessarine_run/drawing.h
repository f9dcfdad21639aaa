// Boxes and labels drawn straight into a picture's pixels; labels use
// stb_easy_font's segment font, scaled to the picture.
#ifndef TESSARINE_RUN_DRAWING_H
#define TESSARINE_RUN_DRAWING_H

#include <array>
#include <string>

#include "letterbox.h"

using Colour = std::array<uint8_t, 3>;

// A bright colour per class, the same on every run.
Colour ClassColour(int class_id);

void DrawBox(Picture& picture, const Box& box, const Colour& colour, int thickness);

// A filled tag in the colour with the text in black or white, its lower left
// corner at (x, y) or, where that leaves the picture, moved inside it.
void DrawLabel(Picture& picture, int x, int y, const std::string& text, const Colour& colour, int scale);

#endif
