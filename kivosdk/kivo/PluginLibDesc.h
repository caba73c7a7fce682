// The library descriptor a host receives from a plugin library's getLibDesc: the library's
// category and description, and the enumeration of its plugin descriptors.
#pragma once

#include "kivo/PluginModel.h"

#include <cstdint>

namespace KUtils {

class PluginLibDesc : public PluginBase {
public:
    /* 5 */ virtual const char* getCategory() = 0;
    /* 6 */ virtual const char* getLibraryDescription() = 0;
    // Hands each descriptor to the callback until it returns 0. Returns the number handed
    // out (including the one at which the callback stopped), or the registered count for a
    // null callback.
    /* 7 */ virtual std::uint32_t enumeratePluginDescs(PluginDescCallback* callback) = 0;
};

} // namespace KUtils
