// bench-import ZUNA MDB [REPEAT]: how fast an Access register is brought over.
// 1. The real import of MDB through the child process, as `zuna --init` does.
// 2. The per-row rate of the same reading and writing, with the table of MDB
//    read REPEAT times over into one transaction (no Access file with 100,000
//    rows can be written on this platform, so a small real file is read again).
#include "core/contacts/AccessImport.h"
#include "core/contacts/AccessReader.h"
#include "core/contacts/SqlConnection.h"
#include "core/contacts/SqliteRegister.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    if (argc < 3) {
        QTextStream(stderr) << "uso: bench-import ZUNA ARQUIVO.MDB [VEZES]\n";
        return 2;
    }
    const QString zuna = QString::fromLocal8Bit(argv[1]);
    const QString mdb = QString::fromLocal8Bit(argv[2]);
    const int repeat = argc > 3 ? atoi(argv[3]) : 10000;
    QTemporaryDir dir;

    QElapsedTimer timer;
    timer.start();
    qint64 rows = 0;
    QString error;
    if (!AccessImport::importFile(zuna, AccessImport::Kind::Contacts, mdb, dir.filePath(QStringLiteral("cada.sqlite")),
            AccessImport::DefaultTimeoutMs, &rows, &error)) {
        QTextStream(stderr) << error << '\n';
        return 1;
    }
    out << "import through the child process: " << rows << " rows in " << timer.elapsed() << " ms\n";

    const QString target = dir.filePath(QStringLiteral("repeat.sqlite"));
    if (!SqliteRegister::create(target, &error)) {
        QTextStream(stderr) << error << '\n';
        return 1;
    }
    AccessReader reader;
    if (!reader.open(mdb, &error) || !reader.openTable(QStringLiteral("CADA"), &error)) {
        QTextStream(stderr) << error << '\n';
        return 1;
    }
    const QStringList columns = { "A1", "A4", "A9", "A10", "A11", "A12", "A13", "A14", "OB" };
    const auto bound = reader.bind(columns);
    timer.restart();
    qint64 written = 0;
    {
        SqlConnection conn(target);
        QSqlQuery q(conn.database());
        q.exec(QStringLiteral("BEGIN"));
        q.prepare(QStringLiteral(
            "INSERT INTO CADA (A1, A4, A9, A10, A11, A12, A13, A14, OB) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)"));
        for (int i = 0; i < repeat; ++i) {
            reader.rewind();
            while (reader.next(bound)) {
                for (const auto &b : bound)
                    q.addBindValue(b->isNull ? QVariant() : QVariant(QString::fromUtf8(b->buffer.data(), b->length)));
                q.exec();
                ++written;
            }
        }
        q.exec(QStringLiteral("COMMIT"));
    }
    const double seconds = timer.nsecsElapsed() / 1e9;
    out << "read and written " << written << " rows in " << seconds << " s: " << qint64(written / seconds)
        << " rows/s (100,000 rows in " << 100000.0 / (written / seconds) << " s)\n";
    return 0;
}
