#include "core/contacts/SqlConnection.h"

#include <QAtomicInteger>
#include <QFile>
#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <QUrl>

#include <sqlite3.h>

#include <algorithm>

namespace {
QAtomicInteger<quint64> g_counter;

QString uriFor(const QString &filePath, SqlConnection::Mode mode)
{
    // A URI lets SQLite refuse to create a missing file (mode=rw).
    QString uri = QUrl::fromLocalFile(QFileInfo(filePath).absoluteFilePath()).toString(QUrl::FullyEncoded);
    uri += mode == SqlConnection::Mode::Create ? QStringLiteral("?mode=rwc") : QStringLiteral("?mode=rw");
    return uri;
}
} // namespace

SqlConnection::SqlConnection(const QString &filePath, Mode mode, int busyTimeoutMs)
    : m_name(QStringLiteral("zuna-%1").arg(++g_counter))
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
    db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=%1").arg(busyTimeoutMs));
    db.setDatabaseName(uriFor(filePath, mode));
    if (mode == Mode::OpenExisting && !QFileInfo(filePath).isFile()) {
        m_error = QStringLiteral("o arquivo não existe");
        m_problem = RegisterProblem::CantOpen;
        return;
    }
    if (!db.open()) {
        m_error = db.lastError().text();
        m_problem = sqliteProblem(db.lastError().nativeErrorCode());
        return;
    }
    waitFinely(busyTimeoutMs);
    // SQLite reads the file lazily: ask for the schema now so that a file that
    // is not a database is reported here rather than by a later statement.
    QSqlQuery probe(db);
    if (!probe.exec(QStringLiteral("SELECT count(*) FROM sqlite_master"))) {
        m_error = probe.lastError().text();
        m_problem = sqliteProblem(probe.lastError().nativeErrorCode());
    }
}

