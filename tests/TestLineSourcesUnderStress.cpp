#include "DtmfSignal.h"
#include "TestSupport.h"

#include "callerid/CallerIdSetupDialog.h"
#include "callerid/sources/AudioCapture.h"
#include "callerid/sources/AudioFileSource.h"
#include "callerid/sources/LineSplitter.h"
#include "callerid/sources/LocalSocketSource.h"
#include "callerid/sources/NcidSource.h"

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
#include <atomic>

#include <sndfile.h>
#include <sys/stat.h>

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
        QTest::newRow("garbage without breaks is dropped")
            << QList<QByteArray> { QByteArray(5000, 'x'), "y\n" } << QList<QByteArray> { "y" };
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
            QTest::qWait(20);
        }
        QTest::qWait(500);
        ticker.stop();
        QVERIFY2(longestGap < 250, qPrintable(QString::number(longestGap)));
        // Numbers are handed on at a pace the window can follow.
        QVERIFY2(
            numbers.size() <= clock.elapsed() / LineSource::PaceMs + 2, qPrintable(QString::number(numbers.size())));
        QVERIFY(numbers.size() >= 2);
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
        connect(&keepTalking, &QTimer::timeout, this, [&] {
            for (const auto &c : chatty)
                c->write("\r");
        });
        keepTalking.start(100);
        QTest::qWait(50);
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
