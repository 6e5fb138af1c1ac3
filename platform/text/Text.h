// Text between the 8-bit forms programs and libraries pass around and the
// UTF-16 of the Win32 API (Windows only).
#pragma once

#include <optional>
#include <string>
#include <string_view>

// Bytes in code page `codePage` (CP_ACP, CP_UTF8, ...) as UTF-16, or nothing
// when they are no text there.
std::optional<std::wstring> ToWide(std::string_view text, unsigned codePage);
// For what is only shown: invalid bytes become U+FFFD rather than failing.
std::wstring Widen(std::string_view utf8);
std::string Utf8(std::wstring_view text);
// The text in the ANSI code page, or nothing when a character has no exact
// form there (no best-fit look-alikes: a mangled file name is never used).
std::optional<std::string> ToAnsi(std::wstring_view text);
