#pragma once

#include "core/app/FirstRunSetup.h"

#include <QTemporaryDir>
#include <QWizard>

#include <atomic>
#include <memory>

class QButtonGroup;
class QLabel;
class QLineEdit;
class QProgressDialog;
class QRadioButton;

// The first start from the menu, with no data folder yet: a short assistant
// in Portuguese instead of an error, asking the site's name, the desk's area
// code, where the register lives (a new one here, one brought over from the
// original platform's CADA.MDB, or a shared one on a PostgreSQL server,
// tried on the spot) and the telephone line (the
// configuration screen, with its level meter and test). Finish makes the
// folder, with the Access import's progress; Cancel, then too, leaves
// nothing behind.
class FirstRunAssistant : public QWizard
{
    Q_OBJECT

public:
    enum PageId { SitePage, AreaCodePage, RegisterPage, LinePage };

    // `workerProgram`: the program that reads an Access file (this one).
    FirstRunAssistant(QString dataDir, QString workerProgram, QWidget *parent = nullptr);
    ~FirstRunAssistant() override;

    FirstRunSetup choices() const;
    // What making the folder did, one line each.
    const QStringList &report() const { return m_report; }

    bool validateCurrentPage() override;

public slots:
    void accept() override;
    // While the folder is being made: asks the work to stop and undo itself,
    // and closes once it has.
    void reject() override;

protected:
    void showEvent(QShowEvent *event) override;

private:
    QWizardPage *makeSitePage();
    QWizardPage *makeAreaCodePage();
    QWizardPage *makeRegisterPage();
    QWizardPage *makeLinePage();
    void chooseAccessFile();
    // Tries the server now and says what it found; false when it failed.
    bool testServer();
    void configureLine();
    void showLineChoice();
    // Shows `text` as the problem on the current page (empty: none).
    void complain(const QString &text);
    // Makes the assistant as tall as the current page's texts need, once
    // the events now queued have laid it out.
    void fitPageLater();
    void fitPage();

    QString m_dataDir;
    QString m_workerProgram;
    QLineEdit *m_site = nullptr;
    QLineEdit *m_areaCode = nullptr;
    QButtonGroup *m_registerChoice = nullptr;
    QLineEdit *m_accessFile = nullptr;
    QLabel *m_accessAreaCode = nullptr;
    QLineEdit *m_server = nullptr;
    QLineEdit *m_password = nullptr;
    QLabel *m_serverResult = nullptr;
    QLabel *m_lineChoice = nullptr;
    QLabel *m_problem[4] = {};
    // The line's settings while the assistant runs, apart from any data folder.
    std::unique_ptr<QTemporaryDir> m_lineDir;
    bool m_lineConfigured = false;
    // While Finish makes the folder: its progress, and whether Cancel was asked.
    QProgressDialog *m_making = nullptr;
    std::atomic<bool> m_cancelled = false;
    QStringList m_report;
};
