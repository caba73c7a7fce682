#include "projection/ProjectionCamera.h"

#include "frame/Platform.h"
#include "kivo/VectorMath.h"

#include <cmath>

namespace KUtils {

namespace {

// Serialises the once-per-frame image refresh of every perspective projection in the process.
Lock projectionLock;

// True when the ray from origin along toCam (the whole segment) hits the host's geometry.
bool occluded(const ShadingContext& sc, const Vector4f& origin, const Vector4f& toCam) {
    // The ray kind and depth the host expects of a visibility test, at full weight.
    constexpr int kVisibilityRayKind = 0;
    constexpr int kVisibilityRayDepth = 8;
    KivoRayContext* ray = sc.newRayContext(kVisibilityRayKind, AColor{1.0f, 1.0f, 1.0f, 1.0f},
                                           kVisibilityRayDepth, &toCam);
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
    hit.words[KivoHitRecord::kLastWord] = KivoHitRecord::kNoHit;
    const int result = ray->owner ? ray->owner->traceRay(*ray, hit, 0) : 0;
    ray->releaseRay();
    return result != 0;
}

} // namespace

void ProjectionCamera::useBitmap(PluginBase* bitmap) {
    bitmapSize =
        bitmap ? static_cast<BitmapSizeInterface*>(bitmap->getInterface(EXT_BITMAP_SIZE)) : nullptr;
    bitmapFrameSize =
        bitmap ? static_cast<BitmapFrameSizeInterface*>(bitmap->getInterface(EXT_BITMAP_FRAME_SIZE))
               : nullptr;
}

void ProjectionCamera::beginFrame(KivoRenderer* renderer, const ProjectionCameraSettings& s) {
    dirty.store(true, std::memory_order_release);
    settings = s;
    // The sizes and ratios of the placement stay until frame data renews them.
    placement.includeOverscan = s.fit.includeOverscan;
    placement.hasBitmap = bitmapSize != nullptr;
    placement.fitFill = s.fit.fitFill;
    placement.fitType = s.fit.fitType;
    placement.filmGateW = s.fit.filmGateW;
    placement.filmGateH = s.fit.filmGateH;

    const KivoFrameData* frame = renderer ? renderer->frameData : nullptr;
    if (!frame) {
        sceneOrigin = Vector4f{};
        viewOriginShift.reset();
        return;
    }
    const Vector3d& origin = frame->sceneOrigin;
    sceneOrigin = {float(origin.x), float(origin.y), float(origin.z), 0.0f};

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
    viewOriginShift.reset();
    if (s.cameraView) {
        // Points relative to the renderer's scene origin, re-expressed relative to the view's.
        const Vector3d& view = viewFrame.sceneOrigin;
        viewOriginShift = Vector4f{float(origin.x - view.x), float(origin.y - view.y),
                                   float(origin.z - view.z), 0.0f};
    }
    image.pixelAspect = frame->pixelAspect;
    update(*frame, BitmapRead::FrameSize);
}

void ProjectionCamera::releaseCamera() {
    if (!ownedCamera) {
        return;
    }
    if (viewSequence.camera == ownedCamera) {
        viewSequence.camera = nullptr;
    }
    deleteDefaultCameraSampler(ownedCamera);
    ownedCamera = nullptr;
}

void ProjectionCamera::update(const KivoFrameData& frame, BitmapRead read) {
    image.imageWidth = frame.imageWidth;
    image.imageHeight = frame.imageHeight;
    image.overscanLeft = frame.overscanLeft;
    image.overscanWidth = frame.overscanWidth;
    image.overscanTop = frame.overscanTop;
    image.overscanHeight = frame.overscanHeight;
    const Vector2f inverse = inverseImageSize(placement.includeOverscan, image);
    placement.invWidth = inverse.x;
    placement.invHeight = inverse.y;

    int width = 0, height = 0;
    if (read == BitmapRead::FrameSize && bitmapFrameSize) {
        bitmapFrameSize->getFrameSize(width, height, frame.frameIndex);
    } else if (bitmapSize) {
        bitmapSize->getSize(width, height);
    } else {
        return;
    }
    const float aspect = cameraAspect(placement.fitType, placement.filmGateW, placement.filmGateH,
                                      placement.includeOverscan, image);
    const Vector2f ratios = bitmapFitRatios(width, height, aspect);
    placement.bitmapOverCamera = ratios.x;
    placement.cameraOverBitmap = ratios.y;
}

bool ProjectionCamera::imageChanged(const KivoFrameData& frame) const {
    // NaN compares unequal, so a NaN counts as a change.
    return !(image.imageWidth == frame.imageWidth && image.imageHeight == frame.imageHeight &&
             image.overscanWidth == frame.overscanWidth &&
             image.overscanHeight == frame.overscanHeight &&
             image.overscanLeft == frame.overscanLeft && image.overscanTop == frame.overscanTop);
}

int ProjectionCamera::map(const ShadingContext& sc, UVWTransform& local) {
    if (dirty.load(std::memory_order_acquire)) {
        LockGuard guard(projectionLock);
        if (dirty.load(std::memory_order_relaxed)) {
            const KivoFrameData* frame = sc.renderer ? sc.renderer->frameData : nullptr;
            if (frame && imageChanged(*frame)) {
                update(*frame, BitmapRead::PlainSize);
            }
            dirty.store(false, std::memory_order_release);
        }
    }

    // Without a camera the host's own image position stands in, one pixel per step.
    Vector2f s{sc.imageX, sc.imageY}, dx{1.0f, 0.0f}, dy{0.0f, 1.0f};
    // The renderer's sequence is read per call: it says which camera the host renders
    // through and whether it blurs camera motion.
    const KivoSequenceData* hostSequence = sc.renderer ? sc.renderer->sequenceData : nullptr;
    const KivoSequenceData* source = settings.cameraView ? &viewSequence : hostSequence;
    if (viewSequence.camera && source && source->camera) {
        if (!screenPosition(sc, *source, s, dx, dy)) {
            return 0;
        }
    }
    local = imageProjection(image, placement, s, dx, dy, sc.dPdx, sc.dPdy, sc.auxNormal);
    return 1;
}

int ProjectionCamera::screenPosition(const ShadingContext& sc, const KivoSequenceData& source,
                                     Vector2f& s, Vector2f& dx, Vector2f& dy) const {
    const KivoCamera& camera = *source.camera;
    const Vector4f pOrig = sc.shadingPoint;

    Vector4f p = pOrig;
    if (sc.shadeInstance) {
        if (const auto* ref = static_cast<const ReferencePointInterface*>(
                sc.shadeInstance->getInterface(EXT_REFERENCE_POINT))) {
            Vector4f q;
            ref->getReferencePoint(q, sc);
            p = q - sceneOrigin;
        }
    }
    const KivoSequenceData* hostSequence = sc.renderer ? sc.renderer->sequenceData : nullptr;
    if (hostSequence && hostSequence->cameraMotionBlur && source.cameraMotion) {
        Vector4f moved;
        source.cameraMotion->applyCameraMotion(moved, p, sc.time);
        p = moved;
    }
    if (viewOriginShift) {
        p = p + *viewOriginShift;
    }
    const Vector4f p0 = p;

    Vector2f s0;
    int visible = camera.mapToScreen(sc, p0, s0);
    const Vector4f toCam = viewFrame.cameraOrigin - p0;
    if (visible && settings.hideBackface) {
        visible = dot3(toCam, sc.normal) >= 0.0f;
    }
    if (!visible) {
        return 0;
    }
    const ScreenDifferences d = screenDifferences(
        [&](const Vector4f& q, Vector2f& sq) { return camera.mapToScreen(sc, q, sq); }, p0, s0,
        sc.dPdx, sc.dPdy);
    dx = d.dx;
    dy = d.dy;

    if (settings.hideOccluded && occluded(sc, pOrig, toCam)) {
        return 0;
    }
    s = s0;
    return 1;
}

} // namespace KUtils
