#include "sdk/SharedModule.h"

#include <filesystem>
#include <system_error>

#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace kivohost {

#if defined(_WIN32)

namespace {

std::wstring widen(const std::string& text) {
    const int units = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(units > 0 ? units : 1), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, wide.data(), units);
    wide.resize(wide.size() - 1);
    return wide;
}

std::string lastErrorText() {
    const DWORD code = GetLastError();
    char text[512] = {};
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, code, 0, text, sizeof text, nullptr);
    std::string reason(text, length);
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r')) {
        reason.pop_back();
    }
    return (reason.empty() ? "error" : reason) + " (" + std::to_string(code) + ")";
}

} // namespace

void* loadModule(const std::string& path, std::string& error) {
    HMODULE module = LoadLibraryW(widen(path).c_str());
    if (!module) {
        error = lastErrorText();
    }
    return reinterpret_cast<void*>(module);
}

void* moduleSymbol(void* module, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
}

bool unloadModule(void* module) {
    return FreeLibrary(static_cast<HMODULE>(module)) != 0;
}

bool moduleIsLoaded(const std::string& path) {
    return GetModuleHandleW(widen(path).c_str()) != nullptr;
}

std::string moduleFileName(const std::string& name) {
    return name + ".dll";
}

namespace {

// The folder of a loaded module (null: the program), as UTF-8.
std::string folderOf(HMODULE module) {
    wchar_t path[32768];
    const DWORD length = GetModuleFileNameW(module, path, sizeof path / sizeof path[0]);
    if (length == 0 || length == sizeof path / sizeof path[0]) {
        return {};
    }
    const auto folder = std::filesystem::path(std::wstring(path, length)).parent_path().u8string();
    return std::string(folder.begin(), folder.end());
}

} // namespace

std::string executableFolder() {
    return folderOf(nullptr);
}

std::string runtimeFolder() {
    HMODULE self = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&runtimeFolder), &self)) {
        return {};
    }
    return folderOf(self);
}

#else

void* loadModule(const std::string& path, std::string& error) {
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        const char* reason = dlerror();
        error = reason ? reason : "unknown error";
    }
    return module;
}

void* moduleSymbol(void* module, const char* name) {
    return dlsym(module, name);
}

bool unloadModule(void* module) {
    return dlclose(module) == 0;
}

bool moduleIsLoaded(const std::string& path) {
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (module) {
        dlclose(module);
    }
    return module != nullptr;
}

std::string moduleFileName(const std::string& name) {
    return "lib" + name + ".so";
}

std::string executableFolder() {
    std::error_code error;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string() : exe.parent_path().string();
}

std::string runtimeFolder() {
    Dl_info info{};
    if (!dladdr(reinterpret_cast<void*>(&runtimeFolder), &info) || !info.dli_fname) {
        return {};
    }
    std::error_code error;
    const auto self = std::filesystem::absolute(info.dli_fname, error);
    return error ? std::string() : self.parent_path().string();
}

#endif

} // namespace kivohost
