#include "uvwhost/FrameSettings.h"

#include "uvwhost/Limits.h"

#include <functional>
#include <map>
#include <string>

namespace uvwhost {

using namespace KUtils;

namespace {

template <class T>
std::string store(const Parsed<T>& parsed, T& field) {
    if (!parsed) {
        return parsed.error();
    }
    field = *parsed;
    return {};
}

template <class T>
std::string storeOptional(const Parsed<T>& parsed, std::optional<T>& field) {
    if (!parsed) {
        return parsed.error();
    }
    field = *parsed;
    return {};
}

} // namespace

Parsed<FrameSettings> readFrameSettings(const Json& value, const std::string& what,
                                        FrameSettings base) {
    if (!value.is_object()) {
        return Parsed<FrameSettings>::failure(what + ": expected a JSON object, got " +
                                              excerpt(value));
    }
    FrameSettings s = base;
    using Reader = std::function<std::string(const Json&, const std::string&)>;
    const std::map<std::string, Reader> readers = {
        {"frameTime",
         [&](const Json& v, const std::string& w) { return store(readNumber(v, w), s.frameTime); }},
        {"motionBlur",
         [&](const Json& v, const std::string& w) { return store(readBool(v, w), s.motionBlur); }},
        {"motionBlurStart",
         [&](const Json& v, const std::string& w) {
             return store(readNumber(v, w), s.motionBlurStart);
         }},
        {"motionBlurEnd",
         [&](const Json& v, const std::string& w) {
             return store(readNumber(v, w), s.motionBlurEnd);
         }},
        {"geomSamples",
         [&](const Json& v, const std::string& w) {
             return store(readCount(v, w, MAX_GEOM_SAMPLES), s.geomSamples);
         }},
        {"imageWidth",
         [&](const Json& v, const std::string& w) {
             return store(readCount(v, w, MAX_IMAGE_SIDE), s.imageWidth);
         }},
        {"imageHeight",
         [&](const Json& v, const std::string& w) {
             return store(readCount(v, w, MAX_IMAGE_SIDE), s.imageHeight);
         }},
        {"sceneOrigin",
         [&](const Json& v, const std::string& w) {
             return store(readVector3d(v, w), s.sceneOrigin);
         }},
        {"up", [&](const Json& v,
                   const std::string& w) { return storeOptional(readVector(v, w), s.up); }},
        {"threads",
         [&](const Json& v, const std::string& w) {
             return store(readCount(v, w, MAX_THREADS), s.threads);
         }},
        {"pixelAspect",
         [&](const Json& v, const std::string& w) {
             return store(readFloat(v, w), s.pixelAspect);
         }},
        {"overscanLeft",
         [&](const Json& v, const std::string& w) {
             return store(readFloat(v, w), s.overscanLeft);
         }},
        {"overscanTop",
         [&](const Json& v, const std::string& w) {
             return store(readFloat(v, w), s.overscanTop);
         }},
        {"overscanWidth",
         [&](const Json& v, const std::string& w) {
             return storeOptional(readFloat(v, w), s.overscanWidth);
         }},
        {"overscanHeight",
         [&](const Json& v, const std::string& w) {
             return storeOptional(readFloat(v, w), s.overscanHeight);
         }},
        {"frameIndex",
         [&](const Json& v, const std::string& w) { return store(readInt(v, w), s.frameIndex); }},
    };
    for (const auto& [key, item] : value.items()) {
        const auto reader = readers.find(key);
        if (reader == readers.end()) {
            return Parsed<FrameSettings>::failure(what + ": unknown field \"" + key + "\"");
        }
        const std::string error = reader->second(item, what + " field \"" + key + "\"");
        if (!error.empty()) {
            return Parsed<FrameSettings>::failure(error);
        }
    }
    return s;
}

Parsed<FrameSettings> parseFrameSettings(std::string_view text) {
    const auto value = parseJson(text);
    if (!value) {
        return Parsed<FrameSettings>::failure("--frame: " + quoteInput(text, 0) + " is " +
                                              value.error());
    }
    return readFrameSettings(*value, "--frame");
}

void applyFrameSettings(const FrameSettings& s, kivohost::RenderSession& session) {
    session.sequence.numThreads = s.threads;
    session.sequence.motionBlur = s.motionBlur ? 1 : 0;
    session.sequence.geomSamples = s.geomSamples;
    session.sequence.up.reset();
    if (s.up) {
        session.sequence.up = UpDirectionRecord{{s.up->x, s.up->y, s.up->z}};
    }
    KivoFrameData& f = session.frame;
    f.frameTime = s.frameTime;
    f.motionBlurStart = s.motionBlurStart;
    f.motionBlurEnd = s.motionBlurEnd;
    f.imageWidth = s.imageWidth;
    f.imageHeight = s.imageHeight;
    f.sceneOrigin = s.sceneOrigin;
    f.pixelAspect = s.pixelAspect;
    f.overscanLeft = s.overscanLeft;
    f.overscanTop = s.overscanTop;
    f.overscanWidth = s.overscanWidth.value_or(float(s.imageWidth));
    f.overscanHeight = s.overscanHeight.value_or(float(s.imageHeight));
    f.frameIndex = s.frameIndex;
}

} // namespace uvwhost
