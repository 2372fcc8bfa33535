#include "platform/SingleInstance.h"

#include <QDir>

SingleInstance::SingleInstance(const QString &dataDir)
    : m_lock(QDir(dataDir).filePath(QStringLiteral(".zuna.lock")))
{
    // Age alone never makes the lock stale: a copy may run for weeks. Only a
    // dead owner process does.
    m_lock.setStaleLockTime(0);
}

bool SingleInstance::tryAcquire()
{
    return m_lock.tryLock(0);
}
