#include "BaresipPhone.h"
#include "DtmfSignal.h"
#include "FakeModem.h"
#include "TestSupport.h"
#include "WavFile.h"

#include "core/callerid/CallerIdSettings.h"
#include "core/callerid/sources/LocalSocketSource.h"
#include "core/callerid/sources/ModemSource.h"
#include "core/callerid/sources/NcidSource.h"
#include "core/callerid/sources/SoundCardSource.h"
#include "core/contacts/SqliteRegister.h"
#include "gui/app/MainWindow.h"
#include "gui/callerid/CallerIdControl.h"
#include "gui/callerid/CallerIdSetupDialog.h"

#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <sndfile.h>

namespace {

// A line recording holding these messages one after the other.
std::vector<int16_t> lineAudio(const QStringList &messages, int rate)
{
    std::vector<int16_t> audio;
    DtmfSignal signal;
    signal.rate = rate;
    for (const QString &m : messages) {
        const auto part = signal.render(m);
        audio.insert(audio.end(), part.begin(), part.end());
        ++signal.seed;
    }
    return audio;
}

QProcess *startZuna(const QStringList &arguments)
{
    auto *p = new QProcess;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    p->setProcessEnvironment(env);
    p->start(QStringLiteral(ZUNA_BINARY), arguments);
    return p;
}

} // namespace

class TestCallerIdSources : public QObject
{
    Q_OBJECT

    std::unique_ptr<WindowFixture> m_fx;

    QLineEdit *edit(const char *name) const { return m_fx->control<QLineEdit>(name); }
    QString cd() const { return m_fx->control<QLabel>("CD")->text(); }

    void chooseRecording(const QStringList &messages)
    {
        const QString wav = m_fx->data().file(QStringLiteral("linha.wav"));
        writeWav(wav, lineAudio(messages, 44100), 44100);
        CallerIdSettings s = CallerIdSettings::load(m_fx->data().path());
        s.source = CallerIdSettings::Source::AudioFile;
        s.audioFile = wav;
        QVERIFY(s.save(m_fx->data().path()));
    }

private slots:
    void init() { m_fx = std::make_unique<WindowFixture>(); }
    void cleanup() { m_fx.reset(); }

    // --- incoming call handling, through the real window

    void aKnownCallerFillsTheFormAndTheCode()
    {
        ContactRecord ana = m_fx->data().contact(QStringLiteral("Ana"), QStringLiteral("(11)3333-4444"));
        ana.ob = QStringLiteral("portão azul");
        const qint64 code = m_fx->data().addContact(ana);
        m_fx->data().addContact(m_fx->data().contact(QStringLiteral("Bia"), QStringLiteral("(21)2222-1111")));
        chooseRecording({ QStringLiteral("A1133334444C") });
        QVERIFY(m_fx->start());
        QTest::keyClick(edit("Text1"), Qt::Key_F1);
        QTRY_COMPARE(edit("Text1")->text(), QStringLiteral("(11)3333-4444"));
        QCOMPARE(edit("A1")->text(), QStringLiteral("Ana"));
        QCOMPARE(edit("A9")->text(), QStringLiteral("Rua Ana, 10"));
        QCOMPARE(edit("A4")->text(), QStringLiteral("(11)3333-4444"));
        QCOMPARE(cd(), QString::number(code));
        QCOMPARE(m_fx->control<QPlainTextEdit>("OB")->toPlainText(), QStringLiteral("portão azul"));
        QCOMPARE(m_fx->window()->callerId()->text(), QStringLiteral("(11)3333-4444"));
    }

    void numbersArriveOnlyWhileTheMonitorIsActive()
    {
        QVERIFY(m_fx->start());
        CallerIdControl *control = m_fx->window()->callerId();
        QCOMPARE(control->text(), QStringLiteral("0 (00) 0000-0000"));
        control->reportNumber(QStringLiteral("1133334444"));
        QCOMPARE(edit("Text1")->text(), QString());
        QTest::keyClick(edit("Text1"), Qt::Key_F1);
        control->reportNumber(QStringLiteral("1133334444"));
        QCOMPARE(edit("Text1")->text(), QStringLiteral("(11)3333-4444"));
        QTest::keyClick(edit("Text1"), Qt::Key_F2);
        control->reportNumber(QStringLiteral("2122223333"));
        QCOMPARE(edit("Text1")->text(), QStringLiteral("(11)3333-4444"));
    }

