#include "PostgresServer.h"
#include "core/app/ServerCheck.h"
#include "core/contacts/PostgresConnection.h"
#include "core/contacts/PostgresRegister.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {
const QString Secret = QStringLiteral("S3gr3d0");
} // namespace

// The register's server reached over the internet: TCP with TLS, the
// server's certificate checked against the shop's root certificate and the
// server's name (sslmode=verify-full). A server whose certificate the root
// does not vouch for, or that is named otherwise, is refused in words the
// attendant reads, the password never among them.
class TestServerTls : public QObject
{
    Q_OBJECT

    std::unique_ptr<PostgresServer> m_server;
    QTemporaryDir m_files;
    QString m_url; // the database, on the server's Unix socket

    QString file(const QString &name) const { return m_files.filePath(name); }

    static bool openssl(const QStringList &arguments)
    {
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(QStringLiteral("openssl"), arguments);
        if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
            qWarning("openssl %s: %s", qPrintable(arguments.join(QLatin1Char(' '))), p.readAll().constData());
            return false;
        }
        return true;
    }

    // A certificate authority of its own: ca.key, ca.crt.
    bool makeAuthority(const QString &name) const
    {
        return openssl({ QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
            QStringLiteral("ec"), QStringLiteral("-pkeyopt"), QStringLiteral("ec_paramgen_curve:prime256v1"),
            QStringLiteral("-nodes"), QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"),
            QStringLiteral("/CN=Zuna teste %1").arg(name), QStringLiteral("-keyout"),
            file(name + QStringLiteral(".key")), QStringLiteral("-out"), file(name + QStringLiteral(".crt")) });
    }

    // The server's key and a certificate for `host`, signed by `authority`.
    bool makeServerCertificate(const QString &authority, const QString &host) const
    {
        QFile extensions(file(QStringLiteral("server.ext")));
        if (!extensions.open(QIODevice::WriteOnly)
            || extensions.write(QStringLiteral("subjectAltName=DNS:%1\n").arg(host).toUtf8()) < 0)
            return false;
        extensions.close();
        return openssl({ QStringLiteral("req"), QStringLiteral("-newkey"), QStringLiteral("ec"),
                   QStringLiteral("-pkeyopt"), QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
                   QStringLiteral("-subj"), QStringLiteral("/CN=%1").arg(host), QStringLiteral("-keyout"),
                   file(QStringLiteral("server.key")), QStringLiteral("-out"), file(QStringLiteral("server.csr")) })
            && openssl({ QStringLiteral("x509"), QStringLiteral("-req"), QStringLiteral("-in"),
                file(QStringLiteral("server.csr")), QStringLiteral("-CA"), file(authority + QStringLiteral(".crt")),
                QStringLiteral("-CAkey"), file(authority + QStringLiteral(".key")), QStringLiteral("-CAcreateserial"),
                QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-extfile"),
                file(QStringLiteral("server.ext")), QStringLiteral("-out"), file(QStringLiteral("server.crt")) });
    }

    // The database over TCP with TLS, checked as `sslmode` says, with a
    // password written in (the test server takes anyone; it is there to be
    // kept out of every message).
    QString tlsAddress(const QString &host, const QString &sslmode, const QString &rootCertificate) const
    {
        QString address = QStringLiteral("host=%1 port=%2 dbname=%3 user=postgres password=%4 sslmode=%5")
                              .arg(host)
                              .arg(m_server->tcpPort())
                              .arg(m_url.section(QLatin1Char('/'), 3).section(QLatin1Char('?'), 0, 0), Secret, sslmode);
        if (!rootCertificate.isEmpty())
            address += QStringLiteral(" sslrootcert=") + file(rootCertificate);
        return address;
    }

    // Connections of the program named zuna that use TLS, as the server sees them.
    int zunaConnectionsOverTls() const
    {
        return m_server
            ->value(m_url,
                QStringLiteral("SELECT count(*) FROM pg_stat_ssl s JOIN pg_stat_activity a USING (pid) "
                               "WHERE s.ssl AND a.application_name = 'zuna'"))
            .toInt();
    }

