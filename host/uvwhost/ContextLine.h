// One line of `uvwhost eval` input: a JSON object with the shading-context fields of one
// evaluation, all optional, and optional shade data and shaded instance.
#pragma once

#include "kivo/ShadingContext.h"
#include "scene/ShadeStandIns.h"
#include "uvwhost/JsonValues.h"
#include "uvwhost/Parsed.h"

#include <cstdint>
#include <optional>
#include <string_view>

namespace uvwhost {

struct ContextRequest {
    KUtils::Vector4f shadingPoint;
    // Unset: the shading point.
    std::optional<KUtils::Vector4f> surfacePoint;
    KUtils::Vector4f normal{0.0f, 0.0f, 1.0f, 0.0f};
    // Unset: the normal.
    std::optional<KUtils::Vector4f> auxNormal;
    KUtils::Vector4f dPdx;
    KUtils::Vector4f dPdy;
    KUtils::Vector4f rayOrigin;
    KUtils::Vector4f rayDir{0.0f, 0.0f, 1.0f, 0.0f};
    KUtils::Vector4f dDdx;
    KUtils::Vector4f dDdy;
    KUtils::Vector4f screenFrameAxis{0.0f, 0.0f, 1.0f, 0.0f};
    float time = 0.0f;
    float imageX = 0.0f;
    float imageY = 0.0f;
    int backSide = 0;
    int flags = 0;
    int threadIndex = 0;
    // Unset: 1 + the line's index from 0.
    std::optional<std::uint32_t> evalStamp;
    int evalSlot = 0;
    std::optional<kivohost::MeshShadeData> shadeData;
    std::optional<kivohost::ShadedInstance> shadeInstance;
};

Parsed<ContextRequest> readContext(const Json& value);
// The text of one line; messages do not carry the line number (the caller adds it).
Parsed<ContextRequest> parseContextLine(std::string_view line);

// Fills sc from the request; its shade data and shaded instance point into `request`, which must
// outlive the evaluation. `lineIndex` (from 0) gives the default evalStamp.
void fillContext(const ContextRequest& request, std::uint64_t lineIndex,
                 KUtils::ShadingContext& sc);

} // namespace uvwhost
