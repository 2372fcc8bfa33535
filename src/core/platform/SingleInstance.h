#pragma once

#include <QLockFile>
#include <QString>

// One running copy per data folder. The lock names the owning process, so a
// lock left behind by a crash (or emptied or garbled by a power cut) is
// recognised as stale and taken over.
class SingleInstance
{
public:
    enum class Result {
        Acquired, // this copy now holds the folder
        HeldByAnother, // a live copy of Zuna holds it
        Failed, // the lock cannot be made: the folder or the lock is unusable
    };

    explicit SingleInstance(const QString &dataDir);

    // On Failed, `error` says in Portuguese which file and why.
    Result tryAcquire(QString *error);

    QString lockPath() const { return m_path; }

private:
    QString m_path;
    QLockFile m_lock;
};
