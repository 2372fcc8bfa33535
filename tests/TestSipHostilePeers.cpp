#include "BaresipPhone.h"
#include "KamailioServer.h"
#include "SipTestAccount.h"
#include "TestSupport.h"

#include "core/callerid/sources/SipSource.h"

#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>

#include <memory>
#include <vector>

namespace {

constexpr QByteArrayView Password = SipTestAccount::Password;

// A peer that speaks SIP by hand over UDP, from an address of its own on the
// loopback network, and keeps every answer it gets.
class RawPeer
{
public:
    explicit RawPeer(const QHostAddress &address = QHostAddress(QStringLiteral("127.0.0.2")))
    {
        m_bound = m_socket.bind(address, 0);
        QObject::connect(&m_socket, &QUdpSocket::readyRead, [this] {
            while (m_socket.hasPendingDatagrams()) {
                QByteArray datagram(int(m_socket.pendingDatagramSize()), '\0');
                m_socket.readDatagram(datagram.data(), datagram.size());
                m_answers.append(datagram);
            }
        });
    }

    bool isBound() const { return m_bound; }

    // An INVITE from this peer; `drop` names headers to leave out, `cseq`
    // replaces the CSeq value, `body` is sent as the message body.
    QByteArray invite(quint16 port, const QByteArray &id, const QByteArray &number, const QByteArrayList &drop = {},
        const QByteArray &cseq = "1 INVITE", const QByteArray &body = {}) const
    {
        const QByteArray here = m_socket.localAddress().toString().toLatin1();
        const QList<std::pair<QByteArray, QByteArray>> headers {
            { "Via", "SIP/2.0/UDP " + here + ':' + QByteArray::number(m_socket.localPort()) + ";branch=z9hG4bK-" + id },
            { "Max-Forwards", "70" },
            { "From", "<sip:" + number + '@' + here + ">;tag=" + id },
            { "To", "<sip:zuna@127.0.0.1>" },
            { "Call-ID", id + "@" + here },
            { "CSeq", cseq },
            { "Content-Type", "text/plain" },
            { "Content-Length", QByteArray::number(body.size()) },
        };
        QByteArray request = "INVITE sip:zuna@127.0.0.1:" + QByteArray::number(port) + " SIP/2.0\r\n";
        for (const auto &[name, value] : headers) {
            if (!drop.contains(name))
                request += name + ": " + value + "\r\n";
        }
        return request + "\r\n" + body;
    }

    void send(const QByteArray &datagram, quint16 port)
    {
        m_socket.writeDatagram(datagram, QHostAddress::LocalHost, port);
    }

    // How many answers begin with `status` ("SIP/2.0 180").
    int answered(QByteArrayView status) const
    {
        return int(std::count_if(
            m_answers.begin(), m_answers.end(), [&](const QByteArray &a) { return a.startsWith(status); }));
    }
    qsizetype answerCount() const { return m_answers.size(); }

private:
    QUdpSocket m_socket;
    bool m_bound = false;
    QByteArrayList m_answers;
};

bool calledBy(const QSignalSpy &callers, const QString &number)
{
    return std::any_of(
        callers.begin(), callers.end(), [&](const QList<QVariant> &call) { return call.at(0).toString() == number; });
}

} // namespace

class TestSipHostilePeers : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    SipTestAccount m_sip;

    static bool isRegistered(const QSignalSpy &status)
    {
        return !status.isEmpty() && status.last().at(1).toBool()
            && status.last().at(0).toString().contains(QLatin1String("Registrado"));
    }

