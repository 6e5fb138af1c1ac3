#pragma once

#include <string>

// The save dialog as the save command needs it; the GUI implements it.
class SavePictureDialog {
  public:
    virtual ~SavePictureDialog() = default;
    // Shows the dialog modally; true when the user confirmed a name.
    virtual bool Execute() = 0;
    // The last confirmed file name as 8-bit text, in the platform's file name encoding.
    virtual std::string FileName() const = 0;
    // The same name as UTF-8, for messages (the name above may be in another
    // encoding: Windows' ANSI code page).
    virtual std::string ShownFileName() const { return FileName(); }
    // The last confirmed file type, 1-based in the order of the dialog's list.
    virtual int FilterIndex() const = 0;
};
