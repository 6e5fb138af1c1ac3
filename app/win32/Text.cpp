#include "app/win32/Text.h"

#include <windows.h>

std::optional<std::string> ToAnsi(std::wstring_view text) {
    if (text.empty()) {
        return std::string();
    }
    const int length = static_cast<int>(text.size());
    BOOL lossy = FALSE;
    const int size =
        WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), length, nullptr, 0, nullptr, &lossy);
    if (size <= 0 || lossy) {
        return std::nullopt;
    }
    std::string out(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.data(), length, out.data(), size, nullptr, &lossy);
    if (lossy) {
        return std::nullopt;
    }
    return out;
}
