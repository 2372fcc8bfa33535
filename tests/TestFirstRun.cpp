#include "PostgresServer.h"
#include "TestSupport.h"

#include "core/callerid/CallerIdSettings.h"
#include "core/contacts/Register.h"
#include "gui/app/FirstRunAssistant.h"
#include "gui/app/MainWindow.h"
#include "gui/app/Startup.h"
#include "gui/callerid/CallerIdSetupDialog.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

QString fixture(const char *name)
{
    return QStringLiteral(ZUNA_FIXTURES_DIR "/access/") + QLatin1String(name);
}

// Every entry under `dir`, hidden ones too: what a run left behind.
QStringList entriesUnder(const QString &dir)
{
    QStringList entries;
    QDirIterator it(
        dir, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        entries << it.next();
    return entries;
}

// The assistant, answered page by page as the attendant would.
class Assistant
{
public:
    explicit Assistant(const QString &dataDir)
        : wizard(dataDir, QStringLiteral(ZUNA_BINARY))
    {
        wizard.show();
    }

    template <class W> W *field(const char *name) const
    {
        W *w = wizard.findChild<W *>(QLatin1String(name));
        if (!w)
            qFatal("no field %s", name);
        return w;
    }
    // Next (or Finish on the last page): whether the assistant moved on.
    bool next()
    {
        const int before = wizard.currentId();
        if (before == FirstRunAssistant::LinePage) {
            wizard.accept();
            return wizard.result() == QDialog::Accepted;
        }
        wizard.next();
        return wizard.currentId() != before;
    }
    QString problem() const
    {
        const auto *label = wizard.currentPage()->findChild<QLabel *>(QStringLiteral("problema"));
        return label && label->isVisibleTo(wizard.currentPage()) ? label->text() : QString();
    }
    // Site and area code answered; on the register's page.
    void answerSiteAndAreaCode(const QString &site, const QString &areaCode)
    {
        field<QLineEdit>("local")->setText(site);
        QVERIFY(next());
        field<QLineEdit>("ddd")->setText(areaCode);
        QVERIFY(next());
        QCOMPARE(wizard.currentId(), int(FirstRunAssistant::RegisterPage));
    }

    FirstRunAssistant wizard;
};

qint64 contactCount(const QString &dataDir)
{
    QString error;
    const auto reg = Register::open(dataDir, {}, Register::Patience::Background, &error);
    qint64 count = -1;
    if (!reg || !reg->count(&count, &error))
        qWarning("%s", qPrintable(error));
    return count;
}

} // namespace

class TestFirstRun : public QObject
{
    Q_OBJECT

private slots:
    // A new register here: the folder is made with the answers, private,
    // and the real window starts on it with the site's name and area code.
    void aNewRegisterMakesAFolderTheWindowStartsOn()
    {
        QTemporaryDir home;
        const QString dataDir = home.filePath(QStringLiteral(".local/share/zuna")); // parents missing too
        Assistant a(dataDir);
        a.answerSiteAndAreaCode(QStringLiteral("Pizzaria São João"), QStringLiteral("21"));
        a.field<QAbstractButton>("cadastroNovo")->click();
        QVERIFY(a.next());
        QVERIFY(a.field<QLabel>("fonteEscolhida")->text().contains(QLatin1String("placa de som")));
        QVERIFY(a.next());

        QCOMPARE(QFile(dataDir).permissions() & (QFile::ReadGroup | QFile::ReadOther), QFile::Permissions());
        for (const char *name : { "cada.sqlite", "ddd.sqlite", "site.txt", "callerid.ini" })
            QVERIFY2(QFile::exists(QDir(dataDir).filePath(QLatin1String(name))), name);
        QCOMPARE(CallerIdSettings::load(dataDir).a2DDDLocal, QStringLiteral("21"));
        QCOMPARE(contactCount(dataDir), 0);
        QVERIFY(!entriesUnder(home.path()).join(QLatin1Char('\n')).contains(QLatin1String(".zuna-nova")));

        RecordingMessageBoxes boxes;
        Startup startup(dataDir);
        QCOMPARE(startup.start(), Startup::Outcome::Running);
        QCOMPARE(startup.mainWindow()->windowTitle(), QStringLiteral("Atendimento ZUNA - Pizzaria São João"));
        QCOMPARE(startup.mainWindow()->findChild<QLineEdit *>(QStringLiteral("Text11"))->text(), QStringLiteral("21"));
    }

