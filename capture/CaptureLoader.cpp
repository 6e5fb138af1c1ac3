// Finding and loading the capture library file on Linux.
#include <dlfcn.h>
#include <unistd.h>

#include <array>
#include <system_error>

#include "capture/CaptureLibrary.h"

namespace {

std::filesystem::path executableDirectory() {
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path() : self.parent_path();
}

std::string lastDlError() {
    const char* const message = dlerror();
    return message != nullptr ? message : "unknown error";
}

}  // namespace

CaptureLibrary CaptureLibrary::bindLoaded(void* handle, const std::string& source) {
    std::shared_ptr<void> module(handle, [](void* opened) { dlclose(opened); });
    const auto lookup = reinterpret_cast<ProcLookup>(dlsym(handle, "kesmacap_proc"));
    return bindModule(std::move(module), lookup, source);
}

CaptureLibrary CaptureLibrary::loadFile(const std::filesystem::path& file) {
    // RTLD_NOW: a library with an unresolved symbol fails here, not mid-run.
    void* const handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        throw CaptureLibraryError("cannot load the capture library " + file.string() + ": " + lastDlError());
    }
    return bindLoaded(handle, file.string());
}

CaptureLibrary CaptureLibrary::load() {
    const std::filesystem::path beside = executableDirectory() / FileName;
    std::error_code error;
    if (!beside.empty() && std::filesystem::exists(beside, error)) {
        return loadFile(beside);
    }
    // A bare name searches the system's library path and never the current directory.
    void* const handle = dlopen(FileName, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        throw CaptureLibraryError(
            std::string("cannot find the capture library ") + FileName + " beside " +
            (beside.empty() ? std::string("the program") : beside.parent_path().string()) +
            " or on the system's library path: " + lastDlError());
    }
    return bindLoaded(handle, FileName);
}
