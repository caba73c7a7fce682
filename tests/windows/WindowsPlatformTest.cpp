// The Windows platform paths observed from outside the library, as Windows itself sees them:
// the loader's record of the DLL, a debugger reading the debugger output, the C runtime's
// heap check.
#include "frame/Platform.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include <winternl.h>

namespace {

std::wstring nativePath(const char* path) {
    return std::filesystem::path(path).make_preferred().wstring();
}

// The loader's flags of a loaded module. The field follows the documented part of the
// loader's module record (x64 offset 0x68); 0x00040000 is set by DisableThreadLibraryCalls.
constexpr ULONG kNoThreadCalls = 0x00040000;

ULONG loaderFlags(HMODULE module) {
    PROCESS_BASIC_INFORMATION process{};
    if (NtQueryInformationProcess(GetCurrentProcess(), ProcessBasicInformation, &process,
                                  sizeof process, nullptr) != 0) {
        ADD_FAILURE() << "no process information";
        return 0;
    }
    LIST_ENTRY* head = &process.PebBaseAddress->Ldr->InMemoryOrderModuleList;
    for (LIST_ENTRY* link = head->Flink; link != head; link = link->Flink) {
        const auto* entry = CONTAINING_RECORD(link, LDR_DATA_TABLE_ENTRY, InMemoryOrderLinks);
        if (entry->DllBase == module) {
            ULONG flags;
            std::memcpy(&flags, reinterpret_cast<const char*>(entry) + 0x68, sizeof flags);
            return flags;
        }
    }
    ADD_FAILURE() << "module not in the loader's list";
    return 0;
}

// True when the image has a TLS directory. The loader refuses DisableThreadLibraryCalls for
// such a module (its TLS callbacks need every thread notification); the MinGW C runtime puts
// one into every DLL it links, the MSVC runtime only into DLLs with thread_local data.
bool hasTlsDirectory(HMODULE module) {
    const auto* base = reinterpret_cast<const unsigned char*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    return nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_TLS].Size != 0;
}

// One debugger-output event: UTF-16 text, or text in the system's ANSI code page when the
// system hands the debugger that form (Wine converts OutputDebugStringW's text so).
struct DebugString {
    bool unicode;
    std::wstring wide;
    std::string ansi;
};

// True when the event carries the UTF-16 text, in either form.
bool carries(const DebugString& line, const std::wstring& text) {
    if (line.unicode) {
        return line.wide == text;
    }
    const int size = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string ansi(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, ansi.data(), size, nullptr, nullptr);
    return line.ansi == ansi.c_str();
}

// Starts the program under the Windows debugging API and collects its debugger output until
// it exits; exitCode receives its exit status.
std::vector<DebugString> debuggerOutputOf(const std::wstring& program, DWORD& exitCode) {
    std::vector<DebugString> lines;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    std::wstring commandLine = L"\"" + program + L"\"";
    if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                        DEBUG_ONLY_THIS_PROCESS, nullptr, nullptr, &startup, &process)) {
        ADD_FAILURE() << "CreateProcessW failed: " << GetLastError();
        return lines;
    }
    for (bool running = true; running;) {
        DEBUG_EVENT event{};
        if (!WaitForDebugEvent(&event, 60000)) {
            ADD_FAILURE() << "no debug event within a minute";
            TerminateProcess(process.hProcess, 99);
            break;
        }
        DWORD status = DBG_CONTINUE;
        switch (event.dwDebugEventCode) {
        case OUTPUT_DEBUG_STRING_EVENT: {
            const OUTPUT_DEBUG_STRING_INFO& info = event.u.DebugString;
            const SIZE_T units = info.nDebugStringLength;
            SIZE_T read = 0;
            DebugString line{info.fUnicode != 0, {}, {}};
            if (line.unicode) {
                std::wstring text(units, L'\0');
                ReadProcessMemory(process.hProcess, info.lpDebugStringData, text.data(),
                                  units * sizeof(wchar_t), &read);
                line.wide = text.c_str();
            } else {
                std::string text(units, '\0');
                ReadProcessMemory(process.hProcess, info.lpDebugStringData, text.data(), units,
                                  &read);
                line.ansi = text.c_str();
            }
            lines.push_back(std::move(line));
            break;
        }
        case EXCEPTION_DEBUG_EVENT:
            // The loader's breakpoint is the debugger's; every other exception (the C++
            // throw) is the program's own to handle.
            if (event.u.Exception.ExceptionRecord.ExceptionCode != EXCEPTION_BREAKPOINT) {
                status = DBG_EXCEPTION_NOT_HANDLED;
            }
            break;
        case CREATE_PROCESS_DEBUG_EVENT:
            CloseHandle(event.u.CreateProcessInfo.hFile);
            break;
        case LOAD_DLL_DEBUG_EVENT:
            CloseHandle(event.u.LoadDll.hFile);
            break;
        case EXIT_PROCESS_DEBUG_EVENT:
            exitCode = event.u.ExitProcess.dwExitCode;
            running = false;
            break;
        default:
            break;
        }
        ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return lines;
}

} // namespace

