#include "core/platform/SingleInstance.h"

#include "core/platform/DataFiles.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSysInfo>

namespace {

// A lock whose content cannot be read is taken as stale once it is older than
// the moment another copy needs to write its name into a new one.
constexpr qint64 UnreadableAfterMs = 2000;

} // namespace

SingleInstance::SingleInstance(const QString &dataDir)
    : m_path(QDir(dataDir).filePath(DataFiles::Lock))
    , m_lock(m_path)
{
    // Age alone never makes a readable lock stale: a copy may run for weeks.
    // Only an owner that is not a live Zuna on this machine does (QLockFile
    // checks the process and its name).
    m_lock.setStaleLockTime(0);
}

SingleInstance::Result SingleInstance::tryAcquire(QString *error)
{
    const QFileInfo info(m_path);
    if (info.isDir()) {
        *error = QStringLiteral("O arquivo de trava do Zuna é uma pasta: %1\nApague essa pasta para que o Zuna possa "
                                "iniciar.")
                     .arg(m_path);
        return Result::Failed;
    }
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (m_lock.tryLock(0))
            return Result::Acquired;
        if (m_lock.error() != QLockFile::LockFailedError)
            break;
        qint64 pid = 0;
        QString host, app;
        const bool readable = m_lock.getLockInfo(&pid, &host, &app);
        const qint64 ageMs = QFileInfo(m_path).lastModified().msecsTo(QDateTime::currentDateTime());
        const bool otherMachine = readable && !host.isEmpty() && host != QSysInfo::machineHostName();
        if ((readable && !otherMachine) || (!readable && ageMs < UnreadableAfterMs))
            return Result::HeldByAnother;
        // Empty, garbled, or naming another machine (a folder copied from
        // elsewhere): no live copy here owns it.
        if (!m_lock.removeStaleLockFile() && !QFile::remove(m_path))
            break;
    }
    const QString why = m_lock.error() == QLockFile::PermissionError
        ? QStringLiteral("sem permissão para gravar na pasta de dados")
        : QStringLiteral("a pasta de dados não aceita o arquivo (disco cheio, pasta somente para leitura ou "
                         "arquivo de trava ilegível)");
    *error = QStringLiteral("Não foi possível criar o arquivo de trava do Zuna: %1\nMotivo: %2.").arg(m_path, why);
    return Result::Failed;
}
