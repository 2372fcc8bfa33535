#include "gui/platform/FileChooser.h"

#include "gui/platform/FileDetailsModel.h"

#include <QFileDialog>

QString FileChooser::openFile(QWidget *parent, const QString &title, const QString &start, const QString &filter)
{
    QFileDialog dialog(parent, title, start, filter);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setProxyModel(new FileDetailsModel(&dialog));
    if (dialog.exec() != QDialog::Accepted)
        return {};
    return dialog.selectedFiles().value(0);
}
