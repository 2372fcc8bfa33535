#pragma once

#include <QString>

class QWidget;

// The file dialogs of the program. Always Qt's own dialog, not the desktop's:
// that one speaks the desktop's language, and Zuna's attendant reads
// Portuguese whatever the system is set to. Its sizes and dates are shown
// the Brazilian way (see FileDetailsModel).
namespace FileChooser {

// An existing file to read; empty when the attendant gave up. `start` is a
// folder, or a file to start on. `filter` as for QFileDialog.
QString openFile(QWidget *parent, const QString &title, const QString &start, const QString &filter);

} // namespace FileChooser
