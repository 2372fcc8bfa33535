#include "CallLogFloors.h"

#include "BenchSupport.h"

#include "core/contacts/CallFilter.h"
#include "core/contacts/SqliteRegister.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>

#include "CallLogFill.h"
#include "core/contacts/SqliteSchema.h"
#include <algorithm>

using namespace Bench;

namespace CallsBench {

// --- 3. floors

// An SQL text literal.
QString sqlText(const QString &text)
{
    return QLatin1Char('\'') + QString(text).replace(QLatin1Char('\''), QLatin1String("''")) + QLatin1Char('\'');
}

// The statements the register runs for a filter, with literals for its
// values: the page, after the probe of how many calls hold the text when
// SQLite asks it (its answer, read here, decides the page's statement).
QStringList sqliteStatements(const State &state, const QSqlDatabase &db)
{
    QStringList statements, where;
    const CallFilter filter = state.filter();
    if (filter.since.isValid()) {
        const QString since = sqlText(filter.since.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
        where << QStringLiteral("QUANDO >= %1 AND ID >= (SELECT min(+ID) FROM CHAMADAS WHERE QUANDO >= %1)").arg(since);
    }
    if (filter.unknownOnly)
        where << QStringLiteral("CD IS NULL");
    const QString needle = CallFilter::needle(filter.text);
    if (!needle.isEmpty()) {
        where << QStringLiteral("instr(BUSCA, %1) > 0").arg(sqlText(needle));
        if (needle.size() >= 3) {
            const QString match = sqlText(SqliteRegister::trigramQuery(needle));
            const QString probe = QStringLiteral(
                "SELECT count(*) FROM (SELECT 1 FROM CHAMADAS_BUSCA WHERE CHAMADAS_BUSCA MATCH %1 LIMIT %2)")
                                      .arg(match)
                                      .arg(SqliteSchema::DenseMatches + 1);
            statements << probe;
            QSqlQuery query(db);
            if (!query.exec(probe) || !query.next())
                die(query.lastError().text());
            if (query.value(0).toInt() <= SqliteSchema::DenseMatches)
                where << QStringLiteral("ID IN (SELECT rowid FROM CHAMADAS_BUSCA WHERE CHAMADAS_BUSCA MATCH %1)")
                             .arg(match);
        }
    }
    QString page
        = QStringLiteral("SELECT ID, QUANDO, TIPO, RECEBIDO, CHAVE, NUMERO, NOME_LINHA, FONTE, LINHA, CD, NOME "
                         "FROM CHAMADAS");
    if (!where.isEmpty())
        page += QStringLiteral(" WHERE ") + where.join(QStringLiteral(" AND "));
    statements << page + QStringLiteral(" ORDER BY ID DESC LIMIT %1").arg(PageSize);
    return statements;
}

// As the PostgreSQL register writes the page's statement.
QString postgresStatement(const State &state)
{
    QStringList where;
    const CallFilter filter = state.filter();
    if (filter.since.isValid())
        where << QStringLiteral("quando >= to_timestamp(%1) AND id >= (SELECT min(id) FROM (SELECT id FROM chamadas "
                                "WHERE quando >= to_timestamp(%1) OFFSET 0) since)")
                     .arg(filter.since.toSecsSinceEpoch());
    if (filter.unknownOnly)
        where << QStringLiteral("cd IS NULL");
    const QString needle = CallFilter::needle(filter.text);
    if (!needle.isEmpty()) {
        QString like = needle;
        like.replace(QLatin1Char('\\'), QLatin1String("\\\\"))
            .replace(QLatin1Char('%'), QLatin1String("\\%"))
            .replace(QLatin1Char('_'), QLatin1String("\\_"));
        where << QStringLiteral("busca LIKE %1").arg(sqlText(QLatin1Char('%') + like + QLatin1Char('%')));
    }
    QString page = QStringLiteral("SELECT id, extract(epoch FROM quando)::bigint, tipo, recebido, chave, numero, "
                                  "nome_linha, fonte, linha, cd, nome FROM chamadas");
    if (!where.isEmpty())
        page += QStringLiteral(" WHERE ") + where.join(QStringLiteral(" AND "));
    return page + QStringLiteral(" ORDER BY id DESC LIMIT %1").arg(PageSize);
}

// Each state's statements run `runs` times by sqlite3 in one process; the
// time of one run of a state's statements, summed (sqlite3 tells whole
// milliseconds).
QList<Figures> bareSqlite(const QString &file, const QList<QStringList> &statements, int runs)
{
    QString script = QStringLiteral(".timer on\n.output /dev/null\n");
    for (const QStringList &s : statements) {
        for (int r = 0; r < runs; ++r)
            script += s.join(QStringLiteral(";\n")) + QStringLiteral(";\n");
    }
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral("sqlite3"), { QStringLiteral("-bail"), QStringLiteral("-readonly"), file });
    if (!p.waitForStarted(-1))
        die(QStringLiteral("sqlite3: ") + p.errorString());
    p.write(script.toUtf8());
    p.closeWriteChannel();
    p.waitForFinished(-1);
    const QString output = QString::fromUtf8(p.readAll());
    QList<double> times;
    const QRegularExpression timer(QStringLiteral("^Run Time: real ([0-9.]+)"), QRegularExpression::MultilineOption);
    for (auto m = timer.globalMatch(output); m.hasNext();)
        times << m.next().captured(1).toDouble() * 1000;
    QList<Figures> figures(statements.size());
    qsizetype at = 0;
    for (qsizetype i = 0; i < statements.size(); ++i) {
        for (int r = 0; r < runs; ++r) {
            double sum = 0;
            for (qsizetype k = 0; k < statements.at(i).size(); ++k)
                sum += at < times.size() ? times.at(at++) : 0;
            figures[i].ms << sum;
        }
    }
    if (times.size() != at)
        out << "  sqlite3 gave " << times.size() << " timings for " << at << " statements: " << output.left(500)
            << '\n';
    return figures;
}

QList<Figures> barePostgres(const QString &url, const QStringList &statements, int runs)
{
    // As zuna's own connections ask: no compiling to machine code, which the
    // server would otherwise do for a statement it thinks costly.
    QString script = QStringLiteral("SET jit = off;\n\\timing on\n\\o /dev/null\n");
    for (const QString &s : statements) {
        for (int r = 0; r < runs; ++r)
            script += s + QStringLiteral(";\n");
    }
    const QString output = psql(url, {}, [&](QProcess &p) {
        p.write(script.toUtf8());
        return p.waitForBytesWritten(-1) || p.bytesToWrite() == 0;
    });
    QList<double> times;
    const QRegularExpression timing(QStringLiteral("^Time: ([0-9.]+) ms"), QRegularExpression::MultilineOption);
    for (auto m = timing.globalMatch(output); m.hasNext();)
        times << m.next().captured(1).toDouble();
    QList<Figures> figures(statements.size());
    qsizetype at = 0;
    for (qsizetype i = 0; i < statements.size(); ++i) {
        for (int r = 0; r < runs && at < times.size(); ++r)
            figures[i].ms << times.at(at++);
    }
    if (times.size() != statements.size() * runs)
        out << "  psql gave " << times.size() << " timings for " << statements.size() * runs
            << " statements: " << output.left(500) << '\n';
    return figures;
}

QString indented(const QString &text, const QString &indent)
{
    QStringList lines = text.trimmed().split(QLatin1Char('\n'));
    for (QString &line : lines)
        line.prepend(indent);
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

// The plans the server logged for statements of the log that took long
// (auto_explain), each told once with how often and how long it took.
void loggedPlans(const QString &logFile, qint64 from, qint64 upTo)
{
    QFile file(logFile);
    if (!file.open(QIODevice::ReadOnly)) {
        out << "  the server's log " << logFile << " cannot be read\n";
        return;
    }
    // Qt prepares each statement under a name of its own.
    const QRegularExpression prepared(QStringLiteral("PREPARE qpsqlpstmt_\\w+ AS "));
    struct Logged
    {
        QString plan;
        Figures figures;
    };
    QList<Logged> plans;
    const QRegularExpression head(QStringLiteral("duration: ([0-9.]+) ms  plan:"));
    if (!file.seek(from)) {
        out << "  the server's log " << logFile << " is shorter than it was\n";
        return;
    }
    const QStringList lines = QString::fromUtf8(file.read(upTo - from)).split(QLatin1Char('\n'));
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const auto m = head.match(lines.at(i));
        if (!m.hasMatch())
            continue;
        QStringList plan;
        while (i + 1 < lines.size() && lines.at(i + 1).startsWith(QLatin1Char('\t')))
            plan << lines.at(++i).mid(1);
        const QString text = plan.join(QLatin1Char('\n')).replace(prepared, QString());
        if (!text.contains(QLatin1String("chamadas")))
            continue;
        auto found = std::find_if(plans.begin(), plans.end(), [&](const Logged &l) { return l.plan == text; });
        if (found == plans.end()) {
            plans.append({ text, {} });
            found = plans.end() - 1;
        }
        found->figures.ms << m.captured(1).toDouble();
    }
    if (plans.isEmpty()) {
        out << "  none of the window's statements on the log took that long\n";
        return;
    }
    for (const Logged &l : std::as_const(plans)) {
        out << "  " << l.figures.ms.size() << " times, " << l.figures.text() << ":\n" << indented(l.plan);
    }
}

} // namespace CallsBench
