// The host renderer's SDK as the library sees it: parameters, render data, allocation, GPU
// source buffers and the message log. Everything marked KIVO_SDK_API is implemented by the
// host's SDK runtime and imported by the library.
#pragma once

#include "kivo/PluginModel.h"
#include "kivo/Types.h"

#include <cstddef>

#if defined(_WIN32) && defined(kivo_host_EXPORTS) // CMake's define while building the runtime
#define KIVO_SDK_API __declspec(dllexport)
#elif defined(_WIN32)
#define KIVO_SDK_API __declspec(dllimport)
#else
#define KIVO_SDK_API __attribute__((visibility("default")))
#endif

#if defined(__MINGW32__) && __USE_MINGW_ANSI_STDIO // MinGW's C99 printf (%zu), not msvcrt's
#define KIVO_PRINTF_FORMAT(fmt, first) __attribute__((format(gnu_printf, fmt, first)))
#elif defined(__GNUC__)
#define KIVO_PRINTF_FORMAT(fmt, first) __attribute__((format(printf, fmt, first)))
#else
#define KIVO_PRINTF_FORMAT(fmt, first)
#endif

namespace KUtils {

class TextureFloatInterface;
class TextureTransformInterface;

// ---- Allocation -----------------------------------------------------------------------------

// The host allocator; every block of the library comes from here. vmalloc returns null on
// failure.
KIVO_SDK_API void* vmalloc(std::size_t size);
KIVO_SDK_API void vfree(void* p);

// ---- Strings --------------------------------------------------------------------------------

// Reference-counted immutable text; copies share the text.
class KIVO_SDK_API CharString {
public:
    CharString() = default;
    explicit CharString(const char* text);
    CharString(const CharString& other);
    CharString& operator=(const CharString& other);
    ~CharString();

    // Null when empty-constructed.
    const char* ptr() const;

private:
    struct Header;
    Header* header = nullptr;
};

// ---- Parameters -----------------------------------------------------------------------------

enum class ParamType {
    Int,
    Float,
    Bool,
    String,
    Vector,
    Color,
    Matrix,
    Transform,
    TextureTransform,
    Texture,
    TextureFloat,
    Plugin,
    OutputTextureVector,
};

// One parameter of one instance: its value may be constant, animated (keys in time) or a list.
class KIVO_SDK_API KivoParameter {
public:
    const char* getName() const;
    ParamType getType() const;
    // Number of list elements at time t; -1 for a parameter that is not a list.
    int getCount(double t) const;

    int getInt(int index, double t) const;
    float getFloat(int index, double t) const;
    bool getBool(int index, double t) const;
    const char* getString(int index, double t) const;
    Vector4f getVector(int index, double t) const;
    AColor getColor(int index, double t) const;
    Matrix3x3f getMatrix(int index, double t) const;
    Transform getTransform(int index, double t) const;
    // The connected plugin (plugin and texture parameters, list elements); null when none.
    PluginBase* getPlugin(int index, double t) const;

    struct Impl;
    explicit KivoParameter(Impl* impl) : impl(impl) {}
    Impl* getImpl() const { return impl; }

private:
    Impl* impl;
};

// Parameter descriptors of one plugin type. A list count of -1 is a single value, 0 a list.
class KIVO_SDK_API KivoParameterListDesc {
public:
    KivoParameterListDesc();
    ~KivoParameterListDesc();
    KivoParameterListDesc(const KivoParameterListDesc&) = delete;
    KivoParameterListDesc& operator=(const KivoParameterListDesc&) = delete;

