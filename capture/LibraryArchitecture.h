// What a library file was built for, read from its PE or ELF header, so that
// a library of another architecture is refused with a message that says so.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>

struct LibraryArchitecture {
    int bits;             // 32 or 64
    std::string machine;  // "x86", "x86-64", "ARM64", ... or "machine 0x…"

    bool operator==(const LibraryArchitecture&) const = default;
};

// The architecture in a PE (Windows) or ELF (Linux) header; none for other bytes.
std::optional<LibraryArchitecture> ParseLibraryArchitecture(std::span<const std::uint8_t> header);
// The same, read from the start of a file; none if it cannot be read.
std::optional<LibraryArchitecture> ReadLibraryArchitecture(const std::filesystem::path& file);
// What this program was built for.
LibraryArchitecture ThisProgramArchitecture();

// For a library file of another architecture than this program's, a message
// that says so, e.g. "kesmacap.dll is a 32-bit library and this quadview.exe
// is 64-bit: use the 32-bit quadview"; none when the file is not one, or fits.
std::optional<std::string> DescribeArchitectureMismatch(const std::filesystem::path& file,
                                                        const std::string& programName);