    void theControlKeepsItsSettingsInItsOwnFile()
    {
        QVERIFY(m_fx->start());
        edit("Text11")->setText(QStringLiteral("31"));
        m_fx->window()->activateCallerId();
        const CallerIdSettings s = CallerIdSettings::load(m_fx->data().path());
        QCOMPARE(s.a2DDDLocal, QStringLiteral("31"));
#ifndef Q_OS_WIN
        QCOMPARE(s.a3RootPlugIn, CallerIdSettings().a3RootPlugIn); // no plug-in off Windows
#endif
        QCOMPARE(s.a8Sensibility, 8);
    }

    void aRepeatedMessageIsOneCall()
    {
        chooseRecording(
            { QStringLiteral("A1133334444C"), QStringLiteral("A1133334444C"), QStringLiteral("A2122223333C") });
        QVERIFY(m_fx->start());
        QSignalSpy numbers(m_fx->window()->callerId(), &CallerIdControl::numberReceived);
        QElapsedTimer clock;
        clock.start();
        m_fx->window()->activateCallerId();
        // Each message when its time in the recording has come: the second
        // call not before the third message has been played.
        QTRY_COMPARE(numbers.size(), 1);
        const qint64 first = clock.elapsed();
        QTRY_COMPARE_WITH_TIMEOUT(numbers.size(), 2, 15000);
        QVERIFY2(clock.elapsed() - first > 2000, qPrintable(QString::number(clock.elapsed() - first)));
        QCOMPARE(numbers.at(0).at(0).toString(), QStringLiteral("1133334444"));
        QCOMPARE(numbers.at(1).at(0).toString(), QStringLiteral("2122223333"));
    }

    void withheldNumbersAreTextNotNumbers()
    {
        chooseRecording({ QStringLiteral("D1#"), QStringLiteral("B00C") });
        QVERIFY(m_fx->start());
        QSignalSpy texts(m_fx->window()->callerId(), &CallerIdControl::textReceived);
        m_fx->window()->activateCallerId();
        QTRY_COMPARE(texts.size(), 2);
        QCOMPARE(texts.at(0).at(0).toString(), QStringLiteral("Número restrito"));
        QCOMPARE(texts.at(1).at(0).toString(), QStringLiteral("Número indisponível"));
        QCOMPARE(edit("Text1")->text(), QString());
    }

    void aNumberCanBeHandedOverWithZunaCall()
    {
        m_fx->data().addContact(m_fx->data().contact(QStringLiteral("Ana"), QStringLiteral("(11)3333-4444")));
        QVERIFY(m_fx->start());
        std::unique_ptr<QProcess> refused(startZuna({ QStringLiteral("--data-dir"), m_fx->data().path(),
            QStringLiteral("--call"), QStringLiteral("1133334444") }));
        QTRY_COMPARE_WITH_TIMEOUT(refused->state(), QProcess::NotRunning, 10000);
        QVERIFY(refused->exitCode() != 0);
        QVERIFY(refused->readAllStandardError().contains("F1"));

        edit("Text11")->setText(QStringLiteral("11"));
        m_fx->window()->activateCallerId();
        std::unique_ptr<QProcess> call(startZuna({ QStringLiteral("--data-dir"), m_fx->data().path(),
            QStringLiteral("--call"), QStringLiteral("33334444") }));
        QTRY_COMPARE_WITH_TIMEOUT(call->state(), QProcess::NotRunning, 10000);
        QCOMPARE(call->exitCode(), 0);
        // 8 digits: the area code given at activation goes in front.
        QCOMPARE(edit("Text1")->text(), QStringLiteral("(11)3333-4444"));
        QCOMPARE(edit("A1")->text(), QStringLiteral("Ana"));
    }

