#pragma once

#include <QLockFile>
#include <QString>

// One running copy per data folder. The lock names the owning process, so a
// lock left behind by a crash is recognised as stale and taken over.
class SingleInstance
{
public:
    explicit SingleInstance(const QString &dataDir);

    // True when this copy now holds the folder; false when another copy does.
    bool tryAcquire();

private:
    QLockFile m_lock;
};
