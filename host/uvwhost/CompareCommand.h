// `uvwhost compare`: how near an image comes to a reference, as a renderer's tests and bakes
// are judged: PSNR and the share of pixels within 2/255 over the pixels both images hold.
#pragma once

#include "uvwhost/Commands.h"
#include "uvwhost/Parsed.h"

#include <optional>
#include <string>
#include <vector>

namespace uvwhost {

struct CompareOptions {
    std::string reference;
    std::string image;
    // Pixels compared: those where both alphas are at least this.
    float minAlpha = 0.5f;
    // Set: the difference image (PNG), black where not compared.
    std::optional<std::string> difference;
};

Parsed<CompareOptions> readCompareOptions(const std::vector<std::string>& args);
// Prints one JSON line: {"compared": pixels, "psnr_db": PSNR (999 for equal images),
// "within_2_255": share of pixels whose every channel is within 2/255}. Values are compared as
// 8-bit displays show them: sRGB-encoded, clamped to [0, 1], peak 1. The difference image
// holds ten times the difference as linear colour.
int runCompare(const CompareOptions& options, Streams streams);

} // namespace uvwhost
