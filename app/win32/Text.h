// The ANSI code page from the UTF-16 of the Win32 API; UTF-8 comes with it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/WideText.h"

// The text in the ANSI code page, or nothing when a character has no exact
// form there (no best-fit look-alikes: a mangled file name is never used).
std::optional<std::string> ToAnsi(std::wstring_view text);
