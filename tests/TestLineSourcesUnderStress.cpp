#include "DtmfSignal.h"
#include "TestSupport.h"

#include "core/callerid/sources/AudioCapture.h"
#include "core/callerid/sources/AudioFileSource.h"
#include "core/callerid/sources/LineSplitter.h"
#include "core/callerid/sources/LocalSocketSource.h"
#include "core/callerid/sources/NcidSource.h"
#include "core/callerid/sources/SipSource.h"
#include "gui/callerid/CallerIdSetupDialog.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QLocalSocket>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <QTimer>
#include <QUdpSocket>
#include <atomic>

#include <sndfile.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cmath>

// Line sources under hostile input: lines cut every way, floods, clients that
// hold connections, recordings of every kind, a sound device that fails.
class TestLineSourcesUnderStress : public QObject
{
    Q_OBJECT

    static QString writeRecording(const QString &path, int rate, int format, const std::vector<double> &samples)
    {
        SF_INFO info {};
        info.samplerate = rate;
        info.channels = 1;
        info.format = SF_FORMAT_WAV | format;
        SNDFILE *f = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
        if (!f)
            qFatal("cannot write %s: %s", qPrintable(path), sf_strerror(nullptr));
        sf_write_double(f, samples.data(), sf_count_t(samples.size()));
        sf_close(f);
        return path;
    }

    static std::vector<double> message(const QString &text, int rate)
    {
        DtmfSignal signal;
        signal.rate = rate;
        std::vector<double> out;
        for (const int16_t s : signal.render(text))
            out.push_back(s / 32768.0);
        return out;
    }

    // This process's resident memory, in KB.
    static qint64 residentKb()
    {
        QFile status(QStringLiteral("/proc/self/status"));
        if (!status.open(QIODevice::ReadOnly))
            return -1;
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith("VmRSS:"))
                return line.mid(6).trimmed().split(' ').first().toLongLong();
        }
        return -1;
    }

    // An INVITE from `number` (percent-encoded as a URI's user part), with
    // `name` as its display name, sent straight to a listening source.
    static QByteArray invite(quint16 port, quint16 from, const QString &number, const QString &name)
    {
        const QByteArray tag = QByteArray::number(from);
        return "INVITE sip:zuna@127.0.0.1:" + QByteArray::number(port) + " SIP/2.0\r\nVia: SIP/2.0/UDP 127.0.0.1:" + tag
            + ";branch=z9hG4bK-" + tag + "\r\nMax-Forwards: 70\r\nFrom: \"" + name.toUtf8()
            + "\" <sip:" + number.toUtf8().toPercentEncoding() + "@127.0.0.1>;tag=" + tag
            + "\r\nTo: <sip:zuna@127.0.0.1>\r\nCall-ID: c-" + tag + "\r\nCSeq: 1 INVITE\r\nContent-Length: 0\r\n\r\n";
    }

    // One call through a real source of the kind named ("ncid", "sip": an
    // INVITE sent straight to it, "socket": a line on the local socket), and
    // what the source handed on once it did: callers and texts.
    static void callThrough(const QString &kind, const QString &number, const QString &name,
        QList<QVariantList> *callers, QStringList *texts, QByteArray *reply = nullptr)
    {
        QTemporaryDir dir;
        std::unique_ptr<LineSource> source;
        QTcpServer ncid;
        QUdpSocket sip;
        quint16 port = 0;
        if (kind == QLatin1String("ncid")) {
            QVERIFY(ncid.listen(QHostAddress::LocalHost));
            source = std::make_unique<NcidSource>(QStringLiteral("127.0.0.1"), ncid.serverPort(), QStringLiteral("11"));
        } else if (kind == QLatin1String("sip")) {
            port = freeLocalPort();
            SipSource::Setup setup;
            setup.address = QStringLiteral("127.0.0.1:%1").arg(port);
            source = std::make_unique<SipSource>(setup, QStringLiteral("11"));
        } else {
            source
                = std::make_unique<LocalSocketSource>(dir.filePath(QStringLiteral("zuna.sock")), QStringLiteral("11"));
        }
        QSignalSpy callerSpy(source.get(), &LineSource::callerReceived);
        QSignalSpy textSpy(source.get(), &LineSource::textReceived);
        QSignalSpy status(source.get(), &LineSource::statusChanged);
        source->start();
        QLocalSocket client;
        std::unique_ptr<QTcpSocket> peer;
        if (kind == QLatin1String("ncid")) {
            QTRY_VERIFY(ncid.hasPendingConnections());
            peer.reset(ncid.nextPendingConnection());
            peer->write("CID: *DATE*12082026*TIME*0130*LINE*-*NMBR*" + number.toUtf8() + "*MESG*NONE*NAME*"
                + name.toUtf8() + "*\r\n");
        } else if (kind == QLatin1String("sip")) {
            QTRY_VERIFY(!status.isEmpty());
            QVERIFY(sip.bind(QHostAddress::LocalHost, 0));
            sip.writeDatagram(invite(port, sip.localPort(), number, name), QHostAddress::LocalHost, port);
        } else {
            client.connectToServer(dir.filePath(QStringLiteral("zuna.sock")));
            QVERIFY(client.waitForConnected(2000));
            client.write(number.toUtf8() + '\n');
            QTRY_VERIFY(client.canReadLine());
            if (reply)
                *reply = client.readLine();
        }
        QTRY_VERIFY_WITH_TIMEOUT(callerSpy.size() + textSpy.size() > 0, 10000);
        for (const QVariantList &c : callerSpy)
            *callers << c;
        for (const QVariantList &t : textSpy)
            *texts << t.first().toString();
    }

    static QStringList decode(const QString &path, QString *error)
    {
        QStringList found;
        if (!AudioFileSource::decodeFile(
                path, 8, [&](const CallerIdMessage &m) { found << m.raw; }, error))
            found << QStringLiteral("<refused>");
        return found;
    }

