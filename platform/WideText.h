// UTF-8 to and from the UTF-16 of the Win32 API (Windows only).
#pragma once

#include <string>
#include <string_view>

std::wstring Widen(std::string_view utf8);
std::string Utf8(std::wstring_view text);