    void decodeListsTheMessagesOfARecording()
    {
        QTemporaryDir dir;
        const QString wav = dir.filePath(QStringLiteral("linha.wav"));
        writeWav(wav, lineAudio({ QStringLiteral("A1133334444C"), QStringLiteral("D1#") }, 48000), 48000);
        std::unique_ptr<QProcess> p(
            startZuna({ QStringLiteral("--data-dir"), dir.path(), QStringLiteral("--decode"), wav }));
        QVERIFY(p->waitForFinished(20000));
        QCOMPARE(p->exitCode(), 0);
        const QString out = QString::fromUtf8(p->readAllStandardOutput());
        QVERIFY2(out.contains(QStringLiteral("A1133334444C  número 1133334444")), qPrintable(out));
        QVERIFY2(out.contains(QStringLiteral("D1#  Número restrito")), qPrintable(out));
        QVERIFY2(out.contains(QStringLiteral("00:01.")), qPrintable(out));
    }

    void theConfigurationScreenStoresTheChosenSource()
    {
        QTemporaryDir dir;
        CallerIdSetupDialog dialog(dir.path());
        dialog.findChild<QComboBox *>(QStringLiteral("fonte"))->setCurrentIndex(2); // Modem
        dialog.findChild<QComboBox *>(QStringLiteral("modem-porta"))->setCurrentText(QStringLiteral("/dev/ttyUSB0"));
        dialog.findChild<QLineEdit *>(QStringLiteral("ddd"))->setText(QStringLiteral("21"));
        dialog.findChild<QSpinBox *>(QStringLiteral("sensibilidade"))->setValue(10);
        dialog.accept();
        const CallerIdSettings s = CallerIdSettings::load(dir.path());
        QCOMPARE(s.source, CallerIdSettings::Source::Modem);
        QCOMPARE(s.modemPort, QStringLiteral("/dev/ttyUSB0"));
        QCOMPARE(s.modemInit, QStringLiteral("AT+VCID=1"));
        QCOMPARE(s.a2DDDLocal, QStringLiteral("21"));
        QCOMPARE(s.a8Sensibility, 10);
    }

    void aSipAccountGoesThroughTheConfigurationScreenUnchanged()
    {
        QTemporaryDir dir;
        CallerIdSettings before;
        before.dataDir = dir.path();
        QString error;
        QVERIFY2(before.applyLine(QStringLiteral("sip:2001@pabx.local;transport=tcp"), &error), qPrintable(error));
        before.sipAuthUser = QStringLiteral("mesa1");
        QVERIFY(before.save(dir.path()));
        {
            CallerIdSetupDialog dialog(dir.path());
            QCOMPARE(dialog.findChild<QComboBox *>(QStringLiteral("fonte"))->currentText(),
                QStringLiteral("Conta SIP (registro no PABX)"));
            QVERIFY(dialog.findChild<QLineEdit *>(QStringLiteral("sip-conta"))->isVisibleTo(&dialog));
            dialog.accept();
        }
        const CallerIdSettings after = CallerIdSettings::load(dir.path());
        QCOMPARE(after.source, CallerIdSettings::Source::Sip);
        QCOMPARE(after.sipAccount, QStringLiteral("2001@pabx.local;transport=tcp"));
        QCOMPARE(after.sipAuthUser, QStringLiteral("mesa1"));
        QCOMPARE(after.sipPasswordPath(), QDir(dir.path()).filePath(QStringLiteral("sip-senha")));
    }