private slots:
    void linesEndAtCrLfOrBoth_data()
    {
        QTest::addColumn<QList<QByteArray>>("chunks");
        QTest::addColumn<QList<QByteArray>>("lines");
        QTest::newRow("CR before LF in one chunk") << QList<QByteArray> { "NMBR = 1155550001\rNMBR = 1155550002\n" }
                                                   << QList<QByteArray> { "NMBR = 1155550001", "NMBR = 1155550002" };
        QTest::newRow("CR alone, then CR LF") << QList<QByteArray> { "DATE = 0101\rNMBR = 1144443333\r\n" }
                                              << QList<QByteArray> { "DATE = 0101", "NMBR = 1144443333" };
        QTest::newRow("split across chunks") << QList<QByteArray> { "NMB", "R = 11", "3333\r", "\nNMBR = 2\n" }
                                             << QList<QByteArray> { "NMBR = 113333", "NMBR = 2" };
        QTest::newRow("LF CR") << QList<QByteArray> { "A\n\rB\n" } << QList<QByteArray> { "A", "B" };
        QTest::newRow("no end yet") << QList<QByteArray> { "NMBR = 1" } << QList<QByteArray> {};
        QTest::newRow("garbage without breaks is dropped to its end")
            << QList<QByteArray> { QByteArray(5000, 'x'), "y\nz\n" } << QList<QByteArray> { "z" };
        QTest::newRow("a CID inside a 1 MB line is no line") << QList<QByteArray> { QByteArray(1 << 20, 'x'),
            "CID: *NMBR*1133334444*", "\r\nCID: *NMBR*2*\n" } << QList<QByteArray> { "CID: *NMBR*2*" };
        QTest::newRow("an overlong line within one chunk")
            << QList<QByteArray> { QByteArray(5000, 'x') + "CID: *NMBR*1*\nok\n" } << QList<QByteArray> { "ok" };
    }
    void linesEndAtCrLfOrBoth()
    {
        QFETCH(QList<QByteArray>, chunks);
        QFETCH(QList<QByteArray>, lines);
        LineSplitter splitter;
        QList<QByteArray> got;
        for (const QByteArray &chunk : chunks)
            got << splitter.feed(chunk);
        QCOMPARE(got, lines);
    }

    void aFloodFromAServerNeitherHoldsTheWindowNorFloodsIt()
    {
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        NcidSource source(QStringLiteral("127.0.0.1"), server.serverPort(), QStringLiteral("11"));
        QSignalSpy numbers(&source, &LineSource::numberReceived);
        source.start();
        QVERIFY(server.waitForNewConnection(5000));
        QTcpSocket *peer = server.nextPendingConnection();
        QByteArray flood;
        for (int i = 0; i < 50000; ++i)
            flood += QStringLiteral("CID: *DATE*12082026*TIME*0101*LINE*1*NMBR*11%1*MESG*NONE*NAME*X*\r\n")
                         .arg(30000000 + i)
                         .toLatin1();
        // The window's loop keeps ticking while the lines pour in.
        QElapsedTimer clock, sinceTick;
        qint64 longestGap = 0;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, [&] { longestGap = std::max(longestGap, sinceTick.restart()); });
        clock.start();
        sinceTick.start();
        ticker.start(5);
        for (qsizetype at = 0; at < flood.size(); at += 256 * 1024) {
            peer->write(flood.mid(at, 256 * 1024));
            QVERIFY(QTest::qWaitFor([&] { return peer->bytesToWrite() == 0; }, 5000));
        }
        QTRY_VERIFY_WITH_TIMEOUT(numbers.size() >= 2, 5000);
        ticker.stop();
        QVERIFY2(longestGap < 250, qPrintable(QString::number(longestGap)));
        // Numbers are handed on at a pace the window can follow.
        QVERIFY2(
            numbers.size() <= clock.elapsed() / LineSource::PaceMs + 2, qPrintable(QString::number(numbers.size())));
        QVERIFY(numbers.size() >= 2);
    }

    void anOverlongLineFromAServerIsNoCall()
    {
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        NcidSource source(QStringLiteral("127.0.0.1"), server.serverPort(), QStringLiteral("11"));
        QSignalSpy numbers(&source, &LineSource::numberReceived);
        source.start();
        QVERIFY(server.waitForNewConnection(5000));
        std::unique_ptr<QTcpSocket> peer(server.nextPendingConnection());
        peer->write(QByteArray(1 << 20, 'x') + "CID: *NMBR*1133334444*NAME*FALSO*\r\n");
        peer->write("CID: *NMBR*2122223333*NAME*ANA*\r\n");
        QTRY_COMPARE_WITH_TIMEOUT(numbers.size(), 1, 10000);
        QCOMPARE(numbers.first().first().toString(), QStringLiteral("2122223333"));
    }

    void aServerThatDropsEveryConnectionIsTriedLessAndLessOften()
    {
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        QList<qint64> attempts; // when each connection came, in ms
        QElapsedTimer clock;
        clock.start();
        connect(&server, &QTcpServer::newConnection, this, [&] {
            while (QTcpSocket *peer = server.nextPendingConnection()) {
                attempts << clock.elapsed();
                peer->close(); // taken, and dropped at once
                peer->deleteLater();
            }
        });
        NcidSource source(QStringLiteral("127.0.0.1"), server.serverPort(), QStringLiteral("11"));
        source.start();
        QTRY_VERIFY_WITH_TIMEOUT(attempts.size() >= 4, 15000);
        // 1, 2, 4 s between attempts, not 1 s for ever.
        for (int i = 1; i < 4; ++i) {
            const qint64 gap = attempts.at(i) - attempts.at(i - 1);
            QVERIFY2(gap >= (1000 << (i - 1)) * 9 / 10, qPrintable(QStringLiteral("gap %1: %2 ms").arg(i).arg(gap)));
        }
    }

    void aClientThatNeverReadsIsDroppedAndCostsLittle()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("zuna.sock"));
        LocalSocketSource source(path, QStringLiteral("11"));
        QSignalSpy numbers(&source, &LineSource::numberReceived);
        source.start();
        // A client that sends numbers as fast as it can and reads nothing.
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        qstrncpy(address.sun_path, QFile::encodeName(path).constData(), sizeof address.sun_path);
        QCOMPARE(::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
        std::atomic<bool> stop = false, dropped = false;
        std::atomic<qint64> sent = 0;
        const QByteArray lines = QByteArray("1133334444\n").repeated(4096);
        std::unique_ptr<QThread> flood(QThread::create([&] {
            while (!stop && sent < 64ll * 1024 * 1024) {
                const ssize_t n = ::send(fd, lines.constData(), size_t(lines.size()), MSG_NOSIGNAL);
                if (n < 0) {
                    dropped = true;
                    return;
                }
                sent += n;
            }
        }));
        const auto end = qScopeGuard([&] {
            stop = true;
            ::shutdown(fd, SHUT_RDWR);
            flood->wait();
            ::close(fd);
        });
        const qint64 before = residentKb();
        QElapsedTimer took;
        took.start();
        flood->start();
        QTRY_VERIFY_WITH_TIMEOUT(dropped, 20000);
        const qint64 after = residentKb();
        qInfo("socket client that never reads: dropped after %lld ms and %lld KB sent; resident memory %lld KB "
              "before, %lld KB after",
            took.elapsed(), sent / 1024, before, after);
        QVERIFY2(after - before < 32 * 1024, qPrintable(QString::number(after - before)));
        // The listener still takes a number from a client that reads.
        QString error;
        std::atomic<int> ok = -1;
        std::unique_ptr<QThread> caller(QThread::create(
            [&] { ok = LocalSocketSource::sendNumber(path, QStringLiteral("2122223333"), &error) ? 1 : 0; }));
        caller->start();
        QTRY_VERIFY_WITH_TIMEOUT(ok != -1, 10000);
        caller->wait();
        QVERIFY2(ok == 1, qPrintable(error));
    }

    void aNumberNotPlainlyWrittenIsRefusedOnEverySource_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("number");
        QTest::addColumn<QString>("shown");
        const QString unreadable = LineSource::textFor(CallerIdMessage::Kind::Unreadable);
        for (const char *kind : { "socket", "ncid", "sip" }) {
            QTest::addRow("%s: Arabic-Indic digit", kind) << kind << QStringLiteral("1133\u066334444") << unreadable;
            QTest::addRow("%s: full-width digits", kind)
                << kind << QStringLiteral("\uFF11\uFF11\uFF13\uFF13\uFF13\uFF13\uFF14\uFF14\uFF14\uFF14") << unreadable;
        }
        QTest::newRow("socket: letters after the number") << "socket"
                                                          << "3131110002abc" << unreadable;
        QTest::newRow("ncid: letters after the number") << "ncid"
                                                        << "3131110002abc" << unreadable;
        // A SIP user with letters is a name, not a number: no number came.
        QTest::newRow("sip: letters after the number")
            << "sip"
            << "3131110002abc" << LineSource::textFor(CallerIdMessage::Kind::Unavailable);
    }
    void aNumberNotPlainlyWrittenIsRefusedOnEverySource()
    {
        QFETCH(QString, kind);
        QFETCH(QString, number);
        QFETCH(QString, shown);
        QList<QVariantList> callers;
        QStringList texts;
        QByteArray reply;
        callThrough(kind, number, QStringLiteral("ANA"), &callers, &texts, &reply);
        if (QTest::currentTestFailed())
            return;
        // Never dropped in silence, never read as another number.
        QCOMPARE(callers, QList<QVariantList>());
        QCOMPARE(texts, QStringList { shown });
        if (kind == QLatin1String("socket"))
            QVERIFY2(reply.startsWith("ERRO"), reply.constData());
    }

    void aCallersNameArrivesAsPlainShortText_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("handedOn");
        const QString braille = QString(40, QChar(0x2800));
        for (const char *kind : { "ncid", "sip" }) {
            QTest::addRow("%s: padded to pass for another caller", kind)
                << kind << braille + QStringLiteral("1133334444 · MARIA DA SILVA") + braille
                << QStringLiteral("1133334444 · MARIA DA SILVA");
            QTest::addRow("%s: markup", kind)
                << kind << QStringLiteral("<font color=red size=6>GOLPE</font><br><img src=x>")
                << QStringLiteral("<font color=red size=6>GOLPE</font><br>…");
            QTest::addRow("%s: right-to-left override", kind)
                << kind << QStringLiteral("\u202EABC 1234-5678") << QStringLiteral("ABC 1234-5678");
            QTest::addRow("%s: 3000 characters", kind)
                << kind << QString(3000, u'W') << QString(39, u'W') + QChar(0x2026);
        }
    }
    void aCallersNameArrivesAsPlainShortText()
    {
        QFETCH(QString, kind);
        QFETCH(QString, name);
        QFETCH(QString, handedOn);
        QList<QVariantList> callers;
        QStringList texts;
        callThrough(kind, QStringLiteral("2122223333"), name, &callers, &texts);
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(callers.size(), 1);
        QCOMPARE(callers.first(), (QVariantList { QStringLiteral("2122223333"), handedOn }));
    }

    void heldConnectionsAreCappedAndIdleOnesDropped()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("zuna.sock"));
        LocalSocketSource source(path, QStringLiteral("11"));
        source.setIdleMs(300);
        QSignalSpy numbers(&source, &LineSource::numberReceived);
        source.start();
        std::vector<std::unique_ptr<QLocalSocket>> held;
        for (int i = 0; i < LocalSocketSource::MaxClients + 20; ++i) {
            held.push_back(std::make_unique<QLocalSocket>());
            held.back()->connectToServer(path);
        }
        auto connectedCount = [&] {
            return std::count_if(
                held.cbegin(), held.cend(), [](const auto &s) { return s->state() == QLocalSocket::ConnectedState; });
        };
        QTRY_VERIFY(connectedCount() <= LocalSocketSource::MaxClients);
        // Idle clients are let go, and the listener still takes a number.
        QTRY_COMPARE_WITH_TIMEOUT(connectedCount(), 0, 5000);
        QLocalSocket caller;
        caller.connectToServer(path);
        QVERIFY(caller.waitForConnected(2000));
        caller.write("11 3333-4444\n");
        QTRY_COMPARE(numbers.size(), 1);
        QCOMPARE(numbers.first().first().toString(), QStringLiteral("1133334444"));
        QTRY_VERIFY(caller.canReadLine());
        QCOMPARE(caller.readLine(), QByteArray("OK\n"));
        caller.write("abc\n");
        QTRY_VERIFY(caller.canReadLine());
        QVERIFY(caller.readLine().startsWith("ERRO"));
    }

    void heldConnectionsNeverLockACallerOut()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("zuna.sock"));
        LocalSocketSource source(path, QStringLiteral("11"));
        source.setIdleMs(400);
        source.start();
        // Every place taken by clients that send blank lines and no number.
        std::vector<std::unique_ptr<QLocalSocket>> chatty;
        for (int i = 0; i < LocalSocketSource::MaxClients; ++i) {
            chatty.push_back(std::make_unique<QLocalSocket>());
            chatty.back()->connectToServer(path);
            QVERIFY(chatty.back()->waitForConnected(2000));
        }
        QTimer keepTalking;
        int rounds = 0;
        connect(&keepTalking, &QTimer::timeout, this, [&] {
            for (const auto &c : chatty)
                c->write("\r");
            ++rounds;
        });
        keepTalking.start(100);
        QTRY_VERIFY(rounds > 0);
        // A caller (another program: here another thread) still gets in;
        // blank lines keep nobody.
        QString error;
        std::atomic<int> sent = -1;
        std::unique_ptr<QThread> caller(QThread::create(
            [&] { sent = LocalSocketSource::sendNumber(path, QStringLiteral("1133334444"), &error) ? 1 : 0; }));
        caller->start();
        QTRY_VERIFY_WITH_TIMEOUT(sent != -1, 10000);
        caller->wait();
        QVERIFY2(sent == 1, qPrintable(error));
        QTRY_VERIFY_WITH_TIMEOUT(std::none_of(chatty.cbegin(), chatty.cend(),
                                     [](const auto &c) { return c->state() == QLocalSocket::ConnectedState; }),
            3000);
    }

    void everyRecordingDecodesOrIsRefusedInWords_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("expected"); // the message, or a word of the refusal
        QTest::newRow("16-bit") << "pcm16"
                                << "A1133334444C";
        QTest::newRow("32-bit float") << "float"
                                      << "A1133334444C";
        QTest::newRow("64-bit float") << "double"
                                      << "A1133334444C";
        QTest::newRow("11025 Hz") << "11025"
                                  << "A1133334444C";
        QTest::newRow("declared 8 Hz") << "8hz"
                                       << "Hz";
        QTest::newRow("declared 7000 Hz") << "7000hz"
                                          << "Hz";
        QTest::newRow("garbage") << "garbage"
                                 << "não é uma gravação";
        QTest::newRow("a pipe") << "fifo"
                                << "não é um arquivo comum";
        QTest::newRow("a folder") << "folder"
                                  << "não é um arquivo comum";
        QTest::newRow("missing") << "missing"
                                 << "não existe";
    }
    void everyRecordingDecodesOrIsRefusedInWords()
    {
        QFETCH(QString, kind);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("linha.wav"));
        const auto audio = [&](int rate) { return message(QStringLiteral("A1133334444C"), rate); };
        if (kind == QLatin1String("pcm16"))
            writeRecording(path, 8000, SF_FORMAT_PCM_16, audio(8000));
        else if (kind == QLatin1String("float"))
            writeRecording(path, 48000, SF_FORMAT_FLOAT, audio(48000));
        else if (kind == QLatin1String("double"))
            writeRecording(path, 44100, SF_FORMAT_DOUBLE, audio(44100));
        else if (kind == QLatin1String("11025"))
            writeRecording(path, 11025, SF_FORMAT_PCM_16, audio(11025));
        else if (kind == QLatin1String("8hz"))
            writeRecording(path, 8, SF_FORMAT_PCM_16, std::vector<double>(36000, 0.5));
        else if (kind == QLatin1String("7000hz"))
            writeRecording(path, 7000, SF_FORMAT_PCM_16, std::vector<double>(7000, 0.1));
        else if (kind == QLatin1String("garbage")) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(QByteArray("ID3\x03\x00\x00\x00\x00\x0f\x76\xff\xfb\x90\x64", 14).repeated(500));
        } else if (kind == QLatin1String("fifo"))
            QCOMPARE(mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        else if (kind == QLatin1String("folder"))
            QVERIFY(QDir().mkdir(path));
        QString error;
        QElapsedTimer took;
        took.start();
        const QStringList found = decode(path, &error);
        QVERIFY(took.elapsed() < 5000); // a pipe must not block
        if (expected.startsWith(QLatin1Char('A'))) {
            QCOMPARE(found, QStringList { expected });
        } else {
            QCOMPARE(found, QStringList { QStringLiteral("<refused>") });
            QVERIFY2(error.contains(expected), qPrintable(error));
        }
    }

    void aSoundDeviceThatFailsIsNotShownAsASilentLine()
    {
        class Failing : public AudioCapture
        {
        public:
            bool open(const QString &, int, QString *error) override
            {
                *error
                    = QStringLiteral("Sem som da linha: o servidor de som não abriu a entrada (Connection refused).");
                return false;
            }
            bool read(int16_t *, size_t, QString *) override { return false; }
        };
        AudioCapture::setFactory([] { return std::make_unique<Failing>(); });
        QTemporaryDir dir;
        CallerIdSetupDialog dialog(dir.path());
        dialog.findChild<QPushButton *>(QStringLiteral("testar"))->click();
        auto *state = dialog.findChild<QLabel *>(QStringLiteral("estadoTeste"));
        QTRY_VERIFY(state->text().contains(QLatin1String("Sem som")));
        QCOMPARE(dialog.findChild<QProgressBar *>(QStringLiteral("nivel"))->format(), QStringLiteral("falhou"));
        dialog.findChild<QPushButton *>(QStringLiteral("testar"))->click();
        AudioCapture::setFactory({});
    }
};

QTEST_MAIN(TestLineSourcesUnderStress)
#include "TestLineSourcesUnderStress.moc"