    int addParamInt(const char* name, int def, int count, const char* desc, const char* hints);
    int addParamFloat(const char* name, float def, int count, const char* desc, const char* hints);
    int addParamBool(const char* name, bool def, int count, const char* desc, const char* hints);
    int addParamString(const char* name, const char* def, int count, const char* desc,
                       const char* hints);
    int addParamVector(const char* name, const Vector4f& def, int count, const char* desc,
                       const char* hints);
    int addParamMatrix(const char* name, const Matrix3x3f& def, int count, const char* desc,
                       const char* hints);
    int addParamTransform(const char* name, int worldSpace, const Transform& def, int count,
                          const char* desc, const char* hints);
    int addParamTextureTransform(const char* name, const Transform& def, int count,
                                 const char* desc, const char* hints);
    int addParamTexture(const char* name, const AColor& def, int count, const char* desc,
                        const char* hints);
    int addParamTextureFloat(const char* name, float def, int count, const char* desc,
                             const char* hints);
    int addParamPlugin(const char* name, InterfaceID iface, int count, const char* desc,
                       const char* hints);
    int addOutputParamTextureVector(const char* name, const char* desc, const char* hints);

    KivoParameterList* newParameterList();
    void deleteParameterList(KivoParameterList* list);
    int registerParameters(KivoPluginHost* host, PluginDesc* desc);

    // Definition index, negative when absent.
    int findParamDefIndex(const char* name) const;
    int getNumParamDefs() const;
    // Read-back of a definition (name, type, description, hints, list count, world-space flag).
    const char* getParamDefName(int index) const;
    ParamType getParamDefType(int index) const;
    const char* getParamDefDescription(int index) const;
    const char* getParamDefHints(int index) const;
    int getParamDefCount(int index) const;
    int getParamDefWorldSpace(int index) const;

    struct Impl;
    Impl* getImpl() const { return impl; }

private:
    Impl* impl;
};

// The parameter values of one instance, and the members bound to them. Bound members are
// refreshed by cacheParams (the base frameBegin calls it at the frame time).
class KIVO_SDK_API KivoParameterList {
public:
    // int and bool parameters
    int setParamCache(const char* name, int* member);
    int setParamCache(const char* name, float* member);
    int setParamCache(const char* name, Vector4f* member);
    int setParamCache(const char* name, Matrix3x3f* member);
    // transform and texture-transform default values, in single precision
    int setParamCache(const char* name, UVWTransform* member);
    int setParamCache(const char* name, CharString* member);
    // Plugin and texture members cache null when nothing is connected.
    int setParamCache(const char* name, PluginBase** member);
    int setParamCache(const char* name, TextureInterface** member);
    int setParamCache(const char* name, TextureFloatInterface** member);
    int setParamCache(const char* name, TextureTransformInterface** member);
    int setOutputParamCache(const char* name, PluginInterface* iface);
    void cacheParams(double time, const Vector4f& point);

    int setParameter(KivoParameter* param);
    KivoParameter* getParam(const char* name);
    KivoParameter* getParam(int index);
    int getNumParams() const;

    struct Impl;
    explicit KivoParameterList(Impl* impl) : impl(impl) {}
    Impl* getImpl() const { return impl; }

private:
    Impl* impl;
};

// ---- Render data ----------------------------------------------------------------------------

class KivoMessageLog {
public:
    virtual void logMessage(const char* format, ...) KIVO_PRINTF_FORMAT(2, 3) = 0;

protected:
    ~KivoMessageLog() = default;
};

class KivoCamera;

// Moves a point by the camera's motion over the blur interval.
class KivoCameraMotion {
public:
    virtual void applyCameraMotion(Vector4f& result, const Vector4f& point, float time) const = 0;

protected:
    ~KivoCameraMotion() = default;
};

// Answer of the sequence data to EXT_UP_DIRECTION.
struct UpDirectionRecord {
    float upDirection[3];
};

// Settings for the whole render sequence.
class KIVO_SDK_API KivoSequenceData {
public:
    KivoSequenceData();
    virtual ~KivoSequenceData();
    void setDefaults();
    // Host-specific queries (EXT_UP_DIRECTION); null when not answered.
    virtual const void* getInterface(InterfaceID id) const;

