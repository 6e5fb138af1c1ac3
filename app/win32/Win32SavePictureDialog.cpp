#include "app/win32/Win32SavePictureDialog.h"

#include <commdlg.h>

#include <vector>

#include "app/Design.h"
#include "platform/text/Text.h"

namespace {

// Pairs of caption and pattern, each ended by a null, the list by another.
const wchar_t Filters[] = L"" QUADVIEW_TYPE_BMP " (*.bmp)\0*.bmp\0" QUADVIEW_TYPE_JPEG
                          " (*.jpg;*.jpeg)\0*.jpg;*.jpeg\0" QUADVIEW_TYPE_PNG " (*.png)\0*.png\0";

}  // namespace

bool Win32SavePictureDialog::Execute() {
    std::vector<wchar_t> name(32768, L'\0');
    wideName_.copy(name.data(), name.size() - 1);
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = owner_;
    dialog.lpstrFilter = Filters;
    dialog.nFilterIndex = static_cast<DWORD>(filterIndex_);
    dialog.lpstrFile = name.data();
    dialog.nMaxFile = static_cast<DWORD>(name.size());
    dialog.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
    if (!GetSaveFileNameW(&dialog)) {
        return false;
    }
    const std::wstring chosen(name.data());
    const std::optional<std::string> ansi = ToAnsi(chosen);
    if (!ansi) {
        const std::wstring message = L"此檔名無法以系統字碼頁表示，請改用其他名稱：\n" + chosen;
        MessageBoxW(owner_, message.c_str(), Widen(QUADVIEW_N8_CAPTION).c_str(), MB_OK | MB_ICONWARNING);
        return false;
    }
    wideName_ = chosen;
    ansiName_ = *ansi;
    filterIndex_ = static_cast<int>(dialog.nFilterIndex);
    return true;
}

std::string Win32SavePictureDialog::ShownFileName() const {
    return Utf8(wideName_);
}
