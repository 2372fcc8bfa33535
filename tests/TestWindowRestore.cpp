#include "TestSupport.h"

#include "core/contacts/BackupFolder.h"
#include "core/contacts/Register.h"
#include "core/contacts/RegisterBackup.h"
#include "core/platform/DataFiles.h"
#include "gui/app/AboutDialog.h"
#include "gui/app/MainWindow.h"
#include "gui/app/Startup.h"
#include "gui/callerid/CallerIdControl.h"

#include <QDir>
#include <QFile>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

namespace {

qint64 contactsIn(const QString &dataDir)
{
    QString error;
    const auto reg = Register::open(dataDir, {}, Register::Patience::Background, &error);
    qint64 count = -1;
    if (!reg || !reg->count(&count, &error))
        qWarning("%s", qPrintable(error));
    return count;
}

} // namespace

// A copy restored from the About screen while the window runs: checked and
// shown, asked, then put in place with the window closed and opened again.
class TestWindowRestore : public QObject
{
    Q_OBJECT

private slots:
    void aCopyIsRestoredFromTheWindow_data()
    {
        QTest::addColumn<bool>("damaged");
        QTest::addColumn<bool>("agreed");
        QTest::addColumn<qint64>("contactsAfter");
        QTest::addColumn<QString>("lastBox");
        QTest::newRow("restored") << false << true << qint64(2) << QStringLiteral("Cadastro restaurado de");
        QTest::newRow("declined") << false << false << qint64(3) << QStringLiteral("2 contatos.");
        QTest::newRow("damaged copy") << true << true << qint64(3) << QStringLiteral("não pode ser restaurada");
    }

    void aCopyIsRestoredFromTheWindow()
    {
        QFETCH(bool, damaged);
        QFETCH(bool, agreed);
        QFETCH(qint64, contactsAfter);
        QFETCH(QString, lastBox);
        DataFolderFixture data;
        data.addContact(data.contact(QStringLiteral("Ana"), QStringLiteral("(11)3333-4444")));
        data.addContact(data.contact(QStringLiteral("Bia")));
        QTemporaryDir dir;
        const QString copy = dir.filePath(QStringLiteral("copia.sqlite"));
        QString error;
        if (damaged) {
            QFile f(copy);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(QByteArray(8192, 'x'));
        } else {
            QVERIFY2(RegisterBackup::copyFile(data.file(DataFiles::Contacts), copy, &error), qPrintable(error));
        }
        data.addContact(data.contact(QStringLiteral("Carla")));

        RecordingMessageBoxes boxes;
        boxes.answers = { agreed ? MessageBoxes::Answer::Yes : MessageBoxes::Answer::No };
        Startup startup(data.path());
        QCOMPARE(startup.start(), Startup::Outcome::Running);
        QPointer<MainWindow> first(startup.mainWindow());
        const QString line = QStringLiteral("ncid:127.0.0.1:3333");
        first->callerId()->setLineOverride(line); // zuna --line
        auto *about = new AboutDialog(data.path(), first->contactRegister()->where(), first);
        about->setAttribute(Qt::WA_DeleteOnClose);
        about->show();
        QVERIFY(about->findChild<QPushButton *>(QStringLiteral("restaurar")));
        about->restoreFrom(copy);
        const bool restored = !damaged && agreed;
        if (restored) {
            QTRY_VERIFY(first.isNull());
            QTRY_COMPARE(boxes.shown.size(), 2);
        } else {
            QCOMPARE(boxes.shown.size(), 1);
        }
        if (!damaged)
            QVERIFY2(boxes.shown.first().text.contains(QStringLiteral("Íntegra e com as tabelas do cadastro; 2 "
                                                                      "contatos")),
                qPrintable(boxes.shown.first().text));
        QVERIFY2(boxes.shown.last().text.contains(lastBox), qPrintable(boxes.shown.last().text));
        QVERIFY(startup.mainWindow() && startup.mainWindow()->isVisible());
        QCOMPARE(startup.mainWindow()->callerId()->lineOverride(), line);
        qint64 shown = 0;
        QVERIFY(startup.mainWindow()->contactRegister()->count(&shown, &error));
        QCOMPARE(shown, contactsAfter);
        QCOMPARE(contactsIn(data.path()), contactsAfter);
        // The register replaced is kept as one more copy; nothing is left
        // half-way beside the register.
        QCOMPARE(BackupFolder::list(BackupFolder::pathFor(data.path())).size(), restored ? 1 : 0);
        const QStringList left
            = QDir(data.path()).entryList({ QStringLiteral("*restaurando*") }, QDir::Hidden | QDir::Files);
        QVERIFY2(left.isEmpty(), qPrintable(left.join(QLatin1Char(' '))));
        // The window opened again works on the restored register.
        if (restored) {
            qint64 code = 0;
            ContactRecord dora;
            dora.a1 = QStringLiteral("Dora");
            QVERIFY2(startup.mainWindow()->contactRegister()->insert(dora, &code, &error), qPrintable(error));
            QCOMPARE(contactsIn(data.path()), 3);
        }
    }
};

QTEST_MAIN(TestWindowRestore)
#include "TestWindowRestore.moc"
