#include "core/platform/DurableFile.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

bool syncPath(const QString &path, int flags, QString *error)
{
    const int fd = ::open(QFile::encodeName(path).constData(), flags | O_CLOEXEC);
    if (fd < 0 || ::fsync(fd) != 0) {
        if (error)
            *error = QString::fromLocal8Bit(std::strerror(errno));
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    return ::close(fd) == 0;
}

} // namespace

namespace DurableFile {

bool sync(const QString &path, QString *error)
{
    return syncPath(path, O_RDONLY, error);
}

bool syncFolder(const QString &dir, QString *error)
{
    return syncPath(dir, O_RDONLY | O_DIRECTORY, error);
}

bool replace(const QString &from, const QString &to, QString *error)
{
    if (!sync(from, error))
        return false;
    if (std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) != 0) {
        if (error)
            *error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    return syncFolder(QFileInfo(to).absolutePath(), error);
}

} // namespace DurableFile
