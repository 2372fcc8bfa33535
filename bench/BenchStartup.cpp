// bench-startup DIR [RUNS]: time from process start to the main window shown,
// and resident memory at that moment, over several fresh processes.
#include "gui/app/MainWindow.h"
#include "gui/app/Startup.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTextStream>
#include <QWindow>

#include <algorithm>
#include <unistd.h>

namespace {

qint64 residentKb(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    status.open(QIODevice::ReadOnly);
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(qstrlen(field)).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

// Milliseconds since this process was started, from the kernel's own record.
double msSinceProcessStart()
{
    QFile stat(QStringLiteral("/proc/self/stat"));
    stat.open(QIODevice::ReadOnly);
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    const double startTicks = fields.at(19).toDouble(); // field 22 of the line
    QFile uptime(QStringLiteral("/proc/uptime"));
    uptime.open(QIODevice::ReadOnly);
    const double upSeconds = uptime.readAll().split(' ').first().toDouble();
    return (upSeconds - startTicks / double(sysconf(_SC_CLK_TCK))) * 1000.0;
}

int child(int argc, char *argv[], const QString &dir)
{
    QElapsedTimer sinceMain;
    sinceMain.start();
    QApplication app(argc, argv);
    Startup startup(dir);
    if (startup.start() != Startup::Outcome::Running)
        return 1;
    QWindow *window = startup.mainWindow()->windowHandle();
    while (!window->isExposed())
        app.processEvents(QEventLoop::WaitForMoreEvents, 10);
    app.processEvents();
    QTextStream(stdout) << sinceMain.elapsed() << ' ' << msSinceProcessStart() << ' ' << residentKb("VmRSS:") << ' '
                        << residentKb("VmHWM:") << '\n';
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc >= 3 && qstrcmp(argv[1], "--child") == 0)
        return child(argc, argv, QString::fromLocal8Bit(argv[2]));
    if (argc < 2) {
        QTextStream(stderr) << "uso: bench-startup PASTA [VEZES]\n";
        return 2;
    }
    const int runs = argc > 2 ? atoi(argv[2]) : 10;
    QList<double> fromMain, fromExec, rss, peak;
    for (int i = 0; i < runs; ++i) {
        QProcess p;
        p.start(QString::fromLocal8Bit(argv[0]), { QStringLiteral("--child"), QString::fromLocal8Bit(argv[1]) });
        p.waitForFinished(60000);
        const QList<QByteArray> f = p.readAllStandardOutput().trimmed().split(' ');
        if (p.exitCode() != 0 || f.size() != 4) {
            QTextStream(stderr) << "falhou: " << p.readAllStandardError() << '\n';
            return 1;
        }
        fromMain << f.at(0).toDouble();
        fromExec << f.at(1).toDouble();
        rss << f.at(2).toDouble() / 1024.0;
        peak << f.at(3).toDouble() / 1024.0;
    }
    auto median = [](QList<double> v) {
        std::sort(v.begin(), v.end());
        return v.at(v.size() / 2);
    };
    QTextStream(stdout) << "runs " << runs << "\n"
                        << "start-up to window shown, median: " << median(fromExec) << " ms since exec ("
                        << median(fromMain) << " ms since main), max "
                        << *std::max_element(fromExec.begin(), fromExec.end()) << " ms\n"
                        << "resident at window shown, median: " << median(rss) << " MB (peak " << median(peak)
                        << " MB)\n";
    return 0;
}
