#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <vector>

#include "capture/CaptureLibrary.h"
#include "capture/LibraryArchitecture.h"
#include "tests/support/CardConformance.h"
#include "tests/support/ScratchFolder.h"
#include "tests/support/TestPlatform.h"

namespace {

using testing_support::CardConformance;
using testing_support::LibraryFile;

std::string loadError(const std::filesystem::path& file) {
    try {
        CaptureLibrary::loadFile(file);
    } catch (const CaptureLibraryError& error) {
        return error.what();
    }
    return "";
}

TEST(CaptureBinding, MissingOrdinalIsNamedWithItsOperation) {
    const std::filesystem::path file = LibraryFile("broken_no42");
    const std::string message = loadError(file);
    EXPECT_NE(message.find("ordinal 42"), std::string::npos) << message;
    EXPECT_NE(message.find("SaveChannelPicture"), std::string::npos) << message;
    EXPECT_NE(message.find(file.filename().string()), std::string::npos) << message;
}

TEST(CaptureBinding, MissingFileAndFileThatIsNoLibraryAreNamed) {
    const auto missing = std::filesystem::temp_directory_path() / "no-such-folder" / CaptureLibrary::FileName;
    std::string message = loadError(missing);
    EXPECT_NE(message.find(missing.string()), std::string::npos) << message;

    const auto notALibrary = std::filesystem::temp_directory_path() /
                             ("notalib-" + std::to_string(testing_support::ProcessId()) + ".dll");
    std::ofstream(notALibrary) << "not a shared object";
    message = loadError(notALibrary);
    std::filesystem::remove(notALibrary);
    EXPECT_NE(message.find(notALibrary.string()), std::string::npos) << message;
}

void put16(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint16_t value, bool bigEndian = false) {
    bytes[at + (bigEndian ? 1 : 0)] = static_cast<std::uint8_t>(value);
    bytes[at + (bigEndian ? 0 : 1)] = static_cast<std::uint8_t>(value >> 8);
}

// The start of a PE file: DOS header pointing at "PE\0\0", machine, optional header magic.
std::vector<std::uint8_t> peHeader(std::uint16_t machine, std::uint16_t magic) {
    std::vector<std::uint8_t> bytes(0x200);
    bytes[0] = 'M';
    bytes[1] = 'Z';
    bytes[0x3c] = 0x80;
    bytes[0x80] = 'P';
    bytes[0x81] = 'E';
    put16(bytes, 0x84, machine);
    put16(bytes, 0x80 + 24, magic);
    return bytes;
}

std::vector<std::uint8_t> elfHeader(std::uint8_t elfClass, bool bigEndian, std::uint16_t machine) {
    std::vector<std::uint8_t> bytes(64);
    bytes[0] = 0x7f;
    bytes[1] = 'E';
    bytes[2] = 'L';
    bytes[3] = 'F';
    bytes[4] = elfClass;
    bytes[5] = bigEndian ? 2 : 1;
    bytes[6] = 1;
    put16(bytes, 18, machine, bigEndian);
    return bytes;
}

TEST(LibraryArchitecture, HeadersOfEitherSystemAreRead) {
    EXPECT_EQ(ParseLibraryArchitecture(peHeader(0x14c, 0x10b)), (LibraryArchitecture{32, "x86"}));
    EXPECT_EQ(ParseLibraryArchitecture(peHeader(0x8664, 0x20b)), (LibraryArchitecture{64, "x86-64"}));
    EXPECT_EQ(ParseLibraryArchitecture(peHeader(0xaa64, 0x20b)), (LibraryArchitecture{64, "ARM64"}));
    EXPECT_EQ(ParseLibraryArchitecture(elfHeader(1, false, 3)), (LibraryArchitecture{32, "x86"}));
    EXPECT_EQ(ParseLibraryArchitecture(elfHeader(2, false, 62)), (LibraryArchitecture{64, "x86-64"}));
    EXPECT_EQ(ParseLibraryArchitecture(elfHeader(2, true, 21)), (LibraryArchitecture{64, "PowerPC"}));
    EXPECT_EQ(ParseLibraryArchitecture(elfHeader(2, false, 0x1234)),
              (LibraryArchitecture{64, "machine 0x1234"}));

    // This program's own capture library is of its own architecture.
    EXPECT_EQ(ReadLibraryArchitecture(LibraryFile("kesmacap")), ThisProgramArchitecture());
    EXPECT_EQ(DescribeArchitectureMismatch(LibraryFile("kesmacap"), "quadview"), std::nullopt);
}

TEST(LibraryArchitecture, CutOrDamagedHeadersAreNoArchitecture) {
    for (const auto& whole : {peHeader(0x14c, 0x10b), elfHeader(2, false, 62)}) {
        const std::size_t needed = whole[0] == 'M' ? 0x80 + 26 : 20;
        for (std::size_t length = 0; length < needed; ++length) {
            const std::vector<std::uint8_t> cut(whole.begin(),
                                                whole.begin() + static_cast<std::ptrdiff_t>(length));
            EXPECT_EQ(ParseLibraryArchitecture(cut), std::nullopt) << length << " bytes";
        }
    }
    std::vector<std::uint8_t> farPe = peHeader(0x14c, 0x10b);
    farPe[0x3f] = 0xff;  // e_lfanew far past the end
    EXPECT_EQ(ParseLibraryArchitecture(farPe), std::nullopt);
    EXPECT_EQ(ParseLibraryArchitecture(peHeader(0x14c, 0x107)), std::nullopt) << "no PE32 or PE32+ magic";
    EXPECT_EQ(ParseLibraryArchitecture(elfHeader(3, false, 62)), std::nullopt) << "no ELF class";
}

// The native format's header of the other word size, where the library belongs.
TEST(LibraryArchitecture, LibraryOfTheOtherWordSizeIsNamedAsSuch) {
    const int bits = ThisProgramArchitecture().bits;
    const int otherBits = bits == 64 ? 32 : 64;
#if defined(_WIN32)
    const std::vector<std::uint8_t> header =
        otherBits == 32 ? peHeader(0x14c, 0x10b) : peHeader(0x8664, 0x20b);
#else
    const std::vector<std::uint8_t> header =
        otherBits == 32 ? elfHeader(1, false, 3) : elfHeader(2, false, 62);
#endif
    const testing_support::ScratchFolder folder("other-bits");
    const auto file = folder / CaptureLibrary::FileName;
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(header.data()), static_cast<std::streamsize>(header.size()));
    const std::string message = loadError(file);
    const std::string expected = std::string(CaptureLibrary::FileName) + " is a " +
                                 std::to_string(otherBits) + "-bit library and this quadview";
    EXPECT_EQ(message.rfind(expected, 0), 0u) << message;
    EXPECT_NE(
        message.find(std::to_string(bits) + "-bit: use the " + std::to_string(otherBits) + "-bit quadview"),
        std::string::npos)
        << message;
}

