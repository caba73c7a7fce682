// Text drawn into rendered images with a small built-in 5x7 pixel font (letters, digits and
// a little punctuation), on a dark backing so it reads on any picture.
#pragma once

#include "uvwhost/Renderer.h"

#include <string_view>

namespace uvwhost {

// Draws text with its top-left corner at (x, y), each font pixel `scale` image pixels wide.
// Characters outside the font draw as an outlined box. Clipped to the image.
void drawLabel(Image& image, int x, int y, std::string_view text, int scale);

} // namespace uvwhost
