#include "app/QtSavePictureDialog.h"

#include "app/Design.h"

#include <QFile>

QtSavePictureDialog::QtSavePictureDialog(QWidget* parent) : dialog_(parent) {
    dialog_.setAcceptMode(QFileDialog::AcceptSave);
    dialog_.setFileMode(QFileDialog::AnyFile);
    dialog_.setNameFilters(filters());
    // The same dialog everywhere, and driveable in tests; no confirmation, as in a picture dialog.
    dialog_.setOptions(QFileDialog::DontUseNativeDialog | QFileDialog::DontConfirmOverwrite);
    dialog_.setDefaultSuffix(QString());
}

QStringList QtSavePictureDialog::filters() {
    return {QStringLiteral(QUADVIEW_TYPE_BMP " (*.bmp)"),
            QStringLiteral(QUADVIEW_TYPE_JPEG " (*.jpg *.jpeg)"),
            QStringLiteral(QUADVIEW_TYPE_PNG " (*.png)")};
}

bool QtSavePictureDialog::Execute() {
    const QStringList types = filters();
    dialog_.selectNameFilter(types.value(filterIndex_ - 1));
    if (!fileName_.isEmpty()) {
        dialog_.selectFile(fileName_);
    }
    if (dialog_.exec() != QDialog::Accepted || dialog_.selectedFiles().isEmpty()) {
        return false;
    }
    fileName_ = dialog_.selectedFiles().constFirst();
    filterIndex_ = static_cast<int>(types.indexOf(dialog_.selectedNameFilter())) + 1;
    if (filterIndex_ < 1) {
        filterIndex_ = 1;
    }
    return true;
}

std::string QtSavePictureDialog::FileName() const {
    return QFile::encodeName(fileName_).toStdString();
}
