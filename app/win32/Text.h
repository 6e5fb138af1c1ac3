// UTF-8 and the ANSI code page to and from the UTF-16 of the Win32 API.
#pragma once

#include <optional>
#include <string>
#include <string_view>

std::wstring Widen(std::string_view utf8);
std::string Utf8(std::wstring_view text);
// The text in the ANSI code page, or nothing when a character has no exact
// form there (no best-fit look-alikes: a mangled file name is never used).
std::optional<std::string> ToAnsi(std::wstring_view text);
