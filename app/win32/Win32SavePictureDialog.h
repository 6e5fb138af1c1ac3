#pragma once

#include <windows.h>

#include <string>

#include "save/SavePictureDialog.h"

// The common save dialog: Bitmap, JPEG and PNG in that order; no extension
// added, no question before replacing; the last confirmed name and type are
// kept for the next time.
class Win32SavePictureDialog final : public SavePictureDialog {
  public:
    explicit Win32SavePictureDialog(HWND owner) : owner_(owner) {}

    // A name the ANSI code page cannot hold is refused with a message and
    // counts as cancelled: nothing is saved under a mangled name.
    bool Execute() override;
    std::string FileName() const override { return ansiName_; }
    std::string ShownFileName() const override;
    int FilterIndex() const override { return filterIndex_; }

  private:
    HWND owner_;
    std::wstring wideName_;
    std::string ansiName_;
    int filterIndex_ = 1;
};
