#include "DtmfSignal.h"
#include "FakeModem.h"
#include "KamailioServer.h"
#include "SipTestAccount.h"
#include "TestSupport.h"
#include "WavFile.h"

#include "core/callerid/CallerIdSettings.h"
#include "gui/app/FirstRunAssistant.h"
#include "gui/callerid/CallerIdSetupDialog.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QProgressBar>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

namespace {

// The configuration screen's list of sources, in its order.
enum SourceRow { SoundCardRow = 0, ModemRow = 2, NcidRow = 3, SipRow = 4 };

// The assistant answered up to its line page, where the attendant opens the
// configuration screen, checks the source there and saves it.
class LinePage
{
public:
    explicit LinePage(const QString &dataDir)
        : wizard(dataDir, QStringLiteral(ZUNA_BINARY))
    {
        wizard.show();
        wizard.findChild<QLineEdit *>(QStringLiteral("local"))->setText(QStringLiteral("Loja"));
        wizard.next();
        wizard.findChild<QLineEdit *>(QStringLiteral("ddd"))->setText(QStringLiteral("11"));
        wizard.next();
        wizard.next(); // a new register here
    }

    // Opens the configuration screen from the page, has `check` work on it,
    // then saves it as "Gravar" does. False when the screen did not open.
    bool configure(const std::function<void(CallerIdSetupDialog *)> &check)
    {
        if (wizard.currentId() != FirstRunAssistant::LinePage)
            return false;
        bool opened = false;
        QTimer::singleShot(0, &wizard, [&] {
            auto *setup = qobject_cast<CallerIdSetupDialog *>(QApplication::activeModalWidget());
            if (!setup)
                return;
            opened = true;
            check(setup);
            setup->accept(); // even after a failed check, so that the test goes on
        });
        wizard.findChild<QAbstractButton *>(QStringLiteral("configurarLinha"))->click();
        return opened;
    }

    FirstRunAssistant wizard;
};

template <class W> W *field(QWidget *parent, const char *name)
{
    W *w = parent->findChild<W *>(QLatin1String(name));
    if (!w)
        qFatal("no field %s", name);
    return w;
}

QString lineState(CallerIdSetupDialog *setup)
{
    return field<QLabel>(setup, "estadoFonte")->text();
}

// A sound server of the test's own, with a silent output whose monitor is
// the "line" a sound card would capture.
class SoundServer
{
public:
    ~SoundServer()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            m_process.waitForFinished(5000);
        }
        qputenv("XDG_RUNTIME_DIR", m_oldRuntime);
    }
    bool start(QString *why)
    {
        const QString pulseaudio = QStandardPaths::findExecutable(QStringLiteral("pulseaudio"));
        m_paplay = QStandardPaths::findExecutable(QStringLiteral("paplay"));
        if (pulseaudio.isEmpty() || m_paplay.isEmpty()) {
            *why = QStringLiteral("pulseaudio and paplay are needed (scripts/install-deps.sh)");
            return false;
        }
        m_oldRuntime = qgetenv("XDG_RUNTIME_DIR");
        qputenv("XDG_RUNTIME_DIR", m_runtime.path().toLocal8Bit());
        m_process.start(pulseaudio,
            { QStringLiteral("--daemonize=no"), QStringLiteral("--exit-idle-time=-1"), QStringLiteral("-n"),
                QStringLiteral("--load=module-null-sink sink_name=line"),
                QStringLiteral("--load=module-native-protocol-unix") });
        if (!m_process.waitForStarted()) {
            *why = m_process.errorString();
            return false;
        }
        return true;
    }
    bool ready() const { return QFile::exists(m_runtime.filePath(QStringLiteral("pulse/native"))); }
    // Plays the keypad tones of `message` into the line; false when they could not be played.
    bool play(const QString &message)
    {
        const QString wav = m_runtime.filePath(QStringLiteral("linha.wav"));
        DtmfSignal signal;
        signal.rate = 44100;
        writeWav(wav, signal.render(message), signal.rate);
        QProcess play;
        play.start(m_paplay, { QStringLiteral("--device=line"), wav });
        return play.waitForFinished(20000) && play.exitCode() == 0;
    }