    // The old platform's files, picked wherever they are and however they
    // are named: every contact comes over, the files are only read.
    void anAccessRegisterIsBroughtOver()
    {
        QTemporaryDir old;
        const QString cada = old.filePath(QStringLiteral("cada.mdb"));
        QVERIFY(QFile::copy(fixture("CADA.MDB"), cada));
        QVERIFY(QFile::copy(fixture("ddd.MDB"), old.filePath(QStringLiteral("DDD.MDB"))));
        const QStringList oldBefore = entriesUnder(old.path());
        QTemporaryDir home;
        const QString dataDir = home.filePath(QStringLiteral("zuna"));

        Assistant a(dataDir);
        a.answerSiteAndAreaCode(QStringLiteral("Clínica"), QStringLiteral("11"));
        a.field<QAbstractButton>("cadastroAccess")->click();
        a.field<QLineEdit>("arquivoAccess")->setText(cada);
        QVERIFY(a.field<QLabel>("dddAccess")->text().contains(QLatin1String("DDD.MDB")));
        QVERIFY(a.next());
        QVERIFY(a.next());
        QVERIFY(a.wizard.report().join(QLatin1Char('\n')).contains(QLatin1String("12 contatos importados")));
        QCOMPARE(contactCount(dataDir), 12);
        QCOMPARE(entriesUnder(old.path()), oldBefore);
        QCOMPARE(QDir(dataDir).entryList(QStringList { QStringLiteral("*.mdb") }, QDir::Files), QStringList());
        QFile copy(cada);
        QFile original(fixture("CADA.MDB"));
        QVERIFY(copy.open(QIODevice::ReadOnly) && original.open(QIODevice::ReadOnly));
        QCOMPARE(copy.readAll(), original.readAll());
    }

    // A damaged Access file is refused with the import's own checks: the
    // assistant stays open saying why, and nothing is made.
    void aDamagedAccessFileLeavesNothing()
    {
        QTemporaryDir old;
        const QString cada = old.filePath(QStringLiteral("CADA.MDB"));
        QFile source(fixture("CADA.MDB"));
        QVERIFY(source.open(QIODevice::ReadOnly));
        QFile truncated(cada);
        QVERIFY(truncated.open(QIODevice::WriteOnly));
        truncated.write(source.read(source.size() / 2 + 100)); // not whole pages
        truncated.close();
        QTemporaryDir home;
        const QString dataDir = home.filePath(QStringLiteral("a/b/zuna"));

        Assistant a(dataDir);
        a.answerSiteAndAreaCode(QStringLiteral("Loja"), QStringLiteral("11"));
        a.field<QAbstractButton>("cadastroAccess")->click();
        a.field<QLineEdit>("arquivoAccess")->setText(cada);
        QVERIFY(a.next());
        QVERIFY(!a.next());
        QVERIFY(a.wizard.isVisible());
        QVERIFY2(a.problem().contains(QLatin1String("nada foi criado")), qPrintable(a.problem()));
        QCOMPARE(entriesUnder(home.path()), QStringList());
    }