TEST(WindowsLoader, TheLibraryTurnsOffThreadNotificationsAtProcessAttach) {
    HMODULE library = LoadLibraryW(nativePath(UVWGENS_MODULE_PATH).c_str());
    ASSERT_NE(library, nullptr) << GetLastError();
    // Loaded with it, and left as the loader made it: the host runtime is the control.
    HMODULE host = GetModuleHandleW(L"kivo_host.dll");
    ASSERT_NE(host, nullptr);
    // Thread notifications are off exactly where the loader allows it.
    EXPECT_EQ((loaderFlags(library) & kNoThreadCalls) != 0, !hasTlsDirectory(library));
    EXPECT_EQ(loaderFlags(host) & kNoThreadCalls, 0u);
    EXPECT_TRUE(FreeLibrary(library));
}

TEST(WindowsDebugger, AllocationFailureDiagnosticsReachTheDebuggerAsUtf16) {
    DWORD exitCode = 1;
    const std::vector<DebugString> lines =
        debuggerOutputOf(nativePath(DEBUG_OUTPUT_CHILD_PATH), exitCode);
    EXPECT_EQ(exitCode, 0u) << "the child did not catch the allocation failure";
    ASSERT_EQ(lines.size(), 5u);
    // UTF-8 in the library's format, UTF-16 at the debugger: a surrogate pair included.
    EXPECT_TRUE(carries(lines[0], L"text: Gr\u00FC\u00DFe \u2713 \U0001F600\n"));
    EXPECT_TRUE(carries(lines[1], L"[operator new] failed (size is 100)\n"));
    EXPECT_TRUE(carries(lines[2], L"[getFreeHeapMemory] Getting free heap memory.\n"));
    EXPECT_TRUE(carries(lines[3], L"[getFreeHeapMemory] heapstatus=-5\n"));
    const std::wstring blocks = L"[getFreeHeapMemory] Number of blocks visited: ";
    EXPECT_TRUE(lines[4].unicode ? lines[4].wide.starts_with(blocks)
                                 : lines[4].ansi.starts_with("[getFreeHeapMemory] Number of "
                                                             "blocks visited: "));
}

TEST(WindowsHeap, TheHeapCheckReportsADamagedBlock) {
    EXPECT_TRUE(KUtils::readHeapFigures().intact);
    // Overwrite the heap manager's header of one block, check, and put it back before anything
    // else touches the heap.
    void* block = std::malloc(64);
    ASSERT_NE(block, nullptr);
    unsigned char header[8];
    auto* before = reinterpret_cast<unsigned char*>(reinterpret_cast<std::uintptr_t>(block) - 8);
    std::memcpy(header, before, sizeof header);
    std::memset(before, 0xA5, sizeof header);
    const bool intact = KUtils::readHeapFigures().intact;
    std::memcpy(before, header, sizeof header);
    std::free(block);
    EXPECT_FALSE(intact);
    EXPECT_TRUE(KUtils::readHeapFigures().intact);
}
