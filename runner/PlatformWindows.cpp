// The runner on Windows (vantrel-cli.exe).
#include "runner/Platform.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <iterator>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include "export/TextEncoding.h"

namespace platform {

std::string OperatingSystem() {
    // GetVersionEx reports what the manifest admits to; the kernel's own
    // version comes from RtlGetVersion.
    std::string text = "Windows";
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (ntdll != nullptr) {
        using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
        auto getVersion = reinterpret_cast<RtlGetVersionFn>(reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")));
        OSVERSIONINFOW info{};
        info.dwOSVersionInfoSize = sizeof info;
        if (getVersion != nullptr && getVersion(&info) == 0) {
            // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) on "literal" + std::string&&.
            text += ' ';
            text += std::to_string(info.dwMajorVersion);
            text += '.';
            text += std::to_string(info.dwMinorVersion);
            text += " build ";
            text += std::to_string(info.dwBuildNumber);
        }
        using WineVersionFn = const char*(__cdecl*)();
        auto wineVersion =
            reinterpret_cast<WineVersionFn>(reinterpret_cast<void*>(GetProcAddress(ntdll, "wine_get_version")));
        if (wineVersion != nullptr) {
            text += " (Wine ";
            text += wineVersion();
            text += ')';
        }
    }
    return text;
}

std::string HostName() {
    wchar_t name[256] = {};
    DWORD length = DWORD(std::size(name));
    if (!GetComputerNameExW(ComputerNameDnsHostname, name, &length)) return {};
    return WideToUtf8(name, length);
}

bool StderrIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

uint32_t MonotonicMilliseconds() { return uint32_t(GetTickCount()); }

std::optional<std::wstring> WideFileName(const std::string& name) {
    // The runner's arguments come in the ANSI code page; a character it
    // cannot hold would have been replaced with a look-alike by then.
    const int units = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, name.data(), int(name.size()), nullptr, 0);
    if (units <= 0) return std::nullopt;
    std::wstring wide(size_t(units), L'\0');
    MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, name.data(), int(name.size()), wide.data(), units);
    return wide;
}

std::optional<std::wstring> WidePath(const std::filesystem::path& file) { return file.wstring(); }

const char* FileNameEncoding() { return " in the system's code page"; }

std::filesystem::path PathOfFileName(const std::string& name) {
    // Narrow paths would pass through the C locale.
    if (const std::optional<std::wstring> wide = WideFileName(name)) return std::filesystem::path(*wide);
    return std::filesystem::path(name);
}

int FolderWriteProblem(const std::filesystem::path&) { return 0; }

int FileWriteProblem(const std::filesystem::path&) { return 0; }

int CreateTemporaryFile(const std::filesystem::path& file) {
    const int handle = _wopen(file.c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (handle < 0) return errno;
    _close(handle);
    return 0;
}

bool JobNamesFile(const std::string&, const std::filesystem::path&) { return true; }

namespace {

std::atomic<StopHandler> stopHandler{nullptr};

// The runtime sets the signal back to its default as it calls this: a
// second Ctrl-C ends the program at once.
extern "C" void OnSignal(int signal) {
    if (const StopHandler handler = stopHandler.load()) handler(signal, kUnknownSender);
}

}  // namespace

void InstallStopHandlers(StopHandler handler) {
    stopHandler.store(handler);
    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);
}

bool IsHangUp(int) { return false; }

void IgnoreClosedPipes() {}

void EndBySignal(int signal) {
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

void WithdrawTemporaryFile() {}

void RemoveTemporaryFile() {}

}  // namespace platform
