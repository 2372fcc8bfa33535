// audit-access ZUNA MDB [SEED]: damaged copies of an Access register brought
// over as `zuna --init` does (child process, time limit), each counted as
// refused (a message, no register), exact (every row and cell as the intact
// file gives them) or wrong (a register that differs from it: data lost or
// changed without a word).
// The damage, seeded: truncations at every page boundary and inside pages,
// two pages swapped, a page zeroed, bytes changed in a page's header, bytes
// changed anywhere. Where the bytes of a stored value itself changed, a wrong
// result cannot be told from the file (Jet keeps no checksums): those are
// counted apart.
#include "core/contacts/AccessImport.h"
#include "core/contacts/SqlConnection.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QMap>
#include <QRandomGenerator>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QTextStream>

namespace {

constexpr int PageSize = 4096; // Jet 4
constexpr int TimeLimitMs = 20000;

using Rows = QMap<qint64, QStringList>;

Rows readRegister(const QString &path)
{
    Rows rows;
    SqlConnection conn(path);
    QSqlQuery q(conn.database());
    q.exec(QStringLiteral("SELECT CD, A1, A4, A9, A10, A11, A12, A13, A14, OB FROM CADA"));
    while (q.next()) {
        QStringList cells;
        for (int c = 1; c < 10; ++c)
            cells << (q.value(c).isNull() ? QStringLiteral("\\N") : q.value(c).toString());
        rows.insert(q.value(0).toLongLong(), cells);
    }
    return rows;
}

struct Variant
{
    QString kind;
    QByteArray bytes;
    bool valueBytesChanged = false; // the damage may have touched a stored value's own bytes
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    if (argc < 3) {
        QTextStream(stderr) << "uso: audit-access ZUNA ARQUIVO.MDB [SEMENTE]\n";
        return 2;
    }
    const QString zuna = QString::fromLocal8Bit(argv[1]);
    QFile source(QString::fromLocal8Bit(argv[2]));
    if (!source.open(QIODevice::ReadOnly))
        return 2;
    const QByteArray intact = source.readAll();
    QRandomGenerator rng(argc > 3 ? QByteArray(argv[3]).toUInt() : 1);
    QTemporaryDir dir;

    auto import = [&](const QByteArray &bytes, Rows *rows) {
        const QString mdb = dir.filePath(QStringLiteral("CADA.MDB"));
        const QString target = dir.filePath(QStringLiteral("cada.sqlite"));
        QFile::remove(target);
        QFile f(mdb);
        f.open(QIODevice::WriteOnly | QIODevice::Truncate);
        f.write(bytes);
        f.close();
        qint64 count = 0;
        QString error;
        const bool ok
            = AccessImport::importFile(zuna, AccessImport::Kind::Contacts, mdb, target, TimeLimitMs, &count, &error);
        if (ok)
            *rows = readRegister(target);
        return ok;
    };
    Rows expected;
    if (!import(intact, &expected)) {
        out << "the intact file does not import\n";
        return 1;
    }
    const int pages = int(intact.size() / PageSize);

    QList<Variant> variants;
    for (int p = 1; p < pages; ++p)
        variants.append({ QStringLiteral("truncated at a page boundary"), intact.left(p * PageSize) });
    for (int i = 0; i < 60; ++i)
        variants.append(
            { QStringLiteral("truncated inside a page"), intact.left(rng.bounded(PageSize, int(intact.size()))) });
    for (int i = 0; i < 60; ++i) {
        const int a = rng.bounded(1, pages), b = rng.bounded(1, pages);
        QByteArray v = intact;
        v.replace(a * PageSize, PageSize, intact.mid(b * PageSize, PageSize));
        v.replace(b * PageSize, PageSize, intact.mid(a * PageSize, PageSize));
        variants.append({ QStringLiteral("two pages swapped"), v });
    }
    for (int p = 1; p < pages; ++p) {
        QByteArray v = intact;
        v.replace(p * PageSize, PageSize, QByteArray(PageSize, '\0'));
        variants.append({ QStringLiteral("a page zeroed"), v });
    }
    for (int i = 0; i < 60; ++i) {
        QByteArray v = intact;
        const int at = rng.bounded(1, pages) * PageSize + rng.bounded(16);
        v[at] = char(rng.bounded(256));
        variants.append({ QStringLiteral("a page header changed"), v });
    }
    for (int i = 0; i < 60; ++i) {
        QByteArray v = intact;
        for (int n = 0; n < 4; ++n)
            v[rng.bounded(PageSize, int(v.size()))] = char(rng.bounded(256));
        variants.append({ QStringLiteral("bytes changed anywhere"), v, true });
    }

    struct Count
    {
        int refused = 0, exact = 0, wrong = 0;
    };
    QMap<QString, Count> counts;
    Count all;
    int wrongWhereValuesChanged = 0;
    for (const Variant &v : std::as_const(variants)) {
        Rows rows;
        Count &c = counts[v.kind];
        if (!import(v.bytes, &rows)) {
            ++c.refused;
            ++all.refused;
        } else if (rows == expected) {
            ++c.exact;
            ++all.exact;
        } else {
            ++c.wrong;
            ++all.wrong;
            if (qEnvironmentVariableIsSet("AUDIT_VERBOSE")) {
                out << "wrong: " << v.kind << " (" << v.bytes.size() << " bytes):";
                for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
                    const QStringList got = rows.value(it.key());
                    for (int c = 0; c < it->size(); ++c) {
                        if (got.value(c) != it->at(c))
                            out << " CD " << it.key() << " column " << c << " (" << it->at(c).size() << " -> "
                                << got.value(c).size() << " chars)";
                    }
                }
                out << " rows " << rows.size() << '\n';
            }
            if (v.valueBytesChanged)
                ++wrongWhereValuesChanged;
        }
    }
    out << variants.size() << " damaged copies of " << argv[2] << " (" << pages << " pages)\n";
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        out << "  " << it.key() << ": refused " << it->refused << ", exact " << it->exact << ", wrong " << it->wrong
            << '\n';
    out << "all: refused " << all.refused << ", exact " << all.exact << ", wrong " << all.wrong << " (of which "
        << wrongWhereValuesChanged << " where bytes may have changed inside a stored value)\n";
    return 0;
}