    void aLineNamedForOneRunIsRead_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<int>("source");
        QTest::addColumn<QString>("where");
        using S = CallerIdSettings::Source;
        QTest::newRow("default sound card") << "som" << int(S::SoundCard) << "";
        QTest::newRow("sound card") << "som:alsa_input.usb-mono" << int(S::SoundCard) << "alsa_input.usb-mono";
        QTest::newRow("recording") << "arquivo:/tmp/linha 1.wav" << int(S::AudioFile) << "/tmp/linha 1.wav";
        QTest::newRow("modem") << "modem:/dev/ttyUSB0" << int(S::Modem) << "/dev/ttyUSB0";
        QTest::newRow("ncid") << "ncid:pbx.local" << int(S::Ncid) << "pbx.local:3333";
        QTest::newRow("ncid with port") << "ncid:10.0.0.5:3334" << int(S::Ncid) << "10.0.0.5:3334";
        QTest::newRow("ncid on IPv6") << "ncid:[fe80::1]:3335" << int(S::Ncid) << "fe80::1:3335";
        QTest::newRow("sip account") << "sip:2001@pabx.local" << int(S::Sip) << "2001@pabx.local";
        QTest::newRow("sip account over tcp")
            << "sip:2001@10.0.0.2:5080;transport=tcp" << int(S::Sip) << "2001@10.0.0.2:5080;transport=tcp";
        QTest::newRow("sip listening") << "sip-escuta:5062" << int(S::SipListen) << "5062";
        QTest::newRow("sip listening on an address")
            << "sip-escuta:192.168.0.10:5060" << int(S::SipListen) << "192.168.0.10:5060";
    }

    void aLineNamedForOneRunIsRead()
    {
        QFETCH(QString, line);
        QFETCH(int, source);
        QFETCH(QString, where);
        CallerIdSettings s;
        QString error;
        QVERIFY2(s.applyLine(line, &error), qPrintable(error));
        QCOMPARE(int(s.source), source);
        const QString got = s.source == CallerIdSettings::Source::SoundCard ? s.soundDevice
            : s.source == CallerIdSettings::Source::AudioFile               ? s.audioFile
            : s.source == CallerIdSettings::Source::Modem                   ? s.modemPort
            : s.source == CallerIdSettings::Source::Sip                     ? s.sipAccount
            : s.source == CallerIdSettings::Source::SipListen
            ? s.sipListen
            : s.ncidHost + QLatin1Char(':') + QString::number(s.ncidPort);
        QCOMPARE(got, where);
    }

    void aLineForOneRunLeavesTheSettingsFileAlone()
    {
        ContactRecord ana = m_fx->data().contact(QStringLiteral("Ana"), QStringLiteral("(11)3333-4444"));
        m_fx->data().addContact(ana);
        const QString wav = m_fx->data().file(QStringLiteral("outra-linha.wav"));
        writeWav(wav, lineAudio({ QStringLiteral("A1133334444C") }, 44100), 44100);
        CallerIdSettings s = CallerIdSettings::load(m_fx->data().path());
        s.source = CallerIdSettings::Source::Modem;
        s.modemPort = QStringLiteral("/dev/nao-existe");
        QVERIFY(s.save(m_fx->data().path()));
        QVERIFY(m_fx->start());

        m_fx->window()->callerId()->setLineOverride(QStringLiteral("arquivo:") + wav);
        QTest::keyClick(edit("Text1"), Qt::Key_F1);
        QTRY_COMPARE(edit("A1")->text(), QStringLiteral("Ana"));
        QCOMPARE(m_fx->window()->callerId()->callSource(), QStringLiteral("arquivo"));
        QTest::keyClick(edit("Text1"), Qt::Key_F2);
        // The desk's own line is still the one in the file.
        const CallerIdSettings after = CallerIdSettings::load(m_fx->data().path());
        QCOMPARE(int(after.source), int(CallerIdSettings::Source::Modem));
        QCOMPARE(after.modemPort, QStringLiteral("/dev/nao-existe"));
        QCOMPARE(after.audioFile, s.audioFile);
    }

    void aSipCallFillsTheFormAndLeavesThePhoneRinging()
    {
        ContactRecord ana = m_fx->data().contact(QStringLiteral("Ana"), QStringLiteral("(11)3333-4444"));
        m_fx->data().addContact(ana);
        QVERIFY(m_fx->start());
        const quint16 port = freeLocalPort();
        m_fx->window()->callerId()->setLineOverride(QStringLiteral("sip-escuta:127.0.0.1:%1").arg(port));
        QTest::keyClick(edit("Text1"), Qt::Key_F1);
        QString why;
        auto phone = BaresipPhone::start(QStringLiteral("\"Padaria\" <sip:+551133334444@127.0.0.1>;regint=0"), &why);
        if (!phone)
            QSKIP(qPrintable(why));
        // The source listens once the monitor is on.
        QTRY_VERIFY(m_fx->window()->callerId()->callSource() == QLatin1String("sip-escuta"));
        phone->dial(QStringLiteral("sip:zuna@127.0.0.1:%1").arg(port));
        QTRY_COMPARE_WITH_TIMEOUT(edit("A1")->text(), QStringLiteral("Ana"), 10000);
        QTRY_VERIFY(phone->events().contains(QLatin1String("CALL_RINGING")));
        QVERIFY(!phone->events().contains(QLatin1String("CALL_ESTABLISHED")));
        phone->hangUp();
        QTest::keyClick(edit("Text1"), Qt::Key_F2);
    }

    void theModemReportsNumbersFromItsLines()
    {
        FakeModem modem;
        ModemSource source(modem.port(), 115200, QStringLiteral("AT+VCID=1"), QStringLiteral("11"));
        QSignalSpy numbers(&source, &LineSource::numberReceived);
        QSignalSpy texts(&source, &LineSource::textReceived);
        QSignalSpy callers(&source, &LineSource::callerReceived);
        source.start();
        QByteArray init;
        QTRY_VERIFY2((init += modem.received()).contains("AT+VCID=1\r"), init.constData());
        QVERIFY(modem.send("\r\nRING\r\n\r\nDATE = 1208\r\nTIME = 0130\r\nNMBR = 33334444\r\nNAME = ANA SOUZA\r\n"));
        QTRY_COMPARE(numbers.size(), 1);
        QCOMPARE(numbers.first().first().toString(), QStringLiteral("1133334444"));
        QCOMPARE(callers.first().at(1).toString(), QStringLiteral("ANA SOUZA"));
        // A name sent first, a name the line withholds, and no name at all.
        QVERIFY(modem.send("NAME = BAR DO ZE\r\nNMBR = 1144445555\r\n"));
        QTRY_COMPARE(callers.size(), 2);
        QCOMPARE(callers.at(1), (QVariantList { QStringLiteral("1144445555"), QStringLiteral("BAR DO ZE") }));
        QVERIFY(modem.send("NMBR = 1155556666\r\nNAME = P\r\n"));
        QTRY_COMPARE(callers.size(), 3);
        QCOMPARE(callers.at(2), (QVariantList { QStringLiteral("1155556666"), QString() }));
        QVERIFY(modem.send("NMBR = 1133336666\r\n"));
        QTRY_COMPARE(callers.size(), 4);
        QCOMPARE(callers.at(3), (QVariantList { QStringLiteral("1133336666"), QString() }));
        QVERIFY(modem.send(QByteArray(5000, '\x7f') + "\r\nNMBR = P\r\n"));
        QTRY_COMPARE(texts.size(), 1);
        QCOMPARE(texts.first().first().toString(), QStringLiteral("Número restrito"));
        QVERIFY(modem.send("NMBR = O\r\n"));
        QTRY_COMPARE(texts.size(), 2);
        QCOMPARE(texts.at(1).first().toString(), QStringLiteral("Número indisponível"));
    }

    void aModemsNameBelongsToItsOwnCallOnly()
    {
        FakeModem modem;
        ModemSource source(modem.port(), 115200, QStringLiteral("AT+VCID=1"), QStringLiteral("11"));
        QSignalSpy callers(&source, &LineSource::callerReceived);
        source.start();
        QByteArray init;
        QTRY_VERIFY2((init += modem.received()).contains("AT+VCID=1\r"), init.constData());
        // A call whose number was lost leaves its name; the calls after it
        // have their own names, or none.
        QVERIFY(modem.send("RING\r\nDATE = 1208\r\nTIME = 0130\r\nNAME = FULANO\r\n"));
        QVERIFY(modem.send("RING\r\nDATE = 1208\r\nTIME = 0131\r\nNMBR = 1133334444\r\nNAME = ANA\r\n"));
        QTRY_COMPARE(callers.size(), 1);
        QCOMPARE(callers.at(0), (QVariantList { QStringLiteral("1133334444"), QStringLiteral("ANA") }));
        QVERIFY(modem.send("RING\r\nDATE = 1208\r\nTIME = 0132\r\nNMBR = 2122223333\r\n"));
        QTRY_COMPARE(callers.size(), 2);
        QCOMPARE(callers.at(1), (QVariantList { QStringLiteral("2122223333"), QString() }));
        QVERIFY(modem.send("RING\r\nDATE = 1208\r\nTIME = 0133\r\nNMBR = 3133334444\r\nNAME = BIA\r\n"));
        QTRY_COMPARE(callers.size(), 3);
        QCOMPARE(callers.at(2), (QVariantList { QStringLiteral("3133334444"), QStringLiteral("BIA") }));
        // A lone name, then a call without RING or DATE: the name after the number is its own.
        QVERIFY(modem.send("NAME = FULANO\r\n"));
        QVERIFY(modem.send("NMBR = 4133334444\r\nNAME = CAIO\r\n"));
        QTRY_COMPARE(callers.size(), 4);
        QCOMPARE(callers.at(3), (QVariantList { QStringLiteral("4133334444"), QStringLiteral("CAIO") }));
        QVERIFY(modem.send("NMBR = 5133334444\r\n"));
        QTRY_COMPARE(callers.size(), 5);
        QCOMPARE(callers.at(4), (QVariantList { QStringLiteral("5133334444"), QString() }));
    }

    void aFailingSourceIsShownBesideTheDisplayAndRetried()
    {
        QVERIFY(m_fx->start());
        CallerIdSettings s = CallerIdSettings::load(m_fx->data().path());
        s.source = CallerIdSettings::Source::Modem;
        s.modemPort = QStringLiteral("/dev/nao-existe");
        QVERIFY(s.save(m_fx->data().path()));
        m_fx->window()->activateCallerId();
        CallerIdControl *display = m_fx->window()->callerId();
        display->reportNumber(QStringLiteral("1133334444")); // the call the attendant is on
        auto *status = m_fx->control<QLabel>("statusLinha");
        QTRY_VERIFY2(status->toolTip().contains(QLatin1String("/dev/nao-existe")), qPrintable(status->toolTip()));
        QVERIFY(status->isVisible());
        QVERIFY(status->toolTip().contains(QLatin1String("tentando de novo")));
        // The display keeps the last number, whatever the source says: here
        // while a retry fails again.
        QSignalSpy retried(display, &CallerIdControl::statusChanged);
        QVERIFY(retried.wait(5000));
        QCOMPARE(display->text(), QStringLiteral("(11)3333-4444"));
        QVERIFY(display->isActive());
        QVERIFY(m_fx->endedWith.isEmpty());
        QTest::keyClick(edit("Text1"), Qt::Key_F2);
        QVERIFY(!status->isVisible());
    }

    void eachSourceShowsItsOwnFailure()
    {
        // The local socket's path is taken by a folder; the line itself is
        // fine: the socket's failure is what shows, not hidden by the line's state.
        QVERIFY(QDir().mkdir(m_fx->data().file(QStringLiteral(".zuna-chamadas.sock"))));
        chooseRecording({ QStringLiteral("A1133334444C") });
        QVERIFY(m_fx->start());
        m_fx->window()->activateCallerId();
        auto *status = m_fx->control<QLabel>("statusLinha");
        QTRY_VERIFY2(status->toolTip().contains(QLatin1String("soquete local")), qPrintable(status->toolTip()));
        QVERIFY(status->palette().color(QPalette::Window) != QColor(59, 110, 165));
    }

    void theNcidClientReadsFieldsByNameAndReconnects()
    {
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        NcidSource source(QStringLiteral("127.0.0.1"), server.serverPort(), QStringLiteral("11"));
        QSignalSpy numbers(&source, &LineSource::numberReceived);
        QSignalSpy texts(&source, &LineSource::textReceived);
        QSignalSpy status(&source, &LineSource::statusChanged);
        source.start();
        QTRY_VERIFY(server.hasPendingConnections());
        std::unique_ptr<QTcpSocket> peer(server.nextPendingConnection());
        peer->write("200 NCID Server\r\n210 API 1.0\r\n300 End of connection startup\r\n");
        peer->write("CID: *DATE*12082026*TIME*0130*LINE*-*NMBR*1133334444*MESG*NONE*NAME*ANA*\r\n");
        peer->write("CID: *NAME*NO NAME*NMBR*PRIVATE*DATE*12082026*\r\n");
        QTRY_COMPARE(numbers.size(), 1);
        QCOMPARE(numbers.first().first().toString(), QStringLiteral("1133334444"));
        QTRY_COMPARE(texts.size(), 1);

        peer->disconnectFromHost(); // the server goes away and comes back
        QTRY_VERIFY(
            std::any_of(status.cbegin(), status.cend(), [](const QList<QVariant> &a) { return !a.at(1).toBool(); }));
        QTRY_VERIFY_WITH_TIMEOUT(server.hasPendingConnections(), 5000);
        peer.reset(server.nextPendingConnection());
        peer->write("CID: *NMBR*2122223333*\r\n");
        QTRY_COMPARE(numbers.size(), 2);
        QCOMPARE(numbers.at(1).first().toString(), QStringLiteral("2122223333"));
    }

    void theNcidClientPassesTheCallerNameAndLine()
    {
        const auto call = NcidSource::fields(
            QStringLiteral("CID: *DATE*12082026*TIME*0130*LINE*POTS*NMBR*1133334444*MESG*NONE*NAME*ANA  SOUZA*"));
        QCOMPARE(NcidSource::callerName(call), QStringLiteral("ANA SOUZA"));
        QCOMPARE(call.value(QStringLiteral("LINE")), QStringLiteral("POTS"));
        for (const char *none : { "NO NAME", "-", "" })
            QCOMPARE(NcidSource::callerName({ { QStringLiteral("NAME"), QString::fromLatin1(none) } }), QString());

        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        NcidSource source(QStringLiteral("127.0.0.1"), server.serverPort(), QStringLiteral("11"));
        QSignalSpy callers(&source, &LineSource::callerReceived);
        source.start();
        QTRY_VERIFY(server.hasPendingConnections());
        std::unique_ptr<QTcpSocket> peer(server.nextPendingConnection());
        peer->write("200 NCID Server\r\n300 End of connection startup\r\n");
        peer->write("CID: *DATE*12082026*TIME*0130*LINE*1234*NMBR*1133334444*MESG*NONE*NAME*ANA*\r\n");
        QTRY_COMPARE(callers.size(), 1);
        QCOMPARE(callers.first(), QVariantList({ QStringLiteral("1133334444"), QStringLiteral("ANA") }));
        QCOMPARE(source.lineLabel(), QStringLiteral("1234"));
        const QString address = QStringLiteral("127.0.0.1:%1").arg(server.serverPort());
        QCOMPARE(source.lineName(), address + QStringLiteral(" 1234")); // as the call log names the line
        peer->write("CID: *NAME*NO NAME*LINE*-*NMBR*2122223333*\r\n");
        QTRY_COMPARE(callers.size(), 2);
        QCOMPARE(callers.at(1), QVariantList({ QStringLiteral("2122223333"), QString() }));
        QCOMPARE(source.lineLabel(), QString());
        QCOMPARE(source.lineName(), address);
    }

    void theSoundCardIsCapturedThroughARealSoundServer()
    {
        const QString pulseaudio = QStandardPaths::findExecutable(QStringLiteral("pulseaudio"));
        const QString paplay = QStandardPaths::findExecutable(QStringLiteral("paplay"));
        QVERIFY2(
            !pulseaudio.isEmpty() && !paplay.isEmpty(), "pulseaudio and paplay are needed (scripts/install-deps.sh)");
        QTemporaryDir runtime;
        const QByteArray oldRuntime = qgetenv("XDG_RUNTIME_DIR");
        qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
        QProcess server;
        server.start(pulseaudio,
            { QStringLiteral("--daemonize=no"), QStringLiteral("--exit-idle-time=-1"), QStringLiteral("-n"),
                QStringLiteral("--load=module-null-sink sink_name=line"),
                QStringLiteral("--load=module-native-protocol-unix") });
        QVERIFY(server.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(runtime.filePath(QStringLiteral("pulse/native"))), 10000);

        const QString wav = runtime.filePath(QStringLiteral("linha.wav"));
        writeWav(wav, lineAudio({ QStringLiteral("A1133334444C") }, 44100), 44100);
        SoundCardSource source(QStringLiteral("line.monitor"), 8, QStringLiteral("11"));
        QSignalSpy numbers(&source, &LineSource::numberReceived);
        QSignalSpy status(&source, &LineSource::statusChanged);
        source.start();
        QTRY_VERIFY_WITH_TIMEOUT(!status.isEmpty() && status.last().at(1).toBool(), 10000);
        QProcess play;
        play.start(paplay, { QStringLiteral("--device=line"), wav });
        QVERIFY(play.waitForFinished(20000));
        QTRY_COMPARE_WITH_TIMEOUT(numbers.size(), 1, 10000);
        QCOMPARE(numbers.first().first().toString(), QStringLiteral("1133334444"));
        source.stop();
        server.terminate();
        server.waitForFinished(5000);
        qputenv("XDG_RUNTIME_DIR", oldRuntime);
    }
};

QTEST_MAIN(TestCallerIdSources)
#include "TestCallerIdSources.moc"
