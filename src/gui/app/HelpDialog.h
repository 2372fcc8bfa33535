#pragma once

#include <QDialog>

class QTextBrowser;

// The manual, in Portuguese, compiled into the program: what the window and
// its keys do, the contacts, the calls, the caller-ID sources, several desks,
// the data folder, messages and faults. "Sobre o Zuna" opens the About box.
class HelpDialog : public QDialog
{
    Q_OBJECT

public:
    HelpDialog(const QString &dataDir, const QString &registerWhere, QWidget *parent = nullptr);

    // The help program in the data folder (Ajuda, as on the original
    // platform) when there is one and it starts; else this manual, one
    // window per parent, brought to the front when already open.
    static void open(const QString &dataDir, const QString &registerWhere, QWidget *parent);

    void openAbout();

private:
    QString m_dataDir;
    QString m_registerWhere;
    QTextBrowser *m_manual = nullptr;
};
