// Finding and loading kesmacap.dll on Windows.
#include <windows.h>

#include <string>
#include <system_error>
#include <vector>

#include "capture/CallOperation.h"
#include "capture/CaptureLibrary.h"
#include "capture/LibraryArchitecture.h"
#include "platform/text/Text.h"

const char* const CaptureLibrary::FileName = "kesmacap.dll";

namespace {

std::string utf8(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return {text.begin(), text.end()};
}

std::string describeError(DWORD code) {
    wchar_t* message = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        code, 0, reinterpret_cast<wchar_t*>(&message), 0, nullptr);
    std::wstring text = length != 0 ? std::wstring(message, length) : std::wstring();
    LocalFree(message);
    while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' ')) {
        text.pop_back();
    }
    return "error " + std::to_string(code) + (text.empty() ? "" : " (" + Utf8(text) + ")");
}

std::filesystem::path executableDirectory() {
    std::vector<wchar_t> buffer(MAX_PATH);
    while (true) {
        const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) {
            return {};
        }
        if (length < buffer.size()) {
            return std::filesystem::path(std::wstring(buffer.data(), length)).parent_path();
        }
        buffer.resize(buffer.size() * 2);
    }
}

std::filesystem::path systemDirectory() {
    wchar_t buffer[MAX_PATH];
    const UINT length = GetSystemDirectoryW(buffer, MAX_PATH);
    return length != 0 && length < MAX_PATH ? std::filesystem::path(std::wstring(buffer, length))
                                            : std::filesystem::path();
}

bool isFile(const std::filesystem::path& file) {
    std::error_code error;
    return !file.empty() && std::filesystem::is_regular_file(file, error);
}

// A full path, and the DLL's own dependencies from its folder and the system
// directory only: neither the current directory nor PATH can plant a DLL.
HMODULE loadModule(const std::filesystem::path& given) {
    std::error_code error;
    const std::filesystem::path file = std::filesystem::absolute(given, error);
    HMODULE module = LoadLibraryExW(file.c_str(), nullptr,
                                    LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module == nullptr && GetLastError() == ERROR_INVALID_PARAMETER) {
        // Windows without the search flags (Vista, 7 without KB2533623).
        module = LoadLibraryExW(file.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    }
    return module;
}

// Only a library that declares it may have its results read.
bool declaresErrnoResults(HMODULE module) {
    const FARPROC abi = GetProcAddress(module, "kesmacap_abi");
    if (abi == nullptr) {
        return false;
    }
    const auto query = reinterpret_cast<std::int32_t (*)()>(reinterpret_cast<void*>(abi));
    return CallOperation(query) == KESMACAP_ABI_ERRNO_RESULTS;
}

}  // namespace

CaptureLibrary CaptureLibrary::loadFile(const std::filesystem::path& file) {
    // The module is never freed: the DLL may run threads of its own until the process ends.
    const HMODULE module = loadModule(file);
    if (module == nullptr) {
        const DWORD error = GetLastError();
        // ERROR_BAD_EXE_FORMAT alone does not say which side is which.
        if (const auto mismatch = DescribeArchitectureMismatch(file, "quadview.exe")) {
            throw CaptureLibraryError(*mismatch);
        }
        throw CaptureLibraryError("cannot load the capture library " + utf8(file) + ": " +
                                  describeError(error));
    }
    const auto lookup = [module](std::uint16_t ordinal) {
        return reinterpret_cast<kesmacap_fn>(
            reinterpret_cast<void*>(GetProcAddress(module, MAKEINTRESOURCEA(ordinal))));
    };
    return bindOperations(lookup, utf8(file), declaresErrnoResults(module));
}

CaptureLibrary CaptureLibrary::load() {
    return load(executableDirectory());
}

CaptureLibrary CaptureLibrary::load(const std::filesystem::path& programDirectory) {
    const std::filesystem::path beside =
        programDirectory.empty() ? programDirectory : programDirectory / FileName;
    if (isFile(beside)) {
        return loadFile(beside);
    }
    const std::filesystem::path system = systemDirectory();
    const std::filesystem::path inSystem = system.empty() ? system : system / FileName;
    if (isFile(inSystem)) {
        return loadFile(inSystem);
    }
    throw CaptureLibraryError(
        std::string("cannot find the capture library ") + FileName + " beside " +
        (programDirectory.empty() ? std::string("the program") : utf8(programDirectory)) +
        " or in the system directory " + utf8(system));
}
