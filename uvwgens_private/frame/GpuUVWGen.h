// A UVW generator that also describes itself to the GPU renderer. Its interface query
// answers, in this order: EXT_RTTEX, EXT_UVWGEN, EXT_KIVO_PLUGIN, then the interface list.
#pragma once

#include "kivo/PluginModel.h"

namespace KUtils {

class GpuUVWGen : public KivoUVWGen, public RTTexInterface {
public:
    explicit GpuUVWGen(KivoPluginDesc* desc) : KivoUVWGen(desc) {}

    PluginInterface* getInterface(InterfaceID id) override {
        if (id == EXT_RTTEX) {
            return static_cast<RTTexInterface*>(this);
        }
        return KivoUVWGen::getInterface(id);
    }
    PluginBase* getPlugin() override { return this; }
};

} // namespace KUtils
