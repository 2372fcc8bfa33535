#include "core/app/ServerCheck.h"

#include "core/contacts/PostgresConnection.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <libpq-fe.h>

namespace {

PGconn *nativeHandle(const QSqlDriver *driver)
{
    const QVariant handle = driver ? driver->handle() : QVariant();
    if (!handle.isValid()
        || (qstrcmp(handle.typeName(), "pg_conn*") != 0 && qstrcmp(handle.typeName(), "PGconn*") != 0))
        return nullptr;
    return *static_cast<PGconn *const *>(handle.constData());
}

QString escaped(QString field)
{
    return field.replace(QLatin1Char('\\'), QLatin1String("\\\\")).replace(QLatin1Char(':'), QLatin1String("\\:"));
}

QList<QByteArray> fileLines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QList<QByteArray> lines = file.readAll().split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

bool writeLines(const QString &path, const QList<QByteArray> &lines)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    for (const QByteArray &line : lines)
        file.write(line + '\n');
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    return file.commit();
}

} // namespace

ServerCheck ServerCheck::run(const QString &server, const QString &password)
{
    ServerCheck check;
    const QString name = PostgresConnection::newName();
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
        QString error;
        if (!PostgresConnection::configure(db, server, &error)) {
            check.error = error;
        } else {
            if (!password.isEmpty())
                db.setPassword(password);
            if (!db.open()) {
                // A certificate not recognised is said as such: no address,
                // user or password would mend it.
                const QString why = PostgresConnection::connectFailureText(server);
                PostgresConnection::failure(&check.error,
                    why == PostgresConnection::CertificateRefused
                        ? why
                        : QStringLiteral("Não foi possível conectar ao servidor do cadastro: confira o endereço, o "
                                         "usuário e a senha."),
                    server, db.lastError().databaseText());
            } else {
                if (PGconn *conn = nativeHandle(db.driver())) {
                    const QString host = QString::fromUtf8(PQhost(conn));
                    // libpq matches a Unix socket's connection as "localhost".
                    check.host
                        = host.isEmpty() || host.startsWith(QLatin1Char('/')) ? QStringLiteral("localhost") : host;
                    check.port = QString::fromUtf8(PQport(conn));
                    check.database = QString::fromUtf8(PQdb(conn));
                    check.user = QString::fromUtf8(PQuser(conn));
                }
                QSqlQuery query(db);
                if (query.exec(
                        QStringLiteral("SELECT to_regclass('cada') IS NOT NULL AND to_regclass('a1') IS NOT NULL"))
                    && query.next())
                    check.hasRegister = query.value(0).toBool();
                if (check.hasRegister && query.exec(QStringLiteral("SELECT a1 FROM a1 LIMIT 1")) && query.next())
                    check.areaCode = query.value(0).toString().trimmed();
                check.ok = true;
                db.close();
            }
        }
    }
    QSqlDatabase::removeDatabase(name);
    return check;
}

QString ServerCheck::passwordFile()
{
    const QString file = qEnvironmentVariable("PGPASSFILE");
    return file.isEmpty() ? QDir::home().filePath(QStringLiteral(".pgpass")) : file;
}

QString ServerCheck::passwordLine(const QString &password) const
{
    return QStringList({ escaped(host), escaped(port), escaped(database), escaped(user), escaped(password) })
        .join(QLatin1Char(':'));
}

bool ServerCheck::addLine(const QString &line, bool *added, QString *error)
{
    *added = false;
    const QString path = passwordFile();
    QList<QByteArray> lines = fileLines(path);
    if (QFile::exists(path) && lines.contains(line.toUtf8())) {
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
        return true;
    }
    lines.append(line.toUtf8());
    if (!writeLines(path, lines)) {
        *error = QStringLiteral("Não foi possível gravar a senha em %1.").arg(path);
        return false;
    }
    *added = true;
    return true;
}

void ServerCheck::undoLine(const QString &line)
{
    const QString path = passwordFile();
    QList<QByteArray> lines = fileLines(path);
    lines.removeAll(line.toUtf8());
    if (lines.isEmpty())
        QFile::remove(path);
    else
        writeLines(path, lines);
}
