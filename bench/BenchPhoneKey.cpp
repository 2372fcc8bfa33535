// bench-phonekey DIR: what the telephone key costs on the register of DIR
// (e.g. a million contacts made by zuna-generate).
// 1. Preparing a register made by an earlier version (no key columns, an
//    index on the telephone's text) the first time this version opens it:
//    the quick schema change at start-up, then the index built off the
//    window's thread, on a cold file where the system lets us drop its cache.
//    Beside it, the earlier version's own index on the text, built on the
//    same file: the peer.
// 2. The room the key takes in the file (its table and index) beside that
//    older index, which this version drops.
#include "contacts/ContactStore.h"
#include "contacts/SqlConnection.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTextStream>

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

qint64 indexBytes(const QString &path, const QString &index)
{
    SqlConnection conn(path);
    QSqlQuery q(conn.database());
    q.prepare(QStringLiteral("SELECT coalesce(sum(pgsize), 0) FROM dbstat WHERE name = ?"));
    q.addBindValue(index);
    return q.exec() && q.next() ? q.value(0).toLongLong() : -1;
}

// Drops the system's file cache, so that the next read comes from the disk.
QString coldCache()
{
    sync();
    QFile drop(QStringLiteral("/proc/sys/vm/drop_caches"));
    if (drop.open(QIODevice::WriteOnly) && drop.write("3\n") == 2)
        return QStringLiteral("cold file");
    return QStringLiteral("warm file (the system did not let the cache be dropped)");
}

double timed(const std::function<bool()> &step)
{
    QElapsedTimer t;
    t.start();
    if (!step())
        return -1;
    return t.nsecsElapsed() / 1e6;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        QTextStream(stderr) << "uso: bench-phonekey PASTA\n";
        return 2;
    }
    const QString source = QDir(QString::fromLocal8Bit(argv[1])).filePath(QStringLiteral("cada.sqlite"));
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("cada.sqlite"));
    if (!QFile::copy(source, path)) {
        out << "cannot copy " << source << '\n';
        return 1;
    }
    qint64 rows = 0;
    ContactStore(path).count(&rows, nullptr);
    const qint64 keyBytes
        = indexBytes(path, QStringLiteral("CADA_FONES")) + indexBytes(path, QStringLiteral("CADA_FONES_CHAVE"));

    // The register as an earlier version left it.
    for (const char *sql : { "DROP TRIGGER CADA_FONE_INSERIDO", "DROP TRIGGER CADA_FONE_ALTERADO",
             "DROP TRIGGER CADA_FONE_APAGADO", "DROP TABLE CADA_FONES", "VACUUM" }) {
        if (!run(path, QLatin1String(sql)))
            return 1;
    }
    out << rows << " contacts, " << QFileInfo(path).size() / 1e6 << " MB before the index on the text\n";

    QString cache = coldCache();
    const double textIndexMs = timed([&] { return run(path, QStringLiteral("CREATE INDEX CADA_A4 ON CADA (A4)")); });
    const qint64 textBytes = indexBytes(path, QStringLiteral("CADA_A4"));
    out << "peer: the earlier version's index on the text (CADA_A4): " << textIndexMs << " ms, " << textBytes / 1e6
        << " MB (" << cache << ")\n";

    cache = coldCache();
    QString error;
    const double upgradeMs = timed([&] { return ContactStore(path).upgrade(&error); });
    const double indexMs = timed([&] { return ContactStore(path).buildIndexes(&error); });
    if (upgradeMs < 0 || indexMs < 0) {
        out << "failed: " << error << '\n';
        return 1;
    }
    out << "prepare an earlier register (" << cache << "): schema at start-up " << upgradeMs
        << " ms, key index in the background " << indexMs << " ms\n";
    const qint64 tableBytes = indexBytes(path, QStringLiteral("CADA_FONES"));
    const qint64 indexBytesNow = indexBytes(path, QStringLiteral("CADA_FONES_CHAVE"));
    out << "room the key takes: table CADA_FONES " << tableBytes / 1e6 << " MB + index CADA_FONES_CHAVE "
        << indexBytesNow / 1e6 << " MB = " << (tableBytes + indexBytesNow) / 1e6
        << " MB (as zuna-generate made it, keyed row by row: " << keyBytes / 1e6 << " MB)\n";
    return 0;
}