private:
    QTemporaryDir m_runtime;
    QByteArray m_oldRuntime;
    QString m_paplay;
    QProcess m_process;
};

} // namespace

// The assistant's line page: the configuration screen it opens checks the
// chosen source on the spot, the way the monitor will run it (the level
// meter and the digits for a sound card, the registration for a SIP
// account, the connection for an NCID server or a modem), and the source
// checked is the one the new folder keeps.
class TestFirstRunLine : public QObject
{
    Q_OBJECT

private slots:
    void aSoundCardShowsItsLevelAndDigits()
    {
        SoundServer sound;
        QString why;
        QVERIFY2(sound.start(&why), qPrintable(why));
        QTRY_VERIFY_WITH_TIMEOUT(sound.ready(), 10000);
        QTemporaryDir home;
        const QString dataDir = home.filePath(QStringLiteral("zuna"));
        LinePage page(dataDir);
        int loudest = -60;
        QVERIFY(page.configure([&](CallerIdSetupDialog *setup) {
            field<QComboBox>(setup, "fonte")->setCurrentIndex(SoundCardRow);
            auto *device = field<QComboBox>(setup, "entrada-de-som");
            const int listed = device->findData(QStringLiteral("line.monitor"));
            QVERIFY2(listed >= 0, "the sound server's inputs are offered");
            device->setCurrentIndex(listed);
            auto *level = field<QProgressBar>(setup, "nivel");
            connect(level, &QProgressBar::valueChanged, setup, [&](int db) { loudest = std::max(loudest, db); });
            auto *test = field<QAbstractButton>(setup, "testar");
            test->click();
            QCOMPARE(test->text(), QStringLiteral("&Parar"));
            QVERIFY(sound.play(QStringLiteral("A1133334444C")));
            auto *digits = field<QLineEdit>(setup, "digitos");
            QTRY_VERIFY2_WITH_TIMEOUT(digits->text().contains(QLatin1String("1133334444")),
                qPrintable(digits->text() + QLatin1Char(' ') + field<QLabel>(setup, "estadoTeste")->text()), 10000);
            QVERIFY2(loudest > -40, qPrintable(QString::number(loudest)));
            test->click();
            QCOMPARE(level->value(), -60);
        }));
        QVERIFY(page.wizard.findChild<QLabel *>(QStringLiteral("fonteEscolhida"))
                    ->text()
                    .contains(QLatin1String("line.monitor")));
        page.wizard.accept();
        QCOMPARE(page.wizard.result(), int(QDialog::Accepted));
        const CallerIdSettings line = CallerIdSettings::load(dataDir);
        QCOMPARE(line.source, CallerIdSettings::Source::SoundCard);
        QCOMPARE(line.soundDevice, QStringLiteral("line.monitor"));
    }

    // The registration on a real registrar: accepted, or the password
    // refused, said on the screen before anything is saved.
    void aSipAccountShowsItsRegistration_data()
    {
        QTest::addColumn<QByteArray>("registrarPassword");
        QTest::addColumn<QString>("shown");
        QTest::newRow("registered") << SipTestAccount::Password.toByteArray() << "Registrado";
        QTest::newRow("password refused") << QByteArray("outra-senha") << "senha recusados";
    }
    void aSipAccountShowsItsRegistration()
    {
        QFETCH(QByteArray, registrarPassword);
        QFETCH(QString, shown);
        QString why;
        auto registrar = KamailioServer::start(registrarPassword, &why);
        if (!registrar)
            QSKIP(qPrintable(why));
        QTemporaryDir secrets;
        SipTestAccount account;
        QVERIFY(account.writePasswordFile(secrets.path()));
        const QString address = QStringLiteral("zuna@127.0.0.1:%1").arg(registrar->port());
        QTemporaryDir home;
        const QString dataDir = home.filePath(QStringLiteral("zuna"));
        LinePage page(dataDir);
        QVERIFY(page.configure([&](CallerIdSetupDialog *setup) {
            field<QComboBox>(setup, "fonte")->setCurrentIndex(SipRow);
            field<QLineEdit>(setup, "sip-conta")->setText(address);
            field<QLineEdit>(setup, "sip-arquivo-senha")->setText(account.passwordFile());
            field<QAbstractButton>(setup, "testarFonte")->click();
            QTRY_VERIFY2_WITH_TIMEOUT(lineState(setup).contains(shown), qPrintable(lineState(setup)), 10000);
        }));
        page.wizard.accept();
        QCOMPARE(page.wizard.result(), int(QDialog::Accepted));
        const CallerIdSettings line = CallerIdSettings::load(dataDir);
        QCOMPARE(line.source, CallerIdSettings::Source::Sip);
        QCOMPARE(line.sipAccount, address);
        QCOMPARE(line.sipPasswordPath(), account.passwordFile());
    }

