// A host bitmap as far as projections see it: its pixel size (EXT_BITMAP_SIZE) and, for image
// sequences, the size of a given frame (EXT_BITMAP_FRAME_SIZE). Size requests are counted,
// safely from many render threads; a size request can be made slow, as when the file has to
// be read first.
#pragma once

#include "kivo/PluginModel.h"
#include "kivo/ShadingContext.h"

#include <atomic>
#include <chrono>
#include <map>
#include <utility>

namespace kivohost {

class Bitmap final : public KUtils::PluginBase,
                     public KUtils::BitmapSizeInterface,
                     public KUtils::BitmapFrameSizeInterface {
public:
    Bitmap(int width, int height) : width(width), height(height) {}

    // EXT_BITMAP_SIZE always; EXT_BITMAP_FRAME_SIZE only when frameSizes is set.
    KUtils::PluginInterface* getInterface(KUtils::InterfaceID id) override;
    KUtils::PluginBase* getPlugin() override { return this; }

    void getSize(int& w, int& h) override;
    // The frame's own size when listed, else the bitmap's size.
    void getFrameSize(int& w, int& h, int frameIndex) override;

    int sizeRequests() const { return sizeCount.load(std::memory_order_relaxed); }
    int frameSizeRequests() const { return frameSizeCount.load(std::memory_order_relaxed); }

    int width;
    int height;
    bool frameSizes = false;
    // Per-frame sizes (width, height) of an image sequence.
    std::map<int, std::pair<int, int>> frames;
    // How long getSize takes.
    std::chrono::microseconds sizeDelay{0};

private:
    std::atomic<int> sizeCount{0};
    std::atomic<int> frameSizeCount{0};
};

} // namespace kivohost
