// Loading plugin modules the way a renderer does on each platform: dlopen, dlsym and dlclose,
// or LoadLibrary, GetProcAddress and FreeLibrary on Windows. Paths are UTF-8.
#pragma once

#include <string>

namespace kivohost {

// Null when the module cannot be loaded; error then holds the platform's reason.
void* loadModule(const std::string& path, std::string& error);
// Null when the module has no such export.
void* moduleSymbol(void* module, const char* name);
// True when the module was released.
bool unloadModule(void* module);
// True while the module at path is mapped into the process.
bool moduleIsLoaded(const std::string& path);
// The file name of a plugin module: libNAME.so, or NAME.dll on Windows.
std::string moduleFileName(const std::string& name);
// The folder of the running program; empty when it cannot be told.
std::string executableFolder();
// The folder this SDK runtime (libkivo_host.so, kivo_host.dll) was loaded from; empty when it
// cannot be told. Modules installed beside it are found from here whatever the program.
std::string runtimeFolder();

} // namespace kivohost
