#pragma once

#include <QDialog>

class MainWindow;
class QTextBrowser;

// "Sobre o Zuna": the version, the licence, the libraries and their versions,
// the data folder and register in use, where messages go and how to report a
// fault. "Copiar" puts the same facts as plain text on the clipboard, for a
// fault report. Over the attendant's window, on a desk's own register,
// "Restaurar uma cópia..." picks a copy, checks it (integrity, tables,
// contacts), asks, and hands it to the window to be put in place.
class AboutDialog : public QDialog
{
    Q_OBJECT

public:
    // `registerWhere`: the register in use as it is shown (a file, or a
    // server never with its password); empty when none is open.
    AboutDialog(const QString &dataDir, const QString &registerWhere, QWidget *parent = nullptr);

    // The facts as plain text, one per line.
    QString factsText() const { return m_facts; }
    // Checks the copy and, when the attendant agrees, asks the window to
    // restore it; as choosing it does.
    void restoreFrom(const QString &copyPath);

private:
    void chooseCopy();

    QString m_dataDir;
    MainWindow *m_window = nullptr;
    QString m_facts;
    QTextBrowser *m_text = nullptr;
};
