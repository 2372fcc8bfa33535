#include "contacts/PostgresConnection.h"

#include <QAtomicInteger>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QUrl>
#include <QUrlQuery>

namespace {

QAtomicInteger<quint64> g_counter;

// A value in libpq's key='value' form, so that spaces and quotes pass.
QString quoted(const QString &value)
{
    QString escaped = value;
    escaped.replace(QLatin1Char('\\'), QLatin1String("\\\\")).replace(QLatin1Char('\''), QLatin1String("\\'"));
    return QLatin1Char('\'') + escaped + QLatin1Char('\'');
}

bool isUri(const QUrl &url)
{
    return url.scheme() == QLatin1String("postgresql") || url.scheme() == QLatin1String("postgres");
}

} // namespace

PostgresConnection::PostgresConnection(const QString &server)
    : m_name(newName())
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), m_name);
    db.setConnectOptions(options(server));
    if (!db.open())
        m_error = db.lastError().text();
}

PostgresConnection::~PostgresConnection()
{
    {
        QSqlDatabase db = QSqlDatabase::database(m_name, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(m_name);
}

QString PostgresConnection::newName()
{
    return QStringLiteral("zuna-pg-%1").arg(++g_counter);
}

QString PostgresConnection::options(const QString &server)
{
    // A connection URI is taken apart into key=value options; "service=zuna"
    // and other key=value strings pass as they are.
    QStringList options;
    const QUrl url(server);
    if (isUri(url)) {
        if (!url.host().isEmpty())
            options << QStringLiteral("host=%1").arg(quoted(url.host()));
        if (url.port() > 0)
            options << QStringLiteral("port=%1").arg(url.port());
        if (!url.userName().isEmpty())
            options << QStringLiteral("user=%1").arg(quoted(url.userName()));
        if (!url.password().isEmpty())
            options << QStringLiteral("password=%1").arg(quoted(url.password()));
        const QString database = url.path().mid(1);
        if (!database.isEmpty())
            options << QStringLiteral("dbname=%1").arg(quoted(database));
        for (const auto &[key, value] : QUrlQuery(url).queryItems(QUrl::FullyDecoded))
            options << QStringLiteral("%1=%2").arg(key, quoted(value));
    } else {
        options = server.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    }
    options << QStringLiteral("connect_timeout=5") << QStringLiteral("application_name=zuna");
    return options.join(QLatin1Char(';'));
}

QString PostgresConnection::shown(const QString &server)
{
    const QUrl url(server);
    if (isUri(url))
        return url.toDisplayString(QUrl::RemovePassword);
    QStringList options = server.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    options.removeIf([](const QString &o) { return o.startsWith(QLatin1String("password=")); });
    return options.join(QLatin1Char(' '));
}

bool PostgresConnection::failure(QString *error, const QString &what, const QString &server, const QString &detail)
{
    if (error) {
        *error = QStringLiteral("%1\nServidor: %2").arg(what, shown(server));
        if (!detail.trimmed().isEmpty())
            *error += QStringLiteral("\nDetalhe: %1").arg(detail.trimmed());
    }
    return false;
}

bool PostgresConnection::lost(const QSqlQuery &query)
{
    const QSqlError e = query.lastError();
    const QString text = e.text().toLower();
    return e.type() == QSqlError::ConnectionError || text.contains(QLatin1String("connection"))
        || text.contains(QLatin1String("terminating")) || text.contains(QLatin1String("server closed"))
        || !query.driver() || !query.driver()->isOpen();
}