    // An NCID server speaking its line protocol: the connection, then the
    // calls it hands over.
    void anNcidServerShowsItsConnection()
    {
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        QTemporaryDir home;
        const QString dataDir = home.filePath(QStringLiteral("zuna"));
        LinePage page(dataDir);
        QVERIFY(page.configure([&](CallerIdSetupDialog *setup) {
            field<QComboBox>(setup, "fonte")->setCurrentIndex(NcidRow);
            field<QLineEdit>(setup, "ncid-servidor")->setText(QStringLiteral("127.0.0.1"));
            field<QSpinBox>(setup, "ncid-porta")->setValue(server.serverPort());
            field<QAbstractButton>(setup, "testarFonte")->click();
            QTRY_VERIFY(server.hasPendingConnections());
            std::unique_ptr<QTcpSocket> peer(server.nextPendingConnection());
            peer->write("200 NCID Server\r\n300 End of connection startup\r\n");
            QTRY_VERIFY2(
                lineState(setup).startsWith(QLatin1String("Conectado ao servidor NCID")), qPrintable(lineState(setup)));
            peer->write("CID: *DATE*12082026*TIME*0130*NMBR*1133334444*NAME*ANA*\r\n");
            QTRY_VERIFY2(
                lineState(setup).contains(QStringLiteral("Chamada: 1133334444 · ANA")), qPrintable(lineState(setup)));
        }));
        page.wizard.accept();
        QCOMPARE(page.wizard.result(), int(QDialog::Accepted));
        const CallerIdSettings line = CallerIdSettings::load(dataDir);
        QCOMPARE(line.source, CallerIdSettings::Source::Ncid);
        QCOMPARE(line.ncidPort, int(server.serverPort()));
    }

    // A modem on its serial port: set up with its command, then the numbers
    // it reports.
    void aModemShowsItIsReady()
    {
        FakeModem modem;
        QTemporaryDir home;
        const QString dataDir = home.filePath(QStringLiteral("zuna"));
        LinePage page(dataDir);
        QVERIFY(page.configure([&](CallerIdSetupDialog *setup) {
            field<QComboBox>(setup, "fonte")->setCurrentIndex(ModemRow);
            field<QComboBox>(setup, "modem-porta")->setCurrentText(modem.port());
            field<QAbstractButton>(setup, "testarFonte")->click();
            QTRY_VERIFY2(lineState(setup).startsWith(QStringLiteral("Modem pronto em %1").arg(modem.port())),
                qPrintable(lineState(setup)));
            QByteArray sent;
            QTRY_VERIFY2((sent += modem.received()).contains("\r"), sent.constData());
            QVERIFY(modem.send("\r\nRING\r\n\r\nDATE = 1208\r\nTIME = 0130\r\nNMBR = 33334444\r\nNAME = ANA\r\n"));
            QTRY_VERIFY2(
                lineState(setup).contains(QStringLiteral("Chamada: 1133334444 · ANA")), qPrintable(lineState(setup)));
        }));
        page.wizard.accept();
        QCOMPARE(page.wizard.result(), int(QDialog::Accepted));
        const CallerIdSettings line = CallerIdSettings::load(dataDir);
        QCOMPARE(line.source, CallerIdSettings::Source::Modem);
        QCOMPARE(line.modemPort, modem.port());
    }
};

QTEST_MAIN(TestFirstRunLine)
#include "TestFirstRunLine.moc"
