#include "scene/Bitmap.h"

#include <thread>

namespace kivohost {

using namespace KUtils;

PluginInterface* Bitmap::getInterface(InterfaceID id) {
    if (id == EXT_BITMAP_SIZE) {
        return static_cast<BitmapSizeInterface*>(this);
    }
    if (id == EXT_BITMAP_FRAME_SIZE && frameSizes) {
        return static_cast<BitmapFrameSizeInterface*>(this);
    }
    return PluginBase::getInterface(id);
}

void Bitmap::getSize(int& w, int& h) {
    sizeCount.fetch_add(1, std::memory_order_relaxed);
    if (sizeDelay.count() > 0) {
        std::this_thread::sleep_for(sizeDelay);
    }
    w = width;
    h = height;
}

void Bitmap::getFrameSize(int& w, int& h, int frameIndex) {
    frameSizeCount.fetch_add(1, std::memory_order_relaxed);
    const auto found = frames.find(frameIndex);
    w = found != frames.end() ? found->second.first : width;
    h = found != frames.end() ? found->second.second : height;
}

} // namespace kivohost