private slots:
    void initTestCase()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("openssl")).isEmpty())
            QSKIP("no openssl program (Debian package openssl; scripts/install-deps.sh --tests installs it)");
        QString why;
        m_server = PostgresServer::startNew(PostgresServer::Durability::Throwaway, &why);
        if (!m_server)
            QSKIP(qPrintable(why));
        QVERIFY(m_files.isValid());
        QVERIFY(makeAuthority(QStringLiteral("ca")));
        QVERIFY(makeAuthority(QStringLiteral("outra")));
        QVERIFY(makeServerCertificate(QStringLiteral("ca"), QStringLiteral("localhost")));
        QVERIFY2(m_server->serveTls(file(QStringLiteral("server.crt")), file(QStringLiteral("server.key")), &why),
            qPrintable(why));
        m_url = m_server->newDatabase();
    }

    void theServersCertificateIsChecked_data()
    {
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("rootCertificate");
        QTest::addColumn<bool>("inHomeFolder"); // ~/.postgresql/root.crt rather than sslrootcert
        QTest::addColumn<bool>("connects");
        QTest::newRow("the shop's root, the certificate's name") << "localhost"
                                                                 << "ca.crt" << false << true;
        QTest::newRow("the shop's root in the home folder") << "localhost"
                                                            << "ca.crt" << true << true;
        QTest::newRow("another authority's root") << "localhost"
                                                  << "outra.crt" << false << false;
        QTest::newRow("another authority's root in the home folder") << "localhost"
                                                                     << "outra.crt" << true << false;
        QTest::newRow("the server named otherwise") << "127.0.0.1"
                                                    << "ca.crt" << false << false;
    }

    void theServersCertificateIsChecked()
    {
        QFETCH(QString, host);
        QFETCH(QString, rootCertificate);
        QFETCH(bool, inHomeFolder);
        QFETCH(bool, connects);
        QTemporaryDir home;
        const QByteArray oldHome = qgetenv("HOME");
        if (inHomeFolder) {
            QVERIFY(QDir(home.path()).mkpath(QStringLiteral(".postgresql")));
            QVERIFY(QFile::copy(file(rootCertificate), home.filePath(QStringLiteral(".postgresql/root.crt"))));
            qputenv("HOME", home.path().toLocal8Bit());
        }
        const QString address
            = tlsAddress(host, QStringLiteral("verify-full"), inHomeFolder ? QString() : rootCertificate);
        QString error;
        qint64 contacts = -1;
        bool opened = false;
        {
            PostgresRegister reg(address);
            opened = reg.connectNow(&error) && reg.count(&contacts, &error);
            if (opened)
                QCOMPARE(zunaConnectionsOverTls(), 1);
        }
        if (inHomeFolder)
            qputenv("HOME", oldHome);
        QCOMPARE(opened, connects);
        if (connects) {
            QCOMPARE(contacts, 0);
            return;
        }
        QVERIFY2(error.startsWith(PostgresConnection::CertificateRefused), qPrintable(error));
        QVERIFY2(!error.contains(QLatin1String("gr3d0")), qPrintable(error));
        // The setup's test of the server says the same.
        if (inHomeFolder)
            qputenv("HOME", home.path().toLocal8Bit());
        const ServerCheck check = ServerCheck::run(address, {});
        if (inHomeFolder)
            qputenv("HOME", oldHome);
        QVERIFY(!check.ok);
        QVERIFY2(check.error.startsWith(PostgresConnection::CertificateRefused), qPrintable(check.error));
        QVERIFY2(!check.error.contains(QLatin1String("gr3d0")), qPrintable(check.error));
    }

    // Without a certificate to check, a server out of reach stays only that:
    // the certificate is not blamed for it.
    void aServerOutOfReachIsNotBlamedOnItsCertificate()
    {
        QString address
            = tlsAddress(QStringLiteral("localhost"), QStringLiteral("verify-full"), QStringLiteral("ca.crt"));
        address.replace(QStringLiteral("port=%1").arg(m_server->tcpPort()), QStringLiteral("port=1"));
        PostgresRegister reg(address);
        QString error;
        QVERIFY(!reg.connectNow(&error));
        QVERIFY2(error.startsWith(PostgresConnection::Unreachable), qPrintable(error));
        QVERIFY2(!error.contains(QLatin1String("gr3d0")), qPrintable(error));
    }

    // Over TCP the server takes TLS connections only: the test is of TLS.
    void aPlainConnectionIsRefused()
    {
        PostgresRegister reg(tlsAddress(QStringLiteral("localhost"), QStringLiteral("disable"), QString()));
        QString error;
        QVERIFY(!reg.connectNow(&error));
    }
};

QTEST_GUILESS_MAIN(TestServerTls)
#include "TestServerTls.moc"
