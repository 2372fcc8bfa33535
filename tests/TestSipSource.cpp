#include "BaresipPhone.h"
#include "KamailioServer.h"
#include "SipTestAccount.h"
#include "TestSupport.h"

#include "core/callerid/sources/SipAddress.h"
#include "core/callerid/sources/SipCaller.h"
#include "core/callerid/sources/SipRingPlaces.h"
#include "core/callerid/sources/SipSource.h"

#include <QFile>
#include <QLoggingCategory>
#include <QMutex>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>

namespace {

constexpr QByteArrayView Password = SipTestAccount::Password;

// What the SIP source sent and received, from its "zuna.sip" log.
QMutex trafficLock;
QStringList traffic;
QtMessageHandler previousHandler = nullptr;

void recordTraffic(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (context.category && QByteArrayView(context.category) == "zuna.sip") {
        const QMutexLocker lock(&trafficLock);
        traffic.append(message);
        return;
    }
    previousHandler(type, context, message);
}

QStringList sent()
{
    const QMutexLocker lock(&trafficLock);
    QStringList result;
    for (const QString &m : std::as_const(traffic)) {
        if (m.startsWith(QLatin1String("enviado")))
            result.append(m);
    }
    return result;
}

bool sentResponse(const QString &status)
{
    const QStringList all = sent();
    return std::any_of(all.begin(), all.end(), [&](const QString &m) { return m.contains(status); });
}

// An answer to an INVITE that would take the call.
bool answeredACall()
{
    const QStringList all = sent();
    return std::any_of(all.begin(), all.end(), [](const QString &m) {
        return m.contains(QLatin1String("SIP/2.0 2"))
            && m.contains(QRegularExpression(QStringLiteral("CSeq: *\\d+ INVITE")));
    });
}

} // namespace

class TestSipSource : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    SipTestAccount m_sip;

