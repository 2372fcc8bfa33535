#include "core/contacts/SqliteAreaCode.h"

#include "core/contacts/SqlConnection.h"
#include "core/contacts/SqliteWriteTransaction.h"

#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace {

const QString AreaCodeSchema = QStringLiteral(":/data/schema-ddd.sql");
const QString AreaCodeOpenFailed = QStringLiteral("Não foi possível abrir o arquivo do DDD local.");

bool failAreaCode(QString *error, const QString &file, const QSqlQuery &query)
{
    QString what = QStringLiteral("Erro ao acessar o arquivo do DDD local.");
    if (query.lastError().text().contains(QLatin1String("no such table"), Qt::CaseInsensitive))
        what = QStringLiteral("O arquivo do DDD local não contém a tabela a1.");
    return sqlFailure(error, what, file, query.lastError().text());
}

} // namespace

bool SqliteAreaCode::create(const QString &filePath, QString *error)
{
    if (QFileInfo::exists(filePath))
        return sqlFailure(error, QStringLiteral("O arquivo do DDD local já existe."), filePath, {});
    QString detail;
    {
        SqlConnection conn(filePath, SqlConnection::Mode::Create);
        if (!conn.isOpen()) {
            detail = conn.errorText();
        } else {
            SqliteWriteTransaction tx(conn.database());
            if (!tx.begun() || !runSqlScript(conn.database(), AreaCodeSchema, &detail) || !tx.commit()) {
                if (detail.isEmpty())
                    detail = tx.query().lastError().text();
            }
        }
    }
    if (detail.isEmpty())
        return true;
    QFile::remove(filePath);
    return sqlFailure(error, QStringLiteral("Não foi possível criar o arquivo do DDD local."), filePath, detail);
}

bool SqliteAreaCode::load(const QString &filePath, int waitMs, QString *value, QString *error)
{
    SqlConnection conn(filePath, SqlConnection::Mode::OpenExisting, waitMs);
    if (!conn.isOpen())
        return sqlFailure(error, AreaCodeOpenFailed, filePath, conn.errorText());
    QSqlQuery query(conn.database());
    if (!query.exec(QStringLiteral("SELECT a1 FROM a1 ORDER BY rowid LIMIT 1")))
        return failAreaCode(error, filePath, query);
    if (!query.next())
        return sqlFailure(
            error, QStringLiteral("A tabela a1 do arquivo do DDD local não tem nenhuma linha."), filePath, {});
    if (query.value(0).isNull())
        return sqlFailure(
            error, QStringLiteral("O DDD local na primeira linha da tabela a1 está sem valor (NULL)."), filePath, {});
    *value = query.value(0).toString();
    return true;
}

bool SqliteAreaCode::store(const QString &filePath, int waitMs, const QString &value, QString *error)
{
    SqlConnection conn(filePath, SqlConnection::Mode::OpenExisting, waitMs);
    if (!conn.isOpen())
        return sqlFailure(error, AreaCodeOpenFailed, filePath, conn.errorText());
    QSqlQuery query(conn.database());
    if (!query.prepare(
            QStringLiteral("UPDATE a1 SET a1 = ? WHERE rowid = (SELECT rowid FROM a1 ORDER BY rowid LIMIT 1)")))
        return failAreaCode(error, filePath, query);
    query.addBindValue(value.isNull() ? QString(QLatin1String("")) : value);
    if (!query.exec())
        return failAreaCode(error, filePath, query);
    if (query.numRowsAffected() == 0)
        return sqlFailure(
            error, QStringLiteral("A tabela a1 do arquivo do DDD local não tem nenhuma linha."), filePath, {});
    return true;
}
