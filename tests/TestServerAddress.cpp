#include "TestSupport.h"

#include "PostgresServer.h"
#include "core/app/DataInit.h"
#include "core/contacts/PostgresRegister.h"
#include "core/platform/DataFiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <QUrlQuery>

namespace {
const QString Secret = QStringLiteral("S3gr3d0");
} // namespace

// The register's server as the attendant names it: read by libpq, in every
// form libpq takes, and its password never shown, printed or written down.
class TestServerAddress : public QObject
{
    Q_OBJECT

    PostgresServer *m_server = nullptr;

    static bool holdsSecret(const QString &text)
    {
        return text.contains(QLatin1String("gr3d0")) || text.contains(QLatin1String("gr%33d0"));
    }

    // The test server's database `url` written in the form `form`, with the
    // password.
    static QString withPassword(const QString &url, const QString &form)
    {
        const QUrl parsed(url);
        const QUrlQuery query(parsed);
        if (form == QLatin1String("userinfo"))
            return QString(url).replace(QStringLiteral("postgresql:///"),
                QStringLiteral("postgresql://%1:%2@/").arg(query.queryItemValue(QStringLiteral("user")), Secret));
        if (form == QLatin1String("query"))
            return url + QStringLiteral("&password=") + Secret;
        return QStringLiteral("host=%1 port=%2 user = %3 dbname=%4 password = %5")
            .arg(query.queryItemValue(QStringLiteral("host")), query.queryItemValue(QStringLiteral("port")),
                query.queryItemValue(QStringLiteral("user")), parsed.path().mid(1), Secret);
    }

private slots:
    void initTestCase()
    {
        QString why;
        m_server = PostgresServer::shared(&why);
        if (!m_server)
            QSKIP(qPrintable(why));
    }

    void aPasswordIsNeverShown_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("readable");
        QTest::newRow("in the user part") << "postgresql://zuna:S3gr3d0@/zuna?host=%1" << true;
        QTest::newRow("percent-encoded") << "postgres://zuna:S3gr%33d0@/zuna?host=%1" << true;
        QTest::newRow("as a URI parameter") << "postgresql://zuna@/zuna?host=%1&password=S3gr3d0" << true;
        QTest::newRow("key=value") << "host=%1 dbname=zuna password=S3gr3d0" << true;
        QTest::newRow("key = value") << "host=%1 dbname=zuna password = S3gr3d0" << true;
        QTest::newRow("quoted, with a space") << "host=%1 dbname=zuna password='S3gr3d0 x'" << true;
        QTest::newRow("not libpq's") << "host=%1 dbname=zuna S3gr3d0" << false;
    }
    void aPasswordIsNeverShown()
    {
        QFETCH(QString, address);
        QFETCH(bool, readable);
        const QString server = address.arg(QStringLiteral("/nonexistent"));
        const QString shown = PostgresRegister::shown(server);
        QVERIFY2(!holdsSecret(shown), qPrintable(shown));
        if (readable)
            QVERIFY2(shown.contains(QLatin1String("/nonexistent")), qPrintable(shown));
        QString error;
        QVERIFY(!Register::open(QString(), server, Register::Patience::Window, &error));
        QVERIFY2(!holdsSecret(error), qPrintable(error));
        if (readable)
            QVERIFY2(error.startsWith(QStringLiteral("Sem conexão com o servidor do cadastro.")), qPrintable(error));
    }

    void theFolderAndEveryAdviceKeepThePasswordOut_data()
    {
        QTest::addColumn<QString>("form");
        for (const char *form : { "userinfo", "query", "key=value" })
            QTest::newRow(form) << QString::fromLatin1(form);
    }
    void theFolderAndEveryAdviceKeepThePasswordOut()
    {
        QFETCH(QString, form);
        // A database without the register: the message says how to make it.
        const QString server = withPassword(m_server->newDatabase(false), form);
        QString error;
        QVERIFY(!Register::open(QString(), server, Register::Patience::Window, &error));
        QVERIFY2(error.contains(QLatin1String("zuna --init --database")), qPrintable(error));
        QVERIFY2(!holdsSecret(error), qPrintable(error));

        // zuna --init --database: the folder names the server without the
        // password, says where the password goes, and opens with it (the
        // test server trusts its users).
        QTemporaryDir dir;
        QStringList report;
        QVERIFY2(DataInit::initDataFolder(dir.path(), QString(), &report, &error, QStringLiteral("11"), server),
            qPrintable(error));
        const QString said = report.join(QLatin1Char('\n'));
        QVERIFY2(!holdsSecret(said), qPrintable(said));
        QVERIFY2(said.contains(QLatin1String("~/.pgpass")), qPrintable(said));
        QFile ini(QDir(dir.path()).filePath(DataFiles::RegisterSettings));
        QVERIFY(ini.open(QIODevice::ReadOnly));
        const QString written = QString::fromUtf8(ini.readAll());
        QVERIFY2(!holdsSecret(written), qPrintable(written));
        QVERIFY2(Register::open(dir.path(), QString(), Register::Patience::Window, &error), qPrintable(error));

        // zuna --copy-register: the report and the advice that follows it.
        DataFolderFixture desk;
        report.clear();
        QVERIFY2(DataInit::copyRegister(desk.path(), withPassword(m_server->newDatabase(false), form), &report, &error),
            qPrintable(error));
        const QString advice = report.join(QLatin1Char('\n'));
        QVERIFY2(advice.contains(QLatin1String("zuna --init")), qPrintable(advice));
        QVERIFY2(!holdsSecret(advice), qPrintable(advice));
    }
};

QTEST_GUILESS_MAIN(TestServerAddress)
#include "TestServerAddress.moc"
