// Which inputs of an explicit UVW generator supply the coordinates.
#pragma once

namespace KUtils {

enum class ExplicitInput {
    Color,    // the colour texture's r, g, b
    Separate, // the three float textures, one per coordinate
    None,     // zeros, no texture evaluated
};

// inputMode (useSeparateParams): 0 automatic (the colour texture when connected, else the
// float textures), 2 the float textures always, any other value the colour texture only.
constexpr ExplicitInput selectExplicitInput(bool colorConnected, int inputMode) {
    if (colorConnected && inputMode != 2) {
        return ExplicitInput::Color;
    }
    if (!colorConnected && inputMode != 0 && inputMode != 2) {
        return ExplicitInput::None;
    }
    return ExplicitInput::Separate;
}

} // namespace KUtils
