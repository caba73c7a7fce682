#include "projection/UVWGenProjection.h"

#include "frame/FiniteResult.h"
#include "frame/MotionSamples.h"
#include "frame/Platform.h"
#include "frame/VectorMath.h"

#include <cmath>

namespace KUtils {

namespace {

// Serialises the once-per-frame image refresh of every perspective projection in the process.
Lock projectionLock;

// The shaded instance's answer to id as the interface type the id stands for, or null.
template <class Interface>
const Interface* instanceQuery(const ShadingContext& sc, InterfaceID id) {
    if (!sc.shadeInstance) {
        return nullptr;
    }
    return static_cast<const Interface*>(sc.shadeInstance->getInterface(id));
}

Vector4f toSingle(const Vector3d& v) {
    return {float(v.x), float(v.y), float(v.z), 0.0f};
}

Vector4f sceneOriginOf(const ShadingContext& sc) {
    const KivoFrameData* frame = sc.renderer ? sc.renderer->frameData : nullptr;
    return frame ? toSingle(frame->sceneOrigin) : Vector4f{};
}

// The camera plugin's settings interface, or null.
CameraSettingsInterface* cameraSettingsOf(PluginBase* plugin) {
    return plugin ? static_cast<CameraSettingsInterface*>(plugin->getInterface(EXT_CAMERA_SETTINGS))
                  : nullptr;
}

// True when the ray from origin along toCam (the whole segment) hits the host's geometry.
bool occluded(const ShadingContext& sc, const Vector4f& origin, const Vector4f& toCam) {
    KivoRayContext* ray = sc.newRayContext(0, AColor{1.0f, 1.0f, 1.0f, 1.0f}, 8, &toCam);
    if (!ray) {
        return false;
    }
    ray->origin = origin;
    ray->segment = toCam;
    const float length = std::sqrt(dot3(toCam, toCam));
    ray->direction = length != 0.0f ? toCam * (1.0f / length) : toCam;
    ray->tStart = 0.0f;
    ray->tEnd = 1.0f;
    KivoHitRecord hit{};
    hit.words[15] = -1;
    const int result = ray->owner ? ray->owner->traceRay(*ray, hit, 0) : 0;
    ray->releaseRay();
    return result != 0;
}

} // namespace

UVWGenProjection::UVWGenProjection(KivoPluginDesc* desc) : GpuUVWGen(desc) {
    viewSequence.setDefaults();
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
    if (gpuRegistered && gpuRegistry) {
        gpuRegistry->removeParamBlock(this);
    }
    if (ownedCamera) {
        deleteDefaultCameraSampler(ownedCamera);
    }
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
    bitmapFrameSize = nullptr;
    if (type == PROJ_PERSPECTIVE && bitmap) {
        bitmapSize = static_cast<BitmapSizeInterface*>(bitmap->getInterface(EXT_BITMAP_SIZE));
        bitmapFrameSize =
            static_cast<BitmapFrameSizeInterface*>(bitmap->getInterface(EXT_BITMAP_FRAME_SIZE));
    } else {
        bitmapSize = nullptr;
    }
}

void UVWGenProjection::frameBegin(KivoRenderer* renderer) {
    KivoPluginInterface::frameBegin(renderer);
    // A frame that began without the previous one finishing must not leak its camera or
    // its samples.
    releaseCamera();
    transformSamples.reset();

    perspectiveDirty.store(type == PROJ_PERSPECTIVE, std::memory_order_release);
    const KivoFrameData* frame = renderer ? renderer->frameData : nullptr;
    if (type == PROJ_PERSPECTIVE && frame) {
        setUpCamera(renderer, *frame);
        readBitmapAspect(*frame);
    }
    // A uvw_transform_tex gives the transform per shading point.
    if (uvwTransformTex) {
        return;
    }
    sampleUVWTransform(renderer);
}

void UVWGenProjection::setUpCamera(KivoRenderer* renderer, const KivoFrameData& frame) {
    image.imageWidth = frame.imageWidth;
    image.imageHeight = frame.imageHeight;
    image.overscanLeft = frame.overscanLeft;
    image.overscanWidth = frame.overscanWidth;
    image.overscanTop = frame.overscanTop;
    image.overscanHeight = frame.overscanHeight;
    image.pixelAspect = frame.pixelAspect;

    if (viewSequence.camera && viewSequence.cameraType == 0) {
        viewSequence.camera->prepareCameraFrame(renderer);
    } else {
        KivoCamera* camera = newDefaultCameraSampler(viewSequence.cameraType, viewFrame.samplerMode,
                                                     viewSequence.camera);
        if (camera) {
            camera->initCamera(renderer, viewSequence, viewFrame);
        }
        ownedCamera = camera;
        viewSequence.camera = camera;
    }

    const Vector2f inverse = inverseImageSize(includeOverscan != 0, image);
    invWidth = inverse.x;
    invHeight = inverse.y;
}

void UVWGenProjection::readBitmapAspect(const KivoFrameData& frame) {
    if (!bitmapFrameSize && !bitmapSize) {
        return;
    }
    int width = 0, height = 0;
    if (bitmapFrameSize) {
        bitmapFrameSize->getFrameSize(width, height, frame.frameIndex);
    } else {
        bitmapSize->getSize(width, height);
    }
    // The camera aspect comes from the frame just copied into image.
    const float aspect = cameraAspect(fitType, filmGateW, filmGateH, includeOverscan != 0, image);
    const Vector2f ratios = bitmapFitRatios(width, height, aspect);
    bitmapOverCamera = ratios.x;
    cameraOverBitmap = ratios.y;
}

void UVWGenProjection::sampleUVWTransform(KivoRenderer* renderer) {
    const KivoSequenceData* sequence = renderer ? renderer->sequenceData : nullptr;
    const KivoFrameData* frame = renderer ? renderer->frameData : nullptr;
    nsamples = sequence ? motionSampleCount(*sequence, nsamples) : 1;
    KivoParameter* param = getParamList() ? getParamList()->getParam("uvw_transform") : nullptr;
    if (!param) {
        uvwTransform = Transform3x4f{};
        return;
    }
    const double frameTime = frame ? frame->frameTime : 0.0;
    if (nsamples == 1) {
        uvwTransform = toUVWTransform(param->getTransform(0, frameTime));
        return;
    }
    const double start = frame ? frame->motionBlurStart : frameTime;
    const double end = frame ? frame->motionBlurEnd : frameTime;
    transformSamples.reset(new Transform3x4f[nsamples]);
    for (int i = 0; i < nsamples; ++i) {
        const double t = start + (end - start) * i / (nsamples - 1);
        transformSamples[i] = toUVWTransform(param->getTransform(0, t));
    }
}

void UVWGenProjection::releaseCamera() {
    if (!ownedCamera) {
        return;
    }
    if (viewSequence.camera == ownedCamera) {
        viewSequence.camera = nullptr;
    }
    deleteDefaultCameraSampler(ownedCamera);
    ownedCamera = nullptr;
}

void UVWGenProjection::finishFrame(KivoRenderer*) {
    releaseCamera();
    viewSequence.camera = nullptr;
    transformSamples.reset();
    if (gpuRegistry) {
        gpuRegistry->removeParamBlock(this);
        gpuRegistry = nullptr;
    }
    gpuBlockId = -1;
    gpuRegistered = 0;
}

// ---- Render settings ------------------------------------------------------------------------

void UVWGenProjection::updateSequenceData(KivoSequenceData& sequenceData) {
    if (KivoParameterList* params = getParamList()) {
        params->cacheParams(0.0, Vector4f{});
    }
    viewSequence.messageLog = sequenceData.messageLog;
    if (type != PROJ_PERSPECTIVE) {
        return;
    }
    for (PluginBase* plugin : {cameraSettings, cameraView}) {
        if (CameraSettingsInterface* settings = cameraSettingsOf(plugin)) {
            settings->writeSequenceData(viewSequence);
        }
    }
}

void UVWGenProjection::updateFrameData(KivoFrameData& frameData) {
    viewFrame = frameData;
    if (KivoParameterList* params = getParamList()) {
        params->cacheParams(frameData.frameTime, Vector4f{});
    }
    if (type != PROJ_PERSPECTIVE) {
        return;
    }
    for (PluginBase* plugin : {cameraSettings, cameraView}) {
        if (CameraSettingsInterface* settings = cameraSettingsOf(plugin)) {
            settings->writeFrameData(viewFrame);
        }
    }
}

// ---- Evaluation -----------------------------------------------------------------------------

const UVWTransform& UVWGenProjection::workingTransform(const ShadingContext& sc,
                                                       UVWTransform& scratch) const {
    if (uvwTransformTex) {
        uvwTransformTex->evalTransform(scratch, sc);
        return scratch;
    }
    if (transformSamples && nsamples > 1) {
        scratch = interpolateSamples(transformSamples.get(), nsamples, sc.time);
        return scratch;
    }
    return uvwTransform;
}

template <typename Finish>
int UVWGenProjection::evaluate(const ShadingContext& sc, Finish&& finish) {
    UVWTransform scratch;
    const UVWTransform* m = &workingTransform(sc, scratch);
    const bool perspective = type == PROJ_PERSPECTIVE;

    // The projected point, in object space or in world space (scene origin included).
    Vector4f p;
    if (objectSpace) {
        if (const auto* os = instanceQuery<ObjectSpaceInterface>(sc, EXT_OBJECT_SPACE)) {
            Vector4f e0, e1, e2, q0;
            os->toObjectVector(e0, sc, {1.0f, 0.0f, 0.0f, 0.0f});
            os->toObjectVector(e1, sc, {0.0f, 1.0f, 0.0f, 0.0f});
            os->toObjectVector(e2, sc, {0.0f, 0.0f, 1.0f, 0.0f});
            os->toObjectPoint(q0, sc, {0.0f, 0.0f, 0.0f, 0.0f});
            scratch = toObjectSpace(*m, e0, e1, e2, q0);
            m = &scratch;
            p = applyPoint(*m, sc.shadingPoint);
        } else {
            p = applyPoint(*m, sc.shadingPoint + sceneOriginOf(sc));
        }
    } else if (!perspective) {
        if (const auto* ref = instanceQuery<ReferencePointInterface>(sc, EXT_REFERENCE_POINT)) {
            Vector4f q;
            ref->getReferencePoint(q, sc);
            p = applyPoint(*m, q);
        } else {
            p = applyPoint(*m, sc.shadingPoint + sceneOriginOf(sc));
        }
    }

    if (perspective) {
        UVWTransform local;
        if (!mapPerspective(sc, local)) {
            return 0;
        }
        finish(local, *m);
        return 1;
    }
    finish(mapProjection(type, p, applyLinear(*m, sc.normal), uAngle, vAngle), *m);
    return 1;
}

int UVWGenProjection::evalUVW(const ShadingContext& sc, Vector4f& uvw) {
    const int valid = evaluate(sc, [&](const UVWTransform& local, const UVWTransform&) {
        uvw = finishProjectionPoint(local, texTransform);
    });
    if (!valid) {
        uvw = Vector4f{};
    }
    return finiteResult(valid, uvw);
}

int UVWGenProjection::evalUVWDerivs(const ShadingContext& sc, Vector4f out[3]) {
    const int valid = evaluate(sc, [&](const UVWTransform& local, const UVWTransform& m) {
        const UVWTransform tm = finishProjection(local, m, texTransform);
        out[0] = tm.o;
        out[1] = applyLinear(tm, sc.dPdx);
        out[2] = applyLinear(tm, sc.dPdy);
    });
    // A hidden point gives zeros whatever the differentials hold.
    if (!valid) {
        out[0] = out[1] = out[2] = Vector4f{};
    }
    return finiteResult(valid, out, 3);
}

int UVWGenProjection::evalUVWTransform(const ShadingContext& sc, UVWTransform& tm) {
    const int valid = evaluate(sc, [&](const UVWTransform& local, const UVWTransform& m) {
        tm = finishProjection(local, m, texTransform);
    });
    if (!valid) {
        tm = UVWTransform{{}, {}, {}, {}};
    }
    return finiteResult(valid, tm);
}

// ---- Perspective ----------------------------------------------------------------------------

void UVWGenProjection::refreshImage(const KivoFrameData& frame) {
    // NaN compares unequal, so a NaN counts as a change.
    if (image.imageWidth == frame.imageWidth && image.imageHeight == frame.imageHeight &&
        image.overscanWidth == frame.overscanWidth &&
        image.overscanHeight == frame.overscanHeight && image.overscanLeft == frame.overscanLeft &&
        image.overscanTop == frame.overscanTop) {
        return;
    }
    image.imageWidth = frame.imageWidth;
    image.imageHeight = frame.imageHeight;
    image.overscanWidth = frame.overscanWidth;
    image.overscanHeight = frame.overscanHeight;
    image.overscanLeft = frame.overscanLeft;
    image.overscanTop = frame.overscanTop;
    const Vector2f inverse = inverseImageSize(includeOverscan != 0, image);
    invWidth = inverse.x;
    invHeight = inverse.y;
    if (bitmapSize) {
        const float aspect =
            cameraAspect(fitType, filmGateW, filmGateH, includeOverscan != 0, image);
        int width = 0, height = 0;
        bitmapSize->getSize(width, height);
        const Vector2f ratios = bitmapFitRatios(width, height, aspect);
        bitmapOverCamera = ratios.x;
        cameraOverBitmap = ratios.y;
    }
}

ImagePlacement UVWGenProjection::placement() const {
    ImagePlacement placed;
    placed.invWidth = invWidth;
    placed.invHeight = invHeight;
    placed.includeOverscan = includeOverscan != 0;
    placed.hasBitmap = bitmapSize != nullptr;
    placed.fitFill = fitFill;
    placed.bitmapOverCamera = bitmapOverCamera;
    placed.cameraOverBitmap = cameraOverBitmap;
    placed.fitType = fitType;
    placed.filmGateW = filmGateW;
    placed.filmGateH = filmGateH;
    return placed;
}

int UVWGenProjection::mapPerspective(const ShadingContext& sc, UVWTransform& local) {
    if (perspectiveDirty.load(std::memory_order_acquire)) {
        LockGuard guard(projectionLock);
        if (perspectiveDirty.load(std::memory_order_relaxed)) {
            if (sc.renderer && sc.renderer->frameData) {
                refreshImage(*sc.renderer->frameData);
            }
            perspectiveDirty.store(false, std::memory_order_release);
        }
    }

    // Without a camera the host's own image position stands in, one pixel per step.
    Vector2f s{sc.imageX, sc.imageY}, dx{1.0f, 0.0f}, dy{0.0f, 1.0f};
    const KivoSequenceData* source =
        cameraView ? &viewSequence : (sc.renderer ? sc.renderer->sequenceData : nullptr);
    if (viewSequence.camera && source && source->camera) {
        if (!cameraScreen(sc, *source, s, dx, dy)) {
            return 0;
        }
    }
    local = imageProjection(image, placement(), s, dx, dy, sc.dPdx, sc.dPdy, sc.auxNormal);
    return 1;
}

int UVWGenProjection::cameraScreen(const ShadingContext& sc, const KivoSequenceData& source,
                                   Vector2f& s, Vector2f& dx, Vector2f& dy) const {
    const KivoCamera& camera = *source.camera;
    const KivoFrameData* frame = sc.renderer ? sc.renderer->frameData : nullptr;
    const Vector4f pOrig = sc.shadingPoint;

    Vector4f p = pOrig;
    if (const auto* ref = instanceQuery<ReferencePointInterface>(sc, EXT_REFERENCE_POINT)) {
        Vector4f q;
        ref->getReferencePoint(q, sc);
        p = q - sceneOriginOf(sc);
    }
    const KivoSequenceData* hostSequence = sc.renderer ? sc.renderer->sequenceData : nullptr;
    if (hostSequence && hostSequence->cameraMotionBlur && source.cameraMotion) {
        Vector4f moved;
        source.cameraMotion->applyCameraMotion(moved, p, sc.time);
        p = moved;
    }
    if (cameraView && frame) {
        // Points relative to the renderer's scene origin, re-expressed relative to the view's.
        const Vector3d& a = frame->sceneOrigin;
        const Vector3d& b = viewFrame.sceneOrigin;
        p = p + Vector4f{float(a.x - b.x), float(a.y - b.y), float(a.z - b.z), 0.0f};
    }
    const Vector4f p0 = p;

    Vector2f s0;
    int visible = camera.mapToScreen(sc, p0, s0);
    const Vector4f toCam = viewFrame.cameraOrigin - p0;
    if (visible && hideBackface) {
        visible = dot3(toCam, sc.normal) >= 0.0f;
    }
    if (!visible) {
        return 0;
    }

    auto step = [&](const Vector4f& q) {
        Vector2f sq;
        const int mapped = camera.mapToScreen(sc, q, sq);
        return screenStep(mapped, sq, s0);
    };
    dx = shorterDifference(step(p0 + sc.dPdx), step(p0 - sc.dPdx));
    dy = shorterDifference(step(p0 + sc.dPdy), step(p0 - sc.dPdy));

    if (hideOccluded && occluded(sc, pOrig, toCam)) {
        return 0;
    }
    s = s0;
    return 1;
}

// ---- GPU source -----------------------------------------------------------------------------

ProjectionBlockValues UVWGenProjection::blockValues() const {
    ProjectionBlockValues values;
    values.type = type;
    values.fitType = fitType;
    values.filmGateW = filmGateW;
    values.filmGateH = filmGateH;
    values.objectSpace = objectSpace;
    if (cameraView) {
        values.cameraView = true;
        auto* kivo = static_cast<KivoPluginInterface*>(cameraView->getInterface(EXT_KIVO_PLUGIN));
        if (kivo) {
            if (KivoParameter* transform = kivo->getParameter("transform")) {
                const Transform t = transform->getTransform(0, 0.0);
                values.matrix = t.m;
                values.translation = toSingle(t.offs);
            }
            if (KivoParameter* fov = kivo->getParameter("fov")) {
                values.fov = fov->getFloat(0, 0.0);
            }
            if (KivoParameter* zoom = kivo->getParameter("zoom")) {
                values.zoom = zoom->getFloat(0, 0.0);
            }
        }
    } else {
        // Under motion blur the frame's first sample stands for the transform.
        const Transform3x4f& m = transformSamples ? transformSamples[0] : uvwTransform;
        values.matrix = {m.c0, m.c1, m.c2};
        values.translation = m.o;
    }
    return values;
}

int UVWGenProjection::emitRTSource(const char*, const char*, const char*, ShaderSource& source,
                                   GPUDataRecord& gpuData) {
    // The projection's own object_space travels in the parameter block.
    gpuData.objectSpaceFlag = 0;
    source.append("projection\n");
    if (gpuData.paramBlockRegistry && !gpuRegistered) {
        gpuRegistry = gpuData.paramBlockRegistry;
        const ProjectionParamBlock block = packProjectionParamBlock(blockValues());
        const ParamBlockEntry* entry =
            gpuRegistry->addParamBlock(this, block.data(), PROJECTION_PARAM_BLOCK_SIZE, 0);
        gpuRegistry->commitParamBlock(this);
        gpuBlockId = entry ? entry->blockId : -1;
        gpuRegistered = 1;
    }
    source.printf("projParamsPtr_id %i\n", gpuBlockId);
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
    d.addParamFloat("u_angle", 3.1415927f, -1,
                    "The angle that corresponds to U=1 for spherical mapping",
                    "units=(radians), gpuSupport=(none)");
    d.addParamFloat("v_angle", 1.5707964f, -1,
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
