#include "projection/UVWGenProjection.h"

#include "frame/FiniteResult.h"
#include "frame/MotionSamples.h"
#include "kivo/VectorMath.h"

#include <cmath>

namespace KUtils {

namespace {

// The shaded instance's answer to id as the interface type the id stands for, or null.
template <class Interface>
const Interface* instanceQuery(const ShadingContext& sc, InterfaceID id) {
    if (!sc.shadeInstance) {
        return nullptr;
    }
    return static_cast<const Interface*>(sc.shadeInstance->getInterface(id));
}

// The camera plugin's settings interface, or null.
CameraSettingsInterface* cameraSettingsOf(PluginBase* plugin) {
    return plugin ? static_cast<CameraSettingsInterface*>(plugin->getInterface(EXT_CAMERA_SETTINGS))
                  : nullptr;
}

} // namespace

UVWGenProjection::UVWGenProjection(KivoPluginDesc* desc) : GpuUVWGen(desc) {
    if (KivoParameterList* params = getParamList()) {
        params->setParamCache("uvw_transform_tex", &uvwTransformTex);
        params->setParamCache("tex_transform", &texTransform);
        params->setParamCache("type", &type);
        params->setParamCache("u_angle", &uAngle);
        params->setParamCache("v_angle", &vAngle);
        params->setParamCache("camera_settings", &cameraSettings);
        params->setParamCache("camera_view", &cameraView);
        params->setParamCache("fitfill", &fitFill);
        params->setParamCache("fittype", &fitType);
        params->setParamCache("bitmap", &bitmap);
        params->setParamCache("film_gate_w", &filmGateW);
        params->setParamCache("film_gate_h", &filmGateH);
        params->setParamCache("hide_backface", &hideBackface);
        params->setParamCache("hide_occluded", &hideOccluded);
        params->setParamCache("object_space", &objectSpace);
        params->setParamCache("include_overscan", &includeOverscan);
        params->setParamCache("nsamples", &nsamples);
    }
}

UVWGenProjection::~UVWGenProjection() {
    gpuBlock.release(this);
}

PluginInterface* UVWGenProjection::getInterface(InterfaceID id) {
    if (id == EXT_RENDER_SETTINGS) {
        return static_cast<RenderSettingsInterface*>(this);
    }
    return GpuUVWGen::getInterface(id);
}

// ---- Lifecycle ------------------------------------------------------------------------------

void UVWGenProjection::prepareRender(KivoRenderer*) {
    // The host may prepare the render before it first caches the parameters; type and bitmap
    // are read here.
    if (KivoParameterList* params = getParamList()) {
        params->cacheParams(0.0, Vector4f{});
    }
    camera.useBitmap(type == PROJ_PERSPECTIVE ? bitmap : nullptr);
}

void UVWGenProjection::frameBegin(KivoRenderer* renderer) {
    KivoPluginInterface::frameBegin(renderer);
    // A frame that began without the previous one finishing must not leak its camera or
    // its samples.
    camera.releaseCamera();
    transformSamples.reset();

    const KivoFrameData* frame = renderer ? renderer->frameData : nullptr;
    sceneOrigin = frame ? Vector4f{float(frame->sceneOrigin.x), float(frame->sceneOrigin.y),
                                   float(frame->sceneOrigin.z), 0.0f}
                        : Vector4f{};
    if (type == PROJ_PERSPECTIVE) {
        ProjectionCameraSettings settings;
        settings.fit.includeOverscan = includeOverscan != 0;
        settings.fit.fitFill = fitFill;
        settings.fit.fitType = fitType;
        settings.fit.filmGateW = filmGateW;
        settings.fit.filmGateH = filmGateH;
        settings.hideBackface = hideBackface != 0;
        settings.hideOccluded = hideOccluded != 0;
        settings.cameraView = cameraView != nullptr;
        camera.beginFrame(renderer, settings);
    }
    // A uvw_transform_tex gives the transform per shading point.
    if (uvwTransformTex) {
        return;
    }
    sampleUVWTransform(renderer);
}

void UVWGenProjection::sampleUVWTransform(KivoRenderer* renderer) {
    const KivoSequenceData* sequence = renderer ? renderer->sequenceData : nullptr;
    const KivoFrameData* frame = renderer ? renderer->frameData : nullptr;
    numSamples = sequence ? motionSampleCount(*sequence, nsamples) : 1;
    KivoParameter* param = getParamList() ? getParamList()->getParam("uvw_transform") : nullptr;
    if (!param) {
        uvwTransform = UVWTransform{};
        return;
    }
    const double frameTime = frame ? frame->frameTime : 0.0;
    if (numSamples == 1) {
        uvwTransform = toUVWTransform(param->getTransform(0, frameTime));
        return;
    }
    // Sample times in this plugin's own operation order (the span times i, then over the
    // count), which its stored results depend on.
    const double start = frame ? frame->motionBlurStart : frameTime;
    const double end = frame ? frame->motionBlurEnd : frameTime;
    transformSamples.reset(new UVWTransform[numSamples]);
    for (int i = 0; i < numSamples; ++i) {
        const double t = start + (end - start) * i / (numSamples - 1);
        transformSamples[i] = toUVWTransform(param->getTransform(0, t));
    }
}

void UVWGenProjection::finishFrame(KivoRenderer*) {
    camera.releaseCamera();
    camera.sequence().camera = nullptr;
    transformSamples.reset();
    gpuBlock.release(this);
}

// ---- Render settings ------------------------------------------------------------------------

void UVWGenProjection::updateSequenceData(KivoSequenceData& sequenceData) {
    if (KivoParameterList* params = getParamList()) {
        params->cacheParams(0.0, Vector4f{});
    }
    camera.sequence().messageLog = sequenceData.messageLog;
    if (type != PROJ_PERSPECTIVE) {
        return;
    }
    for (PluginBase* plugin : {cameraSettings, cameraView}) {
        if (CameraSettingsInterface* settings = cameraSettingsOf(plugin)) {
            settings->writeSequenceData(camera.sequence());
        }
    }
}

void UVWGenProjection::updateFrameData(KivoFrameData& frameData) {
    camera.frame() = frameData;
    if (KivoParameterList* params = getParamList()) {
        params->cacheParams(frameData.frameTime, Vector4f{});
    }
    if (type != PROJ_PERSPECTIVE) {
        return;
    }
    for (PluginBase* plugin : {cameraSettings, cameraView}) {
        if (CameraSettingsInterface* settings = cameraSettingsOf(plugin)) {
            settings->writeFrameData(camera.frame());
        }
    }
}

// ---- Evaluation -----------------------------------------------------------------------------

template <bool Jacobian, typename Finish>
int UVWGenProjection::evaluate(const ShadingContext& sc, Finish&& finish) {
    // The frame's uvw_transform is used in place; a working transform of its own (from the
    // transform texture or the motion samples) only where there is one, so that the common
    // path neither fills nor copies 64 bytes per call.
    if (uvwTransformTex) {
        UVWTransform m;
        uvwTransformTex->evalTransform(m, sc);
        return evaluateThrough<Jacobian>(sc, m, finish);
    }
    if (transformSamples && numSamples > 1) {
        const UVWTransform m =
            sampleMotion(transformSamples.get(), numSamples, sc.time, MotionEdges::HoldBothEnds);
        return evaluateThrough<Jacobian>(sc, m, finish);
    }
    return evaluateThrough<Jacobian>(sc, uvwTransform, finish);
}

template <bool Jacobian, typename Finish>
int UVWGenProjection::evaluateThrough(const ShadingContext& sc, const UVWTransform& m,
                                      Finish& finish) {
    // The camera maps the context itself; the point is formed only for object space.
    if (type == PROJ_PERSPECTIVE && !objectSpace) {
        return mapPoint<Jacobian>(sc, m, sc.shadingPoint, finish);
    }
    // The projected point, in object space or in world space (scene origin included).
    if (objectSpace) {
        if (const auto* os = instanceQuery<ObjectSpaceInterface>(sc, EXT_OBJECT_SPACE)) {
            Vector4f e0, e1, e2, q0;
            os->toObjectVector(e0, sc, {1.0f, 0.0f, 0.0f, 0.0f});
            os->toObjectVector(e1, sc, {0.0f, 1.0f, 0.0f, 0.0f});
            os->toObjectVector(e2, sc, {0.0f, 0.0f, 1.0f, 0.0f});
            os->toObjectPoint(q0, sc, {0.0f, 0.0f, 0.0f, 0.0f});
            const UVWTransform objectM = toObjectSpace(m, e0, e1, e2, q0);
            return mapPoint<Jacobian>(sc, objectM, applyPoint(objectM, sc.shadingPoint), finish);
        }
        return mapPoint<Jacobian>(sc, m, applyPoint(m, sc.shadingPoint + sceneOrigin), finish);
    }
    if (const auto* ref = instanceQuery<ReferencePointInterface>(sc, EXT_REFERENCE_POINT)) {
        Vector4f q;
        ref->getReferencePoint(q, sc);
        return mapPoint<Jacobian>(sc, m, applyPoint(m, q), finish);
    }
    return mapPoint<Jacobian>(sc, m, applyPoint(m, sc.shadingPoint + sceneOrigin), finish);
}

template <bool Jacobian, typename Finish>
int UVWGenProjection::mapPoint(const ShadingContext& sc, const UVWTransform& m, const Vector4f& p,
                               Finish& finish) {
    if (type == PROJ_PERSPECTIVE) {
        UVWTransform local;
        if (!camera.map(sc, local)) {
            return 0;
        }
        finish(local, m);
        return 1;
    }
    const Vector4f nPrime = applyLinear(m, sc.normal);
    if constexpr (Jacobian) {
        finish(mapProjection(type, p, nPrime, uAngle, vAngle), m);
    } else {
        const UVWTransform point{{}, {}, {}, mapProjectionPoint(type, p, nPrime, uAngle, vAngle)};
        finish(point, m);
    }
    return 1;
}

int UVWGenProjection::evalUVW(const ShadingContext& sc, Vector4f& uvw) {
    const int valid = evaluate<false>(sc, [&](const UVWTransform& local, const UVWTransform&) {
        uvw = finishProjectionPoint(local, texTransform);
    });
    if (!valid) {
        uvw = Vector4f{};
    }
    return finiteResult(valid, uvw);
}

int UVWGenProjection::evalUVWDerivs(const ShadingContext& sc, Vector4f out[3]) {
    Vector4f result, dx, dy;
    const int valid = evaluate<true>(sc, [&](const UVWTransform& local, const UVWTransform& m) {
        const UVWTransform tm = finishProjection(local, m, texTransform);
        result = tm.o;
        dx = applyLinear(tm, sc.dPdx);
        dy = applyLinear(tm, sc.dPdy);
    });
    // A hidden point gives zeros whatever the differentials hold.
    if (!valid) {
        result = dx = dy = Vector4f{};
    }
    return storeIfFinite(valid, result, dx, dy, out);
}

int UVWGenProjection::evalUVWTransform(const ShadingContext& sc, UVWTransform& tm) {
    const int valid = evaluate<true>(sc, [&](const UVWTransform& local, const UVWTransform& m) {
        tm = finishProjection(local, m, texTransform);
    });
    if (!valid) {
        tm = UVWTransform{{}, {}, {}, {}};
    }
    return finiteResult(valid, tm);
}

// ---- GPU source -----------------------------------------------------------------------------

int UVWGenProjection::emitRTSource(const char*, const char*, const char*, ShaderSource& source,
                                   GPUDataRecord& gpuData) {
    // The projection's own object_space travels in the parameter block.
    gpuData.objectSpaceFlag = 0;
    source.append("projection\n");
    const int id = gpuBlock.idFor(this, gpuData, [&] {
        ProjectionBlockValues values;
        values.type = type;
        values.fitType = fitType;
        values.filmGateW = filmGateW;
        values.filmGateH = filmGateH;
        values.objectSpace = objectSpace;
        if (cameraView) {
            readCameraView(values, *cameraView);
        } else {
            // Under motion blur the frame's first sample stands for the transform.
            const UVWTransform& m = transformSamples ? transformSamples[0] : uvwTransform;
            values.matrix = {m.c0, m.c1, m.c2};
            values.translation = m.o;
        }
        return values;
    });
    source.printf("projParamsPtr_id %i\n", id);
    return 0;
}

// ---- Descriptor -----------------------------------------------------------------------------

UVWGenProjectionDesc::UVWGenProjectionDesc()
    : PluginDescOf("UVWGenProjection", 2007020102,
                   "UVW generator that applies the chosen projection type to the world or object "
                   "space coordinates of the shaded point [gpuSupport=(partial)]",
                   UVWGEN_DESC_INTERFACES) {
    KivoParameterListDesc& d = paramDescs();
    const Transform identity;
    d.addParamTransform("uvw_transform", 0, identity, -1,
                        "Initial transformation on the uvw coordinates, before applying the "
                        "mapping type and other parameters",
                        "gpuSupport=(full)");
    d.addParamTextureTransform("uvw_transform_tex", identity, -1,
                               "A texture overriding uvw_transform", "gpuSupport=(full)");
    d.addParamTransform("tex_transform", 0, identity, -1,
                        "Final transformation on the resulting uvw coordinates, after applying "
                        "the mapping type and other parameters",
                        "gpuSupport=(full)");
    d.addParamInt("type", 1, -1,
                  "Mapping type (0 - none; 1 - planar; 2 - spherical; 3 - cylindrical; 4 - ball; "
                  "5 - cubic; 6 - triplanar; 8 - perspective; 9 - Quor cubic; 10 - Quor box",
                  "enum=(0:Node;1:Planar;2:Spherical;3:Cylindrical;4:Ball;5:Cubic;6:Triplanar;8:"
                  "Perspective; 9:Quor cubic; 10:Quor box), gpuSupport=(partial)");
    d.addParamFloat("u_angle", kPi, -1, "The angle that corresponds to U=1 for spherical mapping",
                    "units=(radians), gpuSupport=(none)");
    d.addParamFloat("v_angle", kHalfPi, -1,
                    "The angle that corresponds to V=1 for spherical mapping",
                    "units=(radians), gpuSupport=(none)");
    d.addParamPlugin("camera_settings", EXT_RENDER_SETTINGS, -1,
                     "SettingsCamera plugin used for the 'perspective' mapping type",
                     "gpuSupport=(none)");
    d.addParamPlugin("camera_view", EXT_RENDER_VIEW, -1,
                     "RenderView plugin used for the 'perspective' mapping type",
                     "gpuSupport=(full)");
    d.addParamInt("fitfill", 0, -1, "0 - Fit fill; 1 - Horizontal; 2 - Vertical;",
                  "enum=(0:Fit fill;1:Horizontal;2:Vertical), gpuSupport=(none)");
    d.addParamInt("fittype", 0, -1,
                  "0 - None; 1 - Match camera film gate; 2 - Match camera resolution;",
                  "enum=(0:None;1:Match camera file gate;2:Match camera resolution), "
                  "gpuSupport=(full)");
    d.addParamPlugin("bitmap", EXT_BITMAP_SIZE, -1,
                     "If we are projecting a bitmap, this is the bitmap's buffer, we need it to "
                     "implement vertical/horizontal fit",
                     "gpuSupport=(none)");
    d.addParamFloat("film_gate_w", 1.0f, -1, "Film gate width for 'perspective' mapping type",
                    "gpuSupport=(full)");
    d.addParamFloat("film_gate_h", 1.0f, -1, "Film gate height for 'perspective' mapping type",
                    "gpuSupport=(full)");
    d.addParamBool("hide_backface", false, -1,
                   "Determine whether to project on back faces of polygons when in perspective "
                   "mode",
                   "gpuSupport=(none)");
    d.addParamBool("hide_occluded", false, -1,
                   "Determine whether to project on occluded points when in perspective mode",
                   "gpuSupport=(none)");
    d.addParamBool("object_space", false, -1,
                   "If true the projection will be applied in the object space of the currently "
                   "shaded geometry.",
                   "gpuSupport=(full)");
    d.addParamBool("include_overscan", false, -1,
                   "True to include camera overscan in perspective mode.", "gpuSupport=(none)");
    d.addParamInt("nsamples", 0, -1, "Number of uvw transform samples for motion blur",
                  "gpuSupport=(none)");
    publishParams();
}

} // namespace KUtils
