#include "core/platform/DataFolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace DataFolder {

QString locate(const QString &explicitDir)
{
    if (!explicitDir.isEmpty())
        return QDir(explicitDir).absolutePath();
    const QString exeDir = QCoreApplication::applicationDirPath();
    if (!findFile(exeDir, QStringLiteral("site.txt")).isEmpty())
        return exeDir;
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
}

QString findFile(const QString &dir, const QString &name)
{
    const QDir d(dir);
    if (QFileInfo::exists(d.filePath(name)))
        return d.filePath(name);
    const QStringList entries = d.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        if (entry.compare(name, Qt::CaseInsensitive) == 0)
            return d.filePath(entry);
    }
    return {};
}

QString pathFor(const QString &dir, const QString &name)
{
    const QString found = findFile(dir, name);
    return found.isEmpty() ? QDir(dir).filePath(name) : found;
}

bool makePrivate(const QString &path)
{
    const QFileInfo info(path);
    QFile::Permissions owner = QFile::ReadOwner | QFile::WriteOwner;
    if (info.isDir())
        owner |= QFile::ExeOwner;
    return QFile::setPermissions(path, owner);
}

QStringList readableByOthers(const QStringList &paths)
{
    QStringList exposed;
    const QFile::Permissions others = QFile::ReadGroup | QFile::ReadOther | QFile::ExeGroup | QFile::ExeOther;
    for (const QString &path : paths) {
        const QFileInfo info(path);
        if (info.exists() && (info.permissions() & others))
            exposed << path;
    }
    return exposed;
}

} // namespace DataFolder