    int numThreads = 1;
    KivoMessageLog* messageLog = nullptr;
    KivoCamera* camera = nullptr;
    int cameraType = 0;
    const KivoCameraMotion* cameraMotion = nullptr;
    int cameraMotionBlur = 0;
    // Motion blur on; geometry samples taken when a plugin asks for 0 or fewer.
    int motionBlur = 0;
    int geomSamples = 2;
};

// Settings of one frame. Copyable: a plugin may keep its own adjusted copy.
struct KivoFrameData {
    double frameTime = 0.0;
    double motionBlurStart = 0.0;
    double motionBlurEnd = 1.0;
    int imageWidth = 640;
    int imageHeight = 480;
    Vector3d sceneOrigin;
    float overscanLeft = 0.0f;
    float overscanTop = 0.0f;
    float overscanWidth = 640.0f;
    float overscanHeight = 480.0f;
    float pixelAspect = 1.0f;
    int frameIndex = 0;
    int samplerMode = 0;
    // Camera placement written by camera plugins: camera-to-world transform (looking down -z
    // of its matrix, relative to sceneOrigin), horizontal field of view in radians, and the
    // camera origin relative to sceneOrigin.
    Transform cameraTransform;
    float fov = 0.785398163f;
    Vector4f cameraOrigin;
};

class KivoRenderer {
public:
    KivoSequenceData* sequenceData = nullptr;
    KivoFrameData* frameData = nullptr;
};

// Number of transform samples to take for motion blur: 1 when motion blur is off; otherwise
// requested when > 0, else the sequence's geometry sample count.
KIVO_SDK_API int determineMotionBlurSamples(const KivoSequenceData& sequenceData, int requested);

// ---- Plugin host ----------------------------------------------------------------------------

class KivoPluginHost {
public:
    virtual void registerPluginDesc(PluginDesc* desc) = 0;
    virtual void unregisterPluginDesc(PluginDesc* desc) = 0;

protected:
    ~KivoPluginHost() = default;
};

// ---- GPU source -----------------------------------------------------------------------------

// Text buffer that collects the GPU description lines.
class KIVO_SDK_API ShaderSource {
public:
    ShaderSource();
    ~ShaderSource();
    ShaderSource(const ShaderSource&) = delete;
    ShaderSource& operator=(const ShaderSource&) = delete;

    void append(const char* text);
    void printf(const char* format, ...) KIVO_PRINTF_FORMAT(2, 3);
    const char* text() const;
    std::size_t size() const;

private:
    struct Impl;
    Impl* impl;
};

// Entry that a parameter-block registry returns for a registered block.
struct ParamBlockEntry {
    int blockId = -1;
};

// Collects fixed-layout parameter blocks that GPU code reads by id.
class ParamBlockRegistry {
public:
    virtual ParamBlockEntry* addParamBlock(const PluginBase* owner, const void* block, int size,
                                           int flags) = 0;
    virtual void commitParamBlock(const PluginBase* owner) = 0;
    virtual void removeParamBlock(const PluginBase* owner) = 0;

protected:
    ~ParamBlockRegistry() = default;
};

// What the GPU code generator learns besides the text.
struct GPUDataRecord {
    // 1 when the generated code reads object-space coordinates.
    int objectSpaceFlag = 0;
    ParamBlockRegistry* paramBlockRegistry = nullptr;
    KivoRenderer* renderer = nullptr;
};

// ---- Debugger output ------------------------------------------------------------------------

// The platform's developer-visible diagnostic channel for UTF-16 text (zero-terminated).
// The host can replace the sink (tests capture it); by default it writes to stderr.
using DebugOutputSink = void (*)(const char16_t* text);
KIVO_SDK_API void writeDebugOutput(const char16_t* text);
KIVO_SDK_API DebugOutputSink setDebugOutputSink(DebugOutputSink sink);

} // namespace KUtils