    // Answers the assistant does not take: it stays on the page and says why.
    void wrongAnswersAreRefusedOnTheirPage_data()
    {
        QTest::addColumn<QString>("site");
        QTest::addColumn<QString>("areaCode");
        QTest::addColumn<QString>("accessFile"); // "-": the new register
        QTest::addColumn<int>("refusedOn");
        QTest::newRow("no site name") << "  "
                                      << "11"
                                      << "-" << int(FirstRunAssistant::SitePage);
        QTest::newRow("no area code") << "Loja"
                                      << ""
                                      << "-" << int(FirstRunAssistant::AreaCodePage);
        QTest::newRow("one digit") << "Loja"
                                   << "1"
                                   << "-" << int(FirstRunAssistant::AreaCodePage);
        QTest::newRow("no such area") << "Loja"
                                      << "20"
                                      << "-" << int(FirstRunAssistant::AreaCodePage);
        QTest::newRow("Access, no file chosen") << "Loja"
                                                << "11"
                                                << "" << int(FirstRunAssistant::RegisterPage);
        QTest::newRow("Access, a folder") << "Loja"
                                          << "11"
                                          << "/tmp" << int(FirstRunAssistant::RegisterPage);
    }
    void wrongAnswersAreRefusedOnTheirPage()
    {
        QFETCH(QString, site);
        QFETCH(QString, areaCode);
        QFETCH(QString, accessFile);
        QFETCH(int, refusedOn);
        QTemporaryDir home;
        Assistant a(home.filePath(QStringLiteral("zuna")));
        a.field<QLineEdit>("local")->setText(site);
        a.field<QLineEdit>("ddd")->setText(areaCode);
        if (accessFile != QLatin1String("-")) {
            a.field<QAbstractButton>("cadastroAccess")->click();
            a.field<QLineEdit>("arquivoAccess")->setText(accessFile);
        }
        while (a.wizard.currentId() < refusedOn)
            QVERIFY(a.next());
        QVERIFY(!a.next());
        QCOMPARE(a.wizard.currentId(), refusedOn);
        QVERIFY(!a.problem().isEmpty());
        QCOMPARE(entriesUnder(home.path()), QStringList());
    }

    // The line is chosen on the configuration screen, with its checks; the
    // choice goes into the new folder, with the area code.
    void theLineChosenGoesIntoTheFolder()
    {
        QTemporaryDir home;
        const QString dataDir = home.filePath(QStringLiteral("zuna"));
        Assistant a(dataDir);
        a.answerSiteAndAreaCode(QStringLiteral("Loja"), QStringLiteral("31"));
        QVERIFY(a.next());
        bool answered = false;
        QTimer::singleShot(0, this, [&] {
            auto *setup = qobject_cast<CallerIdSetupDialog *>(QApplication::activeModalWidget());
            QVERIFY(setup);
            QCOMPARE(setup->findChild<QLineEdit *>(QStringLiteral("ddd"))->text(), QStringLiteral("31"));
            setup->findChild<QComboBox *>(QStringLiteral("fonte"))->setCurrentIndex(3); // NCID
            setup->accept();
            answered = true;
        });
        a.field<QAbstractButton>("configurarLinha")->click();
        QVERIFY(answered);
        QVERIFY(a.field<QLabel>("fonteEscolhida")->text().contains(QLatin1String("NCID")));
        QVERIFY(a.next());
        const CallerIdSettings line = CallerIdSettings::load(dataDir);
        QCOMPARE(line.source, CallerIdSettings::Source::Ncid);
        QCOMPARE(line.a2DDDLocal, QStringLiteral("31"));
    }

