// bench-callerid [DIR] [--database URL] [--calls-only]: the caller-ID chain.
// 1. Decoding speed at 48 kHz (resample, filter, detect, parse), one core.
// 2. Delay from the start of the final tone to the number event, in samples.
// 3. CPU used by a capture on an idle line, through a sound server started
//    here (PulseAudio with a null sink), when pulseaudio is installed.
// 4. With DIR (a data folder, e.g. a million contacts): from the number event
//    to the caller's fields filled, on the real window offscreen. With
//    --database, the register is the one on that PostgreSQL server, as
//    `zuna --database` uses it; otherwise the data folder's own.
// --calls-only skips 1 to 3, which do not depend on the register.
#include "DtmfSignal.h"

#include "core/callerid/DtmfDecoder.h"
#include "core/callerid/sources/SoundCardSource.h"
#include "core/contacts/PhoneNumber.h"
#include "core/contacts/Register.h"
#include "gui/app/MainWindow.h"
#include "gui/app/Startup.h"
#include "gui/callerid/CallerIdControl.h"
#include "gui/platform/MessageBoxes.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>

namespace {

double cpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double median(QList<double> v)
{
    std::sort(v.begin(), v.end());
    return v.at(v.size() / 2);
}

const QString Message = QStringLiteral("A1133334444C");

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTextStream out(stdout);
    QStringList args = app.arguments().mid(1);
    QString databaseUrl;
    if (const qsizetype at = args.indexOf(QStringLiteral("--database")); at >= 0 && at + 1 < args.size()) {
        databaseUrl = args.at(at + 1);
        args.remove(at, 2);
    }
    const bool callsOnly = args.removeAll(QStringLiteral("--calls-only")) > 0;
    if (args.contains(QStringLiteral("--database")) || ((callsOnly || !databaseUrl.isEmpty()) && args.isEmpty())) {
        QTextStream(stderr) << "uso: bench-callerid [PASTA] [--database URL] [--calls-only]\n";
        return 2;
    }

    if (!callsOnly) { // 1. decoding speed
        DtmfSignal signal;
        signal.rate = 48000;
        std::vector<int16_t> minute;
        while (minute.size() < size_t(60 * 48000)) {
            const auto part = signal.render(Message);
            minute.insert(minute.end(), part.begin(), part.end());
            minute.resize(minute.size() + 48000 * 4, 0); // quiet between calls
            ++signal.seed;
        }
        int messages = 0;
        DtmfDecoder decoder(48000, 8, [&](const CallerIdMessage &) { ++messages; });
        const double start = cpuSeconds();
        for (size_t i = 0; i < minute.size(); i += 960)
            decoder.feed(minute.data() + i, std::min<size_t>(960, minute.size() - i));
        decoder.finish();
        const double used = cpuSeconds() - start;
        const double audio = double(minute.size()) / 48000;
        out << "decoding 48 kHz: " << audio << " s of audio in " << used * 1000
            << " ms of CPU = " << qint64(audio / used) << "x real time (" << messages << " messages)\n";
    }

    if (!callsOnly) { // 2. delay of the number event
        QList<double> delays;
        for (quint32 seed = 1; seed <= 50; ++seed) {
            DtmfSignal signal;
            signal.seed = seed;
            qint64 endMs = -1;
            DtmfDecoder decoder(8000, 8, [&](const CallerIdMessage &m) { endMs = m.endMs; });
            const auto audio = signal.render(Message);
            decoder.feed(audio.data(), audio.size());
            decoder.finish();
            if (endMs >= 0)
                delays << endMs - signal.toneStartMs(Message, int(Message.size()) - 1);
        }
        out << "number event after the start of the final tone: median " << median(delays) << " ms, max "
            << *std::max_element(delays.begin(), delays.end()) << " ms (" << delays.size() << " of 50 decoded)\n";
    }

