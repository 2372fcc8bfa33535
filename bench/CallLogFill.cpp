#include "CallLogFill.h"

#include "BenchSupport.h"
#include "PostgresServer.h"

#include "core/contacts/CallFilter.h"
#include "core/contacts/PhoneNumber.h"
#include "core/contacts/SqlConnection.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QRandomGenerator>
#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>
#include <functional>
#include <vector>

using namespace Bench;

namespace CallsBench {

// --- 1. the calls

// A row of CHAMADAS as logCall writes it.
struct Row
{
    qint64 id;
    QDateTime when;
    QString kind, received, key, laidOut, callerName, source, line;
    qint64 cd;
    QString contactName, search;
};

Row rowOf(const CallLogData &data, qsizetype i)
{
    const Call &c = data.calls[size_t(i)];
    Row r { qint64(i) + 1, QDateTime::fromSecsSinceEpoch(c.when), {}, {}, {}, {}, {}, QStringLiteral("placa-de-som"),
        QStringLiteral("padrão"), 0, QString(QLatin1String("")), {} };
    switch (c.kind) {
    case Call::Contact:
    case Call::Unknown:
    case Call::UnknownNamed: {
        const Caller &who = c.kind == Call::Contact ? data.contacts[c.caller] : data.unknown[c.caller];
        r.kind = CallRecord::kindName(CallRecord::Kind::Number);
        r.received = who.key;
        r.key = who.key;
        r.laidOut = who.laidOut;
        if (c.kind == Call::Contact) {
            r.cd = who.cd;
            r.contactName = who.name;
        } else if (c.kind == Call::UnknownNamed) {
            // A line that sends names (NCID).
            r.callerName = data.contacts[c.name].name;
            r.source = QStringLiteral("ncid");
            r.line = QStringLiteral("localhost:3333");
        }
        break;
    }
    case Call::Withheld:
        r.kind = CallRecord::kindName(CallRecord::Kind::Withheld);
        r.laidOut = QStringLiteral("Número restrito");
        break;
    case Call::Unavailable:
        r.kind = CallRecord::kindName(CallRecord::Kind::Unavailable);
        r.laidOut = QStringLiteral("Número indisponível");
        break;
    }
    r.search = CallFilter::searchText(r.contactName, r.callerName, r.key);
    return r;
}

// Callers who call again and again come first: the lower a caller's place,
// the more often it is picked.
quint32 frequentFirst(QRandomGenerator &rng, size_t count)
{
    const double u = rng.generateDouble();
    return quint32(std::min<double>(double(count) - 1, u * u * double(count)));
}

CallLogData makeCalls(const QString &registerFile, const QString &areaCode, qsizetype count)
{
    CallLogData data;
    QRandomGenerator rng(20240917);
    SqlConnection conn(registerFile, SqlConnection::Mode::OpenExisting);
    if (!conn.isOpen())
        die(conn.errorText());
    {
        QSqlQuery query(conn.database());
        qint64 lastCode = 0;
        if (!query.exec(QStringLiteral("SELECT max(CD) FROM CADA")) || !query.next())
            die(query.lastError().text());
        lastCode = query.value(0).toLongLong();
        query.finish();
        // A tenth of the contacts call (some of them often), at most 100 000.
        const qint64 callers = std::clamp<qint64>(lastCode / 10, std::min<qint64>(lastCode, 100), 100000);
        query.prepare(QStringLiteral("SELECT A1, A4 FROM CADA WHERE CD = ?"));
        for (qint64 tries = 0; lastCode > 0 && qint64(data.contacts.size()) < callers && tries < callers * 4; ++tries) {
            const qint64 cd = 1 + qint64(rng.bounded(quint64(lastCode)));
            query.bindValue(0, cd);
            if (!query.exec())
                die(query.lastError().text());
            if (!query.next())
                continue;
            const QString name = query.value(0).toString();
            const PhoneNumber number = PhoneNumber::read(query.value(1).toString(), areaCode);
            if (name.isEmpty() || !number.isNumber() || number.key().isEmpty())
                continue;
            data.contacts.push_back({ cd, name, number.key(), number.layout() });
        }
    }
    if (data.contacts.empty())
        die(QStringLiteral("the register has no contact with a telephone to call from"));
    // Numbers not in the register: mobiles mostly, from the larger areas.
    static const char *const Areas[]
        = { "11", "11", "11", "21", "21", "31", "41", "51", "61", "71", "81", "85", "19", "27", "48", "62", "91" };
    for (int i = 0; i < 150000; ++i) {
        const QString area = QLatin1String(Areas[rng.bounded(int(std::size(Areas)))]);
        const QString subscriber = rng.bounded(10) < 7 ? QStringLiteral("9%1").arg(rng.bounded(60000000, 100000000))
                                                       : QString::number(rng.bounded(20000000, 60000000));
        const PhoneNumber number = PhoneNumber::read(area + subscriber, areaCode);
        data.unknown.push_back({ 0, {}, number.key(), number.layout() });
    }

    // When: any of the last 730 days, mostly in business hours, up to a
    // minute ago; nothing old enough to be removed at start-up.
    const QDateTime now = QDateTime::currentDateTime();
    const QDate today = now.date();
    std::vector<qint64> dayStarts(730);
    for (int d = 0; d < 730; ++d)
        dayStarts[size_t(d)] = QDateTime(today.addDays(-d), QTime(0, 0)).toSecsSinceEpoch();
    const qint64 latest = now.toSecsSinceEpoch() - 60;
    const qint64 earliest = now.addDays(-730).toSecsSinceEpoch() + 3600;
    data.calls.resize(size_t(count));
    for (Call &c : data.calls) {
        do {
            const int second = rng.bounded(100) < 90 ? 8 * 3600 + rng.bounded(11 * 3600) : rng.bounded(86400);
            c.when = dayStarts[size_t(rng.bounded(730))] + second;
        } while (c.when > latest || c.when < earliest);
        const int share = rng.bounded(1000);
        if (share < 600) {
            c.kind = Call::Contact;
            c.caller = frequentFirst(rng, data.contacts.size());
        } else if (share < 975) {
            c.kind = share < 600 + 20 ? Call::UnknownNamed : Call::Unknown;
            c.caller = frequentFirst(rng, data.unknown.size());
            c.name = quint32(rng.bounded(quint32(data.contacts.size())));
        } else {
            c.kind = share < 995 ? Call::Withheld : Call::Unavailable;
        }
    }
    std::sort(data.calls.begin(), data.calls.end(), [](const Call &a, const Call &b) { return a.when < b.when; });
    return data;
}

const QString SqliteColumns
    = QStringLiteral("ID, QUANDO, TIPO, RECEBIDO, CHAVE, NUMERO, NOME_LINHA, FONTE, LINHA, CD, NOME, BUSCA");

// The calls into the SQLite register, in one transaction.
void fillSqlite(const QString &registerFile, const CallLogData &data)
{
    SqlConnection conn(registerFile, SqlConnection::Mode::OpenExisting);
    if (!conn.isOpen())
        die(conn.errorText());
    QSqlDatabase db = conn.database();
    constexpr qsizetype Batch = 500;
    {
        QSqlQuery query(db);
        if (!query.exec(QStringLiteral("DELETE FROM CHAMADAS")))
            die(query.lastError().text());
    }
    if (!db.transaction())
        die(db.lastError().text());
    {
        QSqlQuery query(db);
        qsizetype prepared = 0;
        const qsizetype total = qsizetype(data.calls.size());
        for (qsizetype first = 0; first < total; first += Batch) {
            const qsizetype n = std::min(Batch, total - first);
            if (n != prepared) {
                QStringList values(n, QStringLiteral("(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
                if (!query.prepare(QStringLiteral("INSERT INTO CHAMADAS (%1) VALUES %2")
                                       .arg(SqliteColumns, values.join(QLatin1Char(',')))))
                    die(query.lastError().text());
                prepared = n;
            }
            int at = 0;
            for (qsizetype i = first; i < first + n; ++i) {
                const Row r = rowOf(data, i);
                query.bindValue(at++, r.id);
                query.bindValue(at++, r.when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
                for (const QString &text : { r.kind, r.received, r.key, r.laidOut, r.callerName, r.source, r.line })
                    query.bindValue(at++, text.isNull() ? QString(QLatin1String("")) : text);
                query.bindValue(at++, r.cd > 0 ? QVariant(r.cd) : QVariant(QMetaType(QMetaType::LongLong)));
                query.bindValue(at++, r.contactName);
                query.bindValue(at++, r.search);
            }
            if (!query.exec())
                die(query.lastError().text());
        }
    }
    if (!db.commit())
        die(db.lastError().text());
}

// psql on a database, `commands` given as -c, `input` written to its
// standard input; its output (both channels) returned. Fails the bench when
// psql fails.
QString psql(
    const QString &url, const QStringList &commands, const std::function<bool(QProcess &)> &input, bool oneTransaction)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PGCLIENTENCODING"), QStringLiteral("UTF8"));
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    QStringList arguments
        = { QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-v"), QStringLiteral("ON_ERROR_STOP=1") };
    if (oneTransaction)
        arguments << QStringLiteral("-1");
    arguments << QStringLiteral("-d") << url;
    for (const QString &command : commands)
        arguments << QStringLiteral("-c") << command;
    p.start(QStringLiteral("psql"), arguments);
    if (!p.waitForStarted(-1))
        die(QStringLiteral("psql: ") + p.errorString());
    QByteArray output;
    if (input && !input(p))
        die(QStringLiteral("psql: cannot write its input"));
    p.closeWriteChannel();
    while (!p.waitForFinished(100))
        output += p.readAll();
    output += p.readAll();
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        die(QStringLiteral("psql failed on %1: %2")
                .arg(commands.join(QLatin1String("; ")).left(300), QString::fromUtf8(output)));
    return QString::fromUtf8(output);
}

QString csvText(const QString &text)
{
    return QLatin1Char('"') + QString(text).replace(QLatin1Char('"'), QLatin1String("\"\"")) + QLatin1Char('"');
}

// The calls into the server's register: its indexes on the log dropped, the
// rows copied, the indexes made again, in one transaction.
void fillPostgres(const PostgresServer &server, const QString &url, const CallLogData &data)
{
    const QString filter
        = QStringLiteral("FROM pg_indexes WHERE tablename = 'chamadas' AND indexname <> 'chamadas_pkey'");
    QStringList names
        = server.value(url, QStringLiteral("SELECT string_agg(indexname, ',' ORDER BY indexname) ") + filter)
              .split(QLatin1Char(','));
    QStringList definitions
        = server.value(url, QStringLiteral("SELECT string_agg(indexdef, ';' ORDER BY indexname) ") + filter)
              .split(QLatin1Char(';'));
    names.removeAll(QString());
    definitions.removeAll(QString());
    QStringList commands
        = { QStringLiteral("SET LOCAL maintenance_work_mem = '256MB'"), QStringLiteral("DELETE FROM chamadas") };
    if (!names.isEmpty())
        commands << QStringLiteral("DROP INDEX %1").arg(names.join(QStringLiteral(", ")));
    commands << QStringLiteral("\\copy chamadas (id, quando, tipo, recebido, chave, numero, nome_linha, fonte, linha, "
                               "cd, nome, busca) from stdin with (format csv)");
    commands << definitions;
    commands << QStringLiteral("SELECT setval(pg_get_serial_sequence('chamadas', 'id'), %1)")
                    .arg(std::max<qsizetype>(1, qsizetype(data.calls.size())));
    psql(
        url, commands,
        [&](QProcess &p) {
            QByteArray chunk;
            for (qsizetype i = 0; i < qsizetype(data.calls.size()); ++i) {
                const Row r = rowOf(data, i);
                QStringList fields = { QString::number(r.id), r.when.toUTC().toString(Qt::ISODate) };
                for (const QString &text : { r.kind, r.received, r.key, r.laidOut, r.callerName, r.source, r.line })
                    fields << csvText(text);
                fields << (r.cd > 0 ? QString::number(r.cd) : QString()) << csvText(r.contactName) << csvText(r.search);
                chunk += fields.join(QLatin1Char(',')).toUtf8() + '\n';
                if (chunk.size() > (1 << 20)) {
                    if (p.write(chunk) != chunk.size())
                        return false;
                    chunk.clear();
                    while (p.bytesToWrite() > (4 << 20))
                        if (!p.waitForBytesWritten(-1))
                            return false;
                }
            }
            if (p.write(chunk) != chunk.size())
                return false;
            while (p.bytesToWrite() > 0)
                if (!p.waitForBytesWritten(-1))
                    return false;
            return true;
        },
        true);
}

} // namespace CallsBench
