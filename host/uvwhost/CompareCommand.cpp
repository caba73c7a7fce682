#include "uvwhost/CompareCommand.h"

#include "uvwhost/Assets.h"
#include "uvwhost/ImageFiles.h"
#include "uvwhost/JsonValues.h"

#include <algorithm>
#include <cmath>
#include <ostream>

namespace uvwhost {

Parsed<CompareOptions> readCompareOptions(const std::vector<std::string>& args) {
    using Result = Parsed<CompareOptions>;
    CompareOptions o;
    std::vector<std::string> files;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a != "--min-alpha" && a != "-o") {
            if (a.starts_with("-") || files.size() == 2) {
                return Result::failure("unexpected argument '" + a + "'");
            }
            files.push_back(a);
            continue;
        }
        if (i + 1 >= args.size()) {
            return Result::failure(a + ": expected a value after it");
        }
        const std::string& v = args[++i];
        if (a == "-o") {
            o.difference = v;
            continue;
        }
        const auto number = parseJson(v);
        if (!number || !number->is_number() || !(*number >= 0.0 && *number <= 1.0)) {
            return Result::failure(a + ": expected a number from 0 to 1, got " +
                                   quoteInput(v, '\''));
        }
        o.minAlpha = number->get<float>();
    }
    if (files.size() != 2) {
        return Result::failure("expected a reference image and an image");
    }
    o.reference = files[0];
    o.image = files[1];
    return o;
}

int runCompare(const CompareOptions& o, Streams s) {
    auto fail = [&](const std::string& error) {
        s.err << "uvwhost: compare: " << error << "\n";
        return EXIT_BAD_INPUT;
    };
    if (o.difference) {
        if (std::string error = checkWritable(*o.difference); !error.empty()) {
            return fail(error);
        }
    }
    auto reference = loadImage(o.reference);
    if (!reference) {
        return fail(reference.error());
    }
    auto image = loadImage(o.image);
    if (!image) {
        return fail(image.error());
    }
    const kivohost::MipImage& a = **reference;
    const kivohost::MipImage& b = **image;
    if (a.width() != b.width() || a.height() != b.height()) {
        return fail("expected images of one size, got " + std::to_string(a.width()) + "x" +
                    std::to_string(a.height()) + " and " + std::to_string(b.width()) + "x" +
                    std::to_string(b.height()));
    }
    Image difference(a.width(), a.height());
    long long compared = 0, within = 0;
    double squares = 0.0;
    for (std::size_t p = 0; p < difference.depth.size(); ++p) {
        const float* x = &a.pixels()[p * 4];
        const float* y = &b.pixels()[p * 4];
        if (!(x[3] >= o.minAlpha && y[3] >= o.minAlpha)) {
            continue;
        }
        float largest = 0.0f;
        for (int k = 0; k < 3; ++k) {
            const float d = std::abs(displayValue(x[k]) - displayValue(y[k]));
            squares += double(d) * d;
            largest = std::max(largest, d);
            difference.rgb[p * 3 + std::size_t(k)] = std::min(1.0f, 10.0f * d);
        }
        ++compared;
        // The slack absorbs float rounding of 8-bit steps, not a further step.
        within += largest <= 2.0f / 255.0f + 1e-5f ? 1 : 0;
    }
    const double mse = compared ? squares / (3.0 * double(compared)) : 0.0;
    const Json result = {{"compared", compared},
                         {"psnr_db", mse > 0.0  ? 10.0 * std::log10(1.0 / mse)
                                     : compared ? 999.0
                                                : 0.0},
                         {"within_2_255", compared ? double(within) / double(compared) : 0.0}};
    s.out << result.dump() << "\n";
    if (o.difference) {
        if (std::string error = writePNG(difference, *o.difference); !error.empty()) {
            s.err << "uvwhost: compare: " << error << "\n";
            return EXIT_PARTIAL;
        }
    }
    return EXIT_OK;
}

} // namespace uvwhost