    if (!callsOnly) { // 3. idle capture
        const QString pulseaudio = QStandardPaths::findExecutable(QStringLiteral("pulseaudio"));
        if (pulseaudio.isEmpty()) {
            out << "idle capture: pulseaudio not installed, skipped\n";
        } else {
            QTemporaryDir runtime;
            qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
            QProcess server;
            server.start(pulseaudio,
                { QStringLiteral("--daemonize=no"), QStringLiteral("--exit-idle-time=-1"), QStringLiteral("-n"),
                    QStringLiteral("--load=module-null-sink sink_name=line"),
                    QStringLiteral("--load=module-native-protocol-unix") });
            server.waitForStarted();
            QElapsedTimer wait;
            wait.start();
            while (!QFile::exists(runtime.filePath(QStringLiteral("pulse/native"))) && wait.elapsed() < 10000)
                QTest::qWait(50);
            SoundCardSource source(QStringLiteral("line.monitor"), 8, QStringLiteral("11"));
            source.start();
            auto idle = [](int ms) {
                QEventLoop loop;
                QTimer::singleShot(ms, &loop, &QEventLoop::quit);
                loop.exec();
            };
            idle(1000);
            const double start = cpuSeconds();
            QElapsedTimer wall;
            wall.start();
            idle(10000);
            const double used = cpuSeconds() - start;
            out << "idle capture: " << 100.0 * used / (wall.elapsed() / 1000.0) << " % of one core over "
                << wall.elapsed() / 1000.0 << " s\n";
            source.stop();
            server.terminate();
            server.waitForFinished(5000);
        }
    }

    if (!args.isEmpty()) { // 4. number event to fields filled
        class Silent : public MessageBoxes
        {
        public:
            Answer show(QWidget *, Icon, const QString &, const QString &text, Buttons) override
            {
                last = text;
                return Answer::Ok;
            }
            QString last;
        } silent;
        MessageBoxes::setInstance(&silent);
        const QString dir = args.at(0);
        QStringList phones;
        { // the register alone, closed before the window opens its own
            QString error;
            const auto reg = Register::open(dir, databaseUrl, Register::Patience::Background, &error);
            qint64 count = 0;
            if (!reg || !reg->count(&count, &error)) {
                QTextStream(stderr) << "bench-callerid: " << error << '\n';
                return 1;
            }
            // Numbers as a line sends them (the register's key), for contacts
            // spread over the whole register (every count/200th code),
            // whatever way their telephone was written.
            const qint64 step = std::max<qint64>(1, count / 200);
            for (qint64 code = step; code <= count && phones.size() < 200; code += step) {
                std::optional<ContactRecord> contact;
                if (reg->findByCode(code, &contact, &error) && contact)
                    phones << PhoneNumber::read(contact->a4, QStringLiteral("11")).key();
            }
            if (phones.isEmpty()) {
                QTextStream(stderr) << "bench-callerid: no contacts to call from in " << reg->where() << '\n';
                return 1;
            }
            // The floor: the register's lookup alone, without the window.
            QList<double> times;
            for (const QString &phone : phones) {
                std::optional<ContactRecord> found;
                QElapsedTimer t;
                t.start();
                reg->findCaller(PhoneNumber::read(phone, QStringLiteral("11")), &found, nullptr);
                times << t.nsecsElapsed() / 1e6;
            }
            out << "lookup by key alone (" << times.size() << " numbers): median " << median(times) << " ms, max "
                << *std::max_element(times.begin(), times.end()) << " ms\n";
        }
        Startup startup(dir, databaseUrl);
        if (startup.start() != Startup::Outcome::Running) {
            QTextStream(stderr) << "bench-callerid: " << silent.last << '\n';
            return 1;
        }
        MainWindow *w = startup.mainWindow();
        auto *a1 = w->findChild<QLineEdit *>(QStringLiteral("A1"));
        auto *text1 = w->findChild<QLineEdit *>(QStringLiteral("Text1"));
        w->callerId()->setDataDir(QString()); // no line source: numbers come from here
        w->callerId()->activate();
        QList<double> times;
        for (const QString &phone : phones) {
            text1->clear();
            a1->clear();
            QElapsedTimer t;
            t.start();
            w->callerId()->reportNumber(phone);
            times << t.nsecsElapsed() / 1e6;
            if (a1->text().isEmpty())
                out << "not found: " << phone << '\n';
            QCoreApplication::processEvents(); // let the grid paint between calls
        }
        out << "number event to fields filled (" << times.size() << " calls): median " << median(times) << " ms, max "
            << *std::max_element(times.begin(), times.end()) << " ms\n";
    }
    return 0;
}
