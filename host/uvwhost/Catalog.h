// Every plugin type uvwhost can instantiate: the loaded library's, then the host's own
// (scene textures, cameras, bitmaps), looked up by type name.
#pragma once

#include "uvwhost/PluginLibrary.h"

#include <memory>
#include <string>
#include <vector>

namespace uvwhost {

class Catalog {
public:
    explicit Catalog(std::shared_ptr<PluginLibrary> library);
    // The library's types linked into the program itself (tests and fuzz targets), with no
    // loaded library behind them.
    explicit Catalog(std::vector<KUtils::KivoPluginDesc*> libraryTypes);

    PluginLibrary& library() const { return *lib; }
    // The library's descriptor of that name, else the host's; null when neither has it.
    KUtils::KivoPluginDesc* find(const std::string& type) const;
    // "unknown plugin type 'X' (known: A, B, ...)".
    std::string unknownType(const std::string& type) const;

private:
    std::shared_ptr<PluginLibrary> lib;
    std::vector<KUtils::KivoPluginDesc*> libDescs;
    std::vector<KUtils::KivoPluginDesc*> hostDescs;
};

} // namespace uvwhost