    // A shared register on a real server, tried on the spot: a register
    // already there is used with its area code, an empty database gets one,
    // and a password goes into libpq's password file, for its owner alone.
    void aSharedServerIsJoined_data()
    {
        QTest::addColumn<bool>("registerThere");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("areaCode"); // the window's, afterwards
        QTest::newRow("a register with its area code") << true << ""
                                                       << "21";
        QTest::newRow("an empty database") << false << ""
                                           << "11";
        QTest::newRow("with a password") << true << "s3:nh\\a"
                                         << "21";
    }
    void aSharedServerIsJoined()
    {
        QFETCH(bool, registerThere);
        QFETCH(QString, password);
        QFETCH(QString, areaCode);
        QString why;
        PostgresServer *server = PostgresServer::shared(&why);
        if (!server)
            QSKIP(qPrintable(why));
        const QString url = server->newDatabase(registerThere);
        if (registerThere)
            server->exec(url, QStringLiteral("UPDATE a1 SET a1 = '21'"));
        QTemporaryDir home;
        const QString passFile = home.filePath(QStringLiteral("pgpass"));
        qputenv("PGPASSFILE", passFile.toUtf8());
        const QString dataDir = home.filePath(QStringLiteral("zuna"));

        Assistant a(dataDir);
        a.answerSiteAndAreaCode(QStringLiteral("Loja"), QStringLiteral("11"));
        a.field<QAbstractButton>("cadastroServidor")->click();
        a.field<QLineEdit>("servidor")->setText(url);
        a.field<QLineEdit>("senha")->setText(password);
        a.field<QAbstractButton>("testarServidor")->click();
        const QString found = a.field<QLabel>("resultadoServidor")->text();
        QVERIFY2(found.startsWith(QLatin1String("Conectado")), qPrintable(found));
        QCOMPARE(found.contains(QStringLiteral("será criado")), !registerThere);
        QVERIFY(a.next());
        QVERIFY(!QFile::exists(passFile)); // nothing written before Finish
        QVERIFY(a.next());

        QCOMPARE(QSettings(QDir(dataDir).filePath(QStringLiteral("registro.ini")), QSettings::IniFormat)
                     .value(Register::ServerKey)
                     .toString(),
            url);
        QVERIFY(!QFile::exists(QDir(dataDir).filePath(QStringLiteral("cada.sqlite"))));
        if (password.isEmpty()) {
            QVERIFY(!QFile::exists(passFile));
        } else {
            QFile file(passFile);
            QCOMPARE(file.permissions() & ~(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser),
                QFile::Permissions());
            QVERIFY(file.open(QIODevice::ReadOnly));
            const QString line = QString::fromUtf8(file.readAll()).trimmed();
            QVERIFY2(line.startsWith(QLatin1String("localhost:")), qPrintable(line));
            QVERIFY2(line.endsWith(QLatin1String(":s3\\:nh\\\\a")), qPrintable(line));
        }
        qunsetenv("PGPASSFILE");
        RecordingMessageBoxes boxes;
        Startup startup(dataDir);
        QCOMPARE(startup.start(), Startup::Outcome::Running);
        QCOMPARE(startup.mainWindow()->findChild<QLineEdit *>(QStringLiteral("Text11"))->text(), areaCode);
    }

    // A server that does not answer is said so, in Portuguese, on its page;
    // nothing is made and no password kept.
    void aServerThatCannotBeReachedIsRefusedOnTheSpot()
    {
        QTemporaryDir home;
        const QString passFile = home.filePath(QStringLiteral("pgpass"));
        qputenv("PGPASSFILE", passFile.toUtf8());
        Assistant a(home.filePath(QStringLiteral("zuna")));
        a.answerSiteAndAreaCode(QStringLiteral("Loja"), QStringLiteral("11"));
        a.field<QAbstractButton>("cadastroServidor")->click();
        a.field<QLineEdit>("servidor")
            ->setText(QStringLiteral("postgresql:///zuna?host=%1").arg(home.filePath(QStringLiteral("sem-servidor"))));
        a.field<QLineEdit>("senha")->setText(QStringLiteral("segredo"));
        QVERIFY(!a.next());
        const QString said = a.field<QLabel>("resultadoServidor")->text();
        QVERIFY2(said.startsWith(QStringLiteral("Não foi possível conectar")), qPrintable(said));
        QVERIFY(!said.contains(QLatin1String("segredo")));
        QVERIFY(!a.problem().isEmpty());
        a.wizard.reject();
        qunsetenv("PGPASSFILE");
        QCOMPARE(entriesUnder(home.path()), QStringList());
    }

