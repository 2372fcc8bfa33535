#include "contacts/SqlConnection.h"

#include <QAtomicInteger>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>

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

SqlConnection::SqlConnection(const QString &filePath, Mode mode)
    : m_name(QStringLiteral("zuna-%1").arg(++g_counter))
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
    db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=%1").arg(BusyTimeoutMs));
    db.setDatabaseName(uriFor(filePath, mode));
    if (mode == Mode::OpenExisting && !QFileInfo(filePath).isFile()) {
        m_error = QStringLiteral("o arquivo não existe");
        return;
    }
    if (!db.open()) {
        m_error = db.lastError().text();
        return;
    }
    // SQLite reads the file lazily: ask for the schema now so that a file that
    // is not a database is reported here rather than by a later statement.
    QSqlQuery probe(db);
    if (!probe.exec(QStringLiteral("SELECT count(*) FROM sqlite_master")))
        m_error = probe.lastError().text();
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

bool sqlFailure(QString *error, const QString &what, const QString &filePath, const QString &detail)
{
    if (error) {
        *error = QStringLiteral("%1\nArquivo: %2").arg(what, QFileInfo(filePath).absoluteFilePath());
        if (!detail.trimmed().isEmpty())
            *error += QStringLiteral("\nDetalhe: %1").arg(detail.trimmed());
    }
    return false;
}

bool runSqlScript(const QSqlDatabase &db, const QString &scriptPath, QString *detail)
{
    QFile file(scriptPath);
    if (!file.open(QIODevice::ReadOnly)) {
        *detail = file.errorString();
        return false;
    }
    const QStringList statements = QString::fromUtf8(file.readAll()).split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (const QString &statement : statements) {
        if (statement.trimmed().isEmpty())
            continue;
        QSqlQuery query(db);
        if (!query.exec(statement)) {
            *detail = query.lastError().text();
            return false;
        }
    }
    return true;
}
