// The camera side of the perspective projection: the camera data the camera plugins write, the
// camera it looks through (the sequence's own, or a sampler created for the frame), the image
// placement prepared for it, the once-per-frame refresh of the image data, and the mapping of a
// shaded point to the image with its screen differences, facing and occlusion.
#pragma once

#include "kivo/HostSdk.h"
#include "kivo/ShadingContext.h"
#include "projection/ImageProjection.h"

#include <atomic>
#include <optional>

namespace KUtils {

// The projection's bound settings the camera reads.
struct ProjectionCameraSettings {
    // The fit settings (overscan, bitmap fit, film gate); the camera derives the rest.
    ImagePlacement fit;
    bool hideBackface = false;
    bool hideOccluded = false;
    // A camera_view plugin is connected: its camera data is the view's, not the renderer's.
    bool cameraView = false;
};

class ProjectionCamera {
public:
    ProjectionCamera() { viewSequence.setDefaults(); }
    ~ProjectionCamera() { releaseCamera(); }
    ProjectionCamera(const ProjectionCamera&) = delete;
    ProjectionCamera& operator=(const ProjectionCamera&) = delete;

    // The camera data the camera plugins write (through the projection's settings interface).
    KivoSequenceData& sequence() { return viewSequence; }
    KivoFrameData& frame() { return viewFrame; }

    // The bitmap whose aspect is fitted (its size interfaces), or none.
    void useBitmap(PluginBase* bitmap);

    // Frame set-up, before evaluations: marks the image data for its refresh, takes the
    // settings and, with frame data, prepares the camera (the sequence's own, or a sampler
    // created for this frame) and the image placement.
    void beginFrame(KivoRenderer* renderer, const ProjectionCameraSettings& settings);
    // Releases the sampler created for the frame, if any.
    void releaseCamera();

    // The local mapping of the context's point (Jacobian columns, uvw offset) before the
    // working and texture transforms; 0 when the point is hidden (behind the camera, a back
    // face or occluded). The first call of a frame refreshes the image data from the
    // renderer's frame data under the library-wide lock.
    int map(const ShadingContext& sc, UVWTransform& local);

private:
    // What an image update reads of the bitmap: the frame set-up asks for the size of the
    // frame being rendered where the bitmap has frames; the refresh asks for the plain size.
    enum class BitmapRead { FrameSize, PlainSize };
    // Takes the frame's image data (sizes and overscan) into the image and the placement.
    void update(const KivoFrameData& frame, BitmapRead read);
    bool imageChanged(const KivoFrameData& frame) const;
    // Screen position s and differences through the camera of source; 0 when hidden.
    int screenPosition(const ShadingContext& sc, const KivoSequenceData& source, Vector2f& s,
                       Vector2f& dx, Vector2f& dy) const;

    // Camera data written by the camera plugins: this projection's own view of the scene.
    KivoSequenceData viewSequence;
    KivoFrameData viewFrame;
    // The sampler created at frame begin, released at the frame's end.
    KivoCamera* ownedCamera = nullptr;
    BitmapSizeInterface* bitmapSize = nullptr;
    BitmapFrameSizeInterface* bitmapFrameSize = nullptr;

    // Frame state.
    ProjectionCameraSettings settings;
    ProjectionImage image;
    ImagePlacement placement;
    // The frame's scene origin in floats, and with a camera view the offset from the view's
    // scene origin to the renderer's.
    Vector4f sceneOrigin;
    std::optional<Vector4f> viewOriginShift;
    // Set at frame begin; the first evaluation of the frame refreshes the image data and
    // clears it (tested before and after taking the lock).
    std::atomic<bool> dirty{false};
};

} // namespace KUtils