TEST(CaptureBinding, DefaultLoadFindsTheLibraryBesideTheExecutable) {
    // The test binary sits beside the capture library, as the viewer does.
    EXPECT_TRUE(CaptureLibrary::load().reportsErrors()) << "our libraries say their results are errno values";
}

kesmacap_fn emptyTable(std::uint16_t) {
    return nullptr;
}

TEST(CaptureBinding, InProcessTableWithoutOperationsIsRefused) {
    try {
        CaptureLibrary::bind(emptyTable);
        FAIL() << "bound a table without operations";
    } catch (const CaptureLibraryError& error) {
        EXPECT_NE(std::string(error.what()).find("OpenChannel"), std::string::npos);
    }
    EXPECT_THROW(CaptureLibrary::bind(nullptr), CaptureLibraryError);
}

// The ABI's rules against the library file itself, bound by ordinal as the viewer binds it.
std::unique_ptr<testing_support::CardUnderTest> loaded(const std::string& stem) {
    std::string why;
    auto card = testing_support::LoadedLibrary(LibraryFile(stem).string(), why);
    EXPECT_NE(card, nullptr) << why;
    return card;
}

INSTANTIATE_TEST_SUITE_P(LoadedLibrary, CardConformance,
                         testing::Values(testing_support::ConformanceTarget{"Kesmacap",
                                                                            [] { return loaded("kesmacap"); }}
#if defined(_WIN32) && defined(__i386__)
                                         ,
                                         testing_support::ConformanceTarget{
                                             "KesmacapStdcall", [] { return loaded("kesmacap_stdcall"); }}
#endif
                                         ),
                         testing_support::ConformanceName);

}  // namespace
