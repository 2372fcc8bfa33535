#include "core/contacts/BackupFolder.h"

#include "core/contacts/RegisterBackup.h"
#include "core/platform/DataFiles.h"
#include "core/platform/DataFolder.h"
#include "core/platform/DurableFile.h"
#include "core/platform/GzipFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <QSettings>
#include <QStorageInfo>

#include <algorithm>

const QString BackupFolder::FolderKey = QStringLiteral("pasta");

namespace {

const QString TimeFormat = QStringLiteral("yyyy-MM-dd-HHmmss");
const QString BeforeRestoreTag = QStringLiteral("-antes-de-restaurar");
const QString Suffix = QStringLiteral(".sqlite.gz");
// Room left on the disk beside what a copy takes, for the register's own
// journal and growth when the copies share its disk.
constexpr qint64 ReserveBytes = 64LL << 20;

QString nameFor(const QDateTime &made, BackupFolder::Kind kind)
{
    return QStringLiteral("cada-%1%2%3")
        .arg(made.toString(TimeFormat), kind == BackupFolder::Kind::BeforeRestore ? BeforeRestoreTag : QString(),
            Suffix);
}

bool fail(QString *error, const QString &text)
{
    if (error)
        *error = text;
    return false;
}

// Parts left by a copy that was stopped (a kill, a power cut) a while ago.
void removeOldParts(const QDir &dir, const QDateTime &now)
{
    for (const QFileInfo &part : dir.entryInfoList({ QStringLiteral(".*.part") }, QDir::Files | QDir::Hidden)) {
        if (part.lastModified().secsTo(now) > 24 * 3600)
            QFile::remove(part.absoluteFilePath());
    }
}

} // namespace

QString BackupFolder::pathFor(const QString &dataDir)
{
    const QString ini = DataFolder::findFile(dataDir, DataFiles::BackupSettings);
    if (!ini.isEmpty()) {
        const QString configured = QSettings(ini, QSettings::IniFormat).value(FolderKey).toString().trimmed();
        if (!configured.isEmpty())
            return QDir(dataDir).absoluteFilePath(configured);
    }
    return QDir(dataDir).filePath(DataFiles::Backups);
}

QList<BackupFolder::Copy> BackupFolder::list(const QString &folder)
{
    static const QRegularExpression name(
        QStringLiteral("^cada-(\\d{4}-\\d\\d-\\d\\d-\\d{6})(%1)?%2$")
            .arg(QRegularExpression::escape(BeforeRestoreTag), QRegularExpression::escape(Suffix)));
    QList<Copy> copies;
    for (const QString &entry : QDir(folder).entryList(QDir::Files)) {
        const QRegularExpressionMatch m = name.match(entry);
        if (!m.hasMatch())
            continue;
        const QDateTime made = QDateTime::fromString(m.captured(1), TimeFormat);
        if (made.isValid())
            copies.append({ QDir(folder).filePath(entry), made,
                m.capturedLength(2) > 0 ? Kind::BeforeRestore : Kind::Automatic });
    }
    std::sort(copies.begin(), copies.end(), [](const Copy &a, const Copy &b) { return a.made > b.made; });
    return copies;
}

QList<QDateTime> BackupFolder::expired(const QList<QDateTime> &made)
{
    QList<QDateTime> newestFirst = made;
    std::sort(newestFirst.begin(), newestFirst.end(), std::greater<>());
    struct Period
    {
        int kept;
        std::function<qint64(const QDate &)> of;
    };
    const Period periods[] = {
        { KeptDays, [](const QDate &d) { return d.toJulianDay(); } },
        { KeptWeeks,
            [](const QDate &d) {
                int year = 0;
                const int week = d.weekNumber(&year);
                return qint64(year) * 100 + week;
            } },
        { KeptMonths, [](const QDate &d) { return qint64(d.year()) * 100 + d.month(); } },
    };
    QSet<QDateTime> kept;
    for (const Period &p : periods) {
        QSet<qint64> seen;
        for (const QDateTime &t : std::as_const(newestFirst)) {
            const qint64 period = p.of(t.date());
            if (seen.contains(period))
                continue;
            if (seen.size() == p.kept)
                break;
            seen.insert(period);
            kept.insert(t);
        }
    }
    QList<QDateTime> gone;
    for (const QDateTime &t : std::as_const(newestFirst)) {
        if (!kept.contains(t))
            gone << t;
    }
    return gone;
}

