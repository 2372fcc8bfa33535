#include "TestSupport.h"

#include "core/platform/LibraryVersions.h"
#include "gui/app/AboutDialog.h"
#include "gui/app/HelpDialog.h"
#include "gui/app/MainWindow.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTest>
#include <QTextBrowser>

#include <sqlite3.h>

namespace {

HelpDialog *helpWindow(MainWindow *window)
{
    return window->findChild<HelpDialog *>(QStringLiteral("ajuda"));
}

void writeProgram(const QString &path, const QByteArray &script, QFile::Permissions permissions)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(script);
    file.close();
    QVERIFY(file.setPermissions(permissions));
}

} // namespace

class TestHelpAbout : public QObject
{
    Q_OBJECT

private slots:
    // The help button: a help program in the data folder is started and no
    // manual is shown; a folder without one, or with one that cannot start,
    // shows the manual inside Zuna.
    void helpButtonStartsTheProgramOrShowsTheManual_data()
    {
        QTest::addColumn<QString>("programName");
        QTest::addColumn<bool>("executable");
        QTest::addColumn<bool>("programRuns");
        QTest::newRow("no program") << QString() << false << false;
        QTest::newRow("Ajuda") << QStringLiteral("Ajuda") << true << true;
        QTest::newRow("AJUDA, any letter case") << QStringLiteral("AJUDA") << true << true;
        QTest::newRow("Ajuda not executable") << QStringLiteral("Ajuda") << false << false;
        QTest::newRow("Ajuda.exe of the original platform") << QStringLiteral("Ajuda.exe") << false << false;
    }
    void helpButtonStartsTheProgramOrShowsTheManual()
    {
        QFETCH(QString, programName);
        QFETCH(bool, executable);
        QFETCH(bool, programRuns);
        WindowFixture fixture;
        const QString marker = fixture.data().file(QStringLiteral("ajuda-iniciada"));
        if (!programName.isEmpty()) {
            const QFile::Permissions mode = executable ? QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                                       : QFile::ReadOwner | QFile::WriteOwner;
            writeProgram(fixture.data().file(programName), "#!/bin/sh\ntouch ajuda-iniciada\n", mode);
        }
        QVERIFY(fixture.start());
        fixture.control<QPushButton>("Command7")->click();
        if (programRuns) {
            QTRY_VERIFY(QFile::exists(marker));
            QVERIFY(!helpWindow(fixture.window()));
            return;
        }
        HelpDialog *help = helpWindow(fixture.window());
        QVERIFY(help);
        QTRY_VERIFY(help->isVisible());
        auto *manual = help->findChild<QTextBrowser *>(QStringLiteral("manual"));
        QVERIFY(manual);
        const QString text = manual->toPlainText();
        for (const char *part : { "Manual do Zuna", "F1", "GRAVA", "DTMF", "FSK", "NCID", "SIP", "Soquete local",
                 "PostgreSQL", "CADA.MDB", "journalctl" })
            QVERIFY2(text.contains(QLatin1String(part)), part);
        // Clicking again brings the same window back instead of a second one.
        fixture.control<QPushButton>("Command7")->click();
        QCOMPARE(fixture.window()->findChildren<HelpDialog *>().size(), 1);
        QVERIFY(!QFile::exists(marker));
    }

    // The About box, opened from the manual, tells the version, the licence,
    // the libraries, the data folder and the register in use, and puts the
    // same facts as text on the clipboard. A folder's name is shown as
    // written, never read as markup.
    void aboutTellsTheFacts_data()
    {
        QTest::addColumn<QString>("subfolder");
        QTest::newRow("plain") << QString();
        QTest::newRow("markup in the folder's name") << QStringLiteral("<b>negrito</b> & <i>x");
    }
    void aboutTellsTheFacts()
    {
        QFETCH(QString, subfolder);
        DataFolderFixture data;
        const QString folder = subfolder.isEmpty() ? data.path() : data.path() + QLatin1Char('/') + subfolder;
        HelpDialog help(folder, folder + QStringLiteral("/cada.sqlite"));
        help.show();
        help.findChild<QPushButton *>(QStringLiteral("sobreZuna"))->click();
        AboutDialog *about = help.findChild<AboutDialog *>(QStringLiteral("sobre"));
        QVERIFY(about);
        QTRY_VERIFY(about->isVisible());
        const QString shown = about->findChild<QTextBrowser *>(QStringLiteral("fatos"))->toPlainText();
        const QStringList facts = { QStringLiteral("Zuna " ZUNA_VERSION), QStringLiteral("GPL"),
            QStringLiteral("versão 3 ou"), folder, folder + QStringLiteral("/cada.sqlite"), QStringLiteral("Qt"),
            QString::fromLatin1(qVersion()), QStringLiteral("SQLite"), QString::fromLatin1(sqlite3_libversion()),
            QStringLiteral("libpq"), QStringLiteral("spandsp"), QStringLiteral("libsndfile"), QStringLiteral("libre"),
            QStringLiteral("journalctl"), QStringLiteral("relatar um defeito") };
        for (const QString &fact : facts)
            QVERIFY2(shown.contains(fact), qPrintable(fact));
        QApplication::clipboard()->clear();
        about->findChild<QPushButton *>(QStringLiteral("copiar"))->click();
        QCOMPARE(QApplication::clipboard()->text(), about->factsText());
        for (const QString &fact : { folder, QString::fromLatin1(qVersion()), QStringLiteral("Zuna " ZUNA_VERSION) })
            QVERIFY2(about->factsText().contains(fact), qPrintable(fact));
    }

    // Each library's version is what the library says: a number, never
    // empty; libpq, loaded by Qt's driver rather than linked, is found too.
    void libraryVersionsAreRead()
    {
        const auto libraries = LibraryVersions::all();
        QStringList names;
        for (const auto &library : libraries) {
            names << library.name;
            QVERIFY2(library.version.contains(QRegularExpression(QStringLiteral("^\\d+\\.\\d+"))),
                qPrintable(library.name + QLatin1Char(' ') + library.version));
        }
        QCOMPARE(
            names, QStringList({ "Qt", "SQLite", "libpq (PostgreSQL)", "spandsp", "libsndfile", "libre", "mdbtools" }));
    }
};

QTEST_MAIN(TestHelpAbout)
#include "TestHelpAbout.moc"
