#include "uvwhost/ContextLine.h"

#include "kivo/VectorMath.h"
#include "uvwhost/JsonFields.h"

#include <functional>
#include <map>
#include <string>

namespace uvwhost {

using namespace KUtils;

namespace {

FieldReader vectorInto(Vector4f& field) {
    return into(field, readVector);
}
FieldReader optionalVectorInto(std::optional<Vector4f>& field) {
    return into(field, readVector);
}
FieldReader floatInto(float& field) {
    return into(field, readFloat);
}
// An int field that is a flag: true and false read as 1 and 0.
Parsed<int> readFlag(const Json& v, const std::string& w) {
    if (v.is_boolean()) {
        return v.get<bool>() ? 1 : 0;
    }
    return readInt(v, w);
}
FieldReader intInto(int& field) {
    return into(field, readInt);
}

// A channel index key: a decimal integer in the 32-bit range.
Parsed<int> readChannelIndex(const std::string& key, const std::string& what) {
    const auto number = parseJson(key);
    if (!number || !number->is_number_integer()) {
        return Parsed<int>::failure(what + ": channel keys are integers, got " + quoteInput(key));
    }
    return readInt(*number, what + " channel " + quoteInput(key));
}

std::string readChannel(const Json& value, const std::string& what, kivohost::MapChannel& channel) {
    return readFields(value, what,
                      {{"uvw", vectorInto(channel.uvw)},
                       {"basis", [&channel](const Json& v, const std::string& w) -> std::string {
                            auto m = readMatrix(v, w);
                            if (!m) {
                                return m.error();
                            }
                            channel.basis[0] = m->c0;
                            channel.basis[1] = m->c1;
                            channel.basis[2] = m->c2;
                            return {};
                        }}});
}

std::string readShadeData(const Json& value, const std::string& what,
                          kivohost::MeshShadeData& data) {
    return readFields(
        value, what,
        {{"provider", into(data.provider, readBool)},
         {"channels",
          [&data](const Json& v, const std::string& w) -> std::string {
              if (!v.is_object()) {
                  return w + ": expected an object of channels by index, got " + excerpt(v);
              }
              for (const auto& [key, item] : v.items()) {
                  auto index = readChannelIndex(key, w);
                  if (!index) {
                      return index.error();
                  }
                  kivohost::MapChannel channel;
                  std::string error = readChannel(item, w + " channel \"" + key + "\"", channel);
                  if (!error.empty()) {
                      return error;
                  }
                  data.channels[*index] = channel;
              }
              return {};
          }},
         {"ids", [&data](const Json& v, const std::string& w) -> std::string {
              kivohost::ShadeIds ids;
              std::string error = readFields(v, w,
                                             {{"material", into(ids.material, readUInt32)},
                                              {"object", into(ids.object, readUInt32)},
                                              {"available", into(ids.available, readFlag)}});
              if (error.empty()) {
                  data.ids = ids;
              }
              return error;
          }}});
}

std::string readShadeInstance(const Json& value, const std::string& what,
                              kivohost::ShadedInstance& instance) {
    return readFields(value, what,
                      {{"objectSpace",
                        [&instance](const Json& v, const std::string& w) -> std::string {
                            auto t = readTransform(v, w);
                            if (!t) {
                                return t.error();
                            }
                            instance.objectSpace = toUVWTransform(*t);
                            return {};
                        }},
                       {"referencePoint", optionalVectorInto(instance.referencePoint)},
                       {"scenePoint", optionalVectorInto(instance.scenePoint)}});
}

} // namespace

Parsed<ContextRequest> readContext(const Json& value) {
    ContextRequest s;
    const std::map<std::string, FieldReader> readers = {
        {"shadingPoint", vectorInto(s.shadingPoint)},
        {"surfacePoint", optionalVectorInto(s.surfacePoint)},
        {"normal", vectorInto(s.normal)},
        {"auxNormal", optionalVectorInto(s.auxNormal)},
        {"dPdx", vectorInto(s.dPdx)},
        {"dPdy", vectorInto(s.dPdy)},
        {"rayOrigin", vectorInto(s.rayOrigin)},
        {"rayDir", vectorInto(s.rayDir)},
        {"dDdx", vectorInto(s.dDdx)},
        {"dDdy", vectorInto(s.dDdy)},
        {"screenFrameAxis", vectorInto(s.screenFrameAxis)},
        {"time", floatInto(s.time)},
        {"imageX", floatInto(s.imageX)},
        {"imageY", floatInto(s.imageY)},
        {"backSide", into(s.backSide, readFlag)},
        {"flags", intInto(s.flags)},
        {"threadIndex", intInto(s.threadIndex)},
        {"evalStamp", into(s.evalStamp, readUInt32)},
        {"evalSlot", intInto(s.evalSlot)},
        {"shadeData",
         [&s](const Json& v, const std::string& w) {
             s.shadeData.emplace();
             return readShadeData(v, w, *s.shadeData);
         }},
        {"shadeInstance",
         [&s](const Json& v, const std::string& w) {
             s.shadeInstance.emplace();
             return readShadeInstance(v, w, *s.shadeInstance);
         }},
    };
    std::string error = readFields(value, "context", readers, true);
    if (!error.empty()) {
        return Parsed<ContextRequest>::failure(error);
    }
    return s;
}

Parsed<ContextRequest> parseContextLine(std::string_view line) {
    const auto value = parseJson(line);
    if (!value) {
        return Parsed<ContextRequest>::failure(value.error() + " (expected one JSON object)");
    }
    return readContext(*value);
}

void fillContext(const ContextRequest& request, std::uint64_t lineIndex, ShadingContext& sc) {
    sc.shadingPoint = request.shadingPoint;
    sc.surfacePoint = request.surfacePoint.value_or(request.shadingPoint);
    sc.normal = request.normal;
    sc.auxNormal = request.auxNormal.value_or(request.normal);
    sc.dPdx = request.dPdx;
    sc.dPdy = request.dPdy;
    sc.rayOrigin = request.rayOrigin;
    sc.rayDir = request.rayDir;
    sc.dDdx = request.dDdx;
    sc.dDdy = request.dDdy;
    sc.screenFrameAxis = request.screenFrameAxis;
    sc.time = request.time;
    sc.imageX = request.imageX;
    sc.imageY = request.imageY;
    sc.backSide = request.backSide;
    sc.flags = request.flags;
    sc.threadData.threadIndex = request.threadIndex;
    // The default stamp counts lines from 1 and skips 0 (the caches' "empty") when it wraps.
    const auto counted = static_cast<std::uint32_t>(1 + lineIndex);
    sc.evalStamp = request.evalStamp.value_or(counted == 0 ? 1u : counted);
    sc.evalSlot = request.evalSlot;
    sc.shadeData = request.shadeData ? &*request.shadeData : nullptr;
    sc.shadeInstance = request.shadeInstance ? &*request.shadeInstance : nullptr;
}

} // namespace uvwhost
