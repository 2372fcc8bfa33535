#pragma once

#include "core/contacts/ContactImport.h"

#include <QDialog>

class QCheckBox;
class QFormLayout;
class QGroupBox;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class Register;

// Contacts brought in from a CSV or vCard file in the window: the file is read
// and checked off the window's thread, the preview shown (what will be added,
// the duplicates and damaged rows skipped, with their lines, or the
// duplicates merged into the stored contacts when chosen; a CSV column whose
// field is unclear gets a box to choose it, and the file is read again with
// the choice), and only on
// "Importar" are the contacts written, in one transaction, with a progress
// bar. The dialog stays open until the writing ends.
class ContactImportDialog : public QDialog
{
    Q_OBJECT

public:
    ContactImportDialog(Register *reg, QWidget *parent = nullptr);

    // Reads and previews a file, as choosing it does.
    void openFile(const QString &path);
    bool isBusy() const { return m_busy; }

signals:
    // The contacts were written: the list and count are to be read again.
    void imported(qint64 count);

public slots:
    void reject() override;

private:
    void chooseFile();
    void readFile();
    void showPreview(bool ok, const QString &error);
    void offerColumns();
    void importContacts();
    void setBusy(bool busy);
    bool canWrite() const;

    Register *m_register;
    QLabel *m_file;
    QPlainTextEdit *m_preview;
    QCheckBox *m_merge;
    QProgressBar *m_progress;
    QPushButton *m_choose;
    QPushButton *m_import;
    QPushButton *m_close;
    QGroupBox *m_columns;
    QFormLayout *m_columnsLayout;
    QString m_path;
    QHash<int, ContactCsv::Column> m_chosen; // the unclear columns, as chosen
    ContactImport::Preview m_read;
    bool m_busy = false;
};
