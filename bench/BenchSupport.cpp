#include "BenchSupport.h"

#include "core/platform/DataFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QUrl>

#include <algorithm>

namespace Bench {

QString ms(double value)
{
    return QString::number(value, 'f', value < 10 ? 2 : 1) + QStringLiteral(" ms");
}

double Figures::median() const
{
    QList<double> v = ms;
    std::sort(v.begin(), v.end());
    return v.isEmpty() ? 0 : v.at(v.size() / 2);
}

double Figures::max() const
{
    return ms.isEmpty() ? 0 : *std::max_element(ms.begin(), ms.end());
}

QString Figures::text() const
{
    if (ms.isEmpty())
        return QStringLiteral("none");
    return QStringLiteral("median %1, max %2").arg(Bench::ms(median()), Bench::ms(max()));
}

QString loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("unknown");
    return QString::fromLatin1(file.readAll()).section(QLatin1Char(' '), 0, 2);
}

bool runProgram(const QString &program, const QStringList &arguments, QString *output, QString *errors)
{
    QProcess p;
    p.start(program, arguments);
    if (!p.waitForStarted(-1)) {
        *errors = p.errorString();
        return false;
    }
    p.waitForFinished(-1);
    *output = QString::fromUtf8(p.readAllStandardOutput());
    *errors = QString::fromUtf8(p.readAllStandardError());
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

bool copyDataFolder(const QString &from, const QString &to, QString *error, const QStringList &leaveOut)
{
    if (!QDir().mkpath(to)) {
        *error = QStringLiteral("cannot make %1").arg(to);
        return false;
    }
    for (const QFileInfo &file : QDir(from).entryInfoList(QDir::Files | QDir::Hidden)) {
        if (file.fileName() == DataFiles::Lock || leaveOut.contains(file.fileName(), Qt::CaseInsensitive))
            continue;
        if (!QFile::copy(file.filePath(), QDir(to).filePath(file.fileName()))) {
            *error = QStringLiteral("cannot copy %1").arg(file.filePath());
            return false;
        }
    }
    return true;
}

QString databaseOf(const QString &url)
{
    return QUrl(url).path().mid(1);
}

} // namespace Bench