private slots:
    void initTestCase() { QVERIFY(m_sip.writePasswordFile(m_dir.path())); }

    // INVITEs never cancelled, from one sender, cannot keep another sender's
    // call from ringing and being shown.
    void aFloodFromOneSenderLeavesRoomForAnother()
    {
        const quint16 port = freeLocalPort();
        SipSource source(SipTestAccount::listeningOn(port), QStringLiteral("11"));
        QSignalSpy status(&source, &LineSource::statusChanged);
        QSignalSpy callers(&source, &LineSource::callerReceived);
        source.start();
        QTRY_VERIFY(!status.isEmpty());
        RawPeer flood;
        QVERIFY(flood.isBound());
        constexpr int Invites = 100;
        // In bursts that no socket buffer drops: every one is answered, none
        // in silence.
        for (int i = 0; i < Invites; ++i) {
            flood.send(
                flood.invite(port, "enxurrada-" + QByteArray::number(i), "21333344" + QByteArray::number(10 + i)),
                port);
            if (i % 10 == 9)
                QTRY_COMPARE_WITH_TIMEOUT(flood.answered("SIP/2.0 180"), i + 1, 10000);
        }

        auto phone = SipTestAccount::caller();
        QVERIFY(phone);
        phone->dial(QStringLiteral("sip:zuna@127.0.0.1:%1").arg(port));
        QTRY_VERIFY_WITH_TIMEOUT(phone->events().contains(QLatin1String("CALL_RINGING")), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(calledBy(callers, QStringLiteral("1133334444")), 15000);
        phone->hangUp();
    }

    // A request SIP cannot make sense of is refused, and never shown as a call.
    void aMalformedRequestIsRefused_data()
    {
        QTest::addColumn<QByteArrayList>("drop");
        QTest::addColumn<QByteArray>("cseq");
        QTest::newRow("no From") << QByteArrayList { "From" } << QByteArray("1 INVITE");
        QTest::newRow("no To") << QByteArrayList { "To" } << QByteArray("1 INVITE");
        QTest::newRow("no Call-ID") << QByteArrayList { "Call-ID" } << QByteArray("1 INVITE");
        QTest::newRow("no CSeq") << QByteArrayList { "CSeq" } << QByteArray("1 INVITE");
        QTest::newRow("CSeq of another method") << QByteArrayList {} << QByteArray("1 BYE");
        QTest::newRow("CSeq method in lower case") << QByteArrayList {} << QByteArray("1 invite");
    }

    void aMalformedRequestIsRefused()
    {
        QFETCH(QByteArrayList, drop);
        QFETCH(QByteArray, cseq);
        const quint16 port = freeLocalPort();
        SipSource source(SipTestAccount::listeningOn(port), QStringLiteral("11"));
        QSignalSpy status(&source, &LineSource::statusChanged);
        QSignalSpy callers(&source, &LineSource::callerReceived);
        source.start();
        QTRY_VERIFY(!status.isEmpty());
        RawPeer peer;
        QVERIFY(peer.isBound());
        peer.send(peer.invite(port, "torto", "2133334444", drop, cseq), port);
        QTRY_COMPARE(peer.answerCount(), 1);
        QCOMPARE(peer.answered("SIP/2.0 400"), 1);
        // A sound request after it is the first call shown.
        peer.send(peer.invite(port, "certo", "3133334444"), port);
        QTRY_COMPARE(callers.size(), 1);
        QCOMPARE(callers.first().at(0).toString(), QStringLiteral("3133334444"));
        QCOMPARE(peer.answered("SIP/2.0 180"), 1);
    }

    // A UDP request too large for the stack is answered as SIP says.
    void anOversizedRequestIsAnswered()
    {
        const quint16 port = freeLocalPort();
        SipSource source(SipTestAccount::listeningOn(port), QStringLiteral("11"));
        QSignalSpy status(&source, &LineSource::statusChanged);
        QSignalSpy callers(&source, &LineSource::callerReceived);
        source.start();
        QTRY_VERIFY(!status.isEmpty());
        RawPeer peer;
        QVERIFY(peer.isBound());
        peer.send(peer.invite(port, "grande", "2133334444", {}, "1 INVITE", QByteArray(12000, 'x')), port);
        QTRY_COMPARE(peer.answerCount(), 1);
        QCOMPARE(peer.answered("SIP/2.0 513"), 1);
        peer.send(peer.invite(port, "pequeno", "3133334444"), port);
        QTRY_COMPARE(callers.size(), 1);
        QCOMPARE(callers.first().at(0).toString(), QStringLiteral("3133334444"));
    }

    // Idle TCP connections cannot use up the files the program needs: past
    // the cap the oldest idle ones are closed, and a call over TCP still comes.
    void idleConnectionsCannotCrowdOutACall()
    {
        const quint16 port = freeLocalPort();
        SipSource::Setup setup = SipTestAccount::listeningOn(port);
        constexpr int Cap = 16;
        setup.maxTcpConnections = Cap;
        SipSource source(setup, QStringLiteral("11"));
        QSignalSpy status(&source, &LineSource::statusChanged);
        QSignalSpy callers(&source, &LineSource::callerReceived);
        source.start();
        QTRY_VERIFY(!status.isEmpty());
        constexpr int Idle = 40;
        std::vector<std::unique_ptr<QTcpSocket>> idle;
        for (int i = 0; i < Idle; ++i) {
            idle.push_back(std::make_unique<QTcpSocket>());
            idle.back()->connectToHost(QHostAddress::LocalHost, port);
            QVERIFY(idle.back()->waitForConnected(2000));
            // A keep-alive, as a SIP peer would send.
            idle.back()->write("\r\n\r\n");
            idle.back()->flush();
        }
        const auto closed = [&] {
            return int(std::count_if(idle.begin(), idle.end(),
                [](const auto &s) { return s->state() == QAbstractSocket::UnconnectedState; }));
        };
        QTRY_COMPARE_WITH_TIMEOUT(closed(), Idle - Cap, 10000);
        // The oldest went first.
        for (int i = 0; i < Idle; ++i)
            QCOMPARE(idle[i]->state() == QAbstractSocket::UnconnectedState, i < Idle - Cap);

        auto phone = SipTestAccount::caller(true);
        QVERIFY(phone);
        phone->dial(QStringLiteral("sip:zuna@127.0.0.1:%1;transport=tcp").arg(port));
        QTRY_VERIFY_WITH_TIMEOUT(calledBy(callers, QStringLiteral("1133334444")), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(phone->events().contains(QLatin1String("CALL_RINGING")), 10000);
        phone->hangUp();
        QTRY_COMPARE_WITH_TIMEOUT(closed(), Idle - Cap + 1, 10000);
    }

    // Registered, calls come through the registrar alone.
    void onlyTheRegistrarMaySendInvites()
    {
        QString why;
        auto server = KamailioServer::start(Password.toByteArray(), &why);
        if (!server)
            QSKIP(qPrintable(why));
        SipSource source(m_sip.accountOn(*server, false), QStringLiteral("11"));
        QSignalSpy status(&source, &LineSource::statusChanged);
        QSignalSpy callers(&source, &LineSource::callerReceived);
        source.start();
        QTRY_VERIFY_WITH_TIMEOUT(isRegistered(status), 10000);
        // Where the registrar would send calls: the registered contact.
        const QRegularExpression registered(
            QStringLiteral("registrado sip:zuna@127.0.0.1 em <sip:zuna@127.0.0.1:(\\d+)"));
        QTRY_VERIFY2(registered.match(server->log()).hasMatch(), qPrintable(server->log()));
        const QRegularExpressionMatch contact = registered.match(server->log());
        const quint16 port = quint16(contact.captured(1).toUInt());
        RawPeer stranger;
        QVERIFY(stranger.isBound());
        stranger.send(stranger.invite(port, "estranho", "2133334444"), port);
        QTRY_COMPARE(stranger.answerCount(), 1);
        QCOMPARE(stranger.answered("SIP/2.0 403"), 1);

        auto phone = SipTestAccount::caller();
        QVERIFY(phone);
        phone->dial(QStringLiteral("sip:zuna@127.0.0.1:%1").arg(server->port()));
        QTRY_COMPARE_WITH_TIMEOUT(callers.size(), 1, 10000);
        QCOMPARE(callers.first().at(0).toString(), QStringLiteral("1133334444"));
        phone->hangUp();
    }

    // A wrong password costs one REGISTER with credentials per attempt, and
    // after a few refusals the attempts wait minutes, as the status says.
    void aWrongPasswordIsNotHammered()
    {
        QString why;
        auto server = KamailioServer::start("outra-senha", &why);
        if (!server)
            QSKIP(qPrintable(why));
        SipSource source(m_sip.accountOn(*server, false), QStringLiteral("11"));
        QSignalSpy status(&source, &LineSource::statusChanged);
        source.start();
        const auto registers = [&](const QString &what) { return int(server->log().count(what)); };
        QTRY_VERIFY_WITH_TIMEOUT(!status.isEmpty(), 10000);
        QVERIFY(!status.last().at(1).toBool());
        QVERIFY2(status.last().at(0).toString().contains(QLatin1String("senha recusados")),
            qPrintable(status.last().at(0).toString()));
        // (kamailio's log is read as the event loop runs.)
        QTRY_COMPARE(registers(QStringLiteral("REGISTER com credenciais")), 1);
        QTRY_COMPARE(registers(QStringLiteral("pedido REGISTER")), 2);

        QTRY_VERIFY_WITH_TIMEOUT(status.last().at(0).toString().contains(QLatin1String("min")), 20000);
        const QString waiting = status.last().at(0).toString();
        QVERIFY2(waiting.contains(QLatin1String("nova tentativa em 5 min")), qPrintable(waiting));
        QVERIFY(!waiting.contains(QString::fromLatin1(Password)));
        QTRY_COMPARE(registers(QStringLiteral("REGISTER com credenciais")), 3);
        QTRY_COMPARE(registers(QStringLiteral("pedido REGISTER")), 6);
    }

    // A registrar that restarts has forgotten Zuna: Zuna registers again
    // within a minute, with the default validity; over TCP the lost
    // connection shows in the status meanwhile.
    void aRestartedRegistrarHasZunaBackWithinAMinute_data()
    {
        QTest::addColumn<bool>("tcp");
        QTest::newRow("udp") << false;
        QTest::newRow("tcp") << true;
    }

    void aRestartedRegistrarHasZunaBackWithinAMinute()
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
        QTRY_VERIFY_WITH_TIMEOUT(isRegistered(status), 10000);
        const auto registrations = [&] { return int(server->log().count(QLatin1String("registrado sip:zuna"))); };
        const int before = registrations();
        status.clear();
        QVERIFY2(server->restart(&why), qPrintable(why));
        QTRY_VERIFY_WITH_TIMEOUT(registrations() > before, 60000);
        if (tcp) {
            QVERIFY(!status.isEmpty());
            QVERIFY2(!status.first().at(1).toBool(), qPrintable(status.first().at(0).toString()));
            QVERIFY(!status.first().at(0).toString().contains(QLatin1String("Registrado")));
        }
        QTRY_VERIFY_WITH_TIMEOUT(isRegistered(status) || (!tcp && status.isEmpty()), 10000);

        auto phone = SipTestAccount::caller();
        QVERIFY(phone);
        phone->dial(QStringLiteral("sip:zuna@127.0.0.1:%1").arg(server->port()));
        QTRY_COMPARE_WITH_TIMEOUT(callers.size(), 1, 10000);
        phone->hangUp();
    }
};

QTEST_GUILESS_MAIN(TestSipHostilePeers)
#include "TestSipHostilePeers.moc"
