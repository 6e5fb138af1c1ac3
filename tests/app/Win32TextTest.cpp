// Names for the card's DLL: the ANSI code page, exactly or not at all.
#include <gtest/gtest.h>
#include <windows.h>

#include "platform/text/Text.h"

namespace {

TEST(Win32Text, NamesTheCodePageHoldsConvertAndOthersAreRefused) {
    EXPECT_EQ(ToAnsi(L"C:\\pictures\\photo"), std::optional<std::string>("C:\\pictures\\photo"));
    EXPECT_EQ(ToAnsi(L""), std::optional<std::string>(""));
    // No ANSI code page has emoji: never a "?" in a file name.
    EXPECT_EQ(ToAnsi(L"photo\U0001F600"), std::nullopt);
    if (GetACP() == 1252) {
        // Best fit would turn a-macron into a plain "a": another file's name.
        EXPECT_EQ(ToAnsi(L"\u0101"), std::nullopt);
        EXPECT_EQ(ToAnsi(L"caf\u00e9"), std::optional<std::string>("caf\xe9"));
    }
    EXPECT_EQ(Utf8(Widen("攝影機拍攝")), "攝影機拍攝");
}

}  // namespace
