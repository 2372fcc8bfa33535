#include "TestSupport.h"

#include "core/platform/DateFormat.h"
#include "core/platform/SingleInstance.h"
#include "gui/app/MainWindow.h"
#include "gui/app/Startup.h"
#include "gui/app/StartupWindow.h"
#include "gui/callerid/CallerIdControl.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QTableView>
#include <QTest>

namespace {

class RefusingDateFormat : public DateFormat
{
public:
    RefusingDateFormat() { DateFormat::setInstance(this); }
    ~RefusingDateFormat() override { DateFormat::setInstance(nullptr); }
    bool setShortDateFormat(const QString &format) override
    {
        asked = format;
        return false;
    }
    QString asked;
};

QString text(QWidget *window, const char *name)
{
    if (auto *edit = window->findChild<QLineEdit *>(QLatin1String(name)))
        return edit->text();
    return window->findChild<QLabel *>(QLatin1String(name))->text();
}

} // namespace

class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void titleIsTheLastLineOfTheSiteFile_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("siteName");
        QTest::newRow("one line") << QByteArray("Pizzaria Bella\r\n") << QStringLiteral("Pizzaria Bella");
        QTest::newRow("three lines") << QByteArray("um\r\ndois\r\ntrês\r\n") << QStringLiteral("três");
        QTest::newRow("blank last line") << QByteArray("Loja\r\n\r\n") << QString();
        QTest::newRow("no final break") << QByteArray("um\ndois") << QStringLiteral("dois");
        QTest::newRow("LF") << QByteArray("um\ndois\n") << QStringLiteral("dois");
        QTest::newRow("CR only") << QByteArray("um\rdois\r") << QStringLiteral("dois");
        QTest::newRow("blanks kept") << QByteArray("  Clínica  \n") << QStringLiteral("  Clínica  ");
        QTest::newRow("Windows-1252") << QByteArray("Padaria S\xe3o Jo\xe3o \x80\r\n")
                                      << QStringLiteral("Padaria São João €");
    }
    void titleIsTheLastLineOfTheSiteFile()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, siteName);
        DataFolderFixture data;
        data.writeSite(bytes);
        Startup startup(data.path());
        QCOMPARE(startup.start(), Startup::Outcome::Running);
        QCOMPARE(startup.mainWindow()->windowTitle(), QStringLiteral("Atendimento ZUNA - ") + siteName);
        QCOMPARE(text(startup.mainWindow(), "SITE"), siteName);
    }

    void anEmptySiteFileGivesItsPath()
    {
        DataFolderFixture data;
        data.writeSite({});
        Startup startup(data.path());
        QCOMPARE(startup.start(), Startup::Outcome::Running);
        QCOMPARE(startup.mainWindow()->windowTitle(),
            QStringLiteral("Atendimento ZUNA - ") + QDir(data.path()).absoluteFilePath(QStringLiteral("site.txt")));
    }

    void normalStartFillsTheWindow()
    {
        DataFolderFixture data;
        data.exec(QStringLiteral("ddd.sqlite"), QStringLiteral("UPDATE a1 SET a1 = '21'"));
        data.addContact(data.contact(QStringLiteral("Bia")));
        data.addContact(data.contact(QStringLiteral("Ana")));
        RecordingMessageBoxes boxes;
        Startup startup(data.path());
        QCOMPARE(startup.start(), Startup::Outcome::Running);
        MainWindow *w = startup.mainWindow();
        QVERIFY(w->isVisible());
        QVERIFY(!startup.startupWindow());
        QCOMPARE(text(w, "NXR"), QStringLiteral("2"));
        QCOMPARE(text(w, "Text11"), QStringLiteral("21"));
        auto *grid = w->findChild<QTableView *>(QStringLiteral("DBGrid1"));
        QCOMPARE(grid->model()->rowCount(), 2);
        QCOMPARE(grid->model()->index(0, 1).data().toString(), QStringLiteral("Ana"));
        QVERIFY(QTest::qWaitForWindowActive(w));
        QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("Text1"));
        QVERIFY(!w->callerId()->isActive());
        QCOMPARE(QLocale().dateFormat(QLocale::ShortFormat), QStringLiteral("dd/MM/yyyy"));
        QVERIFY(boxes.shown.isEmpty());
    }

    void anEmptyRegisterShowsZero()
    {
        DataFolderFixture data;
        Startup startup(data.path());
        QCOMPARE(startup.start(), Startup::Outcome::Running);
        QCOMPARE(text(startup.mainWindow(), "NXR"), QStringLiteral("0"));
        QCOMPARE(startup.mainWindow()->findChild<QTableView *>(QStringLiteral("DBGrid1"))->model()->rowCount(), 0);
    }

    void filesAreFoundInAnyLetterCase()
    {
        DataFolderFixture data;
        data.addContact({});
        QVERIFY(QFile::rename(data.file(QStringLiteral("cada.sqlite")), data.file(QStringLiteral("CADA.SQLITE"))));
        QVERIFY(QFile::rename(data.file(QStringLiteral("ddd.sqlite")), data.file(QStringLiteral("Ddd.Sqlite"))));
        QVERIFY(QFile::rename(data.file(QStringLiteral("site.txt")), data.file(QStringLiteral("SITE.TXT"))));
        Startup startup(data.path());
        QCOMPARE(startup.start(), Startup::Outcome::Running);
        QCOMPARE(text(startup.mainWindow(), "NXR"), QStringLiteral("1"));
        QCOMPARE(startup.mainWindow()->windowTitle(), QStringLiteral("Atendimento ZUNA - Minha empresa"));
    }

    void aFailedStepStopsTheStartAndChangesNothing_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("damage");
        QTest::addColumn<QString>("expected");
        QTest::newRow("site.txt missing") << "site.txt"
                                          << "remove"
                                          << "zuna --init";
        QTest::newRow("site.txt is a folder") << "site.txt"
                                              << "folder"
                                              << "nome do local";
        QTest::newRow("register missing") << "cada.sqlite"
                                          << "remove"
                                          << "zuna --init";
        QTest::newRow("register is text") << "cada.sqlite"
                                          << "text"
                                          << "cadastro de contatos";
        QTest::newRow("register is empty") << "cada.sqlite"
                                           << "empty"
                                           << "tabela de contatos CADA";
        QTest::newRow("register without CADA") << "cada.sqlite"
                                               << "DROP TABLE CADA"
                                               << "tabela de contatos CADA";
        QTest::newRow("area code missing") << "ddd.sqlite"
                                           << "remove"
                                           << "zuna --init";
        QTest::newRow("area code is text") << "ddd.sqlite"
                                           << "text"
                                           << "DDD local";
        QTest::newRow("area code without a1") << "ddd.sqlite"
                                              << "DROP TABLE a1"
                                              << "tabela a1";
        QTest::newRow("area code without row") << "ddd.sqlite"
                                               << "DELETE FROM a1"
                                               << "nenhuma linha";
        QTest::newRow("area code NULL") << "ddd.sqlite"
                                        << "UPDATE a1 SET a1 = NULL"
                                        << "NULL";
    }
    void aFailedStepStopsTheStartAndChangesNothing()
    {
        QFETCH(QString, file);
        QFETCH(QString, damage);
        QFETCH(QString, expected);
        DataFolderFixture data;
        const QString path = data.file(file);
        if (damage == QLatin1String("remove") || damage == QLatin1String("folder")) {
            QVERIFY(QFile::remove(path));
            if (damage == QLatin1String("folder"))
                QVERIFY(QDir().mkdir(path));
        } else if (damage == QLatin1String("text") || damage == QLatin1String("empty")) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            if (damage == QLatin1String("text"))
                f.write(QByteArray("Nome;Telefone\nAna;1133334444\n").repeated(50));
        } else {
            data.exec(file, damage);
        }
        const auto before = data.snapshot();

        RecordingMessageBoxes boxes;
        Startup startup(data.path());
        QCOMPARE(startup.start(), Startup::Outcome::Failed);
        QVERIFY(!startup.mainWindow());
        QVERIFY(!startup.startupWindow());
        QVERIFY(QApplication::topLevelWidgets().isEmpty()
            || std::none_of(QApplication::topLevelWidgets().cbegin(), QApplication::topLevelWidgets().cend(),
                [](QWidget *w) { return w->isVisible(); }));
        QCOMPARE(boxes.shown.size(), 1);
        QCOMPARE(boxes.shown.first().title, QStringLiteral("Erro"));
        QVERIFY2(boxes.shown.first().text.contains(expected), qPrintable(boxes.shown.first().text));
        QVERIFY2(boxes.shown.first().text.contains(file), qPrintable(boxes.shown.first().text));
        QCOMPARE(Startup::exitStatus(Startup::Outcome::Failed, 0), 1);
        QCOMPARE(data.snapshot(), before);
    }

    void aMissingDataFolderIsNotCreated()
    {
        QTemporaryDir parent;
        const QString missing = QDir(parent.path()).filePath(QStringLiteral("zuna"));
        RecordingMessageBoxes boxes;
        Startup startup(missing);
        QCOMPARE(startup.start(), Startup::Outcome::Failed);
        QCOMPARE(boxes.shown.size(), 1);
        QVERIFY(boxes.shown.first().text.contains(QLatin1String("zuna --init")));
        QVERIFY(!QFileInfo::exists(missing));
    }

    void aSecondCopyShowsOnlyTheEmptyStartupWindow()
    {
        DataFolderFixture data;
        SingleInstance first(data.path());
        QString error;
        QCOMPARE(first.tryAcquire(&error), SingleInstance::Result::Acquired);
        RecordingMessageBoxes boxes;
        Startup second(data.path());
        QCOMPARE(second.start(), Startup::Outcome::SecondCopy);
        QVERIFY(!second.mainWindow());
        StartupWindow *veri = second.startupWindow();
        QVERIFY(veri->isVisible());
        QCOMPARE(veri->windowTitle(), QString());
        QCOMPARE(veri->text2()->text(), QString());
        QVERIFY(boxes.shown.isEmpty());
        QCOMPARE(Startup::exitStatus(Startup::Outcome::SecondCopy, 0), 0);
    }

    void aRegisterOthersCanReadIsReportedWithTheFix()
    {
        DataFolderFixture data;
        {
            RecordingMessageBoxes boxes;
            Startup startup(data.path());
            QCOMPARE(startup.start(), Startup::Outcome::Running);
            QVERIFY(boxes.shown.isEmpty()); // made private by --init
        }
        QFile::setPermissions(data.file(QStringLiteral("cada.sqlite")),
            QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
        RecordingMessageBoxes boxes;
        Startup startup(data.path());
        QCOMPARE(startup.start(), Startup::Outcome::Running);
        QCOMPARE(boxes.shown.size(), 1);
        QVERIFY(boxes.shown.first().text.contains(data.file(QStringLiteral("cada.sqlite"))));
        QVERIFY(boxes.shown.first().text.contains(QLatin1String("chmod 600")));
    }

    void aRefusedDateFormatStopsBeforeTheMainWindow()
    {
        DataFolderFixture data;
        RefusingDateFormat refusing;
        RecordingMessageBoxes boxes;
        Startup startup(data.path());
        QCOMPARE(startup.start(), Startup::Outcome::DateFormatFailed);
        QCOMPARE(refusing.asked, QStringLiteral("dd/MM/yyyy"));
        QVERIFY(!startup.mainWindow());
        QCOMPARE(boxes.shown.size(), 1);
        QCOMPARE(boxes.shown.first().text, QStringLiteral("Erro na opção de configuração de data."));
        QCOMPARE(boxes.shown.first().title, QStringLiteral("Erro"));
        QCOMPARE(boxes.shown.first().icon, MessageBoxes::Icon::Information);
        QVERIFY(startup.startupWindow()->isVisible());
        QCOMPARE(startup.startupWindow()->text2()->text(), QStringLiteral("dd/MM/yyyy"));
        QVERIFY(Startup::exitStatus(Startup::Outcome::DateFormatFailed, 0) != 0);
    }

    void theLockIsFreedWhenTheCopyEnds()
    {
        DataFolderFixture data;
        {
            Startup first(data.path());
            QCOMPARE(first.start(), Startup::Outcome::Running);
        }
        Startup again(data.path());
        QCOMPARE(again.start(), Startup::Outcome::Running);
    }
};

QTEST_MAIN(TestStartup)
#include "TestStartup.moc"
