#include "core/contacts/RegisterBackup.h"

#include "core/contacts/Register.h"
#include "core/contacts/SqliteContactWriter.h"
#include "core/contacts/SqliteRegister.h"

#include <QFile>
#include <QThread>

#include <sqlite3.h>

#include <algorithm>

namespace {

// Pages copied in one step at first: a few milliseconds of work, so that a
// save waits at most that long for the copy's read lock.
constexpr int FirstSlicePages = 1024;
// Restarts after which the rest is copied in one step: the saves then wait
// for the copy, which ends.
constexpr int MaxRestarts = 8;
constexpr int BusyRetryMs = 2;

QString sqliteText(sqlite3 *db)
{
    return QString::fromUtf8(sqlite3_errmsg(db));
}

bool failed(QString *error, const QString &what, const QString &detail)
{
    if (error) {
        *error = what;
        if (!detail.isEmpty())
            *error += QStringLiteral("\nDetalhe: %1").arg(detail);
    }
    return false;
}

// Opens an SQLite file with the system library; the handle is closed by the
// holder's destructor.
struct Handle
{
    sqlite3 *db = nullptr;
    ~Handle() { sqlite3_close_v2(db); }
    int open(const QString &path, int flags)
    {
        return sqlite3_open_v2(QFile::encodeName(path).constData(), &db, flags | SQLITE_OPEN_NOMUTEX, nullptr);
    }
};

} // namespace

bool RegisterBackup::copyFile(
    const QString &source, const QString &target, QString *error, const Progress &progress, Stats *stats, bool checked)
{
    const QString what = QStringLiteral("Não foi possível copiar o cadastro de contatos.");
    if (QFile::exists(target))
        return failed(error, what, QStringLiteral("o arquivo de destino já existe: %1").arg(target));
    bool copied = false;
    QString detail;
    {
        Handle from, to;
        // Read and write: a journal left by a program that stopped mid-write
        // is rolled back first, as any connection does.
        if (from.open(source, SQLITE_OPEN_READWRITE) != SQLITE_OK)
            return failed(error, what, sqliteText(from.db));
        if (to.open(target, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE) != SQLITE_OK) {
            detail = sqliteText(to.db);
        } else if (sqlite3_backup *backup = sqlite3_backup_init(to.db, "main", from.db, "main")) {
            int slice = FirstSlicePages, restarts = 0, rc = SQLITE_OK;
            int left = -1;
            do {
                const int asked = restarts >= MaxRestarts ? -1 : slice;
                rc = sqlite3_backup_step(backup, asked);
                const int remaining = sqlite3_backup_remaining(backup);
                const int total = sqlite3_backup_pagecount(backup);
                // More left than this step should have left: SQLite started over.
                const bool stepped = rc == SQLITE_OK || rc == SQLITE_DONE;
                const int expected = left < 0 || !stepped ? left : std::max(0, left - asked);
                if (left >= 0 && asked > 0 && remaining > expected) {
                    ++restarts;
                    slice *= 2;
                }
                left = remaining;
                if (progress)
                    progress(total - remaining, total);
                if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED)
                    QThread::msleep(BusyRetryMs);
            } while (rc == SQLITE_OK || rc == SQLITE_BUSY || rc == SQLITE_LOCKED);
            if (stats) {
                stats->restarts = restarts;
                stats->pages = sqlite3_backup_pagecount(backup);
            }
            sqlite3_backup_finish(backup);
            copied = rc == SQLITE_DONE;
            if (!copied)
                detail = QString::fromUtf8(sqlite3_errstr(rc));
        } else {
            detail = sqliteText(to.db);
        }
    }
    qint64 contacts = 0;
    if (copied && (!checked || check(target, &contacts, &detail)))
        return true;
    QFile::remove(target);
    QFile::remove(target + QStringLiteral("-journal"));
    return failed(error, what, detail);
}

bool RegisterBackup::check(const QString &path, qint64 *contacts, QString *error)
{
    Handle copy;
    if (copy.open(path, SQLITE_OPEN_READONLY) != SQLITE_OK)
        return failed(error, QStringLiteral("A cópia não pode ser aberta."), sqliteText(copy.db));
    sqlite3_stmt *statement = nullptr;
    QStringList problems;
    int rc = sqlite3_prepare_v2(copy.db, "PRAGMA integrity_check", -1, &statement, nullptr);
    while (rc == SQLITE_OK || rc == SQLITE_ROW) {
        if ((rc = sqlite3_step(statement)) != SQLITE_ROW)
            break;
        const auto text = reinterpret_cast<const char *>(sqlite3_column_text(statement, 0));
        if (qstrcmp(text, "ok") != 0 && problems.size() < 5)
            problems << QString::fromUtf8(text);
    }
    sqlite3_finalize(statement);
    if (rc != SQLITE_DONE || !problems.isEmpty())
        return failed(error, QStringLiteral("A cópia está danificada (não é um cadastro inteiro)."),
            problems.isEmpty() ? sqliteText(copy.db) : problems.join(QLatin1Char('\n')));
    rc = sqlite3_prepare_v2(copy.db, "SELECT count(*) FROM CADA", -1, &statement, nullptr);
    if (rc == SQLITE_OK && sqlite3_step(statement) == SQLITE_ROW)
        *contacts = sqlite3_column_int64(statement, 0);
    else
        rc = SQLITE_ERROR;
    const QString detail = sqliteText(copy.db);
    sqlite3_finalize(statement);
    if (rc != SQLITE_OK)
        return failed(
            error, QStringLiteral("A cópia não é um cadastro do Zuna (falta a tabela de contatos CADA)."), detail);
    return true;
}

bool RegisterBackup::copyRegister(Register &source, const QString &target, QString *error, const Progress &progress)
{
    qint64 total = 0;
    if (!source.count(&total, error) || !SqliteRegister::create(target, error))
        return false;
    bool ok = false;
    {
        // Contacts and calls in one transaction, codes and ids kept: the
        // calls name their contacts by code.
        SqliteContactWriter writer(target, SqliteContactWriter::Codes::Kept);
        qint64 copied = 0;
        QString writeError, areaCode;
        ok = writer.begin(error)
            && source.forEachContact(
                [&](const ContactRecord &r) {
                    if (!writer.add(r, &writeError))
                        return false;
                    if (++copied % 1000 == 0 && progress)
                        progress(copied, total);
                    return true;
                },
                error)
            && source.forEachCall(
                {}, [&](const CallRecord &c) { return writer.addCall(c, &writeError); }, error)
            && source.loadAreaCode(&areaCode, error) && writer.addAreaCode(areaCode, error) && writer.commit(error);
        if (!writeError.isEmpty() && error)
            *error = writeError;
    }
    if (ok)
        return true;
    QFile::remove(target);
    return false;
}