private slots:
    void initTestCase()
    {
        previousHandler = qInstallMessageHandler(recordTraffic);
        QLoggingCategory::setFilterRules(QStringLiteral("zuna.sip.debug=true"));
        QVERIFY(m_sip.writePasswordFile(m_dir.path()));
    }

    void init()
    {
        const QMutexLocker lock(&trafficLock);
        traffic.clear();
    }

    // --- who is calling, from the INVITE's headers ---

    void theCallerIsReadFromTheRequest_data()
    {
        QTest::addColumn<QByteArray>("asserted");
        QTest::addColumn<QByteArray>("partyId");
        QTest::addColumn<QByteArray>("from");
        QTest::addColumn<QByteArray>("privacy");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("number");
        QTest::addColumn<QString>("name");
        using K = CallerIdMessage::Kind;
        const QByteArray from = "\"Ana Souza\" <sip:1133334444@pabx.local>;tag=a1";
        QTest::newRow("From alone") << QByteArray() << QByteArray() << from << QByteArray() << int(K::Number)
                                    << "1133334444"
                                    << "Ana Souza";
        QTest::newRow("asserted tel URI comes first") << QByteArray("<tel:+5511987654321>") << QByteArray() << from
                                                      << QByteArray() << int(K::Number) << "+5511987654321"
                                                      << "Ana Souza";
        QTest::newRow("asserted with its own name, two identities")
            << QByteArray("\"Clínica \\\"Boa\\\" Vida, Ltda\" <sip:+551133335555@rede;user=phone>, <tel:+551133335555>")
            << QByteArray() << from << QByteArray() << int(K::Number) << "+551133335555"
            << "Clínica \"Boa\" Vida, Ltda";
        QTest::newRow("a name is not percent-decoded, a user part is")
            << QByteArray() << QByteArray() << QByteArray("\"Pizza 100%25\" <sip:%2B551133334444@pabx>") << QByteArray()
            << int(K::Number) << "+551133334444"
            << "Pizza 100%25";
        QTest::newRow("remote party id before From")
            << QByteArray() << QByteArray("\"Bar\" <sip:2133334444@gw>;party=calling;screen=yes") << from
            << QByteArray() << int(K::Number) << "2133334444"
            << "Bar";
        QTest::newRow("number written with separators")
            << QByteArray() << QByteArray() << QByteArray("<sip:011-3333-4444@pabx>;tag=1") << QByteArray()
            << int(K::Number) << "01133334444"
            << "";
        QTest::newRow("anonymous From") << QByteArray() << QByteArray()
                                        << QByteArray("\"Anonymous\" <sip:anonymous@anonymous.invalid>;tag=9")
                                        << QByteArray() << int(K::Withheld) << ""
                                        << "";
        QTest::newRow("privacy asked") << QByteArray("<sip:1133334444@rede>") << QByteArray() << from
                                       << QByteArray("id") << int(K::Withheld) << ""
                                       << "";
        QTest::newRow("remote party id private") << QByteArray() << QByteArray("<sip:2133334444@gw>;privacy=full")
                                                 << from << QByteArray() << int(K::Withheld) << ""
                                                 << "";
        QTest::newRow("name withheld only") << QByteArray() << QByteArray("\"Bar\" <sip:2133334444@gw>;privacy=name")
                                            << from << QByteArray() << int(K::Number) << "2133334444"
                                            << "";
        QTest::newRow("an extension's name, no number")
            << QByteArray() << QByteArray() << QByteArray("\"Recepção\" <sip:recepcao@pabx>;tag=2") << QByteArray()
            << int(K::Unavailable) << ""
            << "Recepção";
        QTest::newRow("nothing readable")
            << QByteArray() << QByteArray() << QByteArray("garbage") << QByteArray() << int(K::Unavailable) << ""
            << "";
    }

    void theCallerIsReadFromTheRequest()
    {
        QFETCH(QByteArray, asserted);
        QFETCH(QByteArray, partyId);
        QFETCH(QByteArray, from);
        QFETCH(QByteArray, privacy);
        QFETCH(int, kind);
        QFETCH(QString, number);
        QFETCH(QString, name);
        const CallerIdMessage m = SipCaller::read({ asserted, partyId, from, privacy });
        QCOMPARE(int(m.kind), kind);
        QCOMPARE(m.digits, number);
        QCOMPARE(m.name, name);
    }

    void addressesAreReadOrRefused_data()
    {
        QTest::addColumn<bool>("account");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("port");
        QTest::newRow("account") << true << "2001@pabx.local" << true << "pabx.local" << 5060;
        QTest::newRow("account with sip: and port") << true << "sip:2001@10.0.0.2:5080" << true << "10.0.0.2" << 5080;
        QTest::newRow("account on IPv6") << true << "2001@[fd00::5]:5070" << true << "fd00::5" << 5070;
        QTest::newRow("account without user") << true << "pabx.local" << false << "" << 0;
        QTest::newRow("account with port 0") << true << "2001@pabx:0" << false << "" << 0;
        QTest::newRow("listening on a port") << false << "5062" << true << "" << 5062;
        QTest::newRow("listening on an address") << false << "10.0.0.9:5060" << true << "10.0.0.9" << 5060;
        QTest::newRow("listening on IPv6") << false << "[::1]:5060" << true << "::1" << 5060;
        QTest::newRow("listening without port") << false << "10.0.0.9" << false << "" << 0;
        QTest::newRow("listening on nothing") << false << "" << false << "" << 0;
    }

    void addressesAreReadOrRefused()
    {
        QFETCH(bool, account);
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QFETCH(QString, host);
        QFETCH(int, port);
        SipAddress a;
        QString error;
        QCOMPARE(
            account ? SipAddress::readAccount(text, &a, &error) : SipAddress::readListening(text, &a, &error), valid);
        QCOMPARE(error.isEmpty(), valid);
        if (valid) {
            QCOMPARE(a.host, host);
            QCOMPARE(a.port, port);
        }
    }

    void thePasswordFileMustBeTheOwnersAlone()
    {
        QByteArray password;
        QString error;
        QVERIFY2(SipSource::readPassword(m_sip.passwordFile(), &password, &error), qPrintable(error));
        QCOMPARE(password, Password.toByteArray());

        const QString open = m_dir.filePath(QStringLiteral("aberta"));
        QFile file(open);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("x\n");
        file.close();
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
        QVERIFY(!SipSource::readPassword(open, &password, &error));
        QVERIFY2(error.contains(QLatin1String("chmod 600")), qPrintable(error));

        QVERIFY(!SipSource::readPassword(m_dir.filePath(QStringLiteral("nenhuma")), &password, &error));
        QVERIFY2(error.contains(QStringLiteral("não existe")), qPrintable(error));
    }

    // --- against a real registrar and a real phone ---

    void aCallThroughTheRegistrarRingsAndIsNeverAnswered_data()
    {
        QTest::addColumn<bool>("tcp");
        QTest::newRow("udp") << false;
        QTest::newRow("tcp") << true;
    }

    void aCallThroughTheRegistrarRingsAndIsNeverAnswered()
    {
        QFETCH(bool, tcp);
        QString why;
        auto server = KamailioServer::start(Password.toByteArray(), &why);
        if (!server)
            QSKIP(qPrintable(why));
        SipSource source(m_sip.accountOn(*server, tcp), QStringLiteral("11"));
        QSignalSpy status(&source, &LineSource::statusChanged);
        QSignalSpy callers(&source, &LineSource::callerReceived);
        source.start();
        QTRY_VERIFY_WITH_TIMEOUT(!status.isEmpty() && status.last().at(1).toBool(), 10000);
        QVERIFY2(status.last().at(0).toString().contains(QLatin1String("Registrado")),
            qPrintable(status.last().at(0).toString()));
        QVERIFY(server->log().contains(QLatin1String("registrado sip:zuna@127.0.0.1")));

        auto phone = SipTestAccount::caller();
        QVERIFY(phone);
        phone->dial(QStringLiteral("sip:zuna@127.0.0.1:%1").arg(server->port()));
        QTRY_COMPARE_WITH_TIMEOUT(callers.size(), 1, 10000);
        QCOMPARE(callers.first().at(0).toString(), QStringLiteral("1133334444"));
        QCOMPARE(callers.first().at(1).toString(), QStringLiteral("Padaria Estrela"));
        // The caller hears ringing; then gives up.
        QTRY_VERIFY_WITH_TIMEOUT(phone->events().contains(QLatin1String("CALL_RINGING")), 10000);
        phone->hangUp();
        QTRY_VERIFY_WITH_TIMEOUT(sentResponse(QStringLiteral("SIP/2.0 487")), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(phone->events().contains(QLatin1String("CALL_CLOSED")), 10000);
        QVERIFY(sentResponse(QStringLiteral("SIP/2.0 180 Ringing")));
        QVERIFY(!phone->events().contains(QLatin1String("CALL_ESTABLISHED")));
        QVERIFY(!answeredACall());
        // Nothing ever carries the password.
        const QMutexLocker lock(&trafficLock);
        QVERIFY(!traffic.join(QLatin1Char('\n')).contains(QString::fromLatin1(Password)));
    }

    void aCallAnsweredAtTheDeskEndsOurRinging()
    {
        QString why;
        auto server = KamailioServer::start(Password.toByteArray(), &why);
        if (!server)
            QSKIP(qPrintable(why));
        // The desk phone and Zuna share the account: the PBX rings both.
        auto desk = BaresipPhone::start(QStringLiteral("<sip:zuna@127.0.0.1:%1>;auth_pass=%2;answermode=auto;regint=60")
                                            .arg(server->port())
                                            .arg(QString::fromLatin1(Password)),
            &why);
        QVERIFY2(desk, qPrintable(why));
        // (Registered before its events could be watched: its console says so.)
        QTRY_VERIFY_WITH_TIMEOUT(desk->output().contains(QLatin1String("200 OK")), 10000);
        SipSource source(m_sip.accountOn(*server, false), QStringLiteral("11"));
        QSignalSpy status(&source, &LineSource::statusChanged);
        QSignalSpy callers(&source, &LineSource::callerReceived);
        source.start();
        QTRY_VERIFY_WITH_TIMEOUT(!status.isEmpty() && status.last().at(1).toBool(), 10000);

        auto phone = SipTestAccount::caller();
        QVERIFY(phone);
        phone->dial(QStringLiteral("sip:zuna@127.0.0.1:%1").arg(server->port()));
        QTRY_COMPARE_WITH_TIMEOUT(callers.size(), 1, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(phone->events().contains(QLatin1String("CALL_ESTABLISHED")), 10000);
        // The PBX cancels the other branch: ours ends as SIP says.
        QTRY_VERIFY_WITH_TIMEOUT(sentResponse(QStringLiteral("SIP/2.0 487")), 10000);
        QVERIFY(!answeredACall());
        phone->hangUp();
    }

    void aDirectInviteReachesTheListeningSource()
    {
        const quint16 port = freeLocalPort();
        SipSource source(SipTestAccount::listeningOn(port), QStringLiteral("11"));
        QSignalSpy status(&source, &LineSource::statusChanged);
        QSignalSpy callers(&source, &LineSource::callerReceived);
        source.start();
        QTRY_VERIFY(!status.isEmpty());
        QVERIFY2(status.last().at(1).toBool(), qPrintable(status.last().at(0).toString()));
        QVERIFY(status.last().at(0).toString().contains(QStringLiteral("Escutando")));

        auto phone = SipTestAccount::caller();
        if (!phone)
            QSKIP("baresip is not available");
        phone->dial(QStringLiteral("sip:zuna@127.0.0.1:%1").arg(port));
        QTRY_COMPARE_WITH_TIMEOUT(callers.size(), 1, 10000);
        QCOMPARE(callers.first().at(0).toString(), QStringLiteral("1133334444"));
        QTRY_VERIFY_WITH_TIMEOUT(phone->events().contains(QLatin1String("CALL_RINGING")), 10000);
        phone->hangUp();
        QTRY_VERIFY_WITH_TIMEOUT(sentResponse(QStringLiteral("SIP/2.0 487")), 10000);
        QVERIFY(!answeredACall());
    }

    void aFloodOfInvitesAndGarbageIsBounded()
    {
        const quint16 port = freeLocalPort();
        SipSource source(SipTestAccount::listeningOn(port), QStringLiteral("11"));
        QSignalSpy status(&source, &LineSource::statusChanged);
        QSignalSpy callers(&source, &LineSource::callerReceived);
        source.start();
        QTRY_VERIFY(!status.isEmpty());
        QUdpSocket flood;
        QVERIFY(flood.bind(QHostAddress::LocalHost, 0));
        const quint16 from = flood.localPort();
        for (int i = 0; i < 70; ++i) {
            const QByteArray invite = "INVITE sip:zuna@127.0.0.1:" + QByteArray::number(port)
                + " SIP/2.0\r\n"
                  "Via: SIP/2.0/UDP 127.0.0.1:"
                + QByteArray::number(from) + ";branch=z9hG4bK-enxurrada-" + QByteArray::number(i)
                + "\r\n"
                  "Max-Forwards: 70\r\n"
                  "From: <sip:11333344"
                + QByteArray::number(10 + i) + "@127.0.0.1>;tag=" + QByteArray::number(i)
                + "\r\n"
                  "To: <sip:zuna@127.0.0.1>\r\n"
                  "Call-ID: enxurrada-"
                + QByteArray::number(i)
                + "\r\n"
                  "CSeq: 1 INVITE\r\n"
                  "Content-Length: 0\r\n\r\n";
            flood.writeDatagram(invite, QHostAddress::LocalHost, port);
            flood.writeDatagram(QByteArray(i * 7 % 1400, char(i)), QHostAddress::LocalHost, port);
        }
        // One sender: past its share of the places, its oldest call gives
        // way to its newest.
        QTRY_COMPARE_WITH_TIMEOUT(sent().filter(QStringLiteral("SIP/2.0 180")).size(), 70, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(
            sent().filter(QStringLiteral("SIP/2.0 480")).size(), 70 - int(SipRingPlaces::PerSender), 10000);
        // Handed on at the source's pace, the latest kept.
        QTRY_VERIFY_WITH_TIMEOUT(callers.size() >= 1, 5000);
    }

    void aWrongPasswordIsShownAndRetried()
    {
        QString why;
        auto server = KamailioServer::start("outra-senha", &why);
        if (!server)
            QSKIP(qPrintable(why));
        SipSource source(m_sip.accountOn(*server, false), QStringLiteral("11"));
        QSignalSpy status(&source, &LineSource::statusChanged);
        source.start();
        QTRY_VERIFY_WITH_TIMEOUT(!status.isEmpty(), 10000);
        QVERIFY(!status.last().at(1).toBool());
        QVERIFY2(status.last().at(0).toString().contains(QLatin1String("senha recusados")),
            qPrintable(status.last().at(0).toString()));
        QVERIFY(!status.last().at(0).toString().contains(QString::fromLatin1(Password)));
        // Tried again, without a storm of requests.
        QTRY_VERIFY_WITH_TIMEOUT(status.size() >= 2, 5000);
    }

    void aProviderThatGoesAwayIsRegisteredAgainWhenBack()
    {
        QString why;
        auto server = KamailioServer::start(Password.toByteArray(), &why);
        if (!server)
            QSKIP(qPrintable(why));
        SipSource::Setup setup = m_sip.accountOn(*server, true);
        setup.expiresSeconds = 2; // renewed every 1.8 s
        SipSource source(setup, QStringLiteral("11"));
        QSignalSpy status(&source, &LineSource::statusChanged);
        source.start();
        QTRY_VERIFY_WITH_TIMEOUT(!status.isEmpty() && status.last().at(1).toBool(), 10000);

        server->stop();
        QTRY_VERIFY_WITH_TIMEOUT(!status.last().at(1).toBool(), 10000);
        QVERIFY2(status.last().at(0).toString().contains(QLatin1String("Sem registro")),
            qPrintable(status.last().at(0).toString()));
        QVERIFY2(server->restart(&why), qPrintable(why));
        QTRY_VERIFY_WITH_TIMEOUT(status.last().at(1).toBool(), 20000);
        QVERIFY(status.last().at(0).toString().contains(QLatin1String("Registrado")));

        auto phone = SipTestAccount::caller();
        QVERIFY(phone);
        QSignalSpy callers(&source, &LineSource::callerReceived);
        phone->dial(QStringLiteral("sip:zuna@127.0.0.1:%1").arg(server->port()));
        QTRY_COMPARE_WITH_TIMEOUT(callers.size(), 1, 10000);
        phone->hangUp();
    }

    void aMissingPasswordIsShownWithoutStarting()
    {
        SipSource::Setup setup;
        setup.registering = true;
        setup.address = QStringLiteral("zuna@127.0.0.1:5060");
        setup.passwordFile = m_dir.filePath(QStringLiteral("sem-senha"));
        SipSource source(setup, QStringLiteral("11"));
        QSignalSpy status(&source, &LineSource::statusChanged);
        source.start();
        QCOMPARE(status.size(), 1);
        QVERIFY(!status.first().at(1).toBool());
        QVERIFY(status.first().at(0).toString().contains(QLatin1String("sem senha")));
    }
};

QTEST_GUILESS_MAIN(TestSipSource)
#include "TestSipSource.moc"