    // Cancel while the folder is being made (an Access import running, a
    // password already in libpq's file): the assistant closes and nothing
    // of it stays, and a password file that was there is as it was.
    void cancelWhileTheFolderIsMadeLeavesNothing_data()
    {
        QTest::addColumn<bool>("server");
        QTest::addColumn<bool>("byTheWindow"); // closed, rather than the progress's Cancel
        QTest::newRow("an Access import") << false << false;
        QTest::newRow("an Access import, the window closed") << false << true;
        QTest::newRow("a shared server with a password") << true << false;
    }
    void cancelWhileTheFolderIsMadeLeavesNothing()
    {
        QFETCH(bool, server);
        QFETCH(bool, byTheWindow);
        QTemporaryDir home;
        const QString dataDir = home.filePath(QStringLiteral("a/zuna"));
        const QString passFile = home.filePath(QStringLiteral("pgpass"));
        const QByteArray otherPassword = "outro:5432:*:ana:antiga\n";
        {
            QFile file(passFile);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(otherPassword);
            QVERIFY(file.setPermissions(QFile::ReadOwner | QFile::WriteOwner));
        }
        qputenv("PGPASSFILE", passFile.toUtf8());
        QTemporaryDir old;
        const QString cada = old.filePath(QStringLiteral("CADA.MDB"));
        QVERIFY(QFile::copy(fixture("CADA.MDB"), cada));

        Assistant a(dataDir);
        a.answerSiteAndAreaCode(QStringLiteral("Loja"), QStringLiteral("11"));
        if (server) {
            QString why;
            PostgresServer *postgres = PostgresServer::shared(&why);
            if (!postgres)
                QSKIP(qPrintable(why));
            a.field<QAbstractButton>("cadastroServidor")->click();
            a.field<QLineEdit>("servidor")->setText(postgres->newDatabase(true));
            a.field<QLineEdit>("senha")->setText(QStringLiteral("nova"));
        } else {
            a.field<QAbstractButton>("cadastroAccess")->click();
            a.field<QLineEdit>("arquivoAccess")->setText(cada);
        }
        QVERIFY(a.next());
        // Cancel as soon as the progress shows, the work under way.
        bool cancelled = false;
        QTimer cancel;
        connect(&cancel, &QTimer::timeout, this, [&] {
            auto *progress = a.wizard.findChild<QProgressDialog *>(QStringLiteral("progresso"));
            if (!progress || !progress->isVisible())
                return;
            cancel.stop();
            cancelled = true;
            if (byTheWindow) {
                QVERIFY(!a.wizard.close()); // kept open until the work stops
                return;
            }
            auto *button = progress->findChild<QPushButton *>();
            QVERIFY2(button && button->isVisible(), "the progress has a Cancel button");
            button->click();
        });
        cancel.start(0);
        QVERIFY(!a.next());
        QVERIFY(cancelled);
        QCOMPARE(a.wizard.result(), int(QDialog::Rejected));
        QVERIFY(!a.wizard.isVisible());
        qunsetenv("PGPASSFILE");
        QCOMPARE(entriesUnder(home.path()), QStringList { passFile });
        QFile file(passFile);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), otherPassword);
    }

    // Cancel, wherever it comes, leaves nothing: not the folder, not its
    // parents, not the line's settings.
    void cancelLeavesNothing()
    {
        QTemporaryDir home;
        Assistant a(home.filePath(QStringLiteral("a/zuna")));
        a.answerSiteAndAreaCode(QStringLiteral("Loja"), QStringLiteral("11"));
        QVERIFY(a.next());
        QTimer::singleShot(0, this, [] {
            if (auto *setup = qobject_cast<CallerIdSetupDialog *>(QApplication::activeModalWidget()))
                setup->accept();
        });
        a.field<QAbstractButton>("configurarLinha")->click();
        a.wizard.reject();
        QCOMPARE(a.wizard.result(), int(QDialog::Rejected));
        QCOMPARE(entriesUnder(home.path()), QStringList());
    }
};

QTEST_MAIN(TestFirstRun)
#include "TestFirstRun.moc"
