#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

#include <functional>

// The copies a desk keeps of its register: gzip-compressed SQLite files named
// by the moment they were made, in a folder of their own (backups in the data
// folder, or the folder copias.ini names: a USB disk, a network folder).
// The last 7 daily, 4 weekly and 12 monthly copies are kept; the copy made
// before a restore is never removed by the rotation.
class BackupFolder
{
public:
    enum class Kind { Automatic, BeforeRestore };

    struct Copy
    {
        QString path;
        QDateTime made;
        Kind kind = Kind::Automatic;
    };

    using Progress = std::function<void(qint64 done, qint64 total)>;

    static constexpr int KeptDays = 7;
    static constexpr int KeptWeeks = 4;
    static constexpr int KeptMonths = 12;
    // copias.ini's key naming another folder for the copies.
    static const QString FolderKey;

    // The folder of the data folder's copies.
    static QString pathFor(const QString &dataDir);
    // The copies in `folder`, newest first.
    static QList<Copy> list(const QString &folder);
    // Of copies made at these moments, those the rotation lets go: all but
    // the newest of each of the last 7 days, 4 weeks and 12 months that have
    // a copy.
    static QList<QDateTime> expired(const QList<QDateTime> &made);
    // Whether the register has changed since the newest copy (or has none).
    static bool changedSinceNewest(const QString &dataDir);
    // Whether the daily copy is due at `now`: none made today, and the
    // register changed since the newest.
    static bool dailyCopyDue(const QString &dataDir, const QDateTime &now);

    // Copies the data folder's SQLite register into its folder of copies as
    // made at `now`, compressed, then lets the expired automatic copies go.
    // The register itself is only read. Nothing is started when the disk
    // would be left with less room than the register may need to grow.
    static bool makeCopy(const QString &dataDir, Kind kind, const QDateTime &now, QString *path, QString *error,
        const Progress &progress = {});
    // Removes the expired automatic copies of `folder`.
    static bool rotate(const QString &folder, QStringList *removed, QString *error);
};
