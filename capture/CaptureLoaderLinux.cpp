// Finding and loading the capture library file on Linux.
#include <dlfcn.h>

#include <system_error>

#include "capture/CaptureLibrary.h"
#include "capture/LibraryArchitecture.h"

const char* const CaptureLibrary::FileName = "libkesmacap.so";

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

// RTLD_NOW: a library with an unresolved symbol fails here, not mid-run.
// RTLD_NODELETE: a library may run threads of its own that never stop; its
// code stays mapped until the process ends, so they never run unmapped code.
void* open(const char* file) {
    return dlopen(file, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
}

CaptureLibrary bindLoaded(void* handle, const std::string& source) {
    const auto lookup = reinterpret_cast<CaptureLibrary::ProcLookup>(dlsym(handle, "kesmacap_proc"));
    if (lookup == nullptr) {
        throw CaptureLibraryError(source + " does not export kesmacap_proc");
    }
    // The handle is dropped, not closed: the library stays loaded.
    return CaptureLibrary::bind(lookup, source);
}

}  // namespace

CaptureLibrary CaptureLibrary::loadFile(const std::filesystem::path& file) {
    void* const handle = open(file.c_str());
    if (handle == nullptr) {
        const std::string error = lastDlError();
        // dlopen's "wrong ELF class" does not say which side is which.
        if (const auto mismatch = DescribeArchitectureMismatch(file, "quadview")) {
            throw CaptureLibraryError(*mismatch);
        }
        throw CaptureLibraryError("cannot load the capture library " + file.string() + ": " + error);
    }
    return bindLoaded(handle, file.string());
}

CaptureLibrary CaptureLibrary::load() {
    return load(executableDirectory());
}

CaptureLibrary CaptureLibrary::load(const std::filesystem::path& programDirectory) {
    // Beside the program, as a program finds a DLL beside itself; then where an
    // installed tree keeps its private libraries (bin/../lib/quadview).
    const std::filesystem::path beside = programDirectory / FileName;
    const std::filesystem::path installed = (programDirectory / ".." / "lib" / "quadview").lexically_normal();
    std::error_code error;
    for (const std::filesystem::path& file : {beside, installed / FileName}) {
        if (!programDirectory.empty() && std::filesystem::exists(file, error)) {
            return loadFile(file);
        }
    }
    // A bare name searches the system's library path and never the current directory.
    void* const handle = open(FileName);
    if (handle == nullptr) {
        throw CaptureLibraryError(std::string("cannot find the capture library ") + FileName + " beside " +
                                  (programDirectory.empty()
                                       ? std::string("the program")
                                       : programDirectory.string() + ", in " + installed.string()) +
                                  " or on the system's library path: " + lastDlError());
    }
    return bindLoaded(handle, FileName);
}
