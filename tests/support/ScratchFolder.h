// A fresh folder of the test's own, removed with everything in it at the end.
#pragma once

#include <atomic>
#include <cstddef>
#include <filesystem>
#include <iterator>
#include <string>
#include <system_error>

#include "tests/support/TestPlatform.h"

namespace testing_support {

class ScratchFolder {
  public:
    explicit ScratchFolder(const std::string& purpose = "quadview-test") {
        static std::atomic<int> counter{0};
        path_ = std::filesystem::temp_directory_path() /
                (purpose + "-" + std::to_string(ProcessId()) + "-" + std::to_string(counter++));
        // Process ids come back (under Wine often): start from an empty folder.
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ignored);
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
    std::size_t fileCount() const {
        return static_cast<std::size_t>(
            std::distance(std::filesystem::directory_iterator(path_), std::filesystem::directory_iterator()));
    }

  private:
    std::filesystem::path path_;
};

}  // namespace testing_support
