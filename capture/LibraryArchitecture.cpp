#include "capture/LibraryArchitecture.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <fstream>
#include <vector>

namespace {

std::uint16_t read16(std::span<const std::uint8_t> bytes, std::size_t at, bool bigEndian = false) {
    return bigEndian ? static_cast<std::uint16_t>(bytes[at] << 8 | bytes[at + 1])
                     : static_cast<std::uint16_t>(bytes[at] | bytes[at + 1] << 8);
}

std::uint32_t read32(std::span<const std::uint8_t> bytes, std::size_t at) {
    return static_cast<std::uint32_t>(bytes[at]) | static_cast<std::uint32_t>(bytes[at + 1]) << 8 |
           static_cast<std::uint32_t>(bytes[at + 2]) << 16 | static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

std::string unknownMachine(std::uint16_t machine) {
    std::array<char, 16> text{};
    std::snprintf(text.data(), text.size(), "machine 0x%x", machine);
    return text.data();
}

std::string peMachine(std::uint16_t machine) {
    switch (machine) {
        case 0x014c:
            return "x86";
        case 0x8664:
            return "x86-64";
        case 0xaa64:
            return "ARM64";
        case 0x01c0:
        case 0x01c4:
            return "ARM";
        default:
            return unknownMachine(machine);
    }
}

std::string elfMachine(std::uint16_t machine) {
    switch (machine) {
        case 3:
            return "x86";
        case 62:
            return "x86-64";
        case 183:
            return "ARM64";
        case 40:
            return "ARM";
        case 243:
            return "RISC-V";
        case 8:
            return "MIPS";
        case 20:
        case 21:
            return "PowerPC";
        case 22:
            return "s390";
        default:
            return unknownMachine(machine);
    }
}

// DOS stub, then at e_lfanew "PE\0\0", the machine, and the optional
// header's magic: 0x10b for PE32, 0x20b for PE32+.
std::optional<LibraryArchitecture> parsePe(std::span<const std::uint8_t> bytes) {
    constexpr std::size_t lfanewAt = 0x3c;
    if (bytes.size() < lfanewAt + 4) {
        return std::nullopt;
    }
    const std::size_t pe = read32(bytes, lfanewAt);
    constexpr std::size_t optionalMagicAt = 24;
    if (pe > bytes.size() || bytes.size() - pe < optionalMagicAt + 2 ||
        !std::equal(bytes.begin() + static_cast<std::ptrdiff_t>(pe),
                    bytes.begin() + static_cast<std::ptrdiff_t>(pe) + 4, std::begin("PE\0\0"))) {
        return std::nullopt;
    }
    const std::uint16_t magic = read16(bytes, pe + optionalMagicAt);
    if (magic != 0x10b && magic != 0x20b) {
        return std::nullopt;
    }
    return LibraryArchitecture{magic == 0x20b ? 64 : 32, peMachine(read16(bytes, pe + 4))};
}

// e_ident: class (1: 32-bit, 2: 64-bit) and data (1: little, 2: big endian); e_machine at 18.
std::optional<LibraryArchitecture> parseElf(std::span<const std::uint8_t> bytes) {
    constexpr std::size_t machineAt = 18;
    if (bytes.size() < machineAt + 2) {
        return std::nullopt;
    }
    const std::uint8_t elfClass = bytes[4];
    const std::uint8_t data = bytes[5];
    if ((elfClass != 1 && elfClass != 2) || (data != 1 && data != 2)) {
        return std::nullopt;
    }
    return LibraryArchitecture{elfClass == 2 ? 64 : 32, elfMachine(read16(bytes, machineAt, data == 2))};
}

}  // namespace

std::optional<LibraryArchitecture> ParseLibraryArchitecture(std::span<const std::uint8_t> header) {
    if (header.size() >= 2 && header[0] == 'M' && header[1] == 'Z') {
        return parsePe(header);
    }
    if (header.size() >= 4 && header[0] == 0x7f && header[1] == 'E' && header[2] == 'L' && header[3] == 'F') {
        return parseElf(header);
    }
    return std::nullopt;
}

std::optional<LibraryArchitecture> ReadLibraryArchitecture(const std::filesystem::path& file) {
    // Linkers put the PE header within the first few hundred bytes.
    constexpr std::size_t headerBytes = 4096;
    std::ifstream stream(file, std::ios::binary);
    std::vector<std::uint8_t> header(headerBytes);
    stream.read(reinterpret_cast<char*>(header.data()), static_cast<std::streamsize>(header.size()));
    header.resize(static_cast<std::size_t>(std::max<std::streamsize>(stream.gcount(), 0)));
    return ParseLibraryArchitecture(header);
}

LibraryArchitecture ThisProgramArchitecture() {
#if defined(__x86_64__)
    return {64, "x86-64"};
#elif defined(__i386__)
    return {32, "x86"};
#elif defined(__aarch64__)
    return {64, "ARM64"};
#elif defined(__arm__)
    return {32, "ARM"};
#elif defined(__riscv)
    return {static_cast<int>(sizeof(void*) * 8), "RISC-V"};
#else
    return {static_cast<int>(sizeof(void*) * 8), "this machine"};
#endif
}

std::optional<std::string> DescribeArchitectureMismatch(const std::filesystem::path& file,
                                                        const std::string& programName) {
    const std::optional<LibraryArchitecture> library = ReadLibraryArchitecture(file);
    const LibraryArchitecture program = ThisProgramArchitecture();
    if (!library || *library == program) {
        return std::nullopt;
    }
    const std::u8string fileName = file.filename().u8string();
    const std::string name(fileName.begin(), fileName.end());
    if (library->bits != program.bits) {
        const std::string bits = std::to_string(library->bits) + "-bit";
        return name + " is a " + bits + " library and this " + programName + " is " +
               std::to_string(program.bits) + "-bit: use the " + bits + " quadview";
    }
    return name + " is built for " + library->machine + " and this " + programName + " for " +
           program.machine + ": use a " + name + " built for " + program.machine;
}
