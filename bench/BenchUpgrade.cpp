// bench-upgrade DIR: a register made by an earlier version (a copy of DIR's,
// e.g. a million contacts made by zuna-generate, brought back to that shape)
// opened by this version for the first time.
// 1. The quick schema change at start-up (tables and triggers, the count).
// 2. The telephone keys and the trigram index brought in off the window's
//    thread, a slice of rows per transaction, on a cold file where the system
//    lets us drop its cache, while another connection saves a contact every
//    50 ms, as a desk would: how long those saves waited.
// 3. Beside it, the peer: the earlier version's own index on the telephone's
//    text, built on the same file.
// 4. The room each part takes in the file.
#include "core/contacts/SqlConnection.h"
#include "core/contacts/SqliteRegister.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <atomic>
#include <thread>

#include <unistd.h>

namespace {

QTextStream out(stdout);

bool run(const QString &path, const QString &sql)
{
    SqlConnection conn(path);
    QSqlQuery q(conn.database());
    if (!q.exec(sql)) {
        out << "failed: " << sql << ": " << q.lastError().text() << '\n';
        return false;
    }
    return true;
}

double megabytes(const QString &path, const QString &like)
{
    SqlConnection conn(path);
    QSqlQuery q(conn.database());
    q.prepare(QStringLiteral("SELECT coalesce(sum(pgsize), 0) FROM dbstat WHERE name LIKE ?"));
    q.addBindValue(like);
    return q.exec() && q.next() ? q.value(0).toLongLong() / 1e6 : -1;
}

// Drops the system's file cache, so that the next read comes from the disk.
QString coldCache()
{
    sync();
    QFile drop(QStringLiteral("/proc/sys/vm/drop_caches"));
    if (drop.open(QIODevice::WriteOnly) && drop.write("3\n") == 2)
        return QStringLiteral("cold file");
    return QStringLiteral("warm file: the system did not let the cache be dropped");
}

double msSince(const QElapsedTimer &t)
{
    return t.nsecsElapsed() / 1e6;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        QTextStream(stderr) << "uso: bench-upgrade PASTA\n";
        return 2;
    }
    const QString source = QDir(QString::fromLocal8Bit(argv[1])).filePath(QStringLiteral("cada.sqlite"));
    QTemporaryDir dir(QDir(QString::fromLocal8Bit(argv[1])).filePath(QStringLiteral("bench-upgrade-XXXXXX")));
    const QString path = dir.filePath(QStringLiteral("cada.sqlite"));
    if (!QFile::copy(source, path)) {
        out << "cannot copy " << source << '\n';
        return 1;
    }
    const double keysMb = megabytes(path, QStringLiteral("CADA_FONES%"));
    const double trigramsMb = megabytes(path, QStringLiteral("CADA_BUSCA%"));

    // The register as an earlier version left it.
    for (const char *sql : { "DROP TRIGGER IF EXISTS CADA_FONE_INSERIDO", "DROP TRIGGER IF EXISTS CADA_FONE_ALTERADO",
             "DROP TRIGGER IF EXISTS CADA_FONE_APAGADO", "DROP TABLE IF EXISTS CADA_FONES",
             "DROP TRIGGER IF EXISTS CADA_CONTA_INSERIDO", "DROP TRIGGER IF EXISTS CADA_CONTA_APAGADO",
             "DROP TABLE IF EXISTS CADA_CONTAGEM", "DROP TRIGGER IF EXISTS CADA_BUSCA_INSERIDO",
             "DROP TRIGGER IF EXISTS CADA_BUSCA_APAGADO", "DROP TRIGGER IF EXISTS CADA_BUSCA_ALTERADO",
             "DROP TABLE IF EXISTS CADA_BUSCA", "DROP TABLE IF EXISTS CADA_BUSCA_PREPARO", "VACUUM" }) {
        if (!run(path, QLatin1String(sql)))
            return 1;
    }
    qint64 rows = 0;
    {
        SqlConnection conn(path);
        QSqlQuery q(conn.database());
        if (q.exec(QStringLiteral("SELECT count(*) FROM CADA")) && q.next())
            rows = q.value(0).toLongLong();
    }
    out << rows << " contacts, " << QFileInfo(path).size() / 1e6 << " MB as an earlier version left them\n";

    QString cache = coldCache();
    QElapsedTimer t;
    t.start();
    if (!run(path, QStringLiteral("CREATE INDEX CADA_A4 ON CADA (A4)")))
        return 1;
    out << "peer: the earlier version's index on the telephone's text (CADA_A4): " << msSince(t) << " ms, "
        << megabytes(path, QStringLiteral("CADA_A4")) << " MB (" << cache << ")\n";

    cache = coldCache();
    QString error;
    t.restart();
    if (!SqliteRegister(path, {}).upgrade(&error)) {
        out << "failed: " << error << '\n';
        return 1;
    }
    out << "at start-up, on the window's thread: " << msSince(t) << " ms (" << cache << ")\n";

    // A desk saving while the register is brought up to date.
    std::atomic<bool> done { false };
    QList<double> waits;
    std::thread desk([&] {
        SqliteRegister store(path, {});
        ContactRecord r;
        r.a1 = QStringLiteral("Zuleica Bench");
        r.a4 = QStringLiteral("(11)3000-0000");
        while (!done) {
            QElapsedTimer w;
            w.start();
            qint64 code = 0;
            QString e;
            if (!store.insert(r, &code, &e)) {
                waits << -1;
                QTextStream(stderr) << "save failed after " << msSince(w) << " ms: " << e << '\n';
            } else
                waits << msSince(w);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });
    t.restart();
    const bool built = SqliteRegister(path, {}).buildIndexes(&error);
    const double buildMs = msSince(t);
    done = true;
    desk.join();
    if (!built) {
        out << "failed: " << error << '\n';
        return 1;
    }
    const qint64 failed = std::count(waits.cbegin(), waits.cend(), -1.0);
    out << "in the background: telephone keys, trigram index, indexes: " << buildMs << " ms; meanwhile " << waits.size()
        << " saves, the longest waited " << *std::max_element(waits.cbegin(), waits.cend()) << " ms, " << failed
        << " failed\n";
    out << "room: telephone keys " << megabytes(path, QStringLiteral("CADA_FONES%"))
        << " MB (as zuna-generate made them: " << keysMb << " MB), trigram index "
        << megabytes(path, QStringLiteral("CADA_BUSCA%")) << " MB (as made: " << trigramsMb << " MB), name index "
        << megabytes(path, QStringLiteral("CADA_NOME")) << " MB, the index on the text dropped; file "
        << QFileInfo(path).size() / 1e6 << " MB\n";
    return 0;
}