SqlConnection::~SqlConnection()
{
    {
        QSqlDatabase db = QSqlDatabase::database(m_name, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(m_name);
}

QSqlDatabase SqlConnection::database() const
{
    return QSqlDatabase::database(m_name, false);
}

void SqlConnection::waitFinely(int busyTimeoutMs)
{
    // SQLite's own waiting sleeps 1, 2, 5, 10 ms and longer between tries, so
    // a read that meets another connection's commit of a millisecond or two
    // waits ten. The register's commits are short: try every quarter of a
    // millisecond for the first 10 ms, then every 2 ms, up to the same limit.
    if (busyTimeoutMs <= 0)
        return;
    sqlite3 *db = nativeHandle();
    if (!db)
        return; // Qt's own waiting stays
    m_busyTimeoutMs = busyTimeoutMs;
    sqlite3_busy_handler(
        db,
        [](void *self, int tries) {
            constexpr int QuickTries = 40;
            const double waitedMs = 0.25 * std::min(tries, QuickTries) + 2.0 * std::max(0, tries - QuickTries);
            if (waitedMs >= static_cast<SqlConnection *>(self)->m_busyTimeoutMs)
                return 0;
            QThread::usleep(tries < QuickTries ? 250 : 2000);
            return 1;
        },
        this);
}

sqlite3 *SqlConnection::nativeHandle() const
{
    // Qt's SQLite driver hands out the library's own handle; Debian builds it
    // against the system library this program links too.
    const QVariant handle = database().driver()->handle();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
        return nullptr;
    return *static_cast<sqlite3 *const *>(handle.constData());
}

bool SqlConnection::setInterruptCheck(std::function<bool()> shouldStop)
{
    sqlite3 *db = nativeHandle();
    if (!db)
        return false;
    m_shouldStop = std::move(shouldStop);
    if (!m_shouldStop) {
        sqlite3_progress_handler(db, 0, nullptr, nullptr);
        return true;
    }
    sqlite3_progress_handler(
        db, 4000, [](void *self) { return static_cast<SqlConnection *>(self)->m_shouldStop() ? 1 : 0; }, this);
    return true;
}

bool sqlFailure(QString *error, const QString &what, const QString &filePath, const QString &detail)
{
    if (error) {
        *error = QStringLiteral("%1\nArquivo: %2").arg(what, QFileInfo(filePath).absoluteFilePath());
        if (!detail.trimmed().isEmpty())
            *error += QStringLiteral("\nDetalhe: %1").arg(detail.trimmed());
    }
    return false;
}

namespace {

QString withoutComments(const QString &sql)
{
    QStringList lines = sql.split(QLatin1Char('\n'));
    for (QString &line : lines) {
        const qsizetype dash = line.indexOf(QLatin1String("--"));
        if (dash >= 0)
            line.truncate(dash);
    }
    return lines.join(QLatin1Char('\n'));
}

// The statements of a script, comments left out: split at semicolons, but
// for those quoted ('...', or a PostgreSQL body $$...$$) and those inside the
// body of an SQLite trigger, which ends at its END.
QStringList statementsOf(const QString &script)
{
    const QString text = withoutComments(script);
    QStringList statements;
    QString current;
    bool inQuote = false, inDollars = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (!inQuote && c == u'$' && i + 1 < text.size() && text.at(i + 1) == u'$') {
            inDollars = !inDollars;
            current += QStringLiteral("$$");
            ++i;
            continue;
        }
        if (!inDollars && c == u'\'')
            inQuote = !inQuote;
        if (c != u';' || inQuote || inDollars) {
            current += c;
            continue;
        }
        const QString code = current.trimmed();
        if (code.startsWith(QLatin1String("CREATE TRIGGER"), Qt::CaseInsensitive)
            && code.contains(QLatin1String("BEGIN"), Qt::CaseInsensitive)
            && !code.endsWith(QLatin1String("END"), Qt::CaseInsensitive)) {
            current += c;
            continue;
        }
        if (!code.isEmpty())
            statements << code;
        current.clear();
    }
    if (!current.trimmed().isEmpty())
        statements << current.trimmed();
    return statements;
}

} // namespace

RegisterProblem sqliteProblem(const QString &nativeCode)
{
    bool ok = false;
    const int code = nativeCode.toInt(&ok);
    if (!ok)
        return RegisterProblem::Other;
    // An extended code keeps its primary code in the low byte.
    switch (code & 0xff) {
    case SQLITE_OK: return RegisterProblem::None;
    case SQLITE_BUSY:
    case SQLITE_LOCKED: return RegisterProblem::Busy;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH: return RegisterProblem::ReadOnly;
    case SQLITE_IOERR: return RegisterProblem::DiskError;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB: return RegisterProblem::Damaged;
    case SQLITE_FULL: return RegisterProblem::DiskFull;
    case SQLITE_CANTOPEN: return RegisterProblem::CantOpen;
    case SQLITE_INTERRUPT: return RegisterProblem::Slow;
    default: return RegisterProblem::Other;
    }
}

QString sqliteProblemText(RegisterProblem problem)
{
    switch (problem) {
    case RegisterProblem::Busy:
        return QStringLiteral("O cadastro está ocupado por outro programa; tente de novo em instantes.");
    case RegisterProblem::ReadOnly:
        return QStringLiteral("O cadastro de contatos está protegido contra gravação (somente leitura).");
    case RegisterProblem::DiskError:
        return QStringLiteral("Erro de leitura ou gravação no disco do cadastro de contatos.");
    case RegisterProblem::Damaged:
        return QStringLiteral("O arquivo do cadastro de contatos está danificado ou não é um cadastro do Zuna.");
    case RegisterProblem::DiskFull: return QStringLiteral("Não há espaço no disco para gravar o cadastro de contatos.");
    case RegisterProblem::CantOpen: return QStringLiteral("O arquivo do cadastro de contatos não pôde ser aberto.");
    default: return {};
    }
}

bool runSqlScript(const QSqlDatabase &db, const QString &scriptPath, QString *detail)
{
    QFile file(scriptPath);
    if (!file.open(QIODevice::ReadOnly)) {
        *detail = file.errorString();
        return false;
    }
    return runSqlText(db, QString::fromUtf8(file.readAll()), detail);
}

bool runSqlText(const QSqlDatabase &db, const QString &script, QString *detail)
{
    for (const QString &statement : statementsOf(script)) {
        QSqlQuery query(db);
        if (!query.exec(statement)) {
            *detail = query.lastError().text();
            return false;
        }
    }
    return true;
}