bool BackupFolder::changedSinceNewest(const QString &dataDir)
{
    const QList<Copy> copies = list(pathFor(dataDir));
    if (copies.isEmpty())
        return true;
    const QFileInfo reg(DataFolder::pathFor(dataDir, DataFiles::Contacts));
    return reg.lastModified() >= copies.first().made;
}

bool BackupFolder::dailyCopyDue(const QString &dataDir, const QDateTime &now)
{
    const QList<Copy> copies = list(pathFor(dataDir));
    if (!copies.isEmpty() && copies.first().made.date() >= now.date())
        return false;
    return changedSinceNewest(dataDir);
}

bool BackupFolder::makeCopy(
    const QString &dataDir, Kind kind, const QDateTime &now, QString *path, QString *error, const Progress &progress)
{
    const QString failed = QStringLiteral("A cópia de segurança do cadastro não foi feita.");
    const QString source = DataFolder::findFile(dataDir, DataFiles::Contacts);
    if (source.isEmpty())
        return fail(error, QStringLiteral("%1\nNão há cadastro em %2.").arg(failed, dataDir));
    const QString folder = pathFor(dataDir);
    const bool created = !QFileInfo::exists(folder);
    if (!QDir().mkpath(folder) || (created && !DataFolder::makePrivate(folder)))
        return fail(error, QStringLiteral("%1\nNão foi possível criar a pasta de cópias %2.").arg(failed, folder));
    const QDir dir(folder);
    removeOldParts(dir, now);
    const QString target = dir.filePath(nameFor(now, kind));
    if (QFileInfo::exists(target))
        return fail(error, QStringLiteral("%1\nJá existe uma cópia deste momento: %2").arg(failed, target));

    // The plain copy and the compressed one, each at most the register's size.
    const qint64 size = QFileInfo(source).size();
    QStorageInfo disk(folder);
    disk.refresh();
    if (disk.bytesAvailable() < 2 * size + ReserveBytes)
        return fail(error,
            QStringLiteral("%1\nNão há espaço no disco da pasta de cópias %2: são precisos %3 MB, há %4 MB livres.")
                .arg(failed, folder)
                .arg((2 * size + ReserveBytes) >> 20)
                .arg(disk.bytesAvailable() >> 20));

    const QString tag = QStringLiteral("%1.%2").arg(now.toString(TimeFormat)).arg(QCoreApplication::applicationPid());
    const QString plain = dir.filePath(QStringLiteral(".cada-%1.sqlite.part").arg(tag));
    const QString packed = dir.filePath(QStringLiteral(".cada-%1.gz.part").arg(tag));
    QString detail;
    // The register about to be replaced by a restore is kept whatever its
    // state: unchecked, and byte for byte when SQLite cannot read it at all
    // (the very reason for restoring).
    const bool beforeRestore = kind == Kind::BeforeRestore;
    bool copied = RegisterBackup::copyFile(
        source, plain, &detail,
        [&](qint64 done, qint64 total) {
            if (progress)
                progress(done, 2 * total);
        },
        nullptr, !beforeRestore);
    const QString packedFrom = copied ? plain : source;
    if (!copied && beforeRestore)
        copied = true;
    const bool ok = copied
        && GzipFile::compress(packedFrom, packed, &detail,
            [&](qint64 done) {
                if (progress)
                    progress(size + done, 2 * size);
            })
        && DataFolder::makePrivate(packed) && DurableFile::replace(packed, target, &detail);
    QFile::remove(plain);
    QFile::remove(plain + QStringLiteral("-journal"));
    if (!ok) {
        QFile::remove(packed);
        return fail(error, QStringLiteral("%1\nPasta: %2\nDetalhe: %3").arg(failed, folder, detail));
    }
    if (path)
        *path = target;
    return kind != Kind::Automatic || rotate(folder, nullptr, error);
}

bool BackupFolder::rotate(const QString &folder, QStringList *removed, QString *error)
{
    QList<QDateTime> automatic;
    const QList<Copy> copies = list(folder);
    for (const Copy &c : copies) {
        if (c.kind == Kind::Automatic)
            automatic << c.made;
    }
    const QList<QDateTime> gone = expired(automatic);
    for (const Copy &c : copies) {
        if (c.kind != Kind::Automatic || !gone.contains(c.made))
            continue;
        if (!QFile::remove(c.path))
            return fail(error, QStringLiteral("Não foi possível apagar a cópia antiga %1.").arg(c.path));
        if (removed)
            removed->append(c.path);
    }
    return true;
}
