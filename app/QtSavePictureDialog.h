#pragma once

#include <QFileDialog>
#include <QString>
#include <QStringList>

#include "save/SavePictureDialog.h"

// The picture save dialog on QFileDialog. Like a picture dialog of a form
// framework it remembers the last confirmed name and type between commands,
// adds no extension of its own and does not ask before replacing a file.
class QtSavePictureDialog final : public SavePictureDialog {
  public:
    explicit QtSavePictureDialog(QWidget* parent);

    bool Execute() override;
    std::string FileName() const override;
    int FilterIndex() const override { return filterIndex_; }

    // The list of picture types, in the order of the capture library's format codes.
    static QStringList filters();
    QFileDialog& dialog() { return dialog_; }

  private:
    QFileDialog dialog_;
    QString fileName_;
    int filterIndex_ = 1;
};
